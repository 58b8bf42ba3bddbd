// The engine adapter's pure rules: the check on dialled numbers and the wave files it reads, writes
// and joins (that a join holds exactly the samples of the parts of the first part's format, in
// order, whatever the part files hold, is the wavejoin fuzz target's).

#include "engine/linphone/EngineRules.h"
#include "engine/linphone/RecordingParts.h"
#include "engine/WaveFile.h"
#include "support/FileSizeLimit.h"
#include "unit/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace corvid;
using namespace corvid::engine_rules;
using namespace corvid::test;

namespace {

QString writeFile(const QString& path, const QByteArray& bytes) {
    return putFile(path, bytes) ? path : QString();
}

// A 16-bit PCM file whose samples all have the given value.
QString writeWave(const QString& path, int rate, int channels, int frames, qint16 value) {
    QByteArray samples;
    for (int i = 0; i < frames * channels; ++i) {
        char b[2];
        qToLittleEndian<qint16>(value, reinterpret_cast<uchar*>(b));
        samples.append(b, 2);
    }
    return writeFile(path, waveHeader(rate, channels, samples.size()) + samples);
}

} // namespace

class TestEngineRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dialTargets_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("target");
        QTest::newRow("blanks around") << QStringLiteral("  9001 ") << QStringLiteral("9001");
        QTest::newRow("feature code") << QStringLiteral("*551001") << QStringLiteral("*551001");
        QTest::newRow("sip address") << QStringLiteral("sip:1002@pbx1234.example.test")
                                     << QStringLiteral("sip:1002@pbx1234.example.test");
        QTest::newRow("inner blank") << QStringLiteral("555 1234") << QString();
        QTest::newRow("sip without host") << QStringLiteral("sip:1002") << QString();
        QTest::newRow("header injection") << QStringLiteral("sip:1@h>\r\nX: y") << QString();
    }
    void dialTargets() {
        QFETCH(QString, number);
        QFETCH(QString, target);
        QCOMPARE(dialTarget(number), target);
    }

    void waveHeaderCheck() {
        QTemporaryDir dir;
        WaveInfo info;
        // A recording that was never closed has a zero data size: its samples run to the end.
        const QString unclosed = writeFile(dir.filePath("unclosed.wav"), waveHeader(8000, 1, 0) + QByteArray(1600, 0));
        QCOMPARE(readWaveInfo(unclosed, &info), WaveCheck::Ok);
        QCOMPARE(info.durationMs(), qint64(100));
        // A data size beyond the end of the file is cut to what is there.
        const QString liar = writeFile(dir.filePath("liar.wav"), waveHeader(8000, 1, 1000) + QByteArray(10, 0));
        QCOMPARE(readWaveInfo(liar, &info), WaveCheck::Ok);
        QCOMPARE(info.dataBytes, qint64(10));
    }

    void silentWaveCostsNoSpace() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("silence.wav"));
        QVERIFY(writeSilentWave(path, 8000, 3600));
        WaveInfo info;
        QCOMPARE(readWaveInfo(path, &info), WaveCheck::Ok);
        QCOMPARE(info.durationMs(), qint64(3600 * 1000));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        // 57.6 MB of samples, stored as a hole.
        QVERIFY2(qint64(st.st_blocks) * 512 < 1024 * 1024, qPrintable(QString::number(st.st_blocks)));
    }

    // A join that runs out of space (the file-size limit stands in for a full disk) fails and
    // leaves the file already at the target as it was, with no temporary file beside it.
    void joinOnAFullDiskKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString part = writeWave(dir.filePath(QStringLiteral("part.wav")), 8000, 1, 800, 1000);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
        const QString target = dir.filePath(QStringLiteral("out/saved.wav"));
        const QByteArray old = fileBytes(writeWave(target, 8000, 1, 100, 5));
        QVERIFY(!old.isEmpty());
        // A folder that is not there fails the same way.
        QCOMPARE(joinWaves({part}, dir.filePath(QStringLiteral("no/such/folder/x.wav"))), WaveJoin::WriteFailed);
        WaveJoin result = WaveJoin::Ok;
        {
            test::FileSizeLimit limit(1024); // the 1,644-byte wave cannot be written in full
            QVERIFY(limit.ok());
            result = joinWaves({part}, target);
        }
        QCOMPARE(result, WaveJoin::WriteFailed);
        QCOMPARE(fileBytes(target), old);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("saved.wav")});
    }

    // A line's recording buffer: each collect turns what the library wrote into a part (a file
    // without samples is dropped), a save joins the parts in order, a discard leaves the folder
    // empty.
    void recordingBufferOfALine() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        RecordingParts buffer(folder, QStringLiteral("line1"));
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 800, 1000).isEmpty());
        buffer.collect();
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 0, 0).isEmpty()); // header only
        buffer.collect();
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 400, -1000).isEmpty());
        buffer.collect();
        QCOMPARE(buffer.parts().size(), 2);
        QVERIFY(!QFile::exists(buffer.recordPath()));

        const QString saved = dir.filePath(QStringLiteral("saved/call.wav"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("saved"))));
        QCOMPARE(buffer.saveTo(saved), WaveJoin::Ok);
        QCOMPARE(fileBytes(saved).size(), 44 + 2400);

        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 80, 1).isEmpty()); // left by a call cut short
        buffer.discard();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(buffer.saveTo(saved), WaveJoin::NothingToJoin);
    }
};

QTEST_GUILESS_MAIN(TestEngineRules)
#include "tst_enginerules.moc"
