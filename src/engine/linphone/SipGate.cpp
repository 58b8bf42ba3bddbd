#include "engine/linphone/SipGate.h"

#include <QDir>
#include <QFileInfo>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace corvid::sip_gate {

std::vector<Ipv4Net> resolveHost(const QString& host) {
    std::vector<Ipv4Net> found;
    if (const auto net = parseNetwork(host)) return {*net};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (host.isEmpty() || ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &list) != 0) return found;
    for (addrinfo* it = list; it; it = it->ai_next) {
        Ipv4Net net;
        net.address = ntohl(reinterpret_cast<sockaddr_in*>(it->ai_addr)->sin_addr.s_addr);
        if (std::find(found.begin(), found.end(), net) == found.end()) found.push_back(net);
    }
    ::freeaddrinfo(list);
    return found;
}

std::vector<int> socketsOnPort(int port, int type) {
    std::vector<int> fds;
    const QDir dir(QStringLiteral("/proc/self/fd"));
    for (const QString& name : dir.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        if (!QFileInfo(dir.filePath(name)).symLinkTarget().contains(QLatin1String("socket:["))) continue;
        bool ok = false;
        const int fd = name.toInt(&ok);
        if (!ok) continue;
        int value = 0;
        socklen_t length = sizeof value;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &length) != 0 || value != type) continue;
        if (type == SOCK_STREAM) {
            length = sizeof value;
            if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &value, &length) != 0 || !value) continue;
        }
        sockaddr_storage local{};
        length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) continue;
        int localPort = 0;
        if (local.ss_family == AF_INET)
            localPort = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
        else if (local.ss_family == AF_INET6)
            localPort = ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
        if (localPort == port) fds.push_back(fd);
    }
    return fds;
}

// A classic BPF program run by the kernel on each packet before it is queued on the socket. It
// reads the IP header (at SKF_NET_OFF): an IPv4 packet whose source lies in one of the networks is
// taken whole, everything else is dropped. Four instructions per network, so every jump is short.
bool attachSourceFilter(int fd, const std::vector<Ipv4Net>& allowed) {
    constexpr quint32 kAccept = 0xffffffffu, kDrop = 0;
    std::vector<sock_filter> code;
    code.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_ABS, quint32(SKF_NET_OFF)));
    code.push_back(BPF_STMT(BPF_ALU | BPF_RSH | BPF_K, 4));
    code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 4, 1, 0)); // IPv4: on
    code.push_back(BPF_STMT(BPF_RET | BPF_K, kDrop));
    for (const Ipv4Net& net : allowed) {
        code.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, quint32(SKF_NET_OFF + 12))); // source address
        code.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, net.mask));
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, net.address, 0, 1));
        code.push_back(BPF_STMT(BPF_RET | BPF_K, kAccept));
    }
    code.push_back(BPF_STMT(BPF_RET | BPF_K, kDrop));
    if (code.size() > BPF_MAXINSNS) return false;
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

bool hasFilter(int fd) {
    socklen_t blocks = 0; // with no room given, the kernel answers the filter's length
    return ::getsockopt(fd, SOL_SOCKET, SO_GET_FILTER, nullptr, &blocks) == 0 && blocks > 0;
}

int dropQueued(int fd) {
    int dropped = 0;
    char byte;
    while (::recv(fd, &byte, sizeof byte, MSG_DONTWAIT | MSG_TRUNC) >= 0)
        ++dropped;
    return dropped;
}

} // namespace corvid::sip_gate
