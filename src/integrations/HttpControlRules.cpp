#include "integrations/HttpControlRules.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>

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

bool challengeValid(const QByteArray& challenge) {
    if (challenge.size() < 16 || challenge.size() > 128) return false;
    for (const char c : challenge)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return false;
    return true;
}

QByteArray helloProof(const QByteArray& token, const QByteArray& host, const QByteArray& challenge) {
    return QMessageAuthenticationCode::hash("corvid-dialer " + host + ' ' + challenge, token,
                                            QCryptographicHash::Sha256)
        .toHex();
}

std::optional<QString> refusalOf(const QString& outcome) {
    for (const char* refused :
         {"not dialled: ", "not hung up: ", "message drop refused: ", "message drop failed: ", "ignored: "})
        if (outcome.startsWith(QLatin1String(refused))) return outcome.mid(int(qstrlen(refused)));
    return std::nullopt;
}

int refusalStatus(const QString& reason) {
    return reason == QLatin1String("not online") || reason == QLatin1String("not registered") ? 503 : 409;
}

QByteArray responseHead(int status, const QList<QPair<QByteArray, QByteArray>>& headers) {
    static const QHash<int, QByteArray> phrases{{100, "Continue"},
                                                {200, "OK"},
                                                {202, "Accepted"},
                                                {204, "No Content"},
                                                {400, "Bad Request"},
                                                {401, "Unauthorized"},
                                                {403, "Forbidden"},
                                                {404, "Not Found"},
                                                {405, "Method Not Allowed"},
                                                {408, "Request Timeout"},
                                                {409, "Conflict"},
                                                {413, "Content Too Large"},
                                                {422, "Unprocessable Content"},
                                                {429, "Too Many Requests"},
                                                {431, "Request Header Fields Too Large"},
                                                {501, "Not Implemented"},
                                                {503, "Service Unavailable"},
                                                {505, "HTTP Version Not Supported"}};
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + phrases.value(status, "Status") + "\r\n";
    for (const auto& header : headers)
        head += header.first + ": " + header.second + "\r\n";
    return head + "\r\n";
}

QByteArray serverSentEvent(const QString& type, const QJsonObject& data) {
    return "event: " + type.toUtf8() + "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

} // namespace corvid::httpcontrol
