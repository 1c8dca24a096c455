#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// TFTP packets (RFC 1350, options of RFC 2347-2349 and 7440) and the error-text tables.
namespace Tftp {

enum Opcode : quint16 { RRQ = 1, WRQ = 2, DATA = 3, ACK = 4, ERROR = 5, OACK = 6 };

constexpr int kBlockSize = 512;       // data bytes the server puts in one block
constexpr int kRequestBuffer = 256;   // what the listener reads of a request
constexpr int kOptionRequestBuffer = 512; // the same with option negotiation (RFC 2347)
constexpr int kTransferBuffer = 1024; // what a transfer reads of a datagram
constexpr int kMaxFileName = 127;     // longest name accepted
constexpr int kMaxMode = 9;           // longest mode accepted

// The message the server puts into an ERROR packet for a code.
const char* ErrorMessage(int code);
// The Information text shown when a client sends an ERROR packet with a code.
QString ClientErrorText(int code);

// An ERROR packet with the table's message for the code, or with `text` instead.
QByteArray MakeError(int code, const char* text = nullptr);
QByteArray MakeAck(quint16 block);
// Header of a DATA packet; the data follows at offset 4.
void PutHeader(char* packet, quint16 opcode, quint16 number);
quint16 Get16(const char* p);

// RFC 2347's name and value pairs (a request's after its mode, an OACK's after its
// opcode), names in lower case. False, with none, when they are not pairs of strings each
// ended inside the datagram, or a name is empty.
bool SplitOptions(const char* data, qint64 size, QList<QPair<QByteArray, QByteArray>>* options);

// What the listener makes of a request datagram.
struct Request {
    enum Status { Ok, BadCommand, BadMode, NameTooLong };
    Status status = BadCommand;
    quint16 opcode = 0;   // 1 or 2 when the command is valid
    QByteArray fileName;  // as sent
    bool octet = false;   // mode "octet"; "netascii"/"ascii" clear it
    // Name and value pairs after the mode (RFC 2347), names in lower case, in the order
    // sent. Empty when the list is malformed (then every option is ignored).
    QList<QPair<QByteArray, QByteArray>> options;
};

// Only the bytes the datagram carried are looked at. The opcode is its second byte.
// A name must end with a 0 inside the datagram and be at most 127 bytes (a longer
// one, ended or not, is NameTooLong); the mode
// ends at a 0 or a byte of 0x80 or above, must end inside the datagram, and be one
// of octet, netascii, ascii (any case). Whatever follows the mode is ignored.
Request ParseRequest(const char* data, qint64 size);

// An OACK packet with the given name and value pairs.
QByteArray MakeOack(const QList<QPair<QByteArray, QByteArray>>& options);

// A client chooses names and error texts: control characters written out (\\n, \\t,
// \\r, \\xHH) so they can neither break a one-line-per-change format nor reach a
// terminal.
QString Printable(const QString& text);

} // namespace Tftp
