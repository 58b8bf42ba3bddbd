#include "engine/WaveFile.h"

#include <QFile>
#include <QtEndian>

#include "platform/PrivateFiles.h"

namespace corvid {

namespace {

quint32 le32(const char* p) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(p));
}
quint16 le16(const char* p) {
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(p));
}

void put32(QByteArray& b, quint32 v) {
    char c[4];
    qToLittleEndian<quint32>(v, reinterpret_cast<uchar*>(c));
    b.append(c, 4);
}
void put16(QByteArray& b, quint16 v) {
    char c[2];
    qToLittleEndian<quint16>(v, reinterpret_cast<uchar*>(c));
    b.append(c, 2);
}

constexpr quint16 kFormatPcm = 1;
constexpr quint16 kFormatExtensible = 0xFFFE;

} // namespace

qint64 WaveInfo::durationMs() const {
    const int rate = bytesPerSecond();
    return rate > 0 ? dataBytes * 1000 / rate : 0;
}

bool WaveInfo::sameFormat(const WaveInfo& o) const {
    return format == o.format && channels == o.channels && sampleRate == o.sampleRate &&
           bitsPerSample == o.bitsPerSample;
}

WaveCheck readWaveInfo(const QString& path, WaveInfo* info) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return WaveCheck::CannotOpen;
    const qint64 fileSize = file.size();
    char riff[12];
    if (file.read(riff, 12) != 12) return WaveCheck::ReadError;
    if (memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0) return WaveCheck::Unsupported;

    WaveInfo w;
    bool haveFormat = false;
    // Walk the chunks: "fmt " must come before "data"; anything else (LIST, fact, ...) is skipped.
    for (int guard = 0; guard < 64; ++guard) {
        char head[8];
        const qint64 got = file.read(head, 8);
        if (got != 8) return haveFormat ? WaveCheck::ReadError : WaveCheck::Unsupported;
        const quint32 size = le32(head + 4);
        if (memcmp(head, "fmt ", 4) == 0) {
            if (size < 16 || size > 1024) return WaveCheck::Unsupported;
            QByteArray fmt = file.read(size);
            if (fmt.size() != int(size)) return WaveCheck::ReadError;
            w.format = le16(fmt.constData());
            w.channels = le16(fmt.constData() + 2);
            w.sampleRate = int(le32(fmt.constData() + 4));
            w.bitsPerSample = le16(fmt.constData() + 14);
            if (w.format == kFormatExtensible && size >= 40) {
                // The sub-format GUID starts with the real format tag.
                w.format = le16(fmt.constData() + 24);
            }
            haveFormat = true;
            if (size % 2) file.read(1);
        } else if (memcmp(head, "data", 4) == 0) {
            if (!haveFormat) return WaveCheck::Unsupported;
            w.dataOffset = file.pos();
            const qint64 available = fileSize - w.dataOffset;
            // A recorder that was not closed cleanly leaves 0 (or 0xFFFFFFFF) here: the samples then
            // run to the end of the file.
            w.dataBytes = (size == 0 || qint64(size) > available) ? available : qint64(size);
            break;
        } else {
            if (!file.seek(file.pos() + size + (size % 2)) || file.pos() > fileSize) return WaveCheck::ReadError;
        }
    }
    if (w.dataOffset == 0) return WaveCheck::Unsupported;
    if (w.format != kFormatPcm || w.bitsPerSample != 16 || w.channels < 1 || w.channels > 2 || w.sampleRate < 8000 ||
        w.sampleRate > 48000)
        return WaveCheck::Unsupported;
    const int frame = w.channels * 2;
    w.dataBytes -= w.dataBytes % frame;
    if (info) *info = w;
    return WaveCheck::Ok;
}

QByteArray waveHeader(int sampleRate, int channels, qint64 dataBytes) {
    QByteArray h;
    h.reserve(44);
    h.append("RIFF", 4);
    put32(h, quint32(36 + dataBytes));
    h.append("WAVE", 4);
    h.append("fmt ", 4);
    put32(h, 16);
    put16(h, kFormatPcm);
    put16(h, quint16(channels));
    put32(h, quint32(sampleRate));
    put32(h, quint32(sampleRate * channels * 2));
    put16(h, quint16(channels * 2));
    put16(h, 16);
    h.append("data", 4);
    put32(h, quint32(dataBytes));
    return h;
}

bool writeSilentWave(const QString& path, int sampleRate, int seconds) {
    const qint64 dataBytes = qint64(sampleRate) * 2 * seconds;
    QFile file(path);
    if (!openPrivate(file, QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray header = waveHeader(sampleRate, 1, dataBytes);
    if (file.write(header) != header.size()) return false;
    // Growing the file leaves zero bytes: silence, stored as a hole.
    return file.resize(header.size() + dataBytes);
}

WaveJoin joinWaves(const QStringList& parts, const QString& target, int* skipped) {
    int skippedParts = 0;
    WaveInfo first;
    QList<WaveInfo> infos;
    QStringList usable;
    for (const QString& part : parts) {
        WaveInfo w;
        if (readWaveInfo(part, &w) != WaveCheck::Ok) {
            ++skippedParts;
            continue;
        }
        if (!usable.isEmpty() && !w.sameFormat(first)) {
            ++skippedParts;
            continue;
        }
        if (usable.isEmpty()) first = w;
        usable << part;
        infos << w;
    }
    if (skipped) *skipped = skippedParts;
    if (usable.isEmpty()) return WaveJoin::NothingToJoin;

    qint64 total = 0;
    for (const WaveInfo& w : infos)
        total += w.dataBytes;

    // Through the one private-file writer: a full disk fails the join instead of leaving a truncated
    // recording at the target, and a failed join leaves an existing target alone.
    const bool written = replaceFile(target, [&](QFileDevice& out) {
        const QByteArray header = waveHeader(first.sampleRate, first.channels, total);
        if (out.write(header) != header.size()) return false;
        for (int i = 0; i < usable.size(); ++i) {
            QFile in(usable[i]);
            if (!in.open(QIODevice::ReadOnly) || !in.seek(infos[i].dataOffset)) return false;
            for (qint64 left = infos[i].dataBytes; left > 0;) {
                const QByteArray chunk = in.read(qMin<qint64>(left, 64 * 1024));
                if (chunk.isEmpty() || out.write(chunk) != chunk.size()) return false;
                left -= chunk.size();
            }
        }
        return true;
    });
    return written ? WaveJoin::Ok : WaveJoin::WriteFailed;
}

} // namespace corvid
