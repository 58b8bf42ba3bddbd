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
// - The events tests raise themselves have fire...() methods that emit them as the real engine would,
//   keeping the line table in step (a connected line is busy; a hung-up line is free).
// - Events are always queued: they reach the receivers from the event loop on the GUI thread, never
//   inside the operation that caused them. Use QSignalSpy::wait / QTRY_* to let them arrive.

#include "engine/SipEngine.h"

#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaObject>
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
    enum class Outcome { Answer, NoAnswer, HangUpAfter, Final };
    struct NumberScript {
        Outcome outcome = Outcome::Answer;
        int delayMs = 0; // ring time before the answer or the final response; call length for HangUpAfter
        int code = 0;    // Final: the status code
        QString reason;  // Final: the reason text
    };
    static NumberScript answer(int afterMs = 0) { return {Outcome::Answer, afterMs, 200, QStringLiteral("OK")}; }
    static NumberScript busy(int afterMs = 0) { return finalResponse(486, QStringLiteral("Busy Here"), afterMs); }
    static NumberScript notFound(int afterMs = 0) { return finalResponse(404, QStringLiteral("Not Found"), afterMs); }
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
        int playPositionMs = 0;
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
        const QList<Call> all = callsTo(name);
        return all.isEmpty() ? QVariantList() : all.last().args;
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
    void scriptNumber(const QString& number, const NumberScript& script) { m_numbers[number] = script; }
    void setDefaultScript(const NumberScript& script) { m_defaultScript = script; }
    // How long an opened wave plays before PlayWaveDone (-1: until stopped).
    void setWaveDurationMs(int ms) { m_waveDurationMs = ms; }

    // --- state ---------------------------------------------------------------------------
    bool isStarted() const { return m_started; }
    bool isRegistered() const { return m_registered; }
    int sipPort() const { return m_sipPort; }
    int lineCount() const { return int(m_lines.size()); }
    Line line(int index) const { return m_lines.value(index); }
    Line& lineRef(int index) { return m_lines[index]; }
    bool micMuted() const { return m_micMuted; }
    bool speakerMuted() const { return m_speakerMuted; }
    QString userAgent() const { return m_userAgent; }
    // Incoming calls the engine turned away by itself: "486 <caller>" or "302 <caller> -> <target>".
    QStringList turnedAway() const { return m_turnedAway; }

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
    void fireUnregisterSucceeded() {
        post([=] {
            m_registered = false;
            Q_EMIT UnregisterSucceeded();
        });
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
        post([=] { hangUpLine(line); });
    }
    // An incoming call as the engine offers it; with DND on or forwarding on the engine turns it
    // away itself (486 / 302) and nothing reaches the window. Answers whether it was offered.
    bool fireIncomingCall(const QString& callId, int line, const QString& callerNumber, const QString& callerName,
                          const QString& calledNumber) {
        if (m_dnd || m_forwarding) {
            m_turnedAway << (m_dnd ? QStringLiteral("486 %1").arg(callerNumber)
                                   : QStringLiteral("302 %1 -> %2").arg(callerNumber, m_forwardNumber));
            return false;
        }
        m_incoming[callId] = line;
        post([=] { Q_EMIT IncomingCall(callId, QString::number(line), callerNumber, callerName, calledNumber); });
        return true;
    }

    // --- SipEngine -------------------------------------------------------------------------
    bool EngineStart(bool flag, QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
                     const QString& password, const QString& displayName, const QString& domain, const QString& proxy,
                     const QString& empty, bool captureSoundDevice, int lineCount) override {
        if (!begin("EngineStart", {flag, localAddress, sipPort, userName, authLogin, password, displayName, domain,
                                   proxy, empty, captureSoundDevice, lineCount}))
            return false;
        if (m_started || m_sipPortsInUse.contains(sipPort)) return fail(EngineError::PortInUse);
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
        for (Line& l : m_lines)
            l.generation++;
        m_lines.clear();
        m_incoming.clear();
        m_started = m_registered = false;
    }
    int LastErrorCode() const override { return m_lastError; }
    QString GetLocalAddress() override { return record("GetLocalAddress", {}), m_localAddress; }
    void SetUserAgent(const QString& text) override { record("SetUserAgent", {text}), m_userAgent = text; }
    bool SetEngineInterval(int ms) override {
        return begin("SetEngineInterval", {ms}) && (ms > 0 ? ok() : fail(EngineError::InvalidValue));
    }

    // Unregistering (expiry 0) or registering: the registrar answers 200 either way.
    bool RegisterToProxy(int expirySeconds) override {
        if (!begin("RegisterToProxy", {expirySeconds}, Need::Online)) return false;
        if (expirySeconds == 0) {
            post([=] { Q_EMIT UnregisterTrying(); });
            fireUnregisterSucceeded();
        } else {
            post([=] { Q_EMIT RegisterTrying(); });
            fireRegisterSucceeded();
        }
        return ok();
    }

    bool OpenLine(int line, bool flag, QString& localAddress, int rtpPort) override {
        if (!begin("OpenLine", {line, flag, localAddress, rtpPort}, Need::Online)) return false;
        if (!m_lines.contains(line)) return fail(EngineError::InvalidLine);
        if (m_rtpPortsInUse.contains(rtpPort)) return fail(EngineError::PortInUse);
        m_lines[line].open = true;
        m_lines[line].rtpPort = rtpPort;
        return ok();
    }
    bool IsLineOpen(int line) override { return record("IsLineOpen", {line}), m_lines.value(line).open; }
    bool IsLineOnHold(int line) override { return record("IsLineOnHold", {line}), m_lines.value(line).onHold; }
    bool IsLineBusy(int line) override { return record("IsLineBusy", {line}), m_lines.value(line).busy; }

    bool PlaceCall(int line, QString& number, int inputDevice, int outputDevice) override {
        if (!begin("PlaceCall", {line, number, inputDevice, outputDevice}, Need::FreeLine, line)) return false;
        if (number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        m_lines[line].busy = true;
        const quint64 gen = m_lines[line].generation;
        const NumberScript script = m_numbers.value(number, m_defaultScript);
        const QString remote = QStringLiteral("sip:%1@fake.invalid").arg(number);
        post([=] { Q_EMIT CallConnecting(line); });
        later(0, line, gen, [=] { Q_EMIT ProvisionalResponse(line, 180, QStringLiteral("Ringing")); });
        switch (script.outcome) {
        case Outcome::NoAnswer:
            break;
        case Outcome::Answer:
            later(script.delayMs, line, gen, [=] { connectLine(line, remote, Codec::G711U); });
            break;
        case Outcome::HangUpAfter:
            later(0, line, gen, [=] { connectLine(line, remote, Codec::G711U); });
            later(script.delayMs, line, gen, [=] { hangUpLine(line); });
            break;
        case Outcome::Final:
            later(script.delayMs, line, gen, [=] { failLine(line, script.code, script.reason); });
            break;
        }
        return ok();
    }
    bool EndCall(int line) override {
        if (!begin("EndCall", {line}, Need::Line, line)) return false;
        // Like the real engine: a line whose call already ended (failed, hung up) has nothing to end;
        // a local hang-up raises no CallHungUp.
        if (m_lines[line].busy) endLine(line);
        return ok();
    }
    bool AnswerCall(int line, const QString& callId, int inputDevice, int outputDevice) override {
        if (!begin("AnswerCall", {line, callId, inputDevice, outputDevice}, Need::FreeLine, line)) return false;
        if (!m_incoming.remove(callId)) return fail(EngineError::InvalidCallId);
        m_lines[line].busy = true;
        later(0, line, m_lines[line].generation, [=] { connectLine(line, QString(), Codec::G711U); });
        return ok();
    }
    bool RefuseCall(const QString& callId) override {
        return begin("RefuseCall", {callId}) && (m_incoming.remove(callId) ? ok() : fail(EngineError::InvalidCallId));
    }
    bool HoldCall(int line) override { return setHold("HoldCall", line, true); }
    bool ResumeCall(int line) override { return setHold("ResumeCall", line, false); }
    bool TransferCall(int line, const QString& number) override {
        if (!begin("TransferCall", {line, number}, Need::InCall, line)) return false;
        if (number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        later(0, line, m_lines[line].generation, [=] { Q_EMIT TransferAccepted(line); });
        return ok();
    }
    bool JoinLines(int lineA, int lineB) override {
        if (!begin("JoinLines", {lineA, lineB}, Need::InCall, lineA) || !checkInCall(lineB)) return false;
        m_lines[lineA].onHold = m_lines[lineB].onHold = false;
        return ok();
    }
    void DndOn() override { record("DndOn", {}), m_dnd = true; }
    void DndOff() override { record("DndOff", {}), m_dnd = false; }
    bool ForwardCalls(bool enable, const QString& number) override {
        if (!begin("ForwardCalls", {enable, number})) return false;
        if (enable && number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        m_forwarding = enable;
        m_forwardNumber = enable ? number : QString();
        return ok();
    }

    bool SendDtmfDigit(int line, const QString& digit) override {
        if (!begin("SendDtmfDigit", {line, digit}, Need::InCall, line)) return false;
        const bool valid = digit.size() == 1 && QStringLiteral("0123456789*#ABCDabcd").contains(digit);
        return valid ? ok() : fail(EngineError::InvalidValue);
    }
    void ForceInbandDtmfOn(int line) override { record("ForceInbandDtmfOn", {line}); }
    void ForceInbandDtmfOff(int line) override { record("ForceInbandDtmfOff", {line}); }

    int InputDeviceCount() override { return record("InputDeviceCount", {}), int(m_inputs.size()); }
    int OutputDeviceCount() override { return record("OutputDeviceCount", {}), int(m_outputs.size()); }
    QString InputDeviceName(int index) override { return record("InputDeviceName", {index}), m_inputs.value(index); }
    QString OutputDeviceName(int index) override { return record("OutputDeviceName", {index}), m_outputs.value(index); }
    bool SetMicMute(bool mute) override { return begin("SetMicMute", {mute}) && (m_micMuted = mute, ok()); }
    bool SetSpeakerMute(bool mute) override { return begin("SetSpeakerMute", {mute}) && (m_speakerMuted = mute, ok()); }
    bool MuteLineSpeaker(int line, bool mute) override {
        return begin("MuteLineSpeaker", {line, mute}, Need::Line, line) && ok();
    }
    bool MuteLineMic(int line, bool mute) override {
        return begin("MuteLineMic", {line, mute}, Need::Line, line) && ok();
    }
    int MicVolume() override { return record("MicVolume", {}), m_micVolume; }
    int SpeakerVolume() override { return record("SpeakerVolume", {}), m_speakerVolume; }
    bool SetMicVolume(int volume) override { return setVolume("SetMicVolume", volume, m_micVolume); }
    bool SetSpeakerVolume(int volume) override { return setVolume("SetSpeakerVolume", volume, m_speakerVolume); }
    int MicLevel() override { return m_micLevel; }         // polled every 20 ms: not recorded
    int SpeakerLevel() override { return m_speakerLevel; } // likewise
    void MicBoostOn() override { record("MicBoostOn", {}), m_micBoost = true; }
    void MicBoostOff() override { record("MicBoostOff", {}), m_micBoost = false; }
    bool IsMicBoostOn() override { return record("IsMicBoostOn", {}), m_micBoost; }
    bool AgcOn(int level) override { return begin("AgcOn", {level}) && ok(); }
    void AgcOff() override { record("AgcOff", {}); }
    void EchoCancelOn() override { record("EchoCancelOn", {}); }
    void EchoCancelOff() override { record("EchoCancelOff", {}); }
    void DeselectAllCodecs() override { record("DeselectAllCodecs", {}); }
    bool EnableCodec(int codec) override { return setCodec("EnableCodec", codec); }
    bool DisableCodec(int codec) override { return setCodec("DisableCodec", codec); }

    bool StartRecording(int line, int mode, bool flag) override {
        if (!begin("StartRecording", {line, mode, flag}, Need::InCall, line)) return false;
        m_lines[line].recording = m_lines[line].hasRecording = true;
        return ok();
    }
    bool StopRecording(int line) override {
        return begin("StopRecording", {line}, Need::Line, line) && (m_lines[line].recording = false, ok());
    }
    // Like the real engine: a line whose media run records on into the emptied buffer; a held line
    // stops recording.
    void ResetRecording(int line) override {
        record("ResetRecording", {line});
        if (!m_lines.contains(line)) return;
        Line& l = m_lines[line];
        l.recording = l.hasRecording = l.recording && l.connected && !l.onHold;
    }
    // Writes a short silent 8 kHz mono wave at path, so that file handling can be checked.
    bool SaveRecording(int line, const QString& path) override {
        if (!begin("SaveRecording", {line, path}, Need::Line, line)) return false;
        if (!m_lines[line].hasRecording) return fail(EngineError::RecordingInit);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(EngineError::WaveWrite);
        const quint32 dataBytes = 1600;
        QDataStream out(&f);
        out.setByteOrder(QDataStream::LittleEndian);
        out.writeRawData("RIFF", 4);
        out << quint32(36 + dataBytes);
        out.writeRawData("WAVEfmt ", 8);
        out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
        out.writeRawData("data", 4);
        out << dataBytes;
        f.write(QByteArray(int(dataBytes), '\0'));
        return ok();
    }
    bool RecordingLineOp(int line) override { return record("RecordingLineOp", {line}), m_lines.value(line).recording; }

    bool PlayWaveOpen(int line, const QString& path) override {
        if (!begin("PlayWaveOpen", {line, path}, Need::Line, line)) return false;
        if (!QFileInfo(path).isFile()) return fail(EngineError::WaveOpen);
        m_lines[line].waveOpen = true;
        m_lines[line].playPositionMs = 0;
        return ok();
    }
    bool PlayWaveStart(int line, bool listen) override {
        if (!begin("PlayWaveStart", {line, listen}, Need::Line, line)) return false;
        Line& l = m_lines[line];
        if (!l.waveOpen) return fail(EngineError::WaveRead);
        l.playing = true;
        if (m_waveDurationMs >= 0) {
            const quint64 wave = ++l.waveGeneration;
            // a later Start, Pause or Stop bumps the wave generation again: only the last start ends
            later(qMax(0, m_waveDurationMs - l.playPositionMs), line, l.generation, [=] {
                if (m_lines[line].waveGeneration != wave) return;
                m_lines[line].playing = m_lines[line].waveOpen = false;
                Q_EMIT PlayWaveDone(line);
            });
        }
        return ok();
    }
    bool PlayWavePause(int line) override { return stopWave("PlayWavePause", line, false); }
    bool PlayWaveStop(int line) override { return stopWave("PlayWaveStop", line, true); }
    bool PlayWavePosition(int line, int positionMs) override {
        if (!begin("PlayWavePosition", {line, positionMs}, Need::Line, line)) return false;
        if (positionMs < 0) return fail(EngineError::InvalidValue);
        m_lines[line].playPositionMs = positionMs;
        return ok();
    }
    int PlayWaveGetPosition(int line) override {
        return record("PlayWaveGetPosition", {line}), m_lines.value(line).playPositionMs;
    }
    bool IsLinePlayingWave(int line) override {
        return record("IsLinePlayingWave", {line}), m_lines.value(line).playing;
    }

    bool ChatAddContact(const QString& userName) override {
        return begin("ChatAddContact", {userName}, Need::Online) && ok();
    }
    bool ChatRemoveContact(const QString& userName) override { return begin("ChatRemoveContact", {userName}) && ok(); }
    bool ChatSetStatus(int status) override { return begin("ChatSetStatus", {status}, Need::Online) && ok(); }
    bool ChatSendMessage(const QString& userName, const QString& text, int a, int b) override {
        return begin("ChatSendMessage", {userName, text, a, b}, Need::Online) && ok();
    }

private:
    struct Failure {
        int code = 0;
        int remaining = 0; // -1: always
    };
    // What an operation needs before it can act.
    enum class Need { Nothing, Online, Line, FreeLine, InCall };

    void record(const char* name, const QVariantList& args) { m_calls.append({QString::fromLatin1(name), args}); }
    // Records the operation; false (with LastErrorCode set) for a scripted failure or an unmet need.
    bool begin(const char* name, const QVariantList& args, Need need = Need::Nothing, int line = -1) {
        record(name, args);
        auto it = m_failures.find(QString::fromLatin1(name));
        if (it != m_failures.end() && it->remaining != 0) {
            m_lastError = it->code;
            if (it->remaining > 0 && --it->remaining == 0) m_failures.erase(it);
            return false;
        }
        switch (need) {
        case Need::Nothing:
            return true;
        case Need::Online:
            return m_started || fail(EngineError::NotOnline);
        case Need::Line:
        case Need::FreeLine:
            return checkLine(line, need == Need::Line);
        case Need::InCall:
            return checkInCall(line);
        }
        return true;
    }
    bool ok() {
        m_lastError = EngineError::None;
        return true;
    }
    bool fail(int code) {
        m_lastError = code;
        return false;
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
        return checkLine(line, true) && (m_lines[line].connected || fail(EngineError::NotInVoiceSession));
    }
    bool setHold(const char* name, int line, bool hold) {
        return begin(name, {line}, Need::InCall, line) && (m_lines[line].onHold = hold, ok());
    }
    bool setVolume(const char* name, int volume, int& target) {
        if (!begin(name, {volume})) return false;
        if (volume < 0 || volume > 255) return fail(EngineError::InvalidValue);
        target = volume;
        return ok();
    }
    bool setCodec(const char* name, int codec) {
        if (!begin(name, {codec})) return false;
        return codec >= Codec::GSM610 && codec <= Codec::G729 ? ok() : fail(EngineError::CodecUnsupported);
    }
    bool stopWave(const char* name, int line, bool close) {
        if (!begin(name, {line}, Need::Line, line)) return false;
        Line& l = m_lines[line];
        l.playing = false;
        l.waveOpen = l.waveOpen && !close;
        l.waveGeneration++;
        return ok();
    }
    void connectLine(int line, const QString& remote, int codec) {
        if (m_lines.contains(line)) m_lines[line].busy = m_lines[line].connected = true;
        Q_EMIT CallConnected(line, remote, codec);
    }
    void endLine(int line) {
        if (!m_lines.contains(line)) return;
        Line& l = m_lines[line];
        l.generation++;
        l.busy = l.connected = l.onHold = l.playing = l.waveOpen = l.recording = false;
    }
    void hangUpLine(int line) {
        endLine(line);
        Q_EMIT CallHungUp(line);
    }
    // A final failure: the response event of the code's class, then CallFailed; the line is free.
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
            if (m_lines.contains(line) && m_lines[line].generation == generation) fn();
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
    QString m_localAddress = QStringLiteral("127.0.0.1");
    QString m_userAgent;
    QString m_forwardNumber;
    int m_lastError = EngineError::None;
    int m_sipPort = 0;
    int m_micVolume = 200;
    int m_speakerVolume = 200;
    int m_micLevel = 0;
    int m_speakerLevel = 0;
    int m_waveDurationMs = -1;
    bool m_started = false;
    bool m_registered = false;
    bool m_dnd = false;
    bool m_forwarding = false;
    bool m_micMuted = false;
    bool m_speakerMuted = false;
    bool m_micBoost = false;
};

} // namespace corvid
