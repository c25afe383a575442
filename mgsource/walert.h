// The window manager's modal alert and beep.
#pragma once
#include "extcode.h"

// Shows the text (a Pascal string) in a modal warning box with an empty
// caption and returns when it is closed; the second argument is not used.
// Meanwhile a native modal dialog is marked up (the floating windows are
// left alone) and the in-alert flag is set.  A box shown during a redraw
// takes the current window out of view: it loses its active and visible
// flags and is minimised, and the frame is told (its fifth user message).
// Afterwards every window is invalidated.  Any thread.
QX_EXTERN_C void WAlert(ConstPStr text, int32 unused);
// Non-zero while an alert of WAlert is up.
Bool32 WInAlert();

// Sounds the system beep (a display's own, or the terminal's bell).
QX_EXTERN_C void WBeep();
