#include "engine/boot/BootMenuFile.h"

#include "engine/server/ServiceContext.h"

#include "engine/files/RequestPath.h"

#include <QFile>
#include <algorithm>

namespace {
bool sameOptions(const BootMenu::Options& a, const BootMenu::Options& b) {
    return a.server == b.server && a.httpPort == b.httpPort && a.defaultEntry == b.defaultEntry &&
           a.seconds == b.seconds && a.redirect == b.redirect;
}
} // namespace

CBootMenuFile::CBootMenuFile(ServiceContext& context) : m_context(context) {
    m_timer = m_context.registerTimer([this] { Look(); });
}

CBootMenuFile::~CBootMenuFile() { m_context.unregisterTimer(m_timer); }

void CBootMenuFile::Start(const QString& server) {
    m_running = true;
    m_server = server;
    Look();
}

void CBootMenuFile::Stop() {
    m_running = false;
    m_context.platform().timers().stop(m_timer);
}

BootMenu::Options CBootMenuFile::CurrentOptions() const {
    const EngineSettings& s = m_context.settings();
    return {m_server, quint16(s.httpEnabled ? s.httpPort : 0), s.menuDefault, s.menuSeconds,
            HttpRedirect::SettingsOf(s), {}};
}

void CBootMenuFile::Look() {
    const EngineSettings& s = m_context.settings();
    if (!m_running || !s.menu)
        return; // turned on again, the settings' change looks at once
    IFileSystem& fs = m_context.platform().files();
    const BootMenu::Options options = CurrentOptions();
    FolderStamp now;
    const bool folder = fs.folderReady(s.workingFolder) &&
                        fs.lookAtFolder({s.workingFolder, QByteArrayLiteral(".")}, &now, nullptr);
    // An unchanged folder (by a stamp taken well after its last change) and the same
    // options: the menu written is still the one (or its write failed, said once).
    const bool unchanged = folder && m_listedRoot == s.workingFolder && m_stamp.sameAs(now) &&
                           m_stamp.settled && sameOptions(options, m_options);
    if (folder && !unchanged) {
        QList<QByteArray> names;
        fs.lookAtFolder({s.workingFolder, QByteArrayLiteral(".")}, &m_stamp, &names);
        m_listedRoot = s.workingFolder;
        m_files.clear();
        m_sizes.clear();
        for (const QByteArray& name : std::as_const(names)) {
            // Only what a client could fetch, by the rule TFTP and HTTP read by: a
            // folder, a FIFO or a link out of the folder is no entry ("linux-tools/" is
            // no kernel), and no name that would be more than a name in the script.
            const qint64 size = FetchableSize(name);
            if (size >= 0 && BootMenu::SafeName(name)) {
                m_files.append(QString::fromUtf8(name));
                m_sizes.insert(m_files.last(), size);
            }
        }
        // Windows PE sits in folders of its own (or the working folder), looked into
        // only while wimboot is there to load it.
        if (m_files.contains(QLatin1String(BootMenu::kWimboot), Qt::CaseInsensitive)) {
            ListWinPe({}, names);
            for (const QByteArray& name : std::as_const(names)) {
                QList<QByteArray> inside;
                FolderStamp stamp;
                if (BootMenu::SafeName(name) && !CRequestPath::LeavesWorkingDir(name) &&
                    fs.lookAtFolder({s.workingFolder, name}, &stamp, &inside))
                    ListWinPe(name + '/', inside);
            }
        }
        // Each ISO's table of contents tells whether it boots as a live system; read
        // once per image (the catalogs are cached by file and time), only over HTTP.
        m_live.clear();
        for (const QString& file : std::as_const(m_files)) {
            if (options.httpPort == 0 || !file.endsWith(QLatin1String(".iso"), Qt::CaseInsensitive))
                continue;
            const IsoCatalog* catalog =
                m_context.paths().ImageCatalog({s.workingFolder, file.toUtf8()});
            if (!catalog)
                continue;
            QStringList members;
            for (auto it = catalog->members.cbegin(); it != catalog->members.cend(); ++it)
                if (it.value().servable)
                    members.append(QString::fromUtf8(it.key()));
            const LiveIso::LiveBoot live = LiveIso::Recognise(members);
            if (live.layout != LiveIso::Layout::None)
                m_live.insert(file, live);
        }
        m_options = options;
    }
    // The file on disk, not what was last written, is what clients get: a copy put
    // over it (by hand, or by an upload before the guard) is put back.
    if (folder) {
        BootMenu::Options withSizes = options;
        withSizes.sizes = m_sizes;
        withSizes.live = m_live;
        const QByteArray script = BootMenu::Generate(m_files, withSizes);
        QString why;
        if (!script.isEmpty() && script != OnDisk()) {
            if (Write(script, &why)) {
                m_failure.clear();
            } else if (why != m_failure) {
                m_failure = why;
                RowTexts texts;
                texts.file = QLatin1String(BootMenu::kGeneratedName);
                texts.service = QStringLiteral("Boot menu");
                texts.info = QStringLiteral("Boot menu not written: ") + why;
                m_context.rows().UpdateRow(m_context.addRow(texts), texts, ROW_FAILED);
            }
        }
    }
    m_context.platform().timers().start(m_timer, kLookMs);
}

void CBootMenuFile::ListWinPe(const QByteArray& folder, const QList<QByteArray>& names) {
    const auto spelt = [](const QList<QByteArray>& in, const QByteArray& name) {
        for (const QByteArray& n : in)
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return n;
        return QByteArray();
    };
    QList<QByteArray> found;
    QByteArray bootmgr = spelt(names, "bootmgr");
    if (bootmgr.isEmpty())
        bootmgr = spelt(names, "bootmgr.exe");
    if (bootmgr.isEmpty())
        return;
    found.append(folder + bootmgr);
    IFileSystem& fs = m_context.platform().files();
    const QString& root = m_context.settings().workingFolder;
    for (const QString& part : BootMenu::WinPeParts()) {
        const QByteArray sub = part.section(QLatin1Char('/'), 0, 0).toUtf8();
        const QByteArray subName = spelt(names, sub);
        QList<QByteArray> inside;
        FolderStamp stamp;
        if (subName.isEmpty() || !fs.lookAtFolder({root, folder + subName}, &stamp, &inside))
            return;
        const QByteArray file = spelt(inside, part.section(QLatin1Char('/'), 1).toUtf8());
        if (file.isEmpty())
            return;
        found.append(folder + subName + '/' + file);
    }
    QList<qint64> sizes;
    for (const QByteArray& name : std::as_const(found)) {
        sizes.append(FetchableSize(name));
        if (sizes.last() < 0 || !BootMenu::SafeName(name))
            return;
    }
    for (qsizetype i = 0; i < found.size(); ++i) {
        m_files.append(QString::fromUtf8(found[i]));
        m_sizes.insert(m_files.last(), sizes[i]);
    }
}

qint64 CBootMenuFile::FetchableSize(const QByteArray& name) {
    const FolderPath path{m_context.settings().workingFolder, name};
    if (CRequestPath::LeavesWorkingDir(name))
        return -1;
    FileError error;
    std::unique_ptr<IFile> file = m_context.platform().files().openRead(path, &error);
    if (!file)
        return -1;
    const qint64 size = file->size();
    file->close();
    return size;
}

// The written menu as it is on disk now; empty when it is not there or not a file. A
// menu is a few KiB, so a look a second reads little.
QByteArray CBootMenuFile::OnDisk() {
    const FolderPath path{m_context.settings().workingFolder, QByteArray(BootMenu::kGeneratedName)};
    FileError error;
    std::unique_ptr<IFile> file = m_context.platform().files().openRead(path, &error);
    if (!file)
        return {};
    QByteArray bytes(int(std::min<qint64>(file->size(), 1 << 20) + 1), Qt::Uninitialized);
    const qint64 got = file->read(bytes.data(), bytes.size());
    file->close();
    return got < 0 ? QByteArray() : bytes.left(int(got));
}

// Through a temporary file put in place in one step: a client never reads half a menu.
bool CBootMenuFile::Write(const QByteArray& script, QString* why) {
    IFileSystem& fs = m_context.platform().files();
    const FolderPath path{m_context.settings().workingFolder, QByteArray(BootMenu::kGeneratedName)};
    FileError error;
    std::unique_ptr<IFile> file = fs.createTemp(path, &error);
    if (file && file->write(script.constData(), script.size()) == script.size() && file->keep(&error)) {
        file->close();
        return true;
    }
    if (file && error.cause == FileCause::None)
        error = file->error();
    *why = error.text.isEmpty() ? QStringLiteral("the folder cannot be written") : error.text;
    return false;
}
