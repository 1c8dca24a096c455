#include "EngineFixture.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

// The real platform under the engine on 127.0.0.1: Qt's sockets and timers, and
// built with VANTREL_TEST_NATIVE (tst_nativeplatform) the default's io_uring platform,
// or epoll's with VANTREL_PLATFORM=epoll (tst_nativeplatform_epoll), the same checks
// over each.
static std::unique_ptr<IPlatform> makePlatform() {
#ifdef VANTREL_TEST_NATIVE
#ifdef VANTREL_HAVE_URING
    if (qgetenv("VANTREL_PLATFORM") != "epoll")
        return CreateUringPlatform();
#endif
    return CreateEpollPlatform();
#else
    return CreateQtPlatform();
#endif
}

class TestQtPlatform : public QObject {
    Q_OBJECT

    struct RealServer {
        QTemporaryDir dir;
        EngineSettings file; // the settings file's values
        RecordingWindow window;
        std::unique_ptr<CServerEngine> engine;
        quint16 port = 0;

        explicit RealServer(const QHostAddress& address = QHostAddress::LocalHost) {
            QDir(dir.path()).mkdir(QStringLiteral("root"));
            file.workingFolder = dir.filePath(QStringLiteral("root"));
            engine = std::make_unique<CServerEngine>(&window, makePlatform());
            engine->SetSettings(file);
            for (int attempt = 0; attempt < 20 && !engine->IsListening(); ++attempt) {
                port = quint16(40000 + QRandomGenerator::global()->bounded(20000));
                engine->Listen(address, port);
            }
        }
    };

    template <typename Done> static bool spin(Done done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

private slots:
    void initTestCase() {
        if (!makePlatform())
            QSKIP("this kernel refuses the platform (io_uring disabled?)");
    }

    // With IPv6 on, one dual-stack socket serves IPv6 and IPv4 clients, each shown in
    // its usual form, and each completes its upload, whether the answer comes from the
    // address asked or from the dual-stack one.
    void dualStack() {
        RealServer s{QHostAddress(QHostAddress::Any)};
        QVERIFY(s.engine->IsListening());
        for (bool replyFromAsked : {true, false}) {
            s.file.replyFromRequestAddress = replyFromAsked;
            HandFile(*s.engine, s.file);
            for (const char* address : {"::1", "127.0.0.1"}) {
                QUdpSocket client;
                QVERIFY(client.bind(QHostAddress(QLatin1String(address)), 0));
                client.writeDatagram(EngineFixture::request(Tftp::WRQ, "d.bin"),
                                     QHostAddress(QLatin1String(address)), s.port);
                QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
                QCOMPARE(s.window.last().texts.client, QLatin1String(address));
                char buf[16];
                quint16 transferPort = 0;
                QCOMPARE(client.readDatagram(buf, sizeof buf, nullptr, &transferPort), 4);
                client.writeDatagram(EngineFixture::data(1, "x"),
                                     QHostAddress(QLatin1String(address)), transferPort);
                QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
                QCOMPARE(client.receiveDatagram(16).data(), EngineFixture::ack(1));
            }
        }
    }

    // On a host with several addresses the answer comes from the one the client wrote
    // to (127.0.0.2 here), and the client is shown as it is.
    void answerFromTheAddressAsked() {
        RealServer s{QHostAddress(QHostAddress::AnyIPv4)};
        QVERIFY(s.engine->IsListening());
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress("127.0.0.3"), 0));
        client.writeDatagram(EngineFixture::request(Tftp::WRQ, "r.bin"), QHostAddress("127.0.0.2"),
                             s.port);
        QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
        QHostAddress from;
        char buf[16];
        client.readDatagram(buf, sizeof buf, &from);
        QCOMPARE(from, QHostAddress("127.0.0.2"));
        QCOMPARE(s.window.last().texts.client, QStringLiteral("127.0.0.3"));
    }

    // Requests that arrive together are all handled, one row each.
    void burstOfRequests() {
        RealServer s;
        QVERIFY(s.engine->IsListening());
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        for (int i = 0; i < 20; ++i) {
            const QByteArray r = EngineFixture::request(Tftp::WRQ, "f" + QByteArray::number(i));
            client.writeDatagram(r, QHostAddress::LocalHost, s.port);
        }
        QVERIFY(spin([&] { return s.window.rows.size() == 20; }));
        QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
        int acks = 0;
        while (acks < 20 && spin([&] { return client.hasPendingDatagrams(); })) {
            QByteArray ack(client.pendingDatagramSize(), '\0');
            client.readDatagram(ack.data(), ack.size());
            acks += ack == EngineFixture::ack(0);
        }
        QCOMPARE(acks, 20);
    }

    // A datagram longer than the transfer's buffer is cut to it, not lost; a port
    // that another socket holds is not shared.
    void longDatagramCutAndPortsExclusive() {
        RealServer s;
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        client.writeDatagram(EngineFixture::request(Tftp::WRQ, "long.bin"), QHostAddress::LocalHost,
                             s.port);
        QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
        QHostAddress from;
        quint16 transferPort = 0;
        char buf[16];
        client.readDatagram(buf, sizeof buf, &from, &transferPort);
        client.writeDatagram(EngineFixture::data(1, QByteArray(1500, 'L')), QHostAddress::LocalHost,
                             transferPort);
        QVERIFY(spin([&] { return client.hasPendingDatagrams(); }));
        QByteArray ack(4, '\0');
        client.readDatagram(ack.data(), 4);
        QCOMPARE(ack, EngineFixture::ack(1));
        client.writeDatagram(EngineFixture::data(2, "end"), QHostAddress::LocalHost, transferPort);
        QVERIFY(spin([&] { return s.window.last().state == ROW_RECEIVED; }));
        QFile f(s.dir.filePath("root/long.bin"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(1020, 'L') + "end");

        QString why;
        auto platform = makePlatform();
        QVERIFY(!platform->bindUdp(QHostAddress::LocalHost, s.port, SocketOptions(), &why));
        QVERIFY(!why.isEmpty());
    }

    // Each datagram reaches the handler whole, with its sender and the address it was
    // sent to; a close in the handler stops the rest of what waits. The after-dispatch
    // hook runs once the datagrams, or a timer, have been handled.
    void datagramsPushedThenAfterDispatch() {
        auto platform = makePlatform();
        SocketOptions options;
        options.batch = true;
        options.wantLocalAddress = true;
        QString why;
        auto socket = platform->bindUdp(QHostAddress::LocalHost, 0, options, &why);
        QVERIFY2(socket, qPrintable(why));
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        QList<QByteArray> got;
        QList<int> seenAfter;
        socket->onDatagram = [&](const char* data, qint64 size, const QHostAddress& from,
                                 quint16 fromPort, const QHostAddress& to) {
            QCOMPARE(fromPort, client.localPort());
            QCOMPARE(from, QHostAddress(QHostAddress::LocalHost));
            QCOMPARE(to, QHostAddress(QHostAddress::LocalHost));
            got.append(QByteArray(data, int(size)));
            if (got.size() == 3)
                socket->close();
        };
        platform->setAfterDispatch([&] { seenAfter.append(int(got.size())); });
        const QList<QByteArray> sent{"a", QByteArray(2000, 'L'), "c", "d", "e"};
        for (const QByteArray& d : sent)
            client.writeDatagram(d, QHostAddress::LocalHost, socket->localPort());
        QVERIFY(spin([&] { return !seenAfter.isEmpty() && seenAfter.last() == 3; }));
        QTest::qWait(50);
        QCOMPARE(got, sent.mid(0, 3));
        QVERIFY(!seenAfter.contains(0));

        bool fired = false;
        platform->timers().onTimeout = [&](int) { fired = true; };
        seenAfter.clear();
        platform->timers().start(7, 1);
        QVERIFY(spin([&] { return fired && !seenAfter.isEmpty(); }));
    }

    // Timers fire once per start; a restart moves the expiry; a stop cancels it.
    void timersFireOncePerStart() {
        auto platform = makePlatform();
        ITimerHost& timers = platform->timers();
        QList<int> fired;
        timers.onTimeout = [&](int id) { fired.append(id); };
        timers.start(1, 10);
        timers.start(2, 10);
        timers.start(3, 10);
        timers.stop(2);
        timers.start(3, 60); // restarted: later
        QVERIFY(spin([&] { return fired.size() >= 2; }));
        QTest::qWait(100);
        QCOMPARE(fired, (QList<int>{1, 3}));
        timers.release(1);
        timers.start(1, 5);
        QVERIFY(spin([&] { return fired.size() == 3; }));
    }

#ifdef VANTREL_TEST_NATIVE
    // A burst to several sockets, more datagrams than the platform has receive buffers
    // for (io_uring: 256, so receives end and are armed again), arrives whole on each
    // socket still open; one closed by its handler mid-burst gets nothing more, and its
    // port is free at once.
    void burstToSeveralSocketsWithOneClosed() {
        constexpr int NS = 10;
        auto platform = makePlatform();
        QString why;
        std::unique_ptr<IDatagramSocket> sockets[NS];
        int got[NS] = {};
        for (int k = 0; k < NS; ++k) {
            sockets[k] = platform->bindUdp(QHostAddress::LocalHost, 0, SocketOptions(), &why);
            QVERIFY2(sockets[k], qPrintable(why));
            sockets[k]->onDatagram = [&, k](const char*, qint64, const QHostAddress&, quint16,
                                            const QHostAddress&) {
                if (++got[k] == 10 && k == 1)
                    sockets[k]->close();
            };
        }
        const quint16 closedPort = sockets[1]->localPort();
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        for (int i = 0; i < 150; ++i)
            for (int k = 0; k < NS; ++k)
                client.writeDatagram("x", 1, QHostAddress::LocalHost, sockets[k]->localPort());
        const auto allIn = [&] {
            for (int k = 0; k < NS; ++k)
                if (got[k] != (k == 1 ? 10 : 150))
                    return false;
            return true;
        };
        QVERIFY(spin(allIn));
        QTest::qWait(50);
        QVERIFY(allIn());
        QVERIFY2(platform->bindUdp(QHostAddress::LocalHost, closedPort, SocketOptions(), &why),
                 qPrintable(why));
    }

    // What a handler sends in one dispatch arrives as sent, datagram by datagram and in
    // order, however the platform groups it (runs of equal blocks leave as one
    // segmented send where the kernel has it): a shorter last block, sizes that change,
    // a datagram to another port in the middle, more blocks than one send takes.
    void sendsOfOneDispatchArriveAsSent_data() {
        QTest::addColumn<QList<int>>("sizes"); // negative: to the second receiver
        QTest::newRow("window, last block shorter") << QList<int>{516, 516, 516, 516, 100};
        QTest::newRow("window ending on a full block") << QList<int>(16, 1472);
        QTest::newRow("sizes that change") << QList<int>{516, 516, 1472, 1472, 4, 516, 516};
        QTest::newRow("another port in the middle") << QList<int>{516, 516, -40, 516, 516};
        QTest::newRow("more than one send's segments") << QList<int>(64 + 10, 516);
        QTest::newRow("more than one send's bytes") << QList<int>(50, 1472);
        QTest::newRow("empty block ends the window") << QList<int>{516, 516, 4};
    }
    void sendsOfOneDispatchArriveAsSent() {
        QFETCH(QList<int>, sizes);
        auto platform = makePlatform();
        QString why;
        auto socket = platform->bindUdp(QHostAddress::LocalHost, 0, SocketOptions(), &why);
        QVERIFY2(socket, qPrintable(why));
        QUdpSocket client, other;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        QVERIFY(other.bind(QHostAddress::LocalHost, 0));
        client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 21);
        QList<QByteArray> expected[2];
        QList<QByteArray> out;
        for (int i = 0; i < sizes.size(); ++i) {
            QByteArray d(std::abs(sizes[i]), char('a' + i % 26));
            d[0] = char(i); // each datagram its own, so order shows
            out.append(d);
            expected[sizes[i] < 0 ? 1 : 0].append(d);
        }
        socket->onDatagram = [&](const char*, qint64, const QHostAddress&, quint16,
                                 const QHostAddress&) {
            for (int i = 0; i < out.size(); ++i) {
                QUdpSocket& to = sizes[i] < 0 ? other : client;
                socket->writeDatagram(out[i].constData(), out[i].size(), QHostAddress::LocalHost,
                                      to.localPort());
            }
        };
        client.writeDatagram("go", 2, QHostAddress::LocalHost, socket->localPort());
        QList<QByteArray> got[2];
        const auto all = [&] {
            for (int k = 0; k < 2; ++k) {
                QUdpSocket& from = k ? other : client;
                while (from.hasPendingDatagrams())
                    got[k].append(from.receiveDatagram().data());
            }
            return got[0].size() >= expected[0].size() && got[1].size() >= expected[1].size();
        };
        QVERIFY(spin(all));
        QTest::qWait(20);
        all();
        QCOMPARE(got[0], expected[0]);
        QCOMPARE(got[1], expected[1]);
    }

    // A socket that a handler closes after sending: what it queued leaves from its own
    // port, in order; a socket made later in the same pass, on a new port or on the one
    // just closed, is a socket of its own that sends and receives.
    void closedAfterItsSendsInOnePass_data() {
        QTest::addColumn<int>("blocks"); // 516-byte datagrams sent before the close
        QTest::addColumn<int>("bindAfter"); // 0: none, 1: a new port, 2: the closed port
        QTest::newRow("one block, then closed") << 1 << 0;
        QTest::newRow("a window, then closed") << 16 << 0;
        QTest::newRow("closed, then a new socket") << 3 << 1;
        QTest::newRow("closed, then its port bound again") << 3 << 2;
        QTest::newRow("nothing sent, port bound again") << 0 << 2;
    }
    void closedAfterItsSendsInOnePass() {
        QFETCH(int, blocks);
        QFETCH(int, bindAfter);
        auto platform = makePlatform();
        QString why;
        auto first = platform->bindUdp(QHostAddress::LocalHost, 0, SocketOptions(), &why);
        QVERIFY2(first, qPrintable(why));
        const quint16 firstPort = first->localPort();
        QUdpSocket client;
        QVERIFY(client.bind(QHostAddress::LocalHost, 0));
        std::unique_ptr<IDatagramSocket> second;
        QByteArray secondGot;
        first->onDatagram = [&](const char*, qint64, const QHostAddress&, quint16,
                                const QHostAddress&) {
            for (int i = 0; i < blocks; ++i) {
                QByteArray d(516, char('a' + i));
                first->writeDatagram(d.constData(), d.size(), QHostAddress::LocalHost,
                                     client.localPort());
            }
            first->close();
            if (bindAfter == 0)
                return;
            second = platform->bindUdp(QHostAddress::LocalHost, bindAfter == 2 ? firstPort : 0,
                                       SocketOptions(), &why);
            if (!second)
                return;
            second->onDatagram = [&](const char* data, qint64 size, const QHostAddress&,
                                     quint16, const QHostAddress&) {
                secondGot = QByteArray(data, int(size));
            };
            second->writeDatagram("2nd", 3, QHostAddress::LocalHost, client.localPort());
        };
        client.writeDatagram("go", 2, QHostAddress::LocalHost, firstPort);
        QList<QNetworkDatagram> got;
        const int expected = blocks + (bindAfter ? 1 : 0);
        QVERIFY(spin([&] {
            while (client.hasPendingDatagrams())
                got.append(client.receiveDatagram());
            return got.size() >= expected;
        }));
        QTest::qWait(20);
        QCOMPARE(client.hasPendingDatagrams(), false);
        for (int i = 0; i < blocks; ++i) {
            QCOMPARE(got[i].data(), QByteArray(516, char('a' + i)));
            QCOMPARE(got[i].senderPort(), int(firstPort));
        }
        if (bindAfter == 0) {
            QVERIFY2(platform->bindUdp(QHostAddress::LocalHost, firstPort, SocketOptions(), &why),
                     qPrintable(why));
            return;
        }
        QVERIFY2(second, qPrintable(why));
        QCOMPARE(got.last().data(), QByteArray("2nd"));
        QCOMPARE(got.last().senderPort(), int(second->localPort()));
        QCOMPARE(second->localPort() == firstPort, bindAfter == 2);
        client.writeDatagram("back", 4, QHostAddress::LocalHost, second->localPort());
        QVERIFY(spin([&] { return secondGot == "back"; }));
    }

    // The native timers keep many ids in one structure: they expire in the order of
    // their deadlines whatever the order they were started, restarted or stopped in.
    // Each deadline is taken when its start() is called, so a slow machine (sanitizers,
    // a loaded CI) that spends milliseconds in the loops below changes the order the
    // deadlines have, not whether the timers keep it.
    void manyTimersExpireInDeadlineOrder() {
        auto platform = makePlatform();
        ITimerHost& timers = platform->timers();
        QList<int> fired;
        timers.onTimeout = [&](int id) { fired.append(id); };
        QElapsedTimer clock;
        clock.start();
        QHash<int, qint64> deadline;
        const auto start = [&](int id, int ms) {
            deadline[id] = clock.elapsed() + ms;
            timers.start(id, ms);
        };
        for (int id = 0; id < 300; ++id)
            start(id, 600 - (id % 100) * 5); // later ids first within each hundred
        for (int id = 0; id < 300; id += 3) {
            timers.stop(id);
            deadline.remove(id);
        }
        for (int id = 1; id < 300; id += 3)
            start(id, 700); // restarted: after all the others
        timers.release(299);
        deadline.remove(299);
        QVERIFY(spin([&] { return fired.size() >= 199; }));
        QTest::qWait(50);
        QCOMPARE(fired.size(), 199);
        QCOMPARE(QSet<int>(fired.begin(), fired.end()).size(), 199);
        for (int id : fired)
            QVERIFY2(deadline.contains(id), qPrintable(QStringLiteral("%1 fired").arg(id)));
        // Each timer fired after every timer whose deadline was clearly earlier (by more
        // than the millisecond the deadlines are rounded to on either side).
        qint64 latest = -1;
        for (int k = 0; k < fired.size(); ++k) {
            QVERIFY2(deadline[fired[k]] + 2 >= latest,
                     qPrintable(QStringLiteral("timer %1 (due at %2 ms) fired after one due at %3 ms")
                                    .arg(fired[k]).arg(deadline[fired[k]]).arg(latest)));
            latest = qMax(latest, deadline[fired[k]]);
        }
    }
#endif
};

QTEST_GUILESS_MAIN(TestQtPlatform)
#include "tst_qtplatform.moc"
