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
  kGraphHistoryWord = 13,     // chart history (13 and 14)
  kGraphXGridColorWord = 15,  // 0x1000000: none
  kGraphYGridColorWord = 16,
  kGraphImageWord = 17,       // the image entry of charts 103 and 106 (17 and 19)
  kGraphLegendLabelWord = 18, // the legend's label object: its height sets the row height
  kGraphLegendNameWidthWord = 20,  // int32 width of the legend's name column
};
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

// The block, in element order: the plot list, a carried integer, the active
// cursor, the cursor mover's four buttons, the cursor list, the transpose
// word (bit 0 clear while "Transpose Array" is on), the saved Y-scale order
// and the saved X and Y ranges.
struct GraphData {
  UHandle plots;         // int32 count, then PlotRec
  int32 carried;
  int32 activeCursor;
  uChar moverButtons[4]; // up, down, left, right
  UHandle cursors;
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
