#include "integrations/MonitorRules.h"

#include "platform/Blanks.h"

namespace corvid {

QString monitorTargetFrom(const QString& source) {
    return trimBlanks(source).left(MonitorTargetMaxChars);
}

QString featureDialString(const QString& code, const QString& target) {
    return code + trimBlanks(target);
}

std::optional<QString> agentListExtension(const QString& entry) {
    const qsizetype underscore = entry.left(AgentEntryScanChars).indexOf(QLatin1Char('_'));
    if (underscore < 0) return std::nullopt;
    return entry.left(underscore);
}

} // namespace corvid
