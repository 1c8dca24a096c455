// The window as a new desktop user meets it: what the empty list teaches, what the
// status field and title say, the commands that would do nothing, the filter, the
// keyboard's row menu, the screen reader's view, and Protocol's settings applied at once.
#include "MainFrame.h"
#include "TransferAnimDlg.h"
#include "TransferFilter.h"
#include "TransferListModel.h"
#include "UiTestSupport.h"
#include "ZAZO_DizeView.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void emptyListTeachesUntilFirstRow();
    void columnsFitATypicalRowAndWiden();
    void abortAndClearOnlyWhenTheyWouldAct();
    void filterAndHideFinished();
    void shiftF10OpensTheRowMenu();
    void screenReaderNamesAndStates();
    void protocolHttpAndAddressApplyAtOnce();

private:
    void AddRows();
    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<CMainFrame> m_frame;
    quint16 m_port = 0;
};

void TestDesktop::init() {
    m_store = std::make_unique<TestStore>(0);
    m_port = RandomHighPort();
    m_frame = std::make_unique<CMainFrame>(*m_store->store, m_store->NewEngine(),
                                           QHostAddress::LocalHost, m_port);
}

void TestDesktop::cleanup() {
    m_frame.reset();
    m_store.reset();
}

// A running download, a failed one and a finished upload.
void TestDesktop::AddRows() {
    CZAZO_DizeView* view = m_frame->View();
    view->AddRow(1, {"10.0.0.1", "pxelinux.0", "", "Send", "Total file size is 42"});
    view->AddRow(2, {"10.0.0.2", "gone.img", "", "Send", ""});
    view->UpdateRow(2, {"10.0.0.2", "gone.img", "", "Send", "Error: Requested File Not Found!!"},
                    ROW_FAILED);
    view->AddRow(3, {"10.0.0.3", "up.bin", "", "Receive", ""});
    view->UpdateRow(3, {"10.0.0.3", "up.bin", "9 Bytes", "Receive", "Receive Complete"},
                    ROW_RECEIVED);
}

void TestDesktop::emptyListTeachesUntilFirstRow() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QLabel* hint = f.View()->EmptyLabel();
    QVERIFY(hint->isVisible());
    const QString text = hint->text();
    QVERIFY2(text.contains(m_store->WorkDir()) &&
                 text.contains(QStringLiteral("tftp 127.0.0.1 %1 -c get FILE").arg(m_port)) &&
                 text.contains(QStringLiteral("Boot offers (Option &gt; Boot)")) &&
                 text.contains(QStringLiteral("HTTP (Option &gt; Protocol)")) &&
                 text.contains(QStringLiteral("A DHCP server (Option &gt; DHCP...)")),
             qPrintable(text));
    f.View()->AddRow(1, {"10.0.0.1", "a", "", "Send", ""});
    QVERIFY(!hint->isVisible());
    // Rows that the filter leaves out are not an empty list.
    f.FilterEdit()->setText(QStringLiteral("nothing like it"));
    QVERIFY(hint->isVisible());
    QCOMPARE(hint->text(), QStringLiteral("No row matches the filter."));
}

// The final row of a typical transfer shows whole in the default window; a wider
// window gives File room as well as Information.
void TestDesktop::columnsFitATypicalRowAndWiden() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    CZAZO_DizeView* view = f.View();
    QVERIFY(!view->UserSizedColumns());
    const QStringList row = {"192.168.1.100", "snponly.efi", "1023.9 KiB", "Boot offer",
                             "Transfer Complete (blksize 1468, windowsize 16)"};
    const QFontMetrics fm(view->font());
    const int margins = 4 * fm.horizontalAdvance(QLatin1Char(' '));
    for (int c = 0; c < row.size(); ++c)
        QVERIFY2(fm.horizontalAdvance(row[c]) + margins <= view->columnWidth(c),
                 qPrintable(row[c]));
    int shown = 0;
    for (int c = 0; c < row.size(); ++c)
        shown += view->columnWidth(c);
    QVERIFY(shown <= view->viewport()->width());
    const int file = view->columnWidth(CTransferListModel::ColFile);
    const int info = view->columnWidth(CTransferListModel::ColInfo);
    f.resize(f.width() + 300, f.height());
    QTRY_VERIFY(view->columnWidth(CTransferListModel::ColFile) >= file + 90);
    QVERIFY(view->columnWidth(CTransferListModel::ColInfo) >= info + 180);
}

void TestDesktop::abortAndClearOnlyWhenTheyWouldAct() {
    CMainFrame& f = *m_frame;
    QAction* abort = f.Action(CMainFrame::Abort);
    QAction* clear = f.Action(CMainFrame::Clear);
    QVERIFY(!abort->isEnabled() && abort->statusTip().endsWith("(none is in progress)"));
    QVERIFY(!clear->isEnabled() && clear->statusTip().endsWith("(the list is empty)"));
    // A row that ended: Clear has something to do.
    f.View()->AddRow(1, {"10.0.0.1", "a", "", "Send", ""});
    f.View()->UpdateRow(1, {"10.0.0.1", "a", "", "Send", "Transfer Complete"}, ROW_SENT);
    QVERIFY(clear->isEnabled());
    QCOMPARE(clear->statusTip(), QStringLiteral("Clear all display messages"));
    clear->trigger();
    QVERIFY(!clear->isEnabled());

    // A download in progress: Abort can act, Clear says why it cannot.
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QFile file(m_store->WorkFile(QStringLiteral("big.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'x'));
    file.close();
    TftpTestClient client;
    client.SendRequest(m_port, 1, "big.bin");
    QCOMPARE(TftpTestClient::Opcode(client.Receive()), quint16(3));
    QVERIFY_SOON(abort->isEnabled());
    QVERIFY(!clear->isEnabled() &&
            clear->statusTip().contains("not while transfers are in progress"));

    // Save List As starts where documents are kept, not where the program was started.
    const QString folder = QFileInfo(CMainFrame::SaveListStartPath()).path();
    QVERIFY(folder == QDir::homePath() ||
            folder == QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

// Ctrl+F reaches the field; the filter looks at client, name, service and state in
// words; Hide finished keeps the running rows; the model's keys still find every row.
void TestDesktop::filterAndHideFinished() {
    CMainFrame& f = *m_frame;
    AddRows();
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    f.View()->setFocus();
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.FilterEdit()));
    QAbstractItemModel* shown = f.View()->model();
    const struct {
        const char* text;
        QStringList files;
    } cases[] = {
        {"", {"pxelinux.0", "gone.img", "up.bin"}},
        {"10.0.0.2", {"gone.img"}},
        {"RECEIVE", {"up.bin"}},
        {"failed", {"gone.img"}},
        {"running", {"pxelinux.0"}},
        {"pxe", {"pxelinux.0"}},
    };
    for (const auto& c : cases) {
        f.FilterEdit()->setText(QLatin1String(c.text));
        QStringList files;
        for (int r = 0; r < shown->rowCount(); ++r)
            files << shown->index(r, CTransferListModel::ColFile).data().toString();
        QCOMPARE(files, c.files);
    }
    // Escape empties the field.
    QTest::keyClick(f.FilterEdit(), Qt::Key_Escape);
    QVERIFY(f.FilterEdit()->text().isEmpty());
    f.HideFinishedCheck()->setChecked(true);
    QCOMPARE(shown->rowCount(), 1);
    // The running row ends while hidden ones change: keys find them all.
    f.View()->UpdateRow(2, {"10.0.0.2", "gone.img", "", "Send", "again"}, ROW_FAILED);
    QCOMPARE(f.View()->Model().Row(1).m_texts.info, QStringLiteral("again"));
    f.View()->UpdateRow(1, {"10.0.0.1", "pxelinux.0", "42 Bytes", "Send", "Transfer Complete"},
                        ROW_SENT);
    QCOMPARE(shown->rowCount(), 0);
    f.HideFinishedCheck()->setChecked(false);
    QCOMPARE(shown->rowCount(), 3);
}

void TestDesktop::shiftF10OpensTheRowMenu() {
    CMainFrame& f = *m_frame;
    AddRows();
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    CZAZO_DizeView* view = f.View();
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    QStringList seen;
    QTimer close;
    connect(&close, &QTimer::timeout, &close, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    seen << a->text() + (a->isEnabled() ? "" : " (off)");
            menu->close();
        }
    });
    close.start(20);
    QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    QTRY_VERIFY(!seen.isEmpty());
    // The menu's row is the current one: a running download may be aborted.
    QVERIFY2(seen.contains(QStringLiteral("A&bort This Transfer")), qPrintable(seen.join(", ")));
    QCOMPARE(view->ContextRow(), RowHandle(1));
}

// Through Qt's accessibility interfaces, as a screen reader reads the window: every
// control has a name, the list and its columns say what they hold, a row's state is said
// in words, and the animation says what it shows.
void TestDesktop::screenReaderNamesAndStates() {
    CMainFrame& f = *m_frame;
    AddRows();
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    for (QWidget* w : f.findChildren<QWidget*>()) {
        if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY(a);
        QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(),
                 qPrintable(QStringLiteral("%1 %2 has no name")
                                .arg(w->metaObject()->className(), w->objectName())));
    }
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(f.View());
    QCOMPARE(list->text(QAccessible::Name), QStringLiteral("Transfers"));
    QVERIFY(!list->text(QAccessible::Description).isEmpty());
    QAccessibleTableInterface* table = list->tableInterface();
    QVERIFY(table);
    const QStringList states = {"Running", "Failed", "Received"};
    for (int r = 0; r < states.size(); ++r) {
        QAccessibleInterface* cell = table->cellAt(r, CTransferListModel::ColInfo);
        QVERIFY(cell);
        QCOMPARE(cell->text(QAccessible::Description), states[r]);
    }
    QCOMPARE(table->cellAt(1, CTransferListModel::ColClient)->text(QAccessible::Name),
             QStringLiteral("10.0.0.2"));
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        QVERIFY(!f.View()
                     ->model()
                     ->headerData(c, Qt::Horizontal, Qt::AccessibleDescriptionRole)
                     .toString()
                     .isEmpty());
    QAccessibleInterface* animation = QAccessible::queryAccessibleInterface(f.Animation());
    QCOMPARE(animation->text(QAccessible::Name), QStringLiteral("Transfer animation"));
    QVERIFY(!animation->text(QAccessible::Description).isEmpty());
}

// HTTP and the listen address set in Protocol apply without a restart, and the status
// field and title say that HTTP is on; off again, its port closes.
void TestDesktop::protocolHttpAndAddressApplyAtOnce() {
    CMainFrame& f = *m_frame;
    CSettingsStore& store = *m_store->store;
    f.SetListenAddressSource([&store] { return QHostAddress(store.ListenAddress()); });
    const quint16 http = RandomHighPort();
    const auto runProtocol = [&](bool on) {
        QTimer drive;
        connect(&drive, &QTimer::timeout, &drive, [&] {
            auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            drive.stop();
            dlg->findChild<QCheckBox*>(QStringLiteral("httpCheck"))->setChecked(on);
            dlg->findChild<QLineEdit*>(QStringLiteral("httpPortEdit"))
                ->setText(QString::number(http));
            dlg->findChild<QComboBox*>(QStringLiteral("listenCombo"))
                ->setEditText(QStringLiteral("127.0.0.2"));
            dlg->accept();
        });
        drive.start(20);
        f.Action(CMainFrame::Protocol)->trigger();
    };
    const auto httpAnswers = [&] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), http);
        return socket.waitForConnected(2000);
    };
    runProtocol(true);
    QCOMPARE(f.ListenAddress(), QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(f.View()->IsListening());
    QVERIFY(httpAnswers());
    f.UpdateStatusField();
    const QString on = QStringLiteral("HTTP on :%1").arg(http);
    QVERIFY2(f.StatusField()->text().contains(on), qPrintable(f.StatusField()->text()));
    QVERIFY2(f.windowTitle().endsWith(QStringLiteral("(%1)").arg(on)), qPrintable(f.windowTitle()));

    // TFTP answers on the new address.
    TftpTestClient client;
    QByteArray packet(2, '\0');
    packet[1] = char(1);
    packet += QByteArray("missing\0octet\0", 14);
    client.socket.writeDatagram(packet, QHostAddress(QStringLiteral("127.0.0.2")), m_port);
    QVERIFY(SpinUntil([&] { return client.socket.hasPendingDatagrams(); }));

    runProtocol(false);
    QVERIFY(!httpAnswers());
    f.UpdateStatusField();
    QVERIFY(!f.StatusField()->text().contains(QStringLiteral("HTTP on")));
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
