#include "TransferLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
QString CTransferLog::Now() {
    const qint64 secs = QDateTime::currentSecsSinceEpoch();
    if (secs != m_nStampSecs) {
        m_nStampSecs = secs;
        m_strStamp = QDateTime::fromSecsSinceEpoch(secs).toString(Qt::ISODate);
    }
    return m_strStamp;
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
    // One line made in one buffer: a burst of small files writes one a row.
    m_line.resize(0);
    m_line += Now();
    for (const QString* field : {&texts.client, &texts.file, &texts.size, &texts.service, &texts.info}) {
        m_line += QLatin1Char('\t');
        const qsizetype from = m_line.size();
        m_line += *field;
        for (qsizetype i = from; i < m_line.size(); ++i)
            if (m_line.at(i) == QLatin1Char('\t') || m_line.at(i) == QLatin1Char('\n'))
                m_line[i] = QLatin1Char(' ');
    }
    m_line += QLatin1Char('\t') + RowStateName(state) + QLatin1Char('\n');
    // Flushed as soon as the window is idle again: a crash loses nothing that was shown.
    m_nBytes += m_file.write(m_line.toUtf8());
    if (!m_flush.isActive())
        m_flush.start();
}
