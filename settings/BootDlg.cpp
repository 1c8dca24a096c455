#include "settings/BootDlg.h"

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
