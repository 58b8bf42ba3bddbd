#pragma once
// The agent's audio controls: sound device lists, volume sliders and mute boxes, the level bars,
// the audio processing options, the codec boxes, forced in-band DTMF and the ring-tone boxes.
// Each control acts on the engine the moment its value changes (from a click or from code).

#include <QObject>

#include <array>

class QCheckBox;
namespace Ui {
class MainForm;
}

namespace corvid {

struct WindowContext;

// Engine volume per slider step (slider 0..10 → volume 0..250).
constexpr int VolumePerSliderStep = 25;
// The top of the engine's level scale (MicLevel / SpeakerLevel); the level bars show 0..100 of it.
constexpr int EngineLevelMax = 32767;

// A codec box of the form and the engine's number of its codec.
struct CodecBox {
    QCheckBox* box;
    int codec;
};
// The five codec boxes, in the order going online offers their codecs (G.711 u-law, G.729,
// G.711 A-law, GSM 6.10, iLBC).
std::array<CodecBox, 5> codecBoxes(const Ui::MainForm& ui);

class AudioControls : public QObject {
    Q_OBJECT
public:
    // Wires the audio controls of ctx.ui, the TimerProgressBar tick and what starts and stops it.
    explicit AudioControls(WindowContext& ctx, QObject* parent = nullptr);

    // "Default Device" followed by the engine's devices; the default entry is selected.
    void FillInputDevices();
    void FillOutputDevices();

    void onSliderSpkVolChanged(int value);
    void onSliderMicVolChanged(int value);
    void onCheckSpkMuteToggled(bool checked);
    void onCheckMuteMicToggled(bool checked);
    void onCheckAGCToggled(bool checked);
    void onCheckMicBoostToggled(bool checked);
    void onCheckEchoCancelToggled(bool checked);
    void onCodecToggled(int codec, bool checked);
    void onCheckForceInbandDTMFToggled(bool checked);
    void onCheckPlayDialToneToggled(bool checked);
    void onCheckPlayRingToneToggled(bool checked);
    // Every 20 ms while a line has a call: two engine reads, two bar writes.
    void onTimerProgressBarTick();
    // The level bars run while any line has a call, from placing or answering it until the last
    // call has ended; stopped, both bars show 0. Runs on the engine's call events and on the
    // line-status tick (the engine reports no event for the agent's own hang-up).
    void updateLevelTimer();

private:
    WindowContext& m_ctx;
};

} // namespace corvid
