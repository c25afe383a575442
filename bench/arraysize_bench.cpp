// Resizing a vector of doubles alternately to 100,000 and 100,100 elements
// with VectorResize, against realloc of the same block sizes and a memset of
// the added bytes.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstdlib>
#include <cstring>

#include "mgsource/memory.h"
#include "rtlib/arraysize.h"

namespace {

constexpr int32 kShort = 100000;
constexpr int32 kLong = 100100;

void EnsureInit() {
  static bool started = BenchMemInit() == kNoErr;
  (void)started;
}

void BM_VectorResizeAlternating(benchmark::State& st) {
  EnsureInit();
  const TypeDescriptor* dbl = StdTDTable[kTDDBL];
  int32 shortCount = kShort, longCount = kLong;
  int32* shortRef = &shortCount;
  int32* longRef = &longCount;
  UHandle h = nullptr;
  if (VectorResize(dbl, &h, &shortRef) != kNoErr) st.SkipWithError("resize failed");
  for (auto _ : st) {
    if (VectorResize(dbl, &h, &longRef) != kNoErr || VectorResize(dbl, &h, &shortRef) != kNoErr)
      st.SkipWithError("resize failed");
    benchmark::DoNotOptimize(*h);
  }
  DSDisposeHandle(h);
}
BENCHMARK(BM_VectorResizeAlternating);

void BM_ReallocAndClearAlternating(benchmark::State& st) {
  const size_t small = 4 + 8 * size_t(kShort);
  const size_t large = 4 + 8 * size_t(kLong);
  char* p = static_cast<char*>(std::calloc(1, small));
  for (auto _ : st) {
    p = static_cast<char*>(std::realloc(p, large));
    if (!p) st.SkipWithError("realloc failed");
    std::memset(p + small, 0, large - small);
    p = static_cast<char*>(std::realloc(p, small));
    benchmark::DoNotOptimize(p);
  }
  std::free(p);
}
BENCHMARK(BM_ReallocAndClearAlternating);

}  // namespace
