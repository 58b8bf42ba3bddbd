#pragma once
// The recording buffer of one line. The library writes the running call's recording into one file
// (recordPath()); each stop moves what was written into a numbered part beside it, and a save joins
// the parts in their order. The buffer holds one call's recording: a new call discards it.

#include "engine/WaveFile.h"

#include <QString>
#include <QStringList>

namespace corvid {

class RecordingParts {
public:
    RecordingParts() = default;
    // folder with a trailing slash; stem names the files ("line0" -> line0.wav, line0-part1.wav, ...).
    RecordingParts(const QString& folder, const QString& stem);

    QString recordPath() const { return m_recordPath; }
    const QStringList& parts() const { return m_parts; }

    // Moves what the library has written into a new part. A file holding no samples is dropped.
    void collect();
    // Deletes every part and what the library may have left in the record file.
    void discard();
    WaveJoin saveTo(const QString& target) const { return joinWaves(m_parts, target); }

private:
    QString m_folder;
    QString m_stem;
    QString m_recordPath;
    QStringList m_parts;
    int m_counter = 0;
};

} // namespace corvid
