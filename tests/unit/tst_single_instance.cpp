// One running dialer per install root, checked with real processes.

#include "platform/SingleInstance.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using corvid::SingleInstance;

namespace {

void writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void lockOfAKilledInstanceIsRecovered();
    void firstStartMakesOnlyTheRootFolder();
    void differentRootsRunSideBySide();
    void secondLockInOneProcessIsRefused();
    void impossibleRootIsUnavailable();

private:
    QProcess* startProbe(const QString& root);
    bool waitUntilLocked(QProcess* probe);

    std::vector<std::unique_ptr<QProcess>> m_probes;
};

QProcess* TestSingleInstance::startProbe(const QString& root) {
    m_probes.push_back(std::make_unique<QProcess>());
    QProcess* probe = m_probes.back().get();
    probe->setProcessChannelMode(QProcess::SeparateChannels);
    probe->start(QStringLiteral(CORVID_INSTANCE_PROBE), {QStringLiteral("lock"), root});
    return probe;
}

bool TestSingleInstance::waitUntilLocked(QProcess* probe) {
    QByteArray output;
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (probe->waitForReadyRead(100)) output += probe->readAllStandardOutput();
        if (output.contains("locked")) return true;
        if (probe->state() == QProcess::NotRunning) return false;
    }
    return false;
}

void TestSingleInstance::cleanup() {
    // Every probe ends with its test, passed or failed.
    for (auto& probe : m_probes) {
        if (probe->state() != QProcess::NotRunning) {
            probe->kill();
            probe->waitForFinished(5000);
        }
    }
    m_probes.clear();
}

void TestSingleInstance::lockOfAKilledInstanceIsRecovered() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
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
}

void TestSingleInstance::firstStartMakesOnlyTheRootFolder() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString root = temp.filePath(QStringLiteral("CallDeck"));
    QVERIFY(!QFileInfo::exists(root));

    QProcess* first = startProbe(root);
    QVERIFY(waitUntilLocked(first));
    QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{SingleInstance::lockFileName()});
}

void TestSingleInstance::differentRootsRunSideBySide() {
    QTemporaryDir rootA;
    QTemporaryDir rootB;
    QVERIFY(rootA.isValid() && rootB.isValid());
    QVERIFY(waitUntilLocked(startProbe(rootA.path())));
    QVERIFY(waitUntilLocked(startProbe(rootB.path())));
}

void TestSingleInstance::secondLockInOneProcessIsRefused() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    {
        SingleInstance first(root.path());
        QCOMPARE(first.tryAcquire(), SingleInstance::Result::Acquired);
        QVERIFY(first.isHeld());
        SingleInstance second(root.path());
        QCOMPARE(second.tryAcquire(), SingleInstance::Result::HeldByAnother);
        QVERIFY(!second.isHeld());
    }
    // Released on destruction: the next one takes it.
    QVERIFY(!QFileInfo::exists(root.filePath(SingleInstance::lockFileName())));
    SingleInstance again(root.path());
    QCOMPARE(again.tryAcquire(), SingleInstance::Result::Acquired);
}

void TestSingleInstance::impossibleRootIsUnavailable() {
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString notAFolder = temp.filePath(QStringLiteral("plain-file"));
    writeFile(notAFolder, "x");

    SingleInstance onFile(notAFolder);
    QCOMPARE(onFile.tryAcquire(), SingleInstance::Result::Unavailable);
    SingleInstance beneathFile(notAFolder + QStringLiteral("/CallDeck"));
    QCOMPARE(beneathFile.tryAcquire(), SingleInstance::Result::Unavailable);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
