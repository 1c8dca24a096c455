#include "engine/tftp/ReceiveExchange.h"
#include "tests/tftp/ExchangeDriver.h"

#include <QtTest>

using namespace ExchangeTest;
using Exchange::Shape;

// An upload's exchange alone: each row a negotiated shape and what the client sends,
// against what the exchange writes and acknowledges and how it ends.
class TestReceiveExchange : public QObject {
    Q_OBJECT


    static void Columns() {
        QTest::addColumn<Shape>("shape");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("trace");
    }
    static void Row(const char* name, Shape shape, const QString& script, const QString& trace) {
        QTest::newRow(name) << shape << script << trace;
    }
    static void Run() {
        QFETCH(Shape, shape);
        QFETCH(QString, script);
        QFETCH(QString, trace);
        CReceiveExchange receive(shape);
        CDriver driver(receive, shape.blockSize, CDriver::Side::Upload);
        QCOMPARE(driver.Run(script), trace.split(" | "));
    }
    // DATA from..to, full blocks.
    static QString Blocks(int from, int to) {
        QStringList out;
        for (int n = from; n <= to; ++n)
            out << QString("D%1").arg(n);
        return out.join(' ');
    }

    // A block taken inside a window: the first one after an ACK starts the timer, the
    // others leave it running.
    const QString kFirst = "stop w512 t3000";
    const QString kTaken = "w512";

private slots:
    void upload_data() {
        Columns();
        Row("lock-step, short last block, then the linger", kLockStep, "D1 D2:100 T",
            "recv t3000 a0 | stop w512 t3000 a1 | stop w100! t3000 a2 | =Lingered");
        Row("lock-step, exact multiple: an empty last block", kLockStep, "D1 D2 D3:0 T",
            "recv t3000 a0 | stop w512 t3000 a1 | stop w512 t3000 a2 | stop w0! t3000 a3 | =Lingered");
        Row("empty file", kLockStep, "D1:0", "recv t3000 a0 | stop w0! t3000 a1");
        Row("the OACK stands for ACK 0", kOack, "D1 D2:10",
            "recv t3000 oack | stop w512 t3000 a1 | stop w10! t3000 a2");
        Row("OACK pending: only DATA 1 goes on; a repeat is the OACK, then the ACK", kOack,
            "D2 A0 R D1 R", "recv t3000 oack | - | - | oack | stop w512 t3000 a1 | a1");
        Row("window 4, the last block inside a window", kWindow4, "D1 D2 D3 D4 D5 D6:7",
            Steps({"recv t3000 oack", kFirst, Times(kTaken, 2), "stop w512 t3000 a4", kFirst, "stop w7! t3000 a6"}));
        Row("window 4, exact multiple", kWindow4, "D1 D2 D3 D4 D5:0",
            Steps({"recv t3000 oack", kFirst, Times(kTaken, 2), "stop w512 t3000 a4", "stop w0! t3000 a5"}));
        Row("window 16 of 8 bytes", Shape{8, 16, 0, true}, Blocks(1, 16) + " D17:3",
            Steps({"recv t3000 oack", "stop w8 t3000", Times("w8", 14), "stop w8 t3000 a16", "stop w3! t3000 a17"}));
        Row("window 4: the last window again after the end: its last block is acknowledged",
            kWindow4, "D1 D2:5 D1 D2:5 T", "recv t3000 oack | stop w512 t3000 | stop w5! t3000 a2 | - | t3000 a2 | =Lingered");
        Row("an ACK to an upload is stray", kLockStep, "A1 D1",
            "recv t3000 a0 | - | stop w512 t3000 a1");
        Row("lock-step: a DATA past the next one", kLockStep, "D2 D1",
            "recv t3000 a0 | stop =DataTooFar | -");
        Row("lingering: a repeated last block is acknowledged again, nothing else counts",
            kLockStep, "D1:5 D1:5 D0 E0 A1 T D1:5",
            "recv t3000 a0 | stop w5! t3000 a1 | t3000 a1 | - | - | - | =Lingered | -");
    }
    void upload() { Run(); }

    // Loss, duplicates and reordering: a gap inside a window is told once, a duplicate
    // within 200 ms of our ACK is the network's echo (RFC 1123 4.2.3.1).
    void loss_data() {
        Columns();
        Row("window 4: a missing block is told once", kWindow4, "D1 D3 D4 D2 D3 D4 D5",
            Steps({"recv t3000 oack", kFirst, "a1", "-", kFirst, Times(kTaken, 2), "stop w512 t3000 a5"}));
        Row("window 4: DATA reordered", kWindow4, "D1@10 D3@20 D2@30 D4@40 D2@50 D3@60 D4@70 D5@80 D6@90",
            Steps({"recv t3000 oack", kFirst, "a1", kFirst, "a2", "-", kFirst, Times(kTaken, 2), "stop w512 t3000 a6"}));
        Row("window 4: a duplicate soon after our ACK is an echo; later it is acknowledged",
            kWindow4, "D1@10 D2@20 D3@30 D4@40 D4@100 D4@300 D1@400",
            Steps({"recv t3000 oack", kFirst, Times(kTaken, 2), "stop w512 t3000 a4", "-", "stop dupdata t3000 a4", "-"}));
        Row("window 4: the block just taken again: an echo, then where we are", kWindow4, "D1@10 D1@20 D1@300 D2@310",
            "recv t3000 oack | stop w512 t3000 | - | stop dupdata t3000 a1 | stop w512 t3000");
        Row("lock-step: each duplicate is acknowledged; the sixth in a row gives up", kLockStep,
            "D1 D1 D1 D1 D1 D1 D1",
            Steps({"recv t3000 a0", "stop w512 t3000 a1", Times("stop dupdata t3000 a1", 5),
                   "stop dupdata =NotResponding"}));
        Row("lock-step: five time-outs resend the ACK, the sixth gives up", kLockStep, "D1 T T T T T T D2",
            Steps({"recv t3000 a0", "stop w512 t3000 a1", Times("t3000 a1", 5), "=NotResponding", "-"}));
        Row("progress starts the count again", kLockStep, "T T T T T D1 T T T T T T",
            Steps({"recv t3000 a0", Times("t3000 a0", 5), "stop w512 t3000 a1", Times("t3000 a1", 5),
                   "=NotResponding"}));
        Row("OACK unanswered: five more, then not responding", kOack, "T T T T T T D1",
            Steps({"recv t3000 oack", Times("t3000 oack", 5), "=NotResponding", "-"}));
        // DATA 1 lost: atftp takes the OACK again as leave to send its next window, so
        // the later block is answered with ACK 0, and the time-outs after it too.
        Row("window 4: DATA 1 lost after the OACK: ACK 0, not the OACK", kWindow4, "D2 D3 T D1 D2 D3 D4",
            Steps({"recv t3000 oack", "stop t3000 a0", "-", "t3000 a0", kFirst, Times(kTaken, 2), "stop w512 t3000 a4"}));
        Row("window 4: a time-out acknowledges the blocks taken so far", kWindow4, "D1 D2 T D3 D4 D5 D6",
            Steps({"recv t3000 oack", kFirst, kTaken, "t3000 a2", kFirst, Times(kTaken, 2), "stop w512 t3000 a6"}));
        // Our ACK of a window lost, the sender (atftp) sends one block past it per time-out
        // and waits: those blocks must not put our time-out off, or neither side speaks.
        Row("window 4: blocks a time-out apart do not put the ACK off", kWindow4,
            "D1@10 D2@11 D3@12 D4@13 D5@3013 D6@6013 T@6014",
            Steps({"recv t3000 oack", kFirst, Times(kTaken, 2), "stop w512 t3000 a4", kFirst, kTaken, "t3000 a6"}));
        Row("the TimeOut setting is read at each ACK; 0 runs with one second", kLockStep, "K5 D1 T K0 D2",
            "recv t3000 a0 | stop w512 t5000 a1 | t5000 a1 | stop w512 t1000 a2");
        Row("a negotiated time-out wins over the setting", Shape{512, 1, 2, true}, "K7 D1",
            "recv t2000 oack | stop w512 t2000 a1");
    }
    void loss() { Run(); }

    void endings_data() {
        Columns();
        Row("the client's ERROR mid-upload", kLockStep, "D1 E3 D2",
            "recv t3000 a0 | stop w512 t3000 a1 | stop =ClientError(3) | -");
        Row("ERROR 8 mid-upload is the client's error", kLockStep, "D1 E8",
            "recv t3000 a0 | stop w512 t3000 a1 | stop =ClientError(8)");
        Row("window 4: the client's ERROR inside a window", kWindow4, "D1 D2 E0",
            Steps({"recv t3000 oack", kFirst, kTaken, "stop =ClientError(0)"}));
        Row("an ERROR before any DATA", kLockStep, "E2", "recv t3000 a0 | stop =ClientError(2)");
        Row("size probe: ERROR 8 to the OACK", kOack, "E8 D1", "recv t3000 oack | stop =ProbeAnswered | -");
        Row("ERROR 0 to the OACK is the client's error", kOack, "E0", "recv t3000 oack | stop =ClientError(0)");
    }
    void endings() { Run(); }

    // Block numbers roll over from 65535 to 0: 65537 blocks of 8 bytes.
    void wrap_data() {
        Columns();
        Row("lock-step past 65535; stale and repeated blocks across the wrap", Shape{8, 1, 0, false},
            "F65535 D0 D65535 D0 D1:3 T",
            "recv t3000 a0 | stop w8 t3000 a65535 | stop w8 t3000 a0 | - | stop dupdata t3000 a0 | stop w3! t3000 a1 | =Lingered");
        Row("window 16 past 65535", Shape{8, 16, 0, true}, "F65535 D0 D1:3",
            "recv t3000 oack | w8 | stop w8 t3000 a0 | stop w3! t3000 a1");
        Row("window 16: a gap across the wrap", Shape{8, 16, 0, true}, "F65534 D0 D65535",
            "recv t3000 oack | w8 | a65534 | stop w8 t3000");
    }
    void wrap() { Run(); }
};

QTEST_GUILESS_MAIN(TestReceiveExchange)
#include "tst_receive_exchange.moc"
