#pragma once

#include <QDialog>
#include <QWidget>
#include <memory>

class CEngineHost;
class QTableWidget;

namespace Ui {
class CHelpSheetDlg;
class CPageGeneral;
class CPageClear;
class CPageSetup;
class CPageSecurity;
class CPageProtocol;
class CPageRunning;
class CPageBoot;
class CPageDhcp;
} // namespace Ui

// The help pages: a picture and a fixed text each, nothing to change.
class CPageGeneral : public QWidget {
    Q_OBJECT
public:
    explicit CPageGeneral(QWidget* parent = nullptr);
    ~CPageGeneral() override;

private:
    std::unique_ptr<Ui::CPageGeneral> ui;
};

class CPageClear : public QWidget {
    Q_OBJECT
public:
    explicit CPageClear(QWidget* parent = nullptr);
    ~CPageClear() override;

private:
    std::unique_ptr<Ui::CPageClear> ui;
};

class CPageSetup : public QWidget {
    Q_OBJECT
public:
    explicit CPageSetup(QWidget* parent = nullptr);
    ~CPageSetup() override;

private:
    std::unique_ptr<Ui::CPageSetup> ui;
};

class CPageSecurity : public QWidget {
    Q_OBJECT
public:
    explicit CPageSecurity(QWidget* parent = nullptr);
    ~CPageSecurity() override;

private:
    std::unique_ptr<Ui::CPageSecurity> ui;
};

class CPageProtocol : public QWidget {
    Q_OBJECT
public:
    explicit CPageProtocol(QWidget* parent = nullptr);
    ~CPageProtocol() override;

private:
    std::unique_ptr<Ui::CPageProtocol> ui;
};

// Boot offers, HTTP and the DHCP server.
class CPageBoot : public QWidget {
    Q_OBJECT
public:
    explicit CPageBoot(QWidget* parent = nullptr);
    ~CPageBoot() override;

private:
    std::unique_ptr<Ui::CPageBoot> ui;
};

// The tray, the transfer log, headless mode and the service.
class CPageDhcp : public QWidget {
    Q_OBJECT

public:
    explicit CPageDhcp(QWidget* parent = nullptr);
    ~CPageDhcp() override;

private:
    std::unique_ptr<Ui::CPageDhcp> ui;
};

class CPageRunning : public QWidget {
    Q_OBJECT
public:
    explicit CPageRunning(QWidget* parent = nullptr);
    ~CPageRunning() override;

private:
    std::unique_ptr<Ui::CPageRunning> ui;
};

// Every key of the settings file, from the table the store reads through: section, key,
// default, range and meaning, one row each.
class CPageSettings : public QWidget {
    Q_OBJECT
public:
    explicit CPageSettings(QWidget* parent = nullptr);
    QTableWidget* Table() const { return m_pTable; }

private:
    QTableWidget* m_pTable;
};

// The help sheet: the pages as tabs General, File, Setup, Security, Protocol, Boot,
// Running and Keys (the settings).
// No page keeps anything, so the one button is Close.
class CHelpSheetDlg : public QDialog {
    Q_OBJECT

public:
    explicit CHelpSheetDlg(QWidget* parent = nullptr, int selectPage = 0);
    ~CHelpSheetDlg() override;

    // The pages, owned by the tab widget.
    CPageGeneral* m_pPageGeneral;
    CPageClear* m_pPageClear;
    CPageSetup* m_pPageSetup;
    CPageSecurity* m_pPageSecurity;
    CPageProtocol* m_pPageProtocol;
    CPageBoot* m_pPageBoot;
    CPageDhcp* m_pPageDhcp;
    CPageRunning* m_pPageRunning;
    CPageSettings* m_pPageSettings;

private:
    std::unique_ptr<Ui::CHelpSheetDlg> ui;
};

// The Help command: sound 146 when sounds are on, then the sheet, always on General.
void RunHelpCommand(CEngineHost& engine, QWidget* parent);
