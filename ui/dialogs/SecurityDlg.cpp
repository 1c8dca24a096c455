#include "ui/dialogs/SecurityDlg.h"
#include "ui_SecurityDlg.h"

#include "engine/bootp/AddressText.h"
#include "settings/SettingsStore.h"

#include <QBoxLayout>
#include <QGridLayout>
#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <array>

bool IsValidClientEntry(const QString& entry) {
    if (entry.isEmpty())
        return true;
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    const QString address = slash < 0 ? entry : entry.left(slash);
    if (address.contains(QLatin1Char(':'))) {
        if (QHostAddress(address).protocol() != QAbstractSocket::IPv6Protocol)
            return false;
    } else if (quint32 v4 = 0; !Dhcp::ParseAddress(address.trimmed(), &v4)) {
        // QHostAddress also takes "10.1" (as 10.0.0.1): a user who typed three parts
        // made a typing error, so IPv4 needs all four. Blanks around it are the rules'.
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

const char* const kClientEntryFormat =
    "Each client is an IPv4 address in four dotted parts (192.168.1.20), an IPv6 address "
    "(2001:db8::15), or either with a prefix length for a range (192.168.1.0/24, fd00::/64).";

CSecurityDlg::CSecurityDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CSecurityDlg>()) {
    ui->setupUi(this);
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    LayOut();

    m_rules = store.LoadAccessRules();
    UpdateData(false);
    // Space is meant for the first check box, not for OK.
    ui->allowClientCheck->setFocus();
}

// Two columns of three slots as in the template, each wide enough for an IPv6 range in
// this style's font, with an example of what it takes.
void CSecurityDlg::LayOut() {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const std::array<QLineEdit*, 6> edits = {ui->client1Edit, ui->client2Edit, ui->client3Edit,
                                             ui->client4Edit, ui->client5Edit, ui->client6Edit};
    const std::array<QLabel*, 6> labels = {ui->slot1Label, ui->slot2Label, ui->slot3Label,
                                           ui->slot4Label, ui->slot5Label, ui->slot6Label};
    const char* const examples[6] = {"192.168.1.20", "192.168.1.0/24",  "10.0.0.0/8",
                                     "2001:db8::15", "2001:db8:5::/48", "fd00::/64"};
    const int wide =
        fontMetrics().horizontalAdvance(QStringLiteral("2001:db8:ffff:ffff::/64")) + 12;
    auto* clients = new QGridLayout(ui->clientGroup);
    clients->addWidget(ui->allowClientCheck, 0, 0, 1, 4);
    for (int i = 0; i < 6; ++i) {
        labels[i]->setBuddy(edits[i]);
        edits[i]->setMinimumWidth(wide);
        edits[i]->setPlaceholderText(QStringLiteral("e.g. ") + QLatin1String(examples[i]));
        edits[i]->setToolTip(QLatin1String(kClientEntryFormat));
        clients->addWidget(labels[i], 1 + i % 3, i < 3 ? 0 : 2);
        clients->addWidget(edits[i], 1 + i % 3, i < 3 ? 1 : 3);
    }
    auto* fileLabel = new QLabel(tr("&File:"), ui->fileGroup);
    fileLabel->setObjectName(QStringLiteral("fileLabel"));
    fileLabel->setBuddy(ui->fileEdit);
    ui->fileEdit->setPlaceholderText(QStringLiteral("e.g. pxelinux.0 (a name, no path)"));
    auto* file = new QGridLayout(ui->fileGroup);
    file->addWidget(ui->sendFileCheck, 0, 0, 1, 2);
    file->addWidget(fileLabel, 1, 0);
    file->addWidget(ui->fileEdit, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ui->okButton);
    buttons->addStretch(1);
    buttons->addWidget(ui->cancelButton);
    buttons->addStretch(1);
    auto* top = new QVBoxLayout(this);
    top->addWidget(ui->clientGroup);
    top->addWidget(ui->fileGroup);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
    // The fields first, the buttons last.
    QWidget* order[] = {ui->allowClientCheck, ui->client1Edit, ui->client2Edit, ui->client3Edit,
                        ui->client4Edit,      ui->client5Edit, ui->client6Edit, ui->sendFileCheck,
                        ui->fileEdit,         ui->okButton,    ui->cancelButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
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
    const bool addresses = message.startsWith(QLatin1String("Invalid IP address"));
    QMessageBox::warning(
        this, QStringLiteral("ZAZO_Dize"),
        addresses ? message + QStringLiteral("\n\n") + QLatin1String(kClientEntryFormat) : message);
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
