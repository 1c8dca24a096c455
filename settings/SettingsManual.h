#pragma once

#include <QString>

// The table of settings (engine/config/SettingsTable.h) as people read it, so the
// manual and --help-settings list every key and cannot fall behind it.

// Plain text for --help-settings: a block per section, a line per key with its default,
// range and meaning.
QString SettingsHelpText();
// The manual page's SETTINGS section, as help2man includes it (an [settings] section in
// roff): made at build time from --help-settings-roff.
QString SettingsManSection();
