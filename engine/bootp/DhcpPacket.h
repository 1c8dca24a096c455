#pragma once

#include "engine/bootp/AddressText.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// BOOTP and DHCP messages (RFC 951, 2131/2132, PXE's proxy mode), below the boot offers
// and the DHCP server alike: reading a client's request, telling which kind of boot
// client sent it, and the one writer of a message's fixed part, cookie and end.
namespace Dhcp {

constexpr quint16 kServerPort = 67;
constexpr quint16 kClientPort = 68;
constexpr quint16 kPxePort = 4011;
constexpr int kFixedSize = 236;           // the BOOTP header before the magic cookie
constexpr int kOptionsAt = kFixedSize + 4; // after the cookie
constexpr int kFileSize = 128;

enum Op : quint8 { BOOTREQUEST = 1, BOOTREPLY = 2 };

enum MessageType : quint8 {
    DISCOVER = 1, OFFER = 2, REQUEST = 3, DECLINE = 4, ACK = 5, NAK = 6, RELEASE = 7,
    INFORM = 8,
};

enum Option : quint8 {
    OptPad = 0, OptVendorSpecific = 43, OptRequestedAddress = 50, OptOverload = 52,
    OptMessageType = 53,
    OptServerId = 54, OptVendorClass = 60, OptBootFile = 67, OptUserClass = 77,
    OptClientArch = 93, OptClientUuid = 97, OptIpxeEncap = 175, OptEnd = 255,
};

struct Packet {
    quint8 op = 0;
    quint8 htype = 0;
    quint8 hlen = 0;
    quint32 xid = 0;
    quint16 flags = 0;
    quint32 ciaddr = 0, yiaddr = 0, siaddr = 0, giaddr = 0;
    QByteArray chaddr; // 16 bytes as sent
    quint8 messageType = 0;
    // Each option once, with a repeated option's parts joined (RFC 3396).
    QMap<quint8, QByteArray> options;

    bool has(quint8 code) const { return options.contains(code); }
    QByteArray option(quint8 code) const { return options.value(code); }
    // The hardware address as "52:54:00:12:34:56" (hlen bytes of chaddr).
    QString macText() const;
};

// Reads a BOOTREQUEST with the DHCP cookie and a message type. False for anything else:
// too short, a reply, an option whose length runs past the end, no message type.
// Option overload (52) is not followed: the options a boot client is judged by are
// never moved into `file` or `sname`. With `bootp`, a plain BOOTP request (no message
// type, messageType 0; no cookie at all, no options) is read too.
bool Parse(const char* data, qint64 size, Packet* packet, bool bootp = false);

// A message's fixed part and the magic cookie: htype, hlen, xid, flags, the four
// addresses and chaddr from `fields`, `file` in its field when it fits (else left empty:
// option 67 carries it). Options follow through AddOption, then EndMessage.
QByteArray StartMessage(Op op, const Packet& fields, const QByteArray& file = {});
// The reply to `request` (its xid, flags, giaddr, chaddr) with these addresses.
QByteArray StartReply(const Packet& request, quint32 ciaddr, quint32 yiaddr, quint32 siaddr,
                      const QByteArray& file = {});
// The end option, and zeros up to BOOTP's 300 bytes: BOOTP clients and some firmware
// drop shorter messages.
QByteArray EndMessage(QByteArray out);

// Building blocks of a message's options.
void AddOption(QByteArray& out, quint8 code, const QByteArray& value);
QByteArray IpBytes(quint32 v);
void Put32(QByteArray& out, int at, quint32 v);
// An option holding one address; 0 when it holds none.
quint32 OptionAddress(const Packet& packet, quint8 code);

// Who asks, by what the client says of itself.
enum class ClientKind {
    NotPxe,    // any other DHCP client: left to the DHCP server
    Bios,      // PXEClient, architecture 0
    Uefi,      // PXEClient, architecture 7 or 9 (x64 EFI)
    UefiHttp,  // HTTPClient (UEFI HTTP boot)
    Ipxe,      // iPXE itself (user class "iPXE" or its option 175)
    OtherArch, // a PXE client of an architecture no boot file is set for
};
ClientKind Classify(const Packet& packet);
// The one rule behind both families' Classify: iPXE first, then an HTTPClient, then a
// PXE client by its architecture (`arch` -1: not named, taken for BIOS; kArchUnreadable:
// named but not a number), anything else not PXE.
constexpr int kArchUnreadable = 0x10000;
ClientKind KindOf(int arch, bool pxeClient, bool httpClient, bool ipxe);
// "PXEClient:Arch:00007:..." or "HTTPClient:Arch:00016": the number; -1 without an
// "Arch:" part, kArchUnreadable when it is not a number.
int ArchInVendorClass(const QByteArray& vendor);
// "BIOS", "UEFI", "UEFI HTTP", "iPXE" (for the row).
QString KindName(ClientKind kind);

struct Answer {
    quint8 messageType = OFFER; // OFFER, or ACK to a REQUEST
    quint32 serverAddress = 0;  // option 54 and siaddr
    QByteArray bootFile;
    bool httpClient = false;    // option 60 "HTTPClient" and no PXE vendor options
    QByteArray vendorOptions;   // option 43 in place of discovery control 8 (a Pi's)
    QByteArray tftpServer;      // option 66; empty: not sent
};

// The reply to `request`: yiaddr 0, the client's xid, flags, giaddr and chaddr, the
// boot file in `file` (when it fits) and option 67, option 60 naming PXEClient or
// HTTPClient, option 54, the client's UUID (97) echoed, and for PXE firmware option
// 43 saying the boot file is in this offer (discovery control 8: no server discovery).
QByteArray BuildAnswer(const Packet& request, const Answer& answer);

// A reply as sent, a readable line for each field and option ("Router (3): 198.51.100.1"),
// for the details pane. Texts a client may have chosen (a host name echoed, a file) come
// with control characters stripped; the window escapes its markup itself.
QStringList DescribeReply(const QByteArray& bytes);

} // namespace Dhcp
