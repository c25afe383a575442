// Full layout of a 64 KB text in word-wrap kind against a plain greedy word
// wrap over the same width table (target: at most 2x), and the relayout
// after one character typed in its middle (target: at least 50 times faster
// than the full layout).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"

#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr int32 kSize = 64 * 1024;
constexpr int16 kViewWidth = 400;

bool StartLayout() {
  static const bool started = BenchMemInit() == kNoErr && (BenchFontsInit(), TStandardFont(0) >= 0);
  return started;
}

std::string Text() {
  static const char* const kWords[] = {"the", "quick", "brown", "fox", "jumps", "over", "a", "lazy", "dog,", "again"};
  std::string t;
  for (int32 i = 0; int32(t.size()) < kSize; ++i) {
    t += kWords[i % 10];
    t += i % 97 == 96 ? '\n' : ' ';
  }
  t.resize(kSize);
  return t;
}

void BM_TextLayoutWrap64KB(benchmark::State& st) {
  if (!StartLayout()) return st.SkipWithError("no font table");
  const std::string t = Text();
  const Rect view{0, 0, 100, kViewWidth};
  TRecord r = TNew(&view, 4, reinterpret_cast<const uChar*>(t.data()), kSize, kAppFont, 0, 0xFFFFFF);
  for (auto _ : st) {
    TMarkRelayout(r, -1, 0, 0);
    TValidateLines(r);
  }
  st.counters["lines"] = TLineCount(r);
  TDispose(r);
}
BENCHMARK(BM_TextLayoutWrap64KB)->Unit(benchmark::kMillisecond);

// One character inserted in the middle (and removed again on the next
// iteration), the change marked; only the relayout is timed.
void BM_TextRelayoutOneChar64KB(benchmark::State& st) {
  if (!StartLayout()) return st.SkipWithError("no font table");
  const std::string t = Text();
  const Rect view{0, 0, 100, kViewWidth};
  TRecord r = TNew(&view, 4, reinterpret_cast<const uChar*>(t.data()), kSize, kAppFont, 0, 0xFFFFFF);
  TValidateLines(r);
  const int32 at = kSize / 2;
  int32 measured = 0;
  bool inserted = false;
  for (auto _ : st) {
    UHandle text = TRData(r)->text;
    const int32 n = int32(GetNative32(*text));
    if (!inserted) {
      if (DSSetHandleSize(text, 4 + n + 1) != kNoErr) return st.SkipWithError("no memory");
      std::memmove(*text + 4 + at + 1, *text + 4 + at, size_t(n - at));
      (*text)[4 + at] = 'x';
      PutNative32(*text, uInt32(n + 1));
      TMarkRelayout(r, at, 0, 1);
    } else {
      std::memmove(*text + 4 + at, *text + 4 + at + 1, size_t(n - at - 1));
      PutNative32(*text, uInt32(n - 1));
      DSSetHandleSize(text, 4 + n - 1);
      TMarkRelayout(r, at, 1, 0);
    }
    inserted = !inserted;
    const int32 before = TLayoutMeasuredLines();
    const auto start = std::chrono::steady_clock::now();
    TValidateLines(r);
    const auto stop = std::chrono::steady_clock::now();
    measured = TLayoutMeasuredLines() - before;
    st.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  st.counters["lines"] = TLineCount(r);
  st.counters["measured"] = measured;
  TDispose(r);
}
BENCHMARK(BM_TextRelayoutOneChar64KB)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Greedy wrap: words up to a blank or break, widths summed from a table.
void BM_GreedyWrap64KB(benchmark::State& st) {
  if (!StartLayout()) return st.SkipWithError("no font table");
  const std::string t = Text();
  int32 width[256];
  for (int32 c = 0; c < 256; ++c) {
    const uChar b = uChar(c);
    Point p{0, 0};
    TTextSize(&b, 1, kAppFont, &p);
    width[c] = p.h;
  }
  const int32 avail = kViewWidth - 1;
  int32 lines = 0;
  for (auto _ : st) {
    lines = 1;
    int32 line = 0;
    for (size_t i = 0; i < t.size();) {
      if (t[i] == '\n') {
        ++lines, line = 0, ++i;
        continue;
      }
      size_t j = i;
      int32 w = 0;
      while (j < t.size() && t[j] != ' ' && t[j] != '\n') w += width[uChar(t[j++])];
      while (j < t.size() && t[j] == ' ') w += width[uChar(t[j++])];
      if (line && line + w > avail) ++lines, line = 0;
      line += w;
      i = j;
    }
    benchmark::DoNotOptimize(lines);
  }
  st.counters["lines"] = lines;
}
BENCHMARK(BM_GreedyWrap64KB)->Unit(benchmark::kMillisecond);

}  // namespace
