#include "engine/dhcp/Dhcp6Server.h"

#include "engine/tftp/TftpPacket.h"

#include <QRandomGenerator>
#include <QtEndian>

using namespace Dhcp6;

namespace {
bool isGlobal6(const QHostAddress& a) {
    return a.protocol() == QAbstractSocket::IPv6Protocol && !a.isLinkLocal() && !a.isLoopback() &&
           !a.isMulticast() && a != QHostAddress(QHostAddress::AnyIPv6);
}
} // namespace

CDhcp6Server::CDhcp6Server(DhcpContext context, int advertTimerId,
                           std::function<void()> statusChanged)
    : m_ctx(std::move(context)), m_advertTimer(advertTimerId),
      m_statusChanged(std::move(statusChanged)) {}

CDhcp6Server::~CDhcp6Server() {
    m_writer.reset();
    if (m_ctx.platform) {
        m_ctx.platform->timers().stop(m_ctx.timerId);
        m_ctx.platform->timers().stop(m_advertTimer);
    }
    for (auto* socket : {&m_serverSocket, &m_clientSocket, &m_routerSocket})
        if (*socket)
            (*socket)->close();
}

QHostAddress CDhcp6Server::ServerAddress(const QList<NetInterface>& interfaces,
                                         const QString& device) {
    for (const NetInterface& i : interfaces)
        if (i.name == device)
            for (qsizetype k = 0; k < i.addresses.size(); ++k)
                if (isGlobal6(i.addresses[k]) && i.prefixLength(k) == 64)
                    return i.addresses[k];
    return QHostAddress();
}

bool CDhcp6Server::Start(const Dhcp6Options& options, const DhcpLink& link, QString* error) {
    m_link = link;
    IPlatform& platform = *m_ctx.platform;
    const QList<NetInterface> interfaces = platform.interfaces();
    const QHostAddress server = ServerAddress(interfaces, link.device);
    for (const NetInterface& i : interfaces)
        if (i.name == link.device) {
            m_mac = i.mac;
            m_ours = i.addresses;
        }
    if (link.device.isEmpty() || server.isNull()) {
        *error = QStringLiteral("%1 has no global IPv6 address in a /64")
                     .arg(link.device.isEmpty() ? QStringLiteral("the interface") : link.device);
        return false;
    }
    if (m_mac.size() != 6) {
        *error = QStringLiteral("%1 has no Ethernet address for our DUID").arg(link.device);
        return false;
    }
    m_config.server = server;
    m_config.serverDuid = DuidOf(m_mac);
    if (const QString why = ReadPool(options.poolFirst, options.poolSize, server, &m_config);
        !why.isEmpty()) {
        *error = why;
        return false;
    }
    m_config.leaseSeconds = qBound(60, options.leaseSeconds, 366 * 86400);
    m_config.boot.boot = options.boot;
    m_config.boot.exists = m_ctx.bootFileThere;
    m_config.boot.size = m_ctx.bootFileSize;
    m_config.boot.menuListing = m_ctx.menuListing;
    m_raWanted = options.routerAdverts;
    // The DHCPv4 server beside it names the lines that do not read.
    m_config.onlyKnownHosts = options.onlyKnownHosts;
    if (!options.hostsFile.isEmpty()) {
        Dhcp::HostsParse parsed;
        if (!Dhcp::ReadHostsFile(options.hostsFile, link.address.toIPv4Address(), &parsed, error))
            return false;
        for (const Dhcp::FixedHost& h : parsed.hosts)
            m_config.hosts.insert(h.mac, h.bootFile);
    }

    m_leases = std::make_unique<Dhcp::CLeaseTable>(1, quint32(m_config.poolSize),
                                                   QList<Dhcp::FixedHost>(), false);
    if (!m_ctx.leaseFile.isEmpty()) {
        m_leases->Restore(Dhcp::ReadLeaseFile(m_ctx.leaseFile));
        // Written and synced before each reply that tells of a lease: DHCPv6 traffic is
        // a handful of firmware, never a storm worth a thread.
        m_writer = std::make_unique<Dhcp::CLeaseWriter>(m_ctx.leaseFile, m_leases->Leases(),
                                                        Dhcp::CLeaseWriter::Durable());
    }

    const QHostAddress group(QString::fromLatin1(kServersGroup));
    m_serverSocket = platform.bindLinkUdp6(kServerPort, link.device, group, error);
    if (!m_serverSocket)
        return false;
    m_clientSocket = platform.bindLinkUdp6(kClientPort, link.device, QHostAddress(), error);
    if (!m_clientSocket) {
        m_serverSocket.reset();
        return false;
    }
    m_serverSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                        quint16, const QHostAddress&) {
        HandleServerPort(data, size, from);
    };
    m_clientSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                        quint16, const QHostAddress&) {
        HandleClientPort(data, size, from);
    };
    // Without the raw socket we still answer (firmware that asks DHCPv6 by itself), hear
    // no router and send no advertisement; the status says so.
    QString why;
    m_routerSocket = platform.openRouterMessages(link.device, &why);
    if (m_routerSocket)
        m_routerSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                            quint16, const QHostAddress&) {
            HandleRouterMessage(data, size, from);
        };
    else
        m_raProblem = why;

    m_elapsedAtStart = platform.timers().elapsedMs();
    // Our look's own client: a made-up, locally administered MAC beside ours.
    m_probeDuid = DuidOf(QByteArray("\x02\x00", 2) + m_mac.right(4));
    m_runningStatus = QStringLiteral("dhcpv6 on %1 (%2), pool %3-%4")
                          .arg(link.device, server.toString(), PoolAddress(m_config, 1).toString(),
                               PoolAddress(m_config, quint32(m_config.poolSize)).toString());
    if (!m_routerSocket && m_raWanted)
        m_runningStatus += QStringLiteral("; no router advertisements: %1").arg(m_raProblem);
    m_state = State::Probing;
    m_status = QStringLiteral("dhcpv6 on %1 (%2): looking for other servers")
                   .arg(link.device, server.toString());
    SendProbe();
    return true;
}

qint64 CDhcp6Server::Now() const {
    return m_ctx.epochAtStart + (m_ctx.platform->timers().elapsedMs() - m_elapsedAtStart) / 1000;
}

QHostAddress CDhcp6Server::OnLink(QHostAddress address) const {
    if (address.isLinkLocal() || address.isMulticast())
        address.setScopeId(m_link.device);
    return address;
}

void CDhcp6Server::SendProbe() {
    m_probeXid = QRandomGenerator::global()->generate() & 0xffffff;
    m_waiting = true;
    m_probeAtMs = m_ctx.platform->timers().elapsedMs();
    Packet solicit;
    solicit.type = SOLICIT;
    solicit.xid = m_probeXid;
    solicit.options.append({OptClientId, m_probeDuid});
    solicit.options.append({OptElapsedTime, QByteArray(2, '\0')});
    solicit.options.append({OptIaNa, WriteIaNa({m_probeXid, 0, 0, {}, -1, {}})});
    const QByteArray bytes = Write(solicit);
    m_clientSocket->writeDatagram(bytes.constData(), bytes.size(),
                                  OnLink(QHostAddress(QString::fromLatin1(kServersGroup))),
                                  kServerPort);
    // Routers answer a solicitation at once; their own advertisements may be minutes apart.
    if (m_routerSocket) {
        static const char rs[8] = {char(Nd::kRouterSolicit), 0, 0, 0, 0, 0, 0, 0};
        m_routerSocket->writeDatagram(rs, sizeof rs,
                                      OnLink(QHostAddress(QString::fromLatin1(Nd::kAllRouters))), 0);
    }
    m_ctx.platform->timers().start(m_ctx.timerId, kProbeWaitMs);
}

void CDhcp6Server::OnTimer() {
    if (m_waiting)
        EndProbe();
    else
        SendProbe();
}

void CDhcp6Server::EndProbe() {
    m_waiting = false;
    const Stance stance = Guard(m_heard, m_link.device, m_raWanted);
    m_heard = {};
    const State was = m_state;
    m_state = stance.answer ? State::Serving : State::Blocked;
    SetAdvertising(stance.sendRa && m_routerSocket);
    SetStatus(stance.status.isEmpty() ? m_runningStatus : stance.status);
    if (m_state != was && (was == State::Blocked || m_state == State::Blocked)) {
        RowTexts texts;
        texts.service = QStringLiteral("DHCPv6");
        texts.info = m_state == State::Blocked
                         ? stance.status
                         : QStringLiteral("No other DHCPv6 server answers on %1: handing out addresses")
                               .arg(m_link.device);
        m_ctx.updateRow(m_ctx.addRow(texts), texts, m_state == State::Blocked ? ROW_FAILED : ROW_SENT);
        if (m_state == State::Blocked && m_ctx.playSound)
            m_ctx.playSound(SOUND_FAILED);
    }
    m_ctx.platform->timers().start(m_ctx.timerId, kProbeEveryMs - kProbeWaitMs);
}

void CDhcp6Server::SetAdvertising(bool on) {
    if (on == m_advertising)
        return;
    m_advertising = on;
    if (!on) {
        m_ctx.platform->timers().stop(m_advertTimer);
        return;
    }
    m_advertsLeft = kFirstAdverts;
    OnAdvertTimer();
}

void CDhcp6Server::OnAdvertTimer() {
    if (!m_advertising)
        return;
    SendAdvert();
    const bool quick = m_advertsLeft > 0 && --m_advertsLeft > 0;
    m_ctx.platform->timers().start(m_advertTimer, quick ? kFirstAdvertGapMs : kAdvertEveryMs);
}

void CDhcp6Server::SendAdvert() {
    m_advertAtMs = m_ctx.platform->timers().elapsedMs();
    const QByteArray ra = Nd::Write(Nd::OurAdvert(m_mac, Prefix64(m_config.server)));
    m_routerSocket->writeDatagram(ra.constData(), ra.size(),
                                  OnLink(QHostAddress(QString::fromLatin1(Nd::kAllNodes))), 0);
}

void CDhcp6Server::SetStatus(const QString& status) {
    if (status == m_status)
        return;
    m_status = status;
    if (m_statusChanged)
        m_statusChanged();
}

void CDhcp6Server::HandleRouterMessage(const char* data, qint64 size, const QHostAddress& from) {
    if (Nd::IsRouterSolicit(data, size)) {
        if (m_advertising && m_ctx.platform->timers().elapsedMs() - m_advertAtMs >= kMinAdvertGapMs)
            SendAdvert();
        return;
    }
    Nd::RouterAdvert ra;
    if (!Nd::ParseAdvert(data, size, &ra))
        return;
    const Heard before = m_heard;
    Hear(m_heard, ra, from, m_ours);
    // A router that was not heard before: look now rather than within the minute.
    const bool news = m_heard.managedRouter != before.managedRouter || m_heard.router != before.router;
    if (news && !m_waiting &&
        m_ctx.platform->timers().elapsedMs() - m_probeAtMs >= kEarlyProbeGapMs)
        SendProbe();
}

void CDhcp6Server::HandleClientPort(const char* data, qint64 size, const QHostAddress& from) {
    Packet p;
    if (!Parse(data, size, &p) || p.xid != m_probeXid || p.option(OptClientId) != m_probeDuid)
        return;
    Hear(m_heard, p, m_config.serverDuid, from);
}

void CDhcp6Server::HandleServerPort(const char* data, qint64 size, const QHostAddress& from) {
    Packet request;
    if (!Parse(data, size, &request) || request.option(OptClientId) == m_probeDuid)
        return;
    if (m_state != State::Serving)
        return;
    const Reply reply = Answer(request, from, m_config, *m_leases, Now());
    if (reply.otherServer && !m_waiting &&
        m_ctx.platform->timers().elapsedMs() - m_probeAtMs >= kEarlyProbeGapMs)
        SendProbe();
    if (m_writer) {
        m_writer->Submit(m_leases->TakeChanges());
        for (const QString& why : m_writer->TakeErrors()) {
            RowTexts texts;
            texts.service = QStringLiteral("DHCPv6");
            texts.file = m_ctx.leaseFile;
            texts.info = QStringLiteral("Leases not saved: %1").arg(why);
            m_ctx.updateRow(m_ctx.addRow(texts), texts, ROW_FAILED);
        }
    } else {
        m_leases->TakeChanges();
    }
    if (!reply.bytes.isEmpty() && from.isLinkLocal())
        m_serverSocket->writeDatagram(reply.bytes.constData(), reply.bytes.size(), OnLink(from),
                                      kClientPort);
    ShowRow(request, reply, from);
}

void CDhcp6Server::ShowRow(const Packet& request, const Reply& reply, const QHostAddress& from) {
    if (reply.info.isEmpty())
        return;
    const QByteArray duid = request.option(OptClientId);
    // Its MAC where one is known, else the address it was given, else the one it sent from.
    const QString mac = Dhcp::MacText(reply.mac);
    const QString address = reply.address.isNull() ? from.toString() : reply.address.toString();
    RowTexts texts;
    texts.client = mac.isEmpty()            ? address
                   : reply.address.isNull() ? mac
                                            : QStringLiteral("%1 (%2)").arg(mac, address);
    texts.file = Tftp::Printable(reply.bootFile);
    texts.service = QStringLiteral("DHCPv6");
    texts.info = Tftp::Printable(reply.info);
    const RowState state = reply.refused || reply.bootFailed ? ROW_FAILED : ROW_SENT;
    auto it = m_rows.find(duid);
    if (it == m_rows.end() || (it->finished && request.xid != it->xid)) {
        if (it == m_rows.end()) {
            if (m_rowOrder.size() >= kRowsKept)
                m_rows.remove(m_rowOrder.takeFirst());
            m_rowOrder.append(duid);
            it = m_rows.insert(duid, {});
        }
        it->row = m_ctx.addRow(texts);
        it->state = ROW_ACTIVE;
    }
    if (state == ROW_FAILED && it->state != ROW_FAILED && m_ctx.playSound)
        m_ctx.playSound(SOUND_FAILED);
    it->state = state;
    it->finished = !reply.refused && request.type != SOLICIT;
    it->xid = request.xid;
    m_ctx.updateRow(it->row, texts, state);
    if (m_ctx.showDetails) {
        RowDetails details;
        details.ended = it->finished || state == ROW_FAILED;
        details.client = mac.isEmpty() ? address : mac;
        details.clientPort = kClientPort;
        details.ourPort = kServerPort;
        details.found = texts.file;
        details.offer.append(TypeName(request.type) + QStringLiteral(" answered"));
        if (!reply.address.isNull())
            details.offer.append(QStringLiteral("Address %1").arg(reply.address.toString()));
        if (!reply.bootFile.isEmpty())
            details.offer.append(QStringLiteral("Boot file URL (59) %1").arg(texts.file));
        if (state == ROW_FAILED)
            details.failure = texts.info;
        m_ctx.showDetails(it->row, details);
    }
}
