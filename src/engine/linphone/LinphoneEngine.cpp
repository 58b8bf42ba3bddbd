// The engine's life: start and stop of the library's core, the pump, registration and the line
// table. Calls, media and chat live in LinphoneCalls.cpp, LinphoneMedia.cpp and LinphoneChat.cpp.

#include "engine/linphone/LibraryFixes.h"
#include "engine/linphone/LinphoneEngineImpl.h"
#include "engine/linphone/SipGate.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <arpa/inet.h>
#include <bctoolbox/logging.h>
#include <ifaddrs.h>
#include <linphone/core.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

// The library's own resolver takes a hosts file, and a core can be told it has no ZRTP; these are
// exported by the library but not in its public headers.
extern "C" {
struct Sal;
Sal* linphone_core_get_sal(const LinphoneCore* core);
void sal_set_dns_user_hosts_file(Sal* sal, const char* path);
void linphone_core_set_zrtp_not_available_simulation(LinphoneCore* core, bool_t enabled);
}

namespace corvid {

using namespace engine_rules;
using namespace engine_impl;

namespace {

// Whether a UDP (or TCP) port can be bound now. The library does not report a port that is already
// taken (two processes then share it and the audio is garbage), so the engine asks the system itself.
bool udpPortFree(const QString& address, int port, int type = SOCK_DGRAM) {
    if (port < 1 || port > 65535) return false;
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(quint16(port));
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.isEmpty() && ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) != 1) {
        ::close(fd);
        return false;
    }
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

// A claim on a UDP port among the dialers of this host: an abstract local socket named after the
// port, which exists once per host and goes away with its process. The library binds its sockets
// for reuse, so two dialers starting at the same moment could both bind the port that the check
// above found free, and replies would then reach only one of them. -1 when another holds it.
int claimUdpPort(int port) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const QByteArray name = "corvid-dialer-udp-" + QByteArray::number(port);
    std::memcpy(sa.sun_path + 1, name.constData(), size_t(name.size())); // sun_path[0] = 0: abstract
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first IPv4 address of an interface that is up and not the loopback; 127.0.0.1 without one.
QString primaryIpv4() {
    QString found = QStringLiteral("127.0.0.1");
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
        if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<sockaddr_in*>(it->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
            found = QString::fromLatin1(text);
            break;
        }
    }
    ::freeifaddrs(list);
    return found;
}

bool isLoopbackHost(const QString& host) {
    return host == QLatin1String("localhost") || host.startsWith(QLatin1String("127."));
}

// The library's log goes nowhere unless CORVID_ENGINE_LOG names a file. Log handlers are
// process-wide, so this is done once.
void setUpLibraryLog() {
    static bool done = false;
    if (done) return;
    done = true;
    bctbx_list_t* handlers = bctbx_list_copy(bctbx_get_log_handlers());
    for (bctbx_list_t* it = handlers; it; it = it->next)
        bctbx_remove_log_handler(static_cast<bctbx_log_handler_t*>(it->data));
    bctbx_list_free(handlers);
    const QString logFile = qEnvironmentVariable("CORVID_ENGINE_LOG");
    auto service = lp::LoggingService::get();
    if (logFile.isEmpty()) {
        service->setLogLevel(lp::LogLevel::Error);
        return;
    }
    const QFileInfo info(logFile);
    QDir().mkpath(info.absolutePath());
    bctbx_add_log_handler(bctbx_create_file_log_handler(0, QFile::encodeName(info.absolutePath()).constData(),
                                                        QFile::encodeName(info.fileName()).constData()));
    service->setLogLevel(lp::LogLevel::Message);
}

// The status line of a SIP response ("SIP/2.0 404 Not Found") at the start of text: code and phrase.
bool readStatusLine(const QString& text, int* code, QString* reason) {
    static const QRegularExpression line(QStringLiteral("^SIP/2\\.0 ([1-6][0-9][0-9]) ([^\\r\\n]*)"));
    const QRegularExpressionMatch m = line.match(text);
    if (!m.hasMatch()) return false;
    *code = m.captured(1).toInt();
    *reason = m.captured(2).trimmed();
    return true;
}

// The library parses addresses with grammar files installed beside it (on Debian by the package
// linphone-common). Without them chat, presence and conferences end the process with an abort, so
// the engine refuses those operations instead.
bool addressGrammarPresent() {
#ifdef Q_OS_LINUX
    for (const char* dir : {"/usr/share/belr/grammars/", "/usr/local/share/belr/grammars/"})
        if (QFile::exists(QString::fromLatin1(dir) + QStringLiteral("identity_grammar"))) return true;
    return false;
#else
    return true;
#endif
}

// The CA bundle of the system, for a TLS proxy when no TlsCaFile is set.
QString systemCaBundle() {
    for (const char* path : {"/etc/ssl/certs/ca-certificates.crt", "/etc/pki/tls/certs/ca-bundle.crt",
                             "/etc/ssl/cert.pem", "/usr/local/etc/openssl/cert.pem"})
        if (QFile::exists(QString::fromLatin1(path))) return QString::fromLatin1(path);
    return {};
}

const char* transportName(SipSecurity::Transport t) {
    switch (t) {
    case SipSecurity::Transport::Tcp:
        return "tcp";
    case SipSecurity::Transport::Tls:
        return "tls";
    case SipSecurity::Transport::Udp:
        break;
    }
    return "udp";
}

constexpr int kMaxLines = 8;
constexpr int kSilentSeconds = 4 * 3600;

} // namespace

// Library callbacks. They only update the adapter's tables and queue the events.
struct LinphoneEngine::Impl::Listener : public lp::CoreListener {
    Impl* d;
    explicit Listener(Impl* impl) : d(impl) {}

    void onCallStateChanged(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Call>& call,
                            lp::Call::State state, const std::string& message) override {
        d->onCallState(call, state, message);
    }
    void onAccountRegistrationStateChanged(const std::shared_ptr<lp::Core>&,
                                           const std::shared_ptr<lp::Account>& account, lp::RegistrationState state,
                                           const std::string& message) override {
        if (account && d->account && account->cPtr() == d->account->cPtr()) d->onRegistration(state, message);
    }
    void onDtmfReceived(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Call>& call, int dtmf) override {
        const int line = d->lineOf(call);
        if (line < 0 || dtmf <= 0 || dtmf > 127) return;
        const QString digit = QString(QChar(char(dtmf)));
        d->post([q = d->q, line, digit] { emit q->DtmfDigitReceived(line, digit); });
    }
    void onTransferStateChanged(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Call>& call,
                                lp::Call::State state) override {
        d->onTransferState(call, state);
    }
    void onMessageReceived(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::ChatRoom>&,
                           const std::shared_ptr<lp::ChatMessage>& message) override {
        d->onMessageReceived(message);
    }
    void onNotifyPresenceReceived(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Friend>& f) override {
        d->onPresenceReceived(f);
    }
    void onNewSubscriptionRequested(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Friend>& f,
                                    const std::string&) override {
        d->onSubscriptionRequested(f);
    }
    // Back on the network, the library has made its SIP socket anew: the gate goes on it before the
    // library reads from it.
    void onNetworkReachable(const std::shared_ptr<lp::Core>&, bool reachable) override {
        if (reachable) d->keepGate();
    }
};

// ------------------------------------------------------------------------------------------------

bool LinphoneEngine::Impl::start(QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
                                 const QString& password, const QString& displayName, const QString& domainName,
                                 const QString& proxy, bool captureSoundDevice, int lineCount) {
    if (started()) return fail(EngineError::InvalidValue);
    if (lineCount < 1 || lineCount > kMaxLines || sipPort < 1 || sipPort > 65535)
        return fail(EngineError::InvalidValue);
    const QString user = userName.trimmed();
    const QString dom = domainName.trimmed();
    if (chatUserName(user) != user || dom.isEmpty() || dom.contains(QLatin1Char(' ')) || dom.contains(QLatin1Char('@')))
        return fail(EngineError::InvalidUri);
    const QString outbound = options.outboundProxy.trimmed();
    const QString server = outbound.isEmpty() ? proxy.trimmed() : outbound;
    if (server.isEmpty() || server.contains(QLatin1Char(' ')) || server.contains(QLatin1Char('@')))
        return fail(EngineError::InvalidUri);

    bindAddress = options.bindAddress.trimmed();
    if (bindAddress.isEmpty() && !outbound.isEmpty() && isLoopbackHost(outbound.section(QLatin1Char(':'), 0, 0)))
        bindAddress = QStringLiteral("127.0.0.1");
    activeSecurity = options.security;
    serverHostPort = server;
    // The name the library checks the certificate for: the server's host, or the PBX's name when
    // the proxy is given by address over TLS (see libraryServerFor).
    const QString libraryServer = libraryServerFor(server, proxy.trimmed(), !outbound.isEmpty());
    tlsName = libraryServer.section(QLatin1Char(':'), 0, 0);
    if (!claimSipPort(sipPort)) return false;
    auto releaseOnFailure = qScopeGuard([this] {
        if (!started()) releasePortClaims();
    });
    if (!prepareDataDir() || !writeLibraryConfig(lineCount) || !createCore(lineCount)) return false;
    applySecurity();
    applyNat();
    if (!outbound.isEmpty()) {
        // Nothing may be looked up: the proxy is given by address.
        core->setDnsServers({"127.0.0.1"});
        core->enableDnsSrv(false);
        core->enableDnsSearch(false);
        if (libraryServer != server && !nameServerAddress(libraryServer, server)) return false;
    }
    chooseSoundDevices(captureSoundDevice);
    applyCodecs();
    applyGains();
    core->enableEchoCancellation(echoCancel);
    linphone_core_enable_agc(reinterpret_cast<LinphoneCore*>(core->cPtr()), agc);
    core->enableMic(!micMuted);
    applyTransports(sipPort);
    if (!createAccount(user, authLogin, password, displayName, dom, libraryServer)) return false;

    lines.assign(size_t(lineCount), Line());
    for (int i = 0; i < lineCount; ++i)
        lines[size_t(i)].buffer = RecordingParts(recordingDir(), QStringLiteral("line%1").arg(i));
    audioPortSet = -1;
    if (!startCore(sipPort) || !guardSipPort(server)) return false;
    lookUpServer();
    reg = Reg::None;
    if (localAddress.trimmed().isEmpty()) localAddress = bindAddress.isEmpty() ? primaryIpv4() : bindAddress;
    watchSipSocket();
    pump.start(pumpMs);
    return true;
}

// The library cannot say when it has something due, but what an idle phone waits for comes in on
// its SIP socket (a call, a message, an answer). Over UDP that is one socket of this process bound
// to the SIP port: found by its inode, it is watched, and a datagram wakes the pump at once. Over TCP
// and TLS the connections come and go, and the idle pump stays at kIdlePumpMs.
void LinphoneEngine::Impl::watchSipSocket() {
    sipWatch.reset();
    if (activeSecurity.transport != SipSecurity::Transport::Udp) return;
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly)) return;
    QByteArray inode;
    const QByteArray portHex = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& row : table.readAll().split('\n')) {
        const QList<QByteArray> f = row.simplified().split(' ');
        if (f.size() > 9 && f.at(1).endsWith(':' + portHex)) inode = "socket:[" + f.at(9) + ']';
    }
    if (inode.isEmpty()) return;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        if (n <= 0 || QByteArray(target, int(n)) != inode) continue;
        sipWatch = std::make_unique<QSocketNotifier>(fd.toInt(), QSocketNotifier::Read);
        QObject::connect(sipWatch.get(), &QSocketNotifier::activated, q, [this] {
            sipWatch->setEnabled(false);
            lastTraffic.start();
            wake();
            iterate();
        });
        sipWatch->setEnabled(false);
        return;
    }
}

// The SIP port is a UDP socket, or with TCP or TLS the stream socket the library listens on; the
// other transports stay closed, so nothing falls back to clear UDP. The port is held by a socket of
// ours until the library has it, so a second dialer cannot take it in between.
bool LinphoneEngine::Impl::claimSipPort(int sipPort) {
    const bool udp = activeSecurity.transport == SipSecurity::Transport::Udp;
    if (listensForSip() && !udpPortFree(bindAddress, sipPort, udp ? SOCK_DGRAM : SOCK_STREAM))
        return fail(EngineError::PortInUse);
    const int claim = claimUdpPort(sipPort);
    if (claim < 0) return fail(EngineError::PortInUse);
    portClaims.push_back(claim);
    return true;
}

// The data folder holds the library's configuration, which the library rewrites with the password
// in it, and the recording parts: it is the agent's alone, whoever made it.
bool LinphoneEngine::Impl::prepareDataDir() {
    QString dir = options.dataDir.isEmpty() ? QDir::tempPath() + QStringLiteral("/corvid-engine") : options.dataDir;
    dir = QDir::cleanPath(QDir(dir).absolutePath());
    if (!makePrivatePath(dir) || !makePrivatePath(dir + QStringLiteral("/recording")))
        return fail(EngineError::TaskWindow);
    QFile::setPermissions(dir, PrivateFolderMode);
    // The library joins file names straight onto these folders: the trailing slash matters.
    dataDir = dir + QLatin1Char('/');
    for (const QString& old : QDir(recordingDir()).entryList(QDir::Files))
        QFile::remove(recordingDir() + old);
    // The library's databases (chat and call history, friends) would only grow: the window keeps its
    // own logs, and contacts are added again each session.
    const QStringList databases{QStringLiteral("*.db"), QStringLiteral("*.db-journal")};
    for (const QString& db : QDir(dataDir).entryList(databases, QDir::Files))
        QFile::remove(dataDir + db);
    setUpLibraryLog();
    grammarsPresent = addressGrammarPresent();
    return true;
}

// The library reads and rewrites its configuration file: start from a fresh one each time.
bool LinphoneEngine::Impl::writeLibraryConfig(int lineCount) {
    const QString rcPath = dataDir + QStringLiteral("engine.rc");
    QFile::remove(rcPath);
    QFile rc(rcPath);
    if (!openPrivate(rc, QIODevice::WriteOnly)) return fail(EngineError::TaskWindow);
    QByteArray text = "[sip]\nsip_random_port=0\n";
    // Keep-alives on the proxy's connection: a CRLF on UDP, the double-CRLF ping on TCP and TLS.
    text += "keepalive_period=" + QByteArray::number(qint64(activeSecurity.keepAliveSeconds) * 1000) +
            "\ntcp_tls_keepalive=1\n";
    if (!bindAddress.isEmpty()) text += "bind_address=" + bindAddress.toLatin1() + "\n";
    if (isLoopbackHost(bindAddress)) text += "guess_hostname=0\n";
    text += "[video]\nenabled=0\ncapture=0\ndisplay=0\n";
    text += "[misc]\nmax_calls=" + QByteArray::number(maxCallsFor(lineCount)) + "\n";
    // Group chat and the conference event package, which this phone never uses, stay off: no
    // conference server, no event package served for the local conference of joined lines, no
    // basic chat room turned into a group one (docs/ENGINE.md, "Replaced library functions").
    text += "conference_server_enabled=0\nconference_event_log_enabled=0\n"
            "enable_basic_to_client_group_chat_room_migration=0\n";
    // No tones of the library (call end, errors): the window plays its own ring-back, and a
    // tone started on a sound card whose server has died ends the process.
    text += "[sound]\ntone_indications=0\n";
    // The library's own message store stays in memory: written to disk with a sync for every
    // message, a flood of messages held up the engine's pump for seconds.
    text += "[storage]\nuri=:memory:\n";
    return rc.write(text) == text.size() || fail(EngineError::TaskWindow);
}

bool LinphoneEngine::Impl::createCore(int lineCount) {
    // The program's replacements of faulty library functions (LibraryFixes.cpp) act only on the
    // library series they were checked on.
    if (!libraryFixesInForce())
        qWarning("SIP library %s: its own address and conference functions are used", linphone_core_get_version());
    auto factory = lp::Factory::get();
    factory->setDataDir(str(dataDir));
    factory->setConfigDir(str(dataDir));
    // The sound library would load its plugins from the system folder, and the one installed there
    // is a video plugin built on Qt 5: loaded into this Qt 6 process it aborts it. No plugin is
    // needed for audio, so the engine points the library at an empty folder of its own.
    makePrivatePath(dataDir + QStringLiteral("plugins"));
    factory->setMspluginsDir(str(dataDir + QStringLiteral("plugins/")));
    core = factory->createCore(str(dataDir + QStringLiteral("engine.rc")), "", nullptr);
    if (!core) return fail(EngineError::TaskWindow);
    listener = std::make_shared<Listener>(this);
    core->addListener(listener);

    core->enableIpv6(false);
    core->enableVideoCapture(false);
    core->enableVideoDisplay(false);
    auto policy = factory->createVideoActivationPolicy();
    policy->setAutomaticallyInitiate(false);
    policy->setAutomaticallyAccept(false);
    core->setVideoActivationPolicy(policy);
    core->setMaxCalls(maxCallsFor(lineCount));
    core->enableKeepAlive(activeSecurity.keepAliveSeconds > 0);
    core->setUserAgent(str(userAgent), "");
    // Chat is plain text only: no is-composing or delivery notifications, no file transfer, no
    // chat encryption of the library's own, and no group-chat or encryption capability announced.
    core->getImNotifPolicy()->clear();
    core->setFileTransferServer("");
    core->setMaxSizeForAutoDownloadIncomingFiles(-1);
    core->enableAutoDownloadVoiceRecordings(false);
    core->enableAutoDownloadIcalendars(false);
    core->enableLimeX3Dh(false);
    core->setLinphoneSpecsList({});
    // The window plays its own ring-back tone (when the agent wants one) and rings for nothing:
    // the library's ring-back and ring stay silent.
    linphone_core_set_ringback(reinterpret_cast<LinphoneCore*>(core->cPtr()), nullptr);
    linphone_core_set_ring(reinterpret_cast<LinphoneCore*>(core->cPtr()), nullptr);
    core->removeSupportedTag("gruu");
    return true;
}

// Media encryption and the TLS trust of the signalling.
void LinphoneEngine::Impl::applySecurity() {
    const SipSecurity& security = activeSecurity;
    // SRTP keys travel in the SDP (SDES), so they are as private as the signalling that carries them.
    core->setMediaEncryption(security.srtp ? lp::MediaEncryption::SRTP : lp::MediaEncryption::None);
    core->setMediaEncryptionMandatory(security.srtp && security.srtpMandatory);
    if (security.transport == SipSecurity::Transport::Tls) {
        const QString ca = security.caFile.isEmpty() ? systemCaBundle() : security.caFile;
        if (!ca.isEmpty()) core->setRootCa(str(ca));
        core->verifyServerCertificates(security.verifyServer);
        core->verifyServerCn(security.verifyServer);
    }
}

void LinphoneEngine::Impl::applyNat() {
    if (activeSecurity.stunServer.isEmpty()) return;
    auto nat = core->createNatPolicy();
    nat->setStunServer(str(activeSecurity.stunServer));
    nat->enableStun(true);
    nat->enableIce(activeSecurity.ice);
    core->setNatPolicy(nat);
}

// A sound card only when asked for and one that can both record and play exists; otherwise the
// library reads a wave file as microphone and discards what it would play.
void LinphoneEngine::Impl::chooseSoundDevices(bool captureSoundDevice) {
    files = !captureSoundDevice || devices(lp::AudioDevice::Capabilities::CapabilityRecord).empty() ||
            devices(lp::AudioDevice::Capabilities::CapabilityPlay).empty();
    if (files) {
        core->setUseFiles(true);
        core->setPlayFile(str(microphoneFile()));
    }
    soundCheckClock.invalidate();
}

// Only the chosen transport is used, on the SIP port. Over TCP and TLS the phone opens no server
// socket (the library's "don't bind"): it talks to the PBX over the connection it opened, which
// the PBX uses for the requests to the phone too. It listens only when SipAllowFrom names
// sources that may connect to it.
void LinphoneEngine::Impl::applyTransports(int sipPort) {
    const SipSecurity::Transport transport = activeSecurity.transport;
    const int streamPort = listensForSip() ? sipPort : LC_SIP_TRANSPORT_DONTBIND;
    auto transports = lp::Factory::get()->createTransports();
    transports->setUdpPort(transport == SipSecurity::Transport::Udp ? sipPort : 0);
    transports->setTcpPort(transport == SipSecurity::Transport::Tcp ? streamPort : 0);
    transports->setTlsPort(transport == SipSecurity::Transport::Tls ? streamPort : 0);
    transports->setDtlsPort(0);
    core->setTransports(transports);
}

// The account: identity user@domain; the proxy (or the outbound proxy) is both registrar and the
// route of every request. Registration waits for RegisterToProxy.
// The server the library is given. A proxy given by address (SipOutboundProxy, for sites whose DNS
// is broken) is the PBX itself, and over TLS its certificate carries the PBX's name, not the
// address: the library is then given the PBX's name with the address's port, and its own resolver
// is told that the name is the address (nameServerAddress). The connection goes to the address and
// is checked for the name; the PBX's requests come back over it as over any connection.
QString LinphoneEngine::Impl::libraryServerFor(const QString& server, const QString& pbx, bool byAddress) const {
    const QString host = server.section(QLatin1Char(':'), 0, 0), pbxName = pbx.section(QLatin1Char(':'), 0, 0);
    if (!byAddress || activeSecurity.transport != SipSecurity::Transport::Tls || QHostAddress(host).isNull() ||
        pbxName.isEmpty() || !QHostAddress(pbxName).isNull() || pbxName.contains(QLatin1Char(' ')))
        return server;
    const QString port = server.section(QLatin1Char(':'), 1, 1);
    return pbxName + QLatin1Char(':') + (port.isEmpty() ? QStringLiteral("5061") : port);
}

// A hosts file of the library's own resolver (in the engine's private folder): the PBX's name is
// the server's address. Nothing else is looked up (no DNS server, no SRV).
bool LinphoneEngine::Impl::nameServerAddress(const QString& libraryServer, const QString& server) {
    const QString path = dataDir + QStringLiteral("hosts");
    const QByteArray entry = server.section(QLatin1Char(':'), 0, 0).toLatin1() + ' ' +
                             libraryServer.section(QLatin1Char(':'), 0, 0).toLatin1() + '\n';
    if (!replaceFile(path, entry)) {
        stop();
        return fail(EngineError::Network);
    }
    sal_set_dns_user_hosts_file(linphone_core_get_sal(reinterpret_cast<LinphoneCore*>(core->cPtr())),
                                QFile::encodeName(path).constData());
    return true;
}

bool LinphoneEngine::Impl::createAccount(const QString& user, const QString& authLogin, const QString& password,
                                         const QString& displayName, const QString& dom, const QString& server) {
    auto factory = lp::Factory::get();
    domain = dom;
    auto params = core->createAccountParams();
    auto identity = identityFor(user);
    if (!identity) {
        stop();
        return fail(EngineError::InvalidUri);
    }
    if (!displayName.trimmed().isEmpty()) identity->setDisplayName(str(displayName.trimmed()));
    // The server address names the host the library connects to and checks the certificate for.
    // (Not the PBX's name with the address as maddr: the library then opens a new connection for
    // each answer to the PBX's own requests, checked for the address, so calls and messages relayed
    // to the phone over TLS could not be answered.)
    const QString uri = QStringLiteral("sip:") + server;
    auto serverAddress = factory->createAddress(
        str(uri + QStringLiteral(";transport=") + QLatin1String(transportName(activeSecurity.transport))));
    if (!serverAddress || params->setIdentityAddress(identity) != 0 || params->setServerAddress(serverAddress) != 0) {
        stop();
        return fail(EngineError::InvalidUri);
    }
    params->enableOutboundProxy(true);
    params->enableRegister(false);
    params->enablePublish(false);
    const QString login = authLogin.trimmed().isEmpty() ? user : authLogin.trimmed();
    core->addAuthInfo(factory->createAuthInfo(str(user), str(login), str(password), "", "", str(dom)));
    account = core->createAccount(params);
    if (!account || core->addAccount(account) != 0) {
        stop();
        return fail(EngineError::RegisterRequest);
    }
    core->setDefaultAccount(account);
    return true;
}

// Starts the core and checks that the library really took the SIP port.
bool LinphoneEngine::Impl::startCore(int sipPort) {
    if (core->start() != 0) {
        stop();
        return fail(EngineError::TaskWindow);
    }
    // Calls are in clear or SRTP with SDES keys, never ZRTP. Told so, the library makes no ZRTP
    // context for each call (seeding its random generator took a fifth of building the INVITE), and
    // keeps no cache of ZRTP secrets, which it opens on starting and writes, with two fsyncs, while
    // it builds each outgoing call's INVITE.
    auto* cCore = reinterpret_cast<LinphoneCore*>(core->cPtr());
    linphone_core_set_zrtp_not_available_simulation(cCore, TRUE);
    linphone_core_set_zrtp_secrets_file(cCore, nullptr);
    QFile::remove(dataDir + QStringLiteral("zrtp-secrets.db"));
    const SipSecurity::Transport transport = activeSecurity.transport;
    auto used = core->getTransportsUsed();
    const int usedPort = !used                                      ? 0
                         : transport == SipSecurity::Transport::Tls ? used->getTlsPort()
                         : transport == SipSecurity::Transport::Tcp ? used->getTcpPort()
                                                                    : used->getUdpPort();
    if (listensForSip() && usedPort != sipPort) {
        stop();
        return fail(EngineError::PortInUse);
    }
    port = sipPort;
    return true;
}

// The gate goes on the library's listening socket as soon as the core has made it, before the pump
// first lets the library read: what strangers sent in between is dropped with it (nothing the PBX
// sent can be among it, the phone has not spoken to it yet). Without a listening socket (TCP or TLS
// without SipAllowFrom) there is nothing to guard. A socket that cannot be guarded keeps the phone
// offline rather than open to anyone.
bool LinphoneEngine::Impl::guardSipPort(const QString& server) {
    gated = false;
    gateHost = server.section(QLatin1Char(':'), 0, 0);
    if (!listensForSip()) return true;
    gateLookup.start();
    const std::vector<int> sockets = sipSockets();
    if (sockets.empty() || !setGate(sip_gate::resolveHost(gateHost), true)) {
        stop();
        return fail(EngineError::Network);
    }
    gated = true;
    if (activeSecurity.transport == SipSecurity::Transport::Udp) {
        for (int fd : sockets)
            sip_gate::dropQueued(fd);
        checkDatagramsOnPort(port, true);
    }
    return true;
}

// The library's SIP sockets as they are now: the library closes them and makes new ones when the
// network comes back, so they are looked up each time, never kept.
std::vector<int> LinphoneEngine::Impl::sipSockets() const {
    const bool udp = activeSecurity.transport == SipSecurity::Transport::Udp;
    return sip_gate::socketsOnPort(port, udp ? SOCK_DGRAM : SOCK_STREAM);
}

// A SIP socket without the gate (made anew by the library) gets it at once.
void LinphoneEngine::Impl::keepGate() {
    if (!gated || !core) return;
    for (int fd : sipSockets())
        if (!sip_gate::hasFilter(fd)) sip_gate::attachSourceFilter(fd, gateAllowed);
}

// The sources the gate takes: the server's addresses and those of SipAllowFrom. The sockets' filter
// is replaced when they changed (or always when first set); answers whether every socket took it.
bool LinphoneEngine::Impl::setGate(const std::vector<Ipv4Net>& serverAddresses, bool first) {
    std::vector<Ipv4Net> allowed = serverAddresses;
    for (const Ipv4Net& net : parseNetworks(activeSecurity.allowFrom.join(QLatin1Char(' '))))
        if (std::find(allowed.begin(), allowed.end(), net) == allowed.end()) allowed.push_back(net);
    if (!first && allowed == gateAllowed) return true;
    gateAllowed = allowed;
    bool all = true;
    for (int fd : sipSockets())
        all = sip_gate::attachSourceFilter(fd, gateAllowed) && all;
    return all;
}

// A server given by name may move: its name is looked up again in the background after a
// registration ends, at most every kGateLookupMs, and the gate follows. A failed lookup keeps the
// addresses the gate has.
void LinphoneEngine::Impl::lookUpGateHost() {
    if (!gated || parseNetwork(gateHost) || (gateLookup.isValid() && gateLookup.elapsed() < kGateLookupMs)) return;
    gateLookup.start();
    QHostInfo::lookupHost(gateHost, q, [this, host = gateHost](const QHostInfo& info) {
        if (!core || host != gateHost || info.error() != QHostInfo::NoError) return;
        std::vector<Ipv4Net> found;
        for (const QHostAddress& address : info.addresses())
            if (address.protocol() == QAbstractSocket::IPv4Protocol) found.push_back({address.toIPv4Address()});
        if (!found.empty()) setGate(found, false);
    });
}

void LinphoneEngine::Impl::releasePortClaims() {
    for (int fd : portClaims)
        ::close(fd);
    portClaims.clear();
}

void LinphoneEngine::Impl::stop() {
    releasePortClaims();
    gated = false;
    checkDatagramsOnPort(port, false);
    if (transfersWaiting > 0) {
        transfersWaiting = 1;
        watchTransferMessages(false);
    }
    if (away) {
        // The library is with a helper thread: it is left there, never waited for.
        giveUpLibrary();
        pump.stop();
        sipWatch.reset();
        lines.clear();
        away = false;
        port = 0;
        reg = Reg::None;
        return;
    }
    if (!core) return;
    pump.stop();
    sipWatch.reset();
    // Calls cut by going offline are ours: no far-end hang-up is reported for them.
    for (Line& l : lines)
        if (l.call) l.endedByUs = true;
    if (reg == Reg::Registered || reg == Reg::Registering) reg = Reg::Unregistering;
    regTryingSent = false;
    stopProbing();
    // Players are closed while the library still runs: a local player outliving the core would
    // close into a stopped sound system.
    for (Line& l : lines)
        forgetWave(l);
    tlsCheck.cancel();
    core->stop(); // unregisters; its callbacks queue the unregistration events
    core->removeListener(listener);
    lines.clear();
    incoming.clear();
    answerAfter.clear();
    serverAddresses.clear();
    contacts.clear();
    pendingWatchers.clear();
    joinA.reset();
    joinB.reset();
    account.reset();
    core.reset();
    listener.reset();
    port = 0;
    reg = Reg::None;
}

// The server's addresses, for telling its requests from anyone else's: a name is looked up once,
// off the GUI thread; an address is itself.
void LinphoneEngine::Impl::lookUpServer() {
    serverAddresses.clear();
    QString host = serverHostPort;
    if (host.startsWith(QLatin1Char('[')))
        host = host.mid(1).section(QLatin1Char(']'), 0, 0);
    else
        host = host.section(QLatin1Char(':'), 0, 0);
    if (!QHostAddress(host).isNull()) {
        serverAddresses << QHostAddress(host).toString();
        return;
    }
    const std::weak_ptr<lp::Core> running = core;
    QHostInfo::lookupHost(host, q, [this, running](const QHostInfo& info) {
        if (running.expired() || running.lock() != core) return;
        for (const QHostAddress& a : info.addresses())
            serverAddresses << a.toString();
    });
}

QString LinphoneEngine::Impl::microphoneFile() {
    QString mic = options.playFile;
    if (mic.isEmpty() || readWaveInfo(mic, nullptr) != WaveCheck::Ok) {
        mic = dataDir + QStringLiteral("silence.wav");
        WaveInfo w;
        if (readWaveInfo(mic, &w) != WaveCheck::Ok || w.durationMs() < qint64(kSilentSeconds) * 1000)
            writeSilentWave(mic, 8000, kSilentSeconds);
    }
    return mic;
}

// With a sound card the microphone clocks the call's RTP. When the sound server dies the library
// keeps the call but sends nothing and says nothing; the far end hears silence, and a PBX that
// watches for RTP hangs up. A running call that has sent no packet for three checks in a row has lost
// its sound device.
void LinphoneEngine::Impl::watchSoundDevice() {
    if (soundCheckClock.isValid() && soundCheckClock.elapsed() < kSoundCheckMs) return;
    soundCheckClock.start();
    for (Line& l : lines) {
        // A held or muted call may rightly send nothing.
        if (!l.call || l.onHold || micMuted || l.micMuted || l.call->getState() != lp::Call::State::StreamsRunning) {
            l.rtpStillChecks = 0;
            l.rtpSent = 0;
            continue;
        }
        LinphoneCallStats* stats = linphone_call_get_audio_stats(reinterpret_cast<LinphoneCall*>(l.call->cPtr()));
        if (!stats) continue;
        const rtp_stats_t* rtp = linphone_call_stats_get_rtp_stats(stats);
        const quint64 sent = rtp ? rtp->packet_sent : 0;
        linphone_call_stats_unref(stats);
        l.rtpStillChecks = sent == l.rtpSent ? l.rtpStillChecks + 1 : 0;
        l.rtpSent = sent;
        if (l.rtpStillChecks >= kSoundStillChecks) {
            switchToSoundFiles();
            return;
        }
    }
}

// What a switch to the file devices hands to its helper thread: the library and the calls to hold.
// Given up, it also keeps every other library object the engine held, so that none is released
// on the GUI thread while a helper may still be inside the library.
struct LinphoneEngine::Impl::MediaSwitch {
    std::shared_ptr<lp::Core> core;
    std::vector<std::shared_ptr<lp::Call>> calls;
    std::vector<bool> held; // pause() accepted, per call
    std::shared_ptr<Listener> listener;
    std::vector<std::shared_ptr<void>> kept;
    std::mutex mutex;
    Impl* engine = nullptr; // told when the switch is done; null once given up
};

// The engine goes on without the sound card, as in file mode: the far end hears the play file
// (or silence), and the running calls are held and resumed at once, which restarts their media on
// the file devices. A recording goes on into a new part across the restart. The hold stops the
// calls' media, which waits on the sound server: it runs on a helper thread (see MediaSwitch).
void LinphoneEngine::Impl::switchToSoundFiles() {
    files = true;
    core->setUseFiles(true);
    core->setPlayFile(str(microphoneFile()));
    auto job = std::make_shared<MediaSwitch>();
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& l = lines[i];
        if (!l.call || l.onHold || l.call->getState() != lp::Call::State::StreamsRunning) continue;
        const bool wasRecording = l.recording;
        stopRecordingOf(int(i)); // what was recorded is a part on disk before the media stop
        l.wantRecording = wasRecording;
        l.resumeAfterHold = true;
        job->calls.push_back(l.call);
    }
    if (job->calls.empty()) {
        post([q = q] { emit q->SoundDeviceLost(); });
        return;
    }
    // The library's callbacks would run on the helper thread: the listener is off meanwhile.
    core->removeListener(listener);
    job->core = std::move(core);
    job->listener = listener;
    job->engine = this;
    mediaSwitch = job;
    away = true;
    pump.stop();
    switchBound.start(kSwitchBoundMs);
    std::thread([job] {
        for (const auto& call : job->calls)
            job->held.push_back(call->pause() == 0);
        std::unique_lock<std::mutex> lock(job->mutex);
        if (Impl* d = job->engine) {
            QMetaObject::invokeMethod(
                d->q, [d] { d->switchDone(); }, Qt::QueuedConnection);
            return;
        }
        // Given up meanwhile: the sound server came back or died for good. The library is this
        // thread's alone, so it ends the calls (only one thread ever works in it).
        lock.unlock();
        for (const auto& call : job->core->getCalls())
            call->terminate();
    }).detach();
}

// The calls are held in time: the library is back on the GUI thread, the calls resume on the file
// devices when their hold is confirmed, and the calls the window ended meanwhile are ended now.
void LinphoneEngine::Impl::switchDone() {
    if (!mediaSwitch || core) return;
    switchBound.stop();
    std::shared_ptr<MediaSwitch> job = std::move(mediaSwitch);
    const std::lock_guard<std::mutex> lock(job->mutex);
    job->engine = nullptr;
    core = std::move(job->core);
    away = false;
    core->addListener(listener);
    for (size_t i = 0; i < job->calls.size(); ++i) {
        const int line = lineOf(job->calls[i]);
        if (line < 0) continue;
        Line& l = lines[size_t(line)];
        l.onHold = job->held[i];
        if (!job->held[i]) l.resumeAfterHold = false;
    }
    for (Line& l : lines) {
        if (!l.endWanted) continue;
        l.endWanted = false;
        if (l.call && !isFinished(l.call->getState()) && l.call->terminate() == 0) l.endedByUs = true;
    }
    pump.start(pumpMs);
    post([q = q] { emit q->SoundDeviceLost(); });
}

// The hold did not finish within the bound: the media stop waits on a sound server that hangs, and
// may wait for good. The GUI thread does not wait with it: the library stays with the helper
// thread (which ends the calls should the wait ever end), and the window ends each call that was
// up as the agent's hang-up would (SoundDeviceHung). What was recorded is on disk already. The
// engine answers from its line table until EngineStop.
void LinphoneEngine::Impl::giveUpLibrary() {
    std::shared_ptr<MediaSwitch> job = std::move(mediaSwitch);
    if (!job) return;
    switchBound.stop();
    {
        const std::lock_guard<std::mutex> lock(job->mutex);
        job->engine = nullptr;
        for (size_t i = 0; i < lines.size(); ++i) {
            Line& l = lines[i];
            if (l.call) {
                l.stranded = !l.endWanted;
                if (l.stranded) post([q = q, line = int(i)] { emit q->SoundDeviceHung(line); });
            }
            l.endWanted = false;
            for (std::shared_ptr<void> object :
                 {std::shared_ptr<void>(std::move(l.call)), std::shared_ptr<void>(std::move(l.replacedCall)),
                  std::shared_ptr<void>(std::move(l.player)), std::shared_ptr<void>(std::move(l.playerListener)),
                  std::shared_ptr<void>(std::move(l.localPlayer))})
                if (object) job->kept.push_back(object);
            l.recording = l.wantRecording = l.onHold = l.resumeAfterHold = false;
            l.waveOpen = l.wavePlaying = false;
        }
        for (const auto& call : incoming)
            job->kept.push_back(call);
        for (const auto& contact : contacts)
            job->kept.push_back(contact);
        for (const auto& watcher : pendingWatchers)
            job->kept.push_back(watcher);
        for (std::shared_ptr<void> object :
             {std::shared_ptr<void>(std::move(joinA)), std::shared_ptr<void>(std::move(joinB)),
              std::shared_ptr<void>(std::move(account)), std::shared_ptr<void>(std::move(listener))})
            if (object) job->kept.push_back(object);
    }
    incoming.clear();
    contacts.clear();
    pendingWatchers.clear();
    stopProbing();
    tlsCheck.cancel();
    reg = Reg::None;
}

std::shared_ptr<lp::Address> LinphoneEngine::Impl::identityFor(const QString& user) const {
    return lp::Factory::get()->createAddress(str(QStringLiteral("sip:") + user + QLatin1Char('@') + domain));
}

void LinphoneEngine::Impl::onRegistration(lp::RegistrationState state, const std::string& message) {
    auto info = account ? account->getErrorInfo() : nullptr;
    const int code = info ? info->getProtocolCode() : 0;
    QString phrase = info ? qstr(info->getPhrase()) : QString();
    if (phrase.isEmpty()) phrase = qstr(message);
    // No answer came at all: the request timed out or could not be sent.
    const bool unanswered =
        info && (info->getReason() == lp::Reason::IOError || info->getReason() == lp::Reason::NotAnswered);

    keepGate();
    if (state == lp::RegistrationState::Ok || state == lp::RegistrationState::Failed) lookUpGateHost();
    switch (state) {
    case lp::RegistrationState::Progress:
        if (regTryingSent || probing) break; // the probe's refreshes are not reported
        regTryingSent = true;
        if (reg == Reg::Registering)
            post([q = q] { emit q->RegisterTrying(); });
        else if (reg == Reg::Registered)
            post([q = q] { emit q->ReregisterTrying(); });
        else if (reg == Reg::Unregistering)
            post([q = q] { emit q->UnregisterTrying(); });
        break;
    case lp::RegistrationState::Ok: {
        const bool wasProbe = probing, wasSilent = serverSilent;
        tlsFailureSaid = false;
        registrarAnswered();
        if (reg == Reg::Registering) {
            reg = Reg::Registered;
            post([q = q] { emit q->RegisterSucceeded(); });
        } else if (reg == Reg::Registered && (!wasProbe || wasSilent)) {
            // A refresh shows no progress in the library: its start is reported with its outcome.
            // A probe's refresh is reported only when it ends a silence of the registrar.
            if (!regTryingSent && !wasProbe) post([q = q] { emit q->ReregisterTrying(); });
            post([q = q] { emit q->ReregisterSucceeded(); });
        }
        if (reg == Reg::Registered) {
            // A proxy silent to STUN while it was down may answer it now that it is back; one that
            // answers REGISTER but no longer the keep-alive (restarted without STUN) is checked by
            // REGISTER again, with the library's keep-alives.
            if (wasSilent && proxyStun == ProxyStun::Silent) proxyStun = ProxyStun::Unknown;
            if (wasProbe && !wasSilent && proxyStun == ProxyStun::Answers && pingsMissed >= kPingsMissedForSilent) {
                proxyStun = ProxyStun::Silent;
                registrarPing.stop();
                core->enableKeepAlive(activeSecurity.keepAliveSeconds > 0);
            }
            if (registerEveryMs() > 0) probeTimer.start(registerEveryMs());
            startPinging();
        }
        regTryingSent = false;
        // A call waiting for this registration is placed again outside the library's callback.
        if (std::any_of(lines.cbegin(), lines.cend(), [](const Line& l) { return l.retrying; }))
            post([this] { placeRetries(reg == Reg::Registered); });
        break;
    }
    case lp::RegistrationState::Failed:
        registrarPing.stop();
        if (reg == Reg::Registering || reg == Reg::Registered) {
            const bool first = reg == Reg::Registering;
            // No SIP answer over TLS at the first registration (the library's own 503 "io error"):
            // the connection itself failed. The library does not say why, so the engine's own
            // handshake with the same checks tells the agent; a TLS failure never falls back.
            const bool noAnswer =
                code == 0 ||
                (info && (info->getReason() == lp::Reason::IOError || info->getReason() == lp::Reason::NoResponse));
            if (first && noAnswer && activeSecurity.transport == SipSecurity::Transport::Tls) {
                // The library tries again every few seconds: the reason is said once.
                regTryingSent = false;
                registrarAnswered(); // it did: with a refused handshake, not with silence
                if (tlsFailureSaid) break;
                tlsFailureSaid = true;
                tlsCheck.start(serverHostPort, tlsName, activeSecurity.caFile, activeSecurity.verifyServer,
                               [this, code, phrase](const QString& why) {
                                   post([q = q, code, why = why.isEmpty() ? phrase : why] {
                                       emit q->RegisterFailed(code, why);
                                   });
                               });
                break;
            }
            if (unanswered) {
                // Said once, as the registrar's silence; the probe goes on asking.
                probing = false;
                regTryingSent = false;
                onRegistrarSilent();
                break;
            }
            registrarAnswered();
            placeRetries(false);
            if (first) {
                post([q = q, code, phrase] { emit q->RegisterFailed(code, phrase); });
            } else {
                if (!regTryingSent) post([q = q] { emit q->ReregisterTrying(); });
                post([q = q, code, phrase] { emit q->ReregisterFailed(code, phrase); });
            }
        } else if (reg == Reg::Unregistering) {
            reg = Reg::None;
            post([q = q] { emit q->UnregisterFailed(); });
        }
        regTryingSent = false;
        break;
    case lp::RegistrationState::Cleared:
        stopProbing();
        if (reg == Reg::Unregistering) {
            if (!regTryingSent) post([q = q] { emit q->UnregisterTrying(); });
            post([q = q] { emit q->UnregisterSucceeded(); });
        }
        reg = Reg::None;
        regTryingSent = false;
        break;
    default:
        break;
    }
}

// A restarted registrar that keeps its registrations in memory has forgotten the phone, and
// nothing tells the phone so: its next refresh would come only near the expiry (half an hour).
// Refreshing the registration itself is the probe: the answer shows both that the registrar is up
// and that it holds this phone again, whatever happened in between, and it goes through the
// library's own socket, route and credentials.
void LinphoneEngine::Impl::probeRegistrar() {
    if (!core || !account || (reg != Reg::Registered && reg != Reg::Registering)) return;
    if (reg == Reg::Registering && !serverSilent) return; // the library is still at its first try
    if (probing && noAnswerTimer.isActive()) return;      // the last refresh may still be answered
    probing = true;
    account->refreshRegister();
    if (!serverSilent) noAnswerTimer.start(kNoAnswerMs);
    wake();
}

// The STUN keep-alive, on UDP while registered and the registrar answers: to the proxy's first
// IPv4 address (lookUpServer: as given, or as its name was looked up), at the port given or SIP's own.
void LinphoneEngine::Impl::startPinging() {
    if (!core || reg != Reg::Registered || serverSilent || proxyStun == ProxyStun::Silent || pingMs() <= 0 ||
        activeSecurity.transport != SipSecurity::Transport::Udp || registrarPing.running())
        return;
    const int proxyPort = serverHostPort.contains(QLatin1Char(':')) ? serverHostPort.section(QLatin1Char(':'), 1).toInt() : 5060;
    QHostAddress address;
    for (const QString& found : serverAddresses)
        if (address.protocol() != QAbstractSocket::IPv4Protocol) address = QHostAddress(found);
    if (address.protocol() != QAbstractSocket::IPv4Protocol || proxyPort <= 0 || proxyPort > 65535) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(proxyPort));
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    registrarPing.start(port, to, pingMs());
}

// The first answer shows the proxy speaks STUN on its SIP port: from then on the keep-alive is the
// check, the library's CRLF keep-alive stops, and the registration is refreshed only every
// refreshMs() (counted from now; the last one was at most a check ago).
void LinphoneEngine::Impl::onPingAnswered() {
    ++keepAliveAnswers;
    pingsMissed = 0;
    if (proxyStun == ProxyStun::Answers || !core) return;
    proxyStun = ProxyStun::Answers;
    core->enableKeepAlive(false);
    if (probeTimer.isActive() && !serverSilent) {
        if (registerEveryMs() > 0)
            probeTimer.start(registerEveryMs());
        else
            probeTimer.stop();
    }
}

// A proxy that has answered the keep-alive and stops is checked at once with a REGISTER, which says
// the silence (onRegistrarSilent) when it is not answered either; answered after kPingsMissedForSilent
// pings in a row went unanswered, it shows the proxy no longer speaks STUN. One that never answered
// the keep-alive does not speak STUN: the registration refreshes are the check, as with TCP and TLS.
void LinphoneEngine::Impl::onPingUnanswered() {
    if (proxyStun == ProxyStun::Answers) {
        ++pingsMissed;
        probeRegistrar();
        return;
    }
    proxyStun = ProxyStun::Silent;
    registrarPing.stop();
}

void LinphoneEngine::Impl::onRegistrarSilent() {
    noAnswerTimer.stop();
    registrarPing.stop();
    if (serverSilent || !core) return;
    serverSilent = true;
    probeTimer.start(checkMs() > 0 ? std::min(checkMs(), kDoubtProbeMs) : kDoubtProbeMs);
    placeRetries(false);
    post([q = q] { emit q->ServerNotAnswering(); });
}

void LinphoneEngine::Impl::registrarAnswered() {
    noAnswerTimer.stop();
    probing = false;
    serverSilent = false;
    probeTimer.stop();
}

LinphoneEngine::Impl* LinphoneEngine::Impl::transferWatcher = nullptr;

// Reads the SIP layer's message log while a transfer waits: a final answer to a REFER, and a
// NOTIFY of the refer event whose sipfrag holds the new call's final answer. The log calls come
// from the library's main loop, which runs inside the engine's pump on the GUI thread.
void LinphoneEngine::Impl::readTransferMessage(void*, const char* domain, BctbxLogLevel, const char* format,
                                               va_list args) {
    if (!transferWatcher || !domain || std::strcmp(domain, "belle-sip") != 0) return;
    char buffer[4096];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(buffer, sizeof buffer, format, copy);
    va_end(copy);
    const QString text = QString::fromUtf8(buffer);
    int code = 0;
    QString reason;
    if (text.contains(QStringLiteral("message/sipfrag"), Qt::CaseInsensitive)) {
        // A NOTIFY of the refer event: its body is the new call's status line.
        const qsizetype body = text.lastIndexOf(QStringLiteral("SIP/2.0 "));
        if (body >= 0 && readStatusLine(text.mid(body), &code, &reason) && code >= 300)
            transferWatcher->targetAnswer = {code, reason};
        return;
    }
    // A response, the REFER's when its CSeq names REFER.
    const qsizetype start = text.indexOf(QStringLiteral("SIP/2.0 "));
    if (start >= 0 && readStatusLine(text.mid(start), &code, &reason) && code >= 300 &&
        text.contains(QRegularExpression(QStringLiteral("\\nCSeq:\\s*[0-9]+ REFER\\s"),
                                         QRegularExpression::CaseInsensitiveOption)))
        transferWatcher->referRefusal = {code, reason};
}

void LinphoneEngine::Impl::watchTransferMessages(bool on) {
    static bctbx_log_handler_t* handler = nullptr;
    transfersWaiting = std::max(0, transfersWaiting + (on ? 1 : -1));
    if (transfersWaiting > 0) {
        if (on) referRefusal = targetAnswer = TransferAnswer{};
        transferWatcher = this;
        if (!handler) {
            handler = bctbx_create_log_handler(readTransferMessage, nullptr, nullptr);
            bctbx_add_log_handler(handler);
        }
        bctbx_set_log_level("belle-sip", BCTBX_LOG_MESSAGE);
    } else {
        if (transferWatcher == this) transferWatcher = nullptr;
        // Back to the level the rest of the library logs at.
        bctbx_set_log_level("belle-sip",
                            qEnvironmentVariableIsEmpty("CORVID_ENGINE_LOG") ? BCTBX_LOG_ERROR : BCTBX_LOG_MESSAGE);
    }
}

void LinphoneEngine::Impl::stopProbing() {
    registrarAnswered();
    registrarPing.stop();
    proxyStun = ProxyStun::Unknown;
    keepAliveAnswers = pingsMissed = 0;
}

// ================================================================================================

LinphoneEngine::LinphoneEngine(QObject* parent) : SipEngine(parent), d(std::make_unique<Impl>(this)) {}

LinphoneEngine::LinphoneEngine(const Options& options, QObject* parent) : LinphoneEngine(parent) {
    d->options = options;
}

LinphoneEngine::~LinphoneEngine() {
    d->stop();
}

void LinphoneEngine::setOptions(const Options& options) {
    d->options = options;
}
const LinphoneEngine::Options& LinphoneEngine::options() const {
    return d->options;
}
bool LinphoneEngine::isStarted() const {
    return d->started();
}
bool LinphoneEngine::usesSoundFiles() const {
    return d->started() && d->files;
}
int LinphoneEngine::sipPort() const {
    return d->port;
}
int LinphoneEngine::pumpIntervalMs() const {
    return d->pumpMs;
}

int LinphoneEngine::registrarKeepAliveAnswers() const {
    return d->keepAliveAnswers;
}

int LinphoneEngine::lineRtpPort(int line) const {
    if (line < 0 || line >= int(d->lines.size()) || !d->lines[size_t(line)].open) return 0;
    return d->lines[size_t(line)].rtpPort;
}

// --- engine life ---------------------------------------------------------------------------------

bool LinphoneEngine::EngineStart(bool, QString& localAddress, int sipPort, const QString& userName,
                                 const QString& authLogin, const QString& password, const QString& displayName,
                                 const QString& domain, const QString& proxy, const QString&, bool captureSoundDevice,
                                 int lineCount) {
    return d->start(localAddress, sipPort, userName, authLogin, password, displayName, domain, proxy,
                    captureSoundDevice, lineCount);
}

void LinphoneEngine::EngineStop() {
    d->stop();
}

int LinphoneEngine::LastErrorCode() const {
    return d->lastError;
}

QString LinphoneEngine::GetLocalAddress() {
    if (!d->bindAddress.isEmpty() && d->started()) return d->bindAddress;
    if (!d->options.bindAddress.trimmed().isEmpty()) return d->options.bindAddress.trimmed();
    const QString outbound = d->options.outboundProxy.trimmed();
    if (!outbound.isEmpty() && isLoopbackHost(outbound.section(QLatin1Char(':'), 0, 0)))
        return QStringLiteral("127.0.0.1");
    return primaryIpv4();
}

void LinphoneEngine::SetUserAgent(const QString& text) {
    const QString agent = text.trimmed();
    if (agent.isEmpty()) return;
    d->userAgent = agent;
    if (d->core) d->core->setUserAgent(str(agent), "");
}

bool LinphoneEngine::SetEngineInterval(int ms) {
    // The pump interval: how often the library is given time for signalling (the media run on the
    // library's own threads, unaffected).
    if (ms < 10 || ms > 100) return d->fail(EngineError::InvalidValue);
    d->pumpMs = ms;
    if (d->pump.isActive()) d->pump.start(ms);
    if (d->core) d->adjustPump();
    return true;
}

// --- registration --------------------------------------------------------------------------------

bool LinphoneEngine::RegisterToProxy(int expirySeconds) {
    if (!d->checkStarted()) return false;
    if (expirySeconds < 1 || expirySeconds > 86400) return d->fail(EngineError::InvalidValue);
    auto params = d->account->getParams()->clone();
    params->enableRegister(true);
    params->setExpires(expirySeconds);
    d->reg = Impl::Reg::Registering;
    d->regTryingSent = false;
    d->tlsFailureSaid = false;
    d->stopProbing();
    if (d->account->setParams(params) != 0) {
        d->reg = Impl::Reg::None;
        return d->fail(EngineError::RegisterRequest);
    }
    // A registrar that does not answer the first REGISTER is reported as silent after a while,
    // and is then asked again every few seconds.
    d->noAnswerTimer.start(Impl::kNoAnswerMs);
    return true;
}

// --- lines ---------------------------------------------------------------------------------------

bool LinphoneEngine::OpenLine(int line, bool, QString& localAddress, int rtpPort) {
    if (!d->checkLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call) return d->fail(EngineError::LineBusy);
    if (rtpPort < 1024 || rtpPort > 65534) return d->fail(EngineError::InvalidValue);
    // RTP takes the port, RTCP the one above it.
    for (size_t i = 0; i < d->lines.size(); ++i) {
        const Impl::Line& other = d->lines[i];
        if (int(i) != line && other.open && qAbs(other.rtpPort - rtpPort) < 2) return d->fail(EngineError::PortInUse);
    }
    if (!udpPortFree(QString(), rtpPort) || !udpPortFree(QString(), rtpPort + 1))
        return d->fail(EngineError::PortInUse);
    // Claimed for as long as the engine runs, whatever port the line takes next.
    for (int port : {rtpPort, rtpPort + 1}) {
        const int claim = claimUdpPort(port);
        if (claim < 0) return d->fail(EngineError::PortInUse);
        d->portClaims.push_back(claim);
    }
    l.open = true;
    l.rtpPort = rtpPort;
    d->audioPortSet = -1;
    if (localAddress.trimmed().isEmpty()) localAddress = GetLocalAddress();
    return true;
}

bool LinphoneEngine::IsLineOpen(int line) {
    return d->checkLine(line) && d->lines[size_t(line)].open;
}

bool LinphoneEngine::IsLineOnHold(int line) {
    return d->checkLine(line) && d->lines[size_t(line)].call && d->lines[size_t(line)].onHold;
}

bool LinphoneEngine::IsLineBusy(int line) {
    if (d->away) return d->checkLineTable(line) && (d->lines[size_t(line)].call || d->lines[size_t(line)].stranded);
    if (!d->checkLine(line)) return false;
    const Impl::Line& l = d->lines[size_t(line)];
    return l.call || l.retrying || l.unheardEnds > 0;
}

bool LinphoneEngine::IsLineEncrypted(int line) {
    return d->checkLine(line) && d->lines[size_t(line)].call && d->lines[size_t(line)].encrypted;
}

} // namespace corvid
