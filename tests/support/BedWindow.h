#pragma once
// The real window on the real engine for an account of the loopback test bed, built as the program
// builds it on a fresh install root: settings that take start-up online by itself (Mon = "True"),
// the outbound proxy of the settings handed to the engine on going online, every status-log line
// kept in order. For the end-to-end tests and the benchmarks.

#include "app/MainForm.h"
#include "engine/linphone/LinphoneEngine.h"
#include "platform/QtServices.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include <QDir>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace corvid::test {

using Settings = QList<QPair<QString, QString>>;

// Whether a recording holds hz from skipMs on, well above quietHz (a tone nobody sends).
bool hearsTone(const QString& wave, int hz, int skipMs, int quietHz = 700);

struct BedWindow {
    static constexpr int WaitMs = 10000;

    struct Setup {
        BedAccount account = Account1001;
        QString displayName = QStringLiteral("Demo Agent"); // empty: no DisplayName key
        QString playFile{};                                 // the engine's microphone: this wave
        Settings extra{};                                   // settings that replace the account's
    };
    // The settings start() writes: the account's on the bed, replaced by setup.extra.
    static Settings settings(const SipTestBed& bed, const Setup& setup);

    std::unique_ptr<LinphoneEngine> engine; // declared first: it outlives the window
    MainFormFixture fixture;
    QStringList logLines; // every line the status log received, in order

    // Writes the settings, builds the engine and the window (start-up runs). Echo cancelling is
    // switched off (it would cut steady test tones into bursts) and so is the capture device (the
    // play file is the microphone, whatever sound card is there). Files the start-up should read
    // are written into fixture before.
    void start(const SipTestBed& bed, const Setup& setup);
    // What start() does to a window built on engine: the settings' outbound proxy and security reach
    // the engine on going online, the status log's lines go to log, echo cancelling and capture off.
    static void attach(MainForm& window, LinphoneEngine* engine, QStringList* log);
    // The engine is stopped before the window and the engine go.
    ~BedWindow();
    // Until the status log holds only "Ready...": online and registered.
    bool waitRegistered(int ms = 5000 + WaitMs) const;

    Ui::MainForm& ui() const { return fixture.ui(); }
    bool logged(const QString& line) const { return logLines.contains(line); }
    bool waitLogged(const QString& line, int ms = WaitMs) const;
    // The agent dials number with the Dial button; connected() waits until line (1 or 2) connects.
    void dial(const QString& number) const;
    bool connected(int line = 1) const;
    // The rows of the display name's CSV call log, without their CR LF (a marker row when the
    // file does not end in CR LF).
    QStringList callLogRows() const;
    // Whether the call log's row at index is of a call to number (with the display name) ended with result.
    bool hasRow(int index, const QString& number, const QString& result) const;
    // The seconds of the call log's row at index.
    int rowSeconds(int index = 0) const;
    // The paths of the recordings in the messages folder.
    QStringList recordings() const;

private:
    QString m_displayName;
};

// The loopback test bed of one test program, with a work folder for its files.
struct BedRun {
    std::unique_ptr<SipTestBed> bed;
    QTemporaryDir work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};

    // false, with the reason as a warning, when the work folder or the bed did not start.
    bool start(const SipTestBed::Options& options = {});
    // Drops the bed; whether none of its processes (nor of the others given) is left.
    bool stop(QList<qint64> others = {});
    // ms of hz (0: silence) in the work folder, written on first use.
    QString tone(int hz, int ms = 60000);
    // The agent's window: account 1001, "Demo Agent", playing 1000 Hz, extra settings replacing the
    // account's; registered (nullptr when that did not come) unless told not to wait.
    template <typename W = BedWindow> std::unique_ptr<W> window(const Settings& extra = {}, bool registered = true) {
        auto w = std::make_unique<W>();
        w->start(*bed, {Account1001, QStringLiteral("Demo Agent"), tone(1000), extra});
        return !registered || w->waitRegistered() ? std::move(w) : nullptr;
    }
};

// The window and engine as the program builds them, with the real desktop services (the PBX page
// left out), for a test program run again as a child dialer; its status-log lines collect in log.
struct ProgramWindow {
    explicit ProgramWindow(const InstallRoot& root);
    QtServices services;
    LinphoneEngine engine;
    MainForm window;
    QStringList log;
};

} // namespace corvid::test
