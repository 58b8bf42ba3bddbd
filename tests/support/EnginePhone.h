#pragma once
// Real engines on the end-to-end test bed: each started on a free SIP port with its two lines on
// free RTP ports, echo cancelling off (it would cut steady test tones into bursts), G.711 only, every
// event recorded, and registered unless told not to.

#include "engine/linphone/LinphoneEngine.h"
#include "testbed/EngineEventLog.h"
#include "testbed/TestBed.h"

#include <QTest>

#include <memory>
#include <vector>

namespace corvid::test {

constexpr int kEventMs = 8000;

struct EnginePhone {
    std::unique_ptr<LinphoneEngine> engine;
    std::unique_ptr<EngineEventLog> log;
    int sipPort = 0;
    QString domain;

    bool place(int line, QString number) { return engine->PlaceCall(line, number, -1, -1); }
    // Waits for line's call to number to connect with G.711 u-law.
    bool connected(int line, const QString& number) const {
        return waitFor(QStringLiteral("CallConnected(%1, sip:%2@%3, 3)").arg(line).arg(number, domain));
    }
    // A call on line to the far end that answers, connected.
    bool callAnswer(int line = 0) { return place(line, BedNumber::Answer) && connected(line, BedNumber::Answer); }
    // Waits for a call to come in on line and answers it.
    bool answer(int line = 0) {
        return waitFor(QStringLiteral("IncomingCall")) &&
               engine->AnswerCall(line, log->first(QStringLiteral("IncomingCall")).value(0).toString(), -1, -1);
    }
    // Waits for an event: what is its whole text ("CallFailed(0)") or only its name ("IncomingCall").
    bool waitFor(const QString& what, int ms = kEventMs) const {
        const bool whole = what.contains(QLatin1Char('('));
        const bool ok = QTest::qWaitFor([&] { return whole ? log->has(what) : log->hasName(what); }, ms);
        if (!ok) qWarning("no %s; events: %s", qPrintable(what), qPrintable(log->texts().join(" | ")));
        return ok;
    }
};

struct PhoneSetup {
    BedAccount account = Account1001;
    QString playFile;
    bool soundCard = false;
    int expiry = 60;
    bool registerIt = true;
    SipSecurity security{}; // clear UDP and RTP unless set
};

// Owns the phones of one test function; stopAll() (from the test's cleanup()) stops and drops them.
class EnginePhones {
public:
    EnginePhones(const std::unique_ptr<SipTestBed>& bed, const QTemporaryDir& work) : m_bed(bed), m_work(work) {}

    // nullptr when the engine did not start, a line did not open or the registration failed.
    EnginePhone* add(const PhoneSetup& setup = {}) {
        auto& p = m_phones.emplace_back(std::make_unique<EnginePhone>());
        LinphoneEngine::Options options;
        options.dataDir = m_work.filePath(QStringLiteral("engine%1").arg(++m_counter));
        options.outboundProxy = m_bed->proxyAddress();
        options.playFile = setup.playFile;
        options.security = setup.security;
        p->engine = std::make_unique<LinphoneEngine>(options);
        p->log = std::make_unique<EngineEventLog>(p->engine.get());
        p->domain = m_bed->domain();
        const BedAccount& a = setup.account;
        QString address;
        for (int attempt = 0; attempt < 5 && !p->sipPort; ++attempt) {
            const int port = freeUdpPort();
            if (p->engine->EngineStart(false, address, port, a.user, a.user, a.password, "Agent " + a.user,
                                       m_bed->domain(), m_bed->domain(), QString(), setup.soundCard, 2))
                p->sipPort = port;
        }
        if (!p->sipPort) return nullptr;
        for (int line = 0; line < 2; ++line) {
            bool opened = false;
            for (int attempt = 0; attempt < 5 && !opened; ++attempt)
                opened = p->engine->OpenLine(line, false, address, freeUdpPort(2));
            if (!opened) return nullptr;
        }
        p->engine->EchoCancelOff();
        p->engine->DeselectAllCodecs();
        p->engine->EnableCodec(Codec::G711U);
        p->engine->EnableCodec(Codec::G711A);
        if (setup.registerIt &&
            (!p->engine->RegisterToProxy(setup.expiry) || !p->waitFor(QStringLiteral("RegisterSucceeded()"))))
            return nullptr;
        return p.get();
    }

    void stopAll() {
        for (auto& p : m_phones)
            p->engine->EngineStop();
        QTest::qWait(0);
        m_phones.clear();
    }

private:
    const std::unique_ptr<SipTestBed>& m_bed;
    const QTemporaryDir& m_work;
    std::vector<std::unique_ptr<EnginePhone>> m_phones;
    int m_counter = 0;
};

} // namespace corvid::test
