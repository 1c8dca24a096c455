#pragma once

#include "engine/platform/Platform.h"
#include "engine/platform/TimerHeap.h"

#include <QHostAddress>
#include <QString>
#include <sys/socket.h>
#include <vector>

// What the two Linux platforms (epoll's and io_uring's) share: the socket addresses in
// both directions, the bound socket itself with the Qt platform's error texts, and the
// transfers' timers as a heap over one kernel deadline.

namespace LinuxSockets {

constexpr size_t kControlSize = 64; // room for IP_PKTINFO or IPV6_PKTINFO

qint64 monotonicNs();

// The texts Qt gives for the same failures, so the window says the same either way.
QString bindErrorText(int err);

// Sets `out` from a socket address without a new allocation when `out` is unshared.
void toHostAddress(const sockaddr_storage& sa, QHostAddress* out, quint16* port);

// The local address a datagram was sent to, from IP_PKTINFO / IPV6_PKTINFO.
void destinationFrom(msghdr& msg, QHostAddress* to);

// Fills `sa` for a send from a socket of `family`; an IPv4 peer of a dual-stack socket
// is written as its IPv4-mapped IPv6 address. Returns the address length, 0 if unusable.
socklen_t toSockAddr(const QHostAddress& address, quint16 port, int family, sockaddr_storage* sa);

// The address for a send from a socket of `family` into `sa`, with its length; 0 when
// the datagram cannot go (an address of the other family, a size no datagram has).
socklen_t sendTarget(const QHostAddress& to, quint16 port, int family, qint64 size,
                     sockaddr_storage* sa);
// Sends at once: outside a dispatch (Abort, shutdown) nothing would send a queue later.
qint64 sendNow(int fd, const char* data, qint64 size, const sockaddr_storage& sa, socklen_t len);

// Datagrams queued to leave together (one sendmmsg, or one submit of a ring): copies of
// their bytes and addresses, each with its message ready.
class CSendQueue {
public:
    CSendQueue(int places, int arenaBytes) // not "slots": Qt defines that word away
        : m_data(size_t(arenaBytes)), m_msgs(size_t(places)), m_iov(size_t(places)),
          m_to(size_t(places)), m_control(size_t(places)) {}
    bool fits(qint64 size) const {
        return m_count < int(m_msgs.size()) && m_bytes + size <= qint64(m_data.size());
    }
    // Queues a copy; the caller has made sure that it fits.
    msghdr& add(const char* data, qint64 size, const sockaddr_storage& sa, socklen_t len);
    int count() const { return m_count; }
    mmsghdr* messages() { return m_msgs.data(); }
    void clear() { m_count = m_bytes = 0; }
    // How many datagrams from `first` on can leave as one segmented send (UDP_SEGMENT):
    // to the same address, back to back in the arena, all of the first one's size but
    // the last, which may be shorter (a window's last block). 1 when none follow.
    int segmentRun(int first) const;
    // Sends `run` datagrams from `first` on as one buffer that the kernel cuts into
    // datagrams of the first one's size. 0 when sent, errno otherwise.
    int sendSegmented(int fd, int first, int run);
    // Appends a datagram to the last one queued as one more segment of it, when it goes
    // to the same address and the last one is a run of equal datagrams that this one
    // can end or continue (a ring sends each queued message as one request). The last
    // message then carries UDP_SEGMENT. False (nothing done) otherwise.
    bool extendLast(const char* data, qint64 size, const sockaddr_storage& sa, socklen_t len);
    // Sends everything queued on `fd`, runs of equal datagrams segmented while
    // `*segment` holds (a refusal clears it and sends them one by one from then on).
    void sendAll(int fd, bool* segment);

private:
    int m_count = 0;
    qint64 m_bytes = 0;
    std::vector<char> m_data;
    std::vector<mmsghdr> m_msgs;
    std::vector<iovec> m_iov;
    std::vector<sockaddr_storage> m_to;
    // The last message as a segmented run: its segment size, segments, and whether a
    // shorter segment has ended it; and room for the UDP_SEGMENT control of each.
    size_t m_segSize = 0;
    int m_segs = 0;
    bool m_segEnded = false;
    struct SegmentControl {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(quint16))];
    };
    std::vector<SegmentControl> m_control;
};

struct BoundUdp {
    int fd = -1;
    int family = 0;
    quint16 port = 0; // the one bound, when 0 was asked
};

// A non-blocking UDP socket bound to address:port (Any: both families on one socket),
// asking for the destination of each datagram with `wantTo`; a broadcast one for DHCP
// when `device` is given (empty: any interface); in the port's SO_REUSEPORT group with
// `reusePort`; with room for `receiveBuffer` bytes when not 0. fd -1 and *error set when
// a step fails.
BoundUdp openUdp(const QHostAddress& address, quint16 port, bool wantTo, const QString* device,
                 QString* error, bool reusePort = false, int receiveBuffer = 0);

// IPlatform::bindLinkUdp6's socket and openRouterMessages' (a raw ICMPv6 one, port 0).
BoundUdp openLinkUdp6(quint16 port, const QString& device, const QHostAddress& group,
                      QString* error);
BoundUdp openRouterIcmp6(const QString& device, QString* error);

// A place in `items`: one given back to `free` earlier, or a new one at the end.
template <typename T, typename Index> Index takePlace(std::vector<T>& items, std::vector<Index>& free) {
    if (!free.empty()) {
        const Index place = free.back();
        free.pop_back();
        return place;
    }
    items.emplace_back();
    return Index(items.size() - 1);
}

} // namespace LinuxSockets

// The timer heap over one kernel deadline (a timerfd, a ring's timeout). The deadline is
// moved only when the earliest one moves earlier; when it fires for a deadline that has
// since moved later, the pass finds nothing due and sets it again (cheaper than a system
// call at every restart, which is every block).
class CHeapTimerHost : public ITimerHost {
public:
    CHeapTimerHost() : m_base(LinuxSockets::monotonicNs()) {}

    void start(int id, int milliseconds) override;
    void stop(int id) override { m_heap.stop(id); }
    void release(int id) override { m_heap.release(id); }
    qint64 elapsedMs() override { return (LinuxSockets::monotonicNs() - m_base) / 1000000; }

    // Delivers every timer due now, earliest first. Timers started during the pass wait
    // for the next one, so a callback that restarts its timer with 0 ms cannot spin here.
    template <typename AfterEach> void expire(AfterEach afterEach) {
        m_armedMs = CTimerHeap::kNever;
        m_inPass = true;
        const qint64 now = elapsedMs();
        const quint64 startedBy = m_heap.starts();
        int id;
        while (m_heap.takeDue(now, startedBy, &id)) {
            if (onTimeout)
                onTimeout(id);
            afterEach();
        }
        m_inPass = false;
        arm();
    }

protected:
    // Sets the kernel's deadline to `atNs` on CLOCK_MONOTONIC; -1: nothing runs.
    virtual void setDeadline(qint64 atNs) = 0;

private:
    void arm();

    qint64 m_base;
    qint64 m_armedMs = CTimerHeap::kNever;
    bool m_inPass = false;
    CTimerHeap m_heap;
};
