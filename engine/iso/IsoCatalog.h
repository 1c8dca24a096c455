#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Where each file of an ISO 9660 image lies inside the image, read from its table of
// contents (libarchive), so a member can be served straight from the image with no
// unpacking: its bytes are [offset, offset + size) of the image.
struct IsoMember {
    qint64 offset = 0;
    qint64 size = 0;
    // False where the bytes in the image are not the file's own (zisofs, which the
    // reader would inflate) or not one run (a file of several extents).
    bool servable = false;
};

struct IsoCatalog {
    // Every regular file by its path in the image ("live/vmlinuz", no leading '/'),
    // symbolic links already followed to the file they name.
    QHash<QByteArray, IsoMember> members;

    const IsoMember* find(const QByteArray& path) const;
    // Every path, sorted (what the boot menu recognises a layout from).
    QList<QByteArray> paths() const;
};

// Reads the table of contents of the image open at `fd` (`isoSize` bytes) with pread
// only, leaving the descriptor's file offset alone. False with *error set when it is no
// readable ISO image (cut short, another format); never decompresses anything.
bool ReadIsoCatalog(int fd, qint64 isoSize, IsoCatalog* out, QString* error);

// Catalogs of the images recently asked about, by file identity and modification (an
// image replaced or rewritten is read again), at most `capacity` of them.
class CIsoCatalogCache {
public:
    explicit CIsoCatalogCache(int capacity = 16) : m_capacity(capacity) {}
    // The catalog of the image open at `fd`; null with *error set when it has none.
    // The pointer lasts until the next call.
    const IsoCatalog* Get(int fd, QString* error);

private:
    struct Key {
        quint64 device = 0, inode = 0;
        qint64 modifiedNs = 0, size = 0;
        bool operator==(const Key&) const = default;
    };
    struct Slot {
        Key key;
        IsoCatalog catalog;
        QString error;
        bool ok = false;
    };
    QList<Slot> m_slots; // most recently used first
    int m_capacity;
};
