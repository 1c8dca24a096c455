#pragma once

class CEngineHost;
class CSettingsStore;
class QHostAddress;
class QWidget;

// The DHCP command: runs the DHCP dialog and, on OK, stores the [Dhcp] values; the
// server opens, moves or closes at once (the boot offers with it, as they step aside
// where it answers).
void RunDhcpCommand(CEngineHost& engine, CSettingsStore& store, const QHostAddress& listen,
                    QWidget* parent);
