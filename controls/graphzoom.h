// Zooming, panning and scrolling a graph's scales, the format precision of
// a scale's format code, and the graph class's pop-up method.  Points are
// packed as the horizontal coordinate in the high 16 bits and the vertical
// one in the low 16 bits.  User-interface thread only.
#pragma once
#include "controls/graph.h"
#include "panel/popup.h"

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

// The pop-up method of the Graph/Chart class (message 44).
QX_EXTERN_C int32 StdGraphOPopup(ObjHeap heap, int32 graph, PopupMsgRecord* rec);
// Joins the class's methods to the class record (start-up).
void ControlsJoinGraphClickSlots();
