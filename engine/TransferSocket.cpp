#include "TransferSocket.h"

#include "Netascii.h"
#include "NormalAddress.h"
#include "ServerEngine.h"
#include "SettingsStore.h"

#include <QFile>
#include <algorithm>
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

// A duplicate ACK that comes this soon after our send of the block may be the network's
// copy of the ACK that made us send it: resending then would double every later block
// (the Sorcerer's Apprentice, RFC 1123 4.2.3.1). Clients retransmit far more slowly.
constexpr qint64 kEchoGuardMs = 200;
} // namespace

CTransferSocket::CTransferSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket,
                                 const TransferRequest& request, quint16 port)
    : m_pEngine(engine), m_socket(std::move(socket)), m_clientAddr(request.client),
      m_nClientPort(request.clientPort), m_nDirection(request.opcode),
      m_strService(request.opcode == Tftp::RRQ ? QStringLiteral("Send") : QStringLiteral("Receive")),
      m_bOverWrite(request.overWrite), m_szFileName(request.fileName),
      m_strFile(QFile::decodeName(request.askedNote.isEmpty() ? request.fileName : request.path.name)),
      m_strAskedNote(request.askedNote), m_szPath(request.path),
      m_bOctet(request.octet), m_strClient(request.client.toString()),
      m_bUnsafePath(request.refusePath), m_strMissingFolder(request.missingFolder), m_nPort(port),
      m_askedOptions(request.options) {
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
    RowTexts texts{m_strClient, m_strFile, m_strSize, m_strService, m_strInfo + m_strAskedNote};
    texts.missingFile = m_bMissingFile;
    return texts;
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

void CTransferSocket::StartTransfer() {
    m_strSize.clear();
    CServerEngine& e = *m_pEngine;

    if (!e.Rules().AdmitsClient(m_strClient))
        return Refuse(QStringLiteral("Unauthorized Clinet!! Deny This Request!!"), 2);

    if (m_nDirection == Send) {
        if (!e.Rules().AdmitsRead(m_szFileName))
            return Refuse(QStringLiteral("Requested File Access Not Allowed!! Deny This Request!!"),
                          2);
        if (m_bUnsafePath)
            return RefuseUnsafePath();
        FileError error;
        if (!OpenForSending(&error))
            return RefuseOnFileError(error);
        WrapForNetascii();
        m_nFileSize = m_file->size();
        Negotiate();
        CountIn();
        m_nBlock = 1;
        if (!m_oack.isEmpty())
            return SendOack(); // the client's ACK 0 starts the data
        SendData();
        return;
    }

    if (m_bUnsafePath)
        return RefuseUnsafePath();
    FileError error;
    if (!m_bOverWrite) {
        const FileError probe = m_pEngine->ShareTable().IsHeld(
                                    m_pEngine->Platform().files().canonical(m_szPath))
                                    ? FileError{FileCause::Other, QString()}
                                    : m_pEngine->Platform().files().probeExisting(m_szPath);
        if (probe.cause == FileCause::None)
            return Refuse(QStringLiteral("File Already Exist!! Overwriting is prohibited!!"), 6);
        if (probe.cause == FileCause::BadPath)
            return RefuseOnFileError(probe);
        if (probe.cause != FileCause::FileNotFound)
            return Refuse(kFileInUse, 0);
    }
    if (!Negotiate())
        return Refuse(QStringLiteral("Error: Disk Full!!"), 3); // tsize beyond the free space
    if (!OpenForReceiving(&error))
        return RefuseOnFileError(error);
    WrapForNetascii();
    CountIn();
    if (m_oack.isEmpty())
        return SendAck(); // ACK of block 0
    // The OACK stands for ACK 0: DATA 1 is awaited.
    m_strInfo = QStringLiteral("Data Receiving....") + m_strOptionNote;
    RefreshRow();
    m_bAwaitingData = true;
    m_nLastAcked = 0;
    m_nBlock = 1;
    SendOack();
}

// Answers only the options the client asked for and we take (RFC 2347); an option
// out of its range is left out of the answer, and the client then does without it.
bool CTransferSocket::Negotiate() {
    const EngineSettings& settings = m_pEngine->Settings();
    QList<QPair<QByteArray, QByteArray>> answer;
    for (const auto& [name, value] : std::as_const(m_askedOptions)) {
        bool ok = false;
        const qint64 n = value.toLongLong(&ok);
        if (!ok)
            continue;
        if (name == "blksize" && n >= CSettingsStore::kMinBlockSize) {
            m_nBlockSize = int(std::min<qint64>({n, qint64(CSettingsStore::kMaxBlockSizeLimit),
                                                 qint64(settings.maxBlockSize)}));
            answer.append({name, QByteArray::number(m_nBlockSize)});
        } else if (name == "windowsize" && n >= 1 && n <= CSettingsStore::kMaxWindowSizeLimit) {
            // At most half the block numbers, so that old and new stay told apart.
            m_nWindowSize = int(std::min<qint64>({n, qint64(settings.maxWindowSize), 32767}));
            answer.append({name, QByteArray::number(m_nWindowSize)});
        } else if (name == "timeout" && n >= 1 && n <= 255) {
            m_nOptionTimeOut = int(n);
            answer.append({name, value});
        } else if (name == "tsize" && n >= 0) {
            if (m_nDirection == Send) {
                m_bSizeTold = !m_bNetascii; // converted, the size is unknown until the end
                if (m_bSizeTold)
                    answer.append({name, QByteArray::number(m_nFileSize)});
            } else {
                const qint64 free = m_pEngine->Platform().files().freeSpace(m_szPath);
                if (free >= 0 && n > free)
                    return false;
                m_nClientSize = n;
                answer.append({name, value});
            }
        }
    }
    if (answer.isEmpty())
        return true;
    m_oack = Tftp::MakeOack(answer);
    if (m_nBlockSize != Tftp::kBlockSize || m_nWindowSize != 1)
        m_strOptionNote = QStringLiteral(" (blksize %1, windowsize %2)")
                              .arg(m_nBlockSize)
                              .arg(m_nWindowSize);
    return true;
}

void CTransferSocket::SendOack() {
    ReadTimeOut();
    if (m_nRetry > 5)
        return Fail(kNotResponding, 0, "Client not responding");
    m_bOackPending = true;
    StartTimer();
    Transmit(m_oack.constData(), m_oack.size());
}

// UEFI and some boot loaders ask for tsize alone, then end with ERROR 8 once they
// have the size, and ask again: that is a question answered, not a failed transfer.
void CTransferSocket::EndProbe() {
    StopTimer();
    const bool sizeAsked = std::any_of(m_askedOptions.begin(), m_askedOptions.end(),
                                       [](const auto& o) { return o.first == "tsize"; });
    m_strInfo = sizeAsked ? QStringLiteral("Size probe answered")
                          : QStringLiteral("Options declined by the client");
    if (m_nDirection == Send)
        m_strSize = bytesText(m_nFileSize);
    m_nRowState = ROW_SENT;
    RefreshRow();
    m_phase = Phase::Complete;
    Finish();
    CountOutOnce();
}

// Line ends converted as RFC 1350 asks, unless the user wants the bytes as they come.
void CTransferSocket::WrapForNetascii() {
    if (m_bOctet || !m_pEngine->Settings().convertNetascii)
        return;
    m_bNetascii = true;
    if (m_nDirection == Send)
        m_file = std::make_unique<Netascii::CEncodingFile>(std::move(m_file));
    else
        m_file = std::make_unique<Netascii::CDecodingFile>(std::move(m_file));
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

// The data goes to a temporary file beside the file named, which takes its name only
// when the last block has been written: a failed or cut-short upload never leaves a
// truncated file that looks complete, nor destroys the file it was to replace.
bool CTransferSocket::OpenForReceiving(FileError* error) {
    IFileSystem& fs = m_pEngine->Platform().files();
    const QString key = fs.canonical(m_szPath);
    if (!m_pEngine->ShareTable().TryAcquire(key, CFileShareTable::Use::Write)) {
        *error = {FileCause::Other, QString()};
        return false;
    }
    const FileError probe = fs.probeExisting(m_szPath);
    if (probe.cause == FileCause::None || probe.cause == FileCause::FileNotFound)
        m_file = fs.createTemp(m_szPath, error);
    else
        *error = probe;
    if (!m_file) {
        m_pEngine->ShareTable().Release(key, CFileShareTable::Use::Write);
        return false;
    }
    m_strSharedPath = key;
    m_shareUse = CFileShareTable::Use::Write;
    return true;
}

// The client hears "access violation" either way; the row tells the user which of the
// two it was, since a folder gone (an unplugged disk, say) is theirs to mend.
void CTransferSocket::RefuseUnsafePath() {
    if (!m_strMissingFolder.isEmpty())
        return Refuse(QStringLiteral("Working folder missing: ") + m_strMissingFolder, 2);
    Refuse(kAccessDenied, 2);
}

void CTransferSocket::RefuseOnFileError(const FileError& error) {
    m_bMissingFile = m_nDirection == Send &&
                     (error.cause == FileCause::FileNotFound || error.cause == FileCause::BadPath);
    switch (error.cause) {
    case FileCause::FileNotFound: return Refuse(QStringLiteral("Error: Requested File Not Found!!"), 1);
    case FileCause::BadPath:
        // A folder on the way is missing.
        return Refuse(m_nDirection == Send ? QStringLiteral("Error: Requested File Not Found!!")
                                           : QStringLiteral("Error: Requested Folder Not Found!!"),
                      1);
    case FileCause::AccessDenied: return Refuse(kAccessDenied, 2);
    case FileCause::HardIO: return Refuse(kHardIO, 0);
    case FileCause::DiskFull: return Refuse(QStringLiteral("Error: Disk Full!!"), 3);
    default: return Refuse(kFileInUse, 0);
    }
}

void CTransferSocket::Refuse(const QString& text, int code) {
    m_strInfo = text;
    m_nRowState = ROW_FAILED;
    RefreshRow();
    SendError(code);
    if (!m_bMissingFile || !m_pEngine->Settings().hideMissingFiles)
        m_pEngine->PlaySound(SOUND_FAILED);
    m_phase = Phase::Refused;
    CloseSocket();
}

// ---------------------------------------------------------------- events

void CTransferSocket::OnReceive() {
    // One buffer for every transfer (they all run on one thread): a negotiated block
    // may be up to 64 KiB.
    static char packet[4 + CSettingsStore::kMaxBlockSizeLimit];
    const qint64 capacity = std::max<qint64>(Tftp::kTransferBuffer, 4 + m_nBlockSize);
    QHostAddress from;
    quint16 fromPort = 0;
    while (!m_bSocketClosed && m_socket->hasPendingDatagrams()) {
        const qint64 n = m_socket->readDatagram(packet, capacity, &from, &fromPort);
        if (n < 0)
            break;
        if (fromPort != m_nClientPort || NormalAddress(from) != m_clientAddr) {
            // Someone else's packet: tell them (at most once a second, and never an
            // ERROR, RFC 1350), and leave the transfer alone.
            const bool isError = n >= 2 && Tftp::Get16(packet) == Tftp::ERROR;
            if (!isError && fromPort != 0 &&
                m_pEngine->MayAnswerStranger(NormalAddress(from), fromPort)) {
                const QByteArray error = Tftp::MakeError(5);
                m_socket->writeDatagram(error.constData(), error.size(), from, fromPort);
            }
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
        if (opcode == Tftp::DATA && Tftp::Get16(packet + 2) == m_nLastAcked) {
            TransmitAck(m_nLastAcked);
            StartTimer(); // linger one more interval
        }
        return;
    }

    if (opcode == Tftp::ERROR) {
        const quint16 code = Tftp::Get16(packet + 2);
        if (m_bOackPending && code == 8)
            return EndProbe();
        StopTimer();
        if (ClientHasEverything(code))
            return EndByClientError();
        QString text = Tftp::ClientErrorText(code);
        if (code == 0)
            text += ClientWords(packet + 4, size - 4);
        return Fail(text, -1); // never answered
    }
    // A download takes only ACKs, an upload only DATA: a packet of the other kind is
    // stray and changes nothing (an ACK is no empty last block).
    if (opcode != (m_nDirection == Send ? Tftp::ACK : Tftp::DATA))
        return;
    const quint16 block = Tftp::Get16(packet + 2);
    if (m_bOackPending) {
        // After an OACK only ACK 0 (a download) or DATA 1 (an upload) goes on.
        if (block != (m_nDirection == Send ? 0 : 1))
            return;
        StopTimer();
        m_bOackPending = false;
        m_nRetry = 0;
        if (m_nDirection == Send)
            return SendData();
    }
    if (m_nDirection == Send)
        HandleAck(block);
    else
        HandleData(block, packet, size);
}

// PXELINUX, told the size, answers the empty last block with ERROR 0 instead of an ACK
// once it has acknowledged every byte; others use ERROR 8. It has the whole file.
bool CTransferSocket::ClientHasEverything(quint16 code) const {
    if (m_nDirection != Send || (code != 0 && code != 8) || m_bOackPending)
        return false;
    return m_bSizeTold && m_nAckedBytes >= m_nFileSize;
}

void CTransferSocket::EndByClientError() {
    if (!m_bSendDone)
        CompleteSend(); // the empty last block was never asked for
    Finish();
}

// What the client said in its ERROR, fit for the row, the log and the console: cut
// short, invalid UTF-8 replaced, control characters written out as the console does.
QString CTransferSocket::ClientWords(const char* text, qint64 size) {
    if (size <= 0)
        return QString();
    const qint64 end = qint64(qstrnlen(text, uint(std::min<qint64>(size, 4096))));
    const QString out = Tftp::Printable(QString::fromUtf8(text, end).left(100));
    if (out.trimmed().isEmpty())
        return QString();
    return QStringLiteral(" (") + out + QLatin1Char(')');
}

// UDP may duplicate and reorder: an ACK older than the last one acknowledged is a stale
// copy and changes nothing, not even the timer. m_nBase is the last block acknowledged,
// blocks m_nBase + 1 to m_nBlock - 1 are in flight (one in lock-step).
void CTransferSocket::HandleAck(quint16 block) {
    const int distance = blockDistance(block, m_nBase);
    const int inFlight = quint16(m_nBlock - 1 - m_nBase);
    // After a time-out only one block went again; blocks sent before it may be ACKed.
    const int sentAhead = std::max(inFlight, blockDistance(m_nSentTop, m_nBase));
    if (distance < 0)
        return;
    if (distance == 0) {
        // Resent at the client's pace when our block was lost; an echo changes nothing.
        if (m_pEngine->Platform().timers().elapsedMs() - m_nLastSendMs < kEchoGuardMs)
            return;
        if (!m_bSendDone) { // a completed row stays so
            m_strInfo = QStringLiteral("Duplicated ACK!");
            RefreshRow();
        }
        StopTimer();
        ++m_nRetry;
        Resend(true);
        return;
    }
    StopTimer();
    if (distance > sentAhead)
        return Fail(QStringLiteral("Error: Receive ACK Block Number is greater than normal case!!"),
                    4);
    m_nBase = block;
    m_nAckedBytes += qint64(distance) * m_nBlockSize;
    if (m_bSendDone && block == m_nFinalBlock) {
        // The last block is acknowledged: nothing more to do on this port.
        Finish();
        return;
    }
    m_nRetry = 0;
    if (distance != inFlight) {
        // The client missed a block inside the window: go on from the one after its ACK
        // (RFC 7440), never from both places at once. Past the block resent after a
        // time-out, the same.
        m_nBlock = quint16(block + 1);
        m_nBytesSent = m_nAckedBytes;
    }
    SendData();
}

// As for ACKs: a DATA block older than the one before the expected one is ignored. With
// a window, blocks are acknowledged at its end, at the last block, or on a gap.
void CTransferSocket::HandleData(quint16 block, const char* packet, qint64 size) {
    const int distance = blockDistance(block, m_nBlock);
    if (distance < -1)
        return;
    // Inside a window an ACK sends the sender back: only a sender that timed out (later
    // than the network's copy of a block could come) is told again where we are.
    if (distance == -1 && m_nWindowSize > 1 &&
        m_pEngine->Platform().timers().elapsedMs() - m_nLastSendMs < kEchoGuardMs)
        return;
    if (distance > 0 && m_nWindowSize > 1) {
        // A block went missing: say once where we are, and the sender goes on from there.
        if (!m_bGapAcked) {
            m_bGapAcked = true;
            m_nUnacked = 0;
            m_nLastAcked = quint16(m_nBlock - 1);
            TransmitAck(m_nLastAcked);
        }
        return;
    }
    StopTimer();
    if (distance == 0) {
        m_nRetry = 0;
        m_bGapAcked = false;
        WriteData(packet, size);
        if (m_phase != Phase::InProgress && m_phase != Phase::Complete)
            return;
        if (m_phase == Phase::Complete || ++m_nUnacked >= m_nWindowSize) {
            SendAck();
        } else {
            ++m_nBlock; // taken, acknowledged with the window
            m_nLastSendMs = m_pEngine->Platform().timers().elapsedMs();
            StartTimer();
        }
    } else if (distance == -1) {
        m_strInfo = QStringLiteral("Duplicated DATA!");
        RefreshRow();
        ++m_nRetry;
        SendAck();
    } else {
        Fail(QStringLiteral("Error: Receive DATA Block Number is greater than normal case!!"), 4);
    }
}

void CTransferSocket::OnTimer() {
    StopTimer();
    if (m_phase == Phase::Complete && m_nDirection == Receive) {
        CloseSocket(); // the client had its chance to repeat the last block
        return;
    }
    if (!IsLive())
        return;
    ++m_nRetry;
    if (m_bOackPending)
        SendOack();
    else if (m_nDirection == Send)
        Resend(false);
    else
        SendAck();
}

void CTransferSocket::RepeatLastPacket() {
    if (m_bOackPending)
        Transmit(m_oack.constData(), m_oack.size());
    else if (m_nDirection == Send && m_nOutLength > 0)
        Transmit(m_outPacket.constData(), m_nOutLength);
    else if (m_nDirection == Receive)
        TransmitAck(m_nLastAcked);
}

// ---------------------------------------------------------------- sending

// Sends the window: in lock-step one block, the next one.
void CTransferSocket::SendData() {
    ReadTimeOut();
    if (m_outPacket.size() < 4 + m_nBlockSize)
        m_outPacket.resize(4 + m_nBlockSize);
    StartTimer();
    while (quint16(m_nBlock - 1 - m_nBase) < m_nWindowSize) {
        const qint64 n = SendBlock();
        if (n < 0)
            return FailOnFileError(m_file->error());
        if (n < m_nBlockSize)
            break; // the last block
    }
}

// Reads and sends block m_nBlock; returns its data size, or -1 when the read failed.
qint64 CTransferSocket::SendBlock() {
    const qint64 n = m_file->readAt(m_outPacket.data() + 4, m_nBlockSize, m_nBytesSent);
    if (n < 0)
        return -1;
    Tftp::PutHeader(m_outPacket.data(), Tftp::DATA, m_nBlock);
    if (blockDistance(m_nBlock, m_nSentTop) > 0)
        m_nSentTop = m_nBlock;
    m_nOutLength = int(n) + 4;
    Transmit(m_outPacket.constData(), m_nOutLength);
    m_nLastSendMs = m_pEngine->Platform().timers().elapsedMs();
    ++m_nBlock;
    m_pEngine->Window().DrawProgress(m_rowHandle, m_nBytesSent, m_nFileSize);
    m_nBytesSent += n;
    if (!m_bRowShown && !m_bSendDone) {
        // Formatted only when the row is rewritten, not at every block; a window sent
        // again after the last block leaves "Transfer Complete".
        m_strInfo = QStringLiteral("Total file size is %1 Bytes").arg(m_nFileSize) + m_strOptionNote;
        RefreshRow();
        m_bRowShown = true;
    }
    if (n < m_nBlockSize && !m_bSendDone)
        CompleteSend();
    return n;
}

// After a time-out or a duplicate ACK: the blocks from the last one acknowledged on.
// In lock-step that is the one block in flight, still in m_outPacket (the file may be
// closed by then). After a time-out only the first of a window goes again (RFC 7440
// allows it) until the client answers: a silent client costs one block per time-out.
void CTransferSocket::Resend(bool wholeWindow) {
    ReadTimeOut();
    if (m_nRetry > 5) {
        if (m_bSendDone && !m_oack.isEmpty()) {
            // Some clients never acknowledge the last block: it was sent, so is the file.
            Finish();
            return;
        }
        return Fail(kNotResponding, 0, "Client not responding");
    }
    m_bRowShown = false;
    if (m_nWindowSize == 1) {
        StartTimer();
        Transmit(m_outPacket.constData(), m_nOutLength);
        m_nLastSendMs = m_pEngine->Platform().timers().elapsedMs();
        return;
    }
    m_nBlock = quint16(m_nBase + 1);
    m_nBytesSent = m_nAckedBytes;
    if (wholeWindow)
        return SendData();
    StartTimer();
    if (SendBlock() < 0)
        FailOnFileError(m_file->error());
}

// Complete when the last block is sent; the timer keeps running for its ACK. A window
// may still have to be sent again, so the file stays open until the end then.
void CTransferSocket::CompleteSend() {
    if (m_nWindowSize == 1)
        CloseFile();
    m_phase = Phase::Complete;
    m_bSendDone = true;
    m_nFinalBlock = quint16(m_nBlock - 1);
    m_bRowShown = false;
    m_strInfo = QStringLiteral("Transfer Complete") + m_strOptionNote;
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
    if (size >= 4 + m_nBlockSize) {
        m_pEngine->Window().DrawProgress(m_rowHandle, m_nBytesReceived, m_nClientSize);
        return;
    }
    CompleteReceive();
}

void CTransferSocket::CompleteReceive() {
    FileError error;
    if (!m_file->keep(&error))
        return FailOnFileError(error);
    CloseFile();
    m_bAwaitingData = false;
    m_bReceiveDone = true;
    m_phase = Phase::Complete;
    m_strInfo = QStringLiteral("Receive Complete") + m_strOptionNote;
    m_strSize = bytesText(m_nBytesReceived);
    m_nRowState = ROW_RECEIVED;
    RefreshRow();
    m_pEngine->PlaySound(SOUND_RECEIVED);
    CountOutOnce();
    m_pEngine->FreeClientSlot(this);
}

void CTransferSocket::SendAck() {
    ReadTimeOut();
    m_nUnacked = 0;
    m_nLastSendMs = m_pEngine->Platform().timers().elapsedMs();
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
        // The last block taken in order: with a window, more than the last ACK said.
        StartTimer();
        m_nLastAcked = quint16(m_nBlock - 1);
        TransmitAck(m_nLastAcked);
    } else {
        Fail(kNotResponding, 0, "Client not responding");
    }
}

// ---------------------------------------------------------------- ends

// A partly received file is only ever the temporary file, which CloseFile removes.
void CTransferSocket::Fail(const QString& text, int errorCode, const char* errorText) {
    m_strInfo = text;
    m_nRowState = ROW_FAILED;
    RefreshRow();
    if (errorCode >= 0)
        SendError(errorCode, errorText);
    m_phase = Phase::Failed;
    Finish();
    m_pEngine->PlaySound(SOUND_FAILED);
    CountOutOnce();
}

// A read or write that failed after the open ends the transfer on its row.
void CTransferSocket::FailOnFileError(const FileError& error) {
    if (error.cause == FileCause::DiskFull)
        Fail(QStringLiteral("Error: Disk Full!!"), 3);
    else
        Fail(QStringLiteral("Error: ") + error.text, 0);
}

void CTransferSocket::Abort() {
    SendError(0);
    StopTimer();
    m_strInfo = QStringLiteral("User aborts!!");
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

void CTransferSocket::SendShutdownError() { SendError(0, "Server shutting down"); }

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

// Closes the file and gives up its place in the share table. A temporary file that
// was not kept vanishes with it.
void CTransferSocket::CloseFile() {
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (!m_strSharedPath.isEmpty()) {
        m_pEngine->ShareTable().Release(m_strSharedPath, m_shareUse);
        m_strSharedPath.clear();
    }
}

// The port and the file are done with.
void CTransferSocket::Finish() {
    CloseSocket();
    CloseFile();
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
    m_nTimeOut = m_nOptionTimeOut > 0 ? m_nOptionTimeOut : m_pEngine->Settings().timeOut;
}

// A time-out of 0 or below runs with one second.
void CTransferSocket::StartTimer() {
    const qint64 ms = m_nTimeOut > 0 ? qint64(m_nTimeOut) * 1000 : 1000;
    m_pEngine->Platform().timers().start(m_nPort, int(std::min<qint64>(ms, INT_MAX)));
}

void CTransferSocket::SendError(int code, const char* text) {
    const QByteArray packet = Tftp::MakeError(code, text);
    Transmit(packet.constData(), packet.size());
}

void CTransferSocket::StopTimer() { m_pEngine->Platform().timers().stop(m_nPort); }

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
