#pragma once
// A call from its first sign of life to its end: the engine's call-progress events, the agent's
// hang-up, the far end's hang-up, and the per-line mute of speaker and microphone. At call end the
// call-seconds counter stops, a pending recording is saved, one row goes to the agent's CSV call
// log and the window returns to idle. Each ended call gets one row, whichever lines end meanwhile
// (the per-line record of LineStatus keeps this).

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

// The status-log line of a hang-up asked for with no call on the line.
inline const QString NoCallToEndText = QStringLiteral("No call to end.");

class CallEnd : public QObject {
    Q_OBJECT
public:
    explicit CallEnd(WindowContext& ctx, QObject* parent = nullptr);

    // The agent's hang-up ("Stop"); also run by the busy reaction, the dial automation and the
    // monitoring buttons. With no call on the line it writes no row and says so in the status log.
    void onBtnHangUpClicked();
    // Every line still in a call is hung up through the agent's hang-up on that line (its recording
    // saved, its row written): before going offline or closing, which would drop them without a row.
    // The handler waits; the caller checks that it is still there.
    void hangUpLiveCalls();

    // Engine events.
    void onCallConnecting(int line);
    void onProvisionalResponse(int line, int statusCode, const QString& reason);
    void onRedirectionResponse(int line, int statusCode, const QString& reason, const QString& contact);
    void onRequestFailureResponse(int line, int statusCode, const QString& reason);
    void onServerFailureResponse(int line, int statusCode, const QString& reason);
    void onGlobalFailureResponse(int line, int statusCode, const QString& reason);
    void onCallFailed(int line);
    void onCallConnected(int line, const QString& remote, int codec);
    void onDtmfDigitReceived(int line, const QString& digit);
    void onCallHungUp(int line);
    // The sound device hangs and the engine gave up the line's call: ended as the agent's hang-up
    // ends it (its recording saved, its row written), and the status log says why.
    void onSoundDeviceHung(int line);

    // Per-line mute.
    void onComboMuteLineChanged(int index);
    void onCheckMuteLineSPKToggled(bool checked);
    void onCheckMuteLineMICToggled(bool checked);

private:
    void addStatusLog(const QString& text);
    void applyInBandSetting();

    WindowContext& ctx;
};

} // namespace corvid
