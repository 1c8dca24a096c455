#pragma once

#include <QtGlobal>
#include <unordered_map>

// The HTTP side's open connections, as the library's thread sees them, so that one
// client cannot hold them all: near the limit the oldest idle keep-alive connection is
// closed to make room, rather than a newcomer refused. (The per-address cap and the
// short time-out of a request not yet whole are the library's, set where it starts.)
class CHttpConnections {
public:
    // `limit` connections in all; at `limit - headroom` and above, room is made.
    CHttpConnections(int limit, int headroom) : m_nLimit(limit), m_nHeadroom(headroom) {}

    // A new connection on socket `fd`. Returns the socket of the connection to close to
    // make room (the oldest idle one), or -1 when none needs to or can be.
    int Opened(const void* key, int fd);
    // A request's line is in (busy until it ends); `badPath` when its path may not be served.
    void Began(const void* key, bool badPath);
    // Whether the request just begun had a path that may not be served.
    bool BadPath(const void* key) const;
    // Its response is done: the connection waits, idle, for the next request.
    void Ended(const void* key);
    void Closed(const void* key);
    int Count() const { return int(m_conns.size()); }

private:
    struct Conn {
        int fd = -1;
        bool idle = false;    // kept alive between requests
        bool badPath = false; // the request being read
        quint64 idleSince = 0;
    };
    std::unordered_map<const void*, Conn> m_conns;
    quint64 m_nTick = 0; // orders the idle ones
    int m_nLimit;
    int m_nHeadroom;
};
