#pragma once

#include "engine/dhcp/LeaseTable.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The leases on disk, so that a restart gives each client its address again. One line
// per lease, `MAC ADDRESS EXPIRES` (seconds since the epoch; `-` for the MAC of a
// declined address in quarantine; for a client that sent an identifier, that instead
// of the MAC, in the same hex form). The file is replaced whole, written beside and
// synced first, so a crash leaves the old file or the new one, never a mix; a file cut
// short all the same (another writer, a full disk) is read up to its last whole line.
namespace Dhcp {

QByteArray FormatLeases(const QList<Lease>& leases);
// Whole lines only; a line that does not parse is passed over.
QList<Lease> ParseLeases(const QByteArray& text);

// The folder the lease file lives in: $STATE_DIRECTORY when the service manager names
// one (the headless service), else the user's data folder.
QString LeaseFolder();
constexpr const char* kLeaseFileName = "dhcp-leases";
// The DHCPv6 server's, beside it: its addresses as pool slots (0.0.0.1 is the first),
// its clients by DUID and IAID.
constexpr const char* kLease6FileName = "dhcp6-leases";

bool WriteLeaseFile(const QString& path, const QList<Lease>& leases, QString* error);

// The lease file kept as a journal: each change appended as its line and synced (a few
// bytes, not the whole file), the file written whole again once it holds many more
// lines than there are leases. Read back, a later line for an address wins.
class CLeaseJournal {
public:
    explicit CLeaseJournal(QString path) : m_path(std::move(path)) {}
    ~CLeaseJournal();
    CLeaseJournal(const CLeaseJournal&) = delete;
    CLeaseJournal& operator=(const CLeaseJournal&) = delete;
    // Writes `leases` whole (beside, synced, renamed) and goes on appending to that.
    bool Rewrite(const QList<Lease>& leases, QString* error);
    // Appends and syncs once for all of them; false with the reason (then the next call
    // rewrites).
    bool Append(const QList<Lease>& changed, QString* error);
    // True when the file has grown past twice `leases` lines and a margin.
    bool WantsRewrite(qsizetype leases) const { return m_lines > 2 * leases + kSlack; }
    static constexpr qsizetype kSlack = 1024;

private:
    void Close();

    QString m_path;
    qsizetype m_lines = 0;
    int m_fd = -1; // the file open for appending; -1: none (the next Append fails)
};
// Empty when there is no file yet.
QList<Lease> ReadLeaseFile(const QString& path);

} // namespace Dhcp
