#include "engine/client/ClientRequest.h"

#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

namespace TftpClient {

FolderPath LocalPath(const QString& file) {
    const QFileInfo info(file);
    const QString folder = info.absoluteDir().canonicalPath();
    return {folder.isEmpty() ? info.absolutePath() : folder, QFile::encodeName(info.fileName())};
}

QHostAddress ResolveHost(const QString& host) {
    QString text = host.trimmed();
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    const QHostAddress address(text);
    if (!address.isNull() || text.isEmpty())
        return address;
    const QHostInfo info = QHostInfo::fromName(text);
    for (const QHostAddress& a : info.addresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    return info.addresses().isEmpty() ? QHostAddress() : info.addresses().first();
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
    QList<QByteArray> strings;
    qint64 start = 2;
    for (qint64 i = 2; i < size; ++i) {
        if (packet[i] == '\0') {
            strings.append(QByteArray(packet + start, int(i - start)));
            start = i + 1;
        }
    }
    if (start != size || strings.size() % 2 != 0) {
        n.why = QStringLiteral("malformed option acknowledgement");
        return n;
    }
    QList<QByteArray> seen;
    for (int k = 0; k < strings.size(); k += 2) {
        const QByteArray name = strings[k].toLower();
        bool number = false;
        const qint64 value = strings[k + 1].toLongLong(&number);
        if (!asked(request, name) || seen.contains(name)) {
            n.why = QStringLiteral("option %1 was not asked for").arg(QString::fromLatin1(name));
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
                        .arg(QString::fromLatin1(name), QString::fromLatin1(strings[k + 1]));
            return n;
        }
    }
    n.ok = true;
    return n;
}

} // namespace TftpClient
