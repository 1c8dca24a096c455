#include "engine/boot/LiveIso.h"

#include "engine/boot/BootMenu.h"

#include <QUrl>
#include <algorithm>

namespace LiveIso {

namespace {
bool safe(const QString& member) { return BootMenu::SafeName(member.toUtf8()); }

// The member in folder `folder` whose name starts with `prefix` (any case), the first
// when sorted; empty when none.
QStringList inFolder(const QStringList& sorted, const QString& folder, const QString& prefix) {
    QStringList out;
    for (const QString& m : sorted) {
        if (!m.startsWith(folder, Qt::CaseInsensitive))
            continue;
        const QString base = m.mid(folder.size());
        if (!base.contains(QLatin1Char('/')) && base.startsWith(prefix, Qt::CaseInsensitive))
            out.append(m);
    }
    return out;
}

QString exactly(const QStringList& sorted, const QString& name) {
    for (const QString& m : sorted)
        if (m.compare(name, Qt::CaseInsensitive) == 0)
            return m;
    return {};
}

QString baseOf(const QString& m) { return m.mid(m.lastIndexOf(QLatin1Char('/')) + 1); }

// Debian live: live/vmlinuz* with the live/initrd* of its version (as the menu pairs a
// folder's kernels), and the squashfs its fetch= takes.
LiveBoot debianLive(const QStringList& sorted) {
    LiveBoot b;
    const QString folder = QStringLiteral("live/");
    QStringList roots = inFolder(sorted, folder, QString());
    roots.erase(std::remove_if(roots.begin(), roots.end(),
                               [](const QString& m) {
                                   return !m.endsWith(QLatin1String(".squashfs"),
                                                      Qt::CaseInsensitive);
                               }),
                roots.end());
    const QStringList initrds = inFolder(sorted, folder, QStringLiteral("initrd"));
    for (const QString& kernel : inFolder(sorted, folder, QStringLiteral("vmlinuz"))) {
        const QString key = BootMenu::KernelKey(baseOf(kernel));
        for (const QString& initrd : initrds) {
            if (BootMenu::InitrdKey(baseOf(initrd)) == key && !roots.isEmpty()) {
                b = {Layout::DebianLive, kernel, initrd, roots.first()};
                return b;
            }
        }
    }
    return b;
}
} // namespace

LiveBoot Recognise(const QStringList& members) {
    QStringList sorted = members;
    std::sort(sorted.begin(), sorted.end());
    LiveBoot b = debianLive(sorted);
    if (b.layout == Layout::None) {
        const QStringList initrds =
            inFolder(sorted, QStringLiteral("casper/"), QStringLiteral("initrd"));
        const QString kernel = exactly(sorted, QStringLiteral("casper/vmlinuz"));
        if (!kernel.isEmpty() && !initrds.isEmpty())
            b = {Layout::Casper, kernel, initrds.first(), {}};
    }
    if (b.layout == Layout::None) {
        const QString kernel = exactly(sorted, QStringLiteral("images/pxeboot/vmlinuz"));
        const QString initrd = exactly(sorted, QStringLiteral("images/pxeboot/initrd.img"));
        if (!kernel.isEmpty() && !initrd.isEmpty())
            b = {Layout::Dracut, kernel, initrd, {}};
    }
    if (b.layout == Layout::None) {
        const QString kernel = exactly(sorted, QStringLiteral("arch/boot/x86_64/vmlinuz-linux"));
        const QString initrd =
            exactly(sorted, QStringLiteral("arch/boot/x86_64/initramfs-linux.img"));
        if (!kernel.isEmpty() && !initrd.isEmpty())
            b = {Layout::Arch, kernel, initrd, {}};
    }
    // A member's name goes into the script as part of a URL: one that could be more than
    // a name there makes no entry, as a file of the folder would not.
    if (!safe(b.kernel) || !safe(b.initrd) || (!b.root.isEmpty() && !safe(b.root)))
        return {};
    return b;
}

QString LiveBoot::Params(const QString& isoUrl, const QString& memberUrl) const {
    switch (layout) {
    case Layout::DebianLive:
        return QStringLiteral("boot=live components fetch=%1/%2 ip=dhcp")
            .arg(memberUrl, QString::fromLatin1(QUrl::toPercentEncoding(root, "/-._~")));
    case Layout::Casper:
        return QStringLiteral("boot=casper netboot=url url=%1 ip=dhcp").arg(isoUrl);
    case Layout::Dracut: return QStringLiteral("root=live:%1 rd.live.image ip=dhcp").arg(isoUrl);
    case Layout::Arch:
        return QStringLiteral("archisobasedir=arch archiso_http_srv=%1/ ip=dhcp").arg(memberUrl);
    case Layout::None: break;
    }
    return {};
}

QString LiveBoot::Name() const {
    switch (layout) {
    case Layout::DebianLive: return QStringLiteral("Debian live");
    case Layout::Casper: return QStringLiteral("Ubuntu live, loads the whole ISO into memory");
    case Layout::Dracut: return QStringLiteral("Fedora live, loads the whole ISO into memory");
    case Layout::Arch: return QStringLiteral("Arch live");
    case Layout::None: break;
    }
    return {};
}

} // namespace LiveIso
