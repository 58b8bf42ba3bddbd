#include "media/PauseRules.h"

namespace corvid::pause {

Answer decide(bool pause, int line, const LineState& s) {
    const QString label = QStringLiteral("Line-%1").arg(line + 1, 2);
    if (!s.callUp) return {Verdict::Refused, QStringLiteral("refused: no call is up on %1").arg(label)};
    if (pause) {
        if (s.paused) return {Verdict::AlreadyDone, QStringLiteral("already paused (%1)").arg(label)};
        if (!s.recording)
            return {Verdict::Refused, QStringLiteral("refused: the call on %1 is not recorded").arg(label)};
        return {Verdict::Act, QStringLiteral("recording paused (%1)").arg(label)};
    }
    if (s.paused) return {Verdict::Act, QStringLiteral("recording resumed (%1)").arg(label)};
    if (s.recording) return {Verdict::AlreadyDone, QStringLiteral("not paused: the recording runs (%1)").arg(label)};
    return {Verdict::Refused, QStringLiteral("refused: the call on %1 is not recorded").arg(label)};
}

int maxPauseSeconds(const QString& setting) {
    bool ok = false;
    const int seconds = setting.trimmed().toInt(&ok);
    return ok && seconds > 0 ? seconds : 0;
}

} // namespace corvid::pause
