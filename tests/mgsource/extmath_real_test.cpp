// Real functions of the extended-precision library: special values, the
// register calling form, and agreement with the C library's long double
// functions to 2 units of double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "extmath_test_util.h"

namespace {

const floatExt kInf = INFINITY;

TEST(ExtReal, OddFunctionsAndSignedZeros) {
  EXPECT_EQ(ExtSinh(-0.5L), -ExtSinh(0.5L));
  EXPECT_EQ(ExtAsinh(-0.5L), -ExtAsinh(0.5L));
  EXPECT_EQ(ExtTanh(-0.5L), -ExtTanh(0.5L));
  EXPECT_EQ(ExtAtanh(-0.5L), -ExtAtanh(0.5L));
  const floatExt negZero = -0.0L;
  for (auto fn : {ExtSinh, ExtTanh, ExtAsinh, ExtAtanh, ExtLognp1}) {
    floatExt r = fn(negZero);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(std::signbit(r));
  }
  EXPECT_EQ(ExtCosh(0.0L), 1.0L);
  EXPECT_EQ(ExtAcosh(1.0L), 0.0L);
}

TEST(ExtReal, HyperbolicSpecialValues) {
  EXPECT_EQ(ExtTanh(1000.0L), 1.0L);
  EXPECT_EQ(ExtTanh(-1000.0L), -1.0L);
  EXPECT_EQ(ExtTanh(6000.0L), 1.0L);  // e^(2x) itself overflows
  EXPECT_EQ(ExtTanh(kInf), 1.0L);
  EXPECT_EQ(ExtTanh(-kInf), -1.0L);
  EXPECT_EQ(ExtSinh(kInf), kInf);
  EXPECT_EQ(ExtSinh(-kInf), -kInf);
  EXPECT_EQ(ExtCosh(-kInf), kInf);
  EXPECT_EQ(ExtAtanh(1.0L), kInf);
  EXPECT_EQ(ExtAtanh(-1.0L), -kInf);
  EXPECT_TRUE(std::isnan(ExtAtanh(2.0L)));
  EXPECT_TRUE(std::isnan(ExtAtanh(-kInf)));
  EXPECT_TRUE(std::isnan(ExtAcosh(0.5L)));
  EXPECT_TRUE(std::isnan(ExtAcosh(-kInf)));
  EXPECT_EQ(ExtAcosh(kInf), kInf);
  EXPECT_EQ(ExtAsinh(-kInf), -kInf);
  for (auto fn : {ExtSinh, ExtCosh, ExtTanh, ExtAsinh, ExtAcosh, ExtAtanh, ExtLognp1, ExtF2X, ExtExp2M1})
    EXPECT_TRUE(std::isnan(fn(floatExt(NAN))));
}

TEST(ExtReal, LargeArgumentsStayFiniteWhereTheResultIs) {
  // sinh and cosh of x between ln(max) and ln(2 max): e^x overflows, the
  // result does not.
  floatExt x = 11356.9L;
  EXPECT_TRUE(std::isfinite(ExtSinh(x)));
  EXPECT_LT(fabsl(ExtSinh(x) / sinhl(x) - 1), 1e-15L);  // beyond double range
  EXPECT_LT(fabsl(ExtCosh(-x) / coshl(x) - 1), 1e-15L);
  EXPECT_EQ(ExtSinh(12000.0L), kInf);
  EXPECT_EQ(ExtSinh(-12000.0L), -kInf);
  EXPECT_EQ(ExtCosh(12000.0L), kInf);
  EXPECT_LT(DoubleUlps(ExtAcosh(1e3000L), acoshl(1e3000L)), 2);
  EXPECT_LT(DoubleUlps(ExtAsinh(-1e4000L), asinhl(-1e4000L)), 2);
  EXPECT_LT(DoubleUlps(ExtAsinh(1e-4000L), 1e-4000L), 1);
}

TEST(ExtReal, PowerSpecialCases) {
  EXPECT_EQ(ExtPowerX(-8.0L, 3.0L), -512.0L);
  EXPECT_EQ(ExtPowerX(-2.0L, 4.0L), 16.0L);
  EXPECT_EQ(ExtPowerX(-2.0L, -1.0L), -0.5L);
  EXPECT_TRUE(std::isnan(ExtPowerX(-8.0L, 1.0L / 3.0L)));
  EXPECT_TRUE(std::isnan(ExtPowerX(-8.0L, 1e10L)));  // not a 32-bit integer
  EXPECT_EQ(ExtPowerX(0.0L, 0.0L), 1.0L);
  EXPECT_EQ(ExtPowerX(-0.0L, 0.0L), 1.0L);
  EXPECT_EQ(ExtPowerX(0.0L, -1.0L), kInf);
  EXPECT_EQ(ExtPowerX(0.0L, 2.0L), 0.0L);
  EXPECT_TRUE(std::isnan(ExtPowerX(0.0L, floatExt(NAN))));
  EXPECT_TRUE(std::isnan(ExtPowerX(floatExt(NAN), 0.0L)));
  EXPECT_TRUE(std::isnan(ExtPowerX(ExtFromParts(0x4000, 0x4000000000000000ull), 2.0L)));  // unnormal
  EXPECT_EQ(ExtPowerX(2.0L, 10.0L), 1024.0L);
  EXPECT_EQ(ExtPowerX(kInf, 1.0L), kInf);
  EXPECT_EQ(ExtPowerX(kInf, -1.0L), 0.0L);
  EXPECT_EQ(ExtPowerX(-kInf, 3.0L), -kInf);
}

TEST(ExtReal, PowersOfTwo) {
  EXPECT_EQ(ExtF2X(-kInf), 0.0L);
  EXPECT_EQ(ExtF2X(kInf), kInf);
  EXPECT_EQ(ExtF2X(10.0L), 1024.0L);
  EXPECT_EQ(ExtF2X(-3.0L), 0.125L);
  EXPECT_EQ(ExtF2X(20000.0L), kInf);
  EXPECT_EQ(ExtF2X(-20000.0L), 0.0L);
  EXPECT_EQ(ExtExp2M1(-kInf), -1.0L);
  EXPECT_EQ(ExtExp2M1(kInf), kInf);
  EXPECT_EQ(ExtExp2M1(-20000.0L), -1.0L);
  EXPECT_EQ(ExtExp2M1(1.0L), 1.0L);
  EXPECT_EQ(ExtExp2M1(0.0L), 0.0L);
  floatExt tiny = 1e-30L;  // 2^x - 1 ~ x ln 2 without cancellation
  EXPECT_LT(DoubleUlps(ExtExp2M1(tiny), tiny * 0.693147180559945309417232121458176568L), 1);
}

TEST(ExtReal, LogOfOnePlusBothBranches) {
  for (floatExt u : {0.2L, 0.29L, 0.2929L, 0.3L, -0.2L, -0.3L, 5.0L, 1e300L, 1e-300L})
    EXPECT_LT(DoubleUlps(ExtLognp1(u), log1pl(u)), 1) << double(u);
  EXPECT_EQ(ExtLognp1(-1.0L), -kInf);
  EXPECT_TRUE(std::isnan(ExtLognp1(-2.0L)));
  EXPECT_EQ(ExtLognp1(kInf), kInf);
}

// Random arguments, spread over the ranges where the results are doubles.
floatExt Pick(std::mt19937_64& g, double lo, double hi) {
  return floatExt(lo + (hi - lo) * std::uniform_real_distribution<double>(0, 1)(g));
}
floatExt PickLog(std::mt19937_64& g, double lo10, double hi10) {
  floatExt v = powl(10.0L, Pick(g, lo10, hi10));
  return (g() & 1) ? -v : v;
}

TEST(ExtReal, AgreeWithTheCLibraryToTwoDoubleUlps) {
  std::mt19937_64 g(31337);
  struct Case {
    const char* name;
    floatExt (*mine)(floatExt);
    floatExt (*ref)(floatExt);
    floatExt (*arg)(std::mt19937_64&);
  };
  const Case cases[] = {
      {"sinh", ExtSinh, sinhl, [](std::mt19937_64& g) { return (g() & 3) ? Pick(g, -700, 700) : PickLog(g, -300, 0); }},
      {"cosh", ExtCosh, coshl, [](std::mt19937_64& g) { return (g() & 3) ? Pick(g, -700, 700) : PickLog(g, -300, 0); }},
      {"tanh", ExtTanh, tanhl, [](std::mt19937_64& g) { return (g() & 3) ? Pick(g, -25, 25) : PickLog(g, -300, 0); }},
      {"asinh", ExtAsinh, asinhl, [](std::mt19937_64& g) { return PickLog(g, -300, 300); }},
      {"acosh", ExtAcosh, acoshl, [](std::mt19937_64& g) { return 1 + fabsl(PickLog(g, -15, 300)); }},
      {"atanh", ExtAtanh, atanhl, [](std::mt19937_64& g) {
         floatExt v = (g() & 1) ? Pick(g, -1, 1) : 1 - fabsl(PickLog(g, -15, 0)) / 2;
         return (g() & 1) ? v : -v;
       }},
      {"lognp1", ExtLognp1, log1pl, [](std::mt19937_64& g) { return (g() & 1) ? Pick(g, -0.999, 2) : fabsl(PickLog(g, -300, 300)); }},
      {"f2x", ExtF2X, exp2l, [](std::mt19937_64& g) { return Pick(g, -1020, 1020); }},
      {"exp2m1", ExtExp2M1, [](floatExt x) { return fabsl(x) < 1 ? expm1l(x * 0.693147180559945309417232121458176568L) : exp2l(x) - 1; },
       [](std::mt19937_64& g) { return (g() & 1) ? Pick(g, -70, 1020) : PickLog(g, -300, 0); }},
  };
  for (const Case& c : cases) {
    double worst = 0;
    for (int i = 0; i < 10000; ++i) {
      floatExt x = c.arg(g);
      floatExt want = c.ref(x);
      if (!std::isfinite(double(want))) continue;
      double u = DoubleUlps(c.mine(x), want);
      if (u > worst) worst = u;
      ASSERT_LE(u, 2.0) << c.name << "(" << double(x) << ")";
    }
    RecordProperty(c.name, std::to_string(worst));
  }
  for (int i = 0; i < 10000; ++i) {
    floatExt x = fabsl(PickLog(g, -5, 10)), y = Pick(g, -30, 30);
    if (g() % 4 == 0) {  // negative bases with integer exponents
      x = -x;
      y = floorl(y);
    }
    floatExt want = powl(x, y);
    if (!std::isfinite(double(want)) || want == 0) continue;
    ASSERT_LE(DoubleUlps(ExtPowerX(x, y), want), 2.0) << double(x) << "^" << double(y);
  }
}

TEST(ExtReal, RegisterFormKeepsTheStack) {
  void (*unary[])() = {Sinh, Cosh, Tanh, Asinh, Acosh, Atanh, Lognp1, F2X, Exp2M1};
  for (auto fn : unary) {
    for (floatExt x : {0.75L, -3.0L, 2.0L, kInf, floatExt(NAN)}) {
      RegCallResult r = CallReg(fn, {x}, 1);
      EXPECT_TRUE(SentinelsIntact(r));
      EXPECT_EQ(r.cwAfter, r.cwBefore);
      EXPECT_EQ((r.swAfter >> 11) & 7, (r.swBefore >> 11) & 7);  // same stack depth
    }
  }
  RegCallResult r = CallReg(PowerX, {-8.0L, 3.0L}, 1);
  EXPECT_TRUE(SentinelsIntact(r));
  EXPECT_EQ(r.out[0], -512.0L);
  EXPECT_EQ(((r.swAfter >> 11) - (r.swBefore >> 11)) & 7, 1);  // one popped
  r = CallReg(PowerX, {0.0L, -1.0L}, 1);
  EXPECT_TRUE(SentinelsIntact(r));
  EXPECT_EQ(r.out[0], kInf);
}

}  // namespace
