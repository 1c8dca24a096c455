#include "DialogFixture.h"
#include "ModalDriver.h"
#include "ProtocolCommand.h"
#include "ui/dialogs/ProtocolDlg.h"

#include <QComboBox>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QtTest>

namespace {
void Check(bool ok, const QString& what) {
    if (!ok)
        ModalDriver::Errors() << what;
}
QLineEdit* Edit(QWidget* w, const char* name) {
    auto* edit = w->findChild<QLineEdit*>(QLatin1String(name));
    Check(edit, QStringLiteral("no line edit %1").arg(QLatin1String(name)));
    return edit;
}
bool IsChecked(QWidget* w, const char* name) {
    auto* box = w->findChild<QCheckBox*>(QLatin1String(name));
    Check(box, QStringLiteral("no check box %1").arg(QLatin1String(name)));
    return box && box->isChecked();
}
// A warning that names the field it is about; OK closes it.
ModalDriver::Step ExpectRefusal(const char* field) {
    return {[field](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            ModalDriver::Errors() << QStringLiteral("expected a message box for %1").arg(field);
            w->close();
            return;
        }
        Check(box->icon() == QMessageBox::Warning, "warning icon");
        Check(box->text().contains(QLatin1String(field), Qt::CaseInsensitive),
              QStringLiteral("\"%1\" does not name %2").arg(box->text(), QLatin1String(field)));
        box->button(QMessageBox::Ok)->click();
    }};
}
} // namespace

class TestProtocolDialog : public QObject {
    Q_OBJECT

private slots:
    void okStoresWhatWasEntered();
    void badEntryNamesFieldAndKeepsDialogOpen();
    void cancelWritesNothing();
    void listenAddressOffersThisMachinesAddresses();
    void numberFieldsFitTheirDigits();
};

void TestProtocolDialog::listenAddressOffersThisMachinesAddresses() {
    DialogFixture f;
    QStringList items;
    {
        CProtocolDlg dlg(f.store);
        auto* combo = dlg.findChild<QComboBox*>(QStringLiteral("listenCombo"));
        QVERIFY(combo && combo->isEditable());
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(combo->currentText(), QStringLiteral("all")); // stored empty: every address
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    }
    QCOMPARE(items.value(0), QStringLiteral("all"));
    QVERIFY2(items.contains(QStringLiteral("127.0.0.1")), qPrintable(items.join(',')));

    // A stored address that is not in the list (another machine's, or typed) still shows,
    // and "all" stores the empty value again.
    f.store.WriteProfileString(CSettingsStore::kListenAddress, QStringLiteral("10.9.9.9"));
    ModalDriver driver({{[](QWidget* w) {
        auto* combo = w->findChild<QComboBox*>(QStringLiteral("listenCombo"));
        Check(combo && combo->currentText() == QLatin1String("10.9.9.9"), "stored value shown");
        if (combo)
            combo->setCurrentIndex(0);
        ModalDriver::click(w, "okButton");
    }}});
    RunProtocolCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.store.ListenAddress(), QString());
}

void TestProtocolDialog::numberFieldsFitTheirDigits() {
    // A style or font with more room around the text (as Adwaita) must not cut digits off.
    DialogFixture f;
    CProtocolDlg dlg(f.store);
    QFont big = dlg.font();
    big.setPointSize(big.pointSize() * 2);
    dlg.setFont(big);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    for (const char* name : {"blockSizeEdit", "windowSizeEdit", "portFirstEdit", "portLastEdit"}) {
        auto* edit = dlg.findChild<QLineEdit*>(QLatin1String(name));
        QVERIFY(edit);
        // Where QLineEdit draws its text: the style's contents rectangle, 2 pixels in.
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        const QRect contents =
            edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
        const int room = contents.width() - 4 - edit->textMargins().left() -
                         edit->textMargins().right();
        QVERIFY2(room >= edit->fontMetrics().horizontalAdvance(QStringLiteral("65535")), name);
        QVERIFY2(dlg.rect().contains(QRect(edit->mapTo(&dlg, QPoint()), edit->size())), name);
    }
}

void TestProtocolDialog::okStoresWhatWasEntered() {
    DialogFixture f;
    f.engine.SetSoundOn(true);
    {
        // Opens on the defaults: options answered, any port, answers from the address asked.
        ModalDriver driver({{[](QWidget* w) {
            Check(IsChecked(w, "negotiateCheck"), "negotiation on by default");
            Check(Edit(w, "blockSizeEdit")->text() == QLatin1String("1468"), "default block size");
            Check(IsChecked(w, "anyPortCheck") && !Edit(w, "portFirstEdit")->isEnabled(),
                  "any port by default");
            Check(IsChecked(w, "replyFromCheck") && !IsChecked(w, "ipv6Check"), "address defaults");
            Check(!IsChecked(w, "httpCheck") && !Edit(w, "httpPortEdit")->isEnabled() &&
                      Edit(w, "httpPortEdit")->text() == QLatin1String("8080"),
                  "HTTP off by default, on 8080");
            ModalDriver::setChecked(w, "negotiateCheck", false);
            ModalDriver::setText(w, "blockSizeEdit", QStringLiteral("1432"));
            ModalDriver::setText(w, "windowSizeEdit", QStringLiteral(" 16 "));
            ModalDriver::setChecked(w, "anyPortCheck", false);
            ModalDriver::setText(w, "portFirstEdit", QStringLiteral("40000"));
            ModalDriver::setText(w, "portLastEdit", QStringLiteral("40000"));
            ModalDriver::setChecked(w, "replyFromCheck", false);
            ModalDriver::setChecked(w, "ipv6Check", true);
            ModalDriver::setText(w, "listenEdit", QStringLiteral("::1"));
            ModalDriver::setChecked(w, "httpCheck", true);
            ModalDriver::setText(w, "httpPortEdit", QStringLiteral("8081"));
            ModalDriver::click(w, "okButton");
        }}});
        RunProtocolCommand(f.engine, f.store, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
    }
    QCOMPARE(f.window.sounds, QList<int>{146});
    // What the engine reads at the next request.
    QVERIFY(!f.store.Negotiate());
    QCOMPARE(f.store.MaxBlockSize(), 1432);
    QCOMPARE(f.store.MaxWindowSize(), 16);
    QCOMPARE(f.store.PortFirst(), 40000);
    QCOMPARE(f.store.PortLast(), 40000);
    QVERIFY(!f.store.ReplyFromRequestAddress());
    QVERIFY(f.store.IPv6());
    QCOMPARE(f.store.ListenAddress(), QStringLiteral("::1"));
    QVERIFY(f.store.HttpEnabled());
    QCOMPARE(f.store.HttpPort(), 8081);

    // Reopened, it shows the range; Any clears it again (both 0 in the store).
    ModalDriver driver({{[](QWidget* w) {
        Check(!IsChecked(w, "anyPortCheck") && Edit(w, "portLastEdit")->text() == "40000",
              "stored range shown");
        ModalDriver::setChecked(w, "anyPortCheck", true);
        ModalDriver::click(w, "okButton");
    }}});
    RunProtocolCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QCOMPARE(f.store.PortFirst(), 0);
    QCOMPARE(f.store.PortLast(), 0);
    QCOMPARE(f.store.MaxWindowSize(), 16);
}

void TestProtocolDialog::badEntryNamesFieldAndKeepsDialogOpen() {
    DialogFixture f;
    QPointer<QWidget> first;
    // Each bad entry is refused in turn; the dialog stays up with everything typed and the
    // bad field selected, and nothing reaches the file until every entry is good.
    const auto fixAndRetry = [&](const char* badField, std::function<void(QWidget*)> fix) {
        return ModalDriver::Step{[&, badField, fix](QWidget* w) {
                                     Check(w == first, "the dialog should stay open");
                                     // The listen field's edit is inside its combo box.
                                     QWidget* focus = w->focusWidget();
                                     QLineEdit* edit = Edit(w, badField);
                                     Check(focus == edit || (focus && focus->isAncestorOf(edit)),
                                           QStringLiteral("focus on %1").arg(badField));
                                     Check(Edit(w, "portLastEdit")->text() == "30000",
                                           "typed entries kept");
                                     Check(f.StoredKeys().isEmpty(), "nothing written yet");
                                     fix(w);
                                     ModalDriver::click(w, "okButton");
                                 },
                                 true};
    };
    ModalDriver driver(
        {{[&](QWidget* w) {
             first = w;
             ModalDriver::setText(w, "blockSizeEdit", QStringLiteral("7"));
             ModalDriver::setText(w, "windowSizeEdit", QStringLiteral("0"));
             ModalDriver::setChecked(w, "anyPortCheck", false);
             ModalDriver::setText(w, "portFirstEdit", QStringLiteral("30010"));
             ModalDriver::setText(w, "portLastEdit", QStringLiteral("30000"));
             ModalDriver::setText(w, "listenEdit", QStringLiteral("fe80::1"));
             ModalDriver::click(w, "okButton");
         }},
         ExpectRefusal("block size"),
         fixAndRetry("blockSizeEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "blockSizeEdit", "65464"); }),
         ExpectRefusal("window size"),
         fixAndRetry("windowSizeEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "windowSizeEdit", "8"); }),
         ExpectRefusal("last transfer port"),
         fixAndRetry("portLastEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "portFirstEdit", "abc"); }),
         ExpectRefusal("first transfer port"),
         fixAndRetry("portFirstEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "portFirstEdit", "30000"); }),
         // An IPv6 listen address needs IPv6; an IPv4 one must have its four parts.
         ExpectRefusal("listen address"),
         fixAndRetry("listenEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "listenEdit", "127.1"); }),
         ExpectRefusal("listen address"),
         fixAndRetry("listenEdit",
                     [](QWidget* w) { ModalDriver::setText(w, "listenEdit", "127.0.0.1"); })});
    RunProtocolCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.store.MaxBlockSize(), 65464);
    QCOMPARE(f.store.MaxWindowSize(), 8);
    QCOMPARE(f.store.PortFirst(), 30000);
    QCOMPARE(f.store.PortLast(), 30000);
    QCOMPARE(f.store.ListenAddress(), QStringLiteral("127.0.0.1"));
}

void TestProtocolDialog::cancelWritesNothing() {
    DialogFixture f;
    ModalDriver driver({{[](QWidget* w) {
        ModalDriver::setChecked(w, "negotiateCheck", true);
        ModalDriver::setText(w, "blockSizeEdit", QStringLiteral("9"));
        ModalDriver::setText(w, "listenEdit", QStringLiteral("bad"));
        ModalDriver::click(w, "cancelButton");
    }}});
    RunProtocolCommand(f.engine, f.store, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QVERIFY(f.StoredKeys().isEmpty());
}

QTEST_MAIN(TestProtocolDialog)
#include "tst_protocol_dialog.moc"
