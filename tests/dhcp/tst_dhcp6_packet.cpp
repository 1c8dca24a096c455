#include "engine/bootp/Dhcp6Packet.h"

#include <QFile>
#include <QtTest>

// DHCPv6 messages from real clients (data/: OVMF's PXE over IPv6 and iPXE, captured on a
// tap device beside dnsmasq) and crafted ones: what is read, what is refused, what is
// written back, and which boot client each one is.
class TestDhcp6Packet : public QObject {
    Q_OBJECT

    static QByteArray fixture(const char* name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray opt(quint16 code, const QByteArray& value) {
        QByteArray out;
        out.append(char(code >> 8))
            .append(char(code))
            .append(char(value.size() >> 8))
            .append(char(value.size()));
        return out + value;
    }
    static QByteArray be32(quint32 v) {
        return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
    }
    static QByteArray solicit(const QByteArray& options) {
        return QByteArray::fromHex("01abcdef") + options;
    }
    // Vendor class 16: enterprise 343, one item.
    static QByteArray vendor(const QByteArray& text, quint32 enterprise = 343) {
        return opt(Dhcp6::OptVendorClass,
                   be32(enterprise) + QByteArray::fromHex("00") + char(text.size()) + text);
    }

private slots:
    void realClients_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("mac");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QList<quint16>>("oro");
        QTest::addColumn<QString>("from"); // its link-local address
        QTest::newRow("OVMF PXE over IPv6, DUID-LLT")
            << QByteArray("ovmf-solicit6.bin") << "52:54:00:4e:42:16" << int(Dhcp::ClientKind::Uefi)
            << QList<quint16>{59, 60, 23, 16} << "fe80::1c2a:3b4c:5d6e:7f80";
        QTest::newRow("iPXE, DUID-UUID: the MAC of its EUI-64 link-local address")
            << QByteArray("ipxe-solicit6.bin") << "52:54:00:4e:42:17" << int(Dhcp::ClientKind::Ipxe)
            << QList<quint16>{23, 24, 59, 60} << "fe80::5054:ff:fe4e:4217";
        QTest::newRow("iPXE from another address: none")
            << QByteArray("ipxe-solicit6.bin") << QString() << int(Dhcp::ClientKind::Ipxe)
            << QList<quint16>{23, 24, 59, 60} << "fe80::1c2a:3b4c:5d6e:7f80";
    }
    void realClients() {
        QFETCH(QByteArray, file);
        QFETCH(QString, mac);
        QFETCH(int, kind);
        QFETCH(QList<quint16>, oro);
        QFETCH(QString, from);
        const QByteArray bytes = fixture(file.constData());
        QVERIFY(!bytes.isEmpty());
        Dhcp6::Packet p;
        QVERIFY(Dhcp6::Parse(bytes.constData(), bytes.size(), &p));
        QCOMPARE(p.type, quint8(Dhcp6::SOLICIT));
        QCOMPARE(p.requested(), oro);
        QCOMPARE(Dhcp::MacText(Dhcp6::ClientMac(p, QHostAddress(from))), mac);
        QCOMPARE(int(Dhcp6::Classify(p)), kind);
        QCOMPARE(Dhcp6::ArchOf(p).arch, 7); // both send option 61
        QCOMPARE(Dhcp6::Write(p), bytes);   // read and written back, byte for byte
        Dhcp6::IaNa ia;
        QVERIFY(Dhcp6::ParseIaNa(p.option(Dhcp6::OptIaNa), &ia));
        QVERIFY(ia.addresses.isEmpty());
    }

    // What a hostile or broken sender can put on the wire.
    void crafted_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("read");
        const QByteArray duid = opt(1, QByteArray::fromHex("00030001525400000001"));
        QTest::newRow("whole") << solicit(duid) << true;
        QTest::newRow("three bytes") << QByteArray::fromHex("01abcd") << false;
        QTest::newRow("header only") << solicit({}) << true;
        QTest::newRow("option header cut") << solicit(duid + QByteArray::fromHex("0003")) << false;
        QTest::newRow("length past the end")
            << solicit(QByteArray::fromHex("00010010aabb")) << false;
        QTest::newRow("empty DUID") << solicit(opt(1, {})) << true;
        QTest::newRow("relay-forward") << QByteArray::fromHex("0c00") + QByteArray(32, 0) << false;
        QTest::newRow("type 0") << QByteArray::fromHex("00000000") << false;
        QTest::newRow("advertise") << QByteArray::fromHex("02000001") + duid << true;
    }
    void crafted() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, read);
        Dhcp6::Packet p;
        QCOMPARE(Dhcp6::Parse(bytes.constData(), bytes.size(), &p), read);
        if (read)
            QCOMPARE(Dhcp6::Write(p), bytes);
    }

    void repeatsAreKept() {
        QByteArray options;
        for (int i = 0; i < 20; ++i)
            options += opt(20, QByteArray(1, char(i)));
        options += opt(Dhcp6::OptIaNa, be32(1) + be32(0) + be32(0));
        options += opt(Dhcp6::OptIaNa, be32(2) + be32(0) + be32(0));
        const QByteArray bytes = solicit(options);
        Dhcp6::Packet p;
        QVERIFY(Dhcp6::Parse(bytes.constData(), bytes.size(), &p));
        QCOMPARE(p.xid, quint32(0xabcdef));
        QCOMPARE(p.all(20).size(), 20);
        QCOMPARE(p.option(20), QByteArray(1, '\0'));
        QCOMPARE(p.all(Dhcp6::OptIaNa).size(), 2); // one DUID, two IAIDs
        QVERIFY(!p.has(Dhcp6::OptClientId));
    }

    void iaNa_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("addresses");
        QTest::addColumn<int>("status");
        const QByteArray head = be32(7) + be32(1800) + be32(2880);
        const QByteArray addr =
            QByteArray::fromHex("20010db8005100000000000000001000") + be32(3600) + be32(3600);
        QTest::newRow("no address") << head << true << 0 << -1;
        QTest::newRow("one address") << head + opt(5, addr) << true << 1 << -1;
        QTest::newRow("address and status")
            << head + opt(5, addr) + opt(13, QByteArray::fromHex("0000") + "ok") << true << 1 << 0;
        QTest::newRow("NoAddrsAvail")
            << head + opt(13, QByteArray::fromHex("0002")) << true << 0 << 2;
        QTest::newRow("short head") << head.left(11) << false << 0 << -1;
        QTest::newRow("IAADDR too short") << head + opt(5, addr.left(10)) << false << 0 << -1;
        QTest::newRow("nested past the end") << head + opt(5, addr).left(20) << false << 0 << -1;
    }
    void iaNa() {
        QFETCH(QByteArray, value);
        QFETCH(bool, read);
        QFETCH(int, addresses);
        QFETCH(int, status);
        Dhcp6::IaNa ia;
        QCOMPARE(Dhcp6::ParseIaNa(value, &ia), read);
        if (!read)
            return;
        QCOMPARE(ia.iaid, quint32(7));
        QCOMPARE(ia.addresses.size(), addresses);
        QCOMPARE(ia.status, status);
        if (addresses)
            QCOMPARE(ia.addresses[0].address, QHostAddress(QStringLiteral("2001:db8:51::1000")));
        Dhcp6::IaNa again;
        QVERIFY(Dhcp6::ParseIaNa(Dhcp6::WriteIaNa(ia), &again));
        QCOMPARE(again.addresses.size(), addresses);
        QCOMPARE(again.status, status);
        QCOMPARE(again.t2, quint32(2880));
    }

    // The architecture from 61, else vendor class 16 (enterprise 343), the kind by the
    // rule DHCPv4 uses; user class 15 "iPXE" is iPXE whatever it says besides.
    void kinds_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("arch");
        QTest::addColumn<int>("kind");
        using K = Dhcp::ClientKind;
        QTest::newRow("61 only, x64") << opt(61, QByteArray::fromHex("0007")) << 7 << int(K::Uefi);
        QTest::newRow("61 only, BIOS") << opt(61, QByteArray::fromHex("0000")) << 0 << int(K::Bios);
        QTest::newRow("61 only, ARM64")
            << opt(61, QByteArray::fromHex("000b")) << 11 << int(K::OtherArch);
        QTest::newRow("16 PXEClient x64")
            << vendor("PXEClient:Arch:00007:UNDI:003000") << 7 << int(K::Uefi);
        QTest::newRow("16 PXEClient ARM64")
            << vendor("PXEClient:Arch:00011:UNDI:003000") << 11 << int(K::OtherArch);
        QTest::newRow("16 HTTPClient x64")
            << vendor("HTTPClient:Arch:00016") << 16 << int(K::UefiHttp);
        QTest::newRow("16 HTTPClient ARM64")
            << vendor("HTTPClient:Arch:00019") << 19 << int(K::UefiHttp);
        QTest::newRow("16 unreadable arch")
            << vendor("PXEClient:Arch:x") << Dhcp::kArchUnreadable << int(K::OtherArch);
        QTest::newRow("16 another enterprise")
            << vendor("PXEClient:Arch:00007", 9) << -1 << int(K::NotPxe);
        QTest::newRow("61 before 16")
            << opt(61, QByteArray::fromHex("0009")) + vendor("PXEClient:Arch:00000") << 9
            << int(K::Uefi);
        QTest::newRow("15 iPXE") << opt(15, QByteArray::fromHex("0004") + "iPXE") << -1
                                 << int(K::Ipxe);
        QTest::newRow("15 other") << opt(15, QByteArray::fromHex("0004") + "iPXf") << -1
                                  << int(K::NotPxe);
        QTest::newRow("15 item past the end")
            << opt(15, QByteArray::fromHex("0009") + "iPXE") << -1 << int(K::NotPxe);
        QTest::newRow("none") << QByteArray() << -1 << int(K::NotPxe);
    }
    void kinds() {
        QFETCH(QByteArray, options);
        QFETCH(int, arch);
        QFETCH(int, kind);
        const QByteArray bytes = solicit(options);
        Dhcp6::Packet p;
        QVERIFY(Dhcp6::Parse(bytes.constData(), bytes.size(), &p));
        QCOMPARE(Dhcp6::ArchOf(p).arch, arch);
        QCOMPARE(int(Dhcp6::Classify(p)), kind);
    }

    // The client's MAC: its DUID's, else option 79's, else its EUI-64 link-local
    // address's, else none. Every other DUID or address, cut or not, gives none.
    void clientMacs_data() {
        QTest::addColumn<QByteArray>("duid");
        QTest::addColumn<QByteArray>("lla"); // option 79; empty: not sent
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("mac");
        const QByteArray uuid =
            QByteArray::fromHex("0004") + QByteArray::fromHex("9f1c2a3b4c5d6e7f8091a2b3c4d5e6f7");
        const QByteArray en = QByteArray::fromHex("0002000001370102030405060708");
        const QString eui = QStringLiteral("fe80::5054:ff:fe12:3456");
        const QString random = QStringLiteral("fe80::1c2a:3b4c:5d6e:7f80");
        QTest::newRow("LLT") << QByteArray::fromHex("0001000131f3801d5254004e4216") << QByteArray()
                             << random << "52:54:00:4e:42:16";
        QTest::newRow("LL") << QByteArray::fromHex("000300015254004e4216") << QByteArray()
                            << QString() << "52:54:00:4e:42:16";
        QTest::newRow("LL before option 79 and the address")
            << QByteArray::fromHex("000300015254004e4216")
            << QByteArray::fromHex("0001525400aabbcc") << eui << "52:54:00:4e:42:16";
        QTest::newRow("LL not Ethernet")
            << QByteArray::fromHex("000300205254004e4216") << QByteArray() << random << QString();
        QTest::newRow("LL not Ethernet, EUI-64 address")
            << QByteArray::fromHex("000300205254004e4216") << QByteArray() << eui
            << "52:54:00:12:34:56";
        QTest::newRow("LL cut") << QByteArray::fromHex("000300015254004e42") << QByteArray()
                                << QString() << QString();
        QTest::newRow("LL a byte long") << QByteArray::fromHex("000300015254004e421600")
                                        << QByteArray() << QString() << QString();
        QTest::newRow("LLT cut") << QByteArray::fromHex("0001000131f3801d5254") << QByteArray()
                                 << QString() << QString();
        QTest::newRow("type and hardware only")
            << QByteArray::fromHex("00010001") << QByteArray() << QString() << QString();
        QTest::newRow("LL of a group address") << QByteArray::fromHex("00030001010203040506")
                                               << QByteArray() << QString() << QString();
        QTest::newRow("LL of zeros") << QByteArray::fromHex("00030001000000000000") << QByteArray()
                                     << QString() << QString();
        QTest::newRow("UUID (iPXE, edk2), EUI-64 address")
            << uuid << QByteArray() << eui << "52:54:00:12:34:56";
        QTest::newRow("UUID, random address") << uuid << QByteArray() << random << QString();
        QTest::newRow("UUID, global EUI-64 address")
            << uuid << QByteArray() << "2001:db8::5054:ff:fe12:3456" << QString();
        QTest::newRow("UUID, IPv4 source") << uuid << QByteArray() << "198.51.100.7" << QString();
        QTest::newRow("UUID, EUI-64 of a group address")
            << uuid << QByteArray() << "fe80::0354:ff:fe12:3456" << QString();
        QTest::newRow("UUID, option 79")
            << uuid << QByteArray::fromHex("0001525400aabbcc") << eui << "52:54:00:aa:bb:cc";
        QTest::newRow("UUID, option 79 not Ethernet")
            << uuid << QByteArray::fromHex("0020525400aabbcc") << random << QString();
        QTest::newRow("UUID, option 79 cut")
            << uuid << QByteArray::fromHex("00015254") << eui << "52:54:00:12:34:56";
        QTest::newRow("EN, EUI-64 address") << en << QByteArray() << eui << "52:54:00:12:34:56";
        QTest::newRow("EN alone") << en << QByteArray() << QString() << QString();
        QTest::newRow("no DUID") << QByteArray() << QByteArray() << random << QString();
    }
    void clientMacs() {
        QFETCH(QByteArray, duid);
        QFETCH(QByteArray, lla);
        QFETCH(QString, from);
        QFETCH(QString, mac);
        QByteArray options = duid.isEmpty() ? QByteArray() : opt(Dhcp6::OptClientId, duid);
        if (!lla.isEmpty())
            options += opt(Dhcp6::OptClientLinkLayer, lla);
        const QByteArray bytes = solicit(options);
        Dhcp6::Packet p;
        QVERIFY(Dhcp6::Parse(bytes.constData(), bytes.size(), &p));
        const Dhcp::Mac got = Dhcp6::ClientMac(p, QHostAddress(from));
        QCOMPARE(Dhcp::MacText(got), mac);
        QVERIFY(got.isEmpty() || got.size() == 6);
    }

    // Our own DUID-LL carries our MAC.
    void ourDuid() {
        const QByteArray bytes =
            solicit(opt(Dhcp6::OptClientId, Dhcp6::DuidOf(QByteArray::fromHex("5254004e4216"))));
        Dhcp6::Packet p;
        QVERIFY(Dhcp6::Parse(bytes.constData(), bytes.size(), &p));
        QCOMPARE(Dhcp::MacText(Dhcp6::ClientMac(p, QHostAddress())),
                 QStringLiteral("52:54:00:4e:42:16"));
    }
};

QTEST_GUILESS_MAIN(TestDhcp6Packet)
#include "tst_dhcp6_packet.moc"
