#include "DialogPictures.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must run outside any namespace.
static void initDialogsResource() {
    Q_INIT_RESOURCE(dialogs);
}

void InitDialogPictures() {
    static const bool done = (initDialogsResource(), true);
    Q_UNUSED(done);
}
