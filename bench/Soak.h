#pragma once
// The soak of corvid-app-bench (--soak N): N calls placed through dial files into the window online
// on the loopback test bed, with recordAll on, in a fixed mix of four kinds:
//   answered, then ended by an end file (9001xxxxxx: the far end that echoes);
//   answered, then hung up by the far end (9100xxxxxx);
//   busy (9486xxxxxx: 486 Busy Here), hung up by the busy reaction;
//   not found (555xxxxxxx: nobody registered, 404 Not Found), hung up by the bad-number reaction.
// Each call is awaited to its row. At the end the call log's rows, the valid recordings in
// messages/ and the automation journal's lines are counted against what was asked for (every call
// one row; every answered call one recording; every dial and end file one journal line), and the
// resident size at call 100 and at the end is printed. Goals: nothing lost, and at most 2 MiB of
// growth from call 100 to call 1,000 (for a shorter run, its growth scaled to 900 calls).

#include "BenchCommon.h"
#include "ProcStats.h"
#include "dialer/Automation.h"
#include "engine/WaveFile.h"
#include "engine/linphone/LinphoneEngine.h"
#include "integrations/PbxPage.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace corvid::bench {

constexpr double kSoakGrowthGoalMiB = 2.0;

inline qsizetype soakLineCount(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count("\r\n") : 0;
}

// Drops an empty request file into the folder the way the README asks: written, then renamed in.
inline bool soakDrop(const QString& folder, const QString& name) {
    const QString temp = folder + QStringLiteral("/.") + name + QStringLiteral(".tmp");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.close();
    return QFile::rename(temp, folder + QLatin1Char('/') + name);
}

inline int runSoak(int calls) {
    using namespace corvid::test;
    SipTestBed::Options bedOptions;
    bedOptions.hangUpAfterMs = 1500;
    SipTestBed bed(bedOptions);
    if (!bed.start()) {
        std::fprintf(stderr, "test bed: %s\n", qPrintable(bed.errorString()));
        return 2;
    }
    MainFormFixture fixture;
    const QString provider = SipTestBed::providerDomain();
    const QString agent = QStringLiteral("Bench Agent");
    fixture.writeSettings(pbxAgentSettings(Account1001.user, Account1001.password, provider, bed.proxyAddress(), agent) +
                          SettingsList{{QStringLiteral("recordAll"), QStringLiteral("True")}});
    LinphoneEngine::Options options;
    options.dataDir = fixture.root().engineDataDir();
    options.outboundProxy = bed.proxyAddress();
    LinphoneEngine engine(options);
    MainForm& window = fixture.create(&engine);
    WindowContext& ctx = window.context();
    Ui::MainForm& ui = fixture.ui();
#ifdef CORVID_WITH_WEBENGINE
    if (ctx.subsystems.pbxPage) ctx.subsystems.pbxPage->setPageLoader([](const QUrl&) {});
#endif
    QStringList log; // the status log's lines since the current call's dial file
    QObject::connect(ui.ListStatusLog->model(), &QAbstractItemModel::rowsInserted, &window,
                     [&](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             log << ui.ListStatusLog->model()->index(row, 0).data().toString();
                     });
    ui.CheckEchoCancel->setChecked(false);
    ui.CheckCaptureSoundDevice->setChecked(false); // no sound card: the engine's silent file is the microphone
    if (!QTest::qWaitFor([&] { return log.contains(QStringLiteral("Ready...")); }, 20000)) {
        std::fprintf(stderr, "the window did not register: %s\n", qPrintable(log.join(QStringLiteral(" | "))));
        return 2;
    }
    ctx.subsystems.automation->setChangeNotices(true);
    ui.autoCheck->setChecked(true);
    std::printf("soak: %d calls through dial files, recordAll on, one kind after the other: answered and ended by "
                "an end file, answered and hung up by the far end, busy, not found\n",
                calls);

    const QString csv = fixture.root().logFile(agent + QStringLiteral("_calllogs.csv"));
    const QString datalink = fixture.root().datalink();
    const QString connected = QStringLiteral("Line- 1: Success to connect.");
    int dialFiles = 0, endFiles = 0, answered = 0, stalled = 0;
    QStringList answeredNumbers;
    long rssAt100 = 0;
    const qint64 started = monotonicMicros();
    for (int i = 0; i < calls; ++i) {
        const int kind = i % 4;
        const QString serial = QStringLiteral("%1").arg(i % 1000000, 6, 10, QLatin1Char('0'));
        const QString number = kind == 0   ? QStringLiteral("9001") + serial
                               : kind == 1 ? QStringLiteral("9100") + serial
                               : kind == 2 ? QStringLiteral("9486") + serial
                                           : QStringLiteral("5550") + serial;
        log.clear();
        if (!soakDrop(datalink, number + QStringLiteral(".dia"))) return 2;
        ++dialFiles;
        if (kind < 2) {
            ++answered;
            answeredNumbers << number;
            if (!QTest::qWaitFor([&] { return log.contains(connected); }, 10000)) {
                std::fprintf(stderr, "call %d (%s) not connected: %s\n", i + 1, qPrintable(number),
                             qPrintable(log.join(QStringLiteral(" | "))));
                ++stalled;
            } else if (kind == 0) {
                runEventLoop(1000);
                if (!soakDrop(datalink, QStringLiteral("hangup.end"))) return 2;
                ++endFiles;
            }
        }
        if (!QTest::qWaitFor([&] { return soakLineCount(csv) >= i + 1 && !engine.IsLineBusy(0); }, 15000)) {
            std::fprintf(stderr, "call %d (%s): no row after 15 s: %s\n", i + 1, qPrintable(number),
                         qPrintable(log.join(QStringLiteral(" | "))));
            ++stalled;
            // The agent ends what is left, so one stuck call does not stop the rest of the soak.
            if (engine.IsLineBusy(0)) ui.BtnHangUp->click();
            (void)QTest::qWaitFor([&] { return !engine.IsLineBusy(0); }, 5000);
        }
        runEventLoop(600); // the status log's clean-up after the call
        if (i + 1 == 100) rssAt100 = rssKiBOf(getpid());
        if ((i + 1) % 100 == 0)
            std::printf("  %d calls, %.0f s, RSS %.1f MiB\n", i + 1, (monotonicMicros() - started) / 1e6,
                        rssKiBOf(getpid()) / 1024.0);
        std::fflush(stdout);
    }
    runEventLoop(2000);
    const long rssEnd = rssKiBOf(getpid());

    const qsizetype rows = soakLineCount(csv);
    int valid = 0, invalid = 0;
    const QDir messages(fixture.root().messages());
    for (const QString& name : messages.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
        WaveInfo wave;
        if (readWaveInfo(messages.filePath(name), &wave) == WaveCheck::Ok && wave.dataBytes > 0)
            ++valid;
        else
            ++invalid;
    }
    QStringList unrecorded;
    for (const QString& number : answeredNumbers)
        if (messages.entryList({number + QStringLiteral("_*.wav")}, QDir::Files).isEmpty()) unrecorded << number;
    if (!unrecorded.isEmpty())
        std::printf("  answered calls without a recording: %s\n", qPrintable(unrecorded.join(QStringLiteral(", "))));
    if (!fixture.fakes.messages.texts().isEmpty())
        std::printf("  message boxes: %s\n", qPrintable(fixture.fakes.messages.texts().join(QStringLiteral(" | "))));
    const QString journal = fixture.root().logFile(QStringLiteral("automation.log"));
    const qsizetype journalLines = soakLineCount(journal) + soakLineCount(journal + QStringLiteral(".1"));

    std::printf("soak of %d calls in %.0f s (%d stalled):\n", calls, (monotonicMicros() - started) / 1e6, stalled);
    std::printf("  CSV rows: %lld of %d\n", static_cast<long long>(rows), calls);
    std::printf("  valid recordings: %d of %d answered calls (%d invalid files)\n", valid, answered, invalid);
    std::printf("  journal lines: %lld of %d requests (%d dial files, %d end files)\n",
                static_cast<long long>(journalLines), dialFiles + endFiles, dialFiles, endFiles);
    bool ok = stalled == 0 && rows == calls && valid == answered && invalid == 0 &&
              journalLines == dialFiles + endFiles;
    std::printf("  nothing lost: %s\n", ok ? "yes" : "NO");
    if (calls > 100) {
        const double growthMiB = (rssEnd - rssAt100) / 1024.0;
        const double per900 = growthMiB * 900.0 / (calls - 100);
        std::printf("  RSS at call 100: %.1f MiB, at the end: %.1f MiB; growth %.2f MiB over %d calls\n",
                    rssAt100 / 1024.0, rssEnd / 1024.0, growthMiB, calls - 100);
        const bool met = per900 <= kSoakGrowthGoalMiB;
        std::printf("  growth from call 100 to call 1,000%s: %.2f MiB (goal <= %.1f MiB)%s\n",
                    calls >= 1000 ? "" : " (scaled)", per900, kSoakGrowthGoalMiB, met ? "" : "  MISSED");
        ok &= met;
    }
    engine.EngineStop();
    QTest::qWait(200);
    std::printf("%s\n", ok ? "goals met" : "goal missed");
    return ok ? 0 : 1;
}

} // namespace corvid::bench
