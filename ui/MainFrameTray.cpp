// The tray icon, the notifications of ended rows, and quitting.
#include "MainFrame.h"

#include "ZAZO_DizeView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>

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

void CMainFrame::ShowFromAnotherCopy() {
    if (isMinimized())
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}
