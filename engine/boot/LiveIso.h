#pragma once

#include <QString>
#include <QStringList>

// Live ISOs booted by their own kernel and initrd, served from inside the image, with the
// parameters that make them fetch their root from our HTTP: sanboot gets most of them
// only as far as the kernel, which then cannot find the image. Pure: from the image's
// member list.
namespace LiveIso {

enum class Layout { None, DebianLive, Casper, Dracut, Arch };

struct LiveBoot {
    Layout layout = Layout::None;
    // Members of the image, as the image names them.
    QString kernel, initrd;
    QString root; // Debian live: the root file system image fetched by fetch=
    // The kernel's parameters, for the image at `isoUrl` (its own, for a fetch of the
    // whole image) and `memberUrl` (the image's local URL, below which members lie).
    QString Params(const QString& isoUrl, const QString& memberUrl) const;
    // "Debian live"; casper and dracut say they load the whole image into memory.
    QString Name() const;
};

// The first layout that matches, in the order Debian live, casper, dracut, Arch; names
// in any letter case. A layout whose files have names unsafe in a script is none.
LiveBoot Recognise(const QStringList& members);

} // namespace LiveIso
