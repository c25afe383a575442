// A GPIB call through the driver binding against the same call made straight
// into the driver library: ibwait(board, 0), which only reports the board's
// status.  The bound call's ratio to the straight one is x_straight.
#include <benchmark/benchmark.h>

#include <chrono>

#include "io/gpib.h"

namespace {

double gStraightNs = 0;

double NsPerCall(std::chrono::steady_clock::time_point start, benchmark::State& st) {
  double total = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  return st.iterations() ? total / double(st.iterations()) : 0;
}

void BM_GPIBWaitStraight(benchmark::State& st) {
  GPIBSetLibraryForTest(QX_GPIB_LIB);
  auto wait = reinterpret_cast<int32(QX_GPIB_CALL*)(int32, int32)>(GetGPIBEntry("ibwait"));
  if (!wait) {
    st.SkipWithError("no GPIB driver library");
    return;
  }
  auto start = std::chrono::steady_clock::now();
  for (auto _ : st) benchmark::DoNotOptimize(wait(0, 0));
  gStraightNs = NsPerCall(start, st);
  st.counters["ns_per_call"] = gStraightNs;
}
BENCHMARK(BM_GPIBWaitStraight);

void BM_GPIBWaitBound(benchmark::State& st) {
  GPIBSetLibraryForTest(QX_GPIB_LIB);
  if (ibwait(0, 0) & kGpibERR) {
    st.SkipWithError("no GPIB driver library");
    return;
  }
  auto start = std::chrono::steady_clock::now();
  for (auto _ : st) benchmark::DoNotOptimize(ibwait(0, 0));
  double ns = NsPerCall(start, st);
  st.counters["ns_per_call"] = ns;
  if (gStraightNs > 0) st.counters["x_straight"] = ns / gStraightNs;
}
BENCHMARK(BM_GPIBWaitBound);

}  // namespace
