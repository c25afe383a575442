// A property node writing "Left" of a numeric inside a cluster 1,000 times,
// against the same move done directly: the offset message and its two
// invalidations.  The direct run goes first; the property run reports
// "x_direct", its thread CPU time over the direct one's.  Both run as the
// engine's slice of the main loop runs property nodes: with the window's
// port kept between drawing brackets.
#include <benchmark/benchmark.h>
#include <time.h>

#include "mgsource/window/wport.h"
#include "panel/attrcall.h"
#include "panel/oinval.h"
#include "insn_marks.h"
#include "panel_scene.h"

namespace {

constexpr int kWrites = 1000;

struct Scene {
  PanelScene s;
  int32 numeric = 0;
  UHandle types = nullptr;
};

const Scene* MakeScene() {
  static const Scene* scene = []() -> const Scene* {
    auto* p = new Scene;
    if (!p->s.OpenPanel(400, 600)) return nullptr;
    if (!TRStackBlock()) TRInit();
    const int32 cluster = p->s.Obj(kClsCluster, p->s.root);
    p->numeric = p->s.Obj(kClsNumeric, cluster);
    if (!cluster || !p->numeric) return nullptr;
    ObjSetWord(p->s.heap, cluster, 11, vib::NewList(p->s.heap, {p->numeric}));
    const int32 body = p->s.Obj(kClsCosmetic, p->numeric, 41);
    p->s.Place(cluster, 10, 10, 100, 200);
    p->s.Place(p->numeric, 20, 20, 20, 60);
    p->s.Place(body, 20, 20, 20, 60);
    const std::vector<uChar> b = tdb::I32().Bytes();
    p->types = DSNewHandle(int32(b.size()));
    if (!p->types) return nullptr;
    std::memcpy(*p->types, b.data(), b.size());
    return p;
  }();
  return scene;
}

double gDirectNs = 0;

double CpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

void BM_LeftDirect(benchmark::State& st) {
  const Scene* p = MakeScene();
  if (!p) {
    st.SkipWithError("no panel");
    return;
  }
  WSetKeptPortMode(1);
  const double start = CpuNs();
  for (auto _ : st) {
    QxInsnMarkBegin();
    for (int i = 0; i < kWrites; ++i) {
      const int16 by = (i & 1) ? -1 : 1;
      OInval(p->s.heap, p->numeric, kInvalAll);
      OOffset(p->s.heap, p->numeric, Point{0, by});
      OInval(p->s.heap, p->numeric, kInvalAll);
    }
    WValidate(p->s.window);
    QxInsnMarkEnd();
  }
  WSetKeptPortMode(0);
  WDropKeptPort();
  gDirectNs = st.iterations() ? (CpuNs() - start) / double(st.iterations()) : 0;
  st.SetItemsProcessed(st.iterations() * kWrites);
}
BENCHMARK(BM_LeftDirect);

void BM_LeftProperty(benchmark::State& st) {
  const Scene* p = MakeScene();
  if (!p) {
    st.SkipWithError("no panel");
    return;
  }
  WSetKeptPortMode(1);
  const double start = CpuNs();
  for (auto _ : st) {
    QxInsnMarkBegin();
    for (int i = 0; i < kWrites; ++i) {
      int32 left = (i & 1) ? 20 : 21;
      DoDDOAttrCall(p->s.heap, p->numeric, p->types, 0, 0, 1, 5, &left);
    }
    WValidate(p->s.window);
    QxInsnMarkEnd();
  }
  const double ns = st.iterations() ? (CpuNs() - start) / double(st.iterations()) : 0;
  WSetKeptPortMode(0);
  WDropKeptPort();
  if (gDirectNs > 0) st.counters["x_direct"] = ns / gDirectNs;
  st.SetItemsProcessed(st.iterations() * kWrites);
}
BENCHMARK(BM_LeftProperty);

}  // namespace
