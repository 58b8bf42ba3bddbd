#pragma once
// Rules of the incoming-call panel that need no window: how a caller's number and name from the
// network are shown, and what the settings for taking, answering and refusing calls say.

#include <QString>

namespace corvid {

// A caller's number or name as it came over the network, fit to show and to log: control and
// formatting characters dropped, runs of blanks made one, blanks at the ends removed, at most
// CallerIdMaxChars characters.
constexpr int CallerIdMaxChars = 64;
QString cleanCallerId(const QString& outside);

// The number a call without one is shown and logged with.
inline const QString AnonymousCaller = QStringLiteral("anonymous");

// An entry of the incoming-call list: the number, then the name when it says more.
QString incomingEntryText(const QString& number, const QString& name);

// Setting AutoAnswer: "PbxRequested" answers what the PBX asks to have answered, "Always" every
// call; anything else (the default) none.
enum class AutoAnswerMode { Off, PbxRequested, Always };
AutoAnswerMode autoAnswerMode(const QString& setting);

// Setting RejectCode: "603" refuses with 603 Decline; anything else with 486 Busy Here.
int rejectCode(const QString& setting);

} // namespace corvid
