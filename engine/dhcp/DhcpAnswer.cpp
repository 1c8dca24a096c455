#include "engine/dhcp/DhcpAnswer.h"

namespace Dhcp {

namespace {
enum : quint8 {
    OptSubnetMask = 1, OptRouter = 3, OptDns = 6, OptBroadcast = 28, OptRequestedIp = 50,
    OptLeaseTime = 51, OptRenewal = 58, OptRebinding = 59, OptClientId = 61, OptTftpServer = 66,
};
constexpr quint32 kBroadcast = 0xffffffff;

QByteArray Addresses(const QList<quint32>& list) {
    QByteArray out;
    for (quint32 a : list)
        out += IpBytes(a);
    return out;
}

QByteArray Seconds(qint64 s) { return IpBytes(quint32(qBound<qint64>(0, s, 0xfffffffe))); }

// The options every reply with a network configuration carries.
void AddNetwork(QByteArray& out, const ServerConfig& config, const QByteArray& file) {
    AddOption(out, OptSubnetMask, IpBytes(config.netmask));
    if (!config.routers.isEmpty())
        AddOption(out, OptRouter, Addresses(config.routers));
    if (!config.dns.isEmpty())
        AddOption(out, OptDns, Addresses(config.dns));
    AddOption(out, OptBroadcast, IpBytes((config.server & config.netmask) | ~config.netmask));
    AddOption(out, OptTftpServer, AddressText(config.server).toLatin1());
    if (!file.isEmpty())
        AddOption(out, OptBootFile, file);
}

void AddLease(QByteArray& out, const ServerConfig& config) {
    AddOption(out, OptLeaseTime, Seconds(config.leaseSeconds));
    AddOption(out, OptRenewal, Seconds(config.leaseSeconds / 2));
    AddOption(out, OptRebinding, Seconds(config.leaseSeconds * 7 / 8));
}

Mac MacOf(const Packet& p) { return p.chaddr.left(qMin<int>(p.hlen, 16)); }

// Option 61 as the client's identity (RFC 2131 4.2); empty when absent or malformed (a
// type and at least one byte, at most one option's length).
QByteArray ClientIdOf(const Packet& p) {
    const QByteArray id = p.option(OptClientId);
    return id.size() >= 2 && id.size() <= 255 ? id : QByteArray();
}

// RFC 2131 4.1: through the relay (a NAK with the broadcast bit, as the relay must
// broadcast it); a NAK by broadcast; to the client's own address once it has one;
// broadcast when it asks for that; else to the address given, at its MAC.
void Route(Reply& r, const Packet& request, bool nak, quint32 yiaddr) {
    constexpr quint16 kBroadcastFlag = 0x8000;
    if (request.giaddr) {
        r.to = request.giaddr;
        r.toPort = kServerPort;
        if (nak)
            r.bytes[10] = char(quint8(r.bytes[10]) | (kBroadcastFlag >> 8));
    } else if (nak) {
        r.to = kBroadcast;
    } else if (request.ciaddr) {
        r.to = request.ciaddr;
    } else if (yiaddr && !(request.flags & kBroadcastFlag)) {
        r.to = yiaddr;
        r.toMac = MacOf(request);
    } else {
        r.to = kBroadcast;
    }
}

bool SameNetwork(quint32 a, const ServerConfig& c) {
    return (a & c.netmask) == (c.server & c.netmask);
}

QString RefusalFor(CLeaseTable::Outcome outcome, const CLeaseTable& leases) {
    switch (outcome) {
    case CLeaseTable::Outcome::Unknown:
        return QStringLiteral("Not in HostsFile (OnlyKnownHosts)");
    case CLeaseTable::Outcome::Exhausted:
        return QStringLiteral("No free address in the pool %1-%2")
            .arg(AddressText(leases.First()), AddressText(leases.Last()));
    default: break;
    }
    return QString();
}
} // namespace

QString DurationText(qint64 s) {
    if (s % 3600 == 0)
        return QStringLiteral("%1 h").arg(s / 3600);
    if (s % 60 == 0)
        return QStringLiteral("%1 min").arg(s / 60);
    return QStringLiteral("%1 s").arg(s);
}

BootPolicy::Folder FolderOf(const ServerConfig& config) {
    BootPolicy::Folder folder;
    folder.exists = config.exists;
    folder.size = config.size;
    if (config.boot.menu && config.menuListing)
        folder.listing = config.menuListing();
    return folder;
}

BootPolicy::Choice BootFileFor(const Packet& request, const ServerConfig& config,
                               const FixedHost* host) {
    const BootPolicy::Folder folder = FolderOf(config);
    return BootPolicy::Choose(BootPolicy::Service::DhcpServer,
                              BootPolicy::ClientOf(request, host ? host->bootFile : QString()),
                              config.boot, QHostAddress(config.server), folder);
}

namespace {
// The file offered, and the row's word when it is missing or cannot boot: the address
// is given all the same, without the file.
QByteArray TakeBootFile(Reply& r, const BootPolicy::Choice& choice) {
    r.bootFile = choice.file;
    const QString problem = choice.problem();
    if (!problem.isEmpty()) {
        r.bootFailed = true;
        r.bootProblem = QStringLiteral("; ") + problem;
    }
    return choice.refusal == Refusal::None ? choice.offered : QByteArray();
}
} // namespace

Reply Answer(const Packet& request, const ServerConfig& config, CLeaseTable& leases, qint64 now,
             const AdmitAddress& admit) {
    Reply r;
    const Mac mac = MacOf(request);
    const QByteArray id = ClientIdOf(request);
    const auto refuse = [&](const QString& why) {
        r.refused = true;
        r.info = why;
        return r;
    };
    const auto admitted = [&](quint32 address) {
        const QString why = admit ? admit(address) : QString();
        if (!why.isEmpty())
            refuse(why);
        return why.isEmpty();
    };
    const quint8 type = request.messageType;
    const quint32 serverId = OptionAddress(request, OptServerId);

    if (type == RELEASE || type == DECLINE) {
        if (serverId && serverId != config.server)
            return r;
        // A RELEASE must name its server (RFC 2131 table 5): one that does not is no
        // client letting go of its own lease, only someone who knows its MAC.
        if (type == RELEASE && !serverId)
            return r;
        if (type == RELEASE) {
            if (leases.Release(mac, request.ciaddr, now, id)) {
                r.address = request.ciaddr;
                r.info = QStringLiteral("Released");
            }
            return r;
        }
        const quint32 address = OptionAddress(request, OptRequestedIp);
        if (leases.Decline(mac, address, now, id)) {
            r.address = address;
            return refuse(QStringLiteral("Declined %1: in use by another machine, not given for %2")
                              .arg(AddressText(address),
                                   DurationText(CLeaseTable::kDeclineSeconds)));
        }
        return r;
    }

    if (type == INFORM) {
        // A client with an address of its own asks only for the rest.
        if (!request.ciaddr || !admitted(request.ciaddr))
            return r;
        r.address = request.ciaddr;
        const QByteArray file = TakeBootFile(r, BootFileFor(request, config, leases.Host(mac)));
        QByteArray out = StartReply(request, request.ciaddr, 0, config.server, file);
        AddOption(out, OptMessageType, QByteArray(1, char(ACK)));
        AddOption(out, OptServerId, IpBytes(config.server));
        AddNetwork(out, config, file);
        r.bytes = EndMessage(out);
        Route(r, request, false, 0);
        r.info = QStringLiteral("Informed %1").arg(AddressText(request.ciaddr)) + r.bootProblem;
        return r;
    }

    CLeaseTable::Pick pick;
    MessageType replyType = ACK;
    if (type == DISCOVER) {
        pick = leases.Offer(mac, OptionAddress(request, OptRequestedIp), now, id);
        replyType = OFFER;
    } else if (type == REQUEST) {
        // SELECTING names the server it chose: another one's choice is not ours to answer.
        if (serverId && serverId != config.server)
            return r;
        const quint32 wanted =
            request.ciaddr ? request.ciaddr : OptionAddress(request, OptRequestedIp);
        // INIT-REBOOT from a client we have no record of: another server's client,
        // which it alone may confirm (RFC 2131 4.3.2); only a wrong network is told.
        if (!serverId && !request.ciaddr && !leases.Knows(mac, id) && SameNetwork(wanted, config))
            return r;
        pick = leases.Bind(mac, wanted, now, config.leaseSeconds, id);
        if (pick.outcome == CLeaseTable::Outcome::Wrong) {
            // INIT-REBOOT of an address on another network, or one that is not the
            // client's: it must start over (RFC 2131 4.3.2).
            QByteArray out = StartReply(request, 0, 0, 0, {});
            AddOption(out, OptMessageType, QByteArray(1, char(NAK)));
            AddOption(out, OptServerId, IpBytes(config.server));
            r.bytes = EndMessage(out);
            Route(r, request, true, 0);
            r.address = wanted;
            return refuse(SameNetwork(wanted, config)
                              ? QStringLiteral("NAK: %1 is not this client's").arg(AddressText(wanted))
                              : QStringLiteral("NAK: %1 is not on this network").arg(AddressText(wanted)));
        }
    } else if (type == 0) {
        // Plain BOOTP: the address at once, for as long as a DHCP lease. A BOOTP client
        // never gives it back nor renews it, so a pool address goes to one only when
        // asked for (BootpDynamic, as dnsmasq's bootp-dynamic); a fixed host's is its own.
        if (!config.bootpDynamic && !leases.Host(mac))
            return refuse(QStringLiteral("BOOTP: not in HostsFile (BootpDynamic off)"));
        pick = leases.Offer(mac, 0, now, id);
        if (pick.outcome == CLeaseTable::Outcome::Given)
            pick = leases.Bind(mac, pick.address, now, config.leaseSeconds, id);
    } else {
        return r;
    }
    if (pick.outcome != CLeaseTable::Outcome::Given) {
        r.exhausted = pick.outcome == CLeaseTable::Outcome::Exhausted;
        return refuse(RefusalFor(pick.outcome, leases));
    }
    r.address = pick.address;
    if (!admitted(pick.address)) {
        leases.Release(mac, pick.address, now, id);
        return r;
    }

    const BootPolicy::Choice choice = BootFileFor(request, config, pick.host);
    // A Pi 3's ROM boots on the OFFER and never asks: the address is leased as it is
    // offered, or another client could be offered it while the Pi uses it.
    const bool leasedOnOffer = type == DISCOVER && choice.raspberryPi;
    if (leasedOnOffer)
        leases.Bind(mac, pick.address, now, config.leaseSeconds, id);
    const QByteArray file = TakeBootFile(r, choice);
    QByteArray out = StartReply(request, 0, pick.address, config.server, file);
    if (type != 0) {
        AddOption(out, OptMessageType, QByteArray(1, char(replyType)));
        AddOption(out, OptServerId, IpBytes(config.server));
        AddLease(out, config);
        // UEFI HTTP boot takes an offer only when it says it is for HTTPClient.
        if (choice.httpClient && !file.isEmpty())
            AddOption(out, OptVendorClass, "HTTPClient");
        // A Pi takes only an offer that holds its menu item (the TFTP server: 66).
        if (!choice.vendorOptions.isEmpty()) {
            AddOption(out, OptVendorClass, "PXEClient");
            AddOption(out, OptVendorSpecific, choice.vendorOptions);
        }
    }
    AddNetwork(out, config, file);
    r.bytes = EndMessage(out);
    Route(r, request, false, pick.address);
    const QString at = AddressText(pick.address);
    if (type == 0)
        r.info = QStringLiteral("BOOTP %1").arg(at);
    else if (type == DISCOVER && leasedOnOffer)
        r.info = QStringLiteral("Leased %1 for %2 as offered to a Raspberry Pi")
                     .arg(at, DurationText(config.leaseSeconds));
    else if (type == DISCOVER)
        r.info = QStringLiteral("Offered %1").arg(at);
    else
        r.info = QStringLiteral("Leased %1 for %2").arg(at, DurationText(config.leaseSeconds));
    r.info += r.bootProblem;
    return r;
}

} // namespace Dhcp
