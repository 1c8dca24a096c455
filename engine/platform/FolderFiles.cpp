#include "engine/platform/FolderFiles.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

FileError FileErrorFromErrno(int err) {
    FileError e;
    switch (err) {
    case 0:
        e.cause = FileCause::Other;
        break;
    case ENOENT:
        e.cause = FileCause::FileNotFound;
        break;
    case ENOTDIR:
    case ENAMETOOLONG:
        e.cause = FileCause::BadPath;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        e.cause = FileCause::AccessDenied;
        break;
    case EISDIR:
        e.cause = FileCause::IsFolder;
        break;
    case EXDEV: // the name leads out of the working folder
    case ELOOP: // a link that may not be followed beneath it
        e.cause = FileCause::LeadsOut;
        break;
    case EIO:
        e.cause = FileCause::HardIO;
        break;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        e.cause = FileCause::DiskFull;
        break;
    default:
        e.cause = FileCause::Other;
        break;
    }
    e.text = err ? QString::fromLocal8Bit(std::strerror(err)) : QStringLiteral("Unknown error");
    return e;
}

namespace {
std::atomic<bool> g_realPathFallback{false};

// A descriptor that closes itself.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// The name's folder part ("." when it has none) and its last part.
struct Split {
    QByteArray folder;
    QByteArray base;
};
Split split(const QByteArray& name) {
    const int slash = name.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), name};
    return {slash == 0 ? QByteArrayLiteral(".") : name.left(slash), name.mid(slash + 1)};
}
// A last part that is no file's name ("", ".", "..") would address a folder.
bool isFileName(const QByteArray& base) {
    return !base.isEmpty() && base != "." && base != "..";
}

// The working folder stays open between requests. Each request looks at its path once
// (folderReady): one stat tells whether it is still the same folder (not removed,
// renamed away, replaced or mounted over), and only a change opens it again; the lookups
// that follow use what is open. Shared, so a thread that holds it outlives a reopening.
// A watch (inotify) would save the stat but sees no mount: a disk mounted on the folder
// after the start would never be served.
struct OpenRoot {
    QString text; // as the settings name it; its encoding below is made once
    QByteArray path;
    std::shared_ptr<const Fd> fd;
    dev_t dev = 0;
    ino_t ino = 0;
};
std::mutex g_rootLock;
OpenRoot g_root;

std::shared_ptr<const Fd> openRoot(const QString& root, bool recheck) {
    if (!root.startsWith(QLatin1Char('/'))) {
        errno = EACCES;
        return nullptr;
    }
    QByteArray path;
    {
        const std::lock_guard<std::mutex> lock(g_rootLock);
        if (g_root.fd && g_root.text == root) {
            if (!recheck)
                return g_root.fd;
            path = g_root.path;
        }
    }
    if (path.isEmpty())
        path = QFile::encodeName(root);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return nullptr;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(g_rootLock);
    if (g_root.fd && g_root.path == path && g_root.dev == st.st_dev && g_root.ino == st.st_ino)
        return g_root.fd;
    auto fd = std::make_shared<const Fd>(
        ::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat opened;
    if (!fd->ok() || ::fstat(fd->get(), &opened) != 0)
        return nullptr;
    g_root = {root, path, fd, opened.st_dev, opened.st_ino};
    return fd;
}

// Where the kernel lacks openat2: the real path of the name must lie in the folder's
// real path. Unlike openat2 this can race with a link swapped in between.
int openByRealPath(const QString& root, const QByteArray& name, int flags) {
    char rootReal[PATH_MAX];
    char real[PATH_MAX];
    if (!::realpath(QFile::encodeName(root).constData(), rootReal))
        return -1;
    const QByteArray full = QByteArray(rootReal) + '/' + name;
    if (!::realpath(full.constData(), real))
        return -1;
    const QByteArray top(rootReal);
    const QByteArray got(real);
    const bool inside = got == top || top == "/" || got.startsWith(top + '/');
    if (!inside) {
        errno = EXDEV;
        return -1;
    }
    return ::open(real, flags | O_CLOEXEC);
}

// Opens `name` below the folder without ever leaving it: a symbolic link or ".." that
// would lead out fails with EXDEV. Links that stay inside are followed.
int openBeneath(int rootFd, const QString& root, const QByteArray& name, int flags) {
#if defined(SYS_openat2) && defined(RESOLVE_BENEATH)
    if (!g_realPathFallback) {
        open_how how{};
        how.flags = quint64(flags | O_CLOEXEC);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        const int fd = int(::syscall(SYS_openat2, rootFd, name.constData(), &how, sizeof how));
        if (fd >= 0 || errno != ENOSYS)
            return fd;
    }
#else
    Q_UNUSED(rootFd);
#endif
    return openByRealPath(root, name, flags);
}

// `name` opened beneath the working folder of `path`.
int openInFolder(const FolderPath& path, const QByteArray& name, int flags) {
    const std::shared_ptr<const Fd> root = openRoot(path.root, false);
    return root ? openBeneath(root->get(), path.root, name, flags) : -1;
}

// The folder that holds `path`, opened beneath the working folder.
int openFolderOf(const FolderPath& path, Split* parts) {
    *parts = split(path.name);
    if (!isFileName(parts->base)) {
        errno = EISDIR;
        return -1;
    }
    return openInFolder(path, parts->folder, O_PATH | O_DIRECTORY);
}

// A missing folder on the way is a bad path, not a missing file.
FileError folderError(int err) {
    FileError e = FileErrorFromErrno(err);
    if (e.cause == FileCause::FileNotFound)
        e.cause = FileCause::BadPath;
    return e;
}

// An existing file's key in the sharing table: its device and inode.
QString inodeKey(const struct stat& st) {
    // Made in one buffer: every download makes one.
    char text[2 * 20 + 2];
    char* end = std::to_chars(text, text + 20, quint64(st.st_dev)).ptr;
    *end++ = ':';
    end = std::to_chars(end, end + 20, quint64(st.st_ino)).ptr;
    return QString::fromLatin1(text, end - text);
}

class PosixFile : public IFile {
public:
    explicit PosixFile(int fd) : m_fd(fd) {}
    // A file opened for reading, with what its fstat at the opening told.
    PosixFile(int fd, const struct stat& st)
        : m_fd(fd), m_openedSize(qint64(st.st_size)), m_key(inodeKey(st)) {}
    ~PosixFile() override { close(); }

    qint64 read(char* data, qint64 maxSize) override {
        qint64 n;
        do
            n = ::read(m_fd, data, size_t(maxSize));
        while (n < 0 && errno == EINTR);
        if (n < 0)
            m_error = FileErrorFromErrno(errno);
        return n;
    }

    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override {
        qint64 n;
        do
            n = ::pread(m_fd, data, size_t(maxSize), off_t(offset));
        while (n < 0 && errno == EINTR);
        if (n < 0)
            m_error = FileErrorFromErrno(errno);
        return n;
    }

    qint64 write(const char* data, qint64 size) override {
        qint64 done = 0;
        while (done < size) {
            const qint64 n = ::write(m_fd, data + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_error = FileErrorFromErrno(n < 0 ? errno : ENOSPC);
                return -1;
            }
            done += n;
        }
        return done;
    }

    qint64 size() const override {
        if (m_openedSize >= 0) // served as it was when opened: no second fstat
            return m_openedSize;
        struct stat st;
        return ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : 0;
    }
    void close() override {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    FileError error() const override { return m_error; }
    int descriptor() const override { return m_fd; }
    // A file opened for reading (its size taken at the open) has nothing to do at its
    // close; a reception (TempFile) has, and keeps its descriptor.
    int releaseDescriptor() override {
        return m_openedSize >= 0 ? std::exchange(m_fd, -1) : -1;
    }
    int duplicateDescriptor(qint64* modified) const override {
        const int fd = m_fd >= 0 ? ::dup(m_fd) : -1;
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            return -1;
        }
        *modified = qint64(st.st_mtime);
        return fd;
    }
    QString shareKey() const override { return m_key; }

private:
    int m_fd;
    qint64 m_openedSize = -1;
    QString m_key;
    FileError m_error;
};
} // namespace

void CFolderFileSystem::ForceRealPathFallback(bool on) {
    g_realPathFallback = on;
}

std::unique_ptr<IFile> CFolderFileSystem::openRead(const FolderPath& path, FileError* error) {
    // Non-blocking: opening a FIFO must not wait for a writer. Only regular files are
    // served; a FIFO or a device would block the server or stream for ever.
    Fd fd(openInFolder(path, path.name, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
        *error = FileErrorFromErrno(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = FileErrorFromErrno(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd.release(), st);
}

namespace {
bool isHex(const QByteArray& text) {
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return !text.isEmpty();
}

// A temporary name for `base`: the ':' in it is refused in every request's name, so
// no client can read, write or guess its way into a reception in progress.
QByteArray uploadName(const QByteArray& base) {
    const quint64 r = QRandomGenerator::global()->generate64();
    return '.' + base + ':' + QByteArray::number(r, 16).rightJustified(16, '0') + ".part";
}

// A reception: an O_TMPFILE file with no name while it runs (a crash leaves nothing),
// or, where the file system has no such files, one under a name of uploadName's form.
class TempFile final : public PosixFile {
public:
    TempFile(int fd, int folder, QByteArray base, QByteArray hiddenName)
        : PosixFile(fd), m_fd(fd), m_folder(folder), m_base(std::move(base)),
          m_hidden(std::move(hiddenName)) {}
    ~TempFile() override { close(); }

    bool keep(FileError* error) override {
        if (m_fd < 0 || m_kept) {
            *error = FileErrorFromErrno(EBADF);
            return false;
        }
        if (m_hidden.isEmpty() && !linkAnonymous(error))
            return false;
        // A link in the place of the target is replaced itself, never what it leads to.
        if (::renameat(m_folder.get(), m_hidden.constData(), m_folder.get(),
                       m_base.constData()) != 0) {
            *error = FileErrorFromErrno(errno);
            return false;
        }
        m_kept = true;
        m_hidden.clear();
        return true;
    }

    void close() override {
        PosixFile::close();
        m_fd = -1;
        if (!m_kept && !m_hidden.isEmpty() && m_folder.ok())
            ::unlinkat(m_folder.get(), m_hidden.constData(), 0);
        m_hidden.clear();
    }

private:
    // Gives the anonymous file a hidden name first: linkat never replaces, and the
    // rename after it puts the file in place in one step whether or not one was there.
    bool linkAnonymous(FileError* error) {
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QByteArray name = uploadName(m_base);
            int rc = ::linkat(m_fd, "", m_folder.get(), name.constData(), AT_EMPTY_PATH);
            if (rc != 0 && (errno == ENOENT || errno == EPERM)) {
                // AT_EMPTY_PATH wants CAP_DAC_READ_SEARCH; /proc does not.
                const QByteArray proc = "/proc/self/fd/" + QByteArray::number(m_fd);
                rc = ::linkat(AT_FDCWD, proc.constData(), m_folder.get(), name.constData(),
                              AT_SYMLINK_FOLLOW);
            }
            if (rc == 0) {
                m_hidden = name;
                return true;
            }
            if (errno != EEXIST)
                break;
        }
        *error = FileErrorFromErrno(errno);
        return false;
    }

    int m_fd;
    Fd m_folder;
    QByteArray m_base;
    QByteArray m_hidden;
    bool m_kept = false;
};
} // namespace

std::unique_ptr<IFile> CFolderFileSystem::createTemp(const FolderPath& besides, FileError* error) {
    Split parts;
    Fd folder(openFolderOf(besides, &parts));
    if (!folder.ok()) {
        *error = folderError(errno);
        return nullptr;
    }
    struct stat old;
    const bool replacing =
        ::fstatat(folder.get(), parts.base.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode);
    const auto made = [&](int fd, const QByteArray& hidden) -> std::unique_ptr<IFile> {
        if (replacing) // the replacement keeps the permissions of the file it replaces
            ::fchmod(fd, old.st_mode & 07777);
        return std::make_unique<TempFile>(fd, folder.release(), parts.base, hidden);
    };
#ifdef O_TMPFILE
    // "." of the folder already opened beneath the working folder: nothing to resolve.
    const int anonymous = ::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (anonymous >= 0)
        return made(anonymous, QByteArray());
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        *error = FileErrorFromErrno(errno);
        return nullptr;
    }
#endif
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QByteArray name = uploadName(parts.base);
        // O_EXCL: never follows a link, never opens what is already there.
        const int fd =
            ::openat(folder.get(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *error = FileErrorFromErrno(errno);
            return nullptr;
        }
        return made(fd, name);
    }
    *error = FileErrorFromErrno(EEXIST);
    return nullptr;
}

bool CFolderFileSystem::IsUploadName(const QByteArray& base) {
    if (!base.startsWith('.') || !base.endsWith(".part"))
        return false;
    const QByteArray middle = base.mid(1, base.size() - 6);
    const int colon = middle.lastIndexOf(':');
    if (colon > 0)
        return middle.size() - colon - 1 == 16 && isHex(middle.mid(colon + 1));
    // The form of earlier versions: ".NAME.<up to 8 hex digits>.part".
    const int dot = middle.lastIndexOf('.');
    const QByteArray digits = middle.mid(dot + 1);
    return dot > 0 && digits.size() <= 8 && isHex(digits);
}

QStringList CFolderFileSystem::RemoveUnfinishedUploads(const QString& root) {
    QStringList removed;
    const QDir top(root);
    if (root.isEmpty() || !top.exists())
        return removed;
    // The folder and its first-level subfolders, a bounded number of each.
    QStringList folders{QString()};
    const QStringList subs = top.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden |
                                           QDir::NoSymLinks, QDir::Name);
    for (int i = 0; i < subs.size() && i < 1000; ++i)
        folders.append(subs[i] + QLatin1Char('/'));
    for (const QString& folder : folders) {
        QDir dir(top.filePath(folder));
        const QStringList names = dir.entryList({QStringLiteral(".*.part")},
                                                QDir::Files | QDir::Hidden | QDir::System,
                                                QDir::Name);
        for (int i = 0; i < names.size() && i < 10000; ++i) {
            if (IsUploadName(QFile::encodeName(names[i])) && dir.remove(names[i]))
                removed.append(folder + names[i]);
        }
    }
    return removed;
}

FileError CFolderFileSystem::probeExisting(const FolderPath& path) {
    Split parts;
    const Fd folder(openFolderOf(path, &parts));
    if (!folder.ok())
        return folderError(errno);
    struct stat st;
    if (::fstatat(folder.get(), parts.base.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FileErrorFromErrno(errno);
    if (S_ISLNK(st.st_mode)) {
        // A link counts by what it leads to, and only when that is inside the folder;
        // one that leads nowhere is not replaced either.
        const Fd target(openInFolder(path, path.name, O_PATH));
        if (!target.ok() || ::fstat(target.get(), &st) != 0)
            return FileErrorFromErrno(errno == ENOENT ? EACCES : errno);
    }
    if (!S_ISREG(st.st_mode))
        return FileErrorFromErrno(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
    if (::faccessat(folder.get(), parts.base.constData(), W_OK, AT_EACCESS) != 0)
        return FileErrorFromErrno(errno);
    return {};
}

bool CFolderFileSystem::remove(const FolderPath& path) {
    Split parts;
    const Fd folder(openFolderOf(path, &parts));
    return folder.ok() && ::unlinkat(folder.get(), parts.base.constData(), 0) == 0;
}

// An existing file is known by its device and inode, a new one by its folder's and
// its name's bytes.
QString CFolderFileSystem::canonical(const FolderPath& path) {
    struct stat st;
    const Fd file(openInFolder(path, path.name, O_PATH));
    if (file.ok() && ::fstat(file.get(), &st) == 0)
        return inodeKey(st);
    Split parts;
    const Fd folder(openFolderOf(path, &parts));
    if (folder.ok() && ::fstat(folder.get(), &st) == 0) {
        // A link to a missing name beside it is that name: the file written there
        // is the one the link will reach.
        char to[NAME_MAX + 1];
        const ssize_t n = ::readlinkat(folder.get(), parts.base.constData(), to, sizeof to);
        const QByteArray target = n > 0 && n <= NAME_MAX ? QByteArray(to, n) : QByteArray();
        const bool beside = isFileName(target) && !target.contains('/');
        return QStringLiteral("%1:%2/").arg(st.st_dev).arg(st.st_ino) +
               QString::fromLatin1(beside ? target : parts.base);
    }
    return path.root + QLatin1Char('/') + QString::fromLatin1(path.name);
}

bool CFolderFileSystem::folderReady(const QString& root) {
    return openRoot(root, true) != nullptr;
}

qint64 CFolderFileSystem::freeSpace(const FolderPath& path) {
    Split parts;
    const Fd folder(openFolderOf(path, &parts));
    struct statvfs st;
    if (!folder.ok() || ::fstatvfs(folder.get(), &st) != 0)
        return -1;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

bool CFolderFileSystem::lookAtFolder(const FolderPath& path, FolderStamp* stamp,
                                     QList<QByteArray>* names) {
    // Stamped before reading: an entry added during the read changes the time again.
    const int fd = openInFolder(path, path.name.isEmpty() ? QByteArrayLiteral(".") : path.name,
                                (names ? O_RDONLY : O_PATH) | O_DIRECTORY);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    const qint64 seen = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    // Two seconds cover the coarsest time stamps (FAT's) and a clock a little behind.
    *stamp = {quint64(st.st_dev), quint64(st.st_ino), modified,
              seen - modified > 2000000000LL};
    if (!names) {
        ::close(fd);
        return true;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    names->clear();
    // Bounded by the folder's size; readdir never waits.
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (isFileName(name))
            names->append(name);
    }
    ::closedir(dir);
    return true;
}

bool ExistsBeneath(const QString& root, const QByteArray& name, bool folderOnly) {
    const FolderPath path{root, name};
    if (!folderOnly) {
        const Fd file(openInFolder(path, name, O_PATH));
        return file.ok();
    }
    Split parts;
    const Fd folder(openFolderOf(path, &parts));
    return folder.ok();
}

bool CFolderFileSystem::existsBeneath(const QString& root, const QByteArray& name,
                                      bool folderOnly) {
    return ExistsBeneath(root, name, folderOnly);
}

