#include "engine/bootp/Dhcp6Packet.h"

#include "engine/bootp/AddressText.h"

#include <QtEndian>
#include <cstring>

namespace Dhcp6 {

namespace {
quint16 get16(const char* p) {
    return qFromBigEndian<quint16>(p);
}
quint32 get32(const char* p) {
    return qFromBigEndian<quint32>(p);
}
void put16(QByteArray& out, quint16 v) {
    out.append(char(v >> 8)).append(char(v));
}
void put32(QByteArray& out, quint32 v) {
    put16(out, quint16(v >> 16));
    put16(out, quint16(v));
}
void putOption(QByteArray& out, quint16 code, const QByteArray& value) {
    put16(out, code);
    put16(out, quint16(value.size()));
    out.append(value);
}
// Options as TLVs from `at` to the end; false when one runs past the end.
bool readOptions(const QByteArray& data, int at, QList<QPair<quint16, QByteArray>>* out) {
    while (at < data.size()) {
        if (at + 4 > data.size())
            return false;
        const quint16 code = get16(data.constData() + at);
        const int length = get16(data.constData() + at + 2);
        at += 4;
        if (at + length > data.size())
            return false;
        out->append({code, data.mid(at, length)});
        at += length;
    }
    return true;
}
// A list of items, each after its 2-byte length (user class 15, vendor class 16's data).
QList<QByteArray> items(const QByteArray& data, int at) {
    QList<QByteArray> out;
    while (at + 2 <= data.size()) {
        const int n = get16(data.constData() + at);
        at += 2;
        if (at + n > data.size())
            break;
        out.append(data.mid(at, n));
        at += n;
    }
    return out;
}
} // namespace

bool Packet::has(quint16 code) const {
    for (const auto& o : options)
        if (o.first == code)
            return true;
    return false;
}

QByteArray Packet::option(quint16 code) const {
    for (const auto& o : options)
        if (o.first == code)
            return o.second;
    return QByteArray();
}

QList<QByteArray> Packet::all(quint16 code) const {
    QList<QByteArray> out;
    for (const auto& o : options)
        if (o.first == code)
            out.append(o.second);
    return out;
}

QList<quint16> Packet::requested() const {
    const QByteArray oro = option(OptOro);
    QList<quint16> out;
    for (int at = 0; at + 2 <= oro.size(); at += 2)
        out.append(get16(oro.constData() + at));
    return out;
}

bool Parse(const char* data, qint64 size, Packet* packet) {
    if (size < 4 || size > 65535)
        return false;
    Packet out;
    out.type = quint8(data[0]);
    if (out.type < SOLICIT || out.type > INFORMATION_REQUEST)
        return false;
    out.xid = get32(data) & 0xffffff;
    if (!readOptions(QByteArray::fromRawData(data, int(size)), 4, &out.options))
        return false;
    for (auto& o : out.options)
        o.second.detach(); // the datagram's buffer is not ours to keep
    *packet = out;
    return true;
}

QByteArray Write(const Packet& packet) {
    QByteArray out;
    put32(out, quint32(packet.type) << 24 | (packet.xid & 0xffffff));
    for (const auto& [code, value] : packet.options)
        putOption(out, code, value);
    return out;
}

bool ParseIaNa(const QByteArray& value, IaNa* ia) {
    if (value.size() < 12)
        return false;
    IaNa out;
    out.iaid = get32(value.constData());
    out.t1 = get32(value.constData() + 4);
    out.t2 = get32(value.constData() + 8);
    QList<QPair<quint16, QByteArray>> nested;
    if (!readOptions(value, 12, &nested))
        return false;
    for (const auto& [code, v] : nested) {
        if (code == OptIaAddr) {
            if (v.size() < 24)
                return false;
            out.addresses.append({QHostAddress(reinterpret_cast<const quint8*>(v.constData())),
                                  get32(v.constData() + 16), get32(v.constData() + 20)});
        } else if (code == OptStatusCode && v.size() >= 2) {
            out.status = get16(v.constData());
            out.statusText = QString::fromUtf8(v.mid(2));
        }
    }
    *ia = out;
    return true;
}

QByteArray WriteIaNa(const IaNa& ia) {
    QByteArray out;
    put32(out, ia.iaid);
    put32(out, ia.t1);
    put32(out, ia.t2);
    for (const IaAddress& a : ia.addresses) {
        QByteArray v;
        const Q_IPV6ADDR bytes = a.address.toIPv6Address();
        v.append(reinterpret_cast<const char*>(bytes.c), 16);
        put32(v, a.preferred);
        put32(v, a.valid);
        putOption(out, OptIaAddr, v);
    }
    if (ia.status >= 0)
        out.append(StatusOption(quint16(ia.status), ia.statusText));
    return out;
}

// The whole option, code and length included; WriteIaNa nests it.
QByteArray StatusOption(quint16 code, const QString& text) {
    QByteArray v;
    put16(v, code);
    v.append(text.toUtf8());
    QByteArray out;
    putOption(out, OptStatusCode, v);
    return out;
}

namespace {
// A NIC's own address: neither a group's (I/G bit) nor all zeros.
Dhcp::Mac unicastMac(const QByteArray& mac) {
    if (mac.size() != 6 || (uchar(mac[0]) & 1) || mac.count('\0') == 6)
        return {};
    return mac;
}
// DUID-LLT (type 1) and DUID-LL (type 3) on Ethernet (hardware type 1), of exactly their
// length: the MAC is their last six bytes.
Dhcp::Mac duidMac(const QByteArray& duid) {
    if (duid.size() < 4 || get16(duid.constData() + 2) != 1)
        return {};
    const quint16 type = get16(duid.constData());
    const int at = type == 1 ? 8 : type == 3 ? 4 : -1;
    if (at < 0 || duid.size() != at + 6)
        return {};
    return unicastMac(duid.mid(at, 6));
}
// fe80::/64 with an interface identifier of ff:fe in the middle: the MAC with its U/L bit
// turned back.
Dhcp::Mac eui64Mac(const QHostAddress& from) {
    if (from.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    const Q_IPV6ADDR a = from.toIPv6Address();
    static const uchar linkLocal[8] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0};
    if (memcmp(a.c, linkLocal, 8) != 0 || a[11] != 0xff || a[12] != 0xfe)
        return {};
    const char mac[6] = {char(a[8] ^ 0x02), char(a[9]),  char(a[10]),
                         char(a[13]),       char(a[14]), char(a[15])};
    return unicastMac(QByteArray(mac, 6));
}
} // namespace

Dhcp::Mac ClientMac(const Packet& message, const QHostAddress& from) {
    if (const Dhcp::Mac mac = duidMac(message.option(OptClientId)); !mac.isEmpty())
        return mac;
    const QByteArray lla = message.option(OptClientLinkLayer);
    if (lla.size() == 8 && get16(lla.constData()) == 1)
        if (const Dhcp::Mac mac = unicastMac(lla.mid(2)); !mac.isEmpty())
            return mac;
    return eui64Mac(from);
}

QByteArray DuidOf(const QByteArray& mac) {
    QByteArray out;
    put16(out, 3);
    put16(out, 1);
    return out + mac;
}

ClientArch ArchOf(const Packet& packet) {
    ClientArch out;
    const QByteArray arch = packet.option(OptClientArch);
    if (arch.size() >= 2)
        out.arch = get16(arch.constData()); // the first the client names
    const QByteArray vendor = packet.option(OptVendorClass);
    if (vendor.size() >= 4 && get32(vendor.constData()) == kPxeEnterprise) {
        for (const QByteArray& item : items(vendor, 4)) {
            out.pxeVendor = out.pxeVendor || item.startsWith("PXEClient");
            out.httpVendor = out.httpVendor || item.startsWith("HTTPClient");
            if (out.arch < 0)
                out.arch = Dhcp::ArchInVendorClass(item);
        }
    }
    for (const QByteArray& item : items(packet.option(OptUserClass), 0))
        out.ipxe = out.ipxe || item == "iPXE";
    return out;
}

Dhcp::ClientKind Classify(const Packet& packet) {
    const ClientArch a = ArchOf(packet);
    return Dhcp::KindOf(a.arch, a.pxeVendor || packet.has(OptClientArch), a.httpVendor, a.ipxe);
}

QString TypeName(quint8 type) {
    static const char* const names[] = {"Solicit",
                                        "Advertise",
                                        "Request",
                                        "Confirm",
                                        "Renew",
                                        "Rebind",
                                        "Reply",
                                        "Release",
                                        "Decline",
                                        "Reconfigure",
                                        "Information-request",
                                        "Relay-forward",
                                        "Relay-reply"};
    return type >= 1 && type <= 13 ? QLatin1String(names[type - 1])
                                   : QStringLiteral("message %1").arg(type);
}

} // namespace Dhcp6
