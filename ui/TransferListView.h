#pragma once

#include "TransferListModel.h"
#include "engine/server/ServerWindow.h"

#include <QHash>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeView>

class QAction;

class CTransferListModel;
class CTransferFilter;
class CRowDelegate;
class QLabel;
class QMenu;

// The list of transfers in report style: five fixed columns, owner-drawn rows
// (CRowDelegate), grey grid lines between the columns, and the send progress bar,
// whose repaints are gathered so that a fast transfer costs a few dozen repaints
// a second rather than one per block.
class CTransferListView : public QTreeView {
public:
    static constexpr int kProgressFlushMs = 40;

    explicit CTransferListView(QWidget* parent = nullptr);
    ~CTransferListView() override;

    CTransferListModel& Model() const { return *m_pModel; }
    // What the list shows of the model (the filter field, Hide finished, missing files).
    CTransferFilter& Filter() const { return *m_pFilter; }
    // The model's row behind a row of the list, or -1.
    int ModelRow(const QModelIndex& shown) const;

    // The columns a user can hide and show (the header's context menu, View > Columns),
    // and the hidden ones by title, as the window remembers them.
    QMenu* ColumnsMenu() const { return m_pColumns; }
    QStringList HiddenColumns() const;
    void SetHiddenColumns(const QStringList& titles);
    // Started, Duration, Speed and Options until the user shows them.
    static QStringList DefaultHiddenColumns();

    // View > Sort By: a column and the order, or the order the rows came; the same
    // as a click on a column's title, for the keyboard. The window remembers the
    // column by its title.
    QMenu* SortMenu() const { return m_pSort; }
    QString SortColumnTitle() const;
    void SetSort(const QString& columnTitle, Qt::SortOrder order);

    // All running transfers' bytes per second at the last look (once a second), and
    // the one that moved most then (0: none).
    qint64 Throughput() const { return m_nThroughput; }
    RowHandle Busiest() const { return m_nBusiest; }

    // Shown in the list while the model has no row (rich text): what to do first.
    void SetEmptyText(const QString& text);
    QLabel* EmptyLabel() const { return m_pEmptyLabel; }

    // Column widths for a typical final row in this font. Until the user drags a column,
    // a wider list gives File a third of the room beyond them and Information the rest.
    void FitColumns();
    bool UserSizedColumns() const { return m_bUserSized; }
    void SetUserSizedColumns(bool user) { m_bUserSized = user; }

    // Stores the fraction and schedules a repaint of the bar when its pixel width
    // changed. A file of size 0 draws no bar; an unknown handle is ignored.
    void SetProgress(RowHandle handle, qint64 bytesSent, qint64 fileSize);
    // Removes all rows (and the bars waiting to be repainted).
    void ClearRows();

    // The selected rows, tab-separated, on the clipboard (Ctrl+C, context menu "Copy").
    void CopySelection();
    QAction* CopyAction() const { return m_pCopy; }
    // Ctrl+A (context menu "Select All"): every row.
    QAction* SelectAllAction() const { return m_pSelectAll; }
    // The row commands of the context menu; their owners connect them. The menu's
    // row is the one under the pointer (ContextRow(), 0 for none).
    QAction* AbortRowAction() const { return m_pAbortRow; }
    QAction* OpenFolderAction() const { return m_pOpenFolder; }
    QAction* ClearFinishedAction() const { return m_pClearFinished; }
    RowHandle ContextRow() const { return m_nContextRow; }
    // Makes the row at `at` the menu's row and enables what applies to it: Abort only
    // on a running row, Open Containing Folder on any row, Clear Finished Rows while
    // a row has ended.
    void PrepareContextMenu(const QModelIndex& at);

    // For tests: how many bar repaints were flushed so far.
    int ProgressRepaints() const { return m_nProgressRepaints; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override; // the header's presses
    bool viewportEvent(QEvent* event) override; // the pointer's context menu
    bool event(QEvent* event) override;         // the keyboard's

private:
    static QAction* Separator(QObject* parent);
    void FlushProgress();
    void ThrottleRepaints();
    void ResumeRepaints();
    // Returns the bytes per second it found, or -1 when it did not look.
    qint64 UpdateProgressInfo(RowHandle handle);
    void UpdateEmptyLabel();
    void SpreadColumns();
    void WidenClient(int first, int last);
    QHash<QString, int> m_clientWidths; // Client cells measured, with the margins
    QFont m_measuredFont;               // in this font
    int m_nClientMargins = 0;
    int m_nClientMost = 0;
    void OpenMenuFromKeyboard();

    CTransferListModel* m_pModel;
    CTransferFilter* m_pFilter;
    QLabel* m_pEmptyLabel = nullptr;
    QMenu* m_pColumns = nullptr;
    QString m_strEmpty;
    int m_baseWidths[CTransferListModel::ColumnCount] = {};
    QMenu* m_pSort = nullptr;
    void UpdateSortMenu();
    qint64 m_nThroughput = 0;
    RowHandle m_nBusiest = 0;
    bool m_bUserSized = false;
    bool m_bFitting = false;
    bool m_bHeaderPressed = false;
    CRowDelegate* m_pDelegate;
    QTimer m_progressTimer;
    // Row changes repaint the list at most every kProgressFlushMs: a burst of small
    // transfers must not cost a repaint each.
    QTimer m_repaintTimer;
    QElapsedTimer m_sinceRepaint;
    // Rows whose bar must be repainted, with the bar width last asked for.
    QHash<RowHandle, int> m_dirtyBars;
    QHash<RowHandle, int> m_paintedBars;
    int m_nProgressRepaints = 0;
    QAction* m_pCopy = nullptr;
    QAction* m_pSelectAll = nullptr;
    QAction* m_pAbortRow = nullptr;
    QAction* m_pOpenFolder = nullptr;
    QAction* m_pClearFinished = nullptr;
    RowHandle m_nContextRow = 0;
    // The view follows new rows while it shows the last one; a user who scrolled up
    // keeps the rows they look at.
    bool m_bFollow = true;
    bool m_bScrollPending = false;
    // Speed of a running send: where it stood when its text was last refreshed.
    struct Pace {
        qint64 startMs = 0;
        qint64 shownMs = 0;
        qint64 shownBytes = 0;
        qint64 bytes = 0;
        qint64 size = 0;
    };
    QHash<RowHandle, Pace> m_pace;
    QElapsedTimer m_clock;
    // Refreshes the running rows' texts once a second from their latest byte counts,
    // whether or not their bars grew: a slow transfer's text must not stand still.
    QTimer m_paceTimer;
    void RefreshPace();
};
