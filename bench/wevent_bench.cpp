// The window manager's event queue against its baseline, in one run: a burst
// of 64 events posted and then drained, against a std::deque of the same
// records under a std::mutex (the bar is 2x).  The ratio is reported as a
// counter of the queue's run.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <chrono>
#include <deque>
#include <mutex>

#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"

namespace {

constexpr int kBurst = 64;
double gBaselineNs = 0;

bool QueueReady() {
  static const bool ready = [] {
    BenchMemInit();
    BenchThInit();
    if (BenchEventQueue() != kNoErr) return false;
    WEventSetGate(1);
    WEventSetLoopState(1, 0);
    return true;
  }();
  return ready;
}

WEventRecord Event(int32 i) {
  WEventRecord e{};
  e.code = kWEvUser;
  e.window = kWRootWindow;
  e.where = i;
  return e;
}

void BM_EventBurstDequeBaseline(benchmark::State& st) {
  std::deque<std::pair<int32, WEventRecord>> q;
  std::mutex m;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kBurst; ++i) {
      const WEventRecord e = Event(i);
      std::lock_guard<std::mutex> g(m);
      q.emplace_back(kWPriorityAnyLevel, e);
    }
    int32 sum = 0;
    for (;;) {
      std::lock_guard<std::mutex> g(m);
      if (q.empty()) break;
      sum += q.front().second.where;
      q.pop_front();
    }
    benchmark::DoNotOptimize(sum);
  }
  gBaselineNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                double(st.iterations());
}
BENCHMARK(BM_EventBurstDequeBaseline);

void BM_EventBurst(benchmark::State& st) {
  if (!QueueReady()) return st.SkipWithError("no event queue");
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kBurst; ++i) {
      const WEventRecord e = Event(i);
      WPostEvent(&e, 0, kWPostAnyLevel);
    }
    int32 sum = 0;
    WEventRecord e;
    while (WGetNextEvent(&e)) sum += e.where;
    benchmark::DoNotOptimize(sum);
  }
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                    double(st.iterations());
  if (gBaselineNs > 0) st.counters["ratio"] = ns / gBaselineNs;
}
BENCHMARK(BM_EventBurst);

}  // namespace
