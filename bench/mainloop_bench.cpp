// The idle main loop's wake-up against its baseline, in one run: another
// thread posts an event, the sleeping loop wakes, takes it and dispatches it
// to a handler that signals back; against an eventfd ping-pong between the
// same two threads (the bar is 4x).  The ratio is reported as a counter of
// the loop's run.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"

namespace {

double gBaselineNs = 0;
int gBack = -1;  // the handler's answer

void Signal(int fd) {
  const uint64_t one = 1;
  if (write(fd, &one, sizeof one) != sizeof one) std::abort();
}

void Await(int fd) {
  uint64_t v;
  if (read(fd, &v, sizeof v) != sizeof v) std::abort();
}

void BM_WakeUpEventfdBaseline(benchmark::State& st) {
  const int ping = eventfd(0, 0), pong = eventfd(0, 0);
  std::thread other([&] {
    for (;;) {
      uint64_t v;
      if (read(ping, &v, sizeof v) != sizeof v || v > 1) break;
      Signal(pong);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    Signal(ping);
    Await(pong);
  }
  gBaselineNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                double(st.iterations());
  const uint64_t stop = 2;
  if (write(ping, &stop, sizeof stop) != sizeof stop) std::abort();
  other.join();
  close(ping);
  close(pong);
}
BENCHMARK(BM_WakeUpEventfdBaseline)->UseRealTime();

constexpr int32 kPing = -1000, kStop = -1001;

int32 Answer(WEventRecord* e, uInt32) {
  if (e->code == kStop) WQuitNestedMainLoop();
  else Signal(gBack);
  return 0;
}

void BM_IdleLoopWakeUp(benchmark::State& st) {
  static const bool ready = [] {
    BenchMemInit();
    BenchThInit();
    if (BenchEventQueue() != kNoErr) return false;
    WEventSetGate(1);
    return true;
  }();
  if (!ready) return st.SkipWithError("no event queue");
  gBack = eventfd(0, 0);
  const Rect none{0, 0, 0, 0};
  const WindowRef w = WCreate(kWStyleNoHost, nullptr, &Answer, &none, 0, 0, 0);
  std::thread ui([] { WMainLoop(1, 0); });
  WEventRecord e{};
  e.window = w;
  e.code = kPing;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : st) {
    WPostEvent(&e, 0, kWPostAnyLevel);
    Await(gBack);
  }
  const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                    double(st.iterations());
  e.code = kStop;
  WPostEvent(&e, 0, kWPostAnyLevel);
  ui.join();
  close(gBack);
  if (gBaselineNs > 0) st.counters["ratio"] = ns / gBaselineNs;
}
BENCHMARK(BM_IdleLoopWakeUp)->UseRealTime();

}  // namespace
