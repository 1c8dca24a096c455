#include "DialogFixture.h"
#include "ModalDriver.h"
#include "SecurityCommand.h"
#include "ui/dialogs/SecurityDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QtTest>

namespace {
const QString kFileMessage = QStringLiteral("Use only file name! Please, remove path name!!");

QString Bad(const char* numbers) {
    return QStringLiteral("Invalid IP address in Client ") + QLatin1String(numbers);
}
// The box adds what an entry may be.
QString BadBox(const char* numbers) {
    return Bad(numbers) + QStringLiteral("\n\n") + QLatin1String(kClientEntryFormat);
}

QString EditText(QWidget* w, const char* name) {
    auto* edit = w->findChild<QLineEdit*>(QLatin1String(name));
    if (!edit)
        ModalDriver::Errors() << QStringLiteral("no line edit %1").arg(QLatin1String(name));
    return edit ? edit->text() : QString();
}
void Check(bool ok, const QString& what) {
    if (!ok)
        ModalDriver::Errors() << what;
}
// The engine's nine live security fields, in one comparable list.
QStringList Live(const CEngineHost& e) {
    const AccessRules& r = e.Rules();
    QStringList fields{QString::number(r.allowClient)};
    for (const QString& client : r.clients)
        fields << client;
    return fields << QString::number(r.sendFile) << r.fileEdit;
}
void SetLiveClient(CEngineHost& e, int slot, const QString& text) {
    AccessRules rules = e.Rules();
    rules.clients[size_t(slot - 1)] = text;
    e.SetRules(rules);
}
} // namespace

class TestSecurityDialog : public QObject {
    Q_OBJECT

private slots:
    void checkMessage_data();
    void checkMessage();
    void dialogTemplate();
    void okChecksFirstAndSelectsTheBadEntry();
    void cancelAndEscapeLeaveAfterARejectedOk();
    void cancelWithPassingStoredValuesChangesNothing();
    void fileCheckFollowsAddressCheck();
};

void TestSecurityDialog::checkMessage_data() {
    QTest::addColumn<QStringList>("clients");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    const QStringList none(6);
    auto with = [&](int slot, const QString& text, QStringList list) {
        list[slot - 1] = text;
        return list;
    };
    QTest::newRow("all empty") << none << ""
                               << "";
    QTest::newRow("four numbers") << with(1, "192.168.1.20", none) << ""
                                  << "";
    QTest::newRow("three numbers") << with(1, "192.168.1", none) << "" << Bad("1 ");
    QTest::newRow("letters") << with(3, "a.b.c.d", none) << "" << Bad("3 ");
    QTest::newRow("four stops") << with(6, "1.2.3.4.", none) << "" << Bad("6 ");
    QTest::newRow("only a blank") << with(4, " ", none) << "" << Bad("4 ");
    QTest::newRow("blanks not trimmed") << with(2, " 1.2.3.4 ", none) << ""
                                        << "";
    QTest::newRow("out of range") << with(4, "1.2.3.256", none) << "" << Bad("4 ");
    QTest::newRow("slots 2 and 5") << with(5, "10.0.0", with(2, "x", none)) << "" << Bad("2 5 ");
    QTest::newRow("every slot") << QStringList{"1", "2", "3", "4", "5", "6"} << ""
                                << Bad("1 2 3 4 5 6 ");
    QTest::newRow("addresses before file") << with(1, "1.2", none) << "dir\\f" << Bad("1 ");
    QTest::newRow("backslash") << none << "dir\\boot.img" << kFileMessage;
    QTest::newRow("slash") << none << "dir/boot.img" << kFileMessage;
    QTest::newRow("plain name") << none << "boot.img"
                                << "";
    QTest::newRow("IPv6 address") << with(2, "fd00::20", none) << ""
                                  << "";
    QTest::newRow("bad IPv6") << with(2, "fd00::20::1", none) << "" << Bad("2 ");
    QTest::newRow("ranges") << with(1, "192.168.1.0/24", with(2, "fd00::/64", none)) << ""
                            << "";
    QTest::newRow("bad prefix") << with(1, "192.168.1.0/33", none) << "" << Bad("1 ");
    QTest::newRow("colon is no path") << none << "c:boot"
                                      << "";
}

void TestSecurityDialog::checkMessage() {
    QFETCH(QStringList, clients);
    QFETCH(QString, file);
    QFETCH(QString, message);
    AccessRules rules;
    std::copy(clients.begin(), clients.end(), rules.clients.begin());
    rules.fileEdit = file;
    QCOMPARE(SecurityCheckMessage(rules), message);
}

void TestSecurityDialog::dialogTemplate() {
    DialogFixture f;
    CSecurityDlg dlg(f.store);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Setup Security"));
    // Empty store: every field empty, both boxes clear.
    for (QLineEdit* edit : dlg.findChildren<QLineEdit*>())
        QVERIFY(edit->text().isEmpty());
    for (QCheckBox* box : dlg.findChildren<QCheckBox*>())
        QVERIFY(!box->isChecked());
    QCOMPARE(dlg.focusWidget(), dlg.findChild<QWidget*>(QStringLiteral("allowClientCheck")));

    // Tab order: the fields as in the template, then the buttons.
    const QStringList expected = {"allowClientCheck", "client1Edit", "client2Edit", "client3Edit",
                                  "client4Edit",      "client5Edit", "client6Edit", "sendFileCheck",
                                  "fileEdit",         "okButton",    "cancelButton"};
    QStringList order;
    QWidget* w = dlg.findChild<QWidget*>(QStringLiteral("allowClientCheck"));
    for (int i = 0; i < 40 && order.size() < expected.size(); ++i, w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w->objectName();
    }
    QCOMPARE(order, expected);

    // The check boxes enable nothing.
    dlg.findChild<QCheckBox*>(QStringLiteral("allowClientCheck"))->setChecked(true);
    dlg.findChild<QCheckBox*>(QStringLiteral("allowClientCheck"))->setChecked(false);
    dlg.findChild<QCheckBox*>(QStringLiteral("sendFileCheck"))->setChecked(false);
    for (QLineEdit* edit : dlg.findChildren<QLineEdit*>())
        QVERIFY(edit->isEnabled() && !edit->isReadOnly());
}

void TestSecurityDialog::okChecksFirstAndSelectsTheBadEntry() {
    DialogFixture f;
    f.engine.SetSoundOn(true);
    const QStringList liveBefore = Live(f.engine);
    const QStringList keysBefore = f.StoredKeys();
    ModalDriver driver(
        {{[](QWidget* w) {
             ModalDriver::setChecked(w, "allowClientCheck", true);
             ModalDriver::setText(w, "client1Edit", QStringLiteral(" 10.1.1.0/24 "));
             ModalDriver::setText(w, "client3Edit", QStringLiteral("10.1.1"));
             ModalDriver::setText(w, "client4Edit", QStringLiteral("fd00::/64"));
             ModalDriver::setChecked(w, "sendFileCheck", true);
             ModalDriver::setText(w, "fileEdit", QStringLiteral("boot.img"));
             ModalDriver::click(w, "okButton");
         }},
         {[&](QWidget* w) {
             // The message is up: nothing stored, the server still has the old entries.
             Check(f.StoredKeys() == keysBefore, "stored before the check passed");
             Check(Live(f.engine) == liveBefore, "live fields changed before the check passed");
             ExpectWarning(BadBox("3 ")).action(w);
         }},
         // The dialog stays open with the bad entry selected, ready to be typed over.
         {[](QWidget* w) {
              auto* edit = w->findChild<QLineEdit*>(QStringLiteral("client3Edit"));
              Check(edit && w->focusWidget() == edit && edit->selectedText() == QLatin1String("10.1.1"),
                    "bad entry not selected");
              ModalDriver::setText(w, "client3Edit", QStringLiteral("10.1.1.1"));
              ModalDriver::click(w, "okButton");
          },
          true}});
    RunSecurityCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QVERIFY(f.engine.Rules().allowClient);
    QCOMPARE(f.engine.Rules().clients[0], QStringLiteral("10.1.1.0/24")); // trimmed
    QCOMPARE(f.engine.Rules().clients[2], QStringLiteral("10.1.1.1"));
    QCOMPARE(f.engine.Rules().clients[3], QStringLiteral("fd00::/64"));
    QVERIFY(f.engine.Rules().sendFile);
    QCOMPARE(f.engine.Rules().fileEdit, QStringLiteral("boot.img"));
    QCOMPARE(f.Stored("Client1").toString(), QStringLiteral("10.1.1.0/24"));
    QCOMPARE(f.Stored("Client3").toString(), QStringLiteral("10.1.1.1"));
    QCOMPARE(f.window.sounds, QList<int>{146});
}

void TestSecurityDialog::cancelAndEscapeLeaveAfterARejectedOk() {
    DialogFixture f;
    f.engine.SetSoundOn(false);
    f.store.WriteProfileString("Client2", QStringLiteral("9.9.9.9"));
    SetLiveClient(f.engine, 2, QStringLiteral("9.9.9.9"));
    const QStringList keysBefore = f.StoredKeys();
    const QStringList liveBefore = Live(f.engine);
    for (int way = 0; way < 3; ++way) {
        ModalDriver driver({{[](QWidget* w) {
                                ModalDriver::setText(w, "client2Edit", QStringLiteral("10.0.0"));
                                ModalDriver::setText(w, "client5Edit", QStringLiteral("x"));
                                ModalDriver::click(w, "okButton");
                            }},
                            ExpectWarning(BadBox("2 5 ")),
                            {[way](QWidget* w) {
                                 if (way == 0)
                                     ModalDriver::click(w, "cancelButton");
                                 else if (way == 1)
                                     QTest::keyClick(w, Qt::Key_Escape);
                                 else
                                     w->close(); // the close box
                             },
                             true}});
        RunSecurityCommand(f.engine, f.store, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
        QCOMPARE(driver.unexpected(), 0); // no message after Cancel
        QCOMPARE(f.StoredKeys(), keysBefore);
        QCOMPARE(f.Stored("Client2").toString(), QStringLiteral("9.9.9.9"));
        QCOMPARE(Live(f.engine), liveBefore);
    }
}

void TestSecurityDialog::cancelWithPassingStoredValuesChangesNothing() {
    DialogFixture f;
    f.store.WriteProfileString("Client1", QStringLiteral("1.1.1.1"));
    SetLiveClient(f.engine, 1, QStringLiteral("2.2.2.2")); // as if edited outside since start-up
    const QStringList keysBefore = f.StoredKeys();
    const QStringList liveBefore = Live(f.engine);
    ModalDriver driver({{[](QWidget* w) {
        Check(EditText(w, "client1Edit") == QLatin1String("1.1.1.1"), "stored value shown");
        ModalDriver::setText(w, "client1Edit", QStringLiteral("bad"));
        ModalDriver::setText(w, "fileEdit", QStringLiteral("a\\b"));
        ModalDriver::click(w, "cancelButton");
    }}});
    RunSecurityCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.StoredKeys(), keysBefore);
    QCOMPARE(f.Stored("Client1").toString(), QStringLiteral("1.1.1.1"));
    QCOMPARE(Live(f.engine), liveBefore);
}

void TestSecurityDialog::fileCheckFollowsAddressCheck() {
    DialogFixture f;
    // A bad file name stored from outside: OK reports it once the addresses pass, and
    // selects it; Cancel would leave it as it is.
    f.store.WriteProfileString(CSettingsStore::kFileEdit, QStringLiteral("pub/boot.img"));
    ModalDriver driver({{[](QWidget* w) {
                            ModalDriver::setText(w, "client3Edit", QStringLiteral("1.2"));
                            ModalDriver::click(w, "okButton");
                        }},
                        ExpectWarning(BadBox("3 ")), // addresses first, the file waits
                        {[](QWidget* w) {
                             ModalDriver::setText(w, "client3Edit", QStringLiteral("1.2.3.4"));
                             ModalDriver::click(w, "okButton");
                         },
                         true},
                        ExpectWarning(kFileMessage),
                        {[](QWidget* w) {
                             auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileEdit"));
                             Check(edit && w->focusWidget() == edit, "file field not selected");
                             ModalDriver::setText(w, "fileEdit", QStringLiteral("boot.img"));
                             ModalDriver::click(w, "okButton");
                         },
                         true}});
    RunSecurityCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.engine.Rules().clients[2], QStringLiteral("1.2.3.4"));
    QCOMPARE(f.engine.Rules().fileEdit, QStringLiteral("boot.img"));
}

QTEST_MAIN(TestSecurityDialog)
#include "tst_security_dialog.moc"
