#include "engine/client/ClientRequest.h"

#include "engine/bootp/AddressText.h"
#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <optional>

namespace TftpClient {

QString NotAFileText(const QString& file) {
    const QFileInfo info(file);
    if (!info.exists())
        return QStringLiteral("%1 does not exist.").arg(file);
    if (info.isDir())
        return QStringLiteral("%1 is a folder, not a file.").arg(file);
    return QStringLiteral("%1 is not a regular file.").arg(file);
}

bool FetchMayReplace(const QString& file) {
    const QFileInfo info(file);
    return !info.exists() || info.isFile();
}

FolderPath LocalPath(const QString& file) {
    const QFileInfo info(file);
    const QString folder = info.absoluteDir().canonicalPath();
    return {folder.isEmpty() ? info.absolutePath() : folder, QFile::encodeName(info.fileName())};
}

namespace {
// Digits and dots, or a 0x number: what inet_aton reads as an IPv4 address in some form.
bool looksNumeric(const QString& text) {
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return true;
    for (const QChar c : text)
        if (!c.isDigit() && c != QLatin1Char('.'))
            return false;
    return !text.isEmpty();
}

// Four parts of 0 to 255: the only number taken as a device's IPv4 address.
bool isDottedQuad(const QString& text) {
    quint32 v4 = 0;
    return Dhcp::ParseAddress(text, &v4);
}
} // namespace

QHostAddress ResolveHost(const QString& host) {
    QString text = host.trimmed();
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    if (looksNumeric(text) && !isDottedQuad(text))
        return QHostAddress();
    const QHostAddress address(text);
    if (!address.isNull() || text.isEmpty())
        return address;
    const QHostInfo info = QHostInfo::fromName(text);
    for (const QHostAddress& a : info.addresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    return info.addresses().isEmpty() ? QHostAddress() : info.addresses().first();
}

Device ParseDevice(const QString& typed) {
    const QString text = typed.trimmed();
    Device d;
    QString host = text;
    std::optional<QString> port; // what follows the colon, when there is one
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        const QString after = close < 0 ? QString() : text.mid(close + 1);
        if (close < 0 || (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))) {
            d.why = QStringLiteral("\"%1\" is not a device address: an IPv6 address goes in "
                                   "brackets, such as [fe80::1]:69.").arg(text);
            return d;
        }
        host = text.mid(1, close - 1);
        if (!after.isEmpty())
            port = after.mid(1);
    } else if (text.count(QLatin1Char(':')) == 1) { // more than one: a bare IPv6 address
        host = text.section(QLatin1Char(':'), 0, 0);
        port = text.section(QLatin1Char(':'), 1);
    }
    if (port) {
        bool ok = false;
        d.port = port->toInt(&ok);
        if (!ok || d.port < 1 || d.port > 65535) {
            d.why = QStringLiteral("The port after the colon in \"%1\" is a number from 1 to "
                                   "65535.").arg(text);
            return d;
        }
    }
    if (host.isEmpty()) {
        d.why = QStringLiteral("Type the device's address, such as 192.168.1.1.");
        return d;
    }
    if (looksNumeric(host) && !isDottedQuad(host)) {
        // A lone number is most likely the port: the example shows where it goes.
        bool number = false;
        const int asPort = host.toInt(&number);
        const int example = d.port > 0 ? d.port : number && asPort >= 1 && asPort <= 65535 ? asPort : 69;
        d.why = QStringLiteral("\"%1\" is not a device address: type all four parts, such as "
                               "192.168.1.1, and a port after a colon: 192.168.1.1:%2.")
                    .arg(host)
                    .arg(example);
        return d;
    }
    d.address = ResolveHost(host);
    if (d.address.isNull())
        d.why = QStringLiteral("\"%1\" is no address, and no host of that name is known.")
                    .arg(host);
    return d;
}

QByteArray MakeRequest(const Request& request, qint64 fileSize) {
    QByteArray packet(2, '\0');
    packet[1] = char(request.put ? Tftp::WRQ : Tftp::RRQ);
    packet.append(request.remoteName).append('\0');
    packet.append(request.netascii ? "netascii" : "octet").append('\0');
    auto option = [&packet](const char* name, qint64 value) {
        packet.append(name).append('\0').append(QByteArray::number(value)).append('\0');
    };
    if (request.blockSize > 0)
        option("blksize", request.blockSize);
    if (request.windowSize > 0)
        option("windowsize", request.windowSize);
    // A send tells its size only when it is the size on the wire.
    if (request.askSize && (!request.put || fileSize >= 0))
        option("tsize", request.put ? fileSize : 0);
    return packet;
}

namespace {
bool asked(const Request& request, const QByteArray& name) {
    if (name == "blksize")
        return request.blockSize > 0;
    if (name == "windowsize")
        return request.windowSize > 0;
    if (name == "tsize")
        return request.askSize;
    return false;
}
} // namespace

Negotiated CheckOack(const Request& request, const char* packet, qint64 size) {
    Negotiated n;
    QList<QPair<QByteArray, QByteArray>> options;
    if (!Tftp::SplitOptions(packet + 2, size - 2, &options)) {
        n.why = QStringLiteral("malformed option acknowledgement");
        return n;
    }
    QList<QByteArray> seen;
    for (const auto& [name, text] : options) {
        bool number = false;
        const qint64 value = text.toLongLong(&number);
        if (!asked(request, name) || seen.contains(name)) {
            n.why = QStringLiteral("option %1 was not asked for").arg(Tftp::Printable(QString::fromLatin1(name.left(64))));
            return n;
        }
        seen.append(name);
        if (name == "blksize" && number && value >= Tftp::kMinBlockSize &&
            value <= request.blockSize) {
            n.blockSize = int(value);
        } else if (name == "windowsize" && number && value >= 1 && value <= request.windowSize) {
            n.windowSize = int(value);
        } else if (name == "tsize" && number && value >= 0) {
            if (!request.put)
                n.size = value;
        } else {
            n.why = QStringLiteral("%1 %2 is not what was asked")
                        .arg(Tftp::Printable(QString::fromLatin1(name.left(64))),
                             Tftp::Printable(QString::fromLatin1(text.left(64))));
            return n;
        }
    }
    n.ok = true;
    return n;
}

} // namespace TftpClient
