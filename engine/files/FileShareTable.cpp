#include "engine/files/FileShareTable.h"

bool CFileShareTable::TryAcquire(const QString& canonicalPath, Use use) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_entries.find(canonicalPath);
    if (it != m_entries.end() && (it->writer || use == Use::Write))
        return false;
    Entry& entry = m_entries[canonicalPath];
    if (use == Use::Write)
        entry.writer = true;
    else
        ++entry.readers;
    return true;
}

void CFileShareTable::Release(const QString& canonicalPath, Use use) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_entries.find(canonicalPath);
    if (it == m_entries.end())
        return;
    if (use == Use::Write)
        it->writer = false;
    else if (it->readers > 0)
        --it->readers;
    if (!it->writer && it->readers == 0)
        m_entries.erase(it);
}
