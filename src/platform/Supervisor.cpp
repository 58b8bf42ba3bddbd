#include "platform/Supervisor.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef Q_OS_LINUX
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace corvid::supervisor {

namespace {

const char kChildVariable[] = "CORVID_SUPERVISED";
const char kRestartVariable[] = "CORVID_RESTARTED"; // "<signal> <seconds since the epoch>"
const char kOffVariable[] = "CORVID_NO_SUPERVISOR";
const int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT};

#ifdef Q_OS_LINUX
volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stopAsked = 0;

// A stop for the watchdog is a stop for the dialer. One the terminal sent to its foreground group
// (Ctrl+C, a hang-up) has reached the dialer too, and is not sent twice.
void onStopSignal(int signal, siginfo_t* info, void*) {
    g_stopAsked = 1;
    if (g_child > 0 && !(info && info->si_code == SI_KERNEL)) ::kill(pid_t(g_child), signal);
}

void say(const char* text) {
    std::fprintf(stderr, "corvid-dialer: %s\n", text);
}

// The desktop's notification, when notify-send is there; nothing is waited for.
void notifyDesktop(const QByteArray& text) {
    char program[] = "notify-send";
    char urgency[] = "--urgency=critical";
    char title[] = "CorvidDialer stopped";
    QByteArray body = text;
    char* args[] = {program, urgency, title, body.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program, nullptr, nullptr, args, environ) != 0)
        say("no notify-send: no desktop notification");
}

// Sleeps ms unless a stop comes.
void pause(int ms) {
    timespec left{ms / 1000, long(ms % 1000) * 1000000L};
    while (!g_stopAsked && ::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
#endif

} // namespace

bool isCrashSignal(int signal) {
    return std::find(std::begin(kStopSignals), std::end(kStopSignals), signal) == std::end(kStopSignals);
}

bool restartAllowed(std::vector<qint64>& restarts, qint64 now) {
    restarts.erase(
        std::remove_if(restarts.begin(), restarts.end(), [now](qint64 t) { return now - t >= kRestartWindowS; }),
        restarts.end());
    return int(restarts.size()) < kMaxRestarts;
}

QString signalText(int signal) {
    const char* name = ::strsignal(signal);
    return QStringLiteral("%1 (signal %2)").arg(QString::fromLocal8Bit(name ? name : "unknown")).arg(signal);
}

bool takeRestart(Restart& restart) {
    const QByteArray text = qgetenv(kRestartVariable);
    qunsetenv(kRestartVariable);
    const QList<QByteArray> parts = text.split(' ');
    bool signalOk = false, timeOk = false;
    restart.signal = parts.value(0).toInt(&signalOk);
    const qint64 seconds = parts.value(1).toLongLong(&timeOk);
    if (!signalOk || !timeOk || restart.signal <= 0) return false;
    restart.when = QDateTime::fromSecsSinceEpoch(seconds);
    return true;
}

int run(char* argv[]) {
#ifdef Q_OS_LINUX
    if (qEnvironmentVariableIsSet(kChildVariable) || qgetenv(kOffVariable) == "1") return -1;

    struct sigaction action = {};
    action.sa_sigaction = onStopSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);

    const pid_t watchdog = ::getpid();
    std::vector<qint64> restarts;
    QByteArray restartNote;
    for (;;) {
        const pid_t child = ::fork();
        if (child < 0) {
            say("cannot start the dialer under its watchdog; it runs without one");
            for (int signal : kStopSignals)
                ::signal(signal, SIG_DFL);
            return -1;
        }
        if (child == 0) {
            for (int signal : kStopSignals)
                ::signal(signal, SIG_DFL);
            // The dialer ends (closing as by SIGTERM) when its watchdog is gone.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != watchdog) ::raise(SIGTERM);
            ::setenv(kChildVariable, "1", 1);
            if (restartNote.isEmpty())
                ::unsetenv(kRestartVariable);
            else
                ::setenv(kRestartVariable, restartNote.constData(), 1);
            ::execv("/proc/self/exe", argv);
            return -1; // no re-execution: the dialer goes on in this copy of the program
        }
        g_child = child;
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        g_child = 0;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        const int signal = WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL;
        if (g_stopAsked || !isCrashSignal(signal)) return 128 + signal;
        const qint64 now = std::time(nullptr);
        const QByteArray what = signalText(signal).toLocal8Bit();
        if (!restartAllowed(restarts, now)) {
            const QByteArray text = "The dialer ended by " + what + " for the " + QByteArray::number(kMaxRestarts + 1) +
                                    "th time in 10 minutes and was not started again. Start it again by hand.";
            say(text.constData());
            notifyDesktop(text);
            return 128 + signal;
        }
        restarts.push_back(now);
        say(QByteArray("the dialer ended by " + what + "; starting it again").constData());
        restartNote = QByteArray::number(signal) + ' ' + QByteArray::number(now);
        pause(kRestartDelayMs);
        if (g_stopAsked) return 128 + signal;
    }
#else
    Q_UNUSED(argv);
    return -1;
#endif
}

} // namespace corvid::supervisor
