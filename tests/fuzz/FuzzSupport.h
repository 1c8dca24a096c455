#pragma once

#include "FakePlatform.h"
#include "engine/config/EngineSettings.h"
#include "engine/server/ServerEngine.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

// What every fuzz input starts from: a private working folder with files to send, and a
// server engine on the fake platform listening on 69.
class FuzzServer {
public:
    static QTemporaryDir& Folder() {
        static QTemporaryDir dir;
        return dir;
    }
    // The working folder, with its files made once for every input.
    static QString WorkingFolder() {
        static bool filesMade = false;
        if (!filesMade) {
            filesMade = true;
            QDir().mkpath(Folder().filePath(QStringLiteral("tftp")));
            QFile f(Folder().filePath(QStringLiteral("tftp/f.bin")));
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(3000, 'x')); // six blocks, the last one short
            QFile e(Folder().filePath(QStringLiteral("tftp/a")));
            e.open(QIODevice::WriteOnly); // empty: one empty block
        }
        return Folder().filePath(QStringLiteral("tftp"));
    }

    // An empty settings file's values but for these.
    FuzzServer(bool overWrite, int timeOut) {
        auto platform = std::make_unique<FakePlatform>();
        m_platform = platform.get();
        m_engine = std::make_unique<CServerEngine>(&m_window, std::move(platform));
        EngineSettings settings;
        settings.workingFolder = WorkingFolder();
        settings.overWrite = overWrite;
        settings.timeOut = timeOut;
        settings.soundOn = true;
        m_engine->SetSettings(settings);
        m_engine->Listen(QHostAddress::LocalHost, 69);
    }

    // Removes what uploads left in the working folder, so inputs stay independent.
    void CleanUploads() {
        bool uploaded = false;
        for (const auto& row : m_window.rows)
            uploaded = uploaded || row.texts.service == QLatin1String("Receive");
        if (!uploaded)
            return;
        QDir dir(Folder().filePath(QStringLiteral("tftp")));
        const auto names =
            dir.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
        for (const QString& name : names) {
            if (name == QLatin1String("f.bin") || name == QLatin1String("a"))
                continue;
            QFileInfo info(dir.filePath(name));
            if (info.isDir())
                QDir(info.filePath()).removeRecursively();
            else
                QFile::remove(info.filePath());
        }
    }

    ~FuzzServer() {
        m_engine->Shutdown();
        CleanUploads();
    }

    CServerEngine& engine() { return *m_engine; }
    FakePlatform& platform() { return *m_platform; }
    RecordingWindow& window() { return m_window; }

private:
    RecordingWindow m_window;
    FakePlatform* m_platform = nullptr; // owned by the engine
    std::unique_ptr<CServerEngine> m_engine;
};
