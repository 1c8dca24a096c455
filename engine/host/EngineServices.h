#pragma once

#include <mutex>

#include "engine/boot/BootStatus.h"
#include "engine/boot/ProxyDhcp.h"
#include "engine/dhcp/DhcpStatus.h"
#include "engine/server/ServerEngine.h"
#include "engine/server/ServiceContext.h"
#include "engine/server/ServerWindow.h"

#include <QHash>
#include <QHostAddress>
#include <functional>
#include <memory>

class CBootMenuFile;
class CDhcpServer;
class CDhcp6Server;
class CHttpService;

// What runs beside the TFTP server on the engine thread: HTTP of the folder, the boot
// offers (ProxyDHCP), the iPXE menu file and the DHCP server. Each is handed this narrow
// context, never the server. They follow the server's listener (HTTP on its address,
// the offers and the DHCP server while it is open), its settings, and the interfaces
// the platform tells of; the server knows them only as its follower.
class CEngineServices final : public ServiceContext, private IServerFollower {
public:
    // Service timers' ids, beyond every transfer port (client transfers start at 0x20000).
    static constexpr int kFirstTimerId = 0x10001;

    // Made after the server and destroyed before it; takes over the platform's
    // interface events and time-outs and hands the server its own.
    explicit CEngineServices(CServerEngine& server);
    ~CEngineServices() override;

    CEngineServices(const CEngineServices&) = delete;
    CEngineServices& operator=(const CEngineServices&) = delete;

    // Another engine thread on the port, under its settings as just handed over: its
    // uploads are guarded by the boot files these services know, and the probes a boot
    // chain may lack are no failure there either. Called on that engine's thread.
    static void FollowBootPolicy(CServerEngine& other, CEngineServices& services);

    // Runs a call on the engine thread, from any thread (the host sets it; HTTP is
    // served only where it is set).
    std::function<void(std::function<void()>)> m_postToEngine;
    // Told when the DHCP server, the boot offers or the listener changed by themselves
    // (another DHCP server, an interface that came or went); the host sets it.
    std::function<void()> m_onStatusChanged;

    // Opens the boot offers (ProxyDHCP) on the listener's interface when Boot/ProxyDhcp
    // is on, closes them otherwise; the listener's opening calls it. Returns what
    // BootState() says.
    BootStatus RestartBootOffers();
    BootStatus BootState() const { return m_bootStatus; }
    // The DHCP server ([Dhcp] Enabled) on its interface, opened or closed to follow the
    // settings; RestartBootOffers calls it. Returns what DhcpState() says.
    ::DhcpStatus RestartDhcp();
    ::DhcpStatus DhcpState() const { return m_dhcpStatus; }
    // Its text: "dhcp on eth1 (192.0.2.10), pool A-B", "DHCP waits: eth1 link down", ...
    QString DhcpStatus() const { return m_dhcpStatus.text(); }
    CHttpService* Http() const { return m_http.get(); }

    // ServiceContext: the server's platform, settings, paths, shares, rows and counts.
    IPlatform& platform() override { return m_server.Platform(); }
    const EngineSettings& settings() const override { return m_server.Settings(); }
    Admission admission() const override { return m_server.admission(); }
    CRequestPath& paths() override { return m_server.RequestPaths(); }
    CFileShareTable& shares() override { return m_server.ShareTable(); }
    RowHandle addRow(const RowTexts& texts) override { return m_server.AddRow(texts); }
    IServerWindow& rows() override { return m_server.Window(); }
    void playSound(int id) override { m_server.PlaySound(id); }
    void countIn() override { m_server.CountIn(); }
    void countOut() override { m_server.CountOut(); }
    QStringList menuListing() const override;
    int registerTimer(std::function<void()> onTimeout) override;
    void unregisterTimer(int id) override;
    ResolvedPath resolve(const QByteArray& name, bool upload, const QHostAddress& client) override;

private:
    // IServerFollower
    void ListenRequested(bool tellWindow) override;
    void ListenerOpened(bool tellWindow) override;
    void ListenerClosed() override;
    void ServerShutdown() override;
    void SettingsChanged(const EngineSettings& before) override;

    void OnInterfaceEvent(const InterfaceEvent& event);
    // Both DHCP servers' rows, sounds and details go to the window the same way.
    void giveRowHooks(struct DhcpContext& context);
    // The DHCP server and the boot offers follow their interface while the listener is open.
    void FollowInterfaces();
    void OnTimer(int id);
    void StartHttp(bool tellWindow);
    // The boot offers alone, beside the DHCP server as it is.
    BootStatus RestartOffers();
    void StartOffers();
    // The menu file, started or stopped to follow the settings and the listener.
    void FollowMenu();
    CProxyDhcp::KnownHosts KnownHosts();
    // HostsFile's machines (MAC to boot file) as it reads now; their boot files are
    // remembered in m_hostBootFiles.
    QHash<QByteArray, QString> ReadHosts();
    QHash<QByteArray, QString> ReadHosts(const QString& name); // any engine's thread
    QStringList HostBootFiles(const QString& hostsFile); // any engine's thread
    bool DecidesBootUnder(const QByteArray& name, const EngineSettings& s, IFileSystem& fs);
    bool DhcpLinkChanged();

    CServerEngine& m_server;
    // The platform's handlers as the server set them: what is not ours goes on to them.
    std::function<void(const InterfaceEvent&)> m_serverInterfaceEvent;
    std::function<void(int)> m_serverTimeout;
    QHash<int, std::function<void()>> m_timers;
    int m_nLastTimer = kFirstTimerId - 1;

    std::unique_ptr<CHttpService> m_http; // while [Http] Enabled
    QHostAddress m_httpAddress;           // where it was started
    std::unique_ptr<CProxyDhcp> m_proxyDhcp;
    BootStatus m_bootStatus;
    BootInterface m_bootInterface;       // where the boot offers were last placed
    std::unique_ptr<CDhcpServer> m_dhcp; // while [Dhcp] Enabled and the listener is open
    std::unique_ptr<CDhcp6Server> m_dhcp6; // beside it, while [Dhcp] IPv6 is on too
    // The boot files HostsFile named since the services last opened: uploads may not
    // replace them.
    QStringList m_hostBootFiles; // under m_hostsLock: other engine threads read it
    std::mutex m_hostsLock;
    ::DhcpStatus m_dhcpStatus;
    int m_nDhcpTimer = 0; // its timer, registered once
    int m_nDhcp6Timer = 0, m_nDhcp6AdvertTimer = 0;
    // The DHCPv6 server on the DHCP server's link (its status in m_dhcpStatus.v6).
    void StartDhcp6(const DhcpLink& link);
    // The folder's menu for iPXE clients, followed while the server listens and [Boot]
    // Menu is on.
    std::unique_ptr<CBootMenuFile> m_bootMenu;
};
