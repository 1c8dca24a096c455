#include "Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QNetworkProxy>
#include <QRandomGenerator>
#include <QTimer>
#include <QUdpSocket>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

FileError FileErrorFromErrno(int err) {
    FileError e;
    switch (err) {
    case 0: e.cause = FileCause::Other; break;
    case ENOENT: e.cause = FileCause::FileNotFound; break;
    case ENOTDIR:
    case ENAMETOOLONG: e.cause = FileCause::BadPath; break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: e.cause = FileCause::AccessDenied; break;
    case EIO: e.cause = FileCause::HardIO; break;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        e.cause = FileCause::DiskFull;
        break;
    default: e.cause = FileCause::Other; break;
    }
    e.text = err ? QString::fromLocal8Bit(std::strerror(err)) : QStringLiteral("Unknown error");
    return e;
}

namespace {

class QtDatagramSocket final : public IDatagramSocket {
public:
    QtDatagramSocket() {
        // A TFTP socket never goes through a proxy; without this, every bind asks the
        // system's proxy configuration (a libproxy thread round trip per transfer).
        m_socket.setProxy(QNetworkProxy::NoProxy);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            m_bAnnounced = true;
            if (onReadyRead)
                onReadyRead();
        });
    }

    bool bind(const QHostAddress& address, quint16 port, QString* error) {
        if (m_socket.bind(address, port, QAbstractSocket::DontShareAddress))
            return true;
        if (error)
            *error = m_socket.errorString();
        return false;
    }

    // readyRead announces one datagram at least. Qt arms the notification again with
    // every read, so a datagram still waiting after it brings another readyRead; asking
    // the kernel here (a peek per datagram) would only cost a system call per block.
    bool hasPendingDatagrams() override { return m_bAnnounced; }

    qint64 readDatagram(char* data, qint64 maxSize, QHostAddress* from,
                        quint16* fromPort) override {
        // Read the whole datagram into a buffer big enough for any, then cut it:
        // a datagram longer than the caller's buffer is shortened, never lost.
        static std::array<char, 65536> whole;
        m_bAnnounced = false;
        const qint64 n = m_socket.readDatagram(whole.data(), qint64(whole.size()), from, fromPort);
        if (n < 0)
            return -1;
        const qint64 kept = std::min(n, maxSize);
        std::memcpy(data, whole.data(), size_t(kept));
        return kept;
    }

    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override {
        return m_socket.writeDatagram(data, size, to, toPort);
    }

    quint16 localPort() const override { return m_socket.localPort(); }
    void close() override {
        m_bAnnounced = false;
        m_socket.close();
    }

private:
    QUdpSocket m_socket;
    bool m_bAnnounced = false;
};

class QtTimerHost final : public ITimerHost {
public:
    ~QtTimerHost() override { qDeleteAll(m_timers); }

    void start(int id, int milliseconds) override {
        QTimer*& timer = m_timers[id];
        if (!timer) {
            timer = new QTimer;
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, [this, id] {
                if (onTimeout)
                    onTimeout(id);
            });
        }
        timer->start(milliseconds);
    }

    void stop(int id) override {
        if (QTimer* timer = m_timers.value(id))
            timer->stop();
    }

    void release(int id) override {
        if (QTimer* timer = m_timers.take(id)) {
            timer->stop();
            timer->deleteLater(); // may be inside its own timeout signal
        }
    }

private:
    QHash<int, QTimer*> m_timers;
};

class QtFile final : public IFile {
public:
    explicit QtFile(const QString& path) : m_file(path) {}

    bool open(QIODevice::OpenMode mode, FileError* error) {
        errno = 0;
        if (m_file.open(mode))
            return true;
        if (error)
            *error = FileErrorFromErrno(errno);
        return false;
    }

    qint64 read(char* data, qint64 maxSize) override {
        errno = 0;
        const qint64 n = m_file.read(data, maxSize);
        if (n < 0)
            m_error = FileErrorFromErrno(errno);
        return n;
    }

    qint64 write(const char* data, qint64 size) override {
        errno = 0;
        const qint64 n = m_file.write(data, size);
        if (n != size) {
            m_error = FileErrorFromErrno(errno ? errno : EIO);
            return -1;
        }
        return n;
    }

    qint64 size() const override { return m_file.size(); }
    void close() override { m_file.close(); }
    FileError error() const override { return m_error; }
    QFile& file() { return m_file; }

private:
    QFile m_file;
    FileError m_error;
};

class QtFileSystem final : public IFileSystem {
public:
    std::unique_ptr<IFile> openRead(const QString& path, FileError* error) override {
        if (QFileInfo(path).isDir()) {
            *error = FileErrorFromErrno(EISDIR);
            return nullptr;
        }
        auto file = std::make_unique<QtFile>(path);
        // Unbuffered: a transfer reads 512 bytes per block, so QIODevice's 16 KiB read
        // buffer would only add a copy and 16 KiB of memory to every live transfer.
        if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered, error))
            return nullptr;
        return file;
    }

    std::unique_ptr<IFile> create(const QString& path, FileError* error) override {
        auto file = std::make_unique<QtFile>(path);
        // Unbuffered, so that a full disk shows at the write of the block concerned.
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered, error))
            return nullptr;
        return file;
    }

    std::unique_ptr<IFile> createTemp(const QString& besides, QString* tempPath,
                                      FileError* error) override {
        const QFileInfo target(besides);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const QString candidate =
                target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                QStringLiteral(".%1.part").arg(QRandomGenerator::global()->generate(), 8, 16,
                                               QLatin1Char('0'));
            auto file = std::make_unique<QtFile>(candidate);
            if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                           error)) {
                // The replacement keeps the permissions of the file it replaces.
                if (target.exists())
                    file->file().setPermissions(QFile::permissions(besides));
                *tempPath = candidate;
                return file;
            }
            if (error->cause != FileCause::Other)
                return nullptr; // a real failure, not a name clash
        }
        return nullptr;
    }

    FileError probeExisting(const QString& path) override {
        const QFileInfo info(path);
        if (!info.exists()) {
            FileError e = FileErrorFromErrno(ENOENT);
            if (!QFileInfo(info.absolutePath()).isDir())
                e.cause = FileCause::BadPath;
            return e;
        }
        QtFile file(path);
        FileError error;
        // Append: a plain write-only open would empty the file.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly, &error))
            return error;
        file.close();
        return {};
    }

    bool remove(const QString& path) override { return QFile::remove(path); }

    bool replace(const QString& from, const QString& to, FileError* error) override {
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) ==
            0)
            return true;
        *error = FileErrorFromErrno(errno);
        return false;
    }

    QString canonical(const QString& path) override {
        const QFileInfo info(path);
        if (info.exists())
            return info.canonicalFilePath();
        const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
        if (!dir.isEmpty())
            return dir + QLatin1Char('/') + info.fileName();
        return QDir::cleanPath(info.absoluteFilePath());
    }
};

class QtPlatform final : public IPlatform {
public:
    std::unique_ptr<IDatagramSocket> bindUdp(const QHostAddress& address, quint16 port,
                                             QString* error) override {
        auto socket = std::make_unique<QtDatagramSocket>();
        if (!socket->bind(address, port, error))
            return nullptr;
        return socket;
    }
    ITimerHost& timers() override { return m_timers; }
    IFileSystem& files() override { return m_files; }

private:
    QtTimerHost m_timers;
    QtFileSystem m_files;
};

} // namespace

std::unique_ptr<IPlatform> CreateQtPlatform() { return std::make_unique<QtPlatform>(); }
