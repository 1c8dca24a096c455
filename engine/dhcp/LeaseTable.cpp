#include "engine/dhcp/LeaseTable.h"

#include <QFile>

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <utility>

namespace Dhcp {

bool ReadHostsFile(const QString& path, quint32 ours, HostsParse* out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("HostsFile %1: %2").arg(path, file.errorString());
        return false;
    }
    *out = ParseHostsFile(file.readAll(), ours);
    return true;
}

HostsParse ParseHostsFile(const QByteArray& text, quint32 ours) {
    HostsParse out;
    QHash<Mac, int> lineOfMac;
    QHash<quint32, int> lineOfAddress;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QStringList fields =
            QString::fromUtf8(line).split(QRegularExpression(QStringLiteral("\\s+")),
                                          Qt::SkipEmptyParts);
        if (fields.isEmpty())
            continue;
        FixedHost host;
        host.mac = ParseMac(fields.value(0));
        host.address = ParseAddress(fields.value(1));
        host.bootFile = fields.value(2);
        if (host.mac.isEmpty() || !host.address || fields.size() > 3) {
            out.problems.append(QStringLiteral("line %1: \"%2\" is not MAC IP [BOOTFILE]")
                                    .arg(i + 1)
                                    .arg(QString::fromUtf8(lines[i]).trimmed()));
            continue;
        }
        const QString at = QStringLiteral("line %1: ").arg(i + 1);
        if (host.address == ours) {
            out.problems.append(at + QStringLiteral("%1 is the server's own address")
                                         .arg(AddressText(host.address)));
        } else if (const int before = lineOfAddress.value(host.address)) {
            out.problems.append(at + QStringLiteral("%1 is line %2's already")
                                         .arg(AddressText(host.address))
                                         .arg(before));
        } else if (const int before = lineOfMac.value(host.mac)) {
            out.problems.append(at + QStringLiteral("%1 has an address on line %2 already")
                                         .arg(MacText(host.mac))
                                         .arg(before));
        } else {
            lineOfAddress.insert(host.address, i + 1);
            lineOfMac.insert(host.mac, i + 1);
            out.hosts.append(host);
        }
    }
    return out;
}

bool DefaultPool(quint32 ours, int prefixLength, quint32* first, quint32* last) {
    if (prefixLength < 1 || prefixLength > 30)
        return false;
    const quint32 mask = ~quint32(0) << (32 - prefixLength);
    const quint32 broadcast = (ours & mask) | ~mask;
    if (ours + 1 >= broadcast)
        return false;
    *first = ours + 1;
    *last = qMin<quint64>(quint64(ours) + kDefaultPoolSize, broadcast - 1);
    return true;
}

CLeaseTable::CLeaseTable(quint32 first, quint32 last, const QList<FixedHost>& hosts,
                         bool onlyKnownHosts)
    : m_first(first), m_last(first ? qMax(first, last) : 0), m_onlyKnown(onlyKnownHosts) {
    for (const FixedHost& h : hosts) {
        m_hosts.insert(h.mac, h);
        m_fixedByAddress.insert(h.address, h.mac);
    }
}

const FixedHost* CLeaseTable::Host(const Mac& mac) const {
    if (mac.isEmpty()) // no MAC known: nobody's line
        return nullptr;
    const auto it = m_hosts.constFind(mac);
    return it == m_hosts.constEnd() ? nullptr : &*it;
}

bool CLeaseTable::FreeFor(quint32 address, const Mac& mac, qint64 now) const {
    if (!InPool(address) || m_fixedByAddress.contains(address))
        return false;
    const auto it = m_slots.constFind(address);
    if (it == m_slots.constEnd())
        return true;
    if (it->blockedUntil > now)
        return false;
    return it->mac == mac || it->expires <= now;
}

quint32 CLeaseTable::AddressOf(const Mac& mac) const { return m_byMac.value(mac, 0); }

quint32 CLeaseTable::NextFresh() {
    if (m_fresh < m_first)
        m_fresh = m_first;
    for (; m_fresh <= m_last; ++m_fresh) {
        const quint32 a = quint32(m_fresh);
        if (!m_slots.contains(a) && !m_fixedByAddress.contains(a))
            return a;
    }
    return 0;
}

void CLeaseTable::Rekey(quint32 address, Slot& slot) {
    (slot.quarantined ? m_quarantine : m_byEnd).erase({slot.key, address});
    slot.quarantined = slot.blockedUntil != 0;
    slot.key = slot.quarantined ? slot.blockedUntil : slot.expires;
    (slot.quarantined ? m_quarantine : m_byEnd).insert({slot.key, address});
}

QList<Lease> CLeaseTable::TakeChanges() {
    QList<Lease> out;
    for (const quint32 a : std::exchange(m_changed, {})) {
        const Slot& slot = m_slots[a];
        out.append({slot.mac, a, slot.mac.isEmpty() ? slot.blockedUntil : slot.expires});
    }
    return out;
}

CLeaseTable::Pick CLeaseTable::Offer(const Mac& chaddr, quint32 requested, qint64 now,
                                     const QByteArray& clientId) {
    if (const FixedHost* host = Host(chaddr))
        return {Outcome::Given, host->address, host};
    if (m_onlyKnown)
        return {Outcome::Unknown, 0, nullptr};
    const Mac& mac = clientId.isEmpty() ? chaddr : clientId;
    quint32 chosen = 0;
    if (const quint32 own = AddressOf(mac); own && FreeFor(own, mac, now))
        chosen = own;
    else if (requested && FreeFor(requested, mac, now))
        chosen = requested;
    else if (m_first && (chosen = NextFresh()) == 0) {
        // Never given first (above), so that a client gone for a while finds its
        // address still free; then the one whose holder has been gone longest.
        while (!m_quarantine.empty() && m_quarantine.begin()->first <= now) {
            const quint32 over = m_quarantine.begin()->second;
            Slot& slot = m_slots[over];
            slot.blockedUntil = 0;
            Rekey(over, slot);
        }
        if (!m_byEnd.empty() && m_byEnd.begin()->first <= now)
            chosen = m_byEnd.begin()->second;
    }
    if (!chosen)
        return {Outcome::Exhausted, 0, nullptr};
    Slot& slot = m_slots[chosen];
    if (slot.mac != mac) {
        if (m_byMac.value(slot.mac) == chosen)
            m_byMac.remove(slot.mac);
        slot.mac = mac;
        slot.expires = 0;
    }
    slot.expires = qMax(slot.expires, now + kOfferSeconds);
    slot.blockedUntil = 0; // free now (above), whatever it was before
    slot.everGiven = true;
    Rekey(chosen, slot);
    m_byMac.insert(mac, chosen);
    return {Outcome::Given, chosen, nullptr};
}

CLeaseTable::Pick CLeaseTable::Bind(const Mac& chaddr, quint32 address, qint64 now, qint64 seconds,
                                    const QByteArray& clientId) {
    if (const FixedHost* host = Host(chaddr))
        return {host->address == address ? Outcome::Given : Outcome::Wrong, host->address, host};
    if (m_onlyKnown)
        return {Outcome::Unknown, 0, nullptr};
    const Mac& mac = clientId.isEmpty() ? chaddr : clientId;
    if (!FreeFor(address, mac, now))
        return {Outcome::Wrong, 0, nullptr};
    // A client holds one address: the one it held or was offered before is let go.
    if (const quint32 before = AddressOf(mac); before && before != address) {
        Slot& old = m_slots[before];
        if (old.mac == mac) {
            old.mac.clear();
            old.expires = 0;
            Rekey(before, old);
            m_changed.append(before);
        }
    }
    Slot& slot = m_slots[address];
    if (slot.mac != mac && m_byMac.value(slot.mac) == address)
        m_byMac.remove(slot.mac);
    slot.mac = mac;
    slot.expires = now + seconds;
    slot.blockedUntil = 0;
    slot.everGiven = true;
    Rekey(address, slot);
    m_byMac.insert(mac, address);
    m_changed.append(address);
    return {Outcome::Given, address, nullptr};
}

bool CLeaseTable::Release(const Mac& chaddr, quint32 address, qint64 now, const QByteArray& clientId) {
    const Mac& mac = clientId.isEmpty() ? chaddr : clientId;
    const auto it = m_slots.find(address);
    if (it == m_slots.end() || it->mac != mac || it->expires <= now)
        return false;
    it->expires = now;
    Rekey(address, *it);
    m_changed.append(address);
    return true;
}

bool CLeaseTable::Decline(const Mac& chaddr, quint32 address, qint64 now, const QByteArray& clientId) {
    const Mac& mac = clientId.isEmpty() ? chaddr : clientId;
    const auto it = m_slots.find(address);
    if (it == m_slots.end() || it->mac != mac)
        return false;
    // Nobody's address now: the client that declined it is offered another.
    it->blockedUntil = now + kDeclineSeconds;
    it->expires = now;
    it->mac.clear();
    Rekey(address, *it);
    m_byMac.remove(mac);
    m_changed.append(address);
    return true;
}

QList<Lease> CLeaseTable::Leases() const {
    QList<Lease> out;
    for (auto it = m_slots.constBegin(); it != m_slots.constEnd(); ++it) {
        // A declined address is kept as a lease of nobody's until its quarantine ends.
        if (!it->mac.isEmpty())
            out.append({it->mac, it.key(), it->expires});
        else if (it->blockedUntil)
            out.append({Mac(), it.key(), it->blockedUntil});
    }
    std::sort(out.begin(), out.end(),
              [](const Lease& a, const Lease& b) { return a.address < b.address; });
    return out;
}

void CLeaseTable::Restore(const QList<Lease>& leases) {
    for (const Lease& l : leases) {
        if (!InPool(l.address) || m_fixedByAddress.contains(l.address))
            continue;
        Slot& slot = m_slots[l.address];
        if (!slot.mac.isEmpty() && slot.mac != l.mac && m_byMac.value(slot.mac) == l.address)
            m_byMac.remove(slot.mac);
        slot.mac = l.mac;
        slot.everGiven = true;
        if (l.mac.isEmpty()) {
            slot.blockedUntil = l.expires;
            slot.expires = 0;
            Rekey(l.address, slot);
            continue;
        }
        slot.blockedUntil = 0;
        slot.expires = l.expires;
        Rekey(l.address, slot);
        m_byMac.insert(l.mac, l.address);
    }
}

} // namespace Dhcp
