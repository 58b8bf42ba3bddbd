#include "dialer/AutomationJournal.h"

#include "dialer/AutomationRules.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvid {

bool AutomationJournal::append(const QDateTime& when, const QString& channel, const QString& request,
                               const QString& outcome) {
    if (m_path.isEmpty()) return false;
    const QString line = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QLatin1Char('\t') +
                         automation::journalField(channel) + QLatin1Char('\t') + automation::journalField(request) +
                         QLatin1Char('\t') + automation::journalField(outcome) + QStringLiteral("\r\n");
    const QByteArray bytes = line.toUtf8();

    const QFileInfo info(m_path);
    makePrivatePath(info.absolutePath()); // the logs folder may have been removed meanwhile
    if (info.exists() && info.size() + bytes.size() > m_maxBytes) {
        QFile::remove(rotatedPath());
        if (!QFile::rename(m_path, rotatedPath())) QFile::remove(m_path); // never grow past the limit
    }
    QFile file(m_path);
    if (!openPrivate(file, QIODevice::WriteOnly | QIODevice::Append)) return false;
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    return written && file.error() == QFile::NoError;
}

} // namespace corvid
