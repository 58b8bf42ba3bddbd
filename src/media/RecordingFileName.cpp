#include "media/RecordingFileName.h"

#include <QDir>
#include <QFileInfo>

namespace corvid {

QString recordingNamePart(const QString& number) {
    QString part = number;
    for (QChar& c : part) {
        const char16_t u = c.unicode();
        const bool unsafe = u < 32 || u == 127 || u == '/' || u == '\\' || u == ':' || u == '*' || u == '?' ||
                            u == '"' || u == '<' || u == '>' || u == '|';
        if (unsafe) c = QLatin1Char('_');
    }
    return part;
}

QString RecordingFileName(const QString& messagesDir, const QString& number, const QDateTime& now) {
    const QString name = recordingNamePart(number) + QLatin1Char('_') + now.toString(QStringLiteral("ddMMyy")) +
                         QLatin1Char('_') + now.toString(QStringLiteral("HHmmss")) + QStringLiteral(".wav");
    return QDir(messagesDir).filePath(name);
}

QString uniqueRecordingPath(const QString& path, int maxTries) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return path;
    // Split at the extension of the file name only (a dot in a folder name does not count).
    const qsizetype slash = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1) dot = path.size();
    const QString stem = path.left(dot);
    const QString extension = path.mid(dot);
    for (int n = 2; n <= maxTries; ++n) {
        const QString candidate = stem + QLatin1Char('_') + QString::number(n) + extension;
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink()) return candidate;
    }
    return QString();
}

} // namespace corvid
