// Format Into String: the multi-argument node, the single-argument concat,
// the default formats, the bound of the measuring pass and the two resizes.
#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/exec/rttable.h"
#include "format_test_support.h"
#include "rttable_start.h"
#include "mgsource/numconv.h"
#include "rtlib/rtregister.h"
#include "rtlib/strformat.h"

namespace {

using fmttest::Args;
using fmttest::Dispose;
using fmttest::NewStr;
using fmttest::Text;

class StrFormat : public fmttest::FormatTest {
 protected:
  // DoPrintfNode over the format (null: no format handle) into a fresh
  // output; the result and the text.
  static MgErr Printf(const char* fmt, Args& a, std::string* text, const char* initial = nullptr) {
    LStrHandle f = fmt ? NewStr(fmt) : nullptr;
    LStrHandle init = initial ? NewStr(initial) : nullptr;
    LStrHandle out = nullptr;
    MgErr err = DoPrintfNode(nullptr, f, init, &out, a.Count(), a.List());
    *text = Text(out);
    Dispose(out);
    Dispose(init);
    Dispose(f);
    return err;
  }
  static std::string P(const char* fmt, Args& a) {
    std::string t;
    EXPECT_EQ(Printf(fmt, a, &t), kNoErr) << fmt;
    return t;
  }
  // FormatConcat of argument 0 of a after the prefix.
  static std::string Concat(const std::string& prefix, const std::string& fmt, Args& a, int32 i = 0) {
    LStrHandle out = nullptr;
    MgErr err = FormatConcat(int32(prefix.size()), reinterpret_cast<const uChar*>(prefix.data()), a.TD(i), a.Data(i),
                             int32(fmt.size()), reinterpret_cast<const uChar*>(fmt.data()), &out);
    EXPECT_EQ(err, kNoErr) << fmt;
    std::string t = Text(out);
    Dispose(out);
    return t;
  }
  // The measured bound of the multi-argument form.
  static int32 Bound(const std::string& fmt, Args& a) {
    return FormatMeasure(nullptr, a.List(), reinterpret_cast<const uChar*>(fmt.data()), int32(fmt.size()),
                         a.Count());
  }
};

struct Case {
  const char* fmt;
  const char* want;
};

// ------------------------------------------------------------- numbers

TEST_F(StrFormat, FieldExamples) {
  struct NumCase {
    const char* fmt;
    float64 value;
    bool integer;
    const char* want;
  };
  const NumCase cases[] = {
      {"%5.2f", 3.14159, false, " 3.14"},
      {"%-6d|", 42, true, "42    |"},
      {"%+05d", 42, true, "+0042"},
      {"%05d", -42, true, "-0042"},
      {"%+d", -42, true, "-42"},
      {"%+6d", 42, true, "   +42"},
      {"%-+6d|", 42, true, "+42   |"},
      {"%-06d|", -42, true, "-42   |"},
      {"%2d", 12345, true, "12345"},
      {"%x", 255, true, "FF"},
      {"%o", 8, true, "10"},
      {"%b", 5, true, "101"},
      {"%u", -1, true, "4294967295"},
      {"%f", 1.5, false, "1.500000"},
      {"%e", 1234.5, false, "1.234500E+3"},
      {"%.2e", 1234.5, false, "1.23E+3"},
      {"%^e", 12345, false, "12.345000E+3"},
      {"%^.2e", 0.00123, false, "1.23E-3"},
      {"%^f", 12345, false, "12345.000000"},  // no effect on "f"
      {"%^d", 12345, true, "12345"},
      {"%g", 0.001, false, "0.001000"},
      {"%g", 0.0001, false, "1.000000E-4"},
      {"%g", 1000000, false, "1000000.000000"},
      {"%g", 10000000, false, "1.000000E+7"},
      {"%.2g", 1234, false, "1.23E+3"},
      {"%.2g", 12, false, "12.00"},
      {"%g", 0, false, "0.000000"},
      {"%^g", 10000000, false, "10.000000E+6"},
      {"%.99f", 1, false, nullptr},  // at most 63 digits
  };
  for (const NumCase& c : cases) {
    Args a;
    if (c.integer) a.I32(int32(c.value));
    else a.DBL(c.value);
    std::string got = P(c.fmt, a);
    if (c.want) EXPECT_EQ(got, c.want) << c.fmt;
    else EXPECT_EQ(got, "1." + std::string(63, '0')) << c.fmt;
  }
}

TEST_F(StrFormat, GOfSpecialValuesAndPrecisions) {
  const float64 inf = std::numeric_limits<float64>::infinity();
  const float64 nan = std::numeric_limits<float64>::quiet_NaN();
  // E counts 3 for a double: "%.2g" takes the exponent form, "%.3g" the fixed.
  Args a;
  a.DBL(inf).DBL(inf).DBL(nan).DBL(-inf);
  EXPECT_EQ(P("%.2g|%.3g|%.2g|%.3g", a), "Inf|Inf|NaN|-Inf");
  // In extended precision E counts 7.
  Args x;
  x.EXT(12345678.0L).EXT(12345678.0L).EXT(-0.00001L);
  EXPECT_EQ(P("%.6g|%.7g|%g", x), "1.234568E+7|12345678.0000000|-1.000000E-5");
  Args s;
  s.SGL(0.5f).I16(-3).U8(200).I64(-5).U64(7);
  EXPECT_EQ(P("%g %g %d %x %d", s), "0.500000 -3.000000 200 FFFFFFFB 7");
}

TEST_F(StrFormat, ComplexValues) {
  Args a;
  a.CDB(1.5, -2).CDB(1.5, 2).CDB(1, 1e-7).CDB(1, 2).CSG(0.25f, 1);
  EXPECT_EQ(P("%.1f|%.1f|%.1g|%.1g|%e", a), "1.5 -2.0 i|1.5 +2.0 i|1.0E+0 +1.0E-7 i|1.0 +2.0 i|2.500000E-1 +1.000000E+0 i");
  Args b;
  b.CDB(-3, 4);
  EXPECT_EQ(P("%+12.1f|", b), " -3.0 +4.0 i|");
  Args c;
  c.CDB(-3, 4);
  EXPECT_EQ(P("%-12.0f|", c), "-3 +4 i     |");
}

TEST_F(StrFormat, Booleans) {
  Args a;
  a.Bool(true).Bool(false).Bool(true).Bool(false).Bool(true).Bool(true).Bool(true);
  EXPECT_EQ(P("%s %s %d %d %+s %-6s| %x", a), "TRUE FALSE 1 0 +TRUE TRUE  | 1");
  Args b;
  b.Bool(true).Bool(false);
  EXPECT_EQ(P("%.1f %07s", b), "1.0   FALSE");  // "0" pads numbers and paths only
}

TEST_F(StrFormat, SeparatorSpecifiers) {
  Args a;
  a.DBL(1.5).DBL(1.5).DBL(2.25);
  std::string dp(1, char(NumDefaultDecimalPt()));
  EXPECT_EQ(P("%,;%.3f %;%.3f %\\2C;%.2e", a), "1,500 1" + dp + "500 2,25E+0");
  // The separator of one call does not leak into the next.
  Args b;
  b.DBL(0.5);
  EXPECT_EQ(P("%.1f", b), "0" + dp + "5");
}

TEST_F(StrFormat, LiteralTextAndCodes) {
  Args a;
  a.I32(7);
  EXPECT_EQ(P("a\\sb\\t\\41\\\\%%c=%d%", a), "a b\tA\\%c=7%");
  Args none;
  EXPECT_EQ(P("100%%\\n", none), "100%\n");
  std::string t;
  EXPECT_EQ(Printf("x", none, &t, "pre-"), kNoErr);
  EXPECT_EQ(t, "pre-x");
}

// --------------------------------------------------------------- text

TEST_F(StrFormat, Strings) {
  Args a;
  a.Str("abc").Str("abc").Str("abc").Str("abc").Str("abc", kTDString37).Str("").NullStr().Str("abc");
  EXPECT_EQ(P("%.2s|%+s|%05s|%-5s|%s|%s|%3s|%.0s", a), "ab|+abc|  abc|abc  |abc||   |abc");
}

TEST_F(StrFormat, Paths) {
  Args a;
  const std::string path = "C:\\a\\bc";
  a.PathArg(path).PathArg(path).PathArg(path).PathArg(path).PathHandle(nullptr);
  ASSERT_EQ(fmttest::PathText(a.PathAt(0)), path);
  EXPECT_EQ(P("%s|%010s|%+s|%.3s|%s|", a), path + "|000" + path + "|" + path + "|C:\\||");
}

TEST_F(StrFormat, EnumNames) {
  const std::vector<std::string> items = {"red", "green", "blue"};
  Args a;
  a.Enum(kTDEnumU8, items, 1).Enum(kTDEnumU16, items, 7).Enum(kTDEnumU32, items, 0xFFFFFFFFu).Enum(kTDEnumU8, items, 0);
  EXPECT_EQ(P("%s %s %s %+6s", a), "green blue blue   +red");
  Args b;
  b.Enum(kTDEnumU16, items, 7).Enum(kTDEnumU16, {}, 2);
  EXPECT_EQ(P("%d %s|", b), "7 |");  // numbers are written as they are
}

// -------------------------------------------------------------- units

TEST_F(StrFormat, Units) {
  const std::vector<std::pair<int16, int16>> metres = {{kUnitM, 1}};
  Args a;
  a.UnitDBL(metres, 1500).UnitDBL(metres, 1500).UnitDBL(metres, 1500).UnitDBL(metres, 1500).UnitDBL(metres, 1500);
  EXPECT_EQ(P("%.1{km}f|%.1{s}f|%.1f|%d|%{km}d", a), "1.5 km|1500.0 ?s|1500.0 m|1500|2");
  Args b;
  b.UnitCDB(metres, 3000, 1000).UnitDBL({{kUnitK, 1}}, 273.15).UnitDBL({{kUnitS, -2}, {kUnitM, 1}, {kUnitKg, 1}}, 2);
  EXPECT_EQ(P("%.1{km}f|%.2{degC}f|%.0f", b), "3.0 +1.0 i km|0.00 degC|2 N");
  // An exponent form keeps the unit; an empty brace text is no unit.
  Args c;
  c.UnitDBL(metres, 1500).UnitDBL(metres, 1.5);
  EXPECT_EQ(P("%.1{mm}e|%.1{}f", c), "1.5E+6 mm|1.5 ?");
  // Unit text is cut at 255 characters.
  std::string longUnit(300, 'q');
  std::string fmt = "%.0{" + longUnit + "}f";
  Args d;
  d.UnitDBL(metres, 1);
  EXPECT_EQ(P(fmt.c_str(), d), "1 ?" + std::string(254, 'q'));
}

// -------------------------------------------------------------- entries

TEST_F(StrFormat, CheckErrorsEmptyTheOutput) {
  struct ErrCase {
    const char* fmt;
    MgErr err;
    int32 index;  // -7: the list's index untouched
  };
  const ErrCase cases[] = {
      {"%d %d", -84, 0}, {"%hd", -82, 1}, {"%s", -81, 1}, {"", 0, -7}, {"%d", 0, 0}, {"%{km}f", -81, 1},
  };
  for (const ErrCase& c : cases) {
    Args a;
    a.DBL(1);
    LStrHandle f = NewStr(c.fmt);
    LStrHandle out = NewStr("old text");
    EXPECT_EQ(DoPrintfNode(nullptr, f, nullptr, &out, a.Count(), a.List()), c.err) << c.fmt;
    EXPECT_EQ(a.ErrIndex(), c.index) << c.fmt;
    if (c.err) EXPECT_EQ(Text(out), "") << c.fmt;
    else EXPECT_FALSE(Text(out).empty()) << c.fmt;
    Dispose(out);
    Dispose(f);
  }
  Args a;
  EXPECT_EQ(DoPrintfNode(nullptr, nullptr, nullptr, nullptr, 0, a.List()), kArgErr);
}

TEST_F(StrFormat, DefaultFormatOfTheNode) {
  Args a;
  a.I32(3).DBL(4.5).Str("ab");
  std::string t;
  EXPECT_EQ(Printf("", a, &t), kNoErr);
  EXPECT_EQ(t, "3 4.500000 ab");
  EXPECT_EQ(Printf(nullptr, a, &t, ">"), kNoErr);
  EXPECT_EQ(t, ">3 4.500000 ab");

  Args b;
  b.Bool(true).Enum(kTDEnumU8, {"x", "y"}, 1).PathArg("/p").Str("s", kTDString37).U64(9).UnitDBL({{kUnitM, 1}}, 2);
  b.SGL(1).CDB(1, 2);
  uChar text[kFmtDefaultFormatMax + 1];
  int32 n = MakeDefaultFormat(b.Count(), b.List(), text);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), size_t(n)), "%s %s %s %s %d %f %f %f");
  EXPECT_EQ(P("", b), "TRUE y /p s 9 2.000000 m 1.000000 1.000000 +2.000000 i");
  // Cut at 255 characters: 85 whole items, the last space kept.
  Args many;
  for (int i = 0; i < 90; ++i) many.I8(int8(i));
  n = MakeDefaultFormat(many.Count(), many.List(), text);
  EXPECT_EQ(n, 255);
  EXPECT_EQ(text[254], ' ');
  Args exact;
  for (int i = 0; i < 85; ++i) exact.I8(1);
  EXPECT_EQ(MakeDefaultFormat(exact.Count(), exact.List(), text), 254);
  EXPECT_EQ(MakeDefaultFormat(0, nullptr, text), 0);
}

TEST_F(StrFormat, ConcatFollowsItsOwnList) {
  Args a;
  a.Str("abc").DBL(1.5).DBL(1.5).DBL(1.5).DBL(1.5).Str("xy", kTDString37).PathArg("/q").I32(42).Bool(true);
  a.Enum(kTDEnumU8, {"n", "m"}, 1).CDB(1, -1);
  const struct {
    int32 arg;
    const char* fmt;
    const char* want;
  } cases[] = {
      {0, "", "pre:abc"},
      {0, "%d", "pre:abc"},        // text under any letter
      {0, "<%5x>", "pre:<  abc>"},
      {1, "", "pre:1.500000"},     // "%g"
      {2, "%s", "pre:1.500000E+0"},
      {2, "%[a]", "pre:1.500000E+0"},
      {3, "%c", "pre:1.500000"},   // any other letter: the fixed form
      {3, "%.1z", "pre:1.5"},
      {4, "%d and %d", "pre:2 and %d"},  // later specifiers are text
      {4, "%d %", "pre:2 %"},
      {5, "%f", "pre:xy"},
      {6, "%e", "pre:/q"},
      {7, "", "pre:42.000000"},
      {7, "%x%%", "pre:2A%"},
      {8, "", "pre:1.000000"},
      {8, "%s", "pre:TRUE"},
      {9, "%s", "pre:m"},
      {10, "%.0f", "pre:1 -1 i"},
      {1, "%,;%.1f", "pre:1,5"},
  };
  for (const auto& c : cases) EXPECT_EQ(Concat("pre:", c.fmt, a, c.arg), c.want) << c.fmt;
  EXPECT_EQ(Concat("", "", a, 0), "abc");
}

TEST_F(StrFormat, ConcatPrefixMayBeTheOutput) {
  LStrHandle out = NewStr("head-");
  float64 v = 2;
  const uChar fmt[] = "%.1f";
  const std::vector<uChar> dbl = tdb::DBL().Bytes();
  EXPECT_EQ(FormatConcat(LStrLen(*out), (*out)->str, tdb::AsTD(dbl), &v, 4, fmt, &out), kNoErr);
  EXPECT_EQ(Text(out), "head-2.0");
  Dispose(out);
  EXPECT_EQ(FormatConcat(0, nullptr, nullptr, nullptr, 0, nullptr, nullptr), kArgErr);
  // No type: nothing is written, the prefix stays.
  out = nullptr;
  EXPECT_EQ(FormatConcat(2, reinterpret_cast<const uChar*>("ab"), nullptr, nullptr, 0, nullptr, &out), kNoErr);
  EXPECT_EQ(Text(out), "ab");
  Dispose(out);
}

// Text read from the output's own block is not written over.
TEST_F(StrFormat, TheOutputMayBeTheFormatOrAnArgument) {
  // A string argument that is the output handle.
  Args a;
  a.Str("abc").I32(5);
  LStrHandle f = NewStr("[%s|%d|%s]");
  LStrHandle out = a.StrAt(0);
  Args b;
  b.Raw(tdb::String(), a.Data(0), sizeof(LStrHandle)).I32(5).Raw(tdb::String(), a.Data(0), sizeof(LStrHandle));
  FmtArgList* list = b.List();
  EXPECT_EQ(DoPrintfNode(nullptr, f, out, &out, b.Count(), list), kNoErr);
  EXPECT_EQ(Text(out), "abc[abc|5|abc]");
  // The format that is the output handle.
  LStrHandle g = NewStr("<%d>");
  Args c;
  c.I32(42);
  EXPECT_EQ(DoPrintfNode(nullptr, g, nullptr, &g, c.Count(), c.List()), kNoErr);
  EXPECT_EQ(Text(g), "<42>");
  // The concat's value and its format inside the output.
  LStrHandle h = NewStr("xyz%s!");
  const std::vector<uChar> stringTD = tdb::String().Bytes();
  EXPECT_EQ(FormatConcat(3, (*h)->str, tdb::AsTD(stringTD), &h, 3, (*h)->str + 3, &h), kNoErr);
  EXPECT_EQ(Text(h), "xyzxyz%s!!");
  Dispose(f);
  Dispose(g);
  Dispose(h);
  // The output is a's string: b's entries share it and leave it to a.
  *static_cast<LStrHandle*>(b.Data(0)) = nullptr;
  *static_cast<LStrHandle*>(b.Data(2)) = nullptr;
}

// --------------------------------------------------------------- bounds

// Writes the format with room to spare and checks the bound held.
void ExpectWithinBound(const std::string& fmt, Args& a) {
  int32 bound = FormatMeasure(nullptr, a.List(), reinterpret_cast<const uChar*>(fmt.data()), int32(fmt.size()),
                              a.Count());
  std::vector<uChar> buf(size_t(bound) + 8192);
  uChar* end = FormatWrite(nullptr, a.List(), reinterpret_cast<const uChar*>(fmt.data()), int32(fmt.size()),
                           buf.data(), int32(buf.size()), a.Count());
  ASSERT_NE(end, nullptr) << fmt;
  EXPECT_LE(end - buf.data(), bound) << fmt;
}

TEST_F(StrFormat, TheBoundCoversWidthsSignsAndLiterals) {
  Args a;
  a.Str("abc").Bool(true).Enum(kTDEnumU8, {"long item name"}, 0).I32(-5).DBL(-1e300).EXT(-1e4000L).CXT(1e-4000L, -1e4000L);
  a.PathArg("/some/path").UnitCDB({{kUnitM, 1}}, -1e300, 1e-300);
  const char* formats[] = {
      "%+s %+s %+s %d %f %f %f %s %f",
      "%+300s %+300s %+300s %+300d %+300f %300f %300.63f %0300s %-300{km}f",
      "%+-1000s %-+1000s %-+1000s %+01000x %^.63e %^.63e %^.63g %.2s %^.63{?}e",
      "%b %b %b %b %e %g %e %s %{m}g and %d %s %[x] left as text",
  };
  for (const char* f : formats) ExpectWithinBound(f, a);
  // The single form: specifiers after the first are copied as text.
  Args one;
  one.DBL(-1);
  EXPECT_EQ(Concat("", "%5d %+400s %%%", one), "   -1 %+400s %%");
  // A huge width: the bound saturates and the node fails cleanly.
  Args big;
  big.I32(1);
  std::string t;
  EXPECT_EQ(Bound("%99999999999d", big), kFmtMaxCount);
  EXPECT_EQ(Printf("%99999999999d", big, &t), kMemFullErr);
  EXPECT_EQ(t, "");
}

// A width that makes a text of a gigabyte or more (a string's limit, as any
// array's) answers 2 with the output emptied, on the checked path and on the
// single-argument one, which runs no check; nothing that large is made.
TEST_F(StrFormat, AHugeWidthAnswersMemoryFullOnBothPaths) {
  Args a;
  a.I32(7);
  for (const char* f : {"%2000000000d", "ab%1073741824d", "%1073741822d!!"}) {
    std::string t = "x";
    EXPECT_EQ(Printf(f, a, &t), kMemFullErr) << f;
    EXPECT_EQ(t, "") << f;
    LStrHandle out = NewStr("old");
    EXPECT_EQ(FormatConcat(2, reinterpret_cast<const uChar*>("ab"), a.TD(0), a.Data(0), int32(std::strlen(f)),
                           reinterpret_cast<const uChar*>(f), &out),
              kMemFullErr)
        << f;
    EXPECT_EQ(Text(out), "") << f;
    Dispose(out);
  }
}

// The measured bound is never below the least one callers may count on.
TEST_F(StrFormat, TheBoundIsAtLeastTheLeastBound) {
  struct BoundCase {
    const char* fmt;
    int32 least;
  };
  Args a;
  a.I32(1);
  const BoundCase ints[] = {{"%b", 64}, {"%d", 16}, {"%x", 16}, {"%o", 16}, {"%u", 16}, {"%e", 15}, {"%.2e", 11},
                            {"%f", 11}, {"%.1f", 6}, {"%^f", 13}, {"%g", 11}, {"x%d", 17}, {"%%%d\n", 18}};
  for (const BoundCase& c : ints) EXPECT_GE(Bound(c.fmt, a), c.least) << c.fmt;
  Args big;
  big.DBL(1e100).CDB(1e10, 1e-20).Bool(true);
  EXPECT_GE(Bound("%f", big), 6 + 3 + 100 + 1);
  Args cx;
  cx.CDB(1e10, 1e-20);
  EXPECT_GE(Bound("%.2f", cx), (2 + 3 + 10 + 1 + 21 + 2 + 8) * 2 + 5);
  EXPECT_GE(Bound("%d", cx), 16 * 2 + 5);
  Args u;
  u.UnitDBL({{kUnitS, -2}, {kUnitM, 1}, {kUnitKg, 1}}, 1);
  EXPECT_GE(Bound("%.0{kN}f", u), 0 + 3 + 1 + 1 + 2 + 3);
  EXPECT_GE(Bound("%d", u), 16 + 1 + 3);
  Args e;
  e.Enum(kTDEnumU8, {"a", "bb", "ccc"}, 0).Str("abc");
  EXPECT_GE(Bound("%s %5s", e), int32(e.TD(0)->size) + 1 + 5);
}

// A writer given less room than it needs stops, reports and keeps what fits.
TEST_F(StrFormat, AShortDestinationIsNeverOverrun) {
  Args a;
  a.Str("abcdef").DBL(1.25);
  std::string fmt = "%s=%.2f!";
  for (int32 room = 0; room < 12; ++room) {
    std::vector<uChar> buf(size_t(room) + 4, 0xEE);
    ClearReports();
    uChar* end = FormatWrite(nullptr, a.List(), reinterpret_cast<const uChar*>(fmt.data()), int32(fmt.size()),
                             buf.data(), room, a.Count());
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - buf.data(), room < 12 ? room : 12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf.data()), size_t(end - buf.data())),
              std::string("abcdef=1.25!").substr(0, size_t(room)));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(buf[size_t(room + k)], 0xEE);
    EXPECT_EQ(qxtest::Reports::Get().Count("longer than its bound"), room < 12 ? 1 : 0) << room;
  }
}

// Random formats over arguments of every class: the text never exceeds the
// bound, and the node resizes its output at most twice.
TEST_F(StrFormat, GeneratedFormatsStayWithinTheirBound) {
  std::mt19937 rng(45);
  const char* pieces[] = {"%", "-", "+", "^", "0", "5", "12", ".", "3", "63", "{km}", "{s}", "l", "h", "d", "u",
                          "x", "o", "b", "e", "f", "g", "s", "E", "[a-c]", "%%", "%,;", "%;", "\\n", "\\4",
                          " ", "a", "z", "{", "]", "\\", "99999"};
  Args a;
  a.I32(-123456).U8(250).I64(-1).DBL(-1.0e-300).DBL(6.02e23).EXT(-1e4000L).SGL(3.5f).CSG(1, -1).CDB(-1e300, 1e-300);
  a.CXT(1e4000L, -1e-4000L).Bool(true).Bool(false).Enum(kTDEnumU16, {"one", "two", "three"}, 9).Str("string");
  a.Str("x", kTDString37).NullStr().PathArg("/dir/file.txt").UnitDBL({{kUnitM, 1}}, 1500);
  a.UnitCDB({{kUnitS, -1}}, 2, 3);
  const int32 n = qxtest::Scaled(100000);
  LStrHandle out = NewStr("");
  for (int32 k = 0; k < n; ++k) {
    std::string fmt;
    int32 parts = int32(rng() % 24);
    for (int32 i = 0; i < parts; ++i) fmt += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    // Every argument in turn, so that each class meets each conversion.
    FmtArgList* list = a.List();
    int32 first = int32(rng() % uInt32(a.Count()));
    int32 count = 1 + int32(rng() % 3);
    if (first + count > a.Count()) count = a.Count() - first;
    std::vector<uChar> sub(4 + 8 * size_t(count));
    std::memcpy(sub.data() + 4, &list->args[first], 8 * size_t(count));
    FmtArgList* l = reinterpret_cast<FmtArgList*>(sub.data());
    const uChar* f = reinterpret_cast<const uChar*>(fmt.data());
    int32 bound = FormatMeasure(nullptr, l, f, int32(fmt.size()), count);
    int32 single = FormatMeasure(l->args[0].type, l->args[0].data, f, int32(fmt.size()), 0);
    ASSERT_GE(bound, 0) << fmt;
    ASSERT_GE(single, 0) << fmt;
    if (bound > (1 << 22) || single > (1 << 22)) continue;  // a huge width: bounded, not written
    std::vector<uChar> buf(size_t(bound) + 4096);
    uChar* end = FormatWrite(nullptr, l, f, int32(fmt.size()), buf.data(), int32(buf.size()), count);
    ASSERT_NE(end, nullptr) << fmt;
    ASSERT_LE(end - buf.data(), bound) << fmt << " args " << first << "+" << count << ": " << std::string(reinterpret_cast<char*>(buf.data()), size_t(end - buf.data()));
    // The same through the single-argument form.
    end = FormatWrite(l->args[0].type, l->args[0].data, f, int32(fmt.size()), buf.data(), int32(buf.size()), 0);
    ASSERT_NE(end, nullptr) << fmt;
    ASSERT_LE(end - buf.data(), single) << fmt;
    if (k % 16 == 0 && bound < 100000) {
      // A third allocation or resize would fail: the node needs two at most.
      LStrHandle fh = NewStr(fmt);
      MemFailNthAllocation(3);
      MgErr err = DoPrintfNode(nullptr, fh, nullptr, &out, count, l);
      MemFailNthAllocation(0);
      EXPECT_TRUE(err == kNoErr || (err <= -81 && err >= -84)) << fmt << " " << err;
      Dispose(fh);
    }
  }
  Dispose(out);
  EXPECT_EQ(qxtest::Reports::Get().Count("longer than its bound"), 0);
}

// The node takes a quicker way for integer and text conversions of integers,
// floats, enums, booleans and strings: it writes what the two general passes
// write (FormatWrite), after an initial string, and the check's error index
// is 0 as the check leaves it.
TEST_F(StrFormat, TheNodeWritesWhatTheTwoPassesWrite) {
  std::mt19937 rng(68);
  auto pick = [&](std::initializer_list<const char*> l) { return l.begin()[rng() % l.size()]; };
  Args a;
  a.I32(-123456).I8(-5).U16(65535).I64(-1).U64(1ull << 40).U32(4000000000u).DBL(-2.5).SGL(1e10f).Bool(true);
  a.Bool(false).Enum(kTDEnumU16, {"one", "two", "three"}, 9).Str("string").Str("", kTDString37).NullStr();
  a.CDB(1, 2).UnitDBL({{kUnitM, 1}}, 1500);
  LStrHandle out = NewStr("");
  LStrHandle init = NewStr("init:");
  int32 compared = 0;
  for (int32 k = 0; k < qxtest::Scaled(20000); ++k) {
    // One specifier an argument (now and then one too many or too few),
    // between literal text.
    const int32 count = 1 + int32(rng() % 3);
    const int32 specs = count + (rng() % 16 == 0 ? int32(rng() % 3) - 1 : 0);
    std::string fmt = pick({"", "", "x=", "%%", "\\n", "\\41", "%,;", " "});
    for (int32 i = 0; i < specs; ++i) {
      fmt += "%";
      for (int32 n = int32(rng() % 3); n > 0; --n) fmt += pick({"-", "+", "0", "^"});
      fmt += pick({"", "", "3", "12"});
      fmt += pick({"", "", ".", ".2", ".0"});
      if (rng() % 16 == 0) fmt += pick({"l", "L", "h", "{m}"});
      fmt += pick({"d", "u", "x", "X", "o", "b", "s", "S", "D", "[a-z]", "s", "d", "c"});
      fmt += pick({"", " ", "|", "ab", "%%", "\\t"});
    }
    FmtArgList* list = a.List();
    std::vector<uChar> sub(4 + 8 * size_t(count));
    for (int32 i = 0; i < count; ++i)
      std::memcpy(sub.data() + 4 + 8 * i, &list->args[rng() % uInt32(a.Count())], 8);
    FmtArgList* l = reinterpret_cast<FmtArgList*>(sub.data());
    const bool withInit = rng() % 2;
    LStrHandle f = NewStr(fmt);
    l->errIndex = -1;
    const MgErr err = DoPrintfNode(nullptr, f, withInit ? init : nullptr, &out, count, l);
    const int32 index = l->errIndex;
    Dispose(f);
    if (fmt.empty()) continue;  // the default format (the fuzz target compares it)
    const uChar* fb = reinterpret_cast<const uChar*>(fmt.data());
    EXPECT_EQ(err, -FmtCheck(fb, int32(fmt.size()), count, l)) << fmt;
    EXPECT_EQ(index, l->errIndex) << fmt;
    if (err != kNoErr) continue;
    const int32 bound = FormatMeasure(nullptr, l, fb, int32(fmt.size()), count);
    std::vector<uChar> buf(size_t(bound) + 1);
    uChar* end = FormatWrite(nullptr, l, fb, int32(fmt.size()), buf.data(), bound, count);
    ASSERT_NE(end, nullptr) << fmt;
    const std::string passes(reinterpret_cast<const char*>(buf.data()), size_t(end - buf.data()));
    EXPECT_EQ(Text(out), (withInit ? "init:" : "") + passes) << fmt;
    EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(out)), 4 + LStrLen(*out)) << fmt;
    ++compared;
  }
  EXPECT_GT(compared, qxtest::Scaled(20000) / 20);
  Dispose(init);
  Dispose(out);
}

TEST_F(StrFormat, MemoryFailuresEmptyTheOutput) {
  Args a;
  a.Str("abc").I32(5);
  LStrHandle f = NewStr("%s-%d");
  LStrHandle init = NewStr("init:");
  LStrHandle out = NewStr("xxxx");
  // The first resize fails: its error, the output empty.
  MemFailNthAllocation(1);
  MgErr err = DoPrintfNode(nullptr, f, init, &out, a.Count(), a.List());
  MemFailNthAllocation(0);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(Text(out), "");
  // Resized once to the bound and once to the length, nothing more.
  MemFailNthAllocation(3);
  EXPECT_EQ(DoPrintfNode(nullptr, f, init, &out, a.Count(), a.List()), kNoErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Text(out), "init:abc-5");
  // The initial string may be the output itself.
  EXPECT_EQ(DoPrintfNode(nullptr, f, out, &out, a.Count(), a.List()), kNoErr);
  EXPECT_EQ(Text(out), "init:abc-5abc-5");
  // A path longer than the stack text needs a block: its failure gives 2.
  Args p;
  std::string longPath;
  for (int i = 0; i < 10; ++i) longPath += "\\" + std::string(150, 'p');
  p.PathArg("C:" + longPath);
  longPath = fmttest::PathText(p.PathAt(0));
  ASSERT_GT(longPath.size(), 1024u);
  LStrHandle pf = NewStr("%s");
  MemFailNthAllocation(2);
  EXPECT_EQ(DoPrintfNode(nullptr, pf, nullptr, &out, p.Count(), p.List()), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Text(out), "");
  EXPECT_EQ(DoPrintfNode(nullptr, pf, nullptr, &out, p.Count(), p.List()), kNoErr);
  EXPECT_EQ(Text(out), longPath);
  for (LStrHandle h : {f, init, out, pf}) Dispose(h);
}

// ------------------------------------------------------- run-time table

TEST_F(StrFormat, EntriesAreReachedThroughTheTableAndByName) {
  EXPECT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  typedef MgErr (*PrintfFn)(void*, LStrHandle, LStrHandle, LStrHandle*, int32, FmtArgList*);
  typedef MgErr (*ConcatFn)(int32, const uChar*, const TypeDescriptor*, const void*, int32, const uChar*,
                            LStrHandle*);
  auto printfFn = reinterpret_cast<PrintfFn>(QXRTTable[1513]);
  auto concatFn = reinterpret_cast<ConcatFn>(QXRTTable[795]);
  EXPECT_EQ(reinterpret_cast<void*>(printfFn), dlsym(RTLD_DEFAULT, "DoPrintfNode"));
  EXPECT_EQ(reinterpret_cast<void*>(concatFn), dlsym(RTLD_DEFAULT, "FormatConcat"));
  Args a;
  a.I32(12).Str("x");
  LStrHandle f = NewStr("%d|%s");
  LStrHandle out = nullptr;
  EXPECT_EQ(printfFn(nullptr, f, nullptr, &out, a.Count(), a.List()), kNoErr);
  EXPECT_EQ(Text(out), "12|x");
  EXPECT_EQ(concatFn(2, reinterpret_cast<const uChar*>("n="), a.TD(0), a.Data(0), 0, nullptr, &out), kNoErr);
  EXPECT_EQ(Text(out), "n=12.000000");
  Dispose(out);
  Dispose(f);
}

}  // namespace
