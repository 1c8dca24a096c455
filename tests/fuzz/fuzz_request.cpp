// Request parsing and admission: the datagram as it reaches the listener, with the
// security settings chosen by the first byte.
#include "FuzzSupport.h"
#include "engine/tftp/TftpPacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t flags = data[0];
    const char* request = reinterpret_cast<const char*>(data + 1);
    const qint64 length = qint64(size - 1);

    // The parser alone sees the whole datagram; the listener cuts it to 256 bytes.
    const Tftp::Request parsed = Tftp::ParseRequest(request, length);
    if (parsed.status == Tftp::Request::Ok && parsed.fileName.size() > Tftp::kMaxFileName)
        __builtin_trap();

    FuzzServer server(flags & 4, 20);
    CServerEngine& engine = server.engine();
    AccessRules rules;
    rules.allowClient = flags & 1;
    rules.clients[0] = QStringLiteral("127.0.0.1");
    rules.sendFile = flags & 2;
    rules.fileEdit = QStringLiteral("f");
    engine.SetRules(rules);
    engine.SetSoundOn(flags & 8);

    const QByteArray datagram(request, int(length));
    const quint16 clientPort = quint16(40000 + (flags >> 4));
    server.platform().net.deliver(69, datagram, QHostAddress::LocalHost, clientPort);
    // The client repeating its request, then a second client with the same one.
    server.platform().net.deliver(69, datagram, QHostAddress::LocalHost, clientPort);
    server.platform().net.deliver(69, datagram, QHostAddress(QStringLiteral("127.0.0.2")),
                                  clientPort);
    // Every time-out runs out: the transfers give up.
    server.platform().clock().advance(200000);
    if (engine.m_nActiveTransfers < 0)
        __builtin_trap();
    return 0;
}
