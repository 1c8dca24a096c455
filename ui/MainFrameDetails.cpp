// The details pane under the list and the status bar's graph of all transfers.
#include "MainFrame.h"

#include "SpeedGraph.h"
#include "TransferDetails.h"
#include "TransferFilter.h"
#include "TransferListModel.h"
#include "ZAZO_DizeView.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

namespace {
constexpr int kDetailsHeight = 150;
} // namespace

QWidget* CMainFrame::CreateListArea(QWidget* parent) {
    m_pSplitter = new QSplitter(Qt::Vertical, parent);
    m_pSplitter->setObjectName(QStringLiteral("listSplitter"));
    m_pSplitter->setChildrenCollapsible(false);
    m_pSplitter->addWidget(m_pView);
    m_pDetails = new CTransferDetails(m_pView->Model(), m_pSplitter);
    m_pSplitter->addWidget(m_pDetails);
    // The list takes what the window gains or loses: the pane keeps the height it was given.
    m_pSplitter->setStretchFactor(0, 1);
    m_pSplitter->setStretchFactor(1, 0);
    m_pDetails->hide();

    m_pDetailsAction = new QAction(QStringLiteral("&Details"), this);
    m_pDetailsAction->setObjectName(QStringLiteral("detailsAction"));
    m_pDetailsAction->setCheckable(true);
    m_pDetailsAction->setStatusTip(
        QStringLiteral("Show everything known about the selected row, and its speed over time"));
    connect(m_pDetailsAction, &QAction::toggled, this, [this](bool on) {
        if (!on && m_pSplitter->sizes().value(1) > 0)
            m_nDetailsHeight = m_pSplitter->sizes().value(1);
        m_pDetails->setVisible(on);
        // The height it had (room enough for its lines and graph at first), the list
        // keeping the rest.
        if (on) {
            const int want = m_nDetailsHeight > 0 ? m_nDetailsHeight : kDetailsHeight;
            const int all = m_pSplitter->height();
            m_pSplitter->setSizes({qMax(all / 3, all - want), qMin(want, all * 2 / 3)});
        }
        if (on)
            m_pDetails->ShowRow(m_pView->currentIndex().isValid()
                                    ? m_pView->Model().HandleOf(m_pView->ModelRow(m_pView->currentIndex()))
                                    : 0);
    });
    m_pBusiestAction = new QAction(QStringLiteral("Details of the &Busiest Transfer"), this);
    m_pBusiestAction->setStatusTip(
        QStringLiteral("Open the details of the transfer moving the most bytes now"));
    connect(m_pBusiestAction, &QAction::triggered, this, [this] { ShowBusiestDetails(); });

    // Enter (or a double click) on a row opens its details; the pane follows the
    // current row while open.
    connect(m_pView, &QAbstractItemView::activated, this, [this](const QModelIndex& at) {
        if (const int row = m_pView->ModelRow(at); row >= 0)
            ShowDetails(m_pView->Model().HandleOf(row));
    });
    connect(m_pView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& at) {
                if (!m_pDetails->isVisible())
                    return;
                const int row = m_pView->ModelRow(at);
                if (row >= 0)
                    m_pDetails->ShowRow(m_pView->Model().HandleOf(row));
            });
    connect(m_pSplitter, &QSplitter::splitterMoved, this,
            [this] { m_nDetailsHeight = m_pSplitter->sizes().value(1); });
    return m_pSplitter;
}

// As shown while open (also while the window itself is hidden, as at a shutdown).
int CMainFrame::DetailsHeight() const {
    const int shown = m_pDetailsAction->isChecked() ? m_pSplitter->sizes().value(1) : 0;
    return shown > 0 ? shown : m_nDetailsHeight;
}

void CMainFrame::ShowDetails(RowHandle handle) {
    const int row = m_pView->Model().RowOf(handle);
    if (row >= 0) {
        const QModelIndex shown = m_pView->Filter().mapFromSource(m_pView->Model().index(row, 0));
        if (shown.isValid() && m_pView->currentIndex().row() != shown.row())
            m_pView->setCurrentIndex(shown);
    }
    m_pDetails->ShowRow(handle);
    m_pDetailsAction->setChecked(true);
}

void CMainFrame::ShowBusiestDetails() {
    if (const RowHandle busiest = m_pView->Busiest(); busiest != 0)
        ShowDetails(busiest);
    else
        m_pDetailsAction->setChecked(true);
}

void CMainFrame::CreateThroughputGraph() {
    m_pThroughput = new CSpeedGraph(statusBar());
    m_pThroughput->setObjectName(QStringLiteral("throughputGraph"));
    m_pThroughput->SetCompact(true);
    m_pThroughput->setFixedWidth(48); // the status field needs the room more
    m_pThroughput->setAccessibleName(QStringLiteral("Throughput of all transfers"));
    m_pThroughput->setToolTip(QStringLiteral("All transfers over the last minute; click (or "
                                             "Enter) for the busiest one's details"));
    m_pThroughput->SetActivated([this] { ShowBusiestDetails(); });
    statusBar()->addPermanentWidget(m_pThroughput);
    m_throughputClock.start();
    auto* tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, [this] { SampleThroughput(); });
    tick->start(1000);
}

// Once a second: the list's latest total, the last minute kept; the open pane reads
// its row again.
void CMainFrame::SampleThroughput() {
    QList<CSpeedGraph::Sample> samples = m_pThroughput->Samples();
    const qint64 now = m_throughputClock.elapsed();
    samples.append({now, m_pView->Throughput()});
    while (!samples.isEmpty() && samples.first().ms < now - kThroughputSpanMs)
        samples.removeFirst();
    m_pThroughput->SetSamples(std::move(samples), kThroughputSpanMs);
    if (m_pDetails->isVisible())
        m_pDetails->Refresh();
}
