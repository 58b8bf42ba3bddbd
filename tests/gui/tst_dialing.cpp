// The manual telephone: the Call action with what it writes, redial, the dial pad's number rules
// and DTMF digits, and the mailbox key's timing.

#include "gui/CallsWindow.h"

#include "calls/DialRules.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

class TestDialing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void callPlacesAndRecordsTheCall() {
        CallsWindow w;
        w.goOnline(2);
        w.ctx.state.TransferMark = QStringLiteral("1");
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(QStringLiteral("5551234567"));

        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 1);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, QStringLiteral("5551234567"), -1, -1}));
        QCOMPARE(w.ctx.state.TransferMark, QStringLiteral("0"));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Line- 2: Dialing - 5551234567")});
        QCOMPARE(w.ctx.state.CurrentNumber, QStringLiteral("5551234567"));
        const QByteArrayList placed = w.placedCalls();
        QCOMPARE(placed.size(), 1);
        QVERIFY2(placed.at(0).startsWith("5551234567"), placed.at(0).constData());
        const QDateTime now = w.fakes.clock.now();
        QVERIFY(placed.at(0).contains(QLocale::system().toString(now.date(), QLocale::ShortFormat).toLocal8Bit()));
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
        QVERIFY(w.ctx.timers.CallTimer->isActive());
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("Dialing - 5551234567"));
        QCOMPARE(w.setting(QStringLiteral("LastNumber")), QStringLiteral("5551234567"));
        QVERIFY(w.fakes.messages.texts().isEmpty());

        // A second call (on the other line) appends one more line to the placed-calls file.
        w.ui.ComboDial->setCurrentIndex(0);
        w.dial(QStringLiteral("5559876543"));
        QCOMPARE(w.placedCalls().size(), 2);
        QCOMPARE(w.setting(QStringLiteral("LastNumber")), QStringLiteral("5559876543"));
    }

    void emptyNumberShowsTheMessageAndWritesNothing() {
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("InBand"), QStringLiteral("True"));
        w.ctx.state.TransferMark = QStringLiteral("1");
        w.window.move(40, 300);
        w.dial(QString());

        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Please enter a phone number.")});
        QVERIFY(w.fakes.messages.boxes.at(0).hadWindow);
        // The steps before the check have run; nothing after it.
        QCOMPARE(w.ctx.state.TransferMark, QStringLiteral("0"));
        QVERIFY(w.ui.CheckForceInbandDTMF->isChecked());
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 0);
        QVERIFY(w.statusLog().isEmpty());
        QVERIFY(w.placedCalls().isEmpty());
        QVERIFY(w.setting(QStringLiteral("LastNumber")).isEmpty());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
    }

    void refusedCallShowsTheEngineErrorAndWritesNothing() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.callsec->setText(QStringLiteral("12"));
        w.engine.failNext(QStringLiteral("PlaceCall"), EngineError::LineBusy);
        w.dial(QStringLiteral("5551234567"));

        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 1);
        QCOMPARE(w.fakes.messages.texts(), QStringList{QStringLiteral("Line is already busy.")});
        QVERIFY(w.statusLog().isEmpty());
        QVERIFY(w.placedCalls().isEmpty());
        QVERIFY(w.setting(QStringLiteral("LastNumber")).isEmpty());
        QVERIFY(w.ctx.state.CurrentNumber.isEmpty());
        QVERIFY(!w.ctx.timers.CallTimer->isActive());
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("12"));
        QCOMPARE(w.ui.mouseMenu->text(), QStringLiteral("Click Right Mouse Button for Menu"));
    }

    void inBandSetting_data() {
        QTest::addColumn<QString>("value"); // "-" : the key is missing
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("True ticks") << QStringLiteral("True") << false << true;
        QTest::newRow("False unticks") << QStringLiteral("False") << true << false;
        QTest::newRow("missing leaves ticked") << QStringLiteral("-") << true << true;
    }

    void inBandSetting() {
        QFETCH(QString, value);
        QFETCH(bool, before);
        QFETCH(bool, after);
        CallsWindow w;
        w.goOnline(2);
        if (value != QLatin1String("-")) w.setSetting(QStringLiteral("InBand"), value);
        w.ui.CheckForceInbandDTMF->setChecked(before);
        w.dial(QStringLiteral("5551234567"));
        QCOMPARE(w.ui.CheckForceInbandDTMF->isChecked(), after);
        QCOMPARE(w.ctx.state.InBandSetting, value == QLatin1String("-") ? QString() : value);
    }

    void devicesAreTheListRowsMinusOne() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ListAudioIn->setCurrentRow(2);
        w.ui.ListAudioOut->setCurrentRow(1);
        w.dial(QStringLiteral("5551234567"));
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")).value(2).toInt(), 1);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")).value(3).toInt(), 0);
    }

    // Every key is wired to its own rule: what it types and the digit it sends on the current line,
    // whether or not a call is up. No key sends or types a 1.
    void everyDialPadKeyTypesAndSendsItsDigit() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboDial->setCurrentIndex(1);
        Ui::MainForm& ui = w.ui;
        for (QPushButton* key :
             {ui.BtnDialPad0, ui.BtnDialPad1, ui.BtnDialPad2, ui.BtnDialPad3, ui.BtnDialPad4,    ui.BtnDialPad5,
              ui.BtnDialPad6, ui.BtnDialPad7, ui.BtnDialPad8, ui.BtnDialPad9, ui.BtnDialPadStar, ui.BtnDialPadNo,
              ui.abctxt,      ui.ctText1,     ui.ctText2,     ui.ctText3,     ui.ctText4,        ui.ctText5,
              ui.ctText6,     ui.ctText7,     ui.ctText8}) {
            const DialPadKey* rule = findDialPadKey(key->objectName());
            QVERIFY2(rule, qPrintable(key->objectName()));
            QVERIFY(rule->dtmf != QLatin1Char('1') && rule->appended != QLatin1Char('1'));
            ui.EditPhoneNo->setText(QStringLiteral("55"));
            w.engine.clearCalls();
            QTest::mouseClick(key, Qt::LeftButton);
            QCOMPARE(ui.EditPhoneNo->text(), pressDialPadKey(QStringLiteral("55"), *rule));
            QCOMPARE(w.engine.callNames(), QStringList{QStringLiteral("SendDtmfDigit")});
            QCOMPARE(w.engine.last(QStringLiteral("SendDtmfDigit")), (QVariantList{1, QString(rule->dtmf)}));
        }
        // Ten characters take no further digit, but a star.
        ui.EditPhoneNo->setText(QStringLiteral("5551234567"));
        QTest::mouseClick(ui.BtnDialPad5, Qt::LeftButton);
        QCOMPARE(ui.EditPhoneNo->text(), QStringLiteral("5551234567"));
        QTest::mouseClick(ui.BtnDialPadStar, Qt::LeftButton);
        QCOMPARE(ui.EditPhoneNo->text(), QStringLiteral("5551234567*"));
    }

    void mailboxKeySendsItsCodeAfterAbout1900Ms() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditPhoneNo->setText(QStringLiteral("5551234567"));
        // After the first digit the agent picks line 2: the remaining digits follow the selection.
        QElapsedTimer clock;
        QStringList linesUsed;
        bool disabledDuringWait = false;
        QTimer::singleShot(500, &w.window, [&] { disabledDuringWait = !w.ui.Command1->isEnabled(); });
        QTimer::singleShot(1150, &w.window, [&] { w.ui.ComboDial->setCurrentIndex(1); });
        clock.start();
        QTest::mouseClick(w.ui.Command1, Qt::LeftButton); // returns when the last digit is sent
        const qint64 total = clock.elapsed();

        const QList<FakeEngine::Call> digits = w.engine.callsTo(QStringLiteral("SendDtmfDigit"));
        QCOMPARE(digits.size(), 4);
        QStringList sent;
        for (const FakeEngine::Call& call : digits) {
            sent << call.args.value(1).toString();
            linesUsed << call.args.value(0).toString();
        }
        QCOMPARE(sent, (QStringList{"5", "8", "0", "7"}));
        QCOMPARE(linesUsed, (QStringList{"0", "1", "1", "1"}));
        QVERIFY2(total >= 1850 && total < 3500, qPrintable(QString::number(total)));
        QVERIFY(disabledDuringWait);
        QVERIFY(w.ui.Command1->isEnabled());
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("5551234567"));
    }

    void redial() {
        CallsWindow w;
        w.goOnline(2);
        QTest::mouseClick(w.ui.redialPush, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 0);
        QVERIFY(w.ui.EditPhoneNo->text().isEmpty());
        QVERIFY(w.fakes.messages.texts().isEmpty());

        w.setSetting(QStringLiteral("LastNumber"), QStringLiteral("5551234567"));
        // The line chosen during the 100 ms wait is the one dialled.
        QString fieldDuringWait;
        QTimer::singleShot(20, &w.window, [&] {
            fieldDuringWait = w.ui.EditPhoneNo->text();
            w.ui.ComboDial->setCurrentIndex(1);
        });
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(w.ui.redialPush, Qt::LeftButton);
        QVERIFY(clock.elapsed() >= 95);
        QCOMPARE(fieldDuringWait, QStringLiteral("5551234567"));
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, QStringLiteral("5551234567"), -1, -1}));
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Line- 2: Dialing - 5551234567")});
        QVERIFY(w.ui.redialPush->isEnabled());
    }
};

QTEST_MAIN(TestDialing)
#include "tst_dialing.moc"
