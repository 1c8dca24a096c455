#pragma once

#include <QHostAddress>
#include <QMainWindow>

class CSettingsStore;
class CTransferAnimDlg;
class CZAZO_DizeView;
class QAction;
class QLabel;

// The program's one top-level window: menu, fixed toolbar, the transfer list,
// a one-pane status bar and the transfer animation at the right of the toolbar row.
class CMainFrame : public QMainWindow {
public:
    enum Command { Abort, Clear, Exit, Setup, Security, StatusBar, Help, About, CommandCount };

    static constexpr int kWidth = 700;
    static constexpr int kHeight = 400;
    static constexpr QSize kButtonSize{80, 53};

    CMainFrame(CSettingsStore& store, const QHostAddress& address, quint16 port,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    CZAZO_DizeView* View() const { return m_pView; }
    CTransferAnimDlg* Animation() const { return m_pAnimation; }
    QAction* Action(Command command) const { return m_actions[command]; }
    QToolBar* ToolBar() const { return m_pToolBar; }
    // The idle text of the status bar ("Ready").
    QLabel* ReadyLabel() const { return m_pReady; }

    // Shows the window at start-up, with the splash above it when enabled.
    void ShowAtStartUp();
    // Another copy of the program was started: show this window and bring it to the
    // front. A minimised window stays minimised.
    void ShowFromAnotherCopy();

    // Where the animation goes in a frame of the given client width.
    QPoint AnimationPosition() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMenu* createPopupMenu() override { return nullptr; }

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void PlaceAnimation();

    CZAZO_DizeView* m_pView = nullptr;
    CTransferAnimDlg* m_pAnimation = nullptr;
    QToolBar* m_pToolBar = nullptr;
    QLabel* m_pReady = nullptr;
    QAction* m_actions[CommandCount] = {};
    bool m_bCreated = false;
};
