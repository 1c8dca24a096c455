#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class CSettingsStore;

namespace Ui {
class CSetupDlg;
}

// Reads a time-out as the dialog accepts it: blanks, an optional sign, decimal digits,
// blanks. Anything else, the empty text included, is refused, and so is a number that
// does not fit in 32 bits.
bool ParseTimeOut(const QString& text, int* value);

// The Setup dialog: working directory, overwriting, refusing uploads, sounds, the time-out and the port. It shows the
// stored values when it is built and keeps what OK accepted in its members; checking the
// directory and storing the values is the Setup command's job.
class CSetupDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSetupDlg(CSettingsStore& store, QWidget* parent = nullptr);
    ~CSetupDlg() override;

    QString m_strDirName;
    bool m_bOverWrite = false;
    bool m_bReadOnly = false; // Refuse Uploads
    int m_nTimeOut = 0;
    bool m_bSoundOn = false;
    int m_nPort = 69; // the port for requests: at once, and at every start without --port

public slots:
    // Takes the entries into the members; a time-out that is not an integer keeps the
    // dialog open with the time-out selected.
    void accept() override;

private slots:
    void OnBrowse();

private:
    // save false: members to controls. save true: controls to members, all or nothing.
    bool UpdateData(bool save);

    std::unique_ptr<Ui::CSetupDlg> ui;
};
