#pragma once
// The PBX-load mode of corvid-app-bench: what idle agents cost the PBX.
//
// 1. One agent: the real window, online and registered as 1001 with the settings' defaults, idle
//    for N seconds (default 600). The loopback PBX logs every request it receives with its method
//    and source port; the bench counts the agent's by method and per agent-hour.
// 2. Many seats: M engines (default 50) in this one process, accounts 1001.., each with the same
//    keep-alive and registrar-check defaults as the window (SipSecurity), registered, idle for the
//    same N seconds, counted the same way, all together and per agent-hour.
// Goal: at most 60 requests to the PBX per agent-hour while idle. Keep-alives (STUN binding requests
// on UDP, which the PBX answers, or CRLF) cost the PBX no transaction and are not logged by it: they
// are not counted as requests; the STUN answers, each a check of the registrar, are said apart.

#include "BenchCommon.h"
#include "engine/linphone/LinphoneEngine.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include "phone/OnlineControl.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace corvid::bench::pbxload {

using corvid::test::MainFormFixture;
using corvid::test::SipTestBed;

constexpr double kRequestsPerHourGoal = 60.0;

// Requests in the proxy's log from offset on, by method, of the given source ports.
inline QMap<QString, int> requestsByMethod(const QString& log, qsizetype from, const QSet<int>& ports) {
    static const QRegularExpression line(QStringLiteral("REQ (\\S+) \\S+ from [0-9.]+:(\\d+)"));
    QMap<QString, int> counts;
    auto it = line.globalMatch(log.mid(from));
    while (it.hasNext()) {
        const auto m = it.next();
        if (ports.contains(m.captured(2).toInt())) ++counts[m.captured(1)];
    }
    return counts;
}

// Prints the counts; answers whether the total per agent-hour meets the goal.
inline bool report(const char* who, const QMap<QString, int>& counts, int agents, int seconds) {
    int total = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        total += it.value();
    const double perHour = total * 3600.0 / seconds / agents;
    std::printf("%s: %d requests in %d s from %d agent(s)\n", who, total, seconds, agents);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        std::printf("  %-10s %6d  (%.1f per agent-hour)\n", qPrintable(it.key()), it.value(),
                    it.value() * 3600.0 / seconds / agents);
    const bool ok = perHour <= kRequestsPerHourGoal;
    std::printf("  all        %6d  (%.1f per agent-hour; goal <= %.0f) %s\n", total, perHour, kRequestsPerHourGoal,
                ok ? "ok" : "MISSED");
    return ok;
}

// Agent 1001 of the bed in the fixture's root, as the window's benches run it; the engine's options
// for that root (its data folder, the bed's proxy).
inline corvid::LinphoneEngine::Options writeBenchAgent(MainFormFixture& fixture, const SipTestBed& bed) {
    fixture.writeSettings(pbxAgentSettings(test::Account1001.user, test::Account1001.password,
                                           SipTestBed::providerDomain(), bed.proxyAddress(),
                                           QStringLiteral("Bench Agent")));
    corvid::LinphoneEngine::Options options;
    options.dataDir = fixture.root().engineDataDir();
    options.outboundProxy = bed.proxyAddress();
    return options;
}

inline int run(int seconds, int seats) {
    SipTestBed bed;
    if (!bed.start()) {
        std::fprintf(stderr, "test bed: %s\n", qPrintable(bed.errorString()));
        return 2;
    }
    bool ok = true;
    {
        MainFormFixture fixture;
        LinphoneEngine engine(writeBenchAgent(fixture, bed));
        MainForm& window = fixture.create(&engine);
        Ui::MainForm& ui = fixture.ui();
        const auto ready = [&] {
            return ui.ListStatusLog->count() > 0 && ui.ListStatusLog->item(0)->text() == QStringLiteral("Ready...");
        };
        if (!QTest::qWaitFor(ready, 20000)) {
            std::fprintf(stderr, "the window did not register\n");
            return 2;
        }
        const int port = window.context().subsystems.online->sipPort();
        const qsizetype from = bed.proxyLog().size();
        runEventLoop(seconds * 1000);
        ok = report("one idle agent (the window)", requestsByMethod(bed.proxyLog(), from, {port}), 1, seconds) && ok;
        std::printf("  registrar checks by the STUN keep-alive (no request): %d answered\n",
                    engine.registrarKeepAliveAnswers());
    }

    QTemporaryDir work;
    std::vector<std::unique_ptr<LinphoneEngine>> engines;
    QSet<int> ports;
    int registered = 0;
    for (int i = 0; i < seats; ++i) {
        LinphoneEngine::Options options;
        options.dataDir = work.filePath(QStringLiteral("seat%1").arg(i));
        options.outboundProxy = bed.proxyAddress();
        auto engine = std::make_unique<LinphoneEngine>(options);
        QObject::connect(engine.get(), &SipEngine::RegisterSucceeded, [&registered] { ++registered; });
        const QString user = QString::number(1001 + i);
        QString address;
        int port = 0;
        for (int attempt = 0; attempt < 5 && !port; ++attempt) {
            const int candidate = test::freeUdpPort();
            if (engine->EngineStart(false, address, candidate, user, user, QStringLiteral("secret") + user,
                                    QStringLiteral("Seat ") + user, bed.domain(), bed.domain(), QString(), false, 1))
                port = candidate;
        }
        if (!port || !engine->RegisterToProxy(1800)) {
            std::fprintf(stderr, "seat %d did not start\n", i + 1);
            return 2;
        }
        ports.insert(port);
        engines.push_back(std::move(engine));
    }
    if (!QTest::qWaitFor([&] { return registered == seats; }, 60000)) {
        std::fprintf(stderr, "only %d of %d seats registered\n", registered, seats);
        return 2;
    }
    const qsizetype from = bed.proxyLog().size();
    runEventLoop(seconds * 1000);
    const QByteArray who = QByteArray::number(seats) + " idle seats (engines in one process)";
    ok = report(who.constData(), requestsByMethod(bed.proxyLog(), from, ports), seats, seconds) && ok;
    int answers = 0;
    for (const auto& engine : engines)
        answers += engine->registrarKeepAliveAnswers();
    std::printf("  registrar checks by the STUN keep-alive (no request): %d answered\n", answers);
    for (auto& engine : engines)
        engine->EngineStop();
    runEventLoop(500);
    return ok ? 0 : 1;
}

} // namespace corvid::bench::pbxload
