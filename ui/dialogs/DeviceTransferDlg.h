#pragma once

#include "engine/client/ClientRequest.h"

#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class CDeviceTransferDlg;
}

// Send to Device and Fetch from Device: the device's address (with the last ones used),
// port, remote name, local file and the options, the plain values every device takes
// offered first. OK checks the entries and keeps the dialog open on a bad one.
class CDeviceTransferDlg : public QDialog {
    Q_OBJECT

public:
    // put: Send to Device (a file anywhere); else Fetch from Device, into workingFolder
    // unless another file is chosen.
    CDeviceTransferDlg(bool put, const QString& workingFolder, const QStringList& recentDevices,
                       QWidget* parent = nullptr);
    ~CDeviceTransferDlg() override;

    // After OK: what to run, the device as typed and the local file.
    TftpClient::Request Request() const { return m_request; }
    QString Device() const;
    QString LocalFile() const;

public slots:
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnBrowse();
    void OnRemoteEdited(const QString& name);
    bool Refuse(QWidget* field, const QString& text);

    std::unique_ptr<Ui::CDeviceTransferDlg> ui;
    bool m_bPut;
    QString m_strFolder;
    bool m_bLocalTyped = false; // the user chose the local file: the remote name no longer sets it
    TftpClient::Request m_request;
};
