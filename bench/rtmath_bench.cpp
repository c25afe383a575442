// Double-precision run-time functions called through a function pointer as
// compiled code calls them (arguments pushed by address, cdecl, from a stack
// aligned to 4 bytes only), against a plain loop over the C library's
// functions on the same 1,000,000 values.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "rtlib/rtmath.h"

namespace {

constexpr size_t kValues = 1000000;

struct Values {
  std::vector<double> x;  // 0.001 to 100, the domain of every function here
  std::vector<double> y;  // exponents for Powx, -3 to 3
  std::vector<double> out;
};

const Values& TheValues() {
  static Values v = [] {
    // The special values the members return are made at start-up.
    MemInit();
    SupportInit();
    Values v;
    std::mt19937_64 rng(101);
    std::uniform_real_distribution<double> x(0.001, 100), y(-3, 3);
    for (size_t i = 0; i < kValues; ++i) {
      v.x.push_back(x(rng));
      v.y.push_back(y(rng));
    }
    v.out.resize(kValues);
    return v;
  }();
  return v;
}

// The routine's address and its argument words, as compiled code has them.
struct CallFrame {
  const void* routine;
  const void* args[3];
};

// Pushes the words right to left onto a stack that is 4-byte aligned but not
// 16-byte aligned, calls the routine and removes the words.
inline void CallAsCode2(const CallFrame* f) {
  __asm__ __volatile__(
      "pushl 8(%0)\n\t"
      "pushl 4(%0)\n\t"
      "call *(%0)\n\t"
      "addl $8, %%esp"
      :
      : "r"(f)
      : "eax", "ecx", "edx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
}
inline void CallAsCode3(const CallFrame* f) {
  __asm__ __volatile__(
      "pushl 12(%0)\n\t"
      "pushl 8(%0)\n\t"
      "pushl 4(%0)\n\t"
      "call *(%0)\n\t"
      "addl $12, %%esp"
      :
      : "r"(f)
      : "eax", "ecx", "edx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
}

void RunUnary(benchmark::State& st, void (*fn)(const float64*, float64*)) {
  Values& v = const_cast<Values&>(TheValues());
  for (auto _ : st) {
    CallFrame f = {reinterpret_cast<const void*>(fn), {}};
    for (size_t i = 0; i < kValues; ++i) {
      f.args[0] = &v.x[i];
      f.args[1] = &v.out[i];
      CallAsCode2(&f);
    }
    benchmark::DoNotOptimize(v.out.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(kValues));
}

template <class F>
void RunBaseline(benchmark::State& st, F f) {
  Values& v = const_cast<Values&>(TheValues());
  for (auto _ : st) {
    for (size_t i = 0; i < kValues; ++i) v.out[i] = f(v.x[i], v.y[i]);
    benchmark::DoNotOptimize(v.out.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(kValues));
}

void BM_RTfSinD(benchmark::State& st) { RunUnary(st, &RTfSinD); }
void BM_StdSin(benchmark::State& st) {
  RunBaseline(st, [](double x, double) { return std::sin(x); });
}
void BM_RTfExpD(benchmark::State& st) { RunUnary(st, &RTfExpD); }
void BM_StdExp(benchmark::State& st) {
  RunBaseline(st, [](double x, double) { return std::exp(x); });
}
void BM_RTfLognD(benchmark::State& st) { RunUnary(st, &RTfLognD); }
void BM_StdLog(benchmark::State& st) {
  RunBaseline(st, [](double x, double) { return std::log(x); });
}
void BM_RTfRoundD(benchmark::State& st) { RunUnary(st, &RTfRoundD); }
void BM_StdNearbyint(benchmark::State& st) {
  RunBaseline(st, [](double x, double) { return std::nearbyint(x); });
}
void BM_RTfPowxD(benchmark::State& st) {
  Values& v = const_cast<Values&>(TheValues());
  for (auto _ : st) {
    CallFrame f = {reinterpret_cast<const void*>(&RTfPowxD), {}};
    for (size_t i = 0; i < kValues; ++i) {
      f.args[0] = &v.x[i];
      f.args[1] = &v.y[i];
      f.args[2] = &v.out[i];
      CallAsCode3(&f);
    }
    benchmark::DoNotOptimize(v.out.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(kValues));
}
void BM_StdPow(benchmark::State& st) {
  RunBaseline(st, [](double x, double y) { return std::pow(x, y); });
}

BENCHMARK(BM_RTfSinD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTfExpD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdExp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTfLognD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTfPowxD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdPow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTfRoundD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdNearbyint)->Unit(benchmark::kMillisecond);

}  // namespace
