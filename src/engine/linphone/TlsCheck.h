#pragma once
// Why a TLS connection to the proxy failed, in plain words. The library refuses a bad certificate
// without telling why; after such a failure the engine connects once more itself, with the same CA
// bundle and name check, and reports what that handshake found.

#include <QObject>
#include <QSslError>
#include <QString>

#include <functional>
#include <memory>

class QSslSocket;

namespace corvid {

// The words for a refused handshake (the first error that explains it), short enough to read and
// saying what to do; empty for no errors. name is the name the certificate was checked for.
QString tlsFailureText(const QList<QSslError::SslError>& errors, const QString& name);
// The words when no handshake took place at all with host:port.
QString tlsUnreachableText(const QString& hostPort);

class TlsCheck : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const QString& why)>;
    explicit TlsCheck(QObject* parent = nullptr);
    ~TlsCheck() override;

    // Connects to host:port (port 5061 when none is given), checks the certificate against caFile
    // (the system's store when empty) and against name (as the library does: the PBX's name when
    // the proxy is given by address) when verify is set, and calls done once with the reason
    // (empty when the handshake passed). A running check is dropped.
    void start(const QString& hostPort, const QString& name, const QString& caFile, bool verify, Done done);
    void cancel();
    bool running() const { return bool(m_socket); }

private:
    void finish(const QString& why);

    std::unique_ptr<QSslSocket> m_socket;
    QList<QSslError::SslError> m_errors;
    QString m_hostPort;
    QString m_name;
    Done m_done;
};

} // namespace corvid
