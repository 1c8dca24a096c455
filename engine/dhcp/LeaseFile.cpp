#include "engine/dhcp/LeaseFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
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

CLeaseJournal::~CLeaseJournal() { Close(); }

void CLeaseJournal::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CLeaseJournal::Rewrite(const QList<Lease>& leases, QString* error) {
    Close();
    m_lines = leases.size();
    if (!WriteLeaseFile(m_path, leases, error))
        return false;
    // Kept open: an append is then one write and one sync, no open or close.
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    return true;
}

bool CLeaseJournal::Append(const QList<Lease>& changed, QString* error) {
    if (changed.isEmpty())
        return true;
    if (m_fd < 0)
        return false; // the caller rewrites
    // Without the header: each line as the whole file writes it.
    static const qsizetype header = FormatLeases({}).size();
    const QByteArray lines = FormatLeases(changed).mid(header);
    qsizetype done = 0;
    while (done < lines.size()) {
        const ssize_t n = ::write(m_fd, lines.constData() + done, size_t(lines.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    if (done != lines.size() || ::fdatasync(m_fd) != 0) {
        *error = qt_error_string(errno);
        Close();
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
