// Other programs drive the window: dial and end files in the datalink folder, clipboard commands,
// the message drop, the wave playback panel and the click-to-dial switches. FakeEngine and the fake
// clipboard; the datalink folder is real.

#include "gui/CallsWindow.h"

#include "dialer/Automation.h"
#include "integrations/ClickToDial.h"
#include "media/WavePlayback.h"

#include <QDir>
#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

namespace {

// Online on two lines with the datalink channel and click-to-dial on.
struct AutoWindow : CallsWindow {
    Automation* automation = ctx.subsystems.automation;
    QDir datalink{ctx.root.datalink()};

    AutoWindow() {
        goOnline(2);
        ctx.state.SipTapiMode = QStringLiteral("True");
        ui.BtnOnline->setText(QStringLiteral("Offline"));
        ui.swipeLengthTxT->setText(QStringLiteral("14"));
        ui.autoCheck->setChecked(true);
        engine.setDefaultScript(FakeEngine::noAnswer());
    }
    // Only the ticks run: no notices, no timers; each tick is called by the test.
    void manualTicks() {
        automation->setChangeNotices(false);
        ctx.timers.TapiSip->stop();
        ctx.timers.DialTimer->stop();
    }
    void drop(const QString& name) {
        QFile file(datalink.filePath(name));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(name));
    }
    QStringList dialled() const {
        QStringList numbers;
        for (const FakeEngine::Call& call : engine.callsTo(QStringLiteral("PlaceCall")))
            numbers << call.args.at(1).toString();
        return numbers;
    }
    QStringList journal() const {
        QStringList lines;
        for (const QByteArray& line : fileLines(automation->journal().path()))
            lines << QString::fromUtf8(line.mid(line.indexOf('\t') + 1)); // without the time
        return lines;
    }
};

} // namespace

class TestAutomation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The folder's and the clipboard's change notices carry a request at once: with both timers
    // stopped, a dropped dial file is still dialled.
    void aDroppedDialFileIsDialledOnItsNotice() {
        AutoWindow w;
        w.ctx.timers.TapiSip->stop();
        w.ctx.timers.DialTimer->stop();
        w.drop(QStringLiteral("5551234567.dia"));
        QTRY_COMPARE(w.dialled(), QStringList{QStringLiteral("5551234567")});
        QVERIFY(w.datalink.isEmpty());
        QVERIFY(w.fakes.clipboard.current().isEmpty());
        QCOMPARE(w.journal(), QStringList{QStringLiteral("datalink\t5551234567.dia\tdialled 5551234567 on Line- 1")});
    }

    // Greatest name first, one per 500 ms; an end file wins over the dial file of its tick, which
    // is deleted unseen; the next file is dialled without waiting for the first call to end.
    void filesAreServedInOrderAndTheEndFileWins() {
        AutoWindow w;
        w.drop(QStringLiteral("5551234510.dia"));
        w.drop(QStringLiteral("5551234520.dia"));
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE(w.dialled().size(), 2);
        QVERIFY(clock.elapsed() >= 500); // never two requests within 500 ms
        QCOMPARE(w.dialled(), (QStringList{QStringLiteral("5551234520"), QStringLiteral("5551234510")}));

        w.manualTicks();
        w.drop(QStringLiteral("5551234530.dia"));
        w.drop(QStringLiteral("stop.END"));
        QTest::qWait(500);
        w.automation->onTapiSipTimeout();
        w.automation->onDialTimerTimeout();
        QVERIFY(w.datalink.isEmpty());
        QCOMPARE(w.dialled().size(), 2);
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.journal().contains(QStringLiteral(
            "datalink\t5551234530.dia\tsuperseded: an end file was taken with it, so it was not dialled")));
        QVERIFY(w.journal().last().startsWith(QStringLiteral("datalink\tstop.END\thung up")));
    }

    // Click-to-dial off: every poll still takes a file and overwrites the clipboard; the journal
    // says which requests were lost, and only the last is dialled once the box is ticked.
    void withClickToDialOffOnlyTheLastRequestSurvives() {
        AutoWindow w;
        w.manualTicks();
        w.ui.autoCheck->setChecked(false);
        for (const char* name : {"5551230001.dia", "5551230002.dia", "5551230003.dia"})
            w.drop(QString::fromLatin1(name));
        for (int tick = 0; tick < 3; ++tick) {
            w.automation->onTapiSipTimeout();
            QTest::qWait(500);
        }
        QVERIFY(w.datalink.isEmpty());
        QCOMPARE(w.fakes.clipboard.current(), QStringLiteral("5551230001.dia"));
        QCOMPARE(w.journal().filter(QStringLiteral("superseded: the next datalink request")).size(), 2);
        w.automation->onDialTimerTimeout();
        QVERIFY(w.dialled().isEmpty());
        w.ui.autoCheck->setChecked(true);
        w.automation->onDialTimerTimeout();
        QCOMPARE(w.dialled(), QStringList{QStringLiteral("5551230001")});
    }

    // A tick that arrives while the message drop waits does not run it again, and a dial file
    // handed over during that wait is not cleared with the command: it is dialled next.
    void aCommandRunsOnceAndARequestArrivingMeanwhileIsKept() {
        AutoWindow w;
        w.dial(QStringLiteral("5551234567"));
        w.engine.fireCallConnected(0);
        QTRY_VERIFY(w.engine.line(0).connected);
        w.ui.EditAccountUserName->setText(QStringLiteral(" 1001 "));
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.ui.ComboTransferCall->setCurrentIndex(0);
        w.fakes.clipboard.put(QStringLiteral("|#pam|"));
        QTimer::singleShot(200, [&w] { w.drop(QStringLiteral("5559876543.dia")); });
        QTRY_COMPARE(w.dialled().size(), 2);
        QCOMPARE(w.engine.callsTo(QStringLiteral("TransferCall")).size(), 1);
        QCOMPARE(w.engine.last(QStringLiteral("TransferCall")), (QVariantList{0, QStringLiteral("*551001")}));
        QCOMPARE(w.dialled().last(), QStringLiteral("5559876543"));
        QVERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Answering Machine ")));
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).first().endsWith(",\"Answering Machine\""));
    }

    // A refused transfer is not logged as a drop.
    void aRefusedMessageDropWritesNoRow() {
        AutoWindow w;
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.ui.ComboTransferCall->setCurrentIndex(1); // no call there
        QTest::mouseClick(w.ui.PlayMsgPush, Qt::LeftButton);
        QCOMPARE(w.fakes.messages.boxes.size(), 1);
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).isEmpty());
        QVERIFY(w.statusLog().filter(QStringLiteral("Answering Machine")).isEmpty());
    }

    // Names built to trip a shell or a parser, a folder named like a dial file, a flood of files
    // and a megabyte on the clipboard: only what the rules allow is dialled, and the journal says
    // what became of each.
    void badInputDialsNothingTheRulesForbid() {
        AutoWindow w;
        w.manualTicks();
        const QStringList names = {QStringLiteral("$(touch pwned).dia"), QStringLiteral("\"; rm -rf ~ \".dia"),
                                   QString(250, QLatin1Char('5')) + QStringLiteral(".dia"),
                                   QString::fromUtf8("５５５１２３４５６７.dia"), QStringLiteral("5551234567.DIA")};
        for (const QString& name : names)
            w.drop(name);
        QVERIFY(w.datalink.mkdir(QStringLiteral("x.dia")));
        for (int i = 0; i < 10000; ++i)
            w.drop(QStringLiteral("flood-%1.txt").arg(i));
        for (qsizetype tick = 0; tick < names.size() + 1; ++tick) {
            w.automation->onTapiSipTimeout();
            w.automation->onDialTimerTimeout();
            QTest::qWait(500);
        }
        QCOMPARE(w.dialled(), QStringList{QStringLiteral("5551234567")});
        QCOMPARE(w.datalink.entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{QStringLiteral("x.dia")});
        QCOMPARE(w.datalink.entryList({QStringLiteral("*.dia")}, QDir::Files), QStringList());
        QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("pwned"))));
        QCOMPARE(w.journal().size(), names.size());
        QCOMPARE(w.journal().filter(QStringLiteral("\tignored: longer than the swipe length")).size(), 3);

        w.fakes.clipboard.put(QString(1 << 20, QLatin1Char('7')));
        for (int tick = 0; tick < 3; ++tick)
            w.automation->onDialTimerTimeout();
        QCOMPARE(w.journal().size(), names.size() + 1); // journaled once, not on every tick
        QCOMPARE(w.journal().last(), QStringLiteral("clipboard\t(1048576 characters, not recorded)\tignored: longer "
                                                    "than the swipe length of 14 characters"));
        QCOMPARE(w.fakes.clipboard.current().size(), 1 << 20); // left alone
    }

    void offlineCaptionWarns() {
        AutoWindow w;
        w.manualTicks();
        w.ui.BtnOnline->setText(QStringLiteral("Online"));
        w.automation->onDialTimerTimeout();
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("You Are Not On Line!!!"));
    }

    // The playback panel addresses its own line; the message buttons open their slot there and
    // start it 250 ms later; the skips move two seconds.
    void wavePlaybackAddressesThePanelsLine() {
        AutoWindow w;
        w.ui.ComboDial->setCurrentIndex(0);
        w.ui.ComboPlayWave->setCurrentIndex(1);
        w.ui.CheckPlayListen->setChecked(true);
        QCOMPARE(w.ui.EditPlayFileName2->text(), QDir::toNativeSeparators(w.ctx.root.preRecorded() + "/msg2.wav"));
        QTest::mouseClick(w.ui.PlayMsg2, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlayWaveOpen")), (QVariantList{1, w.ui.EditPlayFileName2->text()}));
        QCOMPARE(w.engine.last(QStringLiteral("PlayWaveStart")), (QVariantList{1, true}));
        QTest::mouseClick(w.ui.BtnPlayRewind, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlayWavePosition")), (QVariantList{1, -WavePlayback::SkipMs}));
        w.engine.fire(&SipEngine::PlayWaveDone, 1);
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Play wave done.")));

        // A slot that cannot be opened shows one error and is not started.
        w.engine.clearCalls();
        w.engine.failNext(QStringLiteral("PlayWaveOpen"), EngineError::WaveOpen);
        QTest::mouseClick(w.ui.PlayMsg1, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("PlayWaveStart")), 0);
        QCOMPARE(w.fakes.messages.boxes.size(), 1);
    }

    // The click-to-dial box keeps "autocall"; the bridge starts from the apps folder, the button
    // disabled for its 5 s wait.
    void clickToDialSwitches() {
        AutoWindow w;
        w.ui.autoCheck->setChecked(false);
        QCOMPARE(w.setting(QStringLiteral("autocall")) + w.ui.autoCheck->text(), QStringLiteral("0Click Off"));
        QTimer::singleShot(100, [&w] { QTest::mouseClick(w.ui.tapiPush, Qt::LeftButton); });
        QTest::mouseClick(w.ui.tapiPush, Qt::LeftButton);
        QCOMPARE(w.fakes.processes.starts.size(), 1);
        QCOMPARE(w.fakes.processes.starts.first().program, w.ctx.root.appTool(QStringLiteral("tapibridge")));
    }
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
