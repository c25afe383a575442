// Plot fills and bars: the fill-style word of a plot record (bar width kind,
// bar orientation, fill baseline, or fill to another plot), its two
// property fields and the legend-choice setter, and the painting of a
// plot's fill or bars into the plot area or its legend sample.
#pragma once
#include "controls/graph.h"

// ---- The fill-style word ---------------------------------------------------------
// 0 nothing; 1..254 bit fields; 255 + n fill to plot n of the same list.
enum : int32 {
  kFillBarKindMask = 0x3,     // 1 thin, 2 with gaps, 3 touching
  kFillBarThin = 1,
  kFillBarGaps = 2,
  kFillBarTouching = 3,
  kFillOrientMask = 0xC,
  kFillBarsHorizontal = 4,
  kFillBarsVertical = 8,
  kFillBaseMask = 0x70,
  kFillToZero = 16,
  kFillToPlusInf = 32,
  kFillToMinusInf = 64,
  kFillToPlot = 255,          // 255 + n
};
// Field selectors of GetFillStyleField and SetFillStyleField.
enum : int32 { kFillSelLegendChoice = 108, kFillSelBarStyle = 109, kFillSelFillTo = 110 };

// Whether the word's fields hold only the listed values (0 included).
QX_EXTERN_C Bool32 FillWordValid(int32 word);
// The field's code: bars 1..3 vertical, 4..6 horizontal, else 0; fill
// word - 251 for a plot target, 1 zero, 3 plus infinity, 2 minus infinity,
// else 0.  Other selectors: 0.
QX_EXTERN_C int32 GetFillStyleField(int32 word, int32 selector);
// Changes the record's fields by a code of the selector: 0, or 1 (nothing
// changed) for a code or selector outside the field's range.
QX_EXTERN_C MgErr SetFillStyleField(PlotRec* plot, int32 code, int32 selector);

// ---- Painting ----------------------------------------------------------------------
// The scale part that gives the baseline: the X scale of order 0 for
// horizontal bars, else the Y scale of the plot's stack slot while plots
// are stacked (order 0 otherwise); 0 when the graph has none.
QX_EXTERN_C int32 FillScalePart(ObjHeap heap, int32 graph, int32 index, Bool32 horizontal);
// The pixel of value 0 (which 0), of the end standing for plus infinity
// (1) or minus infinity (-1) on the scale part; 0 without a record.
QX_EXTERN_C int32 ScaleEndPixel(ObjHeap heap, int32 scale, int32 which);
// The target record (fill to another plot) or null, and the baseline
// pixel; *valid is cleared when there is nothing to fill to.  A legend
// sample's baseline is its middle, top or bottom.
QX_EXTERN_C PlotRec* FillBaseline(ObjHeap heap, int32 graph, int32 index, PlotRec* plot, const Rect* legend,
                                  int32 count, Bool32* valid, int32* baseline);
// 0 neither interpolation steps, 1 both, 2 only the target's, 3 only this plot's.
QX_EXTERN_C int32 FillPairMode(int32 thisInterpolation, int32 targetInterpolation);
// One width for all bars: 1 for thin bars, else the distance of the first
// two drawn positions along the bar axis (4/5 of it, less a pixel, for
// bars with gaps), at least 1.
QX_EXTERN_C int32 BarWidth(int32 graphType, int32 word, const int16* hs, const int16* vs, int32 kind, int32 count);
// A chart's bars wider than a pixel are clipped to the half-plane from the
// first position on: 1 and the rectangle, else 0.
QX_EXTERN_C Bool32 ChartFillClipRect(int32 graphType, const int16* hs, int32 width, int32 count, Rect* out);
// Bars of one width from each drawn point to the baseline.
QX_EXTERN_C void DrawBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count,
                          Bool32 horizontal);
QX_EXTERN_C void DrawVBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count);
// Width 1 only; any other width is an assertion and draws nothing.
QX_EXTERN_C void DrawHBars(const int16* hs, const int16* vs, int32 baseline, int32 width, int32 count);
