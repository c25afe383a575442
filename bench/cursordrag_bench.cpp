// 1,000 drag steps of a free cursor with full horizontal and vertical lines
// and a label (no legend) over a 1,000 x 800 plot area that keeps its plot
// image: each step restores what the old drawing covered from the image and
// draws the cursor again.  Against 1,000 copies of the whole image to the
// window.  The bar: 0.25x.
#include <benchmark/benchmark.h>

#include <cstring>

#include "controls/cursordraw.h"
#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/prefs.h"
#include "panel/graphstate.h"
#include "panel/oinit.h"
#include "panel_scene.h"

namespace {

constexpr int16 kWidth = 1000, kHeight = 800;
constexpr int32 kSteps = 1000;

struct DragScene {
  PanelScene s;
  int32 graph = 0;
  int32 image = 0;
  UHandle list = nullptr;

  bool Make() {
    if (!s.OpenPanel(kHeight + 2, kWidth + 2)) return false;
    graph = s.Obj(kClsGraphChart);
    PutNative16(*s.heap + graph + kPanelGraphKindByte, uInt16(kGraphWaveform));
    s.Place(graph, 0, 0, kHeight + 2, kWidth + 2);
    const int32 xs = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
    const int32 ys = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    const int32 area =
        vib::NewObject(s.heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph, kGPartPlotArea, 0);
    if (!xs || !ys || !area) return false;
    s.Place(area, 0, 0, kHeight + 2, kWidth + 2);
    PutNative32(*s.heap + area + kObjCosmBack, 0xFFFFFF);
    ObjSetWord(s.heap, graph, kPWDDOTypeId, int32(s.Type(tdb::Array(tdb::DBL()))));
    const MgErr e = AllocObjDataSpace(s.heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    // The panel root names the VI's data space, as a loaded panel's does.
    if (e == kNoErr && s.vi && *s.vi)
      PutNative32(*s.heap + s.root + 4 * kPanelRootDataSpaceWord, uInt32(uintptr_t(VIRec(s.vi)->dataSpace)));
    if (e != kNoErr) return false;
    const struct {
      int32 scale, start, end;
      float64 max;
    } scales[] = {{xs, 1, kWidth, kWidth}, {ys, kHeight, 1, kHeight}};
    for (const auto& sc : scales) {
      ScaleRec* r = ScaleRecOf(s.heap, sc.scale);
      if (!r) return false;
      *r = ScaleRec{};
      r->min = 0, r->max = sc.max, r->increment = 100, r->multiplier = 1;
      r->pixelStart = int16(sc.start), r->pixelEnd = int16(sc.end);
    }
    // One cursor at the centre: full lines both ways and its name shown.
    const GraphCursorLayout* l = GraphCursorFields();
    const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
    list = l ? DSNewHClr(first + l->size) : nullptr;
    if (!list) return false;
    PutNative32(*list, 1);
    UPtr c = *list + first;
    SetCursorU32(c, kGCFlags, 0x8 | 0x2 | kCursorShowLabel);
    SetCursorU32(c, kGCColour, 0xFF0000);
    UHandle name = DSNewHandle(4 + 8);
    if (!name) return false;
    PutNative32(*name, 8);
    std::memcpy(*name + 4, "Cursor 1", 8);
    SetCursorName(c, name);
    SetCursorF64(c, kGCX, 500);
    SetCursorF64(c, kGCY, 400);
    SetCursorI16(c, kGCLabelWidth, 48);
    SetCursorI16(c, kGCLabelHeight, 14);
    if (UpdateCursorPixel(s.heap, graph, c, 0)) return false;
    SetCursorI16(c, kGCLabelV, int16(CursorI16(c, kGCV) - 20));
    SetCursorI16(c, kGCLabelH, CursorI16(c, kGCH));
    UPtr field = GraphCursorListField(s.heap, ObjWord(s.heap, graph, kGraphDataWord), nullptr);
    if (!field) return false;
    std::memcpy(field, &list, sizeof list);
    const Rect all{0, 0, int16(kHeight + 2), int16(kWidth + 2)};
    if (ICreatePixmap(s.window, &all, 32, &image) != kNoErr || !image) return false;
    ObjSetWord(s.heap, graph, kGraphPixmapWord, image);
    PrefSet(kPrefScrollGraphCursors, 0);
    int32 n = 0;
    return GraphCursorsOf(s.heap, graph, &n) && n == 1;
  }
};

DragScene* Scene() {
  static DragScene* scene = [] {
    auto* s = new DragScene;
    return s->Make() ? s : nullptr;
  }();
  return scene;
}

// The window set up as the drawing target for the benchmark's loop.
struct OnWindow {
  WPortState port{};
  explicit OnWindow(DragScene* sc) { WSetup(sc->s.window, &port); }
  ~OnWindow() { WRestore(&port); }
};

void BM_CursorDragSteps(benchmark::State& st) {
  DragScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  OnWindow on(sc);
  int32 n = 0;
  UPtr c = GraphCursorsOf(sc->s.heap, sc->graph, &n);
  if (!c) return st.SkipWithError("no cursor");
  // The drag takes the cursor at its centre.
  const int32 h0 = CursorI16(c, kGCH);
  GraphTrackRec t{kTrackStart, 1, Point{CursorI16(c, kGCV), int16(h0)}};
  TrackGraphCursor(sc->s.heap, sc->graph, 0, kDoitTrackCursor, &t, 0);
  t.phase = kTrackMove;
  int32 step = 0;
  for (auto _ : st) {
    for (int32 i = 0; i < kSteps; ++i, ++step) {
      // A diagonal sweep of 200 pixels there and back.
      const int32 k = step % 400, d = k < 200 ? k : 400 - k;
      t.mouse = Point{int16(300 + d), int16(h0 - 100 + d)};
      benchmark::DoNotOptimize(TrackGraphCursor(sc->s.heap, sc->graph, 0, kDoitTrackCursor, &t, 1));
    }
  }
  t.phase = kTrackEnd;
  TrackGraphCursor(sc->s.heap, sc->graph, 0, kDoitTrackCursor, &t, 1);
  // The steps moved the cursor along the sweep.
  c = GraphCursorsOf(sc->s.heap, sc->graph, &n);
  const int32 k = (step - 1) % 400, d = k < 200 ? k : 400 - k;
  if (!c || CursorI16(c, kGCH) != h0 - 100 + d) st.SkipWithError("the cursor did not follow the mouse");
}
BENCHMARK(BM_CursorDragSteps)->Unit(benchmark::kMillisecond);

void BM_WholePlotImageCopies(benchmark::State& st) {
  DragScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  OnWindow on(sc);
  const Rect inner{1, 1, kHeight + 1, kWidth + 1};
  for (auto _ : st)
    for (int32 i = 0; i < kSteps; ++i)
      benchmark::DoNotOptimize(IDraw(sc->image, &inner, &inner, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor));
}
BENCHMARK(BM_WholePlotImageCopies)->Unit(benchmark::kMillisecond);

}  // namespace
