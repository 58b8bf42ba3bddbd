#include "engine/SipDatagram.h"

#include <array>
#include <cstdint>

namespace corvid::sip_datagram {

namespace {

using namespace std::string_view_literals;

constexpr std::array kMethods = {"INVITE"sv, "ACK"sv,       "BYE"sv,   "CANCEL"sv, "OPTIONS"sv, "MESSAGE"sv,
                                 "NOTIFY"sv, "SUBSCRIBE"sv, "REFER"sv, "INFO"sv,   "UPDATE"sv,  "PRACK"sv};
constexpr std::size_t kMaxHeaders = 128;
constexpr std::uint64_t kMax31 = 0x7fffffff;

bool isMethod(std::string_view m) {
    for (std::string_view known : kMethods)
        if (m == known) return true;
    return false;
}

bool begins(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool startsNoCase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && equalsNoCase(text.substr(0, start.size()), start);
}

std::size_t findNoCase(std::string_view text, std::string_view part) {
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (equalsNoCase(text.substr(i, part.size()), part)) return i;
    return std::string_view::npos;
}

bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-.!%*_+`'~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!isTokenChar(c)) return false;
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A decimal number of at most maxDigits digits and at most max; -1 when it is not one.
std::int64_t number(std::string_view s, std::size_t maxDigits, std::uint64_t max) {
    if (s.empty() || s.size() > maxDigits) return -1;
    std::uint64_t value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + std::uint64_t(c - '0');
    }
    return value <= max ? std::int64_t(value) : -1;
}

// The leading number of a value with parameters ("1800;refresher=uac").
std::int64_t leadingNumber(std::string_view s, std::uint64_t max) {
    return number(trim(s.substr(0, s.find(';'))), 10, max);
}

// An address with a display name ("name" <sip:...>) or a bare one (sip:...): the address after the
// first '<' outside a quoted display name (or the value itself) starts with sip:, sips: or tel: and
// is not empty.
bool hasAddress(std::string_view value) {
    bool quoted = false;
    std::size_t open = std::string_view::npos;
    for (std::size_t i = 0; i < value.size() && open == std::string_view::npos; ++i) {
        if (quoted && value[i] == '\\')
            ++i;
        else if (value[i] == '"')
            quoted = !quoted;
        else if (!quoted && value[i] == '<')
            open = i;
    }
    if (quoted) return false;
    std::string_view address = value;
    if (open != std::string_view::npos) {
        address = value.substr(open + 1);
        const std::size_t close = address.find('>');
        if (close == std::string_view::npos) return false;
        address = address.substr(0, close);
    } else {
        address = address.substr(0, address.find(';'));
    }
    for (std::string_view scheme : {"sip:"sv, "sips:"sv, "tel:"sv})
        if (startsNoCase(address, scheme) && address.size() > scheme.size()) return true;
    return false;
}

// sip: or tel: followed by a host (or a number) that is not empty.
bool isRequestUri(std::string_view uri) {
    if (uri.size() > 1024 || uri.find_first_of("?<>\"") != std::string_view::npos) return false;
    std::string_view rest;
    // No sips: here: what is checked came over UDP, and a SIPS address asks for TLS.
    for (std::string_view scheme : {"sip:"sv, "tel:"sv})
        if (startsNoCase(uri, scheme)) rest = uri.substr(scheme.size());
    if (rest.empty()) return false;
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest = rest.substr(at + 1);
    rest = rest.substr(0, rest.find_first_of(";?"));
    return !rest.empty() && rest.front() != ':';
}

// A header's full lower-case name ("i" is "call-id").
std::string_view canonical(std::string_view name, char* room, std::size_t roomSize) {
    if (name.size() == 1) {
        switch (lower(name[0])) {
        case 'i':
            return "call-id";
        case 'f':
            return "from";
        case 't':
            return "to";
        case 'v':
            return "via";
        case 'l':
            return "content-length";
        case 'c':
            return "content-type";
        case 'e':
            return "content-encoding";
        case 'm':
            return "contact";
        case 'r':
            return "refer-to";
        case 'b':
            return "referred-by";
        case 'o':
            return "event";
        case 'x':
            return "session-expires";
        default:
            break;
        }
    }
    if (name.size() > roomSize) return {};
    for (std::size_t i = 0; i < name.size(); ++i)
        room[i] = lower(name[i]);
    return {room, name.size()};
}

// The value of a Replaces header: a Call-ID, then its to-tag and from-tag.
bool isReplaces(std::string_view value) {
    const std::string_view callId = trim(value.substr(0, value.find(';')));
    if (callId.empty() || callId.find_first_of(" \t<>\"") != std::string_view::npos) return false;
    return findNoCase(value, ";to-tag=") != std::string_view::npos &&
           findNoCase(value, ";from-tag=") != std::string_view::npos;
}

// Two hex digits as a byte; -1 when they are not.
int hexByte(std::string_view two) {
    int value = 0;
    for (char c : two) {
        const char l = lower(c);
        if (l >= '0' && l <= '9')
            value = value * 16 + (l - '0');
        else if (l >= 'a' && l <= 'f')
            value = value * 16 + (l - 'a' + 10);
        else
            return -1;
    }
    return value;
}

// A Replaces carried in the headers of a Refer-To address (escaped: "?Replaces=id%3Bto-tag%3D1...").
bool embeddedReplacesOk(std::string_view referTo) {
    std::size_t at = findNoCase(referTo, "replaces=");
    if (at == std::string_view::npos) return true;
    if (at == 0 || (referTo[at - 1] != '?' && referTo[at - 1] != '&')) return true;
    std::string_view escaped = referTo.substr(at + 9);
    escaped = escaped.substr(0, escaped.find_first_of("&>"));
    char room[512];
    std::size_t n = 0;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (n == sizeof room) return false;
        if (escaped[i] != '%') {
            room[n++] = escaped[i];
            continue;
        }
        const int hex = i + 2 < escaped.size() ? hexByte(escaped.substr(i + 1, 2)) : -1;
        if (hex <= 0) return false;
        room[n++] = char(hex);
        i += 2;
    }
    return isReplaces({room, n});
}

// Option tags: tokens separated by commas (an empty list too).
bool isTokenList(std::string_view value) {
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        const std::string_view item = trim(value.substr(0, comma));
        if (!item.empty() && !isToken(item)) return false;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return true;
}

// An event package or subscription state: a token, then parameters.
bool isTokenWithParameters(std::string_view value) {
    const std::string_view token = trim(value.substr(0, value.find(';')));
    return token.size() <= 64 && isToken(token);
}

// How long a header's value may be. Addresses may carry display names of any length (the
// program's own address functions take them whole); routing and credentials may be longer than
// the rest, which is a few words at most.
std::size_t maxValueLength(std::string_view name) {
    for (std::string_view open : {"from"sv, "to"sv, "contact"sv, "p-asserted-identity"sv, "p-preferred-identity"sv,
                                  "referred-by"sv, "remote-party-id"sv, "diversion"sv, "subject"sv})
        if (name == open) return std::string_view::npos;
    for (std::string_view longer : {"via"sv, "route"sv, "record-route"sv, "refer-to"sv, "authorization"sv,
                                    "proxy-authorization"sv, "www-authenticate"sv, "proxy-authenticate"sv})
        if (name == longer) return 4096;
    return name == "call-id" ? 256 : 1024;
}

struct Seen {
    int callId = 0, from = 0, to = 0, cseq = 0, via = 0, maxForwards = 0, contentLength = 0, contentType = 0;
    int referTo = 0, event = 0, state = 0, expires = 0;
    bool toTag = false;
    std::int64_t length = -1;
    std::string_view type, package;
};

// Checks one header; empty when it may pass.
std::string_view checkHeader(std::string_view name, std::string_view value, std::string_view method, Seen& seen) {
    if (name == "call-id") {
        ++seen.callId;
        if (value.empty()) return "bad Call-ID";
        for (char c : value)
            if (c <= ' ' || c >= 0x7f) return "bad Call-ID";
    } else if (name == "from" || name == "to") {
        ++(name == "from" ? seen.from : seen.to);
        if (!hasAddress(value)) return "From or To without an address";
        if (name == "to")
            seen.toTag = findNoCase(value.substr(value.rfind('>') + 1), ";tag=") != std::string_view::npos;
    } else if (name == "require" || name == "supported" || name == "proxy-require" || name == "unsupported") {
        if (!isTokenList(value)) return "bad option tags";
    } else if (name == "cseq") {
        ++seen.cseq;
        const std::size_t blank = value.find_first_of(" \t");
        if (blank == std::string_view::npos || number(value.substr(0, blank), 10, kMax31) < 0) return "bad CSeq";
        const std::string_view cseqMethod = trim(value.substr(blank));
        if (method.empty() ? !isToken(cseqMethod) : cseqMethod != method) return "CSeq of another method";
    } else if (name == "via") {
        ++seen.via;
        if (!startsNoCase(value, "SIP/2.0/")) return "bad Via";
    } else if (name == "max-forwards") {
        ++seen.maxForwards;
        if (number(value, 3, 255) < 0) return "bad Max-Forwards";
    } else if (name == "content-length") {
        ++seen.contentLength;
        seen.length = number(value, 5, 65535);
        if (seen.length < 0) return "bad Content-Length";
    } else if (name == "content-type") {
        ++seen.contentType;
        seen.type = trim(value.substr(0, value.find(';')));
        if (seen.type.find('/') == std::string_view::npos) return "bad Content-Type";
    } else if (name == "content-encoding") {
        if (!equalsNoCase(value, "identity")) return "compressed body";
    } else if (name == "expires" || name == "min-expires" || name == "rseq") {
        seen.expires += name == "expires";
        if (number(value, 10, kMax31) < 0) return "bad number";
    } else if (name == "session-expires" || name == "min-se") {
        if (leadingNumber(value, kMax31) < 0) return "bad number";
    } else if (name == "rack") {
        const std::size_t first = value.find(' '), second = value.find(' ', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos ||
            number(value.substr(0, first), 10, kMax31) < 0 ||
            number(value.substr(first + 1, second - first - 1), 10, kMax31) < 0 ||
            !isMethod(trim(value.substr(second))))
            return "bad RAck";
    } else if (name == "replaces") {
        if (!isReplaces(value)) return "bad Replaces";
    } else if (name == "refer-to") {
        ++seen.referTo;
        if (!hasAddress(value) || !embeddedReplacesOk(value)) return "bad Refer-To";
    } else if (name == "event" || name == "subscription-state") {
        if (name == "event") {
            ++seen.event;
            seen.package = trim(value.substr(0, value.find(';')));
        } else {
            ++seen.state;
        }
        if (!isTokenWithParameters(value)) return "bad Event or Subscription-State";
    } else if (name == "contact") {
        if (value != "*" && !hasAddress(value)) return "Contact without an address";
    } else if (name == "route" || name == "record-route" || name == "referred-by" || name == "reply-to" ||
               name == "p-asserted-identity" || name == "p-preferred-identity" || name == "path" ||
               name == "service-route") {
        if (!hasAddress(value)) return "address header without an address";
    }
    return {};
}

// An SDP body: "v=0" first, then lines of a lower-case letter and "=", nothing else.
bool isSdp(std::string_view body) {
    if (!begins(body, "v=0")) return false;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && (line.size() < 2 || line[0] < 'a' || line[0] > 'z' || line[1] != '=')) return false;
        if (line.find('\0') != std::string_view::npos || line.find('\r') != std::string_view::npos) return false;
        if (end == std::string_view::npos) break;
        body.remove_prefix(end + 1);
    }
    return true;
}

} // namespace

std::string_view refusal(std::string_view datagram) {
    if (datagram.find_first_not_of("\r\n") == std::string_view::npos && datagram.size() <= 4) return {};
    const std::size_t headEnd = datagram.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) return "no end of the header block";
    const std::string_view head = datagram.substr(0, headEnd + 2), body = datagram.substr(headEnd + 4);
    if (head.find('\0') != std::string_view::npos) return "NUL in the header block";
    for (std::size_t i = 0; i < head.size(); ++i)
        if ((head[i] == '\r' && head[i + 1] != '\n') || (head[i] == '\n' && (i == 0 || head[i - 1] != '\r')))
            return "bare CR or LF";

    std::string_view rest = head;
    const auto nextLine = [&rest] {
        const std::size_t end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        return line;
    };
    const std::string_view start = nextLine();
    std::string_view method; // empty for a response
    if (begins(start, "SIP/2.0 ")) {
        const std::int64_t status = number(start.substr(8, 3), 3, 699);
        if (status < 100 || (start.size() > 11 && start[11] != ' ')) return "bad status line";
    } else {
        const std::size_t first = start.find(' '), last = start.rfind(' ');
        if (first == std::string_view::npos || first == last || start.substr(last + 1) != "SIP/2.0")
            return "bad request line";
        method = start.substr(0, first);
        if (!isMethod(method)) return "a method the phone does not take";
        if (!isRequestUri(start.substr(first + 1, last - first - 1))) return "bad request address";
    }

    Seen seen;
    std::size_t headers = 0;
    char room[64];
    while (!rest.empty()) {
        const std::string_view line = nextLine();
        if (++headers > kMaxHeaders) return "too many headers";
        if (line.empty() || line.front() == ' ' || line.front() == '\t') return "folded or empty header line";
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) return "header line without a colon";
        const std::string_view rawName = trim(line.substr(0, colon));
        if (!isToken(rawName)) return "bad header name";
        const std::string_view name = canonical(rawName, room, sizeof room), value = trim(line.substr(colon + 1));
        if (value.size() > maxValueLength(name)) return "header too long";
        const std::string_view why = checkHeader(name, value, method, seen);
        if (!why.empty()) return why;
    }
    if (seen.callId != 1 || seen.from != 1 || seen.to != 1 || seen.cseq != 1 || seen.via < 1)
        return "missing or doubled Call-ID, From, To, CSeq or Via";
    if (seen.maxForwards > 1 || seen.contentLength > 1 || seen.contentType > 1 || seen.referTo > 1 || seen.event > 1)
        return "doubled header";
    if ((method == "REFER" && !seen.referTo) || ((method == "NOTIFY" || method == "SUBSCRIBE") && !seen.event) ||
        (method == "NOTIFY" && !seen.state) || (method == "SUBSCRIBE" && !seen.expires))
        return "request without its Refer-To, Event, Subscription-State or Expires";
    // A NOTIFY outside a subscription (no To tag) is only a message-waiting notice.
    if (method == "NOTIFY" && !seen.toTag && !equalsNoCase(seen.package, "message-summary"))
        return "NOTIFY outside a subscription";
    // The phone serves one event package to others: its presence.
    if (method == "SUBSCRIBE" && !equalsNoCase(seen.package, "presence")) return "subscription to another package";
    if (std::int64_t(body.size()) != (seen.contentLength ? seen.length : 0)) return "body not as long as announced";
    if (!body.empty() && !seen.contentType) return "body without a Content-Type";
    if (equalsNoCase(seen.type, "application/sdp") && !body.empty() && !isSdp(body)) return "bad SDP body";
    // Bodies the library would take apart further, which the phone never uses: chat is plain text.
    if (startsNoCase(seen.type, "multipart/") || equalsNoCase(seen.type, "message/cpim"))
        return "multipart or CPIM body";
    // Typing and delivery notices: the phone has turned them off, and the library's reader of them
    // aborts on a malformed one.
    if (equalsNoCase(seen.type, "application/im-iscomposing+xml") || equalsNoCase(seen.type, "message/imdn+xml"))
        return "typing or delivery notice";
    return {};
}

} // namespace corvid::sip_datagram
