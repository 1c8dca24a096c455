#include "Platform.h"

std::unique_ptr<IPlatform> CreateDefaultPlatform() {
#ifdef VANTREL_HAVE_EPOLL
    if (qgetenv("VANTREL_PLATFORM") != "qt") {
        if (auto platform = CreateEpollPlatform())
            return platform;
    }
#endif
    return CreateQtPlatform();
}
