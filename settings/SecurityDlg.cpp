#include "SecurityDlg.h"
#include "ui_SecurityDlg.h"

#include "SettingsStore.h"

#include <array>

CSecurityDlg::CSecurityDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CSecurityDlg>()) {
    ui->setupUi(this);
    setFixedSize(size());

    m_bAllowClient =
        store.GetProfileInt(CSettingsStore::kAllowClient, CSettingsStore::kDefaultAllowClient) != 0;
    for (int i = 0; i < 6; ++i)
        *ClientMember(i) = store.GetProfileString(CSettingsStore::kClientKeys[i], QString());
    m_bSendFile =
        store.GetProfileInt(CSettingsStore::kSendFile, CSettingsStore::kDefaultSendFile) != 0;
    m_strFileEdit = store.GetProfileString(CSettingsStore::kFileEdit, QString());
    UpdateData(false);
    ui->okButton->setFocus();
}

CSecurityDlg::~CSecurityDlg() = default;

QString* CSecurityDlg::ClientMember(int index) {
    const std::array<QString*, 6> members = {&m_strClient1, &m_strClient2, &m_strClient3,
                                             &m_strClient4, &m_strClient5, &m_strClient6};
    return members.at(index);
}

QStringList CSecurityDlg::Clients() const {
    return {m_strClient1, m_strClient2, m_strClient3, m_strClient4, m_strClient5, m_strClient6};
}

void CSecurityDlg::UpdateData(bool save) {
    const std::array<QLineEdit*, 6> edits = {ui->client1Edit, ui->client2Edit, ui->client3Edit,
                                             ui->client4Edit, ui->client5Edit, ui->client6Edit};
    if (save) {
        m_bAllowClient = ui->allowClientCheck->isChecked();
        for (int i = 0; i < 6; ++i)
            *ClientMember(i) = edits[i]->text();
        m_bSendFile = ui->sendFileCheck->isChecked();
        m_strFileEdit = ui->fileEdit->text();
    } else {
        ui->allowClientCheck->setChecked(m_bAllowClient);
        for (int i = 0; i < 6; ++i)
            edits[i]->setText(*ClientMember(i));
        ui->sendFileCheck->setChecked(m_bSendFile);
        ui->fileEdit->setText(m_strFileEdit);
    }
}

void CSecurityDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}
