#pragma once

#include "engine/bootp/AddressText.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <set>
#include <utility>

// The addresses a DHCP server of ours hands out on its one link, as values and times
// only: no socket, no clock, no file. Times are seconds since the epoch, handed in by
// the caller, so a test moves them as it likes and a restart keeps them.
namespace Dhcp {

// A HostsFile line: a fixed address and that host's own boot file (may be empty).
struct FixedHost {
    Mac mac;
    quint32 address = 0;
    QString bootFile;
};
struct HostsParse {
    QList<FixedHost> hosts;
    QStringList problems; // "line 3: ..." for each line that was not understood
};
// Lines `MAC IP [BOOTFILE]`; `#` starts a comment; blank lines are fine. A line whose
// MAC or address an earlier line has, or that gives `ours` (the server's address), is
// a problem and left out: one address is one machine's.
HostsParse ParseHostsFile(const QByteArray& text, quint32 ours = 0);
// The file at `path`, parsed as above; false, with why in `error`, when it cannot be read.
bool ReadHostsFile(const QString& path, quint32 ours, HostsParse* out, QString* error);

// The pool when PoolFirst and PoolLast are empty: up to kDefaultPoolSize addresses
// after ours within the prefix. False when none are left there.
constexpr int kDefaultPoolSize = 50;
bool DefaultPool(quint32 ours, int prefixLength, quint32* first, quint32* last);

struct Lease {
    Mac mac; // the client: its MAC, or its client identifier when it sent one
    quint32 address = 0;
    qint64 expires = 0; // seconds since the epoch; past it the address is free again
    bool operator==(const Lease&) const = default;
};

// The pool and its holders. An address is held by at most one client: a fixed host's
// always, a lease's until it expires or is released (and then still preferred for the
// same client), an offer's for kOfferSeconds, a declined one for kDeclineSeconds.
class CLeaseTable {
public:
    static constexpr qint64 kOfferSeconds = 60;
    static constexpr qint64 kDeclineSeconds = 600;

    // first..last inclusive (host order); first 0: no pool, fixed hosts only.
    CLeaseTable(quint32 first, quint32 last, const QList<FixedHost>& hosts, bool onlyKnownHosts);

    enum class Outcome { Given, Unknown, Exhausted, Wrong };
    struct Pick {
        Outcome outcome = Outcome::Exhausted;
        quint32 address = 0;
        const FixedHost* host = nullptr; // when the client is in HostsFile
    };

    // A client is known by its client identifier (option 61) when it sends one, else
    // by its MAC (RFC 2131 4.2): `clientId` empty is none. HostsFile names MACs.
    //
    // DISCOVER (or plain BOOTP, bound at once by the caller): the fixed address, else
    // the client's own lease or last address, else the one it asks for (option 50)
    // when free, else the first address never given, else the one free longest.
    Pick Offer(const Mac& mac, quint32 requested, qint64 now, const QByteArray& clientId = {});
    // REQUEST for `address`: Given when it is this client's to have (its fixed one, its
    // offer or lease, or free in the pool), and then leased until now + seconds; Wrong
    // (a NAK) otherwise.
    Pick Bind(const Mac& mac, quint32 address, qint64 now, qint64 seconds,
              const QByteArray& clientId = {});
    // RELEASE: the lease ends now; the address stays this client's first choice.
    bool Release(const Mac& mac, quint32 address, qint64 now, const QByteArray& clientId = {});
    // DECLINE: someone else uses the address; nobody gets it for kDeclineSeconds.
    bool Decline(const Mac& mac, quint32 address, qint64 now, const QByteArray& clientId = {});
    const FixedHost* Host(const Mac& mac) const;
    // A fixed host, or a client that was offered or held an address here.
    bool Knows(const Mac& mac, const QByteArray& clientId = {}) const {
        return Host(mac) || m_byMac.contains(clientId.isEmpty() ? mac : clientId);
    }
    bool InPool(quint32 address) const { return m_first && address >= m_first && address <= m_last; }

    // Every lease, in address order (what the lease file keeps).
    QList<Lease> Leases() const;
    // The addresses whose lease changed (bound, moved from, released, declined) since
    // the last call, as lease-file lines: a lease, or `-` for nobody's (with the end
    // of its quarantine, 0 when free). Offers are not among them: they need no disk.
    QList<Lease> TakeChanges();
    // The leases read back after a restart, in file order: a later line for an address
    // overrides an earlier one (the file is a journal). Ones outside the pool now are
    // dropped.
    void Restore(const QList<Lease>& leases);
    // How many addresses were ever given: at least as many as Leases() holds.
    qsizetype Addresses() const { return m_slots.size(); }
    quint32 First() const { return m_first; }
    quint32 Last() const { return m_last; }

private:
    struct Slot {
        Mac mac;            // the last client that held it
        qint64 expires = 0; // lease or offer end
        qint64 blockedUntil = 0; // declined
        bool everGiven = false;
        qint64 key = 0;     // its place in m_byEnd (expires) or m_quarantine (blockedUntil)
        bool quarantined = false;
    };
    bool FreeFor(quint32 address, const Mac& mac, qint64 now) const;
    quint32 AddressOf(const Mac& mac) const;
    // The next address never given, from a cursor that only moves forward (an address
    // once given stays given), so a new client costs no search of the pool; 0: none.
    quint32 NextFresh();
    // After a slot's expires or blockedUntil changed: moves it to its place in m_byEnd
    // or m_quarantine.
    void Rekey(quint32 address, Slot& slot);

    quint32 m_first, m_last;
    bool m_onlyKnown;
    QHash<Mac, FixedHost> m_hosts;
    QHash<quint32, Mac> m_fixedByAddress;
    QHash<quint32, Slot> m_slots;    // addresses of the pool that were ever given
    QHash<Mac, quint32> m_byMac;     // a client's last address in the pool
    // Every given address by when its holder's lease or offer ends, so the one free
    // longest is the first: once the never-given are gone, a new client costs a look
    // at the front, not a walk of the pool. Declined ones wait in m_quarantine, by the
    // end of it, and join m_byEnd when it is over.
    using ByTime = std::set<std::pair<qint64, quint32>>;
    ByTime m_byEnd, m_quarantine;
    quint64 m_fresh = 0;             // every pool address below it was given once
    QList<quint32> m_changed;        // for TakeChanges, in the order they changed
};

} // namespace Dhcp
