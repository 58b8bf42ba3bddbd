// The mid-call controls of the real window on the real engine against the loopback test bed:
// hold and resume reach the far end as re-INVITEs; a blind transfer is a REFER the far end accepts,
// logged and given its row; a supervised transfer joins two phones so that one hears the other;
// a caller gets 486 from a dialer in do-not-disturb and is redirected while forwarding is on.

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kWaitMs = 10000;
const QString kDisplayName = QStringLiteral("Demo Agent");

// The dialer: the real window and engine on a fresh install root, registered as 1001.
using Dialer = BedWindow;

void click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestMidCallE2e : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
    EnginePhones m_phones{m_bed, m_work};
    std::unique_ptr<Dialer> m_dialer;

    QString tone(int hz) {
        const QString path = m_work.filePath(QStringLiteral("tone%1.wav").arg(hz));
        if (!QFile::exists(path)) writeToneWave(path, hz, 60000);
        return path;
    }

    // Started as the program starts (Mon = "True": online by itself), registered, "Ready...".
    Dialer* startDialer() {
        m_dialer = std::make_unique<Dialer>();
        Dialer* d = m_dialer.get();
        BedWindow::Setup setup;
        setup.displayName = kDisplayName;
        setup.playFile = tone(1000);
        d->start(*m_bed, setup);
        if (!d->waitRegistered()) return nullptr;
        return d;
    }

    // The agent dials number on line 1 and the call connects.
    static bool dialConnected(Dialer* d, const QString& number) {
        d->ui().EditPhoneNo->setText(number);
        click(d->ui().BtnDial);
        return d->waitLogged(QStringLiteral("Line- 1: Success to connect."));
    }

    QString farEndLog() const { return m_bed->farEndLog(SipTestBed::FarEnd::Answer); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_bed = std::make_unique<SipTestBed>();
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
    }

    void cleanup() {
        if (m_dialer && m_dialer->engine) m_dialer->engine->EngineStop();
        m_phones.stopAll();
        m_dialer.reset();
    }

    void cleanupTestCase() {
        const QList<qint64> pids = m_bed->processIds();
        m_bed.reset();
        for (qint64 pid : pids)
            QVERIFY(!processGroupAlive(pid));
    }

    // Hold and UnHold reach the far end; B-Tran hands the call over by a REFER it accepts.
    void holdResumeAndBlindTransfer() {
        Dialer* d = startDialer();
        QVERIFY(d);
        QVERIFY(dialConnected(d, BedNumber::Answer));
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
        const QStringList rows = d->callLogRows();
        QVERIFY(!rows.isEmpty());
        QVERIFY2(rows.first().startsWith(QStringLiteral("\"9002\",\"Demo Agent\",")) &&
                     rows.first().endsWith(QStringLiteral(",\"Blind Transfer\"")),
                 qPrintable(rows.first()));
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
    }

    // The first call goes to phone B (1002, playing 1500 Hz), "Hold", then "Call" on line 2 reaches
    // phone C (silent; registered as 1002 after B, so it takes the account's calls), "S-Tran": C now
    // hears B's tone, which can only have come through the dialer's join.
    void supervisedTransferJoinsTwoFarEnds() {
        EnginePhone* b = m_phones.add({Account1002, tone(1500)});
        QVERIFY(b);
        Dialer* d = startDialer();
        QVERIFY(d);
        d->ui().EditPhoneNo->setText(Account1002.user);
        click(d->ui().BtnDial);
        QVERIFY(b->waitForName(QStringLiteral("IncomingCall")));
        QVERIFY(b->engine->AnswerCall(0, b->log->first(QStringLiteral("IncomingCall")).value(0).toString(), -1, -1));
        QVERIFY(d->waitLogged(QStringLiteral("Line- 1: Success to connect.")));
        QVERIFY(b->waitForName(QStringLiteral("CallConnected")));

        EnginePhone* c = m_phones.add({Account1002, tone(0)});
        QVERIFY(c);
        click(d->ui().BtnHold);
        QTRY_VERIFY_WITH_TIMEOUT(d->engine->IsLineOnHold(0), kWaitMs);
        d->ui().EditTransferPhoneNo->setEditText(Account1002.user + QStringLiteral(" Colleague"));
        click(d->ui().CallTranPush);
        QVERIFY(d->logged(QStringLiteral("Line- 2: Dialing - 1002")));
        QVERIFY(c->waitForName(QStringLiteral("IncomingCall")));
        QVERIFY(c->engine->AnswerCall(0, c->log->first(QStringLiteral("IncomingCall")).value(0).toString(), -1, -1));
        QVERIFY(d->waitLogged(QStringLiteral("Line- 2: Success to connect.")));
        QVERIFY(c->waitForName(QStringLiteral("CallConnected")));
        QVERIFY(c->engine->StartRecording(0, 0, false));

        click(d->ui().BtnConsultTransfer);
        QVERIFY2(d->logged(QStringLiteral("Line- 1: Supervised Transfer ")) &&
                     d->fixture.fakes.messages.boxes.isEmpty(),
                 qPrintable(d->fixture.fakes.messages.texts().join(" | ") + " / " + d->logLines.join(" | ")));
        QTRY_VERIFY_WITH_TIMEOUT(!d->engine->IsLineOnHold(0) && !d->engine->IsLineOnHold(1), kWaitMs);
        QTest::qWait(2500);
        const QString rec = m_work.filePath(QStringLiteral("joined.wav"));
        QVERIFY(c->engine->SaveRecording(0, rec));
        // The last 1.5 s, well after the join.
        const int skip = waveDurationMs(rec) - 1500;
        const double fromB = toneLevel(rec, 1500, skip), quiet = toneLevel(rec, 700, skip);
        qInfo("C hears: 1500 Hz %.4f, 700 Hz %.4f, 1000 Hz %.4f", fromB, quiet, toneLevel(rec, 1000, skip));
        QVERIFY(fromB > 0.02 && fromB > 10 * quiet);

        const QStringList rows = d->callLogRows();
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.first().startsWith(QStringLiteral("\"1002 Colleague\",")) &&
                     rows.first().endsWith(QStringLiteral(",\"Supervised Transfer\"")),
                 qPrintable(rows.first()));
    }

    // Do-not-disturb: 1002 calling the dialer gets 486. Forwarding to the far end that answers:
    // 1002's call is redirected there and connects.
    void doNotDisturbThenForwarding() {
        EnginePhone* b = m_phones.add({Account1002, QString()});
        QVERIFY(b);
        Dialer* d = startDialer();
        QVERIFY(d);
        click(d->ui().CheckDisturb);
        QVERIFY(d->ui().CheckDisturb->isChecked());
        QVERIFY(b->place(0, Account1001.user));
        QVERIFY(b->waitFor(QStringLiteral("CallFailed(0)")));
        QCOMPARE(b->log->first(QStringLiteral("RequestFailureResponse")).value(1).toInt(), 486);

        click(d->ui().CheckDisturb);
        d->ui().EditForwardCallPhoneNo->setText(BedNumber::Answer);
        click(d->ui().CheckForwardCall);
        QVERIFY(d->ui().CheckForwardCall->isChecked());
        QVERIFY(d->fixture.fakes.messages.boxes.isEmpty());
        const auto invitesToAnswer = [this] {
            return m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("INVITE sip:" + BedNumber::Answer + "@");
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
