#pragma once

#include "AccessRules.h"

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

    // The values shown, and after OK the values entered.
    AccessRules m_rules;

public slots:
    void accept() override;

private:
    void UpdateData(bool save);

    std::unique_ptr<Ui::CSecurityDlg> ui;
};
