// Other programs drive the window: dial and end files in the datalink folder, clipboard commands,
// the message drop, the wave playback panel and the click-to-dial switches. FakeEngine and the fake
// clipboard; the datalink folder is real.

#include "gui/CallsWindow.h"

#include "dialer/Automation.h"
#include "dialer/MessageDrop.h"
#include "integrations/ClickToDial.h"

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
        automate();
        engine.setAnswering(false);
    }
    // Only the ticks run: no notices, no timers; each tick is called by the test.
    void manualTicks() {
        automation->setChangeNotices(false);
        ctx.timers.TapiSip->stop();
        ctx.timers.DialTimer->stop();
    }
    int filesWaiting() const { return int(datalink.entryList(QDir::Files).size()); }
    QStringList dialled() const { return QVariant(engine.args(QStringLiteral("PlaceCall"), 1)).toStringList(); }
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
        QVERIFY(w.fakes.clipboard.text().isEmpty());
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

    // Files wait in the folder, in order, until the dialer can act on them: none is taken while
    // click-to-dial is off, nor while the poll's hand-over waits. A refused request opens no box,
    // and an ignored hand-over is journaled each time it comes.
    void filesWaitInTheFolderUntilTheDialerCanActOnThem() {
        AutoWindow w;
        w.manualTicks();
        const auto tick = [&w](bool dispatch) {
            w.automation->onTapiSipTimeout();
            if (dispatch) w.automation->onDialTimerTimeout();
            QTest::qWait(500);
        };
        w.ui.autoCheck->setChecked(false);
        w.drop(QStringLiteral("5551230001.dia"));
        w.drop(QStringLiteral("5551230002.dia"));
        tick(true);
        QCOMPARE(w.filesWaiting(), 2);
        w.ui.autoCheck->setChecked(true);
        tick(false);
        tick(false);
        QCOMPARE(w.filesWaiting(), 1);
        for (int i = 0; i < 4; ++i) {
            if (i >= 2) w.drop(QStringLiteral("call-me.dia"));
            tick(true);
        }
        QCOMPARE(w.journal(), (QStringList{"datalink\t5551230002.dia\tdialled 5551230002 on Line- 1",
                                           "datalink\t5551230001.dia\tnot dialled: Line is already busy.",
                                           "datalink\tcall-me.dia\tignored: not a ten-digit number",
                                           "datalink\tcall-me.dia\tignored: not a ten-digit number"}));
        QVERIFY(w.fakes.messages.boxes.isEmpty());
        QVERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Not dialled - 5551230001: Line is already busy.")));
    }

    // Another program's request never waits for a person: its refusal goes to the status log and
    // the journal, and the next request is taken. The agent's own click still shows the box.
    void aRefusedRequestOpensNoBox_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("journaled");
        QTest::addColumn<QString>("statusLine");
        QTest::newRow("number") << "555-123-0002" << "clipboard\t555-123-0002\tnot dialled: Line is already busy."
                                << "Line- 1: Not dialled - 5551230002: Line is already busy.";
        QTest::newRow("more than ten digits")
            << "2555-123-4567"
            << "clipboard\t(13 characters, not recorded)\tnot dialled: more than ten digits"
            << "not dialled: more than ten digits";
        QTest::newRow("drop") << "#pam" << "clipboard\t#pam\tmessage drop refused: Selected line is not in voice session."
                              << "Line- 2: Answering machine drop failed: Selected line is not in voice session.";
        QTest::newRow("end file offline") << "stop.end" << "datalink\tstop.end\tnot hung up: not online"
                                          << "Line- 1: Not hung up: not online";
        QTest::newRow("dial file, PBX silent") << "5551230003.dia"
                                               << "datalink\t5551230003.dia\tnot dialled: not registered"
                                               << "Line- 1: Not dialled - 5551230003: not registered";
    }
    void aRefusedRequestOpensNoBox() {
        QFETCH(QString, request);
        QFETCH(QString, journaled);
        QFETCH(QString, statusLine);
        AutoWindow w;
        w.dial(QStringLiteral("5551230000"));
        w.ui.ComboTransferCall->setCurrentIndex(1); // no call there
        const bool offline = request.endsWith(QLatin1String(".end"));
        if (offline) w.ui.BtnOnline->setText(QStringLiteral("Online")), w.engine.EngineStop();
        w.ctx.state.Registered = !request.endsWith(QLatin1String(".dia"));
        request.contains(QLatin1Char('.')) ? w.drop(request) : w.fakes.clipboard.put(request);
        QTRY_COMPARE(w.journal().value(0), journaled);
        if (offline) QTRY_COMPARE(w.ui.mouseMenu->text(), QStringLiteral("You Are Not On Line!!!"));
        QVERIFY(w.fakes.messages.boxes.isEmpty());
        QCOMPARE(w.statusLog().last(), statusLine);
        QTest::mouseClick(w.ui.PlayMsgPush, Qt::LeftButton); // the agent's own refused click shows its box
        QCOMPARE(w.fakes.messages.boxes.size() + w.statusLog().filter("Answering Machine").size(), 1);

        if (offline) w.goOnline(2), w.ui.BtnOnline->setText(QStringLiteral("Offline"));
        w.ctx.state.Registered = true;
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        w.drop(QStringLiteral("5559990000.dia"));
        QTRY_COMPARE(w.journal().value(1), QStringLiteral("datalink\t5559990000.dia\tdialled 5559990000 on Line- 1"));
    }

    // The drop's row is written when the far end takes the transfer, with the call's number. A
    // refusal, no answer or a close meanwhile writes none: the call stays with the agent and ends
    // with its own row. Meanwhile a second PAM press sends nothing and a dial file waits; each
    // request is journaled with its true outcome.
    void aMessageDropIsLoggedWhenTheFarEndTakesIt_data() {
        QTest::addColumn<QString>("farEnd");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("fileOutcome");
        const QString failed = QStringLiteral("message drop failed: ");
        const QString busy = QStringLiteral("not dialled: Line is already busy.");
        QTest::newRow("accepts") << "accepts" << "message drop on Line- 1" << "dialled 5559876543 on Line- 1";
        QTest::newRow("refuses") << "refuses" << failed + "the far end refused the transfer (603 Decline)" << busy;
        QTest::newRow("target refused") << "target refused" << failed + "the PBX answered 404 Not Found for *55agent7"
                                        << busy;
        QTest::newRow("is silent") << "is silent" << failed + "no answer to the transfer within 0.3 s" << busy;
        QTest::newRow("dialer closes") << "closes" << failed + "the dialer closed before the transfer was answered"
                                       << "not dialled: the dialer closed before it was dialled";
    }
    void aMessageDropIsLoggedWhenTheFarEndTakesIt() {
        QFETCH(QString, farEnd);
        QFETCH(QString, outcome);
        QFETCH(QString, fileOutcome);
        AutoWindow w;
        w.ctx.subsystems.messageDrop->setAnswerTimeoutMs(300);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.ui.EditTransferPhoneNo->setEditText(QStringLiteral("9000000001"));
        w.dial(QStringLiteral("5551234567"));
        w.engine.fireCallConnected(0);
        QTRY_VERIFY(w.engine.line(0).connected);
        w.ui.ComboTransferCall->setCurrentIndex(0);
        w.fakes.clipboard.put(QStringLiteral("#pam"));
        QTRY_COMPARE(w.engine.count(QStringLiteral("TransferCall")), 1);
        w.drop(QStringLiteral("5559876543.dia"));
        QTest::mouseClick(w.ui.PlayMsgPush, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(w.engine.count(QStringLiteral("TransferCall")) + w.dialled().size(), 2);

        if (farEnd == QLatin1String("accepts")) w.engine.fireCallEnd(&SipEngine::TransferAccepted, 0);
        if (farEnd == QLatin1String("refuses"))
            w.engine.fire(&SipEngine::TransferFailed, 0, 603, QStringLiteral("Decline"), QString());
        if (farEnd == QLatin1String("target refused"))
            w.engine.fire(&SipEngine::TransferFailed, 0, 404, QStringLiteral("Not Found"), QStringLiteral("*55agent7"));
        if (farEnd == QLatin1String("closes")) w.window.close();
        QTRY_COMPARE(w.journal().value(0), QStringLiteral("clipboard\t#pam\t") + outcome);
        QTRY_COMPARE(w.journal().value(1), QStringLiteral("datalink\t5559876543.dia\t") + fileOutcome);
        if (farEnd.contains(QLatin1String("refuse")) || farEnd == QLatin1String("is silent")) {
            QVERIFY(w.statusLog().contains(QStringLiteral("Line- 1: Answering machine drop failed: ") +
                                           outcome.mid(outcome.indexOf(QLatin1String(": ")) + 2)));
            w.ui.ComboDial->setCurrentIndex(0);
            QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        }
        QTRY_COMPARE(w.agentRows().size(), 1);
        QVERIFY(w.rowIs(w.agentRows().first(), QStringLiteral("5551234567"),
                        farEnd == QLatin1String("accepts") ? "Answering Machine" : "hang up"));
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
        QCOMPARE(w.fakes.clipboard.text().size(), 1 << 20); // left alone
    }

    // "#answer" takes the ringing call that rang first, "#reject" refuses the next with RejectCode's
    // 603; both journaled with their outcome.
    void clipboardAnswersAndRejectsRingingCalls() {
        AutoWindow w;
        w.setSetting(QStringLiteral("TakeIncomingCalls"), QStringLiteral("True"));
        w.setSetting(QStringLiteral("RejectCode"), QStringLiteral("603"));
        for (const QString id : {QStringLiteral("555111"), QStringLiteral("555222")})
            w.engine.fire(&SipEngine::IncomingCall, id, QStringLiteral("0"), QString(id + QLatin1Char('0')), QString(),
                          QString());
        QTRY_COMPARE(w.ui.ListIncomingCall->count(), 2);
        w.fakes.clipboard.put(QStringLiteral("#answer"));
        QTRY_COMPARE(w.engine.last(QStringLiteral("AnswerCall")).value(1), QVariant(QStringLiteral("555111")));
        w.fakes.clipboard.put(QStringLiteral("#reject"));
        QTRY_COMPARE(w.engine.last(QStringLiteral("RejectCall")), (QVariantList{QStringLiteral("555222"), 603}));
        QCOMPARE(w.journal(), (QStringList{"clipboard\t#answer\tanswered 5551110 on Line- 1",
                                           "clipboard\t#reject\trejected 5552220 (603)"}));
    }

    // The playback panel addresses its own line, not the one chosen for dialing (the sound reaching
    // the far end is checked end to end); a slot that cannot be opened shows one error and is not started.
    void wavePlaybackAddressesThePanelsLine() {
        AutoWindow w;
        w.ui.ComboDial->setCurrentIndex(0);
        w.ui.ComboPlayWave->setCurrentIndex(1);
        w.ui.CheckPlayListen->setChecked(true);
        QTest::mouseClick(w.ui.PlayMsg2, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlayWaveOpen")), (QVariantList{1, w.ui.EditPlayFileName2->text()}));
        QCOMPARE(w.engine.last(QStringLiteral("PlayWaveStart")), (QVariantList{1, true}));
        w.engine.clearCalls();
        w.engine.failNext(QStringLiteral("PlayWaveOpen"), EngineError::WaveOpen);
        QTest::mouseClick(w.ui.PlayMsg1, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("PlayWaveStart")), 0);
        QCOMPARE(w.fakes.messages.boxes.size(), 1);
    }

    // The bridge starts from the apps folder once, the button disabled for its 5 s wait.
    void clickToDialBridgeStartsOnce() {
        AutoWindow w;
        QTimer::singleShot(100, [&w] { QTest::mouseClick(w.ui.tapiPush, Qt::LeftButton); });
        QTest::mouseClick(w.ui.tapiPush, Qt::LeftButton);
        QCOMPARE(w.fakes.processes.starts.size(), 1);
        QCOMPARE(w.fakes.processes.starts.first().program, w.ctx.root.appTool(QStringLiteral("tapibridge")));
    }
};

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
