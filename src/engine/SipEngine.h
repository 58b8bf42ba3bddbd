#pragma once
// The boundary to the SIP user agent. The window and its subsystems see only this class: its
// operations (synchronous, on the GUI thread, Boolean results with LastErrorCode() telling why a
// call failed) and its events (Qt signals, delivered on the GUI thread, never from inside the
// SIP library's own callbacks). Names and argument orders are the dialer's own vocabulary.

#include <QObject>
#include <QString>
#include <QStringList>

namespace corvid {

// Error codes answered by LastErrorCode(); the window shows a message for each of them.
namespace EngineError {
enum : int {
    None = 0,
    NotOnline = 10,
    PortInUse = 11,
    Network = 12,
    TaskWindow = 13,
    InputDevice = 14,
    OutputDevice = 15,
    InputNotOpen = 16,
    OutputNotOpen = 17,
    MicVolumeUnsupported = 18,
    SpeakerVolumeUnsupported = 19,
    RecordingInit = 20,
    WaveOpen = 21,
    InvalidUri = 22,
    CodecUnsupported = 23,
    Sdp = 24,
    ConnectRequest = 25,
    RegisterRequest = 26,
    UnregisterRequest = 27,
    DisconnectRequest = 28,
    InvalidLine = 29,
    LineBusy = 30,
    LineNotOpen = 31,
    InvalidCallId = 32,
    InvalidValue = 33,
    NotInVoiceSession = 34,
    WaveRead = 35,
    WaveWrite = 36,
    WaveFormat = 37,
    CancelRequest = 38,
    NoWaveLoaded = 39, // a wave operation on a line with no file open (or whose last open was refused)
};
}

// Codec numbers used by EnableCodec / DisableCodec.
namespace Codec {
enum : int { GSM610 = 0, iLBC = 1, G711A = 2, G711U = 3, G729 = 4 };
}

// What the engine knows of a line's call for its call-detail record (CallStats). Counts and
// figures are -1 where the engine has none (no RTCP report yet, a library without a rating).
struct CallQuality {
    bool known = false;   // false: the line has had no call since the engine started
    QString sipCallId;    // the Call-ID header of the call's dialog
    int inviteStatus = 0; // the final response to the INVITE (200 when answered; 0: none yet)
    QString inviteReason;
    int endStatus = 0; // the final response of the call's end (the BYE's or CANCEL's 200, or a failure's)
    QString endReason;
    bool endedByFarEnd = false;  // the far end ended it (a BYE, a refusal), not this engine
    QString transport;           // "udp", "tcp", "tls"
    QString mediaEncryption;     // "none", "srtp", "zrtp", "dtls"
    QString codec;               // MIME type/clock rate, e.g. "PCMU/8000"
    QString localRtp, remoteRtp; // address:port (IPv6 in brackets)
    qint64 packetsSent = -1, packetsReceived = -1, packetsLost = -1;
    double lossPercent = -1;   // received packets lost, in per cent of those expected
    double jitterMs = -1;      // interarrival jitter of the received stream (RTCP)
    double roundTripMs = -1;   // from the RTCP reports
    double qualityRating = -1; // the library's average rating, 0 (worst) to 5 (best)
};

// Chat presence values used by ChatSetStatus / ChatContactStatus.
// (The window decides what each number means to the agent; the engine maps them onto presence.)

class SipEngine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SipEngine() override = default;

    // --- engine life ---------------------------------------------------------------------
    // flag and empty are fixed values of the call (False and ""); localAddress is read and may be
    // written back; captureSoundDevice chooses real sound devices over silent file devices.
    virtual bool EngineStart(bool flag, QString& localAddress, int sipPort, const QString& userName,
                             const QString& authLogin, const QString& password, const QString& displayName,
                             const QString& domain, const QString& proxy, const QString& empty, bool captureSoundDevice,
                             int lineCount) = 0;
    virtual void EngineStop() = 0;
    virtual int LastErrorCode() const = 0;
    virtual QString GetLocalAddress() = 0;
    virtual void SetUserAgent(const QString& text) = 0;
    virtual bool SetEngineInterval(int ms) = 0;

    // --- registration --------------------------------------------------------------------
    virtual bool RegisterToProxy(int expirySeconds) = 0;

    // --- lines ---------------------------------------------------------------------------
    virtual bool OpenLine(int line, bool flag, QString& localAddress, int rtpPort) = 0;
    virtual bool IsLineOpen(int line) = 0;
    virtual bool IsLineOnHold(int line) = 0;
    virtual bool IsLineBusy(int line) = 0;
    // Whether the line's call runs with encrypted media (SRTP). An engine without encryption: never.
    virtual bool IsLineEncrypted(int line) {
        Q_UNUSED(line);
        return false;
    }

    // --- calls ---------------------------------------------------------------------------
    // Device indexes: the entry of the device list minus 1; -1 is the default device.
    virtual bool PlaceCall(int line, QString& number, int inputDevice, int outputDevice) = 0;
    virtual bool EndCall(int line) = 0;
    virtual bool AnswerCall(int line, const QString& callId, int inputDevice, int outputDevice) = 0;
    virtual bool RefuseCall(const QString& callId) = 0;
    // Declines a ringing call with statusCode: 486 (Busy Here) or 603 (Decline); others: 33.
    virtual bool RejectCall(const QString& callId, int statusCode) {
        Q_UNUSED(statusCode);
        return RefuseCall(callId);
    }
    // The seconds after which the ringing call's INVITE asked to be answered by itself (Call-Info
    // answer-after, Alert-Info auto-answer), only when the INVITE came from the registrar or
    // outbound proxy the phone talks to; -1 when it did not ask, or when someone else did.
    virtual int PbxAnswerAfter(const QString& callId) {
        Q_UNUSED(callId);
        return -1;
    }
    virtual bool HoldCall(int line) = 0;
    virtual bool ResumeCall(int line) = 0;
    virtual bool TransferCall(int line, const QString& number) = 0;
    virtual bool JoinLines(int lineA, int lineB) = 0;
    virtual void DndOn() = 0;
    virtual void DndOff() = 0;
    virtual bool ForwardCalls(bool enable, const QString& number) = 0;

    // --- DTMF ----------------------------------------------------------------------------
    virtual bool SendDtmfDigit(int line, const QString& digit) = 0;
    // Applies to the line's next call.
    virtual void ForceInbandDtmfOn(int line) = 0;
    virtual void ForceInbandDtmfOff(int line) = 0;

    // --- audio ---------------------------------------------------------------------------
    virtual int InputDeviceCount() = 0;
    virtual int OutputDeviceCount() = 0;
    virtual QString InputDeviceName(int index) = 0;
    virtual QString OutputDeviceName(int index) = 0;
    virtual bool SetMicMute(bool mute) = 0;
    virtual bool SetSpeakerMute(bool mute) = 0;
    virtual bool MuteLineSpeaker(int line, bool mute) = 0;
    virtual bool MuteLineMic(int line, bool mute) = 0;
    // Volumes 0..255; levels 0..32767 (shown as level bars).
    virtual int MicVolume() = 0;
    virtual int SpeakerVolume() = 0;
    virtual bool SetMicVolume(int volume) = 0;
    virtual bool SetSpeakerVolume(int volume) = 0;
    virtual int MicLevel() = 0;
    virtual int SpeakerLevel() = 0;
    virtual void MicBoostOn() = 0;
    virtual void MicBoostOff() = 0;
    virtual bool IsMicBoostOn() = 0;
    virtual bool AgcOn(int level) = 0;
    virtual void AgcOff() = 0;
    virtual void EchoCancelOn() = 0;
    virtual void EchoCancelOff() = 0;
    virtual void DeselectAllCodecs() = 0;
    virtual bool EnableCodec(int codec) = 0;
    virtual bool DisableCodec(int codec) = 0;

    // --- recording (a per-line buffer, saved to a wave file later) ------------------------
    virtual bool StartRecording(int line, int mode, bool flag) = 0;
    virtual bool StopRecording(int line) = 0;
    virtual void ResetRecording(int line) = 0;
    virtual bool SaveRecording(int line, const QString& path) = 0;
    // Answers whether the line is recording now.
    virtual bool RecordingLineOp(int line) = 0;
    // The wave files that hold the line's buffer (what it recorded since the last save or reset),
    // in order; the last may still be being written. The window keeps them in its crash-safe
    // record of the call. An engine that keeps no such files answers none.
    virtual QStringList RecordingFiles(int line) {
        Q_UNUSED(line);
        return {};
    }

    // The line's call as its call-detail record needs it: while the call is up, its values now;
    // once it has ended, its values at its end, until the line's next call. An engine that
    // measures nothing answers known == false.
    virtual CallQuality CallStats(int line) {
        Q_UNUSED(line);
        return {};
    }

    // --- wave playback into a line (positions in milliseconds) ----------------------------
    virtual bool PlayWaveOpen(int line, const QString& path) = 0;
    virtual bool PlayWaveStart(int line, bool listen) = 0;
    virtual bool PlayWavePause(int line) = 0;
    virtual bool PlayWaveStop(int line) = 0;
    virtual bool PlayWavePosition(int line, int positionMs) = 0;
    virtual int PlayWaveGetPosition(int line) = 0;
    virtual bool IsLinePlayingWave(int line) = 0;

    // --- chat and presence -----------------------------------------------------------------
    virtual bool ChatAddContact(const QString& userName) = 0;
    virtual bool ChatRemoveContact(const QString& userName) = 0;
    virtual bool ChatSetStatus(int status) = 0;
    virtual bool ChatSendMessage(const QString& userName, const QString& text, int a, int b) = 0;

Q_SIGNALS:
    void DtmfDigitReceived(int line, const QString& digit);
    void PlayWaveDone(int line);
    void UnregisterTrying();
    void UnregisterFailed();
    void UnregisterSucceeded();
    void RegisterTrying();
    void RegisterSucceeded();
    void CallFailed(int line);
    void CallConnecting(int line);
    void EngineNoticeA(const QString& text);
    void EngineNoticeB(const QString& text);
    void CallHungUp(int line);
    void TransferAccepted(int line);
    void ProvisionalResponse(int line, int statusCode, const QString& reason);
    void RedirectionResponse(int line, int statusCode, const QString& reason, const QString& contact);
    void RequestFailureResponse(int line, int statusCode, const QString& reason);
    void ServerFailureResponse(int line, int statusCode, const QString& reason);
    void GlobalFailureResponse(int line, int statusCode, const QString& reason);
    void CallConnected(int line, const QString& remote, int codec);
    // callId, line (as text), caller number, caller display name, called number
    void IncomingCall(const QString& callId, const QString& line, const QString& callerNumber,
                      const QString& callerName, const QString& calledNumber);
    // A ringing call the window was told of ended unanswered (the caller gave up, or it rang out).
    // Not sent for a call the window answered or refused.
    void IncomingCallEnded(const QString& callId);
    void ReregisterTrying();
    void ReregisterSucceeded();
    void TransferFailed(int line, int statusCode, const QString& reason, const QString& target = QString());
    void RegisterFailed(int code, const QString& reason);
    void ReregisterFailed(int code, const QString& reason);
    // The registrar has not answered a REGISTER for a few seconds (it is down or out of reach);
    // the engine goes on trying, and the next RegisterSucceeded or ReregisterSucceeded ends it.
    void ServerNotAnswering();
    // The sound card stopped (its sound server died, the device went away): the running calls go
    // on with the engine's silent file devices, and so do later calls until the engine restarts.
    void SoundDeviceLost();
    // The sound device stopped and does not answer: the switch to the file devices did not finish
    // in time, and the engine has given up its media. The line's call is ended by the engine; the
    // window ends it too, as the agent's hang-up would. Until EngineStop the engine answers only for
    // its lines (busy, end, recordings).
    void SoundDeviceHung(int line);
    void ChatContactStatus(const QString& userName, int status);
    // contentType as the MESSAGE gave it ("text/plain", "text/html; charset=utf-8"; empty when unknown).
    void ChatMessageReceived(const QString& userName, const QString& text, const QString& contentType = QString());
};

} // namespace corvid
