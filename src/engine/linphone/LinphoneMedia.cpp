// Media: sound devices, volumes and mutes, gain control, echo cancelling, codecs, the lines'
// recording buffers and the playback of wave files into calls.

#include "engine/linphone/LinphoneEngineImpl.h"

#include <QFile>
#include <QFileInfo>

#include <linphone/core.h>
#include <linphone/api/c-call-stats.h>
#include <linphone/api/c-call.h>
#include <ortp/rtpsession.h>

#include <QHostAddress>
#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/mssndcard.h>

namespace corvid {

using namespace engine_rules;
using namespace engine_impl;

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

// The devices that can record (or play). Without a sound server the library still lists the
// sound system's default device, which can neither record nor play; its device object then
// carries capabilities that were never set (any value). A call on that device runs its media
// without a clock: nothing is sent and a recording stops after about a second. So the
// capabilities are read from the sound card itself.
bool LinphoneEngine::Impl::deviceCan(const std::shared_ptr<const lp::AudioDevice>& device,
                                     lp::AudioDevice::Capabilities cap) const {
    if (!core || !device) return false;
    MSSndCardManager* cards =
        ms_factory_get_snd_card_manager(linphone_core_get_ms_factory(reinterpret_cast<LinphoneCore*>(core->cPtr())));
    const MSSndCard* card = ms_snd_card_manager_get_card(cards, device->getId().c_str());
    const unsigned int wanted =
        cap == lp::AudioDevice::Capabilities::CapabilityRecord ? MS_SND_CARD_CAP_CAPTURE : MS_SND_CARD_CAP_PLAYBACK;
    return card && (ms_snd_card_get_capabilities(card) & wanted) != 0;
}

std::vector<std::shared_ptr<lp::AudioDevice>> LinphoneEngine::Impl::devices(lp::AudioDevice::Capabilities cap) const {
    std::vector<std::shared_ptr<lp::AudioDevice>> out;
    if (!core) return out;
    for (const auto& dev : core->getExtendedAudioDevices())
        if (deviceCan(dev, cap)) out.push_back(dev);
    return out;
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

QString LinphoneEngine::Impl::deviceName(lp::AudioDevice::Capabilities cap, int index) {
    if (!checkStarted()) return QString();
    const auto list = devices(cap);
    if (index < 0 || index >= int(list.size())) {
        fail(EngineError::InvalidValue);
        return QString();
    }
    return qstr(list[size_t(index)]->getDeviceName());
}

bool LinphoneEngine::Impl::pickDevices(int inputIndex, int outputIndex, std::shared_ptr<lp::AudioDevice>& input,
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

void LinphoneEngine::Impl::applyCallMutes(Line& l) {
    if (!l.call) return;
    l.call->setMicrophoneMuted(micMuted || l.micMuted);
    l.call->setSpeakerMuted(speakerMuted || l.speakerMuted);
}

// Goes on recording the line's call after a save or a reset stopped it: at once while the media
// run, otherwise (on hold, while resuming) once they run again.
void LinphoneEngine::Impl::resumeRecordingOf(int line) {
    Line& l = lines[size_t(line)];
    if (!l.call) return;
    if (away) {
        l.wantRecording = true; // the library is not to be touched now
    } else if (l.call->getState() == lp::Call::State::StreamsRunning) {
        l.call->startRecording();
        l.recording = true;
    } else {
        l.wantRecording = true;
    }
}

void LinphoneEngine::Impl::stopRecordingOf(int line) {
    Line& l = lines[line];
    l.wantRecording = false;
    if (l.recording && l.call && !away) l.call->stopRecording();
    l.recording = false;
    collectRecording(line);
}

void LinphoneEngine::Impl::startListening(Line& l) {
    if (!l.localPlayer) {
        auto out = core->getOutputAudioDevice();
        if (!out) out = core->getDefaultOutputAudioDevice();
        if (!deviceCan(out, lp::AudioDevice::Capabilities::CapabilityPlay)) return;
        auto player = core->createLocalPlayer(out->getId(), "", nullptr);
        if (!player || player->open(str(l.wavePath)) != 0) return;
        l.localPlayer = player;
    }
    l.localPlayer->seek(int(wavePosition(l)));
    l.localPlayer->start();
}
void LinphoneEngine::Impl::stopListening(Line& l) {
    if (!l.localPlayer) return;
    l.localPlayer->close();
    l.localPlayer.reset();
}

qint64 LinphoneEngine::Impl::wavePosition(const Line& l) const {
    qint64 pos = l.wavePosMs;
    if (l.wavePlaying && l.waveClock.isValid()) pos += l.waveClock.elapsed();
    return qBound<qint64>(0, pos, l.waveDurationMs);
}

std::shared_ptr<lp::Call> LinphoneEngine::Impl::meteredCall() const {
    for (const Line& l : lines)
        if (l.call && l.call->getState() == lp::Call::State::StreamsRunning) return l.call;
    return nullptr;
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

// Volumes and gain control are kept while the engine is stopped, like the mutes (the answer is
// then False, code 10), and given to the library when it starts.
bool LinphoneEngine::SetMicVolume(int volume) {
    if (volume < 0 || volume > kVolumeMax) return d->fail(EngineError::InvalidValue);
    d->micVolume = volume;
    if (!d->checkStarted()) return false;
    d->applyGains();
    return true;
}

bool LinphoneEngine::SetSpeakerVolume(int volume) {
    if (volume < 0 || volume > kVolumeMax) return d->fail(EngineError::InvalidValue);
    d->speakerVolume = volume;
    if (!d->checkStarted()) return false;
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
    if (level <= 0 || level > 32767) return d->fail(EngineError::InvalidValue);
    d->agc = true;
    if (!d->checkStarted()) return false;
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

bool LinphoneEngine::agcApplied() const {
    return d->core && linphone_core_agc_enabled(reinterpret_cast<const LinphoneCore*>(d->core->cPtr()));
}

float LinphoneEngine::micGainDb() const {
    return d->core ? d->core->getMicGainDb() : 0.0f;
}

float LinphoneEngine::playbackGainDb() const {
    return d->core ? d->core->getPlaybackGainDb() : 0.0f;
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
    if (!d->checkLineTable(line)) return false;
    d->stopRecordingOf(line);
    return true;
}

void LinphoneEngine::ResetRecording(int line) {
    if (!d->checkLineTable(line)) return;
    Impl::Line& l = d->lines[size_t(line)];
    const bool wasRecording = l.recording || l.wantRecording;
    d->stopRecordingOf(line);
    l.buffer.discard();
    // Emptying the buffer does not end a running recording: it goes on into a fresh part.
    if (wasRecording) d->resumeRecordingOf(line);
}

bool LinphoneEngine::SaveRecording(int line, const QString& path) {
    if (!d->checkLineTable(line)) return false;
    if (path.trimmed().isEmpty() || QFileInfo(path).isDir() || !QFileInfo(QFileInfo(path).absolutePath()).isDir())
        return d->fail(EngineError::WaveWrite);
    Impl::Line& l = d->lines[size_t(line)];
    const bool wasRecording = l.recording;
    if (wasRecording) d->stopRecordingOf(line);
    const WaveJoin result = l.buffer.saveTo(path);
    if (wasRecording) d->resumeRecordingOf(line);
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

// The library writes a recording's header when it closes the file; until then the first 44 bytes
// are a hole of zeros, and a file left by a killed process could not be read. So the running file
// gets a header whose data size 0 reads as "samples to the end of the file"; the library writes
// the real one over it on close. Its format is the call's codec's: 16-bit at the codec's rate.
void LinphoneEngine::Impl::markRunningRecording(Line& l) {
    const QString path = l.buffer.recordPath();
    if (!l.call || !QFileInfo(path).isFile()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.size() < 44 || file.read(4) == "RIFF") return;
    const auto params = l.call->getCurrentParams();
    const auto codec = params ? params->getUsedAudioPayloadType() : nullptr;
    if (!codec || codec->getClockRate() <= 0) return;
    // G.722 announces 8000 Hz and runs at 16000.
    const int rate = codec->getMimeType() == "G722" ? 16000 : codec->getClockRate();
    if (file.seek(0)) file.write(waveHeader(rate, qBound(1, codec->getChannels(), 2), 0));
}

// --- call quality --------------------------------------------------------------------------------

namespace {

QString socketText(const sockaddr_storage& addr, socklen_t len) {
    if (len == 0 || (addr.ss_family != AF_INET && addr.ss_family != AF_INET6)) return {};
    const QHostAddress host(reinterpret_cast<const sockaddr*>(&addr));
    const quint16 port = addr.ss_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port)
                                                   : ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    const QString text = host.toString();
    return (addr.ss_family == AF_INET6 ? QLatin1Char('[') + text + QLatin1Char(']') : text) + QLatin1Char(':') +
           QString::number(port);
}

QString encryptionWord(lp::MediaEncryption e) {
    switch (e) {
    case lp::MediaEncryption::SRTP:
        return QStringLiteral("srtp");
    case lp::MediaEncryption::ZRTP:
        return QStringLiteral("zrtp");
    case lp::MediaEncryption::DTLS:
        return QStringLiteral("dtls");
    default:
        return QStringLiteral("none");
    }
}

} // namespace

void LinphoneEngine::Impl::readCallQuality(Line& l) {
    const std::shared_ptr<lp::Call> call = l.call;
    if (!call) return;
    CallQuality& q = l.quality;
    q.known = true;
    if (auto log = call->getCallLog(); log && !log->getCallId().empty()) q.sipCallId = qstr(log->getCallId());
    switch (activeSecurity.transport) {
    case SipSecurity::Transport::Udp:
        q.transport = QStringLiteral("udp");
        break;
    case SipSecurity::Transport::Tcp:
        q.transport = QStringLiteral("tcp");
        break;
    case SipSecurity::Transport::Tls:
        q.transport = QStringLiteral("tls");
        break;
    }
    if (auto params = call->getCurrentParams()) {
        q.mediaEncryption = encryptionWord(params->getMediaEncryption());
        if (auto pt = params->getUsedAudioPayloadType())
            q.codec = qstr(pt->getMimeType()) + QLatin1Char('/') + QString::number(pt->getClockRate());
    }
    // The media's figures only while the streams are there: the library frees them with the end.
    const lp::Call::State state = call->getState();
    if (!isSettled(state) && !isChanging(state)) return;
    const float rating = call->getAverageQuality();
    if (rating >= 0) q.qualityRating = rating;

    // The media's own session: its addresses and counts.
    bool rtcpSent = false;
    if (RtpTransport* transport = linphone_call_get_meta_rtp_transport(call->cPtr(), 0)) {
        if (const RtpSession* session = transport->session) {
            const OrtpStream& gs = session->rtp.gs;
            const QString local = socketText(gs.used_loc_addr, gs.used_loc_addrlen);
            q.localRtp = !local.isEmpty() ? local : bindAddress + QLatin1Char(':') + QString::number(gs.loc_port);
            const QString remote = socketText(gs.rem_addr, gs.rem_addrlen);
            if (!remote.isEmpty()) q.remoteRtp = remote;
            const rtp_stats_t& st = session->stats;
            const RtpStream& rtp = session->rtp;
            q.packetsSent = qint64(st.packet_sent);
            q.packetsReceived = qint64(st.packet_recv);
            // The library counts the lost packets at each RTCP report; those since the last one are
            // the sequence numbers expected since then that did not come.
            const qint64 sinceReport =
                qint64(rtp.hwrcv_extseq - rtp.hwrcv_seq_at_last_SR) - qint64(rtp.hwrcv_since_last_SR);
            q.packetsLost = qMax<qint64>(0, qint64(st.cum_packet_loss) + qMax<qint64>(0, sinceReport));
            const qint64 expected = q.packetsReceived + q.packetsLost;
            q.lossPercent = expected > 0 ? 100.0 * double(q.packetsLost) / double(expected) : 0.0;
            rtcpSent = st.sent_rtcp_packets > 0;
        }
    }
    if (auto stats = call->getAudioStats()) {
        // The RFC 3550 interarrival jitter of the received stream, as our last RTCP report gave it
        // (seconds): unknown until the first report went out, a few seconds into the call.
        if (rtcpSent) q.jitterMs = double(stats->getSenderInterarrivalJitter()) * 1000.0;
        const float rtt = stats->getRoundTripDelay(); // seconds; 0 until an RTCP report came back
        if (rtt > 0) q.roundTripMs = double(rtt) * 1000.0;
    }
}

CallQuality LinphoneEngine::CallStats(int line) {
    if (line < 0 || line >= int(d->lines.size())) return {};
    Impl::Line& l = d->lines[size_t(line)];
    // While the library is with the sound switch's helper thread it is not touched: the figures
    // of the last reading stand.
    if (!d->away && l.call && !isFinished(l.call->getState())) d->readCallQuality(l);
    return l.quality;
}

QStringList LinphoneEngine::RecordingFiles(int line) {
    if (line < 0 || line >= int(d->lines.size())) return {};
    Impl::Line& l = d->lines[size_t(line)];
    QStringList files = l.buffer.parts();
    if (l.recording) {
        d->markRunningRecording(l);
        files << l.buffer.recordPath();
    }
    return files;
}

// --- wave playback -------------------------------------------------------------------------------

bool LinphoneEngine::PlayWaveOpen(int line, const QString& path) {
    if (!d->checkOpenLine(line)) return false;
    // The file opened before is closed first, so an open that is refused leaves nothing loaded
    // and a later start cannot play the earlier file again.
    Impl::Line& l = d->lines[size_t(line)];
    if (l.waveOpen && l.player) l.player->close();
    d->forgetWave(l);
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
    // The call's player crashes when it is opened before the media run.
    if (l.call->getState() != lp::Call::State::StreamsRunning) return d->fail(EngineError::NotInVoiceSession);
    auto player = l.call->getPlayer();
    if (!player) return d->fail(EngineError::NotInVoiceSession);
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
    if (!l.waveOpen || !l.player) return d->fail(EngineError::NoWaveLoaded);
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
    if (!l.waveOpen || !l.player) return d->fail(EngineError::NoWaveLoaded);
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
    if (!l.waveOpen || !l.player) return d->fail(EngineError::NoWaveLoaded);
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
    if (!l.waveOpen || !l.player) return d->fail(EngineError::NoWaveLoaded);
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
        d->fail(EngineError::NoWaveLoaded);
        return 0;
    }
    return int(d->wavePosition(l));
}

bool LinphoneEngine::IsLinePlayingWave(int line) {
    if (!d->checkLine(line)) return false;
    const Impl::Line& l = d->lines[size_t(line)];
    return l.waveOpen && l.wavePlaying;
}

} // namespace corvid
