#pragma once
// Record formats and file names of the log files under root/logs, and the one way a record is
// added to a log file. The program never reads these files; other programs do, so the formats are
// kept exactly: text in the locale encoding, one record per line, each line ending in CR LF.
//
// Two record styles:
//  - print style: the values as they are, nothing around them;
//  - write style: every value between double quotes, values separated by commas, a double quote
//    inside a value doubled (as CSV readers expect), an empty value as "". A value without quotes
//    is written as it is.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

namespace corvid {

// Print style, one value: the value + CR LF.
QByteArray printRecord(const QString& value);

// Print style, two values on one line: the first value, blanks up to the next print zone (a
// multiple of PrintZoneWidth characters, at least one blank, so the two values never run into
// each other), the second value, CR LF.
constexpr int PrintZoneWidth = 14;
QByteArray printRecord(const QString& first, const QString& second);

// Write style: "v1","v2",... + CR LF.
QByteArray writeRecord(const QStringList& values);

// The placed-calls file and its record: the dialled number and the date and time of the call.
inline const QString PlacedCallsFileName = QStringLiteral("callsout.txt");
QByteArray placedCallsRecord(const QString& number, const QString& when);
// The "when" of a placed call: the locale's short date, one blank, the locale's short time.
QString placedCallsWhen(const QDateTime& at, const QLocale& locale = QLocale::system());

// The agent's CSV call log: display name + "_calllogs.csv" (just "_calllogs.csv" for an empty
// name). Empty when the display name holds a character that cannot be part of one file name
// (a path separator, a control character, or one of : * ? " < > |): such a name would put the file
// somewhere else or nowhere, so no file is named for it. The name is never altered, because other
// programs look for the file by the agent's display name.
QString callLogFileName(const QString& displayName);

// One CSV call-log row, write style: number, agent, call seconds, time, date, result.
QByteArray callLogRow(const QString& number, const QString& agent, const QString& callSeconds, const QString& time,
                      const QString& date, const QString& result);
// The time of a row, "HH:MM:SS" (24-hour, two digits each).
QString callLogTimeText(const QTime& time);
// The date of a row: the locale's short date.
QString callLogDateText(const QDate& date, const QLocale& locale = QLocale::system());

// The result words of the call-log triggers.
namespace callresult {
inline const QString BlindTransfer = QStringLiteral("Blind Transfer");
inline const QString SupervisedTransfer = QStringLiteral("Supervised Transfer");
inline const QString AnsweringMachine = QStringLiteral("Answering Machine");
inline const QString HangUp = QStringLiteral("hang up");
inline const QString FarEndHungUp; // the far end's hang-up writes an empty result
// A call that was up when the dialer was stopped (killed, crashed, power lost), written at the next start.
inline const QString DialerStopped = QStringLiteral("dialer stopped");
// A call that came in and was answered; one that rang out or that its caller gave up.
inline const QString Incoming = QStringLiteral("incoming");
inline const QString Missed = QStringLiteral("missed");
} // namespace callresult

// The daily chat log: "chat_log_" + date as DDMMYY + ".txt".
QString chatLogFileName(const QDate& day);
// The stamp of a chat line: the date as DDMM, "_", the time as H:M without leading zeros
// (6 March, 09:05 gives "0603_9:5").
QString chatStamp(const QDateTime& at);
// A chat line sent by the agent: "Me: " + message + "[" + stamp + "]".
QString chatLineSent(const QString& message, const QString& stamp);
// A chat line received: sender + ": " + message + "[" + stamp + "]".
QString chatLineReceived(const QString& sender, const QString& message, const QString& stamp);

// Appends one whole record (a line already ending in CR LF) to the file at path: opens it for
// appending (creating it when absent, never its folder), writes the line in one write, closes it.
// True only when the whole line reached the file. When a write stops partway (a full disk), the
// part written is cut off again, so no reader ever finds half a row and nothing is reported
// written that was not.
bool appendLogLine(const QString& path, const QByteArray& record);

} // namespace corvid
