#include "DhcpCommand.h"
#include "DialogFixture.h"
#include "ModalDriver.h"
#include "engine/dhcp/DhcpValues.h"
#include "engine/dhcp/LeaseTable.h"
#include "ui/dialogs/DhcpDlg.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

namespace {
QNetworkAddressEntry Entry(const char* address, int prefix) {
    QNetworkAddressEntry e;
    e.setIp(QHostAddress(QLatin1String(address)));
    e.setPrefixLength(prefix);
    return e;
}
DhcpLink Link(const char* device, const char* address, int prefix) {
    return {QLatin1String(device), QHostAddress(QLatin1String(address)), prefix};
}
// A laptop: an interface switched on with an address but no carrier (listed first, so
// that a dialog counting it as up would name it), loopback, its LAN, and a USB adapter
// cabled to a device that is still off.
const QList<LinkChoice> kLinks = {
    {"eth1", true, false, false, {Entry("198.51.100.7", 24)}},
    {"lo", true, true, true, {Entry("127.0.0.1", 8)}},
    {"eth0", true, true, false, {Entry("192.0.2.10", 24), Entry("2001:db8::10", 64)}},
    {"enx00e04c680001", true, false, false, {Entry("fe80::1", 64)}},
};
} // namespace
Q_DECLARE_METATYPE(DhcpLink)

class TestDhcpDialog : public QObject {
    Q_OBJECT

private slots:
    // From the values typed to the message OK shows (empty: stored), and the pool the
    // server would then hand out.
    void entriesChecked_data() {
        QTest::addColumn<QStringList>("typed"); // router, dns, pool first, pool last, lease
        QTest::addColumn<DhcpLink>("link");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("pool");
        const DhcpLink eth1 = Link("eth1", "192.168.1.10", 24), none;
        QTest::newRow("defaults") << QStringList{"", "", "", "", "3600"} << eth1 << ""
                                  << "192.168.1.11-192.168.1.60";
        QTest::newRow("everything") << QStringList{"192.168.1.1", "9.9.9.9; 1.1.1.1 8.8.8.8",
                                                   "192.168.1.100", "192.168.1.120", "60"}
                                    << eth1 << "" << "192.168.1.100-192.168.1.120";
        QTest::newRow("pool of one") << QStringList{"", "", " 192.168.1.20 ", "", ""} << eth1
                                     << "" << "192.168.1.20-192.168.1.20";
        QTest::newRow("no address yet: any network") << QStringList{"", "", "10.0.0.5", "10.0.0.9", ""}
                                                     << none << "" << "10.0.0.5-10.0.0.9";
        QTest::newRow("no address yet, no pool") << QStringList{"", "", "", "", ""} << none << ""
                                                 << "";
        QTest::newRow("router") << QStringList{"192.168.1", "", "", "", ""} << eth1
                                << "Router: \"192.168.1\" is not an IPv4 address (such as 192.168.1.1)"
                                << "";
        QTest::newRow("dns") << QStringList{"", "9.9.9.9, dns.example", "", "", ""} << eth1
                             << "DNS servers: \"dns.example\" is not an IPv4 address (IPv4 "
                                "addresses such as 192.168.1.1, separated by commas)"
                             << "";
        QTest::newRow("last alone") << QStringList{"", "", "", "192.168.1.60", ""} << eth1
                                    << "Pool: the first address is missing (both empty: up to 50 "
                                       "addresses after ours)"
                                    << "";
        QTest::newRow("not an address") << QStringList{"", "", "192.168.1.20", "192.168.1.300", ""}
                                        << eth1
                                        << "Pool: \"192.168.1.300\" is not an IPv4 address (such "
                                           "as 192.168.1.100)"
                                        << "";
        QTest::newRow("reversed") << QStringList{"", "", "192.168.1.60", "192.168.1.11", ""} << eth1
                                  << "Pool: the first address 192.168.1.60 comes after the last "
                                     "192.168.1.11"
                                  << "";
        QTest::newRow("other network") << QStringList{"", "", "10.0.0.5", "10.0.0.9", ""} << eth1
                                       << "Pool: 10.0.0.5-10.0.0.9 is not in the network of eth1 "
                                          "(192.168.1.0/24)"
                                       << "";
        QTest::newRow("runs out of the network")
            << QStringList{"", "", "192.168.1.250", "192.168.2.5", ""} << eth1
            << "Pool: 192.168.1.250-192.168.2.5 is not in the network of eth1 (192.168.1.0/24)" << "";
        QTest::newRow("no room after ours") << QStringList{"", "", "", "", ""}
                                            << Link("eth1", "192.168.1.254", 24)
                                            << "Pool: no free addresses after 192.168.1.254 in its "
                                               "network: give the first and the last address"
                                            << "";
        QTest::newRow("pool holds ours") << QStringList{"", "", "192.168.1.1", "192.168.1.30", ""}
                                         << eth1
                                         << "Pool: 192.168.1.1-192.168.1.30 holds 192.168.1.10, the "
                                            "server's own address on eth1"
                                         << "";
        QTest::newRow("pool of ours alone") << QStringList{"", "", "192.168.1.10", "", ""} << eth1
                                            << "Pool: 192.168.1.10-192.168.1.10 holds 192.168.1.10, "
                                               "the server's own address on eth1"
                                            << "";
        QTest::newRow("every field wrong: all named, top down")
            << QStringList{"192.168.1", "dns.example", "192.168.1.60", "192.168.1.11", "1h"} << eth1
            << "Pool: the first address 192.168.1.60 comes after the last 192.168.1.11\n"
               "Router: \"192.168.1\" is not an IPv4 address (such as 192.168.1.1)\n"
               "DNS servers: \"dns.example\" is not an IPv4 address (IPv4 addresses such as "
               "192.168.1.1, separated by commas)\n"
               "Lease time: whole seconds from 60 to 31622400 (3600 is an hour)"
            << "";
        const QString def = "192.168.1.11-192.168.1.60";
        const QString lease = "Lease time: whole seconds from 60 to 31622400 (3600 is an hour)";
        QTest::newRow("lease short") << QStringList{"", "", "", "", "59"} << eth1 << lease << def;
        QTest::newRow("lease long") << QStringList{"", "", "", "", "31622401"} << eth1 << lease << def;
        QTest::newRow("lease words") << QStringList{"", "", "", "", "1h"} << eth1 << lease << def;
        QTest::newRow("lease empty: default") << QStringList{"", "", "", "", " "} << eth1 << ""
                                              << "192.168.1.11-192.168.1.60";
    }
    void entriesChecked() {
        QFETCH(QStringList, typed);
        QFETCH(DhcpLink, link);
        DhcpOptions o;
        o.router = typed[0];
        o.dnsServers = typed[1];
        o.poolFirst = typed[2];
        o.poolLast = typed[3];
        QFETCH(QString, problem);
        QFETCH(QString, pool);
        QCOMPARE(CDhcpDlg::Problem(o, typed[4], link), problem);
        const Dhcp::Values values = Dhcp::ReadValues(o, link);
        QCOMPARE(values.poolFirst ? Dhcp::AddressText(values.poolFirst) + QLatin1Char('-') +
                                        Dhcp::AddressText(values.poolLast)
                                  : QString(),
                 pool);
    }

    // The DHCPv6 pool by the server's own rule, on a link whose global /64 is known or not.
    void pool6Checked_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("problem");
        const QString ours = QStringLiteral("2001:db8:5::1");
        QTest::newRow("empty: ::1000 in the /64") << "" << 256 << ours << "";
        QTest::newRow("in the /64") << " 2001:db8:5::2000 " << 65536 << ours << "";
        QTest::newRow("another /64")
            << "2001:db8:6::10" << 256 << ours
            << "IPv6 pool: Pool6First 2001:db8:6::10 is not in 2001:db8:5::/64";
        const QString notAddress = QStringLiteral(
            "IPv6 pool: Pool6First \"%1\" is not an IPv6 address (such as 2001:db8::1000)");
        QTest::newRow("IPv4") << "192.168.1.10" << 256 << ours << notAddress.arg("192.168.1.10");
        QTest::newRow("a number") << "4096" << 256 << ours << notAddress.arg("4096");
        QTest::newRow("with a scope")
            << "2001:db8:5::10%eth0" << 256 << ours << notAddress.arg("2001:db8:5::10%eth0");
        QTest::newRow("cut") << "2001:db8:5:" << 256 << ours << notAddress.arg("2001:db8:5:");
        QTest::newRow("past the end of the /64")
            << "2001:db8:5::ffff:ffff:ffff:ff80" << 256 << ours
            << "IPv6 pool: the pool of 256 from 2001:db8:5:0:ffff:ffff:ffff:ff80 runs past the end "
               "of 2001:db8:5::/64";
        QTest::newRow("up to the end of the /64")
            << "2001:db8:5::ffff:ffff:ffff:ff80" << 128 << ours << "";
        QTest::newRow("no /64 known: any address") << "2001:db8:6::10" << 256 << ""
                                                   << "";
        QTest::newRow("no /64 known, empty") << "" << 256 << ""
                                             << "";
        QTest::newRow("no /64 known, not an address")
            << "pool" << 256 << "" << notAddress.arg("pool");
    }
    void pool6Checked() {
        QFETCH(QString, first);
        QFETCH(int, size);
        QFETCH(QString, server);
        QFETCH(QString, problem);
        QCOMPARE(CDhcpDlg::Pool6Problem(first, size, QHostAddress(server)), problem);
    }

    // An interface with no IPv4 address is offered the one its pool implies.
    void suggestedAddress_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("address");
        QTest::newRow("no pool") << "" << "" << "192.168.1.10/24";
        QTest::newRow("the default pool's ours") << "192.168.1.11" << "192.168.1.60" << "192.168.1.10/24";
        QTest::newRow("before a pool of one") << "10.0.0.100" << "" << "10.0.0.99/24";
        QTest::newRow("after, none before") << "10.0.0.1" << "10.0.0.50" << "10.0.0.51/24";
        QTest::newRow("wider network") << "10.0.0.200" << "10.0.1.20" << "10.0.0.199/23";
        QTest::newRow("whole network") << "10.0.0.1" << "10.0.0.254" << "192.168.1.10/24";
        QTest::newRow("not an address") << "10.0.0" << "" << "192.168.1.10/24";
    }
    void suggestedAddress() {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, address);
        QCOMPARE(CDhcpDlg::SuggestedAddress(first, last), address);
    }

    // Interfaces by name, link state and addresses; where DHCP and the boot offers answer;
    // for one with no IPv4 address, the command that gives it one and Copy.
    void interfacesAndWhereItAnswers() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        store.WriteProfileString(CSettingsStore::kDhcpInterface, QStringLiteral("usb9"));
        CDhcpDlg dlg(store, QHostAddress(QHostAddress::AnyIPv4), kLinks);
        auto* combo = dlg.findChild<QComboBox*>(QStringLiteral("interfaceCombo"));
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, (QStringList{"The listen address's: eth0, link up, 192.0.2.10/24",
                                     "eth1, link down, 198.51.100.7/24",
                                     "eth0, link up, 192.0.2.10/24",
                                     "enx00e04c680001, link down, no IPv4 address",
                                     "usb9, not present"}));
        QCOMPARE(combo->currentIndex(), 4); // stored, though unplugged now
        auto* answers = dlg.findChild<QLabel*>(QStringLiteral("dhcpAnswersOn"));
        auto* boot = dlg.findChild<QLabel*>(QStringLiteral("bootAnswersOn"));
        auto* nmcli = dlg.findChild<QLabel*>(QStringLiteral("nmcliCommand"));
        QCOMPARE(answers->text(), QStringLiteral("usb9 is not present now."));
        QVERIFY2(boot->text().contains(QLatin1String("answer on eth0 (192.0.2.10).")),
                 qPrintable(boot->text()));

        combo->setCurrentIndex(0); // the listen address's: the boot offers' own
        QCOMPARE(answers->text(),
                 QStringLiteral("DHCP answers on eth0 (192.0.2.10/24), pool 192.0.2.11-192.0.2.60."));
        QVERIFY(boot->text().contains(QLatin1String("names the boot files itself")));
        QVERIFY(nmcli->isHidden());
        // What the engine itself chooses from the same interfaces.
        LinkWait wait;
        const QList<NetInterface> system = {
            {"eth1", NetInterface::CountsUp(true, false), false, {QHostAddress("198.51.100.7")}, {24}},
            {"eth0", NetInterface::CountsUp(true, true), false, {QHostAddress("192.0.2.10")}, {24}}};
        QCOMPARE(FindDhcpLink({}, QHostAddress(QHostAddress::AnyIPv4), system, &wait).device,
                 QStringLiteral("eth0"));
        combo->setCurrentIndex(1);
        QCOMPARE(answers->text(), QStringLiteral("DHCP answers on eth1 (198.51.100.7/24), pool "
                                                 "198.51.100.8-198.51.100.57; the link is down now "
                                                 "(no cable, or the device is off)."));

        combo->setCurrentIndex(3);
        QVERIFY(answers->text().startsWith(QLatin1String("enx00e04c680001 has no IPv4 address")));
        QVERIFY(!nmcli->isHidden());
        QCOMPARE(nmcli->text(), QStringLiteral("nmcli connection add type ethernet ifname "
                                               "enx00e04c680001 con-name \"Vantrel direct link\" "
                                               "ipv4.method manual ipv4.addresses 192.168.1.10/24"));
        dlg.findChild<QLineEdit*>(QStringLiteral("poolFirstEdit"))->setText(QStringLiteral("10.1.1.100"));
        QVERIFY(nmcli->text().endsWith(QLatin1String(" ipv4.addresses 10.1.1.99/24")));
        dlg.findChild<QPushButton*>(QStringLiteral("copyButton"))->click();
        QCOMPARE(QApplication::clipboard()->text(), nmcli->text());
    }

    // OK stores every key (a bad entry first keeps the dialog open, naming the field);
    // Cancel stores nothing; reopened, the dialog shows what was stored.
    void okStoresCancelDoesNot() {
        DialogFixture f;
        const auto fill = [](QWidget* w, const QString& router,
                             const QString& pool6 = QStringLiteral("2001:db8:5::2000")) {
            ModalDriver::setChecked(w, "enabledCheck", true);
            ModalDriver::setChecked(w, "ipv6Check", true);
            ModalDriver::setText(w, "pool6FirstEdit", pool6);
            w->findChild<QSpinBox*>(QStringLiteral("pool6SizeSpin"))->setValue(512);
            ModalDriver::setText(w, "routerEdit", router);
            ModalDriver::setText(w, "dnsEdit", QStringLiteral("9.9.9.9"));
            ModalDriver::setText(w, "leaseEdit", QStringLiteral("7200"));
            ModalDriver::setText(w, "hostsEdit", QStringLiteral("/etc/vantrel-hosts"));
            ModalDriver::setChecked(w, "onlyKnownCheck", true);
        };
        {
            ModalDriver driver({{[&](QWidget* w) {
                fill(w, QStringLiteral("127.0.0.1"));
                qobject_cast<QDialog*>(w)->reject();
            }}});
            RunDhcpCommand(f.engine, f.store, QHostAddress::LocalHost, nullptr);
            QVERIFY(driver.finished());
        }
        QCOMPARE(f.StoredKeys().filter(QStringLiteral("Dhcp/")), QStringList());
        {
            ModalDriver driver(
                {{[&](QWidget* w) {
                     fill(w, QStringLiteral("127.0.0"), QStringLiteral("2001:db8::zz"));
                     qobject_cast<QDialog*>(w)->accept();
                 }},
                 {[](QWidget* w) {
                     auto* box = qobject_cast<QMessageBox*>(w);
                     if (!box || box->text() !=
                                     QLatin1String("Router: \"127.0.0\" is not an IPv4 "
                                                   "address (such as 192.168.1.1)\n"
                                                   "IPv6 pool: Pool6First \"2001:db8::zz\" is not "
                                                   "an IPv6 address (such as 2001:db8::1000)"))
                         ModalDriver::Errors() << QStringLiteral("no Router and IPv6 pool warning");
                     w->close();
                 }},
                 {[&](QWidget* w) {
                      fill(w, QStringLiteral("127.0.0.1"));
                      qobject_cast<QDialog*>(w)->accept();
                  },
                  true}});
            RunDhcpCommand(f.engine, f.store, QHostAddress::LocalHost, nullptr);
            QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
            QVERIFY(driver.finished());
        }
        QVERIFY(f.store.DhcpEnabled());
        QCOMPARE(f.store.DhcpRouter(), QStringLiteral("127.0.0.1"));
        QCOMPARE(f.store.DhcpDnsServers(), QStringLiteral("9.9.9.9"));
        QCOMPARE(f.store.DhcpLeaseSeconds(), 7200);
        QCOMPARE(f.store.DhcpHostsFile(), QStringLiteral("/etc/vantrel-hosts"));
        QVERIFY(f.store.DhcpOnlyKnownHosts());
        QCOMPARE(f.store.DhcpInterface(), QString());
        QVERIFY(f.store.ReadFlag(SettingsTable::DhcpIPv6));
        QCOMPARE(f.store.ReadText(SettingsTable::DhcpPool6First),
                 QStringLiteral("2001:db8:5::2000"));
        QCOMPARE(f.store.ReadNumber(SettingsTable::DhcpPool6Size), 512);

        CDhcpDlg dlg(f.store, QHostAddress::LocalHost, kLinks);
        QVERIFY(dlg.Enabled());
        const DhcpOptions shown = dlg.Options();
        QCOMPARE(shown.router, QStringLiteral("127.0.0.1"));
        QCOMPARE(shown.leaseSeconds, 7200);
        QVERIFY(shown.onlyKnownHosts);
        QCOMPARE(dlg.Pool6First(), QStringLiteral("2001:db8:5::2000"));
        QCOMPARE(dlg.Pool6Size(), 512);
    }
};

QTEST_MAIN(TestDhcpDialog)
#include "tst_dhcp_dialog.moc"
