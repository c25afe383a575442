// Reading between the points of a 1-D array (interpolation and threshold)
// and the circular point history of strip charts.
//
// Interpolation and threshold arrays are 1-D array handles of plain numbers
// or of points.  The type word names them: its high 16 bits are the NumType
// of the values (Y); its low 16 bits, as a signed number, the NumType of the
// X coordinates, or 0 for plain numbers whose X is their index.  A point is
// a cluster {X, Y} laid out as the data manager lays out a two-element
// cluster; values are read as doubles.  Comparisons follow the run-time
// comparison rule (a NaN on either side compares as both less and equal).
#pragma once
#include <cstddef>

#include "mgsource/objheap.h"

// The history record of a strip chart: points written so far, the newest
// points not yet drawn (at most the capacity: the writers add to it, the
// chart drawing takes off what it drew) and the slot the next point goes to.  The buffer
// starts with the capacity in points (int32) and, for several plots, the
// plot count (int32); the points start at the caller's header offset, one
// value per plot in each point.
struct ChartHistory {
  int32 total;
  int32 pending;  // the newest points not yet drawn
  int32 writePos;
  UHandle buffer;
};
static_assert(sizeof(ChartHistory) == 16 && offsetof(ChartHistory, total) == 0 &&
              offsetof(ChartHistory, pending) == 4 && offsetof(ChartHistory, writePos) == 8 &&
              offsetof(ChartHistory, buffer) == 12,
              "chart history record");
enum : int32 { kChartHistCapacity = 0, kChartHistPlots = 4 };

// Bit 0 of a chart's options word: the 2-D source holds one plot per row.
constexpr uInt32 kChartOptTransposed = 0x1;
// The chart object's flag set when its history was reset.
constexpr uInt32 kChartFlagHistoryReset = 0x100000;
// The chart's x scale part and its scrollbar, invalidated when the x scale changed.
constexpr int32 kChartPartXScale = 18;
constexpr int32 kChartPartScrollbar = 38;
// The chart's panel data: its x range as two doubles, then the update word
// that a reset clears.
constexpr int32 kChartDataUpdateWord = 16;

// Writes the value of the array at x into *result; NaN for an empty array
// or a type outside 1 to 14 (reported).
QX_EXTERN_C void RTInterpolate(int32 types, UHandle array, const float64* x, float64* result);
// Writes where the array first rises to *level, looking from start (a
// negative start counts as 0): a fractional index for plain numbers, an X
// for points; NaN when start is at or past the end, or for a bad type.
QX_EXTERN_C void RTThreshold(int32 types, UHandle array, int32 start, const float64* level, float64* result);

// Appends count points of pointSize bytes to the history; the oldest are
// dropped once it holds its capacity.  Returns 0.  A history whose capacity
// is not positive, or whose buffer is too small for it, is left unchanged.
QX_EXTERN_C MgErr Copy1DToChartHistory(int32 pointSize, int32 headerOffset, const void* points, int32 count,
                                       ChartHistory* history);
// Appends the points of a 2-D array of values (points by plots, or plots by
// points when options has kChartOptTransposed), pointSize bytes a value.
// A plot count other than the buffer's resets the history first.
QX_EXTERN_C MgErr Copy2DToChartHistory(int32 pointSize, int32 headerOffset, ObjHeap heap, int32 chart,
                                       UHandle source, ChartHistory* history, uInt32 options);
// Sizes the buffer for its capacity and plots values of pointSize bytes a
// point, clears the counters and, with a chart object, marks the chart and
// recomputes its x scale.  2 when the buffer cannot be sized.
QX_EXTERN_C MgErr ResetChartHistory(ObjHeap heap, int32 chart, ChartHistory* history, int32 pointSize,
                                    int32 headerOffset, int32 plots);

// What a history reset needs of the panel objects and the scales, filled at
// start-up by the layers that own them.  Until then: no chart data, no part,
// nothing invalidated, and the scales report no change.
struct ChartPanelHooks {
  UPtr (*dataPtr)(ObjHeap heap, int32 object) = nullptr;  // the object's panel data
  int32 (*findPart)(ObjHeap heap, int32 object, int32 partId, int32 order) = nullptr;
  void (*inval)(ObjHeap heap, int32 object, int32 flag) = nullptr;
  MgErr (*scaleRecalc)(ObjHeap heap, int32 scale) = nullptr;
  // Sets the scale's range and markers; *changed when the range moved.
  MgErr (*calcScaleMarkers)(ObjHeap heap, int32 scale, float64 lower, float64 upper, Bool32 keepIncrement,
                            Bool32 force, Bool32* changed) = nullptr;
};
// Installs the hooks (null members keep their defaults); returns the former set.
ChartPanelHooks SetChartPanelHooks(const ChartPanelHooks& hooks);
