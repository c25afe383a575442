// Text parts of panel objects (unit labels among them) and the redraw
// request (OInval, panel/oinval.h), as the run-time library's unit-label
// editing and chart histories use them.
#pragma once
#include "panel/objects.h"
#include "panel/oinval.h"

// Replaces the text of the text part (its text record, made in the part's
// bounds when it has none) with length bytes of text; the flags of the
// update (0: the layout is the part's own business).  A negative length, a
// part without a text word, a word naming no text record, or memory that
// cannot be had leaves the text as it was.
QX_EXTERN_C int32 SetPartText(ObjHeap heap, int32 part, const uChar* text, int32 length);
// Fills the unit-label and chart-history hooks of the run-time library (the
// label editing beeps with the window manager's beep).
void PanelInstallTextPartHooks();
