#pragma once

#include "engine/config/AccessRules.h"
#include "ui/dialogs/SecurityDlg.h" // SecurityCheckMessage

class CEngineHost;
class CSettingsStore;
class QWidget;

// The Security command. The dialog checks its entries before it closes with OK; only then
// are they stored and handed to the running server. Cancel keeps nothing.
void RunSecurityCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent);
