#include "chat/ChatRules.h"

namespace corvid {

namespace {
const QString kStatusTexts[] = {
    QStringLiteral("Online"),       QStringLiteral("Offline"), QStringLiteral("Away"),
    QStringLiteral("On the phone"), QStringLiteral("Busy"),
};
constexpr int kStatusCount = int(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]));
} // namespace

QString presenceText(int status) {
    return status >= 0 && status < kStatusCount ? kStatusTexts[status] : QString();
}

QStringList ownStatusEntries() {
    QStringList entries;
    for (const QString& text : kStatusTexts)
        entries << text;
    return entries;
}

QString chatUserOfEntry(const QString& entry) {
    const qsizetype blank = entry.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : entry.left(blank);
}

bool contactEntryIsFor(const QString& entry, const QString& user) {
    if (user.isEmpty()) return false;
    const qsizetype blank = entry.indexOf(QLatin1Char(' '));
    const QString name = blank < 0 ? entry : entry.left(blank);
    return name.compare(user, Qt::CaseInsensitive) == 0;
}

QString contactEntryWithStatus(const QString& user, int status) {
    return user + QStringLiteral(" [") + presenceText(status) + QLatin1Char(']');
}

bool isChatMarkup(const QString& text, const QString& contentType) {
    if (contentType.section(QLatin1Char(';'), 0, 0)
            .trimmed()
            .compare(QLatin1String("text/html"), Qt::CaseInsensitive) == 0)
        return true;
    if (!text.startsWith(QLatin1Char('<'))) return false;
    for (qsizetype at = text.indexOf(QLatin1Char('<')); at >= 0; at = text.indexOf(QLatin1Char('<'), at + 1)) {
        const QChar first = at + 1 < text.size() ? text.at(at + 1) : QChar();
        const bool opens = (first.unicode() < 128 && first.isLetter()) || first == QLatin1Char('/') ||
                           first == QLatin1Char('!') || first == QLatin1Char('?');
        const qsizetype close = text.indexOf(QLatin1Char('>'), at + 1);
        const qsizetype next = text.indexOf(QLatin1Char('<'), at + 1);
        if (!opens || close < 0 || (next >= 0 && next < close)) return false;
    }
    return true;
}

QString shownChatText(const QString& text, const QString& contentType) {
    if (!isChatMarkup(text, contentType)) return text;
    const qsizetype open = text.indexOf(QLatin1Char('>'));
    if (open < 0) return text;
    const qsizetype close = text.indexOf(QLatin1Char('<'), open + 1);
    return close < 0 ? text.mid(open + 1) : text.mid(open + 1, close - open - 1);
}

QString chatLogText(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

} // namespace corvid
