#include "engine/http/HttpService.h"

#include "engine/files/FileShareTable.h"
#include "engine/files/NameRules.h"
#include "engine/http/HttpConnections.h"
#include "engine/http/HttpRedirect.h"
#include "engine/platform/NormalAddress.h"
#include "engine/server/ServiceContext.h"
#include "engine/tftp/TftpPacket.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include <microhttpd.h>
#include <netinet/in.h>
#include <linux/tcp.h> // tcp_info with tcpi_bytes_acked
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString bytesText(qint64 n) { return QString::number(n) + QStringLiteral(" Bytes"); }

// An HTTP date, in English whatever the locale.
QByteArray httpDate(time_t t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[tm.tm_wday],
                  tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

// One "bytes=" range of a file of `size` bytes. Several ranges, or one that does not
// parse, are ignored (the whole file is sent, as HTTP allows).
enum class Range { Whole, Part, Unsatisfiable };
Range parseRange(const char* header, qint64 size, qint64* first, qint64* last) {
    if (!header || strncasecmp(header, "bytes=", 6) != 0)
        return Range::Whole;
    const QByteArray asked = QByteArray(header + 6).trimmed();
    if (asked.contains(','))
        return Range::Whole;
    const int dash = asked.indexOf('-');
    if (dash < 0)
        return Range::Whole;
    const QByteArray from = asked.left(dash).trimmed(), to = asked.mid(dash + 1).trimmed();
    bool okFrom = false, okTo = false;
    const qint64 a = from.toLongLong(&okFrom), b = to.toLongLong(&okTo);
    if (from.isEmpty()) { // the last b bytes
        if (!okTo || b < 0)
            return Range::Whole;
        if (b == 0 || size == 0)
            return Range::Unsatisfiable;
        *first = std::max<qint64>(0, size - b);
        *last = size - 1;
        return Range::Part;
    }
    if (!okFrom || a < 0 || (!to.isEmpty() && (!okTo || b < a)))
        return Range::Whole;
    if (a >= size)
        return Range::Unsatisfiable;
    *first = a;
    *last = to.isEmpty() ? size - 1 : std::min(b, size - 1);
    return Range::Part;
}

// Changes whenever the file does (replaced, written, resized), so that a resumed
// download never joins two versions.
QByteArray entityTag(const struct stat& st) {
    return '"' + QByteArray::number(quint64(st.st_ino), 16) + '-' +
           QByteArray::number(qint64(st.st_size), 16) + '-' +
           QByteArray::number(qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, 16) +
           '"';
}

// If-Range (RFC 9110 13.1.5): the range stands only while the validator the client
// holds is the file's; a weak tag never matches.
bool ifRangeHolds(const QByteArray& ifRange, const QByteArray& etag, time_t modified) {
    const QByteArray v = ifRange.trimmed();
    if (v.startsWith('"') || v.startsWith("W/"))
        return v == etag;
    return v == httpDate(modified);
}

// A path whose bytes, once percent-decoded, hold a control character (the name rule).
bool hasControlCharacter(const char* uri) {
    const QByteArray raw(uri);
    const QByteArray path = raw.left(raw.indexOf('?') < 0 ? raw.size() : raw.indexOf('?'));
    return HasControlCharacter(QByteArray::fromPercentEncoding(path));
}

qint64 bytesAcked(int socket) {
    struct tcp_info info {};
    socklen_t length = sizeof info;
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return 0;
    return qint64(info.tcpi_bytes_acked);
}
} // namespace

const char* CHttpService::ContentType(const QByteArray& name) {
    const QByteArray lower = name.toLower();
    if (lower.endsWith(".efi"))
        return "application/efi";
    if (lower.endsWith(".iso"))
        return "application/vnd.efi-iso";
    if (lower.endsWith(".img"))
        return "application/vnd.efi-img";
    return "application/octet-stream";
}

// One request, from the library's first call to its end. The engine thread fills the
// answer; the library's thread waits for it under Shared::lock.
struct CHttpService::Request {
    QByteArray name;
    QHostAddress client;
    QByteArray range; // the Range header, if any
    QByteArray ifRange; // the If-Range header: the range only while the file is that one
    bool head = false;
    bool asked = false; // handed to the engine
    int socket = -1;

    // The answer.
    bool answered = false;
    int status = 0;
    int fd = -1; // for the response, which closes it
    qint64 size = 0, first = 0, length = 0;
    qint64 base = 0; // where the file begins in fd's file (a member of an ISO image)
    time_t modified = 0;
    QByteArray etag;
    QByteArray body; // a refusal's text
    QByteArray location; // a redirect's target

    // The library's thread, before the response is queued: progress counts from here.
    qint64 ackedAtStart = 0;

    // The engine thread's.
    bool admitted = false;
    bool changed = false; // the file shrank while it was being sent: cut off
    int watchFd = -1;     // the file, to see it shrink (the response's own may be closed first)
    ~Request() {
        if (watchFd >= 0)
            ::close(watchFd);
    }
    RowHandle row = 0;
    RowTexts texts;
    QString shareKey;
};

struct CHttpService::Shared {
    std::mutex lock;
    std::condition_variable answered;
    bool stopping = false;
    CHttpService* owner = nullptr;  // read and written on the engine thread only
    std::vector<Request*> sending; // responses on their way, under lock
    // The library's thread only.
    CHttpConnections connections{int(CHttpService::kMaxConnections), 16};
};

// The library's callbacks, on its thread.
struct HttpCallbacks {
    static inline char kRefusedMethod = 0; // the context of a request answered 405
    static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* url,
                               const char* method, const char*, const char*,
                               size_t* uploadSize, void** context) {
        auto* service = static_cast<CHttpService*>(cls);
        if (*context == &kRefusedMethod) { // more of a refused request's body: dropped
            *uploadSize = 0;
            return MHD_YES;
        }
        if (!*context) {
            // The whole request is in: from now on a slow reader is no attacker.
            MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT,
                                      CHttpService::kIdleTimeoutS);
            if (service->m_shared->connections.BadPath(connection)) {
                *context = &kRefusedMethod;
                static const char text[] = "Bad request.\n";
                MHD_Response* response = MHD_create_response_from_buffer(
                    sizeof text - 1, const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
                const MHD_Result queued =
                    MHD_queue_response(connection, MHD_HTTP_BAD_REQUEST, response);
                MHD_destroy_response(response);
                return queued;
            }
            const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
            if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
                *context = &kRefusedMethod;
                static const char text[] = "Only GET and HEAD are served here.\n";
                MHD_Response* response = MHD_create_response_from_buffer(
                    sizeof text - 1, const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
                MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
                const MHD_Result queued =
                    MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
                MHD_destroy_response(response);
                return queued;
            }
            // Answered on the next call, once the whole request is in: a response
            // queued sooner would close the connection after it (no keep-alive).
            auto* request = new CHttpService::Request;
            *context = request; // freed when the library tells the end
            // The path without its leading '/': the name as a TFTP client would send
            // it, so rewrite rules and the read filter see the same text.
            request->name = url;
            if (request->name.startsWith('/'))
                request->name.remove(0, 1);
            request->head = head;
            return MHD_YES;
        }
        auto* request = static_cast<CHttpService::Request*>(*context);
        if (*uploadSize) { // a body sent with GET means nothing
            *uploadSize = 0;
            return MHD_YES;
        }
        if (request->asked)
            return MHD_YES;
        request->asked = true;
        if (const char* range =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE))
            request->range = range;
        if (const char* ifRange = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                              MHD_HTTP_HEADER_IF_RANGE))
            request->ifRange = ifRange;
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
            request->client = NormalAddress(QHostAddress(info->client_addr));
        if (const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
            request->socket = info->connect_fd;

        // The decision is the engine's: asked on its thread, waited for here.
        const std::shared_ptr<CHttpService::Shared> shared = service->m_shared;
        service->m_post([shared, request] {
            {
                std::lock_guard<std::mutex> lock(shared->lock);
                if (shared->stopping)
                    return; // the waiting side has gone; the request is not touched
            }
            if (shared->owner)
                shared->owner->Admit(*request);
            std::lock_guard<std::mutex> lock(shared->lock);
            request->answered = true;
            shared->answered.notify_all();
        });
        {
            std::unique_lock<std::mutex> lock(shared->lock);
            shared->answered.wait(lock, [&] { return request->answered || shared->stopping; });
            if (!request->answered)
                return MHD_NO;
        }

        MHD_Response* response = nullptr;
        if (request->fd >= 0) {
            response = MHD_create_response_from_fd_at_offset64(
                uint64_t(request->length), request->fd, uint64_t(request->base + request->first));
            if (!response)
                ::close(request->fd);
        } else {
            response = MHD_create_response_from_buffer(
                size_t(request->body.size()), request->body.data(), MHD_RESPMEM_MUST_COPY);
        }
        if (!response)
            return MHD_NO;
        if (request->status == MHD_HTTP_OK || request->status == MHD_HTTP_PARTIAL_CONTENT) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                                    CHttpService::ContentType(request->name));
            MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED,
                                    httpDate(request->modified).constData());
            MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, request->etag.constData());
        }
        if (request->status == MHD_HTTP_FOUND)
            MHD_add_response_header(response, MHD_HTTP_HEADER_LOCATION, request->location.constData());
        if (request->status == MHD_HTTP_PARTIAL_CONTENT) {
            const QByteArray range = QByteArray("bytes ") + QByteArray::number(request->first) +
                                     '-' +
                                     QByteArray::number(request->first + request->length - 1) +
                                     '/' + QByteArray::number(request->size);
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, range.constData());
        } else if (request->status == MHD_HTTP_RANGE_NOT_SATISFIABLE) {
            const QByteArray range = "bytes */" + QByteArray::number(request->size);
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, range.constData());
        }
        if (request->admitted && !request->head && request->socket >= 0) {
            request->ackedAtStart = bytesAcked(request->socket);
            std::lock_guard<std::mutex> lock(shared->lock);
            shared->sending.push_back(request);
        }
        const MHD_Result queued = MHD_queue_response(connection, unsigned(request->status), response);
        MHD_destroy_response(response);
        return queued;
    }

    // Before the library closes the connection: the socket is still this request's
    // while it is in the sending list.
    static void OnCompleted(void* cls, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode how) {
        static_cast<CHttpService*>(cls)->m_shared->connections.Ended(connection);
        if (!*context || *context == &kRefusedMethod)
            return;
        auto* request = static_cast<CHttpService::Request*>(*context);
        *context = nullptr;
        auto* service = static_cast<CHttpService*>(cls);
        const std::shared_ptr<CHttpService::Shared> shared = service->m_shared;
        {
            std::lock_guard<std::mutex> lock(shared->lock);
            std::erase(shared->sending, request);
        }
        const std::shared_ptr<CHttpService::Request> owned(request);
        const bool whole = how == MHD_REQUEST_TERMINATED_COMPLETED_OK;
        service->m_post([shared, owned, whole] {
            if (shared->owner)
                shared->owner->Finish(*owned, whole);
        });
    }

    // Each request line, before its headers: the path is looked at as sent, since the
    // decoded one would end at a NUL. Until the request is whole the connection has
    // the short time-out.
    static void* OnUri(void* cls, const char* uri, MHD_Connection* connection) {
        static_cast<CHttpService*>(cls)->m_shared->connections.Began(connection,
                                                                     hasControlCharacter(uri));
        MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT,
                                  CHttpService::kRequestTimeoutS);
        return nullptr;
    }

    // Near the limit the oldest idle keep-alive connection makes room: shut down here,
    // on the library's thread, before the library itself closes its socket.
    static void OnConnection(void* cls, MHD_Connection* connection, void**,
                             MHD_ConnectionNotificationCode code) {
        CHttpConnections& connections = static_cast<CHttpService*>(cls)->m_shared->connections;
        if (code == MHD_CONNECTION_NOTIFY_CLOSED)
            return connections.Closed(connection);
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        const int idle = connections.Opened(connection, info ? info->connect_fd : -1);
        if (idle >= 0)
            ::shutdown(idle, SHUT_RDWR);
    }
};

CHttpService::CHttpService(ServiceContext& context, Post post)
    : m_context(context), m_post(std::move(post)), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
    m_nTimerId = m_context.registerTimer([this] { OnTimer(); });
}

CHttpService::~CHttpService() {
    Stop();
    m_context.unregisterTimer(m_nTimerId);
    m_shared->owner = nullptr;
}

bool CHttpService::Start(const QHostAddress& address, quint16 port, QString* error) {
    if (m_daemon)
        return true;
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        m_shared->stopping = false;
    }
    sockaddr_in v4 {};
    sockaddr_in6 v6 {};
    const sockaddr* where = nullptr;
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD;
    bool isV4 = false;
    const quint32 ip4 = address.toIPv4Address(&isV4);
    if (address == QHostAddress(QHostAddress::AnyIPv4) ||
        (isV4 && address.protocol() == QAbstractSocket::IPv4Protocol)) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        v4.sin_addr.s_addr = htonl(ip4);
        where = reinterpret_cast<const sockaddr*>(&v4);
    } else {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        const Q_IPV6ADDR ip6 = address.toIPv6Address();
        std::memcpy(&v6.sin6_addr, &ip6, sizeof ip6);
        where = reinterpret_cast<const sockaddr*>(&v6);
        flags |= address == QHostAddress(QHostAddress::Any) ? MHD_USE_DUAL_STACK : MHD_USE_IPv6;
    }
    errno = 0;
    m_daemon = MHD_start_daemon(
        flags, port, nullptr, nullptr, &HttpCallbacks::OnAccess, this, MHD_OPTION_SOCK_ADDR,
        where, MHD_OPTION_NOTIFY_COMPLETED, &HttpCallbacks::OnCompleted, this,
        MHD_OPTION_URI_LOG_CALLBACK, &HttpCallbacks::OnUri, this,
        MHD_OPTION_NOTIFY_CONNECTION, &HttpCallbacks::OnConnection, this,
        // A connection that has not sent a whole request goes after a few silent
        // seconds; one kept alive between requests after a minute (set per request).
        MHD_OPTION_CONNECTION_TIMEOUT, kRequestTimeoutS, MHD_OPTION_CONNECTION_LIMIT,
        kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerClient,
        MHD_OPTION_END);
    if (!m_daemon) {
        if (error)
            *error = errno ? QString::fromLocal8Bit(std::strerror(errno))
                           : QStringLiteral("the HTTP server did not start");
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_nPort = info ? info->port : port;
    return true;
}

void CHttpService::Stop() {
    if (!m_daemon)
        return;
    {
        // A request waiting for the engine (this thread) would wait for ever.
        std::lock_guard<std::mutex> lock(m_shared->lock);
        m_shared->stopping = true;
        m_shared->answered.notify_all();
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_nPort = 0;
    m_context.platform().timers().stop(m_nTimerId);
    m_bTimerRunning = false;
}

// The same rules as a TFTP read request, in the same order: the client list, the
// read filter, where the name leads, then the file itself.
void CHttpService::Admit(Request& request) {
    ServiceContext& engine = m_context;
    RowTexts& texts = request.texts;
    texts.client = request.client.toString();
    texts.file = QFile::decodeName(request.name);
    texts.service = QStringLiteral("HTTP");
    const Admission admission = engine.admission();
    Refusal why = admission.Client(request.client);
    if (why == Refusal::None)
        why = admission.Read(request.name);
    if (why != Refusal::None)
        return Refuse(request, why);
    ResolvedPath asked = engine.resolve(request.name, false, request.client);
    if (!asked.askedNote.isEmpty())
        texts.file = QFile::decodeName(asked.path.name);
    why = Admission::ForPath(asked.refuse, asked.missingFolder);
    if (why != Refusal::None)
        return Refuse(request, why, asked.missingFolder);
    QString key;
    FileError error;
    const std::unique_ptr<IFile> file = engine.paths().OpenSharedForReading(asked.path, &error, &key,
                                                                             std::move(asked.file));
    qint64 modified = 0;
    const int fd = file ? file->duplicateDescriptor(&modified) : -1;
    if (fd < 0) {
        if (file)
            engine.shares().Release(key, CFileShareTable::Use::Read);
        return Refuse(request, Admission::ForFile(file ? FileCause::HardIO : error.cause, false));
    }
    request.size = file->size();
    request.base = file->baseOffset();
    request.modified = time_t(modified);
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        request.etag = entityTag(st);
    // A member of an image: the image's tag, told apart by where the member lies.
    if (request.base > 0 && !request.etag.isEmpty())
        request.etag.insert(request.etag.size() - 1, '-' + QByteArray::number(request.base, 16));
    texts.size = bytesText(request.size);
    texts.bytes = request.size;
    // Admitted by the same rules first: the cache is only where the bytes come from. A
    // member of an image stays here: the cache holds no such name.
    const QByteArray cache =
        request.base > 0 ? QByteArray()
                         : HttpRedirect::Target(HttpRedirect::SettingsOf(engine.settings()),
                                                asked.path.name, request.size);
    if (!cache.isEmpty()) {
        ::close(fd);
        engine.shares().Release(key, CFileShareTable::Use::Read);
        return Redirect(request, cache, asked.askedNote);
    }
    qint64 first = 0, last = request.size - 1;
    const bool rangeStands =
        !request.range.isEmpty() &&
        (request.ifRange.isEmpty() || ifRangeHolds(request.ifRange, request.etag, request.modified));
    const Range range = !rangeStands
                            ? Range::Whole
                            : parseRange(request.range.constData(), request.size, &first, &last);
    if (range == Range::Unsatisfiable) {
        ::close(fd);
        engine.shares().Release(key, CFileShareTable::Use::Read);
        return Refuse(request, MHD_HTTP_RANGE_NOT_SATISFIABLE,
                      QStringLiteral("Range not satisfiable: ") +
                          QString::fromLatin1(request.range),
                      false);
    }
    request.status = range == Range::Part ? MHD_HTTP_PARTIAL_CONTENT : MHD_HTTP_OK;
    request.first = first;
    request.length = range == Range::Part ? last - first + 1 : request.size;
    request.fd = fd;
    if (!request.head)
        request.watchFd = ::dup(fd);
    request.admitted = true;
    request.shareKey = key;
    if (request.head)
        texts.info = QStringLiteral("HEAD: %1").arg(bytesText(request.size));
    else if (range == Range::Part)
        texts.info = QStringLiteral("Sending bytes %1-%2 of %3").arg(first).arg(last).arg(request.size);
    else
        texts.info = QStringLiteral("Total file size is %1 Bytes").arg(request.size);
    texts.info += asked.askedNote;
    engine.countIn();
    request.row = engine.addRow(texts);
    engine.playSound(SOUND_REQUEST);
    if (!request.head)
        WatchProgress();
}

// A 302 to the cache; the row ends at once, as nothing more goes out from here.
void CHttpService::Redirect(Request& request, const QByteArray& target, const QString& note) {
    ServiceContext& engine = m_context;
    request.status = MHD_HTTP_FOUND;
    request.location = target;
    request.body = "Redirected to " + target + '\n';
    request.texts.info = QStringLiteral("Redirected to %1").arg(QString::fromLatin1(target)) + note;
    request.row = engine.addRow(request.texts);
    engine.rows().UpdateRow(request.row, request.texts, ROW_SENT);
}

void CHttpService::Refuse(Request& request, Refusal why, const QString& folder) {
    const RefusalEntry& entry = RefusalFor(why);
    Refuse(request, entry.httpStatus,
           RefusalRow(why, why == Refusal::MissingFolder ? folder : QString()), entry.missingFile);
}

void CHttpService::Refuse(Request& request, int status, const QString& why, bool missing) {
    ServiceContext& engine = m_context;
    request.status = status;
    request.body = why.toUtf8() + '\n';
    request.texts.info = why;
    request.texts.missingFile = missing;
    request.row = engine.addRow(request.texts);
    engine.rows().UpdateRow(request.row, request.texts, ROW_FAILED);
    if (!missing || !engine.settings().hideMissingFiles)
        engine.playSound(SOUND_FAILED);
}

void CHttpService::Finish(Request& request, bool whole) {
    if (!request.admitted)
        return;
    ServiceContext& engine = m_context;
    engine.shares().Release(request.shareKey, CFileShareTable::Use::Read);
    RowTexts& texts = request.texts;
    if (whole) {
        if (!request.head) {
            engine.rows().DrawProgress(request.row, request.length, request.length);
            texts.info = request.status == MHD_HTTP_PARTIAL_CONTENT
                             ? QStringLiteral("Transfer Complete (bytes %1-%2)")
                                   .arg(request.first)
                                   .arg(request.first + request.length - 1)
                             : QStringLiteral("Transfer Complete");
        }
        engine.countOut();
        engine.rows().UpdateRow(request.row, texts, ROW_SENT);
        engine.playSound(SOUND_SENT);
    } else {
        texts.info = request.changed
                         ? QString::fromLatin1(kFileChanged)
                         : QStringLiteral("Connection closed before the whole file was sent");
        engine.countOut();
        engine.rows().UpdateRow(request.row, texts, ROW_FAILED);
        engine.playSound(SOUND_FAILED);
    }
}

void CHttpService::WatchProgress() {
    if (m_bTimerRunning)
        return;
    m_bTimerRunning = true;
    m_context.platform().timers().start(m_nTimerId, kProgressMs);
}

// The bytes the client has acknowledged, from the kernel: the file goes out with
// sendfile, so nothing here sees it pass.
void CHttpService::OnTimer() {
    m_bTimerRunning = false;
    struct Figure {
        RowHandle row;
        qint64 done, total;
    };
    std::vector<Figure> figures;
    {
        std::lock_guard<std::mutex> lock(m_shared->lock);
        for (Request* r : m_shared->sending) {
            // A file cut short would leave the client waiting for bytes that never come
            // (or zeros): the connection closes at once, the row says why. The socket is
            // still this request's while it is in the list.
            struct stat st {};
            if (!r->changed && r->watchFd >= 0 && ::fstat(r->watchFd, &st) == 0 &&
                qint64(st.st_size) < r->base + r->first + r->length) {
                r->changed = true;
                ::shutdown(r->socket, SHUT_RDWR);
            }
            const qint64 done =
                std::clamp<qint64>(bytesAcked(r->socket) - r->ackedAtStart, 0, r->length);
            figures.push_back({r->row, done, r->length});
        }
    }
    for (const Figure& f : figures)
        m_context.rows().DrawProgress(f.row, f.done, f.total);
    if (!figures.empty())
        WatchProgress();
}
