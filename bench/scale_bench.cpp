// Mapping 100,000 values to pixels along a scale (MapValuesToPixels), for
// doubles and for 16-bit integers, against a plain loop doing the same
// multiply-add, pinning and rounding into the same buffer.  Each baseline
// runs first; the mapping's run reports "x_plain", its thread CPU time over
// the baseline's.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <time.h>

#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace {

constexpr int32 kValues = 100000;
constexpr int32 kRecAt = kPanelDataFloor;

struct Setup {
  ObjHeap heap = nullptr;
  std::vector<float64> doubles;
  std::vector<int16> shorts;
  std::vector<int16> pixels;
  ScaleRec rec{};
  bool ok = false;
};

const Setup& Get() {
  static Setup s = [] {
    Setup s;
    if (BenchMemInit() != kNoErr) return s;
    UHandle vi = DSNewHClr(sizeof(VIRecord));
    UHandle ds = DSNewHClr(kRecAt + int32(sizeof(ScaleRec)));
    s.heap = OHNewHeap(1024, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    if (!vi || !ds || !s.heap) return s;
    reinterpret_cast<VIRecord*>(*vi)->dataSpace = ds;
    OHSetWord(s.heap, uInt32(int32(OHWord(s.heap, kOHExtension)) + kHeapExtOwner), uInt32(uintptr_t(vi)));
    ScaleRec* r = reinterpret_cast<ScaleRec*>(*ds + kRecAt);
    r->min = -1000, r->max = 1000, r->pixelStart = 400, r->pixelEnd = 10;
    r->increment = 100, r->multiplier = 1;
    s.rec = *r;
    for (int32 i = 0; i < kValues; ++i) {
      // Mostly inside the range, some past either end.
      s.doubles.push_back((i % 2400) - 1200.25);
      s.shorts.push_back(int16((i % 2400) - 1200));
    }
    s.pixels.assign(kValues, 0);
    s.ok = ScaleRecAt(s.heap, kRecAt) != nullptr;
    return s;
  }();
  return s;
}

// Thread CPU time from its construction on, per benchmark round: other
// work on the machine does not count.
class CpuClock {
 public:
  CpuClock() : start_(Now()) {}
  double PerRound(const benchmark::State& st) const {
    return st.iterations() ? (Now() - start_) / double(st.iterations()) : 0;
  }

 private:
  static double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
  }
  double start_;
};

// The baseline: the same arithmetic written out over a plain array.
template <typename T>
__attribute__((noinline)) void PlainMap(const ScaleRec& r, const T* values, int32 n, int16* out) {
  const double k = (double(r.pixelEnd) - double(r.pixelStart)) / (r.max - r.min);
  for (int32 i = 0; i < n; ++i) {
    const double p = (double(values[i]) - r.min) * k + r.pixelStart;
    out[i] = p != p ? 15005 : p > 15000 ? 15000 : p < -15000 ? -15000 : int16(int32(p > 0 ? p + 0.5 : p - 0.5));
  }
}

double gBaselineNs[2] = {0, 0};

template <typename T>
void Baseline(benchmark::State& st, const std::vector<T>& values, int which) {
  const Setup& s = Get();
  if (!s.ok) {
    st.SkipWithError("no scale record");
    return;
  }
  std::vector<int16> out(kValues);
  const CpuClock clock;
  for (auto _ : st) {
    PlainMap(s.rec, values.data(), kValues, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  gBaselineNs[which] = clock.PerRound(st);
  st.SetItemsProcessed(st.iterations() * kValues);
}

template <typename T>
void Mapped(benchmark::State& st, const std::vector<T>& values, int32 type, int which) {
  const Setup& s = Get();
  if (!s.ok) {
    st.SkipWithError("no scale record");
    return;
  }
  std::vector<int16> out(kValues);
  std::vector<int16> check(kValues);
  PlainMap(s.rec, values.data(), kValues, check.data());
  const CpuClock clock;
  for (auto _ : st) {
    MapValuesToPixels(s.heap, kRecAt, type, values.data(), int32(sizeof(T)), kValues, out.data(), 2);
    benchmark::DoNotOptimize(out.data());
  }
  const double ns = clock.PerRound(st);
  if (out != check) st.SkipWithError("the mapping differs from the plain loop");
  if (gBaselineNs[which] > 0) st.counters["x_plain"] = ns / gBaselineNs[which];
  st.SetItemsProcessed(st.iterations() * kValues);
}

void BM_PlainMapDBL(benchmark::State& st) { Baseline(st, Get().doubles, 0); }
void BM_MapValuesToPixelsDBL(benchmark::State& st) { Mapped(st, Get().doubles, kTDDBL, 0); }
void BM_PlainMapI16(benchmark::State& st) { Baseline(st, Get().shorts, 1); }
void BM_MapValuesToPixelsI16(benchmark::State& st) { Mapped(st, Get().shorts, kTDI16, 1); }
BENCHMARK(BM_PlainMapDBL);
BENCHMARK(BM_MapValuesToPixelsDBL);
BENCHMARK(BM_PlainMapI16);
BENCHMARK(BM_MapValuesToPixelsI16);

}  // namespace
