// The threads' caches of small blocks and master pointers: exact statistics
// while they hold blocks, take-back by shrinking, disposing and allocations
// that would fail, blocks crossing threads, and the refusal of blocks that
// sit in a cache.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "mgsource/pool.h"
#include "mgsource/tcache.h"
#include "test_support.h"

namespace {

// The sanitizer build asks for this many bytes more for every medium block.
#if defined(QX_SANITIZE)
constexpr uInt32 kRedzone = 16;
#else
constexpr uInt32 kRedzone = 0;
#endif

// Runs body on a thread of its own and waits at the gate until the test opens
// it, so that the thread's caches stay filled while the test looks.
class Parked {
 public:
  explicit Parked(std::function<void()> body, std::function<void()> after = {})
      : t_([this, body, after] {
          body();
          {
            std::unique_lock<std::mutex> g(m_);
            ready_ = true;
            cv_.notify_all();
            cv_.wait(g, [this] { return open_; });
          }
          if (after) after();
        }) {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait(g, [this] { return ready_; });
  }
  void Finish() {
    {
      std::lock_guard<std::mutex> g(m_);
      open_ = true;
      cv_.notify_all();
    }
    t_.join();
  }
  ~Parked() {
    if (t_.joinable()) Finish();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool ready_ = false;
  bool open_ = false;
  std::thread t_;
};

TEST(PoolCacheThreads, StatisticsAreExactWhileCachesHoldBlocks) {
  EnsureMemInit();
  MemPool* pool = PoolInitDefault();
  const int32 base = PoolBlockCount(pool);
  int32 blocks0 = 0, free0 = 0;
  MemZoneCounts(1, &blocks0, &free0);
  const int kThreads = 4, kMade = Scaled(1000), kFreed = kMade * 3 / 5;
  std::vector<std::vector<void*>> blocks(kThreads);
  std::vector<std::vector<UHandle>> handles(kThreads);
  std::atomic<bool> bad{false};
  {
    std::vector<std::unique_ptr<Parked>> ts;
    for (int t = 0; t < kThreads; ++t)
      ts.push_back(std::make_unique<Parked>(
          [&, t] {
            for (int i = 0; i < kMade; ++i) {
              void* p = PoolMalloc(1 + uInt32(i % 16));
              UHandle h = DSNewHandle(i % 40);
              if (!p || !h) bad = true;
              blocks[t].push_back(p);
              handles[t].push_back(h);
            }
            for (int i = 0; i < kFreed; ++i) {
              if (PoolFree(blocks[t].back()) != 1 || DSDisposeHandle(handles[t].back()) != kNoErr) bad = true;
              blocks[t].pop_back();
              handles[t].pop_back();
            }
          },
          [&, t] {
            for (void* p : blocks[t]) PoolFree(p);
            for (UHandle h : handles[t]) DSDisposeHandle(h);
          }));
    ASSERT_FALSE(bad.load());
    EXPECT_GT(PoolCachedBlockCount(pool), 0) << "the threads keep freed blocks";
    const int32 live = kThreads * (kMade - kFreed);
    int32 blocks1 = 0, free1 = 0;
    MemZoneCounts(1, &blocks1, &free1);
    EXPECT_EQ(free1 + live, free0 + 10000 * (blocks1 - blocks0)) << "cached master pointers count as free";
    // Each live block, each live handle's block, and any new master-pointer block.
    EXPECT_EQ(PoolBlockCount(pool), base + 2 * live + (blocks1 - blocks0));
    EXPECT_EQ(PoolCachedBlockCount(pool), 0) << "counting took the caches back";
    // The threads free the rest, keep some in their caches, and end.
    for (auto& t : ts) t->Finish();
  }
  EXPECT_EQ(PoolCachedBlockCount(pool), 0) << "an ending thread gives its cache back";
  int32 blocks2 = 0, free2 = 0;
  MemZoneCounts(1, &blocks2, &free2);
  EXPECT_EQ(free2, free0 + 10000 * (blocks2 - blocks0));
  EXPECT_EQ(PoolBlockCount(pool), base + (blocks2 - blocks0));
  EXPECT_EQ(DSHeapCheck(0), kNoErr);
}

// Blocks of a pool of its own on each thread: the counts of that pool.
TEST(PoolCacheThreads, OwnPoolCountsAreExactWhileCachesHoldBlocks) {
  EnsureMemInit();
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  ASSERT_NE(pool, nullptr);
  std::vector<std::vector<void*>> blocks(4);
  {
    std::vector<std::unique_ptr<Parked>> ts;
    for (int t = 0; t < 4; ++t)
      ts.push_back(std::make_unique<Parked>(
          [&, t] {
            for (int i = 0; i < 1000; ++i) blocks[t].push_back(PoolAlloc(pool, 1 + uInt32(i % 40), 0));
            for (int i = 0; i < 600; ++i) {
              PoolFree(blocks[t].back());
              blocks[t].pop_back();
            }
          },
          [&, t] {
            for (void* p : blocks[t]) PoolFree(p);
          }));
    EXPECT_GT(PoolCachedBlockCount(pool), 0);
    EXPECT_EQ(PoolBlockCount(pool), 1600);
    PoolInfoRecord info;
    ASSERT_EQ(PoolInfo(pool, nullptr, &info), 1);
    EXPECT_EQ(info.kinds, 4 | 2);
    for (auto& t : ts) t->Finish();
  }
  EXPECT_EQ(PoolCachedBlockCount(pool), 0) << "an ending thread gives its cache back";
  EXPECT_EQ(PoolBlockCount(pool), 0);
  PoolDispose(pool);
}

TEST(PoolCacheThreads, ShrinkAndDisposeTakeOtherThreadsCachesBack) {
  EnsureMemInit();
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  uInt8* keep = static_cast<uInt8*>(PoolAlloc(pool, 16, 0));
  ASSERT_NE(keep, nullptr);
  std::memset(keep, 0x3C, 16);
  PoolReleaseThreadCaches();  // the slots cached with keep's go back
  const uInt32 oneLivePage = PoolSize(pool);
  {
    // Several pages' worth, all freed: what the thread's cache keeps holds
    // the last page, which only the cache keeps now.
    Parked t([&] {
      std::vector<void*> v;
      for (int i = 0; i < 3000; ++i) v.push_back(PoolAlloc(pool, 16, 0));
      for (void* p : v) PoolFree(p);
    });
    EXPECT_GT(PoolShrink(pool), 0u) << "the page the cache held is released";
    EXPECT_EQ(PoolSize(pool), oneLivePage) << "only the live block's page stays";
    EXPECT_EQ(PoolBlockCount(pool), 1);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(keep[i], 0x3C);
    t.Finish();
  }
  EXPECT_EQ(PoolFree(keep), 1);
  // Disposing with another thread's cache full: that thread goes on with
  // other pools and ends without touching the disposed one.
  std::atomic<bool> bad{false};
  {
    Parked t(
        [&] {
          std::vector<void*> v;
          for (int i = 0; i < 200; ++i) v.push_back(PoolAlloc(pool, 8 + uInt32(i % 60), 0));
          for (void* p : v) PoolFree(p);
        },
        [&] {
          void* p = PoolMalloc(16);
          if (!p || PoolFree(p) != 1) bad = true;
        });
    EXPECT_EQ(PoolDispose(pool), 1);
    t.Finish();
  }
  EXPECT_FALSE(bad.load());
}

// The list walk reports the page kinds as PoolInfo does: a page whose blocks
// all sit in another thread's cache is released first, not reported.
TEST(PoolCacheThreads, ListWalkTakesOtherThreadsCachesBack) {
  EnsureMemInit();
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  ASSERT_NE(pool, nullptr);
  void* keep = PoolAlloc(pool, 8, 0);
  ASSERT_NE(keep, nullptr);
  PoolReleaseThreadCaches();
  Parked t([&] {
    std::vector<void*> v;
    for (int i = 0; i < 6; ++i) v.push_back(PoolAlloc(pool, 40, 0));
    for (void* p : v) PoolFree(p);
  });
  ASSERT_GT(PoolCachedBlockCount(pool), 0) << "the medium blocks sit in the thread's cache";
  int found = 0;
  PoolInfoRecord info;
  for (int32 ok = PoolFirst(&info); ok; ok = PoolNext(&info)) {
    if (info.pool != pool) continue;
    ++found;
    EXPECT_EQ(info.kinds, 4) << "the medium page held only cached blocks";
    EXPECT_EQ(info.fixedSize, 16);
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(PoolCachedBlockCount(pool), 0);
  EXPECT_EQ(PoolBlockCount(pool), 1);
  t.Finish();
  EXPECT_EQ(PoolFree(keep), 1);
  EXPECT_EQ(PoolDispose(pool), 1);
}

// Pools made and disposed while another thread walks the list: every record
// names a pool of the list, and no walk touches a disposed pool.
TEST(PoolCacheThreads, ListWalkWhilePoolsComeAndGo) {
  EnsureMemInit();
  const int kRounds = Scaled(400);
  std::atomic<bool> done{false}, bad{false};
  std::thread maker([&] {
    for (int i = 0; i < kRounds; ++i) {
      MemPool* p = PoolCreate(8 + 4 * (i % 4), 0, kPoolSerialized);
      void* b = p ? PoolAlloc(p, 24, 0) : nullptr;
      if (!b || PoolFree(b) != 1 || PoolDispose(p) != 1) bad = true;
    }
    done = true;
  });
  int walks = 0;
  while (!done.load() || walks == 0) {
    PoolInfoRecord info;
    for (int32 ok = PoolFirst(&info); ok; ok = PoolNext(&info))
      if (!info.pool || info.pageSize <= 0) bad = true;
    ++walks;
  }
  maker.join();
  EXPECT_FALSE(bad.load());
  EXPECT_GT(walks, 0);
}

TEST(PoolCacheThreads, BlockFreedOnAnotherThreadGoesBack) {
  MemPool* def = (EnsureMemInit(), PoolInitDefault());
  const int32 before = PoolBlockCount(def);
  std::vector<void*> made;
  for (uInt32 n : {4u, 16u, 32u, 100u, 180u, 3000u, 40000u}) made.push_back(PoolMalloc(n));
  std::thread([&] {
    for (void* p : made) EXPECT_EQ(PoolFree(p), 1);
    // The freeing thread's cache has them: its next blocks of those sizes.
    void* again = PoolMalloc(32);
    EXPECT_EQ(again, made[2]);
    EXPECT_EQ(PoolFree(again), 1);
    for (void* p : made) EXPECT_EQ(PoolFree(p), 0) << "freed already";
  }).join();
  EXPECT_EQ(PoolBlockCount(def), before);
}

TEST(PoolCacheThreads, SecondFreeOfACachedBlockIsRefused) {
  MemPool* def = (EnsureMemInit(), PoolInitDefault());
  const int32 before = PoolBlockCount(def);
  for (uInt32 n : {16u, 32u}) {
    void* p = PoolMalloc(n);
    ASSERT_EQ(PoolFree(p), 1);  // into this thread's cache
    std::thread([&] {
      PoolClearLastError();
      EXPECT_EQ(PoolFree(p), 0);
      EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
      PoolClearLastError();
      EXPECT_EQ(PoolRealloc(p, n + 8, 0), nullptr);
      EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
      EXPECT_EQ(PoolBlockKind(p), 0);
    }).join();
    void* a = PoolMalloc(n);
    void* b = PoolMalloc(n);
    EXPECT_NE(a, b) << "a block refused twice is handed out once";
    EXPECT_EQ(PoolFree(a), 1);
    EXPECT_EQ(PoolFree(b), 1);
  }
  EXPECT_EQ(PoolBlockCount(def), before);
}

// The blocks a slow allocation carves for the cache are free until handed
// out: a free of one of them is refused.
TEST(PoolCacheThreads, BlocksCarvedForTheCacheAreNotHeld) {
  EnsureMemInit();
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  std::thread([&] {
    // A new page: blocks come from its top end, one below the other.
    uInt8* a = static_cast<uInt8*>(PoolAlloc(pool, 32, 0));
    ASSERT_NE(a, nullptr);
    const uInt32 step = (32 + 5 + kRedzone) & ~3u;
    PoolClearLastError();
    EXPECT_EQ(PoolFree(a - step), 0);
    EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
    EXPECT_EQ(PoolBlockCount(pool), 1);
    uInt8* b = static_cast<uInt8*>(PoolAlloc(pool, 32, 0));
    EXPECT_NE(b, a);
    EXPECT_EQ(PoolFree(b), 1);
    EXPECT_EQ(PoolFree(a), 1);
  }).join();
  EXPECT_EQ(PoolBlockCount(pool), 0);
  PoolDispose(pool);
}

// A thread's medium bins hold at most their byte bound however many blocks
// it frees, keep at least seven eighths of it, and hand every cached block
// out once: the links through the blocks stay whole.
TEST(PoolCacheThreads, MediumBinsKeepTheirByteBound) {
  EnsureMemInit();
  for (uInt32 n : {20u, 60u, 150u}) {
    MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
    ASSERT_NE(pool, nullptr);
    const uInt32 blockBytes = (n + 5 + kRedzone) & ~3u;
    const int count = int(2 * kMedCacheBytes / blockBytes) + 100;
    {
      Parked t([&] {
        std::vector<void*> v;
        for (int i = 0; i < count; ++i) v.push_back(PoolAlloc(pool, n, 0));
        for (void* p : v) PoolFree(p);
        std::set<void*> seen;
        for (int i = 0; i < count; ++i) {
          v[size_t(i)] = PoolAlloc(pool, n, 0);
          ASSERT_NE(v[size_t(i)], nullptr);
          ASSERT_TRUE(seen.insert(v[size_t(i)]).second) << "block handed out twice, size " << n;
          std::memset(v[size_t(i)], i & 0xFF, n);
        }
        for (int i = 0; i < count; ++i) {
          const uInt8* b = static_cast<const uInt8*>(v[size_t(i)]);
          ASSERT_EQ(b[0], i & 0xFF) << n;
          ASSERT_EQ(b[n - 1], i & 0xFF) << n;
          PoolFree(v[size_t(i)]);
        }
      });
      const uInt64 held = uInt64(PoolCachedBlockCount(pool)) * blockBytes;
      EXPECT_LE(held, kMedCacheBytes) << n;
      EXPECT_GE(held, kMedCacheBytes - kMedCacheBytes / 8 - blockBytes) << n;
      EXPECT_EQ(PoolBlockCount(pool), 0) << n;
      t.Finish();
    }
    EXPECT_EQ(PoolCachedBlockCount(pool), 0) << n;
    PoolDispose(pool);
  }
}

TEST(PoolCacheThreads, CeilingAllocationTakesSlotsFromAnotherThreadsCache) {
  EnsureMemInit();
  MemPool* pool = PoolCreate(64, 0, kPoolSerialized);
  PoolSetPageSize(pool, 4096);
  ASSERT_EQ(PoolPreAllocate(pool, kPageFixed, 1), 1);
  PoolSetCeiling(pool, PoolSize(pool));
  PoolErrorHandler prev = PoolSetErrorHandler(nullptr);
  int32 slots = 0;
  {
    Parked t([&] {
      std::vector<void*> v;
      while (void* p = PoolAlloc(pool, 64, 0)) v.push_back(p);
      slots = int32(v.size());
      for (void* p : v) PoolFree(p);
    });
    ASSERT_GT(slots, 30);
    ASSERT_LT(slots, 128) << "every free slot fits the other thread's cache";
    PoolClearLastError();
    std::vector<void*> mine;
    for (int i = 0; i < slots; ++i) mine.push_back(PoolAlloc(pool, 64, 0));
    for (void* p : mine) EXPECT_NE(p, nullptr);
    EXPECT_EQ(PoolLastError(), 0) << "no error while cached slots could serve";
    EXPECT_EQ(PoolAlloc(pool, 64, 0), nullptr) << "the ceiling still holds";
    EXPECT_EQ(PoolLastError(), MEM_EXCEEDED_CEILING);
    for (void* p : mine) PoolFree(p);
    t.Finish();
  }
  PoolSetErrorHandler(prev);
  PoolDispose(pool);
}

TEST(PoolCacheThreads, CachedMasterPointerIsNoHandle) {
  EnsureMemInit();
  for (bool ds : {false, true}) {
    UHandle h = ds ? DSNewHandle(16) : AZNewHandle(16);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kNoErr);
    EXPECT_EQ(ds ? DSCheckHandle(h) : AZCheckHandle(h), kZoneErr);
    std::thread([&] {
      Capture cap;
      EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kZoneErr);
      EXPECT_EQ(ds ? DSGetHandleSize(h) : AZGetHandleSize(h), -1);
    }).join();
    // The disposing thread reuses its last master pointer first.
    UHandle again = ds ? DSNewHandle(4) : AZNewHandle(4);
    EXPECT_EQ(again, h);
    EXPECT_EQ(ds ? DSDisposeHandle(again) : AZDisposeHandle(again), kNoErr);
  }
}

// Eight threads make, resize and dispose handles of both zones, each with a
// pattern of its own in every byte it owns.
TEST(PoolCacheThreads, EightThreadsOwnTheirHandlesAlone) {
  EnsureMemInit();
  const int kRounds = Scaled(100000);
  std::atomic<bool> bad{false};
  std::vector<std::thread> ts;
  for (int t = 0; t < 8; ++t)
    ts.emplace_back([&, t] {
      std::mt19937 rng(uint32_t(t) * 7919u + 1u);
      struct Own {
        UHandle h;
        bool ds;
        uInt8 tag;
      };
      std::vector<Own> mine;
      auto ok = [&](const Own& o) {
        int32 n = o.ds ? DSGetHandleSize(o.h) : AZGetHandleSize(o.h);
        for (int32 k = 0; k < n; ++k)
          if ((*o.h)[k] != o.tag) return false;
        return n >= 0;
      };
      for (int i = 0; i < kRounds; ++i) {
        uInt32 r = rng() % 100;
        if (mine.size() < 8 || r < 40) {
          bool ds = rng() & 1;
          int32 n = int32(rng() % (rng() % 16 ? 120 : 3000));
          UHandle h = ds ? DSNewHandle(n) : AZNewHandle(n);
          if (!h) { bad = true; continue; }
          uInt8 tag = uInt8(t * 31 + i);
          std::memset(*h, tag, size_t(n));
          mine.push_back({h, ds, tag});
        } else if (r < 60) {
          Own& o = mine[rng() % mine.size()];
          if (!ok(o)) bad = true;
          int32 n = int32(rng() % 200);
          if ((o.ds ? DSSetHandleSize(o.h, n) : AZSetHandleSize(o.h, n)) != kNoErr) bad = true;
          std::memset(*o.h, o.tag, size_t(n));
        } else {
          size_t k = rng() % mine.size();
          if (!ok(mine[k])) bad = true;
          if ((mine[k].ds ? DSDisposeHandle(mine[k].h) : AZDisposeHandle(mine[k].h)) != kNoErr) bad = true;
          mine[k] = mine.back();
          mine.pop_back();
        }
      }
      for (const Own& o : mine) {
        if (!ok(o)) bad = true;
        (o.ds ? DSDisposeHandle : AZDisposeHandle)(o.h);
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_FALSE(bad.load());
  EXPECT_EQ(AZHeapCheck(0), kNoErr);
  EXPECT_EQ(DSHeapCheck(0), kNoErr);
}

}  // namespace

namespace {

// A large block resized within its committed pages keeps its place and takes
// no lock; the clearing variant zeroes exactly the added bytes.
TEST(PoolCache, LargeBlockResizedWithinItsPages) {
  MemPool* def = (EnsureMemInit(), PoolInitDefault());
  uInt8* p = static_cast<uInt8*>(PoolMalloc(100000));
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, 100000);
  const uInt32 size = PoolSize(def);
  struct Step {
    uInt32 n;
    int32 flags;
  };
  uInt32 filled = 100000;
  for (Step s : {Step{100500, kPoolClear}, Step{100200, 0}, Step{100900, kPoolClear}, Step{100000, 0}}) {
    uInt8* q = static_cast<uInt8*>(PoolRealloc(p, s.n, s.flags));
    ASSERT_EQ(q, p) << s.n;
    for (uInt32 i = 0; i < s.n && i < filled; i += 997) ASSERT_EQ(q[i], 0xAB) << i;
    if (s.flags & kPoolClear) {
      for (uInt32 i = filled; i < s.n; ++i) {
        ASSERT_EQ(q[i], 0) << i;
      }
    }
    std::memset(q, 0xAB, s.n);
    filled = s.n;
  }
  EXPECT_EQ(PoolSize(def), size) << "no page was committed or given back";
  EXPECT_EQ(PoolFree(p), 1);
  PoolClearLastError();
  EXPECT_EQ(PoolRealloc(p, 100100, 0), nullptr) << "a freed block is refused";
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
}

}  // namespace
