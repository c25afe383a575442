// Reading any point of a graph's value in user units, and finding the point
// nearest a pixel position, in every plot kind.  The value is in the form of
// the graph's type (the object's type word); values come from diagrams, so
// every element address is checked against its handle first.
// User-interface thread only.
#pragma once
#include "controls/graph.h"

// Status codes of both lookups.
enum : int32 {
  kPointFound = 0,       // the point was found or taken as asked
  kPointNone = 1,        // the plot has no points, or no point was found
  kPointIndexMoved = 2,  // the index lay outside the plot: moved to its nearer end
  kPointNoData = 3,      // the value has no plots
  kPointPlotMoved = 4,   // the plot lay outside the plots (or single-plot data was asked another)
};
// Distance modes of the nearest-point search and their thresholds.
enum : int32 { kDistanceVertical = 1, kDistanceHorizontal = 2 };
constexpr int32 kLineThreshold = 5, kSquaredThreshold = 25;
// The distance of a search that found no point.
constexpr int32 kNoDistance = 0x7FFFFFFF;
// WaveformIndexAtPixel's answer when dx is 0 or x0 or dx is not finite.
constexpr int32 kNoWaveformIndex = int32(0x80000000u);

// x, y and z (intensity graphs) of point index of the plot, in the user
// units of the first X, Y and Z scales (each 0 first); a status.
QX_EXTERN_C int32 GetPlotPointValues(ObjHeap heap, int32 graph, const void* value, int32 plot, int32 index,
                                     float64* x, float64* y, float64* z);
// Snaps the pixel to a (plot, index) pair, searching plot only or, with
// plot -1, every plot; outs (either may be null) start at -1.  Mode 1
// measures vertical distance, 2 horizontal, others the squared sum.
QX_EXTERN_C int32 FindNearestPlotPoint(ObjHeap heap, int32 graph, const void* value, Point pixel, int32 plot,
                                       int32* plotOut, int32* indexOut, int32 mode);
// The nearest of n points (numbers of the types at the strides, in scale
// units), mapped on the first X and Y scales: the first of equal ones, the
// search ending at the first best within threshold; -1 (distance
// kNoDistance) when n < 1 or no point maps.
QX_EXTERN_C int32 NearestXYPoint(ObjHeap heap, int32 graph, int32 n, const void* x, int32 xType, int32 xStride,
                                 const void* y, int32 yType, int32 yStride, Point pixel, int32* distance, int32 mode,
                                 int32 threshold);
// Of plots whose y at one index lie plotStride bytes apart from y, the one
// vertically nearest the pixel (the earliest of equal ones); -1 when none maps.
QX_EXTERN_C int32 NearestPlotAtIndex(ObjHeap heap, int32 graph, int32 yType, const void* y, int32 plotStride,
                                     int32 plots, Point pixel);
// Plots held as elementSize-byte clusters (of descriptor elementTD) from
// plots, each holding its Y[] (numbers of yType) as its first element:
// of those with more than *index points (a negative index counting as 0),
// the one whose y there lies vertically nearest the pixel.  With none that
// long, the longest (the earliest of equal ones) and its last index.  0,
// or 1 when every plot is empty.
QX_EXTERN_C int32 NearestRaggedPlotAtIndex(ObjHeap heap, int32 graph, const void* plots, Point pixel,
                                           int32* plotOut, int32* index, int32 elementSize, int32 yType,
                                           const TypeDescriptor* elementTD, int32 plotCount);
// The point index of the pixel's X-scale value on a waveform: (xs - x0) / dx
// rounded half to even, x0 read with x0TD's numeric type and dx with the
// descriptor that follows it (as in the waveform's cluster descriptor); the
// snapped x is index dx + x0.  kNoWaveformIndex when dx is 0 or either is
// not finite (nothing divided, snapped x untouched).
QX_EXTERN_C int32 WaveformIndexAtPixel(ObjHeap heap, int32 graph, const TypeDescriptor* x0TD, const void* x0,
                                       const void* dx, Point pixel, float64* snappedX);
