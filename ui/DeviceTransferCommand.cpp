#include "DeviceTransferCommand.h"

#include "ui/dialogs/DeviceTransferDlg.h"
#include "engine/host/EngineHost.h"

#include <QDir>
#include <QSettings>

namespace {
const QString kRecentKey = QStringLiteral("Client/recentDevices");
constexpr int kRecentCount = 10;
} // namespace

void RunDeviceTransferCommand(CEngineHost& engine, bool put, const QString& workingFolder,
                              QSettings& settings, QWidget* parent) {
    QStringList recent = settings.value(kRecentKey).toStringList();
    CDeviceTransferDlg dlg(put, workingFolder, recent, parent);
    if (dlg.exec() != QDialog::Accepted)
        return;
    recent.removeAll(dlg.Device());
    recent.prepend(dlg.Device());
    settings.setValue(kRecentKey, QStringList(recent.mid(0, kRecentCount)));
    // The row names a file beneath the working folder as the server's rows do, any other
    // by its whole path.
    const QString file = dlg.LocalFile();
    const QString relative = QDir(workingFolder).relativeFilePath(file);
    const bool beneath = !relative.startsWith(QLatin1String("..")) && !QDir::isAbsolutePath(relative);
    engine.StartClient(dlg.Request(), beneath ? relative : file);
}
