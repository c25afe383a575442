// Activation and focus.
//
// One window is active at a time; it also has the focus (keys go to it).
// Activating W while A is active sends, in this order: [ActivateApp(1) to
// every window when the application was inactive], NcActivate A off,
// Activate A Inactive (other W), NcActivate W on, Activate W (Active, or
// ClickActive for a click; other A), KillFocus A, SetFocus W; W comes to
// the front of its band.  Explicit activation (these calls) always works;
// activation that the system starts (a click, or passing to the owner when
// the active window hides or dies) first sends WindowPosChanging and stops
// when its handler adds kPlatSwpNoActivate.  Headless, the application
// starts active.
#pragma once
#include "platform/qx_window.h"

// Returns the window active before; 0 deactivates.  A window that does not
// exist fails (0, kPlatErrInvalidHandle) and changes nothing.
PlatWindow PlatSetActiveWindow(PlatWindow w);
PlatWindow PlatGetActiveWindow();
PlatWindow PlatSetFocus(PlatWindow w);
PlatWindow PlatGetFocus();
// The application's own activation: going inactive deactivates the active
// window and sends ActivateApp(0) to every window.
void PlatSetAppActive(bool active);
bool PlatIsAppActive();
