#pragma once

#include "engine/client/ClientTransfer.h"
#include "engine/server/ServerWindow.h"

#include <functional>
#include <memory>
#include <vector>

// The window's client transfers (Send to Device, Fetch from Device) on the engine
// thread: each is a row in the same list as the server's, with its own texts, sounds and
// progress. The server's limits and counters do not count them.
class CClientRows {
public:
    // Their timers' ids, apart from transfer ports and the HTTP timer.
    static constexpr int kFirstTimerId = 0x20000;

    struct Hooks {
        std::function<RowHandle(const RowTexts&)> addRow; // the next row key
        std::function<void(int)> playSound;               // the sound, if sounds are on
        // Why nothing answered (the route, this machine's network), when it can be told;
        // empty: nothing found.
        std::function<QString(const QHostAddress&)> whyUnanswered = nullptr;
    };
    CClientRows(IPlatform& platform, IServerWindow& window, Hooks hooks);
    ~CClientRows();

    // shownFile: the local file as the row names it.
    void Start(const TftpClient::Request& request, const QString& shownFile);
    // False when the id is not one of theirs.
    bool OnTimer(int id);
    // False when the row is not a running client transfer.
    bool AbortRow(RowHandle row);
    void AbortAll();
    // The program is closing: every running transfer tells its device (ERROR 0) and its
    // row says so; a partial fetch is removed.
    void Close();
    // Every transfer ends without a word (the window is gone).
    void Discard();
    // Client transfers in progress (waiting for the device included).
    int Running() const;

private:
    struct Row;
    void Update(Row& row, RowState state);
    void Ended(Row& row);
    void FreeRetired();

    IPlatform& m_platform;
    IServerWindow& m_window;
    Hooks m_hooks;
    std::vector<std::unique_ptr<Row>> m_rows;
    std::vector<std::unique_ptr<Row>> m_retired; // freed where none of them is on the stack
    int m_nNextTimer = kFirstTimerId;
    bool m_bClosing = false;
};
