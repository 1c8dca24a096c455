#include "engine/tftp/SendExchange.h"
#include "engine/tftp/Netascii.h"
#include "tests/tftp/ExchangeDriver.h"

#include <QtTest>

using namespace ExchangeTest;
using Exchange::Shape;

namespace {
// A file in memory, for the netascii layer to read through.
class MemoryFile final : public IFile {
public:
    explicit MemoryFile(QByteArray bytes, int* reads = nullptr)
        : m_bytes(std::move(bytes)), m_reads(reads) {}
    qint64 read(char*, qint64) override { return -1; }
    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override {
        if (m_reads)
            ++*m_reads;
        const qint64 n = qBound<qint64>(0, m_bytes.size() - offset, maxSize);
        memcpy(data, m_bytes.constData() + offset, size_t(n));
        return n;
    }
    qint64 write(const char*, qint64) override { return -1; }
    qint64 size() const override { return m_bytes.size(); }
    void close() override {}
    FileError error() const override { return {}; }

private:
    QByteArray m_bytes;
    int* m_reads;
};

QByteArray ToNetascii(const QByteArray& raw) {
    QByteArray converted;
    for (const char c : raw)
        converted += c == '\n' ? QByteArray("\r\n") : c == '\r' ? QByteArray("\r\0", 2) : QByteArray(1, c);
    return converted;
}
} // namespace

// A download's exchange alone: each row a file, a negotiated shape and what the client
// does, against what the exchange sends and how it ends.
class TestSendExchange : public QObject {
    Q_OBJECT

    static constexpr qint64 k9Blocks = 8 * 512 + 100; // two windows of 4 and a short block
    static constexpr Shape kLockStep8k{8192, 1, 0, false};

    static void Columns() {
        QTest::addColumn<Shape>("shape");
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("trace");
        QTest::addColumn<bool>("sizeTold");
        QTest::addColumn<qint64>("failAt");
        QTest::addColumn<int>("reads");
        QTest::addColumn<qint64>("cutTo");
    }
    // failAt: reads from there fail (one reaching it stops short, as pread does); reads:
    // the file reads the exchange should make, -1 unchecked; cutTo: the file's size
    // after its first read.
    static void Row(const char* name, Shape shape, qint64 fileSize, const QString& script,
                    const QString& trace, bool sizeTold = false, qint64 failAt = -1,
                    int reads = -1, qint64 cutTo = -1) {
        QTest::newRow(name) << shape << fileSize << script << trace << sizeTold << failAt << reads << cutTo;
    }
    static void Run() {
        QFETCH(Shape, shape);
        QFETCH(qint64, fileSize);
        QFETCH(QString, script);
        QFETCH(QString, trace);
        QFETCH(bool, sizeTold);
        QFETCH(qint64, failAt);
        QFETCH(int, reads);
        QFETCH(qint64, cutTo);
        int readCount = 0;
        qint64 size = fileSize;
        auto read = [&](char* data, qint64 maxSize, qint64 offset) -> qint64 {
            ++readCount;
            if (failAt >= 0 && offset >= failAt)
                return -1;
            const qint64 end = failAt >= 0 ? std::min(size, failAt) : size;
            const qint64 n = qBound<qint64>(0, end - offset, maxSize);
            for (qint64 i = 0; i < n; ++i)
                data[i] = FileByte(offset + i);
            if (cutTo >= 0)
                size = cutTo;
            return n;
        };
        CSendExchange send(shape, read, fileSize, sizeTold);
        CDriver driver(send, shape.blockSize, CDriver::Side::Download);
        QCOMPARE(driver.Run(script), trace.split(" | "));
        if (reads >= 0)
            QCOMPARE(readCount, reads);
    }

private slots:
    void download_data() {
        Columns();
        Row("lock-step, short last block", kLockStep, 700, "A1 A2",
            "t3000 D1 | stop t3000 D2:188* | stop =Finished");
        Row("lock-step, exact multiple: an empty last block", kLockStep, 1024, "A1 A2 A3",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =Finished");
        Row("empty file", kLockStep, 0, "A1", "t3000 D1:0* | stop =Finished");
        Row("OACK, then ACK 0 starts the data", kOack, 700, "A0 A1 A2",
            "t3000 oack | stop t3000 D1 | stop t3000 D2:188* | stop =Finished");
        Row("OACK pending: only ACK 0 goes on; a repeat is the OACK, then the block", kOack, 700,
            "A1 D1 R A0 R", "t3000 oack | - | - | oack | stop t3000 D1 | D1");
        Row("window 4: ACK at each window's end", kWindow4, k9Blocks, "A0 A4 A8 A9",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | stop t3000 D9:100* | stop =Finished");
        Row("window 4, exact multiple", kWindow4, 2048, "A0 A4 A5",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5:0* | stop =Finished");
        Row("window 16 of 8 bytes", Shape{8, 16, 0, true}, 8 * 20 + 5, "A0 A16 A21",
            "t3000 oack | stop t3000 D1..16 | stop t3000 D17..20 D21:5* | stop =Finished");
        Row("window 4: an ACK inside the window goes on after it", kWindow4, k9Blocks, "A0 A2 A6 A9",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D3..6 | stop t3000 D7..8 D9:100* | stop =Finished");
        Row("window 4: the last block read again after a gap", kWindow4, 6 * 512 + 100, "A0 A4 A5 A7",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..6 D7:100* | stop t3000 D6 D7:100 | stop =Finished");
        Row("lock-step: a stale ACK changes nothing, not even the timer", kLockStep, 1600,
            "A1 A2 A1 A0 A3 A4", "t3000 D1 | stop t3000 D2 | stop t3000 D3 | - | - | stop t3000 D4:64* | stop =Finished");
        Row("window 4: a stale ACK changes nothing", kWindow4, k9Blocks, "A0 A4 A3 A2 A8",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | - | - | stop t3000 D9:100*");
        Row("lock-step: an ACK past the block sent", kLockStep, 1600, "A2 A1",
            "t3000 D1 | stop =AckTooFar | -");
        Row("window 4: an ACK past the window", kWindow4, k9Blocks, "A0 A5 A4",
            "t3000 oack | stop t3000 D1..4 | stop =AckTooFar | -");
        Row("a DATA to a download is stray", kLockStep, 700, "D1 A1",
            "t3000 D1 | - | stop t3000 D2:188*");
        Row("a read that fails ends the transfer", kWindow4, k9Blocks, "A0 A4 T",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5 readfail | -", false, 5 * 512);
    }
    void download() { Run(); }

    // A window's blocks come from one read of the file; lock-step reads a block at a
    // time. Whatever slides the window, each block sent is the file's bytes at its place.
    void windowRead_data() {
        Columns();
        // A file's last blocks, up to 4 of 512 with the empty one, come from one read.
        Row("lock-step, two blocks: one read", kLockStep, 700, "A1 A2",
            "t3000 D1 | stop t3000 D2:188* | stop =Finished", false, -1, 1);
        Row("lock-step, exact multiple: the empty block from the same read", kLockStep, 1024,
            "A1 A2 A3", "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =Finished", false, -1, 1);
        Row("lock-step, exact multiple, told the size: the same", kLockStep, 1024, "A1 A2 A3",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =Finished", true, -1, 1);
        Row("lock-step, a tail read: grown since the open, read on", kLockStep, 2048,
            "A1 A2 A3 A4 A5",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3 | stop t3000 D4 | stop t3000 D5:52* | stop =Finished",
            false, -1, 2, 2100);
        Row("lock-step, a small file cut after its one read: served as read", kLockStep, 1024,
            "A1 A2 A3", "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =Finished", false, -1, 1, 600);
        // Blocks too big to read ahead: one read per block. The read reaching the end of
        // the file as opened asks a byte more: an exact multiple that still ends there
        // needs no read for its empty block.
        Row("lock-step of 8 KiB, exact multiple: the empty block without a read", kLockStep8k,
            2 * 8192, "A1 A2 A3", "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =Finished",
            false, -1, 2);
        Row("lock-step of 8 KiB, exact multiple, grown since the open: read on", kLockStep8k,
            2 * 8192, "A1 A2 A3", "t3000 D1 | stop t3000 D2 | stop t3000 D3:116* | stop =Finished",
            false, -1, 3, 2 * 8192 + 116);
        Row("lock-step of 8 KiB, exact multiple, cut since the open: ends short", kLockStep8k,
            2 * 8192, "A1 A2", "t3000 D1 | stop t3000 D2:808* | stop =Finished", false, -1, 2, 9000);
        Row("lock-step of 8 KiB, 3 blocks and a byte: the last full block reads on", kLockStep8k,
            3 * 8192 + 1, "A1 A2 A3 A4",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3 | stop t3000 D4:1* | stop =Finished", false, -1, 4);
        Row("lock-step, exact multiple: a lost last ACK repeats the empty block", kLockStep, 512,
            "A1 T A2", "t3000 D1 | stop t3000 D2:0* | t3000 again D2:0 | stop =Finished", false, -1, 1);
        Row("lock-step, empty file: one read", kLockStep, 0, "A1", "t3000 D1:0* | stop =Finished",
            false, -1, 1);
        Row("window 4: one read per window, the last one short", kWindow4, k9Blocks, "A0 A4 A8 A9",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | stop t3000 D9:100* | stop =Finished",
            false, -1, 3);
        Row("window 4, exact multiple: the empty block from the same read", kWindow4, 2048, "A0 A4 A5",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5:0* | stop =Finished", false, -1, 2);
        Row("window 4: an ACK mid-window reads from the block after it", kWindow4, k9Blocks,
            "A0 A2 A6 A9",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D3..6 | stop t3000 D7..8 D9:100* | stop =Finished",
            false, -1, 3);
        Row("window 4: each time-out reads the window again", kWindow4, k9Blocks, "A0 A4 T T A8 A9",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | wait t4500 again D5..8 | "
            "wait t4500 again D5..8 | stop t3000 D9:100* | stop =Finished", false, -1, 5);
        Row("window 4, nothing acknowledged: the time-out reads the window again", kWindow4,
            k9Blocks, "A0 T A4", "t3000 oack | stop t3000 D1..4 | wait t4500 again D1..4 | stop t3000 D5..8",
            false, -1, 3);
        // Between bursts a window holds no buffer: a repeated request reads its block again.
        Row("window 4: a repeated request reads the last block sent again", kWindow4, k9Blocks,
            "A0 R A4", "t3000 oack | stop t3000 D1..4 | D4 | stop t3000 D5..8", false, -1, 3);
        Row("window 4: a repeat of the last block, short", kWindow4, 2 * 512 + 100, "A0 R@300 A3",
            "t3000 oack | stop t3000 D1..2 D3:100* | D3:100 | stop =Finished", false, -1, 2);
        Row("window 64 of 1468: read in parts of at most 64 KiB", Shape{1468, 64, 0, true},
            64 * 1468, "A0 A64 A65",
            "t3000 oack | stop t3000 D1..64 | stop t3000 D65:0* | stop =Finished", false, -1, 3);
        Row("window 4: a read failing part way sends the blocks before it", kWindow4, k9Blocks,
            "A0", "t3000 oack | stop t3000 D1..2 readfail", false, 1024, 2);
        Row("told the size, the file cut under the window: changed", kWindow4, k9Blocks, "A0 A4",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5 changed", true, -1, 3, 5 * 512 + 10);
        Row("not told, the file cut under the window: its end is the last block", kWindow4,
            k9Blocks, "A0 A4 A6", "t3000 oack | stop t3000 D1..4 | stop t3000 D5 D6:10* | stop =Finished",
            false, -1, 3, 5 * 512 + 10);
        Row("window 16 of 8 bytes past 65535: one read per window", Shape{8, 16, 0, true},
            8 * 65536 + 3, "A0 F65520 A0 A1",
            "t3000 oack | stop t3000 D1..16 | stop t3000 D65521..0 | stop t3000 D1:3* | stop =Finished",
            false, -1, 4097);
        Row("window 16 of 8 bytes: an ACK mid-window across 65535", Shape{8, 16, 0, true},
            8 * 65536 + 3, "A0 F65520 A65530 A1",
            "t3000 oack | stop t3000 D1..16 | stop t3000 D65521..0 | stop t3000 D65531..0 D1:3* | stop =Finished",
            false, -1, 4097);
    }
    void windowRead() { Run(); }

    // Lock-step reads a small file's blocks (up to 4 of 512, the empty last one included)
    // in one read, and a read short of what it asked is the end. Sizes around a block and
    // around that limit, octet and netascii: every block is the file's (or the converted
    // stream's) bytes at its place, the transfer ends after the last, and an octet file
    // takes the reads given.
    void lockStepTail_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("netascii");
        QTest::addColumn<int>("reads"); // -1: unchecked (netascii reads as it converts)
        const std::pair<int, int> sizes[] = {{0, 1},    {511, 1},  {512, 1},  {513, 1},
                                             {1024, 1}, {2047, 1}, {2048, 2}, {2049, 2}};
        for (const auto& [size, reads] : sizes)
            for (const bool netascii : {false, true})
                QTest::addRow("%d bytes, %s", size, netascii ? "netascii" : "octet")
                    << size << netascii << (netascii ? -1 : reads);
    }
    void lockStepTail() {
        QFETCH(int, size);
        QFETCH(bool, netascii);
        QFETCH(int, reads);
        QByteArray raw(size, 'a');
        for (int i = 0; i < size; ++i)
            raw[i] = i % 61 == 60 ? '\n' : i % 97 == 96 ? '\r' : char('a' + i % 26);
        const QByteArray expected = netascii ? ToNetascii(raw) : raw;
        int readCount = 0;
        MemoryFile plain(raw, &readCount);
        Netascii::CEncodingFile converting(std::make_unique<MemoryFile>(raw, &readCount));
        IFile& file = netascii ? static_cast<IFile&>(converting) : plain;
        auto read = [&](char* data, qint64 maxSize, qint64 offset) { return file.readAt(data, maxSize, offset); };
        CSendExchange send(kLockStep, read, size, false);
        qint64 ms = 0;
        QByteArray received;
        quint16 last = 0;
        Exchange::Actions a = send.Start({ms, [] { return 1; }});
        for (int step = 0; step < 100 && a.end == Exchange::End::None; ++step) {
            for (int i = 0; a.blocks && i < 4; ++i) {
                const Exchange::Block b = send.NextBlock(ms);
                QVERIFY(!b.readFailed && !b.sizeChanged);
                if (!b.packet)
                    break;
                QCOMPARE(b.offset, qint64(received.size()));
                received += QByteArray(b.packet + 4, int(b.size - 4));
                last = Tftp::Get16(b.packet + 2);
            }
            ms += 300;
            a = send.OnDatagram(Tftp::MakeAck(last).constData(), 4, {ms, [] { return 1; }});
        }
        QCOMPARE(int(a.end), int(Exchange::End::Finished));
        QCOMPARE(received, expected);
        QCOMPARE(qint64(last), expected.size() / 512 + 1);
        if (reads >= 0)
            QCOMPARE(readCount, reads);
    }

    // Netascii converts across block and window ends (a CR LF or CR NUL may straddle
    // them): every block sent, first time or again, is the converted stream at its place.
    // The client acknowledges by a pattern: A the last block sent, M the second block in
    // flight, T a time-out.
    void netasciiWindows_data() {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("pattern");
        // Converted, blocks of 8 and windows of 4: CR LF across blocks 1|2 and windows
        // 1|2, CR NUL across windows 2|3.
        const QByteArray raw = "abcdefg\n" + QByteArray(22, 'x') + "\n" + QByteArray(30, 'y') +
                               "\rz\r\n\n" + QByteArray(9, 'w') + "\n";
        QTest::newRow("whole windows") << raw << "A";
        QTest::newRow("ACKs mid-window") << raw << "M";
        QTest::newRow("mid-window and time-outs") << raw << "MTAT";
        QTest::newRow("only CRs and LFs") << QByteArray("\r\n\r\r\n\n\n\r").repeated(9) << "MAT";
    }
    void netasciiWindows() {
        QFETCH(QByteArray, raw);
        QFETCH(QString, pattern);
        const QByteArray converted = ToNetascii(raw);
        Netascii::CEncodingFile file(std::make_unique<MemoryFile>(raw));
        auto read = [&](char* data, qint64 maxSize, qint64 offset) { return file.readAt(data, maxSize, offset); };
        const int bs = 8;
        CSendExchange send(Shape{bs, 4, 0, true}, read, raw.size(), false);
        qint64 ms = 0, lastSent = 0;
        QByteArray received;
        auto take = [&](const Exchange::Actions& a) {
            for (int i = 0; a.blocks && i < 100; ++i) {
                const Exchange::Block b = send.NextBlock(ms);
                QVERIFY(!b.readFailed && !b.sizeChanged);
                if (!b.packet)
                    break;
                const QByteArray payload(b.packet + 4, int(b.size - 4));
                QCOMPARE(payload, converted.mid(b.offset, bs));
                lastSent = b.offset / bs + 1;
                if (b.offset == received.size())
                    received += payload;
            }
        };
        take(send.Start({ms, [] { return 1; }}));
        Exchange::Actions a = send.OnDatagram(Tftp::MakeAck(0).constData(), 4, {ms, [] { return 1; }});
        for (int step = 0; step < 200 && a.end == Exchange::End::None; ++step) {
            take(a);
            ms += 300; // past the echo guard
            const Exchange::Now now{ms, [] { return 1; }};
            const QChar what = pattern[step % pattern.size()];
            if (what == 'T') {
                a = send.OnTimeout(now);
                continue;
            }
            const qint64 acked = send.AckedBytes() / bs;
            const qint64 block = what == 'M' && lastSent > acked + 2 ? acked + 2 : lastSent;
            a = send.OnDatagram(Tftp::MakeAck(quint16(block)).constData(), 4, now);
        }
        QCOMPARE(int(a.end), int(Exchange::End::Finished));
        QCOMPARE(received, converted);
    }

    // Loss is a time-out; the client's duplicates are resent at most once per 200 ms
    // (RFC 1123 4.2.3.1), and both count towards giving up.
    void loss_data() {
        Columns();
        Row("lock-step: five resends, then not responding", kLockStep, 700, "T T T T T T A1",
            Steps({"t3000 D1", Times("t3000 again D1", 5), "=NotResponding", "-"}));
        Row("progress starts the count again; a last block never acknowledged fails", kLockStep,
            700, "T T T T T A1 T T T T T T",
            Steps({"t3000 D1", Times("t3000 again D1", 5), "stop t3000 D2:188*",
                   Times("t3000 again D2:188", 5), "=NotResponding"}));
        Row("with options, a last block never acknowledged ends the transfer", kOack, 700,
            "A0 A1 T T T T T T",
            Steps({"t3000 oack", "stop t3000 D1", "stop t3000 D2:188*", Times("t3000 again D2:188", 5),
                   "=Finished"}));
        Row("OACK unanswered: five more, then not responding", kOack, 700, "T T T T T T A0",
            Steps({"t3000 oack", Times("t3000 oack", 5), "=NotResponding", "-"}));
        // A client holding block 1 that waits for block 2 without acknowledging again
        // (atftp) moves on only when the window goes again, not block 1 alone.
        Row("window 4, nothing acknowledged: a time-out sends the window again", kWindow4, k9Blocks,
            "A0 T T T T T T", Steps({"t3000 oack", "stop t3000 D1..4", Times("wait t4500 again D1..4", 5), "=NotResponding"}));
        Row("window 4: after that window, an ACK of the whole window goes on", kWindow4, k9Blocks,
            "A0 T A4", "t3000 oack | stop t3000 D1..4 | wait t4500 again D1..4 | stop t3000 D5..8");
        Row("window 4: after that window, an ACK inside it goes on after it", kWindow4, k9Blocks,
            "A0 T A2", "t3000 oack | stop t3000 D1..4 | wait t4500 again D1..4 | stop t3000 D3..6");
        Row("window 16, nothing acknowledged: the 16 blocks again", Shape{512, 16, 0, true}, 20 * 512, "A0 T",
            "t3000 oack | stop t3000 D1..16 | wait t4500 again D1..16");
        Row("window 4, data acknowledged: a time-out sends the window again, one per time-out",
            kWindow4, k9Blocks, "A0 A4 T T A8",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | wait t4500 again D5..8 | "
            "wait t4500 again D5..8 | stop t3000 D9:100*");
        Row("lock-step: a duplicate ACK resends once per 200 ms", kLockStep, 1600,
            "A1@10 A1@100 A1@300 A1@400 A1@499 A1@500",
            "t3000 D1 | stop t3000 D2 | - | stop dupack t3000 again D2 | - | - | stop dupack t3000 again D2");
        Row("a delayed block's late ACK doubles the next block once, not every block after",
            kLockStep, 2048, "T@3000 A1@3010 A1@3500 A2@3510 A2@3520 A3@3530",
            "t3000 D1 | t3000 again D1 | stop t3000 D2 | stop dupack t3000 again D2 | stop t3000 D3 | - | stop t3000 D4");
        Row("window 4: a duplicate ACK resends the window", kWindow4, k9Blocks, "A0@0 A4@10 A4@100 A4@300",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5..8 | - | stop dupack t3000 again D5..8");
        Row("the ACK of OACK again: the first block again", kOack, 700, "A0@10 A0@20 A0@300",
            "t3000 oack | stop t3000 D1 | - | stop dupack t3000 again D1");
        Row("duplicate ACKs count as retries", kLockStep, 1600,
            "A1@10 A1@300 A1@600 A1@900 A1@1200 A1@1500 A1@1800",
            Steps({"t3000 D1", "stop t3000 D2", Times("stop dupack t3000 again D2", 5), "stop dupack =NotResponding"}));
        Row("a duplicate ACK of the next to last block leaves the row complete", kLockStep, 700,
            "A1@10 A1@300 A2", "t3000 D1 | stop t3000 D2:188* | stop t3000 again D2:188 | stop =Finished");
        Row("the TimeOut setting is read at each packet; 0 runs with one second", kLockStep, 2048,
            "A1 K5 A2 T K0 A3", "t3000 D1 | stop t3000 D2 | stop t5000 D3 | t5000 again D3 | stop t1000 D4");
        Row("a negotiated time-out wins over the setting", Shape{512, 1, 2, true}, 700, "K7 A0 T",
            "t2000 oack | stop t2000 D1 | t2000 again D1");
    }
    void loss() { Run(); }

    void endings_data() {
        Columns();
        Row("the client's ERROR mid-transfer", kLockStep, 1600, "A1 E2 A2",
            "t3000 D1 | stop t3000 D2 | stop =ClientError(2) | -");
        Row("told the size, ERROR 0 after every byte: complete", kLockStep, 1024, "A1 A2 E0",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =ClientHasAll", true);
        Row("told the size, ERROR 8 after every byte: complete", kLockStep, 1024, "A1 A2 E8",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =ClientHasAll", true);
        Row("told the size, ERROR 0 before the last bytes are acknowledged", kLockStep, 1024, "A1 E0",
            "t3000 D1 | stop t3000 D2 | stop =ClientError(0)", true);
        Row("not told the size, ERROR 0 after every byte", kLockStep, 1024, "A1 A2 E0",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =ClientError(0)");
        Row("told the size, ERROR 2 after every byte", kLockStep, 1024, "A1 A2 E2",
            "t3000 D1 | stop t3000 D2 | stop t3000 D3:0* | stop =ClientError(2)", true);
        Row("window 4, told the size, ERROR 8 after every byte", kWindow4, 2048, "A0 A4 E8",
            "t3000 oack | stop t3000 D1..4 | stop t3000 D5:0* | stop =ClientHasAll", true);
        Row("size probe: ERROR 8 to the OACK", kOack, 1024, "E8 A0",
            "t3000 oack | stop =ProbeAnswered | -", true);
        Row("ERROR 0 to the OACK is the client's error", kOack, 1024, "E0",
            "t3000 oack | stop =ClientError(0)", true);
        Row("an ERROR after the end changes nothing", kLockStep, 700, "A1 A2 E0 T",
            "t3000 D1 | stop t3000 D2:188* | stop =Finished | - | -");
    }
    void endings() { Run(); }

    // Block numbers roll over from 65535 to 0: a file of 65537 blocks of 8 bytes.
    void wrap_data() {
        Columns();
        const qint64 size = 8 * 65536 + 3;
        Row("lock-step past 65535; a stale ACK across the wrap", Shape{8, 1, 0, false}, size,
            "F65534 A65535 A65534 A0 A65535 A1",
            "t3000 D1 | stop t3000 D65535 | stop t3000 D0 | - | stop t3000 D1:3* | - | stop =Finished");
        Row("window 16 past 65535", Shape{8, 16, 0, true}, size, "A0 F65520 A0 A1",
            "t3000 oack | stop t3000 D1..16 | stop t3000 D65521..0 | stop t3000 D1:3* | stop =Finished");
        Row("window 16: an ACK past the window across the wrap", Shape{8, 16, 0, true}, size,
            "A0 F65520 A1", "t3000 oack | stop t3000 D1..16 | stop t3000 D65521..0 | stop =AckTooFar");
        Row("window 16: an ACK inside the window across the wrap", Shape{8, 16, 0, true}, size,
            "A0 F65520 A65535 A1", "t3000 oack | stop t3000 D1..16 | stop t3000 D65521..0 | stop t3000 D0 D1:3* | stop =Finished");
    }
    void wrap() { Run(); }
};

QTEST_GUILESS_MAIN(TestSendExchange)
#include "tst_send_exchange.moc"
