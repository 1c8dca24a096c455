#include "engine/platform/Platform.h"

#include <QNetworkInterface>
#include <algorithm>
#include <sys/resource.h>

std::unique_ptr<IPlatform> CreateDefaultPlatform() {
    const QByteArray asked = qgetenv("VANTREL_PLATFORM");
    if (asked == "qt")
        return CreateQtPlatform();
#ifdef VANTREL_HAVE_URING
    // Only when asked: epoll measured faster on one stream and on small files
    // (docs/performance.md).
    if (asked == "uring") {
        if (auto platform = CreateUringPlatform())
            return platform;
    }
#endif
#ifdef VANTREL_HAVE_EPOLL
    if (auto platform = CreateEpollPlatform())
        return platform;
#endif
    return CreateQtPlatform();
}

QList<NetInterface> IPlatform::interfaces() { return SystemInterfaces(); }

QList<NetInterface> SystemInterfaces() {
    QList<NetInterface> out;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        NetInterface n;
        n.name = i.name();
        n.up = i.flags() & QNetworkInterface::IsUp;
        n.loopback = i.flags() & QNetworkInterface::IsLoopBack;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            n.addresses.append(e.ip());
        out.append(n);
    }
    return out;
}

qint64 IPlatform::openFileLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(std::min<rlim_t>(limit.rlim_cur, 1 << 20));
}
