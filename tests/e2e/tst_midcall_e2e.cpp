// The mid-call controls of the real window on the real engine against the loopback test bed:
// hold and resume reach the far end as re-INVITEs; a blind transfer is a REFER the far end accepts,
// logged and given its row; a supervised transfer joins two phones so that one hears the other;
// a caller gets 486 from a dialer in do-not-disturb and is redirected while forwarding is on.

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QAbstractButton>
#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kWaitMs = 10000;

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestMidCallE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};

    // The dialer: the real window and engine on a fresh install root, registered as 1001, playing 1000 Hz.
    std::unique_ptr<BedWindow> startDialer() {
        return BedWindow::online(*m_run.bed, {Account1001, QStringLiteral("Demo Agent"), m_run.tone(1000)});
    }
    QString farEndLog() const { return m_run.bed->farEndLog(SipTestBed::FarEnd::Answer); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start()); }
    void cleanup() { m_phones.stopAll(); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // Hold and UnHold reach the far end; B-Tran hands the call over by a REFER it accepts.
    void holdResumeAndBlindTransfer() {
        auto d = startDialer();
        QVERIFY(d);
        d->dial(BedNumber::Answer);
        QVERIFY(d->connected());
        // The far end's INFO is answered before our re-INVITE goes out (else it would cross it).
        QVERIFY(d->waitLogged(QStringLiteral("Line- 1: Key-pressed: 5")));

        click(d->ui().BtnHold);
        QTRY_VERIFY_WITH_TIMEOUT(farEndLog().contains(QStringLiteral("REINVITE sendonly")) ||
                                     farEndLog().contains(QStringLiteral("REINVITE inactive")),
                                 kWaitMs);
        QCOMPARE(d->fixture.statusLog(), QStringList{QStringLiteral("Line- 1: Hold")});
        QTRY_VERIFY_WITH_TIMEOUT(d->engine->IsLineOnHold(0), kWaitMs);
        QTest::qWait(200); // the far end's answer to the hold is taken before the resume

        click(d->ui().BtnUnHold);
        QTRY_VERIFY_WITH_TIMEOUT(farEndLog().contains(QStringLiteral("REINVITE sendrecv")), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!d->engine->IsLineOnHold(0), kWaitMs);
        QVERIFY(d->logged(QStringLiteral("Line- 1: Connected")));

        d->ui().PreDialTxT->setText(QStringLiteral("*"));
        d->ui().EditTransferPhoneNo->setEditText(QStringLiteral("9002"));
        click(d->ui().BtnTransferCall);
        QVERIFY(d->waitLogged(QStringLiteral("Line- 1: Transfer accepted.")));
        QVERIFY2(farEndLog().contains(QStringLiteral("*9002@")), qPrintable(farEndLog()));
        QVERIFY(d->logged(QStringLiteral("Line- 1: Blind Transfer ")));
        // The row of the transfer comes first (the far end's end of the handed-over call may follow).
        QVERIFY(d->hasRow(0, QStringLiteral("9002"), QStringLiteral("Blind Transfer")));
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
    }

    // The first call goes to phone B (1002, playing 1500 Hz), "Hold", then "Call" on line 2 reaches
    // phone C (silent; registered as 1002 after B, so it takes the account's calls), "S-Tran": C now
    // hears B's tone, which can only have come through the dialer's join.
    void supervisedTransferJoinsTwoFarEnds() {
        EnginePhone* b = m_phones.add({Account1002, m_run.tone(1500)});
        QVERIFY(b);
        auto d = startDialer();
        QVERIFY(d);
        d->dial(Account1002.user);
        QVERIFY(b->answer());
        QVERIFY(d->connected());
        QVERIFY(b->waitForName(QStringLiteral("CallConnected")));

        EnginePhone* c = m_phones.add({Account1002, m_run.tone(0)});
        QVERIFY(c);
        click(d->ui().BtnHold);
        QTRY_VERIFY_WITH_TIMEOUT(d->engine->IsLineOnHold(0), kWaitMs);
        d->ui().EditTransferPhoneNo->setEditText(Account1002.user + QStringLiteral(" Colleague"));
        click(d->ui().CallTranPush);
        QVERIFY(d->logged(QStringLiteral("Line- 2: Dialing - 1002")));
        QVERIFY(c->answer());
        QVERIFY(d->connected(2));
        QVERIFY(c->waitForName(QStringLiteral("CallConnected")));
        QVERIFY(c->engine->StartRecording(0, 0, false));

        click(d->ui().BtnConsultTransfer);
        QVERIFY(d->logged(QStringLiteral("Line- 1: Supervised Transfer ")));
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!d->engine->IsLineOnHold(0) && !d->engine->IsLineOnHold(1), kWaitMs);
        QTest::qWait(2500);
        const QString rec = m_run.work.filePath(QStringLiteral("joined.wav"));
        QVERIFY(c->engine->SaveRecording(0, rec));
        // The last 1.5 s, well after the join.
        const int skip = waveDurationMs(rec) - 1500;
        const double fromB = toneLevel(rec, 1500, skip), quiet = toneLevel(rec, 700, skip);
        QVERIFY2(fromB > 0.02 && fromB > 10 * quiet, qPrintable(QStringLiteral("%1 / %2").arg(fromB).arg(quiet)));

        QCOMPARE(d->callLogRows().size(), 1);
        QVERIFY(d->hasRow(0, QStringLiteral("1002"), QStringLiteral("Supervised Transfer"))); // the target called on line 2
    }

    // Do-not-disturb: 1002 calling the dialer gets 486. Forwarding to the far end that answers:
    // 1002's call is redirected there and connects.
    void doNotDisturbThenForwarding() {
        EnginePhone* b = m_phones.add({Account1002, QString()});
        QVERIFY(b);
        auto d = startDialer();
        QVERIFY(d);
        click(d->ui().CheckDisturb);
        QVERIFY(b->place(0, Account1001.user));
        QVERIFY(b->waitFor(QStringLiteral("CallFailed(0)")));
        QCOMPARE(b->log->first(QStringLiteral("RequestFailureResponse")).value(1).toInt(), 486);

        click(d->ui().CheckDisturb);
        d->ui().EditForwardCallPhoneNo->setText(BedNumber::Answer);
        click(d->ui().CheckForwardCall);
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
        const auto invitesToAnswer = [this] {
            return m_run.bed->farEndMessages(SipTestBed::FarEnd::Answer).count("INVITE sip:" + BedNumber::Answer + "@");
        };
        const qsizetype before = invitesToAnswer();
        b->log->clear();
        QVERIFY(b->place(0, Account1001.user));
        QVERIFY(b->waitForName(QStringLiteral("CallConnected")));
        QCOMPARE(invitesToAnswer(), before + 1);
        QVERIFY(b->engine->EndCall(0));
        // Nothing of either call reached the dialer's window.
        QCOMPARE(d->fixture.statusLog(), QStringList{QStringLiteral("Ready...")});
        QCOMPARE(d->ui().ListIncomingCall->count(), 0);
    }
};

QTEST_MAIN(TestMidCallE2e)
#include "tst_midcall_e2e.moc"
