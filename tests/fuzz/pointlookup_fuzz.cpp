// Point lookups on graph values of every plot kind: arrays of any size
// (empty, ragged, large, or claiming more than their handles hold), numbers
// of any bits, scales with any ends and multipliers (or parts that are no
// scales), and pixels, plots, indexes and modes from the input.  Both
// lookups answer statuses 0..4 only, hand back a plot and an index that lie
// inside the value when they report a point, read nothing outside what was
// made (the sanitizer's check) and leave no handle behind.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "controls/graph.h"
#include "controls/pointlookup.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "mgsource/byteorder.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

// The value's data for a descriptor: numbers from the input, arrays of a
// few (or, now and then, a few hundred) elements in handles whose count
// words may claim more than they hold.
struct ValueMaker {
  Input& in;
  std::vector<UHandle> handles;
  int32 Size() {
    const uint8_t b = in.Byte();
    if (b >= 250) return 200 + in.Byte();
    return b % 6;
  }
  void Fill(const TypeDescriptor* t, uChar* at) {
    t = SkipTypedefs(t);
    const auto* b = reinterpret_cast<const uChar*>(t);
    if (t->code == kTDArray) {
      const int32 dims = int16(GetNative16(b + 4));
      const auto* elem = reinterpret_cast<const TypeDescriptor*>(b + 6 + 4 * dims);
      int32 sizes[2] = {Size(), dims == 2 ? Size() : 1};
      const int32 total = sizes[0] * sizes[1];
      const int32 first = AlignDatum(elem, 4 * dims), es = DataSize(elem);
      const uint8_t lie = in.Byte();
      int32 bytes = first + total * es;
      if (lie & 1) bytes -= 1 + lie % (bytes + 1);  // shorter than its counts say
      if (bytes < 4 * dims) bytes = 4 * dims;
      UHandle h = DSNewHClr(bytes);
      if (!h) return;
      handles.push_back(h);
      for (int32 d = 0; d < dims; ++d) PutNative32(*h + 4 * d, uInt32(sizes[d]));
      if ((lie & 0x1E) == 0x1E) PutNative32(*h, 0x7FFFFFFFu);  // a count no handle holds
      std::memcpy(at, &h, sizeof h);
      for (int32 i = 0; i < total && first + (i + 1) * es <= bytes; ++i) Fill(elem, *h + first + i * es);
    } else if (t->code == kTDCluster) {
      const int32 n = int16(GetNative16(b + 4));
      int32 off = 0;
      for (int32 i = 0; i < n; ++i) {
        const TypeDescriptor* e = ElemTD(t, i);
        off = AlignDatum(e, off);
        Fill(e, at + off);
        off += DataSize(e);
      }
    } else {
      const int32 size = DataSize(t);
      for (int32 i = 0; i < size && i < 16; ++i) at[i] = in.Byte();
    }
  }
  ~ValueMaker() {
    for (UHandle h : handles) DSDisposeHandle(h);
  }
};

bool IsChart(GraphDataKind k) { return k == 1 || k == 2 || k == 15 || k == 16 || k == 18; }

// A reported point lies inside the value.
void CheckPoint(const GraphLayout& l, int32 status, int32 plot, int32 index) {
  FUZZ_CHECK(status >= 0 && status <= 4);
  FUZZ_CHECK(plot >= -1 && index >= -1);
  if (status == kPointNone || status == kPointNoData || IsChart(l.kind) || plot < 0) return;
  if (l.kind == kKindIntensChart || l.kind == kKindIntensGraph) {
    int32 first = 0, second = 0;
    GraphLayoutDims(&l, &first, &second);
    FUZZ_CHECK(plot < l.plots);
    FUZZ_CHECK(index >= 0 && int64(index) * l.plots < int64(first) * second);
    return;
  }
  FUZZ_CHECK(plot < (l.plots > 0 ? l.plots : 1));
  PlotSeries s;
  if (index >= 0) FUZZ_CHECK(GraphLayoutPlot(&l, plot, &s) && index < s.count);
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  if (!graph) {
    UnregisterVI(vi);
    FuzzDisposePanel(heap, vi);
    return;
  }
  using namespace tdb;
  const TD d = DBL(), a = Array(d), a2 = Array(SGL(), {kTDVariable, kTDVariable});
  const struct {
    int16 type;
    TD td;
  } shapes[] = {
      {1, a}, {1, Array(Cluster({Array(I16())}))}, {2, Array(d, {kTDVariable, kTDVariable})},
      {0, Array(Cluster({d, I32()}))}, {201, Array(Cluster({Array(Cluster({d, d}))}))},
      {0, Cluster({a, Array(U8())})}, {0, Array(Cluster({a, a}))}, {1, Cluster({d, d, a})},
      {1, Array(Cluster({d, d, a}))}, {2, Cluster({d, d, Array(Cluster({Array(I32())}))})},
      {1, Cluster({SGL(), d, Array(U16(), {kTDVariable, kTDVariable})})}, {104, a2}, {105, a2}, {3, a2}, {4, a2},
      {101, d}, {101, a}, {1, Array(I64())}, {0, Array(Cluster({I64(), U64()}))}, {1, Cluster({I64(), EXT(), a})},
      {1, Array(Cluster({Array(EXT())}))},
  };
  const auto& shape = shapes[in.Byte() % (sizeof shapes / sizeof shapes[0])];
  int16 type = shape.type;
  if (type == 1 && (in.Byte() & 1)) type = 2;
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(type));
  std::vector<uChar> tdBytes = shape.td.Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(tdBytes));
  if (t) {
    OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), t);
    OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), t);
  }
  // The scales, now and then a part of a scale's id that is no scale, or none.
  const int16 ids[] = {kGPartXScale, kGPartYScale, kGPartZScale};
  for (const int16 id : ids) {
    const uint8_t how = in.Byte();
    if ((how & 7) == 0) continue;
    const int32 cls = (how & 7) == 1 ? kClsCosmetic : kClsScale;
    if (!vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, graph, id, 0)) break;
  }
  const MgErr alloc = t ? AllocObjDataSpace(heap, graph) : kArgErr;
  if (DSAllocCurrentState()->active) AllocEndPass();
  if (alloc == kNoErr && GraphDataOf(heap, graph)) {
    GraphDataOf(heap, graph)->transpose = in.Byte() & 1;
    const float64 ends[] = {0, 10, -5, 1e300, 7.5, 1000, std::numeric_limits<float64>::quiet_NaN(),
                            std::numeric_limits<float64>::infinity()};
    ForEachPart(heap, graph, [&](int32 part) {
      if (ObjClass(heap, part) != kClsScale) return;
      if (ScaleRec* r = ScaleRecOf(heap, part)) {
        r->min = ends[in.Byte() % 8];
        r->max = ends[in.Byte() % 8];
        r->increment = 1;
        r->multiplier = (in.Byte() & 1) ? 1 : ends[in.Byte() % 8];
        r->offset = ends[in.Byte() % 8];
        r->pixelStart = int16(in.Word());
        r->pixelEnd = int16(in.Word());
        r->mapping = ScaleMapping(in.Byte() & 1);
      }
    });
    ValueMaker v{in, {}};
    std::vector<uChar> value(size_t(DataSize(tdb::AsTD(tdBytes))) + 16, 0);
    v.Fill(tdb::AsTD(tdBytes), value.data());
    GraphLayout l;
    GraphLayoutOf(heap, graph, tdb::AsTD(tdBytes), value.data(), &l);
    for (int32 round = 0; round < 4 && in.n > 0; ++round) {
      const Point pixel{int16(in.Word()), int16(in.Word())};
      const int32 plot = (in.Byte() & 3) ? int32(in.Byte() % 8) - 2 : int32(in.Word());
      const int32 index = (in.Byte() & 3) ? int32(in.Byte() % 12) - 2 : int32(in.Word());
      int32 plotOut = 0, indexOut = 0;
      const int32 s = FindNearestPlotPoint(heap, graph, value.data(), pixel, plot, &plotOut, &indexOut, in.Byte() % 4);
      CheckPoint(l, s, plotOut, indexOut);
      float64 x = 1, y = 1, z = 1;
      const int32 g = GetPlotPointValues(heap, graph, value.data(), plot, index, &x, &y, &z);
      FUZZ_CHECK(g >= 0 && g <= 4);
      if (g == kPointNone || g == kPointNoData) FUZZ_CHECK(x == 0 && y == 0 && z == 0);
      if (!IsChart(l.kind) && l.kind != kKindIntensGraph && l.kind != kKindIntensChart) FUZZ_CHECK(z == 0);
    }
    // The search over raw numbers of any type and stride inside one buffer.
    const int32 size = 32 + in.Byte() * 4;  // room for the two waveform numbers too
    std::vector<uChar> raw(size_t(size), 0);
    in.Bytes(raw.data(), raw.size());
    const int32 xt = in.Byte() % 13, yt = in.Byte() % 13, stride = 1 + in.Byte() % 16;
    const int32 n = (size - 16) / stride + (size >= 16 ? 1 : 0);
    int32 dist = 0;
    const Point pixel{int16(in.Word()), int16(in.Word())};
    const int32 i =
        NearestXYPoint(heap, graph, n, raw.data(), xt, stride, raw.data() + 4, yt, stride, pixel, &dist, in.Byte() % 4,
                       in.Byte());
    FUZZ_CHECK(i >= -1 && i < (n > 0 ? n : 1));
    if (i < 0) FUZZ_CHECK(dist == kNoDistance);
    // x0 and dx of the two numeric types, as a waveform's cluster lays out their descriptors.
    const TD numbers[] = {I8(), I16(), I32(), I64(), U8(), U16(), U32(), U64(), SGL(), DBL(), EXT()};
    std::vector<uChar> pair = Cluster({numbers[xt % 11], numbers[yt % 11]}).Bytes();
    float64 snapped = 0;
    WaveformIndexAtPixel(heap, graph, ElemTD(tdb::AsTD(pair), 0), raw.data(), raw.data() + 8, pixel, &snapped);
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartPanelManagers() && [] {
    // One run first, so that what the first use keeps for the run (the
    // block's descriptor) is not counted as a leak.
    const uint8_t warm[] = {0, 1, 2, 2, 2, 3, 1, 1};
    Input in{warm, sizeof warm};
    Run(in);
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
