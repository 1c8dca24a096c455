#include "ui/dialogs/BootDlg.h"
#include "ui/dialogs/ComboAccessible.h"

#include "engine/boot/BootMenu.h"
#include "engine/boot/BootPolicy.h"
#include "settings/SettingsStore.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
constexpr char kInstallCommand[] = "sudo apt install shim-signed grub-efi-amd64-signed";
}

CBootDlg::CBootDlg(CSettingsStore& store, const QString& answersOn, QWidget* parent)
    : QDialog(parent), m_strFolder(store.WorkingFolder()) {
    setWindowTitle(QStringLiteral("Boot"));
    NameComboBoxesByLabels();
    // The fields scroll, so that the dialog fits a small or scaled screen; what it
    // answers on and the buttons stay in sight.
    auto* outer = new QVBoxLayout(this);
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
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
        const char* browse; // what a screen reader says for its Browse button
    } rows[FileCount] = {
        {"&BIOS PXE:", "bootFileBios", store.BootFileBios(), "Browse for the BIOS PXE file"},
        {"&UEFI PXE:", "bootFileUefi", store.BootFileUefi(), "Browse for the UEFI PXE file"},
        {"UEFI &HTTP (URL):", "bootFileUefiHttp", FromStored(store.BootFileUefiHttp()),
         "Browse for the UEFI HTTP file"},
        {"i&PXE:", "bootFileIpxe", store.BootFileIpxe(), "Browse for the iPXE file"},
        {"&Other (U-Boot, BOOTP):", "bootFileOther", store.BootFileOther(),
         "Browse for the file for other clients"},
    };
    for (int i = 0; i < FileCount; ++i) {
        auto* edit = new QLineEdit(rows[i].value, this);
        edit->setObjectName(QLatin1String(rows[i].object));
        edit->setPlaceholderText(QStringLiteral("(not answered)"));
        m_pFiles[i] = edit;
        auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
        browse->setAccessibleName(QLatin1String(rows[i].browse));
        connect(browse, &QPushButton::clicked, this, [this, i] { Browse(File(i)); });
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(browse);
        // A label of its own, so that its mnemonic reaches the field.
        auto* label = new QLabel(QLatin1String(rows[i].label), this);
        label->setBuddy(edit);
        form->addRow(label, row);
    }
    // With HTTP off a name cannot become a URL: the boot policy leaves such clients
    // unanswered (a red row), and this says so before any client comes.
    auto* http = new QLabel(store.HttpEnabled()
                                ? QStringLiteral("UEFI HTTP: a file name is offered as a URL on "
                                                 "this server's address and HTTP port %1; a URL "
                                                 "as it is.")
                                      .arg(store.HttpPort())
                                : QStringLiteral("UEFI HTTP: HTTP is off (Option > Protocol), so "
                                                 "UEFI HTTP clients are not answered for a file "
                                                 "name; only a URL set here is offered."),
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
    // Why Fill is grey, where the keyboard reaches it too (a disabled button's tooltip
    // it cannot), with the line that installs what it needs.
    m_pPackages = new QWidget(this);
    auto* packagesRow = new QHBoxLayout(m_pPackages);
    packagesRow->setContentsMargins(0, 0, 0, 0);
    auto* packagesText = new QLabel(
        QStringLiteral("Fill needs the packages shim-signed and grub-efi-amd64-signed:<br><tt>") +
            QLatin1String(kInstallCommand) + QStringLiteral("</tt>"),
        m_pPackages);
    packagesText->setObjectName(QStringLiteral("chainPackages"));
    packagesText->setWordWrap(true);
    packagesText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* copy = new QPushButton(QStringLiteral("Cop&y command"), m_pPackages);
    copy->setObjectName(QStringLiteral("copyInstall"));
    copy->setAccessibleName(QStringLiteral("Copy the install command"));
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this, [] {
        QGuiApplication::clipboard()->setText(QLatin1String(kInstallCommand));
    });
    packagesRow->addWidget(packagesText, 1);
    packagesRow->addWidget(copy, 0, Qt::AlignTop);
    layout->addWidget(m_pPackages);
    // Pis are BIOS PXE clients to look at: this gives them what their firmware takes.
    m_pPi = new QCheckBox(QStringLiteral("&Raspberry Pi 3, 4 and 5 get their own answer"), this);
    m_pPi->setObjectName(QStringLiteral("raspberryPi"));
    m_pPi->setChecked(store.RaspberryPi());
    auto* piHow = new QLabel(QStringLiteral("A Pi is known by its MAC; it boots bootcode.bin, "
                                            "start4.elf and the rest from the folder or its serial "
                                            "number's folder."),
                             this);
    piHow->setObjectName(QStringLiteral("raspberryPiHelp"));
    piHow->setWordWrap(true);
    m_pPi->setAccessibleDescription(piHow->text());
    layout->addWidget(m_pPi);
    layout->addWidget(piHow);
    connect(m_pChain, &QCheckBox::toggled, this, [this] { ShowChain(); });
    connect(m_pFiles[Uefi], &QLineEdit::textChanged, this, [this] { ShowChain(); });
    connect(m_pFill, &QPushButton::clicked, this, [this] { Fill(); });
    ShowChain();
    layout->addWidget(MakeMenuGroup(store));
    auto* guarded = new QLabel(
        QStringLiteral("While boot offers, the DHCP server or the menu are on, clients cannot "
                       "upload what decides a boot: the files above, the menus, and kernels, "
                       "initrds, .ipxe, .efi and .iso files at the folder's top level."),
        this);
    guarded->setObjectName(QStringLiteral("bootFilesProtected"));
    guarded->setWordWrap(true);
    layout->addWidget(guarded);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(body);
    outer->addWidget(scroll, 1);
    auto* where = new QLabel(QStringLiteral("Answers on: ") + answersOn, this);
    where->setObjectName(QStringLiteral("answersOn"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(where);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    outer->addWidget(buttons);
    // All of it where the screen has room; else as much as fits beside a title bar.
    const QMargins m = outer->contentsMargins();
    const int others = where->sizeHint().height() + buttons->sizeHint().height() +
                       2 * outer->spacing() + m.top() + m.bottom();
    const int room = screen()->availableGeometry().height() - 72 - others;
    scroll->setMinimumHeight(qMax(120, qMin(body->sizeHint().height(), room)));
    scroll->setMinimumWidth(body->sizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width());
    m_pSwitch->setFocus();
}

QGroupBox* CBootDlg::MakeMenuGroup(CSettingsStore& store) {
    auto* group = new QGroupBox(QStringLiteral("Boot menu"), this);
    auto* form = new QFormLayout(group);
    m_pMenu = new QCheckBox(QStringLiteral("Offer a &menu made from the folder to iPXE clients"), group);
    m_pMenu->setObjectName(QStringLiteral("menu"));
    m_pMenu->setChecked(store.Menu());
    form->addRow(m_pMenu);
    // The entries as the server makes them from the folder's files (kernels with their
    // initrd, scripts, EFI tools, ISOs over HTTP).
    const QStringList files = QDir(m_strFolder).entryList(QDir::Files, QDir::Name);
    BootMenu::Options options;
    options.httpPort = store.HttpEnabled() ? store.HttpPort() : 0;
    options.redirect = {store.HttpRedirect(), store.HttpRedirectAboveBytes()};
    const QList<BootMenu::Entry> entries = BootMenu::Entries(files, options);
    for (const BootMenu::Entry& e : entries)
        for (const QString& f : QStringList{e.file, e.initrd} + e.parts)
            if (!f.isEmpty())
                options.sizes.insert(f, QFileInfo(QDir(m_strFolder).filePath(f)).size());
    m_pMenuDefault = new QComboBox(group);
    m_pMenuDefault->setObjectName(QStringLiteral("menuDefault"));
    m_pMenuDefault->addItem(QStringLiteral("(the first)"), QString());
    auto* list = new QListWidget(group);
    list->setObjectName(QStringLiteral("menuEntries"));
    list->setAccessibleName(QStringLiteral("Boot menu entries a client sees"));
    list->setMaximumHeight(list->fontMetrics().height() * 6);
    for (const BootMenu::Entry& e : entries) {
        m_pMenuDefault->addItem(e.file, e.file);
        // What comes from the cache, as the written menu fetches it ([Http] Redirect).
        QStringList cached;
        for (const QString& f : QStringList{e.file, e.initrd} + e.parts)
            if (const QString url = f.isEmpty() ? QString() : BootMenu::CacheUrl(f, options); !url.isEmpty())
                cached << url;
        list->addItem(cached.isEmpty() ? BootMenu::Label(e)
                                       : BootMenu::Label(e) + QStringLiteral(" (from the cache: ") +
                                             cached.join(QStringLiteral(", ")) + QLatin1Char(')'));
    }
    const QString chosen = store.MenuDefault();
    if (!chosen.isEmpty() && m_pMenuDefault->findData(chosen) < 0)
        m_pMenuDefault->addItem(chosen + QStringLiteral(" (not in the folder)"), chosen);
    m_pMenuDefault->setCurrentIndex(std::max(0, m_pMenuDefault->findData(chosen)));
    auto* defaultLabel = new QLabel(QStringLiteral("D&efault entry:"), group);
    defaultLabel->setBuddy(m_pMenuDefault);
    form->addRow(defaultLabel, m_pMenuDefault);
    m_pMenuSeconds = new QSpinBox(group);
    m_pMenuSeconds->setObjectName(QStringLiteral("menuSeconds"));
    m_pMenuSeconds->setRange(SettingsTable::MenuSeconds.min, SettingsTable::MenuSeconds.max);
    m_pMenuSeconds->setValue(store.MenuSeconds());
    auto* secondsLabel = new QLabel(QStringLiteral("&Time-out, seconds:"), group);
    secondsLabel->setBuddy(m_pMenuSeconds);
    form->addRow(secondsLabel, m_pMenuSeconds);
    // What an iPXE client is offered, as the boot policy chooses it (no machine's own
    // script is asked for here).
    const bool own =
        BootPolicy::MenuScript(files, QString()) == QLatin1String(BootMenu::kUserName);
    auto* seen = new QLabel(own ? QStringLiteral("Your menu.ipxe is offered instead of:")
                                : QStringLiteral("A client sees:"),
                            group);
    form->addRow(seen);
    if (entries.isEmpty())
        list->addItem(QStringLiteral("(nothing to boot in the working folder)"));
    form->addRow(list);
    const auto follow = [this] {
        m_pMenuDefault->setEnabled(m_pMenu->isChecked());
        m_pMenuSeconds->setEnabled(m_pMenu->isChecked());
    };
    connect(m_pMenu, &QCheckBox::toggled, this, follow);
    follow();
    return group;
}

bool CBootDlg::Menu() const { return m_pMenu->isChecked(); }

bool CBootDlg::RaspberryPi() const { return m_pPi->isChecked(); }

QString CBootDlg::MenuDefault() const { return m_pMenuDefault->currentData().toString(); }

int CBootDlg::MenuSeconds() const { return m_pMenuSeconds->value(); }

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
    m_pPackages->setVisible(on && !installed);
    m_pChainStatus->setVisible(on);
    if (!on)
        return;
    // The file a UEFI PXE client would be offered with these fields, by the boot policy.
    BootPolicy::Settings fields;
    fields.uefi = BootFile(Uefi);
    fields.secureBootChain = true;
    const QString shim = BootPolicy::Choose(BootPolicy::Service::Offers,
                                            {Dhcp::ClientKind::Uefi, QString(), QString()}, fields,
                                            QHostAddress(), BootPolicy::Folder())
                             .file;
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
