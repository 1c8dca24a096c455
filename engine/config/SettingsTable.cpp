#include "engine/config/SettingsTable.h"

#include <algorithm>
#include <cstring>

QString SettingEntry::Section() const {
    const char* slash = std::strchr(key, '/');
    return slash ? QString::fromLatin1(key, int(slash - key))
                 : QString::fromLatin1(SettingsTable::kSection);
}

QString SettingEntry::Name() const {
    const char* slash = std::strchr(key, '/');
    return QString::fromLatin1(slash ? slash + 1 : key);
}

QString SettingEntry::DefaultText() const {
    if (kind == SettingKind::Flag)
        return number ? QStringLiteral("1") : QStringLiteral("0");
    if (kind == SettingKind::Text)
        return std::strcmp(key, SettingsTable::DirName.key) == 0 ? QStringLiteral("~/tftp") : QString();
    return QString::number(number);
}

QString SettingEntry::RangeText() const {
    switch (kind) {
    case SettingKind::Flag:
        return QStringLiteral("0 or 1");
    case SettingKind::Text:
        return {};
    case SettingKind::Number:
    case SettingKind::Port:
        break;
    }
    if (min == kAnyInt && max == kMaxInt)
        return QStringLiteral("any integer");
    if (max == kMaxInt)
        return QStringLiteral("%1 or more").arg(min);
    return QStringLiteral("%1-%2").arg(min).arg(max);
}

int SettingEntry::Bounded(int stored) const {
    switch (kind) {
    case SettingKind::Number:
        return std::clamp(stored, min, max);
    case SettingKind::Port:
        return stored >= min && stored <= max ? stored : number;
    case SettingKind::Flag:
    case SettingKind::Text:
        break;
    }
    return stored;
}
