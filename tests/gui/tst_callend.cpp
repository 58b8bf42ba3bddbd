// A call from its connection to its end: recording started on connect, the agent's and the far
// end's hang-up with the call-log row each writes (once), a refused hang-up, the recording wait,
// closing the window during a call, and the per-line mute flags.

#include "gui/CallsWindow.h"

#include "app/Shutdown.h"
#include "calls/CallEnd.h"

#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

static const QString kNumber = QStringLiteral("5551234567");
static const QString kSecond = QStringLiteral("5559876543");

class TestCallEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Recording from the connection (recordAll) needs a number to name the file after.
    void connectedWithABlankNumberRecordsNothing() {
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("True"));
        w.ui.EditPhoneNo->setText(QStringLiteral(" "));
        w.engine.fireCallConnected(0);
        QTRY_VERIFY(w.engine.line(0).connected);
        QCOMPARE(w.engine.count(QStringLiteral("StartRecording")), 0);
    }

    // Without a display name the agent's hang-up writes no row; the far end's writes its row all the same.
    void noDisplayNameLogsOnlyTheFarEndsEnd() {
        for (const bool farEnd : {false, true}) {
            CallsWindow w;
            w.goOnline(2);
            w.dial(kNumber);
            QTRY_VERIFY(w.engine.line(0).connected);
            farEnd ? w.engine.fireCallHungUp(0) : QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
            QTRY_VERIFY(!w.engine.line(0).busy);
            QTRY_COMPARE(w.callLogRows(QString()).size(), farEnd ? 1 : 0);
        }
    }

    // Every way the dialer places a call: its end writes one row with the number dialled on that
    // line (no pre-dial prefix) and the seconds the call lasted. A customer's call up when a
    // monitoring call starts gets its row and its recording first. With no call, nothing is written.
    void callRowNamesItsCall_data() {
        QTest::addColumn<QString>("place"); // a button, "field", "file", "MonList", or "" for no call
        QTest::addColumn<QString>("end");   // "Stop", or the end file or clipboard command
        QTest::addColumn<QString>("number");
        QTest::newRow("number field") << "field" << "Stop" << kNumber;
        QTest::newRow("dial file, end file") << "file" << "x.end" << kNumber;
        QTest::newRow("INT") << "VMCallPush" << "Stop" << kSecond;
        QTest::newRow("transfer target") << "CallTranPush" << "Stop" << kSecond;
        QTest::newRow("greeting") << "ListtogreetingCmd" << "Stop" << "9001";
        QTest::newRow("voice mail") << "vmclick" << "#hangup" << "*97";
        QTest::newRow("monitoring, customer's call up") << "MonList" << "Stop" << "199205";
        QTest::newRow("no call, Stop") << "" << "Stop" << "";
        QTest::newRow("no call, end file") << "" << "x.end" << "";
        QTest::newRow("no call, #hangup") << "" << "#hangup" << "";
    }
    void callRowNamesItsCall() {
        QFETCH(QString, place);
        QFETCH(QString, end);
        QFETCH(QString, number);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.setSetting(QStringLiteral("DID"), QStringLiteral("True"));
        w.setSetting(QStringLiteral("PreDialNumber"), QStringLiteral("*2"));
        w.ui.EditTransferPhoneNo->setEditText(kSecond + QStringLiteral(" Jane"));
        w.ctx.timers.CallTimer->setInterval(20);
        w.automate();
        if (place == QLatin1String("field") || place == QLatin1String("MonList")) w.dial(kNumber);
        if (place == QLatin1String("MonList")) {
            QTRY_VERIFY(w.engine.line(0).connected);
            w.ui.RecThisCallCheck->setChecked(true);
            w.ui.MonList->addItem(QStringLiteral("205"));
            emit w.ui.MonList->itemDoubleClicked(w.ui.MonList->item(0));
            QVERIFY(CallsWindow::rowIs(w.agentRows().value(0), kNumber, "hang up"));
            QVERIFY(w.engine.last(QStringLiteral("SaveRecording")).value(1).toString().contains(kNumber));
        } else if (place == QLatin1String("file")) {
            w.drop(kNumber + QStringLiteral(".dia"));
        } else if (place != QLatin1String("field") && !place.isEmpty()) {
            QTest::mouseClick(w.fixture.find<QPushButton>(place), Qt::LeftButton);
        }
        const qsizetype before = w.agentRows().size();
        if (!number.isEmpty()) QTRY_VERIFY(w.ui.callsec->text().toInt() >= 3);
        const int seconds = w.ui.callsec->text().toInt(); // an end file or command ends it a little later
        if (end == QLatin1String("Stop")) w.callEnd->onBtnHangUpClicked();
        else if (end.startsWith('#')) w.fakes.clipboard.put(end);
        else w.drop(end);
        if (number.isEmpty()) QTRY_VERIFY(w.statusLog().contains(NoCallToEndText));
        QTRY_COMPARE(w.agentRows().size(), before + (number.isEmpty() ? 0 : 1));
        if (number.isEmpty()) return;
        const QByteArrayList fields = w.agentRows().last().split(',');
        QCOMPARE(fields.mid(0, 2), (QByteArrayList{'"' + number.toUtf8() + '"', "\"Agent7\""}));
        QVERIFY(fields.at(2).mid(1).chopped(1).toInt() >= seconds);
    }

    void hangUpRefusedKeepsTheCall() {
        CallsWindow w;
        w.connectCall(kNumber);
        w.engine.failNext(QStringLiteral("EndCall"), EngineError::DisconnectRequest);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Error to create DISCONNECT request.")});
        QCOMPARE(w.ui.EditPhoneNo->text(), kNumber);
        QVERIFY(w.agentRows().isEmpty());
        QVERIFY(w.engine.line(0).connected);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton); // it can still be ended
        QCOMPARE(w.agentRows().size(), 1);
    }

    void callEndIsWrittenOnce() {
        CallsWindow w;
        w.connectCall(kNumber);
        w.engine.fireCallHungUp(0);
        w.engine.fireCallHungUp(0); // the same end reported twice
        QTRY_COMPARE(w.agentRows().size(), 1);
        QTest::qWait(50);
        QCOMPARE(w.agentRows().size(), 1);

        // The agent ends the next call; a late far-end report of it adds nothing either.
        w.dial(kSecond);
        QTRY_VERIFY(w.engine.line(0).connected);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        w.engine.fireCallHungUp(0);
        QTest::qWait(50);
        QCOMPARE(w.agentRows().size(), 2);

        // A new call on that line, placed by anyone, is logged again when the far end ends it.
        w.engine.fire(&SipEngine::CallConnecting, 0);
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(w.agentRows().size(), 3);
    }

    // The far end of recorded line 1 hangs up while a call is placed on line 2, and the dial
    // automation puts the next number into the field during the recording's 500 ms wait: line 1's
    // recording is saved and its row written, both under the ended call's number, and the field is
    // left alone.
    void farEndHangUpSavesTheEndedLinesCallUnderItsNumber() {
        CallsWindow w;
        w.connectCall(kNumber);
        w.ui.RecThisCallCheck->setChecked(true);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kSecond);
        QTimer::singleShot(200, &w.window, [&] { w.ui.EditPhoneNo->setText(QStringLiteral("5550001111")); });
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(w.agentRows().size(), 1);
        QVERIFY(CallsWindow::rowIs(w.agentRows().at(0), kNumber, ""));
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")).value(0), QVariant(0));
        QVERIFY(w.engine.last(QStringLiteral("SaveRecording")).value(1).toString().contains(kNumber + '_'));
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("5550001111"));
    }

    void secondHangUpDuringTheRecordingWaitIsIgnored() {
        CallsWindow w;
        w.connectCall(kNumber);
        w.ui.RecThisCallCheck->setChecked(true);
        QTimer::singleShot(100, &w.window, [&] { w.callEnd->onBtnHangUpClicked(); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.fakes.messages.texts().isEmpty());
        QCOMPARE(w.agentRows().size(), 1);
    }

    // Choosing a line shows its own mute flags and sends them to the engine again.
    void perLineMuteFollowsTheChosenLine() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboMuteLine->setCurrentIndex(1);
        w.ui.CheckMuteLineSPK->setChecked(true);
        w.ui.CheckMuteLineMIC->setChecked(true);
        w.ui.ComboMuteLine->setCurrentIndex(0);
        QVERIFY(!w.ui.CheckMuteLineSPK->isChecked() && !w.ui.CheckMuteLineMIC->isChecked());
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineSpeaker")), (QVariantList{0, false}));
        QCOMPARE(w.engine.last(QStringLiteral("MuteLineMic")), (QVariantList{0, false}));
        w.ui.ComboMuteLine->setCurrentIndex(1);
        QVERIFY(w.ui.CheckMuteLineSPK->isChecked() && w.ui.CheckMuteLineMIC->isChecked());
    }

    // --- two lines ending together, and closing the window while a call ends ---------------------

    // Two lines end together, one end arriving 100 ms into the other's recording wait: the far end
    // of line 2 during the agent's hang-up of line 1, or the agent's hang-up of line 1 during the far
    // end's of recorded line 2. The hang-up ends line 1 at once, and each end writes its own row.
    void twoLinesEndingTogetherWriteARowEach_data() {
        QTest::addColumn<bool>("agentFirst");
        QTest::newRow("far end during the agent's wait") << true;
        QTest::newRow("agent during the far end's wait") << false;
    }
    void twoLinesEndingTogetherWriteARowEach() {
        QFETCH(bool, agentFirst);
        CallsWindow w;
        w.connectCall(kNumber); // and one to kSecond on line 2, still chosen for dialing
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kSecond);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Success to connect.")));
        w.ui.RecThisCallCheck->setChecked(true);
        const auto hangUpLineOne = [&] {
            w.ui.ComboDial->setCurrentIndex(0);
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        };
        int endCallsDuringWait = -1;
        QTimer::singleShot(100, &w.window, [&] {
            agentFirst ? w.engine.fireCallHungUp(1) : hangUpLineOne();
            endCallsDuringWait = w.engine.count(QStringLiteral("EndCall"));
        });
        agentFirst ? hangUpLineOne() : w.engine.fireCallHungUp(1);
        QTRY_COMPARE(w.agentRows().size(), 2);
        QCOMPARE(endCallsDuringWait, 1);
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{0});
        QVERIFY(CallsWindow::rowIs(w.agentRows().at(agentFirst ? 1 : 0), kNumber, "hang up"));
        QVERIFY(CallsWindow::rowIs(w.agentRows().at(agentFirst ? 0 : 1), kSecond, ""));
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
    }

    // Closing the window, going offline, or File > exit 100 ms into the far end's recording wait,
    // with a recorded call up: the call's row and recording are written once, before the process
    // would end; the agent's hang-up comes before the engine stops.
    void closingWithACallUpWritesItsRowFirst_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("result"); // the row's last field
        QTest::newRow("close") << "close" << QByteArray("hang up");
        QTest::newRow("Offline") << "Offline" << QByteArray("hang up");
        QTest::newRow("exit during the far end's wait") << "exit" << QByteArray();
    }
    void closingWithACallUpWritesItsRowFirst() {
        QFETCH(QString, how);
        QFETCH(QByteArray, result);
        CallsWindow w;
        w.connectCall(kNumber);
        w.ui.RecThisCallCheck->setChecked(true);
        int rowsAtQuit = -1;
        w.window.shutdown().setForceQuit([&] { rowsAtQuit = int(w.agentRows().size()); });
        if (how == QLatin1String("Offline")) {
            w.setSetting(QStringLiteral("DisplayName"), QStringLiteral("Agent7")); // read again by the button
            w.ui.BtnOnline->setText(QStringLiteral("Offline"));
            QTest::mouseClick(w.ui.BtnOnline, Qt::LeftButton);
            rowsAtQuit = int(w.agentRows().size());
        } else if (how == QLatin1String("close")) {
            w.window.close();
        } else {
            QTimer::singleShot(100, &w.window, [&] { w.ui.exitcmd->trigger(); });
            w.engine.fireCallHungUp(0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(rowsAtQuit != -1, 5000);
        QCOMPARE(rowsAtQuit, 1);
        QVERIFY(CallsWindow::rowIs(w.agentRows().at(0), kNumber, result.constData()));
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        const QStringList names = w.engine.callNames();
        QCOMPARE(names.contains(QStringLiteral("EndCall")), !result.isEmpty());
        QVERIFY(names.indexOf(QStringLiteral("EndCall")) < names.indexOf(QStringLiteral("EngineStop")));
        QTest::qWait(100);
        QCOMPARE(w.agentRows().size(), 1);
    }
};

QTEST_MAIN(TestCallEnd)
#include "tst_callend.moc"
