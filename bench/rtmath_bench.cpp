// Double-precision real and complex run-time functions called through a function pointer as
// compiled code calls them (arguments pushed by address, cdecl, from a stack
// aligned to 4 bytes only), against a plain loop over the C library's
// functions (std::complex for the complex ones) on the same 1,000,000 values.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "rtlib/rtcomplex.h"
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
    BenchMemInit();
    BenchSupportInit();
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

// ------------------------------------------------------------ complex

struct ComplexValues {
  std::vector<ComplexD> z, w, out;
  std::vector<std::complex<double>> zc, wc, outc;
  std::vector<double> abs;
};

const ComplexValues& TheComplexValues() {
  static ComplexValues v = [] {
    TheValues();  // the managers' start-up
    ComplexValues v;
    std::mt19937_64 rng(103);
    std::uniform_real_distribution<double> u(-10, 10);
    for (size_t i = 0; i < kValues; ++i) {
      ComplexD z = {u(rng), u(rng)}, w = {u(rng), u(rng)};
      v.z.push_back(z);
      v.w.push_back(w);
      v.zc.emplace_back(z.re, z.im);
      v.wc.emplace_back(w.re, w.im);
    }
    v.out.resize(kValues);
    v.outc.resize(kValues);
    v.abs.resize(kValues);
    return v;
  }();
  return v;
}

template <class Out>
void RunComplex(benchmark::State& st, const void* fn, bool binary, std::vector<Out> ComplexValues::*out) {
  ComplexValues& v = const_cast<ComplexValues&>(TheComplexValues());
  Out* o = (v.*out).data();
  for (auto _ : st) {
    CallFrame f = {fn, {}};
    if (binary) {
      for (size_t i = 0; i < kValues; ++i) {
        f.args[0] = &v.z[i];
        f.args[1] = &v.w[i];
        f.args[2] = &o[i];
        CallAsCode3(&f);
      }
    } else {
      for (size_t i = 0; i < kValues; ++i) {
        f.args[0] = &v.z[i];
        f.args[1] = &o[i];
        CallAsCode2(&f);
      }
    }
    benchmark::DoNotOptimize(o);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(kValues));
}

template <class F>
void RunComplexBaseline(benchmark::State& st, F f) {
  ComplexValues& v = const_cast<ComplexValues&>(TheComplexValues());
  for (auto _ : st) {
    for (size_t i = 0; i < kValues; ++i) f(v, i);
    benchmark::DoNotOptimize(v.outc.data());
    benchmark::DoNotOptimize(v.abs.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(kValues));
}

void BM_RTcMulD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcMulD), true, &ComplexValues::out); }
void BM_StdComplexMul(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.outc[i] = v.zc[i] * v.wc[i]; });
}
void BM_RTcDivD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcDivD), true, &ComplexValues::out); }
void BM_StdComplexDiv(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.outc[i] = v.zc[i] / v.wc[i]; });
}
void BM_RTcExpD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcExpD), false, &ComplexValues::out); }
void BM_StdComplexExp(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.outc[i] = std::exp(v.zc[i]); });
}
void BM_RTcAbsD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcAbsD), false, &ComplexValues::abs); }
void BM_StdComplexAbs(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.abs[i] = std::abs(v.zc[i]); });
}
// Through polar form, reported without a bar.
void BM_RTcSqrtD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcSqrtD), false, &ComplexValues::out); }
void BM_StdComplexSqrt(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.outc[i] = std::sqrt(v.zc[i]); });
}
void BM_RTcLognD(benchmark::State& st) { RunComplex(st, reinterpret_cast<const void*>(&RTcLognD), false, &ComplexValues::out); }
void BM_StdComplexLog(benchmark::State& st) {
  RunComplexBaseline(st, [](ComplexValues& v, size_t i) { v.outc[i] = std::log(v.zc[i]); });
}

BENCHMARK(BM_RTcMulD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexMul)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTcDivD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexDiv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTcExpD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexExp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTcAbsD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexAbs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTcSqrtD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexSqrt)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RTcLognD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdComplexLog)->Unit(benchmark::kMillisecond);

}  // namespace
