#pragma once
// Rules of the loopback HTTP control that need no window and no socket: which Host and Origin
// headers are accepted, the bearer token, the request bodies, the answers and the event stream's
// framing. Other programs (web CRMs in a browser) depend on the paths and the JSON shapes.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvid::httpcontrol {

constexpr quint16 DefaultPort = 5783;
constexpr int MaxNumberChars = 64;   // a longer "number" is refused before the dial rule sees it
constexpr int MaxQueuedRequests = 8;  // requests taken but not yet acted on; more get 429
constexpr int MaxConnections = 32;    // open at a time; more are answered 503 and closed
constexpr int MaxEventStreams = 8;    // event streams at a time; more are answered 503
constexpr qint64 MaxUnsentBytes = 64 * 1024;    // answers a client has not read: no further request is read
constexpr qint64 MaxStreamBacklog = 256 * 1024; // events a stream client has not read: it is dropped
constexpr int RequestTimeoutMs = 15000;         // a request must be complete, a kept connection used, this soon
constexpr int ListenRetryMs = 5000;             // a control that could not take its port tries again this often
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

// The dialer proves that it holds the token before a client sends it: the answer to
// GET /v1/hello?challenge=<challenge> is HMAC-SHA256 with the token as the key over
// "corvid-dialer <Host header> <challenge>", as hex digits. Another program on the port cannot
// make it, and a proof made for one address does not pass for another. A challenge is 16 to 128
// characters of A-Z, a-z, 0-9, "-" and "_".
bool challengeValid(const QByteArray& challenge);
QByteArray helloProof(const QByteArray& token, const QByteArray& host, const QByteArray& challenge);

// The reason of a request's journal outcome when it is a refusal ("not dialled: the line is busy"
// gives "the line is busy"); nothing when the request was acted on.
std::optional<QString> refusalOf(const QString& outcome);
// The status a refusal is answered with: 503 while the phone cannot place calls at all (not online,
// not registered), 409 when the state of the lines or the dialer stands in the way.
int refusalStatus(const QString& reason);

// The status line and headers of an answer, up to the blank line.
QByteArray responseHead(int status, const QList<QPair<QByteArray, QByteArray>>& headers);

// One Server-Sent Event: "event: <type>\ndata: <json>\n\n" (JSON is one line, so one data line).
QByteArray serverSentEvent(const QString& type, const QJsonObject& data);

} // namespace corvid::httpcontrol
