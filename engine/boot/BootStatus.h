#pragma once

#include <QString>

// The boot offers' state for the window: off (nothing in either), running on `where`,
// waiting for their interface (`waits`), or failed with `why`.
struct BootStatus {
    bool ok = true;
    QString where; // "eth0 (192.0.2.10)"
    QString why;   // why they could not be opened
    QString aside; // the interface where our DHCP server answers instead
    QString waits; // what they wait for: "eth0 link down", "no interface with an IPv4 address"
    bool on() const { return ok && !where.isEmpty(); }
    // "boot offers on eth0 (192.0.2.10)", "boot offers fail: ..." or empty when off.
    QString text() const {
        if (!ok)
            return QStringLiteral("boot offers fail: ") + why;
        if (!aside.isEmpty())
            return QStringLiteral("boot offers not needed on %1: the DHCP server answers there")
                .arg(aside);
        if (!waits.isEmpty())
            return QStringLiteral("boot offers wait: ") + waits;
        return where.isEmpty() ? QString() : QStringLiteral("boot offers on ") + where;
    }
    bool operator==(const BootStatus&) const = default;
};
