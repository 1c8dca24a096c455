#include "TransferLog.h"

#include "Utf8Text.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstring>

QString CTransferLog::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/transfers.log");
}

CTransferLog::CTransferLog(const QString& path, qint64 rotateBytes)
    : m_path(path), m_rotateBytes(rotateBytes) {
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    QObject::connect(&m_flush, &QTimer::timeout, [this] { m_file.flush(); });
}

CTransferLog::~CTransferLog() {
    if (m_file.isOpen())
        m_file.flush();
}

// The time to the second, formatted once per second rather than once per line.
const QByteArray& CTransferLog::Now() {
    const qint64 secs = QDateTime::currentSecsSinceEpoch();
    if (secs != m_nStampSecs) {
        m_nStampSecs = secs;
        m_stamp = QDateTime::fromSecsSinceEpoch(secs).toString(Qt::ISODate).toUtf8();
    }
    return m_stamp;
}

bool CTransferLog::Open() {
    if (m_file.isOpen())
        return true;
    if (m_bFailed)
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_file.setFileName(m_path);
    m_bFailed = !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    m_nBytes = m_bFailed ? 0 : m_file.size();
    return !m_bFailed;
}

void CTransferLog::Append(const RowTexts& texts, RowState state) {
    if (!Open())
        return;
    // Counted here: QFile::size() writes out what is buffered and asks the system.
    if (m_nBytes >= m_rotateBytes) {
        m_file.close();
        const QString older = m_path + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(m_path, older);
        if (!Open())
            return;
    }
    // One line made in one buffer, as UTF-8: a burst of small files writes one a row.
    // Tab and newline are single bytes in UTF-8 and never part of a longer sequence, so
    // they are found among the bytes.
    m_line.truncate(0);
    m_line += Now();
    for (const QString* field : {&texts.client, &texts.file, &texts.size, &texts.service, &texts.info}) {
        m_line += '\t';
        const qsizetype from = m_line.size();
        AppendUtf8(m_line, *field);
        char* const end = m_line.data() + m_line.size();
        for (const char sign : {'\t', '\n'})
            for (char* c = m_line.data() + from;
                 (c = static_cast<char*>(std::memchr(c, sign, size_t(end - c)))); ++c)
                *c = ' ';
    }
    m_line += '\t';
    AppendUtf8(m_line, RowStateName(state));
    m_line += '\n';
    // Flushed as soon as the window is idle again: a crash loses nothing that was shown.
    m_nBytes += m_file.write(m_line);
    if (!m_flush.isActive())
        m_flush.start();
}
