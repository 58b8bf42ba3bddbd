// The main window's start-up, account panel, clock and shutdown, the previous-instance test with
// the real program, and the accessible names of the controls.

#include "support/FakeEngine.h"
#include "support/MainFormFixture.h"

#include "platform/SingleInstance.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

using namespace corvid;
using namespace corvid::test;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    // What start-up derives from the settings and list files: the "pbx" prefix of the addresses,
    // the 49-agent cap, the monitor list named by the authentication login, the web settings file.
    // The settings file has LF line ends, as a Linux editor writes it, and a value holding "[".
    void startupDerivesTheFieldsFromTheSettings() {
        MainFormFixture f;
        f.writeFile("bin/corvidapp.ini", "[System]\nLogin=6789\nTransferNumber=5551234567 [Sales]\n"
                                         "AuthLogin=6790\ncustomerNumber=12345678901234567890\n"
                                         "SIPProxy=2345.example.net\n");
        QByteArray agents;
        for (int i = 0; i < 60; ++i)
            agents += QByteArray::number(100 + i) + "_Agent\r\n";
        f.writeFile("bin/agentlist.txt", agents);
        f.writeFile("bin/6790.txt", "201_Bob,\"202_Carol, Desk\"\r\n203\r\n");
        f.create();
        QCOMPARE(f.ui().EditAccountSIPProxy->text(), QStringLiteral("pbx2345.example.net"));
        QVERIFY(f.window().windowTitle().contains(QStringLiteral("Customer Number - 1234567890") + QString(10, QChar(0x2022)) + ' '));
        QCOMPARE(f.ui().agentList->count(), 49);
        QCOMPARE(MainFormFixture::texts(f.ui().MonList), (QStringList{"201_Bob", "202_Carol, Desk", "203"}));
        QCOMPARE(f.readFile("bin/websettings.ini"), QByteArray("[System]\r\nClick=ON\r\n"));
    }

    // The code is cut as typed (untrimmed) into customer number, login, password and PBX.
    void accountSaveCutsTheCode_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QStringList>("keys"); // customerNumber, Login = AuthLogin, Password, the PBX
        QTest::newRow("leading blank") << QStringLiteral(" AB1234567890abcdefgh")
                                       << QStringList{"AB1234567890abcdefgh", "4567", "890abcdefg", "B123"};
        QTest::newRow("short code") << QStringLiteral("AB12345") << QStringList{"AB12345", "5", "", "1234"};
    }

    void accountSaveCutsTheCode() {
        QFETCH(QString, code);
        QFETCH(QStringList, keys);
        MainFormFixture f;
        f.create();
        f.ui().Text1->setText(code);
        f.ui().SaveCustNum->click();
        const QString proxy = keys[3] + QStringLiteral("." CORVID_PROVIDER_DOMAIN);
        QStringList saved;
        for (const char* key : {"customerNumber", "Login", "AuthLogin", "Password", "SIPProxy", "OutBoundProxy", "Mon"})
            saved << f.setting(key);
        QCOMPARE(saved, (QStringList{keys[0], keys[1], keys[1], keys[2], proxy, proxy, "True"}));
    }

    // A login holding a folder part names no file: the monitor list is not read from it, and its
    // edit opens nothing.
    void loginNamingAPathOpensNoFile() {
        MainFormFixture f;
        f.writeSettings({{"Login", "6789"}, {"AuthLogin", "../outside"}});
        f.writeFile("outside.txt", "secret\r\n");
        f.create();
        QCOMPARE(f.ui().MonList->count(), 0);
        QTest::mouseClick(f.ui().editSk1, Qt::LeftButton);
        QCOMPARE(f.fakes.desktop.editedFiles, QStringList{f.root().binFile("6789.txt")});
        f.writeSettings({{"Login", "../../etc/passwd"}});
        QTest::mouseClick(f.ui().editSk1, Qt::LeftButton);
        QCOMPARE(f.fakes.desktop.editedFiles.size(), 1);
        QVERIFY(f.fakes.processes.starts.isEmpty());
    }

    void clockShowsTwelveHourTimeAfterMidnight() {
        MainFormFixture f;
        f.fakes.clock.set(QDateTime(QDate(2024, 3, 5), QTime(0, 5)));
        f.create();
        QTRY_COMPARE_WITH_TIMEOUT(f.ui().TimeText->text(), QStringLiteral("12:05 AM"), 2000);
    }

    void shutdownTakesThePhoneOfflineAndEnds() {
        FakeEngine engine;
        MainFormFixture f;
        f.create(&engine);
        f.fakes.ring.startLoop("ring.wav");
        f.ui().BtnOnline->setText(QStringLiteral("Offline")); // as while online
        QSignalSpy onlineClicks(f.ui().BtnOnline, &QPushButton::clicked);
        // The wait of one second keeps handling events: a second exit during it is ignored.
        QTimer::singleShot(300, [&] { f.ui().exitcmd->trigger(); });
        QElapsedTimer elapsed;
        elapsed.start();
        f.ui().exitcmd->trigger();
        QVERIFY(elapsed.elapsed() >= 990);
        QVERIFY(!f.fakes.ring.isPlaying());
        QCOMPARE(onlineClicks.count(), 1);
        QCOMPARE(engine.count("EngineStop"), 2); // going offline, then the shutdown
        QCOMPARE(f.forceQuitCalls, 1);
    }

    // The real program: a second instance ends before touching any file; a stop signal closes the first.
    void secondInstanceEndsBeforeTouchingAnyFileAndAStopClosesTheFirst() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
        env.remove("CALLDECK_ROOT");

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(CORVID_DIALER_BINARY), {"--root", root.path()});
        QVERIFY(first.waitForStarted());
        auto stopFirst = qScopeGuard([&] {
            first.kill();
            first.waitForFinished(5000);
        });
        const QString lock = root.filePath(SingleInstance::lockFileName());
        // Start-up is over once its last settings write is there.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock) && QFileInfo::exists(root.filePath("bin/websettings.ini")),
                                 15000);
        QTest::qWait(200);
        const QStringList before = treeOf(root.path(), true);

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(CORVID_DIALER_BINARY), {"--root", root.path()});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(treeOf(root.path(), true), before);
        QCOMPARE(first.state(), QProcess::Running);

        // A stop from outside (SIGTERM) runs the close sequence instead of killing the program in
        // whatever it was doing, and a clean close is a success for whoever started it.
        first.terminate();
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
    }

    // Screen readers and accessibility-driven tests find controls by name: every control the agent
    // can reach (a button, box, field, list, slider or bar with an object name) carries one.
    void everyControlHasAnAccessibleName() {
        MainFormFixture f;
        f.create();
        QStringList unnamed;
        int controls = 0;
        const auto widgets = f.window().findChildren<QWidget*>();
        for (QWidget* w : widgets) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractItemView*>(w) ||
                                 qobject_cast<QAbstractSlider*>(w) || qobject_cast<QProgressBar*>(w);
            if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))) continue;
            // Parts Qt builds inside a control (a combo box's line edit, a tab bar's scroll buttons).
            if (qobject_cast<QComboBox*>(w->parentWidget()) || qobject_cast<QTabBar*>(w->parentWidget())) continue;
            ++controls;
            if (w->accessibleName().trimmed().isEmpty()) unnamed << w->objectName();
        }
        QVERIFY2(controls > 100, qPrintable(QString::number(controls)));
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1String(", "))));
    }
};

QTEST_MAIN(TestStartup)

#include "tst_startup.moc"
