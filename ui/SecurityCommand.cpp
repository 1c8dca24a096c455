#include "SecurityCommand.h"

#include "SecurityDlg.h"
#include "EngineHost.h"
#include "SettingsStore.h"

#include <QHostAddress>
#include <QMessageBox>

QString SecurityCheckMessage(const AccessRules& rules) {
    const QString prefix = QStringLiteral("Invalid IP address in Client ");
    QString report = prefix;
    for (size_t slot = 0; slot < rules.clients.size(); ++slot) {
        const QString& client = rules.clients[slot];
        // Four dotted parts, or an IPv6 address (served when IPv6 is on).
        const bool ipv6 = client.contains(QLatin1Char(':')) &&
                          QHostAddress(client).protocol() == QAbstractSocket::IPv6Protocol;
        if (!client.isEmpty() && client.count(QLatin1Char('.')) != 3 && !ipv6)
            report += QString::number(slot + 1) + QLatin1Char(' ');
    }
    const QString& fileEdit = rules.fileEdit;
    if (report.size() > prefix.size())
        return report;
    // A client's name can never carry a path, whichever separator it uses.
    if (fileEdit.contains(QLatin1Char('\\')) || fileEdit.contains(QLatin1Char('/')))
        return QStringLiteral("Use only file name! Please, remove path name!!");
    return QString();
}

void RunSecurityCommand(CEngineHost& engine, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);

    CSettingsStore& store = engine.Store();
    for (;;) {
        CSecurityDlg dlg(store, parent);
        const bool accepted = dlg.exec() == QDialog::Accepted;
        // Stored before the check, so a rejected entry shows again when the dialog
        // reopens, and Cancel then checks it again.
        if (accepted)
            dlg.m_rules.Save(store);
        const QString message = SecurityCheckMessage(dlg.m_rules);
        if (!message.isEmpty()) {
            QMessageBox::warning(parent, QStringLiteral("ZAZO_Dize"), message);
            continue;
        }
        if (accepted)
            engine.SetRules(dlg.m_rules);
        return;
    }
}
