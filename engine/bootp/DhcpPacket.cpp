#include "engine/bootp/DhcpPacket.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace Dhcp {

namespace {
constexpr quint8 kCookie[4] = {99, 130, 83, 99};

quint32 get32(const uchar* p) {
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

// iPXE sends its user class bare; RFC 3004 wants each class prefixed by its length.
bool userClassSaysIpxe(const QByteArray& value) {
    if (value == "iPXE")
        return true;
    for (int at = 0; at < value.size();) {
        const int n = uchar(value[at]);
        if (n == 0 || at + 1 + n > value.size())
            return false;
        if (value.mid(at + 1, n) == "iPXE")
            return true;
        at += 1 + n;
    }
    return false;
}
} // namespace

void Put32(QByteArray& out, int at, quint32 v) {
    out[at] = char(v >> 24);
    out[at + 1] = char(v >> 16);
    out[at + 2] = char(v >> 8);
    out[at + 3] = char(v);
}

void AddOption(QByteArray& out, quint8 code, const QByteArray& value) {
    // Longer values are split into several options of the same code (RFC 3396).
    int at = 0;
    do {
        const int part = int(qMin<qsizetype>(255, value.size() - at));
        out.append(char(code)).append(char(part)).append(value.mid(at, part));
        at += part;
    } while (at < value.size());
}

QByteArray IpBytes(quint32 v) {
    QByteArray b(4, '\0');
    Put32(b, 0, v);
    return b;
}

quint32 OptionAddress(const Packet& packet, quint8 code) {
    const QByteArray v = packet.option(code);
    return v.size() == 4 ? get32(reinterpret_cast<const uchar*>(v.constData())) : 0;
}

QString Packet::macText() const { return MacText(chaddr.left(qMin<int>(hlen, 16))); }

QByteArray StartMessage(Op op, const Packet& fields, const QByteArray& file) {
    QByteArray out(kOptionsAt, '\0');
    out[0] = char(op);
    out[1] = char(fields.htype);
    out[2] = char(fields.hlen);
    Put32(out, 4, fields.xid);
    out[10] = char(fields.flags >> 8);
    out[11] = char(fields.flags);
    Put32(out, 12, fields.ciaddr);
    Put32(out, 16, fields.yiaddr);
    Put32(out, 20, fields.siaddr);
    Put32(out, 24, fields.giaddr);
    std::memcpy(out.data() + 28, fields.chaddr.constData(),
                size_t(qMin<qsizetype>(16, fields.chaddr.size())));
    if (file.size() < kFileSize)
        std::memcpy(out.data() + 108, file.constData(), size_t(file.size()));
    std::memcpy(out.data() + kFixedSize, kCookie, 4);
    return out;
}

QByteArray StartReply(const Packet& request, quint32 ciaddr, quint32 yiaddr, quint32 siaddr,
                      const QByteArray& file) {
    Packet fields = request;
    fields.ciaddr = ciaddr;
    fields.yiaddr = yiaddr;
    fields.siaddr = siaddr;
    return StartMessage(BOOTREPLY, fields, file);
}

QByteArray EndMessage(QByteArray out) {
    out.append(char(OptEnd));
    if (out.size() < 300)
        out.append(QByteArray(300 - out.size(), '\0'));
    return out;
}

bool Parse(const char* data, qint64 size, Packet* packet, bool bootp) {
    const bool cookie = size >= kOptionsAt && std::memcmp(data + kFixedSize, kCookie, 4) == 0;
    if (!cookie && !(bootp && size >= kFixedSize))
        return false;
    const auto* p = reinterpret_cast<const uchar*>(data);
    Packet out;
    out.op = p[0];
    out.htype = p[1];
    out.hlen = p[2];
    if (out.op != 1 || out.hlen > 16)
        return false;
    out.xid = get32(p + 4);
    out.flags = quint16(p[10] << 8 | p[11]);
    out.ciaddr = get32(p + 12);
    out.yiaddr = get32(p + 16);
    out.siaddr = get32(p + 20);
    out.giaddr = get32(p + 24);
    out.chaddr = QByteArray(data + 28, 16);
    qint64 at = cookie ? kOptionsAt : size;
    bool ended = false;
    while (at < size && !ended) {
        const quint8 code = p[at++];
        if (code == OptPad)
            continue;
        if (code == OptEnd) {
            ended = true;
            break;
        }
        if (at >= size)
            return false; // a code without its length
        const int length = p[at++];
        if (at + length > size)
            return false; // a value cut short
        out.options[code].append(data + at, length);
        at += length;
    }
    const QByteArray type = out.options.value(OptMessageType);
    if (type.size() == 1)
        out.messageType = quint8(type[0]);
    else if (!bootp || out.has(OptMessageType))
        return false;
    *packet = out;
    return true;
}

ClientKind KindOf(int arch, bool pxeClient, bool httpClient, bool ipxe) {
    if (ipxe)
        return ClientKind::Ipxe;
    if (httpClient)
        return ClientKind::UefiHttp;
    if (!pxeClient)
        return ClientKind::NotPxe;
    switch (arch) {
    case -1: // a client that names no architecture is taken for BIOS
    case 0: return ClientKind::Bios;
    case 7:
    case 9: return ClientKind::Uefi;
    default: return ClientKind::OtherArch;
    }
}

int ArchInVendorClass(const QByteArray& vendor) {
    int at = 0;
    if (vendor.startsWith("PXEClient:Arch:"))
        at = 15;
    else if (vendor.startsWith("HTTPClient:Arch:"))
        at = 16;
    else
        return -1;
    bool ok = false;
    const int arch = vendor.mid(at, 5).toInt(&ok);
    return ok ? arch : kArchUnreadable;
}

ClientKind Classify(const Packet& packet) {
    const QByteArray vendor = packet.option(OptVendorClass);
    // The architecture from option 93 (its first entry), else from the vendor class.
    const QByteArray a = packet.option(OptClientArch);
    const int arch = a.size() >= 2 ? uchar(a[0]) << 8 | uchar(a[1]) : ArchInVendorClass(vendor);
    return KindOf(arch, vendor.startsWith("PXEClient"), vendor.startsWith("HTTPClient"),
                  userClassSaysIpxe(packet.option(OptUserClass)) || packet.has(OptIpxeEncap));
}

QString KindName(ClientKind kind) {
    switch (kind) {
    case ClientKind::Bios: return QStringLiteral("BIOS");
    case ClientKind::Uefi: return QStringLiteral("UEFI");
    case ClientKind::UefiHttp: return QStringLiteral("UEFI HTTP");
    case ClientKind::Ipxe: return QStringLiteral("iPXE");
    case ClientKind::OtherArch: return QStringLiteral("other architecture");
    case ClientKind::NotPxe: break;
    }
    return QStringLiteral("not PXE");
}

QByteArray BuildAnswer(const Packet& request, const Answer& answer) {
    QByteArray out = StartReply(request, request.ciaddr, 0, answer.serverAddress, answer.bootFile);
    AddOption(out, OptMessageType, QByteArray(1, char(answer.messageType)));
    AddOption(out, OptServerId, IpBytes(answer.serverAddress));
    AddOption(out, OptVendorClass, answer.httpClient ? "HTTPClient" : "PXEClient");
    if (request.has(OptClientUuid))
        AddOption(out, OptClientUuid, request.option(OptClientUuid));
    if (!answer.httpClient) {
        // Sub-option 6 (discovery control) = 8: boot the file named here, no menu and no
        // boot server discovery; then the end of the sub-options.
        AddOption(out, OptVendorSpecific, answer.vendorOptions.isEmpty()
                                              ? QByteArray("\x06\x01\x08\xff", 4)
                                              : answer.vendorOptions);
    }
    if (!answer.tftpServer.isEmpty())
        AddOption(out, 66, answer.tftpServer); // the TFTP server's name
    if (!answer.bootFile.isEmpty())
        AddOption(out, OptBootFile, answer.bootFile);
    return EndMessage(out);
}

namespace {
// Readable text of bytes that may be anyone's: control characters left out, cut short.
QString cleanText(const QByteArray& bytes) {
    QString out = QString::fromUtf8(bytes.left(255));
    out.removeIf([](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0); });
    return out;
}
QString addresses(const QByteArray& v) {
    QStringList out;
    for (qsizetype at = 0; at + 4 <= v.size(); at += 4)
        out.append(AddressText(get32(reinterpret_cast<const uchar*>(v.constData() + at))));
    return out.join(QStringLiteral(", "));
}
QString seconds(const QByteArray& v) {
    return v.size() == 4 ? QStringLiteral("%1 s").arg(get32(reinterpret_cast<const uchar*>(v.constData()))) : QString();
}
QString typeName(quint8 type) {
    static const char* const names[] = {"", "DISCOVER", "OFFER", "REQUEST", "DECLINE", "ACK", "NAK", "RELEASE", "INFORM"};
    return type < std::size(names) && type ? QString::fromLatin1(names[type]) : QString::number(type);
}
} // namespace

QStringList DescribeReply(const QByteArray& bytes) {
    QStringList lines;
    if (bytes.size() < kOptionsAt)
        return lines;
    const char* d = bytes.constData();
    const auto at32 = [d](int at) { return get32(reinterpret_cast<const uchar*>(d + at)); };
    if (const quint32 yiaddr = at32(16))
        lines.append(QStringLiteral("Address given: ") + AddressText(yiaddr));
    if (const quint32 siaddr = at32(20))
        lines.append(QStringLiteral("Next server: ") + AddressText(siaddr));
    if (const QByteArray file(d + 108, int(qstrnlen(d + 108, kFileSize))); !file.isEmpty())
        lines.append(QStringLiteral("File field: ") + cleanText(file));
    struct Known {
        quint8 code;
        const char* name;
        QString (*value)(const QByteArray&);
    };
    static const Known known[] = {
        {1, "Subnet mask", addresses},        {3, "Router", addresses},
        {6, "DNS servers", addresses},        {12, "Host name", cleanText},
        {15, "Domain name", cleanText},            {28, "Broadcast address", addresses},
        {42, "NTP servers", addresses},       {51, "Lease time", seconds},
        {53, "Message type", [](const QByteArray& v) { return v.size() == 1 ? typeName(quint8(v[0])) : QString(); }},
        {54, "Server identifier", addresses}, {56, "Message", cleanText},
        {58, "Renewal time", seconds},        {59, "Rebinding time", seconds},
        {60, "Vendor class", cleanText},           {66, "TFTP server name", cleanText},
        {67, "Boot file", cleanText},              {150, "TFTP server address", addresses},
    };
    for (qsizetype at = kOptionsAt; at < bytes.size();) {
        const quint8 code = quint8(d[at]);
        if (code == OptEnd)
            break;
        if (code == OptPad) {
            ++at;
            continue;
        }
        if (at + 2 > bytes.size() || at + 2 + quint8(d[at + 1]) > bytes.size())
            break;
        const QByteArray value(d + at + 2, quint8(d[at + 1]));
        at += 2 + value.size();
        const Known* k = std::find_if(std::begin(known), std::end(known),
                                      [code](const Known& e) { return e.code == code; });
        QString shown = k != std::end(known) ? k->value(value) : QString();
        if (shown.isEmpty()) // unknown, or not of its kind's length: the bytes themselves
            shown = QString::fromLatin1(value.toHex(' '));
        lines.append(QStringLiteral("%1 (%2): %3")
                         .arg(k != std::end(known) ? QString::fromLatin1(k->name) : QStringLiteral("Option"))
                         .arg(code)
                         .arg(shown));
    }
    return lines;
}

} // namespace Dhcp
