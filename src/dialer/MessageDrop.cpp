#include "dialer/MessageDrop.h"

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "calls/Dialing.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
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

namespace corvid {

MessageDrop::MessageDrop(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->PlayMsgPush, &QPushButton::clicked, this, &MessageDrop::onPlayMsgPushClicked);
    connect(ui->LAMPush, &QPushButton::clicked, this, &MessageDrop::onLamPushClicked);
    connect(ui->PlayMsg1, &QPushButton::clicked, this, [this] { playMessage(1); });
    connect(ui->PlayMsg2, &QPushButton::clicked, this, [this] { playMessage(2); });
    connect(ui->PlayMsg3, &QPushButton::clicked, this, [this] { playMessage(3); });
    connect(ui->StopPlayPush, &QPushButton::clicked, this, &MessageDrop::onStopPlayPushClicked);
    if (ctx.engine) connect(ctx.engine, &SipEngine::PlayWaveDone, this, &MessageDrop::onPlayWaveDone);
}

QString MessageDrop::messageServiceNumber() const {
    return QStringLiteral("*55") + ctx.ui->EditAccountUserName->text().trimmed();
}

bool MessageDrop::onPlayMsgPushClicked() {
    Ui::MainForm* ui = ctx.ui;
    const int line = ui->ComboTransferCall->currentIndex();
    if (!ctx.engine || !ctx.engine->TransferCall(line, messageServiceNumber())) {
        ShowEngineError(ctx);
        return false;
    }
    LineStatus* lines = ctx.subsystems.lines;
    if (lines) lines->AddStatusLog(lineStatusLogLine(line, QStringLiteral(": Answering Machine ")));
    ui->ComboDial->setCurrentIndex(0);
    if (ui->EditAccountDisplayName->text().isEmpty()) return true;

    // The drop is this call's row: the call's later end on that line writes none.
    if (lines && line >= 0) lines->lineCall(line).rowTaken = true;
    if (CallLog* callLog = ctx.subsystems.callLog)
        callLog->writeCallLogRow(ui->EditTransferPhoneNo->currentText(), callresult::AnsweringMachine);
    QPointer<MessageDrop> alive(this);
    msDelay(AfterDropWaitMs);
    if (alive) ctx.ui->EditPhoneNo->clear();
    return true;
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
