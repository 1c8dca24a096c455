#include "FakePlatform.h"
#include "engine/client/ClientTransfer.h"
#include "engine/client/Reachability.h"
#include "engine/host/ClientRows.h"
#include "engine/tftp/TftpPacket.h"

#include <QTemporaryDir>
#include <numeric>
#include <QtTest>

// The client's side of the exchanges on the fake clock: the device's server is played
// by the test, from the packets it would send.
namespace {
const QHostAddress kDevice(QStringLiteral("198.51.100.7"));
const QHostAddress kStranger(QStringLiteral("198.51.100.9"));
constexpr quint16 kTid = 40000; // the device's transfer port
constexpr int kTimer = 7;
using Outcome = CClientTransfer::Outcome;
using Pairs = QList<QPair<QByteArray, QByteArray>>;

QByteArray data(quint16 block, const QByteArray& bytes) {
    QByteArray p(4, '\0');
    Tftp::PutHeader(p.data(), Tftp::DATA, block);
    return p + bytes;
}
QByteArray error(quint16 code, const char* text) { return Tftp::MakeError(code, text); }
quint16 opcode(const FakeDatagram& d) { return Tftp::Get16(d.data.constData()); }
quint16 number(const FakeDatagram& d) { return Tftp::Get16(d.data.constData() + 2); }

struct Ask {
    bool put = false;
    int blockSize = 0, windowSize = 0;
    bool tsize = false;
    int wait = 0;
    bool netascii = false;
    qint64 maxBytes = 0;    // 0: the default
    qint64 freeBytes = -2;  // the disk's free space as told; -2: the real one
};

// One client transfer against the test's device.
struct Run {
    FakePlatform platform;
    QTemporaryDir dir;
    std::unique_ptr<CClientTransfer> transfer;
    int waiting = 0, completed = 0, finished = 0;

    explicit Run(const Ask& ask, const QByteArray& localBytes = QByteArray(),
                 bool localExists = false) {
        TftpClient::Request r;
        r.put = ask.put;
        r.server = kDevice;
        r.remoteName = "boot/file.bin";
        r.local = {dir.path(), "file.bin"};
        r.blockSize = ask.blockSize;
        r.windowSize = ask.windowSize;
        r.askSize = ask.tsize;
        r.waitSeconds = ask.wait;
        r.netascii = ask.netascii;
        r.timeOut = 2;
        if (ask.maxBytes > 0)
            r.maxBytes = ask.maxBytes;
        static_cast<FakeFiles&>(platform.files()).freeBytes = ask.freeBytes;
        if (ask.put || localExists)
            writeLocal(localBytes);
        CClientTransfer::Report report;
        report.waiting = [this] { ++waiting; };
        report.completed = [this] { ++completed; };
        report.finished = [this] { ++finished; };
        transfer = std::make_unique<CClientTransfer>(platform, kTimer, r, report);
        platform.clock().onTimeout = [this](int id) {
            if (id == kTimer)
                transfer->OnTimer();
        };
        QString why;
        if (!transfer->Start(&why))
            qFatal("start: %s", qPrintable(why));
    }
    void writeLocal(const QByteArray& bytes) {
        QFile f(dir.filePath(QStringLiteral("file.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray local() {
        QFile f(dir.filePath(QStringLiteral("file.bin")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    // The device's packet, from its transfer port unless told otherwise.
    QList<FakeDatagram> answer(const QByteArray& packet, quint16 fromPort = kTid,
                               const QHostAddress& from = kDevice) {
        platform.net.takeSent();
        platform.net.deliver(0, packet, from, fromPort);
        return platform.net.takeSent();
    }
    QList<FakeDatagram> wait(qint64 ms) {
        platform.net.takeSent();
        platform.clock().advance(ms);
        return platform.net.takeSent();
    }
};
} // namespace

class TestClient : public QObject {
    Q_OBJECT

private slots:
    void request() {
        Ask ask;
        ask.blockSize = 1468;
        ask.windowSize = 16;
        ask.tsize = true;
        Run run(ask);
        const QList<FakeDatagram> sent = run.platform.net.sent;
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].peerPort, quint16(69));
        QByteArray expected("\0\1", 2);
        for (const char* s : {"boot/file.bin", "octet", "blksize", "1468", "windowsize", "16", "tsize", "0"})
            expected.append(s).append('\0');
        QCOMPARE(sent[0].data, expected);
    }

    // A device as typed in the dialog or a tftp:// URL. A bare number or a shortened IPv4
    // address would be read as an address (6969 as 0.0.27.57): refused, saying where a
    // port goes.
    void deviceAddress() {
        struct Case {
            const char* typed;
            const char* address; // null: refused
            int port;            // -1: none typed
            const char* why;     // a part of the refusal
        } cases[] = {
            {"192.168.1.1", "192.168.1.1", -1, nullptr},
            {" 192.168.1.1:6969 ", "192.168.1.1", 6969, nullptr},
            {"[::1]:6969", "::1", 6969, nullptr},
            {"[fe80::1]", "fe80::1", -1, nullptr},
            {"2001:db8::7", "2001:db8::7", -1, nullptr}, // bare IPv6: its colons are its own
            {"localhost:69", "127.0.0.1", 69, nullptr},
            {"6969", nullptr, -1, "192.168.1.1:6969"},
            {"10.1", nullptr, -1, "all four parts"},
            {"10.0.0.1.5", nullptr, -1, "all four parts"},
            {"1.2.3.256", nullptr, -1, "all four parts"},
            {"0x7f000001", nullptr, -1, "all four parts"},
            {"6969:69", nullptr, 69, "192.168.1.1:69"},
            {"192.168.1.1:0", nullptr, 0, "1 to 65535"},
            {"192.168.1.1:70000", nullptr, 70000, "1 to 65535"},
            {"192.168.1.1:", nullptr, 0, "1 to 65535"},
            {"[::1]x", nullptr, -1, "brackets"},
            {"[::1", nullptr, -1, "brackets"},
            {"", nullptr, -1, "such as 192.168.1.1"},
            {":69", nullptr, 69, "such as 192.168.1.1"},
        };
        for (const Case& c : cases) {
            const TftpClient::Device d = TftpClient::ParseDevice(QString::fromLatin1(c.typed));
            if (c.address) {
                QVERIFY2(d.why.isEmpty(), qPrintable(QLatin1String(c.typed) + ": " + d.why));
                QCOMPARE(d.address, QHostAddress(QString::fromLatin1(c.address)));
                QCOMPARE(d.port, c.port);
            } else {
                QVERIFY2(d.address.isNull() && d.why.contains(QLatin1String(c.why)),
                         qPrintable(QLatin1String(c.typed) + ": " + d.why));
            }
        }
        // The same rule where a name is looked up.
        QVERIFY(TftpClient::ResolveHost(QStringLiteral("6969")).isNull());
        QCOMPARE(TftpClient::ResolveHost(QStringLiteral("[::1]")), QHostAddress(QStringLiteral("::1")));
    }

    // An OACK is taken when it answers what was asked; anything else gets ERROR 8.
    void oack_data() {
        QTest::addColumn<bool>("put");
        QTest::addColumn<int>("blksize");
        QTest::addColumn<int>("windowsize");
        QTest::addColumn<bool>("tsize");
        QTest::addColumn<QByteArray>("oack"); // after the opcode
        QTest::addColumn<int>("blockTaken"); // 0: refused
        QTest::addColumn<int>("windowTaken");
        QTest::addColumn<qint64>("total");
        const QByteArray z("\0", 1);
        QTest::newRow("get blksize as asked") << false << 1468 << 0 << false
                                              << "blksize" + z + "1468" + z << 1468 << 1 << -1LL;
        QTest::newRow("get blksize smaller") << false << 1468 << 0 << false
                                             << "BLKSIZE" + z + "1024" + z << 1024 << 1 << -1LL;
        QTest::newRow("get all three") << false << 1468 << 16 << true
                                       << "windowsize" + z + "8" + z + "blksize" + z + "1428" + z +
                                              "tsize" + z + "123456" + z
                                       << 1428 << 8 << 123456LL;
        QTest::newRow("get empty") << false << 1468 << 0 << false << QByteArray() << 512 << 1 << -1LL;
        QTest::newRow("put windowsize") << true << 0 << 16 << true
                                        << "windowsize" + z + "4" + z + "tsize" + z + "700" + z << 512
                                        << 4 << 700LL;
        QTest::newRow("blksize larger") << false << 1024 << 0 << false
                                        << "blksize" + z + "1468" + z << 0 << 0 << -1LL;
        QTest::newRow("blksize below 8") << true << 1024 << 0 << false
                                         << "blksize" + z + "4" + z << 0 << 0 << -1LL;
        QTest::newRow("windowsize larger") << false << 0 << 4 << false
                                           << "windowsize" + z + "16" + z << 0 << 0 << -1LL;
        QTest::newRow("not asked") << false << 1468 << 0 << false
                                   << "blksize" + z + "1468" + z + "timeout" + z + "5" + z << 0 << 0
                                   << -1LL;
        QTest::newRow("nothing asked") << true << 0 << 0 << false
                                       << "blksize" + z + "512" + z << 0 << 0 << -1LL;
        QTest::newRow("twice") << false << 1468 << 0 << false
                               << "blksize" + z + "1468" + z + "blksize" + z + "1024" + z << 0 << 0
                               << -1LL;
        QTest::newRow("not a number") << false << 1468 << 0 << false
                                      << "blksize" + z + "big" + z << 0 << 0 << -1LL;
        // What a device names and values goes to the terminal and the row: never raw.
        QTest::newRow("escape in a name") << false << 1468 << 0 << false
                                          << "\x1b]0;owned\x07" + z + "1" + z << 0 << 0 << -1LL;
        QTest::newRow("escape in a value") << false << 1468 << 0 << false
                                           << "blksize" + z + "\x1b[2J\r" + z << 0 << 0 << -1LL;
        QTest::newRow("unended") << false << 1468 << 0 << false << QByteArray("blksize\0" "1468", 12)
                                 << 0 << 0 << -1LL;
    }
    void oack() {
        QFETCH(bool, put);
        QFETCH(int, blksize);
        QFETCH(int, windowsize);
        QFETCH(bool, tsize);
        QFETCH(QByteArray, oack);
        QFETCH(int, blockTaken);
        QFETCH(int, windowTaken);
        QFETCH(qint64, total);
        Run run({put, blksize, windowsize, tsize}, QByteArray(700, 'p'), true);
        const QList<FakeDatagram> out = run.answer(QByteArray("\0\6", 2) + oack);
        QCOMPARE(out.size(), put && windowTaken > 1 ? 2 : 1); // 700 bytes: two blocks
        QCOMPARE(out[0].peerPort, kTid);
        if (!blockTaken) {
            QCOMPARE(opcode(out[0]), quint16(Tftp::ERROR));
            QCOMPARE(number(out[0]), quint16(8));
            QCOMPARE(run.transfer->Result(), Outcome::Failed);
            QCOMPARE(run.finished, 1);
            for (const QChar c : run.transfer->FailureText())
                QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7f, qPrintable(run.transfer->FailureText()));
            QCOMPARE(run.local(), QByteArray(700, 'p')); // an existing file untouched
            return;
        }
        QCOMPARE(run.transfer->BlockSize(), blockTaken);
        QCOMPARE(run.transfer->WindowSize(), windowTaken);
        QCOMPARE(run.transfer->Total(), put ? 700 : total);
        if (put) {
            // The OACK stands for ACK 0: the first block goes (and the window with it).
            QCOMPARE(opcode(out[0]), quint16(Tftp::DATA));
            QCOMPARE(out[0].data.size(), 4 + 512);
        } else {
            QCOMPARE(opcode(out[0]), quint16(Tftp::ACK));
            QCOMPARE(number(out[0]), quint16(0));
            // Our ACK 0 lost: the OACK again gets it again.
            const QList<FakeDatagram> again = run.answer(QByteArray("\0\6", 2) + oack);
            QCOMPARE(again.size(), 1);
            QCOMPARE(number(again[0]), quint16(0));
        }
    }

    // A server that ignores the options answers in lock-step of 512, and is followed.
    void optionsIgnored() {
        Run get({false, 1468, 16, true});
        QList<FakeDatagram> out = get.answer(data(1, QByteArray(512, 'a')));
        QCOMPARE(out.size(), 1);
        QCOMPARE(opcode(out[0]), quint16(Tftp::ACK));
        QCOMPARE(number(out[0]), quint16(1));
        out = get.answer(data(2, "tail"));
        QCOMPARE(number(out.value(0)), quint16(2));
        QCOMPARE(get.completed, 1);
        QCOMPARE(get.local(), QByteArray(512, 'a') + "tail");

        Run put({true, 1468, 16, true}, QByteArray(600, 'b'));
        out = put.answer(Tftp::MakeAck(0));
        QCOMPARE(out.size(), 1);
        QCOMPARE(out[0].data, data(1, QByteArray(512, 'b')));
        out = put.answer(Tftp::MakeAck(1));
        QCOMPARE(out[0].data, data(2, QByteArray(88, 'b')));
        QCOMPARE(put.answer(Tftp::MakeAck(2)).size(), 0);
        QCOMPARE(put.transfer->Result(), Outcome::Done);
        QCOMPARE(put.finished, 1);
    }

    // The first answer names the transfer port; every other port hears ERROR 5 (never
    // in answer to an ERROR, at most once a second) and changes nothing.
    void strangers() {
        Run run({});
        QCOMPARE(run.answer(data(1, QByteArray(512, 'a'))).size(), 1);
        struct Case {
            quint16 port;
            QHostAddress from;
            QByteArray packet;
            int answers;
        };
        const Case cases[] = {
            {kTid + 1, kDevice, data(2, "x"), 1},
            {kTid, kStranger, data(2, "x"), 0}, // answered already this second
            {kTid, kStranger, error(0, "go away"), 0},
        };
        for (const Case& c : cases) {
            const QList<FakeDatagram> out = run.answer(c.packet, c.port, c.from);
            QCOMPARE(out.size(), c.answers);
            for (const FakeDatagram& d : out) {
                QCOMPARE(d.data, Tftp::MakeError(5));
                QCOMPARE(d.peerPort, c.port);
            }
        }
        run.wait(1100); // the device's ACK resent meanwhile is not what matters here
        const QList<FakeDatagram> later = run.answer(data(2, "x"), kTid, kStranger);
        QCOMPARE(later.size(), 1);
        QCOMPARE(later[0].peer, kStranger);
        QCOMPARE(run.transfer->Result(), Outcome::None);
        QCOMPARE(number(run.answer(data(2, "end")).value(0)), quint16(2));
        QCOMPARE(run.transfer->Result(), Outcome::Done);
    }

    // The request goes again at each time-out until something answers: six times,
    // or with --wait every second for that many seconds.
    void unanswered_data() {
        QTest::addColumn<int>("wait");
        QTest::addColumn<int>("answerAtMs"); // -1: never
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("waiting");
        QTest::newRow("never") << 0 << -1 << 6 << int(Outcome::NoAnswer) << 0;
        QTest::newRow("at the third") << 0 << 4500 << 3 << int(Outcome::None) << 0;
        QTest::newRow("wait, never") << 5 << -1 << 5 << int(Outcome::NoAnswer) << 1;
        QTest::newRow("wait, answered") << 30 << 3500 << 4 << int(Outcome::None) << 1;
        QTest::newRow("wait, at once") << 30 << 200 << 1 << int(Outcome::None) << 0;
    }
    void unanswered() {
        QFETCH(int, wait);
        QFETCH(int, answerAtMs);
        QFETCH(int, requests);
        QFETCH(int, outcome);
        QFETCH(int, waiting);
        Ask ask;
        ask.wait = wait;
        Run run(ask);
        int sent = 1;
        const int until = answerAtMs >= 0 ? answerAtMs : 60000;
        for (int ms = 0; ms < until && run.finished == 0; ms += 100) {
            for (const FakeDatagram& d : run.wait(100)) {
                QCOMPARE(d.peerPort, quint16(69));
                QCOMPARE(opcode(d), quint16(Tftp::RRQ));
                ++sent;
            }
        }
        if (answerAtMs >= 0)
            QCOMPARE(number(run.answer(data(1, "short")).value(0)), quint16(1));
        QCOMPARE(sent, requests);
        QCOMPARE(run.waiting, waiting);
        QCOMPARE(int(run.transfer->Result()), answerAtMs >= 0 ? int(Outcome::Done) : outcome);
        if (answerAtMs < 0)
            QCOMPARE(run.local(), QByteArray("<none>"));
    }

    // The device's ERROR ends it, first answer or later; a fetch leaves no file and an
    // existing one as it was.
    void serverError_data() {
        QTest::addColumn<bool>("put");
        QTest::addColumn<int>("blocksFirst");
        QTest::newRow("get refused") << false << 0;
        QTest::newRow("get cut short") << false << 2;
        QTest::newRow("put refused") << true << 0;
        QTest::newRow("put cut short") << true << 1;
    }
    void serverError() {
        QFETCH(bool, put);
        QFETCH(int, blocksFirst);
        Run run({put}, QByteArray(2000, 'o'), true);
        for (int b = 1; b <= blocksFirst; ++b)
            run.answer(put ? Tftp::MakeAck(quint16(b - 1)) : data(quint16(b), QByteArray(512, 'n')));
        QCOMPARE(run.answer(error(1, "File not found\n")).size(), 0);
        QCOMPARE(run.transfer->Result(), Outcome::ServerError);
        QCOMPARE(run.transfer->ServerCode(), quint16(1));
        QCOMPARE(run.transfer->ServerText(), QStringLiteral("File not found\\n"));
        QCOMPARE(run.local(), QByteArray(2000, 'o'));
        QCOMPARE(run.platform.net.openSockets, 0);
    }

    // A device that sends other than it agreed to: a block longer than the block size,
    // more than it told (tsize) or fewer, more than the limit or the disk takes. Each is
    // refused with an ERROR at the first byte too many, never cut to fit, and the fetch
    // leaves nothing (an existing file as it was).
    void misbehaving_data() {
        QTest::addColumn<int>("blksize");   // asked (and granted in the OACK); 0: no options
        QTest::addColumn<qint64>("tsize");   // told in the OACK; -1: not asked
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<QList<int>>("blocks"); // the DATA sizes the device sends, in order
        QTest::addColumn<int>("errorCode");  // what it hears back; -1 none (done)
        QTest::addColumn<int>("refusedAt");  // the block refused (1-based); 0 before any
        QTest::addColumn<QString>("why");    // a part of the failure text
        QTest::newRow("2100 bytes in a 512 block") << 0 << -1LL << 0LL << -2LL
                                                   << QList<int>{2100} << 4 << 1 << "2100 bytes";
        QTest::newRow("1100 bytes in a 1024 block") << 1024 << -1LL << 0LL << -2LL
                                                    << QList<int>{1024, 1100} << 4 << 2 << "block size 1024";
        QTest::newRow("one byte over 512") << 0 << -1LL << 0LL << -2LL << QList<int>{512, 513} << 4 << 2
                                           << "513 bytes";
        QTest::newRow("never stops, --max-bytes") << 0 << -1LL << 5120LL << -2LL << QList<int>(40, 512)
                                                  << 3 << 11 << "max bytes";
        QTest::newRow("never stops, the disk") << 0 << -1LL << 0LL << 3000LL << QList<int>(40, 512) << 3 << 6
                                               << "3000 bytes free";
        QTest::newRow("more than told") << 512 << 1000LL << 0LL << -2LL << QList<int>{512, 512, 300} << 0 << 2
                                        << "1000 bytes it told";
        QTest::newRow("fewer than told") << 512 << 2000LL << 0LL << -2LL << QList<int>{512, 100} << 0 << 2
                                         << "612 bytes, not the 2000";
        QTest::newRow("told more than the disk has") << 512 << 6000LL << 0LL << 5000LL << QList<int>{512} << 3
                                                     << 0 << "5000 bytes free";
        QTest::newRow("told more than --max-bytes") << 512 << 6000LL << 4096LL << -2LL << QList<int>{512} << 3
                                                    << 0 << "max bytes";
        QTest::newRow("as told") << 512 << 1124LL << 0LL << -2LL << QList<int>{512, 512, 100} << -1 << 0 << "";
        QTest::newRow("exactly the limit") << 0 << -1LL << 1024LL << -2LL << QList<int>{512, 512, 0} << -1 << 0
                                           << "";
    }
    void misbehaving() {
        QFETCH(int, blksize);
        QFETCH(qint64, tsize);
        QFETCH(qint64, maxBytes);
        QFETCH(qint64, freeBytes);
        QFETCH(QList<int>, blocks);
        QFETCH(int, errorCode);
        QFETCH(int, refusedAt);
        QFETCH(QString, why);
        Ask ask;
        ask.blockSize = blksize;
        ask.tsize = tsize >= 0;
        ask.maxBytes = maxBytes;
        ask.freeBytes = freeBytes;
        Run run(ask, "before", true);
        QList<FakeDatagram> heard;
        if (blksize > 0 || tsize >= 0) {
            QByteArray oack("\0\6", 2);
            if (blksize > 0)
                oack += "blksize" + QByteArray(1, '\0') + QByteArray::number(blksize) + QByteArray(1, '\0');
            if (tsize >= 0)
                oack += "tsize" + QByteArray(1, '\0') + QByteArray::number(tsize) + QByteArray(1, '\0');
            heard += run.answer(oack);
        }
        int sent = 0;
        for (int size : blocks) {
            if (run.finished)
                break;
            ++sent;
            heard += run.answer(data(quint16(sent), QByteArray(size, 'd')));
        }
        if (errorCode < 0) {
            QCOMPARE(run.transfer->Result(), Outcome::Done);
            QCOMPARE(run.local().size(), qsizetype(std::accumulate(blocks.begin(), blocks.end(), 0)));
            return;
        }
        QCOMPARE(run.transfer->Result(), Outcome::Failed);
        QVERIFY2(run.transfer->FailureText().contains(why), qPrintable(run.transfer->FailureText()));
        QCOMPARE(sent, refusedAt == 0 ? 0 : refusedAt);
        QVERIFY(!heard.isEmpty());
        QCOMPARE(opcode(heard.last()), quint16(Tftp::ERROR));
        QCOMPARE(number(heard.last()), quint16(errorCode));
        for (const FakeDatagram& d : heard.mid(0, heard.size() - 1)) // no ACK for the refused block
            QVERIFY(opcode(d) != Tftp::ACK || number(d) < quint16(refusedAt));
        QCOMPARE(run.local(), QByteArray("before"));
        QCOMPARE(run.platform.net.openSockets, 0);
    }

    // No answer: whether this machine has an address in the device's network (/24
    // assumed), and the nmcli command for one in that network, never a fixed one.
    void network_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("mine"); // this machine's addresses, a/bits, on eth0 (up)
        QTest::addColumn<QString>("network");  // empty: nothing to say
        QTest::addColumn<QString>("suggested");
        QTest::newRow("recovery router, no address") << "192.168.1.1" << QStringList{"10.0.0.5/8"}
                                                    << "192.168.1.0/24" << "192.168.1.10/24";
        QTest::newRow("another network") << "10.20.30.2" << QStringList{"192.168.1.5/24"} << "10.20.30.0/24"
                                         << "10.20.30.10/24";
        QTest::newRow("the device is .10") << "172.16.4.10" << QStringList{} << "172.16.4.0/24"
                                           << "172.16.4.20/24";
        QTest::newRow("an address there") << "192.168.1.1" << QStringList{"192.168.1.7/24"} << "" << "";
        QTest::newRow("a wider network holds it") << "10.1.2.3" << QStringList{"10.9.9.9/8"} << "" << "";
        QTest::newRow("loopback") << "127.0.0.1" << QStringList{} << "" << "";
        QTest::newRow("IPv6") << "2001:db8::2" << QStringList{} << "" << "";
    }
    void network() {
        QFETCH(QString, device);
        QFETCH(QStringList, mine);
        QFETCH(QString, network);
        QFETCH(QString, suggested);
        NetInterface lo{QStringLiteral("lo"), true, true, {QHostAddress::LocalHost}, {8}};
        NetInterface eth{QStringLiteral("eth0"), true, false, {}, {}};
        NetInterface usb{QStringLiteral("enx00e04c680001"), true, false, {}, {}};
        for (const QString& m : mine) {
            eth.addresses.append(QHostAddress(m.section(QLatin1Char('/'), 0, 0)));
            eth.prefixLengths.append(m.section(QLatin1Char('/'), 1).toInt());
        }
        const TftpClient::Reach r = TftpClient::LookAtNetwork(QHostAddress(device), {lo, eth, usb});
        if (network.isEmpty()) {
            QCOMPARE(r.kind, TftpClient::Reach::Answered);
            return;
        }
        QCOMPARE(r.kind, TftpClient::Reach::NoAddress);
        QVERIFY2(r.text.contains(QStringLiteral("no address in %1 (the device's network)").arg(network)),
                 qPrintable(r.text));
        // The one interface up without an address is the cable's (with none, a word to replace).
        QCOMPARE(r.command, TftpClient::NmcliAddressCommand(mine.isEmpty() ? QStringLiteral("IFACE")
                                                                           : usb.name,
                                                            suggested));
        QVERIFY(r.text.contains(r.command));
    }

    // A device silent in the middle: the last packet again at each time-out, then the
    // end; a fetch leaves nothing.
    void silentDevice_data() {
        QTest::addColumn<bool>("put");
        QTest::newRow("get") << false;
        QTest::newRow("put") << true;
    }
    void silentDevice() {
        QFETCH(bool, put);
        Run run({put}, QByteArray(2000, 's'));
        run.answer(put ? Tftp::MakeAck(0) : data(1, QByteArray(512, 'n')));
        QList<FakeDatagram> resent;
        for (int i = 0; i < 10 && !run.finished; ++i)
            resent += run.wait(2000);
        QCOMPARE(resent.size(), 5);
        for (const FakeDatagram& d : resent)
            QCOMPARE(number(d), quint16(1));
        QCOMPARE(run.transfer->Result(), Outcome::NotResponding);
        if (!put)
            QCOMPARE(run.local(), QByteArray("<none>"));
    }

    // The last DATA repeated (our ACK lost) gets the last ACK again until the port closes.
    void lastAckRepeated() {
        Run run({});
        QCOMPARE(number(run.answer(data(1, "only")).value(0)), quint16(1));
        QCOMPARE(run.completed, 1);
        QCOMPARE(run.local(), QByteArray("only")); // named as soon as complete
        const QList<FakeDatagram> again = run.answer(data(1, "only"));
        QCOMPARE(again.size(), 1);
        QCOMPARE(again[0].data, Tftp::MakeAck(1));
        QCOMPARE(run.finished, 0);
        run.wait(2000);
        QCOMPARE(run.finished, 1);
        QCOMPARE(run.transfer->Result(), Outcome::Done);
    }

    // Netascii: CR LF and CR NUL on the wire, the local bytes on disk, both ways.
    void netascii() {
        Ask get;
        get.netascii = true;
        Run fetch(get);
        QVERIFY(fetch.platform.net.sent[0].data.contains(QByteArray("netascii")));
        fetch.answer(data(1, QByteArray("a\r\nb\r\0c", 7)));
        QCOMPARE(fetch.local(), QByteArray("a\nb\rc"));

        Ask put = get;
        put.put = true;
        Run send(put, "x\ny\r");
        const QList<FakeDatagram> out = send.answer(Tftp::MakeAck(0));
        QCOMPARE(out.value(0).data, data(1, QByteArray("x\r\ny\r\0", 6)));
    }

    // Each client transfer is a row like the server's: Service "Send" or "Receive" (the
    // server's words for a file that leaves or reaches this machine), marked as ours, Client
    // the device, the colours and sounds of its ending.
    void rows_data() {
        QTest::addColumn<bool>("put");
        QTest::addColumn<QString>("device"); // what the device does: silent, error, done, abort
        QTest::addColumn<QString>("info");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("sound");
        QTest::newRow("get, silent") << false << "silent" << "Device not answering" << int(ROW_FAILED)
                                     << int(SOUND_FAILED);
        QTest::newRow("put, error") << true << "error" << "Error 2 from the device: read-only"
                                    << int(ROW_FAILED) << int(SOUND_FAILED);
        // fw.bin is there before: the fetch replaced it, and says so.
        QTest::newRow("get, done") << false << "done" << "Receive Complete (replaced)" << int(ROW_RECEIVED)
                                   << int(SOUND_RECEIVED);
        QTest::newRow("put, done") << true << "done" << "Transfer Complete" << int(ROW_SENT)
                                   << int(SOUND_SENT);
        QTest::newRow("put, aborted") << true << "abort" << "User aborts!!" << int(ROW_FAILED)
                                      << int(SOUND_FAILED);
    }
    void rows() {
        QFETCH(bool, put);
        QFETCH(QString, device);
        QFETCH(QString, info);
        QFETCH(int, state);
        QFETCH(int, sound);
        FakePlatform platform;
        RecordingWindow window;
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("fw.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("firmware");
        file.close();
        RowHandle next = 100;
        CClientRows rows(platform, window,
                         {[&](const RowTexts& t) {
                              window.AddRow(++next, t);
                              return next;
                          },
                          [&](int id) { window.PlayWaveResource(id); }});
        platform.clock().onTimeout = [&](int id) { QVERIFY(rows.OnTimer(id)); };
        TftpClient::Request r;
        r.put = put;
        r.server = kDevice;
        r.remoteName = "fw.bin";
        r.local = {dir.path(), "fw.bin"};
        rows.Start(r, QStringLiteral("fw.bin"));
        QCOMPARE(window.last().texts.service, put ? QStringLiteral("Send") : QStringLiteral("Receive"));
        QVERIFY(window.last().texts.device);
        QCOMPARE(window.last().texts.client, kDevice.toString());
        QCOMPARE(window.sounds.value(0), int(SOUND_REQUEST));
        if (device == QLatin1String("silent")) {
            platform.clock().advance(60000);
        } else if (device == QLatin1String("error")) {
            platform.net.deliver(0, error(2, "read-only"), kDevice, kTid);
        } else if (device == QLatin1String("abort")) {
            platform.net.deliver(0, Tftp::MakeAck(0), kDevice, kTid);
            QVERIFY(rows.AbortRow(next));
            QVERIFY(platform.net.sent.last().data.startsWith(QByteArray("\0\5\0\0", 4)));
        } else {
            platform.net.deliver(0, put ? Tftp::MakeAck(0) : data(1, "firmware"), kDevice, kTid);
            if (put)
                platform.net.deliver(0, Tftp::MakeAck(1), kDevice, kTid);
            QCOMPARE(window.last().texts.size, QStringLiteral("8 Bytes"));
        }
        QCOMPARE(window.last().texts.info, info);
        QCOMPARE(int(window.last().state), state);
        QCOMPARE(window.sounds.last(), sound);
        QVERIFY(!rows.AbortRow(next)); // over: nothing to abort
        QVERIFY(!rows.OnTimer(5));     // a transfer port's timer is the server's
        QCOMPARE(rows.Running(), 0);
    }

    // Keep trying: the row counts the seconds down, and the transfer is running (Exit
    // asks, Abort is offered) from its first row on; closing the program ends it with
    // its own words, not ACTIVE for good.
    void waitingRow() {
        FakePlatform platform;
        RecordingWindow window;
        QTemporaryDir dir;
        RowHandle next = 100;
        int running = -1;
        CClientRows* self = nullptr;
        CClientRows rows(platform, window,
                         {[&](const RowTexts& t) {
                              running = self->Running();
                              window.AddRow(++next, t);
                              return next;
                          },
                          [&](int id) { window.PlayWaveResource(id); },
                          [](const QHostAddress& d) {
                              return QStringLiteral("no route to ") + d.toString();
                          }});
        self = &rows;
        platform.clock().onTimeout = [&](int id) { rows.OnTimer(id); };
        TftpClient::Request r;
        r.server = kDevice;
        r.remoteName = "cfg";
        r.local = {dir.path(), "cfg"};
        r.waitSeconds = 5;
        rows.Start(r, QStringLiteral("cfg"));
        QCOMPARE(running, 1);
        QCOMPARE(window.last().texts.info, QStringLiteral("Waiting for the device (5 s left)...."));
        platform.clock().advance(2000);
        QCOMPARE(window.last().texts.info, QStringLiteral("Waiting for the device (3 s left)...."));
        QCOMPARE(int(window.last().state), int(ROW_ACTIVE));
        platform.clock().advance(4000);
        QCOMPARE(window.last().texts.info, QStringLiteral("Device not answering: no route to 198.51.100.7"));
        QCOMPARE(rows.Running(), 0);

        rows.Start(r, QStringLiteral("cfg"));
        platform.net.deliver(0, data(1, QByteArray(512, 'c')), kDevice, kTid);
        QCOMPARE(rows.Running(), 1);
        rows.Close();
        QCOMPARE(platform.net.sent.last().data.left(4), QByteArray("\0\5\0\0", 4));
        QCOMPARE(window.last().texts.info, QStringLiteral("Ended with the program"));
        QCOMPARE(int(window.last().state), int(ROW_FAILED));
        QCOMPARE(rows.Running(), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestClient)
#include "tst_client.moc"
