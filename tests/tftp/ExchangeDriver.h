#pragma once

#include "engine/tftp/Exchange.h"
#include "engine/tftp/TftpPacket.h"

#include <QByteArray>
#include <QMetaType>
#include <QStringList>

// Drives one exchange through a script built from values and writes down what it
// answered, so a table row is a scenario and its expected trace.
//
// The script: steps apart by spaces, each at `@ms` or 10 ms after the one before.
//   A<n> ACK n    D<n> DATA n of a full block    D<n>:<len> DATA n of len bytes
//   E<n> ERROR n  T the time-out  R the client asked again
//   K<s> the TimeOut setting is s seconds from here (not a step; 3 at the start)
//   F<n> many steps: a download ACKs the last block sent until block n (counted past
//        65535) is acknowledged, an upload takes DATA 1 to n; only the last step, or
//        the one that ended the transfer, is written down.
// The trace: Start first, then a step at a time apart by " | ", each in the order the
// transfer carries the actions out: stop, recv/dupack/dupdata, w<len> (! the last write),
// t<ms>, oack, again, the DATA sent (D1..4 full blocks in a row, D5:100 a short one,
// * the file's last block, readfail, changed), a<n>, =End (=ClientError(code)); "-" for nothing.
// A DATA whose header or bytes are not the file's at its offset is marked "?".
Q_DECLARE_METATYPE(Exchange::Shape)

namespace ExchangeTest {

// The shapes most rows use: {blksize, windowsize, timeout option, OACK}.
constexpr Exchange::Shape kLockStep{512, 1, 0, false};
constexpr Exchange::Shape kOack{512, 1, 0, true};
constexpr Exchange::Shape kWindow4{512, 4, 0, true};

inline char FileByte(qint64 offset) { return char(offset % 251); }

inline QString Steps(std::initializer_list<QString> steps) { return QStringList(steps).join(" | "); }

inline QString Times(const QString& step, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << step;
    return out.join(" | ");
}

class CDriver {
public:
    enum class Side { Download, Upload };
    CDriver(Exchange::CExchange& exchange, int blockSize, Side side)
        : m_exchange(exchange), m_nBlockSize(blockSize), m_side(side) {}

    QStringList Run(const QString& script) {
        QStringList out{Describe(m_exchange.Start(Now()))};
        for (const QString& token : script.split(' ', Qt::SkipEmptyParts)) {
            const int at = token.indexOf('@');
            if (token[0] == 'K') {
                m_nTimeOut = token.mid(1).toInt();
                continue;
            }
            m_nMs = at < 0 ? m_nMs + 10 : token.mid(at + 1).toLongLong();
            const QStringList args = token.left(at).mid(1).split(':');
            const qint64 n = args[0].toLongLong();
            switch (token[0].toLatin1()) {
            case 'F': out << FastForward(n); break;
            case 'T': out << Describe(m_exchange.OnTimeout(Now())); break;
            case 'R': out << Describe(m_exchange.Repeat()); break;
            case 'A': out << Deliver(Tftp::MakeAck(quint16(n))); break;
            case 'E': out << Deliver(Tftp::MakeError(int(n))); break;
            case 'D': out << Deliver(Data(quint16(n), args.size() > 1 ? args[1].toInt() : m_nBlockSize)); break;
            default: out << "bad step " + token;
            }
        }
        return out;
    }

private:
    Exchange::Now Now() const {
        return {m_nMs, [this] { return m_nTimeOut; }};
    }

    QByteArray Data(quint16 block, int size) const {
        QByteArray packet(4 + size, '\0');
        Tftp::PutHeader(packet.data(), Tftp::DATA, block);
        for (int i = 0; i < size; ++i)
            packet[4 + i] = FileByte(qint64(quint16(block - 1)) * m_nBlockSize + i);
        return packet;
    }

    QString Deliver(const QByteArray& packet) {
        const Exchange::Actions a = m_exchange.OnDatagram(packet.constData(), packet.size(), Now());
        QString text = Describe(a);
        // An upload writes the block's bytes where the datagram holds them.
        if (a.write && (a.write != packet.constData() + 4 || a.writeSize != packet.size() - 4))
            text += " ?";
        return text;
    }

    QString FastForward(qint64 n) {
        QString last;
        qint64 done = 0;
        for (int step = 0; step < 200000 && done < n && !last.contains('='); ++step) {
            m_nMs += step > 0 ? 10 : 0;
            done = m_side == Side::Upload ? step + 1 : m_nLastSent;
            last = Deliver(m_side == Side::Upload ? Data(quint16(done), m_nBlockSize)
                                                  : Tftp::MakeAck(quint16(done)));
        }
        return last;
    }

    QString Describe(const Exchange::Actions& a) {
        static const char* const kNotes[] = {"", "recv", "dupack", "dupdata", "wait"};
        static const char* const kEnds[] = {"",           "Finished",      "ClientHasAll",
                                            "ProbeAnswered", "Lingered",  "NotResponding",
                                            "AckTooFar",  "DataTooFar",    "ClientError"};
        QStringList parts;
        if (a.stopTimer)
            parts << "stop";
        if (a.note != Exchange::Note::None)
            parts << kNotes[int(a.note)];
        if (a.write)
            parts << QString("w%1%2").arg(a.writeSize).arg(a.lastWrite ? "!" : "");
        if (a.startTimerMs >= 0)
            parts << QString("t%1").arg(a.startTimerMs);
        if (a.oack)
            parts << "oack";
        if (a.again)
            parts << "again";
        if (a.blocks)
            parts << Blocks();
        if (a.ack >= 0)
            parts << QString("a%1").arg(a.ack);
        if (a.end == Exchange::End::ClientError)
            parts << QString("=ClientError(%1)").arg(a.clientCode);
        else if (a.end != Exchange::End::None)
            parts << QString("=") + kEnds[int(a.end)];
        return parts.isEmpty() ? "-" : parts.join(' ');
    }

    // The burst the transfer would send now; full blocks in a row as one run.
    QString Blocks() {
        QStringList out;
        int runFrom = -1, runTo = -1;
        auto closeRun = [&] {
            if (runFrom >= 0)
                out << (runFrom == runTo ? QString("D%1").arg(runFrom) : QString("D%1..%2").arg(runFrom).arg(runTo));
            runFrom = -1;
        };
        for (int i = 0; i <= 65536; ++i) {
            const Exchange::Block b = m_exchange.NextBlock(m_nMs);
            if (b.readFailed) {
                closeRun();
                out << "readfail";
                break;
            }
            if (b.sizeChanged) {
                closeRun();
                out << "changed";
                break;
            }
            if (!b.packet)
                break;
            const qint64 unwrapped = b.offset / m_nBlockSize + 1;
            const quint16 number = Tftp::Get16(b.packet + 2);
            bool good = Tftp::Get16(b.packet) == Tftp::DATA && number == quint16(unwrapped) &&
                        b.offset % m_nBlockSize == 0;
            for (qint64 k = 4; good && k < b.size; ++k)
                good = b.packet[k] == FileByte(b.offset + k - 4);
            m_nLastSent = unwrapped;
            const bool full = b.size == 4 + m_nBlockSize;
            if (full && good && !b.last && runFrom >= 0 && number == quint16(runTo + 1)) {
                runTo = number;
                continue;
            }
            closeRun();
            if (full && good && !b.last) {
                runFrom = runTo = number;
                continue;
            }
            out << QString("D%1%2%3%4")
                       .arg(number)
                       .arg(full ? QString() : QString(":%1").arg(b.size - 4))
                       .arg(b.last ? "*" : "")
                       .arg(good ? "" : "?");
        }
        closeRun();
        return out.isEmpty() ? "nodata" : out.join(' ');
    }

    Exchange::CExchange& m_exchange;
    const int m_nBlockSize;
    const Side m_side;
    qint64 m_nMs = 0;
    int m_nTimeOut = 3;
    qint64 m_nLastSent = 0; // the last DATA sent, counted past 65535
};

} // namespace ExchangeTest
