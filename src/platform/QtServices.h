#pragma once
// The real desktop services behind Services.h, on Qt. Created once in main() (QtServices) and handed
// to every subsystem as a Services set.

#include "platform/Services.h"

#include <QMetaObject>

#include <memory>

class QSoundEffect;
class QSystemTrayIcon;
class QTemporaryFile;

namespace corvid {

// The clipboard proper (never the X11 selection), plain text. Without a GUI application it reads as
// empty and ignores writes.
class QtClipboard : public Clipboard {
public:
    QString text() const override;
    void setText(const QString& text) override;
    void clear() override;
    void setChangeHandler(std::function<void()> handler) override;
    bool seesOtherWindows() const override;

private:
    QMetaObject::Connection m_changed;
};

// Starts programs detached, without a shell: the program path and each argument go to the system
// as they are, so blanks, quotes and shell characters in them mean nothing special.
class QtProcessLauncher : public ProcessLauncher {
public:
    bool startDetached(const QString& program, const QStringList& arguments = {}) override;
};

// Addresses go to the desktop's handler. Text files open in Notepad on Windows and in the desktop's
// default application for the file elsewhere, always detached and without a shell.
class QtDesktopOpener : public DesktopOpener {
public:
    bool openUrl(const QUrl& url) override;
    bool openInTextEditor(const QString& path) override;
};

// Modal boxes with one OK button. The title is the application's display name unless one is given.
// The text is always shown as plain text (a reason text such as "<sip:...>" is not markup).
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QString title = {});
    void information(QWidget* window, const QString& text) override;

private:
    QString m_title;
};

// Where a sound file named fileName is: an absolute name as it is; otherwise the first of
// workingDir/fileName, programDir/fileName and programDir/../share/corvid-dialer/fileName (the
// installed layout as the build configured it, relative to the program so a moved install still
// finds it) that is a file. Empty when it is nowhere; an empty directory is skipped.
QString LocateSoundFile(const QString& fileName, const QString& workingDir, const QString& programDir);

// A looping sound effect, looked up by LocateSoundFile from the working folder and the program's
// folder. A missing file or no sound device plays nothing and reports nothing.
class QtRingSound : public RingSound {
public:
    QtRingSound();
    ~QtRingSound() override;
    void startLoop(const QString& fileName) override;
    void stop() override;
    bool isPlaying() const override;
    void beep() override;

    // Where startLoop would find fileName; empty when it is nowhere.
    static QString locate(const QString& fileName);

private:
    std::unique_ptr<QSoundEffect> m_effect;
    std::unique_ptr<QSoundEffect> m_beep;
    std::unique_ptr<QTemporaryFile> m_beepFile;
};

// The window asks for attention (the task bar), and where the desktop has a notification area the
// notification shows there.
class QtNotifier : public Notifier {
public:
    QtNotifier();
    ~QtNotifier() override;
    void notify(QWidget* window, const QString& title, const QString& text) override;

private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override;
};

// One of each real service, owned together. In a Wayland session whose compositor lends its
// clipboard-manager protocol, the clipboard is read and written through that instead of the
// toolkit's, so that copies made while another window has the focus reach the dialer too.
class QtServices {
public:
    QtServices();
    ~QtServices();
    QtServices(const QtServices&) = delete;
    QtServices& operator=(const QtServices&) = delete;

    Services services();
    Clipboard* activeClipboard();

    QtClipboard clipboard;
    QtProcessLauncher processes;
    QtDesktopOpener desktop;
    QtMessageBoxes messages;
    QtRingSound ring;
    SystemClock clock;
    QtNotifier notifier;

private:
    std::unique_ptr<Clipboard> m_dataControl;
    bool m_dataControlTried = false;
};

} // namespace corvid
