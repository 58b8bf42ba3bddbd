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

// The figures of CallQuality as the record's "q." keys: text and number fields by name.
struct QualityText {
    const char* key;
    QString CallQuality::*member;
};
const QualityText kQualityTexts[] = {
    {"q.call_id", &CallQuality::sipCallId},          {"q.invite_reason", &CallQuality::inviteReason},
    {"q.end_reason", &CallQuality::endReason},       {"q.transport", &CallQuality::transport},
    {"q.encryption", &CallQuality::mediaEncryption}, {"q.codec", &CallQuality::codec},
    {"q.local_rtp", &CallQuality::localRtp},         {"q.remote_rtp", &CallQuality::remoteRtp},
};
struct QualityCount {
    const char* key;
    qint64 CallQuality::*member;
};
const QualityCount kQualityCounts[] = {
    {"q.sent", &CallQuality::packetsSent},
    {"q.received", &CallQuality::packetsReceived},
    {"q.lost", &CallQuality::packetsLost},
};
struct QualityFigure {
    const char* key;
    double CallQuality::*member;
};
const QualityFigure kQualityFigures[] = {
    {"q.loss", &CallQuality::lossPercent},
    {"q.jitter", &CallQuality::jitterMs},
    {"q.rtt", &CallQuality::roundTripMs},
    {"q.rating", &CallQuality::qualityRating},
};

} // namespace

bool LiveCallRecord::liveQualityEqual(const CallQuality& a, const CallQuality& b) {
    return liveCallText({-1, {}, {}, {}, {}, 0, {}, false, a, {}, false}) ==
           liveCallText({-1, {}, {}, {}, {}, 0, {}, false, b, {}, false});
}

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
    if (r.quality.known) {
        text += field("q.invite", QString::number(r.quality.inviteStatus));
        text += field("q.end", QString::number(r.quality.endStatus));
        text += field("q.by_far_end", r.quality.endedByFarEnd ? QStringLiteral("1") : QStringLiteral("0"));
        for (const QualityText& t : kQualityTexts)
            text += field(t.key, r.quality.*t.member);
        for (const QualityCount& c : kQualityCounts)
            text += field(c.key, QString::number(r.quality.*c.member));
        for (const QualityFigure& f : kQualityFigures)
            text += field(f.key, QString::number(r.quality.*f.member, 'g', 10));
    }
    for (const PausedInterval& p : r.paused)
        text += field("paused", stamp(p.from) + QLatin1Char(' ') + (p.to.isValid() ? stamp(p.to) : QString()));
    text += field("cdr", r.detailWritten ? QStringLiteral("1") : QStringLiteral("0"));
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
        else if (key == "cdr")
            r.detailWritten = value == QLatin1String("1");
        else if (key == "paused") {
            const QStringList ends = value.split(QLatin1Char(' '));
            const PausedInterval p{QDateTime::fromString(ends.value(0), Qt::ISODateWithMs),
                                   QDateTime::fromString(ends.value(1), Qt::ISODateWithMs)};
            if (p.from.isValid()) r.paused << p;
        } else if (key.startsWith("q.")) {
            r.quality.known = true;
            if (key == "q.invite") r.quality.inviteStatus = value.toInt();
            if (key == "q.end") r.quality.endStatus = value.toInt();
            if (key == "q.by_far_end") r.quality.endedByFarEnd = value == QLatin1String("1");
            for (const QualityText& t : kQualityTexts)
                if (key == t.key) r.quality.*t.member = value;
            for (const QualityCount& c : kQualityCounts)
                if (key == c.key) r.quality.*c.member = value.toLongLong();
            for (const QualityFigure& f : kQualityFigures)
                if (key == f.key) r.quality.*f.member = value.toDouble();
        }
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

CallDetail interruptedCallDetail(const LiveCallRecord& r, const QString& recording) {
    CallDetail d;
    d.line = r.line;
    d.number = r.number;
    d.agent = r.agent;
    d.start = r.placed;
    d.end = r.updated;
    d.seconds = r.seconds;
    d.result = callresult::DialerStopped;
    d.hasRow = true;
    d.endedBy = endedby::DialerStopped;
    d.quality = r.quality;
    d.recording = recording;
    d.paused = r.paused;
    for (PausedInterval& p : d.paused)
        if (!p.to.isValid()) p.to = r.updated;
    return d;
}

QString interruptedCallRecordingPath(const LiveCallRecord& r, const QString& messagesDir) {
    return RecordingFileName(messagesDir, r.number.trimmed(), r.updated);
}

} // namespace corvid
