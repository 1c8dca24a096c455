#pragma once

class CEngineHost;
class CSettingsStore;
class QWidget;

// The Protocol command: runs the Protocol dialog (which keeps itself open on a bad entry)
// and, on OK, stores its eight values. The engine reads them at every request; IPv6 and
// the listen address are read at start-up.
void RunProtocolCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent);
