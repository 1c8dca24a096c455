#include "WindowTitle.h"

#include <QFile>
#include <QNetworkInterface>
#include <QRegularExpression>

namespace WindowTitle {

QString DefaultRouteInterface(const QString& procNetRoute) {
    constexpr uint kRouteUp = 0x1;
    QString best;
    qint64 bestMetric = -1;
    const QStringList lines = procNetRoute.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f =
            lines[i].split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (f.size() < 8)
            continue;
        bool ok = false;
        const uint flags = f[3].toUInt(&ok, 16);
        if (!ok || !(flags & kRouteUp))
            continue;
        if (f[1].toUInt(&ok, 16) != 0 || !ok || f[7].toUInt(&ok, 16) != 0 || !ok)
            continue;
        const qint64 metric = f[6].toLongLong(&ok);
        if (!ok)
            continue;
        if (bestMetric < 0 || metric < bestMetric) {
            best = f[0];
            bestMetric = metric;
        }
    }
    return best;
}

QString PickAddress(const QString& defaultInterface, const QList<Interface>& interfaces) {
    if (!defaultInterface.isEmpty()) {
        for (const Interface& i : interfaces)
            if (i.name == defaultInterface && !i.ipv4.isEmpty())
                return i.ipv4;
    }
    for (const Interface& i : interfaces)
        if (i.up && !i.loopback && !i.ipv4.isEmpty())
            return i.ipv4;
    return {};
}

QString Compose(const QString& address) {
    return QLatin1String(kPrefix) + address.left(kMaxAddressLength);
}

namespace {
QString routeTable() {
    QFile file(QStringLiteral("/proc/net/route"));
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromLatin1(file.readAll())
                                                            : QString();
}

QList<Interface> thisMachinesInterfaces() {
    QList<Interface> interfaces;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& ni : all) {
        Interface i;
        i.name = ni.name();
        i.up = ni.flags().testFlag(QNetworkInterface::IsUp);
        i.loopback = ni.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& entry : ni.addressEntries()) {
            if (i.ipv4.isEmpty() && entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                i.ipv4 = entry.ip().toString();
            i.addresses.append(entry.ip().toString());
        }
        interfaces.append(i);
    }
    return interfaces;
}

QString withPort(const QHostAddress& address, quint16 port) {
    const QString text = address.toString();
    if (port == 69)
        return text;
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(text).arg(port)
               : QStringLiteral("%1:%2").arg(text).arg(port);
}
} // namespace

QString ForThisMachine() {
    return Compose(PickAddress(DefaultRouteInterface(routeTable()), thisMachinesInterfaces()));
}

QStringList Reachable(const QHostAddress& listen, quint16 port, const QString& defaultInterface,
                      const QList<Interface>& interfaces) {
    const bool v4 = listen == QHostAddress(QHostAddress::AnyIPv4) ||
                    listen == QHostAddress(QHostAddress::Any);
    const bool v6 = listen == QHostAddress(QHostAddress::AnyIPv6) ||
                    listen == QHostAddress(QHostAddress::Any);
    if (!v4 && !v6)
        return {withPort(listen, port)};
    QList<const Interface*> order;
    for (const Interface& i : interfaces)
        if (i.up && i.name == defaultInterface)
            order.append(&i);
    for (const Interface& i : interfaces)
        if (i.up && i.name != defaultInterface)
            order.append(&i);
    QStringList found, linkLocal, loopback;
    for (const Interface* i : std::as_const(order)) {
        for (const QString& text : i->addresses) {
            const QHostAddress a(text);
            const bool isV6 = a.protocol() == QAbstractSocket::IPv6Protocol;
            if (a.isNull() || (isV6 ? !v6 : !v4))
                continue;
            const QString shown = withPort(a, port);
            if (i->loopback || a.isLoopback())
                loopback.append(shown);
            else if (isV6 && a.isLinkLocal())
                linkLocal.append(shown);
            else
                found.append(shown);
        }
    }
    if (found.isEmpty())
        found = linkLocal;
    found.removeDuplicates();
    loopback.removeDuplicates();
    return found + loopback;
}

QStringList ReachableOnThisMachine(const QHostAddress& listen, quint16 port) {
    return Reachable(listen, port, DefaultRouteInterface(routeTable()), thisMachinesInterfaces());
}

QString ComposeReachable(const QStringList& addresses) {
    if (addresses.isEmpty()) // not listening: the name alone, no dangling dash
        return QString::fromLatin1(kPrefix).chopped(3);
    QString title = QLatin1String(kPrefix) + addresses.value(0);
    if (addresses.size() > 1)
        title += QStringLiteral(" +%1 more").arg(addresses.size() - 1);
    return title;
}

void SplitReachable(const QString& reachable, QString* host, quint16* port) {
    *port = 69;
    if (reachable.startsWith(QLatin1Char('['))) {
        const qsizetype close = reachable.indexOf(QLatin1Char(']'));
        *host = reachable.mid(1, close - 1);
        if (reachable.mid(close + 1).startsWith(QLatin1Char(':')))
            *port = quint16(reachable.mid(close + 2).toUInt());
    } else if (reachable.count(QLatin1Char(':')) == 1) {
        *host = reachable.section(QLatin1Char(':'), 0, 0);
        *port = quint16(reachable.section(QLatin1Char(':'), 1).toUInt());
    } else {
        *host = reachable;
    }
}

QStringList ServerUrls(const QString& reachable, quint16 httpPort) {
    QString host;
    quint16 port = 69;
    SplitReachable(reachable, &host, &port);
    const QString inUrl =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    QStringList urls{port == 69 ? QStringLiteral("tftp://%1/").arg(inUrl)
                                : QStringLiteral("tftp://%1:%2/").arg(inUrl).arg(port)};
    if (httpPort)
        urls << QStringLiteral("http://%1:%2/").arg(inUrl).arg(httpPort);
    return urls;
}

QString TftpCommand(const QString& reachable, const QString& verb) {
    QString host;
    quint16 port = 69;
    SplitReachable(reachable, &host, &port);
    return port == 69 ? QStringLiteral("tftp %1 -c %2 FILE").arg(host, verb)
                      : QStringLiteral("tftp %1 %2 -c %3 FILE").arg(host).arg(port).arg(verb);
}

QString ServiceNote(quint16 httpPort, const QString& bootDevice) {
    QStringList on;
    if (httpPort)
        on << QStringLiteral("HTTP on :%1").arg(httpPort);
    if (!bootDevice.isEmpty())
        on << QStringLiteral("boot offers on %1").arg(bootDevice);
    return on.join(QStringLiteral(", "));
}

} // namespace WindowTitle
