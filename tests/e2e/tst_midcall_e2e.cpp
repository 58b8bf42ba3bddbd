// The mid-call controls of the real window on the real engine against the loopback test bed:
// hold and resume reach the far end as re-INVITEs; a blind transfer is a REFER the far end accepts,
// logged and given its row; a supervised transfer joins two phones so that one hears the other.
// (Do-not-disturb and forwarding are proven under the hostile flood.)

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QAbstractButton>
#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

class TestMidCallE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};

    QString farEndLog() const { return m_run.bed->farEndLog(SipTestBed::FarEnd::Answer); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start()); }
    void cleanup() { m_phones.stopAll(); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // Hold and UnHold reach the far end; B-Tran hands the call over by a REFER it accepts.
    void holdResumeAndBlindTransfer() {
        auto d = m_run.window();
        QVERIFY(d);
        d->dial(BedNumber::Answer);
        QVERIFY(d->connected());
        // The far end's INFO is answered before our re-INVITE goes out (else it would cross it).
        QVERIFY(d->waitLogged(QStringLiteral("Line- 1: Key-pressed: 5")));

        d->ui().BtnHold->click();
        QTRY_VERIFY_WITH_TIMEOUT(farEndLog().contains(QStringLiteral("REINVITE sendonly")) ||
                                     farEndLog().contains(QStringLiteral("REINVITE inactive")),
                                 kEventMs);
        QTRY_VERIFY_WITH_TIMEOUT(d->engine->IsLineOnHold(0), kEventMs);
        QTest::qWait(200); // the far end's answer to the hold is taken before the resume

        d->ui().BtnUnHold->click();
        QTRY_VERIFY_WITH_TIMEOUT(farEndLog().contains(QStringLiteral("REINVITE sendrecv")), kEventMs);
        QTRY_VERIFY_WITH_TIMEOUT(!d->engine->IsLineOnHold(0), kEventMs);

        d->ui().PreDialTxT->setText(QStringLiteral("*"));
        d->ui().EditTransferPhoneNo->setEditText(QStringLiteral("9002"));
        d->ui().BtnTransferCall->click();
        QVERIFY(d->waitLogged(QStringLiteral("Line- 1: Transfer accepted.")));
        QVERIFY2(farEndLog().contains(QStringLiteral("*9002@")), qPrintable(farEndLog()));
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
        auto d = m_run.window();
        QVERIFY(d);
        d->dial(Account1002.user);
        QVERIFY(b->answer());
        QVERIFY(d->connected());

        EnginePhone* c = m_phones.add({Account1002, m_run.tone(0)});
        QVERIFY(c);
        d->ui().BtnHold->click();
        QTRY_VERIFY_WITH_TIMEOUT(d->engine->IsLineOnHold(0), kEventMs);
        d->ui().EditTransferPhoneNo->setEditText(Account1002.user + QStringLiteral(" Colleague"));
        d->ui().CallTranPush->click();
        QVERIFY(c->answer());
        QVERIFY(d->connected(2));
        QVERIFY(c->waitFor(QStringLiteral("CallConnected")));
        QVERIFY(c->engine->StartRecording(0, 0, false));

        d->ui().BtnConsultTransfer->click();
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!d->engine->IsLineOnHold(0) && !d->engine->IsLineOnHold(1), kEventMs);
        QTest::qWait(2500);
        const QString rec = m_run.work.filePath(QStringLiteral("joined.wav"));
        QVERIFY(c->engine->SaveRecording(0, rec));
        // The last 1.5 s, well after the join.
        QVERIFY(hearsTone(rec, 1500, waveDurationMs(rec) - 1500));

        QVERIFY(d->callLogRows().size() == 1 &&
                d->hasRow(0, QStringLiteral("1002"), QStringLiteral("Supervised Transfer")));
    }
};

QTEST_MAIN(TestMidCallE2e)
#include "tst_midcall_e2e.moc"
