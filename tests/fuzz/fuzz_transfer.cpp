// A transfer's packet handling: a request makes the transfer, then the input is a
// sequence of events on its port: raw datagrams, well-formed DATA/ACK/ERROR packets
// with fuzzed numbers, datagrams from a stranger, clock advances, Abort.
#include "FuzzSupport.h"
#include "engine/tftp/TftpPacket.h"
#include "engine/server/TransferSocket.h"

#include <cstddef>
#include <cstdint>

namespace {
QByteArray packet(quint16 opcode, quint16 number, int dataLength) {
    QByteArray p(4 + dataLength, 'd');
    Tftp::PutHeader(p.data(), opcode, number);
    return p;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const bool upload = flags & 1;
    const char* names[] = {"f.bin", "a", "u.bin", "f.bin"};
    const QByteArray name = names[(flags >> 1) & 3];

    FuzzServer server(flags & 8, (flags & 16) ? 1 : 20);
    // Every fourth input negotiates small blocks and a window, so windows are fuzzed too.
    const bool negotiate = flags & 32;
    EngineSettings settings = server.engine().Settings();
    settings.negotiate = negotiate;
    server.engine().SetSettings(settings);
    FakePlatform& p = server.platform();
    const QHostAddress client = QHostAddress::LocalHost;
    const quint16 clientPort = 40000;

    QByteArray request(2, '\0');
    request[1] = char(upload ? Tftp::WRQ : Tftp::RRQ);
    request += name + '\0' + "octet" + '\0';
    if (negotiate)
        request += QByteArray("blksize\0" "100\0" "windowsize\0" "4\0" "tsize\0" "0\0", 33);
    p.net.deliver(69, request, client, clientPort);
    const quint16 port = server.engine().PortCounter();

    size_t i = 1;
    for (int events = 0; i + 1 < size && events < 2000; ++events) {
        const uint8_t kind = data[i] & 7;
        const uint8_t len = data[i + 1];
        i += 2;
        const size_t n = std::min<size_t>(len, size - i);
        const char* payload = reinterpret_cast<const char*>(data + i);
        switch (kind) {
        case 0: // a raw datagram from the client
            p.net.deliver(port, QByteArray(payload, int(n)), client, clientPort);
            i += n;
            break;
        case 1: // a raw datagram from somebody else
            p.net.deliver(port, QByteArray(payload, int(n)), client, clientPort + 1);
            i += n;
            break;
        case 2: { // a well-formed packet: opcode from len, number and length from the payload
            const quint16 number = n >= 2 ? Tftp::Get16(payload) : 0;
            const int dataLength =
                n >= 4 ? (uint8_t(payload[2]) << 8 | uint8_t(payload[3])) % 1100 : 512;
            p.net.deliver(port, packet(quint16(3 + len % 3), number, dataLength), client,
                          clientPort);
            i += std::min<size_t>(n, 4);
            break;
        }
        case 3: // the expected answer to whatever the server sent last
            if (!p.net.sent.isEmpty()) {
                const QByteArray last = p.net.sent.last().data;
                if (last.size() >= 2 && Tftp::Get16(last.constData()) == Tftp::OACK)
                    p.net.deliver(port, upload ? packet(Tftp::DATA, 1, len % 2 ? 100 : len % 100)
                                               : packet(Tftp::ACK, 0, 0),
                                  client, clientPort);
                else if (last.size() >= 4 && Tftp::Get16(last.constData()) == Tftp::DATA)
                    p.net.deliver(port, packet(Tftp::ACK, Tftp::Get16(last.constData() + 2), 0),
                                  client, clientPort);
                else if (last.size() >= 4 && Tftp::Get16(last.constData()) == Tftp::ACK)
                    p.net.deliver(port,
                                  packet(Tftp::DATA, quint16(Tftp::Get16(last.constData() + 2) + 1),
                                         len % 2 ? 512 : len),
                                  client, clientPort);
            }
            break;
        case 4:
            p.clock().advance(qint64(len) * 250);
            break;
        case 5:
            if (len == 0x5a)
                server.engine().OnAbort();
            break;
        case 6: // the request again (a client repeating it)
            p.net.deliver(69, request, client, clientPort);
            break;
        default:
            p.net.takeSent();
            break;
        }
        if (server.engine().m_nActiveTransfers < 0)
            __builtin_trap();
    }
    p.clock().advance(200000);
    return 0;
}
