#include "engine/boot/ProxyDhcp.h"

#include "engine/boot/SecureBootChain.h"
#include "engine/server/ServiceContext.h"
#include "engine/platform/NormalAddress.h"

#include <QFile>
#include <QUrl>

QString BootInterface::describe() const {
    if (device.isEmpty())
        return linkDown.isEmpty() ? QStringLiteral("no interface with an IPv4 address")
                                  : QStringLiteral("%1 link down").arg(linkDown);
    return QStringLiteral("%1 (%2)").arg(device, address.toString());
}

BootInterface ChooseBootInterface(const QHostAddress& listen,
                                  const QList<NetInterface>& interfaces) {
    const bool any = IsAnyAddress(listen);
    for (const NetInterface& i : interfaces) {
        if (any && (!i.up || i.loopback))
            continue;
        for (const QHostAddress& a : i.addresses) {
            if (a.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (any)
                return {i.name, a, {}};
            if (a.isEqual(listen, QHostAddress::ConvertV4MappedToIPv4))
                return i.up ? BootInterface{i.name, a, {}} : BootInterface{{}, {}, i.name};
        }
    }
    return {};
}

CProxyDhcp::CProxyDhcp(ServiceContext& context) : m_context(context) {}

CProxyDhcp::~CProxyDhcp() {
    if (m_dhcpSocket)
        m_dhcpSocket->close();
    if (m_pxeSocket)
        m_pxeSocket->close();
}

bool CProxyDhcp::Start(const BootInterface& where, QString* error) {
    m_interface = where;
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

// Who the client is for the client list: the address it has (ciaddr, or the one it
// sent from), else the one it asks for (option 50); a client on 67 often has none yet.
QHostAddress CProxyDhcp::ClientAddress(const Dhcp::Packet& request, const QHostAddress& from) {
    if (request.ciaddr)
        return QHostAddress(request.ciaddr);
    const quint32 source = from.toIPv4Address();
    if (source)
        return QHostAddress(source);
    const QByteArray asked = request.option(Dhcp::OptRequestedAddress);
    if (asked.size() == 4)
        return QHostAddress(quint32(uchar(asked[0])) << 24 | quint32(uchar(asked[1])) << 16 |
                            quint32(uchar(asked[2])) << 8 | uchar(asked[3]));
    return QHostAddress(QHostAddress::AnyIPv4);
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
    const Dhcp::ClientKind kind = Dhcp::Classify(request);
    const EngineSettings& settings = m_context.settings();
    QString bootFile;
    switch (kind) {
    case Dhcp::ClientKind::Bios: bootFile = settings.bootFileBios; break;
    case Dhcp::ClientKind::Uefi:
        bootFile = settings.bootFileUefi;
        if (settings.secureBootChain && bootFile.isEmpty())
            bootFile = QLatin1String(SecureBoot::kDefaultShim);
        break;
    case Dhcp::ClientKind::UefiHttp: bootFile = settings.bootFileUefiHttp; break;
    case Dhcp::ClientKind::Ipxe: bootFile = m_context.ipxeBootFile(request.macText()); break;
    case Dhcp::ClientKind::NotPxe:
    case Dhcp::ClientKind::OtherArch: return;
    }
    if (bootFile.isEmpty())
        return;

    // A flood from one client is answered at a bounded rate, on one row per exchange.
    if (!m_clients.MayAnswer(request.chaddr, m_context.platform().timers().elapsedMs()))
        return;

    // A URL is sent as it is. A name must be in the working folder; a UEFI HTTP client
    // is told it as a URL on our HTTP port, built per answer from the offer's address.
    const QByteArray name = QFile::encodeName(bootFile);
    const bool url = bootFile.contains(QLatin1String("://"));
    const bool overHttp = !url && kind == Dhcp::ClientKind::UefiHttp;
    QByteArray offered = name;
    if (overHttp) {
        QUrl http;
        http.setScheme(QStringLiteral("http"));
        http.setHost(m_interface.address.toString());
        http.setPort(settings.httpPort);
        http.setPath(QLatin1Char('/') + bootFile);
        offered = http.toEncoded();
    }

    RowTexts texts;
    const QHostAddress clientAddress(request.ciaddr ? request.ciaddr : from.toIPv4Address());
    texts.client = QStringLiteral("%1 (%2)").arg(request.macText(), clientAddress.toString());
    texts.file = overHttp ? QString::fromUtf8(offered) : bootFile;
    texts.service = QStringLiteral("Boot offer");
    IServerWindow& window = m_context.rows();
    RowHandle row = m_clients.RowOf(request.chaddr, request.xid);
    if (row == 0) {
        row = m_context.addRow(texts);
        m_clients.SetRow(request.chaddr, request.xid, row);
    }
    const auto refuse = [&](Refusal why, const QString& detail) {
        texts.info = RefusalRow(why, detail);
        window.UpdateRow(row, texts, ROW_FAILED);
        m_context.playSound(SOUND_FAILED);
    };

    // The client list as for TFTP and HTTP, by the address the client has or asks for.
    if (m_context.admission().Client(ClientAddress(request, from)) != Refusal::None)
        return refuse(Refusal::Client, QString());

    if (!url && !m_context.paths().BootFileThere(settings.workingFolder, name))
        return refuse(Refusal::BootFileMissing, bootFile);
    if (overHttp && !settings.httpEnabled)
        return refuse(Refusal::BootHttpOff, bootFile);

    Dhcp::Answer answer;
    answer.messageType = reply;
    answer.serverAddress = ours;
    answer.bootFile = offered;
    answer.httpClient = kind == Dhcp::ClientKind::UefiHttp;
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
        Dhcp::KindName(kind));
    // The shim went out; what it will ask for next must be there too, or the boot stops.
    if (kind == Dhcp::ClientKind::Uefi && settings.secureBootChain) {
        const SecureBoot::Chain chain = SecureBoot::Check(name, [&](const QByteArray& n) {
            return m_context.paths().BootFileThere(settings.workingFolder, n);
        });
        if (!chain.complete()) {
            texts.info += QStringLiteral("; Secure Boot chain lacks ") + chain.missingText();
            window.UpdateRow(row, texts, ROW_FAILED);
            m_context.playSound(SOUND_FAILED);
            return;
        }
    }
    window.UpdateRow(row, texts, ROW_SENT);
}
