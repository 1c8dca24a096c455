#include "engine/iso/IsoCatalog.h"

#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

const IsoMember* IsoCatalog::find(const QByteArray& path) const {
    const auto it = members.constFind(path);
    return it == members.constEnd() ? nullptr : &it.value();
}

QList<QByteArray> IsoCatalog::paths() const {
    QList<QByteArray> out = members.keys();
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// The image as libarchive reads it: pread at a position of our own, so the descriptor
// shared with HTTP's sendfile is never moved.
struct Source {
    int fd = -1;
    qint64 size = 0;
    qint64 position = 0;
    char buffer[64 * 1024];
};

la_ssize_t ReadBlock(archive* a, void* data, const void** block) {
    auto* s = static_cast<Source*>(data);
    const qint64 want = std::min<qint64>(sizeof s->buffer, s->size - s->position);
    if (want <= 0)
        return 0;
    ssize_t got;
    do
        got = ::pread(s->fd, s->buffer, size_t(want), s->position);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        archive_set_error(a, errno, "%s", std::strerror(errno));
        return -1;
    }
    s->position += got;
    *block = s->buffer;
    return got;
}

la_int64_t Skip(archive*, void* data, la_int64_t request) {
    auto* s = static_cast<Source*>(data);
    const qint64 step = std::clamp<qint64>(request, 0, s->size - s->position);
    s->position += step;
    return step;
}

la_int64_t Seek(archive*, void* data, la_int64_t offset, int whence) {
    auto* s = static_cast<Source*>(data);
    qint64 to = offset;
    if (whence == SEEK_CUR)
        to += s->position;
    else if (whence == SEEK_END)
        to += s->size;
    if (to < 0 || to > s->size)
        return ARCHIVE_FATAL;
    s->position = to;
    return to;
}

QByteArray CleanPath(const char* name) {
    QByteArray path(name);
    while (path.startsWith("./"))
        path.remove(0, 2);
    while (path.startsWith('/'))
        path.remove(0, 1);
    return path;
}

// `target` of a link in `from`'s folder, as a path in the image; empty when it leaves it.
QByteArray LinkTarget(const QByteArray& from, const QByteArray& target) {
    QList<QByteArray> parts;
    if (!target.startsWith('/')) {
        parts = from.split('/');
        parts.removeLast();
    }
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.isEmpty())
                return {};
            parts.removeLast();
        } else {
            parts.append(part);
        }
    }
    return parts.join('/');
}

// Beyond this a file is stored in more than one extent, which libarchive does not tell.
constexpr qint64 kOneExtent = 0xFFFFF800LL;

// Whether the first bytes libarchive hands out for the entry are those at `offset` of the
// image: the offset comes from the reader's position, which this checks rather than trusts.
bool SameBytes(archive* a, int fd, qint64 offset) {
    const void* block = nullptr;
    size_t length = 0;
    la_int64_t at = 0;
    if (archive_read_data_block(a, &block, &length, &at) != ARCHIVE_OK || at != 0)
        return false;
    length = std::min<size_t>(length, 4096);
    QByteArray direct(qsizetype(length), Qt::Uninitialized);
    const ssize_t got = ::pread(fd, direct.data(), length, offset);
    return got == ssize_t(length) && std::memcmp(direct.constData(), block, length) == 0;
}

} // namespace

bool ReadIsoCatalog(int fd, qint64 isoSize, IsoCatalog* out, QString* error) {
    out->members.clear();
    auto source = std::make_unique<Source>();
    source->fd = fd;
    source->size = isoSize;
    archive* a = archive_read_new();
    // This format only and no filter: nothing is ever decompressed, and filter 0's
    // position is the byte offset in the image.
    archive_read_support_format_iso9660(a);
    archive_read_set_callback_data(a, source.get());
    archive_read_set_read_callback(a, ReadBlock);
    archive_read_set_skip_callback(a, Skip);
    archive_read_set_seek_callback(a, Seek);
    QHash<QByteArray, QByteArray> links, hardlinks;
    bool ok = archive_read_open1(a) == ARCHIVE_OK;
    archive_entry* entry = nullptr;
    while (ok) {
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            ok = false;
            break;
        }
        const QByteArray path = CleanPath(archive_entry_pathname(entry));
        if (path.isEmpty())
            continue;
        if (const char* target = archive_entry_hardlink(entry)) {
            hardlinks.insert(path, CleanPath(target));
            continue;
        }
        if (archive_entry_filetype(entry) == AE_IFLNK) {
            if (const char* target = archive_entry_symlink(entry))
                links.insert(path, LinkTarget(path, target));
            continue;
        }
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        IsoMember member;
        member.offset = archive_filter_bytes(a, 0);
        member.size = archive_entry_size(entry);
        member.servable = member.size < kOneExtent &&
                          (member.size == 0 || SameBytes(a, fd, member.offset));
        if (member.size > 0 && member.offset + member.size > isoSize) {
            archive_set_error(a, EINVAL, "%s lies past the end of the image", path.constData());
            ok = false;
            break;
        }
        out->members.insert(path, member);
    }
    if (!ok) {
        const char* text = archive_error_string(a);
        *error = text ? QString::fromUtf8(text) : QStringLiteral("not an ISO 9660 image");
        out->members.clear();
    }
    archive_read_free(a);
    if (!ok)
        return false;
    for (auto it = hardlinks.cbegin(); it != hardlinks.cend(); ++it)
        if (const IsoMember* target = out->find(it.value()))
            out->members.insert(it.key(), *target);
    // Links to links are followed a few steps; a loop or a link out of the image is left out.
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        QByteArray target = it.value();
        for (int hop = 0; hop < 8 && !target.isEmpty(); ++hop) {
            if (const IsoMember* member = out->find(target)) {
                out->members.insert(it.key(), *member);
                break;
            }
            target = links.value(target);
        }
    }
    return true;
}

const IsoCatalog* CIsoCatalogCache::Get(int fd, QString* error) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("not a regular file");
        return nullptr;
    }
    const Key key{quint64(st.st_dev), quint64(st.st_ino),
                  qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, qint64(st.st_size)};
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].key == key) {
            m_slots.move(i, 0);
            *error = m_slots.first().error;
            return m_slots.first().ok ? &m_slots.first().catalog : nullptr;
        }
    }
    Slot slot;
    slot.key = key;
    slot.ok = ReadIsoCatalog(fd, key.size, &slot.catalog, &slot.error);
    m_slots.prepend(std::move(slot));
    while (m_slots.size() > m_capacity)
        m_slots.removeLast();
    *error = m_slots.first().error;
    return m_slots.first().ok ? &m_slots.first().catalog : nullptr;
}
