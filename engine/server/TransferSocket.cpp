#include "engine/server/TransferSocket.h"

#include "engine/server/Admission.h"
#include "engine/tftp/Netascii.h"
#include "engine/tftp/Options.h"
#include "engine/platform/NormalAddress.h"
#include "engine/tftp/ReceiveExchange.h"
#include "engine/tftp/SendExchange.h"
#include "engine/server/ServerEngine.h"

#include <QFile>
#include <QStringBuilder>
#include <algorithm>
#include <cstring>

namespace {
QString bytesText(qint64 n) { return QString::number(n) % QStringLiteral(" Bytes"); }

// "blksize 1428, tsize 0": options as the details show them; the client's own bytes
// made printable.
QString optionsText(const Tftp::OptionList& options) {
    QStringList parts;
    for (const auto& [name, value] : options)
        parts.append(Tftp::Printable(QString::fromLatin1(name.left(64) + ' ' + value.left(64))));
    return parts.join(QStringLiteral(", "));
}

const QString kNotResponding = QStringLiteral("Client Not Responding!! Connection Closed!!");
const char kAborted[] = "Transfer aborted by the server";
} // namespace

CTransferSocket::CTransferSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket,
                                 TransferRequest&& request, quint16 port)
    : m_pEngine(engine), m_socket(std::move(socket)), m_clientAddr(request.client),
      m_nClientPort(request.clientPort), m_nDirection(request.opcode),
      m_strService(request.opcode == Tftp::RRQ ? QStringLiteral("Send") : QStringLiteral("Receive")),
      m_bOverWrite(request.overWrite), m_bReadOnly(request.readOnly), m_szFileName(request.fileName),
      m_strFile(QFile::decodeName(request.askedNote.isEmpty() ? request.fileName : request.path.name)),
      m_strAskedNote(request.askedNote), m_szPath(request.path),
      m_bOctet(request.octet), m_strClient(request.clientText.isEmpty() ? request.client.toString() : request.clientText),
      m_bUnsafePath(request.refusePath), m_strMissingFolder(request.missingFolder), m_nPort(port),
      m_askedOptions(request.options), m_bSharesListener(request.singlePort),
      m_lookedUp(std::move(request.file)) {
    m_socket->onDatagram = [this](const char* packet, qint64 size, const QHostAddress& from,
                                  quint16 fromPort, const QHostAddress&) {
        OnReceive(packet, size, from, fromPort);
    };
}

CTransferSocket::~CTransferSocket() {
    if (m_file)
        CloseFile();
}

RowTexts CTransferSocket::Texts() const {
    RowTexts texts{m_strClient, m_strFile, m_nRowBytes >= 0 ? bytesText(m_nRowBytes) : QString(),
                   m_strService, m_strInfo + m_strAskedNote};
    texts.missingFile = m_bMissingFile;
    texts.bytes = m_nRowBytes;
    return texts;
}

bool CTransferSocket::IsLive() const {
    return !m_bSocketClosed && (m_phase == Phase::InProgress || m_phase == Phase::Complete);
}

SharedPort::Live CTransferSocket::SharedLive() const {
    if (!IsLive())
        return SharedPort::Live::None;
    if (!m_bClientSpoke)
        return SharedPort::Live::Unanswered;
    return m_phase == Phase::Complete ? SharedPort::Live::Ended : SharedPort::Live::Running;
}

bool CTransferSocket::Matches(const QHostAddress& addr, quint16 port, quint16 opcode,
                              const QByteArray& name) const {
    return m_nClientPort == port && m_nDirection == opcode && m_szFileName == name &&
           m_clientAddr == addr;
}

// ---------------------------------------------------------------- start

void CTransferSocket::StartTransfer() {
    m_nRowBytes = -1;
    CServerEngine& e = *m_pEngine;
    m_nStartMs = e.Platform().timers().elapsedMs();
    const Admission admission = e.admission();
    const bool send = m_nDirection == Send;

    Refusal why = admission.Client(m_clientAddr);
    if (why == Refusal::None)
        why = Admission::ForName(m_szFileName);
    if (why == Refusal::None)
        why = send ? admission.Read(m_szFileName) : admission.Write();
    if (why == Refusal::None)
        why = Admission::ForPath(m_bUnsafePath, m_strMissingFolder);
    if (why == Refusal::None && !send)
        why = Admission::ForBootFile(e.m_decidesBoot && e.m_decidesBoot(m_szPath.name));
    // An ISO image's members are served from the image as it is: nothing writes into one.
    if (why == Refusal::None && !send && e.RequestPaths().InsideImage(m_szPath))
        why = Admission::ForFile(FileCause::AccessDenied, true);
    if (why != Refusal::None) {
        m_lookedUp.reset();
        return Refuse(why, why == Refusal::MissingFolder ? m_strMissingFolder : QString());
    }

    if (send) {
        FileError error;
        if (!OpenForSending(&error))
            return RefuseOnFileError(error);
        WrapForNetascii();
        m_nFileSize = m_file->size();
        Negotiate();
        CountIn();
        return StartExchange();
    }

    FileError error;
    if (!m_bOverWrite) {
        const FileError probe = m_pEngine->ShareTable().IsHeld(
                                    m_pEngine->Platform().files().canonical(m_szPath))
                                    ? FileError{FileCause::Other, QString()}
                                    : m_pEngine->Platform().files().probeExisting(m_szPath);
        if (const Refusal why = Admission::ForUpload(probe.cause, false); why != Refusal::None)
            return Refuse(why);
    }
    if (!Negotiate())
        return Refuse(Refusal::DiskFull); // tsize beyond the free space
    if (!OpenForReceiving(&error))
        return RefuseOnFileError(error);
    WrapForNetascii();
    CountIn();
    StartExchange();
}

// The options taken, by the one rule for them; a write's announced size must fit the
// free space, or the upload is refused before a byte is written.
bool CTransferSocket::Negotiate() {
    const EngineSettings& settings = m_pEngine->Settings();
    const Tftp::OptionLimits limits{settings.negotiate, settings.maxBlockSize,
                                    settings.maxWindowSize,
                                    m_clientAddr.protocol() == QAbstractSocket::IPv6Protocol};
    const bool send = m_nDirection == Send;
    const Tftp::Negotiated n =
        Tftp::Negotiate(m_askedOptions, limits, send ? Tftp::RRQ : Tftp::WRQ,
                        send && !m_bNetascii ? m_nFileSize : -1);
    if (n.clientSize >= 0) {
        const qint64 free = m_pEngine->Platform().files().freeSpace(m_szPath);
        if (free >= 0 && n.clientSize > free)
            return false;
    }
    m_nBlockSize = n.blockSize;
    m_nWindowSize = n.windowSize;
    m_nOptionTimeOut = n.timeOut;
    m_bSizeTold = n.sizeTold;
    m_nClientSize = n.clientSize;
    if (n.oack.isEmpty())
        return true;
    m_oack = Tftp::MakeOack(n.oack);
    m_givenOptions = n.oack;
    if (m_nBlockSize != Tftp::kBlockSize || m_nWindowSize != 1)
        m_strOptionNote = QStringLiteral(" (blksize %1, windowsize %2)")
                              .arg(m_nBlockSize)
                              .arg(m_nWindowSize);
    return true;
}

void CTransferSocket::StartExchange() {
    const Exchange::Shape shape{m_nBlockSize, m_nWindowSize, m_nOptionTimeOut, !m_oack.isEmpty()};
    if (m_nDirection == Send) {
        auto read = [this](char* data, qint64 maxSize, qint64 offset) {
            return m_file->readAt(data, maxSize, offset);
        };
        m_exchange = std::make_unique<CSendExchange>(shape, read, m_nFileSize, m_bSizeTold);
    } else {
        m_exchange = std::make_unique<CReceiveExchange>(shape);
    }
    TellDetails(false);
    Carry(m_exchange->Start(Now()));
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
        m_nRowBytes = m_nFileSize;
    m_nRowState = ROW_SENT;
    RefreshRow();
    TellDetails(true);
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
    QString key;
    m_file = m_pEngine->OpenSharedForReading(m_szPath, error, &key, std::move(m_lookedUp));
    if (!m_file)
        return false;
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
    m_bReplacing = probe.cause == FileCause::None;
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

void CTransferSocket::RefuseOnFileError(const FileError& error) {
    Refusal why = Admission::ForFile(error.cause, m_nDirection != Send);
    // What a Secure Boot chain probes and may lack is no failure: the client still
    // hears "not found", the row stays neutral and silent.
    if (why == Refusal::NotFound && m_nDirection == Send && m_pEngine->IsOptionalProbe(m_szFileName))
        why = Refusal::OptionalMissing;
    m_bMissingFile = m_nDirection == Send && RefusalFor(why).missingFile;
    Refuse(why);
}

void CTransferSocket::Refuse(Refusal why, const QString& detail) {
    const RefusalEntry& entry = RefusalFor(why);
    const bool failure = why != Refusal::OptionalMissing;
    m_strInfo = RefusalRow(why, detail);
    m_nRowState = failure ? ROW_FAILED : ROW_NOTED;
    RefreshRow();
    TellDetails(true);
    SendError(entry.tftpCode, entry.wireText);
    if (failure && (!m_bMissingFile || !m_pEngine->Settings().hideMissingFiles))
        m_pEngine->PlaySound(SOUND_FAILED);
    m_phase = Phase::Refused;
    CloseSocket();
}

// ---------------------------------------------------------------- events

void CTransferSocket::OnReceive(const char* packet, qint64 size, const QHostAddress& from,
                                quint16 fromPort) {
    if (m_bSocketClosed)
        return;
    // A negotiated block may be up to 64 KiB; anything longer than the block is cut.
    const qint64 n =
        std::min<qint64>(size, std::max<qint64>(Tftp::kTransferBuffer, 4 + m_nBlockSize));
    if (fromPort != m_nClientPort || NormalAddress(from) != m_clientAddr)
        return m_pEngine->TellStranger(*m_socket, packet, n, from, fromPort);
    HandleDatagram(packet, n);
}

void CTransferSocket::HandleDatagram(const char* packet, qint64 size) {
    // A stray packet must not stall the transfer: it leaves the timer running.
    if (size < 4 || !m_exchange)
        return;
    const quint16 opcode = Tftp::Get16(packet);
    if (opcode != Tftp::DATA && opcode != Tftp::ACK && opcode != Tftp::ERROR)
        return;
    m_bClientSpoke = true;
    Carry(m_exchange->OnDatagram(packet, size, Now()), packet, size);
}

void CTransferSocket::OnTimer() {
    StopTimer();
    if (!IsLive() || !m_exchange)
        return;
    ++m_nTimeOuts;
    Carry(m_exchange->OnTimeout(Now()));
}

// A request repeated right after our answer is the network's copy, not the client's
// retransmission: a second OACK would make some clients (atftp) give up the transfer.
void CTransferSocket::RepeatLastPacket() {
    if (m_pEngine->Platform().timers().elapsedMs() - m_nLastTransmitMs <
        Exchange::CExchange::kEchoGuardMs)
        return;
    if (m_exchange)
        Carry(m_exchange->Repeat());
}

Exchange::Now CTransferSocket::Now() const {
    return {m_pEngine->Platform().timers().elapsedMs(), [this] { return m_pEngine->Settings().timeOut; }};
}

qint64 CTransferSocket::NowMs() { return m_pEngine->Platform().timers().elapsedMs(); }

void CTransferSocket::ShowNote(Exchange::Note note, int retry) {
    switch (note) {
    case Exchange::Note::None: return;
    case Exchange::Note::Receiving:
        m_strInfo = QStringLiteral("Data Receiving....") + m_strOptionNote;
        break;
    case Exchange::Note::DuplicatedAck: m_strInfo = QStringLiteral("Duplicated ACK!"); break;
    case Exchange::Note::DuplicatedData: m_strInfo = QStringLiteral("Duplicated DATA!"); break;
    case Exchange::Note::Waiting:
        m_strInfo = QStringLiteral("waiting for the client (retry %1 of %2)")
                        .arg(retry)
                        .arg(Exchange::CExchange::kMaxRetries + 1);
        break;
    }
    RefreshRow();
}

void CTransferSocket::BlockFailed(const Exchange::Block& b) {
    if (b.readFailed)
        FailOnFileError(m_file->error());
    else
        Fail(QString::fromLatin1(kFileChanged), 0, kFileChanged);
}

void CTransferSocket::BlockSent(const Exchange::Block& b) {
    // What the client holds, never less than shown before: no progress goes back.
    m_nShownBytes = std::max(m_nShownBytes, std::min(b.acked, m_nFileSize));
    m_pEngine->Window().DrawProgress(m_rowHandle, m_nShownBytes, m_nFileSize);
    m_nBytesSent = b.offset + b.size - 4;
    if (!m_bRowShown && m_phase != Phase::Complete) {
        // Formatted only when the row is rewritten, not at every block; a window sent
        // again after the last block leaves "Transfer Complete".
        m_strInfo = QStringLiteral("Total file size is ") % QString::number(m_nFileSize) %
                    QStringLiteral(" Bytes") % m_strOptionNote;
        RefreshRow();
        m_bRowShown = true;
    }
    if (b.last)
        CompleteSend();
}

void CTransferSocket::Ended(Exchange::End end, quint16 clientCode, const char* packet, qint64 size) {
    switch (end) {
    case Exchange::End::None: return;
    case Exchange::End::Finished: return Finish();
    case Exchange::End::ClientHasAll:
        if (m_phase != Phase::Complete)
            CompleteSend(); // the empty last block was never asked for
        return Finish();
    case Exchange::End::ProbeAnswered: return EndProbe();
    case Exchange::End::Lingered: return CloseSocket();
    case Exchange::End::NotResponding: return Fail(kNotResponding, 0, "Client not responding");
    case Exchange::End::AckTooFar:
        return Fail(QStringLiteral("Error: Receive ACK Block Number is greater than normal case!!"), 4);
    case Exchange::End::DataTooFar:
        return Fail(QStringLiteral("Error: Receive DATA Block Number is greater than normal case!!"), 4);
    case Exchange::End::ClientError: {
        QString text = Tftp::ClientErrorText(clientCode);
        if (clientCode == 0 && packet)
            text += ClientWords(packet + 4, size - 4);
        return Fail(text, -1); // never answered
    }
    }
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

// ---------------------------------------------------------------- sending

// Complete when the last block is sent; the timer keeps running for its ACK. A window
// may still have to be sent again, so the file stays open until the end then.
void CTransferSocket::CompleteSend() {
    if (m_nWindowSize == 1)
        CloseFile();
    m_phase = Phase::Complete;
    m_bRowShown = false;
    m_strInfo = QStringLiteral("Transfer Complete") + m_strOptionNote;
    m_nRowBytes = m_nBytesSent;
    m_nRowState = ROW_SENT;
    RefreshRow();
    TellDetails(true);
    m_pEngine->PlaySound(SOUND_SENT);
    CountOutOnce();
}

// ---------------------------------------------------------------- receiving

bool CTransferSocket::Write(const char* data, qint64 size, bool last) {
    if (size > 0 && m_file->write(data, size) != size) {
        FailOnFileError(m_file->error());
        return false;
    }
    m_nBytesReceived += size;
    if (!last) {
        m_pEngine->Window().DrawProgress(m_rowHandle, m_nBytesReceived, m_nClientSize);
        return true;
    }
    return CompleteReceive();
}

bool CTransferSocket::CompleteReceive() {
    FileError error;
    if (!m_file->keep(&error)) {
        FailOnFileError(error);
        return false;
    }
    CloseFile();
    m_phase = Phase::Complete;
    m_strInfo = QStringLiteral("Receive Complete") + m_strOptionNote;
    if (m_bReplacing)
        m_strInfo += QStringLiteral(" (replaced)");
    m_nRowBytes = m_nBytesReceived;
    m_nRowState = ROW_RECEIVED;
    RefreshRow();
    TellDetails(true);
    m_pEngine->PlaySound(SOUND_RECEIVED);
    CountOutOnce();
    m_pEngine->FreeClientSlot(this);
    return true;
}

// ---------------------------------------------------------------- ends

// A partly received file is only ever the temporary file, which CloseFile removes.
void CTransferSocket::Fail(const QString& text, int errorCode, const char* errorText) {
    m_strInfo = text;
    m_nRowState = ROW_FAILED;
    RefreshRow();
    TellDetails(true);
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
        Fail(RefusalRow(Refusal::DiskFull), RefusalFor(Refusal::DiskFull).tftpCode);
    else
        Fail(QStringLiteral("Error: ") + error.text, 0);
}

// The row keeps the size and how far the transfer got: a file sent, from what the client
// acknowledged; an upload, from what arrived, of what it announced.
void CTransferSocket::Abort() {
    SendError(0, kAborted);
    StopTimer();
    const bool send = m_nDirection == Send;
    const qint64 done = send ? m_nShownBytes : m_nBytesReceived;
    const qint64 total = send ? m_nFileSize : m_nClientSize;
    m_strInfo = QStringLiteral("User aborts!!") +
                (total >= 0 ? QStringLiteral(" (at %1 of %2 Bytes)").arg(done).arg(total)
                            : QStringLiteral(" (at %1 Bytes)").arg(done));
    m_nRowBytes = total >= 0 ? total : done;
    CloseFile();
    m_nRowState = ROW_FAILED;
    RefreshRow();
    TellDetails(true);
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

void CTransferSocket::Supersede() {
    if (m_phase == Phase::InProgress)
        return Fail(QStringLiteral("Replaced by the client's next request"), -1);
    Discard();
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
        const int fd = m_file->releaseDescriptor();
        if (fd >= 0)
            m_pEngine->Platform().closeDescriptor(fd);
        else
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

void CTransferSocket::TellDetails(bool end) {
    // Told again only when the end turned (a sent file whose last ACK never came).
    if (m_nToldEnd == m_nRowState)
        return;
    const qint64 now = m_pEngine->Platform().timers().elapsedMs();
    if (m_nStartMs < 0)
        m_nStartMs = now;
    std::shared_ptr<RowDetails> d;
    if (m_details) {
        d = std::make_shared<RowDetails>(*m_details);
    } else {
        d = std::make_shared<RowDetails>();
        d->client = m_strClient;
        d->clientPort = m_nClientPort;
        d->ourPort = m_nPort;
        d->asked = Tftp::Printable(QString::fromLatin1(m_szFileName.left(512)));
        d->found = Tftp::Printable(QFile::decodeName(m_szPath.name));
        d->optionsAsked = optionsText(m_askedOptions);
    }
    d->ended = end;
    d->optionsGiven = optionsText(m_givenOptions);
    d->blocks = -1;
    if (m_exchange) {
        // The short block that ends a file counts, an empty one too.
        const qint64 bytes = m_nDirection == Send ? m_nBytesSent : m_nBytesReceived;
        const bool complete = m_phase == Phase::Complete || m_nRowState == ROW_SENT ||
                              m_nRowState == ROW_RECEIVED;
        d->blocks = bytes / m_nBlockSize + ((complete || bytes % m_nBlockSize) ? 1 : 0);
    }
    d->retries = m_nResends;
    d->timeOuts = m_nTimeOuts;
    d->startMs = m_nStartMs;
    d->endMs = -1;
    d->failure.clear();
    if (end) {
        m_nToldEnd = m_nRowState;
        d->endMs = now;
        if (m_nRowState == ROW_FAILED)
            d->failure = m_strInfo;
    }
    m_details = d;
    m_pEngine->Window().ShowSharedDetails(m_rowHandle, std::move(d));
}

void CTransferSocket::StartTimer(int ms) { m_pEngine->Platform().timers().start(m_nPort, ms); }

void CTransferSocket::SendError(int code, const char* text) {
    const QByteArray packet = Tftp::MakeError(code, text);
    Transmit(packet.constData(), packet.size());
}

void CTransferSocket::StopTimer() { m_pEngine->Platform().timers().stop(m_nPort); }

void CTransferSocket::Transmit(const char* data, qint64 size) {
    if (m_bSocketClosed)
        return;
    m_socket->writeDatagram(data, size, m_clientAddr, m_nClientPort);
    m_nLastTransmitMs = m_pEngine->Platform().timers().elapsedMs();
}
