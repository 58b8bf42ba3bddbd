#pragma once
// Rules of the dial automation that need no window: the number a text asks for, what a clipboard
// text commands, the order in which datalink files are served, the shape of a journal field, and
// the dial file a click-to-dial link becomes.

#include <QString>

#include <optional>

namespace corvid::automation {

constexpr int TickMs = 500;      // one request per channel per this time
constexpr int DefaultSwipe = 14; // the swipe length when the setting is empty
inline const QString HangUpWord = QStringLiteral("#hangup");
inline const QString EndWord = QStringLiteral("*END*");
inline const QString MessageDropWord = QStringLiteral("#pam");
inline const QString AnswerWord = QStringLiteral("#answer");
inline const QString RejectWord = QStringLiteral("#reject");
inline const QString PauseRecordingWord = QStringLiteral("#pauserec");
inline const QString ResumeRecordingWord = QStringLiteral("#resumerec");
inline const QString NotOnLineCaption = QStringLiteral("You Are Not On Line!!!");
inline const QString DialSuffix = QStringLiteral(".dia");
inline const QString EndSuffix = QStringLiteral(".end");
inline const QString PauseSuffix = QStringLiteral(".pause");
inline const QString ResumeSuffix = QStringLiteral(".resume");

// The number a text asks for: its digits 0-9 in order; after a leading "1" the next ten, otherwise
// the first ten. Empty unless exactly ten digits result, and empty for a text with more than ten
// digits (hasTooManyDigits): a number is never cut to fit.
QString dialNumberRule(const QString& text);

// Whether a text holds more digits 0-9 than a number has: more than ten, except eleven starting
// with "1" (the 1 is dropped). Such a text is not dialled: its first ten digits would call a
// stranger (an international number, a number with its extension stuck to it).
bool hasTooManyDigits(const QString& text);
inline const QString TooManyDigitsOutcome = QStringLiteral("not dialled: more than ten digits");

// The leading number of a text ("14", "30 chars" -> 30; "", "x" -> 0).
int leadingNumber(const QString& text);

struct ClipboardRequest {
    enum Kind { Ignore, HangUp, MessageDrop, Dial, Answer, Reject, PauseRecording, ResumeRecording };
    Kind kind = Ignore;
    QString number;       // the ten digits of a dial request
    QString command;      // the text after the pipe record is split (what the rules looked at)
    bool tooLong = false; // ignored because longer than the swipe length
    bool tooManyDigits = false; // not dialled: more than ten digits (hasTooManyDigits)
};

// What the clipboard text asks for: blanks trimmed; longer than swipeLength characters is ignored;
// a pipe record is cut to the piece between its first two "|"; "*END*" and "#hangup" end the call,
// "#pam" drops the message, "#answer" and "#reject" answer or refuse the ringing call, "#pauserec"
// and "#resumerec" pause and resume the call's recording (exact case); anything else dials when
// dialNumberRule yields a number.
ClipboardRequest parseClipboardRequest(const QString& clipboardText, int swipeLength);

// The datalink listings are served greatest name first, names compared without regard to case
// (names equal but for case are ordered case-sensitively, so the order is total).
bool datalinkNameGreater(const QString& a, const QString& b);

// A datalink file's kind by its extension, without regard to case.
bool isDialFileName(const QString& name);
bool isEndFileName(const QString& name);
// A pause or resume file ("*.pause", "*.resume"): the command word it hands over, else empty.
QString recordingCommandForFile(const QString& name);

// One field of a journal line: tabs, line breaks and other control characters become "\xNN"
// (a name cannot forge a line or a column), and a text longer than maxChars is cut with its length.
QString journalField(const QString& text, int maxChars = 200);

// The dial file a click-to-dial argument asks for: ten digits + ".dia". The argument is a number
// as typed ("(555) 123-4567", "+1 555 123 4567") or a tel:, sip:, sips: or callto: link, whose user
// part is read (percent-decoded, without parameters or host). nullopt when it holds no number that
// dialNumberRule accepts.
std::optional<QString> dialFileNameForLink(const QString& argument);
// The text of a click-to-dial argument the number rule reads: a link's user part, or the argument.
QString dialLinkNumberText(const QString& argument);

} // namespace corvid::automation
