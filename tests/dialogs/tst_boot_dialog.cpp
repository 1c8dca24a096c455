#include "settings/BootDlg.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

// The Boot dialog shows what is stored and where the offers are answered, and takes
// boot files from the working folder only.
class TestBootDialog : public QObject {
    Q_OBJECT

private slots:
    void showsStoredValuesAndFolderNames() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        const QString root = dir.filePath(QStringLiteral("root"));
        QDir().mkpath(root + QStringLiteral("/efi"));
        store.WriteProfileString(CSettingsStore::kDirName, root);
        store.WriteProfileInt(CSettingsStore::kProxyDhcp, 1);
        store.WriteProfileString(CSettingsStore::kBootFileUefi, QStringLiteral("efi/snponly.efi"));
        CBootDlg dlg(store, QStringLiteral("eth0 (192.0.2.10)"));
        QVERIFY(dlg.ProxyDhcp());
        QCOMPARE(dlg.BootFile(CBootDlg::Uefi), QStringLiteral("efi/snponly.efi"));
        QCOMPARE(dlg.BootFile(CBootDlg::Bios), QString());
        dlg.findChild<QLineEdit*>(QStringLiteral("bootFileIpxe"))->setText(QStringLiteral(" boot.ipxe "));
        QCOMPARE(dlg.BootFile(CBootDlg::Ipxe), QStringLiteral("boot.ipxe"));
        QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("answersOn"))->text().contains("eth0 (192.0.2.10)"));

        // Browse: a file beneath the folder becomes its name there; one outside, nothing.
        for (const QString& name : {QStringLiteral("root/efi/snponly.efi"), QStringLiteral("outside.efi")}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(CBootDlg::NameInFolder(root, root + QStringLiteral("/efi/snponly.efi")),
                 QStringLiteral("efi/snponly.efi"));
        QCOMPARE(CBootDlg::NameInFolder(root, dir.filePath(QStringLiteral("outside.efi"))), QString());
        QCOMPARE(CBootDlg::NameInFolder(root, root + QStringLiteral("/../outside.efi")), QString());
    }
};

QTEST_MAIN(TestBootDialog)
#include "tst_boot_dialog.moc"
