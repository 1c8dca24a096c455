#pragma once

#include "engine/platform/Platform.h"

#include <QStringList>

// Files below the working folder, on POSIX calls: every name is resolved beneath the
// folder (symbolic links and ".." never lead out of it; openat2 with RESOLVE_BENEATH
// where the kernel has it, a real-path comparison where it does not), only regular
// files are read or replaced, and nothing ever blocks on a FIFO or a device.
class CFolderFileSystem final : public IFileSystem {
public:
    std::unique_ptr<IFile> openRead(const FolderPath& path, FileError* error) override;
    std::unique_ptr<IFile> createTemp(const FolderPath& besides, FileError* error) override;
    FileError probeExisting(const FolderPath& path) override;
    bool remove(const FolderPath& path) override;
    QString canonical(const FolderPath& path) override;
    qint64 freeSpace(const FolderPath& path) override;
    // Keeps the folder open for the lookups that follow.
    bool folderReady(const QString& root) override;
    bool existsBeneath(const QString& root, const QByteArray& name, bool folderOnly) override;
    QByteArray matchIgnoringCase(const QString& root, const QByteArray& name,
                                 bool lastAsAsked) override;

    // Removes what uploads cut short by a crash left in the folder and its first-level
    // subfolders; answers their names relative to the folder.
    static QStringList RemoveUnfinishedUploads(const QString& root);
    // True for a name of the form uploads use before they are complete (the request
    // path refuses such names, so no client reaches them).
    static bool IsUploadName(const QByteArray& base);

    // For tests: resolve without openat2, as on kernels older than 5.6.
    static void ForceRealPathFallback(bool on);
};

// A name spelled in another letter case than the file (Windows clients: "\Boot\BCD" for
// "boot/bcd"): each part of `name` is matched, ignoring case, against the entries of the
// folder found so far, beneath `root` only. A part matching exactly one entry takes that
// entry's spelling; none or several and the lookup fails (empty result). With
// `lastAsAsked` (an upload) the last part may match nothing and is then kept as asked.
QByteArray MatchIgnoringCase(const QString& root, const QByteArray& name, bool lastAsAsked);
// Whether `name` (a file, or with `folderOnly` the folder that would hold it) exists
// beneath `root`, reached without leaving it.
bool ExistsBeneath(const QString& root, const QByteArray& name, bool folderOnly);
