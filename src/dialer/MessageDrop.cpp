#include "dialer/MessageDrop.h"

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "calls/Dialing.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "calls/LiveCalls.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "media/WavePlayback.h"
#include "phone/EngineErrors.h"
#include "platform/Delay.h"
#include "ui_MainForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace corvid {

MessageDrop::MessageDrop(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->PlayMsgPush, &QPushButton::clicked, this, &MessageDrop::onPlayMsgPushClicked);
    connect(ui->LAMPush, &QPushButton::clicked, this, &MessageDrop::onLamPushClicked);
    connect(ui->PlayMsg1, &QPushButton::clicked, this, [this] { playMessage(1); });
    connect(ui->PlayMsg2, &QPushButton::clicked, this, [this] { playMessage(2); });
    connect(ui->PlayMsg3, &QPushButton::clicked, this, [this] { playMessage(3); });
    connect(ui->StopPlayPush, &QPushButton::clicked, this, &MessageDrop::onStopPlayPushClicked);
    m_answerTimer = new QTimer(this);
    m_answerTimer->setSingleShot(true);
    m_answerTimer->setInterval(AnswerTimeoutMs);
    connect(m_answerTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("no answer to the transfer within %1 s").arg(m_answerTimer->interval() / 1000.0));
    });
    if (SipEngine* engine = ctx.engine) {
        connect(engine, &SipEngine::PlayWaveDone, this, &MessageDrop::onPlayWaveDone);
        connect(engine, &SipEngine::TransferAccepted, this, &MessageDrop::onTransferAccepted);
        connect(engine, &SipEngine::TransferFailed, this, &MessageDrop::onTransferFailed);
    }
}

QString MessageDrop::messageServiceNumber() const {
    return QStringLiteral("*55") + ctx.ui->EditAccountUserName->text().trimmed();
}

void MessageDrop::setAnswerTimeoutMs(int ms) {
    m_answerTimer->setInterval(ms);
}

bool MessageDrop::drop(Asker asker) {
    if (m_waiting) return false;
    Ui::MainForm* ui = ctx.ui;
    LineStatus* lines = ctx.subsystems.lines;
    const int line = ui->ComboTransferCall->currentIndex();
    if (!ctx.engine || !ctx.engine->TransferCall(line, messageServiceNumber())) {
        if (asker == Asker::Agent)
            ShowEngineError(ctx);
        else if (lines)
            lines->AddStatusLog(
                lineStatusLogLine(line, QStringLiteral(": Answering machine drop failed: ") + engineRefusal(ctx)));
        return false;
    }
    if (lines) lines->AddStatusLog(lineStatusLogLine(line, QStringLiteral(": Answering Machine ")));
    ui->ComboDial->setCurrentIndex(0);

    // The row waits for the far end's answer; the call keeps its number for it, whatever the
    // number field shows by then.
    Waiting waiting{line, 0, ui->EditPhoneNo->text()};
    if (lines && line >= 0) {
        const LineCall& call = lines->lineCall(line);
        waiting.call = call.id;
        if (!call.number.isEmpty()) waiting.number = call.number;
    }
    m_waiting = waiting;
    ui->PlayMsgPush->setEnabled(false);
    m_answerTimer->start();
    return true;
}

MessageDrop::Waiting MessageDrop::settle() {
    const Waiting waited = *m_waiting;
    m_waiting.reset();
    m_answerTimer->stop();
    ctx.ui->PlayMsgPush->setEnabled(true);
    return waited;
}

void MessageDrop::onTransferAccepted(int line) {
    if (!m_waiting || m_waiting->line != line) return;
    const Waiting dropped = settle();
    Ui::MainForm* ui = ctx.ui;
    if (!ui->EditAccountDisplayName->text().isEmpty()) {
        // The drop is this call's row: a later end of the same call writes none.
        if (LineStatus* lines = ctx.subsystems.lines) {
            LineCall& call = lines->lineCall(line);
            if (call.id == dropped.call) call.rowTaken = true;
        }
        const QString seconds = ui->callsec->text();
        if (CallLog* callLog = ctx.subsystems.callLog;
            callLog && callLog->writeCallLogRow(dropped.number, callresult::AnsweringMachine)) {
            if (LiveCalls* live = ctx.subsystems.liveCalls) live->noteRow(line, callresult::AnsweringMachine, seconds);
        }
        // Emptied when it still shows the dropped call, not a number typed for the next one.
        if (ui->EditPhoneNo->text() == dropped.number) ui->EditPhoneNo->clear();
    }
    Q_EMIT dropSettled(dropped.line, true, QString());
}

void MessageDrop::onTransferFailed(int line, int statusCode, const QString& reason, const QString& target) {
    if (!m_waiting || m_waiting->line != line) return;
    const QString answer = statusCode > 0 ? QStringLiteral("%1 %2").arg(statusCode).arg(reason) : reason;
    if (target.isEmpty())
        fail(QStringLiteral("the far end refused the transfer (%1)").arg(answer));
    else if (statusCode > 0)
        fail(QStringLiteral("the PBX answered %1 for %2").arg(answer, target));
    else
        fail(QStringLiteral("the far end took the transfer, and the call to %1 failed (%2)").arg(target, answer));
}

void MessageDrop::giveUp(const QString& why) {
    if (m_waiting) fail(why);
}

// The call stays with the agent: no row, and its own end writes its row.
void MessageDrop::fail(const QString& why) {
    if (!m_waiting) return;
    const Waiting failed = settle();
    if (LineStatus* lines = ctx.subsystems.lines)
        lines->AddStatusLog(lineStatusLogLine(failed.line, QStringLiteral(": Answering machine drop failed: ") + why));
    Q_EMIT dropSettled(failed.line, false, why);
}

void MessageDrop::onLamPushClicked() {
    Ui::MainForm* ui = ctx.ui;
    ui->CheckForceInbandDTMF->setChecked(true);
    const QString number = messageServiceNumber();
    Dialing* dialing = ctx.subsystems.dialing;
    if (!dialing || !dialing->placeCall(ui->ComboDial->currentIndex(), number, number)) ShowEngineError(ctx);
}

void MessageDrop::playMessage(int n) {
    WavePlayback* playback = ctx.subsystems.wavePlayback;
    // A message that could not be opened has shown its error; starting would only show another.
    if (!playback || !playback->openMessage(n)) return;
    QPointer<MessageDrop> alive(this);
    msDelay(BeforePlayWaitMs);
    if (alive) playback->startPlaying();
}

void MessageDrop::onStopPlayPushClicked() {
    if (!ctx.engine || !ctx.engine->PlayWavePause(ctx.ui->ComboPlayWave->currentIndex())) ShowEngineError(ctx);
}

void MessageDrop::onPlayWaveDone(int line) {
    if (LineStatus* lines = ctx.subsystems.lines)
        lines->AddStatusLog(lineStatusLogLine(line, QStringLiteral(": Play wave done.")));
}

} // namespace corvid
