// Pens: the colours, pattern, width, transfer mode, line style and polygon
// fill mode that all drawing uses.  Pens live in one table and are named by
// small numbers: 0 none, 1 the normal pen (a plain one-pixel solid pen whose
// colour is set at every DSelectNormPen), 2 the gray pen, and further pens
// made by DNewPen.  On the host port a pen becomes a host pen and brush
// selected into the device context of the drawing state; the normal pen
// takes its objects from a cache keyed by palette index.
//
// User-interface thread only; the table, the cache and the current pen are
// plain globals.
#pragma once
#include <cstddef>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// The public description of a pen, read and written by field mask.
struct PenState {
  DColor fore;        // the 1 bits of the pattern
  DColor back;        // the 0 bits of the pattern
  uChar pattern[8];   // 8 x 8, one byte a row, the high bit leftmost
  int16 width;        // line width in pixels
  int16 mode;         // transfer mode 0 to 7
  uInt32 style;       // host line style (0 solid)
  uInt32 fill;        // polygon fill: 0 alternate, other winding
};
static_assert(sizeof(PenState) == 28, "pen state record");
static_assert(offsetof(PenState, back) == 4 && offsetof(PenState, pattern) == 8 && offsetof(PenState, width) == 16 &&
                  offsetof(PenState, mode) == 18 && offsetof(PenState, style) == 20 && offsetof(PenState, fill) == 24,
              "pen state fields");

// Field mask bits.
enum : int32 {
  kPenWidth = 1,
  kPenMode = 2,
  kPenStyle = 4,
  kPenFore = 8,
  kPenBack = 16,
  kPenFill = 32,
  kPenPattern = 64,
  kPenAll = 127,
};

// Pen numbers with a meaning of their own.
enum : int32 {
  kPenNone = 0,
  kNormalPen = 1,
  kGrayPen = 2,
  kCurrentPen = -2,   // DGetPenState, DSetPenState, DSelectPen: the current pen
  kDefaultPenBase = -1,  // DNewPen: the default pen state as base
};

// Flags of a table entry.
enum : uInt16 {
  kPenChanged = 0x0001,     // changed since last applied
  kPenInUse = 0x0002,
  kPenBWOverride = 0x0004,  // black-and-white colours stand in for its own
  kPenExactSolid = 0x0008,  // the brush is an exact solid colour
};

// A new pen: the masked fields from state, the others from pen base (-1:
// the default state).  The pen number, 0 on failure.
QX_EXTERN_C int32 DNewPen(int32 base, int32 mask, const PenState* state);
// Frees a pen of 2 or above; other numbers are ignored.
QX_EXTERN_C void DDestroyPen(int32 pen);
// Copies the masked fields; -2 is the current pen; 18 for a pen that does
// not exist (outside 1 to count - 1, or freed).
QX_EXTERN_C MgErr DGetPenState(int32 pen, int32 mask, PenState* state);
// Changes the masked fields of a pen of 2 or above (-2 the current one);
// 18 for any other.  A field equal to the stored one changes nothing.
QX_EXTERN_C MgErr DSetPenState(int32 pen, int32 mask, const PenState* state);

// The current pen as a two-word record, and its selection again.
struct DPenRecord {
  int32 pen;
  DColor colour;  // the normal pen's colour (transparent while it is invisible)
};
void DSaveCurPen(DPenRecord* record);
void DRestoreCurPen(const DPenRecord* record);
// No pen is known to be selected into the device context any more: the
// next selection applies everything again.
void DForgetPen();
// Applies a pen to the device context of the drawing state, skipping every
// host call whose setting equals that of the pen applied before; 18 for a
// pen that does not exist or without a device context.
MgErr DApplyPen(int32 pen);

// The drawing manager's start and end: stock objects, the colour cache, the
// tangent table and the built-in pens; and everything freed again.
void DInitDraw();
void DDisposeDraw();

// What the primitives need of pens.
struct DPenUse {
  int32 width;   // at least 0
  int32 mode;    // as stored (may lie outside 0 to 7)
  bool patterned;
  bool exact;
  uInt32 style;
};
// The current pen's use (the normal pen's when none is current).
DPenUse DCurrentPenUse();
// The current pen number (0: none).
int32 DCurrentPenNumber();
// The pattern raster operation of a mode: modes 0 to 2 their own; others
// are reported and copy.
uInt32 DModeFillOp(int32 mode);
// The stock null brush taken at start.
uInt32 DNullBrush();

// Tests: the colour cache.
struct DCacheInfo {
  int32 live;
  uInt32 useCount[256];
  bool held[256];  // the entry holds objects
};
void DGetCacheInfo(DCacheInfo* out);
void DSetCacheUseCount(int32 index, uInt32 count);
// The one-off pen and brush (0 when none).
void DGetOneOffPair(uInt32* pen, uInt32* brush);
// The number of entries of the pen table.
int32 DPenCount();

// A table pen as a page writer sees it: its own colours (the saved ones
// while black-and-white colours stand in for them), pattern, width, mode and
// style, and whether it changed since it was last applied (the changed bit
// is cleared).  False for a pen outside 2 to count - 1 or not in use.
struct DPenView {
  DColor fore;
  DColor back;
  uChar pattern[8];
  int32 width;
  int32 mode;
  uInt32 style;
  bool changed;
};
bool DPenForPage(int32 pen, DPenView* out);
