#include "MainFrame.h"

#include "TransferAnimDlg.h"
#include "WindowResources.h"
#include "WindowTitle.h"
#include "ZAZO_DizeView.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

#if defined(VANTREL_HAVE_FEEDBACK_HELP) && __has_include("AboutBoxDlg.h")
#include "AboutBoxDlg.h"
#define VANTREL_ABOUT_COMMAND 1
#endif
#if defined(VANTREL_HAVE_SPLASH) && __has_include("SplashWindow.h")
#include "SplashWindow.h"
#define VANTREL_SPLASH 1
#endif

namespace {
struct CommandText {
    const char* menuText; // a tab before the shortcut that the menu shows
    const char* prompt;   // status bar, while highlighted or under the pointer
    const char* toolTip;
    const char* buttonText;
    const char* shortcut;
};

const CommandText kCommandTexts[CMainFrame::CommandCount] = {
    {"&Abort\tCtrl+A", "Abort all current active connections", "Abort", "Abort", "Ctrl+A"},
    {"&Clear\tCtrl+C", "Clear all display messages", "Clear", "Clear", "Ctrl+C"},
    {"E&xit", "Quit the application; prompts to save documents", "Exit", "Exit", nullptr},
    {"&Setup...\tCtrl+S", "Setup preference", "Setup", "Setup", "Ctrl+S"},
    {"Securi&ty...\tCtrl+T", "Setup security information", "Security", "Security", "Ctrl+T"},
    {"&Status Bar", "Show or hide the status bar", "Toggle StatusBar", "Status Bar", nullptr},
    {"&Vantrel Server 1.0 Help...", "Help", "Help", "Help", nullptr},
    {"&About Vantrel Server 1.0...", "Display program information, version number and copyright",
     "About", "About", nullptr},
};
} // namespace

CMainFrame::CMainFrame(CSettingsStore& store, const QHostAddress& address, quint16 port,
                       QWidget* parent)
    : QMainWindow(parent) {
    InitWindowResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/window/icon16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/window/icon32.png"), QSize(32, 32));
    setWindowIcon(icon);
    resize(kWidth, kHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect box(QPoint(), QSize(kWidth, kHeight));
        box.moveCenter(screen->availableGeometry().center());
        move(box.topLeft());
    }

    // The list first: it owns the engine, which listens and plays the start-up sound.
    m_pView = new CZAZO_DizeView(store, address, port, this);
    setCentralWidget(m_pView);

    CreateActions();
    CreateMenus();
    CreateToolBar();
    m_bCreated = true;
    CreateStatusBar();
    setWindowTitle(WindowTitle::ForThisMachine());

    m_pAnimation = new CTransferAnimDlg(this);
    m_pView->SetAnimation(m_pAnimation);
    m_pAnimation->show();
    // The menu bar gets its height when the frame's layout first runs.
    menuWidget()->installEventFilter(this);
    PlaceAnimation();
}

CMainFrame::~CMainFrame() {
    // The engine must not reach the animation while the frame comes apart.
    m_pView->SetAnimation(nullptr);
}

void CMainFrame::CreateActions() {
    for (int c = 0; c < CommandCount; ++c) {
        const CommandText& t = kCommandTexts[c];
        auto* action = new QAction(QString::fromLatin1(t.menuText), this);
        action->setStatusTip(QString::fromLatin1(t.prompt));
        action->setToolTip(QString::fromLatin1(t.toolTip));
        action->setIconText(QString::fromLatin1(t.buttonText));
        if (t.shortcut)
            action->setShortcut(QKeySequence(QString::fromLatin1(t.shortcut)));
        m_actions[c] = action;
    }
    connect(m_actions[Abort], &QAction::triggered, m_pView, [this] { m_pView->OnAbort(); });
    connect(m_actions[Clear], &QAction::triggered, m_pView, [this] { m_pView->OnClear(); });
    connect(m_actions[Exit], &QAction::triggered, this, &QWidget::close);
    connect(m_actions[Setup], &QAction::triggered, m_pView, [this] { m_pView->OnSetup(); });
    connect(m_actions[Security], &QAction::triggered, m_pView, [this] { m_pView->OnSecurity(); });
    connect(m_actions[Help], &QAction::triggered, m_pView, [this] { m_pView->OnHelp(); });
    connect(m_actions[About], &QAction::triggered, this, [this] {
#ifdef VANTREL_ABOUT_COMMAND
        RunAboutCommand(this);
#endif
    });
    QAction* statusBarAction = m_actions[StatusBar];
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(m_actions[Abort]);
    file->addSeparator();
    file->addAction(m_actions[Clear]);
    file->addSeparator();
    file->addAction(m_actions[Exit]);
    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    option->addAction(m_actions[Setup]);
    option->addSeparator();
    option->addAction(m_actions[Security]);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(m_actions[StatusBar]);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(m_actions[Help]);
    help->addAction(m_actions[About]);
}

void CMainFrame::CreateToolBar() {
    m_pToolBar = new QToolBar(QStringLiteral("Toolbar"), this);
    m_pToolBar->setObjectName(QStringLiteral("toolBar"));
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_pToolBar->setIconSize(QSize(32, 32));
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    // One strip, four 32x32 pictures in button order.
    const QPixmap strip(QStringLiteral(":/window/toolbar.png"));
    const Command buttons[] = {Clear, Setup, Security, Help};
    for (int i = 0; i < 4; ++i) {
        QAction* action = m_actions[buttons[i]];
        action->setIcon(QIcon(strip.copy(i * 32, 0, 32, 32)));
        m_pToolBar->addAction(action);
        if (QWidget* button = m_pToolBar->widgetForAction(action))
            button->setFixedSize(kButtonSize);
    }
    // The menu shows no pictures.
    for (QAction* action : m_actions)
        action->setIconVisibleInMenu(false);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    // One pane; a command's prompt covers it for as long as it is shown.
    m_pReady = new QLabel(QStringLiteral("Ready"), bar);
    bar->addWidget(m_pReady, 1);
}

QPoint CMainFrame::AnimationPosition() const {
    // The frame's client area starts below the menu bar.
    const QWidget* menu = menuWidget();
    const int top = menu && !menu->isHidden() ? menu->geometry().bottom() + 1 : 0;
    return {width() - 152, top + 2};
}

void CMainFrame::PlaceAnimation() {
    if (!m_bCreated || !m_pAnimation)
        return;
    m_pAnimation->setGeometry(QRect(AnimationPosition(), QSize(150, 55)));
    m_pAnimation->raise();
    m_pAnimation->update();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuWidget() && (event->type() == QEvent::Resize ||
                                    event->type() == QEvent::Move || event->type() == QEvent::Show))
        PlaceAnimation();
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceAnimation();
}

void CMainFrame::ShowAtStartUp() {
    show();
    PlaceAnimation();
    // Why the server hears no requests, until the next prompt replaces it. (Shown
    // once the bar is visible: it only hides "Ready" while "Ready" is shown.)
    if (!m_pView->IsListening())
        statusBar()->showMessage(QStringLiteral("Cannot listen: ") + m_pView->ListenError());
#ifdef VANTREL_SPLASH
    CSplashWindow::ShowSplash(this);
#endif
}

void CMainFrame::ShowFromAnotherCopy() {
    const bool minimised = isMinimized();
    show();
    if (minimised)
        return; // keeps its state, as a plain "show" does
    raise();
    activateWindow();
}
