// The window with a live engine on 127.0.0.1: rows following real transfers,
// Abort and Clear, the sound gate and the animation.
#include "engine/server/ServerEngine.h"
#include "TransferAnimDlg.h"
#include "TransferListModel.h"
#include "TransferLog.h"
#include "UiTestSupport.h"
#include "WaveSound.h"
#include "ZAZO_DizeView.h"

#include <QApplication>
#include <QMessageBox>
#include <QMovie>
#include <QPushButton>
#include <QtTest>

namespace {
// A view listening on a free loopback port (a few tries in case one is taken).
std::unique_ptr<CZAZO_DizeView> makeView(TestStore& s, quint16* port) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        *port = RandomHighPort();
        auto view = std::make_unique<CZAZO_DizeView>(s.NewEngine(), QHostAddress::LocalHost, *port);
        if (view->IsListening())
            return view;
    }
    return nullptr;
}

QByteArray pattern(int n) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char('a' + i % 26);
    return b;
}
} // namespace

class TestCommands : public QObject {
    Q_OBJECT
private slots:
    void abortStopsTransfersInProgress();
    void clearOnlyWhenIdleAndRowsFoundAfterIt();
    void soundGate();
    void sendProgressAndCompletion();
    void uploadShowsBytesReceived();
    void listenFailureShownWithoutWaiting();
};

void TestCommands::abortStopsTransfersInProgress() {
    TestStore s(1);
    QFile source(s.WorkFile(QStringLiteral("send.bin")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(pattern(3000));
    source.close();

    quint16 port = 0;
    auto view = makeView(s, &port);
    QVERIFY(view);
    CTransferAnimDlg anim;
    view->SetAnimation(&anim);
    CEngineHost& engine = view->Engine();
    auto& model = view->Model();

    // A reception that has one block in, and a send waiting for its first ACK.
    TftpTestClient writer, reader;
    writer.SendRequest(port, 2, "upload.bin");
    QByteArray p = writer.Receive();
    QCOMPARE(TftpTestClient::Opcode(p), quint16(4));
    writer.SendData(1, pattern(512));
    p = writer.Receive();
    QCOMPARE(TftpTestClient::Number(p), quint16(1));
    reader.SendRequest(port, 1, "send.bin");
    p = reader.Receive();
    QCOMPARE(TftpTestClient::Opcode(p), quint16(3));
    QVERIFY_SOON(model.rowCount() == 2 && engine.ActiveTransfers() == 2);
    QCOMPARE(anim.CurrentMode(), CTransferAnimDlg::Mode::PlayingContinuously);

    // Cancel changes nothing.
    QString caption, text;
    QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
    {
        ModalAnswer cancel(QMessageBox::Cancel);
        view->OnAbort();
        caption = cancel.caption;
        text = cancel.text;
        byDefault = cancel.defaultButton;
    }
    QCOMPARE(caption, QStringLiteral("Abort"));
    QCOMPARE(byDefault, QMessageBox::Cancel); // Enter keeps the transfers
    QCOMPARE(text, QStringLiteral("This command will abort all active current connections!!\n\n"
                                  "                           Are you sure?"));
    QCOMPARE(engine.ActiveTransfers(), 2);
    QVERIFY(!writer.socket.hasPendingDatagrams());

    // OK aborts both.
    const int requests = view->Sounds().RequestCount();
    {
        ModalAnswer ok(QMessageBox::Ok);
        view->OnAbort();
    }
    for (TftpTestClient* c : {&writer, &reader}) {
        const QByteArray error = c->Receive();
        QCOMPARE(TftpTestClient::Opcode(error), quint16(5));
        QCOMPARE(TftpTestClient::Number(error), quint16(0));
        QCOMPARE(TftpTestClient::ErrorText(error), QByteArray("Transfer aborted by the server"));
    }
    QVERIFY_SOON(engine.ActiveTransfers() == 0);
    for (int r = 0; r < 2; ++r) {
        QVERIFY(model.index(r, 4).data().toString().startsWith(QStringLiteral("User aborts!! (at ")));
        QCOMPARE(model.index(r, 4).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    }
    QVERIFY(!QFile::exists(s.WorkFile(QStringLiteral("upload.bin"))));
    QVERIFY(QFile::exists(s.WorkFile(QStringLiteral("send.bin"))));
    QCOMPARE(engine.ActiveTransfers(), 0);
    QCOMPARE(anim.CurrentMode(), CTransferAnimDlg::Mode::Idle);
    QVERIFY(anim.Movie()->state() != QMovie::Running);
    QCOMPARE(view->Sounds().LastRequestedId(), 142);
    QVERIFY(view->Sounds().RequestCount() > requests);

    // Nothing more arrives for the aborted transfers (no retransmission).
    writer.SendData(2, pattern(100));
    QTest::qWait(200);
    QVERIFY(!writer.socket.hasPendingDatagrams());

    // Abort with nothing in progress says so instead of asking, and leaves the rows alone.
    view->Sounds().Play(144);
    {
        ModalAnswer ok(QMessageBox::Ok);
        view->OnAbort();
        QCOMPARE(ok.answered, 1);
        QCOMPARE(ok.text, QStringLiteral("No transfer is in progress: nothing to abort."));
    }
    QCOMPARE(view->Sounds().LastRequestedId(), 144);
    QCOMPARE(engine.ActiveTransfers(), 0);
    QCOMPARE(model.rowCount(), 2);
    view->SetAnimation(nullptr);
}

void TestCommands::clearOnlyWhenIdleAndRowsFoundAfterIt() {
    TestStore s(1);
    quint16 port = 0;
    auto view = makeView(s, &port);
    QVERIFY(view);
    CEngineHost& engine = view->Engine();
    auto& model = view->Model();

    // Three finished transfers: receptions of one short block each.
    for (int i = 0; i < 3; ++i) {
        TftpTestClient c;
        c.SendRequest(port, 2, QByteArray("f") + QByteArray::number(i));
        QCOMPARE(TftpTestClient::Opcode(c.Receive()), quint16(4));
        c.SendData(1, "short");
        QCOMPARE(TftpTestClient::Number(c.Receive()), quint16(1));
    }
    QVERIFY_SOON(model.index(2, 4).data().toString() == QStringLiteral("Receive Complete"));
    QCOMPARE(model.index(2, 0).data(CTransferListModel::StateRole).toInt(), int(ROW_RECEIVED));

    // One still running: Clear does nothing and plays nothing.
    TftpTestClient running;
    running.SendRequest(port, 2, "running.bin");
    QCOMPARE(TftpTestClient::Opcode(running.Receive()), quint16(4));
    QVERIFY_SOON(engine.ActiveTransfers() == 1 && model.rowCount() == 4);
    const int requests = view->Sounds().RequestCount();
    view->OnClear();
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(view->Sounds().RequestCount(), requests);

    running.SendData(1, "done");
    QCOMPARE(TftpTestClient::Number(running.Receive()), quint16(1));
    QVERIFY_SOON(engine.ActiveTransfers() == 0);
    view->OnClear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.ClearedRows(), 4);
    QCOMPARE(view->Sounds().LastRequestedId(), 149);

    // A refused request (bad mode) has no row; the next admitted one is row 0 and
    // its updates reach it.
    TftpTestClient refused;
    refused.SendRequest(port, 2, "x.bin", "mail");
    QVERIFY(SpinUntil([&] { return view->Sounds().LastRequestedId() == 142; }));
    QCOMPARE(model.rowCount(), 0);
    TftpTestClient next;
    next.SendRequest(port, 2, "next.bin");
    QCOMPARE(TftpTestClient::Opcode(next.Receive()), quint16(4));
    QVERIFY_SOON(model.rowCount() == 1);
    QCOMPARE(model.index(0, 1).data().toString(), QStringLiteral("next.bin"));
    next.SendData(1, "end");
    QCOMPARE(TftpTestClient::Number(next.Receive()), quint16(1));
    QVERIFY_SOON(model.index(0, 4).data().toString() == QStringLiteral("Receive Complete"));

    // Clear on an empty list still plays its sound.
    view->OnClear();
    view->Sounds().Play(144);
    view->OnClear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(view->Sounds().LastRequestedId(), 149);
}

void TestCommands::soundGate() {
    {
        TestStore quiet(0);
        quint16 port = 0;
        auto view = makeView(quiet, &port);
        QVERIFY(view);
        QCOMPARE(view->Engine().SoundOn(), false);
        view->OnClear();
        // Setup, Security and Help open their dialogs: each is closed at once.
        ModalAnswer answer(QMessageBox::Ok);
        view->OnSetup(*quiet.store);
        view->OnSecurity(*quiet.store);
        view->OnHelp();
        view->OnAbort();
        QVERIFY(answer.answered >= 1);
        QCOMPARE(view->Sounds().RequestCount(), 0);
    }
    {
        TestStore loud(1);
        quint16 port = 0;
        auto view = makeView(loud, &port);
        QVERIFY(view);
        QCOMPARE(view->Sounds().LastRequestedId(), 148); // start-up
        QCOMPARE(view->Sounds().RequestCount(), 1);
    }
}

void TestCommands::sendProgressAndCompletion() {
    TestStore s(0);
    const int size = 300 * 512 + 100;
    QFile source(s.WorkFile(QStringLiteral("big.bin")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write(pattern(size));
    source.close();
    quint16 port = 0;
    auto view = makeView(s, &port);
    QVERIFY(view);
    view->resize(720, 200);
    view->show();
    auto& model = view->Model();

    TftpTestClient c;
    c.SendRequest(port, 1, "big.bin");
    QByteArray received;
    bool sawBar = false;
    for (int block = 1; block <= 301; ++block) {
        const QByteArray p = c.Receive();
        QCOMPARE(TftpTestClient::Opcode(p), quint16(3));
        QCOMPARE(TftpTestClient::Number(p), quint16(block));
        received += p.mid(4);
        if (block == 150) {
            QVERIFY_SOON(model.index(0, 2).data(CTransferListModel::ProgressRole).toDouble() > 0.45);
            QCOMPARE(model.index(0, 4).data(Qt::ToolTipRole).toString(),
                     QStringLiteral("Total file size is %1 Bytes").arg(size));
            const double f = model.index(0, 2).data(CTransferListModel::ProgressRole).toDouble();
            sawBar = f > 0.45 && f < 0.55;
            QTest::qWait(1100); // a send that has run a second shows percentage and speed
        }
        if (block == 152)
            QVERIFY2(SpinUntil([&] {
                         return model.index(0, 4).data().toString().startsWith(
                             QStringLiteral("Sending... 50 % at "));
                     }),
                     qPrintable(model.index(0, 4).data().toString()));
        c.SendAck(quint16(block));
    }
    QVERIFY(sawBar);
    QCOMPARE(received.size(), size);
    QVERIFY(SpinUntil([&] {
        return model.index(0, 4).data().toString() == QStringLiteral("Transfer Complete");
    }));
    QCOMPARE(model.index(0, 0).data(CTransferListModel::StateRole).toInt(), int(ROW_SENT));
    QVERIFY(!model.index(0, 2).data(CTransferListModel::ProgressRole).isValid());
    // Far fewer repaints than blocks.
    QVERIFY(view->ProgressRepaints() <= view->columnWidth(2) + 2);

    // Each row change is in the transfer log; Save List As writes the rows as CSV.
    // The log is flushed from the event loop, just after the row changed.
    QByteArray lines;
    QVERIFY_SOON([&] {
        QFile log(view->Log().Path());
        lines = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        return lines.contains("\tTransfer Complete\tSENT\n");
    }());
    QVERIFY(lines.contains("\tbig.bin\t\tSend\tTotal file size is 153700 Bytes\tACTIVE\n"));
    QVERIFY(lines.contains("\tbig.bin\t153700 Bytes\tSend\tTransfer Complete\tSENT\n"));
    QVERIFY(model.RowsAsCsv().startsWith(
        QStringLiteral("Client,File,Size,Service,Information,State,")));
    QVERIFY(model.RowsAsCsv().contains(
        QStringLiteral("\n127.0.0.1,big.bin,153700 Bytes,Send,Transfer Complete,SENT,153700,")));
}

// An upload of a size the client did not tell shows how much has come so far.
void TestCommands::uploadShowsBytesReceived() {
    TestStore s(0);
    quint16 port = 0;
    auto view = makeView(s, &port);
    QVERIFY(view);
    view->show();
    auto& model = view->Model();
    TftpTestClient c;
    c.SendRequest(port, 2, "in.bin");
    QCOMPARE(TftpTestClient::Opcode(c.Receive()), quint16(4));
    for (int block = 1; block <= 40; ++block) {
        if (block == 20)
            QTest::qWait(1100);
        c.SendData(quint16(block), pattern(512));
        QCOMPARE(TftpTestClient::Number(c.Receive()), quint16(block));
    }
    QVERIFY2(SpinUntil([&] {
                 return model.index(0, 4).data().toString().startsWith(
                     QStringLiteral("Receiving... "));
             }),
             qPrintable(model.index(0, 4).data().toString()));
    c.SendData(41, QByteArray());
    QVERIFY(SpinUntil([&] {
        return model.index(0, 4).data().toString() == QStringLiteral("Receive Complete");
    }));
}

void TestCommands::listenFailureShownWithoutWaiting() {
    TestStore s(0);
    quint16 port = 0;
    auto first = makeView(s, &port);
    QVERIFY(first);
    QWidget parent;
    // The same port again: the engine reports it, and construction goes on at once.
    auto* second = new CZAZO_DizeView(s.NewEngine(), QHostAddress::LocalHost, port, &parent);
    QVERIFY(!second->IsListening());
    QVERIFY(!second->ListenError().isEmpty());
    // The box waits for the window, so that it opens above it rather than behind.
    QVERIFY(!parent.findChild<QMessageBox*>());
    parent.show();
    second->ShowPendingMessages();
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
            box = b;
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QStringLiteral("ZAZO_Dize"));
    QVERIFY(box->text().startsWith(QStringLiteral("Listen Socket Creation Fails!!")));
    QVERIFY(!box->isModal());
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    QPointer<QMessageBox> watch(box);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(watch.isNull());
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
