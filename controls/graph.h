// Graphs and charts: the graph's type code and the plot kind of its value,
// the graph's private data block with its plot records, the graph object's
// words, and the plot-list and plot-legend routines.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// ---- The graph's type code (the signed int16 at byte 98 of the object) ------
// 0 and 201 XY graphs; 1, 2 waveform graphs; 3, 4 intensity graphs; 101..103
// charts; 104..106 intensity charts; 107..199 follow the chart rules and
// every other value the waveform rules.
typedef int16 GraphTypeCode;
enum : GraphTypeCode {
  kGraphXY = 0,
  kGraphWaveform = 1,
  kGraphWaveformTransposed = 2,
  kGraphIntensity = 3,
  kGraphIntensityTransposed = 4,
  kChartFirst = 101,     // strip chart (update mode 3)
  kChartScope = 102,     // update mode 2
  kChartSweep = 103,     // update mode 1
  kIntensChartFirst = 104,
  kIntensChartLast = 106,
  kChartLast = 199,
  kGraphXYOther = 201,
};
inline bool IsChartType(int32 t) { return t >= kChartFirst && t <= kChartLast; }
inline bool IsIntensityType(int32 t) {
  return t == kGraphIntensity || t == kGraphIntensityTransposed || (t >= kIntensChartFirst && t <= kIntensChartLast);
}

// ---- The plot kind of a graph's value (0: the value cannot be plotted) ------
typedef int32 GraphDataKind;
enum : GraphDataKind {
  kKindNone = 0,
  kKindChartPoint = 1,       // one number
  kKindChartCluster = 2,     // cluster of numbers: one point per plot
  kKindWaveArray = 3,        // 1-D number array
  kKindWaveArrayOfArrays = 4,// array of {Y[]}
  kKindWave2D = 5,           // 2-D number array
  kKindXYPoints = 6,         // array of {x, y}
  kKindXYPlots = 7,          // array of {array of {x, y}}
  kKindXYArrays = 8,         // {X[], Y[]}
  kKindXYArrayPairs = 9,     // array of {X[], Y[]}
  kKindWaveform = 10,        // {x0, dx, Y[]}
  kKindWaveforms = 11,       // array of {x0, dx, Y[]}
  kKindWaveArrays = 12,      // {x0, dx, array of {Y[]}}
  kKindWave2DScaled = 13,    // {x0, dx, 2-D array}
  kKindIntensChart = 14,     // 2-D number array on an intensity chart
  kKindChartArray = 15,      // 1-D number array on a chart
  kKindChartClusters = 16,   // array of clusters of numbers on a chart
  kKindIntensGraph = 17,     // 2-D number array on an intensity graph
  kKindChart2D = 18,         // 2-D number array on a chart
  kKindLast = 18,
};

// ---- Part ids of a graph's parts ---------------------------------------------
typedef int16 GraphPartId;
enum : GraphPartId {
  kGPartXScale = 18,         // one per order
  kGPartYScale = 19,
  kGPartPlotArea = 28,       // one per plot area order
  kGPartPlotLegend = 32,
  kGPartPaletteFirst = 33,   // 33..37, 42, 74..78: the graph palette
  kGPartPaletteLast = 37,
  kGPartChartScrollbar = 38,
  kGPartPalette42 = 42,
  kGPartZScale = 68,
  kGPartZRamp = 69,
  kGPartUnitLabelFirst = 71, // 71..73
  kGPartUnitLabelLast = 73,
  kGPartPalette2First = 74,
  kGPartPalette2Last = 78,
  kGPartDigitalDisplay = 8001,  // one per plot, order = plot index
  kGPartCursorMover = 8011,
  kGPartCursorLegend = 8014,
  kGPartScaleLegend = 8015,
};

// ---- The graph object's words (a 100-byte record) -------------------------------
enum : int32 {
  kGraphChartTypeWord = 10,   // the chart's data type
  kGraphDataWord = 11,        // offset of the private data block in the data space
  kGraphDataTDWord = 12,      // the block's descriptor entry
  kGraphHistoryWord = 13,     // chart record (13 and 14)
  kGraphPixmapWord = 15,      // image id of the cached offscreen pixmap, 0 none (cleared on copy)
  kGraphXGridColorWord = 16,  // 0x1000000: none
  kGraphImageTDWord = 17,     // the intensity record's descriptor entry
  kGraphLegendLabelWord = 18, // the legend's label object: its height sets the row height
  kGraphImageWord = 19,       // offset of the intensity record (colour table, image, drawn rectangle)
  kGraphLegendNameWidthWord = 20,  // int32 width of the legend's name column
  kGraphYGridColorWord = 21,
  kGraphPlotIndexWord = 22,   // two int16: the active plot (byte 88), the highlighted plot (byte 90)
  kGraphPixmapPosWord = 23,   // charts 103 and 106: the newest column's place in the pixmap
};
enum : int32 { kGraphActivePlotByte = 88, kGraphHighlightPlotByte = 90, kGraphToolByte = 96 };
// Flag bits of the graph object.
enum : uInt32 {
  kGraphFlagHidden = 0x8,
  kGraphFlagSmooth = 0x10000,        // always draw offscreen
  kGraphFlagScrollHeld = 0x20000,    // the chart scrollbar holds the window
  kGraphFlagFullRedraw = 0x100000,   // the next update redraws everything
  kGraphFlagAutoX = 0x200000,
  kGraphFlagAutoY = 0x400000,
  kGraphFlagPending = 0x800000,      // drawn only partly: a complete redraw is pending
  kGraphFlagAutoZ = 0x80000000,
  kGraphAutoscaleMask = 0x80600000,
};
// Part flag 4 of a plot area.
constexpr uInt32 kPlotAreaFlagged = 0x4;
constexpr int32 kGraphObjectBytes = 100;

// ---- The private data block ----------------------------------------------------
// One plot: 60 bytes, laid out as the block's descriptor declares it.
struct PlotRec {
  int32 lineColor;       // 0x00RRGGBB, 0x1000000 none
  int16 interpolation;   // 0 none, 1 step, 2 line, 3 step of the other orientation
  int16 lineStyle;
  int16 pointStyle;      // 0..19
  int16 fillStyle;       // fill and bar style word
  int16 lineWidth;
  int16 fillTarget;      // bit 0: another plot fills to this one
  UHandle name;          // counted string
  int32 count;           // points held
  UHandle xs;            // int16 arrays: pixels while drawing, chart history
  UHandle ys;
  UHandle more[4];       // carried only
  uInt32 pointColor;     // 0x1000000 none
  uInt32 spare;          // carried only
  int16 xScale;          // order of the plot's X scale (part 18)
  int16 yScale;          // order of the plot's Y scale (part 19)
};
static_assert(sizeof(PlotRec) == 60 && offsetof(PlotRec, interpolation) == 4 && offsetof(PlotRec, lineStyle) == 6 &&
                  offsetof(PlotRec, pointStyle) == 8 && offsetof(PlotRec, fillStyle) == 10 &&
                  offsetof(PlotRec, lineWidth) == 12 && offsetof(PlotRec, fillTarget) == 14 &&
                  offsetof(PlotRec, name) == 16 && offsetof(PlotRec, count) == 20 && offsetof(PlotRec, xs) == 24 &&
                  offsetof(PlotRec, ys) == 28 && offsetof(PlotRec, more) == 32 && offsetof(PlotRec, pointColor) == 48 &&
                  offsetof(PlotRec, spare) == 52 && offsetof(PlotRec, xScale) == 56 && offsetof(PlotRec, yScale) == 58,
              "plot record");
constexpr int32 kPlotRecBytes = 60;
constexpr int32 kNoColor = 0x1000000;
// The pixel that marks a point not drawn, in either coordinate.
constexpr int16 kPlotGap = 15005;

// The block, in element order: the plot list, a carried integer, the active
// cursor, the cursor mover's four buttons, the cursor list, the transpose
// word (bit 0 clear while "Transpose Array" is on), the saved Y-scale order
// and the saved X and Y ranges.
// The cursor list: a 1-D array handle (int32 count, then the cursor records
// at their alignment); null or empty for none.
typedef UHandle GraphCursorList;
struct GraphData {
  UHandle plots;         // int32 count, then PlotRec
  int32 carried;
  int32 activeCursor;
  uChar moverButtons[4]; // up, down, left, right
  GraphCursorList cursors;
  uInt32 transpose;
  int32 savedYOrder;
  float64 savedXMin, savedXMax, savedYMin, savedYMax;
};
static_assert(sizeof(GraphData) == 60 && offsetof(GraphData, activeCursor) == 8 &&
                  offsetof(GraphData, moverButtons) == 12 && offsetof(GraphData, cursors) == 16 &&
                  offsetof(GraphData, transpose) == 20 && offsetof(GraphData, savedYOrder) == 24 &&
                  offsetof(GraphData, savedXMin) == 28 && offsetof(GraphData, savedYMax) == 52,
              "graph data block");
constexpr int32 kGraphCursorListAt = offsetof(GraphData, cursors);

// String list 314 "_Graph Strings": 1 "Cursor %ld", 2 "Plot %ld".
constexpr int32 kGraphStringsList = 314, kGraphStringCursor = 1, kGraphStringPlot = 2;

// The graph's private data block (its data word resolved in the panel's data
// space), or null; valid until the data space is next resized.
QX_EXTERN_C GraphData* GraphDataOf(ObjHeap heap, int32 graph);
// The graph's type code, or -1 when the object is too small to hold it.
QX_EXTERN_C int32 GraphTypeOf(ObjHeap heap, int32 graph);
// The plot records of a block and their count; null (count 0) when the list
// is absent or its handle does not hold its count of records.
QX_EXTERN_C PlotRec* GraphPlots(const GraphData* data, int32* count);
// The plot-record element descriptor of the block's static descriptor.
QX_EXTERN_C const TypeDescriptor* PlotRecTD();

// ---- Shapes of a wired value ---------------------------------------------------
QX_EXTERN_C Bool32 IsPlotNumeric(const TypeDescriptor* td);
QX_EXTERN_C Bool32 Is1DNumArray(const TypeDescriptor* td);
QX_EXTERN_C Bool32 Is2DNumArray(const TypeDescriptor* td);
QX_EXTERN_C Bool32 AllElemsPlotNumeric(const TypeDescriptor* td);
// The plot kind of a value of descriptor *td on the graph; *td becomes the
// descriptor the kind's readers start from.  A null td is an assertion.
QX_EXTERN_C GraphDataKind ClassifyGraphData(ObjHeap heap, int32 graph, const TypeDescriptor** td);

// ---- Plot list and legend ------------------------------------------------------
// Grows or shrinks the plot list to the larger of the two counts; new plots
// get their defaults and names.  Both negative: an assertion, and 1.
QX_EXTERN_C MgErr ResizePlotList(ObjHeap heap, int32 graph, int32 wanted, int32 minimum, Bool32 flag);
// The legend rows that fit in part 32 (0 without it).
QX_EXTERN_C int32 PlotLegendRowCount(ObjHeap heap, int32 graph);
// The legend row's sample (line and points) and name rectangles; either may
// be null.  A graph without a legend is an assertion (both left untouched).
QX_EXTERN_C void PlotLegendRowRect(ObjHeap heap, int32 graph, int32 row, Rect* sample, Rect* name);
// Empties every plot's history: count 0, both point arrays down to their header.
QX_EXTERN_C void ClearChartPlotData(GraphData* data);

// ---- Plot areas ------------------------------------------------------------------
// The number of plot areas (one more than the highest order among the shown
// plot-area parts, 0 for none; orders below 0 are skipped) and, when out is
// given, the union of their rectangles.
QX_EXTERN_C int32 GraphPlotBounds(ObjHeap heap, int32 graph, Rect* out);
// Clears bit 0 of every plot's fill-target word, then sets it in each plot
// that another plot's fill style (255 + n) names as its fill target.
QX_EXTERN_C void MarkFillTargets(UHandle plots);
// The visible part of an index range low .. high (high exclusive) on a
// scale part: with autoscale (and a range that is not empty) the scale is
// first set to low .. high.  The range is narrowed to the scale's ends
// (rounded down to whole indexes), its ends mapped to pixels, the two
// swapped when the high pixel lies below the low one, and the high pixel
// made exclusive; an empty intersection gives both pixels 0.  *changed
// tells whether the autoscale moved the ends.  0 or the scale's failure.
QX_EXTERN_C MgErr ChartIndexRange(ObjHeap heap, int32 scale, int32* low, int32* high, int16* lowPixel,
                                  int16* highPixel, Bool32 autoscale, int32* changed);

// ---- Where the plots lie in a graph's value ---------------------------------------
// One plot's points: count points, the y (for intensity kinds the z) values
// from y at yStride bytes, the x values from x at xStride, or, with x null,
// x0 + i dx.  Types are numeric type codes (the unit bit cleared).
struct PlotSeries {
  int32 count;
  const uChar* x;
  int32 xStride;
  int32 xType;
  const uChar* y;
  int32 yStride;
  int32 yType;
  float64 x0;
  float64 dx;
};
// A graph's value read by its plot kind: the kind and the number of plots.
// Every array the value holds is checked against its handle before any
// element is named.
struct GraphLayout {
  GraphDataKind kind;
  int32 plots;
  int32 graphType;
  Bool32 transposed;  // kind 14: the chart's "Transpose Array" is on
  const TypeDescriptor* td;  // the value's descriptor, typedefs skipped
  const uChar* value;
};
// Classifies the value (of descriptor td) on the graph and counts its plots;
// the kind (0: nothing to plot, no plots).
QX_EXTERN_C GraphDataKind GraphLayoutOf(ObjHeap heap, int32 graph, const TypeDescriptor* td, const void* value,
                                        GraphLayout* out);
// Plot p's points; false (series emptied) for a plot the value does not hold.
QX_EXTERN_C Bool32 GraphLayoutPlot(const GraphLayout* layout, int32 plot, PlotSeries* out);
// The two dimensions of the 2-D array of kinds 14 and 17 (0 and 0 for others).
QX_EXTERN_C void GraphLayoutDims(const GraphLayout* layout, int32* first, int32* second);

// ---- One drawing of the plot area -----------------------------------------------
// The scale parts by order (0: no part of that order) and the colour scale.
struct GraphScaleTables {
  const int32* x;
  int32 xCount;
  const int32* y;
  int32 yCount;
  int32 colour;
};
// Working flags of one drawing.
enum : int32 {
  kPlotWorkTransparent = 0x1,
  kPlotWorkFlagged = 0x10,
  kPlotWorkScrolled = 0x100,
  kPlotWorkUpdate = 0x1000,
  kPlotWorkNewData = 0x10000,
  kPlotWorkCircular = 0x100000,
  kPlotWorkFullRedraw = 0x1000000,
};
// Result flags of a drawing.
enum : int32 { kPlotResultFailed = 0x10, kPlotResultRedraw = 0x20000 };
// What the branches of a drawing share.
struct PlotDrawState {
  Bool32 updateDraw;
  uInt32 autoscaleMask;
  int32 workFlags;
  Bool32 stripScroll;
  int32 pixmap;          // the cached pixmap drawn into, 0 none
  GraphScaleTables scales;
  int32 minPlots;
  int32 areas;
  Rect bounds;           // the plot areas' union
  Rect inner;            // that inset by one pixel
  Bool32 scaleChanged;
  Bool32 fullRedraw;
  Bool32 newData;
  Bool32 markFullRedraw;  // a branch left its drawing whole to the next update
};

// Draws the graph's plot area: hidden objects draw nothing (0); the value
// is the graph's data; update draw 1 from a window update or the blink
// timer, 0 for an immediate draw; plotArea 0 looks up part 28 of order 0;
// blink mode 1 or 2 while blinking, else 4; allowAutoscale 0 keeps the
// scales.  Result flags (0x10 failure, 0x20000 redraw the whole object).
QX_EXTERN_C int32 DrawPlotArea(ObjHeap heap, int32 graph, void* value, int32 updateDraw, int32 plotArea,
                               int32 blinkMode, int32 allowAutoscale);
// Paints every shown plot area's background (inset by one, within clip
// when given; nothing for an empty clip) and draws its grids with the
// pair's second value; into the pixmap, parts 9 are painted too and plot
// areas draw themselves.
QX_EXTERN_C void PaintPlotAreas(ObjHeap heap, int32 graph, const int16* pair, const Rect* clip, Bool32 intoPixmap);
// Whether the graph is tracked through its chart scrollbar with flag
// 0x20000 set (charts then keep their window where it is).
QX_EXTERN_C Bool32 IsChartScrollTracked(ObjHeap heap, int32 graph);
// The plot-highlight state the plot drawing reads: on only in blink mode 1,
// then naming the highlighted plot.
struct PlotHighlight {
  Bool32 on;
  int32 plot;
};
const PlotHighlight& CurrentPlotHighlight();
// The record the highlight names while the plots are drawn, and the line
// and point colours it is drawn in.
struct PlotHighlightColours {
  const PlotRec* record;
  uInt32 line;
  uInt32 point;
};
void SetPlotHighlightColours(const PlotHighlightColours& colours);
// Puts the saved colours back into the record when the highlight is on,
// names this record and no legend rectangle is given.
QX_EXTERN_C void RestorePlotColors(PlotRec* plot, const Rect* legend, int32 lineColor, uInt32 pointColor);
// The part a graph is tracked through and the two points of its drag, kept
// by the graph's tracking while it runs (the object system's tracking word
// tells whether a drag is in progress).
struct GraphTrack {
  int32 partId;
  Point anchor;
  Point current;
};
void SetGraphTrack(const GraphTrack& track);
const GraphTrack& CurrentGraphTrack();

// The intensity record of intensity graphs and charts (the data space at
// kGraphImageWord): the colour table (count, then 256 colours), the index
// image (row count, row length, rows), and the rectangle last drawn, one
// 32-bit word a coordinate (top, left, bottom, right).
struct IntensityRec {
  UHandle colorTable;
  UHandle image;
  int32 drawn[4];
  Rect Drawn() const { return Rect{int16(drawn[0]), int16(drawn[1]), int16(drawn[2]), int16(drawn[3])}; }
  void SetDrawn(const Rect& r) {
    drawn[0] = r.top, drawn[1] = r.left, drawn[2] = r.bottom, drawn[3] = r.right;
  }
};
static_assert(sizeof(IntensityRec) == 24 && offsetof(IntensityRec, image) == 4 && offsetof(IntensityRec, drawn) == 8,
              "intensity record");

// ---- Steps of the drawing that later work fills in ----------------------------------
// Each answers 0 and changes nothing until its plots, grids, cursors and
// images are drawn.
QX_EXTERN_C int32 RefreshPlotImage(ObjHeap heap, int32 graph, Rect* area, const Rect* update, int32 flags,
                                   UHandle plots, int32 areas);
QX_EXTERN_C int32 MapPlotToPixels(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot,
                                  const void* x, const void* y, int32 xStride, int32 yStride, int32 count,
                                  int32 xType, int32 yType);
QX_EXTERN_C int32 MapPlotToPixelsDecimated(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot,
                                           const void* x, const void* y, int32 xStride, int32 yStride, int32 count,
                                           int32 xType, int32 yType);
QX_EXTERN_C int32 PrepareWaveformPlots(ObjHeap heap, int32 graph, PlotDrawState* state, const GraphLayout* layout);
QX_EXTERN_C void ScanNumericRange(const void* data, int32 stride, int32 count, int32 type, float64* min,
                                  float64* max, int16* found, Bool32 positiveOnly);
QX_EXTERN_C int32 ClipWaveformToScale(ObjHeap heap, int32 graph, int32 xScaleData, float64* x0, int32* count,
                                      float64 dx);
QX_EXTERN_C void* MakeRampArray(float64 x0, float64 dx, int32 count, Bool32 integers, int32* elementSize,
                                int32* type);
// A record's pixel arrays: reductions that keep the first point, drop
// every point equal to the last kept one (duplicates) or merge steps that
// continue a horizontal or vertical run or repeat the running step
// (collinear); gap points are always kept.
QX_EXTERN_C void RemoveDuplicatePoints(PlotRec* plot);
QX_EXTERN_C void RemoveCollinearPoints(PlotRec* plot);
// Maps the x values and keeps at most two points per pixel column: the
// column's smallest and largest y, the one found first first.  0, or 16
// without data or when the arrays do not hold count points.
QX_EXTERN_C int32 DecimateMinMax(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot, const void* x,
                                 const void* y, int32 xStride, int32 yStride, int32 count, int32 xType, int32 yType);
// Draws the plots of the list (plot -1: all, last to first) with their
// horizontal pixels moved by shift, then moves them back.
QX_EXTERN_C void DrawPlotsShifted(UHandle plots, int32 shift, int32 plot, ObjHeap heap, int32 graph);
// Charts: appends newPoints history points from sequence number firstSeq
// (the history of length points at stride, of numeric type) to the plot's
// pixel arrays, which hold only the segment being drawn; reports the
// pixels the image must move and the matching X-scale value shift, and
// whether a pixel changed.  0, or 16 when the arrays cannot be sized.
QX_EXTERN_C int32 ChartAppendPixels(ObjHeap heap, int32 graph, int32 xScale, int32 yScale, PlotRec* plot,
                                    int32 length, int32 newPoints, int32 firstSeq, const void* history,
                                    int32 stride, int32* pixelShift, float64* valueShift, int32 type,
                                    int32* changed);
// Strip charts move their X range back at most once per drawing pass; the
// plot drawing clears the mark before each pass.
void ClearChartRangeMark();
// Whether the X range was moved back during this pass.
Bool32 ChartRangeMarked();
// Draws the band of shift new pixels into the chart's circular image at its
// position word (in two pieces when it wraps) and advances the position.
QX_EXTERN_C int32 DrawScrollingChart(ObjHeap heap, int32 graph, UHandle plots, int32 shift, int32 areas);
// Frees the pointer block *p names, if any, and clears *p.
QX_EXTERN_C void FreeAndClearPtr(void** p);
QX_EXTERN_C void DrawGraphGrids(ObjHeap heap, int32 graph, const Rect* clip, int32 areas, int32 order, int16 value);
QX_EXTERN_C MgErr ResnapGraphCursors(ObjHeap heap, int32 graph, const void* value, Bool32 noLegend, Bool32 flag);
// Intensity images.  The data is a 2-D array handle of the graph's element
// type (a chart history has the same layout: columns, then rows, then the
// columns).  Its first (outer) dimension runs horizontally, wrapping around
// its size, the second (inner) vertically; the transposed flag exchanges
// the two.  Indexes run from first to last in either direction, the first
// at the left and top pixels.
// Sets the colour scale's range from the visible values (logarithmic scales
// skip values that are not positive) and rescales its colour markers when
// the range moved; *changed tells whether it did.  The marker computation's
// status.
QX_EXTERN_C int32 ScanZRange(ObjHeap heap, int32 graph, UHandle data, int32 firstInner, int32 firstOuter,
                             int32 lastInner, int32 lastOuter, Bool32 transposed, int32* changed);
// The index image of the visible block over the pixel rectangle (the
// clipped part of dataPixels, where the whole block would lie): each pixel
// the colour index of the largest of its samples.  0, or 16 when the image
// or its tables cannot be sized.
QX_EXTERN_C int32 BuildIntensityBitmap(ObjHeap heap, int32 graph, int32 colourScale, UHandle data,
                                       int32 firstInner, int32 firstOuter, int32 lastInner, int32 lastOuter,
                                       UHandle image, const Rect* pixels, const Rect* dataPixels,
                                       Bool32 transposed);
// Draws the pending index image at the rectangle of the intensity record
// (moved by the pixmap position word on charts) into the offscreen image or
// the window clipped to the plot area (and clip, when given).  Reply 0x20000
// when it drew into the offscreen image, 16 when the picture cannot be made.
QX_EXTERN_C int32 DrawIntensChartUpdate(ObjHeap heap, int32 graph, const Rect* clip, Bool32 fullRedraw);
// The chart branch (kinds 1, 2, 15, 16, 18) and the intensity-chart branch
// (kind 14) of the drawing: result flags.
QX_EXTERN_C int32 DrawChartBranch(ObjHeap heap, int32 graph, PlotDrawState* state, const GraphLayout* layout);
QX_EXTERN_C int32 DrawIntensChartBranch(ObjHeap heap, int32 graph, PlotDrawState* state, const GraphLayout* layout);
