#pragma once
// The call-detail record: one JSON object per call, one line of root/logs/<display name>_calls.jsonl,
// written at the call's end beside its CSV row (and by the recovery of a call a stopped dialer left).
// The field names are documented in the README. The rules here need no window: the record's line,
// the escaping of outside text into a JSON string, the file name and the poor-audio rule.

#include "engine/SipEngine.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace corvid {

// A stretch of a call during which its recording was paused; to is invalid while it lasts.
struct PausedInterval {
    QDateTime from;
    QDateTime to;
    bool operator==(const PausedInterval& o) const { return from == o.from && to == o.to; }
};

// Who ended the call, as the record names it.
namespace endedby {
inline const QString Agent = QStringLiteral("agent");
inline const QString FarEnd = QStringLiteral("far end");
inline const QString Automation = QStringLiteral("automation");
inline const QString DialerStopped = QStringLiteral("dialer stopped");
} // namespace endedby

struct CallDetail {
    int line = -1; // the engine's 0-based line; the record says line + 1, as the window does
    QString number;
    QString agent; // the display name
    QDateTime start, end;
    qint64 seconds = 0;
    QString result; // the CSV row's result word; null in the record when the call has no row
    bool hasRow = false;
    QString endedBy;
    CallQuality quality;
    QString recording; // the saved recording's path; empty: none
    QList<PausedInterval> paused;
};

// A JSON string literal for text, quotes included: '"' and '\' escaped, every control character
// (U+0000 to U+001F, U+007F) and the line and paragraph separators as \uXXXX (or \n, \t, ...), a
// lone surrogate as \uFFFD; the rest as UTF-8. The result never holds a raw line break.
QByteArray jsonString(const QString& text);

// The record as one line: a JSON object and "\n".
QByteArray callDetailLine(const CallDetail& detail);

// The display name + "_calls.jsonl"; empty when the display name names no file (the CSV's rule).
QString callDetailFileName(const QString& displayName);

// A call whose received stream lost more than this share of its packets, or whose interarrival
// jitter was above this, had poor audio.
inline constexpr double PoorLossPercent = 5.0;
inline constexpr double PoorJitterMs = 40.0;
// The status-log line of a call with poor audio ("Line- 1: poor audio (12 % lost)"); empty when
// the call's audio was not poor or nothing was measured.
QString poorAudioText(int line, const CallQuality& quality);

// The record's time stamps: ISO 8601 with milliseconds and the UTC offset.
QString callDetailStamp(const QDateTime& at);

} // namespace corvid
