#pragma once

#include "engine/boot/BootPolicy.h"
#include "engine/bootp/DhcpPacket.h"
#include "engine/dhcp/LeaseTable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// What a DHCP server of ours answers to one client packet, as a pure function of the
// packet, the configuration, the lease table and the time: the reply's bytes, where
// they go, and the row that tells of it. The service only moves datagrams.
namespace Dhcp {

struct ServerConfig {
    quint32 server = 0;  // our address on the link: option 54, siaddr, option 66
    quint32 netmask = 0; // option 1; with `server`, option 28
    QList<quint32> routers; // option 3 (none: not sent)
    QList<quint32> dns;     // option 6 (none: not sent)
    qint64 leaseSeconds = 3600; // options 51, 58 (half) and 59 (seven eighths)
    // BOOTP clients (no message type) get a pool address too; off: a HostsFile host's only.
    bool bootpDynamic = false;
    // What each client boots, as BootPolicy chooses it; a fixed host's own file first.
    BootPolicy::Settings boot;
    SecureBoot::FolderView exists;              // unset: the folder is not looked at
    std::function<qint64(const QByteArray&)> size; // a file's size; unset: not looked at
    std::function<QStringList()> menuListing;   // the folder as the menu writer listed it
};

// The folder as `config` lets the boot policy see it (both families' answers).
BootPolicy::Folder FolderOf(const ServerConfig& config);
// The boot file for this client (BootPolicy, as our DHCP server).
BootPolicy::Choice BootFileFor(const Packet& request, const ServerConfig& config,
                               const FixedHost* host);

// The refusal of an address by the client list (empty: admitted).
using AdmitAddress = std::function<QString(quint32 address)>;

struct Reply {
    QByteArray bytes;    // empty: nothing is sent
    quint32 to = 0;      // destination address (0xffffffff: broadcast)
    quint16 toPort = kClientPort;
    // Set when `to` is an address the client has not taken yet: the kernel must be told
    // it is at this MAC first; where it cannot be, the reply is broadcast instead.
    QByteArray toMac;
    quint32 address = 0; // the address given (or refused), for the row
    QString bootFile;
    QString info;        // the row's Information; empty: no row
    bool refused = false;
    bool exhausted = false; // refused for want of a free address in the pool
    bool bootFailed = false; // answered, but its boot file is missing or cannot boot
    QString bootProblem;     // "; Boot File Missing: x", after the Information
};

// "1 h", "30 min", "45 s": a lease's length for the row.
QString DurationText(qint64 seconds);

// DISCOVER -> OFFER, REQUEST -> ACK or NAK, RELEASE and DECLINE (no reply), INFORM ->
// ACK without an address, and a BOOTREQUEST without a message type -> a BOOTP reply
// with a lease of LeaseSeconds (for a HostsFile host, or any client with bootpDynamic).
Reply Answer(const Packet& request, const ServerConfig& config, CLeaseTable& leases,
             qint64 now, const AdmitAddress& admit = {});

} // namespace Dhcp
