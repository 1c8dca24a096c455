#include "engine/host/EngineHost.h"

#include "engine/host/ClientRows.h"
#include "engine/client/Reachability.h"
#include "engine/host/EngineServices.h"
#include "engine/server/EngineShared.h"
#include "engine/server/ServerEngine.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <latch>

namespace {
// The engine's window on the engine thread: every call becomes an event in the host's
// queue, under the engine's own row keys.
class CQueuedWindow final : public IServerWindow {
public:
    // beforePush: runs on the engine thread before each event (engine 0 takes its
    // device client's count there).
    CQueuedWindow(CEngineHost* host, std::atomic<int>& rowsAdded, std::function<void()> beforePush)
        : m_pHost(host), m_rowsAdded(rowsAdded), m_beforePush(std::move(beforePush)) {}

    void AddRow(RowHandle row, const RowTexts& texts) override {
        m_rowsAdded.fetch_add(1, std::memory_order_relaxed);
        Push({CEngineHost::Event::Add, ROW_ACTIVE, row, 0, 0, texts});
    }
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override {
        Push({CEngineHost::Event::Update, state, row, 0, 0, texts});
    }
    void DrawProgress(RowHandle row, qint64 done, qint64 total) override {
        Push({CEngineHost::Event::Progress, ROW_ACTIVE, row, done, total, {}});
    }
    void ShowDetails(RowHandle row, const RowDetails& details) override {
        ShowSharedDetails(row, std::make_shared<const RowDetails>(details));
    }
    void ShowSharedDetails(RowHandle row, std::shared_ptr<const RowDetails> details) override {
        Push({CEngineHost::Event::Details, ROW_ACTIVE, row, 0, 0, {}, {}, std::move(details)});
    }
    int PlayWaveResource(int id) override {
        Push({CEngineHost::Event::Sound, ROW_ACTIVE, 0, id, 0, {}});
        return 1;
    }
    void StartAnimation() override { Push({CEngineHost::Event::Animation, ROW_ACTIVE, 0, 1, 0, {}}); }
    void StopAnimation() override { Push({CEngineHost::Event::Animation, ROW_ACTIVE, 0, 0, 0, {}}); }
    void ShowMessage(const QString& text) override {
        RowTexts texts;
        texts.info = text;
        Push({CEngineHost::Event::Message, ROW_ACTIVE, 0, 0, 0, std::move(texts)});
    }

private:
    void Push(CEngineHost::Event&& event) {
        if (m_beforePush)
            m_beforePush();
        m_pHost->Push(std::move(event));
    }

    CEngineHost* m_pHost;
    std::atomic<int>& m_rowsAdded;
    std::function<void()> m_beforePush;
};
} // namespace

class CEngineHost::CEngineThread final : public QThread {
public:
    CEngineThread(CEngineHost* host, Lane& lane) : m_pHost(host), m_lane(lane) {}
    void run() override { m_pHost->RunEngineThread(m_lane); }
    using QThread::exec;
    std::latch m_started{1};
    std::latch m_finished{1}; // everything the thread made is gone

private:
    CEngineHost* m_pHost;
    Lane& m_lane;
};

struct CEngineHost::Lane {
    int index = 0;
    std::unique_ptr<CEngineThread> thread;
    // Built, used and destroyed on the lane's thread only.
    std::unique_ptr<IServerWindow> queuedWindow;
    std::unique_ptr<CServerEngine> engine;
    QObject* engineSide = nullptr; // on the engine thread, when it runs Qt's loop
    bool ownLoop = false;          // the platform runs the engine thread's loop
    // Calls for the engine thread, under commandLock.
    std::mutex commandLock;
    std::vector<std::function<void()>> commands;
    bool commandWakeSent = false;
    std::atomic<int> rowsAdded = 0;
};

CEngineHost::CEngineHost(const EngineSettings& settings, PlatformFactory makePlatform)
    : CEngineHost(SettingsSource([settings] { return settings; }), std::move(makePlatform)) {}

CEngineHost::CEngineHost(SettingsSource settings, PlatformFactory makePlatform)
    : m_source(std::move(settings)), m_makePlatform(std::move(makePlatform)),
      m_shared(std::make_shared<CEngineShared>()), m_settings(m_source()) {
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, [this] { DeliverNow(); });
    AddLane();
}

CEngineHost::~CEngineHost() {
    Shutdown();
    // Engine 0 last: the others ask its services whether an upload decides a boot.
    for (auto it = m_lanes.rbegin(); it != m_lanes.rend(); ++it)
        StopLane(**it);
}

void CEngineHost::StopLane(Lane& lane) {
    PostTo(lane, [&lane] {
        if (lane.ownLoop)
            lane.engine->Platform().quitLoop();
        else
            QThread::currentThread()->exit();
    });
    lane.thread->m_finished.wait();
    lane.thread->wait();
}

CEngineHost::Lane& CEngineHost::AddLane() {
    auto owned = std::make_unique<Lane>();
    Lane& lane = *owned;
    lane.index = int(m_lanes.size());
    m_lanes.push_back(std::move(owned));
    lane.thread = std::make_unique<CEngineThread>(this, lane);
    lane.thread->setObjectName(lane.index == 0 ? QStringLiteral("engine")
                                               : QStringLiteral("engine%1").arg(lane.index));
    lane.thread->start();
    lane.thread->m_started.wait();
    return lane;
}

QString CEngineHost::EngineThreadsNote() const {
    if (m_nWantedThreads <= 1 || !IsListening())
        return {};
    if (!m_bCanSharePort)
        return QStringLiteral("one engine thread: this platform cannot share the port");
    if (m_nListening < m_nWantedThreads)
        return QStringLiteral("%1 of %2 engine threads on the port")
            .arg(m_nListening)
            .arg(m_nWantedThreads);
    return QStringLiteral("%1 engine threads on the port").arg(m_nListening);
}

std::vector<int> CEngineHost::RowsPerEngine() const {
    std::vector<int> rows;
    for (const auto& lane : m_lanes)
        rows.push_back(lane->rowsAdded.load(std::memory_order_relaxed));
    return rows;
}

int CEngineHost::ThreadsFor(int setting) {
    if (setting > 0)
        return setting;
    return std::clamp(QThread::idealThreadCount(), 1, kMaxAutoThreads);
}

// An engine thread from start to end: the engine and its sockets are made, used and
// destroyed here.
void CEngineHost::RunEngineThread(Lane& lane) {
    const bool first = lane.index == 0;
    auto window = std::make_unique<CQueuedWindow>(
        this, lane.rowsAdded, first ? std::function<void()>([this] {
            if (m_pClients)
                m_nClientsRunning = m_pClients->Running();
        })
                    : std::function<void()>());
    CQueuedWindow* queued = window.get();
    lane.queuedWindow = std::move(window);
    lane.engine = std::make_unique<CServerEngine>(
        queued, m_makePlatform ? m_makePlatform() : nullptr, m_shared);
    CServerEngine* engine = lane.engine.get();
    engine->m_beforeRequests = [this, &lane] { RunCommands(lane); };
    IPlatform& platform = engine->Platform();
    lane.ownLoop = platform.hasOwnLoop();
    QObject engineSide;
    lane.engineSide = &engineSide;
    auto* thread = static_cast<CEngineThread*>(QThread::currentThread());
    if (first)
        StartServices(lane);
    else {
        // Uploads are guarded by engine 0's services, which know the boot files; its
        // thread ends after this one.
        engine->SetSettings(m_settings); // the host thread waits for m_started meanwhile
        CEngineServices::FollowBootPolicy(*engine, *m_pServices);
    }
    thread->m_started.count_down();
    if (lane.ownLoop)
        platform.runLoop([this, &lane] { RunCommands(lane); });
    else
        thread->exec();
    RunCommands(lane);
    if (first) {
        m_pClients.reset();
        m_pServices.reset();
    }
    lane.engine.reset();
    lane.queuedWindow.reset();
    lane.commands.clear();
    thread->m_finished.count_down();
}

// Engine 0's services and device client, on its thread.
void CEngineHost::StartServices(Lane& lane) {
    CServerEngine* engine = lane.engine.get();
    m_pServices = std::make_unique<CEngineServices>(*engine);
    engine->SetSettings(m_settings); // the host thread waits for m_started meanwhile
    m_pServices->m_postToEngine = [this, &lane](std::function<void()> fn) {
        PostTo(lane, std::move(fn));
    };
    m_pServices->m_onStatusChanged = [this] {
        TakeStatus();
        QMetaObject::invokeMethod(
            this, [this] {
                if (m_onStatus)
                    m_onStatus();
            },
            Qt::QueuedConnection);
    };
    AttachClients(lane.queuedWindow.get());
}

// Client transfers share the engine's platform, window queue, row keys and sounds;
// their timers have ids of their own.
void CEngineHost::AttachClients(IServerWindow* window) {
    CServerEngine* engine = m_lanes.front()->engine.get();
    m_pClients = std::make_unique<CClientRows>(
        engine->Platform(), *window,
        CClientRows::Hooks{[engine](const RowTexts& texts) { return engine->AddRow(texts); },
                           [engine](int id) { engine->PlaySound(id); },
                           [engine](const QHostAddress& device) {
                               // The route and the network only: nothing here may wait.
                               return TftpClient::LookAtRoute(device, engine->Platform().interfaces()).text;
                           }});
    ITimerHost& timers = engine->Platform().timers();
    timers.onTimeout = [this, server = std::move(timers.onTimeout)](int id) {
        if (!m_pClients->OnTimer(id) && server)
            server(id);
    };
}

void CEngineHost::StartClient(const TftpClient::Request& request, const QString& shownFile) {
    if (!m_bShutDown)
        PostToEngine([this, request, shownFile] { m_pClients->Start(request, shownFile); });
}

void CEngineHost::PostToEngine(std::function<void()> fn) { PostTo(*m_lanes.front(), std::move(fn)); }

void CEngineHost::PostTo(Lane& lane, std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(lane.commandLock);
        lane.commands.push_back(std::move(fn));
        if (std::exchange(lane.commandWakeSent, true))
            return;
    }
    if (lane.ownLoop)
        lane.engine->Platform().wakeLoop();
    else
        QMetaObject::invokeMethod(lane.engineSide, [this, &lane] { RunCommands(lane); });
}

void CEngineHost::RunCommands(Lane& lane) {
    std::vector<std::function<void()>> commands;
    {
        std::lock_guard<std::mutex> lock(lane.commandLock);
        commands.swap(lane.commands);
        lane.commandWakeSent = false;
    }
    for (const auto& command : commands)
        command();
}

void CEngineHost::RunOnEngine(const std::function<void()>& fn) {
    std::latch done{1};
    PostToEngine([&] {
        fn();
        done.count_down();
    });
    done.wait();
}

void CEngineHost::RunOnEvery(const std::function<void(CServerEngine&)>& fn) {
    std::latch done{std::ptrdiff_t(m_lanes.size())};
    for (auto it = m_lanes.rbegin(); it != m_lanes.rend(); ++it)
        PostTo(**it, [&fn, &done, lane = it->get()] {
            fn(*lane->engine);
            done.count_down();
        });
    done.wait();
}

// Another program's edit, or a write through the store (several keys in a row each
// come here: the engine may see the first before the rest, as it always could).
void CEngineHost::FollowSettings(const EngineSettings& file) {
    EngineSettings next = m_settings;
    next.FollowFile(file);
    if (next == m_settings)
        return;
    m_settings = std::move(next);
    HandSettings();
}

// A request that comes after this is judged by these settings: the engine runs its
// queued calls before it reads requests.
void CEngineHost::HandSettings() {
    for (const auto& lane : m_lanes)
        PostTo(*lane, [this, settings = m_settings, engine = lane->engine.get(),
                       first = lane.get() == m_lanes.front().get()] {
            engine->SetSettings(settings);
            if (!first)
                CEngineServices::FollowBootPolicy(*engine, *m_pServices);
        });
}

IServerWindow& CEngineHost::Window() { return m_pWindow ? *m_pWindow : NoServerWindow(); }

bool CEngineHost::Start(const QHostAddress& address, quint16 port, QString* error) {
    QString why;
    m_settings = m_source();
    const EngineSettings settings = m_settings;
    RunOnEvery([&](CServerEngine& engine) { engine.LoadLiveSettings(settings); });
    ListenAll(address, port, &why, true);
    if (error)
        *error = why;
    DeliverNow();
    return IsListening();
}

bool CEngineHost::Relisten(const QHostAddress& address, quint16 port, QString* error) {
    if (m_bShutDown)
        return false;
    QString why;
    ListenAll(address, port, &why, false);
    if (error)
        *error = why;
    return IsListening();
}

// The number of threads is read here: a change applies as the server listens again.
// Where the platform cannot share the port, one engine serves (EngineThreads says so).
bool CEngineHost::ListenAll(const QHostAddress& address, quint16 port, QString* why, bool start) {
    Lane& first = *m_lanes.front();
    m_nWantedThreads = ThreadsFor(m_settings.engineThreads);
    m_bCanSharePort = first.engine->Platform().canSharePort();
    const int wanted = m_bCanSharePort ? m_nWantedThreads : 1;
    // The others leave the port first: the group is made anew around engine 0.
    for (size_t i = 1; i < m_lanes.size(); ++i)
        PostTo(*m_lanes[i], [engine = m_lanes[i]->engine.get()] { engine->CloseListener(); });
    bool listening = false;
    quint16 bound = 0;
    RunOnEngine([&] {
        listening = first.engine->Listen(address, port, why, start,
                                         wanted > 1 ? CServerEngine::PortShare::Lead
                                                    : CServerEngine::PortShare::Alone);
        bound = first.engine->ListenPort();
        TakeStatus();
    });
    m_nListening = 1;
    if (!listening || wanted <= 1)
        return listening;
    while (int(m_lanes.size()) < wanted)
        AddLane();
    for (int i = 1; i < wanted; ++i) {
        // Each joins on the port engine 0 holds (it chose one if 0 was asked).
        CServerEngine& engine = *m_lanes[size_t(i)]->engine;
        bool joined = false;
        std::latch done{1};
        PostTo(*m_lanes[size_t(i)], [&] {
            joined = engine.Listen(address, bound, nullptr, false, CServerEngine::PortShare::Join);
            done.count_down();
        });
        done.wait();
        m_nListening += joined ? 1 : 0;
    }
    return true;
}

void CEngineHost::TakeStatus() {
    CServerEngine* engine = m_lanes.front()->engine.get();
    m_nListenPort = engine->ListenPort();
    m_bWaitsForAddress = engine->WaitsForAddress();
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_bootStatus = m_pServices->BootState();
    m_dhcpStatus = m_pServices->DhcpState();
}

BootStatus CEngineHost::RestartBootOffers() {
    if (!m_bShutDown)
        RunOnEngine([this] {
            m_pServices->RestartBootOffers();
            TakeStatus();
        });
    return BootState();
}

void CEngineHost::SetSoundOn(bool on) {
    m_settings.soundOn = on;
    HandSettings();
}

void CEngineHost::SetRules(const AccessRules& rules) {
    m_settings.rules = rules;
    HandSettings();
}

void CEngineHost::Abort() {
    for (size_t i = 1; i < m_lanes.size(); ++i)
        PostTo(*m_lanes[i], [engine = m_lanes[i]->engine.get()] { engine->OnAbort(); });
    PostToEngine([this, engine = m_lanes.front()->engine.get()] {
        engine->OnAbort();
        m_pClients->AbortAll();
    });
}

// Every engine looks for the row: one that does not have it ignores it.
void CEngineHost::AbortRow(RowHandle row) {
    for (size_t i = 1; i < m_lanes.size(); ++i)
        PostTo(*m_lanes[i], [engine = m_lanes[i]->engine.get(), row] { engine->AbortRow(row); });
    PostToEngine([this, row, engine = m_lanes.front()->engine.get()] {
        if (!m_pClients->AbortRow(row))
            engine->AbortRow(row);
    });
}

void CEngineHost::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    // Queued calls sent before this one (an Abort) run first.
    RunOnEvery([this, first = m_lanes.front()->engine.get()](CServerEngine& engine) {
        if (&engine == first)
            m_pClients->Close();
        engine.Shutdown();
    });
    m_nListenPort = 0;
    DeliverNow();
}

// ---------------------------------------------------------------- the queue

void CEngineHost::Push(Event&& event) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        // The device transfers count as the server's do. The animation goes by the
        // count over every engine as it is now, whichever engine crossed 0 last.
        const int serving = m_shared->Active();
        m_nQueuedActive = serving + m_nClientsRunning;
        if (event.kind == Event::Animation)
            event.done = serving > 0;
        if (m_rows.Fold(m_queue, event, m_progressAt))
            return;
        if (event.kind == Event::Progress) {
            // Only the latest figure of a row counts, in the place of the first one.
            const auto at = m_progressAt.constFind(event.row);
            if (at != m_progressAt.constEnd()) {
                Event& queued = m_queue[*at];
                queued.done = event.done;
                queued.total = event.total;
                return;
            }
            m_progressAt.insert(event.row, m_queue.size());
        } else if (event.kind == Event::Update) {
            // Progress that comes after new texts goes after them.
            m_progressAt.remove(event.row);
        }
        m_queue.push_back(std::move(event));
        wake = !std::exchange(m_bWakePosted, true);
    }
    if (wake)
        QMetaObject::invokeMethod(this, [this] { WakeDrain(); }, Qt::QueuedConnection);
}

// At most one drain every kDrainMs: changes that come sooner wait for the next one.
void CEngineHost::WakeDrain() {
    if (m_drainTimer.isActive())
        return;
    const qint64 since = m_sinceDrain.isValid() ? m_sinceDrain.elapsed() : kDrainMs;
    m_drainTimer.start(int(std::max<qint64>(0, kDrainMs - since)));
}

void CEngineHost::DeliverNow() {
    m_drainTimer.stop();
    std::vector<Event> events;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        events.swap(m_queue);
        m_queue.swap(m_spare);
        m_progressAt.clear();
        m_rows.Clear();
        // While changes keep coming, look again after kDrainMs (kBusyDrainMs in a flood)
        // rather than have the engine wake this thread for them; once a look finds
        // nothing, wait to be woken.
        m_bWakePosted = !events.empty();
        m_nActive = m_nQueuedActive;
    }
    m_sinceDrain.start();
    if (!events.empty())
        m_drainTimer.start(events.size() >= kBusyEvents ? kBusyDrainMs : kDrainMs);
    if (events.empty())
        return;
    Window().BeginChanges();
    CRowCoalescer::Deliver(events, Window(), [this](const Event& event) { Deliver(event); });
    Window().EndChanges();
    events.clear();
    m_spare = std::move(events);
}

void CEngineHost::Deliver(const Event& event) {
    IServerWindow& window = Window();
    switch (event.kind) {
    case Event::Add:
        window.AddRow(event.row, event.texts);
        break;
    case Event::Update:
        window.UpdateRow(event.row, event.texts, event.state);
        break;
    case Event::Progress:
        window.DrawProgress(event.row, event.done, event.total);
        break;
    case Event::Sound:
        window.PlayWaveResource(int(event.done));
        break;
    case Event::Animation:
        if (event.done)
            window.StartAnimation();
        else
            window.StopAnimation();
        break;
    case Event::Message:
        window.ShowMessage(event.texts.info);
        break;
    case Event::Details:
        if (event.details)
            window.ShowDetails(event.row, *event.details);
        break;
    case Event::Dropped:
        break;
    }
}
