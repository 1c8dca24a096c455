#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

// The engine's seam to the operating system: datagram sockets, numbered timers and
// files. On Linux the real one is epoll's (EpollPlatform) or io_uring's (UringPlatform),
// elsewhere Qt's (QtPlatform); tests plug in fakes with a fake clock, so time-outs never
// wait real seconds.

// How a socket reads, chosen when it is made.
struct SocketOptions {
    // Read what waits in one go (a burst of requests) rather than one datagram per
    // wake-up (a transfer, which mostly holds one ACK: a second read would only fail).
    bool batch = false;
    // Report the local address each datagram was sent to (null otherwise).
    bool wantLocalAddress = false;
    // Join the port's SO_REUSEPORT group: several engine threads each hold a listener on
    // the one port and the kernel spreads the clients over them. Linux platforms only;
    // the others refuse it (see canSharePort).
    bool reusePort = false;
    // Bytes the kernel may queue for the socket before it drops what arrives; 0 leaves
    // the system's default. The system's maximum (net.core.rmem_max) caps it unless the
    // process may administer the network.
    int receiveBuffer = 0;
};

class IDatagramSocket {
public:
    virtual ~IDatagramSocket() = default;
    // Called on the event loop once per received datagram, whole (any UDP datagram
    // fits; the handler cuts it to what it reads). The bytes and addresses belong to
    // the platform and last until the call returns. `to` is null unless asked for.
    std::function<void(const char* data, qint64 size, const QHostAddress& from, quint16 fromPort,
                       const QHostAddress& to)>
        onDatagram;

    virtual qint64 writeDatagram(const char* data, qint64 size, const QHostAddress& to,
                                 quint16 toPort) = 0;
    virtual quint16 localPort() const = 0;
    // Closes the socket at once (no more datagrams, not even the rest of what was read
    // with the one being handled; the port is free). Safe to call from within
    // onDatagram; the object itself is destroyed later (after the dispatch).
    virtual void close() = 0;
};

// Numbered, restartable single-shot timers: start() of a running id restarts it;
// stop() of a stopped id is harmless. Expiry is delivered through onTimeout on the
// event loop, once per start.
class ITimerHost {
public:
    virtual ~ITimerHost() = default;
    std::function<void(int id)> onTimeout;

    virtual void start(int id, int milliseconds) = 0;
    virtual void stop(int id) = 0;
    // Stops the timer and frees what it holds; the id may be started again later.
    virtual void release(int id) = 0;
    // Milliseconds on a clock that only moves forward (the same clock the timers run on).
    virtual qint64 elapsedMs() = 0;
};

// Why a file operation failed, sorted the way the transfer rules need it. A folder's
// name and a name that leads out of the folder are refused like AccessDenied, and told
// apart only so the row can say which.
enum class FileCause {
    None, FileNotFound, BadPath, AccessDenied, IsFolder, LeadsOut, HardIO, DiskFull, Other
};

struct FileError {
    FileCause cause = FileCause::None;
    QString text; // the system's text for the error
};

FileError FileErrorFromErrno(int err);

class IFile {
public:
    virtual ~IFile() = default;
    // Both return the byte count, or -1 with error() telling why.
    virtual qint64 read(char* data, qint64 maxSize) = 0;
    // Reads at a position, leaving the file position alone (a window resent).
    virtual qint64 readAt(char* data, qint64 maxSize, qint64 offset) = 0;
    virtual qint64 write(const char* data, qint64 size) = 0;
    virtual qint64 size() const = 0;
    virtual void close() = 0;
    virtual FileError error() const = 0;
    // The sharing table's key for the file as opened (what IFileSystem::canonical says
    // of its name), taken from the open file itself; empty where the file cannot tell.
    virtual QString shareKey() const { return QString(); }
    // The system's descriptor, for sending the file with sendfile; -1 where there is none.
    virtual int descriptor() const { return -1; }
    // A descriptor of its own on the same open file (for a sender that outlives this
    // object, which then closes it) and the file's modification time in seconds since
    // 1970; -1 where there is none.
    virtual int duplicateDescriptor(qint64* modified) const {
        (void)modified;
        return -1;
    }
    // Where the file's bytes begin in that descriptor's file: 0, but for a file served from
    // inside an ISO image, whose descriptor is the image's.
    virtual qint64 baseOffset() const { return 0; }
    // Hands its descriptor to the caller, who closes it (IPlatform::closeDescriptor);
    // -1 where the file closes its own in close(). Only a file opened for reading does.
    virtual int releaseDescriptor() { return -1; }
    // Only for a file from createTemp: puts it in the place of the name it was made
    // beside, in one step. A temporary file closed without it leaves nothing behind.
    virtual bool keep(FileError* error) {
        *error = {FileCause::Other, QString()};
        return false;
    }
};

// A name below the working folder: `root` is the folder, `name` the client's name with
// '/' between its parts and none in front, as the bytes the client sent. The bytes are
// the file name's bytes: two different names never reach the same file.
struct FolderPath {
    QString root;
    QByteArray name;
};

// What a folder was when it was looked at: the same folder (device, inode) with the same
// modification time has the same entries. `settled` when that time was well before the
// look, so that an entry added within the time's granularity cannot have been missed.
struct FolderStamp {
    quint64 device = 0, inode = 0;
    qint64 modifiedNs = -1;
    bool settled = false;
    bool sameAs(const FolderStamp& o) const {
        return device == o.device && inode == o.inode && modifiedNs == o.modifiedNs;
    }
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // An existing regular file for reading; anything else is AccessDenied.
    virtual std::unique_ptr<IFile> openRead(const FolderPath& path, FileError* error) = 0;
    // Creates a new file in the folder of `besides` that no name reaches until keep();
    // an existing file there lends it its permissions.
    virtual std::unique_ptr<IFile> createTemp(const FolderPath& besides, FileError* error) = 0;
    // FileNotFound when there is nothing at path (BadPath when its folder is missing),
    // None for an existing writable regular file, another cause otherwise.
    virtual FileError probeExisting(const FolderPath& path) = 0;
    virtual bool remove(const FolderPath& path) = 0;
    // A key that names the same file however it was spelled (for the sharing table).
    virtual QString canonical(const FolderPath& path) = 0;
    // Whether `root` is a folder that names can be resolved beneath (an absolute path
    // to an existing folder). Asked once per request, before its lookups.
    virtual bool folderReady(const QString& root) = 0;
    // Bytes free for an unprivileged writer in the folder of `path`; -1 when unknown.
    virtual qint64 freeSpace(const FolderPath& path) = 0;
    // The folder `path.name` ("." for the working folder itself), reached beneath it:
    // its stamp, and with `names` its entries (no "." or ".."). False when it is no
    // folder there. A listing costs a read of the whole folder; a stamp one stat.
    virtual bool lookAtFolder(const FolderPath& path, FolderStamp* stamp,
                              QList<QByteArray>* names) = 0;
    // Whether `name` (a file, or with `folderOnly` the folder that would hold it) exists
    // beneath `root`, reached without leaving it.
    virtual bool existsBeneath(const QString& root, const QByteArray& name, bool folderOnly) = 0;
};

// A network interface as the boot offers and the DHCP server choose one.
struct NetInterface {
    // Whether an interface counts as up: switched on and with a carrier. One without (no
    // cable, the peer off) is as good as down, for the engine and the dialogs alike.
    static bool CountsUp(bool switchedOn, bool carrier) { return switchedOn && carrier; }

    QString name;
    bool up = false; // CountsUp
    bool loopback = false;
    QList<QHostAddress> addresses;
    QList<int> prefixLengths; // of each address, in the same order
    QByteArray mac;           // its hardware address (6 bytes on Ethernet); empty: none
    int prefixLength(qsizetype i) const { return i < prefixLengths.size() ? prefixLengths[i] : 0; }
};

// A change to one of this host's interfaces, as the system tells it.
struct InterfaceEvent {
    enum Kind : quint8 { LinkUp, LinkDown, AddressAdded, AddressRemoved };
    InterfaceEvent() = default;
    InterfaceEvent(Kind k, const QString& n, int i = 0, const QHostAddress& a = {}, int p = 0)
        : kind(k), name(n), index(i), address(a), prefixLength(p) {}
    Kind kind = LinkUp;
    QString name;
    int index = 0;        // the system's number for it (0: not known)
    QHostAddress address; // the address events' address
    int prefixLength = 0;
    bool operator==(const InterfaceEvent&) const = default;
};
// This host's interfaces, from the system (what IPlatform::interfaces answers by default).
QList<NetInterface> SystemInterfaces();
// What changed from one look at the interfaces to the next, as events: links by name
// (an interface that appeared tells its state; one gone is a link down), then addresses.
QList<InterfaceEvent> InterfaceChanges(const QList<NetInterface>& before,
                                       const QList<NetInterface>& after);

class IPlatform {
public:
    virtual ~IPlatform() = default;
    // A UDP socket bound to address:port without address sharing (a port in use fails).
    virtual std::unique_ptr<IDatagramSocket> bindUdp(const QHostAddress& address, quint16 port,
                                                     const SocketOptions& options,
                                                     QString* error) = 0;
    virtual ITimerHost& timers() = 0;
    virtual IFileSystem& files() = 0;
    // Whether bindUdp takes SocketOptions::reusePort (several listeners on one port).
    virtual bool canSharePort() const { return false; }

    // A platform that can run its thread's loop itself, so that Qt's loop is not a
    // second wake-up in front of its own. runLoop() waits and dispatches until
    // quitLoop() (called on the loop's thread); wakeLoop(), from any thread, makes it
    // call onWake there. Without one the thread runs Qt's event loop.
    virtual bool hasOwnLoop() const { return false; }
    virtual void runLoop(const std::function<void()>& onWake) { (void)onWake; }
    virtual void wakeLoop() {}
    virtual void quitLoop() {}

    // A UDP socket for DHCP: address sharing on (a DHCP server on this host holds port
    // 67 too), broadcasts allowed, and when `device` is not empty tied to that interface:
    // the broadcasts arriving there are received, and 255.255.255.255 leaves through it.
    virtual std::unique_ptr<IDatagramSocket> bindBroadcastUdp(const QHostAddress& address,
                                                              quint16 port,
                                                              const QString& device,
                                                              QString* error) = 0;
    // Tells the kernel that `address` is at `mac` on `device`, so that a datagram can go
    // to a DHCP client by unicast before it has taken the address (it answers no ARP
    // yet). Needs CAP_NET_ADMIN; false without it, and the caller broadcasts instead.
    virtual bool addArpEntry(const QString& device, quint32 address, const QByteArray& mac);
    // DHCPv6 on one interface: a UDP socket on [::]:port tied to `device` that has joined
    // `group` there (a multicast sent to it arrives; our own multicast leaves through that
    // interface and does not come back). A link-local peer's address comes without its
    // scope: the caller knows the link. Null with the reason where the platform cannot.
    virtual std::unique_ptr<IDatagramSocket> bindLinkUdp6(quint16 port, const QString& device,
                                                          const QHostAddress& group,
                                                          QString* error);
    // Router solicitations and advertisements on `device`: a raw ICMPv6 socket that hears
    // only those two (and ff02::2, where solicitations go) and sends with hop limit 255,
    // as neighbour discovery demands. Datagrams are ICMPv6 messages (the kernel keeps the
    // checksum); the port is unused. Needs CAP_NET_RAW; null with the reason otherwise.
    virtual std::unique_ptr<IDatagramSocket> openRouterMessages(const QString& device,
                                                                QString* error);
    // The interfaces of this host, in the system's order.
    virtual QList<NetInterface> interfaces();
    // Tells onInterfaceEvent, on the loop's thread, of every link going up or down and
    // every address added or removed from now on. False where it cannot.
    virtual bool watchInterfaces() { return false; }
    std::function<void(const InterfaceEvent&)> onInterfaceEvent;
    // How many descriptors this process may hold open (RLIMIT_NOFILE); -1 for no limit.
    virtual qint64 openFileLimit();
    // Closes a descriptor the engine is done with. A platform with a submission queue
    // closes it with the pass's other work, not with a system call of its own.
    virtual void closeDescriptor(int fd);

    // Runs after each wake-up's datagrams and timers, where no handler is on the stack:
    // the engine frees what its handlers retired there.
    void setAfterDispatch(std::function<void()> fn) { m_afterDispatch = std::move(fn); }

protected:
    void runAfterDispatch() {
        if (m_afterDispatch)
            m_afterDispatch();
    }

private:
    std::function<void()> m_afterDispatch;
};

// The real platform over Qt (QUdpSocket, QTimer): every system, and the tests'
// real-socket checks.
std::unique_ptr<IPlatform> CreateQtPlatform();
#ifdef VANTREL_HAVE_EPOLL
// Linux: epoll, one timerfd, recvmmsg/sendmmsg, driven from the Qt event loop through
// one socket notifier. Null when the kernel refuses epoll or timerfd.
std::unique_ptr<IPlatform> CreateEpollPlatform();
#endif
#ifdef VANTREL_HAVE_URING
// Linux with liburing: one io_uring for the sockets' receives and sends, the timers and
// the wake-up. Null when the kernel refuses io_uring or lacks what it needs (6.1).
std::unique_ptr<IPlatform> CreateUringPlatform();
#endif
// The native platform where there is one (VANTREL_PLATFORM=uring, epoll or qt picks
// one; a refused one falls back to the next), Qt otherwise.
std::unique_ptr<IPlatform> CreateDefaultPlatform();
