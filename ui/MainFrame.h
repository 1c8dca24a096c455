#pragma once

#include "engine/boot/BootStatus.h"
#include "engine/server/ServerWindow.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

class CEngineHost;
class CFirewallCheck;
class CSettingsStore;
class QSettings;
class QSystemTrayIcon;
class CTransferAnimDlg;
class CZAZO_DizeView;
class QAction;
class QTimer;
class QLabel;
class QFrame;
class QPushButton;
class QSpinBox;
class QUrl;
class QLineEdit;
class QCheckBox;
class QSplitter;
class QToolButton;
class CSpeedGraph;
class CTransferDetails;

// The program's one top-level window: menu, fixed toolbar, the transfer list,
// a one-pane status bar and the transfer animation at the right of the toolbar row.
class CMainFrame : public QMainWindow {
public:
    enum Command {
        Abort,
        Clear,
        Exit,
        Setup,
        Security,
        StatusBar,
        Help,
        About,
        SaveList,
        OpenFolder,
        CloseToTray,
        Protocol,
        HideMissingFiles,
        Boot,
        Notifications,
        CopyAddress,
        CommandCount
    };

    static constexpr int kWidth = 700;
    static constexpr int kHeight = 400;
    static constexpr QSize kButtonSize{80, 53};

    // The frame hands the engine to its list, which becomes the engine's window.
    CMainFrame(CSettingsStore& store, std::unique_ptr<CEngineHost> engine,
               const QHostAddress& address, quint16 port, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CZAZO_DizeView* View() const { return m_pView; }
    CTransferAnimDlg* Animation() const { return m_pAnimation; }
    QAction* Action(Command command) const { return m_actions[command]; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    // The idle text of the status bar ("Ready").
    QLabel* ReadyLabel() const { return m_pReady; }
    // The permanent field at the right of the status bar: where the server listens and
    // which folder it serves, or (in red) why it does not and what helps.
    QLabel* StatusField() const { return m_pStatusField; }
    void UpdateStatusField();
    void ShowStatusText();
    // What start-up has to say (leftovers removed, settings not understood), kept at
    // the end of the status field.
    void SetStartNotes(const QString& notes);
    // Above the list while the server cannot listen: the whole reason, wrapped, a port
    // field and Retry. It tries again by itself every kRetryMs and goes once it listens.
    static constexpr int kRetryMs = 5000;
    // How long a passing note (no audio device) stays in the status field at most.
    static constexpr int kNoteMs = 15000;
    QFrame* ListenBanner() const { return m_pBanner; }
    QLabel* ListenBannerText() const { return m_pBannerText; }
    QSpinBox* ListenBannerPort() const { return m_pBannerPort; }
    QPushButton* ListenBannerRetry() const { return m_pBannerRetry; }
    quint16 Port() const { return m_nPort; }
    // Listens on the port (the banner's Retry, Setup's Port, the timer); true once it does.
    bool TryListen(quint16 port);

    // The tray icon, where the desktop has a tray.
    QSystemTrayIcon* TrayIcon() const { return m_pTray; }

    // How Open Working Folder hands the folder to the desktop (tests put their own).
    void SetUrlOpener(std::function<bool(const QUrl&)> open) { m_openUrl = std::move(open); }
    // Where clients reach the server, as the status field and View > Copy Server
    // Address show it; the same list the title starts with.
    QStringList ServerAddresses() const { return m_reachable; }
    // How a notification reaches the desktop (the tray icon's bubble when empty;
    // tests count them instead).
    void SetNotifier(std::function<void(const QString& title, const QString& text)> notify) {
        m_notify = std::move(notify);
    }

    // File > Save List As... without the file dialog.
    bool SaveListAs(const QString& path) const;
    // Where its file dialog starts: transfers.csv in the documents folder, or home.
    static QString SaveListStartPath();

    // Where to listen after Protocol changed the listen address (the command line may
    // name one that wins); unset, the address given at construction stays.
    void SetListenAddressSource(std::function<QHostAddress()> source) {
        m_listenAddressFor = std::move(source);
    }
    QHostAddress ListenAddress() const { return m_address; }

    // The filter field over the list (Ctrl+F) and Hide finished beside it.
    QLineEdit* FilterEdit() const { return m_pFilterEdit; }
    QCheckBox* HideFinishedCheck() const { return m_pHideFinished; }
    // The quick filters beside them (Failed, Running, DHCP, Boot, Client), in that order.
    const QList<QToolButton*>& QuickFilterButtons() const { return m_quickButtons; }

    // The details pane under the list (View > Details, Enter on a row), closed until
    // asked for, and the status bar's graph of all transfers over the last minute.
    CTransferDetails* DetailsPane() const { return m_pDetails; }
    QAction* DetailsAction() const { return m_pDetailsAction; }
    // The details pane's height: as shown, or as it was when last closed.
    int DetailsHeight() const;
    CSpeedGraph* ThroughputGraph() const { return m_pThroughput; }
    static constexpr qint64 kThroughputSpanMs = 60000;
    // Opens the pane on the row under the key and selects that row.
    void ShowDetails(RowHandle handle);
    // The graph's click: the busiest running transfer's details (or the pane as it is).
    void ShowBusiestDetails();
    // Abort and Clear enabled only where they would do something.
    void UpdateCommands();

    // Shows the window at start-up, with the splash above it when enabled.
    void ShowAtStartUp();
    // Another copy of the program was started (or the tray icon was clicked): show this
    // window, restored when it was minimised or in the tray, and bring it to the front.
    void ShowFromAnotherCopy();

    // Where the animation goes in a frame of the given client width.
    QPoint AnimationPosition() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void CreateActions();
    void CreateMenus();
    void AddDeviceTransferActions(class QMenu* file);
    void CreateToolBar();
    void CreateStatusBar();
    void CreateListenBanner();
    void UpdateListenBanner();
    void PlaceAnimation();
    void PlaceOnScreen();
    void CreateTrayIcon();
    void UpdateTrayIcon();
    void OnSaveList();
    void OnOpenFolder();
    void OnOpenContainingFolder();
    // Hands the folder to the file manager; says why when there is none, and offers
    // the path to copy.
    void OpenOnDesktop(const QString& folder, const QString& caption);
    void UpdateServerAddresses(const QStringList& addresses);
    void UpdateTitle(const QString& services);
    void CopyServerAddress(const QString& reachable);
    QString EmptyListText(quint16 httpPort, const BootStatus& boot) const;
    QWidget* CreateFilterBar(QWidget* parent);
    // The list and the details pane under it, in a splitter.
    QWidget* CreateListArea(QWidget* parent);
    void CreateThroughputGraph();
    void SampleThroughput();
    void OnRowEnded(const RowTexts& texts, RowState state);
    void ShowNotifications();
    void Quit();

    CZAZO_DizeView* m_pView = nullptr;
    CTransferAnimDlg* m_pAnimation = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QLabel* m_pReady = nullptr;
    QLabel* m_pStatusField = nullptr;
    CFirewallCheck* m_pFirewall = nullptr; // what a firewall here keeps from our ports
    QString m_strStartNotes;
    QString m_strStatusGivesWay; // the part of the status text cut first: the folder
    QFrame* m_pBanner = nullptr;
    QLabel* m_pBannerText = nullptr;
    QSpinBox* m_pBannerPort = nullptr;
    QPushButton* m_pBannerRetry = nullptr;
    QTimer* m_pRetryTimer = nullptr;
    CSettingsStore& m_store;
    QHostAddress m_address;
    quint16 m_nPort;
    std::unique_ptr<QSettings> m_windowSettings; // group "Window": geometry, columns, tray
    QSystemTrayIcon* m_pTray = nullptr;
    bool m_bQuitting = false;
    int m_nTrayCount = -1;
    QAction* m_actions[CommandCount] = {};
    bool m_bCreated = false;
    std::function<bool(const QUrl&)> m_openUrl;
    QStringList m_reachable;
    QMenu* m_pCopyAddressMenu = nullptr; // one entry per address, when there are several
    std::function<void(const QString&, const QString&)> m_notify;
    QStringList m_pendingNotes; // ended rows to tell of, gathered over one turn of the loop
    QElapsedTimer m_audioNote;  // since "No audio device" was first said
    QString m_strServices;      // what the title adds: "HTTP on :8080, boot offers on eth1"
    std::function<QHostAddress()> m_listenAddressFor;
    QLineEdit* m_pFilterEdit = nullptr;
    QCheckBox* m_pHideFinished = nullptr;
    QLabel* m_pFilterCount = nullptr; // "showing 12 of 840" while the filter leaves rows out
    QList<QToolButton*> m_quickButtons;
    QSplitter* m_pSplitter = nullptr;
    int m_nDetailsHeight = 0; // the pane's height as the user left it; 0: the first one
    CTransferDetails* m_pDetails = nullptr;
    QAction* m_pDetailsAction = nullptr;
    QAction* m_pBusiestAction = nullptr;
    CSpeedGraph* m_pThroughput = nullptr;
    QElapsedTimer m_throughputClock;
};
