#pragma once
// The record a live call keeps on disk, so that a dialer killed in the middle of a call (a crash,
// SIGKILL, power loss) still gives the call its call-log row and its recording at the next start.
//
// One small text file per line, root/bin/calls/line<n>.call (the folder 0700, the file 0600: it
// holds the customer's number and the agent's name), rewritten through the private-file writer,
// so the file is always either the old or the new record:
//   corvid-live-call 1
//   line=0
//   number=5551234567
//   agent=Demo Agent
//   placed=2026-03-06T14:15:02.123+01:00
//   updated=2026-03-06T14:16:40.004+01:00
//   seconds=98
//   row=0
//   part=/root/bin/engine/recording/line0-part1.wav
//   part=/root/bin/engine/recording/line0.wav
//   q.call_id=...            the engine's figures of the call at the last update (CallQuality)
//   paused=<from> <to>       a stretch with the recording paused (<to> empty while it lasts)
//   cdr=0                    1 once the call-detail record is written
// Values are percent-encoded UTF-8 (a path or a name never breaks a line). Unknown keys are
// skipped, so a later version may add some.

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include "dialer/CallDetailRules.h"

#include <optional>

namespace corvid {

struct LiveCallRecord {
    int line = -1;          // the engine's 0-based line
    QString number;         // the number of the call, as its row would carry it
    QString agent;          // the display name when the call was placed: names the call log
    QDateTime placed;       // when the call was placed
    QDateTime updated;      // the last time the call was known to be up
    qint64 seconds = 0;     // seconds from placing to the last update
    QStringList parts;      // the files holding the call's unsaved recording, in order
    bool rowWritten = false; // set while recovering, once the row is in the call log
    CallQuality quality;     // the engine's figures at the last update
    QList<PausedInterval> paused;
    bool detailWritten = false; // set while recovering, once the call-detail record is written

    bool operator==(const LiveCallRecord& o) const {
        return line == o.line && number == o.number && agent == o.agent && placed == o.placed && updated == o.updated &&
               seconds == o.seconds && parts == o.parts && rowWritten == o.rowWritten && paused == o.paused &&
               detailWritten == o.detailWritten && liveQualityEqual(quality, o.quality);
    }
    static bool liveQualityEqual(const CallQuality& a, const CallQuality& b);
};

QByteArray liveCallText(const LiveCallRecord& record);
// nullopt when the text is not a record (wrong first line, no valid line, no placing time).
std::optional<LiveCallRecord> parseLiveCall(const QByteArray& text);

// "line1.call" for line index 0: the record's file name in the records' folder.
QString liveCallFileName(int line);
// Whether name is one of those file names.
bool isLiveCallFileName(const QString& name);

// The call-detail record of an interrupted call: ended by the dialer's stop at the last update,
// with the row's result word, the figures of that update and the recording joined at recording.
CallDetail interruptedCallDetail(const LiveCallRecord& record, const QString& recording);

// The row of an interrupted call, with what the dialer knew at the record's last update: the
// number, the agent, the seconds, the time and date of the last update, and the result word
// callresult::DialerStopped.
QStringList interruptedCallRow(const LiveCallRecord& record, const QLocale& locale);
// The recording's path in messagesDir as a call end at the last update would have named it:
// the number trimmed, the date and time of the last update.
QString interruptedCallRecordingPath(const LiveCallRecord& record, const QString& messagesDir);

} // namespace corvid
