#pragma once
// Rules of agent monitoring that need no window: the monitored extension taken from a text, the
// feature codes and dial strings, and the extension of an agent-list entry.

#include <QString>

#include <optional>

namespace corvid {

// The PBX's feature codes; the extension follows the code with no separator.
inline const QString ListenCode = QStringLiteral("199");    // listen to the agent's call
inline const QString CoachCode = QStringLiteral("198");     // coach: the agent hears the supervisor
inline const QString AgentCallCode = QStringLiteral("*33"); // call the agent picked from the agent list

// MonitorTarget holds at most this many characters of its source.
constexpr int MonitorTargetMaxChars = 10;
// An agent-list entry's extension ends at an underscore within its first this-many characters.
constexpr int AgentEntryScanChars = 50;

// The extension being monitored: the first MonitorTargetMaxChars characters of source after the
// blanks around it are removed (" 5551234567890 " gives "5551234567").
QString monitorTargetFrom(const QString& source);

// code + target without blanks around it.
QString featureDialString(const QString& code, const QString& target);

// The extension of an agent-list entry ("204_Smith" gives "204", untrimmed): the text before the
// first "_" among the entry's first AgentEntryScanChars characters; nothing when there is none.
std::optional<QString> agentListExtension(const QString& entry);

} // namespace corvid
