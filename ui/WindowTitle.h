#pragma once

#include <QList>
#include <QString>

// The frame's title: "Vantrel Server 1.0 - " and this machine's IPv4 address.
namespace WindowTitle {

constexpr const char* kPrefix = "Vantrel Server 1.0 - ";
constexpr int kMaxAddressLength = 19;

struct Interface {
    QString name;
    bool up = false;
    bool loopback = false;
    QString ipv4; // first IPv4 address, empty when it has none
};

// The interface of the default route in the text of /proc/net/route (the one
// with the lowest metric among routes to 0.0.0.0/0 that are up); empty if none.
QString DefaultRouteInterface(const QString& procNetRoute);

// The default route's interface address if it has one, else the first
// non-loopback IPv4 address of an interface that is up, else empty.
QString PickAddress(const QString& defaultInterface, const QList<Interface>& interfaces);

// The prefix followed by the address, cut to 19 characters.
QString Compose(const QString& address);

// The title for this machine, from /proc/net/route and the interface list.
QString ForThisMachine();

} // namespace WindowTitle
