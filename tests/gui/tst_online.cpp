// Going online and offline with BtnOnline, the port searches, the engine's error messages on the
// way, and the registration events, against a FakeEngine.

#include "support/BareWindow.h"

#include "calls/LineStatus.h"
#include "phone/AudioControls.h"
#include "phone/OnlineControl.h"

#include <QSignalSpy>
#include <QtTest>

using namespace corvid;
using corvid::test::BareWindow;

namespace {
// Characters 3-6 the PBX, 7-10 the login, 11-20 the password.
const QString kCustomer = QStringLiteral("AB12341001secret1001");

struct Online {
    BareWindow w;
    LineStatus lines{w.ctx};
    AudioControls audio{w.ctx};
    OnlineControl online{w.ctx};

    Online() {
        w.ctx.subsystems.lines = &lines;
        w.ctx.subsystems.audio = &audio;
        w.ctx.subsystems.online = &online;
        w.saveAccount(kCustomer);
        w.ui.autoCheck->setEnabled(false);
    }
    // Registration completes inside the click's wait and adds its own 1.5 s of waits.
    void registerOnClick() { w.ui.CheckRegisterToProxy->setChecked(true); }
    void click() { w.ui.BtnOnline->click(); }
    QString caption() const { return w.ui.BtnOnline->text(); }
    QVariantList ports(const QString& operation, int argument) const {
        QVariantList out;
        for (const FakeEngine::Call& call : w.engine.callsTo(operation))
            out << call.args.value(argument);
        return out;
    }
};
} // namespace

class TestOnline : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rules() {
        QCOMPARE(PbxIdFromCustomerNumber(QStringLiteral("AB12")), QStringLiteral("12"));
        QCOMPARE(WholeNumberFromText(QStringLiteral(" 2.9 lines")), 2);
        QCOMPARE(WholeNumberFromText(QStringLiteral("-3")), 0);
    }

    void goingOnlineRunsEveryStepInOrder() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        o.w.engine.setDevices({QStringLiteral("Mic A")}, {QStringLiteral("Speaker A"), QStringLiteral("Speaker B")});
        o.w.setSetting(QStringLiteral("DisplayName"), QStringLiteral("  Ann Agent "));
        ui.CheckEchoCancel->setChecked(false);
        for (QCheckBox* box : {ui.CheckG711U, ui.CheckG729, ui.CheckG711A, ui.CheckGSM610, ui.CheckiLBC})
            box->setChecked(true);
        ui.CheckPlayDialTone->setChecked(true);
        o.registerOnClick();
        o.w.ctx.state.RingToneOn = false;
        o.w.ctx.state.SpeakerMuted = {true};
        o.w.engine.clearCalls();
        QSignalSpy pageWanted(&o.online, &OnlineControl::directoryPageWanted);

        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
        o.click();

        const QStringList expected{"SetUserAgent", "GetLocalAddress",   "EngineStart",   "OpenLine",
                                   "OpenLine",     "RegisterToProxy",   "EchoCancelOff", "DeselectAllCodecs",
                                   "EnableCodec",  "EnableCodec",       "EnableCodec",   "EnableCodec",
                                   "EnableCodec",  "SetEngineInterval", "SetUserAgent"};
        QCOMPARE(o.w.engine.callNames().mid(0, expected.size()), expected);
        QCOMPARE(o.w.engine.last(QStringLiteral("EngineStart")),
                 (QVariantList{false, QStringLiteral("127.0.0.1"), 5782, QStringLiteral("1001"), QStringLiteral("1001"),
                               QStringLiteral("secret1001"), QStringLiteral("Ann Agent"),
                               QStringLiteral("pbx1234.corvidvoice.net"), QStringLiteral("pbx1234.corvidvoice.net"),
                               QString(), true, 2}));
        QCOMPARE(o.ports(QStringLiteral("EnableCodec"), 0), (QVariantList{3, 4, 2, 0, 1}));
        QCOMPARE(o.w.engine.last(QStringLiteral("RegisterToProxy")), QVariantList{1800});
        QCOMPARE(o.w.engine.last(QStringLiteral("SetEngineInterval")), QVariantList{30});
        QCOMPARE(o.w.engine.userAgent(), QStringLiteral("Corvid22a"));

        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(!ui.EditTotalLine->isEnabled());
        QVERIFY(ui.BtnOnline->isEnabled());
        QCOMPARE(o.w.ctx.state.LineCount, 2);
        QVERIFY(o.w.ctx.state.RingToneOn);
        QCOMPARE(o.w.ctx.state.SpeakerMuted, (QVector<bool>{false, false}));
        QCOMPARE(o.w.ctx.state.MicMuted, (QVector<bool>{false, false}));
        QCOMPARE(ui.ListAudioIn->count(), 2);
        QCOMPARE(ui.ListAudioOut->item(2)->text(), QStringLiteral("Speaker B"));
        QCOMPARE(ui.ComboDial->count(), 2);
        QVERIFY(o.w.ctx.timers.TimerTick->isActive());
        QVERIFY(!o.w.ctx.timers.TimerProgressBar->isActive()); // until a call
        // The page is asked for after the one-second wait, in which registration has completed.
        QCOMPARE(pageWanted.count(), 1);
        QVERIFY(o.w.engine.isRegistered());
    }

    void goingOfflineStopsEngineAndClearsTheWindow() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        o.registerOnClick();
        o.click();
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(ui.autoCheck->isEnabled());
        new QTreeWidgetItem(ui.ListViewLineStatus, {QStringLiteral("Line- 1"), QStringLiteral("Idle")});
        ui.SpkProgress->setValue(40);
        ui.MicProgress->setValue(30);
        o.w.engine.clearCalls();

        o.click();

        QCOMPARE(o.w.engine.callNames(), QStringList{QStringLiteral("EngineStop")});
        QVERIFY(!o.w.engine.isStarted());
        QCOMPARE(o.caption(), QStringLiteral("Online"));
        QVERIFY(ui.EditTotalLine->isEnabled());
        QVERIFY(!o.w.ctx.timers.TimerTick->isActive());
        QVERIFY(!o.w.ctx.timers.TimerProgressBar->isActive());
        QCOMPARE(ui.SpkProgress->value(), 0);
        QCOMPARE(ui.MicProgress->value(), 0);
        QCOMPARE(ui.ListAudioIn->count(), 0);
        QCOMPARE(ui.ListAudioOut->count(), 0);
        QCOMPARE(ui.ListViewLineStatus->topLevelItemCount(), 0);
        QCOMPARE(ui.dialerOnDDE->text(), QStringLiteral("OFF"));
        QVERIFY(!ui.autoCheck->isEnabled());

        // "Online" is not "Offline": the next click goes online again.
        o.click();
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(o.w.engine.isStarted());
    }

    void accountFieldsAreReadAgainOnEveryClick() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        o.w.setSetting(QStringLiteral("UseSipTapi"), QStringLiteral("True"));
        ui.EditTotalLine->setText(QStringLiteral("5"));
        ui.customerNumber->setText(QStringLiteral("Cust#: old"));
        o.click();
        QCOMPARE(ui.customerNumber->text(), kCustomer);
        QCOMPARE(o.w.ctx.state.PbxId, QStringLiteral("1234"));
        QCOMPARE(o.w.ctx.state.SipTapiMode, QStringLiteral("True"));
        QCOMPARE(ui.EditAccountSIPProxy->text(), QStringLiteral("pbx1234.corvidvoice.net"));
        QCOMPARE(ui.EditAccountDomain->text(), QStringLiteral("pbx1234.corvidvoice.net"));
        QCOMPARE(ui.EditAccountAuthPassword->text(), QStringLiteral("secret1001"));
        QCOMPARE(ui.swipeLengthTxT->text(), QStringLiteral("14"));
        QCOMPARE(ui.EditTotalLine->text(), QStringLiteral("2"));
        QCOMPARE(o.w.engine.lineCount(), 2);

        // Going offline refreshes them too; a stored swipe length is kept.
        o.w.setSetting(QStringLiteral("swipeSize"), QStringLiteral("16"));
        o.w.setSetting(QStringLiteral("customerNumber"), QStringLiteral("AB9"));
        o.click();
        QCOMPARE(o.caption(), QStringLiteral("Online"));
        QCOMPARE(ui.swipeLengthTxT->text(), QStringLiteral("16"));
        QCOMPARE(o.w.ctx.state.PbxId, QStringLiteral("9"));
    }

    void onlineTimerClicksOnce() {
        Online o;
        o.w.ctx.timers.OnLineTimer->setSingleShot(false); // the tick itself must stop it
        o.w.ctx.timers.OnLineTimer->start(10);
        QTRY_COMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(!o.w.ctx.timers.OnLineTimer->isActive());
        QCOMPARE(o.w.engine.count(QStringLiteral("EngineStart")), 1);
    }

    void sipPortsInUseAreSkippedSilently() {
        Online o;
        o.w.engine.setSipPortsInUse({5782, 5783});
        o.click();
        QCOMPARE(o.ports(QStringLiteral("EngineStart"), 2), (QVariantList{5782, 5783, 5784}));
        QCOMPARE(o.w.engine.sipPort(), 5784);
        QCOMPARE(o.online.sipPort(), 5784);
        QCOMPARE(o.w.fakes.messages.texts(), QStringList());
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
    }

    void noFreeSipPortGivesItsMessage() {
        Online o;
        o.w.engine.failAlways(QStringLiteral("EngineStart"), EngineError::PortInUse);
        o.click();
        const QVariantList tried = o.ports(QStringLiteral("EngineStart"), 2);
        QCOMPARE(tried.size(), 6999 - 5782 + 1);
        QCOMPARE(tried.first().toInt(), 5782);
        QCOMPARE(tried.last().toInt(), 6999);
        QCOMPARE(o.w.fakes.messages.texts(), QStringList{QStringLiteral("Can not open SIP communication port.")});
        QCOMPARE(o.w.engine.count(QStringLiteral("OpenLine")), 0);
        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
    }

    void rtpPorts_data() {
        QTest::addColumn<QList<int>>("inUse");
        QTest::addColumn<QVariantList>("tried");
        QTest::addColumn<QList<int>>("opened");
        QTest::newRow("first two taken") << QList<int>{7000, 7002} << QVariantList{7000, 7002, 7004, 7006}
                                         << QList<int>{7004, 7006};
    }

    void rtpPorts() {
        QFETCH(QList<int>, inUse);
        QFETCH(QVariantList, tried);
        QFETCH(QList<int>, opened);
        Online o;
        o.w.engine.setRtpPortsInUse(QSet<int>(inUse.begin(), inUse.end()));
        o.click();
        QCOMPARE(o.ports(QStringLiteral("OpenLine"), 3), tried);
        QCOMPARE(o.ports(QStringLiteral("OpenLine"), 1), QVariantList(tried.size(), false));
        QCOMPARE(o.w.engine.line(0).rtpPort, opened.at(0));
        QCOMPARE(o.w.engine.line(1).rtpPort, opened.at(1));
        QCOMPARE(o.w.fakes.messages.texts(), QStringList());
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
    }

    void noFreeRtpPortGivesItsMessage() {
        Online o;
        o.w.engine.failAlways(QStringLiteral("OpenLine"), EngineError::PortInUse);
        o.click();
        // Two lines: the search gives up after 2 + 1000 failures, all of them on line 0.
        const QVariantList tried = o.ports(QStringLiteral("OpenLine"), 3);
        QCOMPARE(tried.size(), 1002);
        QCOMPARE(tried.last().toInt(), 7000 + 2 * 1001);
        QCOMPARE(o.ports(QStringLiteral("OpenLine"), 0), QVariantList(1002, 0));
        QCOMPARE(o.w.fakes.messages.texts(), QStringList{QStringLiteral("Unable to open RTP communication port.")});
        QCOMPARE(o.w.engine.count(QStringLiteral("RegisterToProxy")), 0);
        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
    }

    void failuresStopGoingOnline_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("callsAfter");
        const QStringList stop{QStringLiteral("EngineStop")};
        QTest::newRow("engine, no network") << QStringLiteral("EngineStart") << 12
                                            << QStringList{"Please Check Your Internet Connection."} << QStringList();
        QTest::newRow("line, code outside the table") << QStringLiteral("OpenLine") << 7 << QStringList{} << stop;
        QTest::newRow("register request")
            << QStringLiteral("RegisterToProxy") << 26
            << QStringList{"Error to create REGISTER request. Please check the provided SIP URI is valid."} << stop;
    }

    void failuresStopGoingOnline() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, callsAfter);
        Online o;
        o.registerOnClick();
        o.w.engine.failNext(operation, code);
        o.click();
        const QStringList names = o.w.engine.callNames();
        QCOMPARE(names.mid(names.indexOf(operation) + 1), callsAfter);
        QCOMPARE(o.w.engine.count(operation), 1);
        QCOMPARE(o.w.fakes.messages.texts(), messages);
        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
        QVERIFY(!o.w.ctx.timers.TimerTick->isActive());
        QVERIFY(o.w.ui.EditTotalLine->isEnabled());
        // An engine that had started is stopped again, so the next click tries again.
        QVERIFY(!o.w.engine.isStarted());
        o.w.fakes.messages.boxes.clear();
        o.click();
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QCOMPARE(o.w.fakes.messages.texts(), QStringList());
    }

    void missingUserNameStartsNothing() {
        Online o;
        o.w.setSetting(QStringLiteral("Login"), QString());
        o.click();
        QCOMPARE(o.w.fakes.messages.texts(), QStringList{QStringLiteral("Please enter the SIP proxy Login Id.")});
        QVERIFY(o.w.fakes.messages.boxes.first().hadWindow);
        QCOMPARE(o.w.engine.callNames(), QStringList());
        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
    }

    void withoutRegistrationNothingIsRegistered() {
        Online o;
        o.w.ui.CheckRegisterToProxy->setChecked(false);
        o.w.ui.CheckG711U->setChecked(false);
        o.w.ui.CheckG711A->setChecked(false);
        o.w.ui.CheckEchoCancel->setChecked(true);
        o.w.ui.CheckG729->setChecked(true);
        o.w.ui.CheckGSM610->setChecked(true);
        o.w.engine.clearCalls();
        o.click();
        QCOMPARE(o.w.engine.count(QStringLiteral("RegisterToProxy")), 0);
        QVERIFY(!o.w.statusLog().contains(QStringLiteral("Registering to SIP Proxy.")));
        QCOMPARE(o.w.engine.count(QStringLiteral("EchoCancelOn")), 1);
        QCOMPARE(o.ports(QStringLiteral("EnableCodec"), 0), (QVariantList{4, 0}));
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(!o.w.ui.autoCheck->isEnabled());
    }

    void registeredEmptiesTheLogAndEnablesClickToDial() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        o.registerOnClick();
        o.click(); // the registration events arrive during the click's one-second wait
        QCOMPARE(ui.mouseMenu->text(), QStringLiteral("Click Right Mouse Button for Menu"));
        QCOMPARE(o.w.statusLog(), QStringList{QStringLiteral("Ready...")});
        QVERIFY(ui.autoCheck->isEnabled());

        // Step by step, looked at from inside the handler's waits.
        ui.mouseMenu->setText(QStringLiteral("x"));
        QStringList duringFirstWait, duringSecondWait;
        QString captionDuringSecondWait;
        QTimer::singleShot(250, [&] { duringFirstWait = o.w.statusLog(); });
        QTimer::singleShot(1000, [&] {
            duringSecondWait = o.w.statusLog();
            captionDuringSecondWait = ui.mouseMenu->text();
        });
        o.w.engine.fireRegisterSucceeded();
        QTRY_COMPARE(ui.mouseMenu->text(), QStringLiteral("Click Right Mouse Button for Menu"));
        QCOMPARE(duringFirstWait,
                 (QStringList{QStringLiteral("Ready..."), QStringLiteral("Registered successfully.")}));
        QCOMPARE(duringSecondWait, QStringList{QStringLiteral("Ready...")});
        QCOMPARE(captionDuringSecondWait, QStringLiteral("Ready..."));
    }

    void goingOfflineDuringRegisteredWaitKeepsClickToDialOff() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        ui.CheckRegisterToProxy->setChecked(false); // only the event's own line in the log
        o.click();
        QTimer::singleShot(200, [&] { o.click(); }); // offline while the registration report waits
        o.w.engine.fireRegisterSucceeded();
        QTRY_COMPARE(o.caption(), QStringLiteral("Online"));
        // The report has ended by now (its waits ran inside the one above).
        QCOMPARE(o.w.statusLog(), QStringList{QStringLiteral("Registered successfully.")});
        QVERIFY(!ui.autoCheck->isEnabled());
    }

    void registrationEvents_data() {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QString>("caption");
        QTest::newRow("RegisterFailed") << QStringLiteral("RegisterFailed") << QStringLiteral("Failed: Forbidden")
                                        << QStringLiteral("Failed to register.");
        QTest::newRow("UnregisterSucceeded")
            << QStringLiteral("UnregisterSucceeded") << QStringLiteral("Unregistered successfully.")
            << QStringLiteral("You Are No On Line.");
        QTest::newRow("ReregisterSucceeded") << QStringLiteral("ReregisterSucceeded") << QString() << QString();
        QTest::newRow("ReregisterFailed") << QStringLiteral("ReregisterFailed")
                                          << QStringLiteral("Fail to Re-Register: Request Timeout") << QString();
    }

    void registrationEvents() {
        QFETCH(QString, event);
        QFETCH(QString, logged);
        QFETCH(QString, caption);
        Online o;
        Ui::MainForm& ui = o.w.ui;
        ui.autoCheck->setEnabled(false);
        ui.mouseMenu->setText(QStringLiteral("before"));
        FakeEngine& e = o.w.engine;
        if (event == "RegisterFailed")
            e.fireRegisterFailed(403, QStringLiteral("Forbidden"));
        else if (event == "UnregisterSucceeded")
            e.fireUnregisterSucceeded();
        else if (event == "ReregisterSucceeded")
            e.fireReregisterSucceeded();
        else if (event == "ReregisterFailed")
            e.fireReregisterFailed(408, QStringLiteral("Request Timeout"));
        QCoreApplication::sendPostedEvents(&e, QEvent::MetaCall); // the engine's events are queued
        QCOMPARE(o.w.statusLog(), logged.isEmpty() ? QStringList() : QStringList{logged});
        QCOMPARE(ui.mouseMenu->text(), caption.isEmpty() ? QStringLiteral("before") : caption);
        QVERIFY(!ui.autoCheck->isEnabled());
    }

    void outboundProxySettingReachesTheHook() {
        Online o;
        QStringList seen;
        o.online.setOutboundProxyHook([&](const QString& hostPort) {
            seen << hostPort;
            // Before the engine starts, so that the engine can use it.
            QCOMPARE(o.w.engine.count(QStringLiteral("EngineStart")), 0);
        });
        o.w.setSetting(QStringLiteral("SipOutboundProxy"), QStringLiteral(" 127.0.0.1:5070 "));
        o.click();
        QCOMPARE(seen, QStringList{QStringLiteral("127.0.0.1:5070")});
    }

    // The 20 ms level bars run from a call's start until the last call has ended, however it ends;
    // stopped, they show 0 whatever the engine's levels.
    void levelBarsRunOnlyWhileALineHasACall_data() {
        QTest::addColumn<QString>("lastEnd");
        QTest::newRow("agent hangs up") << QStringLiteral("agent");
        QTest::newRow("far end hangs up") << QStringLiteral("far end");
        QTest::newRow("call refused") << QStringLiteral("refused");
    }

    void levelBarsRunOnlyWhileALineHasACall() {
        QFETCH(QString, lastEnd);
        Online o;
        FakeEngine& engine = o.w.engine;
        const QTimer* bars = o.w.ctx.timers.TimerProgressBar;
        const auto barsShow = [&](int speaker, int mic) {
            return o.w.ui.SpkProgress->value() == speaker && o.w.ui.MicProgress->value() == mic;
        };
        engine.setLevels(16384, 32767);
        engine.setDefaultScript(FakeEngine::noAnswer());
        o.registerOnClick();
        o.click();
        QVERIFY(!bars->isActive());
        QVERIFY(barsShow(0, 0));

        QString first = QStringLiteral("5550100"), second = QStringLiteral("5550111");
        QVERIFY(engine.PlaceCall(0, first, -1, -1));
        QTRY_VERIFY(bars->isActive());
        QTRY_VERIFY(barsShow(100, 50));
        QVERIFY(engine.PlaceCall(1, second, -1, -1));
        if (lastEnd != QLatin1String("refused")) engine.fireCallConnected(1);
        engine.fireCallHungUp(0);
        QTRY_VERIFY(!engine.line(0).busy);
        QVERIFY(bars->isActive());

        if (lastEnd == QLatin1String("agent")) {
            QVERIFY(engine.EndCall(1)); // the engine reports nothing for it
        } else if (lastEnd == QLatin1String("far end")) {
            engine.fireCallHungUp(1);
        } else {
            engine.fireRequestFailureResponse(1, 486, QStringLiteral("Busy Here"));
            engine.fireCallFailed(1);
        }
        QTRY_VERIFY(!bars->isActive());
        QVERIFY(barsShow(0, 0));

        // Going offline in a call stops them too.
        QVERIFY(engine.PlaceCall(0, first, -1, -1));
        QTRY_VERIFY(barsShow(100, 50));
        o.click();
        QVERIFY(!bars->isActive());
        QVERIFY(barsShow(0, 0));
    }
};

QTEST_MAIN(TestOnline)
#include "tst_online.moc"
