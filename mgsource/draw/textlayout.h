// Line layout of text-edit records: the line table (a data-zone handle the
// record owns), laying the text out by the record's kind, measuring lines
// and ranges run by run, and the password and hex display forms.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"

// Line table header (native order): line count, pending flags (bit 0: a
// change is pending; bit 1: besides, the lines from the change's start on
// were left for later), start of the changed range (-1: everything), its
// end in the new text, the length change, the remembered caret column
// (32767: none); then one entry per line.
enum : int32 {
  kTLCount = 0,
  kTLPending = 4,
  kTLChangeStart = 8,
  kTLChangeEnd = 12,
  kTLDelta = 16,
  kTLCaretColumn = 20,
  kTLHeader = 22,
  kTLEntrySize = 12,
};
constexpr uInt16 kTLNoCaretColumn = 32767;
constexpr uInt32 kTLPendingChange = 1, kTLPendingLater = 2;

// One line: its start offset, ascent, height, width and the width without
// trailing blanks and tabs.  Widths and heights are pinned at 32767.
struct TLineEntry {
  int32 start;
  int16 ascent;
  int16 height;
  int16 width;
  int16 trimmed;
};

// The number of lines of the record's table (0 without one) and one entry.
int32 TLineCount(TRecord record);
TLineEntry TLineAt(TRecord record, int32 line);

// Lays the text out when the record has no line table or a change is
// pending, then clears the pending flag.
QX_EXTERN_C void TValidateLines(TRecord record);
// Lays out at least the lines that hold offsets up to offset; the lines
// after them may be left for the next layout where the record's
// destination does not depend on them yet (see Layout).
void TValidateLinesTo(TRecord record, int32 offset);
// Before the destination moves down by dv: lays out the lines left for
// later when the move would bring them into the view, or the destination's
// top below the view's top.
void TValidateLinesForMove(TRecord record, int32 dv);
// Lays out the lines left for later, if any: called by the changes other
// than typing before they change the record, so that lines are left for
// later only between keys (the fonts of the record then keep one height).
void TValidateLinesLeft(TRecord record);
// Records a changed range (start -1: everything); ignored without a table.
QX_EXTERN_C void TMarkRelayout(TRecord record, int32 start, int32 oldLength, int32 newLength);
// Fills the entry's ascent, height and width for length bytes from its
// start; returns the width.
QX_EXTERN_C int32 TMeasureLine(TRecord record, TLineEntry* entry, int32 length);
// The width of a range measured run by run (offsets pinned to the text).
QX_EXTERN_C int32 TMeasureRange(TRecord record, int32 start, int32 length);
// A new pointer block holding the display form of the bytes (its length in
// *length), or null when the mode shows the text as it is.
QX_EXTERN_C UPtr TMakeDisplayText(uInt32 mode, const uChar* bytes, int32* length, int32 font);

// The point of an offset (v the baseline, h the horizontal position) and,
// when entry is not null, its line.  An offset at a soft break shows at the
// end of the line above unless atLineStart is set.
QX_EXTERN_C Point TOffsetToPt(TRecord record, int32 offset, Bool32 atLineStart, TLineEntry* entry);
// Options of TPtToOffset: 1 sets or clears the caret-placement flags the
// options carry; 2 clamps points above or below the view to the line's
// start or end.  Clicks pass 0x603, drags 0x403.
enum : int32 { kTPtSetFlags = 1, kTPtClampToView = 2, kTPtClick = 0x603, kTPtDrag = 0x403 };
// The offset nearest to a point (a tie goes to the later boundary).
QX_EXTERN_C int32 TPtToOffset(TRecord record, Point point, int32 options);
// The byte offsets of every character boundary of the range (one more than
// the characters; every byte in hex mode) as a new handle of int32s in
// *positions (null when memory runs out); returns the number of characters.
QX_EXTERN_C int32 TCharPositions(TRecord record, int32 start, int32 length, UHandle* positions);

// Test tooling: the number of line entries layouts have measured so far.
int32 TLayoutMeasuredLines();
// Test tooling: whether layouts may leave lines for later (they may unless
// set off; off, each lays out every line it must, as TValidateLines).
void TLayoutSetLeaving(bool may);
