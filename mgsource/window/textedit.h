// Editing text-edit records: the selection set by program, typing and
// deleting through keys, style runs kept in order through every change,
// fonts and colours set on the selection, and the exchange of styled text
// with a second record that stands for the clipboard.
//
// Runs stay in this shape after every change: none for an empty text, the
// first at 0, starts strictly ascending and inside the text, no two
// neighbours of the same font (TFontCompare mask 141) and colour, and a
// single run equal to the insertion style folded into it.  Every run holds
// one reference on its font.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"

// Which end of the selection moves when it is extended: 0 the end, 1 the
// start.
QX_EXTERN_C int32 TGetMovingEnd(TRecord record);
QX_EXTERN_C void TSetMovingEnd(TRecord record, int32 startMoves);

// The selection (either pointer may be null); 1 when it is not empty.
QX_EXTERN_C Bool32 TGetSelection(TRecord record, int32* start, int32* end);
// Start pinned to 0..length, end to start..length; the insertion style is
// taken from the new selection.  Nothing is drawn.
QX_EXTERN_C void TSelectText(TRecord record, int32 start, int32 end);
// Selects a line (its start to the next line's start): both ends out, or -1
// for both when the line does not exist or is the empty last line.
QX_EXTERN_C void TSelectLine(TRecord record, int32 line, int32* start, int32* end);
// The line count after layout, -1 without a line table.
QX_EXTERN_C int32 TNLines(TRecord record);
// The range a double-click at offset selects (the word, number, hex group
// or password line around it).
void TWordAt(TRecord record, int32 offset, int32* start, int32* end);

// Key codes the editor acts on.
enum : int32 {
  kTKeyClear = 1,
  kTKeyUp = 4,
  kTKeyDown = 5,
  kTKeyLeft = 6,
  kTKeyRight = 7,
  kTKeyDelete = 9,
  kTKeyHome = 10,
  kTKeyEnd = 11,
  kTKeyPageUp = 12,
  kTKeyPageDown = 13,
  kTKeyChar = 27,
  kTKeyDoubleByte = 28,
  kTKeyWideChar = 29,
};
constexpr int32 kTModExtend = 2;  // modifier bit: extend the selection
// Handles one key: moves, types or deletes (hex records take hex digits,
// two in a row making one byte; any other character beeps).
QX_EXTERN_C void TKey(TRecord record, int32 keyCode, int32 character, int32 modifiers, Bool32 redraw);
// Inserts bytes at the selection (replacing it) in the insertion style;
// a failed growth changes nothing.  0 or the memory error.
QX_EXTERN_C MgErr TInsert(TRecord record, const uChar* bytes, int32 length);
// Applies the TModifyFont mask of font to the insertion font and to every
// run of the selection.
QX_EXTERN_C void TSetFont(TRecord record, int32 font, int32 mask, Bool32 redraw);
// The same for font, mask and the keep bits of a style change, without
// drawing.  0 or the memory error (nothing changed).
MgErr TSetFontInRange(TRecord record, int32 font, int32 mask);
// Colours the selection (as TSetFontInRange does fonts).
MgErr TSetColorInRange(TRecord record, DColor colour);
// Splits the run that holds offset there, so that a run starts at offset
// (nothing at 0, at the text's end or at a run's start).  0 or the memory
// error.
MgErr TSplitRuns(TRecord record, int32 offset);
// Enforces the run shape described above.
void TNormalizeRuns(TRecord record);

// The selection's text and runs into clipboard (emptied first; nothing
// from a password record; the display form from a hex record).
QX_EXTERN_C void TCopy(TRecord record, TRecord clipboard);
// TCopy when clipboard is given, then the selection deleted.
QX_EXTERN_C void TCut(TRecord record, TRecord clipboard, Bool32 redraw);
// The clipboard's text and runs in place of the selection (hex records take
// hex digit pairs with blanks, tabs and line ends; anything else beeps and
// changes nothing).  A null clipboard only deletes the selection.
QX_EXTERN_C void TPaste(TRecord clipboard, TRecord record, Bool32 redraw);
