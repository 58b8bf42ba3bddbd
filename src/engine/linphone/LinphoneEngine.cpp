#include "engine/linphone/LinphoneEngine.h"

#include <algorithm>

#include "engine/linphone/EngineRules.h"
#include "engine/linphone/WaveFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <arpa/inet.h>
#include <bctoolbox/logging.h>
#include <ifaddrs.h>
#include <linphone++/linphone.hh>
#include <linphone/core.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace corvid {

namespace lp = linphone;
using namespace engine_rules;

namespace {

std::string str(const QString& s) {
    return s.toStdString();
}
QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

// Whether a UDP port can be bound now. The library does not report a port that is already taken
// (two processes then share it and the audio is garbage), so the engine asks the system itself.
bool udpPortFree(const QString& address, int port) {
    if (port < 1 || port > 65535) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
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

bool isSettingUp(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::OutgoingInit || s == S::OutgoingProgress || s == S::OutgoingRinging || s == S::OutgoingEarlyMedia;
}

bool isFinished(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::End || s == S::Error || s == S::Released;
}

int presenceStatus(const std::shared_ptr<lp::Friend>& f) {
    if (f->getConsolidatedPresence() == lp::ConsolidatedPresence::Offline) return Presence::Offline;
    // The wrapper's PresenceModel::getActivity() releases an object it does not own and crashes;
    // the activity is read through the C interface instead.
    auto model = f->getPresenceModel();
    if (model) {
        auto* cModel =
            reinterpret_cast<const LinphonePresenceModel*>(std::const_pointer_cast<lp::PresenceModel>(model)->cPtr());
        if (LinphonePresenceActivity* activity = linphone_presence_model_get_activity(cModel)) {
            switch (linphone_presence_activity_get_type(activity)) {
            case LinphonePresenceActivityOnThePhone:
                return Presence::OnThePhone;
            case LinphonePresenceActivityAway:
            case LinphonePresenceActivityBreakfast:
            case LinphonePresenceActivityDinner:
            case LinphonePresenceActivityHoliday:
            case LinphonePresenceActivityLunch:
            case LinphonePresenceActivityMeal:
            case LinphonePresenceActivityVacation:
            case LinphonePresenceActivityInTransit:
            case LinphonePresenceActivityTravel:
            case LinphonePresenceActivitySleeping:
            case LinphonePresenceActivityShopping:
                return Presence::Away;
            case LinphonePresenceActivityPermanentAbsence:
                return Presence::Offline;
            case LinphonePresenceActivityBusy:
            case LinphonePresenceActivityAppointment:
            case LinphonePresenceActivityMeeting:
            case LinphonePresenceActivityPresentation:
            case LinphonePresenceActivityPerformance:
            case LinphonePresenceActivitySteering:
            case LinphonePresenceActivityWorship:
                return Presence::Busy;
            default:
                break;
            }
        }
    }
    switch (f->getConsolidatedPresence()) {
    case lp::ConsolidatedPresence::Online:
        return Presence::Online;
    case lp::ConsolidatedPresence::Busy:
    case lp::ConsolidatedPresence::DoNotDisturb:
        return Presence::Busy;
    default:
        return Presence::Offline;
    }
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

constexpr int kMaxLines = 8;
constexpr int kSilentSeconds = 4 * 3600;
constexpr int kMaxChatBytes = 16 * 1024;

} // namespace

// ------------------------------------------------------------------------------------------------

struct LinphoneEngine::Impl {
    struct Listener;
    struct PlayerEof;

    // One line of the dialer: the library knows calls, the adapter keeps the lines.
    struct Line {
        bool open = false;
        int rtpPort = 0;
        bool forceInband = false; // for the line's next call
        bool micMuted = false;
        bool speakerMuted = false;

        std::shared_ptr<lp::Call> call;
        bool callInband = false;
        bool connectingSent = false;
        int provisionalSent = 0; // last provisional code reported
        bool connected = false;
        bool endedByUs = false;
        bool onHold = false;

        // Recording buffer: the library writes the running call's recording to recordPath; each
        // stop moves what was written to a part file, and a save joins the parts.
        QString recordPath;
        QStringList parts;
        int partCounter = 0;
        bool recording = false;
        bool wantRecording = false; // asked for before the media were running

        // Wave playback into the call. The library's player cannot tell its position or length
        // (both crash), so the adapter counts them.
        std::shared_ptr<lp::Player> player;
        std::shared_ptr<PlayerEof> playerListener;
        std::shared_ptr<lp::Player> localPlayer; // the same wave on the agent's speaker ("listen")
        QString wavePath;

        std::shared_ptr<lp::Call> replacedCall; // the call a far-end-requested transfer is replacing
        bool waveOpen = false;
        bool wavePlaying = false;
        qint64 waveDurationMs = 0;
        qint64 wavePosMs = 0; // position when the clock last started or stopped
        QElapsedTimer waveClock;
    };

    LinphoneEngine* q;
    Options options;
    int lastError = EngineError::None;

    // Kept across stop and start: the window sets these once.
    QString userAgent = QStringLiteral("CorvidDialer");
    int pumpMs = 20;
    static constexpr int kIdlePumpMs = 100;
    bool dnd = false;
    bool forwarding = false;
    QString forwardTarget;
    int micVolume = kVolumeUnity;
    int speakerVolume = kVolumeUnity;
    bool micBoost = false;
    bool agc = false;
    bool echoCancel = true;
    bool micMuted = false;
    bool speakerMuted = false;
    QList<int> codecOrder = {Codec::G711U, Codec::G711A, Codec::GSM610, Codec::G729};

    // Running engine.
    std::shared_ptr<lp::Core> core;
    std::shared_ptr<Listener> listener;
    std::shared_ptr<lp::Account> account;
    QTimer pump;
    QString dataDir; // with a trailing slash
    QString bindAddress;
    QString domain;
    int port = 0;
    bool files = false;
    int audioPortSet = -1;
    int placingLine = -1; // the line whose call the library is creating right now
    bool grammarsPresent = true;
    std::vector<Line> lines;
    enum class Reg { None, Registering, Registered, Unregistering } reg = Reg::None;
    bool regTryingSent = false;
    QHash<QString, std::shared_ptr<lp::Call>> incoming; // call id -> call not yet answered
    QHash<QString, std::shared_ptr<lp::Friend>> contacts;

    explicit Impl(LinphoneEngine* owner) : q(owner) {
        pump.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pump, &QTimer::timeout, q, [this] { iterate(); });
    }

    // --- results ---------------------------------------------------------------------------
    bool fail(int code) {
        lastError = code;
        return false;
    }
    bool started() const { return bool(core); }
    bool checkStarted() { return started() || fail(EngineError::NotOnline); }
    bool checkLine(int line) {
        if (!checkStarted()) return false;
        return (line >= 0 && line < int(lines.size())) || fail(EngineError::InvalidLine);
    }
    bool checkGrammars() { return grammarsPresent || fail(EngineError::TaskWindow); }
    bool checkOpenLine(int line) { return checkLine(line) && (lines[line].open || fail(EngineError::LineNotOpen)); }
    bool checkCall(int line) {
        return checkOpenLine(line) && (lines[line].call || fail(EngineError::NotInVoiceSession));
    }

    // Events leave through the Qt event queue: the window's handler runs after the library's
    // callback has returned, never inside it.
    template <typename F> void post(F&& f) { QMetaObject::invokeMethod(q, std::forward<F>(f), Qt::QueuedConnection); }

    int lineOf(const std::shared_ptr<lp::Call>& call) const {
        if (!call) return -1;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].call && lines[i].call->cPtr() == call->cPtr()) return int(i);
        return -1;
    }

    // --- engine life -----------------------------------------------------------------------
    void iterate() {
        if (!core) return;
        applyIncomingPort();
        core->iterate();
        if (core) adjustPump();
    }

    // While a call or a registration is under way the library gets time every pumpMs; an idle
    // phone (registered, no call) is pumped every kIdlePumpMs, which keeps the idle dialer's wake-ups
    // few. Anything the agent starts (a call, an answer) wakes the pump at once.
    bool busy() const {
        if (placingLine >= 0 || !incoming.isEmpty()) return true;
        if (reg == Reg::Registering || reg == Reg::Unregistering) return true;
        for (const Line& l : lines)
            if (l.call) return true;
        return false;
    }
    void adjustPump() {
        const int want = busy() ? pumpMs : std::max(pumpMs, kIdlePumpMs);
        if (pump.isActive() && pump.interval() != want) pump.start(want);
    }
    void wake() {
        if (pump.isActive() && pump.interval() != pumpMs) pump.start(pumpMs);
    }

    // An incoming call takes its RTP port when the library creates it: keep the port of the first
    // free open line set, so the call lands on the port of the line that will answer it.
    void applyIncomingPort() {
        for (const Line& l : lines) {
            if (l.open && !l.call) {
                if (audioPortSet != l.rtpPort) {
                    core->setAudioPort(l.rtpPort);
                    audioPortSet = l.rtpPort;
                }
                return;
            }
        }
    }

    void setAudioPort(int port) {
        core->setAudioPort(port);
        audioPortSet = port;
    }

    QString recordingDir() const { return dataDir + QStringLiteral("recording/"); }

    bool start(QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
               const QString& password, const QString& displayName, const QString& domainName, const QString& proxy,
               bool captureSoundDevice, int lineCount);
    void stop();
    void applyCodecs();
    void applyGains();
    bool anyCodecEnabled();
    std::vector<std::shared_ptr<lp::AudioDevice>> devices(lp::AudioDevice::Capabilities cap) const;
    // The name of device index among those with cap; empty with code 33 for an index outside.
    QString deviceName(lp::AudioDevice::Capabilities cap, int index) {
        if (!checkStarted()) return QString();
        const auto list = devices(cap);
        if (index < 0 || index >= int(list.size())) {
            fail(EngineError::InvalidValue);
            return QString();
        }
        return qstr(list[size_t(index)]->getDeviceName());
    }

    // Device indexes of the lists (-1: the default device). An index outside its list is refused
    // also in file mode, where the devices themselves are not used.
    bool pickDevices(int inputIndex, int outputIndex, std::shared_ptr<lp::AudioDevice>& input,
                     std::shared_ptr<lp::AudioDevice>& output) {
        const auto inputs = devices(lp::AudioDevice::Capabilities::CapabilityRecord);
        const auto outputs = devices(lp::AudioDevice::Capabilities::CapabilityPlay);
        if (inputIndex < -1 || inputIndex >= int(inputs.size())) return fail(EngineError::InputDevice);
        if (outputIndex < -1 || outputIndex >= int(outputs.size())) return fail(EngineError::OutputDevice);
        if (files) return true;
        if (inputIndex >= 0) input = inputs[size_t(inputIndex)];
        if (outputIndex >= 0) output = outputs[size_t(outputIndex)];
        return true;
    }
    std::shared_ptr<lp::Address> identityFor(const QString& user) const;

    // --- call events -----------------------------------------------------------------------
    void onCallState(const std::shared_ptr<lp::Call>& call, lp::Call::State state, const std::string& message);
    void onIncoming(const std::shared_ptr<lp::Call>& call);

    // The far end asked us to transfer (REFER): the library ends our call and places the new one by
    // itself. The new call takes over the line of the call it replaces, as a call of that line.
    int takeOverTransferredLine(const std::shared_ptr<lp::Call>& call) {
        const int line = lineOf(call->getTransfererCall());
        if (line < 0) return -1;
        Line& l = lines[size_t(line)];
        stopRecordingOf(line);
        forgetWave(l);
        l.replacedCall = l.call;
        l.call = call;
        l.connectingSent = false;
        l.provisionalSent = 0;
        l.connected = false;
        l.endedByUs = false;
        l.onHold = false;
        l.callInband = false;
        return line;
    }
    void finishCall(int line);
    void onRegistration(lp::RegistrationState state, const std::string& message);
    void onTransferState(const std::shared_ptr<lp::Call>& call, lp::Call::State state);
    void onPlayerEof(int line);

    void applyCallMutes(Line& l) {
        if (!l.call) return;
        l.call->setMicrophoneMuted(micMuted || l.micMuted);
        l.call->setSpeakerMuted(speakerMuted || l.speakerMuted);
    }

    // Moves what the library recorded for the line's call into the line's list of parts.
    void collectRecording(int line) {
        Line& l = lines[line];
        if (l.recordPath.isEmpty() || !QFile::exists(l.recordPath)) return;
        if (QFileInfo(l.recordPath).size() <= 44) {
            QFile::remove(l.recordPath);
            return;
        }
        const QString part = recordingDir() + QStringLiteral("line%1-part%2.wav").arg(line).arg(++l.partCounter);
        QFile::remove(part);
        if (QFile::rename(l.recordPath, part)) l.parts << part;
    }

    void stopRecordingOf(int line) {
        Line& l = lines[line];
        l.wantRecording = false;
        if (l.recording && l.call) l.call->stopRecording();
        l.recording = false;
        collectRecording(line);
    }

    void forgetWave(Line& l);

    // "Listen": the call's player feeds only the far end, so a second player of the library plays
    // the wave on the speaker, kept at the same position. Without a playback device it stays silent.
    void startListening(Line& l) {
        if (!l.localPlayer) {
            auto out = core->getOutputAudioDevice();
            if (!out) out = core->getDefaultOutputAudioDevice();
            if (!out || !out->hasCapability(lp::AudioDevice::Capabilities::CapabilityPlay)) return;
            auto player = core->createLocalPlayer(out->getId(), "", nullptr);
            if (!player || player->open(str(l.wavePath)) != 0) return;
            l.localPlayer = player;
        }
        l.localPlayer->seek(int(wavePosition(l)));
        l.localPlayer->start();
    }
    void stopListening(Line& l) {
        if (!l.localPlayer) return;
        l.localPlayer->close();
        l.localPlayer.reset();
    }

    qint64 wavePosition(const Line& l) const {
        qint64 pos = l.wavePosMs;
        if (l.wavePlaying && l.waveClock.isValid()) pos += l.waveClock.elapsed();
        return qBound<qint64>(0, pos, l.waveDurationMs);
    }

    // The call that the level meters measure: the first running call that is not on hold.
    std::shared_ptr<lp::Call> meteredCall() const {
        for (const Line& l : lines)
            if (l.call && l.call->getState() == lp::Call::State::StreamsRunning) return l.call;
        return nullptr;
    }
};

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
        if (!message || !message->getFromAddress()) return;
        const QString user = qstr(message->getFromAddress()->getUsername());
        const QString text = QString::fromUtf8(message->getUtf8Text().c_str());
        d->post([q = d->q, user, text] { emit q->ChatMessageReceived(user, text); });
    }
    void onNotifyPresenceReceived(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Friend>& f) override {
        if (!f || !f->getAddress()) return;
        const QString user = qstr(f->getAddress()->getUsername());
        const int status = presenceStatus(f);
        d->post([q = d->q, user, status] { emit q->ChatContactStatus(user, status); });
    }
    void onNewSubscriptionRequested(const std::shared_ptr<lp::Core>&, const std::shared_ptr<lp::Friend>& f,
                                    const std::string&) override {
        // Without an answer here the library accepts the SUBSCRIBE and then never sends a NOTIFY.
        // Agents of our own domain may watch us: their watcher becomes a friend that may subscribe.
        // The friend list is changed after the callback has returned.
        if (!f || !f->getAddress()) return;
        const bool sameDomain = qstr(f->getAddress()->getDomain()).compare(d->domain, Qt::CaseInsensitive) == 0;
        std::shared_ptr<lp::Friend> watcher = f;
        QPointer<LinphoneEngine> guard(d->q);
        d->post([guard, watcher, sameDomain] {
            if (!guard || !guard->d->core) return;
            if (sameDomain) {
                watcher->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
                watcher->enableSubscribes(false);
                guard->d->core->getDefaultFriendList()->addFriend(watcher);
            } else {
                watcher->setIncSubscribePolicy(lp::SubscribePolicy::SPDeny);
            }
        });
    }
};

struct LinphoneEngine::Impl::PlayerEof : public lp::PlayerListener {
    Impl* d;
    int line;
    PlayerEof(Impl* impl, int l) : d(impl), line(l) {}
    void onEofReached(const std::shared_ptr<lp::Player>&) override { d->onPlayerEof(line); }
};

void LinphoneEngine::Impl::forgetWave(Line& l) {
    stopListening(l);
    if (l.player && l.playerListener) l.player->removeListener(l.playerListener);
    l.player.reset();
    l.playerListener.reset();
    l.waveOpen = false;
    l.wavePlaying = false;
    l.waveDurationMs = 0;
    l.wavePosMs = 0;
}

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
    if (!udpPortFree(bindAddress, sipPort)) return fail(EngineError::PortInUse);

    QString dir = options.dataDir.isEmpty() ? QDir::tempPath() + QStringLiteral("/corvid-engine") : options.dataDir;
    dir = QDir::cleanPath(QDir(dir).absolutePath());
    if (!QDir().mkpath(dir) || !QDir().mkpath(dir + QStringLiteral("/recording"))) return fail(EngineError::TaskWindow);
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

    // The library reads and rewrites its configuration file: start from a fresh one each time.
    const QString rcPath = dataDir + QStringLiteral("engine.rc");
    QFile::remove(rcPath);
    {
        QFile rc(rcPath);
        if (!rc.open(QIODevice::WriteOnly)) return fail(EngineError::TaskWindow);
        QByteArray text = "[sip]\nsip_random_port=0\n";
        if (!bindAddress.isEmpty()) text += "bind_address=" + bindAddress.toLatin1() + "\n";
        if (isLoopbackHost(bindAddress)) text += "guess_hostname=0\n";
        text += "[video]\nenabled=0\ncapture=0\ndisplay=0\n";
        text += "[misc]\nmax_calls=" + QByteArray::number(lineCount) + "\n";
        rc.write(text);
    }

    auto factory = lp::Factory::get();
    factory->setDataDir(str(dataDir));
    factory->setConfigDir(str(dataDir));
    // The sound library would load its plugins from the system folder, and the one installed there
    // is a video plugin built on Qt 5: loaded into this Qt 6 process it aborts it. No plugin is
    // needed for audio, so the engine points the library at an empty folder of its own.
    QDir().mkpath(dataDir + QStringLiteral("plugins"));
    factory->setMspluginsDir(str(dataDir + QStringLiteral("plugins/")));
    core = factory->createCore(str(rcPath), "", nullptr);
    if (!core) return fail(EngineError::TaskWindow);
    listener = std::make_shared<Listener>(this);
    core->addListener(listener);

    core->enableIpv6(false);
    core->enableVideoCapture(false);
    core->enableVideoDisplay(false);
    {
        auto policy = factory->createVideoActivationPolicy();
        policy->setAutomaticallyInitiate(false);
        policy->setAutomaticallyAccept(false);
        core->setVideoActivationPolicy(policy);
    }
    core->setMaxCalls(lineCount);
    core->setMediaEncryption(lp::MediaEncryption::None);
    core->enableKeepAlive(false);
    core->setUserAgent(str(userAgent), "");
    core->getImNotifPolicy()->clear();
    // The window plays its own ring-back tone (when the agent wants one) and rings for nothing:
    // the library's ring-back and ring stay silent.
    linphone_core_set_ringback(reinterpret_cast<LinphoneCore*>(core->cPtr()), nullptr);
    linphone_core_set_ring(reinterpret_cast<LinphoneCore*>(core->cPtr()), nullptr);
    core->removeSupportedTag("gruu");
    if (!outbound.isEmpty()) {
        // Nothing may be looked up: the proxy is given by address.
        core->setDnsServers({"127.0.0.1"});
        core->enableDnsSrv(false);
        core->enableDnsSearch(false);
    }

    // Sound devices: a sound card only when asked for and one that can both record and play exists;
    // otherwise the library reads a wave file as microphone and discards what it would play.
    files = !captureSoundDevice || devices(lp::AudioDevice::Capabilities::CapabilityRecord).empty() ||
            devices(lp::AudioDevice::Capabilities::CapabilityPlay).empty();
    if (files) {
        QString mic = options.playFile;
        if (mic.isEmpty() || readWaveInfo(mic, nullptr) != WaveCheck::Ok) {
            mic = dataDir + QStringLiteral("silence.wav");
            WaveInfo w;
            if (readWaveInfo(mic, &w) != WaveCheck::Ok || w.durationMs() < qint64(kSilentSeconds) * 1000)
                writeSilentWave(mic, 8000, kSilentSeconds);
        }
        core->setUseFiles(true);
        core->setPlayFile(str(mic));
    }

    applyCodecs();
    applyGains();
    core->enableEchoCancellation(echoCancel);
    linphone_core_enable_agc(reinterpret_cast<LinphoneCore*>(core->cPtr()), agc);
    core->enableMic(!micMuted);

    auto transports = factory->createTransports();
    transports->setUdpPort(sipPort);
    transports->setTcpPort(0);
    transports->setTlsPort(0);
    transports->setDtlsPort(0);
    core->setTransports(transports);

    // The account: identity user@domain; the proxy (or the outbound proxy) is both registrar and
    // the route of every request. Registration waits for RegisterToProxy.
    domain = dom;
    auto params = core->createAccountParams();
    auto identity = identityFor(user);
    if (!identity) {
        stop();
        return fail(EngineError::InvalidUri);
    }
    if (!displayName.trimmed().isEmpty()) identity->setDisplayName(str(displayName.trimmed()));
    auto serverAddress =
        factory->createAddress(str(QStringLiteral("sip:") + server + QStringLiteral(";transport=udp")));
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

    lines.assign(size_t(lineCount), Line());
    for (int i = 0; i < lineCount; ++i)
        lines[size_t(i)].recordPath = recordingDir() + QStringLiteral("line%1.wav").arg(i);
    audioPortSet = -1;

    if (core->start() != 0) {
        stop();
        return fail(EngineError::TaskWindow);
    }
    auto used = core->getTransportsUsed();
    if (!used || used->getUdpPort() != sipPort) {
        stop();
        return fail(EngineError::PortInUse);
    }
    port = sipPort;
    reg = Reg::None;
    if (localAddress.trimmed().isEmpty()) localAddress = bindAddress.isEmpty() ? primaryIpv4() : bindAddress;
    pump.start(pumpMs);
    return true;
}

void LinphoneEngine::Impl::stop() {
    if (!core) return;
    pump.stop();
    // Calls cut by going offline are ours: no far-end hang-up is reported for them.
    for (Line& l : lines)
        if (l.call) l.endedByUs = true;
    if (reg == Reg::Registered || reg == Reg::Registering) reg = Reg::Unregistering;
    regTryingSent = false;
    // Players are closed while the library still runs: a local player outliving the core would
    // close into a stopped sound system.
    for (Line& l : lines)
        forgetWave(l);
    core->stop(); // unregisters; its callbacks queue the unregistration events
    core->removeListener(listener);
    lines.clear();
    incoming.clear();
    contacts.clear();
    account.reset();
    core.reset();
    listener.reset();
    port = 0;
    reg = Reg::None;
}

std::vector<std::shared_ptr<lp::AudioDevice>> LinphoneEngine::Impl::devices(lp::AudioDevice::Capabilities cap) const {
    std::vector<std::shared_ptr<lp::AudioDevice>> out;
    if (!core) return out;
    for (const auto& dev : core->getExtendedAudioDevices())
        if (dev && dev->hasCapability(cap)) out.push_back(dev);
    return out;
}

std::shared_ptr<lp::Address> LinphoneEngine::Impl::identityFor(const QString& user) const {
    return lp::Factory::get()->createAddress(str(QStringLiteral("sip:") + user + QLatin1Char('@') + domain));
}

// Enabled codecs first, in the order they were enabled (the order of the offer), then the rest.
void LinphoneEngine::Impl::applyCodecs() {
    if (!core) return;
    std::list<std::shared_ptr<lp::PayloadType>> all = core->getAudioPayloadTypes();
    std::list<std::shared_ptr<lp::PayloadType>> ordered;
    for (int codec : codecOrder) {
        const std::string mime = str(codecMimeName(codec));
        for (auto it = all.begin(); it != all.end(); ++it) {
            if ((*it)->getMimeType() == mime && (*it)->getClockRate() == 8000) {
                (*it)->enable(true);
                ordered.push_back(*it);
                all.erase(it);
                break;
            }
        }
    }
    for (auto& pt : all) {
        pt->enable(false);
        ordered.push_back(pt);
    }
    core->setAudioPayloadTypes(ordered);
}

bool LinphoneEngine::Impl::anyCodecEnabled() {
    for (const auto& pt : core->getAudioPayloadTypes())
        if (pt->enabled()) return true;
    return false;
}

void LinphoneEngine::Impl::applyGains() {
    if (!core) return;
    core->setPlaybackGainDb(volumeToGainDb(speakerVolume));
    core->setMicGainDb(volumeToGainDb(micVolume) + (micBoost && micVolume > 0 ? kMicBoostDb : 0.0f));
}

// ------------------------------------------------------------------------------------------------

void LinphoneEngine::Impl::onCallState(const std::shared_ptr<lp::Call>& call, lp::Call::State state,
                                       const std::string&) {
    using S = lp::Call::State;
    if (state == S::IncomingReceived) {
        onIncoming(call);
        return;
    }
    int line = lineOf(call);
    if (line < 0 && placingLine >= 0 && !lines[size_t(placingLine)].call) {
        // The first states of an outgoing call are reported while the library creates it.
        line = placingLine;
        lines[size_t(line)].call = call;
    }
    if (line < 0 && state == lp::Call::State::OutgoingInit) line = takeOverTransferredLine(call);
    if (line < 0) {
        if (isFinished(state)) {
            for (auto it = incoming.begin(); it != incoming.end(); ++it) {
                if (it.value()->cPtr() == call->cPtr()) {
                    incoming.erase(it);
                    break;
                }
            }
        }
        return;
    }
    Line& l = lines[size_t(line)];
    switch (state) {
    case S::OutgoingInit:
    case S::OutgoingProgress:
        if (!l.connectingSent) {
            l.connectingSent = true;
            post([q = q, line] { emit q->CallConnecting(line); });
        }
        break;
    case S::OutgoingRinging:
    case S::OutgoingEarlyMedia: {
        // The library keeps the provisional reason phrase to itself; the standard one is given.
        const int code = state == S::OutgoingRinging ? 180 : 183;
        if (l.provisionalSent != code) {
            l.provisionalSent = code;
            const QString reason = provisionalReason(code);
            post([q = q, line, code, reason] { emit q->ProvisionalResponse(line, code, reason); });
        }
        break;
    }
    case S::StreamsRunning: {
        l.onHold = false;
        applyCallMutes(l);
        if (l.wantRecording) {
            l.wantRecording = false;
            call->startRecording();
            l.recording = true;
        }
        if (!l.connected) {
            l.connected = true;
            l.replacedCall.reset();
            auto params = call->getCurrentParams();
            auto pt = params ? params->getUsedAudioPayloadType() : nullptr;
            const int codec = pt ? codecNumber(qstr(pt->getMimeType())) : -1;
            const QString remote =
                call->getRemoteAddress() ? qstr(call->getRemoteAddress()->asStringUriOnly()) : QString();
            post([q = q, line, remote, codec] { emit q->CallConnected(line, remote, codec); });
        }
        break;
    }
    case S::Pausing:
    case S::Paused:
        // Our own hold, or the library's when another line's call starts.
        l.onHold = true;
        break;
    case S::End:
    case S::Error:
    case S::Released:
        finishCall(line);
        break;
    default:
        break;
    }
}

void LinphoneEngine::Impl::finishCall(int line) {
    Line& l = lines[size_t(line)];
    std::shared_ptr<lp::Call> call = l.call;
    if (!call) return;
    auto info = call->getErrorInfo();
    const int code = info ? info->getProtocolCode() : 0;
    QString phrase = info ? qstr(info->getPhrase()) : QString();

    stopRecordingOf(line);
    forgetWave(l);
    const bool byUs = l.endedByUs;
    const bool wasConnected = l.connected;
    l.call.reset();
    l.connectingSent = false;
    l.provisionalSent = 0;
    l.connected = false;
    l.endedByUs = false;
    l.onHold = false;
    l.callInband = false;
    // A call placed for a transfer the far end asked for has failed: the library takes the call it
    // was to replace off hold again, and that call is the line's call once more.
    std::shared_ptr<lp::Call> replaced = std::move(l.replacedCall);
    l.replacedCall.reset();
    if (replaced && !isFinished(replaced->getState())) {
        l.call = replaced;
        l.connected = true;
        l.connectingSent = true;
        const auto state = replaced->getState();
        l.onHold = state == lp::Call::State::Paused || state == lp::Call::State::Pausing;
    }
    if (byUs) return;
    if (wasConnected) {
        post([q = q, line] { emit q->CallHungUp(line); });
        return;
    }
    // A call that ends before it was connected failed. The final response is routed by its status
    // code: a 603 ends the call in the library's End state, a 486 in its Error state.
    switch (classifyStatus(code)) {
    case ResponseClass::Redirection:
        post([q = q, line, code, phrase] { emit q->RedirectionResponse(line, code, phrase, QString()); });
        break;
    case ResponseClass::RequestFailure:
        post([q = q, line, code, phrase] { emit q->RequestFailureResponse(line, code, phrase); });
        break;
    case ResponseClass::ServerFailure:
        post([q = q, line, code, phrase] { emit q->ServerFailureResponse(line, code, phrase); });
        break;
    case ResponseClass::GlobalFailure:
        post([q = q, line, code, phrase] { emit q->GlobalFailureResponse(line, code, phrase); });
        break;
    case ResponseClass::None:
        break;
    }
    post([q = q, line] { emit q->CallFailed(line); });
}

void LinphoneEngine::Impl::onIncoming(const std::shared_ptr<lp::Call>& call) {
    if (dnd) {
        call->decline(lp::Reason::Busy);
        return;
    }
    if (forwarding) {
        auto target = core->interpretUrl(str(forwardTarget));
        if (target && call->redirectTo(target) == 0) return;
    }
    int free = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].open && !lines[i].call) {
            free = int(i);
            break;
        }
    }
    if (free < 0) {
        call->decline(lp::Reason::Busy);
        return;
    }
    const QString callId = call->getCallLog() ? qstr(call->getCallLog()->getCallId()) : QString();
    if (callId.isEmpty()) {
        call->decline(lp::Reason::Busy);
        return;
    }
    incoming.insert(callId, call);
    auto from = call->getRemoteAddress();
    auto to = call->getToAddress();
    const QString number = from ? qstr(from->getUsername()) : QString();
    const QString name = from ? qstr(from->getDisplayName()) : QString();
    const QString called = to ? qstr(to->getUsername()) : QString();
    const QString lineText = QString::number(free);
    post([q = q, callId, lineText, number, name, called] {
        emit q->IncomingCall(callId, lineText, number, name, called);
    });
}

void LinphoneEngine::Impl::onRegistration(lp::RegistrationState state, const std::string& message) {
    auto info = account ? account->getErrorInfo() : nullptr;
    const int code = info ? info->getProtocolCode() : 0;
    QString phrase = info ? qstr(info->getPhrase()) : QString();
    if (phrase.isEmpty()) phrase = qstr(message);

    switch (state) {
    case lp::RegistrationState::Progress:
        if (regTryingSent) break;
        regTryingSent = true;
        if (reg == Reg::Registering)
            post([q = q] { emit q->RegisterTrying(); });
        else if (reg == Reg::Registered)
            post([q = q] { emit q->ReregisterTrying(); });
        else if (reg == Reg::Unregistering)
            post([q = q] { emit q->UnregisterTrying(); });
        break;
    case lp::RegistrationState::Ok:
        if (reg == Reg::Registering) {
            reg = Reg::Registered;
            post([q = q] { emit q->RegisterSucceeded(); });
        } else if (reg == Reg::Registered) {
            // A refresh shows no progress in the library: its start is reported with its outcome.
            if (!regTryingSent) post([q = q] { emit q->ReregisterTrying(); });
            post([q = q] { emit q->ReregisterSucceeded(); });
        }
        regTryingSent = false;
        break;
    case lp::RegistrationState::Failed:
        if (reg == Reg::Registering) {
            post([q = q, code, phrase] { emit q->RegisterFailed(code, phrase); });
        } else if (reg == Reg::Registered) {
            if (!regTryingSent) post([q = q] { emit q->ReregisterTrying(); });
            post([q = q, code, phrase] { emit q->ReregisterFailed(code, phrase); });
        } else if (reg == Reg::Unregistering) {
            reg = Reg::None;
            post([q = q] { emit q->UnregisterFailed(); });
        }
        regTryingSent = false;
        break;
    case lp::RegistrationState::Cleared:
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

void LinphoneEngine::Impl::onTransferState(const std::shared_ptr<lp::Call>& call, lp::Call::State state) {
    const int line = lineOf(call);
    if (line < 0) return;
    if (state == lp::Call::State::Connected) {
        // The library ends the transferred call itself; that end is the transfer's, not the far end's.
        lines[size_t(line)].endedByUs = true;
        post([q = q, line] { emit q->TransferAccepted(line); });
    } else if (state == lp::Call::State::Error) {
        auto info = call->getErrorInfo();
        const int code = info ? info->getProtocolCode() : 0;
        QString reason = info ? qstr(info->getPhrase()) : QString();
        if (reason.isEmpty()) reason = QStringLiteral("Transfer failed");
        post([q = q, line, code, reason] { emit q->TransferFailed(line, code, reason); });
    }
}

void LinphoneEngine::Impl::onPlayerEof(int line) {
    if (line < 0 || line >= int(lines.size())) return;
    Line& l = lines[size_t(line)];
    if (!l.waveOpen) return;
    l.wavePlaying = false;
    l.wavePosMs = l.waveDurationMs;
    stopListening(l);
    post([q = q, line] { emit q->PlayWaveDone(line); });
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
    if (d->account->setParams(params) != 0) {
        d->reg = Impl::Reg::None;
        return d->fail(EngineError::RegisterRequest);
    }
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
    return d->checkLine(line) && bool(d->lines[size_t(line)].call);
}

// --- calls ---------------------------------------------------------------------------------------

bool LinphoneEngine::PlaceCall(int line, QString& number, int inputDevice, int outputDevice) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call) return d->fail(EngineError::LineBusy);
    const QString target = dialTarget(number);
    if (target.isEmpty()) return d->fail(EngineError::InvalidUri);
    // The library sets up one outgoing call at a time ("sound resources locked"): a second one is
    // refused until the first is answered or has failed.
    for (const auto& other : d->core->getCalls())
        if (isSettingUp(other->getState())) return d->fail(EngineError::ConnectRequest);
    if (!d->anyCodecEnabled()) return d->fail(EngineError::Sdp);
    std::shared_ptr<lp::AudioDevice> input, output;
    if (!d->pickDevices(inputDevice, outputDevice, input, output)) return false;
    auto address = d->core->interpretUrl(str(target));
    if (!address) return d->fail(EngineError::InvalidUri);

    d->collectRecording(line);
    d->setAudioPort(l.rtpPort);
    // The DTMF method is taken from the core when the call's offer is made.
    d->core->setUseRfc2833ForDtmf(!l.forceInband);
    d->core->setUseInfoForDtmf(false);
    auto params = d->core->createCallParams(nullptr);
    params->enableVideo(false);
    params->setRecordFile(str(l.recordPath));
    l.callInband = l.forceInband;
    l.connectingSent = false;
    l.provisionalSent = 0;
    l.connected = false;
    l.endedByUs = false;
    l.onHold = false;
    d->placingLine = line;
    auto call = d->core->inviteAddressWithParams(address, params);
    d->placingLine = -1;
    d->core->setUseRfc2833ForDtmf(true);
    if (!call) {
        // Refused before anything was sent: no event follows.
        l.call.reset();
        l.connectingSent = false;
        return d->fail(EngineError::ConnectRequest);
    }
    number = target;
    d->wake();
    // A call that failed while it was created has left the line already; its events are queued.
    if (!l.call) return true;
    l.call = call;
    if (input) call->setInputAudioDevice(input);
    if (output) call->setOutputAudioDevice(output);
    return true;
}

bool LinphoneEngine::EndCall(int line) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    // A line whose call has already ended (a failed call, a far-end hang-up) has nothing to end.
    if (!l.call) return true;
    l.endedByUs = true;
    d->stopRecordingOf(line);
    auto call = l.call;
    if (isFinished(call->getState())) {
        d->finishCall(line);
        return true;
    }
    if (call->terminate() != 0) {
        l.endedByUs = false;
        return d->fail(EngineError::DisconnectRequest);
    }
    return true;
}

bool LinphoneEngine::AnswerCall(int line, const QString& callId, int inputDevice, int outputDevice) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call) return d->fail(EngineError::LineBusy);
    auto call = d->incoming.value(callId);
    if (!call || call->getState() != lp::Call::State::IncomingReceived) return d->fail(EngineError::InvalidCallId);
    d->collectRecording(line);
    auto params = d->core->createCallParams(call);
    params->enableVideo(false);
    params->setRecordFile(str(l.recordPath));
    std::shared_ptr<lp::AudioDevice> input, output;
    if (!d->pickDevices(inputDevice, outputDevice, input, output)) return false;
    if (input) call->setInputAudioDevice(input);
    if (output) call->setOutputAudioDevice(output);
    d->incoming.remove(callId);
    l.call = call;
    l.connectingSent = true;
    l.provisionalSent = 0;
    l.connected = false;
    l.endedByUs = false;
    l.onHold = false;
    if (call->acceptWithParams(params) != 0) {
        l.call.reset();
        return d->fail(EngineError::ConnectRequest);
    }
    d->wake();
    return true;
}

bool LinphoneEngine::RefuseCall(const QString& callId) {
    if (!d->checkStarted()) return false;
    auto call = d->incoming.take(callId);
    if (!call) return d->fail(EngineError::InvalidCallId);
    if (call->decline(lp::Reason::Declined) != 0) return d->fail(EngineError::DisconnectRequest);
    return true;
}

bool LinphoneEngine::HoldCall(int line) {
    if (!d->checkCall(line)) return false;
    auto call = d->lines[size_t(line)].call;
    const auto state = call->getState();
    if (state == lp::Call::State::Paused || state == lp::Call::State::Pausing) return true;
    if (state != lp::Call::State::StreamsRunning && state != lp::Call::State::PausedByRemote)
        return d->fail(EngineError::NotInVoiceSession);
    if (call->pause() != 0) return d->fail(EngineError::NotInVoiceSession);
    d->lines[size_t(line)].onHold = true;
    return true;
}

bool LinphoneEngine::ResumeCall(int line) {
    if (!d->checkCall(line)) return false;
    auto call = d->lines[size_t(line)].call;
    const auto state = call->getState();
    if (state == lp::Call::State::StreamsRunning || state == lp::Call::State::Resuming) return true;
    if (state != lp::Call::State::Paused) return d->fail(EngineError::NotInVoiceSession);
    if (call->resume() != 0) return d->fail(EngineError::NotInVoiceSession);
    return true;
}

bool LinphoneEngine::TransferCall(int line, const QString& number) {
    if (!d->checkCall(line)) return false;
    const QString target = dialTarget(number);
    if (target.isEmpty()) return d->fail(EngineError::InvalidUri);
    auto call = d->lines[size_t(line)].call;
    const auto state = call->getState();
    if (state != lp::Call::State::StreamsRunning && state != lp::Call::State::Paused &&
        state != lp::Call::State::PausedByRemote)
        return d->fail(EngineError::NotInVoiceSession);
    auto address = d->core->interpretUrl(str(target));
    if (!address) return d->fail(EngineError::InvalidUri);
    if (call->transferTo(address) != 0) return d->fail(EngineError::ConnectRequest);
    return true;
}

bool LinphoneEngine::JoinLines(int lineA, int lineB) {
    if (!d->checkCall(lineA) || !d->checkCall(lineB)) return false;
    if (lineA == lineB) return d->fail(EngineError::InvalidValue);
    if (!d->checkGrammars()) return false;
    auto a = d->lines[size_t(lineA)].call;
    auto b = d->lines[size_t(lineB)].call;
    for (const auto& call : {a, b}) {
        const auto s = call->getState();
        if (s != lp::Call::State::StreamsRunning && s != lp::Call::State::Paused &&
            s != lp::Call::State::PausedByRemote)
            return d->fail(EngineError::NotInVoiceSession);
    }
    // A local conference mixes both calls with the agent.
    auto conference = d->core->getConference();
    if (!conference) {
        auto params = d->core->createConferenceParams();
        params->enableVideo(false);
        params->enableLocalParticipant(true);
        conference = d->core->createConferenceWithParams(params);
    }
    if (!conference) return d->fail(EngineError::ConnectRequest);
    // addParticipant answers 1 on success in this library version: only -1 is a failure.
    for (const auto& call : {a, b}) {
        if (call->getConference()) continue;
        if (int(conference->addParticipant(call)) < 0) return d->fail(EngineError::ConnectRequest);
    }
    d->lines[size_t(lineA)].onHold = false;
    d->lines[size_t(lineB)].onHold = false;
    return true;
}

void LinphoneEngine::DndOn() {
    d->dnd = true;
}
void LinphoneEngine::DndOff() {
    d->dnd = false;
}

bool LinphoneEngine::ForwardCalls(bool enable, const QString& number) {
    if (!d->checkStarted()) return false;
    if (!enable) {
        d->forwarding = false;
        return true;
    }
    const QString target = dialTarget(number);
    if (target.isEmpty() || !d->core->interpretUrl(str(target))) return d->fail(EngineError::InvalidUri);
    d->forwarding = true;
    d->forwardTarget = target;
    return true;
}

// --- DTMF ----------------------------------------------------------------------------------------

bool LinphoneEngine::SendDtmfDigit(int line, const QString& digit) {
    if (!d->checkCall(line)) return false;
    const char c = dtmfDigit(digit);
    if (!c) return d->fail(EngineError::InvalidValue);
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call->getState() != lp::Call::State::StreamsRunning) return d->fail(EngineError::NotInVoiceSession);
    // The core's flags choose the method when a digit is sent: set them for this call.
    d->core->setUseRfc2833ForDtmf(!l.callInband);
    d->core->setUseInfoForDtmf(false);
    const auto status = l.call->sendDtmf(c);
    d->core->setUseRfc2833ForDtmf(true);
    if (status != 0) return d->fail(EngineError::NotInVoiceSession);
    return true;
}

void LinphoneEngine::ForceInbandDtmfOn(int line) {
    if (d->checkLine(line)) d->lines[size_t(line)].forceInband = true;
}

void LinphoneEngine::ForceInbandDtmfOff(int line) {
    if (d->checkLine(line)) d->lines[size_t(line)].forceInband = false;
}

// --- audio ---------------------------------------------------------------------------------------

int LinphoneEngine::InputDeviceCount() {
    if (!d->checkStarted()) return 0;
    return int(d->devices(lp::AudioDevice::Capabilities::CapabilityRecord).size());
}

int LinphoneEngine::OutputDeviceCount() {
    if (!d->checkStarted()) return 0;
    return int(d->devices(lp::AudioDevice::Capabilities::CapabilityPlay).size());
}

QString LinphoneEngine::InputDeviceName(int index) {
    return d->deviceName(lp::AudioDevice::Capabilities::CapabilityRecord, index);
}

QString LinphoneEngine::OutputDeviceName(int index) {
    return d->deviceName(lp::AudioDevice::Capabilities::CapabilityPlay, index);
}

// The global mutes are kept also while the engine is stopped (the answer is then False, code 10):
// a mute box ticked while offline still mutes once the engine runs.
bool LinphoneEngine::SetMicMute(bool mute) {
    d->micMuted = mute;
    if (!d->checkStarted()) return false;
    d->core->enableMic(!mute);
    for (Impl::Line& l : d->lines)
        d->applyCallMutes(l);
    return true;
}

bool LinphoneEngine::SetSpeakerMute(bool mute) {
    d->speakerMuted = mute;
    if (!d->checkStarted()) return false;
    for (Impl::Line& l : d->lines)
        d->applyCallMutes(l);
    return true;
}

bool LinphoneEngine::MuteLineSpeaker(int line, bool mute) {
    if (!d->checkOpenLine(line)) return false;
    d->lines[size_t(line)].speakerMuted = mute;
    d->applyCallMutes(d->lines[size_t(line)]);
    return true;
}

bool LinphoneEngine::MuteLineMic(int line, bool mute) {
    if (!d->checkOpenLine(line)) return false;
    d->lines[size_t(line)].micMuted = mute;
    d->applyCallMutes(d->lines[size_t(line)]);
    return true;
}

int LinphoneEngine::MicVolume() {
    return d->micVolume;
}
int LinphoneEngine::SpeakerVolume() {
    return d->speakerVolume;
}

bool LinphoneEngine::SetMicVolume(int volume) {
    if (!d->checkStarted()) return false;
    if (volume < 0 || volume > kVolumeMax) return d->fail(EngineError::InvalidValue);
    d->micVolume = volume;
    d->applyGains();
    return true;
}

bool LinphoneEngine::SetSpeakerVolume(int volume) {
    if (!d->checkStarted()) return false;
    if (volume < 0 || volume > kVolumeMax) return d->fail(EngineError::InvalidValue);
    d->speakerVolume = volume;
    d->applyGains();
    return true;
}

int LinphoneEngine::MicLevel() {
    if (!d->started()) return 0;
    auto call = d->meteredCall();
    return call ? levelFromDbm0(call->getRecordVolume()) : 0;
}

int LinphoneEngine::SpeakerLevel() {
    if (!d->started()) return 0;
    auto call = d->meteredCall();
    return call ? levelFromDbm0(call->getPlayVolume()) : 0;
}

void LinphoneEngine::MicBoostOn() {
    d->micBoost = true;
    d->applyGains();
}

void LinphoneEngine::MicBoostOff() {
    d->micBoost = false;
    d->applyGains();
}

bool LinphoneEngine::IsMicBoostOn() {
    return d->micBoost;
}

bool LinphoneEngine::AgcOn(int level) {
    // The library's gain control has no target level: any positive level switches it on. It acts
    // on the microphone path of calls set up from now on.
    if (!d->checkStarted()) return false;
    if (level <= 0 || level > 32767) return d->fail(EngineError::InvalidValue);
    d->agc = true;
    linphone_core_enable_agc(reinterpret_cast<LinphoneCore*>(d->core->cPtr()), true);
    return true;
}

void LinphoneEngine::AgcOff() {
    d->agc = false;
    if (d->core) linphone_core_enable_agc(reinterpret_cast<LinphoneCore*>(d->core->cPtr()), false);
}

void LinphoneEngine::EchoCancelOn() {
    d->echoCancel = true;
    if (d->core) d->core->enableEchoCancellation(true);
}

void LinphoneEngine::EchoCancelOff() {
    d->echoCancel = false;
    if (d->core) d->core->enableEchoCancellation(false);
}

void LinphoneEngine::DeselectAllCodecs() {
    d->codecOrder.clear();
    d->applyCodecs();
}

bool LinphoneEngine::EnableCodec(int codec) {
    if (!d->checkStarted()) return false;
    const QString mime = codecMimeName(codec);
    if (mime.isEmpty() || !d->core->getPayloadType(str(mime), 8000, -1)) return d->fail(EngineError::CodecUnsupported);
    if (!d->codecOrder.contains(codec)) d->codecOrder << codec;
    d->applyCodecs();
    return true;
}

bool LinphoneEngine::DisableCodec(int codec) {
    if (!d->checkStarted()) return false;
    const QString mime = codecMimeName(codec);
    if (mime.isEmpty() || !d->core->getPayloadType(str(mime), 8000, -1)) return d->fail(EngineError::CodecUnsupported);
    d->codecOrder.removeAll(codec);
    d->applyCodecs();
    return true;
}

// --- recording -----------------------------------------------------------------------------------

bool LinphoneEngine::StartRecording(int line, int, bool) {
    // Mode and flag are fixed values of the window's call: the library records both sides mixed.
    if (!d->checkCall(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.recording || l.wantRecording) return true;
    if (l.call->getState() == lp::Call::State::StreamsRunning) {
        // A new start writes a new part: what was recorded before is kept in the parts.
        d->collectRecording(line);
        l.call->startRecording();
        l.recording = true;
    } else {
        l.wantRecording = true; // starts when the media run (after connecting or resuming)
    }
    return true;
}

bool LinphoneEngine::StopRecording(int line) {
    if (!d->checkOpenLine(line)) return false;
    d->stopRecordingOf(line);
    return true;
}

void LinphoneEngine::ResetRecording(int line) {
    if (!d->checkOpenLine(line)) return;
    Impl::Line& l = d->lines[size_t(line)];
    const bool wasRecording = l.recording;
    d->stopRecordingOf(line);
    for (const QString& part : l.parts)
        QFile::remove(part);
    l.parts.clear();
    // Emptying the buffer does not end a running recording: it goes on into a fresh part.
    if (wasRecording && l.call && l.call->getState() == lp::Call::State::StreamsRunning) {
        l.call->startRecording();
        l.recording = true;
    }
}

bool LinphoneEngine::SaveRecording(int line, const QString& path) {
    if (!d->checkOpenLine(line)) return false;
    if (path.trimmed().isEmpty() || QFileInfo(path).isDir() || !QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return d->fail(EngineError::WaveWrite);
    Impl::Line& l = d->lines[size_t(line)];
    const bool wasRecording = l.recording;
    if (wasRecording) d->stopRecordingOf(line);
    const WaveJoin result = joinWaves(l.parts, path);
    if (wasRecording && l.call && l.call->getState() == lp::Call::State::StreamsRunning) {
        l.call->startRecording();
        l.recording = true;
    }
    switch (result) {
    case WaveJoin::Ok:
        return true;
    case WaveJoin::NothingToJoin:
        return d->fail(EngineError::RecordingInit);
    case WaveJoin::WriteFailed:
        break;
    }
    return d->fail(EngineError::WaveWrite);
}

bool LinphoneEngine::RecordingLineOp(int line) {
    if (!d->checkLine(line)) return false;
    const Impl::Line& l = d->lines[size_t(line)];
    return l.recording || l.wantRecording;
}

// --- wave playback -------------------------------------------------------------------------------

bool LinphoneEngine::PlayWaveOpen(int line, const QString& path) {
    if (!d->checkOpenLine(line)) return false;
    WaveInfo info;
    switch (readWaveInfo(path, &info)) {
    case WaveCheck::Ok:
        break;
    case WaveCheck::CannotOpen:
        return d->fail(EngineError::WaveOpen);
    case WaveCheck::ReadError:
        return d->fail(EngineError::WaveRead);
    case WaveCheck::Unsupported:
        return d->fail(EngineError::WaveFormat);
    }
    if (!d->checkCall(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    // The call's player crashes when it is opened before the media run.
    if (l.call->getState() != lp::Call::State::StreamsRunning) return d->fail(EngineError::NotInVoiceSession);
    auto player = l.call->getPlayer();
    if (!player) return d->fail(EngineError::NotInVoiceSession);
    if (l.waveOpen && l.player) l.player->close();
    d->forgetWave(l);
    if (player->open(str(path)) != 0) return d->fail(EngineError::WaveOpen);
    l.player = player;
    l.playerListener = std::make_shared<Impl::PlayerEof>(d.get(), line);
    player->addListener(l.playerListener);
    l.waveOpen = true;
    l.wavePath = path;
    l.waveDurationMs = info.durationMs();
    l.wavePosMs = 0;
    return true;
}

bool LinphoneEngine::PlayWaveStart(int line, bool listen) {
    // The wave is mixed into what the far end hears; with listen the agent hears it too.
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (!l.waveOpen || !l.player) return d->fail(EngineError::WaveOpen);
    if (!listen) d->stopListening(l);
    if (l.wavePlaying) {
        if (listen && !l.localPlayer) d->startListening(l);
        return true;
    }
    if (l.wavePosMs >= l.waveDurationMs) {
        // Played to its end: start again from the beginning.
        l.player->seek(0);
        l.wavePosMs = 0;
    }
    if (l.player->start() != 0) return d->fail(EngineError::WaveRead);
    l.wavePlaying = true;
    l.waveClock.start();
    if (listen) d->startListening(l);
    return true;
}

bool LinphoneEngine::PlayWavePause(int line) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (!l.waveOpen || !l.player) return d->fail(EngineError::WaveOpen);
    if (!l.wavePlaying) return true;
    l.wavePosMs = d->wavePosition(l);
    l.wavePlaying = false;
    if (l.localPlayer) l.localPlayer->pause();
    if (l.player->pause() != 0) return d->fail(EngineError::WaveRead);
    return true;
}

bool LinphoneEngine::PlayWaveStop(int line) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (!l.waveOpen || !l.player) return d->fail(EngineError::WaveOpen);
    // Stopping rewinds: the file stays open and the next start plays it from the beginning.
    if (l.wavePlaying) l.player->pause();
    l.wavePlaying = false;
    l.player->seek(0);
    l.wavePosMs = 0;
    d->stopListening(l);
    return true;
}

bool LinphoneEngine::PlayWavePosition(int line, int positionMs) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (!l.waveOpen || !l.player) return d->fail(EngineError::WaveOpen);
    // Positions outside the file are brought to its start or its end.
    const qint64 pos = qBound<qint64>(0, qint64(positionMs), l.waveDurationMs);
    if (l.player->seek(int(pos)) != 0) return d->fail(EngineError::WaveRead);
    l.wavePosMs = pos;
    if (l.wavePlaying) l.waveClock.start();
    if (l.localPlayer) l.localPlayer->seek(int(pos));
    return true;
}

int LinphoneEngine::PlayWaveGetPosition(int line) {
    if (!d->checkOpenLine(line)) return 0;
    const Impl::Line& l = d->lines[size_t(line)];
    if (!l.waveOpen) {
        d->fail(EngineError::WaveOpen);
        return 0;
    }
    return int(d->wavePosition(l));
}

bool LinphoneEngine::IsLinePlayingWave(int line) {
    if (!d->checkLine(line)) return false;
    const Impl::Line& l = d->lines[size_t(line)];
    return l.waveOpen && l.wavePlaying;
}

// --- chat and presence ---------------------------------------------------------------------------

bool LinphoneEngine::ChatAddContact(const QString& userName) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    const QString user = chatUserName(userName);
    if (user.isEmpty() || user != userName.trimmed()) return d->fail(EngineError::InvalidUri);
    if (d->contacts.contains(user)) return true;
    auto address = d->identityFor(user);
    if (!address) return d->fail(EngineError::InvalidUri);
    auto list = d->core->getDefaultFriendList();
    auto contact = list->findFriendByAddress(address);
    if (!contact) {
        contact = d->core->createFriendWithAddress(address->asStringUriOnly());
        if (!contact) return d->fail(EngineError::InvalidUri);
        contact->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
        contact->enableSubscribes(true);
        if (list->addFriend(contact) != lp::FriendList::Status::OK) return d->fail(EngineError::InvalidValue);
    } else {
        contact->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
        contact->enableSubscribes(true);
    }
    d->contacts.insert(user, contact);
    return true;
}

bool LinphoneEngine::ChatRemoveContact(const QString& userName) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    // The window passes the entry as shown, perhaps with the presence text after the name.
    const QString user = chatUserName(userName);
    if (user.isEmpty()) return d->fail(EngineError::InvalidUri);
    auto contact = d->contacts.take(user);
    if (!contact) return d->fail(EngineError::InvalidValue);
    contact->enableSubscribes(false);
    d->core->getDefaultFriendList()->removeFriend(contact);
    return true;
}

bool LinphoneEngine::ChatSetStatus(int status) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    auto& core = d->core;
    switch (status) {
    case Presence::Online:
        core->setConsolidatedPresence(lp::ConsolidatedPresence::Online);
        return true;
    case Presence::Offline:
        core->setConsolidatedPresence(lp::ConsolidatedPresence::Offline);
        return true;
    case Presence::Away:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::Away, ""));
        return true;
    case Presence::OnThePhone:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::OnThePhone, ""));
        return true;
    case Presence::Busy:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::Busy, ""));
        return true;
    default:
        return d->fail(EngineError::InvalidValue);
    }
}

bool LinphoneEngine::ChatSendMessage(const QString& userName, const QString& text, int, int) {
    // The two numbers are fixed values of the window's call; a message is plain text.
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    const QString user = chatUserName(userName);
    if (user.isEmpty() || user != userName.trimmed()) return d->fail(EngineError::InvalidUri);
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxChatBytes) return d->fail(EngineError::InvalidValue);
    auto address = d->identityFor(user);
    if (!address) return d->fail(EngineError::InvalidUri);
    auto room = d->core->getChatRoom(address);
    if (!room) return d->fail(EngineError::ConnectRequest);
    auto message = room->createMessageFromUtf8(std::string(utf8.constData(), size_t(utf8.size())));
    if (!message) return d->fail(EngineError::ConnectRequest);
    message->send();
    return true;
}

} // namespace corvid
