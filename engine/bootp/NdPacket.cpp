#include "engine/bootp/NdPacket.h"

#include <QtEndian>

namespace Nd {

namespace {
constexpr quint8 kOptSourceMac = 1, kOptPrefix = 3;
void put16(QByteArray& out, quint16 v) {
    out.append(char(v >> 8)).append(char(v));
}
void put32(QByteArray& out, quint32 v) {
    put16(out, quint16(v >> 16));
    put16(out, quint16(v));
}
} // namespace

RouterAdvert OurAdvert(const QByteArray& mac, const QHostAddress& prefix) {
    RouterAdvert ra;
    ra.managed = ra.other = true;
    ra.sourceMac = mac;
    ra.prefixes.append({prefix, 64, true, false, 3600, 1800});
    return ra;
}

QByteArray Write(const RouterAdvert& ra) {
    QByteArray out;
    out.append(char(kRouterAdvert)).append('\0');
    put16(out, 0); // checksum: the kernel's
    out.append(char(ra.hopLimit));
    out.append(char((ra.managed ? 0x80 : 0) | (ra.other ? 0x40 : 0)));
    put16(out, ra.routerLifetime);
    put32(out, 0); // reachable time: unspecified
    put32(out, 0); // retransmission timer: unspecified
    if (ra.sourceMac.size() == 6)
        out.append(char(kOptSourceMac)).append(char(1)).append(ra.sourceMac);
    for (const PrefixInfo& p : ra.prefixes) {
        out.append(char(kOptPrefix)).append(char(4)).append(char(p.length));
        out.append(char((p.onLink ? 0x80 : 0) | (p.autonomous ? 0x40 : 0)));
        put32(out, p.valid);
        put32(out, p.preferred);
        put32(out, 0);
        const Q_IPV6ADDR b = p.prefix.toIPv6Address();
        out.append(reinterpret_cast<const char*>(b.c), 16);
    }
    return out;
}

bool ParseAdvert(const char* data, qint64 size, RouterAdvert* ra) {
    const auto* p = reinterpret_cast<const uchar*>(data);
    if (size < 16 || p[0] != kRouterAdvert || p[1] != 0)
        return false;
    RouterAdvert out;
    out.hopLimit = p[4];
    out.managed = p[5] & 0x80;
    out.other = p[5] & 0x40;
    out.routerLifetime = qFromBigEndian<quint16>(p + 6);
    for (qint64 at = 16; at < size;) {
        if (at + 2 > size)
            return false;
        const int length = p[at + 1] * 8;
        if (length == 0 || at + length > size)
            return false; // RFC 4861 4.6: a zero length is never valid
        if (p[at] == kOptSourceMac && length == 8)
            out.sourceMac = QByteArray(data + at + 2, 6);
        else if (p[at] == kOptPrefix && length == 32) {
            PrefixInfo info;
            info.length = p[at + 2];
            info.onLink = p[at + 3] & 0x80;
            info.autonomous = p[at + 3] & 0x40;
            info.valid = qFromBigEndian<quint32>(p + at + 4);
            info.preferred = qFromBigEndian<quint32>(p + at + 8);
            info.prefix = QHostAddress(p + at + 16);
            out.prefixes.append(info);
        }
        at += length;
    }
    *ra = out;
    return true;
}

bool IsRouterSolicit(const char* data, qint64 size) {
    return size >= 8 && uchar(data[0]) == kRouterSolicit && data[1] == 0;
}

} // namespace Nd
