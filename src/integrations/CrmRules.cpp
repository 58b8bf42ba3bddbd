#include "integrations/CrmRules.h"

#include <QRegularExpression>
#include <QUrl>

#include "platform/Blanks.h"

namespace corvid {

namespace {

QString queryValue(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

bool isDeviceName(const QString& name) {
    // Windows opens the device whatever follows the first dot ("con.txt", "nul.a.txt").
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com[1-9]|lpt[1-9]) *(\\..*)?$"),
                                           QRegularExpression::CaseInsensitiveOption);
    return device.match(name).hasMatch();
}

} // namespace

QString crmHost(const QString& configuredValue) {
    const QString configured = trimBlanks(configuredValue);
    return configured.isEmpty() ? QStringLiteral(CORVID_CRM_HOST) : configured;
}

QString crmPageAddress(const QString& host, const QString& user, const QString& password, const QString& workGroup,
                       const QString& callerId) {
    // The host may carry its scheme ("https://crm.example"); a bare host is reached over plain HTTP.
    QString base = host;
    const bool withScheme = base.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
                            base.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
    if (!withScheme) base.prepend(QStringLiteral("http://"));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1String(CrmPagePath) + QStringLiteral("?u=") + queryValue(user) + QStringLiteral("&p=") +
           queryValue(password) + QStringLiteral("&w=") + queryValue(workGroup) + QStringLiteral("&phone=") +
           queryValue(trimBlanks(callerId));
}

QString callerIdFileName(const QString& callerId) {
    if (callerId.isEmpty() || callerId.contains(QLatin1String(".."))) return QString();
    for (const QChar c : callerId) {
        if (c.category() == QChar::Other_Control || QStringLiteral("/\\:*?\"<>|").contains(c)) return QString();
    }
    const QString name = callerId + QStringLiteral(".txt");
    if (isDeviceName(name) || name.toUtf8().size() > 255) return QString();
    return name;
}

} // namespace corvid
