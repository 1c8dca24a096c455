#pragma once

#include "FakePlatform.h"
#include "engine/host/EngineHost.h"
#include "engine/server/ServerEngine.h"
#include "settings/SettingsStore.h"
#include "settings/SettingsWatch.h"

#include <QSettings>
#include <QTemporaryDir>
#include <memory>

// An engine over a private settings file and a recording window; it never listens.
struct DialogFixture {
    QTemporaryDir dir;
    QString iniPath = dir.filePath(QStringLiteral("settings.ini"));
    CSettingsStore store{iniPath};
    RecordingWindow window;
    std::unique_ptr<CEngineHost> host =
        NewEngineHost(store, [] { return std::make_unique<FakePlatform>(); });
    CEngineHost& engine = *host;

    DialogFixture() { engine.SetWindow(&window); }

    // Every key written to the file so far, as "Section/Key".
    QStringList StoredKeys() const {
        QSettings file(iniPath, QSettings::IniFormat);
        return file.allKeys();
    }
    QVariant Stored(const char* key) const {
        QSettings file(iniPath, QSettings::IniFormat);
        return file.value(QLatin1String(CSettingsStore::kSection) + QLatin1Char('/') +
                          QLatin1String(key));
    }
};
