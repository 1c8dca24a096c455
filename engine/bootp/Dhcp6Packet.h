#pragma once

#include "engine/bootp/DhcpPacket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QtGlobal>

// DHCPv6 messages (RFC 8415) and the boot options of RFC 5970, below the DHCPv6 server:
// a client's message read into its options, IA_NA and its addresses, and the writers.
// Relay messages are not read: this server answers its own link only.
namespace Dhcp6 {

constexpr quint16 kClientPort = 546;
constexpr quint16 kServerPort = 547;
// All_DHCP_Relay_Agents_and_Servers, where a client on the link asks.
constexpr char kServersGroup[] = "ff02::1:2";
constexpr quint32 kPxeEnterprise = 343; // Intel's number, in PXE's vendor class

enum MessageType : quint8 {
    SOLICIT = 1,
    ADVERTISE = 2,
    REQUEST = 3,
    CONFIRM = 4,
    RENEW = 5,
    REBIND = 6,
    REPLY = 7,
    RELEASE = 8,
    DECLINE = 9,
    RECONFIGURE = 10,
    INFORMATION_REQUEST = 11,
    RELAY_FORW = 12,
    RELAY_REPL = 13,
};

enum Option : quint16 {
    OptClientId = 1,
    OptServerId = 2,
    OptIaNa = 3,
    OptIaAddr = 5,
    OptOro = 6,
    OptPreference = 7,
    OptElapsedTime = 8,
    OptStatusCode = 13,
    OptRapidCommit = 14,
    OptUserClass = 15,
    OptVendorClass = 16,
    OptDnsServers = 23,
    OptBootFileUrl = 59,
    OptBootFileParam = 60,
    OptClientArch = 61,
    OptNii = 62,
    OptClientLinkLayer = 79, // RFC 6939: link-layer type, then the address
};

enum Status : quint16 {
    Success = 0,
    UnspecFail = 1,
    NoAddrsAvail = 2,
    NoBinding = 3,
    NotOnLink = 4,
    UseMulticast = 5,
};

struct Packet {
    quint8 type = 0;
    quint32 xid = 0; // 24 bits
    // Every option in the order sent, repeats kept (a client may send several IA_NA).
    QList<QPair<quint16, QByteArray>> options;

    bool has(quint16 code) const;
    // The first option of that code; empty when none.
    QByteArray option(quint16 code) const;
    QList<QByteArray> all(quint16 code) const;
    // The option codes the ORO (6) asks for.
    QList<quint16> requested() const;
};

// A message from a client or a server (types 1-11). False for a relay message, fewer
// than 4 bytes, or an option whose length runs past the end.
bool Parse(const char* data, qint64 size, Packet* packet);
QByteArray Write(const Packet& packet);

struct IaAddress {
    QHostAddress address;
    quint32 preferred = 0, valid = 0;
};
struct IaNa {
    quint32 iaid = 0, t1 = 0, t2 = 0;
    QList<IaAddress> addresses;
    int status = -1; // its status code option; -1: none
    QString statusText;
};
// IA_NA's value: false when it is shorter than 12 bytes, a nested option runs past its
// end, or an IAADDR is shorter than its 24 bytes.
bool ParseIaNa(const QByteArray& value, IaNa* ia);
QByteArray WriteIaNa(const IaNa& ia);
QByteArray StatusOption(quint16 code, const QString& text);

// The client's MAC, the one its row, its boot file by MAC and its HostsFile line go by:
// what its DUID-LLT or DUID-LL on Ethernet carries; else option 79 on Ethernet; else the
// one its link-local source address was made from (modified EUI-64, ff:fe in the middle).
// Empty when none of them tells it (DUID-UUID or DUID-EN from a stable or random
// address), never a made-up one: an empty MAC matches no HostsFile line.
Dhcp::Mac ClientMac(const Packet& message, const QHostAddress& from);
// Our DUID-LL, from the MAC of the interface we serve.
QByteArray DuidOf(const QByteArray& mac);

// What a client says of itself for its boot file.
struct ClientArch {
    int arch = -1;           // from option 61, else vendor class 16's "Arch:NNNNN"; -1: none
    bool pxeVendor = false;  // vendor class 16 (enterprise 343) "PXEClient..."
    bool httpVendor = false; // "HTTPClient..."
    bool ipxe = false;       // user class 15 "iPXE"
};
ClientArch ArchOf(const Packet& packet);
// The kind, by the same rule the DHCPv4 answers use; option 61 alone makes a PXE client.
Dhcp::ClientKind Classify(const Packet& packet);

// "Solicit", "Request", ... for rows.
QString TypeName(quint8 type);

} // namespace Dhcp6
