#include "engine/linphone/TlsCheck.h"

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace corvid {

namespace {
constexpr int kCheckMs = 5000;
constexpr quint16 kTlsPort = 5061;
} // namespace

QString tlsFailureText(const QList<QSslError::SslError>& errors, const QString& name) {
    const QString lead = QStringLiteral("no secure connection (TLS) to %1: ").arg(name);
    using E = QSslError;
    for (E::SslError e : errors) {
        switch (e) {
        case E::HostNameMismatch:
            return lead + QStringLiteral("the server's certificate is for another name. Tell your IT administrator.");
        case E::CertificateExpired:
            return lead + QStringLiteral("the server's certificate has expired. Tell your IT administrator.");
        case E::CertificateNotYetValid:
            return lead + QStringLiteral("the server's certificate is not valid yet. Check this computer's clock.");
        case E::CertificateRevoked:
            return lead + QStringLiteral("the server's certificate has been revoked. Tell your IT administrator.");
        default:
            break;
        }
    }
    for (E::SslError e : errors) {
        switch (e) {
        case E::SelfSignedCertificate:
        case E::SelfSignedCertificateInChain:
        case E::UnableToGetLocalIssuerCertificate:
        case E::UnableToGetIssuerCertificate:
        case E::UnableToVerifyFirstCertificate:
        case E::CertificateUntrusted:
        case E::CertificateRejected:
        case E::InvalidCaCertificate:
            return lead + QStringLiteral(
                              "the server's certificate is not from a trusted authority. Tell your IT administrator.");
        default:
            break;
        }
    }
    if (!errors.isEmpty())
        return lead + QStringLiteral("the server's certificate was refused. Tell your IT administrator.");
    return {};
}

QString tlsUnreachableText(const QString& hostPort) {
    return QStringLiteral("no secure connection (TLS) to %1: the server did not answer. Check the network, or tell "
                          "your IT administrator.")
        .arg(hostPort);
}

TlsCheck::TlsCheck(QObject* parent) : QObject(parent) {}

TlsCheck::~TlsCheck() {
    cancel();
}

void TlsCheck::cancel() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.release()->deleteLater();
    }
    m_done = nullptr;
}

void TlsCheck::start(const QString& hostPort, const QString& name, const QString& caFile, bool verify, Done done) {
    cancel();
    m_done = std::move(done);
    m_errors.clear();
    QString host = hostPort;
    quint16 port = kTlsPort;
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    if (colon > 0) {
        host = hostPort.left(colon);
        port = quint16(hostPort.mid(colon + 1).toUInt());
    }
    m_hostPort = host + QLatin1Char(':') + QString::number(port);
    m_name = name.isEmpty() ? host : name;

    m_socket = std::make_unique<QSslSocket>();
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!caFile.isEmpty()) config.setCaCertificates(QSslCertificate::fromPath(caFile));
    config.setPeerVerifyMode(verify ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    m_socket->setSslConfiguration(config);
    m_socket->setPeerVerifyName(m_name);
    connect(m_socket.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& e : errors)
            m_errors << e.error();
    });
    connect(m_socket.get(), &QSslSocket::encrypted, this, [this] {
        // The SIP library matches a name against the certificate's DNS entries and its CN only: an
        // address named in an IP entry alone passes here and not there.
        const QSslCertificate peer = m_socket->peerCertificate();
        const bool named = QHostAddress(m_name).isNull() || peer.isNull() ||
                           peer.subjectAlternativeNames().values(QSsl::DnsEntry).contains(m_name) ||
                           peer.subjectInfo(QSslCertificate::CommonName).contains(m_name);
        finish(named ? QString() : tlsFailureText({QSslError::HostNameMismatch}, m_name));
    });
    connect(m_socket.get(), &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        const QString why = tlsFailureText(m_errors, m_name);
        finish(why.isEmpty() ? tlsUnreachableText(m_hostPort) : why);
    });
    QTimer::singleShot(kCheckMs, this, [this, socket = m_socket.get()] {
        if (m_socket.get() == socket) finish(tlsUnreachableText(m_hostPort));
    });
    m_socket->connectToHostEncrypted(host, port, m_name);
}

void TlsCheck::finish(const QString& why) {
    Done done = std::move(m_done);
    cancel();
    if (done) done(why);
}

} // namespace corvid
