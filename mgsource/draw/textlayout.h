// Line layout of text-edit records: the line table (a data-zone handle the
// record owns), laying the text out by the record's kind, measuring lines
// and ranges run by run, and the password and hex display forms.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"

// Line table header (native order): line count, pending flags (bit 0),
// start of the changed range (-1: everything), its end in the new text, the
// length change, the remembered caret column (32767: none); then one entry
// per line.
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
