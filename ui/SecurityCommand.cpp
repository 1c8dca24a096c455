#include "SecurityCommand.h"

#include "engine/host/EngineHost.h"
#include "ui/dialogs/SecurityDlg.h"
#include "settings/SettingsStore.h"

void RunSecurityCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CSecurityDlg dlg(store, parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    store.SaveAccessRules(dlg.m_rules);
    engine.SetRules(dlg.m_rules);
}
