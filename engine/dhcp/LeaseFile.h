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

bool WriteLeaseFile(const QString& path, const QList<Lease>& leases, QString* error);
// Empty when there is no file yet.
QList<Lease> ReadLeaseFile(const QString& path);

} // namespace Dhcp
