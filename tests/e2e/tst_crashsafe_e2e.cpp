// The real program crashing in the middle of a recorded call, against the loopback test bed: its
// watchdog starts it again at once, and the new dialer writes the call's row, saves its recording,
// says in the journal that it restarted, and registers again.
//
// The watched dialer is this test program run again as "--dialer ROOT", built as main() builds the
// real one: its watchdog first, then the instance lock, the window and the engine with the real
// desktop services. Its first start places the recorded call as the agent would (the Call button).

#include "app/MainForm.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "integrations/PbxPage.h"
#include "platform/QtServices.h"
#include "platform/SingleInstance.h"
#include "platform/StopSignals.h"
#include "platform/Supervisor.h"
#include "support/BedWindow.h"
#include "ui_MainForm.h"

#include <QApplication>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <numeric>

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kAgent = QStringLiteral("Demo Agent");

// The pid in the install root's instance lock: the dialer itself, not its watchdog.
qint64 lockHolder(const MainFormFixture& root) {
    return root.readFile(SingleInstance::lockFileName()).split('\n').value(0).toLongLong();
}

// The permission bits of each path (owner, group, other), in hex.
QString modes(const QStringList& paths) {
    return std::accumulate(paths.begin(), paths.end(), QString(), [](const QString& m, const QString& path) {
        return m + QString::number(QFileInfo(path).permissions().toInt() & 0x7077, 16) + ' ';
    });
}

const char* const kNumber = "9001234567";

int runDialer(int argc, char* argv[]) {
    if (const int watchdogExit = supervisor::run(argv); watchdogExit >= 0) return watchdogExit;
    QApplication app(argc, argv);
    const QString rootDir = QString::fromLocal8Bit(argv[2]);
    SingleInstance instance(rootDir);
    if (instance.tryAcquire() == SingleInstance::Result::HeldByAnother) return 1;
    const InstallRoot root(rootDir);
    root.createMissingFolders();
    root.makePrivate();
    ProgramWindow program(root);
    MainForm& window = program.window;
    supervisor::Restart restart;
    const bool restarted = supervisor::takeRestart(restart);
    if (restarted) NoteRestartAfterFailure(window.context(), supervisor::signalText(restart.signal), restart.when);
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window, [&window] { window.shutdown().run(); });
    if (!restarted) {
        if (!QTest::qWaitFor([&] { return program.log.contains(QStringLiteral("Ready...")); }, 30000)) return 2;
        window.form()->EditPhoneNo->setText(QString::fromLatin1(kNumber));
        window.form()->BtnDial->click();
    }
    return QApplication::exec();
}

} // namespace

class TestCrashSafe : public QObject {
    Q_OBJECT
private slots:
    void crashedDialerIsBackWithTheCallsRowAndRecording() {
        BedRun run;
        QVERIFY(run.start());
        MainFormFixture root; // only its install root and settings
        root.writeSettings(BedWindow::settings(*run.bed, {Account1001, kAgent, {}, {{"recordAll", "True"}}}));

        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        // Under AddressSanitizer the crash signal stays the dialer's own (its handler would abort).
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":handle_segv=0");
        program.setProcessEnvironment(env);
        program.start(QCoreApplication::applicationFilePath(), {"--dialer", root.rootPath()});
        auto stopProgram = qScopeGuard([&] {
            program.terminate();
            if (!program.waitForFinished(15000)) program.kill();
        });
        QTRY_VERIFY_WITH_TIMEOUT(!run.bed->locationContacts(Account1001.user).isEmpty(), 30000);
        const QStringList registration = run.bed->locationContacts(Account1001.user, nullptr, "Call-ID");
        // A few seconds of the recorded call, as its live record says.
        const QRegularExpression recorded(QStringLiteral("seconds=([3-9]|\\d\\d)\\n(.|\\n)*part="));
        QTRY_VERIFY2_WITH_TIMEOUT(recorded.match(QString::fromUtf8(root.readFile("bin/calls/line1.call"))).hasMatch(),
                                  root.readFile("logs/automation.log").constData(), 30000);

        // The record (the customer's number, the agent's name) is the agent's alone; the rest of the
        // root is left as an older version or a demo root leaves it, for the next start to tighten.
        const InstallRoot& r = root.root();
        QCOMPARE(modes({r.binFile("calls"), r.binFile("calls") + "/line1.call"}), "7000 6000 ");
        const QStringList upgraded{r.settingsFile(), r.bin(), r.logs(), r.messages()};
        for (const QString& path : upgraded)
            QVERIFY(QFile::setPermissions(path, QFileInfo(path).permissions() | QFile::ReadGroup | QFile::ReadOther));

        const qint64 crashed = lockHolder(root);
        QVERIFY(crashed > 0 && crashed != program.processId());
        QCOMPARE(::kill(pid_t(crashed), SIGSEGV), 0);
        // Back within 15 s: a new dialer holds the root and registers anew.
        QTRY_VERIFY_WITH_TIMEOUT(root.readFile("logs/automation.log").contains("\tsupervisor\t"), 15000);
        const QByteArray journal = root.readFile("logs/automation.log");
        QVERIFY2(QRegularExpression(QStringLiteral("\\trecovery\\t9001234567\\t.*\\n.*\\tsupervisor\\tSegmentation "
                                                   "fault \\(signal 11\\)\\trestarted after a failure at \\d{4}-"))
                     .match(QString::fromUtf8(journal))
                     .hasMatch(),
                 journal.constData());
        QTRY_VERIFY_WITH_TIMEOUT(!run.bed->locationContacts(Account1001.user, nullptr, "Call-ID").isEmpty() &&
                                     run.bed->locationContacts(Account1001.user, nullptr, "Call-ID") != registration,
                                 15000);
        QVERIFY(lockHolder(root) != crashed);
        QCOMPARE(program.state(), QProcess::Running);

        const QByteArray rows = root.readFile("logs/" + kAgent + "_calllogs.csv");
        QVERIFY2(rows.startsWith("\"9001234567\",\"Demo Agent\",") && rows.endsWith(",\"dialer stopped\"\r\n") &&
                     rows.count('\n') == 1,
                 rows);
        QVERIFY2(rows.split(',').value(2).mid(1).chopped(1).toInt() >= 3, rows); // up to the last update
        const QStringList recordings = QDir(root.root().messages()).entryList({"9001234567_*.wav"}, QDir::Files);
        QVERIFY2(recordings.size() == 1, journal.constData());
        const int ms = waveDurationMs(root.root().messages() + '/' + recordings[0]);
        QVERIFY2(ms >= 2000, qPrintable(QString::number(ms)));
        // Its call-detail record, with the engine's figures of the last update and the recording.
        const QJsonObject detail = QJsonDocument::fromJson(root.readFile("logs/" + kAgent + "_calls.jsonl")).object();
        QVERIFY2(detail.value("ended_by") == "dialer stopped" && detail.value("result") == "dialer stopped" &&
                     detail.value("packets_received").toInt() > 50 && !detail.value("call_id").toString().isEmpty() &&
                     detail.value("recording").toString().endsWith(recordings[0]),
                 root.readFile("logs/" + kAgent + "_calls.jsonl").constData());
        QVERIFY(!root.fileExists("bin/calls/line1.call"));
        QCOMPARE(modes(upgraded + QStringList{r.messages() + '/' + recordings[0]}), "6000 7000 7000 7000 6000 ");

        // A stop for the watchdog closes the dialer, and neither is started again.
        program.terminate();
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(::kill(pid_t(lockHolder(root)), 0) != 0 || !root.fileExists(SingleInstance::lockFileName()));
        QVERIFY(run.stop());
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--dialer") == 0) return runDialer(argc, argv);
    QApplication app(argc, argv);
    TestCrashSafe test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_crashsafe_e2e.moc"
