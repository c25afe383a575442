// QSort against the C library's qsort with the same comparison.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "mgsource/sorting.h"

namespace {

int32 CompareInt(const void* a, const void* b) {
  int32 x = *static_cast<const int32*>(a), y = *static_cast<const int32*>(b);
  return x < y ? -1 : x > y;
}
int CompareIntC(const void* a, const void* b) { return CompareInt(a, b); }

struct Rec16 {
  int32 key;
  int32 pad[3];
};
int32 CompareRec(const void* a, const void* b) {
  int32 x = static_cast<const Rec16*>(a)->key, y = static_cast<const Rec16*>(b)->key;
  return x < y ? -1 : x > y;
}
int CompareRecC(const void* a, const void* b) { return CompareRec(a, b); }

template <typename T>
std::vector<T> RandomData() {
  std::mt19937 rng(42);
  std::vector<T> v(100000);
  for (auto& x : v) std::memset(&x, 0, sizeof x), *reinterpret_cast<int32*>(&x) = int32(rng());
  return v;
}

void BM_QSortInt32(benchmark::State& st) {
  auto src = RandomData<int32>();
  for (auto _ : st) {
    st.PauseTiming();
    auto v = src;
    st.ResumeTiming();
    QSort(v.data(), int32(v.size()), 4, CompareInt);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_QSortInt32)->Unit(benchmark::kMillisecond);

void BM_LibcQsortInt32(benchmark::State& st) {
  auto src = RandomData<int32>();
  for (auto _ : st) {
    st.PauseTiming();
    auto v = src;
    st.ResumeTiming();
    std::qsort(v.data(), v.size(), 4, CompareIntC);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_LibcQsortInt32)->Unit(benchmark::kMillisecond);

void BM_QSortRec16(benchmark::State& st) {
  auto src = RandomData<Rec16>();
  for (auto _ : st) {
    st.PauseTiming();
    auto v = src;
    st.ResumeTiming();
    QSort(v.data(), int32(v.size()), 16, CompareRec);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_QSortRec16)->Unit(benchmark::kMillisecond);

void BM_LibcQsortRec16(benchmark::State& st) {
  auto src = RandomData<Rec16>();
  for (auto _ : st) {
    st.PauseTiming();
    auto v = src;
    st.ResumeTiming();
    std::qsort(v.data(), v.size(), 16, CompareRecC);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_LibcQsortRec16)->Unit(benchmark::kMillisecond);

}  // namespace
