#pragma once

#include "engine/server/Admission.h"

#include <QHostAddress>
#include <QString>
#include <functional>
#include <memory>

class ServiceContext;
struct MHD_Daemon;

// The working folder over HTTP: GET and HEAD (single ranges too) of files beneath it,
// each admitted by the same rules as a TFTP read request, each a row like a download.
// libmicrohttpd serves on a thread of its own and sends the file with sendfile; every
// decision and every row change runs on the engine thread: the library's thread hands
// the request over and waits for the answer, and ends are queued back the same way.
class CHttpService {
public:
    static constexpr int kProgressMs = 250;
    // Connections: in all, from one address, and how long one may stay silent before
    // its request is whole (then a minute, as for an idle keep-alive connection).
    static constexpr unsigned kMaxConnections = 1000;
    static constexpr unsigned kMaxConnectionsPerClient = 128;
    static constexpr unsigned kRequestTimeoutS = 10;
    static constexpr unsigned kIdleTimeoutS = 60;
    using Post = std::function<void(std::function<void()>)>;

    // post runs a call on the engine thread; everything else here runs there too.
    CHttpService(ServiceContext& context, Post post);
    ~CHttpService();
    CHttpService(const CHttpService&) = delete;
    CHttpService& operator=(const CHttpService&) = delete;

    // The Content-Type of a file by its name's ending, in any letter case: UEFI HTTP boot
    // takes an EFI program, an ISO or a disk image only under its own type.
    static const char* ContentType(const QByteArray& name);

    bool Start(const QHostAddress& address, quint16 port, QString* error);
    // Closes the port and every connection; responses cut short end their rows.
    void Stop();
    bool IsRunning() const { return m_daemon != nullptr; }
    quint16 Port() const { return m_nPort; }
    void OnTimer();

    struct Request;
    struct Shared;

private:
    void Admit(Request& request);
    void Finish(Request& request, bool whole);
    void Redirect(Request& request, const QByteArray& target, const QString& note);
    void Refuse(Request& request, Refusal why, const QString& folder = QString());
    void Refuse(Request& request, int status, const QString& why, bool missing);
    void WatchProgress();

    ServiceContext& m_context;
    int m_nTimerId = 0; // the progress of responses
    Post m_post;
    std::shared_ptr<Shared> m_shared;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_nPort = 0;
    bool m_bTimerRunning = false;

    friend struct HttpCallbacks;
};
