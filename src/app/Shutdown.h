#pragma once
// The shutdown sequence, run by closing the window and by File > exit: the ring tone stops, the
// phone goes offline, a second later the engine stops and the process ends.

#include <QObject>

#include <functional>

namespace corvid {

struct WindowContext;

class Shutdown : public QObject {
    Q_OBJECT
public:
    explicit Shutdown(WindowContext& ctx, QObject* parent = nullptr);

    // The sequence; it ends with ForceQuit. A second request while it runs (its wait handles
    // clicks) is ignored.
    void run();
    void onExitcmdTriggered();
    bool isRunning() const { return m_running; }

    // What ends the process (ForceQuit by default); tests observe it instead.
    void setForceQuit(std::function<void()> forceQuit) { m_forceQuit = std::move(forceQuit); }

private:
    WindowContext& m_ctx;
    std::function<void()> m_forceQuit;
    bool m_running = false;
};

} // namespace corvid
