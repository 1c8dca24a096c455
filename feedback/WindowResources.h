#pragma once

// Registers the window's compiled-in resources (sounds, pictures, clip) under
// ":/window/". They live in a static library, so someone has to pull them in;
// safe to call more than once.
void InitWindowResources();
