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

bool WritesBootFile(IFileSystem& fs, const QString& root, const QByteArray& asked,
                    const EngineSettings& s, const QStringList& hostFiles) {
    if (!Guarded(s))
        return false;
    if (DecidesBoot(asked, s, hostFiles))
        return true;
    const QByteArray name = plain(asked);
    // A key without ':' is no file's (nothing beneath the folder answered for it).
    const auto key = [&fs, &root](const QByteArray& n) { return fs.canonical({root, n}); };
    const QString target = key(name);
    if (name.isEmpty() || !target.contains(QLatin1Char(':')))
        return false;
    // A file not there yet is keyed by its folder's key and its name: through a folder
    // link ("k" -> ".") it is created where another name decides a boot ("vmlinuz-9").
    const qsizetype slash = target.indexOf(QLatin1Char('/'));
    const QString targetFolder = slash > 0 ? target.left(slash) : QString();
    const QByteArray base = name.mid(name.lastIndexOf('/') + 1);
    const auto reaches = [&](const QByteArray& other) {
        return !other.isEmpty() && !same(other, name) && DecidesBoot(other, s, hostFiles) &&
               key(other) == target;
    };
    // The files named outright, at any depth.
    for (const QString* file : {&s.bootFileBios, &s.bootFileUefi, &s.bootFileUefiHttp,
                                &s.bootFileIpxe, &s.bootFileOther})
        if (!file->contains(QLatin1String("://")) && reaches(plain(file->toUtf8())))
            return true;
    for (const QString& file : hostFiles)
        if (!file.contains(QLatin1String("://")) && reaches(plain(file.toUtf8())))
            return true;
    // The rest go by their names' forms: the folder's entries, level by level, with a
    // bound on the entries looked into so that a huge tree cannot stall every upload.
    constexpr int kMostLooks = 4096;
    int looks = 0;
    QList<QByteArray> folders{QByteArray()};
    for (int depth = 0; depth < 3 && !folders.isEmpty(); ++depth) {
        QList<QByteArray> below;
        for (const QByteArray& folder : folders) {
            QList<QByteArray> names;
            FolderStamp stamp;
            if (++looks > kMostLooks)
                return false;
            const QByteArray here = folder.isEmpty() ? QByteArray(".") : folder;
            if (!fs.lookAtFolder({root, here}, &stamp, &names))
                continue;
            if (!targetFolder.isEmpty() && key(here) == targetFolder &&
                DecidesBoot(folder.isEmpty() ? base : folder + '/' + base, s, hostFiles))
                return true;
            for (const QByteArray& entry : names) {
                const QByteArray path = folder.isEmpty() ? entry : folder + '/' + entry;
                if (reaches(path))
                    return true;
                below.append(path);
            }
        }
        folders = below;
    }
    return false;
}

} // namespace BootFiles
