// Call and monitoring-call recording on the real window: the files saved at call end and before
// hold with their names at a fixed clock, a failed save, and names that must not replace a file or
// leave the messages folder.

#include "CallsWindow.h"

#include "phone/EngineErrors.h"

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kNumber = QStringLiteral("5551234567");
const QDateTime kSaveTime(QDate(2026, 12, 4), QTime(9, 5, 7));

// A window online with two lines and a connected call on line, its number in the number field.
struct RecordingWindow : CallsWindow {
    explicit RecordingWindow(int line = 0, const QString& number = kNumber) {
        goOnline(2);
        engine.lineRef(line).busy = true;
        engine.lineRef(line).connected = true;
        ui.ComboDial->setCurrentIndex(line);
        ui.EditPhoneNo->setText(number);
        ui.ListStatusLog->clear();
        engine.clearCalls();
    }
    QStringList recordings() const { return QDir(ctx.root.messages()).entryList(QDir::Files, QDir::Name); }
    void at(const QTime& time) { fakes.clock.set(QDateTime(kSaveTime.date(), time)); }
};

} // namespace

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    // A call recorded on demand is saved before hold, in a file named after the number without its
    // blanks when it is saved, and is not recorded again on resume.
    void recordThisCallIsSavedAtHoldAndNotRestarted() {
        RecordingWindow w(0, QStringLiteral(" 5551234567 "));
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("False"));
        w.at(QTime(9, 0, 0));
        w.ui.RecThisCallCheck->setChecked(true);
        w.at(QTime(9, 1, 30));
        w.recording->finishCallRecording();       // hold
        w.recording->startRecordingIfRecordAll(); // resume
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        w.at(QTime(9, 4, 2));
        w.recording->finishCallRecording(); // hang-up
        QCOMPARE(w.recordings(), QStringList{QStringLiteral("5551234567_041226_090130.wav")});
    }

    // The engine keeps the recording, so that the agent can still save it.
    void failedSaveKeepsBuffer() {
        RecordingWindow w;
        w.ui.RecThisCallCheck->setChecked(true);
        w.engine.failNext(QStringLiteral("SaveRecording"), EngineError::WaveWrite);
        w.recording->finishCallRecording();
        QCOMPARE(w.engine.count(QStringLiteral("ResetRecording")), 0);
        QVERIFY(w.engine.line(0).hasRecording);
        QVERIFY(w.fakes.messages.boxes.isEmpty());
        QVERIFY(w.statusLog().last().startsWith(QStringLiteral("Recording not saved: could not write ")));
    }

    // Two saves within one second: the second takes the next free name, the first file is kept.
    void saveNeverReplacesAFile() {
        RecordingWindow w;
        w.fakes.clock.set(kSaveTime);
        w.ui.RecThisCallCheck->setChecked(true);
        w.recording->stopAndSaveRecording();
        w.ui.RecThisCallCheck->setChecked(true);
        w.recording->stopAndSaveRecording();
        QCOMPARE(w.recordings(), (QStringList{"5551234567_041226_090507.wav", "5551234567_041226_090507_2.wav"}));
    }

    void numberCannotLeaveMessagesFolder() {
        RecordingWindow w(0, QStringLiteral("/tmp/evil"));
        w.fakes.clock.set(kSaveTime);
        w.ui.RecThisCallCheck->setChecked(true);
        const QStringList before = treeOf(w.fixture.rootPath());
        w.recording->stopAndSaveRecording();
        QStringList after = treeOf(w.fixture.rootPath());
        QVERIFY(after.removeOne(QStringLiteral("messages/_tmp_evil_041226_090507.wav")));
        QCOMPARE(after, before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil_041226_090507.wav")));
    }

    // Ticked at 10:00:00, hung up at 10:03:00: the file carries the start time.
    void monitoringRecordingCarriesStartTime() {
        RecordingWindow w(0, QStringLiteral("199201"));
        w.ctx.state.MonitorTarget = QStringLiteral("201");
        w.at(QTime(10, 0, 0));
        w.ui.recCheck2->setChecked(true);
        w.at(QTime(10, 3, 0));
        QTest::mouseClick(w.ui.ctPush2, Qt::LeftButton);
        QCOMPARE(w.recordings(), QStringList{QStringLiteral("201_041226_100000.wav")});
    }

    // --- the recording switch after a reset ---------------------------------------------------------

    // A reset empties the buffer; on a live line recording goes on, on a held line the engine
    // cannot go on recording, and the switch then offers to start it again.
    void switchFollowsTheEngineAfterAReset() {
        RecordingWindow w;
        w.ui.CheckStartRecording->setChecked(true);
        QTest::mouseClick(w.ui.BtnResetRecordingBuffer, Qt::LeftButton);
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        QVERIFY(w.engine.HoldCall(0));
        QTest::mouseClick(w.ui.BtnResetRecordingBuffer, Qt::LeftButton);
        QVERIFY(!w.engine.line(0).recording && !w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.ui.CheckStartRecording->text(), QStringLiteral("Start Recording Call"));
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
