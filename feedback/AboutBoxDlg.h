#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CAboutBoxDlg;
}

// The About box: product, version, and that the program is free.
class CAboutBoxDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutBoxDlg(QWidget* parent = nullptr);
    ~CAboutBoxDlg() override;

private:
    std::unique_ptr<Ui::CAboutBoxDlg> ui;
};

// The About command: shows the box until OK, Escape or the close box.
void RunAboutCommand(QWidget* parent);
