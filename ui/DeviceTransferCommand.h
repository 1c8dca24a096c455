#pragma once

class CEngineHost;
class QSettings;
class QString;
class QWidget;

// File > Send to Device... and Fetch from Device...: runs the dialog and, on OK, starts
// the client transfer on a row of its own. The last devices used are kept in `settings`.
void RunDeviceTransferCommand(CEngineHost& engine, bool put, const QString& workingFolder,
                              QSettings& settings, QWidget* parent);
