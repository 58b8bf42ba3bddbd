#pragma once
// What a datagram on the SIP port must be before the SIP library reads it. The library's stream
// parser keeps what one datagram left unfinished and reads the next one after it, and its request
// handling trusts headers it never checked (a CSeq naming another method, a missing Call-ID, a
// Record-Route without an address): a few such datagrams from the PBX's own address crash it. So
// each datagram must be one whole, plainly formed SIP message on its own, or a keep-alive:
//   - a request line of a method the phone takes, with a sip: or tel: address (no headers in it; no
//     sips: address, which asks for TLS, on UDP), or a status line;
//   - values of a few words where only a few words belong (1,024 bytes; routing and credentials
//     4,096; an address with its display name: any length);
//   - header lines ending in CR LF (no bare CR or LF, no folding), each "name: value" with a token
//     name, no NUL anywhere in the header block, at most 128 of them, and the blank line that ends them;
//   - exactly one Call-ID (of visible ASCII), From, To and CSeq, at least one Via; the CSeq method is
//     the request's; a REFER with its Refer-To; a NOTIFY with its Event and Subscription-State, and
//     outside a subscription (no To tag) only of message-summary; a SUBSCRIBE only to presence and
//     with its Expires; option tags (Require, Supported) that are tokens;
//   - numbers where numbers belong (CSeq, Max-Forwards, Content-Length, Expires, RSeq, RAck), in range;
//   - an address in every header that carries one (From, To, Contact, Route, Refer-To ...);
//   - a body exactly as long as Content-Length says (none without it), with a Content-Type, not
//     compressed, not multipart, CPIM, typing or delivery notices (the phone uses none of them); an
//     SDP body made of "x=" lines starting with "v=0".
// Display names and bodies may hold any other byte: the window cleans them where it shows them.

#include <string_view>

namespace corvid::sip_datagram {

// Empty when the library may read the datagram; otherwise why not, in a few words for the log.
std::string_view refusal(std::string_view datagram);

// What the library is given instead of a refused datagram: a keep-alive, which it reads and drops.
inline constexpr std::string_view kInstead = "\r\n";

} // namespace corvid::sip_datagram
