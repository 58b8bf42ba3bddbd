// A dialer killed in the middle of a recorded call, against the loopback test bed: the next start of
// the real program writes the call's row and saves its recording before it goes online.
//
// The killed dialer is this test program run again as a child ("--dialer ROOT NUMBER"): the window
// and engine built as main() builds them, with the real desktop services, which places the call
// through the Call button and reports on stdout once it is connected.

#include "app/MainForm.h"
#include "integrations/PbxPage.h"
#include "platform/QtServices.h"
#include "support/BedWindow.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <cstdio>

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kAgent = QStringLiteral("Demo Agent");

int runDialer(const QString& rootDir, const QString& number) {
    const InstallRoot root(rootDir);
    QtServices services;
    LinphoneEngine::Options options;
    options.dataDir = root.engineDataDir();
    LinphoneEngine engine(options);
    MainForm window(root, services.services(), &engine);
    // The PBX page stays out of the child, as in every window test; the real program shows it.
    window.context().subsystems.pbxPage->setPageLoader([](const QUrl&) {});
    QStringList log;
    BedWindow::attach(window, &engine, &log);
    Ui::MainForm& ui = *window.form();
    const auto failed = [&] {
        std::fprintf(stderr, "status log: %s\n", qPrintable(log.join(QStringLiteral(" | "))));
        return 2;
    };
    if (!QTest::qWaitFor([&] { return log.contains(QStringLiteral("Ready...")); }, 20000)) return failed();
    ui.EditPhoneNo->setText(number);
    ui.BtnDial->click();
    if (!QTest::qWaitFor([&] { return log.contains(QStringLiteral("Line- 1: Success to connect.")); }, 10000))
        return failed();
    std::printf("connected\n");
    std::fflush(stdout);
    return QApplication::exec(); // until killed
}

} // namespace

class TestCrashSafe : public QObject {
    Q_OBJECT
private slots:
    void killedDialerKeepsTheCallsRowAndRecording() {
        BedRun run;
        QVERIFY(run.start());
        MainFormFixture root; // only its install root and settings
        root.writeSettings(BedWindow::settings(*run.bed, {Account1001, kAgent, {}, {{"recordAll", "True"}}}));

        QProcess dialer;
        dialer.start(QCoreApplication::applicationFilePath(), {"--dialer", root.rootPath(), BedNumber::Answer});
        auto stopDialer = qScopeGuard([&] {
            dialer.kill();
            dialer.waitForFinished(5000);
        });
        QVERIFY2(QTest::qWaitFor([&] { return dialer.readAllStandardOutput().contains("connected"); }, 40000),
                 dialer.readAllStandardError().constData());
        QTest::qWait(4000); // a few seconds of the call
        ::kill(pid_t(dialer.processId()), SIGKILL);
        QVERIFY(dialer.waitForFinished(20000));
        QVERIFY(root.fileExists("bin/calls/line1.call"));
        QVERIFY(!root.fileExists("logs/" + kAgent + "_calllogs.csv"));

        QProcess program;
        program.start(QStringLiteral(CORVID_DIALER_BINARY), {"--root", root.rootPath()});
        auto stopProgram = qScopeGuard([&] {
            program.terminate();
            if (!program.waitForFinished(10000)) program.kill();
        });
        // The journal's line comes last, after the row and the recording.
        QTRY_VERIFY_WITH_TIMEOUT(root.readFile("logs/automation.log").contains("\trecovery\t9001\t"), 20000);
        const QByteArray rows = root.readFile("logs/" + kAgent + "_calllogs.csv");
        QVERIFY2(rows.startsWith("\"9001\",\"Demo Agent\",") && rows.endsWith(",\"dialer stopped\"\r\n") &&
                     rows.count('\n') == 1,
                 rows);
        // Its seconds: up to the last update before the kill.
        QVERIFY2(rows.split(',').value(2).mid(1).chopped(1).toInt() >= 2, rows);
        const QStringList recordings = QDir(root.root().messages()).entryList({"9001_*.wav"}, QDir::Files);
        QVERIFY2(recordings.size() == 1, root.readFile("logs/automation.log").constData());
        const int ms = waveDurationMs(root.root().messages() + '/' + recordings[0]);
        QVERIFY2(ms >= 2000, qPrintable(QString::number(ms)));
        // Its call-detail record, with the engine's figures of the last update and the recording.
        const QJsonObject detail = QJsonDocument::fromJson(root.readFile("logs/" + kAgent + "_calls.jsonl")).object();
        QVERIFY2(detail.value("ended_by") == "dialer stopped" && detail.value("result") == "dialer stopped" &&
                     detail.value("packets_received").toInt() > 50 && !detail.value("call_id").toString().isEmpty() &&
                     detail.value("recording").toString().endsWith(recordings[0]),
                 root.readFile("logs/" + kAgent + "_calls.jsonl").constData());
        QVERIFY(!root.fileExists("bin/calls/line1.call"));
        QVERIFY(run.stop());
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--dialer") == 0)
        return runDialer(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TestCrashSafe test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashsafe_e2e.moc"
