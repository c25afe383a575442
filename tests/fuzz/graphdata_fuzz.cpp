// Graph values and plot lists: descriptors that pass the bounds check are
// classified for any graph type, and a graph's plot list, legend words and
// part rectangles come from the input.  Nothing is read outside what was
// made, every kind hands back a descriptor of its shape, and the data space
// keeps every handle it owns.  Graphs of stored parts, flags, scale records
// and plot lists are drawn with values whose arrays may claim more than
// their handles hold: the plots found lie inside the handles, nothing is
// reported, and the plot list is never shorter than the plots drawn.
// Raw plot data is clipped, mapped, decimated and appended as chart points.
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstring>
#include <memory>

#include <vector>

#include "null_draw_port.h"
#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "controls/scale.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

bool Inside(const TypeDescriptor* t, const uChar* buf, int32 len) {
  const auto* p = reinterpret_cast<const uChar*>(t);
  return p >= buf && p + 4 <= buf + len;
}

// The family a type code's kinds must come from.
bool KindFitsType(int32 type, GraphDataKind k) {
  if (k == kKindNone) return true;
  if (type >= 104 && type <= 106) return k == kKindIntensChart;
  if (IsChartType(type)) return k == 1 || k == 2 || k == 15 || k == 16 || k == 18;
  if (type == 0 || type == 201) return k >= 6 && k <= 9;
  if (type == 3 || type == 4) return k == kKindIntensGraph;
  return k == 3 || k == 4 || k == 5 || (k >= 10 && k <= 13);
}

void FuzzClassify(Input& in, ObjHeap heap, int32 graph) {
  const int16 type = int16(in.Word());
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(type));
  const size_t len = in.n;
  std::unique_ptr<uChar[]> buf(new uChar[len ? len : 1]);
  in.Bytes(buf.get(), len);
  if (TDCheckBounds(buf.get(), int32(len)) != kNoErr) return;
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(buf.get());
  const GraphDataKind k = ClassifyGraphData(heap, graph, &td);
  FUZZ_CHECK(k >= 0 && k <= kKindLast);
  FUZZ_CHECK(KindFitsType(type, k));
  if (!k) return;
  FUZZ_CHECK(Inside(td, buf.get(), int32(len)));
  switch (k) {
    case 2: case 16: FUZZ_CHECK(AllElemsPlotNumeric(td)); break;
    case 4: case 6: case 7: case 11: FUZZ_CHECK(SkipTypedefs(td)->code == kTDCluster); break;
    case 8: case 9: FUZZ_CHECK(Is1DNumArray(td)); break;
    default: FUZZ_CHECK(IsPlotNumeric(td)); break;
  }
}

void FuzzPlotList(Input& in, ObjHeap heap, int32 graph) {
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(in.Byte() & 3));
  if (AllocObjDataSpace(heap, graph) != kNoErr || !GraphDataOf(heap, graph)) return;
  for (int round = 0; round < 3; ++round) {
    const int32 wanted = int32(in.Byte() % 24) - 1, minimum = int32(in.Byte() % 24);
    const uint8_t damage = in.Byte();
    GraphData* data = GraphDataOf(heap, graph);
    int32 before = 0;
    GraphPlots(data, &before);
    // A stored count its handle does not hold (or a negative one).
    const bool lie = (damage & 7) == 1 && data->plots;
    if (lie) PutNative32(*data->plots, (damage & 0x10) ? 0x80000000u | in.Word() : uInt32(before) + 1 + in.Word() % 1000);
    if ((damage & 7) == 2) MemFailNthAllocation(1 + in.Byte() % 40);
    const MgErr e = ResizePlotList(heap, graph, wanted, minimum, false);
    MemFailNthAllocation(0);
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
    if (lie) {
      if (e != kNoErr) PutNative32(*GraphDataOf(heap, graph)->plots, uInt32(before));  // mended for the next round
      continue;
    }
    if (e == kNoErr) FUZZ_CHECK(n == (wanted > minimum ? wanted : minimum));
    for (int32 i = 0; i < n; ++i) FUZZ_CHECK(p[i].name && MemIsDSHandle(p[i].name) && p[i].xs && p[i].ys);
    if (damage & 8) ClearChartPlotData(GraphDataOf(heap, graph));
  }
  // The legend: its rectangle, the label's and the name column from the input.
  const int32 legend = vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                      kGPartPlotLegend, 0);
  const int32 label = vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, graph, 0, 0);
  if (!legend || !label) return;
  Rect lr, lb;
  in.Bytes(&lr, sizeof lr);
  in.Bytes(&lb, sizeof lb);
  std::memcpy(*heap + legend + kObjBounds, &lr, sizeof lr);
  std::memcpy(*heap + label + kObjBounds, &lb, sizeof lb);
  const bool ownLabel = in.Byte() & 1;
  OHSetWord(heap, uInt32(graph + 4 * kGraphLegendLabelWord), ownLabel ? uInt32(label) : in.Word());
  OHSetWord(heap, uInt32(graph + 4 * kGraphLegendNameWidthWord), in.Word());
  const int32 rows = PlotLegendRowCount(heap, graph);
  FUZZ_CHECK(rows >= 0);
  const int32 h = lb.bottom - lb.top + 6;
  if (rows && ownLabel) FUZZ_CHECK(h > 0 && int64(rows) * h <= lr.bottom - lr.top);
  Rect sample, name;
  for (int32 r = 0; r < rows && r < 4; ++r) PlotLegendRowRect(heap, graph, r, &sample, &name);
}

// ---- Drawing ----------------------------------------------------------------------------
// A port that draws nothing, a screen or a printer page by the input; and
// a hidden window whose port the graph's own drawing runs in.
WindowRef gWindow = 0;


// The value's data for a descriptor: numbers from the input, arrays of a
// few elements in handles whose count word may claim more than they hold.
struct ValueMaker {
  Input& in;
  std::vector<UHandle> handles;
  void Fill(const TypeDescriptor* t, uChar* at) {
    t = SkipTypedefs(t);
    if (t->code == kTDArray) {
      const int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4));
      const TypeDescriptor* elem =
          reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(t) + 6 + 4 * dims);
      int32 sizes[2] = {int32(in.Byte() % 5), int32(in.Byte() % 5)};
      const int32 total = dims == 2 ? sizes[0] * sizes[1] : sizes[0];
      const int32 first = AlignDatum(elem, 4 * dims), es = DataSize(elem);
      const uint8_t lie = in.Byte();
      int32 bytes = first + total * es;
      if (lie & 1) bytes -= 1 + lie % (bytes + 1);  // shorter than its count says
      if (bytes < 4 * dims) bytes = 4 * dims;
      UHandle h = DSNewHClr(bytes);
      if (!h) return;
      handles.push_back(h);
      for (int32 d = 0; d < dims; ++d) PutNative32(*h + 4 * d, uInt32(sizes[d]));
      std::memcpy(at, &h, sizeof h);
      for (int32 i = 0; i < total && first + (i + 1) * es <= bytes; ++i) Fill(elem, *h + first + i * es);
    } else if (t->code == kTDCluster) {
      const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4));
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
  bool Holds(const uChar* p, int64 bytes) const {
    for (UHandle h : handles)
      if (p >= *h && p + bytes <= *h + DSGetHandleSize(h)) return true;
    return false;
  }
  ~ValueMaker() {
    for (UHandle h : handles) DSDisposeHandle(h);
  }
};

// Every point of every plot lies inside a handle of the value.
void CheckLayout(const GraphLayout& l, const ValueMaker& v) {
  for (int32 p = 0; p < l.plots && p < 64; ++p) {
    PlotSeries s;
    if (!GraphLayoutPlot(&l, p, &s) || s.count <= 0) continue;
    FUZZ_CHECK(s.y && v.Holds(s.y, int64(s.count - 1) * s.yStride + 1));
    if (s.x) FUZZ_CHECK(v.Holds(s.x, int64(s.count - 1) * s.xStride + 1));
  }
}

void FuzzDraw(Input& in, ObjHeap heap, int32 graph) {
  using namespace tdb;
  const TD d = DBL(), a = Array(d), a2 = Array(SGL(), {kTDVariable, kTDVariable});
  const struct {
    int16 type;
    TD td;
  } shapes[] = {
      {1, a}, {1, Array(Cluster({Array(I16())}))}, {2, Array(d, {kTDVariable, kTDVariable})},
      {0, Array(Cluster({d, I32()}))}, {201, Array(Cluster({Array(Cluster({d, d}))}))},
      {0, Cluster({a, Array(U8())})}, {0, Array(Cluster({a, a}))}, {1, Cluster({d, d, a})},
      {3, a2}, {4, a2}, {1, String()}, {101, d},
      {1, Array(Cluster({d, d, a}))}, {2, Cluster({d, d, Array(Cluster({Array(I32())}))})},
      {int16(1 + (in.Byte() & 1)), Cluster({SGL(), d, Array(U16(), {kTDVariable, kTDVariable})})},
  };
  const auto& shape = shapes[in.Byte() % (sizeof shapes / sizeof shapes[0])];
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(shape.type));
  std::vector<uChar> tdBytes = shape.td.Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(tdBytes));
  if (!t) return;
  OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), t);
  OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), t);
  // Parts of any of the graph's ids, orders, rectangles and flags; some of
  // the scale ids carried by objects that are no scales.
  static const int16 kIds[] = {kGPartPlotArea, kGPartXScale, kGPartYScale, kGPartZScale, kGPartPlotLegend,
                               kGPartChartScrollbar, 9};
  const int32 parts = in.Byte() % 8;
  for (int32 i = 0; i < parts; ++i) {
    const int16 id = kIds[in.Byte() % 7];
    const bool scale = (id == kGPartXScale || id == kGPartYScale || id == kGPartZScale) && (in.Byte() & 3);
    const int32 cls = scale ? kClsScale : kClsCosmetic;
    const int16 order = int16(in.Byte() % 5) - 1;
    const int32 part = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, graph, id, order);
    if (!part) return;
    Rect r;
    in.Bytes(&r, sizeof r);
    std::memcpy(*heap + part + kObjBounds, &r, sizeof r);
    OHSetWord(heap, uInt32(part), in.Byte() & 0xC);
    if (!scale) OHSetWord(heap, uInt32(part + 32), (in.Byte() & 1) ? 0x1000000u : 0xFFFFFFu);
  }
  OHSetWord(heap, uInt32(graph), in.Word() & (kGraphFlagHidden | kGraphFlagSmooth | kGraphFlagScrollHeld |
                                              kGraphFlagFullRedraw | kGraphAutoscaleMask | kGraphFlagPending));
  PutNative16(*heap + graph + kGraphToolByte, uInt16(in.Byte() % 8));
  OHSetWord(heap, uInt32(graph + 4 * kGraphPixmapWord), in.Byte() < 32 ? in.Word() : 0);  // a stale image id
  PutNative16(*heap + graph + kGraphHighlightPlotByte, uInt16(in.Word()));
  const MgErr alloc = AllocObjDataSpace(heap, graph);
  if (DSAllocCurrentState()->active) AllocEndPass();
  if (alloc != kNoErr || !GraphDataOf(heap, graph)) return;
  // Scale records from the input.
  ForEachPart(heap, graph, [&](int32 part) {
    if (ObjClass(heap, part) != kClsScale) return;
    if (ScaleRec* r = ScaleRecOf(heap, part)) {
      const float64 ends[] = {0, 1, -5, 1e300, 7.5, -1e-300};
      r->min = ends[in.Byte() % 6];
      r->max = ends[in.Byte() % 6];
      r->increment = 1;
      r->multiplier = 1;
      r->pixelStart = int16(in.Word());
      r->pixelEnd = int16(in.Word());
      r->mapping = ScaleMapping(in.Byte() & 1);
    }
  });
  // A plot list whose scale indexes and fill styles come from the input.
  if (ResizePlotList(heap, graph, in.Byte() % 6, 0, false) == kNoErr) {
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
    for (int32 i = 0; i < n; ++i) {
      p[i].xScale = int16(in.Byte()) - 2;
      p[i].yScale = int16(in.Byte()) - 2;
      p[i].fillStyle = int16(250 + in.Byte() % 12);
      p[i].interpolation = int16(in.Byte() % 6) - 1;
      p[i].pointStyle = int16(in.Byte() % 22) - 1;
      p[i].lineWidth = int16(in.Byte() % 9) - 2;
      if (in.Byte() & 1) p[i].lineColor = kNoColor;
    }
  }
  ValueMaker v{in, {}};
  std::vector<uChar> value(size_t(DataSize(tdb::AsTD(tdBytes))) + 16, 0);
  v.Fill(tdb::AsTD(tdBytes), value.data());
  GraphLayout l;
  GraphLayoutOf(heap, graph, tdb::AsTD(tdBytes), value.data(), &l);
  CheckLayout(l, v);
  FuzzScreenPort() = in.Byte() & 1;
  DInstallTestPort(FuzzNullDrawPort());
  FuzzArmed() = true;
  const uInt32 flags = OHWord(heap, uInt32(graph));
  const int32 r = DrawPlotArea(heap, graph, value.data(), in.Byte() & 1, 0, 1 << (in.Byte() % 3), in.Byte() & 1);
  FuzzArmed() = false;
  DInstallTestPort(nullptr);
  // The graph's own display and drawing, in a hidden window's port.
  const WindowRef window = gWindow;
  if (window && window != kWNoWindow) {
    WPortState port;
    WSetup(window, &port);
    FuzzArmed() = true;
    GraphODisplayValMethod(heap, graph, nullptr, value.data());
    GraphODrawMethod(heap, graph, value.data(), 0, 4);
    FuzzArmed() = false;
    WRestore(&port);
  }
  FUZZ_CHECK((r & ~(kPlotResultFailed | kPlotResultRedraw)) == 0);
  if (flags & kGraphFlagHidden) FUZZ_CHECK(r == 0);
  const GraphDataKind k = l.kind;
  if (!(flags & kGraphFlagHidden) && !(r & kPlotResultFailed) && k >= kKindWaveArray && k <= kKindXYArrayPairs) {
    int32 n = 0;
    GraphPlots(GraphDataOf(heap, graph), &n);
    FUZZ_CHECK(n >= l.plots);
  }
}

// ---- Plot preparation on raw data ---------------------------------------------------------
// Values of any type code, stride and count inside one buffer, mapped
// through scales with equal, reversed or logarithmic ends: nothing is read
// outside the buffer (the sanitizer's check), counts stay within their
// data, and decimation leaves at most two points a pixel column.
void FuzzPrep(Input& in, ObjHeap heap, int32 graph) {
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16((in.Byte() & 1) ? 101 : 1));
  const int32 xs = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
  const int32 ys = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
  if (!xs || !ys) return;
  const MgErr alloc = AllocObjDataSpace(heap, graph);
  if (DSAllocCurrentState()->active) AllocEndPass();
  if (alloc != kNoErr) return;
  const float64 ends[] = {0, 1, -5, 1e300, 7.5, 1000, std::numeric_limits<float64>::quiet_NaN()};
  for (int32 s : {xs, ys}) {
    ScaleRec* r = ScaleRecOf(heap, s);
    if (!r) return;
    r->min = ends[in.Byte() % 7];
    r->max = ends[in.Byte() % 7];
    r->increment = 1;
    r->multiplier = 1;
    r->pixelStart = int16(in.Byte() * 2);
    r->pixelEnd = int16(in.Byte() * 4);
    r->mapping = ScaleMapping(in.Byte() & 1);
  }
  const int32 size = int32(in.Byte()) * 8 + 1;
  std::unique_ptr<uChar[]> buf(new uChar[size_t(size)]);
  in.Bytes(buf.get(), size_t(size));
  const int32 type = int32(in.Byte() % 13), stride = 1 + in.Byte() % 16;
  const int32 es = type >= 1 && type <= 11 ? NumSize(type) : 1;
  const int32 count = size < es ? 0 : std::min<int32>(in.Word() % 4000, (size - es) / stride + 1);
  PlotRec rec{};
  rec.xs = DSNewHandle(4);
  rec.ys = DSNewHandle(4);
  if (!rec.xs || !rec.ys) {
    if (rec.xs) DSDisposeHandle(rec.xs);
    if (rec.ys) DSDisposeHandle(rec.ys);
    return;
  }
  rec.interpolation = int16(in.Byte() % 4);
  rec.pointStyle = (in.Byte() & 3) ? 0 : 8;
  rec.fillStyle = int16(in.Byte() % 3 == 0 ? 256 : 0);
  const float64 steps[] = {1, 0, -1, 0.5, std::numeric_limits<float64>::quiet_NaN(), 1e300};
  float64 x0 = ends[in.Byte() % 7];
  const float64 dx = steps[in.Byte() % 6];
  int32 n = count;
  FuzzArmed() = true;
  const int32 skip = ClipWaveformToScale(heap, graph, ObjWord(heap, xs, kScaleObjData), &x0, &n, dx);
  FUZZ_CHECK(skip >= 0 && n >= 0 && int64(skip) + n <= count);
  int32 rs = 0, rt = 0;
  void* ramp = MakeRampArray(x0, dx, n, true, &rs, &rt);
  if (ramp && type >= 1 && type <= 11) {
    const int32 r = MapPlotToPixelsDecimated(heap, graph, xs, ys, &rec, ramp, buf.get() + int64(skip) * stride, rs,
                                             stride, n, rt, type);
    FUZZ_CHECK(r == 0 || r == kPlotResultFailed);
    FUZZ_CHECK(rec.count >= 0 && rec.count <= n);
    const ScaleRec* xr = ScaleRecOf(heap, xs);
    if (r == 0 && xr && xr->mapping == kScaleLinear && rec.pointStyle == 0 && rec.fillStyle < 255 && n > 0 &&
        std::fabs(float64(xr->pixelEnd) - xr->pixelStart) * 2.4 < n) {
      // Columns are runs of one x pixel; none holds more than two points.
      const auto* h = reinterpret_cast<const int16*>(*rec.xs + 4);
      int32 run = 0;
      for (int32 i = 0; i < rec.count; ++i) {
        run = i > 0 && h[i] == h[i - 1] ? run + 1 : 1;
        FUZZ_CHECK(run <= 2);
      }
    }
  }
  FreeAndClearPtr(&ramp);
  FUZZ_CHECK(!ramp);
  // Chart points from the same buffer as history.
  const int32 length = type >= 1 && type <= 11 && size >= es ? std::max(1, (size - es) / stride + 1) : 0;
  if (length > 0 && length < 100000) {
    int32 shift = 0, changed = 0;
    float64 value = 0;
    const int32 r = ChartAppendPixels(heap, graph, xs, ys, &rec, length, int32(in.Word() % 300) - 10,
                                      int32(in.Word()), buf.get(), stride, &shift, &value, type, &changed);
    FUZZ_CHECK(r == 0 || r == kPlotResultFailed);
    FUZZ_CHECK(rec.count >= 0 && rec.count <= length);
  }
  FuzzArmed() = false;
  DSDisposeHandle(rec.xs);
  DSDisposeHandle(rec.ys);
}

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  if (graph) {
    const uint8_t which = in.Byte() % 4;
    if (which == 0) FuzzClassify(in, heap, graph);
    else if (which == 1) FuzzPlotList(in, heap, graph);
    else if (which == 2) FuzzDraw(in, heap, graph);
    else FuzzPrep(in, heap, graph);
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One plot list made and one graph drawn first, so that what the first use
  // keeps for the run (the block's descriptor, the drawing's tables) is not
  // counted as a leak.
  static bool init = FuzzStartPanelManagers() && WInitScreenImage() == kNoErr && [] {
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    gWindow = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    for (const uint8_t first : {1, 2}) {
      const uint8_t warm[] = {first, 0, 3, 0, 0};
      Input in{warm, sizeof warm};
      Run(in);
    }
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
