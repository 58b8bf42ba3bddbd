#pragma once
// The registrar check of a UDP phone that costs the proxy no transaction: every interval a STUN
// binding request leaves the library's SIP socket for the proxy's address (engine/StunBinding.h).
// It is also the keep-alive of the NAT binding. An answer says the proxy is up; a ping left
// unanswered after its two resends (kNoAnswerMs) says it may not be. What the engine makes of
// either is its own (LinphoneEngine.cpp, "The registrar check").

#include "engine/StunBinding.h"
#include "engine/linphone/LibraryFixes.h"

#include <QTimer>

#include <functional>

namespace corvid::engine_impl {

class RegistrarPing final : public StunListener {
public:
    static constexpr int kNoAnswerMs = 3000;

    RegistrarPing();
    ~RegistrarPing();
    RegistrarPing(const RegistrarPing&) = delete;
    RegistrarPing& operator=(const RegistrarPing&) = delete;

    std::function<void()> answered;   // an answer to the ping that waits
    std::function<void()> unanswered; // none came in kNoAnswerMs

    // Pings the proxy from the library's UDP socket on localPort every intervalMs, the first one
    // at once. Answers whether a socket was there to send from.
    bool start(int localPort, const sockaddr_in& proxy, int intervalMs);
    void stop();
    bool running() const { return m_every.isActive(); }

private:
    void ping();
    void send();
    void stunArrived(std::string_view datagram, const sockaddr_in& from) override;

    int m_port = 0;
    sockaddr_in m_proxy{};
    stun_binding::Id m_id{};
    bool m_waiting = false;
    int m_resends = 0;
    QTimer m_every;
    QTimer m_resend;
    QTimer m_noAnswer;
};

} // namespace corvid::engine_impl
