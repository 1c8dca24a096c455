#pragma once

#include <QtGlobal>
#include <algorithm>
#include <climits>
#include <functional>

// What one side of a transfer (CSendExchange, CReceiveExchange) answers to a datagram
// or a time-out. The exchanges know the protocol only: the socket, the file and the row
// belong to the side that carries the actions out (IActor, through Carry).
namespace Exchange {

// The moment a datagram or a time-out is handled, and how to read the TimeOut setting
// (read only when a packet goes, so that a change applies from the next one).
struct Now {
    qint64 ms = 0;
    std::function<int()> timeOutSetting;
};

// What the row should say besides the transfer's own progress.
enum class Note { None, Receiving, DuplicatedAck, DuplicatedData, Waiting };

// How the exchange ends the transfer, once the packets above are out.
enum class End {
    None,
    Finished,       // nothing more to do on this port
    ClientHasAll,   // the client ended a download it has every byte of
    ProbeAnswered,  // ERROR 8 to our OACK: the size was all it wanted
    Lingered,       // an upload's port stayed its interval for a repeated last block
    NotResponding,  // ERROR 0 to the client
    AckTooFar,      // ERROR 4
    DataTooFar,     // ERROR 4
    ClientError,    // the client's ERROR (code in clientCode), never answered
};

struct Actions {
    bool stopTimer = false;
    Note note = Note::None;
    // An upload: these bytes go to the file; lastWrite when they end it.
    const char* write = nullptr;
    qint64 writeSize = 0;
    bool lastWrite = false;
    int startTimerMs = -1; // -1: the timer is left as it is
    bool oack = false;     // the OACK negotiated
    bool blocks = false;   // DATA: take NextBlock() until it has none
    bool again = false;    // those blocks went before (a time-out or a duplicate ACK)
    int ack = -1;          // ACK of this block
    End end = End::None;
    quint16 clientCode = 0;
    int retry = 0; // with Note::Waiting: the time-outs so far
};

// One DATA packet to send. `fresh` when sent for the first time (so new progress),
// `last` when it is the short block that ends the file, sent for the first time.
// `acked` is the highest position the client has acknowledged: progress never goes back.
struct Block {
    const char* packet = nullptr;
    qint64 size = 0;
    qint64 offset = 0;
    qint64 acked = 0;
    bool readFailed = false;
    bool sizeChanged = false; // the file shrank or grew after its size was told
    bool fresh = false;
    bool last = false;
};

// The negotiated shape of the exchange.
struct Shape {
    int blockSize = 512;
    int windowSize = 1;
    int optionTimeOut = 0; // seconds; 0: the TimeOut setting
    bool oack = false;     // an OACK opens the exchange
};

class CExchange {
public:
    virtual ~CExchange() = default;
    virtual Actions Start(const Now& now) = 0;
    // A datagram from the client of at least 4 bytes, DATA, ACK or ERROR.
    virtual Actions OnDatagram(const char* packet, qint64 size, const Now& now) = 0;
    virtual Actions OnTimeout(const Now& now) = 0;
    // The client asked again: the last packet again, nothing else changed.
    virtual Actions Repeat() = 0;
    // After Actions::blocks: the next DATA of the burst; none has a null packet.
    virtual Block NextBlock(qint64 nowMs) {
        (void)nowMs;
        return {};
    }

protected:
    explicit CExchange(const Shape& shape) : m_shape(shape) {}
    // A time-out of 0 or below runs with one second.
    int TimerMs() const {
        const qint64 ms = m_nTimeOut > 0 ? qint64(m_nTimeOut) * 1000 : 1000;
        return int(std::min<qint64>(ms, INT_MAX));
    }
    void ReadTimeOut(const Now& now) {
        m_nTimeOut = m_shape.optionTimeOut > 0 ? m_shape.optionTimeOut : now.timeOutSetting();
    }
    // An OACK (again): false once the client has had its last chance.
    bool MayResendOack(const Now& now) {
        ReadTimeOut(now);
        return m_nRetry <= kMaxRetries;
    }
    Actions OackActions() const {
        Actions a;
        a.startTimerMs = TimerMs();
        a.oack = true;
        return a;
    }
    // How far `block` is from `expected`, modulo 65536: 0 the expected one, -1 the one
    // before, and so on. Block numbers roll over from 65535 to 0 in both directions.
    static int Distance(quint16 block, quint16 expected) { return qint16(quint16(block - expected)); }

public:
    // A duplicate that comes this soon after our own send may be the network's copy of
    // the packet that made us send: answering it would double every later packet (the
    // Sorcerer's Apprentice, RFC 1123 4.2.3.1). Clients retransmit far more slowly.
    static constexpr qint64 kEchoGuardMs = 200;
    static constexpr int kMaxRetries = 5;

protected:

    Shape m_shape;
    int m_nTimeOut = 0;
    int m_nRetry = 0;
    qint64 m_nLastSendMs = 0;
};

// A side that carries an exchange's actions out with its own socket, timer, file and
// report: the server's transfer and the client's. Carry() is the one interpreter of them.
class IActor {
public:
    virtual ~IActor() = default;
    virtual qint64 NowMs() = 0;
    virtual void StopTimer() = 0;
    virtual void StartTimer(int ms) = 0;
    virtual void ShowNote(Note note, int retry) {
        (void)note;
        (void)retry;
    }
    // The bytes received go to the file; false when that ended the transfer.
    virtual bool Write(const char* data, qint64 size, bool last) = 0;
    virtual void SendOack() {}
    // What follows went before (a time-out or a duplicate ACK).
    virtual void SendingAgain() {}
    virtual void Transmit(const char* data, qint64 size) = 0;
    // The DATA `b` went for the first time.
    virtual void BlockSent(const Block& b) { (void)b; }
    // A block could not be read, or the file is no longer the size told: the transfer ends.
    virtual void BlockFailed(const Block& b) = 0;
    // `packet` is the datagram the exchange answered, null after a time-out.
    virtual void Ended(End end, quint16 clientCode, const char* packet, qint64 size) = 0;
};

// Carries out what `exchange` answered, in the order the fields mean: nothing after a
// step that ended the transfer.
void Carry(CExchange& exchange, const Actions& a, IActor& actor, const char* packet = nullptr,
           qint64 size = 0);

} // namespace Exchange
