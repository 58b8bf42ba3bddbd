// The engine's life: start and stop of the library's core, the pump, registration and the line
// table. Calls, media and chat live in LinphoneCalls.cpp, LinphoneMedia.cpp and LinphoneChat.cpp.

#include "engine/linphone/LinphoneEngineImpl.h"
#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

#include <cstddef>
#include <cstring>

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
    }
    chooseSoundDevices(captureSoundDevice);
    applyCodecs();
    applyGains();
    core->enableEchoCancellation(echoCancel);
    linphone_core_enable_agc(reinterpret_cast<LinphoneCore*>(core->cPtr()), agc);
    core->enableMic(!micMuted);
    applyTransports(sipPort);
    if (!createAccount(user, authLogin, password, displayName, dom, server)) return false;

    lines.assign(size_t(lineCount), Line());
    for (int i = 0; i < lineCount; ++i)
        lines[size_t(i)].buffer = RecordingParts(recordingDir(), QStringLiteral("line%1").arg(i));
    audioPortSet = -1;
    if (!startCore(sipPort)) return false;
    serverHostPort = server;
    reg = Reg::None;
    if (localAddress.trimmed().isEmpty()) localAddress = bindAddress.isEmpty() ? primaryIpv4() : bindAddress;
    pump.start(pumpMs);
    return true;
}

// The SIP port is a UDP socket, or with TCP or TLS the stream socket the library listens on; the
// other transports stay closed, so nothing falls back to clear UDP. The port is held by a socket of
// ours until the library has it, so a second dialer cannot take it in between.
bool LinphoneEngine::Impl::claimSipPort(int sipPort) {
    const bool udp = activeSecurity.transport == SipSecurity::Transport::Udp;
    if (!udpPortFree(bindAddress, sipPort, udp ? SOCK_DGRAM : SOCK_STREAM)) return fail(EngineError::PortInUse);
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
    if (!bindAddress.isEmpty()) text += "bind_address=" + bindAddress.toLatin1() + "\n";
    if (isLoopbackHost(bindAddress)) text += "guess_hostname=0\n";
    text += "[video]\nenabled=0\ncapture=0\ndisplay=0\n";
    text += "[misc]\nmax_calls=" + QByteArray::number(maxCallsFor(lineCount)) + "\n";
    // No tones of the library (call end, errors): the window plays its own ring-back, and a
    // tone started on a sound card whose server has died ends the process.
    text += "[sound]\ntone_indications=0\n";
    // The library's own message store stays in memory: written to disk with a sync for every
    // message, a flood of messages held up the engine's pump for seconds.
    text += "[storage]\nuri=:memory:\n";
    return rc.write(text) == text.size() || fail(EngineError::TaskWindow);
}

bool LinphoneEngine::Impl::createCore(int lineCount) {
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
    core->enableKeepAlive(false);
    core->setUserAgent(str(userAgent), "");
    core->getImNotifPolicy()->clear();
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

// Only the chosen transport listens, on the SIP port.
void LinphoneEngine::Impl::applyTransports(int sipPort) {
    const SipSecurity::Transport transport = activeSecurity.transport;
    auto transports = lp::Factory::get()->createTransports();
    transports->setUdpPort(transport == SipSecurity::Transport::Udp ? sipPort : 0);
    transports->setTcpPort(transport == SipSecurity::Transport::Tcp ? sipPort : 0);
    transports->setTlsPort(transport == SipSecurity::Transport::Tls ? sipPort : 0);
    transports->setDtlsPort(0);
    core->setTransports(transports);
}

// The account: identity user@domain; the proxy (or the outbound proxy) is both registrar and the
// route of every request. Registration waits for RegisterToProxy.
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
    auto serverAddress = factory->createAddress(str(QStringLiteral("sip:") + server + QStringLiteral(";transport=") +
                                                    QLatin1String(transportName(activeSecurity.transport))));
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
    const SipSecurity::Transport transport = activeSecurity.transport;
    auto used = core->getTransportsUsed();
    const int usedPort = !used                                      ? 0
                         : transport == SipSecurity::Transport::Tls ? used->getTlsPort()
                         : transport == SipSecurity::Transport::Tcp ? used->getTcpPort()
                                                                    : used->getUdpPort();
    if (usedPort != sipPort) {
        stop();
        return fail(EngineError::PortInUse);
    }
    port = sipPort;
    return true;
}

void LinphoneEngine::Impl::releasePortClaims() {
    for (int fd : portClaims)
        ::close(fd);
    portClaims.clear();
}

void LinphoneEngine::Impl::stop() {
    releasePortClaims();
    if (!core) return;
    pump.stop();
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

// The engine goes on without the sound card, as in file mode: the far end hears the play file
// (or silence), and the running calls are held and resumed at once, which restarts their media on
// the file devices. A recording goes on into a new part across the restart.
void LinphoneEngine::Impl::switchToSoundFiles() {
    files = true;
    core->setUseFiles(true);
    core->setPlayFile(str(microphoneFile()));
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& l = lines[i];
        if (!l.call || l.onHold || l.call->getState() != lp::Call::State::StreamsRunning) continue;
        const bool wasRecording = l.recording;
        stopRecordingOf(int(i));
        l.wantRecording = wasRecording;
        l.resumeAfterHold = true;
        if (l.call->pause() != 0) l.resumeAfterHold = false;
    }
    post([q = q] { emit q->SoundDeviceLost(); });
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
        if (reg == Reg::Registered && options.registrationProbeMs > 0)
            probeTimer.start(options.registrationProbeMs);
        regTryingSent = false;
        break;
    }
    case lp::RegistrationState::Failed:
        if (reg == Reg::Registering || reg == Reg::Registered) {
            const bool first = reg == Reg::Registering;
            // No SIP answer over TLS at the first registration (the library's own 503 "io error"):
            // the connection itself failed. The library does not say why, so the engine's own
            // handshake with the same checks tells the agent; a TLS failure never falls back.
            const bool noAnswer =
                code == 0 ||
                (info && (info->getReason() == lp::Reason::IOError || info->getReason() == lp::Reason::NoResponse));
            if (first && noAnswer && activeSecurity.transport == SipSecurity::Transport::Tls) {
                tlsCheck.start(serverHostPort, activeSecurity.caFile, activeSecurity.verifyServer,
                               [this, code, phrase](const QString& why) {
                                   post([q = q, code, why = why.isEmpty() ? phrase : why] {
                                       emit q->RegisterFailed(code, why);
                                   });
                               });
                regTryingSent = false;
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

void LinphoneEngine::Impl::onRegistrarSilent() {
    noAnswerTimer.stop();
    if (serverSilent || !core) return;
    serverSilent = true;
    probeTimer.start(options.registrationProbeMs > 0 ? std::min(options.registrationProbeMs, kDoubtProbeMs)
                                                     : kDoubtProbeMs);
    post([q = q] { emit q->ServerNotAnswering(); });
}

void LinphoneEngine::Impl::registrarAnswered() {
    noAnswerTimer.stop();
    probing = false;
    serverSilent = false;
    probeTimer.stop();
}

void LinphoneEngine::Impl::stopProbing() {
    registrarAnswered();
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
    return d->checkLine(line) && (d->lines[size_t(line)].call || d->lines[size_t(line)].unheardEnds > 0);
}

bool LinphoneEngine::IsLineEncrypted(int line) {
    return d->checkLine(line) && d->lines[size_t(line)].call && d->lines[size_t(line)].encrypted;
}

} // namespace corvid
