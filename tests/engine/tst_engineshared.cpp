#include "engine/server/EngineShared.h"

#include <QtTest>
#include <atomic>
#include <deque>
#include <set>
#include <thread>
#include <vector>

// The admission the engine threads share, hammered from real threads: the limits hold
// at every moment, whichever thread admits or ends a transfer, and everything counted
// in is counted out again.
class TestEngineShared : public QObject {
    Q_OBJECT

private slots:
    void limitsHoldAcrossThreads_data() {
        QTest::addColumn<int>("maxTotal");
        QTest::addColumn<int>("maxPerClient");
        QTest::addColumn<int>("threads");
        QTest::addColumn<int>("clients");
        QTest::newRow("total binds, 4 threads") << 5 << 0 << 4 << 8;
        QTest::newRow("per client binds, one address") << 100 << 3 << 4 << 1;
        QTest::newRow("both bind, 8 threads") << 7 << 2 << 8 << 5;
        QTest::newRow("total of one") << 1 << 0 << 8 << 3;
        QTest::newRow("wide limits") << 1000 << 512 << 6 << 40;
    }
    void limitsHoldAcrossThreads() {
        QFETCH(int, maxTotal);
        QFETCH(int, maxPerClient);
        QFETCH(int, threads);
        QFETCH(int, clients);
        constexpr int kPairs = 20000; // enter/leave tries per thread
        constexpr int kHeld = 8;      // each thread keeps a few live: even one alone meets the limits
        CEngineShared shared;
        std::vector<QHostAddress> addresses;
        for (int c = 0; c < clients; ++c)
            addresses.emplace_back(QStringLiteral("198.51.100.%1").arg(c + 1));
        // Our own count of what is admitted, raised after TryEnter and lowered before
        // Leave: never above what the shared object counts, so never above the limits.
        std::atomic<int> total = 0, highTotal = 0;
        std::vector<std::atomic<int>> perClient(addresses.size()), highPerClient(addresses.size());
        std::atomic<int> admitted = 0, refused = 0;
        const auto raise = [](std::atomic<int>& high, int value) {
            for (int seen = high.load(); value > seen && !high.compare_exchange_weak(seen, value);) {
            }
        };
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                std::deque<int> held;
                const auto leaveOne = [&] {
                    const int c = held.front();
                    held.pop_front();
                    --perClient[size_t(c)];
                    --total;
                    shared.Leave(addresses[size_t(c)], true);
                };
                for (int i = 0; i < kPairs; ++i) {
                    const int c = (t * 7 + i) % clients;
                    if (shared.TryEnter(addresses[size_t(c)], maxTotal, maxPerClient)) {
                        raise(highPerClient[size_t(c)], ++perClient[size_t(c)]);
                        raise(highTotal, ++total);
                        held.push_back(c);
                        ++admitted;
                        if (int(held.size()) >= kHeld)
                            leaveOne();
                    } else {
                        ++refused;
                        if (!held.empty())
                            leaveOne();
                    }
                }
                while (!held.empty())
                    leaveOne();
            });
        for (std::thread& w : workers)
            w.join();
        QVERIFY(highTotal <= maxTotal);
        for (int c = 0; c < clients; ++c) {
            if (maxPerClient > 0)
                QVERIFY2(highPerClient[size_t(c)] <= maxPerClient, qPrintable(QString::number(c)));
            QCOMPARE(shared.LiveFrom(addresses[size_t(c)]), 0);
        }
        QCOMPARE(shared.Live(), 0);
        QCOMPARE(admitted + refused, threads * kPairs);
        QVERIFY(admitted > 0);
        // Limits below what one thread holds are met; limits above what all hold never
        // refuse anyone.
        const bool binds = maxTotal < threads * kHeld ||
                           (maxPerClient > 0 && maxPerClient * clients < threads * kHeld);
        QCOMPARE(refused > 0, binds);
    }

    // A finished upload gives its client's place back early and stays in the total
    // until it ends; a refusal changes nothing.
    void clientSlotFreedEarly() {
        CEngineShared shared;
        const QHostAddress a(QStringLiteral("203.0.113.5"));
        QVERIFY(shared.TryEnter(a, 2, 1));
        QVERIFY(!shared.TryEnter(a, 2, 1));
        shared.FreeClientSlot(a);
        QCOMPARE(shared.LiveFrom(a), 0);
        QVERIFY(shared.TryEnter(a, 2, 1));
        QVERIFY(!shared.TryEnter(QHostAddress(QStringLiteral("203.0.113.6")), 2, 1)); // total
        shared.Leave(a, false); // the one whose slot was freed
        shared.Leave(a, true);
        QCOMPARE(shared.Live(), 0);
        QCOMPARE(shared.LiveFrom(a), 0);
    }

    // Rows keyed from every thread at once never share a key; the count in progress
    // comes back to 0 and says when it was the first and the last.
    void rowKeysAndCountsFromThreads() {
        CEngineShared shared;
        constexpr int kThreads = 4, kEach = 20000;
        std::vector<std::vector<RowHandle>> keys(kThreads);
        std::atomic<int> firsts = 0, lasts = 0;
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t)
            workers.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    keys[size_t(t)].push_back(shared.NextRow());
                    if (shared.CountIn() == 1)
                        ++firsts;
                    if (shared.CountOut() == 0)
                        ++lasts;
                }
            });
        for (std::thread& w : workers)
            w.join();
        std::set<RowHandle> all;
        for (const auto& k : keys)
            all.insert(k.begin(), k.end());
        QCOMPARE(int(all.size()), kThreads * kEach);
        QCOMPARE(shared.Active(), 0);
        QCOMPARE(firsts.load(), lasts.load());
    }

    // The file table shared by the threads: a writer is alone on its file, readers
    // share it, at every moment.
    void shareTableExclusiveAcrossThreads() {
        CEngineShared shared;
        CFileShareTable& table = shared.Shares();
        const QString path = QStringLiteral("/srv/tftp/boot.img");
        std::atomic<int> readers = 0, writers = 0, clashes = 0, writes = 0, reads = 0;
        std::vector<std::thread> workers;
        for (int t = 0; t < 6; ++t)
            workers.emplace_back([&, t] {
                const auto use = t % 3 == 0 ? CFileShareTable::Use::Write : CFileShareTable::Use::Read;
                for (int i = 0; i < 20000; ++i) {
                    if (!table.TryAcquire(path, use))
                        continue;
                    if (use == CFileShareTable::Use::Write) {
                        if (++writers != 1 || readers != 0)
                            ++clashes;
                        ++writes;
                        --writers;
                    } else {
                        ++readers;
                        if (writers != 0)
                            ++clashes;
                        ++reads;
                        --readers;
                    }
                    table.Release(path, use);
                }
            });
        for (std::thread& w : workers)
            w.join();
        QCOMPARE(clashes.load(), 0);
        QVERIFY(writes + reads > 0); // a writer may find readers on it every time: no matter
        QVERIFY(!table.IsHeld(path));
    }
};

QTEST_GUILESS_MAIN(TestEngineShared)
#include "tst_engineshared.moc"
