// The pool allocator and the memory manager against the C library's malloc.
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <cstdlib>
#include <mutex>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/pool.h"

namespace {

struct Init {
  Init() { BenchMemInit(); }
};
void EnsureInit() { static Init once; }

// A steady state keeps live blocks in the pages, as a running program does.
void* gKeepFixed = nullptr;
void* gKeepMedium = nullptr;
void KeepPagesAlive() {
  static std::once_flag once;
  std::call_once(once, [] {
    EnsureInit();
    gKeepFixed = PoolMalloc(16);
    gKeepMedium = PoolMalloc(32);
  });
}

void BM_PoolMallocFree16(benchmark::State& st) {
  KeepPagesAlive();
  for (auto _ : st) {
    void* p = PoolMalloc(16);
    benchmark::DoNotOptimize(p);
    PoolFree(p);
  }
}
BENCHMARK(BM_PoolMallocFree16);

void BM_MallocFree16(benchmark::State& st) {
  for (auto _ : st) {
    void* p = std::malloc(16);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(BM_MallocFree16);

void BM_PoolMallocFree16Batch1000(benchmark::State& st) {
  KeepPagesAlive();
  std::vector<void*> v(1000);
  for (auto _ : st) {
    for (auto& p : v) p = PoolMalloc(16);
    benchmark::DoNotOptimize(v.data());
    for (auto p : v) PoolFree(p);
  }
  st.SetItemsProcessed(st.iterations() * 1000);
}
BENCHMARK(BM_PoolMallocFree16Batch1000);

void BM_MallocFree16Batch1000(benchmark::State& st) {
  std::vector<void*> v(1000);
  for (auto _ : st) {
    for (auto& p : v) p = std::malloc(16);
    benchmark::DoNotOptimize(v.data());
    for (auto p : v) std::free(p);
  }
  st.SetItemsProcessed(st.iterations() * 1000);
}
BENCHMARK(BM_MallocFree16Batch1000);

void BM_AZNewDisposeHandle16(benchmark::State& st) {
  KeepPagesAlive();
  for (auto _ : st) {
    UHandle h = AZNewHandle(16);
    benchmark::DoNotOptimize(h);
    AZDisposeHandle(h);
  }
}
BENCHMARK(BM_AZNewDisposeHandle16);

void BM_DSNewDisposePtr16(benchmark::State& st) {
  KeepPagesAlive();
  for (auto _ : st) {
    UPtr p = DSNewPtr(16);
    benchmark::DoNotOptimize(p);
    DSDisposePtr(p);
  }
}
BENCHMARK(BM_DSNewDisposePtr16);

// Four threads, each making and freeing 16-byte blocks back to back.
void BM_PoolMallocFree16Threads(benchmark::State& st) {
  KeepPagesAlive();
  for (auto _ : st) {
    void* p = PoolMalloc(16);
    benchmark::DoNotOptimize(p);
    PoolFree(p);
  }
}
BENCHMARK(BM_PoolMallocFree16Threads)->Threads(4)->UseRealTime();

void BM_MallocFree16Threads(benchmark::State& st) {
  for (auto _ : st) {
    void* p = std::malloc(16);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(BM_MallocFree16Threads)->Threads(4)->UseRealTime();

}  // namespace
