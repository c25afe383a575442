// A GPIB call through the driver binding against the same call made straight
// into the driver library: ibwait(board, 0), which only reports the board's
// status.  Each iteration times a batch of each, one after the other, so that
// a busy machine slows both alike; x_straight is the bound batches' time over
// the straight ones'.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <chrono>
#include <cstring>
#include <mutex>

#include "io/gpib.h"
#include "io/gpibsup.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"

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

// A "*IDN?" query of a simulated meter: the diagram's write and read
// (phase 0: binding, unit, descriptor cache, handle sizes) against ibwrt and
// ibrd called straight into the library on a descriptor of its own.
void BM_GPIBQueryDiagramVsStraight(benchmark::State& st) {
  static std::once_flag once;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
  });
  GPIBSetLibraryForTest(QX_GPIB_LIB);
  auto control = reinterpret_cast<QXGPIBTestControlProc>(GetGPIBEntry(kQXGPIBTestControlExport));
  using Rw = int32(QX_GPIB_CALL*)(int32, void*, int32);
  auto wrt = reinterpret_cast<Rw>(GetGPIBEntry("ibwrt"));
  auto rd = reinterpret_cast<Rw>(GetGPIBEntry("ibrd"));
  auto dev = reinterpret_cast<int32(QX_GPIB_CALL*)(int32, int32, int32, int32, int32, int32)>(GetGPIBEntry("ibdev"));
  if (!control || !wrt || !rd || !dev || control(kQXGPIBApplyLine, "device 0:5 idn=\"QX Meter 1\"", nullptr, 0)) {
    st.SkipWithError("no GPIB driver library");
    return;
  }
  GPIBCallRec rec{};
  LStrHandle query = reinterpret_cast<LStrHandle>(DSNewHandle(4 + 5));
  (*query)->cnt = 5;
  std::memcpy((*query)->str, "*IDN?", 5);
  LStrHandle reply = reinterpret_cast<LStrHandle>(DSNewHandle(4));
  (*reply)->cnt = 0;
  TradGPIBWrite(0, 5, query, kGPIBDefaultLimit, 2, nullptr, &rec);  // opens the board and the device
  TradGPIBRead(0, 5, reply, kGPIBDefaultLimit, 0, 100, nullptr, &rec);
  int32 ud = dev(0, 5, 0, 13, 1, 0);
  char buf[100];
  using Clock = std::chrono::steady_clock;
  Clock::duration straight{}, diagram{};
  bool ok = true;
  for (auto _ : st) {
    auto t0 = Clock::now();
    for (int i = 0; i < kBatch / 16; ++i) {
      wrt(ud, const_cast<char*>("*IDN?\n"), 6);
      rd(ud, buf, 100);
    }
    auto t1 = Clock::now();
    for (int i = 0; i < kBatch / 16; ++i) {
      TradGPIBWrite(0, 5, query, kGPIBDefaultLimit, 2, nullptr, &rec);
      TradGPIBRead(0, 5, reply, kGPIBDefaultLimit, 0, 100, nullptr, &rec);
    }
    auto t2 = Clock::now();
    ok = ok && rec.error == 0 && (*reply)->cnt == 11;
    straight += t1 - t0;
    diagram += t2 - t1;
  }
  if (!ok) st.SkipWithError("the query failed");
  DSDisposeHandle(reinterpret_cast<UHandle>(query));
  DSDisposeHandle(reinterpret_cast<UHandle>(reply));
  double ns = std::chrono::duration<double, std::nano>(straight).count();
  double nd = std::chrono::duration<double, std::nano>(diagram).count();
  double queries = double(st.iterations()) * (kBatch / 16);
  st.counters["ns_straight"] = queries ? ns / queries : 0;
  st.counters["ns_diagram"] = queries ? nd / queries : 0;
  st.counters["x_straight"] = ns > 0 ? nd / ns : 0;
}
BENCHMARK(BM_GPIBQueryDiagramVsStraight);

}  // namespace
