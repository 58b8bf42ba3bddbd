#include "integrations/Monitoring.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <memory>

#include "calls/CallEnd.h"
#include "calls/DialRules.h"
#include "calls/Dialing.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "integrations/DdeBus.h"
#include "integrations/MonitorRules.h"
#include "media/Recording.h"
#include "phone/EngineErrors.h"
#include "platform/Blanks.h"
#include "platform/Delay.h"
#include "settings/ListFile.h"
#include "ui_MainForm.h"
#include "window/WindowContext.h"

namespace corvid {

namespace {
const QString AgentListFile = QStringLiteral("agentlist.txt");
}

Monitoring::Monitoring(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->MonList, &QListWidget::itemDoubleClicked, this, &Monitoring::onMonListItemDoubleClicked);
    connect(ui->DDEListen, &QPushButton::clicked, this, &Monitoring::onDDEListenClicked);
    connect(ui->DDECorvid, &QPushButton::clicked, this, &Monitoring::onDDECorvidClicked);
    connect(ui->agentList, &QListWidget::itemClicked, this, &Monitoring::onAgentListItemClicked);
    connect(ui->ealCmd, &QAction::triggered, this, &Monitoring::onEalCmdTriggered);
    // After the recording's own handler (made earlier) has ended the call and saved its recording:
    // a monitoring call ended by the monitor panel's "Hang Up" gets its row.
    connect(ui->ctPush2, &QPushButton::clicked, this, &Monitoring::onCtPush2Clicked);
    connect(ui->ralCmd, &QAction::triggered, this, &Monitoring::onRalCmdTriggered);
    // Other desktop programs reach the DDE box and buttons through the session bus, when there is one.
    m_bus = DdeBus::startOnSessionBus(*this, *ui->corvidDDEtxt, this);
    if (m_bus)
        m_bus->setIncomingRequests([this](bool answer, std::function<void(const QString&)> done) {
            Automation* automation = ctx.subsystems.automation;
            if (!automation) return done(QStringLiteral("ignored: no automation"));
            automation::ClipboardRequest request;
            request.kind = answer ? automation::ClipboardRequest::Answer : automation::ClipboardRequest::Reject;
            request.command = answer ? automation::AnswerWord : automation::RejectWord;
            const quint64 id = automation->submitRequest(QStringLiteral("dbus"), request, request.command);
            auto link = std::make_shared<QMetaObject::Connection>();
            *link = connect(automation, &Automation::requestJournaled, this,
                            [id, done, link](quint64 taken, const QString&, const QString&, const QString& outcome) {
                                if (taken != id) return;
                                QObject::disconnect(*link);
                                done(outcome);
                            });
        });
    if (m_bus) m_bus->setAutomation(ctx.subsystems.automation);
}

Monitoring::~Monitoring() = default;

QString Monitoring::placeCall(int line, const QString& number, bool showErrors) {
    // The call's row names the number dialled, feature code included.
    if (ctx.subsystems.dialing && ctx.subsystems.dialing->placeCall(line, number, number)) return QString();
    const int code = ctx.engine ? ctx.engine->LastErrorCode() : 0;
    QString message = engineErrorMessage(code);
    if (message.isEmpty()) message = QStringLiteral("The call could not be placed (engine error %1).").arg(code);
    if (showErrors) ShowEngineError(ctx);
    return message;
}

QString Monitoring::monitor(const QString& source, const QString& code, bool stopWhenEmpty, bool showErrors,
                            bool spareCustomerCall) {
    Ui::MainForm* ui = ctx.ui;
    if (spareCustomerCall && customerCallUp()) return CallUpRefusal;
    ctx.state.MonitorTarget.clear();
    ctx.state.MonitorTarget = monitorTargetFrom(source);

    // A customer's call on the line ends through the agent's hang-up, with its recording and its row.
    // An earlier monitoring call ends as the monitor panel's "Hang Up" ends it, saving its monitoring
    // recording, and then gets its row the same way.
    const int line = ui->ComboDial->currentIndex();
    const bool monitoringCall = isMonitoringCall(line);
    QPointer<Monitoring> alive(this);
    if (!monitoringCall && ctx.engine && ctx.engine->IsLineBusy(line) && !hangUp(line)) return QString();
    if (Recording* recording = ctx.subsystems.recording) recording->onCtPush2Clicked();
    if (!alive) return QString();
    if (monitoringCall && !hangUp(line)) return QString();
    msDelay(MonitorWaitMs);
    if (!alive) return QString();
    // The agent may have placed a call during the wait: it is a customer's call from that moment.
    if (spareCustomerCall && customerCallUp()) return CallUpRefusal;

    if (stopWhenEmpty && source.isEmpty()) return QString();
    const QString chosen = !code.isEmpty() ? code : ui->CorvidCheck->isChecked() ? CoachCode : ListenCode;
    // The line selected after the wait; the target as it is now (a handler may have changed it).
    const int callLine = ui->ComboDial->currentIndex();
    const QString error = placeCall(callLine, featureDialString(chosen, ctx.state.MonitorTarget), showErrors);
    if (error.isEmpty() && ctx.subsystems.lines) m_monitoringCall = ctx.subsystems.lines->lineCall(callLine).id;
    return error;
}

bool Monitoring::isMonitoringCall(int line) const {
    LineStatus* lines = ctx.subsystems.lines;
    return lines && m_monitoringCall != 0 && lines->lineCall(line).id == m_monitoringCall;
}

bool Monitoring::customerCallUp() const {
    const int line = ctx.ui->ComboDial->currentIndex();
    return ctx.engine && ctx.engine->IsLineBusy(line) && !isMonitoringCall(line);
}

bool Monitoring::hangUp(int line) {
    LineStatus* lines = ctx.subsystems.lines;
    CallEnd* callEnd = ctx.subsystems.callEnd;
    if (!lines || !callEnd || !lines->hasCall(line)) return true;
    QPointer<Monitoring> alive(this);
    callEnd->onBtnHangUpClicked();
    if (!alive) return false;
    // The hang-up chooses line 1; the monitoring call goes where the press was made.
    ctx.ui->ComboDial->setCurrentIndex(line);
    return true;
}

void Monitoring::onMonListItemDoubleClicked(QListWidgetItem* item) {
    // The selected entry's text, read now: the list may be refilled during the wait.
    const QListWidgetItem* selected = ctx.ui->MonList->currentItem();
    if (!selected) selected = item;
    const QString text = selected ? selected->text() : QString();
    monitor(text, QString(), true, true);
}

bool Monitoring::ddeButtonsEnabled() const {
    return ctx.ui->DDEListen->isEnabled() && ctx.ui->DDECorvid->isEnabled();
}

QString Monitoring::runDdeMonitoring(const QString& code, bool showErrors, bool spareCustomerCall) {
    // Both buttons wait out the action: a second press would end the call this one is about to place.
    QPointer<QPushButton> listen(ctx.ui->DDEListen);
    QPointer<QPushButton> corvid(ctx.ui->DDECorvid);
    listen->setEnabled(false);
    corvid->setEnabled(false);
    const QString error = monitor(ctx.ui->corvidDDEtxt->text(), code, false, showErrors, spareCustomerCall);
    if (listen) listen->setEnabled(true);
    if (corvid) corvid->setEnabled(true);
    return error;
}

void Monitoring::onDDEListenClicked() {
    runDdeMonitoring(ListenCode, true);
}

void Monitoring::onDDECorvidClicked() {
    runDdeMonitoring(CoachCode, true);
}

void Monitoring::onCtPush2Clicked() {
    const int line = ctx.ui->ComboDial->currentIndex();
    if (isMonitoringCall(line)) hangUp(line);
}

void Monitoring::onAgentListItemClicked(QListWidgetItem* item) {
    if (!item) return;
    Ui::MainForm* ui = ctx.ui;
    // The entry's text, read now: "Refresh Agent List" may empty the list during the wait.
    const QString entry = item->text();

    QPointer<Monitoring> alive(this);
    if (!hangUp(ui->ComboDial->currentIndex())) return;
    // Line 2. With a single line there is no second entry, and the call goes on the only one.
    if (ui->ComboDial->count() > 1) ui->ComboDial->setCurrentIndex(1);
    msDelay(AgentCallWaitMs);
    if (!alive) return;

    ui->EditPhoneNo->setText(trimBlanks(entry));
    const std::optional<QString> extension = agentListExtension(entry);
    if (!extension) return;
    const int line = ui->ComboDial->currentIndex();
    if (!placeCall(line, featureDialString(AgentCallCode, *extension), true).isEmpty()) return;
    if (LineStatus* lines = ctx.subsystems.lines)
        lines->AddStatusLog(lineStatusLogLine(line, QStringLiteral(": Dialing - ") + *extension));
}

void Monitoring::loadAgentList(bool emptyFirst) {
    if (emptyFirst) ctx.ui->agentList->clear();
    ctx.ui->agentList->addItems(readListFile(ctx.root.binFile(AgentListFile), AgentListMaxFields));
}

void Monitoring::onEalCmdTriggered() {
    if (ctx.services.desktop) ctx.services.desktop->openInTextEditor(ctx.root.binFile(AgentListFile));
}

void Monitoring::onRalCmdTriggered() {
    loadAgentList(true);
}

} // namespace corvid
