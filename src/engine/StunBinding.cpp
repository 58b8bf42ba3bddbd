#include "engine/StunBinding.h"

#include <cstring>

namespace corvid::stun_binding {

namespace {
constexpr std::uint32_t kCookie = 0x2112A442;
constexpr std::uint16_t kBindingRequest = 0x0001;
constexpr std::uint16_t kBindingSuccess = 0x0101;
constexpr std::uint16_t kBindingError = 0x0111;
constexpr size_t kHeader = 20;

std::uint32_t readBig(std::string_view bytes, size_t at, size_t width) {
    std::uint32_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}
} // namespace

Request request(const Id& id) {
    Request r{};
    r[0] = char(kBindingRequest >> 8);
    r[1] = char(kBindingRequest & 0xff);
    // r[2], r[3]: no attributes
    for (int i = 0; i < 4; ++i)
        r[size_t(4 + i)] = char((kCookie >> (24 - 8 * i)) & 0xff);
    std::memcpy(r.data() + 8, id.data(), id.size());
    return r;
}

bool isStun(std::string_view datagram) {
    // The two top bits of a STUN message are zero, its length counts whole 4-byte words, and the
    // magic cookie follows: no SIP message starts so.
    return datagram.size() >= kHeader && (std::uint8_t(datagram[0]) & 0xc0) == 0 &&
           readBig(datagram, 2, 2) % 4 == 0 && readBig(datagram, 4, 4) == kCookie;
}

bool answers(std::string_view datagram, const Id& id) {
    if (!isStun(datagram) || readBig(datagram, 2, 2) != datagram.size() - kHeader) return false;
    const std::uint32_t type = readBig(datagram, 0, 2);
    return (type == kBindingSuccess || type == kBindingError) &&
           std::memcmp(datagram.data() + 8, id.data(), id.size()) == 0;
}

} // namespace corvid::stun_binding
