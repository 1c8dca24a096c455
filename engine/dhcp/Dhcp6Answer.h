#pragma once

#include "engine/bootp/Dhcp6Packet.h"
#include "engine/bootp/NdPacket.h"
#include "engine/config/SettingsTable.h"
#include "engine/dhcp/DhcpAnswer.h"
#include "engine/dhcp/LeaseTable.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

// What our DHCPv6 server answers to one client message, as a pure function of the
// message, the configuration, the lease table and the time, like the DHCPv4 answers:
// stateful addresses from a pool in our /64 and the boot file URL (option 59) through the
// one boot policy. The pool's addresses are the lease table's slots 1..poolSize, so
// leases, offers, declines and the journal are the ones DHCPv4 has.
namespace Dhcp6 {

constexpr int kMaxPoolSize = SettingsTable::DhcpPool6Size.max;
constexpr quint64 kDefaultPoolStart = 0x1000; // ::1000 in our /64

struct Config {
    QHostAddress server;    // our global address on the link: option 59's host, our /64
    QByteArray serverDuid;  // option 2
    QHostAddress poolFirst; // slot 1; the pool counts up from it inside its /64
    int poolSize = 256;
    qint64 leaseSeconds = 3600; // valid and preferred; T1 half of it, T2 four fifths
    QList<QHostAddress> dns;    // option 23 (none: not sent)
    Dhcp::ServerConfig boot;    // the boot settings and views of the folder DHCPv4 has
    // HostsFile's machines by MAC (ClientMac), with their own boot file (may be empty);
    // their fixed IPv4 addresses have no part here.
    QHash<Dhcp::Mac, QString> hosts;
    bool onlyKnownHosts = false; // only those get an address or a boot file
};

// Pool6First and Pool6Size as the server takes them, into `config`'s pool: the first
// (empty: kDefaultPoolStart in the /64 of `server`, our global address on the link) must
// be an IPv6 address in that /64, and the pool must end inside it. A null `server` (the
// dialog, before the link has one) checks the address and the end of its own /64 only.
// Empty when it can be had, else why not, naming Pool6First.
QString ReadPool(const QString& first, int size, const QHostAddress& server, Config* config);

// Slot 1..poolSize and its address; 0 and a null address outside the pool.
QHostAddress PoolAddress(const Config& config, quint32 slot);
quint32 PoolSlot(const Config& config, const QHostAddress& address);
// The /64 an address lies in (its first address): what our advertisements announce.
QHostAddress Prefix64(const QHostAddress& address);
// Whether an address is in our /64 (on our link, for Confirm).
bool OnOurLink(const Config& config, const QHostAddress& address);

// A client's lease is its DUID's and one IA's: one machine may hold several (IAIDs).
QByteArray ClientKey(const QByteArray& duid, quint32 iaid);

struct Reply {
    QByteArray bytes;     // empty: nothing is sent (to the client's address and port)
    Dhcp::Mac mac;        // ClientMac, for the row; empty: none known
    QHostAddress address; // the (first) address given or named, for the row
    QString bootFile;     // the URL offered
    QString info;         // the row's Information; empty: no row
    QString bootProblem;  // "; Boot File Missing: x"
    bool refused = false;
    bool exhausted = false; // no free address in the pool
    bool bootFailed = false;
    bool otherServer = false; // a Request or Renew for another server: look for it now
};

// Solicit -> Advertise, Request/Renew -> Reply (ours only), Rebind -> Reply for our
// addresses, Release/Decline -> Success, Confirm -> Success or NotOnLink,
// Information-request -> the boot URL and DNS only. Anything else, or a message
// without a client DUID, gets nothing; with OnlyKnownHosts, neither does a client whose
// MAC is not in HostsFile (nor one whose MAC is not known). `from`: its link-local source.
Reply Answer(const Packet& request, const QHostAddress& from, const Config& config,
             Dhcp::CLeaseTable& leases, qint64 now);

// The rogue guard: what was heard on the link since the last look, and what we do.
struct Heard {
    QString otherServer;   // another DHCPv6 server's Advertise or Reply, by its address
    QString managedRouter; // a router's RA with the managed flag
    QString router;        // a router's RA without it
};
// A server's message: another server's when its Server ID is not ours.
void Hear(Heard& heard, const Packet& message, const QByteArray& ourDuid, const QHostAddress& from);
// An RA: another router's when `from` is none of our addresses (our own comes back).
void Hear(Heard& heard, const Nd::RouterAdvert& ra, const QHostAddress& from,
          const QList<QHostAddress>& ours);
struct Stance {
    bool answer = true; // hand out addresses
    bool sendRa = true; // announce our /64 with the managed flag
    QString status;     // why not, or what only is answered; empty: all is well
};
// Another DHCPv6 server, or a router that sends clients to one (M=1): we hand out nothing
// and say so. A router without M: we answer, send no RA of ours, and say that only
// firmware that asks DHCPv6 by itself is answered. `raOn`: [Dhcp] RouterAdvertisements.
Stance Guard(const Heard& heard, const QString& device, bool raOn);

} // namespace Dhcp6
