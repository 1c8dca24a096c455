#include "settings/SecurityDlg.h"
#include "ui_SecurityDlg.h"

#include "settings/SettingsStore.h"

#include <QHostAddress>
#include <QMessageBox>
#include <array>

namespace {
// QHostAddress also takes "10.1" (as 10.0.0.1): a user who typed three parts made a
// typing error, so IPv4 needs all four.
bool IsDottedQuad(const QString& text) {
    return text.count(QLatin1Char('.')) == 3 &&
           QHostAddress(text).protocol() == QAbstractSocket::IPv4Protocol;
}
} // namespace

bool IsValidClientEntry(const QString& entry) {
    if (entry.isEmpty())
        return true;
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QString address = slash < 0 ? entry : entry.left(slash);
    if (address.contains(QLatin1Char(':'))) {
        if (QHostAddress(address).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else if (!IsDottedQuad(address)) {
        return false;
    }
    return slash < 0 || QHostAddress::parseSubnet(entry).second >= 0;
}

QString SecurityCheckMessage(const AccessRules& rules) {
    const QString prefix = QStringLiteral("Invalid IP address in Client ");
    QString report = prefix;
    for (size_t slot = 0; slot < rules.clients.size(); ++slot)
        if (!IsValidClientEntry(rules.clients[slot]))
            report += QString::number(slot + 1) + QLatin1Char(' ');
    if (report.size() > prefix.size())
        return report;
    // A client's name can never carry a path, whichever separator it uses.
    const QString& fileEdit = rules.fileEdit;
    if (fileEdit.contains(QLatin1Char('\\')) || fileEdit.contains(QLatin1Char('/')))
        return QStringLiteral("Use only file name! Please, remove path name!!");
    return QString();
}

CSecurityDlg::CSecurityDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CSecurityDlg>()) {
    ui->setupUi(this);
    setFixedSize(size());
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

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
            m_rules.clients[i] = edits[i]->text().trimmed();
        m_rules.sendFile = ui->sendFileCheck->isChecked();
        m_rules.fileEdit = ui->fileEdit->text().trimmed();
    } else {
        ui->allowClientCheck->setChecked(m_rules.allowClient);
        for (size_t i = 0; i < edits.size(); ++i)
            edits[i]->setText(m_rules.clients[i]);
        ui->sendFileCheck->setChecked(m_rules.sendFile);
        ui->fileEdit->setText(m_rules.fileEdit);
    }
}

void CSecurityDlg::accept() {
    const AccessRules shown = m_rules;
    UpdateData(true);
    const QString message = SecurityCheckMessage(m_rules);
    if (message.isEmpty()) {
        QDialog::accept();
        return;
    }
    // Cancel must still find the values the dialog was opened with.
    const AccessRules entered = m_rules;
    m_rules = shown;
    QMessageBox::warning(this, QStringLiteral("ZAZO_Dize"), message);
    const std::array<QLineEdit*, 6> edits = {ui->client1Edit, ui->client2Edit, ui->client3Edit,
                                             ui->client4Edit, ui->client5Edit, ui->client6Edit};
    QLineEdit* bad = ui->fileEdit;
    for (size_t i = 0; i < edits.size(); ++i)
        if (!IsValidClientEntry(entered.clients[i])) {
            bad = edits[i];
            break;
        }
    bad->setFocus();
    bad->selectAll();
}
