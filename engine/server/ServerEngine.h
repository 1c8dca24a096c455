#pragma once

#include "engine/config/AccessRules.h"
#include "engine/config/EngineSettings.h"
#include "engine/boot/ProxyDhcp.h"
#include "engine/files/RequestPath.h"
#include "engine/server/Admission.h"
#include "engine/platform/Platform.h"
#include "engine/server/ServerWindow.h"
#include "engine/server/ServiceContext.h"
#include "engine/tftp/TftpPacket.h"

#include <QHash>
#include <QHostAddress>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CTransferSocket;
class CProxyDhcp;
class CBootMenuFile;
class CDhcpServer;
class CFileShareTable;
class CHttpService;
struct TransferRequest;

// The listener on the TFTP port. It hands each request to the engine.
class CListenSocket {
public:
    CListenSocket(class CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket);
    ~CListenSocket();
    IDatagramSocket& socket() { return *m_socket; }

private:
    void OnReceive(const char* data, qint64 size, const QHostAddress& from, quint16 fromPort,
                   const QHostAddress& to);

    CServerEngine* m_pEngine;
    std::unique_ptr<IDatagramSocket> m_socket;
};

// The server's hub: owns the listener, every live transfer, the transfer ports, the
// count of transfers in progress and the settings it was handed. It reaches the
// window only through IServerWindow, and never reads the settings file.
class CServerEngine final : public ServiceContext {
public:
    static constexpr quint16 kFirstPort = 29001;
    static constexpr quint16 kLastPort = 65000;

    // platform may be null: the default platform is used then. window may be null:
    // nothing is shown then.
    explicit CServerEngine(IServerWindow* window, std::unique_ptr<IPlatform> platform = nullptr);
    ~CServerEngine();

    CServerEngine(const CServerEngine&) = delete;
    CServerEngine& operator=(const CServerEngine&) = delete;


    // Takes the settings the server starts with and plays the start-up sound when
    // sounds are on.
    void LoadLiveSettings(const EngineSettings& settings);

    // Opens the listener. On failure shows "Listen Socket Creation Fails!!..." and
    // returns false with the reason in *error; the server then runs without requests.
    // A window that tries again by itself asks for no box (tellWindow false).
    bool Listen(const QHostAddress& address, quint16 port, QString* error = nullptr,
                bool tellWindow = true);
    bool IsListening() const { return m_pListenSocket != nullptr; }
    quint16 ListenPort() const;
    QHostAddress BindAddress() const { return m_bindAddress; }

    // Opens the boot offers (ProxyDHCP) on the listener's interface when Boot/ProxyDhcp
    // is on, closes them otherwise; Listen calls it. Returns what BootState() says.
    BootStatus RestartBootOffers();
    BootStatus BootState() const { return m_bootStatus; }
    // The DHCP server ([Dhcp] Enabled) on its interface, opened or closed to follow the
    // settings; RestartBootOffers calls it. Returns what DhcpState() says.
    ::DhcpStatus RestartDhcp();
    ::DhcpStatus DhcpState() const { return m_dhcpStatus; }
    // Its text: "dhcp on eth1 (192.0.2.10), pool A-B", "DHCP waits: eth1 link down", ...
    QString DhcpStatus() const { return m_dhcpStatus.text(); }
    // Told when the DHCP server, the boot offers or the listener changed by themselves
    // (another DHCP server, an interface that came or went); the host sets it.
    std::function<void()> m_onStatusChanged;
    // An interface came, went or changed (the platform tells of each): the listener on
    // an address that was missing binds now, the DHCP server and the boot offers follow
    // their interface (wait while it is down or has no address, bind when it is back).
    void FollowInterfaces();
    // Not listening because the fixed listen address is on no interface yet: it binds
    // by itself once the address appears.
    bool WaitsForAddress();

    // Abort (after the user confirmed): every transfer in progress gets ERROR 0, its
    // row "User aborts!!" in red, a partly received file removed; all transfers end.
    void OnAbort();
    // Abort This Transfer: the same for the one transfer on that row, if it still runs.
    void AbortRow(RowHandle row);
    // Ends every transfer and closes the listener (the window is closing).
    void Shutdown();

    // Handles one request datagram (the listener hands each one to it).
    void HandleRequest(const char* data, qint64 size, const QHostAddress& from,
                       quint16 fromPort, const QHostAddress& local = QHostAddress());
    // Time-out dispatch: the id is a transfer's port, or a service's registered timer.
    void OnTimer(int id);

    // The services' view of the engine (ServiceContext).
    IPlatform& platform() override { return *m_platform; }
    const EngineSettings& settings() const override { return m_settings; }
    CRequestPath& paths() override { return *m_paths; }
    CFileShareTable& shares() override { return *m_shareTable; }
    RowHandle addRow(const RowTexts& texts) override { return AddRow(texts); }
    IServerWindow& rows() override { return *m_pWindow; }
    void playSound(int id) override { PlaySound(id); }
    void countIn() override { CountIn(); }
    void countOut() override { CountOut(); }
    QString ipxeBootFile(const QString& mac) override;
    int registerTimer(std::function<void()> onTimeout) override;
    void unregisterTimer(int id) override;
    ResolvedPath resolve(const QByteArray& name, bool upload, const QHostAddress& client) override;

    // Where a request's name leads under the current settings (working folder, name
    // rules, confinement): fills path, refusePath, askedNote and missingFolder of a
    // request whose client, opcode and fileName are set. TFTP and HTTP both go by it.
    void ResolveRequestPath(TransferRequest& request);

    // Runs a call on the engine thread, from any thread (the host sets it; HTTP is
    // served only where it is set).
    std::function<void(std::function<void()>)> m_postToEngine;
    CHttpService* Http() const { return m_http.get(); }

    // Runs before each request the listener hands over (the host runs the window's calls).
    std::function<void()> m_beforeRequests;

    // The settings, replaced as a whole when they change. Transfers read them here as
    // they need them: a new TimeOut applies from a live transfer's next block on, the
    // rest from the next request.
    const EngineSettings& Settings() const { return m_settings; }
    void SetSettings(const EngineSettings& settings);
    const AccessRules& Rules() const { return m_settings.rules; }
    // Who is served and what they may do, under the current settings.
    void SetRules(const AccessRules& rules) { m_settings.rules = rules; }
    void SetSoundOn(bool on) { m_settings.soundOn = on; }

    // Transfers in progress; the animation runs while it is not 0.
    int m_nActiveTransfers = 0;

    // Read-only views for the window and tests.
    int LiveTransferCount() const { return int(m_transferList.size()); }
    // The transfer port handed out last (ports are drawn at random).
    quint16 PortCounter() const { return m_nPortCounter; }
    CTransferSocket* FindTransfer(quint16 port) const;

    // For transfers.
    IServerWindow& Window() { return *m_pWindow; }
    // A new row in the window, under the next key.
    RowHandle AddRow(const RowTexts& texts);
    IPlatform& Platform() { return *m_platform; }
    CFileShareTable& ShareTable() { return *m_shareTable; }
    // Opens `path` for reading and holds it as read in the sharing table under `*key`
    // (the caller releases it). Null with `error` set when it cannot be opened, or with
    // FileCause::Other when an upload holds it, even one whose file is not there yet.
    std::unique_ptr<IFile> OpenSharedForReading(const FolderPath& path, FileError* error,
                                                QString* key) {
        return m_paths->OpenSharedForReading(path, error, key);
    }
    void PlaySound(int id);
    void CountIn();
    void CountOut();
    // A finished upload only waits to acknowledge a repeated last block: it no longer
    // counts against its client's limit (freed once; Retire frees it otherwise).
    void FreeClientSlot(CTransferSocket* transfer);
    // Takes an ended transfer out of service; it is freed once no call is using it.
    void Retire(CTransferSocket* transfer);
    // Frees retired transfers; called where no transfer's code is on the stack (the
    // platform runs it after each dispatch).
    void FreeRetired();
    // Whether a datagram from this stranger to a transfer port may get ERROR 5 now.
    bool MayAnswerStranger(const QHostAddress& address, quint16 port);

private:
    void StartHttp(bool tellWindow);
    // The boot offers alone, beside the DHCP server as it is.
    BootStatus RestartOffers();
    bool DhcpLinkChanged();
    // Closes the listener; freed at once unless its own dispatch is on the stack.
    void RetireListener();
    quint16 NextPort(const QSet<quint16>& tried);
    std::vector<CTransferSocket*> LiveTransfers() const;
    int DefaultMaxTransfers();
    bool AdmitsAnotherTransfer(const QHostAddress& client) const;
    void RefuseOverLimit(const Tftp::Request& request, const QHostAddress& client,
                         quint16 fromPort);

    IServerWindow* m_pWindow;
    EngineSettings m_settings;
    std::unique_ptr<IPlatform> m_platform;
    std::unique_ptr<CFileShareTable> m_shareTable;
    std::unique_ptr<CRequestPath> m_paths;
    std::unique_ptr<CListenSocket> m_pListenSocket;
    std::unique_ptr<CProxyDhcp> m_proxyDhcp;
    BootStatus m_bootStatus;
    // Services' timers, numbered beyond every transfer port.
    QHash<int, std::function<void()>> m_serviceTimers;
    int m_nLastServiceTimer = 0x10000;
    std::unique_ptr<CDhcpServer> m_dhcp; // while [Dhcp] Enabled and the listener is open
    ::DhcpStatus m_dhcpStatus;
    BootInterface m_bootInterface; // where the boot offers were last placed
    // The listener as last asked for: on a fixed address that is not there yet, it binds
    // once the address appears.
    bool m_bWantListen = false;
    quint16 m_nWantedPort = 0;
    int m_nDhcpTimer = 0; // its timer, registered once
    // The folder's menu for iPXE clients, followed while boot offers or the DHCP server
    // run and [Boot] Menu is on.
    std::unique_ptr<CBootMenuFile> m_bootMenu;
    QHostAddress m_bindAddress = QHostAddress(QHostAddress::AnyIPv4);

    // Live transfers in request order, and the same by port.
    std::vector<std::unique_ptr<CTransferSocket>> m_transferList;
    QHash<quint16, CTransferSocket*> m_byPort;
    QHash<QHostAddress, int> m_liveByClient;
    // Live transfers by their client's address and port: a repeated request is found
    // without looking at every transfer.
    QMultiHash<QPair<QHostAddress, quint16>, CTransferSocket*> m_byClientPort;
    // Each live transfer holds a socket and a file: half the descriptors, some kept back.
    int m_nAutoMaxTransfers = 0; // from the descriptor limit, at the start
    std::vector<std::unique_ptr<CTransferSocket>> m_retired;
    std::vector<std::unique_ptr<CListenSocket>> m_retiredListeners;
    bool m_bInListener = false;

    std::unique_ptr<CHttpService> m_http; // while [Http] Enabled
    QHostAddress m_httpAddress;           // where it was started
    quint16 m_nPortCounter = 0;
    RowHandle m_nLastRow = 0; // the key of the row added last
    // The last few strangers told ERROR 5, and when.
    struct Stranger {
        QHostAddress address;
        quint16 port = 0;
        qint64 lastMs = -1000000;
    };
    Stranger m_strangers[8];

    friend class CListenSocket;
};
