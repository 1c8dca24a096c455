#include "engine/bootp/NdPacket.h"
#include "engine/dhcp/Dhcp6Answer.h"

#include <QFile>
#include <QtTest>

// Router advertisements as we send and hear them (data/dnsmasq-ra.bin: dnsmasq's, with
// --enable-ra, on the link OVMF booted from), and the rogue guard as a table of what was
// heard on the link and what our DHCPv6 server then does.
class TestNd : public QObject {
    Q_OBJECT

private slots:
    void ourAdvert() {
        const QByteArray mac = QByteArray::fromHex("020000000001");
        const QByteArray bytes =
            Nd::Write(Nd::OurAdvert(mac, QHostAddress(QStringLiteral("2001:db8:51::"))));
        // type, code, checksum (the kernel's), hop limit 64, M and O, router lifetime 0,
        // no timers; SLLA; PIO /64, L without A, valid 3600, preferred 1800.
        QCOMPARE(bytes.toHex(), QByteArray("86000000"
                                           "40c00000"
                                           "0000000000000000"
                                           "0101020000000001"
                                           "0304408000000e1000000708000000"
                                           "0020010db8005100000000000000000000"));
        Nd::RouterAdvert back;
        QVERIFY(Nd::ParseAdvert(bytes.constData(), bytes.size(), &back));
        QVERIFY(back.managed && back.other);
        QCOMPARE(back.routerLifetime, quint16(0));
        QCOMPARE(back.sourceMac, mac);
        QCOMPARE(back.prefixes.size(), 1);
        QCOMPARE(back.prefixes[0].prefix, QHostAddress(QStringLiteral("2001:db8:51::")));
        QVERIFY(back.prefixes[0].onLink && !back.prefixes[0].autonomous);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("read");
        QTest::addColumn<bool>("managed");
        QTest::addColumn<int>("lifetime");
        QTest::addColumn<int>("prefixes");
        QFile f(QStringLiteral(DHCP_DATA "/dnsmasq-ra.bin"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray dnsmasq = f.readAll();
        const QByteArray head = QByteArray::fromHex("8600000040800000"
                                                    "0000000000000000");
        QTest::newRow("dnsmasq's") << dnsmasq << true << true << 1800 << 1;
        QTest::newRow("no options, M only") << head << true << true << 0 << 0;
        QTest::newRow("short") << head.left(15) << false << false << 0 << 0;
        QTest::newRow("a solicitation")
            << QByteArray::fromHex("8500000000000000") << false << false << 0 << 0;
        QTest::newRow("code 1") << QByteArray::fromHex("8601") + head.mid(2) << false << false << 0
                                << 0;
        QTest::newRow("option of length 0")
            << head + QByteArray::fromHex("0100") << false << false << 0 << 0;
        QTest::newRow("option past the end")
            << head + QByteArray::fromHex("0302400000") << false << false << 0 << 0;
        QTest::newRow("unknown option skipped")
            << head + QByteArray::fromHex("1f01000000000000") << true << true << 0 << 0;
    }
    void parse() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, read);
        QFETCH(bool, managed);
        QFETCH(int, lifetime);
        QFETCH(int, prefixes);
        Nd::RouterAdvert ra;
        QCOMPARE(Nd::ParseAdvert(bytes.constData(), bytes.size(), &ra), read);
        if (!read)
            return;
        QCOMPARE(ra.managed, managed);
        QCOMPARE(int(ra.routerLifetime), lifetime);
        QCOMPARE(ra.prefixes.size(), prefixes);
    }

    void solicitations() {
        QVERIFY(Nd::IsRouterSolicit("\x85\0\0\0\0\0\0\0", 8));
        QVERIFY(!Nd::IsRouterSolicit("\x85\0\0\0", 4));
        QVERIFY(!Nd::IsRouterSolicit("\x86\0\0\0\0\0\0\0", 8));
    }

    // What was heard -> whether we answer, whether we send RAs, what the status says.
    void guard_data() {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("sendRa");
        QTest::addColumn<QString>("status");
        QTest::newRow("nothing") << QStringList{} << true << true << QString();
        QTest::newRow("our own RA echoed") << QStringList{"ra-ours"} << true << true << QString();
        QTest::newRow("our own Advertise echoed")
            << QStringList{"advertise-ours"} << true << true << QString();
        QTest::newRow("RA with M=1")
            << QStringList{"ra-managed"} << false << false
            << "A router (fe80::2) on br0 sends clients to another DHCPv6 server: not handing "
               "out addresses";
        QTest::newRow("RA without M")
            << QStringList{"ra-plain"} << true << false
            << "A router (fe80::2) on br0 does not send clients to DHCPv6: only firmware that "
               "asks by itself (UEFI PXE) is answered";
        QTest::newRow("another Advertise")
            << QStringList{"advertise-other"} << false << false
            << "Another DHCPv6 server (fe80::3) answers on br0: not handing out addresses";
        QTest::newRow("another server beats a plain router")
            << QStringList{"ra-plain", "advertise-other"} << false << false
            << "Another DHCPv6 server (fe80::3) answers on br0: not handing out addresses";
        QTest::newRow("a client's Solicit is no server")
            << QStringList{"solicit"} << true << true << QString();
    }
    void guard() {
        QFETCH(QStringList, events);
        QFETCH(bool, answer);
        QFETCH(bool, sendRa);
        QFETCH(QString, status);
        const QByteArray ourDuid = Dhcp6::DuidOf(QByteArray::fromHex("020000000001"));
        const QHostAddress ours(QStringLiteral("fe80::1")), router(QStringLiteral("fe80::2")),
            other(QStringLiteral("fe80::3"));
        Dhcp6::Heard heard;
        for (const QString& e : events) {
            if (e.startsWith(QLatin1String("ra-"))) {
                Nd::RouterAdvert ra;
                ra.managed = e != QLatin1String("ra-plain");
                Dhcp6::Hear(heard, ra, e == QLatin1String("ra-ours") ? ours : router,
                            {ours, QHostAddress(QStringLiteral("2001:db8:51::1"))});
            } else {
                Dhcp6::Packet p;
                p.type = e == QLatin1String("solicit") ? Dhcp6::SOLICIT : Dhcp6::ADVERTISE;
                p.options.append({Dhcp6::OptServerId, e == QLatin1String("advertise-ours")
                                                          ? ourDuid
                                                          : QByteArray::fromHex("00030001aa")});
                Dhcp6::Hear(heard, p, ourDuid, e == QLatin1String("advertise-ours") ? ours : other);
            }
        }
        const Dhcp6::Stance s = Dhcp6::Guard(heard, QStringLiteral("br0"), true);
        QCOMPARE(s.answer, answer);
        QCOMPARE(s.sendRa, sendRa);
        QCOMPARE(s.status, status);
        QVERIFY(!Dhcp6::Guard(heard, QStringLiteral("br0"), false).sendRa);
    }
};

QTEST_GUILESS_MAIN(TestNd)
#include "tst_nd.moc"
