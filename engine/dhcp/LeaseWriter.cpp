#include "engine/dhcp/LeaseWriter.h"

#include <utility>

namespace Dhcp {

CLeaseWriter::CLeaseWriter(QString path, const QList<Lease>& leases, Durable durable)
    : m_journal(std::move(path)), m_onDurable(std::move(durable)) {
    for (const Lease& l : leases)
        m_state.insert(l.address, l);
    if (!m_onDurable) {
        Write({});
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

CLeaseWriter::~CLeaseWriter() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

quint64 CLeaseWriter::Submit(const QList<Lease>& changed) {
    if (changed.isEmpty())
        return m_submitted;
    const quint64 number = ++m_submitted;
    if (!m_onDurable) {
        Write(changed);
        m_durable.store(number, std::memory_order_release);
        return number;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_pending += changed;
        m_pendingUpTo = number;
    }
    m_wake.notify_one();
    return number;
}

QStringList CLeaseWriter::TakeErrors() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::exchange(m_errors, {});
}

void CLeaseWriter::Run() {
    Write({}); // the compaction at the start, before any batch counts as durable
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_pending.isEmpty(); });
        if (m_pending.isEmpty())
            return; // stopping, and all is written
        const QList<Lease> batch = std::exchange(m_pending, {});
        const quint64 upTo = m_pendingUpTo;
        lock.unlock();
        Write(batch);
        m_durable.store(upTo, std::memory_order_release);
        m_onDurable();
        lock.lock();
    }
}

void CLeaseWriter::Write(const QList<Lease>& batch) {
    for (const Lease& l : batch) {
        // A free address (nobody's, no quarantine) needs no line in a whole file.
        if (l.mac.isEmpty() && !l.expires)
            m_state.remove(l.address);
        else
            m_state.insert(l.address, l);
    }
    QString why;
    const bool rewrite = batch.isEmpty() || m_journal.WantsRewrite(m_state.size());
    if ((!rewrite && m_journal.Append(batch, &why)) || m_journal.Rewrite(m_state.values(), &why))
        return;
    std::lock_guard<std::mutex> lock(m_lock);
    m_errors.append(why);
}

} // namespace Dhcp
