#include "DeviceTransferCommand.h"
#include "ui/dialogs/DeviceTransferDlg.h"
#include "DialogFixture.h"
#include "ModalDriver.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QLineEdit>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <sys/stat.h>

// Send to Device and Fetch from Device, from the dialog to the row: what the user typed
// becomes a client transfer on the engine thread, under the row texts the list shows.
class TestDeviceDialog : public QObject {
    Q_OBJECT

private slots:
    void rowFromDialog_data() {
        QTest::addColumn<bool>("put");
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("local"); // "@" for a file outside the working folder
        QTest::addColumn<QString>("rowFile");
        QTest::newRow("fetch into the working folder") << false << "cfg/switch.cfg" << ""
                                                       << "switch.cfg";
        QTest::newRow("fetch beneath it") << false << "startup-config" << "backups/sw1.cfg"
                                          << "backups/sw1.cfg";
        QTest::newRow("send from anywhere") << true << "firmware.bin" << "@" << "@";
    }
    void rowFromDialog() {
        QFETCH(bool, put);
        QFETCH(QString, remote);
        QFETCH(QString, local);
        QFETCH(QString, rowFile);
        DialogFixture f;
        const QString folder = f.dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/backups")));
        const QString outside = f.dir.filePath(QStringLiteral("fw.bin"));
        QFile file(outside);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        if (local == QLatin1String("@"))
            local = outside;
        if (rowFile == QLatin1String("@"))
            rowFile = outside;
        QSettings settings(f.dir.filePath(QStringLiteral("window.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Client/recentDevices"), QStringList{QStringLiteral("10.0.0.2")});

        ModalDriver driver({{[&](QWidget* w) {
            auto* device = w->findChild<QComboBox*>(QStringLiteral("deviceCombo"));
            const QWidget* focus = w->focusWidget();
            if (!device || device->currentText() != QLatin1String("10.0.0.2") ||
                (focus != device && focus != static_cast<QWidget*>(device->lineEdit())))
                ModalDriver::Errors() << QStringLiteral("the last device, focused");
            if (device)
                device->setEditText(QStringLiteral("127.0.0.1"));
            ModalDriver::setText(w, "remoteEdit", remote);
            ModalDriver::setText(w, "localEdit", local);
            if (auto* box = w->findChild<QDialogButtonBox*>())
                box->button(QDialogButtonBox::Ok)->click();
        }}});
        RunDeviceTransferCommand(f.engine, put, folder, settings, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QTRY_VERIFY((f.engine.DeliverNow(), f.window.rows.size() == 1));
        const RowTexts& row = f.window.last().texts;
        QCOMPARE(row.service, put ? QStringLiteral("Send") : QStringLiteral("Receive"));
        QCOMPARE(row.client, QStringLiteral("127.0.0.1"));
        QCOMPARE(row.file, rowFile);
        QCOMPARE(settings.value(QStringLiteral("Client/recentDevices")).toStringList(),
                 (QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("10.0.0.2")}));
    }

    // Enter in any field is OK at once, the first time (an editable combo used to take
    // the first one for itself); a fetch over an existing file asks, No by default, and
    // a missing file to send is named as missing.
    void enterAndExistingFile_data() {
        QTest::addColumn<bool>("put");
        QTest::addColumn<QString>("field"); // where Enter is pressed
        QTest::addColumn<QString>("local"); // "new", "exists", "missing"
        QTest::addColumn<int>("answer");    // to the question; 0: none expected
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("said");  // a part of the question or refusal
        QTest::newRow("Enter in the device") << false << "device" << "new" << 0 << true << "";
        QTest::newRow("Enter in the name") << false << "remote" << "new" << 0 << true << "";
        QTest::newRow("send, Enter in the device") << true << "device" << "exists" << 0 << true << "";
        QTest::newRow("fetch over a file, No") << false << "device" << "exists" << int(QMessageBox::No)
                                               << false << "exists.\n\nReplace it";
        QTest::newRow("fetch over a file, Yes") << false << "remote" << "exists" << int(QMessageBox::Yes)
                                                << true << "exists.\n\nReplace it";
        // Never over what is no regular file: the rename would replace the node itself.
        QTest::newRow("fetch over a FIFO") << false << "remote" << "fifo" << int(QMessageBox::Ok)
                                           << false << "is not a regular file";
        QTest::newRow("fetch over a folder") << false << "remote" << "folder" << int(QMessageBox::Ok)
                                             << false << "is a folder";
        QTest::newRow("send of a missing file") << true << "device" << "missing" << int(QMessageBox::Ok)
                                                << false << "does not exist";
    }
    void enterAndExistingFile() {
        QFETCH(bool, put);
        QFETCH(QString, field);
        QFETCH(QString, local);
        QFETCH(int, answer);
        QFETCH(bool, accepted);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("cfg.bin"));
        if (local == QLatin1String("exists")) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (local == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        } else if (local == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(file));
        }
        CDeviceTransferDlg dlg(put, dir.path(), {QStringLiteral("10.0.0.2")});
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* device = dlg.findChild<QComboBox*>(QStringLiteral("deviceCombo"));
        auto* remote = dlg.findChild<QLineEdit*>(QStringLiteral("remoteEdit"));
        auto* localEdit = dlg.findChild<QLineEdit*>(QStringLiteral("localEdit"));
        QVERIFY(device && remote && localEdit);
        QTest::keyClicks(remote, QStringLiteral("cfg.bin"));
        if (put)
            localEdit->setText(file);
        QWidget* target = field == QLatin1String("device") ? static_cast<QWidget*>(device->lineEdit()) : remote;
        target->setFocus();
        QString heard;
        int asked = 0;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, &answerer, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                heard = box->text();
                ++asked;
                box->button(answer ? QMessageBox::StandardButton(answer) : QMessageBox::Ok)->click();
            }
        });
        answerer.start(10);
        QTest::keyClick(target, Qt::Key_Return);
        QTRY_VERIFY(!dlg.isVisible() || asked > 0 || !accepted);
        answerer.stop();
        QCOMPARE(asked, answer ? 1 : 0);
        QVERIFY2(heard.contains(said), qPrintable(heard));
        QCOMPARE(dlg.result() == QDialog::Accepted, accepted);
        QCOMPARE(dlg.isVisible(), !accepted);
        if (accepted)
            QCOMPARE(dlg.Request().server, QHostAddress(QStringLiteral("10.0.0.2")));
    }

    // A bad entry is named and the dialog stays open; Cancel then starts nothing. A bare
    // number is no address (it would be 0.0.27.57); the seconds fields count in words.
    void badEntryKeepsDialogOpen() {
        DialogFixture f;
        QSettings settings(f.dir.filePath(QStringLiteral("window.ini")), QSettings::IniFormat);
        ModalDriver driver({{[](QWidget* w) {
                                if (auto* box = w->findChild<QDialogButtonBox*>())
                                    box->button(QDialogButtonBox::Ok)->click();
                            }},
                            {[](QWidget* w) {
                                 auto* box = qobject_cast<QMessageBox*>(w);
                                 if (!box || !box->text().contains(QLatin1String("address")))
                                     ModalDriver::Errors() << QStringLiteral("no word on the address");
                                 w->close();
                             }},
                            {[](QWidget* w) {
                                 auto* timeout = w->findChild<QSpinBox*>(QStringLiteral("timeoutSpin"));
                                 auto* wait = w->findChild<QSpinBox*>(QStringLiteral("waitSpin"));
                                 auto* device = w->findChild<QComboBox*>(QStringLiteral("deviceCombo"));
                                 if (!timeout || !wait || !device) {
                                     ModalDriver::Errors() << QStringLiteral("fields missing");
                                     w->close();
                                     return;
                                 }
                                 QStringList shown;
                                 for (int v : {1, 2}) {
                                     timeout->setValue(v);
                                     wait->setValue(v);
                                     shown << timeout->text() << wait->text();
                                 }
                                 if (shown != QStringList{"1 second", "1 second", "2 seconds", "2 seconds"})
                                     ModalDriver::Errors() << shown.join(QLatin1Char('/'));
                                 device->setEditText(QStringLiteral("6969"));
                                 ModalDriver::setText(w, "remoteEdit", QStringLiteral("cfg"));
                                 if (auto* box = w->findChild<QDialogButtonBox*>())
                                     box->button(QDialogButtonBox::Ok)->click();
                             },
                             true},
                            {[](QWidget* w) {
                                 auto* box = qobject_cast<QMessageBox*>(w);
                                 if (!box || !box->text().contains(QLatin1String("\"6969\" is not a device address")) ||
                                     !box->text().contains(QLatin1String("192.168.1.1:6969")))
                                     ModalDriver::Errors() << QStringLiteral("6969 taken: ") + (box ? box->text() : QString());
                                 w->close();
                             }},
                            {[](QWidget* w) {
                                 if (auto* box = w->findChild<QDialogButtonBox*>())
                                     box->button(QDialogButtonBox::Cancel)->click();
                             },
                             true}});
        RunDeviceTransferCommand(f.engine, false, f.dir.path(), settings, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
        f.engine.DeliverNow();
        QVERIFY(f.window.rows.isEmpty());
        QVERIFY(!settings.contains(QStringLiteral("Client/recentDevices")));
    }
};

QTEST_MAIN(TestDeviceDialog)
#include "tst_device_dialog.moc"
