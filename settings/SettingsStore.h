#pragma once

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

struct EngineSettings;

// The per-user profile: section "WorkingDir" of company "Zelk TFTP Server",
// application "ZAZO_Dize". Every reader asks for one value with its default at the
// moment it needs it; nothing is cached beyond QSettings' own copy of the file, and
// that copy is re-read whenever another process has changed the file. The engine
// never reads here: it takes LoadEngineSettings' value from the host.
class CSettingsStore {
public:
    // The keys, spelled as they are stored.
    static constexpr const char* kSection = "WorkingDir";
    static constexpr const char* kDirName = "DirName";
    static constexpr const char* kOverWrite = "OverWrite";
    // Every write request is refused (a server that only hands out files).
    static constexpr const char* kReadOnly = "ReadOnly";
    static constexpr const char* kSoundOn = "SoundOn";
    static constexpr const char* kTimeOut = "TimeOut";
    static constexpr const char* kAllowClient = "AllowClient";
    static constexpr const char* kClientKeys[6] = {"Client1", "Client2", "Client3",
                                                   "Client4", "Client5", "Client6"};
    static constexpr const char* kSendFile = "SendFile";
    static constexpr const char* kFileEdit = "FileEdit";

    // Limits on live transfers, in a section of their own ("Limits/..."). MaxTransfers 0
    // means as many as the descriptor limit allows; MaxTransfersPerClient 0, no limit.
    // Many boot clients may share one address (a NAT), so the per-address default is
    // high; under the descriptors' limit one address takes at most half (ServerEngine).
    static constexpr const char* kMaxTransfers = "Limits/MaxTransfers";
    static constexpr const char* kMaxTransfersPerClient = "Limits/MaxTransfersPerClient";
    static constexpr int kDefaultMaxTransfersPerClient = 512;

    // What goes beyond RFC 1350, all off by default ("Protocol/...").
    static constexpr const char* kNegotiate = "Protocol/Negotiate";
    static constexpr const char* kMaxBlockSize = "Protocol/MaxBlockSize";
    static constexpr const char* kMaxWindowSize = "Protocol/MaxWindowSize";
    static constexpr const char* kPortFirst = "Protocol/PortFirst";
    static constexpr const char* kPortLast = "Protocol/PortLast";
    static constexpr const char* kReplyFromRequestAddress = "Protocol/ReplyFromRequestAddress";
    static constexpr const char* kIPv6 = "Protocol/IPv6";
    static constexpr const char* kListenAddress = "Protocol/ListenAddress";
    // Netascii transfers convert line ends (RFC 1350); 0 moves the bytes unchanged.
    static constexpr const char* kConvertNetascii = "Protocol/ConvertNetascii";
    // How requested names find files ("Names/..."): letter case ignored when the exact
    // name is missing, a leading drive letter dropped, a file of rewrite rules, and a
    // folder per client address looked in first.
    static constexpr const char* kIgnoreCase = "Names/IgnoreCase";
    static constexpr const char* kDriveLetters = "Names/DriveLetters";
    static constexpr const char* kRemapFile = "Names/RemapFile";
    static constexpr const char* kClientFolders = "Names/ClientFolders";
    // The list leaves out requests for files that are not there (and their sound).
    static constexpr const char* kHideMissingFiles = "View/HideMissingFiles";
    // The list keeps this many finished rows at most (the oldest leave first; running
    // ones always stay); the transfer log keeps every row.
    static constexpr const char* kMaxFinishedRows = "View/MaxFinishedRows";
    static constexpr int kDefaultMaxFinishedRows = 10000;
    // Booting machines over the network ("Boot/..."): a ProxyDHCP on ports 67 and 4011
    // that names a boot file to PXE clients and hands out no address; off by default.
    // Each boot file is a name in the working folder (the UEFI HTTP one offered as a URL
    // on our HTTP port, or a URL of its own); an empty one leaves that kind unanswered.
    static constexpr const char* kProxyDhcp = "Boot/ProxyDhcp";
    static constexpr const char* kBootFileBios = "Boot/BootFileBios";
    static constexpr const char* kBootFileUefi = "Boot/BootFileUefi";
    static constexpr const char* kBootFileUefiHttp = "Boot/BootFileUefiHttp";
    static constexpr const char* kBootFileIpxe = "Boot/BootFileIpxe";
    // UEFI PXE clients get the signed chain: BootFileUefi names the shim (shimx64.efi
    // when empty), the offer checks that GRUB, MokManager and GRUB's configuration lie
    // where shim and GRUB ask for them, and the names the chain probes and may lack end
    // in neutral rows. Off by default.
    static constexpr const char* kSecureBootChain = "Boot/SecureBootChain";
    // For the DHCP server's clients that are no PXE client (U-Boot, plain BOOTP).
    static constexpr const char* kBootFileOther = "Boot/BootFileOther";
    // iPXE clients get a menu written from the folder (off by default): MenuDefault
    // names the entry booted after MenuSeconds (empty: the first).
    static constexpr const char* kMenu = "Boot/Menu";
    static constexpr const char* kMenuDefault = "Boot/MenuDefault";
    static constexpr const char* kMenuSeconds = "Boot/MenuSeconds";
    static constexpr int kDefaultMenuSeconds = 10, kMaxMenuSeconds = 3600;
    // A DHCP and BOOTP server of our own on one interface ("Dhcp/..."), off by default:
    // for a device on a cable with no other DHCP server. Interface empty: the listen
    // address's; PoolFirst/PoolLast empty: up to 50 addresses after ours; Router and
    // DnsServers empty: none given; HostsFile lines `MAC IP [BOOTFILE]`;
    // OnlyKnownHosts 1: only the MACs in HostsFile get an address.
    static constexpr const char* kDhcpEnabled = "Dhcp/Enabled";
    static constexpr const char* kDhcpInterface = "Dhcp/Interface";
    static constexpr const char* kDhcpPoolFirst = "Dhcp/PoolFirst";
    static constexpr const char* kDhcpPoolLast = "Dhcp/PoolLast";
    static constexpr const char* kDhcpRouter = "Dhcp/Router";
    static constexpr const char* kDhcpDnsServers = "Dhcp/DnsServers";
    static constexpr const char* kDhcpLeaseSeconds = "Dhcp/LeaseSeconds";
    static constexpr const char* kDhcpHostsFile = "Dhcp/HostsFile";
    static constexpr const char* kDhcpOnlyKnownHosts = "Dhcp/OnlyKnownHosts";
    static constexpr int kDefaultDhcpLeaseSeconds = 3600;
    static constexpr int kMinDhcpLeaseSeconds = 60, kMaxDhcpLeaseSeconds = 31622400;
    // A desktop notification when a transfer fails or an upload completes while the
    // window is hidden or minimised.
    static constexpr const char* kNotifications = "View/Notifications";
    // The UDP port for requests (Setup; --port wins), read at the start.
    static constexpr const char* kPort = "Protocol/Port";
    static constexpr int kDefaultPort = 69;
    // The working folder over HTTP too (GET and HEAD, the same rules as TFTP reads),
    // off by default; its TCP port, read at the start.
    static constexpr const char* kHttpEnabled = "Http/Enabled";
    static constexpr const char* kHttpPort = "Http/Port";
    static constexpr int kDefaultHttpPort = 8080;
    static constexpr int kDefaultMaxBlockSize = 1468; // fits an Ethernet frame unfragmented
    static constexpr int kDefaultMaxWindowSize = 64;  // where the gains level off
    static constexpr int kMinBlockSize = 8, kMaxBlockSizeLimit = 65464;
    static constexpr int kMaxWindowSizeLimit = 65535;

    static constexpr int kDefaultOverWrite = 1;
    static constexpr int kDefaultReadOnly = 0;
    static constexpr int kDefaultSoundOn = 1;
    static constexpr int kDefaultTimeOut = 20;
    static constexpr int kDefaultAllowClient = 0;
    static constexpr int kDefaultSendFile = 0;
    static constexpr int kDefaultNegotiate = 1;
    static constexpr int kDefaultReplyFromRequestAddress = 1;
    static constexpr int kDefaultConvertNetascii = 1;
    static constexpr int kDefaultIgnoreCase = 1;
    static constexpr int kDefaultDriveLetters = 1;

    // The user's store (QSettings' native format for the organisation and application).
    CSettingsStore();
    // A store in the given INI file; for tests and tools.
    explicit CSettingsStore(const QString& iniFile);
    // Another store on the same file (another thread's: one store serves one thread).
    CSettingsStore(const QString& file, QSettings::Format format);
    ~CSettingsStore();

    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    int GetProfileInt(const char* key, int nDefault);
    QString GetProfileString(const char* key, const QString& strDefault);
    void WriteProfileInt(const char* key, int nValue);
    void WriteProfileString(const char* key, const QString& strValue);

    // DirName's default on this platform: the folder "tftp" in the user's home.
    static QString DefaultDirName();
    // Typed readers, each with its default.
    QString WorkingFolder() { return GetProfileString(kDirName, DefaultDirName()); }
    bool OverWrite() { return GetProfileInt(kOverWrite, kDefaultOverWrite) != 0; }
    bool ReadOnly() { return GetProfileInt(kReadOnly, kDefaultReadOnly) != 0; }
    bool SoundOn() { return GetProfileInt(kSoundOn, kDefaultSoundOn) != 0; }
    // In seconds, 1-255 like the timeout option: a resend days later is no resend.
    static constexpr int kMaxTimeOut = 255;
    int TimeOut() { return std::clamp(GetProfileInt(kTimeOut, kDefaultTimeOut), 1, kMaxTimeOut); }
    int MaxTransfers() { return GetProfileInt(kMaxTransfers, 0); }
    bool Negotiate() { return GetProfileInt(kNegotiate, kDefaultNegotiate) != 0; }
    int MaxBlockSize() {
        return std::clamp(GetProfileInt(kMaxBlockSize, kDefaultMaxBlockSize), kMinBlockSize,
                          kMaxBlockSizeLimit);
    }
    int MaxWindowSize() {
        return std::clamp(GetProfileInt(kMaxWindowSize, kDefaultMaxWindowSize), 1,
                          kMaxWindowSizeLimit);
    }
    // 0 when not set: transfer ports are then drawn from 29001 to 65000.
    int PortFirst() { return GetProfileInt(kPortFirst, 0); }
    int PortLast() { return GetProfileInt(kPortLast, 0); }
    bool ReplyFromRequestAddress() { return GetProfileInt(kReplyFromRequestAddress, kDefaultReplyFromRequestAddress) != 0; }
    bool IPv6() { return GetProfileInt(kIPv6, 0) != 0; }
    QString ListenAddress() { return GetProfileString(kListenAddress, QString()); }
    bool ConvertNetascii() { return GetProfileInt(kConvertNetascii, kDefaultConvertNetascii) != 0; }
    bool IgnoreCase() { return GetProfileInt(kIgnoreCase, kDefaultIgnoreCase) != 0; }
    bool DriveLetters() { return GetProfileInt(kDriveLetters, kDefaultDriveLetters) != 0; }
    QString RemapFile() { return GetProfileString(kRemapFile, QString()); }
    bool ClientFolders() { return GetProfileInt(kClientFolders, 0) != 0; }
    bool HideMissingFiles() { return GetProfileInt(kHideMissingFiles, 0) != 0; }
    int MaxFinishedRows() {
        return std::max(1, GetProfileInt(kMaxFinishedRows, kDefaultMaxFinishedRows));
    }
    bool ProxyDhcp() { return GetProfileInt(kProxyDhcp, 0) != 0; }
    QString BootFileBios() { return GetProfileString(kBootFileBios, QString()); }
    QString BootFileUefi() { return GetProfileString(kBootFileUefi, QString()); }
    QString BootFileUefiHttp() { return GetProfileString(kBootFileUefiHttp, QString()); }
    QString BootFileIpxe() { return GetProfileString(kBootFileIpxe, QString()); }
    bool SecureBootChain() { return GetProfileInt(kSecureBootChain, 0) != 0; }
    QString BootFileOther() { return GetProfileString(kBootFileOther, QString()); }
    bool Menu() { return GetProfileInt(kMenu, 0) != 0; }
    QString MenuDefault() { return GetProfileString(kMenuDefault, QString()); }
    int MenuSeconds() {
        return std::clamp(GetProfileInt(kMenuSeconds, kDefaultMenuSeconds), 0, kMaxMenuSeconds);
    }
    bool DhcpEnabled() { return GetProfileInt(kDhcpEnabled, 0) != 0; }
    QString DhcpInterface() { return GetProfileString(kDhcpInterface, QString()); }
    QString DhcpPoolFirst() { return GetProfileString(kDhcpPoolFirst, QString()); }
    QString DhcpPoolLast() { return GetProfileString(kDhcpPoolLast, QString()); }
    QString DhcpRouter() { return GetProfileString(kDhcpRouter, QString()); }
    QString DhcpDnsServers() { return GetProfileString(kDhcpDnsServers, QString()); }
    int DhcpLeaseSeconds() {
        return std::clamp(GetProfileInt(kDhcpLeaseSeconds, kDefaultDhcpLeaseSeconds),
                          kMinDhcpLeaseSeconds, kMaxDhcpLeaseSeconds);
    }
    QString DhcpHostsFile() { return GetProfileString(kDhcpHostsFile, QString()); }
    bool DhcpOnlyKnownHosts() { return GetProfileInt(kDhcpOnlyKnownHosts, 0) != 0; }
    bool Notifications() { return GetProfileInt(kNotifications, 1) != 0; }
    // A stored value outside 1..65535 gives the default.
    quint16 Port() {
        const int port = GetProfileInt(kPort, kDefaultPort);
        return quint16(port >= 1 && port <= 65535 ? port : kDefaultPort);
    }
    bool HttpEnabled() { return GetProfileInt(kHttpEnabled, 0) != 0; }
    quint16 HttpPort() {
        const int port = GetProfileInt(kHttpPort, kDefaultHttpPort);
        return quint16(port >= 1 && port <= 65535 ? port : kDefaultHttpPort);
    }
    int MaxTransfersPerClient() {
        return GetProfileInt(kMaxTransfersPerClient, kDefaultMaxTransfersPerClient);
    }
    // Why a folder cannot serve as the working folder (empty, relative, missing, not a
    // folder), as a short phrase; empty when it can. Nothing is served from such a folder.
    static QString WorkingFolderProblem(const QString& dir);
    // Creates the default working directory when it is the one in use and missing.
    // A folder the user chose is never created.
    void EnsureDefaultDirExists();

    // The integer settings that are set to no integer or out of their range, each as
    // "TimeOut=abc not understood, using 20"; empty when every one is fine.
    QStringList SettingNotes();

    // Every value the engine uses, through the readers above, from one look at the file.
    EngineSettings LoadEngineSettings();
    // Re-reads the file when another program changed it since the last look (one stat);
    // true when it did.
    bool ReloadIfChanged();
    // Called after every write through this store (a dialog saving, the window's own
    // keys): the host hands the engine the new values at once. The id removes it.
    int AddWriteListener(std::function<void()> listener);
    void RemoveWriteListener(int id);

    QString FileName() const;
    QSettings::Format Format() const { return m_settings->format(); }

private:
    void RefreshIfChanged();
    void NoteWrite();

    std::unique_ptr<QSettings> m_settings;
    QString m_fileName;
    QDateTime m_seenModified;
    qint64 m_seenSize = -1;
    bool m_bHoldRefresh = false; // within LoadEngineSettings: the file was looked at
    std::vector<std::pair<int, std::function<void()>>> m_writeListeners;
    int m_nLastListener = 0;
};
