#include "engine/platform/FolderFiles.h"
#include "engine/platform/LinkEvents.h"
#include "engine/platform/LinuxSockets.h"
#include "engine/platform/Platform.h"
#include "engine/platform/TimerHeap.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

// The platform on Linux: every socket and one timerfd in one epoll set, which the Qt
// event loop watches through a single QSocketNotifier. Per block this costs the
// receive, the file read and the send, and nothing of Qt's per-socket machinery.

using namespace LinuxSockets;

namespace {

constexpr quint64 kTimerKey = ~quint64(0);
constexpr quint64 kWakeKey = ~quint64(0) - 1;
constexpr quint64 kLinkKey = ~quint64(0) - 2;
constexpr int kRecvBatch = 32;      // datagrams per recvmmsg
constexpr int kRecvSlot = 65536;    // any UDP datagram fits, so a cut is the caller's
constexpr int kSendBatch = 64;      // a window of up to 64 blocks in one sendmmsg
constexpr int kSendArena = 1 << 20; // bytes queued before a flush
constexpr int kMaxEvents = 256;

} // namespace

// ---------------------------------------------------------------- timers

// The timer heap over the one timerfd of the epoll set.
class CEpollTimerHost final : public CHeapTimerHost {
public:
    explicit CEpollTimerHost(int timerFd) : m_fd(timerFd) {}

    void drain() {
        quint64 ticks;
        while (::read(m_fd, &ticks, sizeof ticks) > 0) {
        }
    }

protected:
    void setDeadline(qint64 atNs) override {
        itimerspec when{};
        if (atNs >= 0) {
            when.it_value.tv_sec = time_t(atNs / 1000000000);
            when.it_value.tv_nsec = long(atNs % 1000000000);
            if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
                when.it_value.tv_nsec = 1; // zero would disarm it
        }
        // Fails only with a bad descriptor or value, which would leave every time-out
        // unarmed: say so once rather than hang transfers silently.
        static bool told = false;
        if (timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr) != 0 && !told) {
            told = true;
            qWarning("timerfd_settime failed: %s", std::strerror(errno));
        }
    }

private:
    int m_fd;
};

// ---------------------------------------------------------------- sockets

class CEpollSocket;

class CEpollPlatform final : public IPlatform {
public:
    CEpollPlatform();
    ~CEpollPlatform() override;

    std::unique_ptr<IDatagramSocket> bindUdp(const QHostAddress& address, quint16 port,
                                             const SocketOptions& options,
                                             QString* error) override {
        return bind(address, port, options, nullptr, error);
    }
    std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address, quint16 port,
                                                      const QString& device,
                                                      QString* error) override {
        return bind(address, port, SocketOptions{}, &device, error);
    }
    std::unique_ptr<IDatagramSocket> bindLinkUdp6(quint16 port, const QString& device,
                                                  const QHostAddress& group,
                                                  QString* error) override {
        return adopt(openLinkUdp6(port, device, group, error), SocketOptions{}, error);
    }
    std::unique_ptr<IDatagramSocket> openRouterMessages(const QString& device,
                                                        QString* error) override {
        return adopt(openRouterIcmp6(device, error), SocketOptions{}, error);
    }
    ITimerHost& timers() override { return *m_timers; }
    bool canSharePort() const override { return true; }
    IFileSystem& files() override { return m_files; }
    bool hasOwnLoop() const override { return m_wakeFd >= 0; }
    void runLoop(const std::function<void()>& onWake) override;
    void wakeLoop() override;
    void quitLoop() override { m_quit = true; }
    bool watchInterfaces() override;

    bool ok() const { return m_epoll >= 0 && m_timerFd >= 0; }
    // A broadcast socket when `device` is given (empty: any interface).
    std::unique_ptr<IDatagramSocket> bind(const QHostAddress& address, quint16 port,
                                          const SocketOptions& options, const QString* device,
                                          QString* error);
    // Wraps an open socket (fd -1: none, the error already said).
    std::unique_ptr<IDatagramSocket> adopt(const BoundUdp& bound, const SocketOptions& options,
                                           QString* error);

    // Called by the sockets.
    // Adds the socket to the epoll set; *err gets errno when that fails (0 otherwise).
    quint64 enroll(CEpollSocket* socket, int fd, int* err);
    void withdraw(quint64 key);
    qint64 send(CEpollSocket* socket, const char* data, qint64 size, const QHostAddress& to,
                quint16 toPort);
    void forget(CEpollSocket* socket);
    void flush();

private:
    void dispatch();
    void dispatchEvents(const epoll_event* events, int n);
    CEpollSocket* live(quint64 key) const;
    int receive(quint64 key);
    bool dispatchHot();
    void finishDispatch();

    struct Slot {
        CEpollSocket* socket = nullptr;
        quint32 generation = 0;
    };

    int m_epoll = -1;
    int m_timerFd = -1;
    int m_wakeFd = -1; // the loop's own wake-up, when it runs its own loop
    int m_linkFd = -1; // the kernel's interface events, once watched
    std::function<void()> m_onWake;
    bool m_quit = false;
    std::unique_ptr<CEpollTimerHost> m_timers;
    std::unique_ptr<QSocketNotifier> m_notifier;
    CFolderFileSystem m_files;
    int m_depth = 0;

    // One stream in lock-step wakes us for one socket every time. After two dispatches
    // in a row that found only that socket ready, the next ones read it first and skip
    // epoll_wait (a system call per block); a miss, or every 16th dispatch, asks epoll
    // again, so other sockets and the timers wait at most that long. Anything else that
    // is ready keeps the epoll descriptor readable, so the notifier fires again.
    quint64 m_hotKey = 0;
    int m_hotStreak = 0;

    // Sockets by slot; an event carries (slot, generation), so an event for a socket
    // closed or destroyed earlier in the same dispatch is recognised and skipped.
    std::vector<Slot> m_slots;
    std::vector<quint32> m_freeSlots;

    // One receive batch for all sockets (one thread), handed out before the next read.
    std::vector<char> m_recvData;
    QHostAddress m_recvSender, m_recvDestination;
    quint16 m_recvPort = 0;
    mmsghdr m_recvMsgs[kRecvBatch];
    iovec m_recvIov[kRecvBatch];
    sockaddr_storage m_recvFrom[kRecvBatch];
    alignas(cmsghdr) char m_recvControl[kRecvBatch][kControlSize];

    // One send queue, for one socket at a time; flushed when another socket writes,
    // when it is full, before a close and at the end of every dispatch.
    CEpollSocket* m_sendOwner = nullptr;
    CSendQueue m_sends{kSendBatch, kSendArena};
};

class CEpollSocket final : public IDatagramSocket {
public:
    CEpollSocket(CEpollPlatform* platform, int fd, int family, quint16 port,
                 const SocketOptions& options)
        : m_options(options), m_platform(platform), m_fd(fd), m_family(family), m_port(port) {
        m_key = platform->enroll(this, fd, &m_enrollError);
    }
    int enrollError() const { return m_enrollError; }
    ~CEpollSocket() override {
        close();
        m_platform->forget(this);
    }

    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override {
        if (m_fd < 0)
            return -1;
        return m_platform->send(this, data, size, to, toPort);
    }

    quint16 localPort() const override { return m_port; }

    void close() override {
        if (m_fd < 0)
            return;
        m_platform->forget(this); // sends what is queued
        m_platform->withdraw(m_key); // what was read ahead for it is not handed out
        ::close(m_fd);
        m_fd = -1;
    }

    int fd() const { return m_fd; }
    int family() const { return m_family; }
    const SocketOptions m_options;
    // A window of equal blocks leaves in one segmented send until the kernel refuses one.
    bool m_segment = true;

private:
    CEpollPlatform* m_platform;
    int m_fd;
    int m_family;
    quint16 m_port;
    quint64 m_key = 0;
    int m_enrollError = 0;
};

CEpollPlatform::CEpollPlatform()
    : m_recvData(size_t(kRecvBatch) * kRecvSlot) {
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    m_timers = std::make_unique<CEpollTimerHost>(m_timerFd);
    if (m_epoll < 0 || m_timerFd < 0)
        return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kTimerKey;
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timerFd, &ev) != 0) {
        ::close(m_timerFd); // not ok(): the caller falls back to the Qt platform
        m_timerFd = -1;
        return;
    }
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ev.data.u64 = kWakeKey;
    if (m_wakeFd >= 0 && epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wakeFd, &ev) != 0) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
    }

    for (int i = 0; i < kRecvBatch; ++i) {
        m_recvIov[i] = {m_recvData.data() + size_t(i) * kRecvSlot, size_t(kRecvSlot)};
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_epoll, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { dispatch(); });
}

CEpollPlatform::~CEpollPlatform() {
    m_notifier.reset();
    if (m_linkFd >= 0)
        ::close(m_linkFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    if (m_timerFd >= 0)
        ::close(m_timerFd);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

std::unique_ptr<IDatagramSocket> CEpollPlatform::bind(const QHostAddress& address, quint16 port,
                                                      const SocketOptions& options,
                                                      const QString* device, QString* error) {
    return adopt(openUdp(address, port, options.wantLocalAddress, device, error, options.reusePort,
                         options.receiveBuffer),
                 options, error);
}

std::unique_ptr<IDatagramSocket> CEpollPlatform::adopt(const BoundUdp& bound,
                                                       const SocketOptions& options,
                                                       QString* error) {
    if (bound.fd < 0)
        return nullptr;
    auto socket = std::make_unique<CEpollSocket>(this, bound.fd, bound.family, bound.port, options);
    if (const int err = socket->enrollError()) { // never woken: no use to anyone
        if (error)
            *error = bindErrorText(err);
        return nullptr; // the socket closes its descriptor itself
    }
    return socket;
}

quint64 CEpollPlatform::enroll(CEpollSocket* socket, int fd, int* err) {
    const quint32 index = takePlace(m_slots, m_freeSlots);
    Slot& slot = m_slots[index];
    slot.socket = socket;
    const quint64 key = (quint64(index) << 32) | slot.generation;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = key;
    *err = epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) == 0 ? 0 : errno;
    return key;
}

// The descriptor leaves the epoll set when it is closed (it is never duplicated), so
// no EPOLL_CTL_DEL: one system call less per transfer.
void CEpollPlatform::withdraw(quint64 key) {
    Slot& slot = m_slots[size_t(key >> 32)];
    slot.socket = nullptr;
    ++slot.generation;
    m_freeSlots.push_back(quint32(key >> 32));
}

void CEpollPlatform::forget(CEpollSocket* socket) {
    if (m_sendOwner == socket)
        flush();
}

CEpollSocket* CEpollPlatform::live(quint64 key) const {
    const Slot& slot = m_slots[size_t(key >> 32)];
    return slot.generation == quint32(key) ? slot.socket : nullptr;
}

// Reads what waits on the socket (a batch, or one datagram) and hands each datagram to
// it, until one of them closes it. Returns the count read, -1 when none could be.
int CEpollPlatform::receive(quint64 key) {
    CEpollSocket* socket = live(key);
    if (!socket)
        return -1;
    const bool wantTo = socket->m_options.wantLocalAddress;
    const unsigned vlen = socket->m_options.batch ? kRecvBatch : 1;
    for (unsigned i = 0; i < vlen; ++i) {
        msghdr& h = m_recvMsgs[i].msg_hdr;
        h = {};
        h.msg_name = &m_recvFrom[i];
        h.msg_namelen = sizeof m_recvFrom[i];
        h.msg_iov = &m_recvIov[i];
        h.msg_iovlen = 1;
        if (wantTo) { // without a buffer the kernel skips the destination
            h.msg_control = m_recvControl[i];
            h.msg_controllen = kControlSize;
        }
    }
    int got;
    do {
        got = recvmmsg(socket->fd(), m_recvMsgs, vlen, MSG_DONTWAIT, nullptr);
    } while (got < 0 && errno == EINTR);
    for (int i = 0; i < got && live(key) == socket; ++i) {
        toHostAddress(m_recvFrom[i], &m_recvSender, &m_recvPort);
        if (wantTo)
            destinationFrom(m_recvMsgs[i].msg_hdr, &m_recvDestination);
        if (socket->onDatagram)
            socket->onDatagram(static_cast<const char*>(m_recvIov[i].iov_base),
                               qint64(m_recvMsgs[i].msg_len), m_recvSender, m_recvPort,
                               m_recvDestination);
    }
    return got;
}

// After every wake-up: what the handlers queued leaves, then the engine's deferred work.
void CEpollPlatform::finishDispatch() {
    flush();
    runAfterDispatch();
    flush();
}

bool CEpollPlatform::dispatchHot() {
    if (m_hotStreak < 2 || m_hotStreak >= 2 + 16)
        return false;
    if (receive(m_hotKey) <= 0) {
        m_hotStreak = 0;
        return false;
    }
    ++m_hotStreak;
    finishDispatch();
    return true;
}

void CEpollPlatform::dispatch() {
    ++m_depth;
    if (dispatchHot()) {
        --m_depth;
        return;
    }
    epoll_event events[kMaxEvents];
    const int n = epoll_wait(m_epoll, events, kMaxEvents, 0);
    if (n == 1 && events[0].data.u64 < kLinkKey) { // one socket, not the timer
        if (m_hotKey == events[0].data.u64 && m_hotStreak < 2)
            ++m_hotStreak;
        else if (m_hotKey != events[0].data.u64 || m_hotStreak >= 2 + 16)
            m_hotStreak = m_hotKey == events[0].data.u64 ? 2 : 1;
        m_hotKey = events[0].data.u64;
    } else {
        m_hotStreak = 0;
    }
    dispatchEvents(events, n);
    --m_depth;
}

// The thread's only wait: one blocking epoll_wait per wake-up, nothing in between.
void CEpollPlatform::runLoop(const std::function<void()>& onWake) {
    m_notifier.reset(); // Qt's loop does not run on this thread
    m_onWake = onWake;
    m_quit = false;
    epoll_event events[kMaxEvents];
    while (!m_quit) {
        const int n = epoll_wait(m_epoll, events, kMaxEvents, -1);
        if (n < 0 && errno != EINTR)
            break;
        ++m_depth;
        dispatchEvents(events, n);
        --m_depth;
    }
    m_onWake = nullptr;
}

bool CEpollPlatform::watchInterfaces() {
    if (m_linkFd >= 0)
        return true;
    m_linkFd = LinkEvents::Open();
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kLinkKey;
    if (m_linkFd >= 0 && epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_linkFd, &ev) != 0) {
        ::close(m_linkFd);
        m_linkFd = -1;
    }
    return m_linkFd >= 0;
}

void CEpollPlatform::wakeLoop() {
    const quint64 one = 1;
    [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
}

// The window's calls run first: a change the user made applies to every datagram
// that this wake-up brings, since each of them was sent after it.
void CEpollPlatform::dispatchEvents(const epoll_event* events, int n) {
    for (int i = 0; i < n; ++i) {
        if (events[i].data.u64 == kWakeKey) {
            quint64 count;
            [[maybe_unused]] const auto r = ::read(m_wakeFd, &count, sizeof count);
            if (m_onWake)
                m_onWake();
            flush();
            break;
        }
    }
    bool timerDue = false;
    for (int i = 0; i < n; ++i) {
        const quint64 key = events[i].data.u64;
        if (key == kTimerKey) {
            timerDue = true;
            continue;
        }
        if (key == kWakeKey)
            continue;
        if (key == kLinkKey) {
            LinkEvents::ReadAll(m_linkFd, [this](const InterfaceEvent& e) {
                if (onInterfaceEvent)
                    onInterfaceEvent(e);
            });
            continue;
        }
        receive(key); // nothing when closed by an earlier handler of this dispatch
    }
    if (timerDue) {
        m_timers->drain();
        m_timers->expire([this] { flush(); });
    }
    finishDispatch();
}

qint64 CEpollPlatform::send(CEpollSocket* socket, const char* data, qint64 size,
                            const QHostAddress& to, quint16 toPort) {
    sockaddr_storage sa;
    const socklen_t len = sendTarget(to, toPort, socket->family(), size, &sa);
    if (!len)
        return -1;
    if (m_depth == 0)
        return sendNow(socket->fd(), data, size, sa, len);
    if (m_sendOwner != socket || !m_sends.fits(size))
        flush();
    m_sendOwner = socket;
    m_sends.add(data, size, sa, len);
    return size;
}

void CEpollPlatform::flush() {
    if (!m_sendOwner)
        return;
    m_sends.sendAll(m_sendOwner->fd(), &m_sendOwner->m_segment);
    m_sendOwner = nullptr;
    m_sends.clear();
}

std::unique_ptr<IPlatform> CreateEpollPlatform() {
    auto platform = std::make_unique<CEpollPlatform>();
    if (!platform->ok())
        return nullptr;
    return platform;
}
