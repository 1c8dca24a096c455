#pragma once

#include "engine/tftp/Exchange.h"
#include "engine/files/FileShareTable.h"
#include "engine/server/Admission.h"
#include "engine/platform/Platform.h"
#include "engine/server/ServerWindow.h"
#include "engine/server/SharedPort.h"
#include "engine/tftp/Options.h"
#include "engine/tftp/TftpPacket.h"
#include "engine/server/TransferRequest.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>
#include <utility>

class CServerEngine;

// One admitted request: its own UDP socket and port, its local file and its row texts.
// The protocol itself is its exchange's (CSendExchange, CReceiveExchange): this feeds it
// the client's datagrams and the time-outs, and carries out what it answers.
class CTransferSocket final : private Exchange::IActor {
public:
    enum Direction : quint16 { Send = 1, Receive = 2 };

    // Where the transfer stands; Abort stops exactly the ones in progress.
    enum class Phase { Idle, InProgress, Complete, Failed, Refused, Aborted };

    CTransferSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket,
                    TransferRequest&& request, quint16 port);
    ~CTransferSocket();

    // The row the window gave this transfer.
    void AttachRow(RowHandle row) { m_rowHandle = row; }
    RowHandle Row() const { return m_rowHandle; }
    // Applies the client and file rules, opens the file and sends the first packet,
    // or refuses with an ERROR packet.
    void StartTransfer();
    void OnReceive(const char* packet, qint64 size, const QHostAddress& from, quint16 fromPort);
    void OnTimer();
    // The client repeated its request: answer with the last packet again.
    void RepeatLastPacket();
    // Abort: ERROR 0 to the client, "User aborts!!" with how far it got, partial
    // reception removed.
    void Abort();
    // Ends the transfer without a word to anyone (the program is closing).
    void Discard();
    // Single-port mode: the client asked for something new from the same port; a
    // transfer still in progress ends on its row, without an ERROR to the client.
    void Supersede();
    // The program is closing: ERROR 0 "Server shutting down" to a client in the middle
    // of a transfer, so that it need not wait for its own time-out.
    void SendShutdownError();

    bool IsInProgress() const { return m_phase == Phase::InProgress; }
    // True once: whether the transfer still held a place in its client's limit.
    bool TakeClientSlot() { return std::exchange(m_bHoldsClientSlot, false); }
    bool IsLive() const;
    bool Matches(const QHostAddress& addr, quint16 port, quint16 opcode,
                 const QByteArray& name) const;
    RowTexts Texts() const;
    RowState State() const { return m_nRowState; }
    Phase CurrentPhase() const { return m_phase; }
    quint16 Port() const { return m_nPort; }
    const QHostAddress& Client() const { return m_clientAddr; }
    quint16 ClientPort() const { return m_nClientPort; }
    // Answers from the listener's port (single-port mode): its datagrams come through it.
    bool SharesListener() const { return m_bSharesListener; }
    SharedPort::Live SharedLive() const;

private:
    // RFC 2347 negotiation (Tftp::Negotiate): blksize, windowsize and timeout take
    // effect. False refuses the request: an upload's tsize beyond the free space.
    bool Negotiate();
    void StartExchange();
    Exchange::Now Now() const;
    // Carries out what the exchange answered; `packet` is the datagram it answered.
    void Carry(const Exchange::Actions& actions, const char* packet = nullptr, qint64 size = 0) {
        Exchange::Carry(*m_exchange, actions, *this, packet, size);
    }
    // What the exchange's actions do here (Exchange::Carry).
    qint64 NowMs() override;
    void ShowNote(Exchange::Note note, int retry) override;
    bool Write(const char* data, qint64 size, bool last) override;
    void SendOack() override { Transmit(m_oack.constData(), m_oack.size()); }
    void SendingAgain() override {
        m_bRowShown = false;
        ++m_nResends;
    }
    void BlockSent(const Exchange::Block& b) override;
    void BlockFailed(const Exchange::Block& b) override;
    void Ended(Exchange::End end, quint16 clientCode, const char* packet, qint64 size) override;
    void EndProbe();
    void SendError(int code, const char* text = nullptr);
    void StopTimer() override;
    void StartTimer(int ms) override;
    void HandleDatagram(const char* packet, qint64 size);

    void WrapForNetascii();
    static QString ClientWords(const char* text, qint64 size);
    bool OpenForSending(FileError* error);
    bool OpenForReceiving(FileError* error);
    // Refused before the exchange: the row, the ERROR and the sound from the one table.
    void Refuse(Refusal why, const QString& detail = QString());
    void RefuseOnFileError(const FileError& error);
    // Ends the transfer on a red row; the client is told with ERROR `errorCode` (and
    // `errorText` instead of the table's message) unless errorCode is -1.
    void Fail(const QString& text, int errorCode, const char* errorText = nullptr);
    void FailOnFileError(const FileError& error);
    void CompleteSend();
    bool CompleteReceive();
    void CountIn();
    void CountOutOnce();
    void RefreshRow();
    // The details pane's facts: once as the exchange starts, once as the row ends.
    void TellDetails(bool end);
    void CloseFile();
    void Finish();
    void CloseSocket();
    void Transmit(const char* data, qint64 size) override;

    CServerEngine* m_pEngine;
    std::unique_ptr<IDatagramSocket> m_socket;
    // What was asked, fixed at admission.
    QHostAddress m_clientAddr;
    quint16 m_nClientPort = 0;
    quint16 m_nDirection = 0;
    QString m_strService;
    bool m_bOverWrite = true;
    bool m_bReadOnly = false; // uploads turned off
    QByteArray m_szFileName;
    QString m_strFile;
    QString m_strAskedNote; // " (asked NAME)" when the file was found under another name
    bool m_bMissingFile = false; // refused because the file asked for is not there
    FolderPath m_szPath; // the name below the working folder
    bool m_bOctet = false;
    bool m_bNetascii = false; // line ends converted on the way
    bool m_bSizeTold = false; // tsize answered for a download
    QString m_strClient;
    bool m_bUnsafePath = false; // the name leaves the working folder, or there is none
    QString m_strMissingFolder; // the unusable working folder, shown in the refusal
    quint16 m_nPort = 0;
    RowHandle m_rowHandle = 0;

    std::unique_ptr<Exchange::CExchange> m_exchange;
    qint64 m_nFileSize = 0;
    qint64 m_nBytesReceived = 0;
    qint64 m_nBytesSent = 0; // up to the end of the last block read
    qint64 m_nShownBytes = 0; // the progress drawn: the highest position acknowledged
    qint64 m_nLastTransmitMs = -1000000; // when the last packet went
    QString m_strInfo;
    qint64 m_nRowBytes = -1; // what the Size cell tells; -1 while it is empty
    bool m_bRowShown = false; // "Total file size" shown since the last resend

    // Options (RFC 2347-2349, 7440); without them, 512-byte lock-step as RFC 1350 says.
    QList<QPair<QByteArray, QByteArray>> m_askedOptions;
    QByteArray m_oack;            // the OACK sent, empty when none
    int m_nBlockSize = Tftp::kBlockSize;
    int m_nWindowSize = 1;
    int m_nOptionTimeOut = 0;     // seconds; 0: the TimeOut setting
    qint64 m_nClientSize = -1;    // tsize the client announced for an upload
    bool m_bReplacing = false;    // the upload takes the place of a file that is there
    QString m_strOptionNote;      // ", blksize 1428, windowsize 16" for the row
    Tftp::OptionList m_givenOptions; // the OACK's, for the details

    // For the details: counted as they happen, told at the start and the end only.
    qint64 m_nStartMs = -1;
    int m_nResends = 0;
    int m_nTimeOuts = 0;
    int m_nToldEnd = -1; // the row state the end was told with
    // The last details told: what was fixed at admission is made printable once and
    // shared by the start's and the end's.
    std::shared_ptr<const RowDetails> m_details;

    std::unique_ptr<IFile> m_file;
    QString m_strSharedPath;   // key in the share table while the file is held
    CFileShareTable::Use m_shareUse = CFileShareTable::Use::Read;
    bool m_bCountedIn = false;
    bool m_bHoldsClientSlot = true;
    bool m_bSocketClosed = false;
    bool m_bSharesListener = false;
    std::unique_ptr<IFile> m_lookedUp; // a download's file as its name's look-up opened it
    bool m_bClientSpoke = false; // a DATA, ACK or ERROR came since the request
    Phase m_phase = Phase::Idle;
    RowState m_nRowState = ROW_ACTIVE;
};
