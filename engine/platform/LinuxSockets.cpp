#include "engine/platform/LinuxSockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace LinuxSockets {

qint64 monotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString bindErrorText(int err) {
    switch (err) {
    case EADDRINUSE:
        return QStringLiteral("The bound address is already in use");
    case EACCES:
    case EPERM:
        return QStringLiteral("The address is protected");
    case EADDRNOTAVAIL:
        return QStringLiteral("The address is not available");
    default:
        return QString::fromLocal8Bit(strerror(err));
    }
}

void toHostAddress(const sockaddr_storage& sa, QHostAddress* out, quint16* port) {
    if (sa.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(sa);
        if (out)
            out->setAddress(ntohl(in.sin_addr.s_addr));
        if (port)
            *port = ntohs(in.sin_port);
    } else if (sa.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(sa);
        if (out)
            out->setAddress(reinterpret_cast<const quint8*>(&in6.sin6_addr));
        if (port)
            *port = ntohs(in6.sin6_port);
    }
}

void destinationFrom(msghdr& msg, QHostAddress* to) {
    to->clear();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            to->setAddress(ntohl(info.ipi_addr.s_addr));
            return;
        }
        if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            to->setAddress(reinterpret_cast<const quint8*>(&info.ipi6_addr));
            return;
        }
    }
}

socklen_t toSockAddr(const QHostAddress& address, quint16 port, int family, sockaddr_storage* sa) {
    std::memset(sa, 0, sizeof(sockaddr_in6));
    const bool v4 = address.protocol() == QAbstractSocket::IPv4Protocol;
    Q_IPV6ADDR a6{};
    if (!v4)
        a6 = address.toIPv6Address();
    static const quint8 mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    const bool mapped = !v4 && std::memcmp(a6.c, mappedPrefix, 12) == 0;
    if (family == AF_INET) {
        if (!v4 && !mapped)
            return 0;
        auto* in = reinterpret_cast<sockaddr_in*>(sa);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        if (v4)
            in->sin_addr.s_addr = htonl(address.toIPv4Address());
        else
            std::memcpy(&in->sin_addr, a6.c + 12, 4);
        return sizeof(sockaddr_in);
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(sa);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    if (v4) {
        in6->sin6_addr.s6_addr[10] = 0xff;
        in6->sin6_addr.s6_addr[11] = 0xff;
        const quint32 n = htonl(address.toIPv4Address());
        std::memcpy(&in6->sin6_addr.s6_addr[12], &n, 4);
    } else {
        std::memcpy(&in6->sin6_addr, a6.c, 16);
        const QString scope = address.scopeId();
        if (!scope.isEmpty()) { // link-local only
            bool numeric = false;
            in6->sin6_scope_id = scope.toUInt(&numeric);
            if (!numeric)
                in6->sin6_scope_id = if_nametoindex(scope.toLatin1().constData());
        }
    }
    return sizeof(sockaddr_in6);
}

socklen_t sendTarget(const QHostAddress& to, quint16 port, int family, qint64 size,
                     sockaddr_storage* sa) {
    const socklen_t len = toSockAddr(to, port, family, sa);
    return size < 0 || size > 65535 ? 0 : len;
}

qint64 sendNow(int fd, const char* data, qint64 size, const sockaddr_storage& sa, socklen_t len) {
    const ssize_t n =
        ::sendto(fd, data, size_t(size), 0, reinterpret_cast<const sockaddr*>(&sa), len);
    return n < 0 ? -1 : qint64(n);
}

msghdr& CSendQueue::add(const char* data, qint64 size, const sockaddr_storage& sa, socklen_t len) {
    char* at = m_data.data() + m_bytes;
    std::memcpy(at, data, size_t(size));
    const int i = m_count++;
    m_bytes += size;
    m_to[size_t(i)] = sa;
    m_iov[size_t(i)] = {at, size_t(size)};
    msghdr& h = m_msgs[size_t(i)].msg_hdr;
    h = {};
    h.msg_name = &m_to[size_t(i)];
    h.msg_namelen = len;
    h.msg_iov = &m_iov[size_t(i)];
    h.msg_iovlen = 1;
    return h;
}

BoundUdp openUdp(const QHostAddress& address, quint16 port, bool wantTo, const QString* device,
                 QString* error) {
    BoundUdp out;
    const bool any = address == QHostAddress(QHostAddress::Any);
    const int family =
        any || address.protocol() == QAbstractSocket::IPv6Protocol ? AF_INET6 : AF_INET;
    sockaddr_storage sa;
    socklen_t len =
        toSockAddr(any ? QHostAddress(QHostAddress::AnyIPv6) : address, port, family, &sa);
    const int fd = len ? ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0) {
        if (error)
            *error = len ? bindErrorText(errno) : QStringLiteral("The address is not available");
        return out;
    }
    // Every step's failure closes the socket and says why, with the system's words.
    const auto fail = [&](int err) {
        ::close(fd);
        if (error)
            *error = bindErrorText(err);
        return out;
    };
    const int on = 1, off = 0;
    if (family == AF_INET6) {
        // Any is both families on one socket; AnyIPv6 and a named address only IPv6.
        const int v6only = any ? off : on;
        if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) != 0)
            return fail(errno);
    }
    // The destination is asked for only where it is read: a transfer's socket is bound
    // to one address, and the call would be one more per request.
    if (wantTo) {
        if (family == AF_INET6)
            (void)setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
        (void)setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on); // refused on IPv6-only
    }
    if (device) {
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
            return fail(errno);
        const QByteArray name = device->toLocal8Bit();
        if (!name.isEmpty() &&
            setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name.constData(), socklen_t(name.size())) != 0)
            return fail(errno);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0)
        return fail(errno);
    quint16 bound = port;
    if (bound == 0) {
        len = sizeof sa;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return fail(errno);
        toHostAddress(sa, nullptr, &bound);
    }
    out = {fd, family, bound};
    return out;
}

} // namespace LinuxSockets

void CHeapTimerHost::start(int id, int milliseconds) {
    m_heap.start(id, elapsedMs() + std::max(0, milliseconds));
    if (!m_inPass && m_heap.earliest() < m_armedMs)
        arm();
}

void CHeapTimerHost::arm() {
    m_armedMs = m_heap.earliest();
    setDeadline(m_armedMs == CTimerHeap::kNever ? -1 : m_base + m_armedMs * 1000000);
}
