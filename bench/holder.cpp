// Idle transfers for the scale benchmark: holds COUNT downloads live on a server at once,
// each from a socket (and source port) of its own, so the server's time per block can be
// measured with that many transfers open.
//
//   holder --port N --file NAME --count C [--server IP] [--first-address IP]
//          [--per-address K] [--in-flight F] [--timeout MS] [--retries R]
//          [--wall-limit S] [--hold-limit S]
//
// Each socket sends an RRQ (plain, no options) and takes DATA 1; it never acknowledges
// it, so the transfer stays live until the server's time-out. Sources are --per-address
// sockets on each address from --first-address up (127.0.0.2, 127.0.0.3, ...), which
// keeps every address well inside the namespace's ephemeral port range. At most
// --in-flight requests wait for their first block at a time (the server's listener has
// a bounded receive queue); a request is repeated every --timeout ms, --retries times.
//
// When every request has its answer (or --wall-limit has passed) it prints
//   live= failed= seconds=
// and holds them: SIGTERM, SIGINT or SIGUSR1 (or --hold-limit) ends the hold, sends an
// ERROR to each live transfer so the server frees it at once, and prints
//   released= lost= repeats=
// lost: transfers the server ended meanwhile (an ERROR came); repeats: DATA 1 sent again
// by the server (its time-out). Exits 0 when every transfer was live to the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string server = "127.0.0.1";
    std::string firstAddress = "127.0.0.2";
    int port = 69;
    std::string file;
    long count = 1;
    long perAddress = 1000;
    long inFlight = 128;
    int timeoutMs = 1000;
    int retries = 5;
    long wallLimitS = 300;
    long holdLimitS = 600;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "holder: %s\n", why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + a).c_str());
        const char* v = argv[++i];
        if (a == "--server")
            o.server = v;
        else if (a == "--first-address")
            o.firstAddress = v;
        else if (a == "--port")
            o.port = std::atoi(v);
        else if (a == "--file")
            o.file = v;
        else if (a == "--count")
            o.count = std::atol(v);
        else if (a == "--per-address")
            o.perAddress = std::atol(v);
        else if (a == "--in-flight")
            o.inFlight = std::atol(v);
        else if (a == "--timeout")
            o.timeoutMs = std::atoi(v);
        else if (a == "--retries")
            o.retries = std::atoi(v);
        else if (a == "--wall-limit")
            o.wallLimitS = std::atol(v);
        else if (a == "--hold-limit")
            o.holdLimitS = std::atol(v);
        else
            usage(("unknown option " + a).c_str());
    }
    if (o.file.empty())
        usage("--file is required");
    if (o.count < 1 || o.perAddress < 1 || o.inFlight < 1)
        usage("--count, --per-address and --in-flight must be positive");
    return o;
}

void put16(char* p, uint16_t v) {
    p[0] = char(v >> 8);
    p[1] = char(v & 0xff);
}
uint16_t get16(const char* p) {
    return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

// One descriptor per transfer, and a few besides: raise the soft limit, and the hard
// one too when allowed (root), as far as that needs.
void raiseDescriptorLimit(long transfers) {
    const rlim_t need = rlim_t(transfers) + 64;
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur >= need)
        return;
    if (lim.rlim_max < need)
        lim.rlim_max = need;
    lim.rlim_cur = need;
    if (setrlimit(RLIMIT_NOFILE, &lim) != 0) {
        std::fprintf(stderr, "holder: cannot raise the descriptor limit to %lu: %s\n",
                     (unsigned long)need, std::strerror(errno));
        std::exit(1);
    }
}

enum class State { Waiting, Live, Failed, Lost };

struct Hold {
    int fd = -1;
    State state = State::Waiting;
    sockaddr_in peer{};
    int retries = 0;
    Clock::time_point deadline;
};

class Holder {
public:
    explicit Holder(const Options& o) : m_o(o) {
        m_server.sin_family = AF_INET;
        m_server.sin_port = htons(uint16_t(o.port));
        if (inet_pton(AF_INET, o.server.c_str(), &m_server.sin_addr) != 1)
            usage("bad --server address");
        in_addr first{};
        if (inet_pton(AF_INET, o.firstAddress.c_str(), &first) != 1)
            usage("bad --first-address");
        m_firstAddress = ntohl(first.s_addr);
        const std::string request = o.file + '\0' + "octet" + '\0';
        m_request.resize(2 + request.size());
        put16(m_request.data(), 1);
        std::memcpy(m_request.data() + 2, request.data(), request.size());
        m_holds.resize(size_t(o.count));
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        // The signals that end the hold arrive through the same epoll set.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGUSR1);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        m_signal = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kSignalKey;
        if (m_epoll < 0 || m_signal < 0 || epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_signal, &ev) != 0) {
            std::perror("holder: epoll");
            std::exit(1);
        }
    }

    int run() {
        const auto start = Clock::now();
        const auto wallEnd = start + std::chrono::seconds(m_o.wallLimitS);
        long next = 0;
        std::deque<long> waiting; // in send order: the oldest deadline first
        while ((next < m_o.count || !waiting.empty()) && !m_stop) {
            while (next < m_o.count && long(waiting.size()) < m_o.inFlight) {
                if (begin(next))
                    waiting.push_back(next);
                ++next;
            }
            if (Clock::now() > wallEnd) {
                std::fprintf(stderr, "holder: wall-clock limit reached\n");
                break;
            }
            int waitMs = 100;
            if (!waiting.empty()) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    m_holds[size_t(waiting.front())].deadline - Clock::now());
                waitMs = int(std::clamp<long long>(left.count() + 1, 0, 100));
            }
            poll(waitMs);
            const auto now = Clock::now();
            // Answered ones leave the queue; expired ones are sent again, to its end.
            for (size_t i = 0, n = waiting.size(); i < n; ++i) {
                const long index = waiting.front();
                waiting.pop_front();
                Hold& h = m_holds[size_t(index)];
                if (h.state != State::Waiting)
                    continue;
                if (now >= h.deadline) {
                    if (++h.retries > m_o.retries) {
                        fail(h, "no DATA 1");
                        continue;
                    }
                    sendRequest(h);
                }
                waiting.push_back(index);
            }
        }
        for (Hold& h : m_holds)
            if (h.state == State::Waiting)
                fail(h, "not answered in time");
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("live=%ld failed=%ld seconds=%.3f\n", m_live, m_failed, seconds);
        std::fflush(stdout);

        const auto holdEnd = Clock::now() + std::chrono::seconds(m_o.holdLimitS);
        while (!m_stop && Clock::now() < holdEnd)
            poll(1000);
        if (!m_stop)
            std::fprintf(stderr, "holder: hold limit reached\n");
        // Tell the server, so it frees the transfers now rather than at its time-out.
        char error[] = "\0\5\0\0done";
        long released = 0;
        for (Hold& h : m_holds) {
            if (h.state != State::Live)
                continue;
            sendto(h.fd, error, sizeof error, 0, reinterpret_cast<const sockaddr*>(&h.peer),
                   sizeof h.peer);
            ++released;
        }
        std::printf("released=%ld lost=%ld repeats=%ld\n", released, m_lost, m_repeats);
        std::fflush(stdout);
        return m_failed == 0 && m_lost == 0 ? 0 : 1;
    }

private:
    static constexpr uint64_t kSignalKey = ~uint64_t(0);

    bool begin(long index) {
        Hold& h = m_holds[size_t(index)];
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(m_firstAddress + uint32_t(index / m_o.perAddress));
        h.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = uint64_t(index);
        if (h.fd < 0 || bind(h.fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, h.fd, &ev) != 0) {
            std::fprintf(stderr, "holder: socket %ld: %s\n", index, std::strerror(errno));
            fail(h, nullptr);
            return false;
        }
        sendRequest(h);
        return true;
    }

    void sendRequest(Hold& h) {
        sendto(h.fd, m_request.data(), m_request.size(), 0,
               reinterpret_cast<const sockaddr*>(&m_server), sizeof m_server);
        h.deadline = Clock::now() + std::chrono::milliseconds(m_o.timeoutMs);
    }

    void fail(Hold& h, const char* why) {
        if (why && m_failed < 5)
            std::fprintf(stderr, "holder: transfer %ld: %s\n", long(&h - m_holds.data()), why);
        h.state = State::Failed;
        ++m_failed;
    }

    void poll(int timeoutMs) {
        epoll_event events[256];
        const int n = epoll_wait(m_epoll, events, 256, timeoutMs);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == kSignalKey) {
                m_stop = true;
                continue;
            }
            receive(m_holds[size_t(events[i].data.u64)]);
        }
    }

    void receive(Hold& h) {
        for (;;) { // drain: a repeated DATA 1 may wait behind the first
            char in[600];
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n =
                recvfrom(h.fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0)
                return;
            if (n < 4)
                continue;
            const uint16_t op = get16(in), block = get16(in + 2);
            if (h.state == State::Waiting) {
                if (op == 3 && block == 1) {
                    h.peer = from;
                    h.state = State::Live;
                    ++m_live;
                } else {
                    fail(h, op == 5 ? "ERROR instead of DATA 1" : "not DATA 1");
                    if (op == 5 && m_failed <= 5)
                        std::fprintf(stderr, "holder:   ERROR %u %.*s\n", unsigned(block),
                                     int(n - 4), in + 4);
                }
            } else if (h.state == State::Live && from.sin_port == h.peer.sin_port) {
                if (op == 3 && block == 1) {
                    ++m_repeats;
                } else if (op == 5) {
                    h.state = State::Lost;
                    --m_live;
                    ++m_lost;
                }
            }
        }
    }

    Options m_o;
    sockaddr_in m_server{};
    uint32_t m_firstAddress = 0;
    std::vector<char> m_request;
    std::vector<Hold> m_holds;
    int m_epoll = -1, m_signal = -1;
    bool m_stop = false;
    long m_live = 0, m_failed = 0, m_lost = 0, m_repeats = 0;
};

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    raiseDescriptorLimit(o.count);
    return Holder(o).run();
}
