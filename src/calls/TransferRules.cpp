#include "calls/TransferRules.h"

#include "calls/LineRules.h"
#include "platform/Blanks.h"

namespace corvid {

std::optional<QString> transferNumberPart(const QString& text) {
    if (text.size() == transfer::WholeNumberLength) return text;
    const qsizetype blank = text.left(transfer::BlankSearchChars).indexOf(QLatin1Char(' '));
    if (blank < 0) return std::nullopt;
    return text.left(blank);
}

QString blindTransferTarget(const QString& preDial, const QString& transferText) {
    return trimBlanks(preDial) + transferText;
}

QString transferAcceptedStatusLine(int line) {
    return lineStatusLogLine(line, QStringLiteral(": Transfer accepted."));
}

QString transferFailedStatusLine(const QString& reason) {
    return QStringLiteral("Fail to Transfer: ") + reason;
}

} // namespace corvid
