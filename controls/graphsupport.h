// Graph operations the graph class, its properties, its cursors and the
// plot drawing share: a chart's update mode, the palette, clearing the
// data, the grid lines, redraws after a scale changed, scrolling the scales
// while the pointer is dragged outside the plot area, and hiding a chart's
// surplus digital displays.
#pragma once
#include "controls/graph.h"
#include "controls/scale.h"

// Stores the chart type of menu item 1 .. 3 (intensity charts 106, 105,
// 104; others 103, 102, 101; other items keep the type).  0 when the type
// does not change; else the position word is cleared, the object marked for
// a full redraw, and: with suppress 0x10000, with invalidate 0x30000 (the
// graph invalidated), else the plot area's redraw result | 0x10000.
QX_EXTERN_C int32 SetChartUpdateMode(ObjHeap heap, int32 graph, int32 item, Bool32 suppress, Bool32 invalidate);
// Shows (*wanted 1) or hides (0) the palette parts together when part 33's
// hidden state equals *wanted; 0x30080 then, else 0.
QX_EXTERN_C int32 SetPaletteVisible(ObjHeap heap, int32 graph, const int32* wanted);
// Mode bit 8: the grid pen takes the colour; bit 16: the second grid pen
// takes the colour's highlight.  The two pens are made once.
QX_EXTERN_C void SetGridPens(int32 mode, DColor colour);
// The two grid pens and their black-and-white colours (the cookie of the
// grid walk).
const ScaleGridPens& GridPens();
// Draws the scale's grid lines into the rectangle: walks its markers in
// mode (9: the interior markers; 29: the ends, interior markers and minor
// ticks) handing each to proc with cookie; a horizontal scale's lines move
// by shift pixels.  0 or the proc's answer.
QX_EXTERN_C int32 ScaleDrawGrid(ObjHeap heap, int32 scale, ScaleMarkerProc proc, int16 shift, const Rect* rect,
                                int32 mode, void* cookie, int32 reserved);
// Empties the graph's value in place by its plot kind (charts: ClearChart)
// and redraws the plot area; 0, 16 on failure.
QX_EXTERN_C int32 ClearGraphData(ObjHeap heap, int32 graph, void* value);
// Clears a chart's history and plots, starts its x range at 0 with the
// same width and invalidates it; 0, or the scale's error.
QX_EXTERN_C MgErr ClearChart(ObjHeap heap, int32 graph);
// Redraws the graph after a scale of part id and order changed (part 0:
// the whole graph); rect is handed to the cursors.  0 or an error.
QX_EXTERN_C MgErr RedrawAfterScaleChange(ObjHeap heap, int32 graph, int32 partId, int32 order, const Rect* rect,
                                         Bool32 invalidateScrollbar, Bool32 clearHeld, Bool32 noRedraw,
                                         Bool32 display2);
// Which scale a colour-scale redraw names.
struct ScaleRedrawRequest {
  int16 partId;
  int16 order;
};
QX_EXTERN_C MgErr RedrawZScale(ObjHeap heap, int32 graph, const ScaleRedrawRequest* request, Bool32 skipBitmap,
                               Bool32 noRedraw, Bool32 display2);
// What AutoScrollScales keeps between calls.
struct AutoScrollState {
  Bool32 active;
  uInt32 time;  // MilliSecs of the next step
};
// Scrolls the scales while the point (horizontal in the high 16 bits) lies
// outside the plot area (or, centred, away from its centre): after three
// repeat intervals, then one step an interval.  offsets (h, v) get the
// step taken, 0 and 0 when the point is inside.  0 or the scale's error.
QX_EXTERN_C MgErr AutoScrollScales(ObjHeap heap, int32 graph, const Rect* area, int32 point, int32* offsets,
                                   Bool32 redraw, AutoScrollState* state, Bool32 centred);
// Hides the digital displays of a chart beyond its plot count (of the type
// typeId, 0: the chart's own).  0.
QX_EXTERN_C int32 HideExtraDigitalDisplays(ObjHeap heap, int32 graph, int32 typeId, Bool32 unused1, Bool32 unused2);
