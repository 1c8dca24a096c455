// Load client for the benchmarks and the soak run: many TFTP transfers from one process,
// every byte checked. Without options they are lock-step RFC 1350 (plain RRQ/WRQ).
//
//   loadclient --port N --mode MODE --file NAME [--expect PATH] [--count C]
//              [--concurrency K] [--server IP] [--bind IP] [--timeout MS]
//              [--retries R] [--wall-limit S] [--results PATH]
//              [--blksize N] [--windowsize N] [--tsize]
//
// Modes: get (download, compared with --expect), put (upload of --expect),
// missing (RRQ that must get ERROR 1), refused (RRQ that must get ERROR 2),
// badmode (RRQ with mode "mail": no answer is expected, none is waited for),
// vanish (takes DATA 1, then goes away), error (takes DATA 1, answers with ERROR).
// A "%d" in --file is replaced by the transfer's index, so uploads can use new names.
// A packet is repeated every --timeout ms, at most --retries times without an answer.
// Prints one line: ok=, failed=, seconds=, bytes=, mib_per_s=, us_per_transfer=, the
// smallest block size and window any finished transfer ran with (blksize=, windowsize=:
// what the OACK granted, 512 and 1 without one), then how the failed ones failed:
// error_seen= (an ERROR came), corrupt= (wrong or missing bytes), hung= (the server fell
// silent, or the wall-clock limit came first), unconfirmed= (an upload whose last block
// was never acknowledged: whether it arrived is the server's to tell). --results writes
// one line per transfer: its index and one of ok, error_seen, corrupt, hung, unconfirmed,
// failed.
//
// --blksize, --windowsize and --tsize ask for those options (RFC 2347/2348/2349/7440) in
// the request; what the OACK grants is used, and a server that answers with DATA or
// ACK 0 instead gets plain RFC 1350. Windowed downloads acknowledge the end of each
// window, the last block, and a gap once (with the last block in order); stale copies
// are left to the time-out, which acknowledges the last block in order again. Windowed
// uploads send a window, go on after the block an ACK names, and resend from the last
// acknowledged block on a time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Mode { Get, Put, Missing, Refused, BadMode, Vanish, Error };

enum class Outcome { Ok, ErrorSeen, Corrupt, Hung, Unconfirmed, Failed };

const char* outcomeName(Outcome o) {
    switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::ErrorSeen: return "error_seen";
    case Outcome::Corrupt: return "corrupt";
    case Outcome::Hung: return "hung";
    case Outcome::Unconfirmed: return "unconfirmed";
    case Outcome::Failed: return "failed";
    }
    return "failed";
}

struct Options {
    std::string server = "127.0.0.1";
    std::string bind = "127.0.0.1";
    int port = 69;
    Mode mode = Mode::Get;
    std::string file;
    std::string expect;
    long count = 1;
    int concurrency = 1;
    int timeoutMs = 1000;
    int retries = 5;
    long wallLimitS = 600; // the whole run never takes longer than this
    std::string results;
    int blksize = 0;    // 0: not asked for
    int windowsize = 0; // 0: not asked for
    bool tsize = false;
};

struct Transfer {
    int fd = -1;
    long index = 0;
    sockaddr_in peer{}; // the server's transfer port once known
    bool havePeer = false;
    uint16_t block = 0;    // get: next expected DATA
    size_t offset = 0;     // get: bytes checked
    bool lastSent = false; // put: the short block went out
    int retries = 0;
    Clock::time_point deadline;
    std::vector<char> packet; // what a time-out repeats (get, and requests)
    int packetLen = 0;
    bool toRequestPort = true; // the last packet went to the server's request port
    bool negotiating = false;  // options asked, neither OACK nor a plain answer yet
    size_t blksize = 512;
    long window = 1;
    long sinceAck = 0;     // get: blocks in order since our last ACK
    bool gapAcked = false; // get: this gap has had its ACK
    bool started = false;  // put: the server took the request
    long acked = 0, sent = 0; // put: blocks acknowledged and sent, counted from 1
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "loadclient: %s\n", why);
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tsize") {
            o.tsize = true;
            continue;
        }
        if (i + 1 >= argc)
            usage(("missing value for " + a).c_str());
        const char* v = argv[++i];
        if (a == "--server")
            o.server = v;
        else if (a == "--bind")
            o.bind = v;
        else if (a == "--port")
            o.port = std::atoi(v);
        else if (a == "--file")
            o.file = v;
        else if (a == "--expect")
            o.expect = v;
        else if (a == "--count")
            o.count = std::atol(v);
        else if (a == "--concurrency")
            o.concurrency = std::atoi(v);
        else if (a == "--timeout")
            o.timeoutMs = std::atoi(v);
        else if (a == "--retries")
            o.retries = std::atoi(v);
        else if (a == "--wall-limit")
            o.wallLimitS = std::atol(v);
        else if (a == "--results")
            o.results = v;
        else if (a == "--blksize")
            o.blksize = std::atoi(v);
        else if (a == "--windowsize")
            o.windowsize = std::atoi(v);
        else if (a == "--mode") {
            const std::string m = v;
            if (m == "get")
                o.mode = Mode::Get;
            else if (m == "put")
                o.mode = Mode::Put;
            else if (m == "missing")
                o.mode = Mode::Missing;
            else if (m == "refused")
                o.mode = Mode::Refused;
            else if (m == "badmode")
                o.mode = Mode::BadMode;
            else if (m == "vanish")
                o.mode = Mode::Vanish;
            else if (m == "error")
                o.mode = Mode::Error;
            else
                usage("unknown mode");
        } else
            usage(("unknown option " + a).c_str());
    }
    if (o.file.empty())
        usage("--file is required");
    if (o.count < 1 || o.concurrency < 1)
        usage("--count and --concurrency must be positive");
    if (o.blksize != 0 && (o.blksize < 8 || o.blksize > 65464))
        usage("--blksize must be 8..65464");
    if (o.windowsize != 0 && (o.windowsize < 1 || o.windowsize > 65535))
        usage("--windowsize must be 1..65535");
    return o;
}

void put16(char* p, uint16_t v) {
    p[0] = char(v >> 8);
    p[1] = char(v & 0xff);
}
uint16_t get16(const char* p) {
    return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

class Runner {
public:
    explicit Runner(const Options& o) : m_o(o) {
        if (!o.expect.empty()) {
            std::ifstream in(o.expect, std::ios::binary);
            if (!in)
                usage("cannot read --expect file");
            m_content.assign(std::istreambuf_iterator<char>(in), {});
        } else if (o.mode == Mode::Get || o.mode == Mode::Put) {
            usage("--expect is required for get and put");
        }
        m_server.sin_family = AF_INET;
        m_server.sin_port = htons(uint16_t(o.port));
        if (inet_pton(AF_INET, o.server.c_str(), &m_server.sin_addr) != 1)
            usage("bad --server address");
        m_bind.sin_family = AF_INET;
        if (inet_pton(AF_INET, o.bind.c_str(), &m_bind.sin_addr) != 1)
            usage("bad --bind address");
        m_in.resize(65536);
        m_out.resize(4 + size_t(std::max(512, o.blksize)));
    }

    int run() {
        const auto start = Clock::now();
        const auto wallEnd = start + std::chrono::seconds(m_o.wallLimitS);
        std::vector<Transfer> live;
        std::vector<pollfd> fds;
        long started = 0;
        while (started < m_o.count || !live.empty()) {
            while (started < m_o.count && long(live.size()) < m_o.concurrency) {
                Transfer t;
                if (begin(t, started++))
                    live.push_back(t);
            }
            if (live.empty())
                continue;
            if (Clock::now() > wallEnd) {
                std::fprintf(stderr, "loadclient: wall-clock limit reached\n");
                for (Transfer& t : live)
                    finish(t, Outcome::Hung);
                live.clear();
                break;
            }
            fds.resize(live.size());
            auto next = live.front().deadline;
            for (size_t i = 0; i < live.size(); ++i) {
                fds[i] = {live[i].fd, POLLIN, 0};
                if (live[i].deadline < next)
                    next = live[i].deadline;
            }
            const auto waitMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            const int n = poll(fds.data(), fds.size(), int(std::max<long long>(0, waitMs + 1)));
            if (n < 0 && errno != EINTR) {
                std::perror("poll");
                return 1;
            }
            const auto now = Clock::now();
            for (size_t i = 0; i < live.size(); ++i) {
                Transfer& t = live[i];
                bool done = false;
                Outcome out = Outcome::Failed;
                if (fds[i].revents & POLLIN)
                    done = receive(t, &out);
                else if (now >= t.deadline)
                    done = expire(t, &out);
                if (done) {
                    finish(t, out);
                    t.fd = -1;
                }
            }
            std::erase_if(live, [](const Transfer& t) { return t.fd < 0; });
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("ok=%ld failed=%ld seconds=%.6f bytes=%lld mib_per_s=%.3f "
                    "us_per_transfer=%.2f blksize=%zu windowsize=%ld error_seen=%ld corrupt=%ld "
                    "hung=%ld unconfirmed=%ld\n",
                    m_ok, m_failed, seconds, m_bytes, double(m_bytes) / seconds / 1048576.0,
                    seconds * 1e6 / double(m_o.count), m_minBlksize ? m_minBlksize : 512,
                    m_minWindow ? m_minWindow : 1, m_outcomes[Outcome::ErrorSeen],
                    m_outcomes[Outcome::Corrupt], m_outcomes[Outcome::Hung],
                    m_outcomes[Outcome::Unconfirmed]);
        if (!m_o.results.empty()) {
            FILE* f = std::fopen(m_o.results.c_str(), "w");
            if (!f) {
                std::perror("loadclient: --results");
                return 1;
            }
            for (const auto& [index, outcome] : m_results)
                std::fprintf(f, "%ld %s\n", index, outcomeName(outcome));
            std::fclose(f);
        }
        return m_failed == 0 ? 0 : 1;
    }

private:
    std::string name(long index) const {
        const size_t at = m_o.file.find("%d");
        if (at == std::string::npos)
            return m_o.file;
        return m_o.file.substr(0, at) + std::to_string(index) + m_o.file.substr(at + 2);
    }

    bool begin(Transfer& t, long index) {
        t = Transfer{};
        t.index = index;
        t.fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (t.fd < 0 ||
            bind(t.fd, reinterpret_cast<const sockaddr*>(&m_bind), sizeof m_bind) != 0) {
            std::perror("loadclient: socket");
            finish(t, Outcome::Failed);
            return false;
        }
        const std::string file = name(index);
        const char* mode = m_o.mode == Mode::BadMode ? "mail" : "octet";
        const uint16_t opcode = m_o.mode == Mode::Put ? 2 : 1;
        std::string request = file + '\0' + mode + '\0';
        auto option = [&](const char* key, long long value) {
            request += std::string(key) + '\0' + std::to_string(value) + '\0';
            t.negotiating = true;
        };
        if (m_o.blksize)
            option("blksize", m_o.blksize);
        if (m_o.windowsize)
            option("windowsize", m_o.windowsize);
        if (m_o.tsize)
            option("tsize", m_o.mode == Mode::Put ? (long long)m_content.size() : 0);
        t.packet.resize(std::max<size_t>(516, 2 + request.size()));
        put16(t.packet.data(), opcode);
        std::memcpy(t.packet.data() + 2, request.data(), request.size());
        t.packetLen = int(2 + request.size());
        t.block = 1;
        send(t);
        if (m_o.mode == Mode::BadMode) {
            // A refused request gets no answer: nothing to wait for.
            finish(t, Outcome::Ok);
            return false;
        }
        return true;
    }

    void send(Transfer& t) {
        const sockaddr_in& to = t.havePeer ? t.peer : m_server;
        t.toRequestPort = !t.havePeer;
        sendto(t.fd, t.packet.data(), size_t(t.packetLen), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
        t.deadline = Clock::now() + std::chrono::milliseconds(m_o.timeoutMs);
    }

    // The ACK a time-out repeats, not sent yet (inside a window).
    void setAck(Transfer& t, uint16_t block) {
        put16(t.packet.data(), 4);
        put16(t.packet.data() + 2, block);
        t.packetLen = 4;
        t.toRequestPort = !t.havePeer;
        t.deadline = Clock::now() + std::chrono::milliseconds(m_o.timeoutMs);
    }

    void sendAck(Transfer& t, uint16_t block) {
        setAck(t, block);
        send(t);
        t.sinceAck = 0;
    }

    void sendError(Transfer& t, uint16_t code = 0, const char* text = "bye") {
        put16(t.packet.data(), 5);
        put16(t.packet.data() + 2, code);
        const size_t len = std::strlen(text) + 1;
        std::memcpy(t.packet.data() + 4, text, len);
        t.packetLen = int(4 + len);
        send(t);
    }

    long lastBlock(const Transfer& t) const { return long(m_content.size() / t.blksize) + 1; }

    // Sends the upload's window after the last acknowledged block.
    void sendWindow(Transfer& t) {
        const long end = std::min(t.acked + t.window, lastBlock(t));
        for (long b = t.acked + 1; b <= end; ++b) {
            const size_t at = size_t(b - 1) * t.blksize;
            const size_t n = std::min(t.blksize, m_content.size() - at);
            put16(m_out.data(), 3);
            put16(m_out.data() + 2, uint16_t(b));
            std::memcpy(m_out.data() + 4, m_content.data() + at, n);
            sendto(t.fd, m_out.data(), n + 4, 0, reinterpret_cast<const sockaddr*>(&t.peer),
                   sizeof t.peer);
        }
        t.sent = std::max(t.sent, end);
        t.lastSent = t.sent == lastBlock(t);
        t.toRequestPort = false;
        t.deadline = Clock::now() + std::chrono::milliseconds(m_o.timeoutMs);
    }

    // Takes what the OACK grants; false (with ERROR 8 sent) for what was not asked.
    bool acceptOack(Transfer& t, const char* in, size_t n) {
        t.negotiating = false;
        const char* p = in + 2;
        const char* end = in + n;
        while (p < end) {
            const char* key = p;
            const char* keyEnd = static_cast<const char*>(std::memchr(p, 0, size_t(end - p)));
            if (!keyEnd)
                break;
            const char* value = keyEnd + 1;
            const char* valueEnd =
                value < end ? static_cast<const char*>(std::memchr(value, 0, size_t(end - value)))
                            : nullptr;
            if (!valueEnd)
                break;
            const long long v = std::atoll(value);
            const std::string k(key, keyEnd);
            bool good = false;
            if (strcasecmp(k.c_str(), "blksize") == 0 && m_o.blksize) {
                good = v >= 8 && v <= m_o.blksize;
                t.blksize = size_t(v);
            } else if (strcasecmp(k.c_str(), "windowsize") == 0 && m_o.windowsize) {
                good = v >= 1 && v <= m_o.windowsize;
                t.window = long(v);
            } else if (strcasecmp(k.c_str(), "tsize") == 0 && m_o.tsize) {
                good = v == (long long)m_content.size();
            }
            if (!good) {
                std::fprintf(stderr, "loadclient: transfer %ld: OACK %s=%s not acceptable\n",
                             t.index, k.c_str(), value);
                sendError(t, 8, "option not acceptable");
                return false;
            }
            p = valueEnd + 1;
        }
        return true;
    }

    // Handles one datagram; returns true when the transfer is over (*out tells how).
    bool receive(Transfer& t, Outcome* out) {
        char* in = m_in.data();
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            recvfrom(t.fd, in, m_in.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 4)
            return false;
        if (!t.havePeer) {
            t.peer = from;
            t.havePeer = true;
        } else if (from.sin_port != t.peer.sin_port) {
            return false; // someone else's packet
        }
        const uint16_t op = get16(in), block = get16(in + 2);
        if (op == 5) {
            const uint16_t code = block;
            const bool expected = (m_o.mode == Mode::Missing && code == 1) ||
                                  (m_o.mode == Mode::Refused && code == 2);
            *out = expected ? Outcome::Ok : Outcome::ErrorSeen;
            if (!expected)
                std::fprintf(stderr, "loadclient: transfer %ld: ERROR %u %.*s\n", t.index,
                             unsigned(code), int(n - 4), in + 4);
            return true;
        }
        switch (m_o.mode) {
        case Mode::Missing:
        case Mode::Refused:
            std::fprintf(stderr, "loadclient: transfer %ld: served, not refused\n", t.index);
            *out = Outcome::Failed;
            return true;
        case Mode::Vanish:
            *out = op == 3 ? Outcome::Ok : Outcome::Failed; // go away without a word
            return true;
        case Mode::Error:
            if (op == 3)
                sendError(t);
            *out = op == 3 ? Outcome::Ok : Outcome::Failed;
            return true;
        case Mode::Get:
            return receiveData(t, op, block, in, size_t(n), out);
        case Mode::Put:
            return receiveAck(t, op, block, in, size_t(n), out);
        case Mode::BadMode:
            break;
        }
        return false;
    }

    bool receiveData(Transfer& t, uint16_t op, uint16_t block, const char* in, size_t n,
                     Outcome* out) {
        if (op == 6 && t.negotiating) {
            if (!acceptOack(t, in, n)) {
                *out = Outcome::Failed;
                return true;
            }
            sendAck(t, 0);
            return false;
        }
        if (op == 6 && t.block == 1 && t.offset == 0) { // our ACK 0 was lost
            sendAck(t, 0);
            return false;
        }
        if (op != 3)
            return false;
        if (t.negotiating) { // DATA without an OACK: plain RFC 1350
            t.negotiating = false;
            t.blksize = 512;
            t.window = 1;
        }
        if (block != t.block) {
            if (t.window == 1) {
                if (block == uint16_t(t.block - 1)) // our ACK was lost: say it again
                    sendAck(t, block);
            } else if (uint16_t(block - t.block) < 0x8000 && !t.gapAcked) {
                sendAck(t, uint16_t(t.block - 1)); // a gap: once, from the last in order
                t.gapAcked = true;
            }
            return false;
        }
        const size_t len = n - 4;
        if (t.offset + len > m_content.size() ||
            std::memcmp(m_content.data() + t.offset, in + 4, len) != 0) {
            std::fprintf(stderr, "loadclient: transfer %ld: wrong bytes in block %u\n", t.index,
                         unsigned(block));
            *out = Outcome::Corrupt;
            return true;
        }
        t.offset += len;
        t.retries = 0;
        t.gapAcked = false;
        const bool last = len < t.blksize;
        if (last || ++t.sinceAck >= t.window)
            sendAck(t, block);
        else
            setAck(t, block);
        ++t.block;
        if (last) {
            *out = t.offset == m_content.size() ? Outcome::Ok : Outcome::Corrupt;
            if (*out == Outcome::Ok)
                m_bytes += (long long)t.offset;
            else
                std::fprintf(stderr, "loadclient: transfer %ld: short file\n", t.index);
            return true;
        }
        return false;
    }

    bool receiveAck(Transfer& t, uint16_t op, uint16_t block, const char* in, size_t n,
                    Outcome* out) {
        if (!t.started) {
            if (op == 6 && t.negotiating) {
                if (!acceptOack(t, in, n)) {
                    *out = Outcome::Failed;
                    return true;
                }
            } else if (op == 4 && block == 0) { // ACK 0: plain RFC 1350
                t.negotiating = false;
                t.blksize = 512;
                t.window = 1;
            } else {
                return false;
            }
            t.started = true;
            t.retries = 0;
            sendWindow(t);
            return false;
        }
        if (op != 4)
            return false;
        const long ahead = uint16_t(block - uint16_t(t.acked));
        if (ahead == 0 || ahead > t.sent - t.acked)
            return false; // stale or duplicated: the timer resends if need be
        t.acked += ahead;
        if (t.acked == lastBlock(t)) {
            m_bytes += (long long)m_content.size();
            *out = Outcome::Ok;
            return true;
        }
        t.retries = 0;
        sendWindow(t);
        return false;
    }

    bool expire(Transfer& t, Outcome* out) {
        if (++t.retries > m_o.retries) {
            const bool lastUnanswered = m_o.mode == Mode::Put && t.lastSent;
            std::fprintf(stderr, "loadclient: transfer %ld: %s", t.index,
                         lastUnanswered ? "last block not acknowledged"
                                        : "server not responding");
            if (m_o.blksize || m_o.windowsize || m_o.tsize) // where it stopped
                std::fprintf(stderr, " (%s, blksize %zu, window %ld, %s %ld)",
                             t.negotiating ? "no OACK"
                             : t.havePeer  ? "negotiated"
                                           : "no answer",
                             t.blksize, t.window, m_o.mode == Mode::Put ? "acked" : "in order",
                             m_o.mode == Mode::Put ? t.acked : long(t.offset / t.blksize));
            std::fputc('\n', stderr);
            *out = lastUnanswered ? Outcome::Unconfirmed : Outcome::Hung;
            return true;
        }
        if (m_o.mode == Mode::Put && t.started) {
            sendWindow(t); // again from the last acknowledged block
            return false;
        }
        const sockaddr_in& to = t.toRequestPort ? m_server : t.peer;
        sendto(t.fd, t.packet.data(), size_t(t.packetLen), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
        t.deadline = Clock::now() + std::chrono::milliseconds(m_o.timeoutMs);
        t.sinceAck = 0;
        return false;
    }

    void finish(Transfer& t, Outcome out) {
        if (t.fd >= 0)
            close(t.fd);
        out == Outcome::Ok ? ++m_ok : ++m_failed;
        ++m_outcomes[out];
        if (!m_minBlksize || t.blksize < m_minBlksize)
            m_minBlksize = t.blksize;
        if (!m_minWindow || t.window < m_minWindow)
            m_minWindow = t.window;
        if (!m_o.results.empty())
            m_results[t.index] = out;
    }

    Options m_o;
    std::vector<char> m_content;
    std::vector<char> m_in, m_out; // one datagram in, one DATA out
    sockaddr_in m_server{}, m_bind{};
    long m_ok = 0, m_failed = 0;
    std::map<Outcome, long> m_outcomes;
    std::map<long, Outcome> m_results;
    long long m_bytes = 0;
    size_t m_minBlksize = 0; // 0: no transfer finished
    long m_minWindow = 0;
};

} // namespace

int main(int argc, char** argv) {
    return Runner(parse(argc, argv)).run();
}
