#include "integrations/HttpControl.h"

#include "calls/IncomingCalls.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "dialer/AutomationRules.h"
#include "dialer/CallLog.h"
#include "integrations/HttpControlRules.h"
#include "media/Recording.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"
#include "window/WindowContext.h"

#include <QCheckBox>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace corvid {

using namespace httpcontrol;
using Headers = QList<QPair<QByteArray, QByteArray>>;

namespace {

const QString HttpChannel = QStringLiteral("http");
constexpr int KeepAliveMs = 15000;
// A refused client may still be sending: what it sends is read and dropped for a while before the
// connection closes, so that it reads the answer instead of a reset.
constexpr int LingerMs = 2000;
constexpr qint64 LingerBytes = 4 * 1024 * 1024;
constexpr qint64 SocketReadBuffer = 16 * 1024;

QString readKey(const WindowContext& ctx, const char* key) {
    return ReadIniKey(ctx.state.settingsPath, QString::fromLatin1(keys::System), QString::fromLatin1(key)).trimmed();
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

struct HttpControl::Answer {
    int status = 200;
    QByteArray body;     // JSON unless empty
    Headers headers;     // beyond the type, length and CORS headers
    bool stream = false; // the connection becomes an event stream
};

// The endpoints: a new one is a row here and a handler.
struct HttpControl::Route {
    const char* path;
    const char* method;
    Access access; // Open: no token (the hello); Act: only while Click to dial is ticked
    Answer (HttpControl::*handler)(const HttpRequest&);
};

const HttpControl::Route HttpControl::Routes[] = {
    {"/v1/hello", "GET", Access::Open, &HttpControl::hello},
    {"/v1/dial", "POST", Access::Act, &HttpControl::dial},
    {"/v1/hangup", "POST", Access::Act, &HttpControl::hangUp},
    {"/v1/pam", "POST", Access::Act, &HttpControl::messageDrop},
    {"/v1/answer", "POST", Access::Act, &HttpControl::answerCall},
    {"/v1/reject", "POST", Access::Act, &HttpControl::rejectCall},
    {"/v1/recording", "POST", Access::Act, &HttpControl::recording},
    {"/v1/state", "GET", Access::Read, &HttpControl::state},
    {"/v1/events", "GET", Access::Read, &HttpControl::events},
};

// One client connection: reads its requests one at a time through the reader, hands each complete
// one to the control, and writes the answers in order. It reads no further while its client leaves
// more than MaxUnsentBytes of answers unread. A refused request ends the connection.
class HttpControl::Connection : public QObject {
public:
    Connection(HttpControl& owner, QTcpSocket* socket) : QObject(&owner), m_owner(owner), m_socket(socket) {
        socket->setParent(this);
        socket->setReadBufferSize(SocketReadBuffer);
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(RequestTimeoutMs);
        connect(&m_deadline, &QTimer::timeout, this, [this] {
            if (m_streaming) return;
            if (m_closing || !m_reader.midRequest()) return m_socket->abort();
            refuse(408, "the request did not arrive in time");
        });
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readSome);
        connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            if (m_closing) return shutDownWhenSent();
            if (!m_streaming) readSome();
        });
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        m_deadline.start();
        readSome();
    }

    QTcpSocket* socket() const { return m_socket; }
    bool streaming() const { return m_streaming; }
    void startStream() {
        m_streaming = true;
        m_deadline.stop();
    }

    void send(const QByteArray& bytes) {
        if (m_socket->state() == QAbstractSocket::ConnectedState) m_socket->write(bytes);
    }
    // The answer goes out at once: nothing written later to another client can overtake it.
    void sendNow(const QByteArray& bytes) {
        send(bytes);
        m_socket->flush();
    }
    // Sends the last answer and ends the connection once the client has read it.
    void close() {
        m_closing = true;
        m_deadline.setInterval(LingerMs);
        m_deadline.start();
        m_socket->flush();
        shutDownWhenSent();
    }

    void refuse(int status, const QByteArray& reason) {
        const QByteArray body = errorBody(QString::fromLatin1(reason));
        sendNow(responseHead(status, {{"Content-Type", "application/json"},
                                      {"Content-Length", QByteArray::number(body.size())},
                                      {"Connection", "close"}}) +
                body);
        close();
    }

private:
    void readSome() {
        if (m_closing) { // lingering: what still comes is dropped
            m_lingered += m_socket->skip(m_socket->bytesAvailable());
            if (m_lingered > LingerBytes) m_socket->abort();
            return;
        }
        if (m_streaming) {
            m_socket->skip(m_socket->bytesAvailable());
            return;
        }
        // Writing an answer reports bytes written at once; the request in hand is served once.
        if (m_reading) return;
        const QPointer<Connection> alive(this);
        m_reading = true;
        const auto done = qScopeGuard([&] {
            if (alive) m_reading = false;
        });
        for (;;) {
            if (m_result == HttpRequestReader::Result::Request) {
                if (m_socket->bytesToWrite() > MaxUnsentBytes) return; // bytesWritten reads on
                m_owner.serve(*this, m_reader.request());
                if (!alive || m_closing || m_streaming) return;
                if (!m_reader.request().keepAlive) return close();
                m_deadline.start();
                m_result = m_reader.next();
            } else if (m_result == HttpRequestReader::Result::Refused) {
                return refuse(m_reader.refusal().status, m_reader.refusal().reason);
            } else {
                const qsizetype room = qMin<qsizetype>(m_reader.room(), SocketReadBuffer);
                const QByteArray bytes = m_socket->read(room);
                if (bytes.isEmpty()) return;
                m_result = m_reader.append(bytes);
            }
            if (m_reader.takeContinue()) sendNow("HTTP/1.1 100 Continue\r\n\r\n");
        }
    }

    void shutDownWhenSent() {
        if (m_shutDown || m_socket->bytesToWrite() > 0) return;
        m_shutDown = true;
        // Only the sending half closes: the client reads the answer to its end, then closes.
#ifdef Q_OS_WIN
        ::shutdown(SOCKET(m_socket->socketDescriptor()), SD_SEND);
#else
        ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
#endif
        readSome();
    }

    HttpControl& m_owner;
    QTcpSocket* m_socket;
    HttpRequestReader m_reader;
    HttpRequestReader::Result m_result = HttpRequestReader::Result::NeedMore;
    QTimer m_deadline;
    bool m_streaming = false;
    bool m_closing = false;
    bool m_shutDown = false;
    bool m_reading = false;
    qint64 m_lingered = 0;
};

HttpControl::HttpControl(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    m_keepAlive = new QTimer(this);
    m_keepAlive->setInterval(KeepAliveMs);
    connect(m_keepAlive, &QTimer::timeout, this, [this] {
        // A comment line keeps proxies from closing the stream and finds clients that went away.
        broadcast(QString(), {});
    });
    m_retry = new QTimer(this);
    m_retry->setInterval(ListenRetryMs);
    connect(m_retry, &QTimer::timeout, this, &HttpControl::listen);
    connectEvents();
}

// The window's widgets may be gone already: only the sockets are closed.
HttpControl::~HttpControl() {
    closeAll();
}

void HttpControl::start() {
    stop();
    if (readKey(ctx, keys::HttpControl) != QLatin1String("True")) return;
    const auto port = portFromSetting(readKey(ctx, keys::HttpControlPort));
    m_wantedPort = port.value_or(DefaultPort);
    m_origins = originsFromSetting(readKey(ctx, keys::HttpControlOrigins));
    if (!readToken()) {
        setOff(QStringLiteral("HTTP control is off: cannot write %1").arg(ctx.root.binFile(TokenFileName)));
        return;
    }
    listen();
}

void HttpControl::listen() {
    auto v4 = std::make_unique<QTcpServer>();
    auto v6 = std::make_unique<QTcpServer>();
    // Both loopback addresses or none: a client that reaches one must not find another program
    // on the other. A machine without IPv6 has no ::1 to guard; only a refused listen on a
    // present ::1 counts.
    const bool onV4 = v4->listen(QHostAddress::LocalHost, m_wantedPort);
    const bool onV6 = onV4 && v6->listen(QHostAddress::LocalHostIPv6, m_wantedPort);
    const bool v6Missing = !onV6 && onV4 && !QTcpServer().listen(QHostAddress::LocalHostIPv6, 0);
    if (!onV4 || (!onV6 && !v6Missing)) {
        setOff(QStringLiteral("HTTP control is off: port %1 is taken").arg(m_wantedPort));
        m_retry->start();
        return;
    }
    m_servers.clear();
    for (auto* server : {v4.get(), v6.get()}) {
        if (!server->isListening()) continue;
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
    }
    m_servers.push_back(std::move(v4));
    m_servers.push_back(std::move(v6));
    m_retry->stop();
    m_port = m_wantedPort;
    if (!m_offReason.isEmpty() && ctx.subsystems.lines)
        ctx.subsystems.lines->AddStatusLog(QStringLiteral("HTTP control is on: port %1").arg(m_port));
    setOff(QString());
}

// The status beside Click to dial stays while the control is off, whatever clears the status log;
// the status log says it once.
void HttpControl::setOff(const QString& reason) {
    if (reason != m_offReason && !reason.isEmpty() && ctx.subsystems.lines) ctx.subsystems.lines->AddStatusLog(reason);
    m_offReason = reason;
    if (!ctx.ui) return;
    QLabel* label = ctx.ui->httpControlState;
    label->setText(reason.isEmpty() ? QString() : QStringLiteral("HTTP off"));
    label->setToolTip(reason);
    label->setVisible(!reason.isEmpty());
}

void HttpControl::stop() {
    closeAll();
    setOff(QString());
}

void HttpControl::closeAll() {
    for (const QPointer<Connection>& connection : std::as_const(m_connections))
        if (connection) connection->socket()->abort();
    m_connections.clear();
    m_streams.clear();
    m_keepAlive->stop();
    m_retry->stop();
    m_servers.clear();
    m_port = 0;
}

void HttpControl::accept(QTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        m_connections.removeAll(nullptr);
        if (m_connections.size() >= MaxConnections) {
            const QByteArray body = errorBody(QStringLiteral("too many connections"));
            socket->write(responseHead(503, {{"Content-Type", "application/json"},
                                             {"Content-Length", QByteArray::number(body.size())},
                                             {"Connection", "close"}}) +
                          body);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        m_connections.append(new Connection(*this, socket));
    }
}

// The token survives restarts, so a CRM set up once keeps working; it is made when missing.
bool HttpControl::readToken() {
    const QString path = ctx.root.binFile(TokenFileName);
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        m_token = file.read(256).trimmed();
        if (m_token.size() >= 32) return true;
    }
    m_token = newToken();
    QSaveFile out(path);
    // Only the agent may read the token: anyone holding it can dial as the agent.
    if (!out.open(QIODevice::WriteOnly) || !out.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        out.write(m_token + '\n') < 0 || !out.commit()) {
        m_token.clear();
        return false;
    }
    return true;
}

void HttpControl::serve(Connection& connection, const HttpRequest& request) {
    const QByteArray origin = request.header("origin");
    const bool corsOrigin = originAllowed(origin, m_origins);
    // Events wait until this answer is sent: a client hears of its request before anyone hears
    // what became of it.
    ++m_holdEvents;
    const Answer answer = this->answer(request);
    Headers headers;
    if (corsOrigin)
        headers << qMakePair(QByteArray("Access-Control-Allow-Origin"), origin)
                << qMakePair(QByteArray("Vary"), QByteArray("Origin"));
    headers << answer.headers << qMakePair(QByteArray("Cache-Control"), QByteArray("no-store"));
    if (answer.stream && m_streams.size() < MaxEventStreams) {
        connection.startStream();
        headers << qMakePair(QByteArray("Content-Type"), QByteArray("text/event-stream"));
        // The first event is the state as it is, so a page that connects late starts from the truth.
        connection.sendNow(responseHead(200, headers) + serverSentEvent(QStringLiteral("state"), stateObject()));
        m_streams.append(&connection);
        m_keepAlive->start();
    } else {
        const QByteArray body = answer.stream ? errorBody(QStringLiteral("too many event streams")) : answer.body;
        if (!body.isEmpty()) headers << qMakePair(QByteArray("Content-Type"), QByteArray("application/json"));
        headers << qMakePair(QByteArray("Content-Length"), QByteArray::number(body.size()));
        connection.sendNow(responseHead(answer.stream ? 503 : answer.status, headers) + body);
    }
    if (--m_holdEvents == 0) releaseEvents();
}

HttpControl::Answer HttpControl::answer(const HttpRequest& request) {
    const QByteArray origin = request.header("origin");
    if (!hostAllowed(request.header("host"), m_port))
        return {403, errorBody(QStringLiteral("Host must be the loopback address")), {}};
    if (!origin.isEmpty() && !originAllowed(origin, m_origins))
        return {403, errorBody(QStringLiteral("origin not allowed")), {}};
    if (request.method == "OPTIONS")
        return {204,
                {},
                {{"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
                 {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                 {"Access-Control-Max-Age", "600"}}};
    const Route* route = nullptr;
    for (const Route& r : Routes)
        if (request.path == r.path) route = &r;
    if ((!route || route->access != Access::Open) && !bearerMatches(request.header("authorization"), m_token))
        return {401, errorBody(QStringLiteral("missing or wrong token")), {{"WWW-Authenticate", "Bearer"}}};
    if (!route) return {404, errorBody(QStringLiteral("no such endpoint")), {}};
    if (request.method != route->method)
        return {405, errorBody(QStringLiteral("method not allowed")), {{"Allow", route->method}}};
    if (route->access == Access::Act && !ctx.ui->autoCheck->isChecked()) {
        // The box is the agent's consent to be driven by other programs, whichever the channel.
        const QString reason = QStringLiteral("Click to dial is off");
        if (Automation* automation = ctx.subsystems.automation)
            automation->journalRequest(HttpChannel, QString::fromLatin1(request.method + ' ' + request.path),
                                       QStringLiteral("refused: ") + reason);
        return {409, errorBody(reason), {}};
    }
    return (this->*route->handler)(request);
}

HttpControl::Answer HttpControl::hello(const HttpRequest& request) {
    const QByteArray challenge = request.queryItem("challenge");
    if (!challengeValid(challenge))
        return {400, errorBody(QStringLiteral("challenge must be 16 to 128 characters of A-Z a-z 0-9 - _")), {}};
    return {
        200,
        json({{QStringLiteral("proof"), QString::fromLatin1(helloProof(m_token, request.header("host"), challenge))}}),
        {}};
}

HttpControl::Answer HttpControl::dial(const HttpRequest& request) {
    const DialBody body = parseDialBody(request.body);
    if (!body.error.isEmpty()) return {400, errorBody(body.error), {}};
    const QString number = automation::dialNumberRule(body.number);
    if (number.isEmpty()) {
        // A number with more digits than ten is never cut to fit: it is refused as such.
        const bool tooLong = automation::hasTooManyDigits(body.number);
        const QString outcome =
            tooLong ? automation::TooManyDigitsOutcome : QStringLiteral("ignored: not a ten-digit number");
        if (ctx.subsystems.automation) ctx.subsystems.automation->journalRequest(HttpChannel, body.number, outcome);
        return {422, errorBody(tooLong ? QStringLiteral("more than ten digits") : QStringLiteral("not a ten-digit number")), {}};
    }
    return submit(automation::ClipboardRequest::Dial, number, body.number);
}

HttpControl::Answer HttpControl::hangUp(const HttpRequest&) {
    return submit(automation::ClipboardRequest::HangUp, {}, automation::HangUpWord);
}

HttpControl::Answer HttpControl::messageDrop(const HttpRequest&) {
    return submit(automation::ClipboardRequest::MessageDrop, {}, automation::MessageDropWord);
}

HttpControl::Answer HttpControl::answerCall(const HttpRequest&) {
    return submit(automation::ClipboardRequest::Answer, {}, automation::AnswerWord);
}

HttpControl::Answer HttpControl::rejectCall(const HttpRequest&) {
    return submit(automation::ClipboardRequest::Reject, {}, automation::RejectWord);
}

// {"paused": true|false}: the same as "#pauserec" / "#resumerec".
HttpControl::Answer HttpControl::recording(const HttpRequest& request) {
    const QJsonValue paused = QJsonDocument::fromJson(request.body).object().value(QLatin1String("paused"));
    if (!paused.isBool()) return {400, errorBody(QStringLiteral("expected {\"paused\": true|false}")), {}};
    return paused.toBool() ? submit(automation::ClipboardRequest::PauseRecording, {}, automation::PauseRecordingWord)
                           : submit(automation::ClipboardRequest::ResumeRecording, {}, automation::ResumeRecordingWord);
}

HttpControl::Answer HttpControl::state(const HttpRequest&) {
    return {200, json(stateObject()), {}};
}

HttpControl::Answer HttpControl::events(const HttpRequest&) {
    return {200, {}, {}, true};
}

// A request refused on the spot is answered with its refusal; one taken at once with its outcome;
// one that waits its turn with its id, and its outcome follows as an event.
HttpControl::Answer HttpControl::submit(int kind, const QString& number, const QString& shown) {
    Automation* automation = ctx.subsystems.automation;
    if (!automation) return {503, errorBody(QStringLiteral("no automation")), {}};
    const auto type = automation::ClipboardRequest::Kind(kind);
    static const QHash<int, QString> refusedWords{
        {automation::ClipboardRequest::Dial, QStringLiteral("not dialled: ")},
        {automation::ClipboardRequest::HangUp, QStringLiteral("not hung up: ")},
        {automation::ClipboardRequest::MessageDrop, QStringLiteral("message drop refused: ")},
        {automation::ClipboardRequest::Answer, QStringLiteral("not answered: ")},
        {automation::ClipboardRequest::Reject, QStringLiteral("not rejected: ")},
        {automation::ClipboardRequest::PauseRecording, QStringLiteral("refused: ")},
        {automation::ClipboardRequest::ResumeRecording, QStringLiteral("refused: ")}};
    if (const QString why = automation->refusalNow(type); !why.isEmpty()) {
        automation->journalRequest(HttpChannel, shown, refusedWords.value(kind) + why);
        return {refusalStatus(why), errorBody(why), {}};
    }
    if (automation->queuedRequests(HttpChannel) >= MaxQueuedRequests)
        return {429, errorBody(QStringLiteral("too many requests waiting")), {{"Retry-After", "1"}}};
    automation::ClipboardRequest request;
    request.kind = type;
    request.number = number;
    request.command = shown;
    auto outcome = std::make_shared<QString>();
    const quint64 id =
        automation->submitRequest(HttpChannel, request, shown, [outcome](const QString& text) { *outcome = text; });
    QJsonObject reply{{QStringLiteral("id"), double(id)}};
    if (outcome->isEmpty()) return {202, json(reply), {}};
    if (const std::optional<QString> why = refusalOf(*outcome)) {
        reply.insert(QStringLiteral("error"), *why);
        return {refusalStatus(*why), json(reply), {}};
    }
    reply.insert(QStringLiteral("outcome"), *outcome);
    return {202, json(reply), {}};
}

void HttpControl::broadcast(const QString& type, QJsonObject data) {
    m_streams.removeAll(nullptr);
    if (m_streams.isEmpty()) {
        m_keepAlive->stop();
        return;
    }
    const QByteArray event = type.isEmpty() ? QByteArray(": keep-alive\n\n") : serverSentEvent(type, data);
    if (m_holdEvents > 0)
        m_heldEvents.append(event);
    else
        deliver(event);
}

void HttpControl::releaseEvents() {
    for (const QByteArray& event : std::exchange(m_heldEvents, {}))
        deliver(event);
}

void HttpControl::deliver(const QByteArray& event) {
    m_streams.removeAll(nullptr);
    for (const QPointer<Connection>& stream : std::as_const(m_streams)) {
        QTcpSocket* socket = stream->socket();
        // A client that stops reading is dropped rather than kept growing in memory.
        if (socket->bytesToWrite() + event.size() > MaxStreamBacklog)
            socket->abort();
        else
            stream->send(event);
    }
}

QJsonObject HttpControl::lineObject(int line) const {
    SipEngine* engine = ctx.engine;
    const bool busy = engine && engine->IsLineBusy(line);
    QString state = QStringLiteral("free");
    if (busy) state = engine->IsLineOnHold(line) ? QStringLiteral("hold")
                      : m_connectedAt.contains(line) ? QStringLiteral("connected")
                                                     : QStringLiteral("dialing");
    QString number;
    if (busy && ctx.subsystems.lines) number = ctx.subsystems.lines->lineCall(line).number;
    const auto at = m_connectedAt.constFind(line);
    const qint64 seconds = busy && at != m_connectedAt.constEnd() ? at->elapsed() / 1000 : 0;
    return {{QStringLiteral("line"), line + 1},
            {QStringLiteral("state"), state},
            {QStringLiteral("number"), number},
            {QStringLiteral("seconds"), double(seconds)},
            {QStringLiteral("recorded"), busy && engine->RecordingLineOp(line)},
            {QStringLiteral("paused"), busy && ctx.subsystems.recording && ctx.subsystems.recording->isPaused(line)}};
}

QJsonObject HttpControl::stateObject() const {
    QJsonArray lines;
    for (int line = 0; line < ctx.state.LineCount; ++line) lines.append(lineObject(line));
    QJsonArray ringing;
    if (IncomingCalls* incoming = ctx.subsystems.incoming)
        for (const IncomingCalls::RingingCall& call : incoming->ringingCalls())
            ringing.append(QJsonObject{{QStringLiteral("call"), call.id},
                                       {QStringLiteral("number"), call.number},
                                       {QStringLiteral("name"), call.name}});
    return {{QStringLiteral("registration"), m_registration},
            {QStringLiteral("lines"), lines},
            {QStringLiteral("ringing"), ringing},
            {QStringLiteral("security"), ctx.state.securityText}}; // as the window's LineSecurity shows it
}

void HttpControl::connectEvents() {
    SipEngine* engine = ctx.engine;
    if (!engine) return;
    const auto registration = [this](const QString& state, int code = 0, const QString& reason = {}) {
        m_registration = state;
        QJsonObject data{{QStringLiteral("state"), state}};
        if (code) data.insert(QStringLiteral("code"), code);
        if (!reason.isEmpty()) data.insert(QStringLiteral("reason"), reason);
        broadcast(QStringLiteral("registration"), data);
    };
    connect(engine, &SipEngine::RegisterTrying, this, [=] { registration(QStringLiteral("trying")); });
    connect(engine, &SipEngine::RegisterSucceeded, this, [=] { registration(QStringLiteral("registered")); });
    connect(engine, &SipEngine::ReregisterSucceeded, this, [=] { registration(QStringLiteral("registered")); });
    connect(engine, &SipEngine::UnregisterSucceeded, this, [=] { registration(QStringLiteral("unregistered")); });
    connect(engine, &SipEngine::RegisterFailed, this,
            [=](int code, const QString& reason) { registration(QStringLiteral("failed"), code, reason); });
    connect(engine, &SipEngine::ReregisterFailed, this,
            [=](int code, const QString& reason) { registration(QStringLiteral("failed"), code, reason); });

    const auto progress = [this](int line, const QString& state, int code = 0, const QString& reason = {}) {
        QJsonObject data{{QStringLiteral("line"), line + 1}, {QStringLiteral("state"), state}};
        if (ctx.subsystems.lines) data.insert(QStringLiteral("number"), ctx.subsystems.lines->lineCall(line).number);
        if (code) data.insert(QStringLiteral("code"), code);
        if (!reason.isEmpty()) data.insert(QStringLiteral("reason"), reason);
        broadcast(QStringLiteral("call"), data);
    };
    connect(engine, &SipEngine::CallConnecting, this, [=](int line) {
        m_connectedAt.remove(line);
        progress(line, QStringLiteral("dialing"));
    });
    connect(engine, &SipEngine::ProvisionalResponse, this, [=](int line, int code, const QString& reason) {
        if (code == 180 || code == 183) progress(line, QStringLiteral("ringing"), code, reason);
    });
    connect(engine, &SipEngine::CallConnected, this, [=](int line, const QString&, int) {
        m_connectedAt[line].start();
        progress(line, QStringLiteral("connected"));
    });
    const auto failed = [=](int line, int code, const QString& reason) {
        m_connectedAt.remove(line);
        progress(line, QStringLiteral("failed"), code, reason);
    };
    connect(engine, &SipEngine::RequestFailureResponse, this, failed);
    connect(engine, &SipEngine::ServerFailureResponse, this, failed);
    connect(engine, &SipEngine::GlobalFailureResponse, this, failed);
    connect(engine, &SipEngine::CallFailed, this, [=](int line) { failed(line, 0, QStringLiteral("call failed")); });
    connect(engine, &SipEngine::CallHungUp, this, [=](int line) { m_connectedAt.remove(line); });

    // A call's end is its row: the event carries the values the call log received.
    if (CallLog* log = ctx.subsystems.callLog)
        connect(log, &CallLog::callLogRowWritten, this, [this](const QStringList& row) {
            static const char* const names[] = {"number", "agent", "seconds", "time", "date", "result"};
            QJsonObject data;
            for (int i = 0; i < row.size() && i < 6; ++i)
                data.insert(QLatin1String(names[i]), i == 2 ? QJsonValue(row[i].toDouble()) : QJsonValue(row[i]));
            broadcast(QStringLiteral("ended"), data);
        });
    // Calls that ring, and how each stopped ringing (answered, rejected, missed).
    if (IncomingCalls* incoming = ctx.subsystems.incoming)
        connect(
            incoming, &IncomingCalls::ringingChanged, this,
            [this](const QString& callId, const QString& number, const QString& name, const QString& state, int line) {
                QJsonObject data{{QStringLiteral("call"), callId},
                                 {QStringLiteral("number"), number},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("state"), state}};
                if (line >= 0) data.insert(QStringLiteral("line"), line + 1);
                broadcast(QStringLiteral("ringing"), data);
            });
    // The call-detail record of each call, as its file has it; and the recording's pauses.
    if (CallLog* log = ctx.subsystems.callLog)
        connect(log, &CallLog::callDetailWritten, this, [this](const QByteArray& record) {
            broadcast(QStringLiteral("call-ended"), QJsonDocument::fromJson(record).object());
        });
    if (Recording* recording = ctx.subsystems.recording)
        connect(recording, &Recording::pauseChanged, this, [this](int line, bool paused) {
            broadcast(QStringLiteral("recording"),
                      {{QStringLiteral("line"), line + 1}, {QStringLiteral("paused"), paused}});
        });
    // Every request's outcome as the journal has it; requests of this control carry their id.
    if (Automation* automation = ctx.subsystems.automation)
        connect(automation, &Automation::requestJournaled, this,
                [this](quint64 id, const QString& channel, const QString& request, const QString& outcome) {
                    QJsonObject data{{QStringLiteral("channel"), channel},
                                     {QStringLiteral("request"), request},
                                     {QStringLiteral("outcome"), outcome}};
                    if (id) data.insert(QStringLiteral("id"), double(id));
                    broadcast(QStringLiteral("request"), data);
                });
}

} // namespace corvid
