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
        forgetIncoming(call, true);
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
        // A ringing call that ends here was not answered: the caller gave up, or it rang out.
        if (isFinished(state)) forgetIncoming(call, true);
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
    if (placeAgainInClear(line, call)) return;
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

    // The call's record keeps what its end said; the counts are read while the streams are there.
    readCallQuality(l);
    l.quality.endedByFarEnd = !l.endedByUs;
    if (l.connected || l.answered) {
        l.quality.inviteStatus = 200;
        l.quality.inviteReason = QStringLiteral("OK");
        // A BYE or CANCEL answered as usual leaves no error; its answer was 200.
        l.quality.endStatus = code > 0 ? code : 200;
        l.quality.endReason = code > 0 ? phrase : QStringLiteral("OK");
    } else {
        l.quality.inviteStatus = code;
        l.quality.inviteReason = phrase;
        l.quality.endStatus = code > 0 ? code : (l.endedByUs ? 487 : 0);
        l.quality.endReason = code > 0 ? phrase : (l.endedByUs ? QStringLiteral("Request Terminated") : QString());
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
    // Refused because the proxy does not know this phone (its registrar restarted and forgot it):
    // one REGISTER, then the call once more, before anything is reported.
    if (!l.retried && reg == Reg::Registered && refusedAsUnregistered(code, phrase) && account) {
        l.retried = l.retrying = true;
        l.connectingSent = true; // the window heard of this attempt; the second call is the same one
        l.refusedCode = code;
        l.refusedPhrase = phrase;
        if (!probing) {
            probing = true;
            account->refreshRegister();
            noAnswerTimer.start(kNoAnswerMs);
        }
        wake();
        return;
    }
    reportFailure(line, code, phrase);
}

void LinphoneEngine::Impl::placeRetries(bool registered) {
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& l = lines[i];
        if (!l.retrying) continue;
        l.retrying = false;
        std::shared_ptr<lp::AudioDevice> input, output;
        if (registered && !l.call && pickDevices(l.inputDevice, l.outputDevice, input, output) &&
            placeCall(int(i), input, output))
            continue;
        reportFailure(int(i), l.refusedCode, l.refusedPhrase);
    }
}

// A call that ends before it was connected failed. The final response is routed by its status
// code: a 603 ends the call in the library's End state, a 486 in its Error state.
void LinphoneEngine::Impl::reportFailure(int line, int code, const QString& phrase) {
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

// A far end that answers an SRTP offer with clear RTP (RTP/AVP): the library finds no stream of
// the answer that matches its offer and ends the answered call before its media run. With SRTP
// optional the call is placed once more on the same line, without SRTP, as the library itself does
// after a 488 to the SRTP offer; the window hears of no failure and sees the call connect unencrypted.
// The new call is placed outside the library's callback: it reports this state from within its
// handling of the answer, before its ACK is sent.
bool LinphoneEngine::Impl::placeAgainInClear(int line, const std::shared_ptr<lp::Call>& failed) {
    Line& l = lines[size_t(line)];
    if (!activeSecurity.srtp || activeSecurity.srtpMandatory || !l.answered || l.connected || l.endedByUs ||
        l.placedInClear || !failed->getRemoteAddress())
        return false;
    auto params = failed->getParams();
    if (!params || params->getMediaEncryption() != lp::MediaEncryption::SRTP) return false;
    const auto address = failed->getRemoteAddress()->clone();
    l.call.reset();
    l.answered = false;
    l.placedInClear = true;
    post([this, line, address] {
        if (!core || line >= int(lines.size())) return;
        Line& again = lines[size_t(line)];
        if (again.call || !again.placedInClear) return; // the line was ended or reused meanwhile
        auto params = core->createCallParams(nullptr);
        params->enableVideo(false);
        params->setMediaEncryption(lp::MediaEncryption::None);
        params->setRecordFile(str(again.buffer.recordPath()));
        placingLine = line;
        auto call = core->inviteAddressWithParams(address, params);
        placingLine = -1;
        if (call && !again.call) again.call = call;
        if (!call) post([q = q, line] { emit q->CallFailed(line); });
    });
    return true;
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
    answerAfter.insert(callId, pbxAnswerAfter(call));
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

void LinphoneEngine::Impl::forgetIncoming(const std::shared_ptr<lp::Call>& call, bool tell) {
    for (auto it = incoming.begin(); it != incoming.end(); ++it) {
        if (it.value()->cPtr() != call->cPtr()) continue;
        const QString callId = it.key();
        incoming.erase(it);
        answerAfter.remove(callId);
        if (tell) post([q = q, callId] { emit q->IncomingCallEnded(callId); });
        return;
    }
}

int LinphoneEngine::Impl::pbxAnswerAfter(const std::shared_ptr<lp::Call>& call) const {
    auto params = call->getRemoteParams();
    if (!params) return -1;
    const int after =
        autoAnswerAfter(qstr(params->getCustomHeader("Call-Info")), qstr(params->getCustomHeader("Alert-Info")));
    if (after < 0) return -1;
    // Only the registrar or outbound proxy may ask: the packet's source, as the library wrote it
    // into the top Via, must be that server.
    const bool tls = activeSecurity.transport == SipSecurity::Transport::Tls;
    return viaFromServer(qstr(params->getCustomHeader("Via")), serverHostPort, serverAddresses, tls) ? after : -1;
}

void LinphoneEngine::Impl::onTransferState(const std::shared_ptr<lp::Call>& call, lp::Call::State state) {
    const int line = lineOf(call);
    if (line < 0) return;
    Line& l = lines[size_t(line)];
    if (state == lp::Call::State::OutgoingProgress) {
        l.transferTaken = true;
    } else if (state == lp::Call::State::Connected) {
        // The library ends the transferred call itself; that end is the transfer's, not the far end's.
        l.endedByUs = true;
        watchTransferMessages(false);
        post([q = q, line] { emit q->TransferAccepted(line); });
    } else if (state == lp::Call::State::Error) {
        // Refused by the far end (the REFER's answer), or taken and then failed (the new call's
        // answer, as the far end reports it): the target is named only in the second case.
        const TransferAnswer answer = l.transferTaken ? targetAnswer : referRefusal;
        const QString target = l.transferTaken ? l.transferTarget : QString();
        const int code = answer.code;
        const QString reason = answer.reason.isEmpty() ? QStringLiteral("Transfer failed") : answer.reason;
        watchTransferMessages(false);
        post([q = q, line, code, reason, target] { emit q->TransferFailed(line, code, reason, target); });
    }
}

// --- calls ---------------------------------------------------------------------------------------

bool LinphoneEngine::PlaceCall(int line, QString& number, int inputDevice, int outputDevice) {
    if (!d->checkOpenLine(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    if (l.call || l.retrying || l.unheardEnds > 0) return d->fail(EngineError::LineBusy);
    const QString target = dialTarget(number);
    if (target.isEmpty()) return d->fail(EngineError::InvalidUri);
    // The library sets up one outgoing call at a time ("sound resources locked"): a second one is
    // refused until the first is answered or has failed.
    for (const auto& other : d->core->getCalls())
        if (isSettingUp(other->getState())) return d->fail(EngineError::ConnectRequest);
    if (!d->anyCodecEnabled()) return d->fail(EngineError::Sdp);
    std::shared_ptr<lp::AudioDevice> input, output;
    if (!d->pickDevices(inputDevice, outputDevice, input, output)) return false;
    l.target = target;
    l.inputDevice = inputDevice;
    l.outputDevice = outputDevice;
    l.retried = false;
    l.placedInClear = false;
    l.connectingSent = false;
    if (!d->placeCall(line, input, output)) return false;
    number = target;
    return true;
}

bool LinphoneEngine::Impl::placeCall(int line, const std::shared_ptr<lp::AudioDevice>& input,
                                     const std::shared_ptr<lp::AudioDevice>& output) {
    Line& l = lines[size_t(line)];
    auto address = core->interpretUrl(str(l.target));
    if (!address) return fail(EngineError::InvalidUri);

    // A recording belongs to its call: what an earlier call left unsaved goes now.
    discardRecording(line);
    makeRoomForCall();
    setAudioPort(l.rtpPort);
    // The DTMF method is taken from the core when the call's offer is made.
    core->setUseRfc2833ForDtmf(!l.forceInband);
    core->setUseInfoForDtmf(false);
    auto params = core->createCallParams(nullptr);
    params->enableVideo(false);
    params->setRecordFile(str(l.buffer.recordPath()));
    l.callInband = l.forceInband;
    const bool connectingSent = l.connectingSent; // a call placed again is still the same attempt
    l.provisionalSent = 0;
    l.connected = false;
    l.endedByUs = false;
    l.onHold = false;
    l.quality = CallQuality{};
    placingLine = line;
    auto call = core->inviteAddressWithParams(address, params);
    placingLine = -1;
    core->setUseRfc2833ForDtmf(true);
    if (!call) {
        // Refused before anything was sent: no event follows.
        l.call.reset();
        l.connectingSent = connectingSent;
        return fail(EngineError::ConnectRequest);
    }
    wake();
    // A call that failed while it was created has left the line already; its events are queued.
    if (!l.call) return true;
    l.call = call;
    if (input) call->setInputAudioDevice(input);
    if (output) call->setOutputAudioDevice(output);
    return true;
}

bool LinphoneEngine::EndCall(int line) {
    if (!d->checkLineTable(line)) return false;
    Impl::Line& l = d->lines[size_t(line)];
    // A call that has sent nothing since the last check may be on a sound device that hangs: its
    // media stop would hang the window. The calls move to the file devices first, off the GUI
    // thread, and this one ends once that is done.
    if (!d->away && !d->files && l.call && l.rtpStillChecks > 0 &&
        l.call->getState() == lp::Call::State::StreamsRunning)
        d->switchToSoundFiles();
    if (d->away) {
        // Ended when the library is back; a call given up with it is already being ended.
        l.endWanted = bool(l.call) && !l.stranded;
        l.stranded = false;
        l.endedByUs = true;
        if (l.recording) d->stopRecordingOf(line);
        return true;
    }
    // A line whose call has already ended (a failed call, a far-end hang-up) has nothing to end; a
    // call waiting to be placed again (registered first, or in clear) is not placed.
    l.retrying = false;
    if (!l.call) {
        l.placedInClear = false;
        return true;
    }
    l.endedByUs = true;
    d->wake();
    d->readCallQuality(l); // the streams stop with the end
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
    d->answerAfter.remove(callId);
    l.call = call;
    l.quality = CallQuality{};
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
    return RejectCall(callId, 603);
}

bool LinphoneEngine::RejectCall(const QString& callId, int statusCode) {
    if (!d->checkStarted()) return false;
    if (statusCode != 486 && statusCode != 603) return d->fail(EngineError::InvalidValue);
    auto call = d->incoming.value(callId);
    if (!call) return d->fail(EngineError::InvalidCallId);
    d->forgetIncoming(call, false);
    if (call->decline(statusCode == 486 ? lp::Reason::Busy : lp::Reason::Declined) != 0)
        return d->fail(EngineError::DisconnectRequest);
    d->wake();
    return true;
}

int LinphoneEngine::PbxAnswerAfter(const QString& callId) {
    return d->answerAfter.value(callId, -1);
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
    d->watchTransferMessages(true);
    if (call->transferTo(address) != 0) {
        d->watchTransferMessages(false);
        return d->fail(EngineError::ConnectRequest);
    }
    Impl::Line& l = d->lines[size_t(line)];
    l.transferTarget = number.trimmed();
    l.transferTaken = false;
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
