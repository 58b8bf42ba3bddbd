#pragma once
// The "Play wave (.wav)" panel: opens a wave file on the line chosen in ComboPlayWave and starts,
// pauses, stops and skips it through the engine; the three message slots open the pre-recorded
// messages, whose paths start in the install root's PreRecordedMessages folder. Every refusal shows
// the engine's error. What is open or playing on a line is the engine's state, not the panel's.

#include <QObject>

namespace corvid {

struct WindowContext;

class WavePlayback : public QObject {
    Q_OBJECT
public:
    // The skip buttons move the play position by this much (the engine counts milliseconds).
    static constexpr int SkipMs = 2000;

    explicit WavePlayback(WindowContext& ctx, QObject* parent = nullptr);

    // The line the panel addresses: the selected entry of ComboPlayWave.
    int playbackLine() const;

    void onBtnSetPlayFileClicked();
    // "Play1" to "Play3": open message slot n (1 to 3) on the playback line. Answers whether the
    // engine accepted it.
    bool openMessage(int n);
    // ">": start playing on the playback line, listening when "Listen" is ticked.
    bool startPlaying();
    void onBtnPlayPauseClicked();
    void onBtnPlayStopClicked();
    void onBtnPlayForwardClicked();
    void onBtnPlayRewindClicked();

private:
    bool check(bool accepted);
    WindowContext& ctx;
};

} // namespace corvid
