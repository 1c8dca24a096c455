#pragma once

#include <QDialog>
#include <QString>

class CSettingsStore;
class QCheckBox;
class QLineEdit;

// The Boot dialog: the boot offers (ProxyDHCP) switch, the four boot files, and the
// interface the offers go out on. A boot file is a name in the working folder (for UEFI
// HTTP a URL may be given instead); Browse only takes files beneath it. Storing the
// values is the Boot command's job.
class CBootDlg : public QDialog {
    Q_OBJECT

public:
    // `answersOn` is the line that says where the offers are answered ("eth0 (192.0.2.10)").
    CBootDlg(CSettingsStore& store, const QString& answersOn, QWidget* parent = nullptr);

    enum File { Bios, Uefi, UefiHttp, Ipxe, FileCount };
    bool ProxyDhcp() const;
    QString BootFile(File which) const;
    // The working folder's name for `path`, or empty when it lies outside the folder.
    static QString NameInFolder(const QString& folder, const QString& path);
    // The UEFI HTTP value as the dialog shows it.
    static QString FromStored(const QString& value);

private:
    void Browse(File which);

    QString m_strFolder;
    QCheckBox* m_pSwitch = nullptr;
    QLineEdit* m_pFiles[FileCount] = {};
};
