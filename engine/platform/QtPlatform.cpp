#include "engine/platform/FolderFiles.h"
#include "engine/platform/Platform.h"

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
#include <utility>
#if defined(Q_OS_LINUX)
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// The platform's after-dispatch hook, run once the current signal is over: Qt must not
// have a socket destroyed inside its own readyRead.
class AfterDispatch {
public:
    explicit AfterDispatch(std::function<void()> run) : m_run(std::move(run)) {}
    void post() {
        if (std::exchange(m_posted, true))
            return;
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_posted = false;
                m_run();
            },
            Qt::QueuedConnection);
    }

private:
    std::function<void()> m_run;
    QObject m_context;
    bool m_posted = false;
};

class QtDatagramSocket final : public IDatagramSocket {
public:
    QtDatagramSocket(const SocketOptions& options, AfterDispatch* after)
        : m_bWantTo(options.wantLocalAddress), m_receiveBuffer(options.receiveBuffer) {
        // A TFTP socket never goes through a proxy; without this, every bind asks the
        // system's proxy configuration (a libproxy thread round trip per transfer).
        m_socket.setProxy(QNetworkProxy::NoProxy);
        // readyRead announces one datagram at least, and Qt arms it again with every
        // read, so a datagram still waiting brings another: one read per signal, not a
        // peek per datagram. A batch here would cost a system call more, not less.
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this, after] {
            receiveOne();
            after->post();
        });
    }

    bool bind(const QHostAddress& address, quint16 port, QString* error,
              const QString* device = nullptr) {
        if (device)
            return bindShared(address, port, *device, error);
        if (m_socket.bind(address, port, QAbstractSocket::DontShareAddress)) {
            if (m_receiveBuffer > 0)
                m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                         m_receiveBuffer);
            return true;
        }
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

    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override {
        return m_socket.writeDatagram(data, size, to, toPort);
    }

    quint16 localPort() const override { return m_socket.localPort(); }
    void close() override { m_socket.close(); }

private:
    void receiveOne() {
        if (m_bWantTo) {
            // Qt asks the kernel for the destination (IP_PKTINFO) only this way.
            const QNetworkDatagram d = m_socket.receiveDatagram();
            if (d.isValid() && onDatagram)
                onDatagram(d.data().constData(), d.data().size(), d.senderAddress(),
                           quint16(d.senderPort()), d.destinationAddress());
            return;
        }
        // A buffer big enough for any datagram: the handler cuts it, nothing is lost.
        static std::array<char, 65536> whole;
        const qint64 n =
            m_socket.readDatagram(whole.data(), qint64(whole.size()), &m_from, &m_fromPort);
        if (n >= 0 && onDatagram)
            onDatagram(whole.data(), n, m_from, m_fromPort, m_noAddress);
    }

    QUdpSocket m_socket;
    bool m_bWantTo;
    int m_receiveBuffer;
    QHostAddress m_from;
    quint16 m_fromPort = 0;
    const QHostAddress m_noAddress;
};

class QtTimerHost final : public ITimerHost {
public:
    explicit QtTimerHost(AfterDispatch* after) : m_after(after) {}
    ~QtTimerHost() override { qDeleteAll(m_timers); }

    void start(int id, int milliseconds) override {
        QTimer*& timer = m_timers[id];
        if (!timer) {
            timer = new QTimer;
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, [this, id] {
                if (onTimeout)
                    onTimeout(id);
                m_after->post();
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
    AfterDispatch* m_after;
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
                                             const SocketOptions& options,
                                             QString* error) override {
        // Qt's sockets have no SO_REUSEPORT: the host runs one engine thread here.
        if (options.reusePort) {
            if (error)
                *error = QStringLiteral("Port sharing is not available on this platform");
            return nullptr;
        }
        auto socket = std::make_unique<QtDatagramSocket>(options, &m_after);
        if (!socket->bind(address, port, error))
            return nullptr;
        return socket;
    }
    std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address, quint16 port,
                                                      const QString& device,
                                                      QString* error) override {
        auto socket = std::make_unique<QtDatagramSocket>(SocketOptions{}, &m_after);
        if (!socket->bind(address, port, error, &device))
            return nullptr;
        return socket;
    }
    ITimerHost& timers() override { return m_timers; }
    IFileSystem& files() override { return m_files; }
    // No event source everywhere: the interfaces are looked at every few seconds.
    bool watchInterfaces() override {
        if (m_interfacePoll)
            return true;
        m_interfaces = interfaces();
        m_interfacePoll = std::make_unique<QTimer>();
        QObject::connect(m_interfacePoll.get(), &QTimer::timeout, [this] {
            QList<NetInterface> now = interfaces();
            const QList<InterfaceEvent> changes = InterfaceChanges(m_interfaces, now);
            m_interfaces = std::move(now);
            for (const InterfaceEvent& e : changes)
                if (onInterfaceEvent)
                    onInterfaceEvent(e);
            if (!changes.isEmpty())
                m_after.post();
        });
        m_interfacePoll->start(kInterfacePollMs);
        return true;
    }

private:
    static constexpr int kInterfacePollMs = 3000;
    std::unique_ptr<QTimer> m_interfacePoll;
    QList<NetInterface> m_interfaces;
    AfterDispatch m_after{[this] { runAfterDispatch(); }};
    QtTimerHost m_timers{&m_after};
    CFolderFileSystem m_files;
};

} // namespace

std::unique_ptr<IPlatform> CreateQtPlatform() { return std::make_unique<QtPlatform>(); }
