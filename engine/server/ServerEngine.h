#pragma once

#include "engine/config/AccessRules.h"
#include "engine/config/EngineSettings.h"
#include "engine/files/RequestPath.h"
#include "engine/server/Admission.h"
#include "engine/platform/Platform.h"
#include "engine/server/ServerWindow.h"
#include "engine/tftp/TftpPacket.h"

#include <QHash>
#include <QHostAddress>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CTransferSocket;
class CFileShareTable;
class CEngineShared;
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

// What runs beside the server (HTTP, boot offers, the DHCP server) and follows it: told
// on the engine thread as its listener is asked for, opens and closes, as it shuts
// down, and as its settings change. The host sets it; the server knows no service.
class IServerFollower {
public:
    virtual ~IServerFollower() = default;
    // Listen was called; the address is BindAddress(), the listener not bound yet.
    virtual void ListenRequested(bool tellWindow) = 0;
    // The listener is open (tellWindow: a failure may ask for a box).
    virtual void ListenerOpened(bool tellWindow) = 0;
    // The listener closes (a new Listen, the shutdown).
    virtual void ListenerClosed() = 0;
    virtual void ServerShutdown() = 0;
    // SetSettings replaced `before` with Settings().
    virtual void SettingsChanged(const EngineSettings& before) = 0;
};

// The server's hub: owns the listener, every live transfer, the transfer ports, the
// count of transfers in progress and the settings it was handed. It reaches the
// window only through IServerWindow, and never reads the settings file.
class CServerEngine final {
public:
    static constexpr quint16 kFirstPort = 29001;
    static constexpr quint16 kLastPort = 65000;

    // platform may be null: the default platform is used then. window may be null:
    // nothing is shown then. shared: the limits, counts, row keys and share table of
    // the engine threads on one port; null for an engine alone, which makes its own.
    explicit CServerEngine(IServerWindow* window, std::unique_ptr<IPlatform> platform = nullptr,
                           std::shared_ptr<CEngineShared> shared = nullptr);
    ~CServerEngine();

    CServerEngine(const CServerEngine&) = delete;
    CServerEngine& operator=(const CServerEngine&) = delete;


    // Takes the settings the server starts with and plays the start-up sound when
    // sounds are on.
    void LoadLiveSettings(const EngineSettings& settings);

    // How the listener holds its port: alone, or in the port's SO_REUSEPORT group with
    // the other engine threads. The lead makes the group (the port must be free); the
    // others join it.
    enum class PortShare { Alone, Lead, Join };
    // Opens the listener. On failure shows "Listen Socket Creation Fails!!..." and
    // returns false with the reason in *error; the server then runs without requests.
    // A window that tries again by itself asks for no box (tellWindow false).
    bool Listen(const QHostAddress& address, quint16 port, QString* error = nullptr,
                bool tellWindow = true, PortShare share = PortShare::Alone);
    bool IsListening() const { return m_pListenSocket != nullptr; }
    // Closes the listener at once and no longer waits for its address (the engine
    // leaves its port's group; its transfers go on).
    void CloseListener();
    quint16 ListenPort() const;
    QHostAddress BindAddress() const { return m_bindAddress; }

    // What follows the listener and the settings (the host's services); null for none.
    void SetFollower(IServerFollower* follower) { m_pFollower = follower; }
    // An interface came, went or changed (the platform tells of each): the listener on
    // an address that was missing binds now.
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
    // Time-out dispatch: the id is a transfer's port; ids beyond the ports are others'.
    void OnTimer(int id);

    // Where a request's name leads under the current settings (working folder, name
    // rules, confinement): fills path, refusePath, askedNote and missingFolder of a
    // request whose client, opcode and fileName are set. TFTP and HTTP both go by it.
    void ResolveRequestPath(TransferRequest& request);

    // Runs before each request the listener hands over (the host runs the window's calls).
    std::function<void()> m_beforeRequests;
    // Whether an upload to `name` (below the working folder, as resolved) would change
    // what machines boot while boot services or the menu are on (set by the host beside
    // them, which know the boot files); such uploads are refused.
    std::function<bool(const QByteArray& name)> m_decidesBoot;

    // The settings, replaced as a whole when they change. Transfers read them here as
    // they need them: a new TimeOut applies from a live transfer's next block on, the
    // rest from the next request.
    const EngineSettings& Settings() const { return m_settings; }
    // The names a boot chain offered under the current settings probes on every boot and
    // may lack (BootPolicy::OptionalProbes, handed over with each change of settings):
    // a missing one is no failure. Asked by the name as the client sent it; an entry
    // "*/name" stands for that name in any one folder.
    void SetOptionalProbes(const QList<QByteArray>& names) { m_optionalProbes = names; }
    bool IsOptionalProbe(const QByteArray& requested) const {
        qsizetype lead = 0;
        while (lead < requested.size() && (requested[lead] == '/' || requested[lead] == '\\'))
            ++lead;
        const QByteArray name = requested.mid(lead);
        if (m_optionalProbes.contains(name))
            return true;
        // "*/name": the same name in any one folder (a device's own folder, tried first).
        const qsizetype slash = name.indexOf('/');
        return slash > 0 && slash == name.lastIndexOf('/') &&
               m_optionalProbes.contains("*/" + name.mid(slash + 1));
    }
    void SetSettings(const EngineSettings& settings);
    const AccessRules& Rules() const { return m_settings.rules; }
    // The one admission every service goes by, under the current settings.
    Admission admission() const { return {m_settings.rules, m_settings.readOnly}; }
    // Who is served and what they may do, under the current settings.
    void SetRules(const AccessRules& rules) { m_settings.rules = rules; }
    void SetSoundOn(bool on) { m_settings.soundOn = on; }

    // This engine's transfers in progress; the animation runs while the count over
    // every engine (CEngineShared::Active) is not 0.
    int m_nActiveTransfers = 0;
    CEngineShared& Shared() { return *m_shared; }

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
    CFileShareTable& ShareTable();
    CRequestPath& RequestPaths() { return *m_paths; }
    // Opens `path` for reading and holds it as read in the sharing table under `*key`
    // (the caller releases it). Null with `error` set when it cannot be opened, or with
    // FileCause::Other when an upload holds it, even one whose file is not there yet.
    std::unique_ptr<IFile> OpenSharedForReading(const FolderPath& path, FileError* error,
                                                QString* key, std::unique_ptr<IFile> opened) {
        return m_paths->OpenSharedForReading(path, error, key, std::move(opened));
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
    // A datagram for no transfer of its sender's, on `socket` (a transfer's port, or the
    // listener in single-port mode): ERROR 5 back, at most once a second per sender and
    // never to an ERROR (RFC 1350).
    void TellStranger(IDatagramSocket& socket, const char* packet, qint64 size,
                      const QHostAddress& from, quint16 fromPort);

private:
    bool MayAnswerStranger(const QHostAddress& address, quint16 port);
    // Single-port mode: a datagram on the listener that belongs to a transfer (or to none
    // while it looks like one) is handled here; false leaves it to HandleRequest.
    bool RouteOnListener(const char* data, qint64 size, const QHostAddress& from,
                         quint16 fromPort);
    std::unique_ptr<IDatagramSocket> ListenerReplies();
    // Closes the listener; freed at once unless its own dispatch is on the stack.
    void RetireListener();
    quint16 NextPort(const QSet<quint16>& tried);
    std::vector<CTransferSocket*> LiveTransfers() const;
    int DefaultMaxTransfers();
    // Counts the transfer in (CEngineShared::Leave as it is retired) when the limits allow.
    bool AdmitsAnotherTransfer(const QHostAddress& client);
    void RefuseOverLimit(const Tftp::Request& request, const QHostAddress& client,
                         quint16 fromPort);

    IServerWindow* m_pWindow;
    EngineSettings m_settings;
    QList<QByteArray> m_optionalProbes;
    std::unique_ptr<IPlatform> m_platform;
    std::shared_ptr<CEngineShared> m_shared;
    std::unique_ptr<CRequestPath> m_paths;
    std::unique_ptr<CListenSocket> m_pListenSocket;
    IServerFollower* m_pFollower = nullptr;
    // The listener as last asked for: on a fixed address that is not there yet, it binds
    // once the address appears.
    bool m_bWantListen = false;
    PortShare m_share = PortShare::Alone;
    quint16 m_nWantedPort = 0;
    QHostAddress m_bindAddress = QHostAddress(QHostAddress::AnyIPv4);

    // Live transfers in request order, and the same by port.
    std::vector<std::unique_ptr<CTransferSocket>> m_transferList;
    QHash<quint16, CTransferSocket*> m_byPort;
    // Live transfers by their client's address and port: a repeated request is found
    // without looking at every transfer.
    QMultiHash<QPair<QHostAddress, quint16>, CTransferSocket*> m_byClientPort;
    // Each live transfer holds a socket and a file: half the descriptors, some kept back.
    int m_nAutoMaxTransfers = 0; // from the descriptor limit, at the start
    std::vector<std::unique_ptr<CTransferSocket>> m_retired;
    std::vector<std::unique_ptr<CListenSocket>> m_retiredListeners;
    bool m_bInListener = false;

    quint16 m_nPortCounter = 0;
    // The last few strangers told ERROR 5, and when.
    struct Stranger {
        QHostAddress address;
        quint16 port = 0;
        qint64 lastMs = -1000000;
    };
    Stranger m_strangers[8];

    friend class CListenSocket;
};
