#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "mgsource/sorting.h"
#include "test_support.h"

namespace {

// Comparison of records whose first 4 bytes (native order, possibly unaligned)
// are the key; it checks that both addresses are whole elements of the array.
struct Arena {
  const uInt8* base;
  uInt32 count;
  uInt32 size;
  int calls = 0;
  bool outside = false;
};
thread_local Arena* gArena = nullptr;

int32 KeyOf(const void* p, uInt32 size) {
  int32 k = 0;
  std::memcpy(&k, p, size < 4 ? size : 4);
  return size == 1 ? int8(k) : size == 2 ? int16(k) : size == 3 ? (k << 8) >> 8 : k;
}

void CheckInside(const void* p) {
  const uInt8* b = static_cast<const uInt8*>(p);
  if (b < gArena->base || b >= gArena->base + gArena->count * gArena->size ||
      uInt32(b - gArena->base) % gArena->size != 0)
    gArena->outside = true;
}

int32 CompareRecords(const void* a, const void* b) {
  ++gArena->calls;
  CheckInside(a);
  CheckInside(b);
  int32 x = KeyOf(a, gArena->size), y = KeyOf(b, gArena->size);
  return x < y ? -1 : x > y ? 1 : 0;
}

std::vector<uInt8> Records(const std::vector<int32>& keys, uInt32 size) {
  std::vector<uInt8> v(keys.size() * size);
  for (size_t i = 0; i < keys.size(); ++i) {
    std::memcpy(&v[i * size], &keys[i], size < 4 ? size : 4);
    for (uInt32 j = 4; j < size; ++j) v[i * size + j] = uInt8(keys[i] * 31 + int32(j));  // payload
  }
  return v;
}

void SortAndCheck(std::vector<int32> keys, uInt32 size) {
  std::vector<uInt8> v = Records(keys, size);
  Arena arena{v.data(), uInt32(keys.size()), size};
  gArena = &arena;
  QSort(v.data(), int32(keys.size()), int32(size), CompareRecords);
  gArena = nullptr;
  ASSERT_FALSE(arena.outside) << "a comparison got an address outside the array";
  // Sorted keys, and the same multiset of whole records (payload moved with its key).
  std::vector<std::vector<uInt8>> got, want;
  std::vector<uInt8> orig = Records(keys, size);
  for (size_t i = 0; i < keys.size(); ++i) {
    got.emplace_back(v.begin() + long(i * size), v.begin() + long((i + 1) * size));
    want.emplace_back(orig.begin() + long(i * size), orig.begin() + long((i + 1) * size));
    if (i) {
      ASSERT_LE(KeyOf(&v[(i - 1) * size], size), KeyOf(&v[i * size], size)) << "size " << size;
    }
  }
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  ASSERT_EQ(got, want) << "size " << size;
}

TEST(Sorting, SmallCountsUseTheShortSteps) {
  std::vector<int32> one = {5};
  Arena a{reinterpret_cast<uInt8*>(one.data()), 1, 4};
  gArena = &a;
  QSort(one.data(), 1, 4, CompareRecords);
  QSort(one.data(), 0, 4, CompareRecords);
  EXPECT_EQ(a.calls, 0);
  std::vector<int32> two = {9, 3};
  Arena b{reinterpret_cast<uInt8*>(two.data()), 2, 4};
  gArena = &b;
  QSort(two.data(), 2, 4, CompareRecords);
  EXPECT_EQ(two, (std::vector<int32>{3, 9}));
  EXPECT_EQ(b.calls, 1);
  std::vector<int32> three = {8, 1, 5};
  Arena c{reinterpret_cast<uInt8*>(three.data()), 3, 4};
  gArena = &c;
  QSort(three.data(), 3, 4, CompareRecords);
  EXPECT_EQ(three, (std::vector<int32>{1, 5, 8}));
  EXPECT_EQ(c.calls, 3) << "the median step alone";
  gArena = nullptr;
}

TEST(Sorting, RandomRecordsOfEverySize) {
  std::mt19937 rng(11);
  for (uInt32 size : {1u, 2u, 3u, 4u, 6u, 8u, 12u}) {
    std::vector<int32> keys(10000);
    int32 range = size == 1 ? 100 : size == 2 ? 30000 : 1000000;
    for (auto& k : keys) k = int32(rng() % uInt32(range)) - range / 2;
    SortAndCheck(keys, size);
  }
}

TEST(Sorting, OrderedReversedEqualAndOrganPipeInputs) {
  const int n = 5000;
  std::vector<int32> sorted(n), reversed(n), equal(n, 7), pipe(n), sawtooth(n);
  for (int i = 0; i < n; ++i) {
    sorted[size_t(i)] = i;
    reversed[size_t(i)] = n - i;
    pipe[size_t(i)] = i < n / 2 ? i : n - i;
    sawtooth[size_t(i)] = i % 17;
  }
  for (auto* v : {&sorted, &reversed, &equal, &pipe, &sawtooth}) {
    SortAndCheck(*v, 4);
    SortAndCheck(*v, 6);
  }
}

TEST(Sorting, EqualKeysStayFastAndWithinTheStack) {
  // Equal keys split in the middle, so comparisons stay near n log n.
  std::vector<int32> equal(20000, 1);
  Arena a{reinterpret_cast<uInt8*>(equal.data()), 20000, 4};
  gArena = &a;
  QSort(equal.data(), 20000, 4, CompareRecords);
  gArena = nullptr;
  EXPECT_LT(a.calls, 20000 * 40);
}

int32 CompareWithData(const void* a, const void* b, void* data) {
  ++*static_cast<int*>(data);
  int32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y;
}

TEST(Sorting, QSortDataPassesTheCallersData) {
  std::vector<int32> v = {4, 2, 9, 1, 7, 3};
  int calls = 0;
  QSortData(v.data(), int32(v.size()), 4, CompareWithData, &calls);
  EXPECT_EQ(v, (std::vector<int32>{1, 2, 3, 4, 7, 9}));
  EXPECT_GT(calls, 0);
}

int32 CompareInt(const void* a, const void* b) {
  int32 x = *static_cast<const int32*>(a), y = *static_cast<const int32*>(b);
  return x < y ? -1 : x > y;
}

TEST(Sorting, BinarySearchGivesTheInsertionPointAsOnesComplement) {
  std::vector<int32> v = {1, 3, 7};
  int32 key = 5;
  EXPECT_EQ(BinSearch(v.data(), 0, 4, &key, CompareInt), -1);
  EXPECT_EQ(BinSearch(v.data(), 3, 4, &key, CompareInt), -3);
  key = 9;
  EXPECT_EQ(BinSearch(v.data(), 3, 4, &key, CompareInt), -4);
  key = 0;
  EXPECT_EQ(BinSearch(v.data(), 3, 4, &key, CompareInt), -1);
  for (int32 k : {1, 3, 7}) EXPECT_EQ(v[size_t(BinSearch(v.data(), 3, 4, &k, CompareInt))], k);
}

TEST(ByteOrder, ReversalsAndHalfSwap) {
  uInt8 q[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  RevBQ(q);
  const uInt8 rq[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_EQ(std::memcmp(q, rq, 8), 0);
  uInt8 l[5] = {0, 1, 2, 3, 4};
  RevBL(l + 1);  // unaligned
  const uInt8 rl[5] = {0, 4, 3, 2, 1};
  EXPECT_EQ(std::memcmp(l, rl, 5), 0);
  uInt8 w[3] = {0, 0xAB, 0xCD};
  SwapBW(w + 1);
  EXPECT_EQ(w[1], 0xCD);
  EXPECT_EQ(w[2], 0xAB);
  uInt32 v = (1u << 16) | 2u;
  EXPECT_EQ(SwapWL(&v), 1);
  EXPECT_EQ(v, (2u << 16) | 1u);
}

class HandleList : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    list = AZNewHClr(4);
  }
  void TearDown() override {
    AZDisposeHandle(list);
    LeakCheckedTest::TearDown();
  }
  std::vector<int32> Values() {
    int32 n;
    std::memcpy(&n, *list, 4);
    std::vector<int32> v(static_cast<size_t>(n));
    if (n > 0) std::memcpy(v.data(), *list + 4, size_t(n) * 4);
    return v;
  }
  UHandle list;
};

TEST_F(HandleList, InsertDeleteSearchAndSizes) {
  for (int32 v : {10, 20, 30}) ASSERT_EQ(HObjListInsert(list, v, 99), kNoErr);
  EXPECT_EQ(AZGetHandleSize(list), 16);
  ASSERT_EQ(HObjListInsert(list, 40, 100), kNoErr);
  EXPECT_EQ(Values(), (std::vector<int32>{10, 20, 30, 40}));
  EXPECT_EQ(AZGetHandleSize(list), 32) << "grows by 16 when the next slot is missing";
  ASSERT_EQ(HObjListInsert(list, 5, -3), kNoErr);
  EXPECT_EQ(Values(), (std::vector<int32>{5, 10, 20, 30, 40}));
  EXPECT_EQ(HObjListDelete(list, -5), 5);
  EXPECT_EQ(Values(), (std::vector<int32>{10, 20, 30, 40}));
  EXPECT_EQ(reinterpret_cast<int32*>(*list + 4)[4], 0) << "the freed slot is cleared";
  HObjListInsert(list, 20, 4);
  EXPECT_EQ(HObjListSearch(list, 20), 4) << "the higher of two";
  EXPECT_EQ(HObjListSearch(list, 99), -1);
  EXPECT_EQ(HObjListSearchDelete(list, 20), 1);
  EXPECT_EQ(Values(), (std::vector<int32>{10, 20, 30, 40}));
  EXPECT_EQ(HObjListSearchDelete(list, 77), 0);
  while (!Values().empty()) HObjListDelete(list, 0);
  EXPECT_EQ(HObjListDelete(list, 0), 0);
  EXPECT_LE(AZGetHandleSize(list), 16) << "shrinks as the list empties";
}

TEST_F(HandleList, BringToFrontAndItsDebugText) {
  for (int32 v : {1, 2, 3, 4}) HObjListInsert(list, v, 99);
  EXPECT_EQ(HObjListBringToFront(list, 3), 1);
  EXPECT_EQ(Values(), (std::vector<int32>{3, 1, 2, 4}));
  EXPECT_EQ(HObjListBringToFront(list, 3), 0);
  Capture cap;
  EXPECT_EQ(HObjListBringToFront(list, 42), 0);
  EXPECT_NE(cap.Debug().find("HObjListBringToFront: object not found!!!"), std::string::npos);
}

TEST_F(HandleList, CompactionKeepsOrderClearsAndShrinks) {
  for (int32 i = 0; i < 40; ++i) HObjListInsert(list, i % 3 == 0 ? 0 : i, 99);
  int32 before = AZGetHandleSize(list);
  HCompactObjList(list);
  std::vector<int32> want;
  for (int32 i = 0; i < 40; ++i)
    if (i % 3) want.push_back(i);
  EXPECT_EQ(Values(), want);
  EXPECT_EQ(AZGetHandleSize(list), (4 * int32(want.size()) + 19) & ~15);
  EXPECT_LT(AZGetHandleSize(list), before);
}

TEST(HandleListBad, NoHandleIsAnAssertion) {
  Capture cap;
  EXPECT_EQ(HObjListSearch(nullptr, 1), -1);
  EXPECT_NE(HObjListInsert(nullptr, 1, 0), kNoErr);
  EXPECT_GE(cap.Count("Failure"), 2);
}

TEST(CaseChange, CodePage1252Bytes) {
  EnsureMemInit();
  UHandle h = DSNewHandle(7);
  int32 n = 3;
  std::memcpy(*h, &n, 4);
  (*h)[4] = 0xE4;
  (*h)[5] = 0x62;
  (*h)[6] = 0x63;
  RTToUpper(reinterpret_cast<LStrHandle>(h));
  EXPECT_EQ((*h)[4], 0xC4);
  EXPECT_EQ((*h)[5], 0x42);
  EXPECT_EQ((*h)[6], 0x43);
  RTToLower(reinterpret_cast<LStrHandle>(h));
  EXPECT_EQ((*h)[4], 0xE4);
  EXPECT_EQ((*h)[5], 0x62);
  // A count beyond the handle changes only what the handle holds.
  n = 1000;
  std::memcpy(*h, &n, 4);
  RTToUpper(reinterpret_cast<LStrHandle>(h));
  EXPECT_EQ((*h)[6], 0x43);
  DSDisposeHandle(h);
  uInt8 buf[4] = {'a', 0x9A, 0xFF, '1'};
  BufToUpper(buf, 4);
  EXPECT_EQ(buf[0], 'A');
  EXPECT_EQ(buf[1], 0x8A);
  EXPECT_EQ(buf[2], 0x9F);
  EXPECT_EQ(buf[3], '1');
  uInt8 p[6] = {5, 'a', '\t', 'b', '\n', 'c'};
  PStrTabsToSpaces(p);
  EXPECT_EQ(std::memcmp(p + 1, "a b c", 5), 0);
}

}  // namespace

// ---- Inputs made to slow the sort down

namespace {

// McIlroy's adversary ("A Killer Adversary for Quicksort", 1999): the
// elements are indexes whose values are decided only as the sort compares
// them.  Undecided values ("gas") compare above decided ones; when two gas
// values meet, the one that is not the current pivot candidate is frozen
// first, so that the pivot ends up as small as possible.
struct Adversary {
  std::vector<int32> value;
  int32 gas;
  int32 solid = 0;
  int32 candidate = 0;
  int64_t calls = 0;
  explicit Adversary(int32 n) : value(size_t(n), n), gas(n) {}
  void Freeze(int32 x) { value[size_t(x)] = solid++; }
  int32 Compare(int32 x, int32 y) {
    ++calls;
    if (value[size_t(x)] == gas && value[size_t(y)] == gas) Freeze(x == candidate ? x : y);
    if (value[size_t(x)] == gas)
      candidate = x;
    else if (value[size_t(y)] == gas)
      candidate = y;
    return value[size_t(x)] < value[size_t(y)] ? -1 : value[size_t(x)] > value[size_t(y)];
  }
};

int32 AdversaryCompare(const void* a, const void* b, void* data) {
  int32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return static_cast<Adversary*>(data)->Compare(x, y);
}

// Plain comparison of 32-bit keys, counting its calls.
int64_t gCounted = 0;
int32 CountedCompare(const void* a, const void* b) {
  ++gCounted;
  int32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y;
}

double PerNLogN(int64_t calls, size_t n) { return double(calls) / (double(n) * std::log2(double(n))); }

// Sorts keys with QSort, checks the result and gives the comparisons per
// n log2 n.
double CountedSort(std::vector<int32> keys) {
  std::vector<int32> want = keys;
  std::sort(want.begin(), want.end());
  gCounted = 0;
  QSort(keys.data(), int32(keys.size()), 4, CountedCompare);
  EXPECT_EQ(keys, want);
  return PerNLogN(gCounted, keys.size());
}

// The adversary's input: sorted under the adversary once (which decides
// every value), then the values it chose, as a plain array.
std::vector<int32> AdversaryInput(int32 n, double* ratio) {
  Adversary adv(n);
  std::vector<int32> idx(static_cast<size_t>(n));
  for (int32 i = 0; i < n; ++i) idx[size_t(i)] = i;
  QSortData(idx.data(), n, 4, AdversaryCompare, &adv);
  *ratio = PerNLogN(adv.calls, size_t(n));
  for (int32 i = 1; i < n; ++i) EXPECT_LE(adv.value[size_t(idx[size_t(i - 1)])], adv.value[size_t(idx[size_t(i)])]);
  return adv.value;
}

// Musser's sequence against median-of-three pivots: 1, k+2, 3, k+4, ...
// then the even numbers, for n = 2k.
std::vector<int32> MedianOfThreeKiller(int32 n) {
  int32 k = n / 2;
  std::vector<int32> v(static_cast<size_t>(n));
  for (int32 i = 1; i <= k; ++i) {
    v[size_t(i - 1)] = (i % 2) ? i : k + i - 1;
    v[size_t(k + i - 1)] = 2 * i;
  }
  return v;
}

}  // namespace

// Comparisons per n log2 n stay at most 3 on inputs made against the pivot
// choice, where the quicksort alone needed about n squared / 4 (350 per
// n log2 n at n = 20,000).
TEST(SortingAdversary, StaysNLogNOnHostileInputs) {
  for (int32 n : {20000, 100000}) {
    SCOPED_TRACE(n);
    double adaptive = 0;
    std::vector<int32> input = AdversaryInput(n, &adaptive);
    EXPECT_LE(adaptive, 3.0);
    EXPECT_LE(CountedSort(input), 3.0);  // the same input, fixed in advance
    std::vector<int32> pipe(static_cast<size_t>(n));
    for (int32 i = 0; i < n; ++i) pipe[size_t(i)] = i < n / 2 ? i : n - i;
    EXPECT_LE(CountedSort(pipe), 3.0);
    EXPECT_LE(CountedSort(MedianOfThreeKiller(n)), 3.0);
  }
}

// Random input doesn't reach the heap sort's depth: a median-of-three
// quicksort makes about 12/7 n ln n = 1.19 n log2 n comparisons, and this
// one made 1.22 to 1.23 on these inputs before the depth limit came; the
// bound leaves 5 %.
TEST(SortingAdversary, RandomInputCostsWhatItDid) {
  for (int32 n : {20000, 100000}) {
    std::mt19937 rng(static_cast<uint32_t>(n));
    std::vector<int32> random(static_cast<size_t>(n));
    double sum = 0;
    for (int rep = 0; rep < 10; ++rep) {
      for (auto& x : random) x = int32(rng());
      sum += CountedSort(random);
    }
    EXPECT_LE(sum / 10, 1.23 * 1.05) << n;
  }
}

// The heap sort keeps the records whole and compares only elements of the
// array, for every exchange width, through both entries.
TEST(SortingAdversary, HeapSortedRangesKeepWholeRecords) {
  double ratio = 0;
  std::vector<int32> keys = AdversaryInput(3000, &ratio);
  ASSERT_LE(ratio, 3.0);  // the heap sort did the work
  for (uInt32 size : {2u, 3u, 4u, 6u, 8u, 12u}) SortAndCheck(keys, size);
  std::vector<int32> copy = keys;
  int calls = 0;
  QSortData(copy.data(), int32(copy.size()), 4, CompareWithData, &calls);
  EXPECT_TRUE(std::is_sorted(copy.begin(), copy.end()));
  EXPECT_LE(calls, 3 * 3000 * 12);
}
