#include "engine/dhcp/DhcpValues.h"

#include "engine/dhcp/LeaseTable.h"

#include <QRegularExpression>

namespace Dhcp {

namespace {
// Addresses separated by commas, semicolons or spaces; the first that is none in *bad.
QList<quint32> AddressList(const QString& text, QString* bad) {
    QList<quint32> out;
    for (const QString& part :
         text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts)) {
        if (const quint32 a = ParseAddress(part))
            out.append(a);
        else if (bad->isEmpty())
            *bad = part;
    }
    return out;
}
} // namespace

Values ReadValues(const DhcpOptions& options, const DhcpLink& link) {
    Values v;
    QString bad;
    v.routers = AddressList(options.router, &bad);
    if (!bad.isEmpty()) {
        v.problem = QStringLiteral("Router: \"%1\" is not an IPv4 address (such as 192.168.1.1)")
                        .arg(bad);
        return v;
    }
    v.dns = AddressList(options.dnsServers, &bad);
    if (!bad.isEmpty()) {
        v.problem = QStringLiteral("DNS servers: \"%1\" is not an IPv4 address (IPv4 addresses "
                                   "such as 192.168.1.1, separated by commas)")
                        .arg(bad);
        return v;
    }
    const QString first = options.poolFirst.trimmed(), last = options.poolLast.trimmed();
    const quint32 ours = link.device.isEmpty() ? 0 : link.address.toIPv4Address();
    if (first.isEmpty() && last.isEmpty()) {
        if (ours && !DefaultPool(ours, link.prefixLength, &v.poolFirst, &v.poolLast))
            v.problem = QStringLiteral("Pool: no free addresses after %1 in its network: give "
                                       "the first and the last address")
                            .arg(link.address.toString());
        return v;
    }
    if (first.isEmpty()) {
        v.problem = QStringLiteral("Pool: the first address is missing (both empty: up to %1 "
                                   "addresses after ours)")
                        .arg(kDefaultPoolSize);
        return v;
    }
    // One address alone is a pool of one.
    v.poolFirst = ParseAddress(first);
    v.poolLast = last.isEmpty() ? v.poolFirst : ParseAddress(last);
    if (!v.poolFirst || !v.poolLast) {
        v.problem = QStringLiteral("Pool: \"%1\" is not an IPv4 address (such as 192.168.1.100)")
                        .arg(v.poolFirst ? last : first);
    } else if (v.poolLast < v.poolFirst) {
        v.problem = QStringLiteral("Pool: the first address %1 comes after the last %2")
                        .arg(first, last);
    } else if (ours && link.prefixLength > 0) {
        const quint32 mask = ~quint32(0) << (32 - link.prefixLength);
        if ((v.poolFirst & mask) != (ours & mask) || (v.poolLast & mask) != (ours & mask))
            v.problem = QStringLiteral("Pool: %1-%2 is not in the network of %3 (%4/%5)")
                            .arg(AddressText(v.poolFirst), AddressText(v.poolLast), link.device,
                                 AddressText(ours & mask))
                            .arg(link.prefixLength);
    }
    if (!v.problem.isEmpty())
        v.poolFirst = v.poolLast = 0;
    return v;
}

} // namespace Dhcp
