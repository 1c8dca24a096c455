#include "engine/tftp/Exchange.h"

#include "engine/tftp/TftpPacket.h"

namespace Exchange {

namespace {
// Every DATA of a burst leaves from here. False when a block ended the transfer.
bool SendBlocks(CExchange& exchange, IActor& actor) {
    for (;;) {
        const Block b = exchange.NextBlock(actor.NowMs());
        if (b.readFailed || b.sizeChanged) {
            actor.BlockFailed(b);
            return false;
        }
        if (!b.packet)
            return true;
        actor.Transmit(b.packet, b.size);
        if (b.fresh)
            actor.BlockSent(b);
    }
}
} // namespace

void Carry(CExchange& exchange, const Actions& a, IActor& actor, const char* packet, qint64 size) {
    if (a.stopTimer)
        actor.StopTimer();
    if (a.note != Note::None)
        actor.ShowNote(a.note, a.retry);
    if (a.write && !actor.Write(a.write, a.writeSize, a.lastWrite))
        return;
    if (a.startTimerMs >= 0)
        actor.StartTimer(a.startTimerMs);
    if (a.oack)
        actor.SendOack();
    if (a.again)
        actor.SendingAgain();
    if (a.blocks && !SendBlocks(exchange, actor))
        return;
    if (a.ack >= 0) {
        // On the stack: receiving sends one of these per block.
        char ack[4];
        Tftp::PutHeader(ack, Tftp::ACK, quint16(a.ack));
        actor.Transmit(ack, sizeof ack);
    }
    actor.Ended(a.end, a.clientCode, packet, size);
}

} // namespace Exchange
