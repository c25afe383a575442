// A GPIB call through the driver binding against the same call made straight
// into the driver library: ibwait(board, 0), which only reports the board's
// status.  Each iteration times a batch of each, one after the other, so that
// a busy machine slows both alike; x_straight is the bound batches' time over
// the straight ones'.
#include <benchmark/benchmark.h>

#include <chrono>

#include "io/gpib.h"

namespace {

constexpr int kBatch = 256;

void BM_GPIBWaitBoundVsStraight(benchmark::State& st) {
  GPIBSetLibraryForTest(QX_GPIB_LIB);
  auto wait = reinterpret_cast<int32(QX_GPIB_CALL*)(int32, int32)>(GetGPIBEntry("ibwait"));
  if (!wait || (ibwait(0, 0) & kGpibERR)) {
    st.SkipWithError("no GPIB driver library");
    return;
  }
  using Clock = std::chrono::steady_clock;
  Clock::duration straight{}, bound{};
  for (auto _ : st) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(wait(0, 0));
    auto t1 = Clock::now();
    for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(ibwait(0, 0));
    auto t2 = Clock::now();
    straight += t1 - t0;
    bound += t2 - t1;
  }
  double calls = double(st.iterations()) * kBatch;
  double ns = std::chrono::duration<double, std::nano>(straight).count();
  double nb = std::chrono::duration<double, std::nano>(bound).count();
  st.counters["ns_straight"] = calls ? ns / calls : 0;
  st.counters["ns_bound"] = calls ? nb / calls : 0;
  st.counters["x_straight"] = ns > 0 ? nb / ns : 0;
}
BENCHMARK(BM_GPIBWaitBoundVsStraight);

}  // namespace
