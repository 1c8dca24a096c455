#include "engine/tftp/SendExchange.h"

#include "engine/tftp/TftpPacket.h"

#include <algorithm>
#include <cstring>

using namespace Exchange;

namespace {
// At most this much of a window is read at once (the most one segmented send carries):
// a window of 64 blocks of 8 KiB is read in parts, not held whole.
constexpr qint64 kWindowReadMax = 64 * 1024;
// Lock-step reads the last blocks of a file at once when they are this many or fewer
// (the empty block after a file of whole blocks included): a small file costs one read.
// The buffer is held only for that tail and goes with its last block.
constexpr qint64 kLockStepAhead = 4;
constexpr qint64 kLockStepAheadMax = 8 * 1024;
} // namespace

CSendExchange::CSendExchange(const Shape& shape, Reader read, qint64 fileSize, bool sizeTold)
    : CExchange(shape), m_read(std::move(read)), m_nFileSize(fileSize), m_bSizeTold(sizeTold) {}

Actions CSendExchange::Start(const Now& now) {
    if (m_shape.oack)
        return SendOack(now); // the client's ACK 0 starts the data
    return SendWindow(now);
}

Actions CSendExchange::SendOack(const Now& now) {
    if (!MayResendOack(now))
        return EndWith({}, End::NotResponding);
    m_state = State::OackPending;
    return OackActions();
}

// The window: in lock-step one block, the next one.
Actions CSendExchange::SendWindow(const Now& now, Actions a) {
    ReadTimeOut(now);
    if (m_out.size() < 4 + m_shape.blockSize + 1) // room for ReadOne's byte beyond
        m_out.resize(4 + m_shape.blockSize + 1);
    a.startTimerMs = TimerMs();
    a.blocks = true;
    m_burst = Burst::Window;
    if (m_shape.windowSize > 1)
        m_nWindowAsked = 0; // a burst reads its blocks afresh: the window may have slid
    return a;
}

Block CSendExchange::NextBlock(qint64 nowMs) {
    const Burst burst = m_burst;
    switch (burst) {
    case Burst::None: ReleaseOut(); return {};
    case Burst::Repeat: m_burst = Burst::None; return Restage() ? Buffered() : Block{};
    case Burst::Resend: m_burst = Burst::None; m_nLastSendMs = nowMs; return Buffered();
    case Burst::Window: break;
    }
    if (quint16(m_nBlock - 1 - m_nBase) >= m_shape.windowSize) {
        m_burst = Burst::None;
        if (m_shape.windowSize > 1) // lock-step keeps the tail it read ahead
            ReleaseWindow();
        ReleaseOut();
        return {};
    }
    const Block b = ReadBlock(nowMs, m_shape.windowSize > 1 || ReadsTailAhead());
    if (b.readFailed || b.sizeChanged || b.size - 4 < m_shape.blockSize) {
        m_burst = Burst::None; // the last block, or the end of the transfer
        ReleaseWindow();
    }
    return b;
}

// Block m_nBlock's bytes into m_out from the window read, which is read (again) when
// the block is not in it. A read shorter than asked is trusted as the end of the file
// only where the file as opened ends; before that (a file cut since, a read error
// part way) the block is read on its own, so it ends as a read of it alone would.
qint64 CSendExchange::TakeFromWindow() {
    const qint64 bs = m_shape.blockSize;
    qint64 rel = m_nBytesSent - m_nWindowOffset;
    const bool covered = m_nWindowAsked > 0 && rel >= 0 && rel + bs <= m_nWindowAsked &&
                         (rel + bs <= m_nWindowGot || m_bWindowEnd);
    if (!covered) {
        const qint64 left = m_shape.windowSize > 1
                                ? m_shape.windowSize - quint16(m_nBlock - 1 - m_nBase)
                                : kLockStepAhead;
        // Up to the end of the file as opened (a converted file is longer: its blocks
        // past that are read when they come).
        const qint64 toEnd = std::max<qint64>(0, m_nFileSize - m_nBytesSent) / bs + 1;
        const qint64 blocks = std::max<qint64>(1, std::min({left, kWindowReadMax / bs, toEnd}));
        const qint64 asked = blocks * bs; // at most 64 KiB, or one block
        if (!m_window || asked > m_nWindowAsked)
            m_window = std::make_unique_for_overwrite<char[]>(size_t(asked));
        m_nWindowOffset = m_nBytesSent;
        m_nWindowAsked = int(asked);
        const qint64 got = m_read(m_window.get(), asked, m_nWindowOffset);
        if (got < 0) {
            ReleaseWindow();
            return -1;
        }
        m_nWindowGot = int(got);
        m_bWindowEnd = m_nWindowGot < m_nWindowAsked && m_nWindowOffset + m_nWindowGot >= m_nFileSize;
        rel = 0;
    }
    const qint64 n = std::clamp<qint64>(m_nWindowGot - rel, 0, bs);
    std::memcpy(m_out.data() + 4, m_window.get() + rel, size_t(n));
    return n;
}

// Lock-step: whether block m_nBlock comes from a read of the file's last blocks at once
// (TakeFromWindow): one already made, or a tail of two to kLockStepAhead blocks left. A
// tail of one block is read on its own (ReadOne), into the packet with no buffer.
bool CSendExchange::ReadsTailAhead() const {
    if (m_nWindowAsked > 0)
        return true;
    const qint64 bs = m_shape.blockSize;
    const qint64 blocks = std::max<qint64>(0, m_nFileSize - m_nBytesSent) / bs + 1;
    return blocks >= 2 && blocks <= kLockStepAhead && blocks * bs <= kLockStepAheadMax;
}

// Lock-step: block m_nBlock's bytes into m_out. The read that reaches the end of the
// file as opened asks one byte more; a file that still ends there then ends with an
// empty block that costs no read of its own. A file grown since gives the byte, and its
// next block is read as any other.
qint64 CSendExchange::ReadOne() {
    const qint64 bs = m_shape.blockSize;
    if (m_nBytesSent == m_nEndSeen)
        return 0;
    const bool toEnd = m_nFileSize - m_nBytesSent <= bs;
    const qint64 n = m_read(m_out.data() + 4, bs + (toEnd ? 1 : 0), m_nBytesSent);
    if (toEnd && n == bs)
        m_nEndSeen = m_nBytesSent + bs;
    return std::min(n, bs);
}

void CSendExchange::ReleaseWindow() {
    m_window.reset();
    m_nWindowAsked = 0;
}

// With a window every resend reads the file again, so between bursts the packet buffer
// (up to 64 KiB a transfer) goes back: a transfer waiting for ACKs holds no buffer.
// Lock-step keeps its block, which is sent again from there.
void CSendExchange::ReleaseOut() {
    if (m_shape.windowSize > 1)
        m_out = QByteArray();
}

// The last block sent, into the buffer again if it was released. False when it cannot
// be read any more: the repeat is left out, the client's time-out asks again.
bool CSendExchange::Restage() {
    if (m_nOutLength <= 0 || !m_out.isEmpty())
        return m_nOutLength > 0;
    m_out.resize(4 + m_shape.blockSize);
    const qint64 n = m_read(m_out.data() + 4, m_nOutLength - 4, m_nOutOffset);
    if (n != m_nOutLength - 4) {
        m_out = QByteArray();
        return false;
    }
    Tftp::PutHeader(m_out.data(), Tftp::DATA, quint16(m_nBlock - 1));
    return true;
}

Block CSendExchange::Buffered() const {
    Block b;
    if (m_nOutLength > 0) {
        b.packet = m_out.constData();
        b.size = m_nOutLength;
        b.offset = m_nOutOffset;
        b.acked = m_nAckedBytes;
    }
    return b;
}

// Reads and stages block m_nBlock: from the window's read, or on its own in lock-step.
Block CSendExchange::ReadBlock(qint64 nowMs, bool fromWindow) {
    Block b;
    const qint64 n = fromWindow ? TakeFromWindow() : ReadOne();
    if (n < 0) {
        b.readFailed = true;
        m_state = State::Done;
        ReleaseWindow();
        return b;
    }
    // A client told the size counts on it: a file cut or grown since is not this file.
    if (m_bSizeTold && n != std::clamp<qint64>(m_nFileSize - m_nBytesSent, 0, m_shape.blockSize)) {
        b.sizeChanged = true;
        m_state = State::Done;
        return b;
    }
    Tftp::PutHeader(m_out.data(), Tftp::DATA, m_nBlock);
    const bool fresh = Distance(m_nBlock, m_nSentTop) > 0;
    if (fresh)
        m_nSentTop = m_nBlock;
    m_nOutLength = n + 4;
    m_nOutOffset = m_nBytesSent;
    m_nLastSendMs = nowMs;
    ++m_nBlock;
    m_nBytesSent += n;
    b = Buffered();
    b.fresh = fresh; // a window sent again is no new progress
    if (n < m_shape.blockSize && !LastSent()) {
        // Complete once the last block is sent; the timer keeps running for its ACK.
        m_state = State::AwaitingLastAck;
        m_nFinalBlock = quint16(m_nBlock - 1);
        b.last = true;
    }
    return b;
}

Actions CSendExchange::OnDatagram(const char* packet, qint64 size, const Now& now) {
    (void)size;
    if (m_state == State::Done)
        return {};
    const quint16 opcode = Tftp::Get16(packet);
    const quint16 block = Tftp::Get16(packet + 2);
    if (opcode == Tftp::ERROR)
        return HandleError(block);
    // A download takes only ACKs: a DATA is stray and changes nothing.
    if (opcode != Tftp::ACK)
        return {};
    if (m_state == State::OackPending) {
        // After an OACK only ACK 0 goes on.
        if (block != 0)
            return {};
        m_state = State::WindowInFlight;
        m_nRetry = 0;
        Actions a;
        a.stopTimer = true;
        return SendWindow(now, a);
    }
    return HandleAck(block, now);
}

// UEFI and some boot loaders ask for tsize alone, then end with ERROR 8 once they have
// the size. PXELINUX, told the size, answers the empty last block with ERROR 0 instead
// of an ACK once it has acknowledged every byte; others use ERROR 8.
Actions CSendExchange::HandleError(quint16 code) {
    Actions a;
    a.stopTimer = true;
    if (m_state == State::OackPending) {
        if (code == 8)
            return EndWith(a, End::ProbeAnswered);
    } else if ((code == 0 || code == 8) && m_bSizeTold && m_nAckedBytes >= m_nFileSize) {
        return EndWith(a, End::ClientHasAll);
    }
    a.clientCode = code;
    return EndWith(a, End::ClientError);
}

// UDP may duplicate and reorder: an ACK older than the last one acknowledged is a stale
// copy and changes nothing, not even the timer.
Actions CSendExchange::HandleAck(quint16 block, const Now& now) {
    const int distance = Distance(block, m_nBase);
    const int inFlight = quint16(m_nBlock - 1 - m_nBase);
    // After a time-out only one block went again; blocks sent before it may be ACKed.
    const int sentAhead = std::max(inFlight, Distance(m_nSentTop, m_nBase));
    if (distance < 0)
        return {};
    Actions a;
    if (distance == 0) {
        // Resent at the client's pace when our block was lost; an echo changes nothing.
        if (now.ms - m_nLastSendMs < kEchoGuardMs)
            return {};
        if (!LastSent()) // a completed row stays so
            a.note = Note::DuplicatedAck;
        a.stopTimer = true;
        ++m_nRetry;
        return Resend(now, a);
    }
    a.stopTimer = true;
    if (distance > sentAhead)
        return EndWith(a, End::AckTooFar);
    m_nBase = block;
    m_nAckedBytes += qint64(distance) * m_shape.blockSize;
    if (LastSent() && block == m_nFinalBlock)
        return EndWith(a, End::Finished); // the last block is acknowledged
    m_nRetry = 0;
    if (distance != inFlight) {
        // The client missed a block inside the window: go on from the one after its ACK
        // (RFC 7440), never from both places at once. Past the block resent after a
        // time-out, the same.
        m_nBlock = quint16(block + 1);
        m_nBytesSent = m_nAckedBytes;
    }
    return SendWindow(now, a);
}

Actions CSendExchange::OnTimeout(const Now& now) {
    if (m_state == State::Done)
        return {};
    ++m_nRetry;
    if (m_state == State::OackPending)
        return SendOack(now);
    Actions a;
    // A window stalled says so; lock-step leaves its row as it was. A completed row
    // stays so.
    if (m_shape.windowSize > 1 && !LastSent() && m_nRetry <= kMaxRetries) {
        a.note = Note::Waiting;
        a.retry = m_nRetry;
    }
    // The window again from the first block not acknowledged (RFC 7440): a client may
    // hold that block already and wait for a later one without acknowledging it again
    // (atftp does), so the first block alone would never move it on.
    a = Resend(now, a);
    // Such a client acknowledges a window it already has once, then again only at its
    // own time-out: resent every TimeOut, the window would keep that from ever expiring
    // when the ACK was lost. Half an interval more leaves it room.
    if (m_shape.windowSize > 1 && a.startTimerMs > 0)
        a.startTimerMs = int(std::min<qint64>(qint64(a.startTimerMs) * 3 / 2, INT_MAX));
    return a;
}

// After a time-out or a duplicate ACK: the blocks from the last one acknowledged on.
// In lock-step that is the one block in flight, still in the buffer (the file may be
// closed by then); with a window, the window: at most one window per time-out.
Actions CSendExchange::Resend(const Now& now, Actions a) {
    ReadTimeOut(now);
    if (m_nRetry > kMaxRetries) {
        // Some clients never acknowledge the last block: it was sent, so is the file.
        if (LastSent() && m_shape.oack)
            return EndWith(a, End::Finished);
        return EndWith(a, End::NotResponding);
    }
    a.again = true;
    if (m_shape.windowSize == 1) {
        a.startTimerMs = TimerMs();
        a.blocks = true;
        m_burst = Burst::Resend;
        return a;
    }
    m_nBlock = quint16(m_nBase + 1);
    m_nBytesSent = m_nAckedBytes;
    return SendWindow(now, a);
}

Actions CSendExchange::Repeat() {
    Actions a;
    if (m_state == State::OackPending) {
        a.oack = true;
    } else if (m_nOutLength > 0) {
        a.blocks = true;
        m_burst = Burst::Repeat;
    }
    return a;
}

Actions CSendExchange::EndWith(Actions a, Exchange::End end) {
    m_state = State::Done;
    m_burst = Burst::None;
    ReleaseWindow();
    a.end = end;
    return a;
}
