// Many DHCP clients at once from one process: each with a MAC of its own does
// DISCOVER -> OFFER -> REQUEST -> ACK, as raw Ethernet broadcasts from port 68 on one
// interface (a packet socket: the clients hold no address yet). All DISCOVERs leave in
// one burst; a client repeats its last message after a second (with jitter) without an
// answer, a bounded number of times. Needs CAP_NET_RAW.
//
//   dhcpstorm --iface IF --clients N [--mac-base B] [--tries T] [--wall-limit S]
//
// Prints one line: clients=, leased=, unanswered= (never offered or never acknowledged),
// naks=, duplicates= (an address given to two clients), seconds_to_last_lease=,
// leases_per_s=, offer_seconds_max= (the slowest first OFFER). Exit 0 when it ran, 2
// for bad usage or a socket it could not open.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

enum : uint8_t { DISCOVER = 1, OFFER = 2, REQUEST = 3, ACK = 5, NAK = 6 };

struct Client {
    uint8_t mac[6];
    uint32_t xid = 0;
    enum { Selecting, Requesting, Bound, GaveUp } state = Selecting;
    uint32_t offered = 0, server = 0, leased = 0;
    int tries = 0;
    Clock::time_point lastSent, nextSend;
    double firstOfferAt = -1;
};

uint16_t Checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += uint32_t(p[i]) << 8 | p[i + 1];
    if (n & 1)
        sum += uint32_t(p[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(~sum);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The whole frame: Ethernet broadcast from the client's MAC, IPv4 0.0.0.0 ->
// 255.255.255.255, UDP 68 -> 67 (no UDP checksum, as IPv4 allows), then the BOOTP message.
std::vector<uint8_t> Frame(const Client& c, uint8_t type) {
    std::vector<uint8_t> dhcp(240, 0);
    dhcp[0] = 1, dhcp[1] = 1, dhcp[2] = 6;
    Put32(&dhcp[4], c.xid);
    dhcp[10] = 0x80; // answer by broadcast: no address to send it to yet
    std::memcpy(&dhcp[28], c.mac, 6);
    const uint8_t cookie[4] = {99, 130, 83, 99};
    std::memcpy(&dhcp[236], cookie, 4);
    auto option = [&](uint8_t code, std::initializer_list<uint8_t> bytes) {
        dhcp.push_back(code);
        dhcp.push_back(uint8_t(bytes.size()));
        dhcp.insert(dhcp.end(), bytes);
    };
    option(53, {type});
    option(61, {1, c.mac[0], c.mac[1], c.mac[2], c.mac[3], c.mac[4], c.mac[5]});
    if (type == REQUEST) {
        const uint32_t a = c.offered, s = c.server;
        option(50, {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)});
        option(54, {uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8), uint8_t(s)});
    }
    option(55, {1, 3, 6, 51, 54});
    dhcp.push_back(255);
    dhcp.resize(std::max<size_t>(dhcp.size(), 300), 0);

    std::vector<uint8_t> f(14 + 20 + 8 + dhcp.size(), 0);
    std::memset(&f[0], 0xff, 6);
    std::memcpy(&f[6], c.mac, 6);
    f[12] = 0x08, f[13] = 0x00;
    uint8_t* ip = &f[14];
    const size_t ipLen = 20 + 8 + dhcp.size();
    ip[0] = 0x45, ip[1] = 0x10, ip[2] = uint8_t(ipLen >> 8), ip[3] = uint8_t(ipLen);
    ip[8] = 64, ip[9] = 17;
    Put32(ip + 16, 0xffffffffu);
    const uint16_t sum = Checksum(ip, 20);
    ip[10] = uint8_t(sum >> 8), ip[11] = uint8_t(sum);
    uint8_t* udp = ip + 20;
    udp[1] = 68, udp[3] = 67;
    udp[4] = uint8_t((8 + dhcp.size()) >> 8), udp[5] = uint8_t(8 + dhcp.size());
    std::memcpy(udp + 8, dhcp.data(), dhcp.size());
    return f;
}

// The DHCP message type of a reply (0: none) and its server identifier.
uint8_t ReplyType(const uint8_t* d, size_t n, uint32_t* serverId) {
    uint8_t type = 0;
    for (size_t i = 240; i < n && d[i] != 255;) {
        if (d[i] == 0) {
            ++i;
            continue;
        }
        if (i + 2 > n || i + 2 + d[i + 1] > n)
            break;
        const uint8_t code = d[i], len = d[i + 1];
        if (code == 53 && len == 1)
            type = d[i + 2];
        if (code == 54 && len == 4)
            *serverId = Get32(d + i + 2);
        i += 2 + len;
    }
    return type;
}
} // namespace

int main(int argc, char** argv) {
    std::string iface;
    int count = 0, tries = 8;
    unsigned macBase = 0;
    double wallLimit = 120;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--iface") iface = argv[i + 1];
        else if (a == "--clients") count = std::atoi(argv[i + 1]);
        else if (a == "--mac-base") macBase = unsigned(std::strtoul(argv[i + 1], nullptr, 0));
        else if (a == "--tries") tries = std::atoi(argv[i + 1]);
        else if (a == "--wall-limit") wallLimit = std::atof(argv[i + 1]);
        else { std::fprintf(stderr, "unknown option %s\n", a.c_str()); return 2; }
    }
    if (iface.empty() || count <= 0 || count > 65536 || tries < 1) {
        std::fprintf(stderr, "usage: dhcpstorm --iface IF --clients N [--mac-base B] [--tries T] [--wall-limit S]\n");
        return 2;
    }
    const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_IP));
    if (fd < 0) { std::perror("packet socket"); return 2; }
    const int big = 16 << 20;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) < 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = int(if_nametoindex(iface.c_str()));
    if (!where.sll_ifindex || ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) < 0) {
        std::perror(iface.c_str());
        return 2;
    }
    sockaddr_ll to = where;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xff, 6);

    std::mt19937 random(std::random_device{}());
    std::vector<Client> clients(static_cast<size_t>(count));
    std::map<uint32_t, size_t> byXid;
    for (int i = 0; i < count; ++i) {
        Client& c = clients[size_t(i)];
        const unsigned n = macBase + unsigned(i);
        const uint8_t mac[6] = {0x02, 0x53, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
        std::memcpy(c.mac, mac, 6);
        do c.xid = random(); while (byXid.count(c.xid));
        byXid[c.xid] = size_t(i);
    }
    const auto start = Clock::now();
    auto send = [&](Client& c, uint8_t type) {
        const std::vector<uint8_t> f = Frame(c, type);
        ::sendto(fd, f.data(), f.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ++c.tries;
        c.lastSent = Clock::now();
        c.nextSend = c.lastSent + std::chrono::milliseconds(1000 + int(random() % 500));
    };
    for (Client& c : clients) // the burst
        send(c, DISCOVER);

    int naks = 0, settled = 0;
    double lastLease = 0;
    const auto deadline = start + std::chrono::milliseconds(int64_t(wallLimit * 1000));
    std::vector<uint8_t> buf(65536);
    while (settled < count && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 20);
        for (int burst = 0; burst < 4096; ++burst) {
            sockaddr_ll from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n <= 0)
                break;
            if (from.sll_pkttype == PACKET_OUTGOING || n < 14 + 20 + 8 + 240)
                continue;
            const uint8_t* ip = buf.data() + 14;
            const size_t ihl = size_t(ip[0] & 15) * 4;
            if ((ip[0] >> 4) != 4 || ip[9] != 17 || size_t(n) < 14 + ihl + 8 + 240)
                continue;
            const uint8_t* udp = ip + ihl;
            if ((udp[2] << 8 | udp[3]) != 68)
                continue;
            const uint8_t* d = udp + 8;
            const size_t len = size_t(n) - 14 - ihl - 8;
            if (d[0] != 2)
                continue;
            const auto it = byXid.find(Get32(d + 4));
            if (it == byXid.end())
                continue;
            Client& c = clients[it->second];
            if (std::memcmp(d + 28, c.mac, 6) != 0)
                continue;
            uint32_t serverId = 0;
            const uint8_t type = ReplyType(d, len, &serverId);
            const double at = std::chrono::duration<double>(Clock::now() - start).count();
            if (type == OFFER && c.state == Client::Selecting) {
                c.offered = Get32(d + 16);
                c.server = serverId;
                if (c.firstOfferAt < 0)
                    c.firstOfferAt = at;
                c.state = Client::Requesting;
                c.tries = 0;
                send(c, REQUEST);
            } else if (type == ACK && c.state == Client::Requesting) {
                c.leased = Get32(d + 16);
                c.state = Client::Bound;
                lastLease = at;
                ++settled;
            } else if (type == NAK && c.state == Client::Requesting) {
                ++naks;
                c.state = Client::Selecting;
                c.tries = 0;
                send(c, DISCOVER);
            }
        }
        const auto now = Clock::now();
        for (Client& c : clients) {
            if ((c.state != Client::Selecting && c.state != Client::Requesting) || now < c.nextSend)
                continue;
            if (c.tries >= tries) {
                c.state = Client::GaveUp;
                ++settled;
                continue;
            }
            send(c, c.state == Client::Selecting ? DISCOVER : REQUEST);
        }
    }
    int leased = 0, duplicates = 0;
    double offerMax = 0;
    std::set<uint32_t> addresses;
    for (const Client& c : clients) {
        if (c.state == Client::Bound) {
            ++leased;
            if (!addresses.insert(c.leased).second)
                ++duplicates;
        }
        offerMax = std::max(offerMax, c.firstOfferAt);
    }
    std::printf("clients=%d leased=%d unanswered=%d naks=%d duplicates=%d "
                "seconds_to_last_lease=%.3f leases_per_s=%.1f offer_seconds_max=%.3f\n",
                count, leased, count - leased, naks, duplicates, lastLease,
                lastLease > 0 ? leased / lastLease : 0.0, offerMax);
    ::close(fd);
    return 0;
}
