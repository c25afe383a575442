// Text-edit records: a data-zone handle holding a text's flags, mode, text
// handle, rectangles, background colour, selection and style runs; and their
// saved form, the "TRec" resource (old type "TREC"), read by TLoad.
//
// Fields in memory are in the processor's order at the offsets below; the
// saved form has the same layout big-endian, then (when the stored text word
// is 0) the text as a 32-bit count and its bytes.  Run fonts are font
// numbers in memory and indices of the file's font table when saved.  Every
// run holds one reference on its font; the insertion style (entry 0) holds
// one more.  User-interface thread only.
#pragma once
#include <cstddef>

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

// One style run: from start to the next run's start (or the text's end).
struct TStyleRun {
  uInt32 start;
  int32 font;
  DColor colour;
};
// The record in memory.  In a scaled copy (kTRFlagScaled) the selection
// words hold the scaled scroll-bar width and height.
struct TRecordData {
  uInt32 flags;
  uInt32 mode;
  UHandle text;
  Rect view;
  LRect dest;
  UHandle lines;
  DColor background;
  int32 selStart;
  int32 selEnd;
  uInt16 carried[2];
  int32 runCount;
  TStyleRun runs[1];  // the insertion style, then runCount runs
};
static_assert(sizeof(void*) != 4 ||
                  (sizeof(TRecordData) == kTRFixedSize && offsetof(TRecordData, text) == kTRText &&
                   offsetof(TRecordData, view) == kTRView && offsetof(TRecordData, dest) == kTRDest &&
                   offsetof(TRecordData, lines) == kTRLines && offsetof(TRecordData, background) == kTRBackground &&
                   offsetof(TRecordData, selStart) == kTRSelStart && offsetof(TRecordData, carried) == kTRCarried &&
                   offsetof(TRecordData, runCount) == kTRRunCount && offsetof(TRecordData, runs) == kTRRuns),
              "text record: fields in their order");
inline TRecordData* TRData(TRecord r) { return reinterpret_cast<TRecordData*>(*r); }

// Flag bits.
enum : uInt32 {
  kTRFlagCollapsed = 0x20,
  kTRFlagHexHalf = 0x40,
  kTRFlagSuspended = 0x80,
  kTRFlagActive = 0x100,
  kTRFlagAnchorBelow = 0x200,
  kTRFlagMovingBelow = 0x400,
  kTRFlagShown = 0x800,
  kTRFlagWordDrag = 0x1000,
  kTRFlagScaled = 0x4000,
  kTRFlagSharedText = 0x8000,
};
// Mode bits.
enum : uInt32 {
  kTRModeKind = 0x000F,
  kTRModeJustify = 0x0030,
  kTRJustifyRight = 0x10,
  kTRJustifyCentre = 0x20,
  kTRModeEditClass = 0x0F00,
  kTRModeVBar = 0x1000,
  kTRModeHBar = 0x2000,
  kTRModeBars = 0x3000,
  kTRModeInvalOnDeactivate = 0x4000,
  kTRModeKeepShown = 0x8000,
  kTRModeThinBars = 0x10000,
  kTRModePassword = 0x20000,
  kTRModeHex = 0x40000,
  kTRModeRelayoutBits = 0x30F2,  // a change of these lays the text out again
};
// Kinds (mode & kTRModeKind).
enum : uInt32 { kTRKindOneLine = 0, kTRKindBreakChar = 1, kTRKindLines = 2, kTRKindBox = 3, kTRKindWordWrap = 4 };

// The colour that new texts of panels take as text colour where no other is given.
extern DColor gDefaultTextColor;

// A new record: the text's copy, the insertion style of the font (an
// invalid one: the application font and gFontErr 16; one more reference)
// and colour, the rectangles set from view as by TSetRect.  Kinds 0 and 3
// lose the scroll-bar bits; flag 0x800 with mode 0x8000.  Null when memory
// runs out, nothing left allocated.
QX_EXTERN_C TRecord TNew(const Rect* view, uInt32 mode, const uChar* text, int32 length, int32 font,
                         DColor textColour, DColor background);
// Disposes the line table, the text (unless shared), every run's font and
// the record; an active record is deactivated first (debug report
// "### Disposing Active Text!").
QX_EXTERN_C void TDispose(TRecord record);
// Deactivates an active record: flashing stopped, the caret removed (the
// selection erased with redraw unless mode 0x8000 keeps it shown), and with
// redraw the outer rectangle invalidated when the background is transparent
// or mode 0x4000 is set.
QX_EXTERN_C void TDeactivate(TRecord record, Bool32 redraw);
// A copy sharing the text (flag 0x8000) or with its own copy; no line
// table, flags 0x80, 0x100, 0x800, 0x40, 0x1000 cleared (0x800 again with
// mode 0x8000); every run's font gains a reference (an invalid one becomes
// the application font, gFontErr 16).  Null when memory runs out.
QX_EXTERN_C TRecord TDuplicate(TRecord record, Bool32 shareText);
// A copy with its own text mapped from the rectangle from to the rectangle
// to: flag 0x4000, rectangles and scroll-bar sizes mapped (the sizes kept in
// the selection words), every run font scaled.  A collapsed record is copied
// unscaled.  Null on failure.
QX_EXTERN_C TRecord TScaleText(TRecord record, const Rect* from, const Rect* to);
// The view with its scroll bars and the destination (either may be null).
QX_EXTERN_C void TGetRect(TRecord record, Rect* view, LRect* dest);
// Sets the view and destination from the outer rectangle (scroll bars
// outside the view), collapsing the record when it is too small.
QX_EXTERN_C void TSetRect(TRecord record, const Rect* outer);
// Moves both rectangles by the point's parts.
QX_EXTERN_C void TOffsetRect(TRecord record, Point by);
QX_EXTERN_C uInt32 TGetMode(TRecord record);
QX_EXTERN_C void TSetMode(TRecord record, uInt32 mode, Bool32 redraw);
// The insertion text colour and the background; either pointer may be null.
QX_EXTERN_C void TSetColors(TRecord record, const DColor* text, const DColor* background, Bool32 redraw);
QX_EXTERN_C void TGetColors(TRecord record, DColor* text, DColor* background);
// Replaces the whole text (nothing when equal): the runs collapse to the
// insertion style, which takes the first run's font and colour; the
// selection is pinned to the new length.  0 or the memory error.
QX_EXTERN_C MgErr TReplaceText(TRecord record, const uChar* bytes, int32 length);
// The text handle, owned by the record.
QX_EXTERN_C UHandle TGetText(TRecord record);
// The record a stored word names, or null unless it is a live data-zone
// handle holding a whole record (its runs within it) whose text is a live
// data-zone handle with its count within it.
TRecord TCheckedRecord(uInt32 word);
// 1 when the text holds only blanks, tabs, line feeds, carriage returns,
// form feeds and backspaces (or nothing).
QX_EXTERN_C Bool32 TIsBlank(TRecord record);
// Marks the record for a full relayout.
QX_EXTERN_C void TRecalc(TRecord record);
// The insertion font with one more reference (none added to an invalid one).
QX_EXTERN_C int32 TGetFont(TRecord record);

// Loads the saved record of the id from file ("TRec", else "TREC"): 0 with
// the new record in *record, or an error with *record null.  The file's font
// table maps the runs' fonts (a missing table fails the load).  A text
// handle given replaces the loaded text (the record then owns it; the
// caller keeps it on failure).  With check set, a run whose table entry is
// marked sets font error 64.  Missing resource: gFontErr |= 2 and the
// resource error; a record whose run count or text runs past the resource,
// whose runs do not ascend from 0 inside the stored text or whose selection
// lies outside it: 1.  A given text keeps the runs that start inside it and
// pins the selection to its length.
QX_EXTERN_C MgErr TLoad(RsrcFileRef file, UHandle text, int32 id, TRecord* record, Bool32 check);
// Converts a saved record, read into the data-zone handle r (its size the
// resource's), into memory order in place: the run fonts through the file's
// font-reference map, the text given (else the stored one, else an empty
// one), the handle cut to the record's size.  0, 1 for a malformed record,
// 2 when memory runs out; on failure no font reference is taken, r holds no
// handle of its own and the caller disposes it (and keeps text).
MgErr TUnflattenTextRecord(RsrcFileRef file, TRecord r, UHandle text, Bool32 check);

// The hash of a Pascal string (upper-cased on a copy when upperCase is
// set); 0 for an empty one.
QX_EXTERN_C uInt32 PStrHash(ConstPStr text, Bool32 upperCase);

// Start-up of the text manager (the caret-flash occurrence, the font table,
// the grey pen) and its shut-down.
void TXInitText();
void TXFinishText();
// The grey pen made at start-up (0 before) and the caret-flash occurrence.
int32 TGreyPen();
uInt32 TCaretFlashOccurrence();

// Field access for the record's owners and tests.
inline int32 TRRunCount(TRecord r) { return TRData(r)->runCount; }
inline uInt32 TRWord(TRecord r, int32 at) {
  uInt32 v;
  __builtin_memcpy(&v, *r + at, 4);
  return v;
}
