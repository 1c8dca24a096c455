#include "EngineFixture.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>

// How the names boot clients and switches send find their files: letter case, drive
// letters, rewrite rules and per-client folders, all kept beneath the working folder.
class TestNames : public QObject {
    Q_OBJECT

    static const QString kNotFound;
    static const QString kDenied;

    // A one-block upload; true when the last block was acknowledged.
    static bool upload(EngineFixture& f, const QByteArray& name, const QByteArray& bytes,
                       quint16 fromPort) {
        const quint16 port = f.wrq(name, fromPort);
        if (f.sent() != QList<QByteArray>{EngineFixture::ack(0)})
            return false;
        f.toTransfer(port, EngineFixture::data(1, bytes), fromPort);
        return f.sent() == QList<QByteArray>{EngineFixture::ack(1)};
    }

private slots:
    void letterCaseIgnored() {
        EngineFixture f;
        QDir(f.root()).mkpath("boot");
        f.writeFile("boot/bcd", "store");
        QCOMPARE(f.download(f.rrq("\\Boot\\BCD")), QByteArray("store"));
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("boot/bcd"));
        QVERIFY2(f.lastRow().texts.info.endsWith(QStringLiteral(" (asked \\Boot\\BCD)")),
                 qPrintable(f.lastRow().texts.info));

        // An upload into a folder that exists in another case goes into it.
        QVERIFY(upload(f, "BOOT\\New.bin", "up", 5001));
        QCOMPARE(f.readFile("boot/New.bin"), QByteArray("up"));
        // An existing file in another case is replaced, not joined by a second spelling.
        QVERIFY(upload(f, "boot\\BCD", "new store", 5004));
        QCOMPARE(f.readFile("boot/bcd"), QByteArray("new store"));
        QVERIFY(!QFile::exists(f.path("boot/BCD")));

        // Two spellings that both match: neither is chosen.
        f.writeFile("Amb", "1");
        f.writeFile("amb", "2");
        f.rrq("AMB", 5002);
        QCOMPARE(f.lastRow().texts.info, kNotFound);

        f.change([](EngineSettings& s) { s.ignoreCase = false; });
        f.rrq("\\Boot\\BCD", 5003);
        QCOMPARE(f.lastRow().texts.info, kNotFound);
    }

    void driveLetterDropped() {
        EngineFixture f;
        QDir(f.root()).mkpath("configs");
        QVERIFY(upload(f, "d:\\configs\\sw8200", "running-config", 5000));
        QCOMPARE(f.readFile("configs/sw8200"), QByteArray("running-config"));
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("configs/sw8200"));

        QFile outside(f.dir.filePath("x"));
        QVERIFY(outside.open(QIODevice::WriteOnly));
        outside.write("secret");
        outside.close();
        for (const QByteArray& name : {QByteArray("c:..\\x"), QByteArray("C:/../x")}) {
            f.sent();
            f.rrq(name, 5001);
            QCOMPARE(f.lastRow().texts.info, kDenied + QStringLiteral(" (leads outside the folder)"));
            QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        }
    }

    void rewriteRules() {
        EngineFixture f;
        QDir(f.root()).mkpath("hosts");
        f.writeFile("hosts/127.0.0.1-menu", "for this host");
        const QString rules = f.dir.filePath("remap");
        QFile file(rules);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# boot menus per host\n"
                   "rie ^PXE/(.*)$ hosts/\\i-\\1\n"
                   "q nonsense\n"
                   "r ^evil ../x\n");
        file.close();
        f.change([&rules](EngineSettings& s) { s.remapFile = rules; });

        QCOMPARE(f.download(f.rrq("pxe/menu")), QByteArray("for this host"));
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("hosts/127.0.0.1-menu"));
        QVERIFY(f.lastRow().texts.info.endsWith(QStringLiteral(" (asked pxe/menu)")));
        // The bad line is reported once, not at every request.
        QCOMPARE(f.window.messages.size(), 1);
        QVERIFY2(f.window.messages[0].contains(QStringLiteral("line 3")),
                 qPrintable(f.window.messages[0]));

        // A rule cannot lead out of the folder.
        f.sent();
        f.rrq("evil", 5001);
        QCOMPARE(f.lastRow().texts.info.left(kDenied.size()), kDenied);
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
        QCOMPARE(f.window.messages.size(), 1);

        // An IPv6 client's \i is its address as its own folder is named; a colon the
        // client sends itself is still refused.
        f.client = QHostAddress(QStringLiteral("2001:db8::7"));
        f.writeFile("hosts/2001:db8::7-menu", "for the IPv6 host");
        QCOMPARE(f.download(f.rrq("pxe/menu", 5002), 5002), QByteArray("for the IPv6 host"));
        f.rrq("pxe/x:y", 5003);
        QCOMPARE(f.lastRow().texts.info.left(kDenied.size()), kDenied);
    }

    void clientFolderFirst() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.clientFolders = true; });
        QDir(f.root()).mkpath("127.0.0.1");
        f.writeFile("127.0.0.1/a.cfg", "mine");
        f.writeFile("a.cfg", "common");
        f.writeFile("b.cfg", "shared");
        QCOMPARE(f.download(f.rrq("a.cfg")), QByteArray("mine"));
        QVERIFY(f.lastRow().texts.info.endsWith(QStringLiteral(" (asked a.cfg)")));
        QCOMPARE(f.download(f.rrq("b.cfg", 5001), 5001), QByteArray("shared"));
        QVERIFY(!f.lastRow().texts.info.contains(QStringLiteral("asked")));
        // Uploads go to the client's folder too when it has one.
        QVERIFY(upload(f, "c.cfg", "saved", 5002));
        QCOMPARE(f.readFile("127.0.0.1/c.cfg"), QByteArray("saved"));
    }

    // A flood of names that are not there must not read the folder each time: it is read
    // again only when it changed. An entry added in the same tick of the folder's clock
    // as the read is still found, since an index that young is read again on a miss.
    void caseIndexReadOncePerChange() {
        EngineFixture f;
        QDir(f.root()).mkpath("boot");
        f.writeFile("ReadMe.TXT", "r");
        f.writeFile("boot/BCD", "b");
        const int& listings = f.platform->fileSystem().folderListings;
        const auto stamp = [&f](const QString& folder, qint64 seconds) {
            const struct timespec t[2] = {{seconds, 0}, {seconds, 0}};
            return ::utimensat(AT_FDCWD, QFile::encodeName(f.path(folder)).constData(), t, 0) == 0;
        };
        QVERIFY(stamp(".", 1600000000) && stamp("boot", 1600000000));
        f.rrq("readme.txt");
        const int first = listings;
        for (int i = 0; i < 200; ++i) {
            f.rrq("Boot/missing-" + QByteArray::number(i), quint16(6000 + i));
            QCOMPARE(f.lastRow().texts.info, kNotFound);
        }
        QCOMPARE(f.download(f.rrq("BOOT/bcd", 5001), 5001), QByteArray("b"));
        QCOMPARE(listings, first + 1); // boot, once

        f.writeFile("New.BIN", "n");
        QVERIFY(stamp(".", 1600000100));
        QCOMPARE(f.download(f.rrq("new.bin", 5002), 5002), QByteArray("n"));
        QCOMPARE(listings, first + 2);

        // Young: the folder changed just now. A file added without moving its time.
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY(stamp(".", now));
        f.rrq("nothing", 5003);
        f.writeFile("Late.Txt", "l");
        QVERIFY(stamp(".", now));
        QCOMPARE(f.download(f.rrq("late.txt", 5004), 5004), QByteArray("l"));
    }

    // With the list leaving out requests for missing files, such a refusal is marked
    // for it and makes no sound; other refusals still sound.
    void missingFilesQuiet() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.hideMissingFiles = true; });
        f.rrq("nothing-here");
        QCOMPARE(f.lastRow().texts.info, kNotFound);
        QVERIFY(f.lastRow().texts.missingFile);
        QCOMPARE(f.window.sounds, QList<int>{SOUND_REQUEST});
        f.window.sounds.clear();
        f.rrq("../x", 5001);
        QVERIFY(!f.lastRow().texts.missingFile);
        QCOMPARE(f.window.sounds, (QList<int>{SOUND_REQUEST, SOUND_FAILED}));
    }
};

const QString TestNames::kNotFound = QStringLiteral("Error: Requested File Not Found!!");
const QString TestNames::kDenied = QStringLiteral("Error: Requested File Access Denied!!");

QTEST_GUILESS_MAIN(TestNames)
#include "tst_names.moc"
