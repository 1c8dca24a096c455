#include "EngineFixture.h"
#include "FolderFiles.h"

#include <QtTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// What a hostile folder or client tries: links out of the folder, FIFOs and devices,
// a missing working folder, names that are not UTF-8, half-sent files, floods.
class TestHostile : public QObject {
    Q_OBJECT

    static void verifyDenied(EngineFixture& f) {
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested File Access Denied!!"));
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

        f.rrq("l");
        verifyDenied(f);
        f.rrq("d/secret", 5001);
        verifyDenied(f);
        for (const QByteArray& name : {QByteArray("d/new.txt"), QByteArray("d/victim"),
                                       QByteArray("v"), QByteArray("dangling")}) {
            const quint16 port = f.wrq(name, 5002);
            if (f.lastRow().state == ROW_ACTIVE) // should never be admitted; finish it to see
                f.toTransfer(port, EngineFixture::data(1, "evil"), 5002);
            verifyDenied(f);
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
        verifyDenied(f);
        f.wrq("fifo", 5001);
        verifyDenied(f);
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(f.path("fifo")).constData(), &st) == 0 &&
                S_ISFIFO(st.st_mode));
        // A copy of /dev/zero (only root may make one).
        const QByteArray zero = QFile::encodeName(f.path("zero"));
        if (::mknod(zero.constData(), S_IFCHR | 0666, makedev(1, 5)) == 0) {
            f.rrq("zero", 5002);
            verifyDenied(f);
            f.wrq("zero", 5003);
            verifyDenied(f);
            QVERIFY(::stat(zero.constData(), &st) == 0 && S_ISCHR(st.st_mode));
        }
    }

    // Without a usable working folder nothing is served or written anywhere.
    void noWorkingFolderServesNothing() {
        EngineFixture f;
        f.writeFile("file", "x");
        for (const QString& dir :
             {QString(), QStringLiteral("relative"), f.path("missing"), f.path("file")}) {
            f.store->WriteProfileString(CSettingsStore::kDirName, dir);
            f.rrq("etc/passwd");
            verifyDenied(f);
            f.wrq("planted", 5001);
            verifyDenied(f);
        }
        QVERIFY(!QFile::exists(QDir::current().filePath("planted")));
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
        verifyDenied(f);
    }

    // A flood from one address neither takes every descriptor nor keeps others out.
    void liveTransfersAreLimited() {
        EngineFixture f;
        f.store->WriteProfileInt(CSettingsStore::kMaxTransfersPerClient, 2);
        f.store->WriteProfileInt(CSettingsStore::kMaxTransfers, 3);
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
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
