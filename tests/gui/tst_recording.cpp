// Call and monitoring-call recording on the real window: the recording switch and the boxes that
// drive it, saving at call end and before hold, the file names with a fixed clock, and the backup
// button.

#include "CallsWindow.h"

#include "phone/EngineErrors.h"

#include <QDirIterator>
#include <QElapsedTimer>

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kNumber = QStringLiteral("5551234567");
const QDateTime kSaveTime(QDate(2026, 12, 4), QTime(9, 5, 7));

QStringList filesBelow(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

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
    QString messagesFile(const QString& name) const { return ctx.root.messages() + QLatin1Char('/') + name; }
    QStringList recordings() const { return QDir(ctx.root.messages()).entryList(QDir::Files, QDir::Name); }
};

} // namespace

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    void switchWithoutNumberDoesNothing() {
        RecordingWindow w(0, QStringLiteral(" ")); // a blank number is no number
        w.ui.ListStatusLog->addItem(QStringLiteral("earlier line"));
        const QString caption = w.ui.CheckStartRecording->text();

        w.ui.CheckStartRecording->setChecked(true);
        w.ui.RecThisCallCheck->setChecked(true);
        w.ui.CheckStartRecording->setChecked(false);

        QCOMPARE(w.ui.CheckStartRecording->text(), caption);
        QVERIFY(w.engine.calls().isEmpty());
        QCOMPARE(w.ui.EditSaveFileName->text(), QString());
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("earlier line")});
    }

    void switchStartsAndPausesCurrentLine() {
        RecordingWindow w(1, QStringLiteral(" 5551234567 "));
        w.fakes.clock.set(kSaveTime);

        w.ui.CheckStartRecording->setChecked(true);
        QCOMPARE(w.ui.CheckStartRecording->text(), QStringLiteral("Stop Recording Call"));
        QCOMPARE(w.engine.callNames(), QStringList{QStringLiteral("StartRecording")});
        QCOMPARE(w.engine.last(QStringLiteral("StartRecording")), (QVariantList{1, 2, true}));
        QCOMPARE(w.ui.EditSaveFileName->text(), w.messagesFile(QStringLiteral("5551234567_041226_090507.wav")));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Recording - 5551234567 ")});

        // Setting the value it already has runs nothing.
        w.ui.CheckStartRecording->setChecked(true);
        QCOMPARE(w.engine.count(QStringLiteral("StartRecording")), 1);

        w.ui.CheckStartRecording->setChecked(false);
        QCOMPARE(w.ui.CheckStartRecording->text(), QStringLiteral("Start Recording Call"));
        QCOMPARE(w.engine.last(QStringLiteral("StopRecording")), (QVariantList{1}));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Recording Paused - 5551234567 ")});
        QVERIFY(w.recordings().isEmpty()); // pausing saves nothing

        // A refused start is reported with the engine's message.
        w.engine.failNext(QStringLiteral("StartRecording"), EngineError::RecordingInit);
        w.ui.RecThisCallCheck->setChecked(true);
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.fakes.messages.texts(), QStringList{engineErrorMessage(EngineError::RecordingInit)});
    }

    // Number with blanks around it, recording saved at 09:05:07 on 4 December 2026.
    void recordThisCallSavedAtCallEnd() {
        RecordingWindow w(0, QStringLiteral(" 5551234567 "));
        w.fakes.clock.set(kSaveTime.addSecs(-300));
        w.ui.RecThisCallCheck->setChecked(true);
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        w.fakes.clock.set(kSaveTime);

        QElapsedTimer waited;
        waited.start();
        w.recording->finishCallRecording();
        QVERIFY2(waited.elapsed() >= 490, qPrintable(QString::number(waited.elapsed())));

        const QString file = w.messagesFile(QStringLiteral("5551234567_041226_090507.wav"));
        QCOMPARE(w.recordings(), QStringList{QStringLiteral("5551234567_041226_090507.wav")});
        QCOMPARE(w.ui.EditSaveFileName->text(), file);
        QCOMPARE(w.statusLog(), (QStringList{QStringLiteral("Recording Paused - 5551234567 "),
                                             QStringLiteral("Stopped Recording - 5551234567 ")}));
        QCOMPARE(w.engine.callNames(),
                 (QStringList{QStringLiteral("StartRecording"), QStringLiteral("StopRecording"),
                              QStringLiteral("SaveRecording"), QStringLiteral("ResetRecording")}));
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")), (QVariantList{0, file}));
        QVERIFY(!w.ui.RecThisCallCheck->isChecked());
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
    }

    void transferMarkSavesNothing() {
        RecordingWindow w;
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("True"));
        w.ui.RecThisCallCheck->setChecked(true);
        w.ctx.state.TransferMark = QStringLiteral("1");

        w.recording->finishCallRecording();

        QVERIFY(!w.ui.RecThisCallCheck->isChecked());
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 0);
        QCOMPARE(w.engine.count(QStringLiteral("ResetRecording")), 0);
        QVERIFY(w.engine.line(0).hasRecording);
        QVERIFY(w.recordings().isEmpty());
    }

    void failedSaveKeepsBuffer() {
        RecordingWindow w;
        w.ui.RecThisCallCheck->setChecked(true);
        w.fakes.clock.set(kSaveTime);
        w.engine.failNext(QStringLiteral("SaveRecording"), EngineError::WaveWrite);

        w.recording->finishCallRecording();

        QCOMPARE(w.ui.EditSaveFileName->text(), w.messagesFile(QStringLiteral("5551234567_041226_090507.wav")));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Recording Paused -5551234567")});
        QCOMPARE(w.engine.count(QStringLiteral("ResetRecording")), 0);
        QVERIFY(w.engine.line(0).hasRecording);
        QCOMPARE(w.fakes.messages.texts(), QStringList{engineErrorMessage(EngineError::WaveWrite)});
    }

    // Every call recorded: connect, hold, resume, hang up gives two files, named at hold and hang-up.
    void recordAllWithHoldGivesTwoFiles() {
        RecordingWindow w;
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("True"));
        w.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(9, 0, 0)));
        w.recording->startRecordingIfRecordAll(); // connected
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.ctx.state.RecordAllSetting, QStringLiteral("True"));

        w.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(9, 1, 30)));
        w.recording->finishCallRecording();       // hold
        w.recording->startRecordingIfRecordAll(); // resume
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        w.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(9, 4, 2)));
        w.recording->finishCallRecording(); // hang-up

        QCOMPARE(w.recordings(), (QStringList{QStringLiteral("5551234567_041226_090130.wav"),
                                              QStringLiteral("5551234567_041226_090402.wav")}));
        QCOMPARE(w.engine.count(QStringLiteral("StartRecording")), 2);
        QCOMPARE(w.engine.count(QStringLiteral("SaveRecording")), 2);
    }

    void nothingWantedSavesNothing() {
        RecordingWindow w;
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("False"));
        w.recording->startRecordingIfRecordAll();
        w.recording->finishCallRecording();
        QCOMPARE(w.ctx.state.RecordAllSetting, QStringLiteral("False"));
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QVERIFY(w.engine.calls().isEmpty());
        QVERIFY(w.recordings().isEmpty());
    }

    // Without recordAll, a call recorded on demand is saved before hold and not restarted on resume.
    void recordThisCallOnlyBeforeHold() {
        RecordingWindow w;
        w.ui.RecThisCallCheck->setChecked(true);
        w.recording->finishCallRecording(); // hold
        QVERIFY(!w.ui.RecThisCallCheck->isChecked());
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.recordings().size(), 1);

        w.recording->startRecordingIfRecordAll(); // resume
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.engine.count(QStringLiteral("StartRecording")), 1);
    }

    // Two saves within one second: the second takes the next free name, the first file is kept.
    void saveNeverReplacesAFile() {
        RecordingWindow w;
        w.fakes.clock.set(kSaveTime);
        w.ui.RecThisCallCheck->setChecked(true);
        w.recording->stopAndSaveRecording();
        const QString first = w.messagesFile(QStringLiteral("5551234567_041226_090507.wav"));
        QFile marked(first);
        QVERIFY(marked.open(QIODevice::Append));
        marked.write("first call");
        marked.close();
        const qint64 firstSize = QFileInfo(first).size();

        w.ui.RecThisCallCheck->setChecked(true);
        w.recording->stopAndSaveRecording();
        const QString second = w.messagesFile(QStringLiteral("5551234567_041226_090507_2.wav"));
        QCOMPARE(w.ui.EditSaveFileName->text(), second);
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")), (QVariantList{0, second}));
        QCOMPARE(QFileInfo(first).size(), firstSize);
        QVERIFY(w.statusLog().endsWith(QStringLiteral("Stopped Recording -5551234567")));
    }

    void numberCannotLeaveMessagesFolder() {
        const QString fileName = QStringLiteral("_tmp_evil_041226_090507.wav");
        RecordingWindow w(0, QStringLiteral("/tmp/evil"));
        w.fakes.clock.set(kSaveTime);
        w.ui.RecThisCallCheck->setChecked(true);
        const QStringList before = filesBelow(w.fixture.rootPath());

        w.recording->stopAndSaveRecording();

        QCOMPARE(w.ui.EditSaveFileName->text(), w.messagesFile(fileName));
        QStringList after = filesBelow(w.fixture.rootPath());
        after.removeOne(QStringLiteral("messages/") + fileName);
        QCOMPARE(after, before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil_041226_090507.wav")));
    }

    void lineChooserAndReset() {
        RecordingWindow w(1);
        w.ui.ComboRecord->setCurrentIndex(0);

        // The engine is asked about the current line (ComboDial), not the chosen one.
        w.engine.lineRef(1).recording = true;
        Q_EMIT w.ui.ComboRecord->activated(0);
        QCOMPARE(w.engine.last(QStringLiteral("RecordingLineOp")), (QVariantList{1}));
        QVERIFY(w.ui.CheckStartRecording->isChecked());

        w.engine.lineRef(1).recording = false;
        Q_EMIT w.ui.ComboRecord->activated(0);
        QVERIFY(!w.ui.CheckStartRecording->isChecked());

        w.engine.clearCalls();
        QTest::mouseClick(w.ui.BtnResetRecordingBuffer, Qt::LeftButton);
        QCOMPARE(w.engine.callNames(), QStringList{QStringLiteral("ResetRecording")});
        QCOMPARE(w.engine.last(QStringLiteral("ResetRecording")), (QVariantList{1}));
    }

    // Ticked at 10:00:00, hung up at 10:03:00: the file carries the start time.
    void monitoringRecordingCarriesStartTime() {
        RecordingWindow w(0, QStringLiteral("199201"));
        w.ctx.state.MonitorTarget = QStringLiteral("201");
        w.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0)));

        w.ui.recCheck2->setChecked(true);
        QCOMPARE(w.engine.last(QStringLiteral("StartRecording")), (QVariantList{0, 2, true}));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Recording -201")});
        const QString file = w.messagesFile(QStringLiteral("201_041226_100000.wav"));
        QCOMPARE(w.recording->monitorRecordingFile(), file);

        w.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(10, 3, 0)));
        w.engine.clearCalls();
        QTest::mouseClick(w.ui.ctPush2, Qt::LeftButton);

        QCOMPARE(w.engine.callNames(), (QStringList{QStringLiteral("EndCall"), QStringLiteral("SaveRecording"),
                                                    QStringLiteral("ResetRecording")}));
        QCOMPARE(w.engine.last(QStringLiteral("SaveRecording")), (QVariantList{0, file}));
        QCOMPARE(w.recordings(), QStringList{QStringLiteral("201_041226_100000.wav")});
        QCOMPARE(w.statusLog(),
                 (QStringList{QStringLiteral("Recording -201"), QStringLiteral("Stopped Recording -201")}));
        QVERIFY(!w.ui.recCheck2->isChecked());
        QCOMPARE(w.recording->monitorRecordingFile(), QString());
    }

    void monitorHangUpWithoutRecordingOrRefused() {
        RecordingWindow w(1, QStringLiteral("199201"));
        w.ctx.state.MonitorTarget = QStringLiteral("201");
        QTest::mouseClick(w.ui.ctPush2, Qt::LeftButton);
        QCOMPARE(w.engine.callNames(), (QStringList{QStringLiteral("EndCall"), QStringLiteral("ResetRecording")}));
        QCOMPARE(w.engine.last(QStringLiteral("ResetRecording")), (QVariantList{1}));
        QVERIFY(w.recordings().isEmpty());

        // A refused hang-up is silent and keeps the recording box.
        w.engine.lineRef(1).busy = true;
        w.engine.lineRef(1).connected = true;
        w.ui.recCheck2->setChecked(true);
        w.engine.clearCalls();
        w.engine.failNext(QStringLiteral("EndCall"), EngineError::DisconnectRequest);

        QTest::mouseClick(w.ui.ctPush2, Qt::LeftButton);

        QCOMPARE(w.engine.callNames(), QStringList{QStringLiteral("EndCall")});
        QVERIFY(w.fakes.messages.boxes.isEmpty()); // silent
        QVERIFY(w.ui.recCheck2->isChecked());
    }

    // The button is disabled for the 5 s the tool gets to start, even when the tool is missing.
    void backupButtonDisabledForItsWait() {
        CallsWindow w;
        w.fakes.processes.nextResult = false; // the tool is not there
        bool disabledDuring = false;
        QTimer::singleShot(300, [&] { disabledDuring = !w.ui.backupwav->isEnabled(); });

        QElapsedTimer clicked;
        clicked.start();
        QTest::mouseClick(w.ui.backupwav, Qt::LeftButton); // returns after the wait
        const qint64 waited = clicked.elapsed();

        QVERIFY(disabledDuring);
        QVERIFY(w.ui.backupwav->isEnabled());
        QVERIFY2(waited >= 4900 && waited < 6500, qPrintable(QString::number(waited)));
        QCOMPARE(w.fakes.processes.starts.size(), 1);
        QCOMPARE(w.fakes.processes.starts.first().program, w.ctx.root.appTool(QStringLiteral("recbackup")));
        QVERIFY(w.fakes.processes.starts.first().arguments.isEmpty());
        QVERIFY(w.fakes.messages.boxes.isEmpty());
    }

    // --- the recording switch after a reset ---------------------------------------------------------

    // A reset empties the buffer; on a live line recording goes on, on a held line the engine
    // cannot go on recording, and the switch then offers to start it again.
    void switchFollowsTheEngineAfterAReset() {
        RecordingWindow w;
        w.ui.CheckStartRecording->setChecked(true);
        QTest::mouseClick(w.ui.BtnResetRecordingBuffer, Qt::LeftButton);
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.ui.CheckStartRecording->text(), QStringLiteral("Stop Recording Call"));

        QVERIFY(w.engine.HoldCall(0));
        QTest::mouseClick(w.ui.BtnResetRecordingBuffer, Qt::LeftButton);
        QCOMPARE(w.engine.line(0).recording, w.ui.CheckStartRecording->isChecked());
        QVERIFY(!w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.ui.CheckStartRecording->text(), QStringLiteral("Start Recording Call"));
        QVERIFY(w.fakes.messages.boxes.isEmpty());
    }
};

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
