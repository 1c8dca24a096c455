#pragma once

#include "engine/boot/LiveIso.h"
#include "engine/http/HttpRedirect.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The iPXE menu made from the working folder: each kernel (vmlinuz*, linux*) with the
// initrd* beside it of the same version, each .ipxe script, each .efi tool and each ISO
// (iPXE's sanboot, over HTTP only), grouped by kind and sorted, with a default entry
// and a time-out. A machine with a boot-MAC.ipxe of its own (the MAC as iPXE writes
// ${mac:hexhyp}) chains that instead. Pure: made from a listing, so the server writes
// it when the folder changes, never per request.
namespace BootMenu {

// The name the server writes the menu under, and the user's own that wins over it.
constexpr const char* kGeneratedName = "menu-generated.ipxe";
constexpr const char* kUserName = "menu.ipxe";

struct Options {
    QString server;          // the address iPXE fetches from
    quint16 httpPort = 0;    // our HTTP's port; 0 when HTTP is off (TFTP then, no ISOs)
    QString defaultEntry;    // MenuDefault: an entry's file name; the first when not found
    int seconds = 10;        // MenuSeconds: 0 boots the default at once
    // Over HTTP, a file above the size is fetched from the cache's URL at once.
    HttpRedirect::Settings redirect;
    QHash<QString, qint64> sizes; // the listed files' sizes; one not in it: not redirected
    // The listed ISOs whose live layout is known: booted by their own kernel and initrd,
    // served from inside the image, rather than by sanboot.
    QHash<QString, LiveIso::LiveBoot> live;
};

struct Entry {
    enum Kind { Kernel, Script, EfiTool, Iso, WinPe } kind;
    QString file;   // as listed, relative to the folder (Windows PE: its bootmgr)
    QString initrd; // for a kernel: its initrd, or empty
    // Windows PE: bootmgr, boot/bcd, boot/boot.sdi, sources/boot.wim, then wimboot, as listed.
    QStringList parts;
};

// Windows PE through wimboot (from the iPXE project): a folder, or the working folder,
// holding bootmgr (or bootmgr.exe), boot/bcd, boot/boot.sdi and sources/boot.wim, in
// any letter case, with a `wimboot` file at the top level, is one entry. The names a
// listing should hold for such a folder beyond its top level:
constexpr const char* kWimboot = "wimboot";
QStringList WinPeParts(); // "boot/bcd", "boot/boot.sdi", "sources/boot.wim"
// Whether a name is a Windows PE part the menu would load: bootmgr, bootmgr.exe or one of
// WinPeParts, at the top level or one folder down (any letter case).
bool IsWinPePart(const QString& name);

// Whether a name can stand in an iPXE script as it is: UTF-8, at most kMaxName bytes,
// no control character, and nothing iPXE reads as more than a name (`${`, `&&`, `||`,
// `;`, quotes, a backslash, `#` at a word's start, a leading `-`). Other names are no
// entry: a file's name never becomes a command.
constexpr int kMaxName = 127;
bool SafeName(const QByteArray& name);
// Whether a top-level name is one the menu lists or would list, or one that wins over
// it (menu.ipxe, a machine's boot-MAC.ipxe, the written menu itself).
bool DecidesBoot(const QString& name);

// What ties a kernel to its initrd: the version after "vmlinuz"/"linux", and after
// "initrd" without the extensions initrds carry.
QString KernelKey(const QString& base);
QString InitrdKey(const QString& base);

// The entries for a listing (names relative to the folder, '/' between folders).
QList<Entry> Entries(const QStringList& files, const Options& options);
// An entry as the menu shows it: "vmlinuz-6.1 + initrd.img-6.1", "tools/memtest.efi".
QString Label(const Entry& entry);
// Where the menu has a client fetch `file` from the cache ([Http] Redirect); empty when
// from here.
QString CacheUrl(const QString& file, const Options& options);
// The script; empty when the user's own menu.ipxe is in the listing.
QByteArray Generate(const QStringList& files, const Options& options);

} // namespace BootMenu
