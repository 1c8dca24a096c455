#include "engine/host/EngineHost.h"

#include "engine/host/ClientRows.h"
#include "engine/client/Reachability.h"
#include "engine/host/EngineServices.h"
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
    explicit CQueuedWindow(CEngineHost* host) : m_pHost(host) {}
    void SetEngine(const CServerEngine* engine) { m_pEngine = engine; }

    void AddRow(RowHandle row, const RowTexts& texts) override {
        Push({CEngineHost::Event::Add, ROW_ACTIVE, row, 0, 0, texts});
    }
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override {
        Push({CEngineHost::Event::Update, state, row, 0, 0, texts});
    }
    void DrawProgress(RowHandle row, qint64 done, qint64 total) override {
        Push({CEngineHost::Event::Progress, ROW_ACTIVE, row, done, total, {}});
    }
    void ShowDetails(RowHandle row, const RowDetails& details) override {
        Push({CEngineHost::Event::Details, ROW_ACTIVE, row, 0, 0, {}, {}, std::make_shared<const RowDetails>(details)});
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
        m_pHost->Push(std::move(event), m_pEngine ? m_pEngine->m_nActiveTransfers : 0);
    }

    CEngineHost* m_pHost;
    const CServerEngine* m_pEngine = nullptr;
};
} // namespace

class CEngineHost::CEngineThread final : public QThread {
public:
    CEngineThread(CEngineHost* host, PlatformFactory makePlatform)
        : m_pHost(host), m_makePlatform(std::move(makePlatform)) {}
    void run() override { m_pHost->RunEngineThread(m_makePlatform); }
    using QThread::exec;
    std::latch m_started{1};
    std::latch m_finished{1}; // everything the thread made is gone

private:
    CEngineHost* m_pHost;
    PlatformFactory m_makePlatform;
};

CEngineHost::CEngineHost(const EngineSettings& settings, PlatformFactory makePlatform)
    : CEngineHost(SettingsSource([settings] { return settings; }), std::move(makePlatform)) {}

CEngineHost::CEngineHost(SettingsSource settings, PlatformFactory makePlatform)
    : m_source(std::move(settings)), m_settings(m_source()) {
    m_drainTimer.setSingleShot(true);
    connect(&m_drainTimer, &QTimer::timeout, this, [this] { DeliverNow(); });
    auto thread = std::make_unique<CEngineThread>(this, std::move(makePlatform));
    thread->setObjectName(QStringLiteral("engine"));
    thread->start();
    thread->m_started.wait();
    m_pThread = std::move(thread);
}

CEngineHost::~CEngineHost() {
    Shutdown();
    PostToEngine([this] {
        if (m_bOwnLoop)
            m_pEngine->Platform().quitLoop();
        else
            QThread::currentThread()->exit();
    });
    static_cast<CEngineThread*>(m_pThread.get())->m_finished.wait();
    m_pThread->wait();
}

// The engine thread from start to end: the engine and its sockets are made, used and
// destroyed here.
void CEngineHost::RunEngineThread(const PlatformFactory& makePlatform) {
    auto window = std::make_unique<CQueuedWindow>(this);
    CQueuedWindow* queued = window.get();
    m_pQueuedWindow = std::move(window);
    m_pEngine =
        std::make_unique<CServerEngine>(queued, makePlatform ? makePlatform() : nullptr);
    m_pServices = std::make_unique<CEngineServices>(*m_pEngine);
    m_pEngine->SetSettings(m_settings); // the host thread waits for m_started meanwhile
    queued->SetEngine(m_pEngine.get());
    m_pEngine->m_beforeRequests = [this] { RunCommands(); };
    m_pServices->m_postToEngine = [this](std::function<void()> fn) { PostToEngine(std::move(fn)); };
    m_pServices->m_onStatusChanged = [this] {
        TakeStatus();
        QMetaObject::invokeMethod(
            this, [this] {
                if (m_onStatus)
                    m_onStatus();
            },
            Qt::QueuedConnection);
    };
    IPlatform& platform = m_pEngine->Platform();
    AttachClients(queued);
    m_bOwnLoop = platform.hasOwnLoop();
    QObject engineSide;
    m_pEngineSide = &engineSide;
    auto* thread = static_cast<CEngineThread*>(QThread::currentThread());
    thread->m_started.count_down();
    if (m_bOwnLoop)
        platform.runLoop([this] { RunCommands(); });
    else
        thread->exec();
    RunCommands();
    m_pClients.reset();
    m_pServices.reset();
    m_pEngine.reset();
    m_pQueuedWindow.reset();
    m_commands.clear();
    thread->m_finished.count_down();
}

// Client transfers share the engine's platform, window queue, row keys and sounds;
// their timers have ids of their own.
void CEngineHost::AttachClients(IServerWindow* window) {
    CServerEngine* engine = m_pEngine.get();
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

void CEngineHost::PostToEngine(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(m_commandLock);
        m_commands.push_back(std::move(fn));
        if (std::exchange(m_bCommandWakeSent, true))
            return;
    }
    if (m_bOwnLoop)
        m_pEngine->Platform().wakeLoop();
    else
        QMetaObject::invokeMethod(m_pEngineSide, [this] { RunCommands(); });
}

void CEngineHost::RunCommands() {
    std::vector<std::function<void()>> commands;
    {
        std::lock_guard<std::mutex> lock(m_commandLock);
        commands.swap(m_commands);
        m_bCommandWakeSent = false;
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
    PostToEngine([this, settings = m_settings] { m_pEngine->SetSettings(settings); });
}

IServerWindow& CEngineHost::Window() { return m_pWindow ? *m_pWindow : NoServerWindow(); }

bool CEngineHost::Start(const QHostAddress& address, quint16 port, QString* error) {
    QString why;
    m_settings = m_source();
    const EngineSettings settings = m_settings;
    RunOnEngine([&] {
        m_pEngine->LoadLiveSettings(settings);
        m_pEngine->Listen(address, port, &why);
        TakeStatus();
    });
    if (error)
        *error = why;
    DeliverNow();
    return IsListening();
}

bool CEngineHost::Relisten(const QHostAddress& address, quint16 port, QString* error) {
    if (m_bShutDown)
        return false;
    QString why;
    RunOnEngine([&] {
        m_pEngine->Listen(address, port, &why, false);
        TakeStatus();
    });
    if (error)
        *error = why;
    return IsListening();
}

void CEngineHost::TakeStatus() {
    m_nListenPort = m_pEngine->ListenPort();
    m_bWaitsForAddress = m_pEngine->WaitsForAddress();
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
    PostToEngine([this] {
        m_pEngine->OnAbort();
        m_pClients->AbortAll();
    });
}

void CEngineHost::AbortRow(RowHandle row) {
    PostToEngine([this, row] {
        if (!m_pClients->AbortRow(row))
            m_pEngine->AbortRow(row);
    });
}

void CEngineHost::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    // Queued calls sent before this one (an Abort) run first.
    RunOnEngine([this] {
        m_pClients->Close();
        m_pEngine->Shutdown();
    });
    m_nListenPort = 0;
    DeliverNow();
}

// ---------------------------------------------------------------- the queue

void CEngineHost::Push(Event&& event, int activeTransfers) {
    // The device transfers count as the server's do (on this, the engine's thread).
    if (m_pClients)
        activeTransfers += m_pClients->Running();
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_nQueuedActive = activeTransfers;
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
        m_progressAt.clear();
        m_rows.Clear();
        // While changes keep coming, look again after kDrainMs rather than have the
        // engine wake this thread for them; once a look finds nothing, wait to be woken.
        m_bWakePosted = !events.empty();
        m_nActive = m_nQueuedActive;
    }
    m_sinceDrain.start();
    if (!events.empty())
        m_drainTimer.start(kDrainMs);
    if (events.empty())
        return;
    Window().BeginChanges();
    CRowCoalescer::Deliver(events, Window(), [this](const Event& event) { Deliver(event); });
    Window().EndChanges();
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
