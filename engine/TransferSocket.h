#pragma once

#include "FileShareTable.h"
#include "Platform.h"
#include "ServerWindow.h"
#include "TftpPacket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

class CServerEngine;

// One admitted request: its own UDP socket and port, its local file, its row texts,
// and the lock-step exchange with its client (one block in flight, time-outs,
// retransmission).
class CTransferSocket {
public:
    enum Direction : quint16 { Send = 1, Receive = 2 };

    // Where the transfer stands; Abort stops exactly the ones in progress.
    enum class Phase { Idle, InProgress, Complete, Failed, Refused, Aborted };

    CTransferSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket);
    ~CTransferSocket();

    // Applies the client and file rules, opens the file and sends the first packet,
    // or refuses with an ERROR packet.
    void StartTransfer(quint16 port);
    void OnReceive();
    void OnTimer();
    // The client repeated its request: answer with the last packet again.
    void RepeatLastPacket();
    // Abort: ERROR 0 to the client, "User aborts!!", partial reception removed.
    void Abort();
    // Ends the transfer without a word to anyone (the program is closing).
    void Discard();
    // The program is closing: ERROR 0 "Server shutting down" to a client in the middle
    // of a transfer, so that it need not wait for its own time-out.
    void SendShutdownError();

    bool IsInProgress() const { return m_phase == Phase::InProgress; }
    bool IsLive() const;
    bool Matches(const QHostAddress& addr, quint16 port, quint16 opcode,
                 const QByteArray& name) const;
    RowTexts Texts() const;
    RowState State() const { return m_nRowState; }
    Phase CurrentPhase() const { return m_phase; }

    // Filled by the request handler before StartTransfer.
    QHostAddress m_clientAddr;
    quint16 m_nClientPort = 0;
    quint16 m_nDirection = 0;
    QString m_strService;
    bool m_bOverWrite = true;
    QByteArray m_szFileName;
    QString m_strFile;
    QString m_szPath;
    bool m_bOctet = false; // recorded only: no line ends are converted
    QString m_strClient;
    bool m_bUnsafePath = false; // the name leaves the working directory
    RowHandle m_rowHandle = 0;

    // State of the exchange, public for tests.
    qint64 m_nFileSize = 0;
    qint64 m_nBytesReceived = 0;
    qint64 m_nBytesSent = 0;
    int m_nTimeOut = 0;
    quint16 m_nPort = 0;
    QString m_strInfo;
    QString m_strSize;
    bool m_bAwaitingData = false;
    bool m_bReceiveDone = false;
    bool m_bSendDone = false;
    bool m_bRowShown = false;
    int m_nRetry = 0;
    quint16 m_nBlock = 0;
    quint16 m_nLastAcked = 0;

private:
    void SendData();
    void SendAck();
    void SendError(int code);
    void WriteData(const char* data, qint64 size);
    void HandleAck(quint16 block);
    void HandleData(quint16 block, const char* data, qint64 size);
    void HandleDatagram(const char* packet, qint64 size);

    bool OpenForSending(FileError* error);
    bool OpenForReceiving(FileError* error);
    void Refuse(const QString& text, int code);
    void Fail(const QString& text, bool removeFile, int errorCode = -1);
    void FailOnFileError(const FileError& error);
    void CompleteSend();
    void CompleteReceive();
    void CountIn();
    void CountOutOnce();
    void RefreshRow();
    void StartTimer();
    void ReadTimeOut();
    void CloseFile();
    void RemovePartialFile();
    void CloseSocket();
    void Transmit(const char* data, qint64 size);
    void TransmitAck(quint16 block);

    CServerEngine* m_pEngine;
    std::unique_ptr<IDatagramSocket> m_socket;
    std::unique_ptr<IFile> m_file;
    QString m_strTempPath;     // reception that replaces an existing file goes here first
    QString m_strSharedPath;   // key in the share table while the file is held
    CFileShareTable::Use m_shareUse = CFileShareTable::Use::Read;
    bool m_bCreatedFile = false; // the reception created m_szPath itself
    bool m_bCountedIn = false;
    bool m_bSocketClosed = false;
    Phase m_phase = Phase::Idle;
    RowState m_nRowState = ROW_ACTIVE;

    char m_outPacket[4 + Tftp::kBlockSize] = {};
    char m_lastData[4 + Tftp::kBlockSize] = {};
    int m_nOutLength = 0;
};
