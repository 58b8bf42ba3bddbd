#include "integrations/DdeBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "dialer/Automation.h"
#include "integrations/MonitorRules.h"
#include "integrations/Monitoring.h"

namespace corvid {

DdeBus::DdeBus(Monitoring& monitoring, QLineEdit& text, QObject* parent)
    : QObject(parent), m_monitoring(monitoring), m_text(text) {}

DdeBus* DdeBus::startOnSessionBus(Monitoring& monitoring, QLineEdit& text, QObject* parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return nullptr;
    auto* service = new DdeBus(monitoring, text, parent);
    if (!bus.registerObject(QLatin1String(DdeObjectPath), service, QDBusConnection::ExportAllSlots)) {
        delete service;
        return nullptr;
    }
    // Not queued behind another owner: a second dialer on the same desktop runs without the service.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(QLatin1String(DdeServiceName), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qWarning("D-Bus: %s is taken; other programs cannot reach this dialer's DDE buttons", DdeServiceName);
        delete service;
        return nullptr;
    }
    service->m_serviceRegistered = true;
    return service;
}

DdeBus::~DdeBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (m_serviceRegistered) bus.unregisterService(QLatin1String(DdeServiceName));
    bus.unregisterObject(QLatin1String(DdeObjectPath));
}

void DdeBus::SetText(const QString& text) {
    // What an agent could not type is refused rather than cut: the box holds maxLength characters.
    if (text.size() > m_text.maxLength()) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("The text is longer than the box holds (%1 characters).").arg(m_text.maxLength()));
        return;
    }
    m_text.setText(text);
}

QString DdeBus::Text() const {
    return m_text.text();
}

void DdeBus::DDEListen() {
    press(ListenCode);
}

void DdeBus::DDECorvid() {
    press(CoachCode);
}

QString DdeBus::Answer() {
    return incoming(true);
}

QString DdeBus::Reject() {
    return incoming(false);
}

// Taken like every other program's request (one at a time, journaled); the answer is its outcome.
QString DdeBus::incoming(bool answer) {
    if (!m_incoming || !calledFromDBus()) return QStringLiteral("ignored: no incoming calls here");
    setDelayedReply(true);
    const QDBusMessage request = message();
    m_incoming(answer,
               [request](const QString& outcome) { QDBusConnection::sessionBus().send(request.createReply(outcome)); });
    return {};
}

QString DdeBus::PauseRecording() {
    return recordingRequest(true);
}

QString DdeBus::ResumeRecording() {
    return recordingRequest(false);
}

QString DdeBus::recordingRequest(bool pause) {
    if (!m_automation) {
        if (calledFromDBus()) sendErrorReply(QLatin1String(DdeRefusedError), QStringLiteral("no automation"));
        return {};
    }
    const QString word = pause ? automation::PauseRecordingWord : automation::ResumeRecordingWord;
    automation::ClipboardRequest request;
    request.kind = pause ? automation::ClipboardRequest::PauseRecording : automation::ClipboardRequest::ResumeRecording;
    request.command = word;
    const quint64 id = m_automation->submitRequest(QStringLiteral("dbus"), request, word);
    if (!calledFromDBus()) return {};
    // Answered with the outcome once the automation has taken the request.
    setDelayedReply(true);
    const QDBusMessage call = message();
    auto* link = new QMetaObject::Connection;
    *link = connect(m_automation, &Automation::requestJournaled, this,
                    [call, id, link](quint64 done, const QString&, const QString&, const QString& outcome) {
                        if (done != id) return;
                        QObject::disconnect(*link);
                        delete link;
                        const bool refused = outcome.startsWith(QLatin1String("refused"));
                        QDBusConnection::sessionBus().send(
                            refused ? call.createErrorReply(QLatin1String(DdeRefusedError), outcome)
                                    : call.createReply(outcome));
                    });
    return {};
}

void DdeBus::press(const QString& code) {
    if (!calledFromDBus()) {
        m_monitoring.runDdeMonitoring(code, true);
        return;
    }
    if (m_pressPending || !m_monitoring.ddeButtonsEnabled()) {
        sendErrorReply(QLatin1String(DdeBusyError), QStringLiteral("The DDE buttons are busy with an earlier press."));
        return;
    }
    // Another program never ends the agent's call with a customer: the agent hangs up first. Said
    // at once here, and by the action itself for a call placed before it runs or during its wait.
    if (m_monitoring.customerCallUp()) {
        sendErrorReply(QLatin1String(DdeBusyError), CallUpRefusal);
        return;
    }
    // The action waits, and a wait inside the bus's own delivery would hold it up: the action runs
    // from the event loop once this call has returned, and the answer goes out when it is over.
    // Until then a second press is refused.
    setDelayedReply(true);
    m_pressPending = true;
    const QDBusMessage request = message();
    QTimer::singleShot(0, this, [this, request, code]() {
        const QPointer<DdeBus> alive(this);
        const QString error = m_monitoring.runDdeMonitoring(code, false, true);
        if (!alive) return; // the window closed during the wait
        m_pressPending = false;
        const char* errorName = error == CallUpRefusal ? DdeBusyError : DdeEngineError;
        QDBusConnection::sessionBus().send(error.isEmpty() ? request.createReply()
                                                           : request.createErrorReply(QLatin1String(errorName), error));
    });
}

} // namespace corvid
