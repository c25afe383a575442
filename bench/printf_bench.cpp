// SPrintf against snprintf of the equivalent C formats, with the same
// arguments: "%d %s %.3f", "%5d|%-8s|%x" (C: "%X", the dialect's hexadecimal
// digits are upper-case), "%e" (C: "%.6E", the dialect's default of seven
// significant digits) and "%s=%ld", one after the other on varied values.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "mgsource/printf.h"

namespace {

struct Args {
  int32 i;
  const char* s;
  double d;
  double e;
};

const char* const kWords[] = {"alpha", "be", "gamma", "delta-x", "e", "zeta", "etaeta", "theta"};

std::vector<Args> MakeArgs() {
  std::mt19937 g(7);
  std::uniform_int_distribution<int32> ints(-1000000, 1000000);
  std::uniform_real_distribution<double> reals(-10000.0, 10000.0);
  std::uniform_real_distribution<double> expo(-30.0, 30.0);
  std::vector<Args> v;
  for (int k = 0; k < 256; ++k)
    v.push_back({ints(g), kWords[k & 7], reals(g), reals(g) * std::pow(10.0, expo(g))});
  return v;
}

void BM_SPrintfMixed(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    SPrintf(buf, "%d %s %.3f", a.i, a.s, a.d);
    SPrintf(buf, "%5d|%-8s|%x", a.i, a.s, a.i);
    SPrintf(buf, "%e", a.e);
    SPrintf(buf, "%s=%ld", a.s, long(a.i));
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_SPrintfMixed);

void BM_SnprintfMixed(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    std::snprintf(buf, sizeof buf, "%d %s %.3f", a.i, a.s, a.d);
    std::snprintf(buf, sizeof buf, "%5d|%-8s|%X", a.i, a.s, a.i);
    std::snprintf(buf, sizeof buf, "%.6E", a.e);
    std::snprintf(buf, sizeof buf, "%s=%ld", a.s, long(a.i));
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_SnprintfMixed);

// Each format alone, to see where the time goes.
void BM_SPrintfIntStrFixed(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(SPrintf(buf, "%d %s %.3f", a.i, a.s, a.d));
  }
}
BENCHMARK(BM_SPrintfIntStrFixed);

void BM_SnprintfIntStrFixed(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%d %s %.3f", a.i, a.s, a.d));
  }
}
BENCHMARK(BM_SnprintfIntStrFixed);

void BM_SPrintfFieldsHex(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(SPrintf(buf, "%5d|%-8s|%x", a.i, a.s, a.i));
  }
}
BENCHMARK(BM_SPrintfFieldsHex);

void BM_SnprintfFieldsHex(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%5d|%-8s|%X", a.i, a.s, a.i));
  }
}
BENCHMARK(BM_SnprintfFieldsHex);

void BM_SPrintfExponent(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(SPrintf(buf, "%e", args[i++ & 255].e));
}
BENCHMARK(BM_SPrintfExponent);

void BM_SnprintfExponent(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.6E", args[i++ & 255].e));
}
BENCHMARK(BM_SnprintfExponent);

void BM_SPrintfKeyValue(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(SPrintf(buf, "%s=%ld", a.s, long(a.i)));
  }
}
BENCHMARK(BM_SPrintfKeyValue);

void BM_SnprintfKeyValue(benchmark::State& st) {
  auto args = MakeArgs();
  char buf[256];
  size_t i = 0;
  for (auto _ : st) {
    const Args& a = args[i++ & 255];
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%s=%ld", a.s, long(a.i)));
  }
}
BENCHMARK(BM_SnprintfKeyValue);

}  // namespace
