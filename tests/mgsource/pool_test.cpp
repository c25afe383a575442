#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "emulation.h"
#include "mgsource/pool.h"
#include "platform/qx_vmem.h"
#include "test_support.h"

namespace {

MemPool* Default() {
  EnsureMemInit();
  return PoolInitDefault();
}

// The sanitizer build asks for this many bytes more for every medium block.
#if defined(QX_SANITIZE)
constexpr uInt32 kRedzone = 16;
#else
constexpr uInt32 kRedzone = 0;
#endif

// Every test of the suite gives back what it takes from the default pool.
class Pool : public LeakCheckedTest {};

TEST_F(Pool, SizeClassesOfTheDefaultPool) {
  Default();
  void* a = PoolMalloc(16);
  void* b = PoolMalloc(17);
  void* c = PoolMalloc(16383);
  void* d = PoolMalloc(16384);
  EXPECT_EQ(PoolBlockKind(a), kPageFixed);
  EXPECT_EQ(PoolBlockKind(b), kPageMedium);
  EXPECT_EQ(PoolBlockKind(c), kPageMedium);
  EXPECT_EQ(PoolBlockKind(d), kPageLarge);
  for (void* p : {a, b, c, d}) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) & 3, 0u);
    EXPECT_EQ(PoolFree(p), 1);
  }
}

TEST_F(Pool, ZeroSizeAndBadAddressesFailCleanly) {
  MemPool* pool = Default();
  PoolClearLastError();
  EXPECT_EQ(PoolAlloc(pool, 0, 0), nullptr);
  EXPECT_EQ(PoolLastError(), MEM_ALLOC_ZERO);

  int onStack = 0;
  PoolClearLastError();
  EXPECT_EQ(PoolFree(&onStack), 0);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);

  uInt8* fixed = static_cast<uInt8*>(PoolMalloc(12));
  uInt8* large = static_cast<uInt8*>(PoolMalloc(100000));
  PoolClearLastError();
  EXPECT_EQ(PoolFree(fixed + 4), 0);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  PoolClearLastError();
  EXPECT_EQ(PoolFree(large + 8), 0);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  // A pointer into the second 64 KB of a large block is no block start either.
  EXPECT_EQ(PoolFree(large + 70000), 0);
  EXPECT_EQ(PoolRealloc(fixed + 4, 8, 0), nullptr);

  // A 64 KB-aligned address with nothing mapped.
  void* gone = PlatReserve(65536);
  PlatRelease(gone, 65536);
  PoolClearLastError();
  EXPECT_EQ(PoolFree(gone), 0);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  EXPECT_EQ(PoolRealloc(gone, 10, 0), nullptr);

  EXPECT_EQ(PoolFree(nullptr), 1);
  EXPECT_EQ(PoolFree(fixed), 1);
  EXPECT_EQ(PoolFree(large), 1);
}

TEST_F(Pool, ReallocInPlaceOnlyFailsWithFiveAndKeepsTheBlock) {
  Default();
  // Blocks are taken from the top of a free block, so b lies below a and
  // cannot grow into it.  Blocks this size are beyond what the threads'
  // caches keep, so they come from the page in the order it gives.
  uInt8* a = static_cast<uInt8*>(PoolMalloc(300));
  uInt8* b = static_cast<uInt8*>(PoolMalloc(300));
  ASSERT_EQ(b + 304 + kRedzone, a) << "b is carved right below a";
  std::memset(b, 0x5A, 300);
  PoolClearLastError();
  EXPECT_EQ(PoolRealloc(b, 1200, kPoolInPlace), nullptr);
  EXPECT_EQ(PoolLastError(), MEM_RESIZE_FAILED);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(b[i], 0x5A);
  // Without the flag it moves and keeps the contents.
  uInt8* m = static_cast<uInt8*>(PoolRealloc(b, 1200, 0));
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(m[i], 0x5A);
  // A freed neighbour lets a block grow in place.  Where the pair lands
  // depends on the holes and the rover earlier tests and other threads left:
  // it is made again until d lies right below c.
  PoolFree(a);
  std::vector<void*> spare;
  uInt8 *c = nullptr, *d = nullptr;
  for (int i = 0; i < 8 && !c; ++i) {
    c = static_cast<uInt8*>(PoolMalloc(260));
    d = static_cast<uInt8*>(PoolMalloc(260));
    if (d + 264 + kRedzone != c) {
      spare.insert(spare.end(), {c, d});
      c = d = nullptr;
    }
  }
  ASSERT_NE(c, nullptr) << "no pair carved one right below the other";
  PoolFree(c);
  uInt8* grown = static_cast<uInt8*>(PoolRealloc(d, 520, kPoolInPlace | kPoolClear));
  EXPECT_EQ(grown, d);
  PoolFree(grown);
  PoolFree(m);
  for (void* p : spare) PoolFree(p);
}

TEST_F(Pool, ResizesKeepDataAcrossAllClasses) {
  Default();
  std::mt19937 rng(7);
  uInt8* p = static_cast<uInt8*>(PoolMalloc(8));
  uInt32 size = 8;
  for (uInt32 i = 0; i < size; ++i) p[i] = uInt8(i * 7);
  for (uInt32 next : {16u, 17u, 200u, 16383u, 16384u, 70000u, 300000u, 20000u, 16000u, 40u, 3u, 9000u}) {
    uInt8* q = static_cast<uInt8*>(PoolRealloc(p, next, 0));
    ASSERT_NE(q, nullptr) << next;
    uInt32 keep = size < next ? size : next;
    for (uInt32 i = 0; i < keep; ++i) ASSERT_EQ(q[i], uInt8(i * 7)) << "size " << next << " byte " << i;
    for (uInt32 i = keep; i < next; ++i) q[i] = uInt8(i * 7);
    p = q;
    size = next;
  }
  PoolFree(p);
}

TEST_F(Pool, ClearFlagZeroFillsEveryClass) {
  MemPool* pool = Default();
  for (uInt32 n : {4u, 16u, 100u, 5000u, 20000u}) {
    uInt8* p = static_cast<uInt8*>(PoolAlloc(pool, n, 0));
    std::memset(p, 0xEE, n);
    PoolFree(p);
    uInt8* q = static_cast<uInt8*>(PoolAlloc(pool, n, kPoolClear));
    for (uInt32 i = 0; i < n; ++i) ASSERT_EQ(q[i], 0) << n;
    PoolFree(q);
  }
}

TEST_F(Pool, PageSizeIsNormalised) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  ASSERT_NE(pool, nullptr);
  PoolInfoRecord info;
  int32 former = PoolSetPageSize(pool, 5000);
  ASSERT_EQ(PoolInfo(pool, nullptr, &info), 1);
  EXPECT_EQ(info.pageSize, 8192);
  EXPECT_EQ(PoolSetPageSize(pool, 100000), 8192);
  PoolInfo(pool, nullptr, &info);
  EXPECT_EQ(info.pageSize, 65535);
  EXPECT_EQ(PoolSetPageSize(pool, 16384), 65535);
  PoolInfo(pool, nullptr, &info);
  EXPECT_EQ(info.pageSize, 16384);
  PoolSetPageSize(pool, 10);
  PoolInfo(pool, nullptr, &info);
  EXPECT_EQ(info.pageSize, 4096);
  EXPECT_GT(former, 0);
  PoolDispose(pool);
}

TEST_F(Pool, MediumBlocksCoalesceAndEmptyPagesAreReleased) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  PoolSetPageSize(pool, 65535);
  uInt32 base = PoolSize(pool);
  std::vector<void*> blocks;
  std::mt19937 rng(3);
  for (int i = 0; i < 2000; ++i) blocks.push_back(PoolAlloc(pool, 17 + rng() % 3000, 0));
  EXPECT_EQ(PoolBlockCount(pool), 2000);
  std::shuffle(blocks.begin(), blocks.end(), rng);
  for (void* b : blocks) ASSERT_EQ(PoolFree(b), 1);
  EXPECT_EQ(PoolBlockCount(pool), 0);
  // Only the descriptor chunk stays.
  EXPECT_LE(PoolSize(pool), base + 4096);
  // After full coalescing one page holds the largest medium block at once.
  void* big = PoolAlloc(pool, 16000, 0);
  void* big2 = PoolAlloc(pool, 16000, 0);
  void* big3 = PoolAlloc(pool, 16000, 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(big) >> 16, reinterpret_cast<uintptr_t>(big3) >> 16);
  PoolFree(big);
  PoolFree(big2);
  PoolFree(big3);
  PoolDispose(pool);
}

TEST_F(Pool, FloorKeepsPagesCeilingStopsGrowthShrinkReleases) {
  MemPool* pool = PoolCreate(32, 100, kPoolSerialized);
  ASSERT_NE(pool, nullptr);
  PoolInfoRecord info;
  PoolInfo(pool, nullptr, &info);
  EXPECT_EQ(info.fixedSize, 32);
  EXPECT_EQ(info.kinds & 4, 4) << "pre-allocated fixed-size page";
  EXPECT_EQ(PoolShrink(pool), 16384u) << "the empty pre-allocated page goes";

  PoolSetFloor(pool, 1u << 30);
  void* p = PoolAlloc(pool, 8, 0);
  uInt32 withPage = PoolSize(pool);
  PoolFree(p);
  EXPECT_EQ(PoolSize(pool), withPage) << "the floor keeps the empty page";
  EXPECT_EQ(PoolShrink(pool), 16384u);
  PoolSetFloor(pool, 0);

  PoolSetCeiling(pool, PoolSize(pool) + 100);
  PoolClearLastError();
  EXPECT_EQ(PoolAlloc(pool, 100000, 0), nullptr);
  EXPECT_EQ(PoolLastError(), MEM_EXCEEDED_CEILING);
  PoolSetCeiling(pool, kPoolNoCeiling);
  void* big = PoolAlloc(pool, 100000, 0);
  EXPECT_NE(big, nullptr);
  PoolFree(big);
  PoolDispose(pool);
}

TEST_F(Pool, PoolsAreListedAndTheDefaultCanBeReleased) {
  MemPool* mine = PoolCreate(8, 0, 0);
  PoolInfoRecord info;
  bool seen = false;
  int n = 0;
  for (int32 ok = PoolFirst(&info); ok; ok = PoolNext(&info)) {
    seen |= info.pool == mine;
    ++n;
  }
  EXPECT_TRUE(seen);
  EXPECT_GE(n, 1);
  void* blk = PoolAlloc(mine, 4, 0);
  EXPECT_EQ(PoolInfo(nullptr, blk, &info), 1);
  EXPECT_EQ(info.pool, mine);
  EXPECT_EQ(info.fixedSize, 8);
  PoolClearLastError();
  MemPool* other = PoolCreate(16, 0, 0);
  EXPECT_EQ(PoolInfo(other, blk, &info), 0) << "a block of another pool";
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  PoolDispose(other);
  PoolDispose(mine);
  for (int32 ok = PoolFirst(&info); ok; ok = PoolNext(&info)) EXPECT_NE(info.pool, mine);
  PoolClearLastError();
  std::vector<uInt8> notAPool(4096, 0);
  EXPECT_EQ(PoolSize(reinterpret_cast<MemPool*>(notAPool.data())), 0u);
  EXPECT_EQ(PoolLastError(), MEM_BAD_MEM_POOL) << "a record without the signature";
}

// Runs in a child process: it replaces the default pool under everything else.
void FreeDefaultAndRemake() {
  void* p = PoolMalloc(10);
  if (!p) std::_Exit(2);
  if (PoolFreeDefault() != 1 || PoolFreeDefault() != 0) std::_Exit(3);
  void* q = PoolMalloc(10);
  PoolInfoRecord info;
  if (!q || PoolInfo(nullptr, q, &info) != 1) std::_Exit(4);
  if (info.pool != PoolInitDefault() || info.fixedSize != 16 || info.flags != kPoolSerialized) std::_Exit(5);
  std::_Exit(0);
}

TEST(PoolDeathTest, FreeDefaultReleasesAndTheNextMallocRemakes) {
  EXPECT_EXIT(FreeDefaultAndRemake(), ::testing::ExitedWithCode(0), "");
}

std::atomic<int> gHandlerCalls{0};
std::atomic<int> gRetries{0};
int32 RetryOnce(PoolErrorRecord* err) {
  ++gHandlerCalls;
  EXPECT_EQ(err->code, MEM_OUT_OF_MEMORY);
  return gRetries-- > 0 ? 1 : 0;
}

TEST_F(Pool, HandlerAnsweringRetryIsAskedAgain) {
  Default();
  PoolErrorHandler prev = PoolSetErrorHandler(RetryOnce);
  gHandlerCalls = 0;
  gRetries = 1;
  PlatFailNextReservations(2);
  void* p = PoolMalloc(200000);
  EXPECT_EQ(p, nullptr) << "the second failure is not retried";
  EXPECT_EQ(gHandlerCalls.load(), 2);
  gHandlerCalls = 0;
  gRetries = 1;
  PlatFailNextReservations(1);
  p = PoolMalloc(200000);
  EXPECT_NE(p, nullptr) << "retried after the handler said so";
  EXPECT_EQ(gHandlerCalls.load(), 1);
  PoolFree(p);
  PoolSetErrorHandler(prev);
}

TEST_F(Pool, FixedPagesHalveTheirSizeBeforeAskingTheHandler) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  PoolSetPageSize(pool, 65535);
  PoolErrorHandler prev = PoolSetErrorHandler(nullptr);
  PlatFailNextReservations(1);
  void* p = PoolAlloc(pool, 8, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_LT(PoolSize(pool), 4096u + 4096u + 65536u) << "a half-size page was taken";
  PoolFree(p);
  PoolSetErrorHandler(prev);
  PoolDispose(pool);
}

TEST_F(Pool, DefaultHandlerTextsAndButtons) {
  Capture cap;
  PoolErrorRecord rec{MEM_OUT_OF_MEMORY, nullptr};
  cap.Answer(kPlatAnsRetry);
  EXPECT_EQ(PoolDefaultErrorHandler(&rec), 1);
  cap.Answer(kPlatAnsIgnore);
  EXPECT_EQ(PoolDefaultErrorHandler(&rec), 0);
  rec.code = MEM_EXCEEDED_CEILING;
  cap.Answer(kPlatAnsOK);
  EXPECT_EQ(PoolDefaultErrorHandler(&rec), 0);
  rec.code = 99;
  EXPECT_EQ(PoolDefaultErrorHandler(&rec), 0);
  auto alerts = cap.Alerts();
  auto buttons = cap.AlertButtons();
  ASSERT_EQ(alerts.size(), 4u);
  EXPECT_EQ(alerts[0], "Out of memory.  Please free some memory, then choose retry.");
  EXPECT_EQ(buttons[0], kPlatAbortRetryIgnore);
  EXPECT_EQ(alerts[2], "MEM_EXCEEDED_CEILING");
  EXPECT_EQ(buttons[2], kPlatOKCancel);
  EXPECT_EQ(alerts[3], "MEM_INTERNAL_ERROR");
}

void CancelTheErrorBox() {
  Capture cap;
  cap.Answer(kPlatAnsCancel);
  PoolErrorRecord rec{MEM_BAD_POINTER, nullptr};
  PoolDefaultErrorHandler(&rec);
}

TEST(PoolDeathTest, CancelInTheErrorBoxEndsTheProcess) {
  EXPECT_EXIT(CancelTheErrorBox(), ::testing::ExitedWithCode(1), "");
}

// ---- Threads ---------------------------------------------------------------------

std::atomic<int> gInHandler{0};
std::atomic<bool> gRelease{false};
int32 BlockingHandler(PoolErrorRecord*) {
  ++gInHandler;
  while (!gRelease.load()) std::this_thread::yield();
  return 0;
}

TEST(PoolThreads, MoreThanTwentyFiveThreadsInTheHandlerGetTheMessage) {
  Capture cap;
  PoolErrorHandler prev = PoolSetErrorHandler(BlockingHandler);
  gInHandler = 0;
  gRelease = false;
  std::vector<std::thread> ts;
  for (int i = 0; i < 25; ++i) ts.emplace_back([] { PoolError(MEM_BAD_BLOCK, nullptr); });
  while (gInHandler.load() < 25) std::this_thread::yield();
  EXPECT_EQ(PoolError(MEM_BAD_BLOCK, nullptr), 0);
  gRelease = true;
  for (auto& t : ts) t.join();
  auto alerts = cap.Alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0], "\n\rMemory errors in too many threads concurrently.\n\r");
  EXPECT_EQ(gInHandler.load(), 25);
  PoolSetErrorHandler(prev);
}

int32 ReenteringHandler(PoolErrorRecord* err) {
  if (err->code == MEM_BAD_BLOCK) {
    EXPECT_EQ(PoolError(MEM_BAD_BLOCK, nullptr), 0);
  }
  return 0;
}

TEST_F(Pool, ReenteringTheHandlerIsReported) {
  Capture cap;
  PoolErrorHandler prev = PoolSetErrorHandler(ReenteringHandler);
  EXPECT_EQ(PoolError(MEM_BAD_BLOCK, nullptr), 0);
  PoolSetErrorHandler(prev);
  ASSERT_EQ(cap.Alerts().size(), 1u);
  EXPECT_NE(cap.Alerts()[0].find("re-entered"), std::string::npos);
}

int32 AllocatingHandler(PoolErrorRecord* err) {
  // The handler may use the pool itself: the caller's lock is not held.
  void* p = PoolAlloc(err->pool, 8, 0);
  EXPECT_NE(p, nullptr);
  PoolFree(p);
  return 0;
}

TEST(PoolThreads, HandlerRunsWithoutThePoolLock) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  PoolErrorHandler prev = PoolSetErrorHandler(AllocatingHandler);
  std::atomic<bool> otherDone{false};
  PlatFailNextReservations(1);
  // Hold the lock two levels deep from inside an operation's error path.
  EXPECT_EQ(PoolAlloc(pool, 300000, 0), nullptr);
  std::thread t([&] {
    void* q = PoolAlloc(pool, 8, 0);
    PoolFree(q);
    otherDone = true;
  });
  t.join();
  EXPECT_TRUE(otherDone.load());
  PoolSetErrorHandler(prev);
  PoolDispose(pool);
}

TEST(PoolThreads, EightThreadsAllocateReallocateAndFreeConcurrently) {
  MemPool* pool = Default();
  int32 before = PoolBlockCount(pool);
  // Emulated, the sanitized process has a 3 GiB address space, not 4, and the
  // sanitizer's shadow and redzones on top of what the threads keep live ran
  // it out: a quarter of the operations keeps a quarter of the memory.
  const int kOps = Scaled(100000) / (qxtest::UnderUserModeEmulation() ? 4 : 1);
  std::atomic<int32> live{0};
  std::atomic<bool> bad{false};
  auto worker = [&](int seed) {
    std::mt19937 rng(seed);
    struct Blk {
      uInt8* p;
      uInt32 n;
      uInt8 tag;
    };
    std::vector<Blk> mine;
    auto check = [&](const Blk& b) {
      for (uInt32 i = 0; i < b.n; i += 61)
        if (b.p[i] != b.tag) bad = true;
      if (b.p[b.n - 1] != b.tag) bad = true;
    };
    for (int op = 0; op < kOps; ++op) {
      uInt32 r = rng() % 100;
      if (mine.empty() || r < 45) {
        uInt32 cls = rng() % 10;
        uInt32 n = cls < 6 ? 1 + rng() % 16 : cls < 9 ? 17 + rng() % 4000 : 16384 + rng() % 60000;
        uInt8 tag = uInt8(rng());
        uInt8* p = static_cast<uInt8*>(PoolMalloc(n));
        if (!p) { bad = true; continue; }
        std::memset(p, tag, n);
        mine.push_back({p, n, tag});
        ++live;
      } else if (r < 70) {
        size_t i = rng() % mine.size();
        check(mine[i]);
        uInt32 n = 1 + rng() % (rng() % 8 == 0 ? 40000 : 2000);
        uInt8* p = static_cast<uInt8*>(PoolRealloc(mine[i].p, n, 0));
        if (!p) { bad = true; continue; }
        uInt32 keep = n < mine[i].n ? n : mine[i].n;
        for (uInt32 k = 0; k < keep; k += 37)
          if (p[k] != mine[i].tag) bad = true;
        std::memset(p, mine[i].tag, n);
        mine[i].p = p;
        mine[i].n = n;
      } else {
        size_t i = rng() % mine.size();
        check(mine[i]);
        if (PoolFree(mine[i].p) != 1) bad = true;
        mine[i] = mine.back();
        mine.pop_back();
        --live;
      }
    }
    // Leave the survivors for the count, then free them.
    return mine;
  };
  std::vector<std::thread> ts;
  std::vector<std::vector<uInt8*>> survivors(8);
  std::mutex sl;
  for (int t = 0; t < 8; ++t)
    ts.emplace_back([&, t] {
      auto left = worker(100 + t);
      std::lock_guard<std::mutex> g(sl);
      for (auto& b : left) survivors[t].push_back(b.p);
    });
  for (auto& t : ts) t.join();
  EXPECT_FALSE(bad.load());
  EXPECT_EQ(PoolBlockCount(pool), before + live.load());
  for (auto& v : survivors)
    for (uInt8* p : v) EXPECT_EQ(PoolFree(p), 1);
  EXPECT_EQ(PoolBlockCount(pool), before);
}

}  // namespace

#if defined(QX_SANITIZE)
namespace {
void TouchFreedSlot() {
  volatile uInt8* p = static_cast<uInt8*>(PoolMalloc(16));
  void* keep = PoolMalloc(16);  // keeps the page alive
  PoolFree(const_cast<uInt8*>(p));
  p[8] = 1;
  PoolFree(keep);
}
void TouchFreedMedium() {
  volatile uInt8* p = static_cast<uInt8*>(PoolMalloc(400));
  void* keep = PoolMalloc(400);
  PoolFree(const_cast<uInt8*>(p));
  p[200] = 1;
  PoolFree(keep);
}
void TouchPastLarge() {
  volatile uInt8* p = static_cast<uInt8*>(PoolMalloc(20000));
  p[20100] = 1;
}
}  // namespace

TEST(PoolDeathTest, SanitizerSeesInsideThePool) {
  EXPECT_DEATH(TouchFreedSlot(), "use-after-poison");
  EXPECT_DEATH(TouchFreedMedium(), "use-after-poison");
  EXPECT_DEATH(TouchPastLarge(), "use-after-poison");
}
#endif
