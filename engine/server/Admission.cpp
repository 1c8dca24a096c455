#include "engine/server/Admission.h"

#include "engine/files/NameRules.h"
#include "engine/server/ServerWindow.h"

namespace {
// One text for every refusal of access; the reason in brackets tells them apart.
const char kAccessDenied[] = "Error: Requested File Access Denied!!";

// Row texts are the system's own, spelling included; HTTP's refusals read the same as
// TFTP's so a row says the same whichever way the file was asked.
const RefusalEntry kTable[] = {
    /* None */ {0, nullptr, 200, "", nullptr, false},
    /* Client */ {2, nullptr, 403, "Unauthorized Clinet!! Deny This Request!!", nullptr, false},
    /* ReadFilter */
    {2, nullptr, 404, "Requested File Access Not Allowed!! Deny This Request!!", nullptr, false},
    /* ReadOnly */ {2, nullptr, 403, "Uploads Are Turned Off", nullptr, false},
    /* OutsideFolder */ {2, nullptr, 404, kAccessDenied, "leads outside the folder", false},
    /* MissingFolder */ {2, nullptr, 404, "Working folder missing: ", nullptr, false},
    /* NotFound */ {1, nullptr, 404, "Error: Requested File Not Found!!", nullptr, true},
    /* FolderNotFound */ {1, nullptr, 404, "Error: Requested Folder Not Found!!", nullptr, false},
    /* AccessDenied */ {2, nullptr, 404, kAccessDenied, "unreadable", false},
    /* WriteDenied */ {2, nullptr, 403, kAccessDenied, "permission denied", false},
    /* IsFolder */ {2, nullptr, 404, kAccessDenied, "a folder", false},
    /* Exists */
    {6, nullptr, 403, "File Already Exist!! Overwriting is prohibited!!", nullptr, false},
    /* InUse */ {0, nullptr, 503, "Error: File already using. Can not open file!!", nullptr, false},
    /* HardIO */ {0, nullptr, 500, "Error: Can not open file by H/W error!!", nullptr, false},
    /* DiskFull */ {3, nullptr, 507, "Error: Disk Full!!", nullptr, false},
    /* TooMany */
    {0, "Too many transfers, try again later", 503, "Too Many Transfers!! Deny This Request!!",
     nullptr, false},
    /* NoPort */ {0, "No free transfer port, try again later", 503, "", nullptr, false},
    /* BootFileMissing */ {0, nullptr, 404, "Boot File Missing: ", nullptr, false},
    /* OptionalMissing */ {1, nullptr, 404, "not present, optional", nullptr, true},
    /* BootHttpOff */ {0, nullptr, 404, "HTTP Is Off (Option > Protocol): ", nullptr, false},
    /* ControlName */ {2, nullptr, 400, kAccessDenied, "control character in the name", false},
    /* DecidesBoot */ {2, nullptr, 403, kAccessDenied, "decides what machines boot", false},
};
static_assert(std::size(kTable) == size_t(Refusal::DecidesBoot) + 1);
} // namespace

const char kFileChanged[] = "File changed during transfer";

const RefusalEntry& RefusalFor(Refusal why) { return kTable[size_t(why)]; }

QString RefusalRow(Refusal why, const QString& detail) {
    const RefusalEntry& entry = RefusalFor(why);
    QString row = QString::fromLatin1(entry.rowText);
    if (entry.reason)
        row += QStringLiteral(" (%1)").arg(QLatin1String(entry.reason));
    return row + detail;
}

Refusal Admission::Client(const QHostAddress& client) const {
    return rules.AdmitsClient(client) ? Refusal::None : Refusal::Client;
}

Refusal Admission::Read(const QByteArray& name) const {
    return rules.AdmitsRead(name) ? Refusal::None : Refusal::ReadFilter;
}

// Before any look at the file: a read-only server touches nothing.
Refusal Admission::Write() const { return readOnly ? Refusal::ReadOnly : Refusal::None; }

Refusal Admission::ForName(const QByteArray& name) {
    return HasControlCharacter(name) ? Refusal::ControlName : Refusal::None;
}

// Any client may upload, so while boot services run it may not rewrite what every other
// machine boots; other names upload as before.
Refusal Admission::ForBootFile(bool decidesBoot) {
    return decidesBoot ? Refusal::DecidesBoot : Refusal::None;
}

// The client hears "access violation" either way; the row tells the user which of the
// two it was, since a folder gone (an unplugged disk, say) is theirs to mend.
Refusal Admission::ForPath(bool refused, const QString& missingFolder) {
    if (!refused)
        return Refusal::None;
    return missingFolder.isEmpty() ? Refusal::OutsideFolder : Refusal::MissingFolder;
}

Refusal Admission::ForFile(FileCause cause, bool upload) {
    switch (cause) {
    case FileCause::None: return Refusal::None;
    case FileCause::FileNotFound: return Refusal::NotFound;
    case FileCause::BadPath: return upload ? Refusal::FolderNotFound : Refusal::NotFound;
    case FileCause::AccessDenied: return upload ? Refusal::WriteDenied : Refusal::AccessDenied;
    case FileCause::IsFolder: return Refusal::IsFolder;
    case FileCause::LeadsOut: return Refusal::OutsideFolder;
    case FileCause::HardIO: return Refusal::HardIO;
    case FileCause::DiskFull: return Refusal::DiskFull;
    case FileCause::Other: break;
    }
    return Refusal::InUse;
}

// With overwriting off, a file that is there is refused as existing whether or not it
// could be written: either way it stays as it is.
Refusal Admission::ForUpload(FileCause found, bool overWrite) {
    if (found == FileCause::FileNotFound)
        return Refusal::None;
    if (!overWrite && (found == FileCause::None || found == FileCause::AccessDenied))
        return Refusal::Exists;
    return ForFile(found, true);
}
