#include "EngineFixture.h"
#include "engine/boot/DhcpPacket.h"
#include "engine/dhcp/DhcpServer.h"

#include <QtTest>

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
        QTest::newRow("plain BOOTP") << captured("klibc-bootp") << "" << "other.bin" << false << "";
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
            if (words.contains("hosts")) {
                QFile h(hosts);
                QVERIFY(h.open(QIODevice::WriteOnly));
                h.write("02:00:00:00:00:11 203.0.113.11 own.efi\n");
            }
            f.change([&](EngineSettings& e) {
                e.menu = words.contains("menu");
                e.httpEnabled = !words.contains("nohttp");
                if (words.contains("chain")) {
                    e.secureBootChain = true;
                    e.bootFileUefi.clear();
                }
                if (words.contains("hosts"))
                    e.dhcpHostsFile = hosts;
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
                QVERIFY2(replies[0].option(Dhcp::OptVendorClass) ==
                             (http ? QByteArray("HTTPClient")
                                   : QByteArray(service == Offers ? "PXEClient" : "")),
                         which);
            }
            const auto& row = f.window.last();
            QVERIFY2(row.state == (problem.isEmpty() ? ROW_SENT : ROW_FAILED), which);
            QVERIFY2(row.texts.info.endsWith(problem), qPrintable(row.texts.info));
        }
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
