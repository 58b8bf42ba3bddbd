#include "integrations/Monitoring.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "calls/DialRules.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "integrations/DdeBus.h"
#include "integrations/MonitorRules.h"
#include "media/Recording.h"
#include "phone/EngineErrors.h"
#include "platform/Blanks.h"
#include "platform/Delay.h"
#include "settings/ListFile.h"
#include "ui_MainForm.h"

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
    connect(ui->ralCmd, &QAction::triggered, this, &Monitoring::onRalCmdTriggered);
    // Other desktop programs reach the DDE box and buttons through the session bus, when there is one.
    m_bus = DdeBus::startOnSessionBus(*this, *ui->corvidDDEtxt, this);
}

Monitoring::~Monitoring() = default;

QString Monitoring::placeCall(int line, const QString& number, bool showErrors) {
    const Ui::MainForm* ui = ctx.ui;
    QString dialled = number;
    if (ctx.engine && ctx.engine->PlaceCall(line, dialled, engineDeviceFromListRow(ui->ListAudioIn->currentRow()),
                                            engineDeviceFromListRow(ui->ListAudioOut->currentRow())))
        return QString();
    const int code = ctx.engine ? ctx.engine->LastErrorCode() : 0;
    QString message = engineErrorMessage(code);
    if (message.isEmpty()) message = QStringLiteral("The call could not be placed (engine error %1).").arg(code);
    if (showErrors) ShowEngineError(ctx);
    return message;
}

QString Monitoring::monitor(const QString& source, const QString& code, bool stopWhenEmpty, bool showErrors) {
    Ui::MainForm* ui = ctx.ui;
    ctx.state.MonitorTarget.clear();
    ctx.state.MonitorTarget = monitorTargetFrom(source);

    // Ends the current call as the monitor panel's "Hang Up" does, saving a monitoring recording.
    QPointer<Monitoring> alive(this);
    if (Recording* recording = ctx.subsystems.recording) recording->onCtPush2Clicked();
    if (!alive) return QString();
    msDelay(MonitorWaitMs);
    if (!alive) return QString();

    if (stopWhenEmpty && source.isEmpty()) return QString();
    const QString chosen = !code.isEmpty() ? code : ui->CorvidCheck->isChecked() ? CoachCode : ListenCode;
    // The line selected after the wait; the target as it is now (a handler may have changed it).
    return placeCall(ui->ComboDial->currentIndex(), featureDialString(chosen, ctx.state.MonitorTarget), showErrors);
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

QString Monitoring::runDdeMonitoring(const QString& code, bool showErrors) {
    // Both buttons wait out the action: a second press would end the call this one is about to place.
    QPointer<QPushButton> listen(ctx.ui->DDEListen);
    QPointer<QPushButton> corvid(ctx.ui->DDECorvid);
    listen->setEnabled(false);
    corvid->setEnabled(false);
    const QString error = monitor(ctx.ui->corvidDDEtxt->text(), code, false, showErrors);
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

void Monitoring::onAgentListItemClicked(QListWidgetItem* item) {
    if (!item) return;
    Ui::MainForm* ui = ctx.ui;
    // The entry's text, read now: "Refresh Agent List" may empty the list during the wait.
    const QString entry = item->text();

    QPointer<Monitoring> alive(this);
    if (CallEnd* callEnd = ctx.subsystems.callEnd) callEnd->onBtnHangUpClicked();
    if (!alive) return;
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
