// Tip strips: the one small floating window with a one-line text shown
// next to an object under the mouse, placed so that it does not cover the
// object and stays on the object's monitor.  User-interface thread only.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"

// Shows the strip for an object whose global rectangle is given (a strip
// already shown is hidden first): 0, or 2 when the window cannot be made.
QX_EXTERN_C int32 WShowTipStrip(ConstPStr text, const Rect* rect);
// Destroys the strip; 1 when one was shown, else 0.
QX_EXTERN_C int32 WHideTipStrip();
// The strip window's event handler: keys go on to the active document
// window, redraws draw the strip; the result is always 0.
int32 WTipStripHandler(WEventRecord* event, uInt32 refCon);
// The strip's background colour (the shell sets it at start-up).
void WSetTipStripColor(DColor colour);
// The strip window (0 for none), for tests.
WindowRef WTipStripWindow();
