#include "ui/dialogs/DhcpDlg.h"

#include "engine/client/Reachability.h"
#include "engine/dhcp/Dhcp6Server.h"
#include "engine/dhcp/DhcpValues.h"
#include "engine/dhcp/LeaseTable.h"
#include "settings/SettingsStore.h"
#include "ui/dialogs/ComboAccessible.h"
#include "ui_DhcpDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPushButton>
#include <algorithm>
#include <iterator>

QString LinkChoice::Line() const {
    QStringList parts{name, running ? QStringLiteral("link up")
                            : up    ? QStringLiteral("link down")
                                    : QStringLiteral("off")};
    for (const QNetworkAddressEntry& e : entries)
        if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
            parts << QStringLiteral("%1/%2").arg(e.ip().toString()).arg(e.prefixLength());
    if (parts.size() == 2)
        parts << QStringLiteral("no IPv4 address");
    return parts.join(QStringLiteral(", "));
}

DhcpLink LinkChoice::Ipv4(const QHostAddress& prefer) const {
    DhcpLink first;
    for (const QNetworkAddressEntry& e : entries) {
        if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        const DhcpLink link{name, e.ip(), e.prefixLength()};
        if (e.ip().isEqual(prefer, QHostAddress::ConvertV4MappedToIPv4))
            return link;
        if (first.device.isEmpty())
            first = link;
    }
    return first;
}

QList<LinkChoice> SystemLinks() {
    QList<LinkChoice> out;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        const auto flags = i.flags();
        out.append({i.name(), bool(flags & QNetworkInterface::IsUp),
                    bool(flags & QNetworkInterface::IsRunning),
                    bool(flags & QNetworkInterface::IsLoopBack), i.addressEntries()});
    }
    return out;
}

namespace {
// The links as the engine sees them (carrier and all), so that its one rule chooses.
QList<NetInterface> AsNetInterfaces(const QList<LinkChoice>& links) {
    QList<NetInterface> out;
    for (const LinkChoice& l : links) {
        NetInterface n{l.name, NetInterface::CountsUp(l.up, l.running), l.loopback, {}};
        for (const QNetworkAddressEntry& e : l.entries) {
            n.addresses.append(e.ip());
            n.prefixLengths.append(e.prefixLength());
        }
        out.append(n);
    }
    return out;
}
} // namespace

CDhcpDlg::CDhcpDlg(CSettingsStore& store, const QHostAddress& listen,
                   const QList<LinkChoice>& links, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::CDhcpDlg>()), m_links(links),
      m_boot(ChooseBootInterface(listen, AsNetInterfaces(links))) {
    ui->setupUi(this);
    NameComboBoxesByLabels();
    ui->nmcliCommand->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const LinkChoice* listens = Find(m_boot.device);
    ui->interfaceCombo->addItem(listens ? QStringLiteral("The listen address's: ") + listens->Line()
                                        : QStringLiteral("The listen address's (none now)"),
                                QString());
    for (const LinkChoice& l : m_links)
        if (!l.loopback)
            ui->interfaceCombo->addItem(l.Line(), l.name);
    // A USB adapter that is not plugged in now keeps its place.
    const QString stored = store.DhcpInterface();
    if (!stored.isEmpty() && ui->interfaceCombo->findData(stored) < 0)
        ui->interfaceCombo->addItem(stored + QStringLiteral(", not present"), stored);
    ui->interfaceCombo->setCurrentIndex(qMax(0, ui->interfaceCombo->findData(stored)));

    ui->enabledCheck->setChecked(store.DhcpEnabled());
    const QString emptyPool =
        QStringLiteral("empty: up to %1 addresses after ours").arg(Dhcp::kDefaultPoolSize);
    ui->poolFirstEdit->setPlaceholderText(emptyPool);
    ui->poolLastEdit->setPlaceholderText(emptyPool);
    ui->poolFirstEdit->setText(store.DhcpPoolFirst());
    ui->poolLastEdit->setText(store.DhcpPoolLast());
    ui->routerEdit->setText(store.DhcpRouter());
    ui->dnsEdit->setText(store.DhcpDnsServers());
    ui->leaseEdit->setText(QString::number(store.DhcpLeaseSeconds()));
    ui->hostsEdit->setText(store.DhcpHostsFile());
    ui->onlyKnownCheck->setChecked(store.DhcpOnlyKnownHosts());
    ui->ipv6Check->setChecked(store.ReadFlag(SettingsTable::DhcpIPv6));
    ui->pool6FirstEdit->setText(store.ReadText(SettingsTable::DhcpPool6First));
    ui->pool6SizeSpin->setRange(SettingsTable::DhcpPool6Size.min, SettingsTable::DhcpPool6Size.max);
    ui->pool6SizeSpin->setValue(store.ReadNumber(SettingsTable::DhcpPool6Size));
    const auto showIpv6 = [this](bool on) {
        for (QWidget* w : std::initializer_list<QWidget*>{ui->pool6FirstLabel, ui->pool6FirstEdit,
                                                          ui->pool6SizeLabel, ui->pool6SizeSpin})
            w->setEnabled(on);
    };
    showIpv6(ui->ipv6Check->isChecked());
    connect(ui->ipv6Check, &QCheckBox::toggled, this, showIpv6);

    connect(ui->interfaceCombo, &QComboBox::currentIndexChanged, this, [this] { ShowLink(); });
    for (QLineEdit* pool : {ui->poolFirstEdit, ui->poolLastEdit})
        connect(pool, &QLineEdit::textChanged, this, [this] { ShowLink(); });
    connect(ui->copyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(ui->nmcliCommand->text()); });
    connect(ui->browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(ui->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ShowLink();
    ui->enabledCheck->setFocus();
}

CDhcpDlg::~CDhcpDlg() = default;

bool CDhcpDlg::Enabled() const { return ui->enabledCheck->isChecked(); }
bool CDhcpDlg::Ipv6() const { return ui->ipv6Check->isChecked(); }
QString CDhcpDlg::Pool6First() const {
    return ui->pool6FirstEdit->text().trimmed();
}
int CDhcpDlg::Pool6Size() const {
    return ui->pool6SizeSpin->value();
}

DhcpOptions CDhcpDlg::Options() const {
    DhcpOptions o;
    o.interface = ui->interfaceCombo->currentData().toString();
    o.poolFirst = ui->poolFirstEdit->text().trimmed();
    o.poolLast = ui->poolLastEdit->text().trimmed();
    o.router = ui->routerEdit->text().trimmed();
    o.dnsServers = ui->dnsEdit->text().trimmed();
    bool ok = false;
    const int lease = ui->leaseEdit->text().trimmed().toInt(&ok);
    o.leaseSeconds = ok ? lease : CSettingsStore::kDefaultDhcpLeaseSeconds;
    o.hostsFile = ui->hostsEdit->text().trimmed();
    o.onlyKnownHosts = ui->onlyKnownCheck->isChecked();
    return o;
}

QString CDhcpDlg::Problem(const DhcpOptions& typed, const QString& leaseText,
                          const DhcpLink& link) {
    // Every field's problem at once, in the order the fields stand in the dialog (the
    // values' reader has its own order), one a line.
    QStringList problems;
    if (const QString values = Dhcp::ReadValues(typed, link).problem; !values.isEmpty())
        problems = values.split(QLatin1Char('\n'));
    static const char* const kFieldOrder[] = {"Pool", "Router", "DNS", "Lease"};
    const auto place = [](const QString& line) {
        for (int i = 0; i < int(std::size(kFieldOrder)); ++i)
            if (line.startsWith(QLatin1String(kFieldOrder[i])))
                return i;
        return int(std::size(kFieldOrder));
    };
    std::stable_sort(problems.begin(), problems.end(),
                     [&place](const QString& a, const QString& b) { return place(a) < place(b); });
    bool ok = false;
    const int lease = leaseText.trimmed().toInt(&ok);
    if (!leaseText.trimmed().isEmpty() &&
        (!ok || lease < CSettingsStore::kMinDhcpLeaseSeconds ||
         lease > CSettingsStore::kMaxDhcpLeaseSeconds))
        problems.append(QStringLiteral("Lease time: whole seconds from %1 to %2 (3600 is an hour)")
                            .arg(CSettingsStore::kMinDhcpLeaseSeconds)
                            .arg(CSettingsStore::kMaxDhcpLeaseSeconds));
    return problems.join(QLatin1Char('\n'));
}

QString CDhcpDlg::Pool6Problem(const QString& first, int size, const QHostAddress& server) {
    Dhcp6::Config pool;
    const QString why = Dhcp6::ReadPool(first, size, server, &pool);
    return why.isEmpty() ? why : QStringLiteral("IPv6 pool: ") + why;
}

QString CDhcpDlg::SuggestedAddress(const QString& poolFirst, const QString& poolLast) {
    const QString fallback = QStringLiteral("192.168.1.10/24");
    const quint32 first = Dhcp::ParseAddress(poolFirst.trimmed());
    quint32 last = poolLast.trimmed().isEmpty() ? first : Dhcp::ParseAddress(poolLast.trimmed());
    if (!first)
        return fallback;
    if (last < first)
        last = first;
    // The narrowest network, /24 at most, that holds the whole pool.
    int prefix = 24;
    while (prefix > 8 && (first >> (32 - prefix)) != (last >> (32 - prefix)))
        --prefix;
    const quint32 mask = ~quint32(0) << (32 - prefix);
    for (const quint64 candidate : {quint64(first) - 1, quint64(last) + 1}) {
        const quint32 a = quint32(candidate);
        const quint32 host = a & ~mask;
        if (candidate <= 0xffffffffu && (a & mask) == (first & mask) && host != 0 && host != ~mask)
            return QStringLiteral("%1/%2").arg(Dhcp::AddressText(a)).arg(prefix);
    }
    return fallback;
}

QString CDhcpDlg::NmcliCommand(const QString& device, const QString& address) {
    return TftpClient::NmcliAddressCommand(device, address);
}

const LinkChoice* CDhcpDlg::Find(const QString& name) const {
    for (const LinkChoice& l : m_links)
        if (!name.isEmpty() && l.name == name)
            return &l;
    return nullptr;
}

QString CDhcpDlg::ChosenName() const {
    const QString chosen = ui->interfaceCombo->currentData().toString();
    return chosen.isEmpty() ? m_boot.device : chosen;
}

DhcpLink CDhcpDlg::ChosenLink() const {
    const LinkChoice* link = Find(ChosenName());
    const bool listens = ui->interfaceCombo->currentData().toString().isEmpty();
    return link ? link->Ipv4(listens ? m_boot.address : QHostAddress()) : DhcpLink();
}

QHostAddress CDhcpDlg::ChosenServer6() const {
    return CDhcp6Server::ServerAddress(AsNetInterfaces(m_links), ChosenName());
}

// Where the server would answer and with which pool, or what the interface lacks.
void CDhcpDlg::ShowLink() {
    const QString name = ChosenName();
    const LinkChoice* link = Find(name);
    const DhcpLink ours = ChosenLink();
    QString text;
    bool noAddress = false;
    if (name.isEmpty()) {
        text = QStringLiteral("No interface that is up has an IPv4 address: choose the one the "
                              "device is cabled to.");
    } else if (!link) {
        text = QStringLiteral("%1 is not present now.").arg(name);
    } else if (ours.device.isEmpty()) {
        noAddress = true;
        text = QStringLiteral("%1 has no IPv4 address, so DHCP cannot answer there. "
                              "NetworkManager gives it one with:")
                   .arg(name);
    } else {
        text = QStringLiteral("DHCP answers on %1 (%2/%3)")
                   .arg(name, ours.address.toString())
                   .arg(ours.prefixLength);
        const Dhcp::Values values = Dhcp::ReadValues(Options(), ours);
        if (values.problem.isEmpty() && values.poolFirst)
            text += QStringLiteral(", pool %1-%2").arg(Dhcp::AddressText(values.poolFirst),
                                                      Dhcp::AddressText(values.poolLast));
        text += link->running ? QStringLiteral(".")
                              : QStringLiteral("; the link is down now (no cable, or the "
                                               "device is off).");
    }
    ui->dhcpAnswersOn->setText(text);
    ui->nmcliCommand->setText(noAddress ? NmcliCommand(name, SuggestedAddress(ui->poolFirstEdit->text(),
                                                                             ui->poolLastEdit->text()))
                                        : QString());
    ui->form->setRowVisible(ui->nmcliLayout, noAddress);
    // The wrapped lines above change height: the dialog follows.
    if (isVisible())
        adjustSize();
    QString boot = QStringLiteral("Boot offers (Option > Boot...) answer on ") + m_boot.describe();
    if (!m_boot.device.isEmpty() && m_boot.device == name)
        boot += QStringLiteral(": there the DHCP server, when on, names the boot files itself");
    ui->bootAnswersOn->setText(boot + QLatin1Char('.'));
    // An empty first IPv6 address: where the pool would start on this interface.
    Dhcp6::Config pool;
    (void)Dhcp6::ReadPool(QString(), ui->pool6SizeSpin->value(), ChosenServer6(), &pool);
    ui->pool6FirstEdit->setPlaceholderText(
        pool.poolFirst.isNull() ? QStringLiteral("empty: ::1000 in the interface's /64")
                                : QStringLiteral("empty: %1").arg(pool.poolFirst.toString()));
}

void CDhcpDlg::OnBrowse() {
    const QString typed = ui->hostsEdit->text().trimmed();
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Hosts File"), typed.isEmpty() ? QDir::homePath() : typed);
    if (!file.isEmpty())
        ui->hostsEdit->setText(QDir::toNativeSeparators(file));
}

void CDhcpDlg::accept() {
    QString problem = Problem(Options(), ui->leaseEdit->text(), ChosenLink());
    if (const QString v6 =
            Ipv6() ? Pool6Problem(Pool6First(), Pool6Size(), ChosenServer6()) : QString();
        !v6.isEmpty())
        problem += (problem.isEmpty() ? QString() : QStringLiteral("\n")) + v6;
    if (problem.isEmpty()) {
        QDialog::accept();
        return;
    }
    QMessageBox::warning(this, QStringLiteral("DHCP"), problem);
    QLineEdit* field = problem.startsWith(QLatin1String("Router"))  ? ui->routerEdit
                       : problem.startsWith(QLatin1String("DNS"))   ? ui->dnsEdit
                       : problem.startsWith(QLatin1String("Lease")) ? ui->leaseEdit
                       : problem.startsWith(QLatin1String("IPv6"))  ? ui->pool6FirstEdit
                                                                    : ui->poolFirstEdit;
    field->setFocus();
    field->selectAll();
}
