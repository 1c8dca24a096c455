#pragma once

#include <QString>
#include <QtGlobal>

// The state byte of a row; the window picks the text colour from it.
enum RowState : qint8 {
    ROW_ACTIVE = 0,   // black
    ROW_FAILED = 1,   // red
    ROW_RECEIVED = 2, // violet
    ROW_SENT = 3,     // blue
    ROW_NOTED = 4,    // grey: ended without harm (a name a boot chain may lack)
};

// The state's name in the log, the CSV and headless output.
inline QString RowStateName(RowState state) {
    switch (state) {
    case ROW_FAILED: return QStringLiteral("FAILED");
    case ROW_RECEIVED: return QStringLiteral("RECEIVED");
    case ROW_SENT: return QStringLiteral("SENT");
    case ROW_NOTED: return QStringLiteral("NOTED");
    case ROW_ACTIVE: break;
    }
    return QStringLiteral("ACTIVE");
}

// The five cell texts of a transfer's row, in column order.
struct RowTexts {
    QString client;  // "Client"
    QString file;    // "File"
    QString size;    // "Size"
    QString service; // "Service"
    QString info;    // "Information"
    bool missingFile = false; // a read refused for want of the file: the list may hide it
    qint64 bytes = -1;        // the count the Size text tells; -1 when it tells none
    QString host = {};        // a DHCP client's host name (option 12), made printable
    bool device = false;      // a transfer this machine's client made (Send to/Fetch from Device)
};

// A row's key, chosen by the engine (1, 2, 3, ... in the order rows come, never used
// twice) and the same in the window, the headless output and every update. Rows are
// found by it, never by position, so Clear and refused requests never move an update
// to another row.
using RowHandle = quint64;

// Sound ids of the event sounds.
enum EventSound : int {
    SOUND_SENT = 141,
    SOUND_FAILED = 142,
    SOUND_RECEIVED = 143,
    SOUND_REQUEST = 144,
    SOUND_COMMAND = 146,
    SOUND_STARTUP = 148,
    SOUND_CLEAR = 149,
};

// Everything the engine asks of the window. The window implements it; the engine
// never sees a widget. All calls arrive on the one thread that runs the event loop.
class IServerWindow {
public:
    virtual ~IServerWindow() = default;

    // Appends a row for a newly admitted transfer (state ROW_ACTIVE) under the key the
    // engine chose for it.
    virtual void AddRow(RowHandle row, const RowTexts& texts) = 0;
    // Rewrites the five texts and the state of a row; a row that was cleared is ignored.
    virtual void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) = 0;
    // Progress: bytes sent (or received) so far of fileSize; fileSize is -1 for an upload
    // whose size the client did not tell. Called per block, so the window must keep it
    // cheap (coalesce repaints).
    virtual void DrawProgress(RowHandle row, qint64 bytesSent, qint64 fileSize) = 0;
    // Plays an event sound without blocking; returns non-zero when playback started.
    // The engine only calls it while sounds are on.
    virtual int PlayWaveResource(int id) = 0;
    // The transfer animation: run continuously / freeze on the current frame.
    virtual void StartAnimation() = 0;
    virtual void StopAnimation() = 0;
    // A failure of the program itself ("... Please, Restart This Program!!"). Called when
    // the engine's state is consistent; the window should not block the caller.
    virtual void ShowMessage(const QString& text) = 0;

    // The calls between these two come as one batch (what the host gathered since the
    // last one): a window may show their changes together when the batch ends.
    virtual void BeginChanges() {}
    virtual void EndChanges() {}
};

// A window that shows nothing: where the engine's rows go while no window is set.
IServerWindow& NoServerWindow();

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
    bool waiting() const { return state == State::LinkDown || state == State::NoAddress; }
    bool operator==(const DhcpStatus&) const = default;
    // "dhcp on eth1 (192.0.2.10), pool A-B", "DHCP waits: eth1 link down", ... or empty.
    QString text() const {
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
