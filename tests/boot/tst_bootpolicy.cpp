#include "EngineFixture.h"
#include "engine/bootp/DhcpPacket.h"
#include "engine/dhcp/DhcpServer.h"
#include "engine/dhcp/LeaseFile.h"

#include <QtTest>
#include <tuple>

// One boot policy: captured clients' DISCOVERs (and packets made from them by changing
// the options that tell their kind) through the boot offers and through our own DHCP
// server, each demanding the same boot file from both; then who of them is answered.
class TestBootPolicy : public QObject {
    Q_OBJECT

    enum Service { Offers, DhcpServer };

    static QByteArray captured(const char* name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + QLatin1String(name) + QStringLiteral(".bin"));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("no capture %s", name);
        return f.readAll();
    }
    // The packet with these options replaced (or added), the others kept in their order.
    static QByteArray with(QByteArray p, const QList<QPair<quint8, QByteArray>>& changes) {
        QList<QPair<quint8, QByteArray>> options;
        for (qsizetype i = Dhcp::kOptionsAt; i + 1 < p.size() && uchar(p[i]) != 255;) {
            if (p[i] == 0) {
                ++i;
                continue;
            }
            const int len = uchar(p[i + 1]);
            options.append({quint8(p[i]), p.mid(i + 2, len)});
            i += 2 + len;
        }
        for (const auto& c : changes) {
            auto it = std::find_if(options.begin(), options.end(),
                                   [&](const auto& o) { return o.first == c.first; });
            if (it != options.end())
                it->second = c.second;
            else
                options.append(c);
        }
        p.truncate(Dhcp::kOptionsAt);
        for (const auto& o : options)
            p.append(char(o.first)).append(char(o.second.size())).append(o.second);
        p.append(char(255));
        return p;
    }
    static QByteArray arch(quint16 a) { return QByteArray(1, char(a >> 8)) + char(a); }

    // A Raspberry Pi's DISCOVER as its documentation prints one (raspberrypi/documentation,
    // computers/raspberry-pi/boot-net.adoc, "DHCP Request / Reply": a Pi 3B, xid
    // 0x26f30339, options 55, 93 = 0, 94 = 1.2.1, 97 and 60 in that order, 320 bytes).
    static QByteArray piDiscover(const QByteArray& mac, const QByteArray& guid,
                                 const QByteArray& requested) {
        QByteArray p(Dhcp::kFixedSize, '\0');
        p[0] = 1;
        p[1] = 1;
        p[2] = 6;
        Dhcp::Put32(p, 4, 0x26f30339);
        p.replace(28, 6, mac);
        p.append("\x63\x82\x53\x63", 4);
        const auto add = [&p](quint8 code, const QByteArray& v) {
            p.append(char(code)).append(char(v.size())).append(v);
        };
        add(53, QByteArray(1, char(Dhcp::DISCOVER)));
        add(55, requested);
        add(93, arch(0));
        add(94, QByteArray("\x01\x02\x01", 3));
        add(97, QByteArray(1, '\0') + guid);
        add(60, "PXEClient:Arch:00000:UNDI:002001");
        p.append(char(255));
        return p.leftJustified(320, '\0');
    }
    // The Pi 3B of the documentation: its ROM's constant GUID (sixteen 0x44).
    static QByteArray pi3() {
        return piDiscover(QByteArray("\xb8\x27\xeb\x28\xf6\x6d", 6), QByteArray(16, '\x44'),
                          QByteArray("\x2b\x3c\x43\x80\x81\x82\x83\x84\x85\x86\x87\x42", 12));
    }
    // A Pi 4 as its bootloader's documentation describes it (eeprom-bootloader.adoc,
    // DHCP_OPTION97: FourCC "RPi4", board revision, the MAC's last four bytes, the
    // serial; its examples dc:a6:32:01:36:c2 and 9ffefdef), asking the options a Pi 5
    // capture shows (wol.ski, "Network booting Raspberry Pis", 2024: 1, 3, 43, 60, 66,
    // 67, 128-135).
    static QByteArray pi4(const QByteArray& mac = QByteArray("\xdc\xa6\x32\x01\x36\xc2", 6)) {
        return piDiscover(mac,
                          QByteArray("\x34\x69\x50\x52\x00\xc0\x31\x11", 8) + mac.right(4) +
                              QByteArray("\x9f\xfe\xfd\xef", 4),
                          QByteArray("\x01\x03\x2b\x3c\x42\x43\x80\x81\x82\x83\x84\x85\x86\x87", 14));
    }
    // Option 43 of the documentation's reply, its item given the three spaces the Pi 3
    // ROM needs (its length 17 -> 20, the sub-option's 20 -> 23).
    static QByteArray piOption43() {
        return QByteArray("\x06\x01\x03\x0a\x04\x00PXE\x09\x17\x00\x00\x14", 14) +
               "Raspberry Pi Boot   " + '\xff';
    }

    static NetInterface eth1() {
        NetInterface n;
        n.name = QStringLiteral("eth1");
        n.up = true;
        n.addresses = {QHostAddress(QStringLiteral("203.0.113.1"))};
        n.prefixLengths = {24};
        return n;
    }

    // The server on eth1 (203.0.113.1) with a file per kind, all in the folder, and one
    // service answering there: the boot offers, or our DHCP server.
    struct Fixture : EngineFixture {
        QTemporaryDir state;
        Service service;
        explicit Fixture(Service s) : service(s) {
            qputenv("STATE_DIRECTORY", state.path().toLocal8Bit());
            platform->changeInterfaces({eth1()});
            engine->Listen(QHostAddress(QStringLiteral("203.0.113.1")), kListen);
            for (const char* name : {"undionly.kpxe", "snponly.efi", "boot.efi", "boot.ipxe",
                                     "other.bin", "own.efi"})
                writeFile(name, "x");
            change([](EngineSettings& e) {
                e.bootFileBios = "undionly.kpxe";
                e.bootFileUefi = "snponly.efi";
                e.bootFileUefiHttp = "boot.efi";
                e.bootFileIpxe = "boot.ipxe";
                e.bootFileOther = "other.bin";
                e.httpEnabled = true;
                e.httpPort = 8080;
            });
        }
        void start() {
            change([this](EngineSettings& e) {
                e.proxyDhcp = service == Offers;
                e.dhcpEnabled = service == DhcpServer;
                e.dhcpInterface = QStringLiteral("eth1");
            });
            services->RestartBootOffers();
            clock().advance(CDhcpServer::kProbeWaitMs + 1); // no other DHCP server here
        }
        // The reply to a client's packet on 67 (or 4011, from `from`); empty: none.
        QList<Dhcp::Packet> ask(const QByteArray& p, quint16 port = Dhcp::kServerPort,
                                const QString& from = QStringLiteral("0.0.0.0")) {
            net().takeSent();
            net().deliver(port, p, QHostAddress(from), Dhcp::kClientPort);
            QList<Dhcp::Packet> replies;
            for (const FakeDatagram& d : net().takeSent()) {
                if (d.peerPort != Dhcp::kClientPort)
                    continue; // the DHCP server's own look for another server
                QByteArray b = d.data;
                b[0] = 1;
                Dhcp::Packet r;
                if (Dhcp::Parse(b.constData(), b.size(), &r, true))
                    replies.append(r);
            }
            return replies;
        }
    };

private slots:
    // Option 59's URL from the one choice: the name as edk2 percent-decodes it back, a
    // URL the policy already made (HTTP client, the cache) left as it is.
    void bootUrl6_data() {
        QTest::addColumn<QByteArray>("offered");
        QTest::addColumn<QByteArray>("url");
        const QByteArray at = "tftp://[2001:db8:51::1]/";
        QTest::newRow("plain") << QByteArray("nbp6.efi") << at + "nbp6.efi";
        QTest::newRow("folders kept") << QByteArray("efi/boot/x.efi") << at + "efi/boot/x.efi";
        QTest::newRow("space") << QByteArray("my boot.efi") << at + "my%20boot.efi";
        QTest::newRow("percent") << QByteArray("100%.efi") << at + "100%25.efi";
        QTest::newRow("unicode") << QByteArray("b\xc3\xa9" "b\xc3\xa9.efi") << at + "b%C3%A9b%C3%A9.efi";
        QTest::newRow("brackets and query")
            << QByteArray("a]?b#c;mode=x") << at + "a%5D%3Fb%23c%3Bmode%3Dx";
        QTest::newRow("HTTP URL as it is")
            << QByteArray("http://[2001:db8:51::1]:8080/x.efi")
            << QByteArray("http://[2001:db8:51::1]:8080/x.efi");
        QTest::newRow("nothing offered") << QByteArray() << QByteArray();
    }
    void bootUrl6() {
        QFETCH(QByteArray, offered);
        QFETCH(QByteArray, url);
        BootPolicy::Choice c;
        c.offered = offered;
        QCOMPARE(BootPolicy::BootUrl6(c, QHostAddress(QStringLiteral("2001:db8:51::1"))), url);
    }

    // A UEFI HTTP client's URL names the IPv6 server bracketed, on the HTTP port.
    void httpClientOverIpv6() {
        BootPolicy::Settings s;
        s.uefiHttp = QStringLiteral("x.efi");
        s.httpEnabled = true;
        s.httpPort = 8080;
        const BootPolicy::Choice c = BootPolicy::Choose(
            BootPolicy::Service::DhcpServer, {Dhcp::ClientKind::UefiHttp, {}, {}}, s,
            QHostAddress(QStringLiteral("2001:db8:51::1")), {});
        QCOMPARE(BootPolicy::BootUrl6(c, QHostAddress(QStringLiteral("2001:db8:51::1"))),
                 QByteArray("http://[2001:db8:51::1]:8080/x.efi"));
    }

    void sameFileFromBothServices_data() {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QString>("setup"); // what differs from a file per kind, all there
        QTest::addColumn<QString>("file");  // option 67; empty: none
        QTest::addColumn<bool>("pxe");      // a PXE client: the boot offers answer it too
        QTest::addColumn<QString>("problem"); // the red row's word; empty: a green row

        const QByteArray ipxe = captured("ipxe-discover"), ovmf = captured("ovmf-discover");
        const QByteArray ovmfHttp = with(ovmf, {{60, "HTTPClient:Arch:00016"}, {93, arch(16)}});
        const QString url = QStringLiteral("http://203.0.113.1:8080/boot.efi");
        QTest::newRow("SeaBIOS iPXE") << ipxe << "" << "boot.ipxe" << true << "";
        QTest::newRow("iPXE EFI")
            << with(ipxe, {{60, "PXEClient:Arch:00007:UNDI:003010"}, {93, arch(7)}}) << ""
            << "boot.ipxe" << true << "";
        QTest::newRow("iPXE, menu on, the user's menu.ipxe") << ipxe << "menu" << "menu.ipxe" << true << "";
        QTest::newRow("iPXE, menu on, its machine's script")
            << ipxe << "menu machine" << "boot-02-00-00-00-00-10.ipxe" << true << "";
        QTest::newRow("OVMF PXE") << ovmf << "" << "snponly.efi" << true << "";
        QTest::newRow("Secure Boot client, UEFI field empty: the shim")
            << ovmf << "chain" << "shimx64.efi" << true << "";
        QTest::newRow("Secure Boot client, GRUB missing")
            << ovmf << "chain nogrub" << "shimx64.efi" << true
            << "Secure Boot chain lacks signed GRUB (grubx64.efi)";
        QTest::newRow("OVMF HTTP Boot: a URL on our HTTP port") << ovmfHttp << "" << url << true << "";
        QTest::newRow("ARM64 HTTP Boot")
            << with(ovmf, {{60, "HTTPClient:Arch:00019"}, {93, arch(19)}}) << "" << url << true << "";
        // A cache for files above a size: the firmware gets its URL at once (edk2 need
        // not follow a 302); a file at the size is still ours, and a cache while our
        // HTTP is off changes nothing.
        QTest::newRow("UEFI HTTP, above the size: the cache's URL")
            << ovmfHttp << "redirect above0" << "http://198.51.100.9:8081/pxe/boot.efi" << true << "";
        QTest::newRow("UEFI HTTP, at the size: ours")
            << ovmfHttp << "redirect above1" << url << true << "";
        QTest::newRow("UEFI HTTP, a cache but HTTP off") << ovmfHttp << "redirect above0 nohttp" << ""
                                                          << true << "HTTP Is Off (Option > Protocol): boot.efi";
        QTest::newRow("UEFI PXE, above the size: TFTP stays local")
            << ovmf << "redirect above0" << "snponly.efi" << true << "";
        QTest::newRow("UEFI HTTP while HTTP is off") << ovmfHttp << "nohttp" << "" << true
                                                      << "HTTP Is Off (Option > Protocol): boot.efi";
        QTest::newRow("UEFI file missing") << ovmf << "missing" << "" << true
                                           << "Boot File Missing: snponly.efi";
        QTest::newRow("a HostsFile host's own file") << ovmf << "hosts" << "own.efi" << true << "";
        QTest::newRow("U-Boot (ARM64 PXE)")
            << with(ovmf, {{60, "PXEClient:Arch:00011:UNDI:003000"}, {93, arch(11)}}) << ""
            << "other.bin" << false << "";
        QTest::newRow("plain BOOTP") << captured("klibc-bootp") << "bootp" << "other.bin" << false << "";
        // Raspberry Pis (with [Boot] RaspberryPi, "pi"): their own answer, whatever
        // BootFileBios says.
        QTest::newRow("Raspberry Pi 3 (its documentation's DISCOVER)")
            << pi3() << "pi" << "bootcode.bin" << true << "";
        QTest::newRow("Raspberry Pi 4 (its bootloader's GUID)")
            << pi4() << "pi" << "bootcode.bin" << true << "";
        QTest::newRow("Raspberry Pi 5 block")
            << pi4(QByteArray("\x2c\xcf\x67\x00\x00\x01", 6)) << "pi" << "bootcode.bin" << true << "";
        QTest::newRow("a Pi of another MAC, marked in HostsFile")
            << pi4(QByteArray("\x02\x00\x00\x00\x00\x11", 6)) << "pi hostspi" << "start4.elf" << true << "";
        QTest::newRow("the same, RaspberryPi off: its host file as for a PC")
            << pi4(QByteArray("\x02\x00\x00\x00\x00\x11", 6)) << "hostspi" << ""
            << true << "Boot File Missing: start4.elf";
        QTest::newRow("a Pi, RaspberryPi off: a BIOS PC") << pi3() << "" << "undionly.kpxe" << true << "";
        QTest::newRow("a PC's MAC, RaspberryPi on: a BIOS PC")
            << pi4(QByteArray("\x52\x54\x00\x00\x00\x01", 6)) << "pi" << "undionly.kpxe" << true << "";
        QTest::newRow("a Pi's MAC on a UEFI client: not a Pi")
            << with(pi3(), {{93, arch(7)}, {60, "PXEClient:Arch:00007:UNDI:003016"}}) << "pi"
            << "snponly.efi" << true << "";
    }
    void sameFileFromBothServices() {
        QFETCH(QByteArray, packet);
        QFETCH(QString, setup);
        QFETCH(QString, file);
        QFETCH(bool, pxe);
        QFETCH(QString, problem);
        for (Service service : {Offers, DhcpServer}) {
            const char* which = service == Offers ? "boot offers" : "DHCP server";
            Fixture f(service);
            const QStringList words = setup.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.contains("menu"))
                f.writeFile("menu.ipxe", "#!ipxe\n");
            if (words.contains("machine"))
                f.writeFile("boot-02-00-00-00-00-10.ipxe", "#!ipxe\n");
            if (words.contains("chain")) {
                QDir(f.root()).mkdir(QStringLiteral("grub"));
                for (const char* name : {"shimx64.efi", "grubx64.efi", "mmx64.efi", "grub/grub.cfg"})
                    f.writeFile(name, "x");
            }
            if (words.contains("nogrub"))
                QFile::remove(f.path("grubx64.efi"));
            if (words.contains("missing"))
                QFile::remove(f.path("snponly.efi"));
            QTemporaryDir hostsDir;
            const QString hosts = hostsDir.filePath(QStringLiteral("hosts"));
            if (words.contains("hosts") || words.contains("hostspi")) {
                QFile h(hosts);
                QVERIFY(h.open(QIODevice::WriteOnly));
                h.write(words.contains("hosts") ? "02:00:00:00:00:11 203.0.113.11 own.efi\n"
                                                : "02:00:00:00:00:11 203.0.113.11 start4.elf\n");
            }
            f.change([&](EngineSettings& e) {
                e.menu = words.contains("menu");
                e.httpEnabled = !words.contains("nohttp");
                if (words.contains("chain")) {
                    e.secureBootChain = true;
                    e.bootFileUefi.clear();
                }
                if (words.contains("hosts") || words.contains("hostspi"))
                    e.dhcpHostsFile = hosts;
                e.dhcpBootpDynamic = words.contains("bootp"); // a stranger's BOOTP is answered
                e.raspberryPi = words.contains("pi");
                if (words.contains("redirect")) {
                    e.httpRedirect = QStringLiteral("http://198.51.100.9:8081/pxe/");
                    e.httpRedirectAboveBytes = words.contains("above0") ? 0 : 1; // files hold "x"
                }
            });
            f.start();
            const QList<Dhcp::Packet> replies = f.ask(packet);
            const bool answers = service == DhcpServer || (pxe && !file.isEmpty());
            QVERIFY2(replies.size() == (answers ? 1 : 0), which);
            if (!pxe && service == Offers)
                continue; // left to the DHCP server, without a row
            if (answers) {
                const QString offered = QString::fromUtf8(replies[0].option(Dhcp::OptBootFile));
                QVERIFY2(offered == file, qPrintable(QStringLiteral("%1 offers %2")
                                                         .arg(QLatin1String(which), offered)));
                const bool http = file.startsWith(QLatin1String("http://"));
                // A Pi is answered as its ROM needs it by both: PXEClient, its menu
                // item in 43, our address in 66.
                const bool pi = words.contains("pi") && (file == QLatin1String("bootcode.bin") ||
                                                         file == QLatin1String("start4.elf"));
                QVERIFY2(replies[0].option(Dhcp::OptVendorClass) ==
                             (http ? QByteArray("HTTPClient")
                                   : QByteArray(service == Offers || pi ? "PXEClient" : "")),
                         which);
                QVERIFY2((replies[0].option(Dhcp::OptVendorSpecific) == piOption43()) == pi, which);
                if (pi)
                    QVERIFY2(replies[0].option(66) == "203.0.113.1", which);
            }
            const auto& row = f.window.last();
            QVERIFY2(row.state == (problem.isEmpty() ? ROW_SENT : ROW_FAILED), which);
            QVERIFY2(row.texts.info.endsWith(problem), qPrintable(row.texts.info));
        }
    }

    // A Pi 3's ROM boots on the OFFER and never sends a REQUEST (boot-net.adoc, "DHCP
    // request/reply/ack sequence not correctly implemented"): our DHCP server leases the
    // address as it offers it, on disk before the offer leaves. A PC's offer stays an
    // offer until it asks.
    void raspberryPiLeasedOnTheOffer() {
        Fixture f(DhcpServer);
        f.change([](EngineSettings& e) { e.raspberryPi = true; });
        f.start();
        const QString leases = f.state.filePath(QLatin1String(Dhcp::kLeaseFileName));
        const auto leased = [&leases](const char* mac) {
            QFile file(leases);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(mac);
        };
        for (const auto& [packet, mac, pi] :
             {std::tuple{pi3(), "b8:27:eb:28:f6:6d", true},
              std::tuple{pi4(QByteArray("\x52\x54\x00\x00\x00\x01", 6)), "52:54:00:00:00:01", false}}) {
            const QList<Dhcp::Packet> replies = f.ask(packet);
            QVERIFY(replies.size() == 1 && replies[0].yiaddr != 0);
            QCOMPARE(replies[0].messageType, quint8(Dhcp::OFFER));
            QCOMPARE(leased(mac), pi);
            QCOMPARE(f.window.last().texts.info.startsWith(QLatin1String("Leased")), pi);
        }
    }

    // What a Pi 4 asks over TFTP, replayed: the order of its bootloader's own log
    // (raspberrypi/usbboot issue 214: config.txt, vl805.sig, pieeprom.sig, pieeprom.upd,
    // recover4.elf, fixup4rc.dat, recovery.elf, fixup_rc.dat, start4.elf, fixup4.dat),
    // then the firmware's config.txt, dt-blob.bin, device tree, cmdline.txt and kernel,
    // each with tsize 0 and blksize 1024, all beneath its serial number's folder once
    // <serial>/start4.elf answers (TFTP_PREFIX=0, eeprom-bootloader.adoc), from the root
    // otherwise. A folder laid out as boot-net.adoc says, either way. Present files come
    // whole in 1024-byte blocks; the probes a Pi may lack end grey; a missing file it
    // needs ends red.
    void raspberryPi4AsksWhatItAsks_data() {
        QTest::addColumn<QString>("prefix"); // where the folder holds its files
        QTest::addColumn<QString>("drop");   // a file it needs, removed
        QTest::newRow("the serial number's folder") << "9ffefdef/" << "";
        QTest::newRow("the root") << "" << "";
        QTest::newRow("the root, no kernel") << "" << "kernel8.img";
    }
    void raspberryPi4AsksWhatItAsks() {
        QFETCH(QString, prefix);
        QFETCH(QString, drop);
        EngineFixture f;
        f.change([](EngineSettings& e) { e.raspberryPi = true; });
        const QStringList files = {"config.txt", "start4.elf", "fixup4.dat", "bcm2711-rpi-4-b.dtb",
                                   "cmdline.txt", "kernel8.img"};
        if (!prefix.isEmpty())
            QDir(f.root()).mkdir(prefix);
        QHash<QString, QByteArray> content;
        for (const QString& name : files) {
            // Sizes across block edges: a whole number of blocks needs its empty last one.
            const int size = name == QLatin1String("kernel8.img") ? 3 * 1024 : 1500 + int(name.size()) * 97;
            content[name] = QByteArray(size, char('a' + name.size()));
            if (name != drop)
                f.writeFile(prefix + name, content[name]);
        }
        // Strings of a TFTP packet, each ended by a zero byte.
        const auto strings = [](const QList<QByteArray>& parts) {
            QByteArray out;
            for (const QByteArray& p : parts)
                out.append(p).append('\0');
            return out;
        };
        const QByteArray options = strings({"tsize", "0", "blksize", "1024"});
        enum Outcome { Whole, Probe, Stop, Missing };
        QList<QPair<QString, Outcome>> asks = {{"9ffefdef/start4.elf", prefix.isEmpty() ? Probe : Stop}};
        for (const char* name : {"config.txt", "vl805.sig", "pieeprom.sig", "pieeprom.upd",
                                 "recover4.elf", "fixup4rc.dat", "recovery.elf", "fixup_rc.dat",
                                 "start4.elf", "fixup4.dat", "config.txt", "dt-blob.bin",
                                 "bcm2711-rpi-4-b.dtb", "cmdline.txt", "kernel8.img"}) {
            const QString n = QLatin1String(name);
            asks.append({prefix + n, n == drop ? Missing : files.contains(n) ? Whole : Probe});
        }
        quint16 from = 49152; // each request from a port of its own, as the Pi's
        for (const auto& [name, outcome] : asks) {
            const QByteArray rrq = EngineFixture::request(Tftp::RRQ, name.toUtf8()) + options;
            f.sent();
            const quint16 port = f.send(rrq, ++from);
            QList<QByteArray> out = f.sent();
            QVERIFY2(out.size() == 1, qPrintable(name));
            if (outcome == Probe || outcome == Missing) {
                QVERIFY2(EngineFixture::opcode(out[0]) == Tftp::ERROR && EngineFixture::number(out[0]) == 1,
                         qPrintable(name));
                QVERIFY2(f.lastRow().state == (outcome == Probe ? ROW_NOTED : ROW_FAILED), qPrintable(name));
                continue;
            }
            const QByteArray& bytes = content[name.mid(prefix.size())];
            const QByteArray size = QByteArray::number(bytes.size());
            QVERIFY2(EngineFixture::opcode(out[0]) == Tftp::OACK, qPrintable(name));
            QVERIFY2(out[0].mid(2) == strings({"tsize", size, "blksize", "1024"}) ||
                         out[0].mid(2) == strings({"blksize", "1024", "tsize", size}),
                     qPrintable(name));
            if (outcome == Stop) {
                // Found: the Pi has what it wanted to know, and says so with an error.
                f.toTransfer(port, EngineFixture::error(0), from);
                continue;
            }
            QByteArray got;
            f.toTransfer(port, EngineFixture::ack(0), from);
            for (int block = 1; block < 100; ++block) {
                out = f.sent();
                QVERIFY2(out.size() == 1 && EngineFixture::opcode(out[0]) == Tftp::DATA &&
                             EngineFixture::number(out[0]) == block,
                         qPrintable(name));
                got += out[0].mid(4);
                f.toTransfer(port, EngineFixture::ack(quint16(block)), from);
                if (out[0].size() < 4 + 1024)
                    break;
            }
            QVERIFY2(got == bytes, qPrintable(name));
            QVERIFY2(f.lastRow().state == ROW_SENT, qPrintable(name));
        }
    }

    // The menu writer looks into the folders for Windows PE (while wimboot is there), as
    // the parts are spelt on disk; a folder short of a part is no entry.
    void menuFindsWindowsPe() {
        EngineFixture f;
        for (const char* folder : {"winpe", "winpe/Boot", "winpe/Sources", "half", "half/boot"})
            QDir(f.root()).mkdir(QLatin1String(folder));
        for (const char* name : {"wimboot", "winpe/BOOTMGR", "winpe/Boot/BCD", "winpe/Boot/boot.sdi",
                                 "winpe/Sources/boot.wim", "half/bootmgr", "half/boot/bcd"})
            f.writeFile(QLatin1String(name), "x");
        f.change([](EngineSettings& s) { s.menu = true; });
        const QByteArray script = f.readFile("menu-generated.ipxe");
        QVERIFY2(script.contains("item e1 Windows PE (winpe/)\n"), script.constData());
        QVERIFY(script.contains("initrd tftp://127.0.0.1/winpe/Sources/boot.wim boot.wim\n"));
        QVERIFY(!script.contains("half/"));
    }

    // The DHCP server takes the settings as it starts: turning the chain on (or any other
    // value the policy reads) starts it again, or its offers would not change.
    void dhcpServerFollowsThePolicysSettings() {
        Fixture f(DhcpServer);
        QDir(f.root()).mkdir(QStringLiteral("grub"));
        for (const char* name : {"shimx64.efi", "grubx64.efi", "mmx64.efi", "grub/grub.cfg"})
            f.writeFile(name, "x");
        f.change([](EngineSettings& e) { e.bootFileUefi.clear(); });
        f.start();
        const QByteArray ovmf = captured("ovmf-discover");
        QCOMPARE(f.ask(ovmf).value(0).option(Dhcp::OptBootFile), QByteArray());
        f.change([](EngineSettings& e) { e.secureBootChain = true; });
        f.clock().advance(CDhcpServer::kProbeWaitMs + 1);
        QCOMPARE(f.ask(ovmf).value(0).option(Dhcp::OptBootFile), QByteArray("shimx64.efi"));
        f.change([](EngineSettings& e) { e.httpPort = 8081; });
        f.clock().advance(CDhcpServer::kProbeWaitMs + 1);
        QCOMPARE(f.ask(with(ovmf, {{60, "HTTPClient"}})).value(0).option(Dhcp::OptBootFile),
                 QByteArray("http://203.0.113.1:8081/boot.efi"));
    }
};

QTEST_GUILESS_MAIN(TestBootPolicy)
#include "tst_bootpolicy.moc"
