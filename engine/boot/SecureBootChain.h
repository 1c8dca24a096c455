#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// The signed boot chain a Secure Boot PC fetches over TFTP: Microsoft-signed shim, which
// loads the distribution's signed GRUB (and MokManager when keys are to be enrolled),
// which reads its configuration beneath its built-in prefix /grub. What the chain needs
// beside the shim and which names it probes and may lack, learnt from Debian 12's shim
// 16.1 and signed network GRUB 2.06 on OVMF with Microsoft's keys. Pure: the folder is
// seen only through `FolderView`.
namespace SecureBoot {

// The shim offered when the chain is on and no UEFI boot file is set.
constexpr const char* kDefaultShim = "shimx64.efi";

// Whether a name (relative to the working folder, no leading slash) is a file there.
using FolderView = std::function<bool(const QByteArray& name)>;

struct Member {
    QString role;               // "shim", "signed GRUB", "MokManager", "GRUB configuration"
    QList<QByteArray> names;    // where it is looked for, first found wins
    QByteArray found;           // the name found; empty when missing
    bool present() const { return !found.isEmpty(); }
};

struct Chain {
    QList<Member> members; // in the order the chain fetches them
    bool complete() const;
    // The missing members as "signed GRUB (grubx64.efi), MokManager (mmx64.efi)"; empty
    // when complete.
    QString missingText() const;
};

// The chain behind `shimName` (a name in the folder, e.g. "shimx64.efi"). shim asks for
// GRUB and MokManager at the folder's root whatever folder it came from itself, and
// the architecture follows the shim's name (shimx64, shimaa64, shimia32).
Chain Check(const QByteArray& shimName, const FolderView& exists);

// A name a known chain probes on every boot and may lack (shim's revocation and
// certificate extras, GRUB's module lists): a missing one is no failure.
bool IsOptionalProbe(const QByteArray& requested);
// Those names, each as it is below the folder.
QList<QByteArray> OptionalProbes();

// What "fill the folder from the installed packages" copies: each pair is the installed
// file and the name it takes in the folder. Only files shipped by shim-signed,
// shim-helpers-amd64-signed and grub-efi-amd64-signed.
struct Source {
    QString installed;
    QByteArray name;
    bool required; // without it nothing is filled
};
QList<Source> PackageSources();
// The configuration the fill writes when the folder has none: a menu entry to edit.
QByteArray StarterConfig();

} // namespace SecureBoot
