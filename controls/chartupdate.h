// Chart update: the drawing of the newest points of a chart's history into
// its plot area, and the x window both number charts and intensity charts
// choose before they draw.
#pragma once
#include "controls/graph.h"
#include "rtlib/chartdata.h"

// The three update modes by type code: A (101, 104) sweeps over the area
// and starts again at the left, B (102, 105) redraws the whole window when
// the points pass its end, C (103, 106) scrolls the plot area.
enum ChartMode : int32 { kChartModeA = 0, kChartModeB = 1, kChartModeC = 2 };
QX_EXTERN_C int32 ChartModeOf(int32 type);

// The chart's history record in the panel data space (the graph's history
// words), or null when the words name no record of that size.
QX_EXTERN_C ChartHistory* ChartRecordOf(ObjHeap heap, int32 graph);
// The points of a history handle: its length L (the capacity), the plot
// count P when the history holds one (a 2-D chart), the first point and the
// bytes from there to the handle's end.  False (length 0) for a handle that
// is missing, too small for its header or names a length below 1.
struct ChartHistoryPoints {
  int32 length;
  int32 plots;
  const uChar* points;
  int64 bytes;
};
QX_EXTERN_C Bool32 ChartHistoryPointsOf(UHandle history, Bool32 withPlotCount, ChartHistoryPoints* out);

// What the window of a chart update needs beyond the drawing's state: the
// autoscale bits that, when any is on, send the update down the window path
// (number charts x and y, intensity charts x, y and z); whether the upper
// end of a fixed window rounds down as the lower does (intensity charts);
// whether the x scale must be read as not on screen (a full redraw).
struct ChartWindowOptions {
  uInt32 simpleMask;
  Bool32 floorHigh;
};
// The window chosen: indexes lo .. hi, n points to draw from index
// total - pending on, the catch-up count c (points before the pending ones
// that are drawn again), the follow flag (the window follows the newest
// point), whether the plots are to be emptied now or only when a scale
// changes, and whether the pixmap's background was already repainted.
struct ChartWindow {
  int32 lo;
  int32 hi;
  int32 n;
  int32 c;
  Bool32 follow;
  Bool32 simple;
  Bool32 emptyPlots;
  Bool32 emptyOnChange;
  Bool32 repainted;
};
// Chooses the x window of an update of the chart (its record and history
// length, its first x scale part) and takes pending up to what is drawn:
// pending is first held to 0 .. min(total, length).  Scale moves set
// state->scaleChanged.  0, or 0x10 when the x scale could not be set.
QX_EXTERN_C int32 ChartUpdateWindow(ObjHeap heap, int32 graph, PlotDrawState* state, int32 xScale,
                                    ChartHistory* record, int32 length, const ChartWindowOptions* options,
                                    ChartWindow* out);
// Sets the chart's x scale to show the newest span + 1 indexes
// (total - 1 - span .. total - 1); 0 or 0x10.
QX_EXTERN_C int32 ChartFollowNewest(ObjHeap heap, int32 xScale, int64 total, int64 span);
// Adds the value shift to the x scale's ends, steps its marker start past
// the lower end, then redraws the scale object at once or recomputes and
// invalidates it: 0, or 0x20000 when it was invalidated.
QX_EXTERN_C int32 ChartShiftXScale(ObjHeap heap, int32 graph, int32 xScale, float64 shift, Bool32 updateDraw,
                                   Bool32 redrawPending);

// Moves the stored x pixels of the plots by the scroll amount and drops the
// points that left the rectangle, drawing the plots through the plot image
// first; the result flags of that drawing.
QX_EXTERN_C int32 ScrollChartPlots(ObjHeap heap, int32 graph, Rect* rect, int32 scroll, int32 plots, int32 areas,
                                   int32 workFlags);
