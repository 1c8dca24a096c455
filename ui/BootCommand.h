#pragma once

class CEngineHost;
class CSettingsStore;
class QHostAddress;
class QWidget;

// The Boot command: runs the Boot dialog and, on OK, stores the switch and the boot
// files, then opens or closes the boot offers at once. The boot files are read at
// every offer.
void RunBootCommand(CEngineHost& engine, CSettingsStore& store, const QHostAddress& listen,
                    QWidget* parent);
