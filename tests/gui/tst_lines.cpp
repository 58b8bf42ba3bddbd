// The line model on the window: the eight line lists, the line status table of the one-second
// tick, the status log with its mirror, the call-seconds tick and the busy / bad-number reaction
// that ends a refused call two seconds later.

#include "gui/CallsWindow.h"

#include "calls/CallRules.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

class TestLines : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineListsHoldOneEntryPerLine() {
        CallsWindow w;
        w.ctx.state.LineCount = 3;
        w.lines->FillLineLists();
        const QStringList labels{QStringLiteral("Line- 1"), QStringLiteral("Line- 2"), QStringLiteral("Line- 3")};
        for (QComboBox* list :
             {w.ui.ComboDial, w.ui.ComboRecord, w.ui.ComboPlayWave, w.ui.ComboIncomingCall, w.ui.ComboTransferCall,
              w.ui.ComboConsultLineA, w.ui.ComboConsultLineB, w.ui.ComboMuteLine}) {
            QStringList items;
            for (int i = 0; i < list->count(); ++i)
                items << list->itemText(i);
            QCOMPARE(items, labels);
            QCOMPARE(list->currentIndex(), list == w.ui.ComboConsultLineB ? 1 : 0);
        }

        // Filled again (going online a second time) they still hold one entry per line.
        w.ctx.state.LineCount = 2;
        w.lines->FillLineLists();
        QCOMPARE(w.ui.ComboMuteLine->count(), 2);
        QCOMPARE(w.ui.ComboDial->itemText(1), QStringLiteral("Line- 2"));
    }

    void statusTableShowsEachLinesWord() {
        CallsWindow w;
        w.ctx.state.LineCount = 5;
        w.engine.lineRef(0).open = false; // close
        w.engine.lineRef(1).open = true;  // free
        w.engine.lineRef(2) = {};         // busy
        w.engine.lineRef(2).open = w.engine.lineRef(2).busy = true;
        w.engine.lineRef(3).open = w.engine.lineRef(3).busy = w.engine.lineRef(3).onHold = true; // hold
        FakeEngine::Line& playing = w.engine.lineRef(4); // playing, even while held
        playing.open = playing.busy = playing.onHold = playing.playing = true;

        w.lines->onTimerTickTimeout();

        QTreeWidget* table = w.ui.ListViewLineStatus;
        QCOMPARE(table->topLevelItemCount(), 5);
        const QStringList numbers{QStringLiteral(" 1"), QStringLiteral(" 2"), QStringLiteral(" 3"),
                                  QStringLiteral(" 4"), QStringLiteral(" 5")};
        const QStringList words{QStringLiteral("close"), QStringLiteral("free"), QStringLiteral("busy"),
                                QStringLiteral("hold"), QStringLiteral("playing")};
        for (int n = 0; n < 5; ++n) {
            QCOMPARE(table->topLevelItem(n)->text(0), numbers.at(n));
            QCOMPARE(table->topLevelItem(n)->text(1), words.at(n));
        }
        // The engine is asked no further than needed: a closed line is not asked whether it is busy.
        for (const FakeEngine::Call& call : w.engine.callsTo(QStringLiteral("IsLineBusy")))
            QVERIFY(call.args.value(0).toInt() != 0);
    }

    void unchangedStatusIsNotRewritten() {
        CallsWindow w;
        w.ctx.state.LineCount = 2;
        w.engine.lineRef(0).open = w.engine.lineRef(0).busy = true;
        w.engine.lineRef(1).open = true;
        w.lines->onTimerTickTimeout();

        QSignalSpy changes(w.ui.ListViewLineStatus->model(), &QAbstractItemModel::dataChanged);
        w.lines->onTimerTickTimeout();
        QCOMPARE(changes.count(), 0);
        QCOMPARE(w.ui.ListViewLineStatus->topLevelItemCount(), 2);

        // A row holding the word inside a longer text is left alone too (substring test).
        w.ui.ListViewLineStatus->topLevelItem(0)->setText(1, QStringLiteral("busy line"));
        changes.clear();
        w.lines->onTimerTickTimeout();
        QCOMPARE(changes.count(), 0);
        QCOMPARE(w.ui.ListViewLineStatus->topLevelItem(0)->text(1), QStringLiteral("busy line"));

        // A changed line is rewritten, and only its row.
        w.engine.lineRef(0).onHold = true;
        w.lines->onTimerTickTimeout();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(w.ui.ListViewLineStatus->topLevelItem(0)->text(1), QStringLiteral("hold"));
        QCOMPARE(w.ui.ListViewLineStatus->topLevelItem(1)->text(1), QStringLiteral("free"));
    }

    void firstTickAfterGoingOnlineFillsTheTable() {
        CallsWindow w;
        w.goOnline(2);
        w.ctx.timers.TimerTick->start();
        QTRY_COMPARE_WITH_TIMEOUT(w.ui.ListViewLineStatus->topLevelItemCount(), 2, 3000);
        QTRY_COMPARE(w.ui.ListViewLineStatus->topLevelItem(1)->text(1), QStringLiteral("free"));

        w.dial(QStringLiteral("5551234567"));
        QTRY_COMPARE_WITH_TIMEOUT(w.ui.ListViewLineStatus->topLevelItem(0)->text(1), QStringLiteral("busy"), 3000);
        QCOMPARE(w.ui.ListViewLineStatus->topLevelItem(1)->text(1), QStringLiteral("free"));
    }

    void statusLogScrollsAndMirrorsFiftyCharacters() {
        CallsWindow w;
        QSignalSpy mirror(w.ui.LineStatTxT, &QLineEdit::textChanged);
        for (int i = 0; i < 40; ++i)
            w.lines->AddStatusLog(QStringLiteral("line %1").arg(i));
        QCOMPARE(w.ui.ListStatusLog->count(), 40);
        QCOMPARE(w.ui.ListStatusLog->item(39)->text(), QStringLiteral("line 39"));
        // The mirror received each line and was emptied again by the reaction (no match).
        auto mirrored = [&mirror] {
            QStringList texts;
            for (const QList<QVariant>& change : mirror) {
                if (!change.at(0).toString().isEmpty()) texts << change.at(0).toString();
            }
            return texts;
        };
        QCOMPARE(mirror.count(), 80);
        QCOMPARE(mirrored().size(), 40);
        QCOMPARE(mirrored().last(), QStringLiteral("line 39"));
        QVERIFY(w.ui.LineStatTxT->text().isEmpty());

        mirror.clear();
        const QString longLine = QStringLiteral("  ") + QString(48, QLatin1Char('x')) + QStringLiteral("TAIL of it");
        w.lines->AddStatusLog(longLine);
        QCOMPARE(w.ui.ListStatusLog->item(40)->text(), longLine); // the log keeps the whole line
        QCOMPARE(mirrored(), QStringList{QString(48, QLatin1Char('x'))});

        // Only the first 50 characters are classified: "Busy Here" pushed past them is no busy.
        w.lines->AddStatusLog(QString(45, QLatin1Char(' ')) + QStringLiteral("Busy Here"));
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("Click Right Mouse Button for Menu"));
        w.lines->AddStatusLog(QString(41, QLatin1Char(' ')) + QStringLiteral("Busy Here"));
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("BUSY"));
    }

    // The reaction waits inside a handler: whatever happens "during the wait" is scheduled on a timer,
    // which fires inside that wait, as a click or an engine event would.
    void busyReactionEndsTheCallOnTheLineSelectedWhenTheWaitEnds() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.fakes.clipboard.put(QStringLiteral("5550000000"));
        w.engine.setDefaultScript(FakeEngine::noAnswer());
        w.dial(QStringLiteral("5551234567"));
        w.engine.lineRef(1).busy = true; // another call is up on line 2
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Ringing")));

        QString captionDuringWait;
        int endCallsDuringWait = -1;
        QTimer::singleShot(300, &w.window, [&] {
            captionDuringWait = w.ui.mouseMenu->text();
            endCallsDuringWait = w.engine.count(QStringLiteral("EndCall"));
            w.ui.ComboDial->setCurrentIndex(1); // the agent switches lines during the wait
        });
        QElapsedTimer clock;
        clock.start();
        // The engine reports the refusal; the line stays in session until the window ends it.
        w.engine.fireRequestFailureResponse(0, 486, QStringLiteral("Busy Here"));
        QTRY_COMPARE_WITH_TIMEOUT(w.engine.count(QStringLiteral("EndCall")), 1, 5000);
        QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(captionDuringWait, QStringLiteral("BUSY"));
        QCOMPARE(endCallsDuringWait, 0);
        QCOMPARE(w.engine.last(QStringLiteral("EndCall")).value(0).toInt(), 1);

        // The hang-up ran as the agent's: log emptied, number gone, row written, caption kept.
        QVERIFY(w.statusLog().isEmpty());
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("BUSY"));
        const QByteArrayList rows = w.callLogRows(QStringLiteral("Agent7"));
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.at(0).startsWith("\"5551234567\",\"Agent7\","), rows.at(0).constData());
        QVERIFY(rows.at(0).endsWith(",\"hang up\""));
        QVERIFY(w.fakes.messages.texts().isEmpty());
        // Click-to-dial is off: the clipboard is not touched.
        QCOMPARE(w.fakes.clipboard.clears, 0);
        QCOMPARE(w.fakes.clipboard.current(), QStringLiteral("5550000000"));
    }

    void refusedNumberIsHungUpAfterTwoSeconds_data() {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("caption");
        QTest::newRow("486") << true << QStringLiteral("BUSY");
        QTest::newRow("404") << false << QStringLiteral("Bad Number");
    }

    // The whole road as the engine drives it: the far end refuses, the call fails and the line is
    // free again; two seconds later the hang-up still runs as the agent's and writes its row.
    void refusedNumberIsHungUpAfterTwoSeconds() {
        QFETCH(bool, busy);
        QFETCH(QString, caption);
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.engine.setDefaultScript(busy ? FakeEngine::busy(50) : FakeEngine::notFound(50));
        w.dial(QStringLiteral("5551234567"));
        QTRY_COMPARE(w.ui.mouseMenu->text(), caption);
        QTRY_COMPARE_WITH_TIMEOUT(w.callLogRows(QStringLiteral("Agent7")).size(), 1, 5000);
        QVERIFY(w.callLogRows(QStringLiteral("Agent7")).at(0).endsWith(",\"hang up\""));
        QVERIFY2(w.fakes.messages.texts().isEmpty(), qPrintable(w.fakes.messages.texts().join('|')));
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
    }

    void busyReactionEmptiesTheClipboardInAutoCallMode() {
        CallsWindow w;
        w.goOnline(2);
        w.fakes.clipboard.put(QStringLiteral("5551234567"));
        w.ui.autoCheck->setEnabled(true);
        w.ui.autoCheck->setChecked(true);
        QStringList clipboardWritesDuringWait;
        QTimer::singleShot(100, &w.window, [&] { clipboardWritesDuringWait = w.fakes.clipboard.writes; });
        w.lines->AddStatusLog(QStringLiteral("Busy Here")); // returns when the reaction is over
        QCOMPARE(w.fakes.clipboard.clears, 1);
        QCOMPARE(clipboardWritesDuringWait, QStringList{QString()}); // cleared, then the empty text put on it
        QVERIFY(w.fakes.clipboard.current().isEmpty());
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
    }

    void secondRefusalDuringTheWaitHangsUpOnce() {
        CallsWindow w;
        w.goOnline(2);
        w.engine.setDefaultScript(FakeEngine::noAnswer());
        w.dial(QStringLiteral("5551234567"));
        QString captionOfSecond;
        QTimer::singleShot(500, &w.window, [&] {
            w.engine.fireServerFailureResponse(0, 503, QStringLiteral("Service Unavailable"));
            QTimer::singleShot(50, &w.window, [&] { captionOfSecond = w.ui.mouseMenu->text(); });
        });
        w.engine.fireRequestFailureResponse(0, 486, QStringLiteral("Busy Here"));

        QTRY_COMPARE_WITH_TIMEOUT(w.engine.count(QStringLiteral("EndCall")), 1, 5000);
        QCOMPARE(captionOfSecond, QStringLiteral("Bad Number"));
        QTest::qWait(500); // both waits are over by now
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.fakes.messages.texts().isEmpty());
    }

    void callEndedDuringTheWaitIsNotEndedAgain() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.engine.setDefaultScript(FakeEngine::noAnswer());
        w.dial(QStringLiteral("5551234567"));
        QTimer::singleShot(300, &w.window, [&] { QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton); }); // quicker
        QElapsedTimer clock;
        clock.start();
        w.engine.fireRequestFailureResponse(0, 486, QStringLiteral("Busy Here"));
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 2300, 5000);
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 1);
        QVERIFY(w.fakes.messages.texts().isEmpty());
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
    }

    void nextCallPlacedDuringTheWaitIsLeftAlone() {
        CallsWindow w;
        w.goOnline(2);
        w.engine.setDefaultScript(FakeEngine::noAnswer());
        w.dial(QStringLiteral("5551234567"));
        QTimer::singleShot(300, &w.window, [&] {
            w.engine.fireCallHungUp(0); // the refused call ends by itself ...
            QTimer::singleShot(100, &w.window, [&] { w.dial(QStringLiteral("5559876543")); }); // ... the next one
        });
        QElapsedTimer clock;
        clock.start();
        w.engine.fireRequestFailureResponse(0, 486, QStringLiteral("Busy Here"));
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 2300, 5000);
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 2);
        QCOMPARE(w.engine.count(QStringLiteral("EndCall")), 0);
        QVERIFY(w.engine.line(0).busy);
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("5559876543"));
    }

    void callSeconds_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("text") << QStringLiteral("abc") << QStringLiteral("1");
        QTest::newRow("leading number") << QStringLiteral(" 7 sec") << QStringLiteral("8");
        QTest::newRow("fraction dropped") << QStringLiteral("2.5") << QStringLiteral("3");
        QTest::newRow("negative") << QStringLiteral("-3") << QStringLiteral("-2");
    }

    void callSeconds() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QCOMPARE(nextCallSeconds(before), after);
    }

    void callTimerCountsIntoTheField() {
        CallsWindow w;
        w.ui.callsec->setText(QStringLiteral("abc"));
        w.ctx.timers.CallTimer->start();
        QTRY_COMPARE_WITH_TIMEOUT(w.ui.callsec->text(), QStringLiteral("1"), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(w.ui.callsec->text(), QStringLiteral("2"), 3000);
    }
};

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
