#include "ProtocolCommand.h"

#include "ui/dialogs/ProtocolDlg.h"
#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"

void RunProtocolCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CProtocolDlg dlg(store, parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    store.WriteProfileInt(CSettingsStore::kNegotiate, dlg.m_bNegotiate ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kMaxBlockSize, dlg.m_nMaxBlockSize);
    store.WriteProfileInt(CSettingsStore::kMaxWindowSize, dlg.m_nMaxWindowSize);
    store.WriteProfileInt(CSettingsStore::kPortFirst, dlg.m_nPortFirst);
    store.WriteProfileInt(CSettingsStore::kPortLast, dlg.m_nPortLast);
    store.WriteProfileInt(CSettingsStore::kReplyFromRequestAddress,
                          dlg.m_bReplyFromRequestAddress ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kSinglePort, dlg.m_bSinglePort ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kIPv6, dlg.m_bIPv6 ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kListenAddress, dlg.m_strListenAddress);
    store.WriteProfileInt(CSettingsStore::kHttpEnabled, dlg.m_bHttp ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kHttpPort, dlg.m_nHttpPort);
}
