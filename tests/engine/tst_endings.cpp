#include "EngineFixture.h"
#include "engine/tftp/Netascii.h"

#include <QtTest>

// How clients end transfers, and netascii line ends both ways.
class TestEndings : public QObject {
    Q_OBJECT

    using Options = QList<QPair<QByteArray, QByteArray>>;

    static QByteArray withOptions(quint16 opcode, const QByteArray& name, const Options& options,
                                  const QByteArray& mode = "octet") {
        QByteArray r = EngineFixture::request(opcode, name, mode);
        for (const auto& [key, value] : options)
            r.append(key).append('\0').append(value).append('\0');
        return r;
    }
    static QByteArray clientError(quint16 code, const QByteArray& text) {
        QByteArray p(4, '\0');
        Tftp::PutHeader(p.data(), Tftp::ERROR, code);
        return p + text + '\0';
    }
    // Bytes full of line ends, CRs and NULs, some at 512-byte edges.
    static QByteArray lineEnds(int size) {
        QByteArray b(size, 'x');
        const char cycle[] = {'\n', '\r', '\0', 'a', '\r', '\r', '\n', 'b'};
        for (int i = 0; i < size; ++i)
            if (i % 3 == 0 || i % 511 == 0)
                b[i] = cycle[(i / 3) % 8];
        return b;
    }
    static QByteArray encoded(const QByteArray& in) {
        QByteArray out;
        for (const char c : in) {
            if (c == '\n')
                out += "\r\n";
            else if (c == '\r')
                out += QByteArray("\r\0", 2);
            else
                out += c;
        }
        return out;
    }

    // A file in memory, for the converters alone.
    struct MemoryFile final : IFile {
        QByteArray bytes;
        qint64 pos = 0;
        bool closed = false;
        qint64 read(char* d, qint64 m) override {
            const qint64 n = readAt(d, m, pos);
            pos += n;
            return n;
        }
        qint64 readAt(char* d, qint64 m, qint64 off) override {
            const qint64 n = std::max<qint64>(0, std::min<qint64>(m, bytes.size() - off));
            std::memcpy(d, bytes.constData() + off, size_t(n));
            return n;
        }
        qint64 write(const char* d, qint64 n) override {
            bytes.append(d, int(n));
            return n;
        }
        qint64 size() const override { return bytes.size(); }
        void close() override { closed = true; }
        FileError error() const override { return {}; }
    };

private slots:
    // PXELINUX answers the empty last block with ERROR 0 once it has every byte it was
    // told of; ERROR 8 likewise. Without the size told, or before the end, it failed.
    void errorAfterEveryByteIsSuccess_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("ackedBlocks");
        QTest::addColumn<quint16>("code");
        QTest::addColumn<bool>("success");
        QTest::newRow("tsize told, ERROR 0 at the empty block") << QByteArray("tsize") << 2
                                                               << quint16(0) << true;
        QTest::newRow("tsize told, ERROR 8 at the empty block") << QByteArray("tsize") << 2
                                                               << quint16(8) << true;
        QTest::newRow("tsize told, ERROR 0 before the end") << QByteArray("tsize") << 1
                                                           << quint16(0) << false;
        QTest::newRow("no tsize, ERROR 0 at the empty block") << QByteArray("timeout") << 2
                                                             << quint16(0) << false;
    }
    void errorAfterEveryByteIsSuccess() {
        QFETCH(QByteArray, options);
        QFETCH(int, ackedBlocks);
        QFETCH(quint16, code);
        QFETCH(bool, success);
        EngineFixture f;
        f.writeFile("pxelinux.0", lineEnds(1024));
        const QByteArray value = options == "tsize" ? QByteArray("0") : QByteArray("5");
        const quint16 port = f.send(withOptions(Tftp::RRQ, "pxelinux.0", {{options, value}}));
        QCOMPARE(EngineFixture::opcode(f.sent().last()), quint16(Tftp::OACK));
        for (int b = 0; b <= ackedBlocks; ++b)
            f.toTransfer(port, EngineFixture::ack(quint16(b)));
        QCOMPARE(EngineFixture::number(f.sent().last()), quint16(ackedBlocks + 1));
        f.toTransfer(port, clientError(code, "No error, file close"));
        QVERIFY(f.sent().isEmpty());
        QVERIFY(!f.engine->FindTransfer(port));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        if (success) {
            QCOMPARE(f.lastRow().state, ROW_SENT);
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));
            QCOMPARE(f.window.sounds.count(SOUND_SENT), 1);
            QVERIFY(!f.window.sounds.contains(SOUND_FAILED));
        } else {
            QCOMPARE(f.lastRow().state, ROW_FAILED);
            QVERIFY(f.window.sounds.contains(SOUND_FAILED));
        }
    }

    // The row says what the client said, made safe: cut short, control characters
    // written out, bytes that are not UTF-8 harmless.
    void clientWordsFollowItsError() {
        EngineFixture f;
        quint16 port = f.wrq("up");
        f.toTransfer(port, EngineFixture::data(1, QByteArray(512, 'u')));
        f.toTransfer(port, clientError(0, "Early terminate"));
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: Client has some errors!! (Early terminate)"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);

        port = f.wrq("up", 5001);
        f.toTransfer(port, clientError(0, "a\nb\x01\xff" + QByteArray(300, 'z')), 5001);
        const QString info = f.lastRow().texts.info;
        QVERIFY2(info.startsWith(QStringLiteral("Error: Client has some errors!! (a\\nb\\x01")),
                 qPrintable(info));
        QVERIFY(info.size() < 160);
        QVERIFY(info.endsWith(QLatin1String("zz)")));

        port = f.wrq("up", 5002);
        f.toTransfer(port, EngineFixture::error(3), 5002); // the table's words stay alone
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: Client-Disk Full or Allocation Exceeded!!"));
    }

    // The converters alone: line ends split across reads and writes of any size, a
    // window read again from an earlier block, a lone CR, CR at the very end.
    void netasciiConverters() {
        const QByteArray original = lineEnds(3000) + '\r';
        for (const int block : {1, 2, 7, 512}) {
            auto mem = std::make_unique<MemoryFile>();
            mem->bytes = original;
            Netascii::CEncodingFile enc(std::move(mem));
            QByteArray wire;
            QList<qint64> starts;
            QByteArray buf(block, '\0');
            for (int i = 0; i < 100000; ++i) {
                starts.append(wire.size());
                const qint64 n = enc.readAt(buf.data(), block, wire.size());
                QVERIFY(n >= 0);
                wire += buf.left(int(n));
                if (n < block)
                    break;
            }
            QCOMPARE(wire, encoded(original));
            // Sent again from a block some way back, as a window is.
            for (const qint64 at : {starts.value(starts.size() / 2), starts.value(3), qint64(0)}) {
                const qint64 n = enc.readAt(buf.data(), block, at);
                QCOMPARE(buf.left(int(n)), wire.mid(int(at), block));
            }

            auto sink = std::make_unique<MemoryFile>();
            MemoryFile* stored = sink.get();
            Netascii::CDecodingFile dec(std::move(sink));
            for (int off = 0; off < wire.size(); off += block)
                QCOMPARE(dec.write(wire.constData() + off, std::min<int>(block, wire.size() - off)),
                         qint64(std::min<int>(block, wire.size() - off)));
            dec.close();
            QCOMPARE(stored->bytes, original);
        }
        auto sink = std::make_unique<MemoryFile>();
        MemoryFile* stored = sink.get();
        Netascii::CDecodingFile dec(std::move(sink));
        dec.write("a\rb\r", 4); // a lone CR stays; the last pairs with what follows
        dec.write("\r\n\r", 3);
        dec.close();
        QCOMPARE(stored->bytes, QByteArray("a\rb\r\n\r"));
    }

    // A netascii upload is stored as the file the client had; a download goes out in
    // netascii, without a tsize nobody can know beforehand. ConvertNetascii=0 moves the
    // bytes unchanged.
    void netasciiTransfers() {
        EngineFixture f;
        const QByteArray original = lineEnds(1500);
        const QByteArray wire = encoded(original);
        quint16 port = f.send(EngineFixture::request(Tftp::WRQ, "text.bin", "netascii"));
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
        for (int b = 1, off = 0; b < 100; ++b, off += 512) {
            f.toTransfer(port, EngineFixture::data(quint16(b), wire.mid(off, 512)));
            QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(quint16(b))});
            if (wire.size() - off < 512)
                break;
        }
        QCOMPARE(f.readFile("text.bin"), original);

        port = f.send(withOptions(Tftp::RRQ, "text.bin", {{"tsize", "0"}, {"blksize", "512"}},
                                  "netascii"),
                      5001);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeOack({{"blksize", "512"}})});
        f.toTransfer(port, EngineFixture::ack(0), 5001);
        QCOMPARE(f.download(port, 5001), wire);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));

        f.change([](EngineSettings& s) { s.convertNetascii = false; });
        port = f.send(EngineFixture::request(Tftp::RRQ, "text.bin", "netascii"), 5002);
        QCOMPARE(f.download(port, 5002), original);
    }

    // Abort keeps the row's size and how far the transfer got; the client hears why.
    void abortKeepsHowFarItGot() {
        struct Case {
            const char* row;
            quint16 opcode;
            Options options;
            int blocks; // DATA acknowledged (a read) or sent (a write) before the abort
            const char* info;
            const char* size;
        } cases[] = {
            {"download, nothing acknowledged", Tftp::RRQ, {}, 0,
             "User aborts!! (at 0 of 3000 Bytes)", "3000 Bytes"},
            {"download, two blocks acknowledged", Tftp::RRQ, {}, 2,
             "User aborts!! (at 1024 of 3000 Bytes)", "3000 Bytes"},
            {"upload that told its size", Tftp::WRQ, {{"tsize", "2000"}}, 1,
             "User aborts!! (at 512 of 2000 Bytes)", "2000 Bytes"},
            {"upload that did not", Tftp::WRQ, {}, 2, "User aborts!! (at 1024 Bytes)",
             "1024 Bytes"},
        };
        for (const Case& c : cases) {
            EngineFixture f;
            f.writeFile("f", QByteArray(3000, 'x'));
            const bool read = c.opcode == Tftp::RRQ;
            const quint16 port = f.send(withOptions(c.opcode, read ? "f" : "up", c.options));
            for (int b = 1; b <= c.blocks; ++b)
                f.toTransfer(port, read ? EngineFixture::ack(quint16(b))
                                        : EngineFixture::data(quint16(b), QByteArray(512, 'u')));
            f.sent();
            f.engine->OnAbort();
            QVERIFY2(f.sent() == QList<QByteArray>{Tftp::MakeError(0, "Transfer aborted by the server")},
                     c.row);
            QVERIFY2(f.lastRow().state == ROW_FAILED, c.row);
            QCOMPARE(f.lastRow().texts.info, QString::fromLatin1(c.info));
            QCOMPARE(f.lastRow().texts.size, QString::fromLatin1(c.size));
        }
    }

    // A completed upload says whether it took the place of a file that was there.
    void uploadSaysReplaced() {
        struct Case {
            bool existed;
            Options options;
            const char* info;
        } cases[] = {
            {false, {}, "Receive Complete"},
            {true, {}, "Receive Complete (replaced)"},
            {true, {{"blksize", "1024"}}, "Receive Complete (blksize 1024, windowsize 1) (replaced)"},
        };
        for (const Case& c : cases) {
            EngineFixture f;
            if (c.existed)
                f.writeFile("up", "old contents");
            const quint16 port = f.send(withOptions(Tftp::WRQ, "up", c.options));
            f.toTransfer(port, EngineFixture::data(1, "new"));
            QCOMPARE(f.lastRow().state, ROW_RECEIVED);
            QCOMPARE(f.lastRow().texts.info, QString::fromLatin1(c.info));
            QCOMPARE(f.readFile("up"), QByteArray("new"));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndings)
#include "tst_endings.moc"
