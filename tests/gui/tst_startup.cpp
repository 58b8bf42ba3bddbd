// The main window's start-up, account panel, clock, title, shutdown, the previous-instance test
// with the real program.

#include "support/FakeEngine.h"
#include "support/MainFormFixture.h"

#include "app/AccountPanel.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "platform/SingleInstance.h"
#include "settings/IniFile.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QTimer>

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kTitleHead =
    QStringLiteral("Corvid Software") + QString(14, QLatin1Char(' ')) + QStringLiteral("Customer Number - ");
const QString kTitleTail = QString(25, QLatin1Char(' ')) + QStringLiteral("Ver. 6.0.22a");

QByteArray lines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

QStringList items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// Every file and folder under dir with its size and modification time.
QStringList listing(const QString& dir) {
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        out << QStringLiteral("%1 %2 %3")
                   .arg(info.filePath())
                   .arg(info.isDir() ? -1 : info.size())
                   .arg(info.lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void startupFillsEveryFieldFromTheSettings() {
        MainFormFixture f;
        f.writeSettings({{"customerNumber", "01234567890123456789"},
                         {"DisplayName", "Ann Agent"},
                         {"Login", "6789"},
                         {"AuthLogin", "6790"},
                         {"Password", "0123456789"},
                         {"SIPProxy", "2345.example.net"},
                         {"OutBoundProxy", "2346.example.net"},
                         {"userweb", "webuser"},
                         {"passweb", "webpass"},
                         {"clickshow123", "True"},
                         {"InBand", "True"},
                         {"Forward", "5551234567"},
                         {"AutoCid", "True"},
                         {"LMUser", "lmuser"},
                         {"LMPass", "lmpass"},
                         {"LMWGroup", "lmgroup"},
                         {"TransferNumber", "5559876543 Desk"},
                         {"ProviderDomain", " example.org "}});
        QStringList agents;
        for (int i = 0; i < 60; ++i)
            agents << QStringLiteral("%1_Agent %1").arg(100 + i);
        f.writeFile("bin/agentlist.txt", lines(agents));
        f.writeFile("bin/6790.txt", "201_Bob,\"202_Carol, Desk\"\r\n203\r\n");

        f.create();
        Ui::MainForm& ui = f.ui();
        QCOMPARE(ui.customerNumber->text(), QStringLiteral("Cust#: 01234567890123456789"));
        QCOMPARE(ui.Text1->text(), QStringLiteral("01234567890123456789"));
        QCOMPARE(ui.EditAccountDisplayName->text(), QStringLiteral("Ann Agent"));
        QCOMPARE(ui.EditAccountUserName->text(), QStringLiteral("6789"));
        QCOMPARE(ui.EditAccountAuthLogin->text(), QStringLiteral("6790"));
        QCOMPARE(ui.EditAccountAuthPassword->text(), QStringLiteral("0123456789"));
        QCOMPARE(ui.EditAccountSIPProxy->text(), QStringLiteral("pbx2345.example.net"));
        QCOMPARE(ui.EditAccountDomain->text(), QStringLiteral("pbx2346.example.net"));
        QCOMPARE(ui.Text2->text(), QStringLiteral("webuser"));
        QCOMPARE(ui.EditTotalLine->text(), QStringLiteral("2"));
        QVERIFY(ui.topCheck->isChecked());
        QVERIFY(!ui.SysStatFrm->isHidden());
        QCOMPARE(f.ctx().state.version, QStringLiteral("6.0.22a"));
        QCOMPARE(f.ctx().state.providerDomain, QStringLiteral("example.org"));
        QCOMPARE(f.ctx().state.InBandSetting, QStringLiteral("True"));
        QVERIFY(ui.CheckForceInbandDTMF->isChecked());
        QCOMPARE(ui.EditForwardCallPhoneNo->text(), QStringLiteral("5551234567"));
        QVERIFY(ui.cidCheck->isChecked());
        QCOMPARE(ui.LMWorkGroupTxT->text(), QStringLiteral("lmgroup"));
        QVERIFY(ui.PlayMsgPush->isVisible());
        QVERIFY(ui.RecClick->isVisible());
        QVERIFY(ui.LAMPush->isVisible());
        QCOMPARE(f.window().windowTitle(), kTitleHead + QStringLiteral("01234567890123456789") + kTitleTail);
        QCOMPARE(f.readFile("bin/websettings.ini"), QByteArray("[System]\r\nClick=ON\r\n"));
        QCOMPARE(ui.agentList->count(), 49);
        QCOMPARE(ui.agentList->item(0)->text(), QStringLiteral("100_Agent 100"));
        QCOMPARE(ui.agentList->item(48)->text(), QStringLiteral("148_Agent 148"));
        QCOMPARE(ui.EditTransferPhoneNo->currentText(), QStringLiteral("5559876543 Desk"));
        // The monitor list is named after the authentication login.
        QCOMPARE(items(ui.MonList), (QStringList{"201_Bob", "202_Carol, Desk", "203"}));
        // The clock and the start-up tick run; nothing else is started yet.
        QVERIFY(f.ctx().timers.TimeTimer->isActive());
        QVERIFY(f.ctx().timers.webtimer->isActive());
        QVERIFY(!f.ctx().timers.TimerTick->isActive());
    }

    void firstStartWithoutSettingsLeavesTheFieldsEmpty() {
        MainFormFixture f;
        f.create();
        Ui::MainForm& ui = f.ui();
        for (QLineEdit* field : {ui.Text1, ui.Text2, ui.Text3, ui.EditAccountDisplayName, ui.EditAccountUserName,
                                 ui.EditAccountAuthLogin, ui.EditAccountAuthPassword, ui.EditForwardCallPhoneNo})
            QVERIFY2(field->text().isEmpty(), qPrintable(field->objectName()));
        QCOMPARE(ui.EditAccountSIPProxy->text(), QStringLiteral("pbx"));
        QCOMPARE(ui.EditAccountDomain->text(), QStringLiteral("pbx"));
        QCOMPARE(ui.customerNumber->text(), QStringLiteral("Cust#: "));
        QCOMPARE(f.window().windowTitle(), kTitleHead + kTitleTail);
        QVERIFY(ui.SysStatFrm->isHidden());
        QCOMPARE(ui.agentList->count(), 0);
        QCOMPARE(ui.MonList->count(), 0);
        QVERIFY(ui.Frame7->isHidden()); // the start-up tick shows the account panel (PBX page tests)
    }

    void monitorListNamedByAPathIsNotRead() {
        MainFormFixture f;
        f.writeSettings({{"AuthLogin", "../outside"}});
        f.writeFile("outside.txt", "secret\r\n");
        f.create();
        QCOMPARE(f.ui().MonList->count(), 0);
    }

    void accountSaveWritesTheKeysInOrder() {
        MainFormFixture f;
        f.create();
        f.ui().Text1->setText(QStringLiteral("01234567890123456789"));
        f.ui().Text2->setText(QStringLiteral(" web user "));
        f.ui().Text3->setText(QStringLiteral("pw"));
        f.ctx().timers.webtimer->stop();
        f.ui().RightPages->setCurrentWidget(f.ui().PageKeyPad);
        f.ui().custNumCmd->trigger();
        QVERIFY(f.ui().SaveCustNum->isVisible());
        QCOMPARE(f.ui().RightPages->currentWidget(), f.ui().PageAccount);
        QTest::mouseClick(f.ui().SaveCustNum, Qt::LeftButton);

        // Each key is written as the first entry of its section, so the last one written is on top.
        const QByteArray expected = "[System]\r\n"
                                    "passweb=pw\r\n"
                                    "Userweb= web user \r\n"
                                    "Mon=True\r\n"
                                    "SIPProxy=2345." CORVID_PROVIDER_DOMAIN "\r\n"
                                    "OutBoundProxy=2345." CORVID_PROVIDER_DOMAIN "\r\n"
                                    "AuthLogin=6789\r\n"
                                    "Login=6789\r\n"
                                    "Password=0123456789\r\n"
                                    "customerNumber=01234567890123456789\r\n";
        QCOMPARE(f.readFile("bin/corvidapp.ini"), expected);
        QVERIFY(f.ui().Frame7->isHidden());
        QVERIFY(f.ctx().timers.webtimer->isActive());
        // The next tick finds Mon = "True" and offers the online button.
        QTRY_VERIFY_WITH_TIMEOUT(f.ui().BtnOnline->isVisible(), 3000);
    }

    void accountSaveCutsTheUntrimmedCode_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("customerNumber");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("pbx");
        QTest::newRow("leading blank") << QStringLiteral(" AB1234567890abcdefgh")
                                       << QStringLiteral("AB1234567890abcdefgh") << QStringLiteral("4567")
                                       << QStringLiteral("890abcdefg") << QStringLiteral("B123");
        QTest::newRow("short code") << QStringLiteral("AB12345") << QStringLiteral("AB12345") << QStringLiteral("5")
                                    << QString() << QStringLiteral("1234");
        QTest::newRow("two characters") << QStringLiteral("AB") << QStringLiteral("AB") << QString() << QString()
                                        << QString();
    }

    void accountSaveCutsTheUntrimmedCode() {
        QFETCH(QString, code);
        QFETCH(QString, customerNumber);
        QFETCH(QString, login);
        QFETCH(QString, password);
        QFETCH(QString, pbx);
        MainFormFixture f;
        f.create();
        f.ui().Text1->setText(code);
        f.window().accountPanel().onSaveCustNumClicked();
        const QString ini = f.root().settingsFile();
        QCOMPARE(ReadIniKey(ini, "System", "customerNumber"), customerNumber);
        QCOMPARE(ReadIniKey(ini, "System", "Login"), login);
        QCOMPARE(ReadIniKey(ini, "System", "AuthLogin"), login);
        QCOMPARE(ReadIniKey(ini, "System", "Password"), password);
        const QString proxy = pbx + QStringLiteral("." CORVID_PROVIDER_DOMAIN);
        QCOMPARE(ReadIniKey(ini, "System", "SIPProxy"), proxy);
        QCOMPARE(ReadIniKey(ini, "System", "OutBoundProxy"), proxy);
    }

    void monitorListEditOpensTheLoginsFile() {
        MainFormFixture f;
        f.writeSettings({{"Login", "6789"}});
        f.create();
        QTest::mouseClick(f.ui().editSk1, Qt::LeftButton);
        QCOMPARE(f.ui().loginTxT->text(), QStringLiteral("6789"));
        QCOMPARE(f.fakes.desktop.editedFiles, QStringList{f.root().binFile("6789.txt")});

        // A login holding a folder part names no file: nothing is opened.
        f.writeSettings({{"Login", "../../etc/passwd"}});
        QTest::mouseClick(f.ui().editSk1, Qt::LeftButton);
        QCOMPARE(f.fakes.desktop.editedFiles.size(), 1);
        QVERIFY(f.fakes.processes.starts.isEmpty());
    }

    void clockShowsTwelveHourTime_data() {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("afternoon") << QTime(14, 7, 9) << QStringLiteral("02:07 PM");
        QTest::newRow("just after midnight") << QTime(0, 5) << QStringLiteral("12:05 AM");
    }

    void clockShowsTwelveHourTime() {
        QFETCH(QTime, time);
        QFETCH(QString, text);
        MainFormFixture f;
        f.fakes.clock.set(QDateTime(QDate(2024, 3, 5), time));
        f.create();
        QTRY_COMPARE_WITH_TIMEOUT(f.ui().TimeText->text(), text, 2000);
    }

    void shutdownTakesThePhoneOfflineAndEnds() {
        FakeEngine engine;
        MainFormFixture f;
        f.create(&engine);
        f.fakes.ring.startLoop("ring.wav");
        f.ui().BtnOnline->setText(QStringLiteral("Offline")); // as while online
        QSignalSpy onlineClicks(f.ui().BtnOnline, &QPushButton::clicked);
        // The wait of one second keeps handling events: the clock still ticks and a second exit is ignored.
        int engineStopsDuringWait = -1;
        QTimer::singleShot(300, [&] {
            engineStopsDuringWait = engine.count("EngineStop");
            f.ui().exitcmd->trigger();
        });
        QElapsedTimer elapsed;
        elapsed.start();
        f.ui().exitcmd->trigger();
        QVERIFY(elapsed.elapsed() >= 990);
        QVERIFY(!f.fakes.ring.isPlaying());
        QCOMPARE(onlineClicks.count(), 1);
        // Going offline stops the engine before the wait; the shutdown stops it once more after it.
        QCOMPARE(engineStopsDuringWait, 1);
        QCOMPARE(engine.count("EngineStop"), 2);
        QCOMPARE(f.forceQuitCalls, 1);
        QCOMPARE(f.ui().BtnOnline->text(), QStringLiteral("Online"));

        // Closing the window runs the same sequence (now offline: no second going-offline).
        f.window().close();
        QCOMPARE(onlineClicks.count(), 1);
        QCOMPARE(engine.count("EngineStop"), 3);
        QCOMPARE(f.forceQuitCalls, 2);
    }

    void shutdownWhileOfflineDoesNotGoOnline() {
        MainFormFixture f;
        f.create();
        QSignalSpy onlineClicks(f.ui().BtnOnline, &QPushButton::clicked);
        f.window().shutdown().run(); // caption "OffLine": never online
        QCOMPARE(onlineClicks.count(), 0);
        QCOMPARE(f.forceQuitCalls, 1);
        QVERIFY(f.fakes.messages.boxes.isEmpty());
    }

    void secondInstanceEndsBeforeTouchingAnyFile() {
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
        const QStringList before = listing(root.path());

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(CORVID_DIALER_BINARY), {"--root", root.path()});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(listing(root.path()), before);
        QCOMPARE(first.state(), QProcess::Running);
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
