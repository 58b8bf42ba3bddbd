// A dialer killed in the middle of a recorded call, against the loopback test bed: the next start of
// the real program writes the call's row and saves its recording before it goes online.
//
// The killed dialer is this test program run again as a child ("--dialer ROOT NUMBER"): the window
// and engine built as main() builds them, with the real desktop services, which places the call
// through the Call button and reports on stdout once it is connected.

#include "app/MainForm.h"
#include "integrations/PbxPage.h"
#include "engine/WaveFile.h"
#include "phone/OnlineControl.h"
#include "platform/QtServices.h"
#include "support/BedWindow.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDir>
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
    window.context().subsystems.online->setOutboundProxyHook([&engine](const QString& hostPort) {
        LinphoneEngine::Options o = engine.options();
        o.outboundProxy = hostPort;
        engine.setOptions(o);
    });
    Ui::MainForm& ui = *window.form();
    ui.CheckEchoCancel->setChecked(false);
    ui.CheckCaptureSoundDevice->setChecked(false);
    QStringList log;
    QObject::connect(ui.ListStatusLog->model(), &QAbstractItemModel::rowsInserted, &window,
                     [&](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             log << ui.ListStatusLog->model()->index(row, 0).data().toString();
                     });
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
        const QString provider = SipTestBed::providerDomain();
        root.writeSettings({{"customerNumber", "DM12341001secret1001"},
                            {"Password", "secret1001"},
                            {"Login", "1001"},
                            {"AuthLogin", "1001"},
                            {"OutBoundProxy", "1234." + provider},
                            {"SIPProxy", "1234." + provider},
                            {"Mon", "True"},
                            {"ProviderDomain", provider},
                            {"SipOutboundProxy", run.bed->proxyAddress()},
                            {"DisplayName", kAgent},
                            {"recordAll", "True"}});

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
        const QString csv = "logs/" + kAgent + "_calllogs.csv";
        const QList<QByteArray> row = root.readFile(csv).chopped(2).split(',');
        QCOMPARE(row.size(), 6);
        QCOMPARE(row[0], QByteArray("\"9001\""));
        QCOMPARE(row[1], "\"" + kAgent.toUtf8() + "\"");
        QVERIFY2(row[2].mid(1).chopped(1).toInt() >= 2, row[2]); // up to the last update before the kill
        QCOMPARE(row[5], QByteArray("\"dialer stopped\""));

        const QStringList recordings = QDir(root.root().messages()).entryList({"9001_*.wav"}, QDir::Files);
        QVERIFY2(recordings.size() == 1, root.readFile("logs/automation.log").constData());
        WaveInfo wave;
        QCOMPARE(readWaveInfo(root.root().messages() + '/' + recordings[0], &wave), WaveCheck::Ok);
        QVERIFY2(wave.durationMs() >= 2000, qPrintable(QString::number(wave.durationMs())));
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
