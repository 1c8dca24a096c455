// The main frame: menus, toolbar, status bar, shortcuts, title, icon and the
// animation's place.
#include "MainFrame.h"
#include "TransferAnimDlg.h"
#include "TransferListModel.h"
#include "UiTestSupport.h"
#include "WaveSound.h"
#include "WindowTitle.h"
#include "ZAZO_DizeView.h"

#include <QLabel>
#include <QMenuBar>
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

private:
    std::unique_ptr<TestStore> m_store;
    std::unique_ptr<CMainFrame> m_frame;
};

void TestFrame::init() {
    m_store = std::make_unique<TestStore>(1);
    m_frame =
        std::make_unique<CMainFrame>(*m_store->store, QHostAddress::LocalHost, RandomHighPort());
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
        "  &Abort\tCtrl+A",
        "",
        "  &Clear\tCtrl+C",
        "",
        "  E&xit",
        "&Option",
        "  &Setup...\tCtrl+S",
        "",
        "  Securi&ty...\tCtrl+T",
        "&View",
        "  &Status Bar",
        "&Help",
        "  &Vantrel Server 1.0 Help...",
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
        QCOMPARE(buttons[i]->statusTip(), QString::fromLatin1(prompts[i]));
        QVERIFY(!buttons[i]->icon().isNull());
        QCOMPARE(bar->widgetForAction(buttons[i])->size(), QSize(80, 53));
    }
    QCOMPARE(f.Action(CMainFrame::Abort)->statusTip(),
             QStringLiteral("Abort all current active connections"));
    QCOMPARE(f.Action(CMainFrame::Abort)->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
}

void TestFrame::statusBarPromptsAndToggle() {
    CMainFrame& f = *m_frame;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QStatusBar* status = f.statusBar();
    QVERIFY(f.ReadyLabel()->isVisible());
    QCOMPARE(f.ReadyLabel()->text(), QStringLiteral("Ready"));

    // A command's prompt while it is highlighted, "Ready" again afterwards.
    f.Action(CMainFrame::Clear)->showStatusText(&f);
    QCOMPARE(status->currentMessage(), QStringLiteral("Clear all display messages"));
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

    // Ctrl+C clears, even with the focus in the list (where it could mean "copy").
    view->Model().AppendRow({"10.0.0.1", "a", "1", "Send", "Transfer Complete"});
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(view->Model().rowCount(), 0);
    QCOMPARE(sounds.LastRequestedId(), 149);

    // Ctrl+A asks before aborting; Ctrl+S and Ctrl+T open their dialogs (or at
    // least play the command sound before the dialogs exist).
    {
        ModalAnswer cancel(QMessageBox::Cancel);
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(cancel.answered, 1);
        QCOMPARE(cancel.caption, QStringLiteral("Abort"));
    }
    for (Qt::Key key : {Qt::Key_S, Qt::Key_T}) {
        // The box or dialog before may leave no window active; shortcuts need one.
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        sounds.Play(141);
        ModalAnswer close;
        QTest::keyClick(view, key, Qt::ControlModifier);
        QCOMPARE(sounds.LastRequestedId(), 146);
    }
}

void TestFrame::showFromAnotherCopy() {
    CMainFrame& f = *m_frame;
    QVERIFY(!f.isVisible());
    f.ShowFromAnotherCopy();
    QVERIFY(f.isVisible());
    f.showMinimized();
    QTRY_VERIFY(f.isMinimized());
    f.ShowFromAnotherCopy();
    QVERIFY(f.isMinimized());
}

QTEST_MAIN(TestFrame)
#include "tst_frame.moc"
