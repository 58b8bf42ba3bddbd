// One running dialer per install root, checked with real processes.

#include "platform/SingleInstance.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using corvid::SingleInstance;

class TestSingleInstance : public QObject {
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
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
