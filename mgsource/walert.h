// The window manager's modal alert.
#pragma once
#include "extcode.h"

// Shows the text (a Pascal string) in a modal alert with a warning icon and
// returns when it is closed.  The second argument is not used.
QX_EXTERN_C void WAlert(ConstPStr text, int32 unused);

// The application's title, used as the alert's title.
void WSetAlertTitle(const char* title);
