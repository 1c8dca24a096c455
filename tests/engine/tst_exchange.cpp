#include "engine/tftp/SendExchange.h"
#include "engine/tftp/TftpPacket.h"

#include <QtTest>

// The send exchange alone, without a socket or a file: what the transfer relies on it
// for and cannot see from outside.
class TestExchange : public QObject {
    Q_OBJECT

private slots:
    // In lock-step the file is closed once its last block is out: a lost last ACK
    // still brings the same block again, from the exchange's own copy.
    void lastBlockResentWithoutTheFile() {
        const QByteArray file(700, 'x');
        int reads = 0;
        CSendExchange send({512, 1, 0, false},
                           [&](char* data, qint64 maxSize, qint64 offset) {
                               ++reads;
                               const qint64 n = qBound<qint64>(0, file.size() - offset, maxSize);
                               memcpy(data, file.constData() + offset, size_t(n));
                               return n;
                           },
                           file.size(), false);
        auto blocks = [&send](qint64 now) {
            QList<QByteArray> out;
            for (Exchange::Block b; (b = send.NextBlock(now)).packet;)
                out.append(QByteArray(b.packet, int(b.size)));
            return out;
        };
        auto ack = [](quint16 n) {
            char p[4];
            Tftp::PutHeader(p, Tftp::ACK, n);
            return QByteArray(p, 4);
        };
        const auto three = [] { return 3; };
        QVERIFY(send.Start({0, three}).blocks);
        QCOMPARE(blocks(0).value(0).size(), 4 + 512);
        QVERIFY(send.OnDatagram(ack(1).constData(), 4, {10, three}).blocks);
        const QList<QByteArray> last = blocks(10);
        QCOMPARE(last.value(0).size(), 4 + 188);
        QCOMPARE(reads, 1); // both blocks of a small file in one read

        const QByteArray again = ack(1);
        const Exchange::Actions a = send.OnDatagram(again.constData(), 4, {5000, three});
        QVERIFY(a.blocks && a.again);
        QCOMPARE(a.startTimerMs, 3000);
        QCOMPARE(blocks(5000), last);
        QCOMPARE(reads, 1);
        QCOMPARE(send.OnDatagram(ack(2).constData(), 4, {5010, three}).end, Exchange::End::Finished);
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"
