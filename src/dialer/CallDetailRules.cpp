#include "dialer/CallDetailRules.h"

#include "dialer/LogRecords.h"

namespace corvid {

namespace {

void appendEscaped(QByteArray& out, char32_t c) {
    static const char hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += hex[(c >> shift) & 0xf];
}

QByteArray number(double value) {
    if (value < 0) return QByteArrayLiteral("null");
    return QByteArray::number(value, 'f', 1);
}

QByteArray count(qint64 value) {
    return value < 0 ? QByteArrayLiteral("null") : QByteArray::number(value);
}

QByteArray status(int code) {
    return code > 0 ? QByteArray::number(code) : QByteArrayLiteral("null");
}

QByteArray textOrNull(const QString& text) {
    return text.isEmpty() ? QByteArrayLiteral("null") : jsonString(text);
}

QByteArray stampOrNull(const QDateTime& at) {
    return at.isValid() ? jsonString(callDetailStamp(at)) : QByteArrayLiteral("null");
}

} // namespace

QByteArray jsonString(const QString& text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        switch (c) {
        case u'"':
            out += "\\\"";
            continue;
        case u'\\':
            out += "\\\\";
            continue;
        case u'\n':
            out += "\\n";
            continue;
        case u'\r':
            out += "\\r";
            continue;
        case u'\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (c < 0x20 || c == 0x7f || c == 0x2028 || c == 0x2029) {
            appendEscaped(out, c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            out += QString(text.constData() + i, 2).toUtf8();
            ++i;
        } else if (QChar::isSurrogate(c)) {
            appendEscaped(out, 0xfffd);
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    out += '"';
    return out;
}

QString callDetailStamp(const QDateTime& at) {
    const int offset = at.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray callDetailLine(const CallDetail& d) {
    const CallQuality& q = d.quality;
    QByteArray paused = "[";
    for (const PausedInterval& p : d.paused) {
        if (paused.size() > 1) paused += ',';
        paused += "{\"from\":" + stampOrNull(p.from) + ",\"to\":" + stampOrNull(p.to) + '}';
    }
    paused += ']';
    QByteArray line = "{";
    const auto add = [&line](const char* name, const QByteArray& value) {
        if (line.size() > 1) line += ',';
        line += '"';
        line += name;
        line += "\":";
        line += value;
    };
    add("line", QByteArray::number(d.line + 1));
    add("number", jsonString(d.number));
    add("agent", jsonString(d.agent));
    add("start", stampOrNull(d.start));
    add("end", stampOrNull(d.end));
    add("seconds", QByteArray::number(qMax<qint64>(0, d.seconds)));
    add("result", d.hasRow ? jsonString(d.result) : QByteArrayLiteral("null"));
    add("ended_by", textOrNull(d.endedBy));
    add("invite_status", status(q.inviteStatus));
    add("invite_reason", textOrNull(q.inviteReason));
    add("end_status", status(q.endStatus));
    add("end_reason", textOrNull(q.endReason));
    add("call_id", textOrNull(q.sipCallId));
    add("transport", textOrNull(q.transport));
    add("media_encryption", textOrNull(q.mediaEncryption));
    add("codec", textOrNull(q.codec));
    add("local_rtp", textOrNull(q.localRtp));
    add("remote_rtp", textOrNull(q.remoteRtp));
    add("packets_sent", count(q.packetsSent));
    add("packets_received", count(q.packetsReceived));
    add("packets_lost", count(q.packetsLost));
    add("loss_percent", number(q.lossPercent));
    add("jitter_ms", number(q.jitterMs));
    add("round_trip_ms", number(q.roundTripMs));
    add("quality_rating", number(q.qualityRating));
    add("recording", textOrNull(d.recording));
    add("paused", paused);
    line += "}\n";
    return line;
}

QString callDetailFileName(const QString& displayName) {
    const QString csv = callLogFileName(displayName);
    if (csv.isEmpty()) return {};
    return displayName + QStringLiteral("_calls.jsonl");
}

QString poorAudioText(int line, const CallQuality& q) {
    const QString label = QStringLiteral("Line-%1").arg(line + 1, 2);
    if (q.lossPercent > PoorLossPercent)
        return QStringLiteral("%1: poor audio (%2 % lost)").arg(label).arg(qRound(q.lossPercent));
    if (q.jitterMs > PoorJitterMs)
        return QStringLiteral("%1: poor audio (%2 ms jitter)").arg(label).arg(qRound(q.jitterMs));
    return {};
}

} // namespace corvid
