#pragma once
// The main window: owns the Designer form's widgets, the window's timers and the subsystem objects,
// and wires them together. No behaviour lives here: each subsystem connects its own controls.

#include "window/WindowContext.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QCloseEvent;

namespace corvid {

class Startup;
class AccountPanel;
class Panels;
class Shutdown;

class MainForm : public QMainWindow {
    Q_OBJECT
public:
    // engine may be null (the window then runs without a SIP engine: nothing can go online).
    MainForm(const InstallRoot& root, const Services& services, SipEngine* engine, QWidget* parent = nullptr);
    ~MainForm() override;

    WindowContext& context() { return m_ctx; }
    Ui::MainForm* form() const { return m_ui.get(); }
    Startup& startup() const { return *m_startup; }
    AccountPanel& accountPanel() const { return *m_accountPanel; }
    Panels& panels() const { return *m_panels; }
    Shutdown& shutdown() const { return *m_shutdown; }

    // The window's timers with their design-time intervals, owned by owner and not started.
    static WindowTimers createTimers(QObject* owner);

protected:
    // Closing the window runs the shutdown sequence, which ends the process; the window itself is
    // not closed by the event.
    void closeEvent(QCloseEvent* event) override;

private:
    void createWebBrowser();

    std::unique_ptr<Ui::MainForm> m_ui;
    WindowContext m_ctx;
    Startup* m_startup = nullptr;
    AccountPanel* m_accountPanel = nullptr;
    Panels* m_panels = nullptr;
    Shutdown* m_shutdown = nullptr;
};

} // namespace corvid
