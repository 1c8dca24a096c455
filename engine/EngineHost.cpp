#include "EngineHost.h"

#include "ServerEngine.h"
#include "SettingsStore.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <latch>

namespace {
// The engine's window on the engine thread: every call becomes an event in the host's
// queue. Row keys are handed out here, so AddRow never waits for the other thread.
class CQueuedWindow final : public IServerWindow {
public:
    explicit CQueuedWindow(CEngineHost* host) : m_pHost(host) {}
    void SetEngine(const CServerEngine* engine) { m_pEngine = engine; }

    RowHandle AddRow(const RowTexts& texts) override {
        const RowHandle row = ++m_nLastRow;
        Push({CEngineHost::Event::Add, ROW_ACTIVE, row, 0, 0, texts});
        return row;
    }
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override {
        Push({CEngineHost::Event::Update, state, row, 0, 0, texts});
    }
    void DrawProgress(RowHandle row, qint64 done, qint64 total) override {
        Push({CEngineHost::Event::Progress, ROW_ACTIVE, row, done, total, {}});
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
    RowHandle m_nLastRow = 0;
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

CEngineHost::CEngineHost(CSettingsStore& store, PlatformFactory makePlatform) : m_store(store) {
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

// The engine thread from start to end: the engine, its store and its sockets are
// made, used and destroyed here.
void CEngineHost::RunEngineThread(const PlatformFactory& makePlatform) {
    m_pEngineStore = std::make_unique<CSettingsStore>(m_store.FileName(), m_store.Format());
    auto window = std::make_unique<CQueuedWindow>(this);
    CQueuedWindow* queued = window.get();
    m_pQueuedWindow = std::move(window);
    m_pEngine = std::make_unique<CServerEngine>(queued, m_pEngineStore.get(),
                                                makePlatform ? makePlatform() : nullptr);
    queued->SetEngine(m_pEngine.get());
    m_pEngine->m_beforeRequests = [this] { RunCommands(); };
    m_pEngine->m_postToEngine = [this](std::function<void()> fn) { PostToEngine(std::move(fn)); };
    CopyLiveSettings();
    IPlatform& platform = m_pEngine->Platform();
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
    m_pEngine.reset();
    m_pQueuedWindow.reset();
    m_pEngineStore.reset();
    m_commands.clear();
    thread->m_finished.count_down();
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

void CEngineHost::CopyLiveSettings() {
    m_bSoundOn = m_pEngine->m_bSoundOn;
    m_rules = m_pEngine->Rules();
}

IServerWindow& CEngineHost::Window() { return m_pWindow ? *m_pWindow : NoServerWindow(); }

bool CEngineHost::Start(const QHostAddress& address, quint16 port, QString* error) {
    QString why;
    RunOnEngine([&] {
        m_pEngine->LoadLiveSettings();
        m_pEngine->Listen(address, port, &why);
        m_nListenPort = m_pEngine->ListenPort();
        CopyLiveSettings();
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
        m_nListenPort = m_pEngine->ListenPort();
    });
    if (error)
        *error = why;
    return IsListening();
}

void CEngineHost::SetSoundOn(bool on) {
    m_bSoundOn = on;
    PostToEngine([this, on] { m_pEngine->m_bSoundOn = on; });
}

void CEngineHost::SetRules(const AccessRules& rules) {
    m_rules = rules;
    PostToEngine([this, rules] { m_pEngine->SetRules(rules); });
}

void CEngineHost::Abort() {
    PostToEngine([this] { m_pEngine->OnAbort(); });
}

void CEngineHost::Shutdown() {
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    // Queued calls sent before this one (an Abort) run first.
    RunOnEngine([this] { m_pEngine->Shutdown(); });
    m_nListenPort = 0;
    DeliverNow();
}

void CEngineHost::RowsCleared() {
    if (m_nActive == 0)
        m_shownRow.clear();
}

// ---------------------------------------------------------------- the queue

void CEngineHost::Push(Event&& event, int activeTransfers) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_nQueuedActive = activeTransfers;
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
        // While changes keep coming, look again after kDrainMs rather than have the
        // engine wake this thread for them; once a look finds nothing, wait to be woken.
        m_bWakePosted = !events.empty();
        m_nActive = m_nQueuedActive;
    }
    m_sinceDrain.start();
    if (!events.empty())
        m_drainTimer.start(kDrainMs);
    for (const Event& event : events)
        Deliver(event);
}

void CEngineHost::Deliver(const Event& event) {
    IServerWindow& window = Window();
    switch (event.kind) {
    case Event::Add:
        m_shownRow.insert(event.row, window.AddRow(event.texts));
        break;
    case Event::Update:
        if (const auto shown = m_shownRow.constFind(event.row); shown != m_shownRow.constEnd())
            window.UpdateRow(*shown, event.texts, event.state);
        break;
    case Event::Progress:
        if (const auto shown = m_shownRow.constFind(event.row); shown != m_shownRow.constEnd())
            window.DrawProgress(*shown, event.done, event.total);
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
    }
}
