#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Which of our ports a host firewall blocks, from what the firewall itself wrote down:
// ufw's rule files and settings, firewalld's zone listing and service files. Pure: the
// caller reads the files and runs the commands.
namespace Firewall {

// The name both firewalls know our ports by (ufw application profile, firewalld service).
inline constexpr const char* kProfile = "vantrel-server";

struct Port {
    quint16 number = 0;
    bool tcp = false; // else UDP
    bool v6only = false;  // DHCPv6: ufw keeps its rules in user6.rules
    QString text() const; // "69/udp"
    bool operator==(const Port&) const = default;
};

// What the status field says about the firewall.
struct Finding {
    enum class Kind { Off, Open, Blocked, Unreadable };
    Kind kind = Kind::Off;
    QString firewall;   // "ufw", "firewalld"
    QList<Port> blocked;
    // Empty when off or open; else e.g.
    // "firewall (ufw) blocks 69/udp: sudo ufw allow vantrel-server".
    QString text() const;
    bool operator==(const Finding&) const = default;
};

// ufw: /etc/ufw/ufw.conf says ENABLED=yes.
bool UfwEnabled(const QByteArray& ufwConf);
// ufw filters IPv6 too unless /etc/default/ufw says IPV6=no.
bool UfwFiltersIpv6(const QByteArray& defaults);
// The ports ufw drops: the first rule of user.rules (or user6.rules) for incoming
// traffic that covers the port decides, else the default incoming policy of
// /etc/default/ufw (DROP when unset). A rule limited to some sources, destinations or
// one interface counts as open: someone opened the port on purpose.
QList<Port> UfwBlocked(const QByteArray& userRules, const QByteArray& defaults,
                       const QList<Port>& ours);

// firewalld: one zone as `firewall-cmd --list-all` prints it.
struct Zone {
    QString target; // "default", "ACCEPT", "DROP", "REJECT", "%%REJECT%%"
    QStringList services;
    QList<QPair<Port, quint16>> ports; // first port and last of each range
};
Zone ParseZoneListing(const QByteArray& listAll);
// The ports of a service file (`<port protocol="udp" port="69"/>`, ranges "a-b").
QList<QPair<Port, quint16>> ParseServiceFile(const QByteArray& xml);
// The ports the zone does not open, given each enabled service's ports (a service
// whose file was not found opens nothing).
QList<Port> FirewalldBlocked(const Zone& zone,
                             const QHash<QString, QList<QPair<Port, quint16>>>& servicePorts,
                             const QList<Port>& ours);

// Ours, as the running server uses them: the TFTP port, 67 for the boot offers or the
// DHCP server, 547 for the DHCPv6 server, 4011 for the boot offers, the HTTP port (0: not
// serving HTTP). Not 546, where our own Solicit is answered: both firewalls let DHCPv6
// clients' answers in by themselves.
QList<Port> OurPorts(quint16 tftpPort, bool bootOffers, bool dhcpServer, bool dhcp6Server,
                     quint16 httpPort);

} // namespace Firewall
