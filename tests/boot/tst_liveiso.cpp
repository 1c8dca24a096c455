#include "engine/boot/LiveIso.h"

#include <QtTest>

// Which live layout an ISO's member list is, the kernel and initrd it boots, and the
// parameters that make it fetch its root over HTTP.
class TestLiveIso : public QObject {
    Q_OBJECT

private slots:
    void layoutsFromMembers_data() {
        QTest::addColumn<QStringList>("members");
        QTest::addColumn<int>("layout");
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<QString>("initrd");
        QTest::addColumn<QString>("params"); // for the image at http://s/x.iso
        using L = LiveIso::Layout;
        const QString debianParams =
            "boot=live components fetch=http://s/x.iso/live/filesystem.squashfs ip=dhcp";
        QTest::newRow("Debian live: two versions, each kernel with its own initrd")
            << QStringList{"live/vmlinuz-6.1.0-2-amd64", "live/initrd.img-6.1.0-1-amd64",
                           "live/filesystem.squashfs", "live/vmlinuz-6.1.0-1-amd64",
                           "live/initrd.img-6.1.0-2-amd64", "isolinux/isolinux.bin"}
            << int(L::DebianLive) << "live/vmlinuz-6.1.0-1-amd64"
            << "live/initrd.img-6.1.0-1-amd64" << debianParams;
        QTest::newRow("Debian live in upper case (plain ISO 9660 names)")
            << QStringList{"LIVE/VMLINUZ", "LIVE/INITRD.IMG", "LIVE/FILESYSTEM.SQUASHFS"}
            << int(L::DebianLive) << "LIVE/VMLINUZ" << "LIVE/INITRD.IMG"
            << "boot=live components fetch=http://s/x.iso/LIVE/FILESYSTEM.SQUASHFS ip=dhcp";
        QTest::newRow("Debian live without a root image: none")
            << QStringList{"live/vmlinuz", "live/initrd.img"} << int(L::None) << "" << "" << "";
        QTest::newRow("a kernel one folder too deep: none")
            << QStringList{"live/x/vmlinuz", "live/x/initrd.img", "live/filesystem.squashfs"}
            << int(L::None) << "" << "" << "";
        QTest::newRow("casper")
            << QStringList{"casper/vmlinuz", "casper/initrd", "casper/filesystem.squashfs"}
            << int(L::Casper) << "casper/vmlinuz" << "casper/initrd"
            << "boot=casper netboot=url url=http://s/x.iso ip=dhcp";
        QTest::newRow("casper without an initrd: none")
            << QStringList{"casper/vmlinuz", "casper/filesystem.squashfs"} << int(L::None) << ""
            << "" << "";
        QTest::newRow("Debian live and casper both: Debian live, first in order")
            << QStringList{"casper/vmlinuz", "casper/initrd", "live/vmlinuz", "live/initrd.img",
                           "live/filesystem.squashfs"}
            << int(L::DebianLive) << "live/vmlinuz" << "live/initrd.img" << debianParams;
        QTest::newRow("dracut")
            << QStringList{"images/pxeboot/vmlinuz", "images/pxeboot/initrd.img",
                           "LiveOS/squashfs.img"}
            << int(L::Dracut) << "images/pxeboot/vmlinuz" << "images/pxeboot/initrd.img"
            << "root=live:http://s/x.iso rd.live.image ip=dhcp";
        QTest::newRow("Arch")
            << QStringList{"arch/boot/x86_64/vmlinuz-linux", "arch/boot/x86_64/initramfs-linux.img",
                           "arch/x86_64/airootfs.sfs"}
            << int(L::Arch) << "arch/boot/x86_64/vmlinuz-linux"
            << "arch/boot/x86_64/initramfs-linux.img"
            << "archisobasedir=arch archiso_http_srv=http://s/x.iso/ ip=dhcp";
        QTest::newRow("names that would be more than a name in a script: none")
            << QStringList{"live/vmlinuz${x}", "live/initrd${x}", "live/filesystem.squashfs"}
            << int(L::None) << "" << "" << "";
        QTest::newRow("an unsafe root image: none")
            << QStringList{"live/vmlinuz", "live/initrd.img", "live/a;reboot.squashfs"}
            << int(L::None) << "" << "" << "";
        QTest::newRow("an unsafe casper initrd: none")
            << QStringList{"casper/vmlinuz", "casper/initrd' x"} << int(L::None) << "" << "" << "";
        QTest::newRow("no layout") << QStringList{"boot/grub/grub.cfg", "vmlinuz", "initrd.img"}
                                   << int(L::None) << "" << "" << "";
    }

    void layoutsFromMembers() {
        QFETCH(QStringList, members);
        QFETCH(int, layout);
        QFETCH(QString, kernel);
        QFETCH(QString, initrd);
        QFETCH(QString, params);
        const LiveIso::LiveBoot b = LiveIso::Recognise(members);
        QCOMPARE(int(b.layout), layout);
        QCOMPARE(b.kernel, kernel);
        QCOMPARE(b.initrd, initrd);
        QCOMPARE(b.Params(QStringLiteral("http://s/x.iso"), QStringLiteral("http://s/x.iso")), params);
    }
};

QTEST_GUILESS_MAIN(TestLiveIso)
#include "tst_liveiso.moc"
