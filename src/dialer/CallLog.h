#pragma once
// The log files under root/logs: the placed-calls list, the agent's CSV call log, the daily chat
// log, and the one-line hand-over files of the CRM pop-up. Every record is one whole line written
// by one open-append-write-close, so another program reading the file never sees half a row.
// Also the two ways the status log is emptied: the "Clear" button and the log-clean tick.
//
// The writers answer whether the line reached the file. Callers that ignore failures may drop the
// answer; nothing here ever reports a record as written when it was not.

#include <QObject>
#include <QString>
#include <QStringList>

#include "dialer/CallDetailRules.h"

namespace corvid {

struct WindowContext;

class CallLog : public QObject {
    Q_OBJECT
public:
    explicit CallLog(WindowContext& ctx, QObject* parent = nullptr);

    // The writers: each appends one line ending in CR LF to path. The logs and datalink folders
    // of the install root are made again when they were removed while the program runs.
    bool writeOUTEntry(const QString& path, const QString& number, const QString& agent, const QString& seconds,
                       const QString& time, const QString& date, const QString& result);
    bool writePlacedCalls(const QString& path, const QString& number, const QString& when);
    bool writeIMFile(const QString& path, const QString& line);
    bool writeInFile(const QString& path, const QString& text);

    // One row of the agent's CSV call log, root/logs/<display name>_calllogs.csv: number, the text
    // of EditAccountDisplayName, callsec, the time as "HH:MM:SS", the system's short date, result.
    // With an empty display name the row is due only when evenWithoutDisplayName is true (the far
    // end's hang-up), and goes to "_calllogs.csv". Whenever the row is due, callsec becomes "0"
    // right after the attempt: its seconds belonged to the call that just ended, written or not.
    // A display name that cannot be one file name in the logs folder (a path separator, a control
    // character, : * ? " < > |) names no file: the row is not written rather than sent elsewhere.
    // Answers whether the row reached the file; false when it was not due, when the display name
    // names no file, or when the file refused the line.
    bool writeCallLogRow(const QString& number, const QString& result, bool evenWithoutDisplayName = false);
    // A row of a call that was never up (a missed call): seconds as given, callsec untouched, written
    // whatever the display name.
    bool writeCallLogRowOf(const QString& number, const QString& seconds, const QString& result);

    // One call-detail record (dialer/CallDetailRules.h) to root/logs/<display name>_calls.jsonl,
    // the display name being the call's agent; the status log says so when it is not written. Then,
    // when the call's audio was poor, one status-log line says so. Any call end may call it.
    bool writeCallDetail(const CallDetail& detail);

    // root/logs/callsout.txt
    QString placedCallsPath() const;
    // root/logs/chat_log_DDMMYY.txt for the day of the window's clock.
    QString chatLogPath() const;

    // "Clear": empties the status log and the number field.
    void onBtnClearLogClicked();
    // The log-clean tick: a one-shot that empties the status log 500 ms after a call ends.
    void onLogCleanTimerTimeout();

Q_SIGNALS:
    // A row reached the agent's CSV call log: its values in the file's order (number, agent,
    // seconds, time, date, result).
    void callLogRowWritten(const QStringList& row);
    // A call-detail record reached its file: the JSON object, without its line end.
    void callDetailWritten(const QByteArray& record);

private:
    bool appendRecord(const QString& path, const QByteArray& line);

    WindowContext& ctx;
};

} // namespace corvid
