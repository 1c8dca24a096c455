// The DHCPv6 and router advertisement codecs on a datagram as it reaches port 547 or the
// ICMPv6 socket: what is read must write back byte for byte, an IA_NA read must read
// again the same once written, and the client's kind must come out of any options.
#include "engine/bootp/Dhcp6Packet.h"
#include "engine/bootp/NdPacket.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    Dhcp6::Packet message;
    if (Dhcp6::Parse(bytes, qint64(size), &message)) {
        if (Dhcp6::Write(message) != QByteArray(bytes, qsizetype(size)))
            __builtin_trap();
        (void)Dhcp::KindName(Dhcp6::Classify(message));
        // A client's MAC is a NIC's or none: never a group's or a part of one.
        const Dhcp::Mac mac = Dhcp6::ClientMac(message, QHostAddress());
        if (!mac.isEmpty() && (mac.size() != 6 || (uchar(mac[0]) & 1)))
            __builtin_trap();
        (void)message.requested();
        for (const QByteArray& value : message.all(Dhcp6::OptIaNa)) {
            Dhcp6::IaNa ia, again;
            if (!Dhcp6::ParseIaNa(value, &ia))
                continue;
            if (!Dhcp6::ParseIaNa(Dhcp6::WriteIaNa(ia), &again) ||
                again.iaid != ia.iaid || again.addresses.size() != ia.addresses.size() ||
                again.status != ia.status)
                __builtin_trap();
        }
    }
    Nd::RouterAdvert ra;
    if (Nd::ParseAdvert(bytes, qint64(size), &ra)) {
        const QByteArray written = Nd::Write(ra);
        Nd::RouterAdvert back;
        if (!Nd::ParseAdvert(written.constData(), written.size(), &back) ||
            back.managed != ra.managed || back.routerLifetime != ra.routerLifetime ||
            back.prefixes.size() != ra.prefixes.size())
            __builtin_trap();
    }
    return 0;
}
