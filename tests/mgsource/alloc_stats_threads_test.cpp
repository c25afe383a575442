// Handle allocation while other threads' caches are taken back: by the
// statistics calls, and at the pool's ceiling.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "mgsource/pool.h"
#include "test_support.h"

namespace {

void Dispose(std::vector<UHandle>& v) {
  for (UHandle h : v) (MemIsDSHandle(h) ? DSDisposeHandle : AZDisposeHandle)(h);
  v.clear();
}

// Four threads make and dispose handles of both zones (some hundred live, so
// that caches fill past a batch and empty again) while a fifth calls one of
// the statistics: no allocation fails and no memory-full is recorded.
TEST(AllocStatsThreads, NoAllocationFailsWhileStatisticsTakeCachesBack) {
  EnsureMemInit();
  void (*const calls[])() = {
      [] { PoolBlockCount(PoolInitDefault()); }, [] { PoolShrink(PoolInitDefault()); }, [] { DSHeapCheck(0); },
      [] { PoolSize(PoolInitDefault()); },       [] { MemStatsRecord r; AZMemStats(&r); }};
  for (auto call : calls) {
    MemFullReset();
    std::atomic<int> nulls{0}, running{4};
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
      ts.emplace_back([&, t] {
        std::vector<UHandle> live;
        for (int i = 0; i < Scaled(50000); ++i) {
          UHandle h = (i + t) & 1 ? DSNewHandle(i % 40) : AZNewHandle(i % 40);
          if (!h) ++nulls;
          else live.push_back(h);
          if (live.size() > 300) Dispose(live);
        }
        Dispose(live);
        --running;
      });
    std::thread stats([&] { while (running > 0) call(); });
    for (auto& t : ts) t.join();
    stats.join();
    EXPECT_EQ(nulls.load(), 0);
    EXPECT_EQ(MemFullPending(nullptr), 0);
  }
}

// A one-way signal between two threads that Helgrind follows (a future's
// wait is a futex it does not see).
class Signal {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(m_);
    set_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [this] { return set_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

// With the pool at its ceiling and the zone's chain empty, the master
// pointers another live thread caches are used before an allocation fails.
TEST(AllocStatsThreads, ZoneAtCeilingTakesMasterPointersFromAnotherThreadsCache) {
  EnsureMemInit();
  MemPool* pool = PoolInitDefault();
  int32 nFree = 0;
  MemZoneCounts(1, nullptr, &nFree);  // every cache back in the chain first
  Signal filled, done;
  std::thread keeper([&] {
    std::vector<UHandle> v;
    for (int i = 0; i < 64; ++i) v.push_back(DSNewHandle(0));
    Dispose(v);
    filled.Set();
    done.Wait();
  });
  filled.Wait();
  // Slots for every handle's block, then no room for a master-pointer block.
  uInt32 floor = PoolSetFloor(pool, 0xFFFFFFF0u);
  std::vector<UPtr> warm;
  for (int32 i = 0; i < nFree + 256; ++i) warm.push_back(DSNewPtr(16));
  for (UPtr p : warm) DSDisposePtr(p);
  PoolSetCeiling(pool, PoolSize(pool));
  MemFullReset();
  std::vector<UHandle> mine;
  while (UHandle h = DSNewHandle(0)) mine.push_back(h);
  EXPECT_EQ(int32(mine.size()), nFree);
  int32 rec[4] = {};
  EXPECT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(rec[1], 40004) << "the master-pointer block's failure";
  PoolSetCeiling(pool, kPoolNoCeiling);
  Dispose(mine);
  PoolSetFloor(pool, floor);
  MemFullReset();
  done.Set();
  keeper.join();
}

}  // namespace
