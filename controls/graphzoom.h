// Zooming, panning and scrolling a graph's scales, the format precision of
// a scale's format code, and the graph class's pop-up method.  Points are
// packed as the horizontal coordinate in the high 16 bits and the vertical
// one in the low 16 bits.  User-interface thread only.
#pragma once
#include "controls/graph.h"
#include "panel/popup.h"
#include "panel/transact.h"

inline int32 PackGraphPoint(int32 h, int32 v) { return int32((uInt32(uInt16(h)) << 16) | uInt16(v)); }
inline int32 GraphPointH(int32 p) { return int16(uInt32(p) >> 16); }
inline int32 GraphPointV(int32 p) { return int16(uInt32(p) & 0xFFFF); }

// Sets every X scale and the Y scale of the order (every order with -1) to
// the values under the rectangle the two corners span, then redraws the
// graph.  Nothing when the corners share a coordinate.  0 or the first error.
QX_EXTERN_C MgErr ZoomToRect(ObjHeap heap, int32 graph, int32 a, int32 b, int32 order);
// Moves the edges of the X and the order's Y pixel ranges toward the point
// (zoom in: tool 6, reversed by shift, modifier bit 2) or away from it by a
// tenth of their distance, rounded; nothing outside the order's plot area.
QX_EXTERN_C MgErr ZoomAtPoint(ObjHeap heap, int32 graph, int32 point, int32 modifiers, int32 order);
// Moves every X scale by -dx pixels and the Y scales of the order (all with
// -1) by -dy, then redraws.  Nothing when both are 0.
QX_EXTERN_C MgErr PanScales(ObjHeap heap, int32 graph, int32 dx, int32 dy, int32 order);
// Saves the X range, the order's Y range and the order in the graph's data
// block; UndoZoom sets them back and redraws.
QX_EXTERN_C MgErr SaveScales(ObjHeap heap, int32 graph, int32 order);
QX_EXTERN_C MgErr UndoZoom(ObjHeap heap, int32 graph);
// Whether undoing would restore an empty range (nothing saved yet).
QX_EXTERN_C Bool32 SavedZoomEmpty(ObjHeap heap, int32 graph);
// A coordinate outside [left, right) or [top, bottom) becomes the near edge:
// right - 1 or bottom - 1, left or top (plus 1 with inset).
QX_EXTERN_C void PinPointToRect(int32 point, const Rect* r, int32* out, Bool32 inset);
// Frames anchor..old and anchor..new with the inverting pen: the old band
// disappears, the new one shows.
QX_EXTERN_C void XorFrameTwo(int32 anchor, int32 oldCorner, int32 newCorner);
// The format code with the precision put in (binary, octal and hexadecimal
// keep theirs); a code outside the format ranges is an assertion and gives
// 0.  NumFormatPrecision (panel/numfmt.h) reads the precision back.
QX_EXTERN_C int32 SetFormatPrecision(int32 precision, int32 code);

// One step of the chart scroll bar: the tracker's reply applied to the
// position (points from the first point kept) with the span (|x max - x
// min| rounded, plus 1); shift makes a line span / 8 when the span is at
// least 8.  The new position, at least 0; *bad set for a reply that names
// no step and has no thumb bit.
QX_EXTERN_C int32 ChartScrollStep(int32 reply, int32 position, int32 span, Bool32 shift, Bool32* bad);
// Applies the reply to the chart's X scale (part 38 tracking): the scale
// shifted by the position's change and the graph redrawn.  A graph that is
// no chart is an assertion (0).  0 or the scale's error.
QX_EXTERN_C MgErr ChartScrollBy(ObjHeap heap, int32 graph, int32 reply, Bool32 shift);

// What the click records in the action record's words for the do-it: the
// selector (-1 a legend row, -3 and -4 a cursor, -5 a palette tool), the
// row or cursor index, the menu choice (item in the high half, menu id in
// the low) and the two colours of a colour choice.
struct GraphClickWords {
  int32 selector;
  int32 index;
  int32 choice;
  int32 lineColour;
  int32 pointColour;
};
static_assert(sizeof(GraphClickWords) <= sizeof(ActionParams::words20), "click words fit the record");
// The cursor code's entries the class hands cursor work to: the cursor
// under a point (-1 none) and the pointer shape there, a cursor drag, and
// the do-it of the cursor legend and movement control.  Null: no cursor
// work.
struct GraphCursorHooks {
  int32 (*hitTest)(ObjHeap heap, int32 graph, Point pt, uInt32* flags) = nullptr;
  int32 (*hitShape)(ObjHeap heap, int32 graph, Point pt) = nullptr;
  int32 (*track)(ObjHeap heap, int32 graph, int32 cursor, int32 reason, ActionParams* p) = nullptr;
  int32 (*legendDoit)(ObjHeap heap, int32 graph, int32 part, int32 reason, ActionParams* p) = nullptr;
};
GraphCursorHooks SetGraphCursorHooks(const GraphCursorHooks& hooks);

// The click (message 7) and do-it (message 8) of the Graph/Chart class.
QX_EXTERN_C int32 StdGraphOClick(ObjHeap heap, int32 graph, TransactionState* click, TransactionFrame* frame,
                                 ActionParams* p);
QX_EXTERN_C int32 StdGraphODoit(ObjHeap heap, int32 graph, TransactionFrame* frame, int32 reason, ActionParams* p);
// Fills the menu with one item per scale part of the id, in order ("__" +
// its label, or "(%ld)" of its order), checks the current index and hangs
// it under the item of the plot attributes menu.
QX_EXTERN_C void BuildScaleMenu(ObjHeap heap, int32 graph, int32 partId, MenuHandle menu, int32 item, int32 current);
// The zoom tool menu before it pops up: the current tool's item checked,
// the undo item (4) disabled while the saved ranges are empty.
void PrepareZoomMenu(ObjHeap heap, int32 graph, MenuHandle menu);
// The fill-to item checked for a plot: fills 0..3 their index + 1, a fill
// to plot j item j + 6.
int32 CheckedFillItem(const PlotRec& plot);

// The pop-up method of the Graph/Chart class (message 44).
QX_EXTERN_C int32 StdGraphOPopup(ObjHeap heap, int32 graph, PopupMsgRecord* rec);
// Joins the class's methods to the class record (start-up).
void ControlsJoinGraphClickSlots();
