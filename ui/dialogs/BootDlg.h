#pragma once

#include "engine/boot/SecureBootChain.h"

#include <QDialog>
#include <QString>
#include <QStringList>

class CSettingsStore;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QSpinBox;
class QLineEdit;
class QPushButton;

// The Boot dialog: the boot offers (ProxyDHCP) switch, the boot files, and the
// interface the offers go out on. A boot file is a name in the working folder (for UEFI
// HTTP a URL may be given instead); Browse only takes files beneath it. Storing the
// values is the Boot command's job.
class CBootDlg : public QDialog {
    Q_OBJECT

public:
    // `answersOn` is the line that says where the offers are answered ("eth0 (192.0.2.10)").
    CBootDlg(CSettingsStore& store, const QString& answersOn, QWidget* parent = nullptr);

    // Other: for the DHCP server's clients that are no PXE client.
    enum File { Bios, Uefi, UefiHttp, Ipxe, Other, FileCount };
    bool ProxyDhcp() const;
    QString BootFile(File which) const;
    bool SecureBootChain() const;
    bool RaspberryPi() const;
    // The boot menu for iPXE clients: on, its default entry (empty: the first), seconds.
    bool Menu() const;
    QString MenuDefault() const;
    int MenuSeconds() const;
    // The working folder's name for `path`, or empty when it lies outside the folder.
    static QString NameInFolder(const QString& folder, const QString& path);
    // The UEFI HTTP value as the dialog shows it.
    static QString FromStored(const QString& value);

    // Copies the chain's files from `sources` into `folder` (real copies: a link would
    // lead out of the folder, which the server does not follow), leaving any file that is
    // there already, and writes a starter GRUB configuration when there is none. Answers
    // the names written; nothing is written unless every required source exists.
    static QStringList FillChain(const QString& folder, const QList<SecureBoot::Source>& sources,
                                 QString* error);

private:
    void Browse(File which);
    // The chain line: complete, or which member is missing where.
    void ShowChain();
    void Fill();
    // The menu's group: the switch, default entry, seconds and the entries a client sees.
    QGroupBox* MakeMenuGroup(CSettingsStore& store);

    QString m_strFolder;
    QCheckBox* m_pSwitch = nullptr;
    QLineEdit* m_pFiles[FileCount] = {};
    QCheckBox* m_pChain = nullptr;
    QLabel* m_pChainStatus = nullptr;
    QPushButton* m_pFill = nullptr;
    QWidget* m_pPackages = nullptr; // the packages Fill needs, while they are missing
    QCheckBox* m_pPi = nullptr;
    QCheckBox* m_pMenu = nullptr;
    QComboBox* m_pMenuDefault = nullptr;
    QSpinBox* m_pMenuSeconds = nullptr;
};
