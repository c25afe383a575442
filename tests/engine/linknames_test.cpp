// The linker's name table: the bucket hash, interning and release of names in
// the NAME heap, class codes, and the lookup of public entries in hand-built
// link tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/link/linker.h"
#include "engine_test_support.h"
#include "mgsource/counted_strings.h"
#include "mgsource/heap_exhaust.h"
#include "mgsource/path_test_util.h"

namespace {

using pathtest::PS;
using pathtest::Str;

int32 Hash(const std::string& s) { return LinkNameHash(PS(s)); }

class NameTable : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    heap_ = OHNewHeap(kNameHeapDataSize, kNameHeapKind, kNameTableSize, kNameTableClass);
    ASSERT_NE(heap_, nullptr);
    gLinkNameHeap = heap_;
  }
  void TearDown() override {
    gLinkNameHeap = nullptr;
    OHDisposeHeap(heap_);
    EngineTest::TearDown();
  }
  int32 Intern(const std::string& s, int32* bucket = nullptr) {
    int32 block = -1;
    int32 b = InternLinkName(PS(s), &block);
    if (bucket) *bucket = b;
    return block;
  }
  // The names of a bucket's chain, in chain order, with their blocks.
  std::vector<std::pair<int32, std::string>> Chain(int32 bucket) const {
    std::vector<std::pair<int32, std::string>> out;
    const uInt32 ext = OHWord(heap_, kOHExtension);
    for (int32 b = int32(OHWord(heap_, ext + 4 * uInt32(bucket))); b && out.size() < 10000;
         b = int32(OHWord(heap_, uInt32(b) + kNameBlockNext)))
      out.emplace_back(b, Str(*heap_ + b + kNameBlockName));
    return out;
  }
  std::vector<std::string> Names(int32 bucket) const {
    std::vector<std::string> out;
    for (auto& e : Chain(bucket)) out.push_back(e.second);
    return out;
  }
  std::vector<uChar> Bytes() const { return std::vector<uChar>(*heap_, *heap_ + AZGetHandleSize(heap_)); }
  static int32 UsedBlocks(ObjHeap h) {
    static int32 n;
    n = 0;
    OHForEachBlock(h, [](ObjHeap, int32) -> int32 { return ++n, 0; });
    return n;
  }
  ObjHeap heap_ = nullptr;
};

bool CaseLess(const std::string& a, const std::string& b) { return PStrCaseCmp(PS(a), PS(b)) < 0; }

// Names of the form letter + number, some starting with a capital, grouped
// by bucket: the first bucket holding at least n of them whose
// case-insensitive order is not their byte order.
std::vector<std::string> SharedBucket(size_t n) {
  std::map<int32, std::vector<std::string>> byBucket;
  for (int i = 0; i < 20000; ++i) {
    std::string s(1, char((i % 2 ? 'A' : 'a') + i % 26));
    s += std::to_string(i);
    auto& v = byBucket[Hash(s)];
    v.push_back(s);
    if (v.size() < n) continue;
    std::vector<std::string> bytes(v.end() - long(n), v.end()), folded = bytes;
    std::sort(bytes.begin(), bytes.end());
    std::sort(folded.begin(), folded.end(), CaseLess);
    if (bytes != folded) return folded;
  }
  return {};
}

// ---- the hash -----------------------------------------------------------------------

TEST(LinkNameHash, WorkedValues) {
  const struct {
    std::string name;
    int32 bucket;
  } cases[] = {
      {"", 0},
      {"a", 97},
      {"Main", 707},
      {"MAIN", 707},
      {"Add Numbers", 157},
      {"\xC9", 201},  // an accented capital is not folded...
      {"\xE9", 233},  // ...so its small form lands elsewhere
      {"abcdefghijklmnopqrstuvwxyz", 323},  // the high nibble folds back in
      {"ABCDEFGHIJ", 272},
      {"Main.vi", 621},
      {"MAIN.VI", 621},
  };
  for (const auto& c : cases) EXPECT_EQ(Hash(c.name), c.bucket) << c.name;
  EXPECT_EQ(LinkNameHash(nullptr), 0);
}

TEST(LinkNameHash, EveryNameGetsABucketInRange) {
  // Long names of high bytes drive the accumulator through the fold on every step.
  std::string s;
  for (int i = 0; i < 255; ++i) {
    s += char(255 - i);
    int32 b = Hash(s);
    EXPECT_GE(b, 0);
    EXPECT_LT(b, kLinkBucketCount);
  }
  EXPECT_EQ(Hash(std::string("\0\0", 2)), 0);
  EXPECT_EQ(Hash(std::string("a\0", 2)), 97 * 16 % kLinkBucketCount);
}

// ---- interning ----------------------------------------------------------------------

TEST_F(NameTable, NamesEqualIgnoringCaseShareOneBlock) {
  int32 bucket = -1;
  const int32 main = Intern("Main", &bucket);
  ASSERT_GT(main, 0);
  EXPECT_EQ(bucket, 707);
  EXPECT_EQ(LinkNameRefCount(main), 0);
  EXPECT_EQ(Str(LinkNameOf(main)), "Main");
  EXPECT_EQ(Intern("MAIN"), main);
  EXPECT_EQ(Intern("main"), main);
  EXPECT_EQ(Names(707), std::vector<std::string>{"Main"});
  EXPECT_EQ(Intern("Main.vi"), Intern("MAIN.VI"));
  // The reference count belongs to the callers and survives a lookup.
  LinkNameSetRefCount(main, 3);
  EXPECT_EQ(Intern("mAIN"), main);
  EXPECT_EQ(LinkNameRefCount(main), 3);
}

TEST_F(NameTable, AccentedCapitalsAreOtherNamesUnlessTheyShareABucket) {
  // Different buckets: two blocks, although the names compare equal.
  const int32 upper = Intern("\xC9t\xC9");
  const int32 lower = Intern("\xE9t\xE9");
  ASSERT_GT(upper, 0);
  ASSERT_GT(lower, 0);
  EXPECT_NE(upper, lower);
  EXPECT_EQ(PStrCaseCmp(LinkNameOf(upper), LinkNameOf(lower)), 0);
  // A pair that the hash happens to put in one bucket is found as one name:
  // the chain compares without regard to case in the whole Latin-1 range.
  ASSERT_EQ(Hash("ya\xC9yolgye"), Hash("ya\xE9yolgye"));
  const int32 first = Intern("ya\xC9yolgye");
  EXPECT_EQ(Intern("ya\xE9yolgye"), first);
  EXPECT_EQ(Str(LinkNameOf(first)), "ya\xC9yolgye");
}

TEST_F(NameTable, ChainsStayInCaseInsensitiveOrderWhateverTheInsertionOrder) {
  std::vector<std::string> names = SharedBucket(4);
  ASSERT_EQ(names.size(), 4u);
  const int32 bucket = Hash(names[0]);
  std::vector<std::string> order = names;
  std::sort(order.begin(), order.end());
  const int32 before = UsedBlocks(heap_);
  int permutations = 0;
  do {
    std::vector<int32> blocks;
    for (auto& n : order) blocks.push_back(Intern(n));
    EXPECT_EQ(Names(bucket), names);
    // Each name is found again, in any case.
    for (size_t i = 0; i < order.size(); ++i) {
      std::string upper = order[i];
      for (auto& c : upper) c = char(std::toupper(uChar(c)));
      EXPECT_EQ(Intern(upper), blocks[i]);
    }
    // Releasing in insertion order leaves the rest sorted, and then nothing.
    for (size_t i = 0; i < blocks.size(); ++i) {
      ReleaseLinkName(blocks[i]);
      auto rest = Names(bucket);
      EXPECT_EQ(rest.size(), blocks.size() - i - 1);
      EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end(), CaseLess));
    }
    EXPECT_EQ(UsedBlocks(heap_), before);
    ++permutations;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(permutations, 24);
}

TEST_F(NameTable, AnyBytesRoundTrip) {
  const std::vector<std::string> names = {
      "",
      std::string("\0", 1),
      std::string("a\0b", 3),
      "\x80\x9F\xA0\xFF",
      std::string(255, '\xFF'),
      std::string(255, 'Z'),
  };
  std::vector<int32> blocks;
  for (const auto& n : names) {
    int32 bucket = -1;
    int32 b = Intern(n, &bucket);
    ASSERT_GT(b, 0);
    EXPECT_EQ(bucket, Hash(n));
    EXPECT_EQ(Str(LinkNameOf(b)), n);
    EXPECT_EQ(OHBlockSize(heap_, b), int32((n.size() + kNameBlockOverhead + 1) & ~size_t(1)));
    EXPECT_EQ(OHBlockClass(heap_, b), kNameBlockClass);
    blocks.push_back(b);
  }
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(Intern(names[i]), blocks[i]) << i;
  EXPECT_EQ(std::set<int32>(blocks.begin(), blocks.end()).size(), names.size());
  EXPECT_EQ(Intern(std::string(255, 'z')), blocks[5]);
  // A null name is the empty name.
  int32 empty = -1;
  EXPECT_EQ(InternLinkName(nullptr, &empty), 0);
  EXPECT_EQ(empty, blocks[0]);
}

TEST_F(NameTable, ReleaseOfABlockNotInItsChainChangesNothing) {
  const int32 a = Intern("Alpha"), b = Intern("Beta");
  // A block of the heap's own that no chain holds, naming an interned name.
  const int32 stray = OHNewBlock(heap_, 5 + kNameBlockOverhead, kNameBlockClass);
  ASSERT_GT(stray, 0);
  std::memcpy(*heap_ + stray + kNameBlockName, "\x05" "Alpha", 6);
  const std::vector<uChar> bytes = Bytes();
  for (int32 off : {stray, 0, -4, a + 4, a + 1, b + 8, 8, AZGetHandleSize(heap_) - 4, AZGetHandleSize(heap_) + 64}) {
    ReleaseLinkName(off);
    EXPECT_EQ(Bytes(), bytes) << off;
  }
  // Released once, a block is gone from its chain: a second release is harmless.
  ReleaseLinkName(a);
  EXPECT_TRUE(Names(Hash("Alpha")).empty());
  const std::vector<uChar> after = Bytes();
  ReleaseLinkName(a);
  EXPECT_EQ(Bytes(), after);
  EXPECT_EQ(Str(LinkNameOf(b)), "Beta");
  EXPECT_EQ(qxtest::Reports::Get().Text(), "");
}

TEST_F(NameTable, ANameFromTheHeapItselfSurvivesItsGrowth) {
  // The heap must grow for the new block, which moves the handle; the name
  // passed lives in a block of that same heap.
  const int32 raw = OHNewBlock(heap_, 40, 9);
  ASSERT_GT(raw, 0);
  std::memcpy(*heap_ + raw, "\x0aNot yet in", 11);
  std::vector<int32> fillers;
  heapexhaust::FillFree(heap_, 9, &fillers);
  const int32 size = AZGetHandleSize(heap_);
  int32 block = 0;
  InternLinkName(*heap_ + raw, &block);
  ASSERT_GT(block, 0);
  EXPECT_GT(AZGetHandleSize(heap_), size);
  EXPECT_EQ(Str(LinkNameOf(block)), "Not yet in");
}

TEST_F(NameTable, AHeapThatCannotGrowGivesNoBlockAndKeepsItsChains) {
  const int32 known = Intern("Known");
  std::vector<int32> fillers;
  const uInt32 old = heapexhaust::Exhaust(heap_, 9, &fillers);
  const int32 bucket = Hash("Brand new");
  const auto chain = Chain(bucket);
  qxtest::Reports::Get().Clear();
  int32 block = -1;
  EXPECT_EQ(InternLinkName(PS("Brand new"), &block), bucket);
  EXPECT_EQ(block, 0);
  EXPECT_EQ(Chain(bucket), chain);
  EXPECT_EQ(qxtest::Reports::Get().Count("no room for a name"), 1);
  // Names already there are still found without room.
  EXPECT_EQ(Intern("KNOWN"), known);
  heapexhaust::Restore(old);
  EXPECT_GT(Intern("Brand new"), 0);
}

TEST_F(NameTable, WithoutTheHeapOrItsTableNothingIsInterned) {
  gLinkNameHeap = nullptr;
  int32 block = -1;
  EXPECT_EQ(InternLinkName(PS("Main"), &block), 707);
  EXPECT_EQ(block, 0);
  ReleaseLinkName(100);
  EXPECT_EQ(LinkNameOf(100), nullptr);
  // A heap without the 3,004-byte table.
  ObjHeap bare = OHNewHeap(1000, kNameHeapKind, 0, 0);
  gLinkNameHeap = bare;
  EXPECT_EQ(InternLinkName(PS("Main"), &block), 707);
  EXPECT_EQ(block, 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("NAME heap"), 2);
  gLinkNameHeap = heap_;
  OHDisposeHeap(bare);
}

// ---- class codes --------------------------------------------------------------------

TEST(LinkClassIndex, CodesMapToTheirIndexes) {
  const struct {
    uInt32 code;
    int32 index;
  } cases[] = {
      {FourCC("QXIN"), 0}, {FourCC("VIDS"), 1}, {FourCC("FPHP"), 2}, {FourCC("QXSB"), 3},
      {FourCC("GENH"), 4}, {FourCC("QXCC"), 5}, {FourCC("XFun"), 6}, {FourCC("QXPR"), 7},
      {FourCC("NONE"), 8}, {FourCC("qxin"), -1}, {FourCC("XFUN"), -1}, {FourCC("NAME"), -1},
      {FourCC("NIXQ"), -1}, {0, -1}, {0xFFFFFFFFu, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(LinkClassIndex(c.code), c.index) << std::hex << c.code;
}

// ---- lookup in hand-built tables ----------------------------------------------------

class LinkLookup : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    table_ = AZNewHClr(kRecords * int32(sizeof(LinkEntry)));
    ASSERT_NE(table_, nullptr);
    E(0).classFlags = kLinkRecordHeader;
    for (int32 i = 1; i < kRecords; ++i) E(i).classFlags = kLinkRecordFree;
    gLinkTable = table_;
    gLinkBuckets = buckets_.data();
  }
  void TearDown() override {
    gLinkTable = nullptr;
    gLinkBuckets = nullptr;
    AZDisposeHandle(table_);
    EngineTest::TearDown();
  }
  LinkEntry& E(int32 i) { return reinterpret_cast<LinkEntry*>(*table_)[i]; }
  // Builds a chain of entries in the given order: (index, class, flags, name block).
  void Chain(int32 bucket, const std::vector<std::array<int32, 4>>& entries) {
    int32* link = &buckets_[size_t(bucket)];
    for (const auto& e : entries) {
      *link = e[0];
      LinkEntry& r = E(e[0]);
      r.classFlags = uInt32(e[1]) << 24 | uInt32(e[2]);
      r.name = e[3];
      r.chain = 0;
      link = &r.chain;
    }
  }
  static constexpr int32 kRecords = 16;
  UHandle table_ = nullptr;
  std::vector<int32> buckets_ = std::vector<int32>(kLinkBucketCount, 0);
};

TEST_F(LinkLookup, AProxyRequestFindsTheVIButNotTheReverse) {
  constexpr int32 kName = 200;
  Chain(5, {{3, kLinkClassVI, kLinkFlagPublic, kName}});
  Chain(6, {{4, kLinkClassProxy, kLinkFlagPublic, kName}});
  EXPECT_EQ(FindLinkEntry(5, kLinkClassProxy, kName), 3);
  EXPECT_EQ(FindLinkEntry(5, kLinkClassVI, kName), 3);
  EXPECT_EQ(FindLinkEntry(6, kLinkClassVI, kName), 0);
  EXPECT_EQ(FindLinkEntry(6, kLinkClassProxy, kName), 0);  // 7 looks for 0 only
  EXPECT_EQ(FindLinkEntry(5, kLinkClassDataSpace, kName), 0);
}

TEST_F(LinkLookup, TheWalkMatchesNameAndClassAndStopsAtTheFirstReference) {
  constexpr int32 kMain = 100, kSub = 140;
  Chain(9, {
               {2, kLinkClassDataSpace, kLinkFlagPublic, kMain},
               {7, kLinkClassVI, kLinkFlagPublic, kSub},
               {5, kLinkClassVI, kLinkFlagPublic | kLinkFlagAlias, kMain},
               {1, kLinkClassSubr, kLinkFlagReference | kLinkFlagUnresolved, kMain},
               // Never reached: a public entry placed after a reference.
               {11, kLinkClassSubr, kLinkFlagPublic, kMain},
           });
  const struct {
    int32 cls, name, found;
  } cases[] = {
      {kLinkClassDataSpace, kMain, 2}, {kLinkClassVI, kSub, 7},   {kLinkClassVI, kMain, 5},
      {kLinkClassProxy, kSub, 7},      {kLinkClassSubr, kMain, 0}, {kLinkClassPanel, kMain, 0},
      {kLinkClassVI, 999, 0},          {kLinkClassNone, kMain, 0}, {-1, kMain, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FindLinkEntry(9, c.cls, c.name), c.found) << c.cls << " " << c.name;
  EXPECT_EQ(FindLinkEntry(10, kLinkClassVI, kMain), 0);  // an empty chain
  EXPECT_EQ(qxtest::Reports::Get().Text(), "");
}

TEST_F(LinkLookup, BrokenChainsAndBadBucketsEndTheWalkWithAReport) {
  constexpr int32 kName = 100;
  Chain(1, {{2, kLinkClassVI, kLinkFlagPublic, 50}, {3, kLinkClassVI, kLinkFlagPublic, 60}});
  E(3).chain = 2;  // a loop
  Chain(2, {{4, kLinkClassVI, kLinkFlagPublic, 50}});
  E(4).chain = kRecords + 5;  // past the table
  Chain(3, {{6, kLinkClassVI, kLinkFlagPublic, 50}});
  E(6).chain = -3;
  for (int32 bucket : {1, 2, 3}) EXPECT_EQ(FindLinkEntry(bucket, kLinkClassVI, kName), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("broken link hash chain"), 3);
  for (int32 bucket : {-1, kLinkBucketCount}) EXPECT_EQ(FindLinkEntry(bucket, kLinkClassVI, kName), 0);
  gLinkTable = nullptr;
  EXPECT_EQ(FindLinkEntry(1, kLinkClassVI, 50), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("FindLinkEntry without"), 3);
}

// ---- names and entries together -----------------------------------------------------

TEST_F(NameTable, InternedNamesSelectBothChains) {
  // An entry made under one spelling is found under another: the bucket and
  // the block come from the interned name.
  UHandle table = AZNewHClr(4 * int32(sizeof(LinkEntry)));
  std::vector<int32> buckets(kLinkBucketCount, 0);
  gLinkTable = table;
  gLinkBuckets = buckets.data();
  int32 block = 0;
  const int32 bucket = InternLinkName(PS("Add Numbers.vi"), &block);
  auto* e = reinterpret_cast<LinkEntry*>(*table);
  e[1].classFlags = uInt32(kLinkClassVI) << 24 | kLinkFlagPublic;
  e[1].name = block;
  buckets[size_t(bucket)] = 1;
  int32 again = 0;
  const int32 b2 = InternLinkName(PS("ADD NUMBERS.VI"), &again);
  EXPECT_EQ(FindLinkEntry(b2, LinkClassIndex(FourCC("QXPR")), again), 1);
  EXPECT_EQ(FindLinkEntry(b2, LinkClassIndex(FourCC("QXCC")), again), 0);
  gLinkTable = nullptr;
  gLinkBuckets = nullptr;
  AZDisposeHandle(table);
}

}  // namespace
