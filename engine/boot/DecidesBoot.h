#pragma once

#include "engine/config/EngineSettings.h"
#include "engine/platform/Platform.h"

#include <QByteArray>
#include <QStringList>

// What decides what a machine boots while the boot offers, our DHCP server or the menu
// are on: the configured boot files, the files HostsFile gives its hosts, the Secure
// Boot chain's members, the menus and the machines' scripts, whatever the written menu
// lists or would list (kernels, initrds, .ipxe, .efi and .iso at the folder's top
// level), and with RaspberryPi what a Pi boots from. Any client may upload; these names
// it may not create or replace then, or one client would choose what every other boots.
namespace BootFiles {

// Whether the boot services or the menu are on, so that uploads are watched at all.
bool Guarded(const EngineSettings& s);
// `name` is below the working folder as the request resolved it ('/' between folders).
// With ClientFolders a client's own folder (its address) counts as the top level.
// `hostFiles`: the boot files HostsFile names (what the policy hands a known host).
bool DecidesBoot(const QByteArray& name, const EngineSettings& s,
                 const QStringList& hostFiles = {});
// DecidesBoot, or `name` beneath `root` is the same file (device and inode, through
// symbolic links, hard links and folder links) as a name that decides a boot: writing
// `foo` beside `vmlinuz -> foo` changes what the kernel's name serves. The folder is
// looked into three levels down (as deep as the menu, a Pi and a client's folder read).
bool WritesBootFile(IFileSystem& fs, const QString& root, const QByteArray& name,
                    const EngineSettings& s, const QStringList& hostFiles = {});

} // namespace BootFiles
