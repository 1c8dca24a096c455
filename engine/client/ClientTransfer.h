#pragma once

#include "engine/client/ClientRequest.h"
#include "engine/platform/Platform.h"
#include "engine/tftp/Exchange.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <functional>
#include <memory>

// One client transfer: the request sent (and sent again) until the device's server
// answers, then the same exchanges the server runs, from the other side: a fetch is a
// receive exchange, a send a send exchange. It runs on the platform seam; its owner
// routes the platform's timer `timerId` to OnTimer.
class CClientTransfer final : private Exchange::IActor {
public:
    enum class Outcome {
        None,          // still running
        Done,          // every byte there (a fetch: the file has its name)
        ServerError,   // the device's ERROR: serverCode, serverText
        NoAnswer,      // nothing answered the request
        NotResponding, // the device fell silent in the middle
        Failed,        // ours: the local file, or a device that broke the protocol
        Aborted,
    };
    // Calls to the owner, never allowed to destroy the transfer.
    struct Report {
        std::function<void()> waiting;  // the request went again under --wait
        std::function<void(int secondsLeft)> stillWaiting; // each resend under --wait
        std::function<void()> answered; // the first answer: the shape is known
        std::function<void(qint64 done, qint64 total)> progress;
        std::function<void()> completed; // Done, before the port closes (a fetch lingers)
        std::function<void()> finished;  // over: socket, file and timer done with
    };

    CClientTransfer(IPlatform& platform, int timerId, const TftpClient::Request& request, Report report);
    ~CClientTransfer();

    // Opens the local file, binds a port and sends the request; false (with the
    // reason) when the file or the port cannot be had.
    bool Start(QString* error);
    void OnTimer();
    // The user's abort: ERROR 0 to the device, a partial fetch removed.
    void Abort();
    // Ends without a word (the program is closing).
    void Discard();

    const TftpClient::Request& Request() const { return m_request; }
    Outcome Result() const { return m_outcome; }
    bool IsOver() const { return m_bOver; }
    quint16 ServerCode() const { return m_nServerCode; }
    QString ServerText() const { return m_strServerText; }
    QString FailureText() const { return m_strFailure; }
    qint64 Bytes() const { return m_nBytes; }
    qint64 Total() const { return m_nTotal; } // -1 while unknown
    int BlockSize() const { return m_nBlockSize; }
    int WindowSize() const { return m_nWindowSize; }
    quint16 ServerPort() const { return m_nServerPort; } // the transfer port, once learned

private:
    void OnDatagram(const char* packet, qint64 size, const QHostAddress& from, quint16 fromPort);
    void OnFirstAnswer(const char* packet, qint64 size);
    void StartExchange(bool afterOack);
    void SendRequest();
    void Carry(const Exchange::Actions& a, const char* packet = nullptr, qint64 size = 0) {
        Exchange::Carry(*m_exchange, a, *this, packet, size);
    }
    // What the exchange's actions do here (Exchange::Carry).
    qint64 NowMs() override { return m_platform.timers().elapsedMs(); }
    void StopTimer() override { m_platform.timers().stop(m_nTimerId); }
    void StartTimer(int ms) override { m_platform.timers().start(m_nTimerId, ms); }
    bool Write(const char* data, qint64 size, bool last) override;
    void BlockSent(const Exchange::Block& b) override;
    void BlockFailed(const Exchange::Block& b) override;
    void Ended(Exchange::End end, quint16 code, const char* packet, qint64 size) override;
    void Complete();
    void Fail(Outcome outcome, const QString& text = QString());
    void FailServer(quint16 code, const char* text, qint64 size);
    void Finish();
    void SendError(int code, const char* text = nullptr);
    void RefuseOversize(qint64 size);
    bool TsizeBinds() const;
    QString OverLimitText(qint64 bytes) const;
    void Transmit(const char* data, qint64 size) override;
    Exchange::Now Now() const;

    IPlatform& m_platform;
    int m_nTimerId;
    TftpClient::Request m_request;
    Report m_report;
    std::unique_ptr<IDatagramSocket> m_socket;
    std::unique_ptr<IFile> m_file;
    std::unique_ptr<Exchange::CExchange> m_exchange;
    QByteArray m_requestPacket;
    QHostAddress m_server;
    quint16 m_nServerPort = 0; // 0 until the first answer
    qint64 m_nStartMs = 0;
    int m_nRequests = 0;       // requests sent
    qint64 m_nStrangerMs = -1; // the last ERROR 5 to a stranger
    qint64 m_nFileSize = -1;
    qint64 m_nBytes = 0;
    qint64 m_nTotal = -1;
    qint64 m_nLimit = TftpClient::kDefaultMaxBytes; // the most a fetch writes
    bool m_bLimitIsDisk = false; // that is the disk's free space
    int m_nBlockSize = 512;
    int m_nWindowSize = 1;
    Outcome m_outcome = Outcome::None;
    quint16 m_nServerCode = 0;
    QString m_strServerText;
    QString m_strFailure;
    bool m_bOver = false;
};
