#pragma once
// The keep-alive that also checks the registrar on UDP: a STUN binding request sent from the SIP
// port to the proxy's. It keeps the NAT binding open like a CRLF does, costs the proxy no SIP
// transaction, and a proxy that speaks STUN on its SIP port answers it, so its silence is noticed
// without a REGISTER. Plain functions of the bytes, no socket.

#include <array>
#include <cstdint>
#include <string_view>

namespace corvid::stun_binding {

using Id = std::array<std::uint8_t, 12>;
using Request = std::array<char, 20>;

// A binding request with no attributes, under the transaction id.
Request request(const Id& id);

// Whether the datagram is a STUN message at all (its header, whatever it says): such a datagram on
// the SIP port is never SIP.
bool isStun(std::string_view datagram);

// Whether the datagram answers the request under id: a success or an error response of the binding
// method (either shows the proxy is there), its length agreeing with its header.
bool answers(std::string_view datagram, const Id& id);

} // namespace corvid::stun_binding
