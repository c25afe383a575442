// Decimal records against the C library: 17 significant digits of a double
// (DoubleToDecimalRec against snprintf "%.16e") and back (DecimalRecToDouble
// against strtod of the same text).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <array>
#include <random>
#include <vector>

#include "mgsource/extmath.h"

namespace {

std::vector<double> Values() {
  std::mt19937_64 g(1);
  std::vector<double> v;
  while (v.size() < 1024) {
    uInt64 bits = g();
    double d;
    std::memcpy(&d, &bits, 8);
    if (d == d && d - d == 0) v.push_back(d);
  }
  return v;
}

void BM_DoubleToDecimalRec(benchmark::State& st) {
  auto v = Values();
  DecimalRec r;
  size_t i = 0;
  for (auto _ : st) {
    DoubleToDecimalRec(v[i++ & 1023], 17, &r);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_DoubleToDecimalRec);

void BM_SnprintfE17(benchmark::State& st) {
  auto v = Values();
  char buf[40];
  size_t i = 0;
  for (auto _ : st) {
    std::snprintf(buf, sizeof buf, "%.16e", v[i++ & 1023]);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_SnprintfE17);

void BM_DecimalRecToDouble(benchmark::State& st) {
  auto v = Values();
  std::vector<DecimalRec> recs(v.size());
  for (size_t k = 0; k < v.size(); ++k) DoubleToDecimalRec(v[k], 17, &recs[k]);
  size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(DecimalRecToDouble(&recs[i++ & 1023]));
}
BENCHMARK(BM_DecimalRecToDouble);

void BM_Strtod(benchmark::State& st) {
  auto v = Values();
  std::vector<std::array<char, 40>> texts(v.size());
  for (size_t k = 0; k < v.size(); ++k) std::snprintf(texts[k].data(), 40, "%.16e", v[k]);
  size_t i = 0;
  for (auto _ : st) benchmark::DoNotOptimize(std::strtod(texts[i++ & 1023].data(), nullptr));
}
BENCHMARK(BM_Strtod);

}  // namespace
