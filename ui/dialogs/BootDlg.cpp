#include "ui/dialogs/BootDlg.h"

#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

CBootDlg::CBootDlg(CSettingsStore& store, const QString& answersOn, QWidget* parent)
    : QDialog(parent), m_strFolder(store.WorkingFolder()) {
    setWindowTitle(QStringLiteral("Boot"));
    auto* layout = new QVBoxLayout(this);
    m_pSwitch = new QCheckBox(QStringLiteral("Offer boot &files to PXE clients"), this);
    m_pSwitch->setObjectName(QStringLiteral("proxyDhcp"));
    m_pSwitch->setChecked(store.ProxyDhcp());
    layout->addWidget(m_pSwitch);
    // Wrapped, so that the dialog stays narrow enough for a scaled screen.
    auto* how = new QLabel(QStringLiteral("As a ProxyDHCP: the LAN's DHCP server still gives "
                                          "the addresses."),
                           this);
    how->setWordWrap(true);
    layout->addWidget(how);

    auto* form = new QFormLayout;
    const struct {
        const char* label;
        const char* object;
        QString value;
    } rows[FileCount] = {
        {"&BIOS PXE:", "bootFileBios", store.BootFileBios()},
        {"&UEFI PXE:", "bootFileUefi", store.BootFileUefi()},
        {"UEFI &HTTP (URL):", "bootFileUefiHttp", FromStored(store.BootFileUefiHttp())},
        {"i&PXE:", "bootFileIpxe", store.BootFileIpxe()},
        {"&Other (U-Boot, BOOTP):", "bootFileOther", store.BootFileOther()},
    };
    for (int i = 0; i < FileCount; ++i) {
        auto* edit = new QLineEdit(rows[i].value, this);
        edit->setObjectName(QLatin1String(rows[i].object));
        edit->setPlaceholderText(QStringLiteral("(not answered)"));
        m_pFiles[i] = edit;
        auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
        connect(browse, &QPushButton::clicked, this, [this, i] { Browse(File(i)); });
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        // A label of its own, so that its mnemonic reaches the field.
        auto* label = new QLabel(QLatin1String(rows[i].label), this);
        label->setBuddy(edit);
        form->addRow(label, row);
    }
    auto* http = new QLabel(QStringLiteral("UEFI HTTP: a file name is offered as a URL on "
                                           "this server's address and HTTP port (HTTP on in "
                                           "Option > Protocol); a URL as it is."),
                            this);
    http->setObjectName(QStringLiteral("uefiHttpHelp"));
    http->setWordWrap(true);
    form->addRow(QString(), http);
    layout->addLayout(form);

    // Secure Boot PCs: the UEFI PXE file is then the shim, and the chain behind it is
    // checked here as the server checks it for each client.
    m_pChain = new QCheckBox(QStringLiteral("&Secure Boot chain (shim, then GRUB)"), this);
    m_pChain->setObjectName(QStringLiteral("secureBootChain"));
    m_pChain->setChecked(store.SecureBootChain());
    m_pChainStatus = new QLabel(this);
    m_pChainStatus->setObjectName(QStringLiteral("chainStatus"));
    m_pChainStatus->setWordWrap(true);
    m_pFill = new QPushButton(QStringLiteral("Fi&ll from installed packages"), this);
    m_pFill->setObjectName(QStringLiteral("fillChain"));
    auto* chainRow = new QHBoxLayout;
    chainRow->addWidget(m_pChain, 1);
    chainRow->addWidget(m_pFill);
    layout->addLayout(chainRow);
    layout->addWidget(m_pChainStatus);
    connect(m_pChain, &QCheckBox::toggled, this, [this] { ShowChain(); });
    connect(m_pFiles[Uefi], &QLineEdit::textChanged, this, [this] { ShowChain(); });
    connect(m_pFill, &QPushButton::clicked, this, [this] { Fill(); });
    ShowChain();

    auto* where = new QLabel(QStringLiteral("Answers on: ") + answersOn, this);
    where->setObjectName(QStringLiteral("answersOn"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_pSwitch->setFocus();
}

// Browse once stored a URL with the word SERVER for the host, which no client can reach:
// such a value is shown (and saved again) as the file name it names.
QString CBootDlg::FromStored(const QString& value) {
    const QString placeholder = QStringLiteral("http://SERVER/");
    return value.startsWith(placeholder) ? value.mid(placeholder.size()) : value;
}

bool CBootDlg::ProxyDhcp() const { return m_pSwitch->isChecked(); }

bool CBootDlg::SecureBootChain() const { return m_pChain->isChecked(); }

void CBootDlg::ShowChain() {
    const bool on = m_pChain->isChecked();
    bool installed = true;
    for (const SecureBoot::Source& s : SecureBoot::PackageSources())
        installed = installed && (!s.required || QFileInfo(s.installed).isFile());
    m_pFill->setEnabled(on && installed);
    m_pFill->setToolTip(installed ? QString()
                                  : QStringLiteral("Needs the packages shim-signed and "
                                                   "grub-efi-amd64-signed"));
    m_pChainStatus->setVisible(on);
    if (!on)
        return;
    QString shim = BootFile(Uefi);
    if (shim.isEmpty())
        shim = QLatin1String(SecureBoot::kDefaultShim);
    const QDir folder(m_strFolder);
    const SecureBoot::Chain chain =
        SecureBoot::Check(QFile::encodeName(shim), [&folder](const QByteArray& name) {
            return QFileInfo(folder.filePath(QFile::decodeName(name))).isFile();
        });
    m_pChainStatus->setText(chain.complete()
                                ? QStringLiteral("Chain complete in the working folder.")
                                : QStringLiteral("Missing: ") + chain.missingText());
}

QStringList CBootDlg::FillChain(const QString& folder, const QList<SecureBoot::Source>& sources,
                                QString* error) {
    for (const SecureBoot::Source& s : sources) {
        if (s.required && !QFileInfo(s.installed).isFile()) {
            *error = QStringLiteral("%1 is not installed").arg(s.installed);
            return {};
        }
    }
    const QDir dir(folder);
    QStringList written;
    for (const SecureBoot::Source& s : sources) {
        const QString name = QFile::decodeName(s.name);
        if (!QFileInfo(s.installed).isFile() || QFileInfo::exists(dir.filePath(name)))
            continue;
        if (!QFile::copy(s.installed, dir.filePath(name))) {
            *error = QStringLiteral("%1 could not be copied to %2").arg(s.installed, folder);
            return written;
        }
        written.append(name);
    }
    const SecureBoot::Chain chain = SecureBoot::Check(
        SecureBoot::kDefaultShim,
        [&dir](const QByteArray& n) { return QFileInfo::exists(dir.filePath(QFile::decodeName(n))); });
    if (!chain.members.last().present()) {
        const QString config = QFile::decodeName(chain.members.last().names.last());
        QFile file(dir.filePath(config));
        if (!dir.mkpath(QFileInfo(config).path()) || !file.open(QIODevice::WriteOnly) ||
            file.write(SecureBoot::StarterConfig()) < 0) {
            *error = QStringLiteral("%1 could not be written").arg(file.fileName());
            return written;
        }
        written.append(config);
    }
    return written;
}

void CBootDlg::Fill() {
    QString error;
    const QStringList written = FillChain(m_strFolder, SecureBoot::PackageSources(), &error);
    if (!error.isEmpty())
        QMessageBox::warning(this, QStringLiteral("Boot"), error);
    else if (BootFile(Uefi).isEmpty())
        m_pFiles[Uefi]->setText(QLatin1String(SecureBoot::kDefaultShim));
    ShowChain();
    if (error.isEmpty())
        QMessageBox::information(this, QStringLiteral("Boot"),
                                 written.isEmpty()
                                     ? QStringLiteral("The folder already holds the chain.")
                                     : QStringLiteral("Copied into the working folder:\n") +
                                           written.join(QLatin1Char('\n')));
}

QString CBootDlg::BootFile(File which) const { return m_pFiles[which]->text().trimmed(); }

QString CBootDlg::NameInFolder(const QString& folder, const QString& path) {
    const QString base = QDir(folder).canonicalPath();
    const QString file = QFileInfo(path).canonicalFilePath();
    if (base.isEmpty() || file.isEmpty() || !file.startsWith(base + QLatin1Char('/')))
        return QString();
    return file.mid(base.size() + 1);
}

// The TFTP server serves the working folder only, so only a file beneath it will do.
// For UEFI HTTP too the name is stored: each offer makes it a URL on the address it is
// made on.
void CBootDlg::Browse(File which) {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Boot File"),
                                                      m_strFolder);
    if (path.isEmpty())
        return;
    const QString name = NameInFolder(m_strFolder, path);
    if (name.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Boot"),
                             QStringLiteral("The boot file must be in the working folder:\n") +
                                 m_strFolder);
        return;
    }
    m_pFiles[which]->setText(name);
}
