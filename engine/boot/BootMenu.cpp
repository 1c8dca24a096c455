#include "engine/boot/BootMenu.h"

#include "engine/files/NameRules.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <algorithm>

namespace BootMenu {

namespace {
QString baseName(const QString& file) { return file.mid(file.lastIndexOf(QLatin1Char('/')) + 1); }
QString folderOf(const QString& file) { return file.left(file.lastIndexOf(QLatin1Char('/')) + 1); }

bool isKernel(const QString& base) {
    return base.startsWith(QLatin1String("vmlinuz"), Qt::CaseInsensitive) ||
           base.startsWith(QLatin1String("linux"), Qt::CaseInsensitive);
}

bool endsWith(const QString& name, const char* extension) {
    return name.endsWith(QLatin1String(extension), Qt::CaseInsensitive);
}

// A machine's own script: "boot-52-54-00-12-34-56.ipxe" gives "52-54-00-12-34-56".
QString machineOf(const QString& base) {
    static const QRegularExpression kMachine(
        QStringLiteral("^boot-((?:[0-9a-f]{2}-){5}[0-9a-f]{2})\\.ipxe$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = kMachine.match(base);
    return m.hasMatch() ? m.captured(1).toLower() : QString();
}

QString urlOf(const QString& file, const Options& o) {
    const QByteArray path = QUrl::toPercentEncoding(file, "/-._~");
    if (const QString cache = CacheUrl(file, o); !cache.isEmpty())
        return cache;
    if (o.httpPort != 0)
        return QStringLiteral("http://%1:%2/%3").arg(o.server).arg(o.httpPort).arg(QLatin1String(path));
    return QStringLiteral("tftp://%1/%2").arg(o.server, QLatin1String(path));
}
} // namespace

// "vmlinuz-6.1.0-18-amd64" and "initrd.img-6.1.0-18-amd64", "linux" and "initrd.gz",
// "vmlinuz-lts" and "initrd-lts.img" pair.
QString KernelKey(const QString& base) {
    for (const char* prefix : {"vmlinuz", "linux"}) {
        if (base.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            return base.mid(int(qstrlen(prefix)));
    }
    return {};
}
QString InitrdKey(const QString& base) {
    QString key = base.mid(6); // after "initrd"
    if (key.startsWith(QLatin1String(".img"), Qt::CaseInsensitive))
        key.remove(0, 4);
    static const QRegularExpression kTail(QStringLiteral("\\.(img|gz|xz|zst|lz4|cpio)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return key.remove(kTail);
}

QString CacheUrl(const QString& file, const Options& o) {
    return o.httpPort != 0
               ? QString::fromLatin1(HttpRedirect::Target(o.redirect, file.toUtf8(), o.sizes.value(file, -1)))
               : QString();
}

bool SafeName(const QByteArray& name) {
    if (name.isEmpty() || name.size() > kMaxName || HasControlCharacter(name) || name.startsWith('-'))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(name);
    if (utf8.hasError())
        return false;
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter)
            return false;
    for (const char* bad : {"${", "&&", "||", ";", "\"", "'", "\\", "`"})
        if (name.contains(bad))
            return false;
    return !name.startsWith('#') && !name.contains(" #");
}

bool DecidesBoot(const QString& name) {
    const QString base = baseName(name);
    return base.compare(QLatin1String(kUserName), Qt::CaseInsensitive) == 0 ||
           base.compare(QLatin1String(kWimboot), Qt::CaseInsensitive) == 0 ||
           base.compare(QLatin1String(kGeneratedName), Qt::CaseInsensitive) == 0 ||
           !machineOf(base).isEmpty() || endsWith(base, ".ipxe") || endsWith(base, ".efi") ||
           endsWith(base, ".iso") || isKernel(base) ||
           base.startsWith(QLatin1String("initrd"), Qt::CaseInsensitive);
}

QStringList WinPeParts() {
    return {QStringLiteral("boot/bcd"), QStringLiteral("boot/boot.sdi"), QStringLiteral("sources/boot.wim")};
}

bool IsWinPePart(const QString& name) {
    QStringList parts = WinPeParts();
    parts << QStringLiteral("bootmgr") << QStringLiteral("bootmgr.exe");
    for (const QString& part : std::as_const(parts)) {
        if (!name.endsWith(part, Qt::CaseInsensitive))
            continue;
        const QString folder = name.left(name.size() - part.size());
        if (folder.isEmpty() || (folder.endsWith(QLatin1Char('/')) && folder.count(QLatin1Char('/')) == 1))
            return true;
    }
    return false;
}

namespace {
// The file listed under `name` in any letter case; empty when none is.
QString listedAs(const QStringList& files, const QString& name) {
    for (const QString& file : files)
        if (file.compare(name, Qt::CaseInsensitive) == 0)
            return file;
    return {};
}

// Each folder holding all Windows PE needs, while wimboot is there to load it.
QList<Entry> winPe(const QStringList& files) {
    QList<Entry> out;
    if (listedAs(files, QLatin1String(kWimboot)).isEmpty())
        return out;
    for (const QString& file : files) {
        const QString base = baseName(file);
        if (base.compare(QLatin1String("bootmgr"), Qt::CaseInsensitive) != 0 &&
            base.compare(QLatin1String("bootmgr.exe"), Qt::CaseInsensitive) != 0)
            continue;
        Entry e{Entry::WinPe, file, {}, {file}};
        for (const QString& part : WinPeParts()) {
            const QString found = listedAs(files, folderOf(file) + part);
            if (found.isEmpty())
                break;
            e.parts.append(found);
        }
        if (e.parts.size() == 4) {
            e.parts.append(listedAs(files, QLatin1String(kWimboot)));
            out.append(e);
        }
    }
    return out;
}
} // namespace

QList<Entry> Entries(const QStringList& listed, const Options& options) {
    QStringList files;
    for (const QString& file : listed)
        if (SafeName(file.toUtf8()))
            files.append(file);
    QStringList sorted = files;
    std::sort(sorted.begin(), sorted.end());
    QList<Entry> kernels, scripts, tools, isos;
    for (const QString& file : std::as_const(sorted)) {
        const QString base = baseName(file);
        // By extension first: "linuxmint.iso" is an ISO, not a kernel.
        if (endsWith(base, ".ipxe")) {
            if (base != QLatin1String(kUserName) && base != QLatin1String(kGeneratedName) &&
                machineOf(base).isEmpty())
                scripts.append({Entry::Script, file, {}});
        } else if (endsWith(base, ".iso")) {
            if (options.httpPort != 0) // sanboot needs a protocol with random access
                isos.append({Entry::Iso, file, {}});
        } else if (isKernel(base)) {
            Entry e{Entry::Kernel, file, {}};
            const QString key = KernelKey(base);
            for (const QString& other : std::as_const(sorted)) {
                const QString otherBase = baseName(other);
                if (folderOf(other) == folderOf(file) &&
                    otherBase.startsWith(QLatin1String("initrd"), Qt::CaseInsensitive) &&
                    InitrdKey(otherBase) == key) {
                    e.initrd = other;
                    break;
                }
            }
            kernels.append(e);
        } else if (endsWith(base, ".efi")) {
            tools.append({Entry::EfiTool, file, {}});
        }
    }
    QList<Entry> windows = winPe(files);
    std::sort(windows.begin(), windows.end(),
              [](const Entry& a, const Entry& b) { return a.file < b.file; });
    return kernels + scripts + tools + isos + windows;
}

QString Label(const Entry& e) {
    if (e.kind == Entry::WinPe) {
        const QString folder = folderOf(e.file);
        return folder.isEmpty() ? QStringLiteral("Windows PE") : QStringLiteral("Windows PE (%1)").arg(folder);
    }
    return e.initrd.isEmpty() ? e.file : e.file + QStringLiteral(" + ") + baseName(e.initrd);
}

namespace {
QString label(const Entry& e, const Options& o) {
    const LiveIso::LiveBoot live = o.live.value(e.file);
    if (e.kind == Entry::Iso && live.layout != LiveIso::Layout::None)
        return QStringLiteral("%1 (%2)").arg(e.file, live.Name());
    return Label(e);
}
} // namespace

QByteArray Generate(const QStringList& files, const Options& options) {
    if (files.contains(QLatin1String(kUserName)))
        return {};
    QStringList out{QStringLiteral("#!ipxe"),
                    QStringLiteral("# Written from the working folder; a menu.ipxe of your "
                                   "own is offered instead.")};
    QStringList machines = files;
    std::sort(machines.begin(), machines.end());
    for (const QString& file : std::as_const(machines)) {
        const QString mac = machineOf(file);
        if (!mac.isEmpty() && !file.contains(QLatin1Char('/')))
            out << QStringLiteral("iseq ${mac:hexhyp} %1 && chain %2 ||").arg(mac, urlOf(file, options));
    }
    const QList<Entry> entries = Entries(files, options);
    if (entries.isEmpty()) {
        out << QStringLiteral("echo Nothing to boot in the server's folder") << QStringLiteral("exit");
        return out.join(QLatin1Char('\n')).toUtf8() + '\n';
    }
    int chosen = 0;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].file == options.defaultEntry)
            chosen = i;
    }
    out << QStringLiteral("menu Boot from %1").arg(options.server);
    for (int i = 0; i < entries.size(); ++i) {
        out << QStringLiteral("item e%1 %2").arg(i + 1).arg(label(entries[i], options));
    }
    out << QStringLiteral("choose --default e%1 --timeout %2 target && goto ${target} || exit")
               .arg(chosen + 1)
               .arg(std::max(0, options.seconds) * 1000);
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        out << QStringLiteral(":e%1").arg(i + 1);
        switch (e.kind) {
        case Entry::Kernel:
            if (e.initrd.isEmpty()) {
                out << QStringLiteral("kernel %1").arg(urlOf(e.file, options));
            } else {
                // EFI kernels find their initrd by the name given on the command line.
                out << QStringLiteral("kernel %1 initrd=initrd").arg(urlOf(e.file, options))
                    << QStringLiteral("initrd --name initrd %1").arg(urlOf(e.initrd, options));
            }
            out << QStringLiteral("boot");
            break;
        case Entry::Script:
        case Entry::EfiTool: out << QStringLiteral("chain %1").arg(urlOf(e.file, options)); break;
        case Entry::Iso: {
            const LiveIso::LiveBoot live = options.live.value(e.file);
            if (live.layout == LiveIso::Layout::None) {
                out << QStringLiteral("sanboot %1").arg(urlOf(e.file, options));
                break;
            }
            // Members come from inside the image, here (the cache holds no such name); a
            // whole-image fetch follows the image's own URL, redirected as a file is.
            const auto member = [&](const QString& name) { return urlOf(e.file + QLatin1Char('/') + name, options); };
            const QString base = member(QString());
            const QString params = live.Params(urlOf(e.file, options), base.left(base.size() - 1));
            out << QStringLiteral("kernel %1 initrd=initrd %2").arg(member(live.kernel), params)
                << QStringLiteral("initrd --name initrd %1").arg(member(live.initrd))
                << QStringLiteral("boot");
            break;
        }
        case Entry::WinPe: {
            // wimboot finds each part by the name it is given: bootmgr, BCD, boot.sdi,
            // boot.wim.
            if (options.httpPort == 0)
                out << QStringLiteral("echo Windows PE over TFTP takes minutes: turn the server's HTTP on");
            out << QStringLiteral("kernel %1").arg(urlOf(e.parts[4], options));
            static const char* const kNames[] = {"bootmgr", "BCD", "boot.sdi", "boot.wim"};
            for (int k = 0; k < 4; ++k)
                out << QStringLiteral("initrd %1 %2").arg(urlOf(e.parts[k], options), QLatin1String(kNames[k]));
            out << QStringLiteral("boot");
            break;
        }
        }
    }
    return out.join(QLatin1Char('\n')).toUtf8() + '\n';
}

} // namespace BootMenu
