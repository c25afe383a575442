// String primitives: cutting and joining, choosing and stripping, counted
// strings to and from C and Pascal strings, numbers as fixed-width text,
// refused handles and failing allocations that leave the outputs alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "rtlib/strprims.h"
#include "comma_locale.h"
#include "strings_test_support.h"

namespace {

using rttest::Dispose;
using rttest::DisposeList;
using rttest::NewList;
using rttest::NewString;
using rttest::Text;

using StrPrimsTest = rttest::StringTest;

const uChar* B(const std::string& s) { return reinterpret_cast<const uChar*>(s.data()); }
int32 N(const std::string& s) { return int32(s.size()); }

TEST_F(StrPrimsTest, SubStringPinsOffsetAndLength) {
  struct Case {
    std::string s;
    int32 offset, length;
    std::string want;
  } cases[] = {
      {"abc", 5, 2, ""},       {"abc", -3, 2, "ab"},   {"abcdef", 2, 3, "cde"}, {"abcdef", 4, 100, "ef"},
      {"abcdef", 1, -1, ""},   {"", 0, 5, ""},         {"abc", 3, 1, ""},       {"abc", 0, 0x7FFFFFFF, "abc"},
      {"abc", 0x7FFFFFFF, 1, ""},
  };
  for (const Case& c : cases) {
    LStrHandle s = NewString(c.s), out = nullptr;
    EXPECT_EQ(SubString(s, c.offset, c.length, &out), kNoErr);
    EXPECT_EQ(Text(out), c.want) << c.s << " " << c.offset << " " << c.length;
    EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(out)), 4 + N(c.want));
    Dispose(s);
    Dispose(out);
  }
  // In place: the input is the output.
  LStrHandle s = NewString("hello world");
  EXPECT_EQ(SubString(s, 6, 5, &s), kNoErr);
  EXPECT_EQ(Text(s), "world");
  Dispose(s);
  // A null string is the empty one.
  LStrHandle out = nullptr;
  EXPECT_EQ(SubString(nullptr, 0, 3, &out), kNoErr);
  EXPECT_EQ(Text(out), "");
  Dispose(out);
}

TEST_F(StrPrimsTest, SplitStringFollowsTheSearchStringsFirstByte) {
  struct Case {
    std::string s;
    int32 offset;
    const char* search;  // null: absent
    std::string before, after;
    int32 position;
  } cases[] = {
      {"a,b,c", 2, ",", "a,b", ",c", 3},
      {"a,b,c", 0, ",", "a", ",b,c", 1},
      {"a,b,c", -4, ",", "a", ",b,c", 1},
      {"a;b,c", 0, ",;", "a;b", ",c", 3},  // only the first byte counts
      {"abc", 0, "x", "abc", "", -1},
      {"abc", 1, "", "a", "bc", 1},
      {"abc", 1, nullptr, "a", "bc", 1},
      {"abc", 3, nullptr, "abc", "", -1},
      {"abc", 9, ",", "abc", "", -1},
      {"", 0, ",", "", "", -1},
  };
  for (const Case& c : cases) {
    LStrHandle s = NewString(c.s), k = c.search ? NewString(c.search) : nullptr;
    LStrHandle before = nullptr, after = nullptr;
    int32 pos = 99;
    EXPECT_EQ(SplitString(s, c.offset, k, &before, &after, &pos), kNoErr);
    EXPECT_EQ(Text(before), c.before) << c.s << " @" << c.offset;
    EXPECT_EQ(Text(after), c.after) << c.s << " @" << c.offset;
    EXPECT_EQ(pos, c.position) << c.s << " @" << c.offset;
    // Each output alone.
    LStrHandle only = nullptr;
    EXPECT_EQ(SplitString(s, c.offset, k, nullptr, &only, nullptr), kNoErr);
    EXPECT_EQ(Text(only), c.after);
    Dispose(only);
    for (LStrHandle* h : {&s, &k, &before, &after}) Dispose(*h);
  }
  // The input as one of the outputs.
  LStrHandle s = NewString("key=value"), k = NewString("="), after = nullptr;
  int32 pos;
  EXPECT_EQ(SplitString(s, 0, k, &s, &after, &pos), kNoErr);
  EXPECT_EQ(Text(s), "key");
  EXPECT_EQ(Text(after), "=value");
  EXPECT_EQ(SplitString(after, 1, k, &after, &s, &pos), kNoErr);
  EXPECT_EQ(Text(after), "=value");
  EXPECT_EQ(Text(s), "");
  EXPECT_EQ(pos, -1);
  for (LStrHandle* h : {&s, &k, &after}) Dispose(*h);
}

TEST_F(StrPrimsTest, IndexAndSelectConcat) {
  LStrArrayHandle list = NewList({"zero", "one", "two"});
  struct Case {
    int32 index;
    std::string want;
  } cases[] = {{0, "n:zero"}, {2, "n:two"}, {-1, "n:"}, {3, "n:"}, {0x7FFFFFFF, "n:"}};
  for (const Case& c : cases) {
    LStrHandle s = NewString("n:"), out = nullptr;
    EXPECT_EQ(IndexConcat(s, c.index, list, &out), kNoErr);
    EXPECT_EQ(Text(out), c.want) << c.index;
    // Appending in place.
    EXPECT_EQ(IndexConcat(s, c.index, list, &s), kNoErr);
    EXPECT_EQ(Text(s), c.want);
    Dispose(s);
    Dispose(out);
  }
  LStrHandle s = NewString("x"), t = NewString("T"), f = NewString("F"), out = nullptr;
  EXPECT_EQ(SelectConcat(s, 1, t, f, &out), kNoErr);
  EXPECT_EQ(Text(out), "xT");
  EXPECT_EQ(SelectConcat(s, 0, t, f, &out), kNoErr);
  EXPECT_EQ(Text(out), "xF");
  EXPECT_EQ(SelectConcat(out, -5, out, nullptr, &out), kNoErr);
  EXPECT_EQ(Text(out), "xFxF");
  for (LStrHandle* h : {&s, &t, &f, &out}) Dispose(*h);
  DisposeList(list);
}

TEST_F(StrPrimsTest, IndexLineConcatTakesLinesWithoutTheirEnds) {
  const std::string text = "x\r\ny\rz\n\nlast";
  struct Case {
    int32 line;
    std::string want;
  } cases[] = {{0, "p:x"}, {1, "p:y"}, {2, "p:z"}, {3, "p:"}, {4, "p:last"}, {5, "p:"}, {-1, "p:"}, {1 << 30, "p:"}};
  for (const Case& c : cases) {
    LStrHandle out = nullptr;
    EXPECT_EQ(IndexLineConcat(2, B("p:"), c.line, N(text), B(text), &out), kNoErr);
    EXPECT_EQ(Text(out), c.want) << c.line;
    Dispose(out);
  }
  LStrHandle out = nullptr;
  const std::string two = "x\r\ny";
  EXPECT_EQ(IndexLineConcat(0, nullptr, 1, N(two), B(two), &out), kNoErr);
  EXPECT_EQ(Text(out), "y");
  // Prefix and text both inside the output.
  EXPECT_EQ(IndexLineConcat(1, (*out)->str, 0, 1, (*out)->str, &out), kNoErr);
  EXPECT_EQ(Text(out), "yy");
  Dispose(out);
}

TEST_F(StrPrimsTest, StripFunctions) {
  LStrArrayHandle list = NewList({"ab", "a"});
  struct Case {
    std::string in;
    int32 index;
    std::string rest;
  } cases[] = {{"abc", 0, "c"}, {"acc", 1, "cc"}, {"b", -1, "b"}, {"", -1, ""}, {"ab", 0, ""}};
  for (const Case& c : cases) {
    int32 index = 99;
    LStrHandle rest = nullptr;
    EXPECT_EQ(IndexStrip(N(c.in), B(c.in), list, &index, &rest), kNoErr);
    EXPECT_EQ(index, c.index) << c.in;
    EXPECT_EQ(Text(rest), c.rest) << c.in;
    Dispose(rest);
  }
  int32 index = 99;
  LStrHandle rest = nullptr;
  EXPECT_EQ(IndexStrip(3, B("abc"), nullptr, &index, &rest), kNoErr);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(Text(rest), "abc");
  Dispose(rest);
  DisposeList(list);

  struct SCase {
    std::string in, t, f;
    uChar result;
    std::string rest;
  } scases[] = {
      {"TRUE!", "TRUE", "FALSE", 1, "!"}, {"FALSE!", "TRUE", "FALSE", 0, "!"}, {"maybe", "TRUE", "FALSE", 0, "maybe"},
      {"abc", "", "a", 1, "abc"},         {"abc", "abcd", "", 0, "abc"},      {"", "", "", 1, ""},
  };
  for (const SCase& c : scases) {
    uChar b = 7;
    LStrHandle r = nullptr;
    EXPECT_EQ(SelectStrip(N(c.in), B(c.in), N(c.t), B(c.t), N(c.f), B(c.f), &b, &r), kNoErr);
    EXPECT_EQ(b, c.result) << c.in;
    EXPECT_EQ(Text(r), c.rest) << c.in;
    Dispose(r);
  }
  // The input taken from the rest's own handle.
  LStrHandle r = NewString("yes, and");
  uChar b;
  EXPECT_EQ(SelectStrip((*r)->cnt, (*r)->str, 4, B("yes,"), 2, B("no"), &b, &r), kNoErr);
  EXPECT_EQ(Text(r), " and");
  Dispose(r);
}

TEST_F(StrPrimsTest, RefusedHandlesWriteNothing) {
  int32 fake[4] = {0, 0, 0, 0};
  LStrHandle bogus = reinterpret_cast<LStrHandle>(fake);
  LStrHandle out = NewString("kept");
  EXPECT_EQ(SubString(bogus, 0, 1, &out), kArgErr);
  EXPECT_EQ(SplitString(bogus, 0, nullptr, &out, nullptr, nullptr), kArgErr);
  EXPECT_EQ(IndexConcat(nullptr, 0, reinterpret_cast<LStrArrayHandle>(fake), &out), kArgErr);
  EXPECT_EQ(Text(out), "kept");
  // A string whose count runs past its block.
  LStrHandle bad = NewString("ab");
  (*bad)->cnt = 1000;
  EXPECT_EQ(SubString(bad, 0, 1, &out), kArgErr);
  LStrArrayHandle list = NewList({"a"});
  LStrHandle saved = (*list)->elt[0];
  (*list)->elt[0] = bad;
  int32 index = 5;
  EXPECT_EQ(IndexStrip(1, B("a"), list, &index, &out), kArgErr);
  EXPECT_EQ(index, 5);
  (*list)->elt[0] = saved;
  (*list)->dimSize = 1 << 20;
  EXPECT_EQ(IndexConcat(out, 0, list, &out), kArgErr);
  (*list)->dimSize = 1;
  (*bad)->cnt = 2;
  EXPECT_EQ(Text(out), "kept");
  Dispose(bad);
  Dispose(out);
  DisposeList(list);
  // A foreign output handle.
  LStrHandle foreign = bogus;
  EXPECT_NE(SubString(nullptr, 0, 0, &foreign), kNoErr);
  EXPECT_EQ(foreign, bogus);
}

TEST_F(StrPrimsTest, FailingAllocationsLeaveOutputsUnchanged) {
  LStrHandle s = NewString("alpha,beta"), k = NewString(",");
  LStrArrayHandle list = NewList({"al"});
  const std::string longIn(300, 'q');
  // Every allocation the call makes is failed in turn; the outputs hold
  // their old contents after each failure and the right ones at the end.
  for (int32 n = 1; n <= 4; ++n) {
    LStrHandle before = NewString("old-before"), after = nullptr;
    int32 pos = 42;
    MemFailNthAllocation(n);
    MgErr err = SplitString(s, 0, k, &before, &after, &pos);
    MemFailNthAllocation(0);
    if (err) {
      EXPECT_EQ(err, kMemFullErr);
      EXPECT_EQ(Text(before), "old-before");
      EXPECT_EQ(after, nullptr);
      EXPECT_EQ(pos, 42);
    } else {
      EXPECT_EQ(Text(before), "alpha");
      EXPECT_EQ(Text(after), ",beta");
    }
    Dispose(before);
    Dispose(after);

    LStrHandle rest = NewString("x");
    int32 index = 42;
    uChar b = 9;
    MemFailNthAllocation(n);
    err = IndexStrip(N(longIn), B(longIn), list, &index, &rest);
    MgErr err2 = SelectStrip(N(longIn), B(longIn), 1, B("q"), 0, nullptr, &b, &rest);
    MemFailNthAllocation(0);
    if (err) {
      EXPECT_EQ(index, 42);
    }
    if (err2) {
      EXPECT_EQ(b, 9);
    }
    if (err && err2) {
      EXPECT_EQ(Text(rest), "x");
    }
    if (!err2) {
      EXPECT_EQ(Text(rest), longIn.substr(1));
    }
    Dispose(rest);
  }
  // The first allocation failing is seen for certain.
  LStrHandle before = nullptr;
  int32 pos = 42;
  MemFailNthAllocation(1);
  EXPECT_EQ(SplitString(s, 0, k, &before, nullptr, &pos), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(before, nullptr);
  EXPECT_EQ(pos, 42);
  Dispose(s);
  Dispose(k);
  DisposeList(list);
}

TEST_F(StrPrimsTest, CountedStringsToCAndPascal) {
  const std::string text(300, 'a');
  LStrHandle s = NewString(text);
  // 0: a C string in a new application-zone handle.
  UHandle h = nullptr;
  EXPECT_EQ(LStrToXStr(s, &h, 0), kNoErr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AZGetHandleSize(h), 301);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*h)), text);
  // 1: a Pascal string cut to 255 in the same handle, resized.
  EXPECT_EQ(LStrToXStr(s, &h, kXStrPascal), kNoErr);
  EXPECT_EQ(AZGetHandleSize(h), 256);
  EXPECT_EQ((*h)[0], 255);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*h) + 1, 255), text.substr(0, 255));
  // Read back from the handle.
  LStrHandle back = nullptr;
  EXPECT_EQ(XStrToLStr(h, &back, kXStrPascal), kNoErr);
  EXPECT_EQ(Text(back), text.substr(0, 255));
  EXPECT_EQ(AZDisposeHandle(h), kNoErr);
  // 2 and 3: into a buffer.
  std::vector<uChar> buf(400, 0xEE);
  EXPECT_EQ(LStrToXStr(s, buf.data(), kXStrBuffer), kNoErr);
  EXPECT_EQ(buf[300], 0);
  EXPECT_EQ(buf[301], 0xEE);
  EXPECT_EQ(XStrToLStr(buf.data(), &back, kXStrBuffer), kNoErr);
  EXPECT_EQ(Text(back), text);
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(LStrToXStr(s, buf.data(), kXStrBuffer | kXStrPascal), kNoErr);
  EXPECT_EQ(buf[0], 255);
  EXPECT_EQ(buf[255], 'a');
  EXPECT_EQ(buf[256], 0xEE);
  EXPECT_EQ(XStrToLStr(buf.data(), &back, kXStrBuffer | kXStrPascal), kNoErr);
  EXPECT_EQ(Text(back), text.substr(0, 255));
  // A null source is the empty string, whatever the options.
  for (int32 opt = 0; opt < 4; ++opt) {
    EXPECT_EQ(XStrToLStr(nullptr, &back, opt), kNoErr);
    EXPECT_EQ(Text(back), "");
  }
  // A C string in a handle without its NUL stops at the block's end.
  UHandle noNul = AZNewHandle(3);
  std::memcpy(*noNul, "xyz", 3);
  EXPECT_EQ(XStrToLStr(noNul, &back, 0), kNoErr);
  EXPECT_EQ(Text(back), "xyz");
  // A Pascal length past the block is cut to it.
  (*noNul)[0] = 200;
  EXPECT_EQ(XStrToLStr(noNul, &back, kXStrPascal), kNoErr);
  EXPECT_EQ(Text(back), "yz");
  EXPECT_EQ(AZDisposeHandle(noNul), kNoErr);
  // Refused: no destination, and a handle of no zone.
  EXPECT_EQ(LStrToXStr(s, nullptr, 0), kArgErr);
  int32 fake[2] = {0, 0};
  void* fakeHandle = fake;
  EXPECT_EQ(LStrToXStr(s, &fakeHandle, 0), kArgErr);
  EXPECT_EQ(XStrToLStr(fake, &back, 0), kArgErr);
  // A handle that cannot be made.
  UHandle none = nullptr;
  MemFailNthAllocation(1);
  EXPECT_EQ(LStrToXStr(s, &none, 0), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(none, nullptr);
  Dispose(s);
  Dispose(back);
}

std::string MakeInt(MgErr (*fn)(int32, int32, LStrHandle*, int32), int32 width, int32 value, int32 size) {
  LStrHandle out = nullptr;
  EXPECT_EQ(fn(width, value, &out, size), kNoErr);
  std::string t = Text(out);
  Dispose(out);
  return t;
}

TEST_F(StrPrimsTest, IntegersAsFixedWidthText) {
  EXPECT_EQ(MakeInt(RTMakeHexStr, 4, 0x1FF, 1), "00FF");
  EXPECT_EQ(MakeInt(RTMakeHexStr, 0, 0x12345, 2), "2345");
  EXPECT_EQ(MakeInt(RTMakeHexStr, -1, -1, 4), "FFFFFFFF");
  EXPECT_EQ(MakeInt(RTMakeHexStr, 2, 0xABC, 4), "ABC");  // never cut
  EXPECT_EQ(MakeInt(RTMakeOctStr, 5, 0x1FF, 1), "00377");
  EXPECT_EQ(MakeInt(RTMakeOctStr, 1, 8, 2), "10");
  EXPECT_EQ(MakeInt(RTMakeOctStr, 0, -1, 0), "37777777777");
  auto dec = [](MgErr (*fn)(int32, int32, LStrHandle*), int32 w, int32 v) {
    LStrHandle out = nullptr;
    EXPECT_EQ(fn(w, v, &out), kNoErr);
    std::string t = Text(out);
    Dispose(out);
    return t;
  };
  EXPECT_EQ(dec(RTMakeDecStr, 5, -42), "  -42");
  EXPECT_EQ(dec(RTMakeDecStr, -1, -42), "-42");
  EXPECT_EQ(dec(RTMakeDecStr, 0, 0), "0");
  EXPECT_EQ(dec(RTMakeUDecStr, 12, -1), "  4294967295");
  // A width memory cannot hold gives 2 and leaves the output alone.
  LStrHandle out = NewString("same");
  EXPECT_EQ(RTMakeDecStr(0x7FFFFFFF, 1, &out), kMemFullErr);
  EXPECT_EQ(RTMakeHexStr(0x7FFFFFF0, 1, &out, 1), kMemFullErr);
  EXPECT_EQ(Text(out), "same");
  Dispose(out);
}

std::string MakeReal(MgErr (*fn)(int32, int32, int32, LStrHandle*, int32, const void*), int32 width, int32 precision,
                     double v, int32 usePoint = 0) {
  LStrHandle out = nullptr;
  EXPECT_EQ(fn(width, precision, usePoint, &out, kNumDBL, &v), kNoErr);
  std::string t = Text(out);
  Dispose(out);
  return t;
}

std::string Expected(double v, int32 code, int32 width, int32 point = '.') {
  char buf[256];
  int32 n = NumToTextFmt(&v, kNumDBL, code, buf, sizeof buf, point);
  std::string t(buf, size_t(n));
  if (int32(t.size()) < width) t.insert(0, size_t(width) - t.size(), ' ');
  return t;
}

TEST_F(StrPrimsTest, RealsAsFixedWidthText) {
  EXPECT_EQ(MakeReal(RTMakeFraStr, 8, 2, 3.14159), "    3.14");
  EXPECT_EQ(MakeReal(RTMakeFraStr, 0, -3, 2.5), Expected(2.5, 0, 0));
  EXPECT_EQ(MakeReal(RTMakeFraStr, 0, -3, 7.0), "7");
  EXPECT_EQ(MakeReal(RTMakeFraStr, 0, 99, 0.5), Expected(0.5, -63, 0));
  EXPECT_EQ(MakeReal(RTMakeFraStr, 0, 99, 0.5).size(), 65u);
  EXPECT_EQ(MakeReal(RTMakeExpStr, 12, 3, 12345.0), Expected(12345.0, 4, 12));
  EXPECT_EQ(MakeReal(RTMakeExpStr, 0, -2, 12345.0), Expected(12345.0, 1, 0));
  EXPECT_EQ(MakeReal(RTMakeExpStr, 0, 500, 1.0 / 3), Expected(1.0 / 3, 63, 0));
  EXPECT_EQ(MakeReal(RTMakeEngStr, 0, 2, 12345.0), Expected(12345.0, 102, 0));
  EXPECT_EQ(MakeReal(RTMakeEngStr, 0, -9, 12345.0), Expected(12345.0, 100, 0));
  EXPECT_EQ(MakeReal(RTMakeEngStr, 20, 999, 12345.0), Expected(12345.0, 162, 20));
  // The system point: "." until the locale asks otherwise.
  EXPECT_EQ(MakeReal(RTMakeFraStr, 0, 1, 2.5, 1), std::string(1, '2') + char(NumDefaultDecimalPt()) + "5");
  // A single and a complex value.
  float f = 1.5f;
  LStrHandle out = nullptr;
  EXPECT_EQ(RTMakeFraStr(6, 1, 0, &out, kNumSGL, &f), kNoErr);
  EXPECT_EQ(Text(out), "   1.5");
  double c[2] = {1, 2};
  EXPECT_EQ(RTMakeFraStr(0, 0, 0, &out, kNumCDB, c), kNoErr);
  char buf[256];
  EXPECT_EQ(Text(out), std::string(buf, size_t(NumToTextFmt(c, kNumCDB, 0, buf, 256, '.'))));
  // Refused: no data, a type that is not numeric.
  EXPECT_EQ(RTMakeExpStr(0, 1, 0, &out, kNumDBL, nullptr), kArgErr);
  EXPECT_EQ(RTMakeExpStr(0, 1, 0, &out, 40, c), kArgErr);
  Dispose(out);
}

TEST_F(StrPrimsTest, FixedFormsTooLongForTheBufferTurnToTheExponentForm) {
  // 1e300 with 63 fraction digits would need over 360 characters.
  std::string t = MakeReal(RTMakeFraStr, 0, 63, 1e300);
  EXPECT_LT(t.size(), 256u);
  EXPECT_EQ(t, Expected(1e300, -63, 0));
  EXPECT_NE(t.find('E'), std::string::npos) << t;
  // Padded all the same.
  EXPECT_EQ(MakeReal(RTMakeFraStr, 400, 63, -1e300).size(), 400u);
}

TEST_F(StrPrimsTest, EngineeringFormOf12345) {
  std::string t = MakeReal(RTMakeEngStr, 0, 2, 12345.0);
  // Three significant digits with an exponent that is a multiple of three.
  EXPECT_EQ(t.substr(0, 4), "12.3") << t;
  EXPECT_NE(t.find('3', 4), std::string::npos) << t;
}

TEST_F(StrPrimsTest, CommaAsTheSystemPoint) {
  CommaLocale comma;
  if (!comma.Made()) GTEST_SKIP() << "localedef cannot build a locale here";
  ASSERT_EQ(NumDefaultDecimalPt(), ',');
  EXPECT_EQ(MakeReal(RTMakeFraStr, 6, 2, 2.5, 1), "  2,50");
  EXPECT_EQ(MakeReal(RTMakeFraStr, 6, 2, 2.5, 0), "  2.50");
  EXPECT_EQ(MakeReal(RTMakeExpStr, 0, 1, 2.5, 1), Expected(2.5, 2, 0, ','));
}

}  // namespace
