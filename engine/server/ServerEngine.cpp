#include "engine/server/ServerEngine.h"

#include "engine/files/FileShareTable.h"
#include "engine/server/EngineShared.h"
#include "engine/platform/NormalAddress.h"
#include "engine/server/SharedPort.h"
#include "engine/server/TransferSocket.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>

// ---------------------------------------------------------------- listener

CListenSocket::CListenSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket)
    : m_pEngine(engine), m_socket(std::move(socket)) {
    m_socket->onDatagram = [this](const char* data, qint64 size, const QHostAddress& from,
                                  quint16 fromPort, const QHostAddress& to) {
        OnReceive(data, size, from, fromPort, to);
    };
}

CListenSocket::~CListenSocket() { m_socket->close(); }

void CListenSocket::OnReceive(const char* data, qint64 size, const QHostAddress& from,
                              quint16 fromPort, const QHostAddress& to) {
    CServerEngine* const engine = m_pEngine;
    // Single-port mode: a transfer's datagram goes straight to it, as on a port of its own.
    if (engine->RouteOnListener(data, size, from, fromPort))
        return;
    // Calls the window posted first: a request sent after the user's change is judged
    // by it, whichever of the two the event loop happens to deliver first. A call may
    // close this listener; it is then kept until the dispatch is over.
    if (engine->m_beforeRequests) {
        engine->m_bInListener = true;
        engine->m_beforeRequests();
        engine->m_bInListener = false;
        if (engine->m_pListenSocket.get() != this)
            return;
    }
    const EngineSettings& settings = engine->Settings();
    // Without options a request is read to 256 bytes; options may need 512. The address
    // a request was sent to counts only when the answer is to come from it.
    const qint64 limit =
        settings.negotiate ? Tftp::kOptionRequestBuffer : Tftp::kRequestBuffer;
    engine->HandleRequest(data, std::min(size, limit), from, fromPort,
                          settings.replyFromRequestAddress ? to : QHostAddress());
}

// ---------------------------------------------------------------- engine

namespace {
// A transfer's socket in single-port mode: nothing bound, its packets leave from the
// engine's listener (whichever is open when they go), its datagrams arrive there.
class CListenerReplies final : public IDatagramSocket {
public:
    explicit CListenerReplies(std::function<IDatagramSocket*()> listener)
        : m_listener(std::move(listener)) {}
    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override {
        IDatagramSocket* socket = m_bClosed ? nullptr : m_listener();
        return socket ? socket->writeDatagram(data, size, to, toPort) : -1;
    }
    quint16 localPort() const override {
        IDatagramSocket* socket = m_listener();
        return socket ? socket->localPort() : 0;
    }
    void close() override { m_bClosed = true; }

private:
    std::function<IDatagramSocket*()> m_listener;
    bool m_bClosed = false;
};

class CNoWindow final : public IServerWindow {
public:
    void AddRow(RowHandle, const RowTexts&) override {}
    void UpdateRow(RowHandle, const RowTexts&, RowState) override {}
    void DrawProgress(RowHandle, qint64, qint64) override {}
    int PlayWaveResource(int) override { return 0; }
    void StartAnimation() override {}
    void StopAnimation() override {}
    void ShowMessage(const QString&) override {}
};
} // namespace

IServerWindow& NoServerWindow() {
    static CNoWindow none;
    return none;
}

CServerEngine::CServerEngine(IServerWindow* window, std::unique_ptr<IPlatform> platform,
                             std::shared_ptr<CEngineShared> shared)
    : m_pWindow(window ? window : &NoServerWindow()),
      m_platform(platform ? std::move(platform) : CreateDefaultPlatform()),
      m_shared(shared ? std::move(shared) : std::make_shared<CEngineShared>()),
      m_paths(std::make_unique<CRequestPath>(*m_platform, m_shared->Shares())) {
    m_nAutoMaxTransfers = DefaultMaxTransfers();
    m_platform->timers().onTimeout = [this](int id) { OnTimer(id); };
    m_platform->setAfterDispatch([this] { FreeRetired(); });
    m_platform->onInterfaceEvent = [this](const InterfaceEvent&) { FollowInterfaces(); };
    m_platform->watchInterfaces();
}

CServerEngine::~CServerEngine() {
    Shutdown();
    m_platform->timers().onTimeout = nullptr;
    m_platform->setAfterDispatch(nullptr);
}

void CServerEngine::LoadLiveSettings(const EngineSettings& settings) {
    m_settings = settings;
    PlaySound(SOUND_STARTUP);
}

bool CServerEngine::Listen(const QHostAddress& address, quint16 port, QString* error,
                           bool tellWindow, PortShare share) {
    // The group on the port is ours already when it stays where it is.
    const bool samePort = m_pListenSocket && m_share != PortShare::Alone && port != 0 &&
                          port == ListenPort() && address == m_bindAddress;
    // Closed at once, even within its own dispatch: the new one may want its port.
    if (m_pListenSocket)
        m_pListenSocket->socket().close();
    RetireListener();
    m_bindAddress = address;
    m_bWantListen = true;
    m_nWantedPort = port;
    m_share = share;
    if (m_pFollower)
        m_pFollower->ListenRequested(tellWindow);
    QString why;
    // A burst of requests is read at once. The address each was sent to is always asked
    // for: the setting that uses it may change while the listener stays, and the cost is
    // one control message per request.
    SocketOptions options;
    options.batch = true;
    options.wantLocalAddress = true;
    options.reusePort = share != PortShare::Alone;
    // The one socket that takes a boot storm's requests, and in single-port mode every
    // transfer's ACKs and windows of DATA besides: the default room (about 200 KiB,
    // a hundred full datagrams) drops a window of uploads from twenty clients, and a
    // dropped ACK costs a whole time-out. net.core.rmem_max caps it unless the server
    // may administer the network (openUdp).
    options.receiveBuffer = 4 * 1024 * 1024;
    std::unique_ptr<IDatagramSocket> socket;
    // A port in use is reported as without sharing: another program's socket in the
    // group would take a share of the requests. Bound alone first, then released for
    // the group; another program could take it between the two (a short window; our
    // own copies are kept out by the single-instance guard).
    bool free = true;
    if (share == PortShare::Lead && !samePort) {
        std::unique_ptr<IDatagramSocket> alone =
            m_platform->bindUdp(address, port, SocketOptions(), &why);
        free = alone != nullptr;
        if (alone && port == 0)
            port = alone->localPort();
    }
    if (free)
        socket = m_platform->bindUdp(address, port, options, &why);
    if (!socket) {
        if (error)
            *error = why;
        if (tellWindow)
            m_pWindow->ShowMessage(
            QStringLiteral("Listen Socket Creation Fails!!\n\nPlease, Restart This Program!!"));
        return false;
    }
    m_pListenSocket = std::make_unique<CListenSocket>(this, std::move(socket));
    if (m_pFollower)
        m_pFollower->ListenerOpened(tellWindow);
    return true;
}

void CServerEngine::CloseListener() {
    m_bWantListen = false;
    if (m_pListenSocket)
        m_pListenSocket->socket().close();
    RetireListener();
}

bool CServerEngine::WaitsForAddress() {
    if (m_pListenSocket || !m_bWantListen || IsAnyAddress(m_bindAddress))
        return false;
    for (const NetInterface& i : m_platform->interfaces())
        for (const QHostAddress& a : i.addresses)
            if (a.isEqual(m_bindAddress, QHostAddress::ConvertV4MappedToIPv4))
                return false;
    return true;
}

void CServerEngine::FollowInterfaces() {
    // Only once the address is here: binding sooner would only fail again.
    if (!m_pListenSocket && m_bWantListen && !IsAnyAddress(m_bindAddress) && !WaitsForAddress())
        Listen(m_bindAddress, m_nWantedPort, nullptr, false, m_share);
}

void CServerEngine::SetSettings(const EngineSettings& settings) {
    const EngineSettings before = m_settings;
    m_settings = settings;
    if (m_pFollower)
        m_pFollower->SettingsChanged(before);
}

quint16 CServerEngine::ListenPort() const {
    return m_pListenSocket ? m_pListenSocket->socket().localPort() : 0;
}

CTransferSocket* CServerEngine::FindTransfer(quint16 port) const { return m_byPort.value(port); }

CFileShareTable& CServerEngine::ShareTable() { return m_shared->Shares(); }

void CServerEngine::PlaySound(int id) {
    if (m_settings.soundOn)
        m_pWindow->PlayWaveResource(id);
}

// Counted before the window hears of it: whatever the window is told goes with the
// count as it stands then.
void CServerEngine::CountIn() {
    ++m_nActiveTransfers;
    if (m_shared->CountIn() == 1)
        m_pWindow->StartAnimation();
}

void CServerEngine::CountOut() {
    if (m_nActiveTransfers <= 0)
        return;
    --m_nActiveTransfers;
    if (m_shared->CountOut() == 0)
        m_pWindow->StopAnimation();
}

// A free transfer port drawn at random: a port that follows the last one would let a
// forged request and a forged ACK 0 turn the server into a reflector at a guessed port.
// The range is PortFirst..PortLast when set (a firewall opens one range), else
// 29001-65000. Ports held by live transfers or in `tried` are passed over; after a few
// draws, a scan from a random place finds any one left. 0 when none is free.
quint16 CServerEngine::NextPort(const QSet<quint16>& tried) {
    int first = m_settings.portFirst, last = m_settings.portLast;
    // In single-port mode the number only names the transfer (its timer): the firewall's
    // range does not bound how many run.
    if (m_settings.singlePort || first < 1 || last > 65535 || first > last) {
        first = kFirstPort;
        last = kLastPort;
    }
    const int span = last - first + 1;
    const auto isFree = [&](int port) {
        return !m_byPort.contains(quint16(port)) && !tried.contains(quint16(port));
    };
    QRandomGenerator* random = QRandomGenerator::system();
    for (int draw = 0; draw < 8; ++draw) {
        const int port = first + int(random->bounded(quint32(span)));
        if (isFree(port))
            return m_nPortCounter = quint16(port);
    }
    const int start = int(random->bounded(quint32(span)));
    for (int i = 0; i < span; ++i) {
        const int port = first + (start + i) % span;
        if (isFree(port))
            return m_nPortCounter = quint16(port);
    }
    return 0;
}

void CServerEngine::HandleRequest(const char* data, qint64 size, const QHostAddress& from,
                                  quint16 fromPort, const QHostAddress& local) {
    const Tftp::Request request = Tftp::ParseRequest(data, size);
    // Nothing can be sent back to port 0: such a request is not even counted.
    if (fromPort == 0)
        return;
    const QHostAddress client = NormalAddress(from);

    // The client's own retransmission of a request whose answer was lost: the live
    // transfer answers it again instead of a second transfer failing on the file.
    if (request.status == Tftp::Request::Ok) {
        const auto same = m_byClientPort.equal_range({client, fromPort});
        for (auto it = same.first; it != same.second; ++it) {
            CTransferSocket* transfer = *it;
            if (transfer->IsLive() &&
                transfer->Matches(client, fromPort, request.opcode, request.fileName)) {
                transfer->RepeatLastPacket();
                return;
            }
        }
    }

    if (request.status == Tftp::Request::Ok && !AdmitsAnotherTransfer(client))
        return RefuseOverLimit(request, client, fromPort);

    // A port that another socket on this host holds (local clients get ephemeral ports
    // inside 29000-65000 too) is passed over; only a run of failures is reported.
    // The reply leaves from the address the client wrote to (known only when the
    // listener was asked for it): on a host with several, clients drop answers from any
    // other.
    const QHostAddress replyFrom = local.isNull() ? m_bindAddress : NormalAddress(local);
    QSet<quint16> tried;
    quint16 port = 0;
    QString why;
    std::unique_ptr<IDatagramSocket> socket;
    const bool singlePort = m_settings.singlePort && m_pListenSocket;
    if (singlePort && (port = NextPort(tried)) != 0)
        socket = ListenerReplies();
    for (int tries = 0; !singlePort && !socket && tries < 16; ++tries) {
        port = NextPort(tried);
        if (port == 0)
            break;
        tried.insert(port);
        socket = m_platform->bindUdp(replyFrom, port, SocketOptions(), &why);
    }
    if (!socket) {
        if (request.status == Tftp::Request::Ok)
            m_shared->Leave(client, true);
        // The client is told from the listener, or it would only time out.
        if (request.status == Tftp::Request::Ok && m_pListenSocket) {
            const RefusalEntry& noPort = RefusalFor(Refusal::NoPort);
            const QByteArray error = Tftp::MakeError(noPort.tftpCode, noPort.wireText);
            m_pListenSocket->socket().writeDatagram(error.constData(), error.size(), client,
                                                    fromPort);
        }
        m_pWindow->ShowMessage(
            QStringLiteral("Client Socket Creation Fails!!\n\nPlease, Restart This Program!!"));
        PlaySound(SOUND_FAILED);
        return;
    }
    // A refused request ("Invalid TFTP Command!!", "Invalid TFTP Transfer Mode!!") gets
    // no row and no reply; its socket closes as it goes out of scope.
    if (request.status == Tftp::Request::BadCommand)
        return PlaySound(SOUND_FAILED);
    if (request.status == Tftp::Request::NameTooLong) {
        // No row, as for any request that is not understood, but the client is told.
        const QByteArray error = Tftp::MakeError(4, "File name too long");
        socket->writeDatagram(error.constData(), error.size(), from, fromPort);
        return PlaySound(SOUND_FAILED);
    }

    if (request.status == Tftp::Request::BadMode)
        return PlaySound(SOUND_FAILED);

    TransferRequest admitted;
    admitted.client = client;
    admitted.clientPort = fromPort;
    admitted.opcode = request.opcode;
    admitted.fileName = request.fileName;
    admitted.octet = request.octet;
    admitted.localAddress = local;
    admitted.singlePort = singlePort;
    admitted.options = request.options; // ignored when negotiation is off
    ResolveRequestPath(admitted);
    admitted.overWrite = m_settings.overWrite;
    admitted.readOnly = m_settings.readOnly;

    auto owned = std::make_unique<CTransferSocket>(this, std::move(socket), std::move(admitted), port);
    CTransferSocket* t = owned.get();
    m_transferList.push_back(std::move(owned));
    m_byPort.insert(port, t);
    m_byClientPort.insert({client, fromPort}, t);

    t->AttachRow(AddRow(t->Texts()));
    PlaySound(SOUND_REQUEST);
    t->StartTransfer();
}

void CServerEngine::ResolveRequestPath(TransferRequest& request) {
    const EngineSettings& s = m_settings;
    const NameSettings names{s.workingFolder, s.remapFile, s.ignoreCase, s.driveLetters,
                             s.clientFolders};
    QString report;
    if (request.clientText.isEmpty())
        request.clientText = request.client.toString();
    ResolvedPath resolved = m_paths->Resolve(names, request.fileName, request.opcode == Tftp::WRQ,
                                             request.clientText, &report);
    if (!report.isEmpty())
        m_pWindow->ShowMessage(report);
    request.path = std::move(resolved.path);
    request.refusePath = resolved.refuse;
    request.missingFolder = std::move(resolved.missingFolder);
    request.askedNote = std::move(resolved.askedNote);
    request.file = std::move(resolved.file);
}

// A flood of requests that are never acknowledged must not eat every descriptor, nor
// keep other clients out: live transfers are limited per client and in all. Under the
// limit the descriptors set, one address holds at most half of it.
bool CServerEngine::AdmitsAnotherTransfer(const QHostAddress& client) {
    int perClient = m_settings.maxTransfersPerClient;
    int total = m_settings.maxTransfers;
    if (total <= 0) {
        total = m_nAutoMaxTransfers;
        if (perClient > 0)
            perClient = std::min(perClient, std::max(1, total / 2));
    }
    return m_shared->TryEnter(client, std::max(1, total), perClient);
}

// Refused from the listener's own port: no socket, no port number used up.
void CServerEngine::RefuseOverLimit(const Tftp::Request& request, const QHostAddress& client,
                                    quint16 fromPort) {
    RowTexts texts;
    texts.client = client.toString();
    texts.file = QFile::decodeName(request.fileName);
    texts.service =
        request.opcode == Tftp::RRQ ? QStringLiteral("Send") : QStringLiteral("Receive");
    const RowHandle row = AddRow(texts);
    texts.info = RefusalRow(Refusal::TooMany);
    m_pWindow->UpdateRow(row, texts, ROW_FAILED);
    const RefusalEntry& tooMany = RefusalFor(Refusal::TooMany);
    const QByteArray error = Tftp::MakeError(tooMany.tftpCode, tooMany.wireText);
    if (m_pListenSocket)
        m_pListenSocket->socket().writeDatagram(error.constData(), error.size(), client, fromPort);
    PlaySound(SOUND_FAILED);
}

RowHandle CServerEngine::AddRow(const RowTexts& texts) {
    const RowHandle row = m_shared->NextRow();
    m_pWindow->AddRow(row, texts);
    return row;
}

int CServerEngine::DefaultMaxTransfers() {
    const qint64 descriptors = m_platform->openFileLimit();
    if (descriptors < 0)
        return 4096;
    return int(std::max<qint64>(1, (descriptors - 64) / 2));
}

std::unique_ptr<IDatagramSocket> CServerEngine::ListenerReplies() {
    return std::make_unique<CListenerReplies>([this]() -> IDatagramSocket* {
        return m_pListenSocket ? &m_pListenSocket->socket() : nullptr;
    });
}

bool CServerEngine::RouteOnListener(const char* data, qint64 size, const QHostAddress& from,
                                    quint16 fromPort) {
    const QHostAddress client = NormalAddress(from);
    // Transfers begun before the mode was turned off still get their packets here.
    CTransferSocket* live = nullptr;
    const auto same = m_byClientPort.equal_range({client, fromPort});
    for (auto it = same.first; it != same.second && !live; ++it)
        if ((*it)->SharesListener() && (*it)->IsLive())
            live = *it;
    if (!live && !m_settings.singlePort)
        return false;
    const quint16 opcode = size >= 2 ? Tftp::Get16(data) : 0;
    bool sameRequest = false;
    if (live && !SharedPort::IsTransferOpcode(opcode)) {
        const Tftp::Request r = Tftp::ParseRequest(data, std::min<qint64>(size, Tftp::kOptionRequestBuffer));
        sameRequest = r.status == Tftp::Request::Ok &&
                      live->Matches(client, fromPort, r.opcode, r.fileName);
    }
    switch (SharedPort::Decide(opcode, sameRequest,
                               live ? live->SharedLive() : SharedPort::Live::None)) {
    case SharedPort::Route::Request: return false;
    case SharedPort::Route::Repeat: live->RepeatLastPacket(); return true;
    case SharedPort::Route::Transfer: live->OnReceive(data, size, from, fromPort); return true;
    case SharedPort::Route::Replace: live->Supersede(); return false;
    case SharedPort::Route::Stranger:
        if (m_pListenSocket)
            TellStranger(m_pListenSocket->socket(), data, size, from, fromPort);
        return true;
    case SharedPort::Route::Drop: return true;
    }
    return true;
}

void CServerEngine::TellStranger(IDatagramSocket& socket, const char* packet, qint64 size,
                                 const QHostAddress& from, quint16 fromPort) {
    const bool isError = size >= 2 && Tftp::Get16(packet) == Tftp::ERROR;
    if (isError || fromPort == 0 || !MayAnswerStranger(NormalAddress(from), fromPort))
        return;
    const QByteArray error = Tftp::MakeError(5);
    socket.writeDatagram(error.constData(), error.size(), from, fromPort);
}

// A stranger's datagram to a transfer port gets ERROR 5 at most once a second per
// source: a flood of them, forged or not, is not answered in kind.
bool CServerEngine::MayAnswerStranger(const QHostAddress& address, quint16 port) {
    const qint64 now = m_platform->timers().elapsedMs();
    Stranger* oldest = &m_strangers[0];
    for (Stranger& s : m_strangers) {
        if (s.port == port && s.address == address) {
            if (now - s.lastMs < 1000)
                return false;
            s.lastMs = now;
            return true;
        }
        if (s.lastMs < oldest->lastMs)
            oldest = &s;
    }
    *oldest = {address, port, now};
    return true;
}

void CServerEngine::OnTimer(int id) {
    if (id > 0xffff)
        return;
    if (CTransferSocket* t = m_byPort.value(quint16(id)))
        t->OnTimer();
    else
        m_platform->timers().stop(id);
}

void CServerEngine::FreeClientSlot(CTransferSocket* transfer) {
    if (transfer->TakeClientSlot())
        m_shared->FreeClientSlot(transfer->Client());
}

void CServerEngine::Retire(CTransferSocket* transfer) {
    const quint16 port = transfer->Port();
    m_platform->timers().release(port);
    if (m_byPort.value(port) == transfer)
        m_byPort.remove(port);
    m_byClientPort.remove({transfer->Client(), transfer->ClientPort()}, transfer);
    for (auto it = m_transferList.begin(); it != m_transferList.end(); ++it) {
        if (it->get() == transfer) {
            m_shared->Leave(transfer->Client(), transfer->TakeClientSlot());
            m_retired.push_back(std::move(*it));
            m_transferList.erase(it);
            return;
        }
    }
}

void CServerEngine::FreeRetired() {
    m_retired.clear();
    if (!m_bInListener)
        m_retiredListeners.clear();
}

void CServerEngine::OnAbort() {
    FreeRetired();
    // Zero first: each aborted row then reaches the window with nothing in progress.
    m_shared->CountOut(m_nActiveTransfers);
    m_nActiveTransfers = 0;
    for (CTransferSocket* t : LiveTransfers()) {
        if (t->IsInProgress())
            t->Abort();
        else
            t->Discard();
    }
    PlaySound(SOUND_FAILED);
    m_pWindow->StopAnimation();
}

void CServerEngine::AbortRow(RowHandle row) {
    FreeRetired();
    for (CTransferSocket* t : LiveTransfers()) {
        if (t->Row() != row || !t->IsInProgress())
            continue;
        CountOut(); // first, as in OnAbort; the transfer's Abort leaves the count alone
        t->Abort();
        PlaySound(SOUND_FAILED);
        return;
    }
}

// A copy: each transfer takes itself out of the list as its socket closes.
std::vector<CTransferSocket*> CServerEngine::LiveTransfers() const {
    std::vector<CTransferSocket*> transfers;
    for (const auto& t : m_transferList)
        transfers.push_back(t.get());
    return transfers;
}

void CServerEngine::Shutdown() {
    for (CTransferSocket* t : LiveTransfers()) {
        if (t->IsInProgress())
            t->SendShutdownError();
        t->Discard();
    }
    FreeRetired();
    m_bWantListen = false;
    RetireListener();
    if (m_pFollower)
        m_pFollower->ServerShutdown();
}

void CServerEngine::RetireListener() {
    if (m_pFollower)
        m_pFollower->ListenerClosed();
    if (m_pListenSocket)
        m_retiredListeners.push_back(std::move(m_pListenSocket));
    if (!m_bInListener)
        m_retiredListeners.clear();
}
