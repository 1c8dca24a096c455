#pragma once

#include "engine/config/AccessRules.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class CSettingsStore;

namespace Ui {
class CSecurityDlg;
}

// Whether one client entry is one the server can match: empty, an IPv4 address in four
// dotted parts, an IPv6 address, or either as a range ("192.168.1.0/24", "fd00::/64").
bool IsValidClientEntry(const QString& entry);

// The message that rejects these security entries, or an empty text when they pass.
// Addresses come first, every bad slot named; the file name is looked at only when every
// address passes, and must carry no path. Entries are taken as they are (trim first).
QString SecurityCheckMessage(const AccessRules& rules);
// What a client entry may be, by example: added to the address message and the tooltips.
extern const char* const kClientEntryFormat;

// The Security dialog: up to six allowed client addresses and the one file that may be
// sent. It shows the stored values when it is built. OK checks the entries first: a bad
// one is reported and its field selected, and the dialog stays open; Cancel and Escape
// leave at once and keep nothing.
class CSecurityDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSecurityDlg(CSettingsStore& store, QWidget* parent = nullptr);
    ~CSecurityDlg() override;

    // The values shown, and after a passing OK the values entered (trimmed).
    AccessRules m_rules;

public slots:
    void accept() override;

private:
    void UpdateData(bool save);
    void LayOut();

    std::unique_ptr<Ui::CSecurityDlg> ui;
};
