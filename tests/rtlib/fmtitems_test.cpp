// The format-string language: items read from counted formats, scan sets,
// argument classes and the check of a format against its arguments.
#include <string>
#include <vector>

#include "format_test_support.h"
#include "mgsource/numconv.h"

namespace {

using fmttest::Args;
using fmttest::FormatTest;

std::vector<FmtItem> Items(const std::string& f) {
  std::vector<FmtItem> v;
  const uChar* p = reinterpret_cast<const uChar*>(f.data());
  int32 len = int32(f.size());
  for (int32 at = 0; at < len;) {
    FmtItem it;
    FmtNextItem(p, len, at, &it);
    EXPECT_GT(it.end, at) << f;
    EXPECT_LE(it.end, len) << f;
    if (it.end <= at) break;
    v.push_back(it);
    at = it.end;
  }
  return v;
}

FmtItem One(const std::string& f) {
  std::vector<FmtItem> v = Items(f);
  EXPECT_EQ(v.size(), 1u) << f;
  return v.empty() ? FmtItem{} : v[0];
}

TEST(FmtSpec, SpecifierFieldsAreRead) {
  struct Case {
    const char* fmt;
    uInt8 flags;
    int32 width, precision;
    const char* unit;  // null: no braces
    uChar size, conv;
  };
  const Case cases[] = {
      {"%d", 0, -1, -1, nullptr, 0, 'd'},
      {"%5.2f", 0, 5, 2, nullptr, 0, 'f'},
      {"%-+^0 12.3{km}lE", 0, -1, -1, nullptr, 0, ' '},  // a space is no flag
      {"%-+^012.3{km}lE", kFmtFlagLeft | kFmtFlagPlus | kFmtFlagEng | kFmtFlagZero, 12, 3, "km", 'l', 'e'},
      {"%.{}Lg", 0, -1, 0, "", 'L', 'g'},
      {"%hd", 0, -1, -1, nullptr, 'h', 'd'},
      {"%X", 0, -1, -1, nullptr, 0, 'x'},
      {"%c", 0, -1, -1, nullptr, 0, 'c'},
      {"%5", 0, 5, -1, nullptr, 0, kFmtConvMissing},
      {"%{m", 0, -1, -1, nullptr, 0, kFmtConvMissing},
      {"%.", 0, -1, 0, nullptr, 0, kFmtConvMissing},
      {"%l", 0, -1, -1, nullptr, 'l', kFmtConvMissing},
      // Digits that overflow saturate.
      {"%99999999999999999999.88888888888888888d", 0, kFmtMaxCount, kFmtMaxCount, nullptr, 0, 'd'},
  };
  for (const Case& c : cases) {
    std::string f = c.fmt;
    std::vector<FmtItem> items = Items(f);
    ASSERT_FALSE(items.empty()) << f;
    const FmtItem& it = items[0];
    EXPECT_EQ(it.kind, kFmtItemSpec) << f;
    if (c.conv == ' ') continue;  // only the item's kind is asked
    EXPECT_EQ(items.size(), 1u) << f;
    EXPECT_EQ(it.flags, c.flags) << f;
    EXPECT_EQ(it.width, c.width) << f;
    EXPECT_EQ(it.precision, c.precision) << f;
    EXPECT_EQ(it.size, c.size) << f;
    EXPECT_EQ(it.conv, c.conv) << f;
    if (c.unit) {
      ASSERT_GE(it.unitStart, 0) << f;
      EXPECT_EQ(f.substr(size_t(it.unitStart), size_t(it.unitLen)), c.unit) << f;
    } else {
      EXPECT_EQ(it.unitStart, -1) << f;
    }
    EXPECT_EQ(it.end, int32(f.size())) << f;
  }
}

TEST(FmtSpec, SpecialSequencesAndLiterals) {
  struct Case {
    const char* fmt;
    FmtItemKind kind;
    uChar value;
    int32 end;
  };
  const Case cases[] = {
      {"%%", kFmtItemPercent, 0, 2},
      {"%", kFmtItemFinalPercent, 0, 1},
      {"%,;", kFmtItemSeparator, ',', 3},
      {"%\\2C;", kFmtItemSeparator, ',', 5},  // a backslash code for the comma
      {"%-;", kFmtItemSeparator, '-', 3},
      {"\\n", kFmtItemCode, '\n', 2},
      {"\\s", kFmtItemCode, ' ', 2},
      {"\\41", kFmtItemCode, 'A', 3},
      {"\\\\", kFmtItemCode, '\\', 2},
      {"\\", kFmtItemCode, '\\', 1},  // a backslash at the end stands for itself
      {" ", kFmtItemWhite, ' ', 1},
      {"\t", kFmtItemWhite, '\t', 1},
      {"\f", kFmtItemWhite, '\f', 1},
      {"x", kFmtItemChar, 0, 1},
  };
  for (const Case& c : cases) {
    FmtItem it = One(c.fmt);
    EXPECT_EQ(it.kind, c.kind) << c.fmt;
    if (c.kind != kFmtItemPercent && c.kind != kFmtItemFinalPercent && c.kind != kFmtItemChar) {
      EXPECT_EQ(it.value, c.value) << c.fmt;
    }
    EXPECT_EQ(it.end, c.end) << c.fmt;
  }
  // '%;' restores the system point; "%[" and "%a;" are never separators.
  EXPECT_EQ(One("%;").value, NumDefaultDecimalPt());
  EXPECT_EQ(One("%;").kind, kFmtItemSeparator);
  EXPECT_EQ(Items("%[;]").size(), 1u);
  EXPECT_EQ(Items("%[;]")[0].kind, kFmtItemSpec);
  EXPECT_EQ(Items("%a;")[0].kind, kFmtItemSpec);
  EXPECT_EQ(Items("%a;").size(), 2u);
  // Lower-case hexadecimal digits are not digits of a code.
  std::vector<FmtItem> v = Items("\\4a");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].value, 4);
}

// The members of a scan set, as a string of the bytes it holds.
std::string Members(const std::string& f) {
  FmtItem it = One(f);
  EXPECT_EQ(it.conv, kFmtConvSet) << f;
  FmtScanSet set;
  FmtBuildScanSet(reinterpret_cast<const uChar*>(f.data()), it, &set);
  std::string m;
  for (int c = 0; c < 256; ++c)
    if (set.Has(uChar(c))) m += char(c);
  return m;
}

TEST(FmtSpec, ScanSets) {
  EXPECT_EQ(Members("%[a-c]"), "abc");
  EXPECT_EQ(Members("%[]a]"), "]a");
  EXPECT_EQ(Members("%[-a]"), "-a");    // first: a member
  EXPECT_EQ(Members("%[a-]"), "-a");    // before "]": a member
  EXPECT_EQ(Members("%[a-c-e]"), "abcde");
  EXPECT_EQ(Members("%[\\41-\\43]"), "ABC");
  EXPECT_EQ(Members("%[\\]]"), "]");
  EXPECT_EQ(Members("%[\\s\\t]"), "\t ");
  std::string notAC = Members("%[^a-c]");
  EXPECT_EQ(notAC.size(), 253u);
  EXPECT_EQ(notAC.find('b'), std::string::npos);
  std::string notBracket = Members("%[^]]");
  EXPECT_EQ(notBracket.size(), 255u);
  EXPECT_EQ(notBracket.find(']'), std::string::npos);
  // A set cut off before "]" is no conversion.
  for (const char* f : {"%[abc", "%[", "%[^", "%[]", "%[a\\"}) {
    FmtItem it = One(f);
    EXPECT_EQ(it.conv, kFmtConvMissing) << f;
    EXPECT_EQ(it.end, int32(std::strlen(f))) << f;
  }
}

// Every prefix of a format is read only up to its length: the formats are
// copied into blocks of exactly that size, so ASan sees any read past them.
TEST(FmtSpec, CutOffFormatsAreReadWithinTheirLength) {
  const char* formats[] = {"%-+^012.3{km}lE", "%[^]a-c\\41]", "%\\2C;x", "a\\4", "%5.{", "%%%"};
  for (const char* f : formats) {
    std::string s = f;
    for (size_t n = 1; n <= s.size(); ++n) {
      std::unique_ptr<uChar[]> b(new uChar[n]);
      std::memcpy(b.get(), s.data(), n);
      for (int32 at = 0; at < int32(n);) {
        FmtItem it;
        FmtNextItem(b.get(), int32(n), at, &it);
        ASSERT_GT(it.end, at) << s.substr(0, n);
        ASSERT_LE(it.end, int32(n)) << s.substr(0, n);
        if (it.conv == kFmtConvSet) {
          FmtScanSet set;
          FmtBuildScanSet(b.get(), it, &set);
        }
        at = it.end;
      }
      FmtCheck(b.get(), int32(n), 0, nullptr);
    }
  }
}

TEST(FmtSpec, ClassesOfTypeCodes) {
  struct Case {
    int32 code;
    FmtClass cls;
    int32 numType;
  };
  const Case cases[] = {
      {kTDI8, kFmtClassNumeric, kNumI8},        {kTDCXT, kFmtClassNumeric, kNumCXT},
      {kTDEnumU8, kFmtClassEnum, kNumU8},       {kTDEnumU32, kFmtClassEnum, kNumU32},
      {kTDUnitSGL, kFmtClassNumeric, kNumSGL},  {kTDUnitCXT, kFmtClassNumeric, kNumCXT},
      {kTDBoolean, kFmtClassBoolean, 0},        {kTDString, kFmtClassString, 0},
      {kTDString37, kFmtClassString, 0},        {kTDPath, kFmtClassPath, 0},
      {kTDVoid, kFmtClassNone, 0},              {kTDBooleanOld, kFmtClassNone, 0},
      {kTDCluster, kFmtClassNone, 0},           {kTDString33, kFmtClassNone, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FmtClassOf(c.code), c.cls) << c.code;
    if (c.numType) { EXPECT_EQ(FmtNumType(c.code), c.numType) << c.code; }
  }
  EXPECT_EQ(NumClass(FmtNumType(kTDUnitCDB)), kNumClassComplex);
}

// ----------------------------------------------------------------- check

class FmtCheckTest : public FormatTest {};

struct CheckCase {
  const char* fmt;
  int32 err;
  int32 index;
};

void RunCheck(Args& a, const CheckCase& c) {
  LStrHandle f = fmttest::NewStr(c.fmt);
  FmtArgList* list = a.List();
  EXPECT_EQ(CheckFormatArgs(f, a.Count(), list), c.err) << c.fmt;
  EXPECT_EQ(list->errIndex, c.index) << c.fmt;
  fmttest::Dispose(f);
}

TEST_F(FmtCheckTest, OneNumericArgument) {
  Args a;
  a.I32(1);
  const CheckCase cases[] = {
      {"%d", 0, 0},         {"%5.2F", 0, 0},      {"%ld", 0, 0},     {"%Lx", 0, 0},
      {"%b %%", 0, 0},      {"x%^e%", 0, 0},      {"%hd", 82, 1},    {"%c", 82, 1},
      {"%", 83, 0},         {"%%", 83, 0},        {"%,;", 83, 0},    {"%s", 81, 1},
      {"%[a]", 81, 1},      {"%{km}f", 81, 1},    {"%d", 0, 0},      {"%d %d", 84, 0},
      {"%d%c", 84, 0},      {"\\%d", 83, 0},       {"%5", 82, 1},     {"%.3", 82, 1},
      {"%{m", 82, 1},       {"%z", 82, 1},
  };
  for (const CheckCase& c : cases) RunCheck(a, c);
}

TEST_F(FmtCheckTest, ClassesAgainstConversions) {
  Args a;
  a.Str("t").Str("u", kTDString37).PathArg("/x").Bool(true).Enum(kTDEnumU16, {"a", "b"}, 1);
  a.UnitDBL({{kUnitM, 1}}, 2.0).DBL(1.0);
  const CheckCase cases[] = {
      {"%s %s %s %s %s %{km}f %f", 0, 0},
      {"%[a] %[^b] %s %[x] %d %.1{km}e %g", 0, 0},
      {"%s %s %s %d %x %f %e", 0, 0},      // booleans and enums are numbers too
      {"%d %s %s %s %s %f %f", 81, 1},     // "%d" on a string
      {"%s %x %s %s %s %f %f", 81, 2},
      {"%s %s %e %s %s %f %f", 81, 3},     // a path is no number
      {"%s %s %s %s %s %s %f", 81, 6},     // a unit number is no text
      {"%s %s %s %s %s %f %{km}f", 81, 7}, // braces on a plain double
      {"%s %s %s %s %{}s %f %f", 81, 5},
      {"%s %s %s %s %s %f %hf", 82, 7},
      {"%s %s %s %s %s %f", 83, 0},
      {"%s %s %s %s %s %f %f %f", 84, 0},
      {"%d %c %s %s %s %f %f %f", 81, 1},  // the first error wins
      {"%c %d %s %s %s %f %f %f", 82, 1},
  };
  for (const CheckCase& c : cases) RunCheck(a, c);
}

TEST_F(FmtCheckTest, NoArgumentsAndNoFormat) {
  Args none;
  RunCheck(none, {"%%", 0, 0});
  RunCheck(none, {"abc\\n%,;%", 0, 0});
  RunCheck(none, {"%d", 84, 0});
  EXPECT_EQ(CheckFormatArgs(nullptr, 0, none.List()), 0);
  Args one;
  one.DBL(1);
  RunCheck(one, {"%%", 83, 0});
  EXPECT_EQ(CheckFormatArgs(nullptr, 1, one.List()), kFmtTooFewSpecs);
  // No list: the arguments count as none.
  LStrHandle f = fmttest::NewStr("%d");
  EXPECT_EQ(CheckFormatArgs(f, 1, nullptr), kFmtTooManySpecs);
  fmttest::Dispose(f);
}

}  // namespace
