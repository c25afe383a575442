// The cursors of a graph: each a GraphCursor record in the graph's cursor
// list (a 1-D array inside the graph's private data block, also the value
// of the cursor legend), their style and lock encodings, the point markers,
// the cursor label and its font, and a new cursor's defaults.
// User-interface thread only.
#pragma once
#include "controls/graph.h"
#include "mgsource/objheap.h"

// ---- One cursor ------------------------------------------------------------------
// The twenty fields of a GraphCursor, in declaration order.  Their offsets
// come from the record's descriptor (GraphCursorFields), never fixed.
enum GraphCursorField : int32 {
  kGCFlags,        // uint32: the flag bits below
  kGCPlot,         // uint32: plot snapped or locked to (signed; -1 none)
  kGCPointStyle,   // uint32: 0 no marker, 4..19 a marker
  kGCColour,       // uint32: DColor; 0x1000000 not drawn
  kGCName,         // string handle: the name and label text
  kGCX,            // float64: user units of the X scale
  kGCY,            // float64
  kGCZ,            // float64: intensity graphs' value under the cursor
  kGCIndex,        // uint32: the data point's index (signed)
  kGCV,            // int16: the centre's pixel position
  kGCH,            // int16
  kGCReserved,     // uint32: created zero, carried
  kGCLabelMode,    // uint32: text mode; bits 0x30 go to the text routines
  kGCLabelHeight,  // int16: measured label size
  kGCLabelWidth,   // int16
  kGCLabelV,       // int16: label centre
  kGCLabelH,       // int16
  kGCSelected,     // Boolean
  kGCStyleButton,  // Boolean: the legend row's style button
  kGCLockButton,   // Boolean: the legend row's lock button (= flag 0x20)
  kGCFieldCount
};
// Flag bits (field kGCFlags).
enum : uInt32 {
  kCursorVLineMask = 0x3,     // vertical line: 0 none, 1 ticks, 2 full
  kCursorHLineMask = 0xC,     // horizontal line, shifted left by 2
  kCursorShowLabel = 0x10,
  kCursorSnapped = 0x20,      // "Snap to point" and "Lock to plot"
  kCursorNew = 0x80,          // made by a list write, not yet initialised
  kCursorHoldH = 0x100,       // while dragged: moves vertically only
  kCursorHoldV = 0x200,       // while dragged: moves horizontally only
  kCursorLockedToPlot = 0x800,
  kCursorNoDrag = 0x1000,
  kCursorNoHit = 0x2000,      // excluded from hit testing like kCursorNoDrag
};
enum : int32 { kCursorLineNone = 0, kCursorLineTicks = 1, kCursorLineFull = 2 };
// The cursor's label starts with this text mode.
constexpr uInt32 kCursorLabelModeInit = 0x20;
// A new cursor's label centre lies this many pixels above the cursor.
constexpr int32 kCursorLabelRise = 20;

// The record's size and field offsets, from the private data block's
// static descriptor; null when it cannot be built.
struct GraphCursorLayout {
  int32 size;
  int32 at[kGCFieldCount];
};
const GraphCursorLayout* GraphCursorFields();

// Reading and writing one field of a record (the field's own type; no
// alignment is assumed of the record's address).
uInt32 CursorU32(const uChar* cursor, GraphCursorField f);
void SetCursorU32(uChar* cursor, GraphCursorField f, uInt32 v);
int16 CursorI16(const uChar* cursor, GraphCursorField f);
void SetCursorI16(uChar* cursor, GraphCursorField f, int16 v);
float64 CursorF64(const uChar* cursor, GraphCursorField f);
void SetCursorF64(uChar* cursor, GraphCursorField f, float64 v);
Bool32 CursorBool(const uChar* cursor, GraphCursorField f);
void SetCursorBool(uChar* cursor, GraphCursorField f, Bool32 v);
UHandle CursorName(const uChar* cursor);
void SetCursorName(uChar* cursor, UHandle name);

// ---- Style and lock mode --------------------------------------------------------------
// Cursor style n (0..8) = 3 x horizontal kind + vertical kind, stored in
// flag bits 0..3 as (horizontal << 2) | vertical.  Styles outside 0..8 give -1.
int32 CursorStyleFlags(int32 style);
int32 CursorStyleOfFlags(uInt32 flags);
// Lock modes: 0 "Free", 1 "Snap to point", 2 "Lock to plot".
enum : int32 { kCursorLockFree = 0, kCursorLockSnap = 1, kCursorLockPlot = 2 };
int32 CursorLockMode(uInt32 flags);
// The flags with the lock mode's bits set (modes outside 0..2: unchanged).
uInt32 CursorFlagsWithLock(uInt32 flags, int32 mode);
// String list 81 "_Locked Style Menu": 1 the menu's title, 2..4 the modes.
constexpr int32 kLockedStyleMenuList = 81, kLockedStyleFirstMode = 2;

// ---- Point markers ----------------------------------------------------------------------
// What a point style draws centred on (h, v): a shape in the box v+low ..
// v+high, h+low .. h+high (bottom and right exclusive; lines and the
// diamond run between the two ends), and a second piece: the same framed
// shape inset by 1, or the centre pixel.
enum CursorMarkShape : uChar {
  kMarkNone, kMarkFrameOval, kMarkPaintOval, kMarkFrameRect, kMarkPaintRect, kMarkPixel, kMarkPlus, kMarkCross,
  kMarkDiamond,
};
enum : uChar { kMarkExtraNone = 0, kMarkExtraInset = 1, kMarkExtraCentre = 2 };
struct CursorMarker {
  CursorMarkShape shape;
  uChar extra;
  int8 low, high;
};
// The marker of a point style; styles outside 4..19 draw none.
CursorMarker CursorMarkerOf(int32 pointStyle);

// ---- The list ----------------------------------------------------------------------------
// The first record of the cursor list of the graph's private data block at
// that data offset and the count; null and 0 without a list block (or one
// that does not hold its count of records).  Records are
// GraphCursorFields()->size bytes apart.
QX_EXTERN_C UPtr GetGraphCursorList(ObjHeap heap, int32 graphData, int32* count);
// The cursor list of a graph (its data word checked first).
UPtr GraphCursorsOf(ObjHeap heap, int32 graph, int32* count);

// ---- Labels -----------------------------------------------------------------------------
// A new reference to the label font: the font of the text part of the name
// string in the cursor legend's element, else the application font.  The
// caller disposes it (TDisposeFont).
QX_EXTERN_C int32 GetGraphCursorFont(ObjHeap heap, int32 graph);
// Measures the name in the font into the label height and width; 1 when
// the label is shown and its size changed, else 0 (also when no text
// record could be made).
QX_EXTERN_C int32 MeasureCursorLabel(UPtr cursor, int32 font);
// Measures every cursor's label in the cursor font; *changed (when given)
// tells whether any shown label changed size.  0.
QX_EXTERN_C int32 MeasureAllCursorLabels(ObjHeap heap, int32 graph, int32 unused, Bool32* changed);
// Gives a cursor made by a list write its defaults: a name from string
// 314's "Cursor %ld" and the legend cell's position when it has none, flag
// 0x80 cleared, its pixel position, the label 20 pixels above, measured,
// and its area and the legend element invalidated.  0.
QX_EXTERN_C int32 InitNewGraphCursor(ObjHeap heap, int32 graph, int32 legendElement, UPtr cursor);

// ---- Pixel positions and areas (controls/cursordraw.h has the rest) -------------------
// The cursor's pixel position from x and y on the first scales, the label
// centre moved by the same delta.  0, or the scale's error.
QX_EXTERN_C int32 UpdateCursorPixel(ObjHeap heap, int32 graph, UPtr cursor, int32 index);
// Invalidates in the current window the cursor's marker box (point style
// not 0) and the pieces named (line bits of the flags, 0x10 the label)
// inside the plot rectangle; 1 when any piece met it.
QX_EXTERN_C int32 InvalCursorArea(UPtr cursor, const Rect* plotRect, int32 pointStyle, int32 pieces);
