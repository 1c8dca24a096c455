#include "FolderFiles.h"
#include "Platform.h"

#include <QElapsedTimer>
#include <QHash>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QTimer>
#include <QUdpSocket>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#if defined(Q_OS_LINUX)
#include <sys/socket.h>
#include <unistd.h>
#endif

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

    bool bind(const QHostAddress& address, quint16 port, QString* error,
              const QString* device = nullptr) {
        if (device)
            return bindShared(address, port, *device, error);
        if (m_socket.bind(address, port, QAbstractSocket::DontShareAddress))
            return true;
        if (error)
            *error = m_socket.errorString();
        return false;
    }

    // Qt allows broadcasts on UDP sockets itself; the interface is set on Linux only,
    // before the bind (the descriptor is made here so that it can be).
    bool bindShared(const QHostAddress& address, quint16 port, const QString& device,
                    QString* error) {
#if defined(Q_OS_LINUX)
        if (!device.isEmpty()) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const QByteArray name = device.toLocal8Bit();
            const int on = 1;
            if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name.constData(),
                                     socklen_t(name.size())) != 0) {
                if (error)
                    *error = QString::fromLocal8Bit(strerror(errno));
                if (fd >= 0)
                    ::close(fd);
                return false;
            }
            (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            (void)setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
            if (!m_socket.setSocketDescriptor(fd, QAbstractSocket::UnconnectedState)) {
                ::close(fd);
                if (error)
                    *error = m_socket.errorString();
                return false;
            }
        }
#else
        (void)device;
#endif
        if (m_socket.bind(address, port,
                          QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint))
            return true;
        if (error)
            *error = m_socket.errorString();
        return false;
    }

    // readyRead announces one datagram at least. Qt arms the notification again with
    // every read, so a datagram still waiting after it brings another readyRead; asking
    // the kernel here (a peek per datagram) would only cost a system call per block.
    bool hasPendingDatagrams() override { return m_bAnnounced; }

    qint64 readDatagram(char* data, qint64 maxSize, QHostAddress* from, quint16* fromPort,
                        QHostAddress* to) override {
        if (to) {
            // Qt asks the kernel for the destination (IP_PKTINFO) only this way.
            m_bAnnounced = false;
            const QNetworkDatagram d = m_socket.receiveDatagram(maxSize);
            if (!d.isValid())
                return -1;
            *from = d.senderAddress();
            *fromPort = quint16(d.senderPort());
            *to = d.destinationAddress();
            std::memcpy(data, d.data().constData(), size_t(d.data().size()));
            return d.data().size();
        }
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

    qint64 elapsedMs() override { return m_clock.elapsed(); }

private:
    QHash<int, QTimer*> m_timers;
    QElapsedTimer m_clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
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
    std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address, quint16 port,
                                                      const QString& device,
                                                      QString* error) override {
        auto socket = std::make_unique<QtDatagramSocket>();
        if (!socket->bind(address, port, error, &device))
            return nullptr;
        return socket;
    }
    ITimerHost& timers() override { return m_timers; }
    IFileSystem& files() override { return m_files; }

private:
    QtTimerHost m_timers;
    CFolderFileSystem m_files;
};

} // namespace

std::unique_ptr<IPlatform> CreateQtPlatform() { return std::make_unique<QtPlatform>(); }
