#include "EngineFixture.h"

#include <QtTest>

// Option negotiation (RFC 2347-2349) and windowed transfers (RFC 7440), on only when
// Protocol/Negotiate is set.
class TestOptions : public QObject {
    Q_OBJECT

    using Options = QList<QPair<QByteArray, QByteArray>>;

    static QByteArray pattern(int size) {
        QByteArray b(size, '\0');
        for (int i = 0; i < size; ++i)
            b[i] = char(i * 13 + i / 251);
        return b;
    }
    static QByteArray withOptions(quint16 opcode, const QByteArray& name, const Options& options) {
        QByteArray r = EngineFixture::request(opcode, name);
        for (const auto& [key, value] : options)
            r.append(key).append('\0').append(value).append('\0');
        return r;
    }
    static void negotiating(EngineFixture& f, bool on = true) {
        f.change([on](EngineSettings& s) { s.negotiate = on; });
    }
    // The blocks in `out` by number.
    static QMap<quint16, QByteArray> blocks(const QList<QByteArray>& out) {
        QMap<quint16, QByteArray> found;
        for (const QByteArray& p : out)
            if (EngineFixture::opcode(p) == Tftp::DATA)
                found[EngineFixture::number(p)] = p.mid(4);
        return found;
    }

private slots:
    void answersOnlyWhatWasAskedWithinLimits() {
        EngineFixture f;
        f.writeFile("f", pattern(3000));
        negotiating(f);
        f.rrq("f"); // no options asked: plain RFC 1350
        QCOMPARE(EngineFixture::opcode(f.sent().last()), quint16(Tftp::DATA));

        f.send(withOptions(Tftp::RRQ, "f",
                           {{"BlkSize", "70000"},
                            {"x-unknown", "1"},
                            {"tsize", "0"},
                            {"windowsize", "100"},
                            {"timeout", "3"}}),
               5001);
        QCOMPARE(
            f.sent(),
            QList<QByteArray>{Tftp::MakeOack(
                {{"blksize", "1468"}, {"tsize", "3000"}, {"windowsize", "64"}, {"timeout", "3"}})});
        QCOMPARE(f.clock().lastInterval.value(f.engine->PortCounter()), 3000);

        f.send(withOptions(Tftp::RRQ, "f", {{"blksize", "4"}, {"timeout", "0"}}), 5002);
        QCOMPARE(EngineFixture::opcode(f.sent().last()), quint16(Tftp::DATA)); // none taken
        QByteArray malformed = withOptions(Tftp::RRQ, "f", {{"blksize", "1024"}});
        malformed.chop(1); // the value is not ended inside the datagram
        f.send(malformed, 5003);
        QCOMPARE(f.sent().last().size(), 4 + 512);

        negotiating(f, false);
        f.send(withOptions(Tftp::RRQ, "f", {{"blksize", "1024"}}), 5004);
        QCOMPARE(f.sent().last().size(), 4 + 512); // options ignored
    }

    // The block size granted by family: an IPv6 client gets 20 bytes less than the limit,
    // so a block still fits the same link unfragmented (1448 on 1500 bytes). An IPv4
    // client on a dual-stack socket (::ffff:a.b.c.d) counts as IPv4.
    void blockSizeByFamily_data() {
        QTest::addColumn<QString>("client");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("asked");
        QTest::addColumn<QByteArray>("granted");
        QTest::newRow("v4 1468 at the default")
            << "127.0.0.1" << 1468 << QByteArray("1468") << QByteArray("1468");
        QTest::newRow("v6 1468 at the default")
            << "::1" << 1468 << QByteArray("1468") << QByteArray("1448");
        QTest::newRow("v6 asks less") << "::1" << 1468 << QByteArray("1024") << QByteArray("1024");
        QTest::newRow("v6 link-local")
            << "fe80::5054:ff:fe12:3416" << 1468 << QByteArray("65464") << QByteArray("1448");
        QTest::newRow("mapped v4 is v4")
            << "::ffff:127.0.0.1" << 1468 << QByteArray("1468") << QByteArray("1468");
        QTest::newRow("v6 jumbo limit")
            << "::1" << 8972 << QByteArray("9000") << QByteArray("8952");
        QTest::newRow("v6 small limit kept")
            << "::1" << 512 << QByteArray("1468") << QByteArray("512");
        QTest::newRow("v6 limit below 512")
            << "::1" << 300 << QByteArray("1468") << QByteArray("300");
    }
    void blockSizeByFamily() {
        QFETCH(QString, client);
        QFETCH(int, limit);
        QFETCH(QByteArray, asked);
        QFETCH(QByteArray, granted);
        EngineFixture f;
        f.writeFile("f", pattern(3000));
        f.change([limit](EngineSettings& s) {
            s.negotiate = true;
            s.maxBlockSize = limit;
        });
        f.client = QHostAddress(client);
        f.send(withOptions(Tftp::RRQ, "f", {{"blksize", asked}}));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeOack({{"blksize", granted}})});
    }

    // A window of blocks per ACK; an ACK inside the window goes on from there, an echo
    // of an ACK changes nothing, a time-out sends the first block of the window again.
    void windowedDownload() {
        EngineFixture f(2);
        negotiating(f);
        const QByteArray bytes = pattern(100 * 10 + 37);
        f.writeFile("w", bytes);
        const quint16 port =
            f.send(withOptions(Tftp::RRQ, "w", {{"blksize", "100"}, {"windowsize", "4"}}));
        f.sent();
        f.toTransfer(port, EngineFixture::ack(0));
        QCOMPARE(blocks(f.sent()).keys(), (QList<quint16>{1, 2, 3, 4}));
        f.toTransfer(port, EngineFixture::ack(2)); // 3 was lost
        QCOMPARE(blocks(f.sent()).keys(), (QList<quint16>{3, 4, 5, 6}));
        f.toTransfer(port, EngineFixture::ack(2)); // the network's copy
        f.toTransfer(port, EngineFixture::ack(1)); // stale
        QVERIFY(f.sent().isEmpty());
        f.clock().advance(2000); // it has acknowledged data: the window again
        QCOMPARE(blocks(f.sent()).keys(), (QList<quint16>{3, 4, 5, 6}));
        f.toTransfer(port, EngineFixture::ack(6));
        const QMap<quint16, QByteArray> rest = blocks(f.sent());
        QCOMPARE(rest.keys(), (QList<quint16>{7, 8, 9, 10}));
        f.toTransfer(port, EngineFixture::ack(10));
        QCOMPARE(blocks(f.sent()).value(11), bytes.mid(1000));
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Transfer Complete (blksize 100, windowsize 4)"));
        f.toTransfer(port, EngineFixture::ack(11));
        QVERIFY(!f.engine->FindTransfer(port));
    }

    // Receiving a window: one ACK at its end, one at a gap, one at the last block.
    void windowedUpload() {
        EngineFixture f;
        negotiating(f);
        const QByteArray bytes = pattern(100 * 6 + 5);
        const quint16 port =
            f.send(withOptions(Tftp::WRQ, "up", {{"blksize", "100"}, {"windowsize", "3"}}));
        QCOMPARE(f.sent(),
                 QList<QByteArray>{Tftp::MakeOack({{"blksize", "100"}, {"windowsize", "3"}})});
        auto data = [&](quint16 n) {
            f.toTransfer(port, EngineFixture::data(n, bytes.mid((n - 1) * 100, 100)));
        };
        data(1);
        data(2);
        QVERIFY(f.sent().isEmpty());
        data(3);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(3)});
        data(5); // 4 lost
        data(6);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(3)});
        data(4);
        data(5);
        data(6);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(6)});
        data(7);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(7)});
        QCOMPARE(f.readFile("up"), bytes);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Receive Complete (blksize 100, windowsize 3)"));
    }

    // UEFI and some boot loaders end a size question with ERROR 8 after the OACK.
    void sizeProbeIsNoFailure() {
        EngineFixture f;
        negotiating(f);
        f.writeFile("boot.efi", pattern(4321));
        const quint16 port = f.send(withOptions(Tftp::RRQ, "boot.efi", {{"tsize", "0"}}));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeOack({{"tsize", "4321"}})});
        f.toTransfer(port, EngineFixture::error(8));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Size probe answered"));
        QCOMPARE(f.lastRow().state, ROW_SENT);
        QVERIFY(f.sent().isEmpty());
        QVERIFY(!f.window.sounds.contains(SOUND_FAILED));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
    }

    // An upload announced bigger than the free space is refused before any data moves.
    void uploadBeyondFreeSpace() {
        EngineFixture f;
        negotiating(f);
        f.platform->fileSystem().freeBytes = 1000;
        f.send(withOptions(Tftp::WRQ, "huge.img", {{"tsize", "5000"}}));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Disk Full!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(3)});
        f.send(withOptions(Tftp::WRQ, "small.img", {{"tsize", "900"}}), 5001);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeOack({{"tsize", "900"}})});
    }
};

QTEST_GUILESS_MAIN(TestOptions)
#include "tst_options.moc"
