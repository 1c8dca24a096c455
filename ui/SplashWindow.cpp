#include "SplashWindow.h"

#include "DialogPictures.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>

bool CSplashWindow::s_bEnabled = false;
CSplashWindow* CSplashWindow::s_pCurrent = nullptr;

void CSplashWindow::EnableSplash(bool enable) {
    s_bEnabled = enable;
}

void CSplashWindow::ShowSplash(QWidget* mainWindow) {
    if (!s_bEnabled || s_pCurrent)
        return;
    InitDialogPictures();
    const QPixmap picture(QStringLiteral(":/dialogs/splash.png"));
    if (picture.isNull())
        return; // no picture, no splash; start-up goes on
    auto* splash = new CSplashWindow(picture, mainWindow);
    splash->show();
    splash->repaint();
}

void CSplashWindow::HideSplash() {
    CSplashWindow* splash = s_pCurrent;
    if (!splash)
        return;
    s_pCurrent = nullptr;
    qApp->removeEventFilter(splash);
    splash->m_timer.stop();
    // Some platforms activate the splash when it shows; give the keyboard back.
    const bool hadFocus = splash->isActiveWindow();
    splash->hide();
    QPointer<QWidget> mainWindow = splash->m_pMainWindow;
    splash->deleteLater();
    if (!mainWindow || !mainWindow->isVisible())
        return;
    if (hadFocus)
        mainWindow->activateWindow();
    // Paint what the splash covered now rather than at the next idle moment.
    mainWindow->repaint();
}

CSplashWindow::CSplashWindow(const QPixmap& picture, QWidget* mainWindow)
    : QSplashScreen(picture, Qt::WindowStaysOnTopHint), m_pMainWindow(mainWindow), m_timer(this) {
    setAttribute(Qt::WA_DeleteOnClose);
    // Keys keep going to the main window; the splash only watches for them.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(picture.deviceIndependentSize().toSize());
    if (QScreen* screen = mainWindow ? mainWindow->screen() : QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    s_pCurrent = this;
    qApp->installEventFilter(this);
    m_timer.setObjectName(QStringLiteral("splashTimer"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CSplashWindow::HideSplash);
    m_timer.start(kShowMilliseconds);
}

CSplashWindow::~CSplashWindow() {
    if (s_pCurrent == this) {
        s_pCurrent = nullptr;
        qApp->removeEventFilter(this);
    }
}

bool CSplashWindow::eventFilter(QObject* watched, QEvent* event) {
    // Only what the user did: events the program sends itself pass untouched.
    if (!event->spontaneous())
        return QSplashScreen::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claim the key so no shortcut fires; the key press that follows takes the splash down.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        HideSplash();
        return true;
    default:
        return QSplashScreen::eventFilter(watched, event);
    }
}
