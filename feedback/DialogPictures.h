#pragma once

// Registers the pictures of the splash screen, the help sheet and the About box
// (res/dialogs.qrc). They live in a static library, so the program has to ask for them
// before the first use; calling it again is harmless.
void InitDialogPictures();
