#pragma once

#include "engine/config/EngineSettings.h"
#include "engine/host/EngineHost.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class CSettingsStore;

// The store above the engine: after every write through the store (a dialog saving,
// the window's own keys) and whenever another program changed the file (one stat every
// kFileCheckMs, never anything per block), the file's values go to `follow`. The
// engine never reads the file itself.
class CSettingsWatch : public QObject {
public:
    static constexpr int kFileCheckMs = 1000;
    using Follow = std::function<void(const EngineSettings&)>;

    // The store outlives the watch.
    CSettingsWatch(CSettingsStore& store, Follow follow, QObject* parent = nullptr);
    ~CSettingsWatch() override;

    CSettingsWatch(const CSettingsWatch&) = delete;
    CSettingsWatch& operator=(const CSettingsWatch&) = delete;

private:
    void HandOn();

    CSettingsStore& m_store;
    Follow m_follow;
    QTimer m_fileCheck;
    int m_nWriteListener = 0;
};

// An engine host on the store's values, that follows the file for as long as it lives
// (the watch is the host's child).
std::unique_ptr<CEngineHost> NewEngineHost(CSettingsStore& store,
                                           CEngineHost::PlatformFactory makePlatform = {});
