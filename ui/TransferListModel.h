#pragma once

#include "engine/server/ServerWindow.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The record behind one row: its key, the label (the client's address), the state
// that picks the text colour, the five texts and the send progress.
struct CRowData {
    RowHandle m_key = 0; // the engine's
    QString m_strLabel;
    qint8 m_nState = ROW_ACTIVE;
    RowTexts m_texts;
    double m_fProgress = -1.0; // fraction of the file sent; below 0: no bar
    qint64 m_nTotal = -1;      // the file's size as progress tells it; -1 when untold
    QString m_strProgressInfo; // shown in Information while the row runs, when set
    QString m_strShownSize;    // the Size cell as drawn, made when its figure changes
    qint64 m_nStartedMs = 0;   // when the row came, ms since the epoch: made local
                               // (a time zone look-up) only when shown
    QDateTime Started() const { return QDateTime::fromMSecsSinceEpoch(m_nStartedMs); }
    qint64 m_nStartMs = 0;     // and on the model's clock
    qint64 m_nTookMs = -1;     // how long until it ended; below 0 while it runs
    // Its speed over time, once a second while it runs, as the Information text's speed
    // is made: milliseconds since it started, bytes per second.
    struct SpeedSample {
        qint64 ms;
        qint64 perSecond;
    };
    QList<SpeedSample> m_samples;
    // What the engine told of it for the details pane (at its start and its end);
    // shared, as most rows never have it opened.
    std::shared_ptr<const RowDetails> m_details;
};

// The rows of the transfer list, under the engine's keys. Keys only grow, so the rows
// stay in key order and a row is found from its key by a binary search, whatever rows
// were removed; a key whose row was cleared finds nothing.
class CTransferListModel : public QAbstractTableModel {
public:
    // The first five are the list's own; the rest are there to show when wanted.
    enum Column {
        ColClient,
        ColFile,
        ColSize,
        ColService,
        ColInfo,
        ColStarted,
        ColDuration,
        ColSpeed,
        ColOptions,
        ColumnCount
    };
    static constexpr int kBaseColumns = ColInfo + 1;
    enum Role { StateRole = Qt::UserRole + 1, ProgressRole };

    struct ColumnSpec {
        const char* title;
        int width;
        Qt::Alignment headerAlignment; // how the column was created
        Qt::Alignment textAlignment;   // how its texts are drawn
    };
    static const ColumnSpec kColumns[ColumnCount];

    static const QColor kBackground;  // 198, 244, 212
    static const QColor kProgressBar; // 246, 128, 211
    static const QColor kGridLine;    // 128, 128, 128
    static const QColor kSelection;   // a darker green under selected rows
    static QColor StateColour(int state);
    // The state in words, for the screen reader and the filter: the colour alone tells
    // nothing to someone who cannot see it.
    static QString StateWord(int state);

    explicit CTransferListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // A new row under the engine's key; false (nothing added) for a key already shown.
    bool AppendRow(RowHandle key, const RowTexts& texts);
    // Rows under new keys, those beyond the last row's in one insert; a row that ended
    // comes with its final texts and state and never counts as running. Whether each
    // was added (not for a key already shown).
    std::vector<bool> AppendRows(const std::vector<NewRow>& rows);
    // New texts and state; a change of texts ends the row's progress bar.
    // False for a handle that has no row.
    // *changed (when given) tells whether texts or state differ from before.
    bool UpdateRow(RowHandle handle, const RowTexts& texts, RowState state,
                   bool* changed = nullptr);
    // Stores the fraction without telling the views (the list view repaints the bar
    // itself, at its own pace). Returns the row, or -1 for a handle without one.
    int SetProgressQuietly(RowHandle handle, double fraction, qint64 total = -1);
    // What a running row shows in Information instead of its own text (percentage and
    // speed); repaints the cell. Ignored once the row's texts change.
    void SetProgressInfo(RowHandle handle, const QString& text);
    // The Size cell: "41.3 KiB" for a size text of 42304 bytes; below 1 KiB, or a text
    // without a count, the text as it is.
    static QString ShownSize(const RowTexts& texts);
    // Whether two texts show the same (an update that changes nothing is no change).
    static bool SameTexts(const RowTexts& a, const RowTexts& b);
    // The Client cell: the address, then the host name a DHCP client gave.
    static QString ClientText(const RowTexts& texts);
    // The selected rows as lines of tab-separated cells, and as CSV with a header line.
    QString RowsAsText(const QList<int>& rows) const;
    QString RowsAsCsv() const;
    // The rows in the order given, with the columns given (model numbers).
    QString RowsAsCsv(const QList<int>& rows, const QList<int>& columns) const;
    // "Started 03:12:05, took 1.2 s, 125.0 KiB/s average" for an ended row; else empty.
    QString Summary(int row) const;
    // The cell's text, the Client cell with its host name.
    QString CellText(int row, int column) const;
    // What a column sorts by when its text would sort wrongly (sizes, times, speeds):
    // a number; for the others, nothing.
    std::optional<qint64> SortKey(int row, int column) const;
    // The options a row's text tells as negotiated: "blksize 1468, windowsize 16".
    static QString OptionsText(const QString& info);
    // The options a row negotiated: as the engine told them (tsize too), else as its
    // text tells them.
    static QString NegotiatedText(const CRowData& row);
    // The engine's details of the row (RowDetails); ignored for a row that is gone.
    void SetDetails(RowHandle handle, const RowDetails& details);
    // "850 ms", "12.4 s", "2:05", "1:02:05".
    static QString DurationText(qint64 ms);
    // How long the row ran (until now while it runs); its average speed once ended,
    // the latest sample while it runs; -1 where unknown.
    qint64 DurationMs(int row) const;
    qint64 Speed(int row) const;
    // A sample of the row's speed (the view takes one a second while it runs). At most
    // kMaxSamples stay: past that every other one goes, so a long transfer keeps its
    // whole course at a coarser grain.
    static constexpr int kMaxSamples = 3600;
    void AddSpeedSample(RowHandle handle, qint64 perSecond);
    // Removes every row; the keys they had never find a row again.
    void Clear();
    // Clear Finished Rows: removes the rows that ended; running ones stay.
    void RemoveEndedRows();

    // Between these, changed rows are told to the views once, at the end, as one
    // dataChanged per run of adjacent rows rather than one per change. Nested calls
    // count; the outermost end tells.
    void BeginChanges() { ++m_nBatchDepth; }
    void EndChanges();
    // Sorted rows as runs of adjacent ones: {3, 4, 5, 9} gives {3, 5} and {9, 9}.
    static std::vector<std::pair<int, int>> AdjacentRuns(std::vector<int> rows);

    // The row shown under the key, or -1.
    int RowOf(RowHandle handle) const;
    RowHandle HandleOf(int row) const { return m_rows[size_t(row)].m_key; }
    const CRowData& Row(int row) const { return m_rows[size_t(row)]; }
    int ClearedRows() const { return m_nClearedRows; }
    int RunningRows() const { return m_nRunningRows; }

    // At most this many finished rows stay: a flood of refusals must not grow the list
    // without end. The oldest finished rows leave first, running ones never.
    void SetMaxFinishedRows(int n);
    // How many finished rows left the list that way.
    qint64 DroppedRows() const { return m_nDroppedRows; }

private:
    void DropOldestFinished();
    CRowData MadeRow(RowHandle key, const RowTexts& texts) const;
    void RowChanged(int row);
    QString SizeCell(const CRowData& row) const;

    std::vector<CRowData> m_rows; // in key order
    int m_nClearedRows = 0;
    int m_nRunningRows = 0;
    int m_nMaxFinished = 10000;
    qint64 m_nDroppedRows = 0;
    int m_nBatchDepth = 0;
    std::vector<RowHandle> m_changedKeys; // rows changed in the batch, by key
    // The last size made into a Size cell and its text: a burst of the same file (a lab
    // booting, say) makes the text once, not once a row.
    mutable qint64 m_nShownBytes = -1;
    mutable QString m_strShownBytes;
    QElapsedTimer m_clock;
};
