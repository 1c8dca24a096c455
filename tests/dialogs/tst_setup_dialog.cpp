#include "DialogFixture.h"
#include "ModalDriver.h"
#include "SetupCommand.h"
#include "ui/dialogs/SetupDlg.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

namespace {
// The refusal names the problem in Linux terms.
QString badDir(const QString& dir, const char* problem = "is not an absolute path") {
    return QStringLiteral("Invalid Directory Name!!\n\nThe working folder %1 %2.")
        .arg(dir, QLatin1String(problem));
}

QString EditText(QWidget* w, const char* name) {
    auto* edit = w->findChild<QLineEdit*>(QLatin1String(name));
    if (!edit)
        ModalDriver::Errors() << QStringLiteral("no line edit %1").arg(QLatin1String(name));
    return edit ? edit->text() : QString();
}
bool IsChecked(QWidget* w, const char* name) {
    auto* box = w->findChild<QCheckBox*>(QLatin1String(name));
    if (!box)
        ModalDriver::Errors() << QStringLiteral("no check box %1").arg(QLatin1String(name));
    return box && box->isChecked();
}
void Check(bool ok, const QString& what) {
    if (!ok)
        ModalDriver::Errors() << what;
}
} // namespace

class TestSetupDialog : public QObject {
    Q_OBJECT

private slots:
    void dirNameCheck_data();
    void dirNameCheck();
    void timeOutParse_data();
    void timeOutParse();
    void opensWithStoredOrDefaultValues();
    void cancelWritesNothing();
    void rejectedDirReopensWithStoredValues();
    void okStoresAllFourAndSwitchesSound();
    void badTimeOutKeepsDialogOpen();
    void fileOrMissingFolderRefused();
    void browse();
    void portFieldTabOrderAndFrame();
    void refuseUploadsBox();
};

void TestSetupDialog::dirNameCheck_data() {
    QTest::addColumn<QString>("dir");
    QTest::addColumn<bool>("valid");
    QTest::newRow("root") << "/" << true;
    QTest::newRow("absolute") << "/srv/tftp" << true;
    QTest::newRow("default") << CSettingsStore::DefaultDirName() << true;
    QTest::newRow("trailing blank is not examined") << "/srv/tftp " << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("relative") << "srv/tftp" << false;
    QTest::newRow("leading blank") << " /srv/tftp" << false;
    QTest::newRow("home shorthand") << "~/tftp" << false;
    QTest::newRow("drive letter") << "c:\\" << false;
    QTest::newRow("dot") << "./tftp" << false;
}

void TestSetupDialog::dirNameCheck() {
    QFETCH(QString, dir);
    QFETCH(bool, valid);
    QCOMPARE(IsValidDirName(dir), valid);
}

void TestSetupDialog::timeOutParse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "20" << true << 20;
    QTest::newRow("blanks around") << "  7 " << true << 7;
    QTest::newRow("plus") << "+5" << true << 5;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("negative") << "-3" << true << -3;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("fraction") << "1.5" << false << 0;
    QTest::newRow("trailing letter") << "12a" << false << 0;
    QTest::newRow("hex") << "0x10" << false << 0;
    QTest::newRow("blank after sign") << "- 3" << false << 0;
    QTest::newRow("inner blank") << "1 2" << false << 0;
    QTest::newRow("too large") << "2147483648" << false << 0;
}

void TestSetupDialog::timeOutParse() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int parsed = 12345;
    QCOMPARE(ParseTimeOut(text, &parsed), ok);
    QCOMPARE(parsed, ok ? value : 12345);
}

void TestSetupDialog::opensWithStoredOrDefaultValues() {
    DialogFixture f;
    {
        CSetupDlg dlg(f.store);
        QCOMPARE(EditText(&dlg, "dirNameEdit"), CSettingsStore::DefaultDirName());
        QVERIFY(IsChecked(&dlg, "overWriteCheck"));
        QVERIFY(IsChecked(&dlg, "soundOnCheck"));
        QCOMPARE(EditText(&dlg, "timeOutEdit"), QStringLiteral("20"));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Setup"));
        QCOMPARE(dlg.focusWidget(), dlg.findChild<QWidget*>(QStringLiteral("dirNameEdit")));
    }
    f.store.WriteProfileString(CSettingsStore::kDirName, QStringLiteral("/srv/x"));
    f.store.WriteProfileInt(CSettingsStore::kOverWrite, 5); // any non-zero is on
    f.store.WriteProfileInt(CSettingsStore::kSoundOn, 0);
    f.store.WriteProfileInt(CSettingsStore::kTimeOut, -2);
    CSetupDlg dlg(f.store);
    QCOMPARE(EditText(&dlg, "dirNameEdit"), QStringLiteral("/srv/x"));
    QVERIFY(IsChecked(&dlg, "overWriteCheck"));
    QVERIFY(!IsChecked(&dlg, "soundOnCheck"));
    QCOMPARE(EditText(&dlg, "timeOutEdit"), QStringLiteral("-2"));
}

void TestSetupDialog::cancelWritesNothing() {
    DialogFixture f;
    f.engine.SetSoundOn(true);
    ModalDriver driver({{[](QWidget* w) {
        ModalDriver::setText(w, "dirNameEdit", QStringLiteral("/elsewhere"));
        ModalDriver::setChecked(w, "soundOnCheck", false);
        ModalDriver::click(w, "cancelButton");
    }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QVERIFY(f.StoredKeys().isEmpty());
    QVERIFY(f.engine.SoundOn());
    QCOMPARE(f.window.sounds, QList<int>{146});
}

void TestSetupDialog::rejectedDirReopensWithStoredValues() {
    DialogFixture f;
    f.store.WriteProfileString(CSettingsStore::kDirName, QStringLiteral("/srv/a"));
    f.store.WriteProfileInt(CSettingsStore::kOverWrite, 0);
    f.store.WriteProfileInt(CSettingsStore::kSoundOn, 1);
    f.store.WriteProfileInt(CSettingsStore::kTimeOut, 7);
    f.engine.SetSoundOn(true);

    const auto badEntry = [](QWidget* w) {
        ModalDriver::setText(w, "dirNameEdit", QStringLiteral("relative/dir"));
        ModalDriver::setChecked(w, "overWriteCheck", true);
        ModalDriver::setChecked(w, "soundOnCheck", false);
        ModalDriver::setText(w, "timeOutEdit", QStringLiteral("30"));
        ModalDriver::click(w, "okButton");
    };
    const auto showsStored = [](QWidget* w) {
        Check(EditText(w, "dirNameEdit") == QLatin1String("/srv/a"), "directory not reloaded");
        Check(!IsChecked(w, "overWriteCheck"), "overwrite not reloaded");
        Check(IsChecked(w, "soundOnCheck"), "sound not reloaded");
        Check(EditText(w, "timeOutEdit") == QLatin1String("7"), "time-out not reloaded");
    };
    // Rejected twice, then Cancel: nothing of either attempt is written.
    ModalDriver driver({{badEntry},
                        ExpectWarning(badDir(QStringLiteral("relative/dir"))),
                        {[&](QWidget* w) {
                            showsStored(w);
                            badEntry(w);
                        }},
                        ExpectWarning(badDir(QStringLiteral("relative/dir"))),
                        {[&](QWidget* w) {
                            showsStored(w);
                            ModalDriver::click(w, "cancelButton");
                        }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.Stored(CSettingsStore::kDirName).toString(), QStringLiteral("/srv/a"));
    QCOMPARE(f.Stored(CSettingsStore::kOverWrite).toInt(), 0);
    QCOMPARE(f.Stored(CSettingsStore::kSoundOn).toInt(), 1);
    QCOMPARE(f.Stored(CSettingsStore::kTimeOut).toInt(), 7);
    QVERIFY(f.engine.SoundOn());
    QCOMPARE(f.window.sounds, QList<int>{146}); // once, however often it reopened
}

void TestSetupDialog::okStoresAllFourAndSwitchesSound() {
    DialogFixture f;
    f.engine.SetSoundOn(true);
    const QString good = f.dir.filePath(QStringLiteral("x"));
    QDir().mkpath(good);
    {
        // A rejected directory first, then a good one: still one sound, and the good entry
        // is what gets stored.
        ModalDriver driver({{[](QWidget* w) {
                                ModalDriver::setText(w, "dirNameEdit", QStringLiteral("c:\\tftp"));
                                ModalDriver::click(w, "okButton");
                            }},
                            ExpectWarning(badDir(QStringLiteral("c:\\tftp"))),
                            {[&](QWidget* w) {
                                ModalDriver::setText(w, "dirNameEdit", good);
                                ModalDriver::setChecked(w, "overWriteCheck", false);
                                ModalDriver::setChecked(w, "soundOnCheck", false);
                                ModalDriver::setText(w, "timeOutEdit", QStringLiteral(" -4 "));
                                ModalDriver::click(w, "okButton");
                            }}});
        RunSetupCommand(f.engine, f.store, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
        QCOMPARE(f.Stored(CSettingsStore::kDirName).toString(), good);
        QCOMPARE(f.Stored(CSettingsStore::kOverWrite).toInt(), 0);
        QCOMPARE(f.Stored(CSettingsStore::kSoundOn).toInt(), 0);
        QCOMPARE(f.Stored(CSettingsStore::kTimeOut).toInt(), -4);
        QVERIFY(!f.engine.SoundOn());
        QCOMPARE(f.window.sounds, QList<int>{146});
    }

    // Sounds now off: the next command is silent, and turning them on takes effect at once.
    ModalDriver again({{[](QWidget* w) {
        Check(!IsChecked(w, "soundOnCheck"), "sound should show off");
        ModalDriver::setChecked(w, "soundOnCheck", true);
        ModalDriver::click(w, "okButton");
    }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QCOMPARE(f.window.sounds, QList<int>{146});
    QVERIFY(f.engine.SoundOn());
    QCOMPARE(f.Stored(CSettingsStore::kSoundOn).toInt(), 1);
}

void TestSetupDialog::fileOrMissingFolderRefused() {
    DialogFixture f;
    const QString file = f.dir.filePath(QStringLiteral("file.txt"));
    QFile(file).open(QIODevice::WriteOnly);
    const QString missing = f.dir.filePath(QStringLiteral("missing"));
    const auto enter = [](const QString& dir) {
        return ModalDriver::Step{[dir](QWidget* w) {
            ModalDriver::setText(w, "dirNameEdit", dir);
            ModalDriver::click(w, "okButton");
        }};
    };
    ModalDriver driver({enter(file),
                        ExpectWarning(badDir(file, "is not a folder")),
                        enter(missing),
                        ExpectWarning(badDir(missing, "does not exist")),
                        {[](QWidget* w) { ModalDriver::click(w, "cancelButton"); }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QVERIFY(!f.Stored(CSettingsStore::kDirName).isValid());
}

void TestSetupDialog::badTimeOutKeepsDialogOpen() {
    DialogFixture f;
    const QString dir = f.dir.filePath(QStringLiteral("t"));
    QDir().mkpath(dir);
    QPointer<QWidget> first;
    ModalDriver driver({{[&](QWidget* w) {
                            first = w;
                            ModalDriver::setText(w, "dirNameEdit", dir);
                            ModalDriver::setText(w, "timeOutEdit", QStringLiteral("abc"));
                            ModalDriver::click(w, "okButton");
                        }},
                        ExpectWarning(QStringLiteral("Please enter an integer.")),
                        {[&](QWidget* w) {
                             Check(w == first, "the dialog should stay open");
                             auto* edit = w->findChild<QLineEdit*>(QStringLiteral("timeOutEdit"));
                             Check(w->focusWidget() == edit, "time-out edit should have the focus");
                             Check(edit->selectedText() == QLatin1String("abc"),
                                   "time-out should be selected");
                             Check(EditText(w, "dirNameEdit") == dir, "entries kept");
                             // Empty is no integer either.
                             ModalDriver::setText(w, "timeOutEdit", QString());
                             ModalDriver::click(w, "okButton");
                         },
                         true},
                        ExpectWarning(QStringLiteral("Please enter an integer.")),
                        {[&](QWidget* w) {
                             Check(w == first, "the dialog should stay open");
                             ModalDriver::setText(w, "timeOutEdit", QStringLiteral("0"));
                             ModalDriver::click(w, "okButton");
                         },
                         true}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.Stored(CSettingsStore::kDirName).toString(), dir);
    QCOMPARE(f.Stored(CSettingsStore::kTimeOut).toInt(), 0);
}

void TestSetupDialog::browse() {
    DialogFixture f;
    QTemporaryDir picked;
    const QString pickedPath = QDir(picked.path()).canonicalPath();
    f.store.WriteProfileInt(CSettingsStore::kTimeOut, 9);

    const auto editOthers = [](QWidget* w) {
        ModalDriver::setText(w, "dirNameEdit", QStringLiteral("/typed"));
        ModalDriver::setChecked(w, "overWriteCheck", false);
        ModalDriver::setText(w, "timeOutEdit", QStringLiteral("55"));
        ModalDriver::click(w, "browseButton");
    };
    ModalDriver driver(
        {// Browse, then cancel the folder picker: nothing changes.
         {editOthers},
         {[](QWidget* w) {
             auto* picker = qobject_cast<QFileDialog*>(w);
             Check(picker != nullptr, "expected the folder picker");
             if (!picker)
                 return;
             Check(picker->windowTitle() == QLatin1String("Select TFTP Server Working Directory"),
                   "picker title");
             Check(picker->fileMode() == QFileDialog::Directory, "picker should pick folders");
             picker->reject();
         }},
         {[](QWidget* w) {
              Check(EditText(w, "dirNameEdit") == QLatin1String("/typed"), "cancel kept dir");
              Check(!IsChecked(w, "overWriteCheck"), "cancel kept overwrite");
              Check(EditText(w, "timeOutEdit") == QLatin1String("55"), "cancel kept time-out");
              ModalDriver::click(w, "browseButton");
          },
          true},
         // Browse and pick a folder: it goes into the edit, the rest is reset.
         {[pickedPath](QWidget* w) {
             auto* picker = qobject_cast<QFileDialog*>(w);
             Check(picker != nullptr, "expected the folder picker");
             if (!picker)
                 return;
             // As a user typing the folder's path into the picker.
             picker->setDirectory(pickedPath);
             ModalDriver::setText(picker, "fileNameEdit", pickedPath);
             static_cast<QDialog*>(picker)->accept(); // as the picker's own OK does
         }},
         {[pickedPath](QWidget* w) {
              Check(QDir(EditText(w, "dirNameEdit")).canonicalPath() == pickedPath,
                    "picked folder in the edit: " + EditText(w, "dirNameEdit"));
              Check(IsChecked(w, "overWriteCheck"), "overwrite reset to the opened value");
              Check(EditText(w, "timeOutEdit") == QLatin1String("9"), "time-out reset");
              ModalDriver::click(w, "okButton");
          },
          true}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(QDir(f.Stored(CSettingsStore::kDirName).toString()).canonicalPath(), pickedPath);
}

// The port for requests: 69 until set, stored only when changed. Tab walks the fields
// top to bottom, then OK and Cancel; a fixed-size dialog offers no maximise button.
void TestSetupDialog::portFieldTabOrderAndFrame() {
    DialogFixture f;
    {
        CSetupDlg dlg(f.store);
        auto* spin = dlg.findChild<QSpinBox*>(QStringLiteral("portSpin"));
        QVERIFY(spin);
        QCOMPARE(spin->value(), 69);
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->maximum(), 65535);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(dlg.windowFlags() & Qt::CustomizeWindowHint);
        const QStringList expected = {"dirNameEdit", "browseButton", "overWriteCheck",
                                      "readOnlyCheck", "soundOnCheck", "timeOutEdit", "portSpin",
                                      "okButton", "cancelButton"};
        QStringList order;
        QWidget* w = dlg.findChild<QWidget*>(QStringLiteral("dirNameEdit"));
        for (int i = 0; i < 40 && order.size() < expected.size(); ++i, w = w->nextInFocusChain())
            if (expected.contains(w->objectName()) && !order.contains(w->objectName()))
                order << w->objectName();
        QCOMPARE(order, expected);
    }
    const QString dir = f.dir.filePath(QStringLiteral("p"));
    QDir().mkpath(dir);
    ModalDriver driver({{[&](QWidget* w) {
        ModalDriver::setText(w, "dirNameEdit", dir);
        auto* spin = w->findChild<QSpinBox*>(QStringLiteral("portSpin"));
        Check(spin != nullptr, "no port field");
        if (spin)
            spin->setValue(6969);
        ModalDriver::click(w, "okButton");
    }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.store.Port(), quint16(6969));
    CSetupDlg again(f.store);
    QCOMPARE(again.findChild<QSpinBox*>(QStringLiteral("portSpin"))->value(), 6969);
}

// Off by default; OK stores what it shows, and it opens as stored.
void TestSetupDialog::refuseUploadsBox() {
    DialogFixture f;
    const QString dir = f.dir.filePath(QStringLiteral("r"));
    QDir().mkpath(dir);
    ModalDriver driver({{[&](QWidget* w) {
        Check(!IsChecked(w, "readOnlyCheck"), "Refuse Uploads should start off");
        ModalDriver::setText(w, "dirNameEdit", dir);
        ModalDriver::setChecked(w, "readOnlyCheck", true);
        ModalDriver::click(w, "okButton");
    }}});
    RunSetupCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.Stored(CSettingsStore::kReadOnly).toInt(), 1);
    QVERIFY(f.store.ReadOnly());
    CSetupDlg again(f.store);
    QVERIFY(IsChecked(&again, "readOnlyCheck"));
}

QTEST_MAIN(TestSetupDialog)
#include "tst_setup_dialog.moc"
