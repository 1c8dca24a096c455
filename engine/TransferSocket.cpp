#include "TransferSocket.h"

#include "ServerEngine.h"
#include "SettingsStore.h"

#include <climits>
#include <cstring>

namespace {
QString bytesText(qint64 n) { return QString::number(n) + QStringLiteral(" Bytes"); }

// How far `block` is from `expected`, modulo 65536: 0 the expected one, -1 the one
// before, and so on. Block numbers roll over from 65535 to 0 in both directions.
int blockDistance(quint16 block, quint16 expected) { return qint16(quint16(block - expected)); }

const QString kNotResponding = QStringLiteral("Client Not Responding!! Connection Closed!!");
const QString kFileInUse = QStringLiteral("Error: File already using. Can not open file!!");
const QString kAccessDenied = QStringLiteral("Error: Requested File Access Denied!!");
const QString kHardIO = QStringLiteral("Error: Can not open file by H/W error!!");
} // namespace

CTransferSocket::CTransferSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket)
    : m_pEngine(engine), m_socket(std::move(socket)) {
    m_socket->onReadyRead = [this] {
        m_pEngine->FreeRetired();
        OnReceive();
    };
}

CTransferSocket::~CTransferSocket() {
    if (m_file)
        CloseFile();
}

RowTexts CTransferSocket::Texts() const {
    return {m_strClient, m_strFile, m_strSize, m_strService, m_strInfo};
}

bool CTransferSocket::IsLive() const {
    return !m_bSocketClosed && (m_phase == Phase::InProgress || m_phase == Phase::Complete);
}

bool CTransferSocket::Matches(const QHostAddress& addr, quint16 port, quint16 opcode,
                              const QByteArray& name) const {
    return m_nClientPort == port && m_nDirection == opcode && m_szFileName == name &&
           m_clientAddr == addr;
}

// ---------------------------------------------------------------- start

void CTransferSocket::StartTransfer(quint16 port) {
    m_nPort = port;
    m_strSize.clear();
    CServerEngine& e = *m_pEngine;

    if (e.m_bAllowClient) {
        const QString* allowed[] = {&e.m_strClient1, &e.m_strClient2, &e.m_strClient3,
                                    &e.m_strClient4, &e.m_strClient5, &e.m_strClient6};
        bool served = false;
        for (const QString* entry : allowed)
            served = served || (*entry == m_strClient);
        if (!served)
            return Refuse(QStringLiteral("Unauthorized Clinet!! Deny This Request!!"), 2);
    }

    if (m_nDirection == Send) {
        if (e.m_bSendFile &&
            !QString::fromLatin1(m_szFileName).contains(e.m_strFileEdit, Qt::CaseSensitive))
            return Refuse(QStringLiteral("Requested File Access Not Allowed!! Deny This Request!!"),
                          2);
        if (m_bUnsafePath)
            return Refuse(kAccessDenied, 2);
        FileError error;
        if (!OpenForSending(&error)) {
            switch (error.cause) {
            case FileCause::FileNotFound:
            case FileCause::BadPath:
                return Refuse(QStringLiteral("Error: Requested File Not Found!!"), 1);
            case FileCause::AccessDenied: return Refuse(kAccessDenied, 2);
            case FileCause::HardIO: return Refuse(kHardIO, 0);
            default: return Refuse(kFileInUse, 0);
            }
        }
        m_nFileSize = m_file->size();
        CountIn();
        m_nBlock = 1;
        SendData();
        return;
    }

    if (m_bUnsafePath)
        return Refuse(kAccessDenied, 2);
    FileError error;
    if (!m_bOverWrite) {
        const FileError probe = m_pEngine->ShareTable().IsHeld(
                                    m_pEngine->Platform().files().canonical(m_szPath))
                                    ? FileError{FileCause::Other, QString()}
                                    : m_pEngine->Platform().files().probeExisting(m_szPath);
        if (probe.cause == FileCause::None)
            return Refuse(QStringLiteral("File Already Exist!! Overwriting is prohibited!!"), 6);
        if (probe.cause != FileCause::FileNotFound || !OpenForReceiving(&error))
            return Refuse(kFileInUse, 0);
    } else if (!OpenForReceiving(&error)) {
        switch (error.cause) {
        case FileCause::AccessDenied: return Refuse(kAccessDenied, 2);
        case FileCause::HardIO: return Refuse(kHardIO, 0);
        case FileCause::DiskFull: return Refuse(QStringLiteral("Error: Disk Full!!"), 3);
        default: return Refuse(kFileInUse, 0);
        }
    }
    CountIn();
    SendAck(); // ACK of block 0
}

bool CTransferSocket::OpenForSending(FileError* error) {
    IFileSystem& fs = m_pEngine->Platform().files();
    const QString key = fs.canonical(m_szPath);
    if (!m_pEngine->ShareTable().TryAcquire(key, CFileShareTable::Use::Read)) {
        *error = {FileCause::Other, QString()};
        return false;
    }
    m_file = fs.openRead(m_szPath, error);
    if (!m_file) {
        m_pEngine->ShareTable().Release(key, CFileShareTable::Use::Read);
        return false;
    }
    m_strSharedPath = key;
    m_shareUse = CFileShareTable::Use::Read;
    return true;
}

// A new file is created in place. An existing one is replaced only when the last
// block has been written: until then the data goes to a temporary file beside it,
// so a failed upload never destroys the file it was to replace.
bool CTransferSocket::OpenForReceiving(FileError* error) {
    IFileSystem& fs = m_pEngine->Platform().files();
    const QString key = fs.canonical(m_szPath);
    if (!m_pEngine->ShareTable().TryAcquire(key, CFileShareTable::Use::Write)) {
        *error = {FileCause::Other, QString()};
        return false;
    }
    const FileError probe = fs.probeExisting(m_szPath);
    if (probe.cause == FileCause::None) {
        m_file = fs.createTemp(m_szPath, &m_strTempPath, error);
    } else if (probe.cause == FileCause::FileNotFound || probe.cause == FileCause::BadPath) {
        m_file = fs.create(m_szPath, error);
        m_bCreatedFile = m_file != nullptr;
    } else {
        *error = probe;
    }
    if (!m_file) {
        m_pEngine->ShareTable().Release(key, CFileShareTable::Use::Write);
        return false;
    }
    m_strSharedPath = key;
    m_shareUse = CFileShareTable::Use::Write;
    return true;
}

void CTransferSocket::Refuse(const QString& text, int code) {
    m_strInfo = text;
    m_nRowState = ROW_FAILED;
    RefreshRow();
    SendError(code);
    m_pEngine->PlaySound(SOUND_FAILED);
    m_phase = Phase::Refused;
    CloseSocket();
}

// ---------------------------------------------------------------- events

void CTransferSocket::OnReceive() {
    char packet[Tftp::kTransferBuffer];
    QHostAddress from;
    quint16 fromPort = 0;
    while (!m_bSocketClosed && m_socket->hasPendingDatagrams()) {
        const qint64 n = m_socket->readDatagram(packet, sizeof packet, &from, &fromPort);
        if (n < 0)
            break;
        if (fromPort != m_nClientPort || from != m_clientAddr) {
            // Someone else's packet: tell them, and leave the transfer alone.
            const QByteArray error = Tftp::MakeError(5);
            m_socket->writeDatagram(error.constData(), error.size(), from, fromPort);
            continue;
        }
        HandleDatagram(packet, n);
        if (!IsLive())
            break;
    }
}

void CTransferSocket::HandleDatagram(const char* packet, qint64 size) {
    // A stray packet must not stall the transfer: it leaves the timer running.
    if (size < 4)
        return;
    const quint16 opcode = Tftp::Get16(packet);
    if (opcode != Tftp::DATA && opcode != Tftp::ACK && opcode != Tftp::ERROR)
        return;

    if (m_phase == Phase::Complete && m_nDirection == Receive) {
        // Nothing turns a completed reception into a failure; a repeat of the last
        // block gets the last ACK again.
        if (opcode != Tftp::ERROR && Tftp::Get16(packet + 2) == m_nLastAcked) {
            TransmitAck(m_nLastAcked);
            StartTimer(); // linger one more interval
        }
        return;
    }

    m_pEngine->Platform().timers().stop(m_nPort);
    if (opcode == Tftp::ERROR)
        return Fail(Tftp::ClientErrorText(Tftp::Get16(packet + 2)), false);
    const quint16 block = Tftp::Get16(packet + 2);
    if (m_nDirection == Send)
        HandleAck(block);
    else
        HandleData(block, packet, size);
}

void CTransferSocket::HandleAck(quint16 block) {
    const int distance = blockDistance(block, quint16(m_nBlock - 1));
    if (distance == 0) {
        if (m_bSendDone) {
            // The last block is acknowledged: nothing more to do on this port.
            CloseSocket();
            return;
        }
        m_nRetry = 0;
        SendData();
    } else if (distance == -1) {
        m_strInfo = QStringLiteral("Duplicated ACK!");
        RefreshRow();
        ++m_nRetry;
        SendData();
    } else if (distance < -1) {
        Fail(QStringLiteral("Error: Receive ACK Block Number is less than normal case!!"), false);
    } else {
        Fail(QStringLiteral("Error: Receive ACK Block Number is greater than normal case!!"),
             false);
    }
}

void CTransferSocket::HandleData(quint16 block, const char* packet, qint64 size) {
    const int distance = blockDistance(block, m_nBlock);
    if (distance == 0) {
        m_nRetry = 0;
        WriteData(packet, size);
        if (m_phase == Phase::InProgress || m_phase == Phase::Complete)
            SendAck();
    } else if (distance == -1) {
        m_strInfo = QStringLiteral("Duplicated DATA!");
        RefreshRow();
        ++m_nRetry;
        SendAck();
    } else if (distance < -1) {
        Fail(QStringLiteral("Error: Receive DATA Block Number is less than normal case!!"), true);
    } else {
        Fail(QStringLiteral("Error: Receive DATA Block Number is greater than normal case!!"),
             true);
    }
}

void CTransferSocket::OnTimer() {
    m_pEngine->Platform().timers().stop(m_nPort);
    if (m_phase == Phase::Complete && m_nDirection == Receive) {
        CloseSocket(); // the client had its chance to repeat the last block
        return;
    }
    if (!IsLive())
        return;
    ++m_nRetry;
    if (m_nDirection == Send)
        SendData();
    else
        SendAck();
}

void CTransferSocket::RepeatLastPacket() {
    if (m_nDirection == Send) {
        if (m_nOutLength > 0)
            Transmit(m_lastData, m_nOutLength);
    } else {
        TransmitAck(m_nLastAcked);
    }
}

// ---------------------------------------------------------------- sending

void CTransferSocket::SendData() {
    ReadTimeOut();
    if (m_nRetry == 0) {
        const qint64 n = m_file->read(m_outPacket + 4, Tftp::kBlockSize);
        if (n < 0)
            return FailOnFileError(m_file->error());
        Tftp::PutHeader(m_outPacket, Tftp::DATA, m_nBlock);
        m_nOutLength = int(n) + 4;
        std::memcpy(m_lastData, m_outPacket, size_t(m_nOutLength));
        StartTimer();
        Transmit(m_outPacket, m_nOutLength);
        ++m_nBlock;
        m_pEngine->Window().DrawProgress(m_rowHandle, m_nBytesSent, m_nFileSize);
        m_nBytesSent += n;
        if (!m_bRowShown) {
            // Formatted only when the row is rewritten, not at every block.
            m_strInfo = QStringLiteral("Total file size is %1 Bytes").arg(m_nFileSize);
            RefreshRow();
        }
        m_bRowShown = true;
    } else if (m_nRetry <= 5) {
        StartTimer();
        Transmit(m_lastData, m_nOutLength);
        m_bRowShown = false;
    } else {
        return Fail(kNotResponding, false);
    }
    if (m_nOutLength < 4 + Tftp::kBlockSize && !m_bSendDone)
        CompleteSend();
}

// Complete when the last block is sent; the timer keeps running for its ACK.
void CTransferSocket::CompleteSend() {
    CloseFile();
    m_phase = Phase::Complete;
    m_bSendDone = true;
    m_bRowShown = false;
    m_strInfo = QStringLiteral("Transfer Complete");
    m_strSize = bytesText(m_nBytesSent);
    m_nRowState = ROW_SENT;
    RefreshRow();
    m_pEngine->PlaySound(SOUND_SENT);
    CountOutOnce();
}

// ---------------------------------------------------------------- receiving

void CTransferSocket::WriteData(const char* packet, qint64 size) {
    m_bReceiveDone = false;
    if (!m_bAwaitingData)
        return;
    const qint64 n = size - 4;
    if (n > 0 && m_file->write(packet + 4, n) != n)
        return FailOnFileError(m_file->error());
    m_nBytesReceived += n;
    if (size >= 4 + Tftp::kBlockSize)
        return;
    CompleteReceive();
}

void CTransferSocket::CompleteReceive() {
    m_file->close();
    if (!m_strTempPath.isEmpty()) {
        FileError error;
        if (!m_pEngine->Platform().files().replace(m_strTempPath, m_szPath, &error))
            return FailOnFileError(error);
        m_strTempPath.clear();
    }
    CloseFile();
    m_bAwaitingData = false;
    m_bReceiveDone = true;
    m_phase = Phase::Complete;
    m_strInfo = QStringLiteral("Receive Complete");
    m_strSize = bytesText(m_nBytesReceived);
    m_nRowState = ROW_RECEIVED;
    RefreshRow();
    m_pEngine->PlaySound(SOUND_RECEIVED);
    CountOutOnce();
}

void CTransferSocket::SendAck() {
    ReadTimeOut();
    if (m_nRetry == 0) {
        // Every ACK that awaits data runs the timer, the ACK of block 0 included, so a
        // client that vanishes is given up on. After the last block the timer only
        // keeps the port open one interval for a repeated last block.
        StartTimer();
        TransmitAck(m_nBlock);
        if (!m_bAwaitingData && !m_bReceiveDone) { // the ACK of block 0
            m_strInfo = QStringLiteral("Data Receiving....");
            RefreshRow();
        }
        m_nLastAcked = m_nBlock;
        m_bAwaitingData = !m_bReceiveDone;
        ++m_nBlock;
    } else if (m_nRetry <= 5) {
        StartTimer();
        TransmitAck(m_nLastAcked);
    } else {
        Fail(kNotResponding, true);
    }
}

// ---------------------------------------------------------------- ends

void CTransferSocket::Fail(const QString& text, bool removeFile, int errorCode) {
    m_strInfo = text;
    m_nRowState = ROW_FAILED;
    RefreshRow();
    if (errorCode >= 0)
        SendError(errorCode);
    m_phase = Phase::Failed;
    CloseSocket();
    if (removeFile)
        RemovePartialFile();
    CloseFile();
    m_pEngine->PlaySound(SOUND_FAILED);
    CountOutOnce();
}

// A read or write that failed after the open ends the transfer on its row.
void CTransferSocket::FailOnFileError(const FileError& error) {
    if (error.cause == FileCause::DiskFull)
        Fail(QStringLiteral("Error: Disk Full!!"), true, 3);
    else
        Fail(QStringLiteral("Error: ") + error.text, true, 0);
}

void CTransferSocket::Abort() {
    SendError(0);
    m_pEngine->Platform().timers().stop(m_nPort);
    m_strInfo = QStringLiteral("User aborts!!");
    if (m_nDirection == Receive)
        RemovePartialFile();
    CloseFile();
    m_nRowState = ROW_FAILED;
    RefreshRow();
    m_bCountedIn = false; // Abort resets the count itself
    m_phase = Phase::Aborted;
    CloseSocket();
}

void CTransferSocket::Discard() {
    CloseFile();
    if (m_phase == Phase::InProgress || m_phase == Phase::Idle)
        m_phase = Phase::Aborted;
    CloseSocket();
}

void CTransferSocket::SendShutdownError() {
    static const char kText[] = "Server shutting down";
    QByteArray packet(4 + int(sizeof kText), '\0');
    Tftp::PutHeader(packet.data(), Tftp::ERROR, 0);
    std::memcpy(packet.data() + 4, kText, sizeof kText);
    Transmit(packet.constData(), packet.size());
}

void CTransferSocket::CountIn() {
    m_phase = Phase::InProgress;
    m_pEngine->CountIn();
    m_bCountedIn = true;
}

void CTransferSocket::CountOutOnce() {
    if (!m_bCountedIn)
        return;
    m_bCountedIn = false;
    m_pEngine->CountOut();
}

// Removes what a failed reception wrote: the temporary file of a replacement (the
// old file stays as it was), or the file the reception created.
void CTransferSocket::RemovePartialFile() {
    if (m_nDirection != Receive || m_bReceiveDone)
        return;
    if (m_file)
        m_file->close();
    if (m_bCreatedFile) {
        m_pEngine->Platform().files().remove(m_szPath);
        m_bCreatedFile = false;
    }
}

// Closes the file and gives up its place in the share table. A temporary file that
// was not renamed into place is never useful afterwards.
void CTransferSocket::CloseFile() {
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (!m_strTempPath.isEmpty()) {
        m_pEngine->Platform().files().remove(m_strTempPath);
        m_strTempPath.clear();
    }
    if (!m_strSharedPath.isEmpty()) {
        m_pEngine->ShareTable().Release(m_strSharedPath, m_shareUse);
        m_strSharedPath.clear();
    }
}

void CTransferSocket::CloseSocket() {
    if (m_bSocketClosed)
        return;
    m_bSocketClosed = true;
    m_socket->close();
    m_pEngine->Retire(this);
}

// ---------------------------------------------------------------- helpers

void CTransferSocket::RefreshRow() {
    m_pEngine->Window().UpdateRow(m_rowHandle, Texts(), m_nRowState);
}

void CTransferSocket::ReadTimeOut() {
    m_nTimeOut = m_pEngine->Store().GetProfileInt(CSettingsStore::kTimeOut,
                                                   CSettingsStore::kDefaultTimeOut);
}

// A time-out of 0 or below runs with one second.
void CTransferSocket::StartTimer() {
    const qint64 ms = m_nTimeOut > 0 ? qint64(m_nTimeOut) * 1000 : 1000;
    m_pEngine->Platform().timers().start(m_nPort, int(std::min<qint64>(ms, INT_MAX)));
}

void CTransferSocket::SendError(int code) {
    const QByteArray packet = Tftp::MakeError(code);
    Transmit(packet.constData(), packet.size());
}

// On the stack: receiving sends one of these per block.
void CTransferSocket::TransmitAck(quint16 block) {
    char ack[4];
    Tftp::PutHeader(ack, Tftp::ACK, block);
    Transmit(ack, sizeof ack);
}

void CTransferSocket::Transmit(const char* data, qint64 size) {
    if (!m_bSocketClosed)
        m_socket->writeDatagram(data, size, m_clientAddr, m_nClientPort);
}
