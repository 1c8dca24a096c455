#pragma once

#include "engine/config/AccessRules.h"
#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// Why a request is refused. Every service (TFTP, HTTP, boot offers) says it the same
// way: the table in Admission.cpp gives each cause its TFTP error, HTTP status and row.
enum class Refusal {
    None,
    Client,          // not on "Only Allow These Clients"
    ReadFilter,      // a read without "Only Send This File"'s text
    ReadOnly,        // uploads are turned off
    OutsideFolder,   // the name, or a link on its way, leaves the working folder
    MissingFolder,   // there is no usable working folder
    NotFound,        // no such file
    FolderNotFound,  // an upload into a folder that is not there
    AccessDenied,    // the system refuses to read the file
    WriteDenied,     // the system refuses to write it (or its folder)
    IsFolder,        // the name is a folder's
    Exists,          // an upload over a file while overwriting is off
    InUse,           // another transfer holds the file
    HardIO,          // the disk failed
    DiskFull,        // no room for the upload
    TooMany,         // over the transfer limits
    NoPort,          // no transfer port free
    BootFileMissing, // a boot offer's file is not in the folder
    OptionalMissing, // a name a Secure Boot chain probes and may lack: a neutral row
    BootHttpOff,     // a UEFI HTTP boot file by name while HTTP is off
    ControlName,     // a control character in the name
    DecidesBoot,     // an upload over what decides a boot, while boot services are on
};

struct RefusalEntry {
    int tftpCode;         // the ERROR packet's code
    const char* wireText; // its text; null for the code's own
    int httpStatus;
    const char* rowText;  // the row's text (a detail such as the folder follows it)
    const char* reason;   // why, in brackets after the row's text; null for none
    bool missingFile;     // a file that is not there: hidden with "Hide Missing Files"
};

// The one table: what the client hears, what the row says.
const RefusalEntry& RefusalFor(Refusal why);
// The row's text for a refusal, with its detail (the folder, the boot file) where it has one.
QString RefusalRow(Refusal why, const QString& detail = QString());
// The row's text for a file that shrank or grew while it was being sent (TFTP, HTTP).
extern const char kFileChanged[]; // also the ERROR packet's text

// Who is served and what they may do, as the Security and Setup values say. Checked in
// this order by every service: the client, then the read filter or read-only, then the
// path (RequestPath), then the file itself.
struct Admission {
    AccessRules rules;
    bool readOnly = false;

    Refusal Client(const QHostAddress& client) const;
    Refusal Read(const QByteArray& name) const;
    Refusal Write() const;
    // A name no file has: a control character in it (NameRules' HasControlCharacter).
    static Refusal ForName(const QByteArray& name);
    // An upload whose file the boot services hand out or the menu lists (or would).
    static Refusal ForBootFile(bool decidesBoot);
    // Where a name led: outside the folder, or no folder at all.
    static Refusal ForPath(bool refused, const QString& missingFolder);
    // A file that would not open; `upload` tells a missing folder from a missing file.
    static Refusal ForFile(FileCause cause, bool upload);
    // An upload, by what the look at the name found there before anything is written.
    static Refusal ForUpload(FileCause found, bool overWrite);
};
