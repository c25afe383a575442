// Activation, the one flashing caret of the system, the drop caret, and
// selecting text with the mouse: clicks, shift-clicks, double-clicks by
// words, select-all and drags with auto-scroll.  The caret flashes through
// the occurrence TXInitText makes: first 1000 ms after activation, a click,
// a key or a change of the selection, then every 500 ms, only for an empty
// selection in an editable record (edit classes 0x400 and 0x500).
//
// User-interface thread only; the flash handler runs from the occurrence
// check of the main loop.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"

constexpr int32 kTCaretFirstMs = 1000;
constexpr int32 kTCaretPeriodMs = 500;

// Click flags.
enum : int32 { kTClickExtend = 2, kTClickWord = 128, kTClickAll = 0x100 };
// TClick results.
enum : int32 { kTClickOutside = 0, kTClickVBar = 1, kTClickHBar = 2, kTClickDone = 3, kTClickReadOnly = 4,
               kTClickDrag = 5 };
// TIdle results.
enum : int32 { kTIdleOutside = 0, kTIdleVBar = 1, kTIdleHBar = 2, kTIdleEdit = 3, kTIdleReadOnly = 4 };

QX_EXTERN_C void TActivate(TRecord record, Bool32 redraw);
// (TDeactivate(record, redraw) is declared with the record.)
QX_EXTERN_C void TSuspend(TRecord record);
QX_EXTERN_C void TResume(TRecord record);
// What lies under the point: outside, a scroll bar, editable or read-only text.
QX_EXTERN_C int32 TIdle(TRecord record, Point point);
QX_EXTERN_C int32 TClick(TRecord record, Point point, int32 flags);
// A mouse-down: TClick, then, for a drag, tracking until release (100 ms
// per event; codes 1, 2, 3, 4, 6 and 7 passed on, others ended as 2).
QX_EXTERN_C int32 TTrack(TRecord record, Point point, int32 flags);
// Extends the selection of a drag to the point; auto-scrolls by a line or
// an "M" column when the point lies outside the record.
QX_EXTERN_C void TTrackTo(TRecord record, Point point, int32 eventCode);

QX_EXTERN_C void TShowDropCaret(TRecord record, Point point, WindowRef window);
QX_EXTERN_C void TMoveDropCaret(TRecord record, Point point);
QX_EXTERN_C void THideDropCaret();
QX_EXTERN_C int32 TGetDropOffset();

// Stops the flashing (erasing the shown caret when asked) and starts it
// again after delay ms; for the editor.
void TStopFlashing(TRecord record, Bool32 erase);
void TStartFlashing(TRecord record, int32 delayMs);
// Inverts the record's caret or selection in the current port again when it
// is shown: drawing the record's text painted over it.
void TRedrawShownCaret(TRecord record);
// The record that owns the caret (null for none).
TRecord TCaretOwner();
// Releases the flash handler; at the text manager's shut-down.
void TXFinishCaret();
