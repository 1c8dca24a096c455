#pragma once

#include "engine/tftp/Exchange.h"

#include <QByteArray>
#include <functional>
#include <memory>

// A download's side of the exchange: the window of DATA blocks in flight, the ACKs
// that move it on, the resends. The file's bytes come through `read`, as IFile::readAt.
class CSendExchange final : public Exchange::CExchange {
public:
    using Reader = std::function<qint64(char* data, qint64 maxSize, qint64 offset)>;

    // fileSize and sizeTold: a client told the size may end with ERROR once it has it.
    CSendExchange(const Exchange::Shape& shape, Reader read, qint64 fileSize, bool sizeTold);

    Exchange::Actions Start(const Exchange::Now& now) override;
    Exchange::Actions OnDatagram(const char* packet, qint64 size, const Exchange::Now& now) override;
    Exchange::Actions OnTimeout(const Exchange::Now& now) override;
    Exchange::Actions Repeat() override;
    Exchange::Block NextBlock(qint64 nowMs) override;

    // The bytes sent so far, up to the end of the last block read.
    qint64 BytesSent() const { return m_nBytesSent; }
    // The bytes the client has acknowledged.
    qint64 AckedBytes() const { return m_nAckedBytes; }

private:
    enum class State {
        OackPending,     // the OACK sent, its ACK 0 awaited
        WindowInFlight,  // blocks out, their ACKs awaited
        AwaitingLastAck, // the short block went, the file is sent
        Done,
    };
    // What NextBlock gives: the window from m_nBlock, the block in the buffer again
    // (lock-step; the file may be closed), or its repeat for a request.
    enum class Burst { None, Window, Resend, Repeat };

    Exchange::Actions SendOack(const Exchange::Now& now);
    Exchange::Actions SendWindow(const Exchange::Now& now, Exchange::Actions a = {});
    Exchange::Actions Resend(const Exchange::Now& now, Exchange::Actions a);
    Exchange::Actions HandleAck(quint16 block, const Exchange::Now& now);
    Exchange::Actions HandleError(quint16 code);
    Exchange::Actions EndWith(Exchange::Actions a, Exchange::End end);
    Exchange::Block ReadBlock(qint64 nowMs, bool fromWindow);
    qint64 TakeFromWindow();
    bool ReadsTailAhead() const;
    qint64 ReadOne();
    void ReleaseWindow();
    void ReleaseOut();
    bool Restage();
    Exchange::Block Buffered() const;
    bool LastSent() const { return m_state == State::AwaitingLastAck; }

    Reader m_read;
    qint64 m_nFileSize;
    bool m_bSizeTold;
    State m_state = State::WindowInFlight;
    Burst m_burst = Burst::None;
    // m_nBase is the last block acknowledged, m_nBlock the next to send: blocks
    // m_nBase + 1 to m_nBlock - 1 are in flight (one in lock-step).
    quint16 m_nBlock = 1;
    quint16 m_nBase = 0;
    quint16 m_nSentTop = 0;   // the highest block sent
    quint16 m_nFinalBlock = 0;
    qint64 m_nBytesSent = 0;  // the offset of m_nBlock
    qint64 m_nAckedBytes = 0; // the bytes up to m_nBase
    QByteArray m_out;         // the block last sent (with a window, only during a burst)
    // A window's blocks read from the file in one call, then handed out one at a time;
    // held only while its burst is sent, so a transfer waiting for ACKs keeps no copy.
    std::unique_ptr<char[]> m_window;
    qint64 m_nWindowOffset = 0; // the file offset of its first byte
    int m_nWindowAsked = 0;     // the bytes asked for (0: nothing read for this burst)
    int m_nWindowGot = 0;       // the bytes the read gave
    bool m_bWindowEnd = false;  // a short read that is the end of the file
    qint64 m_nEndSeen = -1;     // lock-step: where a read found the file's end, -1 none
    qint64 m_nOutLength = 0;
    qint64 m_nOutOffset = 0;
};
