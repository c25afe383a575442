// Handle allocation on several threads while another thread reads the
// allocator's statistics, shrinks the pool or checks the heap: the take-back of
// the threads' caches that each of these does never fails an allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "mgsource/pool.h"
#include "test_support.h"

namespace {

struct StatsCall {
  const char* name;
  void (*call)();
};

const StatsCall kStatsCalls[] = {
    {"PoolBlockCount", [] { (void)PoolBlockCount(PoolInitDefault()); }},
    {"PoolShrink", [] { (void)PoolShrink(PoolInitDefault()); }},
    {"DSHeapCheck", [] { (void)DSHeapCheck(0); }},
    {"PoolSize", [] { (void)PoolSize(PoolInitDefault()); }},
    {"AZMemStats",
     [] {
       MemStatsRecord r;
       (void)AZMemStats(&r);
     }},
};

TEST(AllocStatsThreads, NoAllocationFailsWhileStatisticsTakeCachesBack) {
  EnsureMemInit();
  const int kThreads = 4, kRounds = Scaled(50000);
  for (const StatsCall& s : kStatsCalls) {
    SCOPED_TRACE(s.name);
    MemFullReset();
    std::atomic<int> nulls{0};
    std::atomic<int> running{kThreads};
    std::vector<std::thread> ts;
    for (int t = 0; t < kThreads; ++t)
      ts.emplace_back([&, t] {
        std::vector<UHandle> live;
        for (int i = 0; i < kRounds; ++i) {
          bool ds = (i + t) & 1;
          int32 n = int32((i * 7 + t) % 40);
          UHandle h = ds ? DSNewHandle(n) : AZNewHandle(n);
          if (!h) {
            nulls.fetch_add(1, std::memory_order_relaxed);
            continue;
          }
          live.push_back(h);
          // Some hundred live at a time: disposing them fills the caches
          // beyond one batch, and making them empties the caches again.
          if (live.size() > 300) {
            for (UHandle v : live) (MemIsDSHandle(v) ? DSDisposeHandle : AZDisposeHandle)(v);
            live.clear();
          }
        }
        for (UHandle v : live) (MemIsDSHandle(v) ? DSDisposeHandle : AZDisposeHandle)(v);
        running.fetch_sub(1);
      });
    std::thread stats([&] {
      while (running.load() > 0) s.call();
    });
    for (auto& t : ts) t.join();
    stats.join();
    EXPECT_EQ(nulls.load(), 0);
    EXPECT_EQ(MemFullPending(nullptr), 0) << "no memory-full condition recorded";
    MemFullReset();
  }
}

// At the pool's ceiling a zone whose free chain is empty takes the master
// pointers that another live thread keeps in its cache before it fails.
TEST(AllocStatsThreads, ZoneAtCeilingTakesMasterPointersFromAnotherThreadsCache) {
  EnsureMemInit();
  MemPool* pool = PoolInitDefault();
  int32 nFree = 0;
  MemZoneCounts(1, nullptr, &nFree);  // every cache back in the chain first
  // A thread leaves master pointers of the data zone in its cache and waits.
  std::promise<void> filled, done;
  std::thread keeper([&] {
    std::vector<UHandle> v;
    for (int i = 0; i < 64; ++i) v.push_back(DSNewHandle(0));
    for (UHandle h : v) DSDisposeHandle(h);
    filled.set_value();
    done.get_future().wait();
  });
  filled.get_future().wait();
  // Slots enough for every handle's block, then a ceiling that leaves no room
  // for another master-pointer block.
  uInt32 floor = PoolSetFloor(pool, 0xFFFFFFF0u);
  std::vector<UPtr> warm;
  for (int32 i = 0; i < nFree + 256; ++i) warm.push_back(DSNewPtr(16));
  for (UPtr p : warm) DSDisposePtr(p);
  PoolSetCeiling(pool, PoolSize(pool));
  MemFullReset();
  std::vector<UHandle> mine;
  while (UHandle h = DSNewHandle(0)) mine.push_back(h);
  EXPECT_EQ(int32(mine.size()), nFree) << "the other thread's cached master pointers were used too";
  int32 rec[4] = {};
  EXPECT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(rec[1], 40004) << "the failure is the master-pointer block's";
  PoolSetCeiling(pool, kPoolNoCeiling);
  for (UHandle h : mine) DSDisposeHandle(h);
  PoolSetFloor(pool, floor);
  MemFullReset();
  done.set_value();
  keeper.join();
}

}  // namespace
