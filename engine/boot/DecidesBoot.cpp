#include "engine/boot/DecidesBoot.h"

#include "engine/boot/BootMenu.h"
#include "engine/boot/RaspberryPi.h"
#include "engine/boot/SecureBootChain.h"

#include <QHostAddress>

namespace BootFiles {

namespace {
// A name as the file system reads it: '\' as '/', without empty or "." steps, so that
// "./pxe//x.efi" is the "pxe/x.efi" it writes ("..", which could climb, never gets here).
QByteArray plain(QByteArray name) {
    name.replace('\\', '/');
    QByteArrayList steps = name.split('/');
    steps.removeIf([](const QByteArray& step) { return step.isEmpty() || step == "."; });
    return steps.join('/');
}

// Names are found ignoring letter case, so they are compared that way.
bool same(const QByteArray& a, const QByteArray& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool named(const QByteArray& name, const QString& file) {
    return !file.isEmpty() && !file.contains(QLatin1String("://")) && same(name, plain(file.toUtf8()));
}

bool decides(const QByteArray& name, const EngineSettings& s, const QStringList& hostFiles) {
    if (name.isEmpty())
        return false;
    for (const QString* file : {&s.bootFileBios, &s.bootFileUefi, &s.bootFileUefiHttp,
                                &s.bootFileIpxe, &s.bootFileOther}) {
        if (named(name, *file))
            return true;
    }
    for (const QString& file : hostFiles)
        if (named(name, file))
            return true;
    // The chain's members, whichever shim is offered, and GRUB's configuration always:
    // the chain reads it from wherever the LAN's DHCP server sends it too.
    const QByteArray shim = s.bootFileUefi.isEmpty() ? QByteArray(SecureBoot::kDefaultShim)
                                                     : plain(s.bootFileUefi.toUtf8());
    const SecureBoot::Chain chain = SecureBoot::Check(shim, [](const QByteArray&) { return false; });
    for (const SecureBoot::Member& member : chain.members)
        for (const QByteArray& member_name : member.names)
            if (same(name, member_name))
                return true;
    // Windows PE's parts, in the folders the menu looks into.
    if (s.menu && BootMenu::IsWinPePart(QString::fromUtf8(name)))
        return true;
    // A Pi reads its files from the root or from a folder of its own.
    if (s.raspberryPi && RaspberryPi::DecidesBoot(name))
        return true;
    return !name.contains('/') && BootMenu::DecidesBoot(QString::fromUtf8(name));
}
} // namespace

bool Guarded(const EngineSettings& s) { return s.proxyDhcp || s.dhcpEnabled || s.menu; }

bool DecidesBoot(const QByteArray& asked, const EngineSettings& s, const QStringList& hostFiles) {
    if (!Guarded(s))
        return false;
    const QByteArray name = plain(asked);
    if (decides(name, s, hostFiles))
        return true;
    // A client's own folder is read before the working folder: the same names in it
    // decide what that client boots.
    const qsizetype slash = name.indexOf('/');
    return s.clientFolders && slash > 0 &&
           !QHostAddress(QString::fromLatin1(name.left(slash))).isNull() &&
           decides(name.mid(slash + 1), s, hostFiles);
}

} // namespace BootFiles
