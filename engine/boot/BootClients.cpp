#include "engine/boot/BootClients.h"

#include <algorithm>

bool CBootClients::MayAnswer(const QByteArray& mac, qint64 nowMs) {
    auto it = m_clients.find(mac);
    if (it == m_clients.end()) {
        MakeRoom(nowMs);
        it = m_clients.insert(mac, Client{double(kBurst), nowMs, 0, 0});
    }
    Client& c = *it;
    c.tokens = std::min<double>(kBurst, c.tokens + double(nowMs - c.lastMs) * kPerSecond / 1000.0);
    c.lastMs = nowMs;
    if (c.tokens < 1.0)
        return false;
    c.tokens -= 1.0;
    return true;
}

RowHandle CBootClients::RowOf(const QByteArray& mac, quint32 xid) const {
    const auto it = m_clients.constFind(mac);
    return it != m_clients.cend() && it->row != 0 && it->xid == xid ? it->row : 0;
}

void CBootClients::SetRow(const QByteArray& mac, quint32 xid, RowHandle row) {
    const auto it = m_clients.find(mac);
    if (it != m_clients.end()) {
        it->xid = xid;
        it->row = row;
    }
}

// Full: the clients silent for a minute go; if none has been, the oldest half.
void CBootClients::MakeRoom(qint64 nowMs) {
    if (m_clients.size() < kMaxClients)
        return;
    m_clients.removeIf([nowMs](const auto& entry) { return nowMs - entry.value().lastMs > 60000; });
    if (m_clients.size() < kMaxClients)
        return;
    std::vector<qint64> times;
    for (const Client& c : std::as_const(m_clients))
        times.push_back(c.lastMs);
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    const qint64 median = times[times.size() / 2];
    m_clients.removeIf([median](const auto& entry) { return entry.value().lastMs <= median; });
}
