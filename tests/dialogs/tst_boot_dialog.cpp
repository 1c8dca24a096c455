#include "ui/dialogs/BootDlg.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QClipboard>
#include <QPushButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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

    // With HTTP off a UEFI HTTP client gets no file name as a URL: the dialog says so.
    void uefiHttpSaysWhyUnanswered() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        for (const bool on : {false, true}) {
            store.WriteProfileInt(CSettingsStore::kHttpEnabled, on ? 1 : 0);
            store.WriteProfileInt(CSettingsStore::kHttpPort, 8080);
            CBootDlg dlg(store, QString());
            const QString text = dlg.findChild<QLabel*>(QStringLiteral("uefiHttpHelp"))->text();
            QVERIFY2(text.contains(QLatin1String("HTTP is off")) != on, qPrintable(text));
            QVERIFY2(text.contains(QLatin1String("not answered")) != on, qPrintable(text));
            QVERIFY2(text.contains(QLatin1String("8080")) == on, qPrintable(text));
        }
    }

    // The menu's group lists the entries a client will see (files only, kernels with
    // their initrd), offers them as the default and keeps a stored default that is gone.
    void menuShowsWhatAClientSees() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        const QString root = dir.filePath(QStringLiteral("root"));
        QDir().mkpath(root + QStringLiteral("/linux-tools"));
        for (const char* name : {"vmlinuz-6.1", "initrd.img-6.1", "a.ipxe", "notes.txt"}) {
            QFile f(root + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        store.WriteProfileString(CSettingsStore::kDirName, root);
        store.WriteProfileInt(CSettingsStore::kMenu, 1);
        store.WriteProfileString(CSettingsStore::kMenuDefault, QStringLiteral("a.ipxe"));
        store.WriteProfileInt(CSettingsStore::kMenuSeconds, 99999);
        {
            CBootDlg dlg(store, QString());
            auto* list = dlg.findChild<QListWidget*>(QStringLiteral("menuEntries"));
            QStringList shown;
            for (int i = 0; i < list->count(); ++i)
                shown << list->item(i)->text();
            QCOMPARE(shown, (QStringList{"vmlinuz-6.1 + initrd.img-6.1", "a.ipxe"}));
            QVERIFY(dlg.Menu());
            QCOMPARE(dlg.MenuDefault(), QStringLiteral("a.ipxe"));
            QCOMPARE(dlg.MenuSeconds(), SettingsTable::MenuSeconds.max);
            auto* combo = dlg.findChild<QComboBox*>(QStringLiteral("menuDefault"));
            combo->setCurrentIndex(0);
            QCOMPARE(dlg.MenuDefault(), QString()); // the first entry
            dlg.findChild<QCheckBox*>(QStringLiteral("menu"))->setChecked(false);
            QVERIFY(!combo->isEnabled());
        }
        QFile::remove(root + QStringLiteral("/a.ipxe"));
        CBootDlg dlg(store, QString());
        QCOMPARE(dlg.MenuDefault(), QStringLiteral("a.ipxe"));
    }

    // The preview names the cache for what the written menu fetches from it: over
    // HTTP only, above the size only, and not with a base that is no URL.
    void menuPreviewFollowsTheRedirect_data() {
        QTest::addColumn<bool>("http");
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("above");
        QTest::addColumn<QString>("shown");
        const QString plain = QStringLiteral("vmlinuz-6.1 + initrd.img-6.1");
        QTest::newRow("no redirect") << true << "" << 1000 << plain;
        QTest::newRow("large initrd from the cache")
            << true << "https://cache.example/boot" << 1000
            << plain + " (from the cache: https://cache.example/boot/initrd.img-6.1)";
        QTest::newRow("both above") << true << "https://cache.example/boot/" << 5
                                    << plain + " (from the cache: https://cache.example/boot/vmlinuz-6.1, "
                                               "https://cache.example/boot/initrd.img-6.1)";
        QTest::newRow("HTTP off: TFTP, never redirected") << false << "https://cache.example" << 5 << plain;
        QTest::newRow("not a URL") << true << "cache.example/boot" << 5 << plain;
    }
    void menuPreviewFollowsTheRedirect() {
        QFETCH(bool, http);
        QFETCH(QString, base);
        QFETCH(int, above);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        const QString root = dir.filePath(QStringLiteral("root"));
        QDir().mkpath(root);
        for (const auto& [name, size] : {std::pair{"vmlinuz-6.1", 10}, std::pair{"initrd.img-6.1", 2000}}) {
            QFile f(root + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(size, 'x'));
        }
        store.WriteProfileString(CSettingsStore::kDirName, root);
        store.WriteProfileInt(CSettingsStore::kHttpEnabled, http ? 1 : 0);
        store.WriteProfileString(CSettingsStore::kHttpRedirect, base);
        store.WriteProfileInt(CSettingsStore::kHttpRedirectAboveBytes, above);
        CBootDlg dlg(store, QString());
        auto* list = dlg.findChild<QListWidget*>(QStringLiteral("menuEntries"));
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), shown);
    }

    // Raspberry Pi: the stored value, its Alt+R, and a line that says what it does.
    void raspberryPiByKeyboard() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        for (const bool stored : {false, true}) {
            store.WriteProfileInt(CSettingsStore::kRaspberryPi, stored ? 1 : 0);
            CBootDlg dlg(store, QString());
            dlg.show();
            dlg.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QCOMPARE(dlg.RaspberryPi(), stored);
            auto* box = dlg.findChild<QCheckBox*>(QStringLiteral("raspberryPi"));
            QTest::keyClick(&dlg, Qt::Key_R, Qt::AltModifier);
            QTRY_COMPARE(dlg.RaspberryPi(), !stored); // a mnemonic's click lasts a moment
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
            QVERIFY(!dlg.findChild<QLabel*>(QStringLiteral("raspberryPiHelp"))->text().isEmpty());
            QVERIFY(!box->accessibleDescription().isEmpty());
        }
    }

    // The chain line names what is missing; filling from the packages copies real files,
    // keeps what the folder holds and adds a starter configuration; then it is complete.
    void secureBootChainFill() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        const QString root = dir.filePath(QStringLiteral("root"));
        const QString pkg = dir.filePath(QStringLiteral("pkg"));
        QDir().mkpath(root);
        QDir().mkpath(pkg);
        store.WriteProfileString(CSettingsStore::kDirName, root);
        store.WriteProfileInt(CSettingsStore::kSecureBootChain, 1);
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        write(root + QStringLiteral("/mmx64.efi"), "users own");
        QList<SecureBoot::Source> sources;
        for (const SecureBoot::Source& s : SecureBoot::PackageSources())
            sources.append({pkg + QLatin1Char('/') + QFile::decodeName(s.name), s.name, s.required});

        CBootDlg dlg(store, QStringLiteral("eth0 (192.0.2.10)"));
        QVERIFY(dlg.SecureBootChain());
        auto* status = dlg.findChild<QLabel*>(QStringLiteral("chainStatus"));
        QVERIFY(status->text().contains(QLatin1String("shim (shimx64.efi)")));
        QVERIFY(!status->text().contains(QLatin1String("mmx64.efi")));

        QString error;
        QVERIFY(CBootDlg::FillChain(root, sources, &error).isEmpty());
        QVERIFY(error.contains(QLatin1String("is not installed")));
        for (const SecureBoot::Source& s : sources)
            write(s.installed, s.name);
        error.clear();
        QCOMPARE(CBootDlg::FillChain(root, sources, &error),
                 (QStringList{"shimx64.efi", "grubx64.efi", "grub/grub.cfg"}));
        QCOMPARE(error, QString());
        QVERIFY(!QFileInfo(root + QStringLiteral("/grubx64.efi")).isSymLink());
        QFile mm(root + QStringLiteral("/mmx64.efi"));
        QVERIFY(mm.open(QIODevice::ReadOnly));
        QCOMPARE(mm.readAll(), QByteArray("users own"));
        QVERIFY(CBootDlg::FillChain(root, sources, &error).isEmpty());

        dlg.findChild<QLineEdit*>(QStringLiteral("bootFileUefi"))->setText(QStringLiteral("shimx64.efi"));
        QCOMPARE(status->text(), QStringLiteral("Chain complete in the working folder."));
    }

    // Why Fill is grey is said in the dialog while the packages are missing, with the
    // install line a keyboard can copy (Alt+Y).
    void secureBootSaysWhatFillNeeds() {
        for (const SecureBoot::Source& s : SecureBoot::PackageSources())
            if (s.required && QFileInfo(s.installed).isFile())
                QSKIP("the signed shim and GRUB are installed here");
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        store.WriteProfileString(CSettingsStore::kDirName, dir.path());
        CBootDlg dlg(store, QStringLiteral("eth0 (192.0.2.10)"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* packages = dlg.findChild<QLabel*>(QStringLiteral("chainPackages"));
        QVERIFY(!packages->isVisible());
        QTest::keyClick(&dlg, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(dlg.SecureBootChain());
        QVERIFY(packages->isVisible());
        QVERIFY(!dlg.findChild<QPushButton*>(QStringLiteral("fillChain"))->isEnabled());
        QVERIFY(packages->text().contains(QLatin1String("shim-signed and grub-efi-amd64-signed")));
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(&dlg, Qt::Key_Y, Qt::AltModifier);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(),
                     QStringLiteral("sudo apt install shim-signed grub-efi-amd64-signed"));
        QVERIFY(dlg.isVisible());
    }
};

QTEST_MAIN(TestBootDialog)
#include "tst_boot_dialog.moc"
