#pragma once

#include "ServerWindow.h"

#include <QFile>
#include <QString>

// Every row change as one line of a log file, so a transfer can be looked up after
// the list was cleared or the program closed: time, client, file, size, service,
// information, state, tab-separated. The file moves to "<name>.1" when it reaches
// the size limit (one older file is kept).
class CTransferLog {
public:
    static constexpr qint64 kRotateBytes = 4 * 1024 * 1024;

    // In the user's data folder (QStandardPaths::AppLocalDataLocation), "transfers.log".
    static QString DefaultPath();

    explicit CTransferLog(const QString& path = DefaultPath(), qint64 rotateBytes = kRotateBytes);

    void Append(const RowTexts& texts, RowState state);
    QString Path() const { return m_path; }

private:
    bool Open();

    QString m_path;
    qint64 m_rotateBytes;
    QFile m_file;
    bool m_bFailed = false; // a log that cannot be written is not retried per row
};
