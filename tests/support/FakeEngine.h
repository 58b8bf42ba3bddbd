#pragma once
// A scriptable SipEngine for unit and window tests. Header-only: a test that uses it links only
// corvid_engine.
//
// - Every operation is recorded with its arguments (calls(), callsTo(), count(), last()).
// - Results are scripted per operation: failNext("OpenLine", EngineError::PortInUse, 2) makes the
//   next two OpenLine calls answer False with LastErrorCode 11; failAlways() until clearFailures().
//   Busy SIP and RTP ports (setSipPortsInUse / setRtpPortsInUse) give code 11 the way a real port clash does.
// - Dialled numbers are scripted: answer, busy, not found, no answer, far-end hang-up after N ms,
//   or any final code with its reason. PlaceCall then reports CallConnecting and 180 "Ringing",
//   followed by the scripted outcome, like the real engine.
// - Each event also has a public fire...() method that emits it as the real engine would, keeping the
//   line table in step (a connected line is busy; a hung-up line is free).
// - Events are always queued: they reach the receivers from the event loop on the GUI thread, never
//   inside the operation that caused them. Use QSignalSpy::wait / QTRY_* to let them arrive.

#include "engine/SipEngine.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantList>

#include <functional>

namespace corvid {

class FakeEngine : public SipEngine {
public:
    // One recorded operation.
    struct Call {
        QString name;
        QVariantList args;
    };

    // What a dialled number does.
    enum class Outcome { Answer, Busy, NotFound, NoAnswer, HangUpAfter, Final };
    struct NumberScript {
        Outcome outcome = Outcome::Answer;
        int delayMs = 0; // ring time before the answer or the final response; call length for HangUpAfter
        int code = 0;    // Final: the status code
        QString reason;  // Final: the reason text
    };
    static NumberScript answer(int afterMs = 0) { return {Outcome::Answer, afterMs, 200, QStringLiteral("OK")}; }
    static NumberScript busy(int afterMs = 0) { return {Outcome::Busy, afterMs, 486, QStringLiteral("Busy Here")}; }
    static NumberScript notFound(int afterMs = 0) {
        return {Outcome::NotFound, afterMs, 404, QStringLiteral("Not Found")};
    }
    static NumberScript noAnswer() { return {Outcome::NoAnswer, 0, 0, {}}; }
    static NumberScript hangUpAfter(int ms) { return {Outcome::HangUpAfter, ms, 200, QStringLiteral("OK")}; }
    static NumberScript finalResponse(int code, const QString& reason, int afterMs = 0) {
        return {Outcome::Final, afterMs, code, reason};
    }

    struct Line {
        bool open = false;
        int rtpPort = 0;
        bool busy = false;
        bool connected = false;
        bool onHold = false;
        bool playing = false;
        bool waveOpen = false;
        bool recording = false;
        bool hasRecording = false;
        bool micMuted = false;
        bool speakerMuted = false;
        bool inbandDtmf = false;
        int playPositionMs = 0;
        QString number;
        QString wavePath;
        quint64 generation = 0;     // bumps when the line's call ends: pending scripted events then lapse
        quint64 waveGeneration = 0; // bumps at each wave start, pause and stop
    };

    explicit FakeEngine(QObject* parent = nullptr) : SipEngine(parent) {}

    // --- records ---------------------------------------------------------------------------
    const QList<Call>& calls() const { return m_calls; }
    QStringList callNames() const {
        QStringList names;
        for (const Call& c : m_calls)
            names << c.name;
        return names;
    }
    QList<Call> callsTo(const QString& name) const {
        QList<Call> out;
        for (const Call& c : m_calls)
            if (c.name == name) out << c;
        return out;
    }
    int count(const QString& name) const { return int(callsTo(name).size()); }
    // The arguments of the last call of that name (empty when there was none).
    QVariantList last(const QString& name) const {
        for (auto it = m_calls.crbegin(); it != m_calls.crend(); ++it)
            if (it->name == name) return it->args;
        return {};
    }
    void clearCalls() { m_calls.clear(); }

    // --- scripted results --------------------------------------------------------------------
    void failNext(const QString& operation, int errorCode, int times = 1) {
        m_failures[operation] = {errorCode, times};
    }
    void failAlways(const QString& operation, int errorCode) { m_failures[operation] = {errorCode, -1}; }
    void clearFailures() { m_failures.clear(); }
    void setSipPortsInUse(const QSet<int>& ports) { m_sipPortsInUse = ports; }
    void setRtpPortsInUse(const QSet<int>& ports) { m_rtpPortsInUse = ports; }

    // --- scripted numbers ---------------------------------------------------------------------
    void scriptNumber(const QString& number, const NumberScript& script) { m_numbers[number] = script; }
    void setDefaultScript(const NumberScript& script) { m_defaultScript = script; }
    // How long an opened wave plays before PlayWaveDone (-1: until stopped).
    void setWaveDurationMs(int ms) { m_waveDurationMs = ms; }

    // --- state ---------------------------------------------------------------------------
    bool isStarted() const { return m_started; }
    bool isRegistered() const { return m_registered; }
    bool isDnd() const { return m_dnd; }
    bool isForwarding() const { return m_forwarding; }
    QString forwardNumber() const { return m_forwardNumber; }
    int sipPort() const { return m_sipPort; }
    int lineCount() const { return int(m_lines.size()); }
    Line line(int index) const { return m_lines.value(index); }
    Line& lineRef(int index) { return m_lines[index]; }
    QStringList enabledCodecs() const { return m_codecs; }
    QSet<QString> contacts() const { return m_contacts; }
    int chatStatus() const { return m_chatStatus; }
    bool micMuted() const { return m_micMuted; }
    bool speakerMuted() const { return m_speakerMuted; }
    bool echoCancel() const { return m_echoCancel; }
    bool agcOn() const { return m_agc; }
    QString userAgent() const { return m_userAgent; }
    int engineInterval() const { return m_interval; }
    QStringList pendingIncomingCallIds() const { return m_incoming.keys(); }

    void setLocalAddress(const QString& address) { m_localAddress = address; }
    void setDevices(const QStringList& inputs, const QStringList& outputs) {
        m_inputs = inputs;
        m_outputs = outputs;
    }
    void setLevels(int mic, int speaker) {
        m_micLevel = mic;
        m_speakerLevel = speaker;
    }
    void setVolumes(int mic, int speaker) {
        m_micVolume = mic;
        m_speakerVolume = speaker;
    }

    // --- events on demand (queued, with the line table kept in step) ------------------------
    void fireDtmfDigitReceived(int line, const QString& digit) {
        post([=] { Q_EMIT DtmfDigitReceived(line, digit); });
    }
    void firePlayWaveDone(int line) {
        post([=] {
            if (m_lines.contains(line)) m_lines[line].playing = false;
            Q_EMIT PlayWaveDone(line);
        });
    }
    void fireUnregisterTrying() {
        post([=] { Q_EMIT UnregisterTrying(); });
    }
    void fireUnregisterFailed() {
        post([=] { Q_EMIT UnregisterFailed(); });
    }
    void fireUnregisterSucceeded() {
        post([=] {
            m_registered = false;
            Q_EMIT UnregisterSucceeded();
        });
    }
    void fireRegisterTrying() {
        post([=] { Q_EMIT RegisterTrying(); });
    }
    void fireRegisterSucceeded() {
        post([=] {
            m_registered = true;
            Q_EMIT RegisterSucceeded();
        });
    }
    void fireRegisterFailed(int code, const QString& reason) {
        post([=] {
            m_registered = false;
            Q_EMIT RegisterFailed(code, reason);
        });
    }
    void fireReregisterTrying() {
        post([=] { Q_EMIT ReregisterTrying(); });
    }
    void fireReregisterSucceeded() {
        post([=] { Q_EMIT ReregisterSucceeded(); });
    }
    void fireReregisterFailed(int code, const QString& reason) {
        post([=] { Q_EMIT ReregisterFailed(code, reason); });
    }
    void fireCallConnecting(int line) {
        post([=] { Q_EMIT CallConnecting(line); });
    }
    void fireProvisionalResponse(int line, int code, const QString& reason) {
        post([=] { Q_EMIT ProvisionalResponse(line, code, reason); });
    }
    void fireRedirectionResponse(int line, int code, const QString& reason, const QString& contact) {
        post([=] { Q_EMIT RedirectionResponse(line, code, reason, contact); });
    }
    // A final failure: the response event of the code's class, then CallFailed; the line is free.
    void fireFailure(int line, int code, const QString& reason) {
        post([=] { failLine(line, code, reason); });
    }
    void fireRequestFailureResponse(int line, int code, const QString& reason) {
        post([=] { Q_EMIT RequestFailureResponse(line, code, reason); });
    }
    void fireServerFailureResponse(int line, int code, const QString& reason) {
        post([=] { Q_EMIT ServerFailureResponse(line, code, reason); });
    }
    void fireGlobalFailureResponse(int line, int code, const QString& reason) {
        post([=] { Q_EMIT GlobalFailureResponse(line, code, reason); });
    }
    void fireCallFailed(int line) {
        post([=] {
            endLine(line);
            Q_EMIT CallFailed(line);
        });
    }
    void fireCallConnected(int line, const QString& remote = QString(), int codec = Codec::G711U) {
        post([=] { connectLine(line, remote, codec); });
    }
    void fireCallHungUp(int line) {
        post([=] {
            endLine(line);
            Q_EMIT CallHungUp(line);
        });
    }
    void fireTransferAccepted(int line) {
        post([=] { Q_EMIT TransferAccepted(line); });
    }
    void fireTransferFailed(int line, int code, const QString& reason) {
        post([=] { Q_EMIT TransferFailed(line, code, reason); });
    }
    void fireEngineNoticeA(const QString& text) {
        post([=] { Q_EMIT EngineNoticeA(text); });
    }
    void fireEngineNoticeB(const QString& text) {
        post([=] { Q_EMIT EngineNoticeB(text); });
    }
    // An incoming call as the engine offers it; with DND on or forwarding on the engine turns it
    // away itself (486 / 302) and nothing reaches the window. Answers whether it was offered.
    bool fireIncomingCall(const QString& callId, int line, const QString& callerNumber, const QString& callerName,
                          const QString& calledNumber) {
        if (m_dnd) {
            m_turnedAway << QStringLiteral("486 %1").arg(callerNumber);
            return false;
        }
        if (m_forwarding) {
            m_turnedAway << QStringLiteral("302 %1 -> %2").arg(callerNumber, m_forwardNumber);
            return false;
        }
        m_incoming[callId] = line;
        post([=] { Q_EMIT IncomingCall(callId, QString::number(line), callerNumber, callerName, calledNumber); });
        return true;
    }
    // Incoming calls the engine turned away by itself: "486 <caller>" or "302 <caller> -> <target>".
    QStringList turnedAway() const { return m_turnedAway; }
    void fireChatContactStatus(const QString& user, int status) {
        post([=] { Q_EMIT ChatContactStatus(user, status); });
    }
    void fireChatMessageReceived(const QString& user, const QString& text) {
        post([=] { Q_EMIT ChatMessageReceived(user, text); });
    }

    // --- SipEngine -------------------------------------------------------------------------
    bool EngineStart(bool flag, QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
                     const QString& password, const QString& displayName, const QString& domain, const QString& proxy,
                     const QString& empty, bool captureSoundDevice, int lineCount) override {
        record("EngineStart", {flag, localAddress, sipPort, userName, authLogin, password, displayName, domain, proxy,
                               empty, captureSoundDevice, lineCount});
        if (scriptedFailure("EngineStart")) return false;
        if (m_sipPortsInUse.contains(sipPort)) return fail(EngineError::PortInUse);
        if (m_started) return fail(EngineError::PortInUse);
        if (localAddress.isEmpty()) localAddress = m_localAddress;
        m_started = true;
        m_sipPort = sipPort;
        m_lines.clear();
        for (int i = 0; i < lineCount; ++i)
            m_lines[i] = Line{};
        return ok();
    }
    void EngineStop() override {
        record("EngineStop", {});
        for (auto it = m_lines.begin(); it != m_lines.end(); ++it)
            it->generation++;
        m_lines.clear();
        m_incoming.clear();
        m_started = false;
        m_registered = false;
    }
    int LastErrorCode() const override { return m_lastError; }
    QString GetLocalAddress() override {
        record("GetLocalAddress", {});
        return m_localAddress;
    }
    void SetUserAgent(const QString& text) override {
        record("SetUserAgent", {text});
        m_userAgent = text;
    }
    bool SetEngineInterval(int ms) override {
        record("SetEngineInterval", {ms});
        if (scriptedFailure("SetEngineInterval")) return false;
        if (ms <= 0) return fail(EngineError::InvalidValue);
        m_interval = ms;
        return ok();
    }

    bool RegisterToProxy(int expirySeconds) override {
        record("RegisterToProxy", {expirySeconds});
        if (scriptedFailure("RegisterToProxy")) return false;
        if (!m_started) return fail(EngineError::NotOnline);
        if (expirySeconds == 0) {
            fireUnregisterTrying();
            fireUnregisterSucceeded();
        } else {
            fireRegisterTrying();
            if (m_registerResult == 200)
                fireRegisterSucceeded();
            else
                fireRegisterFailed(m_registerResult, m_registerReason);
        }
        return ok();
    }
    // What the registrar answers to RegisterToProxy: 200, or a failure code and reason.
    void setRegisterResponse(int code, const QString& reason = QString()) {
        m_registerResult = code;
        m_registerReason = reason;
    }

    bool OpenLine(int line, bool flag, QString& localAddress, int rtpPort) override {
        record("OpenLine", {line, flag, localAddress, rtpPort});
        if (scriptedFailure("OpenLine")) return false;
        if (!m_started) return fail(EngineError::NotOnline);
        if (!m_lines.contains(line)) return fail(EngineError::InvalidLine);
        if (m_rtpPortsInUse.contains(rtpPort)) return fail(EngineError::PortInUse);
        m_lines[line].open = true;
        m_lines[line].rtpPort = rtpPort;
        return ok();
    }
    bool IsLineOpen(int line) override {
        record("IsLineOpen", {line});
        return m_lines.value(line).open;
    }
    bool IsLineOnHold(int line) override {
        record("IsLineOnHold", {line});
        return m_lines.value(line).onHold;
    }
    bool IsLineBusy(int line) override {
        record("IsLineBusy", {line});
        return m_lines.value(line).busy;
    }

    bool PlaceCall(int line, QString& number, int inputDevice, int outputDevice) override {
        record("PlaceCall", {line, number, inputDevice, outputDevice});
        if (scriptedFailure("PlaceCall") || !checkLine(line, false)) return false;
        if (number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        Line& l = m_lines[line];
        l.busy = true;
        l.number = number;
        const quint64 gen = l.generation;
        const NumberScript script = m_numbers.value(number, m_defaultScript);
        post([=] { Q_EMIT CallConnecting(line); });
        post([=] {
            if (current(line, gen)) Q_EMIT ProvisionalResponse(line, 180, QStringLiteral("Ringing"));
        });
        switch (script.outcome) {
        case Outcome::NoAnswer:
            break;
        case Outcome::Answer:
            later(script.delayMs, line, gen, [=] { connectLine(line, remoteOf(number), Codec::G711U); });
            break;
        case Outcome::HangUpAfter:
            later(0, line, gen, [=] { connectLine(line, remoteOf(number), Codec::G711U); });
            later(script.delayMs, line, gen, [=] {
                endLine(line);
                Q_EMIT CallHungUp(line);
            });
            break;
        case Outcome::Busy:
        case Outcome::NotFound:
        case Outcome::Final:
            later(script.delayMs, line, gen, [=] { failLine(line, script.code, script.reason); });
            break;
        }
        return ok();
    }
    bool EndCall(int line) override {
        record("EndCall", {line});
        if (scriptedFailure("EndCall") || !checkLine(line, true)) return false;
        // Like the real engine: a line whose call already ended (failed, hung up) has nothing to end.
        if (!m_lines[line].busy) return ok();
        endLine(line); // a local hang-up raises no CallHungUp
        return ok();
    }
    bool AnswerCall(int line, const QString& callId, int inputDevice, int outputDevice) override {
        record("AnswerCall", {line, callId, inputDevice, outputDevice});
        if (scriptedFailure("AnswerCall") || !checkLine(line, false)) return false;
        if (!m_incoming.contains(callId)) return fail(EngineError::InvalidCallId);
        m_incoming.remove(callId);
        m_lines[line].busy = true;
        const quint64 gen = m_lines[line].generation;
        later(0, line, gen, [=] { connectLine(line, QString(), Codec::G711U); });
        return ok();
    }
    bool RefuseCall(const QString& callId) override {
        record("RefuseCall", {callId});
        if (scriptedFailure("RefuseCall")) return false;
        if (!m_incoming.remove(callId)) return fail(EngineError::InvalidCallId);
        return ok();
    }
    bool HoldCall(int line) override {
        record("HoldCall", {line});
        if (scriptedFailure("HoldCall") || !checkInCall(line)) return false;
        m_lines[line].onHold = true;
        return ok();
    }
    bool ResumeCall(int line) override {
        record("ResumeCall", {line});
        if (scriptedFailure("ResumeCall") || !checkInCall(line)) return false;
        m_lines[line].onHold = false;
        return ok();
    }
    bool TransferCall(int line, const QString& number) override {
        record("TransferCall", {line, number});
        if (scriptedFailure("TransferCall") || !checkInCall(line)) return false;
        if (number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        const quint64 gen = m_lines[line].generation;
        later(0, line, gen, [=] { Q_EMIT TransferAccepted(line); });
        return ok();
    }
    bool JoinLines(int lineA, int lineB) override {
        record("JoinLines", {lineA, lineB});
        if (scriptedFailure("JoinLines") || !checkInCall(lineA) || !checkInCall(lineB)) return false;
        m_lines[lineA].onHold = false;
        m_lines[lineB].onHold = false;
        return ok();
    }
    void DndOn() override {
        record("DndOn", {});
        m_dnd = true;
    }
    void DndOff() override {
        record("DndOff", {});
        m_dnd = false;
    }
    bool ForwardCalls(bool enable, const QString& number) override {
        record("ForwardCalls", {enable, number});
        if (scriptedFailure("ForwardCalls")) return false;
        if (enable && number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        m_forwarding = enable;
        m_forwardNumber = enable ? number : QString();
        return ok();
    }

    bool SendDtmfDigit(int line, const QString& digit) override {
        record("SendDtmfDigit", {line, digit});
        if (scriptedFailure("SendDtmfDigit") || !checkInCall(line)) return false;
        if (digit.size() != 1 || !QStringLiteral("0123456789*#ABCDabcd").contains(digit))
            return fail(EngineError::InvalidValue);
        return ok();
    }
    void ForceInbandDtmfOn(int line) override {
        record("ForceInbandDtmfOn", {line});
        if (m_lines.contains(line)) m_lines[line].inbandDtmf = true;
    }
    void ForceInbandDtmfOff(int line) override {
        record("ForceInbandDtmfOff", {line});
        if (m_lines.contains(line)) m_lines[line].inbandDtmf = false;
    }

    int InputDeviceCount() override {
        record("InputDeviceCount", {});
        return int(m_inputs.size());
    }
    int OutputDeviceCount() override {
        record("OutputDeviceCount", {});
        return int(m_outputs.size());
    }
    QString InputDeviceName(int index) override {
        record("InputDeviceName", {index});
        return m_inputs.value(index);
    }
    QString OutputDeviceName(int index) override {
        record("OutputDeviceName", {index});
        return m_outputs.value(index);
    }
    bool SetMicMute(bool mute) override {
        record("SetMicMute", {mute});
        if (scriptedFailure("SetMicMute")) return false;
        m_micMuted = mute;
        return ok();
    }
    bool SetSpeakerMute(bool mute) override {
        record("SetSpeakerMute", {mute});
        if (scriptedFailure("SetSpeakerMute")) return false;
        m_speakerMuted = mute;
        return ok();
    }
    bool MuteLineSpeaker(int line, bool mute) override {
        record("MuteLineSpeaker", {line, mute});
        if (scriptedFailure("MuteLineSpeaker") || !checkLine(line, true)) return false;
        m_lines[line].speakerMuted = mute;
        return ok();
    }
    bool MuteLineMic(int line, bool mute) override {
        record("MuteLineMic", {line, mute});
        if (scriptedFailure("MuteLineMic") || !checkLine(line, true)) return false;
        m_lines[line].micMuted = mute;
        return ok();
    }
    int MicVolume() override {
        record("MicVolume", {});
        return m_micVolume;
    }
    int SpeakerVolume() override {
        record("SpeakerVolume", {});
        return m_speakerVolume;
    }
    bool SetMicVolume(int volume) override {
        record("SetMicVolume", {volume});
        if (scriptedFailure("SetMicVolume")) return false;
        if (volume < 0 || volume > 255) return fail(EngineError::InvalidValue);
        m_micVolume = volume;
        return ok();
    }
    bool SetSpeakerVolume(int volume) override {
        record("SetSpeakerVolume", {volume});
        if (scriptedFailure("SetSpeakerVolume")) return false;
        if (volume < 0 || volume > 255) return fail(EngineError::InvalidValue);
        m_speakerVolume = volume;
        return ok();
    }
    int MicLevel() override { return m_micLevel; }         // polled every 20 ms: not recorded
    int SpeakerLevel() override { return m_speakerLevel; } // likewise
    void MicBoostOn() override {
        record("MicBoostOn", {});
        m_micBoost = true;
    }
    void MicBoostOff() override {
        record("MicBoostOff", {});
        m_micBoost = false;
    }
    bool IsMicBoostOn() override {
        record("IsMicBoostOn", {});
        return m_micBoost;
    }
    bool AgcOn(int level) override {
        record("AgcOn", {level});
        if (scriptedFailure("AgcOn")) return false;
        m_agc = true;
        return ok();
    }
    void AgcOff() override {
        record("AgcOff", {});
        m_agc = false;
    }
    void EchoCancelOn() override {
        record("EchoCancelOn", {});
        m_echoCancel = true;
    }
    void EchoCancelOff() override {
        record("EchoCancelOff", {});
        m_echoCancel = false;
    }
    void DeselectAllCodecs() override {
        record("DeselectAllCodecs", {});
        m_codecs.clear();
    }
    bool EnableCodec(int codec) override {
        record("EnableCodec", {codec});
        if (scriptedFailure("EnableCodec")) return false;
        if (codec < Codec::GSM610 || codec > Codec::G729) return fail(EngineError::CodecUnsupported);
        if (!m_codecs.contains(QString::number(codec))) m_codecs << QString::number(codec);
        return ok();
    }
    bool DisableCodec(int codec) override {
        record("DisableCodec", {codec});
        if (scriptedFailure("DisableCodec")) return false;
        if (codec < Codec::GSM610 || codec > Codec::G729) return fail(EngineError::CodecUnsupported);
        m_codecs.removeAll(QString::number(codec));
        return ok();
    }

    bool StartRecording(int line, int mode, bool flag) override {
        record("StartRecording", {line, mode, flag});
        if (scriptedFailure("StartRecording") || !checkInCall(line)) return false;
        m_lines[line].recording = true;
        m_lines[line].hasRecording = true;
        return ok();
    }
    bool StopRecording(int line) override {
        record("StopRecording", {line});
        if (scriptedFailure("StopRecording") || !checkLine(line, true)) return false;
        m_lines[line].recording = false;
        return ok();
    }
    void ResetRecording(int line) override {
        record("ResetRecording", {line});
        if (m_lines.contains(line)) {
            m_lines[line].recording = false;
            m_lines[line].hasRecording = false;
        }
    }
    // Writes a short silent 8 kHz mono wave at path, so that file handling can be checked.
    bool SaveRecording(int line, const QString& path) override {
        record("SaveRecording", {line, path});
        if (scriptedFailure("SaveRecording") || !checkLine(line, true)) return false;
        if (!m_lines[line].hasRecording) return fail(EngineError::RecordingInit);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(EngineError::WaveWrite);
        f.write(silentWave(800));
        return ok();
    }
    bool RecordingLineOp(int line) override {
        record("RecordingLineOp", {line});
        return m_lines.value(line).recording;
    }

    bool PlayWaveOpen(int line, const QString& path) override {
        record("PlayWaveOpen", {line, path});
        if (scriptedFailure("PlayWaveOpen") || !checkLine(line, true)) return false;
        if (!QFileInfo(path).isFile()) return fail(EngineError::WaveOpen);
        m_lines[line].waveOpen = true;
        m_lines[line].wavePath = path;
        m_lines[line].playPositionMs = 0;
        return ok();
    }
    bool PlayWaveStart(int line, bool listen) override {
        record("PlayWaveStart", {line, listen});
        if (scriptedFailure("PlayWaveStart") || !checkLine(line, true)) return false;
        if (!m_lines[line].waveOpen) return fail(EngineError::WaveRead);
        m_lines[line].playing = true;
        if (m_waveDurationMs >= 0) {
            const quint64 wave = ++m_lines[line].waveGeneration;
            // a later Start, Pause or Stop bumps the wave generation again: only the last start ends
            later(qMax(0, m_waveDurationMs - m_lines[line].playPositionMs), line, m_lines[line].generation, [=] {
                if (m_lines[line].waveGeneration != wave) return;
                m_lines[line].playing = false;
                m_lines[line].waveOpen = false;
                Q_EMIT PlayWaveDone(line);
            });
        }
        return ok();
    }
    bool PlayWavePause(int line) override {
        record("PlayWavePause", {line});
        if (scriptedFailure("PlayWavePause") || !checkLine(line, true)) return false;
        m_lines[line].playing = false;
        m_lines[line].waveGeneration++;
        return ok();
    }
    bool PlayWaveStop(int line) override {
        record("PlayWaveStop", {line});
        if (scriptedFailure("PlayWaveStop") || !checkLine(line, true)) return false;
        m_lines[line].playing = false;
        m_lines[line].waveOpen = false;
        m_lines[line].waveGeneration++;
        return ok();
    }
    bool PlayWavePosition(int line, int positionMs) override {
        record("PlayWavePosition", {line, positionMs});
        if (scriptedFailure("PlayWavePosition") || !checkLine(line, true)) return false;
        if (positionMs < 0) return fail(EngineError::InvalidValue);
        m_lines[line].playPositionMs = positionMs;
        return ok();
    }
    int PlayWaveGetPosition(int line) override {
        record("PlayWaveGetPosition", {line});
        return m_lines.value(line).playPositionMs;
    }
    bool IsLinePlayingWave(int line) override {
        record("IsLinePlayingWave", {line});
        return m_lines.value(line).playing;
    }

    bool ChatAddContact(const QString& userName) override {
        record("ChatAddContact", {userName});
        if (scriptedFailure("ChatAddContact")) return false;
        if (!m_started) return fail(EngineError::NotOnline);
        m_contacts.insert(userName);
        return ok();
    }
    bool ChatRemoveContact(const QString& userName) override {
        record("ChatRemoveContact", {userName});
        if (scriptedFailure("ChatRemoveContact")) return false;
        m_contacts.remove(userName);
        return ok();
    }
    bool ChatSetStatus(int status) override {
        record("ChatSetStatus", {status});
        if (scriptedFailure("ChatSetStatus")) return false;
        if (!m_started) return fail(EngineError::NotOnline);
        m_chatStatus = status;
        return ok();
    }
    bool ChatSendMessage(const QString& userName, const QString& text, int a, int b) override {
        record("ChatSendMessage", {userName, text, a, b});
        if (scriptedFailure("ChatSendMessage")) return false;
        if (!m_started) return fail(EngineError::NotOnline);
        return ok();
    }

    // A 16-bit 8 kHz mono PCM wave of sampleCount silent samples.
    static QByteArray silentWave(int sampleCount) {
        auto le32 = [](QByteArray& b, quint32 v) {
            for (int i = 0; i < 4; ++i)
                b.append(char((v >> (8 * i)) & 0xff));
        };
        auto le16 = [](QByteArray& b, quint16 v) {
            b.append(char(v & 0xff));
            b.append(char(v >> 8));
        };
        const quint32 dataBytes = quint32(sampleCount) * 2;
        QByteArray w("RIFF");
        le32(w, 36 + dataBytes);
        w += "WAVEfmt ";
        le32(w, 16);
        le16(w, 1);
        le16(w, 1);
        le32(w, 8000);
        le32(w, 16000);
        le16(w, 2);
        le16(w, 16);
        w += "data";
        le32(w, dataBytes);
        w.append(QByteArray(int(dataBytes), '\0'));
        return w;
    }

private:
    struct Failure {
        int code = 0;
        int remaining = 0; // -1: always
    };

    void record(const char* name, const QVariantList& args) { m_calls.append({QString::fromLatin1(name), args}); }
    bool ok() {
        m_lastError = EngineError::None;
        return true;
    }
    bool fail(int code) {
        m_lastError = code;
        return false;
    }
    bool scriptedFailure(const QString& operation) {
        auto it = m_failures.find(operation);
        if (it == m_failures.end() || it->remaining == 0) return false;
        m_lastError = it->code;
        if (it->remaining > 0 && --it->remaining == 0) m_failures.erase(it);
        return true;
    }
    // A line that exists and is open (and, unless busyAllowed, not in a call).
    bool checkLine(int line, bool busyAllowed) {
        if (!m_started) return fail(EngineError::NotOnline);
        if (!m_lines.contains(line)) return fail(EngineError::InvalidLine);
        if (!m_lines[line].open) return fail(EngineError::LineNotOpen);
        if (!busyAllowed && m_lines[line].busy) return fail(EngineError::LineBusy);
        return true;
    }
    bool checkInCall(int line) {
        if (!checkLine(line, true)) return false;
        if (!m_lines[line].connected) return fail(EngineError::NotInVoiceSession);
        return true;
    }
    QString remoteOf(const QString& number) const { return QStringLiteral("sip:%1@fake.invalid").arg(number); }
    bool current(int line, quint64 generation) const {
        return m_lines.contains(line) && m_lines[line].generation == generation;
    }
    void connectLine(int line, const QString& remote, int codec) {
        if (m_lines.contains(line)) {
            m_lines[line].busy = true;
            m_lines[line].connected = true;
        }
        Q_EMIT CallConnected(line, remote, codec);
    }
    void endLine(int line) {
        if (!m_lines.contains(line)) return;
        Line& l = m_lines[line];
        l.generation++;
        l.busy = l.connected = l.onHold = l.playing = l.waveOpen = l.recording = false;
        l.number.clear();
    }
    void failLine(int line, int code, const QString& reason) {
        endLine(line);
        if (code >= 300 && code < 400)
            Q_EMIT RedirectionResponse(line, code, reason, QString());
        else if (code >= 400 && code < 500)
            Q_EMIT RequestFailureResponse(line, code, reason);
        else if (code >= 500 && code < 600)
            Q_EMIT ServerFailureResponse(line, code, reason);
        else if (code >= 600)
            Q_EMIT GlobalFailureResponse(line, code, reason);
        Q_EMIT CallFailed(line);
    }
    // Queued: runs from the event loop, after the current operation has returned.
    void post(std::function<void()> fn) { QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection); }
    // After ms (queued even at 0), and only while the line's call is still the same one.
    void later(int ms, int line, quint64 generation, std::function<void()> fn) {
        auto guarded = [this, line, generation, fn = std::move(fn)] {
            if (current(line, generation)) fn();
        };
        if (ms <= 0)
            post(guarded);
        else
            QTimer::singleShot(ms, this, guarded);
    }

    QList<Call> m_calls;
    QHash<QString, Failure> m_failures;
    QSet<int> m_sipPortsInUse;
    QSet<int> m_rtpPortsInUse;
    QHash<QString, NumberScript> m_numbers;
    NumberScript m_defaultScript = answer();
    QMap<int, Line> m_lines;
    QHash<QString, int> m_incoming;
    QStringList m_turnedAway;
    QStringList m_inputs{QStringLiteral("Fake Microphone")};
    QStringList m_outputs{QStringLiteral("Fake Speaker")};
    QStringList m_codecs;
    QSet<QString> m_contacts;
    QString m_localAddress = QStringLiteral("127.0.0.1");
    QString m_userAgent;
    QString m_forwardNumber;
    QString m_registerReason;
    int m_registerResult = 200;
    int m_lastError = EngineError::None;
    int m_sipPort = 0;
    int m_interval = 20;
    int m_micVolume = 200;
    int m_speakerVolume = 200;
    int m_micLevel = 0;
    int m_speakerLevel = 0;
    int m_chatStatus = 0;
    int m_waveDurationMs = -1;
    bool m_started = false;
    bool m_registered = false;
    bool m_dnd = false;
    bool m_forwarding = false;
    bool m_micMuted = false;
    bool m_speakerMuted = false;
    bool m_micBoost = false;
    bool m_agc = false;
    bool m_echoCancel = true;
};

} // namespace corvid
