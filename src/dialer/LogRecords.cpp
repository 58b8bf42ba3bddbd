#include "dialer/LogRecords.h"

#include <QFile>

namespace corvid {
namespace {

const QByteArray CrLf("\r\n");

// A double quote inside the value is doubled, so a CSV reader finds where the field ends.
QByteArray quoted(const QString& value) {
    return '"' + value.toLocal8Bit().replace('"', "\"\"") + '"';
}

// Path separators and control characters never; the characters Windows refuses in a file name
// only there (elsewhere an agent called Bob "The Closer" keeps his own log file name).
bool canBePartOfFileName(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() == 127) return false;
        switch (c.unicode()) {
        case '/':
        case '\\':
            return false;
#ifdef Q_OS_WIN
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return false;
#endif
        default:
            break;
        }
    }
    return true;
}

} // namespace

QByteArray printRecord(const QString& value) {
    return value.toLocal8Bit() + CrLf;
}

QByteArray printRecord(const QString& first, const QString& second) {
    const qsizetype column = first.size();
    const qsizetype nextZone = (column / PrintZoneWidth + 1) * PrintZoneWidth;
    return first.toLocal8Bit() + QByteArray(nextZone - column, ' ') + second.toLocal8Bit() + CrLf;
}

QByteArray writeRecord(const QStringList& values) {
    QByteArray line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0) line += ',';
        line += quoted(values.at(i));
    }
    return line + CrLf;
}

QByteArray placedCallsRecord(const QString& number, const QString& when) {
    return printRecord(number, when);
}

QString placedCallsWhen(const QDateTime& at, const QLocale& locale) {
    return locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(at.time(), QLocale::ShortFormat);
}

QString callLogFileName(const QString& displayName) {
    if (!canBePartOfFileName(displayName)) return QString();
    return displayName + QStringLiteral("_calllogs.csv");
}

QByteArray callLogRow(const QString& number, const QString& agent, const QString& callSeconds, const QString& time,
                      const QString& date, const QString& result) {
    return writeRecord({number, agent, callSeconds, time, date, result});
}

QString callLogTimeText(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString callLogDateText(const QDate& date, const QLocale& locale) {
    return locale.toString(date, QLocale::ShortFormat);
}

QString chatLogFileName(const QDate& day) {
    return QStringLiteral("chat_log_") + day.toString(QStringLiteral("ddMMyy")) + QStringLiteral(".txt");
}

QString chatStamp(const QDateTime& at) {
    return at.date().toString(QStringLiteral("ddMM")) + QLatin1Char('_') + QString::number(at.time().hour()) +
           QLatin1Char(':') + QString::number(at.time().minute());
}

QString chatLineSent(const QString& message, const QString& stamp) {
    return QStringLiteral("Me: ") + message + QLatin1Char('[') + stamp + QLatin1Char(']');
}

QString chatLineReceived(const QString& sender, const QString& message, const QString& stamp) {
    return sender + QStringLiteral(": ") + message + QLatin1Char('[') + stamp + QLatin1Char(']');
}

bool appendLogLine(const QString& path, const QByteArray& record) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return false;
    const qint64 before = file.size();
    const qint64 written = file.write(record);
    if (written != record.size()) {
        if (file.size() > before) file.resize(before); // no half row stays behind
        return false;
    }
    file.close();
    return file.error() == QFileDevice::NoError;
}

} // namespace corvid
