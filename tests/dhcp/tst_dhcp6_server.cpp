#include "engine/dhcp/Dhcp6Server.h"
#include "engine/dhcp/LeaseFile.h"
#include "FakePlatform.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Dhcp6;

// The DHCPv6 service on the fake platform and clock: it looks at the link before it
// answers (its own Solicit and a router solicitation), stands down for another server or
// a router that sends clients elsewhere, advertises our /64 only where no router does,
// answers OVMF's captured Solicit and the Request after it with the boot URL, keeps its
// leases across a restart, and takes hostile messages without harm.
class TestDhcp6Server : public QObject {
    Q_OBJECT

    static constexpr int kTimer = 77, kAdvertTimer = 78;
    static constexpr quint16 kRouter = FakePlatform::kRouterPort;

    struct Fixture {
        FakePlatform platform;
        struct Row {
            RowTexts texts;
            RowState state = ROW_ACTIVE;
        };
        QList<Row> rows;
        QMap<RowHandle, QList<RowDetails>> details;
        int statusChanges = 0;
        std::unique_ptr<CDhcp6Server> server;
        QString why;

        explicit Fixture(const QString& leaseFile, Dhcp6Options options = {},
                         const QString& rawRefusal = {}) {
            platform.routerRefusal = rawRefusal;
            NetInterface tap;
            tap.name = QStringLiteral("tap0");
            tap.up = true;
            tap.mac = QByteArray::fromHex("525400aabbcc");
            tap.addresses = {QHostAddress(QStringLiteral("203.0.113.1")),
                             QHostAddress(QStringLiteral("2001:db8:5::1")),
                             QHostAddress(QStringLiteral("fe80::5054:ff:feaa:bbcc"))};
            tap.prefixLengths = {24, 64, 64};
            platform.fakeInterfaces = {tap};
            platform.timers().onTimeout = [this](int id) {
                if (server && id == kTimer)
                    server->OnTimer();
                if (server && id == kAdvertTimer)
                    server->OnAdvertTimer();
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
            c.leaseFile = leaseFile;
            c.epochAtStart = 1765300000;
            server = std::make_unique<CDhcp6Server>(std::move(c), kAdvertTimer,
                                                    [this] { ++statusChanges; });
            options.boot.uefi = QStringLiteral("grubx64.efi");
            options.boot.other = QStringLiteral("other.bin");
            const DhcpLink link{QStringLiteral("tap0"), QHostAddress(QStringLiteral("203.0.113.1")), 24};
            if (!server->Start(options, link, &why))
                server.reset();
        }
        // What went out from `port` since the last look.
        QList<FakeDatagram> sentFrom(quint16 port) {
            QList<FakeDatagram> out;
            for (qsizetype i = 0; i < platform.net.sent.size(); ++i)
                if (platform.net.sentFrom[i] == port)
                    out.append(platform.net.sent[i]);
            return out;
        }
        QList<FakeDatagram> ask(const QByteArray& message,
                                const QString& from = QStringLiteral("fe80::5054:ff:fe12:3456")) {
            platform.net.takeSent();
            platform.net.sentFrom.clear();
            platform.net.deliver(kServerPort, message, QHostAddress(from), kClientPort);
            return platform.net.takeSent();
        }
        Packet probe() {
            for (qsizetype i = 0; i < platform.net.sent.size(); ++i)
                if (platform.net.sentFrom[i] == kClientPort) {
                    Packet p;
                    const QByteArray& d = platform.net.sent[i].data;
                    Parse(d.constData(), d.size(), &p);
                    return p;
                }
            return {};
        }
        void advance(int ms) { platform.clock().advance(ms); }
        int adverts() {
            int n = 0;
            for (qsizetype i = 0; i < platform.net.sent.size(); ++i) {
                Nd::RouterAdvert ra;
                const QByteArray& d = platform.net.sent[i].data;
                n += platform.net.sentFrom[i] == kRouter && Nd::ParseAdvert(d.constData(), d.size(), &ra);
            }
            return n;
        }
    };

    static QByteArray captured(const char* name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + QLatin1String(name));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("no capture %s", name);
        return f.readAll();
    }
    static Packet parsed(const QByteArray& bytes) {
        Packet p;
        Parse(bytes.constData(), bytes.size(), &p);
        return p;
    }
    // The Request a client makes of an Advertise.
    static QByteArray requestFor(const QByteArray& solicit, const QByteArray& advertise) {
        Packet p = parsed(solicit), a = parsed(advertise);
        p.type = REQUEST;
        p.xid += 1;
        p.options.removeIf([](const auto& o) { return o.first == OptIaNa; });
        p.options.append({OptServerId, a.option(OptServerId)});
        p.options.append({OptIaNa, a.option(OptIaNa)});
        return Write(p);
    }
    static QHostAddress given(const QByteArray& reply) {
        IaNa ia;
        if (!ParseIaNa(parsed(reply).option(OptIaNa), &ia) || ia.addresses.isEmpty())
            return {};
        return ia.addresses.first().address;
    }
    // Another DHCPv6 server's Advertise to our look.
    static QByteArray otherAdvertise(const Packet& probe) {
        Packet a;
        a.type = ADVERTISE;
        a.xid = probe.xid;
        a.options = {{OptServerId, QByteArray::fromHex("00030001020000000099")},
                     {OptClientId, probe.option(OptClientId)}};
        return Write(a);
    }

private slots:
    // The whole exchange: looked at the link first, then an Advertise and a Reply to the
    // client's link-local address with option 59, a row, the lease kept across a restart.
    void solicitRequestAndRestart() {
        QTemporaryDir dir;
        const QString leases = dir.filePath(QStringLiteral("dhcp6-leases"));
        QByteArray leased;
        {
            Fixture f(leases);
            QVERIFY2(f.server, qPrintable(f.why));
            const Packet look = f.probe();
            QCOMPARE(look.type, quint8(SOLICIT));
            QCOMPARE(f.platform.joinedGroups.value(kServerPort), QHostAddress(QStringLiteral("ff02::1:2")));
            QCOMPARE(f.platform.net.boundDevice.value(kServerPort), QStringLiteral("tap0"));
            QVERIFY(f.ask(captured("ovmf-solicit6.bin")).isEmpty()); // not before the look ends
            f.advance(CDhcp6Server::kProbeWaitMs);
            QVERIFY(f.server->Answering());
            QVERIFY(f.server->Status().startsWith(QStringLiteral("dhcpv6 on tap0 (2001:db8:5::1), pool 2001:db8:5::1000-2001:db8:5::10ff")));

            const QByteArray solicit = captured("ovmf-solicit6.bin");
            const QList<FakeDatagram> adv = f.ask(solicit);
            QCOMPARE(adv.size(), 1);
            QCOMPARE(adv[0].peerPort, kClientPort);
            QCOMPARE(adv[0].peer.scopeId(), QStringLiteral("tap0"));
            QCOMPARE(parsed(adv[0].data).type, quint8(ADVERTISE));
            QCOMPARE(given(adv[0].data), QHostAddress(QStringLiteral("2001:db8:5::1000")));
            QCOMPARE(parsed(adv[0].data).option(OptBootFileUrl),
                     QByteArray("tftp://[2001:db8:5::1]/grubx64.efi"));

            const QList<FakeDatagram> rep = f.ask(requestFor(solicit, adv[0].data));
            QCOMPARE(rep.size(), 1);
            QCOMPARE(parsed(rep[0].data).type, quint8(REPLY));
            QCOMPARE(given(rep[0].data), QHostAddress(QStringLiteral("2001:db8:5::1000")));
            const auto& row = f.rows.last();
            QCOMPARE(row.texts.service, QStringLiteral("DHCPv6"));
            QVERIFY2(row.texts.info.startsWith(QStringLiteral("Leased 2001:db8:5::1000")),
                     qPrintable(row.texts.info));
            QCOMPARE(row.state, ROW_SENT);
            QCOMPARE(f.rows.size(), 1); // one exchange, one row
            QVERIFY(f.details.last().last().ended);
            leased = rep[0].data;
        }
        QCOMPARE(Dhcp::ReadLeaseFile(leases).size(), 1);
        Fixture again(leases);
        again.advance(CDhcp6Server::kProbeWaitMs);
        // Another client first: the pool's first address stays the first client's.
        Packet other = parsed(captured("ovmf-solicit6.bin"));
        other.options.removeIf([](const auto& o) { return o.first == OptClientId; });
        other.options.append({OptClientId, QByteArray::fromHex("00030001020000000077")});
        const QList<FakeDatagram> toOther = again.ask(Write(other), QStringLiteral("fe80::77"));
        QCOMPARE(toOther.size(), 1);
        QCOMPARE(given(toOther[0].data), QHostAddress(QStringLiteral("2001:db8:5::1001")));
        const QList<FakeDatagram> back = again.ask(captured("ovmf-solicit6.bin"));
        QCOMPARE(back.size(), 1);
        QCOMPARE(given(back[0].data), given(leased));
    }

    // The rogue guard, from what the link says during a look.
    void guard_data() {
        QTest::addColumn<QString>("heard");
        QTest::addColumn<bool>("raOn");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<int>("ourAdverts"); // within the first ten seconds
        QTest::addColumn<QString>("status");
        QTest::newRow("quiet link") << "" << true << true << 3 << "dhcpv6 on tap0";
        QTest::newRow("quiet, adverts off") << "" << false << true << 0 << "dhcpv6 on tap0";
        QTest::newRow("another server") << "server" << true << false << 0
                                        << "Another DHCPv6 server (fe80::99) answers on tap0";
        QTest::newRow("router sends clients to DHCPv6") << "ra-managed" << true << false << 0
                                                       << "A router (fe80::1) on tap0 sends clients";
        QTest::newRow("router without M") << "ra" << true << true << 0
                                          << "A router (fe80::1) on tap0 does not send clients";
        QTest::newRow("our own RA back") << "ra-ours" << true << true << 3 << "dhcpv6 on tap0";
    }
    void guard() {
        QFETCH(QString, heard);
        QFETCH(bool, raOn);
        QFETCH(bool, answers);
        QFETCH(int, ourAdverts);
        QFETCH(QString, status);
        QTemporaryDir dir;
        Dhcp6Options options;
        options.routerAdverts = raOn;
        Fixture f(dir.filePath(QStringLiteral("l")), options);
        QVERIFY(f.server);
        Nd::RouterAdvert ra = Nd::OurAdvert(QByteArray::fromHex("020000000001"),
                                            QHostAddress(QStringLiteral("2001:db8:5::")));
        ra.managed = heard == QLatin1String("ra-managed");
        ra.routerLifetime = 1800;
        const QString router = heard == QLatin1String("ra-ours") ? QStringLiteral("fe80::5054:ff:feaa:bbcc")
                                                                 : QStringLiteral("fe80::1");
        if (heard == QLatin1String("server"))
            f.platform.net.deliver(kClientPort, otherAdvertise(f.probe()),
                                   QHostAddress(QStringLiteral("fe80::99")), kServerPort);
        else if (heard.startsWith(QLatin1String("ra")))
            f.platform.net.deliver(kRouter, Nd::Write(ra), QHostAddress(router), 0);
        f.advance(10000);
        QCOMPARE(f.server->Answering(), answers);
        QCOMPARE(f.adverts(), ourAdverts);
        QVERIFY2(f.server->Status().startsWith(status), qPrintable(f.server->Status()));
        QCOMPARE(f.ask(captured("ovmf-solicit6.bin")).size(), answers ? 1 : 0);
        if (!answers) {
            QCOMPARE(f.rows.size(), 1); // the row that says why
            QCOMPARE(f.rows[0].state, ROW_FAILED);
            QCOMPARE(f.rows[0].texts.service, QStringLiteral("DHCPv6"));
        }
        // The next look hears nobody: it hands out addresses again and says so.
        f.advance(CDhcp6Server::kProbeEveryMs);
        QVERIFY(f.server->Answering());
        if (!answers)
            QVERIFY(f.rows.last().texts.info.startsWith(QStringLiteral("No other DHCPv6 server")));
    }

    // Our advertisements: three quick ones, then every few minutes, one in answer to a
    // solicitation (not two in a row); none once a managed router appears.
    void adverts() {
        QTemporaryDir dir;
        Fixture f(dir.filePath(QStringLiteral("l")));
        f.advance(CDhcp6Server::kProbeWaitMs + 2 * CDhcp6Server::kFirstAdvertGapMs);
        QCOMPARE(f.adverts(), 3);
        Nd::RouterAdvert ours;
        const QByteArray& last = f.platform.net.sent.last().data;
        QVERIFY(Nd::ParseAdvert(last.constData(), last.size(), &ours));
        QVERIFY(ours.managed && ours.other);
        QCOMPARE(ours.routerLifetime, quint16(0));
        QCOMPARE(ours.prefixes.size(), 1);
        QCOMPARE(ours.prefixes[0].prefix, QHostAddress(QStringLiteral("2001:db8:5::")));
        QVERIFY(!ours.prefixes[0].autonomous);
        QCOMPARE(f.platform.net.sent.last().peer, QHostAddress(QStringLiteral("ff02::1%tap0")));
        f.advance(CDhcp6Server::kMinAdvertGapMs);
        const QByteArray rs("\x85\0\0\0\0\0\0\0", 8);
        f.platform.net.deliver(kRouter, rs, QHostAddress(QStringLiteral("fe80::42")), 0);
        f.platform.net.deliver(kRouter, rs, QHostAddress(QStringLiteral("fe80::43")), 0);
        QCOMPARE(f.adverts(), 4);
        f.advance(CDhcp6Server::kAdvertEveryMs);
        QCOMPARE(f.adverts(), 5);
        Nd::RouterAdvert managed = Nd::OurAdvert(QByteArray(), QHostAddress(QStringLiteral("2001:db8:5::")));
        f.platform.net.deliver(kRouter, Nd::Write(managed), QHostAddress(QStringLiteral("fe80::1")), 0);
        f.advance(CDhcp6Server::kProbeWaitMs); // a router newly heard brings the look forward
        QVERIFY(!f.server->Answering());
        QVERIFY(!f.server->Advertising());
        f.advance(CDhcp6Server::kProbeEveryMs / 2);
        QCOMPARE(f.adverts(), 5);
        f.platform.net.deliver(kRouter, rs, QHostAddress(QStringLiteral("fe80::42")), 0);
        QCOMPARE(f.adverts(), 5); // a solicitation is no router's business of ours now
    }

    // Without CAP_NET_RAW it answers all the same and says why it does not advertise; a
    // link without a global /64 or a pool outside it does not start.
    void startProblems_data() {
        QTest::addColumn<QString>("rawRefusal");
        QTest::addColumn<QString>("poolFirst");
        QTest::addColumn<QString>("expected"); // status, or the reason it did not start
        QTest::newRow("no raw socket") << "Router advertisements need CAP_NET_RAW" << ""
                                       << "no router advertisements: Router advertisements need CAP_NET_RAW";
        QTest::newRow("pool elsewhere") << "" << "2001:db8:6::10" << "Pool6First 2001:db8:6::10 is not in 2001:db8:5::/64";
        QTest::newRow("pool of words") << ""
                                       << "\x1b[2Jpool"
                                       << "is not an IPv6 address";
        QTest::newRow("pool past the end") << "" << "2001:db8:5::ffff:ffff:ffff:ff80" << "runs past the end";
    }
    void startProblems() {
        QFETCH(QString, rawRefusal);
        QFETCH(QString, poolFirst);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        Dhcp6Options options;
        options.poolFirst = poolFirst;
        Fixture f(dir.filePath(QStringLiteral("l")), options, rawRefusal);
        const QString said = f.server ? (f.advance(CDhcp6Server::kProbeWaitMs), f.server->Status()) : f.why;
        QVERIFY2(said.contains(expected), qPrintable(said));
        QVERIFY(!said.contains(QChar(0x1b)));
        if (f.server) {
            QVERIFY(f.server->Answering());
            QCOMPARE(f.ask(captured("ipxe-solicit6.bin")).size(), 1);
        }
    }

    // Hostile messages: nothing answered that should not be, no row with control
    // characters, and the server goes on answering.
    void hostile_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("answered");
        const QByteArray solicit = captured("ovmf-solicit6.bin");
        Packet p = parsed(solicit);
        QTest::newRow("truncated") << solicit.left(solicit.size() - 3) << "fe80::5" << false;
        QTest::newRow("header only") << solicit.left(4) << "fe80::5" << false;
        Packet huge = p;
        huge.options.removeIf([](const auto& o) { return o.first == OptClientId; });
        huge.options.prepend({OptClientId, QByteArray(4000, 'D')});
        QTest::newRow("huge DUID") << Write(huge) << "fe80::5" << false;
        Packet noisy = p;
        noisy.options.removeIf([](const auto& o) { return o.first == OptVendorClass || o.first == OptUserClass; });
        noisy.options.append({OptVendorClass, QByteArray::fromHex("00000157001a") + "PXEClient\x1b[31m\r\n\x07bad!!!!!!"});
        noisy.options.append({OptUserClass, QByteArray::fromHex("000a") + "iPXE\x1b]0;x\x07"});
        QTest::newRow("control characters") << Write(noisy) << "fe80::5" << true;
        Packet relay = p;
        relay.type = RELAY_FORW;
        QTest::newRow("relay") << Write(relay) << "fe80::5" << false;
        Packet reconf = p;
        reconf.type = RECONFIGURE;
        QTest::newRow("reconfigure") << Write(reconf) << "fe80::5" << false;
        QTest::newRow("from a global address") << solicit << "2001:db8:5::77" << false;
        Packet brokenIa = p;
        brokenIa.options.append({OptIaNa, QByteArray(5, '\xff')});
        QTest::newRow("broken IA beside a good one") << Write(brokenIa) << "fe80::5" << true;
    }
    void hostile() {
        QFETCH(QByteArray, message);
        QFETCH(QString, from);
        QFETCH(bool, answered);
        QTemporaryDir dir;
        Fixture f(dir.filePath(QStringLiteral("l")));
        f.advance(CDhcp6Server::kProbeWaitMs);
        QCOMPARE(f.ask(message, from).size(), answered ? 1 : 0);
        for (const auto& row : f.rows)
            for (const QString& t : {row.texts.client, row.texts.file, row.texts.info})
                for (QChar c : t)
                    QVERIFY2(c.isPrint(), qPrintable(t));
        QCOMPARE(f.ask(captured("ipxe-solicit6.bin")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDhcp6Server)
#include "tst_dhcp6_server.moc"
