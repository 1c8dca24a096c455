// The status bar, the title and the banner above the list while the server cannot listen.
#include "MainFrame.h"

#include "FirewallCheck.h"
#include "TransferListModel.h"
#include "WaveSound.h"
#include "WindowTitle.h"
#include "ZAZO_DizeView.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QString listenWhere(const QHostAddress& address, quint16 port) {
    return (address == QHostAddress(QHostAddress::AnyIPv4) ? QStringLiteral("0.0.0.0")
                                                           : address.toString()) +
           QLatin1Char(':') + QString::number(port);
}
} // namespace

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
    CreateThroughputGraph();
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
    // Said only when more than one engine thread was asked for: how many listen, or why one.
    if (const QString threads = listening ? engine.EngineThreadsNote() : QString(); !threads.isEmpty())
        text += QStringLiteral("  |  ") + threads;
    if (http)
        text += QStringLiteral("  |  HTTP on :%1").arg(engine.Settings().httpPort);
    if (!boot.text().isEmpty())
        text += QStringLiteral("  |  ") + boot.text();
    // The DHCP server's state, red while it hands out nothing.
    const DhcpStatus dhcp = engine.DhcpState();
    if (dhcp.state != DhcpStatus::State::Off) {
        text += QStringLiteral("  |  ") + dhcp.text();
        problem = problem || dhcp.state != DhcpStatus::State::On || dhcp.v6Problem;
    }
    // A firewall that keeps clients from our ports, read when the ports change (ufw
    // and firewalld let loopback through).
    m_pFirewall->Watch(
        listening && !m_address.isLoopback()
            ? Firewall::OurPorts(m_nPort, boot.on(), dhcp.state != DhcpStatus::State::Off,
                                 !dhcp.v6.isEmpty(), http ? engine.Settings().httpPort : 0)
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
    column->addWidget(CreateListArea(central), 1);
    setCentralWidget(central);

    // The port may be freed, or the capability given, while the window is open.
    m_pRetryTimer = new QTimer(this);
    m_pRetryTimer->setInterval(kRetryMs);
    connect(m_pRetryTimer, &QTimer::timeout, this, [this] { TryListen(m_nPort); });
    UpdateListenBanner();
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
