#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "mgsource/extsupport.h"

TEST(ExtSupportIntegers, ModPositiveIsNeverNegative) {
  EXPECT_EQ(ModPositive(-7, 3), 2);
  EXPECT_EQ(ModPositive(-7, -3), 2);
  EXPECT_EQ(ModPositive(7, 3), 1);
  EXPECT_EQ(ModPositive(7, -3), 1);
  EXPECT_EQ(ModPositive(-6, 3), 0);
  EXPECT_EQ(ModPositive(INT_MIN, INT_MIN), 0);
  EXPECT_EQ(ModPositive(-1, INT_MIN), INT_MAX);
  EXPECT_EQ(ModPositive(INT_MIN, 7), int32(((int64(INT_MIN) % 7) + 7) % 7));
}

TEST(ExtSupportIntegers, ModPositiveUndefinedDivisionsGiveZeroWithoutTrap) {
  EXPECT_EQ(ModPositive(5, 0), 0);
  EXPECT_EQ(ModPositive(INT_MIN, 0), 0);
  EXPECT_EQ(ModPositive(INT_MIN, -1), 0);
  EXPECT_EQ(ModPositive(INT_MAX, -1), 0);
}

TEST(ExtSupportIntegers, AbsMinMax) {
  EXPECT_EQ(Abs(-5), 5);
  EXPECT_EQ(Abs(5), 5);
  EXPECT_EQ(Abs(INT_MIN), INT_MIN);  // wraps as the processor does, no overflow trap
  EXPECT_EQ(Min(-3, 2), -3);
  EXPECT_EQ(Max(-3, 2), 2);
  EXPECT_EQ(Min(INT_MIN, INT_MAX), INT_MIN);
}

TEST(ExtSupportCharacters, Classes) {
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    EXPECT_EQ(IsAlpha(c) != 0, letter) << c;
    EXPECT_EQ(IsDigit(c) != 0, c >= '0' && c <= '9') << c;
    bool punct = (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || (c >= 123 && c <= 126);
    EXPECT_EQ(IsPunct(c) != 0, punct) << c;
  }
  for (int c = 128; c < 256; ++c) EXPECT_FALSE(IsAlpha(c)) << c;
  EXPECT_FALSE(IsPunct(' '));
  EXPECT_FALSE(IsPunct(127));
  EXPECT_TRUE(IsPunct('`'));
}

TEST(ExtSupportCharacters, CaseOfTheCodePage) {
  EXPECT_EQ(ToUpper(0xE9), 0xC9);
  EXPECT_EQ(ToLower(0xC9), 0xE9);
  EXPECT_EQ(ToLower(0x9F), 0xFF);
  EXPECT_EQ(ToUpper(0xFF), 0x9F);
  EXPECT_EQ(ToUpper(0x9A), 0x8A);
  EXPECT_EQ(ToUpper(0x9C), 0x8C);
  EXPECT_EQ(ToLower(0x8E), 0x9E);
  EXPECT_EQ(ToUpper(0xF7), 0xF7);  // the division sign has no case
  EXPECT_EQ(ToLower(0xD7), 0xD7);  // nor the multiplication sign
  EXPECT_EQ(ToUpper(0xDF), 0xDF);
  EXPECT_EQ(ToUpper('a'), 'A');
  EXPECT_EQ(ToLower('Z'), 'z');
  EXPECT_EQ(ToUpper('1'), '1');
  EXPECT_TRUE(IsLower(0xE9));
  EXPECT_TRUE(IsUpper(0xC9));
  EXPECT_FALSE(IsLower(0xDF));
  EXPECT_FALSE(IsUpper('1'));
}

TEST(ExtSupportCharacters, ValuesBeyondAByteAreUnchanged) {
  EXPECT_EQ(ToUpper(0x161), 0x161);
  EXPECT_EQ(ToUpper(0x10061), 0x10061);
  EXPECT_EQ(ToLower(0x10041), 0x10041);
  EXPECT_EQ(ToLower(-1), -1);
  EXPECT_FALSE(IsLower(0x10061));
  EXPECT_FALSE(IsUpper(0x141));
}

TEST(ExtSupportCharacters, CaseRoundTripsOverEveryByte) {
  for (int c = 0; c < 256; ++c) {
    if (IsUpper(c)) {
      EXPECT_EQ(ToUpper(ToLower(c)), c) << c;
    }
    if (IsLower(c)) {
      EXPECT_EQ(ToLower(ToUpper(c)), c) << c;
    }
    EXPECT_FALSE(IsUpper(c) && IsLower(c)) << c;
  }
}

TEST(ExtSupportCStrings, CopyAndAppend) {
  char buf[16];
  EXPECT_EQ(StrCpy(buf, "abc"), buf);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(StrCat(buf, "de"), 5);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(StrLen(buf), 5);
  EXPECT_EQ(StrLen(""), 0);
}

TEST(ExtSupportCStrings, StrNCpyFillsWithNuls) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(StrNCpy(buf, "ab", 5), buf);
  EXPECT_EQ(std::memcmp(buf, "ab\0\0\0", 5), 0);
  EXPECT_EQ(buf[5], 'x');
  std::memset(buf, 'x', sizeof buf);
  StrNCpy(buf, "abcdef", 3);  // no NUL when the text fills the bytes
  EXPECT_EQ(std::memcmp(buf, "abcx", 4), 0);
}

TEST(ExtSupportCStrings, CompareWhenEitherEndsFirst) {
  EXPECT_EQ(StrCmp("abc", "abc"), 0);
  EXPECT_EQ(StrCmp("ab", "abc"), -'c');
  EXPECT_EQ(StrCmp("abc", "ab"), 1);
  EXPECT_EQ(StrCmp("abd", "abc"), 1);
  EXPECT_EQ(StrCmp("a\xE9", "a\x41"), 0xE9 - 0x41);  // unsigned bytes
  EXPECT_EQ(StrNCmp("abcx", "abcy", 3), 0);
  EXPECT_EQ(StrNCmp("abcx", "abcy", 4), 'x' - 'y');
  EXPECT_EQ(StrNCmp("ab", "abc", 3), -'c');
  EXPECT_TRUE(StrEqual("q", "q"));
  EXPECT_FALSE(StrEqual("q", "Q"));
  EXPECT_TRUE(StrNEqual("qa", "qb", 1));
  EXPECT_EQ(StrNCaseCmp("ABC", "abc", 3), 0);
  EXPECT_EQ(StrNCaseCmp("AB", "abc", 5), -'c');
  EXPECT_EQ(StrNCaseCmp("ABC", "ab", 5), 1);
  EXPECT_EQ(StrNCaseCmp("ABD", "abc", 5), 'd' - 'c');
  EXPECT_EQ(StrNCaseCmp("\xC9T\xC9", "\xE9t\xE9", 3), 0);
  EXPECT_TRUE(StrNCaseEqual("ABx", "aby", 2));
  EXPECT_FALSE(StrNCaseEqual("ABx", "aby", 3));
}

TEST(ExtSupportCStrings, CaseCompareIncludesTheNul) {
  EXPECT_EQ(StrCaseCmp("Hello", "hELLO"), 0);
  EXPECT_EQ(StrCaseCmp("ab", "ABC"), -'c');
  EXPECT_EQ(StrCaseCmp("ABC", "ab"), 'c');
  EXPECT_LT(StrCaseCmp("a", "B"), 0);
  EXPECT_GT(StrCaseCmp("b", "A"), 0);
}

TEST(ExtSupportFloat, SinCosAndClasses) {
  double s = 0, c = 0;
  SinCos(M_PI / 6, &s, &c);
  EXPECT_NEAR(s, 0.5, 1e-15);
  EXPECT_NEAR(c, std::sqrt(3.0) / 2, 1e-15);
  SinCos(1.0, nullptr, &c);
  EXPECT_DOUBLE_EQ(c, std::cos(1.0));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(IsInfD(inf));
  EXPECT_TRUE(IsInfD(-inf));
  EXPECT_FALSE(IsInfD(1e308));
  EXPECT_FALSE(IsInfD(std::nan("")));
  EXPECT_TRUE(IsNaND(std::nan("")));
  EXPECT_TRUE(IsNaND(-std::nan("")));
  EXPECT_FALSE(IsNaND(inf));
  EXPECT_FALSE(IsNaND(0.0));
}

TEST(ExtSupportFloat, LogOnePlus) {
  EXPECT_EQ(LogOnePlus(1e-20), 1e-20);
  EXPECT_EQ(LogOnePlus(0.0), 0.0);
  EXPECT_NEAR(LogOnePlus(1e-10), std::log1p(1e-10), 1e-25);
  EXPECT_NEAR(LogOnePlus(0.5), std::log1p(0.5), 1e-15);
  EXPECT_NEAR(LogOnePlus(-0.75), std::log1p(-0.75), 1e-15);
  EXPECT_NEAR(LogOnePlus(3.0), std::log(4.0), 1e-15);
  EXPECT_TRUE(std::isinf(LogOnePlus(-1.0)));
}

TEST(ExtSupportStub, AllFiveNamesAnswerCapabilityNotSupported) {
  EXPECT_EQ(CINStub(), 53);
  EXPECT_EQ(CINCopyWizardTemplate(1, 2, 3), 53);
  EXPECT_EQ(CINGetHeapVIPath(nullptr), 53);
  EXPECT_EQ(CINGetObjType(0, 0), 53);
  EXPECT_EQ(CINGetWizardData(), 53);
  EXPECT_EQ(CINSetWizardData(7), 53);
}
