// corvid-bench: resource use and call-setup speed of the real engine over the loopback test bed.
//
//   corvid-bench [--idle-seconds N] [--calls N] [--interval MS]
//
// 1. Starts the test bed (kamailio and the sipp far ends on free loopback ports) and one engine,
//    registered as 1001, pumped by its own timer as in the dialer.
// 2. Idle: the engine's process CPU time over N seconds as a share of one core (goal <= 0.5 %),
//    and its resident memory.
// 3. Call setup: for each call, the time from PlaceCall to the INVITE's arrival at the far end
//    (through the proxy), read from the far end's message trace (goal <= 20 ms). The call is then
//    answered and ended before the next one.
// Exit code 0 when both goals are met, 1 when one is missed, 2 when the bench could not run.

#include "BenchCommon.h"
#include "engine/SipEngine.h"
#include "engine/linphone/LinphoneEngine.h"
#include "testbed/EngineEventLog.h"
#include "testbed/TestBed.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace corvid;
using namespace corvid::test;
using namespace corvid::bench;

namespace {

long rssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Idle CPU, memory and call-setup time of the SIP engine"));
    parser.addHelpOption();
    QCommandLineOption idleOption(QStringLiteral("idle-seconds"), QStringLiteral("Idle measurement length."),
                                  QStringLiteral("N"), QStringLiteral("10"));
    QCommandLineOption callsOption(QStringLiteral("calls"), QStringLiteral("Calls to time."), QStringLiteral("N"),
                                   QStringLiteral("10"));
    QCommandLineOption intervalOption(QStringLiteral("interval"),
                                      QStringLiteral("Engine pump interval in ms (going online sets 30)."),
                                      QStringLiteral("MS"), QStringLiteral("30"));
    parser.addOptions({idleOption, callsOption, intervalOption});
    parser.process(app);
    const int idleSeconds = qMax(1, parser.value(idleOption).toInt());
    const int calls = qMax(1, parser.value(callsOption).toInt());

    SipTestBed bed;
    if (!bed.start()) {
        std::fprintf(stderr, "test bed: %s\n", qPrintable(bed.errorString()));
        return 2;
    }
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/corvid-bench-XXXXXX"));
    LinphoneEngine::Options options;
    options.dataDir = work.filePath(QStringLiteral("engine"));
    options.outboundProxy = bed.proxyAddress();
    LinphoneEngine engine(options);
    EngineEventLog log(&engine);
    QString addr;
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt)
        started =
            engine.EngineStart(false, addr, freeUdpPort(), Account1001.user, Account1001.user, Account1001.password,
                               QStringLiteral("Bench"), bed.domain(), bed.domain(), QString(), false, 2);
    if (!started || !engine.OpenLine(0, false, addr, freeUdpPort(2)) ||
        !engine.OpenLine(1, false, addr, freeUdpPort(2))) {
        std::fprintf(stderr, "engine start failed: %d\n", engine.LastErrorCode());
        return 2;
    }
    // As going online does: codecs, then the pump interval.
    engine.DeselectAllCodecs();
    engine.EnableCodec(Codec::G711U);
    if (!engine.SetEngineInterval(parser.value(intervalOption).toInt())) {
        std::fprintf(stderr, "SetEngineInterval refused: %d\n", engine.LastErrorCode());
        return 2;
    }
    if (!engine.RegisterToProxy(1800) || !waitFor([&] { return log.hasName("RegisterSucceeded"); }, 10000)) {
        std::fprintf(stderr, "registration failed: %s\n", qPrintable(log.texts().join(QStringLiteral(" | "))));
        return 2;
    }
    std::printf("engine registered as 1001 at %s (pump every %d ms)\n", qPrintable(bed.proxyAddress()),
                engine.pumpIntervalMs());

    // --- idle ---------------------------------------------------------------------------------
    runEventLoop(1000); // let the start-up work settle
    const qint64 cpu0 = cpuMicros(), wall0 = monotonicMicros();
    runEventLoop(idleSeconds * 1000);
    const qint64 cpu = cpuMicros() - cpu0, wall = monotonicMicros() - wall0;
    const double idlePercent = 100.0 * double(cpu) / double(wall);
    const long rss = rssKiB();
    std::printf("idle: %.3f %% of one core over %.1f s (%.1f ms CPU; goal <= %.1f %%)\n", idlePercent, wall / 1e6,
                cpu / 1e3, kIdleGoalPercent);
    std::printf("resident memory: %.1f MiB\n", rss / 1024.0);

    // --- PlaceCall to INVITE ------------------------------------------------------------------
    QList<double> latencies;
    QList<double> placeCallMs;
    for (int i = 0; i < calls; ++i) {
        log.clear();
        const int invitesBefore =
            int(inviteArrivals(bed.farEndMessages(SipTestBed::FarEnd::Answer), BedNumber::Answer).size());
        QString number = BedNumber::Answer;
        const qint64 t0 = wallMicros();
        const qint64 m0 = monotonicMicros();
        const bool placed = engine.PlaceCall(0, number, -1, -1);
        placeCallMs << (monotonicMicros() - m0) / 1000.0;
        if (!placed) {
            std::fprintf(stderr, "PlaceCall failed: %d\n", engine.LastErrorCode());
            return 2;
        }
        if (!waitFor([&] { return log.hasName("CallConnected"); }, 10000)) {
            std::fprintf(stderr, "call %d not connected: %s\n", i + 1,
                         qPrintable(log.texts().join(QStringLiteral(" | "))));
            return 2;
        }
        const double latency =
            inviteLatencyMs(bed.farEndMessages(SipTestBed::FarEnd::Answer), BedNumber::Answer, invitesBefore, t0);
        if (latency < 0) {
            std::fprintf(stderr, "call %d: no INVITE in the far end's trace\n", i + 1);
            return 2;
        }
        latencies << latency;
        engine.EndCall(0);
        waitFor([&] { return !engine.IsLineBusy(0); }, 5000);
        QTest::qWait(200);
    }
    std::sort(latencies.begin(), latencies.end());
    std::sort(placeCallMs.begin(), placeCallMs.end());
    const double median = latencies.at(latencies.size() / 2);
    std::printf("PlaceCall to INVITE at the far end (through the proxy), %d calls: min %.2f ms, median %.2f ms, "
                "max %.2f ms (goal <= %.0f ms)\n",
                calls, latencies.first(), median, latencies.last(), kInviteGoalMs);
    std::printf("PlaceCall itself: median %.2f ms, max %.2f ms\n", placeCallMs.at(placeCallMs.size() / 2),
                placeCallMs.last());

    engine.EngineStop();
    QTest::qWait(200);
    const bool ok = idlePercent <= kIdleGoalPercent && median <= kInviteGoalMs;
    std::printf("%s\n", ok ? "goals met" : "goal missed");
    return ok ? 0 : 1;
}
