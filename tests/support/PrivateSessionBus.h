#pragma once
// A private session bus for tests that reach the dialer over D-Bus: its own dbus-daemon on a socket
// in a temporary folder (stopped by its PID), made the process's session bus before anything
// connects to one. Clients in other processes are run with busClient(); dde() calls the dialer from
// a connection of this process of its own. Header-only.

#include "integrations/DdeBus.h"
#include "testbed/TestBed.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace corvid::test {

class PrivateSessionBus {
public:
    // Starts the bus and points DBUS_SESSION_BUS_ADDRESS at it. Call before the first use of
    // QDBusConnection::sessionBus() in the process.
    bool start() {
        if (!m_dir.isValid()) return false;
        const QString socket = this->socket();
        m_address = QStringLiteral("unix:path=") + socket;
        if (!m_daemon.start(QStringLiteral("dbus-daemon"),
                            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                             QStringLiteral("--address=") + m_address},
                            m_dir.path(), m_dir.filePath(QStringLiteral("daemon.log"))))
            return false;
        if (!QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 5000)) return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toLocal8Bit());
        return QDBusConnection::sessionBus().isConnected();
    }
    qint64 pid() const { return m_daemon.pid(); }
    QString socket() const { return m_dir.filePath(QStringLiteral("bus")); }
    void stop() {
        QDBusConnection::disconnectFromBus(QDBusConnection::sessionBus().name());
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        m_daemon.stop();
    }

    // Runs a D-Bus client in its own process; the event loop keeps running meanwhile, so the dialer
    // in this process can answer it. Its stdout and stderr; empty when it did not end in time.
    static QString busClient(const QString& program, const QStringList& arguments, int timeoutMs = 10000) {
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        QSignalSpy finished(&client, &QProcess::finished);
        client.start(program, arguments);
        if (finished.wait(timeoutMs)) return QString::fromLocal8Bit(client.readAll());
        client.kill();
        client.waitForFinished(1000);
        return QString();
    }
    // A call of method on the dialer's DDE object from a client connection of this process, not
    // waited for; dde() waits for its reply (or error) while the event loop runs.
    static QDBusPendingCall ddeAsync(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(DdeServiceName), QLatin1String(DdeObjectPath),
                                                           QLatin1String(DdeInterfaceName), method);
        call.setArguments(arguments);
        return QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("client"))
            .asyncCall(call, 20000);
    }
    static QDBusMessage dde(const QString& method, const QVariantList& arguments = {}) {
        const QDBusPendingCall call = ddeAsync(method, arguments);
        if (!QTest::qWaitFor([&] { return call.isFinished(); }, 21000)) qWarning("no reply to %s", qPrintable(method));
        return call.reply();
    }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/corvid-bus-XXXXXX")};
    QString m_address;
    BedProcess m_daemon;
};

} // namespace corvid::test
