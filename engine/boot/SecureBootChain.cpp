#include "engine/boot/SecureBootChain.h"

#include <QStringList>

namespace SecureBoot {

namespace {
struct Arch {
    const char* efi;  // in shim's and GRUB's file names: shimx64.efi, grubx64.efi
    const char* grub; // GRUB's platform folder beneath its prefix
};
constexpr Arch kArches[] = {{"x64", "x86_64-efi"}, {"aa64", "arm64-efi"}, {"ia32", "i386-efi"}};

// The architecture of a shim by its name; x64 for a shim renamed past recognition.
const Arch& archOf(const QByteArray& shimName) {
    const QByteArray base = shimName.mid(shimName.lastIndexOf('/') + 1).toLower();
    for (const Arch& a : kArches) {
        if (base == QByteArray("shim") + a.efi + ".efi")
            return a;
    }
    return kArches[0];
}

QByteArray withoutLeadingSlashes(const QByteArray& name) {
    int lead = 0;
    while (lead < name.size() && (name[lead] == '/' || name[lead] == '\\'))
        ++lead;
    return name.mid(lead);
}
} // namespace

bool Chain::complete() const {
    for (const Member& m : members) {
        if (!m.present())
            return false;
    }
    return true;
}

QString Chain::missingText() const {
    QStringList missing;
    for (const Member& m : members) {
        if (!m.present())
            missing.append(QStringLiteral("%1 (%2)").arg(m.role, QString::fromLatin1(m.names.join(" or "))));
    }
    return missing.join(QStringLiteral(", "));
}

Chain Check(const QByteArray& shimName, const FolderView& exists) {
    const Arch& arch = archOf(shimName);
    Chain chain;
    chain.members = {
        {QStringLiteral("shim"), {withoutLeadingSlashes(shimName)}, {}},
        // At the root: shim drops its own folder from the path it asks for.
        {QStringLiteral("signed GRUB"), {QByteArray("grub") + arch.efi + ".efi"}, {}},
        {QStringLiteral("MokManager"), {QByteArray("mm") + arch.efi + ".efi"}, {}},
        // The signed GRUB's prefix is /grub. Its built-in script looks for
        // $prefix/x86_64-efi/grub.cfg first, but with `-e`, which lists the folder: TFTP
        // cannot, so over TFTP only $prefix/grub.cfg is ever read.
        {QStringLiteral("GRUB configuration"), {"grub/grub.cfg"}, {}},
    };
    for (Member& m : chain.members) {
        for (const QByteArray& name : std::as_const(m.names)) {
            if (exists(name)) {
                m.found = name;
                break;
            }
        }
    }
    return chain;
}

QList<QByteArray> OptionalProbes() {
    // shim 16: SKU- and SBAT-revocation updates and extra certificates it applies when
    // they are beside it (the folder dropped, as for GRUB).
    QList<QByteArray> names{"revocations_sku.efi", "revocations_sbat.efi", "shim_certificate_0.efi"};
    // GRUB: the lists its normal mode reads beneath the prefix to know which module
    // gives a command, file system, cipher or terminal; the signed GRUB has its modules
    // built in and loads none.
    static const char* const kLists[] = {"command.lst", "fs.lst", "crypto.lst", "terminal.lst"};
    for (const Arch& a : kArches) {
        for (const char* list : kLists)
            names.append(QByteArray("grub/") + a.grub + '/' + list);
    }
    return names;
}

bool IsOptionalProbe(const QByteArray& requested) {
    return OptionalProbes().contains(withoutLeadingSlashes(requested));
}

QList<Source> PackageSources() {
    return {
        {QStringLiteral("/usr/lib/shim/shimx64.efi.signed"), "shimx64.efi", true},
        {QStringLiteral("/usr/lib/grub/x86_64-efi-signed/grubnetx64.efi.signed"), "grubx64.efi",
         true},
        {QStringLiteral("/usr/lib/shim/mmx64.efi.signed"), "mmx64.efi", false},
    };
}

QByteArray StarterConfig() {
    return "# Read by the signed GRUB over TFTP ($prefix is /grub on this server).\n"
           "# Under Secure Boot it loads only kernels signed by a key shim trusts.\n"
           "set timeout=5\n"
           "menuentry \"Linux (edit this entry)\" {\n"
           "    linux /vmlinuz\n"
           "    initrd /initrd.img\n"
           "}\n";
}

} // namespace SecureBoot
