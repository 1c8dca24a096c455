#include "engine/boot/SecureBootChain.h"

#include <QSet>
#include <QtTest>

// The Secure Boot chain from a folder's listing: which members are found where shim and
// GRUB look for them, and which names the chain may probe and lack.
class TestSecureBoot : public QObject {
    Q_OBJECT

    static SecureBoot::FolderView folder(const QList<QByteArray>& names) {
        const QSet<QByteArray> set(names.begin(), names.end());
        return [set](const QByteArray& name) { return set.contains(name); };
    }

private slots:
    void membersFoundWhereTheChainLooks() {
        const QList<QByteArray> debian = {"shimx64.efi", "grubx64.efi", "mmx64.efi",
                                          "grub/grub.cfg"};
        struct Case {
            const char* what;
            QByteArray shim;
            QList<QByteArray> files;
            QList<QByteArray> found; // per member: shim, GRUB, MokManager, configuration
            QString missing;
        };
        const QList<Case> cases = {
            {"the preset's layout", "shimx64.efi", debian,
             {"shimx64.efi", "grubx64.efi", "mmx64.efi", "grub/grub.cfg"}, {}},
            // GRUB tests for it with `-e`, which TFTP cannot answer: never read.
            {"configuration in the platform folder only", "/shimx64.efi",
             {"shimx64.efi", "grubx64.efi", "mmx64.efi", "grub/x86_64-efi/grub.cfg"},
             {"shimx64.efi", "grubx64.efi", "mmx64.efi", ""},
             "GRUB configuration (grub/grub.cfg)"},
            // shim asks for GRUB at the root, not beside itself in sb/.
            {"GRUB beside a shim in a folder", "sb/shimx64.efi",
             {"sb/shimx64.efi", "sb/grubx64.efi", "mmx64.efi", "grub/grub.cfg"},
             {"sb/shimx64.efi", "", "mmx64.efi", "grub/grub.cfg"},
             "signed GRUB (grubx64.efi)"},
            {"nothing but the shim", "shimx64.efi", {"shimx64.efi", "grub.cfg"},
             {"shimx64.efi", "", "", ""},
             "signed GRUB (grubx64.efi), MokManager (mmx64.efi), GRUB configuration "
             "(grub/grub.cfg)"},
            {"an arm64 chain", "shimaa64.efi",
             {"shimaa64.efi", "grubaa64.efi", "mmaa64.efi", "grub/grub.cfg"},
             {"shimaa64.efi", "grubaa64.efi", "mmaa64.efi", "grub/grub.cfg"}, {}},
            {"x64 members do not make an arm64 chain", "shimaa64.efi", debian,
             {"", "", "", "grub/grub.cfg"},
             "shim (shimaa64.efi), signed GRUB (grubaa64.efi), MokManager (mmaa64.efi)"},
            {"a renamed shim is taken for x64", "boot.efi",
             {"boot.efi", "grubx64.efi", "mmx64.efi", "grub/grub.cfg"},
             {"boot.efi", "grubx64.efi", "mmx64.efi", "grub/grub.cfg"}, {}},
        };
        for (const Case& c : cases) {
            const SecureBoot::Chain chain = SecureBoot::Check(c.shim, folder(c.files));
            QCOMPARE(chain.members.size(), c.found.size());
            for (int i = 0; i < c.found.size(); ++i)
                QVERIFY2(chain.members[i].found == c.found[i], c.what);
            QVERIFY2(chain.complete() == c.missing.isEmpty(), c.what);
            QCOMPARE(chain.missingText(), c.missing);
        }
    }

    void optionalProbes() {
        const struct {
            QByteArray name;
            bool optional;
        } cases[] = {
            {"revocations_sku.efi", true},
            {"/revocations_sbat.efi", true},
            {"shim_certificate_0.efi", true},
            {"/grub/x86_64-efi/command.lst", true},
            {"grub/x86_64-efi/fs.lst", true},
            {"/grub/x86_64-efi/crypto.lst", true},
            {"/grub/x86_64-efi/terminal.lst", true},
            {"/grub/arm64-efi/fs.lst", true},
            // What the chain cannot do without stays a failure.
            {"grubx64.efi", false},
            {"/grub/grub.cfg", false},
            {"mmx64.efi", false},
            // Only where the chain looks: not in another folder, nor a look-alike.
            {"sb/revocations_sku.efi", false},
            {"boot/grub/x86_64-efi/command.lst", false},
            {"/grub/x86_64-efi/command.lst.bak", false},
            {"", false},
        };
        for (const auto& c : cases)
            QVERIFY2(SecureBoot::IsOptionalProbe(c.name) == c.optional, c.name.constData());
    }

    void packageSourcesMakeACompleteChain() {
        // Laid out as the fill lays it (with its starter configuration), the chain is whole.
        QList<QByteArray> names{"grub/grub.cfg"};
        for (const SecureBoot::Source& s : SecureBoot::PackageSources())
            names.append(s.name);
        QVERIFY(SecureBoot::Check(SecureBoot::kDefaultShim, folder(names)).complete());
    }
};

QTEST_GUILESS_MAIN(TestSecureBoot)
#include "tst_secureboot.moc"
