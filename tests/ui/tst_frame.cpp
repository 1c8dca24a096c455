// The main frame: menus, toolbar, status bar, shortcuts, title, icon and the
// animation's place.
#include "MainFrame.h"
#include "engine/server/ServerEngine.h"
#include "TransferAnimDlg.h"
#include "TransferListModel.h"
#include "UiTestSupport.h"
#include "WaveSound.h"
#include "WindowTitle.h"
#include "ZAZO_DizeView.h"
#include "TransferLog.h"
#include "engine/client/ClientRequest.h"

#include <QCheckBox>
#include "TransferFilter.h"
#include "TransferDetails.h"
#include "TransferListView.h"
#include "SpeedGraph.h"
#include <QAccessible>
#include <QTextBrowser>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void menusAndToolbar();
    void statusBarPromptsAndToggle();
    void animationKeepsItsPlace();
    void shortcutsRunTheirCommands();
    void showFromAnotherCopy();
    void statusFieldSaysWhereOrWhy();
    void geometryAndColumnsRemembered();
    void narrowWindowKeepsButtonsClear();
    void exitWithTransfersAsksFirst();
    void messagesShareOneBox();
    void missingFileRowsHidden();
    void listenBannerRetriesUntilFree();
    void exitQuestionFollowsTheTransfers();
    void openFolderWithoutFileManagerSaysWhy();
    void serverAddressInTitleAndCopied();
    void rowMenuActsOnItsRow();
    void notificationsWhileHidden();
    void sortByClickingAColumn();
    void filterRememberedAndCounted();
    void columnChooserRemembered();
    void deviceTransferGuardedLikeServerOnes();
    void sortByKeyboardRemembered();
    void quickFiltersByKeyboardRemembered();
    void detailsPaneFollowsTheRowAndGraphsFill();
    void newControlsNamedForScreenReaders();
    void detailsPaneRemembered();

private:
    void StartOneDownload(TftpTestClient& client);
    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<CMainFrame> m_frame;
};

void TestFrame::init() {
    m_store = std::make_unique<TestStore>(1);
    m_frame =
        std::make_unique<CMainFrame>(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost,
                                     RandomHighPort());
}

void TestFrame::cleanup() {
    m_frame.reset();
    m_store.reset();
}

void TestFrame::menusAndToolbar() {
    CMainFrame& f = *m_frame;
    QCOMPARE(f.size(), QSize(700, 400));
    QVERIFY(f.windowTitle().startsWith(QStringLiteral("Vantrel Server 1.0 - ")));
    const auto iconSizes = f.windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)));
    QVERIFY(iconSizes.contains(QSize(32, 32)));

    // Menus with their items; an empty string stands for a separator.
    QStringList seen;
    for (QAction* menuAction : f.menuBar()->actions()) {
        seen << menuAction->text();
        for (QAction* item : menuAction->menu()->actions())
            seen << (item->isSeparator() ? QString() : QStringLiteral("  ") + item->text());
    }
    const QStringList expected = {
        "&File",
        "  Save List &As...",
        "  &Open Working Folder",
        "",
        "  Send to &Device...",
        "  &Fetch from Device...",
        "",
        "  &Clear\tCtrl+L",
        "  A&bort",
        "",
        "  E&xit\tCtrl+Q",
        "&Option",
        "  &Setup...\tCtrl+S",
        "",
        "  Securi&ty...\tCtrl+T",
        "  &Protocol...",
        "  &Boot...",
        "  &DHCP...",
        "&View",
        "  &Status Bar",
        "  Close to &Tray",
        "  &Hide Requests for Missing Files",
        "  &Notifications",
        "  Co&lumns",
        "  S&ort By",
        "  &Details",
        "  Details of the &Busiest Transfer",
        "",
        "  Copy Server &Address",
        "&Help",
        "  &Vantrel Server 1.0 Help...\tF1",
        "  &About Vantrel Server 1.0...",
    };
    QCOMPARE(seen, expected);

    QToolBar* bar = f.ToolBar();
    QVERIFY(!bar->isMovable());
    QVERIFY(!bar->isFloatable());
    QCOMPARE(f.toolBarArea(bar), Qt::TopToolBarArea);
    QCOMPARE(bar->iconSize(), QSize(32, 32));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    const QList<QAction*> buttons = bar->actions();
    QCOMPARE(buttons.size(), 4);
    const char* names[] = {"Clear", "Setup", "Security", "Help"};
    const char* prompts[] = {"Clear all display messages", "Setup preference",
                             "Setup security information", "Help"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(buttons[i]->iconText(), QString::fromLatin1(names[i]));
        QCOMPARE(buttons[i]->toolTip(), QString::fromLatin1(names[i]));
        // Clear's says why it is greyed while the list is empty.
        QVERIFY(buttons[i]->statusTip().startsWith(QString::fromLatin1(prompts[i])));
        QVERIFY(!buttons[i]->icon().isNull());
        QCOMPARE(bar->widgetForAction(buttons[i])->size(), QSize(80, 53));
    }
    QVERIFY(f.Action(CMainFrame::Abort)
                ->statusTip()
                .startsWith(QStringLiteral("Abort all current active connections")));
    QVERIFY(f.Action(CMainFrame::Abort)->shortcut().isEmpty());
}

void TestFrame::statusBarPromptsAndToggle() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QStatusBar* status = f.statusBar();
    QVERIFY(f.ReadyLabel()->isVisible());
    QCOMPARE(f.ReadyLabel()->text(), QStringLiteral("Ready"));

    // A command's prompt while it is highlighted, "Ready" again afterwards.
    f.Action(CMainFrame::Setup)->showStatusText(&f);
    QCOMPARE(status->currentMessage(), QStringLiteral("Setup preference"));
    QVERIFY(!f.ReadyLabel()->isVisible());
    QStatusTipEvent leave{QString()};
    QCoreApplication::sendEvent(&f, &leave);
    QVERIFY(f.ReadyLabel()->isVisible());

    // The pointer resting on a toolbar button shows its prompt too.
    QWidget* setupButton = f.ToolBar()->widgetForAction(f.Action(CMainFrame::Setup));
    QTest::mouseMove(setupButton);
    QTRY_COMPARE(status->currentMessage(), QStringLiteral("Setup preference"));

    QAction* toggle = f.Action(CMainFrame::StatusBar);
    QVERIFY(toggle->isChecked());
    toggle->trigger();
    QVERIFY(!toggle->isChecked());
    QVERIFY(!status->isVisible());
    toggle->trigger();
    QVERIFY(toggle->isChecked());
    QVERIFY(status->isVisible());
}

void TestFrame::animationKeepsItsPlace() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    const int menuBottom = f.menuBar()->geometry().bottom() + 1;
    for (int width : {700, 950, 420}) {
        f.resize(width, 400);
        QCoreApplication::processEvents();
        const QRect r = f.Animation()->geometry();
        QCOMPARE(r, QRect(f.width() - 152, menuBottom + 2, 150, 55));
        QVERIFY(f.Animation()->isVisible());
    }
    // It stays above the toolbar it sits on.
    // (Children are stacked in list order, the last on top.)
    QVERIFY(f.children().indexOf(f.Animation()) > f.children().indexOf(f.ToolBar()));
}

void TestFrame::shortcutsRunTheirCommands() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    CZAZO_DizeView* view = f.View();
    view->setFocus();
    CWaveSound& sounds = view->Sounds();

    // Ctrl+C copies (the list stays); Ctrl+L clears.
    view->Model().AppendRow(1, {"10.0.0.1", "a", "1", "Send", "Transfer Complete"});
    view->selectAll();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(view->Model().rowCount(), 1);
    QVERIFY(QApplication::clipboard()->text().startsWith(QStringLiteral("10.0.0.1\ta\t")));
    QTest::keyClick(view, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(view->Model().rowCount(), 0);
    QCOMPARE(sounds.LastRequestedId(), 149);

    // Ctrl+A selects every row and aborts nothing, wherever the focus is in the window;
    // Ctrl+S and Ctrl+T open their dialogs (or at least play the command sound before the
    // dialogs exist).
    for (RowHandle key = 2; key <= 4; ++key)
        view->Model().AppendRow(key, {"10.0.0.1", "a", "1", "Send", "Transfer Complete"});
    {
        ModalAnswer none(QMessageBox::Cancel);
        view->clearSelection();
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
        view->clearSelection();
        f.menuBar()->setFocus();
        QTest::keyClick(f.menuBar(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(none.answered, 0);
    }
    view->setFocus();
    for (Qt::Key key : {Qt::Key_S, Qt::Key_T}) {
        // The box or dialog before may leave no window active; shortcuts need one.
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        sounds.Play(141);
        ModalAnswer close;
        QTest::keyClick(view, key, Qt::ControlModifier);
        QCOMPARE(sounds.LastRequestedId(), 146);
    }
    // F1 opens help (or plays the command sound before help exists).
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    sounds.Play(141);
    ModalAnswer close;
    QTest::keyClick(view, Qt::Key_F1);
    QCOMPARE(sounds.LastRequestedId(), 146);
    // Option > Protocol... has no key: its menu item opens the dialog.
    sounds.Play(141);
    f.Action(CMainFrame::Protocol)->trigger();
    QCOMPARE(sounds.LastRequestedId(), 146);
    QCOMPARE(close.answered, 2);
}

void TestFrame::showFromAnotherCopy() {
    CMainFrame& f = *m_frame;
    QVERIFY(!f.isVisible());
    f.ShowFromAnotherCopy();
    QVERIFY(f.isVisible());
    // A minimised window comes back.
    f.showMinimized();
    QTRY_VERIFY(f.isMinimized());
    f.ShowFromAnotherCopy();
    QTRY_VERIFY(!f.isMinimized());
    QVERIFY(f.isVisible());
}

void TestFrame::statusFieldSaysWhereOrWhy() {
    // Listening: address, port and folder, whatever prompt covers the rest of the bar.
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QLabel* field = f.StatusField();
    QVERIFY(f.View()->IsListening());
    const QString where = QStringLiteral("127.0.0.1:%1").arg(f.View()->Engine().ListenPort());
    QVERIFY2(field->text().contains(where) && field->text().contains(m_store->WorkDir()),
             qPrintable(field->text()));
    // One engine thread, the default: the text says nothing of threads.
    QVERIFY2(!field->text().contains(QStringLiteral("engine thread")), qPrintable(field->text()));
    f.Action(CMainFrame::Clear)->showStatusText(&f);
    QVERIFY(field->isVisible());
    // Sounds are on here: a machine without an audio device is told so, once: the note
    // goes with the first row.
    QCOMPARE(field->text().contains(QStringLiteral("No audio device")),
             !f.View()->Sounds().HasOutput());
    f.View()->AddRow(
        1,
        RowTexts{QStringLiteral("10.0.0.1"), QStringLiteral("a"), {}, QStringLiteral("Send"), {}});
    f.UpdateStatusField();
    QVERIFY(!field->text().contains(QStringLiteral("No audio device")));
    QVERIFY(f.windowTitle().endsWith(where));

    // A long folder gives way at the window's first size: what follows it stays in view.
    const QString deep = m_store->WorkFile(QStringLiteral("a-rather-long-folder-name/").repeated(6));
    QVERIFY(QDir().mkpath(deep));
    m_store->store->WriteProfileString(CSettingsStore::kDirName, deep);
    f.resize(640, 400);
    const QString note = QStringLiteral("DHCP waits: enx00e04c680001 link down");
    f.SetStartNotes(note);
    QTRY_VERIFY2(field->text().endsWith(note), qPrintable(field->text()));
    QVERIFY(field->toolTip().contains(deep));
    QVERIFY2(field->fontMetrics().horizontalAdvance(field->text()) <= field->contentsRect().width(),
             qPrintable(field->text()));
    f.SetStartNotes(QString());

    // A folder that went away is reported, in red.
    m_store->store->WriteProfileString(CSettingsStore::kDirName, m_store->WorkFile("gone"));
    f.UpdateStatusField();
    QVERIFY2(field->text().contains(QStringLiteral("does not exist")), qPrintable(field->text()));
    QCOMPARE(field->palette().color(QPalette::WindowText).red(), 220);

    // A port that another program holds: said in red, with what helps; the box about
    // it opens above the window once the window is up.
    const quint16 port = f.View()->Engine().ListenPort();
    CMainFrame second(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, port);
    QVERIFY(!second.View()->IsListening());
    QVERIFY2(
        second.StatusField()->text().contains(QStringLiteral("another program holds the port")),
        qPrintable(second.StatusField()->text()));
    QCOMPARE(second.StatusField()->palette().color(QPalette::WindowText).red(), 220);
    // The bar above the list tells it and retries; no box besides.
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QVERIFY(second.ListenBanner()->isVisible());
    QTest::qWait(50);
    QVERIFY(!second.findChild<QMessageBox*>());

    // More than one engine thread asked for: the field says how many listen.
    m_store->store->WriteProfileString(CSettingsStore::kDirName, m_store->WorkDir());
    m_store->store->WriteProfileInt(CSettingsStore::kEngineThreads, 2);
    CMainFrame threaded(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost,
                        RandomHighPort());
    QVERIFY(threaded.View()->IsListening());
    const QString threads = threaded.View()->Engine().EngineThreadsNote();
    QVERIFY(!threads.isEmpty());
    QVERIFY2(threaded.StatusField()->toolTip().contains(QStringLiteral("  |  ") + threads),
             qPrintable(threaded.StatusField()->toolTip()));
}

void TestFrame::geometryAndColumnsRemembered() {
    m_frame->resize(640, 350);
    // The user drags a column's edge: that width is kept.
    QWidget* edge = m_frame->View()->header()->viewport();
    QTest::mousePress(edge, Qt::LeftButton, {}, QPoint(5, 5));
    m_frame->View()->setColumnWidth(1, 200);
    QTest::mouseRelease(edge, Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(m_frame->View()->UserSizedColumns());
    m_frame.reset(); // saved as it closes
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost,
                     RandomHighPort());
    QCOMPARE(again.size(), QSize(640, 350));
    QCOMPARE(again.View()->columnWidth(1), 200);
    // Information takes the rest of the width.
    again.resize(1000, 350);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QHeaderView* head = again.View()->header();
    QCOMPARE(head->sectionPosition(4) + head->sectionSize(4), again.View()->viewport()->width());
}

void TestFrame::narrowWindowKeepsButtonsClear() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.resize(320, 220);
    QCoreApplication::processEvents();
    const QRect animation = f.Animation()->geometry();
    for (QAction* action : f.ToolBar()->actions()) {
        QWidget* button = f.ToolBar()->widgetForAction(action);
        const QRect r(button->mapTo(&f, QPoint()), button->size());
        QVERIFY2(!r.intersects(animation), qPrintable(action->iconText()));
        QVERIFY(f.rect().contains(r));
        QVERIFY(button->isVisible());
    }
    QVERIFY(f.rect().contains(animation));
}

// The window shown with one download in progress: DATA 1 received, not acknowledged.
void TestFrame::StartOneDownload(TftpTestClient& client) {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QFile file(m_store->WorkFile(QStringLiteral("big.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(5000, 'x'));
    file.close();
    client.SendRequest(f.View()->Engine().ListenPort(), 1, "big.bin");
    QCOMPARE(TftpTestClient::Opcode(client.Receive()), quint16(3));
    QVERIFY_SOON(f.View()->ActiveTransfers() == 1);
}

void TestFrame::exitWithTransfersAsksFirst() {
    CMainFrame& f = *m_frame;
    TftpTestClient client;
    StartOneDownload(client);
    if (QTest::currentTestFailed())
        return;
    {
        ModalAnswer cancel(QMessageBox::Cancel);
        f.Action(CMainFrame::Exit)->trigger();
        QCOMPARE(cancel.answered, 1);
        QVERIFY(f.isVisible());
    }
    {
        ModalAnswer ok(QMessageBox::Ok);
        f.Action(CMainFrame::Exit)->trigger();
        QCOMPARE(ok.answered, 1);
        QVERIFY(!f.isVisible());
    }
    // The client hears why, rather than waiting for its own time-out.
    m_frame.reset();
    const QByteArray error = client.Receive();
    QCOMPARE(TftpTestClient::Opcode(error), quint16(5));
    QCOMPARE(TftpTestClient::Number(error), quint16(0));
    QCOMPARE(TftpTestClient::ErrorText(error), QByteArray("Server shutting down"));
}

// Fifteen requests short of a transfer port: one box that counts them, not fifteen.
void TestFrame::messagesShareOneBox() {
    CMainFrame& f = *m_frame;
    f.show();
    const QString text = QStringLiteral("Client Socket Creation Fails!!");
    for (int i = 0; i < 15; ++i)
        f.View()->ShowMessage(text);
    const auto boxes = f.findChildren<QMessageBox*>();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first()->text(), text + QStringLiteral("\n\n(and 14 more)"));
    boxes.first()->close();
    QVERIFY(SpinUntil([&] { return f.findChildren<QMessageBox*>().isEmpty(); }));
    f.View()->ShowMessage(text); // once it is closed, the next one opens anew
    QCOMPARE(f.findChildren<QMessageBox*>().size(), 1);
    QCOMPARE(f.findChildren<QMessageBox*>().first()->text(), text);
    f.findChildren<QMessageBox*>().first()->close();
}

// View > Hide Requests for Missing Files: off at first; on, it hides the rows of reads
// refused for want of the file, those there and those to come, and is remembered.
void TestFrame::missingFileRowsHidden() {
    CMainFrame& f = *m_frame;
    CZAZO_DizeView* view = f.View();
    RowTexts missing{QStringLiteral("10.0.0.1"), QStringLiteral("gone"), QString(),
                     QStringLiteral("Send"), QString()};
    const RowHandle a = 1, c = 3;
    view->AddRow(a, missing);
    view->AddRow(2, RowTexts{QStringLiteral("10.0.0.2"), QStringLiteral("here"), QString(),
                             QStringLiteral("Send"), QString()});
    missing.info = QStringLiteral("Error: Requested File Not Found!!");
    missing.missingFile = true;
    view->UpdateRow(a, missing, ROW_FAILED);
    QVERIFY(!f.Action(CMainFrame::HideMissingFiles)->isChecked());
    QCOMPARE(view->model()->rowCount(), 2);

    // The rows leave the list, not the model: their keys still find them.
    f.Action(CMainFrame::HideMissingFiles)->trigger();
    QCOMPARE(view->model()->rowCount(), 1);
    QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("here"));
    view->AddRow(c, missing);
    view->UpdateRow(c, missing, ROW_FAILED);
    QCOMPARE(view->model()->rowCount(), 1);
    QCOMPARE(view->Model().rowCount(), 3);

    m_frame.reset();
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost,
                     RandomHighPort());
    QVERIFY(again.Action(CMainFrame::HideMissingFiles)->isChecked());
}

// A port another program holds: the bar above the list says so in full, Retry takes
// the port field's port (kept for the next start), and once that port is free the
// window listens by itself and the bar goes.
void TestFrame::listenBannerRetriesUntilFree() {
    QUdpSocket holdA, holdB;
    quint16 a = 0, b = 0;
    for (int i = 0; i < 20 && !(a && b); ++i) {
        const quint16 p = RandomHighPort();
        if (!a && holdA.bind(QHostAddress::LocalHost, p, QUdpSocket::DontShareAddress))
            a = p;
        else if (!b && p != a && holdB.bind(QHostAddress::LocalHost, p, QUdpSocket::DontShareAddress))
            b = p;
    }
    QVERIFY(a && b);
    CMainFrame f(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, a);
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QVERIFY(!f.View()->IsListening());
    QVERIFY(f.ListenBanner()->isVisible());
    QVERIFY(f.ListenBannerText()->wordWrap());
    // The bar retries by itself: no box telling the user to restart the program.
    QTest::qWait(50);
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<QMessageBox*>(w) || !w->isVisible());
    const QString text = f.ListenBannerText()->text();
    QVERIFY2(text.contains(QStringLiteral("Cannot listen on 127.0.0.1:%1").arg(a)) &&
                 text.contains(QStringLiteral("Another program holds the port")),
             qPrintable(text));

    f.ListenBannerPort()->setValue(b);
    f.ListenBannerRetry()->click();
    QVERIFY(!f.View()->IsListening());
    QVERIFY2(f.ListenBannerText()->text().contains(QStringLiteral("127.0.0.1:%1").arg(b)),
             qPrintable(f.ListenBannerText()->text()));
    QCOMPARE(m_store->store->Port(), b);

    holdB.close();
    QVERIFY(SpinUntil([&] { return f.View()->IsListening(); }, CMainFrame::kRetryMs + 5000));
    QCOMPARE(f.View()->Engine().ListenPort(), b);
    QVERIFY(!f.ListenBanner()->isVisible());
    QVERIFY2(f.StatusField()->text().startsWith(QStringLiteral("Listening on 127.0.0.1:%1").arg(b)),
             qPrintable(f.StatusField()->text()));
}

void TestFrame::exitQuestionFollowsTheTransfers() {
    CMainFrame& f = *m_frame;
    TftpTestClient client;
    StartOneDownload(client);
    if (QTest::currentTestFailed())
        return;

    // While the question is open the client gives up: the question says so.
    QString before, after;
    QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
    int ticks = 0;
    QTimer answer;
    connect(&answer, &QTimer::timeout, &answer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (before.isEmpty()) {
            before = box->text();
            const QByteArray error("\0\5\0\0gone\0", 9);
            client.socket.writeDatagram(error, QHostAddress::LocalHost, client.serverPort);
        } else if (box->text() != before || ++ticks > 250) {
            after = box->text();
            byDefault = box->standardButton(box->defaultButton());
            box->button(QMessageBox::Cancel)->click();
        }
    });
    answer.start(20);
    f.Action(CMainFrame::Exit)->trigger();
    answer.stop();
    QVERIFY2(before.startsWith(QStringLiteral("Transfers are in progress.")), qPrintable(before));
    QCOMPARE(after, QStringLiteral("The transfers have ended.\n\nExit now?"));
    QCOMPARE(byDefault, QMessageBox::Ok);
    QVERIFY(f.isVisible());
}

void TestFrame::openFolderWithoutFileManagerSaysWhy() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QUrl asked;
    f.SetUrlOpener([&asked](const QUrl& url) {
        asked = url;
        return false; // as where no file manager is registered
    });
    QApplication::clipboard()->setText(QStringLiteral("before"));
    QString text;
    QTimer answer;
    connect(&answer, &QTimer::timeout, &answer, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QLatin1String("Copy &Path"))
                button->click();
        if (box->isVisible()) // no such button: fail rather than hang
            box->reject();
    });
    answer.start(20);
    f.Action(CMainFrame::OpenFolder)->trigger();
    answer.stop();
    const QString folder = m_store->store->WorkingFolder();
    QCOMPARE(asked, QUrl::fromLocalFile(folder));
    QVERIFY2(text.contains(QStringLiteral("No file manager")) && text.contains(folder),
             qPrintable(text));
    QVERIFY(f.statusBar()->currentMessage().contains(QStringLiteral("No file manager")));
    QCOMPARE(QApplication::clipboard()->text(), folder);
}

// Bound to one address: that one, with its port, in the title, the status field and
// View > Copy Server Address.
void TestFrame::serverAddressInTitleAndCopied() {
    CMainFrame& f = *m_frame;
    QVERIFY(f.View()->IsListening());
    const QString where = QStringLiteral("127.0.0.1:%1").arg(f.Port());
    QCOMPARE(f.ServerAddresses(), QStringList{where});
    QCOMPARE(f.windowTitle(), QStringLiteral("Vantrel Server 1.0 - ") + where);
    QVERIFY2(f.StatusField()->text().startsWith(QStringLiteral("Listening on %1, serving ").arg(where)),
             qPrintable(f.StatusField()->text()));
    QAction* copy = f.Action(CMainFrame::CopyAddress);
    QVERIFY(copy->isEnabled());
    QVERIFY(!copy->menu<QMenu*>()); // one address: no list to pick from
    QApplication::clipboard()->setText(QStringLiteral("before"));
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("tftp://%1/").arg(where));
}

// The list's context menu: Open Containing Folder and Clear Finished Rows on an ended
// row, Abort This Transfer on the running one, which the clearing left in place.
void TestFrame::rowMenuActsOnItsRow() {
    CMainFrame& f = *m_frame;
    CZAZO_DizeView* view = f.View();
    const CTransferListModel& model = view->Model();
    QVERIFY(QDir(m_store->WorkDir()).mkpath(QStringLiteral("sub")));
    TftpTestClient client;
    StartOneDownload(client);
    if (QTest::currentTestFailed())
        return;
    RowTexts gone{QStringLiteral("127.0.0.1"), QStringLiteral("sub/gone.bin"), QString(),
                  QStringLiteral("Send"), QString()};
    const RowHandle ended = 1000; // after the download's row
    view->AddRow(ended, gone);
    gone.info = QStringLiteral("Error: Requested File Not Found!!");
    view->UpdateRow(ended, gone, ROW_FAILED);
    QCOMPARE(model.rowCount(), 2);

    view->PrepareContextMenu(view->model()->index(1, 0));
    QVERIFY(!view->AbortRowAction()->isEnabled());
    QVERIFY(view->ClearFinishedAction()->isEnabled());
    QUrl asked;
    f.SetUrlOpener([&asked](const QUrl& url) {
        asked = url;
        return true;
    });
    view->OpenFolderAction()->trigger();
    QCOMPARE(asked, QUrl::fromLocalFile(m_store->WorkFile(QStringLiteral("sub"))));

    view->ClearFinishedAction()->trigger();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.Row(0).m_texts.file, QStringLiteral("big.bin"));

    view->PrepareContextMenu(view->model()->index(0, 0));
    QVERIFY(view->AbortRowAction()->isEnabled());
    view->AbortRowAction()->trigger();
    const QByteArray error = client.Receive();
    QCOMPARE(TftpTestClient::Opcode(error), quint16(5));
    QCOMPARE(TftpTestClient::Number(error), quint16(0));
    QVERIFY_SOON(model.Row(0).m_nState == ROW_FAILED);
    QVERIFY(model.Row(0).m_texts.info.startsWith(QStringLiteral("User aborts!! (at ")));
    QVERIFY_SOON(view->ActiveTransfers() == 0);
}

// Failures and finished uploads are told while the window is out of sight, unless
// View > Notifications is off; missing files and downloads are not.
void TestFrame::notificationsWhileHidden() {
    CMainFrame& f = *m_frame;
    CZAZO_DizeView* view = f.View();
    QStringList shown;
    f.SetNotifier([&shown](const QString& title, const QString& text) {
        shown << title + QStringLiteral(": ") + text;
    });
    auto end = [view, lastRow = RowHandle(0)](const char* file, const char* info,
                                              RowState state, bool missing = false) mutable {
        RowTexts texts{QStringLiteral("127.0.0.1"), QString::fromLatin1(file), QString(),
                       QStringLiteral("Receive"), QString()};
        const RowHandle row = ++lastRow;
        view->AddRow(row, texts);
        texts.info = QString::fromLatin1(info);
        texts.missingFile = missing;
        view->UpdateRow(row, texts, state);
        QCoreApplication::processEvents();
    };
    QVERIFY(f.Action(CMainFrame::Notifications)->isChecked());
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    end("seen.bin", "Transfer Complete", ROW_RECEIVED);
    QVERIFY(shown.isEmpty());

    f.showMinimized();
    end("up.bin", "Transfer Complete", ROW_RECEIVED);
    QTRY_COMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QStringLiteral("upload complete")) &&
                 shown[0].contains(QStringLiteral("up.bin")),
             qPrintable(shown[0]));

    f.hide();
    end("fw.img", "Uploads Are Turned Off", ROW_FAILED);
    end("pxelinux.cfg/01-aa", "Error: Requested File Not Found!!", ROW_FAILED, true);
    end("sent.bin", "Transfer Complete", ROW_SENT);
    QTRY_COMPARE(shown.size(), 2);
    QVERIFY2(shown[1].contains(QStringLiteral("failed")) &&
                 shown[1].contains(QStringLiteral("Uploads Are Turned Off")),
             qPrintable(shown[1]));

    f.Action(CMainFrame::Notifications)->trigger();
    end("quiet.bin", "Transfer Complete", ROW_RECEIVED);
    QCoreApplication::processEvents();
    QCOMPARE(shown.size(), 2);
    QVERIFY(!m_store->store->Notifications());
}

// Send to Device waiting for a device that is not there yet: a transfer in progress
// like the server's, for Exit (Ctrl+Q asks), Abort (offered) and Clear (not offered);
// Exit tells the device and the row ends in words of its own.
void TestFrame::deviceTransferGuardedLikeServerOnes() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QUdpSocket device; // listens, never answers
    QVERIFY(device.bind(QHostAddress::LocalHost, 0));
    QFile file(m_store->WorkFile(QStringLiteral("fw.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("firmware");
    file.close();
    TftpClient::Request r;
    r.put = true;
    r.server = QHostAddress::LocalHost;
    r.port = device.localPort();
    r.remoteName = "fw.bin";
    r.local = TftpClient::LocalPath(file.fileName());
    r.waitSeconds = 60;
    f.View()->Engine().StartClient(r, QStringLiteral("fw.bin"));
    QVERIFY_SOON(f.View()->ActiveTransfers() == 1);
    QVERIFY_SOON(f.Action(CMainFrame::Abort)->isEnabled());
    QVERIFY(!f.Action(CMainFrame::Clear)->isEnabled());
    {
        ModalAnswer cancel(QMessageBox::Cancel);
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTest::keyClick(f.View(), Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(cancel.answered, 1);
        QVERIFY(cancel.text.startsWith(QStringLiteral("Transfers are in progress.")));
        QVERIFY(f.isVisible());
    }
    // The device answers at last (its transfer port learnt), then the user exits.
    QVERIFY(SpinUntil([&] { return device.hasPendingDatagrams(); }));
    const QNetworkDatagram request = device.receiveDatagram();
    QUdpSocket tid;
    QVERIFY(tid.bind(QHostAddress::LocalHost, 0));
    tid.writeDatagram(QByteArray("\0\4\0\0", 4), QHostAddress::LocalHost, quint16(request.senderPort()));
    QVERIFY(SpinUntil([&] { return tid.hasPendingDatagrams(); })); // DATA 1
    tid.receiveDatagram();
    {
        ModalAnswer ok(QMessageBox::Ok);
        f.Action(CMainFrame::Exit)->trigger();
        QCOMPARE(ok.answered, 1);
    }
    m_frame.reset();
    QVERIFY(SpinUntil([&] { return tid.hasPendingDatagrams(); }));
    const QByteArray error = tid.receiveDatagram().data();
    QCOMPARE(error.left(4), QByteArray("\0\5\0\0", 4));
    // The transfer log's last word on the row is its end, not ACTIVE.
    QFile log(CTransferLog::DefaultPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QByteArray last;
    for (const QByteArray& line : log.readAll().split('\n'))
        if (line.contains("fw.bin"))
            last = line;
    QVERIFY2(last.contains("Ended with the program") && !last.contains("ACTIVE"), last.constData());
}

QTEST_MAIN(TestFrame)
// A click on a column's title sorts by it, sizes by their bytes; a second click turns
// the order; rows that come while sorted take their place.
void TestFrame::sortByClickingAColumn() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    const qint64 sizes[] = {2048, 10, 5000000};
    for (int i = 0; i < 3; ++i) {
        RowTexts t{QStringLiteral("10.0.0.%1").arg(i + 1), QStringLiteral("f%1").arg(i),
                   QString::number(sizes[i]), QStringLiteral("Send"), QStringLiteral("Done")};
        t.bytes = sizes[i];
        f.View()->AddRow(RowHandle(i + 1), t);
    }
    const auto clients = [&f] {
        QStringList out;
        for (int r = 0; r < f.View()->model()->rowCount(); ++r)
            out << f.View()->model()->index(r, CTransferListModel::ColClient).data().toString();
        return out;
    };
    QCOMPARE(clients(), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"})); // as they came
    QHeaderView* head = f.View()->header();
    const auto click = [head](int column) {
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {},
                          QPoint(head->sectionViewportPosition(column) + head->sectionSize(column) / 2,
                                 head->height() / 2));
    };
    click(CTransferListModel::ColSize);
    QTRY_COMPARE(clients(), (QStringList{"10.0.0.2", "10.0.0.1", "10.0.0.3"}));
    click(CTransferListModel::ColSize);
    QTRY_COMPARE(clients(), (QStringList{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
    RowTexts t{QStringLiteral("10.0.0.4"), QStringLiteral("g"), QStringLiteral("4096"),
               QStringLiteral("Send"), {}};
    t.bytes = 4096;
    f.View()->AddRow(4, t);
    QTRY_COMPARE(clients(), (QStringList{"10.0.0.3", "10.0.0.4", "10.0.0.1", "10.0.0.2"}));
    QVERIFY(!f.View()->UserSizedColumns()); // a click sizes nothing
    click(CTransferListModel::ColClient);
    QTRY_COMPARE(clients(), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}));

    // Save List As writes what the list shows: its rows in their order, its columns.
    click(CTransferListModel::ColSize);
    click(CTransferListModel::ColSize);
    f.View()->Filter().SetText(QStringLiteral("f"));
    f.View()->ColumnsMenu()->actions()[CTransferListModel::ColFile]->setChecked(false);
    const QString path = m_store->WorkFile(QStringLiteral("list.csv"));
    QVERIFY(f.SaveListAs(path));
    QFile csv(path);
    QVERIFY(csv.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("Client,Size,Service,Information,State,Bytes,Started,Seconds,BytesPerSecond"));
    QVERIFY2(lines[1].startsWith(QLatin1String("10.0.0.3,5000000,Send,Done,ACTIVE,5000000,")), qPrintable(lines[1]));
    QVERIFY(lines[2].startsWith(QLatin1String("10.0.0.1,")));
    QVERIFY(lines[3].startsWith(QLatin1String("10.0.0.2,")));
}

// What the filter leaves is counted, and the filter and Hide finished, typed and ticked
// by keyboard, are there again at the next start.
void TestFrame::filterRememberedAndCounted() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    for (int i = 1; i <= 3; ++i)
        f.View()->AddRow(RowHandle(i), RowTexts{QStringLiteral("10.0.0.%1").arg(i), QStringLiteral("a"),
                                                {}, QStringLiteral("Send"), {}});
    f.View()->UpdateRow(1, RowTexts{QStringLiteral("10.0.0.1"), QStringLiteral("a"), {},
                                    QStringLiteral("Send"), QStringLiteral("Done")}, ROW_SENT);
    auto* count = f.findChild<QLabel*>(QStringLiteral("filterCount"));
    QVERIFY(count && !count->isVisible());
    QTest::keyClick(&f, Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f.FilterEdit()));
    QTest::keyClicks(f.FilterEdit(), QStringLiteral("10.0.0"));
    QTRY_VERIFY(count->isVisible());
    QCOMPARE(count->text(), QStringLiteral("showing 3 of 3"));
    QTest::keyClick(&f, Qt::Key_N, Qt::AltModifier); // Hide finished
    QTRY_COMPARE(count->text(), QStringLiteral("showing 2 of 3"));
    QTest::keyClicks(f.FilterEdit(), QStringLiteral(".3"));
    QTRY_COMPARE(count->text(), QStringLiteral("showing 1 of 3"));

    m_frame.reset(); // remembered as it closes
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    QCOMPARE(again.FilterEdit()->text(), QStringLiteral("10.0.0.3"));
    QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("hideFinishedCheck"))->isChecked());
    QVERIFY(again.View()->Filter().HidesFinished());
    QCOMPARE(again.View()->Filter().Text(), QStringLiteral("10.0.0.3"));
}

// View > Columns by keyboard hides File; the header's menu is the same one; the choice
// is there at the next start, and the last column shown cannot go.
void TestFrame::columnChooserRemembered() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QMenu* columns = f.View()->ColumnsMenu();
    QTest::keyClick(&f, Qt::Key_V, Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_L);
    QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(columns));
    if (!columns->activeAction())
        QTest::keyClick(columns, Qt::Key_Down); // onto Client
    QTest::keyClick(columns, Qt::Key_Down);     // File
    QCOMPARE(columns->activeAction()->text(), QStringLiteral("File"));
    QTest::keyClick(columns, Qt::Key_Return);
    QTRY_VERIFY(f.View()->isColumnHidden(CTransferListModel::ColFile));
    QCOMPARE(f.View()->HiddenColumns(),
             QStringList{QStringLiteral("File")} + CTransferListView::DefaultHiddenColumns());
    QCOMPARE(f.View()->header()->contextMenuPolicy(), Qt::CustomContextMenu);

    m_frame.reset();
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    QVERIFY(again.View()->isColumnHidden(CTransferListModel::ColFile));
    QVERIFY(!again.View()->isColumnHidden(CTransferListModel::ColClient));
    const QList<QAction*> all = again.View()->ColumnsMenu()->actions();
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        if (c != CTransferListModel::ColInfo)
            all[c]->setChecked(false);
    QVERIFY(!all[CTransferListModel::ColInfo]->isEnabled()); // the last one stays
    QVERIFY(!again.View()->isColumnHidden(CTransferListModel::ColInfo));
}

namespace {
// Alt+V, then each key in the menu that is open.
void viewMenuKeys(CMainFrame& f, std::initializer_list<int> keys) {
    QTest::keyClick(&f, Qt::Key_V, Qt::AltModifier);
    for (int key : keys) {
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key(key));
    }
    QTRY_VERIFY(!QApplication::activePopupWidget());
}

QStringList shownFiles(const CMainFrame& f) {
    QStringList files;
    for (int r = 0; r < f.View()->model()->rowCount(); ++r)
        files << f.View()->model()->index(r, CTransferListModel::ColFile).data().toString();
    return files;
}
} // namespace

// View > Sort By, by keyboard: Started, then Descending; the newest row comes on top and
// stays in view; the order is there at the next start.
void TestFrame::sortByKeyboardRemembered() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    for (int i = 1; i <= 40; ++i)
        f.View()->AddRow(RowHandle(i), RowTexts{QStringLiteral("10.0.0.1"), QString::number(i),
                                                {}, QStringLiteral("Send"), {}});
    viewMenuKeys(f, {Qt::Key_O, Qt::Key_T}); // S&ort By, S&tarted
    QCOMPARE(f.View()->header()->sortIndicatorSection(), int(CTransferListModel::ColStarted));
    QCOMPARE(f.View()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
    viewMenuKeys(f, {Qt::Key_O, Qt::Key_D}); // &Descending
    QCOMPARE(f.View()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(shownFiles(f).first(), QStringLiteral("40"));
    f.View()->scrollToTop();
    f.View()->AddRow(41, RowTexts{QStringLiteral("10.0.0.1"), QStringLiteral("41"), {},
                                  QStringLiteral("Send"), {}});
    QCOMPARE(shownFiles(f).first(), QStringLiteral("41"));
    QTest::qWait(50);
    QCOMPARE(f.View()->indexAt(QPoint(2, 2)).data().toString(), QStringLiteral("10.0.0.1"));
    QCOMPARE(f.View()->model()->index(f.View()->indexAt(QPoint(2, 2)).row(),
                                      CTransferListModel::ColFile).data().toString(),
             QStringLiteral("41"));

    m_frame.reset();
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    QCOMPARE(again.View()->header()->sortIndicatorSection(), int(CTransferListModel::ColStarted));
    QCOMPARE(again.View()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    int checked = 0;
    for (QAction* a : again.View()->SortMenu()->actions())
        checked += a->isChecked() ? 1 : 0;
    QCOMPARE(checked, 2); // Started and Descending
    // Order of Arrival undoes it, and that is remembered too.
    again.show();
    QVERIFY(QTest::qWaitForWindowActive(&again));
    viewMenuKeys(again, {Qt::Key_O, Qt::Key_A});
    QCOMPARE(again.View()->header()->sortIndicatorSection(), -1);
}

// Alt+E (Failed) and Alt+C (DHCP) toggle their quick filters; either shows; the count
// says so; both are on again at the next start.
void TestFrame::quickFiltersByKeyboardRemembered() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    const struct {
        const char* file;
        const char* service;
        RowState state;
    } rows[] = {{"ok", "Send", ROW_SENT}, {"bad", "Receive", ROW_FAILED}, {"lease", "DHCP", ROW_SENT},
                {"run", "Send", ROW_ACTIVE}};
    RowHandle key = 0;
    for (const auto& r : rows) {
        RowTexts t{QStringLiteral("10.0.0.1"), QLatin1String(r.file), {}, QLatin1String(r.service), {}};
        f.View()->AddRow(++key, t);
        if (r.state != ROW_ACTIVE)
            f.View()->UpdateRow(key, t, r.state);
    }
    QTest::keyClick(&f, Qt::Key_E, Qt::AltModifier);
    QTRY_COMPARE(shownFiles(f), QStringList{QStringLiteral("bad")});
    QTest::keyClick(&f, Qt::Key_C, Qt::AltModifier);
    QTRY_COMPARE(shownFiles(f), (QStringList{QStringLiteral("bad"), QStringLiteral("lease")}));
    QCOMPARE(f.findChild<QLabel*>(QStringLiteral("filterCount"))->text(), QStringLiteral("showing 2 of 4"));

    m_frame.reset();
    CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    QCOMPARE(again.View()->Filter().QuickFilters(),
             int(CTransferFilter::QuickFailed | CTransferFilter::QuickDhcp));
    QVERIFY(again.QuickFilterButtons()[0]->isChecked());
    QVERIFY(!again.QuickFilterButtons()[1]->isChecked());
    QVERIFY(again.QuickFilterButtons()[2]->isChecked());
}

// Enter on a row opens the pane on it; the arrow keys move it along a finished, a failed
// and a DHCP row; a running transfer's samples reach its graph and the status bar's,
// whose click opens the busiest transfer.
void TestFrame::detailsPaneFollowsTheRowAndGraphsFill() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QVERIFY(!f.DetailsPane()->isVisible()); // closed until asked for
    RowTexts done{QStringLiteral("10.0.0.1"), QStringLiteral("a.bin"), {}, QStringLiteral("Send"),
                  QStringLiteral("Transfer Complete (blksize 1468, windowsize 16)")};
    RowTexts failed{QStringLiteral("10.0.0.2"), QStringLiteral("b.bin"), {}, QStringLiteral("Receive"),
                    QStringLiteral("Disk full or allocation exceeded")};
    RowTexts dhcp{QStringLiteral("52:54:00:12:34:56 (192.168.100.111)"), {}, {}, QStringLiteral("DHCP"),
                  QStringLiteral("Leased 192.168.100.111 for 1 h")};
    dhcp.host = QStringLiteral("printer-2");
    f.View()->AddRow(1, done);
    f.View()->UpdateRow(1, done, ROW_SENT);
    f.View()->AddRow(2, failed);
    f.View()->UpdateRow(2, failed, ROW_FAILED);
    f.View()->AddRow(3, dhcp);
    f.View()->UpdateRow(3, dhcp, ROW_SENT);
    f.View()->setFocus();
    f.View()->setCurrentIndex(f.View()->model()->index(0, 0));
    QTest::keyClick(f.View(), Qt::Key_Return);
    QTRY_VERIFY(f.DetailsPane()->isVisible());
    QVERIFY(f.DetailsAction()->isChecked());
    const auto text = [&f] { return f.DetailsPane()->Text()->toPlainText(); };
    QTRY_VERIFY2(text().contains(QLatin1String("Options: blksize 1468, windowsize 16")),
                 qPrintable(text()));
    QTest::keyClick(f.View(), Qt::Key_Down);
    QTRY_VERIFY2(text().contains(QLatin1String("Why it failed: Disk full")), qPrintable(text()));
    QTest::keyClick(f.View(), Qt::Key_Down);
    QTRY_VERIFY(text().contains(QLatin1String("Lease: Leased 192.168.100.111 for 1 h")));
    QVERIFY(text().contains(QLatin1String("Host name: printer-2")));

    // A running download, its progress told as the engine tells it.
    f.View()->AddRow(4, RowTexts{QStringLiteral("10.0.0.4"), QStringLiteral("big.iso"), {},
                                 QStringLiteral("Send"), QStringLiteral("Sending")});
    qint64 sent = 0;
    QElapsedTimer spent;
    spent.start();
    while (f.ThroughputGraph()->Peak() == 0 && spent.elapsed() < 8000) {
        sent += 64 * 1024;
        f.View()->DrawProgress(4, sent, 1 << 30);
        QTest::qWait(50);
    }
    QVERIFY(f.ThroughputGraph()->Peak() > 0);
    QVERIFY(!f.View()->Model().Row(3).m_samples.isEmpty());
    QVERIFY(f.ThroughputGraph()->accessibleDescription().startsWith(QLatin1String("Latest ")));
    QTest::mouseClick(f.ThroughputGraph(), Qt::LeftButton);
    QCOMPARE(f.DetailsPane()->Row(), RowHandle(4));
    QTRY_VERIFY(!f.DetailsPane()->Graph()->Samples().isEmpty());
    // The keyboard's way to it: the graph takes focus and Enter, and View has the entry.
    f.DetailsPane()->ShowRow(1);
    f.ThroughputGraph()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(f.ThroughputGraph(), Qt::Key_Return);
    QCOMPARE(f.DetailsPane()->Row(), RowHandle(4));
    viewMenuKeys(f, {Qt::Key_D}); // &Details closes it
    QVERIFY(!f.DetailsPane()->isVisible());
}

// What a screen reader hears of each new control: a name, the role, and for the toggles
// their state; menu entries have their mnemonics.
void TestFrame::newControlsNamedForScreenReaders() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    const QStringList names{"Failed rows", "Running rows", "DHCP rows", "Boot rows", "Client rows"};
    for (int i = 0; i < names.size(); ++i) {
        QToolButton* button = f.QuickFilterButtons()[i];
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), names[i]);
        QVERIFY(!a->text(QAccessible::Description).isEmpty());
        QVERIFY(a->state().checkable);
        QVERIFY(button->focusPolicy() & Qt::TabFocus);
        QVERIFY(button->text().contains(QLatin1Char('&')));
    }
    f.DetailsAction()->setChecked(true);
    for (QWidget* w : {static_cast<QWidget*>(f.ThroughputGraph()),
                       static_cast<QWidget*>(f.DetailsPane()->Text()),
                       static_cast<QWidget*>(f.DetailsPane()->Graph())}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY(a);
        QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        QVERIFY2(!a->text(QAccessible::Description).isEmpty(), qPrintable(w->objectName()));
    }
    QVERIFY(f.ThroughputGraph()->focusPolicy() & Qt::TabFocus);
    // The graphs are charts with the speed as their value, not fillers; the status
    // bar's can be pressed (it opens the busiest transfer).
    for (CSpeedGraph* g : {f.ThroughputGraph(), f.DetailsPane()->Graph()}) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(g);
        QCOMPARE(a->role(), QAccessible::Chart);
        QCOMPARE(a->text(QAccessible::Value), g->Description());
    }
    {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(f.ThroughputGraph());
        QVERIFY(a->actionInterface());
        QCOMPARE(a->actionInterface()->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
        f.DetailsAction()->setChecked(false);
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(f.DetailsAction()->isChecked());
        QVERIFY(QAccessible::queryAccessibleInterface(f.DetailsPane()->Graph())
                    ->actionInterface()->actionNames().isEmpty());
    }
    // Tab goes as the eye reads: the last quick filter, the list, its details, the graph.
    f.QuickFilterButtons().last()->setFocus();
    const QList<QWidget*> order{f.View(), f.DetailsPane()->Text(), f.ThroughputGraph()};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    for (QAction* a : f.View()->SortMenu()->actions())
        QVERIFY(a->isSeparator() || a->text().contains(QLatin1Char('&')));
}

// The details pane comes back as it was left: open, at the height the user gave it.
void TestFrame::detailsPaneRemembered() {
    {
        CMainFrame& f = *m_frame;
        f.resize(700, 600);
        f.show();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        viewMenuKeys(f, {Qt::Key_D});
        QTRY_VERIFY(f.DetailsPane()->isVisible());
        auto* splitter = f.findChild<QSplitter*>(QStringLiteral("listSplitter"));
        const int all = splitter->sizes().value(0) + splitter->sizes().value(1);
        splitter->setSizes({all - 230, 230});
        QCOMPARE(f.DetailsHeight(), 230);
        m_frame.reset();
    }
    {
        CMainFrame again(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
        again.resize(700, 600);
        again.show();
        QVERIFY(QTest::qWaitForWindowActive(&again));
        QTRY_VERIFY(again.DetailsPane()->isVisible());
        QVERIFY(again.DetailsAction()->isChecked());
        QTRY_COMPARE(again.DetailsHeight(), 230);
        // Closed, it stays closed at the next start and keeps its height.
        viewMenuKeys(again, {Qt::Key_D});
        QVERIFY(!again.DetailsPane()->isVisible());
        QCOMPARE(again.DetailsHeight(), 230);
    }
    CMainFrame third(*m_store->store, m_store->NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    third.show();
    QVERIFY(QTest::qWaitForWindowActive(&third));
    QTest::qWait(50);
    QVERIFY(!third.DetailsPane()->isVisible());
    QCOMPARE(third.DetailsHeight(), 230);
}

#include "tst_frame.moc"
