#pragma once
// The private part of the liblinphone engine, shared by its source files: the line table, the
// settings kept across stop and start, and the running core. Only the engine's own files include
// this header.
//
//   LinphoneEngine.cpp  engine life, registration, lines
//   LinphoneCalls.cpp   calls: place, answer, end, hold, transfer, join, DND, forwarding, DTMF, call states
//   LinphoneMedia.cpp   devices, volumes, mutes, codecs, recording, wave playback
//   LinphoneChat.cpp    chat and presence

#include "engine/linphone/EngineRules.h"
#include "engine/linphone/LinphoneEngine.h"
#include "engine/linphone/RecordingParts.h"
#include "engine/linphone/RegistrarPing.h"
#include "engine/WaveFile.h"
#include "engine/linphone/TlsCheck.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <bctoolbox/logging.h>
#include <linphone++/linphone.hh>

#include <cstdarg>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace corvid {

namespace lp = linphone;

namespace engine_impl {

inline std::string str(const QString& s) {
    return s.toStdString();
}
inline QString qstr(const std::string& s) {
    return QString::fromStdString(s);
}

inline bool isSettingUp(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::OutgoingInit || s == S::OutgoingProgress || s == S::OutgoingRinging || s == S::OutgoingEarlyMedia;
}

inline bool isFinished(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::End || s == S::Error || s == S::Released;
}

// A call that can join a conference: running or held.
inline bool isSettled(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::StreamsRunning || s == S::Paused || s == S::PausedByRemote;
}

// A connected call in the middle of a change (a hold, a resume, a re-INVITE): settled soon.
inline bool isChanging(lp::Call::State s) {
    using S = lp::Call::State;
    return s == S::Connected || s == S::Pausing || s == S::Resuming || s == S::Updating || s == S::UpdatedByRemote;
}

} // namespace engine_impl

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
        // Ends of the line's calls posted to the window and not yet delivered: the line is busy
        // until the window has heard them, or a call placed meanwhile would be taken for the call
        // that ended (its refusal would end the new call two seconds later).
        int unheardEnds = 0;
        bool onHold = false;
        bool answered = false;  // the far end answered (the media may not run yet)
        bool encrypted = false; // the connected call's media are SRTP
        bool placedInClear = false; // placed again without SRTP after an answer in clear

        RecordingParts buffer; // what the line's call has recorded
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

        // The sound-device watch: RTP packets sent at the last check, checks since one was sent,
        // and a hold made only to restart the call's media (resumed as soon as it holds).
        CallQuality quality; // the line's call as CallStats answers it (kept after the call ends)

        quint64 rtpSent = 0;
        int rtpStillChecks = 0;
        bool resumeAfterHold = false;

        // The line's call as placed, and a call the proxy refused because it did not know this
        // phone: placed once more after one REGISTER (retrying), its refusal kept until then.
        QString target;
        int inputDevice = -1, outputDevice = -1;
        bool retried = false;
        bool retrying = false;
        int refusedCode = 0;
        QString refusedPhrase;
        // While the library is away (a switch under way, or given up): the window ended the call
        // (ended once the library is back), or the call was given up with the library and the
        // window has not ended it yet.
        bool endWanted = false;
        bool stranded = false;
        // A transfer sent from this line: its target, and whether the far end took it (it reports
        // the new call's progress only after accepting the REFER).
        QString transferTarget;
        bool transferTaken = false;
    };
    // What the SIP layer said last about a transfer, read from its message log while a transfer
    // waits (the library keeps the status codes to itself): the REFER's refusal, or the final
    // answer to the new call that the far end reports (its sipfrag).
    struct TransferAnswer {
        int code = 0;
        QString reason;
    };
    TransferAnswer referRefusal, targetAnswer;
    int transfersWaiting = 0;
    void watchTransferMessages(bool on);
    static Impl* transferWatcher; // the engine whose transfer waits
    static void readTransferMessage(void*, const char* domain, BctbxLogLevel, const char* format, va_list args);

    LinphoneEngine* q;
    Options options;
    int lastError = EngineError::None;

    // Kept across stop and start: the window sets these once.
    QString userAgent = QStringLiteral("CorvidDialer");
    int pumpMs = 20;
    // An idle phone is pumped every kIdlePumpMs; with a watch on its SIP socket (UDP) only every
    // kWatchedIdlePumpMs, since anything that comes in wakes the pump at once.
    static constexpr int kIdlePumpMs = 100;
    static constexpr int kWatchedIdlePumpMs = 1000;
    // A call that runs needs the library only for what comes in on the watched SIP socket (it
    // wakes the pump) and for its media events, which wait at most kCallPumpMs.
    static constexpr int kCallPumpMs = 100;
    std::unique_ptr<QSocketNotifier> sipWatch;
    void watchSipSocket();
    bool dnd = false;
    bool forwarding = false;
    QString forwardTarget;
    int micVolume = engine_rules::kVolumeUnity;
    int speakerVolume = engine_rules::kVolumeUnity;
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
    SipSecurity activeSecurity; // what the running core was started with
    QString serverHostPort;     // the proxy (or outbound proxy) the account talks to
    // The name TLS verifies: the proxy's host name, also when SipOutboundProxy reaches it by address.
    QString tlsName;
    TlsCheck tlsCheck;          // explains a failed TLS connection to it
    bool tlsFailureSaid = false; // the reason is said once per registration, not at every retry
    int port = 0;
    // The gate on the SIP port (SipGate.h): whether it is on, the sources it takes (the server's
    // addresses, then SipAllowFrom), and the server's host name, looked up again (at most every
    // kGateLookupMs) when a registration ends so that a moved server is followed. The library makes
    // its SIP socket anew when the network comes back: the gate is put on again then, and checked
    // at every registration event.
    bool gated = false;
    std::vector<Ipv4Net> gateAllowed;
    QString gateHost;
    QElapsedTimer gateLookup;
    static constexpr int kGateLookupMs = 60000;
    bool listensForSip() const {
        return activeSecurity.transport == SipSecurity::Transport::Udp || !activeSecurity.allowFrom.isEmpty();
    }
    std::vector<int> sipSockets() const;
    void lookUpGateHost();
    bool setGate(const std::vector<Ipv4Net>& serverAddresses, bool first);
    void keepGate();
    std::vector<int> portClaims; // claims on the SIP and RTP ports in use (claimUdpPort), released at stop
    bool files = false;
    int audioPortSet = -1;
    int placingLine = -1; // the line whose call the library is creating right now
    bool callHistoryToDrop = false; // a call ended: its history entry goes after this pump
    bool grammarsPresent = true;
    std::vector<Line> lines;
    enum class Reg { None, Registering, Registered, Unregistering } reg = Reg::None;
    bool regTryingSent = false;
    // The registrar check: while registered the registration is refreshed every
    // registerEveryMs() (every kDoubtProbeMs while the registrar is silent); a REGISTER left
    // unanswered for kNoAnswerMs makes the registrar silent (ServerNotAnswering, once). On UDP the
    // STUN keep-alive (registrarPing, every pingMs()) checks a proxy that answers it, and then the
    // registration is refreshed only every refreshMs(); a ping it leaves unanswered is checked at
    // once with a REGISTER. Between checks the keep-alives hold the NAT binding (and a TCP or TLS
    // connection) open at no cost to the proxy.
    static constexpr int kNoAnswerMs = 4000;
    static constexpr int kDoubtProbeMs = 3000;
    QElapsedTimer soundCheckClock;
    static constexpr int kSoundCheckMs = 1000;
    static constexpr int kSoundStillChecks = 3;
    // The switch to the file devices holds the calls on a helper thread: stopping a call's media
    // waits on the sound server, and a server that hangs (stopped, or dead under ALSA's PulseAudio
    // plugin) would hang the window with it. Meanwhile the library is away: the GUI thread leaves
    // it alone (core is the switch's) and answers from the line table. A switch not done within
    // kSwitchBoundMs is given up, and the library with it (giveUpLibrary).
    struct MediaSwitch;
    std::shared_ptr<MediaSwitch> mediaSwitch;
    bool away = false;
    static constexpr int kSwitchBoundMs = 2000;
    QTimer switchBound;
    void switchDone();
    void giveUpLibrary();
    // The line table's own operations (busy, end, recordings), also while the library is away.
    bool checkLineTable(int line) {
        if (!away) return checkOpenLine(line);
        return (line >= 0 && line < int(lines.size()) && lines[size_t(line)].open) || fail(EngineError::LineNotOpen);
    }
    QTimer probeTimer;
    QTimer noAnswerTimer;
    engine_impl::RegistrarPing registrarPing;
    enum class ProxyStun { Unknown, Answers, Silent } proxyStun = ProxyStun::Unknown; // since online
    int keepAliveAnswers = 0;                                                          // since online
    int pingsMissed = 0; // unanswered in a row by a proxy that answers STUN and REGISTER
    static constexpr int kPingsMissedForSilent = 2;
    bool probing = false;      // a refresh of the probe waits for its answer
    bool serverSilent = false; // ServerNotAnswering was reported and nothing has answered since
    QHash<QString, std::shared_ptr<lp::Call>> incoming; // call id -> call not yet answered
    QHash<QString, int> answerAfter;                    // call id -> seconds the PBX asked for (PbxAnswerAfter)
    QStringList serverAddresses;                        // the addresses of the server's name, once looked up
    QHash<QString, std::shared_ptr<lp::Friend>> contacts;
    std::vector<std::shared_ptr<lp::Friend>> pendingWatchers; // asked to watch us, answered after the callback
    // A join asked for while one of its calls was changing state (resuming one line holds the
    // other): made once both calls are settled, dropped when either ends.
    std::shared_ptr<lp::Call> joinA, joinB;
    quint64 joinGeneration = 0;

    explicit Impl(LinphoneEngine* owner) : q(owner) {
        pump.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pump, &QTimer::timeout, q, [this] { iterate(); });
        noAnswerTimer.setSingleShot(true);
        switchBound.setSingleShot(true);
        QObject::connect(&switchBound, &QTimer::timeout, q, [this] { giveUpLibrary(); });
        QObject::connect(&probeTimer, &QTimer::timeout, q, [this] { probeRegistrar(); });
        QObject::connect(&noAnswerTimer, &QTimer::timeout, q, [this] { onRegistrarSilent(); });
        registrarPing.answered = [this] { onPingAnswered(); };
        registrarPing.unanswered = [this] { onPingUnanswered(); };
    }

    // --- results ---------------------------------------------------------------------------
    bool fail(int code) {
        lastError = code;
        return false;
    }
    bool started() const { return bool(core); }
    void releasePortClaims();
    bool checkStarted() { return started() || fail(EngineError::NotOnline); }
    bool checkLine(int line) {
        if (!checkStarted()) return false;
        return (line >= 0 && line < int(lines.size())) || fail(EngineError::InvalidLine);
    }
    bool checkGrammars() { return grammarsPresent || fail(EngineError::TaskWindow); }
    bool checkOpenLine(int line) { return checkLine(line) && (lines[line].open || fail(EngineError::LineNotOpen)); }
    // An operation on a call wakes the pump: what it starts (a re-INVITE, a REFER) goes on at the
    // busy pace.
    bool checkCall(int line) {
        if (!checkOpenLine(line) || !(lines[line].call || fail(EngineError::NotInVoiceSession))) return false;
        wake();
        return true;
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
        // The library takes about one datagram per socket and turn: while requests come in, it
        // gets several turns per tick, so a flood of calls or messages is answered, not queued.
        for (int turn = 0; core && turn < (requestsArriving() ? kTurnsWhileRequestsArrive : 1); ++turn)
            core->iterate();
        if (core && callHistoryToDrop) {
            // The library keeps every ended call in its history, in memory as well as in its
            // database, for as long as it runs; the window keeps its own call log.
            callHistoryToDrop = false;
            core->clearCallLogs();
        }
        if (core && !files) watchSoundDevice();
        if (core) adjustPump();
    }

    // A call or a message from outside came in during the last kRequestWindowMs.
    static constexpr int kRequestWindowMs = 2000;
    static constexpr int kTurnsWhileRequestsArrive = 4;
    QElapsedTimer lastRequest;
    // Something came in on the watched SIP socket: its transaction goes on for a while.
    static constexpr int kTrafficWindowMs = 1000;
    QElapsedTimer lastTraffic;
    bool requestsArriving() const { return lastRequest.isValid() && lastRequest.elapsed() < kRequestWindowMs; }
    void noteRequest() {
        lastRequest.start();
        wake();
    }

    // While a call is set up or changes, or a registration is under way, the library gets time
    // every pumpMs; calls that only run, every kCallPumpMs; an idle phone (registered, no call)
    // every kIdlePumpMs, which keeps the idle dialer's wake-ups few. The slower paces need the watch
    // on the SIP socket (UDP), and anything the agent starts (a call, an answer) wakes the pump.
    enum class Pace { Busy, CallsRun, Idle };
    Pace pace() const {
        if (placingLine >= 0 || !incoming.isEmpty() || requestsArriving() || probing || transfersWaiting > 0 || joinA)
            return Pace::Busy;
        if (lastTraffic.isValid() && lastTraffic.elapsed() < kTrafficWindowMs) return Pace::Busy;
        if (reg == Reg::Registering || reg == Reg::Unregistering) return Pace::Busy;
        bool calls = false;
        for (const Line& l : lines) {
            if (!l.call) continue;
            if (!l.connected || l.wavePlaying || l.resumeAfterHold ||
                l.call->getState() != lp::Call::State::StreamsRunning)
                return Pace::Busy;
            calls = true;
        }
        return calls ? Pace::CallsRun : Pace::Idle;
    }
    void adjustPump() {
        const Pace now = sipWatch ? pace() : pace() == Pace::Idle ? Pace::Idle : Pace::Busy;
        const int want = now == Pace::Busy       ? pumpMs
                         : now == Pace::CallsRun ? std::max(pumpMs, kCallPumpMs)
                                                 : std::max(pumpMs, sipWatch ? kWatchedIdlePumpMs : kIdlePumpMs);
        if (pump.isActive() && pump.interval() != want) {
            // The slow tick may move a little to fall in with the window's own second ticks.
            pump.setTimerType(now == Pace::Idle ? Qt::CoarseTimer : Qt::PreciseTimer);
            pump.start(want);
        }
        // While the pump runs fast it reads the socket itself; slower, the watch wakes it.
        if (sipWatch) sipWatch->setEnabled(now != Pace::Busy);
    }
    void wake() {
        if (pump.isActive() && pump.interval() != pumpMs) {
            pump.setTimerType(Qt::PreciseTimer);
            pump.start(pumpMs);
        }
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
    // The steps of start(), in order.
    bool claimSipPort(int sipPort);
    bool prepareDataDir();
    bool writeLibraryConfig(int lineCount);
    bool createCore(int lineCount);
    void applySecurity();
    void applyNat();
    void chooseSoundDevices(bool captureSoundDevice);
    void applyTransports(int sipPort);
    QString libraryServerFor(const QString& server, const QString& pbx, bool byAddress) const;
    bool nameServerAddress(const QString& libraryServer, const QString& server);
    bool createAccount(const QString& user, const QString& authLogin, const QString& password,
                       const QString& displayName, const QString& dom, const QString& server);
    bool startCore(int sipPort);
    bool guardSipPort(const QString& server);
    void stop();
    void applyCodecs();
    void applyGains();
    bool anyCodecEnabled();
    std::vector<std::shared_ptr<lp::AudioDevice>> devices(lp::AudioDevice::Capabilities cap) const;
    bool deviceCan(const std::shared_ptr<const lp::AudioDevice>& device, lp::AudioDevice::Capabilities cap) const;
    // The name of device index among those with cap; empty with code 33 for an index outside.
    QString deviceName(lp::AudioDevice::Capabilities cap, int index);
    // Device indexes of the lists (-1: the default device). An index outside its list is refused
    // also in file mode, where the devices themselves are not used.
    bool pickDevices(int inputIndex, int outputIndex, std::shared_ptr<lp::AudioDevice>& input,
                     std::shared_ptr<lp::AudioDevice>& output);
    std::shared_ptr<lp::Address> identityFor(const QString& user) const;

    // The library refuses a new call, incoming or outgoing, once it has max_calls. Calls that ring
    // without being answered count too: room for as many of them as there are lines is left above
    // the line count, and makeRoomForCall() declines ringing calls (486) should an outgoing call
    // still find no room.
    static int maxCallsFor(int lineCount) { return 2 * lineCount; }
    void makeRoomForCall();
    // Places the line's call to the line's target; false (with the error) when the library refused it.
    bool placeCall(int line, const std::shared_ptr<lp::AudioDevice>& input,
                   const std::shared_ptr<lp::AudioDevice>& output);
    // A refused call waits for a REGISTER; once answered (registered or not) it is placed again, or
    // its refusal is reported.
    void placeRetries(bool registered);
    void reportFailure(int line, int code, const QString& phrase);

    // --- call events -----------------------------------------------------------------------
    void onCallState(const std::shared_ptr<lp::Call>& call, lp::Call::State state, const std::string& message);
    void onIncoming(const std::shared_ptr<lp::Call>& call);
    // A ringing call is no longer waiting for the window: forgotten, and the window told when
    // told is true (it ended without the window's answer or refusal).
    void forgetIncoming(const std::shared_ptr<lp::Call>& call, bool tell);
    // The seconds after which the INVITE asks to be answered by itself; -1 when it does not ask or
    // when it did not come from the server the account talks to.
    int pbxAnswerAfter(const std::shared_ptr<lp::Call>& call) const;
    void lookUpServer();

    // The far end asked us to transfer (REFER): the library ends our call and places the new one by
    // itself. The new call takes over the line of the call it replaces, as a call of that line.
    int takeOverTransferredLine(const std::shared_ptr<lp::Call>& call);
    void finishCall(int line);
    // SRTP optional and the far end answered in clear: the line's call placed again without SRTP.
    bool placeAgainInClear(int line, const std::shared_ptr<lp::Call>& failed);
    // Joins two settled calls in the local conference; the error code, None on success.
    int joinCalls(const std::shared_ptr<lp::Call>& a, const std::shared_ptr<lp::Call>& b);
    // After a state change of a pending join's call: makes the join (outside the callback) once
    // both are settled, or drops it when one has ended.
    void joinWhenSettled();
    void onRegistration(lp::RegistrationState state, const std::string& message);
    // The file the library reads as microphone in file mode: the play file, or silence.
    QString microphoneFile();
    void watchSoundDevice();
    void switchToSoundFiles();
    int checkMs() const { return activeSecurity.registrarCheckSeconds * 1000; }
    int refreshMs() const { return activeSecurity.registrarRefreshSeconds * 1000; }
    int registerEveryMs() const { return proxyStun == ProxyStun::Answers && checkMs() > 0 ? refreshMs() : checkMs(); }
    // The STUN keep-alive goes as often as the check or the keep-alive asks, whichever is more often.
    int pingMs() const {
        const int keepAlive = activeSecurity.keepAliveSeconds * 1000;
        return checkMs() > 0 && keepAlive > 0 ? std::min(checkMs(), keepAlive) : checkMs();
    }
    void startPinging();
    void onPingAnswered();
    void onPingUnanswered();
    void probeRegistrar();
    void onRegistrarSilent();
    // A REGISTER was answered (or refused): the registrar is there.
    void registrarAnswered();
    void stopProbing();
    void onTransferState(const std::shared_ptr<lp::Call>& call, lp::Call::State state);
    void onPlayerEof(int line);

    void onMessageReceived(const std::shared_ptr<lp::ChatMessage>& message);
    void onPresenceReceived(const std::shared_ptr<lp::Friend>& f);
    void onSubscriptionRequested(const std::shared_ptr<lp::Friend>& f);
    void answerWatchers();

    // --- media -----------------------------------------------------------------------------
    void applyCallMutes(Line& l);
    // Moves what the library recorded for the line's call into the line's parts.
    void collectRecording(int line) { lines[size_t(line)].buffer.collect(); }
    // Empties the line's buffer (its files are deleted) for a new call on the line.
    void discardRecording(int line) {
        Line& l = lines[size_t(line)];
        l.recording = false;
        l.wantRecording = false;
        l.buffer.discard();
    }
    void stopRecordingOf(int line);
    void markRunningRecording(Line& l);
    // Brings l.quality up to date from the line's call; values the library no longer has (its
    // media stopped) keep the last ones read.
    void readCallQuality(Line& l);
    void resumeRecordingOf(int line);
    void forgetWave(Line& l);
    // "Listen": the call's player feeds only the far end, so a second player of the library plays
    // the wave on the speaker, kept at the same position. Without a playback device it stays silent.
    void startListening(Line& l);
    void stopListening(Line& l);
    qint64 wavePosition(const Line& l) const;
    // The call that the level meters measure: the first running call that is not on hold.
    std::shared_ptr<lp::Call> meteredCall() const;
};
} // namespace corvid
