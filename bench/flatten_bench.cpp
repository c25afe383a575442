// Flattening and unflattening a 1,000,000-element array of doubles against a
// plain loop that byte-swaps as many doubles from one buffer into another.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "mgsource/memory.h"

namespace {

constexpr int32 kCount = 1000000;

struct DoubleArray {
  // A 1-D variable array of DBL: its header, rank 1, dimension -1, the element.
  DoubleArray() : td{14, 0, kTDArray, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 0, kTDDBL, 0} {
    static bool started = BenchMemInit() == kNoErr;
    (void)started;
    h = DSNewHandle(4 + 8 * kCount);
    std::memcpy(*h, &kCount, 4);
    for (int32 i = 0; i < kCount; ++i) {
      double v = i * 0.5;
      std::memcpy(*h + 4 + 8 * i, &v, 8);
    }
  }
  ~DoubleArray() { DSDisposeHandle(h); }
  const TypeDescriptor* TD() const { return reinterpret_cast<const TypeDescriptor*>(td.data()); }
  std::vector<uChar> td;
  UHandle h;
};

void BM_SwapLoopBaseline(benchmark::State& st) {
  std::vector<double> src(kCount);
  for (int32 i = 0; i < kCount; ++i) src[size_t(i)] = i * 0.5;
  std::vector<uChar> dst(size_t(8) * kCount);
  for (auto _ : st) {
    const uChar* s = reinterpret_cast<const uChar*>(src.data());
    uChar* d = dst.data();
    for (int32 i = 0; i < kCount; ++i) {
      uint64_t v;
      std::memcpy(&v, s + 8 * i, 8);
      v = __builtin_bswap64(v);
      std::memcpy(d + 8 * i, &v, 8);
    }
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SwapLoopBaseline)->Unit(benchmark::kMicrosecond);

void BM_FlattenData(benchmark::State& st) {
  DoubleArray a;
  int32 size = FlatSize(a.TD(), &a.h);
  std::vector<uChar> buf(static_cast<size_t>(size));
  for (auto _ : st) {
    benchmark::DoNotOptimize(FlattenData(a.TD(), &a.h, buf.data()));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FlattenData)->Unit(benchmark::kMicrosecond);

void BM_UnFlattenData(benchmark::State& st) {
  DoubleArray a;
  int32 size = FlatSize(a.TD(), &a.h);
  UHandle flat = DSNewHandle(size);
  FlattenData(a.TD(), &a.h, *flat);
  UHandle into = nullptr;  // one array handle reused across rounds
  for (auto _ : st) {
    int32 used = UnFlattenData(flat, 0, a.TD(), &into, size, 0);
    if (used != size) st.SkipWithError("unflattening failed");
    benchmark::ClobberMemory();
  }
  DisposeData(a.TD(), &into, &into + 1);
  DSDisposeHandle(flat);
}
BENCHMARK(BM_UnFlattenData)->Unit(benchmark::kMicrosecond);

}  // namespace
