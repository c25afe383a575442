// Addresses and handles that are no live block of their kind: blocks freed
// twice, addresses inside and between blocks, in a page's uncommitted tail,
// and sizes whose block would reach 2^31 bytes.  The pool answers 14 (the
// zones 1 for pointers and 3 for handles), changes nothing and reads no
// memory that is not mapped.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/pool.h"
#include "test_support.h"

namespace {

inline uInt8* PageStart(const void* p) {
  return reinterpret_cast<uInt8*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(0xFFFF));
}

// What a refused call must leave as it was.
struct PoolState {
  int32 blocks;
  uInt32 size;
  bool operator==(const PoolState&) const = default;
};
PoolState StateOf(MemPool* pool) { return {PoolBlockCount(pool), PoolSize(pool)}; }

// The pool refuses the address in every entry point that takes one.
void ExpectRefused(MemPool* pool, void* addr, const char* what) {
  SCOPED_TRACE(what);
  PoolState before = StateOf(pool);
  PoolClearLastError();
  EXPECT_EQ(PoolFree(addr), 0);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  PoolClearLastError();
  EXPECT_EQ(PoolRealloc(addr, 8, 0), nullptr);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  PoolClearLastError();
  EXPECT_EQ(PoolRealloc(addr, 40000, kPoolClear), nullptr);
  EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
  PoolInfoRecord info;
  EXPECT_EQ(PoolInfo(nullptr, addr, &info), 0);
  EXPECT_EQ(PoolBlockKind(addr), 0);
  EXPECT_EQ(StateOf(pool), before);
}

class BlockRefusal : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    MemFullReset();
  }
  void TearDown() override {
    MemFullReset();
    LeakCheckedTest::TearDown();
  }
};

TEST_F(BlockRefusal, SecondFreeOfEachClassIsRefusedAndTheNextBlocksAreDistinct) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);  // no floor
  ASSERT_NE(pool, nullptr);
  for (uInt32 n : {8u, 16u, 100u, 3000u, 20000u}) {
    SCOPED_TRACE(n);
    void* keep = PoolAlloc(pool, n, 0);
    void* p = PoolAlloc(pool, n, 0);
    ASSERT_NE(keep, nullptr);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(PoolFree(p), 1);
    ExpectRefused(pool, p, "freed once");
    void* a = PoolAlloc(pool, n, 0);
    void* b = PoolAlloc(pool, n, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(a, keep);
    EXPECT_NE(b, keep);
    EXPECT_EQ(PoolBlockCount(pool), 3);
    for (void* q : {a, b, keep}) EXPECT_EQ(PoolFree(q), 1);
    EXPECT_EQ(PoolBlockCount(pool), 0);
  }
  PoolDispose(pool);
}

TEST_F(BlockRefusal, PageWithALiveBlockAndATwiceFreedOneStaysMapped) {
  for (uInt32 n : {8u, 100u}) {
    SCOPED_TRACE(n);
    MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
    uInt8* live = static_cast<uInt8*>(PoolAlloc(pool, n, 0));
    uInt8* gone = static_cast<uInt8*>(PoolAlloc(pool, n, 0));
    ASSERT_EQ(PageStart(live), PageStart(gone));
    std::memset(live, 0x6B, n);
    uInt32 size = PoolSize(pool);
    ASSERT_EQ(PoolFree(gone), 1);
    EXPECT_EQ(PoolFree(gone), 0);
    EXPECT_EQ(PoolFree(gone), 0);
    EXPECT_EQ(PoolBlockCount(pool), 1);
    EXPECT_EQ(PoolSize(pool), size) << "the page keeps its live block";
    EXPECT_EQ(PoolBlockKind(live), n <= 16 ? kPageFixed : kPageMedium);
    for (uInt32 i = 0; i < n; ++i) ASSERT_EQ(live[i], 0x6B);
    // The next blocks never hand out the live one.
    std::vector<void*> more;
    for (int i = 0; i < 50; ++i) {
      more.push_back(PoolAlloc(pool, n, 0));
      EXPECT_NE(more.back(), live);
    }
    for (void* q : more) EXPECT_EQ(PoolFree(q), 1);
    EXPECT_EQ(PoolFree(live), 1);
    PoolDispose(pool);
  }
}

TEST_F(BlockRefusal, AddressesInsideAndBetweenBlocksAreRefused) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  uInt8* slot = static_cast<uInt8*>(PoolAlloc(pool, 16, 0));
  uInt8* next = static_cast<uInt8*>(PoolAlloc(pool, 16, 0));
  uInt8* med = static_cast<uInt8*>(PoolAlloc(pool, 100, 0));
  uInt8* med2 = static_cast<uInt8*>(PoolAlloc(pool, 100, 0));
  uInt8* big = static_cast<uInt8*>(PoolAlloc(pool, 20000, 0));
  for (uInt32 off : {1u, 2u, 4u, 8u, 12u}) ExpectRefused(pool, slot + off, "inside a slot");
  uInt32 stride = uInt32(next > slot ? next - slot : slot - next);
  uInt8* last = slot > next ? slot : next;
  ExpectRefused(pool, last + stride, "a slot not carved yet");
  ExpectRefused(pool, PageStart(slot), "a fixed page's header");
  for (uInt32 off : {2u, 4u, 8u, 12u, 16u, 52u, 96u}) ExpectRefused(pool, med + off, "inside a medium block");
  ExpectRefused(pool, med - 2, "a medium block's size word");
  ExpectRefused(pool, med - 4, "just before a medium block");
  ExpectRefused(pool, PageStart(med) + 32, "a free medium block");
  ExpectRefused(pool, big + 4, "inside a large block");
  int onStack = 0;
  ExpectRefused(pool, &onStack, "the stack");
  for (void* q : {slot, next, med, med2, big}) EXPECT_EQ(PoolFree(q), 1);
  PoolDispose(pool);
}

TEST_F(BlockRefusal, UncommittedTailOfAPageIsRefusedWithoutTouchingIt) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);  // 16 KB pages
  uInt8* med = static_cast<uInt8*>(PoolAlloc(pool, 100, 0));
  uInt8* slot = static_cast<uInt8*>(PoolAlloc(pool, 8, 0));
  for (uInt8* page : {PageStart(med), PageStart(slot)}) {
    for (uInt32 off : {0x4000u, 0x8000u, 0xC000u, 0xFFFCu}) ExpectRefused(pool, page + off, "uncommitted tail");
  }
  EXPECT_EQ(PoolFree(med), 1);
  EXPECT_EQ(PoolFree(slot), 1);
  PoolDispose(pool);
}

TEST_F(BlockRefusal, PoolRefusesBlocksOfTwoGigabytes) {
  MemPool* pool = PoolCreate(16, 0, kPoolSerialized);
  uInt8* m = static_cast<uInt8*>(PoolAlloc(pool, 100, 0));
  std::memset(m, 0x21, 100);
  PoolState before = StateOf(pool);
  for (uInt32 n : {0x7FFFFFF0u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(n);
    PoolClearLastError();
    EXPECT_EQ(PoolAlloc(pool, n, 0), nullptr);
    EXPECT_EQ(PoolLastError(), MEM_BLOCK_TOO_BIG);
    EXPECT_EQ(PoolRealloc(m, n, 0), nullptr);
    EXPECT_EQ(StateOf(pool), before);
  }
  for (int i = 0; i < 100; ++i) ASSERT_EQ(m[i], 0x21);
  EXPECT_EQ(PoolFree(m), 1);
  PoolDispose(pool);
}

// ---- The zones -----------------------------------------------------------------

TEST_F(BlockRefusal, PointersFreedTwiceGiveOneWithThePoolsReport) {
  for (bool ds : {false, true}) {
    for (int32 n : {8, 100, 20000}) {
      SCOPED_TRACE(testing::Message() << (ds ? "DS " : "AZ ") << n);
      UPtr p = ds ? DSNewPtr(n) : AZNewPtr(n);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(ds ? DSDisposePtr(p) : AZDisposePtr(p), kNoErr);
      LiveBlocks live = CountLiveBlocks();
      PoolClearLastError();
      EXPECT_EQ(ds ? DSDisposePtr(p) : AZDisposePtr(p), kArgErr);
      EXPECT_EQ(PoolLastError(), MEM_BAD_POINTER);
      EXPECT_EQ(CountLiveBlocks(), live);
      UPtr a = ds ? DSNewPtr(n) : AZNewPtr(n);
      UPtr b = ds ? DSNewPtr(n) : AZNewPtr(n);
      EXPECT_NE(a, b);
      EXPECT_EQ(AZDisposePtr(a), kNoErr);
      EXPECT_EQ(DSDisposePtr(b), kNoErr);
    }
  }
  EXPECT_EQ(MemFullPending(nullptr), 0) << "a refused address is no memory failure";
}

TEST_F(BlockRefusal, HandlesDisposedTwiceGiveThreeAndTheNextHandlesAreDistinct) {
  Capture cap;
  for (bool ds : {false, true}) {
    UHandle h = ds ? DSNewHandle(10) : AZNewHandle(10);
    ASSERT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kNoErr);
    LiveBlocks live = CountLiveBlocks();
    cap.Clear();
    EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kZoneErr);
    EXPECT_EQ(cap.Count("Error #3"), 1);
    EXPECT_EQ(CountLiveBlocks(), live);
    UHandle a = ds ? DSNewHandle(10) : AZNewHandle(10);
    UHandle b = ds ? DSNewHandle(10) : AZNewHandle(10);
    EXPECT_NE(a, b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(ds ? DSDisposeHandle(a) : AZDisposeHandle(a), kNoErr);
    EXPECT_EQ(ds ? DSDisposeHandle(b) : AZDisposeHandle(b), kNoErr);
  }
}

TEST_F(BlockRefusal, HandleWhoseBlockThePoolRefusesKeepsItsMasterPointer) {
  Capture cap;
  int32 local[8] = {};
  for (bool ds : {false, true}) {
    UHandle h = ds ? DSNewHandle(40) : AZNewHandle(40);
    UPtr data = *h;
    // What external code may have written into the master pointer: an
    // address inside the block, and an address outside the pool.
    for (UPtr bad : {data + 4, reinterpret_cast<UPtr>(&local[4])}) {
      *h = bad;
      LiveBlocks live = CountLiveBlocks();
      cap.Clear();
      EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kZoneErr);
      EXPECT_EQ(ds ? DSSetHandleSize(h, 4000) : AZSetHandleSize(h, 4000), kZoneErr);
      EXPECT_EQ(cap.Count("Error #3"), 2);
      EXPECT_EQ(*h, bad) << "the master pointer is kept";
      EXPECT_EQ(ds ? DSCheckHandle(h) : AZCheckHandle(h), kNoErr);
      EXPECT_EQ(CountLiveBlocks(), live);
      EXPECT_EQ(MemFullPending(nullptr), 0);
    }
    *h = data;
    EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kNoErr);
  }
}

TEST_F(BlockRefusal, SizesWhoseBlockReachesTwoGigabytesFailAsExhaustedMemory) {
  for (uInt32 size : {0x7FFFFFF0u, 0x7FFFFFF8u, 0x7FFFFFFFu, 0x80000000u}) {
    SCOPED_TRACE(size);
    LiveBlocks live = CountLiveBlocks();
    EXPECT_EQ(AZNewHandle(int32(size)), nullptr);
    EXPECT_EQ(MemFullPending(nullptr), 1);
    MemFullReset();
    EXPECT_EQ(DSNewPtr(int32(size)), nullptr);
    EXPECT_EQ(MemFullPending(nullptr), 1);
    MemFullReset();
    EXPECT_EQ(CountLiveBlocks(), live);
    for (bool ds : {false, true}) {
      UHandle h = ds ? DSNewHandle(10) : AZNewHandle(10);
      std::memcpy(*h, "0123456789", 10);
      UPtr data = *h;
      MgErr err = ds ? DSSetHandleSize(h, int32(size)) : AZSetHandleSize(h, int32(size));
      // A negative size is a bad argument; the others exhaust memory.
      EXPECT_EQ(err, int32(size) < 0 ? kArgErr : kMemFullErr);
      EXPECT_EQ(MemFullPending(nullptr), int32(size) < 0 ? 0 : 1);
      MemFullReset();
      EXPECT_EQ(ds ? DSPtrAndHand("x", h, 0x7FFFFFF0) : AZPtrAndHand("x", h, 0x7FFFFFF0), kMemFullErr);
      MemFullReset();
      EXPECT_EQ(*h, data);
      EXPECT_EQ(ds ? DSGetHandleSize(h) : AZGetHandleSize(h), 10);
      EXPECT_EQ(std::memcmp(*h, "0123456789", 10), 0);
      EXPECT_EQ(ds ? DSDisposeHandle(h) : AZDisposeHandle(h), kNoErr);
    }
  }
}

TEST_F(BlockRefusal, ResizeFailureRecordsTheBlockSizeWithoutOverflow) {
  UHandle h = DSNewHandle(4);
  EXPECT_EQ(DSSetHandleSize(h, 0x7FFFFFF8), kMemFullErr);
  int32 rec[4];
  ASSERT_EQ(MemFullPending(rec), 1);
  EXPECT_EQ(uInt32(rec[1]), 0x7FFFFFF8u + 16) << "the block that could not be had";
  MemFullReset();
  DSDisposeHandle(h);
}

}  // namespace

#if defined(QX_SANITIZE)
namespace {
// One byte past what was asked for: inside the block's capacity in the
// normal build, poisoned in the sanitizer build.
void OverreadHandle(bool ds, int32 n) {
  UHandle h = ds ? DSNewHandle(n) : AZNewHandle(n);
  volatile uInt8 x = (*h)[n - 1];  // the last byte asked for is fine
  x = (*h)[n];
  (void)x;
}
void OverreadPointer(bool ds, int32 n) {
  UPtr p = ds ? DSNewPtr(n) : AZNewPtr(n);
  volatile uInt8 x = p[n - 1];
  x = p[n];
  (void)x;
}
void OverwriteResized(int32 from, int32 to) {
  UHandle h = AZNewHandle(from);
  AZSetHandleSize(h, to);
  (*h)[to] = 1;
}
}  // namespace

TEST(BlockRefusalDeathTest, SanitizerSeesOneByteOverreadsOfLiveBlocks) {
  EnsureMemInit();
  for (bool ds : {false, true}) {
    for (int32 n : {10, 13, 16, 100}) {
      SCOPED_TRACE(testing::Message() << (ds ? "DS " : "AZ ") << n);
      EXPECT_DEATH(OverreadHandle(ds, n), "AddressSanitizer");
      EXPECT_DEATH(OverreadPointer(ds, n), "AddressSanitizer");
    }
  }
  EXPECT_DEATH(OverwriteResized(100, 60), "AddressSanitizer");
  EXPECT_DEATH(OverwriteResized(10, 3), "AddressSanitizer");
  EXPECT_DEATH(OverwriteResized(3, 200), "AddressSanitizer");
}
#endif
