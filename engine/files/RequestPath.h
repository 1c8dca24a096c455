#pragma once

#include "engine/files/FileShareTable.h"
#include "engine/files/FolderIndex.h"
#include "engine/files/NameRules.h"
#include "engine/iso/IsoCatalog.h"
#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

// How names find files: the Setup and Names values the lookup depends on.
struct NameSettings {
    QString workingFolder;
    QString remapFile;
    bool ignoreCase = true;
    bool driveLetters = true;
    bool clientFolders = false;
};

// Where a client's name leads.
struct ResolvedPath {
    FolderPath path;       // the name below the working folder
    bool refuse = false;   // the name leaves the folder, or there is no usable folder
    QString missingFolder; // the working folder as set, when it is not a usable folder
    // " (asked NAME)" when the name was found another way than as sent (letter case, a
    // drive letter, a rewrite rule, the client's own folder); empty otherwise.
    QString askedNote;
    // A download's file, opened by the look-up itself (one open instead of a look and an
    // open); null when the name was found another way or cannot be read.
    std::unique_ptr<IFile> file;
};

// The only place a client's name becomes a file, for TFTP, HTTP and boot offers: the
// rewrite rules, drive letters, letter case and the client's own folder, always beneath
// the working folder; and the one open of a file for reading under the sharing table.
class CRequestPath {
public:
    CRequestPath(IPlatform& platform, CFileShareTable& shares)
        : m_platform(platform), m_shares(shares), m_folderIndex(platform.files()) {}

    // The file `sent` stands for, for a read or (`upload`) a write by `client`. A
    // complaint about the rewrite rules' file lands in *report (once per reading of it).
    ResolvedPath Resolve(const NameSettings& names, const QByteArray& sent, bool upload,
                         const QHostAddress& client, QString* report) {
        return Resolve(names, sent, upload, client.toString(), report);
    }
    // The same with the client's address as text (QHostAddress::toString).
    ResolvedPath Resolve(const NameSettings& names, const QByteArray& sent, bool upload,
                         const QString& client, QString* report);
    // Whether a boot file (a plain name, sent by no client yet) is a file beneath the folder.
    bool BootFileThere(const QString& workingFolder, const QByteArray& name);
    // Its size in bytes; -1 when it is not there (or cannot be read).
    qint64 BootFileSize(const QString& workingFolder, const QByteArray& name);

    // Opens `path` for reading (or takes `opened`, the look-up's open of it) and holds it
    // as read in the sharing table under `*key` (the caller releases it). Null with
    // `error` set when it cannot be opened, or with FileCause::Other when an upload holds
    // it, even one whose file is not there yet. A name inside an ISO image
    // ("x.iso/live/vmlinuz") opens that member where it lies in the image, held under the
    // image's key.
    std::unique_ptr<IFile> OpenSharedForReading(const FolderPath& path, FileError* error,
                                                QString* key,
                                                std::unique_ptr<IFile> opened = nullptr);

    // Whether `path` names a file inside an ISO image in the folder (which nothing writes).
    bool InsideImage(const FolderPath& path);
    // The catalog of the ISO image `path` (its members' names, for the boot menu); null
    // when it is no readable image.
    const IsoCatalog* ImageCatalog(const FolderPath& path);

    // "x.iso/live/vmlinuz" (an ".iso" part in any letter case, at any depth) as the
    // image's name and the member's; false for a name with no such part.
    static bool SplitImageName(const QByteArray& name, qsizetype from, QByteArray* image,
                               QByteArray* member);

    // The name below `root`. Backslashes count as separators (clients written for
    // other systems send them), and a leading separator means the folder's root.
    static FolderPath ComposePath(const QString& root, const QByteArray& name);
    // A name that would leave the working directory: a ".." component, or a drive.
    static bool LeavesWorkingDir(const QByteArray& name);
    // `name` with the client's own IPv6 address (put in by a \i rule) masked, for the
    // check above.
    static QByteArray WithoutOwnAddress(const QByteArray& name, const QString& address);

private:
    FolderPath ResolveName(const NameSettings& names, const QByteArray& sent, bool upload,
                           const QString& address, bool* refuse, QString* note,
                           QString* report, std::unique_ptr<IFile>* opened);
    std::unique_ptr<IFile> OpenImageMember(const FolderPath& path, FileError* error);

    IPlatform& m_platform;
    CFileShareTable& m_shares;
    CNameRules m_nameRules; // read again when its file changes
    CFolderIndex m_folderIndex; // names ignoring case, without a read of the folder each
    CIsoCatalogCache m_images;  // HTTP, TFTP and the boot menu read one image's once
};
