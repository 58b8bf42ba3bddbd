#pragma once
// Replacements, defined in the program, for functions of the SIP library that crash on what a far
// end sends (docs/ENGINE.md, "Replaced library functions"). The library calls them through its
// dynamic symbol table, so the program's definitions, exported by the executable, take precedence.

#include <netinet/in.h>

#include <string_view>

namespace corvid::engine_impl {

// Whether the replacements act: the library is of the series they were checked on (5.1). With any
// other library they hand every call on to the library's own functions.
bool libraryFixesInForce();

// Whether the datagrams of a UDP port are checked (engine/SipDatagram.h) before the library reads
// them: from when an engine goes online on UDP until it goes offline (several engines may share
// the process, each with its own port).
void checkDatagramsOnPort(int port, bool on);

// Who hears the STUN messages that reach a checked port (the registrar's answers to the
// keep-alive, engine/StunBinding.h). The library never sees them: it is given a keep-alive instead.
class StunListener {
public:
    virtual void stunArrived(std::string_view datagram, const sockaddr_in& from) = 0;

protected:
    ~StunListener() = default;
};
// The listener of the port, or none (nullptr); called on the thread that runs the library.
void listenForStunOnPort(int port, StunListener* listener);

} // namespace corvid::engine_impl
