// Typing: 1,000 characters typed with TKey into the middle of a
// 100,000-byte record of 20 style runs (nothing drawn) against inserting the
// same bytes one by one with std::string::insert (target: at most 20x).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <string>

#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr int32 kTextBytes = 100000, kTyped = 1000, kRuns = 20;

bool StartFonts() {
  static const bool started = BenchMemInit() == kNoErr && (BenchFontsInit(), true);
  return started;
}

void BM_TextKeyTyping(benchmark::State& st) {
  if (!StartFonts()) return st.SkipWithError("no font table");
  static const uChar sans[] = "\x0b" "DejaVu Sans";
  const int32 plain = TNewFont(sans, 12, 0, 0), bold = TNewFont(sans, 12, 0, 700);
  const std::string text(kTextBytes, 'a');
  const Rect view{0, 0, 400, 400};
  for (auto _ : st) {
    st.PauseTiming();
    TRecord r = TNew(&view, kTRKindWordWrap, reinterpret_cast<const uChar*>(text.data()), kTextBytes, plain, 0, 0);
    // Every other stretch of 10,000 bytes bold: 20 runs.
    for (int32 i = 1; i < kRuns; i += 2) {
      TSelectText(r, i * (kTextBytes / kRuns), (i + 1) * (kTextBytes / kRuns));
      TSetFont(r, bold, 8, 0);
    }
    TSelectText(r, kTextBytes / 2 + 7, kTextBytes / 2 + 7);
    st.ResumeTiming();
    for (int32 i = 0; i < kTyped; ++i) TKey(r, kTKeyChar, 'a' + i % 26, 0, 0);
    st.PauseTiming();
    TDispose(r);
    st.ResumeTiming();
  }
  TDisposeFont(plain);
  TDisposeFont(bold);
}
BENCHMARK(BM_TextKeyTyping)->Unit(benchmark::kMicrosecond);

void BM_StringInsertTyping(benchmark::State& st) {
  const std::string text(kTextBytes, 'a');
  for (auto _ : st) {
    st.PauseTiming();
    std::string s = text;
    st.ResumeTiming();
    for (int32 i = 0; i < kTyped; ++i) s.insert(size_t(kTextBytes / 2 + 7 + i), 1, char('a' + i % 26));
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_StringInsertTyping)->Unit(benchmark::kMicrosecond);

}  // namespace
