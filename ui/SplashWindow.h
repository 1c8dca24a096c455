#pragma once

#include <QPointer>
#include <QSplashScreen>
#include <QTimer>

// The start-up picture. It shows once, centred on the screen and above the main window,
// until 2500 ms have passed or the user presses a key or a mouse button anywhere in the
// program; that press is swallowed so it does nothing else.
class CSplashWindow : public QSplashScreen {
    Q_OBJECT

public:
    static constexpr int kShowMilliseconds = 2500;

    // Start-up switches the splash on or off (--no-splash) before the window is built.
    static void EnableSplash(bool enable);
    // Shows the splash over the main window, when enabled and not shown yet.
    static void ShowSplash(QWidget* mainWindow);
    // Takes the splash down and repaints the main window at once.
    static void HideSplash();
    // The splash on the screen now, or null.
    static CSplashWindow* Current() { return s_pCurrent; }

    ~CSplashWindow() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CSplashWindow(const QPixmap& picture, QWidget* mainWindow);

    QPointer<QWidget> m_pMainWindow;
    QTimer m_timer;

    static bool s_bEnabled;
    static CSplashWindow* s_pCurrent;
};
