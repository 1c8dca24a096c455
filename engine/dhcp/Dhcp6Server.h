#pragma once

#include "engine/dhcp/Dhcp6Answer.h"
#include "engine/dhcp/DhcpServer.h"

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <memory>

// The [Dhcp] IPv6 values as the DHCPv6 server takes them.
struct Dhcp6Options {
    QString poolFirst;            // empty: kDefaultPoolStart in our /64
    int poolSize = 256;
    int leaseSeconds = 3600;
    bool routerAdverts = true;    // [Dhcp] RouterAdvertisements
    QString hostsFile;            // [Dhcp] HostsFile: its MACs and boot files
    bool onlyKnownHosts = false;
    BootPolicy::Settings boot;
    bool operator==(const Dhcp6Options&) const = default;
};

// The DHCPv6 server on the DHCP server's interface (Dhcp6::Answer does the thinking,
// Dhcp6::Guard decides whether we may). Before its first answer, and every minute after,
// it sends a Solicit of its own from port 546 and a router solicitation: another server's
// Advertise, or a router whose advertisement sends clients to DHCPv6, stops it handing
// out anything; a router that does not keeps our own advertisements off. While nothing
// stops it, it announces our /64 with the managed flag (a few at start, then every few
// minutes, and in answer to a solicitation), so that clients ask DHCPv6 at all.
class CDhcp6Server {
public:
    static constexpr int kProbeEveryMs = 60000;
    static constexpr int kProbeWaitMs = 2000;
    static constexpr int kEarlyProbeGapMs = 5000;
    static constexpr int kFirstAdverts = 3, kFirstAdvertGapMs = 4000;
    static constexpr int kAdvertEveryMs = 180000;
    static constexpr int kMinAdvertGapMs = 3000; // answers to solicitations, at most this often
    static constexpr int kRowsKept = 1024;

    // `context.timerId` is the looks' timer; `advertTimerId` one more for our adverts.
    // `statusChanged` is told of every change of Status().
    CDhcp6Server(DhcpContext context, int advertTimerId, std::function<void()> statusChanged);
    ~CDhcp6Server();

    // On the DHCP server's link: its global address in a /64 and its MAC come from the
    // platform's interfaces. False with the reason (no such address, ports refused).
    bool Start(const Dhcp6Options& options, const DhcpLink& link, QString* error);
    void OnTimer();
    void OnAdvertTimer();
    // The address it serves from on `device`: its first global one in a /64; null: none.
    static QHostAddress ServerAddress(const QList<NetInterface>& interfaces, const QString& device);
    // "dhcpv6 on eth1 (2001:db8::1), pool A-B", or why it hands out nothing.
    QString Status() const { return m_status; }
    bool Answering() const { return m_state == State::Serving; }
    bool Blocked() const { return m_state == State::Blocked; }
    bool Advertising() const { return m_advertising; }
    const DhcpLink& Link() const { return m_link; }
    const Dhcp6::Config& Config() const { return m_config; }

    void HandleServerPort(const char* data, qint64 size, const QHostAddress& from);
    void HandleClientPort(const char* data, qint64 size, const QHostAddress& from);
    void HandleRouterMessage(const char* data, qint64 size, const QHostAddress& from);

private:
    enum class State { Probing, Serving, Blocked };
    void SendProbe();
    void EndProbe();
    void SendAdvert();
    void SetAdvertising(bool on);
    void SetStatus(const QString& status);
    qint64 Now() const;
    QHostAddress OnLink(QHostAddress address) const; // with our device as its scope
    void ShowRow(const Dhcp6::Packet& request, const Dhcp6::Reply& reply, const QHostAddress& from);

    DhcpContext m_ctx;
    int m_advertTimer;
    std::function<void()> m_statusChanged;
    DhcpLink m_link;
    QByteArray m_mac;
    QList<QHostAddress> m_ours; // every address of the interface (our own RA comes back)
    Dhcp6::Config m_config;
    bool m_raWanted = true;
    QString m_raProblem; // why we cannot advertise (no raw socket)
    std::unique_ptr<Dhcp::CLeaseTable> m_leases;
    std::unique_ptr<Dhcp::CLeaseWriter> m_writer;
    std::unique_ptr<IDatagramSocket> m_serverSocket, m_clientSocket, m_routerSocket;
    QString m_status, m_runningStatus;
    State m_state = State::Probing;
    bool m_waiting = false;
    bool m_advertising = false;
    int m_advertsLeft = 0; // of the first, quick ones
    qint64 m_advertAtMs = -kMinAdvertGapMs;
    Dhcp6::Heard m_heard;
    quint32 m_probeXid = 0;
    QByteArray m_probeDuid;
    qint64 m_probeAtMs = 0;
    qint64 m_elapsedAtStart = 0;

    struct ClientRow {
        RowHandle row = 0;
        bool finished = false;
        quint32 xid = 0;
        RowState state = ROW_ACTIVE;
    };
    QHash<QByteArray, ClientRow> m_rows; // by DUID
    QList<QByteArray> m_rowOrder;
};
