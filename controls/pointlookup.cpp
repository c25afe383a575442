// Point lookups on a graph's value: point i of plot p read in user units,
// and the (plot, index) pair nearest a pixel.  Where the plots lie comes
// from the layout routines (GraphLayoutOf, GraphLayoutPlot), which check
// every array against its handle; points are mapped to pixels in blocks so
// that a search over a long plot costs little more than the mapping itself.
#include "controls/pointlookup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "controls/scale.h"
#include "engine/datamgr.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/objects.h"

namespace {

constexpr const char* kModule = "pointlookup";
constexpr int32 kBlock = 1024;  // points mapped at a time

bool IsChartKind(GraphDataKind k) {
  return k == kKindChartPoint || k == kKindChartCluster || k == kKindChartArray || k == kKindChartClusters ||
         k == kKindChart2D;
}
bool IsSinglePlotKind(GraphDataKind k) {
  return k == kKindWaveArray || k == kKindXYPoints || k == kKindXYArrays || k == kKindWaveform;
}

int32 BaseNumType(int32 type) { return type & ~0x10; }
// The number at p as float64 (0 for a type that is not a real number).
float64 Num(int32 type, const uChar* p) {
  type = BaseNumType(type);
  float64 d = 0;
  if (p && type >= kTDI8 && type <= kTDEXT) ConvertNum(type, p, kTDDBL, &d);
  return d;
}
// Types the scale mapping takes; 64-bit integers are left unmapped (gaps).
bool Mappable(int32 type) {
  type = BaseNumType(type);
  return type >= kTDI8 && type <= kTDEXT && type != kTDI64 && type != kTDU64;
}

// The data offset of the graph's first scale of the part id, or 0 (with
// an assertion for the X and Y scales, which every graph has).
int32 FirstScaleData(ObjHeap heap, int32 graph, int16 id) {
  const int32 part = FindPart(heap, graph, id, 0);
  if (!part) {
    if (id != kGPartZScale) DBAssert(kModule, __LINE__, "graph without its X or Y scale");
    return 0;
  }
  return ScaleRecOf(heap, part) ? ObjWord(heap, part, kScaleObjData) : 0;  // a missing record asserts there
}

// One axis of a search: its scale's data offset, or 0 when the axis is not
// converted (every point then lies at the pixel's own coordinate).
struct Axis {
  int32 data;
  int16 own;
};

// Maps count values to pixels; what the mapping leaves unwritten is a gap.
void MapAxis(ObjHeap heap, const Axis& a, int32 type, const uChar* values, int32 stride, int32 count, int16* out) {
  if (!a.data) {
    std::fill(out, out + count, a.own);
    return;
  }
  // The mapping writes every pixel or none: a first pixel it never writes
  // tells which.
  constexpr int16 kUnwritten = kPlotGap + 1;
  out[0] = kUnwritten;
  if (Mappable(type)) MapValuesToPixels(heap, a.data, BaseNumType(type), values, stride, count, out, 2);
  if (out[0] == kUnwritten) std::fill(out, out + count, kPlotGap);
}

// The X-scale value at h as a 32-bit integer (saturated); false when the
// axis could not be converted.
bool IndexAtPixel(ObjHeap heap, int32 graph, int16 id, int16 pixel, int32* out) {
  const int32 data = FirstScaleData(heap, graph, id);
  if (!data) return false;
  MapPixelsToValues(heap, data, kTDI32, &pixel, 1, 1, out, 4);
  return true;
}

// Index and snapped x of a waveform at the pixel; false when dx is 0 or
// x0 or dx is not finite.
bool WaveIndex(ObjHeap heap, int32 graph, float64 x0, float64 dx, Point pixel, int32* index, float64* snapped) {
  if (!std::isfinite(x0) || !std::isfinite(dx) || dx == 0) return false;
  float64 xs = 0;
  if (const int32 data = FirstScaleData(heap, graph, kGPartXScale))
    MapPixelsToValues(heap, data, kTDDBL, &pixel.h, 1, 1, &xs, 8);
  *index = RndToNearest((xs - x0) / dx);
  if (snapped) *snapped = float64(*index) * dx + x0;
  return true;
}

// Moves i into 0 .. n - 1; true when it was moved.
bool PinIndex(int32* i, int32 n) {
  if (*i < 0) { *i = 0; return true; }
  if (*i > n - 1) { *i = n - 1; return true; }
  return false;
}

// Point i of a plot in scale units.
void ReadPoint(const PlotSeries& s, int32 i, float64* x, float64* y) {
  *y = Num(s.yType, s.y + int64(i) * s.yStride);
  *x = s.x ? Num(s.xType, s.x + int64(i) * s.xStride) : s.x0 + float64(i) * s.dx;
}

// x := x multiplier + offset of the first scale of the id (skipped when the
// graph lacks it: an assertion for X and Y).
void ToUserUnits(ObjHeap heap, int32 graph, int16 id, float64* v) {
  const int32 part = FindPart(heap, graph, id, 0);
  if (!part) {
    if (id != kGPartZScale) DBAssert(kModule, __LINE__, "graph without its X or Y scale");
    return;
  }
  if (const ScaleRec* r = ScaleRecOf(heap, part)) *v = *v * r->multiplier + r->offset;
}

void ChartLookup(const char* line) {
  DBPrintf("%s", line);
  DBAssert(kModule, __LINE__, line);
}

const TypeDescriptor* ValueTD(ObjHeap heap, int32 graph) {
  return TypeIDGetTD(heap, TypeID(ObjWord(heap, graph, kPWDDOTypeId)), 0);
}

// ---- The clusters of the ragged kinds --------------------------------------------
const TypeDescriptor* Skip(const TypeDescriptor* t) { return t ? SkipTypedefs(t) : nullptr; }
bool Is1DArray(const TypeDescriptor* t) {
  return t && (t->code == kTDArray || t->code == kTDArrayView) &&
         int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4)) == 1;
}
const TypeDescriptor* ArrayElemTD(const TypeDescriptor* t) {
  return Skip(reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(t) + 10));
}
int32 OffsetInCluster(const TypeDescriptor* c, int32 i) {
  int32 at = 0;
  for (int32 j = 0; j < i; ++j) at = AlignDatum(ElemTD(c, j), at) + DataSize(ElemTD(c, j));
  return AlignDatum(ElemTD(c, i), at);
}
// A 1-D array at slot: its count and first element, checked against the
// handle (count 0 for one that does not hold them).
struct Array1D {
  int32 count = 0;
  const uChar* base = nullptr;
};
Array1D ReadArray1D(const TypeDescriptor* arrayTD, const uChar* slot, int32 elemSize) {
  Array1D a;
  arrayTD = Skip(arrayTD);
  if (!slot || !Is1DArray(arrayTD) || elemSize <= 0) return a;
  const TypeDescriptor* elem = Skip(ArrayElemTD(arrayTD));
  UHandle h;
  std::memcpy(&h, slot, sizeof h);
  if (!elem || !h || !*h || !MemIsDSHandle(h)) return a;
  const int32 size = DSGetHandleSize(h);
  if (size < 4) return a;
  const int32 n = int32(GetNative32(*h));
  const int32 first = AlignDatum(elem, 4);
  if (n <= 0 || int64(first) + int64(n) * elemSize > size) return a;
  a.count = n;
  a.base = *h + first;
  return a;
}

// The outer array of kinds 4 and 12: the clusters, their size and
// descriptor, and the numeric type of the Y[] they hold.
struct RaggedPlots {
  const uChar* base = nullptr;
  int32 count = 0;
  int32 elemSize = 0;
  int32 yType = 0;
  const TypeDescriptor* elemTD = nullptr;
};
RaggedPlots RaggedOf(const GraphLayout& l) {
  RaggedPlots r;
  const TypeDescriptor* arrayTD = l.td;
  const uChar* slot = l.value;
  if (l.kind == kKindWaveArrays) {
    arrayTD = Skip(ElemTD(l.td, 2));
    slot = l.value + OffsetInCluster(l.td, 2);
  }
  if (!Is1DArray(arrayTD)) return r;
  r.elemTD = Skip(ArrayElemTD(arrayTD));
  if (!r.elemTD || r.elemTD->code != kTDCluster) return r;
  r.elemSize = DataSize(r.elemTD);
  const Array1D a = ReadArray1D(arrayTD, slot, r.elemSize);
  r.base = a.base;
  r.count = a.count;
  const TypeDescriptor* inner = Skip(ElemTD(r.elemTD, 0));
  const TypeDescriptor* number = Is1DArray(inner) ? ArrayElemTD(inner) : nullptr;
  r.yType = number ? BaseNumType(number->code) : 0;
  return r;
}

// Outs of a lookup.
struct Outs {
  int32* plot;
  int32* index;
  void Set(int32 p, int32 i) const {
    if (plot) *plot = p;
    if (index) *index = i;
  }
};

int32 FindSinglePlot(ObjHeap heap, int32 graph, const GraphLayout& l, Point pixel, int32 plot, const Outs& outs,
                     int32 mode, int32 threshold) {
  PlotSeries s;
  GraphLayoutPlot(&l, 0, &s);
  int32 status = kPointFound;
  int32 index = -1;
  if (s.count <= 0) {
    outs.Set(0, -1);
    return kPointNone;
  }
  if (l.kind == kKindXYPoints || l.kind == kKindXYArrays) {
    index = NearestXYPoint(heap, graph, s.count, s.x, s.xType, s.xStride, s.y, s.yType, s.yStride, pixel, nullptr,
                           mode, threshold);
    if (index < 0) status = kPointNone;
  } else {
    bool ok = l.kind == kKindWaveArray ? IndexAtPixel(heap, graph, kGPartXScale, pixel.h, &index)
                                       : WaveIndex(heap, graph, s.x0, s.dx, pixel, &index, nullptr);
    if (!ok && l.kind == kKindWaveArray) ok = true, index = 0;  // the axis not converted
    if (!ok) {
      outs.Set(0, -1);
      return kPointNone;
    }
    if (PinIndex(&index, s.count)) status = kPointIndexMoved;
  }
  if (plot != 0 && plot != -1 && status == kPointFound) status = kPointPlotMoved;
  outs.Set(0, index);
  return status;
}

// Index in one plot of kinds 4, 5, 11, 12, 13 from the pixel's X position,
// moved into the plot; status 1 when it has no points or no index.
int32 IndexInPlot(ObjHeap heap, int32 graph, const GraphLayout& l, const PlotSeries& s, Point pixel, int32* index) {
  if (s.count <= 0) return kPointNone;
  if (l.kind == kKindWaveArrayOfArrays || l.kind == kKindWave2D) {
    if (!IndexAtPixel(heap, graph, kGPartXScale, pixel.h, index)) *index = 0;
  } else if (!WaveIndex(heap, graph, s.x0, s.dx, pixel, index, nullptr)) {
    return kPointNone;
  }
  return PinIndex(index, s.count) ? kPointIndexMoved : kPointFound;
}

// Kind 11 over every plot: the inside point nearest in squared pixels, else
// the nearest end point by horizontal, then vertical distance.
int32 FindWaveforms(ObjHeap heap, int32 graph, const GraphLayout& l, Point pixel, const Outs& outs) {
  const Axis ax{FirstScaleData(heap, graph, kGPartXScale), pixel.h};
  const Axis ay{FirstScaleData(heap, graph, kGPartYScale), pixel.v};
  int64 best = INT64_MAX, fallH = INT64_MAX, fallV = INT64_MAX;
  int32 bestPlot = -1, bestIndex = -1, fallPlot = -1, fallIndex = -1;
  for (int32 p = 0; p < l.plots; ++p) {
    PlotSeries s;
    if (!GraphLayoutPlot(&l, p, &s) || s.count <= 0) continue;
    int32 i = 0;
    float64 x = 0, y = 0;
    if (!WaveIndex(heap, graph, s.x0, s.dx, pixel, &i, &x)) continue;
    const bool inside = i >= 0 && i < s.count;
    if (!inside) {
      i = i >= 0 ? s.count - 1 : 0;
      ReadPoint(s, i, &x, &y);
    } else {
      y = Num(s.yType, s.y + int64(i) * s.yStride);
    }
    int16 h, v;
    MapAxis(heap, ax, kTDDBL, reinterpret_cast<const uChar*>(&x), 8, 1, &h);
    MapAxis(heap, ay, kTDDBL, reinterpret_cast<const uChar*>(&y), 8, 1, &v);
    if (h == kPlotGap || v == kPlotGap) continue;
    const int32 dh = h - pixel.h, dv = v - pixel.v;
    if (inside) {
      const int64 d = int64(dh) * dh + int64(dv) * dv;
      if (d < best) best = d, bestPlot = p, bestIndex = i;
    } else {
      const int64 adh = std::abs(dh), adv = std::abs(dv);
      if (adh < fallH || (adh == fallH && adv < fallV)) fallH = adh, fallV = adv, fallPlot = p, fallIndex = i;
    }
  }
  if (bestPlot >= 0) outs.Set(bestPlot, bestIndex);
  else if (fallPlot >= 0) outs.Set(fallPlot, fallIndex);
  else return kPointNone;
  return kPointFound;
}

int32 FindAllPlots(ObjHeap heap, int32 graph, const GraphLayout& l, Point pixel, const Outs& outs, int32 mode,
                   int32 threshold) {
  switch (l.kind) {
    case kKindWaveArrayOfArrays: case kKindWaveArrays: {
      int32 status = kPointFound, index = 0;
      if (l.kind == kKindWaveArrayOfArrays) {
        IndexAtPixel(heap, graph, kGPartXScale, pixel.h, &index);
      } else {
        PlotSeries s;
        GraphLayoutPlot(&l, 0, &s);  // x0 and dx are the value's own
        if (!WaveIndex(heap, graph, s.x0, s.dx, pixel, &index, nullptr)) return kPointNone;
        if (index < 0) index = 0, status = kPointIndexMoved;
      }
      const RaggedPlots r = RaggedOf(l);
      int32 plot = -1;
      const int32 result = NearestRaggedPlotAtIndex(heap, graph, r.base, pixel, &plot, &index, r.elemSize, r.yType,
                                                    r.elemTD, std::min(r.count, l.plots));
      if (result) return result;
      outs.Set(plot, index);
      return status;
    }
    case kKindWave2D: case kKindWave2DScaled: {
      PlotSeries s0, s1;
      GraphLayoutPlot(&l, 0, &s0);
      int32 index = 0;
      const int32 status = IndexInPlot(heap, graph, l, s0, pixel, &index);
      if (status == kPointNone) return status;
      // Plot p's y at the index lies a fixed stride after plot 0's.
      int32 stride = 0;
      if (l.plots > 1 && GraphLayoutPlot(&l, 1, &s1)) stride = int32(s1.y - s0.y);
      const int32 plot = NearestPlotAtIndex(heap, graph, s0.yType, s0.y + int64(index) * s0.yStride, stride,
                                            l.plots, pixel);
      if (plot < 0) return kPointNone;
      outs.Set(plot, index);
      return status;
    }
    case kKindXYPlots: case kKindXYArrayPairs: {
      int32 bestPlot = -1, bestIndex = -1, bestDistance = kNoDistance;
      for (int32 p = 0; p < l.plots; ++p) {
        PlotSeries s;
        if (!GraphLayoutPlot(&l, p, &s)) continue;
        int32 d = kNoDistance;
        const int32 i =
            NearestXYPoint(heap, graph, s.count, s.x, s.xType, s.xStride, s.y, s.yType, s.yStride, pixel, &d, mode,
                           threshold);
        if (i < 0) continue;
        if (bestPlot < 0 || d < bestDistance) {
          bestPlot = p, bestIndex = i, bestDistance = d;
          if (bestDistance <= threshold) break;
        }
      }
      if (bestPlot < 0) return kPointNone;
      outs.Set(bestPlot, bestIndex);
      return kPointFound;
    }
    case kKindWaveforms:
      return FindWaveforms(heap, graph, l, pixel, outs);
    default:
      return kPointNone;
  }
}

int32 FindInPlot(ObjHeap heap, int32 graph, const GraphLayout& l, Point pixel, int32 plot, const Outs& outs,
                 int32 mode, int32 threshold) {
  PlotSeries s;
  GraphLayoutPlot(&l, plot, &s);
  int32 index = -1;
  int32 status = kPointFound;
  if (l.kind == kKindXYPlots || l.kind == kKindXYArrayPairs) {
    index = NearestXYPoint(heap, graph, s.count, s.x, s.xType, s.xStride, s.y, s.yType, s.yStride, pixel, nullptr,
                           mode, threshold);
  } else {
    status = IndexInPlot(heap, graph, l, s, pixel, &index);
    if (status == kPointNone) index = -1;
  }
  outs.Set(plot, index);
  return status;
}

// Kinds 14 and 17: the index from the X scale, the plot from the Y scale.
int32 FindInImage(ObjHeap heap, int32 graph, const GraphLayout& l, Point pixel, const Outs& outs) {
  int32 first = 0, second = 0;
  GraphLayoutDims(&l, &first, &second);
  if (first == 0 || second == 0) return kPointNoData;
  const bool plotsFirst = l.kind == kKindIntensGraph ? l.graphType == kGraphIntensityTransposed : bool(l.transposed);
  const int32 points = plotsFirst ? second : first, plots = plotsFirst ? first : second;
  int32 index = 0, plot = 0;
  IndexAtPixel(heap, graph, kGPartXScale, pixel.h, &index);
  IndexAtPixel(heap, graph, kGPartYScale, pixel.v, &plot);
  // Both indices are pinned, whichever moves.
  const bool indexMoved = PinIndex(&index, points);
  const bool plotMoved = PinIndex(&plot, plots);
  const bool moved = indexMoved || plotMoved;
  outs.Set(plot, index);
  return moved ? kPointIndexMoved : kPointFound;
}

}  // namespace

int32 GetPlotPointValues(ObjHeap heap, int32 graph, const void* value, int32 plot, int32 index, float64* x,
                         float64* y, float64* z) {
  float64 xv = 0, yv = 0, zv = 0;
  if (x) *x = 0;
  if (y) *y = 0;
  if (z) *z = 0;
  GraphLayout l;
  const GraphDataKind kind = GraphLayoutOf(heap, graph, ValueTD(heap, graph), value, &l);
  int32 status = kPointFound;
  if (kind == kKindNone) return kPointNone;
  if (IsChartKind(kind)) {
    ChartLookup("what does index mean in a chart ???");
    return kPointFound;
  }
  if (kind == kKindIntensChart) {
    ChartLookup("don't know what to do about charts yet???");
    return kPointFound;
  }
  if (kind == kKindIntensGraph) {
    int32 first = 0, second = 0;
    GraphLayoutDims(&l, &first, &second);
    if (first == 0 || second == 0) return kPointNoData;
    const int32 points = l.graphType == kGraphIntensityTransposed ? second : first;
    if (plot < 0 || plot >= l.plots || index < 0 || index >= points) return kPointIndexMoved;
    PlotSeries s;
    if (!GraphLayoutPlot(&l, plot, &s) || index >= s.count) return kPointIndexMoved;
    xv = index;
    yv = plot;
    zv = Num(s.yType, s.y + int64(index) * s.yStride);
  } else {
    const bool single = IsSinglePlotKind(kind);
    int32 p = 0;
    if (!single) {
      if (l.plots <= 0) return kPointNoData;
      p = plot;
      if (PinIndex(&p, l.plots)) status = kPointPlotMoved;
    }
    PlotSeries s;
    if (!GraphLayoutPlot(&l, p, &s) || s.count <= 0) return kPointNone;
    if (PinIndex(&index, s.count)) status = kPointIndexMoved;
    ReadPoint(s, index, &xv, &yv);
    if (single && plot != 0 && status == kPointFound) status = kPointPlotMoved;
  }
  ToUserUnits(heap, graph, kGPartXScale, &xv);
  ToUserUnits(heap, graph, kGPartYScale, &yv);
  if (kind == kKindIntensGraph) ToUserUnits(heap, graph, kGPartZScale, &zv);
  if (x) *x = xv;
  if (y) *y = yv;
  if (z) *z = zv;
  return status;
}

int32 FindNearestPlotPoint(ObjHeap heap, int32 graph, const void* value, Point pixel, int32 plot, int32* plotOut,
                           int32* indexOut, int32 mode) {
  const Outs outs{plotOut, indexOut};
  outs.Set(-1, -1);
  const int32 threshold = mode == kDistanceVertical || mode == kDistanceHorizontal ? kLineThreshold
                                                                                     : kSquaredThreshold;
  GraphLayout l;
  const GraphDataKind kind = GraphLayoutOf(heap, graph, ValueTD(heap, graph), value, &l);
  if (kind == kKindNone) return kPointNoData;
  if (IsChartKind(kind)) {
    ChartLookup("what does index mean in a chart ???");
    return kPointFound;
  }
  if (kind == kKindIntensChart || kind == kKindIntensGraph) return FindInImage(heap, graph, l, pixel, outs);
  if (IsSinglePlotKind(kind)) return FindSinglePlot(heap, graph, l, pixel, plot, outs, mode, threshold);
  if (l.plots <= 0) return kPointNoData;
  if (plot == -1) return FindAllPlots(heap, graph, l, pixel, outs, mode, threshold);
  const bool moved = PinIndex(&plot, l.plots);
  const int32 status = FindInPlot(heap, graph, l, pixel, plot, outs, mode, threshold);
  // A moved index (2) and no point (1) take the place of a moved plot.
  return moved && status == kPointFound ? kPointPlotMoved : status;
}

namespace {

// The block's best point by the mode's distance (squared sums in float64,
// exact for any two pixels); true when it is within the threshold, where
// the search ends.
template <int32 Mode>
bool ScanBlock(const int16* ph, const int16* pv, int32 count, int32 start, int32 h, int32 v, float64 threshold,
               float64* best, int32* bestAt) {
  // Kept in locals: the pixel arrays may not be assumed apart from them.
  float64 b = *best;
  int32 at = -1;
  bool within = false;
  for (int32 i = 0; i < count; ++i) {
    const int32 dh = ph[i] - h, dv = pv[i] - v;
    float64 d;
    if constexpr (Mode == kDistanceVertical) d = std::abs(dv);
    else if constexpr (Mode == kDistanceHorizontal) d = std::abs(dh);
    else d = float64(dh) * dh + float64(dv) * dv;
    if (d < b && ph[i] != kPlotGap && pv[i] != kPlotGap) {
      b = d;
      at = i;
      if (d <= threshold) {
        within = true;
        break;
      }
    }
  }
  if (at >= 0) *best = b, *bestAt = start + at;
  return within;
}

}  // namespace

int32 NearestXYPoint(ObjHeap heap, int32 graph, int32 n, const void* x, int32 xType, int32 xStride, const void* y,
                     int32 yType, int32 yStride, Point pixel, int32* distance, int32 mode, int32 threshold) {
  if (distance) *distance = kNoDistance;
  if (n < 1 || !x || !y) return -1;
  const Axis ax{FirstScaleData(heap, graph, kGPartXScale), pixel.h};
  const Axis ay{FirstScaleData(heap, graph, kGPartYScale), pixel.v};
  const auto* xs = static_cast<const uChar*>(x);
  const auto* ys = static_cast<const uChar*>(y);
  int16 ph[kBlock], pv[kBlock];
  float64 best = HUGE_VAL;
  int32 bestAt = -1;
  const int32 h = pixel.h, v = pixel.v;
  for (int32 start = 0; start < n; start += kBlock) {
    const int32 count = std::min(kBlock, n - start);
    MapAxis(heap, ax, xType, xs + int64(start) * xStride, xStride, count, ph);
    MapAxis(heap, ay, yType, ys + int64(start) * yStride, yStride, count, pv);
    bool done;
    if (mode == kDistanceVertical)
      done = ScanBlock<kDistanceVertical>(ph, pv, count, start, h, v, threshold, &best, &bestAt);
    else if (mode == kDistanceHorizontal)
      done = ScanBlock<kDistanceHorizontal>(ph, pv, count, start, h, v, threshold, &best, &bestAt);
    else
      done = ScanBlock<0>(ph, pv, count, start, h, v, threshold, &best, &bestAt);
    if (done) break;
  }
  if (distance && bestAt >= 0) *distance = best >= float64(kNoDistance) ? kNoDistance : int32(best);
  return bestAt;
}

int32 NearestPlotAtIndex(ObjHeap heap, int32 graph, int32 yType, const void* y, int32 plotStride, int32 plots,
                         Point pixel) {
  if (plots < 1 || !y) return -1;
  const Axis ay{FirstScaleData(heap, graph, kGPartYScale), pixel.v};
  const auto* ys = static_cast<const uChar*>(y);
  int16 pv[kBlock];
  int32 best = INT32_MAX, bestPlot = -1;
  for (int32 start = 0; start < plots; start += kBlock) {
    const int32 count = std::min(kBlock, plots - start);
    MapAxis(heap, ay, yType, ys + int64(start) * plotStride, plotStride, count, pv);
    for (int32 i = 0; i < count; ++i) {
      if (pv[i] == kPlotGap) continue;
      const int32 d = std::abs(pv[i] - pixel.v);
      if (d < best) best = d, bestPlot = start + i;
    }
  }
  return bestPlot;
}

int32 NearestRaggedPlotAtIndex(ObjHeap heap, int32 graph, const void* plots, Point pixel, int32* plotOut,
                               int32* index, int32 elementSize, int32 yType, const TypeDescriptor* elementTD,
                               int32 plotCount) {
  const int32 i = index && *index > 0 ? *index : 0;
  elementTD = Skip(elementTD);
  if (!plots || plotCount < 1 || elementSize <= 0 || !elementTD || elementTD->code != kTDCluster) return kPointNone;
  const TypeDescriptor* arrayTD = Skip(ElemTD(elementTD, 0));
  const TypeDescriptor* number = Is1DArray(arrayTD) ? ArrayElemTD(arrayTD) : nullptr;
  if (!number) return kPointNone;
  const int32 numSize = DataSize(number), at = OffsetInCluster(elementTD, 0);
  const Axis ay{FirstScaleData(heap, graph, kGPartYScale), pixel.v};
  const auto* base = static_cast<const uChar*>(plots);
  int32 best = INT32_MAX, bestPlot = -1, firstLong = -1, longest = -1, longestCount = 0;
  for (int32 p = 0; p < plotCount; ++p) {
    const Array1D a = ReadArray1D(arrayTD, base + int64(p) * elementSize + at, numSize);
    if (a.count > longestCount) longestCount = a.count, longest = p;
    if (a.count <= i) continue;
    if (firstLong < 0) firstLong = p;
    int16 v;
    MapAxis(heap, ay, yType, a.base + int64(i) * numSize, numSize, 1, &v);
    if (v == kPlotGap) continue;
    const int32 d = std::abs(v - pixel.v);
    if (d < best) best = d, bestPlot = p;
  }
  if (bestPlot < 0) bestPlot = firstLong;  // long enough, but no y there maps
  if (bestPlot >= 0) {
    if (plotOut) *plotOut = bestPlot;
    if (index) *index = i;
    return kPointFound;
  }
  if (longest < 0) return kPointNone;
  if (plotOut) *plotOut = longest;
  if (index) *index = longestCount - 1;
  return kPointFound;
}

int32 WaveformIndexAtPixel(ObjHeap heap, int32 graph, const TypeDescriptor* x0TD, const void* x0, const void* dx,
                           Point pixel, float64* snappedX) {
  x0TD = x0TD ? SkipTypedefs(x0TD) : nullptr;
  if (!x0TD || !x0 || !dx) return kNoWaveformIndex;
  const auto* dxTD = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(x0TD) + x0TD->size);
  const float64 a = Num(x0TD->code, static_cast<const uChar*>(x0));
  const float64 b = Num(SkipTypedefs(dxTD)->code, static_cast<const uChar*>(dx));
  int32 index = 0;
  return WaveIndex(heap, graph, a, b, pixel, &index, snappedX) ? index : kNoWaveformIndex;
}
