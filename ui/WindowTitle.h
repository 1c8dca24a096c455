#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// The frame's title: "Vantrel Server 1.0 - " and where clients reach the server.
namespace WindowTitle {

constexpr const char* kPrefix = "Vantrel Server 1.0 - ";
constexpr int kMaxAddressLength = 19;

struct Interface {
    QString name;
    bool up = false;
    bool loopback = false;
    QString ipv4; // first IPv4 address, empty when it has none
    QStringList addresses = {}; // every address, IPv4 and IPv6 (link-local ones with their scope)
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

// Where clients reach a server that listens on listen:port. Bound to one address:
// that one. On every address (0.0.0.0, or :: with IPv6 on): each address of the
// interfaces that are up, the default route's first, IPv6 ones only on ::, link-local
// IPv6 only when there is nothing else, loopback last. The port follows unless it is
// 69: "192.0.2.5:1069", "[2001:db8::5]:1069".
QStringList Reachable(const QHostAddress& listen, quint16 port, const QString& defaultInterface,
                      const QList<Interface>& interfaces);
QStringList ReachableOnThisMachine(const QHostAddress& listen, quint16 port);
// The prefix, the first address and "+N more" for the others.
QString ComposeReachable(const QStringList& addresses);

// An address as Reachable() gives it ("192.0.2.5", "192.0.2.5:1069", "2001:db8::5",
// "[2001:db8::5]:1069") split into host and port (69 when none is shown).
void SplitReachable(const QString& reachable, QString* host, quint16* port);
// "tftp://192.0.2.5:1069/", then "http://192.0.2.5:8080/" when httpPort is not 0.
QStringList ServerUrls(const QString& reachable, quint16 httpPort);
// How tftp-hpa fetches (verb "get") or sends a file there: "tftp 192.0.2.5 -c get FILE",
// with the port after the host when it is not 69.
QString TftpCommand(const QString& reachable, const QString& verb);
// What is on beside TFTP: "HTTP on :8080, boot offers on eth1"; empty when nothing is.
QString ServiceNote(quint16 httpPort, const QString& bootDevice);

} // namespace WindowTitle
