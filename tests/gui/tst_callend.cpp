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

    // Every way the dialer places a call: the agent's hang-up writes its row with the number it
    // dialled on that line (without a pre-dial prefix) and the seconds the call lasted.
    void placedCallRowNamesItsCall_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("number");
        QTest::newRow("number field") << "field" << kNumber;
        QTest::newRow("dial file") << "file" << kNumber;
        QTest::newRow("INT") << "VMCallPush" << kSecond;
        QTest::newRow("transfer target") << "CallTranPush" << kSecond;
        QTest::newRow("greeting") << "ListtogreetingCmd" << "9001";
        QTest::newRow("voice mail") << "vmclick" << "*97";
        QTest::newRow("monitoring") << "MonList" << "199205";
    }
    void placedCallRowNamesItsCall() {
        QFETCH(QString, way);
        QFETCH(QString, number);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.setSetting(QStringLiteral("DID"), QStringLiteral("True"));
        w.setSetting(QStringLiteral("PreDialNumber"), QStringLiteral("*2"));
        w.ui.EditTransferPhoneNo->setEditText(kSecond + QStringLiteral(" Jane"));
        w.ctx.timers.CallTimer->setInterval(20);
        if (way == QLatin1String("field")) {
            w.dial(kNumber);
        } else if (way == QLatin1String("file")) {
            automate(w);
            dropFile(w, kNumber + QStringLiteral(".dia"));
        } else if (way == QLatin1String("MonList")) {
            w.ui.MonList->addItem(QStringLiteral("205"));
            w.ui.MonList->setCurrentRow(0);
            emit w.ui.MonList->itemDoubleClicked(w.ui.MonList->item(0));
        } else {
            QTest::mouseClick(w.fixture.find<QPushButton>(way), Qt::LeftButton);
        }
        const int line = w.ui.ComboDial->currentIndex();
        QTRY_VERIFY(w.engine.line(line).connected);
        QTRY_VERIFY(w.ui.callsec->text().toInt() >= 3);
        const QByteArray seconds = w.ui.callsec->text().toUtf8();
        w.callEnd->onBtnHangUpClicked();
        QCOMPARE(rows(w).size(), 1);
        QVERIFY2(rows(w).at(0).startsWith("\"" + number.toUtf8() + "\",\"Agent7\",\"" + seconds + "\","),
                 rows(w).at(0).constData());
    }

    // A hang-up with no call on the line, by the agent or by another program, writes no row.
    void hangUpWithNoCallWritesNoRow_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Stop") << "Stop";
        QTest::newRow("end file") << "file";
        QTest::newRow("#hangup") << "clipboard";
        QTest::newRow("Stop after the far end's hang-up") << "after";
    }
    void hangUpWithNoCallWritesNoRow() {
        QFETCH(QString, way);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        if (way == QLatin1String("after")) {
            w.dial(kNumber);
            QTRY_VERIFY(w.engine.line(0).connected);
            w.engine.fireCallHungUp(0);
            QTRY_COMPARE(rows(w).size(), 1);
        }
        const qsizetype before = rows(w).size();
        if (way == QLatin1String("file")) {
            automate(w);
            dropFile(w, QStringLiteral("stop.end"));
        } else if (way == QLatin1String("clipboard")) {
            automate(w);
            w.fakes.clipboard.put(QStringLiteral("#hangup"));
        } else {
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        }
        QTRY_VERIFY(w.statusLog().contains(NoCallToEndText));
        QCOMPARE(rows(w).size(), before);
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

    // The far end of line 1 hangs up while line 2 is chosen: line 1's recording is saved under its
    // own number, and line 2's call keeps recording.
    void farEndHangUpSavesTheEndedLinesRecording() {
        CallsWindow w;
        connectCall(w);
        w.ui.RecThisCallCheck->setChecked(true);
        QTRY_VERIFY(w.engine.line(0).recording);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kSecond);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.engine.fireCallHungUp(0);
        QTRY_COMPARE(rows(w).size(), 1);
        QVERIFY(rowIs(rows(w).at(0), kNumber, ""));
        QCOMPARE(w.engine.callsTo(QStringLiteral("SaveRecording")).size(), 1);
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")).value(0), QVariant(0));
        const QStringList saved = QDir(w.ctx.root.messages()).entryList({QStringLiteral("*.wav")});
        QVERIFY2(saved.size() == 1 && saved.at(0).startsWith(kNumber + QLatin1Char('_')), qPrintable(saved.join(' ')));
        QVERIFY(w.fakes.messages.texts().isEmpty());
        QCOMPARE(w.ui.EditPhoneNo->text(), kSecond);
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
            QCOMPARE(w.ui.BtnOnline->text(), QStringLiteral("Online"));
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
