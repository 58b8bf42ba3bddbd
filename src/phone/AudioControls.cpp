#include "phone/AudioControls.h"

#include <functional>

#include <algorithm>

#include <QTimer>

#include "window/WindowContext.h"
#include "phone/EngineErrors.h"
#include "phone/RingTone.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {
constexpr int AgcLevel = 8000;
const QString DefaultDevice = QStringLiteral("Default Device");

void setBar(QProgressBar* bar, int level) {
    // The engine's levels run from 0 to EngineLevelMax; the bar shows the same share of its own
    // range, rounded. Values outside the engine's scale show as an empty or a full bar.
    const qint64 clamped = std::clamp(level, 0, EngineLevelMax);
    const qint64 span = qint64(bar->maximum()) - bar->minimum();
    bar->setValue(bar->minimum() + int((clamped * span + EngineLevelMax / 2) / EngineLevelMax));
}
} // namespace

std::array<CodecBox, 5> codecBoxes(const Ui::MainForm& ui) {
    return {{{ui.CheckG711U, Codec::G711U},
             {ui.CheckG729, Codec::G729},
             {ui.CheckG711A, Codec::G711A},
             {ui.CheckGSM610, Codec::GSM610},
             {ui.CheckiLBC, Codec::iLBC}}};
}

AudioControls::AudioControls(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    Ui::MainForm* ui = m_ctx.ui;
    connect(ui->SliderSpkVol, &QSlider::valueChanged, this, &AudioControls::onSliderSpkVolChanged);
    connect(ui->SliderMicVol, &QSlider::valueChanged, this, &AudioControls::onSliderMicVolChanged);
    connect(ui->CheckSpkMute, &QCheckBox::toggled, this, &AudioControls::onCheckSpkMuteToggled);
    connect(ui->CheckMuteMic, &QCheckBox::toggled, this, &AudioControls::onCheckMuteMicToggled);
    connect(ui->CheckAGC, &QCheckBox::toggled, this, &AudioControls::onCheckAGCToggled);
    connect(ui->CheckMicBoost, &QCheckBox::toggled, this, &AudioControls::onCheckMicBoostToggled);
    connect(ui->CheckEchoCancel, &QCheckBox::toggled, this, &AudioControls::onCheckEchoCancelToggled);
    for (const CodecBox& entry : codecBoxes(*ui)) {
        const int codec = entry.codec;
        connect(entry.box, &QCheckBox::toggled, this, [this, codec](bool checked) { onCodecToggled(codec, checked); });
    }
    connect(ui->CheckForceInbandDTMF, &QCheckBox::toggled, this, &AudioControls::onCheckForceInbandDTMFToggled);
    connect(ui->CheckPlayDialTone, &QCheckBox::toggled, this, &AudioControls::onCheckPlayDialToneToggled);
    connect(ui->CheckPlayRingTone, &QCheckBox::toggled, this, &AudioControls::onCheckPlayRingToneToggled);
    if (m_ctx.timers.TimerProgressBar)
        connect(m_ctx.timers.TimerProgressBar, &QTimer::timeout, this, &AudioControls::onTimerProgressBarTick);
    if (m_ctx.timers.TimerTick)
        connect(m_ctx.timers.TimerTick, &QTimer::timeout, this, &AudioControls::updateLevelTimer);
    if (SipEngine* engine = m_ctx.engine) {
        connect(engine, &SipEngine::CallConnecting, this, &AudioControls::updateLevelTimer);
        connect(engine, &SipEngine::CallConnected, this, &AudioControls::updateLevelTimer);
        connect(engine, &SipEngine::CallFailed, this, &AudioControls::updateLevelTimer);
        connect(engine, &SipEngine::CallHungUp, this, &AudioControls::updateLevelTimer);
    }
}

namespace {
// "Default Device" first, then the engine's devices in order; the default is selected.
void fillDeviceList(QListWidget* list, int count, const std::function<QString(int)>& name) {
    list->clear();
    list->addItem(DefaultDevice);
    for (int k = 0; k < count; ++k)
        list->addItem(name(k));
    list->setCurrentRow(0);
}
} // namespace

void AudioControls::FillInputDevices() {
    SipEngine* engine = m_ctx.engine;
    fillDeviceList(m_ctx.ui->ListAudioIn, engine ? engine->InputDeviceCount() : 0,
                   [engine](int k) { return engine->InputDeviceName(k); });
}

void AudioControls::FillOutputDevices() {
    SipEngine* engine = m_ctx.engine;
    fillDeviceList(m_ctx.ui->ListAudioOut, engine ? engine->OutputDeviceCount() : 0,
                   [engine](int k) { return engine->OutputDeviceName(k); });
}

void AudioControls::onSliderSpkVolChanged(int value) {
    if (m_ctx.engine && !m_ctx.engine->SetSpeakerVolume(value * VolumePerSliderStep)) ShowEngineError(m_ctx);
}

void AudioControls::onSliderMicVolChanged(int value) {
    if (m_ctx.engine && !m_ctx.engine->SetMicVolume(value * VolumePerSliderStep)) ShowEngineError(m_ctx);
}

void AudioControls::onCheckSpkMuteToggled(bool checked) {
    if (m_ctx.engine) m_ctx.engine->SetSpeakerMute(checked);
}

void AudioControls::onCheckMuteMicToggled(bool checked) {
    if (m_ctx.engine) m_ctx.engine->SetMicMute(checked);
}

void AudioControls::onCheckAGCToggled(bool checked) {
    if (!m_ctx.engine) return;
    if (checked) {
        if (!m_ctx.engine->AgcOn(AgcLevel)) ShowEngineError(m_ctx);
    } else {
        m_ctx.engine->AgcOff();
    }
}

void AudioControls::onCheckMicBoostToggled(bool checked) {
    if (!m_ctx.engine) return;
    if (checked)
        m_ctx.engine->MicBoostOn();
    else
        m_ctx.engine->MicBoostOff();
}

void AudioControls::onCheckEchoCancelToggled(bool checked) {
    if (!m_ctx.engine) return;
    if (checked)
        m_ctx.engine->EchoCancelOn();
    else
        m_ctx.engine->EchoCancelOff();
}

void AudioControls::onCodecToggled(int codec, bool checked) {
    if (!m_ctx.engine) return;
    if (checked)
        m_ctx.engine->EnableCodec(codec);
    else
        m_ctx.engine->DisableCodec(codec);
}

void AudioControls::onCheckForceInbandDTMFToggled(bool checked) {
    // Before going online LineCount is 0, so nothing reaches the engine; the box applies to the
    // lines from its next change on.
    if (!m_ctx.engine) return;
    for (int line = 0; line < m_ctx.state.LineCount; ++line) {
        if (checked)
            m_ctx.engine->ForceInbandDtmfOn(line);
        else
            m_ctx.engine->ForceInbandDtmfOff(line);
    }
}

void AudioControls::onCheckPlayDialToneToggled(bool checked) {
    if (m_ctx.state.RingToneOn) StopRingWave(m_ctx);
    m_ctx.state.RingToneOn = checked;
}

void AudioControls::onCheckPlayRingToneToggled(bool checked) {
    if (!checked) StopRingWave(m_ctx);
}

void AudioControls::updateLevelTimer() {
    QTimer* timer = m_ctx.timers.TimerProgressBar;
    if (!timer) return;
    SipEngine* engine = m_ctx.engine;
    bool inCall = false;
    for (int line = 0; engine && !inCall && line < m_ctx.state.LineCount; ++line)
        inCall = engine->IsLineBusy(line);
    if (inCall) {
        if (!timer->isActive()) timer->start();
        return;
    }
    timer->stop();
    m_ctx.ui->SpkProgress->setValue(0);
    m_ctx.ui->MicProgress->setValue(0);
}

void AudioControls::onTimerProgressBarTick() {
    SipEngine* engine = m_ctx.engine;
    if (!engine) return;
    setBar(m_ctx.ui->SpkProgress, engine->SpeakerLevel());
    setBar(m_ctx.ui->MicProgress, engine->MicLevel());
}

} // namespace corvid
