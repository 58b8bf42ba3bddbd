// Calls: placing, answering, ending, hold, transfers, conferences, do-not-disturb, forwarding and
// DTMF, and the library's call states that become the boundary's call events.

#include "engine/linphone/LinphoneEngineImpl.h"

#include <QScopeGuard>

namespace corvid {

using namespace engine_rules;
using namespace engine_impl;

// Before an outgoing call: ringing calls the window has not taken are answered busy where they
// would make the library refuse the new call.
void LinphoneEngine::Impl::makeRoomForCall() {
    // Answers false when the library would not decline the call (it is then left alone).
    const auto declineRinging = [this](const std::shared_ptr<lp::Call>& call) {
        for (auto it = incoming.begin(); it != incoming.end(); ++it) {
            if (it.value()->cPtr() == call->cPtr()) {
                incoming.erase(it);
                break;
            }
        }
        return call->decline(lp::Reason::Busy) == 0;
    };
    // The library makes a ringing call its current call and, before it places a new one, holds
    // the current call; a call that rings cannot be held, so the new call would be refused.
    for (auto current = core->getCurrentCall();
         current && lineOf(current) < 0 && current->getState() == lp::Call::State::IncomingReceived;
         current = core->getCurrentCall()) {
        if (!declineRinging(current)) break;
    }
    // Calls that ring count against the library's call limit.
    while (core->getCallsNb() >= core->getMaxCalls() && !incoming.isEmpty()) {
        if (!declineRinging(incoming.begin().value())) break;
    }
}

// The far end asked us to transfer (REFER): the library ends our call and places the new one by
// itself. The new call takes over the line of the call it replaces, as a call of that line.
int LinphoneEngine::Impl::takeOverTransferredLine(const std::shared_ptr<lp::Call>& call) {
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
    l.answered = false;
    l.encrypted = false;
    l.endedByUs = false;
    l.onHold = false;
    l.callInband = false;
    return line;
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
    if (line < 0 && state == S::OutgoingInit && placingLine >= 0 && !lines[size_t(placingLine)].call) {
        // The first state of an outgoing call is reported while the library creates it. Another
        // call's state reported meanwhile (a ringing call that ends) is not the new call.
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
    case S::Connected:
        l.answered = true;
        break;
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
            l.encrypted = params && params->getMediaEncryption() == lp::MediaEncryption::SRTP;
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
        if (state == S::Paused && l.resumeAfterHold) {
            // Held only to restart its media without the sound card: resumed outside the callback.
            l.resumeAfterHold = false;
            post([this, call] {
                if (lineOf(call) >= 0 && call->getState() == lp::Call::State::Paused) call->resume();
            });
        }
        break;
    case S::End:
    case S::Error:
    case S::Released:
        finishCall(line);
        break;
    default:
        break;
    }
    if (joinA && (call == joinA || call == joinB)) joinWhenSettled();
}

void LinphoneEngine::Impl::finishCall(int line) {
    Line& l = lines[size_t(line)];
    std::shared_ptr<lp::Call> call = l.call;
    if (!call) return;
    auto info = call->getErrorInfo();
    int code = info ? info->getProtocolCode() : 0;
    QString phrase = info ? qstr(info->getPhrase()) : QString();
    // SRTP required and the far end refused it, or answered without it (the library then ends the
    // answered call before its media run): the call fails with words that say why, never with clear
    // audio.
    if (activeSecurity.srtpMandatory && !l.connected &&
        (l.answered || code == 488 || (info && info->getReason() == lp::Reason::NotAcceptable))) {
        code = 488;
        phrase = QStringLiteral("The far end does not accept encrypted audio (SRTP): the call is not made.");
    }

    stopRecordingOf(line);
    forgetWave(l);
    const bool byUs = l.endedByUs;
    const bool wasConnected = l.connected;
    l.call.reset();
    callHistoryToDrop = true;
    l.connectingSent = false;
    l.provisionalSent = 0;
    l.connected = false;
    l.endedByUs = false;
    l.onHold = false;
    l.encrypted = false;
    l.answered = false;
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
    ++l.unheardEnds;
    // Posted after the end's events, so it runs once the window has handled them.
    const auto heard = qScopeGuard([this, line] {
        post([this, line] {
            if (size_t(line) < lines.size() && lines[size_t(line)].unheardEnds > 0) --lines[size_t(line)].unheardEnds;
        });
    });
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
    noteRequest();
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
        if (lines[i].open && !lines[i].call && lines[i].unheardEnds == 0) {
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

// --- calls ---------------------------------------------------------------------------------------

bool LinphoneEngine::PlaceCall(int line, QString& number, int inputDevice, int outputDevice) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call || l.unheardEnds > 0) return d->fail(EngineError::LineBusy);
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

    // A recording belongs to its call: what an earlier call left unsaved goes now.
    d->discardRecording(line);
    d->makeRoomForCall();
    d->setAudioPort(l.rtpPort);
    // The DTMF method is taken from the core when the call's offer is made.
    d->core->setUseRfc2833ForDtmf(!l.forceInband);
    d->core->setUseInfoForDtmf(false);
    auto params = d->core->createCallParams(nullptr);
    params->enableVideo(false);
    params->setRecordFile(str(l.buffer.recordPath()));
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
    if (l.call || l.unheardEnds > 0) return d->fail(EngineError::LineBusy);
    auto call = d->incoming.value(callId);
    if (!call || call->getState() != lp::Call::State::IncomingReceived) return d->fail(EngineError::InvalidCallId);
    std::shared_ptr<lp::AudioDevice> input, output;
    if (!d->pickDevices(inputDevice, outputDevice, input, output)) return false;
    d->discardRecording(line);
    auto params = d->core->createCallParams(call);
    params->enableVideo(false);
    params->setRecordFile(str(l.buffer.recordPath()));
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
    bool changing = false;
    for (const auto& call : {a, b}) {
        const auto s = call->getState();
        if (isChanging(s))
            changing = true;
        else if (!isSettled(s))
            return d->fail(EngineError::NotInVoiceSession);
    }
    ++d->joinGeneration;
    if (changing) {
        // The window resumes one line just before it joins; the library holds the other line
        // meanwhile. The join follows as soon as both have settled.
        d->joinA = a;
        d->joinB = b;
        return true;
    }
    d->joinA.reset();
    d->joinB.reset();
    const int error = d->joinCalls(a, b);
    return error == EngineError::None ? true : d->fail(error);
}

int LinphoneEngine::Impl::joinCalls(const std::shared_ptr<lp::Call>& a, const std::shared_ptr<lp::Call>& b) {
    // A local conference mixes both calls with the agent.
    auto conference = core->getConference();
    if (!conference) {
        auto params = core->createConferenceParams();
        params->enableVideo(false);
        params->enableLocalParticipant(true);
        conference = core->createConferenceWithParams(params);
    }
    if (!conference) return EngineError::ConnectRequest;
    // addParticipant answers 1 on success in this library version: only -1 is a failure.
    for (const auto& call : {a, b}) {
        if (call->getConference()) continue;
        if (int(conference->addParticipant(call)) < 0) return EngineError::ConnectRequest;
    }
    for (const auto& call : {a, b}) {
        const int line = lineOf(call);
        if (line >= 0) lines[size_t(line)].onHold = false;
    }
    return EngineError::None;
}

void LinphoneEngine::Impl::joinWhenSettled() {
    if (!joinA || !joinB) return;
    const auto sa = joinA->getState(), sb = joinB->getState();
    if (isFinished(sa) || isFinished(sb) || lineOf(joinA) < 0 || lineOf(joinB) < 0) {
        joinA.reset();
        joinB.reset();
        return;
    }
    if (!isSettled(sa) || !isSettled(sb)) return;
    // Not inside the library's callback: the conference re-INVITEs both calls. The posted step
    // holds no call of its own: one stop or a newer join in between leaves it nothing to do.
    const quint64 pending = ++joinGeneration;
    post([this, pending] {
        if (pending != joinGeneration || !joinA || !joinB) return;
        const auto a = std::move(joinA), b = std::move(joinB);
        joinA.reset();
        joinB.reset();
        if (isSettled(a->getState()) && isSettled(b->getState())) joinCalls(a, b);
    });
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

} // namespace corvid
