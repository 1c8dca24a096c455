#include "engine/server/Admission.h"

#include "engine/server/ServerWindow.h"

namespace {
// Row texts are the system's own, spelling included; HTTP's refusals read the same as
// TFTP's so a row says the same whichever way the file was asked.
const RefusalEntry kTable[] = {
    /* None */ {0, nullptr, 200, "", false},
    /* Client */ {2, nullptr, 403, "Unauthorized Clinet!! Deny This Request!!", false},
    /* ReadFilter */
    {2, nullptr, 404, "Requested File Access Not Allowed!! Deny This Request!!", false},
    /* ReadOnly */ {2, nullptr, 403, "Uploads Are Turned Off", false},
    /* OutsideFolder */ {2, nullptr, 404, "Error: Requested File Access Denied!!", false},
    /* MissingFolder */ {2, nullptr, 404, "Working folder missing: ", false},
    /* NotFound */ {1, nullptr, 404, "Error: Requested File Not Found!!", true},
    /* FolderNotFound */ {1, nullptr, 404, "Error: Requested Folder Not Found!!", false},
    /* AccessDenied */ {2, nullptr, 404, "Error: Requested File Access Denied!!", false},
    /* Exists */ {6, nullptr, 403, "File Already Exist!! Overwriting is prohibited!!", false},
    /* InUse */ {0, nullptr, 503, "Error: File already using. Can not open file!!", false},
    /* HardIO */ {0, nullptr, 500, "Error: Can not open file by H/W error!!", false},
    /* DiskFull */ {3, nullptr, 507, "Error: Disk Full!!", false},
    /* TooMany */
    {0, "Too many transfers, try again later", 503, "Too Many Transfers!! Deny This Request!!",
     false},
    /* NoPort */ {0, "No free transfer port, try again later", 503, "", false},
    /* BootFileMissing */ {0, nullptr, 404, "Boot File Missing: ", false},
};
static_assert(std::size(kTable) == size_t(Refusal::BootFileMissing) + 1);
} // namespace

const RefusalEntry& RefusalFor(Refusal why) { return kTable[size_t(why)]; }

QString RefusalRow(Refusal why, const QString& detail) {
    return QString::fromLatin1(RefusalFor(why).rowText) + detail;
}

Refusal Admission::Client(const QHostAddress& client) const {
    return rules.AdmitsClient(client.toString()) ? Refusal::None : Refusal::Client;
}

Refusal Admission::Read(const QByteArray& name) const {
    return rules.AdmitsRead(name) ? Refusal::None : Refusal::ReadFilter;
}

// Before any look at the file: a read-only server touches nothing.
Refusal Admission::Write() const { return readOnly ? Refusal::ReadOnly : Refusal::None; }

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
    case FileCause::AccessDenied: return Refusal::AccessDenied;
    case FileCause::HardIO: return Refusal::HardIO;
    case FileCause::DiskFull: return Refusal::DiskFull;
    case FileCause::Other: break;
    }
    return Refusal::InUse;
}
