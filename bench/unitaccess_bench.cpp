// Uncontended unit access: one clump acquires and releases a unit (the
// standard record, with its mutex, used where the caller runs), against a
// std::mutex lock and unlock.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <mutex>

#include "io/unitaccess.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"

namespace {

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    BenchMemInit();
    BenchThInit();
  });
}

void BM_UnitAccessAcquireRelease(benchmark::State& state) {
  StartOnce();
  UnitAccessRec* unit = AllocStdUnitAccessRec(-1);
  QueueElement e{};
  e.signature = kQueueElementSig;
  for (auto _ : state) {
    benchmark::DoNotOptimize(UnitAccess(unit, &e, kUnitAcquire));
    benchmark::DoNotOptimize(UnitAccess(unit, &e, kUnitRelease));
  }
  DisposeUnitAccessRec(unit);
}
BENCHMARK(BM_UnitAccessAcquireRelease);

void BM_StdMutexLockUnlock(benchmark::State& state) {
  std::mutex m;
  for (auto _ : state) {
    m.lock();
    benchmark::DoNotOptimize(&m);
    m.unlock();
  }
}
BENCHMARK(BM_StdMutexLockUnlock);

}  // namespace
