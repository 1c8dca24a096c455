#include "SingleInstance.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 2000;
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
} // namespace

QString CSingleInstanceGuard::DefaultName() {
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir + QStringLiteral("/vantrel-server-") + QString::number(::getuid());
}

CSingleInstanceGuard::CSingleInstanceGuard(const QString& name) : m_name(name) {
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_server,
                     [this] { OnNewConnection(); });
}

CSingleInstanceGuard::~CSingleInstanceGuard() {
    m_server.close();
}

CSingleInstanceGuard::Result CSingleInstanceGuard::Acquire() {
    // Listening is the atomic step: of two copies started together only one binds.
    if (m_server.listen(m_name))
        return Result::First;
    if (m_server.serverError() != QAbstractSocket::AddressInUseError)
        return Result::Failed;
    if (TellFirstCopy())
        return Result::AlreadyRunning;
    // Nobody answers: a crashed copy left its socket file behind.
    QLocalServer::removeServer(m_name);
    return m_server.listen(m_name) ? Result::First : Result::Failed;
}

bool CSingleInstanceGuard::TellFirstCopy() {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kWaitMs);
    return true;
}

void CSingleInstanceGuard::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        // The request may come with the connection, later, or together with the close.
        auto check = [this, socket] {
            if (socket->bytesAvailable() > 0 && socket->readAll().contains("show") && m_onShow)
                m_onShow();
        };
        QObject::connect(socket, &QLocalSocket::readyRead, socket, check);
        QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, check] {
            check();
            socket->deleteLater();
        });
        check();
    }
}
