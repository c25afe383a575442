// The active window: the one that takes the keys.  Making another window
// active sends the previous one the deactivate event and the new one the
// activate event.
#pragma once
#include "mgsource/window/window.h"

enum : int32 { kWEvDeactivate = 39, kWEvActivate = 40 };
// Nothing when the window is active already or is not a window.
QX_EXTERN_C void WSetActiveWindow(WindowRef window);
// The active window, 0 for none (or when it was destroyed).
WindowRef WActiveWindow();
