#include "SecurityCommand.h"

#include "engine/host/EngineHost.h"
#include "ui/dialogs/SecurityDlg.h"
#include "settings/SettingsStore.h"

void RunSecurityCommand(CEngineHost& engine, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CSettingsStore& store = engine.Store();
    CSecurityDlg dlg(store, parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    dlg.m_rules.Save(store);
    engine.SetRules(dlg.m_rules);
}
