// The real engine against the loopback test bed: an answered call with DTMF both ways and our
// hang-up, the far end's final responses, and two engines calling each other with audio checked in
// the recordings. (Hold, do-not-disturb, forwarding and chat are proven through the window against
// the same test bed.)

#include "support/EnginePhone.h"

#include <QDir>

using namespace corvid;
using namespace corvid::test;
using Phone = EnginePhone;

class TestLinphoneEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
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
        for (int hz : {500, 1500})
            QVERIFY(writeToneWave(tone(hz), hz, 20000));
    }

    void cleanup() { m_phones.stopAll(); }

    void cleanupTestCase() {
        const QList<qint64> pids = m_bed->processIds();
        m_bed.reset();
        for (qint64 pid : pids)
            QVERIFY(!processGroupAlive(pid));
    }

    void answeredCallDtmfAndOurHangUp() {
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
        QCOMPARE(p->log->offThreadCount(), 0);
    }

    void finalResponses_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("event");
        QTest::newRow("486") << BedNumber::Busy << "RequestFailureResponse(0, 486, Busy Here)";
        QTest::newRow("404") << BedNumber::NotFound << "RequestFailureResponse(0, 404, Not Found)";
        QTest::newRow("500") << BedNumber::ServerError << "ServerFailureResponse(0, 500, Server Internal Error)";
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
        QVERIFY2(texts.indexOf(event) >= 0 && texts.indexOf(event) < texts.indexOf("CallFailed(0)"),
                 qPrintable(texts.join(" | ")));
        QVERIFY(!p->engine->IsLineBusy(0));
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

        // A hangs up: B sees the far end hang up.
        QVERIFY(a->engine->EndCall(0));
        QVERIFY(b->waitFor("CallHungUp(0)"));
        QVERIFY(!a->log->hasName("CallHungUp"));
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphone_engine.moc"
