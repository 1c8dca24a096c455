#include "engine/http/HttpService.h"

#include <QtTest>

// What HTTP says a file is: UEFI HTTP boot loads an EFI program, or mounts an ISO or a
// disk image, only under its own type.
class TestContentType : public QObject {
    Q_OBJECT
private slots:
    void byEnding_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("EFI program") << QByteArray("boot.efi") << QByteArray("application/efi");
        QTest::newRow("EFI, capitals, in a folder")
            << QByteArray("EFI/BOOT/BOOTX64.EFI") << QByteArray("application/efi");
        QTest::newRow("ISO") << QByteArray("debian-12.iso") << QByteArray("application/vnd.efi-iso");
        QTest::newRow("ISO, mixed case") << QByteArray("Live.Iso") << QByteArray("application/vnd.efi-iso");
        QTest::newRow("disk image") << QByteArray("disk.img") << QByteArray("application/vnd.efi-img");
        QTest::newRow("disk image, capitals") << QByteArray("DISK.IMG") << QByteArray("application/vnd.efi-img");
        QTest::newRow("kernel") << QByteArray("vmlinuz") << QByteArray("application/octet-stream");
        QTest::newRow("an ending inside the name") << QByteArray("boot.efi.bak")
                                                   << QByteArray("application/octet-stream");
        QTest::newRow("the ending alone, no dot") << QByteArray("efi") << QByteArray("application/octet-stream");
        QTest::newRow("iPXE script") << QByteArray("menu.ipxe") << QByteArray("application/octet-stream");
    }
    void byEnding() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, type);
        QCOMPARE(QByteArray(CHttpService::ContentType(name)), type);
    }
};

QTEST_GUILESS_MAIN(TestContentType)
#include "tst_contenttype.moc"
