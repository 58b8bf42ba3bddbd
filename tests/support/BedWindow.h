#pragma once
// The real window on the real engine for an account of the loopback test bed, built as the program
// builds it on a fresh install root: settings that take start-up online by itself (Mon = "True"),
// the outbound proxy of the settings handed to the engine on going online, every status-log line
// kept in order. For the end-to-end tests and the benchmarks.

#include "engine/linphone/LinphoneEngine.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <memory>

namespace corvid::test {

struct BedWindow {
    static constexpr int WaitMs = 10000;

    struct Setup {
        BedAccount account = Account1001;
        QString displayName = QStringLiteral("Demo Agent"); // empty: no DisplayName key
        QString playFile;                                   // the engine's microphone: this wave
        QList<QPair<QString, QString>> extra;               // settings that replace the account's
    };

    std::unique_ptr<LinphoneEngine> engine; // declared first: it outlives the window
    MainFormFixture fixture;
    QStringList logLines; // every line the status log received, in order

    // Writes the settings, builds the engine and the window (start-up runs). Echo cancelling is
    // switched off (it would cut steady test tones into bursts) and so is the capture device (the
    // play file is the microphone, whatever sound card is there). Files the start-up should read
    // are written into fixture before.
    void start(const SipTestBed& bed, const Setup& setup);
    // Until the status log holds only "Ready...": online and registered.
    bool waitRegistered(int ms = 5000 + WaitMs) const;
    // The engine stopped, then the window and the engine dropped.
    void stop();

    Ui::MainForm& ui() const { return fixture.ui(); }
    bool logged(const QString& line) const { return logLines.contains(line); }
    bool waitLogged(const QString& line, int ms = WaitMs) const;
    // The rows of the display name's CSV call log, without their CR LF.
    QStringList callLogRows() const;

private:
    QString m_displayName;
};

} // namespace corvid::test
