// The token scanner: the documented cases, separators, operators and their
// "%" codes, the cache (the same tokens with and without it, rebuilt for
// other lists and from foreign or damaged handles), and bad handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "rtlib/tokenize.h"
#include "strings_test_support.h"

namespace {

using rttest::DisposeCache;
using rttest::DisposeList;
using rttest::NewList;
using rttest::NewString;
using rttest::Text;

class TokenizeTest : public qxtest::EngineTest {
 protected:
  void TearDown() override {
    MemFailNthAllocation(0);
    MemFullReset();
    EngineTest::TearDown();
  }
};

struct Tok {
  std::string text;
  int32 index;
  int32 offset;
  bool operator==(const Tok& o) const { return text == o.text && index == o.index && offset == o.offset; }
};
std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "\"" << t.text << "\" " << t.index << " @" << t.offset;
}

// One call.
struct Call {
  MgErr err;
  Tok tok;
};
Call TakeToken(LStrHandle s, LStrArrayHandle delims, LStrArrayHandle ops, int32 offset, bool useAll,
               TokenizeCache* cache) {
  LStrHandle token = nullptr;
  int32 index = 99;
  MgErr err = TokenizeString(s, delims, ops, &offset, useAll, &token, &index, cache);
  Call c{err, Tok{Text(token), index, offset}};
  rttest::Dispose(token);
  return c;
}

// Every token from offset 0 until the end is reported.
std::vector<Tok> Tokens(const std::string& text, const std::vector<std::string>& delims,
                        const std::vector<std::string>& ops, bool useAll = false, bool cached = false) {
  LStrHandle s = NewString(text);
  LStrArrayHandle d = NewList(delims), o = NewList(ops);
  TokenizeCache cache{};
  std::vector<Tok> out;
  int32 offset = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    Call c = TakeToken(s, d, o, offset, useAll, cached ? &cache : nullptr);
    // A cache cannot be built without lists.
    EXPECT_EQ(c.err, cached && delims.empty() && ops.empty() ? kArgErr : kNoErr);
    out.push_back(c.tok);
    offset = c.tok.offset;
    if (offset < 0) break;
  }
  DisposeCache(cache);
  DisposeList(d);
  DisposeList(o);
  rttest::Dispose(s);
  return out;
}

using Toks = std::vector<Tok>;

TEST_F(TokenizeTest, DocumentedCases) {
  struct Case {
    const char* text;
    std::vector<std::string> delims, ops;
    bool useAll;
    Toks want;
  } cases[] = {
      {"a+b", {}, {"+"}, false, {{"a", -1, 1}, {"+", 0, 2}, {"b", -1, 3}, {"", -2, -1}}},
      {"x=-12", {}, {"=", "%d"}, false, {{"x", -1, 1}, {"=", 0, 2}, {"-12", 1, 5}, {"", -2, -1}}},
      {"x=-12",
       {},
       {"=", "%d", "-"},
       false,
       {{"x", -1, 1}, {"=", 0, 2}, {"-", 2, 3}, {"12", 1, 5}, {"", -2, -1}}},
      {"a,,b", {","}, {}, true, {{"a", -1, 2}, {"", -1, 3}, {"b", -1, 4}, {"", -1, -1}}},
      {"a,,b", {","}, {}, false, {{"a", -1, 2}, {"b", -1, 4}, {"", -2, -1}}},
  };
  for (const Case& c : cases) {
    for (bool cached : {false, true}) EXPECT_EQ(Tokens(c.text, c.delims, c.ops, c.useAll, cached), c.want) << c.text;
  }
}

TEST_F(TokenizeTest, OffsetsOutsideTheStringAreTheEnd) {
  LStrHandle s = NewString("abc");
  LStrArrayHandle ops = NewList({"+"});
  for (int32 offset : {-5, -1, 3, 4, 1000}) {
    for (bool useAll : {false, true}) {
      Call c = TakeToken(s, nullptr, ops, offset, useAll, nullptr);
      EXPECT_EQ(c.err, kNoErr);
      EXPECT_EQ(c.tok, (Tok{"", useAll && offset >= 0 ? -1 : -2, -1})) << offset << " " << useAll;
    }
  }
  DisposeList(ops);
  rttest::Dispose(s);
  // An empty or null string is all end.
  EXPECT_EQ(TakeToken(nullptr, nullptr, nullptr, 0, false, nullptr).tok, (Tok{"", -2, -1}));
}

TEST_F(TokenizeTest, Separators) {
  struct Case {
    const char* text;
    std::vector<std::string> delims, ops;
    bool useAll;
    Toks want;
  } cases[] = {
      // White space of the C space class, all of it or one at a time.
      {"  a \t\n b\v\f\r ", {}, {}, false, {{"a", -1, 4}, {"b", -1, 9}, {"", -2, -1}}},
      {" a  b", {}, {}, true, {{"", -1, 1}, {"a", -1, 3}, {"", -1, 4}, {"b", -1, 5}, {"", -1, -1}}},
      {"a\x1f" "b", {}, {}, false, {{"a\x1f" "b", -1, 3}, {"", -2, -1}}},
      // The longest delimiter at a place wins.
      {"a--b", {"-", "--"}, {}, true, {{"a", -1, 3}, {"b", -1, 4}, {"", -1, -1}}},
      {"a--b", {"-"}, {}, true, {{"a", -1, 2}, {"", -1, 3}, {"b", -1, 4}, {"", -1, -1}}},
      {",,a,;,b,", {",", ";"}, {}, false, {{"a", -1, 4}, {"b", -1, 8}, {"", -2, -1}}},
      // With a delimiter list white space is part of tokens.
      {" a ,b", {","}, {}, false, {{" a ", -1, 4}, {"b", -1, 5}, {"", -2, -1}}},
      // Empty delimiters never match; a list of only those is still a list.
      {"a b,c", {"", ","}, {}, false, {{"a b", -1, 4}, {"c", -1, 5}, {"", -2, -1}}},
      {"a b", {""}, {}, false, {{"a b", -1, 3}, {"", -2, -1}}},
      // Operators and delimiters together.
      {"a+ b", {" "}, {"+"}, false, {{"a", -1, 1}, {"+", 0, 2}, {"b", -1, 4}, {"", -2, -1}}},
      {"a ,+", {" ,"}, {"+", ""}, false, {{"a", -1, 3}, {"+", 0, 4}, {"", -2, -1}}},
  };
  for (const Case& c : cases) {
    for (bool cached : {false, true})
      EXPECT_EQ(Tokens(c.text, c.delims, c.ops, c.useAll, cached), c.want) << "\"" << c.text << "\"";
  }
}

TEST_F(TokenizeTest, OperatorsAndTheirCodes) {
  struct Case {
    const char* text;
    std::vector<std::string> ops;
    Toks want;
  } cases[] = {
      // The longest operator wins; on a tie the first in the list.
      {"a<<=b<c", {"<", "<=", "<<="}, {{"a", -1, 1}, {"<<=", 2, 4}, {"b", -1, 5}, {"<", 0, 6}, {"c", -1, 7}, {"", -2, -1}}},
      {"12", {"%d", "%x"}, {{"12", 0, 2}, {"", -2, -1}}},
      {"12", {"%x", "%d"}, {{"12", 0, 2}, {"", -2, -1}}},
      {"12", {"%x", "12"}, {{"12", 0, 2}, {"", -2, -1}}},
      // Identifiers, hexadecimal, "%%".
      {"ab_1+1f%%x", {"%s", "+", "%x", "%%"},
       {{"ab_1", 0, 4}, {"+", 1, 5}, {"1f", 2, 7}, {"%", 3, 8}, {"%", 3, 9}, {"x", 0, 10}, {"", -2, -1}}},
      {"_x9 9x", {"%s"}, {{"_x9", 0, 3}, {"9", -1, 5}, {"x", 0, 6}, {"", -2, -1}}},
      // A number code never starts at a space or at a sign before a space.
      {"- 5", {"%d"}, {{"-", -1, 2}, {"5", 0, 3}, {"", -2, -1}}},
      {"+ 5.5", {"%f"}, {{"+", -1, 2}, {"5.5", 0, 5}, {"", -2, -1}}},
      {"+5.5", {"%F"}, {{"+5.5", 0, 4}, {"", -2, -1}}},
      {"-x", {"%d"}, {{"-x", -1, 2}, {"", -2, -1}}},
      // Each reader in either case.
      {"1012", {"%B"}, {{"101", 0, 3}, {"2", -1, 4}, {"", -2, -1}}},
      {"0789", {"%o"}, {{"07", 0, 2}, {"89", -1, 4}, {"", -2, -1}}},
      {"fFz", {"%X"}, {{"fF", 0, 2}, {"z", -1, 3}, {"", -2, -1}}},
      {"1.5e3x", {"%e"}, {{"1.5e3", 0, 5}, {"x", -1, 6}, {"", -2, -1}}},
      {"-2.5g", {"%G"}, {{"-2.5", 0, 4}, {"g", -1, 5}, {"", -2, -1}}},
      // A sign through a number code gives way to a sign operator.
      {"+3", {"%g", "+"}, {{"+", 1, 1}, {"3", 0, 2}, {"", -2, -1}}},
      {"=+3", {"=%d", "+"}, {{"=+3", 0, 3}, {"", -2, -1}}},
      // "%" with any other character, and a final "%".
      {"a%Sb", {"%S"}, {{"a", -1, 1}, {"%S", 0, 3}, {"b", -1, 4}, {"", -2, -1}}},
      {"x%y", {"x%"}, {{"x%", 0, 2}, {"y", -1, 3}, {"", -2, -1}}},
      {"v=%d1", {"=%d", "%d"}, {{"v=%d", -1, 4}, {"1", 1, 5}, {"", -2, -1}}},
      // Codes inside longer operators.
      {"r12c3!", {"r%dc%d"}, {{"r12c3", 0, 5}, {"!", -1, 6}, {"", -2, -1}}},
      {"r12c", {"r%dc%d"}, {{"r12c", -1, 4}, {"", -2, -1}}},
  };
  for (const Case& c : cases) {
    for (bool cached : {false, true}) EXPECT_EQ(Tokens(c.text, {}, c.ops, false, cached), c.want) << c.text;
  }
}

TEST_F(TokenizeTest, TheTokenHandleIsMadeReusedOrSharedWithTheString) {
  LStrHandle s = NewString("alpha beta");
  LStrHandle token = NewString("a much longer old token");
  LStrHandle keep = token;
  int32 offset = 0, index = 0;
  ASSERT_EQ(TokenizeString(s, nullptr, nullptr, &offset, false, &token, &index, nullptr), kNoErr);
  EXPECT_EQ(token, keep);
  EXPECT_EQ(Text(token), "alpha");
  EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(token)), 9);
  // The string itself as the token's handle.
  ASSERT_EQ(TokenizeString(s, nullptr, nullptr, &offset, false, &s, &index, nullptr), kNoErr);
  EXPECT_EQ(Text(s), "beta");
  EXPECT_EQ(offset, 10);
  EXPECT_EQ(TokenizeString(s, nullptr, nullptr, nullptr, false, &token, &index, nullptr), kArgErr);
  rttest::Dispose(s);
  rttest::Dispose(token);
}

// Handles that are not live data-zone handles, and counts past their
// blocks, are refused before anything is written.
TEST_F(TokenizeTest, BadStringAndListHandlesAreRefused) {
  LStrHandle good = NewString("a b");
  LStrArrayHandle list = NewList({"+"});
  UHandle az = AZNewHandle(12);
  std::memset(*az, 0, 12);
  LStrHandle foreign = reinterpret_cast<LStrHandle>(az);
  LStrArrayHandle foreignList = reinterpret_cast<LStrArrayHandle>(az);
  LStrHandle longCount = NewString("ab");
  (*longCount)->cnt = 3;
  LStrArrayHandle shortList = NewList({"+", "-"});
  (*shortList)->dimSize = 3;
  LStrArrayHandle badElement = NewList({"+", "-"});
  LStrHandle savedElement = (*badElement)->elt[1];
  (*badElement)->elt[1] = foreign;
  struct Case {
    const char* what;
    LStrHandle s;
    LStrArrayHandle delims, ops;
  } cases[] = {
      {"foreign string", foreign, nullptr, list},
      {"count past the string", longCount, nullptr, list},
      {"foreign delimiters", good, foreignList, list},
      {"foreign operators", good, nullptr, foreignList},
      {"array count past its block", good, shortList, nullptr},
      {"foreign element", good, nullptr, badElement},
  };
  for (const Case& c : cases) {
    ClearReports();
    LStrHandle token = nullptr;
    int32 offset = 0, index = 7;
    TokenizeCache cache{};
    EXPECT_EQ(TokenizeString(c.s, c.delims, c.ops, &offset, false, &token, &index, &cache), kArgErr) << c.what;
    EXPECT_EQ(token, nullptr) << c.what;
    EXPECT_EQ(offset, 0) << c.what;
    EXPECT_EQ(index, 7) << c.what;
    EXPECT_EQ(cache.firstChars, nullptr) << c.what;
    EXPECT_EQ(ReportText(), "") << c.what;
  }
  (*badElement)->elt[1] = savedElement;
  (*shortList)->dimSize = 2;
  (*longCount)->cnt = 2;
  DisposeList(badElement);
  DisposeList(shortList);
  DisposeList(list);
  rttest::Dispose(longCount);
  rttest::Dispose(good);
  AZDisposeHandle(az);
}

// ------------------------------------------------------------ the cache

struct Random {
  uInt32 seed;
  uInt32 Next(uInt32 n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 9) % n;
  }
  std::string Word(const char* alphabet, uInt32 most) {
    std::string w;
    uInt32 len = Next(most + 1);
    size_t k = std::strlen(alphabet);
    for (uInt32 i = 0; i < len; ++i) w += alphabet[Next(uInt32(k))];
    return w;
  }
  std::vector<std::string> List(const char* alphabet, uInt32 items, uInt32 most) {
    std::vector<std::string> l;
    uInt32 n = Next(items + 1);
    for (uInt32 i = 0; i < n; ++i) l.push_back(Word(alphabet, most));
    return l;
  }
};

const char* const kTextChars = "ab,;+- 1x%._";
const char* const kCodes[] = {"%d", "%x", "%s", "%%", "%", "%e", "+%d", "a%b", "%q", "%-"};

std::vector<std::string> RandomOperators(Random& r) {
  std::vector<std::string> ops = r.List(kTextChars, 5, 3);
  if (r.Next(2))
    ops.insert(ops.begin() + r.Next(uInt32(ops.size()) + 1), kCodes[r.Next(sizeof(kCodes) / sizeof(kCodes[0]))]);
  return ops;
}

TEST_F(TokenizeTest, TheCacheGivesTheSameTokensAsTheLists) {
  Random r{777};
  int rounds = qxtest::Scaled(10000);
  int built = 0;
  TokenizeCache cache{};
  LStrArrayHandle d = nullptr, o = nullptr;
  for (int round = 0; round < rounds; ++round) {
    // Lists change now and then under the same cache.
    if (round % 5 == 0) {
      DisposeList(d);
      DisposeList(o);
      d = NewList(r.List(",; -", 3, 2), r.Next(4) == 0);
      o = NewList(RandomOperators(r));
    }
    LStrHandle s = NewString(r.Word(kTextChars, 14));
    int32 offset = int32(r.Next(18)) - 2;
    bool useAll = r.Next(2);
    Call plain = TakeToken(s, d, o, offset, useAll, nullptr);
    Call viaCache = TakeToken(s, d, o, offset, useAll, &cache);
    rttest::Dispose(s);
    ASSERT_EQ(plain.err, kNoErr);
    bool lists = (d && (*d)->dimSize) || (o && (*o)->dimSize);
    ASSERT_EQ(viaCache.err, lists ? kNoErr : kArgErr) << round;
    ASSERT_EQ(viaCache.tok, plain.tok) << round;
    built += cache.firstChars != nullptr;
  }
  EXPECT_GT(built, rounds / 2);
  DisposeList(d);
  DisposeList(o);
  DisposeCache(cache);
}

// A cache built for other lists is built again: new operators are found,
// the old ones are not, and no index of the old lists is used.
TEST_F(TokenizeTest, ACacheOfOtherListsIsBuiltAgain) {
  LStrHandle s = NewString("a+b*c");
  LStrArrayHandle plus = NewList({"+"}), star = NewList({"*", "%s"}), many = NewList({"x", "y", "z", "*"});
  TokenizeCache cache{};
  EXPECT_EQ(TakeToken(s, nullptr, plus, 1, false, &cache).tok, (Tok{"+", 0, 2}));
  UHandle table = cache.firstChars;
  EXPECT_EQ(TakeToken(s, nullptr, star, 0, false, &cache).tok, (Tok{"a", 1, 1}));
  EXPECT_EQ(TakeToken(s, nullptr, star, 1, false, &cache).tok, (Tok{"+", -1, 2}));
  EXPECT_EQ(TakeToken(s, nullptr, star, 3, false, &cache).tok, (Tok{"*", 0, 4}));
  EXPECT_EQ(cache.firstChars, table);  // rebuilt in its own handles
  EXPECT_EQ(TakeToken(s, nullptr, many, 2, false, &cache).tok, (Tok{"b", -1, 3}));
  EXPECT_EQ(TakeToken(s, nullptr, many, 3, false, &cache).tok, (Tok{"*", 3, 4}));
  // The same lists with one string changed in place.
  std::memcpy((*(*many)->elt[3])->str, "+", 1);
  EXPECT_EQ(TakeToken(s, nullptr, many, 0, false, &cache).tok, (Tok{"a", -1, 1}));
  EXPECT_EQ(TakeToken(s, nullptr, many, 1, false, &cache).tok, (Tok{"+", 3, 2}));
  // Delimiters added to the same operators.
  LStrArrayHandle comma = NewList({"b"});
  EXPECT_EQ(TakeToken(s, comma, many, 2, false, &cache).tok, (Tok{"*c", -1, 5}));
  DisposeList(comma);
  DisposeList(plus);
  DisposeList(star);
  DisposeList(many);
  DisposeCache(cache);
  rttest::Dispose(s);
}

// Handles of a cache that are not live data-zone handles of its own are
// replaced without being read or freed; damaged contents are rebuilt.
TEST_F(TokenizeTest, ForeignOrDamagedCacheHandlesAreRebuilt) {
  LStrHandle s = NewString("k1=v2;k3=v4");
  LStrArrayHandle d = NewList({";"}), o = NewList({"=", "%d", "k"});
  Toks want = Tokens("k1=v2;k3=v4", {";"}, {"=", "%d", "k"});
  auto check = [&](TokenizeCache& cache, const char* what) {
    int32 offset = 0;
    for (const Tok& t : want) {
      Call c = TakeToken(s, d, o, offset, false, &cache);
      EXPECT_EQ(c.err, kNoErr) << what;
      EXPECT_EQ(c.tok, t) << what;
      offset = c.tok.offset;
    }
  };
  UHandle az = AZNewHandle(4 + 4 * kTokenTableEntries);
  std::memset(*az, 0xFF, size_t(4 + 4 * kTokenTableEntries));
  UHandle small = DSNewHandle(4);
  *reinterpret_cast<int32*>(*small) = kTokenTableEntries;
  {
    TokenizeCache cache{az, small, az, 0};
    ClearReports();
    check(cache, "foreign and short handles");
    EXPECT_NE(cache.firstChars, az);
    EXPECT_NE(cache.operatorOrder, az);
    EXPECT_EQ(cache.delimiterOrder, small);  // a data-zone handle is resized
    EXPECT_EQ(AZCheckHandle(az), kNoErr);
    EXPECT_EQ(ReportText(), "");
    small = nullptr;
    // Every word of a built cache damaged in turn.
    for (UHandle* field : {&cache.operatorOrder, &cache.delimiterOrder, &cache.firstChars}) {
      int32 words = DSGetHandleSize(*field) / 4;
      for (int32 w = 0; w < words; w += (w < 8 ? 1 : 37)) {
        int32* p = reinterpret_cast<int32*>(**field);
        int32 saved = p[w];
        p[w] = saved == 0 ? 0x7FFFFFFF : -saved;
        check(cache, "damaged word");
        EXPECT_EQ(reinterpret_cast<int32*>(**field)[w], saved) << w;
      }
    }
    // Two operators swapped in the order: each stays within the list.
    int32* order = reinterpret_cast<int32*>(*cache.operatorOrder) + 1;
    std::swap(order[0], order[1]);
    check(cache, "swapped order");
    EXPECT_LT(reinterpret_cast<int32*>(*cache.operatorOrder)[1], reinterpret_cast<int32*>(*cache.operatorOrder)[2]);
    cache.firstCodeOperator = 3;
    check(cache, "damaged first code operator");
    EXPECT_EQ(cache.firstCodeOperator, 2);
    DisposeCache(cache);
  }
  {
    // A cache handle that is one of the lists' own is not written over.
    TokenizeCache cache{reinterpret_cast<UHandle>(o), reinterpret_cast<UHandle>((*o)->elt[0]), nullptr, 0};
    check(cache, "handles of the lists");
    EXPECT_NE(cache.operatorOrder, reinterpret_cast<UHandle>(o));
    EXPECT_EQ(Text((*o)->elt[0]), "=");
    DisposeCache(cache);
  }
  AZDisposeHandle(az);
  DisposeList(d);
  DisposeList(o);
  rttest::Dispose(s);
}

TEST_F(TokenizeTest, ACacheWithNoListsGivesOneAndTheTokenStill) {
  LStrHandle s = NewString(" ab cd");
  LStrArrayHandle none = NewList({}, true);
  for (LStrArrayHandle list : {static_cast<LStrArrayHandle>(nullptr), none}) {
    TokenizeCache cache{};
    Call c = TakeToken(s, list, list, 0, false, &cache);
    EXPECT_EQ(c.err, kArgErr);
    EXPECT_EQ(c.tok, (Tok{"ab", -1, 4}));
    EXPECT_EQ(cache.firstChars, nullptr);
    EXPECT_EQ(cache.operatorOrder, nullptr);
  }
  // Also with a cache built before for lists.
  LStrArrayHandle ops = NewList({"c"});
  TokenizeCache cache{};
  EXPECT_EQ(TakeToken(s, nullptr, ops, 0, false, &cache).err, kNoErr);
  EXPECT_EQ(TakeToken(s, nullptr, none, 0, false, &cache).err, kArgErr);
  DisposeCache(cache);
  DisposeList(ops);
  DisposeList(none);
  rttest::Dispose(s);
}

// Every allocation of a cached call failed in turn: the error is memory
// full, and the cache then gives the right tokens.
TEST_F(TokenizeTest, AFailedAllocationLeavesNoWrongCache) {
  LStrHandle s = NewString("a=1;b=22");
  LStrArrayHandle d = NewList({";"}), o = NewList({"=", "%d"});
  Toks want = Tokens("a=1;b=22", {";"}, {"=", "%d"});
  int failures = 0;
  for (int32 n = 1; n < 12; ++n) {
    TokenizeCache cache{};
    MemFailNthAllocation(n);
    Call c = TakeToken(s, d, o, 0, false, &cache);
    MemFailNthAllocation(0);
    MemFullReset();
    if (c.err != kNoErr) {
      ++failures;
      EXPECT_EQ(c.err, kMemFullErr) << n;
    }
    int32 offset = 0;
    for (const Tok& t : want) {
      Call again = TakeToken(s, d, o, offset, false, &cache);
      EXPECT_EQ(again.tok, t) << n;
      offset = t.offset;
    }
    DisposeCache(cache);
  }
  EXPECT_GE(failures, 3);
  DisposeList(d);
  DisposeList(o);
  rttest::Dispose(s);
}

}  // namespace
