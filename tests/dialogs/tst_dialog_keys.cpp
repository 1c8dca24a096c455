#include "ui/dialogs/BootDlg.h"
#include "ui/dialogs/ProtocolDlg.h"
#include "ui/dialogs/SecurityDlg.h"
#include "settings/SettingsStore.h"
#include "ui/dialogs/DhcpDlg.h"
#include "ui/dialogs/SetupDlg.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

// Every settings dialog by keyboard alone: it opens with the focus on its first control,
// no label shows a bare ampersand, every field answers to a mnemonic of its own (its
// label's, or its own text's), and Alt with that letter puts the focus there.
class TestDialogKeys : public QObject {
    Q_OBJECT

    static QChar Mnemonic(const QString& text) {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != QLatin1Char('&'))
                continue;
            if (text[i + 1] != QLatin1Char('&'))
                return text[i + 1].toUpper();
            ++i;
        }
        return {};
    }

    static void CheckKeys(QDialog& dlg, const char* first) {
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(first));

        QHash<QChar, QWidget*> targets; // mnemonic letter -> the widget it reaches
        const auto take = [&](QChar letter, QWidget* target, const QString& text) {
            QVERIFY2(!targets.contains(letter),
                     qPrintable(QStringLiteral("%1 used twice (%2)").arg(letter).arg(text)));
            targets.insert(letter, target);
        };
        for (QLabel* label : dlg.findChildren<QLabel*>()) {
            const QChar letter = Mnemonic(label->text());
            if (!label->isVisible() || letter.isNull())
                continue;
            QVERIFY2(label->buddy(), qPrintable(label->text() + QStringLiteral(": no buddy")));
            take(letter, label->buddy(), label->text());
        }
        for (QAbstractButton* button : dlg.findChildren<QAbstractButton*>()) {
            const QChar letter = Mnemonic(button->text());
            if (button->isVisible() && !letter.isNull())
                take(letter, button, button->text());
        }
        // Every field (an edit inside a combo or spin box is the box's) has a letter.
        QList<QWidget*> fields;
        for (QWidget* w : dlg.findChildren<QWidget*>()) {
            const bool field = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                               qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QCheckBox*>(w);
            const bool inner = qobject_cast<QComboBox*>(w->parentWidget()) ||
                               qobject_cast<QAbstractSpinBox*>(w->parentWidget());
            if (field && !inner && w->isVisible())
                fields << w;
        }
        for (QWidget* w : fields)
            QVERIFY2(std::find(targets.cbegin(), targets.cend(), w) != targets.cend(),
                     qPrintable(w->objectName() + QStringLiteral(": no mnemonic reaches it")));
        // Alt+letter: focus on the field (push buttons would close the dialog: not pressed).
        for (auto it = targets.cbegin(); it != targets.cend(); ++it) {
            if (qobject_cast<QPushButton*>(it.value()) || !it.value()->isEnabled())
                continue;
            QTest::keyClick(&dlg, Qt::Key(it.key().unicode()), Qt::AltModifier);
            QTRY_COMPARE(QApplication::focusWidget(), it.value());
        }
        QTest::qWait(200); // a mnemonic's click on a check box holds it down that long
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus, Qt::Key_Escape);
        QTRY_VERIFY2(!dlg.isVisible(), focus->metaObject()->className());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    static QString Heard(QWidget* w) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        return a ? a->text(QAccessible::Name) : QString();
    }

    // What a screen reader says for each control: a combo box its label (not its value),
    // a list its name, and no two buttons the same words.
    static void CheckHeard(QDialog& dlg) {
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (QLabel* label : dlg.findChildren<QLabel*>()) {
            auto* combo = qobject_cast<QComboBox*>(label->buddy());
            if (!combo || !combo->isVisible())
                continue;
            QString text = label->text().remove(QLatin1Char('&')).trimmed();
            if (text.endsWith(QLatin1Char(':')))
                text.chop(1);
            QCOMPARE(Heard(combo), text.trimmed());
            QCOMPARE(QAccessible::queryAccessibleInterface(combo)->text(QAccessible::Value),
                     combo->currentText());
        }
        for (QAbstractItemView* view : dlg.findChildren<QAbstractItemView*>()) {
            if (view->isVisible() && !qobject_cast<QComboBox*>(view->parentWidget()))
                QVERIFY2(!Heard(view).isEmpty(), qPrintable(view->objectName()));
        }
        QHash<QString, QString> buttons; // what is heard -> object name
        for (QPushButton* button : dlg.findChildren<QPushButton*>()) {
            if (!button->isVisible())
                continue;
            const QString heard = Heard(button);
            QVERIFY2(!heard.isEmpty(), qPrintable(button->objectName()));
            QVERIFY2(!buttons.contains(heard), qPrintable(heard + QStringLiteral(" twice")));
            buttons.insert(heard, button->objectName());
        }
        dlg.hide();
    }

private slots:
    void everyDialogByKeyboard() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        store.WriteProfileString(CSettingsStore::kDirName, dir.path());
        store.WriteProfileInt(CSettingsStore::kHttpEnabled, 1);
        {
            CSetupDlg dlg(store);
            CheckKeys(dlg, "dirNameEdit");
            CheckHeard(dlg);
        }
        {
            CSecurityDlg dlg(store);
            CheckKeys(dlg, "allowClientCheck");
            CheckHeard(dlg);
        }
        {
            CProtocolDlg dlg(store);
            CheckKeys(dlg, "negotiateCheck");
            CheckHeard(dlg);
        }
        {
            CBootDlg dlg(store, QStringLiteral("eth0 (192.0.2.10)"));
            CheckKeys(dlg, "proxyDhcp");
            CheckHeard(dlg);
        }
        {
            CDhcpDlg dlg(store, QHostAddress(QHostAddress::AnyIPv4), SystemLinks());
            CheckKeys(dlg, "enabledCheck");
            CheckHeard(dlg);
        }
    }

    // Wide enough for an IPv6 range, with an example in every client field; a bad entry's
    // message says what an entry may be.
    void securityFieldsTakeIpv6Ranges() {
        QTemporaryDir dir;
        CSettingsStore store(dir.filePath(QStringLiteral("settings.ini")));
        CSecurityDlg dlg(store);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        for (int i = 1; i <= 6; ++i) {
            auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("client%1Edit").arg(i));
            QVERIFY(edit->placeholderText().startsWith(QLatin1String("e.g. ")));
            QVERIFY(IsValidClientEntry(edit->placeholderText().mid(5)));
            QVERIFY(edit->width() > edit->fontMetrics().horizontalAdvance(
                                        QStringLiteral("2001:db8:ffff:ffff::/64")));
        }
        QVERIFY(QString::fromLatin1(kClientEntryFormat).contains(QLatin1String("192.168.1.0/24")));
    }

    // A value stored by the old Browse ("http://SERVER/...") is the name it names again.
    void bootUrlPlaceholderBecomesName() {
        QCOMPARE(CBootDlg::FromStored(QStringLiteral("http://SERVER/efi/snponly.efi")),
                 QStringLiteral("efi/snponly.efi"));
        QCOMPARE(CBootDlg::FromStored(QStringLiteral("http://192.0.2.1/a.efi")),
                 QStringLiteral("http://192.0.2.1/a.efi"));
    }
};

QTEST_MAIN(TestDialogKeys)
#include "tst_dialog_keys.moc"
