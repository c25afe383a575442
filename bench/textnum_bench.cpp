// TextToNum into doubles against strtod on the same 1,000,000 decimal texts:
// integers, fixed and exponent forms of 1 to 17 digits, both signs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "mgsource/textnum.h"

namespace {

struct Texts {
  std::string buf;           // the texts, each followed by a NUL for strtod
  std::vector<int32> start;  // offsets into buf
  std::vector<int32> len;
};

const Texts& MakeTexts() {
  static Texts t = [] {
    Texts t;
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> digits(1, 17), digit(0, 9), form(0, 2), ex(-300, 300);
    for (int i = 0; i < 1000000; ++i) {
      std::string s;
      if (rng() & 1) s += '-';
      int n = digits(rng);
      std::string d;
      d += char('1' + digit(rng) % 9);
      for (int k = 1; k < n; ++k) d += char('0' + digit(rng));
      switch (form(rng)) {
        case 0: s += d; break;  // integer
        case 1:                 // fixed
          if (n == 1) s += "0." + d;
          else {
            size_t k = size_t(1 + rng() % unsigned(n - 1));
            s += d.substr(0, k) + "." + d.substr(k);
          }
          break;
        default:  // exponent
          s += d.substr(0, 1);
          if (n > 1) s += "." + d.substr(1);
          s += "e" + std::to_string(ex(rng));
          break;
      }
      t.start.push_back(int32(t.buf.size()));
      t.len.push_back(int32(s.size()));
      t.buf += s;
      t.buf += '\0';
    }
    return t;
  }();
  return t;
}

void BM_TextToNumDouble(benchmark::State& st) {
  const Texts& t = MakeTexts();
  const uChar* base = reinterpret_cast<const uChar*>(t.buf.data());
  for (auto _ : st) {
    double sum = 0;
    for (size_t i = 0; i < t.start.size(); ++i) {
      double v;
      TextToNum(base + t.start[i], t.len[i], kNumDBL, &v, -6, 0, nullptr);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(t.start.size()));
}
BENCHMARK(BM_TextToNumDouble)->Unit(benchmark::kMillisecond);

void BM_StrtodTexts(benchmark::State& st) {
  const Texts& t = MakeTexts();
  const char* base = t.buf.data();
  for (auto _ : st) {
    double sum = 0;
    for (size_t i = 0; i < t.start.size(); ++i) sum += std::strtod(base + t.start[i], nullptr);
    benchmark::DoNotOptimize(sum);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(t.start.size()));
}
BENCHMARK(BM_StrtodTexts)->Unit(benchmark::kMillisecond);

}  // namespace
