#pragma once
// The seats mode of corvid-app-bench: many agents on one host, as on a terminal server.
//
// N copies of the real program, each with its own install root (account 10NN of the loopback PBX)
// and its own X display (Xvfb), the PBX page shown as at a desk (served by the bench over HTTP on
// loopback). Twice: first without the page (PbxPageEmbedded=False: the page is a link, the web
// engine never loads), then with it. Each round prints the SIP
// port each seat registered from, the idle CPU and context switches of all seats together (their
// web engine helpers included; the X servers' own share apart) and the PSS of each seat. Then each
// agent ticks "Click On" (a click on the box, sent to the seat's display with xdotool) and every seat
// gets a dial file at the same moment; the bench prints when each INVITE reached the far end, from
// the far end's own message trace, counted from the first file dropped.

#include "BenchCommon.h"
#include "ProcStats.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

namespace corvid::bench::seats {

using corvid::test::BedProcess;
using corvid::test::SipTestBed;

constexpr double kSeatsIdleGoalPercent = 5.0; // all seats together, of one core
constexpr double kSeatPssGoalMiB = 60.0;      // one seat without the page
constexpr double kSeatsDialGoalMs = 1000.0;   // from the first dial file to the last INVITE

// Serves the page of active extensions for any path, as the PBX's web server would.
class PageServer : public QTcpServer {
public:
    int served = 0; // pages sent
    PageServer() {
        QString rows;
        for (int i = 0; i < 40; ++i)
            rows += QStringLiteral("<tr><td>%1</td><td>Agent %1</td><td>idle</td></tr>").arg(1000 + i);
        m_page = ("<html><body><table><tr><th>Extension</th><th>Name</th><th>State</th></tr>" + rows +
                  "</table></body></html>")
                     .toUtf8();
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n")) return; // one small request
                    ++served;
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                  QByteArray::number(m_page.size()) + "\r\nConnection: close\r\n\r\n" + m_page);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

private:
    QByteArray m_page;
};

// CPU time (ns, from the scheduler's own accounting) and context switches of every thread of pid.
struct Usage {
    qint64 cpuNs = 0;
    qint64 switches = 0;
    Usage& operator+=(const Usage& o) {
        cpuNs += o.cpuNs;
        switches += o.switches;
        return *this;
    }
};

inline Usage usageOf(qint64 pid) {
    Usage u;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = base + QLatin1Char('/') + task;
        u.cpuNs += readProc(dir + QStringLiteral("/schedstat")).split(' ').value(0).toLongLong();
        const QByteArray status = readProc(dir + QStringLiteral("/status"));
        u.switches += procField(status, "voluntary_ctxt_switches:") + procField(status, "nonvoluntary_ctxt_switches:");
    }
    return u;
}

// pid and every process below it.
inline QList<qint64> processTree(qint64 root) {
    QHash<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric) parents.insert(pid, parentOf(pid));
    }
    QList<qint64> tree{root};
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (auto it = parents.cbegin(); it != parents.cend(); ++it)
            if (it.value() == tree.at(i)) tree << it.key();
    return tree;
}

inline Usage treeUsage(qint64 root) {
    Usage u;
    for (qint64 pid : processTree(root))
        u += usageOf(pid);
    return u;
}

// Every thread of pid's tree, named "<process>/<thread>", for threadDeltas.
inline QMap<qint64, ThreadSample> treeThreads(qint64 root) {
    QMap<qint64, ThreadSample> threads;
    for (qint64 pid : processTree(root)) {
        const QString process = QString::fromUtf8(readProc(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed());
        const QString base = QStringLiteral("/proc/%1/task").arg(pid);
        for (const QString& entry : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString dir = base + QLatin1Char('/') + entry;
            const QByteArray status = readProc(dir + QStringLiteral("/status"));
            if (status.isEmpty()) continue;
            ThreadSample t;
            t.name = process + QLatin1Char('/') + QString::fromUtf8(readProc(dir + QStringLiteral("/comm")).trimmed());
            t.switches =
                procField(status, "voluntary_ctxt_switches:") + procField(status, "nonvoluntary_ctxt_switches:");
            const QList<QByteArray> fields = statFields(dir + QStringLiteral("/stat"));
            t.cpuTicks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
            threads.insert(entry.toLongLong(), t);
        }
    }
    return threads;
}

inline long treePssKiB(qint64 root) {
    long kib = 0;
    for (qint64 pid : processTree(root))
        kib += pssKiBOf(pid);
    return kib;
}

struct Seat {
    int index = 0;
    QString user;
    QString root;
    int display = 0;
    std::unique_ptr<BedProcess> x;
    std::unique_ptr<BedProcess> dialer;
    int sipPort = 0;
};

inline bool writeSettings(const QString& path, const SettingsList& keys) {
    QByteArray text = "[System]\r\n";
    for (const auto& [key, value] : keys)
        text += (key + QLatin1Char('=') + value).toLocal8Bit() + "\r\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A display number nobody uses, from first on.
inline int freeDisplay(int first) {
    for (int n = first; n < first + 1000; ++n)
        if (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return n;
    return -1;
}

inline QString median(QList<double> values, const char* format) {
    if (values.isEmpty()) return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    return QString::asprintf(format, values.first(), values.at(values.size() / 2), values.last());
}

// Where a click ticks the click-to-dial box, in the main window's own coordinates: the real form
// laid out offscreen as a registered seat shows it (the online button visible, reading "Offline"),
// in a window without decorations, as on a bare X display.
inline QPoint clickToDialSpot() {
    corvid::test::MainFormFixture fixture;
    fixture.writeSettings({{QStringLiteral("Login"), QStringLiteral("1001")},
                           {QStringLiteral("PbxPageEmbedded"), QStringLiteral("False")}});
    fixture.create();
    Ui::MainForm& ui = fixture.ui();
    ui.BtnOnline->setText(QStringLiteral("Offline"));
    ui.BtnOnline->setVisible(true);
    QCoreApplication::processEvents(); // the layout takes the button in
    QCheckBox* box = ui.autoCheck;
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    return box->mapTo(&fixture.window(), indicator.center());
}

// When the far end received each first INVITE to a number in numbers, from its message trace
// ("----- 2026-12-07 19:43:53.761736" before each message, local time).
inline QHash<QString, QDateTime> inviteTimes(const QString& trace, const QStringList& numbers) {
    static const QRegularExpression block(
        QStringLiteral("^-{20,} (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})\\d*\\n[^\\n]*received[^\\n]*\\n\\nINVITE sip:(\\d+)@"),
        QRegularExpression::MultilineOption);
    QHash<QString, QDateTime> times;
    for (auto it = block.globalMatch(trace); it.hasNext();) {
        const auto m = it.next();
        if (numbers.contains(m.captured(2)) && !times.contains(m.captured(2)))
            times.insert(m.captured(2), QDateTime::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
    }
    return times;
}

class SeatsBench {
public:
    SeatsBench(int seats, int idleSeconds, QString dialer)
        : m_count(seats), m_idleSeconds(idleSeconds), m_dialer(std::move(dialer)) {}

    int run() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            std::fprintf(stderr, "Xvfb is not installed (scripts/install-deps bench)\n");
            return 2;
        }
        if (!QFileInfo(m_dialer).isExecutable() || !m_dir.isValid()) {
            std::fprintf(stderr, "no dialer program at %s\n", qPrintable(m_dialer));
            return 2;
        }
        if (!m_bed.start()) {
            std::fprintf(stderr, "test bed: %s\n", qPrintable(m_bed.errorString()));
            return 2;
        }
        if (!m_pages.listen(QHostAddress::LocalHost)) return 2;
        if (!startDisplays(xvfb)) return 2;
        std::printf("%d seats, each on its own Xvfb display, against the PBX at %s\n", m_count,
                    qPrintable(m_bed.proxyAddress()));
        bool ok = round(false);
        ok &= round(true);
        for (Seat& s : m_seats)
            s.x->stop(2000);
        std::printf("%s\n", ok ? "seat goals met" : "seat goal missed");
        return ok ? 0 : 1;
    }

private:
    bool startDisplays(const QString& xvfb) {
        int next = 90;
        for (int i = 0; i < m_count; ++i) {
            Seat s;
            s.index = i;
            s.user = QString::number(1001 + i);
            s.display = freeDisplay(next);
            next = s.display + 1;
            s.x = std::make_unique<BedProcess>();
            if (!s.x->start(xvfb,
                            {QStringLiteral(":%1").arg(s.display), QStringLiteral("-screen"), QStringLiteral("0"),
                             QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                            m_dir.path(), m_dir.filePath(QStringLiteral("xvfb-%1.log").arg(i)))) {
                std::fprintf(stderr, "Xvfb :%d did not start\n", s.display);
                return false;
            }
            m_seats.push_back(std::move(s));
        }
        for (Seat& s : m_seats)
            if (!QTest::qWaitFor(
                    [&] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(s.display)); }, 20000)) {
                std::fprintf(stderr, "Xvfb :%d did not open its socket\n", s.display);
                return false;
            }
        return true;
    }

    bool startSeat(Seat& s, const QString& round, bool page) {
        s.root = m_dir.filePath(round + QLatin1Char('/') + s.user);
        QDir().mkpath(s.root + QStringLiteral("/bin"));
        const QString provider = SipTestBed::providerDomain();
        const QString password = QStringLiteral("secret") + s.user;
        if (!writeSettings(s.root + QStringLiteral("/bin/corvidapp.ini"),
                           pbxAgentSettings(s.user, password, provider, m_bed.proxyAddress(),
                                            QStringLiteral("Seat ") + s.user) +
                               SettingsList{{QStringLiteral("PbxPageBaseUrl"),
                                             QStringLiteral("http://127.0.0.1:%1").arg(m_pages.serverPort())},
                                            {QStringLiteral("PbxPageEmbedded"),
                                             page ? QStringLiteral("True") : QStringLiteral("False")}}))
            return false;
        s.dialer = std::make_unique<BedProcess>();
        s.sipPort = 0;
        return s.dialer->start(m_dialer, {QStringLiteral("--root"), s.root}, s.root, s.root + QStringLiteral("/stderr.log"),
                               {{QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(s.display)},
                                {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb")},
                                {QStringLiteral("CALLDECK_ROOT"), s.root}});
    }

    // The port of the seat's registered contact ("<sip:1001@127.0.0.1:5071;...>"), 0 while none.
    int registeredPort(const Seat& s) const {
        static const QRegularExpression port(QStringLiteral("@127\\.0\\.0\\.1:(\\d+)"));
        for (const QString& contact : m_bed.locationContacts(s.user)) {
            const auto m = port.match(contact);
            if (m.hasMatch()) return m.captured(1).toInt();
        }
        return 0;
    }

    bool round(bool page) {
        const QString name = page ? QStringLiteral("page") : QStringLiteral("no-page");
        std::printf("--- %s ---\n", page ? "with the PBX page" : "without the PBX page");
        QElapsedTimer started;
        started.start();
        for (Seat& s : m_seats)
            if (!startSeat(s, name, page)) return false;
        int registered = 0;
        (void)QTest::qWaitFor(
            [&] {
                registered = 0;
                for (Seat& s : m_seats) {
                    if (!s.sipPort) s.sipPort = registeredPort(s);
                    registered += s.sipPort ? 1 : 0;
                }
                return registered == m_count;
            },
            60000 + 6000 * m_count);
        QStringList ports;
        QSet<int> distinct;
        for (const Seat& s : m_seats) {
            ports << QStringLiteral("%1:%2").arg(s.user).arg(s.sipPort);
            if (s.sipPort) distinct.insert(s.sipPort);
        }
        std::printf("registered: %d of %d after %.1f s, %lld distinct SIP ports: %s\n", registered, m_count,
                    started.elapsed() / 1000.0, static_cast<long long>(distinct.size()),
                    qPrintable(ports.join(QLatin1Char(' '))));
        bool ok = registered == m_count && distinct.size() == m_count;
        for (const Seat& s : m_seats)
            if (!s.sipPort) {
                QFile log(s.root + QStringLiteral("/stderr.log"));
                std::printf("  seat %s not registered; its output:\n%s\n", qPrintable(s.user),
                            log.open(QIODevice::ReadOnly) ? log.readAll().right(2000).constData() : "(none)");
            }
        // Start-up's own timers, the page's load and the registrations' refreshes settle.
        runEventLoop(page ? 15000 : 8000);

        const QMap<qint64, ThreadSample> firstSeat0 = treeThreads(m_seats.front().dialer->pid());
        QList<Usage> seats0, x0;
        for (const Seat& s : m_seats) {
            seats0 << treeUsage(s.dialer->pid());
            x0 << usageOf(s.x->pid());
        }
        const qint64 wall0 = monotonicMicros();
        runEventLoop(m_idleSeconds * 1000);
        const double seconds = (monotonicMicros() - wall0) / 1e6;
        Usage all, xAll;
        QList<double> perSeatCpu, perSeatSwitches, pss;
        for (size_t i = 0; i < m_seats.size(); ++i) {
            Usage u = treeUsage(m_seats[i].dialer->pid());
            u.cpuNs -= seats0[qsizetype(i)].cpuNs;
            u.switches -= seats0[qsizetype(i)].switches;
            all += u;
            perSeatCpu << 100.0 * u.cpuNs / 1e9 / seconds;
            perSeatSwitches << u.switches / seconds;
            Usage x = usageOf(m_seats[i].x->pid());
            xAll.cpuNs += x.cpuNs - x0[qsizetype(i)].cpuNs;
            xAll.switches += x.switches - x0[qsizetype(i)].switches;
            pss << treePssKiB(m_seats[i].dialer->pid()) / 1024.0;
        }
        const double cpuPercent = 100.0 * all.cpuNs / 1e9 / seconds;
        if (page) std::printf("PBX pages served to the seats: %d\n", m_pages.served);
        std::printf("idle over %.1f s, all %d seats (helpers included):\n", seconds, m_count);
        const bool cpuMet = cpuPercent <= kSeatsIdleGoalPercent;
        std::printf("  CPU: %.3f %% of one core (goal <= %.1f %%)%s\n", cpuPercent, kSeatsIdleGoalPercent,
                    cpuMet ? "" : "  MISSED");
        ok &= cpuMet;
        std::printf("  context switches: %.1f /s\n", all.switches / seconds);
        std::printf("  per seat: CPU %s %% of one core, switches %s /s (min / median / max)\n",
                    qPrintable(median(perSeatCpu, "%.3f / %.3f / %.3f")),
                    qPrintable(median(perSeatSwitches, "%.1f / %.1f / %.1f")));
        std::printf("  the %d X servers: %.3f %% of one core, %.1f switches /s\n", m_count,
                    100.0 * xAll.cpuNs / 1e9 / seconds, xAll.switches / seconds);
        std::printf("  seat %s by thread (switches/s, CPU ms, threads of that name):\n", qPrintable(m_seats.front().user));
        for (const ThreadDelta& t : threadDeltas(firstSeat0, treeThreads(m_seats.front().dialer->pid())))
            if (t.switches > 0 || t.cpuMs > 0)
                std::printf("    %6.2f /s %8.1f ms  %2d  %s\n", double(t.switches) / seconds, t.cpuMs, t.count,
                            qPrintable(t.name));
        double pssSum = 0;
        QStringList perSeat;
        for (double p : pss) {
            pssSum += p;
            perSeat << QString::number(p, 'f', 1);
        }
        std::printf("memory: PSS of all seats %.1f MiB; per seat %s MiB (min / median / max)\n", pssSum,
                    qPrintable(median(pss, "%.1f / %.1f / %.1f")));
        std::printf("  each seat: %s\n", qPrintable(perSeat.join(QLatin1Char(' '))));
        if (!page) {
            const double worst = *std::max_element(pss.cbegin(), pss.cend());
            const bool met = worst <= kSeatPssGoalMiB;
            std::printf("  PSS per seat without the page: at most %.1f MiB (goal <= %.0f MiB)%s\n", worst,
                        kSeatPssGoalMiB, met ? "" : "  MISSED");
            ok &= met;
        }
        ok &= dialTogether(name);
        stopSeats();
        return ok;
    }

    // Each agent ticks "Click On"; the box writes autocall=1 to the seat's settings as it changes.
    bool tickClickToDial(const QString& xdotool) {
        if (m_clickSpot.isNull()) m_clickSpot = clickToDialSpot();
        int ticked = 0;
        for (Seat& s : m_seats) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(s.display));
            const auto xdo = [&](const QStringList& arguments) {
                QProcess process;
                process.setProcessEnvironment(env);
                process.start(xdotool, arguments);
                if (!process.waitForFinished(10000)) process.kill();
                return process.readAllStandardOutput() + process.readAllStandardError();
            };
            // The seat's only visible top-level window is the dialer's.
            const QByteArray window = xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                           QString::number(s.dialer->pid())})
                                          .split('\n')
                                          .value(0)
                                          .trimmed();
            const QByteArray clicked =
                xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(window),
                     QString::number(m_clickSpot.x()), QString::number(m_clickSpot.y()), QStringLiteral("click"),
                     QStringLiteral("1")});
            const QString ini = s.root + QStringLiteral("/bin/corvidapp.ini");
            if (QTest::qWaitFor([&] { return readProc(ini).contains("autocall=1"); }, 5000))
                ++ticked;
            else
                std::printf("  seat %s: the click at %d,%d did not tick click-to-dial (%s)\n", qPrintable(s.user),
                            m_clickSpot.x(), m_clickSpot.y(), clicked.trimmed().constData());
        }
        return ticked == m_count;
    }

    // Every seat gets a dial file for its own number at once: written aside first, then renamed in,
    // one rename right after the other.
    bool dialTogether(const QString& round) {
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (xdotool.isEmpty()) {
            std::printf("dial files: xdotool is not installed (scripts/install-deps bench), not measured\n");
            return false;
        }
        if (!tickClickToDial(xdotool)) return false;
        QStringList numbers, temps, targets;
        for (const Seat& s : m_seats) {
            const QString number = QStringLiteral("9001%1").arg(s.user.toInt() + (round == QLatin1String("page") ? 200000 : 100000), 6, 10, QLatin1Char('0'));
            numbers << number;
            const QString datalink = s.root + QStringLiteral("/datalink/");
            QDir().mkpath(datalink);
            temps << datalink + QStringLiteral(".") + number + QStringLiteral(".tmp");
            targets << datalink + number + QStringLiteral(".dia");
            QFile file(temps.last());
            if (!file.open(QIODevice::WriteOnly)) return false;
        }
        const QDateTime dropped = QDateTime::currentDateTime();
        for (qsizetype i = 0; i < temps.size(); ++i)
            QFile::rename(temps.at(i), targets.at(i));
        QHash<QString, QDateTime> times;
        (void)QTest::qWaitFor(
            [&] {
                times = inviteTimes(m_bed.farEndMessages(SipTestBed::FarEnd::Answer), numbers);
                return times.size() == numbers.size();
            },
            15000);
        QList<double> delays;
        for (auto it = times.cbegin(); it != times.cend(); ++it)
            delays << double(dropped.msecsTo(it.value()));
        const double last = delays.isEmpty() ? 0 : *std::max_element(delays.cbegin(), delays.cend());
        const bool met = times.size() == numbers.size() && last <= kSeatsDialGoalMs;
        std::printf("dial files dropped into all %d seats at once: %lld INVITEs at the far end, the last after %.0f ms "
                    "(goal: all within %.0f ms)%s\n",
                    m_count, static_cast<long long>(times.size()), last, kSeatsDialGoalMs, met ? "" : "  MISSED");
        std::printf("  INVITE after (ms): %s (min / median / max)\n", qPrintable(median(delays, "%.0f / %.0f / %.0f")));
        return met;
    }

    // SIGTERM to every seat at once (each closes as at File > exit), then the groups are reaped.
    void stopSeats() {
        for (Seat& s : m_seats)
            if (s.dialer && s.dialer->pid() > 0) ::kill(-pid_t(s.dialer->pid()), SIGTERM);
        for (Seat& s : m_seats)
            if (s.dialer) s.dialer->stop(8000);
    }

    int m_count;
    int m_idleSeconds;
    QString m_dialer;
    QTemporaryDir m_dir;
    SipTestBed m_bed;
    PageServer m_pages;
    std::vector<Seat> m_seats;
    QPoint m_clickSpot;
};

} // namespace corvid::bench::seats
