#include "engine/boot/BootMenuFile.h"

#include "engine/server/ServiceContext.h"

#include <QFile>

namespace {
bool sameOptions(const BootMenu::Options& a, const BootMenu::Options& b) {
    return a.server == b.server && a.httpPort == b.httpPort && a.defaultEntry == b.defaultEntry &&
           a.seconds == b.seconds;
}
} // namespace

CBootMenuFile::CBootMenuFile(ServiceContext& context) : m_context(context) {
    m_timer = m_context.registerTimer([this] { Look(); });
}

CBootMenuFile::~CBootMenuFile() { m_context.unregisterTimer(m_timer); }

void CBootMenuFile::Start(const QHostAddress& server) {
    m_running = true;
    m_server = server.toString();
    Look();
}

void CBootMenuFile::Stop() {
    m_running = false;
    m_context.platform().timers().stop(m_timer);
}

BootMenu::Options CBootMenuFile::CurrentOptions() const {
    const EngineSettings& s = m_context.settings();
    return {m_server, quint16(s.httpEnabled ? s.httpPort : 0), s.menuDefault, s.menuSeconds};
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
        for (const QByteArray& name : std::as_const(names)) {
            // Files only: a folder named "linux-tools" is no kernel.
            if (!fs.existsBeneath(s.workingFolder, name + "/x", true))
                m_files.append(QFile::decodeName(name));
        }
        const QByteArray script = BootMenu::Generate(m_files, options);
        const bool there = m_files.contains(QLatin1String(BootMenu::kGeneratedName));
        QString why;
        if (!script.isEmpty() && (script != m_written || !there || !sameOptions(options, m_options))) {
            if (Write(script, &why)) {
                m_written = script;
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
        m_options = options;
    }
    m_context.platform().timers().start(m_timer, kLookMs);
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
