#include "engine/files/RequestPath.h"

#include <QFile>
#include <QList>

FolderPath CRequestPath::ComposePath(const QString& root, const QByteArray& name) {
    QByteArray relative = name;
    relative.replace('\\', '/');
    int lead = 0;
    while (lead < relative.size() && relative[lead] == '/')
        ++lead;
    return {root, relative.mid(lead)};
}

bool CRequestPath::LeavesWorkingDir(const QByteArray& name) {
    if (name.contains(':'))
        return true;
    QByteArray unified = name;
    unified.replace('\\', '/');
    const QList<QByteArray> parts = unified.split('/');
    return parts.contains(QByteArray(".."));
}

// An IPv6 client's address that a rule put in with \i is what its own folder is named
// (as per-client folders are), not a drive: its colons are not the name's. An address
// has two colons or more, a drive or an upload's hidden name one, so no name reaches
// either this way.
QByteArray CRequestPath::WithoutOwnAddress(const QByteArray& name, const QString& address) {
    if (!address.contains(QLatin1Char(':')))
        return name;
    QByteArray checked = name;
    return checked.replace(address.toLatin1(), "_");
}

ResolvedPath CRequestPath::Resolve(const NameSettings& names, const QByteArray& sent,
                                   bool upload, const QHostAddress& client, QString* report) {
    ResolvedPath resolved;
    // Without a usable working folder nothing is served or written.
    if (m_platform.files().folderReady(names.workingFolder)) {
        resolved.path = ResolveName(names, sent, upload, client, &resolved.refuse,
                                    &resolved.askedNote, report, &resolved.file);
    } else {
        resolved.path = ComposePath(names.workingFolder, sent);
        resolved.refuse = true;
        resolved.missingFolder = names.workingFolder.isEmpty() ? QStringLiteral("(none set)")
                                                               : names.workingFolder;
    }
    return resolved;
}

// Rewrite rules come first (on the name as sent), then a drive letter is dropped; the
// client's own folder is looked in before the working folder, each with the exact name
// first and then ignoring letter case. What is found is always beneath the folder: ".."
// is refused and every lookup is made beneath it. A name found another way than as sent
// leaves a note of what was asked.
FolderPath CRequestPath::ResolveName(const NameSettings& s, const QByteArray& sent, bool upload,
                                     const QHostAddress& client, bool* refuse, QString* note,
                                     QString* report, std::unique_ptr<IFile>* opened) {
    const QString address = client.toString();
    *report = m_nameRules.Refresh(s.remapFile, m_platform.timers().elapsedMs());
    QByteArray name = m_nameRules.Apply(sent, address);
    name.replace('\\', '/');
    if (s.driveLetters && name.size() >= 2 && name[1] == ':' &&
        QChar::isLetter(uchar(name[0])) && uchar(name[0]) < 0x80)
        name.remove(0, 2);
    FolderPath path = ComposePath(s.workingFolder, name);
    *refuse = LeavesWorkingDir(WithoutOwnAddress(path.name, address));
    if (*refuse)
        return path;
    IFileSystem& fs = m_platform.files();
    QList<QByteArray> candidates;
    if (s.clientFolders)
        candidates.append(address.toLatin1() + '/' + path.name);
    candidates.append(path.name);
    // An upload replaces a file that exists in another case rather than add a second
    // spelling beside it; a new file keeps the name as asked.
    // A download opens the name as its look-up: found, it is the file served. Only a name
    // that is not there goes on to the index; one there but not to be read (a folder, a
    // FIFO, no permission) is looked at as before, and its open later says why.
    const auto there = [&](const QByteArray& candidate) {
        if (!upload) {
            FileError error;
            *opened = fs.openRead({path.root, candidate}, &error);
            if (*opened)
                return true;
            if (error.cause == FileCause::FileNotFound)
                return false;
        }
        return fs.existsBeneath(path.root, candidate, false);
    };
    const auto find = [&](const QByteArray& candidate) -> QByteArray {
        if (there(candidate))
            return candidate;
        if (s.ignoreCase)
            return m_folderIndex.Match(path.root, candidate, upload);
        return upload && fs.existsBeneath(path.root, candidate, true) ? candidate : QByteArray();
    };
    for (const QByteArray& candidate : std::as_const(candidates)) {
        const QByteArray match = find(candidate);
        if (!match.isEmpty()) {
            path.name = match;
            break;
        }
    }
    if (path.name != ComposePath(s.workingFolder, sent).name)
        *note = QStringLiteral(" (asked %1)").arg(QFile::decodeName(sent));
    return path;
}

bool CRequestPath::BootFileThere(const QString& workingFolder, const QByteArray& name) {
    IFileSystem& fs = m_platform.files();
    return fs.folderReady(workingFolder) && !name.split('/').contains("..") &&
           fs.existsBeneath(workingFolder, name, false);
}

qint64 CRequestPath::BootFileSize(const QString& workingFolder, const QByteArray& name) {
    if (!BootFileThere(workingFolder, name))
        return -1;
    FileError error;
    const std::unique_ptr<IFile> file = m_platform.files().openRead({workingFolder, name}, &error);
    if (!file)
        return -1;
    const qint64 size = file->size();
    file->close();
    return size;
}

// Opened first, so the sharing key comes from the open file (one resolution of the name,
// not two). A name that is not there yet may still be a new file being received.
std::unique_ptr<IFile> CRequestPath::OpenSharedForReading(const FolderPath& path,
                                                          FileError* error, QString* key,
                                                          std::unique_ptr<IFile> opened) {
    IFileSystem& fs = m_platform.files();
    std::unique_ptr<IFile> file = opened ? std::move(opened) : fs.openRead(path, error);
    if (!file) {
        if (error->cause == FileCause::FileNotFound && m_shares.IsHeld(fs.canonical(path)))
            *error = {FileCause::Other, QString()};
        return nullptr;
    }
    *key = file->shareKey();
    if (key->isEmpty())
        *key = fs.canonical(path);
    if (!m_shares.TryAcquire(*key, CFileShareTable::Use::Read)) {
        *error = {FileCause::Other, QString()};
        return nullptr;
    }
    return file;
}
