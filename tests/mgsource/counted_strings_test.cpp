#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"
#include "mgsource/counted_strings.h"
#include "mgsource/pool.h"

namespace {


// A Pascal string from text.
struct PS {
  Str255 s;
  explicit PS(const std::string& t) {
    size_t n = t.size() > 255 ? 255 : t.size();
    s[0] = uChar(n);
    std::memcpy(s + 1, t.data(), n);
  }
  operator PStr() { return s; }
  operator ConstPStr() const { return s; }
};
std::string Text(ConstPStr p) { return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : "<null>"; }

// Handles made by the helpers below, disposed at the end of each test of the
// suites that check that nothing is left behind.
std::vector<UHandle> gMade;
UHandle Tracked(UHandle h) {
  gMade.push_back(h);
  return h;
}

CPStrHandle MakeList(const std::vector<std::string>& items) {
  int32 size = 4;
  for (auto& s : items) size += int32(s.size()) + 1;
  CPStrHandle h = reinterpret_cast<CPStrHandle>(AZNewHandle(size));
  gMade.push_back(reinterpret_cast<UHandle>(h));
  (*h)->cnt = int32(items.size());
  uChar* p = (*h)->str;
  for (auto& s : items) {
    *p++ = uChar(s.size());
    std::memcpy(p, s.data(), s.size());
    p += s.size();
  }
  return h;
}
std::vector<std::string> Items(CPStrHandle h) {
  std::vector<std::string> v;
  for (int32 i = 0; i < (*h)->cnt; ++i) v.push_back(Text(CPStrIndex(h, i)));
  return v;
}
int32 HSize(void* h) { return AZGetHandleSize(static_cast<UHandle>(h)); }

LStrHandle MakeLStr(const std::string& t, bool appZone = false, int32 slack = 0) {
  int32 size = 4 + int32(t.size()) + slack;
  UHandle h = appZone ? AZNewHandle(size) : DSNewHandle(size);
  gMade.push_back(h);
  LStrHandle l = reinterpret_cast<LStrHandle>(h);
  (*l)->cnt = int32(t.size());
  std::memcpy((*l)->str, t.data(), t.size());
  return l;
}
std::string LText(LStrHandle l) { return std::string(reinterpret_cast<const char*>((*l)->str), (*l)->cnt); }

// A suite whose tests leave the handles of the helpers to be disposed here.
class CountedStringTest : public ManagerTest {
 protected:
  void TearDown() override {
    std::sort(gMade.begin(), gMade.end());
    gMade.erase(std::unique(gMade.begin(), gMade.end()), gMade.end());
    for (UHandle h : gMade) {
      if (AZCheckHandle(h) == kNoErr) AZDisposeHandle(h);
      else if (DSCheckHandle(h) == kNoErr) DSDisposeHandle(h);
    }
    gMade.clear();
    ManagerTest::TearDown();
  }
};

}  // namespace

// ------------------------------------------------------------ Pascal strings

TEST(PStrings, CatKeeps255) {
  PS a(std::string(200, 'a')), b(std::string(200, 'b'));
  EXPECT_EQ(PStrCat(a, b), 255);
  EXPECT_EQ(a.s[0], 255);
  EXPECT_EQ(a.s[200], 'a');
  EXPECT_EQ(a.s[201], 'b');
  EXPECT_EQ(a.s[255], 'b');
  PS c("ab");
  EXPECT_EQ(PStrCat(c, PS("cd")), 4);
  EXPECT_EQ(Text(c), "abcd");
}

TEST(PStrings, NCpyCountRule) {
  PS src("hello");
  Str255 dst;
  std::memset(dst, 'x', sizeof dst);
  PStrNCpy(dst, src, 3);  // 3 bytes: length byte and two characters
  EXPECT_EQ(dst[0], 2);
  EXPECT_EQ(Text(dst), "he");
  EXPECT_EQ(dst[3], 'x');
  PStrNCpy(dst, src, 100);  // min(n, length + 1)
  EXPECT_EQ(Text(dst), "hello");
  EXPECT_EQ(dst[6], 'x');
  PStrNCpy(dst, src, 1);
  EXPECT_EQ(dst[0], 0);
  dst[0] = 9;
  PStrNCpy(dst, src, 0);  // no room at all: nothing written
  EXPECT_EQ(dst[0], 9);
  EXPECT_EQ(PStrCpy(dst, src), dst);
  EXPECT_EQ(Text(dst), "hello");
}

TEST(PStrings, Comparisons) {
  PS a("abc"), b("abd"), ab("ab"), A("ABC");
  EXPECT_EQ(PStrCmp(a, a), 0);
  EXPECT_EQ(PStrCmp(a, b), 'c' - 'd');
  EXPECT_EQ(PStrCmp(a, ab), 1);  // the difference of the lengths
  EXPECT_EQ(PStrCmp(ab, a), -1);
  EXPECT_EQ(PStrCmp(a, A), 'a' - 'A');
  EXPECT_EQ(PStrCaseCmp(a, A), 0);
  EXPECT_TRUE(PStrCaseEqual(a, A));
  EXPECT_FALSE(PStrEqual(a, A));
  EXPECT_TRUE(PStrEqual(a, PS("abc")));
  PS hi("\xE9"), lo("\x41");
  EXPECT_GT(PStrCmp(hi, lo), 0);  // unsigned bytes
  EXPECT_EQ(PStrCaseCmp(PS("\xC9t\xC9"), PS("\xE9T\xE9")), 0);
  ConstPStr pa = a, pA = A;
  EXPECT_EQ(PPStrCmp(&pa, &pA), 'a' - 'A');
  EXPECT_EQ(PPStrCaseCmp(&pa, &pA), 0);
}

TEST(PStrings, SelfComparisonIsEqualAtOnce) {
  // The same address is equal without reading the characters: even a
  // string whose length byte runs past its storage.
  static uChar lone[1] = {200};
  EXPECT_EQ(PStrCmp(lone, lone), 0);
  EXPECT_EQ(PStrCaseCmp(lone, lone), 0);
}

TEST(PStrings, Conversions) {
  char c[300];
  EXPECT_EQ(PToCStr(PS("abc"), c), 3);
  EXPECT_STREQ(c, "abc");
  Str255 p;
  std::string longText(300, 'z');
  EXPECT_EQ(CToPStr(longText.c_str(), p), 255);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(CToPStr("", p), 0);
  PStr t = TempCToPStr("temp");
  EXPECT_EQ(Text(t), "temp");
  EXPECT_EQ(TempCToPStr("x"), t);  // one shared buffer

  alignas(4) uChar lbuf[4 + 300];
  LStr* l = reinterpret_cast<LStr*>(lbuf);
  EXPECT_EQ(PToLStr(PS("long"), l), 4);
  EXPECT_EQ(l->cnt, 4);
  EXPECT_EQ(LToCStr(l, c), 4);
  EXPECT_STREQ(c, "long");
  l->cnt = 300;
  std::memset(l->str, 'q', 300);
  EXPECT_EQ(LToPStr(l, p), 255);
  l->cnt = -5;  // a negative count reads as 0
  EXPECT_EQ(LToPStr(l, p), 0);
  EXPECT_EQ(LToCStr(l, c), 0);
  EXPECT_STREQ(c, "");
}

TEST(LStrings, CompareOverTheShorterCount) {
  alignas(4) uChar ba[16], bb[16];
  LStr* a = reinterpret_cast<LStr*>(ba);
  LStr* b = reinterpret_cast<LStr*>(bb);
  a->cnt = 3;
  std::memcpy(a->str, "abc", 3);
  b->cnt = 5;
  std::memcpy(b->str, "abcde", 5);
  EXPECT_EQ(LStrCmp(a, b), -2);
  EXPECT_EQ(LStrCmp(b, a), 2);
  std::memcpy(b->str, "ABCDE", 5);
  EXPECT_EQ(LStrCmp(a, b), 'a' - 'A');
  EXPECT_EQ(LStrCaseCmp(a, b), -2);
  b->cnt = -1;
  EXPECT_EQ(LStrCmp(a, b), 3);
  EXPECT_EQ(BlockCmp("abc", "abd", 3), 'c' - 'd');
  EXPECT_EQ(BlockCmp("\xFF", "\x01", 1), 0xFE);
  EXPECT_EQ(BlockCmp("abc", "abd", 2), 0);
}

// ------------------------------------------------------------- long handles

class LStrHandles : public CountedStringTest {};

TEST_F(LStrHandles, AppendGrowsOnlyWhenNeeded) {
  LStrHandle h = MakeLStr("abc", false, 10);
  LStrHandle l = MakeLStr("de");
  int32 before = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  ASSERT_EQ(LStrHAppend(h, l), kNoErr);
  EXPECT_EQ(LText(h), "abcde");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), before);
  LStrHandle big = MakeLStr(std::string(40, 'x'));
  ASSERT_EQ(LStrHAppend(h, big), kNoErr);
  EXPECT_EQ((*h)->cnt, 45);
  EXPECT_GE(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 49);
  ASSERT_EQ(LStrHAppendFit(h, l), kNoErr);
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), 4 + 47);
  EXPECT_EQ(LText(h).substr(45), "de");
  // Appending a handle to itself.
  LStrHandle self = MakeLStr("xy", true);
  ASSERT_EQ(LStrHAppendFit(self, self), kNoErr);
  EXPECT_EQ(LText(self), "xyxy");
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(self)), 8);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(LStrHandles, AppendRejectsACountPastTheHandle) {
  LStrHandle h = MakeLStr("abc");
  LStrHandle bad = MakeLStr("de");
  (*bad)->cnt = 1000;
  EXPECT_EQ(LStrHAppend(h, bad), kArgErr);
  EXPECT_EQ(LText(h), "abc");
  EXPECT_EQ(Reports(), 1u);
  EXPECT_EQ(LStrHAppend(nullptr, h), kArgErr);
}

// --------------------------------------------------------------- CPStr lists

class CPStrLists : public CountedStringTest {};

TEST_F(CPStrLists, SizeIndexAndClamping) {
  CPStrHandle h = MakeList({"one", "two", "three"});
  EXPECT_EQ(CPStrSize(h), 4 + 4 + 4 + 6);
  EXPECT_EQ(Text(CPStrIndex(h, 0)), "one");
  EXPECT_EQ(Text(CPStrIndex(h, 2)), "three");
  EXPECT_EQ(Text(CPStrIndex(h, -5)), "one");
  EXPECT_EQ(Text(CPStrIndex(h, 99)), "three");
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(CPStrLists, InsertClampsAndResizesToFit) {
  CPStrHandle h = MakeList({"a", "b", "c"});
  ASSERT_EQ(CPStrInsert(h, PS("end"), 99), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"a", "b", "c", "end"}));
  ASSERT_EQ(CPStrInsert(h, PS("first"), -3), kNoErr);
  ASSERT_EQ(CPStrInsert(h, PS(""), 2), kNoErr);
  ASSERT_EQ(CPStrInsert(h, PS("x"), 0x7fffffff), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"first", "a", "", "b", "c", "end", "x"}));
  EXPECT_EQ(HSize(h), CPStrSize(h));
  // A string taken from the list itself, which the resize may move.
  ASSERT_EQ(CPStrInsert(h, CPStrIndex(h, 0), 1), kNoErr);
  EXPECT_EQ(Text(CPStrIndex(h, 1)), "first");
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(CPStrLists, RemoveAndReplaceKeepTheHandleAtItsSize) {
  CPStrHandle h = MakeList({"alpha", "beta", "gamma"});
  ASSERT_EQ(CPStrRemove(h, 1), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"alpha", "gamma"}));
  EXPECT_EQ(HSize(h), CPStrSize(h));
  ASSERT_EQ(CPStrReplace(h, PS("a much longer string"), 0), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"a much longer string", "gamma"}));
  EXPECT_EQ(HSize(h), CPStrSize(h));
  ASSERT_EQ(CPStrReplace(h, PS("g"), 50), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"a much longer string", "g"}));
  EXPECT_EQ(HSize(h), CPStrSize(h));
  ASSERT_EQ(CPStrRemove(h, -1), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"g"}));
  ASSERT_EQ(CPStrRemove(h, 0), kNoErr);
  EXPECT_EQ((*h)->cnt, 0);
  EXPECT_EQ(HSize(h), 4);
  // In a list without strings, a replacement becomes its only string.
  ASSERT_EQ(CPStrReplace(h, PS("only"), 3), kNoErr);
  EXPECT_EQ(Items(h), (std::vector<std::string>{"only"}));
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(CPStrLists, SetEmptyCompareAndEqual) {
  CPStrHandle h = MakeList({"x", "y"});
  ASSERT_EQ(CPStrSetEmpty(h), kNoErr);
  EXPECT_EQ((*h)->cnt, 1);
  EXPECT_EQ(HSize(h), 5);
  EXPECT_EQ(CPStrSize(h), 5);
  EXPECT_EQ(Text(CPStrIndex(h, 0)), "");
  CPStrHandle a = MakeList({"a", "b"}), b = MakeList({"a", "c"}), c = MakeList({"a", "b", "c"});
  EXPECT_EQ(CPStrCmp(a, b), 'b' - 'c');
  EXPECT_EQ(CPStrCmp(a, c), -1);
  EXPECT_EQ(CPStrCmp(c, a), 1);
  EXPECT_FALSE(CPStrEqual(a, c));
  CPStrHandle a2 = MakeList({"a", "b"});
  EXPECT_TRUE(CPStrEqual(a, a2));
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(CPStrLists, OutOfMemoryLeavesTheListUnchanged) {
  // A list in a block of its own, sized so that growing it by a long string
  // needs more memory from the pool, which a ceiling at the pool's present
  // size refuses.
  std::vector<std::string> items = {std::string(200, 'a'), "b", "c"};
  int32 size = 4 + 201 + 2 + 2;
  const int32 target = 5 * 4096 - 176;
  while (size < target) {
    int32 len = target - size - 1 > 255 ? 255 : target - size - 1;
    items.push_back(std::string(size_t(len), 'f'));
    size += len + 1;
  }
  CPStrHandle h = MakeList(items);
  ASSERT_EQ(HSize(h), target);
  MemPool* pool = PoolInitDefault();
  uInt32 old = PoolSetCeiling(pool, PoolSize(pool));
  MgErr insert = CPStrInsert(h, PS(std::string(255, 'z')), 1);
  MgErr replace = CPStrReplace(h, PS(std::string(255, 'z')), 1);
  PoolSetCeiling(pool, old);
  MemFullReset();
  EXPECT_EQ(insert, kMemFullErr);
  EXPECT_EQ(replace, kMemFullErr);
  EXPECT_EQ(Items(h), items);
  EXPECT_EQ(HSize(h), target);
  // With the memory back, the same insertion succeeds.
  ASSERT_EQ(CPStrInsert(h, PS(std::string(255, 'z')), 1), kNoErr);
  EXPECT_EQ(HSize(h), target + 256);
}

TEST_F(CPStrLists, BrokenListsAreReportedAndLeftAlone) {
  CPStrHandle h = MakeList({"ab", "cd"});
  (*h)->cnt = 5;  // more strings than the handle holds
  std::vector<uChar> before((*h)->str - 4, (*h)->str - 4 + HSize(h));
  EXPECT_EQ(CPStrInsert(h, PS("x"), 0), kArgErr);
  EXPECT_EQ(CPStrRemove(h, 0), kArgErr);
  EXPECT_EQ(CPStrReplace(h, PS("x"), 0), kArgErr);
  EXPECT_EQ(CPStrIndex(h, 4), nullptr);
  EXPECT_EQ(Text(CPStrIndex(h, 1)), "cd");  // strings inside the handle are still found
  EXPECT_EQ(CPStrSize(h), 10);
  EXPECT_EQ(std::vector<uChar>((*h)->str - 4, (*h)->str - 4 + HSize(h)), before);
  EXPECT_EQ(Reports(), 5u);

  CPStrHandle tail = MakeList({"ab"});
  (*tail)->str[0] = 200;  // a length that runs past the handle
  EXPECT_EQ(CPStrIndex(tail, 0), nullptr);
  (*tail)->cnt = -1;
  EXPECT_EQ(CPStrInsert(tail, PS("x"), 0), kArgErr);
  EXPECT_EQ(Reports(), 7u);
}

TEST_F(CPStrLists, NullAndEmptyHandlesAreReported) {
  EXPECT_EQ(CPStrIndex(nullptr, 0), nullptr);
  EXPECT_EQ(CPStrInsert(nullptr, PS("a"), 0), kArgErr);
  EXPECT_EQ(CPStrSetEmpty(nullptr), kArgErr);
  EXPECT_EQ(CPStrSize(nullptr), 0);
  CPStrHandle tiny = reinterpret_cast<CPStrHandle>(Tracked(AZNewHandle(2)));
  EXPECT_EQ(CPStrIndex(tiny, 0), nullptr);
  EXPECT_EQ(CPStrRemove(tiny, 0), kArgErr);
  CPStrHandle none = MakeList({});
  EXPECT_EQ(CPStrIndex(none, 0), nullptr);
  EXPECT_EQ(CPStrRemove(none, 0), kArgErr);
  EXPECT_EQ(Reports(), 8u);
  ASSERT_EQ(CPStrInsert(none, PS("first"), 5), kNoErr);  // an empty list takes an insertion
  EXPECT_EQ(Items(none), std::vector<std::string>{"first"});
  ASSERT_EQ(CPStrSetEmpty(tiny), kNoErr);
  EXPECT_EQ(HSize(tiny), 5);
}

// ------------------------------------------------------ counted-block lists

namespace {
void PutBE(std::vector<uChar>& v, uint32_t x) {
  v.push_back(uChar(x >> 24));
  v.push_back(uChar(x >> 16));
  v.push_back(uChar(x >> 8));
  v.push_back(uChar(x));
}
// A big-endian list of blocks, each padded to a multiple of 4.
std::vector<uChar> BlockList(const std::vector<std::string>& blocks) {
  std::vector<uChar> v;
  PutBE(v, uint32_t(blocks.size()));
  for (auto& b : blocks) {
    PutBE(v, uint32_t(b.size()));
    v.insert(v.end(), b.begin(), b.end());
    while (v.size() % 4) v.push_back(0);
  }
  return v;
}
UHandle ToHandle(const std::vector<uChar>& v) {
  UHandle h = Tracked(AZNewHandle(int32(v.size())));
  std::memcpy(*h, v.data(), v.size());
  return h;
}
std::string Block(LStrPtr p) { return p ? std::string(reinterpret_cast<const char*>(p->str), p->cnt) : "<null>"; }
}  // namespace

class BlockLists : public CountedStringTest {};

TEST_F(BlockLists, SwapAGoodBigEndianList) {
  UHandle h = ToHandle(BlockList({"hello", "", "abcd", "xyz"}));
  ASSERT_EQ(LStrListSwap(h), kNoErr);
  int32 count;
  std::memcpy(&count, *h, 4);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(Block(LStrListIndex(h, 0)), "hello");
  EXPECT_EQ(Block(LStrListIndex(h, 1)), "");
  EXPECT_EQ(Block(LStrListIndex(h, 2)), "abcd");
  EXPECT_EQ(Block(LStrListIndex(h, 3)), "xyz");
  EXPECT_EQ(Block(LStrListIndex(h, 42)), "xyz");  // pinned
  EXPECT_EQ(Block(LStrListIndex(h, -1)), "hello");
  EXPECT_EQ(Reports(), 0u);
  UHandle empty = ToHandle(BlockList({}));
  EXPECT_EQ(LStrListSwap(empty), kNoErr);
  EXPECT_EQ(LStrListIndex(empty, 0), nullptr);  // no blocks: reported
  EXPECT_EQ(Reports(), 1u);
}

TEST_F(BlockLists, LastLengthOverrunChangesNothing) {
  std::vector<uChar> v = BlockList({"hello", "abcd", "xyz"});
  // The last length claims more than the handle holds.
  size_t lastLen = v.size() - 8;
  v[lastLen + 2] = 0x10;
  // The handle sits between neighbours whose bytes must not change.
  UHandle before = Tracked(AZNewHandle(64)), h = ToHandle(v), after = Tracked(AZNewHandle(64));
  std::memset(*before, 0x5A, 64);
  std::memset(*after, 0xA5, 64);
  EXPECT_EQ(LStrListSwap(h), kArgErr);
  EXPECT_EQ(Reports(), 1u);
  EXPECT_EQ(std::vector<uChar>(*h, *h + v.size()), v);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ((*before)[i], 0x5A);
    ASSERT_EQ((*after)[i], 0xA5);
  }
}

TEST_F(BlockLists, BadListsAreRejected) {
  std::vector<std::vector<uChar>> bad;
  bad.push_back(BlockList({"ab"}));
  bad.back().push_back(0);  // ends short of the handle's end
  bad.push_back(BlockList({"ab", "cd"}));
  bad.back()[3] = 3;  // a count with more blocks than there are
  bad.push_back(BlockList({"ab"}));
  bad.back()[4] = 0x80;  // a negative length
  bad.push_back(BlockList({"abcdef"}));
  bad.back().resize(bad.back().size() - 2);  // unpadded last block
  bad.push_back({0x80, 0, 0, 0});  // a negative count
  for (auto& v : bad) {
    UHandle h = ToHandle(v);
    EXPECT_EQ(LStrListSwap(h), kArgErr);
    EXPECT_EQ(std::vector<uChar>(*h, *h + v.size()), v);
  }
  EXPECT_EQ(Reports(), bad.size());
  EXPECT_EQ(LStrListSwap(nullptr), kArgErr);
  EXPECT_EQ(LStrListIndex(nullptr, 0), nullptr);
  UHandle tiny = Tracked(AZNewHandle(3));
  EXPECT_EQ(LStrListSwap(tiny), kArgErr);
  EXPECT_EQ(Reports(), bad.size() + 3);
}

TEST_F(BlockLists, IndexStaysInsideTheHandle) {
  UHandle h = ToHandle(BlockList({"abc", "de"}));
  ASSERT_EQ(LStrListSwap(h), kNoErr);
  int32 count = 9;  // more blocks than there are
  std::memcpy(*h, &count, 4);
  EXPECT_EQ(Block(LStrListIndex(h, 1)), "de");
  EXPECT_EQ(LStrListIndex(h, 2), nullptr);
  EXPECT_EQ(Reports(), 1u);
}

// --------------------------------------------------------------- line ends

class LineEnds : public CountedStringTest {};

TEST_F(LineEnds, ToNativeGrowsBySingles) {
  LStrHandle h = MakeLStr("a\nb\r\nc");
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  ASSERT_EQ(StrHConvertToNative(h, 0, false), kNoErr);
  EXPECT_EQ(LText(h), "a\r\nb\r\nc");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), size + 1);
  ASSERT_EQ(StrHConvertFromNative(h, 0, false), kNoErr);
  EXPECT_EQ(LText(h), "a\nb\nc");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(h)), size - 1);
}

TEST_F(LineEnds, PairsAndSingles) {
  LStrHandle h = MakeLStr("\n\rx\r\r\n\n", true);
  ASSERT_EQ(StrHConvertToNative(h, 0, true), kNoErr);
  // LF CR is one end; CR alone; CR LF; LF alone.
  EXPECT_EQ(LText(h), "\r\nx\r\n\r\n\r\n");
  ASSERT_EQ(StrHConvertFromNative(h, 0, true), kNoErr);
  EXPECT_EQ(LText(h), "\nx\n\n\n");
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(h)), 4 + 5);
  LStrHandle lfcr = MakeLStr("a\n\rb");
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(lfcr));
  ASSERT_EQ(StrHConvertToNative(lfcr, 0, false), kNoErr);
  EXPECT_EQ(LText(lfcr), "a\r\nb");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(lfcr)), size);
}

TEST_F(LineEnds, FromAnOffsetOn) {
  LStrHandle h = MakeLStr("a\nb\nc");
  ASSERT_EQ(StrHConvertToNative(h, 2, false), kNoErr);
  EXPECT_EQ(LText(h), "a\nb\r\nc");
  ASSERT_EQ(StrHConvertFromNative(h, 4, false), kNoErr);
  EXPECT_EQ(LText(h), "a\nb\r\nc");  // the pair begins before the offset
  ASSERT_EQ(StrHConvertFromNative(h, 3, false), kNoErr);
  EXPECT_EQ(LText(h), "a\nb\nc");
  EXPECT_EQ(StrHConvertToNative(h, -1, false), kArgErr);
  ASSERT_EQ(StrHConvertToNative(h, 100, false), kNoErr);
  EXPECT_EQ(LText(h), "a\nb\nc");
}

TEST_F(LineEnds, ManyLinesRoundTrip) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += (i % 3 == 0 ? "line\n" : i % 3 == 1 ? "x\r" : "\r\n");
  LStrHandle h = MakeLStr(text);
  ASSERT_EQ(StrHConvertToNative(h, 0, false), kNoErr);
  std::string native = LText(h);
  for (size_t i = 0; i < native.size(); ++i) {
    if (native[i] == '\n') {
      ASSERT_EQ(native[i - 1], '\r') << i;
    }
    if (native[i] == '\r') {
      ASSERT_EQ(native[i + 1], '\n') << i;
    }
  }
  ASSERT_EQ(StrHConvertFromNative(h, 0, false), kNoErr);
  std::string back = LText(h);
  EXPECT_EQ(back.find('\r'), std::string::npos);
  EXPECT_EQ(size_t(std::count(back.begin(), back.end(), '\n')), 1000u);
}

TEST_F(LineEnds, BadHandlesAreReported) {
  EXPECT_EQ(StrHConvertToNative(nullptr, 0, false), kArgErr);
  EXPECT_EQ(StrHConvertFromNative(nullptr, 0, true), kArgErr);
  LStrHandle bad = MakeLStr("a\nb");
  (*bad)->cnt = 1 << 20;
  EXPECT_EQ(StrHConvertToNative(bad, 0, false), kArgErr);
  EXPECT_EQ(StrHConvertFromNative(bad, 0, false), kArgErr);
  EXPECT_EQ(Reports(), 4u);
}

// ----------------------------------------------------------------- patterns

namespace {
bool Match(const std::string& pattern, const std::string& name, int32 stop = 0, StrCompareProc cmp = nullptr) {
  return StrMatchPattern(reinterpret_cast<const uChar*>(pattern.data()), reinterpret_cast<const uChar*>(name.data()),
                         int32(pattern.size()), int32(name.size()), cmp, 0, stop);
}
}  // namespace

TEST(Patterns, Defaults) {
  EXPECT_TRUE(Match("*.txt", "A.TXT"));
  EXPECT_TRUE(Match("*.vi", "A.VI"));
  EXPECT_FALSE(Match("*.txt", "A.TXT2"));
  EXPECT_FALSE(Match("a?c", "ac"));
  EXPECT_TRUE(Match("a?c", "abc"));
  EXPECT_TRUE(Match("a`*", "a*"));
  EXPECT_FALSE(Match("a`*", "ab"));
  EXPECT_FALSE(Match("a`b", "aB"));  // an escaped character matches exactly
  EXPECT_TRUE(Match("a`", "a`"));   // an escape that ends the pattern stands for itself
  EXPECT_TRUE(Match("", ""));
  EXPECT_FALSE(Match("", "x"));
  EXPECT_TRUE(Match("*", ""));
  EXPECT_TRUE(Match("abc", "ABC"));
  EXPECT_FALSE(Match("abc", "ab"));
  EXPECT_FALSE(Match("abc", "abcd"));
  EXPECT_TRUE(Match("*a*b*c*", "xxaxxbxxcxx"));
  EXPECT_FALSE(Match("*a*b*c*", "xxcxxbxxaxx"));
  EXPECT_TRUE(Match("?*?", "ab"));
  EXPECT_FALSE(Match("?*?", "a"));
}

TEST(Patterns, StopCharacter) {
  const int32 bs = '\\';
  EXPECT_FALSE(Match("*", "dir\\file", bs));
  EXPECT_TRUE(Match("**", "dir\\file", bs));
  EXPECT_TRUE(Match("*\\*", "dir\\file", bs));
  EXPECT_FALSE(Match("*file", "dir\\file", bs));
  EXPECT_TRUE(Match("**file", "dir\\file", bs));
  EXPECT_FALSE(Match("dir?file", "dir\\file", bs));
  EXPECT_TRUE(Match("dir?file", "dir\\file"));
  EXPECT_TRUE(Match("a*\\b", "axy\\b", bs));
  EXPECT_TRUE(Match("a**b", "a\\x\\b", bs));
  EXPECT_FALSE(Match("a*b", "a\\x\\b", bs));
  EXPECT_TRUE(Match("***", "a\\b", bs));  // "**" then "*"
}

TEST(Patterns, ComparisonProcedure) {
  EXPECT_FALSE(Match("*.TXT", "a.txt", 0, StrNCmp));
  EXPECT_TRUE(Match("*.txt", "a.txt", 0, StrNCmp));
}

TEST(Patterns, StayInsideTheLengths) {
  // The buffers go on past the lengths given; nothing beyond them counts.
  const uChar pattern[] = "ab*zzzz";
  const uChar name[] = "abc";
  EXPECT_TRUE(StrMatchPattern(pattern, name, 3, 2, nullptr, 0, 0));
  EXPECT_FALSE(StrMatchPattern(pattern, name, 2, 3, nullptr, 0, 0));
  EXPECT_TRUE(StrMatchPattern(pattern, name, 0, 0, nullptr, 0, 0));
  EXPECT_FALSE(StrMatchPattern(pattern, name, -5, 3, nullptr, 0, 0));
}

TEST(Patterns, ManyStarsStayFast) {
  // A backtracking matcher takes exponential time here.
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "*a";
  pattern += "*b";
  EXPECT_FALSE(Match(pattern, std::string(2000, 'a')));
  EXPECT_TRUE(Match(pattern, std::string(2000, 'a') + "b"));
}

TEST(Patterns, FindMatchCh) {
  const uChar text[] = "ab`c*d?";
  int32 i = 0;
  EXPECT_TRUE(FFindMatchCh(text, &i, 7));
  EXPECT_EQ(i, 2);
  ++i;
  EXPECT_TRUE(FFindMatchCh(text, &i, 7));
  EXPECT_EQ(i, 4);
  ++i;
  EXPECT_TRUE(FindMatchCh(text, &i, 7, '#'));
  EXPECT_EQ(i, 6);
  i = 0;
  EXPECT_TRUE(FindMatchCh(text, &i, 7, 'b'));
  EXPECT_EQ(i, 1);
  i = 0;
  EXPECT_FALSE(FFindMatchCh(text, &i, 2));
  EXPECT_EQ(i, 2);
}
