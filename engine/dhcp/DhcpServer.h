#pragma once

#include "engine/dhcp/DhcpAnswer.h"
#include "engine/dhcp/LeaseFile.h"
#include "engine/dhcp/LeaseWriter.h"
#include "engine/dhcp/LeaseTable.h"
#include "engine/platform/Platform.h"
#include "engine/dhcp/DhcpStatus.h"
#include "engine/server/ServerWindow.h"

#include <QHash>
#include <QHostAddress>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

// The [Dhcp] values (and the boot files by kind) as the server takes them.
struct DhcpOptions {
    QString interface; // empty: the interface of the listen address
    QString poolFirst, poolLast; // empty: up to 50 addresses after ours in the prefix
    QString router;
    QString dnsServers; // separated by commas or spaces
    int leaseSeconds = 3600;
    QString hostsFile;
    bool onlyKnownHosts = false;
    bool bootpDynamic = false; // BOOTP clients get pool addresses, not only HostsFile's
    BootPolicy::Settings boot;
    bool operator==(const DhcpOptions&) const = default;
};


// What the server needs of the engine around it, and nothing more.
struct DhcpContext {
    IPlatform* platform = nullptr;
    int timerId = 0; // a platform timer of its own; the engine hands its expiry to OnTimer
    std::function<RowHandle(const RowTexts&)> addRow;
    std::function<void(RowHandle, const RowTexts&, RowState)> updateRow;
    std::function<void(int sound)> playSound;
    // The row's details: the answer as sent, for the details pane. Unset: not told.
    std::function<void(RowHandle, const RowDetails&)> showDetails;
    // The client list: the refusal text for an address, empty when it is admitted.
    std::function<QString(const QHostAddress&)> admit;
    // The status changed (another server seen or gone).
    std::function<void(const DhcpStatus&)> statusChanged;
    // Whether a boot file is in the working folder; unset: not looked at.
    std::function<bool(const QByteArray& name)> bootFileThere;
    std::function<qint64(const QByteArray& name)> bootFileSize; // -1: not there
    // The folder's files as the menu writer listed them (the menu's choice for iPXE).
    std::function<QStringList()> menuListing;
    QString leaseFile;            // where the leases are kept; empty: not kept
    // Runs a function on the engine thread, from any thread: the lease file is then
    // written on a thread of its own. Unset: written (and synced) before each reply.
    std::function<void(std::function<void()>)> postToEngine;
    qint64 epochAtStart = 0;      // the wall clock at Start, in seconds (lease ends)
};

// A DHCP and BOOTP server on one interface (CLeaseTable and Answer do the thinking).
// Before its first answer, and every minute after, it sends a DISCOVER of its own; while
// another server answers one, it answers nobody. A sign of another server between two
// looks (a client's REQUEST naming it, its OFFER or ACK heard) brings the next look
// forward, so a server that appears is noticed within seconds, not a minute. Every exchange is a row: one per
// client while its exchange goes on, so a client that keeps asking renews its row.
class CDhcpServer {
public:
    static constexpr int kProbeEveryMs = 60000;
    // Servers that ping an address before offering it (dnsmasq, ISC with ping-check)
    // answer a first DISCOVER only after up to three seconds.
    static constexpr int kProbeWaitMs = 4000;
    // Looks brought forward come at most this often: the signs are clients' packets,
    // and a flood of them must not become a flood of DISCOVERs.
    static constexpr int kEarlyProbeGapMs = 5000;
    static constexpr int kRowsKept = 1024; // clients whose row is remembered
    // Refusals of an exhausted pool share one row while they come at most this far apart.
    static constexpr int kExhaustedRowMs = 60000;

    explicit CDhcpServer(DhcpContext context);
    ~CDhcpServer();

    // Opens 67 (and 68, for the answers to its own DISCOVER) on the link; false with
    // the reason.
    bool Start(const DhcpOptions& options, const DhcpLink& link, QString* error);
    void OnTimer();
    // "dhcp on eth1 (192.0.2.10), pool 192.0.2.11-192.0.2.60", or what stops it.
    QString Status() const { return m_status.text(); }
    const DhcpStatus& Report() const { return m_status; }
    const DhcpLink& Link() const { return m_link; }
    bool Answering() const { return m_state == State::Serving; }
    // Problems with HostsFile, one line each ("line 3: ...").
    QStringList HostsProblems() const { return m_hostsProblems; }

    // One datagram to port 67.
    void HandleDatagram(const char* data, qint64 size);
    // One datagram to port 68: an answer to our own DISCOVER tells of another server.
    void HandleClientPort(const char* data, qint64 size, const QHostAddress& from);

private:
    enum class State { Probing, Serving, Blocked };
    void SendProbe();
    // Another server's address seen in a packet: look now, unless a look is out.
    void OtherServerSign(quint32 serverId);
    void EndProbe();
    void Block(const QString& other);
    void Resume();
    qint64 Now() const;
    // Hands the table's changes to the writer; true when `reply` must wait for them
    // (or for changes before them) to be on disk.
    bool SaveLeases(const Dhcp::Packet& request, const Dhcp::Reply& reply);
    void Send(const Dhcp::Reply& reply);
    // The writer synced: sends the replies that waited for it.
    void SendDurable();
    void ShowWriteErrors();
    void ShowRow(const Dhcp::Packet& request, const Dhcp::Reply& reply);
    void SetStatus(const DhcpStatus& status);

    DhcpContext m_ctx;
    DhcpLink m_link;
    Dhcp::ServerConfig m_config;
    std::unique_ptr<Dhcp::CLeaseTable> m_leases;
    std::unique_ptr<Dhcp::CLeaseWriter> m_writer;
    // Replies waiting for the writer, each with the batch it waits for, in order.
    QList<std::pair<quint64, Dhcp::Reply>> m_unsynced;
    // Lets a sync's message from the writer find this server, or find it gone.
    std::shared_ptr<CDhcpServer*> m_self = std::make_shared<CDhcpServer*>(this);
    std::unique_ptr<IDatagramSocket> m_serverSocket;
    std::unique_ptr<IDatagramSocket> m_clientSocket;
    DhcpStatus m_status, m_runningStatus;
    QStringList m_hostsProblems;
    State m_state = State::Probing;
    bool m_waiting = false; // a probe is out, its answers awaited
    QString m_otherServer;  // the answer seen to the probe out, if any
    quint32 m_probeXid = 0;
    qint64 m_probeAtMs = 0; // when the last look went out
    Dhcp::Mac m_probeMac;
    qint64 m_elapsedAtStart = 0;

    struct ClientRow {
        RowHandle row = 0;
        bool finished = false; // a lease given or released: the next exchange is a new row
        quint32 xid = 0;       // the exchange's: a repeat of its last packet is no new one
        RowState state = ROW_ACTIVE;
    };
    QHash<Dhcp::Mac, ClientRow> m_rows;
    QList<Dhcp::Mac> m_rowOrder;
    // The one row for an exhausted pool, the clients it refused (up to kRowsKept) and
    // when it last did.
    RowHandle m_exhaustedRow = 0;
    QSet<Dhcp::Mac> m_exhaustedClients;
    qint64 m_exhaustedAtMs = 0;
};
