#include "EngineFixture.h"
#include "engine/bootp/DhcpPacket.h"
#include "engine/dhcp/DhcpServer.h"
#include "engine/platform/LinkEvents.h"

#include <QtTest>

// Interfaces that come and go: what the kernel says (captured bytes), what a look at the
// interfaces tells, and the engine following them on the fake clock: the DHCP server,
// the boot offers and a listener on a fixed address wait for their interface and bind
// again by themselves when it is back.
class TestLink : public QObject {
    Q_OBJECT

    using Ev = InterfaceEvent;

    static NetInterface iface(const QString& name, bool up, const QStringList& addresses = {},
                              bool loopback = false) {
        NetInterface n;
        n.name = name;
        n.up = up;
        n.loopback = loopback;
        for (const QString& a : addresses) {
            n.addresses.append(QHostAddress(a.section(QLatin1Char('/'), 0, 0)));
            n.prefixLengths.append(a.section(QLatin1Char('/'), 1, 1).toInt());
        }
        return n;
    }
    static NetInterface lo() { return iface(QStringLiteral("lo"), true, {"127.0.0.1/8"}, true); }

    static QByteArray captured(const char* step) {
        QFile f(QStringLiteral(LINK_DATA "/") + QLatin1String(step) + QStringLiteral(".bin"));
        if (!f.open(QIODevice::ReadOnly))
            qFatal("no capture %s", step);
        return f.readAll();
    }

    // An engine on the fake platform with a state folder of its own for the leases.
    struct LinkFixture : EngineFixture {
        QTemporaryDir state;
        int told = 0; // status changes the engine reported
        LinkFixture() {
            qputenv("STATE_DIRECTORY", state.path().toLocal8Bit());
            services->m_onStatusChanged = [this] { ++told; };
        }
        void set(const QList<NetInterface>& now) { platform->changeInterfaces(now); }
        QString device(quint16 port) {
            return net().bound.contains(port) ? net().boundDevice.value(port) : QStringLiteral("-");
        }
    };

private slots:
    // The kernel's messages as a real veth pair made them (data/netlink/capture.py).
    void parsesCapturedNetlink() {
        const QHostAddress v4(QStringLiteral("198.51.100.1")), v6(QStringLiteral("2001:db8::1"));
        const struct {
            const char* step;
            QList<Ev> events;
        } cases[] = {
            {"veth_added", {{Ev::LinkDown, "veth1", 2}, {Ev::LinkDown, "veth0", 3}}},
            // An IPv4 address carries its label; the reader names the rest by index.
            {"ipv4_added", {{Ev::AddressAdded, "veth0", 3, v4, 24}}},
            // Up without carrier is not up.
            {"up_no_carrier", {{Ev::LinkDown, "veth0", 3}}},
            {"carrier", {{Ev::LinkDown, "veth1", 2}, {Ev::LinkUp, "veth1", 2}, {Ev::LinkUp, "veth0", 3}}},
            {"ipv6_added", {{Ev::AddressAdded, "", 3, v6, 64}}},
            {"ipv4_removed", {{Ev::AddressRemoved, "veth0", 3, v4, 24}}},
        };
        for (const auto& c : cases) {
            const QByteArray bytes = captured(c.step);
            QCOMPARE(LinkEvents::Parse(bytes.constData(), bytes.size()), c.events);
        }
        // A deleted link is down, and its addresses go with it.
        const QByteArray gone = captured("veth_removed");
        const QList<Ev> events = LinkEvents::Parse(gone.constData(), gone.size());
        QCOMPARE(events.size(), 5);
        QCOMPARE(events.first().kind, Ev::LinkDown);
        QCOMPARE(events[1].kind, Ev::AddressRemoved);
        QCOMPARE(events[1].address.protocol(), QAbstractSocket::IPv6Protocol);
        QCOMPARE(events.last(), (Ev{Ev::LinkDown, "veth1", 2}));
        // Cut anywhere, a read gives the whole messages before the cut and nothing else.
        const QByteArray carrier = captured("carrier");
        for (qsizetype cut = 0; cut < carrier.size(); cut += 7)
            QVERIFY(LinkEvents::Parse(carrier.constData(), cut).size() <= 3);
        QByteArray bad = captured("ipv4_added");
        bad[0] = char(200); // a length beyond the read
        QVERIFY(LinkEvents::Parse(bad.constData(), bad.size()).isEmpty());
    }

    // Where the kernel does not tell, two looks at the interfaces do.
    void changesBetweenTwoLooks() {
        const QHostAddress a(QStringLiteral("198.51.100.1")), b(QStringLiteral("203.0.113.1"));
        const struct {
            const char* name;
            QList<NetInterface> before, after;
            QList<Ev> events;
        } cases[] = {
            {"nothing", {lo()}, {lo()}, {}},
            {"plugged in, up, no address", {lo()}, {lo(), iface("eth1", true)}, {{Ev::LinkUp, "eth1"}}},
            {"plugged in, down", {lo()}, {lo(), iface("eth1", false)}, {{Ev::LinkDown, "eth1"}}},
            {"address given", {iface("eth1", true)}, {iface("eth1", true, {"198.51.100.1/24"})},
             {{Ev::AddressAdded, "eth1", 0, a, 24}}},
            {"address changed", {iface("eth1", true, {"198.51.100.1/24"})},
             {iface("eth1", true, {"203.0.113.1/24"})},
             {{Ev::AddressRemoved, "eth1", 0, a, 24}, {Ev::AddressAdded, "eth1", 0, b, 24}}},
            {"link drops", {iface("eth1", true, {"198.51.100.1/24"})},
             {iface("eth1", false, {"198.51.100.1/24"})}, {{Ev::LinkDown, "eth1"}}},
            {"unplugged", {lo(), iface("eth1", true, {"198.51.100.1/24"})}, {lo()},
             {{Ev::LinkDown, "eth1"}, {Ev::AddressRemoved, "eth1", 0, a, 24}}},
        };
        for (const auto& c : cases)
            QVERIFY2(InterfaceChanges(c.before, c.after) == c.events, c.name);
    }

    // The DHCP server on a named interface through a USB adapter's life: each step is
    // what the interfaces become, then the status, and the interface port 67 is tied to.
    void dhcpFollowsItsInterface() {
        LinkFixture f;
        f.set({lo()});
        QVERIFY(f.platform->watching);
        f.change([](EngineSettings& s) {
            s.dhcpInterface = QStringLiteral("eth1");
            s.dhcpEnabled = true;
        });
        QCOMPARE(f.services->DhcpStatus(), QStringLiteral("DHCP waits: eth1 link down (no such interface yet)"));
        QCOMPARE(f.device(Dhcp::kServerPort), QStringLiteral("-"));
        const QString on = QStringLiteral("dhcp on eth1 (198.51.100.1), pool 198.51.100.2-198.51.100.51");
        const struct {
            const char* step;
            QList<NetInterface> now;
            QString status;
            QString bound; // port 67's interface, "-" for closed
        } steps[] = {
            {"plugged, link not up yet", {lo(), iface("eth1", false)}, "DHCP waits: eth1 link down", "-"},
            {"link up, no address", {lo(), iface("eth1", true)}, "DHCP waits: eth1 has no IPv4 address", "-"},
            {"address given", {lo(), iface("eth1", true, {"198.51.100.1/24"})}, on, "eth1"},
            {"an IPv6 address too", {lo(), iface("eth1", true, {"198.51.100.1/24", "2001:db8::1/64"})}, on, "eth1"},
            {"device reboots", {lo(), iface("eth1", false, {"198.51.100.1/24"})}, "DHCP waits: eth1 link down", "-"},
            {"device back", {lo(), iface("eth1", true, {"198.51.100.1/24"})}, on, "eth1"},
            {"other interfaces change", {lo(), iface("eth1", true, {"198.51.100.1/24"}), iface("wlan0", true)}, on, "eth1"},
            {"address taken away", {lo(), iface("eth1", true)}, "DHCP waits: eth1 has no IPv4 address", "-"},
            {"another address", {lo(), iface("eth1", true, {"203.0.113.7/28"})},
             "dhcp on eth1 (203.0.113.7), pool 203.0.113.8-203.0.113.14", "eth1"},
            {"unplugged", {lo()}, "DHCP waits: eth1 link down (no such interface yet)", "-"},
        };
        for (const auto& s : steps) {
            const int told = f.told;
            f.set(s.now);
            QVERIFY2(f.services->DhcpStatus() == s.status, s.step);
            QVERIFY2(f.device(Dhcp::kServerPort) == s.bound, s.step);
            QVERIFY2(f.device(Dhcp::kClientPort) == s.bound, s.step);
            QVERIFY2(f.services->DhcpState().waiting() == (s.bound == "-"), s.step);
            // Told once per change of what it says, and not for a change that is not its.
            QVERIFY2(f.told - told <= 1, s.step);
        }
        QVERIFY(f.engine->IsListening()); // the listener never noticed
    }

    // Back on its link, the server asks the link again, then answers a client.
    void dhcpAnswersAgainAfterTheLinkReturns() {
        LinkFixture f;
        const QList<NetInterface> up = {lo(), iface("eth1", true, {"198.51.100.1/24"})};
        f.set(up);
        f.change([](EngineSettings& s) {
            s.dhcpInterface = QStringLiteral("eth1");
            s.dhcpEnabled = true;
        });
        f.set({lo(), iface("eth1", false, {"198.51.100.1/24"})});
        f.set(up);
        QFile discover(QStringLiteral(DHCP_DATA "/udhcpc-discover.bin"));
        QVERIFY(discover.open(QIODevice::ReadOnly));
        const QByteArray packet = discover.readAll();
        const auto offers = [&] {
            f.net().takeSent();
            f.net().deliver(Dhcp::kServerPort, packet, QHostAddress(QStringLiteral("0.0.0.0")),
                            Dhcp::kClientPort);
            int n = 0;
            for (const FakeDatagram& d : f.net().takeSent())
                n += d.peerPort == Dhcp::kClientPort;
            return n;
        };
        QCOMPARE(offers(), 0); // still asking whether another server answers here
        f.clock().advance(CDhcpServer::kProbeWaitMs + 1);
        QCOMPARE(offers(), 1);
    }

    // Boot offers on the listener's interface, and a listener on a fixed address that
    // is not there at the start: it binds when the address appears, and keeps its
    // socket while the link is down; the offers wait and come back.
    void listenerAndBootOffersFollowTheAddress() {
        LinkFixture f;
        f.change([](EngineSettings& s) {
            s.proxyDhcp = true;
            s.bootFileBios = "undionly.kpxe";
        });
        f.set({lo(), iface("eth1", false)});
        const QHostAddress fixed(QStringLiteral("198.51.100.1"));
        QVERIFY(!f.engine->Listen(fixed, EngineFixture::kListen, nullptr, false));
        QVERIFY(f.engine->WaitsForAddress());
        const struct {
            const char* step;
            QList<NetInterface> now;
            bool listening;
            QString boot;
        } steps[] = {
            {"link up, no address", {lo(), iface("eth1", true)}, false, ""},
            {"address given", {lo(), iface("eth1", true, {"198.51.100.1/24"})}, true,
             "boot offers on eth1 (198.51.100.1)"},
            {"link drops", {lo(), iface("eth1", false, {"198.51.100.1/24"})}, true,
             "boot offers wait: eth1 link down"},
            {"link back", {lo(), iface("eth1", true, {"198.51.100.1/24"})}, true,
             "boot offers on eth1 (198.51.100.1)"},
            {"address gone", {lo(), iface("eth1", true)}, true,
             "boot offers wait: no interface with an IPv4 address"},
        };
        for (const auto& s : steps) {
            f.set(s.now);
            QVERIFY2(f.engine->IsListening() == s.listening, s.step);
            QVERIFY2(f.services->BootState().text() == s.boot, s.step);
            QVERIFY2(f.device(Dhcp::kPxePort) == (s.boot.startsWith("boot offers on") ? "eth1" : "-"), s.step);
        }
        QCOMPARE(f.net().boundAddress.value(EngineFixture::kListen), fixed);
        QVERIFY(!f.engine->WaitsForAddress());
        QVERIFY(f.window.messages.isEmpty()); // no box for what mends itself
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
