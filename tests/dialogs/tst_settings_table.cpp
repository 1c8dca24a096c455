#include "engine/config/EngineSettings.h"
#include "engine/config/SettingsTable.h"
#include "feedback/HelpSheetDlg.h"
#include "settings/SettingsManual.h"
#include "settings/SettingsStore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <iterator>

// The one table of settings, as the store, the manual page and Help take it.
class TestSettingsTable : public QObject {
    Q_OBJECT
private slots:
    void everyKeyInManualAndHelp();
    void storeKeepsIntegersInTheirLimits();
    void settingsDefaults();
    void emptyFileReadsAsTheEngineDefaults();
    void timeOutKeptWithinTheOption();
    void handWrittenListsReadWhole();
};

void TestSettingsTable::everyKeyInManualAndHelp() {
    const QString section = SettingsManSection();
    QString built; // the installed page, when help2man made it in this build
    if (QFile::exists(QStringLiteral(VANTREL_MANPAGE))) {
        QProcess gunzip;
        gunzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), QStringLiteral(VANTREL_MANPAGE)});
        QVERIFY(gunzip.waitForFinished(10000));
        built = QString::fromUtf8(gunzip.readAllStandardOutput());
        QVERIFY(built.contains(QStringLiteral(".SH SETTINGS")));
    }
    CPageSettings page;
    const QTableWidget* table = page.Table();
    QCOMPARE(table->rowCount(), int(std::size(SettingsTable::kAll)));
    const auto cell = [table](int row, int column) { return table->item(row, column)->text(); };
    for (const SettingEntry* entry : SettingsTable::kAll) {
        const QString key = QString::fromLatin1(entry->key);
        // The manual: the key under its own section's heading, before the next one.
        const qsizetype heading = section.indexOf(QStringLiteral(".SS [%1]\n").arg(entry->Section()));
        const qsizetype next = section.indexOf(QStringLiteral(".SS ["), heading + 1);
        const qsizetype at = section.indexOf(QStringLiteral(".B %1\n").arg(entry->Name()), heading);
        QVERIFY2(heading >= 0 && at > heading && (next < 0 || at < next), qPrintable(key));
        if (!built.isEmpty()) {
            QVERIFY2(built.contains(QStringLiteral(".B %1\n").arg(entry->Name())), qPrintable(key));
            // The page's own prose about a key never states another default than the table
            // (a name two sections share, such as Port, cannot be told apart there).
            const auto sameName = [entry](const SettingEntry* e) { return e->Name() == entry->Name(); };
            const bool shared =
                std::count_if(std::begin(SettingsTable::kAll), std::end(SettingsTable::kAll), sameName) > 1;
            const QString prose = built.left(built.indexOf(QStringLiteral(".SH SETTINGS")));
            const QRegularExpression stated(
                QStringLiteral("\\.B %1\n[^\n]*\\(default (\\d+)").arg(entry->Name()));
            for (auto m = stated.globalMatch(prose); !shared && m.hasNext();)
                QCOMPARE(m.next().captured(1), entry->DefaultText());
        }
        // Help: one row with the section, key, default, range and description.
        int rows = 0;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (cell(row, 0) != entry->Section() || cell(row, 1) != entry->Name())
                continue;
            ++rows;
            QCOMPARE(cell(row, 2), entry->DefaultText());
            QCOMPARE(cell(row, 3), entry->RangeText());
            QCOMPARE(cell(row, 4), QString::fromUtf8(entry->description));
        }
        QVERIFY2(rows == 1, qPrintable(key));
    }
}

// Below, above and beside each integer key's range: a number is clamped, a port falls
// back to its default, a flag is any integer, and the start-up notes say so.
void TestSettingsTable::storeKeepsIntegersInTheirLimits() {
    QTemporaryDir dir;
    for (const SettingEntry* entry : SettingsTable::kAll) {
        if (!entry->IsInteger())
            continue;
        const QString key = QString::fromLatin1(entry->key);
        CSettingsStore store(dir.filePath(QString(key).replace(QLatin1Char('/'), QLatin1Char('_')) +
                                          QStringLiteral(".ini")));
        QCOMPARE(store.ReadNumber(*entry), entry->number);
        QVERIFY2(store.SettingNotes().isEmpty(), qPrintable(key));
        if (entry->kind == SettingKind::Flag) {
            store.WriteProfileInt(entry->key, 7);
            QVERIFY2(store.ReadFlag(*entry) && store.SettingNotes().isEmpty(), qPrintable(key));
        } else if (entry->max != kMaxInt) {
            store.WriteProfileInt(entry->key, entry->max + 1);
            const int expected = entry->kind == SettingKind::Port ? entry->number : entry->max;
            QCOMPARE(store.ReadNumber(*entry), expected);
            QCOMPARE(store.SettingNotes(),
                     QStringList{QStringLiteral("%1=%2 out of range, using %3")
                                     .arg(entry->Name()).arg(entry->max + 1).arg(expected)});
        }
        store.WriteProfileString(entry->key, QStringLiteral("abc"));
        QCOMPARE(store.ReadNumber(*entry), entry->number);
        QCOMPARE(store.SettingNotes(), QStringList{QStringLiteral("%1=abc not understood, using %2")
                                                       .arg(entry->Name()).arg(entry->number)});
    }
}

void TestSettingsTable::settingsDefaults() {
    QTemporaryDir dir;
    CSettingsStore store(dir.filePath("s.ini"));
    QCOMPARE(store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName()),
             QDir::homePath() + "/tftp");
    QCOMPARE(store.GetProfileInt(CSettingsStore::kTimeOut, 20), 20);
    store.WriteProfileInt(CSettingsStore::kTimeOut, -3);
    QCOMPARE(store.GetProfileInt(CSettingsStore::kTimeOut, 20), -3);
    QSettings raw(store.FileName(), QSettings::IniFormat);
    QCOMPARE(raw.value("WorkingDir/TimeOut").toString(), QStringLiteral("-3"));
    // A value that is not a number reads as the default.
    raw.setValue("WorkingDir/TimeOut", "soon");
    raw.sync();
    QCOMPARE(store.GetProfileInt(CSettingsStore::kTimeOut, 20), 20);
}

// The engine's tests start from the value's own defaults: an empty file must read as them.
void TestSettingsTable::emptyFileReadsAsTheEngineDefaults() {
    QTemporaryDir dir;
    CSettingsStore store(dir.filePath("s.ini"));
    EngineSettings defaults;
    defaults.workingFolder = CSettingsStore::DefaultDirName();
    QVERIFY(store.LoadEngineSettings() == defaults);
}

// TimeOut as the engine is handed it: never past the option's 255 nor below 1 s, and a
// value not understood is said so.
void TestSettingsTable::timeOutKeptWithinTheOption() {
    QTemporaryDir dir;
    CSettingsStore store(dir.filePath("s.ini"));
    const struct {
        int written;
        int handed;
    } cases[] = {{7, 7}, {0, 1}, {-5, 1}, {999999, 255}};
    for (const auto& c : cases) {
        store.WriteProfileInt(CSettingsStore::kTimeOut, c.written);
        QCOMPARE(store.LoadEngineSettings().timeOut, c.handed);
    }
    QCOMPARE(store.SettingNotes(), QStringList{"TimeOut=999999 out of range, using 255"});
    store.WriteProfileString(CSettingsStore::kTimeOut, QStringLiteral("2.5"));
    store.WriteProfileString(CSettingsStore::kMaxBlockSize, QStringLiteral("abc"));
    QCOMPARE(store.SettingNotes(), (QStringList{"TimeOut=2.5 not understood, using 20",
                                                "MaxBlockSize=abc not understood, using 1468"}));
}

// A file edited by hand as docs/laptop-and-device.md writes it: an unquoted comma list is one text,
// and the DHCP server gives every address of it.
void TestSettingsTable::handWrittenListsReadWhole() {
    QTemporaryDir dir;
    const struct {
        QByteArray line;
        QString text;
    } cases[] = {
        {"DnsServers=198.51.100.2,198.51.100.3", "198.51.100.2,198.51.100.3"},
        {"DnsServers=198.51.100.2, 198.51.100.3", "198.51.100.2,198.51.100.3"},
        {"DnsServers=\"198.51.100.2, 198.51.100.3\"", "198.51.100.2, 198.51.100.3"},
        {"DnsServers=198.51.100.2 198.51.100.3", "198.51.100.2 198.51.100.3"},
        {"DnsServers=198.51.100.2", "198.51.100.2"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("s.ini"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Dhcp]\n" + c.line + "\n");
        file.close();
        CSettingsStore store(path);
        QCOMPARE(store.DhcpDnsServers(), c.text);
        QCOMPARE(store.LoadEngineSettings().dhcpDnsServers, c.text);
        QCOMPARE(store.SettingNotes(), QStringList());
    }
    // A semicolon starts a comment in the file: only the first is read, and that is said.
    QFile file(dir.filePath(QStringLiteral("s.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Dhcp]\nDnsServers=198.51.100.2;198.51.100.3\n");
    file.close();
    CSettingsStore store(file.fileName());
    QCOMPARE(store.DhcpDnsServers(), QStringLiteral("198.51.100.2"));
    QCOMPARE(store.SettingNotes(),
             QStringList{"DnsServers=198.51.100.2;198.51.100.3: what follows ';' is a comment, so "
                         "only \"198.51.100.2\" is used; separate with commas"});
}

QTEST_MAIN(TestSettingsTable)
#include "tst_settings_table.moc"
