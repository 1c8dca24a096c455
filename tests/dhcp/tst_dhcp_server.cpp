#include "engine/dhcp/DhcpServer.h"
#include "engine/dhcp/LeaseFile.h"
#include "FakePlatform.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <mutex>
#include <QTemporaryDir>
#include <QtTest>

using namespace Dhcp;

// The service on the fake platform and clock: it asks the link before it answers, steps
// back while another DHCP server answers there, keeps one row per client exchange and
// its leases across a restart. The clients' packets are the captured ones.
class TestDhcpServer : public QObject {
    Q_OBJECT

    static constexpr int kTimer = 77;

    struct Row {
        RowTexts texts;
        RowState state = ROW_ACTIVE;
    };
    struct Fixture {
        FakePlatform platform;
        QList<Row> rows;
        QMap<RowHandle, QList<RowDetails>> details;
        QStringList statuses;
        QString refuseAll; // the client list's refusal, for every address
        // The engine thread's queue, as the lease writer's thread posts to it: it outlives
        // the server, whose writer posts its last sync as the server stops.
        std::mutex postLock;
        QList<std::function<void()>> posted;
        std::unique_ptr<CDhcpServer> server;

        // Runs what the writer posted, waiting for its first message up to five seconds.
        bool runPosted() {
            for (int i = 0; i < 500; ++i) {
                QList<std::function<void()>> now;
                {
                    std::lock_guard<std::mutex> lock(postLock);
                    now.swap(posted);
                }
                for (const auto& fn : now)
                    fn();
                if (!now.isEmpty())
                    return true;
                QThread::msleep(10);
            }
            return false;
        }

        explicit Fixture(const QString& leaseFile, DhcpOptions options = {}, bool threaded = false) {
            platform.timers().onTimeout = [this](int id) {
                if (id == kTimer && server)
                    server->OnTimer();
            };
            DhcpContext c;
            c.platform = &platform;
            c.timerId = kTimer;
            c.addRow = [this](const RowTexts& t) {
                rows.append({t, ROW_ACTIVE});
                return RowHandle(rows.size());
            };
            c.updateRow = [this](RowHandle r, const RowTexts& t, RowState s) {
                rows[int(r) - 1] = {t, s};
            };
            c.showDetails = [this](RowHandle r, const RowDetails& d) { details[r].append(d); };
            c.admit = [this](const QHostAddress&) { return refuseAll; };
            c.statusChanged = [this](const DhcpStatus& s) { statuses.append(s.text()); };
            c.leaseFile = leaseFile;
            if (threaded)
                c.postToEngine = [this](std::function<void()> fn) {
                    std::lock_guard<std::mutex> lock(postLock);
                    posted.append(std::move(fn));
                };
            c.epochAtStart = 1765300000;
            server = std::make_unique<CDhcpServer>(std::move(c));
            options.boot.other = QStringLiteral("other.bin");
            const DhcpLink link{QStringLiteral("tap0"), QHostAddress(QStringLiteral("203.0.113.1")), 24};
            QString why;
            if (!server->Start(options, link, &why))
                qFatal("start: %s", qPrintable(why));
        }
        QList<FakeDatagram> ask(const QString& packet) {
            QFile f(QStringLiteral(DHCP_DATA "/") + packet + QStringLiteral(".bin"));
            f.open(QIODevice::ReadOnly);
            platform.net.takeSent();
            platform.net.deliver(kServerPort, f.readAll(), QHostAddress(QStringLiteral("0.0.0.0")),
                                 kClientPort);
            return platform.net.takeSent();
        }
        void advance(int ms) { platform.clock().advance(ms); }
        // The server's own DISCOVER, as the link carries it.
        QByteArray probe() {
            for (const FakeDatagram& d : platform.net.sent)
                if (d.peerPort == kServerPort)
                    return d.data;
            return {};
        }
        // Another server's OFFER to that DISCOVER.
        void otherServerAnswers(const QByteArray& discover) {
            QByteArray offer = discover;
            offer[0] = 2;
            Put32(offer, 16, 0xcb00710a);
            offer.truncate(kOptionsAt);
            AddOption(offer, OptMessageType, QByteArray(1, char(OFFER)));
            AddOption(offer, OptServerId, IpBytes(0xcb007109)); // 203.0.113.9
            offer.append(char(OptEnd));
            platform.net.deliver(kClientPort, offer, QHostAddress(QStringLiteral("203.0.113.9")),
                                 kServerPort);
        }
    };

    static Packet readPacket(const QString& name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + name + QStringLiteral(".bin"));
        f.open(QIODevice::ReadOnly);
        const QByteArray b = f.readAll();
        Packet p;
        Parse(b.constData(), b.size(), &p, true);
        return p;
    }
    static Packet reply(const FakeDatagram& d) {
        QByteArray b = d.data;
        b[0] = 1;
        Packet p;
        Parse(b.constData(), b.size(), &p, true);
        return p;
    }

    QTemporaryDir m_dir;
    QString leaseFile() const { return m_dir.filePath(QStringLiteral("dhcp-leases")); }

private slots:
    void init() { QFile::remove(leaseFile()); }

    void asksTheLinkBeforeItsFirstAnswer() {
        Fixture f(leaseFile());
        QCOMPARE(f.server->Status(),
                 QStringLiteral("dhcp on tap0 (203.0.113.1), pool 203.0.113.2-203.0.113.51"));
        QCOMPARE(f.platform.net.boundDevice.value(kServerPort), QStringLiteral("tap0"));
        QCOMPARE(f.platform.net.boundDevice.value(kClientPort), QStringLiteral("tap0"));
        const QByteArray probe = f.probe();
        QVERIFY(!probe.isEmpty());
        Packet p;
        QVERIFY(Parse(probe.constData(), probe.size(), &p));
        QCOMPARE(int(p.messageType), int(DISCOVER));
        // Our own DISCOVER looped back, and a client's while the link is asked: silence.
        f.platform.net.takeSent();
        f.platform.net.deliver(kServerPort, probe, QHostAddress(QStringLiteral("0.0.0.0")), kClientPort);
        QVERIFY(f.ask("udhcpc-discover").isEmpty());
        f.advance(CDhcpServer::kProbeWaitMs);
        QVERIFY(f.server->Answering());
        const QList<FakeDatagram> offer = f.ask("udhcpc-discover");
        QCOMPARE(offer.size(), 1);
        // udhcpc asks for no broadcast: to the address offered, at its MAC on tap0.
        QCOMPARE(offer[0].peer, QHostAddress(QStringLiteral("203.0.113.2")));
        QCOMPARE(offer[0].peerPort, kClientPort);
        QCOMPARE(int(reply(offer[0]).messageType), int(OFFER));
        QCOMPARE(f.platform.arpEntries.size(), 1);
        QCOMPARE(f.platform.arpEntries[0].device, QStringLiteral("tap0"));
        QCOMPARE(f.platform.arpEntries[0].address, 0xcb007102u);
        QCOMPARE(f.platform.arpEntries[0].mac, reply(offer[0]).chaddr.left(6));
        // Without the right to add the ARP entry: broadcast, which it hears all the same.
        f.platform.arpAllowed = false;
        const QList<FakeDatagram> again = f.ask("udhcpc-discover");
        QCOMPARE(again.value(0).peer, QHostAddress(QHostAddress::Broadcast));
        QVERIFY(f.rows.isEmpty() || f.rows.size() == 1);
    }

    // The host name a device gives (option 12) reaches its row, its control bytes written
    // out: a device picks any bytes.
    void rowCarriesTheHostName() {
        Fixture f(leaseFile());
        f.advance(CDhcpServer::kProbeWaitMs);
        QFile file(QStringLiteral(DHCP_DATA "/udhcpc-discover.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray discover = file.readAll();
        const qsizetype end = discover.lastIndexOf(char(255));
        QVERIFY(end >= 240);
        discover.insert(end, QByteArray("\x0c\x0dpr\x1b[31mint\ner", 15));
        f.platform.net.deliver(kServerPort, discover, QHostAddress(QStringLiteral("0.0.0.0")), kClientPort);
        QCOMPARE(f.rows.size(), 1);
        QCOMPARE(f.rows[0].texts.host, QStringLiteral("pr\\x1b[31mint\\ner"));
    }

    // One row per client's exchange: DISCOVERs repeated and the REQUEST on it (resent
    // too), blue;
    // the release, a new exchange, on a row of its own.
    void rowsFollowTheClient() {
        Fixture f(leaseFile());
        f.advance(CDhcpServer::kProbeWaitMs);
        f.ask("udhcpc-discover");
        f.ask("udhcpc-discover");
        f.ask("udhcpc-discover");
        QCOMPARE(f.rows.size(), 1);
        QCOMPARE(f.rows[0].texts.info, QStringLiteral("Offered 203.0.113.2"));
        f.ask("udhcpc-request");
        QCOMPARE(f.rows.size(), 1);
        QCOMPARE(f.rows[0].texts.client, QStringLiteral("02:00:00:00:00:0c (203.0.113.15)"));
        QCOMPARE(f.rows[0].texts.file, QStringLiteral("other.bin"));
        QCOMPARE(f.rows[0].texts.service, QStringLiteral("DHCP"));
        QCOMPARE(f.rows[0].texts.info, QStringLiteral("Leased 203.0.113.15 for 1 h"));
        QCOMPARE(f.rows[0].state, ROW_SENT);
        QCOMPARE(f.rows[0].texts.host, QString()); // udhcpc sends no name
        f.ask("udhcpc-request"); // resent before our ACK reached it: the same exchange
        QCOMPARE(f.rows.size(), 1);
        f.ask("udhcpc-release");
        QCOMPARE(f.rows.size(), 2);
        QCOMPARE(f.rows[1].texts.info, QStringLiteral("Released"));

        // Refused by the client list: red, and nothing sent.
        f.refuseAll = QStringLiteral("Unauthorized Clinet!! Deny This Request!!");
        QVERIFY(f.ask("ipxe-discover").isEmpty());
        QCOMPARE(f.rows.last().state, ROW_FAILED);
        QCOMPARE(f.rows.last().texts.info, f.refuseAll);
    }

    // The details pane gets each answer in full, decoded: the offer, then the lease
    // that ends the exchange, and a refusal's reason with nothing sent.
    void detailsTellTheAnswerInFull() {
        Fixture f(leaseFile());
        f.advance(CDhcpServer::kProbeWaitMs);
        f.ask("udhcpc-discover");
        QCOMPARE(f.details.value(1).size(), 1);
        const RowDetails offer = f.details.value(1).last();
        QVERIFY(!offer.ended);
        QCOMPARE(offer.client, QStringLiteral("02:00:00:00:00:0c"));
        QCOMPARE(offer.ourPort, kServerPort);
        for (const char* line : {"Address given: 203.0.113.2", "Message type (53): OFFER",
                                 "Server identifier (54): 203.0.113.1", "Lease time (51): 3600 s",
                                 "Subnet mask (1): 255.255.255.0"})
            QVERIFY2(offer.offer.contains(QString::fromLatin1(line)), qPrintable(offer.offer.join('|')));
        f.ask("udhcpc-request");
        const RowDetails lease = f.details.value(1).last();
        QVERIFY(lease.ended);
        QVERIFY(lease.offer.contains(QStringLiteral("Message type (53): ACK")));
        QVERIFY(lease.offer.contains(QStringLiteral("Address given: 203.0.113.15")));
        QVERIFY(lease.failure.isEmpty());

        f.refuseAll = QStringLiteral("Unauthorized Clinet!! Deny This Request!!");
        f.ask("ipxe-discover");
        const RowDetails refused = f.details.value(RowHandle(f.rows.size())).last();
        QVERIFY(refused.ended);
        QVERIFY(refused.offer.isEmpty());
        QCOMPARE(refused.failure, f.refuseAll);
    }

    // Decoding what went: every field read from the bytes, anyone's texts without
    // control characters, an unknown or malformed option as its bytes, and a reply cut
    // short read no further than it goes.
    void describeReply_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("addresses") << QByteArray("\x03\x08\xc6\x33\x64\x01\xc6\x33\x64\x02", 10)
                                   << QStringList{"Router (3): 198.51.100.1, 198.51.100.2"};
        QTest::newRow("text cleaned") << QByteArray("\x43\x08" "a\x1b[2Jb\n", 10)
                                      << QStringList{"Boot file (67): a[2Jb"};
        QTest::newRow("unknown as bytes") << QByteArray("\xfa\x02\x01\xff", 4)
                                          << QStringList{"Option (250): 01 ff"};
        QTest::newRow("time of wrong length") << QByteArray("\x33\x02\x0e\x10", 4)
                                              << QStringList{"Lease time (51): 0e 10"};
        QTest::newRow("runs past the end") << QByteArray("\x35\x01\x05\x03\x09\x01", 6)
                                           << QStringList{"Message type (53): ACK"};
        QTest::newRow("pad skipped") << QByteArray("\x00\x00\x3a\x04\x00\x00\x07\x08", 8)
                                     << QStringList{"Renewal time (58): 1800 s"};
    }
    void describeReply() {
        QFETCH(QByteArray, options);
        QFETCH(QStringList, lines);
        Packet fields;
        fields.chaddr = QByteArray(16, '\0');
        QByteArray bytes = StartReply(fields, 0, 0, 0, QByteArray("x\x07y"));
        bytes += options;
        QStringList want{QStringLiteral("File field: xy")};
        want += lines;
        QCOMPARE(DescribeReply(bytes), want);
        QVERIFY(DescribeReply(bytes.left(kOptionsAt - 1)).isEmpty());
    }

    // Between two looks, a sign of another server (a client choosing its offer, its
    // answer to a client heard) brings the next look forward: answered, the server
    // steps back within seconds. A sign alone stops nothing.
    void noticesANewServerWithinSeconds_data() {
        QTest::addColumn<QString>("sign");
        QTest::addColumn<bool>("looks");
        QTest::newRow("a client's REQUEST naming another server") << "request 203.0.113.9" << true;
        QTest::newRow("another server's OFFER to a client") << "offer 203.0.113.9" << true;
        QTest::newRow("a REQUEST naming us") << "request 203.0.113.1" << false;
        QTest::newRow("our own OFFER heard back") << "offer 203.0.113.1" << false;
        QTest::newRow("a relayed REQUEST") << "relayed 203.0.113.9" << false;
        QTest::newRow("a sign right after a look") << "soon 203.0.113.9" << false;
    }
    void noticesANewServerWithinSeconds() {
        QFETCH(QString, sign);
        QFETCH(bool, looks);
        Fixture f(leaseFile());
        f.advance(CDhcpServer::kProbeWaitMs);
        QVERIFY(f.server->Answering());
        if (!sign.startsWith("soon"))
            f.advance(CDhcpServer::kEarlyProbeGapMs);
        f.platform.net.takeSent();
        const quint32 id = ParseAddress(sign.section(' ', 1));
        QFile file(QStringLiteral(DHCP_DATA "/udhcpc-request.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray packet = file.readAll();
        Packet p;
        QVERIFY(Parse(packet.constData(), packet.size(), &p));
        QByteArray built = packet.left(kOptionsAt);
        AddOption(built, OptMessageType, QByteArray(1, char(sign.startsWith("offer") ? OFFER : REQUEST)));
        AddOption(built, OptServerId, IpBytes(id));
        built.append(char(OptEnd));
        if (sign.startsWith("relayed"))
            Put32(built, 24, 0xc6336401);
        if (sign.startsWith("offer")) {
            built[0] = 2;
            f.platform.net.deliver(kClientPort, built, QHostAddress(id), kServerPort);
        } else {
            f.platform.net.deliver(kServerPort, built, QHostAddress(QStringLiteral("0.0.0.0")),
                                   kClientPort);
        }
        const QByteArray probe = f.probe();
        QCOMPARE(!probe.isEmpty(), looks);
        QVERIFY(f.server->Answering()); // a sign is not believed
        if (!looks)
            return;
        f.advance(1000);
        f.otherServerAnswers(probe);
        QVERIFY(!f.server->Answering());
        QVERIFY(f.ask("udhcpc-discover").isEmpty());
    }

    void stepsBackWhileAnotherServerAnswers() {
        Fixture f(leaseFile());
        f.otherServerAnswers(f.probe());
        const QString says = QStringLiteral(
            "Another DHCP server answers on tap0 (203.0.113.9): not handing out addresses");
        QCOMPARE(f.server->Status(), says);
        QCOMPARE(f.statuses, QStringList{says});
        QCOMPARE(f.rows.size(), 1);
        QCOMPARE(f.rows[0].state, ROW_FAILED);
        QCOMPARE(f.rows[0].texts.info, says);
        f.advance(CDhcpServer::kProbeWaitMs);
        QVERIFY(f.ask("udhcpc-discover").isEmpty());

        // A minute on, it asks again; the other server still answers: nothing changes.
        f.platform.net.takeSent();
        f.advance(CDhcpServer::kProbeEveryMs - CDhcpServer::kProbeWaitMs);
        f.otherServerAnswers(f.probe());
        f.advance(CDhcpServer::kProbeWaitMs);
        QCOMPARE(f.rows.size(), 1);
        QVERIFY(f.ask("udhcpc-discover").isEmpty());

        // Then it is gone: the next look finds nobody, and it answers again.
        f.advance(CDhcpServer::kProbeEveryMs);
        QVERIFY(f.server->Answering());
        QCOMPARE(f.server->Status(),
                 QStringLiteral("dhcp on tap0 (203.0.113.1), pool 203.0.113.2-203.0.113.51"));
        QCOMPARE(f.rows.size(), 2);
        QCOMPARE(f.rows[1].state, ROW_SENT);
        QCOMPARE(f.ask("udhcpc-discover").size(), 1);

        // And it steps back at once when another one answers its next look.
        f.platform.net.takeSent();
        f.advance(CDhcpServer::kProbeEveryMs - CDhcpServer::kProbeWaitMs);
        f.otherServerAnswers(f.probe());
        QVERIFY(!f.server->Answering());
        QVERIFY(f.ask("udhcpc-discover").isEmpty());
    }

    // A restart: the same client gets the same address, though others came first.
    void restartKeepsTheAddress() {
        {
            Fixture f(leaseFile());
            f.advance(CDhcpServer::kProbeWaitMs);
            f.ask("ipxe-discover");
            QCOMPARE(reply(f.ask("ipxe-request").value(0)).yiaddr, 0xcb007113u); // .19
        }
        QCOMPARE(ReadLeaseFile(leaseFile()).last().address, 0xcb007113u); // on disk
        Fixture again(leaseFile());
        again.advance(CDhcpServer::kProbeWaitMs);
        again.ask("udhcpc-discover");
        QCOMPARE(reply(again.ask("ipxe-discover").value(0)).yiaddr, 0xcb007113u);
    }

    // With the lease file on a thread of its own: an OFFER and a NAK leave at once, an
    // ACK only once its lease is on disk (told by a message to the engine thread), an
    // ACK repeated for a lease still on its way waits as well, and the ones still
    // waiting when the server stops leave after the writer has finished.
    void ackLeavesOnceOnDisk() {
        const auto acked = [](const QList<FakeDatagram>& sent) {
            QList<quint32> out;
            for (const FakeDatagram& d : sent)
                if (reply(d).messageType == ACK)
                    out.append(reply(d).yiaddr);
            return out;
        };
        const auto onDisk = [this](quint32 address) {
            for (const Lease& l : ReadLeaseFile(leaseFile()))
                if (l.address == address && !l.mac.isEmpty())
                    return true;
            return false;
        };
        auto f = std::make_unique<Fixture>(leaseFile(), DhcpOptions{}, true);
        f->advance(CDhcpServer::kProbeWaitMs);
        QCOMPARE(int(reply(f->ask("ipxe-discover").value(0)).messageType), int(OFFER));
        for (int round = 0; round < 2; ++round) {
            QList<quint32> got = acked(f->ask("ipxe-request"));
            const QList<quint32> repeated = acked(f->ask("ipxe-request")); // resent
            // Whenever an ACK has left, its lease is in the file.
            for (const quint32 a : got + repeated)
                QVERIFY(onDisk(a));
            // Those still waiting leave as the writer tells of its syncs: one sync may
            // carry both, or each its own on a slow machine (five seconds at most each).
            for (int sync = 0; got.size() + repeated.size() < 2 && sync < 4; ++sync) {
                QVERIFY(f->runPosted());
                const QList<quint32> later = acked(f->platform.net.takeSent());
                got += later;
                for (const quint32 a : later)
                    QVERIFY(onDisk(a));
            }
            QCOMPARE(got.size() + repeated.size(), 2);
        }
        // A REQUEST for another client's address: a NAK, at once, and nothing written.
        const qint64 size = QFileInfo(leaseFile()).size();
        QByteArray stranger;
        {
            QFile file(QStringLiteral(DHCP_DATA "/udhcpc-request.bin"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            stranger = file.readAll();
        }
        f->ask("udhcpc-discover");
        // Option 50 asks for the address iPXE holds: .19.
        const qsizetype at = stranger.indexOf(QByteArray("\x32\x04", 2), kOptionsAt);
        QVERIFY(at > 0);
        Put32(stranger, int(at + 2), 0xcb007113);
        f->platform.net.takeSent();
        f->platform.net.deliver(kServerPort, stranger, QHostAddress(QStringLiteral("0.0.0.0")),
                                kClientPort);
        const QList<FakeDatagram> nak = f->platform.net.takeSent();
        QCOMPARE(nak.size(), 1);
        QCOMPARE(int(reply(nak[0]).messageType), int(NAK));
        QCOMPARE(QFileInfo(leaseFile()).size(), size);
        // Stopped with an ACK waiting: it leaves, its lease on disk, before the sockets close.
        f->ask("udhcpc-discover");
        const QList<quint32> now = acked(f->ask("udhcpc-request"));
        f->server.reset();
        const QList<quint32> atStop = now + acked(f->platform.net.takeSent());
        QCOMPARE(atStop.size(), 1);
        QVERIFY(onDisk(atStop[0]));
    }

    // HostsFile lines left out are red rows that say why; an address two lines give is
    // the first line's MAC's alone, and ours is nobody's.
    void hostsFileProblemsAreRows() {
        const QString hostsPath = m_dir.filePath(QStringLiteral("hosts"));
        QFile hosts(hostsPath);
        QVERIFY(hosts.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QByteArray ipxeMac = MacText(readPacket("ipxe-discover").chaddr.left(6)).toLatin1();
        hosts.write("02:00:00:00:00:0c 203.0.113.40\n" + ipxeMac + " 203.0.113.40\n" +
                    "02:00:00:00:00:99 203.0.113.1\n" + "nonsense\n");
        hosts.close();
        DhcpOptions o;
        o.hostsFile = hostsPath;
        Fixture f(leaseFile(), o);
        QCOMPARE(f.server->HostsProblems().size(), 3);
        QCOMPARE(f.rows.size(), 3);
        for (const Row& row : f.rows) {
            QCOMPARE(row.state, ROW_FAILED);
            QCOMPARE(row.texts.file, hostsPath);
        }
        QCOMPARE(f.rows[0].texts.info,
                 QStringLiteral("HostsFile line 2: 203.0.113.40 is line 1's already (line left out)"));
        QCOMPARE(f.rows[1].texts.info, QStringLiteral("HostsFile line 3: 203.0.113.1 is the "
                                                      "server's own address (line left out)"));
        f.advance(CDhcpServer::kProbeWaitMs);
        QCOMPARE(AddressText(reply(f.ask("udhcpc-discover").value(0)).yiaddr),
                 QStringLiteral("203.0.113.40"));
        QCOMPARE(AddressText(reply(f.ask("ipxe-discover").value(0)).yiaddr),
                 QStringLiteral("203.0.113.2"));
    }

    // An exhausted pool is a red row, one for every client it turns away.
    void exhaustedPoolIsARedRow() {
        DhcpOptions o;
        o.poolFirst = o.poolLast = QStringLiteral("203.0.113.19"); // what ipxe-request asks for
        Fixture f(leaseFile(), o);
        f.advance(CDhcpServer::kProbeWaitMs);
        f.ask("ipxe-discover");
        f.ask("ipxe-request"); // leased: the pool stays full
        QVERIFY(f.ask("ovmf-discover").isEmpty());
        QCOMPARE(f.rows.last().state, ROW_FAILED);
        QCOMPARE(f.rows.last().texts.info,
                 QStringLiteral("No free address in the pool 203.0.113.19-203.0.113.19"));
        // More clients, and the first again: the same row, counting clients, not asks.
        const qsizetype rows = f.rows.size();
        f.ask("udhcpc-discover");
        f.ask("ovmf-discover");
        QCOMPARE(f.rows.size(), rows);
        QCOMPARE(f.rows.last().texts.info,
                 QStringLiteral("No free address in the pool 203.0.113.19-203.0.113.19 (2 clients)"));
        QCOMPARE(f.rows.last().texts.client, QStringLiteral("02:00:00:00:00:11"));
        // After a quiet minute, the next refusal is news again.
        f.advance(CDhcpServer::kExhaustedRowMs + 1);
        f.ask("udhcpc-discover");
        QCOMPARE(f.rows.size(), rows + 1);
        QCOMPARE(f.rows.last().state, ROW_FAILED);
    }
};

QTEST_GUILESS_MAIN(TestDhcpServer)
#include "tst_dhcp_server.moc"
