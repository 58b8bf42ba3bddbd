// The mid-call controls on the real window with the fake engine: hold with the recording saved
// first, the supervised transfer's call-log row, what a refused operation leaves out, three-way,
// forwarding, voice mail and the greetings.

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

QStringList errors(int code) { return code ? QStringList{engineErrorMessage(code)} : QStringList(); }
} // namespace

class TestMidCall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Hold under recordAll saves what was recorded before holding (a second click during the wait
    // finds the button disabled); resume records again on the same line.
    void holdSavesTheRecordingAndResumeRecordsAgain() {
        CallsWindow w;
        w.setSetting(QStringLiteral("recordAll"), QStringLiteral("True"));
        w.connectCall(kNumber, 1);
        QTRY_VERIFY(w.engine.line(1).recording);
        w.engine.clearCalls();
        QTimer::singleShot(100, w.ui.BtnHold, [&] { QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton); });
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        const QStringList ops = w.engine.callNames();
        QCOMPARE(ops.filter(QStringLiteral("HoldCall")).size(), 1);
        QVERIFY2(ops.indexOf(QStringLiteral("SaveRecording")) >= 0 &&
                     ops.indexOf(QStringLiteral("SaveRecording")) < ops.indexOf(QStringLiteral("HoldCall")),
                 qPrintable(ops.join(' ')));
        QCOMPARE(QDir(w.ctx.root.messages()).entryList({QStringLiteral("*.wav")}, QDir::Files).size(), 1);
        QTest::mouseClick(w.ui.BtnUnHold, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("StartRecording")).value(0), QVariant(1));
    }

    // "S-Tran" after the first call was held and the target called on line 2: line 1 is resumed
    // and the consult lines joined; the same line twice or a refused join joins and logs nothing.
    void supervisedTransfer_data() {
        QTest::addColumn<int>("lineB");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("message");
        QTest::newRow("joined") << 1 << 0 << QString();
        QTest::newRow("same line") << 0 << 0 << QStringLiteral("Please select two different lines.");
        QTest::newRow("refused") << 1 << int(EngineError::NotInVoiceSession)
                                 << engineErrorMessage(EngineError::NotInVoiceSession);
    }
    void supervisedTransfer() {
        QFETCH(int, lineB);
        QFETCH(int, refusal);
        QFETCH(QString, message);
        CallsWindow w;
        w.connectCall(kNumber);
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        w.ui.EditTransferPhoneNo->setEditText(kTarget + QStringLiteral(" Jane"));
        QTest::mouseClick(w.ui.CallTranPush, Qt::LeftButton);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.ui.EditTransferPhoneNo->setEditText(QStringLiteral("9000000001")); // text left in the field
        w.ui.ComboConsultLineB->setCurrentIndex(lineB);
        if (refusal) w.engine.failNext(QStringLiteral("JoinLines"), refusal);
        QTest::mouseClick(w.ui.BtnConsultTransfer, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("ResumeCall")), QVariantList{0});
        QCOMPARE(w.fakes.messages.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        // The row names the target called on line 2, not the text left in the field.
        const QByteArrayList rows = w.agentRows();
        QCOMPARE(rows.size(), message.isEmpty() ? 1 : 0);
        if (!message.isEmpty()) return;
        QCOMPARE(w.engine.last(QStringLiteral("JoinLines")), (QVariantList{0, 1}));
        QVERIFY(CallsWindow::rowIs(rows.at(0), kTarget, "Supervised Transfer"));
    }

    // Hold, blind transfer, three-way and supervised transfer with no call, or refused by the engine:
    // no status line or call-log row claims what did not happen, and the agent is told why (the
    // engine's error, or a status line). A transfer the engine takes is followed end to end.
    void refusedOperationClaimsNothing_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("callUp"); // and the engine refuses the hold or the transfer
        QTest::addColumn<QString>("log"); // empty: the engine's error is shown instead
        QTest::newRow("hold, no call") << "BtnHold" << false << NoCallToHoldText;
        QTest::newRow("hold refused") << "BtnHold" << true << "";
        QTest::newRow("B-Tran, no call") << "BtnTransferCall" << false << "";
        QTest::newRow("B-Tran refused") << "BtnTransferCall" << true << "";
        QTest::newRow("3-way, no call") << "threeWayPush" << false << "";
        QTest::newRow("S-Tran, no call") << "BtnConsultTransfer" << false << NoCallToTransferText;
    }
    void refusedOperationClaimsNothing() {
        QFETCH(QString, button);
        QFETCH(bool, callUp);
        QFETCH(QString, log);
        CallsWindow w;
        callUp ? w.connectCall(kNumber) : w.goOnline(2);
        w.ui.ListStatusLog->clear();
        w.ui.EditTransferPhoneNo->setEditText(kTarget);
        for (const char* operation : {"HoldCall", "TransferCall"})
            w.engine.failNext(QLatin1String(operation), EngineError::NotInVoiceSession);
        QTest::mouseClick(w.fixture.find<QPushButton>(button), Qt::LeftButton);
        QCOMPARE(w.statusLog(), log.isEmpty() ? QStringList() : QStringList{log});
        QCOMPARE(w.fakes.messages.texts(), log.isEmpty() ? errors(EngineError::NotInVoiceSession) : QStringList());
        QVERIFY(w.agentRows().isEmpty());
    }

    // "3-way" resumes the held first line only and chooses line 1 again.
    void threeWayResumesLineOne() {
        CallsWindow w;
        w.connectCall(kNumber);
        QTest::mouseClick(w.ui.BtnHold, Qt::LeftButton);
        w.ui.ComboDial->setCurrentIndex(1);
        w.dial(kTarget);
        QTRY_VERIFY(w.engine.line(1).connected);
        w.engine.clearCalls();
        QTest::mouseClick(w.ui.threeWayPush, Qt::LeftButton);
        QCOMPARE(w.engine.callNames(), QStringList{QStringLiteral("ResumeCall")});
        QCOMPARE(w.ui.ComboDial->currentIndex(), 0);
    }

    // Forwarding on needs a number; a refusal shows the engine's error and the box follows the
    // engine; switching off always reaches the engine, even with the field emptied.
    void forwarding_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<bool>("boxAfter");
        QTest::newRow("on") << QStringLiteral(" 5551234567 ") << true << 0 << true;
        QTest::newRow("on, empty") << QString() << true << 0 << false;
        QTest::newRow("on, refused") << QStringLiteral("55x") << true << int(EngineError::InvalidUri) << false;
        QTest::newRow("off, emptied field") << QString() << false << 0 << false;
    }
    void forwarding() {
        QFETCH(QString, number);
        QFETCH(bool, tick);
        QFETCH(int, refusal);
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
        const bool asked = !(tick && number.isEmpty());
        const QStringList empty{QStringLiteral("Please enter a phone number.")};
        QCOMPARE(w.fakes.messages.texts(), asked ? errors(refusal) : empty);
        QCOMPARE(w.ui.CheckForwardCall->isChecked(), boxAfter);
        QCOMPARE(w.engine.count(QStringLiteral("ForwardCalls")), asked ? 1 : 0);
        if (asked) QCOMPARE(w.engine.last(QStringLiteral("ForwardCalls")), (QVariantList{tick, number}));
    }

    // Voice mail calls "*97" and stays disabled until the agent's hang-up; when the engine refuses
    // the call there is nothing to hang up, and the button is enabled again.
    void voiceMail() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.ComboDial->setCurrentIndex(1);
        w.engine.failNext(QStringLiteral("PlaceCall"), EngineError::ConnectRequest);
        QTest::mouseClick(w.ui.vmclick, Qt::LeftButton);
        QCOMPARE(w.fakes.messages.texts(), errors(EngineError::ConnectRequest));
        QVERIFY(w.ui.vmclick->isEnabled());
        QTest::mouseClick(w.ui.vmclick, Qt::LeftButton);
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")), (QVariantList{1, QStringLiteral("*97"), -1, -1}));
        QVERIFY(!w.ui.vmclick->isEnabled());
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        QVERIFY(w.ui.vmclick->isEnabled());
    }

    // The greeting buttons act only while DID is exactly "True" (its call is logged with the other
    // ways of placing one); the tools come from the apps folder.
    void greetingsAndTools() {
        CallsWindow w;
        w.goOnline(2);
        w.setSetting(QStringLiteral("DID"), QStringLiteral("true"));
        QTest::mouseClick(w.ui.ListtogreetingCmd, Qt::LeftButton);
        QTest::mouseClick(w.ui.GreatPush, Qt::LeftButton);
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")) + w.fakes.processes.starts.size(), 0);
        w.setSetting(QStringLiteral("DID"), QStringLiteral("True"));
        QTest::mouseClick(w.ui.GreatPush, Qt::LeftButton);
        QTest::mouseClick(w.ui.RecClick, Qt::LeftButton);
        QStringList started;
        for (const auto& start : w.fakes.processes.starts)
            started << QDir(w.ctx.root.root()).relativeFilePath(start.program);
        QCOMPARE(started, (QStringList{QStringLiteral("apps/greetrec"), QStringLiteral("apps/amplayer")}));
    }
};

QTEST_MAIN(TestMidCall)
#include "tst_midcall.moc"
