#include "FakePlatform.h"
#include "engine/files/RequestPath.h"
#include "engine/server/Admission.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

// Who is served and where a name leads, from values alone: no engine, no settings file.
class TestPolicy : public QObject {
    Q_OBJECT

    static Admission listing(std::initializer_list<const char*> clients) {
        Admission a;
        a.rules.allowClient = true;
        size_t i = 0;
        for (const char* c : clients)
            a.rules.clients[i++] = QString::fromLatin1(c);
        return a;
    }

private slots:
    void clientList() {
        struct Case {
            Admission admission;
            const char* client;
            bool served;
        } cases[] = {
            {Admission{}, "203.0.113.7", true}, // no list: everyone
            {listing({}), "127.0.0.1", false},  // a list of nothing: nobody
            {listing({"198.51.100.9"}), "198.51.100.9", true},
            {listing({"198.51.100.9"}), "198.51.100.2", false},
            {listing({"198.51.100.0/24"}), "198.51.100.200", true},
            {listing({"198.51.100.0/25"}), "198.51.100.200", false},
            {listing({"::1"}), "0:0:0:0:0:0:0:1", true},    // compared parsed, not as text
            {listing({"10.0.0.1"}), "::ffff:10.0.0.1", true}, // mapped IPv4 is IPv4
            {listing({"::ffff:10.0.0.0/120"}), "10.0.0.77", true},
            {listing({"2001:db8::/32"}), "2001:db8:1::5", true},
            {listing({"2001:db8::/32"}), "2001:db9::5", false},
            {listing({"not an address", " 198.51.100.3 "}), "198.51.100.3", true},
        };
        for (const Case& c : cases)
            QVERIFY2((c.admission.Client(QHostAddress(QString::fromLatin1(c.client))) ==
                      Refusal::None) == c.served,
                     c.client);
    }

    void readFilterAndReadOnly() {
        Admission a;
        QCOMPARE(a.Read("anything"), Refusal::None);
        QCOMPARE(a.Write(), Refusal::None);
        a.rules.sendFile = true;
        a.rules.fileEdit = QStringLiteral("pxe");
        QCOMPARE(a.Read("boot/pxelinux.0"), Refusal::None);
        QCOMPARE(a.Read("boot/PXELINUX.0"), Refusal::ReadFilter); // case matters
        a.readOnly = true;
        QCOMPARE(a.Write(), Refusal::ReadOnly);
    }

    // Each cause once: what the TFTP client hears, what HTTP answers, what the row says.
    void refusalTable() {
        struct Case {
            FileCause cause;
            bool upload;
            Refusal why;
            int code, status;
            const char* row;
        } cases[] = {
            {FileCause::FileNotFound, false, Refusal::NotFound, 1, 404,
             "Error: Requested File Not Found!!"},
            {FileCause::BadPath, false, Refusal::NotFound, 1, 404,
             "Error: Requested File Not Found!!"},
            {FileCause::BadPath, true, Refusal::FolderNotFound, 1, 404,
             "Error: Requested Folder Not Found!!"},
            {FileCause::AccessDenied, false, Refusal::AccessDenied, 2, 404,
             "Error: Requested File Access Denied!! (unreadable)"},
            {FileCause::AccessDenied, true, Refusal::WriteDenied, 2, 403,
             "Error: Requested File Access Denied!! (permission denied)"},
            {FileCause::IsFolder, false, Refusal::IsFolder, 2, 404,
             "Error: Requested File Access Denied!! (a folder)"},
            {FileCause::IsFolder, true, Refusal::IsFolder, 2, 404,
             "Error: Requested File Access Denied!! (a folder)"},
            {FileCause::LeadsOut, false, Refusal::OutsideFolder, 2, 404,
             "Error: Requested File Access Denied!! (leads outside the folder)"},
            {FileCause::HardIO, false, Refusal::HardIO, 0, 500,
             "Error: Can not open file by H/W error!!"},
            {FileCause::DiskFull, true, Refusal::DiskFull, 3, 507, "Error: Disk Full!!"},
            {FileCause::Other, false, Refusal::InUse, 0, 503,
             "Error: File already using. Can not open file!!"},
        };
        for (const Case& c : cases) {
            const Refusal why = Admission::ForFile(c.cause, c.upload);
            QCOMPARE(why, c.why);
            QCOMPARE(RefusalFor(why).tftpCode, c.code);
            QCOMPARE(RefusalFor(why).httpStatus, c.status);
            QCOMPARE(RefusalRow(why), QString::fromLatin1(c.row));
        }
        QCOMPARE(Admission::ForPath(false, QString()), Refusal::None);
        QCOMPARE(Admission::ForPath(true, QString()), Refusal::OutsideFolder);
        QCOMPARE(RefusalRow(Admission::ForPath(true, "/gone"), "/gone"),
                 QStringLiteral("Working folder missing: /gone"));
        QCOMPARE(RefusalRow(Refusal::OutsideFolder),
                 QStringLiteral("Error: Requested File Access Denied!! (leads outside the folder)"));
        QCOMPARE(RefusalFor(Refusal::Client).httpStatus, 403);
        QCOMPARE(RefusalFor(Refusal::Exists).tftpCode, 6);
        QVERIFY(RefusalFor(Refusal::NotFound).missingFile);
        QVERIFY(!RefusalFor(Refusal::AccessDenied).missingFile);
    }

    // An upload by what is at its name already: the ERROR the client hears and the row.
    void uploadOverWhatIsThere() {
        struct Case {
            FileCause found;
            bool overWrite;
            Refusal why;
            int code;
            const char* row;
        } cases[] = {
            {FileCause::FileNotFound, false, Refusal::None, 0, ""},
            {FileCause::FileNotFound, true, Refusal::None, 0, ""},
            {FileCause::None, true, Refusal::None, 0, ""}, // replaced
            {FileCause::None, false, Refusal::Exists, 6,
             "File Already Exist!! Overwriting is prohibited!!"},
            // There but not writable: with overwriting off it exists all the same.
            {FileCause::AccessDenied, false, Refusal::Exists, 6,
             "File Already Exist!! Overwriting is prohibited!!"},
            {FileCause::AccessDenied, true, Refusal::WriteDenied, 2,
             "Error: Requested File Access Denied!! (permission denied)"},
            {FileCause::IsFolder, false, Refusal::IsFolder, 2,
             "Error: Requested File Access Denied!! (a folder)"},
            {FileCause::LeadsOut, true, Refusal::OutsideFolder, 2,
             "Error: Requested File Access Denied!! (leads outside the folder)"},
            {FileCause::BadPath, false, Refusal::FolderNotFound, 1,
             "Error: Requested Folder Not Found!!"},
            {FileCause::HardIO, false, Refusal::HardIO, 0, "Error: Can not open file by H/W error!!"},
            // Another transfer holds it.
            {FileCause::Other, false, Refusal::InUse, 0,
             "Error: File already using. Can not open file!!"},
            {FileCause::Other, true, Refusal::InUse, 0,
             "Error: File already using. Can not open file!!"},
        };
        for (const Case& c : cases) {
            const Refusal why = Admission::ForUpload(c.found, c.overWrite);
            QCOMPARE(why, c.why);
            QCOMPARE(RefusalFor(why).tftpCode, c.code);
            QCOMPARE(RefusalRow(why), QString::fromLatin1(c.row));
        }
    }

    void composedNames() {
        struct Case {
            const char* sent;
            const char* name;
            bool leaves;
        } cases[] = {
            {"a.bin", "a.bin", false},
            {"/boot/a.bin", "boot/a.bin", false},
            {"\\\\boot\\a.bin", "boot/a.bin", false},
            {"../etc/passwd", "../etc/passwd", true},
            {"boot\\..\\..\\x", "boot/../../x", true},
            {"c:/x", "c:/x", true},
            {"a..b", "a..b", false},
            {"..", "..", true},
            {"boot/..", "boot/..", true},
            {"boot/...", "boot/...", false},
            {"..boot/x", "..boot/x", false},
            {"boot//../x", "boot//../x", true},
        };
        for (const Case& c : cases) {
            const FolderPath path = CRequestPath::ComposePath("/srv", c.sent);
            QCOMPARE(path.root, QStringLiteral("/srv"));
            QCOMPARE(path.name, QByteArray(c.name));
            QCOMPARE(CRequestPath::LeavesWorkingDir(path.name), c.leaves);
        }
        // Asked of a name as sent too: a backslash separates as a slash does.
        QVERIFY(CRequestPath::LeavesWorkingDir("boot\\.."));
        QVERIFY(!CRequestPath::LeavesWorkingDir("boot\\..x"));
    }

    // The lookup on a real folder: case, drive letters, the client's own folder, and
    // what it leaves the row to say.
    void resolvedNames() {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Boot"));
        QDir(dir.path()).mkpath(QStringLiteral("198.51.100.2"));
        for (const char* name : {"Boot/BCD", "own.cfg", "198.51.100.2/own.cfg"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        FakePlatform platform;
        CFileShareTable shares;
        CRequestPath paths(platform, shares);
        const NameSettings plain{dir.path(), QString(), false, false, false};
        const NameSettings loose{dir.path(), QString(), true, true, true};
        struct Case {
            NameSettings names;
            const char* sent;
            bool upload;
            const char* client;
            const char* name;
            bool refuse;
            bool noted;
        } cases[] = {
            {plain, "Boot/BCD", false, "127.0.0.1", "Boot/BCD", false, false},
            {plain, "\\boot\\bcd", false, "127.0.0.1", "boot/bcd", false, false},
            {loose, "\\boot\\bcd", false, "127.0.0.1", "Boot/BCD", false, true},
            {loose, "C:\\Boot\\BCD", false, "127.0.0.1", "Boot/BCD", false, true},
            {plain, "C:\\Boot\\BCD", false, "127.0.0.1", "C:/Boot/BCD", true, false},
            {loose, "own.cfg", false, "198.51.100.2", "198.51.100.2/own.cfg", false, true},
            {loose, "own.cfg", false, "198.51.100.3", "own.cfg", false, false},
            {loose, "boot/new.bin", true, "127.0.0.1", "Boot/new.bin", false, true},
            {loose, "../own.cfg", false, "127.0.0.1", "../own.cfg", true, false},
        };
        for (const Case& c : cases) {
            QString report;
            const ResolvedPath r =
                paths.Resolve(c.names, c.sent, c.upload, QHostAddress(c.client), &report);
            QVERIFY2(r.path.name == c.name, c.sent);
            QVERIFY2(r.refuse == c.refuse, c.sent);
            QVERIFY2(r.askedNote.isEmpty() != c.noted, c.sent);
            QVERIFY(r.missingFolder.isEmpty());
        }
        QString report;
        NameSettings gone = plain;
        gone.workingFolder.clear();
        const ResolvedPath none = paths.Resolve(gone, "a", false, QHostAddress::LocalHost, &report);
        QVERIFY(none.refuse);
        QCOMPARE(none.missingFolder, QStringLiteral("(none set)"));
        QVERIFY(paths.BootFileThere(dir.path(), "own.cfg"));
        QVERIFY(!paths.BootFileThere(dir.path(), "../own.cfg"));
        QVERIFY(!paths.BootFileThere(dir.path(), "missing.efi"));
    }

    // One open shares a file among readers; an upload's hold keeps readers out, even of
    // a file not there yet.
    void sharedOpen() {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("a")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        FakePlatform platform;
        CFileShareTable shares;
        CRequestPath paths(platform, shares);
        FileError error;
        QString key, key2;
        auto first = paths.OpenSharedForReading({dir.path(), "a"}, &error, &key);
        auto second = paths.OpenSharedForReading({dir.path(), "a"}, &error, &key2);
        QVERIFY(first && second);
        QCOMPARE(key, key2);
        const QString upload = platform.files().canonical({dir.path(), "new"});
        QVERIFY(shares.TryAcquire(upload, CFileShareTable::Use::Write));
        QVERIFY(!paths.OpenSharedForReading({dir.path(), "new"}, &error, &key));
        QCOMPARE(error.cause, FileCause::Other);
        QVERIFY(!paths.OpenSharedForReading({dir.path(), "other"}, &error, &key));
        QCOMPARE(error.cause, FileCause::FileNotFound);
    }

    // A download's look-up is its open: an exact name costs one open and no separate
    // look, and the open file goes on to the share open. Names not there go to the
    // index; names there but not readable are looked at, and refused by the open later.
    void lookUpIsTheOpen() {
        QTemporaryDir dir;
        QFile f(dir.filePath(QStringLiteral("Boot.bin")));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
        f.close();
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(),
                         0644) == 0);
        FakePlatform platform;
        CFileShareTable shares;
        CRequestPath paths(platform, shares);
        const NameSettings names{dir.path(), QString(), true, false, false};
        struct Case {
            const char* sent;
            bool upload;
            const char* name;  // resolved
            int opens;         // openRead by the look-up
            int looks;         // existsBeneath
            bool carried;      // the look-up's open file travels on
            FileCause served;  // what the share open then answers
            int sharedOpens;   // openRead by the share open
        } cases[] = {
            {"Boot.bin", false, "Boot.bin", 1, 0, true, FileCause::None, 0},
            {"boot.BIN", false, "Boot.bin", 1, 0, false, FileCause::None, 1},
            {"none.bin", false, "none.bin", 1, 0, false, FileCause::FileNotFound, 1},
            {"sub", false, "sub", 1, 1, false, FileCause::IsFolder, 1},
            {"pipe", false, "pipe", 1, 1, false, FileCause::AccessDenied, 1},
            {"Boot.bin", true, "Boot.bin", 0, 1, false, FileCause::None, 0},
            {"boot.BIN", true, "Boot.bin", 0, 1, false, FileCause::None, 0},
        };
        FakeFiles& fs = platform.fileSystem();
        for (const Case& c : cases) {
            fs.readOpens = fs.existsLooks = 0;
            QString report;
            ResolvedPath r =
                paths.Resolve(names, c.sent, c.upload, QHostAddress::LocalHost, &report);
            QVERIFY2(r.path.name == c.name, c.sent);
            QVERIFY2(fs.readOpens == c.opens, c.sent);
            QVERIFY2(fs.existsLooks == c.looks, c.sent);
            QVERIFY2(bool(r.file) == c.carried, c.sent);
            if (c.upload)
                continue;
            FileError error;
            QString key;
            const std::unique_ptr<IFile> file =
                paths.OpenSharedForReading(r.path, &error, &key, std::move(r.file));
            QVERIFY2(fs.readOpens == c.opens + c.sharedOpens, c.sent);
            QVERIFY2(bool(file) == (c.served == FileCause::None), c.sent);
            if (file) {
                QCOMPARE(file->size(), qint64(1));
                shares.Release(key, CFileShareTable::Use::Read);
            } else {
                QVERIFY2(error.cause == c.served, c.sent);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPolicy)
#include "tst_policy.moc"
