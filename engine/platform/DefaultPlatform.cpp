#include "engine/platform/Platform.h"

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
