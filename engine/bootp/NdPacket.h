#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QtGlobal>

// Neighbour Discovery's router messages (RFC 4861 4.1, 4.2), for the DHCPv6 server: it
// tells a link without a router that addresses come from DHCPv6 (the managed flag), and
// hears whether a router already says so. ICMPv6 bodies only: on a raw ICMPv6 socket the
// kernel fills in the checksum.
namespace Nd {

constexpr quint8 kRouterSolicit = 133, kRouterAdvert = 134;
constexpr char kAllNodes[] = "ff02::1";
constexpr char kAllRouters[] = "ff02::2";

struct PrefixInfo {
    QHostAddress prefix;
    int length = 64;
    bool onLink = true;
    bool autonomous = false; // SLAAC: off, addresses come from DHCPv6
    quint32 valid = 3600, preferred = 1800;
};

struct RouterAdvert {
    quint8 hopLimit = 64;
    bool managed = false;       // M: addresses by DHCPv6
    bool other = false;         // O: other settings by DHCPv6
    quint16 routerLifetime = 0; // seconds; 0: not a default router
    QByteArray sourceMac;       // option 1; empty: not sent
    QList<PrefixInfo> prefixes; // option 3
};

// Ours: M and O set, no default router (we are none), our /64 on-link, not for SLAAC.
RouterAdvert OurAdvert(const QByteArray& mac, const QHostAddress& prefix);
QByteArray Write(const RouterAdvert& ra);
// An RA: false for another type, code not 0, shorter than 16 bytes, or an option of
// length 0 or past the end. Options it does not know are skipped.
bool ParseAdvert(const char* data, qint64 size, RouterAdvert* ra);
bool IsRouterSolicit(const char* data, qint64 size);

} // namespace Nd
