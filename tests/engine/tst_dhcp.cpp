#include "engine/bootp/DhcpPacket.h"
#include "EngineFixture.h"

#include <QtTest>

// Boot offers (ProxyDHCP): which DHCP packets are answered, and what PXE firmware and
// iPXE get back; nothing but a boot file and the server's address, never an address.
class TestDhcp : public QObject {
    Q_OBJECT

    static constexpr quint32 kXid = 0x11223344;

    // A client's packet: message type, then `options` as code/value pairs.
    static QByteArray packet(quint8 type, const QList<QPair<quint8, QByteArray>>& options,
                             quint32 ciaddr = 0) {
        QByteArray p(Dhcp::kOptionsAt, '\0');
        p[0] = 1;
        p[1] = 1;
        p[2] = 6;
        p[4] = 0x11, p[5] = 0x22, p[6] = 0x33, p[7] = 0x44;
        p[10] = char(0x80); // broadcast flag
        for (int i = 0; i < 4; ++i)
            p[12 + i] = char(ciaddr >> (24 - 8 * i));
        const char mac[6] = {0x52, 0x54, 0x00, 0x4e, 0x42, 0x07};
        std::memcpy(p.data() + 28, mac, 6);
        p[236] = char(99), p[237] = char(130), p[238] = char(83), p[239] = char(99);
        p.append(char(53)).append(char(1)).append(char(type));
        for (const auto& o : options)
            p.append(char(o.first)).append(char(o.second.size())).append(o.second);
        p.append(char(255));
        return p;
    }
    static QPair<quint8, QByteArray> vendor(const QByteArray& v) { return {60, v}; }
    static QPair<quint8, QByteArray> arch(quint8 a) { return {93, QByteArray("\0", 1) + char(a)}; }

    struct BootFixture : EngineFixture {
        BootFixture() {
            change([](EngineSettings& s) {
                s.proxyDhcp = true;
                s.bootFileBios = "undionly.kpxe";
                s.bootFileUefi = "snponly.efi";
                s.bootFileIpxe = "boot.ipxe";
                s.bootFileUefiHttp = "http://127.0.0.1/boot.efi";
            });
            for (const char* name : {"undionly.kpxe", "snponly.efi", "boot.ipxe"})
                writeFile(name, "x");
            services->RestartBootOffers();
        }
        // Delivers a client's packet to 67 (or 4011) and answers what was sent back.
        QList<FakeDatagram> ask(const QByteArray& p, quint16 port = Dhcp::kServerPort) {
            net().takeSent();
            net().deliver(port, p, QHostAddress(QStringLiteral("0.0.0.0")), Dhcp::kClientPort);
            return net().takeSent();
        }
    };

    static Dhcp::Packet reply(const FakeDatagram& d) {
        // A reply parses as a request does once its op is turned round.
        QByteArray bytes = d.data;
        bytes[0] = 1;
        Dhcp::Packet p;
        if (!Dhcp::Parse(bytes.constData(), bytes.size(), &p))
            qWarning("reply does not parse");
        return p;
    }

private slots:
    void malformedPacketsRejected() {
        Dhcp::Packet p;
        const QByteArray good = packet(Dhcp::DISCOVER, {vendor("PXEClient")});
        QVERIFY(Dhcp::Parse(good.constData(), good.size(), &p));
        QCOMPARE(p.messageType, quint8(Dhcp::DISCOVER));
        QCOMPARE(p.macText(), QStringLiteral("52:54:00:4e:42:07"));
        // Too short, a reply, a bad cookie, no message type, an option cut short.
        QVERIFY(!Dhcp::Parse(good.constData(), 239, &p));
        QByteArray r = good;
        r[0] = 2;
        QVERIFY(!Dhcp::Parse(r.constData(), r.size(), &p));
        r = good;
        r[236] = 0;
        QVERIFY(!Dhcp::Parse(r.constData(), r.size(), &p));
        r = good.left(Dhcp::kOptionsAt) + QByteArray("\x3c\x03PXE\xff", 6);
        QVERIFY(!Dhcp::Parse(r.constData(), r.size(), &p));
        r = good.left(good.size() - 1) + QByteArray("\x3c\x09PXE", 5);
        QVERIFY(!Dhcp::Parse(r.constData(), r.size(), &p));
        r = good.left(good.size() - 1) + QByteArray("\x3c", 1);
        QVERIFY(!Dhcp::Parse(r.constData(), r.size(), &p));

        // None of them gets an answer or a row.
        BootFixture f;
        const int rows = f.window.rows.size();
        QVERIFY(f.ask(good.left(good.size() - 3)).isEmpty());
        QCOMPARE(f.window.rows.size(), rows);
    }

    void otherClientsLeftAlone() {
        BootFixture f;
        const int rows = f.window.rows.size();
        QVERIFY(f.ask(packet(Dhcp::DISCOVER, {})).isEmpty());
        QVERIFY(f.ask(packet(Dhcp::DISCOVER, {vendor("MSFT 5.0")})).isEmpty());
        QVERIFY(f.ask(packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(11)})).isEmpty());
        // A REQUEST on 67 for another server's offer is that server's; so is one that
        // names our own address (a DHCP server on this host, as edk2 asks it).
        QVERIFY(f.ask(packet(Dhcp::REQUEST, {vendor("PXEClient"), {54, "\xc6\x33\x64\x09"}}))
                    .isEmpty());
        QVERIFY(f.ask(packet(Dhcp::REQUEST, {vendor("PXEClient:Arch:00007"), arch(7),
                                             {54, QByteArray("\x7f\0\0\x01", 4)},
                                             {50, "\x7f\0\0\x32"}}))
                    .isEmpty());
        QCOMPARE(f.window.rows.size(), rows);
        // A kind whose boot file is empty is not answered either.
        f.change([](EngineSettings& s) { s.bootFileBios.clear(); });
        QVERIFY(f.ask(packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(0)})).isEmpty());
        // Off by default: no socket on 67 or 4011.
        EngineFixture plain;
        QVERIFY(!plain.net().bound.contains(Dhcp::kServerPort));
        QVERIFY(!plain.net().bound.contains(Dhcp::kPxePort));
    }

    void offersByClientKind() {
        BootFixture f;
        QCOMPARE(f.net().boundDevice.value(Dhcp::kServerPort), QStringLiteral("lo"));
        const quint32 server = QHostAddress(QHostAddress::LocalHost).toIPv4Address();
        struct Case {
            QList<QPair<quint8, QByteArray>> options;
            QByteArray file, vendorClass;
            QString kind;
        };
        const QList<Case> cases = {
            {{vendor("PXEClient:Arch:00000:UNDI:002001"), arch(0)}, "undionly.kpxe", "PXEClient", "BIOS"},
            {{vendor("PXEClient:Arch:00007:UNDI:003016"), arch(7), {97, QByteArray(17, 'u')}},
             "snponly.efi", "PXEClient", "UEFI"},
            {{vendor("PXEClient:Arch:00009"), arch(9)}, "snponly.efi", "PXEClient", "UEFI"},
            {{vendor("PXEClient:Arch:00007"), arch(7), {77, "iPXE"}, {175, "\xb1\x05\x01\x00\x00\x00\x01"}},
             "boot.ipxe", "PXEClient", "iPXE"},
            {{vendor("HTTPClient:Arch:00016"), arch(16)}, "http://127.0.0.1/boot.efi", "HTTPClient",
             "UEFI HTTP"},
        };
        for (const Case& c : cases) {
            const QList<FakeDatagram> out = f.ask(packet(Dhcp::DISCOVER, c.options));
            QCOMPARE(out.size(), 1);
            QCOMPARE(out[0].peer, QHostAddress(QHostAddress::Broadcast));
            QCOMPARE(out[0].peerPort, Dhcp::kClientPort);
            QVERIFY(out[0].data.size() >= 300);
            const Dhcp::Packet p = reply(out[0]);
            QCOMPARE(p.messageType, quint8(Dhcp::OFFER));
            QCOMPARE(p.xid, kXid);
            QCOMPARE(p.flags, quint16(0x8000));
            QCOMPARE(p.yiaddr, 0u);
            QCOMPARE(p.siaddr, server);
            QCOMPARE(p.macText(), QStringLiteral("52:54:00:4e:42:07"));
            QCOMPARE(out[0].data.mid(108, c.file.size() + 1), c.file + '\0');
            QCOMPARE(p.option(Dhcp::OptBootFile), c.file);
            QCOMPARE(p.option(Dhcp::OptServerId), QByteArray("\x7f\x00\x00\x01", 4));
            QCOMPARE(p.option(Dhcp::OptVendorClass), c.vendorClass);
            QCOMPARE(p.has(Dhcp::OptVendorSpecific), c.vendorClass == "PXEClient");
            if (p.has(Dhcp::OptVendorSpecific))
                QCOMPARE(p.option(Dhcp::OptVendorSpecific), QByteArray("\x06\x01\x08\xff", 4));
            for (const auto& o : c.options)
                if (o.first == Dhcp::OptClientUuid)
                    QCOMPARE(p.option(Dhcp::OptClientUuid), o.second);
            const RecordingWindow::Row& row = f.lastRow();
            QCOMPARE(row.state, ROW_SENT);
            QCOMPARE(row.texts.client, QStringLiteral("52:54:00:4e:42:07 (0.0.0.0)"));
            QCOMPARE(row.texts.file, QString::fromLatin1(c.file));
            QCOMPARE(row.texts.service, QStringLiteral("Boot offer"));
            QVERIFY2(row.texts.info.endsWith(c.kind), qPrintable(row.texts.info));
            // The details pane hears the answer in full, as it went.
            const RowDetails d = f.window.details.value(f.window.order.last()).last(); // a copy: value() is a temporary
            QCOMPARE(d.clientPort, Dhcp::kClientPort);
            QCOMPARE(d.ourPort, Dhcp::kServerPort);
            QVERIFY(d.failure.isEmpty());
            const QString offer = d.offer.join(QLatin1Char('\n'));
            QVERIFY2(offer.contains(QString::fromLatin1(c.file)), qPrintable(offer));
            QVERIFY2(offer.contains(QString::fromLatin1(c.vendorClass)), qPrintable(offer));
        }

        // The REQUEST firmware sends to 4011 is acknowledged where it came from.
        const QByteArray request =
            packet(Dhcp::REQUEST, {vendor("PXEClient:Arch:00007"), arch(7)}, 0xc6336432);
        f.net().takeSent();
        f.net().deliver(Dhcp::kPxePort, request, QHostAddress(QStringLiteral("198.51.100.50")), 68);
        const QList<FakeDatagram> out = f.net().takeSent();
        QCOMPARE(out.size(), 1);
        QCOMPARE(out[0].peer, QHostAddress(QStringLiteral("198.51.100.50")));
        QCOMPARE(out[0].peerPort, quint16(68));
        const Dhcp::Packet ack = reply(out[0]);
        QCOMPARE(ack.messageType, quint8(Dhcp::ACK));
        QCOMPARE(ack.ciaddr, 0xc6336432u);
        QCOMPARE(ack.yiaddr, 0u);
        QCOMPARE(ack.option(Dhcp::OptBootFile), QByteArray("snponly.efi"));
        QCOMPARE(f.lastRow().texts.client, QStringLiteral("52:54:00:4e:42:07 (198.51.100.50)"));
    }

    // A UEFI HTTP boot file given as a name is offered as a URL on this machine's HTTP
    // port, built per answer; with HTTP off the offer is a red row, not a dead URL.
    void uefiHttpNameBecomesUrl() {
        BootFixture f;
        f.writeFile(QStringLiteral("efi dir.efi"), "x");
        f.change([](EngineSettings& s) {
            s.bootFileUefiHttp = QStringLiteral("efi dir.efi");
            s.httpPort = 8081;
        });
        const QByteArray discover =
            packet(Dhcp::DISCOVER, {vendor("HTTPClient:Arch:00016"), arch(16)});
        f.change([](EngineSettings& s) { s.httpEnabled = false; });
        QVERIFY(f.ask(discover).isEmpty());
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("HTTP Is Off (Option > Protocol): efi dir.efi"));
        f.change([](EngineSettings& s) { s.httpEnabled = true; });
        const QList<FakeDatagram> out = f.ask(discover);
        QCOMPARE(out.size(), 1);
        QCOMPARE(reply(out[0]).option(Dhcp::OptBootFile),
                 QByteArray("http://127.0.0.1:8081/efi%20dir.efi"));
        QCOMPARE(f.lastRow().state, ROW_SENT);
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("http://127.0.0.1:8081/efi%20dir.efi"));
    }

    // A DISCOVER flood from one client: one row per exchange, renewed by its repeats,
    // and answers at a bounded rate (a burst, then a few a second).
    void floodOfDiscovers_data() {
        QTest::addColumn<bool>("newExchangeEach");
        QTest::newRow("repeats of one exchange") << false;
        QTest::newRow("a new exchange each") << true;
    }
    void floodOfDiscovers() {
        QFETCH(bool, newExchangeEach);
        BootFixture f;
        const int rowsBefore = f.window.rows.size();
        int answers = 0;
        for (int i = 0; i < 5000; ++i) {
            QByteArray p = packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(0)});
            if (newExchangeEach)
                p[7] = char(i), p[6] = char(i >> 8);
            answers += int(f.ask(p).size());
            if (i % 100 == 99)
                f.clock().advance(60); // 5,000 in 3 seconds
        }
        QVERIFY2(answers <= 8 + 4 * 3 + 1, qPrintable(QString::number(answers)));
        QVERIFY(answers >= 8);
        const int rows = f.window.rows.size() - rowsBefore;
        QVERIFY2(rows <= (newExchangeEach ? answers : 1), qPrintable(QString::number(rows)));
        QCOMPARE(f.lastRow().state, ROW_SENT);
        // Another client is answered at once.
        QByteArray other = packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(0)});
        other[28 + 5] = 0x08;
        QCOMPARE(f.ask(other).size(), 1);
    }

    // Who gets a boot offer. A client on 67 has no address yet: it is known by its MAC
    // (HostsFile with OnlyKnownHosts), never by an address it names (ciaddr, option 50);
    // "Only Allow These Clients" judges the address a request on 4011 came from, and
    // TFTP and HTTP judge the address that fetches the file.
    void clientListForBootOffers() {
        const quint32 stranger = 0xc6336402, listed = 0xc6336409; // .2 and .9
        const QByteArray discover = packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(7)});
        const QByteArray namesListed =
            packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(7), {50, "\xc6\x33\x64\x09"}}, listed);
        const QByteArray fromListed = packet(Dhcp::REQUEST, {vendor("PXEClient"), arch(7)}, listed);
        const QByteArray fromStranger = packet(Dhcp::REQUEST, {vendor("PXEClient"), arch(7)}, stranger);
        enum Macs { NoList, Listed, Unlisted, ListedNotOnly };
        struct Case {
            const char* what;
            Macs macs;
            QByteArray packet;
            QString from;
            quint16 port;
            bool answered;
        } cases[] = {
            {"no MAC list, discover: left to TFTP's look at its address", NoList, discover,
             "0.0.0.0", Dhcp::kServerPort, true},
            {"4011 from an unlisted address, naming a listed one", NoList, fromListed,
             "198.51.100.2", Dhcp::kPxePort, false},
            {"4011 from a listed address", NoList, fromListed, "198.51.100.9", Dhcp::kPxePort, true},
            {"4011 from a listed address, naming another", NoList, fromStranger, "198.51.100.9",
             Dhcp::kPxePort, true},
            {"listed MAC, discover", Listed, discover, "0.0.0.0", Dhcp::kServerPort, true},
            {"unlisted MAC naming a listed address", Unlisted, namesListed, "0.0.0.0",
             Dhcp::kServerPort, false},
            {"unlisted MAC on 4011 from a listed address", Unlisted, fromListed, "198.51.100.9",
             Dhcp::kPxePort, false},
            {"HostsFile without OnlyKnownHosts", ListedNotOnly, discover, "0.0.0.0",
             Dhcp::kServerPort, true},
        };
        for (const Case& c : cases) {
            BootFixture f;
            AccessRules rules;
            rules.allowClient = true;
            rules.clients[0] = QStringLiteral("198.51.100.9");
            f.engine->SetRules(rules);
            if (c.macs != NoList) {
                f.writeFile("hosts", c.macs == Unlisted ? "52:54:00:00:00:01 198.51.100.9\n"
                                                        : "52:54:00:4e:42:07 198.51.100.9\n");
                f.change([&](EngineSettings& s) {
                    s.dhcpHostsFile = f.path("hosts");
                    s.dhcpOnlyKnownHosts = c.macs != ListedNotOnly;
                });
            }
            f.net().takeSent();
            f.net().deliver(c.port, c.packet, QHostAddress(c.from), Dhcp::kClientPort);
            QVERIFY2(f.net().takeSent().size() == (c.answered ? 1 : 0), c.what);
            QVERIFY2(f.lastRow().state == (c.answered ? ROW_SENT : ROW_FAILED), c.what);
            if (!c.answered)
                QCOMPARE(f.lastRow().texts.info,
                         QStringLiteral("Unauthorized Clinet!! Deny This Request!!"));
        }
    }

    void missingBootFileIsRedRow() {
        BootFixture f;
        QFile::remove(f.path("undionly.kpxe"));
        QVERIFY(f.ask(packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(0)})).isEmpty());
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("undionly.kpxe"));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Boot File Missing: undionly.kpxe"));
        const RowDetails d = f.window.details.value(f.window.order.last()).last(); // a copy: value() is a temporary
        QCOMPARE(d.failure, QStringLiteral("Boot File Missing: undionly.kpxe"));
        QVERIFY(d.offer.isEmpty()); // nothing went
    }

    // With [Boot] Menu on, an iPXE client gets its machine's script, else the user's
    // menu, else the one written from the folder; the written one follows the folder
    // within a second of a change, and no request lists the folder.
    void menuForIpxeClients() {
        const QByteArray ipxe = packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(7), {77, "iPXE"}});
        struct Case {
            const char* what;
            bool menu;
            QStringList files;
            QByteArray offered;
        };
        const QList<Case> cases = {
            {"menu off: BootFileIpxe", false, {"vmlinuz"}, "boot.ipxe"},
            {"menu on: the written menu", true, {"vmlinuz", "initrd.img"}, "menu-generated.ipxe"},
            {"the user's menu wins", true, {"vmlinuz", "menu.ipxe"}, "menu.ipxe"},
            {"this machine's script wins", true,
             {"menu.ipxe", "BOOT-52-54-00-4E-42-07.ipxe"}, "BOOT-52-54-00-4E-42-07.ipxe"},
            {"another machine's script", true, {"boot-52-54-00-4e-42-08.ipxe"}, "menu-generated.ipxe"},
        };
        for (const Case& c : cases) {
            BootFixture f;
            for (const QString& name : c.files)
                f.writeFile(name, "#!ipxe\n");
            f.change([&c](EngineSettings& s) { s.menu = c.menu; });
            const QList<FakeDatagram> out = f.ask(ipxe);
            QVERIFY2(out.size() == 1, c.what);
            QVERIFY2(reply(out[0]).option(Dhcp::OptBootFile) == c.offered,
                     qPrintable(QLatin1String(c.what) + QLatin1String(": ") +
                                QString::fromUtf8(reply(out[0]).option(Dhcp::OptBootFile))));
            // Written only when it is what clients get.
            QCOMPARE(QFile::exists(f.path("menu-generated.ipxe")), c.offered == "menu-generated.ipxe");
        }

        BootFixture f;
        f.writeFile("vmlinuz-6.1", "k");
        f.change([](EngineSettings& s) { s.menu = true; });
        QVERIFY(f.readFile("menu-generated.ipxe").contains("kernel tftp://127.0.0.1/vmlinuz-6.1\n"));
        const int listings = f.platform->fileSystem().folderListings;
        for (int i = 0; i < 5; ++i)
            QCOMPARE(f.ask(ipxe).size(), 1);
        QCOMPARE(f.platform->fileSystem().folderListings, listings);
        f.writeFile("initrd.img-6.1", "i");
        f.clock().advance(1000);
        QVERIFY(f.readFile("menu-generated.ipxe").contains("initrd --name initrd tftp://127.0.0.1/initrd.img-6.1\n"));
        // The menu's own settings apply on their next look; HTTP moves the files to it.
        f.change([](EngineSettings& s) {
            s.menuSeconds = 3;
            s.httpEnabled = true;
        });
        f.clock().advance(1000);
        const QByteArray script = f.readFile("menu-generated.ipxe");
        QVERIFY(script.contains("--timeout 3000"));
        QVERIFY(script.contains("kernel http://127.0.0.1:8080/vmlinuz-6.1"));
        // Turned off: iPXE gets BootFileIpxe again, and the folder is no longer looked at.
        f.change([](EngineSettings& s) { s.menu = false; });
        QCOMPARE(reply(f.ask(ipxe).value(0)).option(Dhcp::OptBootFile), QByteArray("boot.ipxe"));
        f.writeFile("linux", "k");
        f.clock().advance(2000);
        QVERIFY(!f.readFile("menu-generated.ipxe").contains("linux"));
    }

    // With the Secure Boot chain on, UEFI PXE gets the shim only beside a whole chain (a
    // missing member is named in a red row), and the names the chain may lack end in a
    // neutral, silent row while the client still hears "not found".
    void secureBootChain() {
        BootFixture f;
        f.change([](EngineSettings& s) {
            s.secureBootChain = true;
            s.bootFileUefi.clear();
        });
        QDir(f.root()).mkdir(QStringLiteral("grub"));
        for (const char* name : {"shimx64.efi", "mmx64.efi", "grub/grub.cfg"})
            f.writeFile(name, "x");
        const QByteArray uefi = packet(Dhcp::DISCOVER, {vendor("PXEClient"), arch(7)});
        QList<FakeDatagram> out = f.ask(uefi);
        QCOMPARE(out.size(), 1);
        QCOMPARE(reply(out[0]).option(Dhcp::OptBootFile), QByteArray("shimx64.efi"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Offered to UEFI; Secure Boot chain lacks signed GRUB (grubx64.efi)"));
        QCOMPARE(f.window.sounds, QList<int>{SOUND_FAILED});
        f.writeFile("grubx64.efi", "x");
        QCOMPARE(f.ask(uefi).size(), 1);
        QCOMPARE(f.lastRow().state, ROW_SENT);

        struct Case {
            QByteArray name;
            bool chainOn;
            RowState state;
            QString info;
        };
        const QString notFound = QStringLiteral("Error: Requested File Not Found!!");
        const QList<Case> cases = {
            {"/grub/x86_64-efi/command.lst", true, ROW_NOTED, QStringLiteral("not present, optional")},
            {"revocations_sbat.efi", true, ROW_NOTED, QStringLiteral("not present, optional")},
            {"/grub/x86_64-efi/grub.cfg", true, ROW_FAILED, notFound},
            {"/grub/x86_64-efi/command.lst", false, ROW_FAILED, notFound},
        };
        for (const Case& c : cases) {
            f.change([&c](EngineSettings& s) { s.secureBootChain = c.chainOn; });
            f.window.sounds.clear();
            f.net().takeSent();
            f.rrq(c.name);
            const QList<QByteArray> sent = f.sent();
            QCOMPARE(sent.size(), 1);
            QCOMPARE(sent[0], EngineFixture::error(1));
            QCOMPARE(f.lastRow().state, c.state);
            QCOMPARE(f.lastRow().texts.info, c.info);
            QCOMPARE(f.window.sounds.contains(SOUND_FAILED), c.state == ROW_FAILED);
        }
    }
};

QTEST_GUILESS_MAIN(TestDhcp)
#include "tst_dhcp.moc"
