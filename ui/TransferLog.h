#pragma once

#include "engine/server/ServerWindow.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTimer>

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
    ~CTransferLog();
    CTransferLog(const CTransferLog&) = delete;
    CTransferLog& operator=(const CTransferLog&) = delete;

    void Append(const RowTexts& texts, RowState state);
    QString Path() const { return m_path; }

private:
    bool Open();
    const QByteArray& Now();

    QString m_path;
    qint64 m_rotateBytes;
    QFile m_file;
    qint64 m_nBytes = 0; // the file's size, what is buffered included
    // The lines of one batch of row changes go to the file together, once the batch
    // is shown.
    QTimer m_flush;
    qint64 m_nStampSecs = -1;
    QByteArray m_stamp;
    QByteArray m_line; // the line being made (UTF-8), its room kept from one to the next
    bool m_bFailed = false; // a log that cannot be written is not retried per row
};
