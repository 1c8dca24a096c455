#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class CSettingsStore;
class QLineEdit;

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
    bool m_bSinglePort = false; // every transfer on the request port
    bool m_bIPv6 = false;
    QString m_strListenAddress; // empty: every address
    bool m_bHttp = false; // the working folder over HTTP too, on m_nHttpPort
    int m_nHttpPort = 0;

    // What the listen field offers: "all" (every address, stored empty), then this
    // machine's addresses. Anything else may be typed too.
    static const char* const kAllAddresses;
    static QStringList ListenChoices();

public slots:
    void accept() override;

private slots:
    void OnAnyPort(bool any);

private:
    // save false: members to controls. save true: controls to members, all or nothing.
    bool UpdateData(bool save);
    void LayOut();
    void FitFields();
    void changeEvent(QEvent* event) override;

    std::unique_ptr<Ui::CProtocolDlg> ui;
    class QCheckBox* m_pHttpCheck = nullptr;
    class QCheckBox* m_pSinglePortCheck = nullptr;
    class QLabel* m_pSinglePortHelp = nullptr;
    QLineEdit* m_pHttpPortEdit = nullptr;
    bool m_bLaidOut = false; // setupUi changes the font before the fields exist
};
