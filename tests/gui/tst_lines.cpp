// The line status table of the one-second tick, and the busy / bad-number reaction that ends a
// refused call two seconds later. The reaction waits inside a handler: whatever happens "during
// the wait" is scheduled on a timer, which fires inside that wait, as a click or an engine event would.

#include "gui/CallsWindow.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

static const QString kNumber = QStringLiteral("5551234567");

class TestLines : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusTableShowsEachLinesWord() {
        CallsWindow w;
        w.ctx.state.LineCount = 5; // line 1 unknown to the engine: closed
        w.engine.lineRef(1).open = true;
        w.engine.lineRef(2).open = w.engine.lineRef(2).busy = true;
        w.engine.lineRef(3).open = w.engine.lineRef(3).busy = w.engine.lineRef(3).onHold = true;
        FakeEngine::Line& playing = w.engine.lineRef(4); // playing, even while held
        playing.open = playing.busy = playing.onHold = playing.playing = true;
        w.lines->onTimerTickTimeout();
        QStringList words;
        for (int n = 0; n < w.ui.ListViewLineStatus->topLevelItemCount(); ++n)
            words << w.ui.ListViewLineStatus->topLevelItem(n)->text(1);
        QCOMPARE(words, (QStringList{"close", "free", "busy", "hold", "playing"}));
    }

    // Whatever happens during the wait, the refused call is hung up once, on the line selected when
    // the wait ends, as the agent's hang-up with its row; a call placed meanwhile is left alone.
    void busyReactionWait_data() {
        QTest::addColumn<QString>("during");
        QTest::addColumn<QVariantList>("ended"); // the lines EndCall was given
        QTest::newRow("line 2 chosen, a call up there") << "line 2" << QVariantList{1};
        QTest::newRow("second refusal") << "503" << QVariantList{0};
        QTest::newRow("agent hangs up") << "hang up" << QVariantList{0};
        QTest::newRow("ended, next call placed") << "next call" << QVariantList{};
    }
    void busyReactionWait() {
        QFETCH(QString, during);
        QFETCH(QVariantList, ended);
        CallsWindow w; // online with two lines and a call to kNumber ringing on line 1 that nobody answers
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.engine.setAnswering(false);
        w.dial(kNumber);
        w.engine.lineRef(1).busy = during == QLatin1String("line 2");
        QTRY_VERIFY(w.statusLog().contains(QStringLiteral("Ringing")));
        int endCallsDuringWait = -1;
        QTimer::singleShot(300, &w.window, [&] {
            endCallsDuringWait = w.engine.count(QStringLiteral("EndCall"));
            if (during == QLatin1String("line 2")) w.ui.ComboDial->setCurrentIndex(1);
            if (during == QLatin1String("503"))
                w.engine.fire(&SipEngine::ServerFailureResponse, 0, 503, QStringLiteral("Service Unavailable"));
            if (during == QLatin1String("hang up")) QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
            if (during != QLatin1String("next call")) return;
            w.engine.fireCallHungUp(0); // the refused call ends by itself ...
            QTimer::singleShot(100, &w.window, [&] { w.dial(QStringLiteral("5559876543")); }); // ... the next one
        });
        // A busy line reported for the call on line 1; by 2.8 s even a second refusal's wait is over.
        QElapsedTimer clock;
        clock.start();
        w.engine.fire(&SipEngine::RequestFailureResponse, 0, 486, QStringLiteral("Busy Here"));
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 2800, 5000);
        QCOMPARE(endCallsDuringWait, 0);
        QCOMPARE(w.engine.args(QStringLiteral("EndCall"), 0), ended);
        QVERIFY(w.fakes.messages.texts().isEmpty());
        if (ended.isEmpty()) {
            QVERIFY(w.engine.line(0).busy);
            return;
        }
        QCOMPARE(w.agentRows().size(), 1);
        QVERIFY(w.rowIs(w.agentRows().at(0), kNumber, "hang up"));
    }

    // In auto-call mode the refused number must not be dialled again from the clipboard.
    void busyReactionEmptiesTheClipboardInAutoCallMode() {
        CallsWindow w;
        w.goOnline(2);
        w.fakes.clipboard.put(kNumber);
        w.ui.autoCheck->setEnabled(true);
        w.ui.autoCheck->setChecked(true);
        w.lines->AddStatusLog(QStringLiteral("Busy Here")); // returns when the reaction is over
        QVERIFY(w.fakes.clipboard.text().isEmpty());
        QVERIFY(w.statusLog().contains(NoCallToEndText)); // the hang-up ran, with no call to end
    }
};

QTEST_MAIN(TestLines)
#include "tst_lines.moc"
