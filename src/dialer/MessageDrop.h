#pragma once
// The answering-machine message drop: "PAM" hands the call on the transfer line to the PBX's
// message service ("*55" + the agent's user name) and moves on; "LIS" calls that service to hear
// the recorded message; the three message buttons play a pre-recorded message into the playback
// line, and stop pauses it. The engine's PlayWaveDone is logged here.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

class MessageDrop : public QObject {
    Q_OBJECT
public:
    static constexpr int AfterDropWaitMs = 500;
    static constexpr int BeforePlayWaitMs = 250;

    explicit MessageDrop(WindowContext& ctx, QObject* parent = nullptr);

    // "*55" + the trimmed user name.
    QString messageServiceNumber() const;

    // "PAM", also the clipboard command "#pam". Answers whether the engine took the transfer; a
    // refused transfer shows the engine's error and logs no drop (no status line, no call-log row):
    // the call is still on the line.
    bool onPlayMsgPushClicked();
    // "LIS"
    void onLamPushClicked();
    // The message buttons: open slot n on the playback line, wait, start playing.
    void playMessage(int n);
    void onStopPlayPushClicked();
    void onPlayWaveDone(int line);

private:
    WindowContext& ctx;
};

} // namespace corvid
