// Joining recorded parts: hostile part files (cut headers, lying sizes, odd formats) are refused
// or joined into a valid wave holding exactly the samples of the parts taken, never read past.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "engine/WaveFile.h"

using namespace corvid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir(QFileInfo::exists(QStringLiteral("/dev/shm")) ? QStringLiteral("/dev/shm/corvid-fuzz-XXXXXX")
                                                                      : QDir::tempPath() + "/corvid-fuzz-XXXXXX");
    QStringList parts;
    QByteArray samples;
    WaveInfo first;
    bool taken = false;
    for (const QByteArray& bytes : fuzzPieces(data, size, '|', 4)) {
        const QString part = dir.filePath(QStringLiteral("part%1.wav").arg(parts.size()));
        QFile file(part);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        parts << part;
        WaveInfo w;
        if (readWaveInfo(part, &w) != WaveCheck::Ok) continue;
        FUZZ_CHECK(w.dataOffset >= 12 && w.dataOffset + w.dataBytes <= bytes.size() && w.dataBytes % (2 * w.channels) == 0);
        if (!taken) first = w;
        if (w.sameFormat(first)) samples += bytes.mid(w.dataOffset, w.dataBytes);
        taken = true;
    }
    const QString target = dir.filePath(QStringLiteral("joined.wav"));
    QFile::remove(target);
    const WaveJoin result = joinWaves(parts, target);
    FUZZ_CHECK((result == WaveJoin::Ok) == taken);
    if (result != WaveJoin::Ok) {
        FUZZ_CHECK(!QFile::exists(target));
        return 0;
    }
    WaveInfo joined;
    FUZZ_CHECK(readWaveInfo(target, &joined) == WaveCheck::Ok && joined.sameFormat(first) && joined.dataOffset == 44);
    QFile out(target);
    FUZZ_CHECK(out.open(QIODevice::ReadOnly) && out.readAll().mid(44) == samples && joined.dataBytes == samples.size());
    return 0;
}
