// The manual telephone: the Call action and what it writes, the dial pad's digits, and the waits of
// the mailbox key and of redial.

#include "gui/CallsWindow.h"

#include "calls/DialRules.h"

#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

static const QString kNumber = QStringLiteral("5551234567");

class TestDialing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // On the chosen line with the chosen devices (the list rows minus one: row 0 is the default).
    void callPlacesAndRecordsTheCall() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboDial->setCurrentIndex(1);
        w.ui.ListAudioIn->setCurrentRow(2);
        w.ui.ListAudioOut->setCurrentRow(1);
        w.dial(kNumber);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, kNumber, 1, 0}));
        QCOMPARE(w.placedCalls().size(), 1);
        QVERIFY2(w.placedCalls().at(0).startsWith(kNumber.toUtf8()), w.placedCalls().at(0).constData());
        QCOMPARE(w.setting(QStringLiteral("LastNumber")), kNumber);
    }

    void callNotPlacedWritesNothing_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty number") << QString() << QStringLiteral("Please enter a phone number.");
        QTest::newRow("refused by the engine") << kNumber << QStringLiteral("Line is already busy.");
    }

    void callNotPlacedWritesNothing() {
        QFETCH(QString, number);
        QFETCH(QString, message);
        CallsWindow w;
        w.goOnline(2);
        w.engine.failNext(QStringLiteral("PlaceCall"), EngineError::LineBusy);
        w.dial(number);
        QCOMPARE(w.fakes.messages.texts(), QStringList{message});
        QVERIFY(w.placedCalls().isEmpty());
        QVERIFY(w.setting(QStringLiteral("LastNumber")).isEmpty());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
    }

    // Every key is wired to its own rule: what it types and the digit it sends on the current line.
    void everyDialPadKeyTypesAndSendsItsDigit() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboDial->setCurrentIndex(1);
        int keys = 0;
        for (QPushButton* key : w.window.findChildren<QPushButton*>()) {
            const DialPadKey* rule = findDialPadKey(key->objectName());
            if (!rule) continue;
            ++keys;
            w.ui.EditPhoneNo->setText(QStringLiteral("55"));
            w.engine.clearCalls();
            QTest::mouseClick(key, Qt::LeftButton);
            QCOMPARE(w.ui.EditPhoneNo->text(), pressDialPadKey(QStringLiteral("55"), *rule));
            QCOMPARE(w.engine.calls().size(), 1);
            QCOMPARE(w.engine.last(QStringLiteral("SendDtmfDigit")), (QVariantList{1, QString(rule->dtmf)}));
        }
        QCOMPARE(keys, 21); // 0-9, * and #, and the nine lettered keys
    }

    // After the first digit the agent picks line 2: the remaining digits follow the selection.
    void mailboxDigitsFollowTheLineChosenDuringTheWaits() {
        CallsWindow w;
        w.goOnline(2);
        QTimer::singleShot(1150, &w.window, [&] { w.ui.ComboDial->setCurrentIndex(1); });
        QTest::mouseClick(w.ui.Command1, Qt::LeftButton); // returns when the last digit is sent
        QCOMPARE(w.engine.args(QStringLiteral("SendDtmfDigit"), 0), (QVariantList{0, 1, 1, 1}));
        QCOMPARE(w.engine.args(QStringLiteral("SendDtmfDigit"), 1), (QVariantList{"5", "8", "0", "7"}));
    }

    // The line chosen during redial's 100 ms wait is the one dialled.
    void redialDialsOnTheLineChosenDuringItsWait() {
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("LastNumber"), kNumber);
        QTimer::singleShot(20, &w.window, [&] { w.ui.ComboDial->setCurrentIndex(1); });
        QTest::mouseClick(w.ui.redialPush, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, kNumber, -1, -1}));
    }
};

QTEST_MAIN(TestDialing)
#include "tst_dialing.moc"
