#include "engine/dhcp/Dhcp6Answer.h"

#include <QFile>
#include <QtTest>

// Our DHCPv6 answers from values: each row plays a client's messages (OVMF's and iPXE's
// captured Solicits, or one made from them) against one lease table, each message made
// from the reply before it as a client would, and checks the last answer.
class TestDhcp6Answers : public QObject {
    Q_OBJECT

    static QByteArray captured(const char* name) {
        QFile f(QStringLiteral(DHCP_DATA "/") + QLatin1String(name));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("no capture %s", name);
        return f.readAll();
    }
    static Dhcp6::Packet parsed(const QByteArray& bytes) {
        Dhcp6::Packet p;
        if (!Dhcp6::Parse(bytes.constData(), bytes.size(), &p))
            qFatal("unreadable");
        return p;
    }
    static void replace(Dhcp6::Packet& p, quint16 code, const QList<QByteArray>& values) {
        p.options.removeIf([code](const auto& o) { return o.first == code; });
        for (const QByteArray& v : values)
            p.options.append({code, v});
    }
    static QByteArray ia(quint32 iaid, const QString& address = {}) {
        Dhcp6::IaNa v{iaid, 0, 0, {}, -1, {}};
        if (!address.isEmpty())
            v.addresses.append({QHostAddress(address), 0, 0});
        return Dhcp6::WriteIaNa(v);
    }
    // The client a row names, as its Solicit.
    static Dhcp6::Packet client(const QString& name) {
        if (name == QLatin1String("ovmf"))
            return parsed(captured("ovmf-solicit6.bin"));
        if (name == QLatin1String("ipxe"))
            return parsed(captured("ipxe-solicit6.bin"));
        Dhcp6::Packet p = parsed(captured("ovmf-solicit6.bin"));
        if (name == QLatin1String("http")) {
            replace(p, Dhcp6::OptClientArch, {QByteArray::fromHex("0010")});
            replace(p, Dhcp6::OptVendorClass,
                    {QByteArray::fromHex("000001570015") + "HTTPClient:Arch:00016"});
        } else if (name == QLatin1String("two-ias")) {
            replace(p, Dhcp6::OptIaNa, {ia(1), ia(2)});
        } else if (name == QLatin1String("other")) { // a DHCPv6 client, no PXE
            replace(p, Dhcp6::OptClientId, {QByteArray::fromHex("000300010200000000aa")});
            replace(p, Dhcp6::OptClientArch, {});
            replace(p, Dhcp6::OptVendorClass, {});
            replace(p, Dhcp6::OptOro, {QByteArray::fromHex("0017")});
        }
        return p;
    }
    // What a client sends next, from the reply before it (RFC 8415 18.2).
    static Dhcp6::Packet next(Dhcp6::Packet p, const QByteArray& word, const Dhcp6::Packet& last) {
        static const QMap<QByteArray, quint8> types{
            {"solicit", Dhcp6::SOLICIT},       {"request", Dhcp6::REQUEST},
            {"renew", Dhcp6::RENEW},           {"rebind", Dhcp6::REBIND},
            {"release", Dhcp6::RELEASE},       {"decline", Dhcp6::DECLINE},
            {"confirm", Dhcp6::CONFIRM},       {"inform", Dhcp6::INFORMATION_REQUEST},
            {"request-other", Dhcp6::REQUEST}, {"confirm-off", Dhcp6::CONFIRM},
            {"rebind-other", Dhcp6::REBIND}};
        p.type = types.value(word);
        p.xid += 1;
        const bool named = p.type == Dhcp6::REQUEST || p.type == Dhcp6::RENEW ||
                           p.type == Dhcp6::RELEASE || p.type == Dhcp6::DECLINE;
        if (named)
            replace(p, Dhcp6::OptServerId,
                    {word == "request-other" ? QByteArray::fromHex("000300010200000000ff")
                                             : last.option(Dhcp6::OptServerId)});
        if (p.type != Dhcp6::SOLICIT && last.has(Dhcp6::OptIaNa))
            replace(p, Dhcp6::OptIaNa, last.all(Dhcp6::OptIaNa));
        if (word == "confirm-off")
            replace(p, Dhcp6::OptIaNa, {ia(1, QStringLiteral("2001:db8:99::5"))});
        if (word == "rebind-other")
            replace(p, Dhcp6::OptIaNa, {ia(1, QStringLiteral("2001:db8:51::9000"))});
        if (p.type == Dhcp6::INFORMATION_REQUEST)
            replace(p, Dhcp6::OptIaNa, {});
        return p;
    }

private slots:
    void answers_data() {
        QTest::addColumn<QString>("who");
        QTest::addColumn<QByteArrayList>("steps"); // the last is checked
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("type"); // 0: no reply
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<int>("status"); // of the first IA, else the message's; -1: none
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<QString>("info");
        const QString a0 = QStringLiteral("2001:db8:51::1000");
        const QByteArray nbp = "tftp://[2001:db8:51::1]/nbp6.efi";
        using L = QByteArrayList;
        const int adv = Dhcp6::ADVERTISE, rep = Dhcp6::REPLY;
        QTest::newRow("OVMF Solicit") << "ovmf" << L{"solicit"} << "" << adv << QStringList{a0}
                                      << -1 << nbp << "Offered " + a0;
        QTest::newRow("OVMF Request")
            << "ovmf" << L{"solicit", "request"} << "" << rep << QStringList{a0} << -1 << nbp
            << "Leased " + a0 + " for 1 h";
        QTest::newRow("iPXE") << "ipxe" << L{"solicit"} << "" << adv << QStringList{a0} << -1
                              << QByteArray("tftp://[2001:db8:51::1]/v6.ipxe") << "Offered " + a0;
        QTest::newRow("iPXE, menu on")
            << "ipxe" << L{"solicit"} << "menu" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/menu-generated.ipxe") << "Offered " + a0;
        QTest::newRow("HTTPClient")
            << "http" << L{"solicit"} << "" << adv << QStringList{a0} << -1
            << QByteArray("http://[2001:db8:51::1]:8080/x.efi") << "Offered " + a0;
        QTest::newRow("HTTPClient, large: the cache's URL")
            << "http" << L{"solicit"} << "cache" << adv << QStringList{a0} << -1
            << QByteArray("http://cache.example:8081/x.efi") << "Offered " + a0;
        QTest::newRow("not PXE, no 59 asked")
            << "other" << L{"solicit"} << "" << adv << QStringList{a0} << -1 << QByteArray()
            << "Offered " + a0;
        QTest::newRow("Request naming another server")
            << "ovmf" << L{"solicit", "request-other"} << "" << 0 << QStringList{} << -1
            << QByteArray() << "";
        QTest::newRow("Renew after expiry")
            << "ovmf" << L{"solicit", "request", "renew"} << "late" << rep << QStringList{a0} << -1
            << nbp << "Leased " + a0 + " for 1 h";
        QTest::newRow("Renew of an address another took")
            << "ovmf" << L{"solicit", "request", "renew"} << "taken" << rep << QStringList{}
            << int(Dhcp6::NoBinding) << nbp << "NoBinding: " + a0 + " is not this client's";
        QTest::newRow("Rebind") << "ovmf" << L{"solicit", "request", "rebind"} << "" << rep
                                << QStringList{a0} << -1 << nbp << "Leased " + a0 + " for 1 h";
        QTest::newRow("Rebind of another's address")
            << "ovmf" << L{"solicit", "request", "rebind-other"} << "" << 0 << QStringList{} << -1
            << QByteArray() << "";
        QTest::newRow("Release") << "ovmf" << L{"solicit", "request", "release"} << "" << rep
                                 << QStringList{} << int(Dhcp6::Success) << QByteArray()
                                 << "Released " + a0;
        QTest::newRow("Decline") << "ovmf" << L{"solicit", "request", "decline"} << "" << rep
                                 << QStringList{} << int(Dhcp6::Success) << QByteArray()
                                 << "Declined " + a0 +
                                        ": in use by another machine, not given for 10 min";
        QTest::newRow("Release of an address never held")
            << "ovmf" << L{"solicit", "request", "release"} << "taken" << rep << QStringList{}
            << int(Dhcp6::Success) << QByteArray() << "";
        QTest::newRow("Confirm on the link")
            << "ovmf" << L{"solicit", "request", "confirm"} << "" << rep << QStringList{}
            << int(Dhcp6::Success) << QByteArray() << "Confirmed " + a0;
        QTest::newRow("Confirm off the link")
            << "ovmf" << L{"confirm-off"} << "" << rep << QStringList{} << int(Dhcp6::NotOnLink)
            << QByteArray() << "NotOnLink: 2001:db8:99::5 is not on this link";
        QTest::newRow("Information-request")
            << "ipxe" << L{"inform"} << "" << rep << QStringList{} << -1
            << QByteArray("tftp://[2001:db8:51::1]/v6.ipxe") << "Informed (no address)";
        QTest::newRow("pool exhausted")
            << "ovmf" << L{"solicit"} << "full" << adv << QStringList{} << int(Dhcp6::NoAddrsAvail)
            << nbp << "No free address in the pool " + a0 + "-" + a0;
        QTest::newRow("one DUID, two IAIDs") << "two-ias" << L{"solicit", "request"} << "" << rep
                                             << QStringList{a0, QStringLiteral("2001:db8:51::1001")}
                                             << -1 << nbp << "Leased " + a0 + " for 1 h";
        QTest::newRow("boot file missing")
            << "ovmf" << L{"solicit"} << "missing" << adv << QStringList{a0} << -1 << QByteArray()
            << "Offered " + a0 + "; Boot File Missing: gone.efi";
        // HostsFile by the client's MAC (Dhcp6::ClientMac): OVMF's DUID-LLT carries it,
        // iPXE's DUID-UUID none, so its EUI-64 link-local address tells it.
        QTest::newRow("known host: its own file")
            << "ovmf" << L{"solicit"} << "known" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/own.efi") << "Offered " + a0;
        QTest::newRow("only known hosts: not in HostsFile")
            << "ovmf" << L{"solicit"} << "only-other" << 0 << QStringList{} << -1 << QByteArray()
            << "Not in HostsFile (OnlyKnownHosts)";
        QTest::newRow("only known hosts: iPXE by its link-local address")
            << "ipxe" << L{"solicit"} << "only-ipxe" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/v6.ipxe") << "Offered " + a0;
        QTest::newRow("only known hosts: iPXE from a random address has no MAC")
            << "ipxe" << L{"solicit"} << "only-ipxe random" << 0 << QStringList{} << -1
            << QByteArray() << "Not in HostsFile (OnlyKnownHosts): its MAC is not known";
        QTest::newRow("iPXE, menu on: its own script by MAC")
            << "ipxe" << L{"solicit"} << "menu own" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/boot-52-54-00-4e-42-17.ipxe") << "Offered " + a0;
        QTest::newRow("iPXE, menu on, no MAC: never boot-.ipxe")
            << "ipxe" << L{"solicit"} << "menu own random" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/menu-generated.ipxe") << "Offered " + a0;
        QTest::newRow("Secure Boot chain: the shim")
            << "ovmf" << L{"solicit"} << "shim" << adv << QStringList{a0} << -1
            << QByteArray("tftp://[2001:db8:51::1]/shimx64.efi")
            << "Offered " + a0 + "; Secure Boot chain lacks GRUB configuration (grub/grub.cfg)";
    }
    void answers() {
        QFETCH(QString, who);
        QFETCH(QByteArrayList, steps);
        QFETCH(QString, setup);
        QFETCH(int, type);
        QFETCH(QStringList, addresses);
        QFETCH(int, status);
        QFETCH(QByteArray, url);
        QFETCH(QString, info);

        Dhcp6::Config c;
        c.server = QHostAddress(QStringLiteral("2001:db8:51::1"));
        c.serverDuid = Dhcp6::DuidOf(QByteArray::fromHex("020000000001"));
        c.poolFirst = QHostAddress(QStringLiteral("2001:db8:51::1000"));
        c.poolSize = setup == QLatin1String("full") ? 1 : 256;
        QSet<QByteArray> files{"nbp6.efi",    "v6.ipxe",     "x.efi",     "menu-generated.ipxe",
                               "shimx64.efi", "grubx64.efi", "mmx64.efi", "own.efi"};
        // Where iPXE sends from: its EUI-64 link-local address, or a random one.
        const bool random = setup.contains(QLatin1String("random"));
        const QHostAddress from(random ? QStringLiteral("fe80::1c2a:3b4c:5d6e:7f80")
                                       : QStringLiteral("fe80::5054:ff:fe4e:4217"));
        const QString ovmfMac = QStringLiteral("52:54:00:4e:42:16"),
                      ipxeMac = QStringLiteral("52:54:00:4e:42:17");
        if (setup == QLatin1String("known"))
            c.hosts.insert(Dhcp::ParseMac(ovmfMac), QStringLiteral("own.efi"));
        c.onlyKnownHosts = setup.startsWith(QLatin1String("only"));
        if (c.onlyKnownHosts) {
            c.hosts.insert(Dhcp::ParseMac(QStringLiteral("52:54:00:99:99:99")), QString());
            if (setup.startsWith(QLatin1String("only-ipxe")))
                c.hosts.insert(Dhcp::ParseMac(ipxeMac), QString());
            c.hosts.insert(Dhcp::Mac(), QStringLiteral("never.efi")); // no line has none
        }
        c.boot.boot.uefi = setup == QLatin1String("missing") ? QStringLiteral("gone.efi")
                           : setup == QLatin1String("shim")  ? QString()
                                                             : QStringLiteral("nbp6.efi");
        c.boot.boot.secureBootChain = setup == QLatin1String("shim");
        c.boot.boot.ipxe = QStringLiteral("v6.ipxe");
        c.boot.boot.uefiHttp = QStringLiteral("x.efi");
        c.boot.boot.httpEnabled = true;
        c.boot.boot.httpPort = 8080;
        c.boot.boot.menu = setup.startsWith(QLatin1String("menu"));
        if (setup == QLatin1String("cache")) {
            c.boot.boot.redirect.base = QStringLiteral("http://cache.example:8081");
            c.boot.boot.redirect.aboveBytes = 1024;
            c.boot.size = [](const QByteArray&) { return qint64(1) << 20; };
        }
        QStringList listing{QStringLiteral("nbp6.efi")};
        if (setup.startsWith(QLatin1String("menu own")))
            listing << QStringLiteral("boot-.ipxe")
                    << QStringLiteral("boot-52-54-00-4e-42-17.ipxe");
        for (const QString& name : listing)
            files.insert(name.toUtf8());
        c.boot.exists = [files](const QByteArray& name) { return files.contains(name); };
        c.boot.menuListing = [listing] { return listing; };

        Dhcp::CLeaseTable leases(1, quint32(c.poolSize), {}, false);
        qint64 now = 1000000;
        if (setup == QLatin1String("full"))
            leases.Bind(QByteArray::fromHex("020000000099"), 1, now, 3600, "someone");
        const Dhcp6::Packet base = client(who);
        Dhcp6::Packet last;
        Dhcp6::Reply r;
        for (const QByteArray& step : steps) {
            if (step == "renew" && setup == QLatin1String("late"))
                now += 7200; // long after the lease ended; nobody took it
            if ((step == "renew" || step == "release") && setup == QLatin1String("taken")) {
                now += 7200;
                leases.Offer(QByteArray::fromHex("020000000099"), 1, now, "someone");
                leases.Bind(QByteArray::fromHex("020000000099"), 1, now, 3600, "someone");
            }
            r = Dhcp6::Answer(next(base, step, last), from, c, leases, now);
            now += 1;
            if (!r.bytes.isEmpty())
                last = parsed(r.bytes);
        }
        QCOMPARE(r.info, info);
        QCOMPARE(r.otherServer, steps.last() == "request-other");
        if (!r.info.isEmpty()) // the MAC its row shows
            QCOMPARE(Dhcp::MacText(r.mac),
                     who == QLatin1String("ipxe")    ? (random ? QString() : ipxeMac)
                     : who == QLatin1String("other") ? QStringLiteral("02:00:00:00:00:aa")
                                                     : ovmfMac);
        if (!type) {
            QVERIFY(r.bytes.isEmpty());
            return;
        }
        const Dhcp6::Packet reply = parsed(r.bytes);
        QCOMPARE(int(reply.type), type);
        QCOMPARE(reply.xid, (base.xid + 1) & 0xffffff); // each step is made from the Solicit
        QCOMPARE(reply.option(Dhcp6::OptClientId), base.option(Dhcp6::OptClientId));
        QCOMPARE(reply.option(Dhcp6::OptServerId), c.serverDuid);
        QStringList given;
        int got = reply.has(Dhcp6::OptStatusCode)
                      ? int(quint8(reply.option(Dhcp6::OptStatusCode)[1]))
                      : -1;
        for (const QByteArray& value : reply.all(Dhcp6::OptIaNa)) {
            Dhcp6::IaNa v;
            QVERIFY(Dhcp6::ParseIaNa(value, &v));
            if (got < 0)
                got = v.status;
            for (const Dhcp6::IaAddress& a : v.addresses) {
                given << a.address.toString();
                QCOMPARE(a.valid, quint32(3600));
                QCOMPARE(v.t1, quint32(1800));
                QCOMPARE(v.t2, quint32(2880));
            }
        }
        QCOMPARE(given, addresses);
        QCOMPARE(got, status);
        QCOMPARE(reply.option(Dhcp6::OptBootFileUrl), url);
        // edk2 turns to port 4011 (BINL) when it sees PXEClient: never sent.
        QVERIFY(!reply.option(Dhcp6::OptVendorClass).contains("PXEClient"));
        QCOMPARE(reply.option(Dhcp6::OptVendorClass).contains("HTTPClient"),
                 who == QLatin1String("http"));
        QCOMPARE(reply.has(Dhcp6::OptPreference), type == Dhcp6::ADVERTISE);
    }

    // Messages that get nothing at all.
    void unanswered_data() {
        QTest::addColumn<QByteArray>("change");
        QTest::newRow("no client DUID") << QByteArray("no-duid");
        QTest::newRow("Solicit naming a server") << QByteArray("server-id");
        QTest::newRow("an Advertise") << QByteArray("advertise");
        QTest::newRow("Release without server") << QByteArray("release");
    }
    void unanswered() {
        QFETCH(QByteArray, change);
        Dhcp6::Packet p = client(QStringLiteral("ovmf"));
        if (change == "no-duid")
            replace(p, Dhcp6::OptClientId, {});
        if (change == "server-id")
            replace(p, Dhcp6::OptServerId, {QByteArray::fromHex("000300010200000000ff")});
        if (change == "advertise")
            p.type = Dhcp6::ADVERTISE;
        if (change == "release")
            p.type = Dhcp6::RELEASE;
        Dhcp6::Config c;
        c.server = QHostAddress(QStringLiteral("2001:db8:51::1"));
        c.serverDuid = Dhcp6::DuidOf(QByteArray::fromHex("020000000001"));
        c.poolFirst = QHostAddress(QStringLiteral("2001:db8:51::1000"));
        Dhcp::CLeaseTable leases(1, 256, {}, false);
        const Dhcp6::Reply r = Dhcp6::Answer(
            p, QHostAddress(QStringLiteral("fe80::5054:ff:fe4e:4216")), c, leases, 1000);
        QVERIFY(r.bytes.isEmpty());
        QVERIFY(r.info.isEmpty());
        QVERIFY(leases.Leases().isEmpty());
    }

    // The pool's slots and addresses, at the edges of the pool and of the /64.
    void pool_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("slot");
        QTest::newRow("first") << "2001:db8:51::1000" << 256 << "2001:db8:51::1000" << 1;
        QTest::newRow("last") << "2001:db8:51::1000" << 256 << "2001:db8:51::10ff" << 256;
        QTest::newRow("past the last") << "2001:db8:51::1000" << 256 << "2001:db8:51::1100" << 0;
        QTest::newRow("below") << "2001:db8:51::1000" << 256 << "2001:db8:51::fff" << 0;
        QTest::newRow("another /64") << "2001:db8:51::1000" << 256 << "2001:db8:52::1000" << 0;
        QTest::newRow("across 32 bits")
            << "2001:db8:51::ffff:ffff" << 65536 << "2001:db8:51::1:0:0" << 2;
        QTest::newRow("end of the /64")
            << "2001:db8:51:0:ffff:ffff:ffff:ffff" << 2 << "2001:db8:51::" << 0;
        QTest::newRow("IPv4") << "2001:db8:51::1000" << 256 << "198.51.100.1" << 0;
    }
    void pool() {
        QFETCH(QString, first);
        QFETCH(int, size);
        QFETCH(QString, address);
        QFETCH(int, slot);
        Dhcp6::Config c;
        c.poolFirst = QHostAddress(first);
        c.poolSize = size;
        QCOMPARE(int(Dhcp6::PoolSlot(c, QHostAddress(address))), slot);
        if (slot)
            QCOMPARE(Dhcp6::PoolAddress(c, quint32(slot)), QHostAddress(address));
        QVERIFY(Dhcp6::PoolAddress(c, 0).isNull());
        QVERIFY(Dhcp6::PoolAddress(c, quint32(size) + 1).isNull());
    }
};

QTEST_GUILESS_MAIN(TestDhcp6Answers)
#include "tst_dhcp6_answers.moc"
