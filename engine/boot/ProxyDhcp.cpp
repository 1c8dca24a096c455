#include "engine/boot/ProxyDhcp.h"

#include "engine/boot/BootPolicy.h"
#include "engine/server/ServiceContext.h"


QString BootInterface::describe() const {
    if (device.isEmpty())
        return linkDown.isEmpty() ? QStringLiteral("no interface with an IPv4 address")
                                  : QStringLiteral("%1 link down").arg(linkDown);
    return QStringLiteral("%1 (%2)").arg(device, address.toString());
}

BootInterface ChooseBootInterface(const QHostAddress& listen,
                                  const QList<NetInterface>& interfaces) {
    LinkWait wait;
    const DhcpLink link = FindDhcpLink(QString(), listen, interfaces, &wait);
    if (link.device.isEmpty())
        return {{}, {}, wait.why == LinkWait::Why::LinkDown ? wait.device : QString()};
    return {link.device, link.address, {}};
}

CProxyDhcp::CProxyDhcp(ServiceContext& context) : m_context(context) {}

CProxyDhcp::~CProxyDhcp() {
    if (m_dhcpSocket)
        m_dhcpSocket->close();
    if (m_pxeSocket)
        m_pxeSocket->close();
}

bool CProxyDhcp::Start(const BootInterface& where, const KnownHosts& hosts, QString* error) {
    m_interface = where;
    m_hosts = hosts;
    if (m_interface.device.isEmpty()) {
        *error = m_interface.describe();
        return false;
    }
    // Broadcasts reach only a socket on the wildcard address; the device keeps it to
    // the one network.
    IPlatform& platform = m_context.platform();
    const QHostAddress any(QHostAddress::AnyIPv4);
    QString why;
    m_dhcpSocket = platform.bindBroadcastUdp(any, Dhcp::kServerPort, m_interface.device, &why);
    if (m_dhcpSocket)
        m_pxeSocket = platform.bindBroadcastUdp(any, Dhcp::kPxePort, m_interface.device, &why);
    if (!m_pxeSocket) {
        m_dhcpSocket.reset();
        *error = why;
        return false;
    }
    m_dhcpSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                      quint16 fromPort, const QHostAddress&) {
        HandleDatagram(data, size, from, fromPort, false);
    };
    m_pxeSocket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                     quint16 fromPort, const QHostAddress&) {
        HandleDatagram(data, size, from, fromPort, true);
    };
    return true;
}

void CProxyDhcp::HandleDatagram(const char* data, qint64 size, const QHostAddress& from,
                                quint16 fromPort, bool pxePort) {
    Dhcp::Packet request;
    if (!Dhcp::Parse(data, size, &request))
        return;
    const quint32 ours = m_interface.address.toIPv4Address();
    // PXE's proxy mode: on 67 only DISCOVERs, on 4011 REQUESTs and INFORMs. A REQUEST on
    // 67 asks the DHCP server for an address, even when it names our address (a DHCP
    // server on this host): an ACK of ours without one would be taken for its answer.
    Dhcp::MessageType reply;
    if (!pxePort && request.messageType == Dhcp::DISCOVER)
        reply = Dhcp::OFFER;
    else if (pxePort && (request.messageType == Dhcp::REQUEST || request.messageType == Dhcp::INFORM))
        reply = Dhcp::ACK;
    else
        return;
    const EngineSettings& settings = m_context.settings();
    const QByteArray mac = request.chaddr.left(6);
    const auto host = m_hosts.files.constFind(mac);
    const bool known = host != m_hosts.files.cend();
    BootPolicy::Folder folder;
    folder.exists = [&](const QByteArray& n) {
        return m_context.paths().BootFileThere(settings.workingFolder, n);
    };
    folder.size = [&](const QByteArray& n) {
        return m_context.paths().BootFileSize(settings.workingFolder, n);
    };
    if (settings.menu && Dhcp::Classify(request) == Dhcp::ClientKind::Ipxe)
        folder.listing = m_context.menuListing();
    const BootPolicy::Choice choice = BootPolicy::Choose(
        BootPolicy::Service::Offers, BootPolicy::ClientOf(request, known ? *host : QString()),
        BootPolicy::SettingsOf(settings), m_interface.address, folder);
    if (choice.offered.isEmpty())
        return;

    // A flood from one client is answered at a bounded rate, on one row per exchange.
    if (!m_clients.MayAnswer(request.chaddr, m_context.platform().timers().elapsedMs()))
        return;

    RowTexts texts;
    const QHostAddress clientAddress(request.ciaddr ? request.ciaddr : from.toIPv4Address());
    texts.client = QStringLiteral("%1 (%2)").arg(request.macText(), clientAddress.toString());
    texts.file = choice.file;
    texts.service = QStringLiteral("Boot offer");
    IServerWindow& window = m_context.rows();
    RowHandle row = m_clients.RowOf(request.chaddr, request.xid);
    if (row == 0) {
        row = m_context.addRow(texts);
        m_clients.SetRow(request.chaddr, request.xid, row);
    }
    // Once an answer: what it carried, read back option by option, or why none went.
    const auto tellDetails = [&](const QByteArray& sent, const QString& failure) {
        RowDetails details;
        details.ended = true;
        details.client = texts.client;
        details.clientPort = fromPort;
        details.ourPort = pxePort ? Dhcp::kPxePort : Dhcp::kServerPort;
        details.found = choice.file;
        details.offer = Dhcp::DescribeReply(sent);
        details.failure = failure;
        window.ShowDetails(row, details);
    };
    const auto refuse = [&](const QString& why, const QByteArray& sent = {}) {
        texts.info = why;
        window.UpdateRow(row, texts, ROW_FAILED);
        tellDetails(sent, why);
        m_context.playSound(SOUND_FAILED);
    };

    // A client is known by its MAC (HostsFile with OnlyKnownHosts), never by an address
    // it names; the address list applies only to the address a request on 4011 came
    // from, which the client holds.
    if (m_hosts.onlyKnown && !known)
        return refuse(RefusalRow(Refusal::Client));
    const quint32 source = from.toIPv4Address();
    if (pxePort && source && m_context.admission().Client(QHostAddress(source)) != Refusal::None)
        return refuse(RefusalRow(Refusal::Client));
    if (choice.refusal != Refusal::None)
        return refuse(choice.problem());

    struct Dhcp::Answer answer; // "struct": DhcpAnswer.h has a function Dhcp::Answer too
    answer.messageType = reply;
    answer.serverAddress = ours;
    answer.bootFile = choice.offered;
    answer.httpClient = choice.httpClient;
    answer.vendorOptions = choice.vendorOptions;
    if (choice.raspberryPi)
        answer.tftpServer = m_interface.address.toString().toLatin1();
    const QByteArray out = Dhcp::BuildAnswer(request, answer);
    // 4011 answers where the request came from. On 67 the client has no address yet:
    // broadcast, unless it has one (ciaddr) or came through a relay (giaddr).
    QHostAddress to(QHostAddress::Broadcast);
    quint16 toPort = Dhcp::kClientPort;
    IDatagramSocket& socket = pxePort ? *m_pxeSocket : *m_dhcpSocket;
    if (pxePort) {
        to = from;
        toPort = fromPort;
    } else if (request.giaddr) {
        to = QHostAddress(request.giaddr);
        toPort = Dhcp::kServerPort;
    } else if (request.ciaddr) {
        to = QHostAddress(request.ciaddr);
    }
    socket.writeDatagram(out.constData(), out.size(), to, toPort);
    texts.info = QStringLiteral("%1 %2").arg(
        reply == Dhcp::OFFER ? QStringLiteral("Offered to") : QStringLiteral("Acknowledged to"),
        choice.kindName());
    // The shim went out; what it will ask for next must be there too, or the boot stops.
    if (!choice.chainLacks.isEmpty())
        return refuse(texts.info + QStringLiteral("; ") + choice.problem(), out);
    window.UpdateRow(row, texts, ROW_SENT);
    tellDetails(out, QString());
}
