// A call from its progress events to its end: the status lines and ring-back tone of each event,
// the connected handling, the agent's hang-up (with and without a display name, refused by the
// engine), the far end's hang-up with its call-log row, and the per-line mute flags.

#include "gui/CallsWindow.h"

#include "app/Shutdown.h"
#include "calls/CallRules.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>

using namespace corvid;
using corvid::test::CallsWindow;

namespace {
const QString kNumber = QStringLiteral("5551234567");

// Online with two lines, the agent's display name set, and a call to kNumber connected on line 1.
void connectCall(CallsWindow& w, const QString& displayName = QStringLiteral("Agent7")) {
    w.goOnline(2);
    w.ui.EditAccountDisplayName->setText(displayName);
    w.dial(kNumber);
    QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Success to connect.")));
}
} // namespace

using Fire = std::function<void(FakeEngine&)>;
Q_DECLARE_METATYPE(Fire)

class TestCallEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void progressEvents_data() {
        QTest::addColumn<Fire>("fire");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("ringStarts");
        QTest::addColumn<int>("ringStops");
        QTest::newRow("connecting") << Fire([](FakeEngine& e) { e.fireCallConnecting(1); })
                                    << QStringLiteral("Line- 2: Connecting.") << 0 << 0;
        QTest::newRow("180") << Fire(
                                    [](FakeEngine& e) { e.fireProvisionalResponse(0, 180, QStringLiteral("Ringing")); })
                             << QStringLiteral("Ringing") << 1 << 0;
        QTest::newRow("183") << Fire([](FakeEngine& e) {
            e.fireProvisionalResponse(0, 183, QStringLiteral("Session Progress"));
        }) << QStringLiteral("Session Progress")
                             << 0 << 1;
        QTest::newRow("global failure, busy words")
            << Fire([](FakeEngine& e) { e.fireGlobalFailureResponse(1, 600, QStringLiteral("Busy Here")); })
            << QStringLiteral("Line- 2 Response: Busy Here") << 0 << 1;
        QTest::newRow("failed") << Fire([](FakeEngine& e) { e.fireCallFailed(0); })
                                << QStringLiteral("Line- 1: Fail to connect.") << 0 << 1;
        QTest::newRow("dtmf") << Fire([](FakeEngine& e) { e.fireDtmfDigitReceived(1, QStringLiteral("#")); })
                              << QStringLiteral("Line- 2: Key-pressed: #") << 0 << 0;
    }

    void progressEvents() {
        QFETCH(Fire, fire);
        QFETCH(QString, line);
        QFETCH(int, ringStarts);
        QFETCH(int, ringStops);
        CallsWindow w;
        w.goOnline(2);
        w.ctx.state.RingToneOn = true;
        fire(w.engine);
        QTRY_COMPARE(w.statusLog(), QStringList{line});
        QCOMPARE(w.fakes.ring.starts.size(), ringStarts);
        QCOMPARE(w.fakes.ring.stops, ringStops);
        if (ringStarts) QCOMPARE(w.fakes.ring.starts.at(0), QStringLiteral("ring.wav"));
        // None of these is a refusal the status mirror reacts to.
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("Click Right Mouse Button for Menu"));
    }

    void ringToneFollowsTheDialToneOption() {
        CallsWindow w;
        w.goOnline(2);
        w.engine.setDefaultScript(FakeEngine::answer(200));
        w.ctx.state.RingToneOn = false;
        w.dial(kNumber);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Success to connect.")));
        QVERIFY(w.fakes.ring.starts.isEmpty());
        QCOMPARE(w.fakes.ring.stops, 0);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        w.ctx.state.RingToneOn = true;
        w.dial(kNumber);
        QTRY_COMPARE(w.fakes.ring.starts.size(), 1);
        QVERIFY(w.fakes.ring.isPlaying());
        QTRY_VERIFY(!w.fakes.ring.isPlaying()); // stopped by the connection
        QVERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Success to connect.")));
    }

    void sliderRounding() {
        // Engine volume 0..255 to slider 0..10, rounded to the nearest step.
        const QList<QPair<int, int>> cases{{0, 0}, {12, 0}, {13, 1}, {63, 3}, {137, 5}, {138, 6}, {255, 10}};
        for (const auto& [volume, slider] : cases)
            QCOMPARE(sliderFromEngineVolume(volume), slider);
    }

    void connectedReadsVolumesBoostAndStartsRecording_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("recordAll");
        QTest::addColumn<bool>("recording");
        QTest::newRow("recordAll") << kNumber << QStringLiteral("True") << true;
        QTest::newRow("single blank") << QStringLiteral(" ") << QStringLiteral("True") << false;
    }

    void connectedReadsVolumesBoostAndStartsRecording() {
        QFETCH(QString, number);
        QFETCH(QString, recordAll);
        QFETCH(bool, recording);
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("recordAll"), recordAll);
        w.engine.setVolumes(/*mic*/ 62, /*speaker*/ 200);
        w.engine.MicBoostOn();
        w.ui.EditPhoneNo->setText(number);
        w.ctx.state.RingToneOn = true;
        w.engine.fireCallConnected(0);
        QTRY_COMPARE(w.engine.count(QStringLiteral("IsMicBoostOn")), 1);
        // Recording empties the status log and writes its own line.
        QCOMPARE(w.statusLog(), QStringList{recording ? QStringLiteral("Recording -") + number
                                                      : QStringLiteral("Line- 1: Success to connect.")});
        QCOMPARE(w.ui.SliderSpkVol->value(), 8);
        QCOMPARE(w.ui.SliderMicVol->value(), 2);
        QVERIFY(w.ui.CheckMicBoost->isChecked());
        QCOMPARE(w.fakes.ring.stops, 1);
        QCOMPARE(w.ui.CheckStartRecording->isChecked(), recording);
        QCOMPARE(w.engine.count(QStringLiteral("StartRecording")), recording ? 1 : 0);
        QCOMPARE(w.ctx.state.RecordAllSetting, number.trimmed().isEmpty() ? QString() : recordAll);
    }

    void hangUpWithDisplayName() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.setSetting(QStringLiteral("InBand"), QStringLiteral("True"));
        w.ui.vmclick->setEnabled(false);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kNumber);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Success to connect.")));
        w.ui.callsec->setText(QStringLiteral("17"));
        w.ui.CIDTxt->setText(QStringLiteral("caller"));
        w.ui.statusLb->setText(QStringLiteral("status"));
        w.ui.ListIncomingCall->addItem(QStringLiteral("incoming"));
        w.ctx.state.RingToneOn = true;

        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{1});
        QVERIFY(w.ui.vmclick->isEnabled());
        QVERIFY(w.ui.CheckForceInbandDTMF->isChecked());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
        QVERIFY(w.statusLog().isEmpty());
        QVERIFY(w.ui.statusLb->text().isEmpty());
        QCOMPARE(w.fakes.ring.stops, 1);
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QCOMPARE(w.ui.ComboDial->currentIndex(), 0);
        QVERIFY(!w.ui.RecThisCallCheck->isChecked());
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QVERIFY(w.ctx.timers.logCleanTimer->isActive());
        QCOMPARE(w.ui.ListIncomingCall->count(), 0);
        QVERIFY(w.ui.CIDTxt->text().isEmpty());
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
        QVERIFY(w.ctx.state.CurrentNumber.isEmpty());

        const QByteArrayList rows = w.callLogRows(QStringLiteral("Agent7"));
        QCOMPARE(rows.size(), 1);
        const QDateTime now = w.fakes.clock.now();
        const QByteArray expected =
            "\"" + kNumber.toUtf8() + "\",\"Agent7\",\"17\",\"" + now.toString(QStringLiteral("HH:mm:ss")).toUtf8() +
            "\",\"" + QLocale::system().toString(now.date(), QLocale::ShortFormat).toLocal8Bit() + "\",\"hang up\"";
        QCOMPARE(rows.at(0), expected);
    }

    void hangUpWithoutDisplayName() {
        CallsWindow w;
        connectCall(w, QString());
        w.ui.callsec->setText(QStringLiteral("17"));
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("17")); // keeps its count
        QCOMPARE(w.ctx.state.CurrentNumber, kNumber);         // not reset either
        QVERIFY(w.callLogRows(QString()).isEmpty());
        QVERIFY(QDir(w.ctx.root.logs()).entryList({QStringLiteral("*.csv")}).isEmpty());
        // 500 ms later the log-clean tick empties the status log again.
        w.ui.ListStatusLog->addItem(QStringLiteral("late event"));
        QTRY_VERIFY(w.statusLog().isEmpty());
    }

    void hangUpRefusedKeepsTheCall() {
        CallsWindow w;
        connectCall(w);
        w.ui.CIDTxt->setText(QStringLiteral("caller"));
        w.ui.callsec->setText(QStringLiteral("4"));
        w.engine.failNext(QStringLiteral("EndCall"), EngineError::DisconnectRequest);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Error to create DISCONNECT request.")});
        QVERIFY(w.statusLog().isEmpty());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
        QCOMPARE(w.ui.EditPhoneNo->text(), kNumber);
        QCOMPARE(w.ui.CIDTxt->text(), QStringLiteral("caller"));
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("4"));
        QVERIFY(!w.ctx.timers.logCleanTimer->isActive());
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).isEmpty());
        QVERIFY(w.engine.line(0).connected);

        // The call can still be ended.
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
    }

    void farEndHangUpWritesItsRowWhateverTheDisplayName_data() {
        QTest::addColumn<QString>("displayName");
        QTest::newRow("display name") << QStringLiteral("Agent7");
        QTest::newRow("no display name") << QString();
    }

    void farEndHangUpWritesItsRowWhateverTheDisplayName() {
        QFETCH(QString, displayName);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(displayName);
        w.engine.setDefaultScript(FakeEngine::hangUpAfter(300));
        w.dial(kNumber);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Success to connect.")));
        w.ui.callsec->setText(QStringLiteral("9"));
        w.ui.CIDTxt->setText(QStringLiteral("caller"));
        QSignalSpy logged(w.ui.ListStatusLog->model(), &QAbstractItemModel::rowsInserted);

        QTRY_COMPARE(w.callLogRows(displayName).size(), 1);
        QCOMPARE(logged.count(), 1); // "Hung up." was logged, then the log emptied at once
        QVERIFY(w.statusLog().isEmpty());
        const QByteArray row = w.callLogRows(displayName).at(0);
        QVERIFY2(row.startsWith("\"" + kNumber.toUtf8() + "\",\"" + displayName.toUtf8() + "\",\"9\","),
                 row.constData());
        QVERIFY(row.endsWith(",\"\""));
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
        QCOMPARE(w.ctx.state.CurrentNumber, kNumber);
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QVERIFY(w.ui.CIDTxt->text().isEmpty());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
        QVERIFY(w.ctx.timers.logCleanTimer->isActive());
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 0);
    }

    void callEndIsWrittenOnce() {
        CallsWindow w;
        connectCall(w);
        w.engine.fireCallHungUp(0);
        w.engine.fireCallHungUp(0); // the same end reported twice
        QTRY_COMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QTest::qWait(50);
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QCOMPARE(w.ctx.state.CurrentNumber, kNumber);

        // The agent ends the next call; a late far-end report of it adds nothing either.
        w.dial(QStringLiteral("5559876543"));
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Success to connect.")));
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        w.engine.fireCallHungUp(0);
        QTest::qWait(50);
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 2);
        QVERIFY(w.ctx.state.CurrentNumber.isEmpty());

        // A new call on that line, placed by anyone, is logged again when the far end ends it.
        w.engine.fireCallConnecting(0);
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 3);
    }

    // The recording is saved with a 500 ms wait; what happens "during" it is scheduled on a timer.
    void farEndHangUpKeepsTheNumberOfTheEndedCall() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        QVERIFY(w.ui.CheckStartRecording->isChecked());

        // The dial automation puts the next number into the field while the recording is saved.
        QTimer::singleShot(200, &w.window, [&] { w.ui.EditPhoneNo->setText(QStringLiteral("5550001111")); });
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).at(0).startsWith("\"" + kNumber.toUtf8() + "\","));
        QCOMPARE(w.ctx.state.CurrentNumber, kNumber);
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("5550001111"));
    }

    void callEndsMeetingDuringTheRecordingWaitWriteARowEach() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        // While the agent's hang-up saves the recording, the engine reports a far-end hang-up.
        QTimer::singleShot(100, &w.window, [&] { w.engine.fireCallHungUp(1); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        const QByteArrayList rows = w.callLogRows(QStringLiteral("Agent7"));
        QCOMPARE(rows.size(), 2);
        QVERIFY2(rows.at(0).startsWith("\"" + kNumber.toUtf8() + "\","), rows.at(0).constData());
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
    }

    void secondHangUpDuringTheRecordingWaitIsIgnored() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        QTimer::singleShot(100, &w.window, [&] { w.callEnd->onBtnHangUpClicked(); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.fakes.messages.texts().isEmpty());
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
    }

    void perLineMute() {
        CallsWindow w;
        w.goOnline(2);
        // A refusal is shown; the flag stays clear while the box keeps what the agent gave it.
        w.engine.failNext(QStringLiteral("MuteLineMic"), EngineError::NotInVoiceSession);
        w.ui.CheckMuteLineMIC->setChecked(true);
        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Selected line is not in voice session.")});
        QCOMPARE(w.ctx.state.MicMuted, (QVector<bool>{false, false}));
        QVERIFY(w.ui.CheckMuteLineMIC->isChecked());
        w.ui.CheckMuteLineMIC->setChecked(false);

        w.ui.ComboMuteLine->setCurrentIndex(1);
        w.engine.clearCalls();
        w.ui.CheckMuteLineSPK->setChecked(true);
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineSpeaker")), (QVariantList{1, true}));
        QCOMPARE(w.ctx.state.SpeakerMuted, (QVector<bool>{false, true}));
        w.ui.CheckMuteLineMIC->setChecked(true);
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineMic")), (QVariantList{1, true}));
        QCOMPARE(w.ctx.state.MicMuted, (QVector<bool>{false, true}));

        // Choosing line 1 shows its flags and sends them to the engine again.
        w.engine.clearCalls();
        w.ui.ComboMuteLine->setCurrentIndex(0);
        QVERIFY(!w.ui.CheckMuteLineSPK->isChecked());
        QVERIFY(!w.ui.CheckMuteLineMIC->isChecked());
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineSpeaker")), (QVariantList{0, false}));
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineMic")), (QVariantList{0, false}));
        QCOMPARE(w.ctx.state.SpeakerMuted, (QVector<bool>{false, true}));

        w.ui.ComboMuteLine->setCurrentIndex(1);
        QVERIFY(w.ui.CheckMuteLineSPK->isChecked());
        QVERIFY(w.ui.CheckMuteLineMIC->isChecked());
    }

    // --- two lines ending together, and closing the window while a call ends ---------------------

    // The far end of line 2 hangs up while the agent's hang-up of line 1 saves its recording.
    void agentsRowIsKeptWhenTheOtherLineEndsDuringItsWait() {
        CallsWindow w;
        const QString second = QStringLiteral("5559876543");
        connectCall(w);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(second);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Success to connect.")));
        w.ui.ComboDial->setCurrentIndex(0);
        w.ui.EditPhoneNo->setText(kNumber);
        w.ui.RecThisCallCheck->setChecked(true);

        QTimer::singleShot(100, &w.window, [&] { w.engine.fireCallHungUp(1); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        QTRY_COMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 2);
        const QByteArrayList rows = w.callLogRows(QStringLiteral("Agent7"));
        QVERIFY2(rows.at(0).startsWith("\"" + second.toUtf8() + "\",") && rows.at(0).endsWith(",\"\""),
                 rows.at(0).constData());
        QVERIFY2(rows.at(1).startsWith("\"" + kNumber.toUtf8() + "\",") && rows.at(1).endsWith(",\"hang up\""),
                 rows.at(1).constData());
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{0});
    }

    // The agent hangs up line 1 while the far-end hang-up of recorded line 2 saves its recording.
    void hangUpRunsWhileTheOtherLinesFarEndEndWaits() {
        CallsWindow w;
        const QString second = QStringLiteral("5559876543");
        connectCall(w);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(second);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Success to connect.")));
        w.ui.RecThisCallCheck->setChecked(true);

        int endCallsDuringWait = -1;
        QTimer::singleShot(100, &w.window, [&] {
            w.ui.ComboDial->setCurrentIndex(0);
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
            endCallsDuringWait = w.engine.count(QStringLiteral("EndCall"));
        });
        w.engine.fireCallHungUp(1);

        QTRY_COMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 2);
        QCOMPARE(endCallsDuringWait, 1);
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{0});
        QVERIFY(!w.engine.line(0).busy);
        const QByteArrayList rows = w.callLogRows(QStringLiteral("Agent7"));
        QVERIFY2(rows.at(0).startsWith("\"" + kNumber.toUtf8() + "\",") && rows.at(0).endsWith(",\"hang up\""),
                 rows.at(0).constData());
        QVERIFY2(rows.at(1).startsWith("\"" + second.toUtf8() + "\",") && rows.at(1).endsWith(",\"\""),
                 rows.at(1).constData());
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
    }

    // File > exit 100 ms into the far-end hang-up's recording wait: the process ends after the row.
    void exitDuringTheFarEndsWaitEndsAfterItsRow() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        int rowsAtQuit = -1;
        w.window.shutdown().setForceQuit([&] { rowsAtQuit = int(w.callLogRows(QStringLiteral("Agent7")).size()); });

        QTimer::singleShot(100, &w.window, [&] { w.ui.exitcmd->trigger(); });
        w.engine.fireCallHungUp(0);

        QTRY_VERIFY_WITH_TIMEOUT(rowsAtQuit != -1, 5000);
        QCOMPARE(rowsAtQuit, 1);
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        QTest::qWait(100);
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
    }

    // Closing the window with a recorded call up ends it as the agent's hang-up would.
    void closeHangsUpTheLiveCallWithItsRow() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        int rowsAtQuit = -1;
        w.window.shutdown().setForceQuit([&] { rowsAtQuit = int(w.callLogRows(QStringLiteral("Agent7")).size()); });

        w.window.close();

        QTRY_VERIFY_WITH_TIMEOUT(rowsAtQuit != -1, 5000);
        QCOMPARE(rowsAtQuit, 1);
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).at(0).endsWith(",\"hang up\""));
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        const QStringList names = w.engine.callNames();
        QVERIFY(names.contains(QStringLiteral("EndCall")));
        QVERIFY(names.indexOf(QStringLiteral("EndCall")) < names.indexOf(QStringLiteral("EngineStop")));
    }
};

QTEST_MAIN(TestCallEnd)
#include "tst_callend.moc"
