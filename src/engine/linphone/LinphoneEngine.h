#pragma once
// The SIP engine on liblinphone. This header is free of library types (the library lives behind a
// private implementation), so the window side can create the engine without seeing liblinphone.
//
// The engine runs on the thread that created it: a timer on that thread pumps the library, every
// library callback happens inside that pump, and each event reaches the window as a queued signal,
// so a window handler never runs inside a library callback.

#include "engine/SipEngine.h"
#include "engine/SipSecurity.h"

#include <QString>
#include <memory>

namespace corvid {

struct LinphoneEngineOptions {
    // Folder of the library's configuration, databases and the engine's own working files (the
    // per-line recording parts, the silent microphone file). Created when missing. Empty: a folder
    // "corvid-engine" under the system's temporary folder.
    QString dataDir;
    // "host:port" of a SIP proxy that takes all SIP traffic instead of the proxy name given to
    // EngineStart (which is then neither resolved nor contacted). With it the library asks no DNS
    // server at all (its resolver is pointed at 127.0.0.1).
    QString outboundProxy;
    // Address the SIP socket binds to. Empty: 127.0.0.1 when the outbound proxy is on the loopback
    // network, otherwise every interface.
    QString bindAddress;
    // What the far end hears in file mode (no sound card): a 16-bit PCM wave file. Empty: silence.
    QString playFile;
    // Transport, TLS checks, media encryption, NAT traversal, keep-alives and the registrar check;
    // the defaults are clear UDP and RTP.
    SipSecurity security;
};

class LinphoneEngine : public SipEngine {
    Q_OBJECT
public:
    using Options = LinphoneEngineOptions;

    explicit LinphoneEngine(QObject* parent = nullptr);
    explicit LinphoneEngine(const Options& options, QObject* parent = nullptr);
    ~LinphoneEngine() override;

    // Options take effect at the next EngineStart.
    void setOptions(const Options& options);
    const Options& options() const;

    // Introspection for tests and diagnostics.
    bool isStarted() const;
    bool usesSoundFiles() const; // file mode: no sound card in use
    int sipPort() const;
    int lineRtpPort(int line) const;
    int pumpIntervalMs() const;
    // Answers of the registrar to the STUN keep-alive since going online (each one a check of the
    // registrar that cost it no request).
    int registrarKeepAliveAnswers() const;
    // What the running library was given (0 / false while stopped).
    bool agcApplied() const;
    float micGainDb() const;
    float playbackGainDb() const;

    // --- SipEngine -------------------------------------------------------------------------
    bool EngineStart(bool flag, QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
                     const QString& password, const QString& displayName, const QString& domain, const QString& proxy,
                     const QString& empty, bool captureSoundDevice, int lineCount) override;
    void EngineStop() override;
    int LastErrorCode() const override;
    QString GetLocalAddress() override;
    void SetUserAgent(const QString& text) override;
    bool SetEngineInterval(int ms) override;

    bool RegisterToProxy(int expirySeconds) override;

    bool OpenLine(int line, bool flag, QString& localAddress, int rtpPort) override;
    bool IsLineOpen(int line) override;
    bool IsLineOnHold(int line) override;
    bool IsLineBusy(int line) override;
    bool IsLineEncrypted(int line) override;

    bool PlaceCall(int line, QString& number, int inputDevice, int outputDevice) override;
    bool EndCall(int line) override;
    bool AnswerCall(int line, const QString& callId, int inputDevice, int outputDevice) override;
    bool RefuseCall(const QString& callId) override;
    bool RejectCall(const QString& callId, int statusCode) override;
    int PbxAnswerAfter(const QString& callId) override;
    bool HoldCall(int line) override;
    bool ResumeCall(int line) override;
    bool TransferCall(int line, const QString& number) override;
    bool JoinLines(int lineA, int lineB) override;
    void DndOn() override;
    void DndOff() override;
    bool ForwardCalls(bool enable, const QString& number) override;

    bool SendDtmfDigit(int line, const QString& digit) override;
    void ForceInbandDtmfOn(int line) override;
    void ForceInbandDtmfOff(int line) override;

    int InputDeviceCount() override;
    int OutputDeviceCount() override;
    QString InputDeviceName(int index) override;
    QString OutputDeviceName(int index) override;
    bool SetMicMute(bool mute) override;
    bool SetSpeakerMute(bool mute) override;
    bool MuteLineSpeaker(int line, bool mute) override;
    bool MuteLineMic(int line, bool mute) override;
    int MicVolume() override;
    int SpeakerVolume() override;
    bool SetMicVolume(int volume) override;
    bool SetSpeakerVolume(int volume) override;
    int MicLevel() override;
    int SpeakerLevel() override;
    void MicBoostOn() override;
    void MicBoostOff() override;
    bool IsMicBoostOn() override;
    bool AgcOn(int level) override;
    void AgcOff() override;
    void EchoCancelOn() override;
    void EchoCancelOff() override;
    void DeselectAllCodecs() override;
    bool EnableCodec(int codec) override;
    bool DisableCodec(int codec) override;

    bool StartRecording(int line, int mode, bool flag) override;
    bool StopRecording(int line) override;
    void ResetRecording(int line) override;
    bool SaveRecording(int line, const QString& path) override;
    bool RecordingLineOp(int line) override;
    QStringList RecordingFiles(int line) override;
    CallQuality CallStats(int line) override;

    bool PlayWaveOpen(int line, const QString& path) override;
    bool PlayWaveStart(int line, bool listen) override;
    bool PlayWavePause(int line) override;
    bool PlayWaveStop(int line) override;
    bool PlayWavePosition(int line, int positionMs) override;
    int PlayWaveGetPosition(int line) override;
    bool IsLinePlayingWave(int line) override;

    bool ChatAddContact(const QString& userName) override;
    bool ChatRemoveContact(const QString& userName) override;
    bool ChatSetStatus(int status) override;
    bool ChatSendMessage(const QString& userName, const QString& text, int a, int b) override;

private:
    struct Impl;
    friend struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace corvid
