// What the HTTP service reads of a request once libmicrohttpd has split it: the path
// (a control character in it, percent-decoded, is refused), the Range header against a
// file of a given size, and If-Range against the file's tag and date. The input is the
// file's size in its first 8 bytes, then the path, Range and If-Range, one a line.
//
// Those readers are file-local to HttpService.cpp; it is compiled into this target
// whole, so they are reached as they are, without a change to that file.
#include "engine/http/HttpService.cpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8)
        return 0;
    quint64 raw = 0;
    std::memcpy(&raw, data, 8);
    // Sizes up to 2^40 and the edges: empty, one byte.
    const qint64 fileSize = qint64(raw & ((quint64(1) << 40) - 1)) % (raw & 1 ? 3 : (quint64(1) << 40));
    const QList<QByteArray> lines =
        QByteArray(reinterpret_cast<const char*>(data + 8), qsizetype(size - 8)).split('\n');
    const QByteArray path = lines.value(0), range = lines.value(1), ifRange = lines.value(2);

    (void)hasControlCharacter(path.constData()); // the library's C string: up to a NUL

    qint64 first = -1, last = -1;
    switch (parseRange(range.isEmpty() ? nullptr : range.constData(), fileSize, &first, &last)) {
    case Range::Part: // a part is always inside the file, and not empty
        if (first < 0 || last < first || last >= fileSize)
            __builtin_trap();
        break;
    case Range::Unsatisfiable:
    case Range::Whole:
        break;
    }

    struct stat st {};
    st.st_ino = ino_t(raw);
    st.st_size = off_t(fileSize);
    st.st_mtim.tv_sec = time_t(raw % 4102444800u);
    const QByteArray etag = entityTag(st);
    if (ifRangeHolds(etag, etag, st.st_mtim.tv_sec) != true ||
        ifRangeHolds(httpDate(st.st_mtim.tv_sec), etag, st.st_mtim.tv_sec) != true)
        __builtin_trap(); // the file's own tag and date always hold
    (void)ifRangeHolds(ifRange, etag, st.st_mtim.tv_sec);
    return 0;
}
