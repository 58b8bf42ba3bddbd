#pragma once
// The HTTP control: web CRMs and other programs on this machine place and end calls and follow
// them over HTTP on the loopback interface. Off unless HttpControl is "True"; it listens on
// 127.0.0.1 and ::1 only, on HttpControlPort (5783 by default).
//
//   POST /v1/dial {"number": "..."}  202 {"id": n} once taken, 422 when the dial rule refuses it
//   POST /v1/hangup                  202 {"id": n}: the same as an end file
//   POST /v1/pam                     202 {"id": n}: the same as "#pam"
//   POST /v1/answer, /v1/reject      202 {"id": n}: the same as "#answer", "#reject"
//   GET  /v1/state                   registration, per line its state, number, seconds, recording,
//                                    and the calls that ring
//   POST /v1/recording {"paused": b} 202 {"id": n}: the same as "#pauserec" / "#resumerec"
//   GET  /v1/events                  Server-Sent Events: registration, request outcomes, call
//                                    progress and call end (with the values of the call-log row),
//                                    "call-ended" (the call-detail record), "recording" (paused or not)
//
// Every request carries "Authorization: Bearer <token>"; the token is bin/control.token (mode
// 0600), made at the first start with the control on. Requests go into the dial automation as
// its third channel ("http"): the same rules, the same pacing of one request per 500 ms, the same
// journal. A browser may call from the origins listed in HttpControlOrigins; a Host header other
// than the loopback's is refused (a rebound DNS name must not reach the dialer).

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;
class QTimer;

namespace corvid {

struct WindowContext;

class HttpControl : public QObject {
    Q_OBJECT
public:
    explicit HttpControl(WindowContext& ctx, QObject* parent = nullptr);
    ~HttpControl() override;

    // Reads the settings and listens when the control is on; says once in the status log when
    // it cannot. Called by the window load; again after a stop.
    void start();
    void stop();
    bool listening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QByteArray token() const { return m_token; }

private:
    class Server;
    struct Answer;
    struct Stream {
        QPointer<QTcpSocket> socket;
        std::unique_ptr<QHttpServerResponder> responder;
    };

    bool handle(const QHttpServerRequest& request, QTcpSocket* socket, QHttpServerResponder&& responder);
    Answer route(const QHttpServerRequest& request);
    Answer submit(int kind, const QString& number, const QString& shown);
    void openStream(const QByteArray& origin, QHttpServerResponder&& responder);
    void broadcast(const QString& type, QJsonObject data);
    void dropClosedStreams();
    QJsonObject stateObject() const;
    QJsonObject lineObject(int line) const;
    bool readToken();
    void connectEvents();

    WindowContext& ctx;
    std::unique_ptr<Server> m_server;
    quint16 m_port = 0;
    QByteArray m_token;
    QStringList m_origins;
    std::vector<Stream> m_streams;
    QTimer* m_keepAlive = nullptr;
    QString m_registration = QStringLiteral("unregistered");
    QHash<int, QElapsedTimer> m_connectedAt; // lines whose call is connected, since when
};

} // namespace corvid
