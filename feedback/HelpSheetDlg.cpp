#include "HelpSheetDlg.h"
#include "ui_HelpSheetDlg.h"
#include "ui_PageBoot.h"
#include "ui_PageClear.h"
#include "ui_PageGeneral.h"
#include "ui_PageProtocol.h"
#include "ui_PageRunning.h"
#include "ui_PageSecurity.h"
#include "ui_PageSetup.h"

#include "DialogPictures.h"
#include "engine/host/EngineHost.h"

#include <QPushButton>

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

CPageRunning::CPageRunning(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::CPageRunning>()) {
    InitDialogPictures();
    ui->setupUi(this);
}
CPageRunning::~CPageRunning() = default;

CHelpSheetDlg::CHelpSheetDlg(QWidget* parent, int selectPage)
    : QDialog(parent), m_pPageGeneral(new CPageGeneral), m_pPageClear(new CPageClear),
      m_pPageSetup(new CPageSetup), m_pPageSecurity(new CPageSecurity),
      m_pPageProtocol(new CPageProtocol), m_pPageBoot(new CPageBoot),
      m_pPageRunning(new CPageRunning), ui(std::make_unique<Ui::CHelpSheetDlg>()) {
    ui->setupUi(this);
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Each tab is labelled with its page's title.
    for (QWidget* page :
         {static_cast<QWidget*>(m_pPageGeneral), static_cast<QWidget*>(m_pPageClear),
          static_cast<QWidget*>(m_pPageSetup), static_cast<QWidget*>(m_pPageSecurity),
          static_cast<QWidget*>(m_pPageProtocol), static_cast<QWidget*>(m_pPageBoot),
          static_cast<QWidget*>(m_pPageRunning)})
        ui->tabWidget->addTab(page, page->windowTitle());
    ui->tabWidget->setCurrentIndex(selectPage);
    // Every tab in view: the sheet grows to the tab bar rather than hiding tabs behind arrows.
    ui->tabWidget->setUsesScrollButtons(false);
    ui->buttonBox->button(QDialogButtonBox::Close)->setDefault(true);
}

CHelpSheetDlg::~CHelpSheetDlg() = default;

void RunHelpCommand(CEngineHost& engine, QWidget* parent) {
    if (engine.SoundOn())
        engine.Window().PlayWaveResource(SOUND_COMMAND);
    CHelpSheetDlg sheet(parent, 0);
    sheet.exec();
}
