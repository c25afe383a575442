// Offset lists inside object heaps.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "heap_exhaust.h"
#include "mgsource/objlist.h"
#include "test_support.h"

namespace {

constexpr uInt32 kKind = FourCC("LIST");

class ObjListTest : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    heap = OHNewHeap(1000, kKind, 132, 126);
    ASSERT_NE(heap, nullptr);
    list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
    ASSERT_NE(list, 0);
  }
  void TearDown() override {
    OHDisposeHeap(heap);
    ManagerTest::TearDown();
  }

  std::vector<int32> Entries() {
    std::vector<int32> v;
    for (int32 i = 0, n = ObjListCount(heap, list); i < n; ++i) v.push_back(ObjListGet(heap, list, i));
    return v;
  }
  void Fill(const std::vector<int32>& values) {
    for (int32 v : values) ASSERT_EQ(OHListInsert(heap, &list, v, kObjListAppend), kNoErr);
  }

  ObjHeap heap = nullptr;
  int32 list = 0;
};

TEST_F(ObjListTest, InsertPinsTheIndexAndGrowsBySixteenBytes) {
  EXPECT_EQ(OHBlockSize(heap, list), 8);
  Fill({10, 20, 30});
  EXPECT_EQ(Entries(), (std::vector<int32>{10, 20, 30}));
  EXPECT_EQ(OHBlockSize(heap, list), 16) << "room for count + 2 words, grown to (size + 16) rounded down to 16";
  ASSERT_EQ(OHListInsert(heap, &list, 40, 1000), kNoErr);
  ASSERT_EQ(OHListInsert(heap, &list, 5, -7), kNoErr);
  ASSERT_EQ(OHListInsert(heap, &list, 25, 3), kNoErr);
  EXPECT_EQ(Entries(), (std::vector<int32>{5, 10, 20, 25, 30, 40}));
  EXPECT_EQ(OHBlockSize(heap, list) % 16, 0);
  EXPECT_LE(OHBlockSize(heap, list), 4 * 6 + 4 + 16);
}

TEST_F(ObjListTest, AListThatMovesWritesItsNewOffsetBack) {
  // A block right after the list keeps it from growing in place.
  int32 after = OHNewBlock(heap, 40, 3);
  ASSERT_NE(after, 0);
  int32 before = list;
  Fill({1, 2});
  EXPECT_NE(list, before) << "the list moved";
  EXPECT_EQ(Entries(), (std::vector<int32>{1, 2}));
  // The offset may also live inside the heap itself.
  int32 ext = int32(OHWord(heap, kOHExtension));
  std::memcpy(*heap + ext, &list, 4);
  OHNewBlock(heap, 40, 3);
  for (int32 i = 0; i < 200; ++i)
    ASSERT_EQ(OHListInsert(heap, reinterpret_cast<int32*>(*heap + ext), 100 + i, kObjListAppend), kNoErr);
  std::memcpy(&list, *heap + ext, 4);
  ASSERT_EQ(ObjListCount(heap, list), 202);
  EXPECT_EQ(ObjListGet(heap, list, 201), 299);
}

TEST_F(ObjListTest, RemoveTakesThePinnedIndexAndShrinks) {
  EXPECT_EQ(OHListRemove(heap, list, 0), 0) << "an empty list";
  EXPECT_EQ(ObjListCount(heap, list), 0);
  EXPECT_EQ(OHBlockSize(heap, list), 8);
  std::vector<int32> values;
  for (int32 i = 1; i <= 40; ++i) values.push_back(i);
  Fill(values);
  int32 grown = OHBlockSize(heap, list);
  EXPECT_EQ(OHListRemove(heap, list, 1000), 40);
  EXPECT_EQ(OHListRemove(heap, list, -3), 1);
  EXPECT_EQ(OHListRemove(heap, list, 5), 7);
  EXPECT_EQ(ObjListCount(heap, list), 37);
  EXPECT_EQ(ObjListGet(heap, list, 5), 8);
  EXPECT_EQ(ObjListGet(heap, list, 37), 0) << "the freed last entry is cleared";
  int32 at = list;
  while (ObjListCount(heap, list) > 0) {
    OHListRemove(heap, list, 0);
    int32 n = ObjListCount(heap, list);
    EXPECT_LE(OHBlockSize(heap, list), 4 * (n + 1) + 16) << "never more than 16 spare bytes";
    EXPECT_GE(OHBlockSize(heap, list), 4 + 4 * n);
  }
  EXPECT_EQ(list, at) << "shrinking keeps the place";
  EXPECT_LT(OHBlockSize(heap, list), grown);
}

TEST_F(ObjListTest, FindAndIndexAnswerTheLastOccurrence) {
  Fill({7, 8, 7, 9});
  EXPECT_EQ(OHListFind(heap, list, 7), 2);
  EXPECT_EQ(OHListFind(heap, list, 6), -1);
  EXPECT_EQ(ObjListIndex(heap, list, 7, 70), 2);
  EXPECT_EQ(Entries(), (std::vector<int32>{7, 8, 70, 9}));
  EXPECT_EQ(ObjListIndex(heap, list, 5, 50), -1);
  EXPECT_EQ(Entries(), (std::vector<int32>{7, 8, 70, 9}));
  EXPECT_EQ(ObjListRemove(heap, list, 7), 1);
  EXPECT_EQ(Entries(), (std::vector<int32>{8, 70, 9}));
  EXPECT_EQ(ObjListRemove(heap, list, 7), 0);
  Capture cap;
  EXPECT_EQ(ObjListRemove(heap, list, 0), 0);
  EXPECT_EQ(cap.Count("objlist"), 1) << "removing 0 is reported";
}

TEST_F(ObjListTest, CompactKeepsTheOrderAndShrinks) {
  std::vector<int32> values;
  for (int32 i = 0; i < 50; ++i) values.push_back(i % 3 ? 0 : i);
  Fill(values);
  ObjListCompact(heap, list);
  std::vector<int32> kept;
  for (int32 v : values)
    if (v) kept.push_back(v);
  EXPECT_EQ(Entries(), kept);
  EXPECT_EQ(OHBlockSize(heap, list), (4 * int32(kept.size()) + 19) & ~15);
  for (int32 i = int32(kept.size()); 4 + 4 * i < OHBlockSize(heap, list); ++i) EXPECT_EQ(ObjListGet(heap, list, i), 0);
  Capture cap;
  ObjListCompact(heap, 0);
  EXPECT_EQ(cap.Count("objlist"), 1) << "a zero list offset is reported";
}

TEST_F(ObjListTest, RandomEditsAgreeWithAVector) {
  std::mt19937 rng(14);
  std::vector<int32> model;
  for (int32 step = 0; step < Scaled(4000); ++step) {
    int32 op = int32(rng() % 4);
    int32 v = int32(rng() % 50) + 1;
    int32 i = int32(rng() % 60) - 5;
    if (op < 2) {
      ASSERT_EQ(OHListInsert(heap, &list, v, i), kNoErr);
      int32 at = i < 0 ? 0 : i > int32(model.size()) ? int32(model.size()) : i;
      model.insert(model.begin() + at, v);
    } else if (op == 2) {
      int32 got = OHListRemove(heap, list, i);
      if (model.empty()) {
        EXPECT_EQ(got, 0);
      } else {
        int32 at = i < 0 ? 0 : i >= int32(model.size()) ? int32(model.size()) - 1 : i;
        EXPECT_EQ(got, model[size_t(at)]);
        model.erase(model.begin() + at);
      }
    } else {
      int32 found = -1;
      for (int32 k = int32(model.size()) - 1; k >= 0 && found < 0; --k)
        if (model[size_t(k)] == v) found = k;
      EXPECT_EQ(OHListFind(heap, list, v), found);
    }
    ASSERT_EQ(Entries(), model);
    ASSERT_GE(OHBlockSize(heap, list), 4 + 4 * int32(model.size()));
  }
}

TEST_F(ObjListTest, FailedGrowthChangesNothing) {
  Fill({1, 2, 3});  // full: 16 bytes
  std::vector<int32> fillers;
  uInt32 old = heapexhaust::Exhaust(heap, 3, &fillers);
  int32 before = list;
  MgErr err = OHListInsert(heap, &list, 4, 0);
  heapexhaust::Restore(old);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(list, before);
  EXPECT_EQ(Entries(), (std::vector<int32>{1, 2, 3}));
  for (int32 f : fillers) OHDisposeBlock(heap, f);
  EXPECT_EQ(OHListInsert(heap, &list, 4, 0), kNoErr);
  EXPECT_EQ(Entries(), (std::vector<int32>{4, 1, 2, 3}));
}

TEST_F(ObjListTest, ACountThatDoesNotFitItsBlockIsRefused) {
  int32 bad = 100;
  std::memcpy(*heap + list, &bad, 4);
  Capture cap;
  EXPECT_EQ(OHListFind(heap, list, 0), -1);
  EXPECT_EQ(OHListRemove(heap, list, 0), 0);
  EXPECT_NE(OHListInsert(heap, &list, 1, 0), kNoErr);
  EXPECT_EQ(cap.Count("objlist"), 3);
}

// The inline counts read the count word without the checked path's header
// read: over damaged counts and blocks that are no list they must answer,
// and report, exactly as the checked count does.
TEST_F(ObjListTest, InlineCountsAnswerAndReportAsTheCheckedCount) {
  int32 usable = 0, cls = 0;
  ASSERT_TRUE(OHUsedBlockRead(heap, list, &usable, &cls));
  const int32 room = (usable - 4) / 4;
  const int32 freed = OHNewBlock(heap, kObjListNewSize, kObjClassList);
  ASSERT_NE(freed, 0);
  OHDisposeBlock(heap, freed);
  struct Case {
    int32 at, stored;
  } cases[] = {{list, 0}, {list, 3}, {list, room}, {list, room + 1}, {list, 100}, {list, -1},
               {0, 0},    {list + 4, 0}, {freed, 0}};
  Capture cap;
  auto reports = [&] {
    std::string r = cap.Debug();
    for (const std::string& a : cap.Alerts()) r += "|" + a;
    cap.Clear();
    return r;
  };
  for (const Case& c : cases) {
    if (c.at == list) std::memcpy(*heap + list, &c.stored, 4);
    cap.Clear();
    const int32 want = ObjListCount(heap, c.at);
    const std::string wantReports = reports();
    EXPECT_EQ(ObjListCountRead(heap, c.at), want) << c.at << " " << c.stored;
    EXPECT_EQ(reports(), wantReports) << c.at << " " << c.stored;
    if (c.at != list) continue;
    EXPECT_EQ(ObjListCountSized(heap, list, usable), want) << c.stored;
    EXPECT_EQ(reports(), wantReports) << c.stored;
  }
}

}  // namespace
