#pragma once

#include "engine/config/SettingsTable.h"

#include <QDateTime>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

struct EngineSettings;
struct AccessRules;

// The per-user profile: section "WorkingDir" of company "Zelk TFTP Server",
// application "ZAZO_Dize". Every reader asks for one value with its default at the
// moment it needs it; nothing is cached beyond QSettings' own copy of the file, and
// that copy is re-read whenever another process has changed the file. The engine
// never reads here: it takes LoadEngineSettings' value from the host.
class CSettingsStore {
public:
    // The keys and defaults, from the one table (engine/config/SettingsTable.h):
    // kTimeOut is "TimeOut", kDefaultTimeOut 20, for every key in it.
#define VANTREL_STORE_KEY(Id, ...)                                                                 \
    static constexpr const char* k##Id = SettingsTable::Id.key;                                    \
    static constexpr int kDefault##Id = SettingsTable::Id.number;
    VANTREL_SETTINGS(VANTREL_STORE_KEY)
#undef VANTREL_STORE_KEY
    static constexpr const char* kSection = SettingsTable::kSection;
    static constexpr const char* kClientKeys[6] = {kClient1, kClient2, kClient3,
                                                   kClient4, kClient5, kClient6};
    // The limits by their old names.
    static constexpr int kMinBlockSize = SettingsTable::MaxBlockSize.min;
    static constexpr int kMaxBlockSizeLimit = SettingsTable::MaxBlockSize.max;
    static constexpr int kMaxWindowSizeLimit = SettingsTable::MaxWindowSize.max;
    static constexpr int kMaxTimeOut = SettingsTable::TimeOut.max;
    static constexpr int kMinDhcpLeaseSeconds = SettingsTable::DhcpLeaseSeconds.min;
    static constexpr int kMaxDhcpLeaseSeconds = SettingsTable::DhcpLeaseSeconds.max;

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
    // A key of the table as its kind reads: a flag is on for any integer but 0; a
    // number is clamped into its limits, a port outside them gives the default; text
    // that is not set is empty (DirName: DefaultDirName()).
    bool ReadFlag(const SettingEntry& entry) { return GetProfileInt(entry.key, entry.number) != 0; }
    int ReadNumber(const SettingEntry& entry) {
        return entry.Bounded(GetProfileInt(entry.key, entry.number));
    }
    QString ReadText(const SettingEntry& entry) {
        return GetProfileString(entry.key, std::strcmp(entry.key, SettingsTable::DirName.key) == 0
                                               ? DefaultDirName()
                                               : QString());
    }
    // Typed readers, each with its default.
    QString WorkingFolder() { return ReadText(SettingsTable::DirName); }
    bool OverWrite() { return ReadFlag(SettingsTable::OverWrite); }
    bool ReadOnly() { return ReadFlag(SettingsTable::ReadOnly); }
    bool SoundOn() { return ReadFlag(SettingsTable::SoundOn); }
    // In seconds, 1-255 like the timeout option: a resend days later is no resend.
    int TimeOut() { return ReadNumber(SettingsTable::TimeOut); }
    int MaxTransfers() { return ReadNumber(SettingsTable::MaxTransfers); }
    bool Negotiate() { return ReadFlag(SettingsTable::Negotiate); }
    int MaxBlockSize() { return ReadNumber(SettingsTable::MaxBlockSize); }
    int MaxWindowSize() { return ReadNumber(SettingsTable::MaxWindowSize); }
    // 0 when not set: transfer ports are then drawn from 29001 to 65000.
    int PortFirst() { return GetProfileInt(kPortFirst, kDefaultPortFirst); }
    int PortLast() { return GetProfileInt(kPortLast, kDefaultPortLast); }
    bool ReplyFromRequestAddress() { return ReadFlag(SettingsTable::ReplyFromRequestAddress); }
    bool SinglePort() { return ReadFlag(SettingsTable::SinglePort); }
    bool IPv6() { return ReadFlag(SettingsTable::IPv6); }
    QString ListenAddress() { return ReadText(SettingsTable::ListenAddress); }
    bool ConvertNetascii() { return ReadFlag(SettingsTable::ConvertNetascii); }
    bool IgnoreCase() { return ReadFlag(SettingsTable::IgnoreCase); }
    bool DriveLetters() { return ReadFlag(SettingsTable::DriveLetters); }
    QString RemapFile() { return ReadText(SettingsTable::RemapFile); }
    bool ClientFolders() { return ReadFlag(SettingsTable::ClientFolders); }
    bool HideMissingFiles() { return ReadFlag(SettingsTable::HideMissingFiles); }
    int MaxFinishedRows() { return ReadNumber(SettingsTable::MaxFinishedRows); }
    bool ProxyDhcp() { return ReadFlag(SettingsTable::ProxyDhcp); }
    QString BootFileBios() { return ReadText(SettingsTable::BootFileBios); }
    QString BootFileUefi() { return ReadText(SettingsTable::BootFileUefi); }
    QString BootFileUefiHttp() { return ReadText(SettingsTable::BootFileUefiHttp); }
    QString BootFileIpxe() { return ReadText(SettingsTable::BootFileIpxe); }
    bool SecureBootChain() { return ReadFlag(SettingsTable::SecureBootChain); }
    QString BootFileOther() { return ReadText(SettingsTable::BootFileOther); }
    bool RaspberryPi() { return ReadFlag(SettingsTable::RaspberryPi); }
    bool Menu() { return ReadFlag(SettingsTable::Menu); }
    QString MenuDefault() { return ReadText(SettingsTable::MenuDefault); }
    int MenuSeconds() { return ReadNumber(SettingsTable::MenuSeconds); }
    bool DhcpEnabled() { return ReadFlag(SettingsTable::DhcpEnabled); }
    QString DhcpInterface() { return ReadText(SettingsTable::DhcpInterface); }
    QString DhcpPoolFirst() { return ReadText(SettingsTable::DhcpPoolFirst); }
    QString DhcpPoolLast() { return ReadText(SettingsTable::DhcpPoolLast); }
    QString DhcpRouter() { return ReadText(SettingsTable::DhcpRouter); }
    QString DhcpDnsServers() { return ReadText(SettingsTable::DhcpDnsServers); }
    int DhcpLeaseSeconds() { return ReadNumber(SettingsTable::DhcpLeaseSeconds); }
    QString DhcpHostsFile() { return ReadText(SettingsTable::DhcpHostsFile); }
    bool DhcpOnlyKnownHosts() { return ReadFlag(SettingsTable::DhcpOnlyKnownHosts); }
    bool DhcpBootpDynamic() { return ReadFlag(SettingsTable::DhcpBootpDynamic); }
    bool Notifications() { return ReadFlag(SettingsTable::Notifications); }
    // A stored value outside 1..65535 gives the default.
    quint16 Port() { return quint16(ReadNumber(SettingsTable::Port)); }
    bool HttpEnabled() { return ReadFlag(SettingsTable::HttpEnabled); }
    quint16 HttpPort() { return quint16(ReadNumber(SettingsTable::HttpPort)); }
    QString HttpRedirect() { return ReadText(SettingsTable::HttpRedirect); }
    int HttpRedirectAboveBytes() { return ReadNumber(SettingsTable::HttpRedirectAboveBytes); }
    int MaxTransfersPerClient() { return ReadNumber(SettingsTable::MaxTransfersPerClient); }
    int EngineThreads() { return ReadNumber(SettingsTable::EngineThreads); }
    // The Security values.
    AccessRules LoadAccessRules();
    void SaveAccessRules(const AccessRules& rules);
    // Why a folder cannot serve as the working folder (empty, relative, missing, not a
    // folder), as a short phrase; empty when it can. Nothing is served from such a folder.
    static QString WorkingFolderProblem(const QString& dir);
    // Creates the default working directory when it is the one in use and missing.
    // A folder the user chose is never created.
    void EnsureDefaultDirExists();

    // The integer settings of the table that are set to no integer or out of their
    // range, each as "TimeOut=abc not understood, using 20"; empty when all are fine.
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
