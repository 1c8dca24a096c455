#pragma once

#include "engine/tftp/TftpPacket.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QtGlobal>

// Option negotiation (RFC 2347-2349, 7440): what a server takes of the options a request
// names. Each option's limits live beside the rule that applies them, and nothing here
// reads a setting or touches a file: the caller hands in values.
namespace Tftp {

// The options' ranges.
constexpr int kMinBlockSize = 8, kMaxBlockSize = 65464; // RFC 2348
constexpr int kMaxWindowSize = 65535;                   // RFC 7440
constexpr int kMinTimeOut = 1, kMaxTimeOut = 255;       // RFC 2349, seconds
// A window of at most half the block numbers, so that old and new blocks stay told apart
// across the 65535 wrap.
constexpr int kMaxUsableWindow = 32767;
// An IPv6 header is 20 bytes longer than an IPv4 one: an IPv6 client is granted that much
// less than the limit, so a block that fits the link unfragmented over IPv4 (1468 on a
// 1500-byte link) still does over IPv6 (1448).
constexpr int kIPv6HeaderExtra = 20;

// Name and value pairs in the order sent, names in lower case (as ParseRequest gives them).
using OptionList = QList<QPair<QByteArray, QByteArray>>;

// The server's own limits, as its settings give them.
struct OptionLimits {
    bool negotiate = true; // off: plain RFC 1350, every option ignored and no OACK
    int maxBlockSize = kMaxBlockSize;
    int maxWindowSize = kMaxWindowSize;
    bool ipv6 = false; // the client's family; see kIPv6HeaderExtra
};

// What the exchange runs with, and the OACK that says so.
struct Negotiated {
    int blockSize = kBlockSize;
    int windowSize = 1;
    int timeOut = 0;        // seconds the client asked; 0: the server's own
    bool sizeTold = false;  // a read's tsize answered
    qint64 clientSize = -1; // a write's tsize: what the client announced, -1 when not
    OptionList oack;        // the answer, in the order asked; empty: no OACK at all
};

// `opcode` is RRQ or WRQ. `fileSize` is a read's size as it goes on the wire, -1 when it
// is known only at the end (netascii): then tsize goes unanswered. An option the server
// does not know, or with a value out of its range or not a number, is left out of the
// answer and the client does without it (RFC 2347). A blksize or windowsize above the
// limits is answered lower, which a client must accept.
Negotiated Negotiate(const OptionList& asked, const OptionLimits& limits, quint16 opcode,
                     qint64 fileSize);

} // namespace Tftp
