// Going online and offline with BtnOnline, the port searches, the engine's errors on the way, the
// registration report, and the audio boxes that reach the engine, against a FakeEngine.

#include "support/BareWindow.h"

#include "calls/LineStatus.h"
#include "phone/AudioControls.h"
#include "phone/OnlineControl.h"

#include <QScopeGuard>
#include <QTemporaryDir>
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
};
} // namespace

class TestOnline : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portSearch_data() {
        QTest::addColumn<QString>("operation"); // EngineStart: SIP ports; OpenLine: RTP ports (two lines)
        QTest::addColumn<int>("taken");         // ports refused as in use before one is free; -1: every port
        QTest::addColumn<int>("tries");
        QTest::addColumn<int>("lastTried");
        QTest::addColumn<QString>("message");
        QTest::newRow("no free SIP port") << QStringLiteral("EngineStart") << -1 << 6999 - 5782 + 1 << 6999
                                          << QStringLiteral("Can not open SIP communication port.");
        QTest::newRow("RTP ports taken") << QStringLiteral("OpenLine") << 2 << 4 << 7006 << QString();
        // Two lines: the search gives up after 2 + 1000 failures.
        QTest::newRow("no free RTP port") << QStringLiteral("OpenLine") << -1 << 1002 << 7000 + 2 * 1001
                                          << QStringLiteral("Unable to open RTP communication port.");
    }

    void portSearch() {
        QFETCH(QString, operation);
        QFETCH(int, taken);
        QFETCH(int, tries);
        QFETCH(int, lastTried);
        QFETCH(QString, message);
        Online o;
        const bool sip = operation == QLatin1String("EngineStart");
        o.w.engine.failNext(operation, EngineError::PortInUse, taken);
        o.click();
        const QVariantList tried = o.w.engine.args(operation, sip ? 2 : 3);
        QCOMPARE(tried.size(), tries);
        QCOMPARE(tried.last().toInt(), lastTried);
        QCOMPARE(o.w.fakes.messages.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(o.caption(), message.isEmpty() ? QStringLiteral("Offline") : QStringLiteral("OffLine"));
        if (message.isEmpty()) QCOMPARE(sip ? o.online.sipPort() : o.w.engine.line(1).rtpPort, lastTried);
    }

    void failuresStopGoingOnline_data() {
        QTest::addColumn<QString>("operation"); // empty: no login, nothing reaches the engine
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no login") << QString() << 0 << QStringLiteral("Please enter the SIP proxy Login Id.");
        QTest::newRow("engine, no network")
            << QStringLiteral("EngineStart") << 12 << QStringLiteral("Please Check Your Internet Connection.");
        QTest::newRow("line, code outside the table") << QStringLiteral("OpenLine") << 7 << QString();
        QTest::newRow("register request")
            << QStringLiteral("RegisterToProxy") << 26
            << QStringLiteral("Error to create REGISTER request. Please check the provided SIP URI is valid.");
    }

    // The caption still offers going online, and an engine that had started is stopped again, so
    // that the next click can start it.
    void failuresStopGoingOnline() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        QFETCH(QString, message);
        Online o;
        o.registerOnClick();
        o.w.engine.failNext(operation, code);
        if (operation.isEmpty()) o.w.setSetting(QStringLiteral("Login"), QString());
        o.click();
        if (operation.isEmpty()) QVERIFY(o.w.engine.calls().isEmpty());
        else QCOMPARE(o.w.engine.count(operation), 1);
        QCOMPARE(o.w.fakes.messages.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty()) QCOMPARE(o.w.window.y(), twipsToPixels(1000)); // the box came over the window
        QCOMPARE(o.caption(), QStringLiteral("OffLine"));
        QVERIFY(!o.w.engine.isStarted());
        o.w.fakes.messages.boxes.clear();
        o.w.setSetting(QStringLiteral("Login"), QStringLiteral("1001"));
        o.click();
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QCOMPARE(o.w.fakes.messages.texts(), QStringList());
    }

    // A typo in a security key stops going online (the engine is never started), and its line, like
    // that of a site file that cannot be read, stays through every clearing of the log. The typos
    // themselves are the security settings' table.
    void securityTypoStopsGoingOnlineAndStaysInTheLog() {
        QTemporaryDir site;
        QVERIFY(QDir(site.path()).mkpath(QStringLiteral("corvid-dialer/site.ini"))); // exists, cannot be read
        const QByteArray oldDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", site.path().toLocal8Bit());
        auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_DIRS", oldDirs); });
        Online o;
        o.w.setSetting(QStringLiteral("SipTransport"), QStringLiteral("TSL"));
        o.click();
        QCOMPARE(o.w.engine.count(QStringLiteral("EngineStart")), 0);
        const QStringList lasting{
            QStringLiteral(
                "The site settings file %1/corvid-dialer/site.ini cannot be read: its settings are not used.")
                .arg(site.path()),
            QStringLiteral("SipTransport: \"TSL\" is not UDP, TCP or TLS. Not going online.")};
        o.w.ui.ListStatusLog->clear(); // as the Clear button, a call's end and registering do
        QCOMPARE(o.w.statusLog(), lasting);
        QCOMPARE(o.w.ui.LineSecurity->text(), QStringLiteral("Connection: offline"));
    }

    void goingOfflineDuringRegisteredWaitKeepsClickToDialOff() {
        Online o;
        o.w.ui.CheckRegisterToProxy->setChecked(false); // only the event's own line in the log
        o.click();
        QTimer::singleShot(200, [&] { o.click(); }); // offline while the registration report waits
        o.w.engine.fire(&SipEngine::RegisterSucceeded);
        QTRY_COMPARE(o.caption(), QStringLiteral("Online"));
        // The report has ended by now (its waits ran inside the one above).
        QCOMPARE(o.w.statusLog(), QStringList{QStringLiteral("Registered successfully.")});
        QVERIFY(!o.w.ui.autoCheck->isEnabled());
        o.click(); // "Online" is not "Offline": the next click goes online again
        QCOMPARE(o.caption(), QStringLiteral("Offline"));
        QVERIFY(o.w.engine.isStarted());
    }

    // A codec box changed while online reaches the engine at once; going online offers the ticked
    // codecs, each box its own, in order; in-band DTMF reaches every line.
    void audioBoxesReachTheEngine() {
        Online o;
        Ui::MainForm& ui = o.w.ui;
        for (QCheckBox* box : {ui.CheckG711U, ui.CheckG729, ui.CheckG711A, ui.CheckGSM610, ui.CheckiLBC})
            box->setChecked(true);
        ui.CheckG729->setChecked(false);
        QCOMPARE(o.w.engine.last(QStringLiteral("DisableCodec")), QVariantList{Codec::G729});
        ui.CheckForceInbandDTMF->setChecked(false);
        o.w.engine.clearCalls();
        o.click();
        QCOMPARE(o.w.engine.args(QStringLiteral("EnableCodec"), 0),
                 (QVariantList{Codec::G711U, Codec::G711A, Codec::GSM610, Codec::iLBC}));
        ui.CheckForceInbandDTMF->setChecked(true);
        QCOMPARE(o.w.engine.args(QStringLiteral("ForceInbandDtmfOn"), 0), (QVariantList{0, 1}));
    }

    // Asked to use the sound card where there is none, going online says so once in the log (also
    // after the registration has emptied it); with the sound card not asked for, nothing is said.
    void missingSoundDeviceIsReported() {
        const QString text = QStringLiteral("No sound device found: calls carry no audio from this computer.");
        Online o;
        o.w.engine.inputs.clear();
        o.registerOnClick();
        o.click();
        QCOMPARE(o.w.statusLog(), (QStringList{QStringLiteral("Ready..."), text}));
        o.click(); // offline
        o.w.ui.CheckCaptureSoundDevice->setChecked(false);
        o.click();
        QCOMPARE(o.w.statusLog(), QStringList{QStringLiteral("Ready...")});
    }

    // The level bars run from a call's start until the last call has ended, however it ends
    // (the far end's hang-up, a refusal, the agent's hang-up that the engine does not report, going
    // offline); stopped, they show 0 whatever the engine's levels.
    void levelBarsRunOnlyWhileALineHasACall() {
        Online o;
        FakeEngine& engine = o.w.engine;
        const QTimer* bars = o.w.ctx.timers.TimerProgressBar;
        const auto barsShow = [&](int speaker, int mic) {
            return o.w.ui.SpkProgress->value() == speaker && o.w.ui.MicProgress->value() == mic;
        };
        const auto stopped = [&] { return !bars->isActive() && barsShow(0, 0); };
        QString number = QStringLiteral("5550100");
        engine.micLevel = 16384;
        engine.speakerLevel = 32767;
        engine.setAnswering(false);
        o.registerOnClick();
        o.click();
        QVERIFY(stopped());

        QVERIFY(engine.PlaceCall(0, number, -1, -1) && engine.PlaceCall(1, number, -1, -1));
        QTRY_VERIFY(barsShow(100, 50));
        engine.fireCallHungUp(0);
        QTRY_VERIFY(!engine.line(0).busy);
        QVERIFY(bars->isActive());
        engine.fire(&SipEngine::RequestFailureResponse, 1, 486, QStringLiteral("Busy Here"));
        engine.fireCallEnd(&SipEngine::CallFailed, 1);
        QTRY_VERIFY(stopped());

        for (const bool offline : {false, true}) {
            QVERIFY(engine.PlaceCall(0, number, -1, -1));
            QTRY_VERIFY(bars->isActive());
            offline ? o.click() : void(engine.EndCall(0));
            QTRY_VERIFY(stopped());
        }
    }
};

QTEST_MAIN(TestOnline)
#include "tst_online.moc"
