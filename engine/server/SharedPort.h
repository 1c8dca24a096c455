#pragma once

#include "engine/tftp/TftpPacket.h"

#include <QtGlobal>

// Single-port mode: every transfer answers from the listener, so its datagrams arrive
// there too and are told apart by the client's address and port alone, as RFC 1350's
// transfer identifiers would tell them apart.
namespace SharedPort {

// The live transfer of the datagram's address and port, as far as routing cares.
enum class Live {
    None,       // none: the pair is free
    Unanswered, // the client has sent nothing since its request (our answer may be lost)
    Running,    // the client has spoken, the transfer runs
    Ended,      // complete, only waiting for a last ACK or a repeated last DATA
};

enum class Route {
    Request,   // a new request, judged as any other
    Repeat,    // the client's (or the network's) copy of the live transfer's request
    Transfer,  // a packet of the live transfer
    Replace,   // the client moved on: the live transfer ends, the request starts a new one
    Stranger,  // a transfer packet for no live transfer: ERROR 5, at most once a second
    Drop,      // a stale copy of a request the live transfer has long answered
};

inline bool IsTransferOpcode(quint16 opcode) {
    return opcode == Tftp::DATA || opcode == Tftp::ACK || opcode == Tftp::ERROR ||
           opcode == Tftp::OACK;
}

// `sameRequest`: a request with the live transfer's opcode and name. Anything that is
// no transfer packet goes the way of requests, which refuse what they do not understand.
inline Route Decide(quint16 opcode, bool sameRequest, Live live) {
    if (IsTransferOpcode(opcode))
        return live == Live::None ? Route::Stranger : Route::Transfer;
    switch (live) {
    case Live::None: return Route::Request;
    // Nothing of ours was heard: the same request is asked again, another one means the
    // client gave up on the first.
    case Live::Unanswered: return sameRequest ? Route::Repeat : Route::Replace;
    // A client in the middle of a transfer does not ask again from the same port; a
    // forged request must not end the transfer either.
    case Live::Running: return Route::Drop;
    // The client has all it wanted: a request from the same port is its next transfer.
    case Live::Ended: return Route::Replace;
    }
    return Route::Drop;
}

} // namespace SharedPort
