#include "engine/files/RequestPath.h"

#include <QFile>
#include <QList>
#include <algorithm>
#include <unistd.h>

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
    // A ".." between separators (either slash) or the ends; read in place, as every
    // request passes here.
    const char* p = name.constData();
    const qsizetype n = name.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && p[i] != '/' && p[i] != '\\')
            continue;
        if (i - start == 2 && p[start] == '.' && p[start + 1] == '.')
            return true;
        start = i + 1;
    }
    return false;
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
                                   bool upload, const QString& client, QString* report) {
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
                                     const QString& address, bool* refuse, QString* note,
                                     QString* report, std::unique_ptr<IFile>* opened) {
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
    bool found = false;
    for (const QByteArray& candidate : std::as_const(candidates)) {
        const QByteArray match = find(candidate);
        if (!match.isEmpty()) {
            path.name = match;
            found = true;
            break;
        }
    }
    // A name no file has may lead into an ISO image: the image is found as a file is, the
    // member's name is left as asked (the image's catalog matches it).
    for (qsizetype i = 0; !found && i < candidates.size(); ++i) {
        QByteArray image, member;
        for (qsizetype from = 0; !found && SplitImageName(candidates[i], from, &image, &member);
             from = image.size() + 1) {
            const QByteArray match = find(image);
            if (!match.isEmpty()) {
                // The look-up opened the image itself; the member is opened from it later.
                opened->reset();
                path.name = match + '/' + member;
                found = true;
            }
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

bool CRequestPath::SplitImageName(const QByteArray& name, qsizetype from, QByteArray* image,
                                  QByteArray* member) {
    for (qsizetype slash = name.indexOf('/', from); slash > 0; slash = name.indexOf('/', slash + 1)) {
        if (slash >= 4 && name.mid(slash - 4, 4).toLower() == ".iso" && slash + 1 < name.size()) {
            *image = name.left(slash);
            *member = name.mid(slash + 1);
            return true;
        }
    }
    return false;
}

namespace {
// A member of an ISO image, read where it lies in the image: reads are clamped to it,
// and HTTP sends it from the image's own descriptor at its offset.
class CImageMemberFile final : public IFile {
public:
    CImageMemberFile(std::unique_ptr<IFile> image, const IsoMember& member)
        : m_image(std::move(image)), m_member(member) {}
    qint64 read(char* data, qint64 maxSize) override {
        const qint64 n = readAt(data, maxSize, m_position);
        if (n > 0)
            m_position += n;
        return n;
    }
    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override {
        const qint64 want = std::clamp<qint64>(m_member.size - offset, 0, maxSize);
        if (want == 0)
            return 0;
        return m_image->readAt(data, want, m_member.offset + offset);
    }
    qint64 write(const char*, qint64) override { return -1; }
    qint64 size() const override { return m_member.size; }
    void close() override { m_image->close(); }
    FileError error() const override { return m_image->error(); }
    QString shareKey() const override { return m_image->shareKey(); }
    int duplicateDescriptor(qint64* modified) const override {
        return m_image->duplicateDescriptor(modified);
    }
    qint64 baseOffset() const override { return m_member.offset; }

private:
    std::unique_ptr<IFile> m_image;
    IsoMember m_member;
    qint64 m_position = 0;
};

// The member `name` of `catalog`: as written, else ignoring letter case (plain ISO 9660
// and Joliet names are often upper case where the menu's are not).
const IsoMember* FindMember(const IsoCatalog& catalog, const QByteArray& name) {
    if (const IsoMember* m = catalog.find(name))
        return m;
    const QByteArray lower = name.toLower();
    for (auto it = catalog.members.cbegin(); it != catalog.members.cend(); ++it)
        if (it.key().toLower() == lower)
            return &it.value();
    return nullptr;
}
} // namespace

bool CRequestPath::InsideImage(const FolderPath& path) {
    QByteArray image, member;
    IFileSystem& fs = m_platform.files();
    for (qsizetype from = 0; SplitImageName(path.name, from, &image, &member);
         from = image.size() + 1) {
        FileError error;
        if (const std::unique_ptr<IFile> file = fs.openRead({path.root, image}, &error)) {
            file->close();
            return true;
        }
    }
    return false;
}

const IsoCatalog* CRequestPath::ImageCatalog(const FolderPath& path) {
    FileError error;
    const std::unique_ptr<IFile> file = m_platform.files().openRead(path, &error);
    if (!file)
        return nullptr;
    qint64 modified = 0;
    const int fd = file->duplicateDescriptor(&modified);
    file->close();
    if (fd < 0)
        return nullptr;
    QString why;
    const IsoCatalog* catalog = m_images.Get(fd, &why);
    ::close(fd);
    return catalog;
}

// Opened first, so the sharing key comes from the open file (one resolution of the name,
// not two). A name that is not there yet may still be a new file being received.
std::unique_ptr<IFile> CRequestPath::OpenSharedForReading(const FolderPath& path,
                                                          FileError* error, QString* key,
                                                          std::unique_ptr<IFile> opened) {
    IFileSystem& fs = m_platform.files();
    std::unique_ptr<IFile> file = opened ? std::move(opened) : fs.openRead(path, error);
    QByteArray image, member;
    if (!file && error->cause == FileCause::BadPath && SplitImageName(path.name, 0, &image, &member))
        file = OpenImageMember(path, error);
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

// The name's first ".iso" part that is a file is the image; the rest names its member.
std::unique_ptr<IFile> CRequestPath::OpenImageMember(const FolderPath& path, FileError* error) {
    IFileSystem& fs = m_platform.files();
    QByteArray image, member;
    for (qsizetype from = 0; SplitImageName(path.name, from, &image, &member);
         from = image.size() + 1) {
        std::unique_ptr<IFile> file = fs.openRead({path.root, image}, error);
        if (!file) {
            if (error->cause == FileCause::IsFolder || error->cause == FileCause::FileNotFound ||
                error->cause == FileCause::BadPath)
                continue;
            return nullptr;
        }
        qint64 modified = 0;
        const int fd = file->duplicateDescriptor(&modified);
        QString why;
        const IsoCatalog* catalog = fd >= 0 ? m_images.Get(fd, &why) : nullptr;
        if (fd >= 0)
            ::close(fd);
        const IsoMember* found = catalog ? FindMember(*catalog, member) : nullptr;
        if (!found || !found->servable) {
            file->close();
            // An image's member that cannot be sent as it lies is refused, not guessed at.
            *error = {found ? FileCause::AccessDenied : FileCause::FileNotFound, why};
            return nullptr;
        }
        return std::make_unique<CImageMemberFile>(std::move(file), *found);
    }
    *error = {FileCause::FileNotFound, QString()};
    return nullptr;
}
