#pragma once
// Rules of the manual telephone that need no window: how the dial pad extends the number field,
// which key sends which DTMF digit, the mailbox code, and the small texts of the Call action.

#include <QChar>
#include <QString>

#include <optional>

namespace corvid {

namespace dialpad {
// A digit key stops extending the number field when it holds exactly this many characters
// (9 or 11 and more are still extended).
constexpr int FullNumberLength = 10;
// The mailbox key ("Box#") sends these digits after a first wait, with a gap between two digits.
inline const QString MailboxCode = QStringLiteral("5807");
constexpr int MailboxFirstWaitMs = 1000;
constexpr int MailboxDigitGapMs = 300;
// The redial action waits this long between filling the number field and calling.
constexpr int RedialWaitMs = 100;
} // namespace dialpad

// A digit key or letter label: the field with digit appended, unless the field holds exactly
// dialpad::FullNumberLength characters (then it is returned unchanged).
QString appendDialPadDigit(const QString& field, QChar digit);

// The star key: always appends "*", whatever the length.
QString appendDialPadStar(const QString& field);

// One key of the dial pad, by the object name of its control.
struct DialPadKey {
    const char* control; // object name, e.g. "BtnDialPad1"
    const char* caption; // e.g. "Corvid"
    QChar appended;      // appended to the number field; null for the hash key
    bool lengthRule;     // true: appended only when the field is not exactly 10 characters long
    QChar dtmf;          // the DTMF digit sent on the current line
};

// The key of that control, or nullptr for a name that is not a dial pad key. The pad has no key
// for 1: "Corvid" and "Barge In" stand where the 1 and 3 keys are and send 2 and 3; the letter
// labels ("ABC" ... "WXYZ", "OPER") act as the digit of their key.
const DialPadKey* findDialPadKey(const QString& control);

// The number field after a press of key.
QString pressDialPadKey(const QString& field, const DialPadKey& key);

// The device number passed to the engine for the selected row of an audio device list: the row
// minus one, so the first entry ("Default Device") is -1.
inline int engineDeviceFromListRow(int row) {
    return row - 1;
}

// The force-in-band-DTMF box for a value of setting InBand: ticked for "True", unticked for
// "False", left alone (nullopt) for anything else, the empty text of a missing key included.
std::optional<bool> forceInBandFromSetting(const QString& value);

// The message of the Call action when the number field is empty.
inline const QString EmptyNumberMessage = QStringLiteral("Please enter a phone number.");

// The status caption of a placed call: "Dialing - " + number.
QString dialingCaption(const QString& number);

// The status-log line of a placed call: "Line- 1: Dialing - " + number for line 0.
QString dialingStatusLogLine(int line, const QString& number);

} // namespace corvid
