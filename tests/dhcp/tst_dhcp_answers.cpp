#include "engine/dhcp/DhcpAnswer.h"
#include "engine/dhcp/LeaseFile.h"

#include <QFile>
#include <QtTest>

using namespace Dhcp;

// The answers to real clients' packets (captured by data/capture.sh: busybox udhcpc,
// klibc's BOOTP, dnsmasq's dhcp_release, iPXE and OVMF under QEMU), then to packets
// made from those by changing one value.
class TestDhcpAnswers : public QObject {
    Q_OBJECT

    static quint32 ip(const char* text) { return ParseAddress(QString::fromLatin1(text)); }

    static ServerConfig config() {
        ServerConfig c;
        c.server = ip("203.0.113.1");
        c.netmask = ip("255.255.255.0");
        c.routers = {ip("203.0.113.254")};
        c.dns = {ip("203.0.113.53"), ip("203.0.113.54")};
        c.leaseSeconds = 3600;
        c.boot.bios = QStringLiteral("undionly.kpxe");
        c.boot.uefi = QStringLiteral("snponly.efi");
        c.boot.ipxe = QStringLiteral("boot.ipxe");
        c.boot.other = QStringLiteral("other.bin");
        return c;
    }
    static CLeaseTable table(bool onlyKnown = false) {
        return CLeaseTable(ip("203.0.113.2"), ip("203.0.113.100"),
                           {{ParseMac(QStringLiteral("02:00:00:00:00:0e")), ip("203.0.113.150"),
                             QStringLiteral("own.bin")}},
                           onlyKnown);
    }

    static Packet golden(const QString& name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + name + QStringLiteral(".bin"));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("missing golden packet %s", qPrintable(name));
        const QByteArray bytes = f.readAll();
        Packet p;
        if (!Parse(bytes.constData(), bytes.size(), &p, true))
            qFatal("golden packet %s does not parse", qPrintable(name));
        return p;
    }
    // A reply read back: its op turned round, it parses as a request does.
    static Packet readReply(const QByteArray& bytes) {
        QByteArray b = bytes;
        b[0] = 1;
        Packet p;
        if (!Parse(b.constData(), b.size(), &p, true))
            qWarning("reply does not parse");
        return p;
    }
    static QByteArray fileField(const QByteArray& reply) {
        const QByteArray f = reply.mid(108, kFileSize);
        return f.left(f.indexOf('\0'));
    }

private slots:
    // One lease table through a run of real clients' packets, each answer checked.
    void realClients_data() {
        QTest::addColumn<QStringList>("packets");
        QTest::addColumn<QList<int>>("replyTypes");   // -1 nothing sent, 0 a BOOTP reply
        QTest::addColumn<QStringList>("infos");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("udhcpc: lease, release; dhcp_release of a lease it does not hold")
            << QStringList{"udhcpc-discover", "udhcpc-request", "udhcpc-release", "dhcp_release-release"}
            << QList<int>{OFFER, ACK, -1, -1}
            << QStringList{"Offered 203.0.113.2", "Leased 203.0.113.15 for 1 h", "Released", ""}
            << QStringList{"other.bin", "other.bin", "", ""};
        QTest::newRow("udhcpc finds its address in use: declined, another offered")
            << QStringList{"udhcpc-declining-request", "udhcpc-declining-decline",
                           "udhcpc-declining-discover", "udhcpc-declining-request"}
            << QList<int>{ACK, -1, OFFER, NAK}
            << QStringList{"Leased 203.0.113.77 for 1 h",
                           "Declined 203.0.113.77: in use by another machine, not given for 10 min",
                           "Offered 203.0.113.2", "NAK: 203.0.113.77 is not this client's"}
            << QStringList{"other.bin", "", "other.bin", ""};
        QTest::newRow("firmware by kind: iPXE, UEFI PXE; BOOTP from a HostsFile host")
            << QStringList{"ipxe-discover", "ovmf-discover", "klibc-bootp"}
            << QList<int>{OFFER, OFFER, 0}
            << QStringList{"Offered 203.0.113.2", "Offered 203.0.113.3", "BOOTP 203.0.113.150"}
            << QStringList{"boot.ipxe", "snponly.efi", "own.bin"};
    }
    void realClients() {
        QFETCH(QStringList, packets);
        QFETCH(QList<int>, replyTypes);
        QFETCH(QStringList, infos);
        QFETCH(QStringList, files);
        CLeaseTable leases = table();
        const ServerConfig c = config();
        for (int i = 0; i < packets.size(); ++i) {
            const Packet request = golden(packets[i]);
            const Reply r = Answer(request, c, leases, 1000 + i);
            QCOMPARE(r.info, infos[i]);
            QCOMPARE(r.bootFile, files[i]);
            if (replyTypes[i] < 0) {
                QVERIFY2(r.bytes.isEmpty(), qPrintable(packets[i]));
                continue;
            }
            const Packet reply = readReply(r.bytes);
            QCOMPARE(int(reply.messageType), replyTypes[i]);
            QCOMPARE(reply.xid, request.xid);
            QCOMPARE(reply.chaddr, request.chaddr);
            QVERIFY(r.bytes.size() >= 300);
            if (replyTypes[i] == NAK) {
                QCOMPARE(reply.yiaddr, 0u);
                QCOMPARE(r.to, 0xffffffffu);
                QVERIFY(r.refused);
                continue;
            }
            QCOMPARE(AddressText(reply.yiaddr), infos[i].section(' ', 1, 1));
            QCOMPARE(fileField(r.bytes), files[i].toUtf8());
            QCOMPARE(reply.siaddr, c.server);
            QVERIFY(!r.refused);
        }
    }

    // With the menu on, an iPXE client's file comes from the menu writer's listing by its
    // MAC; other kinds keep theirs.
    void ipxeFileByMac() {
        CLeaseTable leases = table();
        ServerConfig c = config();
        c.boot.menu = true;
        QStringList listing{QStringLiteral("menu-generated.ipxe")};
        c.menuListing = [&listing] { return listing; };
        QCOMPARE(Answer(golden("ipxe-discover"), c, leases, 0).bootFile,
                 QStringLiteral("menu-generated.ipxe"));
        listing << golden("ipxe-discover").macText().replace(QLatin1Char(':'), QLatin1Char('-'))
                       .prepend(QLatin1String("boot-")).append(QLatin1String(".ipxe"));
        QCOMPARE(Answer(golden("ipxe-discover"), c, leases, 0).bootFile, listing.last());
        QCOMPARE(Answer(golden("ovmf-discover"), c, leases, 0).bootFile, QStringLiteral("snponly.efi"));
    }

    // Every option the issue names, in an ACK, a BOOTP reply and an INFORM's ACK.
    void optionsOfEachReply() {
        CLeaseTable leases = table();
        const ServerConfig c = config();
        Answer(golden("udhcpc-discover"), c, leases, 0);
        const Reply ack = Answer(golden("udhcpc-request"), c, leases, 0);
        const Packet p = readReply(ack.bytes);
        QCOMPARE(p.option(1), IpBytes(ip("255.255.255.0")));
        QCOMPARE(p.option(3), IpBytes(ip("203.0.113.254")));
        QCOMPARE(p.option(6), IpBytes(ip("203.0.113.53")) + IpBytes(ip("203.0.113.54")));
        QCOMPARE(p.option(28), IpBytes(ip("203.0.113.255")));
        QCOMPARE(p.option(51), IpBytes(3600));
        QCOMPARE(p.option(54), IpBytes(c.server));
        QCOMPARE(p.option(58), IpBytes(1800));
        QCOMPARE(p.option(59), IpBytes(3150));
        QCOMPARE(p.option(66), QByteArray("203.0.113.1"));
        QCOMPARE(p.option(67), QByteArray("other.bin"));
        QCOMPARE(AddressText(ack.to), QStringLiteral("203.0.113.15")); // not taken yet: at its MAC
        QCOMPARE(ack.toMac, golden("udhcpc-request").chaddr.left(6));

        // BOOTP: the network, no DHCP options.
        const Reply bootp = Answer(golden("klibc-bootp"), c, leases, 0);
        const Packet b = readReply(bootp.bytes);
        QCOMPARE(int(b.messageType), 0);
        for (int code : {51, 53, 54, 58, 59})
            QVERIFY2(!b.has(quint8(code)), qPrintable(QString::number(code)));
        QCOMPARE(b.option(1), IpBytes(ip("255.255.255.0")));
        QCOMPARE(b.option(66), QByteArray("203.0.113.1"));

        // INFORM: a client with an address of its own; no address, no lease, to it.
        Packet inform = golden("udhcpc-request");
        inform.messageType = INFORM;
        inform.ciaddr = ip("203.0.113.200");
        inform.options.remove(50);
        inform.options.remove(54);
        const Reply i = Answer(inform, c, leases, 0);
        const Packet ip_ = readReply(i.bytes);
        QCOMPARE(int(ip_.messageType), int(ACK));
        QCOMPARE(ip_.yiaddr, 0u);
        QVERIFY(!ip_.has(51));
        QCOMPARE(ip_.option(3), IpBytes(ip("203.0.113.254")));
        QCOMPARE(i.to, inform.ciaddr);
        QCOMPARE(i.info, QStringLiteral("Informed 203.0.113.200"));
    }

    // Changed one value at a time from udhcpc's REQUEST: who gets an answer, and where.
    void requestVariants_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("replyType"); // -1: silence
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("to");
        QTest::newRow("another server chosen") << "server 203.0.113.9" << -1 << "" << "";
        QTest::newRow("init-reboot, another network")
            << "reboot 10.0.0.5" << int(NAK) << "NAK: 10.0.0.5 is not on this network" << "255.255.255.255";
        // No record of the client: another server's, which alone may confirm it.
        QTest::newRow("init-reboot, a client never seen") << "reboot 203.0.113.40" << -1 << "" << "";
        // Not taken yet and no broadcast asked for: to the address given, at its MAC (RFC
        // 2131 4.1); asked for, broadcast.
        QTest::newRow("init-reboot, its own address") << "known reboot 203.0.113.2" << int(ACK)
            << "Leased 203.0.113.2 for 1 h" << "203.0.113.2 at its MAC";
        QTest::newRow("init-reboot, broadcast asked for") << "known flag reboot 203.0.113.2"
            << int(ACK) << "Leased 203.0.113.2 for 1 h" << "255.255.255.255";
        QTest::newRow("selecting") << "as sent" << int(ACK) << "Leased 203.0.113.15 for 1 h"
                                   << "203.0.113.15 at its MAC";
        QTest::newRow("selecting, broadcast asked for") << "flag as sent" << int(ACK)
            << "Leased 203.0.113.15 for 1 h" << "255.255.255.255";
        QTest::newRow("renewing, broadcast asked for: still to its own address")
            << "flag renew 203.0.113.41" << int(ACK) << "Leased 203.0.113.41 for 1 h" << "203.0.113.41";

        QTest::newRow("renewing: to its own address") << "renew 203.0.113.41" << int(ACK)
            << "Leased 203.0.113.41 for 1 h" << "203.0.113.41";
        QTest::newRow("through a relay") << "relay 198.51.100.1" << int(ACK)
            << "Leased 203.0.113.15 for 1 h" << "198.51.100.1";
        // The relay broadcasts a NAK only when its broadcast bit says so.
        QTest::newRow("through a relay, a NAK") << "relay 198.51.100.1 10.0.0.5" << int(NAK)
            << "NAK: 10.0.0.5 is not on this network" << "198.51.100.1";
        QTest::newRow("refused by the client list") << "refuse" << -1
            << "Not in the client list" << "";
    }
    void requestVariants() {
        QFETCH(QString, change);
        QFETCH(int, replyType);
        QFETCH(QString, info);
        QFETCH(QString, to);
        Packet req = golden("udhcpc-request");
        CLeaseTable leases = table();
        if (change.startsWith("known ")) { // offered 203.0.113.2 a minute before
            change = change.mid(6);
            Answer(golden("udhcpc-discover"), config(), leases, -60);
        }
        if (change.startsWith("flag ")) {
            change = change.mid(5);
            req.flags = 0x8000;
        }
        const QString what = change.section(' ', 0, 0);
        const quint32 value = ParseAddress(change.section(' ', 1, 1));
        AdmitAddress admit;
        if (what == "server") {
            req.options[54] = IpBytes(value);
        } else if (what == "reboot") {
            req.options.remove(54);
            req.options[50] = IpBytes(value);
        } else if (what == "renew") {
            req.options.remove(54);
            req.options.remove(50);
            req.ciaddr = value;
        } else if (what == "relay") {
            req.giaddr = value;
            if (const quint32 other = ParseAddress(change.section(' ', 2, 2))) {
                req.options.remove(54);
                req.options[50] = IpBytes(other);
            }
        } else if (what == "refuse") {
            admit = [](quint32) { return QStringLiteral("Not in the client list"); };
        }
        const Reply r = Answer(req, config(), leases, 0, admit);
        QCOMPARE(r.info, info);
        if (replyType < 0) {
            QVERIFY(r.bytes.isEmpty());
            return;
        }
        const Packet reply = readReply(r.bytes);
        QCOMPARE(int(reply.messageType), replyType);
        QCOMPARE(AddressText(r.to), to.section(' ', 0, 0));
        QCOMPARE(r.toMac, to.endsWith(" at its MAC") ? req.chaddr.left(6) : QByteArray());
        QCOMPARE(r.toPort, what == "relay" ? kServerPort : kClientPort);
        QCOMPARE(reply.flags & 0x8000, (req.flags & 0x8000) || (what == "relay" && replyType == NAK)
                                           ? 0x8000 : 0);
    }

    // A client is who its identifier (option 61) says, whatever its MAC (RFC 2131 4.2):
    // udhcpc takes a lease, then a second DISCOVER (udhcpc's, or iPXE's with another MAC)
    // is offered that address or another.
    void clientIdentifier_data() {
        QTest::addColumn<QByteArray>("firstId"); // empty: as captured (udhcpc and iPXE send
                                                 // 01+MAC); "-": none
        QTest::addColumn<QString>("second");
        QTest::addColumn<QByteArray>("secondId");
        QTest::addColumn<bool>("same");
        const QByteArray x("\x01\x52\x54\x00\xaa\xbb\xcc", 7), y("\xffvm-7", 5);
        QTest::newRow("same id, another MAC") << x << "ipxe-discover" << x << true;
        QTest::newRow("same id, text form") << y << "ipxe-discover" << y << true;
        QTest::newRow("another id, the same MAC") << x << "udhcpc-discover" << y << false;
        QTest::newRow("as captured, another MAC") << QByteArray() << "ipxe-discover" << QByteArray() << false;
        QTest::newRow("no ids, another MAC") << QByteArray("-") << "ipxe-discover" << QByteArray("-") << false;
        QTest::newRow("no ids, the same MAC") << QByteArray("-") << "udhcpc-discover" << QByteArray("-") << true;
        QTest::newRow("an id too short is none") << QByteArray("\x01") << "udhcpc-discover"
                                                 << QByteArray("-") << true;
    }
    void clientIdentifier() {
        QFETCH(QByteArray, firstId);
        QFETCH(QString, second);
        QFETCH(QByteArray, secondId);
        QFETCH(bool, same);
        CLeaseTable leases = table();
        const ServerConfig c = config();
        const auto withId = [](Packet p, const QByteArray& id) {
            if (id == "-")
                p.options.remove(61);
            else if (!id.isEmpty())
                p.options[61] = id;
            return p;
        };
        const Reply offer = Answer(withId(golden("udhcpc-discover"), firstId), c, leases, 0);
        Packet request = withId(golden("udhcpc-request"), firstId);
        request.options[50] = IpBytes(offer.address);
        const Reply ack = Answer(request, c, leases, 1);
        QCOMPARE(ack.info, QStringLiteral("Leased %1 for 1 h").arg(AddressText(offer.address)));
        const Reply again = Answer(withId(golden(second), secondId), c, leases, 2);
        QCOMPARE(again.info.startsWith("Offered"), true);
        QCOMPARE(again.address == offer.address, same);
        // And the lease file keeps the client as it is known.
        const QList<Lease> kept = ParseLeases(FormatLeases(leases.Leases()));
        QCOMPARE(kept, leases.Leases());
    }

    // udhcpc's RELEASE of the lease it holds, changed one value at a time: only one that
    // names us as its server ends the lease.
    void releaseVariants_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("released");
        QTest::newRow("as sent") << "" << true;
        QTest::newRow("no server id") << "no54" << false;
        QTest::newRow("another server's") << "other54" << false;
        QTest::newRow("another MAC, its client id") << "mac" << true;
        QTest::newRow("another client id") << "id" << false;
        QTest::newRow("naming another address") << "ciaddr" << false;
    }
    void releaseVariants() {
        QFETCH(QString, change);
        QFETCH(bool, released);
        CLeaseTable leases = table();
        const ServerConfig c = config();
        Answer(golden("udhcpc-discover"), c, leases, 0);
        QVERIFY(!Answer(golden("udhcpc-request"), c, leases, 0).refused);
        const QList<Lease> before = leases.Leases();
        Packet release = golden("udhcpc-release");
        release.ciaddr = before.value(0).address;
        if (change == "no54")
            release.options.remove(OptServerId);
        else if (change == "other54")
            release.options[OptServerId] = IpBytes(ip("203.0.113.9"));
        else if (change == "mac")
            release.chaddr[5] = char(release.chaddr[5] ^ 1);
        else if (change == "id")
            release.options[61] = QByteArray("\x01\x02\x00\x00\x00\x00\x0d", 7);
        else if (change == "ciaddr")
            release.ciaddr = ip("203.0.113.99");
        QVERIFY(release.has(OptServerId) || change == "no54");
        const Reply r = Answer(release, c, leases, 10);
        QVERIFY(r.bytes.isEmpty());
        QCOMPARE(r.info, released ? QStringLiteral("Released") : QString());
        QCOMPARE(leases.Leases().value(0).expires, released ? 10 : before.value(0).expires);
    }

    // Addresses and MACs as every wing and dialog reads them (HostsFile, the pool, the
    // client's device, Security and Protocol): ASCII digits in their places, nothing
    // QHostAddress, inet_aton or QString::toUInt would also take.
    void addressText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // as read back; empty: refused
        QTest::addColumn<QString>("mac");     // as read back; empty: refused
        const auto row = [](const char* text, const char* address, const char* mac) {
            QTest::newRow(text) << QString::fromUtf8(text) << QString::fromLatin1(address)
                                << QString::fromLatin1(mac);
        };
        row("192.0.2.10", "192.0.2.10", "");
        row("0.0.0.0", "0.0.0.0", "");
        row("255.255.255.255", "255.255.255.255", "");
        row("010.1.2.3", "10.1.2.3", "");
        row("10.1", "", "");
        row("0x0a000001", "", "");
        row("1.2.3.256", "", "");
        row("1.2.3.4.5", "", "");
        row("1..3.4", "", "");
        row("1.2.3.0004", "", "");
        row("+1.2.3.4", "", "");
        row("1.2.3. 4", "", "");
        row("1.2.3.4 ", "", "");
        row("1.2.3.\u0664", "", ""); // an Arabic-Indic four
        row("52:54:00:AB:cd:ef", "", "52:54:00:ab:cd:ef");
        row("52-54-00-ab-cd-ef", "", "52:54:00:ab:cd:ef");
        row("52:54:00:ab:cd", "", "");
        row("5:54:00:ab:cd:ef0", "", "");
        row("+2:54:00:ab:cd:ef", "", "");
        row("52:54:00:ab:cd: f", "", "");
        row("52:54:00:ab:cd:eg", "", "");
    }
    void addressText() {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(QString, mac);
        quint32 v4 = 0;
        QCOMPARE(ParseAddress(text, &v4), !address.isEmpty());
        if (!address.isEmpty())
            QCOMPARE(AddressText(v4), address);
        QCOMPARE(ParseAddress(text), address.isEmpty() ? 0u : v4);
        QCOMPARE(MacText(ParseMac(text)), mac);
    }

    // Plain BOOTP (klibc's capture, and the same without its cookie and options, as the
    // oldest clients send it): a HostsFile host is answered; a stranger only while
    // BootpDynamic lends pool addresses, as a BOOTP client never gives one back.
    void bootpWanted_data() {
        QTest::addColumn<bool>("cookie");
        QTest::addColumn<bool>("fixedHost");
        QTest::addColumn<bool>("dynamic");
        QTest::addColumn<QString>("info"); // the row; "BOOTP a.b.c.d": a reply binding it
        const QString refused = QStringLiteral("BOOTP: not in HostsFile (BootpDynamic off)");
        for (const bool cookie : {true, false}) {
            const char* form = cookie ? "cookie" : "no cookie";
            QTest::addRow("%s, HostsFile host", form) << cookie << true << false
                                                      << QStringLiteral("BOOTP 203.0.113.150");
            QTest::addRow("%s, stranger", form) << cookie << false << false << refused;
            QTest::addRow("%s, stranger, BootpDynamic", form)
                << cookie << false << true << QStringLiteral("BOOTP 203.0.113.2");
            QTest::addRow("%s, HostsFile host, BootpDynamic", form)
                << cookie << true << true << QStringLiteral("BOOTP 203.0.113.150");
        }
    }
    void bootpWanted() {
        QFETCH(bool, cookie);
        QFETCH(bool, fixedHost);
        QFETCH(bool, dynamic);
        QFETCH(QString, info);
        QFile f(QStringLiteral(DHCP_DATA "/klibc-bootp.bin"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        if (!cookie)
            bytes = bytes.left(kFixedSize) + QByteArray(64, '\0'); // BOOTP's vend field, empty
        if (!fixedHost)
            bytes[28 + 5] = char(0x1c);
        Packet request;
        QVERIFY(Parse(bytes.constData(), bytes.size(), &request, true));
        QCOMPARE(int(request.messageType), 0);
        ServerConfig c = config();
        c.bootpDynamic = dynamic;
        CLeaseTable leases = table();
        const Reply r = Answer(request, c, leases, 100);
        QCOMPARE(r.info, info);
        const bool answered = info.startsWith(QLatin1String("BOOTP "));
        QCOMPARE(r.refused, !answered);
        QCOMPARE(r.bytes.isEmpty(), !answered);
        // Nothing is bound for a client that got no reply; a stranger's pool address is.
        QCOMPARE(leases.Leases().size(), answered && !fixedHost ? 1 : 0);
        if (!answered)
            return;
        const Packet reply = readReply(r.bytes);
        QCOMPARE(AddressText(reply.yiaddr), info.section(QLatin1Char(' '), 1));
        QCOMPARE(int(reply.messageType), 0); // no DHCP message in a BOOTP reply
        QCOMPARE(r.bytes.size(), 300);
    }

    // Refusals are rows with their reason, and a refused client holds nothing.
    void refusals() {
        const ServerConfig c = config();
        CLeaseTable known = table(true);
        Reply r = Answer(golden("udhcpc-discover"), c, known, 0);
        QVERIFY(r.refused && r.bytes.isEmpty());
        QCOMPARE(r.info, QStringLiteral("Not in HostsFile (OnlyKnownHosts)"));
        QCOMPARE(Answer(golden("klibc-bootp"), c, known, 0).info, QStringLiteral("BOOTP 203.0.113.150"));

        CLeaseTable small(ip("203.0.113.2"), ip("203.0.113.2"), {}, false);
        QCOMPARE(Answer(golden("ipxe-discover"), c, small, 0).info, QStringLiteral("Offered 203.0.113.2"));
        r = Answer(golden("ovmf-discover"), c, small, 0);
        QVERIFY(r.refused);
        QCOMPARE(r.info, QStringLiteral("No free address in the pool 203.0.113.2-203.0.113.2"));

        // The list refuses the address: it is not held for the client that was refused.
        CLeaseTable leases(ip("203.0.113.2"), ip("203.0.113.2"), {}, false);
        const AdmitAddress no = [](quint32) { return QStringLiteral("Not in the client list"); };
        QVERIFY(Answer(golden("udhcpc-discover"), c, leases, 0, no).refused);
        QCOMPARE(Answer(golden("ipxe-discover"), c, leases, 0).info, QStringLiteral("Offered 203.0.113.2"));
    }
};

QTEST_GUILESS_MAIN(TestDhcpAnswers)
#include "tst_dhcp_answers.moc"
