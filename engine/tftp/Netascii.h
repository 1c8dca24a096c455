#pragma once

#include "engine/platform/Platform.h"

#include <map>
#include <memory>

// Netascii (RFC 764 line ends, as RFC 1350 asks): on the wire every LF is CR LF and
// every CR is CR NUL; on disk the local bytes. These wrap a file opened for a transfer
// in netascii mode so that the exchange itself never sees the difference.
namespace Netascii {

// A file being sent: readAt takes offsets in the converted stream. Where each read
// ended is remembered, so a window sent again starts from its block without converting
// the file from the start; an offset never read before converts forward from the
// nearest point known. size() is the file's own size (the converted one is unknown).
class CEncodingFile final : public IFile {
public:
    explicit CEncodingFile(std::unique_ptr<IFile> inner);
    qint64 read(char* data, qint64 maxSize) override;
    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override;
    qint64 write(const char* data, qint64 size) override;
    qint64 size() const override { return m_inner->size(); }
    void close() override { m_inner->close(); }
    FileError error() const override { return m_inner->error(); }

private:
    // A place in the converted stream: the file offset of the next byte to convert, and
    // the second byte of a pair whose CR ended the previous read (0 when none; the NUL
    // of CR NUL is told by `pendingNul`).
    struct Point {
        qint64 fileOffset = 0;
        char pending = 0;
        bool pendingNul = false;
    };
    // Converts from `from` into data; `from` becomes the place after the last byte.
    qint64 Convert(char* data, qint64 maxSize, Point* from);

    std::unique_ptr<IFile> m_inner;
    std::map<qint64, Point> m_points; // by converted offset; the most recent kept
    qint64 m_position = 0;            // for read()
};

// A file being received: write() takes the client's bytes. A CR that ends one block
// pairs with the first byte of the next; a CR that ends the file is written at close().
class CDecodingFile final : public IFile {
public:
    explicit CDecodingFile(std::unique_ptr<IFile> inner);
    qint64 read(char* data, qint64 maxSize) override { return m_inner->read(data, maxSize); }
    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override {
        return m_inner->readAt(data, maxSize, offset);
    }
    qint64 write(const char* data, qint64 size) override;
    qint64 size() const override { return m_inner->size(); }
    void close() override;
    FileError error() const override { return m_inner->error(); }
    // Writes a CR that ended the file first, so its failure is the upload's failure.
    bool keep(FileError* error) override;

private:
    bool FlushPendingCr();
    std::unique_ptr<IFile> m_inner;
    bool m_bPendingCr = false;
    bool m_bClosed = false;
};

} // namespace Netascii
