// Charts drawn from records and histories as a damaged data space holds
// them: totals and pending counts of any value, history lengths and plot
// counts that the handle may not hold, scale ranges and pixels, update
// modes, flags and autoscale bits from the input, drawn as immediate and
// update draws.  Invariants: no read outside the history (the sanitizers
// see that), nothing is reported, pending ends at least 0 and at most
// min(total, length), and every plot keeps its pixels inside its arrays.
#include <cmath>
#include <cstring>
#include <vector>

#include "null_draw_port.h"
#include "controls/chartupdate.h"
#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "fuzz_support.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "engine/typemgr.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;


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
  const TD d = DBL();
  const TD shapes[] = {d, Cluster({d, I16(), SGL()}), Array(d), Array(Cluster({I32(), d})),
                       Array(SGL(), {kTDVariable, kTDVariable})};
  const uint8_t pick = in.Byte() % 5;
  const int32 perPlot[] = {8, 0, 8, 0, 4};
  PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(101 + in.Byte() % 3));
  std::vector<uChar> valueTD = shapes[pick].Bytes();
  std::vector<uChar> recTD = Cluster({I32(), I32(), I32(), Handle()}).Bytes();
  const TypeID vt = NewTypeIDForTD(heap, AsTD(valueTD)), rt = NewTypeIDForTD(heap, AsTD(recTD));
  bool ok = vt && rt;
  if (ok) {
    OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), vt);
    OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), rt);
    OHSetWord(heap, uInt32(graph + 4 * kGraphXGridColorWord), (in.Byte() & 1) ? 0x1000000u : 0x00FF00u);
    OHSetWord(heap, uInt32(graph + 4 * kGraphYGridColorWord), 0x1000000u);
    const int32 area = vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                      kGPartPlotArea, 0);
    const int32 xs = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
    const int32 ys = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    ok = area && xs && ys;
    if (ok) {
      const Rect r{20, 40, 180, 280};
      for (int32 p : {area, xs, ys}) std::memcpy(*heap + p + kObjBounds, &r, sizeof r);
      OHSetWord(heap, uInt32(area), in.Byte() & 4);  // flagged or not
      OHSetWord(heap, uInt32(area + 32), (in.Byte() & 3) == 0 ? 0x1000000u : 0xFFFFFFu);
      OHSetWord(heap, uInt32(xs), kScaleHorizontal);
    }
    const MgErr alloc = ok ? AllocObjDataSpace(heap, graph) : kArgErr;
    if (DSAllocCurrentState()->active) AllocEndPass();
    ok = alloc == kNoErr && GraphDataOf(heap, graph) && ChartRecordOf(heap, graph);
    if (ok) {
      // The scales: ranges and pixels from the input.
      const float64 ends[] = {0, 49, -5, 1e300, 7.5, 2147483600.0, 99, NAN};
      for (int32 s : {xs, ys}) {
        ScaleRec* sr = ScaleRecOf(heap, s);
        if (!sr) continue;
        sr->min = ends[in.Byte() % 8];
        sr->max = ends[in.Byte() % 8];
        sr->increment = (in.Byte() & 1) ? 1 : 10;
        sr->multiplier = 1;
        sr->pixelStart = int16(in.Byte() & 1 ? 41 : 279);
        sr->pixelEnd = int16(sr->pixelStart == 41 ? 279 : 41);
        if (in.Byte() & 1) std::swap(sr->pixelStart, sr->pixelEnd);
      }
      // The history: a length and plot count the handle may not hold.
      const int32 plots = pick == 4 ? int32(in.Byte() % 4) : 1;
      const int32 length = (in.Byte() & 7) == 0 ? int32(in.Word()) : int32(in.Byte() % 40);
      const int32 header = pick == 4 ? 8 : 4;
      int32 stride = perPlot[pick] ? perPlot[pick] * plots : pick == 1 ? 16 : 12;
      int64 want = header + int64(std::max(length, 0)) * stride;
      if (want > 4096) want = 4096;
      int32 bytes = int32(want);
      if (in.Byte() & 1) bytes = int32(in.Byte() % (bytes + 1));
      // The history: a handle of its own in the record, the record's word
      // put back afterwards.
      ChartHistory* rec = ChartRecordOf(heap, graph);
      const UHandle kept = rec->buffer;
      UHandle h = DSNewHandle(bytes);
      rec->buffer = h;
      if (h) {
        std::memset(*h, 0, size_t(bytes));
        if (bytes >= 4) PutNative32(*h, uInt32(length));
        if (bytes >= 8 && header == 8) PutNative32(*h + 4, uInt32(plots));
        for (int32 i = header; i < bytes; ++i) (*h)[i] = in.Byte();
      }
      rec->total = int32(in.Word());
      rec->pending = int32(in.Word());
      rec->writePos = int32(in.Word());
      OHSetWord(heap, uInt32(graph), in.Word() & (kGraphFlagScrollHeld | kGraphFlagFullRedraw | kGraphAutoscaleMask |
                                                  kGraphFlagPending));
      PrefSet(kPrefScrollingStripCharts, in.Byte() & 1);
      FuzzScreenPort() = in.Byte() & 1;
      DInstallTestPort(FuzzNullDrawPort());
      FuzzArmed() = true;
      for (int32 round = 0; round < 3 && in.n; ++round) {
        const int32 update = in.Byte() & 1;
        rec = ChartRecordOf(heap, graph);
        if (in.Byte() & 1) rec->pending = int32(in.Word());
        float64 point = 0;
        const bool direct = in.Byte() & 1;
        if (!direct) {
          DrawPlotArea(heap, graph, &point, update, 0, 4, 1);
        } else {
          // The branch itself, with the state the drawing would hand it.
          PlotDrawState st{};
          st.updateDraw = update;
          st.autoscaleMask = OHWord(heap, uInt32(graph)) & kGraphAutoscaleMask;
          st.workFlags = int32(in.Byte() & 0x11);
          st.stripScroll = PrefGet(kPrefScrollingStripCharts) && !(st.workFlags & 0x11);
          const int32 xt[1] = {xs}, yt[1] = {ys};
          st.scales = GraphScaleTables{xt, 1, yt, 1, 0};
          st.areas = GraphPlotBounds(heap, graph, &st.bounds);
          st.inner = st.bounds;
          st.minPlots = 1;
          GraphLayout layout;
          if (GraphLayoutOf(heap, graph, TypeIDGetTD(heap, vt, 0), &point, &layout) == kKindNone) break;
          const int32 r = DrawChartBranch(heap, graph, &st, &layout);
          FUZZ_CHECK(r == 0 || (r & (kPlotResultFailed | kPlotResultRedraw)));
        }
        rec = ChartRecordOf(heap, graph);
        const int64 held = std::min<int64>(std::max(rec->total, 0), h && bytes >= 4 ? std::max(length, 0) : 0);
        // The branch holds pending to what the history can have waiting.
        if (direct) FUZZ_CHECK(rec->pending >= 0);
        if (direct && h && bytes >= header && length > 0 && int64(length) * stride <= bytes - header)
          FUZZ_CHECK(rec->pending <= held);
        int32 n = 0;
        PlotRec* p = GraphPlots(GraphDataOf(heap, graph), &n);
        for (int32 i = 0; p && i < n; ++i)
          FUZZ_CHECK(p[i].count >= 0 && (p[i].count == 0 || (int64(p[i].count) * 2 + 4 <= DSGetHandleSize(p[i].xs) &&
                                                             int64(p[i].count) * 2 + 4 <= DSGetHandleSize(p[i].ys))));
      }
      FuzzArmed() = false;
      DInstallTestPort(nullptr);
      if (h) DSDisposeHandle(h);
      ChartRecordOf(heap, graph)->buffer = kept;
    }
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Charts drawn first, so that what the first drawing keeps for the run
  // (the plot records' descriptor, the drawing's tables) is not counted as
  // a leak.
  static bool init = FuzzStartPanelManagers() && [] {
    DInitDraw();
    for (const uint8_t fill : {1, 2, 3}) {
      std::vector<uint8_t> warm(96, fill);
      Input in{warm.data(), warm.size()};
      Run(in);
    }
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
