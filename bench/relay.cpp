// A lossy network between TFTP clients and a server, in user space (the test machines'
// kernel has no netem): a fixed delay, loss, duplication and reordering, per packet and
// per direction.
//
//   relay --listen ADDR:PORT --server ADDR:PORT [--delay-ms D] [--loss P] [--dup P]
//         [--reorder P] [--reorder-ms R] [--seed N] [--idle-s S]
//
// TFTP-aware: a request reaching the listen port goes on to the server's request port
// from a socket of the client's session; every port the server answers from (its
// transfer id) gets a socket of its own facing the client, so the client sees one
// transfer id per server transfer, as it would without the relay. A session is
// forgotten after S seconds without a packet (default 60: longer than any server's
// retransmission interval).
//
// Each packet is dropped with probability P % (--loss); a packet that passes is sent
// twice with --dup %; every copy leaves D ms (fractions allowed) after it arrived, so
// packets in flight overlap, and with --reorder % it is held R ms longer (default 3) so
// that later packets overtake it. Percentages are drawn from one generator seeded with
// --seed. Nothing is printed per packet; SIGTERM or SIGINT ends the relay, which then
// prints one line of counts on standard error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <queue>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    sockaddr_in listen{}, server{};
    double delayMs = 0, lossPct = 0, dupPct = 0, reorderPct = 0, reorderMs = 3;
    uint64_t seed = 1;
    double idleS = 60;
};

[[noreturn]] void usage(const std::string& why) {
    std::fprintf(stderr,
                 "relay: %s\nusage: relay --listen ADDR:PORT --server ADDR:PORT [--delay-ms D] "
                 "[--loss P] [--dup P] [--reorder P] [--reorder-ms R] [--seed N] [--idle-s S]\n",
                 why.c_str());
    std::exit(2);
}

sockaddr_in parseAddress(const std::string& text) {
    const size_t colon = text.rfind(':');
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (colon == std::string::npos ||
        inet_pton(AF_INET, text.substr(0, colon).c_str(), &a.sin_addr) != 1)
        usage("bad address " + text + " (want IPv4:PORT)");
    const long port = std::strtol(text.c_str() + colon + 1, nullptr, 10);
    if (port < 1 || port > 65535)
        usage("bad port in " + text);
    a.sin_port = htons(uint16_t(port));
    return a;
}

double parsePercent(const char* v) {
    const double p = std::strtod(v, nullptr);
    if (p < 0 || p > 100)
        usage(std::string("percentage out of range: ") + v);
    return p;
}

Options parse(int argc, char** argv) {
    Options o;
    bool haveListen = false, haveServer = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            usage("missing value for " + a);
        const char* v = argv[++i];
        if (a == "--listen")
            o.listen = parseAddress(v), haveListen = true;
        else if (a == "--server")
            o.server = parseAddress(v), haveServer = true;
        else if (a == "--delay-ms")
            o.delayMs = std::strtod(v, nullptr);
        else if (a == "--loss")
            o.lossPct = parsePercent(v);
        else if (a == "--dup")
            o.dupPct = parsePercent(v);
        else if (a == "--reorder")
            o.reorderPct = parsePercent(v);
        else if (a == "--reorder-ms")
            o.reorderMs = std::strtod(v, nullptr);
        else if (a == "--seed")
            o.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--idle-s")
            o.idleS = std::strtod(v, nullptr);
        else
            usage("unknown option " + a);
    }
    if (!haveListen || !haveServer)
        usage("--listen and --server are required");
    if (o.delayMs < 0 || o.reorderMs < 0 || o.idleS <= 0)
        usage("delays must not be negative, --idle-s must be positive");
    return o;
}

uint64_t key(const sockaddr_in& a) {
    return (uint64_t(a.sin_addr.s_addr) << 16) | a.sin_port;
}

bool same(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

struct Session;

enum class Role { Listen, ToServer, ToClient };

// One UDP socket; the queue of delayed packets may keep it open after its session is
// gone, so that what was already in flight still leaves.
struct Sock {
    int fd = -1;
    Role role = Role::Listen;
    Session* session = nullptr; // null once the session is forgotten
    sockaddr_in serverTid{};    // ToClient: the server port it stands for
    bool connected = false;     // ToClient: connected to its client, so sends skip the route lookup
    ~Sock() {
        if (fd >= 0)
            close(fd);
    }
};

struct Session {
    sockaddr_in client{};
    std::string request; // tells a repeated request from a new one from the same port
    std::shared_ptr<Sock> toServer;
    std::map<uint16_t, std::shared_ptr<Sock>> toClient; // by server transfer port
    Clock::time_point lastPacket;
};

struct Delayed {
    Clock::time_point due;
    uint64_t seq; // keeps equal due times in arrival order
    std::shared_ptr<Sock> via;
    sockaddr_in to;
    std::string bytes;
    bool operator>(const Delayed& o) const { return due != o.due ? due > o.due : seq > o.seq; }
};

volatile sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

class Relay {
public:
    explicit Relay(const Options& o) : m_o(o), m_rng(o.seed) {
        m_delay = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(o.delayMs));
        m_hold = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(o.reorderMs));
        m_idle = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.idleS));
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_listen = openSocket(m_o.listen, Role::Listen, nullptr);
        if (!m_listen) {
            std::perror("relay: cannot listen");
            std::exit(1);
        }
        // Many clients' requests may arrive in one burst.
        const int big = 4 << 20;
        setsockopt(m_listen->fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }

    int run() {
        sigset_t blocked, during;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        sigaddset(&blocked, SIGINT);
        sigprocmask(SIG_BLOCK, &blocked, &during);
        sigdelset(&during, SIGTERM);
        sigdelset(&during, SIGINT);
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);

        epoll_event events[256];
        auto nextSweep = Clock::now() + std::chrono::seconds(1);
        while (!g_stop) {
            const auto now = Clock::now();
            auto wake = nextSweep;
            if (!m_queue.empty() && m_queue.top().due < wake)
                wake = m_queue.top().due;
            const auto wait = std::max(Clock::duration::zero(), wake - now);
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
            // Signals are let through only while waiting, so none is missed between the
            // check of g_stop and the wait.
            const int n = epoll_pwait2(m_epoll, events, 256, &ts, &during);
            if (n < 0 && errno != EINTR) {
                std::perror("relay: epoll_pwait2");
                return 1;
            }
            for (int i = 0; i < n; ++i)
                readAll(static_cast<Sock*>(events[i].data.ptr));
            sendDue();
            if (Clock::now() >= nextSweep) {
                forgetIdle();
                nextSweep = Clock::now() + std::chrono::seconds(1);
            }
        }
        std::fprintf(stderr,
                     "relay: to_server=%llu to_client=%llu lost=%llu duplicated=%llu "
                     "reordered=%llu sent=%llu send_errors=%llu sessions=%llu\n",
                     m_count.toServer, m_count.toClient, m_count.lost, m_count.duplicated,
                     m_count.reordered, m_count.sent, m_count.sendErrors, m_count.sessions);
        return 0;
    }

private:
    std::shared_ptr<Sock> openSocket(const sockaddr_in& at, Role role, Session* s) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return nullptr;
        auto sock = std::make_shared<Sock>();
        sock->fd = fd;
        sock->role = role;
        sock->session = s;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0)
            return nullptr;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = sock.get();
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        return sock;
    }

    // A socket on a fresh port of the listen address.
    std::shared_ptr<Sock> freshSocket(Role role, Session* s) {
        sockaddr_in at = m_o.listen;
        at.sin_port = 0;
        auto sock = openSocket(at, role, s);
        if (!sock)
            ++m_count.sendErrors; // out of descriptors or ports: the packet is lost
        return sock;
    }

    // Drains one socket, a batch per system call: at zero delay the relay must keep up
    // with a loopback transfer.
    void readAll(Sock* sock) {
        constexpr int Batch = 16;
        static char buffers[Batch][65536];
        static sockaddr_in from[Batch];
        static iovec iov[Batch];
        static mmsghdr msgs[Batch];
        for (;;) {
            for (int i = 0; i < Batch; ++i) {
                iov[i] = {buffers[i], sizeof buffers[i]};
                msgs[i].msg_hdr = {};
                msgs[i].msg_hdr.msg_name = &from[i];
                msgs[i].msg_hdr.msg_namelen = sizeof from[i];
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = recvmmsg(sock->fd, msgs, Batch, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                return;
            for (int i = 0; i < n; ++i)
                handle(sock, from[i], buffers[i], msgs[i].msg_len);
            if (n < Batch)
                return;
        }
    }

    void handle(Sock* sock, const sockaddr_in& from, const char* data, size_t len) {
        switch (sock->role) {
        case Role::Listen: {
            Session* s = sessionFor(from, data, len);
            if (s) {
                s->lastPacket = Clock::now();
                ++m_count.toServer;
                forward(s->toServer, m_o.server, data, len);
            }
            break;
        }
        case Role::ToServer: { // from one of the server's transfer ports
            Session* s = sock->session;
            if (!s || from.sin_addr.s_addr != m_o.server.sin_addr.s_addr)
                return;
            auto& out = s->toClient[from.sin_port];
            if (!out) {
                out = freshSocket(Role::ToClient, s);
                if (!out) {
                    s->toClient.erase(from.sin_port);
                    return;
                }
                out->serverTid = from;
                out->connected = connect(out->fd, reinterpret_cast<const sockaddr*>(&s->client),
                                         sizeof s->client) == 0;
            }
            s->lastPacket = Clock::now();
            ++m_count.toClient;
            forward(out, s->client, data, len);
            break;
        }
        case Role::ToClient: {
            Session* s = sock->session;
            if (!s || !same(from, s->client))
                return; // not this transfer's client: a stranger's packet is dropped
            s->lastPacket = Clock::now();
            ++m_count.toServer;
            forward(s->toServer, sock->serverTid, data, len);
            break;
        }
        }
    }

    // The client's session for a request: the one it already has when the request is the
    // same (a repetition), else a new one (a new transfer from a port used before).
    Session* sessionFor(const sockaddr_in& client, const char* data, size_t len) {
        auto it = m_byClient.find(key(client));
        if (it != m_byClient.end() && it->second->request.compare(0, std::string::npos, data,
                                                                  len) == 0)
            return it->second;
        m_sessions.emplace_back();
        Session& s = m_sessions.back();
        s.client = client;
        s.request.assign(data, len);
        s.toServer = freshSocket(Role::ToServer, &s);
        if (!s.toServer) {
            m_sessions.pop_back();
            return nullptr;
        }
        m_byClient[key(client)] = &s;
        ++m_count.sessions;
        return &s;
    }

    bool chance(double pct) {
        return pct > 0 && std::uniform_real_distribution<double>(0, 100)(m_rng) < pct;
    }

    void forward(const std::shared_ptr<Sock>& via, const sockaddr_in& to, const char* data,
                 size_t len) {
        if (chance(m_o.lossPct)) {
            ++m_count.lost;
            return;
        }
        int copies = 1;
        if (chance(m_o.dupPct)) {
            ++m_count.duplicated;
            copies = 2;
        }
        const auto now = Clock::now();
        for (int c = 0; c < copies; ++c) {
            auto due = now + m_delay;
            if (chance(m_o.reorderPct)) {
                ++m_count.reordered;
                due += m_hold;
            }
            if (due <= now)
                send(*via, to, data, len);
            else
                m_queue.push(Delayed{due, m_seq++, via, to, std::string(data, len)});
        }
    }

    void send(const Sock& via, const sockaddr_in& to, const char* data, size_t len) {
        const ssize_t n = via.connected ? ::send(via.fd, data, len, MSG_DONTWAIT)
                                        : sendto(via.fd, data, len, MSG_DONTWAIT,
                                                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n == ssize_t(len))
            ++m_count.sent;
        else
            ++m_count.sendErrors;
    }

    void sendDue() {
        const auto now = Clock::now();
        while (!m_queue.empty() && m_queue.top().due <= now) {
            const Delayed& d = m_queue.top();
            send(*d.via, d.to, d.bytes.data(), d.bytes.size());
            m_queue.pop();
        }
    }

    void forgetIdle() {
        const auto limit = Clock::now() - m_idle;
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (it->lastPacket > limit) {
                ++it;
                continue;
            }
            detach(*it->toServer);
            for (auto& [port, sock] : it->toClient)
                detach(*sock);
            auto byClient = m_byClient.find(key(it->client));
            if (byClient != m_byClient.end() && byClient->second == &*it)
                m_byClient.erase(byClient);
            it = m_sessions.erase(it);
        }
    }

    void detach(Sock& sock) {
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, sock.fd, nullptr);
        sock.session = nullptr;
    }

    Options m_o;
    std::mt19937_64 m_rng;
    Clock::duration m_delay{}, m_hold{}, m_idle{};
    int m_epoll = -1;
    std::shared_ptr<Sock> m_listen;
    std::list<Session> m_sessions; // stable addresses: sockets point to their session
    std::unordered_map<uint64_t, Session*> m_byClient;
    std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> m_queue;
    uint64_t m_seq = 0;
    struct {
        unsigned long long toServer = 0, toClient = 0, lost = 0, duplicated = 0, reordered = 0,
                           sent = 0, sendErrors = 0, sessions = 0;
    } m_count;
};

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    // Two descriptors per transfer at least: take all the system allows.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    // Wake on time: the default 50 µs of timer slack per wait would add a tenth of a
    // millisecond to an emulated 0.5 ms round trip.
    prctl(PR_SET_TIMERSLACK, 1UL);
    return Relay(o).run();
}
