#pragma once
// The gate on the SIP port: only the PBX (the registrar and outbound proxy the phone talks to) and
// the addresses of SipAllowFrom reach the library. Everything else is dropped by the kernel, with a
// socket filter attached to the library's own SIP socket, before any of the library's code reads it.
// See docs/ENGINE.md ("Only the PBX reaches the phone") for why it is done this way.

#include "engine/SipSecurity.h"

#include <QString>

#include <vector>

namespace corvid::sip_gate {

// The IPv4 addresses of a host name or address (a numeric address without a lookup).
std::vector<Ipv4Net> resolveHost(const QString& host);

// The sockets of this process of the type (SOCK_DGRAM, or SOCK_STREAM listening) bound to the
// IPv4 port: the descriptors are looked up in /proc/self/fd and asked their local address.
std::vector<int> socketsOnPort(int port, int type);

// Lets through the socket only what comes from the networks (IPv4; anything else is dropped).
// Replaces the filter the socket had. Answers whether the kernel took it.
bool attachSourceFilter(int fd, const std::vector<Ipv4Net>& allowed);
// Whether the socket has a filter.
bool hasFilter(int fd);
// Drops what the socket received before its filter was attached; answers how many datagrams.
int dropQueued(int fd);

} // namespace corvid::sip_gate
