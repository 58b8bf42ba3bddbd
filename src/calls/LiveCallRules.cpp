#include "calls/LiveCallRules.h"

#include "dialer/LogRecords.h"
#include "media/RecordingFileName.h"

#include <QRegularExpression>
#include <QUrl>

namespace corvid {

namespace {

const QByteArray kMagic = QByteArrayLiteral("corvid-live-call 1");

QByteArray field(const char* key, const QString& value) {
    return QByteArray(key) + '=' + QUrl::toPercentEncoding(value) + '\n';
}

QString stamp(const QDateTime& at) {
    return at.toString(Qt::ISODateWithMs);
}

} // namespace

QByteArray liveCallText(const LiveCallRecord& r) {
    QByteArray text = kMagic + '\n';
    text += field("line", QString::number(r.line));
    text += field("number", r.number);
    text += field("agent", r.agent);
    text += field("placed", stamp(r.placed));
    text += field("updated", stamp(r.updated));
    text += field("seconds", QString::number(r.seconds));
    text += field("row", r.rowWritten ? QStringLiteral("1") : QStringLiteral("0"));
    for (const QString& part : r.parts)
        text += field("part", part);
    return text;
}

std::optional<LiveCallRecord> parseLiveCall(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != kMagic) return std::nullopt;
    LiveCallRecord r;
    bool lineOk = false;
    for (const QByteArray& raw : lines.mid(1)) {
        const qsizetype eq = raw.indexOf('=');
        if (eq <= 0) continue;
        const QByteArray key = raw.left(eq);
        const QString value = QUrl::fromPercentEncoding(raw.mid(eq + 1));
        if (key == "line")
            r.line = value.toInt(&lineOk);
        else if (key == "number")
            r.number = value;
        else if (key == "agent")
            r.agent = value;
        else if (key == "placed")
            r.placed = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "updated")
            r.updated = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "seconds")
            r.seconds = qMax<qint64>(0, value.toLongLong());
        else if (key == "row")
            r.rowWritten = value == QLatin1String("1");
        else if (key == "part" && !value.isEmpty())
            r.parts << value;
    }
    if (!lineOk || r.line < 0 || !r.placed.isValid()) return std::nullopt;
    if (!r.updated.isValid()) r.updated = r.placed;
    return r;
}

QString liveCallFileName(int line) {
    return QStringLiteral("line%1.call").arg(line + 1);
}

bool isLiveCallFileName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^line[1-9][0-9]*\\.call$"));
    return pattern.match(name).hasMatch();
}

QStringList interruptedCallRow(const LiveCallRecord& r, const QLocale& locale) {
    return {r.number,
            r.agent,
            QString::number(r.seconds),
            callLogTimeText(r.updated.time()),
            callLogDateText(r.updated.date(), locale),
            callresult::DialerStopped};
}

QString interruptedCallRecordingPath(const LiveCallRecord& r, const QString& messagesDir) {
    return RecordingFileName(messagesDir, r.number.trimmed(), r.updated);
}

} // namespace corvid
