#include "AboutBoxDlg.h"
#include "DialogFixture.h"
#include "HelpSheetDlg.h"
#include "ModalDriver.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QtTest>
#include <algorithm>

namespace {
void Check(bool ok, const QString& what) {
    if (!ok)
        ModalDriver::Errors() << what;
}
} // namespace

class TestHelpAbout : public QObject {
    Q_OBJECT

private slots:
    void helpOpensOnGeneralEveryTime();
    void helpPagesTextAndPictures();
    void aboutBox();
};

void TestHelpAbout::helpOpensOnGeneralEveryTime() {
    DialogFixture f;
    f.engine.SetSoundOn(true);
    const auto lookAndLeave = [](int goTo, int button) {
        return ModalDriver::Step{[goTo, button](QWidget* w) {
            Check(w->windowTitle() == QLatin1String("Vantrel Server 1.0 Help"), "caption");
            auto* tabs = w->findChild<QTabWidget*>();
            Check(tabs && tabs->count() == 9, "nine tabs");
            if (!tabs)
                return;
            Check(tabs->currentIndex() == 0, "opens on General");
            QStringList labels;
            for (int i = 0; i < tabs->count(); ++i)
                labels << tabs->tabText(i);
            Check(labels == QStringList{"General", "File", "Setup", "Security", "Protocol", "Boot",
                                        "DHCP", "Running", "Keys"},
                  "tabs: " + labels.join(','));
            // Nothing to apply or cancel: one Close button.
            auto* box = w->findChild<QDialogButtonBox*>();
            Check(box && box->buttons().size() == 1 && box->button(QDialogButtonBox::Close),
                  "one Close button");
            Check(!(w->windowFlags() & Qt::WindowMaximizeButtonHint), "no maximise button");
            tabs->setCurrentIndex(goTo);
            box->button(QDialogButtonBox::StandardButton(button))->click();
        }};
    };
    {
        ModalDriver driver({lookAndLeave(3, QDialogButtonBox::Close)});
        RunHelpCommand(f.engine, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
    }
    {
        ModalDriver driver({lookAndLeave(2, QDialogButtonBox::Close)});
        RunHelpCommand(f.engine, nullptr);
        QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
        QVERIFY(driver.finished());
    }
    QCOMPARE(f.window.sounds, (QList<int>{146, 146}));

    f.engine.SetSoundOn(false); // silent, and Escape ends it too
    ModalDriver driver({{[](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }}});
    RunHelpCommand(f.engine, nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
    QCOMPARE(f.window.sounds.size(), 2);
}

void TestHelpAbout::helpPagesTextAndPictures() {
    CHelpSheetDlg sheet;
    const QList<QWidget*> pages = {sheet.m_pPageGeneral,  sheet.m_pPageClear,    sheet.m_pPageSetup,
                                   sheet.m_pPageSecurity, sheet.m_pPageProtocol, sheet.m_pPageBoot,
                                   sheet.m_pPageDhcp,     sheet.m_pPageRunning};
    QString all;
    for (QWidget* page : pages) {
        auto* text = page->findChild<QLabel*>(QStringLiteral("textLabel"));
        QVERIFY(text && !text->text().isEmpty());
        QCOMPARE(text->textFormat(), Qt::PlainText);
        all += text->text() + QLatin1Char('\n');
        auto* picture = page->findChild<QLabel*>(QStringLiteral("pictureLabel"));
        QVERIFY(picture);
        QCOMPARE(picture->pixmap().size(), QSize(32, 32));
    }
    // This program, on Linux: what a user needs to run it, and nothing of another system.
    QVERIFY(!all.contains(QStringLiteral("Windows")));
    for (const char* must : {"Linux",
                             "port 69",
                             "sudo setcap cap_net_bind_service=+ep",
                             "black",
                             "blue",
                             "violet",
                             "red",
                             "Working Directory",
                             "Only Allow These Clients",
                             "192.168.1.0/24",
                             "Negotiate Options",
                             "Transfer Ports",
                             "Listen Address",
                             "Close to Tray",
                             "~/.local/share/vantrel-server/transfers.log",
                             "--headless",
                             "systemd",
                             "Option > Boot",
                             "http://ADDRESS:PORT/NAME",
                             "Option > DHCP",
                             "host name",
                             "(U-Boot, BOOTP)",
                             "--get",
                             "--put",
                             "Send to Device...",
                             "Fetch from Device...",
                             "sudo ufw allow vantrel-server",
                             "sudo firewall-cmd --add-service=vantrel-server",
                             "--permanent",
                             "Installed from\nthe package"})
        QVERIFY2(all.contains(QLatin1String(must)), must);

    // Every page fits its tab, whatever the style's font: the sheet grows to the largest.
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    auto* tabs = sheet.findChild<QTabWidget*>();
    QVERIFY(tabs->tabBar()->width() >= tabs->tabBar()->sizeHint().width()); // no tab hidden
    for (QWidget* page : pages) {
        tabs->setCurrentWidget(page);
        QCoreApplication::processEvents();
        auto* text = page->findChild<QLabel*>(QStringLiteral("textLabel"));
        QVERIFY2(text->width() >= text->sizeHint().width() &&
                     text->height() >= text->sizeHint().height(),
                 qPrintable(page->windowTitle()));
    }
}

void TestHelpAbout::aboutBox() {
    const auto check = [](QWidget* w) {
        Check(w->windowTitle() == QLatin1String("About Vantrel Server 1.0"), "caption");
        QList<QLabel*> lines;
        QLabel* picture = nullptr;
        for (QLabel* label : w->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull())
                picture = label;
            else
                lines << label;
        }
        std::sort(lines.begin(), lines.end(), [](QLabel* a, QLabel* b) { return a->y() < b->y(); });
        QStringList texts;
        for (QLabel* label : lines)
            texts << label->text();
        Check(texts.size() == 4 && texts[0] == QLatin1String("Vantrel Server Version 1.0") &&
                  texts[1] == QLatin1String("Freeware"),
              "lines: " + texts.join('|'));
        auto* ok = w->findChild<QPushButton*>(QStringLiteral("okButton"));
        Check(picture && picture->pixmap().size() == QSize(32, 32), "picture");
        Check(picture && ok && picture->x() < lines.first()->x() && ok->x() > lines.first()->x() &&
                  ok->y() < lines[1]->y() && picture->y() < lines[1]->y(),
              "picture top left, OK top right");
        Check(ok && ok->isDefault(), "OK is the default button");
    };
    // OK, Escape and the close box all end it.
    ModalDriver driver({{[&](QWidget* w) {
                            check(w);
                            ModalDriver::click(w, "okButton");
                        }},
                        {[](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }},
                        {[](QWidget* w) { w->close(); }}});
    for (int i = 0; i < 3; ++i)
        RunAboutCommand(nullptr);
    QVERIFY2(ModalDriver::Errors().isEmpty(), qPrintable(ModalDriver::Errors().join('\n')));
    QVERIFY(driver.finished());
}

QTEST_MAIN(TestHelpAbout)
#include "tst_help_about.moc"
