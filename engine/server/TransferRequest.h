#pragma once

#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// One admitted request: who asked, for what and how, and what admission decided about
// the file. A transfer is built from it and keeps its own copy.
struct TransferRequest {
    QHostAddress client;                          // the client's address
    QString clientText;                           // as text, made once (empty: not yet)
    quint16 clientPort = 0;                       // and port: the transfer's peer
    quint16 opcode = 0;                           // Tftp::RRQ or Tftp::WRQ
    QByteArray fileName;                          // as sent
    bool octet = false;                           // recorded only: no line ends are converted
    QList<QPair<QByteArray, QByteArray>> options; // RFC 2347 options as sent, names in lower case
    QHostAddress localAddress;                    // the address the request was sent to, when known
    bool singlePort = false;                      // answered from the listener's own port

    FolderPath path;         // the name below the working folder
    bool refusePath = false; // the name leaves the folder, or there is no usable folder
    QString missingFolder;   // the working folder as set, when it is not a usable folder
    bool overWrite = true;   // an existing file may be replaced
    bool readOnly = false;   // uploads are turned off: every write request is refused
    // " (asked NAME)" when the name was found another way than as sent (letter case, a
    // drive letter, a rewrite rule, the client's own folder); empty otherwise.
    QString askedNote;
    std::unique_ptr<IFile> file; // a download's file, opened by the name's look-up
};
