#include "settings/SettingsManual.h"

#include "engine/config/SettingsTable.h"

#include <QStringList>
#include <functional>

namespace {
// roff takes a leading dot or quote as a request, and a backslash as an escape.
QString roff(QString text) {
    text.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    text.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (text.startsWith(QLatin1Char('.')) || text.startsWith(QLatin1Char('\'')))
        text.prepend(QStringLiteral("\\&"));
    return text;
}

QString defaultAndRange(const SettingEntry& entry) {
    QString text = entry.DefaultText().isEmpty()
                       ? QStringLiteral("default empty")
                       : QStringLiteral("default %1").arg(entry.DefaultText());
    if (!entry.RangeText().isEmpty())
        text += QStringLiteral(", ") + entry.RangeText();
    return text;
}

// Each section once, in the table's order (even if a key is added out of place), with a
// heading and then a text per key.
QString bySection(const std::function<QString(const QString&)>& heading,
                  const std::function<QString(const SettingEntry&)>& line) {
    QStringList sections;
    for (const SettingEntry* entry : SettingsTable::kAll)
        if (!sections.contains(entry->Section()))
            sections.append(entry->Section());
    QString out;
    for (const QString& section : sections) {
        out += heading(section);
        for (const SettingEntry* entry : SettingsTable::kAll)
            if (entry->Section() == section)
                out += line(*entry);
    }
    return out;
}
} // namespace

QString SettingsHelpText() {
    QString out = QStringLiteral(
        "Settings: ~/.config/Zelk TFTP Server/ZAZO_Dize.conf, or the --settings FILE.\n");
    return out + bySection(
                     [](const QString& section) { return QStringLiteral("\n[%1]\n").arg(section); },
                     [](const SettingEntry& entry) {
                         return QStringLiteral("  %1 (%2)\n      %3\n")
                             .arg(entry.Name(), defaultAndRange(entry),
                                  QString::fromUtf8(entry.description));
                     });
}

QString SettingsManSection() {
    QString out = QStringLiteral(
        "[settings]\n"
        "The settings file is \\fI~/.config/Zelk TFTP Server/ZAZO_Dize.conf\\fR, or the\n"
        "file given with \\fB\\-\\-settings\\fR. Each key below is in the section named\n"
        "before it; a flag is 0 (off) or 1 (on).\n");
    return out + bySection(
                     [](const QString& section) { return QStringLiteral(".SS [%1]\n").arg(section); },
                     [](const SettingEntry& entry) {
                         return QStringLiteral(".TP\n.B %1\n%2 (%3).\n")
                             .arg(entry.Name(), roff(QString::fromUtf8(entry.description)),
                                  roff(defaultAndRange(entry)));
                     });
}
