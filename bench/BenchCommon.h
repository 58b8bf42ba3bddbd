#pragma once
// What both benchmark commands measure with: clocks, the event loop alone, and the INVITE arrival
// times read from a sipp far end's message trace.

#include <QDateTime>
#include <QEventLoop>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QString>
#include <QTimer>

#include <ctime>
#include <sys/resource.h>

namespace corvid::bench {

using SettingsList = QList<QPair<QString, QString>>;

// The settings of an agent of the loopback PBX "1234" (account user with password) on the
// provider domain, online through proxy, with the PBX page and the datalink channel on.
inline SettingsList pbxAgentSettings(const QString& user, const QString& password, const QString& provider,
                                     const QString& proxy, const QString& displayName) {
    return {{QStringLiteral("customerNumber"), QStringLiteral("BN1234") + user + password},
            {QStringLiteral("Password"), password},
            {QStringLiteral("Login"), user},
            {QStringLiteral("AuthLogin"), user},
            {QStringLiteral("OutBoundProxy"), QStringLiteral("1234.") + provider},
            {QStringLiteral("SIPProxy"), QStringLiteral("1234.") + provider},
            {QStringLiteral("Mon"), QStringLiteral("True")},
            {QStringLiteral("ProviderDomain"), provider},
            {QStringLiteral("SipOutboundProxy"), proxy},
            {QStringLiteral("DisplayName"), displayName},
            {QStringLiteral("UseSipTapi"), QStringLiteral("True")}};
}

constexpr double kIdleGoalPercent = 0.5;
constexpr double kInviteGoalMs = 20.0;

inline qint64 cpuMicros() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

// Voluntary and involuntary context switches of every thread of the process, ended ones included.
inline qint64 contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_nvcsw) + usage.ru_nivcsw;
}

inline qint64 wallMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline qint64 monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// Arrival times (wall clock, microseconds) of the initial INVITEs to number in a sipp message trace.
inline QList<qint64> inviteArrivals(const QString& trace, const QString& number) {
    QList<qint64> times;
    static const QRegularExpression stamp(
        QStringLiteral("^-+ (\\d{4}-\\d\\d-\\d\\d)[ \\t](\\d\\d:\\d\\d:\\d\\d)\\.(\\d{6})"),
        QRegularExpression::MultilineOption);
    auto it = stamp.globalMatch(trace);
    while (it.hasNext()) {
        const auto m = it.next();
        const qsizetype bodyStart = m.capturedEnd();
        const qsizetype next = trace.indexOf(QStringLiteral("\n-----"), bodyStart);
        const QString entry = trace.mid(bodyStart, next < 0 ? -1 : next - bodyStart);
        if (!entry.contains(QLatin1String("message received")) ||
            !entry.contains(QStringLiteral("\nINVITE sip:%1@").arg(number)))
            continue;
        const QDateTime at = QDateTime::fromString(m.captured(1) + QLatin1Char(' ') + m.captured(2),
                                                   QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        times << at.toMSecsSinceEpoch() * 1000 + m.captured(3).toLongLong();
    }
    return times;
}

// The event loop alone for ms (QTest::qWait would wake every 10 ms and count in the measurement).
inline void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Milliseconds from t0 (wall clock, microseconds) to the arrival of the INVITE to number that came
// after the first `before` ones in trace; -1 when it has not arrived.
inline double inviteLatencyMs(const QString& trace, const QString& number, qsizetype before, qint64 t0) {
    const QList<qint64> arrivals = inviteArrivals(trace, number);
    return arrivals.size() > before ? (arrivals.at(before) - t0) / 1000.0 : -1.0;
}

} // namespace corvid::bench
