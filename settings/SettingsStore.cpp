#include "settings/SettingsStore.h"

#include "engine/config/AccessRules.h"
#include "engine/config/EngineSettings.h"

#include <climits>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <sys/stat.h>

namespace {
// Keys are in section WorkingDir unless they name a section of their own.
QString qualified(const char* key) {
    if (std::strchr(key, '/'))
        return QLatin1String(key);
    return QLatin1String(CSettingsStore::kSection) + QLatin1Char('/') + QLatin1String(key);
}

// The file's size and time stamp from one stat() call: QFileInfo costs two failing
// access() calls when the file does not exist yet and a local-time conversion of the
// stamp when it does, and the host looks every second.
struct FileStamp {
    qint64 size = -1;
    QDateTime modified;
};
FileStamp stampOf(const QString& fileName) {
    struct stat st;
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return {};
    const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return {qint64(st.st_size), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)};
}
} // namespace

CSettingsStore::CSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QStringLiteral("Zelk TFTP Server"),
                                             QStringLiteral("ZAZO_Dize"))) {
    m_fileName = m_settings->fileName();
    RefreshIfChanged();
}

CSettingsStore::CSettingsStore(const QString& iniFile)
    : CSettingsStore(iniFile, QSettings::IniFormat) {}

CSettingsStore::CSettingsStore(const QString& file, QSettings::Format format)
    : m_settings(std::make_unique<QSettings>(file, format)) {
    m_fileName = m_settings->fileName();
    RefreshIfChanged();
}

CSettingsStore::~CSettingsStore() = default;

QString CSettingsStore::FileName() const { return m_fileName; }

// QSettings::sync() parses the whole file on every call, so only sync when the
// file's size or time stamp moved.
bool CSettingsStore::ReloadIfChanged() {
    const FileStamp now = stampOf(m_fileName);
    if (now.size == m_seenSize && now.modified == m_seenModified)
        return false;
    m_settings->sync();
    // Read the stamp again: sync() may have written our own pending values.
    const FileStamp after = stampOf(m_fileName);
    m_seenSize = after.size;
    m_seenModified = after.modified;
    return true;
}

void CSettingsStore::RefreshIfChanged() {
    if (!m_bHoldRefresh)
        ReloadIfChanged();
}

// Our own write is in QSettings' copy already: take the file's new stamp as seen, so
// that the host's next look does not take it for a hand edit.
void CSettingsStore::NoteWrite() {
    m_settings->sync();
    const FileStamp after = stampOf(m_fileName);
    m_seenSize = after.size;
    m_seenModified = after.modified;
    // A copy: a listener may remove itself.
    const auto listeners = m_writeListeners;
    for (const auto& listener : listeners)
        listener.second();
}

int CSettingsStore::AddWriteListener(std::function<void()> listener) {
    m_writeListeners.emplace_back(++m_nLastListener, std::move(listener));
    return m_nLastListener;
}

void CSettingsStore::RemoveWriteListener(int id) {
    std::erase_if(m_writeListeners, [id](const auto& entry) { return entry.first == id; });
}

// One look at the file, then every reader from QSettings' copy. The list follows
// EngineSettings; a key the engine takes is added to both.
EngineSettings CSettingsStore::LoadEngineSettings() {
    RefreshIfChanged();
    m_bHoldRefresh = true;
    EngineSettings s;
    s.workingFolder = WorkingFolder();
    s.overWrite = OverWrite();
    s.readOnly = ReadOnly();
    s.timeOut = TimeOut();
    s.soundOn = SoundOn();
    s.rules = LoadAccessRules();
    s.maxTransfers = MaxTransfers();
    s.maxTransfersPerClient = MaxTransfersPerClient();
    s.engineThreads = EngineThreads();
    s.negotiate = Negotiate();
    s.maxBlockSize = MaxBlockSize();
    s.maxWindowSize = MaxWindowSize();
    s.portFirst = PortFirst();
    s.portLast = PortLast();
    s.replyFromRequestAddress = ReplyFromRequestAddress();
    s.singlePort = SinglePort();
    s.ipv6 = IPv6();
    s.listenAddress = ListenAddress();
    s.convertNetascii = ConvertNetascii();
    s.port = Port();
    s.ignoreCase = IgnoreCase();
    s.driveLetters = DriveLetters();
    s.remapFile = RemapFile();
    s.clientFolders = ClientFolders();
    s.hideMissingFiles = HideMissingFiles();
    s.proxyDhcp = ProxyDhcp();
    s.bootFileBios = BootFileBios();
    s.bootFileUefi = BootFileUefi();
    s.bootFileUefiHttp = BootFileUefiHttp();
    s.bootFileIpxe = BootFileIpxe();
    s.secureBootChain = SecureBootChain();
    s.bootFileOther = BootFileOther();
    s.raspberryPi = RaspberryPi();
    s.menu = Menu();
    s.menuDefault = MenuDefault();
    s.menuSeconds = MenuSeconds();
    s.dhcpEnabled = DhcpEnabled();
    s.dhcpInterface = DhcpInterface();
    s.dhcpPoolFirst = DhcpPoolFirst();
    s.dhcpPoolLast = DhcpPoolLast();
    s.dhcpRouter = DhcpRouter();
    s.dhcpDnsServers = DhcpDnsServers();
    s.dhcpLeaseSeconds = DhcpLeaseSeconds();
    s.dhcpHostsFile = DhcpHostsFile();
    s.dhcpOnlyKnownHosts = DhcpOnlyKnownHosts();
    s.dhcpBootpDynamic = DhcpBootpDynamic();
    s.dhcpIPv6 = ReadFlag(SettingsTable::DhcpIPv6);
    s.dhcpPool6First = ReadText(SettingsTable::DhcpPool6First);
    s.dhcpPool6Size = ReadNumber(SettingsTable::DhcpPool6Size);
    s.dhcpRouterAdvertisements = ReadFlag(SettingsTable::DhcpRouterAdvertisements);
    s.httpEnabled = HttpEnabled();
    s.httpPort = HttpPort();
    s.httpRedirect = HttpRedirect();
    s.httpRedirectAboveBytes = HttpRedirectAboveBytes();
    m_bHoldRefresh = false;
    return s;
}

int CSettingsStore::GetProfileInt(const char* key, int nDefault) {
    RefreshIfChanged();
    const QVariant v = m_settings->value(qualified(key));
    if (!v.isValid())
        return nDefault;
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok ? n : nDefault;
}

QString CSettingsStore::GetProfileString(const char* key, const QString& strDefault) {
    RefreshIfChanged();
    const QVariant v = m_settings->value(qualified(key));
    // An unquoted value with commas in a hand-written file reads as a list, whose
    // toString() is empty: the text is its parts joined again.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.isValid() ? v.toString() : strDefault;
}

void CSettingsStore::WriteProfileInt(const char* key, int nValue) {
    m_settings->setValue(qualified(key), nValue);
    NoteWrite();
}

void CSettingsStore::WriteProfileString(const char* key, const QString& strValue) {
    m_settings->setValue(qualified(key), strValue);
    NoteWrite();
}

QString CSettingsStore::DefaultDirName() { return QDir::homePath() + QStringLiteral("/tftp"); }

QString CSettingsStore::WorkingFolderProblem(const QString& dir) {
    if (dir.isEmpty())
        return QStringLiteral("no working folder is set");
    if (!QDir::isAbsolutePath(dir))
        return QStringLiteral("the working folder %1 is not an absolute path").arg(dir);
    const QFileInfo info(dir);
    if (!info.exists())
        return QStringLiteral("the working folder %1 does not exist").arg(dir);
    if (!info.isDir())
        return QStringLiteral("the working folder %1 is not a folder").arg(dir);
    return {};
}

void CSettingsStore::EnsureDefaultDirExists() {
    const QString dir = WorkingFolder();
    if (dir == DefaultDirName() && !QFileInfo::exists(dir))
        QDir().mkpath(dir);
}

QStringList CSettingsStore::SettingNotes() {
    RefreshIfChanged();
    QStringList notes;
    for (const SettingEntry* entry : SettingsTable::kAll) {
        if (!entry->IsInteger())
            continue;
        const QVariant v = m_settings->value(qualified(entry->key));
        if (!v.isValid())
            continue;
        const QString text = v.toString().trimmed();
        bool ok = false;
        const qlonglong n = text.toLongLong(&ok);
        const QString name = entry->Name();
        if (!ok || n < INT_MIN || n > INT_MAX)
            notes.append(QStringLiteral("%1=%2 not understood, using %3")
                             .arg(name, text)
                             .arg(entry->Bounded(entry->number)));
        else if (entry->kind != SettingKind::Flag && entry->Bounded(int(n)) != n)
            notes.append(QStringLiteral("%1=%2 out of range, using %3")
                             .arg(name, text)
                             .arg(entry->Bounded(int(n))));
    }
    // In the file an unquoted ';' starts a comment, so a list written with semicolons
    // keeps only its first part: said, since nothing else would show it.
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return notes;
    QString section;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString value = line.mid(eq + 1).trimmed();
        if (eq < 1 || value.startsWith(QLatin1Char('"')) || !value.contains(QLatin1Char(';')))
            continue;
        const QString key = section + QLatin1Char('/') + line.left(eq).trimmed();
        for (const SettingEntry* entry : SettingsTable::kAll) {
            if (entry->IsInteger() || key != QLatin1String(entry->key))
                continue;
            notes.append(QStringLiteral("%1=%2: what follows ';' is a comment, so only \"%3\" is "
                                        "used; separate with commas")
                             .arg(entry->Name(), value, ReadText(*entry)));
        }
    }
    return notes;
}

AccessRules CSettingsStore::LoadAccessRules() {
    AccessRules rules;
    rules.allowClient = ReadFlag(SettingsTable::AllowClient);
    for (int i = 0; i < 6; ++i)
        rules.clients[size_t(i)] = GetProfileString(kClientKeys[i], QString());
    rules.sendFile = ReadFlag(SettingsTable::SendFile);
    rules.fileEdit = ReadText(SettingsTable::FileEdit);
    return rules;
}

void CSettingsStore::SaveAccessRules(const AccessRules& rules) {
    WriteProfileInt(kAllowClient, rules.allowClient ? 1 : 0);
    for (int i = 0; i < 6; ++i)
        WriteProfileString(kClientKeys[i], rules.clients[size_t(i)]);
    WriteProfileInt(kSendFile, rules.sendFile ? 1 : 0);
    WriteProfileString(kFileEdit, rules.fileEdit);
}
