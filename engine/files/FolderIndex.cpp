#include "engine/files/FolderIndex.h"

namespace {
bool isFileName(const QByteArray& part) {
    return !part.isEmpty() && part != "." && part != "..";
}

// The key two names equal but for letter case share. Names that are not UTF-8 fold
// their ASCII letters only: two names that differ in other bytes are two names.
QByteArray folded(const QByteArray& name) {
    const QString text = QString::fromUtf8(name);
    if (text.toUtf8() == name)
        return text.toCaseFolded().toUtf8();
    return name.toLower();
}
} // namespace

QByteArray CFolderIndex::Match(const QString& root, const QByteArray& name, bool lastAsAsked) {
    const QList<QByteArray> parts = name.split('/');
    QByteArray result;
    for (int i = 0; i < parts.size(); ++i) {
        const bool last = i == parts.size() - 1;
        if (!isFileName(parts[i]))
            return {};
        QByteArray entry = MatchEntry(root, result.isEmpty() ? QByteArrayLiteral(".") : result,
                                      parts[i]);
        if (entry.isEmpty() && last && lastAsAsked)
            entry = parts[i];
        if (entry.isEmpty())
            return {};
        result = result.isEmpty() ? entry : result + '/' + entry;
    }
    return result;
}

QByteArray CFolderIndex::MatchEntry(const QString& root, const QByteArray& folder,
                                    const QByteArray& part) {
    const QByteArray key = folded(part);
    // A miss in an index that may predate the newest entry reads the folder again.
    for (bool missed : {false, true}) {
        const Folder* index = Current(root, folder, missed);
        if (!index)
            return {};
        const auto one = index->byFolded.constFind(key);
        if (one != index->byFolded.cend())
            return *one;
        const auto several = index->ambiguous.constFind(key);
        if (several != index->ambiguous.cend())
            return several->contains(part) ? part : QByteArray();
        if (index->stamp.settled)
            return {};
    }
    return {};
}

// The folder's index, read again when the folder changed (or, after a miss, when the
// index was taken too soon after a change to be sure of).
const CFolderIndex::Folder* CFolderIndex::Current(const QString& root, const QByteArray& folder,
                                                  bool missed) {
    const QString key = root + QChar(0) + QString::fromLatin1(folder);
    const FolderPath where{root, folder};
    FolderStamp now;
    if (!m_files.lookAtFolder(where, &now, nullptr)) {
        m_folders.remove(key);
        return nullptr;
    }
    auto it = m_folders.find(key);
    const bool fresh = it != m_folders.end() && it->stamp.sameAs(now) &&
                       (it->stamp.settled || !missed);
    if (!fresh) {
        if (it == m_folders.end()) {
            if (m_folders.size() >= kMaxFolders)
                Evict();
            it = m_folders.insert(key, Folder());
        }
        if (!Read(where, &*it)) {
            m_folders.erase(it);
            return nullptr;
        }
    }
    it->lastUse = ++m_nUses;
    return &*it;
}

bool CFolderIndex::Read(const FolderPath& where, Folder* into) {
    QList<QByteArray> names;
    FolderStamp stamp;
    if (!m_files.lookAtFolder(where, &stamp, &names))
        return false;
    Folder index;
    index.stamp = stamp;
    index.byFolded.reserve(names.size());
    for (const QByteArray& name : std::as_const(names)) {
        const QByteArray key = folded(name);
        const auto several = index.ambiguous.find(key);
        if (several != index.ambiguous.end()) {
            several->append(name);
            continue;
        }
        const auto one = index.byFolded.find(key);
        if (one == index.byFolded.end()) {
            index.byFolded.insert(key, name);
            continue;
        }
        index.ambiguous.insert(key, {*one, name});
        index.byFolded.erase(one);
    }
    *into = std::move(index);
    return true;
}

void CFolderIndex::Evict() {
    auto oldest = m_folders.begin();
    for (auto it = m_folders.begin(); it != m_folders.end(); ++it)
        if (it->lastUse < oldest->lastUse)
            oldest = it;
    if (oldest != m_folders.end())
        m_folders.erase(oldest);
}
