#include "engine/config/AccessRules.h"

#include <algorithm>

namespace {
// An IPv4 address written as IPv6 (::ffff:a.b.c.d) is the IPv4 address.
QHostAddress plain(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 && address.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress(v4)
                                                                      : address;
}
} // namespace

std::optional<AccessRules::Subnet> AccessRules::ParseClient(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    Subnet subnet;
    if (t.contains(QLatin1Char('/'))) {
        subnet = QHostAddress::parseSubnet(t);
        if (subnet.first.isNull() || subnet.second < 0)
            return std::nullopt;
    } else {
        QHostAddress address;
        if (!address.setAddress(t))
            return std::nullopt;
        subnet = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
    }
    const QHostAddress v4 = plain(subnet.first);
    if (v4 != subnet.first) {
        if (subnet.second < 96) // wider than the mapped range: not an IPv4 range
            return subnet;
        subnet = {v4, subnet.second - 96};
    }
    return subnet;
}

bool AccessRules::AdmitsClient(const QString& client) const {
    if (!allowClient)
        return true;
    const QHostAddress address = plain(QHostAddress(client));
    for (const QString& entry : clients) {
        if (entry.isEmpty())
            continue;
        if (entry == client) // what the field says, letter for letter, always counts
            return true;
        const auto subnet = ParseClient(entry);
        if (subnet && !address.isNull() && address.isInSubnet(subnet->first, subnet->second))
            return true;
    }
    return false;
}

bool AccessRules::AdmitsRead(const QByteArray& name) const {
    return !sendFile || QString::fromLatin1(name).contains(fileEdit, Qt::CaseSensitive);
}
