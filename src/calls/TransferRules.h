#pragma once
// Rules of the mid-call controls that need no window: which part of the transfer text is dialled,
// what a blind transfer hands the call to, and the texts these controls show.

#include <QString>

#include <optional>

namespace corvid {

namespace transfer {
// A transfer text of exactly this many characters is a number on its own.
constexpr int WholeNumberLength = 10;
// Otherwise the number ends at the first blank among this many leading characters.
constexpr int BlankSearchChars = 50;
// The waits of the transfer-target call and of the supervised transfer and three-way steps.
constexpr int TargetCallWaitMs = 500;
constexpr int StepWaitMs = 100;

inline const QString DifferentLinesMessage = QStringLiteral("Please select two different lines.");
} // namespace transfer

// The number part of a transfer text (an entry may carry a name after a blank): the whole text when
// it is exactly transfer::WholeNumberLength characters long; otherwise everything before the first
// blank among its first transfer::BlankSearchChars characters; nothing when they hold no blank.
std::optional<QString> transferNumberPart(const QString& text);

// The target a blind transfer hands the call to: the pre-dial text without blanks around it,
// immediately followed by the whole transfer text.
QString blindTransferTarget(const QString& preDial, const QString& transferText);

// The status-log line of a transfer the far end took: "Line- 1: Transfer accepted." for line 0.
QString transferAcceptedStatusLine(int line);
// The status-log line of a transfer that failed: "Fail to Transfer: " + reason.
QString transferFailedStatusLine(const QString& reason);

} // namespace corvid
