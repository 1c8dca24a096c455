#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class CSettingsStore;

namespace Ui {
class CProtocolDlg;
}

// The Protocol dialog: option negotiation, the transfer port range and the addresses the
// server answers from. It shows the stored values when it is built; OK checks every entry
// and keeps the dialog open, with the bad field selected, until all are valid. Storing
// them is the Protocol command's job.
class CProtocolDlg : public QDialog {
    Q_OBJECT

public:
    explicit CProtocolDlg(CSettingsStore& store, QWidget* parent = nullptr);
    ~CProtocolDlg() override;

    bool m_bNegotiate = false;
    int m_nMaxBlockSize = 0;
    int m_nMaxWindowSize = 0;
    int m_nPortFirst = 0; // both 0: any port (the counter's own range)
    int m_nPortLast = 0;
    bool m_bReplyFromRequestAddress = false;
    bool m_bIPv6 = false;
    QString m_strListenAddress;

public slots:
    void accept() override;

private slots:
    void OnAnyPort(bool any);

private:
    // save false: members to controls. save true: controls to members, all or nothing.
    bool UpdateData(bool save);

    std::unique_ptr<Ui::CProtocolDlg> ui;
};
