#include "engine/client/ClientTransfer.h"

#include "engine/platform/NormalAddress.h"
#include "engine/tftp/Netascii.h"
#include "engine/tftp/ReceiveExchange.h"
#include "engine/tftp/SendExchange.h"
#include "engine/tftp/TftpPacket.h"

#include <algorithm>
#include <cstring>

namespace {
// The request and five resends, as an exchange resends its packets, unless --wait.
constexpr int kRequestTries = 6;
constexpr int kWaitResendMs = 1000;
} // namespace

CClientTransfer::CClientTransfer(IPlatform& platform, int timerId, const TftpClient::Request& request,
                                 Report report)
    : m_platform(platform), m_nTimerId(timerId), m_request(request), m_report(std::move(report)),
      m_server(NormalAddress(request.server)) {}

CClientTransfer::~CClientTransfer() {
    if (!m_bOver)
        Discard();
}

Exchange::Now CClientTransfer::Now() const {
    return {m_platform.timers().elapsedMs(), [this] { return m_request.timeOut; }};
}

// ---------------------------------------------------------------- start

bool CClientTransfer::Start(QString* error) {
    IFileSystem& files = m_platform.files();
    FileError fileError;
    if (m_request.put) {
        m_file = files.openRead(m_request.local, &fileError);
        if (m_file) {
            m_nFileSize = m_file->size();
            m_nTotal = m_nFileSize;
            if (m_request.netascii)
                m_file = std::make_unique<Netascii::CEncodingFile>(std::move(m_file));
        }
    } else {
        // The fetch goes to a file without a name until its last block: a failed one
        // leaves nothing, and an existing file stays as it was.
        m_file = files.createTemp(m_request.local, &fileError);
        if (m_file && m_request.netascii)
            m_file = std::make_unique<Netascii::CDecodingFile>(std::move(m_file));
        m_nLimit = m_request.maxBytes > 0 ? m_request.maxBytes : TftpClient::kDefaultMaxBytes;
        const qint64 free = files.freeSpace(m_request.local);
        if (free >= 0 && free < m_nLimit) {
            m_nLimit = free;
            m_bLimitIsDisk = true;
        }
    }
    if (!m_file) {
        *error = fileError.text.isEmpty() ? QStringLiteral("cannot open the file") : fileError.text;
        return false;
    }
    const bool v6 = m_server.protocol() == QAbstractSocket::IPv6Protocol;
    m_socket = m_platform.bindUdp(QHostAddress(v6 ? QHostAddress::AnyIPv6 : QHostAddress::AnyIPv4),
                                  0, SocketOptions{}, error);
    if (!m_socket) {
        m_file->close();
        m_file.reset();
        return false;
    }
    m_socket->onDatagram = [this](const char* packet, qint64 size, const QHostAddress& from,
                                  quint16 fromPort, const QHostAddress&) {
        OnDatagram(packet, size, from, fromPort);
    };
    m_requestPacket = TftpClient::MakeRequest(m_request, m_request.netascii ? -1 : m_nFileSize);
    m_nStartMs = m_platform.timers().elapsedMs();
    SendRequest();
    return true;
}

void CClientTransfer::SendRequest() {
    ++m_nRequests;
    m_socket->writeDatagram(m_requestPacket.constData(), m_requestPacket.size(), m_server,
                            m_request.port);
    m_platform.timers().start(m_nTimerId, m_request.waitSeconds > 0
                                              ? kWaitResendMs
                                              : std::max(1, m_request.timeOut) * 1000);
}

// ---------------------------------------------------------------- events

void CClientTransfer::OnTimer() {
    m_platform.timers().stop(m_nTimerId);
    if (m_bOver)
        return;
    if (m_exchange)
        return Carry(m_exchange->OnTimeout(Now()));
    // Still no answer to the request.
    const qint64 waited = m_platform.timers().elapsedMs() - m_nStartMs;
    if (m_request.waitSeconds > 0 ? waited >= qint64(m_request.waitSeconds) * 1000
                                  : m_nRequests >= kRequestTries)
        return Fail(Outcome::NoAnswer);
    if (m_request.waitSeconds > 0 && m_nRequests == 1 && m_report.waiting)
        m_report.waiting();
    if (m_request.waitSeconds > 0 && m_report.stillWaiting)
        m_report.stillWaiting(int((qint64(m_request.waitSeconds) * 1000 - waited + 999) / 1000));
    SendRequest();
}

void CClientTransfer::OnDatagram(const char* packet, qint64 size, const QHostAddress& from,
                                 quint16 fromPort) {
    // Every packet has 4 bytes at least, but an OACK that takes no option.
    if (m_bOver || size < 2 || (size < 4 && Tftp::Get16(packet) != Tftp::OACK))
        return;
    const quint16 opcode = Tftp::Get16(packet);
    const bool fromServer = NormalAddress(from) == m_server;
    if (m_nServerPort == 0 && fromServer && fromPort != 0) {
        // The first answer names the server's transfer port (RFC 1350's TID).
        m_nServerPort = fromPort;
        return OnFirstAnswer(packet, size);
    }
    if (!fromServer || fromPort != m_nServerPort) {
        // Someone else's packet: tell them, at most once a second, never an ERROR.
        const qint64 now = m_platform.timers().elapsedMs();
        if (opcode != Tftp::ERROR && fromPort != 0 &&
            (m_nStrangerMs < 0 || now - m_nStrangerMs >= 1000)) {
            m_nStrangerMs = now;
            const QByteArray error = Tftp::MakeError(5);
            m_socket->writeDatagram(error.constData(), error.size(), from, fromPort);
        }
        return;
    }
    if (opcode == Tftp::OACK) {
        // Our ACK 0 was lost and the OACK came again: a fetch answers it again; a
        // send's DATA 1 goes again at its own time-out.
        if (!m_request.put)
            Carry(m_exchange->Repeat());
        return;
    }
    if (opcode == Tftp::DATA && size > 4 + m_nBlockSize)
        return RefuseOversize(size);
    if (opcode == Tftp::DATA || opcode == Tftp::ACK || opcode == Tftp::ERROR)
        Carry(m_exchange->OnDatagram(packet, size, Now()), packet, size);
}

void CClientTransfer::OnFirstAnswer(const char* packet, qint64 size) {
    m_platform.timers().stop(m_nTimerId);
    const quint16 opcode = Tftp::Get16(packet);
    if (opcode == Tftp::ERROR)
        return FailServer(Tftp::Get16(packet + 2), packet + 4, size - 4);
    if (opcode == Tftp::OACK) {
        const TftpClient::Negotiated n = TftpClient::CheckOack(m_request, packet, size);
        if (!n.ok) {
            SendError(8, "Option negotiation refused");
            return Fail(Outcome::Failed,
                        QStringLiteral("the device's option answer was refused: ") + n.why);
        }
        m_nBlockSize = n.blockSize;
        m_nWindowSize = n.windowSize;
        if (!m_request.put && n.size >= 0) {
            m_nTotal = n.size;
            // Told more than will be taken: refused before the first block.
            if (n.size > m_nLimit) {
                SendError(3);
                return Fail(Outcome::Failed, OverLimitText(n.size));
            }
        }
        return StartExchange(true);
    }
    // A server that ignores options answers in plain lock-step: a fetch's DATA 1, a
    // send's ACK 0.
    if (m_request.put && opcode == Tftp::ACK && Tftp::Get16(packet + 2) == 0)
        return StartExchange(false);
    if (!m_request.put && opcode == Tftp::DATA) {
        if (size > 4 + m_nBlockSize)
            return RefuseOversize(size);
        StartExchange(false);
        if (!m_bOver)
            Carry(m_exchange->OnDatagram(packet, size, Now()), packet, size);
        return;
    }
    SendError(4);
    Fail(Outcome::Failed, QStringLiteral("the device answered the request with opcode %1").arg(opcode));
}

// The OACK stands for the server's ACK 0 of a send; a fetch acknowledges it with ACK 0.
void CClientTransfer::StartExchange(bool afterOack) {
    const Exchange::Shape shape{m_nBlockSize, m_nWindowSize, 0, false};
    if (m_report.answered)
        m_report.answered();
    if (m_request.put) {
        auto read = [this](char* data, qint64 maxSize, qint64 offset) {
            return m_file->readAt(data, maxSize, offset);
        };
        m_exchange = std::make_unique<CSendExchange>(shape, read, m_nFileSize, false);
        return Carry(m_exchange->Start(Now()));
    }
    auto receive = std::make_unique<CReceiveExchange>(shape);
    CReceiveExchange* exchange = receive.get();
    m_exchange = std::move(receive);
    if (afterOack)
        return Carry(m_exchange->Start(Now()));
    exchange->StartAfterRequest(Now());
}

// ---------------------------------------------------------------- actions

// A device that never stops, or sends other than it told, is not followed.
bool CClientTransfer::Write(const char* data, qint64 size, bool last) {
    if (m_nBytes + size > m_nLimit || (TsizeBinds() && m_nBytes + size > m_nTotal)) {
        SendError(m_nBytes + size > m_nLimit ? 3 : 0);
        Fail(Outcome::Failed, OverLimitText(m_nBytes + size));
        return false;
    }
    if (last && TsizeBinds() && m_nBytes + size != m_nTotal) {
        SendError(0, "Fewer bytes than the size told");
        Fail(Outcome::Failed, QStringLiteral("the device sent %1 bytes, not the %2 it told "
                                             "(tsize): the file is left out")
                                  .arg(m_nBytes + size)
                                  .arg(m_nTotal));
        return false;
    }
    if (size > 0 && m_file->write(data, size) != size) {
        SendError(last ? 0 : 3);
        Fail(Outcome::Failed, m_file->error().text);
        return false;
    }
    m_nBytes += size;
    if (m_report.progress)
        m_report.progress(m_nBytes, m_nTotal);
    if (last) {
        FileError error;
        if (!m_file->keep(&error)) {
            SendError(0);
            Fail(Outcome::Failed, error.text);
            return false;
        }
        m_file->close();
        m_file.reset();
        Complete();
    }
    return true;
}

void CClientTransfer::BlockSent(const Exchange::Block& b) {
    m_nBytes = b.offset + b.size - 4;
    if (m_report.progress)
        m_report.progress(m_nBytes, m_nTotal);
}

// A send tells no size, so only a read can fail.
void CClientTransfer::BlockFailed(const Exchange::Block&) {
    SendError(0);
    Fail(Outcome::Failed, m_file->error().text);
}

void CClientTransfer::Ended(Exchange::End end, quint16 code, const char* packet, qint64 size) {
    switch (end) {
    case Exchange::End::None: return;
    case Exchange::End::Finished: // the last block of a send acknowledged
    case Exchange::End::ClientHasAll:
        Complete();
        return Finish();
    case Exchange::End::Lingered: return Finish(); // a fetch's last ACK had its chance
    case Exchange::End::NotResponding: return Fail(Outcome::NotResponding);
    case Exchange::End::AckTooFar:
    case Exchange::End::DataTooFar:
        SendError(4);
        return Fail(Outcome::Failed, QStringLiteral("the device sent a block out of sequence"));
    case Exchange::End::ProbeAnswered:
    case Exchange::End::ClientError:
        return FailServer(code, packet ? packet + 4 : nullptr, packet ? size - 4 : 0);
    }
}

void CClientTransfer::Complete() {
    if (m_outcome != Outcome::None)
        return;
    m_outcome = Outcome::Done;
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (m_report.completed)
        m_report.completed();
}

// ---------------------------------------------------------------- ends

void CClientTransfer::FailServer(quint16 code, const char* text, qint64 size) {
    m_nServerCode = code;
    if (text && size > 0) {
        const qint64 end = qint64(qstrnlen(text, uint(std::min<qint64>(size, 4096))));
        m_strServerText = Tftp::Printable(QString::fromUtf8(text, end).left(200));
    }
    Fail(Outcome::ServerError);
}

void CClientTransfer::Fail(Outcome outcome, const QString& text) {
    if (m_outcome == Outcome::None)
        m_outcome = outcome;
    m_strFailure = text;
    Finish();
}

void CClientTransfer::Abort() {
    if (m_bOver)
        return;
    if (m_nServerPort != 0)
        SendError(0, "User aborts");
    Fail(Outcome::Aborted);
}

void CClientTransfer::Discard() {
    if (m_bOver)
        return;
    if (m_outcome == Outcome::None)
        m_outcome = Outcome::Aborted;
    m_report = {};
    Finish();
}

// The port, the timer and the file are done with; a fetch's unnamed file vanishes.
void CClientTransfer::Finish() {
    if (m_bOver)
        return;
    m_bOver = true;
    m_platform.timers().release(m_nTimerId);
    if (m_socket)
        m_socket->close();
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (m_report.finished)
        m_report.finished();
}

// The one block that is longer than agreed would be a wrong file if cut: refused whole.
void CClientTransfer::RefuseOversize(qint64 size) {
    SendError(4, "DATA longer than the block size");
    Fail(Outcome::Failed, QStringLiteral("the device sent a block of %1 bytes, longer than the "
                                         "block size %2: the file is left out")
                              .arg(size - 4)
                              .arg(m_nBlockSize));
}

// A fetch's told size binds it in octet mode; netascii's line ends make it the size of
// neither side for certain.
bool CClientTransfer::TsizeBinds() const {
    return !m_request.put && !m_request.netascii && m_nTotal >= 0;
}

QString CClientTransfer::OverLimitText(qint64 bytes) const {
    if (bytes <= m_nLimit && TsizeBinds())
        return QStringLiteral("the device sent more than the %1 bytes it told (tsize): the file "
                              "is left out").arg(m_nTotal);
    if (m_bLimitIsDisk)
        return QStringLiteral("the file is larger than the %1 bytes free on the disk").arg(m_nLimit);
    return QStringLiteral("the file is larger than %1 bytes, the most a fetch takes (max bytes)")
        .arg(m_nLimit);
}

void CClientTransfer::SendError(int code, const char* text) {
    const QByteArray packet = Tftp::MakeError(code, text);
    Transmit(packet.constData(), packet.size());
}

void CClientTransfer::Transmit(const char* data, qint64 size) {
    if (m_socket && !m_bOver && m_nServerPort != 0)
        m_socket->writeDatagram(data, size, m_server, m_nServerPort);
}
