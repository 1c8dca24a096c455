#pragma once

#include "engine/files/FileShareTable.h"
#include "engine/server/ServerWindow.h"

#include <QHash>
#include <QHostAddress>
#include <atomic>
#include <mutex>

// What the engine threads on one port share: the transfer limits (in all and per
// client address), the count of transfers in progress (the animation), the row keys
// and the table of files held open. The lock is taken once as a request is admitted
// and once as its transfer ends, never per block. One engine alone makes its own.
class CEngineShared {
public:
    // Counts a transfer in when both limits allow it: at most maxTotal live transfers
    // in all and maxPerClient from `client` (each when above 0). False changes nothing.
    bool TryEnter(const QHostAddress& client, int maxTotal, int maxPerClient);
    // A transfer counted in by TryEnter ends. holdsClientSlot: FreeClientSlot has not
    // already given its place in its client's count back.
    void Leave(const QHostAddress& client, bool holdsClientSlot);
    // The transfer stays live but no longer counts against its client's limit.
    void FreeClientSlot(const QHostAddress& client);

    // Live transfers in all, and from one client (the tests' view).
    int Live() const { return m_live.load(std::memory_order_relaxed); }
    int LiveFrom(const QHostAddress& client) const;

    // Transfers in progress over every engine: the new count.
    int CountIn() { return m_active.fetch_add(1, std::memory_order_acq_rel) + 1; }
    int CountOut(int n = 1) { return m_active.fetch_sub(n, std::memory_order_acq_rel) - n; }
    int Active() const { return m_active.load(std::memory_order_acquire); }

    // A key no other row of any engine has.
    RowHandle NextRow() { return m_lastRow.fetch_add(1, std::memory_order_relaxed) + 1; }

    CFileShareTable& Shares() { return m_shares; }

private:
    void DropClient(const QHostAddress& client); // under m_lock

    mutable std::mutex m_lock;
    QHash<QHostAddress, int> m_byClient; // under m_lock
    std::atomic<int> m_live = 0;         // written under m_lock
    std::atomic<int> m_active = 0;
    std::atomic<RowHandle> m_lastRow = 0;
    CFileShareTable m_shares; // locks itself
};
