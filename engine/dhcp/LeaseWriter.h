#pragma once

#include "engine/dhcp/LeaseFile.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The lease file kept on a thread of its own, so that the engine thread, which carries
// every TFTP transfer, never waits on a disk sync. The engine thread hands over each
// exchange's changed leases and goes on; the writer appends all that gathered while it
// was syncing and syncs once for all of them (many leases per fdatasync), then says how
// far the file holds. A reply that tells of a lease leaves only after that.
namespace Dhcp {

class CLeaseWriter {
public:
    // Called on the writer's thread after each sync (it posts to the engine thread).
    // Without one there is no thread: Submit writes and syncs before it returns.
    using Durable = std::function<void()>;

    // Starts with the whole file written again from `leases` (compacted).
    CLeaseWriter(QString path, const QList<Lease>& leases, Durable durable);
    // Writes what is still pending before it returns: nothing submitted is lost.
    ~CLeaseWriter();
    CLeaseWriter(const CLeaseWriter&) = delete;
    CLeaseWriter& operator=(const CLeaseWriter&) = delete;

    // The batch's number: on disk once DurableUpTo() reaches it.
    quint64 Submit(const QList<Lease>& changed);
    quint64 Submitted() const { return m_submitted; }
    quint64 DurableUpTo() const { return m_durable.load(std::memory_order_acquire); }
    // Why writes failed since the last call ("Leases not saved" rows). A failed write
    // still counts as done: the server goes on serving, and says so.
    QStringList TakeErrors();

private:
    void Run();
    // Writer side: one append and one sync for everything in `batch`, or the file
    // written whole when the journal has grown long or broke.
    void Write(const QList<Lease>& batch);

    CLeaseJournal m_journal;
    QMap<quint32, Lease> m_state; // the file's content as read back, for rewrites
    Durable m_onDurable;
    quint64 m_submitted = 0; // the engine thread's count

    std::mutex m_lock;
    std::condition_variable m_wake;
    QList<Lease> m_pending;  // under m_lock
    quint64 m_pendingUpTo = 0; // under m_lock: the last batch in m_pending
    bool m_stop = false;       // under m_lock
    QStringList m_errors;      // under m_lock
    std::atomic<quint64> m_durable{0};
    std::thread m_thread;
};

} // namespace Dhcp
