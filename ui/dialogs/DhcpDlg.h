#pragma once

#include "engine/boot/ProxyDhcp.h"
#include "engine/dhcp/DhcpServer.h"

#include <QDialog>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QString>
#include <memory>

class CSettingsStore;
namespace Ui {
class CDhcpDlg;
}

// An interface as the DHCP dialog offers it.
struct LinkChoice {
    QString name;
    bool up = false;      // switched on
    bool running = false; // and a carrier: the cable is in and the other end on
    bool loopback = false;
    QList<QNetworkAddressEntry> entries;
    // "enx00e04c680001, link up, 192.168.1.10/24", or "..., no IPv4 address".
    QString Line() const;
    // Our first IPv4 address there (the one `prefer` when it holds it); device empty
    // when it has none.
    DhcpLink Ipv4(const QHostAddress& prefer = QHostAddress()) const;
};
QList<LinkChoice> SystemLinks();

// Option > DHCP: the [Dhcp] values, the interface chosen by name from `links`, and where
// the DHCP server and the boot offers would answer. OK checks the entries and keeps the
// dialog open on a bad one; storing them is the DHCP command's job.
class CDhcpDlg : public QDialog {
    Q_OBJECT

public:
    CDhcpDlg(CSettingsStore& store, const QHostAddress& listen, const QList<LinkChoice>& links,
             QWidget* parent = nullptr);
    ~CDhcpDlg() override;

    bool Enabled() const;
    bool Ipv6() const; // [Dhcp] IPv6: DHCPv6 beside it
    QString Pool6First() const; // as typed (trimmed)
    int Pool6Size() const;
    // The values as typed (trimmed); an empty lease time is the default.
    DhcpOptions Options() const;

    // Why the values cannot be stored for a server on `link` (device empty: not known
    // yet), naming the field and the form it takes; empty when they can.
    static QString Problem(const DhcpOptions& typed, const QString& leaseText,
                           const DhcpLink& link);
    // Why the DHCPv6 pool cannot be stored for a server whose global address on the link
    // is `server` (null: none known, only the address itself is checked); empty when it can.
    static QString Pool6Problem(const QString& first, int size, const QHostAddress& server);
    // The address (with prefix) an interface with none would take for this pool: ours is
    // just before an empty pool's first ("up to 50 after ours"), so the one before the
    // pool, else after it, in its network; 192.168.1.10/24 without a pool.
    static QString SuggestedAddress(const QString& poolFirst, const QString& poolLast);
    // The NetworkManager command that gives `device` that address for good.
    static QString NmcliCommand(const QString& device, const QString& address);

public slots:
    void accept() override;

private:
    const LinkChoice* Find(const QString& name) const;
    // The interface the server would live on: the chosen one, or the listen address's.
    QString ChosenName() const;
    DhcpLink ChosenLink() const;
    // Its global IPv6 address in a /64, where DHCPv6 would answer; null when none.
    QHostAddress ChosenServer6() const;
    void ShowLink();
    void OnBrowse();

    std::unique_ptr<Ui::CDhcpDlg> ui;
    QList<LinkChoice> m_links;
    BootInterface m_boot; // where the boot offers answer: the listen address's interface
};
