// A waveform plot of 100,000 pixel points filled to zero with linear
// interpolation on a 1,000 x 600 offscreen image (painted in polygons of
// 500 points sharing their ends), against one host polygon of the same
// 100,002 points (the plot and its two baseline corners) on the same
// image's drawing context.  The bar: 1.5x.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "panel/oinit.h"
#include "panel_scene.h"
#include "platform/qx_draw.h"

namespace {

constexpr int32 kPoints = 100000;
constexpr int16 kWidth = 1000, kHeight = 600;

struct FillScene {
  PanelScene s;
  int32 graph = 0;
  int32 image = 0;
  std::vector<PlatPoint> host;  // the same outline for the host polygon

  bool Make() {
    if (!s.OpenPanel(kHeight, kWidth)) return false;
    graph = s.Obj(kClsGraphChart);
    PutNative16(*s.heap + graph + kPanelGraphKindByte, uInt16(kGraphWaveform));
    s.Place(graph, 0, 0, kHeight, kWidth);
    const int32 ys = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    if (!ys) return false;
    ObjSetWord(s.heap, graph, kPWDDOTypeId, int32(s.Type(tdb::Array(tdb::DBL()))));
    const MgErr e = AllocObjDataSpace(s.heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    if (e != kNoErr) return false;
    ScaleRec* yr = ScaleRecOf(s.heap, ys);
    if (!yr) return false;
    *yr = ScaleRec{};
    yr->min = -1, yr->max = 1, yr->increment = 1, yr->multiplier = 1;
    yr->pixelStart = kHeight - 1, yr->pixelEnd = 0;
    if (ResizePlotList(s.heap, graph, 1, 0, false) != kNoErr) return false;
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(s.heap, graph), &n);
    if (!p || n < 1) return false;
    p->fillStyle = 16;
    p->interpolation = 2;
    p->pointColor = 0x3060C0;
    if (DSSetHandleSize(p->xs, 4 + 2 * kPoints) || DSSetHandleSize(p->ys, 4 + 2 * kPoints)) return false;
    p = GraphPlots(GraphDataOf(s.heap, graph), &n);
    auto* hs = reinterpret_cast<int16*>(*p->xs + 4);
    auto* vs = reinterpret_cast<int16*>(*p->ys + 4);
    for (int32 i = 0; i < kPoints; ++i) {
      hs[i] = int16(int64(i) * kWidth / kPoints);
      vs[i] = int16(300 - 280 * std::sin(i * 0.0007) * std::cos(i * 0.13));
      host.push_back(PlatPoint{hs[i], vs[i]});
    }
    p->count = kPoints;
    host.push_back(PlatPoint{hs[kPoints - 1], 300});
    host.push_back(PlatPoint{hs[0], 300});
    const Rect all{0, 0, kHeight, kWidth};
    return ICreatePixmap(s.window, &all, 32, &image) == kNoErr && image;
  }
};

FillScene* Scene() {
  static FillScene* scene = [] {
    auto* s = new FillScene;
    return s->Make() ? s : nullptr;
  }();
  return scene;
}

// The image opened as the drawing target for the benchmark's loop.
struct Opened {
  WPortState port{};
  ImageSaveRecord save{};
  int32 image;
  Opened(FillScene* sc) : image(sc->image) {
    WSetup(sc->s.window, &port);
    IOpen(image, &save);
  }
  ~Opened() {
    IClose(image, &save);
    WRestore(&port);
  }
};

void BM_FillPlotToZero(benchmark::State& st) {
  FillScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  Opened open(sc);
  for (auto _ : st) {
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(sc->s.heap, sc->graph), &n);
    benchmark::DoNotOptimize(DrawFilledPlot(p, nullptr, sc->s.heap, sc->graph, 0));
  }
}
BENCHMARK(BM_FillPlotToZero)->Unit(benchmark::kMillisecond);

void BM_FillHostPolygon(benchmark::State& st) {
  FillScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  Opened open(sc);
  DSelectNormPen(0x3060C0, 0x3060C0);
  // The pen and brush are selected into the context by the first drawing.
  const Rect none{0, 0, 0, 0};
  DPaintRect(&none);
  const PlatObj dc = gDrawState.memDc ? gDrawState.memDc : gDrawState.dc;
  if (!dc) return st.SkipWithError("no drawing context");
  for (auto _ : st) benchmark::DoNotOptimize(PlatPolygon(dc, sc->host.data(), int32_t(sc->host.size())));
}
BENCHMARK(BM_FillHostPolygon)->Unit(benchmark::kMillisecond);

}  // namespace
