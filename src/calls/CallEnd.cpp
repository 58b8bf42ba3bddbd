#include "calls/CallEnd.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "calls/CallRules.h"
#include "calls/DialRules.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "calls/LiveCalls.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "media/Recording.h"
#include "phone/EngineErrors.h"
#include "phone/OnlineControl.h"
#include "phone/RingTone.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"
#include "window/WindowContext.h"

namespace corvid {

namespace {

bool flagAt(const QVector<bool>& flags, int line) {
    return line >= 0 && line < flags.size() && flags.at(line);
}

} // namespace

CallEnd::CallEnd(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->BtnHangUp, &QPushButton::clicked, this, &CallEnd::onBtnHangUpClicked);
    connect(ui->ComboMuteLine, qOverload<int>(&QComboBox::currentIndexChanged), this, &CallEnd::onComboMuteLineChanged);
    connect(ui->CheckMuteLineSPK, &QCheckBox::toggled, this, &CallEnd::onCheckMuteLineSPKToggled);
    connect(ui->CheckMuteLineMIC, &QCheckBox::toggled, this, &CallEnd::onCheckMuteLineMICToggled);

    if (SipEngine* engine = ctx.engine) {
        connect(engine, &SipEngine::CallConnecting, this, &CallEnd::onCallConnecting);
        connect(engine, &SipEngine::ProvisionalResponse, this, &CallEnd::onProvisionalResponse);
        connect(engine, &SipEngine::RedirectionResponse, this, &CallEnd::onRedirectionResponse);
        connect(engine, &SipEngine::RequestFailureResponse, this, &CallEnd::onRequestFailureResponse);
        connect(engine, &SipEngine::ServerFailureResponse, this, &CallEnd::onServerFailureResponse);
        connect(engine, &SipEngine::GlobalFailureResponse, this, &CallEnd::onGlobalFailureResponse);
        connect(engine, &SipEngine::CallFailed, this, &CallEnd::onCallFailed);
        connect(engine, &SipEngine::CallConnected, this, &CallEnd::onCallConnected);
        connect(engine, &SipEngine::DtmfDigitReceived, this, &CallEnd::onDtmfDigitReceived);
        connect(engine, &SipEngine::CallHungUp, this, &CallEnd::onCallHungUp);
        connect(engine, &SipEngine::SoundDeviceHung, this, &CallEnd::onSoundDeviceHung);
    }
}

void CallEnd::addStatusLog(const QString& text) {
    if (LineStatus* lines = ctx.subsystems.lines) lines->AddStatusLog(text);
}

void CallEnd::applyInBandSetting() {
    ctx.state.InBandSetting = ReadIniKey(ctx.root.settingsFile(), keys::System, keys::InBand);
    if (const std::optional<bool> tick = forceInBandFromSetting(ctx.state.InBandSetting))
        ctx.ui->CheckForceInbandDTMF->setChecked(*tick);
}

// --- call progress --------------------------------------------------------------------------

void CallEnd::onCallConnecting(int line) {
    if (LineStatus* lines = ctx.subsystems.lines) lines->noteLineActivity(line);
    addStatusLog(lineLabel(line) + QStringLiteral(": Connecting."));
}

void CallEnd::onProvisionalResponse(int line, int statusCode, const QString& reason) {
    if (LineStatus* lines = ctx.subsystems.lines) lines->noteLineActivity(line);
    if (statusCode == 180)
        StartRingTone(ctx);
    else if (statusCode == 183)
        StopRingTone(ctx);
    addStatusLog(reason);
}

void CallEnd::onRedirectionResponse(int /*line*/, int /*statusCode*/, const QString& reason,
                                    const QString& /*contact*/) {
    StopRingTone(ctx);
    addStatusLog(reason);
}

// The bare reason text is what the busy and bad-number reaction of the status mirror matches.
void CallEnd::onRequestFailureResponse(int /*line*/, int /*statusCode*/, const QString& reason) {
    StopRingTone(ctx);
    addStatusLog(reason);
}

void CallEnd::onServerFailureResponse(int /*line*/, int /*statusCode*/, const QString& reason) {
    StopRingTone(ctx);
    addStatusLog(reason);
}

void CallEnd::onGlobalFailureResponse(int line, int /*statusCode*/, const QString& reason) {
    StopRingTone(ctx);
    addStatusLog(lineLabel(line) + QStringLiteral(" Response: ") + reason);
}

void CallEnd::onCallFailed(int line) {
    StopRingTone(ctx);
    addStatusLog(lineLabel(line) + QStringLiteral(": Fail to connect."));
}

void CallEnd::onCallConnected(int line, const QString& /*remote*/, int /*codec*/) {
    Ui::MainForm* ui = ctx.ui;
    if (LineStatus* lines = ctx.subsystems.lines) lines->noteLineActivity(line);
    StopRingTone(ctx);
    addStatusLog(lineLabel(line) + QStringLiteral(": Success to connect."));
    if (ctx.engine->IsLineEncrypted(line))
        addStatusLog(lineLabel(line) + QStringLiteral(": The call is encrypted (SRTP)."));
    else if (ctx.subsystems.online && ctx.subsystems.online->security().srtp)
        addStatusLog(
            lineLabel(line) +
            QStringLiteral(": The far end does not accept encrypted audio (SRTP): the call goes on in clear."));

    ui->SliderSpkVol->setValue(sliderFromEngineVolume(ctx.engine->SpeakerVolume()));
    ui->SliderMicVol->setValue(sliderFromEngineVolume(ctx.engine->MicVolume()));
    ui->CheckMicBoost->setChecked(ctx.engine->IsMicBoostOn());

    // A new call records as usual, whatever the line's last call paused.
    if (Recording* recording = ctx.subsystems.recording) recording->endPause(line);
    const QString number = ui->EditPhoneNo->text();
    if (!number.isEmpty() && number != QLatin1String(" ")) {
        if (Recording* recording = ctx.subsystems.recording) recording->startRecordingIfRecordAll();
    }
}

void CallEnd::onDtmfDigitReceived(int line, const QString& digit) {
    addStatusLog(lineLabel(line) + QStringLiteral(": Key-pressed: ") + digit);
}

// --- the agent's hang-up ------------------------------------------------------------------------

void CallEnd::onBtnHangUpClicked() {
    Ui::MainForm* ui = ctx.ui;
    LineStatus* lines = ctx.subsystems.lines;
    const int line = ui->ComboDial->currentIndex();
    // A hang-up asked for while this line's call end is still running (it may wait for the recording
    // to be saved) would end the same call again and write its row twice. A call end running on
    // another line is no reason to wait.
    if (lines && lines->lineCall(line).ending) return;

    ui->vmclick->setEnabled(true);
    applyInBandSetting();
    ctx.timers.CallTimer->stop();
    // Nothing to end (no call yet, or its end has written its row): a row here would name no call.
    if (lines && !lines->hasCall(line)) {
        addStatusLog(NoCallToEndText);
        return;
    }
    ui->ListStatusLog->clear();
    ui->statusLb->clear();

    if (!ctx.engine || !ctx.engine->EndCall(line)) {
        // The call goes on; the window keeps its in-call state.
        ShowEngineError(ctx);
        return;
    }
    // From here the far end's report of this call adds nothing; a hang-up of a call whose row an
    // earlier end has written writes none.
    const CallEndScope end(lines, line);
    LiveCalls* live = ctx.subsystems.liveCalls;
    // An automation channel or the busy reaction said who it was before; otherwise the agent.
    if (live) live->noteEndedBy(line, endedby::Agent);
    StopRingTone(ctx);

    // A recording paused at the call's end is saved with what was recorded before the pause.
    Recording* recording = ctx.subsystems.recording;
    const bool paused = recording && recording->isPaused(line);
    if (!ui->EditPhoneNo->text().isEmpty() && (ui->CheckStartRecording->isChecked() || paused)) {
        QPointer<CallEnd> alive(this);
        if (recording) recording->finishCallRecording();
        if (!alive) return;
    }
    if (recording) recording->endPause(line);

    const QString fieldNumber = ui->EditPhoneNo->text();
    ui->EditPhoneNo->clear();
    ui->ComboDial->setCurrentIndex(0);
    // With the number field empty the recording boxes' handlers do nothing.
    ui->RecThisCallCheck->setChecked(false);
    ui->CheckStartRecording->setChecked(false);
    ctx.timers.logCleanTimer->start();
    // The incoming-call list keeps the calls that still ring: hanging up one call drops no other.
    ui->CIDTxt->clear();

    if (!ui->EditAccountDisplayName->text().isEmpty()) {
        if (end.rowDue()) {
            // The row carries the number dialled on this line, whatever another line's call put
            // into the number field since.
            const QString number = end.placedNumber().isEmpty() ? fieldNumber : end.placedNumber();
            const QString seconds = ui->callsec->text();
            const QString result = end.incoming() ? callresult::Incoming : callresult::HangUp;
            if (CallLog* callLog = ctx.subsystems.callLog; callLog && callLog->writeCallLogRow(number, result))
                if (live) live->noteRow(line, result, seconds);
        }
        ui->callsec->setText(QStringLiteral("0"));
        ctx.state.CurrentNumber = ui->EditPhoneNo->text();
        ui->EditPhoneNo->clear();
    }
}

// --- the far end's hang-up ----------------------------------------------------------------------

void CallEnd::onCallHungUp(int line) {
    Ui::MainForm* ui = ctx.ui;
    StopRingTone(ctx);
    LineStatus* lines = ctx.subsystems.lines;
    // The window has already ended this line's call (the agent's hang-up, or an earlier report of
    // the same end): a second row would log a call that does not exist.
    if (lines && lines->lineCall(line).ended) return;
    addStatusLog(lineLabel(line) + QStringLiteral(": Hung up."));

    const CallEndScope end(lines, line);
    LiveCalls* live = ctx.subsystems.liveCalls;
    if (live) live->noteEndedBy(line, endedby::FarEnd);
    // The number dialled on this line; for a call placed another way, the number field's.
    const QString number = end.placedNumber().isEmpty() ? ui->EditPhoneNo->text() : end.placedNumber();
    ui->CIDTxt->clear();
    ctx.timers.CallTimer->stop();
    ui->ListStatusLog->clear();
    ui->statusLb->clear();
    ctx.timers.logCleanTimer->start();

    // The recording saved is the ended line's, under the ended call's number; the recording switch
    // shows the current line's.
    const bool currentLine = line == ui->ComboDial->currentIndex();
    Recording* recording = ctx.subsystems.recording;
    if (!currentLine || ui->CheckStartRecording->isChecked() || (recording && recording->isPaused(line))) {
        QPointer<CallEnd> alive(this);
        if (recording) {
            if (currentLine)
                recording->finishCallRecording();
            else
                recording->finishOtherLineRecording(line, number);
        }
        if (!alive) return;
    }
    if (recording) recording->endPause(line);

    // Whatever the display name: without one the row goes to "_calllogs.csv". The number is the
    // one of the ended call, even if the field changed during the wait above.
    if (end.rowDue()) {
        const QString seconds = ui->callsec->text();
        const QString result = end.incoming() ? callresult::Incoming : callresult::FarEndHungUp;
        if (CallLog* callLog = ctx.subsystems.callLog; callLog && callLog->writeCallLogRow(number, result, true))
            if (live) live->noteRow(line, result, seconds);
    }
    ui->callsec->setText(QStringLiteral("0"));
    ctx.state.CurrentNumber = number;
    // The field is emptied when it still shows the ended call, not when it shows another line's.
    if (ui->EditPhoneNo->text() == number) ui->EditPhoneNo->clear();
}

void CallEnd::onSoundDeviceHung(int line) {
    QPointer<CallEnd> alive(this);
    ctx.ui->ComboDial->setCurrentIndex(line);
    onBtnHangUpClicked();
    if (!alive) return;
    // After the hang-up, which empties the status log.
    addStatusLog(lineLabel(line) + QStringLiteral(": Call ended: the sound device stopped and does not answer."));
}

void CallEnd::hangUpLiveCalls() {
    SipEngine* engine = ctx.engine;
    if (!engine) return;
    QPointer<CallEnd> alive(this);
    for (int line = 0; line < ctx.state.LineCount; ++line) {
        if (!engine->IsLineBusy(line)) continue;
        ctx.ui->ComboDial->setCurrentIndex(line);
        onBtnHangUpClicked();
        if (!alive) return;
    }
}

// --- per-line mute ------------------------------------------------------------------------------

void CallEnd::onComboMuteLineChanged(int index) {
    if (index == -1) return;
    // Setting a box runs its handler when the value changes, which sends that state again.
    ctx.ui->CheckMuteLineMIC->setChecked(flagAt(ctx.state.MicMuted, index));
    ctx.ui->CheckMuteLineSPK->setChecked(flagAt(ctx.state.SpeakerMuted, index));
}

void CallEnd::onCheckMuteLineSPKToggled(bool checked) {
    const int line = ctx.ui->ComboMuteLine->currentIndex();
    if (!ctx.engine || !ctx.engine->MuteLineSpeaker(line, checked)) {
        ShowEngineError(ctx);
        return;
    }
    if (line >= 0 && line < ctx.state.SpeakerMuted.size()) ctx.state.SpeakerMuted[line] = checked;
}

void CallEnd::onCheckMuteLineMICToggled(bool checked) {
    const int line = ctx.ui->ComboMuteLine->currentIndex();
    if (!ctx.engine || !ctx.engine->MuteLineMic(line, checked)) {
        ShowEngineError(ctx);
        return;
    }
    if (line >= 0 && line < ctx.state.MicMuted.size()) ctx.state.MicMuted[line] = checked;
}

} // namespace corvid
