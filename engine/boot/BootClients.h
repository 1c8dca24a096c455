#pragma once

#include "engine/server/ServerWindow.h"

#include <QByteArray>
#include <QHash>

// What boot offers remember of each client (by its hardware address), so that a flood
// of DISCOVERs costs neither a row nor an answer each: the row of its current exchange
// (its xid), renewed by the same exchange's repeats, and a budget of answers.
class CBootClients {
public:
    // Answers to one client: a burst of kBurst, then kPerSecond a second.
    static constexpr int kBurst = 8;
    static constexpr int kPerSecond = 4;
    // Clients remembered at most; the ones heard from longest ago are forgotten first.
    static constexpr int kMaxClients = 4096;

    // Whether `mac` may be answered now (and counts the answer when it may).
    bool MayAnswer(const QByteArray& mac, qint64 nowMs);
    // The row of this client's exchange `xid`; 0 when it has none yet.
    RowHandle RowOf(const QByteArray& mac, quint32 xid) const;
    void SetRow(const QByteArray& mac, quint32 xid, RowHandle row);

private:
    struct Client {
        double tokens = kBurst;
        qint64 lastMs = 0;
        quint32 xid = 0;
        RowHandle row = 0;
    };
    void MakeRoom(qint64 nowMs);

    QHash<QByteArray, Client> m_clients;
};
