#include "engine/iso/IsoCatalog.h"

#include <QtTest>
#include <fcntl.h>
#include <unistd.h>

using Files = QList<QPair<QByteArray, qint64>>;
using Links = QList<QPair<QByteArray, QByteArray>>;
using Renames = QHash<QByteArray, QByteArray>;

// The catalog of ISO images that xorriso builds here, checked against where xorriso
// itself says each file's data lies, and against the bytes read back from there.
class TestIsoCatalog : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A file of `size` bytes whose content tells its name and place apart from any other.
    static QByteArray Content(const QByteArray& name, qint64 size) {
        QByteArray out;
        out.reserve(size);
        for (qint64 i = 0; out.size() < size; ++i)
            out += name + ':' + QByteArray::number(i) + '\n';
        out.truncate(size);
        return out;
    }

    static bool Run(const QStringList& args, QByteArray* output = nullptr) {
        QProcess p;
        p.start(QStringLiteral("xorriso"), args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning() << args << p.readAllStandardError().right(2000);
            return false;
        }
        if (output)
            *output = p.readAllStandardOutput();
        return true;
    }

    // Each data file's (offset, size) as xorriso reports them.
    static QSet<QPair<qint64, qint64>> Extents(const QString& iso) {
        QByteArray out;
        if (!Run({"-indev", iso, "-find", "/", "-exec", "report_lba", "--"}, &out))
            return {};
        QSet<QPair<qint64, qint64>> extents;
        static const QRegularExpression row(
            QStringLiteral(R"(File data lba:\s*\d+\s*,\s*(\d+)\s*,\s*\d+\s*,\s*(\d+)\s*,)"));
        for (const QByteArray& line : out.split('\n')) {
            const QRegularExpressionMatch m = row.match(QString::fromUtf8(line));
            if (m.hasMatch())
                extents.insert({m.captured(1).toLongLong() * 2048, m.captured(2).toLongLong()});
        }
        return extents;
    }

    static bool Read(const QString& iso, IsoCatalog* catalog, QString* error, int* fdOut = nullptr) {
        const int fd = ::open(QFile::encodeName(iso).constData(), O_RDONLY);
        if (fd < 0) {
            *error = QStringLiteral("cannot open");
            return false;
        }
        const bool ok = ReadIsoCatalog(fd, QFileInfo(iso).size(), catalog, error);
        if (fdOut)
            *fdOut = fd;
        else
            ::close(fd);
        return ok;
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("xorriso")).isEmpty())
            QSKIP("xorriso is not installed");
        QVERIFY(m_dir.isValid());
    }

    // Each row: files staged (name, size), links (name -> target), xorriso's options; the
    // names the catalog must give (as libarchive reads them) for each staged file.
    void membersWhereXorrisoPutThem_data() {
        QTest::addColumn<Files>("files");
        QTest::addColumn<Links>("links");
        QTest::addColumn<QStringList>("options");
        // Staged name -> name in the catalog, where they differ.
        QTest::addColumn<Renames>("renamed");
        const QByteArray deep = "a/b/c/d/e/f/g/h/deep.bin";
        QTest::newRow("plain, empty, one block, 8 deep")
            << Files{{"kernel", 5000}, {"empty", 0}, {"block", 2048}, {deep, 70000}} << Links{}
            << QStringList{"-R", "-J"} << Renames{};
        const QByteArray longName = QByteArray(120, 'n') + ".squashfs";
        QTest::newRow("Rock Ridge long name")
            << Files{{"live/" + longName, 10000}} << Links{} << QStringList{"-R"}
            << Renames{};
        QTest::newRow("Joliet only")
            << Files{{"live/vmlinuz", 3000}, {"live/initrd.img", 9000}} << Links{}
            << QStringList{"-J"} << Renames{};
        // Neither Rock Ridge nor Joliet: libarchive gives the 8.3 names without ";1".
        QTest::newRow("plain ISO 9660 names")
            << Files{{"live/vmlinuz", 3000}, {"live/initrd.img", 9000}} << Links{} << QStringList{}
            << Renames{};
        QTest::newRow("Debian live's kernel link")
            << Files{{"live/vmlinuz-6.1.0-1-amd64", 4000}}
            << Links{{"live/vmlinuz", "vmlinuz-6.1.0-1-amd64"}, {"live/loop", "loop"},
                     {"out", "../../etc/passwd"}}
            << QStringList{"-R", "-J"}
            << Renames{};
    }

    void membersWhereXorrisoPutThem() {
        QFETCH(Files, files);
        QFETCH(Links, links);
        QFETCH(QStringList, options);
        QFETCH(Renames, renamed);
        const QString stage = m_dir.filePath(QStringLiteral("stage-%1").arg(QTest::currentDataTag()));
        Renames contents;
        for (const auto& [name, size] : files) {
            const QString path = stage + QLatin1Char('/') + QString::fromUtf8(name);
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            contents.insert(renamed.value(name, name), Content(name, size));
            f.write(contents.value(renamed.value(name, name)));
        }
        for (const auto& [name, target] : links)
            QVERIFY(QFile::link(QString::fromUtf8(target), stage + QLatin1Char('/') + QString::fromUtf8(name)));
        const QString iso = stage + QStringLiteral(".iso");
        QVERIFY(Run(QStringList{"-as", "mkisofs", "-quiet"} + options + QStringList{"-o", iso, stage}));

        IsoCatalog catalog;
        QString error;
        int fd = -1;
        QVERIFY2(Read(iso, &catalog, &error, &fd), qPrintable(error));
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        // Every extent xorriso wrote is a member's, and no member lies elsewhere.
        QSet<QPair<qint64, qint64>> got;
        for (const IsoMember& m : std::as_const(catalog.members))
            if (m.size > 0)
                got.insert({m.offset, m.size});
        QSet<QPair<qint64, qint64>> want = Extents(iso);
        want.removeIf([](const QPair<qint64, qint64>& e) { return e.second == 0; });
        QCOMPARE(got, want);
        // Each staged file by its name in the image, its bytes read back at its offset.
        for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
            const IsoMember* m = catalog.find(it.key());
            QVERIFY2(m, it.key().constData());
            QVERIFY(m->servable);
            QCOMPARE(m->size, it.value().size());
            QByteArray back(m->size, Qt::Uninitialized);
            QCOMPARE(::pread(fd, back.data(), size_t(back.size()), m->offset), ssize_t(back.size()));
            QCOMPARE(back, it.value());
        }
        // A link is its target's member; one in a loop or out of the image is none.
        for (const auto& [name, target] : links) {
            const QByteArray resolved = name.left(name.lastIndexOf('/') + 1) + target;
            if (contents.contains(resolved)) {
                QVERIFY(catalog.find(name));
                QCOMPARE(catalog.find(name)->offset, catalog.find(resolved)->offset);
            } else {
                QVERIFY2(!catalog.find(name), name.constData());
            }
        }
    }

    // zisofs data is compressed in the image: libarchive would hand out other bytes than
    // those at the offset, so the member cannot be served from it.
    void zisofsIsNotServable() {
        const QString stage = m_dir.filePath(QStringLiteral("zstage"));
        QVERIFY(QDir().mkpath(stage));
        QFile f(stage + QStringLiteral("/packed"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(Content("packed", 200000));
        f.close();
        const QString iso = m_dir.filePath(QStringLiteral("z.iso"));
        QVERIFY(Run({"-outdev", iso, "-map", stage, "/", "-zisofs", "level=6", "-set_filter_r",
                     "--zisofs", "/", "--"}));
        IsoCatalog catalog;
        QString error;
        QVERIFY2(Read(iso, &catalog, &error), qPrintable(error));
        QVERIFY(catalog.find("packed"));
        QVERIFY(!catalog.find("packed")->servable);
    }

    // An image cut short, and a file that is no image: an error, never a crash or members.
    void brokenImagesAreErrors_data() {
        QTest::addColumn<int>("keepPercent");
        QTest::newRow("cut in half") << 50;
        QTest::newRow("only the system area") << 0;
        QTest::newRow("not an image") << -1;
    }
    void brokenImagesAreErrors() {
        QFETCH(int, keepPercent);
        const QString stage = m_dir.filePath(QStringLiteral("bstage"));
        QVERIFY(QDir().mkpath(stage + QStringLiteral("/live")));
        for (const char* name : {"live/filesystem.squashfs", "live/vmlinuz"}) {
            QFile f(stage + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Content(name, 300000));
        }
        const QString iso = m_dir.filePath(QStringLiteral("b-%1.iso").arg(keepPercent));
        if (keepPercent < 0) {
            QFile f(iso);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Content("junk", 100000));
        } else {
            QVERIFY(Run({"-as", "mkisofs", "-quiet", "-R", "-o", iso, stage}));
            const qint64 keep = keepPercent ? QFileInfo(iso).size() * keepPercent / 100 : 32768;
            QVERIFY(QFile::resize(iso, keep));
        }
        IsoCatalog catalog;
        QString error;
        QVERIFY(!Read(iso, &catalog, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(catalog.members.isEmpty());
    }

    // A rewritten image is read again; the same one is not.
    void cacheFollowsTheFile() {
        const QString stage = m_dir.filePath(QStringLiteral("cstage"));
        QVERIFY(QDir().mkpath(stage));
        QFile f(stage + QStringLiteral("/one"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("1");
        f.close();
        const QString iso = m_dir.filePath(QStringLiteral("c.iso"));
        QVERIFY(Run({"-as", "mkisofs", "-quiet", "-R", "-o", iso, stage}));
        CIsoCatalogCache cache(2);
        QString error;
        int fd = ::open(QFile::encodeName(iso).constData(), O_RDONLY);
        const IsoCatalog* first = cache.Get(fd, &error);
        QVERIFY(first && first->find("one"));
        QCOMPARE(cache.Get(fd, &error), first);
        ::close(fd);
        QVERIFY(QFile::rename(stage + QStringLiteral("/one"), stage + QStringLiteral("/two")));
        QVERIFY(QFile::remove(iso));
        QVERIFY(Run({"-as", "mkisofs", "-quiet", "-R", "-o", iso, stage}));
        fd = ::open(QFile::encodeName(iso).constData(), O_RDONLY);
        const IsoCatalog* second = cache.Get(fd, &error);
        ::close(fd);
        QVERIFY(second && second->find("two") && !second->find("one"));
    }
};

QTEST_GUILESS_MAIN(TestIsoCatalog)
#include "tst_isocatalog.moc"
