// Replacements for faulty functions of liblinphone 5.1 (as Debian 12 ships it). Each is exported
// by the executable (library-fixes.dynlist), so the library's calls through its PLT reach it. With
// a library of another series each hands the call on to the library's own function.

#include "engine/linphone/LibraryFixes.h"

#include "engine/SipDatagram.h"
#include "engine/StunBinding.h"

#include <belle-sip/belle-sip.h>
#include <linphone/core.h>
#include <ortp/port.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace corvid::engine_impl {

bool libraryFixesInForce() {
    static const bool checkedSeries = [] {
        const char* version = linphone_core_get_version();
        return version && std::strncmp(version, "5.1.", 4) == 0;
    }();
    return checkedSeries;
}

namespace {
// One port per engine online over UDP: the program has one, a bench of many seats in one process more.
std::array<std::atomic<int>, 128> checkedPorts{};
} // namespace

void checkDatagramsOnPort(int port, bool on) {
    if (port <= 0) return;
    if (on)
        for (const std::atomic<int>& slot : checkedPorts)
            if (slot == port) return;
    for (std::atomic<int>& slot : checkedPorts) {
        int expected = on ? 0 : port;
        if (slot.compare_exchange_strong(expected, on ? port : 0)) return;
    }
}

namespace {
std::recursive_mutex stunListenersLock;
std::vector<std::pair<int, StunListener*>> stunListeners;

// Hands a STUN message to the listener of the port the socket is bound to.
void handOnStun(int port, std::string_view datagram, const sockaddr* from, socklen_t fromLength) {
    if (!from || fromLength < socklen_t(sizeof(sockaddr_in)) || from->sa_family != AF_INET) return;
    const std::lock_guard<std::recursive_mutex> hold(stunListenersLock);
    for (const auto& [listening, listener] : stunListeners)
        if (listening == port) return listener->stunArrived(datagram, *reinterpret_cast<const sockaddr_in*>(from));
}
} // namespace

void listenForStunOnPort(int port, StunListener* listener) {
    const std::lock_guard<std::recursive_mutex> hold(stunListenersLock);
    stunListeners.erase(std::remove_if(stunListeners.begin(), stunListeners.end(),
                                       [port](const auto& entry) { return entry.first == port; }),
                        stunListeners.end());
    if (listener && port > 0) stunListeners.emplace_back(port, listener);
}

} // namespace corvid::engine_impl

namespace {

using corvid::engine_impl::checkedPorts;

// The local port of the socket when its datagrams are checked, otherwise 0.
int checkedPortOf(int fd) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
    int port = 0;
    if (local.ss_family == AF_INET) port = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    if (local.ss_family == AF_INET6) port = ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
    for (const std::atomic<int>& slot : checkedPorts)
        if (port && slot == port) return port;
    return 0;
}

using corvid::engine_impl::libraryFixesInForce;

// The library's own definition of name (the next one after the executable's).
template <typename F> F libraryOwn(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// The whole text of a belle-sip object, in memory the library frees with ms_free (ortp_free), as it
// frees its own copy.
char* wholeText(const void* object) {
    if (!object) return nullptr;
    char* text = belle_sip_object_to_string(object);
    char* copy = ortp_strdup(text);
    belle_sip_free(text);
    return copy;
}

bool isConferencePackage(const char* eventName) {
    return eventName && ::strcasecmp(eventName, "conference") == 0;
}

} // namespace

extern "C" {

struct SalAddress;

// The library's own versions marshal the address into a 1,024-byte buffer and ignore the overflow:
// a longer From or To (a long display name) comes back cut, is parsed again to NULL, and the call or
// chat room made from it crashes. belle_sip_object_to_string() grows its buffer as needed.
__attribute__((visibility("default"))) char* sal_address_as_string(const SalAddress* address) {
    using F = char* (*)(const SalAddress*);
    static const F own = libraryFixesInForce() ? nullptr : libraryOwn<F>("sal_address_as_string");
    return own ? own(address) : wholeText(address);
}

__attribute__((visibility("default"))) char* sal_address_as_string_uri_only(const SalAddress* address) {
    using F = char* (*)(const SalAddress*);
    static const F own = libraryFixesInForce() ? nullptr : libraryOwn<F>("sal_address_as_string_uri_only");
    if (own) return own(address);
    auto* header = reinterpret_cast<belle_sip_header_address_t*>(const_cast<SalAddress*>(address));
    if (belle_sip_uri_t* uri = belle_sip_header_address_get_uri(header)) return wholeText(uri);
    if (belle_generic_uri_t* absolute = belle_sip_header_address_get_absolute_uri(header)) return wholeText(absolute);
    return nullptr;
}

// The conference event package serves group chat and conferences, which this phone never uses.
// The library hands a conference NOTIFY to the chat room of its sender as if it were a group chat
// room: after a plain MESSAGE from the same sender that is a basic chat room, and the cast crashes.
// A SUBSCRIBE to the package meets the same cast towards a server chat room. Both stop here: the
// NOTIFY is answered 200 and goes no further, the SUBSCRIBE is declined.
__attribute__((visibility("default"))) void linphone_core_notify_notify_received(LinphoneCore* core,
                                                                                 LinphoneEvent* event,
                                                                                 const char* eventName,
                                                                                 const LinphoneContent* body) {
    using F = void (*)(LinphoneCore*, LinphoneEvent*, const char*, const LinphoneContent*);
    static const F own = libraryOwn<F>("linphone_core_notify_notify_received");
    if (libraryFixesInForce() && isConferencePackage(eventName)) return;
    if (own) own(core, event, eventName, body);
}

__attribute__((visibility("default"))) void linphone_core_notify_subscribe_received(LinphoneCore* core,
                                                                                    LinphoneEvent* event,
                                                                                    const char* eventName,
                                                                                    const LinphoneContent* body) {
    using F = void (*)(LinphoneCore*, LinphoneEvent*, const char*, const LinphoneContent*);
    static const F own = libraryOwn<F>("linphone_core_notify_subscribe_received");
    if (libraryFixesInForce() && isConferencePackage(eventName)) {
        linphone_event_deny_subscription(event, LinphoneReasonDeclined);
        return;
    }
    if (own) own(core, event, eventName, body);
}

// The SIP library reads each UDP datagram of its SIP socket with this function (the socket filter
// has already dropped every sender but the PBX). A datagram that is not one plainly formed SIP
// message is replaced by a keep-alive before the library's parser sees a byte of it. This holds
// for any version of the library: it only narrows what reaches it.
__attribute__((visibility("default"))) ssize_t bctbx_recvfrom(int fd, void* buffer, size_t length, int flags,
                                                              sockaddr* from, socklen_t* fromLength) {
    using F = ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*);
    static const F own = libraryOwn<F>("bctbx_recvfrom");
    const ssize_t got = own(fd, buffer, length, flags, from, fromLength);
    if (got <= 0 || (flags & MSG_PEEK)) return got;
    const int port = checkedPortOf(fd);
    if (!port) return got;
    namespace datagram = corvid::sip_datagram;
    const std::string_view bytes{static_cast<const char*>(buffer), size_t(got)};
    if (corvid::stun_binding::isStun(bytes) && length >= datagram::kInstead.size()) {
        corvid::engine_impl::handOnStun(port, bytes, from, fromLength ? *fromLength : 0);
        std::memcpy(buffer, datagram::kInstead.data(), datagram::kInstead.size());
        return ssize_t(datagram::kInstead.size());
    }
    const std::string_view why = datagram::refusal(bytes);
    if (why.empty() || length < datagram::kInstead.size()) return got;
    static unsigned refused = 0;
    if (++refused <= 20 || refused % 1000 == 0)
        belle_sip_warning("SIP datagram %u dropped before the parser: %.*s", refused, int(why.size()), why.data());
    std::memcpy(buffer, datagram::kInstead.data(), datagram::kInstead.size());
    return ssize_t(datagram::kInstead.size());
}

} // extern "C"
