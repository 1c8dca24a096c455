#include "ui/dialogs/SetupDlg.h"
#include "ui_SetupDlg.h"

#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace {
const char* const kAppTitle = "ZAZO_Dize";
}

bool ParseTimeOut(const QString& text, int* value) {
    static const QRegularExpression whole(QStringLiteral("^\\s*([+-]?[0-9]+)\\s*$"));
    const QRegularExpressionMatch match = whole.match(text);
    if (!match.hasMatch())
        return false;
    bool ok = false;
    const int n = match.captured(1).toInt(&ok);
    if (!ok)
        return false;
    *value = n;
    return true;
}

CSetupDlg::CSetupDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CSetupDlg>()) {
    ui->setupUi(this);
    setFixedSize(size());
    // A fixed size: nothing to maximise or minimise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    connect(ui->browseButton, &QPushButton::clicked, this, &CSetupDlg::OnBrowse);
    // Each field answers to its label's mnemonic.
    ui->dirNameLabel->setBuddy(ui->dirNameEdit);
    ui->timeOutLabel->setBuddy(ui->timeOutEdit);
    ui->portLabel->setBuddy(ui->portSpin);
    ui->portSpin->setRange(SettingsTable::Port.min, SettingsTable::Port.max);

    m_strDirName =
        store.GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName());
    m_bOverWrite =
        store.GetProfileInt(CSettingsStore::kOverWrite, CSettingsStore::kDefaultOverWrite) != 0;
    m_bReadOnly = store.ReadOnly();
    m_bSoundOn =
        store.GetProfileInt(CSettingsStore::kSoundOn, CSettingsStore::kDefaultSoundOn) != 0;
    m_nTimeOut = store.GetProfileInt(CSettingsStore::kTimeOut, CSettingsStore::kDefaultTimeOut);
    m_nPort = store.Port();
    UpdateData(false);
    ui->dirNameEdit->setFocus();
}

CSetupDlg::~CSetupDlg() = default;

bool CSetupDlg::UpdateData(bool save) {
    if (!save) {
        ui->dirNameEdit->setText(m_strDirName);
        ui->overWriteCheck->setChecked(m_bOverWrite);
        ui->readOnlyCheck->setChecked(m_bReadOnly);
        ui->timeOutEdit->setText(QString::number(m_nTimeOut));
        ui->soundOnCheck->setChecked(m_bSoundOn);
        ui->portSpin->setValue(m_nPort);
        return true;
    }
    int timeOut = 0;
    if (!ParseTimeOut(ui->timeOutEdit->text(), &timeOut)) {
        QMessageBox::warning(this, QString::fromLatin1(kAppTitle), tr("Please enter an integer."));
        ui->timeOutEdit->setFocus();
        ui->timeOutEdit->selectAll();
        return false;
    }
    m_strDirName = ui->dirNameEdit->text();
    m_bOverWrite = ui->overWriteCheck->isChecked();
    m_bReadOnly = ui->readOnlyCheck->isChecked();
    m_nTimeOut = timeOut;
    m_bSoundOn = ui->soundOnCheck->isChecked();
    m_nPort = ui->portSpin->value();
    return true;
}

void CSetupDlg::accept() {
    if (UpdateData(true))
        QDialog::accept();
}

void CSetupDlg::OnBrowse() {
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("Select TFTP Server Working Directory"),
                                          QDir::homePath(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    // Only the directory changes; unsaved edits of the other controls go back to the
    // values the dialog opened with.
    m_strDirName = dir;
    UpdateData(false);
}
