// The real engine against the loopback test bed: a server error, and two engines
// calling each other with events in order, DTMF both ways, audio checked in the recordings and our
// hang-up. (Hold, do-not-disturb, forwarding and chat are proven through the window against
// the same test bed.)

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

using namespace corvid;
using namespace corvid::test;
using Phone = EnginePhone;

class TestLinphoneEngine : public QObject {
    Q_OBJECT

private:
    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start(SipTestBed::Options{1500})); }
    void cleanup() { m_phones.stopAll(); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // A server error comes as a server failure before the call fails (busy and unknown numbers are
    // proven through the window).
    void serverErrorIsAServerFailure() {
        Phone* p = m_phones.add();
        QVERIFY(p);
        QVERIFY(p->place(0, BedNumber::ServerError));
        QVERIFY(p->waitFor("CallFailed(0)"));
        const QStringList texts = p->log->texts();
        const qsizetype at = texts.indexOf("ServerFailureResponse(0, 500, Server Internal Error)");
        QVERIFY2(at >= 0 && at < texts.indexOf("CallFailed(0)"), qPrintable(texts.join(" | ")));
        QVERIFY(!p->engine->IsLineBusy(0));
    }

    void twoEnginesHearEachOtherAndHangUp() {
        Phone* a = m_phones.add({Account1001, m_run.tone(500)});
        Phone* b = m_phones.add({Account1002, m_run.tone(1500)});
        QVERIFY(a && b);
        a->log->clear();
        QVERIFY(a->place(0, Account1002.user));
        QVERIFY(a->log->texts().isEmpty()); // events never arrive inside the operation
        QVERIFY(b->waitFor("IncomingCall"));
        const QString callId = b->log->first("IncomingCall").at(0).toString();
        QVERIFY(b->log->has(QStringLiteral("IncomingCall(%1, 0, 1001, Agent 1001, 1002)").arg(callId)));
        QVERIFY(a->waitFor("ProvisionalResponse(0, 180, Ringing)"));
        QVERIFY(b->engine->AnswerCall(0, callId, -1, -1));
        QVERIFY(a->connected(0, Account1002.user));
        QCOMPARE(a->log->names().mid(0, 3), (QStringList{"CallConnecting", "ProvisionalResponse", "CallConnected"}));
        QVERIFY(b->waitFor("CallConnected"));

        // Digits go out as RTP telephone-events, each way.
        QVERIFY(a->engine->SendDtmfDigit(0, "7") && b->waitFor("DtmfDigitReceived(0, 7)"));
        QVERIFY(b->engine->SendDtmfDigit(0, "5") && a->waitFor("DtmfDigitReceived(0, 5)"));

        // Each side records the call: it holds the other side's tone.
        QVERIFY(a->engine->StartRecording(0, 0, false) && b->engine->StartRecording(0, 0, false));
        QTest::qWait(2000);
        const QString recA = m_run.work.filePath("a.wav"), recB = m_run.work.filePath("b.wav");
        QVERIFY(a->engine->SaveRecording(0, recA) && b->engine->SaveRecording(0, recB));
        QVERIFY(hearsTone(recA, 1500, 300, 1000));
        QVERIFY(hearsTone(recB, 500, 300, 1000));

        // A hangs up: B sees the far end hang up, A sees no hang-up of its own.
        QVERIFY(a->engine->EndCall(0));
        QVERIFY(b->waitFor("CallHungUp(0)"));
        QTRY_VERIFY(!a->engine->IsLineBusy(0));
        QVERIFY(!a->log->hasName("CallHungUp"));
        QCOMPARE(a->log->offThreadCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphone_engine.moc"
