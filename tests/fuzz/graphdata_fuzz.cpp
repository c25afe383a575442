// Graph values and plot lists: descriptors that pass the bounds check are
// classified for any graph type, and a graph's plot list, legend words and
// part rectangles come from the input.  Nothing is read outside what was
// made, every kind hands back a descriptor of its shape, and the data space
// keeps every handle it owns.
#include <cstdint>
#include <cstring>
#include <memory>

#include "controls/graph.h"
#include "fuzz_support.h"
#include "mgsource/memory.h"
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

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  if (graph) {
    if (in.Byte() & 1) FuzzClassify(in, heap, graph);
    else FuzzPlotList(in, heap, graph);
  }
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One plot list made first, so that what the first use keeps for the run
  // (the block's descriptor) is not counted as a leak.
  static bool init = FuzzStartPanelManagers() && [] {
    const uint8_t warm[] = {0, 0, 3, 0, 0};
    Input in{warm, sizeof warm};
    Run(in);
    return true;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  Run(in);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
