#include "EngineFixture.h"

#include <QDir>
#include <QProcess>
#include <QtTest>
#include <unistd.h>

// Packets, request parsing and what the listener admits.
class TestAdmission : public QObject {
    Q_OBJECT

private slots:
    void errorPacketLayout() {
        const QByteArray e = Tftp::MakeError(2);
        QCOMPARE(e.size(), 23);
        QCOMPARE(e.left(4), QByteArray("\0\5\0\2", 4));
        QCOMPARE(e.mid(4), QByteArray("Access Violation!!\0", 19));
        QCOMPARE(QByteArray(Tftp::ErrorMessage(9)), QByteArray("Unknown Error!!"));
        QCOMPARE(Tftp::ClientErrorText(9), QStringLiteral("Error: Unknown Error Code Received!!"));
        QCOMPARE(Tftp::ClientErrorText(3),
                 QStringLiteral("Error: Client-Disk Full or Allocation Exceeded!!"));
    }

    void parseRequest_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("octet");
        const int ok = Tftp::Request::Ok, cmd = Tftp::Request::BadCommand,
                  mode = Tftp::Request::BadMode, tooLong = Tftp::Request::NameTooLong;
        QTest::newRow("first byte ignored") << QByteArray("\xff\x01" "a\0octet\0", 10) << ok << true;
        QTest::newRow("OCTET") << QByteArray("\0\1a\0OCTET\0", 10) << ok << true;
        QTest::newRow("NetAscii") << QByteArray("\0\2a\0NetAscii\0", 13) << ok << false;
        QTest::newRow("ASCII") << QByteArray("\0\1a\0ASCII\0", 10) << ok << false;
        QTest::newRow("options ignored")
            << QByteArray("\0\1a\0octet\0blksize\0" "1428\0", 23) << ok << true;
        QTest::newRow("mode ends at 0x80") << QByteArray("\0\1a\0octet\x80", 10) << ok << true;
        QTest::newRow("mail") << QByteArray("\0\1a\0mail\0", 9) << mode << false;
        QTest::newRow("empty mode") << QByteArray("\0\1a\0\0", 5) << mode << false;
        QTest::newRow("mode unterminated") << QByteArray("\0\1a\0octet", 9) << mode << false;
        QTest::newRow("mode too long") << QByteArray("\0\1a\0netasciii\0", 15) << mode << false;
        QTest::newRow("ACK to listener") << QByteArray("\0\4\0\1", 4) << cmd << false;
        QTest::newRow("too short") << QByteArray("\0", 1) << cmd << false;
        QTest::newRow("name unterminated") << QByteArray("\0\1abc", 5) << cmd << false;
        QTest::newRow("name 128 bytes")
            << (QByteArray("\0\1", 2) + QByteArray(128, 'n') + QByteArray("\0octet\0", 7))
            << tooLong << false;
        QTest::newRow("name 127 bytes")
            << (QByteArray("\0\1", 2) + QByteArray(127, 'n') + QByteArray("\0octet\0", 7)) << ok
            << true;
    }
    void parseRequest() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, status);
        QFETCH(bool, octet);
        const Tftp::Request r = Tftp::ParseRequest(datagram.constData(), datagram.size());
        QCOMPARE(int(r.status), status);
        if (status == Tftp::Request::Ok)
            QCOMPARE(r.octet, octet);
    }

    // Only the bytes a datagram carried count: a short request after a long one must
    // not borrow the earlier request's terminator.
    void staleBufferNeverParsed() {
        EngineFixture f;
        f.send(EngineFixture::request(Tftp::RRQ, "a-long-file-name.bin"));
        f.window.sounds.clear();
        const int rows = f.window.rows.size();
        f.send(QByteArray("\0\1a-long", 8));
        QCOMPARE(f.window.rows.size(), rows);
        QCOMPARE(f.window.sounds, QList<int>{SOUND_FAILED});
    }

    void refusedRequests() {
        EngineFixture f;
        f.send(EngineFixture::ack(1)); // an ACK sent to the listener
        f.send(EngineFixture::request(Tftp::RRQ, "a", "mail"));
        QVERIFY(f.window.rows.isEmpty());
        QVERIFY(f.sent().isEmpty()); // a refused client gets no reply
        QCOMPARE(f.window.sounds, (QList<int>{SOUND_FAILED, SOUND_FAILED}));
        QCOMPARE(f.net().openSockets, 1); // only the listener
        // A name over the limit gets no row either, but the client hears why.
        f.send(EngineFixture::request(Tftp::RRQ, QByteArray(200, 'n')));
        QVERIFY(f.window.rows.isEmpty());
        QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(4, "File name too long")});
        QCOMPARE(f.net().openSockets, 1);
        f.writeFile("x", "x");
        QCOMPARE(f.download(f.rrq("x")), QByteArray("x"));
    }

    // Ports are drawn at random, but never one a live transfer holds.
    void portSequenceWrapsAndSkipsLivePorts() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.portFirst = 40000, s.portLast = 40002; });
        f.writeFile("big", QByteArray(2000, 'b'));
        f.writeFile("small", "s");
        const quint16 a = f.rrq("big", 1000); // stays live: never acknowledged
        const quint16 b = f.rrq("big", 1001);
        QVERIFY(a != b);
        for (int i = 0; i < 6; ++i) {
            const quint16 port = f.rrq("small", quint16(1002 + i));
            QVERIFY(port != a && port != b);
            QCOMPARE(f.download(port, quint16(1002 + i)), QByteArray("s"));
        }
        QVERIFY(f.engine->FindTransfer(a));
        QVERIFY(f.engine->FindTransfer(b));
    }

    // A firewall opens one range: transfer ports come from it, and all of it is used.
    void portRangeFromSettings() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.portFirst = 40000, s.portLast = 40002; });
        f.writeFile("big", QByteArray(2000, 'b'));
        QSet<quint16> ports;
        for (int i = 0; i < 3; ++i) // stay live: never acknowledged
            ports.insert(f.rrq("big", quint16(1000 + i)));
        QCOMPARE(ports, (QSet<quint16>{40000, 40001, 40002}));
    }

    // Ports that another program holds are passed over; only a run of them is reported.
    void socketCreationFailure() {
        EngineFixture f;
        f.change([](EngineSettings& s) { s.portFirst = 40000, s.portLast = 40003; });
        f.writeFile("a", "a");
        f.net().refusedPorts = {40000, 40001, 40002};
        QCOMPARE(f.rrq("a"), quint16(40003));
        QCOMPARE(f.lastRow().state, ROW_SENT);
        QVERIFY(f.window.messages.isEmpty());

        f.net().refusedPorts.insert(40003);
        f.window.sounds.clear();
        const int rows = f.window.rows.size();
        f.rrq("a", 5001);
        QCOMPARE(f.window.rows.size(), rows);
        QCOMPARE(f.window.messages,
                 QStringList{"Client Socket Creation Fails!!\n\nPlease, Restart This Program!!"});
        QCOMPARE(f.window.sounds, QList<int>{SOUND_FAILED});
        f.net().refusedPorts.remove(40001);
        QCOMPARE(f.rrq("a", 5002), quint16(40001));
    }

    void pathsStayInsideTheWorkingDir() {
        EngineFixture f;
        QDir(f.root()).mkdir("sub");
        f.writeFile("sub/x.bin", "inside");
        f.writeFile("pxelinux.0", "boot");
        QCOMPARE(f.download(f.rrq("sub\\x.bin")), QByteArray("inside"));
        QCOMPARE(f.download(f.rrq("/pxelinux.0", 5001), 5001), QByteArray("boot"));
        QCOMPARE(f.download(f.rrq("\\pxelinux.0", 5002), 5002), QByteArray("boot"));
        QCOMPARE(f.lastRow().texts.file, QStringLiteral("\\pxelinux.0"));

        f.change([](EngineSettings& s) { s.driveLetters = false; }); // a drive is refused then
        for (const QByteArray& name : {QByteArray("../settings.ini"), QByteArray("sub/../../x"),
                                       QByteArray("..\\settings.ini"), QByteArray("C:\\boot.ini")}) {
            f.sent();
            f.rrq(name, 6000);
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested File Access Denied!! (leads outside the folder)"));
            QCOMPARE(f.lastRow().state, ROW_FAILED);
            const QList<QByteArray> out = f.sent();
            QCOMPARE(out.size(), 1);
            QCOMPARE(out[0], Tftp::MakeError(2));
        }
        f.wrq("../escape.bin", 6001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Error: Requested File Access Denied!! (leads outside the folder)"));
        QVERIFY(!QFile::exists(f.dir.filePath("escape.bin")));
    }

    void workingDirAndOverwriteReadPerRequest() {
        EngineFixture f;
        QDir(f.dir.path()).mkdir("other");
        QFile o(f.dir.filePath("other/z"));
        o.open(QIODevice::WriteOnly);
        o.write("zz");
        o.close();
        // Another program edits the file: the next request after the host's look sees it.
        f.change([&f](EngineSettings& s) {
            s.workingFolder = f.dir.filePath("other") + "/";
            s.overWrite = true;
        });
        QCOMPARE(f.download(f.rrq("z")), QByteArray("zz"));
        f.wrq("z", 5001);
        QCOMPARE(f.lastRow().texts.info, QStringLiteral("Data Receiving...."));
    }

    // A working folder that is gone or is a file: the row names it, the client is refused.
    void missingWorkingFolderNamedInTheRow() {
        EngineFixture f;
        const QString gone = f.dir.filePath("unplugged");
        const QString file = f.dir.filePath("settings.ini");
        for (const QString& folder : {gone, file}) {
            f.change([&folder](EngineSettings& s) { s.workingFolder = folder; });
            f.sent();
            f.rrq("a", 6100);
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Working folder missing: ") + folder);
            QCOMPARE(f.lastRow().state, ROW_FAILED);
            QCOMPARE(f.sent(), QList<QByteArray>{Tftp::MakeError(2)});
            f.wrq("b", 6101);
            QCOMPARE(f.lastRow().texts.info, QStringLiteral("Working folder missing: ") + folder);
        }
        QVERIFY(!QFileInfo::exists(gone));
    }

    void clientTextAndSounds() {
        EngineFixture f;
        f.client = QHostAddress("127.0.0.7");
        f.writeFile("a", "a");
        f.rrq("a");
        QCOMPARE(f.lastRow().texts.client, QStringLiteral("127.0.0.7"));
        QCOMPARE(f.lastRow().texts.service, QStringLiteral("Send"));
        QCOMPARE(f.window.sounds, (QList<int>{SOUND_REQUEST, SOUND_SENT}));

        f.engine->SetSoundOn(false);
        f.window.sounds.clear();
        f.rrq("missing", 5001);
        f.send(EngineFixture::ack(1));
        QVERIFY(f.window.sounds.isEmpty());
    }

    // A client that repeats its request because our first answer was lost is answered
    // by the live transfer; no second transfer fails on the file.
    void repeatedRequestAnsweredByLiveTransfer() {
        EngineFixture f;
        const quint16 port = f.wrq("up.bin");
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
        const int rows = f.window.rows.size();
        f.window.sounds.clear();
        f.clock().advance(1000); // the client's own retransmission interval
        QCOMPARE(f.wrq("up.bin"), port);
        QCOMPARE(f.sent(), QList<QByteArray>{EngineFixture::ack(0)});
        QCOMPARE(f.net().sentFrom.size(), 0);
        QCOMPARE(f.window.rows.size(), rows);
        QVERIFY(f.window.sounds.isEmpty());
        // From another client port it is a new request, refused on the sharing rule.
        f.wrq("up.bin", 5001);
        QCOMPARE(f.lastRow().texts.info,
                 QStringLiteral("Error: File already using. Can not open file!!"));
    }

    // An upload over a file that is there but may not be written: with overwriting off it
    // exists (6), with it on the system refuses (2); the file stays as it was either way.
    void uploadOverUnwritableFile() {
        struct Case {
            bool overWrite;
            QByteArray error;
            const char* info;
        } cases[] = {
            {false, Tftp::MakeError(6), "File Already Exist!! Overwriting is prohibited!!"},
            {true, Tftp::MakeError(2), "Error: Requested File Access Denied!! (permission denied)"},
        };
        for (const Case& c : cases) {
            EngineFixture f;
            f.writeFile("locked.cfg", "kept");
            const QString path = f.path("locked.cfg");
            // Root passes over the mode bits, not over the immutable flag.
            QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            if (::access(QFile::encodeName(path).constData(), W_OK) == 0)
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path});
            if (::access(QFile::encodeName(path).constData(), W_OK) == 0)
                QSKIP("no way to make a file unwritable here");
            f.change([&c](EngineSettings& s) { s.overWrite = c.overWrite; });
            f.wrq("locked.cfg");
            const QList<QByteArray> out = f.sent();
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
            QCOMPARE(out, QList<QByteArray>{c.error});
            QCOMPARE(f.lastRow().texts.info, QString::fromLatin1(c.info));
            QCOMPARE(f.lastRow().state, ROW_FAILED);
            QCOMPARE(f.readFile("locked.cfg"), QByteArray("kept"));
        }
    }

    // While boot offers, our DHCP server or the menu are on, no client may create or
    // replace what decides what machines boot; other uploads go on as before.
    void uploadsThatWouldDecideABoot() {
        enum On { Nothing, Menu, Offers, Dhcp, ClientFolders, Pi };
        struct Case {
            const char* what;
            On on;
            QByteArray name;
            bool refused;
        };
        const QList<Case> cases = {
            {"nothing on: a kernel uploads", Nothing, "vmlinuz-0", false},
            {"nothing on: the menu's name", Nothing, "menu.ipxe", false},
            {"a kernel, new", Menu, "vmlinuz-0", true},
            {"a kernel, replaced", Menu, "vmlinuz-6.1", true},
            {"a kernel in other letters", Menu, "VMLINUZ-9", true},
            {"through a leading backslash", Menu, "\\linux", true},
            {"an initrd", Menu, "initrd.img-6.1", true},
            {"the user's menu", Menu, "menu.ipxe", true},
            {"the written menu", Menu, "menu-generated.ipxe", true},
            {"a machine's script", Menu, "boot-52-54-00-12-34-56.ipxe", true},
            {"a script", Menu, "tools.ipxe", true},
            {"an EFI tool", Menu, "memtest.efi", true},
            {"an ISO", Menu, "live.iso", true},
            {"GRUB's configuration", Menu, "grub/grub.cfg", true},
            {"a backup", Menu, "backup.tar", false},
            {"a kernel in a subfolder", Menu, "backup/vmlinuz-0", false},
            {"a configured boot file in a folder", Offers, "pxe/undionly.kpxe", true},
            {"it in other letters", Offers, "PXE/UNDIONLY.KPXE", true},
            {"beside it", Offers, "pxe/notes.txt", false},
            {"the chain's GRUB", Offers, "grubx64.efi", true},
            {"the DHCP server's U-Boot file", Dhcp, "boot.scr.uimg", true},
            {"a config for a switch", Dhcp, "switch.cfg", false},
            {"a client's own folder", ClientFolders, "198.51.100.7/vmlinuz", true},
            {"a folder that is no address", ClientFolders, "docs/vmlinuz", false},
            // What the policy hands a known host: HostsFile's own files.
            {"a host's file, boot offers", Offers, "pxe/pc7.efi", true},
            {"a host's file, our DHCP server", Dhcp, "PXE/PC7.EFI", true},
            {"a host's file with only the menu", Menu, "hosts.0", true},
            {"a host's file under a client's folder", ClientFolders, "198.51.100.7/hosts.0", true},
            {"a host's file, nothing on", Nothing, "hosts.0", false},
            {"beside a host's file", Dhcp, "pxe/pc8.efi", false},
            {"through a dot folder", Offers, "./pxe/undionly.kpxe", true},
            {"through a doubled slash", Offers, "pxe//pc7.efi", true},
            // What a Pi boots from, at the root or in its own folder, with RaspberryPi.
            {"a Pi's firmware", Pi, "start4.elf", true},
            {"a Pi's configuration in its serial folder", Pi, "9ffefdef/config.txt", true},
            {"a Pi's kernel in its serial folder", Pi, "9ffefdef/kernel8.img", true},
            {"a Pi's overlay", Pi, "9ffefdef/overlays/x.dtbo", true},
            {"two folders down", Pi, "backup/pi/config.txt", false},
            {"a Pi's folder, RaspberryPi off", Offers, "9ffefdef/config.txt", false},
            // Windows PE through wimboot, which the menu loads.
            {"wimboot", Menu, "wimboot", true},
            {"a Windows PE image", Menu, "pxe/Sources/Boot.wim", true},
            {"its boot manager", Menu, "pxe/bootmgr", true},
            {"an image deeper down", Menu, "backup/pi/sources/boot.wim", false},
        };
        for (const Case& c : cases) {
            EngineFixture f;
            for (const char* folder : {"grub", "backup", "pxe", "docs", "198.51.100.7", "9ffefdef",
                                       "9ffefdef/overlays", "backup/pi", "pxe/Sources",
                                       "backup/pi/sources"})
                QDir(f.root()).mkdir(QLatin1String(folder));
            f.writeFile("vmlinuz-6.1", "old");
            const QString hosts = f.dir.filePath(QStringLiteral("hosts"));
            QFile hostsFile(hosts);
            QVERIFY(hostsFile.open(QIODevice::WriteOnly));
            hostsFile.write("52:54:00:00:00:07 198.51.100.7 /pxe/pc7.efi\n"
                            "52:54:00:00:00:08 198.51.100.8 hosts.0\n"
                            "52:54:00:00:00:09 198.51.100.9\n");
            hostsFile.close();
            f.change([&c, &hosts](EngineSettings& s) {
                s.dhcpHostsFile = hosts;
                s.menu = c.on == Menu || c.on == ClientFolders;
                s.clientFolders = c.on == ClientFolders;
                s.proxyDhcp = c.on == Offers || c.on == Pi;
                s.raspberryPi = c.on == Pi;
                s.secureBootChain = c.on == Offers;
                s.bootFileBios = QStringLiteral("/pxe/undionly.kpxe");
                s.dhcpEnabled = c.on == Dhcp;
                s.bootFileOther = QStringLiteral("boot.scr.uimg");
            });
            f.sent();
            const quint16 port = f.wrq(c.name);
            const QList<QByteArray> out = f.sent();
            if (c.refused) {
                QVERIFY2(out == QList<QByteArray>{Tftp::MakeError(2)}, c.what);
                QVERIFY2(f.lastRow().texts.info.startsWith(QLatin1String(
                             "Error: Requested File Access Denied!! (decides what machines boot)")),
                         c.what);
                QCOMPARE(f.lastRow().state, ROW_FAILED);
            } else {
                QVERIFY2(out.size() == 1 && EngineFixture::opcode(out[0]) == Tftp::ACK, c.what);
                f.toTransfer(port, EngineFixture::data(1, "new"));
                QVERIFY2(f.lastRow().texts.info.startsWith(QLatin1String("Receive Complete")), c.what);
            }
            QCOMPARE(f.readFile("vmlinuz-6.1"), QByteArray("old"));
        }
    }

    // The guard goes by what a name reaches, not by its letters: an upload to a file that
    // a boot file's name also reaches (a link either way) is refused like one to the name.
    void uploadsReachingABootFile() {
        struct Link {
            const char* name;
            const char* to;
            bool hard;
        };
        struct Case {
            const char* what;
            QList<Link> links;
            QByteArray name;
            bool refused;
        };
        const QList<Case> cases = {
            {"the kernel's name a link to it", {{"vmlinuz", "foo", false}}, "foo", true},
            {"through a dot folder", {{"vmlinuz", "foo", false}}, "./foo", true},
            {"the kernel's name a link to a file not there yet", {{"vmlinuz", "ghost", false}}, "ghost", true},
            {"the link's name in other letters", {{"VMLinuz", "foo", false}}, "foo", true},
            {"the upload's name in other letters", {{"vmlinuz", "foo", false}}, "FOO", true},
            {"a hard link to an initrd", {{"bar", "initrd.img", true}}, "bar", true},
            {"a link to the kernel", {{"bar", "initrd.img", false}}, "bar", true},
            {"a configured boot file a link to it", {{"pxe/undionly.kpxe", "../docs/real.bin", false}},
             "docs//real.bin", true},
            {"a folder link to the boot file's folder",
             {{"pxe/undionly.kpxe", "foo", true}, {"k", "pxe", false}},
             "k/undionly.kpxe",
             true},
            {"a folder link to the top, a new kernel", {{"k", ".", false}}, "k/vmlinuz-9", true},
            {"a folder link to the top, another file", {{"k", ".", false}}, "k/notes.txt", false},
            {"a client's folder linking out", {{"198.51.100.7/vmlinuz", "../docs/real.bin", false}},
             "docs/real.bin", true},
            {"beside a link", {{"vmlinuz", "foo", false}}, "docs/real.bin", false},
            {"a link that leads to no boot file", {{"other.bin", "foo", false}}, "foo", false},
            {"a hard link between plain files", {{"copy.bin", "foo", true}}, "foo", false},
        };
        for (const Case& c : cases) {
            EngineFixture f;
            for (const char* folder : {"pxe", "docs", "198.51.100.7"})
                QDir(f.root()).mkdir(QLatin1String(folder));
            f.writeFile("foo", "old");
            f.writeFile("initrd.img", "old");
            f.writeFile("docs/real.bin", "old");
            for (const Link& l : c.links) {
                const QByteArray at = QFile::encodeName(f.path(QLatin1String(l.name)));
                const QByteArray to = QFile::encodeName(
                    l.hard ? f.path(QLatin1String(l.to)) : QString::fromLatin1(l.to));
                QVERIFY2((l.hard ? ::link(to, at) : ::symlink(to, at)) == 0, c.what);
            }
            f.change([](EngineSettings& s) {
                s.menu = true;
                s.clientFolders = true;
                s.bootFileBios = QStringLiteral("/pxe/undionly.kpxe");
            });
            f.sent();
            const quint16 port = f.wrq(c.name);
            const QList<QByteArray> out = f.sent();
            if (c.refused) {
                QVERIFY2(out == QList<QByteArray>{Tftp::MakeError(2)}, c.what);
                QVERIFY2(f.lastRow().texts.info.contains(QLatin1String("decides what machines boot")), c.what);
                for (const char* kept : {"foo", "initrd.img", "docs/real.bin"})
                    QVERIFY2(f.readFile(QLatin1String(kept)) == "old", c.what);
                QVERIFY2(!QFile::exists(f.path(QStringLiteral("ghost"))), c.what);
            } else {
                QVERIFY2(out.size() == 1 && EngineFixture::opcode(out[0]) == Tftp::ACK, c.what);
                f.toTransfer(port, EngineFixture::data(1, "new"));
                QVERIFY2(f.lastRow().texts.info.startsWith(QLatin1String("Receive Complete")), c.what);
            }
        }
        // With the boot services and the menu off nothing is watched, links or not.
        EngineFixture f;
        f.writeFile("foo", "old");
        QVERIFY(::symlink("foo", QFile::encodeName(f.path(QStringLiteral("vmlinuz")))) == 0);
        f.sent();
        f.wrq("foo");
        const QList<QByteArray> out = f.sent();
        QVERIFY(out.size() == 1 && EngineFixture::opcode(out[0]) == Tftp::ACK);
    }

    void liveSettingsLoadedOnce() {
        EngineFixture f;
        f.change([](EngineSettings& s) {
            s.rules.allowClient = true;
            s.rules.clients[2] = QStringLiteral("127.0.0.1");
            s.soundOn = false;
        });
        QVERIFY(!f.engine->Rules().allowClient); // not re-read while running
        QVERIFY(f.engine->Settings().soundOn);
        f.engine->LoadLiveSettings(f.file);
        QVERIFY(f.engine->Rules().allowClient);
        QCOMPARE(f.engine->Rules().clients[2], QStringLiteral("127.0.0.1"));
        QVERIFY(!f.engine->Settings().soundOn);
        QVERIFY(f.window.sounds.isEmpty()); // no start-up sound with sounds off
    }
};

QTEST_GUILESS_MAIN(TestAdmission)
#include "tst_admission.moc"
