#include "engine/tftp/Netascii.h"

#include <QByteArray>
#include <algorithm>
#include <utility>

namespace Netascii {

namespace {
// Enough places for the widest window to be sent again from any of its blocks.
constexpr size_t kKeptPoints = 40000;
constexpr qint64 kChunk = 64 * 1024;
} // namespace

CEncodingFile::CEncodingFile(std::unique_ptr<IFile> inner) : m_inner(std::move(inner)) {
    m_points[0] = Point{};
}

qint64 CEncodingFile::read(char* data, qint64 maxSize) {
    const qint64 n = readAt(data, maxSize, m_position);
    if (n > 0)
        m_position += n;
    return n;
}

qint64 CEncodingFile::readAt(char* data, qint64 maxSize, qint64 offset) {
    if (offset < 0 || maxSize < 0)
        return 0;
    auto it = m_points.upper_bound(offset);
    qint64 at = 0;
    Point point;
    if (it != m_points.begin()) {
        --it;
        at = it->first;
        point = it->second;
    }
    // An offset not read before: convert forward to it, the bytes thrown away.
    char skip[4096];
    while (at < offset) {
        const qint64 n = Convert(skip, std::min<qint64>(sizeof skip, offset - at), &point);
        if (n < 0)
            return -1;
        if (n == 0)
            return 0; // beyond the end
        at += n;
    }
    const qint64 n = Convert(data, maxSize, &point);
    if (n < 0)
        return -1;
    m_points[offset + n] = point;
    while (m_points.size() > kKeptPoints)
        m_points.erase(std::next(m_points.begin())); // the start stays
    return n;
}

qint64 CEncodingFile::Convert(char* data, qint64 maxSize, Point* from) {
    qint64 out = 0;
    QByteArray raw;
    while (out < maxSize) {
        if (from->pending || from->pendingNul) {
            data[out++] = from->pendingNul ? '\0' : from->pending;
            from->pending = 0;
            from->pendingNul = false;
            continue;
        }
        // Each byte gives at least one: the room left fills from one read. What a line
        // end's second byte leaves unconverted is read again from fileOffset next time.
        const qint64 want = std::min<qint64>(kChunk, maxSize - out);
        raw.resize(want);
        const qint64 got = m_inner->readAt(raw.data(), want, from->fileOffset);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        qint64 used = 0;
        while (used < got && out < maxSize) {
            const char c = raw[used++];
            if (c != '\n' && c != '\r') {
                data[out++] = c;
                continue;
            }
            data[out++] = '\r';
            const char second = c == '\n' ? '\n' : '\0';
            if (out < maxSize) {
                data[out++] = second;
            } else if (second == '\0') {
                from->pendingNul = true;
            } else {
                from->pending = second;
            }
        }
        from->fileOffset += used;
    }
    return out;
}

qint64 CEncodingFile::write(const char*, qint64) { return -1; }

CDecodingFile::CDecodingFile(std::unique_ptr<IFile> inner) : m_inner(std::move(inner)) {}

qint64 CDecodingFile::write(const char* data, qint64 size) {
    QByteArray out;
    out.reserve(int(size) + 1);
    for (qint64 i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_bPendingCr) {
            m_bPendingCr = false;
            if (c == '\n') {
                out.append('\n');
                continue;
            }
            out.append('\r'); // CR NUL, or a lone CR kept as it came
            if (c == '\0')
                continue;
        }
        if (c == '\r')
            m_bPendingCr = true;
        else
            out.append(c);
    }
    if (!out.isEmpty() && m_inner->write(out.constData(), out.size()) != out.size())
        return -1;
    return size;
}

bool CDecodingFile::FlushPendingCr() {
    if (!std::exchange(m_bPendingCr, false))
        return true;
    return m_inner->write("\r", 1) == 1;
}

bool CDecodingFile::keep(FileError* error) {
    if (!FlushPendingCr()) {
        *error = m_inner->error();
        return false;
    }
    return m_inner->keep(error);
}

void CDecodingFile::close() {
    if (m_bClosed)
        return;
    m_bClosed = true;
    FlushPendingCr();
    m_inner->close();
}

} // namespace Netascii
