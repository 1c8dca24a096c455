#pragma once

#include "engine/server/ServerWindow.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <memory>

class QSocketNotifier;

// Lines to a descriptor without ever waiting for its reader: they queue in a bounded
// buffer that is written out when the descriptor can take more. A reader that stops
// reading costs lines (counted, and said in a later line), never memory or the loop.
class CLineOutput : public QObject {
public:
    explicit CLineOutput(int fd, qsizetype limit = 1024 * 1024);
    ~CLineOutput() override;
    void WriteLine(const QString& line);
    // A line already in UTF-8, without its newline.
    void WriteLine(QByteArrayView line);
    qint64 Dropped() const { return m_nDropped; }
    // Lines written between these two go out in one write when the last Release comes
    // (a batch of rows: one system call rather than one per row).
    void Hold() { ++m_nHeld; }
    void Release();

private:
    void NoteDropped();
    // The line appended from byte `at` on stays, or goes (counted) past the limit.
    void Keep(qsizetype at);
    void Flush();

    int m_fd;
    int m_oldFlags = -1;
    qsizetype m_limit;
    QByteArray m_buffer;
    qint64 m_nDropped = 0;
    int m_nHeld = 0;
    QSocketNotifier* m_pNotifier = nullptr;
};

// The window interface without a window: every row change becomes one line on
// standard output, tab-separated so that a script can follow it:
//   row <handle> <STATE> <client> <file> <size> <service> <information>
// Sounds and the animation are silent; messages go to standard error. Neither ever
// blocks the server (see CLineOutput).
class CHeadlessWindow : public IServerWindow {
public:
    CHeadlessWindow();

    void AddRow(RowHandle row, const RowTexts& texts) override;
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override;
    void DrawProgress(RowHandle, qint64, qint64) override {}
    int PlayWaveResource(int) override { return 0; }
    void StartAnimation() override {}
    void StopAnimation() override {}
    void ShowMessage(const QString& text) override;
    void BeginChanges() override { m_out.Hold(); }
    void EndChanges() override { m_out.Release(); }
    // A line of its own on standard output (the first one says where it listens).
    void PrintLine(const QString& line) { m_out.WriteLine(line); }

    // The field with control characters written as \n, \t, \r or \xHH.
    static QString Escaped(const QString& field);

private:
    void Print(RowHandle row, const RowTexts& texts, RowState state);

    CLineOutput m_out;
    CLineOutput m_err;
    QByteArray m_line; // the row's line being made, its room kept from one to the next
};
