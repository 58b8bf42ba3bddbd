// The engine adapter's pure rules: volume and level scales, the checks on
// numbers, names and digits, and the wave files it reads, writes and joins.

#include "engine/linphone/EngineRules.h"
#include "engine/linphone/RecordingParts.h"
#include "engine/linphone/WaveFile.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace corvid;
using namespace corvid::engine_rules;

namespace {

// A 16-bit PCM file whose samples all have the given value.
QString writeWave(const QString& path, int rate, int channels, int frames, qint16 value) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return QString();
    const qint64 bytes = qint64(frames) * channels * 2;
    f.write(waveHeader(rate, channels, bytes));
    QByteArray samples;
    for (int i = 0; i < frames * channels; ++i) {
        char b[2];
        qToLittleEndian<qint16>(value, reinterpret_cast<uchar*>(b));
        samples.append(b, 2);
    }
    f.write(samples);
    return path;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestEngineRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scales() {
        QCOMPARE(volumeToGainDb(kVolumeUnity), 0.0f);
        QCOMPARE(volumeToGainDb(-5), kSilenceDb);
        QCOMPARE(volumeToGainDb(1000), volumeToGainDb(kVolumeMax));
        for (int v = 1; v <= kVolumeMax; ++v)
            QVERIFY(volumeToGainDb(v) > volumeToGainDb(v - 1));
        QCOMPARE(levelFromDbm0(3.0f), kLevelMax);
        QCOMPARE(levelFromDbm0(std::numeric_limits<float>::quiet_NaN()), 0);
        QCOMPARE(levelFromDbm0(-std::numeric_limits<float>::infinity()), 0);
    }

    void dialTargets_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("target");
        QTest::newRow("blanks around") << QStringLiteral("  9001 ") << QStringLiteral("9001");
        QTest::newRow("feature code") << QStringLiteral("*551001") << QStringLiteral("*551001");
        QTest::newRow("sip address") << QStringLiteral("sip:1002@pbx1234.example.test")
                                     << QStringLiteral("sip:1002@pbx1234.example.test");
        QTest::newRow("blank") << QStringLiteral(" ") << QString();
        QTest::newRow("inner blank") << QStringLiteral("555 1234") << QString();
        QTest::newRow("64 digits") << QString(64, QLatin1Char('5')) << QString(64, QLatin1Char('5'));
        QTest::newRow("control character") << QStringLiteral("555\n1") << QString();
        QTest::newRow("sip without host") << QStringLiteral("sip:1002") << QString();
        QTest::newRow("header injection") << QStringLiteral("sip:1@h>\r\nX: y") << QString();
    }
    void dialTargets() {
        QFETCH(QString, number);
        QFETCH(QString, target);
        QCOMPARE(dialTarget(number), target);
    }

    void chatNames_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("user");
        QTest::newRow("plain") << QStringLiteral("ann") << QStringLiteral("ann");
        QTest::newRow("shown with presence") << QStringLiteral("ann [Online]") << QStringLiteral("ann");
        QTest::newRow("address characters") << QStringLiteral("ann@host") << QString();
        QTest::newRow("too long") << QString(65, QLatin1Char('a')) << QString();
    }
    void chatNames() {
        QFETCH(QString, text);
        QFETCH(QString, user);
        QCOMPARE(chatUserName(text), user);
    }

    void dtmfDigits() {
        for (const char* ok : {"0", "9", "*", "#", "A", "d"})
            QVERIFY2(dtmfDigit(QString::fromLatin1(ok)) != 0, ok);
        QCOMPARE(dtmfDigit(QStringLiteral("d")), 'D');
        for (const char* bad : {"", "12", "E", " ", "x"})
            QVERIFY2(dtmfDigit(QString::fromLatin1(bad)) == 0, bad);
    }

    void waveHeaderCheck() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        WaveInfo info;
        const QString good = writeWave(dir.filePath(QStringLiteral("good.wav")), 8000, 1, 16000, 100);
        QCOMPARE(readWaveInfo(good, &info), WaveCheck::Ok);
        QCOMPARE(info.sampleRate, 8000);
        QCOMPARE(info.channels, 1);
        QCOMPARE(info.dataOffset, qint64(44));
        QCOMPARE(info.dataBytes, qint64(32000));
        QCOMPARE(info.durationMs(), qint64(2000));

        QCOMPARE(readWaveInfo(dir.filePath(QStringLiteral("missing.wav")), &info), WaveCheck::CannotOpen);

        auto write = [&](const char* name, const QByteArray& bytes) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
            return f.fileName();
        };
        QCOMPARE(readWaveInfo(write("text.wav", "hello, not a wave file at all, honestly"), &info),
                 WaveCheck::Unsupported);
        QByteArray header = waveHeader(8000, 1, 1000);
        QCOMPARE(readWaveInfo(write("cut.wav", header.left(30)), &info), WaveCheck::ReadError);
        // 8-bit samples and compressed formats are refused.
        QByteArray eightBit = header;
        eightBit[34] = 8;
        QCOMPARE(readWaveInfo(write("8bit.wav", eightBit + QByteArray(100, 0)), &info), WaveCheck::Unsupported);
        // A recording that was never closed has a zero data size: its samples run to the end.
        QByteArray open = waveHeader(8000, 1, 0);
        QCOMPARE(readWaveInfo(write("unclosed.wav", open + QByteArray(1600, 0)), &info), WaveCheck::Ok);
        QCOMPARE(info.dataBytes, qint64(1600));
        // A data size beyond the end of the file is cut to what is there.
        QCOMPARE(readWaveInfo(write("liar.wav", header + QByteArray(10, 0)), &info), WaveCheck::Ok);
        QCOMPARE(info.dataBytes, qint64(10));
        // Chunks before the samples are skipped.
        QByteArray withList = header.left(36) + QByteArray("LIST\x04\x00\x00\x00", 8) + QByteArray("abcd") +
                              header.mid(36) + QByteArray(1000, 0);
        withList.replace(4, 4, QByteArray("\x00\x00\x00\x00", 4));
        QCOMPARE(readWaveInfo(write("list.wav", withList), &info), WaveCheck::Ok);
        QCOMPARE(info.dataOffset, qint64(56));
        QCOMPARE(info.dataBytes, qint64(1000));
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

    void joiningParts() {
        QTemporaryDir dir;
        const QString a = writeWave(dir.filePath(QStringLiteral("a.wav")), 8000, 1, 800, 1000);
        const QString b = writeWave(dir.filePath(QStringLiteral("b.wav")), 8000, 1, 400, -1000);
        const QString wide = writeWave(dir.filePath(QStringLiteral("wide.wav")), 48000, 1, 480, 7);
        const QString target = dir.filePath(QStringLiteral("out/saved.wav"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));

        int skipped = -1;
        QCOMPARE(joinWaves({a, b, wide}, target, &skipped), WaveJoin::Ok);
        QCOMPARE(skipped, 1);
        WaveInfo info;
        QCOMPARE(readWaveInfo(target, &info), WaveCheck::Ok);
        QCOMPARE(info.dataBytes, qint64(2400));
        const QByteArray bytes = readAll(target);
        QCOMPARE(bytes.size(), 44 + 2400);
        QCOMPARE(qFromLittleEndian<qint16>(reinterpret_cast<const uchar*>(bytes.constData() + 44)), qint16(1000));
        QCOMPARE(qFromLittleEndian<qint16>(reinterpret_cast<const uchar*>(bytes.constData() + 44 + 1600)),
                 qint16(-1000));
        // Only the target is left in its folder: no temporary file stays behind.
        QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("saved.wav")});

        QCOMPARE(joinWaves({}, target), WaveJoin::NothingToJoin);
        QCOMPARE(joinWaves({dir.filePath(QStringLiteral("gone.wav"))}, target), WaveJoin::NothingToJoin);
        QCOMPARE(joinWaves({a}, dir.filePath(QStringLiteral("no/such/folder/x.wav"))), WaveJoin::WriteFailed);
        // A failed save leaves an existing file at the target untouched.
        QCOMPARE(readAll(target).size(), 44 + 2400);
    }

    // A join that runs out of space (the file-size limit stands in for a full disk) fails and
    // leaves the file already at the target as it was, with no temporary file beside it.
    void joinOnAFullDiskKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString part = writeWave(dir.filePath(QStringLiteral("part.wav")), 8000, 1, 800, 1000);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
        const QString target = dir.filePath(QStringLiteral("out/saved.wav"));
        const QByteArray old = readAll(writeWave(target, 8000, 1, 100, 5));
        QVERIFY(!old.isEmpty());
        WaveJoin result = WaveJoin::Ok;
        {
            test::FileSizeLimit limit(1024); // the 1,644-byte wave cannot be written in full
            QVERIFY(limit.ok());
            result = joinWaves({part}, target);
        }
        QCOMPARE(result, WaveJoin::WriteFailed);
        QCOMPARE(readAll(target), old);
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
        QCOMPARE(buffer.recordPath(), folder + QStringLiteral("line1.wav"));
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
        const QByteArray bytes = readAll(saved);
        QCOMPARE(bytes.size(), 44 + 2400);
        QCOMPARE(qFromLittleEndian<qint16>(reinterpret_cast<const uchar*>(bytes.constData() + 44 + 1600)),
                 qint16(-1000));

        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 80, 1).isEmpty()); // left by a call cut short
        buffer.discard();
        QVERIFY(buffer.parts().isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(buffer.saveTo(saved), WaveJoin::NothingToJoin);
    }
};

QTEST_GUILESS_MAIN(TestEngineRules)
#include "tst_enginerules.moc"
