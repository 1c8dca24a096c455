#include "engine/boot/BootMenu.h"

#include <QtTest>

// The iPXE menu from a folder's listing: which files become entries, how kernels find
// their initrds, where they are fetched from, and the script iPXE runs.
class TestBootMenu : public QObject {
    Q_OBJECT

    static BootMenu::Options tftp() { return {QStringLiteral("198.51.100.2"), 0, {}, 10, {}, {}}; }
    static BootMenu::Options http() { return {QStringLiteral("198.51.100.2"), 8080, {}, 10, {}, {}}; }

    // Each entry as "kind:file" or "kind:file+initrd".
    static QStringList described(const QList<BootMenu::Entry>& entries) {
        static const char* const kinds[] = {"kernel", "script", "efi", "iso", "winpe"};
        QStringList out;
        for (const BootMenu::Entry& e : entries)
            out << QLatin1String(kinds[e.kind]) + QLatin1Char(':') + e.file +
                       (e.initrd.isEmpty() ? QString() : QLatin1Char('+') + e.initrd);
        return out;
    }

private slots:
    void entriesFromAListing() {
        struct Case {
            const char* what;
            QStringList files;
            bool http;
            QStringList entries;
        };
        const QList<Case> cases = {
            {"Debian's names pair by version", {"initrd.img-6.1.0-18-amd64", "vmlinuz-6.1.0-18-amd64",
                                                "vmlinuz-6.1.0-17-amd64", "initrd.img-6.1.0-17-amd64"},
             false,
             {"kernel:vmlinuz-6.1.0-17-amd64+initrd.img-6.1.0-17-amd64",
              "kernel:vmlinuz-6.1.0-18-amd64+initrd.img-6.1.0-18-amd64"}},
            {"installer names, in a folder; no initrd across folders",
             {"debian/linux", "debian/initrd.gz", "alpine/vmlinuz-lts", "alpine/initrd-lts.img",
              "initrd.img", "other/vmlinuz"},
             false,
             {"kernel:alpine/vmlinuz-lts+alpine/initrd-lts.img", "kernel:debian/linux+debian/initrd.gz",
              "kernel:other/vmlinuz"}},
            {"grouped by kind, each sorted; machines' scripts and menus left out",
             {"z.ipxe", "a.ipxe", "memtest.efi", "shimx64.efi", "menu-generated.ipxe",
              "boot-52-54-00-12-34-56.ipxe", "linuxmint.iso", "vmlinuz", "notes.txt"},
             false,
             {"kernel:vmlinuz", "script:a.ipxe", "script:z.ipxe", "efi:memtest.efi", "efi:shimx64.efi"}},
            {"ISOs only over HTTP", {"linuxmint.iso", "tools/gparted.iso"}, true,
             {"iso:linuxmint.iso", "iso:tools/gparted.iso"}},
        };
        for (const Case& c : cases) {
            const QStringList got = described(BootMenu::Entries(c.files, c.http ? http() : tftp()));
            if (got != c.entries)
                QFAIL(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.what), got.join(", "))));
        }
    }

    void scriptForIpxe() {
        BootMenu::Options o = http();
        o.defaultEntry = QStringLiteral("b.ipxe");
        o.seconds = 5;
        const QByteArray script = BootMenu::Generate(
            {"vmlinuz", "initrd.img", "b.ipxe", "my tool.efi", "boot-52-54-00-AB-CD-EF.ipxe"}, o);
        const QByteArray expected =
            "#!ipxe\n"
            "# Written from the working folder; a menu.ipxe of your own is offered instead.\n"
            "iseq ${mac:hexhyp} 52-54-00-ab-cd-ef && chain http://198.51.100.2:8080/boot-52-54-00-AB-CD-EF.ipxe ||\n"
            "menu Boot from 198.51.100.2\n"
            "item e1 vmlinuz + initrd.img\n"
            "item e2 b.ipxe\n"
            "item e3 my tool.efi\n"
            "choose --default e2 --timeout 5000 target && goto ${target} || exit\n"
            ":e1\n"
            "kernel http://198.51.100.2:8080/vmlinuz initrd=initrd\n"
            "initrd --name initrd http://198.51.100.2:8080/initrd.img\n"
            "boot\n"
            ":e2\n"
            "chain http://198.51.100.2:8080/b.ipxe\n"
            ":e3\n"
            "chain http://198.51.100.2:8080/my%20tool.efi\n";
        QCOMPARE(script, expected);

        // Over TFTP; an unknown default falls back to the first entry.
        o = tftp();
        o.defaultEntry = QStringLiteral("gone.ipxe");
        const QByteArray plain = BootMenu::Generate({"vmlinuz"}, o);
        QVERIFY(plain.contains("kernel tftp://198.51.100.2/vmlinuz\nboot\n"));
        QVERIFY(plain.contains("choose --default e1 --timeout 10000 target"));
        // The user's own menu wins: nothing is generated; an empty folder says so.
        QCOMPARE(BootMenu::Generate({"menu.ipxe", "vmlinuz"}, o), QByteArray());
        QVERIFY(BootMenu::Generate({}, o).contains("echo Nothing to boot"));
    }

    // Windows PE through wimboot: a folder (or the working folder) with bootmgr, boot/bcd,
    // boot/boot.sdi and sources/boot.wim in any letter case, and wimboot at the top
    // level, is one entry loading each part under the name wimboot looks for; over TFTP
    // the entry says first that it is slow. Anything short of that is no entry.
    void windowsPeThroughWimboot() {
        const QStringList winpe = {"wimboot", "winpe/bootmgr", "winpe/Boot/BCD", "winpe/Boot/boot.sdi",
                                   "winpe/sources/boot.wim"};
        struct Case {
            const char* what;
            QStringList files;
            bool http;
            QStringList lines; // the entry's lines after its label; empty: no entry
        };
        const QList<Case> cases = {
            {"a folder, over HTTP", winpe, true,
             {"kernel http://198.51.100.2:8080/wimboot",
              "initrd http://198.51.100.2:8080/winpe/bootmgr bootmgr",
              "initrd http://198.51.100.2:8080/winpe/Boot/BCD BCD",
              "initrd http://198.51.100.2:8080/winpe/Boot/boot.sdi boot.sdi",
              "initrd http://198.51.100.2:8080/winpe/sources/boot.wim boot.wim", "boot"}},
            {"over TFTP: said to be slow", winpe, false,
             {"echo Windows PE over TFTP takes minutes: turn the server's HTTP on",
              "kernel tftp://198.51.100.2/wimboot", "initrd tftp://198.51.100.2/winpe/bootmgr bootmgr",
              "initrd tftp://198.51.100.2/winpe/Boot/BCD BCD",
              "initrd tftp://198.51.100.2/winpe/Boot/boot.sdi boot.sdi",
              "initrd tftp://198.51.100.2/winpe/sources/boot.wim boot.wim", "boot"}},
            {"the working folder itself, bootmgr.exe, capitals", {"WIMBOOT", "bootmgr.exe", "BOOT/BCD",
                                                                 "BOOT/BOOT.SDI", "SOURCES/BOOT.WIM"},
             true,
             {"kernel http://198.51.100.2:8080/WIMBOOT",
              "initrd http://198.51.100.2:8080/bootmgr.exe bootmgr",
              "initrd http://198.51.100.2:8080/BOOT/BCD BCD",
              "initrd http://198.51.100.2:8080/BOOT/BOOT.SDI boot.sdi",
              "initrd http://198.51.100.2:8080/SOURCES/BOOT.WIM boot.wim", "boot"}},
            {"no wimboot", winpe.mid(1), true, {}},
            {"no boot.sdi", QStringList(winpe).replaceInStrings("boot.sdi", "boot.sd_"), true, {}},
            {"parts of another folder", {"wimboot", "a/bootmgr", "b/boot/bcd", "a/boot/boot.sdi",
                                         "a/sources/boot.wim"}, true, {}},
        };
        for (const Case& c : cases) {
            const QByteArray script = BootMenu::Generate(c.files, c.http ? http() : tftp());
            const QList<QByteArray> lines = script.split('\n');
            const qsizetype at = lines.indexOf(":e1");
            QStringList entry;
            for (qsizetype i = at + 1; at >= 0 && i < lines.size() && !lines[i].isEmpty(); ++i)
                entry << QString::fromUtf8(lines[i]);
            if (entry != c.lines)
                QFAIL(qPrintable(QStringLiteral("%1:\n%2").arg(QLatin1String(c.what), QString::fromUtf8(script))));
            if (!c.lines.isEmpty())
                QVERIFY2(script.contains("item e1 Windows PE"), c.what);
        }
    }

    // A cache for large files: over HTTP a file above the size is fetched from the cache
    // at once, as the base plus the same path, every byte but unreserved ones and '/'
    // percent-encoded (nothing iPXE or a Location header would read as more); a base
    // that is no http(s) URL, or one with a query, turns it off; TFTP stays local.
    void urlsFollowTheRedirect_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<qint64>("above");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("http");
        QTest::addColumn<QByteArray>("url"); // the kernel line's URL
        const QString cache = QStringLiteral("http://cache.example:8081/boot");
        const qint64 mib = 1 << 20;
        // Every file here is listed with mib + 1 bytes but "small", with mib.
        QTest::newRow("above the size") << cache << mib << "vmlinuz" << true
                                        << QByteArray("http://cache.example:8081/boot/vmlinuz");
        QTest::newRow("at the size: ours") << cache << mib << "vmlinuz-small" << true
                                           << QByteArray("http://198.51.100.2:8080/vmlinuz-small");
        QTest::newRow("base with a trailing slash, a folder kept")
            << cache + QStringLiteral("//") << mib << "os/vmlinuz" << true
            << QByteArray("http://cache.example:8081/boot/os/vmlinuz");
        QTest::newRow("space, percent, hash, non-ASCII encoded")
            << cache << mib << QStringLiteral("k 1%#é/vmlinuz") << true
            << QByteArray("http://cache.example:8081/boot/k%201%25%23%C3%A9/vmlinuz");
        QTest::newRow("https, base at the root") << QStringLiteral("https://cdn.example") << mib
                                                 << "vmlinuz" << true
                                                 << QByteArray("https://cdn.example/vmlinuz");
        QTest::newRow("over TFTP: local") << cache << mib << "vmlinuz" << false
                                          << QByteArray("tftp://198.51.100.2/vmlinuz");
        QTest::newRow("no base: off") << QString() << mib << "vmlinuz" << true
                                      << QByteArray("http://198.51.100.2:8080/vmlinuz");
        QTest::newRow("a base with a query: off")
            << QStringLiteral("http://cache.example/?x=1") << mib << "vmlinuz" << true
            << QByteArray("http://198.51.100.2:8080/vmlinuz");
        QTest::newRow("not http: off") << QStringLiteral("ftp://cache.example/") << mib << "vmlinuz"
                                       << true << QByteArray("http://198.51.100.2:8080/vmlinuz");
        QTest::newRow("no host: off") << QStringLiteral("http:///boot") << mib << "vmlinuz" << true
                                      << QByteArray("http://198.51.100.2:8080/vmlinuz");
        QTest::newRow("a line break in the base: off")
            << QStringLiteral("http://cache.example/\r\nX: y") << mib << "vmlinuz" << true
            << QByteArray("http://198.51.100.2:8080/vmlinuz");
        QTest::newRow("size 0: every non-empty file") << cache << qint64(0) << "vmlinuz" << true
                                                      << QByteArray("http://cache.example:8081/boot/vmlinuz");
        QTest::newRow("size 0: an empty file ours") << cache << qint64(0) << "vmlinuz-small" << true
                                                    << QByteArray("http://198.51.100.2:8080/vmlinuz-small");
    }
    void urlsFollowTheRedirect() {
        QFETCH(QString, base);
        QFETCH(qint64, above);
        QFETCH(QString, file);
        QFETCH(bool, http);
        QFETCH(QByteArray, url);
        BootMenu::Options o = http ? this->http() : tftp();
        o.redirect = {base, above};
        o.sizes.insert(file, file.contains(QLatin1String("small")) ? above : above + 1);
        const QByteArray script = BootMenu::Generate({file}, o);
        QVERIFY2(script.contains("\nkernel " + url + "\n"), script.constData());
        // The one decision, as the HTTP answer's 302 asks it.
        const QByteArray target =
            HttpRedirect::Target(o.redirect, file.toUtf8(), o.sizes.value(file));
        if (http)
            QCOMPARE(target.isEmpty(), !url.contains("example"));
    }

    // An ISO of a known live layout boots its own kernel and initrd from inside the image
    // with the parameters that fetch its root from here; any other ISO keeps sanboot. With a
    // cache set, members stay local (the cache has no such names) while a fetch of the
    // whole image goes where the image's own URL goes.
    void liveIsoEntries_data() {
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("redirect");
        QTest::addColumn<QStringList>("lines"); // the entry's lines, after its label
        QTest::addColumn<QString>("item");
        const QString here = QStringLiteral("http://198.51.100.2:8080/");
        QTest::newRow("Debian live")
            << int(LiveIso::Layout::DebianLive) << false
            << QStringList{"kernel " + here + "d.iso/live/vmlinuz initrd=initrd boot=live components fetch=" +
                               here + "d.iso/live/filesystem.squashfs ip=dhcp",
                           "initrd --name initrd " + here + "d.iso/live/initrd.img", "boot"}
            << "item e1 d.iso (Debian live)";
        QTest::newRow("casper, the image redirected, its members ours")
            << int(LiveIso::Layout::Casper) << true
            << QStringList{"kernel " + here +
                               "d.iso/casper/vmlinuz initrd=initrd boot=casper netboot=url "
                               "url=http://cache.example/d.iso ip=dhcp",
                           "initrd --name initrd " + here + "d.iso/casper/initrd", "boot"}
            << "item e1 d.iso (Ubuntu live, loads the whole ISO into memory)";
        QTest::newRow("no known layout: sanboot")
            << int(LiveIso::Layout::None) << false << QStringList{"sanboot " + here + "d.iso"}
            << "item e1 d.iso";
    }
    void liveIsoEntries() {
        QFETCH(int, layout);
        QFETCH(bool, redirect);
        QFETCH(QStringList, lines);
        QFETCH(QString, item);
        BootMenu::Options o = http();
        if (redirect) {
            o.redirect = {QStringLiteral("http://cache.example"), 1};
            o.sizes.insert(QStringLiteral("d.iso"), 1 << 30);
        }
        if (layout == int(LiveIso::Layout::DebianLive))
            o.live.insert("d.iso", LiveIso::Recognise({"live/vmlinuz", "live/initrd.img",
                                                       "live/filesystem.squashfs"}));
        else if (layout == int(LiveIso::Layout::Casper))
            o.live.insert("d.iso", LiveIso::Recognise({"casper/vmlinuz", "casper/initrd"}));
        QCOMPARE(int(o.live.value("d.iso").layout), layout);
        const QString script = QString::fromUtf8(BootMenu::Generate({"d.iso"}, o));
        QVERIFY2(script.contains(item + '\n'), qPrintable(script));
        QVERIFY2(script.contains(":e1\n" + lines.join('\n') + '\n'), qPrintable(script));
        // Over TFTP an ISO is no entry at all, known layout or not.
        o.httpPort = 0;
        QVERIFY(!BootMenu::Generate({"d.iso"}, o).contains("d.iso"));
    }

    // A name iPXE would read as more than a name is no entry (nor is a kernel's initrd
    // of such a name paired); every other name stands in its item line as it is.
    void unsafeNamesAreNoEntries() {
        struct Case {
            const char* what;
            QByteArray name;
            bool entry;
        };
        const QList<Case> cases = {
            {"a line end", "vmlinuz-x\nchain evil.efi", false},
            {"a carriage return", "x\r.efi", false},
            {"a tab", "x\t.efi", false},
            {"DEL", "x\x7f.efi", false},
            {"an escape", "x\x1b[2J.efi", false},
            {"a C1 control", "x\xc2\x9b.efi", false},
            {"not UTF-8", "x\xff.efi", false},
            {"a setting", "x${net0/mac}.efi", false},
            {"&&", "a && chain evil.efi", false},
            {"||", "a || chain evil.efi", false},
            {";", "a;chain.efi", false},
            {"a double quote", "a\".efi", false},
            {"a single quote", "a'.efi", false},
            {"a backslash", "a\\b.efi", false},
            {"a comment at a word's start", "a #b.efi", false},
            {"a comment first", "#b.efi", false},
            {"an option", "--default.efi", false},
            {"too long", QByteArray(124, 'a') + ".efi", false},
            {"as long as may be", QByteArray(123, 'a') + ".efi", true},
            {"# inside a word", "a#b.efi", true},
            {"a lone $", "price$.efi", true},
            {"a space, UTF-8", "m\xc3\xa9m test.efi", true},
            {"& and | alone", "a&b|c.efi", true},
        };
        for (const Case& c : cases) {
            const QString name = QString::fromUtf8(c.name);
            QCOMPARE(BootMenu::SafeName(c.name), c.entry);
            const QByteArray script = BootMenu::Generate({name, "tool.efi"}, tftp());
            const QByteArray items = c.entry
                ? "item e1 " + c.name + "\nitem e2 tool.efi\n"
                : QByteArray("item e1 tool.efi\n");
            const qsizetype at = script.indexOf("item ");
            const QByteArray got = script.mid(at, script.indexOf("choose ") - at);
            if (got != items)
                QFAIL(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.what), QString::fromUtf8(got))));
        }
        // An initrd whose name is not safe is not paired with its kernel.
        QCOMPARE(described(BootMenu::Entries({"vmlinuz-1", "initrd-1\n;x"}, tftp())),
                 QStringList{"kernel:vmlinuz-1"});
    }

    // What the menu lists or would list, and what wins over it, at the folder's top level.
    void namesThatDecideABoot() {
        const QStringList decide = {"vmlinuz-6.1", "LINUX", "initrd.img-6.1", "initrd.gz",
                                    "x.ipxe", "menu.ipxe", "MENU-GENERATED.IPXE",
                                    "boot-52-54-00-12-34-56.ipxe", "memtest.EFI", "live.iso"};
        const QStringList others = {"backup.tar", "notes.txt", "config.bin", "pxelinux.0",
                                    "efi-notes.txt", "ipxe"};
        for (const QString& name : decide)
            QVERIFY2(BootMenu::DecidesBoot(name), qPrintable(name));
        for (const QString& name : others)
            QVERIFY2(!BootMenu::DecidesBoot(name), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestBootMenu)
#include "tst_bootmenu.moc"
