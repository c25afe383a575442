// Intensity images: BuildIntensityBitmap of 1,000 x 1,000 doubles into
// 500 x 500 pixels (four samples a pixel), and of 100 x 100 doubles into
// 1,000 x 1,000 pixels (each sample over 10 x 10 pixels), each against a
// plain loop that computes every pixel's index from the largest of its
// samples with the same range factor.  The image's runs report "x_plain",
// their time per image over the plain loop's.
#include <benchmark/benchmark.h>

#include "panel_scene.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "controls/graph.h"
#include "controls/graphintensity.h"
#include "controls/scale.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "panel/objects.h"

namespace {

double ThreadNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

struct Scene : PanelScene {
  bool ok = false;
  int32 graph = 0, zScale = 0;
  UHandle big = nullptr, small = nullptr;  // 1,000 x 1,000 and 100 x 100
  Scene() {
    if (!OpenPanel(600, 800)) return;
    ControlsInstallScaleHooks();
    graph = Obj(kClsGraphChart, root);
    zScale = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartZScale, 0);
    if (!graph || !zScale) return;
    PutNative16(*heap + graph + kPanelGraphKindByte, uInt16(kGraphIntensity));
    ObjSetWord(heap, graph, kPWDDOTypeId, int32(Type(tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable}))));
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    if (AllocObjDataSpace(heap, graph) != kNoErr) return;
    ScaleRec* z = ScaleRecOf(heap, zScale);
    if (!z) return;
    z->min = 0, z->max = 1, z->increment = 0.1, z->multiplier = 1;
    big = Block(1000);
    small = Block(100);
    ok = big && small && BuildColorTable(heap, graph) == 0;
  }
  static UHandle Block(int32 side) {
    UHandle h = DSNewHandle(8 + 8 * side * side);
    if (!h) return nullptr;
    PutNative32(*h, uInt32(side));
    PutNative32(*h + 4, uInt32(side));
    auto* v = reinterpret_cast<float64*>(*h + 8);
    for (int32 i = 0; i < side * side; ++i) v[i] = 0.5 + 0.5 * std::sin(i * 0.001);
    return h;
  }
};
Scene& Get() {
  static Scene s;
  return s;
}

// The same image the plain way: for each pixel, the range of samples it
// covers found by division, their largest, its index.
void PlainImage(UHandle data, int32 side, int32 w, int32 h, std::vector<uChar>* out) {
  const auto* v = reinterpret_cast<const float64*>(*data + 8);
  const float64 lo = 0, hi = 1, factor = 253 / (hi - lo), offset = 1 - lo * factor;
  const int32 len = w + (w & 1);
  out->assign(size_t(len) * h, 0);
  for (int32 y = 0; y < h; ++y) {
    const int32 r0 = int32(int64(y) * side / h), r1 = std::max(r0 + 1, int32(int64(y + 1) * side / h));
    for (int32 x = 0; x < w; ++x) {
      const int32 c0 = int32(int64(x) * side / w), c1 = std::max(c0 + 1, int32(int64(x + 1) * side / w));
      float64 best = -INFINITY;
      for (int32 c = c0; c < c1; ++c)
        for (int32 r = r0; r < r1; ++r) best = std::max(best, v[int64(c) * side + r]);
      (*out)[size_t(y) * len + x] =
          best > hi ? 255 : !(best >= lo) ? 0 : uChar(std::lround(best * factor + offset));
    }
  }
}

double gPlainNs[2] = {0, 0};

double Time(benchmark::State& st, const std::function<void()>& f) {
  double ns = 0;
  for (auto _ : st) {
    const double start = ThreadNs();
    f();
    const double t = ThreadNs() - start;
    st.SetIterationTime(t / 1e9);
    ns += t;
  }
  return ns / double(st.iterations());
}

// Case 0: 1,000 x 1,000 into 500 x 500; case 1: 100 x 100 into 1,000 x 1,000.
constexpr int32 kSide[2] = {1000, 100}, kPixels[2] = {500, 1000};

void BM_IntensityPlainLoop(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the graph could not be built");
  const int32 c = int32(st.range(0));
  std::vector<uChar> out;
  gPlainNs[c] = Time(st, [&] {
    PlainImage(c ? s.small : s.big, kSide[c], kPixels[c], kPixels[c], &out);
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_IntensityBitmap(benchmark::State& st) {
  Scene& s = Get();
  if (!s.ok) return st.SkipWithError("the graph could not be built");
  const int32 c = int32(st.range(0));
  const Rect px{0, 0, int16(kPixels[c]), int16(kPixels[c])};
  const double ns = Time(st, [&] {
    IntensityRec* rec = IntensityRecOf(s.heap, s.graph);
    if (BuildIntensityBitmap(s.heap, s.graph, s.zScale, c ? s.small : s.big, 0, 0, kSide[c] - 1, kSide[c] - 1,
                             rec->image, &px, &px, false) != 0)
      st.SkipWithError("the image could not be built");
  });
  if (gPlainNs[c] > 0) st.counters["x_plain"] = ns / gPlainNs[c];
}

BENCHMARK(BM_IntensityPlainLoop)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntensityBitmap)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
