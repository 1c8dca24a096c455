#pragma once

#include <QHash>
#include <QString>

// Linux has no share modes, so transfers keep their own table of the files they hold
// open: any number of readers may share a file, a writer shares it with nobody.
class CFileShareTable {
public:
    enum class Use { Read, Write };

    // False (a sharing violation) when the file is held in a way that excludes `use`.
    bool TryAcquire(const QString& canonicalPath, Use use);
    void Release(const QString& canonicalPath, Use use);
    bool IsHeld(const QString& canonicalPath) const { return m_entries.contains(canonicalPath); }

private:
    struct Entry {
        int readers = 0;
        bool writer = false;
    };
    QHash<QString, Entry> m_entries;
};
