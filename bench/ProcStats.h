#pragma once
// What the benchmarks read from /proc about a process: its threads' wake-ups (context switches)
// and CPU time, its resident and proportional memory, and that memory grouped by what is mapped.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <algorithm>
#include <unistd.h>

namespace corvid::bench {

inline QByteArray readProc(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The number after "key:" in a /proc status-like text (0 when absent).
inline qint64 procField(const QByteArray& text, const QByteArray& key) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

inline long rssKiBOf(qint64 pid) {
    return long(procField(readProc(QStringLiteral("/proc/%1/status").arg(pid)), "VmRSS:"));
}

inline long pssKiBOf(qint64 pid) {
    return long(procField(readProc(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)), "Pss:"));
}

// The fields of /proc/<pid>/stat after "pid (name) ": [0] is the state, [1] the parent's pid,
// [11] utime and [12] stime in clock ticks.
inline QList<QByteArray> statFields(const QString& statPath) {
    const QByteArray stat = readProc(statPath);
    const int close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

inline qint64 parentOf(qint64 pid) {
    return statFields(QStringLiteral("/proc/%1/stat").arg(pid)).value(1).toLongLong();
}

// This process's descendants (up to five generations down) whose command line contains marker.
inline QList<qint64> descendantsNamed(const QByteArray& marker) {
    const qint64 self = getpid();
    QList<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self) continue;
        qint64 ancestor = parentOf(pid);
        for (int depth = 0; depth < 4 && ancestor > 1 && ancestor != self; ++depth)
            ancestor = parentOf(ancestor);
        if (ancestor != self) continue;
        if (readProc(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains(marker)) found << pid;
    }
    return found;
}

// --- threads ------------------------------------------------------------------------------------

struct ThreadSample {
    QString name;
    qint64 switches = 0; // voluntary + involuntary
    qint64 cpuTicks = 0; // user + system
};

// Every thread of this process now, by thread id.
inline QMap<qint64, ThreadSample> sampleThreads() {
    QMap<qint64, ThreadSample> threads;
    const QString base = QStringLiteral("/proc/%1/task").arg(getpid());
    for (const QString& entry : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = base + QLatin1Char('/') + entry;
        const QByteArray status = readProc(dir + QStringLiteral("/status"));
        if (status.isEmpty()) continue; // ended meanwhile
        ThreadSample t;
        t.name = QString::fromUtf8(readProc(dir + QStringLiteral("/comm")).trimmed());
        t.switches = procField(status, "voluntary_ctxt_switches:") + procField(status, "nonvoluntary_ctxt_switches:");
        const QList<QByteArray> fields = statFields(dir + QStringLiteral("/stat"));
        t.cpuTicks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
        threads.insert(entry.toLongLong(), t);
    }
    return threads;
}

struct ThreadDelta {
    QString name;
    int count = 0; // threads of that name
    qint64 switches = 0;
    double cpuMs = 0;
};

// Wake-ups and CPU between two samples, by thread name, busiest first. Threads that started in
// between count from zero; threads that ended are missing (their share is in the process total).
inline QList<ThreadDelta> threadDeltas(const QMap<qint64, ThreadSample>& before,
                                       const QMap<qint64, ThreadSample>& after) {
    const double msPerTick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    QMap<QString, ThreadDelta> byName;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const ThreadSample start = before.value(it.key());
        ThreadDelta& d = byName[it->name];
        d.name = it->name;
        ++d.count;
        d.switches += it->switches - start.switches;
        d.cpuMs += double(it->cpuTicks - start.cpuTicks) * msPerTick;
    }
    QList<ThreadDelta> list = byName.values();
    std::sort(list.begin(), list.end(), [](const ThreadDelta& a, const ThreadDelta& b) {
        return a.switches != b.switches ? a.switches > b.switches : a.name < b.name;
    });
    return list;
}

// --- memory by mapping ---------------------------------------------------------------------------

struct MappingTotal {
    QString name;
    long rssKiB = 0;
    long pssKiB = 0;
};

// What a mapping belongs to, for the grouped view.
inline QString mappingGroup(const QString& path) {
    if (path.isEmpty()) return QStringLiteral("anonymous (malloc arenas, thread stacks, Qt buffers)");
    if (path == QLatin1String("[heap]")) return QStringLiteral("[heap] (main malloc arena)");
    if (path.startsWith(QLatin1Char('['))) return QStringLiteral("stacks and kernel pages");
    const QString file = QFileInfo(path).fileName();
    if (file.startsWith(QLatin1String("libQt6WebEngine"))) return QStringLiteral("Qt WebEngine libraries");
    if (file.startsWith(QLatin1String("libQt6Multimedia")) || path.contains(QLatin1String("/multimedia/")))
        return QStringLiteral("Qt Multimedia and its backends");
    if (file.startsWith(QLatin1String("libQt6"))) return QStringLiteral("other Qt libraries and plugins");
    if (path.contains(QLatin1String("/qt6/plugins/"))) return QStringLiteral("other Qt libraries and plugins");
    static const char* const engine[] = {
        "liblinphone",   "libmediastreamer", "libortp",      "libbctoolbox", "libbelle-sip", "libbelr",
        "liblime",       "libbzrtp",         "libsoci",      "libsqlite",    "libsrtp",      "libspeex",
        "libopus",       "libgsm",           "libxerces",    "libmbed",      "libjsoncpp",   "libbcg729",
        "libbcmatroska", "libvpx",           "libturbojpeg", "libav",        "libsw",        "libv4l",
        "libGLEW",       "libxml2",          "libZXing",     "libdecaf",     "libpulse",     "libasound",
        "libbv16",       "libspandsp",       "libgsm"};
    for (const char* prefix : engine)
        if (file.startsWith(QLatin1String(prefix))) return QStringLiteral("liblinphone and its libraries");
    if (file.startsWith(QLatin1String("libicu"))) return QStringLiteral("ICU");
    if (file.endsWith(QLatin1String(".ttf")) || file.endsWith(QLatin1String(".otf")) ||
        file.endsWith(QLatin1String(".pcf")) || file.contains(QLatin1String(".cache-")))
        return QStringLiteral("fonts");
    if (path.startsWith(QLatin1String("/dev/")) || path.startsWith(QLatin1String("/memfd:")) ||
        path.contains(QLatin1String("(deleted)")))
        return QStringLiteral("shared memory and devices");
    if (file.contains(QLatin1String(".so"))) return QStringLiteral("other system libraries");
    return QStringLiteral("other files (the program, locale data)");
}

// This process's smaps summed by file (anonymous mappings under one name), and by group.
inline void mappingTotals(QList<MappingTotal>* byFile, QList<MappingTotal>* byGroup) {
    QHash<QString, MappingTotal> files, groups;
    QString current;
    const QByteArray smaps = readProc(QStringLiteral("/proc/%1/smaps").arg(getpid()));
    for (const QByteArray& line : smaps.split('\n')) {
        if (line.isEmpty()) continue;
        // Field lines start with "Name:"; a mapping's header starts with its address range.
        const qsizetype space = line.indexOf(' ');
        if (!line.left(space < 0 ? line.size() : space).endsWith(':')) {
            // "start-end perms offset dev inode path"
            const QList<QByteArray> parts = line.simplified().split(' ');
            current = parts.size() > 5 ? QString::fromUtf8(parts.mid(5).join(' ')) : QString();
            continue;
        }
        const bool rss = line.startsWith("Rss:"), pss = line.startsWith("Pss:");
        if (!rss && !pss) continue;
        const long kib = long(procField(line, rss ? "Rss:" : "Pss:"));
        const QString group = mappingGroup(current);
        MappingTotal& f = files[current];
        MappingTotal& g = groups[group];
        f.name = current.isEmpty() ? QStringLiteral("[anonymous]") : current;
        g.name = group;
        (rss ? f.rssKiB : f.pssKiB) += kib;
        (rss ? g.rssKiB : g.pssKiB) += kib;
    }
    auto sorted = [](const QHash<QString, MappingTotal>& totals) {
        QList<MappingTotal> list = totals.values();
        std::sort(list.begin(), list.end(), [](const MappingTotal& a, const MappingTotal& b) {
            return a.pssKiB != b.pssKiB ? a.pssKiB > b.pssKiB : a.name < b.name;
        });
        return list;
    };
    *byFile = sorted(files);
    *byGroup = sorted(groups);
}

} // namespace corvid::bench
