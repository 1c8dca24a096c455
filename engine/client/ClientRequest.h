#pragma once

#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// What a user asks of a TFTP client transfer: a file fetched from a device (a read
// request, the device's server sends) or sent to it (a write request).
namespace TftpClient {

// The seconds between resends when nothing else is asked.
constexpr int kDefaultTimeOut = 1;
// The most a fetch takes unless told otherwise: more than any firmware or configuration,
// less than a device that never stops would fill a disk with.
constexpr qint64 kDefaultMaxBytes = qint64(4) << 30;

struct Request {
    bool put = false;         // send the local file; else fetch into it
    QHostAddress server;
    quint16 port = 69;
    QByteArray remoteName;    // as the device's server is to see it
    FolderPath local;         // the local file: its folder and its name there
    int blockSize = 0;        // blksize asked; 0 asks none (512)
    int windowSize = 0;       // windowsize asked; 0 asks none (lock-step)
    bool askSize = false;     // tsize: a fetch learns the size, a send tells it
    bool netascii = false;    // line ends converted both ways; octet otherwise
    int timeOut = kDefaultTimeOut; // seconds between resends
    int waitSeconds = 0;      // the request again every second this long, for a
                              // device that listens only briefly after power-on
    qint64 maxBytes = kDefaultMaxBytes; // a fetch stops beyond this (and beyond the disk's
                                        // free space, and the tsize the device told)
};

// What both the window and the command line say of a file to send that is not one.
QString NotAFileText(const QString& file);
// Whether a fetch may land at `file`: nothing is there, or a regular file. A fetch is
// put in place by renaming a new file over the old one, so over a device (/dev/null), a
// FIFO, a socket or a folder it would replace the node itself.
bool FetchMayReplace(const QString& file);

// The local file as a folder and a name in it: the folder's real path, so a name
// reached through a link of folders still opens beneath it.
FolderPath LocalPath(const QString& file);

// An address as typed (IPv6 with or without brackets) or a host name looked up; null
// when it is neither, or when it is a number short of a dotted IPv4 address.
QHostAddress ResolveHost(const QString& host);

// A device as typed: HOST, HOST:PORT, [IPv6]:PORT, [IPv6] or a bare IPv6 address. A bare
// number ("6969") or a shortened IPv4 address ("10.1") is refused, though the system
// would read it as an address (0.0.27.57, 10.0.0.1): it is far more likely a port or a
// slip than the device meant.
struct Device {
    QHostAddress address;
    int port = -1; // the port typed; -1 when none was
    QString why;   // the refusal, for the user; empty when the device is usable
};
Device ParseDevice(const QString& text);

// The request datagram: RRQ or WRQ, the name, the mode, then the options asked.
// fileSize is what a send's tsize tells (-1 when unknown: netascii).
QByteArray MakeRequest(const Request& request, qint64 fileSize);

// What the device's OACK settled, or why it is refused: an answer must name only
// options that were asked, each at most once, with a value the asker can take
// (blksize and windowsize no larger than asked, a fetch's tsize a size).
struct Negotiated {
    bool ok = false;
    int blockSize = 512;
    int windowSize = 1;
    qint64 size = -1; // a fetch's tsize; -1 untold
    QString why;      // the refusal, for ERROR 8 and the row
};
Negotiated CheckOack(const Request& request, const char* packet, qint64 size);

} // namespace TftpClient
