#include "SecurityCommand.h"

#include "EngineHost.h"
#include "SecurityDlg.h"
#include "SettingsStore.h"

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
