#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "mgsource/objheap.h"
#include "platform/qx_vmem.h"
#include "test_support.h"

namespace {

constexpr uInt32 kKind = FourCC("TEST");

uInt32 Word(ObjHeap h, uInt32 at) { return OHWord(h, at); }
uInt32 SizeWordOf(ObjHeap h, int32 off) { return Word(h, uInt32(off) - 12); }

// Walks the heap and checks its invariants: blocks tile the area, the free
// list ascends through free blocks only and holds every free block but the
// slivers, and no free block is followed by another free block.
void CheckHeap(ObjHeap h) {
  uInt32 end = Word(h, kOHEndOffset) + 1;
  ASSERT_EQ(int32(end), AZGetHandleSize(h));
  std::vector<uInt32> listed;
  for (uInt32 f = Word(h, kOHFreeHead); f; f = Word(h, f + 4)) {
    ASSERT_TRUE(listed.empty() || f > listed.back()) << "free list ascends";
    listed.push_back(f);
    ASSERT_LE(listed.size(), 100000u);
  }
  std::vector<uInt32> freeBlocks;
  uInt32 b = 56;
  bool prevFree = false;
  while (b < end) {
    uInt32 w = Word(h, b);
    uInt32 size = w & ~3u;
    ASSERT_GE(size, 4u);
    ASSERT_LE(b + size, end);
    bool isFree = w & 1;
    if (isFree) {
      ASSERT_FALSE(prevFree) << "unmerged free neighbours at " << b;
      if (size != 4) freeBlocks.push_back(b);
    } else {
      ASSERT_GE(size, 12u);
      ASSERT_GE(int32(Word(h, b + 8)), 1);
    }
    prevFree = isFree && size != 4;
    b += size;
  }
  ASSERT_EQ(b, end);
  ASSERT_EQ(listed, freeBlocks);
}

// The index of the first of every stride-th byte of count bytes at off that
// is not v, or -1: one assertion per block instead of one per byte.
int32 FirstOther(ObjHeap h, int32 off, int32 count, int32 stride, uInt8 v) {
  for (int32 k = 0; k < count; k += stride)
    if ((*h)[off + k] != v) return k;
  return -1;
}

class ObjHeapTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    heap = OHNewHeap(1000, kKind, 0, 0);
    ASSERT_NE(heap, nullptr);
  }
  void TearDown() override {
    OHDisposeHeap(heap);
    LeakCheckedTest::TearDown();
  }
  ObjHeap heap = nullptr;
};

TEST_F(ObjHeapTest, NewHeapLayout) {
  EXPECT_EQ(Word(heap, kOHKind), kKind);
  EXPECT_EQ(Word(heap, kOHBlockStart), 56u);
  EXPECT_EQ(Word(heap, kOHBlockStart2), 56u);
  EXPECT_EQ(Word(heap, kOHFreeHead), 56u);
  EXPECT_EQ(Word(heap, kOHEndOffset), 1000u + 79);
  EXPECT_EQ(AZGetHandleSize(heap), 1080);
  EXPECT_EQ(Word(heap, 56), (1000u + 24) | 1);
  EXPECT_EQ(OHFirstHeap(), heap);
  ObjHeap withExt = OHNewHeap(100, kKind, 130, 126);
  int32 ext = int32(Word(withExt, kOHExtension));
  EXPECT_EQ(ext, 56 + 12);
  EXPECT_EQ(OHBlockSize(withExt, ext), 132);
  EXPECT_EQ(OHBlockClass(withExt, ext), 126);
  EXPECT_EQ(OHNextHeap(withExt), heap);
  OHDisposeHeap(withExt);
  EXPECT_EQ(OHFirstHeap(), heap);
  EXPECT_EQ(OHListChanged(), 1);
}

TEST_F(ObjHeapTest, SizesAndPaddingBit) {
  int32 a = OHNewBlock(heap, 1, 5);
  int32 b = OHNewBlock(heap, 4, 5);
  int32 c = OHNewBlock(heap, 2, 5);
  EXPECT_EQ(OHBlockSize(heap, a), 2);
  EXPECT_EQ(SizeWordOf(heap, a), 16u | 2);
  EXPECT_EQ(OHBlockSize(heap, b), 4);
  EXPECT_EQ(SizeWordOf(heap, b), 16u);
  EXPECT_EQ(SizeWordOf(heap, c), 16u | 2);
  EXPECT_EQ(b, a + 16) << "first fit from the front";
  for (int i = 0; i < 4; ++i) EXPECT_EQ((*heap)[b + i], 0);
  CheckHeap(heap);
}

TEST_F(ObjHeapTest, FreeingMergesNeighbours) {
  int32 a = OHNewBlock(heap, 20, 1);
  int32 b = OHNewBlock(heap, 20, 1);
  int32 c = OHNewBlock(heap, 20, 1);
  int32 d = OHNewBlock(heap, 20, 1);
  (void)d;
  OHDisposeBlock(heap, a);
  OHDisposeBlock(heap, b);
  CheckHeap(heap);
  EXPECT_EQ(Word(heap, kOHFreeHead), uInt32(a - 12));
  EXPECT_EQ(Word(heap, uInt32(a - 12)), 64u | 1) << "one block spanning both";
  EXPECT_EQ(OHBlockFreed(), 1);
  // Free a, c then b: b's freeing joins all three.
  ObjHeap h2 = OHNewHeap(1000, kKind, 0, 0);
  int32 x = OHNewBlock(h2, 20, 1), y = OHNewBlock(h2, 20, 1), z = OHNewBlock(h2, 20, 1);
  OHNewBlock(h2, 20, 1);
  OHDisposeBlock(h2, x);
  OHDisposeBlock(h2, z);
  OHDisposeBlock(h2, y);
  CheckHeap(h2);
  EXPECT_EQ(Word(h2, uInt32(x - 12)), 96u | 1);
  OHDisposeHeap(h2);
  (void)c;
}

TEST_F(ObjHeapTest, FourByteRemainderIsASliverAbsorbedLater) {
  int32 a = OHNewBlock(heap, 20, 1);  // 32 bytes
  int32 keep = OHNewBlock(heap, 20, 1);
  OHDisposeBlock(heap, a);            // a free 32-byte block
  int32 b = OHNewBlock(heap, 16, 1);  // 28 bytes: leaves 4
  EXPECT_EQ(b, a);
  uInt32 sliver = uInt32(b - 12 + 28);
  EXPECT_EQ(Word(heap, sliver), 4u | 1);
  for (uInt32 f = Word(heap, kOHFreeHead); f; f = Word(heap, f + 4)) EXPECT_NE(f, sliver);
  CheckHeap(heap);
  OHDisposeBlock(heap, b);
  EXPECT_EQ(Word(heap, uInt32(b - 12)), 32u | 1) << "the sliver joined";
  CheckHeap(heap);
  (void)keep;
}

TEST_F(ObjHeapTest, ResizeInPlaceDownwardOrByMoving) {
  int32 a = OHNewBlock(heap, 40, 3);  // 52 bytes each
  int32 b = OHNewBlock(heap, 40, 3);
  int32 c = OHNewBlock(heap, 40, 3);
  int32 d = OHNewBlock(heap, 40, 3);
  int32 e = OHNewBlock(heap, 40, 3);
  std::memset(*heap + b, 0xB1, 40);
  // c freed: b grows into it and keeps its offset; the new bytes are zero.
  OHDisposeBlock(heap, c);
  int32 off = b;
  ASSERT_EQ(OHSetBlockSize(heap, &off, 92), kNoErr);  // 104 bytes: all of b and c
  EXPECT_EQ(off, b);
  EXPECT_EQ((*heap)[b + 39], 0xB1);
  for (int i = 40; i < 92; ++i) EXPECT_EQ((*heap)[b + i], 0);
  CheckHeap(heap);
  // a freed: b, with no room after it, moves down into a.
  OHDisposeBlock(heap, a);
  off = b;
  ASSERT_EQ(OHSetBlockSize(heap, &off, 120), kNoErr);
  EXPECT_EQ(off, a);
  EXPECT_EQ((*heap)[a], 0xB1);
  EXPECT_EQ((*heap)[a + 39], 0xB1);
  EXPECT_EQ((*heap)[a + 40], 0);
  EXPECT_EQ(OHBlockClass(heap, a), 3);
  CheckHeap(heap);
  // d, between used blocks, cannot grow where it is: it moves and its old place is freed.
  std::memset(*heap + d, 0xD4, 40);
  off = d;
  ASSERT_EQ(OHSetBlockSize(heap, &off, 700), kNoErr);
  EXPECT_NE(off, d);
  EXPECT_EQ((*heap)[off + 39], 0xD4);
  EXPECT_EQ(OHBlockSize(heap, off), 700);
  EXPECT_TRUE(Word(heap, uInt32(d - 12)) & 1) << "the old block is free";
  CheckHeap(heap);
  // Shrinking keeps the place and frees the tail.
  int32 before = off;
  ASSERT_EQ(OHSetBlockSize(heap, &off, 10), kNoErr);
  EXPECT_EQ(off, before);
  EXPECT_EQ(OHBlockSize(heap, off), 10);
  CheckHeap(heap);
  (void)e;
}

TEST_F(ObjHeapTest, ResizeFailsWithTwoWhenTheHeapCannotGrow) {
  ObjHeap big = OHNewHeap(40000, kKind, 0, 0);
  int32 a = OHNewBlock(big, 39000, 2);
  int32 b = OHNewBlock(big, 900, 2);
  std::memset(*big + a, 0x42, 100);
  std::vector<uInt8> before(*big, *big + AZGetHandleSize(big));
  PlatFailNextReservations(8);
  int32 off = a;
  EXPECT_EQ(OHSetBlockSize(big, &off, 60000), kMemFullErr);
  PlatFailNextReservations(0);
  EXPECT_EQ(off, a);
  std::vector<uInt8> after(*big, *big + AZGetHandleSize(big));
  EXPECT_EQ(before, after) << "the heap is unchanged";
  PlatFailNextReservations(8);
  EXPECT_EQ(OHNewBlock(big, 100000, 2), 0);
  PlatFailNextReservations(0);
  MemFullReset();
  OHDisposeHeap(big);
  (void)b;
}

TEST_F(ObjHeapTest, EmptyBlockAtTheEndOfTheHeap) {
  Capture cap;
  ObjHeap h = OHNewHeap(0, kKind, 0, 0);  // a block area of 24 bytes
  int32 first = OHNewBlock(h, 0, 1);       // 12 bytes
  int32 last = OHNewBlock(h, 0, 1);        // 12 bytes: its data offset is the heap's end
  EXPECT_EQ(uInt32(last), OHWord(h, kOHEndOffset) + 1);
  EXPECT_EQ(OHBlockSize(h, last), 0);
  OHSetBlockClass(h, last, 3);
  EXPECT_EQ(OHBlockClass(h, last), 3);
  OHDisposeBlock(h, last);
  OHDisposeBlock(h, first);
  EXPECT_EQ(cap.Count("Failure"), 0);
  CheckHeap(h);
  OHDisposeHeap(h);
}

TEST_F(ObjHeapTest, GrowthRetriesSmallerSteps) {
  // A request beyond the heap grows it.
  int32 a = OHNewBlock(heap, 5000, 9);
  ASSERT_NE(a, 0);
  EXPECT_EQ(OHBlockSize(heap, a), 5000);
  EXPECT_GE(AZGetHandleSize(heap), 5000 + 1080);
  CheckHeap(heap);
}

TEST_F(ObjHeapTest, RandomStepsAgainstAModel) {
  std::mt19937 rng(5);
  std::map<int32, std::pair<int32, uInt8>> model;  // offset -> (size, fill)
  const int steps = Scaled(100000);
  for (int i = 0; i < steps; ++i) {
    uInt32 r = rng() % 10;
    if (model.empty() || r < 4) {
      int32 n = int32(rng() % (rng() % 10 == 0 ? 3000 : 100));
      uInt8 fill = uInt8(rng());
      int32 off = OHNewBlock(heap, n, 1 + int32(rng() % 50));
      ASSERT_NE(off, 0);
      std::memset(*heap + off, fill, size_t(n));
      model[off] = {n, fill};
    } else {
      // A block near a random place of the heap: a walk to a random index
      // would cost more than the heap operations under test.
      auto it = model.lower_bound(int32(56 + rng() % uInt32(AZGetHandleSize(heap))));
      if (it == model.end()) it = model.begin();
      int32 off = it->first;
      auto [n, fill] = it->second;
      if (r < 7) {
        OHDisposeBlock(heap, off);
        model.erase(it);
      } else {
        int32 m = int32(rng() % (rng() % 10 == 0 ? 3000 : 120));
        int32 cls = OHBlockClass(heap, off);
        int32 oldData = int32(SizeWordOf(heap, off) & ~3u) - 12;  // usable and padding bytes
        int32 newOff = off;
        ASSERT_EQ(OHSetBlockSize(heap, &newOff, m), kNoErr);
        ASSERT_EQ(OHBlockClass(heap, newOff), cls);
        ASSERT_EQ(FirstOther(heap, newOff, std::min(n, m), 1, fill), -1) << "step " << i;
        ASSERT_EQ(FirstOther(heap, newOff + std::max(n, oldData), m - std::max(n, oldData), 1, 0), -1)
            << "added bytes zero";
        std::memset(*heap + newOff, fill, size_t(m));
        model.erase(it);
        model[newOff] = {m, fill};
      }
    }
    if (i % 97 == 0 || i == steps - 1) {
      ASSERT_NO_FATAL_FAILURE(CheckHeap(heap)) << "step " << i;
      for (auto& [off, v] : model) {
        ASSERT_GE(OHBlockSize(heap, off), v.first);
        ASSERT_EQ(FirstOther(heap, off, v.first, 7, v.second), -1) << "step " << i;
      }
    }
  }
}

int32 gVisits = 0;
int32 StopAtThird(ObjHeap, int32) { return ++gVisits == 3 ? kOHStopEnum : gVisits; }

TEST_F(ObjHeapTest, EnumerationStopsAndMarkPassesNest) {
  for (int i = 0; i < 5; ++i) OHNewBlock(heap, 8, 1);
  gVisits = 0;
  EXPECT_EQ(OHEnumBlocks(heap, StopAtThird), kOHStopEnum);
  EXPECT_EQ(gVisits, 3);
  gVisits = 0;
  OHForEachBlock(heap, StopAtThird);
  EXPECT_EQ(gVisits, 5) << "results are ignored";

  int32 first = 56 + 12;
  OHSetBlockMarkWord(heap, first, 77);
  EXPECT_EQ(OHBeginMarkPass(heap, 4), 1);
  EXPECT_EQ(OHBlockMarkWord(heap, first), 0) << "the first begin clears the marks";
  OHSetMarkWords(heap, 9);
  EXPECT_EQ(OHBlockMarkWord(heap, first), 9);
  EXPECT_EQ(OHBeginMarkPass(heap, 4), 0);
  EXPECT_EQ(Word(heap, kOHFlags) & kOHMarkPass, kOHMarkPass);
  {
    Capture cap;
    EXPECT_EQ(OHBeginMarkPass(heap, 5), 0);
    EXPECT_EQ(cap.Count("Failure"), 1) << "another kind asserts";
  }
  EXPECT_EQ(OHEndMarkPass(heap), 0);
  EXPECT_EQ(OHEndMarkPass(heap), 1);
  EXPECT_EQ(Word(heap, kOHFlags) & kOHMarkPass, 0u);
  EXPECT_EQ(Word(heap, kOHPassKind), 0u);
}

TEST_F(ObjHeapTest, CopyForwardWordsFollowTheFlags) {
  OHSetWord(heap, kOHFlags, kOHCopyForward);
  int32 a = OHNewBlock(heap, 8, 1);
  EXPECT_EQ(OHBlockMarkWord(heap, a), a);
  OHSetWord(heap, kOHFlags, kOHCopyForwardInv);
  int32 b = OHNewBlock(heap, 8, 1);
  EXPECT_EQ(uInt32(OHBlockMarkWord(heap, b)), ~uInt32(b) & ~1u);
  OHSetWord(heap, kOHFlags, 0);
  ObjHeap other = OHNewHeap(100, kKind, 0, 0);
  std::memcpy(*heap + a, "12345678", 8);
  int32 c = OHCopyBlock(heap, a, other);
  EXPECT_EQ(std::memcmp(*other + c, "12345678", 8), 0);
  EXPECT_EQ(OHBlockClass(other, c), 1);
  OHDisposeHeap(other);
}

std::multiset<int32> gSeen[2];
MgErr RecordSwap(ObjHeap, int32 off, int32 dir) {
  gSeen[dir].insert(off);
  return kNoErr;
}

TEST_F(ObjHeapTest, FileOrderRoundTripIsByteIdentical) {
  std::mt19937 rng(9);
  std::vector<int32> offs;
  for (int i = 0; i < 200; ++i) {
    int32 n = int32(rng() % 60);
    int32 off = OHNewBlock(heap, n, 1 + int32(rng() % 200));
    for (int32 k = 0; k < n; ++k) (*heap)[off + k] = uInt8(rng());
    offs.push_back(off);
  }
  for (int i = 0; i < 60; ++i) {
    size_t k = rng() % offs.size();
    OHDisposeBlock(heap, offs[k]);
    offs.erase(offs.begin() + long(k));
  }
  std::vector<uInt8> before(*heap, *heap + AZGetHandleSize(heap));
  gSeen[0].clear();
  gSeen[1].clear();
  ASSERT_EQ(OHByteSwapHeap(heap, RecordSwap, 1), kNoErr);
  EXPECT_EQ(Word(heap, kOHBlockStart), __builtin_bswap32(56u));
  EXPECT_EQ(Word(heap, kOHKind), kKind) << "the kind is not swapped";
  ASSERT_EQ(OHByteSwapHeap(heap, RecordSwap, 0), kNoErr);
  std::vector<uInt8> after(*heap, *heap + AZGetHandleSize(heap));
  EXPECT_EQ(before, after);
  std::multiset<int32> want(offs.begin(), offs.end());
  EXPECT_EQ(gSeen[0], want);
  EXPECT_EQ(gSeen[1], want);
}

// Corrupts one field of a heap in file order and checks that reading it fails, unchanged.
void ExpectRejected(ObjHeap h, uInt32 at, uInt32 bigEndianValue) {
  ASSERT_EQ(OHByteSwapHeap(h, nullptr, 1), kNoErr);
  uInt32 saved = OHWord(h, at);
  OHSetWord(h, at, bigEndianValue);
  std::vector<uInt8> before(*h, *h + AZGetHandleSize(h));
  EXPECT_EQ(OHByteSwapHeap(h, nullptr, 0), kArgErr) << "field at " << at;
  std::vector<uInt8> after(*h, *h + AZGetHandleSize(h));
  EXPECT_EQ(before, after);
  OHSetWord(h, at, saved);
  ASSERT_EQ(OHByteSwapHeap(h, nullptr, 0), kNoErr);
}

TEST_F(ObjHeapTest, MalformedFileHeapsAreRejectedWhole) {
  int32 a = OHNewBlock(heap, 20, 1);
  int32 b = OHNewBlock(heap, 20, 1);
  int32 c = OHNewBlock(heap, 20, 1);
  OHDisposeBlock(heap, b);
  uInt32 ha = uInt32(a - 12), hb = uInt32(b - 12), hc = uInt32(c - 12);
  auto be = [](uInt32 v) { return __builtin_bswap32(v); };
  ExpectRejected(heap, ha, be(0));                           // size 0
  ExpectRejected(heap, ha, be(6));                           // not a multiple of 4
  ExpectRejected(heap, ha, be(0x00100000));                  // past the end
  ExpectRejected(heap, hb + 4, be(hb));                      // free-list loop
  ExpectRejected(heap, hc + 8, be(0));                       // used block of class 0
  ExpectRejected(heap, kOHFlags, be(kOHMarkPass));           // stored pass bit
  ExpectRejected(heap, kOHFlags, be(kOHBusy));               // stored busy bit
  ExpectRejected(heap, kOHPassKind, be(0x00010001));         // pass word
  ExpectRejected(heap, kOHBlockStart2, be(60));              // block start
  ExpectRejected(heap, kOHFreeHead, be(ha));                 // list through a used block
  ExpectRejected(heap, kOHEndOffset, be(Word(heap, kOHEndOffset) + 4));
  // The extension must be the data of a used block.
  ExpectRejected(heap, kOHExtension, be(uInt32(a + 4)));    // inside a block
  ExpectRejected(heap, kOHExtension, be(uInt32(b)));        // a free block
  ExpectRejected(heap, kOHExtension, be(Word(heap, kOHEndOffset) - 2));  // the heap's last bytes
  CheckHeap(heap);
}

}  // namespace

// The one-read check answers as the two calls it stands for, for used,
// freed, interior and outside offsets and sizes around the block's.
TEST_F(ObjHeapTest, UsedBlockOfASizeAnswersAsTheTwoChecks) {
  const int32 a = OHNewBlock(heap, 20, 1), b = OHNewBlock(heap, 12, 1);
  OHNewBlock(heap, 8, 1);
  OHDisposeBlock(heap, b);
  for (int32 at : {a, b, a + 4, 0, -8, 100000}) {
    for (int32 bytes : {-1, 0, 19, 20, 21}) {
      const bool two = OHIsUsedBlock(heap, at) && OHBlockSize(heap, at) >= bytes;
      EXPECT_EQ(OHIsUsedBlockOf(heap, at, bytes), two) << at << " " << bytes;
    }
  }
}

// Every routine that changes a block's header or the heap's area counts a
// layout change, and a block's header read without the checks, or through
// a memo kept across the change, answers as the checks do.
TEST_F(ObjHeapTest, LayoutChangesAreCounted) {
  int32 a = OHNewBlock(heap, 21, 1), b = OHNewBlock(heap, 12, 1), usable = 0, cls = 0, u = -1, k = -1;
  OHBlockMemo memo;
  ASSERT_TRUE(OHUsedBlockReadMemo(&memo, heap, a, &u, &k));
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"new block", [&] { OHNewBlock(heap, 8, 1); }},
      {"freed block", [&] { OHDisposeBlock(heap, b); }},
      {"resized block", [&] { OHSetBlockSize(heap, &a, 40); }},
      {"reclassed block", [&] { OHSetBlockClass(heap, a, 7); }},
      {"grown heap", [&] { OHGrowHeap(heap, 64); }},
      {"file order", [&] { OHByteSwapHeap(heap, RecordSwap, 1), OHByteSwapHeap(heap, RecordSwap, 0); }},
      {"another heap", [&] { OHDisposeHeap(OHNewHeap(100, kKind, 0, 0)); }},
  };
  for (const auto& [what, change] : cases) {
    const uInt32 before = OHLayoutChanges();
    change();
    EXPECT_NE(OHLayoutChanges(), before) << what;
    ASSERT_TRUE(OHUsedBlockRead(heap, a, &usable, &cls)) << what;
    OHUsedBlockFacts(heap, a, &u, &k);
    EXPECT_TRUE(u == usable && k == cls) << what;
    EXPECT_TRUE(OHUsedBlockReadMemo(&memo, heap, a, &u, &k) && u == usable && k == cls) << what;
  }
  // At its end the count stays, and nothing read there holds: a memo kept
  // just before misses after the last change, and none is kept at the end.
  gOHLayoutChanges = kOHLayoutCountEnd - 1;
  ASSERT_TRUE(OHUsedBlockReadMemo(&memo, heap, a, &u, &k));
  for (int i = 0; i < 2; ++i) {
    const uInt32 before = OHLayoutChanges();
    OHSetBlockClass(heap, a, 9 + i);
    EXPECT_EQ(OHLayoutChanges(), kOHLayoutCountEnd);
    EXPECT_FALSE(OHLayoutSame(before));
    EXPECT_TRUE(OHUsedBlockReadMemo(&memo, heap, a, &u, &k) && k == 9 + i) << i;
  }
}
