#include "SetupCommand.h"

#include "engine/host/EngineHost.h"
#include "settings/SettingsStore.h"
#include "ui/dialogs/SetupDlg.h"

#include <QMessageBox>

bool IsValidDirName(const QString& dirName) {
    return dirName.startsWith(QLatin1Char('/'));
}

void RunSetupCommand(CEngineHost& engine, CSettingsStore& store, QWidget* parent) {
    // Once per command, not again when a rejected directory reopens the dialog.
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    for (;;) {
        // A new dialog each time: it shows the stored values, never the rejected entries.
        CSetupDlg dlg(store, parent);
        if (dlg.exec() != QDialog::Accepted)
            return;
        // On Linux the folder must be an absolute path to an existing folder; the
        // refusal says which of these it is not.
        QString problem = CSettingsStore::WorkingFolderProblem(dlg.m_strDirName);
        if (problem.isEmpty() && !IsValidDirName(dlg.m_strDirName))
            problem = QStringLiteral("the working folder %1 is not an absolute path")
                          .arg(dlg.m_strDirName);
        if (!problem.isEmpty()) {
            problem[0] = problem[0].toUpper();
            QMessageBox::warning(parent, QStringLiteral("ZAZO_Dize"),
                                 QStringLiteral("Invalid Directory Name!!\n\n%1.").arg(problem));
            continue;
        }
        store.WriteProfileString(CSettingsStore::kDirName, dlg.m_strDirName);
        store.WriteProfileInt(CSettingsStore::kOverWrite, dlg.m_bOverWrite ? 1 : 0);
        store.WriteProfileInt(CSettingsStore::kReadOnly, dlg.m_bReadOnly ? 1 : 0);
        store.WriteProfileInt(CSettingsStore::kSoundOn, dlg.m_bSoundOn ? 1 : 0);
        store.WriteProfileInt(CSettingsStore::kTimeOut, dlg.m_nTimeOut);
        // Only a changed port is written: an untouched one keeps following the default.
        if (dlg.m_nPort != store.Port())
            store.WriteProfileInt(CSettingsStore::kPort, dlg.m_nPort);
        engine.SetSoundOn(dlg.m_bSoundOn);
        return;
    }
}
