#include "testbed/TestBed.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace corvid::test {

namespace {

constexpr int kReadyTimeoutMs = 8000;
constexpr int kPollMs = 20;

int bindUdp(int port, int* boundPort) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    if (boundPort) {
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        *boundPort = ntohs(addr.sin_port);
    }
    return fd;
}

bool udpPortFree(int port) {
    int fd = bindUdp(port, nullptr);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

QString readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

QString findProgram(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

int statusCode(const QByteArray& message) {
    if (!message.startsWith("SIP/2.0 ")) return -1;
    return message.mid(8, 3).toInt();
}

} // namespace

// ---------------------------------------------------------------------------------------------

int freeUdpPort(int span) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        int port = 0;
        int fd = bindUdp(0, &port);
        if (fd < 0) continue;
        ::close(fd);
        if (span <= 1) return port;
        port &= ~1;
        if (port + span > 65535) continue;
        bool allFree = true;
        for (int i = 0; i < span && allFree; ++i)
            allFree = udpPortFree(port + i);
        if (allFree) return port;
    }
    return 0;
}

bool isUdpPortBound(int port) {
    int fd = bindUdp(port, nullptr);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EADDRINUSE;
}

int freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

bool processGroupAlive(qint64 pgid) {
    return pgid > 0 && ::kill(-static_cast<pid_t>(pgid), 0) == 0;
}

// ---------------------------------------------------------------------------------------------

BedProcess::~BedProcess() {
    stop();
}

bool BedProcess::start(const QString& program, const QStringList& arguments, const QString& workDir,
                       const QString& logFile, const QHash<QString, QString>& extraEnvironment) {
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(program);
    m_process->setArguments(arguments);
    m_process->setWorkingDirectory(workDir);
    m_process->setStandardInputFile(QProcess::nullDevice());
    if (logFile.isEmpty()) {
        m_process->setStandardOutputFile(QProcess::nullDevice());
        m_process->setStandardErrorFile(QProcess::nullDevice());
    } else {
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->setStandardOutputFile(logFile);
    }
    if (!extraEnvironment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it)
            env.insert(it.key(), it.value());
        m_process->setProcessEnvironment(env);
    }
    // Its own process group, so that its children (kamailio forks workers) go with it; and it is
    // told to end when the test process dies without stopping it.
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
    });
    m_process->start();
    if (!m_process->waitForStarted(5000)) {
        m_process.reset();
        return false;
    }
    m_pid = m_process->processId();
    return true;
}

bool BedProcess::isRunning() const {
    if (!m_process) return false;
    // Outside an event loop QProcess learns of the exit only when asked to wait.
    if (m_process->state() == QProcess::Running) m_process->waitForFinished(0);
    return m_process->state() == QProcess::Running;
}

void BedProcess::stop(int graceMs) {
    if (!m_process) return;
    const pid_t group = static_cast<pid_t>(m_pid);
    if (m_process->state() != QProcess::NotRunning) {
        ::kill(group, SIGTERM);
        ::kill(-group, SIGTERM);
        if (!m_process->waitForFinished(graceMs)) {
            ::kill(-group, SIGKILL);
            ::kill(group, SIGKILL);
            m_process->waitForFinished(3000);
        }
    }
    // Workers that outlived their parent still belong to the group.
    QDeadlineTimer deadline(graceMs);
    while (processGroupAlive(m_pid) && !deadline.hasExpired())
        QThread::msleep(kPollMs);
    if (processGroupAlive(m_pid)) ::kill(-group, SIGKILL);
    m_process.reset();
}

// ---------------------------------------------------------------------------------------------

SipTestBed::SipTestBed() : SipTestBed(Options{}) {}

SipTestBed::SipTestBed(Options options)
    : m_options(options), m_dir(QDir::tempPath() + QStringLiteral("/corvid-bed-XXXXXX")) {
    m_farEnds[0].name = QStringLiteral("answer");
    m_farEnds[0].scenario = QStringLiteral("uas_answer.xml");
    m_farEnds[0].echo = true;
    m_farEnds[1].name = QStringLiteral("hangup");
    m_farEnds[1].scenario = QStringLiteral("uas_hangup.xml");
    m_farEnds[1].echo = true;
    m_farEnds[2].name = QStringLiteral("reject");
    m_farEnds[2].scenario = QStringLiteral("uas_reject.xml");
}

SipTestBed::~SipTestBed() {
    stop();
}

QString SipTestBed::providerDomain() {
    return QStringLiteral(CORVID_PROVIDER_DOMAIN);
}

QString SipTestBed::domain() const {
    return QStringLiteral("pbx1234.") + providerDomain();
}

QString SipTestBed::proxyAddress() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_proxyPort);
}

QString SipTestBed::tlsAddress(TlsListener listener) const {
    return QStringLiteral("127.0.0.1:%1").arg(m_tlsPorts[static_cast<int>(listener)]);
}

QString SipTestBed::tlsCaFile() const {
    return m_dir.filePath(QStringLiteral("ca.pem"));
}

QString SipTestBed::stunAddress() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_stunPort);
}

QString SipTestBed::tempPath() const {
    return m_dir.path();
}

const SipTestBed::FarEndProcess& SipTestBed::farEnd(FarEnd which) const {
    return m_farEnds[static_cast<int>(which)];
}

int SipTestBed::farEndPort(FarEnd which) const {
    return farEnd(which).port;
}

QList<qint64> SipTestBed::processIds() const {
    QList<qint64> pids;
    if (m_proxy) pids << m_proxy->pid();
    if (m_stun) pids << m_stun->pid();
    if (m_lossRelay) pids << m_lossRelay->pid();
    for (const auto& f : m_farEnds)
        if (f.process) pids << f.process->pid();
    return pids;
}

QString SipTestBed::readTemp(const QString& name) const {
    return readFile(m_dir.filePath(name));
}

QString SipTestBed::farEndMessages(FarEnd which) const {
    return readTemp(farEnd(which).name + QStringLiteral(".msg"));
}

QString SipTestBed::farEndLog(FarEnd which) const {
    return readTemp(farEnd(which).name + QStringLiteral(".log"));
}

QString SipTestBed::proxyLog() const {
    return readTemp(QStringLiteral("kamailio.log"));
}

bool SipTestBed::waitUntilBound(BedProcess& process, int port, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!process.isRunning()) return false;
        if (isUdpPortBound(port)) return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

bool SipTestBed::startFarEnd(FarEndProcess& f) {
    const QString sipp = findProgram(QStringLiteral("sipp"));
    if (sipp.isEmpty()) {
        m_error = QStringLiteral("sipp is not installed");
        return false;
    }
    const QString original = QStringLiteral(CORVID_TESTBED_PBX "/") + f.scenario;
    QString scenario = original;
    const bool lossy = &f == &m_farEnds[0] && m_options.answerLossPercent > 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        f.port = freeUdpPort();
        f.mediaPort = freeUdpPort(4);
        if (!f.port || !f.mediaPort || (f.port >= f.mediaPort && f.port < f.mediaPort + 4)) continue;
        if (lossy) {
            // The answer's SDP names the loss stage's port; the stage passes the RTP on to the echo.
            const int relayPort = freeUdpPort(2);
            QString text = readFile(original);
            text.replace(QStringLiteral("m=audio [media_port]"), QStringLiteral("m=audio %1").arg(relayPort));
            scenario = m_dir.filePath(QStringLiteral("uas_answer_lossy.xml"));
            QFile out(scenario);
            if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0) return false;
            out.close();
            m_lossRelay = std::make_unique<BedProcess>();
            if (!m_lossRelay->start(findProgram(QStringLiteral("python3")),
                                    {QStringLiteral(CORVID_TESTBED_PBX "/rtp_loss_relay.py"),
                                     QString::number(relayPort), QString::number(f.mediaPort),
                                     QString::number(m_options.answerLossPercent)},
                                    m_dir.path(), m_dir.filePath(QStringLiteral("relay.out"))) ||
                !waitUntilBound(*m_lossRelay, relayPort, kReadyTimeoutMs)) {
                m_lossRelay.reset();
                continue;
            }
        }
        QStringList args =
            QStringLiteral("-i 127.0.0.1 -mi 127.0.0.1 -nostdin -trace_msg -trace_logs").split(QLatin1Char(' '));
        // On a loaded machine an ACK can come late and once more for a repeated 200 OK; sipp would
        // drop the call on that stray ACK (and the far end that hangs up would never send its BYE).
        args << QStringLiteral("-default_behaviors") << QStringLiteral("all,-abortunexp");
        args << QStringLiteral("-sf") << scenario << QStringLiteral("-p") << QString::number(f.port)
             << QStringLiteral("-mp") << QString::number(f.mediaPort) << QStringLiteral("-message_file")
             << m_dir.filePath(f.name + ".msg") << QStringLiteral("-log_file") << m_dir.filePath(f.name + ".log")
             << QStringLiteral("-d") << QString::number(m_options.hangUpAfterMs);
        if (f.echo) args << QStringLiteral("-rtp_echo");
        f.process = std::make_unique<BedProcess>();
        if (!f.process->start(sipp, args, m_dir.path(), m_dir.filePath(f.name + ".out"))) {
            m_error = QStringLiteral("cannot start sipp");
            f.process.reset();
            return false;
        }
        if (waitUntilBound(*f.process, f.port, kReadyTimeoutMs)) return true;
        f.process->stop();
        f.process.reset();
    }
    m_error = QStringLiteral("sipp far end %1 did not start: %2").arg(f.name, readTemp(f.name + ".out").right(400));
    return false;
}

bool SipTestBed::proxyAnswersOptions(int timeoutMs) {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0)) return false;
    const QByteArray callId = QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "@127.0.0.1";
    const QByteArray request = "OPTIONS sip:127.0.0.1:" + QByteArray::number(m_proxyPort) +
                               " SIP/2.0\r\n"
                               "Via: SIP/2.0/UDP 127.0.0.1:" +
                               QByteArray::number(socket.localPort()) + ";branch=z9hG4bK" + callId.left(12) +
                               ";rport\r\n"
                               "Max-Forwards: 70\r\n"
                               "From: <sip:probe@127.0.0.1>;tag=probe\r\n"
                               "To: <sip:127.0.0.1>\r\n"
                               "Call-ID: " +
                               callId +
                               "\r\n"
                               "CSeq: 1 OPTIONS\r\n"
                               "Content-Length: 0\r\n\r\n";
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (!m_proxy->isRunning()) return false;
        socket.writeDatagram(request, QHostAddress::LocalHost, static_cast<quint16>(m_proxyPort));
        if (socket.waitForReadyRead(200)) {
            while (socket.hasPendingDatagrams()) {
                QByteArray answer(int(socket.pendingDatagramSize()), '\0');
                socket.readDatagram(answer.data(), answer.size());
                if (statusCode(answer) == 200) return true;
            }
        }
    }
    return false;
}

bool SipTestBed::startProxy(int port) {
    const QString kamailio = findProgram(QStringLiteral("kamailio"));
    if (kamailio.isEmpty()) {
        m_error = QStringLiteral("kamailio is not installed");
        return false;
    }
    QFile templ(QStringLiteral(CORVID_TESTBED_PBX "/kamailio.cfg.in"));
    if (!templ.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("missing kamailio.cfg.in");
        return false;
    }
    const QString text = QString::fromUtf8(templ.readAll());
    if (m_options.tls && !makeCertificates()) return false;
    m_controlSocket = m_dir.filePath(QStringLiteral("kamailio.ctl"));
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_proxyPort = port ? port : freeUdpPort();
        QString cfg = text;
        cfg.replace(QStringLiteral("@SIP_PORT@"), QString::number(m_proxyPort));
        cfg.replace(QStringLiteral("@DOMAIN@"), domain());
        cfg.replace(QStringLiteral("@ANSWER_PORT@"), QString::number(farEndPort(FarEnd::Answer)));
        cfg.replace(QStringLiteral("@HANGUP_PORT@"), QString::number(farEndPort(FarEnd::HangUp)));
        cfg.replace(QStringLiteral("@REJECT_PORT@"), QString::number(farEndPort(FarEnd::Reject)));
        cfg.replace(QStringLiteral("@CTL_SOCKET@"), m_controlSocket);
        cfg.replace(QStringLiteral("@TLS_CFG@"), m_dir.filePath(QStringLiteral("tls.cfg")));
        QString tlsCfg = QStringLiteral("[client:default]\nverify_certificate = no\nrequire_certificate = no\n"
                                        "\n[server:default]\nprivate_key = %1.key\ncertificate = %1.pem\n")
                             .arg(m_dir.filePath(QStringLiteral("trusted")));
        QString listen;
        const char* certs[] = {"trusted", "othername", "otherca", "nameonly", "iponly", "cnonly", "expired"};
        for (int i = 0; i < TlsListeners; ++i) {
            // A restarted proxy listens where it did before.
            m_tlsPorts[i] = !m_options.tls ? 0 : port && m_tlsPorts[i] ? m_tlsPorts[i] : freeTcpPort();
            listen += QStringLiteral("listen=tls:127.0.0.1:%1\n").arg(m_tlsPorts[i]);
            tlsCfg += QStringLiteral("\n[server:127.0.0.1:%1]\nmethod = TLSv1.2+\nverify_certificate = no\n"
                                     "require_certificate = no\nprivate_key = %2.key\ncertificate = %2.pem\n")
                          .arg(m_tlsPorts[i])
                          .arg(m_dir.filePath(QLatin1String(certs[i])));
        }
        cfg.replace(QStringLiteral("@TLS_LISTEN@"), m_options.tls ? listen : QString());
        if (m_options.tls) {
            QFile tlsFile(m_dir.filePath(QStringLiteral("tls.cfg")));
            if (!tlsFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || tlsFile.write(tlsCfg.toUtf8()) < 0) {
                m_error = QStringLiteral("cannot write tls.cfg");
                return false;
            }
        }
        QFile out(m_dir.filePath(QStringLiteral("kamailio.cfg")));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(cfg.toUtf8()) < 0) {
            m_error = QStringLiteral("cannot write kamailio.cfg");
            return false;
        }
        out.close();
        m_proxy = std::make_unique<BedProcess>();
        const QStringList args{QStringLiteral("-f"), out.fileName(),       QStringLiteral("-DD"), QStringLiteral("-E"),
                               QStringLiteral("-Y"), m_dir.path(),         QStringLiteral("-w"),  m_dir.path(),
                               QStringLiteral("-m"), QStringLiteral("32"), QStringLiteral("-M"),  QStringLiteral("4")};
        QStringList withTls = args;
        if (m_options.tls) withTls << QStringLiteral("-A") << QStringLiteral("WITH_TLS");
        if (!m_proxyAnswersStun) withTls << QStringLiteral("-A") << QStringLiteral("NO_STUN");
        if (!m_proxy->start(kamailio, withTls, m_dir.path(), m_dir.filePath(QStringLiteral("kamailio.log")))) {
            m_error = QStringLiteral("cannot start kamailio");
            m_proxy.reset();
            return false;
        }
        if (waitUntilBound(*m_proxy, m_proxyPort, kReadyTimeoutMs) && proxyAnswersOptions(kReadyTimeoutMs)) return true;
        m_proxy->stop();
        m_proxy.reset();
    }
    m_error = QStringLiteral("kamailio did not start: %1").arg(proxyLog().right(800));
    return false;
}

// The bed's CA and the listeners' certificates (TestBed.h), and a second CA that no phone is told to
// trust. EC keys: quick to make.
bool SipTestBed::makeCertificates() {
    const QString openssl = findProgram(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        m_error = QStringLiteral("openssl is not installed");
        return false;
    }
    const auto write = [&](const QString& name, const QByteArray& text) {
        QFile f(m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    };
    const QString cnf = m_dir.filePath(QStringLiteral("openssl.cnf"));
    if (!write(QStringLiteral("openssl.cnf"),
               "[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n"
               "[ca]\nbasicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
               "subjectKeyIdentifier = hash\n"))
        return false;
    const auto openSsl = [&](const QString& name, const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(openssl, args);
        const bool ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok) m_error = QStringLiteral("openssl failed for %1: %2").arg(name, QString::fromUtf8(p.readAll()));
        return ok;
    };
    const QStringList newKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const auto file = [&](const QString& name, const char* suffix) {
        return m_dir.filePath(name + QLatin1String(suffix));
    };
    const auto ca = [&](const QString& name, const QString& subject) {
        return openSsl(name, QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"), cnf,
                                         QStringLiteral("-extensions"), QStringLiteral("ca")} +
                                 newKey +
                                 QStringList{QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                                             subject, QStringLiteral("-keyout"), file(name, ".key"),
                                             QStringLiteral("-out"), file(name, ".pem")});
    };
    // A request, signed by the CA for days (-1: expired since yesterday) with its names.
    const auto server = [&](const QString& name, const QString& subject, const QString& issuer, const QString& altNames,
                            int days = 2) {
        QByteArray ext = "[server]\nbasicConstraints = critical,CA:FALSE\n"
                         "keyUsage = critical,digitalSignature,keyEncipherment\nextendedKeyUsage = serverAuth\n";
        if (!altNames.isEmpty()) ext += "subjectAltName = " + altNames.toUtf8() + "\n";
        return write(name + QStringLiteral(".ext"), ext) &&
               openSsl(name,
                       QStringList{QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-config"), cnf} +
                           newKey +
                           QStringList{QStringLiteral("-subj"), subject, QStringLiteral("-keyout"), file(name, ".key"),
                                       QStringLiteral("-out"), file(name, ".csr")}) &&
               openSsl(name, {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), file(name, ".csr"),
                              QStringLiteral("-CA"), file(issuer, ".pem"), QStringLiteral("-CAkey"),
                              file(issuer, ".key"), QStringLiteral("-days"), QString::number(days),
                              QStringLiteral("-extfile"), file(name, ".ext"), QStringLiteral("-extensions"),
                              QStringLiteral("server"), QStringLiteral("-out"), file(name, ".pem")});
    };
    // The PBX's name and the certificate an admin makes for it (the PBX number also without "pbx").
    const QString pbx = domain();
    const QString cn = QStringLiteral("/CN=") + pbx;
    // The SIP library's TLS matches names against DNS entries only: the address the proxy is given by
    // is named as one too.
    const QString admins = QStringLiteral("DNS:%1,DNS:%2,IP:127.0.0.1,DNS:127.0.0.1").arg(pbx, pbx.mid(3));
    const QString noCn = QStringLiteral("/O=Corvid test bed");
    return ca(QStringLiteral("ca"), QStringLiteral("/CN=Corvid test bed CA")) &&
           server(QStringLiteral("trusted"), cn, QStringLiteral("ca"), admins) &&
           server(QStringLiteral("othername"), QStringLiteral("/CN=other.example.test"), QStringLiteral("ca"),
                  QStringLiteral("DNS:other.example.test")) &&
           ca(QStringLiteral("otherca-ca"), QStringLiteral("/CN=Untrusted CA")) &&
           server(QStringLiteral("otherca"), cn, QStringLiteral("otherca-ca"), admins) &&
           server(QStringLiteral("nameonly"), noCn, QStringLiteral("ca"), QStringLiteral("DNS:") + pbx) &&
           server(QStringLiteral("iponly"), noCn, QStringLiteral("ca"), QStringLiteral("IP:127.0.0.1")) &&
           server(QStringLiteral("cnonly"), cn, QStringLiteral("ca"), QString()) &&
           server(QStringLiteral("expired"), cn, QStringLiteral("ca"), admins, -1);
}

bool SipTestBed::startStun() {
    const QString turnserver = findProgram(QStringLiteral("turnserver"));
    if (turnserver.isEmpty()) {
        m_error = QStringLiteral("turnserver (coturn) is not installed");
        return false;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_stunPort = freeUdpPort();
        const QStringList args{QStringLiteral("-n"),
                               QStringLiteral("--listening-ip=127.0.0.1"),
                               QStringLiteral("--listening-port=%1").arg(m_stunPort),
                               QStringLiteral("--stun-only"),
                               QStringLiteral("--no-cli"),
                               QStringLiteral("--no-tls"),
                               QStringLiteral("--no-dtls"),
                               QStringLiteral("--relay-threads=1"),
                               QStringLiteral("--log-file=stdout"),
                               QStringLiteral("--simple-log"),
                               QStringLiteral("--pidfile=") + m_dir.filePath(QStringLiteral("turnserver.pid")),
                               QStringLiteral("--db=") + m_dir.filePath(QStringLiteral("turndb"))};
        m_stun = std::make_unique<BedProcess>();
        if (!m_stun->start(turnserver, args, m_dir.path(), m_dir.filePath(QStringLiteral("turnserver.log")))) {
            m_error = QStringLiteral("cannot start turnserver");
            m_stun.reset();
            return false;
        }
        if (waitUntilBound(*m_stun, m_stunPort, kReadyTimeoutMs)) return true;
        m_stun->stop();
        m_stun.reset();
    }
    m_error = QStringLiteral("turnserver did not start: %1").arg(readTemp(QStringLiteral("turnserver.log")).right(800));
    return false;
}

bool SipTestBed::start() {
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    for (auto& f : m_farEnds) {
        if (!startFarEnd(f)) {
            stop();
            return false;
        }
    }
    if (!startProxy() || (m_options.stun && !startStun())) {
        stop();
        return false;
    }
    return true;
}

void SipTestBed::killProxy() {
    if (m_proxy) m_proxy->stop(0);
    m_proxy.reset();
}

bool SipTestBed::restartProxy(bool answersStun) {
    killProxy();
    m_proxyAnswersStun = answersStun;
    return startProxy(m_proxyPort);
}

void SipTestBed::stop() {
    if (m_stun) {
        m_stun->stop();
        m_stun.reset();
    }
    if (m_proxy) {
        m_proxy->stop();
        m_proxy.reset();
    }
    if (m_lossRelay) {
        m_lossRelay->stop();
        m_lossRelay.reset();
    }
    for (auto& f : m_farEnds) {
        if (f.process) {
            f.process->stop();
            f.process.reset();
        }
    }
}

QStringList SipTestBed::locationContacts(const QString& user, bool* ok, const QString& field) const {
    if (ok) *ok = false;
    const QString kamcmd = findProgram(QStringLiteral("kamcmd"));
    if (kamcmd.isEmpty() || !m_proxy) return {};
    QProcess p;
    p.start(kamcmd, {QStringLiteral("-s"), QStringLiteral("unix:") + m_controlSocket, QStringLiteral("ul.dump")});
    if (!p.waitForFinished(5000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    if (ok) *ok = true;
    // The dump lists "AoR: <aor>" followed by that record's "Address: <contact>" lines.
    QStringList contacts;
    bool inRecord = false;
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1String("AoR:"))) {
            const QString aor = line.mid(4).trimmed();
            inRecord = aor == user || aor.startsWith(user + QLatin1Char('@'));
        } else if (inRecord && line.startsWith(field + QLatin1Char(':'))) {
            contacts << line.mid(field.size() + 1).trimmed();
        }
    }
    return contacts;
}

// ---------------------------------------------------------------------------------------------

NullSoundCard::NullSoundCard() : m_dir(QDir::tempPath() + QStringLiteral("/corvid-pulse-XXXXXX")) {}

NullSoundCard::~NullSoundCard() {
    stop();
}

bool NullSoundCard::available() {
    return !findProgram(QStringLiteral("pulseaudio")).isEmpty() && !findProgram(QStringLiteral("pactl")).isEmpty();
}

QString NullSoundCard::serverAddress() const {
    return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("runtime/pulse/native"));
}

bool NullSoundCard::pactl(const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_SERVER"), serverAddress());
    env.insert(QStringLiteral("HOME"), m_dir.filePath(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    p.setProcessEnvironment(env);
    p.start(findProgram(QStringLiteral("pactl")), arguments);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool NullSoundCard::start() {
    if (!available()) {
        m_error = QStringLiteral("pulseaudio is not installed");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
    const QString home = m_dir.filePath(QStringLiteral("home"));
    QDir().mkpath(runtime);
    QDir().mkpath(home);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QHash<QString, QString> env{{QStringLiteral("XDG_RUNTIME_DIR"), runtime},
                                      {QStringLiteral("HOME"), home},
                                      {QStringLiteral("PULSE_RUNTIME_PATH"), runtime + QStringLiteral("/pulse")},
                                      {QStringLiteral("PULSE_STATE_PATH"), home + QStringLiteral("/state")}};
    QStringList args = QStringLiteral("--daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=yes -n "
                                      "--system=false --use-pid-file=no -L module-native-protocol-unix")
                           .split(QLatin1Char(' '));
    for (const char* sink : {"spk", "micsrc"})
        args << QStringLiteral("-L") << QStringLiteral("module-null-sink sink_name=%1 rate=8000 channels=1").arg(sink);
    // A source of its own: the library takes no monitor as a microphone for its PulseAudio device.
    args << QStringLiteral("-L") << QStringLiteral("module-null-source source_name=mic rate=8000 channels=1");
    args << QStringLiteral("--log-target=file:") + m_dir.filePath(QStringLiteral("pulse.log"));
    m_process = std::make_unique<BedProcess>();
    if (!m_process->start(findProgram(QStringLiteral("pulseaudio")), args, m_dir.path(), QString(), env)) {
        m_error = QStringLiteral("cannot start pulseaudio");
        m_process.reset();
        return false;
    }
    const QString socketPath = runtime + QStringLiteral("/pulse/native");
    QDeadlineTimer deadline(kReadyTimeoutMs);
    while (!deadline.hasExpired() && m_process->isRunning() && !QFileInfo::exists(socketPath))
        QThread::msleep(kPollMs);
    bool ready = false;
    while (!deadline.hasExpired() && m_process->isRunning() && !ready) {
        ready = pactl({QStringLiteral("info")});
        if (!ready) QThread::msleep(kPollMs);
    }
    if (!ready || !pactl({QStringLiteral("set-default-sink"), QStringLiteral("spk")}) ||
        !pactl({QStringLiteral("set-default-source"), QStringLiteral("mic")})) {
        m_error = QStringLiteral("pulseaudio did not start: ") + readFile(m_dir.filePath("pulse.log")).right(400);
        stop();
        return false;
    }
    return true;
}

void NullSoundCard::applyToEnvironment() const {
    auto* self = const_cast<NullSoundCard*>(this);
    if (!m_applied) {
        self->m_hadPulseServer = qEnvironmentVariableIsSet("PULSE_SERVER");
        self->m_savedPulseServer = qgetenv("PULSE_SERVER");
        self->m_applied = true;
    }
    qputenv("PULSE_SERVER", serverAddress().toLocal8Bit());
}

void NullSoundCard::stop() {
    if (m_applied) {
        if (m_hadPulseServer)
            qputenv("PULSE_SERVER", m_savedPulseServer);
        else
            qunsetenv("PULSE_SERVER");
        m_applied = false;
    }
    if (m_process) {
        m_process->stop();
        m_process.reset();
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

struct Pcm {
    int rate = 0;
    int channels = 0;
    QByteArray data;
};

bool readPcm(const QString& path, Pcm* pcm) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    if (all.size() < 12 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE") return false;
    auto u16 = [&](int at) { return quint16(uchar(all[at]) | (uchar(all[at + 1]) << 8)); };
    auto u32 = [&](int at) { return quint32(u16(at)) | (quint32(u16(at + 2)) << 16); };
    int pos = 12;
    bool haveFormat = false;
    while (pos + 8 <= all.size()) {
        const QByteArray id = all.mid(pos, 4);
        const qint64 size = u32(pos + 4);
        const int body = pos + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= all.size()) {
            if (u16(body) != 1 || u16(body + 14) != 16) return false;
            pcm->channels = u16(body + 2);
            pcm->rate = int(u32(body + 4));
            haveFormat = pcm->channels > 0 && pcm->rate > 0;
        } else if (id == "data") {
            pcm->data = all.mid(body, int(qMin<qint64>(size, all.size() - body)));
            return haveFormat;
        }
        pos = int(body + size + (size & 1));
    }
    return false;
}

} // namespace

bool writeToneWave(const QString& path, double hz, int durationMs, int sampleRate, double amplitude) {
    const int samples = int(qint64(sampleRate) * durationMs / 1000);
    const auto bytes = quint32(samples * 2);
    QByteArray w;
    QDataStream out(&w, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    for (int i = 0; i < samples; ++i)
        out << qint16(qRound(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * i / sampleRate)));
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(w) == w.size();
}

double toneLevel(const QString& path, double hz, int skipMs) {
    Pcm pcm;
    if (!readPcm(path, &pcm)) return -1;
    const int frame = 2 * pcm.channels;
    const qint64 frames = pcm.data.size() / frame;
    const qint64 first = qint64(pcm.rate) * skipMs / 1000;
    const int block = pcm.rate / 10; // 100 ms: 10 Hz bins
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / pcm.rate);
    double sum = 0;
    int blocks = 0;
    for (qint64 start = first; start + block <= frames; start += block) {
        double s1 = 0, s2 = 0;
        for (int i = 0; i < block; ++i) {
            const auto* p = reinterpret_cast<const uchar*>(pcm.data.constData() + (start + i) * frame);
            const double x = qint16(quint16(p[0] | (p[1] << 8))) / 32768.0;
            const double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        sum += 2.0 * std::sqrt(qMax(0.0, power)) / block;
        ++blocks;
    }
    return blocks ? sum / blocks : -1;
}

int waveDurationMs(const QString& path) {
    Pcm pcm;
    if (!readPcm(path, &pcm)) return -1;
    return int(qint64(pcm.data.size() / (2 * pcm.channels)) * 1000 / pcm.rate);
}

// ---------------------------------------------------------------------------------------------

bool WireCapture::available(QString* why) {
    const QString dumpcap = findProgram(QStringLiteral("dumpcap"));
    const QString tshark = findProgram(QStringLiteral("tshark"));
    QString reason;
    if (dumpcap.isEmpty() || tshark.isEmpty()) {
        reason = QStringLiteral("dumpcap or tshark is not installed");
    } else {
        // Listing the interfaces shows whether this user may capture at all.
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(dumpcap, {QStringLiteral("-D")});
        const bool ok = p.waitForFinished(10000) && p.exitCode() == 0;
        const QString out = QString::fromUtf8(p.readAll());
        if (!ok || !out.contains(QLatin1String("lo")))
            reason = QStringLiteral("dumpcap cannot capture: ") + out.left(300);
    }
    if (why) *why = reason;
    return reason.isEmpty();
}

bool WireCapture::start(const QString& captureFilter, const QString& file) {
    stop();
    m_file = file;
    QFile::remove(file);
    m_process = std::make_unique<BedProcess>();
    const QStringList args{QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-f"),
                           captureFilter,        QStringLiteral("-w"), file,
                           QStringLiteral("-q")};
    if (!m_process->start(findProgram(QStringLiteral("dumpcap")), args, QFileInfo(file).absolutePath(),
                          file + QStringLiteral(".log")))
        return false;
    // dumpcap writes the file's header once it captures.
    QDeadlineTimer deadline(kReadyTimeoutMs);
    while (!deadline.hasExpired() && m_process->isRunning()) {
        if (QFileInfo(file).size() > 0) return true;
        QThread::msleep(kPollMs);
    }
    return false;
}

void WireCapture::stop() {
    // SIGTERM: dumpcap writes what it holds and closes the file.
    if (m_process) m_process->stop();
    m_process.reset();
}

QStringList WireCapture::packets(const QString& displayFilter, const QStringList& fields,
                                 const QStringList& decodeAs) const {
    QStringList args{QStringLiteral("-r"),    m_file,        QStringLiteral("-n"),
                     QStringLiteral("-Y"),    displayFilter, QStringLiteral("-T"),
                     QStringLiteral("fields")};
    for (const QString& rule : decodeAs)
        args << QStringLiteral("-d") << rule;
    for (const QString& field : fields)
        args << QStringLiteral("-e") << field;
    QProcess p;
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(findProgram(QStringLiteral("tshark")), args);
    if (!p.waitForFinished(30000)) return {QStringLiteral("(tshark did not finish)")};
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace corvid::test
