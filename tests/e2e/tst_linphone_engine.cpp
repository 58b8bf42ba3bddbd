// The real engine against the loopback test bed: registration, calls and their outcomes, DTMF,
// hold, transfer, two engines calling each other with audio checked in the recordings, chat,
// presence, do-not-disturb and forwarding.

#include "engine/linphone/EngineRules.h"
#include "engine/linphone/LinphoneEngine.h"
#include "support/E2eFixtures.h"
#include "support/EngineEventLog.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using namespace corvid;
using namespace corvid::test;
namespace Presence = corvid::engine_rules::Presence;

namespace {

constexpr int kEventMs = 8000;

struct Phone {
    std::unique_ptr<LinphoneEngine> engine;
    std::unique_ptr<EngineEventLog> log;
    int sipPort = 0;
};

} // namespace

class TestLinphoneEngine : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;
    OwnedTempDir m_work{QStringLiteral("corvid-e2e-")};
    // Started before any engine: the sound library looks for its sound server once per process.
    std::unique_ptr<NullSoundCard> m_soundCard;
    QList<Phone*> m_phones;
    int m_phoneCounter = 0;

    QString tone(int hz) const { return m_work.filePath(QStringLiteral("tone%1.wav").arg(hz)); }

    // A started engine for account (lines opened on free RTP ports), registered unless told not to.
    Phone* phone(const BedAccount& account, const QString& playFile = QString(), bool registerIt = true,
                 const QString& password = QString(), bool captureSound = false) {
        auto* p = new Phone;
        m_phones << p;
        LinphoneEngine::Options options;
        options.dataDir = m_work.filePath(QStringLiteral("engine%1").arg(++m_phoneCounter));
        options.outboundProxy = m_bed->proxyAddress();
        options.playFile = playFile;
        p->engine = std::make_unique<LinphoneEngine>(options);
        p->log = std::make_unique<EngineEventLog>(p->engine.get());
        QString addr;
        for (int attempt = 0; attempt < 5 && !p->sipPort; ++attempt) {
            const int port = freeUdpPort();
            if (p->engine->EngineStart(false, addr, port, account.user, account.user,
                                       password.isEmpty() ? account.password : password, "Agent " + account.user,
                                       m_bed->domain(), m_bed->domain(), QString(), captureSound, 2))
                p->sipPort = port;
        }
        if (!p->sipPort) {
            qWarning("EngineStart failed: %d", p->engine->LastErrorCode());
            return nullptr;
        }
        for (int line = 0; line < 2; ++line) {
            bool opened = false;
            for (int attempt = 0; attempt < 5 && !opened; ++attempt)
                opened = p->engine->OpenLine(line, false, addr, freeUdpPort(2));
            if (!opened) return nullptr;
        }
        p->engine->EchoCancelOff(); // it would cut the steady test tones into bursts
        p->engine->DeselectAllCodecs();
        p->engine->EnableCodec(Codec::G711U);
        p->engine->EnableCodec(Codec::G711A);
        if (registerIt) {
            if (!p->engine->RegisterToProxy(60)) return nullptr;
            if (!QTest::qWaitFor([p] { return p->log->hasName("RegisterSucceeded"); }, kEventMs)) return nullptr;
        }
        return p;
    }

    static bool waitFor(Phone* p, const QString& text, int ms = kEventMs) {
        const bool seen = QTest::qWaitFor([&] { return p->log->has(text); }, ms);
        if (!seen) qWarning("no %s; events: %s", qPrintable(text), qPrintable(p->log->texts().join(" | ")));
        return seen;
    }
    static bool waitForName(Phone* p, const QString& name, int ms = kEventMs) {
        const bool seen = QTest::qWaitFor([&] { return p->log->hasName(name); }, ms);
        if (!seen) qWarning("no %s; events: %s", qPrintable(name), qPrintable(p->log->texts().join(" | ")));
        return seen;
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

    void cleanup() {
        for (Phone* p : m_phones) {
            if (p->engine) p->engine->EngineStop();
            QTest::qWait(0);
            delete p;
        }
        m_phones.clear();
    }

    void cleanupTestCase() {
        QList<qint64> pids = m_bed->processIds();
        if (m_soundCard) pids << m_soundCard->pid();
        m_soundCard.reset();
        m_bed.reset();
        for (qint64 pid : pids)
            QVERIFY(!processGroupAlive(pid));
    }

    void registersAndUnregistersOnStop() {
        Phone* p = phone(Account1001, QString(), false);
        QVERIFY(p);
        QVERIFY(p->engine->RegisterToProxy(60));
        QVERIFY(p->log->texts().isEmpty()); // events never arrive inside the operation
        QVERIFY(waitForName(p, "RegisterSucceeded"));
        QCOMPARE(p->log->names(), (QStringList{"RegisterTrying", "RegisterSucceeded"}));
        const QStringList contacts = m_bed->locationContacts(Account1001.user);
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().contains(QStringLiteral(":%1").arg(p->sipPort)), qPrintable(contacts.first()));

        p->engine->EngineStop();
        QVERIFY(waitForName(p, "UnregisterSucceeded"));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->locationContacts(Account1001.user).isEmpty(), kEventMs);
        QCOMPARE(p->log->offThreadCount(), 0);
    }

    void wrongPasswordIsForbidden() {
        Phone* p = phone(Account1001, QString(), false, QStringLiteral("secret1002"));
        QVERIFY(p);
        QVERIFY(p->engine->RegisterToProxy(60));
        QVERIFY(waitFor(p, "RegisterFailed(403, Forbidden)"));
        QVERIFY(!p->log->hasName("RegisterSucceeded"));
        QVERIFY(m_bed->locationContacts(Account1001.user).isEmpty());
    }

    void sipPortInUse() {
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress::LocalHost, 0));
        LinphoneEngine::Options options;
        options.dataDir = m_work.filePath(QStringLiteral("busyport"));
        options.outboundProxy = m_bed->proxyAddress();
        LinphoneEngine engine(options);
        QString addr;
        QVERIFY(!engine.EngineStart(false, addr, taken.localPort(), "1001", "1001", "secret1001", "A", m_bed->domain(),
                                    m_bed->domain(), QString(), false, 2));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::PortInUse));
        QVERIFY(!engine.isStarted());
    }

    void answeredCallWithDtmfAndLocalHangUp() {
        Phone* p = phone(Account1001);
        QVERIFY(p);
        p->log->clear();
        QString number = BedNumber::Answer;
        QVERIFY(p->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(p->log->texts().isEmpty());
        QVERIFY(p->engine->IsLineBusy(0));
        QVERIFY(waitForName(p, "CallConnected"));
        const QStringList names = p->log->names();
        QVERIFY2(names.mid(0, 3) == (QStringList{"CallConnecting", "ProvisionalResponse", "CallConnected"}),
                 qPrintable(p->log->texts().join(" | ")));
        QVERIFY(p->log->has("ProvisionalResponse(0, 180, Ringing)"));
        const QVariantList connected = p->log->first("CallConnected");
        QCOMPARE(connected.at(0).toInt(), 0);
        QVERIFY2(connected.at(1).toString().contains(BedNumber::Answer), qPrintable(connected.at(1).toString()));
        QCOMPARE(connected.at(2).toInt(), int(Codec::G711U));
        // The far end sends the digit 5 by SIP INFO right after the answer.
        QVERIFY(waitFor(p, "DtmfDigitReceived(0, 5)"));
        // Our digit goes out as RTP telephone-event; the far end echoes the RTP back.
        QVERIFY(p->engine->SendDtmfDigit(0, "7"));
        QVERIFY(waitFor(p, "DtmfDigitReceived(0, 7)"));

        QVERIFY(p->engine->EndCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("BYE received"), kEventMs);
        QTRY_VERIFY(!p->engine->IsLineBusy(0));
        QTest::qWait(200);
        QVERIFY(!p->log->hasName("CallHungUp")); // our own hang-up is not the far end's
        QVERIFY(!p->log->hasName("CallFailed"));
    }

    void farEndHangsUp() {
        Phone* p = phone(Account1001);
        QVERIFY(p);
        p->log->clear();
        QString number = BedNumber::HangUp;
        QVERIFY(p->engine->PlaceCall(1, number, -1, -1));
        QVERIFY(waitFor(p, "CallHungUp(1)"));
        QVERIFY2(p->log->names().filter("Call") == (QStringList{"CallConnecting", "CallConnected", "CallHungUp"}),
                 qPrintable(p->log->texts().join(" | ")));
        QVERIFY(!p->engine->IsLineBusy(1));
    }

    void finalResponses_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("event");
        QTest::newRow("486") << BedNumber::Busy << "RequestFailureResponse(0, 486, Busy Here)";
        QTest::newRow("404") << BedNumber::NotFound << "RequestFailureResponse(0, 404, Not Found)";
        QTest::newRow("480") << BedNumber::Unavailable << "RequestFailureResponse(0, 480, Temporarily Unavailable)";
        QTest::newRow("500") << BedNumber::ServerError << "ServerFailureResponse(0, 500, Server Internal Error)";
        QTest::newRow("580") << BedNumber::Precondition << "ServerFailureResponse(0, 580, Precondition Failure)";
        QTest::newRow("603") << BedNumber::Decline << "GlobalFailureResponse(0, 603, Decline)";
        QTest::newRow("nobody registered") << Account1002.user << "RequestFailureResponse(0, 404, Not Found)";
    }
    void finalResponses() {
        QFETCH(QString, number);
        QFETCH(QString, event);
        Phone* p = phone(Account1001);
        QVERIFY(p);
        p->log->clear();
        QVERIFY(p->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(waitFor(p, "CallFailed(0)"));
        const QStringList texts = p->log->texts();
        QVERIFY2(texts.first() == QStringLiteral("CallConnecting(0)"), qPrintable(texts.join(" | ")));
        QVERIFY2(texts.indexOf(event) >= 0 && texts.indexOf(event) < texts.indexOf("CallFailed(0)"),
                 qPrintable(texts.join(" | ")));
        QVERIFY(!p->log->hasName("CallConnected"));
        QVERIFY(!p->engine->IsLineBusy(0));
        // The line takes the next call.
        QString again = BedNumber::Busy;
        QVERIFY(p->engine->PlaceCall(0, again, -1, -1));
        QVERIFY(QTest::qWaitFor([&] { return p->log->texts().count("CallFailed(0)") == 2; }, kEventMs));
    }

    void holdResumeAndTransfer() {
        Phone* p = phone(Account1001);
        QVERIFY(p);
        QString number = BedNumber::Answer;
        QVERIFY(p->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(waitForName(p, "CallConnected"));
        // The far end's DTMF INFO is answered before the hold starts (a re-INVITE of ours in flight
        // would make the phone answer the INFO with 491, which the far end treats as an error).
        QVERIFY(waitFor(p, "DtmfDigitReceived(0, 5)"));
        const int holdsBefore = int(m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("a=recvonly"));
        QVERIFY(p->engine->HoldCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("REINVITE sendonly"), kEventMs);
        QTRY_VERIFY(p->engine->IsLineOnHold(0));
        // The far end's answer to the hold has to arrive before a resume is taken.
        QTRY_VERIFY2(m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("a=recvonly") >= holdsBefore + 1,
                     qPrintable(m_bed->farEndErrors(SipTestBed::FarEnd::Answer).left(700)));
        QTest::qWait(100);
        QVERIFY(p->engine->ResumeCall(0));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("REINVITE sendrecv"), kEventMs);
        QTRY_VERIFY2(!p->engine->IsLineOnHold(0), qPrintable(m_bed->farEndErrors(SipTestBed::FarEnd::Answer).left(900) +
                                                             m_bed->farEndLog(SipTestBed::FarEnd::Answer)));

        QVERIFY(p->engine->TransferCall(0, "9002"));
        QVERIFY(waitFor(p, "TransferAccepted(0)"));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains("REFER-TO"), kEventMs);
        const QString log = m_bed->farEndLog(SipTestBed::FarEnd::Answer);
        const QString referTo = log.mid(log.lastIndexOf("REFER-TO")).section('\n', 0, 0);
        QVERIFY2(referTo.contains("sip:9002@" + m_bed->domain()), qPrintable(referTo));
        // The transferred call ends by itself, and that end is not a far-end hang-up.
        QTRY_VERIFY_WITH_TIMEOUT(!p->engine->IsLineBusy(0), kEventMs);
        QTest::qWait(200);
        QVERIFY(!p->log->hasName("CallHungUp"));
    }

    void twoEnginesHearEachOther() {
        Phone* a = phone(Account1001, tone(500));
        Phone* b = phone(Account1002, tone(1500));
        QVERIFY(a && b);
        QString number = Account1002.user;
        QVERIFY(a->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(waitForName(b, "IncomingCall"));
        const QVariantList incoming = b->log->first("IncomingCall");
        const QString callId = incoming.at(0).toString();
        QVERIFY(!callId.isEmpty());
        QCOMPARE(incoming.at(1).toString(), QStringLiteral("0"));
        QCOMPARE(incoming.at(2).toString(), Account1001.user);
        QCOMPARE(incoming.at(3).toString(), QStringLiteral("Agent 1001"));
        QCOMPARE(incoming.at(4).toString(), Account1002.user);
        QVERIFY(a->log->has("ProvisionalResponse(0, 180, Ringing)") ||
                waitFor(a, "ProvisionalResponse(0, 180, Ringing)"));
        QVERIFY(b->engine->AnswerCall(0, callId, -1, -1));
        QVERIFY(waitForName(a, "CallConnected"));
        QVERIFY(waitForName(b, "CallConnected"));

        // Each side records the call: it holds the other side's tone.
        QVERIFY(a->engine->StartRecording(0, 0, false));
        QVERIFY(b->engine->StartRecording(0, 0, false));
        QTest::qWait(2000);
        const QString recA = m_work.filePath("a.wav"), recB = m_work.filePath("b.wav");
        QVERIFY(a->engine->SaveRecording(0, recA));
        QVERIFY(b->engine->SaveRecording(0, recB));
        QVERIFY2(waveDurationMs(recA) >= 1000, qPrintable(QString::number(waveDurationMs(recA))));
        const double aHearsB = toneLevel(recA, 1500, 300), aQuiet = toneLevel(recA, 1000, 300);
        const double bHearsA = toneLevel(recB, 500, 300), bQuiet = toneLevel(recB, 1000, 300);
        qInfo("A's recording: 1500 Hz %.4f, 1000 Hz %.4f; B's recording: 500 Hz %.4f, 1000 Hz %.4f", aHearsB, aQuiet,
              bHearsA, bQuiet);
        QVERIFY(aHearsB > 0.02 && aHearsB > 10 * aQuiet);
        QVERIFY(bHearsA > 0.02 && bHearsA > 10 * bQuiet);

        // A wave played into A's line is what B hears.
        QVERIFY(a->engine->PlayWaveOpen(0, tone(1000)));
        QVERIFY(a->engine->PlayWaveStart(0, false));
        QVERIFY(a->engine->IsLinePlayingWave(0));
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
        QVERIFY(waitFor(b, "CallHungUp(0)"));
        QVERIFY(!a->log->hasName("CallHungUp"));
    }

    void doNotDisturbAndForwarding() {
        Phone* a = phone(Account1001);
        Phone* b = phone(Account1002);
        QVERIFY(a && b);
        b->engine->DndOn();
        QString number = Account1002.user;
        QVERIFY(a->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(waitFor(a, "CallFailed(0)"));
        const QVariantList busy = a->log->first("RequestFailureResponse");
        QCOMPARE(busy.value(1).toInt(), 486);
        QCOMPARE(busy.value(2).toString().toLower(), QStringLiteral("busy here"));
        QVERIFY(!b->log->hasName("IncomingCall"));

        b->engine->DndOff();
        QVERIFY(b->engine->ForwardCalls(true, BedNumber::Answer));
        const auto invitesToAnswer = [this] {
            return m_bed->farEndMessages(SipTestBed::FarEnd::Answer).count("INVITE sip:" + BedNumber::Answer + "@");
        };
        const qsizetype before = invitesToAnswer();
        a->log->clear();
        number = Account1002.user;
        QVERIFY(a->engine->PlaceCall(0, number, -1, -1));
        QVERIFY(waitForName(a, "CallConnected"));
        QVERIFY(!b->log->hasName("IncomingCall"));
        QCOMPARE(invitesToAnswer(), before + 1); // the caller followed B's redirect to the far end
        QVERIFY(a->engine->EndCall(0));
    }

    void callThroughNullSoundCard() {
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        NullSoundCard card;
        QVERIFY2(card.start(), qPrintable(card.errorString()));
        card.applyToEnvironment();
        Phone* p = phone(Account1001, QString(), true, QString(), true);
        QVERIFY(p);
        QVERIFY(!p->engine->usesSoundFiles());
        QVERIFY(p->engine->InputDeviceCount() >= 1);
        QVERIFY(p->engine->OutputDeviceCount() >= 1);
        QString number = BedNumber::Answer;
        QVERIFY(p->engine->PlaceCall(0, number, 0, 0));
        QVERIFY(waitForName(p, "CallConnected"));
        QVERIFY(p->engine->EndCall(0));
        QTRY_VERIFY(!p->engine->IsLineBusy(0));
        cleanup(); // the engine lets go of the sound server before it stops
    }

    void chatAndPresenceBothWays() {
        Phone* a = phone(Account1001);
        Phone* b = phone(Account1002);
        QVERIFY(a && b);
        QVERIFY(a->engine->ChatAddContact(Account1002.user));
        QVERIFY(b->engine->ChatAddContact(Account1001.user));
        QVERIFY(a->engine->ChatSendMessage(Account1002.user, QStringLiteral("hello from 1001 – ünïcode"), 0, 0));
        QVERIFY(waitFor(b, QStringLiteral("ChatMessageReceived(1001, hello from 1001 – ünïcode)")));
        QVERIFY(b->engine->ChatSendMessage(Account1001.user, QStringLiteral("hi 1001"), 0, 0));
        QVERIFY(waitFor(a, "ChatMessageReceived(1002, hi 1001)"));

        QVERIFY(b->engine->ChatSetStatus(Presence::Away));
        QVERIFY(waitFor(a, QStringLiteral("ChatContactStatus(1002, %1)").arg(Presence::Away)));
        QVERIFY(a->engine->ChatSetStatus(Presence::OnThePhone));
        QVERIFY(waitFor(b, QStringLiteral("ChatContactStatus(1001, %1)").arg(Presence::OnThePhone)));
        QVERIFY(b->engine->ChatSetStatus(Presence::Online));
        QVERIFY(waitFor(a, QStringLiteral("ChatContactStatus(1002, %1)").arg(Presence::Online)));
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphone_engine.moc"
