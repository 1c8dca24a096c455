#pragma once

#include "engine/tftp/Exchange.h"

// An upload's side of the exchange: the DATA blocks taken in order, acknowledged at
// the end of each window (every block in lock-step), at the last block, or on a gap.
class CReceiveExchange final : public Exchange::CExchange {
public:
    explicit CReceiveExchange(const Exchange::Shape& shape) : CExchange(shape) {}

    Exchange::Actions Start(const Exchange::Now& now) override;
    // A client's fetch answered without an OACK: its request stood for ACK 0, so the
    // DATA 1 that answered it is handed to OnDatagram next, nothing sent before.
    void StartAfterRequest(const Exchange::Now& now);
    Exchange::Actions OnDatagram(const char* packet, qint64 size, const Exchange::Now& now) override;
    Exchange::Actions OnTimeout(const Exchange::Now& now) override;
    Exchange::Actions Repeat() override;

private:
    enum class State {
        OackPending, // the OACK sent (it stands for ACK 0), DATA 1 awaited
        Receiving,
        Lingering,   // the last block taken: a repeat of it gets its ACK again
        Done,
    };

    Exchange::Actions SendOack(const Exchange::Now& now);
    Exchange::Actions SendAck(const Exchange::Now& now, Exchange::Actions a = {});
    Exchange::Actions HandleData(quint16 block, const char* packet, qint64 size,
                                 const Exchange::Now& now, Exchange::Actions a);
    Exchange::Actions EndWith(Exchange::Actions a, Exchange::End end);

    State m_state = State::Receiving;
    quint16 m_nBlock = 0;      // the block expected next (before ACK 0: 0, that ACK's)
    quint16 m_nLastAcked = 0;
    bool m_bStarted = false;   // ACK 0 or the OACK went
    int m_nUnacked = 0;        // blocks taken since the last ACK
    bool m_bGapAcked = false;  // a gap in the window was told
};
