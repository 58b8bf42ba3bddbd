#include "engine/linphone/RecordingParts.h"

#include <QFile>
#include <QFileInfo>

namespace corvid {

namespace {
constexpr qint64 kWaveHeaderBytes = 44;
}

RecordingParts::RecordingParts(const QString& folder, const QString& stem)
    : m_folder(folder), m_stem(stem), m_recordPath(folder + stem + QStringLiteral(".wav")) {}

void RecordingParts::collect() {
    if (m_recordPath.isEmpty() || !QFile::exists(m_recordPath)) return;
    if (QFileInfo(m_recordPath).size() <= kWaveHeaderBytes) {
        QFile::remove(m_recordPath);
        return;
    }
    const QString part = m_folder + m_stem + QStringLiteral("-part%1.wav").arg(++m_counter);
    QFile::remove(part);
    if (QFile::rename(m_recordPath, part)) m_parts << part;
}

void RecordingParts::discard() {
    for (const QString& part : m_parts)
        QFile::remove(part);
    m_parts.clear();
    if (!m_recordPath.isEmpty()) QFile::remove(m_recordPath);
}

} // namespace corvid
