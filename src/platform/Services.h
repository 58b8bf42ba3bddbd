#pragma once
// The desktop services the dialer uses, each behind a small interface so that tests can replace
// it with a recording fake (tests/support/FakePlatform.h). The real implementations live in
// platform/ and are created once in main().

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;

namespace corvid {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual QString text() const = 0; // plain text of the clipboard proper (not the X11 selection)
    virtual void setText(const QString& text) = 0;
    virtual void clear() = 0;
    // handler runs whenever the clipboard's content changes, whoever changed it (this program
    // included, possibly from inside setText or clear); an empty handler stops the notices.
    virtual void setChangeHandler(std::function<void()> handler) = 0;
    // Whether a copy made in another program reaches the dialer while another window has the focus
    // (some Wayland desktops hand the clipboard only to the focused window).
    virtual bool seesOtherWindows() const { return true; }
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts a program detached, without a shell, each argument a separate item.
    // Answers false when the program could not be started.
    virtual bool startDetached(const QString& program, const QStringList& arguments = {}) = 0;
};

class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    virtual bool openUrl(const QUrl& url) = 0;              // the desktop's handler for the address
    virtual bool openInTextEditor(const QString& path) = 0; // the desktop's text editor, detached
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A box with one OK button and the application's title. The window's top is moved to 1000
    // twips (67 logical pixels) first when window is given.
    virtual void information(QWidget* window, const QString& text) = 0;
};

class RingSound {
public:
    virtual ~RingSound() = default;
    virtual void startLoop(const QString& fileName) = 0; // looked up in the working folder, then next to the program
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // A short tone in the agent's ear, once, over whatever else plays (a waiting call, an answer by
    // itself).
    virtual void beep() {}
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // A desktop notification (and the window's attention) for something the agent should see while
    // the window is not active.
    virtual void notify(QWidget* window, const QString& title, const QString& text) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The set handed to every subsystem. Not owning.
struct Services {
    Clipboard* clipboard = nullptr;
    ProcessLauncher* processes = nullptr;
    DesktopOpener* desktop = nullptr;
    MessageBoxes* messages = nullptr;
    RingSound* ring = nullptr;
    Clock* clock = nullptr;
    Notifier* notifier = nullptr;
};

} // namespace corvid
