// A waveform graph of 1,000,000 doubles drawn into an offscreen image
// (immediate, autoscale off) on plot areas 1,000 and 250 pixels wide,
// against a plain loop doing the same reduction (each point's column by a
// multiply-add, each column's minimum and maximum) and one polyline of the
// points it leaves on the same 32-bit surface.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "panel/oinit.h"
#include "panel_scene.h"

namespace {

constexpr int32 kPoints = 1000000;

struct PlotScene {
  PanelScene s;
  int32 graph = 0;
  int32 image = 0;
  UHandle values = nullptr;
  std::vector<double> y;
  Rect inner{};

  bool Make(int16 width) {
    if (!s.OpenPanel(700, 1200)) return false;
    graph = s.Obj(kClsGraphChart);
    PutNative16(*s.heap + graph + kPanelGraphKindByte, uInt16(kGraphWaveform));
    s.Place(graph, 0, 0, 600, int16(width + 40));
    const int32 area = vib::NewObject(s.heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                      kGPartPlotArea, 0);
    const int32 xs = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
    const int32 ys = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    if (!area || !xs || !ys) return false;
    // The plot area's inside is width pixels wide.
    s.Place(area, 10, 10, 502, int16(width + 2));
    ObjSetWord(s.heap, area, kObjCosmBack / 4, 0xFFFFFF);
    s.Place(xs, 10, 10, 502, int16(width + 2));
    s.Place(ys, 10, 10, 502, int16(width + 2));
    ObjSetWord(s.heap, graph, kPWDDOTypeId, int32(s.Type(tdb::Array(tdb::DBL()))));
    const MgErr e = AllocObjDataSpace(s.heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    if (e != kNoErr) return false;
    inner = Rect{11, 11, 511, int16(11 + width)};
    ScaleRec* xr = ScaleRecOf(s.heap, xs);
    ScaleRec* yr = ScaleRecOf(s.heap, ys);
    if (!xr || !yr) return false;
    *xr = ScaleRec{};
    xr->min = 0, xr->max = kPoints - 1, xr->increment = 1, xr->multiplier = 1;
    xr->pixelStart = inner.left, xr->pixelEnd = int16(inner.right - 1);
    *yr = ScaleRec{};
    yr->min = -1, yr->max = 1, yr->increment = 1, yr->multiplier = 1;
    yr->pixelStart = int16(inner.bottom - 1), yr->pixelEnd = inner.top;
    if (ResizePlotList(s.heap, graph, 1, 0, false) != kNoErr) return false;
    values = DSNewHandle(4 + 8 * kPoints);
    if (!values) return false;
    PutNative32(*values, kPoints);
    for (int32 i = 0; i < kPoints; ++i) {
      const double v = std::sin(i * 0.001) * std::cos(i * 0.37);
      std::memcpy(*values + 4 + 8 * size_t(i), &v, 8);
      y.push_back(v);
    }
    const Rect all{0, 0, 600, int16(width + 40)};
    return ICreatePixmap(s.window, &all, 32, &image) == kNoErr && image;
  }
};

PlotScene* Scene(int16 width) {
  static PlotScene* wide = nullptr;
  static PlotScene* narrow = nullptr;
  PlotScene*& p = width == 1000 ? wide : narrow;
  if (!p) {
    p = new PlotScene;
    if (!p->Make(width)) p = nullptr;
  }
  return p;
}

void BM_PlotAreaWaveform(benchmark::State& st) {
  PlotScene* sc = Scene(int16(st.range(0)));
  if (!sc) return st.SkipWithError("no graph");
  WPortState port;
  WSetup(sc->s.window, &port);
  ImageSaveRecord save{};
  IOpen(sc->image, &save);
  for (auto _ : st) benchmark::DoNotOptimize(DrawPlotArea(sc->s.heap, sc->graph, &sc->values, 0, 0, 4, 0));
  IClose(sc->image, &save);
  WRestore(&port);
}
BENCHMARK(BM_PlotAreaWaveform)->Arg(1000)->Arg(250)->Unit(benchmark::kMillisecond);

void BM_PlotAreaPlainLoop(benchmark::State& st) {
  PlotScene* sc = Scene(1000);
  if (!sc) return st.SkipWithError("no graph");
  const int32 width = 1000;
  std::vector<double> lo(width), hi(width);
  std::vector<Point> pts(2 * width);
  WPortState port;
  WSetup(sc->s.window, &port);
  ImageSaveRecord save{};
  IOpen(sc->image, &save);
  DSelectNormPen(0, 0);
  const double k = double(width - 1) / (kPoints - 1);
  for (auto _ : st) {
    std::fill(lo.begin(), lo.end(), 1e300);
    std::fill(hi.begin(), hi.end(), -1e300);
    for (int32 i = 0; i < kPoints; ++i) {
      const int32 c = int32(i * k + 0.5);
      lo[size_t(c)] = std::min(lo[size_t(c)], sc->y[size_t(i)]);
      hi[size_t(c)] = std::max(hi[size_t(c)], sc->y[size_t(i)]);
    }
    for (int32 c = 0; c < width; ++c) {
      pts[size_t(2 * c)] = Point{int16(260 - lo[size_t(c)] * 240), int16(11 + c)};
      pts[size_t(2 * c + 1)] = Point{int16(260 - hi[size_t(c)] * 240), int16(11 + c)};
    }
    DPolyLine(pts.data(), 2 * width - 1);
  }
  IClose(sc->image, &save);
  WRestore(&port);
}
BENCHMARK(BM_PlotAreaPlainLoop)->Unit(benchmark::kMillisecond);

}  // namespace
