// Replacing the whole text of a text-edit record: TReplaceText of a 1 MB
// text into a record holding another 1 MB text (the two differ in their
// last byte) against memcmp plus memcpy of the same bytes (target: at most
// 1.5x).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstring>
#include <vector>

#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr int32 kSize = 1 << 20;

bool StartText() {
  static const bool started = BenchMemInit() == kNoErr && (BenchFontsInit(), TStandardFont(0) >= 0);
  return started;
}

std::vector<uChar> Text(uChar last) {
  std::vector<uChar> t(kSize);
  for (int32 i = 0; i < kSize; ++i) t[size_t(i)] = uChar('a' + i % 26);
  t.back() = last;
  return t;
}

void BM_TextReplaceWhole1MB(benchmark::State& st) {
  if (!StartText()) return st.SkipWithError("no font table");
  const std::vector<uChar> a = Text('x'), b = Text('y');
  const Rect view{0, 0, 100, 400};
  TRecord r = TNew(&view, 4, a.data(), kSize, kAppFont, 0, 0xFFFFFF);
  bool flip = false;
  for (auto _ : st) {
    flip = !flip;
    const MgErr err = TReplaceText(r, flip ? b.data() : a.data(), kSize);
    benchmark::DoNotOptimize(err);
  }
  TDispose(r);
  st.SetBytesProcessed(int64_t(st.iterations()) * kSize);
}
BENCHMARK(BM_TextReplaceWhole1MB);

void BM_MemcmpMemcpy1MB(benchmark::State& st) {
  const std::vector<uChar> a = Text('x'), b = Text('y');
  std::vector<uChar> held = a;
  bool flip = false;
  for (auto _ : st) {
    flip = !flip;
    const uChar* src = flip ? b.data() : a.data();
    const int same = std::memcmp(held.data(), src, kSize);
    if (same != 0) std::memcpy(held.data(), src, kSize);
    benchmark::DoNotOptimize(held.data());
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kSize);
}
BENCHMARK(BM_MemcmpMemcpy1MB);

}  // namespace
