#pragma once

#include <QHash>
#include <QString>
#include <mutex>

// Linux has no share modes, so transfers keep their own table of the files they hold
// open: any number of readers may share a file, a writer shares it with nobody. The
// engine threads share one table; each call takes its lock once (at an open or a close).
class CFileShareTable {
public:
    enum class Use { Read, Write };

    // False (a sharing violation) when the file is held in a way that excludes `use`.
    bool TryAcquire(const QString& canonicalPath, Use use);
    void Release(const QString& canonicalPath, Use use);
    bool IsHeld(const QString& canonicalPath) const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_entries.contains(canonicalPath);
    }

private:
    struct Entry {
        int readers = 0;
        bool writer = false;
    };
    mutable std::mutex m_lock;
    QHash<QString, Entry> m_entries;
};
