#pragma once

#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// Why a device did not answer, told apart: most often this machine has no address in
// the device's network (a laptop cabled to a router in recovery mode), which reads the
// same as a closed port unless looked at.
namespace TftpClient {

struct Reach {
    enum Kind {
        Answered,  // nothing found against it (or it answered the probe)
        NoAddress, // no address of this machine is in the device's network
        NoRoute,   // the system has no route to it
        Refused,   // its port is closed (ICMP port unreachable)
        Silent,    // a route and an address, and nothing answered
    };
    Kind kind = Answered;
    QString text;    // for the user, one sentence or two
    QString command; // the nmcli command that gives this machine an address there
};

// The NetworkManager command that gives `iface` the address `address` (a/bits).
QString NmcliAddressCommand(const QString& iface, const QString& address);

// When no interface has an IPv4 address in the device's /24, NoAddress with the network
// and an address for this machine in it (the device's own network, never a fixed one);
// Answered otherwise (IPv6, or an address there).
Reach LookAtNetwork(const QHostAddress& device, const QList<NetInterface>& interfaces);

// The route (no packet sent) and the network: NoRoute, NoAddress or Answered.
Reach LookAtRoute(const QHostAddress& device, const QList<NetInterface>& interfaces);

// LookAtRoute, then `request` sent once more from a socket of its own to see whether
// the device's system refuses it, waiting up to waitMs: Refused or Silent (Answered
// when something did answer: that socket tells it ERROR 0).
Reach Diagnose(const QHostAddress& device, quint16 port, const QByteArray& request,
               const QList<NetInterface>& interfaces, int waitMs);

} // namespace TftpClient
