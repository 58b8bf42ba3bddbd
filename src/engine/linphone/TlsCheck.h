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

// The words for a refused handshake (the first error that explains it); empty for no errors.
// host:port is the server that was contacted.
QString tlsFailureText(const QList<QSslError::SslError>& errors, const QString& hostPort);
// The words when no handshake took place at all.
QString tlsUnreachableText(const QString& hostPort);

class TlsCheck : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const QString& why)>;
    explicit TlsCheck(QObject* parent = nullptr);
    ~TlsCheck() override;

    // Connects to host:port (port 5061 when none is given), checks the certificate against caFile
    // (the system's store when empty) and the host's name when verify is set, and calls done once
    // with the reason (empty when the handshake passed). A running check is dropped.
    void start(const QString& hostPort, const QString& caFile, bool verify, Done done);
    void cancel();
    bool running() const { return bool(m_socket); }

private:
    void finish(const QString& why);

    std::unique_ptr<QSslSocket> m_socket;
    QList<QSslError::SslError> m_errors;
    QString m_hostPort;
    Done m_done;
};

} // namespace corvid
