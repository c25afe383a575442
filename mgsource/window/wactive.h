// The active window: the one that takes the keys.  Making another window
// active sends the previous one the deactivate event and the new one the
// activate event.
#pragma once
#include "mgsource/window/window.h"

// Nothing when the window is active already or is not a window, and
// nothing while another change of the active window is under way (from the
// handlers of the two events).
QX_EXTERN_C void WSetActiveWindow(WindowRef window);
QX_EXTERN_C Bool32 WIsActive(WindowRef window);
// Delivers an event after the delivery rules: a mouse move (3) the window's
// idle region does not want is dropped (0); a click (1) or pop-up click
// (19) on a window that is not active makes it active first.  Then
// WSendEvent.
QX_EXTERN_C int32 WDispatchEvent(WEventRecord* event);
// The active window, 0 for none (or when it was destroyed).
WindowRef WGetActiveWindow();
// When the window is the active one, replacement (0: none) becomes it.
void WForgetActive(WindowRef window, WindowRef replacement = kWNoWindow);
