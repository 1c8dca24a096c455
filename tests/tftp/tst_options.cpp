#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"

#include <QtTest>

using Tftp::OptionLimits;

// Option negotiation alone: each row the options a request carries (as the client sends
// them, through the request parser), the server's limits and the file, against the OACK
// and the values the exchange then runs with.
class TestOptionTable : public QObject {
    Q_OBJECT

    // "name=value name=value": a request's options as sent, in order.
    static QByteArray Request(quint16 opcode, const QString& asked) {
        QByteArray r;
        r.append(char(0)).append(char(opcode)).append("f.bin").append('\0');
        r.append("octet").append('\0');
        for (const QString& pair : asked.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            r.append(pair.left(eq).toLatin1()).append('\0');
            r.append(pair.mid(eq + 1).toLatin1()).append('\0');
        }
        return r;
    }
    static QString Written(const Tftp::OptionList& options) {
        QStringList out;
        for (const auto& [name, value] : options)
            out << QString::fromLatin1(name + '=' + value);
        return out.join(QLatin1Char(' '));
    }

private slots:
    void negotiation() {
        // The server's limits as the defaults have them, none, and lower than asked.
        const OptionLimits usual{true, 1468, 64};
        const OptionLimits widest{true, Tftp::kMaxBlockSize, Tftp::kMaxWindowSize};
        const OptionLimits narrow{true, 512, 1};
        const OptionLimits off{false, 1468, 64};
        constexpr quint16 R = Tftp::RRQ, W = Tftp::WRQ;
        struct Case {
            const char* row;
            quint16 opcode;
            qint64 fileSize; // a read's size on the wire; -1 unknown (netascii)
            OptionLimits limits;
            const char* asked;
            const char* oack; // "" for no OACK
            int blockSize, windowSize, timeOut;
            bool sizeTold;
            qint64 clientSize;
        } cases[] = {
            {"no options", R, 3000, usual, "", "", 512, 1, 0, false, -1},
            {"blksize within limits", R, 3000, usual, "blksize=1024", "blksize=1024", 1024, 1, 0, false, -1},
            {"blksize 8, the least", R, 3000, usual, "blksize=8", "blksize=8", 8, 1, 0, false, -1},
            {"blksize 7 left out", R, 3000, usual, "blksize=7", "", 512, 1, 0, false, -1},
            {"blksize 0 left out", R, 3000, usual, "blksize=0", "", 512, 1, 0, false, -1},
            {"blksize negative left out", R, 3000, usual, "blksize=-1428", "", 512, 1, 0, false, -1},
            {"blksize above the server's limit answered lower", R, 3000, usual, "blksize=65464",
             "blksize=1468", 1468, 1, 0, false, -1},
            {"blksize 65464, the most", R, 3000, widest, "blksize=65464", "blksize=65464", 65464, 1,
             0, false, -1},
            {"blksize 65465 answered with the most", R, 3000, widest, "blksize=65465",
             "blksize=65464", 65464, 1, 0, false, -1},
            {"blksize not a number", R, 3000, usual, "blksize=1k4 blksize= blksize=abc", "", 512,
             1, 0, false, -1},
            {"windowsize within limits", R, 3000, usual, "windowsize=16", "windowsize=16", 512, 16,
             0, false, -1},
            {"windowsize above the server's limit", R, 3000, usual, "windowsize=100",
             "windowsize=64", 512, 64, 0, false, -1},
            {"windowsize 65535 held to half the block numbers", R, 3000, widest,
             "windowsize=65535", "windowsize=32767", 512, 32767, 0, false, -1},
            {"windowsize 0 and 65536 left out", R, 3000, widest, "windowsize=0 windowsize=65536",
             "", 512, 1, 0, false, -1},
            {"limits below the client's ask", W, -1, narrow, "blksize=1468 windowsize=16",
             "blksize=512 windowsize=1", 512, 1, 0, false, -1},
            {"timeout 1 and 255 taken", R, 3000, usual, "timeout=1 timeout=255",
             "timeout=1 timeout=255", 512, 1, 255, false, -1},
            {"timeout 0 and 256 left out", R, 3000, usual, "timeout=0 timeout=256", "", 512, 1, 0,
             false, -1},
            {"timeout answered as written", R, 3000, usual, "timeout=05", "timeout=05", 512, 1, 5,
             false, -1},
            {"tsize on a read tells the size", R, 3000, usual, "tsize=0", "tsize=3000", 512, 1, 0,
             true, -1},
            {"tsize on a read ignores the client's number", R, 0, usual, "tsize=99", "tsize=0",
             512, 1, 0, true, -1},
            {"tsize on a netascii read goes unanswered", R, -1, usual, "tsize=0", "", 512, 1, 0,
             false, -1},
            {"tsize on a write repeats the client's", W, -1, usual, "tsize=4096", "tsize=4096",
             512, 1, 0, false, 4096},
            {"tsize negative left out", W, -1, usual, "tsize=-5", "", 512, 1, 0, false, -1},
            {"answered in the order asked", R, 3000, usual, "tsize=0 windowsize=8 blksize=1428",
             "tsize=3000 windowsize=8 blksize=1428", 1428, 8, 0, true, -1},
            {"unknown options ignored", R, 3000, usual, "multicast= blksize=1024 rollover=0",
             "blksize=1024", 1024, 1, 0, false, -1},
            {"a repeated option answered each time, the last counts", R, 3000, usual,
             "blksize=1024 blksize=800", "blksize=1024 blksize=800", 800, 1, 0, false, -1},
            {"names in any case, answered in lower case", R, 3000, usual,
             "BLKSIZE=1024 WindowSize=4 TSize=0", "blksize=1024 windowsize=4 tsize=3000", 1024, 4,
             0, true, -1},
            {"negotiation off: plain RFC 1350", R, 3000, off, "blksize=1024 tsize=0 timeout=3", "",
             512, 1, 0, false, -1},
            {"negotiation off on a write", W, -1, off, "tsize=4096", "", 512, 1, 0, false, -1},
        };
        for (const Case& c : cases) {
            const QByteArray datagram = Request(c.opcode, QString::fromLatin1(c.asked));
            const Tftp::Request request = Tftp::ParseRequest(datagram.constData(), datagram.size());
            QVERIFY2(request.status == Tftp::Request::Ok, c.row);
            const Tftp::Negotiated n =
                Tftp::Negotiate(request.options, c.limits, c.opcode, c.fileSize);
            QVERIFY2(Written(n.oack) == QLatin1String(c.oack),
                     qPrintable(QStringLiteral("%1: %2").arg(c.row, Written(n.oack))));
            QVERIFY2(n.blockSize == c.blockSize && n.windowSize == c.windowSize &&
                         n.timeOut == c.timeOut && n.sizeTold == c.sizeTold &&
                         n.clientSize == c.clientSize,
                     qPrintable(QStringLiteral("%1: blksize %2 windowsize %3 timeout %4 told %5 "
                                               "client %6")
                                    .arg(c.row)
                                    .arg(n.blockSize)
                                    .arg(n.windowSize)
                                    .arg(n.timeOut)
                                    .arg(n.sizeTold)
                                    .arg(n.clientSize)));
        }
    }
};

QTEST_APPLESS_MAIN(TestOptionTable)
#include "tst_options.moc"
