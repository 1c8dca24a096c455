#include "TransferListView.h"

#include "RowDelegate.h"
#include "TransferFilter.h"
#include "TransferListModel.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <algorithm>

CTransferListView::CTransferListView(QWidget* parent)
    : QTreeView(parent), m_pModel(new CTransferListModel(this)),
      m_pFilter(new CTransferFilter(m_pModel, this)), m_pDelegate(new CRowDelegate(this)) {
    setModel(m_pFilter);
    setAccessibleName(QStringLiteral("Transfers"));
    setAccessibleDescription(QStringLiteral("One row per request: client, file, size, service "
                                            "and information; the row's state is said with it"));
    setItemDelegate(m_pDelegate);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // The ground is fixed, so is every colour drawn on it (header included): the list
    // reads the same under a dark desktop style.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, CTransferListModel::kBackground);
    pal.setColor(QPalette::Window, CTransferListModel::kBackground);
    pal.setColor(QPalette::AlternateBase, CTransferListModel::kBackground);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        pal.setColor(role, Qt::black);
    pal.setColor(QPalette::Button, QColor(236, 236, 236));
    pal.setColor(QPalette::Light, Qt::white);
    pal.setColor(QPalette::Midlight, QColor(245, 245, 245));
    pal.setColor(QPalette::Mid, QColor(190, 190, 190));
    pal.setColor(QPalette::Dark, QColor(160, 160, 160));
    pal.setColor(QPalette::Shadow, QColor(110, 110, 110));
    pal.setColor(QPalette::Highlight, CTransferListModel::kSelection);
    pal.setColor(QPalette::HighlightedText, Qt::black);
    setPalette(pal);

    QHeaderView* head = header();
    head->setPalette(pal);
    // Information takes whatever width the window has left.
    head->setStretchLastSection(true);
    head->setSectionsMovable(false);
    // Which columns show: from the header's menu, or View > Columns by keyboard.
    m_pColumns = new QMenu(QStringLiteral("Co&lumns"), this);
    m_pColumns->setObjectName(QStringLiteral("columnsMenu"));
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c) {
        QAction* shown = m_pColumns->addAction(QLatin1String(CTransferListModel::kColumns[c].title));
        shown->setCheckable(true);
        shown->setChecked(true);
        connect(shown, &QAction::toggled, this, [this, c](bool on) {
            setColumnHidden(c, !on);
            // The last column shown stays: a list without columns shows nothing at all.
            const QList<QAction*> all = m_pColumns->actions();
            const int showing = int(std::count_if(all.cbegin(), all.cend(),
                                                  [](QAction* a) { return a->isChecked(); }));
            for (QAction* a : all)
                a->setEnabled(showing > 1 || !a->isChecked());
            SpreadColumns();
        });
    }
    SetHiddenColumns(DefaultHiddenColumns());
    head->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(head, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_pColumns->popup(header()->mapToGlobal(at)); });
    // A click on a column's title sorts by it (again: the other way); until then the rows
    // stay in the order they came.
    head->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
    m_pSort = new QMenu(QStringLiteral("S&ort By"), this);
    m_pSort->setObjectName(QStringLiteral("sortMenu"));
    auto* sortGroup = new QActionGroup(m_pSort);
    // The columns' titles with a mnemonic each, apart from Arrival's A and Descending's D.
    static const char* const kSortTexts[CTransferListModel::ColumnCount] = {
        "&Client", "&File", "Si&ze", "Ser&vice", "&Information",
        "S&tarted", "D&uration", "S&peed", "&Options"};
    QAction* arrival = m_pSort->addAction(QStringLiteral("Order of &Arrival"));
    arrival->setData(-1);
    arrival->setCheckable(true);
    sortGroup->addAction(arrival);
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c) {
        QAction* by = m_pSort->addAction(QLatin1String(kSortTexts[c]));
        by->setData(c);
        by->setCheckable(true);
        sortGroup->addAction(by);
    }
    for (QAction* by : sortGroup->actions())
        connect(by, &QAction::triggered, this, [this, by] {
            sortByColumn(by->data().toInt(), header()->sortIndicatorOrder());
        });
    m_pSort->addSeparator();
    QAction* descending = m_pSort->addAction(QStringLiteral("&Descending"));
    descending->setObjectName(QStringLiteral("sortDescending"));
    descending->setCheckable(true);
    connect(descending, &QAction::triggered, this, [this](bool on) {
        sortByColumn(header()->sortIndicatorSection(),
                     on ? Qt::DescendingOrder : Qt::AscendingOrder);
    });
    connect(head, &QHeaderView::sortIndicatorChanged, this, [this] { UpdateSortMenu(); });
    UpdateSortMenu();
    head->setSectionResizeMode(QHeaderView::Interactive);
    head->setMinimumSectionSize(0);
    FitColumns();
    // The grid lines right of a resized column move: repaint the whole list.
    connect(head, &QHeaderView::sectionResized, viewport(), qOverload<>(&QWidget::update));
    // A column dragged by the user keeps the width given to it.
    head->viewport()->installEventFilter(this);
    connect(head, &QHeaderView::sectionResized, this, [this] {
        if (!m_bFitting && m_bHeaderPressed)
            m_bUserSized = true;
    });

    // A row repainted for new texts shows the bar as the model has it now.
    connect(m_pModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                for (int r = from.row(); r <= to.row(); ++r) {
                    m_paintedBars.remove(m_pModel->HandleOf(r));
                    if (from.column() == 0) // new texts, not the speed text
                        m_pace.remove(m_pModel->HandleOf(r));
                }
                if (from.column() == 0)
                    WidenClient(from.row(), to.row());
            });
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { WidenClient(first, last); });

    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(kProgressFlushMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { FlushProgress(); });

    m_repaintTimer.setSingleShot(true);
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] { ResumeRepaints(); });
    m_sinceRepaint.start();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_pModel, signal, this, [this] { ThrottleRepaints(); });
    connect(m_pModel, &QAbstractItemModel::dataChanged, this, [this] { ThrottleRepaints(); });

    m_pAbortRow = new QAction(QStringLiteral("A&bort This Transfer"), this);
    m_pAbortRow->setStatusTip(QStringLiteral("Abort the transfer of this row only"));
    addAction(m_pAbortRow);
    addAction(Separator(this));
    m_pCopy = new QAction(QStringLiteral("&Copy"), this);
    m_pCopy->setShortcut(QKeySequence::Copy);
    m_pCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_pCopy, &QAction::triggered, this, [this] { CopySelection(); });
    addAction(m_pCopy);
    // Ctrl+A anywhere in the window, as in every Linux list.
    m_pSelectAll = new QAction(QStringLiteral("Select &All"), this);
    m_pSelectAll->setShortcut(QKeySequence::SelectAll);
    m_pSelectAll->setShortcutContext(Qt::WindowShortcut);
    connect(m_pSelectAll, &QAction::triggered, this, [this] { selectAll(); });
    addAction(m_pSelectAll);
    m_pOpenFolder = new QAction(QStringLiteral("&Open Containing Folder"), this);
    m_pOpenFolder->setStatusTip(QStringLiteral("Open the folder of this row's file"));
    addAction(m_pOpenFolder);
    addAction(Separator(this));
    m_pClearFinished = new QAction(QStringLiteral("Clear &Finished Rows"), this);
    m_pClearFinished->setStatusTip(QStringLiteral("Remove the rows that ended, keep the running ones"));
    addAction(m_pClearFinished);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // Follow the newest row only when the last one was in view before it came; the
    // scroll itself waits for the event loop, so a burst of rows costs one.
    // Sorted by start, newest first, the newest rows come at the top: following them
    // keeps the top in view.
    const auto newestFirst = [this] {
        return header()->sortIndicatorSection() == CTransferListModel::ColStarted &&
               header()->sortIndicatorOrder() == Qt::DescendingOrder;
    };
    connect(m_pModel, &QAbstractItemModel::rowsAboutToBeInserted, this, [this, newestFirst] {
        const QScrollBar* bar = verticalScrollBar();
        m_bFollow = newestFirst() ? bar->value() <= bar->minimum() : bar->value() >= bar->maximum();
    });
    connect(m_pModel, &QAbstractItemModel::rowsInserted, this, [this, newestFirst] {
        if (!m_bFollow || m_bScrollPending)
            return;
        m_bScrollPending = true;
        QMetaObject::invokeMethod(
            this,
            [this, newestFirst] {
                m_bScrollPending = false;
                if (newestFirst()) {
                    scrollToTop();
                    return;
                }
                // scrollToBottom(), less its second pass over the geometries: laying
                // the rows out has just made them, the header's size hint included.
                executeDelayedItemsLayout();
                verticalScrollBar()->setValue(verticalScrollBar()->maximum());
            },
            Qt::QueuedConnection);
    });
    m_clock.start();
    m_paceTimer.setInterval(1000);
    connect(&m_paceTimer, &QTimer::timeout, this, [this] { RefreshPace(); });

    // Until the first row: what to do first, where the rows will be.
    m_pEmptyLabel = new QLabel(viewport());
    m_pEmptyLabel->setObjectName(QStringLiteral("emptyListText"));
    m_pEmptyLabel->setWordWrap(true);
    m_pEmptyLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pEmptyLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pEmptyLabel->setAutoFillBackground(true);
    m_pEmptyLabel->setContentsMargins(12, 10, 12, 10);
    m_pEmptyLabel->setAccessibleName(QStringLiteral("Getting started"));
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m_pFilter, signal, this, [this] { UpdateEmptyLabel(); });
    connect(m_pFilter, &QAbstractItemModel::modelReset, this, [this] { UpdateEmptyLabel(); });
    connect(m_pFilter, &QAbstractItemModel::layoutChanged, this, [this] { UpdateEmptyLabel(); });
    UpdateEmptyLabel();

    // Shift+F10 opens the row menu, as the Menu key does.
    auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    menuKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(menuKey, &QShortcut::activated, this, [this] { OpenMenuFromKeyboard(); });
}

int CTransferListView::ModelRow(const QModelIndex& shown) const {
    return shown.isValid() ? m_pFilter->mapToSource(shown).row() : -1;
}

void CTransferListView::OpenMenuFromKeyboard() {
    const QRect at = visualRect(currentIndex());
    const QPoint pos = at.isValid() ? viewport()->mapTo(this, at.center()) : QPoint(4, 4);
    QContextMenuEvent event(QContextMenuEvent::Keyboard, pos, mapToGlobal(pos));
    QCoreApplication::sendEvent(this, &event);
}

void CTransferListView::SetEmptyText(const QString& text) {
    if (text == m_strEmpty)
        return;
    m_strEmpty = text;
    UpdateEmptyLabel();
}

void CTransferListView::UpdateEmptyLabel() {
    const bool noRows = m_pModel->rowCount() == 0;
    const bool noneShown = m_pFilter->rowCount() == 0;
    QString text;
    if (noRows)
        text = m_strEmpty;
    else if (noneShown)
        text = QStringLiteral("No row matches the filter.");
    m_pEmptyLabel->setText(text);
    m_pEmptyLabel->setVisible(!text.isEmpty());
    m_pEmptyLabel->setGeometry(viewport()->rect());
}

void CTransferListView::FitColumns() {
    // A typical final row: a client, a boot file, its size, "Boot offer" (the widest
    // service) and a negotiated download's last words.
    const char* const samples[CTransferListModel::ColumnCount] = {
        "192.168.1.100", "snponly.efi", "1023.9 KiB", "Boot offer",
        "Transfer Complete (blksize 1468, windowsize 16)", "23:59:59", "12.4 s", "1023.9 KiB/s",
        "blksize 1468, windowsize 16"};
    const QFontMetrics fm(font());
    const QFontMetrics headFm(header()->font());
    // The delegate's margins (two spaces each side), the row picture before the client.
    const int margins = 4 * fm.horizontalAdvance(QLatin1Char(' ')) + 2;
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c) {
        int w = fm.horizontalAdvance(QLatin1String(samples[c])) + margins;
        if (c == CTransferListModel::ColClient)
            w += 20;
        const int title =
            headFm.horizontalAdvance(QLatin1String(CTransferListModel::kColumns[c].title)) +
            3 * headFm.horizontalAdvance(QLatin1Char(' ')) + 8;
        m_baseWidths[c] = qMax(w, title);
    }
    m_bUserSized = false;
    SpreadColumns();
}

// A DHCP client is its MAC and address: until the user sizes the columns, Client grows
// to show them whole (not a host name of any length).
// A text's width is measured once per client and font (measuring shapes the text, and
// a burst of rows comes from a few clients).
void CTransferListView::WidenClient(int first, int last) {
    if (m_bUserSized || m_baseWidths[0] == 0)
        return;
    const QFontMetrics fm(font());
    if (m_clientWidths.isEmpty() || font() != m_measuredFont || m_clientWidths.size() > 1024) {
        m_clientWidths.clear();
        m_measuredFont = font();
        m_nClientMargins = 4 * fm.horizontalAdvance(QLatin1Char(' ')) + 2 + 20;
        m_nClientMost = fm.horizontalAdvance(QStringLiteral("02:00:00:00:00:00 (192.168.100.100)")) +
                        m_nClientMargins;
        m_clientWidths.insert(QString(), m_nClientMargins);
    }
    const int most = m_nClientMost;
    int want = m_baseWidths[CTransferListModel::ColClient];
    for (int r = first; r <= last && want < most; ++r) {
        const QString& client = m_pModel->Row(r).m_texts.client;
        auto width = m_clientWidths.constFind(client);
        if (width == m_clientWidths.constEnd())
            width = m_clientWidths.insert(client, fm.horizontalAdvance(client) + m_nClientMargins);
        want = qMax(want, qMin(most, *width));
    }
    if (want == m_baseWidths[CTransferListModel::ColClient])
        return;
    m_baseWidths[CTransferListModel::ColClient] = want;
    SpreadColumns();
}

QStringList CTransferListView::HiddenColumns() const {
    QStringList hidden;
    for (QAction* a : m_pColumns->actions())
        if (!a->isChecked())
            hidden << a->text();
    return hidden;
}

void CTransferListView::SetHiddenColumns(const QStringList& titles) {
    bool any = false;
    for (QAction* a : m_pColumns->actions()) {
        a->setChecked(!titles.contains(a->text()));
        any = any || a->isChecked();
    }
    if (!any) // never all of them
        m_pColumns->actions().first()->setChecked(true);
}

QStringList CTransferListView::DefaultHiddenColumns() {
    QStringList titles;
    for (int c = CTransferListModel::kBaseColumns; c < CTransferListModel::ColumnCount; ++c)
        titles << QLatin1String(CTransferListModel::kColumns[c].title);
    return titles;
}

QString CTransferListView::SortColumnTitle() const {
    const int c = header()->sortIndicatorSection();
    return c >= 0 && c < CTransferListModel::ColumnCount
               ? QString::fromLatin1(CTransferListModel::kColumns[c].title)
               : QString();
}

void CTransferListView::SetSort(const QString& columnTitle, Qt::SortOrder order) {
    int column = -1;
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        if (columnTitle == QLatin1String(CTransferListModel::kColumns[c].title))
            column = c;
    sortByColumn(column, order);
}

void CTransferListView::UpdateSortMenu() {
    const int column = header()->sortIndicatorSection();
    for (QAction* a : m_pSort->actions()) {
        if (a->objectName() == QLatin1String("sortDescending")) {
            a->setChecked(header()->sortIndicatorOrder() == Qt::DescendingOrder);
            a->setEnabled(column >= 0 && column < CTransferListModel::ColumnCount);
        } else if (!a->isSeparator()) {
            a->setChecked(a->data().toInt() ==
                          (column < CTransferListModel::ColumnCount ? column : -1));
        }
    }
}

void CTransferListView::SpreadColumns() {
    if (m_bUserSized || m_baseWidths[0] == 0)
        return;
    int sum = 0;
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        sum += isColumnHidden(c) ? 0 : m_baseWidths[c];
    const int extra = qMax(0, viewport()->width() - sum);
    m_bFitting = true;
    for (int c = 0; c < CTransferListModel::ColumnCount; ++c)
        if (c != CTransferListModel::ColInfo)
            header()->resizeSection(c, m_baseWidths[c] +
                                           (c == CTransferListModel::ColFile ? extra / 3 : 0));
    header()->resizeSection(CTransferListModel::ColInfo,
                            m_baseWidths[CTransferListModel::ColInfo] + extra - extra / 3);
    m_bFitting = false;
}

bool CTransferListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == header()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            m_bHeaderPressed = true;
        else if (event->type() == QEvent::MouseButtonRelease)
            m_bHeaderPressed = false;
    }
    return QTreeView::eventFilter(watched, event);
}

void CTransferListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    SpreadColumns();
    m_pEmptyLabel->setGeometry(viewport()->rect());
}

QAction* CTransferListView::Separator(QObject* parent) {
    auto* separator = new QAction(parent);
    separator->setSeparator(true);
    return separator;
}

void CTransferListView::PrepareContextMenu(const QModelIndex& at) {
    const int row = ModelRow(at);
    m_nContextRow = row >= 0 ? m_pModel->HandleOf(row) : 0;
    m_pAbortRow->setEnabled(row >= 0 && m_pModel->Row(row).m_nState == ROW_ACTIVE);
    m_pOpenFolder->setEnabled(row >= 0);
    bool ended = false;
    for (int r = 0; r < m_pModel->rowCount() && !ended; ++r)
        ended = m_pModel->Row(r).m_nState != ROW_ACTIVE;
    m_pClearFinished->setEnabled(ended);
}

// The menu itself is Qt's menu of the list's actions; it only needs its row first.
bool CTransferListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        const auto* menu = static_cast<QContextMenuEvent*>(event);
        const QModelIndex at = indexAt(menu->pos());
        // A click on a row outside the selection acts on that row, as in a file manager.
        if (at.isValid() && !selectionModel()->isRowSelected(at.row(), QModelIndex()))
            setCurrentIndex(at);
        PrepareContextMenu(at);
    }
    return QTreeView::viewportEvent(event);
}

bool CTransferListView::event(QEvent* event) {
    if (event->type() == QEvent::ContextMenu)
        PrepareContextMenu(currentIndex());
    return QTreeView::event(event);
}

void CTransferListView::RefreshPace() {
    const QList<RowHandle> rows = m_pace.keys();
    qint64 total = 0, most = -1;
    RowHandle busiest = 0;
    for (RowHandle handle : rows) {
        const qint64 perSecond = UpdateProgressInfo(handle);
        if (perSecond < 0)
            continue;
        total += perSecond;
        if (perSecond > most) {
            most = perSecond;
            busiest = handle;
        }
    }
    m_nThroughput = total;
    m_nBusiest = busiest;
    if (m_pace.isEmpty())
        m_paceTimer.stop();
}

void CTransferListView::CopySelection() {
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows << ModelRow(index);
    std::sort(rows.begin(), rows.end());
    if (!rows.isEmpty())
        QApplication::clipboard()->setText(m_pModel->RowsAsText(rows));
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
    // The rows only: the header does not change with them, and the scroll bars change
    // once a drain of new rows at most.
    viewport()->setUpdatesEnabled(false);
    m_repaintTimer.start(int(kProgressFlushMs - since));
}

void CTransferListView::ResumeRepaints() {
    m_sinceRepaint.restart();
    viewport()->setUpdatesEnabled(true); // repaints the rows once
}

CTransferListView::~CTransferListView() = default;

void CTransferListView::SetProgress(RowHandle handle, qint64 bytesSent, qint64 fileSize) {
    const double fraction =
        fileSize > 0 ? qBound(0.0, double(quint64(bytesSent)) / double(fileSize), 1.0) : -1.0;
    if (m_pModel->SetProgressQuietly(handle, fraction, fileSize) < 0)
        return;
    Pace& pace = m_pace[handle];
    if (pace.startMs == 0) {
        pace.startMs = pace.shownMs = m_clock.elapsed() + 1;
        pace.shownBytes = bytesSent;
        if (!m_paceTimer.isActive())
            m_paceTimer.start();
    }
    pace.bytes = bytesSent;
    pace.size = fileSize;
    const int width =
        fraction < 0 ? -1
                     : CRowDelegate::BarWidth(fraction, columnWidth(CTransferListModel::ColSize));
    // An upload of untold size (-1) has no bar to tell when to look again: its count must.
    if (fileSize >= 0 && m_paintedBars.value(handle, -1) == width) {
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
        viewport()->update(visualRect(
            m_pFilter->mapFromSource(m_pModel->index(row, CTransferListModel::ColSize))));
        ++m_nProgressRepaints;
    }
    m_dirtyBars.clear();
}

// Once a second per running row (m_paceTimer): percentage, the speed over the last
// second and, at that speed, the time left.
qint64 CTransferListView::UpdateProgressInfo(RowHandle handle) {
    auto it = m_pace.find(handle);
    if (it == m_pace.end())
        return -1;
    Pace& pace = *it;
    const qint64 now = m_clock.elapsed() + 1;
    if (now - pace.shownMs < 500) // the timer's first tick after a row began
        return -1;
    const int row = m_pModel->RowOf(handle);
    if (row < 0 || m_pModel->Row(row).m_nState != ROW_ACTIVE) {
        m_pace.erase(it);
        return -1;
    }
    const double perSecond = std::max(
        0.0, double(pace.bytes - pace.shownBytes) * 1000.0 / double(now - pace.shownMs));
    pace.shownMs = now;
    pace.shownBytes = pace.bytes;
    const QLocale c = QLocale::c();
    const QString speed = c.formattedDataSize(qint64(perSecond), 1, QLocale::DataSizeIecFormat);
    const bool receiving = m_pModel->Row(row).m_texts.service == QLatin1String("Receive");
    QString text;
    if (pace.size > 0) {
        text = QStringLiteral("%1... %2 % at %3/s")
                   .arg(receiving ? QStringLiteral("Receiving") : QStringLiteral("Sending"))
                   .arg(int(pace.bytes * 100 / pace.size))
                   .arg(speed);
        const qint64 left = pace.size - pace.bytes;
        if (perSecond >= 1.0 && left > 0) {
            const qint64 s = qint64(double(left) / perSecond + 0.5);
            text += s >= 3600 ? QStringLiteral(", %1:%2:%3 left")
                                    .arg(s / 3600)
                                    .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                    .arg(s % 60, 2, 10, QLatin1Char('0'))
                              : QStringLiteral(", %1:%2 left")
                                    .arg(s / 60)
                                    .arg(s % 60, 2, 10, QLatin1Char('0'));
        }
    } else // an upload of a size the client did not tell
        text = QStringLiteral("Receiving... %1 at %2/s")
                   .arg(c.formattedDataSize(pace.bytes, 1, QLocale::DataSizeIecFormat), speed);
    // A stalled window says what it waits for beside its figures.
    const QString& told = m_pModel->Row(row).m_texts.info;
    if (told.startsWith(QLatin1String("waiting for the client")))
        text += QStringLiteral(", ") + told;
    m_pModel->AddSpeedSample(handle, qint64(perSecond));
    m_pModel->SetProgressInfo(handle, text);
    return qint64(perSecond);
}

void CTransferListView::ClearRows() {
    m_dirtyBars.clear();
    m_pace.clear();
    m_nThroughput = 0;
    m_nBusiest = 0;
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
