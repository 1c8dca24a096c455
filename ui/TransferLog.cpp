#include "TransferLog.h"

#include "TransferListModel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString CTransferLog::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/transfers.log");
}

CTransferLog::CTransferLog(const QString& path, qint64 rotateBytes)
    : m_path(path), m_rotateBytes(rotateBytes) {}

bool CTransferLog::Open() {
    if (m_file.isOpen())
        return true;
    if (m_bFailed)
        return false;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_file.setFileName(m_path);
    m_bFailed = !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    return !m_bFailed;
}

void CTransferLog::Append(const RowTexts& texts, RowState state) {
    if (!Open())
        return;
    if (m_file.size() >= m_rotateBytes) {
        m_file.close();
        const QString older = m_path + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(m_path, older);
        if (!Open())
            return;
    }
    QStringList fields{QDateTime::currentDateTime().toString(Qt::ISODate),
                       texts.client,
                       texts.file,
                       texts.size,
                       texts.service,
                       texts.info,
                       CTransferListModel::StateName(state)};
    for (QString& f : fields)
        f.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    // One write per line, flushed: a crash loses nothing that was shown.
    m_file.write((fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
    m_file.flush();
}
