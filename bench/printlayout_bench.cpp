// Laying out a VI's panel for printing: the cells of the page grid that the
// panel covers, one per page, found from the panel's edges.  A panel over n
// pages costs in proportion to n.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/memory.h"

namespace {

Rect gPanel{0, 0, 0, 0};

PrintPanelHooks Hooks() {
  PrintPanelHooks h{};
  h.panelHeap = [](UHandle vi) { return reinterpret_cast<ObjHeap>(vi); };
  h.commitKeyFocus = [](ObjHeap) { return MgErr(kNoErr); };
  h.panelRect = [](ObjHeap, Rect* r) {
    *r = gPanel;
    return MgErr(kNoErr);
  };
  h.contentBounds = h.panelRect;
  h.send = [](int32 slot, ObjHeap heap, int32 object, int32, const Rect*, const Rect*) {
    return slot == kPartListMsgLayout ? PrPartListLayout(heap, object) : 0;
  };
  return h;
}

// The panel covers a square of about n pages of 90 by 126 points.
void BM_PrintLayoutPages(benchmark::State& st) {
  if (BenchMemInit() != kNoErr) return st.SkipWithError("no memory manager");
  const int32 n = int32(st.range(0));
  int32 side = 1;
  while (side * side < n) ++side;
  gPanel = Rect{0, 0, int16(side * 90), int16(side * 126)};
  const PrintPanelHooks old = PSetPrintPanelHooks(Hooks());
  UHandle rec = AZNewHClr(kPrintRecordSize);
  reinterpret_cast<PrintRecord*>(*rec)->printable = Rect{0, 0, 90, 126};
  reinterpret_cast<PrintRecord*>(*rec)->options = kPrintPanel;
  gPrintVI = PrintVIState{rec, nullptr, 0};
  UHandle vi = AZNewHClr(4);
  for (auto _ : st) {
    ObjHeap heap = PNewPartList(nullptr);
    gPrintJob.error = 0;
    PLayoutVIParts(heap, vi, 1);
    if (gPrintLayout.pageCount != side * side) return st.SkipWithError("not every page laid out");
    PDisposePartList(heap);
  }
  gPrintVI = PrintVIState{};
  AZDisposeHandle(vi);
  AZDisposeHandle(rec);
  PSetPrintPanelHooks(old);
  st.SetComplexityN(side * side);
}
BENCHMARK(BM_PrintLayoutPages)->RangeMultiplier(4)->Range(16, 16384)->Complexity(benchmark::oN);

}  // namespace
