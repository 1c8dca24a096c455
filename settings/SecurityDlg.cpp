#include "SecurityDlg.h"
#include "ui_SecurityDlg.h"

#include "SettingsStore.h"

#include <array>

CSecurityDlg::CSecurityDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CSecurityDlg>()) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint); // fixed size: no maximise button

    m_rules = AccessRules::Load(store);
    UpdateData(false);
    ui->okButton->setFocus();
}

CSecurityDlg::~CSecurityDlg() = default;

void CSecurityDlg::UpdateData(bool save) {
    const std::array<QLineEdit*, 6> edits = {ui->client1Edit, ui->client2Edit, ui->client3Edit,
                                             ui->client4Edit, ui->client5Edit, ui->client6Edit};
    if (save) {
        m_rules.allowClient = ui->allowClientCheck->isChecked();
        for (size_t i = 0; i < edits.size(); ++i)
            m_rules.clients[i] = edits[i]->text();
        m_rules.sendFile = ui->sendFileCheck->isChecked();
        m_rules.fileEdit = ui->fileEdit->text();
    } else {
        ui->allowClientCheck->setChecked(m_rules.allowClient);
        for (size_t i = 0; i < edits.size(); ++i)
            edits[i]->setText(m_rules.clients[i]);
        ui->sendFileCheck->setChecked(m_rules.sendFile);
        ui->fileEdit->setText(m_rules.fileEdit);
    }
}

void CSecurityDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}
