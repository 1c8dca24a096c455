// The physical limits the servers are measured against, on loopback:
//
//   limit echo PORT            answers every datagram with 4 bytes (the ACK side)
//   limit ping PORT COUNT      sends 516 bytes, waits for the 4-byte reply, COUNT times
//   limit pollserver PORT ROOT the least a lock-step server must do: one thread, poll(),
//                              one socket per transfer, 512 bytes read from the file per
//                              ACK (RRQ) or written per DATA (WRQ); no timers, no rows
//
// ping prints us_per_round_trip= and mib_per_s= (512 data bytes per round trip).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int boundSocket(int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        std::perror("limit: bind");
        std::exit(1);
    }
    return fd;
}

void put16(char* p, uint16_t v) {
    p[0] = char(v >> 8);
    p[1] = char(v & 0xff);
}
uint16_t get16(const char* p) {
    return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

int echo(int port) {
    const int fd = boundSocket(port);
    char buf[1024];
    for (;;) {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            continue;
        sendto(fd, buf, 4, 0, reinterpret_cast<const sockaddr*>(&from), len);
    }
}

int ping(int port, long count) {
    const int fd = boundSocket(0);
    const sockaddr_in to = loopback(port);
    timeval tv{5, 0}; // a lost datagram ends the run instead of hanging it
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char out[516] = {0, 3}, in[64];
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        put16(out + 2, uint16_t(i));
        sendto(fd, out, sizeof out, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (recv(fd, in, sizeof in, 0) != 4) {
            std::fprintf(stderr, "limit: no reply\n");
            return 1;
        }
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("us_per_round_trip=%.3f mib_per_s=%.3f\n", s * 1e6 / double(count),
                double(count) * 512.0 / s / 1048576.0);
    return 0;
}

struct Stream {
    int fd = -1, file = -1;
    sockaddr_in peer{};
    uint16_t block = 0;
    bool writing = false, last = false;
    char packet[516];
    int len = 0;
};

int pollServer(int port, const std::string& root) {
    std::vector<pollfd> fds{{boundSocket(port), POLLIN, 0}};
    std::vector<Stream> streams{Stream{}}; // index 0 is the request socket
    char in[1024];
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n =
                recvfrom(fds[i].fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 4)
                continue;
            if (i == 0) { // a request: a new stream on a port of its own
                in[n < 1024 ? n : 1023] = 0;
                const uint16_t op = get16(in);
                const std::string path = root + "/" + (in + 2);
                Stream s;
                s.writing = op == 2;
                s.file = s.writing
                             ? open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                             : open(path.c_str(), O_RDONLY | O_CLOEXEC);
                if (s.file < 0)
                    continue;
                s.fd = boundSocket(0);
                s.peer = from;
                s.block = 0;
                if (s.writing) {
                    put16(s.packet, 4);
                    put16(s.packet + 2, 0);
                    s.len = 4;
                } else {
                    s.block = 1;
                    const ssize_t r = read(s.file, s.packet + 4, 512);
                    put16(s.packet, 3);
                    put16(s.packet + 2, 1);
                    s.len = int(r) + 4;
                    s.last = r < 512;
                }
                sendto(s.fd, s.packet, size_t(s.len), 0, reinterpret_cast<sockaddr*>(&s.peer),
                       sizeof s.peer);
                fds.push_back({s.fd, POLLIN, 0});
                streams.push_back(s);
                continue;
            }
            Stream& s = streams[i];
            const uint16_t op = get16(in), block = get16(in + 2);
            bool done = false;
            if (!s.writing && op == 4 && block == s.block) {
                if (s.last) {
                    done = true;
                } else {
                    const ssize_t r = read(s.file, s.packet + 4, 512);
                    put16(s.packet + 2, ++s.block);
                    s.len = int(r) + 4;
                    s.last = r < 512;
                }
            } else if (s.writing && op == 3 && block == uint16_t(s.block + 1)) {
                [[maybe_unused]] const ssize_t w = write(s.file, in + 4, size_t(n - 4));
                put16(s.packet + 2, ++s.block);
                done = n < 516;
            }
            sendto(s.fd, s.packet, size_t(s.len), 0, reinterpret_cast<sockaddr*>(&s.peer),
                   sizeof s.peer);
            if (done) {
                close(s.fd);
                close(s.file);
                fds[i].fd = -1; // compacted below
            }
        }
        for (size_t i = fds.size(); i-- > 1;) {
            if (fds[i].fd < 0) {
                fds.erase(fds.begin() + long(i));
                streams.erase(streams.begin() + long(i));
            }
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "echo" && argc == 3)
        return echo(std::atoi(argv[2]));
    if (cmd == "ping" && argc == 4)
        return ping(std::atoi(argv[2]), std::atol(argv[3]));
    if (cmd == "pollserver" && argc == 4)
        return pollServer(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: limit echo PORT | ping PORT COUNT | pollserver PORT ROOT\n");
    return 2;
}
