#include "engine/SipSecurity.h"

#include <QRegularExpression>

#include <arpa/inet.h>

namespace corvid {

std::optional<Ipv4Net> parseNetwork(const QString& text) {
    const QString address = text.section(QLatin1Char('/'), 0, 0);
    const bool hasPrefix = text.contains(QLatin1Char('/'));
    in_addr in{};
    // inet_pton takes only the dotted quad (no "10.1", no octal).
    if (address.isEmpty() || ::inet_pton(AF_INET, address.toLatin1().constData(), &in) != 1) return std::nullopt;
    int bits = 32;
    if (hasPrefix) {
        bool ok = false;
        const QString prefix = text.section(QLatin1Char('/'), 1);
        bits = prefix.toInt(&ok);
        if (!ok || prefix.contains(QLatin1Char('+')) || bits < 0 || bits > 32) return std::nullopt;
    }
    Ipv4Net net;
    net.mask = bits == 0 ? 0 : 0xffffffffu << (32 - bits);
    net.address = ntohl(in.s_addr) & net.mask;
    return net;
}

std::vector<Ipv4Net> parseNetworks(const QString& text, QStringList* wrong) {
    std::vector<Ipv4Net> nets;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (const auto net = parseNetwork(word))
            nets.push_back(*net);
        else if (wrong)
            *wrong << word;
    }
    return nets;
}

} // namespace corvid
