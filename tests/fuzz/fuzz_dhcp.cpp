// The DHCP codec on a datagram as it reaches port 67 or 4011: reading it (with and
// without plain BOOTP), classifying the client, and the answer built from what was
// read, which must read back with the same transaction, hardware address and boot file.
#include "engine/bootp/DhcpPacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    for (const bool bootp : {false, true}) {
        Dhcp::Packet request;
        if (!Dhcp::Parse(bytes, qint64(size), &request, bootp))
            continue;
        if (request.op != 1 || request.hlen > 16 || request.chaddr.size() != 16)
            __builtin_trap();
        (void)request.macText();
        const Dhcp::ClientKind kind = Dhcp::Classify(request);
        (void)Dhcp::KindName(kind);
        (void)Dhcp::OptionAddress(request, Dhcp::OptRequestedAddress);

        // An answer naming a boot file of the request's own bytes: a short one (in `file`
        // too), or the whole datagram, longer than one option holds, so it is split into
        // several that must join again.
        Dhcp::Answer answer;
        answer.messageType = request.messageType == Dhcp::REQUEST ? Dhcp::ACK : Dhcp::OFFER;
        answer.serverAddress = request.xid;
        answer.bootFile = size % 3 == 0 ? request.option(Dhcp::OptVendorClass)
                                        : QByteArray(bytes, qsizetype(size));
        answer.httpClient = kind == Dhcp::ClientKind::UefiHttp;
        QByteArray reply = Dhcp::BuildAnswer(request, answer);
        if (reply.size() < 300 || uchar(reply[0]) != 2)
            __builtin_trap();
        reply[0] = 1; // read back as a request would be
        Dhcp::Packet back;
        if (!Dhcp::Parse(reply.constData(), reply.size(), &back, false))
            __builtin_trap();
        if (back.xid != request.xid || back.chaddr != request.chaddr ||
            back.messageType != answer.messageType ||
            back.option(Dhcp::OptBootFile) != answer.bootFile ||
            Dhcp::OptionAddress(back, Dhcp::OptServerId) != answer.serverAddress)
            __builtin_trap();
    }
    return 0;
}
