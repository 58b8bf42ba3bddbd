#pragma once
// How the engine reaches its proxy and protects its calls: the SIP transport, the TLS checks, media
// encryption and NAT traversal. The window reads them from the settings when going online and hands
// them to the engine before it starts; the defaults are clear SIP over UDP and clear RTP.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace corvid {

// An IPv4 network; an address is a network of 32 bits. Host byte order.
struct Ipv4Net {
    quint32 address = 0;
    quint32 mask = 0xffffffffu;
    bool operator==(const Ipv4Net& o) const { return address == o.address && mask == o.mask; }
};

// "192.0.2.7" or "192.0.2.0/24"; nothing for anything else (names, IPv6, a bad prefix).
std::optional<Ipv4Net> parseNetwork(const QString& text);
// The blank-separated networks of a text such as SipAllowFrom; the words that are not one go to *wrong.
std::vector<Ipv4Net> parseNetworks(const QString& text, QStringList* wrong = nullptr);

struct SipSecurity {
    enum class Transport { Udp, Tcp, Tls };
    Transport transport = Transport::Udp;
    // CA bundle the proxy's certificate must chain to; empty: the system's store.
    QString caFile;
    // false only in a lab: the proxy's certificate and name are not checked.
    bool verifyServer = true;
    // SRTP with SDES keys for every call.
    bool srtp = false;
    // With srtp: a far end without SRTP makes the call fail instead of falling back to clear audio.
    bool srtpMandatory = false;
    // "host:port" of a STUN server; empty: none.
    QString stunServer;
    // ICE candidates in offers and answers.
    bool ice = false;
    // Keep-alives on the connection to the proxy, which cost it no transaction: on UDP a STUN
    // binding request (or a CRLF, to a proxy that does not answer STUN), the double-CRLF ping on TCP
    // and TLS (the proxy answers with a CRLF pong). Seconds; 0: none.
    int keepAliveSeconds = 30;
    // While registered, the registrar is checked this often (the keep-alives, when more often, check
    // it too): on UDP by the STUN keep-alive when the proxy answers it, otherwise by refreshing the
    // registration, whose answer also shows that the registrar holds this phone again (a restarted
    // registrar may have forgotten it). Seconds; 0: no check, only the library's own refresh near
    // the expiry.
    int registrarCheckSeconds = 60;
    // When the STUN keep-alive checks the registrar, the registration is still refreshed this often,
    // so that a registrar that restarted and forgot the phone knows it again. Seconds; 0: only near
    // the expiry.
    int registrarRefreshSeconds = 300;
    // Addresses and networks ("192.0.2.7", "192.0.2.0/24") that may send SIP besides the registrar
    // and the outbound proxy; everything else is dropped. Over TCP and TLS the phone listens only
    // when some are given.
    QStringList allowFrom;
};

} // namespace corvid
