// Scan From String: the multi-argument node, the single-argument strip, the
// conversions of every class, the failure outputs, and values formatted and
// scanned back.
#include <dlfcn.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "rttable_start.h"
#include "mgsource/numconv.h"
#include "rtlib/strformat.h"
#include "rtlib/strscan.h"

namespace {

using fmttest::Args;
using fmttest::Dispose;
using fmttest::NewStr;
using fmttest::Text;

// What one DoScanfNode call gave.
struct Scanned {
  int32 result = 0;
  int32 index = 0;
  std::string rest;
  int32 past = -1;
};

class StrScan : public fmttest::FormatTest {
 protected:
  // DoScanfNode over the input from offset; defaults: one pointer per
  // argument (empty: no defaults array).
  static Scanned Scanf(const char* fmt, const std::string& input, Args& a, std::vector<const void*> defaults = {},
                       int32 offset = 0) {
    LStrHandle f = NewStr(fmt);
    LStrHandle in = NewStr(input);
    LStrHandle rest = nullptr;
    Scanned s;
    FmtArgList* list = a.List();
    s.result = DoScanfNode(nullptr, f, in, &rest, offset, &s.past, a.Count(),
                           defaults.empty() ? nullptr : defaults.data(), list);
    s.index = list->errIndex;
    s.rest = Text(rest);
    Dispose(rest);
    Dispose(in);
    Dispose(f);
    return s;
  }
  // FormatStrip of argument 0 of a; the remainder.
  static std::string Strip(const std::string& fmt, const std::string& input, Args& a, const void* def = nullptr) {
    LStrHandle rest = nullptr;
    EXPECT_EQ(FormatStrip(int32(input.size()), reinterpret_cast<const uChar*>(input.data()), a.TD(0), def,
                          a.Data(0), int32(fmt.size()), reinterpret_cast<const uChar*>(fmt.data()), &rest),
              kNoErr);
    std::string r = Text(rest);
    Dispose(rest);
    return r;
  }
};

// ------------------------------------------------------------ the walk

TEST_F(StrScan, NodeExamples) {
  Args a;
  a.I32(-1).I32(-1);
  Scanned s = Scanf("%d,%d", "12,34", a);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.index, 0);
  EXPECT_EQ(a.Get<int32>(0), 12);
  EXPECT_EQ(a.Get<int32>(1), 34);
  EXPECT_EQ(s.rest, "");
  EXPECT_EQ(s.past, 5);

  // The input ends before the second specifier: index 2, the default kept.
  Args b;
  b.I32(-1).I32(-1);
  int32 def = 7;
  s = Scanf("%d %d", "12", b, {nullptr, &def});
  EXPECT_EQ(s.result, -85);
  EXPECT_EQ(s.index, 2);
  EXPECT_EQ(b.Get<int32>(0), 12);
  EXPECT_EQ(b.Get<int32>(1), 7);
  EXPECT_EQ(s.rest, "");
  EXPECT_EQ(s.past, 2);
  Args c;
  c.I32(-1).I32(-1);
  s = Scanf("%d %d", "12", c);
  EXPECT_EQ(s.index, 2);
  EXPECT_EQ(c.Get<int32>(1), 0);

  Args d;
  d.I32(-1);
  s = Scanf("x%d", "y5", d);
  EXPECT_EQ(s.result, -85);
  EXPECT_EQ(s.index, 1);
  EXPECT_EQ(s.rest, "y5");
  EXPECT_EQ(d.Get<int32>(0), 0);

  Args e;
  e.I32(0).DBL(0);
  s = Scanf("", "3 4.5", e);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(e.Get<int32>(0), 3);
  EXPECT_EQ(e.Get<float64>(1), 4.5);

  Args g;
  g.Str("old");
  s = Scanf("%s", "abc def", g);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(Text(g.StrAt(0)), "abc");
  EXPECT_EQ(s.rest, " def");
  EXPECT_EQ(s.past, 3);
  Args h;
  h.Str("old");
  EXPECT_EQ(Strip("%s", "abc def", h), "");
  EXPECT_EQ(Text(h.StrAt(0)), "abc def");

  // Trailing format spaces after the input are skipped.
  Args t;
  t.I32(0);
  s = Scanf("%d  \t ", "5", t);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(t.Get<int32>(0), 5);
}

TEST_F(StrScan, LiteralsCodesAndSeparators) {
  const struct {
    const char* fmt;
    const char* input;
    int32 result;
    float64 value;
    const char* rest;
  } cases[] = {
      {"v=%f;", "v=2.5;x", 0, 2.5, "x"},
      {"%%%f", "%1.5", 0, 1.5, ""},
      {"\\t%f\\41", "\t3A", 0, 3, ""},
      {"%,;%f", "1,5", 0, 1.5, ""},
      {"%,;%;%f", "1.5", 0, 1.5, ""},
      {"%\\2C;%f|", "2,25|", 0, 2.25, ""},
      {"a b%f", "a \n\r\f\t b7", 0, 7, ""},  // white space meets any run
      {"%f", " \t\r\n 8 rest", 0, 8, " rest"},
      {"ab%f", "aX1", -85, 0, "X1"},
      {"abc%f", "ab", -85, 0, ""},          // the input ends inside the text
      {"%f%%", "1#", -85, 1, "#"},
      {"%f", "x", -85, 0, "x"},
      {"%f %", "4 %", 0, 4, ""},
  };
  for (const auto& c : cases) {
    Args a;
    a.DBL(-1);
    Scanned s = Scanf(c.fmt, c.input, a);
    EXPECT_EQ(s.result, c.result) << c.fmt;
    EXPECT_EQ(a.Get<float64>(0), c.value) << c.fmt;
    EXPECT_EQ(s.rest, c.rest) << c.fmt;
  }
}

// ------------------------------------------------------------ classes

TEST_F(StrScan, Integers) {
  const struct {
    const char* fmt;
    const char* input;
    int64 value;
    const char* rest;
  } cases[] = {
      {"%3d", "12345", 123, "45"},     {"%x", "ff", 255, ""},     {"%X", "1A2b", 0x1A2B, ""},
      {"%o", "17", 15, ""},            {"%b", "1012", 5, "2"},    {"%d", "-42", -42, ""},
      {"%u", "4294967295", -1, ""},    {"%d", "+7", 7, ""},       {"%ld", "  \n9", 9, ""},
      {"%hd", "5", 5, ""},             {"%2d", "  123", 12, "3"}, {"%d", "99999999999999", 2147483647, ""},
  };
  for (const auto& c : cases) {
    Args a;
    a.I32(0);
    Scanned s = Scanf(c.fmt, c.input, a);
    EXPECT_EQ(s.result, std::string(c.fmt) == "%hd" ? -82 : 0) << c.fmt;
    if (s.result) continue;
    EXPECT_EQ(a.Get<int32>(0), int32(c.value)) << c.fmt;
    EXPECT_EQ(s.rest, c.rest) << c.fmt;
  }
  // Conversion into the argument's type: integers wrap.
  Args u;
  u.U8(0).I64(0).DBL(0).U16(0);
  EXPECT_EQ(Scanf("%d %d %d %x", "300 -5 7 ffffff", u).result, 0);
  EXPECT_EQ(u.Get<uInt8>(0), 44);
  EXPECT_EQ(u.Get<int64>(1), -5);
  EXPECT_EQ(u.Get<float64>(2), 7);
  EXPECT_EQ(u.Get<uInt16>(3), 0xFFFF);
  // A digit run of any length.
  Args big;
  big.I32(0);
  std::string digits(100000, '9');
  EXPECT_EQ(Scanf("%d", digits, big).result, 0);
  EXPECT_EQ(big.Get<int32>(0), 2147483647);
  Args none;
  none.I32(3);
  EXPECT_EQ(Scanf("%d", "-", none).result, -85);
  EXPECT_EQ(none.Get<int32>(0), 0);
}

TEST_F(StrScan, FloatsAndComplexNumbers) {
  Args a;
  a.SGL(0).EXT(0).DBL(0);
  EXPECT_EQ(Scanf("%g %e %5f", "0.25 1e400 123456", a).result, 0);
  EXPECT_EQ(a.Get<float32>(0), 0.25f);
  long double x = 0;
  std::memcpy(&x, a.Data(1), 10);
  EXPECT_EQ(x, 1e400L);
  EXPECT_EQ(a.Get<float64>(2), 12345);

  const struct {
    const char* input;
    float64 re, im;
    const char* rest;
  } cases[] = {
      {"1.5-2i", 1.5, -2, ""},  {"-2i", 0, -2, ""},         {"3 + 4 i", 3, 4, ""},   {"3\t-\t4\ti", 3, -4, ""},
      {"7", 7, 0, ""},          {"7 + x", 7, 0, " + x"},    {"1e2+1e-1i;", 100, 0.1, ";"},
      {"3 - -4i", 3, 4, ""},    {"5 + 2", 5, 0, " + 2"},
  };
  for (const auto& c : cases) {
    Args z;
    z.CDB(-1, -1);
    Scanned s = Scanf("%f", c.input, z);
    ASSERT_EQ(s.result, 0) << c.input;
    float64 v[2];
    std::memcpy(v, z.Data(0), sizeof v);
    EXPECT_EQ(v[0], c.re) << c.input;
    EXPECT_EQ(v[1], c.im) << c.input;
    EXPECT_EQ(s.rest, c.rest) << c.input;
    int32 n = int32(std::strlen(c.input)) - int32(std::strlen(c.rest));
    EXPECT_EQ(ScanComplexText(reinterpret_cast<const uChar*>(c.input), int32(std::strlen(c.input)), '.'), n)
        << c.input;
  }
  Args cs;
  cs.CSG(0, 0).CXT(0, 0);
  EXPECT_EQ(Scanf("%f;%e", "1-1i;-3.5i", cs).result, 0);
  float32 f[2];
  std::memcpy(f, cs.Data(0), sizeof f);
  EXPECT_EQ(f[0], 1);
  EXPECT_EQ(f[1], -1);
  long double xt[2] = {1, 1};
  std::memcpy(&xt[0], cs.Data(1), 10);
  std::memcpy(&xt[1], static_cast<uChar*>(cs.Data(1)) + 10, 10);
  EXPECT_EQ(xt[0], 0);
  EXPECT_EQ(xt[1], -3.5L);
  EXPECT_EQ(ScanComplexText(reinterpret_cast<const uChar*>("i"), 1, '.'), 0);
  EXPECT_EQ(ScanComplexText(reinterpret_cast<const uChar*>("2,5+1,5i"), 8, ','), 8);
  EXPECT_EQ(ScanComplexText(nullptr, 4, '.'), 0);
  // A width bounds the whole complex text.
  Args w;
  w.CDB(0, 0);
  EXPECT_EQ(Scanf("%4f", "1+2i", w).result, 0);
  Args w2;
  w2.CDB(0, 0);
  Scanned s = Scanf("%3f", "1+2i", w2);
  EXPECT_EQ(s.rest, "+2i");
}

TEST_F(StrScan, Booleans) {
  const struct {
    const char* fmt;
    const char* input;
    int32 result;
    int value;
  } cases[] = {
      {"%s", "yes", 0, 1},   {"%s", "On", 0, 1},      {"%s", "t", 0, 1},      {"%s", " TRUE", 0, 1},
      {"%s", "y", 0, 1},     {"%s", "no", 0, 0},      {"%s", "Off", 0, 0},    {"%s", "f", 0, 0},
      {"%s", "FALSE", 0, 0}, {"%s", "N", 0, 0},       {"%s", "maybe", -85, 0}, {"%s", "yess", -85, 0},
      {"%2s", "yes", -85, 0}, {"%[a-z]", "on1", 0, 1}, {"%[a-z]", "xon", -85, 0}, {"%d", "7", 0, 1},
      {"%d", " 0", 0, 0},    {"%f", "0.5", 0, 1},     {"%x", "z", -85, 0},
  };
  for (const auto& c : cases) {
    Args a;
    a.Bool(c.value == 0);
    Scanned s = Scanf(c.fmt, c.input, a);
    EXPECT_EQ(s.result, c.result) << c.fmt << " " << c.input;
    EXPECT_EQ(a.Get<uChar>(0), c.value) << c.fmt << " " << c.input;
  }
}

TEST_F(StrScan, EnumsByNameAndNumber) {
  const std::vector<std::string> items = {"a", "ab", "b", "ab"};
  const struct {
    const char* fmt;
    const char* input;
    int32 result;
    uInt32 value;
    const char* rest;
  } cases[] = {
      {"%s", "abc", 0, 1, "c"},     {"%s", "b", 0, 2, ""},       {"%1s", "ab", 0, 0, "b"},
      {"%s", "c", -85, 0, "c"},     {"%s", " a", -85, 0, " a"},  {"%[ab]", "abc", 0, 1, "c"},
      {"%[a-c]", "abc", -85, 0, "abc"}, {"%d", "2", 0, 2, ""},   {"%d", "9", 0, 3, ""},
      {"%d", "-4", 0, 0, ""},       {"%u", "4294967295", 0, 3, ""}, {"%f", "1.6", 0, 2, ""},
      {"%f", "-7", 0, 0, ""},
  };
  for (const auto& c : cases) {
    for (uChar code : {kTDEnumU8, kTDEnumU16, kTDEnumU32}) {
      Args a;
      a.Enum(code, items, 1);
      Scanned s = Scanf(c.fmt, c.input, a);
      EXPECT_EQ(s.result, c.result) << c.fmt << " " << c.input;
      uInt32 v = NumToULong(FmtNumType(code), a.Data(0));
      EXPECT_EQ(v, c.value) << c.fmt << " " << c.input;
      EXPECT_EQ(s.rest, c.rest) << c.fmt << " " << c.input;
    }
  }
  // No items: nothing matches by name; a number is pinned to 0.
  Args none;
  none.Enum(kTDEnumU8, {}, 5);
  EXPECT_EQ(Scanf("%s", "x", none).result, -85);
  Args none2;
  none2.Enum(kTDEnumU8, {}, 5);
  EXPECT_EQ(Scanf("%d", "3", none2).result, 0);
  EXPECT_EQ(none2.Get<uChar>(0), 0);
}

TEST_F(StrScan, StringsAndPaths) {
  Args a;
  a.Str("").Str("", kTDString37).Str("").PathArg("C:\\old");
  Scanned s = Scanf("%s %3s%[a-c]%s", " \tone twoabcab C:\\dir\\f x", a);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(Text(a.StrAt(0)), "one");
  EXPECT_EQ(Text(a.StrAt(1)), "two");
  EXPECT_EQ(Text(a.StrAt(2)), "abcab");
  EXPECT_EQ(fmttest::PathText(a.PathAt(3)), "C:\\dir\\f");
  EXPECT_EQ(s.rest, " x");
  // A scan set does not skip white space, and takes at least one character.
  Args b;
  b.Str("keep");
  s = Scanf("%[a-z]", " abc", b);
  EXPECT_EQ(s.result, -85);
  EXPECT_EQ(Text(b.StrAt(0)), "");  // a failing string is emptied
  Args n;
  n.NullStr();
  EXPECT_EQ(Scanf("%[^,],", "x y,", n).result, 0);
  EXPECT_EQ(Text(n.StrAt(0)), "x y");
}

// -------------------------------------------------------- failure outputs

TEST_F(StrScan, FailureOutputs) {
  // The failing string is emptied even with a default; the failing number
  // takes its default; later outputs keep their value or their default when
  // no defaults array is given.
  LStrHandle defStr = NewStr("default");
  int32 defNum = 9;
  {
    Args a;
    a.I32(-1).Str("old").I32(-1).Str("later").Bool(true);
    Scanned s = Scanf("%d %s %d %s %s", "1 ", a, {nullptr, &defStr, nullptr, nullptr, nullptr});
    EXPECT_EQ(s.result, -85);
    EXPECT_EQ(s.index, 2);
    EXPECT_EQ(a.Get<int32>(0), 1);
    EXPECT_EQ(Text(a.StrAt(1)), "");
    EXPECT_EQ(a.Get<int32>(2), 0);       // later, no default: cleared
    EXPECT_EQ(Text(a.StrAt(3)), "");
    EXPECT_EQ(a.Get<uChar>(4), 0);
  }
  {
    Args a;
    a.I32(-1).Str("old").I32(-1).Str("later");
    Scanned s = Scanf("%d %s %d %s", "1 ", a);
    EXPECT_EQ(s.index, 2);
    EXPECT_EQ(Text(a.StrAt(1)), "");
    EXPECT_EQ(a.Get<int32>(2), -1);      // no defaults array: untouched
    EXPECT_EQ(Text(a.StrAt(3)), "later");
  }
  {
    Args a;
    a.I32(-1).I32(-1).I32(-1);
    Scanned s = Scanf("%d,%d,%d", "1,x,3", a, {nullptr, &defNum, &defNum});
    EXPECT_EQ(s.index, 2);
    EXPECT_EQ(s.rest, "x,3");
    EXPECT_EQ(s.past, 2);
    EXPECT_EQ(a.Get<int32>(1), 9);
    EXPECT_EQ(a.Get<int32>(2), -1);  // later with a default: untouched
  }
  {
    // A failed number stores nothing of its own: 0, never a NaN.
    Args a;
    a.DBL(5).Bool(true).PathArg("C:\\p");
    Scanned s = Scanf("%f %s %s", "abc", a);
    EXPECT_EQ(s.index, 1);
    EXPECT_EQ(a.Get<float64>(0), 0);
    Args b;
    b.DBL(5).Bool(true).PathArg("C:\\p");
    float64 defD = 2.5;
    s = Scanf("%f %s %s", "abc", b, {&defD, nullptr, nullptr});
    EXPECT_EQ(b.Get<float64>(0), 2.5);
    EXPECT_EQ(b.Get<uChar>(1), 0);
    EXPECT_TRUE(FIsEmptyPath(b.PathAt(2)));
  }
  Dispose(defStr);
}

TEST_F(StrScan, NodeRefusals) {
  Args a;
  a.I32(0);
  EXPECT_EQ(Scanf("%d", "12", a, {}, -1).result, -1);
  EXPECT_EQ(Scanf("%d", "12", a, {}, 3).result, -1);
  Scanned s = Scanf("%d", "12", a, {}, 2);
  EXPECT_EQ(s.result, -85);
  EXPECT_EQ(s.past, 2);
  s = Scanf("%d", "912", a, {}, 1);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(a.Get<int32>(0), 12);
  EXPECT_EQ(s.past, 3);
  Args none;
  EXPECT_EQ(Scanf("", "1", none).result, -1);
  const struct {
    const char* fmt;
    int32 result, index;
  } checks[] = {{"%d %d", -84, 0}, {"%hd", -82, 1}, {"%s", -81, 1}, {"%c", -82, 1}, {"%%", -83, 0}};
  for (const auto& c : checks) {
    Args b;
    b.I32(0);
    s = Scanf(c.fmt, "1", b);
    EXPECT_EQ(s.result, c.result) << c.fmt;
    EXPECT_EQ(s.index, c.index) << c.fmt;
  }
  // No input handle: an empty input.
  FmtArgList* list = a.List();
  int32 past = -1;
  EXPECT_EQ(DoScanfNode(nullptr, nullptr, nullptr, nullptr, 0, &past, 1, nullptr, list), -85);
  EXPECT_EQ(past, 0);
  EXPECT_EQ(DoScanfNode(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 1, nullptr, nullptr), -1);
}

// ---------------------------------------------------------- single form

TEST_F(StrScan, StripForms) {
  Args d;
  d.DBL(0);
  EXPECT_EQ(Strip("", " 2.5e1 rest", d), " rest");  // "%g"
  EXPECT_EQ(d.Get<float64>(0), 25);
  // Only the first specifier converts; later ones are text.
  Args i;
  i.I32(0);
  EXPECT_EQ(Strip("%d%d!", "5%d!x", i), "x");
  EXPECT_EQ(i.Get<int32>(0), 5);
  // Failure, or no specifier: the default (or zero) and the whole input.
  int32 def = 77;
  Args f;
  f.I32(1);
  EXPECT_EQ(Strip("%d", "abc", f, &def), "abc");
  EXPECT_EQ(f.Get<int32>(0), 77);
  Args g;
  g.I32(1);
  EXPECT_EQ(Strip("lit", "lit", g), "lit");
  EXPECT_EQ(g.Get<int32>(0), 0);
  LStrHandle defStr = NewStr("dflt");
  Args s;
  s.Str("x");
  EXPECT_EQ(Strip("%[0-9]", "abc", s, &defStr), "abc");
  EXPECT_EQ(Text(s.StrAt(0)), "dflt");
  Dispose(defStr);
  // Mended: text outputs are read as text under any letter, and 0x37 and
  // paths default to "%s".
  Args m;
  m.Str("old");
  EXPECT_EQ(Strip("%d", "12 ab", m), "");
  EXPECT_EQ(Text(m.StrAt(0)), "12 ab");
  Args m37;
  m37.Str("old", kTDString37);
  EXPECT_EQ(Strip("", "x y", m37), "");
  EXPECT_EQ(Text(m37.StrAt(0)), "x y");
  Args mp;
  mp.PathArg("C:\\old");
  EXPECT_EQ(Strip("", "C:\\new\\f", mp), "");
  EXPECT_EQ(fmttest::PathText(mp.PathAt(0)), "C:\\new\\f");
  Args mpe;
  mpe.PathHandle(nullptr);
  EXPECT_EQ(Strip("%f", "D:\\x", mpe), "");
  EXPECT_EQ(fmttest::PathText(mpe.PathAt(0)), "D:\\x");
}

// The input, the format and the remainder may share handles with outputs.
TEST_F(StrScan, SharedHandles) {
  Args a;
  a.Str("a1 b2 c3");
  LStrHandle h = a.StrAt(0);
  LStrHandle rest = h;
  EXPECT_EQ(FormatStrip(LStrLen(*h), (*h)->str, a.TD(0), nullptr, a.Data(0), 7,
                        reinterpret_cast<const uChar*>("%[a-z1]"), &rest),
            kNoErr);
  // The output and the remainder are the same handle: the remainder is set last.
  EXPECT_EQ(Text(a.StrAt(0)), " b2 c3");
  Args b;
  b.Str("in out");
  LStrHandle in = b.StrAt(0);
  LStrHandle f = NewStr("%s");
  LStrHandle r = nullptr;
  int32 past = 0;
  EXPECT_EQ(DoScanfNode(nullptr, f, in, &r, 0, &past, 1, nullptr, b.List()), 0);
  EXPECT_EQ(Text(b.StrAt(0)), "in");
  EXPECT_EQ(Text(r), " out");
  // The remainder is the input handle.
  Args c;
  c.I32(0);
  LStrHandle in2 = NewStr("12 tail");
  LStrHandle f2 = NewStr("%d");
  EXPECT_EQ(DoScanfNode(nullptr, f2, in2, &in2, 0, &past, 1, nullptr, c.List()), 0);
  EXPECT_EQ(Text(in2), " tail");
  for (LStrHandle x : {f, r, in2, f2}) Dispose(x);
}

// ------------------------------------------------------- round trips

TEST_F(StrScan, FormattedValuesScanBack) {
  std::mt19937_64 rng(46);
  const std::vector<std::string> names = {"red", "green", "blue", "cyan", "x"};
  const int32 n = qxtest::Scaled(10000);
  LStrHandle text = nullptr;
  for (int32 k = 0; k < n; ++k) {
    int32 i = int32(rng());
    uInt32 u = uInt32(rng());
    uInt64 bits = rng();
    float64 d;
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) d = float64(int64(rng())) / 7;
    float64 re = std::ldexp(float64(int64(rng() >> 11)), int(rng() % 200) - 100);
    float64 im = -std::ldexp(float64(int64(rng() >> 11)), int(rng() % 200) - 100);
    bool b = rng() & 1;
    uInt32 e = uInt32(rng() % names.size());
    Args out;
    out.I32(i).U32(u).DBL(d).CDB(re, im).Bool(b).Enum(kTDEnumU16, names, e);
    const char* fmt = "%d %u %.17e %.17e %s %s";
    LStrHandle f = NewStr(fmt);
    ASSERT_EQ(DoPrintfNode(nullptr, f, nullptr, &text, out.Count(), out.List()), kNoErr);
    Args back;
    back.I32(0).U32(0).DBL(0).CDB(0, 0).Bool(!b).Enum(kTDEnumU16, names, 0);
    LStrHandle rest = nullptr;
    int32 past = 0;
    ASSERT_EQ(DoScanfNode(nullptr, f, text, &rest, 0, &past, back.Count(), nullptr, back.List()), 0) << Text(text);
    EXPECT_EQ(back.Get<int32>(0), i);
    EXPECT_EQ(back.Get<uInt32>(1), u);
    EXPECT_EQ(back.Get<float64>(2), d) << Text(text);
    float64 z[2];
    std::memcpy(z, back.Data(3), sizeof z);
    EXPECT_EQ(z[0], re) << Text(text);
    EXPECT_EQ(z[1], im) << Text(text);
    EXPECT_EQ(back.Get<uChar>(4), uChar(b));
    EXPECT_EQ(back.Get<uInt16>(5), e);
    EXPECT_EQ(Text(rest), "");
    Dispose(rest);
    Dispose(f);
    if (HasFailure()) break;
  }
  Dispose(text);
}

// ------------------------------------------------------- run-time table

TEST_F(StrScan, EntriesAreReachedThroughTheTableAndByName) {
  EXPECT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  typedef int32 (*ScanfFn)(void*, LStrHandle, LStrHandle, LStrHandle*, int32, int32*, int32, const void* const*,
                           FmtArgList*);
  typedef MgErr (*StripFn)(int32, const uChar*, const TypeDescriptor*, const void*, void*, int32, const uChar*,
                           LStrHandle*);
  auto scanfFn = reinterpret_cast<ScanfFn>(QXRTTable[1514]);
  auto stripFn = reinterpret_cast<StripFn>(QXRTTable[796]);
  EXPECT_EQ(reinterpret_cast<void*>(scanfFn), dlsym(RTLD_DEFAULT, "DoScanfNode"));
  EXPECT_EQ(reinterpret_cast<void*>(stripFn), dlsym(RTLD_DEFAULT, "FormatStrip"));
  Args a;
  a.I32(0).Str("");
  LStrHandle f = NewStr("%d|%s");
  LStrHandle in = NewStr("12|x y");
  LStrHandle rest = nullptr;
  int32 past = 0;
  EXPECT_EQ(scanfFn(nullptr, f, in, &rest, 0, &past, a.Count(), nullptr, a.List()), 0);
  EXPECT_EQ(a.Get<int32>(0), 12);
  EXPECT_EQ(Text(a.StrAt(1)), "x");
  EXPECT_EQ(Text(rest), " y");
  EXPECT_EQ(stripFn(3, reinterpret_cast<const uChar*>("7 z"), a.TD(0), nullptr, a.Data(0), 0, nullptr, &rest),
            kNoErr);
  EXPECT_EQ(a.Get<int32>(0), 7);
  EXPECT_EQ(Text(rest), " z");
  for (LStrHandle h : {f, in, rest}) Dispose(h);
}

}  // namespace
