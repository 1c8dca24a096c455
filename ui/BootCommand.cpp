#include "BootCommand.h"

#include "ui/dialogs/BootDlg.h"
#include "engine/host/EngineHost.h"
#include "engine/boot/ProxyDhcp.h"
#include "settings/SettingsStore.h"

#include <QMessageBox>

void RunBootCommand(CEngineHost& engine, CSettingsStore& store, const QHostAddress& listen,
                    QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    const BootInterface where = ChooseBootInterface(listen, SystemInterfaces());
    CBootDlg dlg(store, where.describe() + QStringLiteral(", ports 67 and 4011"), parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    store.WriteProfileInt(CSettingsStore::kProxyDhcp, dlg.ProxyDhcp() ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kBootFileBios, dlg.BootFile(CBootDlg::Bios));
    store.WriteProfileString(CSettingsStore::kBootFileUefi, dlg.BootFile(CBootDlg::Uefi));
    store.WriteProfileString(CSettingsStore::kBootFileUefiHttp, dlg.BootFile(CBootDlg::UefiHttp));
    store.WriteProfileString(CSettingsStore::kBootFileIpxe, dlg.BootFile(CBootDlg::Ipxe));
    store.WriteProfileString(CSettingsStore::kBootFileOther, dlg.BootFile(CBootDlg::Other));
    store.WriteProfileInt(CSettingsStore::kSecureBootChain, dlg.SecureBootChain() ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kRaspberryPi, dlg.RaspberryPi() ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kMenu, dlg.Menu() ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kMenuDefault, dlg.MenuDefault());
    store.WriteProfileInt(CSettingsStore::kMenuSeconds, dlg.MenuSeconds());
    const BootStatus status = engine.RestartBootOffers();
    if (!status.ok)
        QMessageBox::warning(parent, QStringLiteral("Boot"), status.text());
}
