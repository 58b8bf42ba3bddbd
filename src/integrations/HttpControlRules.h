#pragma once
// Rules of the loopback HTTP control that need no window and no socket: which Host and Origin
// headers are accepted, the bearer token, the request bodies, the answers and the event stream's
// framing. Other programs (web CRMs in a browser) depend on the paths and the JSON shapes.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvid::httpcontrol {

constexpr quint16 DefaultPort = 5783;
constexpr qint64 MaxBodyBytes = 64 * 1024;
constexpr int MaxNumberChars = 64;   // a longer "number" is refused before the dial rule sees it
constexpr int MaxQueuedRequests = 8;  // requests taken but not yet acted on; more get 429
inline const QString TokenFileName = QStringLiteral("control.token");

// The port of HttpControlPort: 1-65535, otherwise (empty, not a number) nullopt.
std::optional<quint16> portFromSetting(const QString& value);

// Whether Host names this machine's loopback on port: "127.0.0.1:<port>", "[::1]:<port>" or
// "localhost:<port>" (the name without regard to case). Anything else could be a rebound DNS name.
bool hostAllowed(const QByteArray& host, quint16 port);

// HttpControlOrigins: exact origins separated by blanks ("*" is no wildcard: it matches nothing a
// browser sends).
QStringList originsFromSetting(const QString& value);
bool originAllowed(const QByteArray& origin, const QStringList& allowed);

// A new token of 128 random bits from the system's generator, as 32 hex digits.
QByteArray newToken();
// Whether an Authorization header is "Bearer <token>", compared in time independent of where the
// texts differ. An empty token matches nothing.
bool bearerMatches(const QByteArray& authorization, const QByteArray& token);

// The number of a POST /v1/dial body {"number": "..."}; the error text otherwise.
struct DialBody {
    QString number;
    QString error; // empty when number holds what the body asked for
};
DialBody parseDialBody(const QByteArray& body);

// The JSON error answer {"error": text}.
QByteArray errorBody(const QString& text);

// One Server-Sent Event: "event: <type>\ndata: <json>\n\n" (JSON is one line, so one data line).
QByteArray serverSentEvent(const QString& type, const QJsonObject& data);

} // namespace corvid::httpcontrol
