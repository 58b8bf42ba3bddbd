// The real engine against the loopback test bed: calls and their outcomes, DTMF, hold, two engines
// calling each other with audio checked in the recordings, chat, presence, do-not-disturb and
// forwarding.

#include "engine/linphone/EngineRules.h"
#include "support/EnginePhone.h"

#include <QDir>

using namespace corvid;
using namespace corvid::test;
namespace Presence = corvid::engine_rules::Presence;
using Phone = EnginePhone;

class TestLinphoneEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
    // Started before any engine: the sound library looks for its sound server once per process.
    std::unique_ptr<NullSoundCard> m_soundCard;
    EnginePhones m_phones{m_bed, m_work};

    QString tone(int hz) const { return m_work.filePath(QStringLiteral("tone%1.wav").arg(hz)); }
    Phone* phone(const BedAccount& account, const QString& playFile = QString()) {
        return m_phones.add({account, playFile});
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_bed = std::make_unique<SipTestBed>(SipTestBed::Options{1500});
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
        for (int hz : {500, 1000, 1500})
            QVERIFY(writeToneWave(tone(hz), hz, 20000));
        if (NullSoundCard::available()) {
            m_soundCard = std::make_unique<NullSoundCard>();
            QVERIFY2(m_soundCard->start(), qPrintable(m_soundCard->errorString()));
            m_soundCard->applyToEnvironment();
        }
    }

    void cleanup() { m_phones.stopAll(); }

    void cleanupTestCase() {
        QList<qint64> pids = m_bed->processIds();
        if (m_soundCard) pids << m_soundCard->pid();
        m_soundCard.reset();
        m_bed.reset();
        for (qint64 pid : pids)
            QVERIFY(!processGroupAlive(pid));
    }

    void answeredCallDtmfAndBothHangUps() {
        Phone* p = phone(Account1001);
        QVERIFY(p);
        p->log->clear();
        QVERIFY(p->place(0, BedNumber::Answer));
        QVERIFY(p->log->texts().isEmpty()); // events never arrive inside the operation
        QVERIFY(p->waitForName("CallConnected"));
        QVERIFY2(
            p->log->texts().mid(0, 3) ==
                (QStringList{
                    "CallConnecting(0)", "ProvisionalResponse(0, 180, Ringing)",
                    QStringLiteral("CallConnected(0, sip:9001@%1, %2)").arg(m_bed->domain()).arg(int(Codec::G711U))}),
            qPrintable(p->log->texts().join(" | ")));
        // The far end sends the digit 5 by SIP INFO right after the answer.
        QVERIFY(p->waitFor("DtmfDigitReceived(0, 5)"));
        // Our digit goes out as RTP telephone-event; the far end echoes the RTP back.
        QVERIFY(p->engine->SendDtmfDigit(0, "7"));
        QVERIFY(p->waitFor("DtmfDigitReceived(0, 7)"));

        QVERIFY(p->engine->EndCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("BYE received"), kEventMs);
        QTRY_VERIFY(!p->engine->IsLineBusy(0));
        QTest::qWait(200);
        QVERIFY(!p->log->hasName("CallHungUp") && !p->log->hasName("CallFailed")); // ours is not the far end's

        // The far end that hangs up by itself.
        p->log->clear();
        QVERIFY(p->place(1, BedNumber::HangUp));
        QVERIFY(p->waitFor("CallHungUp(1)"));
        QVERIFY2(p->log->names().filter("Call") == (QStringList{"CallConnecting", "CallConnected", "CallHungUp"}),
                 qPrintable(p->log->texts().join(" | ")));
        QVERIFY(!p->engine->IsLineBusy(1));
        QCOMPARE(p->log->offThreadCount(), 0);
    }

    void finalResponses_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("event");
        QTest::newRow("486") << BedNumber::Busy << "RequestFailureResponse(0, 486, Busy Here)";
        QTest::newRow("500") << BedNumber::ServerError << "ServerFailureResponse(0, 500, Server Internal Error)";
        QTest::newRow("603") << BedNumber::Decline << "GlobalFailureResponse(0, 603, Decline)";
    }
    void finalResponses() {
        QFETCH(QString, number);
        QFETCH(QString, event);
        Phone* p = phone(Account1001);
        QVERIFY(p);
        p->log->clear();
        QVERIFY(p->place(0, number));
        QVERIFY(p->waitFor("CallFailed(0)"));
        const QStringList texts = p->log->texts();
        QVERIFY2(texts.first() == QStringLiteral("CallConnecting(0)"), qPrintable(texts.join(" | ")));
        QVERIFY2(texts.indexOf(event) >= 0 && texts.indexOf(event) < texts.indexOf("CallFailed(0)"),
                 qPrintable(texts.join(" | ")));
        QVERIFY(!p->engine->IsLineBusy(0));
    }

    void holdAndResume() {
        Phone* p = phone(Account1001);
        QVERIFY(p && p->callAnswer());
        // The far end's DTMF INFO is answered before the hold starts (a re-INVITE of ours in flight
        // would make the phone answer the INFO with 491, which the far end treats as an error).
        QVERIFY(p->waitFor("DtmfDigitReceived(0, 5)"));
        const int holdsBefore = int(m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("a=recvonly"));
        QVERIFY(p->engine->HoldCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("REINVITE sendonly"), kEventMs);
        QTRY_VERIFY(p->engine->IsLineOnHold(0));
        // The far end's answer to the hold has to arrive before a resume is taken.
        QTRY_VERIFY2(m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("a=recvonly") >= holdsBefore + 1,
                     qPrintable(m_bed->farEndLog(SipTestBed::FarEnd::Answer)));
        QTest::qWait(100);
        QVERIFY(p->engine->ResumeCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("REINVITE sendrecv"), kEventMs);
        QTRY_VERIFY2(!p->engine->IsLineOnHold(0), qPrintable(m_bed->farEndLog(SipTestBed::FarEnd::Answer)));

        QVERIFY(p->engine->EndCall(0));
    }

    void twoEnginesHearEachOther() {
        Phone* a = phone(Account1001, tone(500));
        Phone* b = phone(Account1002, tone(1500));
        QVERIFY(a && b);
        QVERIFY(a->place(0, Account1002.user));
        QVERIFY(b->waitForName("IncomingCall"));
        const QString callId = b->log->first("IncomingCall").at(0).toString();
        QVERIFY(b->log->has(QStringLiteral("IncomingCall(%1, 0, 1001, Agent 1001, 1002)").arg(callId)));
        QVERIFY(a->waitFor("ProvisionalResponse(0, 180, Ringing)"));
        QVERIFY(b->engine->AnswerCall(0, callId, -1, -1));
        QVERIFY(a->connected(0, Account1002.user));
        QVERIFY(b->waitForName("CallConnected"));

        // Each side records the call: it holds the other side's tone.
        QVERIFY(a->engine->StartRecording(0, 0, false));
        QVERIFY(b->engine->StartRecording(0, 0, false));
        QTest::qWait(2000);
        const QString recA = m_work.filePath("a.wav"), recB = m_work.filePath("b.wav");
        QVERIFY(a->engine->SaveRecording(0, recA));
        QVERIFY(b->engine->SaveRecording(0, recB));
        const double aHearsB = toneLevel(recA, 1500, 300), aQuiet = toneLevel(recA, 1000, 300);
        const double bHearsA = toneLevel(recB, 500, 300), bQuiet = toneLevel(recB, 1000, 300);
        qInfo("A's recording: 1500 Hz %.4f, 1000 Hz %.4f; B's recording: 500 Hz %.4f, 1000 Hz %.4f", aHearsB, aQuiet,
              bHearsA, bQuiet);
        QVERIFY(aHearsB > 0.02 && aHearsB > 10 * aQuiet);
        QVERIFY(bHearsA > 0.02 && bHearsA > 10 * bQuiet);

        // A wave played into A's line is what B hears.
        QVERIFY(a->engine->PlayWaveOpen(0, tone(1000)));
        QVERIFY(a->engine->PlayWaveStart(0, false));
        QTest::qWait(300);
        QVERIFY(b->engine->StopRecording(0));
        b->engine->ResetRecording(0);
        QVERIFY(b->engine->StartRecording(0, 0, false));
        QTest::qWait(1500);
        const QString recB2 = m_work.filePath("b2.wav");
        QVERIFY(b->engine->SaveRecording(0, recB2));
        const double played = toneLevel(recB2, 1000, 200), other = toneLevel(recB2, 700, 200);
        qInfo("B's recording while A plays: 1000 Hz %.4f, 700 Hz %.4f", played, other);
        QVERIFY(played > 0.02 && played > 10 * other);
        QVERIFY(a->engine->PlayWaveStop(0));

        // A hangs up: B sees the far end hang up.
        QVERIFY(a->engine->EndCall(0));
        QVERIFY(b->waitFor("CallHungUp(0)"));
        QVERIFY(!a->log->hasName("CallHungUp"));
    }

    void doNotDisturbAndForwarding() {
        Phone* a = phone(Account1001);
        Phone* b = phone(Account1002);
        QVERIFY(a && b);
        b->engine->DndOn();
        QVERIFY(a->place(0, Account1002.user));
        QVERIFY(a->waitFor("CallFailed(0)"));
        QCOMPARE(a->log->first("RequestFailureResponse").value(1).toInt(), 486);
        QVERIFY(!b->log->hasName("IncomingCall"));

        b->engine->DndOff();
        QVERIFY(b->engine->ForwardCalls(true, BedNumber::Answer));
        const auto invitesToAnswer = [this] {
            return m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("INVITE sip:" + BedNumber::Answer + "@");
        };
        const qsizetype before = invitesToAnswer();
        a->log->clear();
        QVERIFY(a->place(0, Account1002.user));
        QVERIFY(a->waitForName("CallConnected"));
        QVERIFY(!b->log->hasName("IncomingCall"));
        QCOMPARE(invitesToAnswer(), before + 1); // the caller followed B's redirect to the far end
        QVERIFY(a->engine->EndCall(0));
    }

    void chatAndPresenceBothWays() {
        Phone* a = phone(Account1001);
        Phone* b = phone(Account1002);
        QVERIFY(a && b);
        QVERIFY(a->engine->ChatAddContact(Account1002.user));
        QVERIFY(b->engine->ChatAddContact(Account1001.user));
        QVERIFY(a->engine->ChatSendMessage(Account1002.user, QStringLiteral("hello from 1001 – ünïcode"), 0, 0));
        QVERIFY(b->waitFor(QStringLiteral("ChatMessageReceived(1001, hello from 1001 – ünïcode)")));
        QVERIFY(b->engine->ChatSendMessage(Account1001.user, QStringLiteral("hi 1001"), 0, 0));
        QVERIFY(a->waitFor("ChatMessageReceived(1002, hi 1001)"));

        QVERIFY(b->engine->ChatSetStatus(Presence::Away));
        QVERIFY(a->waitFor(QStringLiteral("ChatContactStatus(1002, %1)").arg(Presence::Away)));
        QVERIFY(a->engine->ChatSetStatus(Presence::OnThePhone));
        QVERIFY(b->waitFor(QStringLiteral("ChatContactStatus(1001, %1)").arg(Presence::OnThePhone)));
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphone_engine.moc"
