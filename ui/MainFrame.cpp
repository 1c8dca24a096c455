#include "MainFrame.h"

#include "AboutBoxDlg.h"
#include "BootCommand.h"
#include "DhcpCommand.h"
#include "DeviceTransferCommand.h"
#include "FirewallCheck.h"
#include "ProtocolCommand.h"
#include "SplashWindow.h"
#include "TransferAnimDlg.h"
#include "TransferFilter.h"
#include "TransferListModel.h"
#include "WaveSound.h"
#include "WindowResources.h"
#include "WindowTitle.h"
#include "ZAZO_DizeView.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <tuple>

namespace {
struct CommandText {
    const char* menuText; // a tab before the shortcut that the menu shows
    const char* prompt;   // status bar, while highlighted or under the pointer
    const char* toolTip;
    const char* buttonText;
    const char* shortcut;
};

const CommandText kCommandTexts[CMainFrame::CommandCount] = {
    // No shortcut: on Linux Ctrl+A selects all (the list's rows).
    // Not &A: Save List &As... has it.
    {"A&bort", "Abort all current active connections", "Abort", "Abort", nullptr},
    // Ctrl+C copies, as in every other list.
    {"&Clear\tCtrl+L", "Clear all display messages", "Clear", "Clear", "Ctrl+L"},
    {"E&xit\tCtrl+Q", "Quit the application; prompts to save documents", "Exit", "Exit", "Ctrl+Q"},
    {"&Setup...\tCtrl+S", "Setup preference", "Setup", "Setup", "Ctrl+S"},
    {"Securi&ty...\tCtrl+T", "Setup security information", "Security", "Security", "Ctrl+T"},
    {"&Status Bar", "Show or hide the status bar", "Toggle StatusBar", "Status Bar", nullptr},
    {"&Vantrel Server 1.0 Help...\tF1", "Help", "Help", "Help", "F1"},
    {"&About Vantrel Server 1.0...", "Display program information, version number and copyright",
     "About", "About", nullptr},
    {"Save List &As...", "Save the rows of the list as a CSV file", "Save List As", "Save",
     nullptr},
    {"&Open Working Folder", "Open the working folder in the file manager", "Open Working Folder",
     "Folder", nullptr},
    {"Close to &Tray", "Keep the server running in the tray when the window is closed",
     "Close to Tray", "Tray", nullptr},
    // No shortcut: Ctrl+P means Print everywhere else.
    {"&Protocol...", "Options, transfer ports and the addresses the server answers from",
     "Protocol", "Protocol", nullptr},
    {"&Hide Requests for Missing Files",
     "Leave requests for files that are not there out of the list",
     "Hide Requests for Missing Files", "Hide Missing", nullptr},
    {"&Boot...", "Offer boot files to PXE clients (ProxyDHCP)", "Boot", "Boot", nullptr},
    {"&Notifications",
     "Tell the desktop when a transfer fails or an upload completes while the window is hidden",
     "Notifications", "Notify", nullptr},
    {"Copy Server &Address", "Copy the address clients reach the server at", "Copy Server Address",
     "Address", nullptr},
};

QString listenWhere(const QHostAddress& address, quint16 port) {
    return (address == QHostAddress(QHostAddress::AnyIPv4) ? QStringLiteral("0.0.0.0")
                                                           : address.toString()) +
           QLatin1Char(':') + QString::number(port);
}

// The folder of a row's file: beneath the working folder, the nearest one that exists.
QString containingFolder(const QString& root, const QString& file) {
    if (QDir::isAbsolutePath(file)) // a client transfer's file outside the working folder
        return QFileInfo(file).absolutePath();
    const QString base = QDir::cleanPath(root);
    QString name = file;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString folder = QFileInfo(QDir::cleanPath(base + QLatin1Char('/') + name)).path();
    while (folder != base) {
        if (!folder.startsWith(base + QLatin1Char('/')))
            return base;
        if (QFileInfo(folder).isDir())
            break;
        folder = QFileInfo(folder).path();
    }
    return folder;
}
} // namespace

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
    m_pView->SetHiddenColumns(m_windowSettings->value(QStringLiteral("hiddenColumns")).toStringList());
    // What the list was filtered by when the window last closed.
    m_pFilterEdit->setText(m_windowSettings->value(QStringLiteral("filter")).toString());
    m_pHideFinished->setChecked(m_windowSettings->value(QStringLiteral("hideFinished"), false).toBool());
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
    connect(m_actions[Exit], &QAction::triggered, this, [this] { Quit(); });
    connect(m_actions[SaveList], &QAction::triggered, this, [this] { OnSaveList(); });
    connect(m_actions[OpenFolder], &QAction::triggered, this, [this] { OnOpenFolder(); });
    m_actions[CloseToTray]->setCheckable(true);
    connect(m_actions[CloseToTray], &QAction::toggled, this,
            [this](bool on) { m_windowSettings->setValue(QStringLiteral("closeToTray"), on); });
    m_actions[HideMissingFiles]->setCheckable(true);
    m_actions[HideMissingFiles]->setChecked(m_store.HideMissingFiles());
    m_pView->SetHideMissingFiles(m_store.HideMissingFiles());
    connect(m_actions[HideMissingFiles], &QAction::toggled, this, [this](bool on) {
        m_store.WriteProfileInt(CSettingsStore::kHideMissingFiles, on ? 1 : 0);
        m_pView->SetHideMissingFiles(on);
    });
    m_actions[Notifications]->setCheckable(true);
    m_actions[Notifications]->setChecked(m_store.Notifications());
    connect(m_actions[Notifications], &QAction::toggled, this, [this](bool on) {
        m_store.WriteProfileInt(CSettingsStore::kNotifications, on ? 1 : 0);
    });
    m_pView->SetRowEndedHandler(
        [this](const RowTexts& texts, RowState state) { OnRowEnded(texts, state); });
    m_pView->SetRowsChangedHandler([this] {
        UpdateTrayIcon();
        UpdateCommands();
    });
    // Clear and Clear Finished Rows remove rows without the engine.
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&m_pView->Model(), signal, this, [this] { UpdateCommands(); });
    // With one address the entry copies it; with several it opens a list of them.
    m_pCopyAddressMenu = new QMenu(this);
    connect(m_actions[CopyAddress], &QAction::triggered, this, [this] {
        if (m_reachable.size() == 1)
            CopyServerAddress(m_reachable.first());
    });
    connect(m_pView->OpenFolderAction(), &QAction::triggered, this,
            [this] { OnOpenContainingFolder(); });
    connect(m_actions[Setup], &QAction::triggered, m_pView, [this] {
        const quint16 before = m_store.Port();
        m_pView->OnSetup(m_store);
        // A new port in Setup applies at once.
        const quint16 after = m_store.Port();
        if (after != before && after != m_nPort)
            TryListen(after);
    });
    connect(m_actions[Security], &QAction::triggered, m_pView, [this] { m_pView->OnSecurity(m_store); });
    connect(m_actions[Protocol], &QAction::triggered, m_pView, [this] {
        const auto where = [this] {
            return std::make_tuple(m_store.ListenAddress(), m_store.IPv6(), m_store.HttpEnabled(),
                                   m_store.HttpPort());
        };
        const auto before = where();
        RunProtocolCommand(m_pView->Engine(), m_store, this);
        // The listen address and HTTP apply at once, as Setup's port does: the listener
        // (and with it HTTP and the boot offers) opens again; transfers go on.
        if (where() == before)
            return;
        if (m_listenAddressFor)
            m_address = m_listenAddressFor();
        TryListen(m_nPort);
    });
    connect(m_actions[Boot], &QAction::triggered, m_pView,
            [this] { RunBootCommand(m_pView->Engine(), m_store, m_address, this); });
    connect(m_actions[Help], &QAction::triggered, m_pView, [this] { m_pView->OnHelp(); });
    connect(m_actions[About], &QAction::triggered, this, [this] { RunAboutCommand(this); });
    QAction* statusBarAction = m_actions[StatusBar];
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
}

// The client: a file sent to a device or fetched from it, on a row like the server's.
void CMainFrame::AddDeviceTransferActions(QMenu* file) {
    for (const bool put : {true, false}) {
        QAction* action = file->addAction(put ? QStringLiteral("Send to &Device...")
                                              : QStringLiteral("&Fetch from Device..."));
        action->setStatusTip(put ? QStringLiteral("Send a file to a device's TFTP server (firmware recovery)")
                                 : QStringLiteral("Fetch a file from a device's TFTP server (a configuration backup)"));
        connect(action, &QAction::triggered, this, [this, put] {
            RunDeviceTransferCommand(m_pView->Engine(), put, m_store.WorkingFolder(),
                                     *m_windowSettings, this);
        });
    }
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(m_actions[SaveList]);
    file->addAction(m_actions[OpenFolder]);
    file->addSeparator();
    AddDeviceTransferActions(file);
    file->addSeparator();
    // Abort is not the first item: a stray Enter in the menu must not reach it.
    file->addAction(m_actions[Clear]);
    file->addAction(m_actions[Abort]);
    file->addSeparator();
    file->addAction(m_actions[Exit]);
    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    option->addAction(m_actions[Setup]);
    option->addSeparator();
    option->addAction(m_actions[Security]);
    option->addAction(m_actions[Protocol]);
    option->addAction(m_actions[Boot]);
    QAction* dhcp = option->addAction(QStringLiteral("&DHCP..."));
    dhcp->setStatusTip(QStringLiteral("Give addresses and boot files to a device on a cable of its own"));
    connect(dhcp, &QAction::triggered, m_pView,
            [this] { RunDhcpCommand(m_pView->Engine(), m_store, m_address, this); });
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(m_actions[StatusBar]);
    view->addAction(m_actions[CloseToTray]);
    view->addAction(m_actions[HideMissingFiles]);
    view->addAction(m_actions[Notifications]);
    view->addMenu(m_pView->ColumnsMenu());
    view->addSeparator();
    view->addAction(m_actions[CopyAddress]);
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
    // Narrower than the buttons and the animation, the animation would cover a button.
    setMinimumWidth(m_pToolBar->sizeHint().width() + CTransferAnimDlg::kWidth + 4);
}

void CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    // One pane; a command's prompt covers it for as long as it is shown.
    m_pReady = new QLabel(QStringLiteral("Ready"), bar);
    m_pReady->setAccessibleName(QStringLiteral("Status"));
    bar->addWidget(m_pReady);
    // A permanent field: prompts never cover it.
    m_pStatusField = new QLabel(bar);
    m_pStatusField->setObjectName(QStringLiteral("statusField"));
    m_pStatusField->setAccessibleName(QStringLiteral("Server status"));
    m_pStatusField->setAccessibleDescription(
        QStringLiteral("Where the server listens, what it serves, and what is on"));
    m_pStatusField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long folder name must not widen the window: the field gives way, the tooltip
    // keeps the whole text.
    m_pStatusField->setMinimumWidth(1);
    bar->addPermanentWidget(m_pStatusField, 1);
    m_pFirewall = new CFirewallCheck(this);
    connect(m_pFirewall, &CFirewallCheck::changed, this, [this] { UpdateStatusField(); });
    UpdateStatusField();
    // The folder can go away or be edited by hand while the server runs.
    auto* recheck = new QTimer(this);
    connect(recheck, &QTimer::timeout, this, [this] { UpdateStatusField(); });
    recheck->start(2000);
}

void CMainFrame::SetStartNotes(const QString& notes) {
    m_strStartNotes = notes;
    UpdateStatusField();
}

void CMainFrame::UpdateStatusField() {
    const QString where = listenWhere(m_address, m_nPort);
    QString text;
    bool problem = true;
    // Interfaces come and go (a cable, a VPN, DHCP): asked again at every look.
    UpdateServerAddresses(m_pView->IsListening()
                              ? WindowTitle::ReachableOnThisMachine(m_address, m_nPort)
                              : QStringList());
    if (!m_pView->IsListening()) {
        const QString error = m_pView->ListenError();
        text = QStringLiteral("Cannot listen on %1: ").arg(where);
        if (error.contains(QLatin1String("in use")))
            text += QStringLiteral("another program holds the port (see above)");
        else if (m_nPort < 1024)
            text += QStringLiteral("ports below 1024 need a privilege (see above)");
        else
            text += error;
    } else {
        const QString folder = m_store.WorkingFolder();
        const QString why = CSettingsStore::WorkingFolderProblem(folder);
        problem = !why.isEmpty();
        QString reach = where;
        if (!m_reachable.isEmpty()) {
            reach = m_reachable.first();
            for (qsizetype i = 1; i < m_reachable.size(); ++i)
                reach += (i + 1 == m_reachable.size() ? QStringLiteral(" and ")
                                                      : QStringLiteral(", ")) +
                         m_reachable[i];
        }
        text = problem ? QStringLiteral("Listening on %1, but serving nothing: %2 (Option > Setup)")
                             .arg(reach, why)
                       : QStringLiteral("Listening on %1, serving %2").arg(reach, folder);
    }
    const CEngineHost& engine = m_pView->Engine();
    const bool listening = m_pView->IsListening();
    const bool http = listening && engine.Settings().httpEnabled;
    const BootStatus boot = listening ? engine.BootState() : BootStatus();
    if (http)
        text += QStringLiteral("  |  HTTP on :%1").arg(engine.Settings().httpPort);
    if (!boot.text().isEmpty())
        text += QStringLiteral("  |  ") + boot.text();
    // The DHCP server's state, red while it hands out nothing.
    const DhcpStatus dhcp = engine.DhcpState();
    if (dhcp.state != DhcpStatus::State::Off) {
        text += QStringLiteral("  |  ") + dhcp.text();
        problem = problem || dhcp.state != DhcpStatus::State::On;
    }
    // A firewall that keeps clients from our ports, read when the ports change (ufw
    // and firewalld let loopback through).
    m_pFirewall->Watch(listening && !m_address.isLoopback() ? Firewall::OurPorts(m_nPort, boot.on(), dhcp.state != DhcpStatus::State::Off,
                                                      http ? engine.Settings().httpPort : 0)
                                 : QList<Firewall::Port>());
    if (const QString firewall = m_pFirewall->Result().text(); !firewall.isEmpty()) {
        text += QStringLiteral("  |  ") + firewall;
        problem = problem || m_pFirewall->Result().kind == Firewall::Finding::Kind::Blocked;
    }
    // Said once, as news: a machine without a sound card is no fault to keep showing.
    // It goes with the first row, or after kNoteMs.
    if (engine.SoundOn() && !m_audioNote.isValid() && !m_pView->Sounds().HasOutput())
        m_audioNote.start();
    if (m_audioNote.isValid() && m_audioNote.elapsed() < kNoteMs &&
        m_pView->Model().rowCount() == 0 && m_pView->Model().ClearedRows() == 0)
        text += QStringLiteral("  |  No audio device");
    if (!m_strStartNotes.isEmpty())
        text += QStringLiteral("  |  ") + m_strStartNotes;
    // Looked at with the rest, so that an edit by hand applies within the interval.
    m_pView->Model().SetMaxFinishedRows(m_store.MaxFinishedRows());
    if (const qint64 dropped = m_pView->Model().DroppedRows())
        text += QStringLiteral("  |  %1 finished rows dropped from the list (the log has them)")
                    .arg(dropped);
    // Where the offers go out: the device of "eth1 (192.0.2.10)".
    UpdateTitle(WindowTitle::ServiceNote(
        http ? engine.Settings().httpPort : 0,
        boot.on() ? boot.where.section(QLatin1Char(' '), 0, 0) : QString()));
    m_pView->SetEmptyText(EmptyListText(http ? engine.Settings().httpPort : 0, boot));
    m_strStatusGivesWay = listening ? m_store.WorkingFolder() : QString();
    if (text == m_pStatusField->toolTip())
        return;
    m_pStatusField->setToolTip(text);
    ShowStatusText();
    QPalette pal = m_pStatusField->palette();
    pal.setColor(QPalette::WindowText,
                 problem ? QColor(220, 0, 0) : statusBar()->palette().color(QPalette::WindowText));
    m_pStatusField->setPalette(pal);
}

// The field is one line: a long folder gives way, cut in its middle, so that what
// follows it (HTTP, boot offers, DHCP, the firewall) stays in view; the tooltip keeps
// the whole text.
void CMainFrame::ShowStatusText() {
    const QString full = m_pStatusField->toolTip();
    QString shown = full;
    const QFontMetrics fm(m_pStatusField->font());
    const int room = m_pStatusField->contentsRect().width();
    const qsizetype at = m_strStatusGivesWay.isEmpty() ? -1 : full.indexOf(m_strStatusGivesWay);
    if (at >= 0 && room > 0 && fm.horizontalAdvance(full) > room) {
        const int others = fm.horizontalAdvance(QString(full).remove(at, m_strStatusGivesWay.size()));
        const int left = qMax(fm.horizontalAdvance(QStringLiteral("/a…/b")), room - others);
        shown.replace(at, m_strStatusGivesWay.size(),
                      fm.elidedText(m_strStatusGivesWay, Qt::ElideMiddle, left));
    }
    if (shown != m_pStatusField->text())
        m_pStatusField->setText(shown);
}

void CMainFrame::UpdateServerAddresses(const QStringList& addresses) {
    const bool first = windowTitle().isEmpty();
    if (addresses == m_reachable && !first)
        return;
    m_reachable = addresses;
    UpdateTitle(m_strServices);
    QAction* copy = m_actions[CopyAddress];
    copy->setEnabled(!addresses.isEmpty());
    m_pCopyAddressMenu->clear();
    if (addresses.size() > 1) {
        for (const QString& address : addresses)
            m_pCopyAddressMenu->addAction(address, this,
                                          [this, address] { CopyServerAddress(address); });
        copy->setMenu(m_pCopyAddressMenu);
    } else {
        copy->setMenu(static_cast<QMenu*>(nullptr));
    }
}

void CMainFrame::UpdateTitle(const QString& services) {
    m_strServices = services;
    QString title = WindowTitle::ComposeReachable(m_reachable);
    if (!services.isEmpty())
        title += QStringLiteral(" (%1)").arg(services);
    if (title != windowTitle())
        setWindowTitle(title);
}

// tftp://ADDRESS[:PORT]/, and the HTTP URL on the next line while HTTP is on.
void CMainFrame::CopyServerAddress(const QString& reachable) {
    const CEngineHost& engine = m_pView->Engine();
    const quint16 http =
        m_pView->IsListening() && engine.Settings().httpEnabled ? engine.Settings().httpPort : 0;
    const QStringList urls = WindowTitle::ServerUrls(reachable, http);
    QApplication::clipboard()->setText(urls.join(QLatin1Char('\n')));
    statusBar()->showMessage(QStringLiteral("Copied %1").arg(urls.join(QStringLiteral(" and "))),
                             5000);
}

// What the empty list says until the first row: where files go, how a client fetches
// one from this machine, and what the switches that are off would add.
QString CMainFrame::EmptyListText(quint16 httpPort, const BootStatus& boot) const {
    if (!m_pView->IsListening())
        return QStringLiteral("<p>The server is not listening yet: the bar above says why.</p>");
    const QString folder = m_store.WorkingFolder().toHtmlEscaped();
    const QString where = m_reachable.value(0);
    QString text = QStringLiteral("<p>No transfer yet. Clients fetch files from, and send files "
                                  "to, the working folder <b>%1</b> (Option &gt; Setup).</p>")
                       .arg(folder);
    if (!where.isEmpty())
        text += QStringLiteral("<p>A client fetches a file with:<br>&nbsp;&nbsp;<tt>%1</tt><br>"
                               "and sends one with:<br>&nbsp;&nbsp;<tt>%2</tt></p>")
                    .arg(WindowTitle::TftpCommand(where, QStringLiteral("get")).toHtmlEscaped(),
                         WindowTitle::TftpCommand(where, QStringLiteral("put")).toHtmlEscaped());
    QStringList more;
    if (boot.on())
        more << QStringLiteral("Boot offers are on, on %1: PXE clients are told their boot "
                               "file (Option &gt; Boot).")
                    .arg(boot.where.toHtmlEscaped());
    else if (!boot.ok)
        more << QStringLiteral("Boot offers are switched on but %1 (Option &gt; Boot).")
                    .arg(boot.text().toHtmlEscaped());
    else
        more << QStringLiteral("Boot offers (Option &gt; Boot) would tell PXE clients on the "
                               "network which boot file to load.");
    const QString httpUrl =
        where.isEmpty() ? QString()
                        : WindowTitle::ServerUrls(where, httpPort ? httpPort : 8080).value(1);
    if (httpPort)
        more << QStringLiteral("HTTP is on: the folder is at %1 too.").arg(httpUrl.toHtmlEscaped());
    else
        more << QStringLiteral("HTTP (Option &gt; Protocol) would serve the folder to browsers "
                               "and UEFI HTTP boot as well.");
    // The DHCP server: its state while on, else what it would do.
    const ::DhcpStatus state = m_pView->Engine().DhcpState();
    const QString dhcp = state.text().toHtmlEscaped();
    if (state.state == ::DhcpStatus::State::On)
        more << QStringLiteral("The DHCP server is on: %1 (Option &gt; DHCP...).").arg(dhcp);
    else if (state.state != ::DhcpStatus::State::Off)
        more << QStringLiteral("The DHCP server hands out nothing: %1 (Option &gt; DHCP...).")
                    .arg(dhcp);
    else
        more << QStringLiteral("A DHCP server (Option &gt; DHCP...) would give an address and "
                               "a boot file to one device on a cable of its own.");
    text += QStringLiteral("<p>") + more.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
    return text;
}

// Abort and Clear only where they would do something; the prompt says why not.
void CMainFrame::UpdateCommands() {
    const int active = m_pView->ActiveTransfers();
    const int rows = m_pView->Model().rowCount();
    QAction* abort = m_actions[Abort];
    QAction* clear = m_actions[Clear];
    const QString abortPrompt = QString::fromLatin1(kCommandTexts[Abort].prompt);
    const QString clearPrompt = QString::fromLatin1(kCommandTexts[Clear].prompt);
    abort->setEnabled(active > 0);
    abort->setStatusTip(active > 0 ? abortPrompt
                                   : abortPrompt + QStringLiteral(" (none is in progress)"));
    clear->setEnabled(active == 0 && rows > 0);
    clear->setStatusTip(active > 0  ? clearPrompt + QStringLiteral(" (not while transfers are in "
                                                                    "progress: wait, or Abort)")
                        : rows == 0 ? clearPrompt + QStringLiteral(" (the list is empty)")
                                    : clearPrompt);
}

// A bar above the list, not only the red status field: the field is one clipped line,
// and the reason (with the command that mends it) is too long for it.
void CMainFrame::CreateListenBanner() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    m_pBanner = new QFrame(central);
    m_pBanner->setObjectName(QStringLiteral("listenBanner"));
    m_pBanner->setFrameShape(QFrame::StyledPanel);
    m_pBanner->setAutoFillBackground(true);
    QPalette pal = m_pBanner->palette();
    pal.setColor(QPalette::Window, QColor(255, 228, 225));
    pal.setColor(QPalette::WindowText, QColor(120, 0, 0));
    m_pBanner->setPalette(pal);
    auto* row = new QHBoxLayout(m_pBanner);
    row->setContentsMargins(8, 4, 8, 4);
    m_pBannerText = new QLabel(m_pBanner);
    m_pBannerText->setObjectName(QStringLiteral("listenBannerText"));
    m_pBannerText->setWordWrap(true);
    m_pBannerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pBannerText->setMinimumWidth(1);
    m_pBannerText->setAccessibleName(QStringLiteral("Why the server is not listening"));
    row->addWidget(m_pBannerText, 1);
    auto* portLabel = new QLabel(QStringLiteral("&Port:"), m_pBanner);
    row->addWidget(portLabel);
    m_pBannerPort = new QSpinBox(m_pBanner);
    m_pBannerPort->setObjectName(QStringLiteral("listenBannerPort"));
    m_pBannerPort->setRange(1, 65535);
    m_pBannerPort->setValue(m_nPort);
    portLabel->setBuddy(m_pBannerPort);
    row->addWidget(m_pBannerPort);
    m_pBannerRetry = new QPushButton(QStringLiteral("&Retry"), m_pBanner);
    m_pBannerRetry->setObjectName(QStringLiteral("listenBannerRetry"));
    row->addWidget(m_pBannerRetry);
    connect(m_pBannerRetry, &QPushButton::clicked, this, [this] {
        const quint16 port = quint16(m_pBannerPort->value());
        // A port chosen here is the one for the next start too.
        if (port != m_nPort)
            m_store.WriteProfileInt(CSettingsStore::kPort, port);
        TryListen(port);
    });
    column->addWidget(m_pBanner);
    column->addWidget(CreateFilterBar(central));
    column->addWidget(m_pView, 1);
    setCentralWidget(central);

    // The port may be freed, or the capability given, while the window is open.
    m_pRetryTimer = new QTimer(this);
    m_pRetryTimer->setInterval(kRetryMs);
    connect(m_pRetryTimer, &QTimer::timeout, this, [this] { TryListen(m_nPort); });
    UpdateListenBanner();
}

QWidget* CMainFrame::CreateFilterBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    bar->setObjectName(QStringLiteral("filterBar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    auto* label = new QLabel(QStringLiteral("Fi&lter:"), bar);
    m_pFilterEdit = new QLineEdit(bar);
    m_pFilterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_pFilterEdit->setPlaceholderText(QStringLiteral("client, name, service or state (Ctrl+F)"));
    m_pFilterEdit->setClearButtonEnabled(true);
    m_pFilterEdit->setAccessibleName(QStringLiteral("Filter"));
    m_pFilterEdit->setAccessibleDescription(
        QStringLiteral("Shows only the rows whose client, file, service, information or state "
                       "hold this text"));
    label->setBuddy(m_pFilterEdit);
    m_pHideFinished = new QCheckBox(QStringLiteral("Hide fi&nished"), bar);
    m_pHideFinished->setObjectName(QStringLiteral("hideFinishedCheck"));
    m_pHideFinished->setAccessibleDescription(
        QStringLiteral("Shows only the transfers still in progress"));
    // How many rows the filter leaves, while it leaves some out.
    m_pFilterCount = new QLabel(bar);
    m_pFilterCount->setObjectName(QStringLiteral("filterCount"));
    m_pFilterCount->setAccessibleName(QStringLiteral("Rows shown"));
    m_pFilterCount->hide();
    row->addWidget(label);
    row->addWidget(m_pFilterEdit, 1);
    row->addWidget(m_pHideFinished);
    row->addWidget(m_pFilterCount);
    const auto count = [this] {
        const int all = m_pView->Model().rowCount();
        const int shown = m_pView->model()->rowCount();
        m_pFilterCount->setVisible(m_pView->Filter().IsFiltering() && all > 0);
        m_pFilterCount->setText(QStringLiteral("showing %1 of %2").arg(shown).arg(all));
    };
    for (QAbstractItemModel* model : {static_cast<QAbstractItemModel*>(m_pView->model()),
                                      static_cast<QAbstractItemModel*>(&m_pView->Model())}) {
        connect(model, &QAbstractItemModel::rowsInserted, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::rowsRemoved, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::modelReset, m_pFilterCount, count);
        connect(model, &QAbstractItemModel::layoutChanged, m_pFilterCount, count);
    }
    connect(m_pFilterEdit, &QLineEdit::textChanged, this, [this, count](const QString& text) {
        m_pView->Filter().SetText(text);
        count();
    });
    connect(m_pHideFinished, &QCheckBox::toggled, this, [this, count](bool on) {
        m_pView->Filter().SetHideFinished(on);
        count();
    });
    auto* find = new QAction(QStringLiteral("Filter"), this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] {
        m_pFilterEdit->setFocus(Qt::ShortcutFocusReason);
        m_pFilterEdit->selectAll();
    });
    addAction(find);
    // Escape empties the field, and a second one goes back to the list.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_pFilterEdit);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_pFilterEdit->text().isEmpty())
            m_pView->setFocus(Qt::ShortcutFocusReason);
        else
            m_pFilterEdit->clear();
    });
    return bar;
}

void CMainFrame::UpdateListenBanner() {
    const bool listening = m_pView->IsListening();
    m_pBanner->setVisible(!listening);
    if (listening) {
        m_pRetryTimer->stop();
        return;
    }
    const QString error = m_pView->ListenError();
    QString text = QStringLiteral("Cannot listen on %1: %2.").arg(listenWhere(m_address, m_nPort),
                                                                 error);
    if (error.contains(QLatin1String("in use")))
        text += QStringLiteral(" Another program holds the port: stop it, or choose another "
                               "port and Retry.");
    else if (m_nPort < 1024)
        text += QStringLiteral(" Ports below 1024 need a privilege; run once: sudo setcap "
                               "cap_net_bind_service=+ep %1 (the Debian package does this "
                               "when it installs), or choose a port above 1023 and Retry.")
                    .arg(QCoreApplication::applicationFilePath());
    text += QStringLiteral(" Trying again every %1 seconds.").arg(kRetryMs / 1000);
    m_pBannerText->setText(text);
    if (!m_pBannerPort->hasFocus())
        m_pBannerPort->setValue(m_nPort);
    if (!m_pRetryTimer->isActive())
        m_pRetryTimer->start();
}

bool CMainFrame::TryListen(quint16 port) {
    const bool wasListening = m_pView->IsListening();
    m_nPort = port;
    const bool listening = m_pView->Relisten(m_address, port);
    UpdateListenBanner();
    if (m_pStatusField)
        UpdateStatusField();
    if (listening && !wasListening) {
        statusBar()->showMessage(
            QStringLiteral("Now listening on %1").arg(listenWhere(m_address, port)), 30000);
    }
    return listening;
}

bool CMainFrame::SaveListAs(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    // What the list shows: its rows in their order, its columns as they stand.
    QList<int> rows, columns;
    for (int r = 0; r < m_pView->model()->rowCount(); ++r)
        rows << m_pView->ModelRow(m_pView->model()->index(r, 0));
    for (int at = 0; at < m_pView->header()->count(); ++at)
        if (const int c = m_pView->header()->logicalIndex(at); !m_pView->isColumnHidden(c))
            columns << c;
    return file.write(m_pView->Model().RowsAsCsv(rows, columns).toUtf8()) >= 0 && file.flush();
}

// The documents folder where there is one, else home: not wherever the program started.
QString CMainFrame::SaveListStartPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    return folder + QStringLiteral("/transfers.csv");
}

void CMainFrame::OnSaveList() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save List As"), SaveListStartPath(),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty() && !SaveListAs(path))
        QMessageBox::warning(this, QStringLiteral("Save List As"),
                             QStringLiteral("Cannot write %1.").arg(path));
}

void CMainFrame::OnOpenFolder() {
    OpenOnDesktop(m_store.WorkingFolder(), QStringLiteral("Open Working Folder"));
}

void CMainFrame::OnOpenContainingFolder() {
    const CTransferListModel& model = m_pView->Model();
    const int row = model.RowOf(m_pView->ContextRow());
    if (row < 0)
        return;
    OpenOnDesktop(containingFolder(m_store.WorkingFolder(), model.Row(row).m_texts.file),
                  QStringLiteral("Open Containing Folder"));
}

void CMainFrame::OpenOnDesktop(const QString& folder, const QString& caption) {
    const bool opened = m_openUrl ? m_openUrl(QUrl::fromLocalFile(folder))
                                  : QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    if (opened)
        return;
    // A bare window manager or a server without a desktop registers no file manager.
    const QString why = QStringLiteral("No file manager could open %1 (none is registered for "
                                       "folders, see xdg-mime).")
                            .arg(folder);
    QMessageBox box(QMessageBox::Information, caption, why,
                    QMessageBox::Close, this);
    QPushButton* copy = box.addButton(QStringLiteral("Copy &Path"), QMessageBox::ActionRole);
    box.setDefaultButton(copy);
    box.exec();
    if (box.clickedButton() == copy)
        QApplication::clipboard()->setText(folder);
    // After the box: its own goings-on clear the status bar's message.
    statusBar()->showMessage(why, 15000);
}

void CMainFrame::CreateTrayIcon() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    m_actions[CloseToTray]->setEnabled(available);
    if (!available)
        return;
    m_pTray = new QSystemTrayIcon(windowIcon(), this);
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("&Show"), this, [this] { ShowFromAnotherCopy(); });
    menu->addAction(QStringLiteral("&Quit"), this, [this] { Quit(); });
    m_pTray->setContextMenu(menu);
    connect(m_pTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::Trigger)
                    ShowFromAnotherCopy();
            });
    UpdateTrayIcon();
    m_pTray->show();
}

void CMainFrame::UpdateTrayIcon() {
    const int n = m_pView->ActiveTransfers();
    if (!m_pTray || n == m_nTrayCount)
        return;
    m_nTrayCount = n;
    m_pTray->setToolTip(n == 1 ? QStringLiteral("Vantrel Server: 1 transfer in progress")
                               : QStringLiteral("Vantrel Server: %1 transfers in progress").arg(n));
}

// Only what the user would want to hear of while not looking: failures (bar requests
// for files that are not there, which boot clients make by the dozen) and finished
// uploads. Rows that end in the same turn of the loop share one notification.
void CMainFrame::OnRowEnded(const RowTexts& texts, RowState state) {
    if (!m_actions[Notifications]->isChecked() || (isVisible() && !isMinimized()))
        return;
    if (!m_notify && !m_pTray)
        return;
    QString note;
    if (state == ROW_FAILED && !texts.missingFile)
        note = QStringLiteral("%1 failed (%2): %3").arg(texts.file, texts.client, texts.info);
    else if (state == ROW_RECEIVED)
        note = QStringLiteral("%1 received from %2").arg(texts.file, texts.client);
    if (note.isEmpty())
        return;
    m_pendingNotes.append(note);
    if (m_pendingNotes.size() == 1)
        QTimer::singleShot(0, this, [this] { ShowNotifications(); });
}

void CMainFrame::ShowNotifications() {
    const QStringList notes = std::exchange(m_pendingNotes, {});
    if (notes.isEmpty())
        return;
    bool failed = false;
    for (const QString& note : notes)
        failed = failed || !note.contains(QLatin1String(" received from "));
    const QString title =
        notes.size() > 1 ? QStringLiteral("Vantrel Server: %1 transfers ended").arg(notes.size())
        : failed         ? QStringLiteral("Vantrel Server: transfer failed")
                         : QStringLiteral("Vantrel Server: upload complete");
    QString text = notes.mid(0, 3).join(QLatin1Char('\n'));
    if (notes.size() > 3)
        text += QStringLiteral("\n... and %1 more").arg(notes.size() - 3);
    if (m_notify)
        m_notify(title, text);
    else if (m_pTray)
        m_pTray->showMessage(title, text,
                             failed ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                             10000);
}

// File > Exit, Ctrl+Q and the tray's Quit: closes for good, even with Close to Tray on.
void CMainFrame::Quit() {
    m_bQuitting = true;
    const bool hidden = !isVisible();
    if (!close()) {
        m_bQuitting = false;
        return;
    }
    if (hidden) // closing a hidden window does not end the event loop by itself
        QCoreApplication::quit();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_bQuitting && m_pTray && m_actions[CloseToTray]->isChecked()) {
        hide();
        event->ignore();
        return;
    }
    m_bQuitting = false;
    if (m_pView->ActiveTransfers() > 0) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Exit"),
                        QStringLiteral("Transfers are in progress.\n\nExit anyway? Their "
                                       "clients are told that the server is shutting down."),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setDefaultButton(QMessageBox::Cancel);
        // The transfers may end while the question is open: it must not go on saying
        // they are in progress.
        QTimer watch;
        connect(&watch, &QTimer::timeout, &box, [this, &box, &watch] {
            if (m_pView->ActiveTransfers() > 0)
                return;
            watch.stop();
            box.setText(QStringLiteral("The transfers have ended.\n\nExit now?"));
            box.setDefaultButton(QMessageBox::Ok);
        });
        watch.start(250);
        if (box.exec() != QMessageBox::Ok) {
            event->ignore();
            return;
        }
    }
    event->accept();
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

void CMainFrame::ShowFromAnotherCopy() {
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}
