#include "EngineFixture.h"
#include "engine/platform/FolderFiles.h"
#include "engine/tftp/Exchange.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// What a hostile folder or client tries: links out of the folder, FIFOs and devices,
// a missing working folder, names that are not UTF-8, half-sent files, floods.
class TestHostile : public QObject {
    Q_OBJECT

    // The row says why: "leads outside the folder", "unreadable", "permission denied".
    static void verifyDenied(EngineFixture& f, const char* reason) {
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: Requested File Access Denied!! (%1)").arg(QLatin1String(reason)));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.sent().last(), Tftp::MakeError(2));
    }
    static QByteArray readOutside(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void linksNeverLeadOut_data() {
        QTest::addColumn<bool>("fallback");
        QTest::newRow("openat2") << false;
        QTest::newRow("real path") << true;
    }
    void linksNeverLeadOut() {
        QFETCH(bool, fallback);
        CFolderFileSystem::ForceRealPathFallback(fallback);
        EngineFixture f;
        QTemporaryDir outside;
        const QString secret = outside.filePath("secret");
        const QString victim = outside.filePath("victim");
        QFile(secret).open(QIODevice::WriteOnly);
        {
            QFile v(victim);
            v.open(QIODevice::WriteOnly);
            v.write("keep");
        }
        QFile::link(secret, f.path("l"));
        QFile::link(outside.path(), f.path("d"));
        QFile::link(victim, f.path("v"));
        QFile::link(outside.filePath("nothing"), f.path("dangling"));
        f.writeFile("real", "inside");
        QDir(f.root()).mkdir("sub");
        QFile::link("real", f.path("in"));
        QFile::link("../real", f.path("sub/up"));

        const char* out = "leads outside the folder";
        f.rrq("l");
        verifyDenied(f, out);
        f.rrq("d/secret", 5001);
        verifyDenied(f, out);
        for (const QByteArray& name : {QByteArray("d/new.txt"), QByteArray("d/victim"),
                                       QByteArray("v"), QByteArray("dangling")}) {
            const quint16 port = f.wrq(name, 5002);
            if (f.lastRow().state == ROW_ACTIVE) // should never be admitted; finish it to see
                f.toTransfer(port, EngineFixture::data(1, "evil"), 5002);
            // By real paths, a link to nothing cannot tell where it would lead.
            verifyDenied(f, fallback && name == "dangling" ? "permission denied" : out);
        }
        QCOMPARE(QDir(outside.path()).entryList(QDir::Files), (QStringList{"secret", "victim"}));
        QCOMPARE(readOutside(victim), QByteArray("keep"));

        // Links that stay inside the folder keep working.
        QCOMPARE(f.download(f.rrq("in", 5003), 5003), QByteArray("inside"));
        QCOMPARE(f.download(f.rrq("sub/up", 5004), 5004), QByteArray("inside"));
        CFolderFileSystem::ForceRealPathFallback(false);
    }

    // Only regular files are served or replaced: a FIFO must not stall the server, nor
    // a device stream for ever.
    void onlyRegularFiles() {
        EngineFixture f;
        QCOMPARE(::mkfifo(QFile::encodeName(f.path("fifo")).constData(), 0666), 0);
        f.rrq("fifo");
        verifyDenied(f, "unreadable");
        f.wrq("fifo", 5001);
        verifyDenied(f, "permission denied");
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(f.path("fifo")).constData(), &st) == 0 &&
                S_ISFIFO(st.st_mode));
        // A copy of /dev/zero (only root may make one).
        const QByteArray zero = QFile::encodeName(f.path("zero"));
        if (::mknod(zero.constData(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
            f.rrq("zero", 5002);
            verifyDenied(f, "unreadable");
            f.wrq("zero", 5003);
            verifyDenied(f, "permission denied");
            QVERIFY(::stat(zero.constData(), &st) == 0 && S_ISCHR(st.st_mode));
        }
    }

    // Without a usable working folder nothing is served or written anywhere.
    void noWorkingFolderServesNothing() {
        EngineFixture f;
        f.writeFile("file", "x");
        for (const QString& dir :
             {QString(), QStringLiteral("relative"), f.path("missing"), f.path("file")}) {
            f.change([&dir](EngineSettings& s) { s.workingFolder = dir; });
            // Refused as an access violation; the row says which folder is missing.
            for (int upload = 0; upload < 2; ++upload) {
                if (upload)
                    f.wrq("planted", 5001);
                else
                    f.rrq("etc/passwd");
                QVERIFY(f.lastRow().texts.info.startsWith(QLatin1String("Working folder missing: ")));
                QCOMPARE(f.lastRow().state, ROW_FAILED);
                QCOMPARE(f.sent().last(), Tftp::MakeError(2));
            }
        }
        QVERIFY(!QFile::exists(QDir::current().filePath("planted")));
    }

    // The folder is kept open between requests, yet a folder put in its place is the one
    // served: what was renamed away is not.
    void replacedWorkingFolderIsServed() {
        EngineFixture f;
        f.writeFile("boot.img", "old");
        QCOMPARE(f.download(f.rrq("boot.img")), QByteArray("old"));
        QVERIFY(QDir().rename(f.root(), f.root() + QStringLiteral(".away")));
        QVERIFY(QDir().mkdir(f.root()));
        f.writeFile("boot.img", "new");
        QCOMPARE(f.download(f.rrq("boot.img", 5001), 5001), QByteArray("new"));
    }

    // Between two requests the folder, or one above it, is renamed away or removed, and
    // another may be put in its place: the next request sees what is at the path now.
    void workingFolderChangedBetweenRequests_data() {
        QTest::addColumn<QString>("moved"); // renamed away; empty: the folder removed
        QTest::addColumn<bool>("replaced");
        QTest::newRow("the folder renamed, another put there") << "a/b" << true;
        QTest::newRow("the folder above renamed, another put there") << "a" << true;
        QTest::newRow("the folder removed, another made") << "" << true;
        QTest::newRow("the folder renamed away") << "a/b" << false;
        QTest::newRow("the folder above renamed away") << "a" << false;
        QTest::newRow("the folder removed") << "" << false;
    }
    void workingFolderChangedBetweenRequests() {
        QFETCH(QString, moved);
        QFETCH(bool, replaced);
        EngineFixture f;
        const QString served = f.path("a/b");
        QVERIFY(QDir().mkpath(served));
        f.writeFile("a/b/boot.img", "old");
        f.change([&served](EngineSettings& s) { s.workingFolder = served; });
        QCOMPARE(f.download(f.rrq("boot.img")), QByteArray("old"));
        if (moved.isEmpty())
            QVERIFY(QDir(served).removeRecursively());
        else
            QVERIFY(QDir().rename(f.path(moved), f.path(moved) + QStringLiteral(".away")));
        if (replaced) {
            QVERIFY(QDir().mkpath(served));
            f.writeFile("a/b/boot.img", "new");
            QCOMPARE(f.download(f.rrq("boot.img", 5001), 5001), QByteArray("new"));
        } else {
            f.rrq("boot.img", 5001);
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Working folder missing: ") + served);
            QCOMPARE(f.sent().last(), Tftp::MakeError(2));
        }
    }

    // Names are bytes: two names that differ only in bytes that are not UTF-8 are two
    // files, and a name on disk that is not UTF-8 can be fetched.
    void namesAreTheirBytes() {
        EngineFixture f;
        const QByteArray e9("coll\xe9.txt"), e8("coll\xe8.txt");
        for (const QByteArray& name : {e9, e8}) {
            const quint16 port = f.wrq(name);
            f.toTransfer(port, EngineFixture::data(1, name));
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        }
        QCOMPARE(f.download(f.rrq(e9, 5001), 5001), e9);
        QCOMPARE(f.download(f.rrq(e8, 5002), 5002), e8);
    }

    // A control character in a name is refused as HTTP refuses it, read or write: a line
    // end in an uploaded name would become a line of whatever lists the folder.
    void controlCharactersRefused() {
        EngineFixture f;
        f.writeFile("a.txt", "x");
        quint16 port = 5000;
        for (const QByteArray& name :
             {QByteArray("vmlinuz-x\nchain evil.efi"), QByteArray("a.txt\r"), QByteArray("\x1b[2Ja.txt"),
              QByteArray("a\x7f.txt"), QByteArray("a\t.txt"), QByteArray("\x01")}) {
            for (const bool upload : {false, true}) {
                f.send(EngineFixture::request(upload ? Tftp::WRQ : Tftp::RRQ, name), ++port);
                verifyDenied(f, "control character in the name");
            }
        }
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"a.txt"});
        // Bytes above DEL are names like any other.
        QCOMPARE(f.download(f.rrq("a.txt", ++port), port), QByteArray("x"));
    }

    // The written menu lists only what a client could fetch under a name that stays a
    // name in iPXE's script: each hostile file here is left out, and only [Boot] Menu is
    // on (no boot offers, no DHCP server of ours).
    void menuLeavesOutWhatCouldInject() {
        EngineFixture f;
        QDir(f.dir.path()).mkdir("outside");
        QFile outside(f.dir.filePath("outside/vmlinuz-out"));
        QVERIFY(outside.open(QIODevice::WriteOnly));
        outside.close();
        f.writeFile("vmlinuz-1", "k");
        f.writeFile("tool.efi", "t");
        for (const QByteArray& name :
             {QByteArray("vmlinuz-x\nchain evil.efi"), QByteArray("a && chain evil.efi"),
              QByteArray("a || chain evil.efi"), QByteArray("a;chain evil.efi"), QByteArray("x${ip}.efi"),
              QByteArray("#c.efi"), QByteArray("q\".efi"), QByteArray("not-utf8-\xff.efi"),
              QByteArray(124, 'l') + ".efi"}) {
            // By its bytes: "\xff" is no UTF-8, and Qt would change it.
            const int fd = ::creat((QFile::encodeName(f.root()) + '/' + name).constData(), 0644);
            QVERIFY2(fd >= 0, name.constData());
            ::close(fd);
        }
        const QByteArray root = QFile::encodeName(f.root());
        QCOMPARE(::symlink("../outside/vmlinuz-out", (root + "/vmlinuz-rel").constData()), 0);
        QCOMPARE(::symlink(QFile::encodeName(outside.fileName()).constData(),
                           (root + "/vmlinuz-abs").constData()), 0);
        QCOMPARE(::symlink(QFile::encodeName(f.path("tool.efi")).constData(),
                           (root + "/inside-abs.efi").constData()), 0);
        QCOMPARE(::symlink("tool.efi", (root + "/inside.efi").constData()), 0);
        QCOMPARE(::mkfifo((root + "/vmlinuz-fifo").constData(), 0666), 0);
        QDir(f.root()).mkdir("linux-tools");
        f.change([](EngineSettings& s) { s.menu = true; });
        const QByteArray script = f.readFile("menu-generated.ipxe");
        QList<QByteArray> items;
        for (const QByteArray& line : script.split('\n'))
            if (line.startsWith("item ") || line.startsWith("chain ") || line.startsWith("kernel "))
                items.append(line);
        const QList<QByteArray> expected = {
            "item e1 vmlinuz-1",
            "item e2 inside.efi",
            "item e3 tool.efi",
            "kernel tftp://127.0.0.1/vmlinuz-1",
            "chain tftp://127.0.0.1/inside.efi",
            "chain tftp://127.0.0.1/tool.efi",
        };
        if (items != expected)
            QFAIL(script.constData());
        // TFTP refuses each link and the FIFO the menu left out.
        quint16 port = 6000;
        for (const char* name : {"vmlinuz-rel", "vmlinuz-abs", "inside-abs.efi", "vmlinuz-fifo"}) {
            f.sent();
            f.rrq(name, ++port);
            QCOMPARE(f.sent().value(0), Tftp::MakeError(2));
        }
        // What is on disk is what clients get: a menu changed in place is put back
        // within a second, though the folder itself did not change.
        QFile menu(f.path("menu-generated.ipxe"));
        QVERIFY(menu.open(QIODevice::ReadWrite));
        menu.write("#!ipxe\nchain tftp://127.0.0.1/evil.efi\n");
        menu.resize(menu.pos());
        menu.close();
        f.clock().advance(1000);
        QCOMPARE(f.readFile("menu-generated.ipxe"), script);
    }

    // An upload cut short (the program closing) leaves no file that looks complete.
    void cutShortUploadLeavesNothing() {
        EngineFixture f;
        const quint16 port = f.wrq("image.bin");
        f.toTransfer(port, EngineFixture::data(1, QByteArray(512, 'i')));
        f.engine->Shutdown();
        QVERIFY(QDir(f.root()).isEmpty(QDir::Files | QDir::Hidden));
    }

    // While an upload runs, no name in the folder reaches its data (a crash then
    // leaves nothing, no client can read or overwrite it); it appears only complete.
    // Leftovers of versions that did name them are removed at start.
    void unfinishedUploadsHaveNoName() {
        EngineFixture f;
        f.writeFile("target", "old");
        const quint16 port = f.wrq("target", 5001);
        f.toTransfer(port, EngineFixture::data(1, QByteArray(512, 'n')), 5001);
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"target"});
        QCOMPARE(f.readFile("target"), QByteArray("old"));
        f.toTransfer(port, EngineFixture::data(2, "end"), 5001);
        QCOMPARE(f.lastRow().state, ROW_RECEIVED);
        QCOMPARE(f.readFile("target"), QByteArray(512, 'n') + "end");
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"target"});

        QDir(f.root()).mkdir("sub");
        for (const char* name : {".a.bin.1f2e3d.part", "sub/.b:0123456789abcdef.part",
                                 ".keep.part", ".x.notes.part", "y.1f.part"})
            f.writeFile(name, "x");
        QCOMPARE(CFolderFileSystem::RemoveUnfinishedUploads(f.root()),
                 (QStringList{".a.bin.1f2e3d.part", "sub/.b:0123456789abcdef.part"}));
        QCOMPARE(QDir(f.root()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
                 (QStringList{".keep.part", ".x.notes.part", "target", "y.1f.part"}));
        f.rrq(".b:0123456789abcdef.part", 5002); // the unfinished form is never reachable
        verifyDenied(f, "leads outside the folder");
    }

    // A flood from one address neither takes every descriptor nor keeps others out.
    void liveTransfersAreLimited() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.maxTransfersPerClient = 2, s.maxTransfers = 3; });
        f.writeFile("f", QByteArray(2000, 'f'));
        f.rrq("f", 6000);
        f.rrq("f", 6001);
        f.sent();
        f.rrq("f", 6002); // never acknowledged, the two before stay live
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Too Many Transfers!! Deny This Request!!"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QCOMPARE(f.sent(),
                 QList<QByteArray>{Tftp::MakeError(0, "Too many transfers, try again later")});
        f.client = QHostAddress("127.0.0.2");
        f.rrq("f", 6003);
        QCOMPARE(f.lastRow().state, ROW_ACTIVE);
        f.client = QHostAddress("127.0.0.3");
        f.rrq("f", 6004); // over the total
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        f.clock().advance(6 * 20000); // the flood gives up; service resumes
        f.rrq("f", 6005);
        QCOMPARE(f.lastRow().state, ROW_ACTIVE);
    }

    // A switch backing up its files: finished uploads wait a while for a repeated last
    // block, but no longer count against the client's limit.
    void finishedUploadsLeaveTheLimit() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.maxTransfersPerClient = 2; });
        for (int i = 0; i < 4; ++i) {
            const quint16 port = f.wrq(QByteArray("cfg") + QByteArray::number(i));
            f.toTransfer(port, EngineFixture::data(1, "short"));
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        }
    }
    // atftp's load case and many boot clients behind one NAT address: 200 downloads at
    // once from one address are served by default; under the descriptors' limit one
    // address still holds at most half of the transfers, and others get the rest.
    void manyTransfersFromOneAddress() {
        struct rlimit saved;
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        struct rlimit lower = saved;
        lower.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 1024); // 480 transfers in all
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &lower), 0);
        {
            EngineFixture f;
            f.writeFile("f", QByteArray(2000, 'f'));
            int refused = 0;
            for (int i = 0; i < 240; ++i) {
                f.rrq("f", quint16(6000 + i));
                refused += f.lastRow().state == ROW_FAILED;
            }
            QCOMPARE(refused, 0);
            QCOMPARE(f.engine->LiveTransferCount(), 240);
            f.rrq("f", 7000);
            QCOMPARE(f.lastRow().texts.info,
                     QStringLiteral("Too Many Transfers!! Deny This Request!!"));
            f.client = QHostAddress("127.0.0.2");
            f.rrq("f", 7001);
            QCOMPARE(f.lastRow().state, ROW_ACTIVE);
        }
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    }

    // Only DATA drives an upload and only ACK a download; anything else is a stray
    // packet: no answer, nothing changes.
    void wrongKindOfPacketChangesNothing() {
        EngineFixture f;
        QByteArray body(2660, '\0');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char(i * 7);
        quint16 port = f.wrq("up.bin");
        f.toTransfer(port, EngineFixture::data(1, body.left(512)));
        f.sent();
        f.toTransfer(port, EngineFixture::ack(2)); // not an empty last block
        QVERIFY(f.sent().isEmpty());
        QCOMPARE(f.lastRow().state, ROW_ACTIVE);
        for (int b = 2; b <= 6; ++b)
            f.toTransfer(port, EngineFixture::data(quint16(b), body.mid((b - 1) * 512, 512)));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Receive Complete"));
        QCOMPARE(f.readFile("up.bin"), body);

        // Downloads: a DATA does not stand for an ACK, with or without an OACK.
        f.writeFile("down.bin", body);
        port = f.rrq("down.bin", 5001);
        f.sent();
        f.toTransfer(port, EngineFixture::data(1, "x"), 5001);
        QVERIFY(f.sent().isEmpty());
        QByteArray withSize = EngineFixture::request(Tftp::RRQ, "down.bin");
        withSize.append("tsize").append('\0').append("0").append('\0');
        port = f.send(withSize, 5002);
        QCOMPARE(EngineFixture::opcode(f.sent().last()), quint16(Tftp::OACK));
        f.toTransfer(port, EngineFixture::data(0, ""), 5002);
        QVERIFY(f.sent().isEmpty());
        f.toTransfer(port, EngineFixture::ack(0), 5002);
        QCOMPARE(f.download(port, 5002), body);
    }

    // An ERROR is never answered, from anyone; a stranger hears ERROR 5 at most once a
    // second, so two transfers made to answer each other stop at once.
    void errorsAreNeverAnswered() {
        EngineFixture f;
        f.writeFile("f", QByteArray(2000, 'f'));
        const quint16 a = f.rrq("f");
        const quint16 b = f.rrq("f", 5001);
        f.sent();
        f.toTransfer(a, Tftp::MakeError(5), b); // forged: from B's port to A's
        QVERIFY(f.sent().isEmpty());
        for (int i = 0; i < 3; ++i)
            f.toTransfer(a, EngineFixture::ack(1), 7777);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(5)});
        f.clock().advance(1001);
        f.sent();
        f.toTransfer(a, EngineFixture::ack(1), 7777);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(5)});
        QCOMPARE(f.window.rows.first().state, ROW_ACTIVE);
    }

    // Transfer ports cannot be guessed from the one before, and stay in the range.
    void transferPortsAreNotSequential() {
        EngineFixture f;
        f.writeFile("f", QByteArray(2000, 'f'));
        QList<quint16> ports;
        for (int i = 0; i < 12; ++i)
            ports.append(f.rrq("f", quint16(6000 + i)));
        int steps = 0;
        for (int i = 1; i < ports.size(); ++i) {
            QVERIFY(ports[i] >= 29001 && ports[i] <= 65000);
            steps += ports[i] == ports[i - 1] + 1;
        }
        QVERIFY(steps < 3);
        QCOMPARE(QSet<quint16>(ports.begin(), ports.end()).size(), ports.size());
    }

    // Nothing can be sent back to port 0: no transfer, no row, no sound.
    void sourcePortZeroIsIgnored() {
        EngineFixture f;
        f.writeFile("f", "f");
        f.rrq("f", 0);
        QVERIFY(f.window.rows.isEmpty());
        QVERIFY(f.sent().isEmpty());
        QVERIFY(f.window.sounds.isEmpty());
        QCOMPARE(f.net().openSockets, 1);
    }

    // Every transfer port taken: the client hears it from the listener. In single-port
    // mode no port is taken.
    void noFreePortIsTold() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.portFirst = 40000, s.portLast = 40001; });
        f.writeFile("f", QByteArray(2000, 'f'));
        f.rrq("f", 6000);
        f.rrq("f", 6001);
        f.net().takeSent();
        f.rrq("f", 6002);
        const QList<FakeDatagram> out = f.net().sent;
        QCOMPARE(out.size(), 1);
        if (EngineFixture::singlePort) { // no port is bound: the range limits nothing
            QCOMPARE(out.first().data, EngineFixture::data(1, QByteArray(512, 'f')));
            QCOMPARE(f.net().sentFrom.last(), EngineFixture::kListen);
            QCOMPARE(f.net().openSockets, 1);
            return;
        }
        QCOMPARE(out.first().data, Tftp::MakeError(0, "No free transfer port, try again later"));
        QCOMPARE(f.net().sentFrom.last(), EngineFixture::kListen);
        QCOMPARE(out.first().peerPort, quint16(6002));
        QCOMPARE(f.window.messages.size(), 1);
    }

    // A dual-stack socket shows an IPv4 client as ::ffff:a.b.c.d: still the same client.
    void mappedAddressIsTheSameClient() {
        EngineFixture f;
        f.writeFile("f", QByteArray(700, 'f'));
        const QHostAddress mapped(QStringLiteral("::ffff:127.0.0.1"));
        f.net().deliver(EngineFixture::kListen, EngineFixture::request(Tftp::RRQ, "f"), mapped,
                        EngineFixture::kClientPort);
        const quint16 port = f.engine->PortCounter();
        QCOMPARE(f.lastRow().texts.client, QStringLiteral("127.0.0.1"));
        f.sent();
        f.net().deliver(f.portOf(port), EngineFixture::ack(1), f.client, EngineFixture::kClientPort);
        QCOMPARE(f.sent().last(), EngineFixture::data(2, QByteArray(188, 'f')));
        f.net().deliver(f.portOf(port), EngineFixture::ack(2), mapped, EngineFixture::kClientPort);
        QVERIFY(f.sent().isEmpty());
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Transfer Complete"));
        QVERIFY(!f.engine->FindTransfer(port));
    }

    // A client that goes silent inside a window costs at most one window per time-out
    // (it may hold the first block and wait for the next, as atftp does), five times.
    void silentWindowedClientCostsOneWindowPerTimeOut() {
        EngineFixture f;
        QByteArray body(100000, '\0');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char(i * 11 + i / 253);
        f.writeFile("w", body);
        QByteArray rrq = EngineFixture::request(Tftp::RRQ, "w");
        rrq.append("blksize").append('\0').append("1468").append('\0');
        rrq.append("windowsize").append('\0').append("16").append('\0');
        const quint16 port = f.send(rrq);
        f.sent();
        f.toTransfer(port, EngineFixture::ack(0));
        qint64 bytes = 0;
        int retries = 0;
        for (int i = 0; i < 20 && f.engine->FindTransfer(port); ++i) {
            for (const QByteArray& p : f.sent())
                if (EngineFixture::opcode(p) == Tftp::DATA)
                    bytes += p.size() - 4;
            f.clock().advance(20000);
            ++retries;
        }
        for (const QByteArray& p : f.sent())
            if (EngineFixture::opcode(p) == Tftp::DATA)
                bytes += p.size() - 4;
        QVERIFY(!f.engine->FindTransfer(port));
        QVERIFY2(bytes <= qint64(1 + Exchange::CExchange::kMaxRetries) * 16 * 1468,
                 qPrintable(QString::number(bytes)));
    }

    // The last window lost once, then acknowledged: the row says it is complete.
    void resentLastWindowEndsComplete() {
        EngineFixture f;
        f.writeFile("small", QByteArray(3 * 1468 + 100, 's'));
        QByteArray rrq = EngineFixture::request(Tftp::RRQ, "small");
        rrq.append("blksize").append('\0').append("1468").append('\0');
        rrq.append("windowsize").append('\0').append("16").append('\0');
        const quint16 port = f.send(rrq, 5001);
        f.toTransfer(port, EngineFixture::ack(0), 5001);
        f.sent();
        f.clock().advance(20000); // nothing came through: time-out
        QVERIFY(!f.sent().isEmpty());
        f.clock().advance(300);
        f.toTransfer(port, EngineFixture::ack(0), 5001); // and the client asks again
        f.toTransfer(port, EngineFixture::ack(4), 5001);
        QVERIFY(!f.engine->FindTransfer(port));
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Transfer Complete (blksize 1468, windowsize 16)"));
        QCOMPARE(f.lastRow().state, ROW_SENT);
    }

    // Told the size, the client counts on it: a file cut or grown before its end went
    // out ends with an ERROR and a red row, never with "Transfer Complete".
    void fileChangedAfterSizeTold_data() {
        QTest::addColumn<int>("blockSize");
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::newRow("lock-step, cut") << 512 << 1 << 3000 << 1000;
        QTest::newRow("lock-step, cut to nothing") << 512 << 1 << 3000 << 0;
        QTest::newRow("lock-step, grown") << 512 << 1 << 1024 << 1100;
        QTest::newRow("window, cut") << 1024 << 4 << 20000 << 9000;
        QTest::newRow("window, grown") << 1024 << 4 << 5000 << 20000;
    }
    void fileChangedAfterSizeTold() {
        QFETCH(int, blockSize);
        QFETCH(int, window);
        QFETCH(int, before);
        QFETCH(int, after);
        EngineFixture f;
        f.writeFile("img", QByteArray(before, 'i'));
        QByteArray rrq = EngineFixture::request(Tftp::RRQ, "img");
        for (const auto& [name, value] :
             {std::pair<QByteArray, int>{"tsize", 0}, {"blksize", blockSize}, {"windowsize", window}})
            rrq.append(name).append('\0').append(QByteArray::number(value)).append('\0');
        const quint16 port = f.send(rrq);
        QVERIFY(f.sent().last().contains(QByteArray("tsize\0", 6) + QByteArray::number(before)));
        QVERIFY(QFile::resize(f.path("img"), after));
        QByteArray got, last;
        quint16 acked = 0;
        for (int round = 0; round < 100 && f.engine->FindTransfer(port); ++round) {
            f.toTransfer(port, EngineFixture::ack(acked));
            for (const QByteArray& p : f.sent()) {
                last = p;
                if (EngineFixture::opcode(p) == Tftp::DATA) {
                    got += p.mid(4);
                    acked = EngineFixture::number(p);
                }
            }
        }
        QVERIFY(got.size() <= std::min(before, after));
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("File changed during transfer"));
        QCOMPARE(f.lastRow().state, ROW_FAILED);
        QVERIFY(!f.engine->FindTransfer(port));
        QCOMPARE(last, Tftp::MakeError(0, "File changed during transfer"));
    }

    // A request the network duplicated is no retransmission by the client: the copy
    // right behind it gets no second OACK (atftp gives a transfer up on one); a repeat
    // at the client's own pace does.
    void duplicatedRequestAnsweredOnce() {
        EngineFixture f;
        f.writeFile("img", QByteArray(3000, 'i'));
        QByteArray rrq = EngineFixture::request(Tftp::RRQ, "img");
        rrq.append("tsize").append('\0').append("0").append('\0');
        f.send(rrq);
        QCOMPARE(EngineFixture::opcode(f.sent().value(0)), quint16(Tftp::OACK));
        f.clock().advance(2);
        f.send(rrq);
        QVERIFY(f.sent().isEmpty());
        f.clock().advance(1000);
        f.send(rrq);
        QCOMPARE(EngineFixture::opcode(f.sent().value(0)), quint16(Tftp::OACK));
        QCOMPARE(f.engine->LiveTransferCount(), 1);
    }

    // A windowed client that has acknowledged data and then misses a block keeps the
    // blocks after it and waits (atftp): after a time-out it gets the whole window again
    // from its first unacknowledged block, one window per time-out. The row tells the
    // stall and its progress never goes back.
    void stalledWindowGetsTheWindowAgain() {
        EngineFixture f;
        QByteArray body(64 * 1024, '\0');
        for (int i = 0; i < body.size(); ++i)
            body[i] = char(i * 13 + i / 251);
        f.writeFile("w", body);
        QByteArray rrq = EngineFixture::request(Tftp::RRQ, "w");
        rrq.append("blksize").append('\0').append("1024").append('\0');
        rrq.append("windowsize").append('\0').append("8").append('\0');
        const quint16 port = f.send(rrq);
        f.toTransfer(port, EngineFixture::ack(0));
        const auto blocks = [&f] {
            QList<quint16> numbers;
            for (const QByteArray& p : f.sent())
                if (EngineFixture::opcode(p) == Tftp::DATA)
                    numbers.append(EngineFixture::number(p));
            return numbers;
        };
        QCOMPARE(blocks(), (QList<quint16>{1, 2, 3, 4, 5, 6, 7, 8}));
        f.toTransfer(port, EngineFixture::ack(8));
        QCOMPARE(blocks().size(), 8); // 9 to 16; block 9 is lost, the client waits
        const qint64 shown = f.window.rows[f.window.order.last()].sent;
        QCOMPARE(shown, qint64(8 * 1024));
        for (int retry = 1; retry <= 2; ++retry) {
            f.clock().advance(30000); // TimeOut, then half as much again after a resend
            QCOMPARE(blocks(), (QList<quint16>{9, 10, 11, 12, 13, 14, 15, 16}));
            QCOMPARE(f.lastRow().texts.info,
                     QStringLiteral("waiting for the client (retry %1 of 6)").arg(retry));
            QCOMPARE(f.window.rows[f.window.order.last()].sent, shown);
        }
        f.toTransfer(port, EngineFixture::ack(16));
        QCOMPARE(blocks().first(), quint16(17));
        QVERIFY(f.window.rows[f.window.order.last()].sent >= shown);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Total file size is 65536 Bytes (blksize 1024, windowsize 8)"));
    }
};

// Every case twice: with a port per transfer, and with all of them on the listener's.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestHostile ownPorts;
    int failed = QTest::qExec(&ownPorts, argc, argv);
    EngineFixture::singlePort = true;
    TestHostile singlePort;
    failed += QTest::qExec(&singlePort, argc, argv);
    return failed;
}
#include "tst_hostile.moc"
