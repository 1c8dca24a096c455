#include "settings/SettingsWatch.h"

#include "settings/SettingsStore.h"

CSettingsWatch::CSettingsWatch(CSettingsStore& store, Follow follow, QObject* parent)
    : QObject(parent), m_store(store), m_follow(std::move(follow)) {
    m_nWriteListener = m_store.AddWriteListener([this] { HandOn(); });
    connect(&m_fileCheck, &QTimer::timeout, this, [this] {
        if (m_store.ReloadIfChanged())
            HandOn();
    });
    m_fileCheck.start(kFileCheckMs);
}

CSettingsWatch::~CSettingsWatch() { m_store.RemoveWriteListener(m_nWriteListener); }

void CSettingsWatch::HandOn() { m_follow(m_store.LoadEngineSettings()); }

std::unique_ptr<CEngineHost> NewEngineHost(CSettingsStore& store,
                                           CEngineHost::PlatformFactory makePlatform) {
    auto host = std::make_unique<CEngineHost>(
        CEngineHost::SettingsSource([&store] { return store.LoadEngineSettings(); }),
        std::move(makePlatform));
    CEngineHost* target = host.get();
    new CSettingsWatch(
        store, [target](const EngineSettings& file) { target->FollowSettings(file); }, target);
    return host;
}
