#pragma once
// Replacements, defined in the program, for functions of the SIP library that crash on what a far
// end sends (docs/ENGINE.md, "Replaced library functions"). The library calls them through its
// dynamic symbol table, so the program's definitions, exported by the executable, take precedence.

namespace corvid::engine_impl {

// Whether the replacements act: the library is of the series they were checked on (5.1). With any
// other library they hand every call on to the library's own functions.
bool libraryFixesInForce();

// Whether the datagrams of a UDP port are checked (engine/SipDatagram.h) before the library reads
// them: from when an engine goes online on UDP until it goes offline (several engines may share
// the process, each with its own port).
void checkDatagramsOnPort(int port, bool on);

} // namespace corvid::engine_impl
