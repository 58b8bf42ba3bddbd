#include "calls/LineRules.h"

#include <QStringList>

#include "platform/Blanks.h"

namespace corvid {

QString blankPrefixedNumber(int n) {
    return n >= 0 ? QLatin1Char(' ') + QString::number(n) : QString::number(n);
}

QString lineLabel(int line) {
    return QStringLiteral("Line-") + blankPrefixedNumber(line + 1);
}

QString callSecurityText(const QList<int>& busyLines, const QList<int>& clearLines) {
    if (clearLines.isEmpty()) return QStringLiteral("SRTP");
    if (clearLines.size() == busyLines.size()) return QStringLiteral("not encrypted");
    QStringList numbers;
    for (int line : clearLines)
        numbers << QString::number(line + 1);
    return QStringLiteral("not encrypted (line %1)").arg(numbers.join(QStringLiteral(", ")));
}

QString lineNumberText(int line) {
    return blankPrefixedNumber(line + 1);
}

QString lineStatusLogLine(int line, const QString& suffix) {
    return lineLabel(line) + suffix;
}

QString statusMirrorText(const QString& statusLogLine) {
    return trimBlanks(statusLogLine.left(MirrorMaxChars));
}

CallFailure classifyCallFailure(const QString& mirrorText) {
    const QString t = trimBlanks(mirrorText).toLower();
    if (t == QLatin1String("busy here")) return CallFailure::Busy;
    static const char* const badNumber[] = {"forbidden", "server internal failure", "service unavailable",
                                            "temporarily unavailable", "not found"};
    for (const char* words : badNumber) {
        if (t == QLatin1String(words)) return CallFailure::BadNumber;
    }
    return CallFailure::None;
}

QString callFailureCaption(CallFailure failure) {
    switch (failure) {
    case CallFailure::Busy:
        return QStringLiteral("BUSY");
    case CallFailure::BadNumber:
        return QStringLiteral("Bad Number");
    case CallFailure::None:
        break;
    }
    return QString();
}

QString failureResultText(const QString& mirrorText) {
    return callFailureCaption(classifyCallFailure(mirrorText));
}

QString lineStatusWord(const std::function<bool()>& isOpen, const std::function<bool()>& isBusy,
                       const std::function<bool()>& isPlayingWave, const std::function<bool()>& isOnHold) {
    if (!isOpen()) return linestatus::Close;
    if (!isBusy()) return linestatus::Free;
    if (isPlayingWave()) return linestatus::Playing;
    if (isOnHold()) return linestatus::Hold;
    return linestatus::Busy;
}

bool lineStatusNeedsUpdate(const QString& currentText, const QString& word) {
    return !currentText.contains(word, Qt::CaseSensitive);
}

} // namespace corvid
