// Where the plots and points of a graph's value lie, by plot kind: the
// number of plots and, per plot, its point count, its first x and y
// elements with their strides and numeric types, or x0 and dx for the
// implicit x of waveforms.  Values come from diagrams: every array handle is
// checked against its size before an element is named.
#include <algorithm>
#include <cstring>

#include "controls/graph.h"
#include "engine/datamgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"

namespace {

const uChar* B(const TypeDescriptor* t) { return reinterpret_cast<const uChar*>(t); }
const TypeDescriptor* Skip(const TypeDescriptor* t) { return t ? SkipTypedefs(t) : nullptr; }
int32 Dims(const TypeDescriptor* t) {
  return t && (t->code == kTDArray || t->code == kTDArrayView) ? int16(GetNative16(B(t) + 4)) : 0;
}
const TypeDescriptor* ArrayElem(const TypeDescriptor* t) {
  return Skip(reinterpret_cast<const TypeDescriptor*>(B(t) + 6 + 4 * Dims(t)));
}
const TypeDescriptor* Elem(const TypeDescriptor* t, int32 i) { return Skip(ElemTD(t, i)); }
// The numeric type of a plottable number (units cleared).
int32 NumTypeOf(const TypeDescriptor* t) { return t ? (t->code & ~0x10) : 0; }

// The offset of element i inside a cluster's data.
int32 ClusterOffset(const TypeDescriptor* c, int32 i) {
  int32 at = 0;
  for (int32 j = 0; j < i; ++j) {
    const TypeDescriptor* e = ElemTD(c, j);
    at = AlignDatum(e, at) + DataSize(e);
  }
  return AlignDatum(ElemTD(c, i), at);
}

// An array held in a value: its sizes and first element, checked against
// the handle (an empty view for a handle that does not hold them).
struct ArrayView {
  int32 dims[2] = {0, 0};
  int32 count = 0;  // all elements
  const uChar* base = nullptr;
  int32 elemSize = 0;
  const TypeDescriptor* elem = nullptr;
};

ArrayView View(const TypeDescriptor* arrayTD, const uChar* slot) {
  ArrayView v;
  const int32 n = Dims(arrayTD);
  if (!slot || n < 1 || n > 2) return v;
  v.elem = ArrayElem(arrayTD);
  v.elemSize = DataSize(v.elem);
  UHandle h;
  std::memcpy(&h, slot, sizeof h);
  if (!h || !*h || !MemIsDSHandle(h) || v.elemSize <= 0) return v;
  const int32 size = DSGetHandleSize(h);
  if (size < 4 * n) return v;
  int64 total = 1;
  for (int32 d = 0; d < n; ++d) {
    const int32 k = int32(GetNative32(*h + 4 * d));
    if (k < 0) return v;
    v.dims[d] = k;
    total *= k;
  }
  const int32 first = AlignDatum(v.elem, 4 * n);
  if (total > 0 && int64(first) + total * v.elemSize > size) return ArrayView{};
  v.count = int32(total);
  v.base = *h + first;
  return v;
}

float64 AsDouble(const TypeDescriptor* t, const uChar* at) {
  float64 d = 0;
  if (at && NumTypeOf(t) >= kTDI8 && NumTypeOf(t) <= kTDEXT) ConvertNum(NumTypeOf(t), at, kTDDBL, &d);
  return d;
}

// {x0, dx, ...}: the two numbers of a waveform cluster at c.
void ReadX0Dx(const TypeDescriptor* cl, const uChar* c, PlotSeries* out) {
  out->x0 = AsDouble(Elem(cl, 0), c + ClusterOffset(cl, 0));
  out->dx = AsDouble(Elem(cl, 1), c + ClusterOffset(cl, 1));
}

// The 1-D number array at slot as a plot's y.
void YFromArray(const TypeDescriptor* arrayTD, const uChar* slot, PlotSeries* out) {
  const ArrayView a = View(arrayTD, slot);
  out->count = a.count;
  out->y = a.base;
  out->yStride = a.elemSize;
  out->yType = NumTypeOf(a.elem);
}

// Plot p of a 2-D array: rows (p the first index) or columns.
void FromMatrix(const ArrayView& a, int32 p, bool rows, PlotSeries* out) {
  if (!a.base) return;
  out->yType = NumTypeOf(a.elem);
  if (rows) {
    out->count = a.dims[1];
    out->y = a.base + int64(p) * a.dims[1] * a.elemSize;
    out->yStride = a.elemSize;
  } else {
    out->count = a.dims[0];
    out->y = a.base + int64(p) * a.elemSize;
    out->yStride = a.dims[1] * a.elemSize;
  }
}

// {x, y} points (an array view of two-number clusters) as a plot.
void FromPoints(const ArrayView& a, PlotSeries* out) {
  out->count = a.count;
  out->x = a.base ? a.base + ClusterOffset(a.elem, 0) : nullptr;
  out->y = a.base ? a.base + ClusterOffset(a.elem, 1) : nullptr;
  out->xStride = out->yStride = a.elemSize;
  out->xType = NumTypeOf(Elem(a.elem, 0));
  out->yType = NumTypeOf(Elem(a.elem, 1));
}

// {X[], Y[]} at c as a plot: the smaller count.
void FromArrayPair(const TypeDescriptor* cl, const uChar* c, PlotSeries* out) {
  const ArrayView xs = View(Elem(cl, 0), c + ClusterOffset(cl, 0));
  const ArrayView ys = View(Elem(cl, 1), c + ClusterOffset(cl, 1));
  out->count = std::min(xs.count, ys.count);
  out->x = xs.base;
  out->y = ys.base;
  out->xStride = xs.elemSize;
  out->yStride = ys.elemSize;
  out->xType = NumTypeOf(xs.elem);
  out->yType = NumTypeOf(ys.elem);
}

// The outer array of the kinds whose plots are its elements.
bool OuterArrayKind(GraphDataKind k) {
  return k == kKindWaveArrayOfArrays || k == kKindXYPlots || k == kKindXYArrayPairs || k == kKindWaveforms;
}

}  // namespace

GraphDataKind GraphLayoutOf(ObjHeap heap, int32 graph, const TypeDescriptor* td, const void* value,
                            GraphLayout* out) {
  *out = GraphLayout{};
  out->graphType = GraphTypeOf(heap, graph);
  const TypeDescriptor* t = Skip(td);
  if (!t) return kKindNone;
  const TypeDescriptor* handed = t;
  const GraphDataKind kind = ClassifyGraphData(heap, graph, &handed);
  out->kind = kind;
  out->td = t;
  out->value = static_cast<const uChar*>(value);
  if (kind == kKindIntensChart)
    if (const GraphData* data = GraphDataOf(heap, graph)) out->transposed = (data->transpose & 1) != 0;
  if (!value) return kind;
  const uChar* v = out->value;
  int32 first = 0, second = 0;
  switch (kind) {
    case kKindWaveArray: case kKindXYPoints: case kKindXYArrays: case kKindWaveform:
      out->plots = 1;
      break;
    case kKindWaveArrayOfArrays: case kKindXYPlots: case kKindXYArrayPairs: case kKindWaveforms:
      out->plots = View(t, v).count;
      break;
    case kKindWave2D: {
      const ArrayView a = View(t, v);
      out->plots = out->graphType == kGraphWaveformTransposed ? a.dims[1] : a.dims[0];
      break;
    }
    case kKindWaveArrays:
      out->plots = View(Elem(t, 2), v + ClusterOffset(t, 2)).count;
      break;
    case kKindWave2DScaled: {
      const ArrayView a = View(Elem(t, 2), v + ClusterOffset(t, 2));
      out->plots = out->graphType == kGraphWaveformTransposed ? a.dims[1] : a.dims[0];
      break;
    }
    case kKindIntensChart: case kKindIntensGraph:
      GraphLayoutDims(out, &first, &second);
      // Plots run along the second dimension unless transposed.
      out->plots = (kind == kKindIntensGraph ? out->graphType == kGraphIntensityTransposed : out->transposed) ? first
                                                                                                                : second;
      break;
    default:
      break;  // charts read their history, not the value
  }
  return kind;
}

void GraphLayoutDims(const GraphLayout* l, int32* first, int32* second) {
  *first = *second = 0;
  if ((l->kind != kKindIntensGraph && l->kind != kKindIntensChart) || !l->value) return;
  const ArrayView a = View(l->td, l->value);
  *first = a.dims[0];
  *second = a.dims[1];
}

Bool32 GraphLayoutPlot(const GraphLayout* l, int32 p, PlotSeries* out) {
  *out = PlotSeries{};
  out->dx = 1;
  if (!l->value || p < 0 || p >= l->plots) return false;
  const TypeDescriptor* t = l->td;
  const uChar* v = l->value;
  const bool rows = l->graphType != kGraphWaveformTransposed;
  const uChar* elem = nullptr;
  const TypeDescriptor* elemTD = nullptr;
  if (OuterArrayKind(l->kind)) {
    const ArrayView a = View(t, v);
    if (p >= a.count) return false;
    elemTD = a.elem;
    elem = a.base + int64(p) * a.elemSize;
  }
  switch (l->kind) {
    case kKindWaveArray: YFromArray(t, v, out); break;
    case kKindWaveArrayOfArrays: YFromArray(Elem(elemTD, 0), elem + ClusterOffset(elemTD, 0), out); break;
    case kKindWave2D: FromMatrix(View(t, v), p, rows, out); break;
    case kKindXYPoints: FromPoints(View(t, v), out); break;
    case kKindXYPlots: FromPoints(View(Elem(elemTD, 0), elem + ClusterOffset(elemTD, 0)), out); break;
    case kKindXYArrays: FromArrayPair(t, v, out); break;
    case kKindXYArrayPairs: FromArrayPair(elemTD, elem, out); break;
    case kKindWaveform:
      ReadX0Dx(t, v, out);
      YFromArray(Elem(t, 2), v + ClusterOffset(t, 2), out);
      break;
    case kKindWaveforms:
      ReadX0Dx(elemTD, elem, out);
      YFromArray(Elem(elemTD, 2), elem + ClusterOffset(elemTD, 2), out);
      break;
    case kKindWaveArrays: {
      ReadX0Dx(t, v, out);
      const ArrayView a = View(Elem(t, 2), v + ClusterOffset(t, 2));
      if (p >= a.count) return false;
      const uChar* c = a.base + int64(p) * a.elemSize;
      YFromArray(Elem(a.elem, 0), c + ClusterOffset(a.elem, 0), out);
      break;
    }
    case kKindWave2DScaled:
      ReadX0Dx(t, v, out);
      FromMatrix(View(Elem(t, 2), v + ClusterOffset(t, 2)), p, rows, out);
      break;
    case kKindIntensGraph: case kKindIntensChart: {
      // Point i of plot p: element [i][p], or [p][i] when transposed.
      const bool transposed =
          l->kind == kKindIntensGraph ? l->graphType == kGraphIntensityTransposed : bool(l->transposed);
      FromMatrix(View(t, v), p, transposed, out);
      break;
    }
    default:
      return false;
  }
  return true;
}
