#pragma once

#include "engine/bootp/Dhcp6Packet.h"
#include "engine/bootp/DhcpPacket.h"
#include "engine/boot/SecureBootChain.h"
#include "engine/config/EngineSettings.h"
#include "engine/http/HttpRedirect.h"
#include "engine/platform/Platform.h"
#include "engine/server/Admission.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// What a booting client is offered, for the boot offers (ProxyDHCP), our DHCP server, the
// menu writer and the Boot dialog alike: the one place a boot file is chosen. Pure: the
// folder is seen only through `Folder`.
namespace BootPolicy {

// Who asks. Boot offers answer PXE clients only; our DHCP server answers every client
// and gives the rest BootFileOther.
enum class Service { Offers, DhcpServer };

struct Settings {
    QString bios, uefi, uefiHttp, ipxe, other; // [Boot] BootFile*
    bool secureBootChain = false;              // an empty UEFI field means the shim
    bool menu = false;                         // iPXE clients get the folder's menu
    bool httpEnabled = false;
    quint16 httpPort = 0;
    bool raspberryPi = false;                  // Pis get their own answer
    HttpRedirect::Settings redirect; // a UEFI HTTP client's large file: the cache's URL
    bool operator==(const Settings&) const = default;
};
// Those of the server's settings.
Settings SettingsOf(const EngineSettings& s);

struct Folder {
    // Whether a name is a file in the working folder; unset: not looked at.
    SecureBoot::FolderView exists;
    // The folder's files as the menu writer last listed them (for the menu).
    QStringList listing;
    // A file's size in bytes (-1: not there); unset: not looked at (no redirect).
    std::function<qint64(const QByteArray& name)> size;
};

struct Client {
    Dhcp::ClientKind kind = Dhcp::ClientKind::NotPxe;
    QString mac;      // "52:54:00:ab:cd:ef"
    QString hostFile; // its HostsFile entry's file; empty: none
};

struct Choice {
    Dhcp::ClientKind kind = Dhcp::ClientKind::NotPxe;
    QString file;        // as the row shows it (a name, or the URL offered); empty: none
    QByteArray offered;  // option 67 and `file`; empty: no boot file is offered
    bool httpClient = false; // option 60 "HTTPClient" in the answer
    // A Raspberry Pi (by its MAC, or its HostsFile line): option 43 with its menu item,
    // option 66, and no look for the file (a Pi 4 or 5 never asks it).
    bool raspberryPi = false;
    QByteArray vendorOptions; // option 43 as the client needs it; empty: the service's own
    // "BIOS", "UEFI", ..., "Raspberry Pi": who was answered, for the row.
    QString kindName() const;
    // Why the file cannot be offered (BootFileMissing, BootHttpOff), with `file` naming it.
    Refusal refusal = Refusal::None;
    QString chainLacks;  // the Secure Boot chain behind the shim offered lacks these
    // The row's word on it: "Boot File Missing: x", "Secure Boot chain lacks ..."; empty
    // when the offer can boot.
    QString problem() const;
};

// The client's kind from options 93, 60 and 77 (and 175).
Client ClientOf(const Dhcp::Packet& request, const QString& hostFile = {});

// The same from a DHCPv6 message (options 61, 16 and 15); `mac` as the caller knows it.
Client ClientOf6(const Dhcp6::Packet& request, const QString& mac, const QString& hostFile = {});

// What option 59 (DHCPv6's boot file URL) says of `choice`: a URL it already is (a UEFI
// HTTP client's, the cache's) as it is, else tftp://[server6]/NAME with the name
// percent-encoded (RFC 3986, '/' kept), as edk2 reads it back. Empty: nothing offered.
// A link-local server6 would need a zone, which firmware cannot parse: the caller
// gives our global address.
QByteArray BootUrl6(const Choice& choice, const QHostAddress& server6);

// What `client` is offered by `service`; `server` is the address the offer names as
// ours (the host of a UEFI HTTP client's URL).
Choice Choose(Service service, const Client& client, const Settings& settings,
              const QHostAddress& server, const Folder& folder);

// The names the chain offered under `settings` probes on every boot and may lack (the
// Secure Boot chain's extras while it is on; none otherwise): the TFTP server is told
// them, so their absence is no failure.
QList<QByteArray> OptionalProbes(const Settings& settings);

// What an iPXE client gets while the menu is on: its machine's boot-MAC.ipxe, else the
// user's menu.ipxe, else the written menu.
QString MenuScript(const QStringList& listing, const QString& mac);

} // namespace BootPolicy

// The one choice of interface, for our DHCP server, the boot offers and the DHCP dialog
// alike (an interface counts as up as NetInterface::CountsUp says).
// The link the server lives on: its interface, our IPv4 address there and its prefix.
struct DhcpLink {
    QString device;
    QHostAddress address;
    int prefixLength = 0;
    // "eth1 (192.0.2.10)".
    QString describe() const;
    bool operator==(const DhcpLink&) const = default;
};
// What an empty choice waits for: the link to come up (or the interface to come), or an
// IPv4 address on it.
struct LinkWait {
    enum class Why : quint8 { LinkDown, NoAddress };
    Why why = Why::NoAddress;
    QString device;      // the interface (empty: none could be chosen)
    QString address;     // NoAddress without a device: the one asked for
    bool present = true; // LinkDown: the interface exists
};
// The interface named, or for an empty name the one holding `listen` (for a listener on
// every address the first that is up, not loopback, with an IPv4 address), among
// `interfaces`. Empty device, with *wait saying what is missing, while it is not there,
// is down, or has no IPv4 address.
DhcpLink FindDhcpLink(const QString& name, const QHostAddress& listen,
                      const QList<NetInterface>& interfaces, LinkWait* wait);
