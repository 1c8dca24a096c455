#include "MainFrame.h"

#include "SpeedGraph.h"
#include "SplashWindow.h"
#include "TransferAnimDlg.h"
#include "TransferDetails.h"
#include "TransferFilter.h"
#include "WindowResources.h"
#include "ZAZO_DizeView.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QSettings>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

CMainFrame::CMainFrame(CSettingsStore& store, std::unique_ptr<CEngineHost> engine,
                       const QHostAddress& address, quint16 port, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_address(address), m_nPort(port),
      m_windowSettings(std::make_unique<QSettings>(store.FileName(), QSettings::IniFormat)) {
    InitWindowResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/window/icon16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/window/icon32.png"), QSize(32, 32));
    setWindowIcon(icon);
    PlaceOnScreen();

    // The list first: it takes the engine, which listens and plays the start-up sound.
    m_pView = new CZAZO_DizeView(std::move(engine), address, port, this);
    // The bar above the list says so, and retries: no box as well.
    m_pView->SetListenFailureShownByWindow(true);
    CreateListenBanner();

    CreateActions();
    CreateMenus();
    CreateToolBar();
    m_bCreated = true;
    // The title too: it names where clients reach the server.
    CreateStatusBar();
    // The keyboard goes as the eye reads: the filter bar, the list, its details, then the
    // status bar's graph (creation order put the list last).
    QWidget::setTabOrder(m_quickButtons.last(), m_pView);
    QWidget::setTabOrder(m_pView, m_pDetails->Text());
    QWidget::setTabOrder(m_pDetails->Text(), m_pThroughput);

    m_windowSettings->beginGroup(QStringLiteral("Window"));
    const QByteArray geometry = m_windowSettings->value(QStringLiteral("geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    // Widths the user chose come back; until then they follow the content.
    const QByteArray columns = m_windowSettings->value(QStringLiteral("columns")).toByteArray();
    if (!columns.isEmpty() && m_windowSettings->value(QStringLiteral("columnsByUser")).toBool()) {
        m_pView->header()->restoreState(columns);
        m_pView->SetUserSizedColumns(true);
    }
    m_actions[CloseToTray]->setChecked(
        m_windowSettings->value(QStringLiteral("closeToTray"), false).toBool());
    m_pView->SetHiddenColumns(m_windowSettings
                                  ->value(QStringLiteral("hiddenColumns"),
                                          CTransferListView::DefaultHiddenColumns())
                                  .toStringList());
    // The order the list was sorted in; until a sort, the order rows came.
    m_pView->SetSort(m_windowSettings->value(QStringLiteral("sortColumn")).toString(),
                     m_windowSettings->value(QStringLiteral("sortOrder")).toString() ==
                             QLatin1String("descending")
                         ? Qt::DescendingOrder
                         : Qt::AscendingOrder);
    const QStringList quick = m_windowSettings->value(QStringLiteral("quickFilters")).toStringList();
    for (int i = 0; i < m_quickButtons.size(); ++i)
        m_quickButtons[i]->setChecked(
            quick.contains(QLatin1String(CTransferFilter::kQuick[i].name)));
    // What the list was filtered by when the window last closed.
    m_pFilterEdit->setText(m_windowSettings->value(QStringLiteral("filter")).toString());
    m_pHideFinished->setChecked(m_windowSettings->value(QStringLiteral("hideFinished"), false).toBool());
    // The details pane as it was left; its height is set once the window has its own.
    m_nDetailsHeight = m_windowSettings->value(QStringLiteral("detailsHeight"), 0).toInt();
    if (m_windowSettings->value(QStringLiteral("details"), false).toBool())
        QTimer::singleShot(0, this, [this] { m_pDetailsAction->setChecked(true); });
    CreateTrayIcon();

    m_pAnimation = new CTransferAnimDlg(this);
    m_pAnimation->setAccessibleName(QStringLiteral("Transfer animation"));
    m_pAnimation->setAccessibleDescription(
        QStringLiteral("Moves while transfers are in progress, stands still otherwise"));
    m_pView->SetAnimation(m_pAnimation);
    m_pAnimation->show();
    UpdateCommands();
    // The menu bar gets its height when the frame's layout first runs.
    menuWidget()->installEventFilter(this);
    PlaceAnimation();
}

CMainFrame::~CMainFrame() {
    m_windowSettings->setValue(QStringLiteral("geometry"), saveGeometry());
    m_windowSettings->setValue(QStringLiteral("columns"), m_pView->header()->saveState());
    m_windowSettings->setValue(QStringLiteral("columnsByUser"), m_pView->UserSizedColumns());
    m_windowSettings->setValue(QStringLiteral("hiddenColumns"), m_pView->HiddenColumns());
    m_windowSettings->setValue(QStringLiteral("filter"), m_pFilterEdit->text());
    m_windowSettings->setValue(QStringLiteral("hideFinished"), m_pHideFinished->isChecked());
    m_windowSettings->setValue(QStringLiteral("sortColumn"), m_pView->SortColumnTitle());
    m_windowSettings->setValue(QStringLiteral("details"), m_pDetailsAction->isChecked());
    m_windowSettings->setValue(QStringLiteral("detailsHeight"), DetailsHeight());
    m_windowSettings->setValue(QStringLiteral("sortOrder"),
                               m_pView->header()->sortIndicatorOrder() == Qt::DescendingOrder
                                   ? QStringLiteral("descending")
                                   : QStringLiteral("ascending"));
    QStringList quick;
    for (int i = 0; i < m_quickButtons.size(); ++i)
        if (m_quickButtons[i]->isChecked())
            quick << QLatin1String(CTransferFilter::kQuick[i].name);
    m_windowSettings->setValue(QStringLiteral("quickFilters"), quick);
    m_windowSettings->sync();
    // The engine must not reach the animation or the tray while the frame comes apart.
    m_pView->SetAnimation(nullptr);
    m_pView->SetRowsChangedHandler(nullptr);
    m_pView->SetRowEndedHandler(nullptr);
}

// The first size is bounded by the screen's free area (QT_SCALE_FACTOR=2 on a small
// screen leaves less than 700 points), and the window is centred inside it.
void CMainFrame::PlaceOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        resize(kWidth, kHeight);
        return;
    }
    const QRect free = screen->availableGeometry();
    // Room for the window manager's frame, whose size is known only once shown.
    const QSize size = QSize(kWidth, kHeight).boundedTo(free.size() - QSize(16, 48));
    resize(size);
    QRect box(QPoint(), size);
    box.moveCenter(free.center());
    move(box.topLeft());
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // After the start-up code has run (splash included), so the box lands on top.
    QTimer::singleShot(0, m_pView, [this] { m_pView->ShowPendingMessages(); });
}

QPoint CMainFrame::AnimationPosition() const {
    // The frame's client area starts below the menu bar.
    const QWidget* menu = menuWidget();
    const int top = menu && !menu->isHidden() ? menu->geometry().bottom() + 1 : 0;
    // Never over a button, even before the minimum width has taken effect.
    int afterButtons = 0;
    if (m_pToolBar)
        for (QAction* action : m_pToolBar->actions())
            if (const QWidget* button = m_pToolBar->widgetForAction(action))
                afterButtons = qMax(afterButtons, m_pToolBar->x() + button->geometry().right() + 2);
    return {qMax(width() - 152, afterButtons), top + 2};
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
    if (m_pStatusField)
        QMetaObject::invokeMethod(this, [this] { ShowStatusText(); }, Qt::QueuedConnection);
}

void CMainFrame::ShowAtStartUp() {
    show();
    PlaceAnimation();
    CSplashWindow::ShowSplash(this);
}
