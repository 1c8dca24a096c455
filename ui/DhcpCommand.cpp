#include "DhcpCommand.h"

#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"
#include "ui/dialogs/DhcpDlg.h"

void RunDhcpCommand(CEngineHost& engine, CSettingsStore& store, const QHostAddress& listen,
                    QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CDhcpDlg dlg(store, listen, SystemLinks(), parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const DhcpOptions o = dlg.Options();
    store.WriteProfileInt(CSettingsStore::kDhcpEnabled, dlg.Enabled() ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kDhcpInterface, o.interface);
    store.WriteProfileString(CSettingsStore::kDhcpPoolFirst, o.poolFirst);
    store.WriteProfileString(CSettingsStore::kDhcpPoolLast, o.poolLast);
    store.WriteProfileString(CSettingsStore::kDhcpRouter, o.router);
    store.WriteProfileString(CSettingsStore::kDhcpDnsServers, o.dnsServers);
    store.WriteProfileInt(CSettingsStore::kDhcpLeaseSeconds, o.leaseSeconds);
    store.WriteProfileString(CSettingsStore::kDhcpHostsFile, o.hostsFile);
    store.WriteProfileInt(CSettingsStore::kDhcpOnlyKnownHosts, o.onlyKnownHosts ? 1 : 0);
    store.WriteProfileInt(CSettingsStore::kDhcpIPv6, dlg.Ipv6() ? 1 : 0);
    store.WriteProfileString(CSettingsStore::kDhcpPool6First, dlg.Pool6First());
    store.WriteProfileInt(CSettingsStore::kDhcpPool6Size, dlg.Pool6Size());
    engine.RestartBootOffers();
}
