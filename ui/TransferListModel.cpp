#include "TransferListModel.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>

const CTransferListModel::ColumnSpec CTransferListModel::kColumns[ColumnCount] = {
    // The Client column is created centred, but its label is drawn left-aligned.
    {"Client", 110, Qt::AlignHCenter, Qt::AlignLeft},
    {"File", 117, Qt::AlignLeft, Qt::AlignLeft},
    {"Size", 100, Qt::AlignRight, Qt::AlignRight},
    {"Service", 65, Qt::AlignHCenter, Qt::AlignHCenter},
    {"Information", 295, Qt::AlignLeft, Qt::AlignLeft},
    {"Started", 70, Qt::AlignHCenter, Qt::AlignHCenter},
    {"Duration", 70, Qt::AlignRight, Qt::AlignRight},
    {"Speed", 80, Qt::AlignRight, Qt::AlignRight},
    {"Options", 160, Qt::AlignLeft, Qt::AlignLeft},
};

const QColor CTransferListModel::kBackground(198, 244, 212);
const QColor CTransferListModel::kProgressBar(246, 128, 211);
const QColor CTransferListModel::kGridLine(128, 128, 128);
const QColor CTransferListModel::kSelection(150, 210, 170);

QColor CTransferListModel::StateColour(int state) {
    switch (state) {
    case ROW_FAILED:
        return QColor(255, 0, 0);
    case ROW_RECEIVED:
        return QColor(160, 0, 255);
    case ROW_SENT:
        return QColor(0, 0, 255);
    case ROW_NOTED:
        return QColor(96, 96, 96);
    default:
        return QColor(0, 0, 0);
    }
}

QString CTransferListModel::StateWord(int state) {
    switch (state) {
    case ROW_FAILED:
        return QStringLiteral("Failed");
    case ROW_RECEIVED:
        return QStringLiteral("Received");
    case ROW_SENT:
        return QStringLiteral("Sent");
    default:
        return QStringLiteral("Running");
    }
}

namespace {
const char* const kColumnDescriptions[CTransferListModel::ColumnCount] = {
    "The client's address (for a boot offer its hardware address too)",
    "The file asked for",
    "The file's size, or how much has moved so far",
    "Send (a file leaves this machine), Receive (one arrives), DHCP, HTTP or Boot offer",
    "How the transfer goes, or how it ended",
    "When the request came",
    "How long it ran, or has been running",
    "Its average speed once ended; while it runs, over the last second",
    "The options negotiated: block size and window size",
};
} // namespace

CTransferListModel::CTransferListModel(QObject* parent) : QAbstractTableModel(parent) {
    m_clock.start();
}

static bool ended(const CRowData& row) {
    return row.m_nTookMs >= 0 && (row.m_nState == ROW_SENT || row.m_nState == ROW_RECEIVED);
}

QString CTransferListModel::Summary(int r) const {
    if (r < 0 || r >= rowCount() || !ended(m_rows[size_t(r)]))
        return {};
    const CRowData& row = m_rows[size_t(r)];
    const QLocale c = QLocale::c();
    QString text = QStringLiteral("Started %1, took %2 s")
                       .arg(row.Started().toString(QStringLiteral("HH:mm:ss")))
                       .arg(double(row.m_nTookMs) / 1000.0, 0, 'f', 1);
    const qint64 bytes = row.m_texts.bytes;
    if (bytes >= 0 && row.m_nTookMs > 0)
        text += QStringLiteral(", %1/s average")
                    .arg(c.formattedDataSize(bytes * 1000 / row.m_nTookMs, 1,
                                             QLocale::DataSizeIecFormat));
    return text;
}

QString CTransferListModel::ClientText(const RowTexts& texts) {
    return texts.host.isEmpty() ? texts.client : texts.client + QLatin1Char(' ') + texts.host;
}

int CTransferListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CTransferListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

static QString textOf(const CRowData& row, int column) {
    switch (column) {
    case CTransferListModel::ColClient:
        return row.m_texts.client;
    case CTransferListModel::ColFile:
        return row.m_texts.file;
    case CTransferListModel::ColSize:
        return row.m_texts.size;
    case CTransferListModel::ColService:
        return row.m_texts.service;
    case CTransferListModel::ColStarted:
        return row.Started().toString(QStringLiteral("HH:mm:ss"));
    case CTransferListModel::ColOptions:
        return CTransferListModel::NegotiatedText(row);
    default:
        return row.m_texts.info;
    }
}

QString CTransferListModel::CellText(int r, int column) const {
    const CRowData& row = m_rows[size_t(r)];
    switch (column) {
    case ColClient:
        return ClientText(row.m_texts);
    case ColDuration: {
        const qint64 ms = DurationMs(r);
        return ms >= 0 ? DurationText(ms) : QString();
    }
    case ColSpeed: {
        const qint64 speed = Speed(r);
        return speed >= 0 ? QLocale::c().formattedDataSize(speed, 1, QLocale::DataSizeIecFormat) +
                                QStringLiteral("/s")
                          : QString();
    }
    default:
        return textOf(row, column);
    }
}

std::optional<qint64> CTransferListModel::SortKey(int r, int column) const {
    const CRowData& row = m_rows[size_t(r)];
    switch (column) {
    case ColSize:
        return row.m_texts.bytes >= 0 ? row.m_texts.bytes : row.m_nTotal;
    case ColStarted:
        return row.m_nStartMs;
    case ColDuration:
        return DurationMs(r);
    case ColSpeed:
        return Speed(r);
    default:
        return std::nullopt;
    }
}

QString CTransferListModel::OptionsText(const QString& info) {
    static const QRegularExpression option(
        QStringLiteral("\\b(blksize|windowsize|tsize|timeout) (\\d+)\\b"));
    QStringList found;
    for (auto it = option.globalMatch(info); it.hasNext();)
        found << it.next().captured(0);
    return found.join(QStringLiteral(", "));
}

QString CTransferListModel::NegotiatedText(const CRowData& row) {
    return row.m_details ? row.m_details->optionsGiven : OptionsText(row.m_texts.info);
}

void CTransferListModel::SetDetails(RowHandle handle, const RowDetails& details) {
    const int r = RowOf(handle);
    if (r < 0)
        return;
    m_rows[size_t(r)].m_details = std::make_shared<const RowDetails>(details);
    RowChanged(r);
}

QString CTransferListModel::DurationText(qint64 ms) {
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms < 60000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1);
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

qint64 CTransferListModel::DurationMs(int r) const {
    const CRowData& row = m_rows[size_t(r)];
    if (row.m_nTookMs >= 0)
        return row.m_nTookMs;
    return row.m_nState == ROW_ACTIVE ? m_clock.elapsed() - row.m_nStartMs : -1;
}

qint64 CTransferListModel::Speed(int r) const {
    const CRowData& row = m_rows[size_t(r)];
    if (row.m_nState == ROW_ACTIVE)
        return row.m_samples.isEmpty() ? -1 : row.m_samples.last().perSecond;
    if (ended(row) && row.m_texts.bytes >= 0 && row.m_nTookMs > 0)
        return row.m_texts.bytes * 1000 / row.m_nTookMs;
    return -1;
}

void CTransferListModel::AddSpeedSample(RowHandle handle, qint64 perSecond) {
    const int r = RowOf(handle);
    if (r < 0)
        return;
    CRowData& row = m_rows[size_t(r)];
    if (row.m_samples.size() >= kMaxSamples) {
        QList<CRowData::SpeedSample> half;
        half.reserve(kMaxSamples / 2 + 1);
        for (qsizetype i = 1; i < row.m_samples.size(); i += 2)
            half << row.m_samples[i];
        row.m_samples = std::move(half);
    }
    row.m_samples.append({m_clock.elapsed() - row.m_nStartMs, perSecond});
}

QVariant CTransferListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CRowData& row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == ColSize)
            return row.m_strShownSize;
        if (index.column() == ColInfo && !row.m_strProgressInfo.isEmpty())
            return row.m_strProgressInfo;
        return CellText(index.row(), index.column());
    case Qt::ToolTipRole: {
        const QString text = CellText(index.row(), index.column());
        if (ended(row))
            return text + QLatin1Char('\n') + Summary(index.row());
        return text;
    }
    case Qt::ForegroundRole:
        return StateColour(row.m_nState);
    case Qt::BackgroundRole:
        return kBackground;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(kColumns[index.column()].textAlignment | Qt::AlignVCenter);
    case Qt::AccessibleDescriptionRole:
        return StateWord(row.m_nState);
    case StateRole:
        return int(row.m_nState);
    case ProgressRole:
        return index.column() == ColSize && row.m_fProgress >= 0 ? QVariant(row.m_fProgress)
                                                                 : QVariant();
    default:
        return {};
    }
}

QVariant CTransferListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].title);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[section].headerAlignment | Qt::AlignVCenter);
    if (role == Qt::AccessibleDescriptionRole || role == Qt::ToolTipRole)
        return QString::fromLatin1(kColumnDescriptions[section]);
    return {};
}

Qt::ItemFlags CTransferListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

// Made once when the texts or the told size change, not at every paint.
QString CTransferListModel::SizeCell(const CRowData& row) const {
    RowTexts known;
    const RowTexts* texts = &row.m_texts;
    // A running transfer's size shows over its bar before the engine's text comes.
    if (row.m_texts.size.isEmpty() && row.m_nState == ROW_ACTIVE && row.m_nTotal >= 0) {
        known.bytes = row.m_nTotal;
        known.size = QString::number(row.m_nTotal) + QStringLiteral(" Bytes");
        texts = &known;
    }
    // From 1 KiB on the text is the count's alone.
    if (texts->bytes < 1024)
        return ShownSize(*texts);
    if (texts->bytes != m_nShownBytes) {
        m_strShownBytes = ShownSize(*texts);
        m_nShownBytes = texts->bytes;
    }
    return m_strShownBytes;
}

static bool keyBelow(const CRowData& row, RowHandle key) { return row.m_key < key; }

std::vector<std::pair<int, int>> CTransferListModel::AdjacentRuns(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, int>> runs;
    for (int r : rows) {
        if (!runs.empty() && r <= runs.back().second + 1)
            runs.back().second = std::max(runs.back().second, r);
        else
            runs.emplace_back(r, r);
    }
    return runs;
}

void CTransferListModel::RowChanged(int r) {
    if (m_nBatchDepth > 0) {
        m_changedKeys.push_back(m_rows[size_t(r)].m_key);
        return;
    }
    emit dataChanged(index(r, 0), index(r, ColumnCount - 1));
}

// Keys, not rows, were kept: rows added or dropped during the batch moved the others.
void CTransferListModel::EndChanges() {
    if (m_nBatchDepth == 0 || --m_nBatchDepth > 0)
        return;
    std::vector<int> rows;
    rows.reserve(m_changedKeys.size());
    for (RowHandle key : m_changedKeys)
        if (const int r = RowOf(key); r >= 0)
            rows.push_back(r);
    m_changedKeys.clear();
    for (const auto& [first, last] : AdjacentRuns(std::move(rows)))
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

int CTransferListModel::RowOf(RowHandle handle) const {
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), handle, keyBelow);
    return at != m_rows.end() && at->m_key == handle ? int(at - m_rows.begin()) : -1;
}

bool CTransferListModel::AppendRow(RowHandle key, const RowTexts& texts) {
    // The engine's keys come in order: this is the end but for a key out of turn.
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), key, keyBelow);
    if (at != m_rows.end() && at->m_key == key)
        return false;
    const int n = int(at - m_rows.begin());
    beginInsertRows(QModelIndex(), n, n);
    m_rows.insert(m_rows.begin() + n, MadeRow(key, texts));
    endInsertRows();
    ++m_nRunningRows;
    DropOldestFinished();
    return true;
}

CRowData CTransferListModel::MadeRow(RowHandle key, const RowTexts& texts) const {
    CRowData row;
    row.m_key = key;
    row.m_strLabel = texts.client;
    row.m_texts = texts;
    row.m_strShownSize = SizeCell(row);
    row.m_nStartedMs = QDateTime::currentMSecsSinceEpoch();
    row.m_nStartMs = m_clock.elapsed();
    return row;
}

// A drain's new rows are one insert for the views (and the sort proxy above them), not
// one each: the keys come in order, so they all go at the end.
std::vector<bool> CTransferListModel::AppendRows(const std::vector<NewRow>& rows) {
    std::vector<bool> added(rows.size(), false);
    size_t run = 0;
    for (RowHandle last = m_rows.empty() ? 0 : m_rows.back().m_key;
         run < rows.size() && rows[run].row > last; ++run)
        last = rows[run].row;
    if (run > 0) {
        const int n = int(m_rows.size());
        beginInsertRows(QModelIndex(), n, n + int(run) - 1);
        for (size_t i = 0; i < run; ++i) {
            const NewRow& r = rows[i];
            if (r.state == ROW_ACTIVE) {
                m_rows.push_back(MadeRow(r.row, r.Running()));
                ++m_nRunningRows;
            } else {
                CRowData row = MadeRow(r.row, r.ended);
                row.m_nState = r.state;
                row.m_nTookMs = 0; // began and ended within one batch
                m_rows.push_back(std::move(row));
            }
            added[i] = true;
        }
        endInsertRows();
    }
    // Keys out of turn, one by one where they belong.
    for (size_t i = run; i < rows.size(); ++i) {
        added[i] = AppendRow(rows[i].row, rows[i].Running());
        if (added[i] && rows[i].state != ROW_ACTIVE)
            UpdateRow(rows[i].row, rows[i].ended, rows[i].state);
    }
    DropOldestFinished();
    return added;
}

void CTransferListModel::SetMaxFinishedRows(int n) {
    m_nMaxFinished = std::max(1, n);
    DropOldestFinished();
}

// In runs from the top, and a twentieth more than needed at a time: one removal per
// many new rows, not one per row.
void CTransferListModel::DropOldestFinished() {
    const qint64 finished = qint64(m_rows.size()) - m_nRunningRows;
    if (finished <= m_nMaxFinished)
        return;
    qint64 toDrop = finished - m_nMaxFinished + m_nMaxFinished / 20;
    for (int first = 0; toDrop > 0 && first < int(m_rows.size());) {
        if (m_rows[size_t(first)].m_nState == ROW_ACTIVE) {
            ++first;
            continue;
        }
        int end = first;
        while (end < int(m_rows.size()) && end - first < toDrop &&
               m_rows[size_t(end)].m_nState != ROW_ACTIVE)
            ++end;
        beginRemoveRows(QModelIndex(), first, end - 1);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + end);
        endRemoveRows();
        toDrop -= end - first;
        m_nDroppedRows += end - first;
    }
}

bool CTransferListModel::SameTexts(const RowTexts& a, const RowTexts& b) {
    return a.client == b.client && a.host == b.host && a.file == b.file && a.size == b.size && a.bytes == b.bytes &&
           a.service == b.service && a.info == b.info && a.device == b.device;
}

bool CTransferListModel::UpdateRow(RowHandle handle, const RowTexts& texts, RowState state,
                                   bool* changed) {
    if (changed)
        *changed = false;
    const int r = RowOf(handle);
    if (r < 0)
        return false;
    CRowData& row = m_rows[size_t(r)];
    const bool textsChanged = !SameTexts(row.m_texts, texts);
    if (!textsChanged && row.m_nState == state)
        return true;
    if (changed)
        *changed = true;
    row.m_texts = texts;
    row.m_strLabel = texts.client;
    if (row.m_nTookMs < 0 && state != ROW_ACTIVE)
        row.m_nTookMs = m_clock.elapsed() - row.m_nStartMs;
    m_nRunningRows += (state == ROW_ACTIVE) - (row.m_nState == ROW_ACTIVE);
    row.m_nState = state;
    if (textsChanged) {
        row.m_fProgress = -1.0;
        row.m_strProgressInfo.clear();
    }
    row.m_strShownSize = SizeCell(row);
    RowChanged(r);
    return true;
}

int CTransferListModel::SetProgressQuietly(RowHandle handle, double fraction, qint64 total) {
    const int r = RowOf(handle);
    if (r >= 0) {
        CRowData& row = m_rows[size_t(r)];
        row.m_fProgress = fraction;
        if (row.m_nTotal != total) {
            row.m_nTotal = total;
            row.m_strShownSize = SizeCell(row);
        }
    }
    return r;
}

void CTransferListModel::SetProgressInfo(RowHandle handle, const QString& text) {
    const int r = RowOf(handle);
    if (r < 0 || m_rows[size_t(r)].m_nState != ROW_ACTIVE)
        return;
    m_rows[size_t(r)].m_strProgressInfo = text;
    emit dataChanged(index(r, ColInfo), index(r, ColInfo), {Qt::DisplayRole});
}

QString CTransferListModel::ShownSize(const RowTexts& texts) {
    if (texts.bytes < 1024)
        return texts.size;
    return QLocale::c().formattedDataSize(texts.bytes, 1, QLocale::DataSizeIecFormat);
}

QString CTransferListModel::RowsAsText(const QList<int>& rows) const {
    QString out;
    for (int r : rows) {
        if (r < 0 || r >= rowCount())
            continue;
        QStringList cells;
        for (int c = 0; c < kBaseColumns; ++c)
            cells << CellText(r, c);
        const QString summary = Summary(r);
        if (!summary.isEmpty())
            cells << summary;
        out += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return out;
}

static QString csvField(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CTransferListModel::RowsAsCsv() const {
    QList<int> rows, columns;
    for (int r = 0; r < rowCount(); ++r)
        rows << r;
    for (int c = 0; c < kBaseColumns; ++c)
        columns << c;
    return RowsAsCsv(rows, columns);
}

QString CTransferListModel::RowsAsCsv(const QList<int>& rows, const QList<int>& columns) const {
    // The columns asked for, then the same five figures always, so that with every
    // column shown the file reads as it always did.
    QStringList titles;
    for (int c : columns)
        titles << QLatin1String(kColumns[c].title);
    QString out = titles.join(QLatin1Char(',')) +
                  QStringLiteral(",State,Bytes,Started,Seconds,BytesPerSecond\n");
    for (int r : rows) {
        if (r < 0 || r >= rowCount())
            continue;
        const CRowData& row = m_rows[size_t(r)];
        QStringList cells;
        for (int c : columns)
            cells << csvField(CellText(r, c));
        cells << RowStateName(RowState(row.m_nState));
        const qint64 bytes = row.m_texts.bytes;
        cells << (bytes >= 0 ? QString::number(bytes) : QString());
        cells << row.Started().toString(Qt::ISODate);
        const bool done = ended(row);
        cells << (done ? QString::number(double(row.m_nTookMs) / 1000.0, 'f', 3) : QString());
        cells << (done && bytes >= 0 && row.m_nTookMs > 0
                      ? QString::number(bytes * 1000 / row.m_nTookMs)
                      : QString());
        out += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return out;
}

void CTransferListModel::Clear() {
    const int n = int(m_rows.size());
    if (n > 0) {
        beginRemoveRows(QModelIndex(), 0, n - 1);
        m_rows.clear();
        endRemoveRows();
    }
    m_nClearedRows += n;
    m_nRunningRows = 0;
}

void CTransferListModel::RemoveEndedRows() {
    // From the end, a run of ended rows at a time.
    for (int last = int(m_rows.size()) - 1; last >= 0;) {
        if (m_rows[size_t(last)].m_nState == ROW_ACTIVE) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && m_rows[size_t(first - 1)].m_nState != ROW_ACTIVE)
            --first;
        beginRemoveRows(QModelIndex(), first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        endRemoveRows();
        m_nClearedRows += last - first + 1;
        last = first - 1;
    }
}
