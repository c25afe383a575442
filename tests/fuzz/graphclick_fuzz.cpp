// The graph class's do-it and pop-up with what the window system hands
// them: part ids, reasons, tracking sub-events, points, modifiers, rows,
// menu choices, colours, scroll-bar replies and pop-up item codes of any
// value, on a graph of two plots with a legend, or a chart.  Invariants: no
// access outside the plot list (the sanitizers see that), the tool word
// stays 0..7 when it started there, pinned points lie inside their
// rectangle and scroll steps never go below 0.  Runs are not armed against
// reports: a scroll reply without its thumb bit and a scroll bar on a graph
// are assertions by design.
#include <cstring>
#include <vector>

#include "controls/graph.h"
#include "controls/graphzoom.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "panel/operate.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) return;
  const int32 graph = vib::NewObject(heap, kClsGraphChart, ClassRecord(kClsGraphChart)->instanceSize, 0, 0, 0);
  bool ok = graph != 0;
  const bool chart = in.Byte() & 1;
  using namespace tdb;
  std::vector<uChar> valueTD = Array(DBL()).Bytes();
  std::vector<uChar> recTD = Cluster({I32(), I32(), I32(), Handle()}).Bytes();
  if (ok) {
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(chart ? 101 : 1));
    const TypeID vt = NewTypeIDForTD(heap, AsTD(valueTD)), rt = NewTypeIDForTD(heap, AsTD(recTD));
    ok = vt && rt;
    if (ok) {
      OHSetWord(heap, uInt32(graph + 4 * kPWDDOTypeId), vt);
      if (chart) OHSetWord(heap, uInt32(graph + 4 * kGraphChartTypeWord), rt);
      OHSetWord(heap, uInt32(graph + 4 * kGraphXGridColorWord), 0x1000000u);
      OHSetWord(heap, uInt32(graph + 4 * kGraphYGridColorWord), 0x1000000u);
    }
    const Rect area{20, 40, 180, 240};
    const struct {
      int32 cls, id, order;
    } parts[] = {{kClsCosmetic, kGPartPlotArea, 0}, {kClsScale, kGPartXScale, 0}, {kClsScale, kGPartYScale, 0},
                 {kClsCosmetic, kGPartPlotLegend, 0}, {kClsCosmetic, 34, 0}, {kClsCosmetic, 36, 0},
                 {kClsCosmetic, kGPartChartScrollbar, 0}, {kClsCosmetic, 72, 0}};
    for (const auto& p : parts) {
      if (!ok) break;
      const int32 o = vib::NewObject(heap, p.cls, ClassRecord(p.cls)->instanceSize, graph, int16(p.id), int16(p.order));
      ok = o != 0;
      if (ok) std::memcpy(*heap + o + kObjBounds, &area, sizeof area);
    }
  }
  const MgErr alloc = ok ? AllocObjDataSpace(heap, graph) : kArgErr;
  if (DSAllocCurrentState()->active) AllocEndPass();
  ok = alloc == kNoErr && GraphDataOf(heap, graph) && ResizePlotList(heap, graph, 2, 2, false) == kNoErr;
  if (ok) {
    for (int16 id : {kGPartXScale, kGPartYScale}) {
      ScaleRec* r = ScaleRecOf(heap, FindPart(heap, graph, id, 0));
      if (!r) continue;
      r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1;
      r->pixelStart = id == kGPartXScale ? 40 : 180;
      r->pixelEnd = id == kGPartXScale ? 240 : 20;
    }
    const int16 tool = int16(in.Byte() % 8);
    PutNative16(*heap + graph + kGraphToolByte, uInt16(tool));
    DInstallTestPort(&gNullPort);
    for (int32 round = 0; round < 8 && in.n; ++round) {
      const uint8_t what = in.Byte() % 4;
      if (what == 0) {
        // A do-it as the click recorded it.
        static const int32 kParts[] = {28, 32, 34, 35, 36, 37, 38, 71, 72, 74, 75, 76, 8011, 8014, 18, 19, 68};
        static const int32 kReasons[] = {6, 14, 15, 22, 27, 4};
        ActionParams p{};
        p.partId = kParts[in.Byte() % 17];
        p.eventCode = in.Byte() % 7;
        p.point = Point{int16(in.Word()), int16(in.Word())};
        p.localPoint = int32(in.Word());
        p.modifiers = in.Byte();
        p.flags = int32(in.Word());
        p.eventData[0] = int32(in.Word());
        auto* w = reinterpret_cast<GraphClickWords*>(p.words20);
        *w = GraphClickWords{-int32(in.Byte() % 6), int32(in.Word()), int32(in.Word()), int32(in.Word()),
                             int32(in.Word())};
        StdGraphODoit(heap, graph, nullptr, kReasons[in.Byte() % 6], &p);
        const int16 now = int16(GetNative16(*heap + graph + kGraphToolByte));
        FUZZ_CHECK(now >= 0 && now <= 7);
      } else if (what == 1) {
        // A pop-up command.
        PopupMsgRecord rec{};
        rec.phase = 2 + (in.Byte() & 1);
        rec.level = -2;
        rec.menuId = (in.Byte() & 1) ? kPopupMenuId : int32(in.Byte());
        rec.item = int32(in.Word() % 400);
        StdGraphOPopup(heap, graph, &rec);
      } else if (what == 2) {
        const Rect r{int16(in.Byte()), int16(in.Byte()), int16(256 + in.Byte()), int16(256 + in.Byte())};  // never empty
        int32 out = 0;
        PinPointToRect(int32(in.Word()), &r, &out, in.Byte() & 1);
        const int32 h = GraphPointH(out), v = GraphPointV(out);
        FUZZ_CHECK(h >= r.left && h < r.right && v >= r.top && v < r.bottom);
        Bool32 bad = false;
        FUZZ_CHECK(ChartScrollStep(int32(in.Word()), int32(in.Word() & 0x7FFFFFFF), int32(in.Word() & 0xFFFF),
                                   in.Byte() & 1, &bad) >= 0);
      } else {
        const int32 a = int32(in.Word()), b = int32(in.Word());
        switch (in.Byte() % 3) {
          case 0: ZoomToRect(heap, graph, a, b, int32(in.Byte() % 3) - 1); break;
          case 1: ZoomAtPoint(heap, graph, a, in.Byte(), int32(in.Byte() % 3) - 1); break;
          default: PanScales(heap, graph, int16(a), int16(b), int32(in.Byte() % 3) - 1); break;
        }
      }
    }
    DInstallTestPort(nullptr);
  }
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartPanelManagers() && [] {
    DInitDraw();
    ControlsJoinGraphClickSlots();
    for (const uint8_t fill : {1, 2, 3}) {
      std::vector<uint8_t> warm(96, fill);
      Input in{warm.data(), warm.size()};
      Run(in);
    }
    return true;
  }();
  return init ? FuzzRunLeakChecked(data, size, Run) : 0;
}
