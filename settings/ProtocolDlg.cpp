#include "ProtocolDlg.h"
#include "ui_ProtocolDlg.h"

#include "SettingsStore.h"

#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

namespace {
const char* const kAppTitle = "ZAZO_Dize";

// Decimal digits with blanks around them; an empty or partly numeric entry is no number.
bool ParseNumber(const QLineEdit* edit, int low, int high, int* value) {
    bool ok = false;
    const int n = edit->text().trimmed().toInt(&ok, 10);
    if (!ok || n < low || n > high)
        return false;
    *value = n;
    return true;
}
} // namespace

CProtocolDlg::CProtocolDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CProtocolDlg>()) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint); // fixed size: no maximise button
    // The help lines are quieter than the fields: the text colour two fifths of the way
    // to the background, so dark styles get the same effect.
    for (QLabel* help : {ui->negotiateHelp, ui->blockSizeHelp, ui->windowSizeHelp, ui->portsHelp,
                         ui->replyFromHelp, ui->ipv6Help, ui->listenHelp}) {
        QPalette palette = help->palette();
        const QColor text = palette.color(QPalette::WindowText);
        const QColor back = palette.color(QPalette::Window);
        palette.setColor(QPalette::WindowText, QColor((text.red() * 3 + back.red() * 2) / 5,
                                                      (text.green() * 3 + back.green() * 2) / 5,
                                                      (text.blue() * 3 + back.blue() * 2) / 5));
        help->setPalette(palette);
    }
    connect(ui->anyPortCheck, &QCheckBox::toggled, this, &CProtocolDlg::OnAnyPort);

    m_bNegotiate = store.Negotiate();
    m_nMaxBlockSize = store.MaxBlockSize();
    m_nMaxWindowSize = store.MaxWindowSize();
    m_nPortFirst = store.PortFirst();
    m_nPortLast = store.PortLast();
    m_bReplyFromRequestAddress = store.ReplyFromRequestAddress();
    m_bIPv6 = store.IPv6();
    m_strListenAddress = store.ListenAddress();
    UpdateData(false);
    ui->negotiateCheck->setFocus();
}

CProtocolDlg::~CProtocolDlg() = default;

void CProtocolDlg::OnAnyPort(bool any) {
    ui->portFirstEdit->setEnabled(!any);
    ui->portLastEdit->setEnabled(!any);
}

bool CProtocolDlg::UpdateData(bool save) {
    if (!save) {
        ui->negotiateCheck->setChecked(m_bNegotiate);
        ui->blockSizeEdit->setText(QString::number(m_nMaxBlockSize));
        ui->windowSizeEdit->setText(QString::number(m_nMaxWindowSize));
        const bool any = m_nPortFirst == 0 && m_nPortLast == 0;
        ui->portFirstEdit->setText(any ? QString() : QString::number(m_nPortFirst));
        ui->portLastEdit->setText(any ? QString() : QString::number(m_nPortLast));
        ui->anyPortCheck->setChecked(any);
        OnAnyPort(any);
        ui->replyFromCheck->setChecked(m_bReplyFromRequestAddress);
        ui->ipv6Check->setChecked(m_bIPv6);
        ui->listenEdit->setText(m_strListenAddress);
        return true;
    }

    // The first bad field is named and selected; nothing is taken until all are good.
    const auto refuse = [this](QLineEdit* edit, const QString& message) {
        QMessageBox::warning(this, QString::fromLatin1(kAppTitle), message);
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    int blockSize = 0, windowSize = 0, first = 0, last = 0;
    if (!ParseNumber(ui->blockSizeEdit, CSettingsStore::kMinBlockSize,
                     CSettingsStore::kMaxBlockSizeLimit, &blockSize))
        return refuse(ui->blockSizeEdit, tr("Largest block size must be between %1 and %2.")
                                             .arg(CSettingsStore::kMinBlockSize)
                                             .arg(CSettingsStore::kMaxBlockSizeLimit));
    if (!ParseNumber(ui->windowSizeEdit, 1, CSettingsStore::kMaxWindowSizeLimit, &windowSize))
        return refuse(ui->windowSizeEdit, tr("Largest window size must be between 1 and %1.")
                                              .arg(CSettingsStore::kMaxWindowSizeLimit));
    if (!ui->anyPortCheck->isChecked()) {
        if (!ParseNumber(ui->portFirstEdit, 1, 65535, &first))
            return refuse(ui->portFirstEdit,
                          tr("First transfer port must be between 1 and 65535, or choose Any."));
        if (!ParseNumber(ui->portLastEdit, 1, 65535, &last))
            return refuse(ui->portLastEdit,
                          tr("Last transfer port must be between 1 and 65535, or choose Any."));
        if (first > last)
            return refuse(ui->portLastEdit,
                          tr("Last transfer port must not be below the first (%1).").arg(first));
    }
    const bool ipv6 = ui->ipv6Check->isChecked();
    const QString listen = ui->listenEdit->text().trimmed();
    if (!listen.isEmpty()) {
        // Four dotted parts for IPv4, as in Security: QHostAddress also takes "10.1".
        const QHostAddress address(listen);
        const auto protocol = address.protocol();
        const bool good =
            (protocol == QAbstractSocket::IPv4Protocol && listen.count(QLatin1Char('.')) == 3) ||
            (protocol == QAbstractSocket::IPv6Protocol && ipv6);
        if (!good)
            return refuse(ui->listenEdit,
                          ipv6 ? tr("Listen address must be empty or an IPv4 or IPv6 address.")
                               : tr("Listen address must be empty or an IPv4 address "
                                    "(an IPv6 address needs IPv6 on)."));
    }
    m_bNegotiate = ui->negotiateCheck->isChecked();
    m_nMaxBlockSize = blockSize;
    m_nMaxWindowSize = windowSize;
    m_nPortFirst = first;
    m_nPortLast = last;
    m_bReplyFromRequestAddress = ui->replyFromCheck->isChecked();
    m_bIPv6 = ipv6;
    m_strListenAddress = listen;
    return true;
}

void CProtocolDlg::accept() {
    if (UpdateData(true))
        QDialog::accept();
}
