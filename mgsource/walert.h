// The window manager's modal alert and beep.
#pragma once
#include "extcode.h"

// Shows the text (a Pascal string) in a modal alert with a warning icon and
// returns when it is closed.  The second argument is not used.
QX_EXTERN_C void WAlert(ConstPStr text, int32 unused);

// Sounds the system beep (a display's own, or the terminal's bell).
QX_EXTERN_C void WBeep();

// The application's title, used as the alert's title.
void WSetAlertTitle(const char* title);
