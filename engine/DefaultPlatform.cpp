#include "Platform.h"

// Which native platform serves when none is asked for: the one that measured faster
// (docs/performance.md).
#ifdef VANTREL_HAVE_URING
static constexpr bool kUringFirst = false;
#endif

std::unique_ptr<IPlatform> CreateDefaultPlatform() {
    const QByteArray asked = qgetenv("VANTREL_PLATFORM");
    if (asked == "qt")
        return CreateQtPlatform();
#ifdef VANTREL_HAVE_URING
    if (asked == "uring" || (asked != "epoll" && kUringFirst)) {
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
