#include "engine/dhcp/LeaseFile.h"
#include "engine/dhcp/LeaseTable.h"
#include "engine/dhcp/LeaseWriter.h"

#include <atomic>

#include <QTemporaryDir>
#include <QtTest>

using namespace Dhcp;
using Outcome = CLeaseTable::Outcome;

// The lease table as scenarios of steps, each with the outcome it must have; the pool
// is 198.51.100.10-12, and two fixed hosts: F at .5 (outside the pool) and G at .11
// (inside it, so never anybody else's).
class TestLeases : public QObject {
    Q_OBJECT

    static Mac mac(char who) { return Mac("\x52\x54\x00\x00\x00", 5) + who; }
    static quint32 ip(int last) { return last ? (198u << 24 | 51u << 16 | 100u << 8 | quint32(last)) : 0; }
    static QList<FixedHost> hosts() {
        return {{mac('F'), ip(5), QStringLiteral("f.efi")}, {mac('G'), ip(11), QString()}};
    }

    struct Step {
        char op;       // o offer (requested in `at`), b bind, r release, d decline
        char who;
        int at;        // the address asked for (its last byte), 0 none
        qint64 now;
        Outcome expect;
        int gets;      // the address given (its last byte), 0 none
    };

private slots:
    void scenarios_data() {
        QTest::addColumn<bool>("onlyKnown");
        QTest::addColumn<QList<Step>>("steps");
        const auto G = Outcome::Given, X = Outcome::Exhausted, W = Outcome::Wrong,
                   U = Outcome::Unknown;
        QTest::newRow("pool in order, the same client the same address, then exhausted")
            << false << QList<Step>{{'o', 'A', 0, 0, G, 10}, {'o', 'A', 0, 1, G, 10},
                                    {'o', 'B', 0, 1, G, 12}, {'o', 'C', 0, 1, X, 0}};
        QTest::newRow("an offer not taken up is free again after a minute")
            << false << QList<Step>{{'o', 'A', 0, 0, G, 10}, {'o', 'B', 0, 0, G, 12},
                                    {'o', 'C', 0, 59, X, 0}, {'o', 'C', 0, 61, G, 10}};
        QTest::newRow("a lease holds until it expires, then goes to another")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'b', 'B', 12, 0, G, 12},
                                    {'o', 'C', 0, 3599, X, 0}, {'b', 'C', 10, 3599, W, 0},
                                    {'o', 'C', 0, 3600, G, 10}, {'b', 'C', 10, 3600, G, 10},
                                    {'o', 'A', 0, 3601, G, 12}};
        QTest::newRow("renewing keeps the address; a client's old address is its first choice")
            << false << QList<Step>{{'b', 'A', 12, 0, G, 12}, {'b', 'A', 12, 1800, G, 12},
                                    {'o', 'A', 0, 90000, G, 12}};
        QTest::newRow("a client bound elsewhere lets its offered address go")
            << false << QList<Step>{{'o', 'A', 0, 0, G, 10}, {'b', 'A', 12, 0, G, 12},
                                    {'o', 'B', 0, 1, G, 10}};
        QTest::newRow("the address asked for, when free")
            << false << QList<Step>{{'o', 'A', 12, 0, G, 12}, {'o', 'B', 12, 0, G, 10},
                                    {'o', 'C', 11, 0, X, 0}};
        QTest::newRow("released: free at once, never-given addresses first")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'r', 'A', 10, 5, G, 0},
                                    {'o', 'B', 0, 6, G, 12}, {'o', 'C', 0, 6, G, 10},
                                    {'r', 'B', 10, 7, W, 0}};
        QTest::newRow("declined: nobody's for ten minutes")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'d', 'A', 10, 0, G, 0},
                                    {'o', 'A', 0, 1, G, 12}, {'o', 'B', 0, 1, X, 0},
                                    {'b', 'B', 10, 599, W, 0}, {'o', 'B', 0, 600, G, 10}};
        QTest::newRow("a decline of another's address changes nothing")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'d', 'B', 10, 0, W, 0},
                                    {'b', 'A', 10, 1, G, 10}};
        QTest::newRow("fixed hosts: their address only, wherever it lies, never another's")
            << false << QList<Step>{{'o', 'F', 0, 0, G, 5}, {'b', 'F', 5, 0, G, 5},
                                    {'b', 'F', 10, 0, W, 5}, {'b', 'A', 11, 0, W, 0},
                                    {'o', 'G', 12, 0, G, 11}, {'b', 'A', 5, 0, W, 0}};
        QTest::newRow("OnlyKnownHosts: strangers get nothing")
            << true << QList<Step>{{'o', 'A', 0, 0, U, 0}, {'b', 'A', 10, 0, U, 0},
                                   {'o', 'F', 0, 0, G, 5}, {'b', 'G', 11, 0, G, 11}};
        QTest::newRow("reused: the address whose holder left longest ago, not the lowest")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'b', 'B', 12, 0, G, 12},
                                    {'r', 'B', 12, 5, G, 0}, {'r', 'A', 10, 10, G, 0},
                                    {'o', 'C', 0, 20, G, 12}, {'o', 'D', 0, 20, G, 10},
                                    {'o', 'E', 0, 20, X, 0}};
        QTest::newRow("a quarantine over: the declined address in the order it was let go")
            << false << QList<Step>{{'b', 'A', 10, 0, G, 10}, {'b', 'B', 12, 0, G, 12},
                                    {'d', 'A', 10, 0, G, 0}, {'r', 'B', 12, 100, G, 0},
                                    {'o', 'C', 0, 700, G, 10}, {'o', 'D', 0, 700, G, 12}};
        QTest::newRow("expired offers go round again, each to one client")
            << false << QList<Step>{{'o', 'A', 0, 0, G, 10}, {'o', 'B', 0, 0, G, 12},
                                    {'o', 'C', 0, 61, G, 10}, {'o', 'A', 0, 62, G, 12},
                                    {'b', 'B', 12, 62, W, 0}};
        QTest::newRow("an address outside the pool is nobody's to bind")
            << false << QList<Step>{{'b', 'A', 200, 0, W, 0}, {'b', 'A', 9, 0, W, 0}};
    }
    void scenarios() {
        QFETCH(bool, onlyKnown);
        QFETCH(QList<Step>, steps);
        CLeaseTable table(ip(10), ip(12), hosts(), onlyKnown);
        for (int i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            CLeaseTable::Pick pick;
            switch (s.op) {
            case 'o': pick = table.Offer(mac(s.who), ip(s.at), s.now); break;
            case 'b': pick = table.Bind(mac(s.who), ip(s.at), s.now, 3600); break;
            case 'r':
                pick.outcome = table.Release(mac(s.who), ip(s.at), s.now) ? Outcome::Given : Outcome::Wrong;
                break;
            case 'd':
                pick.outcome = table.Decline(mac(s.who), ip(s.at), s.now) ? Outcome::Given : Outcome::Wrong;
                break;
            }
            const QString where = QStringLiteral("step %1 (%2 %3)").arg(i).arg(s.op).arg(s.who);
            QVERIFY2(pick.outcome == s.expect, qPrintable(where));
            if (s.op == 'o' || s.op == 'b')
                QVERIFY2(pick.address == ip(s.gets), qPrintable(where + ": " + AddressText(pick.address)));
        }
    }

    void defaultPool_data() {
        QTest::addColumn<QString>("ours");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("first"); // empty: no pool
        QTest::addColumn<QString>("last");
        QTest::newRow("/24, fifty after ours") << "192.168.1.10" << 24 << "192.168.1.11" << "192.168.1.60";
        QTest::newRow("/24, cut at the broadcast") << "192.168.1.230" << 24 << "192.168.1.231" << "192.168.1.254";
        QTest::newRow("/30, one left") << "10.0.0.1" << 30 << "10.0.0.2" << "10.0.0.2";
        QTest::newRow("last before the broadcast: none") << "10.0.0.254" << 24 << "" << "";
        QTest::newRow("/31: none") << "10.0.0.0" << 31 << "" << "";
    }
    void defaultPool() {
        QFETCH(QString, ours);
        QFETCH(int, prefix);
        QFETCH(QString, first);
        QFETCH(QString, last);
        quint32 f = 0, l = 0;
        QCOMPARE(DefaultPool(ParseAddress(ours), prefix, &f, &l), !first.isEmpty());
        if (!first.isEmpty()) {
            QCOMPARE(AddressText(f), first);
            QCOMPARE(AddressText(l), last);
        }
    }

    void hostsFile() {
        const HostsParse p = ParseHostsFile(
            "# the lab\n"
            "52:54:00:00:00:46 198.51.100.5 f.efi  # with its own file\n"
            "\n"
            "52-54-00-00-00-47\t198.51.100.11\n"
            "52:54:00:00:00 198.51.100.6\n"           // a MAC cut short
            "52:54:00:00:00:48 198.51.100.300\n"      // no address
            "52:54:00:00:00:49 198.51.100.7 a b\n"    // one field too many
            "52:54:00:00:00:4a 198.51.100.5\n"        // line 2's address
            "52:54:00:00:00:46 198.51.100.8\n"        // line 2's MAC
            "52:54:00:00:00:4b 198.51.100.1\n",       // the server's own
            ip(1));
        QCOMPARE(p.hosts.size(), 2);
        QCOMPARE(p.hosts[0].mac, mac('F'));
        QCOMPARE(p.hosts[0].address, ip(5));
        QCOMPARE(p.hosts[0].bootFile, QStringLiteral("f.efi"));
        QCOMPARE(p.hosts[1].mac, mac('G'));
        QCOMPARE(p.hosts[1].bootFile, QString());
        QCOMPARE(p.problems.size(), 6);
        QVERIFY(p.problems[0].startsWith(QStringLiteral("line 5: ")));
        QCOMPARE(p.problems.mid(3),
                 (QStringList{"line 8: 198.51.100.5 is line 2's already",
                              "line 9: 52:54:00:00:00:46 has an address on line 2 already",
                              "line 10: 198.51.100.1 is the server's own address"}));
    }

    // A restart: the file keeps every lease and quarantine, and each client its address.
    void restartKeepsAddresses() {
        CLeaseTable before(ip(10), ip(12), hosts(), false);
        before.Bind(mac('A'), ip(12), 0, 3600);
        before.Bind(mac('B'), ip(10), 0, 60);
        before.Decline(mac('B'), ip(10), 100);
        const QList<Lease> saved = ParseLeases(FormatLeases(before.Leases()));
        QCOMPARE(saved, before.Leases());
        QCOMPARE(saved.size(), 2);

        CLeaseTable after(ip(10), ip(12), hosts(), false);
        after.Restore(saved);
        QCOMPARE(after.Offer(mac('A'), 0, 200000).address, ip(12)); // long expired, still A's
        QCOMPARE(after.Offer(mac('C'), 0, 200).outcome, Outcome::Exhausted); // .10 in quarantine
        QCOMPARE(after.Offer(mac('C'), 0, 700).address, ip(10));
    }

    // The file as a journal: every change appended as it happens (a client moving from
    // its address, a release, a decline) reads back as the table that made it, and a
    // rewrite gives the same.
    void journalReplaysTheTable() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("dhcp-leases"));
        CLeaseTable table(ip(10), ip(12), hosts(), false);
        CLeaseJournal journal(path);
        QString error;
        QVERIFY2(journal.Rewrite(table.Leases(), &error), qPrintable(error));
        const auto step = [&](auto change) {
            change();
            QVERIFY2(journal.Append(table.TakeChanges(), &error), qPrintable(error));
            CLeaseTable read(ip(10), ip(12), hosts(), false);
            read.Restore(ReadLeaseFile(path));
            QVERIFY2(read.Leases() == table.Leases(),
                     FormatLeases(read.Leases()) + "--\n" + FormatLeases(table.Leases()));
        };
        step([&] { table.Bind(mac('A'), ip(10), 0, 3600); });
        step([&] { table.Bind(mac('A'), ip(12), 1, 3600); });   // moved: .10 let go
        step([&] { table.Bind(mac('B'), ip(10), 2, 3600); });
        step([&] { table.Release(mac('A'), ip(12), 3); });
        step([&] { table.Decline(mac('B'), ip(10), 4); });
        table.Offer(mac('C'), 0, 5); // an offer needs no disk
        QCOMPARE(table.TakeChanges(), QList<Lease>());
        CLeaseTable read(ip(10), ip(12), hosts(), false);
        read.Restore(ReadLeaseFile(path));
        QCOMPARE(read.Offer(mac('A'), 0, 10).address, ip(12)); // still A's first choice
        QVERIFY2(journal.Rewrite(read.Leases(), &error), qPrintable(error));
        QCOMPARE(ReadLeaseFile(path), read.Leases());
    }

    // Replayed after a crash, the journal is the table of its last line per address:
    // whatever the file holds, what a restart makes of it.
    void replay_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("table"); // the whole file the table then writes
        const QByteArray a = "52:54:00:00:00:41", b = "52:54:00:00:00:42";
        QTest::newRow("a later line for an address wins")
            << a + " 198.51.100.10 100\n" + b + " 198.51.100.10 200\n"
            << b + " 198.51.100.10 200\n";
        QTest::newRow("a client that moved: the old address freed, the new one its")
            << a + " 198.51.100.10 100\n- 198.51.100.10 0\n" + a + " 198.51.100.12 300\n"
            << a + " 198.51.100.12 300\n";
        QTest::newRow("the last append torn by the crash is not read")
            << a + " 198.51.100.10 100\n" + b + " 198.51.1"
            << a + " 198.51.100.10 100\n";
        QTest::newRow("torn after the address: the number is not guessed")
            << a + " 198.51.100.10 100\n" + b + " 198.51.100.12 36"
            << a + " 198.51.100.10 100\n";
        QTest::newRow("a quarantine is kept")
            << QByteArray("- 198.51.100.10 900\n") << QByteArray("- 198.51.100.10 900\n");
        QTest::newRow("a client identifier in place of the MAC")
            << QByteArray("01:52:54:00:00:00:41:ff 198.51.100.12 5\n")
            << QByteArray("01:52:54:00:00:00:41:ff 198.51.100.12 5\n");
        QTest::newRow("outside the pool now, or a fixed host's: dropped")
            << a + " 198.51.100.9 100\n" + a + " 198.51.100.11 100\n" + b + " 198.51.100.12 1\n"
            << b + " 198.51.100.12 1\n";
        QTest::newRow("a line the writer never makes is passed over, the rest read")
            << "52:54 198.51.100.10 1\n" + a + " 198.51.100.10 x\n" + b + " 198.51.100.10 2\n"
            << b + " 198.51.100.10 2\n";
    }
    void replay() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, table);
        CLeaseTable read(ip(10), ip(12), hosts(), false);
        read.Restore(ParseLeases(file));
        QCOMPARE(FormatLeases(read.Leases()).mid(FormatLeases({}).size()), table);
    }

    // The writer on its thread: batches handed over as fast as they come are all on disk
    // once it says so, and all of them when it is ended at once; a file it cannot write
    // is told, and the batches still count as done (the server goes on and says why).
    void writer_data() {
        QTest::addColumn<bool>("threaded");
        QTest::addColumn<int>("batches");
        QTest::newRow("on its thread") << true << 300;
        QTest::newRow("without one (written before Submit returns)") << false << 50;
    }
    void writer() {
        QFETCH(bool, threaded);
        QFETCH(int, batches);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("dhcp-leases"));
        CLeaseTable table(ip(1), ip(250), {}, false);
        table.Restore({{mac('Z'), ip(200), 77}});
        std::atomic<int> syncs{0};
        CLeaseWriter::Durable durable;
        if (threaded)
            durable = [&syncs] { ++syncs; };
        {
            CLeaseWriter writer(path, table.Leases(), durable);
            for (int i = 0; i < batches; ++i) {
                const Mac who = mac(char('A' + i % 20));
                table.Bind(who, ip(1 + i % 120), i, 3600);
                if (i % 7 == 0)
                    table.Release(who, ip(1 + i % 120), i);
                QCOMPARE(writer.Submit(table.TakeChanges()), quint64(i + 1));
            }
            if (!threaded)
                QCOMPARE(writer.DurableUpTo(), quint64(batches));
            QVERIFY(writer.TakeErrors().isEmpty());
        } // ended at once: what it held is written first
        CLeaseTable read(ip(1), ip(250), {}, false);
        read.Restore(ReadLeaseFile(path));
        QCOMPARE(FormatLeases(read.Leases()), FormatLeases(table.Leases()));
        if (threaded)
            QVERIFY(syncs >= 1 && syncs <= batches);
    }
    void writerFailureIsTold() {
        QTemporaryDir dir;
        // A folder where the file would be: neither appended to nor replaced.
        const QString path = dir.filePath(QStringLiteral("dhcp-leases"));
        QVERIFY(QDir().mkpath(path + QStringLiteral("/x")));
        CLeaseWriter writer(path, {}, {});
        QCOMPARE(writer.Submit({{mac('A'), ip(10), 5}}), 1u);
        QCOMPARE(writer.DurableUpTo(), 1u);
        QVERIFY(!writer.TakeErrors().isEmpty());
    }

    // Cut anywhere, the file gives the leases of its whole lines and nothing else.
    void tornFile() {
        QList<Lease> leases;
        for (int i = 0; i < 3; ++i)
            leases.append({mac(char('A' + i)), ip(10 + i), 1765300000 + i});
        const QByteArray whole = FormatLeases(leases);
        for (int cut = 0; cut <= whole.size(); ++cut) {
            const QByteArray part = whole.left(cut);
            const qsizetype lines = part.count('\n');
            const QList<Lease> read = ParseLeases(part);
            QVERIFY2(read == leases.mid(0, qMax<qsizetype>(0, lines - 1)),
                     qPrintable(QStringLiteral("cut at %1").arg(cut)));
        }
        // Garbage lines are passed over, the rest is read.
        QCOMPARE(ParseLeases("junk\n" + whole.mid(whole.indexOf('\n') + 1)).size(), 3);
    }

    void fileWrittenWhole() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sub/dhcp-leases"));
        QCOMPARE(ReadLeaseFile(path), QList<Lease>());
        QString error;
        const QList<Lease> one{{mac('A'), ip(10), 5}};
        const QList<Lease> two{{mac('A'), ip(10), 5}, {mac('B'), ip(12), 7}};
        QVERIFY2(WriteLeaseFile(path, one, &error), qPrintable(error));
        QVERIFY2(WriteLeaseFile(path, two, &error), qPrintable(error));
        QCOMPARE(ReadLeaseFile(path), two);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("dhcp-leases")}); // nothing left beside it
    }
};

QTEST_GUILESS_MAIN(TestLeases)
#include "tst_leases.moc"
