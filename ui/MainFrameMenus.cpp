// The menus, the toolbar and what their commands do (File, Option, View, Help).
#include "MainFrame.h"

#include "AboutBoxDlg.h"
#include "BootCommand.h"
#include "DhcpCommand.h"
#include "DeviceTransferCommand.h"
#include "ProtocolCommand.h"
#include "TransferAnimDlg.h"
#include "TransferListModel.h"
#include "ZAZO_DizeView.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
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
    view->addMenu(m_pView->SortMenu());
    view->addAction(m_pDetailsAction);
    view->addAction(m_pBusiestAction);
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
