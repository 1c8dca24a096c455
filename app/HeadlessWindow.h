#pragma once

#include "ServerWindow.h"

#include <QHash>
#include <QTextStream>

// The window interface without a window: every row change becomes one line on
// standard output, tab-separated so that a script can follow it:
//   row <handle> <STATE> <client> <file> <size> <service> <information>
// Sounds and the animation are silent; messages go to standard error.
class CHeadlessWindow : public IServerWindow {
public:
    CHeadlessWindow();

    RowHandle AddRow(const RowTexts& texts) override;
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override;
    void DrawProgress(RowHandle, qint64, qint64) override {}
    int PlayWaveResource(int) override { return 0; }
    void StartAnimation() override {}
    void StopAnimation() override {}
    void ShowMessage(const QString& text) override;

    static QString StateName(RowState state);
    // The field with control characters written as \n, \t, \r or \xHH.
    static QString Escaped(const QString& field);

private:
    void Print(RowHandle row, const RowTexts& texts, RowState state);

    QTextStream m_out;
    RowHandle m_nextRow = 1;
};
