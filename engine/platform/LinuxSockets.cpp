#include "engine/platform/LinuxSockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/icmp6.h>
#include <netinet/udp.h>
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
    m_segSize = size_t(size);
    m_segs = 1;
    m_segEnded = false;
    msghdr& h = m_msgs[size_t(i)].msg_hdr;
    h = {};
    h.msg_name = &m_to[size_t(i)];
    h.msg_namelen = len;
    h.msg_iov = &m_iov[size_t(i)];
    h.msg_iovlen = 1;
    return h;
}

// The kernel's limits for one segmented send: 64 segments (more from 6.x on, not
// relied on) and one datagram's worth of bytes in all.
constexpr int kMaxSegments = 64;
constexpr qint64 kMaxSegmentedBytes = 65507;

bool CSendQueue::extendLast(const char* data, qint64 size, const sockaddr_storage& sa,
                            socklen_t len) {
    if (m_count == 0 || m_segEnded || m_segs >= kMaxSegments || size <= 0 ||
        size > qint64(m_segSize) || m_bytes + size > qint64(m_data.size()))
        return false;
    const int i = m_count - 1;
    iovec& v = m_iov[size_t(i)];
    msghdr& h = m_msgs[size_t(i)].msg_hdr;
    if (qint64(v.iov_len) + size > kMaxSegmentedBytes || h.msg_namelen != len ||
        std::memcmp(&m_to[size_t(i)], &sa, len) != 0 ||
        static_cast<const char*>(v.iov_base) + v.iov_len != m_data.data() + m_bytes)
        return false;
    std::memcpy(m_data.data() + m_bytes, data, size_t(size));
    m_bytes += size;
    v.iov_len += size_t(size);
    ++m_segs;
    m_segEnded = size_t(size) < m_segSize;
    if (!h.msg_control) {
        h.msg_control = m_control[size_t(i)].bytes;
        h.msg_controllen = sizeof m_control[size_t(i)].bytes;
        cmsghdr* c = CMSG_FIRSTHDR(&h);
        c->cmsg_level = SOL_UDP;
        c->cmsg_type = UDP_SEGMENT;
        c->cmsg_len = CMSG_LEN(sizeof(quint16));
        const quint16 seg = quint16(m_segSize);
        std::memcpy(CMSG_DATA(c), &seg, sizeof seg);
    }
    return true;
}

int CSendQueue::segmentRun(int first) const {
    const msghdr& h0 = m_msgs[size_t(first)].msg_hdr;
    const size_t size = m_iov[size_t(first)].iov_len;
    qint64 bytes = qint64(size);
    int run = 1;
    for (int i = first + 1; i < m_count && run < kMaxSegments; ++i, ++run) {
        const iovec& prev = m_iov[size_t(i - 1)];
        const iovec& v = m_iov[size_t(i)];
        const msghdr& h = m_msgs[size_t(i)].msg_hdr;
        if (prev.iov_len != size || v.iov_len > size || v.iov_len == 0 ||
            bytes + qint64(v.iov_len) > kMaxSegmentedBytes ||
            static_cast<const char*>(prev.iov_base) + prev.iov_len != v.iov_base ||
            h.msg_namelen != h0.msg_namelen ||
            std::memcmp(h.msg_name, h0.msg_name, h.msg_namelen) != 0)
            break;
        bytes += qint64(v.iov_len);
    }
    return run;
}

int CSendQueue::sendSegmented(int fd, int first, int run) {
    const msghdr& h0 = m_msgs[size_t(first)].msg_hdr;
    const iovec& last = m_iov[size_t(first + run - 1)];
    iovec all{m_iov[size_t(first)].iov_base,
              size_t(static_cast<const char*>(last.iov_base) + last.iov_len -
                     static_cast<const char*>(m_iov[size_t(first)].iov_base))};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(quint16))] = {};
    msghdr h{};
    h.msg_name = h0.msg_name;
    h.msg_namelen = h0.msg_namelen;
    h.msg_iov = &all;
    h.msg_iovlen = 1;
    h.msg_control = control;
    h.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&h);
    c->cmsg_level = SOL_UDP;
    c->cmsg_type = UDP_SEGMENT;
    c->cmsg_len = CMSG_LEN(sizeof(quint16));
    const quint16 size = quint16(m_iov[size_t(first)].iov_len);
    std::memcpy(CMSG_DATA(c), &size, sizeof size);
    ssize_t n;
    do {
        n = ::sendmsg(fd, &h, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? errno : 0;
}

void CSendQueue::sendAll(int fd, bool* segment) {
    int done = 0;
    // A datagram the kernel refuses is lost, as any UDP datagram may be; the rest go on.
    while (fd >= 0 && done < m_count) {
        if (*segment) {
            const int run = segmentRun(done);
            if (run > 1) {
                const int err = sendSegmented(fd, done, run);
                // No room, or no memory: lost as sendmmsg would lose them. Anything else
                // (a device without checksum offload, a segment above the path's MTU):
                // this socket sends its datagrams one by one from now on.
                if (err == 0 || err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS ||
                    err == ENOMEM) {
                    done += run;
                    continue;
                }
                *segment = false;
            }
        }
        // One by one up to where the next segmented run starts.
        int end = done + 1;
        while (end < m_count && !(*segment && segmentRun(end) > 1))
            ++end;
        while (done < end) {
            const int n = sendmmsg(fd, messages() + done, unsigned(end - done), 0);
            if (n < 0 && errno == EINTR)
                continue;
            done += n > 0 ? n : 1;
        }
    }
}

BoundUdp openUdp(const QHostAddress& address, quint16 port, bool wantTo, const QString* device,
                 QString* error, bool reusePort, int receiveBuffer) {
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
    if (reusePort && setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0)
        return fail(errno);
    // Best effort: less room than asked only means drops sooner, as with the default.
    // A process allowed to administer the network is not held to net.core.rmem_max.
    if (receiveBuffer > 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer) != 0)
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
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

namespace {
// The steps both link sockets share: tied to the device, multicast leaving through it
// without coming back, in `group` there. 0 when done, errno otherwise.
int tieToLink(int fd, const QByteArray& name, unsigned index, const QHostAddress& group) {
    const int off = 0;
    const int idx = int(index);
    if (setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name.constData(), socklen_t(name.size())) != 0 ||
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &idx, sizeof idx) != 0 ||
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &off, sizeof off) != 0)
        return errno;
    if (!group.isNull()) {
        ipv6_mreq join{};
        const Q_IPV6ADDR g = group.toIPv6Address();
        std::memcpy(&join.ipv6mr_multiaddr, g.c, 16);
        join.ipv6mr_interface = index;
        if (setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &join, sizeof join) != 0)
            return errno;
    }
    return 0;
}
} // namespace

namespace {
// The device's index; 0, with the reason, when there is none by that name.
unsigned linkIndex(const QByteArray& name, const QString& device, QString* error) {
    const unsigned index = name.isEmpty() ? 0 : if_nametoindex(name.constData());
    if (!index && error)
        *error = QStringLiteral("No interface %1").arg(device);
    return index;
}
} // namespace

BoundUdp openLinkUdp6(quint16 port, const QString& device, const QHostAddress& group,
                      QString* error) {
    BoundUdp out;
    const QByteArray name = device.toLocal8Bit();
    const unsigned index = linkIndex(name, device, error);
    if (!index)
        return out;
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error)
            *error = bindErrorText(errno);
        return out;
    }
    const int on = 1;
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    int err = 0;
    // Address sharing: a DHCPv6 server or client of this host may hold the port too.
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        err = errno;
    if (!err)
        err = tieToLink(fd, name, index, group);
    if (!err && ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        err = errno;
    if (err) {
        ::close(fd);
        if (error)
            *error = bindErrorText(err);
        return out;
    }
    out = {fd, AF_INET6, port};
    return out;
}

BoundUdp openRouterIcmp6(const QString& device, QString* error) {
    BoundUdp out;
    const QByteArray name = device.toLocal8Bit();
    const unsigned index = linkIndex(name, device, error);
    if (!index)
        return out;
    const int fd = ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (fd < 0) {
        if (error)
            *error = errno == EPERM || errno == EACCES
                         ? QStringLiteral("Router advertisements need CAP_NET_RAW")
                         : bindErrorText(errno);
        return out;
    }
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ND_ROUTER_SOLICIT, &filter);
    ICMP6_FILTER_SETPASS(ND_ROUTER_ADVERT, &filter);
    const int hops = 255; // anything less is dropped by every receiver
    int err = 0;
    if (setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0 ||
        setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof hops) != 0 ||
        setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops) != 0)
        err = errno;
    if (!err)
        err = tieToLink(fd, name, index, QHostAddress(QStringLiteral("ff02::2")));
    if (err) {
        ::close(fd);
        if (error)
            *error = bindErrorText(err);
        return out;
    }
    out = {fd, AF_INET6, 0};
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
