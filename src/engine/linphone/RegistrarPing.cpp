#include "engine/linphone/RegistrarPing.h"

#include "engine/linphone/SipGate.h"

#include <QRandomGenerator>

#include <sys/socket.h>

#include <string>
#include <vector>

namespace corvid::engine_impl {

namespace {
constexpr int kFirstResendMs = 500; // then twice that, as STUN resends
} // namespace

RegistrarPing::RegistrarPing() {
    m_resend.setSingleShot(true);
    m_noAnswer.setSingleShot(true);
    QObject::connect(&m_every, &QTimer::timeout, [this] { ping(); });
    QObject::connect(&m_resend, &QTimer::timeout, [this] {
        send();
        if (++m_resends < 2) m_resend.start(kFirstResendMs * 2);
    });
    QObject::connect(&m_noAnswer, &QTimer::timeout, [this] {
        m_waiting = false;
        m_resend.stop();
        if (unanswered) unanswered();
    });
}

RegistrarPing::~RegistrarPing() {
    stop();
}

bool RegistrarPing::start(int localPort, const sockaddr_in& proxy, int intervalMs) {
    stop();
    if (localPort <= 0 || intervalMs <= 0 || sip_gate::socketsOnPort(localPort, SOCK_DGRAM).empty()) return false;
    m_port = localPort;
    m_proxy = proxy;
    listenForStunOnPort(m_port, this);
    m_every.start(intervalMs);
    ping(); // the first at once: whether the proxy answers is known before the first check is due
    return true;
}

void RegistrarPing::stop() {
    m_every.stop();
    m_resend.stop();
    m_noAnswer.stop();
    m_waiting = false;
    if (m_port) listenForStunOnPort(m_port, nullptr);
    m_port = 0;
}

void RegistrarPing::ping() {
    if (m_waiting) return; // the last one is still within its time
    for (auto& byte : m_id)
        byte = std::uint8_t(QRandomGenerator::system()->bounded(256));
    m_waiting = true;
    m_resends = 0;
    send();
    m_resend.start(kFirstResendMs);
    m_noAnswer.start(kNoAnswerMs);
}

// From the library's socket, as the library's own keep-alive would go: the NAT binding kept open is
// the SIP port's. The library made the socket anew after a network change: it is looked up each time.
void RegistrarPing::send() {
    const std::vector<int> sockets = sip_gate::socketsOnPort(m_port, SOCK_DGRAM);
    if (sockets.empty()) return; // no answer comes, and the ping is taken as unanswered
    const stun_binding::Request bytes = stun_binding::request(m_id);
    ::sendto(sockets.front(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&m_proxy), sizeof m_proxy);
}

// Heard inside the library's read, on whichever thread reads it: the answer is looked at on the
// ping's own thread, once the library is out of its read.
void RegistrarPing::stunArrived(std::string_view datagram, const sockaddr_in& from) {
    if (from.sin_addr.s_addr != m_proxy.sin_addr.s_addr || from.sin_port != m_proxy.sin_port) return;
    QMetaObject::invokeMethod(
        &m_every,
        [this, bytes = std::string(datagram)] {
            if (!m_waiting || !stun_binding::answers(bytes, m_id)) return;
            m_waiting = false;
            m_resend.stop();
            m_noAnswer.stop();
            if (answered) answered();
        },
        Qt::QueuedConnection);
}

} // namespace corvid::engine_impl
