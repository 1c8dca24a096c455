#include "engine/dhcp/DhcpServer.h"

#include "engine/dhcp/DhcpValues.h"
#include "engine/dhcp/LeaseFile.h"
#include "engine/platform/NormalAddress.h"
#include "engine/tftp/TftpPacket.h"

#include <QFile>
#include <QRandomGenerator>

using namespace Dhcp;


CDhcpServer::CDhcpServer(DhcpContext context) : m_ctx(std::move(context)) {}

CDhcpServer::~CDhcpServer() {
    // The writer finishes what it holds first: the replies that waited for it may go.
    m_writer.reset();
    if (m_serverSocket)
        for (const auto& [batch, reply] : std::exchange(m_unsynced, {}))
            Send(reply);
    if (m_ctx.platform)
        m_ctx.platform->timers().stop(m_ctx.timerId);
    if (m_serverSocket)
        m_serverSocket->close();
    if (m_clientSocket)
        m_clientSocket->close();
}

bool CDhcpServer::Start(const DhcpOptions& options, const DhcpLink& link, QString* error) {
    m_link = link;
    const quint32 ours = link.address.toIPv4Address();
    if (link.device.isEmpty() || !ours) {
        *error = QStringLiteral("no interface to answer on");
        return false;
    }
    m_config.server = ours;
    m_config.netmask = link.prefixLength ? ~quint32(0) << (32 - link.prefixLength) : 0;
    const Values values = ReadValues(options, link);
    if (!values.problem.isEmpty()) {
        *error = values.problem;
        return false;
    }
    m_config.routers = values.routers;
    m_config.dns = values.dns;
    m_config.leaseSeconds = qBound(60, options.leaseSeconds, 366 * 86400);
    m_config.boot = options.boot;
    m_config.bootpDynamic = options.bootpDynamic;
    m_config.exists = m_ctx.bootFileThere;
    m_config.size = m_ctx.bootFileSize;
    m_config.menuListing = m_ctx.menuListing;

    const quint32 first = values.poolFirst, last = values.poolLast;
    QList<FixedHost> hosts;
    m_hostsProblems.clear();
    if (!options.hostsFile.isEmpty()) {
        HostsParse parsed;
        if (!ReadHostsFile(options.hostsFile, ours, &parsed, error))
            return false;
        hosts = parsed.hosts;
        m_hostsProblems = parsed.problems;
    }
    m_leases = std::make_unique<CLeaseTable>(first, last, hosts, options.onlyKnownHosts);
    if (!m_ctx.leaseFile.isEmpty()) {
        m_leases->Restore(ReadLeaseFile(m_ctx.leaseFile));
        // Compacted at the start; appended to from here on.
        CLeaseWriter::Durable durable;
        if (m_ctx.postToEngine)
            durable = [post = m_ctx.postToEngine, self = std::weak_ptr(m_self)] {
                post([self] {
                    if (const auto server = self.lock())
                        (*server)->SendDurable();
                });
            };
        m_writer = std::make_unique<CLeaseWriter>(m_ctx.leaseFile, m_leases->Leases(),
                                                  std::move(durable));
    }

    // Broadcasts reach only sockets on the wildcard address; the device keeps both to
    // the one link, so a request that came in on another interface never arrives.
    IPlatform& platform = *m_ctx.platform;
    const QHostAddress any(QHostAddress::AnyIPv4);
    m_serverSocket = platform.bindBroadcastUdp(any, kServerPort, link.device, error);
    if (!m_serverSocket)
        return false;
    m_clientSocket = platform.bindBroadcastUdp(any, kClientPort, link.device, error);
    if (!m_clientSocket) {
        m_serverSocket.reset();
        return false;
    }
    m_serverSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress&,
                                        quint16, const QHostAddress&) { HandleDatagram(data, size); };
    m_clientSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                        quint16, const QHostAddress&) {
        HandleClientPort(data, size, from);
    };
    m_elapsedAtStart = platform.timers().elapsedMs();
    // A made-up, locally administered hardware address for our own DISCOVER.
    m_probeMac = Mac("\x02\x00", 2) + IpBytes(ours);
    m_runningStatus = {};
    m_runningStatus.state = DhcpStatus::State::On;
    m_runningStatus.device = link.device;
    m_runningStatus.address = link.address.toString();
    m_runningStatus.poolFirst = AddressText(first);
    m_runningStatus.poolLast = AddressText(last);
    m_status = m_runningStatus;
    // The lines left out of HostsFile, each a red row: a host that is not served must
    // say why.
    for (const QString& problem : m_hostsProblems) {
        RowTexts texts;
        texts.service = QStringLiteral("DHCP");
        texts.file = options.hostsFile;
        texts.info = QStringLiteral("HostsFile %1 (line left out)").arg(problem);
        m_ctx.updateRow(m_ctx.addRow(texts), texts, ROW_FAILED);
    }
    m_state = State::Probing;
    SendProbe();
    return true;
}

qint64 CDhcpServer::Now() const {
    return m_ctx.epochAtStart + (m_ctx.platform->timers().elapsedMs() - m_elapsedAtStart) / 1000;
}

void CDhcpServer::SendProbe() {
    m_probeXid = QRandomGenerator::global()->generate() | 1;
    m_otherServer.clear();
    m_waiting = true;
    m_probeAtMs = m_ctx.platform->timers().elapsedMs();
    Packet fields;
    fields.htype = 1;
    fields.hlen = 6;
    fields.xid = m_probeXid;
    fields.flags = 0x8000; // answer by broadcast: we hold no address for the made-up MAC
    fields.chaddr = m_probeMac;
    QByteArray out = StartMessage(BOOTREQUEST, fields);
    AddOption(out, OptMessageType, QByteArray(1, char(DISCOVER)));
    AddOption(out, 55, QByteArray("\x01\x03\x06", 3));
    out = EndMessage(out);
    m_clientSocket->writeDatagram(out.constData(), out.size(), QHostAddress(QHostAddress::Broadcast),
                                  kServerPort);
    m_ctx.platform->timers().start(m_ctx.timerId, kProbeWaitMs);
}

void CDhcpServer::OtherServerSign(quint32 serverId) {
    // What the sign says is not believed: only an answer to our own look stops us, so
    // a client cannot silence the server with one made-up packet.
    if (!serverId || serverId == m_config.server || m_state != State::Serving || m_waiting ||
        m_ctx.platform->timers().elapsedMs() - m_probeAtMs < kEarlyProbeGapMs)
        return;
    SendProbe();
}

void CDhcpServer::OnTimer() {
    if (m_waiting)
        EndProbe();
    else
        SendProbe();
}

void CDhcpServer::EndProbe() {
    m_waiting = false;
    if (!m_otherServer.isEmpty())
        Block(m_otherServer);
    else if (m_state != State::Serving)
        Resume();
    m_ctx.platform->timers().start(m_ctx.timerId, kProbeEveryMs - kProbeWaitMs);
}

void CDhcpServer::HandleClientPort(const char* data, qint64 size, const QHostAddress& from) {
    Packet p;
    if (size < 1 || data[0] != 2) // a BOOTREPLY
        return;
    QByteArray bytes(data, int(qMin<qint64>(size, 1500)));
    bytes[0] = 1; // read as a request is: the layout is the same
    if (!Parse(bytes.constData(), bytes.size(), &p) || (p.messageType != OFFER && p.messageType != ACK))
        return;
    const quint32 id = OptionAddress(p, OptServerId);
    if (p.xid != m_probeXid || p.chaddr.left(6) != m_probeMac) {
        // Another server's answer to a client, broadcast (ours name us and are passed over).
        if (!p.giaddr)
            OtherServerSign(id);
        return;
    }
    const QString other = id ? AddressText(id) : from.toString();
    m_otherServer = other;
    if (m_state != State::Blocked)
        Block(other);
}

void CDhcpServer::Block(const QString& other) {
    const bool was = m_state == State::Blocked;
    m_state = State::Blocked;
    DhcpStatus status;
    status.state = DhcpStatus::State::OtherServer;
    status.device = m_link.device;
    status.address = m_link.address.toString();
    status.other = other;
    SetStatus(status);
    const QString text = status.text();
    if (was)
        return;
    RowTexts texts;
    texts.client = other;
    texts.service = QStringLiteral("DHCP");
    texts.info = text;
    const RowHandle row = m_ctx.addRow(texts);
    m_ctx.updateRow(row, texts, ROW_FAILED);
    if (m_ctx.playSound)
        m_ctx.playSound(SOUND_FAILED);
}

void CDhcpServer::Resume() {
    const bool wasBlocked = m_state == State::Blocked;
    m_state = State::Serving;
    SetStatus(m_runningStatus);
    if (!wasBlocked)
        return;
    RowTexts texts;
    texts.service = QStringLiteral("DHCP");
    texts.info = QStringLiteral("No other DHCP server answers on %1: handing out addresses")
                     .arg(m_link.device);
    const RowHandle row = m_ctx.addRow(texts);
    m_ctx.updateRow(row, texts, ROW_SENT);
}

void CDhcpServer::SetStatus(const DhcpStatus& status) {
    if (status == m_status)
        return;
    m_status = status;
    if (m_ctx.statusChanged)
        m_ctx.statusChanged(status);
}

void CDhcpServer::HandleDatagram(const char* data, qint64 size) {
    Packet request;
    if (!Parse(data, size, &request, true) || request.htype != 1 || request.hlen != 6)
        return;
    if (request.xid == m_probeXid && request.chaddr.left(6) == m_probeMac)
        return; // our own DISCOVER, looped back
    // Nothing before the link was asked, nothing while another server answers there.
    if (m_state != State::Serving)
        return;
    // A client choosing another server's offer: that server is on the link.
    if (request.messageType == REQUEST && !request.giaddr && !request.ciaddr)
        OtherServerSign(OptionAddress(request, OptServerId));
    const AdmitAddress admit = [this](quint32 address) {
        return m_ctx.admit ? m_ctx.admit(QHostAddress(address)) : QString();
    };
    const Reply reply = Answer(request, m_config, *m_leases, Now(), admit);
    // On disk before the ACK leaves: a client never holds a lease a crash forgets.
    if (SaveLeases(request, reply))
        m_unsynced.append({m_writer->Submitted(), reply});
    else
        Send(reply);
    ShowRow(request, reply);
}

void CDhcpServer::Send(const Reply& reply) {
    if (reply.bytes.isEmpty())
        return;
    // Unicast to an address not taken yet needs the kernel told where it is; a
    // process that may not (no CAP_NET_ADMIN) broadcasts, which every client hears.
    const bool broadcast =
        reply.to == 0xffffffffu ||
        (!reply.toMac.isEmpty() && !m_ctx.platform->addArpEntry(m_link.device, reply.to, reply.toMac));
    const QHostAddress to = broadcast ? QHostAddress(QHostAddress::Broadcast) : QHostAddress(reply.to);
    m_serverSocket->writeDatagram(reply.bytes.constData(), reply.bytes.size(), to, reply.toPort);
}

bool CDhcpServer::SaveLeases(const Packet& request, const Reply& reply) {
    const QList<Lease> changed = m_leases->TakeChanges();
    if (!m_writer)
        return false;
    m_writer->Submit(changed);
    ShowWriteErrors();
    // An OFFER and a NAK promise nothing a crash could take back; any other answer
    // (an ACK, also one that changed nothing, a BOOTP reply) may tell of a lease still
    // on its way to disk, so it waits for everything handed over before it.
    const bool tellsOfLease = !reply.bytes.isEmpty() && !reply.refused && request.messageType != DISCOVER;
    return tellsOfLease && m_writer->DurableUpTo() < m_writer->Submitted();
}

void CDhcpServer::SendDurable() {
    if (!m_writer)
        return;
    const quint64 upTo = m_writer->DurableUpTo();
    qsizetype sent = 0;
    for (; sent < m_unsynced.size() && m_unsynced[sent].first <= upTo; ++sent)
        Send(m_unsynced[sent].second);
    m_unsynced.remove(0, sent);
    ShowWriteErrors();
}

void CDhcpServer::ShowWriteErrors() {
    for (const QString& why : m_writer->TakeErrors()) {
        RowTexts texts;
        texts.service = QStringLiteral("DHCP");
        texts.file = m_ctx.leaseFile;
        texts.info = QStringLiteral("Leases not saved: %1").arg(why);
        const RowHandle row = m_ctx.addRow(texts);
        m_ctx.updateRow(row, texts, ROW_FAILED);
    }
}

namespace {
constexpr quint8 kOptionHostName = 12;
}

void CDhcpServer::ShowRow(const Packet& request, const Reply& reply) {
    if (reply.info.isEmpty())
        return;
    const Mac mac = request.chaddr.left(6);
    RowTexts texts;
    texts.client = reply.address
                       ? QStringLiteral("%1 (%2)").arg(MacText(mac), AddressText(reply.address))
                       : MacText(mac);
    texts.file = reply.bootFile;
    texts.service = QStringLiteral("DHCP");
    texts.info = reply.info;
    // The name is the device's own choice: any bytes, shown only once made printable.
    texts.host = Tftp::Printable(QString::fromLatin1(request.option(kOptionHostName).left(64)));
    if (reply.exhausted) {
        // Every new client meets the same full pool: one red row tells of them all (the
        // last one and how many), so a storm of clients cannot flood the list.
        const qint64 now = m_ctx.platform->timers().elapsedMs();
        if (!m_exhaustedRow || now - m_exhaustedAtMs > kExhaustedRowMs) {
            m_exhaustedRow = m_ctx.addRow(texts);
            m_exhaustedClients.clear();
            if (m_ctx.playSound)
                m_ctx.playSound(SOUND_FAILED);
        }
        m_exhaustedAtMs = now;
        if (m_exhaustedClients.size() < kRowsKept)
            m_exhaustedClients.insert(mac);
        if (m_exhaustedClients.size() > 1)
            texts.info += QStringLiteral(" (%1%2 clients)")
                              .arg(m_exhaustedClients.size() >= kRowsKept ? QStringLiteral("over ")
                                                                          : QString())
                              .arg(m_exhaustedClients.size());
        m_ctx.updateRow(m_exhaustedRow, texts, ROW_FAILED);
        return;
    }
    const RowState state = reply.refused || reply.bootFailed ? ROW_FAILED : ROW_SENT;
    // A client's exchange stays on its row (a DISCOVER repeated, then its REQUEST, and
    // that REQUEST resent while the ACK was on its way); the next exchange after a lease
    // was given or ended starts a row of its own.
    auto it = m_rows.find(mac);
    if (it == m_rows.end() || (it->finished && request.xid != it->xid)) {
        if (it == m_rows.end()) {
            if (m_rowOrder.size() >= kRowsKept)
                m_rows.remove(m_rowOrder.takeFirst());
            m_rowOrder.append(mac);
            it = m_rows.insert(mac, {});
        }
        it->row = m_ctx.addRow(texts);
        it->state = ROW_ACTIVE;
    }
    if (state == ROW_FAILED && it->state != ROW_FAILED && m_ctx.playSound)
        m_ctx.playSound(SOUND_FAILED);
    it->state = state;
    const quint8 type = request.messageType;
    it->finished = !reply.refused && type != DISCOVER;
    it->xid = request.xid;
    m_ctx.updateRow(it->row, texts, state);
    if (m_ctx.showDetails) {
        // Once an exchange's answer: the options as they went, or why none did.
        RowDetails details;
        details.ended = it->finished || state == ROW_FAILED;
        details.client = MacText(mac);
        details.clientPort = kClientPort;
        details.ourPort = kServerPort;
        details.found = reply.bootFile;
        details.offer = DescribeReply(reply.bytes);
        if (state == ROW_FAILED)
            details.failure = reply.info;
        m_ctx.showDetails(it->row, details);
    }
}
