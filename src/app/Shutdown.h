#pragma once
// The shutdown sequence, run by closing the window and by File > exit: the ring tone stops, the dial
// automation takes no further request and a message drop still waiting is given up, every
// call still up is hung up as the agent's hang-up would (its recording saved, its row written), the
// phone goes offline, a second later the engine stops and the process ends.

#include <QObject>

#include <functional>

namespace corvid {

struct WindowContext;

class Shutdown : public QObject {
    Q_OBJECT
public:
    explicit Shutdown(WindowContext& ctx, QObject* parent = nullptr);

    // The sequence; it ends the process with ForceQuit and exit code 0, a clean close. A second
    // request while it runs (its waits handle clicks) is ignored. Asked for while a call end runs (a handler waiting for its recording to be
    // saved, with this request inside its wait), the sequence starts once the last call end is over.
    void run();
    void onExitcmdTriggered();
    bool isRunning() const { return m_running; }

    // What ends the process (ForceQuit(0) by default); tests observe it instead.
    void setForceQuit(std::function<void()> forceQuit) { m_forceQuit = std::move(forceQuit); }

private:
    void onCallEndsFinished();
    void hangUpLiveCalls();

    WindowContext& m_ctx;
    std::function<void()> m_forceQuit;
    bool m_running = false;
    bool m_pending = false;
};

} // namespace corvid
