#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class CSettingsStore;

namespace Ui {
class CSecurityDlg;
}

// The Security dialog: up to six allowed client addresses and the one file that may be
// sent. It shows the stored values when it is built; OK takes the entries into the
// members without checking them, Cancel leaves the loaded values there.
class CSecurityDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSecurityDlg(CSettingsStore& store, QWidget* parent = nullptr);
    ~CSecurityDlg() override;

    bool m_bAllowClient = false;
    QString m_strClient1, m_strClient2, m_strClient3, m_strClient4, m_strClient5, m_strClient6;
    bool m_bSendFile = false;
    QString m_strFileEdit;

    // The six slots in order.
    QStringList Clients() const;

public slots:
    void accept() override;

private:
    void UpdateData(bool save);
    QString* ClientMember(int index);

    std::unique_ptr<Ui::CSecurityDlg> ui;
};
