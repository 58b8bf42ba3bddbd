#pragma once
// A private session bus for tests that reach the dialer over D-Bus: its own dbus-daemon on a socket
// in a temporary folder (stopped by its PID), made the process's session bus before anything
// connects to one. Clients in other processes are run with busClient(). Header-only.

#include "testbed/TestBed.h"

#include <QDBusConnection>
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
        const QString socket = m_dir.filePath(QStringLiteral("bus"));
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
    void stop() {
        QDBusConnection::disconnectFromBus(QDBusConnection::sessionBus().name());
        m_daemon.stop();
    }

    struct Result {
        int exitCode = -1;
        QString output; // stdout and stderr
    };
    // Runs a D-Bus client (dbus-send, busctl...) in its own process; the event loop keeps running
    // meanwhile, so the dialer in this process can answer it.
    static Result busClient(const QString& program, const QStringList& arguments, int timeoutMs = 10000) {
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        QSignalSpy finished(&client, &QProcess::finished);
        client.start(program, arguments);
        Result result;
        if (!finished.wait(timeoutMs)) {
            client.kill();
            client.waitForFinished(1000);
            return result;
        }
        result.exitCode = client.exitCode();
        result.output = QString::fromLocal8Bit(client.readAll());
        return result;
    }
    // dbus-send to the dialer's DDE object: method with its typed arguments ("string:205").
    static Result dde(const QString& method, const QStringList& arguments = {}) {
        return busClient(QStringLiteral("dbus-send"),
                         QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                     QStringLiteral("--dest=org.corviddialer.Dialer"), QStringLiteral("/Dde"),
                                     QStringLiteral("org.corviddialer.Dde.") + method} +
                             arguments);
    }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/corvid-bus-XXXXXX")};
    QString m_address;
    BedProcess m_daemon;
};

} // namespace corvid::test
