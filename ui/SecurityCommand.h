#pragma once

#include "AccessRules.h"

#include <QString>
#include <QStringList>

class CEngineHost;
class QWidget;

// The message that rejects these security entries, or an empty text when they pass.
// Addresses come first: a slot that is not empty needs exactly three full stops. The
// file name is looked at only when every address passes, and must carry no path.
QString SecurityCheckMessage(const AccessRules& rules);

// The Security command. OK stores the nine entries before they are checked; Cancel checks
// the stored ones. The dialog opens again until what was checked passes, and only a
// passing OK hands the entries to the running server.
void RunSecurityCommand(CEngineHost& engine, QWidget* parent);
