#include "EngineFixture.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsWatch.h"
#include "settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QUdpSocket>
#include <QtTest>

// The engine on its own thread behind CEngineHost, on the default platform and
// 127.0.0.1. The clients here wait without running this thread's event loop: the
// engine answers all the same, and the rows come when this thread looks again.
namespace {
struct HostedServer {
    QTemporaryDir dir;
    CSettingsStore store{dir.filePath(QStringLiteral("s.ini"))};
    RecordingWindow window;
    std::unique_ptr<CEngineHost> host;
    quint16 port = 0;

    // prepare: settings written before the server starts.
    explicit HostedServer(const std::function<void(CSettingsStore&)>& prepare = {}) {
        QDir(dir.path()).mkdir(QStringLiteral("root"));
        store.WriteProfileString(CSettingsStore::kDirName, dir.filePath(QStringLiteral("root")));
        store.WriteProfileInt(CSettingsStore::kSoundOn, 1);
        if (prepare)
            prepare(store);
        host = NewEngineHost(store);
        host->SetWindow(&window);
        for (int attempt = 0; attempt < 20 && !host->IsListening(); ++attempt) {
            port = quint16(40000 + QRandomGenerator::global()->bounded(20000));
            host->Start(QHostAddress::LocalHost, port);
        }
    }
    void writeFile(const char* name, int size) { writeFile(name, QByteArray(size, 'v')); }
    void writeFile(const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QStringLiteral("root/")) + QLatin1String(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    QString rootFile(const char* name) const {
        return dir.filePath(QStringLiteral("root/")) + QLatin1String(name);
    }
    // Runs this thread's loop until the window shows what is asked, 5 s at most.
    template <typename Done> bool shows(Done done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    QString info(int row) const { return window.rows.value(window.order.value(row)).texts.info; }
};

// A client that blocks on its socket.
struct Client {
    QUdpSocket socket;
    quint16 serverPort = 0;
    Client() { socket.bind(QHostAddress::LocalHost, 0); }
    void request(quint16 listen, quint16 opcode, const QByteArray& name) {
        socket.writeDatagram(EngineFixture::request(opcode, name), QHostAddress::LocalHost, listen);
    }
    QByteArray receive() {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(3000))
            return {};
        QHostAddress from;
        QByteArray p(70000, '\0');
        p.resize(socket.readDatagram(p.data(), p.size(), &from, &serverPort));
        return p;
    }
    void send(const QByteArray& packet) {
        socket.writeDatagram(packet, QHostAddress::LocalHost, serverPort);
    }
    static quint16 word(const QByteArray& p, int at) {
        return p.size() < at + 2 ? 0xffff : quint16(quint8(p[at]) << 8 | quint8(p[at + 1]));
    }
};

// What the host gives the window, as words: "rows 1 2:SENT:done 3+1" for one AddRows
// (+1: one step of running texts), "update 1 SENT", "progress 1 5", "sound 141",
// "anim on", "message".
class ScriptWindow final : public IServerWindow {
public:
    void AddRow(RowHandle row, const RowTexts&) override { calls << QStringLiteral("add %1").arg(row - base); }
    void AddRows(const std::vector<NewRow>& rows) override {
        QStringList parts{QStringLiteral("rows")};
        for (const NewRow& r : rows) {
            QString part = QString::number(r.row - base);
            if (!r.steps.empty())
                part += QStringLiteral("+%1").arg(r.steps.size());
            if (r.state != ROW_ACTIVE)
                part += QStringLiteral(":%1:%2").arg(RowStateName(r.state), r.ended.info);
            parts << part;
        }
        calls << parts.join(QLatin1Char(' '));
    }
    void UpdateRow(RowHandle row, const RowTexts&, RowState state) override {
        calls << QStringLiteral("update %1 %2").arg(row - base).arg(RowStateName(state));
    }
    void DrawProgress(RowHandle row, qint64 done, qint64) override {
        calls << QStringLiteral("progress %1 %2").arg(row - base).arg(done);
    }
    int PlayWaveResource(int id) override {
        calls << QStringLiteral("sound %1").arg(id);
        return 1;
    }
    void StartAnimation() override { calls << QStringLiteral("anim on"); }
    void StopAnimation() override { calls << QStringLiteral("anim off"); }
    void ShowMessage(const QString&) override { calls << QStringLiteral("message"); }
    void ShowDetails(RowHandle row, const RowDetails& d) override {
        calls << QStringLiteral("details %1%2").arg(row - base).arg(d.ended ? " ended" : "");
    }
    QStringList calls;
    RowHandle base = 0; // the script's keys start after it
};

// Two engine threads on the port, under the limits given (0: the defaults).
std::function<void(CSettingsStore&)> TwoEngines(int maxTotal = 0, int perClient = 0,
                                                bool singlePort = false) {
    return [=](CSettingsStore& store) {
        store.WriteProfileInt(CSettingsStore::kEngineThreads, 2);
        if (maxTotal)
            store.WriteProfileInt(CSettingsStore::kMaxTransfers, maxTotal);
        if (perClient)
            store.WriteProfileInt(CSettingsStore::kMaxTransfersPerClient, perClient);
        store.WriteProfileInt(CSettingsStore::kSinglePort, singlePort ? 1 : 0);
        store.WriteProfileInt(CSettingsStore::kSoundOn, 0);
    };
}
} // namespace

class TestEngineHost : public QObject {
    Q_OBJECT

private slots:
    // Scripts of queued events (A add, P progress, U update with a, s or f for running,
    // sent or failed, S a sound, | a drain) and what the window is told. A transfer that
    // ends before its row is shown arrives once, ended, its progress dropped; the Adds of
    // one drain arrive together.
    void shortRowsReachTheWindowOnce() {
        const struct {
            const char* script;
            const char* calls;
        } cases[] = {
            {"A1 U1s |", "rows 1:SENT:done"},
            {"A1 | U1s |", "rows 1 / update 1 SENT"},
            {"A1 P1 P1 U1s |", "rows 1:SENT:done"},
            {"A1 P1 | P1 U1s |", "rows 1 / progress 1 1 / progress 1 2 / update 1 SENT"},
            {"A1 U1a U1s |", "rows 1+1:SENT:done"},
            {"A1 U1a P1 U1a |", "rows 1+2 / progress 1 1"},
            {"A1 | U1a U1s |", "rows 1 / update 1 ACTIVE / update 1 SENT"},
            {"A1 A2 A3 U2f P3 |", "rows 1 2:FAILED:done 3 / progress 3 1"},
            {"A1 S A2 U1s |", "rows 1:SENT:done 2 / sound 141"},
            {"A1 U1s U1f |", "rows 1:SENT:done / update 1 FAILED"},
            // The queue keeps one sound, the last: R is a request's, S a sent file's.
            {"S A1 R A2 S |", "rows 1 2 / sound 141"},
            {"R | S R |", "sound 144 / sound 144"},
            // Details (D as it starts, E as it ends): the newest of a row in the queue.
            {"A1 D1 A2 D2 E1 U1s |", "rows 1:SENT:done 2 / details 1 ended / details 2"},
            {"A1 D1 | E1 U1s |", "rows 1 / details 1 / details 1 ended / update 1 SENT"},
        };
        CEngineHost host(EngineSettings{}, [] { return std::make_unique<FakePlatform>(); });
        ScriptWindow window;
        host.SetWindow(&window);
        for (const auto& c : cases) {
            const RowHandle base = window.base;
            QStringList drains;
            qint64 progress = 0;
            for (const QByteArray& step : QByteArray(c.script).split(' ')) {
                using E = CEngineHost::Event;
                const RowHandle row = base + (step.size() > 1 ? step.at(1) - '0' : 0);
                RowTexts texts;
                switch (step.at(0)) {
                case 'A': host.Push({E::Add, ROW_ACTIVE, row, 0, 0, texts, {}}); break;
                case 'P': host.Push({E::Progress, ROW_ACTIVE, row, ++progress, 9, {}, {}}); break;
                case 'S': host.Push({E::Sound, ROW_ACTIVE, 0, SOUND_SENT, 0, {}, {}}); break;
                case 'R': host.Push({E::Sound, ROW_ACTIVE, 0, SOUND_REQUEST, 0, {}, {}}); break;
                case 'D':
                case 'E': {
                    auto details = std::make_shared<RowDetails>();
                    details->ended = step.at(0) == 'E';
                    host.Push({E::Details, ROW_ACTIVE, row, 0, 0, {}, {}, std::move(details)});
                    break;
                }
                case 'U': {
                    const char s = step.at(2);
                    texts.info = s == 'a' ? QStringLiteral("running") : QStringLiteral("done");
                    const RowState state = s == 'a' ? ROW_ACTIVE : s == 's' ? ROW_SENT : ROW_FAILED;
                    host.Push({E::Update, state, row, 0, 0, texts, {}});
                    break;
                }
                case '|':
                    host.DeliverNow();
                    drains << window.calls.join(QStringLiteral(" / "));
                    window.calls.clear();
                    break;
                }
            }
            window.base += 10; // every script's rows under keys of their own
            QCOMPARE(drains.join(QStringLiteral(" / ")), QString::fromLatin1(c.calls));
        }
    }

    // The next look at the queue: soon after a few changes, later in a flood, and not
    // at all (until the engine wakes it) after a look that found nothing.
    void drainPaceFollowsTheFlood() {
        const struct {
            size_t adds;
            int nextLookMs;
        } cases[] = {
            {1, CEngineHost::kDrainMs},
            {CEngineHost::kBusyEvents - 1, CEngineHost::kDrainMs},
            {CEngineHost::kBusyEvents, CEngineHost::kBusyDrainMs},
            {0, -1},
        };
        CEngineHost host(EngineSettings{}, [] { return std::make_unique<FakePlatform>(); });
        ScriptWindow window;
        host.SetWindow(&window);
        RowHandle row = 1000;
        for (const auto& c : cases) {
            for (size_t i = 0; i < c.adds; ++i)
                host.Push({HostEvent::Add, ROW_ACTIVE, ++row, 0, 0, {}, {}});
            host.DeliverNow();
            QCOMPARE(host.NextLookMs(), c.nextLookMs);
        }
    }

    // One drain's events as the window hears them (A add, S sound id, N and F the
    // animation on and off, M a message): sounds and the animation never split the Adds;
    // the last sound is played, the animation turned once, a message keeps its place.
    void drainPlaysOneSoundAndTurnsTheAnimationOnce() {
        const struct {
            const char* events;
            const char* calls;
        } cases[] = {
            {"N A1 S144 A2 S141 F A3", "rows 1 2 3 / sound 141 / anim on / anim off"},
            {"N A1 F N A2 F N A3", "rows 1 2 3 / anim on"},
            {"A1 F", "rows 1 / anim off"},
            {"A1 S142 M A2", "rows 1 / message / rows 2 / sound 142"},
        };
        for (const auto& c : cases) {
            using E = HostEvent;
            std::vector<E> events;
            for (const QByteArray& step : QByteArray(c.events).split(' ')) {
                const int n = step.mid(1).toInt();
                switch (step.at(0)) {
                case 'A': events.push_back({E::Add, ROW_ACTIVE, RowHandle(n), 0, 0, {}}); break;
                case 'S': events.push_back({E::Sound, ROW_ACTIVE, 0, n, 0, {}}); break;
                case 'N': events.push_back({E::Animation, ROW_ACTIVE, 0, 1, 0, {}}); break;
                case 'F': events.push_back({E::Animation, ROW_ACTIVE, 0, 0, 0, {}}); break;
                case 'M': events.push_back({E::Message, ROW_ACTIVE, 0, 0, 0, {}}); break;
                }
            }
            ScriptWindow window;
            CRowCoalescer::Deliver(events, window, [&window](const E& e) {
                if (e.kind == E::Sound)
                    window.PlayWaveResource(int(e.done));
                else if (e.kind == E::Animation && e.done)
                    window.StartAnimation();
                else if (e.kind == E::Animation)
                    window.StopAnimation();
                else if (e.kind == E::Message)
                    window.ShowMessage({});
            });
            QCOMPARE(window.calls.join(QStringLiteral(" / ")), QString::fromLatin1(c.calls));
        }
    }

    // Twenty downloads, each admitted before the next is asked: one row each, in the
    // order asked, each ending blue, and the animation started once and stopped once.
    void rowsArriveInOrderAndComplete() {
        HostedServer s;
        QVERIFY(s.host->IsListening());
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 20; ++i) {
            const QByteArray name = "f" + QByteArray::number(i);
            s.writeFile(name.constData(), 3000);
            clients.push_back(std::make_unique<Client>());
            clients.back()->request(s.port, Tftp::RRQ, name);
            QCOMPARE(Client::word(clients.back()->receive(), 2), quint16(1));
        }
        // Every client acknowledges its blocks in turn, all of them live at once.
        for (quint16 block = 1; block <= 6; ++block)
            for (auto& c : clients) {
                c->send(EngineFixture::ack(block));
                if (block < 6)
                    QCOMPARE(Client::word(c->receive(), 2), quint16(block + 1));
            }
        QVERIFY(s.shows([&] {
            return s.window.order.size() == 20 && s.host->ActiveTransfers() == 0;
        }));
        for (int i = 0; i < 20; ++i) {
            const RecordingWindow::Row& row = s.window.rows[s.window.order[i]];
            QCOMPARE(row.texts.file, QStringLiteral("f%1").arg(i));
            QCOMPARE(row.state, ROW_SENT);
            QCOMPARE(row.texts.info, QStringLiteral("Transfer Complete"));
            // Details cross the queue at a row's start and its end, never per block; the
            // start's not at all when the end replaced it in the queue.
            const QList<RowDetails> told = s.window.details.value(s.window.order[i]);
            QVERIFY(told.size() == 1 || told.size() == 2);
            QVERIFY(told.size() == 1 || !told.front().ended);
            QVERIFY(told.back().ended);
            QCOMPARE(told.back().blocks, qint64(6));
            QCOMPARE(told.back().asked, row.texts.file);
        }
        QCOMPARE(s.window.animation, (QStringList{"start", "stop"}));
    }

    // Abort while a download streams: the client hears ERROR 0, the row says so, and
    // nothing is in progress afterwards.
    void abortWhileBusy() {
        HostedServer s;
        s.writeFile("big.bin", 512 * 2000);
        Client c;
        c.request(s.port, Tftp::RRQ, "big.bin");
        QByteArray p = c.receive();
        for (int i = 0; i < 2000 && Client::word(p, 0) == Tftp::DATA; ++i) {
            if (i == 100)
                s.host->Abort();
            c.send(EngineFixture::ack(Client::word(p, 2)));
            p = c.receive();
        }
        QCOMPARE(Client::word(p, 0), quint16(Tftp::ERROR));
        QCOMPARE(Client::word(p, 2), quint16(0));
        // The abort's sound is the last thing the engine queues: wait for it, not the row.
        QVERIFY(s.shows([&] {
            return !s.window.sounds.isEmpty() && s.window.sounds.last() == int(SOUND_FAILED);
        }));
        QVERIFY2(s.info(0).startsWith(QStringLiteral("User aborts!! (at ")), qPrintable(s.info(0)));
        QCOMPARE(s.host->ActiveTransfers(), 0);
    }

    // The window closes with a download and an upload live: both clients hear why, the
    // partial upload is gone, and the rows queued until then reach the window.
    void shutdownWithLiveTransfers() {
        HostedServer s;
        s.writeFile("big.bin", 512 * 50);
        Client reader, writer;
        reader.request(s.port, Tftp::RRQ, "big.bin");
        QCOMPARE(Client::word(reader.receive(), 0), quint16(Tftp::DATA));
        writer.request(s.port, Tftp::WRQ, "up.bin");
        QCOMPARE(Client::word(writer.receive(), 0), quint16(Tftp::ACK));
        writer.send(EngineFixture::data(1, QByteArray(512, 'u')));
        QCOMPARE(Client::word(writer.receive(), 2), quint16(1));

        s.host.reset();
        for (Client* c : {&reader, &writer}) {
            const QByteArray p = c->receive();
            QCOMPARE(Client::word(p, 0), quint16(Tftp::ERROR));
            QVERIFY(p.contains("Server shutting down"));
        }
        QCOMPARE(s.window.order.size(), 2);
        QVERIFY(!QFile::exists(s.rootFile("up.bin")));
        QCOMPARE(QDir(s.dir.filePath(QStringLiteral("root"))).entryList(QDir::Files).size(), 1);
    }

    // Two engine threads on the port, clients from many ports at once: the kernel puts
    // each client on one engine and every download completes byte for byte, under row
    // keys no two share; in single-port mode every packet stays with its engine too.
    void threadsShareThePort_data() {
        QTest::addColumn<bool>("singlePort");
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("each");
        QTest::newRow("200 downloads from 50 ports") << false << 50 << 4;
        QTest::newRow("single port, 20 clients") << true << 20 << 1;
    }
    void threadsShareThePort() {
        QFETCH(bool, singlePort);
        QFETCH(int, clients);
        QFETCH(int, each);
        HostedServer s(TwoEngines(0, 0, singlePort));
        QVERIFY(s.host->IsListening());
        QCOMPARE(s.host->EngineThreads(), 2);
        std::vector<std::unique_ptr<Client>> peers;
        for (int c = 0; c < clients; ++c)
            peers.push_back(std::make_unique<Client>());
        int rounds = 0;
        for (int round = 0; round < each; ++round) {
            // Every client asks for a file of its own (1 KiB and a few bytes: 3 blocks).
            QList<QByteArray> contents;
            for (int c = 0; c < clients; ++c) {
                const QByteArray name = "r" + QByteArray::number(round) + "c" + QByteArray::number(c);
                QByteArray bytes(1024 + c, '\0');
                for (int i = 0; i < bytes.size(); ++i)
                    bytes[i] = char('a' + (i * 7 + c + round) % 26);
                s.writeFile(name.constData(), bytes);
                contents.append(bytes);
                peers[size_t(c)]->request(s.port, Tftp::RRQ, name);
            }
            QList<QByteArray> got(clients);
            for (quint16 block = 1; block <= 3; ++block)
                for (int c = 0; c < clients; ++c) {
                    const QByteArray p = peers[size_t(c)]->receive();
                    QCOMPARE(Client::word(p, 0), quint16(Tftp::DATA));
                    QCOMPARE(Client::word(p, 2), block);
                    if (singlePort)
                        QCOMPARE(peers[size_t(c)]->serverPort, s.port);
                    got[c] += p.mid(4);
                    peers[size_t(c)]->send(EngineFixture::ack(block));
                }
            QCOMPARE(got, contents);
            ++rounds;
        }
        const int total = clients * rounds;
        QVERIFY(s.shows([&] {
            return s.window.order.size() == total && s.host->ActiveTransfers() == 0;
        }));
        QCOMPARE(s.window.rows.size(), total); // no two rows under one key
        for (RowHandle row : s.window.order)
            QCOMPARE(s.window.rows[row].state, ROW_SENT);
        const std::vector<int> perEngine = s.host->RowsPerEngine();
        QCOMPARE(int(perEngine.size()), 2);
        QVERIFY2(perEngine[0] > 0 && perEngine[1] > 0,
                 qPrintable(QStringLiteral("%1 / %2").arg(perEngine[0]).arg(perEngine[1])));
        QCOMPARE(perEngine[0] + perEngine[1], total);
        QCOMPARE(s.window.animation.last(), QStringLiteral("stop"));
    }

    // The limits count every engine's transfers: 20 ports of one address ask at once,
    // none acknowledging, and exactly the limit are served; the rest hear why.
    void limitsHoldAcrossThreads_data() {
        QTest::addColumn<int>("maxTotal");
        QTest::addColumn<int>("perClient");
        QTest::addColumn<int>("served");
        QTest::newRow("MaxTransfersPerClient=3") << 0 << 3 << 3;
        QTest::newRow("MaxTransfers=5") << 5 << 0 << 5;
    }
    void limitsHoldAcrossThreads() {
        QFETCH(int, maxTotal);
        QFETCH(int, perClient);
        QFETCH(int, served);
        HostedServer s(TwoEngines(maxTotal, perClient));
        QCOMPARE(s.host->EngineThreads(), 2);
        s.writeFile("big.bin", 512 * 20);
        std::vector<std::unique_ptr<Client>> peers;
        for (int c = 0; c < 20; ++c) {
            peers.push_back(std::make_unique<Client>());
            peers.back()->request(s.port, Tftp::RRQ, "big.bin");
        }
        int data = 0, refused = 0;
        for (auto& peer : peers) {
            const QByteArray p = peer->receive();
            if (Client::word(p, 0) == Tftp::DATA)
                ++data;
            else if (Client::word(p, 0) == Tftp::ERROR)
                ++refused;
        }
        QCOMPARE(data, served);
        QCOMPARE(refused, 20 - served);
        QVERIFY(s.shows([&] { return s.window.order.size() == 20; }));
        const std::vector<int> perEngine = s.host->RowsPerEngine();
        QVERIFY(perEngine[0] > 0 && perEngine[1] > 0); // the requests reached both
        int failedRows = 0;
        for (RowHandle row : s.window.order)
            failedRows += s.window.rows[row].state == ROW_FAILED ? 1 : 0;
        QCOMPARE(failedRows, 20 - served);
    }

    // Abort All reaches every engine: each client of either hears ERROR 0, and nothing
    // is in progress afterwards.
    void abortReachesEveryEngine() {
        HostedServer s(TwoEngines());
        s.writeFile("big.bin", 512 * 50);
        std::vector<std::unique_ptr<Client>> peers;
        for (int c = 0; c < 20; ++c) {
            peers.push_back(std::make_unique<Client>());
            peers.back()->request(s.port, Tftp::RRQ, "big.bin");
            QCOMPARE(Client::word(peers.back()->receive(), 0), quint16(Tftp::DATA));
        }
        const std::vector<int> perEngine = s.host->RowsPerEngine();
        QVERIFY(perEngine[0] > 0 && perEngine[1] > 0);
        QVERIFY(s.shows([&] { return s.host->ActiveTransfers() == 20; }));
        s.host->Abort();
        for (auto& peer : peers) {
            QByteArray p = peer->receive();
            // A block resent before the abort may come first.
            for (int i = 0; i < 5 && Client::word(p, 0) == Tftp::DATA; ++i)
                p = peer->receive();
            QCOMPARE(Client::word(p, 0), quint16(Tftp::ERROR));
            QCOMPARE(Client::word(p, 2), quint16(0));
        }
        QVERIFY(s.shows([&] {
            return s.host->ActiveTransfers() == 0 && !s.window.animation.isEmpty() &&
                   s.window.animation.last() == QStringLiteral("stop");
        }));
    }

    // Setup and Security while a transfer runs: the engine takes the new sounds and
    // rules at once, and what the settings file says (overwriting) from the next request.
    void settingsChangedMidTransfer() {
        HostedServer s;
        s.writeFile("old.bin", 10);
        Client writer;
        writer.request(s.port, Tftp::WRQ, "new.bin");
        QCOMPARE(Client::word(writer.receive(), 0), quint16(Tftp::ACK));

        s.host->SetSoundOn(false);
        s.store.WriteProfileInt(CSettingsStore::kOverWrite, 0);
        AccessRules rules = s.host->Rules();
        rules.allowClient = 1;
        rules.clients[0] = QStringLiteral("127.0.0.9");
        s.host->SetRules(rules);
        QVERIFY(s.shows([&] { return s.window.order.size() == 1; }));
        const int soundsBefore = s.window.sounds.size();

        writer.send(EngineFixture::data(1, "last"));
        QCOMPARE(Client::word(writer.receive(), 2), quint16(1));
        Client refused;
        refused.request(s.port, Tftp::WRQ, "old.bin");
        QCOMPARE(Client::word(refused.receive(), 0), quint16(Tftp::ERROR));
        QVERIFY(s.shows([&] { return s.window.order.size() == 2; }));
        QCOMPARE(s.info(0), QStringLiteral("Receive Complete"));
        QCOMPARE(s.window.rows[s.window.order[1]].state, ROW_FAILED);
        QCOMPARE(s.window.sounds.size(), soundsBefore);

        rules.allowClient = 0;
        s.host->SetRules(rules);
        Client existing;
        existing.request(s.port, Tftp::WRQ, "old.bin");
        const QByteArray p = existing.receive();
        QCOMPARE(Client::word(p, 0), quint16(Tftp::ERROR));
        QCOMPARE(Client::word(p, 2), quint16(6)); // overwriting is off now
    }

    // Another program edits the settings file while the server runs: within a second
    // the next requests follow the new working folder and overwriting.
    void handEditsReachTheNextRequest() {
        HostedServer s;
        QDir(s.dir.path()).mkdir(QStringLiteral("other"));
        QFile z(s.dir.filePath(QStringLiteral("other/z")));
        QVERIFY(z.open(QIODevice::WriteOnly));
        z.write("zz");
        z.close();
        {
            QSettings outside(s.store.FileName(), QSettings::IniFormat);
            outside.setValue("WorkingDir/DirName", s.dir.filePath(QStringLiteral("other")));
            outside.setValue("WorkingDir/OverWrite", 0);
        }
        QVERIFY(s.shows([&] { return !s.host->Settings().overWrite; }));
        Client reader;
        reader.request(s.port, Tftp::RRQ, "z");
        const QByteArray block = reader.receive();
        QCOMPARE(Client::word(block, 0), quint16(Tftp::DATA));
        QCOMPARE(block.mid(4), QByteArray("zz"));
        reader.send(EngineFixture::ack(1));
        Client writer;
        writer.request(s.port, Tftp::WRQ, "z");
        const QByteArray p = writer.receive();
        QCOMPARE(Client::word(p, 0), quint16(Tftp::ERROR));
        QCOMPARE(Client::word(p, 2), quint16(6));
    }
};

QTEST_GUILESS_MAIN(TestEngineHost)
#include "tst_enginehost.moc"
