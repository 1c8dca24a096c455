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

QString ForThisMachine() {
    QString routes;
    QFile file(QStringLiteral("/proc/net/route"));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        routes = QString::fromLatin1(file.readAll());

    QList<Interface> interfaces;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& ni : all) {
        Interface i;
        i.name = ni.name();
        i.up = ni.flags().testFlag(QNetworkInterface::IsUp);
        i.loopback = ni.flags().testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry& entry : ni.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                i.ipv4 = entry.ip().toString();
                break;
            }
        }
        interfaces.append(i);
    }
    return Compose(PickAddress(DefaultRouteInterface(routes), interfaces));
}

} // namespace WindowTitle
