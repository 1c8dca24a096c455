#include "SecurityCommand.h"

#include "SecurityDlg.h"
#include "ServerEngine.h"
#include "SettingsStore.h"

#include <QMessageBox>

QString SecurityCheckMessage(const QStringList& clients, const QString& fileEdit) {
    const QString prefix = QStringLiteral("Invalid IP address in Client ");
    QString report = prefix;
    for (int slot = 0; slot < clients.size(); ++slot) {
        const QString& client = clients.at(slot);
        if (!client.isEmpty() && client.count(QLatin1Char('.')) != 3)
            report += QString::number(slot + 1) + QLatin1Char(' ');
    }
    if (report.size() > prefix.size())
        return report;
    // A client's name can never carry a path, whichever separator it uses.
    if (fileEdit.contains(QLatin1Char('\\')) || fileEdit.contains(QLatin1Char('/')))
        return QStringLiteral("Use only file name! Please, remove path name!!");
    return QString();
}

void RunSecurityCommand(CServerEngine& engine, QWidget* parent) {
    if (engine.m_bSoundOn)
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CSettingsStore& store = engine.Store();
    for (;;) {
        CSecurityDlg dlg(store, parent);
        const bool accepted = dlg.exec() == QDialog::Accepted;
        const QStringList clients = dlg.Clients();
        if (accepted) {
            // Stored before the check, so a rejected entry shows again when the dialog
            // reopens, and Cancel then checks it again.
            store.WriteProfileInt(CSettingsStore::kAllowClient, dlg.m_bAllowClient ? 1 : 0);
            for (int i = 0; i < 6; ++i)
                store.WriteProfileString(CSettingsStore::kClientKeys[i], clients.at(i));
            store.WriteProfileInt(CSettingsStore::kSendFile, dlg.m_bSendFile ? 1 : 0);
            store.WriteProfileString(CSettingsStore::kFileEdit, dlg.m_strFileEdit);
        }
        const QString message = SecurityCheckMessage(clients, dlg.m_strFileEdit);
        if (!message.isEmpty()) {
            QMessageBox::warning(parent, QStringLiteral("ZAZO_Dize"), message);
            continue;
        }
        if (accepted) {
            engine.m_bAllowClient = dlg.m_bAllowClient;
            engine.m_strClient1 = dlg.m_strClient1;
            engine.m_strClient2 = dlg.m_strClient2;
            engine.m_strClient3 = dlg.m_strClient3;
            engine.m_strClient4 = dlg.m_strClient4;
            engine.m_strClient5 = dlg.m_strClient5;
            engine.m_strClient6 = dlg.m_strClient6;
            engine.m_bSendFile = dlg.m_bSendFile;
            engine.m_strFileEdit = dlg.m_strFileEdit;
        }
        return;
    }
}
