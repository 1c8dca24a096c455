#include "ui/dialogs/ProtocolDlg.h"
#include "ui_ProtocolDlg.h"

#include "engine/bootp/AddressText.h"
#include "settings/SettingsStore.h"
#include "ui/dialogs/ComboAccessible.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGridLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <iterator>
#include <utility>

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
// Wide enough for the largest number it takes, in the style's own frame and font.
void FitDigits(QLineEdit* edit, const QString& widest) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
    const QFontMetrics fm = edit->fontMetrics();
    const QMargins margins = edit->textMargins();
    // QLineEdit keeps 2 pixels each side of the text and one for the cursor.
    const QSize text(fm.horizontalAdvance(widest) + margins.left() + margins.right() + 5,
                     fm.height());
    edit->setFixedWidth(
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, edit).width());
}
} // namespace

const char* const CProtocolDlg::kAllAddresses = "all";

// The addresses of this machine that the server could listen on, IPv4 first.
QStringList CProtocolDlg::ListenChoices() {
    QStringList v4, v6;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            v4 << a.toString();
        else if (a.protocol() == QAbstractSocket::IPv6Protocol && a.scopeId().isEmpty())
            v6 << a.toString(); // link-local ones need their interface, not offered
    }
    return QStringList{QString::fromLatin1(kAllAddresses)} << v4 << v6;
}

// The .ui places the fields for one font; layouts let every style and scale have the room
// its own font and frames need.
void CProtocolDlg::LayOut() {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    for (QLabel* help : {ui->negotiateHelp, ui->blockSizeHelp, ui->windowSizeHelp, ui->portsHelp,
                         ui->replyFromHelp, ui->ipv6Help, ui->listenHelp})
        help->setContentsMargins(indent, 0, 0, 0);
    m_pSinglePortCheck = new QCheckBox(tr("One &Port for All Transfers (NAT, containers)"),
                                       ui->networkGroup);
    m_pSinglePortCheck->setObjectName(QStringLiteral("singlePortCheck"));
    m_pSinglePortHelp = new QLabel(tr("Every transfer answers from the request port; "
                                      "the range above is not used."),
                                   ui->networkGroup);
    m_pSinglePortHelp->setContentsMargins(indent, 0, 0, 0);
    m_pHttpCheck = new QCheckBox(tr("Serve the folder over &HTTP too,"), ui->networkGroup);
    m_pHttpCheck->setObjectName(QStringLiteral("httpCheck"));
    auto* httpPortLabel = new QLabel(tr("p&ort"), ui->networkGroup);
    m_pHttpPortEdit = new QLineEdit(ui->networkGroup);
    m_pHttpPortEdit->setObjectName(QStringLiteral("httpPortEdit"));
    const QString httpHelp = tr("GET and HEAD of the folder's files, by the same rules as "
                                "TFTP reads.");
    m_pHttpCheck->setToolTip(httpHelp);
    m_pHttpPortEdit->setToolTip(httpHelp);
    connect(m_pHttpCheck, &QCheckBox::toggled, m_pHttpPortEdit, &QWidget::setEnabled);
    // Each field answers to its label's mnemonic.
    const std::pair<QLabel*, QWidget*> buddies[] = {
        {ui->blockSizeLabel, ui->blockSizeEdit}, {ui->windowSizeLabel, ui->windowSizeEdit},
        {ui->portsLabel, ui->portFirstEdit},     {ui->portsToLabel, ui->portLastEdit},
        {ui->listenLabel, ui->listenCombo},      {httpPortLabel, m_pHttpPortEdit}};
    for (const auto& [label, field] : buddies)
        label->setBuddy(field);
    FitFields();
    ui->listenCombo->setMinimumContentsLength(22); // an IPv6 address without its scope

    auto* options = new QGridLayout(ui->optionGroup);
    options->addWidget(ui->negotiateCheck, 0, 0, 1, 3);
    options->addWidget(ui->negotiateHelp, 1, 0, 1, 3);
    options->addWidget(ui->blockSizeLabel, 2, 0);
    options->addWidget(ui->blockSizeEdit, 2, 1);
    options->addWidget(ui->blockSizeUnit, 2, 2);
    options->addWidget(ui->blockSizeHelp, 3, 0, 1, 3);
    options->addWidget(ui->windowSizeLabel, 4, 0);
    options->addWidget(ui->windowSizeEdit, 4, 1);
    options->addWidget(ui->windowSizeUnit, 4, 2);
    options->addWidget(ui->windowSizeHelp, 5, 0, 1, 3);
    options->setColumnStretch(2, 1);
    // Tight rows: at QT_SCALE_FACTOR=2 a 1280x800 screen leaves about 400 points of height.
    options->setVerticalSpacing(1);

    auto* network = new QGridLayout(ui->networkGroup);
    auto* ports = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(ui->portFirstEdit),
                       static_cast<QWidget*>(ui->portsToLabel),
                       static_cast<QWidget*>(ui->portLastEdit),
                       static_cast<QWidget*>(ui->anyPortCheck)})
        ports->addWidget(w);
    ports->setSpacing(6);
    ports->addStretch(1);
    network->addWidget(ui->portsLabel, 0, 0);
    network->addLayout(ports, 0, 1);
    network->addWidget(ui->portsHelp, 1, 0, 1, 2);
    network->addWidget(m_pSinglePortCheck, 2, 0, 1, 2);
    network->addWidget(m_pSinglePortHelp, 3, 0, 1, 2);
    network->addWidget(ui->replyFromCheck, 4, 0, 1, 2);
    network->addWidget(ui->replyFromHelp, 5, 0, 1, 2);
    network->addWidget(ui->ipv6Check, 6, 0, 1, 2);
    network->addWidget(ui->ipv6Help, 7, 0, 1, 2);
    network->addWidget(ui->listenLabel, 8, 0);
    network->addWidget(ui->listenCombo, 8, 1);
    network->addWidget(ui->listenHelp, 9, 0, 1, 2);
    // HTTP: one row, a switch and its port.
    auto* http = new QHBoxLayout;
    http->addWidget(m_pHttpCheck);
    http->addWidget(httpPortLabel);
    http->addWidget(m_pHttpPortEdit);
    http->setSpacing(6);
    http->addStretch(1);
    network->addLayout(http, 10, 0, 1, 2);
    network->setColumnStretch(1, 1);
    network->setVerticalSpacing(1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ui->okButton);
    buttons->addStretch(1);
    buttons->addWidget(ui->cancelButton);
    buttons->addStretch(1);

    auto* top = new QVBoxLayout(this);
    top->addWidget(ui->optionGroup);
    top->addWidget(ui->networkGroup);
    top->addLayout(buttons);
    top->setSpacing(4);
    top->setContentsMargins(8, 4, 8, 6);
    top->setSizeConstraint(QLayout::SetFixedSize);

    // Each help line is the tooltip of its field too; on a screen too low for the dialog
    // (a large scale factor on a small screen) only the tooltips stay.
    const std::pair<QLabel*, QWidget*> helps[] = {
        {ui->negotiateHelp, ui->negotiateCheck}, {ui->blockSizeHelp, ui->blockSizeEdit},
        {ui->windowSizeHelp, ui->windowSizeEdit}, {ui->portsHelp, ui->portFirstEdit},
        {ui->portsHelp, ui->portLastEdit},       {m_pSinglePortHelp, m_pSinglePortCheck},
        {ui->replyFromHelp, ui->replyFromCheck},
        {ui->ipv6Help, ui->ipv6Check},           {ui->listenHelp, ui->listenCombo}};
    for (const auto& [help, field] : helps)
        field->setToolTip(help->text());
    const QScreen* where = screen();
    const int room = where ? where->availableGeometry().height() - 48 : QWIDGETSIZE_MAX;
    if (top->totalSizeHint().height() > room)
        for (const auto& [help, field] : helps)
            help->hide();

    // Moving the fields into the groups changed the focus chain: the .ui's order again.
    QWidget* order[] = {ui->negotiateCheck, ui->blockSizeEdit, ui->windowSizeEdit,
                        ui->portFirstEdit,  ui->portLastEdit,  ui->anyPortCheck,
                        m_pSinglePortCheck, ui->replyFromCheck, ui->ipv6Check,     ui->listenCombo,
                        m_pHttpCheck,       m_pHttpPortEdit,
                        ui->okButton,       ui->cancelButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void CProtocolDlg::FitFields() {
    for (QLineEdit* edit : {ui->blockSizeEdit, ui->windowSizeEdit, ui->portFirstEdit,
                            ui->portLastEdit, m_pHttpPortEdit})
        FitDigits(edit, QStringLiteral("000000"));
}

void CProtocolDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (m_bLaidOut &&
        (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        FitFields();
}

CProtocolDlg::CProtocolDlg(CSettingsStore& store, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CProtocolDlg>()) {
    ui->setupUi(this);
    NameComboBoxesByLabels();
    // A fixed size: nothing to maximise.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // The field keeps the name it had as a plain line edit.
    ui->listenCombo->lineEdit()->setObjectName(QStringLiteral("listenEdit"));
    ui->listenCombo->addItems(ListenChoices());
    LayOut();
    m_bLaidOut = true;
    // The help lines are quieter than the fields: the text colour two fifths of the way
    // to the background, so dark styles get the same effect.
    for (QLabel* help : {ui->negotiateHelp, ui->blockSizeHelp, ui->windowSizeHelp, ui->portsHelp,
                         ui->replyFromHelp, ui->ipv6Help, ui->listenHelp, m_pSinglePortHelp}) {
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
    m_bSinglePort = store.SinglePort();
    m_bIPv6 = store.IPv6();
    m_strListenAddress = store.ListenAddress();
    m_bHttp = store.HttpEnabled();
    m_nHttpPort = store.HttpPort();
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
        m_pSinglePortCheck->setChecked(m_bSinglePort);
        ui->ipv6Check->setChecked(m_bIPv6);
        ui->listenCombo->setEditText(m_strListenAddress.isEmpty()
                                         ? QString::fromLatin1(kAllAddresses)
                                         : m_strListenAddress);
        m_pHttpCheck->setChecked(m_bHttp);
        m_pHttpPortEdit->setText(QString::number(m_nHttpPort));
        m_pHttpPortEdit->setEnabled(m_bHttp);
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
    const SettingEntry& blocks = SettingsTable::MaxBlockSize;
    const SettingEntry& windows = SettingsTable::MaxWindowSize;
    if (!ParseNumber(ui->blockSizeEdit, blocks.min, blocks.max, &blockSize))
        return refuse(ui->blockSizeEdit, tr("Largest block size must be between %1 and %2.")
                                             .arg(blocks.min)
                                             .arg(blocks.max));
    if (!ParseNumber(ui->windowSizeEdit, windows.min, windows.max, &windowSize))
        return refuse(ui->windowSizeEdit, tr("Largest window size must be between %1 and %2.")
                                              .arg(windows.min)
                                              .arg(windows.max));
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
    QString listen = ui->listenCombo->currentText().trimmed();
    if (listen.compare(QLatin1String(kAllAddresses), Qt::CaseInsensitive) == 0)
        listen.clear();
    if (!listen.isEmpty()) {
        // Four dotted parts for IPv4, as in Security: QHostAddress also takes "10.1".
        quint32 v4 = 0;
        const bool good = Dhcp::ParseAddress(listen, &v4) ||
                          (QHostAddress(listen).protocol() == QAbstractSocket::IPv6Protocol && ipv6);
        if (!good)
            return refuse(ui->listenCombo->lineEdit(),
                          ipv6 ? tr("Listen address must be empty or an IPv4 or IPv6 address.")
                               : tr("Listen address must be empty or an IPv4 address "
                                    "(an IPv6 address needs IPv6 on)."));
    }
    int httpPort = m_nHttpPort;
    const SettingEntry& http = SettingsTable::HttpPort;
    if (m_pHttpCheck->isChecked() && !ParseNumber(m_pHttpPortEdit, http.min, http.max, &httpPort))
        return refuse(m_pHttpPortEdit,
                      tr("HTTP port must be between %1 and %2.").arg(http.min).arg(http.max));
    m_bNegotiate = ui->negotiateCheck->isChecked();
    m_nMaxBlockSize = blockSize;
    m_nMaxWindowSize = windowSize;
    m_nPortFirst = first;
    m_nPortLast = last;
    m_bReplyFromRequestAddress = ui->replyFromCheck->isChecked();
    m_bSinglePort = m_pSinglePortCheck->isChecked();
    m_bIPv6 = ipv6;
    m_strListenAddress = listen;
    m_bHttp = m_pHttpCheck->isChecked();
    m_nHttpPort = httpPort;
    return true;
}

void CProtocolDlg::accept() {
    if (UpdateData(true))
        QDialog::accept();
}
