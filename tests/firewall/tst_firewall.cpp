#include "engine/firewall/FirewallRules.h"
#include "ui/FirewallCheck.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace Firewall;

namespace {
QByteArray Data(const QString& name) {
    QFile f(QStringLiteral(FIREWALL_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
QString Texts(const QList<Port>& ports) {
    QStringList out;
    for (const Port& p : ports)
        out.append(p.text());
    return out.join(QLatin1Char(' '));
}
// Ours with the boot offers and HTTP on: every port of IPv4.
const QList<Port> kOurs = OurPorts(69, true, false, false, 8080);
// And with the DHCPv6 server on too: every port there is.
const QList<Port> kAll = OurPorts(69, true, true, true, 8080);
} // namespace

class TestFirewall : public QObject {
    Q_OBJECT

private slots:
    // Rule files as ufw 0.36 wrote them (data/capture.sh) and the default policy.
    void ufw_data() {
        QTest::addColumn<QByteArray>("rules");
        QTest::addColumn<QByteArray>("defaults");
        QTest::addColumn<QString>("blocked");
        const QByteArray drop = Data(QStringLiteral("default.ufw"));
        QTest::newRow("enabled, nothing allowed") << Data("user.rules.empty") << drop
                                                  << "69/udp 67/udp 4011/udp 8080/tcp";
        QTest::newRow("ufw allow vantrel-server") << Data("user.rules.app") << drop << "";
        QTest::newRow("ufw allow vantrel-server, IPv6") << Data("user6.rules.app") << drop << "";
        QTest::newRow("69/udp, and 8080 on both protocols")
            << Data("user.rules.ports") << drop << "67/udp 4011/udp";
        QTest::newRow("from a subnet, a deny, a range, one interface, outgoing only")
            << Data("user.rules.mixed") << drop << "67/udp";
        QTest::newRow("IPv6 of the same: the subnet's rule is IPv4 only")
            << Data("user6.rules.mixed") << drop << "69/udp 67/udp";
        QTest::newRow("69 on both protocols, a limit, one address, a reject")
            << Data("user.rules.other") << drop << "4011/udp";
        QTest::newRow("IPv6 of the same: the address's rule is IPv4 only")
            << Data("user6.rules.other") << drop << "67/udp 4011/udp";
        QTest::newRow("no rules file settings: DROP") << Data("user.rules.empty") << QByteArray()
                                                      << "69/udp 67/udp 4011/udp 8080/tcp";
        QTest::newRow("incoming ACCEPT by default")
            << Data("user.rules.empty") << QByteArray("DEFAULT_INPUT_POLICY=\"ACCEPT\"\n") << "";
        const QByteArray firstWins = "### RULES ###\n"
                                     "### tuple ### deny udp 69 0.0.0.0/0 any 0.0.0.0/0 in\n"
                                     "### tuple ### allow any any 0.0.0.0/0 any 0.0.0.0/0 in\n"
                                     "### tuple ### route:allow udp 67 0.0.0.0/0 any 0.0.0.0/0 in\n"
                                     "### END RULES ###\n";
        QTest::newRow("the first rule that covers a port decides; routed rules do not count")
            << firstWins << drop << "69/udp";
        const QByteArray outside = "### tuple ### allow any any 0.0.0.0/0 any 0.0.0.0/0 in\n";
        QTest::newRow("a tuple outside the rules section is no rule")
            << outside << drop << "69/udp 67/udp 4011/udp 8080/tcp";
    }
    void ufw() {
        QFETCH(QByteArray, rules);
        QFETCH(QByteArray, defaults);
        QFETCH(QString, blocked);
        QVERIFY(!rules.isEmpty());
        QCOMPARE(Texts(UfwBlocked(rules, defaults, kOurs)), blocked);
    }

    void ufwEnabled() {
        QVERIFY(!UfwEnabled(Data("ufw.conf.default")));
        QVERIFY(UfwEnabled(Data("ufw.conf.enabled")));
        QVERIFY(!UfwEnabled("ENABLED=yes\nENABLED=no\n")); // the last one counts
        QVERIFY(!UfwEnabled("# ENABLED=yes\n"));
    }

    // firewalld: the zone as `firewall-cmd --list-all` prints it, firewalld's own service
    // files for tftp, dhcp and proxy-dhcp, and the one our package installs.
    void firewalld_data() {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QString>("blocked");
        const auto zone = [](const char* target, const char* services, const char* ports) {
            return QByteArray("public (active)\n  target: ") + target +
                   "\n  icmp-block-inversion: no\n  interfaces: eth0\n  sources: \n  services: " +
                   services + "\n  ports: " + ports +
                   "\n  protocols: \n  forward: yes\n  masquerade: no\n  forward-ports: \n"
                   "  source-ports: \n  icmp-blocks: \n  rich rules: \n";
        };
        QTest::newRow("a fresh public zone") << zone("default", "dhcpv6-client ssh", "")
                                             << "69/udp 67/udp 547/udp 4011/udp 8080/tcp";
        QTest::newRow("--add-service=vantrel-server")
            << zone("default", "dhcpv6-client ssh vantrel-server", "") << "";
        QTest::newRow("tftp and dhcp, and a range of ports")
            << zone("default", "tftp dhcp", "8000-8100/tcp 5353/udp") << "547/udp 4011/udp";
        QTest::newRow("tftp, dhcp, dhcpv6 and proxy-dhcp")
            << zone("default", "tftp dhcp dhcpv6 proxy-dhcp", "8080/tcp") << "";
        QTest::newRow("proxy-dhcp and our ports by number")
            << zone("default", "proxy-dhcp", "69/udp 67/udp 8080/udp 547/tcp")
            << "547/udp 8080/tcp";
        QTest::newRow("a service without a file opens nothing")
            << zone("default", "nosuch", "69/udp 547/udp") << "67/udp 4011/udp 8080/tcp";
        QTest::newRow("the trusted zone lets everything in") << zone("ACCEPT", "", "") << "";
        QTest::newRow("the drop zone") << zone("DROP", "vantrel-server", "") << "";
    }
    void firewalld() {
        QFETCH(QByteArray, listing);
        QFETCH(QString, blocked);
        QFile ours(QStringLiteral(FIREWALLD_SERVICE));
        QVERIFY2(ours.open(QIODevice::ReadOnly), FIREWALLD_SERVICE);
        const auto service = [](const char* port) {
            return ParseServiceFile(QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                               "<service>\n  <short>x</short>\n  <port protocol=\"udp\" port=\"") +
                                    port + "\"/>\n</service>\n");
        };
        const QHash<QString, QList<QPair<Port, quint16>>> services{
            {QStringLiteral("vantrel-server"), ParseServiceFile(ours.readAll())},
            {QStringLiteral("tftp"), service("69")},
            {QStringLiteral("dhcp"), service("67")},
            {QStringLiteral("dhcpv6"), service("547")},
            {QStringLiteral("proxy-dhcp"), service("4011")},
            {QStringLiteral("ssh"), {{Port{22, true}, 22}}},
        };
        QCOMPARE(Texts(FirewalldBlocked(ParseZoneListing(listing), services, kAll)), blocked);
    }

    void texts() {
        QCOMPARE(Finding().text(), QString());
        QCOMPARE((Finding{Finding::Kind::Open, QStringLiteral("ufw"), {}}).text(), QString());
        QCOMPARE((Finding{Finding::Kind::Blocked, QStringLiteral("ufw"), {{69, false}, {8080, true}}}).text(),
                 QStringLiteral("firewall (ufw) blocks 69/udp, 8080/tcp: sudo ufw allow vantrel-server"));
        QCOMPARE((Finding{Finding::Kind::Blocked, QStringLiteral("firewalld"), {{69, false}}}).text(),
                 QStringLiteral("firewall (firewalld) blocks 69/udp: sudo firewall-cmd "
                                "--add-service=vantrel-server (and with --permanent to keep it)"));
        QCOMPARE((Finding{Finding::Kind::Unreadable, QStringLiteral("ufw"), {}}).text(),
                 QStringLiteral("firewall (ufw) is on, its rules could not be read; to open our "
                                "ports: sudo ufw allow vantrel-server"));
        QCOMPARE(Texts(OurPorts(6969, false, false, false, 0)), QStringLiteral("6969/udp"));
        QCOMPARE(Texts(OurPorts(69, false, true, false, 0)), QStringLiteral("69/udp 67/udp"));
        QCOMPARE(Texts(OurPorts(69, false, true, true, 0)),
                 QStringLiteral("69/udp 67/udp 547/udp"));
    }

    // The window's check reads ufw's files once per set of ports; rules it cannot read
    // make "on, not read", never "blocked".
    void check() {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("etc/ufw")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("etc/default")));
        const auto put = [&](const QString& path, const QByteArray& bytes) {
            QFile f(root.path() + path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        put(QStringLiteral("/etc/ufw/ufw.conf"), Data("ufw.conf.enabled"));
        put(QStringLiteral("/etc/default/ufw"), Data("default.ufw"));
        CFirewallCheck fw;
        fw.SetRoot(root.path());
        QSignalSpy changed(&fw, &CFirewallCheck::changed);
        fw.Watch(kOurs);
        QCOMPARE(fw.Result().kind, Finding::Kind::Unreadable);
        QCOMPARE(fw.Result().firewall, QStringLiteral("ufw"));

        put(QStringLiteral("/etc/ufw/user.rules"), Data("user.rules.ports"));
        fw.Watch(kOurs); // the same ports: no second look
        QCOMPARE(fw.Result().kind, Finding::Kind::Unreadable);
        fw.Watch(OurPorts(69, false, false, false, 8080));
        QCOMPARE(fw.Result().kind, Finding::Kind::Open);
        fw.Watch(kOurs);
        QCOMPARE(Texts(fw.Result().blocked), QStringLiteral("67/udp 4011/udp"));
        QCOMPARE(changed.count(), 3);
        // DHCPv6's port goes by the IPv6 rules, unread until they are there.
        const QList<Port> dhcp6 = OurPorts(69, false, false, true, 0);
        fw.Watch(dhcp6);
        QCOMPARE(fw.Result().kind, Finding::Kind::Unreadable);
        put(QStringLiteral("/etc/ufw/user6.rules"), Data("user6.rules.ports"));
        fw.Watch(kAll);
        QCOMPARE(Texts(fw.Result().blocked), QStringLiteral("67/udp 547/udp 4011/udp"));
        fw.Watch(dhcp6);
        QCOMPARE(Texts(fw.Result().blocked), QStringLiteral("547/udp"));
        put(QStringLiteral("/etc/ufw/user6.rules"), Data("user6.rules.app"));
        fw.Watch(kAll); // a profile opened before it named 547
        QCOMPARE(Texts(fw.Result().blocked), QStringLiteral("67/udp 547/udp 4011/udp"));
        put(QStringLiteral("/etc/default/ufw"), Data("default.ufw").replace("IPV6=yes", "IPV6=no"));
        fw.Watch(dhcp6); // ufw leaves IPv6 alone
        QCOMPARE(fw.Result().kind, Finding::Kind::Open);

        put(QStringLiteral("/etc/ufw/ufw.conf"), Data("ufw.conf.default"));
        fw.SetFirewallCmd(root.path() + QStringLiteral("/no-firewall-cmd"));
        fw.Watch({});
        QCOMPARE(fw.Result().kind, Finding::Kind::Off);
        fw.Watch(kOurs); // ufw off, firewall-cmd does not start: nothing to say
        QTRY_VERIFY(fw.findChildren<QProcess*>().isEmpty());
        QCOMPARE(fw.Result().kind, Finding::Kind::Off);
    }
};

QTEST_GUILESS_MAIN(TestFirewall)
#include "tst_firewall.moc"
