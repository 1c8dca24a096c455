#include "engine/platform/LinkEvents.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace LinkEvents {

namespace {
// The attributes of one message, from `at` to its end: fn(type, payload, length).
template <typename Fn> void ForEachAttribute(const char* at, qint64 left, Fn fn) {
    while (left >= qint64(sizeof(rtattr))) {
        rtattr a;
        std::memcpy(&a, at, sizeof a);
        if (a.rta_len < sizeof(rtattr) || a.rta_len > left)
            return;
        fn(a.rta_type & ~NLA_F_NESTED, at + RTA_LENGTH(0), qint64(a.rta_len - RTA_LENGTH(0)));
        const qint64 step = RTA_ALIGN(a.rta_len);
        at += step;
        left -= step;
    }
}

QString Name(const char* p, qint64 n) {
    return QString::fromLocal8Bit(p, qsizetype(strnlen(p, size_t(n))));
}
} // namespace

QList<InterfaceEvent> Parse(const char* data, qint64 size) {
    QList<InterfaceEvent> out;
    while (size >= qint64(sizeof(nlmsghdr))) {
        nlmsghdr h;
        std::memcpy(&h, data, sizeof h);
        if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > size)
            break;
        const char* body = data + NLMSG_HDRLEN;
        const qint64 bodyLen = qint64(h.nlmsg_len) - NLMSG_HDRLEN;
        if ((h.nlmsg_type == RTM_NEWLINK || h.nlmsg_type == RTM_DELLINK) &&
            bodyLen >= qint64(sizeof(ifinfomsg))) {
            ifinfomsg info;
            std::memcpy(&info, body, sizeof info);
            InterfaceEvent e;
            e.index = info.ifi_index;
            const bool running = (info.ifi_flags & IFF_UP) && (info.ifi_flags & IFF_RUNNING);
            e.kind = h.nlmsg_type == RTM_NEWLINK && running ? InterfaceEvent::LinkUp
                                                            : InterfaceEvent::LinkDown;
            ForEachAttribute(body + NLMSG_ALIGN(sizeof info), bodyLen - NLMSG_ALIGN(sizeof info),
                             [&](int type, const char* p, qint64 n) {
                                 if (type == IFLA_IFNAME)
                                     e.name = Name(p, n);
                             });
            out.append(e);
        } else if ((h.nlmsg_type == RTM_NEWADDR || h.nlmsg_type == RTM_DELADDR) &&
                   bodyLen >= qint64(sizeof(ifaddrmsg))) {
            ifaddrmsg a;
            std::memcpy(&a, body, sizeof a);
            InterfaceEvent e;
            e.kind = h.nlmsg_type == RTM_NEWADDR ? InterfaceEvent::AddressAdded
                                                 : InterfaceEvent::AddressRemoved;
            e.index = int(a.ifa_index);
            e.prefixLength = a.ifa_prefixlen;
            QHostAddress address, local;
            ForEachAttribute(body + NLMSG_ALIGN(sizeof a), bodyLen - NLMSG_ALIGN(sizeof a),
                             [&](int type, const char* p, qint64 n) {
                                 QHostAddress* to = type == IFA_LOCAL     ? &local
                                                    : type == IFA_ADDRESS ? &address
                                                                          : nullptr;
                                 if (to && a.ifa_family == AF_INET && n == 4) {
                                     quint32 v;
                                     std::memcpy(&v, p, 4);
                                     to->setAddress(ntohl(v));
                                 } else if (to && a.ifa_family == AF_INET6 && n == 16) {
                                     to->setAddress(reinterpret_cast<const quint8*>(p));
                                 } else if (type == IFA_LABEL) {
                                     e.name = Name(p, n);
                                 }
                             });
            // On a point-to-point link IFA_ADDRESS is the peer's; IFA_LOCAL is ours.
            e.address = local.isNull() ? address : local;
            if (!e.address.isNull())
                out.append(e);
        }
        const qint64 step = qMin<qint64>(NLMSG_ALIGN(h.nlmsg_len), size);
        data += step;
        size -= step;
    }
    return out;
}

int Open() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl sa{};
    sa.nl_family = AF_NETLINK;
    sa.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void ReadAll(int fd, const std::function<void(const InterfaceEvent&)>& onEvent) {
    alignas(nlmsghdr) char buffer[16384];
    // Bounded: a burst beyond this waits for the next wake-up.
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        // ENOBUFS: the kernel dropped events. An event with no name says "look again".
        if (n < 0 && errno == ENOBUFS) {
            if (onEvent)
                onEvent(InterfaceEvent{});
            continue;
        }
        if (n <= 0)
            return;
        for (InterfaceEvent e : Parse(buffer, n)) {
            if (e.name.isEmpty() && e.index > 0) {
                char name[IF_NAMESIZE] = {};
                if (if_indextoname(unsigned(e.index), name))
                    e.name = QString::fromLocal8Bit(name);
            }
            if (onEvent)
                onEvent(e);
        }
    }
}

} // namespace LinkEvents
