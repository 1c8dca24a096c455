#pragma once

#include "engine/boot/BootPolicy.h"

#include <QString>

// The DHCP server's state for the window and the headless output.
struct DhcpStatus {
    enum class State : quint8 {
        Off,
        On,          // handing out addresses (or asking the link first)
        LinkDown,    // the interface is down, or not there (yet)
        NoAddress,   // the interface has no IPv4 address
        OtherServer, // another DHCP server answers on the link
        Fails,       // the settings or the system refuse it: `why`
    };
    State state = State::Off;
    QString device;              // the interface (empty: none could be chosen)
    QString address;             // ours there (NoAddress without a device: the one asked for)
    QString poolFirst, poolLast; // On
    QString other;               // OtherServer: that server's address
    QString why;                 // Fails
    bool present = true;         // LinkDown: the interface exists
    QString v6;                  // the DHCPv6 server beside it ([Dhcp] IPv6); empty: off
    bool v6Problem = false;      // it hands out nothing, or cannot start
    bool waiting() const { return state == State::LinkDown || state == State::NoAddress; }
    // What the link choice waits for, as the status tells it.
    static DhcpStatus Waiting(const LinkWait& wait) {
        DhcpStatus s;
        s.state = wait.why == LinkWait::Why::LinkDown ? State::LinkDown : State::NoAddress;
        s.device = wait.device;
        s.address = wait.address;
        s.present = wait.present;
        return s;
    }
    bool operator==(const DhcpStatus&) const = default;
    // "dhcp on eth1 (192.0.2.10), pool A-B", "DHCP waits: eth1 link down", ... or empty;
    // then the DHCPv6 server's, when it is on.
    QString text() const {
        const QString v4 = text4();
        return v6.isEmpty() || v4.isEmpty() ? v4 : v4 + QStringLiteral("; ") + v6;
    }
    QString text4() const {
        switch (state) {
        case State::Off: return QString();
        case State::On:
            return QStringLiteral("dhcp on %1 (%2), pool %3-%4").arg(device, address, poolFirst, poolLast);
        case State::LinkDown:
            return present ? QStringLiteral("DHCP waits: %1 link down").arg(device)
                           : QStringLiteral("DHCP waits: %1 link down (no such interface yet)").arg(device);
        case State::NoAddress:
            if (!device.isEmpty())
                return QStringLiteral("DHCP waits: %1 has no IPv4 address").arg(device);
            return address.isEmpty()
                       ? QStringLiteral("DHCP waits: no interface with an IPv4 address")
                       : QStringLiteral("DHCP waits: no interface has %1").arg(address);
        case State::OtherServer:
            return QStringLiteral("Another DHCP server answers on %1 (%2): not handing out addresses")
                .arg(device, other);
        case State::Fails: return QStringLiteral("dhcp fails: ") + why;
        }
        return QString();
    }
};
