// The platform layer: one running dialer per install root and the forced exit (both checked with
// real processes), the waits, and the real desktop services, among them where the ring tone is
// found: the working folder, beside the program, then the installed data folder (share/corvid-dialer
// beside the program's bin folder, wherever the install was put).

#include "platform/Delay.h"
#include "platform/QtServices.h"
#include "platform/SingleInstance.h"
#include "platform/WaylandSession.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

using namespace corvid;

namespace {

// CPU time used by this process so far (user + system), in milliseconds.
qint64 processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<QProcess>> m_probes;

    QProcess* startProbe(const QString& root) {
        QProcess* probe = m_probes.emplace_back(std::make_unique<QProcess>()).get();
        probe->start(QStringLiteral(CORVID_INSTANCE_PROBE), {QStringLiteral("lock"), root});
        return probe;
    }

    static bool waitUntilLocked(QProcess* probe) {
        QByteArray output;
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && !output.contains("locked") && probe->state() != QProcess::NotRunning)
            if (probe->waitForReadyRead(100)) output += probe->readAllStandardOutput();
        return output.contains("locked");
    }

private slots:
    void cleanup() {
        // Every probe ends with its test, passed or failed.
        for (auto& probe : m_probes) {
            probe->kill();
            probe->waitForFinished(5000);
        }
        m_probes.clear();
    }

    void lockOfAKilledInstanceIsRecoveredAndALiveOneKept() {
        QTemporaryDir root;
        QProcess* crashed = startProbe(root.path());
        QVERIFY(waitUntilLocked(crashed));
        crashed->kill(); // SIGKILL: the lock file stays behind
        QVERIFY(crashed->waitForFinished(5000));
        QVERIFY(QFileInfo::exists(root.filePath(SingleInstance::lockFileName())));
        QProcess* next = startProbe(root.path());
        QVERIFY(waitUntilLocked(next));

        // A live instance keeps its lock however old the file is: the next one ends at once with code 1.
        // (The start-up tests run the real program for the rest: nothing under the root is touched.)
        QFile lockFile(root.filePath(SingleInstance::lockFileName()));
        QVERIFY(lockFile.open(QIODevice::ReadOnly));
        QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        lockFile.close();
        QElapsedTimer took;
        took.start();
        QProcess* third = startProbe(root.path());
        QVERIFY(third->waitForFinished(20000));
        QCOMPARE(third->exitStatus(), QProcess::NormalExit);
        QCOMPARE(third->exitCode(), 1);
        QVERIFY2(took.elapsed() < 5000, qPrintable(QString::number(took.elapsed()))); // no waiting for the lock
        QCOMPARE(next->state(), QProcess::Running);

        // Another install root has a lock of its own.
        QTemporaryDir otherRoot;
        QVERIFY(waitUntilLocked(startProbe(otherRoot.path())));
    }

    void delayKeepsTimersRunningWithoutSpinning() {
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&ticks] { ++ticks; });
        tick.start(20);

        const qint64 cpuBefore = processCpuMs();
        QElapsedTimer wall;
        wall.start();
        msDelay(400);
        const qint64 elapsed = wall.elapsed();
        const qint64 cpu = processCpuMs() - cpuBefore;

        QVERIFY2(elapsed >= 400 && elapsed < 2000, qPrintable(QString::number(elapsed)));
        QVERIFY2(ticks >= 10, qPrintable(QStringLiteral("%1 ticks").arg(ticks))); // about 20 on a quiet machine
        // A spinning wait would use about the whole wall time; a sleeping one almost nothing.
        QVERIFY2(cpu * 100 < elapsed * 30, qPrintable(QStringLiteral("cpu %1 ms of %2 ms").arg(cpu).arg(elapsed)));
    }

    void forceQuitEndsAtOnceWithCodeOne() {
        QTemporaryDir markers;
        QProcess probe;
        probe.start(QStringLiteral(CORVID_INSTANCE_PROBE), {QStringLiteral("force-quit"), markers.path()});
        QVERIFY(probe.waitForFinished(20000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 1);
        QCOMPARE(entriesOf(markers.path()), QStringList{"before"}); // no exit handler, no destructor ran
    }

    void messageBoxMovesWindowTopAndShowsPlainText() {
        QWidget window;
        window.move(40, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int windowTopWhileOpen = -1;
        Qt::TextFormat shownFormat = Qt::AutoText;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || windowTopWhileOpen >= 0) return;
            windowTopWhileOpen = window.y();
            shownFormat = box->textFormat();
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(10);
        QtMessageBoxes(QStringLiteral("CorvidDialer"))
            .information(&window, QStringLiteral("Bad <b>Request</b> from <sip:100@pbx>"));
        QCOMPARE(windowTopWhileOpen, 67);
        QCOMPARE(shownFormat, Qt::PlainText);
    }

    void launcherPassesArgumentsWithoutShell() {
        const QString touch = QStandardPaths::findExecutable(QStringLiteral("touch"));
        if (touch.isEmpty()) QSKIP("no touch program");
        QTemporaryDir dir;
        // Every shell character here would do something if a shell read the line.
        const QString name =
            QStringLiteral("a b; touch injected $(touch injected2) `touch injected3` 'q' \"d\" & | > x");
        const QString path = dir.filePath(name);

        QtProcessLauncher launcher;
        QVERIFY(launcher.startDetached(touch, {path}));
        QTRY_COMPARE_WITH_TIMEOUT(entriesOf(dir.path()), QStringList{name}, 10000);
        QVERIFY(!QFileInfo::exists(QStringLiteral("injected")));
    }

    void ringToneLookupOrder_data() {
        QTest::addColumn<QStringList>("present"); // folders under the temporary tree holding ring.wav
        QTest::addColumn<QString>("found");       // where it is found; empty: not found
        const QString work = "work", bin = "prefix/bin", share = "prefix/share/corvid-dialer";
        QTest::newRow("installed data folder") << QStringList{share} << share;
        QTest::newRow("beside the program first") << QStringList{bin, share} << bin;
        QTest::newRow("working folder first") << QStringList{work, bin, share} << work;
        QTest::newRow("another prefix's data is not searched") << QStringList{"share/corvid-dialer"} << QString();
    }

    void ringToneLookupOrder() {
        QFETCH(QStringList, present);
        QFETCH(QString, found);
        QTemporaryDir tree;
        QDir top(tree.path());
        QVERIFY(tree.isValid() && top.mkpath("work") && top.mkpath("prefix/bin"));
        for (const QString& folder : present)
            QVERIFY(top.mkpath(folder) &&
                    QFile::copy(CORVID_SOURCE_DIR "/assets/ring.wav", top.filePath(folder + "/ring.wav")));
        QCOMPARE(LocateSoundFile("ring.wav", top.filePath("work"), top.filePath("prefix/bin")),
                 found.isEmpty() ? QString() : top.filePath(found + "/ring.wav"));
    }

    void soundFileNamedByPathOrFolder() {
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        const QString file = QDir(tree.path()).filePath(QStringLiteral("tone.wav"));
        QVERIFY(QFile::copy(QStringLiteral(CORVID_SOURCE_DIR "/assets/ring.wav"), file));
        QCOMPARE(LocateSoundFile(file, QString(), QString()), file);
        QCOMPARE(LocateSoundFile(file + QStringLiteral(".missing"), tree.path(), tree.path()), QString());
        // A folder of that name is not a sound file.
        QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("bin/ring.wav")));
        QCOMPARE(LocateSoundFile(QStringLiteral("ring.wav"), QString(), QDir(tree.path()).filePath("bin")), QString());
    }

    // The plugin: the agent's choice wins; a Wayland session runs through Xwayland when it has one.
    // The clipboard: only a Wayland session without data-control, on a real window system, and not
    // bridged to X by its desktop, keeps copies from the unfocused dialer.
    void waylandSessionRules() {
        QCOMPARE(platformForSession("wayland", "wayland-0", ":0"), QByteArray());
        QCOMPARE(platformForSession("", "", ":0"), QByteArray());
        QCOMPARE(platformForSession("", "wayland-0", ":0"), QByteArray("xcb;wayland"));
        QCOMPARE(platformForSession(" ", "wayland-0", ""), QByteArray("wayland;xcb"));
        const struct {
            bool wayland, dataControl;
            const char *platform, *desktop;
            bool sees;
        } rows[] = {{false, false, "xcb", "", true},
                    {true, true, "wayland", "", true},
                    {true, false, "wayland", "GNOME", false},
                    {true, false, "wayland-egl", "", false},
                    {true, false, "xcb", "ubuntu:GNOME", true},
                    {true, false, "xcb", "weston", false},
                    {true, false, "offscreen", "", true}};
        for (const auto& r : rows)
            QVERIFY2(clipboardSeesOtherWindows(r.wayland, r.dataControl, QString::fromLatin1(r.platform),
                                               QString::fromLatin1(r.desktop)) == r.sees,
                     r.platform);
    }
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
