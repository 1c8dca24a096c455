#include "ServerEngine.h"

#include "FileShareTable.h"
#include "SettingsStore.h"
#include "TransferSocket.h"

#include <QFile>

// ---------------------------------------------------------------- listener

CListenSocket::CListenSocket(CServerEngine* engine, std::unique_ptr<IDatagramSocket> socket)
    : m_pEngine(engine), m_socket(std::move(socket)) {
    m_socket->onReadyRead = [this] { OnReceive(); };
}

CListenSocket::~CListenSocket() { m_socket->close(); }

// readyRead comes once for several waiting datagrams: take every one of them.
void CListenSocket::OnReceive() {
    m_pEngine->FreeRetired();
    QHostAddress from;
    quint16 fromPort = 0;
    while (m_socket->hasPendingDatagrams()) {
        const qint64 n = m_socket->readDatagram(m_pEngine->m_requestBuffer,
                                                sizeof m_pEngine->m_requestBuffer, &from,
                                                &fromPort);
        if (n < 0)
            break;
        m_pEngine->HandleRequest(m_pEngine->m_requestBuffer, n, from, fromPort);
    }
}

// ---------------------------------------------------------------- engine

CServerEngine::CServerEngine(IServerWindow* window, CSettingsStore* store,
                             std::unique_ptr<IPlatform> platform)
    : m_pWindow(window), m_pStore(store),
      m_platform(platform ? std::move(platform) : CreateQtPlatform()),
      m_shareTable(std::make_unique<CFileShareTable>()) {
    m_platform->timers().onTimeout = [this](int id) { OnTimer(id); };
}

CServerEngine::~CServerEngine() {
    Shutdown();
    m_platform->timers().onTimeout = nullptr;
}

void CServerEngine::LoadLiveSettings() {
    CSettingsStore& s = *m_pStore;
    m_bSoundOn = s.GetProfileInt(CSettingsStore::kSoundOn, CSettingsStore::kDefaultSoundOn) != 0;
    m_bAllowClient =
        s.GetProfileInt(CSettingsStore::kAllowClient, CSettingsStore::kDefaultAllowClient) != 0;
    QString* clients[] = {&m_strClient1, &m_strClient2, &m_strClient3,
                          &m_strClient4, &m_strClient5, &m_strClient6};
    for (int i = 0; i < 6; ++i)
        *clients[i] = s.GetProfileString(CSettingsStore::kClientKeys[i], QString());
    m_bSendFile = s.GetProfileInt(CSettingsStore::kSendFile, CSettingsStore::kDefaultSendFile) != 0;
    m_strFileEdit = s.GetProfileString(CSettingsStore::kFileEdit, QString());
    PlaySound(SOUND_STARTUP);
}

bool CServerEngine::Listen(const QHostAddress& address, quint16 port, QString* error) {
    m_pListenSocket.reset();
    m_bindAddress = address;
    QString why;
    auto socket = m_platform->bindUdp(address, port, &why);
    if (!socket) {
        if (error)
            *error = why;
        m_pWindow->ShowMessage(
            QStringLiteral("Listen Socket Creation Fails!!\n\nPlease, Restart This Program!!"));
        return false;
    }
    m_pListenSocket = std::make_unique<CListenSocket>(this, std::move(socket));
    return true;
}

quint16 CServerEngine::ListenPort() const {
    return m_pListenSocket ? m_pListenSocket->socket().localPort() : 0;
}

CTransferSocket* CServerEngine::FindTransfer(quint16 port) const { return m_byPort.value(port); }

void CServerEngine::PlaySound(int id) {
    if (m_bSoundOn)
        m_pWindow->PlayWaveResource(id);
}

void CServerEngine::CountIn() {
    if (m_nActiveTransfers == 0)
        m_pWindow->StartAnimation();
    ++m_nActiveTransfers;
}

void CServerEngine::CountOut() {
    if (m_nActiveTransfers <= 0)
        return;
    if (--m_nActiveTransfers == 0)
        m_pWindow->StopAnimation();
}

// Next port from the counter: 29001 upward, back to 29000 after 65000, passing over
// any port a live transfer still holds.
quint16 CServerEngine::NextPort() {
    for (int tries = 0; tries <= kLastPort - kFirstPort + 1; ++tries) {
        ++m_nPortCounter;
        if (m_nPortCounter > kLastPort)
            m_nPortCounter = kFirstPort - 1;
        if (!m_byPort.contains(m_nPortCounter))
            break;
    }
    return m_nPortCounter;
}

// The working directory, "/" unless it ends with one, then the name. Backslashes
// count as separators (clients written for other systems send them), and a leading
// separator means the working directory's root.
QString CServerEngine::ComposePath(const QByteArray& name) const {
    QString relative = QFile::decodeName(name);
    relative.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    QString path = m_strWorkingDir;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + relative;
}

namespace {
// A name that would leave the working directory: a ".." component, or a drive.
bool leavesWorkingDir(const QByteArray& name) {
    if (name.contains(':'))
        return true;
    QByteArray unified = name;
    unified.replace('\\', '/');
    const QList<QByteArray> parts = unified.split('/');
    return parts.contains(QByteArray(".."));
}
} // namespace

void CServerEngine::HandleRequest(const char* data, qint64 size, const QHostAddress& from,
                                  quint16 fromPort) {
    const Tftp::Request request = Tftp::ParseRequest(data, size);
    const QHostAddress client(from.toIPv4Address());

    // The client's own retransmission of a request whose answer was lost: the live
    // transfer answers it again instead of a second transfer failing on the file.
    if (request.status == Tftp::Request::Ok) {
        for (const auto& transfer : m_transferList) {
            if (transfer->IsLive() &&
                transfer->Matches(client, fromPort, request.opcode, request.fileName)) {
                transfer->RepeatLastPacket();
                return;
            }
        }
    }

    // A port that another socket on this host holds (local clients get ephemeral ports
    // inside 29000-65000 too) is passed over; only a run of failures is reported.
    quint16 port = NextPort();
    QString why;
    auto socket = m_platform->bindUdp(m_bindAddress, port, &why);
    for (int tries = 1; !socket && tries < 16; ++tries) {
        port = NextPort();
        socket = m_platform->bindUdp(m_bindAddress, port, &why);
    }
    if (!socket) {
        m_pWindow->ShowMessage(
            QStringLiteral("Client Socket Creation Fails!!\n\nPlease, Restart This Program!!"));
        PlaySound(SOUND_FAILED);
        return;
    }
    // A refused request ("Invalid TFTP Command!!", "Invalid TFTP Transfer Mode!!") gets
    // no row and no reply; its socket closes as it goes out of scope.
    if (request.status == Tftp::Request::BadCommand)
        return PlaySound(SOUND_FAILED);

    m_strWorkingDir =
        m_pStore->GetProfileString(CSettingsStore::kDirName, CSettingsStore::DefaultDirName());
    const bool overWrite =
        m_pStore->GetProfileInt(CSettingsStore::kOverWrite, CSettingsStore::kDefaultOverWrite) != 0;
    if (request.status == Tftp::Request::BadMode)
        return PlaySound(SOUND_FAILED);

    auto owned = std::make_unique<CTransferSocket>(this, std::move(socket));
    CTransferSocket* t = owned.get();
    t->m_clientAddr = client;
    t->m_nClientPort = fromPort;
    t->m_nDirection = request.opcode;
    t->m_strService = request.opcode == Tftp::RRQ ? QStringLiteral("Send") : QStringLiteral("Receive");
    t->m_bOverWrite = overWrite;
    t->m_szFileName = request.fileName;
    t->m_strFile = QFile::decodeName(request.fileName);
    t->m_szPath = ComposePath(request.fileName);
    t->m_bUnsafePath = leavesWorkingDir(request.fileName);
    t->m_bOctet = request.octet;
    t->m_strClient = client.toString();
    t->m_nPort = port;
    m_transferList.push_back(std::move(owned));
    m_byPort.insert(port, t);

    t->m_rowHandle = m_pWindow->AddRow(t->Texts());
    PlaySound(SOUND_REQUEST);
    t->StartTransfer(port);
}

void CServerEngine::OnTimer(int id) {
    FreeRetired();
    if (CTransferSocket* t = m_byPort.value(quint16(id)))
        t->OnTimer();
    else
        m_platform->timers().stop(id);
}

void CServerEngine::Retire(CTransferSocket* transfer) {
    m_platform->timers().release(transfer->m_nPort);
    if (m_byPort.value(transfer->m_nPort) == transfer)
        m_byPort.remove(transfer->m_nPort);
    for (auto it = m_transferList.begin(); it != m_transferList.end(); ++it) {
        if (it->get() == transfer) {
            m_retired.push_back(std::move(*it));
            m_transferList.erase(it);
            return;
        }
    }
}

void CServerEngine::FreeRetired() { m_retired.clear(); }

void CServerEngine::OnAbort() {
    FreeRetired();
    for (CTransferSocket* t : LiveTransfers()) {
        if (t->IsInProgress())
            t->Abort();
        else
            t->Discard();
    }
    PlaySound(SOUND_FAILED);
    m_pWindow->StopAnimation();
    m_nActiveTransfers = 0;
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
    m_pListenSocket.reset();
}
