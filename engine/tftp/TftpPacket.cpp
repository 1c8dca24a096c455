#include "engine/tftp/TftpPacket.h"

#include <algorithm>
#include <cstring>

namespace Tftp {

const char* ErrorMessage(int code) {
    switch (code) {
    case 0: return "Undefined Error!!";
    case 1: return "File Not Found!!";
    case 2: return "Access Violation!!";
    case 3: return "Disk Full or Allocation Exceeded!!";
    case 4: return "Illegal TFTP Operation!!";
    case 5: return "Unknown Port Number!!";
    case 6: return "File Already Exists!!";
    case 7: return "No Such User!!";
    default: return "Unknown Error!!";
    }
}

QString ClientErrorText(int code) {
    switch (code) {
    case 0: return QStringLiteral("Error: Client has some errors!!");
    case 1: return QStringLiteral("Error: Client-File Not Found!!");
    case 2: return QStringLiteral("Error: Client-Access Violation!!");
    case 3: return QStringLiteral("Error: Client-Disk Full or Allocation Exceeded!!");
    case 4: return QStringLiteral("Error: Client-Illegal Operation!!");
    case 5: return QStringLiteral("Error: Client-Unknown Port Number!!");
    case 6: return QStringLiteral("Error: Client-File Already Exists!!");
    case 7: return QStringLiteral("Error: Client-No Such User!!");
    default: return QStringLiteral("Error: Unknown Error Code Received!!");
    }
}

void PutHeader(char* packet, quint16 opcode, quint16 number) {
    packet[0] = char(opcode >> 8);
    packet[1] = char(opcode & 0xff);
    packet[2] = char(number >> 8);
    packet[3] = char(number & 0xff);
}

quint16 Get16(const char* p) {
    return quint16((quint16(quint8(p[0])) << 8) | quint8(p[1]));
}

QByteArray MakeError(int code, const char* text) {
    if (!text)
        text = ErrorMessage(code);
    const int len = int(std::strlen(text));
    QByteArray packet(4 + len + 1, '\0');
    PutHeader(packet.data(), ERROR, quint16(code));
    std::memcpy(packet.data() + 4, text, size_t(len));
    return packet;
}

QByteArray MakeAck(quint16 block) {
    QByteArray packet(4, '\0');
    PutHeader(packet.data(), ACK, block);
    return packet;
}

bool SplitOptions(const char* data, qint64 size, QList<QPair<QByteArray, QByteArray>>* options) {
    options->clear();
    QList<QByteArray> strings;
    qint64 start = 0;
    for (qint64 i = 0; i < size; ++i) {
        if (data[i] == '\0') {
            strings.append(QByteArray(data + start, int(i - start)));
            start = i + 1;
        }
    }
    if (start != size || strings.size() % 2 != 0)
        return false;
    for (int k = 0; k < strings.size(); k += 2) {
        if (strings[k].isEmpty()) {
            options->clear();
            return false;
        }
        options->append({strings[k].toLower(), strings[k + 1]});
    }
    return true;
}

Request ParseRequest(const char* data, qint64 size) {
    Request req;
    if (size < 2)
        return req;
    const quint8 op = quint8(data[1]);
    if (op != RRQ && op != WRQ)
        return req;

    qint64 i = 2;
    while (i < size && data[i] != '\0')
        ++i;
    if (i - 2 > kMaxFileName) {
        req.status = Request::NameTooLong;
        req.opcode = op;
        return req;
    }
    if (i >= size)
        return req; // not terminated inside the datagram
    req.fileName = QByteArray(data + 2, int(i - 2));
    req.opcode = op;

    const qint64 modeStart = ++i;
    while (i < size && data[i] != '\0' && quint8(data[i]) < 0x80)
        ++i;
    req.status = Request::BadMode;
    if (i >= size || i - modeStart > kMaxMode)
        return req;
    const QByteArray mode = QByteArray(data + modeStart, int(i - modeStart)).toLower();
    if (mode == "octet") {
        req.octet = true;
    } else if (mode == "netascii" || mode == "ascii") {
        req.octet = false;
    } else {
        return req;
    }
    req.status = Request::Ok;
    if (i < size && data[i] == '\0')
        SplitOptions(data + i + 1, size - i - 1, &req.options); // none when malformed
    return req;
}

QByteArray MakeOack(const QList<QPair<QByteArray, QByteArray>>& options) {
    QByteArray packet(2, '\0');
    packet[1] = char(OACK);
    for (const auto& [name, value] : options)
        packet.append(name).append('\0').append(value).append('\0');
    return packet;
}

QString Printable(const QString& field) {
    const auto plain = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 0x20 && (u < 0x7f || u >= 0xa0);
    };
    // Most fields have nothing to escape: they come back shared, not copied.
    if (std::all_of(field.begin(), field.end(), plain))
        return field;
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        const char16_t u = c.unicode();
        if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace Tftp
