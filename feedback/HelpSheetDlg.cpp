#include "HelpSheetDlg.h"
#include "ui_HelpSheetDlg.h"
#include "ui_PageBoot.h"
#include "ui_PageClear.h"
#include "ui_PageDhcp.h"
#include "ui_PageGeneral.h"
#include "ui_PageProtocol.h"
#include "ui_PageRunning.h"
#include "ui_PageSecurity.h"
#include "ui_PageSetup.h"

#include "DialogPictures.h"
#include "engine/config/SettingsTable.h"
#include "engine/host/EngineHost.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <iterator>

CPageGeneral::CPageGeneral(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::CPageGeneral>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageGeneral::~CPageGeneral() = default;

CPageClear::CPageClear(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::CPageClear>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageClear::~CPageClear() = default;

CPageSetup::CPageSetup(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::CPageSetup>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageSetup::~CPageSetup() = default;

CPageSecurity::CPageSecurity(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::CPageSecurity>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageSecurity::~CPageSecurity() = default;

CPageProtocol::CPageProtocol(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::CPageProtocol>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageProtocol::~CPageProtocol() = default;

CPageBoot::CPageBoot(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::CPageBoot>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageBoot::~CPageBoot() = default;

CPageDhcp::CPageDhcp(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::CPageDhcp>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageDhcp::~CPageDhcp() = default;

CPageRunning::CPageRunning(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::CPageRunning>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageRunning::~CPageRunning() = default;

CPageSettings::CPageSettings(QWidget* parent)
    : QWidget(parent), m_pTable(new QTableWidget(this)) {
    // "Keys": a longer tab title widens the tab bar, and with it the sheet, past a small
    // screen at scale 1.5.
    setWindowTitle(QStringLiteral("Keys"));
    const QStringList columns = {QStringLiteral("Section"), QStringLiteral("Key"),
                                 QStringLiteral("Default"), QStringLiteral("Range"),
                                 QStringLiteral("Description")};
    m_pTable->setObjectName(QStringLiteral("settingsTable"));
    m_pTable->setAccessibleName(QStringLiteral("Settings"));
    m_pTable->setAccessibleDescription(
        QStringLiteral("The settings file's keys; vantrel-server --help-settings lists them too"));
    m_pTable->setColumnCount(int(columns.size()));
    m_pTable->setHorizontalHeaderLabels(columns);
    m_pTable->setRowCount(int(std::size(SettingsTable::kAll)));
    int row = 0;
    for (const SettingEntry* entry : SettingsTable::kAll) {
        const QStringList cells = {entry->Section(), entry->Name(), entry->DefaultText(),
                                   entry->RangeText(), QString::fromUtf8(entry->description)};
        for (int column = 0; column < cells.size(); ++column)
            m_pTable->setItem(row, column, new QTableWidgetItem(cells[column]));
        ++row;
    }
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->hide();
    m_pTable->resizeColumnsToContents();
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    // The sheet keeps the size of its other pages (it must fit a small screen at scale
    // 2); the table scrolls within it.
    m_pTable->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // The chosen row's description in full, as the sheet is too narrow for the column.
    auto* about = new QLabel(this);
    about->setObjectName(QStringLiteral("settingAbout"));
    about->setWordWrap(true);
    about->setTextInteractionFlags(Qt::TextSelectableByMouse);
    connect(m_pTable, &QTableWidget::currentCellChanged, about, [this, about](int row) {
        const QTableWidgetItem* key = m_pTable->item(row, 1);
        const QTableWidgetItem* what = m_pTable->item(row, m_pTable->columnCount() - 1);
        about->setText(key && what ? key->text() + QStringLiteral(": ") + what->text() : QString());
    });
    m_pTable->setCurrentCell(0, 0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTable, 1);
    layout->addWidget(about);
}

CHelpSheetDlg::CHelpSheetDlg(QWidget* parent, int selectPage)
    : QDialog(parent), m_pPageGeneral(new CPageGeneral), m_pPageClear(new CPageClear),
      m_pPageSetup(new CPageSetup), m_pPageSecurity(new CPageSecurity),
      m_pPageProtocol(new CPageProtocol), m_pPageBoot(new CPageBoot),
      m_pPageDhcp(new CPageDhcp),
      m_pPageRunning(new CPageRunning), m_pPageSettings(new CPageSettings),
      ui(std::make_unique<Ui::CHelpSheetDlg>()) {
    ui->setupUi(this);
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Each tab is labelled with its page's title.
    for (QWidget* page :
         {static_cast<QWidget*>(m_pPageGeneral), static_cast<QWidget*>(m_pPageClear),
          static_cast<QWidget*>(m_pPageSetup), static_cast<QWidget*>(m_pPageSecurity),
          static_cast<QWidget*>(m_pPageProtocol), static_cast<QWidget*>(m_pPageBoot),
          static_cast<QWidget*>(m_pPageDhcp),
          static_cast<QWidget*>(m_pPageRunning), static_cast<QWidget*>(m_pPageSettings)})
        ui->tabWidget->addTab(page, page->windowTitle());
    ui->tabWidget->setCurrentIndex(selectPage);
    // Every tab in view: the sheet grows to the tab bar rather than hiding tabs behind
    // arrows, as far as the screen has room (a small screen at scale 1.5 gets the arrows).
    ui->tabWidget->setUsesScrollButtons(false);
    if (sizeHint().width() > screen()->availableGeometry().width())
        ui->tabWidget->setUsesScrollButtons(true);
    ui->buttonBox->button(QDialogButtonBox::Close)->setDefault(true);
}

CHelpSheetDlg::~CHelpSheetDlg() = default;

void RunHelpCommand(CEngineHost& engine, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);
    CHelpSheetDlg sheet(parent, 0);
    sheet.exec();
}
