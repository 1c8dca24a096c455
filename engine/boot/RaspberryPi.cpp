#include "engine/boot/RaspberryPi.h"

#include <QList>

namespace RaspberryPi {

namespace {
// The Raspberry Pi Foundation's block and Raspberry Pi (Trading) Ltd's in the IEEE
// registry (Debian 12's ieee-data holds the first four; the last two came since).
constexpr const char* kBlocks[] = {"b8:27:eb", "dc:a6:32", "e4:5f:01", "28:cd:c1",
                                   "d8:3a:dd", "2c:cf:67"};

QByteArray lastStep(const QByteArray& name) { return name.mid(name.lastIndexOf('/') + 1); }

// The Pi 3's signature look; the Pi 4/5 bootloader's EEPROM update and recovery files
// (in its own order: vl805.sig, pieeprom.sig, pieeprom.upd, recover4.elf, fixup4rc.dat,
// recovery.elf, fixup_rc.dat); the firmware's optional files.
constexpr const char* kProbes[] = {
    "bootsig.bin",  "vl805.sig",    "vl805.bin",    "pieeprom.sig", "pieeprom.upd",
    "recover4.elf", "fixup4rc.dat", "recovery.elf", "fixup_rc.dat", "recovery.bin",
    "config.txt",   "dt-blob.bin"};
// Tried in the per-device folder first; missing, the bootloader uses the root.
constexpr const char* kFolderFirst[] = {"start.elf", "start4.elf"};
} // namespace

bool HasPiMac(const QString& macText) {
    for (const char* block : kBlocks)
        if (macText.startsWith(QLatin1String(block), Qt::CaseInsensitive))
            return true;
    return false;
}

bool MarksPi(const QString& hostFile) {
    for (const char* name : {kFirstFile, "start.elf", "start4.elf"})
        if (hostFile.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray VendorOptions() {
    const QByteArray item("Raspberry Pi Boot   ");
    QByteArray out("\x06\x01\x03", 3);            // discovery control: no broadcast, no multicast
    out.append("\x0a\x04\x00PXE", 6);             // menu prompt: no wait, "PXE"
    out.append(char(9)).append(char(3 + item.size())); // the boot menu: one item
    out.append("\x00\x00", 2).append(char(item.size())).append(item);
    out.append(char(0xff));
    return out;
}

bool IsOptionalProbe(const QByteArray& requested) {
    QByteArray name = requested;
    while (name.startsWith('/'))
        name.remove(0, 1);
    const QByteArray base = lastStep(name);
    const int folders = int(name.count('/'));
    if (folders > 1)
        return false;
    // The per-device folder is tried first; missing, the bootloader uses the root.
    if (folders == 1)
        for (const char* first : kFolderFirst)
            if (base == first)
                return true;
    for (const char* probe : kProbes)
        if (base == probe)
            return true;
    return false;
}

QList<QByteArray> OptionalProbes() {
    QList<QByteArray> out;
    for (const char* probe : kProbes)
        out << QByteArray(probe) << QByteArray("*/") + probe;
    for (const char* first : kFolderFirst)
        out << QByteArray("*/") + first;
    return out;
}

bool DecidesBoot(const QByteArray& name) {
    QList<QByteArray> steps = name.toLower().split('/');
    if (steps.size() >= 2 && steps[steps.size() - 2] == "overlays")
        steps.removeAt(steps.size() - 2); // overlays/ beside the device trees
    if (steps.size() > 2)
        return false;
    const QByteArray& base = steps.last();
    const auto has = [&base](const char* prefix, const char* suffix) {
        return base.startsWith(prefix) && base.endsWith(suffix);
    };
    return IsOptionalProbe(base) || base == kFirstFile || base == "cmdline.txt" ||
           has("start", ".elf") || has("fixup", ".dat") || has("kernel", ".img") ||
           has("armstub", ".bin") || has("", ".dtb") || has("", ".dtbo") || has("initramfs", "");
}

} // namespace RaspberryPi
