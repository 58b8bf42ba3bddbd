// A call from its connection to its end: the ring-back tone, recording started on connect, the
// agent's and the far end's hang-up with the call-log row each writes (once), a refused hang-up,
// the recording wait, and the per-line mute flags.

#include "gui/CallsWindow.h"

#include "app/Shutdown.h"
#include "calls/CallEnd.h"

#include <QDir>

#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

namespace {
const QString kNumber = QStringLiteral("5551234567");
const QString kSecond = QStringLiteral("5559876543");

// Online with two lines, the agent's display name set, and a call to kNumber connected on line 1.
void connectCall(CallsWindow& w) {
    w.goOnline(2);
    w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
    w.dial(kNumber);
    QTRY_VERIFY(w.engine.line(0).connected);
}

// As connectCall, and a call to kSecond connected on line 2, still chosen for dialing.
void connectTwoLines(CallsWindow& w) {
    connectCall(w);
    w.ui.ComboDial->setCurrentIndex(1);
    w.dial(kSecond);
    QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Success to connect.")));
}

QByteArrayList rows(const CallsWindow& w) {
    return w.callLogRows(QStringLiteral("Agent7"));
}

// Whether a call-log row is of number and ends in result ("hang up" for the agent's, "" for the far end's).
bool rowIs(const QByteArray& row, const QString& number, const char* result) {
    const bool ok = row.startsWith("\"" + number.toUtf8() + "\",") && row.endsWith(QByteArray(",\"") + result + '"');
    if (!ok) qWarning("row: %s", row.constData());
    return ok;
}

// Dial files, end files and clipboard commands are taken (online, click-to-dial on).
void automate(CallsWindow& w) {
    w.ctx.state.SipTapiMode = QStringLiteral("True");
    w.ui.BtnOnline->setText(QStringLiteral("Offline"));
    w.ui.swipeLengthTxT->setText(QStringLiteral("14"));
    w.ui.autoCheck->setChecked(true);
}
void dropFile(CallsWindow& w, const QString& name) {
    QFile file(QDir(w.ctx.root.datalink()).filePath(name));
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(name));
}
} // namespace

class TestCallEnd : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ringToneFollowsTheDialToneOption() {
        CallsWindow w;
        w.goOnline(2);
        w.engine.setDefaultScript(FakeEngine::answer(200));
        w.ctx.state.RingToneOn = false;
        w.dial(kNumber);
        QTRY_VERIFY(w.engine.line(0).connected);
        QVERIFY(w.fakes.ring.starts.isEmpty());
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);

        w.ctx.state.RingToneOn = true;
        w.dial(kNumber);
        QTRY_COMPARE(w.fakes.ring.starts.size(), 1);
        QTRY_VERIFY(!w.fakes.ring.isPlaying()); // stopped by the connection
    }

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

    // The agent ends the call on the line chosen for dialing (line 2); without a display name that
    // writes no row. The far end's hang-up writes its row whatever the display name.
    void callEndWritesItsRow_data() {
        QTest::addColumn<bool>("farEnd");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QByteArray>("result"); // empty: no row
        QTest::newRow("agent") << false << QStringLiteral("Agent7") << QByteArray("\"hang up\"");
        QTest::newRow("agent, no display name") << false << QString() << QByteArray();
        QTest::newRow("far end, no display name") << true << QString() << QByteArray("\"\"");
    }

    void callEndWritesItsRow() {
        QFETCH(bool, farEnd);
        QFETCH(QString, displayName);
        QFETCH(QByteArray, result);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(displayName);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kNumber);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.ui.callsec->setText(QStringLiteral("17"));
        if (farEnd)
            w.engine.fireCallHungUp(1);
        else
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QTRY_VERIFY(!w.engine.line(1).busy);
        QCOMPARE(w.engine.callsTo(QStringLiteral("EndCall")).size(), farEnd ? 0 : 1);
        if (result.isEmpty()) {
            QVERIFY(QDir(w.ctx.root.logs()).entryList({QStringLiteral("*.csv")}).isEmpty());
            return;
        }
        QTRY_COMPARE(w.callLogRows(displayName).size(), 1);
        const QByteArray row = w.callLogRows(displayName).at(0);
        QVERIFY2(row.startsWith("\"5551234567\",\"" + displayName.toUtf8() + "\",\"17\",") &&
                     row.endsWith("," + result),
                 row.constData());
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
        automate(w);
        if (place == QLatin1String("field") || place == QLatin1String("MonList")) w.dial(kNumber);
        if (place == QLatin1String("MonList")) {
            QTRY_VERIFY(w.engine.line(0).connected);
            w.ui.RecThisCallCheck->setChecked(true);
            w.ui.MonList->addItem(QStringLiteral("205"));
            emit w.ui.MonList->itemDoubleClicked(w.ui.MonList->item(0));
            QVERIFY(rowIs(rows(w).value(0), kNumber, "hang up"));
            QVERIFY(w.engine.last(QStringLiteral("SaveRecording")).value(1).toString().contains(kNumber));
        } else if (place == QLatin1String("file")) {
            dropFile(w, kNumber + QStringLiteral(".dia"));
        } else if (place != QLatin1String("field") && !place.isEmpty()) {
            QTest::mouseClick(w.fixture.find<QPushButton>(place), Qt::LeftButton);
        }
        const qsizetype before = rows(w).size();
        if (!number.isEmpty()) QTRY_VERIFY(w.ui.callsec->text().toInt() >= 3);
        const int seconds = w.ui.callsec->text().toInt(); // an end file or command ends it a little later
        if (end == QLatin1String("Stop")) w.callEnd->onBtnHangUpClicked();
        else if (end.startsWith('#')) w.fakes.clipboard.put(end);
        else dropFile(w, end);
        if (number.isEmpty()) QTRY_VERIFY(w.statusLog().contains(NoCallToEndText));
        QTRY_COMPARE(rows(w).size(), before + (number.isEmpty() ? 0 : 1));
        if (number.isEmpty()) return;
        const QByteArrayList fields = rows(w).last().split(',');
        QCOMPARE(fields.mid(0, 2), (QByteArrayList{'"' + number.toUtf8() + '"', "\"Agent7\""}));
        QVERIFY(fields.at(2).mid(1).chopped(1).toInt() >= seconds);
    }

    void hangUpRefusedKeepsTheCall() {
        CallsWindow w;
        connectCall(w);
        w.engine.failNext(QStringLiteral("EndCall"), EngineError::DisconnectRequest);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Error to create DISCONNECT request.")});
        QCOMPARE(w.ui.EditPhoneNo->text(), kNumber);
        QVERIFY(rows(w).isEmpty());
        QVERIFY(w.engine.line(0).connected);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton); // it can still be ended
        QCOMPARE(rows(w).size(), 1);
    }

    void callEndIsWrittenOnce() {
        CallsWindow w;
        connectCall(w);
        w.engine.fireCallHungUp(0);
        w.engine.fireCallHungUp(0); // the same end reported twice
        QTRY_COMPARE(rows(w).size(), 1);
        QTest::qWait(50);
        QCOMPARE(rows(w).size(), 1);

        // The agent ends the next call; a late far-end report of it adds nothing either.
        w.dial(kSecond);
        QTRY_VERIFY(w.engine.line(0).connected);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        w.engine.fireCallHungUp(0);
        QTest::qWait(50);
        QCOMPARE(rows(w).size(), 2);

        // A new call on that line, placed by anyone, is logged again when the far end ends it.
        w.engine.fireCallConnecting(0);
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(rows(w).size(), 3);
    }

    // The dial automation puts the next number into the field while the recording is saved (a
    // 500 ms wait): the row keeps the number of the ended call.
    void farEndHangUpKeepsTheNumberOfTheEndedCall() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        QTimer::singleShot(200, &w.window, [&] { w.ui.EditPhoneNo->setText(QStringLiteral("5550001111")); });
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(rows(w).size(), 1);
        QVERIFY(rowIs(rows(w).at(0), kNumber, ""));
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("5550001111"));
    }

    void secondHangUpDuringTheRecordingWaitIsIgnored() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        QTimer::singleShot(100, &w.window, [&] { w.callEnd->onBtnHangUpClicked(); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.fakes.messages.texts().isEmpty());
        QCOMPARE(rows(w).size(), 1);
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

    // The far end of line 2 hangs up while the agent's hang-up of line 1 saves its recording.
    void agentsRowIsKeptWhenTheOtherLineEndsDuringItsWait() {
        CallsWindow w;
        connectTwoLines(w);
        w.ui.ComboDial->setCurrentIndex(0);
        w.ui.EditPhoneNo->setText(kNumber);
        w.ui.RecThisCallCheck->setChecked(true);
        QTimer::singleShot(100, &w.window, [&] { w.engine.fireCallHungUp(1); });
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QTRY_COMPARE(rows(w).size(), 2);
        QVERIFY(rowIs(rows(w).at(0), kSecond, ""));
        QVERIFY(rowIs(rows(w).at(1), kNumber, "hang up"));
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{0});
    }

    // The agent hangs up line 1 while the far-end hang-up of recorded line 2 saves its recording.
    void hangUpRunsWhileTheOtherLinesFarEndEndWaits() {
        CallsWindow w;
        connectTwoLines(w);
        w.ui.RecThisCallCheck->setChecked(true);
        int endCallsDuringWait = -1;
        QTimer::singleShot(100, &w.window, [&] {
            w.ui.ComboDial->setCurrentIndex(0);
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
            endCallsDuringWait = w.engine.count(QStringLiteral("EndCall"));
        });
        w.engine.fireCallHungUp(1);
        QTRY_COMPARE(rows(w).size(), 2);
        QCOMPARE(endCallsDuringWait, 1);
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")), QVariantList{0});
        QVERIFY(rowIs(rows(w).at(0), kNumber, "hang up"));
        QVERIFY(rowIs(rows(w).at(1), kSecond, ""));
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
    }

    // File > exit 100 ms into the far-end hang-up's recording wait: the process ends after the row.
    void exitDuringTheFarEndsWaitEndsAfterItsRow() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        int rowsAtQuit = -1;
        w.window.shutdown().setForceQuit([&] { rowsAtQuit = int(rows(w).size()); });
        QTimer::singleShot(100, &w.window, [&] { w.ui.exitcmd->trigger(); });
        w.engine.fireCallHungUp(0);
        QTRY_VERIFY_WITH_TIMEOUT(rowsAtQuit != -1, 5000);
        QCOMPARE(rowsAtQuit, 1);
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        QTest::qWait(100);
        QCOMPARE(rows(w).size(), 1);
    }

    // The far end of line 1 hangs up while line 2 is chosen: line 1's recording is saved, under its own number.
    void farEndHangUpSavesTheEndedLinesRecording() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kSecond);
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(rows(w).size(), 1);
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")).value(0), QVariant(0));
        QVERIFY(w.engine.last(QStringLiteral("SaveRecording")).value(1).toString().contains(kNumber + '_'));
    }

    // Closing the window, or going offline, with a recorded call up ends it as the agent's hang-up
    // would, before the engine stops.
    void closeAndOfflineHangUpTheLiveCallWithItsRow_data() {
        QTest::addColumn<bool>("offline");
        QTest::newRow("close") << false;
        QTest::newRow("Offline") << true;
    }
    void closeAndOfflineHangUpTheLiveCallWithItsRow() {
        QFETCH(bool, offline);
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        int rowsAtQuit = -1;
        if (offline) {
            w.setSetting(QStringLiteral("DisplayName"), QStringLiteral("Agent7")); // read again by the button
            w.ui.BtnOnline->setText(QStringLiteral("Offline"));
            QTest::mouseClick(w.ui.BtnOnline, Qt::LeftButton);
            rowsAtQuit = int(rows(w).size());
        } else {
            w.window.shutdown().setForceQuit([&] { rowsAtQuit = int(rows(w).size()); });
            w.window.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT(rowsAtQuit != -1, 5000);
        QCOMPARE(rowsAtQuit, 1);
        QVERIFY(rowIs(rows(w).at(0), kNumber, "hang up"));
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 1);
        const QStringList names = w.engine.callNames();
        QVERIFY(names.contains(QStringLiteral("EndCall")));
        QVERIFY(names.indexOf(QStringLiteral("EndCall")) < names.indexOf(QStringLiteral("EngineStop")));
    }
};

QTEST_MAIN(TestCallEnd)
#include "tst_callend.moc"
