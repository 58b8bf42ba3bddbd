#include "integrations/HttpControlRules.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QRandomGenerator>

namespace corvid::httpcontrol {

std::optional<quint16> portFromSetting(const QString& value) {
    bool ok = false;
    const uint port = value.trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) return std::nullopt;
    return quint16(port);
}

bool hostAllowed(const QByteArray& host, quint16 port) {
    const QByteArray suffix = ':' + QByteArray::number(port);
    if (!host.endsWith(suffix)) return false;
    const QByteArray name = host.left(host.size() - suffix.size());
    return name == "127.0.0.1" || name == "[::1]" || name.compare("localhost", Qt::CaseInsensitive) == 0;
}

QStringList originsFromSetting(const QString& value) {
    return value.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

bool originAllowed(const QByteArray& origin, const QStringList& allowed) {
    if (origin.isEmpty()) return false;
    const QString text = QString::fromLatin1(origin);
    return allowed.contains(text, Qt::CaseSensitive);
}

QByteArray newToken() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

bool bearerMatches(const QByteArray& authorization, const QByteArray& token) {
    static const QByteArray scheme = QByteArrayLiteral("Bearer ");
    if (token.isEmpty() || !authorization.startsWith(scheme)) return false;
    const QByteArray given = authorization.mid(scheme.size());
    // Every byte of the token is compared whatever the first difference, so the answer's time
    // tells nothing about how much of a guess was right.
    unsigned diff = unsigned(given.size() ^ token.size());
    for (qsizetype i = 0; i < token.size(); ++i)
        diff |= unsigned(uchar(token.at(i)) ^ uchar(i < given.size() ? given.at(i) : 0));
    return diff == 0;
}

DialBody parseDialBody(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {{}, QStringLiteral("the body is not a JSON object")};
    const QJsonValue number = doc.object().value(QStringLiteral("number"));
    if (!number.isString()) return {{}, QStringLiteral("\"number\" must be a string")};
    const QString text = number.toString();
    if (text.size() > MaxNumberChars)
        return {{}, QStringLiteral("\"number\" is longer than %1 characters").arg(MaxNumberChars)};
    return {text, {}};
}

QByteArray errorBody(const QString& text) {
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), text}}).toJson(QJsonDocument::Compact);
}

QByteArray serverSentEvent(const QString& type, const QJsonObject& data) {
    return "event: " + type.toUtf8() + "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

} // namespace corvid::httpcontrol
