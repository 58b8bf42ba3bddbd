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

class CallEnd : public QObject {
    Q_OBJECT
public:
    explicit CallEnd(WindowContext& ctx, QObject* parent = nullptr);

    // The agent's hang-up ("Stop"); also run by the busy reaction and the dial automation.
    void onBtnHangUpClicked();

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
