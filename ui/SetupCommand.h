#pragma once

#include <QString>

class CEngineHost;
class CSettingsStore;
class QWidget;

// The working directory must be an absolute path on this platform.
bool IsValidDirName(const QString& dirName);

// The Setup command: runs the Setup dialog until it is cancelled or confirmed with a
// valid directory, then stores the four values and turns the sounds on or off at once.
void RunSetupCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent);
