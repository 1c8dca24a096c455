#include "FakePlatform.h"

#include "engine/platform/NormalAddress.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

FakeSocket::~FakeSocket() { close(); }

qint64 FakeSocket::writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                                 quint16 toPort) {
    if (m_closed)
        return -1;
    m_net->sent.append({QByteArray(data, int(size)), to, toPort, QHostAddress()});
    m_net->sentFrom.append(m_port);
    return size;
}

void FakeSocket::close() {
    if (m_closed)
        return;
    m_closed = true;
    if (m_net->bound.value(m_port) == this)
        m_net->bound.remove(m_port);
    --m_net->openSockets;
}

bool FakeNetwork::deliver(quint16 port, const QByteArray& data, const QHostAddress& from,
                          quint16 fromPort, const QHostAddress& local) {
    FakeSocket* socket = bound.value(port);
    if (!socket)
        return false;
    if (socket->onDatagram)
        socket->onDatagram(data.constData(), data.size(), from, fromPort,
                           boundOptions.value(port).wantLocalAddress ? local : QHostAddress());
    platform->endDispatch(); // may free the socket
    return true;
}

QList<FakeDatagram> FakeNetwork::takeSent() {
    QList<FakeDatagram> out;
    out.swap(sent);
    sentFrom.clear();
    return out;
}

void FakeTimers::advance(qint64 milliseconds) {
    const qint64 end = now + milliseconds;
    for (int guard = 0; guard < 100000; ++guard) {
        auto next = m_due.end();
        for (auto it = m_due.begin(); it != m_due.end(); ++it)
            if (it->second <= end && (next == m_due.end() || it->second < next->second))
                next = it;
        if (next == m_due.end())
            break;
        now = next->second;
        const int id = next->first;
        m_due.erase(next);
        if (onTimeout)
            onTimeout(id);
        m_platform->endDispatch();
    }
    now = end;
}

std::unique_ptr<IDatagramSocket> FakePlatform::bindUdp(const QHostAddress& address, quint16 port,
                                                       const SocketOptions& options,
                                                       QString* error) {
    if (net.refusedPorts.contains(port) || net.bound.contains(port)) {
        if (error)
            *error = QStringLiteral("Address in use");
        return nullptr;
    }
    // With interfaces of its own, an address none of them holds cannot be bound.
    bool here = fakeInterfaces.isEmpty() || IsAnyAddress(address);
    for (const NetInterface& i : fakeInterfaces)
        here = here || i.addresses.contains(address);
    if (!here) {
        if (error)
            *error = QStringLiteral("Cannot assign requested address");
        return nullptr;
    }
    auto socket = std::make_unique<FakeSocket>(&net, port);
    net.bound.insert(port, socket.get());
    net.boundAddress.insert(port, address);
    net.boundOptions.insert(port, options);
    ++net.openSockets;
    return socket;
}

// ---------------------------------------------------------------- files

namespace {
class FailingFile final : public IFile {
public:
    FailingFile(std::unique_ptr<IFile> inner, const int* failReads, const int* failWrites,
                const int* failKeep = nullptr)
        : m_inner(std::move(inner)), m_failReads(failReads), m_failWrites(failWrites),
          m_failKeep(failKeep) {}
    bool keep(FileError* error) override {
        if (m_failKeep && *m_failKeep) {
            *error = FileErrorFromErrno(*m_failKeep);
            return false;
        }
        return m_inner->keep(error);
    }
    qint64 read(char* data, qint64 maxSize) override {
        if (*m_failReads) {
            m_error = FileErrorFromErrno(*m_failReads);
            return -1;
        }
        return m_inner->read(data, maxSize);
    }
    qint64 readAt(char* data, qint64 maxSize, qint64 offset) override {
        if (*m_failReads) {
            m_error = FileErrorFromErrno(*m_failReads);
            return -1;
        }
        return m_inner->readAt(data, maxSize, offset);
    }
    qint64 write(const char* data, qint64 size) override {
        if (*m_failWrites) {
            m_error = FileErrorFromErrno(*m_failWrites);
            return -1;
        }
        return m_inner->write(data, size);
    }
    qint64 size() const override { return m_inner->size(); }
    QString shareKey() const override { return m_inner->shareKey(); }
    void close() override { m_inner->close(); }
    FileError error() const override { return m_error; }

private:
    std::unique_ptr<IFile> m_inner;
    const int* m_failReads;
    const int* m_failWrites;
    const int* m_failKeep;
    FileError m_error;
};
} // namespace

FakeFiles::FakeFiles() : m_real(CreateQtPlatform()) {}
FakeFiles::~FakeFiles() = default;

std::unique_ptr<IFile> FakeFiles::openRead(const FolderPath& path, FileError* error) {
    ++readOpens;
    auto f = m_real->files().openRead(path, error);
    return f ? std::make_unique<FailingFile>(std::move(f), &failReadsWith, &failWritesWith)
             : nullptr;
}
std::unique_ptr<IFile> FakeFiles::createTemp(const FolderPath& besides, FileError* error) {
    auto f = m_real->files().createTemp(besides, error);
    return f ? std::make_unique<FailingFile>(std::move(f), &failReadsWith, &failWritesWith,
                                             &failRenameWith)
             : nullptr;
}
FileError FakeFiles::probeExisting(const FolderPath& path) {
    return m_real->files().probeExisting(path);
}
bool FakeFiles::remove(const FolderPath& path) { return m_real->files().remove(path); }
QString FakeFiles::canonical(const FolderPath& path) { return m_real->files().canonical(path); }
bool FakeFiles::folderReady(const QString& root) {
    ++folderChecks;
    return m_real->files().folderReady(root);
}
qint64 FakeFiles::freeSpace(const FolderPath& path) {
    return freeBytes != -2 ? freeBytes : m_real->files().freeSpace(path);
}
bool FakeFiles::lookAtFolder(const FolderPath& path, FolderStamp* stamp,
                             QList<QByteArray>* names) {
    if (names)
        ++folderListings;
    return m_real->files().lookAtFolder(path, stamp, names);
}
