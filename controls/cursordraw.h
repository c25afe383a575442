// Cursors on the plot area: their pixel positions through the scales, their
// drawing over the plot, erasing and moving their drawings from the plot
// image, hit testing, dragging, snapping to the data and moving the selected
// cursors.  User-interface thread only.
#pragma once
#include "controls/graphcursors.h"
#include "mgsource/window/wport.h"

// Draw modes of DrawCursorsInPlot: bit sets.
enum : int32 {
  kCursorDrawDraggable = 1,
  kCursorDrawFixed = 2,
  kCursorDrawBoth = 3,
  kCursorDrawFixedChanged = 4,  // the plot image itself must be rebuilt
};
// Pieces of EraseCursorFromImage and InvalCursorArea: the line bits of the
// flags word and the label.
enum : int32 { kCursorPieceVLine = 0x3, kCursorPieceHLine = 0xC, kCursorPieceLabel = 0x10, kCursorPieceAll = 0x1F };
// Distance of a cursor that cannot be hit.
constexpr int32 kCursorNoHitDistance = 1000;
// Change bits of a cursor move (legend rows refresh these displays).
enum : int32 { kCursorChangedX = 0x1, kCursorChangedY = 0x2, kCursorChangedZ = 0x4 };

// ---- Pixels and values ----------------------------------------------------------
// The pixel (h for x, v for y) in user units of the scale (0: the first X
// or Y scale): mapped value x multiplier + offset.  Either out may be null.
QX_EXTERN_C MgErr CursorPixelToValues(ObjHeap heap, int32 graph, Point pt, int32 xScale, float64* x, int32 yScale,
                                      float64* y);
// The cursor's pixel position from its x and y on the two scales: the pixel
// of (value - offset) / multiplier.  0.
QX_EXTERN_C MgErr CursorValuesToPixel(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, UPtr cursor);
// Recomputes every free cursor's pixel position after the plot area moved
// (snapped ones are resnapped from the data).  0 or the first error.
QX_EXTERN_C MgErr OffsetGraphCursors(ObjHeap heap, int32 graph);

// ---- Drawing and erasing -----------------------------------------------------------
QX_EXTERN_C void DrawCursorsInPlot(ObjHeap heap, int32 graph, int32 mode);
// Erases the cursor's pieces: from the plot image when drawing directly
// (then redraws with redrawMode, + 4 for a fixed cursor, when not 0) and 1
// when anything was restored; else invalidates them and 0.
QX_EXTERN_C int32 EraseGraphCursor(ObjHeap heap, int32 graph, UPtr cursor, int32 pointStyle, int32 pieces,
                                   int32 redrawMode, Bool32 force);
QX_EXTERN_C int32 EraseCursorFromImage(UPtr cursor, const Rect* plotRect, int32 image, int32 pointStyle, int32 pieces);
// After the cursor moved by (dh, dv): restores what its old drawing covered
// (redrawing mode 3 when asked) and 1, or invalidates old and new pieces and 0.
QX_EXTERN_C int32 ScrollCursorDrawing(ObjHeap heap, int32 graph, UPtr cursor, int32 dh, int32 dv, Bool32 redraw);
QX_EXTERN_C int32 EraseCursorMoveFromImage(UPtr cursor, const Rect* plotRect, int32 image, int32 dh, int32 dv);
QX_EXTERN_C int32 InvalCursorMove(UPtr cursor, const Rect* plotRect, int32 dh, int32 dv);
// Draws a point marker of the table of point styles centred on (h, v) in
// the current pen.
void DrawCursorMarker(int32 pointStyle, int32 h, int32 v);
// Draws a cursor style's line pieces around (h, v) out to the rectangle's
// edges (right and bottom exclusive), leaving a gap of 5 pixels.
void DrawCursorLines(uInt32 flags, int32 h, int32 v, const Rect& edges);

// ---- Where the cursors are drawn ---------------------------------------------------------
// The plot rectangle (part 28 of order 0 inset by 1) and the part; false
// without a plot area.
bool CursorPlotRect(ObjHeap heap, int32 graph, Rect* out, int32* part = nullptr);
// The plot image when the cursors can be drawn directly (not forced, the
// plot area without flag 0x4, opaque, an image kept); 0 otherwise.
int32 CursorDirectImage(ObjHeap heap, int32 graph, Bool32 force);
// The window to invalidate in: the panel's, else the current one.
WindowRef CursorWindow(ObjHeap heap);

// ---- Hit testing, dragging, snapping -------------------------------------------------------
QX_EXTERN_C int32 CursorHitDistance(const uChar* cursor, Point pt);
QX_EXTERN_C int32 HitTestGraphCursors(ObjHeap heap, int32 graph, Point pt, uInt32* flags);
QX_EXTERN_C MgErr SnapCursorToData(ObjHeap heap, int32 graph, UPtr cursor, Bool32* snapped, const Point* pixel,
                                   int32 cursorIndex, Bool32* valuesChanged);
// The track record a cursor drag reads: its phase (1 start, 3 move, 4 idle,
// 2 and 5 end), the kind (1 and 2 handled) and the mouse point.
struct GraphTrackRec {
  int32 phase;
  int32 kind;
  Point mouse;
};
enum : int32 { kTrackStart = 1, kTrackEnd = 2, kTrackMove = 3, kTrackIdle = 4, kTrackAbort = 5 };
// The do-it code of a cursor drag.
constexpr int32 kDoitTrackCursor = 14;
// The result flag set while tracking, and the failure result.
enum : int32 { kTrackResultTracking = 0x1, kTrackResultFailed = 16 };
QX_EXTERN_C int32 TrackGraphCursor(ObjHeap heap, int32 graph, int32 cursorIndex, int32 doitCode,
                                   const GraphTrackRec* track, int32 result);
QX_EXTERN_C MgErr MoveSelectedCursors(ObjHeap heap, int32 graph, int32 unused, Point delta);
