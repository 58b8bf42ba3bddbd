// What the engine tests that run on the test bed do not show: every process and file of the bed is
// gone after it stops, folders of crashed tests are swept, and the null sound card restores the
// environment it changed.

#include "support/E2eFixtures.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace corvid::test;

class TestBed : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stoppedBedLeavesNothingBehind() {
        QList<qint64> pids;
        QString dir;
        {
            SipTestBed bed;
            QVERIFY2(bed.start(), qPrintable(bed.errorString()));
            QVERIFY(isUdpPortBound(bed.proxyPort()));
            pids = bed.processIds();
            dir = bed.tempPath();
            QCOMPARE(pids.size(), 4);
            for (qint64 pid : pids)
                QVERIFY(processAlive(pid));
        }
        for (qint64 pid : pids) {
            QVERIFY2(!processAlive(pid), qPrintable(QString::number(pid)));
            QVERIFY2(!processGroupAlive(pid), qPrintable(QString::number(pid)));
        }
        QVERIFY(!QFileInfo::exists(dir));
    }

    void foldersOfDeadTestsAreSwept() {
        // A folder left by a test process that died: marked with a pid that no longer runs.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted(5000));
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished(5000));
        QVERIFY(!processAlive(deadPid));
        OwnedTempDir ours(QStringLiteral("corvid-e2e-"));
        OwnedTempDir left(QStringLiteral("corvid-e2e-"));
        left.setAutoRemove(false);
        const QString stale = left.path();
        {
            QFile owner(left.filePath(QStringLiteral("owner.pid")));
            QVERIFY(owner.open(QIODevice::WriteOnly | QIODevice::Truncate));
            owner.write(QByteArray::number(deadPid));
        }
        sweepStaleTestFolders();
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(ours.path()));
    }

    void nullSoundCardStartsAndStops() {
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        qint64 pid = 0;
        {
            NullSoundCard card;
            QVERIFY2(card.start(), qPrintable(card.errorString()));
            pid = card.pid();
            card.applyToEnvironment();
            QCOMPARE(qEnvironmentVariable("PULSE_SERVER"), card.serverAddress());
        }
        QVERIFY(!processAlive(pid));
        QVERIFY(qEnvironmentVariable("PULSE_SERVER").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBed)
#include "tst_testbed.moc"
