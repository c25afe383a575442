// Text parts of panel objects (unit labels among them) and the redraw
// request (OInval, panel/oinval.h), as the run-time library's unit-label
// editing and chart histories use them.
#pragma once
#include "panel/objects.h"
#include "panel/oinval.h"

#include "mgsource/window/textrec.h"

// Gives the text part new text, or a key, and answers reply flags:
// - with text and a length of 0 or more the text is replaced (in its
//   backslash-code form with the part's flag 0x1000000); a part without a
//   text record gets one in its bounds;
// - a negative length applies the key (key code, the character at text,
//   modifiers) to the text;
// - no text and a length of 0 or more lays the text out again.
// A part that sizes itself to its text (flags 0x60000; a Numeric's part
// without 0x40000) is invalidated, sized and invalidated again, and the
// reply is 0x80 (not after the keys 4 to 7 and 31, which move the caret or
// copy); 0x10 when memory ran out (the text unchanged).  A word naming no
// text record of ours is left alone (0).
QX_EXTERN_C int32 SetPartText(ObjHeap heap, int32 part, const uChar* text, int32 length, int32 keyCode,
                              int32 modifiers);
// Replaces the whole text of the record by the backslash-code form of the
// counted string, the selection kept on the same characters; 0, or the
// memory error with nothing changed.
QX_EXTERN_C MgErr SetTextShowingCodes(TRecord text, const LStr* string);
// The smaller of two unsigned 32-bit values.
QX_EXTERN_C uInt32 MinU32(uInt32 a, uInt32 b);
// Fills the unit-label and chart-history hooks of the run-time library (the
// label editing beeps with the window manager's beep).
void PanelInstallTextPartHooks();
