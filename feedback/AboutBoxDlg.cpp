#include "AboutBoxDlg.h"
#include "ui_AboutBoxDlg.h"

#include "DialogPictures.h"

CAboutBoxDlg::CAboutBoxDlg(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CAboutBoxDlg>()) {
    InitDialogPictures();
    ui->setupUi(this);
    setFixedSize(size());
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
}

CAboutBoxDlg::~CAboutBoxDlg() = default;

void RunAboutCommand(QWidget* parent) {
    CAboutBoxDlg dlg(parent);
    dlg.exec();
}
