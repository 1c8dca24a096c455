#pragma once

#include "engine/boot/BootMenu.h"
#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QHostAddress>
#include <QStringList>

class ServiceContext;

// The menu iPXE clients are offered while [Boot] Menu is on, kept as a file in the
// working folder (BootMenu::kGeneratedName): a file is served by TFTP and HTTP like any
// other, shows in rows like any other, and the user can see what clients get (and copy
// it to menu.ipxe to edit). One stat of the folder and one read of the menu a second;
// the folder is listed again only when it changed, and the menu written again when the
// file on disk differs from it; never per request.
class CBootMenuFile {
public:
    explicit CBootMenuFile(ServiceContext& context);
    ~CBootMenuFile();

    // Follows the folder for clients that fetch from `server` while the menu is on.
    // `server` is an address, or "${next-server}" when the LAN's DHCP server names us.
    void Start(const QString& server);
    void Stop();
    // Looks at the folder now; the once-a-second timer does the same.
    void Look();
    // The folder's files at the last listing (what BootPolicy picks a menu from).
    QStringList Listing() const { return m_files; }

    static constexpr int kLookMs = 1000;

private:
    BootMenu::Options CurrentOptions() const;
    bool Write(const QByteArray& script, QString* why);
    // A name's size when a client could fetch it, else -1.
    qint64 FetchableSize(const QByteArray& name);
    // A Windows PE folder's parts beneath `folder` ("" or "winpe/"), whose entries are
    // `names`, added to m_files as they are spelt there.
    void ListWinPe(const QByteArray& folder, const QList<QByteArray>& names);
    QByteArray OnDisk();

    ServiceContext& m_context;
    int m_timer = 0;
    bool m_running = false;
    QString m_server;
    FolderStamp m_stamp;
    QString m_listedRoot;
    QStringList m_files;          // the folder's files at the last listing
    QHash<QString, qint64> m_sizes; // their sizes then (for the redirect)
    QHash<QString, LiveIso::LiveBoot> m_live; // the listed ISOs' known live layouts
    BootMenu::Options m_options;  // those the file was written with
    QString m_failure;            // the last write's failure, shown once
};
