#include "engine/server/EngineShared.h"

bool CEngineShared::TryEnter(const QHostAddress& client, int maxTotal, int maxPerClient) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (maxTotal > 0 && m_live.load(std::memory_order_relaxed) >= maxTotal)
        return false;
    int& mine = m_byClient[client];
    if (maxPerClient > 0 && mine >= maxPerClient) {
        if (mine == 0)
            m_byClient.remove(client);
        return false;
    }
    ++mine;
    m_live.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void CEngineShared::Leave(const QHostAddress& client, bool holdsClientSlot) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_live.fetch_sub(1, std::memory_order_relaxed);
    if (holdsClientSlot)
        DropClient(client);
}

void CEngineShared::FreeClientSlot(const QHostAddress& client) {
    std::lock_guard<std::mutex> lock(m_lock);
    DropClient(client);
}

void CEngineShared::DropClient(const QHostAddress& client) {
    const auto it = m_byClient.find(client);
    if (it != m_byClient.end() && --*it <= 0)
        m_byClient.erase(it);
}

int CEngineShared::LiveFrom(const QHostAddress& client) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_byClient.value(client);
}
