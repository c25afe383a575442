#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>

#include "mgsource/extmath.h"
#include "mgsource/numconv.h"
#include "mgsource/numtext_internal.h"
#include "mgsource/printf.h"
#include "comma_locale.h"
#include "test_support.h"
#include "time_support.h"

namespace {

class NumText : public ::testing::Test {
 protected:
  void TearDown() override { NumSetSeparators(':', '/'); }
  int Failures() { return cap_.Count("Failure"); }
  Capture cap_;
};

std::string Text(double v, int32 code, int32 capacity = 256, char dp = '.') {
  char buf[1100];
  int32 n = NumToTextFmt(&v, kNumDBL, code, buf, capacity, dp);
  EXPECT_EQ(n, int32(std::strlen(buf)));
  return buf;
}

template <typename T>
std::string TextOf(int32 type, T v, int32 code) {
  char buf[256];
  NumToTextFmt(&v, type, code, buf, sizeof buf, '.');
  return buf;
}

double Secs1904(int year, int mon, int day, int h, int m, int s) {
  return double(UtcSecs1904(year, mon, day, h, m, s));
}

TEST_F(NumText, FixedNotation) {
  EXPECT_EQ(Text(3.14159, -2), "3.14");
  EXPECT_EQ(Text(3.14159, -2, 256, ','), "3,14");
  EXPECT_EQ(Text(2.5, 0), "2");
  EXPECT_EQ(Text(-0.004, -2), "-0.00");
  EXPECT_EQ(Text(0.0, -3), "0.000");
  EXPECT_EQ(Text(123456.0, -1), "123456.0");
  EXPECT_EQ(Text(1e22, 0), "10000000000000000000000");
  EXPECT_EQ(Text(0.1, -20), "0.10000000000000001000");  // 17 digits carry the value
  EXPECT_EQ(Text(1.0, -70).size(), 2u + 63u);  // at most 63 decimals
  EXPECT_EQ(Text(std::nan(""), -2), "NaN");
  EXPECT_EQ(Text(-INFINITY, -2), "-Inf");
}

TEST_F(NumText, FixedNotationSwitchesWhenItCannotFit) {
  // Beyond 307 digits before the point, or past the capacity less 4.
  EXPECT_EQ(Text(1e306, 0, 1024).size(), 307u);
  EXPECT_EQ(Text(2e307, 0, 1024), "2E+307");
  EXPECT_EQ(Text(1e251, 0).size(), 252u);
  EXPECT_EQ(Text(1e252, 0), "1E+252");
  EXPECT_EQ(Text(123456.0, -2, 12), "123456.00");   // 6 + 2 <= 8
  EXPECT_EQ(Text(1234567.0, -2, 12), "1.23E+6");    // 7 + 2 > 8: k + 1 significant digits
}

TEST_F(NumText, ExponentNotation) {
  EXPECT_EQ(Text(12345.0, 3), "1.23E+4");
  EXPECT_EQ(Text(0.5, 1), "5E-1");
  EXPECT_EQ(Text(0.0, 3), "0.00E+0");
  EXPECT_EQ(Text(-9.96, 2), "-1.0E+1");
  EXPECT_EQ(Text(1.0 / 3, 20), "3.3333333333333331000E-1");  // digits past 17 are zeros
  EXPECT_EQ(Text(5e-324, 2), "4.9E-324");
  EXPECT_EQ(Text(12345.0, 40, 12), "1.234E+4");  // digits limited to the capacity less 8
}

TEST_F(NumText, EngineeringNotation) {
  EXPECT_EQ(Text(12000.0, 101), "12.0E+3");
  EXPECT_EQ(Text(0.012, 101), "12.0E-3");
  EXPECT_EQ(Text(123456.0, 101), "120E+3");
  EXPECT_EQ(Text(1234.0, 102), "1.23E+3");
  EXPECT_EQ(Text(-0.5, 100), "-500E-3");
  EXPECT_EQ(Text(9960.0, 101), "10.0E+3");  // one more digit would undo the rounding
  EXPECT_EQ(Text(0.0, 102), "0.00E+0");
}

TEST_F(NumText, IntegerCodes) {
  EXPECT_EQ(TextOf<int8>(kNumI8, -1, 66), "FF");
  EXPECT_EQ(TextOf<int16>(kNumI16, -1, 67), "177777");
  EXPECT_EQ(TextOf<int32>(kNumI32, -1, 66), "FFFFFFFF");
  EXPECT_EQ(TextOf<int32>(kNumI32, -1, 65), "4294967295");
  EXPECT_EQ(TextOf<uInt32>(kNumU32, 4000000000u, 64), "4000000000");
  EXPECT_EQ(TextOf<int64>(kNumI64, -1, 64), "-1");
  EXPECT_EQ(TextOf<uInt8>(kNumU8, 5, 68), "101");
  EXPECT_EQ(TextOf<double>(kNumDBL, -7.5, 64), "-8");
  EXPECT_EQ(TextOf<double>(kNumDBL, 1e20, 64), "2147483647");
  EXPECT_EQ(TextOf<double>(kNumDBL, -1.0, 65), "0");
  EXPECT_EQ(TextOf<int32>(kNumI32, 1234, -2), "1234.00");
  uInt64 big = 18446744073709551615ull;
  EXPECT_EQ(TextOf<uInt64>(kNumU64, big, 0), "18446744073709552000");
}

TEST_F(NumText, ComplexAndPolar) {
  double c[2] = {1.5, -2.25};
  char buf[256];
  NumToTextFmt(c, kNumCDB, -2, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "1.50 -2.25 i");
  c[1] = 2.0;
  NumToTextFmt(c, kNumCDB, 1, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "2E+0 +2E+0 i");
  double p[2] = {0.0, 3.0};
  NumToTextFmt(p, kNumCDB, -98, buf, sizeof buf, '.');  // polar, code 2 for both parts
  EXPECT_STREQ(buf, "3.0E+0 arg 1.6E+0");
  NumToTextFmt(nullptr, kNumCDB, -2, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "0 + 0i");
  NumToTextFmt(nullptr, kNumDBL, -2, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "0");
  // " i" only when it fits.
  NumToTextFmt(c, kNumCDB, 1, buf, 14, '.');
  EXPECT_STREQ(buf, "2E+0 +2E+0 i");
  NumToTextFmt(c, kNumCDB, 1, buf, 13, '.');
  EXPECT_STREQ(buf, "2E+0 +2E+0");
  EXPECT_EQ(Failures(), 0);
}

TEST_F(NumText, ElapsedTime) {
  EXPECT_EQ(Text(3725.5, 202), "1:02:05.50");
  EXPECT_EQ(Text(59.999, 200), "1:00");
  EXPECT_EQ(Text(59.4, 200), "59");
  EXPECT_EQ(Text(5.25, 201), "5.2");  // 5.25 is a tie: to even
  EXPECT_EQ(Text(65.0, 200), "1:05");
  EXPECT_EQ(Text(600.0, 200), "10:00");
  EXPECT_EQ(Text(3599.6, 200), "1:00:00");
  EXPECT_EQ(Text(-90.0, 200), "-1:30");
  EXPECT_EQ(Text(std::nan(""), 200), "NaN");
  EXPECT_EQ(Text(INFINITY, 200), "Inf");
  NumSetSeparators('.', '-');
  EXPECT_EQ(Text(3725.5, 201, 256, ','), "1.02.05,5");
  EXPECT_EQ(Text(3725.5, 202, 8), "#######");  // does not fit
}

TEST_F(NumText, TimeStamps) {
  SetTZ("UTC");
  double t = Secs1904(2021, 7, 15, 14, 4, 5) + 0.75;
  const int32 time = 512 + kTSShowTime;
  EXPECT_EQ(Text(t, time + kTS24Hour + kTSShowSeconds), "14:04:06");  // rounded when no fraction
  EXPECT_EQ(Text(t, time + kTS24Hour), "14:04");
  EXPECT_EQ(Text(t, time + kTSShowSeconds), "02:04:06 PM");
  EXPECT_EQ(Text(t, time + kTS24Hour + kTSShowSeconds + 2), "14:04:05.75");  // truncated with a fraction
  EXPECT_EQ(Text(t, time + kTSShowSeconds + 3, 256, ','), "02:04:05,750 PM");
  const int32 date = 512 + kTSShowDate;
  EXPECT_EQ(Text(t, date + kTSShowYear + kTSFourDigitYear), "07/15/2021");
  EXPECT_EQ(Text(t, date + kTSDayFirst + kTSShowYear), "15/07/21");
  EXPECT_EQ(Text(t, date + kTSShowYear + kTSYearFirst + kTSFourDigitYear), "2021/07/15");
  EXPECT_EQ(Text(t, date), "07/15");
  EXPECT_EQ(Text(t, time + kTS24Hour + date - 512 + kTSShowYear), "14:04\n07/15/21");
  NumSetSeparators('.', '-');
  EXPECT_EQ(Text(t, time + kTS24Hour + date - 512 + kTSShowYear), "14.04\n07-15-21");
  NumSetSeparators(':', '/');
  EXPECT_EQ(Text(-1.0, time), "Neg");
  EXPECT_EQ(Text(std::nan(""), time), "NaN");
  EXPECT_EQ(Text(INFINITY, time), "Inf");
  EXPECT_EQ(Text(INFINITY, time, 3), "##");
  EXPECT_EQ(Text(t, time + kTSShowSeconds, 8), "#######");
  EXPECT_EQ(Text(0.0, 512 + 0x3FF), "00:00:00.000\n1904/01/01");
}

TEST_F(NumText, TimeStampsUseTheZoneRulesOfTheirOwnInstant) {
  SetTZ("Europe/Berlin");
  const int32 code = 512 + kTSShowTime + kTS24Hour;
  EXPECT_EQ(Text(Secs1904(2021, 1, 15, 12, 0, 0), code), "13:00");
  EXPECT_EQ(Text(Secs1904(2021, 7, 15, 12, 0, 0), code), "14:00");
  EXPECT_EQ(Text(Secs1904(2039, 7, 15, 12, 0, 0), code), "14:00");  // past 2038
  SetTZ("UTC");
}

TEST_F(NumText, TimeFormatsOfAComplexNumberAreReported) {
  double c[2] = {90.0, 1.0};
  char buf[64];
  NumToTextFmt(c, kNumCDB, 200, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "1:30");
  EXPECT_EQ(Failures(), 1);
}

TEST_F(NumText, TextCutAtTheCapacityIsReported) {
  char buf[4];
  int32 v = 123456;
  EXPECT_EQ(NumToTextFmt(&v, kNumI32, 64, buf, sizeof buf, '.'), 3);
  EXPECT_STREQ(buf, "123");
  EXPECT_EQ(Failures(), 1);
  EXPECT_EQ(NumToTextFmt(&v, kNumI32, 64, buf, 0, '.'), 0);
}

TEST_F(NumText, DecimalRecordWithABadDigitIsReported) {
  DecimalRec rec = {};
  rec.bcd[0] = 0x1C;  // a nibble of 12
  rec.exponent = 0;
  rec.digits = 2;
  NumDecimal d;
  EXPECT_FALSE(NumDecimalFromRec(rec, &d));
  EXPECT_EQ(Failures(), 1);
  EXPECT_NE(cap_.Debug().find("sign 0, exp 0, mdigits 2, m 1C 0 0 0 0 0 0 0 0"), std::string::npos);
}

TEST_F(NumText, SeventeenDigitsReadBackExactly) {
  std::mt19937_64 rng(1234);
  int mismatches = 0;
  const int count = Scaled(100000);
  for (int i = 0; i < count; ++i) {
    uInt64 bits = rng();
    double v;
    std::memcpy(&v, &bits, 8);
    if (!std::isfinite(v)) continue;
    char buf[64];
    NumToTextFmt(&v, kNumDBL, 17, buf, sizeof buf, '.');
    if (std::strtod(buf, nullptr) != v) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(NumText, FixedThreeDecimalsAgreeWithTheCLibrary) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> mant(-1.0, 1.0), mag(-6.0, 13.0);
  int mismatches = 0;
  const int count = Scaled(100000);
  for (int i = 0; i < count; ++i) {
    double v = mant(rng) * std::pow(10.0, mag(rng));
    char ours[64], theirs[64];
    SPrintf(ours, "%.3f", v);
    std::snprintf(theirs, sizeof theirs, "%.3f", v);
    if (std::strcmp(ours, theirs) != 0 && ++mismatches < 5) ADD_FAILURE() << ours << " vs " << theirs;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(NumText, DefaultDecimalPointFromTheLocale) {
  CommaLocale comma;
  if (!comma.Made()) GTEST_SKIP() << "localedef cannot build a locale here";
  EXPECT_EQ(NumDefaultDecimalPt(), ',');
  double v = 2.5;
  char buf[32];
  NumToText(&v, kNumDBL, -1, buf, sizeof buf);
  EXPECT_STREQ(buf, "2,5");
  SPrintf(buf, "%.1f", 2.5);
  EXPECT_STREQ(buf, "2,5");
  SPrintf(buf, "%.;%.1f %;%.1f", 2.5, 2.5);
  EXPECT_STREQ(buf, "2.5 2,5");
  // The C library's own formatting is untouched.
  std::snprintf(buf, sizeof buf, "%.1f", 2.5);
  EXPECT_STREQ(buf, "2.5");
  CfgTestSetValue("useLocaleDecimalPt", "false");
  NumInitDecimalPt();
  EXPECT_EQ(NumDefaultDecimalPt(), '.');
}

TEST_F(NumText, DecimalPointWithoutTheKeyIsAPoint) {
  setenv("LC_ALL", "C", 1);
  CfgTestRemoveValue("useLocaleDecimalPt");
  NumInitDecimalPt();
  EXPECT_EQ(NumDefaultDecimalPt(), '.');
}

}  // namespace
