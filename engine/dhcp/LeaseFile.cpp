#include "engine/dhcp/LeaseFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <unistd.h>

namespace Dhcp {

QByteArray FormatLeases(const QList<Lease>& leases) {
    QByteArray out = "# DHCP leases: MAC ADDRESS EXPIRES (seconds since 1970)\n";
    for (const Lease& l : leases) {
        out += l.mac.isEmpty() ? QByteArray("-") : MacText(l.mac).toLatin1();
        out += ' ' + AddressText(l.address).toLatin1() + ' ' + QByteArray::number(l.expires) + '\n';
    }
    return out;
}

namespace {
// A MAC, or a client identifier of up to 255 bytes: hex bytes joined by ':'.
Mac ParseClient(const QByteArray& text) {
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() > 255)
        return {};
    Mac out;
    for (const QByteArray& part : parts) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2)
            return {};
        out.append(char(byte));
    }
    return out;
}
} // namespace

QList<Lease> ParseLeases(const QByteArray& text) {
    QList<Lease> out;
    // What follows the last line end is a line cut short: not read.
    const qsizetype end = text.lastIndexOf('\n');
    if (end < 0)
        return out;
    for (const QByteArray& line : text.left(end).split('\n')) {
        if (line.startsWith('#'))
            continue;
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() != 3)
            continue;
        Lease l;
        bool ok = false;
        l.mac = f[0] == "-" ? Mac() : ParseClient(f[0]);
        l.address = ParseAddress(QString::fromLatin1(f[1]));
        l.expires = f[2].toLongLong(&ok);
        if (ok && l.address && (f[0] == "-" || !l.mac.isEmpty()))
            out.append(l);
    }
    return out;
}

QString LeaseFolder() {
    const QString state = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!state.isEmpty())
        return state;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

bool WriteLeaseFile(const QString& path, const QList<Lease>& leases, QString* error) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // QSaveFile writes a file beside, syncs it and renames it over the old one.
    QSaveFile file(path);
    const QByteArray bytes = FormatLeases(leases);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool CLeaseJournal::Rewrite(const QList<Lease>& leases, QString* error) {
    m_broken = !WriteLeaseFile(m_path, leases, error);
    m_lines = leases.size();
    return !m_broken;
}

bool CLeaseJournal::Append(const QList<Lease>& changed, QString* error) {
    if (changed.isEmpty())
        return true;
    if (m_broken)
        return false; // the caller rewrites
    QFile file(m_path);
    // Without the header: each line as the whole file writes it.
    const QByteArray lines = FormatLeases(changed).mid(FormatLeases({}).size());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(lines) != lines.size() || !file.flush() || ::fdatasync(file.handle()) != 0) {
        *error = file.errorString();
        m_broken = true;
        return false;
    }
    m_lines += changed.size();
    return true;
}

QList<Lease> ReadLeaseFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseLeases(file.readAll());
}

} // namespace Dhcp
