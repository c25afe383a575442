// Whole-array operations against what plain C++ would do: transposing a
// 1000 x 1000 array of I32 or DBL (into a buffer allocated per call, then
// copied back), rotating and reversing 1,000,000 I32, and initialising
// 1,000,000 DBL.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "mgsource/memory.h"
#include "rtlib/arrayxform.h"

namespace {

constexpr int32 kSide = 1000;
constexpr int32 kCount = 1000000;

void EnsureInit() {
  static bool started = BenchMemInit() == kNoErr;
  (void)started;
}

// A kSide x kSide array of es-byte elements with its sizes.
UHandle Square(int32 es) {
  UHandle h = DSNewHClr(8 + kSide * kSide * es);
  int32 sizes[2] = {kSide, kSide};
  std::memcpy(*h, sizes, 8);
  for (int32 i = 0; i < kSide * kSide * es; i += 4) (*h)[8 + i] = uChar(i);
  return h;
}

void BM_TransposeArray(benchmark::State& st) {
  EnsureInit();
  int32 es = int32(st.range(0));
  UHandle h = Square(es);
  UHandle scratch = nullptr;
  for (auto _ : st) {
    if (TransposeArray(h, &scratch, es, 8) != kNoErr) st.SkipWithError("transpose failed");
    benchmark::DoNotOptimize(*h);
  }
  if (scratch) DSDisposeHandle(scratch);
  DSDisposeHandle(h);
}
BENCHMARK(BM_TransposeArray)->Arg(4)->Arg(8);

template <class T>
void TransposeLoop(benchmark::State& st) {
  std::vector<T> a(size_t(kSide) * kSide);
  std::iota(a.begin(), a.end(), T(0));
  for (auto _ : st) {
    std::unique_ptr<T[]> tmp(new T[a.size()]);
    for (size_t i = 0; i < size_t(kSide); ++i)
      for (size_t j = 0; j < size_t(kSide); ++j) tmp[j * kSide + i] = a[i * kSide + j];
    std::memcpy(a.data(), tmp.get(), a.size() * sizeof(T));
    benchmark::DoNotOptimize(a.data());
  }
}
void BM_TransposeLoopI32(benchmark::State& st) { TransposeLoop<int32>(st); }
void BM_TransposeLoopDBL(benchmark::State& st) { TransposeLoop<double>(st); }
BENCHMARK(BM_TransposeLoopI32);
BENCHMARK(BM_TransposeLoopDBL);

void BM_RotateArray(benchmark::State& st) {
  EnsureInit();
  std::vector<int32> v(kCount);
  std::iota(v.begin(), v.end(), 0);
  int32 shift = int32(st.range(0) == 1 ? 1 : kCount / 3);
  for (auto _ : st) {
    if (RotateArray(shift, kCount, v.data(), 4) != kNoErr) st.SkipWithError("rotate failed");
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_RotateArray)->Arg(1)->Arg(3);

void BM_StdRotate(benchmark::State& st) {
  std::vector<int32> v(kCount);
  std::iota(v.begin(), v.end(), 0);
  size_t shift = st.range(0) == 1 ? 1 : size_t(kCount / 3);
  for (auto _ : st) {
    std::rotate(v.begin(), v.end() - ptrdiff_t(shift), v.end());
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_StdRotate)->Arg(1)->Arg(3);

void BM_ReverseArray(benchmark::State& st) {
  std::vector<int32> v(kCount);
  std::iota(v.begin(), v.end(), 0);
  for (auto _ : st) {
    ReverseArray(kCount, v.data(), 4);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_ReverseArray);

void BM_StdReverse(benchmark::State& st) {
  std::vector<int32> v(kCount);
  std::iota(v.begin(), v.end(), 0);
  for (auto _ : st) {
    std::reverse(v.begin(), v.end());
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_StdReverse);

void BM_InitArray(benchmark::State& st) {
  EnsureInit();
  UHandle td = DSNewHClr(4);
  const TypeDescriptor* dbl = StdTDTable[kTDDBL];
  std::memcpy(*td, dbl, 4);
  UHandle h = nullptr;
  double value = 1.5;
  int32 count = kCount;
  for (auto _ : st) {
    if (InitArray(td, 0, &value, &h, 1, &count) != kNoErr) st.SkipWithError("init failed");
    benchmark::DoNotOptimize(*h);
  }
  DSDisposeHandle(h);
  DSDisposeHandle(td);
}
BENCHMARK(BM_InitArray);

void BM_StdFill(benchmark::State& st) {
  std::vector<double> v(kCount);
  for (auto _ : st) {
    std::fill(v.begin(), v.end(), 1.5);
    benchmark::DoNotOptimize(v.data());
  }
}
BENCHMARK(BM_StdFill);

}  // namespace
