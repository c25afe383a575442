// Threshold and interpolation over 1,000,000 doubles, against plain loops
// over a std::vector of doubles and of {x, y} pairs; history copies of
// 1,000-point blocks of 16-byte points into a 10,000-point history, against
// a ring buffer filled with at most two memcpy calls.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "rtlib/chartdata.h"

namespace {

constexpr int32 kN = 1000000;

struct Arrays {
  UHandle plain;               // y[i] = i
  UHandle points;              // (i, i), packed
  std::vector<double> y;
  std::vector<std::pair<double, double>> xy;
};

const Arrays& TheArrays() {
  static Arrays a = [] {
    BenchMemInit();
    BenchSupportInit();
    Arrays a;
    a.plain = DSNewHandle(4 + 8 * kN);
    a.points = DSNewHandle(4 + 16 * kN);
    PutNative32(*a.plain, kN);
    PutNative32(*a.points, kN);
    for (int32 i = 0; i < kN; ++i) {
      double v = i;
      std::memcpy(*a.plain + 4 + 8 * i, &v, 8);
      std::memcpy(*a.points + 4 + 16 * i, &v, 8);
      std::memcpy(*a.points + 12 + 16 * i, &v, 8);
      a.y.push_back(v);
      a.xy.emplace_back(v, v);
    }
    return a;
  }();
  return a;
}

const double kLevel = kN - 10.5;

void BM_RTThreshold(benchmark::State& st) {
  const Arrays& a = TheArrays();
  double r = 0;
  for (auto _ : st) {
    RTThreshold(kTDDBL << 16, a.plain, 0, &kLevel, &r);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RTThreshold);

// The reference: the first element at or above the level, then the fraction.
void BM_ThresholdReference(benchmark::State& st) {
  const Arrays& a = TheArrays();
  for (auto _ : st) {
    const std::vector<double>& y = a.y;
    size_t k = 1;
    while (k < y.size() && !(kLevel <= y[k])) ++k;
    double r = k == y.size() ? double(k - 1) : (k - 1) + (kLevel - y[k - 1]) / (y[k] - y[k - 1]);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ThresholdReference);

void BM_RTInterpolatePoints(benchmark::State& st) {
  const Arrays& a = TheArrays();
  double r = 0;
  for (auto _ : st) {
    RTInterpolate(kTDDBL << 16 | kTDDBL, a.points, &kLevel, &r);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RTInterpolatePoints);

void BM_InterpolateReference(benchmark::State& st) {
  const Arrays& a = TheArrays();
  for (auto _ : st) {
    const auto& p = a.xy;
    double x = kLevel, r = p.back().second;
    if (x > p[0].first) {
      for (size_t k = 1; k < p.size(); ++k) {
        if (x <= p[k].first) {
          r = p[k - 1].second + (x - p[k - 1].first) / (p[k].first - p[k - 1].first) * (p[k].second - p[k - 1].second);
          break;
        }
      }
    } else {
      r = p[0].second;
    }
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_InterpolateReference);

constexpr int32 kCap = 10000, kBlock = 1000, kPoint = 16;

void BM_Copy1DToChartHistory(benchmark::State& st) {
  TheArrays();
  std::vector<uChar> src(size_t(kBlock * kPoint), 7);
  ChartHistory h{};
  h.buffer = DSNewHClr(8 + kCap * kPoint);
  PutNative32(*h.buffer, kCap);
  h.writePos = 333;  // blocks that wrap now and then
  for (auto _ : st) {
    Copy1DToChartHistory(kPoint, 8, src.data(), kBlock, &h);
    benchmark::DoNotOptimize(*h.buffer);
  }
  DSDisposeHandle(h.buffer);
}
BENCHMARK(BM_Copy1DToChartHistory);

// The ring starts `misalign` bytes past a 64-byte boundary: 0 for a plain
// vector, or where the history's points start inside its handle, so that
// the two runs copy to the same alignment.
void RingReference(benchmark::State& st, size_t misalign) {
  std::vector<uChar> src(size_t(kBlock * kPoint), 7), store(size_t(kCap * kPoint) + 128);
  uChar* ring = store.data() + (64 - reinterpret_cast<uintptr_t>(store.data()) % 64) % 64 + misalign;
  size_t w = 333, valid = 0, total = 0;
  for (auto _ : st) {
    size_t first = std::min<size_t>(kCap - w, kBlock);
    std::memcpy(ring + w * kPoint, src.data(), first * kPoint);
    std::memcpy(ring, src.data() + first * kPoint, (kBlock - first) * kPoint);
    w = (w + kBlock) % kCap;
    valid = std::min<size_t>(valid + kBlock, kCap);
    total += kBlock;
    benchmark::DoNotOptimize(ring);
    benchmark::DoNotOptimize(valid);
  }
  benchmark::DoNotOptimize(total);
}
void BM_RingReference(benchmark::State& st) { RingReference(st, 0); }
BENCHMARK(BM_RingReference);
void BM_RingReferenceHistoryAlignment(benchmark::State& st) {
  TheArrays();
  UHandle probe = DSNewHClr(8 + kCap * kPoint);
  size_t misalign = reinterpret_cast<uintptr_t>(*probe + 8) % 64;
  DSDisposeHandle(probe);
  RingReference(st, misalign);
  st.counters["misalign"] = double(misalign);
}
BENCHMARK(BM_RingReferenceHistoryAlignment);

}  // namespace
