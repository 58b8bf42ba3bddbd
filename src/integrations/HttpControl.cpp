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
#include "window/WindowContext.h"

#include <QtHttpServer/QAbstractHttpServer>
#include <QtHttpServer/QHttpServerRequest>
#include <QtHttpServer/QHttpServerResponder>

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace corvid {

using namespace httpcontrol;
using Status = QHttpServerResponder::StatusCode;

namespace {

const QString HttpChannel = QStringLiteral("http");
constexpr int KeepAliveMs = 15000;

QString readKey(const WindowContext& ctx, const char* key) {
    return ReadIniKey(ctx.state.settingsPath, QString::fromLatin1(keys::System), QString::fromLatin1(key)).trimmed();
}

} // namespace

// The module's server calls back into the control for every complete request it parsed.
class HttpControl::Server : public QAbstractHttpServer {
public:
    explicit Server(HttpControl& owner) : m_owner(owner) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        return m_owner.handle(request, socket, makeResponder(request, socket));
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(Status::NotFound);
    }

private:
    HttpControl& m_owner;
};

struct HttpControl::Answer {
    Status status = Status::Ok;
    QByteArray body;                      // JSON unless empty
    QList<QPair<QByteArray, QByteArray>> headers; // beyond the type, length and CORS headers
};

HttpControl::HttpControl(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    m_keepAlive = new QTimer(this);
    m_keepAlive->setInterval(KeepAliveMs);
    connect(m_keepAlive, &QTimer::timeout, this, [this] {
        // A comment line keeps proxies from closing the stream and finds clients that went away.
        for (Stream& stream : m_streams)
            if (stream.socket) stream.responder->writeBody(": keep-alive\n\n");
        dropClosedStreams();
    });
    connectEvents();
}

HttpControl::~HttpControl() {
    stop();
}

void HttpControl::start() {
    stop();
    if (readKey(ctx, keys::HttpControl) != QLatin1String("True")) return;
    const auto port = portFromSetting(readKey(ctx, keys::HttpControlPort));
    const quint16 wanted = port.value_or(DefaultPort);
    m_origins = originsFromSetting(readKey(ctx, keys::HttpControlOrigins));
    if (!readToken()) {
        if (ctx.subsystems.lines)
            ctx.subsystems.lines->AddStatusLog(
                QStringLiteral("HTTP control is off: cannot write %1").arg(ctx.root.binFile(TokenFileName)));
        return;
    }
    m_server = std::make_unique<Server>(*this);
    // Both loopback addresses or none: a client that reaches one must not find another program
    // on the other.
    const quint16 v4 = m_server->listen(QHostAddress::LocalHost, wanted);
    const quint16 v6 = v4 ? m_server->listen(QHostAddress::LocalHostIPv6, wanted) : 0;
    // A machine without IPv6 has no ::1 to guard; only a refused listen on a present ::1 counts.
    const bool v6Missing = !v6 && QTcpServer().listen(QHostAddress::LocalHostIPv6, 0) == false;
    if (!v4 || (!v6 && !v6Missing)) {
        m_server.reset();
        if (ctx.subsystems.lines)
            ctx.subsystems.lines->AddStatusLog(
                QStringLiteral("HTTP control is off: port %1 is taken").arg(wanted));
        return;
    }
    m_port = wanted;
}

void HttpControl::stop() {
    for (Stream& stream : m_streams)
        if (stream.socket) stream.socket->disconnectFromHost();
    m_streams.clear();
    m_keepAlive->stop();
    m_server.reset();
    m_port = 0;
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

bool HttpControl::handle(const QHttpServerRequest& request, QTcpSocket* socket, QHttpServerResponder&& responder) {
    Q_UNUSED(socket)
    const QByteArray origin = request.value("origin");
    const bool corsOrigin = originAllowed(origin, m_origins);
    const bool stream = request.method() == QHttpServerRequest::Method::Get &&
                        request.url().path() == QLatin1String("/v1/events");
    Answer answer;
    if (!hostAllowed(request.value("host"), m_port))
        answer = {Status::Forbidden, errorBody(QStringLiteral("Host must be the loopback address")), {}};
    else if (!origin.isEmpty() && !corsOrigin)
        answer = {Status::Forbidden, errorBody(QStringLiteral("origin not allowed")), {}};
    else if (request.method() == QHttpServerRequest::Method::Options)
        answer = {Status::NoContent,
                  {},
                  {{"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
                   {"Access-Control-Allow-Headers", "Authorization, Content-Type"},
                   {"Access-Control-Max-Age", "600"}}};
    else if (request.body().size() > MaxBodyBytes)
        answer = {Status::PayloadTooLarge, errorBody(QStringLiteral("the body is over 64 KB")), {}};
    else if (!bearerMatches(request.value("authorization"), m_token))
        answer = {Status::Unauthorized, errorBody(QStringLiteral("missing or wrong token")),
                  {{"WWW-Authenticate", "Bearer"}}};
    else if (stream) {
        openStream(corsOrigin ? origin : QByteArray(), std::move(responder));
        return true;
    } else
        answer = route(request);

    responder.writeStatusLine(answer.status);
    if (!answer.body.isEmpty()) responder.writeHeader("Content-Type", "application/json");
    responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    if (corsOrigin) {
        responder.writeHeader("Access-Control-Allow-Origin", origin);
        responder.writeHeader("Vary", "Origin");
    }
    for (const auto& header : answer.headers) responder.writeHeader(header.first, header.second);
    responder.writeBody(answer.body);
    return true;
}

HttpControl::Answer HttpControl::route(const QHttpServerRequest& request) {
    const QString path = request.url().path();
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    const bool get = request.method() == QHttpServerRequest::Method::Get;
    const auto wrongMethod = [](const QByteArray& allow) {
        return Answer{Status::MethodNotAllowed, errorBody(QStringLiteral("method not allowed")), {{"Allow", allow}}};
    };
    if (path == QLatin1String("/v1/dial")) {
        if (!post) return wrongMethod("POST");
        const DialBody body = parseDialBody(request.body());
        if (!body.error.isEmpty()) return {Status::BadRequest, errorBody(body.error), {}};
        const QString number = automation::dialNumberRule(body.number);
        if (number.isEmpty()) {
            const QString reason = QStringLiteral("not a ten-digit number");
            if (ctx.subsystems.automation)
                ctx.subsystems.automation->journalRequest(HttpChannel, body.number, QStringLiteral("ignored: ") + reason);
            return {Status::UnprocessableEntity, errorBody(reason), {}};
        }
        return submit(automation::ClipboardRequest::Dial, number, body.number);
    }
    if (path == QLatin1String("/v1/hangup"))
        return post ? submit(automation::ClipboardRequest::HangUp, {}, automation::HangUpWord) : wrongMethod("POST");
    if (path == QLatin1String("/v1/pam"))
        return post ? submit(automation::ClipboardRequest::MessageDrop, {}, automation::MessageDropWord)
                    : wrongMethod("POST");
    if (path == QLatin1String("/v1/answer"))
        return post ? submit(automation::ClipboardRequest::Answer, {}, automation::AnswerWord) : wrongMethod("POST");
    if (path == QLatin1String("/v1/reject"))
        return post ? submit(automation::ClipboardRequest::Reject, {}, automation::RejectWord) : wrongMethod("POST");
    if (path == QLatin1String("/v1/recording")) {
        if (!post) return wrongMethod("POST");
        const QJsonValue paused = QJsonDocument::fromJson(request.body()).object().value(QLatin1String("paused"));
        if (!paused.isBool())
            return {Status::BadRequest, errorBody(QStringLiteral("expected {\"paused\": true|false}")), {}};
        return paused.toBool()
                   ? submit(automation::ClipboardRequest::PauseRecording, {}, automation::PauseRecordingWord)
                   : submit(automation::ClipboardRequest::ResumeRecording, {}, automation::ResumeRecordingWord);
    }
    if (path == QLatin1String("/v1/state"))
        return get ? Answer{Status::Ok, QJsonDocument(stateObject()).toJson(QJsonDocument::Compact), {}}
                   : wrongMethod("GET");
    if (path == QLatin1String("/v1/events")) return wrongMethod("GET");
    return {Status::NotFound, errorBody(QStringLiteral("no such endpoint")), {}};
}

HttpControl::Answer HttpControl::submit(int kind, const QString& number, const QString& shown) {
    Automation* automation = ctx.subsystems.automation;
    if (!automation) return {Status::ServiceUnavailable, errorBody(QStringLiteral("no automation")), {}};
    if (automation->queuedRequests(HttpChannel) >= MaxQueuedRequests)
        return {Status::TooManyRequests, errorBody(QStringLiteral("too many requests waiting")), {{"Retry-After", "1"}}};
    automation::ClipboardRequest request;
    request.kind = automation::ClipboardRequest::Kind(kind);
    request.number = number;
    request.command = shown;
    const quint64 id = automation->submitRequest(HttpChannel, request, shown);
    return {Status::Accepted, QJsonDocument(QJsonObject{{QStringLiteral("id"), double(id)}}).toJson(QJsonDocument::Compact), {}};
}

void HttpControl::openStream(const QByteArray& origin, QHttpServerResponder&& responder) {
    auto kept = std::make_unique<QHttpServerResponder>(std::move(responder));
    kept->writeStatusLine(Status::Ok);
    kept->writeHeader("Content-Type", "text/event-stream");
    kept->writeHeader("Cache-Control", "no-store");
    if (!origin.isEmpty()) {
        kept->writeHeader("Access-Control-Allow-Origin", origin);
        kept->writeHeader("Vary", "Origin");
    }
    // The first event is the state as it is, so a page that connects late starts from the truth.
    kept->writeBody(serverSentEvent(QStringLiteral("state"), stateObject()));
    QTcpSocket* socket = kept->socket();
    connect(socket, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [this] { dropClosedStreams(); }); });
    m_streams.push_back({socket, std::move(kept)});
    m_keepAlive->start();
}

void HttpControl::dropClosedStreams() {
    m_streams.erase(std::remove_if(m_streams.begin(), m_streams.end(),
                                   [](const Stream& s) {
                                       return !s.socket || s.socket->state() != QAbstractSocket::ConnectedState;
                                   }),
                    m_streams.end());
    if (m_streams.empty()) m_keepAlive->stop();
}

void HttpControl::broadcast(const QString& type, QJsonObject data) {
    if (m_streams.empty()) return;
    const QByteArray event = serverSentEvent(type, data);
    for (Stream& stream : m_streams)
        if (stream.socket && stream.socket->state() == QAbstractSocket::ConnectedState)
            stream.responder->writeBody(event);
    dropClosedStreams();
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
