#include "controls/graph.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "panel/objects.h"
#include "rtlib/arraysize.h"
#include "rtlib/panellocators.h"

namespace {

// ---- Descriptor fields -------------------------------------------------------------
const uChar* B(const TypeDescriptor* t) { return reinterpret_cast<const uChar*>(t); }
const TypeDescriptor* Skip(const TypeDescriptor* t) { return t ? SkipTypedefs(t) : nullptr; }
uChar Code(const TypeDescriptor* t) { return t ? t->code : 0; }
bool IsArray(const TypeDescriptor* t) { return Code(t) == kTDArray || Code(t) == kTDArrayView; }
int32 Dims(const TypeDescriptor* t) { return IsArray(t) ? int16(GetNative16(B(t) + 4)) : 0; }
const TypeDescriptor* ArrayElemTD(const TypeDescriptor* t) {
  return Skip(reinterpret_cast<const TypeDescriptor*>(B(t) + 6 + 4 * Dims(t)));
}
int32 ClusterCount(const TypeDescriptor* t) { return Code(t) == kTDCluster ? int16(GetNative16(B(t) + 4)) : -1; }
const TypeDescriptor* Elem(const TypeDescriptor* t, int32 i) { return Skip(ElemTD(t, i)); }

bool HasUnits(const TypeDescriptor* t) { return Code(t) >= kTDUnitSGL && Code(t) <= kTDUnitCXT; }
// Units differ when only one side has them, or when the unit parts (from
// byte 4, 4 x count + 2 bytes, the count from b) differ; a descriptor that
// does not hold those bytes differs.
bool UnitsDiffer(const TypeDescriptor* a, const TypeDescriptor* b) {
  if (HasUnits(a) != HasUnits(b)) return true;
  if (!HasUnits(a)) return false;
  if (a->size < 6 || b->size < 6) return true;
  const int32 bytes = 4 * int16(GetNative16(B(b) + 4)) + 2;
  if (bytes < 2 || 4 + bytes > a->size || 4 + bytes > b->size) return true;
  return std::memcmp(B(a) + 4, B(b) + 4, size_t(bytes)) != 0;
}
// A one-element cluster holding a 1-D number array.
bool IsYArrayCluster(const TypeDescriptor* t) { return ClusterCount(t) == 1 && Is1DNumArray(Elem(t, 0)); }

// {x0, dx, c}: the kind given by c (10 1-D array, 12 array of {Y[]}, 13 2-D
// array; 0 else), cleared when x0 and dx disagree on units.
GraphDataKind WaveformCluster(const TypeDescriptor* d, bool allowArrays) {
  if (ClusterCount(d) != 3) return kKindNone;
  const TypeDescriptor* a = Elem(d, 0);
  const TypeDescriptor* b = Elem(d, 1);
  const TypeDescriptor* c = Elem(d, 2);
  if (!IsPlotNumeric(a) || !IsPlotNumeric(b)) return kKindNone;
  GraphDataKind k = kKindNone;
  if (Is1DNumArray(c)) k = kKindWaveform;
  else if (allowArrays && Dims(c) == 1 && IsYArrayCluster(ArrayElemTD(c))) k = kKindWaveArrays;
  else if (allowArrays && Is2DNumArray(c)) k = kKindWave2DScaled;
  return k && !UnitsDiffer(a, b) ? k : kKindNone;
}

}  // namespace

Bool32 IsPlotNumeric(const TypeDescriptor* td) {
  const uChar c = Code(Skip(td));
  return (c >= kTDI8 && c <= kTDEXT) || (c >= kTDUnitSGL && c <= kTDUnitEXT);
}
Bool32 Is1DNumArray(const TypeDescriptor* td) {
  td = Skip(td);
  return Dims(td) == 1 && IsPlotNumeric(ArrayElemTD(td));
}
Bool32 Is2DNumArray(const TypeDescriptor* td) {
  td = Skip(td);
  return Dims(td) == 2 && IsPlotNumeric(ArrayElemTD(td));
}
Bool32 AllElemsPlotNumeric(const TypeDescriptor* td) {
  td = Skip(td);
  const int32 n = ClusterCount(td);
  if (n <= 0) return false;
  for (int32 i = 0; i < n; ++i)
    if (!IsPlotNumeric(Elem(td, i))) return false;
  return true;
}

int32 GraphTypeOf(ObjHeap heap, int32 graph) {
  if (!heap || !*heap || graph <= 0 || !OHIsUsedBlock(heap, graph) ||
      OHBlockSize(heap, graph) < kPanelGraphKindByte + 2)
    return -1;
  return ObjInt16(heap, graph, kPanelGraphKindByte);
}

GraphDataKind ClassifyGraphData(ObjHeap heap, int32 graph, const TypeDescriptor** td) {
  if (!td) {
    DBAssert(__FILE__, __LINE__, "ClassifyGraphData: no type descriptor");
    return kKindNone;
  }
  const int32 t = GraphTypeOf(heap, graph);
  const TypeDescriptor* d = Skip(*td);
  if (!d) return kKindNone;
  auto hand = [&](const TypeDescriptor* out, GraphDataKind k) {
    *td = out;
    return k;
  };
  if (t >= kIntensChartFirst && t <= kIntensChartLast)
    return Is2DNumArray(d) ? hand(ArrayElemTD(d), kKindIntensChart) : kKindNone;
  if (IsChartType(t)) {
    const bool array = Dims(d) == 1;
    const TypeDescriptor* e = array ? ArrayElemTD(d) : d;
    if (IsPlotNumeric(e)) return hand(e, array ? kKindChartArray : kKindChartPoint);
    if (AllElemsPlotNumeric(e)) return hand(e, array ? kKindChartClusters : kKindChartCluster);
    if (Is2DNumArray(d)) return hand(ArrayElemTD(d), kKindChart2D);
    return kKindNone;
  }
  if (t == kGraphXY || t == kGraphXYOther) {
    if (ClusterCount(d) == 2 && Is1DNumArray(Elem(d, 0)) && Is1DNumArray(Elem(d, 1)))
      return hand(Elem(d, 0), kKindXYArrays);
    if (Dims(d) != 1) return kKindNone;
    const TypeDescriptor* c = ArrayElemTD(d);
    const int32 n = ClusterCount(c);
    if (n == 2 && IsPlotNumeric(Elem(c, 0)) && IsPlotNumeric(Elem(c, 1))) return hand(c, kKindXYPoints);
    if (n == 1) {
      const TypeDescriptor* inner = Elem(c, 0);
      if (Dims(inner) == 1) {
        const TypeDescriptor* p = ArrayElemTD(inner);
        if (ClusterCount(p) == 2 && IsPlotNumeric(Elem(p, 0)) && IsPlotNumeric(Elem(p, 1)))
          return hand(p, kKindXYPlots);
      }
    }
    if (n == 2 && Is1DNumArray(Elem(c, 0)) && Is1DNumArray(Elem(c, 1))) return hand(Elem(c, 0), kKindXYArrayPairs);
    return kKindNone;
  }
  if (t == kGraphIntensity || t == kGraphIntensityTransposed)
    return Is2DNumArray(d) ? hand(ArrayElemTD(d), kKindIntensGraph) : kKindNone;
  // Waveform graphs.
  if (Code(d) == kTDCluster) {
    const GraphDataKind k = WaveformCluster(d, true);
    return k ? hand(Elem(d, 0), k) : kKindNone;
  }
  if (Dims(d) == 1) {
    const TypeDescriptor* e = ArrayElemTD(d);
    if (IsPlotNumeric(e)) return hand(e, kKindWaveArray);
    if (AllElemsPlotNumeric(e)) return kKindNone;
    if (IsYArrayCluster(e)) return hand(e, kKindWaveArrayOfArrays);
    if (WaveformCluster(e, false) == kKindWaveform) return hand(e, kKindWaveforms);
    return kKindNone;
  }
  if (Is2DNumArray(d)) return hand(ArrayElemTD(d), kKindWave2D);
  return kKindNone;
}

// ---- The data block and its plots ---------------------------------------------------

GraphData* GraphDataOf(ObjHeap heap, int32 graph) {
  if (!heap || !*heap || graph <= 0 || !OHIsUsedBlock(heap, graph) || OHBlockSize(heap, graph) < 4 * (kGraphDataWord + 1))
    return nullptr;
  const int32 at = ObjWord(heap, graph, kGraphDataWord);
  if (at <= 0) return nullptr;
  // The whole block must lie in the data space: its last byte is reachable.
  if (!FPHeapDataPtr(heap, at + int32(sizeof(GraphData)) - 1)) return nullptr;
  return reinterpret_cast<GraphData*>(FPHeapDataPtr(heap, at));
}

PlotRec* GraphPlots(const GraphData* data, int32* count) {
  if (count) *count = 0;
  UHandle list = data ? data->plots : nullptr;
  if (!list || !*list || !MemIsDSHandle(list)) return nullptr;
  const int32 size = DSGetHandleSize(list);
  const int32 n = size >= 4 ? int32(GetNative32(*list)) : 0;
  if (n <= 0 || int64(n) * kPlotRecBytes > size - 4) return nullptr;
  if (count) *count = n;
  return reinterpret_cast<PlotRec*>(*list + 4);
}

const TypeDescriptor* PlotRecTD() {
  // The block's descriptor is built once and kept for the run.
  static const UHandle block = GraphStateTD();
  if (!block || !*block) return nullptr;
  const TypeDescriptor* list = ElemTD(reinterpret_cast<const TypeDescriptor*>(*block), 0);
  return list ? ArrayElemTD(list) : nullptr;
}

namespace {

int32 FormatName(char* out, int32 capacity, const uChar* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int32 n = SPrintfv(out, capacity, reinterpret_cast<const char*>(fmt + 1), fmt[0], args);
  va_end(args);
  return n;
}

// Sets a new record's defaults and names it with its index.
MgErr InitPlotRec(const TypeDescriptor* td, PlotRec* p, const uChar* fmt, int32 index) {
  if (MgErr e = InitEmptyData(td, p)) return e;
  p->lineColor = 0xFFFFFF;
  p->interpolation = 2;
  p->lineWidth = 1;
  p->pointColor = 0xFFFFFF;
  char text[256];
  const int32 n = FormatName(text, int32(sizeof text), fmt, long(index));
  if (!p->name) return kMemFullErr;
  if (MgErr e = DSSetHandleSize(p->name, 4 + n)) return e;
  PutNative32(*p->name, uInt32(n));
  std::memcpy(*p->name + 4, text, size_t(n));
  return kNoErr;
}

}  // namespace

MgErr ResizePlotList(ObjHeap heap, int32 graph, int32 wanted, int32 minimum, Bool32 /*flag*/) {
  GraphData* data = GraphDataOf(heap, graph);
  if (!data) {
    DBAssert(__FILE__, __LINE__, "ResizePlotList: graph has no data block");
    return kArgErr;
  }
  if (wanted < 0 && minimum < 0) {
    DBAssert(__FILE__, __LINE__, "ResizePlotList: negative plot counts");
    return 1;
  }
  const int32 count = std::max(wanted, minimum);
  UHandle list = data->plots;
  if (list && (!*list || !MemIsDSHandle(list) || DSGetHandleSize(list) < 4)) return kArgErr;
  int32 old = 0;
  GraphPlots(data, &old);
  if (list && old == 0 && GetNative32(*list) != 0) return kArgErr;  // a count its handle does not hold
  if (count == old) return kNoErr;
  const TypeDescriptor* td = PlotRecTD();
  if (!td) return kMemFullErr;
  ArrayHandle array = reinterpret_cast<ArrayHandle>(list);
  int32 n = count;
  int32* np = &n;
  if (MgErr e = VectorResize(td, &array, &np)) return e;
  data->plots = reinterpret_cast<UHandle>(array);
  if (count < old) return kNoErr;
  Str255 fmt;
  if (RGetIndString(RunTimeRsrcFile(), fmt, kGraphStringsList, kGraphStringPlot) != kNoErr) fmt[0] = 0;
  for (int32 i = old; i < count; ++i) {
    auto* p = reinterpret_cast<PlotRec*>(*data->plots + 4) + i;
    if (MgErr e = InitPlotRec(td, p, fmt, i)) {
      // Keep only the whole records: the one that failed is released with
      // the cleared ones after it, so no record is left without its handles.
      array = reinterpret_cast<ArrayHandle>(data->plots);
      n = i;
      VectorResize(td, &array, &np);
      return e;
    }
  }
  return kNoErr;
}

void ClearChartPlotData(GraphData* data) {
  int32 n = 0;
  PlotRec* p = GraphPlots(data, &n);
  for (int32 i = 0; i < n; ++i, ++p) {
    p->count = 0;
    for (UHandle h : {p->xs, p->ys}) {
      if (!h || !*h || !MemIsDSHandle(h) || DSGetHandleSize(h) < 4) continue;
      PutNative32(*h, 0);
      DSSetHandleSize(h, 4);
    }
  }
}

// ---- The plot legend -------------------------------------------------------------------
namespace {

Rect BoundsOf(ObjHeap heap, int32 o) {
  Rect r{0, 0, 0, 0};
  if (o > 0 && OHIsUsedBlock(heap, o) && OHBlockSize(heap, o) >= kObjBounds + int32(sizeof r))
    std::memcpy(&r, *heap + o + kObjBounds, sizeof r);
  return r;
}

// The row height: the legend label's height + 6.
int32 LegendRowHeight(ObjHeap heap, int32 graph) {
  if (OHBlockSize(heap, graph) < 4 * (kGraphLegendNameWidthWord + 1)) return 0;
  const Rect label = BoundsOf(heap, ObjWord(heap, graph, kGraphLegendLabelWord));
  return label.bottom - label.top + 6;
}

}  // namespace

int32 PlotLegendRowCount(ObjHeap heap, int32 graph) {
  if (GraphTypeOf(heap, graph) == -1) return 0;
  const int32 legend = FindPart(heap, graph, kGPartPlotLegend, 0);
  if (!legend) return 0;
  const int32 h = LegendRowHeight(heap, graph);
  if (h <= 0) return 0;
  const Rect r = BoundsOf(heap, legend);
  return std::max(0, (r.bottom - r.top) / h);
}

void PlotLegendRowRect(ObjHeap heap, int32 graph, int32 row, Rect* sample, Rect* name) {
  const int32 legend = GraphTypeOf(heap, graph) == -1 ? 0 : FindPart(heap, graph, kGPartPlotLegend, 0);
  if (!legend) {
    DBAssert(__FILE__, __LINE__, "PlotLegendRowRect: graph has no plot legend");
    return;
  }
  // The width and the row come from the file: computed wide, pinned to coordinates.
  const int64 h = LegendRowHeight(heap, graph);
  const int64 w = ObjWord(heap, graph, kGraphLegendNameWidthWord);
  const Rect r = BoundsOf(heap, legend);
  auto pin = [](int64 v) { return int16(std::clamp<int64>(v, -32768, 32767)); };
  const int64 top = r.top + int64(row) * h + 2;
  const int64 bottom = top + h - 6;
  if (sample) *sample = Rect{pin(top), pin(r.left + w + 1), pin(bottom), pin(r.right - 3)};
  if (name) *name = Rect{pin(top), pin(r.left + 1), pin(bottom), pin(r.left + w)};
}
