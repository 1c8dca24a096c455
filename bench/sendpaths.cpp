// The cost of one send on loopback by the ways a server can send, CPU time of this
// process per datagram (on loopback the receive runs in the sender's system call, so
// the figures include delivery; a reader drains it with recvmmsg every 32 datagrams):
//
//   sendpaths [ROUNDS]
//
//   sendto     516 bytes to an address on an unconnected socket (what a transfer does)
//   send       the same on a socket connected to the reader (no route look-up per send)
//   sendmmsg   a window of 16 blocks of 1472 bytes in one call
//   segmented  the same window as one UDP_SEGMENT send the kernel cuts in 16
//
// Prints name=us_per_datagram lines. Not run by CI.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int reader = -1;
mmsghdr readMsgs[64];
iovec readIov[64];
char readBuf[64][2048];

int drain() {
    int total = 0, n;
    while ((n = recvmmsg(reader, readMsgs, 64, MSG_DONTWAIT, nullptr)) > 0)
        total += n;
    return total;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 200000;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof to;
    reader = socket(AF_INET, SOCK_DGRAM, 0);
    const int big = 8 << 20;
    setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    if (bind(reader, reinterpret_cast<sockaddr*>(&to), len) != 0 ||
        getsockname(reader, reinterpret_cast<sockaddr*>(&to), &len) != 0) {
        std::perror("bind");
        return 1;
    }
    for (int i = 0; i < 64; ++i) {
        readIov[i] = {readBuf[i], sizeof readBuf[i]};
        readMsgs[i].msg_hdr = {};
        readMsgs[i].msg_hdr.msg_iov = &readIov[i];
        readMsgs[i].msg_hdr.msg_iovlen = 1;
    }
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    static char data[65536];
    std::memset(data, 7, sizeof data);

    const int plain = socket(AF_INET, SOCK_DGRAM, 0);
    bind(plain, reinterpret_cast<sockaddr*>(&self), sizeof self);
    double t0 = cpuSeconds();
    for (int i = 0; i < rounds; ++i) {
        sendto(plain, data, 516, 0, reinterpret_cast<sockaddr*>(&to), len);
        if (i % 32 == 31)
            drain();
    }
    std::printf("sendto=%.3f\n", (cpuSeconds() - t0) / rounds * 1e6);
    drain();

    const int connected = socket(AF_INET, SOCK_DGRAM, 0);
    bind(connected, reinterpret_cast<sockaddr*>(&self), sizeof self);
    connect(connected, reinterpret_cast<sockaddr*>(&to), len);
    t0 = cpuSeconds();
    for (int i = 0; i < rounds; ++i) {
        send(connected, data, 516, 0);
        if (i % 32 == 31)
            drain();
    }
    std::printf("send=%.3f\n", (cpuSeconds() - t0) / rounds * 1e6);
    drain();

    constexpr int kWindow = 16, kBlock = 1472;
    const int windows = rounds / kWindow;
    mmsghdr msgs[kWindow];
    iovec iov[kWindow];
    for (int i = 0; i < kWindow; ++i) {
        iov[i] = {data + i * kBlock, size_t(kBlock)};
        msgs[i].msg_hdr = {};
        msgs[i].msg_hdr.msg_name = &to;
        msgs[i].msg_hdr.msg_namelen = len;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    t0 = cpuSeconds();
    for (int i = 0; i < windows; ++i) {
        sendmmsg(plain, msgs, kWindow, 0);
        drain();
    }
    std::printf("sendmmsg=%.3f\n", (cpuSeconds() - t0) / (windows * kWindow) * 1e6);

    iovec whole{data, size_t(kWindow * kBlock)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint16_t))] = {};
    msghdr h{};
    h.msg_name = &to;
    h.msg_namelen = len;
    h.msg_iov = &whole;
    h.msg_iovlen = 1;
    h.msg_control = control;
    h.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&h);
    c->cmsg_level = SOL_UDP;
    c->cmsg_type = UDP_SEGMENT;
    c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
    const uint16_t segment = kBlock;
    std::memcpy(CMSG_DATA(c), &segment, sizeof segment);
    int got = 0;
    t0 = cpuSeconds();
    for (int i = 0; i < windows; ++i) {
        if (sendmsg(plain, &h, 0) < 0) {
            std::perror("UDP_SEGMENT");
            return 1;
        }
        got += drain();
    }
    std::printf("segmented=%.3f datagrams_read=%d of %d\n",
                (cpuSeconds() - t0) / (windows * kWindow) * 1e6, got, windows * kWindow);
    return 0;
}
