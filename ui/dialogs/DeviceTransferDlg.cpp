#include "ui/dialogs/DeviceTransferDlg.h"

#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"
#include "ui_DeviceTransferDlg.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QKeyEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

CDeviceTransferDlg::CDeviceTransferDlg(bool put, const QString& workingFolder,
                                       const QStringList& recentDevices, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CDeviceTransferDlg>()), m_bPut(put),
      m_strFolder(workingFolder) {
    ui->setupUi(this);
    setWindowTitle(put ? QStringLiteral("Send to Device") : QStringLiteral("Fetch from Device"));
    ui->deviceCombo->addItems(recentDevices);
    ui->deviceCombo->setCurrentIndex(recentDevices.isEmpty() ? -1 : 0);
    ui->deviceCombo->lineEdit()->setPlaceholderText(QStringLiteral("192.168.1.1"));
    // An editable combo keeps the first Enter for itself (to add its text to the list),
    // and OK needed a second one: Enter there is OK at once, as in every other field.
    // The recent devices are kept by the command instead.
    ui->deviceCombo->setInsertPolicy(QComboBox::NoInsert);
    ui->deviceCombo->lineEdit()->installEventFilter(this);
    ui->remoteEdit->setPlaceholderText(put ? QStringLiteral("firmware.bin") : QStringLiteral("startup-config"));
    ui->localEdit->setPlaceholderText(put ? QStringLiteral("The file to send")
                                          : QDir(workingFolder).filePath(QStringLiteral("NAME")));
    ui->sizeCheck->setToolTip(put ? QStringLiteral("Tell the device the file's size (tsize)")
                                  : QStringLiteral("Ask the device for the file's size, for the progress"));
    connect(ui->browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(ui->remoteEdit, &QLineEdit::textEdited, this, [this](const QString& n) { OnRemoteEdited(n); });
    connect(ui->localEdit, &QLineEdit::textEdited, this, [this] { m_bLocalTyped = true; });
    // "1 second", "2 seconds": the suffix follows the number.
    for (QSpinBox* spin : {ui->timeoutSpin, ui->waitSpin}) {
        auto suffix = [spin](int value) {
            spin->setSuffix(value == 1 ? QStringLiteral(" second") : QStringLiteral(" seconds"));
        };
        suffix(spin->value());
        connect(spin, &QSpinBox::valueChanged, spin, suffix);
    }
    connect(ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui->deviceCombo->setFocus();
}

CDeviceTransferDlg::~CDeviceTransferDlg() = default;

bool CDeviceTransferDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->deviceCombo->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QCompleter* completer = ui->deviceCombo->completer();
        const bool choosing = completer && completer->popup() && completer->popup()->isVisible();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !choosing) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString CDeviceTransferDlg::Device() const { return ui->deviceCombo->currentText().trimmed(); }

QString CDeviceTransferDlg::LocalFile() const {
    const QString typed = ui->localEdit->text().trimmed();
    return QDir(m_strFolder).absoluteFilePath(typed); // a bare name goes into the working folder
}

// A fetch goes into the working folder under the remote name's last part until the user
// picks another file; a send offers the remote name from the file.
void CDeviceTransferDlg::OnRemoteEdited(const QString& name) {
    if (m_bPut || m_bLocalTyped)
        return;
    const QString base = QFileInfo(name.trimmed()).fileName();
    ui->localEdit->setText(base.isEmpty() ? QString() : QDir(m_strFolder).filePath(base));
}

void CDeviceTransferDlg::OnBrowse() {
    const QString start = ui->localEdit->text().isEmpty() ? m_strFolder : LocalFile();
    const QString file = m_bPut ? QFileDialog::getOpenFileName(this, QStringLiteral("File to Send"), start)
                                : QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), start);
    if (file.isEmpty())
        return;
    ui->localEdit->setText(QDir::toNativeSeparators(file));
    m_bLocalTyped = true;
    if (m_bPut && ui->remoteEdit->text().trimmed().isEmpty())
        ui->remoteEdit->setText(QFileInfo(file).fileName());
}

bool CDeviceTransferDlg::Refuse(QWidget* field, const QString& text) {
    QMessageBox::warning(this, windowTitle(), text);
    field->setFocus();
    return false;
}

void CDeviceTransferDlg::accept() {
    TftpClient::Request r;
    r.put = m_bPut;
    const TftpClient::Device device = TftpClient::ParseDevice(Device());
    if (!device.why.isEmpty())
        return (void)Refuse(ui->deviceCombo, device.why);
    r.server = device.address;
    // A port typed after the address wins over the field's.
    if (device.port > 0)
        ui->portSpin->setValue(device.port);
    r.port = quint16(ui->portSpin->value());
    const QString remote = ui->remoteEdit->text().trimmed();
    if (remote.isEmpty())
        return (void)Refuse(ui->remoteEdit, QStringLiteral("Type the file's name on the device."));
    r.remoteName = remote.toUtf8();
    if (ui->localEdit->text().trimmed().isEmpty() && !m_bPut)
        ui->localEdit->setText(QDir(m_strFolder).filePath(QFileInfo(remote).fileName()));
    const QFileInfo local(LocalFile());
    if (m_bPut && !local.isFile())
        return (void)Refuse(ui->localEdit, TftpClient::NotAFileText(local.filePath()));
    if (!m_bPut && (local.fileName().isEmpty() || !local.absoluteDir().exists()))
        return (void)Refuse(ui->localEdit, QStringLiteral("Choose a file in an existing folder."));
    // A device node, FIFO, socket or folder is never replaced (the command line's rule).
    if (!m_bPut && !TftpClient::FetchMayReplace(local.filePath()))
        return (void)Refuse(ui->localEdit, TftpClient::NotAFileText(local.filePath()) +
                                               QStringLiteral(" Choose the file the fetch becomes."));
    // A fetch replaces a file only when the user says so; No is the default.
    if (!m_bPut && local.exists()) {
        QMessageBox box(QMessageBox::Question, windowTitle(),
                        QStringLiteral("%1 exists.\n\nReplace it with the device's file once that "
                                       "is complete?").arg(QDir::toNativeSeparators(local.absoluteFilePath())),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) {
            ui->localEdit->setFocus();
            return;
        }
    }
    r.local = TftpClient::LocalPath(local.absoluteFilePath());
    bool ok = false;
    const int block = ui->blockCombo->currentText().trimmed().toInt(&ok);
    if (!ok || block < Tftp::kMinBlockSize || block > Tftp::kMaxBlockSize)
        return (void)Refuse(ui->blockCombo, QStringLiteral("The block size is a number from %1 to %2.")
                                                .arg(Tftp::kMinBlockSize).arg(Tftp::kMaxBlockSize));
    const int window = ui->windowCombo->currentText().trimmed().toInt(&ok);
    if (!ok || window < 1 || window > Tftp::kMaxWindowSize)
        return (void)Refuse(ui->windowCombo, QStringLiteral("The window size is a number from 1 to %1.")
                                                 .arg(Tftp::kMaxWindowSize));
    // The plain values ask for nothing, so a device without options still answers.
    r.blockSize = block == Tftp::kBlockSize ? 0 : block;
    r.windowSize = window == 1 ? 0 : window;
    r.askSize = ui->sizeCheck->isChecked();
    r.netascii = ui->netasciiCheck->isChecked();
    r.timeOut = ui->timeoutSpin->value();
    r.waitSeconds = ui->waitSpin->value();
    m_request = r;
    QDialog::accept();
}
