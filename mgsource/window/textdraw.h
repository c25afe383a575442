// Drawing text-edit records and one-off text boxes through the current
// port, their scroll bars, and scrolling records.  The host port's text-box
// and text-record slots run HostTextBox and HostTextDraw (declared with the
// other host slots); while a picture is recorded they record instead.
//
// Scroll part codes: 2/3 one line up/down, 4/5 one column left/right, 6/7
// one page up/down, 8/9 one page left/right; a code with bit 31 set is an
// absolute position in its low 30 bits, horizontal with bit 30.
//
// User-interface thread only.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"

// Edit class bits of a text box's mode: 0x100 greys the text.
constexpr int32 kTBoxGreyed = 0x100;
constexpr int32 kTBoxKindLineInBox = 8;  // one line in a box, as records draw
constexpr DColor kTGreyText = 0xCCCCCC;

// With flag set, draws the text once offset by (1, 1) in the shadow colour
// and then normally (over the same background); else a plain TBox.
QX_EXTERN_C int32 TBoxShadowed(const Rect* r, int32 mode, const uChar* text, int32 length, int32 font, DColor fore,
                               DColor back, DColor bwFore, DColor bwBack, DColor shadow, Bool32 flag);
// The system's highlight text and background colours, swapped while the
// inversion flag is set.
QX_EXTERN_C void TGetHiliteColors(DColor* text, DColor* background);
// While set, selected text is drawn with the highlight pair swapped (the
// panel sets it around a Boolean text drawn white on black).
extern Bool32 gInvertHilite;

// Scrolls by a part code and redraws.
QX_EXTERN_C void TScroll(TRecord record, int32 part);
// Scrolls by a part code, redrawing when asked.  Returns 1 when it moved.
QX_EXTERN_C int32 TScrollByPart(TRecord record, int32 part, Bool32 redraw);
// Scrolls so that the offset is visible; 1 when it scrolled.
QX_EXTERN_C int32 TScrollToOffset(TRecord record, int32 offset, Bool32 redraw);
// How: 1 the line's top to the view's top, 2 its bottom to the view's
// bottom, 3 only when not fully visible (as 1 when its bottom is above the
// view's bottom, else as 2).  Returns the vertical distance moved.
QX_EXTERN_C int32 TScrollToLine(TRecord record, int32 line, int32 how, Bool32 redraw);
// The first line whose bottom lies below the view's top into *line; the
// result is the view's top minus that line's bottom (0 for collapsed
// records, *line untouched).
QX_EXTERN_C int32 TGetTopLine(TRecord record, int32* line);
// Moves the destination by the distances and redraws (scroll bars too when
// drawBars is set).
QX_EXTERN_C void TScrollBy(TRecord record, int32 dv, int32 dh, Bool32 drawBars);
QX_EXTERN_C int32 TGetRunCount(TRecord record);
// The run (pinned to 0..count - 1; without runs the insertion style over
// the whole text): its font (no reference added), colour, start and end.
QX_EXTERN_C void TGetRunInfo(TRecord record, int32 run, int32* font, DColor* colour, int32* start, int32* end);

// The record's scroll-bar rectangles (empty for a bar it does not have).
void TGetBarRects(TRecord record, Rect* vertical, Rect* horizontal);
// Draws the record's scroll bars.
void TDrawBars(TRecord record);
// A mouse-down at the point: tracked on a bar of the record, scrolling by
// each part the tracker reports.  0 when the point is on no bar, else 1
// (vertical bar) or 2 (horizontal).
QX_EXTERN_C int32 TClickScrollBars(TRecord record, Point point);
