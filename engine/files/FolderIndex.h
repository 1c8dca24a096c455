#pragma once

#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// A name spelled in another letter case than the file (Windows clients: "\Boot\BCD" for
// "boot/bcd"): each part of the name is matched, ignoring case, against the entries of
// the folder found so far, beneath the working folder only. A part matching exactly one
// entry takes that entry's spelling (an exact spelling always wins); none or several and
// the lookup fails.
//
// Each folder is read once and kept as an index by folded name, read again only when
// its stamp (identity, modification time) changes: a flood of requests for names that
// are not there costs one stat per folder each, not a read of the whole folder. An index
// taken while the folder had just changed is read again on a miss until it settles.
class CFolderIndex {
public:
    explicit CFolderIndex(IFileSystem& files) : m_files(files) {}

    // The name as spelled in the folder; empty when a part matches no entry or several.
    // With `lastAsAsked` (an upload) the last part may match nothing and is then kept
    // as asked.
    QByteArray Match(const QString& root, const QByteArray& name, bool lastAsAsked);

    // How many folders are kept at most; the one used longest ago leaves first.
    static constexpr int kMaxFolders = 64;

private:
    struct Folder {
        FolderStamp stamp;
        QHash<QByteArray, QByteArray> byFolded;          // folded name: its one entry
        QHash<QByteArray, QList<QByteArray>> ambiguous;  // folded name: several entries
        quint64 lastUse = 0;
    };
    // The entry of `folder` (beneath root) for `part`; empty when none or several.
    QByteArray MatchEntry(const QString& root, const QByteArray& folder, const QByteArray& part);
    const Folder* Current(const QString& root, const QByteArray& folder, bool missed);
    bool Read(const FolderPath& where, Folder* into);
    void Evict();

    IFileSystem& m_files;
    QHash<QString, Folder> m_folders; // by root, a NUL, and the folder beneath it
    quint64 m_nUses = 0;
};
