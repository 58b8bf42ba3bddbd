#pragma once
// Records every event of a SipEngine in arrival order as "Name(arg, arg, ...)" texts and as
// name + arguments, noting whether each arrived on the thread that owns the engine.

#include "engine/SipEngine.h"

#include <QCoreApplication>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantList>

namespace corvid {

class EngineEventLog : public QObject {
public:
    struct Event {
        QString name;
        QVariantList args;
    };

    explicit EngineEventLog(SipEngine* engine, QObject* parent = nullptr) : QObject(parent), m_engine(engine) {
        auto on = [this](auto signal, const char* name) {
            connect(m_engine, signal, this, [this, name](auto... args) { add(name, {QVariant::fromValue(args)...}); });
        };
        on(&SipEngine::DtmfDigitReceived, "DtmfDigitReceived");
        on(&SipEngine::PlayWaveDone, "PlayWaveDone");
        on(&SipEngine::UnregisterTrying, "UnregisterTrying");
        on(&SipEngine::UnregisterFailed, "UnregisterFailed");
        on(&SipEngine::UnregisterSucceeded, "UnregisterSucceeded");
        on(&SipEngine::RegisterTrying, "RegisterTrying");
        on(&SipEngine::RegisterSucceeded, "RegisterSucceeded");
        on(&SipEngine::CallFailed, "CallFailed");
        on(&SipEngine::CallConnecting, "CallConnecting");
        on(&SipEngine::EngineNoticeA, "EngineNoticeA");
        on(&SipEngine::EngineNoticeB, "EngineNoticeB");
        on(&SipEngine::CallHungUp, "CallHungUp");
        on(&SipEngine::TransferAccepted, "TransferAccepted");
        on(&SipEngine::ProvisionalResponse, "ProvisionalResponse");
        on(&SipEngine::RedirectionResponse, "RedirectionResponse");
        on(&SipEngine::RequestFailureResponse, "RequestFailureResponse");
        on(&SipEngine::ServerFailureResponse, "ServerFailureResponse");
        on(&SipEngine::GlobalFailureResponse, "GlobalFailureResponse");
        on(&SipEngine::CallConnected, "CallConnected");
        on(&SipEngine::IncomingCall, "IncomingCall");
        on(&SipEngine::ReregisterTrying, "ReregisterTrying");
        on(&SipEngine::ReregisterSucceeded, "ReregisterSucceeded");
        on(&SipEngine::TransferFailed, "TransferFailed");
        on(&SipEngine::RegisterFailed, "RegisterFailed");
        on(&SipEngine::ReregisterFailed, "ReregisterFailed");
        on(&SipEngine::ServerNotAnswering, "ServerNotAnswering");
        on(&SipEngine::SoundDeviceLost, "SoundDeviceLost");
        on(&SipEngine::ChatContactStatus, "ChatContactStatus");
        on(&SipEngine::ChatMessageReceived, "ChatMessageReceived");
    }

    // "CallConnecting(0)", "ProvisionalResponse(0, 180, Ringing)", ...
    QStringList texts() const { return m_texts; }
    QStringList names() const {
        QStringList out;
        for (const Event& e : m_events)
            out << e.name;
        return out;
    }
    bool has(const QString& text) const { return m_texts.contains(text); }
    bool hasName(const QString& name) const { return names().contains(name); }
    // Arguments of the first event of that name (empty when none).
    QVariantList first(const QString& name) const {
        for (const Event& e : m_events)
            if (e.name == name) return e.args;
        return {};
    }
    int offThreadCount() const { return m_offThread; }
    void clear() { m_events.clear(), m_texts.clear(); }

private:
    void add(const char* name, const QVariantList& args) {
        if (QThread::currentThread() != m_engine->thread()) ++m_offThread;
        QStringList parts;
        for (const QVariant& a : args)
            parts << a.toString();
        m_events.append({QString::fromLatin1(name), args});
        m_texts << QStringLiteral("%1(%2)").arg(QString::fromLatin1(name), parts.join(QStringLiteral(", ")));
    }

    SipEngine* m_engine;
    QList<Event> m_events;
    QStringList m_texts;
    int m_offThread = 0;
};

} // namespace corvid
