#include "engine/host/EngineServices.h"

#include "engine/boot/BootMenuFile.h"
#include "engine/boot/DecidesBoot.h"
#include "engine/boot/ProxyDhcp.h"
#include "engine/dhcp/Dhcp6Server.h"
#include "engine/dhcp/DhcpServer.h"
#include "engine/dhcp/LeaseFile.h"
#include "engine/http/HttpService.h"
#include "engine/server/TransferRequest.h"

#include <QDateTime>
#include <QFile>
#include <tuple>

CEngineServices::CEngineServices(CServerEngine& server) : m_server(server) {
    IPlatform& p = platform();
    m_serverInterfaceEvent = std::move(p.onInterfaceEvent);
    p.onInterfaceEvent = [this](const InterfaceEvent& event) { OnInterfaceEvent(event); };
    m_serverTimeout = std::move(p.timers().onTimeout);
    p.timers().onTimeout = [this](int id) { OnTimer(id); };
    // What a boot chain probes and may lack is the boot policy's knowledge.
    m_server.SetOptionalProbes(BootPolicy::OptionalProbes(BootPolicy::SettingsOf(settings())));
    m_server.m_decidesBoot = [this](const QByteArray& name) {
        return DecidesBootUnder(name, settings(), platform().files());
    };
    m_server.SetFollower(this);
}

void CEngineServices::FollowBootPolicy(CServerEngine& other, CEngineServices& services) {
    other.SetOptionalProbes(BootPolicy::OptionalProbes(BootPolicy::SettingsOf(other.Settings())));
    other.m_decidesBoot = [&other, &services](const QByteArray& name) {
        return services.DecidesBootUnder(name, other.Settings(), other.Platform().files());
    };
}

// `fs` is the asking engine's own: each engine thread reads the folder through its own.
bool CEngineServices::DecidesBootUnder(const QByteArray& name, const EngineSettings& s,
                                       IFileSystem& fs) {
    return BootFiles::Guarded(s) &&
           BootFiles::WritesBootFile(fs, s.workingFolder, name, s, HostBootFiles(s.dhcpHostsFile));
}

CEngineServices::~CEngineServices() {
    // Each service may still end rows and release its timers as it goes.
    m_http.reset();
    m_proxyDhcp.reset();
    m_dhcp6.reset();
    m_dhcp.reset();
    m_bootMenu.reset();
    m_server.SetFollower(nullptr);
    m_server.SetOptionalProbes({});
    m_server.m_decidesBoot = nullptr;
    IPlatform& p = platform();
    p.onInterfaceEvent = std::move(m_serverInterfaceEvent);
    p.timers().onTimeout = std::move(m_serverTimeout);
}

// ---------------------------------------------------------------- the listener

// HTTP goes with the address asked for, whether or not the TFTP port opens.
void CEngineServices::ListenRequested(bool tellWindow) { StartHttp(tellWindow); }

void CEngineServices::ListenerOpened(bool tellWindow) {
    RestartBootOffers();
    if (!m_bootStatus.ok && tellWindow)
        rows().ShowMessage(QStringLiteral("Boot Offer Socket Creation Fails!!\n\n") +
                           m_bootStatus.text());
}

void CEngineServices::ListenerClosed() {
    m_proxyDhcp.reset();
    m_dhcp6.reset();
    m_dhcp.reset();
    if (m_bootMenu)
        m_bootMenu->Stop();
    m_dhcpStatus = {};
    m_bootStatus = {};
    m_bootInterface = {};
}

void CEngineServices::ServerShutdown() {
    if (m_http)
        m_http->Stop();
}

// Settings that change what the DHCP server answers open it again.
void CEngineServices::SettingsChanged(const EngineSettings& before) {
    const EngineSettings& now = settings();
    m_server.SetOptionalProbes(BootPolicy::OptionalProbes(BootPolicy::SettingsOf(now)));
    // What it copies as it starts: every value of its own and each one BootPolicy reads.
    const auto dhcpPart = [](const EngineSettings& s) {
        return std::make_tuple(s.dhcpEnabled, s.dhcpInterface, s.dhcpPoolFirst, s.dhcpPoolLast,
                               s.dhcpRouter, s.dhcpDnsServers, s.dhcpLeaseSeconds,
                               s.dhcpHostsFile, s.dhcpOnlyKnownHosts, s.dhcpBootpDynamic,
                               s.dhcpIPv6, s.dhcpPool6First, s.dhcpPool6Size,
                               s.dhcpRouterAdvertisements, BootPolicy::SettingsOf(s));
    };
    // The boot offers read the rest as they answer, but HostsFile only as they open.
    const auto hostsPart = [](const EngineSettings& s) {
        return std::tie(s.dhcpHostsFile, s.dhcpOnlyKnownHosts);
    };
    if (m_server.IsListening() && (before.dhcpEnabled || now.dhcpEnabled) &&
        dhcpPart(before) != dhcpPart(now))
        RestartBootOffers();
    else if (m_server.IsListening() && now.proxyDhcp && hostsPart(before) != hostsPart(now))
        RestartOffers();
    else if (m_bootMenu && now.menu && !before.menu)
        m_bootMenu->Look(); // its once-a-second look stops while the menu is off
}

// ---------------------------------------------------------------- boot offers, DHCP

BootStatus CEngineServices::RestartBootOffers() {
    {
        std::lock_guard<std::mutex> lock(m_hostsLock);
        m_hostBootFiles.clear(); // the services read HostsFile again as they open
    }
    RestartDhcp();
    return RestartOffers();
}

BootStatus CEngineServices::RestartOffers() {
    StartOffers();
    FollowMenu();
    return m_bootStatus;
}

// The menu is written whenever it is on and the server listens, whoever names us to
// iPXE (our offers, our DHCP server, or the LAN's DHCP server with us as next server):
// its files are fetched from where the offers or our DHCP server answer, else from the
// listen address, else from the next server iPXE was given.
void CEngineServices::FollowMenu() {
    if (!m_bootMenu)
        m_bootMenu = std::make_unique<CBootMenuFile>(*this);
    m_bootMenu->Stop();
    if (!m_server.IsListening())
        return;
    const QHostAddress bound = m_server.BindAddress();
    QString server = QStringLiteral("${next-server}");
    if (m_proxyDhcp)
        server = m_proxyDhcp->Interface().address.toString();
    else if (m_dhcp)
        server = m_dhcp->Link().address.toString();
    else if (bound.protocol() == QAbstractSocket::IPv4Protocol && bound != QHostAddress::AnyIPv4)
        server = bound.toString();
    m_bootMenu->Start(server);
}

void CEngineServices::StartOffers() {
    m_proxyDhcp.reset();
    m_bootStatus = {};
    m_bootInterface = {};
    if (!m_server.IsListening() || !settings().proxyDhcp)
        return;
    m_bootInterface = ChooseBootInterface(m_server.BindAddress(), platform().interfaces());
    // Where our own DHCP server answers, it names the boot files itself: two answers
    // to one DISCOVER would only confuse the client.
    if (m_dhcp && m_bootInterface.device == m_dhcp->Link().device) {
        m_bootStatus.aside = m_dhcp->Link().device;
        return;
    }
    // No interface for them (yet): they wait for one (FollowInterfaces).
    if (m_bootInterface.device.isEmpty()) {
        m_bootStatus.waits = m_bootInterface.describe();
        return;
    }
    auto offers = std::make_unique<CProxyDhcp>(*this);
    QString why;
    if (offers->Start(m_bootInterface, KnownHosts(), &why)) {
        m_bootStatus.where = offers->Interface().describe();
        m_proxyDhcp = std::move(offers);
    } else {
        m_bootStatus.ok = false;
        m_bootStatus.why = why;
    }
}

// The machines HostsFile names, for the boot offers (the DHCP server reads it itself);
// a file that cannot be read names none.
CProxyDhcp::KnownHosts CEngineServices::KnownHosts() {
    const EngineSettings& s = settings();
    CProxyDhcp::KnownHosts known;
    if (s.dhcpHostsFile.isEmpty())
        return known;
    known.onlyKnown = s.dhcpOnlyKnownHosts;
    known.files = ReadHosts();
    return known;
}

QHash<QByteArray, QString> CEngineServices::ReadHosts() { return ReadHosts(settings().dhcpHostsFile); }

QHash<QByteArray, QString> CEngineServices::ReadHosts(const QString& name) {
    QFile file(name);
    QHash<QByteArray, QString> hosts;
    if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
        return hosts;
    std::lock_guard<std::mutex> lock(m_hostsLock);
    for (const Dhcp::FixedHost& h : Dhcp::ParseHostsFile(file.readAll()).hosts) {
        hosts.insert(h.mac, h.bootFile);
        if (!h.bootFile.isEmpty() && !m_hostBootFiles.contains(h.bootFile))
            m_hostBootFiles.append(h.bootFile);
    }
    return hosts;
}

// The files HostsFile hands its hosts: those named as the services opened (still
// handed out until they open again) and those it names now (handed out once they do).
QStringList CEngineServices::HostBootFiles(const QString& hostsFile) {
    ReadHosts(hostsFile);
    std::lock_guard<std::mutex> lock(m_hostsLock);
    return m_hostBootFiles;
}

void CEngineServices::giveRowHooks(DhcpContext& context) {
    context.addRow = [this](const RowTexts& texts) { return addRow(texts); };
    context.updateRow = [this](RowHandle row, const RowTexts& texts, RowState state) {
        rows().UpdateRow(row, texts, state);
    };
    context.playSound = [this](int id) { playSound(id); };
    context.showDetails = [this](RowHandle row, const RowDetails& details) {
        rows().ShowDetails(row, details);
    };
}

DhcpStatus CEngineServices::RestartDhcp() {
    m_dhcp6.reset();
    m_dhcp.reset();
    m_dhcpStatus = {};
    const EngineSettings& s = settings();
    if (!m_server.IsListening() || !s.dhcpEnabled)
        return m_dhcpStatus;
    ReadHosts(); // the server reads it too: what it hands out stays protected
    DhcpContext context;
    context.platform = &platform();
    if (!m_nDhcpTimer)
        m_nDhcpTimer = registerTimer([this] {
            if (m_dhcp)
                m_dhcp->OnTimer();
        });
    context.timerId = m_nDhcpTimer;
    giveRowHooks(context);
    // The one admission's client rule, for the address a client would be given.
    context.admit = [this](const QHostAddress& address) {
        const Refusal why = admission().Client(address);
        return why == Refusal::None ? QString() : RefusalRow(why);
    };
    context.statusChanged = [this](const ::DhcpStatus& status) {
        const ::DhcpStatus was = std::exchange(m_dhcpStatus, status);
        m_dhcpStatus.v6 = was.v6; // the DHCPv6 server's own, told apart
        m_dhcpStatus.v6Problem = was.v6Problem;
        if (m_onStatusChanged)
            m_onStatusChanged();
    };
    context.menuListing = [this] { return menuListing(); };
    context.bootFileThere = [this](const QByteArray& name) {
        return paths().BootFileThere(settings().workingFolder, name);
    };
    context.bootFileSize = [this](const QByteArray& name) {
        return paths().BootFileSize(settings().workingFolder, name);
    };
    context.leaseFile = Dhcp::LeaseFolder() + QLatin1Char('/') + QLatin1String(Dhcp::kLeaseFileName);
    context.epochAtStart = QDateTime::currentSecsSinceEpoch();
    context.postToEngine = m_postToEngine;
    DhcpOptions options;
    options.interface = s.dhcpInterface;
    options.poolFirst = s.dhcpPoolFirst;
    options.poolLast = s.dhcpPoolLast;
    options.router = s.dhcpRouter;
    options.dnsServers = s.dhcpDnsServers;
    options.leaseSeconds = s.dhcpLeaseSeconds;
    options.hostsFile = s.dhcpHostsFile;
    options.onlyKnownHosts = s.dhcpOnlyKnownHosts;
    options.bootpDynamic = s.dhcpBootpDynamic;
    options.boot = BootPolicy::SettingsOf(s);
    // An interface that is not there, down or without an address is waited for.
    LinkWait wait;
    const DhcpLink link =
        FindDhcpLink(options.interface, m_server.BindAddress(), platform().interfaces(), &wait);
    if (link.device.isEmpty())
        return m_dhcpStatus = ::DhcpStatus::Waiting(wait);
    auto server = std::make_unique<CDhcpServer>(std::move(context));
    QString why;
    if (server->Start(options, link, &why)) {
        m_dhcpStatus = server->Report(); // the DHCPv6 server starts after it
        m_dhcp = std::move(server);
    } else {
        m_dhcpStatus = {};
        m_dhcpStatus.state = ::DhcpStatus::State::Fails;
        m_dhcpStatus.device = link.device;
        m_dhcpStatus.why = why;
    }
    if (s.dhcpIPv6)
        StartDhcp6(link);
    return m_dhcpStatus;
}

void CEngineServices::StartDhcp6(const DhcpLink& link) {
    const EngineSettings& s = settings();
    DhcpContext context;
    context.platform = &platform();
    if (!m_nDhcp6Timer) {
        m_nDhcp6Timer = registerTimer([this] {
            if (m_dhcp6)
                m_dhcp6->OnTimer();
        });
        m_nDhcp6AdvertTimer = registerTimer([this] {
            if (m_dhcp6)
                m_dhcp6->OnAdvertTimer();
        });
    }
    context.timerId = m_nDhcp6Timer;
    giveRowHooks(context);
    context.menuListing = [this] { return menuListing(); };
    context.bootFileThere = [this](const QByteArray& name) {
        return paths().BootFileThere(settings().workingFolder, name);
    };
    context.bootFileSize = [this](const QByteArray& name) {
        return paths().BootFileSize(settings().workingFolder, name);
    };
    context.leaseFile =
        Dhcp::LeaseFolder() + QLatin1Char('/') + QLatin1String(Dhcp::kLease6FileName);
    context.epochAtStart = QDateTime::currentSecsSinceEpoch();
    Dhcp6Options options;
    options.poolFirst = s.dhcpPool6First;
    options.poolSize = s.dhcpPool6Size;
    options.leaseSeconds = s.dhcpLeaseSeconds;
    options.routerAdverts = s.dhcpRouterAdvertisements;
    options.hostsFile = s.dhcpHostsFile;
    options.onlyKnownHosts = s.dhcpOnlyKnownHosts;
    options.boot = BootPolicy::SettingsOf(s);
    const auto changed = [this] {
        if (!m_dhcp6)
            return;
        m_dhcpStatus.v6 = m_dhcp6->Status();
        m_dhcpStatus.v6Problem = m_dhcp6->Blocked();
        if (m_onStatusChanged)
            m_onStatusChanged();
    };
    auto server = std::make_unique<CDhcp6Server>(std::move(context), m_nDhcp6AdvertTimer, changed);
    CDhcp6Server* started = server.get();
    m_dhcp6 = std::move(server); // its first status comes while it starts
    QString why;
    if (started->Start(options, link, &why)) {
        m_dhcpStatus.v6 = started->Status();
        m_dhcpStatus.v6Problem = started->Blocked();
    } else {
        m_dhcp6.reset();
        m_dhcpStatus.v6 = QStringLiteral("dhcpv6 fails: ") + why;
        m_dhcpStatus.v6Problem = true;
    }
}

// Whether the DHCP server's interface is no longer what it runs on, or has come.
bool CEngineServices::DhcpLinkChanged() {
    const EngineSettings& s = settings();
    if (!s.dhcpEnabled)
        return false;
    LinkWait wait;
    const DhcpLink link =
        FindDhcpLink(s.dhcpInterface, m_server.BindAddress(), platform().interfaces(), &wait);
    if (m_dhcp)
        return !(link == m_dhcp->Link());
    return !link.device.isEmpty() ||
           (m_dhcpStatus.waiting() && !(::DhcpStatus::Waiting(wait) == m_dhcpStatus));
}

// An interface came, went or changed: the server first (a listener on an address that
// was missing binds now, and the services start with it), then the DHCP server and the
// boot offers follow their interface (wait while it is down or has no address, bind
// when it is back). One word to the host for whatever changed.
void CEngineServices::OnInterfaceEvent(const InterfaceEvent& event) {
    const ::DhcpStatus dhcpBefore = m_dhcpStatus;
    const BootStatus bootBefore = m_bootStatus;
    const bool listeningBefore = m_server.IsListening();
    if (m_serverInterfaceEvent)
        m_serverInterfaceEvent(event);
    if (listeningBefore)
        FollowInterfaces();
    if (m_onStatusChanged && (m_server.IsListening() != listeningBefore ||
                              !(m_dhcpStatus == dhcpBefore) || !(m_bootStatus == bootBefore)))
        m_onStatusChanged();
}

void CEngineServices::FollowInterfaces() {
    const bool dhcpChanged = DhcpLinkChanged();
    if (dhcpChanged) {
        RestartDhcp();
    } else if (m_dhcp && settings().dhcpIPv6) {
        // The DHCPv6 server alone follows the interface's IPv6 address (one that came
        // after the start, one that changed), without a restart of the DHCP server.
        const QHostAddress now =
            CDhcp6Server::ServerAddress(platform().interfaces(), m_dhcp->Link().device);
        if (m_dhcp6 ? now != m_dhcp6->Config().server : !now.isNull()) {
            m_dhcp6.reset();
            StartDhcp6(m_dhcp->Link());
        }
    }
    if (dhcpChanged ||
        (settings().proxyDhcp &&
         !(ChooseBootInterface(m_server.BindAddress(), platform().interfaces()) == m_bootInterface)))
        RestartOffers();
}

QStringList CEngineServices::menuListing() const {
    return m_bootMenu ? m_bootMenu->Listing() : QStringList();
}

// ---------------------------------------------------------------- HTTP

// HTTP on the listener's address, when it is on; tried again with each Listen until
// its port opens.
void CEngineServices::StartHttp(bool tellWindow) {
    const EngineSettings& s = settings();
    const QHostAddress address = m_server.BindAddress();
    // Switched off, or now wanted on another port or address: what runs closes first,
    // so that Protocol's HTTP and listen address apply at once, as the port does.
    if (m_http && m_http->IsRunning() &&
        (!s.httpEnabled || m_http->Port() != s.httpPort || m_httpAddress != address))
        m_http->Stop();
    if (!m_postToEngine || !s.httpEnabled || (m_http && m_http->IsRunning()))
        return;
    m_httpAddress = address;
    if (!m_http)
        m_http = std::make_unique<CHttpService>(*this, m_postToEngine);
    QString why;
    const quint16 port = s.httpPort;
    if (!m_http->Start(address, port, &why) && tellWindow)
        rows().ShowMessage(QStringLiteral("HTTP port %1 could not be opened: %2")
                               .arg(port)
                               .arg(why));
}

// ---------------------------------------------------------------- timers, paths

int CEngineServices::registerTimer(std::function<void()> onTimeout) {
    m_timers.insert(++m_nLastTimer, std::move(onTimeout));
    return m_nLastTimer;
}

void CEngineServices::unregisterTimer(int id) {
    platform().timers().release(id);
    m_timers.remove(id);
}

// The services' ids lie beyond every transfer port; the rest go on to the server.
void CEngineServices::OnTimer(int id) {
    if (id >= kFirstTimerId) {
        if (const auto fn = m_timers.value(id))
            fn();
        return;
    }
    if (m_serverTimeout)
        m_serverTimeout(id);
}

ResolvedPath CEngineServices::resolve(const QByteArray& name, bool upload,
                                      const QHostAddress& client) {
    TransferRequest request;
    request.client = client;
    request.opcode = upload ? Tftp::WRQ : Tftp::RRQ;
    request.fileName = name;
    m_server.ResolveRequestPath(request);
    return {request.path, request.refusePath, request.missingFolder, request.askedNote,
            std::move(request.file)};
}
