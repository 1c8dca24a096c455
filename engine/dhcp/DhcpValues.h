#pragma once

#include "engine/dhcp/DhcpServer.h"

#include <QList>
#include <QString>

namespace Dhcp {

// Router, DnsServers and the pool as the server on `link` takes them; the DHCP dialog
// checks what is typed with the same reading.
struct Values {
    QList<quint32> routers, dns;
    quint32 poolFirst = 0, poolLast = 0; // host order
    QString problem; // empty when every value will do; else the key and the form it takes
};
// Empty pool fields: up to kDefaultPoolSize addresses after ours in the prefix. A link
// with no address yet (device empty) leaves that pool 0-0 and checks no network; a
// prefix length 0 checks none either.
Values ReadValues(const DhcpOptions& options, const DhcpLink& link);

} // namespace Dhcp
