#include "EngineFixture.h"

#include <QtTest>
#include <cerrno>

// The lock-step exchange both ways, time-outs, file rules and how transfers end.
class TestTransfers : public QObject {
    Q_OBJECT

    static QByteArray pattern(int size) {
        QByteArray b(size, '\0');
        for (int i = 0; i < size; ++i)
            b[i] = char(i * 7 + i / 256);
        return b;
    }

    // Uploads `bytes` in 512-byte blocks; returns false if an ACK is missing.
    static bool upload(EngineFixture& f, quint16 port, const QByteArray& bytes,
                       quint16 fromPort = EngineFixture::kClientPort) {
        quint16 block = 1;
        for (int off = 0;; off += 512, ++block) {
            f.toTransfer(port, EngineFixture::data(block, bytes.mid(off, 512)), fromPort);
            const QList<QByteArray> out = f.sent();
            if (out.isEmpty() || out.last() != EngineFixture::ack(block))
                return false;
            if (bytes.size() - off < 512)
                return true;
        }
    }

private slots:
    // Single-port mode: where a datagram on the listener goes, from what its address and
    // port have live. `setup` and `probe` are steps "RRQ f", "WRQ u", "ACK n", "DATA n"
    // (10 bytes: the last), "ERROR", joined by '|'; `expect` is what goes back.
    void singlePortRoutes_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("probe");
        QTest::addColumn<int>("fromPort");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<QString>("expect");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("firstInfo"); // the first row's, when not empty
        const int own = EngineFixture::kClientPort, other = own + 1;
        QTest::newRow("stranger's ACK: ERROR 5") << "" << "ACK 1" << own << 0 << "ERROR 5" << 0 << "";
        QTest::newRow("stranger's DATA: ERROR 5") << "" << "DATA 1" << own << 0 << "ERROR 5" << 0 << "";
        QTest::newRow("stranger's ERROR: never answered") << "" << "ERROR" << own << 0 << "" << 0 << "";
        QTest::newRow("request: a transfer") << "" << "RRQ f" << own << 0 << "DATA 1" << 1 << "";
        QTest::newRow("unanswered, asked again: answered again")
            << "RRQ f" << "RRQ f" << own << 300 << "DATA 1" << 1 << "";
        QTest::newRow("unanswered, the network's copy within 200 ms: nothing")
            << "RRQ f" << "RRQ f" << own << 100 << "" << 1 << "";
        QTest::newRow("unanswered, another request: the client moved on")
            << "RRQ f" << "RRQ g" << own << 300 << "DATA 1" << 2
            << "Replaced by the client's next request";
        QTest::newRow("running, its ACK: the next block")
            << "RRQ f|ACK 1" << "ACK 2" << own << 0 << "DATA 3" << 1 << "";
        QTest::newRow("running, its request again: a stale copy")
            << "RRQ f|ACK 1" << "RRQ f" << own << 300 << "" << 1 << "";
        QTest::newRow("running, another request: not the transfer's end")
            << "RRQ f|ACK 1" << "RRQ g" << own << 300 << "" << 1 << "";
        QTest::newRow("running, another port's ACK: ERROR 5")
            << "RRQ f|ACK 1" << "ACK 2" << other << 0 << "ERROR 5" << 1 << "";
        QTest::newRow("running, another port's request: a transfer of its own")
            << "RRQ f|ACK 1" << "RRQ g" << other << 0 << "DATA 1" << 2 << "";
        QTest::newRow("ended download, the request again: a new transfer")
            << "RRQ f|ACK 1|ACK 2" << "RRQ f" << own << 300 << "DATA 1" << 2 << "Transfer Complete";
        QTest::newRow("ended upload, a request: a new transfer")
            << "WRQ u|DATA 1" << "RRQ u" << own << 300 << "DATA 1" << 2 << "Receive Complete";
        QTest::newRow("finished, a late ACK: ERROR 5")
            << "RRQ f|ACK 1|ACK 2|ACK 3" << "ACK 3" << own << 0 << "ERROR 5" << 1 << "Transfer Complete";
    }
    void singlePortRoutes() {
        QFETCH(QString, setup);
        QFETCH(QString, probe);
        QFETCH(int, fromPort);
        QFETCH(int, afterMs);
        QFETCH(QString, expect);
        QFETCH(int, rows);
        QFETCH(QString, firstInfo);
        EngineFixture f;
        f.change([](EngineSettings& s) { s.singlePort = true; });
        f.writeFile("f", pattern(1500)); // three blocks
        f.writeFile("g", pattern(100));
        const auto step = [&f](const QString& text, quint16 port) {
            const QStringList w = text.split(QLatin1Char(' '));
            const QByteArray arg = w.value(1).toLatin1();
            QByteArray d;
            if (w[0] == "RRQ" || w[0] == "WRQ")
                d = EngineFixture::request(w[0] == "RRQ" ? Tftp::RRQ : Tftp::WRQ, arg);
            else if (w[0] == "ACK")
                d = EngineFixture::ack(quint16(arg.toInt()));
            else if (w[0] == "DATA")
                d = EngineFixture::data(quint16(arg.toInt()), QByteArray(10, 'u'));
            else
                d = EngineFixture::error(0);
            f.net().deliver(EngineFixture::kListen, d, f.client, port);
        };
        for (const QString& s : setup.split(QLatin1Char('|'), Qt::SkipEmptyParts))
            step(s, EngineFixture::kClientPort);
        f.net().takeSent();
        f.clock().advance(afterMs);
        step(probe, quint16(fromPort));
        const QList<quint16> sentFrom = f.net().sentFrom;
        const QList<FakeDatagram> out = f.net().takeSent();
        QString got;
        for (const FakeDatagram& d : out) {
            const quint16 op = EngineFixture::opcode(d.data);
            got += (got.isEmpty() ? "" : "|") +
                   QStringLiteral("%1 %2")
                       .arg(op == Tftp::DATA ? "DATA" : op == Tftp::ERROR ? "ERROR" : "OTHER")
                       .arg(EngineFixture::number(d.data));
            QCOMPARE(d.peerPort, quint16(fromPort));
        }
        QCOMPARE(got, expect);
        QCOMPARE(f.window.order.size(), rows);
        if (!firstInfo.isEmpty())
            QCOMPARE(f.window.rows[f.window.order.first()].texts.info, firstInfo);
        // Everything left from the listener; no port was bound for a transfer.
        QVERIFY(std::all_of(sentFrom.begin(), sentFrom.end(),
                            [](quint16 p) { return p == EngineFixture::kListen; }));
        QCOMPARE(f.net().openSockets, 1);
    }

    // The mode turned off in the middle: the transfer begun on the listener ends there;
    // the next request gets a port of its own.
    void singlePortTurnedOffMidTransfer() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.singlePort = true; });
        const QByteArray body = pattern(1500);
        f.writeFile("f", body);
        f.rrq("f");
        f.change([](EngineSettings& s) { s.singlePort = false; });
        const quint16 own = f.rrq("f", 5001);
        QVERIFY(own != EngineFixture::kListen);
        QCOMPARE(f.net().sentFrom.last(), own);
        f.net().takeSent();
        f.net().deliver(EngineFixture::kListen, EngineFixture::ack(1), f.client,
                        EngineFixture::kClientPort);
        f.net().deliver(own, EngineFixture::ack(1), f.client, 5001);
        QCOMPARE(f.net().sentFrom, (QList<quint16>{EngineFixture::kListen, own}));
        for (const FakeDatagram& d : f.net().takeSent())
            QCOMPARE(d.data, EngineFixture::data(2, body.mid(512, 512)));
    }

    void sendSizes_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("blocks");
        QTest::newRow("1024: two full blocks and an empty one") << 1024 << 3;
        QTest::newRow("1020: the short second block is the last") << 1020 << 2;
        QTest::newRow("empty file: one empty block") << 0 << 1;
    }
    void sendSizes() {
        QFETCH(int, size);
        QFETCH(int, blocks);
        EngineFixture f;
        const QByteArray bytes = pattern(size);
        f.writeFile("f.bin", bytes);
        const quint16 port = f.rrq("f.bin");
        int seen = 0;
        QByteArray got;
        for (int i = 0; i < 10; ++i) {
            const QList<QByteArray> out = f.sent();
            if (out.isEmpty())
                break;
            QCOMPARE(EngineFixture::opcode(out.last()), quint16(Tftp::DATA));
            QCOMPARE(EngineFixture::number(out.last()), quint16(++seen));
            got += out.last().mid(4);
            if (out.last().size() < 516) {
                // Complete as soon as the last block is sent.
                QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));
                QCOMPARE(f.lastRow().texts.size, QStringLiteral("%1 Bytes").arg(size));
                QCOMPARE(f.lastRow().state, ROW_SENT);
                QCOMPARE(f.engine->m_nActiveTransfers, 0);
                QVERIFY(f.clock().isRunning(port)); // still waiting for its ACK
            }
            f.toTransfer(port, EngineFixture::ack(quint16(seen)));
        }
        QCOMPARE(seen, blocks);
        QCOMPARE(got, bytes);
        // Its ACK arrived: the socket and the timer are released.
        QVERIFY(!f.clock().isRunning(port));
        QVERIFY(!f.engine->FindTransfer(port));
        QCOMPARE(f.net().openSockets, 1);
        QCOMPARE(f.window.animation, (QStringList{"start", "stop"}));
    }

    void progressCoversBlocksBeforeTheCurrent() {
        EngineFixture f;
        f.writeFile("p", pattern(1000));
        const quint16 port = f.rrq("p");
        QCOMPARE(f.lastRow().sent, 0);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Total file size is 1000 Bytes"));
        f.sent();
        f.toTransfer(port, EngineFixture::ack(1));
        QCOMPARE(f.lastRow().sent, 512);
        QCOMPARE(f.lastRow().size, 1000);
    }

    void receiveWritesEachBlockOnce() {
        EngineFixture f;
        const QByteArray bytes = pattern(1300);
        const quint16 port = f.wrq("up.bin");
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Data Receiving...."));
        f.toTransfer(port, EngineFixture::data(1, bytes.left(512)));
        f.toTransfer(port, EngineFixture::data(1, bytes.left(512))); // a duplicate
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Duplicated DATA!"));
        QCOMPARE(f.sent(), (QList<QByteArray>{EngineFixture::ack(1), EngineFixture::ack(1)}));
        f.toTransfer(port, EngineFixture::data(2, bytes.mid(512, 512)));
        f.toTransfer(port, EngineFixture::data(3, bytes.mid(1024)));
        QCOMPARE(f.readFile("up.bin"), bytes);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        QCOMPARE(f.lastRow().texts.size, QStringLiteral("1300 Bytes"));
        QCOMPARE(f.lastRow().state, ROW_RECEIVED);
        QCOMPARE(f.window.sounds.last(), int(SOUND_RECEIVED));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
    }

    // A datagram of up to 1020 data bytes is written whole; with ConvertNetascii=0
    // netascii moves bytes as they are.
    void largeBlocksAndNetasciiUnchanged() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.convertNetascii = false; });
        const QByteArray crlf = QByteArray("line\r\n").repeated(170); // 1020 bytes
        const quint16 port = f.send(EngineFixture::request(Tftp::WRQ, "t.txt", "netascii"));
        f.toTransfer(port, EngineFixture::data(1, crlf));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Data Receiving....")); // not the last
        f.toTransfer(port, EngineFixture::data(2, QByteArray()));
        QCOMPARE(f.readFile("t.txt"), crlf);
        f.sent();
        QCOMPARE(f.download(f.send(EngineFixture::request(Tftp::RRQ, "t.txt", "ascii"))), crlf);
    }

    // UDP duplicates and reorders: stale copies change nothing; a block number the peer
    // cannot have seen yet ends the transfer, and the client is told.
    void staleAndFutureBlocks() {
        EngineFixture f;
        f.writeFile("s", pattern(3000));
        quint16 port = f.rrq("s");
        f.toTransfer(port, EngineFixture::ack(1));
        f.toTransfer(port, EngineFixture::ack(2));
        f.toTransfer(port, EngineFixture::ack(3));
        f.sent();
        const int updates = f.lastRow().updates;
        f.toTransfer(port, EngineFixture::ack(1)); // stale
        QVERIFY(f.sent().isEmpty());
        QCOMPARE(f.lastRow().updates, updates);
        QVERIFY(f.clock().isRunning(port));
        f.toTransfer(port, EngineFixture::ack(4));
        f.toTransfer(port, EngineFixture::ack(5));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));

        port = f.wrq("r", 5001);
        f.toTransfer(port, EngineFixture::data(1, pattern(512)), 5001);
        f.toTransfer(port, EngineFixture::data(2, pattern(512)), 5001);
        f.sent();
        f.toTransfer(port, EngineFixture::data(0xffff, "x"), 5001); // stale
        QVERIFY(f.sent().isEmpty());
        f.toTransfer(port, EngineFixture::data(4, pattern(512)), 5001);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: Receive DATA Block Number is greater than normal case!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(4)});
        QVERIFY(QDir(f.root()).entryList(QDir::Files | QDir::Hidden).contains("s"));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
    }

    // A duplicated ACK never doubles the traffic (RFC 1123 4.2.3.1); a client that repeats
    // its ACK because our block was lost gets the block again at once.
    void duplicateAckResendsOnlyForALostBlock() {
        EngineFixture f;
        f.writeFile("d", pattern(5000));
        quint16 port = f.rrq("d");
        int dataPackets = 0;
        for (quint16 block = 1; block <= 10; ++block) {
            f.toTransfer(port, EngineFixture::ack(block));
            f.toTransfer(port, EngineFixture::ack(block)); // the network's copy
            for (const QByteArray& p : f.sent())
                dataPackets += EngineFixture::opcode(p) == Tftp::DATA;
        }
        QCOMPARE(dataPackets, 10);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));

        port = f.rrq("d", 5001);
        f.toTransfer(port, EngineFixture::ack(1), 5001);
        f.sent();
        for (int i = 0; i < 5; ++i) {
            f.clock().advance(1000); // the client's own retransmission interval
            f.toTransfer(port, EngineFixture::ack(1), 5001);
            f.toTransfer(port, EngineFixture::ack(1), 5001);
            const QList<QByteArray> out = f.sent();
            QCOMPARE(out.size(), 1);
            QCOMPARE(EngineFixture::number(out[0]), quint16(2));
        }
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Duplicated ACK!"));
        f.clock().advance(1000);
        f.toTransfer(port, EngineFixture::ack(1), 5001); // the sixth without progress
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Client Not Responding!! Connection Closed!!"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(0, "Client not responding")});
    }

    void clientErrorEndsTransfer() {
        EngineFixture f;
        const quint16 port = f.wrq("e");
        f.toTransfer(port, EngineFixture::data(1, pattern(512)));
        f.sent();
        f.toTransfer(port, EngineFixture::error(3));
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: Client-Disk Full or Allocation Exceeded!!"));
        QVERIFY(QDir(f.root()).isEmpty(QDir::Files | QDir::Hidden)); // nothing half-received
        QVERIFY(f.sent().isEmpty());                                   // an ERROR is not answered
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        f.writeFile("s", pattern(10));
        f.toTransfer(f.rrq("s", 5001), EngineFixture::error(9), 5001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Unknown Error Code Received!!"));
    }

    // Anyone else's datagram is told "Unknown Port Number!!" and changes nothing.
    void foreignDatagramsLeaveTheTransferAlone() {
        EngineFixture f;
        f.writeFile("h", pattern(2000));
        const quint16 port = f.rrq("h");
        f.sent();
        f.toTransfer(port, EngineFixture::ack(1), 6666); // same host, other port
        f.net().deliver(port, EngineFixture::ack(1), QHostAddress("127.0.0.9"), 5000);
        const QList<FakeDatagram> out = f.net().takeSent();
        QCOMPARE(out.size(), 2);
        QCOMPARE(out[0].data, Tftp::MakeError(5));
        QCOMPARE(out[0].peerPort, quint16(6666));
        QCOMPARE(out[1].peer, QHostAddress("127.0.0.9"));
        QVERIFY(f.clock().isRunning(port));
        f.toTransfer(port, EngineFixture::ack(1));
        const QList<FakeDatagram> next = f.net().takeSent();
        QCOMPARE(EngineFixture::number(next[0].data), quint16(2));
        QCOMPARE(next[0].peerPort, EngineFixture::kClientPort);
    }

    // Short datagrams and other opcodes are ignored and do not stop the timer.
    void strayDatagramsKeepTheTimer() {
        EngineFixture f(3);
        f.writeFile("s", pattern(700));
        const quint16 port = f.rrq("s");
        f.toTransfer(port, QByteArray("\0\4", 2));
        f.toTransfer(port, EngineFixture::request(Tftp::RRQ, "s"));
        f.toTransfer(port, QByteArray("\0\6\0\1", 4));
        QVERIFY(f.clock().isRunning(port));
        f.sent();
        f.clock().advance(3000);
        QCOMPARE(f.sent().size(), 1); // the block is repeated on time
    }

    void giveUpAfterSixExpiries() {
        EngineFixture f;
        f.writeFile("g", pattern(3000));
        const quint16 port = f.rrq("g");
        f.sent();
        for (int i = 1; i <= 5; ++i) {
            f.clock().advance(20000);
            const QList<QByteArray> out = f.sent();
            QCOMPARE(out.size(), 1);
            QCOMPARE(EngineFixture::number(out[0]), quint16(1));
        }
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Total file size is 3000 Bytes"));
        f.clock().advance(20000);
        QCOMPARE(f.clock().now, qint64(120000));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Client Not Responding!! Connection Closed!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(0, "Client not responding")});
        QCOMPARE(f.readFile("g"), pattern(3000));
        QVERIFY(!f.engine->FindTransfer(port));

        // The same on a reception removes the partial file.
        const quint16 rport = f.wrq("partial", 5001);
        f.toTransfer(rport, EngineFixture::data(1, pattern(512)), 5001);
        QVERIFY(!QFile::exists(f.path("partial"))); // received under a temporary name
        f.clock().advance(6 * 20000);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Client Not Responding!! Connection Closed!!"));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden), QStringList{"g"});
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
    }

    // The details pane's facts: told once at the start and once at the end, never per
    // block, with what was asked and given, the blocks, resends and time-outs, and why
    // it failed. `run` is the exchange; the start is told only once an exchange began.
    void detailsAtStartAndEnd_data() {
        QTest::addColumn<QString>("run");
        QTest::addColumn<int>("tellings");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("given");
        QTest::addColumn<qint64>("blocks");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("timeOuts");
        QTest::addColumn<qint64>("tookMs");
        QTest::addColumn<QString>("failure");
        QTest::newRow("finished, options") << "options" << 2 << "blksize 1024, tsize 0"
                                           << "blksize 1024, tsize 3000" << qint64(3) << 0 << 0
                                           << qint64(300) << "";
        QTest::newRow("exact blocks end empty") << "exact" << 2 << "" << "" << qint64(3) << 0 << 0
                                                << qint64(0) << "";
        QTest::newRow("timed out") << "silent" << 2 << "" << "" << qint64(1) << 5 << 6
                                   << qint64(120000) << "Client Not Responding!! Connection Closed!!";
        QTest::newRow("refused") << "missing" << 1 << "" << "" << qint64(-1) << 0 << 0 << qint64(0)
                                 << "Error: Requested File Not Found!!";
        QTest::newRow("upload") << "upload" << 2 << "" << "" << qint64(2) << 0 << 0 << qint64(0) << "";
    }
    void detailsAtStartAndEnd() {
        QFETCH(QString, run);
        QFETCH(int, tellings);
        QFETCH(QString, asked);
        QFETCH(QString, given);
        QFETCH(qint64, blocks);
        QFETCH(int, retries);
        QFETCH(int, timeOuts);
        QFETCH(qint64, tookMs);
        QFETCH(QString, failure);
        EngineFixture f;
        f.change([](EngineSettings& s) { s.negotiate = true; });
        f.writeFile("g", pattern(3000));
        f.writeFile("e", pattern(1024));
        if (run == "options") {
            QByteArray r = EngineFixture::request(Tftp::RRQ, "g");
            r.append("blksize\0" "1024\0" "tsize\0" "0\0", 21);
            const quint16 port = f.send(r);
            QCOMPARE(EngineFixture::opcode(f.sent().last()), quint16(Tftp::OACK));
            f.clock().advance(300);
            f.toTransfer(port, EngineFixture::ack(0));
            for (quint16 b = 1; b <= 3; ++b)
                f.toTransfer(port, EngineFixture::ack(b));
        } else if (run == "exact") {
            QCOMPARE(f.download(f.rrq("e")), pattern(1024));
        } else if (run == "silent") {
            f.rrq("g");
            f.clock().advance(6 * 20000);
        } else if (run == "missing") {
            f.rrq("nothing-here");
        } else {
            QVERIFY(upload(f, f.wrq("u"), pattern(700)));
        }
        const RowHandle row = f.window.order.last();
        const QList<RowDetails> told = f.window.details.value(row);
        QCOMPARE(told.size(), tellings);
        if (tellings == 2) {
            QVERIFY(!told[0].ended);
            QCOMPARE(told[0].endMs, qint64(-1));
            QCOMPARE(told[0].blocks, qint64(0));
        }
        const RowDetails& d = told.last();
        QVERIFY(d.ended);
        QCOMPARE(d.client, f.client.toString());
        QCOMPARE(d.clientPort, EngineFixture::kClientPort);
        QCOMPARE(d.ourPort, f.engine->PortCounter());
        QCOMPARE(d.asked, run == "missing" ? QStringLiteral("nothing-here")
                          : run == "upload" ? QStringLiteral("u")
                          : run == "exact"  ? QStringLiteral("e")
                                            : QStringLiteral("g"));
        QCOMPARE(d.optionsAsked, asked);
        QCOMPARE(d.optionsGiven, given);
        QCOMPARE(d.blocks, blocks);
        QCOMPARE(d.retries, retries);
        QCOMPARE(d.timeOuts, timeOuts);
        QCOMPARE(d.endMs - d.startMs, tookMs);
        QCOMPARE(d.failure, failure);
    }

    // A client that vanishes right after its write request is given up on too.
    void silentClientAfterWriteRequest() {
        EngineFixture f(2);
        f.wrq("never");
        f.clock().advance(6 * 2000);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Client Not Responding!! Connection Closed!!"));
        QVERIFY(!QFile::exists(f.path("never")));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
    }

    void timeOutReadAtEveryBlock() {
        EngineFixture f;
        f.writeFile("t", pattern(2000));
        const quint16 port = f.rrq("t");
        QCOMPARE(f.clock().lastInterval.value(port), 20000);
        const auto timeOut = [&f](int seconds) {
            f.change([seconds](EngineSettings& s) { s.timeOut = seconds; });
        };
        timeOut(7);
        f.toTransfer(port, EngineFixture::ack(1));
        QCOMPARE(f.clock().lastInterval.value(port), 7000);
        timeOut(0); // 0 and below run with 1 s
        f.toTransfer(port, EngineFixture::ack(2));
        QCOMPARE(f.clock().lastInterval.value(port), 1000);
        timeOut(-5);
        f.clock().advance(1000);
        QCOMPARE(f.clock().lastInterval.value(port), 1000);
        // The most the store hands (it keeps TimeOut within the option's 255).
        timeOut(255);
        f.toTransfer(port, EngineFixture::ack(3));
        QCOMPARE(f.clock().lastInterval.value(port), 255000);
    }

    void lostLastAckTurnsCompleteIntoFailure() {
        EngineFixture f(1);
        f.writeFile("l", pattern(100));
        f.rrq("l");
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        f.clock().advance(6000);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Client Not Responding!! Connection Closed!!"));
        QCOMPARE(f.engine->m_nActiveTransfers, 0); // lowered once only
        QCOMPARE(f.window.animation, (QStringList{"start", "stop"}));
    }

    // A completed reception stays complete: the repeated last block is acknowledged
    // again without a retry or a new text, and the port is released one interval later.
    void completedReceptionStaysComplete() {
        EngineFixture f(2);
        const quint16 port = f.wrq("c");
        f.toTransfer(port, EngineFixture::data(1, "tail"));
        const int updates = f.lastRow().updates;
        f.sent();
        for (int i = 0; i < 8; ++i)
            f.toTransfer(port, EngineFixture::data(1, "tail"));
        QCOMPARE(f.sent().size(), 8);
        f.toTransfer(port, EngineFixture::data(5, "x"));
        f.toTransfer(port, EngineFixture::error(0));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        QCOMPARE(f.lastRow().updates, updates);
        QCOMPARE(f.readFile("c"), QByteArray("tail"));
        QVERIFY(f.engine->FindTransfer(port));
        f.clock().advance(2000);
        QVERIFY(!f.engine->FindTransfer(port));
        QCOMPARE(f.net().openSockets, 1);
    }

    // Block numbers roll over from 65535 to 0 both ways (a 32 MiB file and more).
    void blockNumberRollover() {
        EngineFixture f;
        const int blocks = 65540;
        const QByteArray bytes = pattern(blocks * 512 + 5);
        f.writeFile("huge", bytes);
        const quint16 port = f.rrq("huge");
        const QByteArray got = f.download(port, EngineFixture::kClientPort, blocks + 2);
        QCOMPARE(got.size(), bytes.size());
        QVERIFY(got == bytes);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));

        const quint16 rport = f.wrq("huge-up", 5001);
        f.sent();
        quint16 block = 1;
        for (int i = 0; i < blocks; ++i, ++block)
            f.toTransfer(rport, EngineFixture::data(block, bytes.mid(i * 512, 512)), 5001);
        QCOMPARE(block, quint16(blocks % 65536 + 1 - 65536 + 65536));
        f.toTransfer(rport, EngineFixture::data(block, bytes.mid(blocks * 512)), 5001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        QVERIFY(f.readFile("huge-up") == bytes);
    }

    void clientRule() {
        EngineFixture f;
        f.writeFile("a", "a");
        AccessRules rules;
        rules.allowClient = true;
        rules.clients[1] = QStringLiteral("127.0.0.1");
        f.engine->SetRules(rules);
        QCOMPARE(f.download(f.rrq("a")), QByteArray("a"));
        f.client = QHostAddress("127.0.0.10");
        f.rrq("a");
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Unauthorized Clinet!! Deny This Request!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        rules.clients[1].clear(); // all six empty: nobody is served
        f.engine->SetRules(rules);
        f.client = QHostAddress("127.0.0.1");
        f.wrq("b");
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        QCOMPARE(f.window.animation, (QStringList{"start", "stop"}));

        // Addresses compare as addresses, ranges as ranges.
        rules.clients = {"0:0:0:0:0:0:0:1", "::ffff:127.0.0.1", "192.168.1.0/24", "fd00::/64",
                         "not an address", ""};
        f.engine->SetRules(rules);
        quint16 from = 5100;
        for (const char* client : {"::1", "127.0.0.1", "192.168.1.77", "fd00::5"}) {
            f.client = QHostAddress(client);
            QCOMPARE(f.download(f.rrq("a", from), from), QByteArray("a"));
            ++from;
        }
        for (const char* client : {"192.168.2.1", "fd01::5", "::2"}) {
            f.client = QHostAddress(client);
            f.rrq("a", from++);
            QCOMPARE(f.lastRow().texts.info,
                     QStringLiteral("Unauthorized Clinet!! Deny This Request!!"));
        }
        QCOMPARE(AccessRules::ParseClient("::ffff:10.1.0.0/112"),
                 std::make_optional(AccessRules::Subnet{QHostAddress("10.1.0.0"), 16}));
        QVERIFY(!AccessRules::ParseClient("10.0.0.0/33"));
        QVERIFY(!AccessRules::ParseClient("host.example"));
    }

    void fileRule() {
        EngineFixture f;
        f.writeFile("boot.bin", "1");
        f.writeFile("netboot.bin.old", "2");
        f.writeFile("BOOT.BIN", "3");
        AccessRules rules;
        rules.sendFile = true;
        rules.fileEdit = QStringLiteral("boot.bin");
        f.engine->SetRules(rules);
        QCOMPARE(f.download(f.rrq("boot.bin")), QByteArray("1"));
        QCOMPARE(f.download(f.rrq("netboot.bin.old", 5001), 5001), QByteArray("2"));
        f.rrq("BOOT.BIN", 5002);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Requested File Access Not Allowed!! Deny This Request!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        f.wrq("other", 5003); // writes are not limited by this rule
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
    }

    void openFailures() {
        EngineFixture f;
        f.rrq("missing");
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested File Not Found!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(1)});
        f.rrq("nodir/x", 5001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested File Not Found!!"));
        f.sent();

        f.change([](EngineSettings& s) { s.overWrite = false; });
        f.writeFile("exists", "old");
        f.wrq("exists", 5002);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("File Already Exist!! Overwriting is prohibited!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(6)});
        QCOMPARE(f.readFile("exists"), QByteArray("old"));
        f.wrq("new", 5003);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
        f.wrq("nodir/new", 5004);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested Folder Not Found!!"));
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(1)});
        QCOMPARE(f.window.sounds.count(SOUND_FAILED), 4);
    }

    // Refuse Uploads: every write is an access violation and nothing on disk changes;
    // downloads go on.
    void uploadsTurnedOff() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.readOnly = true; });
        f.writeFile("fw.img", "old");
        f.wrq("fw.img", 5001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Uploads Are Turned Off"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        f.wrq("new", 5002);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden), QStringList{"fw.img"});
        QCOMPARE(f.readFile("fw.img"), QByteArray("old"));
        f.rrq("fw.img", 5003);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::data(1, "old")});
    }

    void sharingRules() {
        EngineFixture f;
        f.writeFile("shared", pattern(2000));
        const quint16 a = f.rrq("shared", 5001);
        const quint16 b = f.rrq("shared", 5002); // two readers at once
        QCOMPARE(f.window.rows.last().state, ROW_ACTIVE);
        f.wrq("shared", 5003); // a writer while it is read
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: File already using. Can not open file!!"));
        QCOMPARE(f.sent().last(), Tftp::MakeError(0));
        Q_UNUSED(a);
        Q_UNUSED(b);

        f.wrq("incoming", 5004);
        f.rrq("incoming", 5005);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: File already using. Can not open file!!"));
        f.change([](EngineSettings& s) { s.overWrite = false; });
        f.wrq("incoming", 5006);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: File already using. Can not open file!!"));
    }

    // A failed upload never destroys the file it was to replace.
    void replacementKeepsOldFileUntilComplete() {
        EngineFixture f;
        f.writeFile("fw.img", "old firmware");
        quint16 port = f.wrq("fw.img");
        QCOMPARE(f.readFile("fw.img"), QByteArray("old firmware"));
        f.toTransfer(port, EngineFixture::data(1, pattern(512)));
        f.toTransfer(port, EngineFixture::data(3, "x")); // out of range: fails
        QCOMPARE(f.readFile("fw.img"), QByteArray("old firmware"));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        port = f.wrq("fw.img", 5001);
        QVERIFY(upload(f, port, pattern(700), 5001));
        QCOMPARE(f.readFile("fw.img"), pattern(700));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // A read or write that fails after the open ends the transfer on its row.
    void fileErrorsAfterOpen() {
        EngineFixture f;
        const quint16 port = f.wrq("full");
        f.platform->fileSystem().failWritesWith = ENOSPC;
        f.toTransfer(port, EngineFixture::data(1, pattern(512)));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Disk Full!!"));
        QCOMPARE(f.sent().last(), Tftp::MakeError(3));
        QVERIFY(!QFile::exists(f.path("full")));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        QVERIFY(f.window.messages.isEmpty());

        f.platform->fileSystem().failWritesWith = 0;
        f.platform->fileSystem().failReadsWith = EIO;
        f.writeFile("bad", pattern(600));
        f.rrq("bad", 5001);
        QVERIFY(f.lastRow().texts.info.startsWith("Error: "));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.sent().last(), Tftp::MakeError(0));

        f.platform->fileSystem().failReadsWith = 0;
        f.platform->fileSystem().failRenameWith = EACCES;
        f.writeFile("keep", "old");
        const quint16 r = f.wrq("keep", 5002);
        f.toTransfer(r, EngineFixture::data(1, "new"), 5002);
        QVERIFY(f.lastRow().texts.info.startsWith("Error: "));
        QCOMPARE(f.readFile("keep"), QByteArray("old"));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"bad", "keep"})); // no temporary file left behind
    }

    void abortStopsTransfersInProgress() {
        EngineFixture f;
        f.writeFile("s", pattern(3000));
        f.writeFile("old", "old");
        const quint16 send = f.rrq("s", 5001);
        f.toTransfer(send, EngineFixture::ack(0), 5001); // shows "Duplicated ACK!"
        const quint16 recv = f.wrq("r", 5002);
        f.toTransfer(recv, EngineFixture::data(1, pattern(512)), 5002);
        f.wrq("old", 5003);
        f.writeFile("done", "d");
        f.rrq("done", 5004); // complete, awaiting its last ACK
        QCOMPARE(f.engine->m_nActiveTransfers, 3);
        f.sent();
        f.engine->OnAbort();
        QCOMPARE(f.sent(), QList<QByteArray>(3, Tftp::MakeError(0, "Transfer aborted by the server")));
        // Each row keeps its size and how far it got.
        QStringList aborted;
        for (const auto& row : f.window.rows)
            if (row.state == ROW_FAILED)
                aborted << row.texts.info + " / " + row.texts.size;
        QCOMPARE(aborted, (QStringList{"User aborts!! (at 0 of 3000 Bytes) / 3000 Bytes",
                                       "User aborts!! (at 512 Bytes) / 512 Bytes",
                                       "User aborts!! (at 0 Bytes) / 0 Bytes"}));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));
        QVERIFY(!QFile::exists(f.path("r")));
        QCOMPARE(f.readFile("old"), QByteArray("old"));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        QCOMPARE(f.window.animation.last(), QStringLiteral("stop"));
        QCOMPARE(f.window.sounds.last(), int(SOUND_FAILED));
        QCOMPARE(f.net().openSockets, 1);
        // Nothing gives up later.
        f.clock().advance(10 * 20000);
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        QVERIFY(f.sent().isEmpty());
    }

    // Abort This Transfer: that transfer ends as Abort ends them all; the others go on,
    // and a row that has ended is left as it is.
    void abortOneTransfer() {
        EngineFixture f;
        f.writeFile("s", pattern(3000));
        const quint16 send = f.rrq("s", 5001);
        const RowHandle sendRow = f.window.order.last();
        const quint16 recv = f.wrq("r", 5002);
        const RowHandle recvRow = f.window.order.last();
        f.toTransfer(recv, EngineFixture::data(1, pattern(512)), 5002);
        f.writeFile("done", "d");
        f.rrq("done", 5003);
        f.toTransfer(f.engine->PortCounter(), EngineFixture::ack(1), 5003);
        const RowHandle doneRow = f.window.order.last();
        QCOMPARE(f.window.rows[doneRow].state, ROW_SENT);
        QCOMPARE(f.engine->m_nActiveTransfers, 2);
        f.sent();
        f.window.sounds.clear();

        f.engine->AbortRow(recvRow);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(0, "Transfer aborted by the server")});
        QCOMPARE(f.window.rows[recvRow].texts.info, QStringLiteral("User aborts!! (at 512 Bytes)"));
        QCOMPARE(f.window.rows[recvRow].state, ROW_FAILED);
        QVERIFY(!QFile::exists(f.path("r")));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden), (QStringList{"done", "s"}));
        QCOMPARE(f.window.sounds, QList<int>{SOUND_FAILED});
        QCOMPARE(f.engine->m_nActiveTransfers, 1);
        QCOMPARE(f.window.rows[sendRow].state, ROW_ACTIVE);
        QVERIFY(f.window.animation.isEmpty() || f.window.animation.last() != QLatin1String("stop"));

        f.engine->AbortRow(doneRow);
        f.engine->AbortRow(recvRow);
        QVERIFY(f.sent().isEmpty());
        QCOMPARE(f.window.rows[doneRow].state, ROW_SENT);
        f.toTransfer(send, EngineFixture::ack(1), 5001); // the download goes on
        QCOMPARE(EngineFixture::opcode(f.sent().value(0)), quint16(3));
        f.engine->AbortRow(sendRow);
        QCOMPARE(f.window.rows[sendRow].texts.info,
                 QStringLiteral("User aborts!! (at 512 of 3000 Bytes)"));
        QCOMPARE(f.window.rows[sendRow].texts.size, QStringLiteral("3000 Bytes"));
        QCOMPARE(f.engine->m_nActiveTransfers, 0);
        QCOMPARE(f.window.animation.last(), QStringLiteral("stop"));
    }

    // Ended transfers give their sockets and memory back.
    void resourcesReleased() {
        EngineFixture f(1);
        f.writeFile("small", "s");
        for (int i = 0; i < 500; ++i) {
            const quint16 port = f.rrq("small", quint16(10000 + i));
            f.toTransfer(port, EngineFixture::ack(1), quint16(10000 + i));
            f.rrq("missing", quint16(20000 + i));
            const quint16 up = f.wrq("u" + QByteArray::number(i % 7), quint16(30000 + i));
            f.toTransfer(up, EngineFixture::data(1, "x"), quint16(30000 + i));
        }
        f.clock().advance(1000);
        f.send(EngineFixture::ack(0)); // any later event frees what was retired
        QCOMPARE(f.engine->LiveTransferCount(), 0);
        QCOMPARE(f.net().openSockets, 1);
    }
};

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"
