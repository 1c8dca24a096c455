#include "TransferListView.h"

#include "RowDelegate.h"
#include "TransferListModel.h"

#include <QHeaderView>
#include <QPainter>

CTransferListView::CTransferListView(QWidget* parent)
    : QTreeView(parent), m_pModel(new CTransferListModel(this)),
      m_pDelegate(new CRowDelegate(this)) {
    setModel(m_pModel);
    setItemDelegate(m_pDelegate);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, CTransferListModel::kBackground);
    pal.setColor(QPalette::Window, CTransferListModel::kBackground);
    setPalette(pal);

    QHeaderView* head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setSectionResizeMode(QHeaderView::Interactive);
    head->setMinimumSectionSize(0);
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        head->resizeSection(c, CTransferListModel::kColumns[c].width);
    // The grid lines right of a resized column move: repaint the whole list.
    connect(head, &QHeaderView::sectionResized, viewport(), qOverload<>(&QWidget::update));

    // A row repainted for new texts shows the bar as the model has it now.
    connect(m_pModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                for (int r = from.row(); r <= to.row(); ++r)
                    m_paintedBars.remove(m_pModel->HandleOf(r));
            });

    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(kProgressFlushMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { FlushProgress(); });

    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { ResumeRepaints(); });
    m_sinceRepaint.start();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_pModel, signal, this, [this] { ThrottleRepaints(); });
    connect(m_pModel, &QAbstractItemModel::dataChanged, this, [this] { ThrottleRepaints(); });
}

// The first change after a quiet spell shows at once; changes that follow within
// kProgressFlushMs are gathered and shown together when it has passed.
void CTransferListView::ThrottleRepaints() {
    if (m_repaintTimer.isActive())
        return;
    const qint64 since = m_sinceRepaint.elapsed();
    if (since >= kProgressFlushMs) {
        m_sinceRepaint.restart();
        return;
    }
    setUpdatesEnabled(false); // the list, its scroll bars and header
    m_repaintTimer.start(int(kProgressFlushMs - since));
}

void CTransferListView::ResumeRepaints() {
    m_sinceRepaint.restart();
    setUpdatesEnabled(true); // repaints the whole list once
}

CTransferListView::~CTransferListView() = default;

void CTransferListView::SetProgress(RowHandle handle, qint64 bytesSent, qint64 fileSize) {
    const double fraction =
        fileSize > 0 ? qBound(0.0, double(quint64(bytesSent)) / double(fileSize), 1.0) : -1.0;
    if (m_pModel->SetProgressQuietly(handle, fraction) < 0)
        return;
    const int width =
        fraction < 0 ? -1
                     : CRowDelegate::BarWidth(fraction, columnWidth(CTransferListModel::ColSize));
    if (m_paintedBars.value(handle, -1) == width) {
        m_dirtyBars.remove(handle);
        return;
    }
    m_dirtyBars.insert(handle, width);
    if (!m_progressTimer.isActive())
        m_progressTimer.start();
}

void CTransferListView::FlushProgress() {
    for (auto it = m_dirtyBars.cbegin(); it != m_dirtyBars.cend(); ++it) {
        const int row = m_pModel->RowOf(it.key());
        if (row < 0)
            continue;
        m_paintedBars.insert(it.key(), it.value());
        viewport()->update(visualRect(m_pModel->index(row, CTransferListModel::ColSize)));
        ++m_nProgressRepaints;
    }
    m_dirtyBars.clear();
}

void CTransferListView::ClearRows() {
    m_dirtyBars.clear();
    m_paintedBars.clear();
    m_pModel->Clear();
}

void CTransferListView::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    // Grid: a grey line at the right edge of each column, from below the header to
    // the bottom, following horizontal scrolling; none at or past the right edge.
    QPainter painter(viewport());
    painter.setPen(QPen(CTransferListModel::kGridLine, 1));
    const int right = viewport()->width();
    const int bottom = viewport()->height();
    int x = -horizontalOffset();
    const QHeaderView* head = header();
    for (int visual = 0; visual < head->count(); ++visual) {
        const int logical = head->logicalIndex(visual);
        if (head->isSectionHidden(logical))
            continue;
        x += head->sectionSize(logical);
        if (x >= right)
            break;
        painter.drawLine(x - 1, 0, x - 1, bottom - 1);
    }
}
