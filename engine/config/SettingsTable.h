#pragma once

#include "engine/tftp/Options.h"

#include <QString>
#include <climits>

// Every stored setting, once: its key, kind, default, limits and what it does. The
// store reads and writes through it, the engine's value takes its defaults from it,
// the dialogs their ranges, and the manual and Help list it.
//
// A key without a section ("TimeOut") lies in section WorkingDir; the others name
// theirs ("Protocol/MaxBlockSize"). To add a setting, add one X(...) line below:
// SettingsTable::Name and the store's kName and kDefaultName then exist, and the
// manual and Help show it; give EngineSettings a member (and the store's
// LoadEngineSettings a line) when the engine uses it.
enum class SettingKind : unsigned char {
    Flag,   // 0 off, any other integer on
    Number, // an integer, clamped into [min, max]
    Port,   // an integer in [min, max]; outside it the default holds
    Text,   // a string, empty by default
};

struct SettingEntry {
    const char* key; // as stored
    SettingKind kind;
    int number; // the default of a Flag, Number or Port
    int min, max;
    const char* description; // one line, for people

    bool IsInteger() const { return kind != SettingKind::Text; }
    // "WorkingDir", "Protocol", ...
    QString Section() const;
    // The key within its section: "TimeOut", "MaxBlockSize".
    QString Name() const;
    // The default as the manual shows it ("20", "on", "" for an empty text).
    QString DefaultText() const;
    // The accepted values as people read them ("1-255", "0 or 1"); empty for text.
    QString RangeText() const;
    // What the store gives for a stored integer.
    int Bounded(int stored) const;
};

inline constexpr int kAnyInt = INT_MIN, kMaxInt = INT_MAX;

// X(Id, key, kind, default, min, max, description)
#define VANTREL_SETTINGS(X)                                                                        \
    X(DirName, "DirName", Text, 0, 0, 0,                                                           \
      "The working folder: files are read from it and written into it")           \
    X(OverWrite, "OverWrite", Flag, 1, 0, 1, "An upload may replace a file of the same name")      \
    X(ReadOnly, "ReadOnly", Flag, 0, 0, 1, "Every upload is refused; files are only handed out")   \
    X(SoundOn, "SoundOn", Flag, 1, 0, 1, "Sounds for commands and for transfers that end")         \
    X(TimeOut, "TimeOut", Number, 20, 1, 255,                                                      \
      "Seconds without an answer before a packet is sent again")                                   \
    X(AllowClient, "AllowClient", Flag, 0, 0, 1, "Only the clients Client1 to Client6 are served") \
    X(Client1, "Client1", Text, 0, 0, 0, "A client served with AllowClient: an address or a range") \
    X(Client2, "Client2", Text, 0, 0, 0, "Another client, as Client1")                             \
    X(Client3, "Client3", Text, 0, 0, 0, "Another client, as Client1")                             \
    X(Client4, "Client4", Text, 0, 0, 0, "Another client, as Client1")                             \
    X(Client5, "Client5", Text, 0, 0, 0, "Another client, as Client1")                             \
    X(Client6, "Client6", Text, 0, 0, 0, "Another client, as Client1")                             \
    X(SendFile, "SendFile", Flag, 0, 0, 1, "Only files whose name contains FileEdit are read")     \
    X(FileEdit, "FileEdit", Text, 0, 0, 0, "The text a readable file's name contains (SendFile)")  \
    X(MaxTransfers, "Limits/MaxTransfers", Number, 0, kAnyInt, kMaxInt,                            \
      "Transfers at once; 0: as many as the open-files limit allows")                              \
    X(MaxTransfersPerClient, "Limits/MaxTransfersPerClient", Number, 512, kAnyInt, kMaxInt,        \
      "Transfers at once from one address; 0: no limit")                                           \
    X(EngineThreads, "Limits/EngineThreads", Number, 1, 0, 64,                                     \
      "Engine threads, each with its own listener on the port; 0: one per core, at most 8")        \
    X(Negotiate, "Protocol/Negotiate", Flag, 1, 0, 1,                                              \
      "Answer the options blksize, timeout, tsize and windowsize")                                 \
    X(MaxBlockSize, "Protocol/MaxBlockSize", Number, 1468, Tftp::kMinBlockSize, Tftp::kMaxBlockSize, \
      "The largest block size granted, in bytes")                                                  \
    X(MaxWindowSize, "Protocol/MaxWindowSize", Number, 64, 1, Tftp::kMaxWindowSize,                               \
      "The largest window granted, in blocks")                                                     \
    X(PortFirst, "Protocol/PortFirst", Number, 0, 0, 65535,                                        \
      "First UDP port for transfers; 0: any from 29001 to 65000")                                  \
    X(PortLast, "Protocol/PortLast", Number, 0, 0, 65535, "Last UDP port for transfers")           \
    X(ReplyFromRequestAddress, "Protocol/ReplyFromRequestAddress", Flag, 1, 0, 1,                  \
      "Transfers answer from the address the request was sent to")                                 \
    X(SinglePort, "Protocol/SinglePort", Flag, 0, 0, 1,                                            \
      "Transfers answer from the listen port itself (NAT, containers)")                            \
    X(IPv6, "Protocol/IPv6", Flag, 0, 0, 1, "Listen on IPv6 as well as IPv4")                      \
    X(ListenAddress, "Protocol/ListenAddress", Text, 0, 0, 0,                                      \
      "The one address to listen on; empty: all")                                                  \
    X(ConvertNetascii, "Protocol/ConvertNetascii", Flag, 1, 0, 1,                                  \
      "Netascii transfers convert line ends; off: bytes move unchanged")                           \
    X(Port, "Protocol/Port", Port, 69, 1, 65535, "The UDP port for requests (--port wins)")        \
    X(IgnoreCase, "Names/IgnoreCase", Flag, 1, 0, 1,                                               \
      "A name that is not found is looked for again ignoring letter case")                         \
    X(DriveLetters, "Names/DriveLetters", Flag, 1, 0, 1,                                           \
      "A leading drive letter (C:\\) in a requested name is dropped")                               \
    X(RemapFile, "Names/RemapFile", Text, 0, 0, 0, "A file of rules that rewrite requested names") \
    X(ClientFolders, "Names/ClientFolders", Flag, 0, 0, 1,                                         \
      "A folder named after the client's address is looked in first")                             \
    X(HideMissingFiles, "View/HideMissingFiles", Flag, 0, 0, 1,                                    \
      "The list leaves out requests for files that are not there")                                 \
    X(MaxFinishedRows, "View/MaxFinishedRows", Number, 10000, 1, kMaxInt,                          \
      "Finished rows the list keeps; the oldest leave first")                                      \
    X(Notifications, "View/Notifications", Flag, 1, 0, 1,                                          \
      "A desktop notification for failures and uploads while the window is hidden")                \
    X(ProxyDhcp, "Boot/ProxyDhcp", Flag, 0, 0, 1,                                                  \
      "Boot offers: name a boot file to PXE clients on ports 67 and 4011, no address")             \
    X(BootFileBios, "Boot/BootFileBios", Text, 0, 0, 0, "The boot file for BIOS PXE clients")      \
    X(BootFileUefi, "Boot/BootFileUefi", Text, 0, 0, 0, "The boot file for UEFI PXE clients")      \
    X(BootFileUefiHttp, "Boot/BootFileUefiHttp", Text, 0, 0, 0,                                    \
      "The boot file or URL for UEFI HTTP clients")                                                \
    X(BootFileIpxe, "Boot/BootFileIpxe", Text, 0, 0, 0, "The boot file for iPXE clients")          \
    X(SecureBootChain, "Boot/SecureBootChain", Flag, 0, 0, 1,                                      \
      "UEFI PXE clients get the signed chain: shim, then GRUB")                                    \
    X(BootFileOther, "Boot/BootFileOther", Text, 0, 0, 0,                                          \
      "The boot file for the DHCP server's clients that are no PXE client")                        \
    X(RaspberryPi, "Boot/RaspberryPi", Flag, 0, 0, 1,                                              \
      "Raspberry Pis get the answer their network boot takes (option 43, bootcode.bin)")           \
    X(Menu, "Boot/Menu", Flag, 0, 0, 1, "iPXE clients get a menu written from the folder")         \
    X(MenuDefault, "Boot/MenuDefault", Text, 0, 0, 0,                                              \
      "The menu entry booted after the time-out; empty: the first")                                \
    X(MenuSeconds, "Boot/MenuSeconds", Number, 10, 0, 3600,                                        \
      "Seconds the menu waits before it boots the default entry")                                  \
    X(DhcpEnabled, "Dhcp/Enabled", Flag, 0, 0, 1, "A DHCP server of our own on one interface")     \
    X(DhcpInterface, "Dhcp/Interface", Text, 0, 0, 0,                                              \
      "The DHCP server's interface; empty: the listen address's")                                  \
    X(DhcpPoolFirst, "Dhcp/PoolFirst", Text, 0, 0, 0,                                              \
      "First address handed out; empty: the one after ours")                                       \
    X(DhcpPoolLast, "Dhcp/PoolLast", Text, 0, 0, 0,                                                \
      "Last address handed out; empty: up to 50 after ours")                                       \
    X(DhcpRouter, "Dhcp/Router", Text, 0, 0, 0, "The router given to clients; empty: none")        \
    X(DhcpDnsServers, "Dhcp/DnsServers", Text, 0, 0, 0,                                            \
      "The DNS servers given to clients; empty: none")                                             \
    X(DhcpLeaseSeconds, "Dhcp/LeaseSeconds", Number, 3600, 60, 31622400,                           \
      "How long a lease lasts, in seconds")                                                        \
    X(DhcpHostsFile, "Dhcp/HostsFile", Text, 0, 0, 0,                                              \
      "A file of lines MAC IP [BOOTFILE]: fixed addresses")                                        \
    X(DhcpOnlyKnownHosts, "Dhcp/OnlyKnownHosts", Flag, 0, 0, 1,                                    \
      "Only the MACs in HostsFile get an address")                                                 \
    X(DhcpBootpDynamic, "Dhcp/BootpDynamic", Flag, 0, 0, 1,                                        \
      "BOOTP clients (no DHCP message) get pool addresses too; 0: HostsFile hosts only")           \
    X(DhcpIPv6, "Dhcp/IPv6", Flag, 0, 0, 1,                                                        \
      "A DHCPv6 server on the same interface: addresses from our /64, the boot URL (option 59)")   \
    X(DhcpPool6First, "Dhcp/Pool6First", Text, 0, 0, 0,                                            \
      "First IPv6 address handed out; empty: ::1000 in the interface's /64")                       \
    X(DhcpPool6Size, "Dhcp/Pool6Size", Number, 256, 1, 65536, "How many IPv6 addresses are handed out") \
    X(DhcpRouterAdvertisements, "Dhcp/RouterAdvertisements", Flag, 1, 0, 1,                        \
      "With IPv6: announce our /64 with the managed flag while no router is heard; 0: never")      \
    X(HttpEnabled, "Http/Enabled", Flag, 0, 0, 1,                                                  \
      "The working folder over HTTP too (GET and HEAD, the TFTP rules)")                           \
    X(HttpPort, "Http/Port", Port, 8080, 1, 65535, "The TCP port for HTTP")                        \
    X(HttpRedirect, "Http/Redirect", Text, 0, 0, 0,                                                \
      "A base URL (a cache): larger HTTP requests are redirected to it, the same path below it")   \
    X(HttpRedirectAboveBytes, "Http/RedirectAboveBytes", Number, 1048576, 0, kMaxInt,              \
      "Files larger than this many bytes are redirected")

namespace SettingsTable {
#define VANTREL_SETTING_ENTRY(Id, key, kind, number, min, max, description)                        \
    inline constexpr SettingEntry Id{key, SettingKind::kind, number, min, max, description};
VANTREL_SETTINGS(VANTREL_SETTING_ENTRY)
#undef VANTREL_SETTING_ENTRY

#define VANTREL_SETTING_LISTED(Id, ...) &Id,
inline constexpr const SettingEntry* kAll[] = {VANTREL_SETTINGS(VANTREL_SETTING_LISTED)};
#undef VANTREL_SETTING_LISTED

// The section of a key without one of its own.
inline constexpr const char* kSection = "WorkingDir";
} // namespace SettingsTable
