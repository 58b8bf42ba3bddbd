#pragma once
// A scriptable SipEngine for window tests. Every operation is recorded with its arguments; failNext
// makes operations fail with their codes. Start, lines, registration,
// calls, mutes and recording refuse what the real engine refuses; other operations only record
// themselves. PlaceCall reports CallConnecting and 180, then answers at once (or never, after
// setAnswering(false)). Events are always
// queued, never raised inside the operation that caused them.

#include "engine/SipEngine.h"
#include "testbed/TestBed.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

#include <functional>

namespace corvid {

class FakeEngine : public SipEngine {
public:
    struct Call {
        QString name;
        QVariantList args;
    };

    struct Line {
        bool open = false;
        int rtpPort = 0;
        bool busy = false;
        bool connected = false;
        bool onHold = false;
        bool playing = false;
        bool recording = false;
        bool hasRecording = false;
        quint64 generation = 0; // bumps when the line's call ends: pending scripted events then lapse
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
    // One argument of every call of that name, in order.
    QVariantList args(const QString& name, int argument) const {
        QVariantList out;
        for (const Call& c : m_calls)
            if (c.name == name) out << c.args.value(argument);
        return out;
    }
    int count(const QString& name) const { return int(callNames().count(name)); }
    // The arguments of the last call of that name (empty when there was none).
    QVariantList last(const QString& name) const {
        for (auto c = m_calls.crbegin(); c != m_calls.crend(); ++c)
            if (c->name == name) return c->args;
        return {};
    }
    void clearCalls() { m_calls.clear(); }

    // --- scripted results --------------------------------------------------------------------
    // The next times calls of operation fail with errorCode (times -1: every call).
    void failNext(const QString& operation, int errorCode, int times = 1) {
        m_failures[operation] = {errorCode, times};
    }
    void setAnswering(bool answers) { m_answers = answers; }

    // --- state ---------------------------------------------------------------------------
    bool isStarted() const { return m_started; }
    Line line(int index) const { return m_lines.value(index); }
    Line& lineRef(int index) { return m_lines[index]; }

    // --- events on demand (queued, with the line table kept in step) ------------------------
    template <typename... Params, typename... Args> void fire(void (SipEngine::*event)(Params...), Args... args) {
        post([=] { (this->*event)(args...); });
    }
    void fireCallConnected(int line) { post([=] { connectLine(line, QString(), Codec::G711U); }); }
    // The line's call ends with event: CallHungUp, CallFailed, or (like the real engine, without a
    // CallHungUp) TransferAccepted when the far end took the transfer.
    void fireCallEnd(void (SipEngine::*event)(int), int line) {
        post([=] { endLine(line), (this->*event)(line); });
    }
    void fireCallHungUp(int line) { fireCallEnd(&SipEngine::CallHungUp, line); }

    // --- SipEngine: start, registration and lines ------------------------------------------
    bool EngineStart(bool flag, QString& localAddress, int sipPort, const QString& userName, const QString& authLogin,
                     const QString& password, const QString& displayName, const QString& domain, const QString& proxy,
                     const QString& empty, bool captureSoundDevice, int lineCount) override {
        if (!begin("EngineStart", {flag, localAddress, sipPort, userName, authLogin, password, displayName, domain,
                                   proxy, empty, captureSoundDevice, lineCount}))
            return false;
        if (m_started) return fail(EngineError::PortInUse);
        if (localAddress.isEmpty()) localAddress = QStringLiteral("127.0.0.1");
        m_started = true;
        m_lines.clear();
        for (int i = 0; i < lineCount; ++i)
            m_lines[i] = Line{};
        return ok();
    }
    void EngineStop() override {
        record("EngineStop", {});
        m_lines.clear();
        m_started = false;
    }
    int LastErrorCode() const override { return m_lastError; }
    QString GetLocalAddress() override { return record("GetLocalAddress", {}), QStringLiteral("127.0.0.1"); }
    void SetUserAgent(const QString& text) override { record("SetUserAgent", {text}); }
    bool SetEngineInterval(int ms) override { return begin("SetEngineInterval", {ms}); }
    // The registrar answers 200 to registering and to unregistering (expiry 0).
    bool RegisterToProxy(int expirySeconds) override {
        if (!begin("RegisterToProxy", {expirySeconds}, Need::Online)) return false;
        fire(expirySeconds == 0 ? &SipEngine::UnregisterTrying : &SipEngine::RegisterTrying);
        fire(expirySeconds == 0 ? &SipEngine::UnregisterSucceeded : &SipEngine::RegisterSucceeded);
        return ok();
    }
    bool OpenLine(int line, bool flag, QString& localAddress, int rtpPort) override {
        if (!begin("OpenLine", {line, flag, localAddress, rtpPort}, Need::Online)) return false;
        if (!m_lines.contains(line)) return fail(EngineError::InvalidLine);
        m_lines[line].open = true;
        m_lines[line].rtpPort = rtpPort;
        return ok();
    }
    bool IsLineOpen(int line) override { return record("IsLineOpen", {line}), m_lines.value(line).open; }
    bool IsLineOnHold(int line) override { return record("IsLineOnHold", {line}), m_lines.value(line).onHold; }
    bool IsLineBusy(int line) override { return record("IsLineBusy", {line}), m_lines.value(line).busy; }

    // --- calls -------------------------------------------------------------------------------
    bool PlaceCall(int line, QString& number, int inputDevice, int outputDevice) override {
        if (!begin("PlaceCall", {line, number, inputDevice, outputDevice}, Need::FreeLine, line)) return false;
        if (number.trimmed().isEmpty()) return fail(EngineError::InvalidUri);
        m_lines[line].busy = true;
        const quint64 gen = m_lines[line].generation;
        const QString remote = QStringLiteral("sip:%1@fake.invalid").arg(number);
        fire(&SipEngine::CallConnecting, line);
        later(line, gen, [=] { Q_EMIT ProvisionalResponse(line, 180, QStringLiteral("Ringing")); });
        if (m_answers) later(line, gen, [=] { connectLine(line, remote, Codec::G711U); });
        return ok();
    }
    // Like the real engine: a line whose call already ended has nothing to end; a local hang-up
    // raises no CallHungUp.
    bool EndCall(int line) override {
        if (!begin("EndCall", {line}, Need::Line, line)) return false;
        if (m_lines[line].busy) endLine(line);
        return ok();
    }
    // Connects at once, like a caller whose media start when answered.
    bool AnswerCall(int line, const QString& id, int in, int out) override {
        if (!begin("AnswerCall", {line, id, in, out}, Need::FreeLine, line)) return false;
        m_lines[line].busy = true;
        later(line, m_lines[line].generation, [=] { connectLine(line, QString(), Codec::G711U); });
        return true;
    }
    bool RefuseCall(const QString& callId) override { return begin("RefuseCall", {callId}); }
    bool RejectCall(const QString& callId, int code) override { return begin("RejectCall", {callId, code}); }
    // The seconds the PBX asked for, by call id (PbxAnswerAfter); -1 for others.
    QHash<QString, int> answerAfter;
    int PbxAnswerAfter(const QString& callId) override { return answerAfter.value(callId, -1); }
    bool HoldCall(int line) override { return setHold("HoldCall", line, true); }
    bool ResumeCall(int line) override { return setHold("ResumeCall", line, false); }
    bool TransferCall(int line, const QString& number) override {
        return begin("TransferCall", {line, number}, Need::InCall, line);
    }
    bool JoinLines(int lineA, int lineB) override { return begin("JoinLines", {lineA, lineB}); }
    void DndOn() override { record("DndOn", {}); }
    void DndOff() override { record("DndOff", {}); }
    bool ForwardCalls(bool enable, const QString& number) override { return begin("ForwardCalls", {enable, number}); }
    bool SendDtmfDigit(int line, const QString& digit) override {
        return begin("SendDtmfDigit", {line, digit}, Need::InCall, line);
    }
    void ForceInbandDtmfOn(int line) override { record("ForceInbandDtmfOn", {line}); }
    void ForceInbandDtmfOff(int line) override { record("ForceInbandDtmfOff", {line}); }

    // --- audio -------------------------------------------------------------------------------
    // The sound card's devices, and the levels the bars poll every 20 ms (not recorded).
    QStringList inputs{QStringLiteral("Fake Microphone")};
    QStringList outputs{QStringLiteral("Fake Speaker")};
    int micLevel = 0;
    int speakerLevel = 0;
    int InputDeviceCount() override { return int(inputs.size()); }
    int OutputDeviceCount() override { return int(outputs.size()); }
    QString InputDeviceName(int i) override { return inputs.value(i); }
    QString OutputDeviceName(int i) override { return outputs.value(i); }
    bool SetMicMute(bool mute) override { return begin("SetMicMute", {mute}); }
    bool SetSpeakerMute(bool mute) override { return begin("SetSpeakerMute", {mute}); }
    bool MuteLineSpeaker(int line, bool mute) override {
        return begin("MuteLineSpeaker", {line, mute}, Need::Line, line);
    }
    bool MuteLineMic(int line, bool mute) override { return begin("MuteLineMic", {line, mute}, Need::Line, line); }
    int MicVolume() override { return 200; }
    int SpeakerVolume() override { return 200; }
    bool SetMicVolume(int volume) override { return begin("SetMicVolume", {volume}); }
    bool SetSpeakerVolume(int volume) override { return begin("SetSpeakerVolume", {volume}); }
    int MicLevel() override { return micLevel; }
    int SpeakerLevel() override { return speakerLevel; }
    void MicBoostOn() override { record("MicBoostOn", {}); }
    void MicBoostOff() override { record("MicBoostOff", {}); }
    bool IsMicBoostOn() override { return false; }
    bool AgcOn(int level) override { return begin("AgcOn", {level}); }
    void AgcOff() override { record("AgcOff", {}); }
    void EchoCancelOn() override { record("EchoCancelOn", {}); }
    void EchoCancelOff() override { record("EchoCancelOff", {}); }
    void DeselectAllCodecs() override { record("DeselectAllCodecs", {}); }
    bool EnableCodec(int codec) override { return begin("EnableCodec", {codec}); }
    bool DisableCodec(int codec) override { return begin("DisableCodec", {codec}); }

    // --- recording and waves -------------------------------------------------------------------
    bool StartRecording(int line, int mode, bool flag) override {
        return begin("StartRecording", {line, mode, flag}, Need::InCall, line) &&
               (m_lines[line].recording = m_lines[line].hasRecording = true);
    }
    bool StopRecording(int line) override {
        return begin("StopRecording", {line}, Need::Line, line) && !(m_lines[line].recording = false);
    }
    // Like the real engine: a line whose media run records on into the emptied buffer; a held line
    // stops recording.
    void ResetRecording(int line) override {
        record("ResetRecording", {line});
        if (!m_lines.contains(line)) return;
        Line& l = m_lines[line];
        l.recording = l.hasRecording = l.recording && l.connected && !l.onHold;
    }
    // Writes 100 ms of silence at path, so that file handling can be checked.
    bool SaveRecording(int line, const QString& path) override {
        if (!begin("SaveRecording", {line, path}, Need::Line, line)) return false;
        if (!m_lines[line].hasRecording) return fail(EngineError::RecordingInit);
        return test::writeToneWave(path, 0, 100) ? ok() : fail(EngineError::WaveWrite);
    }
    bool RecordingLineOp(int line) override { return record("RecordingLineOp", {line}), m_lines.value(line).recording; }
    bool PlayWaveOpen(int line, const QString& path) override { return begin("PlayWaveOpen", {line, path}); }
    bool PlayWaveStart(int line, bool listen) override { return begin("PlayWaveStart", {line, listen}); }
    bool PlayWavePause(int line) override { return begin("PlayWavePause", {line}); }
    bool PlayWaveStop(int line) override { return begin("PlayWaveStop", {line}); }
    bool PlayWavePosition(int line, int ms) override { return begin("PlayWavePosition", {line, ms}); }
    int PlayWaveGetPosition(int line) override { return record("PlayWaveGetPosition", {line}), 0; }
    bool IsLinePlayingWave(int line) override { return record("IsLinePlayingWave", {line}), m_lines[line].playing; }

    // --- chat ----------------------------------------------------------------------------------
    bool ChatAddContact(const QString& userName) override { return begin("ChatAddContact", {userName}); }
    bool ChatRemoveContact(const QString& userName) override { return begin("ChatRemoveContact", {userName}); }
    bool ChatSetStatus(int status) override { return begin("ChatSetStatus", {status}); }
    bool ChatSendMessage(const QString& user, const QString& text, int a, int b) override {
        return begin("ChatSendMessage", {user, text, a, b});
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
        if (need == Need::Nothing) return ok();
        if (!m_started) return fail(EngineError::NotOnline);
        if (need == Need::Online) return ok();
        if (!m_lines.contains(line)) return fail(EngineError::InvalidLine);
        if (!m_lines[line].open) return fail(EngineError::LineNotOpen);
        if (need == Need::FreeLine && m_lines[line].busy) return fail(EngineError::LineBusy);
        if (need == Need::InCall && !m_lines[line].connected) return fail(EngineError::NotInVoiceSession);
        return ok();
    }
    bool ok() {
        m_lastError = EngineError::None;
        return true;
    }
    bool fail(int code) {
        m_lastError = code;
        return false;
    }
    bool setHold(const char* name, int line, bool hold) {
        return begin(name, {line}, Need::InCall, line) && ((m_lines[line].onHold = hold), true);
    }
    void connectLine(int line, const QString& remote, int codec) {
        if (m_lines.contains(line)) m_lines[line].busy = m_lines[line].connected = true;
        Q_EMIT CallConnected(line, remote, codec);
    }
    void endLine(int line) {
        if (!m_lines.contains(line)) return;
        Line& l = m_lines[line];
        l.generation++;
        l.busy = l.connected = l.onHold = l.playing = l.recording = false;
    }
    // Queued: runs from the event loop, after the current operation has returned.
    void post(std::function<void()> fn) { QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection); }
    // Queued, and only while the line's call is still the same one.
    void later(int line, quint64 generation, std::function<void()> fn) {
        post([this, line, generation, fn = std::move(fn)] {
            if (m_lines.contains(line) && m_lines[line].generation == generation) fn();
        });
    }

    QList<Call> m_calls;
    QHash<QString, Failure> m_failures;
    bool m_answers = true;
    QMap<int, Line> m_lines;
    int m_lastError = EngineError::None;
    bool m_started = false;
};

} // namespace corvid
