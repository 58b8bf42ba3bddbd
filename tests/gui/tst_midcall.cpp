// The mid-call controls on the real window with the fake engine: hold with the recording saved
// first, the transfers with their status lines and call-log rows (and what an engine refusal leaves
// out), the transfer-target and "INT" calls with the number part of the transfer text, three-way,
// the transfer-number field; forwarding; voice mail and the greeting buttons.

#include "gui/CallsWindow.h"

#include "calls/MidCall.h"
#include "phone/EngineErrors.h"

#include <QDir>
#include <QtTest>

using namespace corvid;
using corvid::test::CallsWindow;

namespace {
const QString kNumber = QStringLiteral("5551234567");
const QString kTarget = QStringLiteral("5559876543");
const QString kAgent = QStringLiteral("Agent7");

// Online with two lines, the agent's display name set, a call to kNumber connected on line index
// `line`, which stays chosen for dialing.
void connectCall(CallsWindow& w, int line = 0) {
    w.goOnline(2);
    w.ui.EditAccountDisplayName->setText(kAgent);
    w.ui.ComboDial->setCurrentIndex(line);
    w.dial(kNumber);
    QTRY_VERIFY(w.engine.line(line).connected);
}

QStringList waves(const CallsWindow& w) {
    return QDir(w.ctx.root.messages()).entryList({QStringLiteral("*.wav")}, QDir::Files);
}

QString errorText(int code) {
    return engineErrorMessage(code);
}
} // namespace

class TestMidCall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Hold on line 2 under recordAll: what was recorded is saved before the hold; resume records
    // again on the same line.
    void holdSavesTheRecordingAndResumeRecordsAgain() {
        CallsWindow w;
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("True"));
        connectCall(w, 1);
        QTRY_VERIFY(w.engine.line(1).recording);
        w.engine.clearCalls();

        // A second click during the recording's wait finds the button disabled.
        QTimer::singleShot(100, w.ui.BtnHold, [&] { QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton); });
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("HoldCall")), 1);
        const QStringList ops = w.engine.callNames();
        QVERIFY2(ops.indexOf(QStringLiteral("SaveRecording")) >= 0 &&
                     ops.indexOf(QStringLiteral("SaveRecording")) < ops.indexOf(QStringLiteral("HoldCall")),
                 qPrintable(ops.join(' ')));
        QCOMPARE(w.engine.last(QStringLiteral("HoldCall")), QVariantList{1});
        QCOMPARE(waves(w).size(), 1);
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Line- 2: Hold")});

        QTest::mouseClick(w.ui.BtnUnHold, Qt::LeftButton);
        QVERIFY(w.ui.CheckStartRecording->isChecked());
        QCOMPARE(w.engine.last(QStringLiteral("StartRecording")).value(0), QVariant(1));
    }

    // Blind transfer: the trimmed pre-dial text + the whole transfer text. Taken by the engine it is
    // logged and gets its row; refused (no call up, or the engine's refusal) only the error shows.
    void blindTransfer_data() {
        QTest::addColumn<bool>("callUp");
        QTest::addColumn<int>("refusal"); // 0: accepted
        QTest::newRow("accepted") << true << 0;
        QTest::newRow("no call up") << false << int(EngineError::NotInVoiceSession);
        QTest::newRow("refused") << true << int(EngineError::InvalidUri);
    }
    void blindTransfer() {
        QFETCH(bool, callUp);
        QFETCH(int, refusal);
        CallsWindow w;
        if (callUp) {
            connectCall(w, 1);
        } else {
            w.goOnline(2);
            w.ui.EditAccountDisplayName->setText(kAgent);
        }
        if (refusal && callUp) w.engine.failNext(QStringLiteral("TransferCall"), refusal);
        w.ui.ComboTransferCall->setCurrentIndex(1);
        w.ui.PreDialTxT->setText(QStringLiteral(" *2 "));
        w.ui.EditTransferPhoneNo->setEditText(kTarget);
        w.ui.callsec->setText(QStringLiteral("12"));

        QTest::mouseClick(w.ui.BtnTransferCall, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("TransferCall")), (QVariantList{1, QStringLiteral("*2") + kTarget}));
        const QByteArrayList rows = w.callLogRows(kAgent);
        if (!refusal) {
            QVERIFY(w.fakes.messages.boxes.isEmpty());
            QVERIFY(w.statusLog().contains(QStringLiteral("Line- 2: Blind Transfer ")));
            QCOMPARE(rows.size(), 1);
            QVERIFY2(rows.at(0).startsWith("\"" + kTarget.toUtf8() + "\",\"Agent7\",\"12\",") &&
                         rows.at(0).endsWith(",\"Blind Transfer\""),
                     rows.at(0).constData());
            QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
        } else {
            QCOMPARE(w.fakes.messages.texts(), QStringList{errorText(refusal)});
            QVERIFY(!w.statusLog().join('\n').contains(QStringLiteral("Blind Transfer")));
            QVERIFY(rows.isEmpty());
            QCOMPARE(w.ui.callsec->text(), QStringLiteral("12"));
        }
    }

    // "Call" (the transfer target, on line 2, after the pre-dial prefix of the settings) and "INT"
    // (the current line, no prefix) dial the number part of the transfer text.
    void transferTextCalls_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");        // the line called
        QTest::addColumn<QString>("dialled"); // what the engine is asked to call
        const QString call = QStringLiteral("CallTranPush"), direct = QStringLiteral("VMCallPush");
        QTest::newRow("Call, ten characters") << call << kTarget << 1 << QStringLiteral("*9") + kTarget;
        QTest::newRow("Call, number and name")
            << call << kTarget + QStringLiteral(" Jane Roe") << 1 << QStringLiteral("*9") + kTarget;
        QTest::newRow("INT, number and name") << direct << kTarget + QStringLiteral(" Jane") << 0 << kTarget;
    }
    void transferTextCalls() {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(QString, dialled);
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("PreDialNumber"), QStringLiteral("*9"));
        w.ui.PreDialTxT->setText(QStringLiteral("*2"));
        w.ui.EditTransferPhoneNo->setEditText(text);
        w.ctx.state.TransferMark = QStringLiteral("1");

        QTest::mouseClick(w.fixture.find<QPushButton>(button), Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{line, dialled, -1, -1}));
        const QString number = text.section(QLatin1Char(' '), 0, 0);
        QVERIFY(w.statusLog().contains(QStringLiteral("Line- %1: Dialing - %2").arg(line + 1).arg(number)));
        QCOMPARE(w.ui.ComboDial->currentIndex(), line);
        if (button == QLatin1String("CallTranPush")) {
            QCOMPARE(w.ui.PreDialTxT->text(), QStringLiteral("*9"));
            QCOMPARE(w.ctx.state.TransferMark, QStringLiteral("0"));
        }
    }

    // "S-Tran" after the first call was held and the target called on line 2: line 1 is resumed
    // and the consult lines are joined; the same line twice or a refused join joins nothing.
    void supervisedTransfer_data() {
        QTest::addColumn<int>("lineB");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("message");
        QTest::newRow("joined") << 1 << 0 << QString();
        QTest::newRow("same line") << 0 << 0 << QStringLiteral("Please select two different lines.");
        QTest::newRow("refused") << 1 << int(EngineError::NotInVoiceSession)
                                 << errorText(EngineError::NotInVoiceSession);
    }
    void supervisedTransfer() {
        QFETCH(int, lineB);
        QFETCH(int, refusal);
        QFETCH(QString, message);
        CallsWindow w;
        connectCall(w);
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        w.ui.EditTransferPhoneNo->setEditText(kTarget + QStringLiteral(" Jane"));
        QTest::mouseClick(w.ui.CallTranPush, Qt::LeftButton);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.ui.ComboConsultLineB->setCurrentIndex(lineB);
        if (refusal) w.engine.failNext(QStringLiteral("JoinLines"), refusal);
        w.engine.clearCalls();

        QTest::mouseClick(w.ui.BtnConsultTransfer, Qt::LeftButton);
        const QByteArrayList rows = w.callLogRows(kAgent);
        QCOMPARE(w.engine.last(QStringLiteral("ResumeCall")), QVariantList{0});
        if (!message.isEmpty()) {
            QCOMPARE(w.fakes.messages.texts(), QStringList{message});
            QCOMPARE(w.engine.count(QStringLiteral("JoinLines")), refusal ? 1 : 0);
            QCOMPARE(w.ctx.state.TransferMark, QStringLiteral("0"));
            QVERIFY(rows.isEmpty());
            return;
        }
        QCOMPARE(w.engine.last(QStringLiteral("JoinLines")), (QVariantList{0, 1}));
        QCOMPARE(w.ctx.state.TransferMark, QStringLiteral("1"));
        QCOMPARE(w.statusLog().last(), QStringLiteral("Line- 1: Supervised Transfer "));
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.at(0).startsWith("\"5559876543 Jane\",") && rows.at(0).endsWith(",\"Supervised Transfer\""),
                 rows.at(0).constData());
    }

    // "3-way": the held first line is resumed, the second line's call is left alone, and line 1 is
    // chosen again at the end.
    void threeWayResumesLineOne() {
        CallsWindow w;
        connectCall(w);
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kTarget);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.engine.clearCalls();

        QTest::mouseClick(w.ui.threeWayPush, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("ResumeCall")), 1);
        QCOMPARE(w.engine.last(QStringLiteral("ResumeCall")), QVariantList{0});
        QCOMPARE(w.engine.count(QStringLiteral("HoldCall")) + w.engine.count(QStringLiteral("JoinLines")), 0);
        QVERIFY(!w.engine.line(0).onHold && w.engine.line(1).connected);
        QCOMPARE(w.statusLog(), QStringList{QStringLiteral("Line- 1: Connected")});
        QCOMPARE(w.ui.ComboDial->currentIndex(), 0);
    }

    void transferNumberIsStoredAndCleared() {
        CallsWindow w;
        w.ui.EditTransferPhoneNo->clear();
        w.ui.EditTransferPhoneNo->addItems({kNumber, kTarget + QStringLiteral(" Jane")});
        w.ui.EditTransferPhoneNo->setCurrentIndex(1);
        Q_EMIT w.ui.EditTransferPhoneNo->activated(1); // as when the agent picks the entry
        QCOMPARE(w.setting(QStringLiteral("TransferNumber")), kTarget + QStringLiteral(" Jane"));

        QTest::mouseDClick(w.ui.Frame10, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(w.ui.EditTransferPhoneNo->currentText(), QString());
        QVERIFY(w.fixture.readFile(QStringLiteral("bin/corvidapp.ini")).contains("TransferNumber=\r\n"));
    }

    // Forwarding: switching on needs a number (sent as typed); a refusal shows the engine's error and
    // the box shows forwarding as the engine still has it; switching off always reaches the engine.
    void forwarding_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("boxAfter");
        QTest::newRow("on") << QStringLiteral(" 5551234567 ") << true << 0 << QString() << true;
        QTest::newRow("on, empty") << QString() << true << 0 << QStringLiteral("Please enter a phone number.") << false;
        QTest::newRow("on, refused") << QStringLiteral("55x") << true << int(EngineError::InvalidUri)
                                     << errorText(EngineError::InvalidUri) << false;
        QTest::newRow("off") << kNumber << false << 0 << QString() << false;
        QTest::newRow("off, emptied field") << QString() << false << 0 << QString() << false;
    }
    void forwarding() {
        QFETCH(QString, number);
        QFETCH(bool, tick);
        QFETCH(int, refusal);
        QFETCH(QString, message);
        QFETCH(bool, boxAfter);
        CallsWindow w;
        w.goOnline(2);
        if (!tick) {
            w.ui.EditForwardCallPhoneNo->setText(kNumber);
            w.ui.CheckForwardCall->setChecked(true);
            w.engine.clearCalls();
        }
        w.ui.EditForwardCallPhoneNo->setText(number);
        if (refusal) w.engine.failNext(QStringLiteral("ForwardCalls"), refusal);

        QTest::mouseClick(w.ui.CheckForwardCall, Qt::LeftButton);
        QCOMPARE(w.fakes.messages.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(w.ui.CheckForwardCall->isChecked(), boxAfter);
        const bool engineAsked = !(tick && number.isEmpty());
        QCOMPARE(w.engine.callsTo(QStringLiteral("ForwardCalls")).size(), engineAsked ? 1 : 0);
        if (engineAsked) QCOMPARE(w.engine.last(QStringLiteral("ForwardCalls")), (QVariantList{tick, number}));
    }

    // Without an engine able to forward, the agent is told to update the program.
    void forwardingWithoutAnEngine() {
        corvid::test::MainFormFixture fixture;
        fixture.create(nullptr);
        fixture.ui().EditForwardCallPhoneNo->setText(kNumber);
        QTest::mouseClick(fixture.ui().CheckForwardCall, Qt::LeftButton);
        QCOMPARE(fixture.fakes.messages.texts(), QStringList{QStringLiteral("You must update your software.")});
        QVERIFY(!fixture.ui().CheckForwardCall->isChecked());
    }

    // The forwarding number is stored without blanks around it; the field keeps them.
    void forwardingNumberIsSavedTrimmed() {
        CallsWindow w;
        w.ui.EditForwardCallPhoneNo->setText(QStringLiteral("  5551234567 "));
        QTest::mouseClick(w.ui.EditForwardCallPhoneNo, Qt::LeftButton);
        QCOMPARE(w.setting(QStringLiteral("Forward")), kNumber);
        QCOMPARE(w.ui.EditForwardCallPhoneNo->text(), QStringLiteral("  5551234567 "));
    }

    // Voice mail calls "*97" on the current line and stays disabled until the agent's hang-up; when
    // the engine refuses the call there is none to hang up, and the button is enabled again.
    void voiceMail_data() {
        QTest::addColumn<bool>("refused");
        QTest::newRow("called") << false;
        QTest::newRow("refused") << true;
    }
    void voiceMail() {
        QFETCH(bool, refused);
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboDial->setCurrentIndex(1);
        if (refused) w.engine.failNext(QStringLiteral("PlaceCall"), EngineError::ConnectRequest);
        QTest::mouseClick(w.ui.vmclick, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, QStringLiteral("*97"), -1, -1}));
        QCOMPARE(w.ui.vmclick->isEnabled(), refused);
        QCOMPARE(w.fakes.messages.texts(),
                 refused ? QStringList{errorText(EngineError::ConnectRequest)} : QStringList());
        if (refused) return;
        QTest::mouseClick(w.ui.vmclick, Qt::LeftButton); // disabled: no second call
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 1);
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QVERIFY(w.ui.vmclick->isEnabled());
    }

    // The greeting buttons act only while DID is "True"; the tools come from the apps folder, each
    // button disabled for its wait; "REC" needs no DID.
    void greetingsAndTools_data() {
        QTest::addColumn<QString>("did");
        QTest::newRow("DID True") << QStringLiteral("True");
        QTest::newRow("DID not exactly True") << QStringLiteral("true");
    }
    void greetingsAndTools() {
        QFETCH(QString, did);
        const bool on = did == QLatin1String("True");
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("DID"), did);
        QTest::mouseClick(w.ui.ListtogreetingCmd, Qt::LeftButton);
        QCOMPARE(w.engine.callsTo(QStringLiteral("PlaceCall")).size(), on ? 1 : 0);
        if (on) QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")).value(1), QVariant(QStringLiteral("9001")));
        QVERIFY(w.ui.ListtogreetingCmd->isEnabled());

        bool disabledDuringWait = false;
        QTimer::singleShot(100, w.ui.GreatPush, [&] { disabledDuringWait = !w.ui.GreatPush->isEnabled(); });
        QTest::mouseClick(w.ui.GreatPush, Qt::LeftButton);
        if (on) QTest::mouseClick(w.ui.RecClick, Qt::LeftButton);
        QStringList started;
        for (const auto& start : w.fakes.processes.starts)
            started << QDir(w.ctx.root.root()).relativeFilePath(start.program);
        QStringList expected;
        if (on) expected << QStringLiteral("apps/greetrec") << QStringLiteral("apps/amplayer");
#ifdef Q_OS_WIN
        for (QString& program : expected)
            program += QStringLiteral(".exe");
#endif
        QCOMPARE(started, expected);
        QCOMPARE(disabledDuringWait, on);
        QVERIFY(w.ui.GreatPush->isEnabled() && w.ui.RecClick->isEnabled());
    }
};

QTEST_MAIN(TestMidCall)
#include "tst_midcall.moc"
