#include "SplashWindow.h"

#include <QAction>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

namespace {
// A stand-in for the main window that counts its paints and triggered commands.
class MainWindow : public QWidget {
public:
    MainWindow() {
        auto* layout = new QVBoxLayout(this);
        edit = new QLineEdit;
        button = new QPushButton(QStringLiteral("Setup"));
        layout->addWidget(edit);
        layout->addWidget(button);
        command = new QAction(this);
        command->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
        addAction(command);
        resize(700, 400);
    }
    QLineEdit* edit;
    QPushButton* button;
    QAction* command;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};
} // namespace

class TestSplash : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void disabledShowsNothingAndFiltersNothing();
    void firstKeyPressIsSwallowed();
    void firstButtonPressIsSwallowed();
    void timerTakesItDownAndRepaints();
};

void TestSplash::cleanup() {
    CSplashWindow::HideSplash();
    CSplashWindow::EnableSplash(false);
}

void TestSplash::disabledShowsNothingAndFiltersNothing() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    CSplashWindow::EnableSplash(false);
    CSplashWindow::ShowSplash(&w);
    QVERIFY(!CSplashWindow::Current());
    QTest::keyClick(w.edit, Qt::Key_A);
    QCOMPARE(w.edit->text(), QStringLiteral("a"));
}

void TestSplash::firstKeyPressIsSwallowed() {
    MainWindow w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.edit->setFocus();
    QSignalSpy triggered(w.command, &QAction::triggered);

    CSplashWindow::EnableSplash(true);
    CSplashWindow::ShowSplash(&w);
    CSplashWindow* splash = CSplashWindow::Current();
    QVERIFY(splash);
    QVERIFY(splash->isVisible());
    QCOMPARE(splash->size(), QSize(397, 340));
    const QPoint centre = w.screen()->geometry().center();
    QVERIFY((splash->geometry().center() - centre).manhattanLength() <= 2);
    CSplashWindow::ShowSplash(&w); // at most one
    QCOMPARE(CSplashWindow::Current(), splash);

    // A shortcut pressed while it shows only takes it down.
    const int paintsBefore = w.paints;
    QTest::keyClick(w.edit, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!CSplashWindow::Current());
    QCOMPARE(triggered.count(), 0);
    QVERIFY(w.edit->text().isEmpty());
    QVERIFY(w.paints > paintsBefore); // repainted at once, not at the next idle moment

    // Keys go to the main window again (some platforms had activated the splash).
    QTRY_VERIFY_WITH_TIMEOUT(w.isActiveWindow(), 2000);
    QTest::keyClick(w.edit, Qt::Key_B);
    QCOMPARE(w.edit->text(), QStringLiteral("b"));
    QTest::keyClick(w.edit, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(triggered.count(), 1);
}

void TestSplash::firstButtonPressIsSwallowed() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QSignalSpy clicked(w.button, &QPushButton::clicked);
    CSplashWindow::EnableSplash(true);
    CSplashWindow::ShowSplash(&w);
    QVERIFY(CSplashWindow::Current());

    QTest::mouseClick(w.button, Qt::LeftButton);
    QVERIFY(!CSplashWindow::Current());
    QCOMPARE(clicked.count(), 0);
    QTest::mouseClick(w.button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 1);
}

void TestSplash::timerTakesItDownAndRepaints() {
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    CSplashWindow::EnableSplash(true);
    CSplashWindow::ShowSplash(&w);
    CSplashWindow* splash = CSplashWindow::Current();
    QVERIFY(splash);
    auto* timer = splash->findChild<QTimer*>(QStringLiteral("splashTimer"));
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 2500);

    // Fire it now instead of waiting.
    const int paintsBefore = w.paints;
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
    QVERIFY(!CSplashWindow::Current());
    QVERIFY(w.paints > paintsBefore);
    QTest::keyClick(w.edit, Qt::Key_C);
    QCOMPARE(w.edit->text(), QStringLiteral("c"));
}

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
