#pragma once

#include "engine/config/AccessRules.h"
#include "engine/config/SettingsTable.h"

#include <QString>

// Everything the engine takes from the settings file, read in one go by the store
// (whose readers keep each value within the table's limits). The engine works from
// this value and never opens the file: the settings layer hands the host a new one
// when a dialog saves or the file is edited by hand. The defaults are the table's.
struct EngineSettings {
    QString workingFolder;                                    // DirName
    bool overWrite = SettingsTable::OverWrite.number != 0;  // OverWrite
    bool readOnly = false;                                    // ReadOnly: uploads refused
    int timeOut = SettingsTable::TimeOut.number;            // TimeOut, seconds, 1-255
    bool soundOn = SettingsTable::SoundOn.number != 0;      // SoundOn
    AccessRules rules;                                        // the Security values
    int maxTransfers = 0;                                     // Limits/*
    int maxTransfersPerClient = SettingsTable::MaxTransfersPerClient.number;
    int engineThreads = SettingsTable::EngineThreads.number; // read as the server listens
    bool negotiate = SettingsTable::Negotiate.number != 0;  // Protocol/*
    int maxBlockSize = SettingsTable::MaxBlockSize.number;
    int maxWindowSize = SettingsTable::MaxWindowSize.number;
    int portFirst = 0, portLast = 0;
    bool replyFromRequestAddress = SettingsTable::ReplyFromRequestAddress.number != 0;
    bool singlePort = false; // every transfer on the listener's own port
    bool ipv6 = false;
    QString listenAddress;
    bool convertNetascii = SettingsTable::ConvertNetascii.number != 0;
    quint16 port = quint16(SettingsTable::Port.number);
    bool ignoreCase = SettingsTable::IgnoreCase.number != 0; // Names/*
    bool driveLetters = SettingsTable::DriveLetters.number != 0;
    QString remapFile;
    bool clientFolders = false;
    bool hideMissingFiles = false; // View/HideMissingFiles
    bool proxyDhcp = false;        // Boot/*: the boot offers, and a file per kind of client
    QString bootFileBios, bootFileUefi, bootFileUefiHttp, bootFileIpxe;
    bool secureBootChain = false;  // Boot/SecureBootChain: UEFI PXE gets shim, then GRUB
    QString bootFileOther;         // the DHCP server's clients that are no PXE client
    bool raspberryPi = false;      // Boot/RaspberryPi: Pis get their own answer
    bool menu = false;             // Boot/Menu*: iPXE clients get the folder's menu
    QString menuDefault;
    int menuSeconds = SettingsTable::MenuSeconds.number;
    bool dhcpEnabled = false;      // Dhcp/*: a DHCP server of our own on one interface
    QString dhcpInterface, dhcpPoolFirst, dhcpPoolLast, dhcpRouter, dhcpDnsServers;
    int dhcpLeaseSeconds = SettingsTable::DhcpLeaseSeconds.number;
    QString dhcpHostsFile;
    bool dhcpOnlyKnownHosts = false;
    bool dhcpBootpDynamic = false;
    bool dhcpIPv6 = false;         // Dhcp/IPv6, Pool6*, RouterAdvertisements: DHCPv6 beside it
    QString dhcpPool6First;
    int dhcpPool6Size = SettingsTable::DhcpPool6Size.number;
    bool dhcpRouterAdvertisements = SettingsTable::DhcpRouterAdvertisements.number != 0;
    bool httpEnabled = false;      // Http/*: the folder over HTTP too (read at the start)
    quint16 httpPort = quint16(SettingsTable::HttpPort.number);
    QString httpRedirect;          // Http/Redirect*: larger files from a cache's base URL
    qint64 httpRedirectAboveBytes = SettingsTable::HttpRedirectAboveBytes.number;

    // The file's values, but for the sounds and the security rules: those are loaded
    // as the server starts and then change only through the Setup and Security
    // commands, never by an edit of the file while it runs.
    void FollowFile(const EngineSettings& file) {
        const bool sounds = soundOn;
        AccessRules live = std::move(rules);
        *this = file;
        soundOn = sounds;
        rules = std::move(live);
    }

    bool operator==(const EngineSettings&) const = default;
};
