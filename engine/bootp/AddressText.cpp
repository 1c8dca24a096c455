#include "engine/bootp/AddressText.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

namespace Dhcp {

namespace {
// ASCII digits only: QString::toUInt also takes "+1", " 1" and other scripts' digits.
bool digit(QChar c, bool hex) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (hex && ((u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')));
}
} // namespace

QString MacText(const Mac& mac) {
    QStringList parts;
    for (const char c : mac)
        parts.append(QStringLiteral("%1").arg(uchar(c), 2, 16, QLatin1Char('0')));
    return parts.join(QLatin1Char(':'));
}

Mac ParseMac(const QString& text) {
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[:-]")));
    if (parts.size() != 6)
        return {};
    Mac mac;
    for (const QString& part : parts) {
        if (part.size() != 2 || !digit(part[0], true) || !digit(part[1], true))
            return {};
        mac.append(char(part.toUInt(nullptr, 16)));
    }
    return mac;
}

QString AddressText(quint32 address) { return QHostAddress(address).toString(); }

bool ParseAddress(const QString& text, quint32* address) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 out = 0;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part)
            if (!digit(c, false))
                return false;
        const uint n = part.toUInt();
        if (n > 255)
            return false;
        out = out << 8 | n;
    }
    *address = out;
    return true;
}

quint32 ParseAddress(const QString& text) {
    quint32 out = 0;
    return ParseAddress(text, &out) ? out : 0;
}

} // namespace Dhcp
