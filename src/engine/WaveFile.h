#pragma once
// Wave files as the engine meets them: the header check before a file is played into a call, the
// long silent file that stands in for a microphone on machines without a sound card, and the
// joining of a line's recorded parts into the file the agent saves.

#include <QString>
#include <QStringList>

namespace corvid {

struct WaveInfo {
    int format = 0; // 1 = PCM
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    qint64 dataOffset = 0;
    qint64 dataBytes = 0; // clamped to what the file really holds

    int bytesPerSecond() const { return sampleRate * channels * (bitsPerSample / 8); }
    qint64 durationMs() const;
    bool sameFormat(const WaveInfo& other) const;
};

enum class WaveCheck {
    Ok,
    CannotOpen,  // missing or not readable
    ReadError,   // shorter than its header says / read failed
    Unsupported, // not RIFF/WAVE, or not 16-bit PCM mono/stereo at 8 to 48 kHz
};

// Reads and checks the header of a wave file the engine can play or join.
WaveCheck readWaveInfo(const QString& path, WaveInfo* info);

// Writes the canonical 44-byte header of a 16-bit PCM file holding dataBytes bytes of samples.
QByteArray waveHeader(int sampleRate, int channels, qint64 dataBytes);

// Writes a 16-bit mono PCM file of silence. The samples are left as a hole in the file, so a file
// of hours costs no disk space on file systems with sparse files.
bool writeSilentWave(const QString& path, int sampleRate, int seconds);

// Joins the samples of the given parts (same format as the first part; a part of another format
// is left out and counted in *skipped) into target. The target is written through a temporary
// file in its own folder and renamed at the end, so the target path never holds a half-written
// file. Answers false when nothing could be read or the target could not be written.
enum class WaveJoin { Ok, NothingToJoin, WriteFailed };
WaveJoin joinWaves(const QStringList& parts, const QString& target, int* skipped = nullptr);

} // namespace corvid
