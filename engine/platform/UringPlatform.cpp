#include "engine/platform/FolderFiles.h"
#include "engine/platform/LinkEvents.h"
#include "engine/platform/LinuxSockets.h"
#include "engine/platform/Platform.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <liburing.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// The platform on Linux over one io_uring: every socket has a multishot receive into a
// shared ring of provided buffers, sends are queued as requests while the handlers run
// and leave together, and the timers and the window's wake-up are requests on the same
// ring, so the engine thread makes one io_uring_enter per wake-up for all of it. File
// reads stay plain pread through IFile: the files come from the page cache, where a read
// on the ring would only add a completion to handle.

using namespace LinuxSockets;

namespace {

constexpr unsigned kSqEntries = 1024;
constexpr unsigned kCqEntries = 8192;
constexpr unsigned kBufCount = 256; // a power of two: more datagrams waiting than this
                                    // end a receive with ENOBUFS, and it is armed again
constexpr unsigned kBufSize = 65536 + 256; // any datagram after its header and addresses
constexpr unsigned short kBufGroup = 0;
constexpr int kSendSlots = 512;     // requests queued before a submit
constexpr int kSendArena = 1 << 20; // bytes queued before a submit
constexpr unsigned kMaxCqes = 512;  // completions handled per pass
constexpr socklen_t kNameRoom = 32; // a sockaddr_in6, rounded so the control data aligns

// What a completion is for: the top byte of its user_data; a receive's slot below.
enum Kind : quint64 {
    Recv = 1, Timeout, TimeoutUpdate, Wake, Send, Cancel, SendSegmented, Link, Close
};
constexpr quint64 tag(Kind kind, quint32 index = 0) { return (quint64(kind) << 56) | index; }

} // namespace

class CUringPlatform;

class CUringTimerHost final : public CHeapTimerHost {
public:
    explicit CUringTimerHost(CUringPlatform* platform) : m_platform(platform) {}

protected:
    void setDeadline(qint64 atNs) override;

private:
    CUringPlatform* m_platform;
};

class CUringSocket final : public IDatagramSocket {
public:
    CUringSocket(CUringPlatform* platform, quint32 slot, int fd, int family, quint16 port,
                 bool segments)
        : m_platform(platform), m_slot(slot), m_fd(fd), m_family(family), m_port(port),
          m_segments(segments) {}
    ~CUringSocket() override { close(); }

    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override;
    quint16 localPort() const override { return m_port; }
    void close() override;

    int fd() const { return m_fd; }
    int family() const { return m_family; }
    bool segments() const { return m_segments; }

private:
    CUringPlatform* m_platform;
    quint32 m_slot;
    int m_fd;
    int m_family;
    quint16 m_port;
    // Whether its runs of equal datagrams may leave as one segmented send. Not for the
    // DHCP socket: its replies to different clients go to one broadcast address with
    // equal sizes, and such runs were lost there (a refused run is not sent again).
    bool m_segments;
};

class CUringPlatform final : public IPlatform {
public:
    CUringPlatform();
    ~CUringPlatform() override;
    bool ok() const { return m_ready; }

    std::unique_ptr<IDatagramSocket> bindUdp(const QHostAddress& address, quint16 port,
                                             const SocketOptions& options,
                                             QString* error) override {
        return bind(address, port, options.wantLocalAddress, nullptr, error, options.reusePort,
                    options.receiveBuffer);
    }
    std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address, quint16 port,
                                                      const QString& device,
                                                      QString* error) override {
        return bind(address, port, false, &device, error);
    }
    std::unique_ptr<IDatagramSocket> bindLinkUdp6(quint16 port, const QString& device,
                                                  const QHostAddress& group,
                                                  QString* error) override {
        return adopt(openLinkUdp6(port, device, group, error), false, true);
    }
    std::unique_ptr<IDatagramSocket> openRouterMessages(const QString& device,
                                                        QString* error) override {
        return adopt(openRouterIcmp6(device, error), false, true);
    }
    ITimerHost& timers() override { return *m_timers; }
    bool canSharePort() const override { return true; }
    IFileSystem& files() override { return m_files; }
    bool hasOwnLoop() const override { return m_wakeFd >= 0; }
    void runLoop(const std::function<void()>& onWake) override;
    void wakeLoop() override;
    void quitLoop() override { m_quit = true; }
    bool watchInterfaces() override;

    // Called by the sockets and the timers.
    qint64 send(CUringSocket* socket, const char* data, qint64 size, const QHostAddress& to,
                quint16 toPort);
    void closeSocket(quint32 slot);
    void closeDescriptor(int fd) override;
    void setTimeout(qint64 atNs);

private:
    // A socket's receive, the platform's: it outlives a closed socket until the kernel
    // has ended its multishot, which may still deliver completions (and buffers).
    struct Receiver {
        CUringSocket* socket = nullptr;
        int fd = -1;
        bool wantTo = false;
        bool armed = false;
        int failures = 0; // ended without a datagram, in a row
    };

    std::unique_ptr<IDatagramSocket> bind(const QHostAddress& address, quint16 port, bool wantTo,
                                          const QString* device, QString* error,
                                          bool reusePort = false, int receiveBuffer = 0);
    // Wraps an open socket and arms its receive (fd -1: none, the error already said).
    std::unique_ptr<IDatagramSocket> adopt(const BoundUdp& bound, bool wantTo, bool broadcast);
    io_uring_sqe* nextSqe();
    void submit();
    void submitIfIdle() {
        if (m_depth == 0)
            submit();
    }
    // The kernel has taken every queued request: their data and descriptors are its.
    void queueTaken() {
        m_sends.clear();
        m_closesQueued = 0;
    }
    void armReceive(quint32 slot);
    void armWake();
    void armLink();
    void dispatch();
    void received(const io_uring_cqe* cqe);
    void deliver(quint32 slot, char* buffer, int length);
    char* buffer(unsigned id) { return m_buffers + size_t(id) * kBufSize; }
    void giveBack(unsigned id);

    io_uring m_ring{};
    bool m_ringUp = false;
    bool m_ready = false;
    io_uring_buf_ring* m_bufRing = nullptr;
    char* m_buffers = nullptr;
    msghdr m_plainTemplate{}; // what each receive keeps of a datagram: its sender, and
    msghdr m_toTemplate{};    // with wantLocalAddress the address it was sent to

    int m_wakeFd = -1;
    quint64 m_wakeCount = 0;
    int m_linkFd = -1; // the kernel's interface events, once watched
    int m_notifyFd = -1; // completions, for Qt's loop when that drives the platform
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::function<void()> m_onWake;
    bool m_quit = false;
    int m_depth = 0;

    std::unique_ptr<CUringTimerHost> m_timers;
    __kernel_timespec m_timeoutAt{};
    bool m_timeoutArmed = false;
    CFolderFileSystem m_files;

    std::vector<Receiver> m_receivers;
    std::vector<quint32> m_freeReceivers;
    QHostAddress m_recvSender, m_recvDestination;
    quint16 m_recvPort = 0;

    // What the queued sends point at, reused once a submit has taken them: each is sent
    // with MSG_DONTWAIT, so the kernel copies it during the submit or fails it there.
    CSendQueue m_sends{kSendSlots, kSendArena};
    // The send request queued last and not yet submitted, and its socket's descriptor.
    io_uring_sqe* m_lastSend = nullptr;
    int m_lastSendFd = -1;
    bool m_segment = true; // until the kernel refuses a segmented send
    int m_closesQueued = 0; // closes in the queue, not yet submitted
    int m_releasing = 0;    // receives of closed sockets that have not ended yet
};

void CUringTimerHost::setDeadline(qint64 atNs) {
    if (atNs >= 0) // with nothing to run, a timeout still set only finds nothing due
        m_platform->setTimeout(atNs);
}

qint64 CUringSocket::writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                                   quint16 toPort) {
    if (m_fd < 0)
        return -1;
    return m_platform->send(this, data, size, to, toPort);
}

void CUringSocket::close() {
    if (m_fd < 0)
        return;
    m_platform->closeSocket(m_slot);
    m_fd = -1;
}

CUringPlatform::CUringPlatform() {
    m_timers = std::make_unique<CUringTimerHost>(this);
    // Deferred task work: completions are made in our own io_uring_enter, all at once,
    // rather than by interrupting the thread; it needs the one submitter it promises.
    io_uring_params params{};
    params.flags = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_SINGLE_ISSUER |
                   IORING_SETUP_DEFER_TASKRUN | IORING_SETUP_CQSIZE;
    params.cq_entries = kCqEntries;
    if (io_uring_queue_init_params(kSqEntries, &m_ring, &params) != 0)
        return; // refused (io_uring_disabled, seccomp) or too old: epoll instead
    m_ringUp = true;

    const size_t ringBytes = kBufCount * sizeof(io_uring_buf);
    void* ringMem = mmap(nullptr, ringBytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    void* bufMem = mmap(nullptr, size_t(kBufCount) * kBufSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (ringMem == MAP_FAILED || bufMem == MAP_FAILED) {
        if (ringMem != MAP_FAILED)
            munmap(ringMem, ringBytes);
        if (bufMem != MAP_FAILED)
            munmap(bufMem, size_t(kBufCount) * kBufSize);
        return;
    }
    m_bufRing = static_cast<io_uring_buf_ring*>(ringMem);
    m_buffers = static_cast<char*>(bufMem);
    io_uring_buf_reg reg{};
    reg.ring_addr = reinterpret_cast<uintptr_t>(ringMem);
    reg.ring_entries = kBufCount;
    reg.bgid = kBufGroup;
    if (io_uring_register_buf_ring(&m_ring, &reg, 0) != 0)
        return;
    io_uring_buf_ring_init(m_bufRing);
    for (unsigned i = 0; i < kBufCount; ++i)
        io_uring_buf_ring_add(m_bufRing, buffer(i), kBufSize, i, kBufCount - 1, int(i));
    io_uring_buf_ring_advance(m_bufRing, kBufCount);

    m_plainTemplate.msg_namelen = kNameRoom;
    m_toTemplate.msg_namelen = kNameRoom;
    m_toTemplate.msg_controllen = kControlSize;

    // Qt's loop, where it drives the platform, learns of completions from an eventfd;
    // the platform's own loop does not need it and drops it (see runLoop).
    m_notifyFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_notifyFd < 0 || io_uring_register_eventfd(&m_ring, m_notifyFd) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_notifyFd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        quint64 count;
        [[maybe_unused]] const auto n = ::read(m_notifyFd, &count, sizeof count);
        io_uring_get_events(&m_ring); // the deferred work becomes completions here
        dispatch();
        submit();
    });

    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        armWake();
        submit();
    }
    m_ready = true;
}

CUringPlatform::~CUringPlatform() {
    m_notifier.reset();
    if (m_ringUp) {
        submit(); // the closes still queued
        io_uring_queue_exit(&m_ring); // ends every request still in the kernel
    }
    for (const Receiver& r : m_receivers)
        if (r.fd >= 0)
            ::close(r.fd);
    if (m_bufRing)
        munmap(m_bufRing, kBufCount * sizeof(io_uring_buf));
    if (m_buffers)
        munmap(m_buffers, size_t(kBufCount) * kBufSize);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    if (m_linkFd >= 0)
        ::close(m_linkFd);
    if (m_notifyFd >= 0)
        ::close(m_notifyFd);
}

std::unique_ptr<IDatagramSocket> CUringPlatform::bind(const QHostAddress& address, quint16 port,
                                                      bool wantTo, const QString* device,
                                                      QString* error, bool reusePort,
                                                      int receiveBuffer) {
    BoundUdp bound = openUdp(address, port, wantTo, device, error, reusePort, receiveBuffer);
    if (bound.fd < 0 && (m_closesQueued > 0 || m_releasing > 0)) {
        // The port may be one closed earlier: its close may still be queued, and a
        // cancelled receive holds the socket until the ring has run the cancel's
        // deferred work, which happens in an enter that asks for events.
        submit();
        io_uring_get_events(&m_ring);
        bound = openUdp(address, port, wantTo, device, error, reusePort, receiveBuffer);
    }
    return adopt(bound, wantTo, device != nullptr);
}

std::unique_ptr<IDatagramSocket> CUringPlatform::adopt(const BoundUdp& bound, bool wantTo,
                                                       bool broadcast) {
    if (bound.fd < 0)
        return nullptr;
    const quint32 slot = takePlace(m_receivers, m_freeReceivers);
    auto socket = std::make_unique<CUringSocket>(this, slot, bound.fd, bound.family, bound.port,
                                                 !broadcast);
    Receiver& r = m_receivers[slot];
    r = Receiver{};
    r.socket = socket.get();
    r.fd = bound.fd;
    r.wantTo = wantTo;
    armReceive(slot);
    submitIfIdle();
    return socket;
}

io_uring_sqe* CUringPlatform::nextSqe() {
    io_uring_sqe* sqe = io_uring_get_sqe(&m_ring);
    if (!sqe) { // the queue is full: what is in it goes now
        submit();
        sqe = io_uring_get_sqe(&m_ring);
    }
    return sqe;
}

// Hands the kernel what is queued; once it has taken every request, the sends' data
// is its own and the arena is free again. A refusal (memory, a full completion queue)
// leaves the requests queued for the next submit, which the loop makes at once.
void CUringPlatform::submit() {
    m_lastSend = nullptr; // the kernel has read its message: nothing more joins it
    for (int attempt = 0; attempt < 4 && io_uring_sq_ready(&m_ring) > 0; ++attempt) {
        if (io_uring_submit(&m_ring) < 0)
            break;
    }
    if (io_uring_sq_ready(&m_ring) == 0)
        queueTaken();
}

void CUringPlatform::armReceive(quint32 slot) {
    Receiver& r = m_receivers[slot];
    io_uring_sqe* sqe = nextSqe();
    if (!sqe)
        return; // not armed: the next completion of another request retries nothing,
                // but a ring whose queue stays full after a submit is broken anyway
    io_uring_prep_recvmsg_multishot(sqe, r.fd, r.wantTo ? &m_toTemplate : &m_plainTemplate, 0);
    sqe->flags |= IOSQE_BUFFER_SELECT;
    sqe->buf_group = kBufGroup;
    io_uring_sqe_set_data64(sqe, tag(Recv, slot));
    r.armed = true;
}

void CUringPlatform::armWake() {
    io_uring_sqe* sqe = nextSqe();
    if (!sqe)
        return;
    io_uring_prep_read(sqe, m_wakeFd, &m_wakeCount, sizeof m_wakeCount, 0);
    io_uring_sqe_set_data64(sqe, tag(Wake));
}

// A poll of the interface events, armed again after each: they are rare, and a read
// of its own takes every message waiting.
void CUringPlatform::armLink() {
    io_uring_sqe* sqe = nextSqe();
    if (!sqe)
        return;
    io_uring_prep_poll_add(sqe, m_linkFd, POLLIN);
    io_uring_sqe_set_data64(sqe, tag(Link));
}

bool CUringPlatform::watchInterfaces() {
    if (m_linkFd >= 0)
        return true;
    m_linkFd = LinkEvents::Open();
    if (m_linkFd < 0)
        return false;
    armLink();
    submitIfIdle();
    return true;
}

// Stops its receive, then closes the descriptor after what was queued for it has gone.
// Completions already made for it are dropped when read.
//
// Within a pass the ring closes it, queued after its sends and the cancel, so all of it
// leaves with the pass's one io_uring_enter rather than with one of its own. Its number
// stays taken until then, so a socket made later in the pass cannot get it and send what
// was queued for this one; a bind in the pass that finds the port taken submits the
// queued closes and tries again, so to the engine the port is free at once.
void CUringPlatform::closeSocket(quint32 slot) {
    Receiver& r = m_receivers[slot];
    r.socket = nullptr;
    if (r.armed) {
        ++m_releasing;
        if (io_uring_sqe* sqe = nextSqe()) {
            io_uring_prep_cancel64(sqe, tag(Recv, slot), 0);
            io_uring_sqe_set_data64(sqe, tag(Cancel));
            sqe->flags |= IOSQE_CQE_SKIP_SUCCESS;
        }
    }
    io_uring_sqe* closing = m_depth > 0 ? nextSqe() : nullptr;
    if (closing) {
        io_uring_prep_close(closing, r.fd);
        io_uring_sqe_set_data64(closing, tag(Close));
        closing->flags |= IOSQE_CQE_SKIP_SUCCESS;
        ++m_closesQueued;
    } else {
        submit();
        if (r.armed)
            io_uring_get_events(&m_ring); // the cancel's deferred work lets go of the socket
        ::close(r.fd);
    }
    r.fd = -1;
    if (!r.armed)
        m_freeReceivers.push_back(slot);
}

// A served file's close leaves with the pass's one submit, as a socket's does.
void CUringPlatform::closeDescriptor(int fd) {
    if (fd < 0)
        return;
    io_uring_sqe* closing = m_depth > 0 ? nextSqe() : nullptr;
    if (!closing) {
        ::close(fd);
        return;
    }
    io_uring_prep_close(closing, fd);
    io_uring_sqe_set_data64(closing, tag(Close));
    closing->flags |= IOSQE_CQE_SKIP_SUCCESS;
}

void CUringPlatform::setTimeout(qint64 atNs) {
    m_timeoutAt.tv_sec = atNs / 1000000000;
    m_timeoutAt.tv_nsec = atNs % 1000000000;
    io_uring_sqe* sqe = nextSqe();
    if (!sqe)
        return;
    if (m_timeoutArmed) {
        // Fails with ENOENT when it has just fired: its completion, still to be read,
        // makes the timer pass that sets the next one.
        io_uring_prep_timeout_update(sqe, &m_timeoutAt, tag(Timeout), IORING_TIMEOUT_ABS);
        io_uring_sqe_set_data64(sqe, tag(TimeoutUpdate));
        sqe->flags |= IOSQE_CQE_SKIP_SUCCESS;
    } else {
        io_uring_prep_timeout(sqe, &m_timeoutAt, 0, IORING_TIMEOUT_ABS);
        io_uring_sqe_set_data64(sqe, tag(Timeout));
        m_timeoutArmed = true;
    }
    submitIfIdle();
}

qint64 CUringPlatform::send(CUringSocket* socket, const char* data, qint64 size,
                            const QHostAddress& to, quint16 toPort) {
    sockaddr_storage sa;
    const socklen_t len = sendTarget(to, toPort, socket->family(), size, &sa);
    if (!len)
        return -1;
    if (m_depth == 0)
        return sendNow(socket->fd(), data, size, sa, len);
    // A window's next block to the same client rides on the request queued for the one
    // before it, as one more segment, while the kernel takes segmented sends.
    if (m_segment && socket->segments() && m_lastSendFd == socket->fd() && m_lastSend &&
        m_sends.extendLast(data, size, sa, len)) {
        io_uring_sqe_set_data64(m_lastSend, tag(SendSegmented));
        return size;
    }
    if (!m_sends.fits(size))
        submit();
    if (!m_sends.fits(size))
        return -1; // the kernel takes nothing now: lost, as a datagram may be
    io_uring_sqe* sqe = nextSqe();
    if (!sqe)
        return -1;
    msghdr& h = m_sends.add(data, size, sa, len);
    m_lastSend = sqe;
    m_lastSendFd = socket->fd();
    // Never parked in the kernel waiting for room: a full send buffer fails it at once,
    // as sendmmsg would, so the data is never read after the submit.
    io_uring_prep_sendmsg(sqe, socket->fd(), &h, MSG_DONTWAIT);
    io_uring_sqe_set_data64(sqe, tag(Send));
    sqe->flags |= IOSQE_CQE_SKIP_SUCCESS;
    return size;
}

void CUringPlatform::giveBack(unsigned id) {
    io_uring_buf_ring_add(m_bufRing, buffer(id), kBufSize, static_cast<unsigned short>(id),
                          kBufCount - 1, 0);
    io_uring_buf_ring_advance(m_bufRing, 1);
}

void CUringPlatform::deliver(quint32 slot, char* data, int length) {
    CUringSocket* socket = m_receivers[slot].socket;
    const msghdr& tmpl = m_receivers[slot].wantTo ? m_toTemplate : m_plainTemplate;
    io_uring_recvmsg_out* out =
        io_uring_recvmsg_validate(data, length, const_cast<msghdr*>(&tmpl));
    if (!out || !socket->onDatagram)
        return;
    sockaddr_storage from;
    from.ss_family = AF_UNSPEC;
    std::memcpy(&from, io_uring_recvmsg_name(out), std::min<size_t>(out->namelen, kNameRoom));
    toHostAddress(from, &m_recvSender, &m_recvPort);
    if (m_receivers[slot].wantTo) {
        msghdr control{};
        control.msg_control = static_cast<char*>(io_uring_recvmsg_name(out)) + kNameRoom;
        control.msg_controllen = out->controllen;
        destinationFrom(control, &m_recvDestination);
    }
    msghdr* h = const_cast<msghdr*>(&tmpl);
    socket->onDatagram(static_cast<const char*>(io_uring_recvmsg_payload(out, h)),
                       qint64(io_uring_recvmsg_payload_length(out, length, h)), m_recvSender,
                       m_recvPort, m_recvDestination);
}

// One completion of a socket's multishot receive: a datagram in a buffer, handed to the
// socket unless a handler closed it; and when the receive has ended (no buffer left,
// an error, cancelled), armed again for a socket still open, or the slot freed.
void CUringPlatform::received(const io_uring_cqe* cqe) {
    const quint32 slot = quint32(cqe->user_data);
    const bool more = cqe->flags & IORING_CQE_F_MORE;
    if (cqe->flags & IORING_CQE_F_BUFFER) {
        const unsigned id = cqe->flags >> IORING_CQE_BUFFER_SHIFT;
        if (m_receivers[slot].socket && cqe->res > 0)
            deliver(slot, buffer(id), cqe->res);
        giveBack(id); // after the handler: the bytes were lent to it
    }
    if (more)
        return;
    Receiver& r = m_receivers[slot];
    r.armed = false;
    if (!r.socket) {
        --m_releasing;
        m_freeReceivers.push_back(slot); // closed, and the kernel is done with it
        return;
    }
    // ENOBUFS: the buffers given back during this pass are there when it is submitted.
    // Anything else ending it again and again without a datagram leaves it unarmed
    // rather than spin.
    const bool delivered = cqe->res > 0 || cqe->res == -ENOBUFS;
    r.failures = delivered ? 0 : r.failures + 1;
    if (r.failures < 3)
        armReceive(slot);
}

// One pass over what has completed. The window's calls run first: a change the user
// made applies to every datagram that this wake-up brings, since each was sent after it.
void CUringPlatform::dispatch() {
    ++m_depth;
    io_uring_cqe* cqes[kMaxCqes];
    const unsigned n = io_uring_peek_batch_cqe(&m_ring, cqes, kMaxCqes);
    for (unsigned i = 0; i < n; ++i) {
        if (cqes[i]->user_data == tag(Wake)) {
            armWake();
            if (m_onWake)
                m_onWake();
            break;
        }
    }
    bool timerDue = false;
    for (unsigned i = 0; i < n; ++i) {
        const io_uring_cqe* cqe = cqes[i];
        switch (Kind(cqe->user_data >> 56)) {
        case Recv:
            received(cqe);
            break;
        case Timeout:
            m_timeoutArmed = false;
            timerDue = true;
            break;
        case SendSegmented:
            // Refused for a reason other than room (a device without checksum offload,
            // a segment above the path's MTU): the window is lost, its resend goes
            // one datagram per request, as every send from now on.
            if (cqe->res < 0 && cqe->res != -EAGAIN && cqe->res != -ENOBUFS &&
                cqe->res != -ENOMEM)
                m_segment = false;
            break;
        case Link:
            LinkEvents::ReadAll(m_linkFd, [this](const InterfaceEvent& e) {
                if (onInterfaceEvent)
                    onInterfaceEvent(e);
            });
            armLink();
            break;
        default: // a send or close the kernel refused, a stale update or cancel: nothing to do
            break;
        }
    }
    io_uring_cq_advance(&m_ring, n);
    if (timerDue)
        m_timers->expire([] {});
    runAfterDispatch();
    --m_depth;
}

// The thread's only wait: one io_uring_enter per wake-up, which also submits everything
// the previous pass queued.
void CUringPlatform::runLoop(const std::function<void()>& onWake) {
    m_notifier.reset(); // Qt's loop does not run on this thread
    if (m_notifyFd >= 0) {
        io_uring_unregister_eventfd(&m_ring);
        ::close(m_notifyFd);
        m_notifyFd = -1;
    }
    m_onWake = onWake;
    m_quit = false;
    while (!m_quit) {
        const int r = io_uring_submit_and_wait(&m_ring, 1);
        if (io_uring_sq_ready(&m_ring) == 0)
            queueTaken();
        if (r < 0 && r != -EINTR && r != -EAGAIN && r != -EBUSY && r != -ETIME)
            break;
        dispatch();
    }
    m_onWake = nullptr;
}

void CUringPlatform::wakeLoop() {
    const quint64 one = 1;
    [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
}

std::unique_ptr<IPlatform> CreateUringPlatform() {
    auto platform = std::make_unique<CUringPlatform>();
    if (!platform->ok())
        return nullptr;
    return platform;
}
