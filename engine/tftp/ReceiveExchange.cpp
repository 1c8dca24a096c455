#include "engine/tftp/ReceiveExchange.h"

#include "engine/tftp/TftpPacket.h"

using namespace Exchange;

Actions CReceiveExchange::Start(const Now& now) {
    if (!m_shape.oack)
        return SendAck(now); // ACK of block 0
    // The OACK stands for ACK 0: DATA 1 is awaited.
    m_nLastAcked = 0;
    m_nBlock = 1;
    m_bStarted = true;
    Actions a = SendOack(now);
    a.note = Note::Receiving;
    return a;
}

void CReceiveExchange::StartAfterRequest(const Now& now) {
    ReadTimeOut(now);
    m_state = State::Receiving;
    m_nLastAcked = 0;
    m_nBlock = 1;
    m_bStarted = true;
    m_nLastSendMs = now.ms;
}

Actions CReceiveExchange::SendOack(const Now& now) {
    if (!MayResendOack(now))
        return EndWith({}, End::NotResponding);
    m_state = State::OackPending;
    return OackActions();
}

Actions CReceiveExchange::SendAck(const Now& now, Actions a) {
    ReadTimeOut(now);
    m_nUnacked = 0;
    m_nLastSendMs = now.ms;
    if (m_nRetry == 0) {
        // Every ACK that awaits data runs the timer, the ACK of block 0 included, so a
        // client that vanishes is given up on. After the last block the timer only
        // keeps the port open one interval for a repeated last block.
        a.startTimerMs = TimerMs();
        a.ack = m_nBlock;
        if (!m_bStarted)
            a.note = Note::Receiving;
        m_bStarted = true;
        m_nLastAcked = m_nBlock;
        ++m_nBlock;
    } else if (m_nRetry <= kMaxRetries) {
        // The last block taken in order: with a window, more than the last ACK said.
        a.startTimerMs = TimerMs();
        m_nLastAcked = quint16(m_nBlock - 1);
        a.ack = m_nLastAcked;
    } else {
        return EndWith(a, End::NotResponding);
    }
    return a;
}

Actions CReceiveExchange::OnDatagram(const char* packet, qint64 size, const Now& now) {
    const quint16 opcode = Tftp::Get16(packet);
    const quint16 block = Tftp::Get16(packet + 2);
    Actions a;
    if (m_state == State::Lingering) {
        // Nothing turns a completed reception into a failure; a repeat of the last
        // block gets the last ACK again.
        if (opcode == Tftp::DATA && block == m_nLastAcked) {
            a.ack = m_nLastAcked;
            a.startTimerMs = TimerMs(); // linger one more interval
        }
        return a;
    }
    if (m_state == State::Done)
        return a;
    if (opcode == Tftp::ERROR) {
        a.stopTimer = true;
        if (m_state == State::OackPending && block == 8)
            return EndWith(a, End::ProbeAnswered);
        a.clientCode = block;
        return EndWith(a, End::ClientError);
    }
    // An upload takes only DATA: an ACK is stray (no empty last block).
    if (opcode != Tftp::DATA)
        return a;
    if (m_state == State::OackPending) {
        // After an OACK only DATA 1 goes on. With a window a later block says the client
        // has the OACK and DATA 1 was lost: ACK 0 (RFC 7440's gap), not the OACK again,
        // which atftp takes as leave to send its next window, never block 1.
        if (block != 1 && m_shape.windowSize > 1 && Distance(block, 1) > 0) {
            m_state = State::Receiving;
            m_nRetry = 0;
            m_bGapAcked = true;
            m_nUnacked = 0;
            m_nLastAcked = 0;
            m_nLastSendMs = now.ms;
            a.stopTimer = true;
            a.startTimerMs = TimerMs();
            a.ack = 0;
            return a;
        }
        if (block != 1)
            return a;
        a.stopTimer = true;
        m_state = State::Receiving;
        m_nRetry = 0;
    }
    return HandleData(block, packet, size, now, a);
}

// As for ACKs: a DATA block older than the one before the expected one is ignored.
Actions CReceiveExchange::HandleData(quint16 block, const char* packet, qint64 size,
                                     const Now& now, Actions a) {
    const int distance = Distance(block, m_nBlock);
    if (distance < -1)
        return a;
    // Inside a window an ACK sends the sender back: only a sender that timed out (later
    // than the network's copy of a block could come) is told again where we are.
    if (distance == -1 && m_shape.windowSize > 1 && now.ms - m_nLastSendMs < kEchoGuardMs)
        return a;
    if (distance > 0 && m_shape.windowSize > 1) {
        // A block went missing: say once where we are, and the sender goes on from there.
        if (!m_bGapAcked) {
            m_bGapAcked = true;
            m_nUnacked = 0;
            m_nLastAcked = quint16(m_nBlock - 1);
            a.ack = m_nLastAcked;
        }
        return a;
    }
    a.stopTimer = true;
    if (distance == 0) {
        m_nRetry = 0;
        m_bGapAcked = false;
        a.write = packet + 4;
        a.writeSize = size - 4;
        a.lastWrite = size < 4 + m_shape.blockSize;
        if (a.lastWrite) {
            m_state = State::Lingering;
            return SendAck(now, a);
        }
        if (++m_nUnacked >= m_shape.windowSize)
            return SendAck(now, a);
        ++m_nBlock; // taken, acknowledged with the window
        m_nLastSendMs = now.ms;
        // The timer runs from the window's first block, not from each one: a sender that
        // lost our ACK and sends one block per time-out (atftp) would otherwise keep it
        // from ever expiring, and neither side would speak again.
        if (m_nUnacked == 1) {
            a.startTimerMs = TimerMs();
        } else {
            a.stopTimer = false;
        }
        return a;
    }
    if (distance == -1) {
        a.note = Note::DuplicatedData;
        ++m_nRetry;
        return SendAck(now, a);
    }
    return EndWith(a, End::DataTooFar);
}

Actions CReceiveExchange::OnTimeout(const Now& now) {
    if (m_state == State::Lingering) {
        m_state = State::Done;
        Actions a;
        a.end = End::Lingered; // the client had its chance to repeat the last block
        return a;
    }
    if (m_state == State::Done)
        return {};
    ++m_nRetry;
    if (m_state == State::OackPending)
        return SendOack(now);
    return SendAck(now);
}

Actions CReceiveExchange::Repeat() {
    Actions a;
    if (m_state == State::OackPending)
        a.oack = true;
    else
        a.ack = m_nLastAcked;
    return a;
}

Actions CReceiveExchange::EndWith(Actions a, Exchange::End end) {
    m_state = State::Done;
    a.end = end;
    return a;
}
