// The nearest-point search of an XY graph over one plot of 1,000,000 DBL
// points ({X[], Y[]}) with no point within the threshold, so that every
// point is mapped and measured, against a plain loop mapping the same
// points (multiply-add, pin) and taking squared distances.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "controls/graph.h"
#include "controls/pointlookup.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "panel/oinit.h"
#include "panel_scene.h"

namespace {

constexpr int32 kPoints = 1000000;

struct XYScene {
  PanelScene s;
  int32 graph = 0;
  std::vector<uChar> value;  // {X[], Y[]}: two handles
  std::vector<double> x, y;

  bool Make() {
    if (!s.OpenPanel(700, 1200)) return false;
    graph = s.Obj(kClsGraphChart);
    PutNative16(*s.heap + graph + kPanelGraphKindByte, uInt16(kGraphXY));
    s.Place(graph, 0, 0, 600, 1040);
    const int32 xs = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
    const int32 ys = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    if (!xs || !ys) return false;
    const tdb::TD a = tdb::Array(tdb::DBL());
    ObjSetWord(s.heap, graph, kPWDDOTypeId, int32(s.Type(tdb::Cluster({a, a}))));
    const MgErr e = AllocObjDataSpace(s.heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    if (e != kNoErr) return false;
    ScaleRec* xr = ScaleRecOf(s.heap, xs);
    ScaleRec* yr = ScaleRecOf(s.heap, ys);
    if (!xr || !yr) return false;
    *xr = ScaleRec{};
    xr->min = 0, xr->max = 10, xr->increment = 1, xr->multiplier = 1, xr->pixelStart = 11, xr->pixelEnd = 1010;
    *yr = ScaleRec{};
    yr->min = -1, yr->max = 1, yr->increment = 1, yr->multiplier = 1, yr->pixelStart = 510, yr->pixelEnd = 11;
    UHandle hx = DSNewHandle(4 + 8 * kPoints), hy = DSNewHandle(4 + 8 * kPoints);
    if (!hx || !hy) return false;
    PutNative32(*hx, kPoints);
    PutNative32(*hy, kPoints);
    for (int32 i = 0; i < kPoints; ++i) {
      const double xv = 10.0 * i / kPoints, yv = std::sin(i * 0.001) * std::cos(i * 0.37);
      std::memcpy(*hx + 4 + 8 * size_t(i), &xv, 8);
      std::memcpy(*hy + 4 + 8 * size_t(i), &yv, 8);
      x.push_back(xv);
      y.push_back(yv);
    }
    value.resize(8);
    std::memcpy(value.data(), &hx, 4);
    std::memcpy(value.data() + 4, &hy, 4);
    return true;
  }
};

XYScene* Scene() {
  static XYScene* p = nullptr;
  if (!p) {
    p = new XYScene;
    if (!p->Make()) p = nullptr;
  }
  return p;
}

// Far below the plot area: no point lies within the threshold.
constexpr Point kFar{5000, 500};

void BM_FindNearestXYPoint(benchmark::State& st) {
  XYScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  int32 plot = 0, index = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(FindNearestPlotPoint(sc->s.heap, sc->graph, sc->value.data(), kFar, -1, &plot, &index, 0));
  }
  if (index < 0) st.SkipWithError("no point found");
}
BENCHMARK(BM_FindNearestXYPoint)->Unit(benchmark::kMillisecond);

inline int32 Pin(double p) {
  if (p > 15000) return 15000;
  if (p < -15000) return -15000;
  return int32(p > 0 ? p + 0.5 : p - 0.5);
}

void BM_FindNearestPlainLoop(benchmark::State& st) {
  XYScene* sc = Scene();
  if (!sc) return st.SkipWithError("no graph");
  const double kx = (1010.0 - 11) / 10, ky = (11.0 - 510) / 2;
  for (auto _ : st) {
    int64 best = INT64_MAX;
    int32 bestAt = -1;
    for (int32 i = 0; i < kPoints; ++i) {
      const int32 dh = Pin(sc->x[size_t(i)] * kx + 11) - kFar.h;
      const int32 dv = Pin((sc->y[size_t(i)] + 1) * ky + 510) - kFar.v;
      const int64 d = int64(dh) * dh + int64(dv) * dv;
      if (d < best) best = d, bestAt = i;
    }
    benchmark::DoNotOptimize(bestAt);
  }
}
BENCHMARK(BM_FindNearestPlainLoop)->Unit(benchmark::kMillisecond);

}  // namespace
