#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <vector>

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

// What the engine knows of a row beyond its texts, for the details pane: told once
// as a transfer or exchange starts and once as it ends, never per block. Texts that
// came from a client are made printable here; the window escapes them for its markup.
struct RowDetails {
    bool ended = false;
    QString client;            // the client's address
    quint16 clientPort = 0;
    quint16 ourPort = 0;       // the port that answered it
    QString asked;             // the file as the client named it
    QString found;             // the name it was found (or written) under
    QString optionsAsked;      // "blksize 1428, tsize 0"; empty: none asked
    QString optionsGiven;      // the OACK's options in the same form; empty: none
    qint64 blocks = -1;        // DATA blocks sent or received so far; -1: none counted
    int retries = 0;           // packets sent again
    int timeOuts = 0;          // waits that ran out
    qint64 startMs = -1, endMs = -1; // on the engine's clock; endMs -1 while it runs
    QString failure;           // why it failed; empty when it did not
    QStringList offer;         // a DHCP or boot answer: what it sent, a readable line each
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

// A row appended in a batch. A transfer that ended within the batch comes with its
// final texts and state: its row is added as ended, never drawn as running.
struct NewRow {
    RowHandle row = 0;
    RowTexts texts;            // as the transfer began
    RowState state = ROW_ACTIVE;
    RowTexts ended;            // the final texts, when state is not ROW_ACTIVE
    std::vector<RowTexts> steps = {}; // new texts it told while running, in order
    // What a running row shows: its latest texts.
    const RowTexts& Running() const { return steps.empty() ? texts : steps.back(); }
};

// Everything the engine asks of the window. The window implements it; the engine
// never sees a widget. All calls arrive on the one thread that runs the event loop.
class IServerWindow {
public:
    virtual ~IServerWindow() = default;

    // Appends a row for a newly admitted transfer (state ROW_ACTIVE) under the key the
    // engine chose for it.
    virtual void AddRow(RowHandle row, const RowTexts& texts) = 0;
    // Several rows at once, in key order (a window may insert them in one step). By
    // default an AddRow each, an UpdateRow for each step, and one for a row that ended.
    virtual void AddRows(const std::vector<NewRow>& rows) {
        for (const NewRow& r : rows) {
            AddRow(r.row, r.texts);
            for (const RowTexts& step : r.steps)
                UpdateRow(r.row, step, ROW_ACTIVE);
            if (r.state != ROW_ACTIVE)
                UpdateRow(r.row, r.ended, r.state);
        }
    }
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
    // The row's details (RowDetails), at its start and at its end; a cleared row's
    // are ignored. A window without a details pane need not keep them.
    virtual void ShowDetails(RowHandle row, const RowDetails& details) {
        (void)row;
        (void)details;
    }
    // The same, from a caller that will not change them again: a window that keeps them
    // for later (the engine thread's queue) takes them without a copy.
    virtual void ShowSharedDetails(RowHandle row, std::shared_ptr<const RowDetails> details) {
        ShowDetails(row, *details);
    }

    virtual void BeginChanges() {}
    virtual void EndChanges() {}
};

// A window that shows nothing: where the engine's rows go while no window is set.
IServerWindow& NoServerWindow();
