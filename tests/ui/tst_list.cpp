// The transfer list without the engine: model, row lookup by handle, the delegate's
// pixels, grid lines and the coalesced progress bar.
#include "RowDelegate.h"
#include "TransferDetails.h"
#include "TransferFilter.h"
#include "TransferLog.h"
#include "TransferListModel.h"
#include "TransferListView.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QTextBrowser>
#include <QtTest>
#include <functional>

using Runs = QList<QPair<int, int>>;

namespace {
RowTexts texts(const QString& client, const QString& info, const QString& size = "1000",
               qint64 bytes = -1) {
    RowTexts t{client, QStringLiteral("file.bin"), size, QStringLiteral("Send"), info};
    t.bytes = bytes;
    return t;
}

// A row as the engine adds one: under the next key, keys never used twice.
RowHandle add(CTransferListModel& model, const RowTexts& t) {
    static RowHandle lastKey = 0;
    model.AppendRow(++lastKey, t);
    return lastKey;
}

bool near(QColor a, QColor b, int tolerance = 60) {
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) <=
           tolerance;
}

// How many pixels of the rectangle are close to the colour.
int countColour(const QImage& image, const QRect& rect, QColor colour, int tolerance = 60) {
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (near(image.pixelColor(x, y), colour, tolerance))
                ++n;
    return n;
}
} // namespace

class TestList : public QObject {
    Q_OBJECT
private slots:
    void modelFindsRowsByHandleAcrossClear();
    void finishedRowsAreBounded();
    void batchOfRowsIsOneInsert();
    void batchTellsChangedRowsAsRuns_data();
    void batchTellsChangedRowsAsRuns();
    void modelKeepsOrDropsTheBar();
    void rowsPaintedInTheirStateColours();
    void progressBarExtentAndCoalescing();
    void slowTransferTextMovesEverySecond();
    void gridLinesFollowColumnsAndScrolling();
    void copySelectedRows();
    void endedRowsTellStartDurationAndSpeed();
    void followsNewRowsUntilScrolledUp();
    void headerReadableUnderDarkStyle();
    void transferLogKeepsOneOlderFile();
    void transferLogLineBytes_data();
    void transferLogLineBytes();
    void sizeCellsFollowEachRowsCount();
    void dhcpRowShowsMacAddressAndHostName();
    void quickFiltersPickRows_data();
    void quickFiltersPickRows();
    void extraColumnsReadFromRows_data();
    void extraColumnsReadFromRows();
    void extraColumnsSortByFigures();
    void speedSamplesKeepTheWholeCourse();
    void detailsOfFinishedFailedAndDhcpRows_data();
    void detailsOfFinishedFailedAndDhcpRows();

private:
    QImage render(CTransferListView& view) {
        QCoreApplication::processEvents();
        return view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

// The changes of one drain reach the views at its end, one dataChanged per run of
// adjacent rows, at the rows where they are by then (rows dropped in the batch move
// the others up); a row changed twice, or told the texts it has, adds nothing.
void TestList::batchTellsChangedRowsAsRuns_data() {
    QTest::addColumn<QList<int>>("changed"); // rows given new texts, in this order
    QTest::addColumn<QList<int>>("same");    // rows given the texts they have
    QTest::addColumn<bool>("dropTwo");       // then a new row drops the two oldest finished
    QTest::addColumn<Runs>("runs");
    QTest::newRow("one row") << QList<int>{6} << QList<int>{} << false << Runs{{6, 6}};
    QTest::newRow("adjacent, out of order, repeated")
        << QList<int>{7, 5, 6, 6} << QList<int>{} << false << Runs{{5, 7}};
    QTest::newRow("gaps") << QList<int>{9, 5, 7} << QList<int>{} << false
                          << Runs{{5, 5}, {7, 7}, {9, 9}};
    QTest::newRow("unchanged texts tell nothing")
        << QList<int>{} << QList<int>{2, 3} << false << Runs{};
    QTest::newRow("rows dropped during the batch")
        << QList<int>{7, 8} << QList<int>{} << true << Runs{{5, 6}};
}

void TestList::batchTellsChangedRowsAsRuns() {
    QFETCH(QList<int>, changed);
    QFETCH(QList<int>, same);
    QFETCH(bool, dropTwo);
    QFETCH(Runs, runs);
    CTransferListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QList<RowHandle> keys;
    for (int i = 0; i < 10; ++i)
        keys << add(model, texts(QStringLiteral("10.0.0.%1").arg(i), QStringLiteral("Sending")));
    for (int i = 0; i < 5; ++i) // five finished at the top
        model.UpdateRow(keys[i], texts(QStringLiteral("10.0.0.%1").arg(i), "Transfer Complete"),
                        ROW_SENT);
    model.SetMaxFinishedRows(dropTwo ? 5 : 100);
    Runs told;
    connect(&model, &QAbstractItemModel::dataChanged, this,
            [&](const QModelIndex& from, const QModelIndex& to) {
                QCOMPARE(from.column(), 0);
                QCOMPARE(to.column(), CTransferListModel::ColumnCount - 1);
                told.append({from.row(), to.row()});
            });
    model.BeginChanges();
    for (int r : changed)
        model.UpdateRow(keys[r], texts(QStringLiteral("10.0.0.%1").arg(r), "Transfer Complete"),
                        ROW_SENT);
    for (int r : same)
        model.UpdateRow(keys[r], model.Row(r).m_texts, RowState(model.Row(r).m_nState));
    if (dropTwo)
        add(model, texts("10.0.0.99", "Sending"));
    QVERIFY(told.isEmpty());
    model.EndChanges();
    QCOMPARE(told, runs);
}

// A flood of refused requests: the list keeps a set number of finished rows, dropping
// the oldest finished first; running rows stay whatever their age.
void TestList::finishedRowsAreBounded() {
    CTransferListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetMaxFinishedRows(100);
    const RowHandle running = add(model, texts("10.0.0.1", "Total file size is 1000 Bytes"));
    const RowHandle ended = add(model, texts("10.0.0.1", "x"));
    model.UpdateRow(ended, texts("10.0.0.1", "Transfer Complete"), ROW_SENT);
    for (int i = 0; i < 1000; ++i) {
        const RowHandle h = add(model, texts("10.0.0.9", "refused"));
        model.UpdateRow(h, texts("10.0.0.9", "Unauthorized Clinet!! Deny This Request!!"),
                        ROW_FAILED);
        QVERIFY(model.rowCount() <= 1 + 100 + 1);
    }
    QCOMPARE(model.RowOf(running), 0); // the oldest row, still running
    QCOMPARE(model.RowOf(ended), -1);  // the oldest finished, gone first
    QCOMPARE(model.DroppedRows(), qint64(1001 - (model.rowCount() - 1)));
    QCOMPARE(model.Row(model.rowCount() - 1).m_texts.client, QStringLiteral("10.0.0.9"));
    model.UpdateRow(running, texts("10.0.0.1", "Transfer Complete"), ROW_SENT);
    add(model, texts("10.0.0.9", "running"));
    QVERIFY(model.rowCount() <= 100 + 1);
}

// A drain's rows go in as one insert; those that ended within it come in ended and are
// never counted as running; a key already shown or out of turn is handled on its own.
void TestList::batchOfRowsIsOneInsert() {
    CTransferListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const RowHandle first = add(model, texts("10.0.0.1", "running"));
    const RowHandle before = add(model, texts("10.0.0.1", "running"));
    model.UpdateRow(before, texts("10.0.0.1", "Transfer Complete"), ROW_SENT);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    const RowHandle k = first + 100;
    const std::vector<NewRow> rows{
        {k, texts("10.0.0.2", "a"), ROW_ACTIVE, {}},
        {k + 1, texts("10.0.0.2", "b"), ROW_SENT, texts("10.0.0.2", "Transfer Complete")},
        {k + 2, texts("10.0.0.2", "c"), ROW_FAILED, texts("10.0.0.2", "File Not Found")},
        {k + 3, texts("10.0.0.2", "d"), ROW_ACTIVE, {}},
        {first, texts("10.0.0.2", "twice"), ROW_ACTIVE, {}},         // shown already
        {first + 50, texts("10.0.0.2", "late"), ROW_SENT, texts("10.0.0.2", "ok")}, // out of turn
    };
    const std::vector<bool> added = model.AppendRows(rows);
    QCOMPARE(added, (std::vector<bool>{true, true, true, true, false, true}));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted[0].at(1).toInt(), 2);
    QCOMPARE(inserted[0].at(2).toInt(), 5);
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(model.RunningRows(), 3); // first, k, k + 3
    const CRowData& ended = model.Row(model.RowOf(k + 2));
    QCOMPARE(int(ended.m_nState), int(ROW_FAILED));
    QCOMPARE(ended.m_texts.info, QStringLiteral("File Not Found"));
    QCOMPARE(ended.m_nTookMs, qint64(0));
    QCOMPARE(model.RowOf(first + 50), 2); // between the older rows and the batch
    QCOMPARE(int(model.Row(2).m_nState), int(ROW_SENT));
    model.UpdateRow(k, texts("10.0.0.2", "Transfer Complete"), ROW_SENT);
    QCOMPARE(model.RunningRows(), 2);
}

void TestList::modelFindsRowsByHandleAcrossClear() {
    CTransferListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.columnCount(), int(CTransferListModel::ColumnCount)); // five shown, four on demand
    const char* titles[] = {"Client", "File", "Size", "Service", "Information"};
    const int widths[] = {110, 117, 100, 65, 295};
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(model.headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(titles[c]));
        QCOMPARE(CTransferListModel::kColumns[c].width, widths[c]);
    }
    // Client's column is centred, its label drawn left; Size right, Service centred.
    QVERIFY(CTransferListModel::kColumns[0].headerAlignment & Qt::AlignHCenter);
    QVERIFY(CTransferListModel::kColumns[0].textAlignment & Qt::AlignLeft);
    QVERIFY(CTransferListModel::kColumns[2].textAlignment & Qt::AlignRight);
    QVERIFY(CTransferListModel::kColumns[3].textAlignment & Qt::AlignHCenter);
    QVERIFY(CTransferListModel::kColumns[4].textAlignment & Qt::AlignLeft);

    // Rows under the keys the engine gave them; a refused request used key 2.
    const RowHandle a = 1, b = 3, c = 4;
    for (RowHandle key : {a, b, c})
        QVERIFY(model.AppendRow(key, texts("10.0.0.1", "x")));
    QVERIFY(!model.AppendRow(b, texts("10.0.0.2", "twice"))); // a key is one row
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.RowOf(a), 0);
    QCOMPARE(model.RowOf(2), -1);
    QCOMPARE(model.RowOf(c), 2);
    QVERIFY(model.UpdateRow(b, texts("10.0.0.2", "Receive Complete"), ROW_RECEIVED));
    QCOMPARE(model.index(1, 4).data().toString(), QStringLiteral("Receive Complete"));
    QCOMPARE(model.index(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(160, 0, 255));

    model.Clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.ClearedRows(), 3);
    // Rows cleared away stay unreachable: a late update of an old transfer changes nothing.
    QVERIFY(!model.UpdateRow(c, texts("x", "late"), ROW_FAILED));
    QCOMPARE(model.SetProgressQuietly(a, 0.5), -1);

    // The next transfer is shown in row 0, and its updates reach row 0.
    const RowHandle d = 5;
    QVERIFY(model.AppendRow(d, texts("10.0.0.4", "d")));
    QCOMPARE(model.RowOf(d), 0);
    QVERIFY(model.UpdateRow(d, texts("10.0.0.4", "User aborts!!"), ROW_FAILED));
    QCOMPARE(model.index(0, 4).data().toString(), QStringLiteral("User aborts!!"));
    QCOMPARE(model.index(0, 0).data(CTransferListModel::StateRole).toInt(), int(ROW_FAILED));
    QCOMPARE(model.RowOf(d + 1), -1);

    model.Clear(); // an empty Clear moves nothing
    model.Clear();
    QCOMPARE(model.ClearedRows(), 4);
    QVERIFY(model.AppendRow(d + 1, texts("e", "e")));
    QCOMPARE(model.RowOf(d + 1), 0);
}

void TestList::modelKeepsOrDropsTheBar() {
    CTransferListModel model;
    const RowHandle h = add(model, texts("10.0.0.1", "Total file size is 1000 Bytes"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QCOMPARE(model.SetProgressQuietly(h, 0.25), 0);
    QCOMPARE(changed.count(), 0); // the view repaints the bar itself
    QCOMPARE(model.index(0, 2).data(CTransferListModel::ProgressRole).toDouble(), 0.25);
    QVERIFY(!model.index(0, 1).data(CTransferListModel::ProgressRole).isValid());

    // The same texts again: nothing changes, the bar stays.
    QVERIFY(model.UpdateRow(h, texts("10.0.0.1", "Total file size is 1000 Bytes"), ROW_ACTIVE));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model.Row(0).m_fProgress, 0.25);
    // New texts: the row repaints and the bar belongs to it no more.
    QVERIFY(model.UpdateRow(h, texts("10.0.0.1", "Transfer Complete"), ROW_SENT));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!model.index(0, 2).data(CTransferListModel::ProgressRole).isValid());
}

void TestList::rowsPaintedInTheirStateColours() {
    CTransferListView view;
    view.resize(720, 300);
    view.show();
    auto& model = view.Model();
    add(model, texts("10.0.0.1", "Total file size is 1000 Bytes"));
    const RowState states[] = {ROW_FAILED, ROW_RECEIVED, ROW_SENT};
    for (RowState s : states) {
        const RowHandle h = add(model, texts("10.0.0.9", "x"));
        model.UpdateRow(h, texts("10.0.0.9", "Outcome of this transfer"), s);
    }
    // An unknown state draws black.
    const QColor expected[] = {QColor(0, 0, 0), QColor(255, 0, 0), QColor(160, 0, 255),
                               QColor(0, 0, 255)};

    const QImage image = render(view);
    const QColor pale(198, 244, 212);
    for (int r = 0; r < 4; ++r) {
        const QRect row = view.visualRect(view.model()->index(r, 4)); // Information cell
        QVERIFY(row.height() >= 16);
        // Mostly pale green, with text in the state's colour and in no other state's.
        QVERIFY(countColour(image, row, pale, 10) > row.width() * row.height() / 2);
        QVERIFY2(countColour(image, row, expected[r], 40) > 5, qPrintable(QString::number(r)));
        for (int other = 1; other < 4; ++other)
            if (other != r)
                QCOMPARE(countColour(image, row, expected[other], 40), 0);
    }

    // The row picture sits at the left of column 0, the label after it.
    const QRect client = view.visualRect(view.model()->index(0, 0));
    const QImage picture(QStringLiteral(":/window/row.png"));
    QVERIFY(!picture.isNull());
    QVERIFY(countColour(image, QRect(client.left(), client.top(), 16, client.height()),
                        QColor(0x2a, 0x5d, 0xa8), 20) > 10);

    // Size right-aligned, File left-aligned: where the ink is in each cell.
    auto inkExtent = [&](const QRect& cell) {
        int first = -1, last = -1;
        for (int x = cell.left(); x < cell.right() - 1; ++x)
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                if (near(image.pixelColor(x, y), QColor(0, 0, 0), 120)) {
                    if (first < 0)
                        first = x;
                    last = x;
                    break;
                }
        return qMakePair(first - cell.left(), cell.right() - last);
    };
    const auto file = inkExtent(view.visualRect(view.model()->index(0, 1)));
    const auto size = inkExtent(view.visualRect(view.model()->index(0, 2)));
    QVERIFY2(file.first < file.second, "File text should start at the left");
    QVERIFY2(size.first > size.second, "Size text should end at the right");

    // A text wider than its column ends in an ellipsis rather than running over.
    model.UpdateRow(model.HandleOf(0),
                    texts("10.0.0.1", "Total file size is 1000 Bytes", "123456789012345678901234"),
                    ROW_ACTIVE);
    const QImage elided = render(view);
    const QRect sizeCell = view.visualRect(view.model()->index(0, 2));
    const QRect serviceCell = view.visualRect(view.model()->index(0, 3));
    QVERIFY(countColour(elided, sizeCell, QColor(0, 0, 0), 120) > 5);
    // Service keeps only its own centred word: nothing spilled into its left part.
    QCOMPARE(countColour(elided,
                         QRect(serviceCell.left() + 1, serviceCell.top(), 4, serviceCell.height()),
                         QColor(0, 0, 0), 120),
             0);

    // A selected row is shown on a fixed darker green, its text still in its colour.
    view.selectionModel()->select(view.model()->index(1, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QImage selected = render(view);
    const QRect info = view.visualRect(view.model()->index(1, 4));
    QVERIFY(countColour(selected, info, CTransferListModel::kSelection, 10) >
            info.width() * info.height() / 2);
    QVERIFY(countColour(selected, info, QColor(255, 0, 0), 40) > 5);
    QCOMPARE(countColour(selected, view.visualRect(view.model()->index(0, 4)),
                         CTransferListModel::kSelection, 10),
             0);
}

void TestList::copySelectedRows() {
    CTransferListView view;
    view.show();
    QVERIFY(QTest::qWaitForWindowActive(&view));
    auto& model = view.Model();
    for (const char* client : {"10.0.0.1", "10.0.0.2", "10.0.0.3"})
        add(model, texts(QString::fromLatin1(client), "Transfer Complete", "42304 Bytes", 42304));
    // Rows 0 and 2, with Ctrl held for the second: both copied, in list order.
    view.setFocus();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      view.visualRect(view.model()->index(2, 1)).center());
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view.visualRect(view.model()->index(0, 1)).center());
    QApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("10.0.0.1\tfile.bin\t42304 Bytes\tSend\tTransfer Complete\n"
                            "10.0.0.3\tfile.bin\t42304 Bytes\tSend\tTransfer Complete\n"));
    QCOMPARE(model.rowCount(), 3); // nothing cleared
    // The context menu offers the same.
    QVERIFY(view.actions().contains(view.CopyAction()));
    QCOMPARE(view.contextMenuPolicy(), Qt::ActionsContextMenu);
    // The list shows the size in KiB, the exact count in the tooltip.
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("41.3 KiB"));
    QCOMPARE(model.index(0, 2).data(Qt::ToolTipRole).toString(), QStringLiteral("42304 Bytes"));
}

// An ended row tells when it started, how long it took and its average speed: in its
// tooltip, its copied line and the CSV, whose first six columns stay as they were.
void TestList::endedRowsTellStartDurationAndSpeed() {
    CTransferListModel model;
    const RowHandle h = add(model, texts("10.0.0.1", "Total file size is 42304 Bytes", ""));
    add(model, texts("10.0.0.2", "Data Receiving....", ""));
    QTest::qWait(20);
    model.UpdateRow(h, texts("10.0.0.1", "Transfer Complete", "42304 Bytes", 42304), ROW_SENT);
    const QString tip = model.index(0, 4).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.startsWith(QStringLiteral("Transfer Complete\nStarted ")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral(" s, ")) && tip.endsWith(QStringLiteral("/s average")),
             qPrintable(tip));
    QVERIFY(!model.index(1, 4).data(Qt::ToolTipRole).toString().contains(QStringLiteral("Started")));
    QVERIFY(model.RowsAsText({0}).contains(QStringLiteral("\tTransfer Complete\tStarted ")));

    const QStringList lines = model.RowsAsCsv().split(QLatin1Char('\n'));
    QCOMPARE(lines[0], QStringLiteral("Client,File,Size,Service,Information,State,Bytes,Started,"
                                      "Seconds,BytesPerSecond"));
    const QStringList ended = lines[1].split(QLatin1Char(','));
    QCOMPARE(ended.mid(0, 7), QStringList({"10.0.0.1", "file.bin", "42304 Bytes", "Send",
                                           "Transfer Complete", "SENT", "42304"}));
    QVERIFY(QDateTime::fromString(ended[7], Qt::ISODate).isValid());
    QVERIFY(ended[8].toDouble() > 0 && ended[9].toLongLong() > 0);
    const QStringList running = lines[2].split(QLatin1Char(','));
    QCOMPARE(running.size(), 10);
    QVERIFY(running[8].isEmpty() && running[9].isEmpty());
}

void TestList::followsNewRowsUntilScrolledUp() {
    CTransferListView view;
    view.resize(500, 200);
    view.show();
    auto& model = view.Model();
    QScrollBar* bar = view.verticalScrollBar();
    for (int i = 0; i < 1000; ++i)
        add(model, texts(QStringLiteral("10.0.0.1"), QString::number(i)));
    QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
    QVERIFY(view.viewport()->rect().intersects(view.visualRect(view.model()->index(999, 0))));

    bar->setValue(10);
    for (int i = 0; i < 20; ++i)
        add(model, texts(QStringLiteral("10.0.0.1"), QStringLiteral("more")));
    QTest::qWait(100);
    QCOMPARE(bar->value(), 10);
}

void TestList::headerReadableUnderDarkStyle() {
    // A dark palette as a dark desktop style brings: light text everywhere.
    QPalette dark;
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        dark.setColor(role, Qt::white);
    dark.setColor(QPalette::Button, QColor(40, 40, 40));
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    const QPalette before = QApplication::palette();
    QApplication::setPalette(dark);
    {
        CTransferListView view;
        view.resize(600, 150);
        view.show();
        QCoreApplication::processEvents();
        // The header's words are dark on a light ground, like the rows.
        const QImage header = view.header()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QRect client(0, 0, 110, header.height());
        QVERIFY(countColour(header, client, QColor(0, 0, 0), 120) > 5);
        QVERIFY(countColour(header, client, QColor(40, 40, 40), 20) <
                client.width() * client.height() / 2);
    }
    QApplication::setPalette(before);
}

void TestList::progressBarExtentAndCoalescing() {
    CTransferListView view;
    view.resize(720, 200);
    view.show();
    auto& model = view.Model();
    const RowHandle h = add(model, texts("10.0.0.1", "Total file size is 1000 Bytes", ""));
    const RowHandle empty = add(model, texts("10.0.0.2", "Total file size is 0 Bytes", ""));
    QTRY_VERIFY(view.isVisible());

    // 500 of 1000: half the Size column, 2 px inside the row's top and bottom.
    view.SetProgress(h, 500, 1000);
    view.SetProgress(empty, 0, 0);     // size 0: no bar
    view.SetProgress(h + 99, 10, 100); // no such row: ignored
    QTRY_COMPARE(view.ProgressRepaints(), 1);
    // The size shows over the bar while the transfer runs.
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("1000 Bytes"));
    QImage image = render(view);
    const QRect cell = view.visualRect(view.model()->index(0, 2));
    const QColor pink(246, 128, 211);
    const int w = view.columnWidth(2) / 2;
    const int midY = cell.center().y();
    QVERIFY(near(image.pixelColor(cell.left() + 1, midY), pink, 10));
    QVERIFY(near(image.pixelColor(cell.left() + w - 1, midY), pink, 10));
    QVERIFY(!near(image.pixelColor(cell.left() + w + 1, midY), pink, 10));
    QVERIFY(near(image.pixelColor(cell.left() + 5, cell.top() + 2), pink, 10));
    QVERIFY(!near(image.pixelColor(cell.left() + 5, cell.top() + 1), pink, 10));
    QVERIFY(near(image.pixelColor(cell.left() + 5, cell.bottom() - 2), pink, 10));
    QVERIFY(!near(image.pixelColor(cell.left() + 5, cell.bottom() - 1), pink, 10));
    QCOMPARE(countColour(image, view.visualRect(view.model()->index(1, 2)), pink, 10), 0);

    // Thousands of blocks cost at most one repaint per pixel of bar width.
    const qint64 size = 4000 * 512;
    for (qint64 sent = 0; sent <= size; sent += 512) {
        view.SetProgress(h, sent, size);
        if (sent % (512 * 100) == 0)
            QCoreApplication::processEvents();
    }
    // All of it pink but for the size's text over it.
    QTRY_COMPARE(countColour(render(view), cell.adjusted(0, 2, 0, -2), pink, 10) >=
                     (cell.width() - 1) * (cell.height() - 4) * 3 / 4,
                 true);
    QVERIFY2(view.ProgressRepaints() <= 1 + view.columnWidth(2) + 1,
             qPrintable(QString::number(view.ProgressRepaints())));

    // New texts end the bar.
    model.UpdateRow(h, texts("10.0.0.1", "Transfer Complete", "2048000"), ROW_SENT);
    image = render(view);
    QCOMPARE(countColour(image, cell, pink, 10), 0);
}

// A slow send far from the next pixel of its bar: its percentage, speed and time left
// still follow the bytes, and the Size cell still shows the size under the bar.
void TestList::slowTransferTextMovesEverySecond() {
    CTransferListView view;
    view.resize(720, 200);
    view.show();
    auto& model = view.Model();
    const qint64 size = 1000LL * 1000 * 1000;
    const RowHandle h = add(
        model, texts("10.0.0.1", "Total file size is 1000000000 Bytes", "1000000000 Bytes", size));
    qint64 sent = 0;
    auto feedUntil = [&](const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 3000) {
            sent += 512; // far below 1 % and below a pixel of the bar in 3 s
            view.SetProgress(h, sent, size);
            QTest::qWait(20);
        }
        return done();
    };
    auto info = [&] { return model.index(0, 4).data().toString(); };
    QVERIFY2(feedUntil([&] { return info().startsWith(QStringLiteral("Sending... 0 % at ")); }),
             qPrintable(info()));
    QVERIFY2(info().contains(QStringLiteral(" left")), qPrintable(info()));
    const QString first = info();
    QVERIFY2(feedUntil([&] { return info() != first; }), qPrintable(info()));
    QCOMPARE(model.index(0, 2).data().toString(), QStringLiteral("953.7 MiB"));
}

void TestList::gridLinesFollowColumnsAndScrolling() {
    CTransferListView view;
    view.resize(500, 200); // narrower than the columns: some lines fall outside
    // Widths the user gave (the first ones follow the font).
    view.SetUserSizedColumns(true);
    for (int c = 0; c < 5; ++c)
        view.header()->resizeSection(c, CTransferListModel::kColumns[c].width);
    view.show();
    add(view.Model(), texts("10.0.0.1", "x"));
    const QColor grey(128, 128, 128);
    QImage image = render(view);
    const int height = image.height();
    auto isLine = [&](const QImage& img, int x) {
        return countColour(img, QRect(x, 0, 1, height), grey, 6) >= height - 2;
    };
    QVERIFY(isLine(image, 110 - 1));
    QVERIFY(isLine(image, 110 + 117 - 1));
    QVERIFY(isLine(image, 110 + 117 + 100 - 1));
    QVERIFY(isLine(image, 110 + 117 + 100 + 65 - 1));
    QVERIFY(!isLine(image, 110));
    // Beyond the right edge nothing is drawn; the last visible column has no line.
    const int right = view.viewport()->width();
    QVERIFY(right < 687);
    QVERIFY(!isLine(image, right - 1));

    // Scrolled sideways, the lines move with the columns.
    view.horizontalScrollBar()->setValue(40);
    image = render(view);
    QVERIFY(isLine(image, 110 - 40 - 1));
    QVERIFY(isLine(image, 110 + 117 - 40 - 1));
    QVERIFY(!isLine(image, 110 - 1));

    // A column made narrower leaves no line at its old edge, even below the rows.
    view.horizontalScrollBar()->setValue(0);
    view.header()->resizeSection(0, 80);
    image = render(view);
    QVERIFY(isLine(image, 80 - 1));
    QVERIFY(!isLine(image, 110 - 1));
    QCOMPARE(countColour(image, QRect(109, height - 20, 1, 20), grey, 6), 0);
}

// Lines reach the file once the window is idle; at the size limit the file moves to
// ".1" (replacing an older one) and a new one starts, also across a restart.
void TestList::transferLogKeepsOneOlderFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("transfers.log"));
    const RowTexts texts{"127.0.0.1", "f.bin", "", "Send", "Transfer Complete"};
    auto lines = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll().count('\n') : -1;
    };
    {
        CTransferLog log(path, 150);
        for (int i = 0; i < 3; ++i)
            log.Append(texts, ROW_SENT);
        QCoreApplication::processEvents();
        QCOMPARE(lines(path), 3);
    }
    CTransferLog again(path, 150);
    again.Append(texts, ROW_SENT);
    QCoreApplication::processEvents();
    QCOMPARE(lines(path), 1);
    QCOMPARE(lines(path + QStringLiteral(".1")), 3);
}

// A line is the fields as UTF-8, a tab or newline inside a field made a space (a
// client's file name may hold either), the state last. What is not ASCII (a name in
// another script, a lone surrogate) is written as QString::toUtf8() writes it.
void TestList::transferLogLineBytes_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("info");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain") << "f.bin" << "Transfer Complete" << int(ROW_SENT)
                           << QByteArray("f.bin\t1 KiB\tSend\tTransfer Complete\tSENT\n");
    QTest::newRow("tab and newline") << "a\tb\nc" << "\nx\t" << int(ROW_FAILED)
                                     << QByteArray("a b c\t1 KiB\tSend\t x \tFAILED\n");
    QTest::newRow("not ASCII") << QString::fromUtf8("caf\xc3\xa9\xf0\x9f\x98\x80") << "\x7f\x01"
                               << int(ROW_ACTIVE)
                               << QByteArray("caf\xc3\xa9\xf0\x9f\x98\x80\t1 KiB\tSend\t\x7f\x01\tACTIVE\n");
    QTest::newRow("lone surrogate") << QString(QChar(0xd800)) + QLatin1Char('\t') << "ok"
                                    << int(ROW_RECEIVED)
                                    << QByteArray("? \t1 KiB\tSend\tok\tRECEIVED\n");
}

void TestList::transferLogLineBytes() {
    QFETCH(QString, file);
    QFETCH(QString, info);
    QFETCH(int, state);
    QFETCH(QByteArray, line);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("transfers.log"));
    {
        CTransferLog log(path);
        log.Append(RowTexts{"127.0.0.1", file, "1 KiB", "Send", info}, RowState(state));
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray written = f.readAll();
    // After the time: "2026-12-11T15:50:00\t127.0.0.1\t".
    const qsizetype tab = written.indexOf('\t');
    QCOMPARE(tab, 19);
    QCOMPARE(written.mid(tab + 1), QByteArray("127.0.0.1\t") + line);
}

// The Size text of the last count is kept for the next row: rows of other sizes, in
// turn and after an update, still show their own.
void TestList::sizeCellsFollowEachRowsCount() {
    CTransferListModel model;
    const QList<qint64> counts{42304, 42304, 2048, 42304, 500};
    QList<RowHandle> keys;
    for (qint64 n : counts)
        keys << add(model, texts(QStringLiteral("10.0.0.1"), QStringLiteral("Transfer Complete"),
                                 QString::number(n) + QStringLiteral(" Bytes"), n));
    const QStringList shown{"41.3 KiB", "41.3 KiB", "2.0 KiB", "41.3 KiB", "500 Bytes"};
    for (int r = 0; r < shown.size(); ++r)
        QCOMPARE(model.index(r, CTransferListModel::ColSize).data().toString(), shown[r]);
    QVERIFY(model.UpdateRow(keys[1], texts(QStringLiteral("10.0.0.1"), QStringLiteral("Transfer Complete"),
                                           QStringLiteral("1048576 Bytes"), 1048576),
                            ROW_SENT));
    QCOMPARE(model.index(1, CTransferListModel::ColSize).data().toString(), QStringLiteral("1.0 MiB"));
    QCOMPARE(model.index(0, CTransferListModel::ColSize).data().toString(), QStringLiteral("41.3 KiB"));
}

// A DHCP row at the list's first size: the MAC and the address whole, then the host
// name the device gave, which the filter finds too.
void TestList::dhcpRowShowsMacAddressAndHostName() {
    CTransferListView view;
    view.resize(640, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    RowTexts t{QStringLiteral("52:54:00:12:34:56"), QString(), QString(), QStringLiteral("DHCP"),
               QStringLiteral("Offered 192.168.100.111")};
    const RowHandle key = add(view.Model(), t);
    t.client = QStringLiteral("52:54:00:12:34:56 (192.168.100.111)");
    t.host = QStringLiteral("printer-2");
    t.info = QStringLiteral("Leased 192.168.100.111 for 1 h");
    QVERIFY(view.Model().UpdateRow(key, t, ROW_SENT));
    const QModelIndex client = view.model()->index(0, CTransferListModel::ColClient);
    QCOMPARE(client.data().toString(), QStringLiteral("52:54:00:12:34:56 (192.168.100.111) printer-2"));
    QVERIFY(client.data(Qt::ToolTipRole).toString().contains(QLatin1String("printer-2")));
    QTRY_VERIFY(view.columnWidth(CTransferListModel::ColClient) >
                view.fontMetrics().horizontalAdvance(t.client));
    view.Filter().SetText(QStringLiteral("printer"));
    QCOMPARE(view.model()->rowCount(), 1);
}

// One row of each kind against each quick filter, and two filters at once (either).
void TestList::quickFiltersPickRows_data() {
    QTest::addColumn<int>("quick");
    QTest::addColumn<QString>("shown"); // the rows' files, in order
    using F = CTransferFilter;
    QTest::newRow("none: all") << 0 << "send failed dhcp boot menu device";
    QTest::newRow("failed") << int(F::QuickFailed) << "failed";
    QTest::newRow("running") << int(F::QuickRunning) << "send device";
    QTest::newRow("dhcp") << int(F::QuickDhcp) << "dhcp";
    QTest::newRow("boot: offers and menus") << int(F::QuickBoot) << "boot menu";
    QTest::newRow("client: ours only") << int(F::QuickClient) << "device";
    QTest::newRow("failed or dhcp") << int(F::QuickFailed | F::QuickDhcp) << "failed dhcp";
}

void TestList::quickFiltersPickRows() {
    QFETCH(int, quick);
    QFETCH(QString, shown);
    CTransferListModel model;
    CTransferFilter filter(&model);
    const struct {
        const char* file;
        const char* service;
        RowState state;
        bool device;
    } rows[] = {{"send", "Send", ROW_ACTIVE, false},     {"failed", "Receive", ROW_FAILED, false},
                {"dhcp", "DHCP", ROW_SENT, false},       {"boot", "Boot offer", ROW_SENT, false},
                {"menu", "Boot menu", ROW_NOTED, false}, {"device", "Send", ROW_ACTIVE, true}};
    for (const auto& r : rows) {
        RowTexts t{QStringLiteral("10.0.0.1"), QLatin1String(r.file), {}, QLatin1String(r.service), {}};
        t.device = r.device;
        const RowHandle key = add(model, t);
        if (r.state != ROW_ACTIVE)
            model.UpdateRow(key, t, r.state);
    }
    filter.SetQuick(quick);
    QCOMPARE(filter.IsFiltering(), quick != 0);
    QStringList files;
    for (int i = 0; i < filter.rowCount(); ++i)
        files << filter.index(i, CTransferListModel::ColFile).data().toString();
    QCOMPARE(files.join(QLatin1Char(' ')), shown);
}

// Started, Duration, Speed and Options from what the row holds.
void TestList::extraColumnsReadFromRows_data() {
    QTest::addColumn<QString>("info");
    QTest::addColumn<qint64>("tookMs"); // how long before it ends; -1 keeps it running
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("speed");
    QTest::newRow("negotiated") << "Transfer Complete (blksize 1468, windowsize 16)" << qint64(2000)
                                << qint64(4 << 20) << "blksize 1468, windowsize 16" << "2.0 s"
                                << "2.0 MiB/s";
    QTest::newRow("plain") << "Receive Complete" << qint64(300) << qint64(300) << "" << "300 ms"
                           << "1000 bytes/s";
    QTest::newRow("over a minute, nothing moved") << "Transfer Complete" << qint64(61000) << qint64(0)
                                           << "" << "1:01" << "0 bytes/s";
    QTest::newRow("running: no speed before a sample") << "Data Receiving.... (blksize 8192, windowsize 4)"
                                                       << qint64(-1) << qint64(-1)
                                                       << "blksize 8192, windowsize 4" << "" << "";
}

void TestList::extraColumnsReadFromRows() {
    QFETCH(QString, info);
    QFETCH(qint64, tookMs);
    QFETCH(qint64, bytes);
    QFETCH(QString, options);
    QFETCH(QString, duration);
    QFETCH(QString, speed);
    CTransferListModel model;
    RowTexts t{QStringLiteral("10.0.0.1"), QStringLiteral("blksize 9.bin"), {}, QStringLiteral("Send"), info};
    t.bytes = bytes;
    const RowHandle key = add(model, t);
    if (tookMs >= 0) {
        QTest::qWait(int(qMin<qint64>(tookMs, 50))); // the model's clock: only a floor
        model.UpdateRow(key, t, ROW_SENT);
        const_cast<CRowData&>(model.Row(0)).m_nTookMs = tookMs; // the clock fixed
    }
    const auto cell = [&model](int c) { return model.index(0, c).data().toString(); };
    QCOMPARE(cell(CTransferListModel::ColOptions), options);
    QCOMPARE(cell(CTransferListModel::ColStarted), model.Row(0).Started().toString("HH:mm:ss"));
    if (tookMs >= 0)
        QCOMPARE(cell(CTransferListModel::ColDuration), duration);
    else
        QVERIFY(cell(CTransferListModel::ColDuration).endsWith(QLatin1String(" ms")));
    QCOMPARE(cell(CTransferListModel::ColSpeed), speed);
    // The list's own five columns stay what Copy gives.
    QCOMPARE(model.RowsAsText({0}).split(QLatin1Char('\t')).size(), tookMs >= 0 ? 6 : 5);
}

// Duration and Speed sort by their figures, not their texts ("9 s" before "10 s").
void TestList::extraColumnsSortByFigures() {
    CTransferListModel model;
    CTransferFilter filter(&model);
    for (qint64 ms : {10000, 9000, 61000, 900}) {
        RowTexts t = texts(QString::number(ms), QStringLiteral("Transfer Complete"), "1000", 1000);
        const RowHandle key = add(model, t);
        model.UpdateRow(key, t, ROW_SENT);
        const_cast<CRowData&>(model.Row(model.RowOf(key))).m_nTookMs = ms;
    }
    const auto order = [&filter] {
        QStringList clients;
        for (int i = 0; i < filter.rowCount(); ++i)
            clients << filter.index(i, 0).data().toString();
        return clients;
    };
    filter.sort(CTransferListModel::ColDuration, Qt::AscendingOrder);
    QCOMPARE(order(), (QStringList{"900", "9000", "10000", "61000"}));
    filter.sort(CTransferListModel::ColSpeed, Qt::AscendingOrder); // the slowest first
    QCOMPARE(order(), (QStringList{"61000", "10000", "9000", "900"}));
    filter.sort(CTransferListModel::ColStarted, Qt::DescendingOrder); // the newest first
    QCOMPARE(order(), (QStringList{"900", "61000", "9000", "10000"}));
}

// A long transfer's samples are thinned, never cut: the first and the last stay in reach.
void TestList::speedSamplesKeepTheWholeCourse() {
    CTransferListModel model;
    const RowHandle key = add(model, texts("10.0.0.1", "Sending"));
    for (int i = 0; i < CTransferListModel::kMaxSamples * 3; ++i)
        model.AddSpeedSample(key, i);
    const auto& samples = model.Row(0).m_samples;
    QVERIFY(samples.size() <= CTransferListModel::kMaxSamples);
    QVERIFY(samples.size() >= CTransferListModel::kMaxSamples / 2);
    QCOMPARE(samples.last().perSecond, qint64(CTransferListModel::kMaxSamples * 3 - 1));
    QVERIFY(samples.first().perSecond < CTransferListModel::kMaxSamples / 2);
    QCOMPARE(model.Speed(0), qint64(CTransferListModel::kMaxSamples * 3 - 1)); // running: the latest
    model.AddSpeedSample(key + 1000, 5); // no such row: nothing
}

// The details pane's fields for a finished download, a failed upload and a DHCP lease:
// what each label says, and which labels a row of its kind does not have.
void TestList::detailsOfFinishedFailedAndDhcpRows_data() {
    QTest::addColumn<QString>("service");
    QTest::addColumn<QString>("info");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("expected"); // "Label=value", or "Label" for any value
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<QString>("told"); // what the engine told of the row: "", "sent", "timed out", "dhcp"
    QTest::newRow("finished download")
        << "Send" << "Transfer Complete (blksize 1468, windowsize 16)" << int(ROW_SENT)
        << QStringList{"Client=10.0.0.1", "File=boot.efi", "State=Sent",
                       "Options=blksize 1468, windowsize 16", "Started", "Ended", "Took",
                       "Average speed", "Information=Transfer Complete (blksize 1468, windowsize 16)"}
        << QStringList{"Why it failed", "Lease", "Running for", "Our port", "Blocks"} << "";
    QTest::newRow("failed upload")
        << "Receive" << "Disk full or allocation exceeded" << int(ROW_FAILED)
        << QStringList{"State=Failed", "Options=none negotiated: blksize 512, windowsize 1",
                       "Why it failed=Disk full or allocation exceeded", "Ended"}
        << QStringList{"Information", "Average speed"} << "";
    QTest::newRow("dhcp lease")
        << "DHCP" << "Leased 192.168.100.111 for 1 h, boot file snponly.efi" << int(ROW_SENT)
        << QStringList{"Host name=printer-2", "Lease=Leased 192.168.100.111 for 1 h, boot file snponly.efi"}
        << QStringList{"Options", "Information", "Why it failed", "Answer sent"} << "";
    // What the engine tells once at the start and once at the end.
    QTest::newRow("download, as told")
        << "Send" << "Transfer Complete" << int(ROW_SENT)
        << QStringList{"Client=10.0.0.1 port 2049", "Our port=29001", "File asked=BOOT.EFI",
                       "File found=boot.efi", "Options asked=blksize 1468, tsize 0",
                       "Options given=blksize 1468, tsize 9000", "Blocks=7",
                       "Resent and timed out=0 packets resent, 0 time-outs"}
        << QStringList{"File", "Options", "Why it failed"} << "sent";
    QTest::newRow("timed out, as told")
        << "Send" << "Client Not Responding!! Connection Closed!!" << int(ROW_FAILED)
        << QStringList{"Options asked=none", "Options given=none negotiated: blksize 512, windowsize 1",
                       "Blocks=1", "Resent and timed out=5 packets resent, 6 time-outs",
                       "Why it failed=Client Not Responding!! Connection Closed!!"}
        << QStringList{"File found", "Information"} << "timed out";
    QTest::newRow("dhcp offer, as told")
        << "DHCP" << "Offered 192.168.100.111" << int(ROW_SENT)
        << QStringList{"Lease=Offered 192.168.100.111",
                       "Answer sent=Address given: 192.168.100.111\nBoot file (67): <i>x</i>.efi"}
        << QStringList{"Options given", "Blocks", "Our port"} << "dhcp";
}

void TestList::detailsOfFinishedFailedAndDhcpRows() {
    QFETCH(QString, service);
    QFETCH(QString, info);
    QFETCH(int, state);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, absent);
    QFETCH(QString, told);
    CTransferListModel model;
    RowTexts t{QStringLiteral("10.0.0.1"), QStringLiteral("boot.efi"), QStringLiteral("9000 Bytes"),
               service, QStringLiteral("Running")};
    t.bytes = 9000;
    if (service == QLatin1String("DHCP"))
        t.host = QStringLiteral("printer-2");
    const RowHandle key = add(model, t);
    t.info = info;
    QTest::qWait(20); // a duration above nothing, for the average speed
    model.UpdateRow(key, t, RowState(state));
    RowDetails d;
    d.ended = true;
    if (told == QLatin1String("sent") || told == QLatin1String("timed out")) {
        d.client = t.client;
        d.clientPort = 2049;
        d.ourPort = 29001;
        d.asked = told == QLatin1String("sent") ? QStringLiteral("BOOT.EFI") : t.file;
        d.found = t.file;
        d.blocks = told == QLatin1String("sent") ? 7 : 1;
        if (told == QLatin1String("sent")) {
            d.optionsAsked = QStringLiteral("blksize 1468, tsize 0");
            d.optionsGiven = QStringLiteral("blksize 1468, tsize 9000");
        } else {
            d.retries = 5;
            d.timeOuts = 6;
            d.failure = info;
        }
    } else if (told == QLatin1String("dhcp")) {
        d.offer = QStringList{QStringLiteral("Address given: 192.168.100.111"),
                              QStringLiteral("Boot file (67): <i>x</i>.efi")};
    }
    if (!told.isEmpty())
        model.SetDetails(key, d);
    // The Options column says what was negotiated, tsize too, as the engine told it.
    if (told == QLatin1String("sent"))
        QCOMPARE(model.CellText(0, CTransferListModel::ColOptions), d.optionsGiven);
    QMap<QString, QString> fields;
    for (const auto& [label, value] : CTransferDetails::Fields(model, 0))
        fields.insert(label, value);
    for (const QString& want : expected) {
        const QString label = want.section(QLatin1Char('='), 0, 0);
        QVERIFY2(fields.contains(label), qPrintable(label));
        if (want.contains(QLatin1Char('=')))
            QCOMPARE(fields.value(label), want.section(QLatin1Char('='), 1));
    }
    for (const QString& label : absent)
        QVERIFY2(!fields.contains(label), qPrintable(label));
    QVERIFY(CTransferDetails::Fields(model, 1).isEmpty()); // a row that is not there

    // The pane shows them, escaped: a client's texts never become markup.
    t.file = QStringLiteral("<b>x</b>.bin");
    model.UpdateRow(key, t, RowState(state));
    CTransferDetails pane(model);
    pane.ShowRow(key);
    if (d.asked.isEmpty()) // else the names the engine told
        QVERIFY(pane.Text()->toPlainText().contains(QLatin1String("<b>x</b>.bin")));
    if (told == QLatin1String("dhcp")) // a line each, the client's bytes as text
        QVERIFY(pane.Text()->toPlainText().contains(
            QLatin1String("Address given: 192.168.100.111\nBoot file (67): <i>x</i>.efi")));
    model.Clear();
    pane.Refresh();
    QVERIFY(pane.Text()->toPlainText().contains(QLatin1String("cleared")));
}

QTEST_MAIN(TestList)
#include "tst_list.moc"
