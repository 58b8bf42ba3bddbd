#include "calls/MidCall.h"

#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "calls/Dialing.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "calls/LiveCalls.h"
#include "calls/TransferRules.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "media/Recording.h"
#include "phone/EngineErrors.h"
#include "platform/Blanks.h"
#include "platform/Delay.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {

// A button whose action waits is disabled for the time of the action, so a second click cannot run
// the action again inside the first one's wait.
class DisabledWhileRunning {
public:
    explicit DisabledWhileRunning(QPushButton* button) : m_button(button) { m_button->setEnabled(false); }
    ~DisabledWhileRunning() {
        if (m_button) m_button->setEnabled(true);
    }
    DisabledWhileRunning(const DisabledWhileRunning&) = delete;
    DisabledWhileRunning& operator=(const DisabledWhileRunning&) = delete;

private:
    QPointer<QPushButton> m_button;
};

} // namespace

MidCall::MidCall(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->BtnHold, &QPushButton::clicked, this, &MidCall::onBtnHoldClicked);
    connect(ui->BtnUnHold, &QPushButton::clicked, this, &MidCall::onBtnUnHoldClicked);
    connect(ui->BtnTransferCall, &QPushButton::clicked, this, &MidCall::onBtnTransferCallClicked);
    connect(ui->CallTranPush, &QPushButton::clicked, this, &MidCall::onCallTranPushClicked);
    connect(ui->BtnConsultTransfer, &QPushButton::clicked, this, &MidCall::onBtnConsultTransferClicked);
    connect(ui->threeWayPush, &QPushButton::clicked, this, &MidCall::onThreeWayPushClicked);
    connect(ui->EditTransferPhoneNo, &QComboBox::activated, this, &MidCall::onEditTransferPhoneNoActivated);
    ui->Frame10->installEventFilter(this);

    if (SipEngine* engine = ctx.engine) {
        connect(engine, &SipEngine::TransferAccepted, this, &MidCall::onTransferAccepted);
        connect(engine, &SipEngine::TransferFailed, this, &MidCall::onTransferFailed);
    }
}

bool MidCall::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: while the window is torn down its widgets still send events (a child
    // removed) after the form's object is gone.
    if (event->type() == QEvent::MouseButtonDblClick && watched == ctx.ui->Frame10) onFrame10DblClick();
    return QObject::eventFilter(watched, event);
}

void MidCall::addStatusLog(const QString& text) {
    if (LineStatus* lines = ctx.subsystems.lines) lines->AddStatusLog(text);
}

void MidCall::writeTransferRow(const QString& number, const QString& result, int line) {
    Ui::MainForm* ui = ctx.ui;
    if (ui->EditAccountDisplayName->text().isEmpty()) return;
    const QString seconds = ui->callsec->text();
    if (CallLog* callLog = ctx.subsystems.callLog; callLog && callLog->writeCallLogRow(number, result))
        if (LiveCalls* live = ctx.subsystems.liveCalls; live && line >= 0) live->noteRow(line, result, seconds);
    ui->callsec->setText(QStringLiteral("0"));
}

// --- hold and resume ------------------------------------------------------------------------------

void MidCall::onBtnHoldClicked() {
    Ui::MainForm* ui = ctx.ui;
    const int line = ui->ComboDial->currentIndex();
    LineStatus* lines = ctx.subsystems.lines;
    if (lines && !lines->hasCall(line)) {
        addStatusLog(NoCallToHoldText);
        return;
    }
    const DisabledWhileRunning busy(ui->BtnHold);
    // What was recorded so far is saved before the line goes quiet (the save waits 500 ms).
    QPointer<MidCall> alive(this);
    if (Recording* recording = ctx.subsystems.recording) recording->finishCallRecording();
    if (!alive) return;
    // A refused hold claims nothing: the agent sees the engine's reason, and the call goes on.
    if (!ctx.engine || !ctx.engine->HoldCall(line)) {
        ShowEngineError(ctx);
        return;
    }
    ui->ListStatusLog->clear();
    addStatusLog(lineStatusLogLine(line, QStringLiteral(": Hold")));
}

bool MidCall::onBtnUnHoldClicked() {
    Ui::MainForm* ui = ctx.ui;
    const int line = ui->ComboDial->currentIndex();
    if (!ctx.engine || !ctx.engine->ResumeCall(line)) {
        ShowEngineError(ctx);
        return false;
    }
    ui->ListStatusLog->clear();
    addStatusLog(lineStatusLogLine(line, QStringLiteral(": Connected")));
    if (Recording* recording = ctx.subsystems.recording) recording->startRecordingIfRecordAll();
    return true;
}

// --- transfers ------------------------------------------------------------------------------------

void MidCall::onBtnTransferCallClicked() {
    Ui::MainForm* ui = ctx.ui;
    const int line = ui->ComboTransferCall->currentIndex();
    const QString target = blindTransferTarget(ui->PreDialTxT->text(), ui->EditTransferPhoneNo->currentText());
    if (!ctx.engine || !ctx.engine->TransferCall(line, target)) {
        ShowEngineError(ctx);
        return;
    }
    addStatusLog(lineStatusLogLine(line, QStringLiteral(": Blind Transfer ")));
    ui->ComboDial->setCurrentIndex(0);
    writeTransferRow(ui->EditTransferPhoneNo->currentText(), callresult::BlindTransfer, line);
}

void MidCall::onCallTranPushClicked() {
    Ui::MainForm* ui = ctx.ui;
    ctx.state.TransferMark = QStringLiteral("0");
    if (ui->EditTransferPhoneNo->currentText().isEmpty()) return;

    const DisabledWhileRunning busy(ui->CallTranPush);
    ui->ComboDial->setCurrentIndex(1);
    QPointer<MidCall> alive(this);
    msDelay(transfer::TargetCallWaitMs);
    if (!alive) return;

    // A text other than ten characters without a blank early on (a number alone, such as eleven
    // digits) is not called.
    const std::optional<QString> number = transferNumberPart(ui->EditTransferPhoneNo->currentText());
    if (!number) return;
    ui->PreDialTxT->setText(
        ReadIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::PreDialNumber)));
    const int line = ui->ComboDial->currentIndex();
    // The row of the target's call, and of a supervised transfer to it, names the number without the prefix.
    Dialing* dialing = ctx.subsystems.dialing;
    if (!dialing || !dialing->placeCall(line, trimBlanks(ui->PreDialTxT->text()) + *number, *number)) {
        ShowEngineError(ctx);
        return;
    }
    addStatusLog(dialingStatusLogLine(line, *number));
}

bool MidCall::resumeLineOne() {
    QPointer<MidCall> alive(this);
    ctx.ui->ComboDial->setCurrentIndex(0);
    msDelay(transfer::StepWaitMs);
    if (!alive || !onBtnUnHoldClicked()) return false;
    msDelay(transfer::StepWaitMs);
    return !alive.isNull();
}

void MidCall::onBtnConsultTransferClicked() {
    Ui::MainForm* ui = ctx.ui;
    if (ui->EditPhoneNo->text().isEmpty()) {
        addStatusLog(NoCallToTransferText);
        return;
    }

    const DisabledWhileRunning busy(ui->BtnConsultTransfer);
    if (!resumeLineOne()) return;

    const int lineA = ui->ComboConsultLineA->currentIndex();
    const int lineB = ui->ComboConsultLineB->currentIndex();
    if (lineA == lineB) {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, transfer::DifferentLinesMessage);
        return;
    }
    if (!ctx.engine || !ctx.engine->JoinLines(lineA, lineB)) {
        // Not joined: the calls are still the agent's, and their recordings are still saved.
        ShowEngineError(ctx);
        return;
    }
    ctx.state.TransferMark = QStringLiteral("1");
    ui->ComboDial->setCurrentIndex(0);
    // The line named is line 1, the one just selected, whichever lines were joined.
    addStatusLog(lineStatusLogLine(0, QStringLiteral(": Supervised Transfer ")));
    // The row names the transfer target: the call on the joined line other than line 1, as it was
    // dialled there; the transfer field may hold other text by now.
    const int target = lineA == 0 ? lineB : lineA;
    QString number = ctx.subsystems.lines ? ctx.subsystems.lines->lineCall(target).number : QString();
    if (number.isEmpty()) number = ui->EditTransferPhoneNo->currentText();
    writeTransferRow(number, callresult::SupervisedTransfer);
}

void MidCall::onThreeWayPushClicked() {
    // No engine call of its own: line 1 comes off hold while the call on line 2 is left as it is.
    Ui::MainForm* ui = ctx.ui;
    const DisabledWhileRunning busy(ui->threeWayPush);
    if (!resumeLineOne()) return;
    QPointer<MidCall> alive(this);
    ui->ComboDial->setCurrentIndex(1);
    msDelay(transfer::StepWaitMs);
    if (!alive) return;
    ui->ComboDial->setCurrentIndex(0);
}

// --- the transfer-number field --------------------------------------------------------------------

void MidCall::onEditTransferPhoneNoActivated(int) {
    WriteIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::TransferNumber),
                ctx.ui->EditTransferPhoneNo->currentText());
}

void MidCall::onFrame10DblClick() {
    ctx.ui->EditTransferPhoneNo->clearEditText();
    WriteIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::TransferNumber),
                ctx.ui->EditTransferPhoneNo->currentText());
}

// --- the engine's reports -------------------------------------------------------------------------

void MidCall::onTransferAccepted(int line) {
    addStatusLog(transferAcceptedStatusLine(line));
}

void MidCall::onTransferFailed(int /*line*/, int /*statusCode*/, const QString& reason) {
    addStatusLog(transferFailedStatusLine(reason));
}

} // namespace corvid
