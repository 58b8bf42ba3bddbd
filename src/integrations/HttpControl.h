#pragma once
// The HTTP control: web CRMs and other programs on this machine place and end calls and follow
// them over HTTP on the loopback interface. Off unless HttpControl is "True"; it listens on
// 127.0.0.1 and ::1 only, on HttpControlPort (5783 by default).
//
//   GET  /v1/hello?challenge=c      {"proof": ...}: the dialer proves it holds the token (no token needed)
//   POST /v1/dial {"number": "..."}  202 {"id": n} once taken, 422 when the dial rule refuses it,
//                                    409 or 503 {"error": why} when it is refused on the spot
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
// Every request but the hello carries "Authorization: Bearer <token>"; the token is
// bin/control.token (mode 0600), made at the first start with the control on. Requests go into the
// dial automation as its third channel ("http"): the same rules, the same pacing of one request per
// 500 ms, the same journal; dial, hang-up and message drop only while Click to dial is ticked. The
// answer to a request reaches its client before any event about it. A browser may call from the
// origins listed in HttpControlOrigins; a Host header other than the loopback's is refused (a
// rebound DNS name must not reach the dialer).
//
// The control reads requests itself (HttpRequestReader), so that no client can make it hold more
// than one bounded request per connection; connections, event streams and the bytes a client
// leaves unread are bounded too. A control that cannot take its port shows so beside Click to dial
// and tries again until it can.

#include "integrations/HttpRequestReader.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QTcpServer;
class QTimer;

namespace corvid {

struct WindowContext;

class HttpControl : public QObject {
    Q_OBJECT
public:
    explicit HttpControl(WindowContext& ctx, QObject* parent = nullptr);
    ~HttpControl() override;

    // Reads the settings and listens when the control is on. When the port is taken it says so in
    // the status log once and beside Click to dial for as long as it lasts, and tries again every
    // ListenRetryMs. Called by the window load; again after a stop.
    void start();
    void stop();
    bool listening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QByteArray token() const { return m_token; }

    // Why the control asked for is not listening (the status beside Click to dial); empty when it
    // listens or is not asked for.
    QString offReason() const { return m_offReason; }

private:
    class Connection;
    struct Answer;
    struct Route;
    enum class Access { Open, Read, Act };
    static const Route Routes[];

    void listen();
    void setOff(const QString& reason);
    void accept(QTcpServer* server);
    void serve(Connection& connection, const httpcontrol::HttpRequest& request);
    Answer answer(const httpcontrol::HttpRequest& request);
    Answer hello(const httpcontrol::HttpRequest& request);
    Answer dial(const httpcontrol::HttpRequest& request);
    Answer hangUp(const httpcontrol::HttpRequest& request);
    Answer messageDrop(const httpcontrol::HttpRequest& request);
    Answer answerCall(const httpcontrol::HttpRequest& request);
    Answer rejectCall(const httpcontrol::HttpRequest& request);
    Answer recording(const httpcontrol::HttpRequest& request);
    Answer state(const httpcontrol::HttpRequest& request);
    Answer events(const httpcontrol::HttpRequest& request);
    Answer submit(int kind, const QString& number, const QString& shown);
    void broadcast(const QString& type, QJsonObject data);
    void releaseEvents();
    void deliver(const QByteArray& event);
    void closeAll();
    QJsonObject stateObject() const;
    QJsonObject lineObject(int line) const;
    bool readToken();
    void connectEvents();

    WindowContext& ctx;
    std::vector<std::unique_ptr<QTcpServer>> m_servers;
    quint16 m_port = 0;
    quint16 m_wantedPort = 0;
    QString m_offReason;
    QByteArray m_token;
    QStringList m_origins;
    QList<QPointer<Connection>> m_connections;
    QList<QPointer<Connection>> m_streams;
    QTimer* m_keepAlive = nullptr;
    QTimer* m_retry = nullptr;
    int m_holdEvents = 0; // an answer is being made: events wait until it is sent
    QList<QByteArray> m_heldEvents;
    QString m_registration = QStringLiteral("unregistered");
    QHash<int, QElapsedTimer> m_connectedAt; // lines whose call is connected, since when
};

} // namespace corvid
