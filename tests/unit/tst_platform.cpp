// The waits, the forced exit and the real desktop services.

#include "platform/Delay.h"
#include "platform/QtServices.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

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
private slots:
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
};

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
