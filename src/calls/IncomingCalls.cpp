#include "window/WindowContext.h"
#include "calls/IncomingCalls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>

#include "calls/DialRules.h"
#include "calls/IncomingRules.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "phone/EngineErrors.h"
#include "phone/RingTone.h"
#include "platform/Blanks.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

IncomingCalls::IncomingCalls(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->CheckDisturb, &QCheckBox::toggled, this, &IncomingCalls::onCheckDisturbToggled);
    connect(ui->CheckForwardCall, &QCheckBox::toggled, this, &IncomingCalls::onCheckForwardCallToggled);
    connect(ui->EditForwardCallPhoneNo, &QLineEdit::editingFinished, this,
            &IncomingCalls::onEditForwardCallPhoneNoClicked);
    ui->EditForwardCallPhoneNo->installEventFilter(this);
    connect(ui->BtnAccept, &QPushButton::clicked, this, &IncomingCalls::onBtnAcceptClicked);
    connect(ui->BtnReject, &QPushButton::clicked, this, &IncomingCalls::onBtnRejectClicked);
    if (SipEngine* engine = ctx.engine) {
        connect(engine, &SipEngine::IncomingCall, this, &IncomingCalls::onIncomingCall);
        connect(engine, &SipEngine::IncomingCallEnded, this, &IncomingCalls::onIncomingCallEnded);
        // Going offline ends the calls that ring: each is missed.
        connect(engine, &SipEngine::UnregisterTrying, this, [this] {
            for (const QString& callId : m_ringing.keys())
                onIncomingCallEnded(callId);
        });
    }
}

bool IncomingCalls::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: during the window's tear-down the form's object is already gone.
    if (event->type() == QEvent::MouseButtonRelease && watched == ctx.ui->EditForwardCallPhoneNo &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        onEditForwardCallPhoneNoClicked();
    return QObject::eventFilter(watched, event);
}

void IncomingCalls::onCheckDisturbToggled(bool checked) {
    if (!ctx.engine) return;
    if (checked)
        ctx.engine->DndOn();
    else
        ctx.engine->DndOff();
}

void IncomingCalls::onEditForwardCallPhoneNoClicked() {
    WriteIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::Forward),
                trimBlanks(ctx.ui->EditForwardCallPhoneNo->text()));
}

void IncomingCalls::setForwardBox(bool checked) {
    const QSignalBlocker blocker(ctx.ui->CheckForwardCall);
    ctx.ui->CheckForwardCall->setChecked(checked);
}

void IncomingCalls::onCheckForwardCallToggled(bool checked) {
    const QString number = ctx.ui->EditForwardCallPhoneNo->text();
    // Only switching forwarding on needs a number: switching it off always reaches the engine, so
    // forwarding set up earlier can be ended after the field was emptied.
    if (checked && number.isEmpty()) {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, forwarding::NoNumberMessage);
        setForwardBox(false);
        return;
    }
    // An engine without forwarding (none at all, or one that throws) asks for a newer program.
    bool accepted = false;
    bool available = ctx.engine != nullptr;
    if (available) {
        try {
            accepted = ctx.engine->ForwardCalls(checked, number);
        } catch (...) {
            available = false;
        }
    }
    if (!available) {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, forwarding::UpdateSoftwareMessage);
        setForwardBox(!checked);
        return;
    }
    if (!accepted) {
        ShowEngineError(ctx);
        // The engine's forwarding is as it was; the box shows that rather than the refused wish.
        setForwardBox(!checked);
    }
}

QString IncomingCalls::selectedCallId() const {
    const int row = ctx.ui->ListIncomingCall->currentRow();
    if (row < 0) return {};
    QListWidgetItem* id = ctx.ui->ListIncomingCallIds->item(row);
    return id ? id->text() : QString();
}

QString IncomingCalls::chosenCallId() const {
    const QString selected = selectedCallId();
    if (!selected.isEmpty()) return selected;
    QListWidgetItem* first = ctx.ui->ListIncomingCallIds->item(0);
    return first ? first->text() : QString();
}

QList<IncomingCalls::RingingCall> IncomingCalls::ringingCalls() const {
    QList<RingingCall> calls;
    for (int row = 0; row < ctx.ui->ListIncomingCallIds->count(); ++row) {
        const QString id = ctx.ui->ListIncomingCallIds->item(row)->text();
        const Ringing r = m_ringing.value(id);
        calls.append({id, r.number, r.name});
    }
    return calls;
}

void IncomingCalls::addStatusLog(const QString& text) {
    if (LineStatus* lines = ctx.subsystems.lines) lines->AddStatusLog(text);
}

bool IncomingCalls::lineBusy(int line) const {
    LineStatus* lines = ctx.subsystems.lines;
    return lines ? lines->hasCall(line) : ctx.engine && ctx.engine->IsLineBusy(line);
}

bool IncomingCalls::anyCallUp() const {
    for (int line = 0; line < ctx.state.LineCount; ++line)
        if (lineBusy(line)) return true;
    return false;
}

// The line chosen in ComboIncomingCall when it is free, else the first free line; -1 when none is.
int IncomingCalls::freeLine() const {
    const int chosen = ctx.ui->ComboIncomingCall->currentIndex();
    if (chosen >= 0 && !lineBusy(chosen)) return chosen;
    for (int line = 0; line < ctx.state.LineCount; ++line)
        if (!lineBusy(line)) return line;
    return -1;
}

void IncomingCalls::showPanel() {
    Ui::MainForm* ui = ctx.ui;
    ui->InBoundFrm->show();
    QTabWidget* pages = ui->RightPages;
    for (int i = 0; i < pages->count(); ++i) {
        if (pages->widget(i)->isAncestorOf(ui->InBoundFrm)) {
            pages->setCurrentIndex(i);
            break;
        }
    }
}

void IncomingCalls::dropEntry(const QString& callId) {
    Ui::MainForm* ui = ctx.ui;
    for (int row = ui->ListIncomingCallIds->count() - 1; row >= 0; --row) {
        if (ui->ListIncomingCallIds->item(row)->text() != callId) continue;
        delete ui->ListIncomingCallIds->takeItem(row);
        delete ui->ListIncomingCall->takeItem(row);
    }
    const Ringing r = m_ringing.take(callId);
    // Possibly from inside the timer's own timeout: stopped now, deleted once it has returned.
    if (r.autoAnswer) {
        r.autoAnswer->stop();
        r.autoAnswer->deleteLater();
    }
    if (m_ringing.isEmpty()) StopRingWave(ctx);
}

void IncomingCalls::onIncomingCall(const QString& callId, const QString& /*line*/, const QString& number,
                                   const QString& name, const QString& /*called*/) {
    SipEngine* engine = ctx.engine;
    if (!engine || callId.isEmpty() || m_ringing.contains(callId)) return;
    Ui::MainForm* ui = ctx.ui;
    const QString settings = ctx.root.settingsFile();
    const bool waiting = anyCallUp();
    int after = -1;
    switch (autoAnswerMode(ReadIniKey(settings, keys::System, keys::AutoAnswer))) {
    case AutoAnswerMode::Always:
        after = 0;
        break;
    case AutoAnswerMode::PbxRequested:
        after = engine->PbxAnswerAfter(callId);
        break;
    case AutoAnswerMode::Off:
        break;
    }
    if (waiting || ui->CheckDisturb->isChecked()) after = -1;
    // Not taken (and not to be answered by itself), the caller hears "busy" at once and the PBX can
    // take the call elsewhere; the window shows nothing.
    if (after < 0 && ReadIniKey(settings, keys::System, keys::TakeIncomingCalls).trimmed() != QLatin1String("True")) {
        engine->RejectCall(callId, 486);
        return;
    }

    Ringing r;
    r.number = cleanCallerId(number);
    if (r.number.isEmpty()) r.number = AnonymousCaller;
    r.name = cleanCallerId(name);

    ui->ListIncomingCall->addItem(incomingEntryText(r.number, r.name));
    ui->ListIncomingCallIds->addItem(callId);
    if (ui->ListIncomingCall->currentRow() < 0) ui->ListIncomingCall->setCurrentRow(0);
    showPanel();
    addStatusLog(QStringLiteral("Incoming call - ") + r.number);
    // A call that rings while another is up waits: one short tone, no ringing over the call.
    if (!waiting)
        PlayRingWave(ctx);
    else if (ctx.services.ring)
        ctx.services.ring->beep();
    if (ctx.services.notifier && ctx.window && !ctx.window->isActiveWindow())
        ctx.services.notifier->notify(ctx.window, QStringLiteral("Incoming call"), incomingEntryText(r.number, r.name));
    if (after >= 0) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, callId] {
            if (!m_ringing.contains(callId)) return;
            if (anyCallUp() || ctx.ui->CheckDisturb->isChecked()) return; // rings on for the agent
            if (ctx.services.ring) ctx.services.ring->beep();
            answerCall(callId, freeLine(), Asker::Program, nullptr);
        });
        timer->start(after * 1000);
        r.autoAnswer = timer;
    }
    m_ringing.insert(callId, r);
    Q_EMIT ringingChanged(callId, r.number, r.name, QStringLiteral("ringing"), -1);
}

void IncomingCalls::onIncomingCallEnded(const QString& callId) {
    if (!m_ringing.contains(callId)) return;
    const Ringing r = m_ringing.value(callId);
    dropEntry(callId);
    // A missed call gets its row, so the agent can call back.
    if (CallLog* log = ctx.subsystems.callLog)
        log->writeCallLogRowOf(r.number, QStringLiteral("0"), callresult::Missed);
    addStatusLog(QStringLiteral("Missed call - ") + r.number);
    Q_EMIT ringingChanged(callId, r.number, r.name, QStringLiteral("missed"), -1);
}

void IncomingCalls::refuse(Asker asker, const QString& why) {
    if (asker == Asker::Agent && ctx.services.messages)
        ctx.services.messages->information(ctx.window, why);
    else
        addStatusLog(why);
}

QString IncomingCalls::answerCall(const QString& callId, int line, Asker asker, bool* ok) {
    if (ok) *ok = false;
    Ui::MainForm* ui = ctx.ui;
    if (!m_ringing.contains(callId)) return QStringLiteral("not answered: no call is ringing");
    if (line < 0 || line >= ctx.state.LineCount || lineBusy(line)) {
        const QString why = line < 0 || line >= ctx.state.LineCount
                                ? QStringLiteral("Not answered: no free line for the call.")
                                : QStringLiteral("Not answered: %1 is busy; choose a free line.").arg(lineLabel(line));
        refuse(asker, why);
        return why.at(0).toLower() + why.mid(1);
    }
    if (!ctx.engine->AnswerCall(line, callId, engineDeviceFromListRow(ui->ListAudioIn->currentRow()),
                                engineDeviceFromListRow(ui->ListAudioOut->currentRow()))) {
        const QString why = engineRefusal(ctx);
        // No longer ringing, or refused by the library as it was answered: the engine has let it go.
        const int code = ctx.engine->LastErrorCode();
        const bool gone = code == EngineError::InvalidCallId || code == EngineError::ConnectRequest;
        if (asker == Asker::Agent)
            ShowEngineError(ctx);
        else
            addStatusLog(lineStatusLogLine(line, QStringLiteral(": Not answered: ") + why));
        if (gone) onIncomingCallEnded(callId); // it stopped ringing in the meantime
        return QStringLiteral("not answered: ") + why;
    }
    const Ringing r = m_ringing.value(callId);
    dropEntry(callId);
    if (!m_ringing.isEmpty() && ctx.services.ring) ctx.services.ring->beep(); // the others wait now

    // From here the call is the line's call, as if the Call action had placed it.
    ui->ComboDial->setCurrentIndex(line);
    ui->EditPhoneNo->setText(r.number);
    ui->CIDTxt->setText(r.number);
    ctx.state.CurrentNumber = r.number;
    if (LineStatus* lines = ctx.subsystems.lines) lines->noteCallAnswered(line, r.number);
    ui->callsec->setText(QStringLiteral("0"));
    ctx.timers.CallTimer->start();
    addStatusLog(lineStatusLogLine(line, QStringLiteral(": Answered - ") + r.number));
    Q_EMIT ringingChanged(callId, r.number, r.name, QStringLiteral("answered"), line);
    // "Auto CID": the caller's record pops up as if the agent pressed "PoP CID".
    if (ui->cidCheck->isChecked()) QTimer::singleShot(0, ui->CIDPush, &QPushButton::click);
    if (ok) *ok = true;
    return QStringLiteral("answered %1 on %2").arg(r.number, lineLabel(line));
}

QString IncomingCalls::answer(Asker asker, bool* ok) {
    if (ok) *ok = false;
    const QString callId = asker == Asker::Agent ? selectedCallId() : chosenCallId();
    if (callId.isEmpty() || !ctx.engine) return QStringLiteral("not answered: no call is ringing");
    return answerCall(callId, ctx.ui->ComboIncomingCall->currentIndex(), asker, ok);
}

QString IncomingCalls::reject(Asker asker, bool* ok) {
    if (ok) *ok = false;
    const QString callId = asker == Asker::Agent ? selectedCallId() : chosenCallId();
    if (callId.isEmpty() || !ctx.engine || !m_ringing.contains(callId))
        return QStringLiteral("not rejected: no call is ringing");
    const int code = rejectCode(ReadIniKey(ctx.root.settingsFile(), keys::System, keys::RejectCode));
    if (!ctx.engine->RejectCall(callId, code)) {
        const QString why = engineRefusal(ctx);
        if (asker == Asker::Agent) ShowEngineError(ctx);
        return QStringLiteral("not rejected: ") + why;
    }
    const Ringing r = m_ringing.value(callId);
    dropEntry(callId);
    addStatusLog(QStringLiteral("Rejected - ") + r.number);
    Q_EMIT ringingChanged(callId, r.number, r.name, QStringLiteral("rejected"), -1);
    if (ok) *ok = true;
    return QStringLiteral("rejected %1 (%2)").arg(r.number).arg(code);
}

void IncomingCalls::onBtnAcceptClicked() {
    answer(Asker::Agent);
}

void IncomingCalls::onBtnRejectClicked() {
    reject(Asker::Agent);
}

} // namespace corvid
