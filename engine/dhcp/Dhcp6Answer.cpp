#include "engine/dhcp/Dhcp6Answer.h"

#include "engine/tftp/TftpPacket.h"

#include <QtEndian>

namespace Dhcp6 {

namespace {
quint64 low64(const QHostAddress& a) {
    const Q_IPV6ADDR b = a.toIPv6Address();
    return qFromBigEndian<quint64>(b.c + 8);
}
bool samePrefix64(const QHostAddress& a, const QHostAddress& b) {
    const Q_IPV6ADDR x = a.toIPv6Address(), y = b.toIPv6Address();
    return a.protocol() == QAbstractSocket::IPv6Protocol &&
           b.protocol() == QAbstractSocket::IPv6Protocol && memcmp(x.c, y.c, 8) == 0;
}
QByteArray be32(quint32 v) {
    QByteArray out(4, '\0');
    qToBigEndian(v, out.data());
    return out;
}
QByteArray addressBytes(const QHostAddress& a) {
    const Q_IPV6ADDR b = a.toIPv6Address();
    return QByteArray(reinterpret_cast<const char*>(b.c), 16);
}
// The pool slot of the IA's first address; 0 when it names none of ours.
quint32 askedSlot(const Config& config, const IaNa& ia) {
    return ia.addresses.isEmpty() ? 0 : PoolSlot(config, ia.addresses.first().address);
}
IaNa granted(const Config& config, quint32 iaid, quint32 slot) {
    const quint32 l = quint32(config.leaseSeconds);
    return {iaid, l / 2, quint32(quint64(l) * 4 / 5), {{PoolAddress(config, slot), l, l}}, -1, {}};
}
IaNa refusedIa(quint32 iaid, Status status, const QString& text) {
    return {iaid, 0, 0, {}, status, text};
}
QHostAddress withLow64(const QHostAddress& prefix, quint64 low) {
    Q_IPV6ADDR b = prefix.toIPv6Address();
    qToBigEndian(low, b.c + 8);
    return QHostAddress(b);
}
} // namespace

QString ReadPool(const QString& first, int size, const QHostAddress& server, Config* config) {
    config->poolSize = qBound(SettingsTable::DhcpPool6Size.min, size, kMaxPoolSize);
    config->poolFirst = QHostAddress();
    const QString text = first.trimmed();
    const bool onLink = server.protocol() == QAbstractSocket::IPv6Protocol;
    if (text.isEmpty()) {
        if (!onLink)
            return QString();
        config->poolFirst = withLow64(server, kDefaultPoolStart);
    } else {
        QHostAddress typed;
        // Qt also reads "1.2.3.4" and a number alone; a scope ("%eth0") is no part of a pool.
        if (text.contains(QLatin1Char('%')) || !text.contains(QLatin1Char(':')) ||
            !typed.setAddress(text) || typed.protocol() != QAbstractSocket::IPv6Protocol)
            return QStringLiteral(
                       "Pool6First \"%1\" is not an IPv6 address (such as 2001:db8::1000)")
                .arg(Tftp::Printable(text.left(64)));
        if (onLink && !samePrefix64(typed, server))
            return QStringLiteral("Pool6First %1 is not in %2/64")
                .arg(typed.toString(), Prefix64(server).toString());
        config->poolFirst = typed;
    }
    if (PoolAddress(*config, quint32(config->poolSize)).isNull())
        return QStringLiteral("the pool of %1 from %2 runs past the end of %3/64")
            .arg(config->poolSize)
            .arg(config->poolFirst.toString(), Prefix64(config->poolFirst).toString());
    return QString();
}

QHostAddress PoolAddress(const Config& config, quint32 slot) {
    if (slot < 1 || slot > quint32(config.poolSize) ||
        config.poolFirst.protocol() != QAbstractSocket::IPv6Protocol)
        return QHostAddress();
    const quint64 first = low64(config.poolFirst), v = first + (slot - 1);
    if (v < first)
        return QHostAddress(); // past the end of the /64
    Q_IPV6ADDR b = config.poolFirst.toIPv6Address();
    qToBigEndian(v, b.c + 8);
    return QHostAddress(b);
}

quint32 PoolSlot(const Config& config, const QHostAddress& address) {
    if (!samePrefix64(address, config.poolFirst))
        return 0;
    const quint64 a = low64(address), first = low64(config.poolFirst);
    if (a < first || a - first >= quint64(config.poolSize))
        return 0;
    return quint32(a - first + 1);
}

QHostAddress Prefix64(const QHostAddress& address) {
    return withLow64(address, 0);
}

bool OnOurLink(const Config& config, const QHostAddress& address) {
    return samePrefix64(address, config.server);
}

QByteArray ClientKey(const QByteArray& duid, quint32 iaid) {
    return duid + be32(iaid);
}

Reply Answer(const Packet& request, const QHostAddress& from, const Config& config,
             Dhcp::CLeaseTable& leases, qint64 now) {
    Reply r;
    const QByteArray duid = request.option(OptClientId);
    if (duid.isEmpty() || duid.size() > 130) // a DUID is at most 2 + 128 bytes
        return r;
    // The lease goes by the DUID and IAID; the MAC only finds the client's HostsFile line.
    const Dhcp::Mac mac = ClientMac(request, from);
    const auto host = mac.isEmpty() ? config.hosts.constEnd() : config.hosts.constFind(mac);
    const bool known = host != config.hosts.constEnd();
    r.mac = mac;
    const QByteArray serverId = request.option(OptServerId);
    const bool ours = !serverId.isEmpty() && serverId == config.serverDuid;
    const quint8 type = request.type;
    switch (type) {
    case SOLICIT:
    case CONFIRM:
    case REBIND:
        if (!serverId.isEmpty())
            return r; // these never name a server (RFC 8415 16)
        break;
    case REQUEST:
    case RENEW:
    case RELEASE:
    case DECLINE:
        if (!ours) {
            // A client that chose another server: there is one on the link.
            r.otherServer = !serverId.isEmpty() && (type == REQUEST || type == RENEW);
            return r;
        }
        break;
    case INFORMATION_REQUEST:
        if (!serverId.isEmpty() && !ours)
            return r;
        break;
    default:
        return r;
    }
    if (config.onlyKnownHosts && !known) {
        r.refused = true;
        r.info = mac.isEmpty()
                     ? QStringLiteral("Not in HostsFile (OnlyKnownHosts): its MAC is not known")
                     : QStringLiteral("Not in HostsFile (OnlyKnownHosts)");
        return r;
    }

    QList<IaNa> asked;
    for (const QByteArray& value : request.all(OptIaNa)) {
        IaNa ia;
        if (ParseIaNa(value, &ia)) // a broken IA is left out, the rest answered
            asked.append(ia);
    }
    Packet out;
    out.type = type == SOLICIT ? ADVERTISE : REPLY;
    out.xid = request.xid;
    out.options.append({OptServerId, config.serverDuid});
    out.options.append({OptClientId, duid});
    const auto send = [&] {
        r.bytes = Write(out);
        return r;
    };
    const auto status = [&](Status code, const QString& text) {
        out.options.append({OptStatusCode, StatusOption(code, text).mid(4)});
    };

    if (type == RELEASE || type == DECLINE || type == CONFIRM) {
        // Confirm: every address named. Release, Decline: those that were this
        // client's; one it never held here changes nothing and makes no row.
        QList<QHostAddress> named;
        for (const IaNa& ia : asked)
            for (const IaAddress& a : ia.addresses) {
                const quint32 slot = PoolSlot(config, a.address);
                const QByteArray key = ClientKey(duid, ia.iaid);
                if (type == CONFIRM ||
                    (type == RELEASE && slot && leases.Release(mac, slot, now, key)) ||
                    (type == DECLINE && slot && leases.Decline(mac, slot, now, key)))
                    named.append(a.address);
            }
        if (named.isEmpty())
            return type == CONFIRM || asked.isEmpty() ? r : (status(Success, {}), send());
        r.address = named.first();
        if (type == CONFIRM) {
            for (const QHostAddress& a : named)
                if (!OnOurLink(config, a)) {
                    r.refused = true;
                    r.info = QStringLiteral("NotOnLink: %1 is not on this link").arg(a.toString());
                    status(NotOnLink, QStringLiteral("not on this link"));
                    return send();
                }
            r.info = QStringLiteral("Confirmed %1").arg(r.address.toString());
        } else if (type == RELEASE) {
            r.info = QStringLiteral("Released %1").arg(r.address.toString());
        } else {
            r.refused = true;
            r.info = QStringLiteral("Declined %1: in use by another machine, not given for %2")
                         .arg(r.address.toString(),
                              Dhcp::DurationText(Dhcp::CLeaseTable::kDeclineSeconds));
        }
        status(Success, {});
        return send();
    }

    // Addresses: one per IA_NA, each a lease of its own.
    bool anyGiven = false;
    for (const IaNa& ia : asked) {
        const QByteArray key = ClientKey(duid, ia.iaid);
        const quint32 wanted = askedSlot(config, ia);
        Dhcp::CLeaseTable::Pick pick;
        if (type == SOLICIT) {
            pick = leases.Offer(mac, wanted, now, key);
        } else if (type == REQUEST) {
            if (wanted)
                pick = leases.Bind(mac, wanted, now, config.leaseSeconds, key);
            if (pick.outcome != Dhcp::CLeaseTable::Outcome::Given) {
                pick = leases.Offer(mac, 0, now, key);
                if (pick.outcome == Dhcp::CLeaseTable::Outcome::Given)
                    pick = leases.Bind(mac, pick.address, now, config.leaseSeconds, key);
            }
        } else if (type == RENEW || type == REBIND) {
            if (!wanted) {
                if (type == REBIND)
                    continue; // another server's address: its answer, not ours
                out.options.append({OptIaNa, WriteIaNa(refusedIa(ia.iaid, NoBinding, {}))});
                continue;
            }
            pick = leases.Bind(mac, wanted, now, config.leaseSeconds, key);
            if (pick.outcome != Dhcp::CLeaseTable::Outcome::Given) {
                out.options.append({OptIaNa, WriteIaNa(refusedIa(ia.iaid, NoBinding, {}))});
                r.refused = true;
                r.info = QStringLiteral("NoBinding: %1 is not this client's")
                             .arg(PoolAddress(config, wanted).toString());
                continue;
            }
        } else {
            break; // Information-request: no addresses
        }
        if (pick.outcome == Dhcp::CLeaseTable::Outcome::Given) {
            out.options.append({OptIaNa, WriteIaNa(granted(config, ia.iaid, pick.address))});
            if (!anyGiven)
                r.address = PoolAddress(config, pick.address);
            anyGiven = true;
        } else {
            out.options.append({OptIaNa, WriteIaNa(refusedIa(ia.iaid, NoAddrsAvail,
                                                             QStringLiteral("no free address")))});
            r.exhausted = true;
            r.refused = true;
            r.info = QStringLiteral("No free address in the pool %1-%2")
                         .arg(PoolAddress(config, 1).toString(),
                              PoolAddress(config, quint32(config.poolSize)).toString());
        }
    }
    if (type == REBIND && !anyGiven && r.info.isEmpty())
        return Reply(); // none of its addresses were ours
    if (type == SOLICIT)
        out.options.append({OptPreference, QByteArray(1, char(255))}); // take it at once

    // The boot file, by the one policy, as a URL on our global address.
    const BootPolicy::Choice choice = BootPolicy::Choose(
        BootPolicy::Service::DhcpServer,
        BootPolicy::ClientOf6(request, Dhcp::MacText(mac), known ? *host : QString()),
        config.boot.boot, config.server, Dhcp::FolderOf(config.boot));
    const QString problem = choice.problem();
    if (!problem.isEmpty()) {
        r.bootFailed = true;
        r.bootProblem = QStringLiteral("; ") + problem;
    }
    const QByteArray url = choice.refusal == Refusal::None
                               ? BootPolicy::BootUrl6(choice, config.server)
                               : QByteArray();
    r.bootFile = choice.refusal == Refusal::None ? QString::fromUtf8(url) : choice.file;
    const bool wantsUrl =
        request.requested().contains(OptBootFileUrl) || choice.kind != Dhcp::ClientKind::NotPxe;
    if (!url.isEmpty() && wantsUrl) {
        out.options.append({OptBootFileUrl, url});
        // UEFI HTTP Boot takes an offer only when it says it is for HTTPClient; never
        // PXEClient, which would send edk2 to a boot server on port 4011 (BINL).
        if (choice.httpClient)
            out.options.append({OptVendorClass,
                                be32(kPxeEnterprise) + QByteArray::fromHex("000a") + "HTTPClient"});
    }
    if (!config.dns.isEmpty()) {
        QByteArray dns;
        for (const QHostAddress& a : config.dns)
            dns += addressBytes(a);
        out.options.append({OptDnsServers, dns});
    }
    if (r.info.isEmpty()) {
        if (type == INFORMATION_REQUEST)
            r.info = QStringLiteral("Informed (no address)");
        else if (!anyGiven)
            r.info = QStringLiteral("%1 without an address (no IA_NA)").arg(TypeName(out.type));
        else if (type == SOLICIT)
            r.info = QStringLiteral("Offered %1").arg(r.address.toString());
        else
            r.info = QStringLiteral("Leased %1 for %2")
                         .arg(r.address.toString(), Dhcp::DurationText(config.leaseSeconds));
    }
    r.info += r.bootProblem;
    return send();
}

void Hear(Heard& heard, const Packet& message, const QByteArray& ourDuid,
          const QHostAddress& from) {
    if ((message.type == ADVERTISE || message.type == REPLY) &&
        message.option(OptServerId) != ourDuid && heard.otherServer.isEmpty())
        heard.otherServer = from.toString();
}

void Hear(Heard& heard, const Nd::RouterAdvert& ra, const QHostAddress& from,
          const QList<QHostAddress>& ours) {
    QHostAddress bare = from;
    bare.setScopeId(QString());
    for (QHostAddress a : ours) {
        a.setScopeId(QString());
        if (a == bare)
            return;
    }
    QString& slot = ra.managed ? heard.managedRouter : heard.router;
    if (slot.isEmpty())
        slot = bare.toString();
}

Stance Guard(const Heard& heard, const QString& device, bool raOn) {
    if (!heard.otherServer.isEmpty())
        return {
            false, false,
            QStringLiteral("Another DHCPv6 server (%1) answers on %2: not handing out addresses")
                .arg(heard.otherServer, device)};
    if (!heard.managedRouter.isEmpty())
        return {false, false,
                QStringLiteral("A router (%1) on %2 sends clients to another DHCPv6 server: "
                               "not handing out addresses")
                    .arg(heard.managedRouter, device)};
    if (!heard.router.isEmpty())
        return {true, false,
                QStringLiteral("A router (%1) on %2 does not send clients to DHCPv6: only "
                               "firmware that asks by itself (UEFI PXE) is answered")
                    .arg(heard.router, device)};
    return {true, raOn, QString()};
}

} // namespace Dhcp6
