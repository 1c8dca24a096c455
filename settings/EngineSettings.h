#pragma once

#include "settings/AccessRules.h"
#include "settings/SettingsStore.h"

#include <QString>

// Everything the engine takes from the settings file, read in one go by
// CSettingsStore::LoadEngineSettings (whose typed readers hold the ranges). The engine
// works from this value and never opens the file: the host hands it a new one when a
// dialog saves or the file is edited by hand. The defaults here are the store's.
struct EngineSettings {
    QString workingFolder;                                    // DirName
    bool overWrite = CSettingsStore::kDefaultOverWrite != 0;  // OverWrite
    bool readOnly = false;                                    // ReadOnly: uploads refused
    int timeOut = CSettingsStore::kDefaultTimeOut;            // TimeOut, seconds, 1-255
    bool soundOn = CSettingsStore::kDefaultSoundOn != 0;      // SoundOn
    AccessRules rules;                                        // the Security values
    int maxTransfers = 0;                                     // Limits/*
    int maxTransfersPerClient = CSettingsStore::kDefaultMaxTransfersPerClient;
    bool negotiate = CSettingsStore::kDefaultNegotiate != 0;  // Protocol/*
    int maxBlockSize = CSettingsStore::kDefaultMaxBlockSize;
    int maxWindowSize = CSettingsStore::kDefaultMaxWindowSize;
    int portFirst = 0, portLast = 0;
    bool replyFromRequestAddress = CSettingsStore::kDefaultReplyFromRequestAddress != 0;
    bool ipv6 = false;
    QString listenAddress;
    bool convertNetascii = CSettingsStore::kDefaultConvertNetascii != 0;
    quint16 port = CSettingsStore::kDefaultPort;
    bool ignoreCase = CSettingsStore::kDefaultIgnoreCase != 0; // Names/*
    bool driveLetters = CSettingsStore::kDefaultDriveLetters != 0;
    QString remapFile;
    bool clientFolders = false;
    bool hideMissingFiles = false; // View/HideMissingFiles
    bool proxyDhcp = false;        // Boot/*: the boot offers, and a file per kind of client
    QString bootFileBios, bootFileUefi, bootFileUefiHttp, bootFileIpxe;
    bool secureBootChain = false;  // Boot/SecureBootChain: UEFI PXE gets shim, then GRUB
    QString bootFileOther;         // the DHCP server's clients that are no PXE client
    bool menu = false;             // Boot/Menu*: iPXE clients get the folder's menu
    QString menuDefault;
    int menuSeconds = CSettingsStore::kDefaultMenuSeconds;
    bool dhcpEnabled = false;      // Dhcp/*: a DHCP server of our own on one interface
    QString dhcpInterface, dhcpPoolFirst, dhcpPoolLast, dhcpRouter, dhcpDnsServers;
    int dhcpLeaseSeconds = CSettingsStore::kDefaultDhcpLeaseSeconds;
    QString dhcpHostsFile;
    bool dhcpOnlyKnownHosts = false;
    bool httpEnabled = false;      // Http/*: the folder over HTTP too (read at the start)
    quint16 httpPort = CSettingsStore::kDefaultHttpPort;

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
