#pragma once

#include "engine/config/AccessRules.h"
#include "engine/config/EngineSettings.h"
#include "engine/platform/Platform.h"
#include "engine/boot/BootStatus.h"
#include "engine/dhcp/DhcpStatus.h"
#include "engine/host/RowCoalescer.h"
#include "engine/server/ServerWindow.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CServerEngine;
class CEngineServices;
class CEngineShared;
class CClientRows;
class QThread;
namespace TftpClient {
struct Request;
}

// The engine on a thread of its own, as the thread that made it (the window's, or
// main's when headless) sees it. The window never sits in the data path: the engine
// puts row changes, sounds, animation and messages into a queue, and this thread
// takes them out at most every kDrainMs, in order, with each row's progress reduced
// to its latest figure. Commands (Abort, sounds, security rules) reach the engine as
// queued calls, and so do the settings: one value, handed over whole whenever the
// settings layer above (which alone reads the file) brings a changed one. The
// engine thread waits in the platform's own loop where it has one
// (epoll on Linux), in Qt's otherwise. Inside the engine thread everything runs as on
// one thread: no locks in the transfer code; the locks here guard the two queues.
// With [Limits] EngineThreads above 1 there are several engine threads, each with its
// own loop and listener on the one port (SO_REUSEPORT: the kernel keeps a client's
// address and port on one of them), sharing the limits, row keys and the files held
// (CEngineShared). A transfer stays on the thread that admitted it. Engine 0 alone runs
// the services (HTTP, boot offers, DHCP, menu) and the device client; settings, Abort,
// the listener and the shutdown reach every engine.
class CEngineHost : public QObject {
public:
    static constexpr int kDrainMs = 40;
    // While a flood keeps coming (a drain carried at least kBusyEvents changes) the next
    // look waits kBusyDrainMs: the list's repaint and relayout cost per drain, whatever
    // its rows, and nobody reads a hundred rows a second as they come.
    static constexpr int kBusyDrainMs = 100;
    static constexpr size_t kBusyEvents = 64;
    using PlatformFactory = std::function<std::unique_ptr<IPlatform>()>;
    // The settings as they are now; asked once more as the server starts.
    using SettingsSource = std::function<EngineSettings()>;

    // Starts the thread and builds the engine there, on the platform the factory makes
    // (the default one if empty).
    explicit CEngineHost(SettingsSource settings, PlatformFactory makePlatform = {});
    // Settings that stay as given until FollowSettings or a command changes them.
    explicit CEngineHost(const EngineSettings& settings, PlatformFactory makePlatform = {});
    // Ends every transfer, delivers the last rows to the window, stops the thread.
    ~CEngineHost() override;

    CEngineHost(const CEngineHost&) = delete;
    CEngineHost& operator=(const CEngineHost&) = delete;

    // The window the engine's rows go to from now on; null for none.
    void SetWindow(IServerWindow* window) { m_pWindow = window; }
    IServerWindow& Window();

    // Loads the live settings (start-up sound) and opens the listener; waits for the
    // engine's answer and shows what it asked for before returning.
    bool Start(const QHostAddress& address, quint16 port, QString* error = nullptr);
    // Opens the listener again (another port, or the same once it is free), without
    // the start-up sound and without the box about a failure.
    bool Relisten(const QHostAddress& address, quint16 port, QString* error = nullptr);
    // What the boot offers (ProxyDHCP) do as of the last start: see CEngineServices.
    ::BootStatus BootState() const {
        std::lock_guard<std::mutex> lock(m_statusLock);
        return m_bootStatus;
    }
    // Opens or closes them again after Boot/ProxyDhcp changed; returns BootState().
    ::BootStatus RestartBootOffers();
    // What the DHCP server does now (see CEngineServices::DhcpState); it changes by
    // itself when another DHCP server appears on its link or goes, and when its
    // interface comes or goes.
    ::DhcpStatus DhcpState() const {
        std::lock_guard<std::mutex> lock(m_statusLock);
        return m_dhcpStatus;
    }
    QString DhcpStatus() const { return DhcpState().text(); }
    bool IsListening() const { return m_nListenPort != 0; }
    // Not listening only because the listen address is not on this host yet: the
    // engine binds by itself once it appears.
    bool WaitsForAddress() const { return m_bWaitsForAddress; }
    quint16 ListenPort() const { return m_nListenPort; }
    // Called on this thread after the listener, the boot offers or the DHCP server
    // changed by themselves (an interface came or went, another DHCP server answered).
    void SetStatusListener(std::function<void()> fn) { m_onStatus = std::move(fn); }

    // Live settings: this thread's copies, handed to the engine at once.
    bool SoundOn() const { return m_settings.soundOn; }
    void SetSoundOn(bool on);
    const AccessRules& Rules() const { return m_settings.rules; }
    void SetRules(const AccessRules& rules);
    // The settings as last handed to the engine.
    const EngineSettings& Settings() const { return m_settings; }
    // The file's values after a write or an edit by hand: the engine gets what changed,
    // but for the sounds and the security rules (see EngineSettings::FollowFile).
    void FollowSettings(const EngineSettings& file);

    // Transfers in progress as of the rows shown so far.
    int ActiveTransfers() const { return m_nActive; }
    // Engine threads with a listener on the port (1 where the platform cannot share it).
    int EngineThreads() const { return m_nListening; }
    // Said when EngineThreads asks for more than one: how many listen, or why one does.
    QString EngineThreadsNote() const;
    // Rows each engine has added so far, engine 0 first (which engines the kernel chose).
    std::vector<int> RowsPerEngine() const;
    // What EngineThreads asks for: 0 is one per core, at most kMaxAutoThreads.
    static constexpr int kMaxAutoThreads = 8;
    static int ThreadsFor(int setting);
    // Abort (the user confirmed): the engine ends every transfer in progress.
    void Abort();
    // Abort This Transfer: the transfer behind the row, if it still runs.
    void AbortRow(RowHandle row);
    // Send to Device / Fetch from Device: a client transfer on a row of its own.
    void StartClient(const TftpClient::Request& request, const QString& shownFile);
    // Every transfer ends and the listener closes; the last rows are shown before
    // this returns. The engine serves nothing afterwards.
    void Shutdown();
    // Shows every change queued so far at once (tests; the shutdown).
    void DeliverNow();
    // When the queue is looked at next, in ms after the last drain; -1 until woken.
    int NextLookMs() const { return m_drainTimer.isActive() ? m_drainTimer.interval() : -1; }

    // The queue; filled on the engine thread (CQueuedWindow), emptied on this one. Rows
    // keep the engine's keys: the window finds them by those, and ignores a change for a
    // row it no longer has (cleared).
    using Event = HostEvent;
    // The count in progress is read under the queue's lock: engines push from their
    // own threads, and the last event queued carries the count as it is then.
    void Push(Event&& event);

private:
    class CEngineThread;
    struct Lane; // one engine thread: its loop, engine, window queue and calls

    Lane& AddLane();
    void RunEngineThread(Lane& lane);
    void StartServices(Lane& lane);
    void AttachClients(IServerWindow* window);
    // Runs fn on engine 0's thread and waits for it.
    void RunOnEngine(const std::function<void()>& fn);
    // Runs fn on every engine's thread (engine 0 last) and waits for them all.
    void RunOnEvery(const std::function<void(CServerEngine&)>& fn);
    // Engine 0 listens (the services follow), then the others join it on its port.
    bool ListenAll(const QHostAddress& address, quint16 port, QString* why, bool start);
    void StopLane(Lane& lane);
    void HandSettings();
    void PostToEngine(std::function<void()> fn);
    void PostTo(Lane& lane, std::function<void()> fn);
    void RunCommands(Lane& lane);
    void WakeDrain();
    void Deliver(const Event& event);
    // On the engine thread: takes what the engine's services say now.
    void TakeStatus();

    SettingsSource m_source;
    PlatformFactory m_makePlatform;
    IServerWindow* m_pWindow = nullptr;
    std::shared_ptr<CEngineShared> m_shared;
    // Engine 0 first; added on this thread as a listen asks for more, never removed
    // before the end (a lane beyond the count asked for only stops listening).
    std::vector<std::unique_ptr<Lane>> m_lanes;
    int m_nListening = 1;
    int m_nWantedThreads = 1; // as the setting asked at the last listen
    bool m_bCanSharePort = true;
    // Built, used and destroyed on engine 0's thread only.
    std::unique_ptr<CEngineServices> m_pServices; // HTTP, boot offers, DHCP beside it
    std::unique_ptr<CClientRows> m_pClients;
    std::atomic<int> m_nClientsRunning = 0; // engine 0's device transfers, for the count

    // Shared with the engine thread, under m_queueLock.
    std::mutex m_queueLock;
    std::vector<Event> m_queue;
    QHash<RowHandle, size_t> m_progressAt; // a row's progress event in m_queue
    CRowCoalescer m_rows; // short transfers' rows, one Add each
    int m_nQueuedActive = 0; // every engine's transfers and the device client's
    bool m_bWakePosted = false;

    // This thread's.
    std::vector<Event> m_spare; // the last drain's room, for the next queue
    QTimer m_drainTimer;
    QElapsedTimer m_sinceDrain;
    int m_nActive = 0;
    EngineSettings m_settings;
    std::atomic<quint16> m_nListenPort = 0; // the engine binds by itself too
    std::atomic<bool> m_bWaitsForAddress = false;
    std::function<void()> m_onStatus;
    // What the engine's services say, written on the engine thread.
    mutable std::mutex m_statusLock;
    ::BootStatus m_bootStatus;
    ::DhcpStatus m_dhcpStatus;
    bool m_bShutDown = false;
};
