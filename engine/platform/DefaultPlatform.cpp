#include "engine/platform/Platform.h"

#include <QNetworkInterface>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

std::unique_ptr<IPlatform> CreateDefaultPlatform() {
    const QByteArray asked = qgetenv("VANTREL_PLATFORM");
    if (asked == "qt")
        return CreateQtPlatform();
#ifdef VANTREL_HAVE_URING
    // io_uring unless epoll is asked for: it measured ahead on every figure once a
    // transfer's end left in the pass's one submit (docs/performance.md). A kernel that
    // refuses it (too old, io_uring_disabled, a seccomp filter) gets epoll.
    if (asked != "epoll") {
        if (auto platform = CreateUringPlatform())
            return platform;
    }
#endif
#ifdef VANTREL_HAVE_EPOLL
    if (auto platform = CreateEpollPlatform())
        return platform;
#endif
    return CreateQtPlatform();
}

QList<NetInterface> IPlatform::interfaces() { return SystemInterfaces(); }

bool IPlatform::addArpEntry(const QString& device, quint32 address, const QByteArray& mac) {
    const QByteArray name = device.toLocal8Bit();
    arpreq req{};
    if (mac.size() != 6 || name.isEmpty() || name.size() >= int(sizeof(req.arp_dev)))
        return false;
    auto* protocol = reinterpret_cast<sockaddr_in*>(&req.arp_pa);
    protocol->sin_family = AF_INET;
    protocol->sin_addr.s_addr = htonl(address);
    req.arp_ha.sa_family = ARPHRD_ETHER;
    std::memcpy(req.arp_ha.sa_data, mac.constData(), 6);
    req.arp_flags = ATF_COM; // complete, not permanent: it ages out like a learned one
    std::memcpy(req.arp_dev, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::ioctl(fd, SIOCSARP, &req) == 0;
    ::close(fd);
    return ok;
}

std::unique_ptr<IDatagramSocket> IPlatform::bindLinkUdp6(quint16, const QString&,
                                                       const QHostAddress&, QString* error) {
    if (error)
        *error = QStringLiteral("DHCPv6 sockets are not available on this platform");
    return nullptr;
}

std::unique_ptr<IDatagramSocket> IPlatform::openRouterMessages(const QString&, QString* error) {
    if (error)
        *error = QStringLiteral("Router advertisements are not available on this platform");
    return nullptr;
}

QList<NetInterface> SystemInterfaces() {
    QList<NetInterface> out;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        NetInterface n;
        n.name = i.name();
        n.up = NetInterface::CountsUp(i.flags() & QNetworkInterface::IsUp,
                                      i.flags() & QNetworkInterface::IsRunning);
        n.loopback = i.flags() & QNetworkInterface::IsLoopBack;
        n.mac = QByteArray::fromHex(i.hardwareAddress().toLatin1().replace(':', ""));
        for (const QNetworkAddressEntry& e : i.addressEntries()) {
            n.addresses.append(e.ip());
            n.prefixLengths.append(e.prefixLength());
        }
        out.append(n);
    }
    return out;
}

QList<InterfaceEvent> InterfaceChanges(const QList<NetInterface>& before,
                                       const QList<NetInterface>& after) {
    const auto find = [](const QList<NetInterface>& list, const QString& name) -> const NetInterface* {
        for (const NetInterface& i : list)
            if (i.name == name)
                return &i;
        return nullptr;
    };
    static const NetInterface none;
    QList<InterfaceEvent> out;
    const auto compare = [&](const NetInterface& was, const NetInterface& is, const QString& name,
                             bool appeared) {
        if (was.up != is.up || appeared)
            out.append({is.up ? InterfaceEvent::LinkUp : InterfaceEvent::LinkDown, name});
        for (qsizetype i = 0; i < was.addresses.size(); ++i)
            if (!is.addresses.contains(was.addresses[i]))
                out.append({InterfaceEvent::AddressRemoved, name, 0, was.addresses[i],
                            was.prefixLength(i)});
        for (qsizetype i = 0; i < is.addresses.size(); ++i)
            if (!was.addresses.contains(is.addresses[i]))
                out.append({InterfaceEvent::AddressAdded, name, 0, is.addresses[i],
                            is.prefixLength(i)});
    };
    for (const NetInterface& was : before) {
        const NetInterface* is = find(after, was.name);
        compare(was, is ? *is : none, was.name, false);
    }
    for (const NetInterface& is : after)
        if (!find(before, is.name))
            compare(none, is, is.name, true);
    return out;
}

qint64 IPlatform::openFileLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}

void IPlatform::closeDescriptor(int fd) {
    if (fd >= 0)
        ::close(fd);
}
