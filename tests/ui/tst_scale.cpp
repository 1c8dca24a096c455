// The window on a scaled display whose free area is smaller than the window's
// usual size (as QT_SCALE_FACTOR=2 on a 1280x800 screen): it fits and stays on it.
#include "AboutBoxDlg.h"
#include "ui/dialogs/BootDlg.h"
#include "HelpSheetDlg.h"
#include "MainFrame.h"
#include "ui/dialogs/ProtocolDlg.h"
#include "ui/dialogs/SecurityDlg.h"
#include "UiTestSupport.h"

#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QtTest>

class TestScale : public QObject {
    Q_OBJECT
private slots:
    void firstSizeFitsTheScreen();
    void dialogsFitTheScreen();
};

// The fixed-size dialogs too: none may reach past the screen's free area.
void TestScale::dialogsFitTheScreen() {
    TestStore s;
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    CProtocolDlg protocol(*s.store);
    CSecurityDlg security(*s.store);
    CHelpSheetDlg help;
    CAboutBoxDlg about;
    CBootDlg boot(*s.store, QStringLiteral("eth0 (198.51.100.1)"));
    for (QDialog* dlg : {static_cast<QDialog*>(&protocol), static_cast<QDialog*>(&security),
                         static_cast<QDialog*>(&help), static_cast<QDialog*>(&about),
                         static_cast<QDialog*>(&boot)}) {
        dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(dlg));
        QVERIFY2(dlg->width() <= free.width() && dlg->height() <= free.height() - 32,
                 qPrintable(QStringLiteral("%1: %2x%3")
                                .arg(dlg->windowTitle())
                                .arg(dlg->width())
                                .arg(dlg->height())));
        QVERIFY(!(dlg->windowFlags() & Qt::WindowMaximizeButtonHint));
        dlg->hide();
    }
}

void TestScale::firstSizeFitsTheScreen() {
    TestStore s;
    CMainFrame frame(*s.store, s.NewEngine(), QHostAddress::LocalHost, RandomHighPort());
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(free.width() < CMainFrame::kWidth, "the screen should be smaller than the window");
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY2(free.contains(frame.geometry()), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                             .arg(frame.x())
                                                             .arg(frame.y())
                                                             .arg(frame.width())
                                                             .arg(frame.height())));
    // The File menu and the status bar are inside the window.
    QVERIFY(frame.rect().contains(
        QRect(frame.menuBar()->mapTo(&frame, QPoint()), frame.menuBar()->size())));
    QVERIFY(frame.rect().contains(
        QRect(frame.statusBar()->mapTo(&frame, QPoint()), frame.statusBar()->size())));
}

int main(int argc, char* argv[]) {
    // The offscreen screen is 800x600 pixels: 533x400 points at 1.5.
    qputenv("QT_SCALE_FACTOR", "1.5");
    QApplication app(argc, argv);
    TestScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scale.moc"
