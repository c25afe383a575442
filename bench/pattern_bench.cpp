// MatchPattern against POSIX regexec over the same 64 KB text.  Each pattern
// is compiled once (MakePattern, regcomp with REG_EXTENDED); each round finds
// the first match from offset 0 and both sides produce the text before the
// match, the match and the text after it, which they keep across rounds (the
// baseline in std::string).
//
// The text is lower-case words without "a", "c", "q" or digits, so the
// unanchored patterns "quartz", "[0-9]+" and "a.c" first match in the tail
// placed at its end and both sides scan the whole text.  "^abc" is tried
// only at the offset (and finds nothing), and "[a-z]+q" retries every start
// of every word.  The counter "end" is the offset just past the match, -1 for
// none: both sides must show the same.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <regex.h>

#include <random>
#include <string>

#include "mgsource/memory.h"
#include "rtlib/pattern.h"

namespace {

const std::string& Text64K() {
  static const std::string text = [] {
    const std::string tail = " quartz 4711 abc xyzq end";
    const char letters[] = "bdefghijklmnoprstuvwxyz";
    std::mt19937 rng(48);
    std::string t;
    while (t.size() < 65536 - tail.size()) {
      size_t len = 1 + rng() % 9;
      for (size_t k = 0; k < len; ++k) t += letters[rng() % (sizeof(letters) - 1)];
      t += ' ';
    }
    t.resize(65536 - tail.size());
    return t + tail;
  }();
  return text;
}

void BM_MatchPattern(benchmark::State& st, const char* pattern) {
  static bool started = BenchMemInit() == kNoErr;
  if (!started) {
    st.SkipWithError("memory manager not started");
    return;
  }
  const std::string& text = Text64K();
  LStrHandle code = nullptr;
  if (MakePattern(int32(std::char_traits<char>::length(pattern)), reinterpret_cast<const uChar*>(pattern), &code)) {
    st.SkipWithError("pattern not compiled");
    return;
  }
  LStrHandle before = nullptr, match = nullptr, after = nullptr;
  int32 past = -1;
  for (auto _ : st) {
    MatchPattern(code, int32(text.size()), reinterpret_cast<const uChar*>(text.data()), 0, &before, &match, &after,
                 &past);
    benchmark::DoNotOptimize(past);
  }
  st.counters["end"] = past;
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(text.size()));
  for (LStrHandle h : {code, before, match, after}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

void BM_Regexec(benchmark::State& st, const char* pattern) {
  const std::string& text = Text64K();
  regex_t re;
  if (regcomp(&re, pattern, REG_EXTENDED)) {
    st.SkipWithError("pattern not compiled");
    return;
  }
  std::string before, match, after;
  regmatch_t m[1];
  int found = REG_NOMATCH;
  for (auto _ : st) {
    found = regexec(&re, text.c_str(), 1, m, 0);
    if (found == 0) {
      before.assign(text, 0, size_t(m[0].rm_so));
      match.assign(text, size_t(m[0].rm_so), size_t(m[0].rm_eo - m[0].rm_so));
      after.assign(text, size_t(m[0].rm_eo), std::string::npos);
    } else {
      before = text;
      match.clear();
      after.clear();
    }
    benchmark::DoNotOptimize(after.data());
  }
  st.counters["end"] = found == 0 ? double(m[0].rm_eo) : -1;
  st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(text.size()));
  regfree(&re);
}

// With a bar: at most the baseline's time.
BENCHMARK_CAPTURE(BM_MatchPattern, literal, "quartz")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Regexec, literal, "quartz")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_MatchPattern, digits, "[0-9]+")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Regexec, digits, "[0-9]+")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_MatchPattern, any, "a.c")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Regexec, any, "a.c")->Unit(benchmark::kMicrosecond);
// Without a bar.
BENCHMARK_CAPTURE(BM_MatchPattern, anchored, "^abc")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Regexec, anchored, "^abc")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_MatchPattern, retries, "[a-z]+q")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Regexec, retries, "[a-z]+q")->Unit(benchmark::kMicrosecond);

}  // namespace
