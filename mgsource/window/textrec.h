// Text-edit records: a data-zone handle holding a text's flags, mode, text
// handle, rectangles, background colour, selection and style runs; and their
// saved form, the "TRec" resource (old type "TREC"), read by TLoad.
//
// Fields in memory are in the processor's order at the offsets below; the
// saved form has the same layout big-endian, then (when the stored text word
// is 0) the text as a 32-bit count and its bytes.  Run fonts are font
// numbers in memory and indices of the file's font table when saved.
// User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/rsrc.h"

typedef UHandle TRecord;

constexpr ResType kTextRecordType = FourCC("TRec");
constexpr ResType kOldTextRecordType = FourCC("TREC");

enum : int32 {
  kTRFlags = 0,
  kTRMode = 4,
  kTRText = 8,        // the text handle: u32 count, then the bytes
  kTRView = 12,       // Rect: int16 top, left, bottom, right
  kTRDest = 20,       // LRect: int32 top, left, bottom, right
  kTRLines = 36,      // the line table handle
  kTRBackground = 40, // DColor; kTransparentColor for none
  kTRSelStart = 44,
  kTRSelEnd = 48,
  kTRCarried = 52,    // two 16-bit words kept through copying, saving and loading
  kTRRunCount = 56,
  kTRRuns = 60,       // 1 + run count entries: start, font, colour
  kTRRunSize = 12,
  kTRFixedSize = 72,  // the record with no run beyond the insertion style
};

// Flag bits used here.
enum : uInt32 {
  kTRFlagHexHalf = 0x40,
  kTRFlagSuspended = 0x80,
  kTRFlagActive = 0x100,
  kTRFlagWordDrag = 0x1000,
  kTRFlagSharedText = 0x8000,
};

// The colour that new texts of panels take as text colour where no other is given.
extern DColor gDefaultTextColor;

// Loads the saved record of the id from file ("TRec", else "TREC"): 0 with
// the new record in *record, or an error with *record null.  The file's font
// table maps the runs' fonts (a missing table fails the load).  A text
// handle given replaces the loaded text (the record then owns it).  With
// check set, a run whose table entry is marked sets font error 64.
// Missing resource: gFontErr |= 2 and the resource error; a record whose
// run count or text runs past the resource: 1.
QX_EXTERN_C MgErr TLoad(RsrcFileRef file, UHandle text, int32 id, TRecord* record, Bool32 check);
// Disposes the text (unless shared), every run's font and the record; an
// active record is deactivated first (debug report "### Disposing Active Text!").
QX_EXTERN_C void TDispose(TRecord record);
QX_EXTERN_C void TDeactivate(TRecord record);
// The insertion text colour and the background; either pointer may be null.
QX_EXTERN_C void TSetColors(TRecord record, const DColor* text, const DColor* background, Bool32 redraw);
QX_EXTERN_C void TGetColors(TRecord record, DColor* text, DColor* background);
// Replaces the whole text (nothing when equal): the runs collapse to the
// insertion style, which takes the first run's font and colour; the
// selection is pinned to the new length.  0 or the memory error.
QX_EXTERN_C MgErr TReplaceText(TRecord record, const uChar* bytes, int32 length);
// The text handle, owned by the record.
QX_EXTERN_C UHandle TGetText(TRecord record);

// Field access for the record's owners and tests.
inline int32 TRRunCount(TRecord r) {
  int32 v;
  __builtin_memcpy(&v, *r + kTRRunCount, 4);
  return v;
}
inline uInt32 TRWord(TRecord r, int32 at) {
  uInt32 v;
  __builtin_memcpy(&v, *r + at, 4);
  return v;
}
