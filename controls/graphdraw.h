// The graph's own drawing (message 18) and value display (message 39), the
// clearing of a chart's history on request, and the drawing steps of plot
// fills, points and the cursor legend's icons that the legend rows use.
#pragma once
#include "controls/graph.h"
#include "controls/scale.h"

// (heap, graph, value, pass-through, mode): the parts last first, each
// plot area's contents drawn through DrawPlotArea when a value is given,
// the legend's rows, the scroll bar, digital displays, cursor parts and
// button states; then the generic step of data display objects.
QX_EXTERN_C int32 GraphODrawMethod(ObjHeap heap, int32 graph, const void* value, int32 pass, int32 mode);
// (heap, graph, old, new): the plot area drawn at once, a chart's digital
// displays and scroll bar brought up to date; greyed or deferred graphs
// are invalidated (0x20000).
QX_EXTERN_C int32 GraphODisplayValMethod(ObjHeap heap, int32 graph, const void* old, const void* value);
// Clears the clear-history flag; a chart's history count becomes 0, its x
// scale keeps its span from the history's start, and its plots are emptied.
QX_EXTERN_C int32 ChartClearHistory(ObjHeap heap, int32 graph);

// A chart's history record (in the data space at kGraphHistoryWord): the
// points written so far, and the buffer size from its history handle.
struct ChartHistoryView {
  int32* count = nullptr;
  int32 bufferSize = 0;
};
bool ChartHistoryOf(ObjHeap heap, int32 graph, ChartHistoryView* out);
// The chart scroll bar's numbers: page = |x max - x min| + 1, total = the
// buffer size, position = the x minimum rounded less the first point kept.
void ChartScrollNumbers(const ScaleRec& x, const ChartHistoryView& h, int32* position, int32* page, int32* total);

QX_EXTERN_C int32 DrawFilledPlot(PlotRec* plot, const Rect* legend, ObjHeap heap, int32 graph, int32 index);
// The legend sample's zigzag for a line width: the point arrays (freed by
// DSDisposePtr), their count and the sample's inner rectangle (may be
// null); false when the arrays cannot be made.
bool MakeLegendZigzag(int32 lineWidth, const Rect& legend, int16** hs, int16** vs, int32* n, Rect* inner);
QX_EXTERN_C int32 DrawPointStyle(PlotRec* plot, const Rect* legend, Bool32 patternMarkers);
QX_EXTERN_C int32 DrawCursorLegendIcons(ObjHeap heap, int32 graph);

// Joins the two methods to the graph class; start-up.
void ControlsJoinGraphDrawSlots();
