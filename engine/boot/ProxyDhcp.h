#pragma once

#include "engine/boot/BootClients.h"
#include "engine/bootp/DhcpPacket.h"
#include "engine/platform/Platform.h"

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <memory>

class ServiceContext;

// The interface boot offers go out on and the address they name as ours.
struct BootInterface {
    QString device;       // empty: none could be found
    QHostAddress address; // IPv4
    QString linkDown;     // none: the interface that holds `listen`, while it is down
    // "eth0 (192.0.2.10)", or why there is none.
    QString describe() const;
    bool operator==(const BootInterface&) const = default;
};
// The interface that holds `listen` (an IPv4 address) while it is up, or for a listener
// on every address the first interface that is up, not loopback, with an IPv4 address:
// FindDhcpLink's choice for an interface not named.
BootInterface ChooseBootInterface(const QHostAddress& listen,
                                  const QList<NetInterface>& interfaces);

// ProxyDHCP beside the LAN's DHCP server: PXE and iPXE clients get a boot file and our
// address, on 67 (an OFFER to their DISCOVER) and on 4011 (an ACK to the REQUEST they
// send there); every other DHCP packet is left to the DHCP server. No address is ever
// handed out. Each answer, or the refusal for want of the boot file, is a row.
class CProxyDhcp {
public:
    explicit CProxyDhcp(ServiceContext& context);
    ~CProxyDhcp();

    // The machines HostsFile names (MAC, 6 bytes, to its own boot file or empty); with
    // `onlyKnown` (OnlyKnownHosts) no other machine is answered.
    struct KnownHosts {
        QHash<QByteArray, QString> files;
        bool onlyKnown = false;
    };
    // Opens both ports on that interface (ChooseBootInterface's); false with the reason.
    bool Start(const BootInterface& where, const KnownHosts& hosts, QString* error);
    BootInterface Interface() const { return m_interface; }

    // One datagram from a client, as read on port 67 (pxePort false) or 4011.
    void HandleDatagram(const char* data, qint64 size, const QHostAddress& from,
                        quint16 fromPort, bool pxePort);

private:
    ServiceContext& m_context;
    BootInterface m_interface;
    KnownHosts m_hosts;
    std::unique_ptr<IDatagramSocket> m_dhcpSocket;
    std::unique_ptr<IDatagramSocket> m_pxeSocket;
    CBootClients m_clients;
};
