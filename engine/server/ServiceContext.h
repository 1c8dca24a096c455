#pragma once

#include <QStringList>

#include "engine/files/FileShareTable.h"
#include "engine/files/RequestPath.h"
#include "engine/platform/Platform.h"
#include "engine/server/Admission.h"
#include "engine/config/EngineSettings.h"
#include "engine/server/ServerWindow.h"

#include <QHostAddress>
#include <functional>

// What a service beside the TFTP server (HTTP, boot offers) may use of the engine, and
// nothing more: the platform, the current settings and admission, the one request path
// and sharing table, rows in the window, the count of transfers in progress, and timers
// of its own.
class ServiceContext {
public:
    virtual ~ServiceContext() = default;

    virtual IPlatform& platform() = 0;
    // The settings as they are now (replaced as a whole when they change).
    virtual const EngineSettings& settings() const = 0;
    // Who is served and what they may do, under those settings.
    virtual Admission admission() const = 0;
    virtual CRequestPath& paths() = 0;
    virtual CFileShareTable& shares() = 0;

    // Rows: a new one under the next key, then its changes, progress and sounds.
    virtual RowHandle addRow(const RowTexts& texts) = 0;
    virtual IServerWindow& rows() = 0;
    virtual void playSound(int id) = 0;

    // Transfers in progress, across every service (the window's animation).
    virtual void countIn() = 0;
    virtual void countOut() = 0;

    // A timer of the service's own, apart from every transfer's: the id to start and
    // stop it with on platform().timers(); `onTimeout` runs when it fires.
    virtual int registerTimer(std::function<void()> onTimeout) = 0;
    virtual void unregisterTimer(int id) = 0;

    // Where a client's name leads under the current settings (rewrite rules, letter
    // case, the client's folder), as TFTP resolves it.
    virtual ResolvedPath resolve(const QByteArray& name, bool upload,
                                 const QHostAddress& client) = 0;

    // The working folder's files as the menu writer last listed them (BootPolicy picks
    // an iPXE client's menu from them while [Boot] Menu is on).
    virtual QStringList menuListing() const = 0;
};
