#pragma once

#include "engine/platform/Platform.h"
#include "engine/server/ServerWindow.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <map>
#include <memory>

// A platform for tests: sockets that exchange datagrams through queues, timers on a
// fake clock, and the real file system (tests give it a temporary folder), with
// hooks to make file operations fail.

struct FakeDatagram {
    QByteArray data;
    QHostAddress peer; // sender for an incoming datagram, receiver for an outgoing one
    quint16 peerPort = 0;
    QHostAddress local; // the address an incoming datagram was sent to
};

class FakeNetwork;
class FakePlatform;

class FakeSocket final : public IDatagramSocket {
public:
    FakeSocket(FakeNetwork* net, quint16 port) : m_net(net), m_port(port) {}
    ~FakeSocket() override;

    qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                         quint16 toPort) override;
    quint16 localPort() const override { return m_port; }
    void close() override;

    bool m_closed = false;

private:
    FakeNetwork* m_net;
    quint16 m_port;
};

// The sockets the server has bound, by port, and everything they sent.
class FakeNetwork {
public:
    QHash<quint16, FakeSocket*> bound;
    QHash<quint16, QHostAddress> boundAddress; // the address each port was bound to
    QHash<quint16, QString> boundDevice; // the interface of each broadcast socket
    QHash<quint16, SocketOptions> boundOptions; // how each port's socket reads
    QSet<quint16> refusedPorts; // binding these fails
    QList<FakeDatagram> sent;   // every datagram the server sent, in order
    QList<quint16> sentFrom;    // the local port each one left from
    int openSockets = 0;

    // Delivers a datagram to the server's socket on `port` and lets it handle it, then
    // ends the dispatch as a real platform would. Returns false when nothing is bound
    // there.
    bool deliver(quint16 port, const QByteArray& data, const QHostAddress& from,
                 quint16 fromPort, const QHostAddress& local = QHostAddress());
    // Takes the datagrams sent so far.
    QList<FakeDatagram> takeSent();

    FakePlatform* platform = nullptr;
};

class FakeTimers final : public ITimerHost {
public:
    explicit FakeTimers(FakePlatform* platform) : m_platform(platform) {}
    void start(int id, int milliseconds) override {
        m_due[id] = now + milliseconds;
        lastInterval[id] = milliseconds;
    }
    void stop(int id) override { m_due.erase(id); }
    void release(int id) override { m_due.erase(id); }
    qint64 elapsedMs() override { return now; }

    bool isRunning(int id) const { return m_due.count(id) != 0; }
    // Moves the clock on, firing every timer that falls due, in time order.
    void advance(qint64 milliseconds);

    qint64 now = 0;
    QHash<int, int> lastInterval;

private:
    FakePlatform* m_platform;
    std::map<int, qint64> m_due;
};

// Real files, with a switch to make writes or reads fail with a given errno.
class FakeFiles final : public IFileSystem {
public:
    FakeFiles();
    ~FakeFiles() override;
    std::unique_ptr<IFile> openRead(const FolderPath& path, FileError* error) override;
    std::unique_ptr<IFile> createTemp(const FolderPath& besides, FileError* error) override;
    FileError probeExisting(const FolderPath& path) override;
    bool remove(const FolderPath& path) override;
    QString canonical(const FolderPath& path) override;
    bool folderReady(const QString& root) override;
    qint64 freeSpace(const FolderPath& path) override;
    bool lookAtFolder(const FolderPath& path, FolderStamp* stamp,
                      QList<QByteArray>* names) override;
    bool existsBeneath(const QString& root, const QByteArray& name, bool folderOnly) override {
        ++existsLooks;
        return m_real->files().existsBeneath(root, name, folderOnly);
    }

    int folderListings = 0; // how many times a folder's entries were read
    int readOpens = 0;      // openRead calls
    int existsLooks = 0;    // existsBeneath calls
    int folderChecks = 0;   // folderReady calls
    int failWritesWith = 0; // errno for every write from now on, 0 for none
    int failReadsWith = 0;
    int failRenameWith = 0; // errno for keeping a temporary file
    qint64 freeBytes = -2; // what freeSpace() answers; -2 asks the real file system

private:
    std::unique_ptr<IPlatform> m_real;
};

class FakePlatform final : public IPlatform {
public:
    FakePlatform() { net.platform = this; }
    std::unique_ptr<IDatagramSocket> bindUdp(const QHostAddress& address, quint16 port,
                                             const SocketOptions& options,
                                             QString* error) override;
    std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address, quint16 port,
                                                      const QString& device,
                                                      QString* error) override {
        net.boundDevice.insert(port, device);
        return bindUdp(address, port, SocketOptions{}, error);
    }
    // DHCPv6's socket: by its port, with its device and group recorded.
    std::unique_ptr<IDatagramSocket> bindLinkUdp6(quint16 port, const QString& device,
                                                  const QHostAddress& group,
                                                  QString* error) override {
        net.boundDevice.insert(port, device);
        joinedGroups.insert(port, group);
        return bindUdp(QHostAddress(QHostAddress::AnyIPv6), port, SocketOptions{}, error);
    }
    // The router messages' raw socket, as port kRouterPort; `routerRefusal` set is a
    // process without CAP_NET_RAW.
    static constexpr quint16 kRouterPort = 58;
    std::unique_ptr<IDatagramSocket> openRouterMessages(const QString& device,
                                                        QString* error) override {
        if (!routerRefusal.isEmpty()) {
            *error = routerRefusal;
            return nullptr;
        }
        net.boundDevice.insert(kRouterPort, device);
        return bindUdp(QHostAddress(QHostAddress::AnyIPv6), kRouterPort, SocketOptions{}, error);
    }
    QHash<quint16, QHostAddress> joinedGroups;
    QString routerRefusal;
    // Recorded, never the kernel's; `arpAllowed` false is a process without CAP_NET_ADMIN.
    bool addArpEntry(const QString& device, quint32 address, const QByteArray& mac) override {
        arpEntries.append({device, address, mac});
        return arpAllowed;
    }
    struct ArpEntry {
        QString device;
        quint32 address;
        QByteArray mac;
    };
    QList<ArpEntry> arpEntries;
    bool arpAllowed = true;
    ITimerHost& timers() override { return m_timers; }
    IFileSystem& files() override { return m_files; }
    QList<NetInterface> interfaces() override {
        return fakeInterfaces.isEmpty() ? IPlatform::interfaces() : fakeInterfaces;
    }
    qint64 openFileLimit() override { return fileLimit != -2 ? fileLimit : IPlatform::openFileLimit(); }

    FakeNetwork net;
    QList<NetInterface> fakeInterfaces; // empty: this host's own
    qint64 fileLimit = -2;              // -2: this process's own
    FakeTimers& clock() { return m_timers; }
    FakeFiles& fileSystem() { return m_files; }
    // The end of a dispatch (after each datagram delivered and each timer fired).
    void endDispatch() { runAfterDispatch(); }
    bool watchInterfaces() override { return watching = true; }
    // The interfaces become `now`, and the engine hears what changed, as the system
    // would tell it.
    void changeInterfaces(const QList<NetInterface>& now) {
        const QList<InterfaceEvent> events = InterfaceChanges(interfaces(), now);
        fakeInterfaces = now;
        for (const InterfaceEvent& e : events)
            if (watching && onInterfaceEvent)
                onInterfaceEvent(e);
        endDispatch();
    }
    bool watching = false;

private:
    FakeTimers m_timers{this};
    FakeFiles m_files;
};

// Records what the engine asks of the window.
class RecordingWindow final : public IServerWindow {
public:
    struct Row {
        RowTexts texts;
        RowState state = ROW_ACTIVE;
        int updates = 0;
        qint64 sent = 0, size = 0;
    };
    void AddRow(RowHandle h, const RowTexts& texts) override {
        rows[h] = Row{texts, ROW_ACTIVE, 0, 0, 0};
        order.append(h);
    }
    void UpdateRow(RowHandle row, const RowTexts& texts, RowState state) override {
        if (!rows.contains(row))
            return;
        rows[row].texts = texts;
        rows[row].state = state;
        ++rows[row].updates;
    }
    void DrawProgress(RowHandle row, qint64 sent, qint64 size) override {
        if (rows.contains(row)) {
            rows[row].sent = sent;
            rows[row].size = size;
        }
    }
    int PlayWaveResource(int id) override {
        sounds.append(id);
        return 1;
    }
    void StartAnimation() override { animation.append(QStringLiteral("start")); }
    void StopAnimation() override { animation.append(QStringLiteral("stop")); }
    void ShowMessage(const QString& text) override { messages.append(text); }
    void ShowDetails(RowHandle row, const RowDetails& d) override { details[row].append(d); }

    const Row& last() const { return *rows.constFind(order.last()); }

    QMap<RowHandle, Row> rows;
    QList<RowHandle> order;
    QMap<RowHandle, QList<RowDetails>> details; // every telling, in order
    QList<int> sounds;
    QStringList animation;
    QStringList messages;
};
