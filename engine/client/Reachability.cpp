#include "engine/client/Reachability.h"

#include "engine/tftp/TftpPacket.h"

#include <QElapsedTimer>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TftpClient {

QString NmcliAddressCommand(const QString& iface, const QString& address) {
    return QStringLiteral("nmcli connection add type ethernet ifname %1 con-name \"Vantrel "
                          "direct link\" ipv4.method manual ipv4.addresses %2")
        .arg(iface, address);
}

namespace {
constexpr int kAssumedPrefix = 24; // what recovery modes and factory defaults use

QString dotted(quint32 a) { return QHostAddress(a).toString(); }

// The cabled interface to name in the command: the one up, not loopback, without an IPv4
// address; when there is not exactly one, a word to replace.
QString likelyInterface(const QList<NetInterface>& interfaces) {
    QString found;
    int count = 0;
    for (const NetInterface& i : interfaces) {
        if (i.loopback || !i.up)
            continue;
        bool v4 = false;
        for (const QHostAddress& a : i.addresses)
            v4 = v4 || a.protocol() == QAbstractSocket::IPv4Protocol;
        if (!v4) {
            found = i.name;
            ++count;
        }
    }
    return count == 1 ? found : QStringLiteral("IFACE");
}
} // namespace

Reach LookAtNetwork(const QHostAddress& device, const QList<NetInterface>& interfaces) {
    Reach r;
    bool ok = false;
    const quint32 d = device.toIPv4Address(&ok);
    if (!ok || device.isLoopback())
        return r;
    for (const NetInterface& i : interfaces) {
        for (qsizetype k = 0; k < i.addresses.size(); ++k) {
            bool v4 = false;
            const quint32 a = i.addresses[k].toIPv4Address(&v4);
            const int prefix = i.prefixLength(k);
            if (!v4 || prefix <= 0 || prefix > 32)
                continue;
            const quint32 mask = prefix == 32 ? ~0u : ~(~0u >> prefix);
            if ((a & mask) == (d & mask))
                return r;
        }
    }
    const quint32 mask = ~(~0u >> kAssumedPrefix);
    const quint32 net = d & mask;
    // .10 as the DHCP dialog offers, unless that is the device; then .20.
    const quint32 mine = net | ((d & ~mask) == 10 ? 20 : 10);
    r.kind = Reach::NoAddress;
    const QString network = QStringLiteral("%1/%2").arg(dotted(net)).arg(kAssumedPrefix);
    r.command = NmcliAddressCommand(likelyInterface(interfaces),
                                    QStringLiteral("%1/%2").arg(dotted(mine)).arg(kAssumedPrefix));
    r.text = QStringLiteral("this machine has no address in %1 (the device's network): give it "
                            "one, e.g. %2")
                 .arg(network, r.command);
    return r;
}

namespace {
// A UDP socket connected to the device: the system's route lookup, nothing sent.
int connectedSocket(const QHostAddress& device, quint16 port, int* err) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    bool v4 = false;
    const quint32 a = device.toIPv4Address(&v4);
    if (v4) {
        auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        sin->sin_addr.s_addr = htonl(a);
        len = sizeof *sin;
    } else {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(port);
        const Q_IPV6ADDR a6 = device.toIPv6Address();
        std::memcpy(&sin6->sin6_addr, &a6, 16);
        sin6->sin6_scope_id = device.scopeId().toUInt();
        len = sizeof *sin6;
    }
    const int fd = ::socket(ss.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *err = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        *err = errno;
        ::close(fd);
        return -1;
    }
    *err = 0;
    return fd;
}

QString host(const QHostAddress& device) { return device.toString(); }
} // namespace

Reach LookAtRoute(const QHostAddress& device, const QList<NetInterface>& interfaces) {
    int err = 0;
    const int fd = connectedSocket(device, 69, &err);
    if (fd >= 0)
        ::close(fd);
    const Reach network = LookAtNetwork(device, interfaces);
    if (err == ENETUNREACH || err == EHOSTUNREACH) {
        Reach r = network;
        r.kind = Reach::NoRoute;
        r.text = QStringLiteral("no route to %1").arg(host(device)) +
                 (network.kind == Reach::NoAddress ? QStringLiteral(": ") + network.text : QString());
        return r;
    }
    return network;
}

Reach Diagnose(const QHostAddress& device, quint16 port, const QByteArray& request,
               const QList<NetInterface>& interfaces, int waitMs) {
    Reach r = LookAtRoute(device, interfaces);
    if (r.kind != Reach::Answered)
        return r;
    int err = 0;
    const int fd = connectedSocket(device, port, &err);
    if (fd < 0) {
        r.kind = Reach::Silent;
        r.text = QStringLiteral("nothing answered at %1 (%2)").arg(host(device), QString::fromLocal8Bit(std::strerror(err)));
        return r;
    }
    // A connected socket hears the ICMP error that the transfer's unconnected one does not.
    [[maybe_unused]] const auto sent = ::send(fd, request.constData(), size_t(request.size()), 0);
    QElapsedTimer clock;
    clock.start();
    r.kind = Reach::Silent;
    r.text = QStringLiteral("nothing answered at %1 port %2: the device is off, not yet listening, "
                            "or a firewall drops the request").arg(host(device)).arg(port);
    for (int round = 0; round < 100 && clock.elapsed() < waitMs; ++round) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(1, waitMs - clock.elapsed()))) <= 0)
            continue;
        char buffer[1500];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == ECONNREFUSED) {
            r.kind = Reach::Refused;
            r.text = QStringLiteral("the device refused (ICMP port unreachable): nothing listens at "
                                    "%1 port %2").arg(host(device)).arg(port);
            break;
        }
        if (n < 0 && (errno == EHOSTUNREACH || errno == ENETUNREACH)) {
            r.kind = Reach::NoRoute;
            r.text = QStringLiteral("no route to %1 (host unreachable)").arg(host(device));
            break;
        }
        if (n >= 0) {
            // Late, but there: it is not to start a transfer with this socket.
            const QByteArray error = Tftp::MakeError(0, "Transfer cancelled");
            [[maybe_unused]] const auto e = ::send(fd, error.constData(), size_t(error.size()), 0);
            r.kind = Reach::Answered;
            r.text = QStringLiteral("the device answered only late: try a longer --timeout");
            break;
        }
    }
    ::close(fd);
    return r;
}

} // namespace TftpClient
