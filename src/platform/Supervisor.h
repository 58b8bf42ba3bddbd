#pragma once
// The dialer's own watchdog. The program started by the agent (or a session manager) forks at once,
// before anything else: the parent only watches, and the child runs the dialer (the program again,
// re-executed with CORVID_SUPERVISED set). When the child dies by a signal that is not a stop
// (a crash: SIGSEGV, SIGABRT, SIGBUS, SIGKILL from the kernel...), it is started again after
// kRestartDelayMs, with CORVID_RESTARTED saying which signal and when, so the new dialer recovers
// the interrupted call, goes online and says that it restarted.
//
// Not restarted: an exit (a clean close is 0, a second instance refused is 1), and an end by
// SIGTERM, SIGHUP or SIGINT. Those three sent to the watchdog are passed to the dialer, which closes
// as File > exit would, and then both end. The dialer ends with the watchdog (it gets SIGTERM when
// the watchdog dies). At most kMaxRestarts restarts in kRestartWindowS: the next crash leaves it
// down, and a desktop notification (notify-send, when installed) says so. The watchdog ends with
// the dialer's exit code, or 128 + the signal that ended it.
//
// CORVID_NO_SUPERVISOR=1 runs the dialer without the watchdog (a service manager that restarts it
// itself).

#include <QDateTime>
#include <QString>

#include <vector>

namespace corvid::supervisor {

constexpr int kMaxRestarts = 3;
constexpr qint64 kRestartWindowS = 600;
constexpr int kRestartDelayMs = 1000;

// Whether a child ended by this signal is started again (a crash, not a stop).
bool isCrashSignal(int signal);
// Whether another restart is allowed at now, given the times (seconds) of the earlier restarts;
// the ones older than the window are dropped from the list.
bool restartAllowed(std::vector<qint64>& restarts, qint64 now);

// In the program started from outside: forks, watches and restarts the dialer, and answers the
// exit code the program ends with. In the dialer itself (or when the watchdog cannot run): -1, and
// main goes on. Must run before any thread or Qt object exists.
int run(char* argv[]);

// In a dialer started again after a failure: the failure's signal and time (as the watchdog saw
// it). Nothing when it was not restarted. Reads and clears CORVID_RESTARTED.
struct Restart {
    int signal = 0;
    QDateTime when;
};
bool takeRestart(Restart& restart);
// "Segmentation fault (signal 11)"
QString signalText(int signal);

} // namespace corvid::supervisor
