#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "mgsource/numconv.h"
#include "test_support.h"

namespace {

class NumConv : public ::testing::Test {
 protected:
  int Failures() { return cap_.Count("Failure"); }
  Capture cap_;
};

template <typename D, typename S>
D Convert(int32 srcType, S value, int32 dstType) {
  D out{};
  ConvertNum(srcType, &value, dstType, &out);
  return out;
}

TEST_F(NumConv, TypeTable) {
  const int32 sizes[16] = {0, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 10, 8, 16, 20, 0};
  const int32 classes[16] = {64, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 3, 3, 3, 64};
  for (int32 t = 0; t < 16; ++t) {
    EXPECT_EQ(NumSize(t), sizes[t]) << t;
    EXPECT_EQ(NumClass(t), classes[t]) << t;
    EXPECT_EQ(NumSize(t + 16), sizes[t]);  // the low four bits are used
  }
}

TEST_F(NumConv, FloatingToIntegerRoundsHalfToEvenAndSaturates) {
  EXPECT_EQ((Convert<uInt8, double>(kNumDBL, 300.7, kNumU8)), 255);
  EXPECT_EQ((Convert<uInt16, double>(kNumDBL, -5.5, kNumU16)), 0);
  EXPECT_EQ((Convert<int32, double>(kNumDBL, 2.5, kNumI32)), 2);
  EXPECT_EQ((Convert<int32, double>(kNumDBL, 3.5, kNumI32)), 4);
  EXPECT_EQ((Convert<int32, double>(kNumDBL, -2.5, kNumI32)), -2);
  EXPECT_EQ((Convert<int8, double>(kNumDBL, 127.5, kNumI8)), 127);
  EXPECT_EQ((Convert<int8, double>(kNumDBL, -1e9, kNumI8)), -128);
  EXPECT_EQ((Convert<int32, double>(kNumDBL, 1e10, kNumI32)), INT32_MAX);
  EXPECT_EQ((Convert<uInt32, double>(kNumDBL, 1e10, kNumU32)), 0xFFFFFFFFu);
  EXPECT_EQ((Convert<uInt32, double>(kNumDBL, -1.0, kNumU32)), 0u);
  EXPECT_EQ((Convert<uInt16, float>(kNumSGL, 40000.0f, kNumU16)), 40000);
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ((Convert<int16, double>(kNumDBL, nan, kNumI16)), -32768);
  EXPECT_EQ((Convert<uInt8, double>(kNumDBL, nan, kNumU8)), 0);
  EXPECT_EQ((Convert<uInt32, double>(kNumDBL, nan, kNumU32)), 0u);
  EXPECT_EQ((Convert<int32, double>(kNumDBL, nan, kNumI32)), INT32_MIN);
}

TEST_F(NumConv, SixtyFourBitTargetsTakeIntegerIndefiniteOutOfRange) {
  const int64 indefinite = std::numeric_limits<int64>::min();
  EXPECT_EQ((Convert<int64, double>(kNumDBL, 1e20, kNumI64)), indefinite);
  EXPECT_EQ((Convert<int64, double>(kNumDBL, -1e20, kNumI64)), indefinite);
  EXPECT_EQ((Convert<int64, double>(kNumDBL, std::nan(""), kNumI64)), indefinite);
  EXPECT_EQ((Convert<int64, double>(kNumDBL, -3.5, kNumI64)), -4);
  EXPECT_EQ((Convert<uInt64, double>(kNumDBL, 9223372036854775808.0, kNumU64)), 9223372036854775808ull);
  EXPECT_EQ((Convert<uInt64, double>(kNumDBL, 18446744073709549568.0, kNumU64)), 18446744073709549568ull);
  EXPECT_EQ((Convert<uInt64, double>(kNumDBL, 1.9e19, kNumU64)), 9223372036854775808ull);
  EXPECT_EQ((Convert<uInt64, double>(kNumDBL, -2.0, kNumU64)), uInt64(-2ll));  // two's complement kept
  // An extended value keeps all 64 bits.
  long double big = 18446744073709551615.0L;
  uChar ext[10];
  std::memcpy(ext, &big, 10);
  uInt64 u = 0;
  ConvertNum(kNumEXT, ext, kNumU64, &u);
  EXPECT_EQ(u, 18446744073709551615ull);
}

TEST_F(NumConv, IntegersWrapAndSignExtend) {
  EXPECT_EQ((Convert<int8, int32>(kNumI32, 300, kNumI8)), 44);
  EXPECT_EQ((Convert<uInt16, int8>(kNumI8, -1, kNumU16)), 0xFFFF);
  EXPECT_EQ((Convert<int64, uInt32>(kNumU32, 0xFFFFFFFFu, kNumI64)), 0xFFFFFFFFll);
  EXPECT_EQ((Convert<int64, int32>(kNumI32, -1, kNumI64)), -1);
  EXPECT_EQ((Convert<uInt8, uInt64>(kNumU64, 0x1234567890ull, kNumU8)), 0x90);
  int32 out = 77;
  ConvertNum(0, nullptr, kNumI32, &out);  // no number reads as 0
  EXPECT_EQ(out, 0);
}

TEST_F(NumConv, ComplexAndRealConvertBothWays) {
  double c[2] = {1.5, -2.5};
  double re = 0;
  ConvertNum(kNumCDB, c, kNumDBL, &re);
  EXPECT_EQ(re, 1.5);
  float cs[2] = {};
  ConvertNum(kNumCDB, c, kNumCSG, cs);
  EXPECT_EQ(cs[0], 1.5f);
  EXPECT_EQ(cs[1], -2.5f);
  double d = 3.0;
  double out[2] = {9, 9};
  ConvertNum(kNumDBL, &d, kNumCDB, out);
  EXPECT_EQ(out[0], 3.0);
  EXPECT_EQ(out[1], 0.0);
  uChar ext[20];
  ConvertNum(kNumCDB, c, kNumCXT, ext);
  double back[2];
  ConvertNum(kNumCXT, ext, kNumCDB, back);
  EXPECT_EQ(back[0], 1.5);
  EXPECT_EQ(back[1], -2.5);
  int32 i = 0;
  ConvertNum(kNumCXT, ext, kNumI32, &i);
  EXPECT_EQ(i, 2);
}

TEST_F(NumConv, TypeCodesOfSixteenOrMoreAreReportedAndMasked) {
  int32 v = 300;
  int8 out = 0;
  ConvertNum(16 + kNumI32, &v, kNumI8, &out);
  EXPECT_EQ(out, 44);
  EXPECT_EQ(Failures(), 1);
}

TEST_F(NumConv, NumToLongReadsIntegersDirectly) {
  int8 i8 = -5;
  uInt16 u16 = 65535;
  int64 i64 = 0x123456789ll;
  double d = -7.5;
  float big = 3e9f;
  EXPECT_EQ(NumToLong(kNumI8, &i8), -5);
  EXPECT_EQ(NumToULong(kNumI8, &i8), 0xFFFFFFFBu);
  EXPECT_EQ(NumToLong(kNumU16, &u16), 65535);
  EXPECT_EQ(NumToLong(kNumI64, &i64), 0x23456789);
  EXPECT_EQ(NumToLong(kNumDBL, &d), -8);
  EXPECT_EQ(NumToULong(kNumDBL, &d), 0u);
  EXPECT_EQ(NumToLong(kNumSGL, &big), INT32_MAX);
  EXPECT_EQ(NumToULong(kNumSGL, &big), 3000000000u);
  EXPECT_EQ(NumToLong(kNumI32, nullptr), 0);
  EXPECT_EQ(NumToULong(kNumDBL, nullptr), 0u);
}

TEST_F(NumConv, ClassifyFloatNumber) {
  float f = -std::numeric_limits<float>::infinity();
  double d = std::numeric_limits<double>::infinity(), n = std::nan(""), z = 0.0;
  EXPECT_EQ(ClassifyFloatNumber(kNumSGL, &f), 1);
  EXPECT_EQ(ClassifyFloatNumber(kNumDBL, &d), 2);
  EXPECT_EQ(ClassifyFloatNumber(kNumDBL, &n), 3);
  EXPECT_EQ(ClassifyFloatNumber(kNumDBL, &z), 0);
  // An unnormal extended number (integer bit clear) is no number.
  uChar unnormal[10] = {0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F};
  EXPECT_EQ(ClassifyFloatNumber(kNumEXT, unnormal), 3);
  uChar one[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(ClassifyFloatNumber(kNumEXT, one), 0);
  EXPECT_EQ(ClassifyFloatNumber(kNumI32, &z), 0);
}

TEST_F(NumConv, Rounding) {
  EXPECT_EQ(RndToNearest(2.5), 2);
  EXPECT_EQ(RndToNearest(3.5), 4);
  EXPECT_EQ(RndToNearest(-2.5), -2);
  EXPECT_EQ(RndToNearest(1e12), INT32_MAX);
  EXPECT_EQ(RndToNearest(std::nan("")), INT32_MIN);
  EXPECT_EQ(RndToInc(15, 10), 20);   // halves away from zero
  EXPECT_EQ(RndToInc(-15, 10), -20);
  EXPECT_EQ(RndToInc(14, 10), 10);
  EXPECT_EQ(RndToInc(7, 5), 5);
  EXPECT_EQ(RndToInc(8, -5), 10);
  EXPECT_EQ(RndToInc(9, 0), 9);
  EXPECT_EQ(RndToInc(INT32_MAX, 10), 2147483640);
  EXPECT_EQ(RndToInc(INT32_MIN, 3), -2147483646);
  EXPECT_EQ(Pin(5, 10, 3), 10);
  EXPECT_EQ(Pin(5, 1, 3), 3);
  EXPECT_EQ(Pin(-5, 1, 3), 1);
  EXPECT_EQ(Pin(2, 1, 3), 2);
  EXPECT_EQ(Pin(2, 3, 3), 3);
}

TEST_F(NumConv, Constants) {
  double d = 0;
  EXPECT_EQ(GetConstant(3, kNumDBL, &d), 0);
  EXPECT_EQ(d, M_PI);
  EXPECT_EQ(GetConstant(4, kNumDBL, &d), 0);
  EXPECT_EQ(d, M_PI / 2);
  EXPECT_EQ(GetConstant(5, kNumDBL, &d), 0);
  EXPECT_EQ(d, 2 * M_PI);
  EXPECT_EQ(GetConstant(1, kNumDBL, &d), 0);
  EXPECT_TRUE(std::isinf(d) && d > 0);
  EXPECT_EQ(GetConstant(2, kNumDBL, &d), 0);
  EXPECT_TRUE(std::isinf(d) && d < 0);
  EXPECT_EQ(GetConstant(0, kNumDBL, &d), 0);
  EXPECT_TRUE(std::isnan(d));
  uChar ext[10];
  EXPECT_EQ(GetConstant(0, kNumEXT, ext), 0);
  const uChar nanBits[10] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(std::memcmp(ext, nanBits, 10), 0);
  EXPECT_EQ(GetConstant(3, kNumEXT, ext), 0);
  const uChar piBits[10] = {0x35, 0xC2, 0x68, 0x21, 0xA2, 0xDA, 0x0F, 0xC9, 0x00, 0x40};
  EXPECT_EQ(std::memcmp(ext, piBits, 10), 0);
  d = 42;
  EXPECT_EQ(GetConstant(6, kNumDBL, &d), 1);
  EXPECT_EQ(GetConstant(-1, kNumDBL, &d), 1);
  EXPECT_EQ(GetConstant(3, kNumSGL, &d), 1);
  EXPECT_EQ(d, 42);
}

TEST_F(NumConv, DigitWriters) {
  char buf[40];
  EXPECT_EQ(NumToDecStr(INT32_MIN, buf), 11);
  EXPECT_STREQ(buf, "-2147483648");
  EXPECT_EQ(NumToUDecStr(0xFFFFFFFFu, buf), 10);
  EXPECT_STREQ(buf, "4294967295");
  EXPECT_EQ(NumToHexStr(0xDEADBEEFu, buf), 8);
  EXPECT_STREQ(buf, "DEADBEEF");
  EXPECT_EQ(NumToOctStr(0xFFFFFFFFu, buf), 11);
  EXPECT_STREQ(buf, "37777777777");
  EXPECT_EQ(NumToBinStr(0x80000001u, buf), 32);
  EXPECT_STREQ(buf, "10000000000000000000000000000001");
  EXPECT_EQ(NumToDecStr(0, buf), 1);
  EXPECT_STREQ(buf, "0");
  EXPECT_EQ(NumToHexStr(0, buf), 1);
  EXPECT_EQ(HexChar(0x1A), 'A');
  EXPECT_EQ(HexChar(-1), 'F');
}

}  // namespace
