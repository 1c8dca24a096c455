// The title's address rule.
#include "WindowTitle.h"

#include <QtTest>

using namespace WindowTitle;

class TestTitle : public QObject {
    Q_OBJECT
private slots:
    void defaultRouteFromProcTable();
    void addressChoice();
    void composedTitle();
    void reachableAddresses();
    void urlsCommandsAndServices();
};

void TestTitle::defaultRouteFromProcTable() {
    const QString header = QStringLiteral(
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n");
    // A default route via wlan0 (metric 600) and a better one via eth0 (metric 100);
    // the network route of docker0 is no default route.
    const QString table = header + "wlan0\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                   "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                                   "eth0\t00000000\t0102000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    QCOMPARE(DefaultRouteInterface(table), QStringLiteral("eth0"));
    // A default route that is not up does not count.
    QCOMPARE(DefaultRouteInterface(
                 header + "eth0\t00000000\t0102000A\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"),
             QString());
    QCOMPARE(DefaultRouteInterface(header), QString());
    QCOMPARE(DefaultRouteInterface(QString()), QString());
    QCOMPARE(DefaultRouteInterface(QStringLiteral("garbage\nmore garbage here\n")), QString());
}

void TestTitle::addressChoice() {
    const QList<Interface> interfaces = {
        {QStringLiteral("lo"), true, true, QStringLiteral("127.0.0.1")},
        {QStringLiteral("down0"), false, false, QStringLiteral("10.9.9.9")},
        {QStringLiteral("eth0"), true, false, QStringLiteral("192.168.1.20")},
        {QStringLiteral("wlan0"), true, false, QStringLiteral("10.0.0.7")},
        {QStringLiteral("tun0"), true, false, QString()},
    };
    // The default route's interface wins over the order of the list.
    QCOMPARE(PickAddress(QStringLiteral("wlan0"), interfaces), QStringLiteral("10.0.0.7"));
    // Without a default route (or one through an interface without IPv4): the first
    // up, non-loopback interface with an address.
    QCOMPARE(PickAddress(QString(), interfaces), QStringLiteral("192.168.1.20"));
    QCOMPARE(PickAddress(QStringLiteral("tun0"), interfaces), QStringLiteral("192.168.1.20"));
    // Only loopback and interfaces that are down: nothing.
    QCOMPARE(PickAddress(QString(), interfaces.mid(0, 2)), QString());
    QCOMPARE(PickAddress(QString(), {}), QString());
}

void TestTitle::composedTitle() {
    QCOMPARE(Compose(QString()), QStringLiteral("Vantrel Server 1.0 - "));
    QCOMPARE(Compose(QStringLiteral("192.168.100.200")),
             QStringLiteral("Vantrel Server 1.0 - 192.168.100.200"));
    // At most 19 characters of address.
    QCOMPARE(Compose(QStringLiteral("123456789012345678901234")),
             QStringLiteral("Vantrel Server 1.0 - 1234567890123456789"));
    QVERIFY(ForThisMachine().startsWith(QLatin1String(kPrefix)));
    QVERIFY(ForThisMachine().size() <= 21 + 19);
}

void TestTitle::reachableAddresses() {
    const QList<Interface> interfaces = {
        {"lo", true, true, "127.0.0.1", {"127.0.0.1", "::1"}},
        {"eth0", true, false, "192.0.2.5", {"192.0.2.5", "2001:db8::5", "fe80::1%eth0"}},
        {"wlan0", true, false, "198.51.100.7", {"198.51.100.7"}},
        {"down0", false, false, "203.0.113.9", {"203.0.113.9"}},
    };
    // Bound to one address: that one, with the port unless it is 69.
    QCOMPARE(Reachable(QHostAddress("127.0.0.1"), 1069, {}, interfaces),
             QStringList{"127.0.0.1:1069"});
    QCOMPARE(Reachable(QHostAddress("2001:db8::5"), 69, {}, interfaces),
             QStringList{"2001:db8::5"});
    // On every IPv4 address: the default route's first, none of an interface that is
    // down, loopback last.
    QCOMPARE(Reachable(QHostAddress(QHostAddress::AnyIPv4), 69, "wlan0", interfaces),
             (QStringList{"198.51.100.7", "192.0.2.5", "127.0.0.1"}));
    // With IPv6: the global IPv6 addresses too, link-local ones only when nothing else.
    QCOMPARE(Reachable(QHostAddress(QHostAddress::Any), 1069, "eth0", interfaces),
             (QStringList{"192.0.2.5:1069", "[2001:db8::5]:1069", "198.51.100.7:1069",
                          "127.0.0.1:1069", "[::1]:1069"}));
    const QList<Interface> linkLocalOnly = {interfaces[0],
                                            {"eth0", true, false, {}, {"fe80::1%eth0"}}};
    QCOMPARE(Reachable(QHostAddress(QHostAddress::Any), 69, {}, linkLocalOnly),
             (QStringList{"fe80::1%eth0", "127.0.0.1", "::1"}));
    // The title stays short.
    QCOMPARE(ComposeReachable({"192.0.2.5:1069"}),
             QStringLiteral("Vantrel Server 1.0 - 192.0.2.5:1069"));
    QCOMPARE(ComposeReachable({"192.0.2.5", "198.51.100.7", "127.0.0.1"}),
             QStringLiteral("Vantrel Server 1.0 - 192.0.2.5 +2 more"));
    // Not listening: no dangling dash.
    QCOMPARE(ComposeReachable({}), QStringLiteral("Vantrel Server 1.0"));
}

// What Copy Server Address copies, the command the empty list shows, and what the title
// adds, from each form of address Reachable() gives.
void TestTitle::urlsCommandsAndServices() {
    const struct {
        const char* reachable;
        const char* tftp;
        const char* http;
        const char* get;
    } cases[] = {
        {"192.0.2.5", "tftp://192.0.2.5/", "http://192.0.2.5:8080/", "tftp 192.0.2.5 -c get FILE"},
        {"192.0.2.5:1069", "tftp://192.0.2.5:1069/", "http://192.0.2.5:8080/",
         "tftp 192.0.2.5 1069 -c get FILE"},
        {"2001:db8::5", "tftp://[2001:db8::5]/", "http://[2001:db8::5]:8080/",
         "tftp 2001:db8::5 -c get FILE"},
        {"[2001:db8::5]:1069", "tftp://[2001:db8::5]:1069/", "http://[2001:db8::5]:8080/",
         "tftp 2001:db8::5 1069 -c get FILE"},
    };
    for (const auto& c : cases) {
        QCOMPARE(ServerUrls(c.reachable, 0), QStringList{c.tftp});
        QCOMPARE(ServerUrls(c.reachable, 8080), (QStringList{c.tftp, c.http}));
        QCOMPARE(TftpCommand(c.reachable, "get"), QString::fromLatin1(c.get));
    }
    QCOMPARE(ServiceNote(8080, "eth1"), QStringLiteral("HTTP on :8080, boot offers on eth1"));
    QCOMPARE(ServiceNote(0, "eth1"), QStringLiteral("boot offers on eth1"));
    QCOMPARE(ServiceNote(0, {}), QString());
}

QTEST_APPLESS_MAIN(TestTitle)
#include "tst_title.moc"
