#include "WindowResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initWindowQrc() {
    Q_INIT_RESOURCE(window);
}

void InitWindowResources() {
    static const bool done = (initWindowQrc(), true);
    Q_UNUSED(done);
}
