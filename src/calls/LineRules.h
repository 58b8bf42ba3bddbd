#pragma once
// Rules of the line model that need no window: how a line is named on screen and in the status
// log, the line status word, and the classification of a refused call from its status-log line.

#include <QList>
#include <QString>

#include <functional>

namespace corvid {

// A number written the way every line label writes it: a blank before a non-negative number,
// the minus sign before a negative one (" 1", " 10", "-1").
QString blankPrefixedNumber(int n);

// The label of a line in the line choice lists and in status-log lines: "Line-" + the line index
// plus one, blank-prefixed. Line 0 is "Line- 1", line 9 is "Line- 10".
QString lineLabel(int line);

// The text of a line's row in the line status table: the line index plus one, blank-prefixed,
// without "Line-" (line 0 gives " 1").
QString lineNumberText(int line);

// A status-log line about a line: lineLabel(line) + suffix, e.g. ": Dialing - 5551234567".
QString lineStatusLogLine(int line, const QString& suffix);

// The status mirror keeps the first MirrorMaxChars characters of the newest status-log line,
// without blanks around them.
constexpr int MirrorMaxChars = 50;
QString statusMirrorText(const QString& statusLogLine);

// The reaction to a refused call, from the mirror's text.
enum class CallFailure { None, Busy, BadNumber };

// Classifies the text by whole-text equality after trimming blanks and ignoring case:
// "busy here" is Busy; "forbidden", "server internal failure", "service unavailable",
// "temporarily unavailable" and "not found" are BadNumber; anything else (the empty text, a
// status code or "Line-" prefix in front of the words) is None.
CallFailure classifyCallFailure(const QString& mirrorText);

// The caption shown for a classification: "BUSY", "Bad Number", or "" for None.
QString callFailureCaption(CallFailure failure);

// classifyCallFailure and callFailureCaption in one: the caption shown, or "" when the text
// classifies as nothing.
QString failureResultText(const QString& mirrorText);

// The five words of the line status table.
namespace linestatus {
inline const QString Close = QStringLiteral("close");
inline const QString Free = QStringLiteral("free");
inline const QString Busy = QStringLiteral("busy");
inline const QString Hold = QStringLiteral("hold");
inline const QString Playing = QStringLiteral("playing");
} // namespace linestatus

// The status word of one line. The engine is asked in this order and no further than needed:
// not open gives "close"; open but not busy "free"; playing a wave file "playing" (even when held);
// held "hold"; otherwise "busy".
QString lineStatusWord(const std::function<bool()>& isOpen, const std::function<bool()>& isBusy,
                       const std::function<bool()>& isPlayingWave, const std::function<bool()>& isOnHold);

// Whether a row showing currentText is rewritten with word: only when the text does not already
// contain the word (case-sensitive).
bool lineStatusNeedsUpdate(const QString& currentText, const QString& word);

// The security of the calls that are up (busy lines, 0-based, in order), for LineSecurity: "SRTP"
// when every one has encrypted media, otherwise "not encrypted" with the lines that have not
// ("not encrypted (line 2)" when another line's call is encrypted).
QString callSecurityText(const QList<int>& busyLines, const QList<int>& clearLines);

// The selected entry of each line choice list after the lists are filled: entry 1 for the second
// consultation list (so the two consultation lists start on different lines), entry 0 otherwise.
constexpr int ConsultLineBStartIndex = 1;
constexpr int LineListStartIndex = 0;

} // namespace corvid
