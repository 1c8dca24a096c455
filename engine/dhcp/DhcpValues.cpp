#include "engine/dhcp/DhcpValues.h"

#include "engine/dhcp/LeaseTable.h"

#include <QRegularExpression>
#include <QStringList>

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
    // Every problem, in the order of the fields, so one look shows all that is wrong.
    QStringList problems;
    QString bad;
    v.routers = AddressList(options.router, &bad);
    if (!bad.isEmpty())
        problems.append(QStringLiteral("Router: \"%1\" is not an IPv4 address (such as 192.168.1.1)")
                            .arg(bad));
    bad.clear();
    v.dns = AddressList(options.dnsServers, &bad);
    if (!bad.isEmpty())
        problems.append(QStringLiteral("DNS servers: \"%1\" is not an IPv4 address (IPv4 addresses "
                                       "such as 192.168.1.1, separated by commas)")
                            .arg(bad));
    const QString first = options.poolFirst.trimmed(), last = options.poolLast.trimmed();
    const quint32 ours = link.device.isEmpty() ? 0 : link.address.toIPv4Address();
    if (first.isEmpty() && last.isEmpty()) {
        if (ours && !DefaultPool(ours, link.prefixLength, &v.poolFirst, &v.poolLast))
            problems.append(QStringLiteral("Pool: no free addresses after %1 in its network: give "
                                           "the first and the last address")
                                .arg(link.address.toString()));
    } else if (first.isEmpty()) {
        problems.append(QStringLiteral("Pool: the first address is missing (both empty: up to %1 "
                                       "addresses after ours)")
                            .arg(kDefaultPoolSize));
    } else {
        // One address alone is a pool of one.
        v.poolFirst = ParseAddress(first);
        v.poolLast = last.isEmpty() ? v.poolFirst : ParseAddress(last);
        const quint32 mask = link.prefixLength > 0 ? ~quint32(0) << (32 - link.prefixLength) : 0;
        if (!v.poolFirst || !v.poolLast) {
            problems.append(QStringLiteral("Pool: \"%1\" is not an IPv4 address (such as 192.168.1.100)")
                                .arg(v.poolFirst ? last : first));
        } else if (v.poolLast < v.poolFirst) {
            problems.append(QStringLiteral("Pool: the first address %1 comes after the last %2")
                                .arg(first, last));
        } else if (ours && mask &&
                   ((v.poolFirst & mask) != (ours & mask) || (v.poolLast & mask) != (ours & mask))) {
            problems.append(QStringLiteral("Pool: %1-%2 is not in the network of %3 (%4/%5)")
                                .arg(AddressText(v.poolFirst), AddressText(v.poolLast), link.device,
                                     AddressText(ours & mask))
                                .arg(link.prefixLength));
        } else if (ours && v.poolFirst <= ours && ours <= v.poolLast) {
            // A client given our address would take the server's place on the link.
            problems.append(QStringLiteral("Pool: %1-%2 holds %3, the server's own address on %4")
                                .arg(AddressText(v.poolFirst), AddressText(v.poolLast),
                                     AddressText(ours), link.device));
        }
    }
    v.problem = problems.join(QLatin1Char('\n'));
    if (!v.problem.isEmpty())
        v.poolFirst = v.poolLast = 0;
    return v;
}

} // namespace Dhcp
