#include "engine/http/HttpConnections.h"

int CHttpConnections::Opened(const void* key, int fd) {
    m_conns[key] = Conn{fd};
    if (Count() < m_nLimit - m_nHeadroom)
        return -1;
    Conn* oldest = nullptr;
    for (auto& [other, conn] : m_conns)
        if (conn.idle && (!oldest || conn.idleSince < oldest->idleSince))
            oldest = &conn;
    if (!oldest)
        return -1;
    oldest->idle = false; // on its way out: the next newcomer takes another
    return oldest->fd;
}

void CHttpConnections::Began(const void* key, bool badPath) {
    const auto it = m_conns.find(key);
    if (it == m_conns.end())
        return;
    it->second.idle = false;
    it->second.badPath = badPath;
}

bool CHttpConnections::BadPath(const void* key) const {
    const auto it = m_conns.find(key);
    return it != m_conns.end() && it->second.badPath;
}

void CHttpConnections::Ended(const void* key) {
    const auto it = m_conns.find(key);
    if (it == m_conns.end())
        return;
    it->second.idle = true;
    it->second.badPath = false;
    it->second.idleSince = ++m_nTick;
}

void CHttpConnections::Closed(const void* key) { m_conns.erase(key); }
