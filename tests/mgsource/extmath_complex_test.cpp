// Complex functions of the extended-precision library: special values, the
// register calling form, the saved floating-point state of the polar
// conversions, and agreement with std::complex<long double>.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>

#include "extmath_test_util.h"

namespace {

using C = std::complex<long double>;
const floatExt kInf = INFINITY;
const floatExt kPi = 3.14159265358979323846264338327950288L;

C Call(void (*fn)(const ExtComplex*, ExtComplex*), C z) {
  ExtComplex in{z.real(), z.imag()}, out;
  fn(&in, &out);
  return C(out.re, out.im);
}

double RelErr(C got, C want) {
  long double scale = std::abs(want);
  if (scale == 0) scale = 1;
  return double(std::abs(got - want) / scale);
}

TEST(ExtComplex, PolarConversions) {
  C p = Call(ExtComplexRToP, C(0, -2));
  EXPECT_EQ(p.real(), 2.0L);
  EXPECT_EQ(p.imag(), -kPi / 2);
  p = Call(ExtComplexRToP, C(0, 3));
  EXPECT_EQ(p.real(), 3.0L);
  EXPECT_EQ(p.imag(), kPi / 2);
  p = Call(ExtComplexRToP, C(0, 0));
  EXPECT_EQ(p, C(0, 0));
  p = Call(ExtComplexRToP, C(-1, 0));
  EXPECT_EQ(p.real(), 1.0L);
  EXPECT_EQ(p.imag(), kPi);
  p = Call(ExtComplexRToP, C(3, -4));
  EXPECT_EQ(p.real(), 5.0L);
  EXPECT_LT(RelErr(p, std::polar(5.0L, std::atan2(-4.0L, 3.0L)) * 0.0L + C(5, std::atan2(-4.0L, 3.0L))), 1e-18);
  p = Call(ExtComplexRToP, C(1e3000L, -1e3000L));  // the squares alone would overflow
  EXPECT_LT(fabsl(p.real() / (1e3000L * 1.41421356237309504880168872420969808L) - 1), 1e-18L);
  EXPECT_EQ(p.imag(), -kPi / 4);
  p = Call(ExtComplexRToP, C(1e-4000L, 1e-4000L));
  EXPECT_LT(fabsl(p.real() / (1e-4000L * 1.41421356237309504880168872420969808L) - 1), 1e-18L);
  p = Call(ExtComplexRToP, C(-kInf, 5));
  EXPECT_EQ(p.real(), kInf);
  EXPECT_EQ(p.imag(), kPi);
  p = Call(ExtComplexRToP, C(floatExt(NAN), 1));
  EXPECT_TRUE(std::isnan(p.real()) && std::isnan(p.imag()));
  p = Call(ExtComplexRToP, C(1, floatExt(NAN)));
  EXPECT_TRUE(std::isnan(p.real()) && std::isnan(p.imag()));

  C r = Call(ExtComplexPToR, C(kInf, 0));
  EXPECT_EQ(r.real(), kInf);
  EXPECT_EQ(r.imag(), 0);
  r = Call(ExtComplexPToR, C(2, kPi / 2));
  EXPECT_NEAR(double(r.real()), 0, X87Tol(1e-18, 2));
  EXPECT_EQ(r.imag(), 2);
  r = Call(ExtComplexPToR, C(kInf, 1));
  EXPECT_EQ(r.real(), kInf);
  EXPECT_EQ(r.imag(), kInf);
  r = Call(ExtComplexPToR, C(1, 1e30L));  // reduced modulo 2 pi first
  EXPECT_NEAR(double(std::abs(r)), 1.0, 1e-15);
  std::mt19937_64 g(3);
  for (int i = 0; i < 2000; ++i) {
    C z(std::ldexp(floatExt(int64(g())), -60), std::ldexp(floatExt(int64(g())), -62));
    C back = Call(ExtComplexPToR, Call(ExtComplexRToP, z));
    ASSERT_LT(RelErr(back, z), X87Tol(1e-17, 4)) << double(z.real()) << " " << double(z.imag());
  }
}

TEST(ExtComplex, PolarConversionsKeepTheFloatingPointState) {
  for (auto fn : {ComplexRToP, ComplexPToR}) {
    // 53-bit precision, rounding down, divide-by-zero flag raised before.
    RegCallResult r = CallReg(fn, {0.0L, -2.0L}, 2, 0x067F, true);
    EXPECT_EQ(r.cwAfter, 0x067F);
    EXPECT_EQ(r.cwAfter, r.cwBefore);
    EXPECT_EQ(r.swAfter & 0x3F, r.swBefore & 0x3F);  // exception flags as they were
    EXPECT_NE(r.swBefore & 0x04, 0);
    EXPECT_TRUE(SentinelsIntact(r));
    EXPECT_EQ(DepthChange(r), 0);
  }
  RegCallResult r = CallReg(ComplexRToP, {0.0L, -2.0L}, 2);
  EXPECT_EQ(r.out[0], 2.0L);
  EXPECT_EQ(r.out[1], -kPi / 2);
  EXPECT_EQ(r.swAfter & 0x3F, r.swBefore & 0x3F);  // nothing raised by the work inside
  r = CallReg(ComplexPToR, {kInf, 0.0L}, 2);
  EXPECT_EQ(r.out[0], kInf);
  EXPECT_EQ(r.out[1], 0);
  EXPECT_EQ(r.swAfter & 0x3F, r.swBefore & 0x3F);
}

TEST(ExtComplex, DivisionAndReciprocal) {
  std::mt19937_64 g(4);
  std::uniform_real_distribution<double> u(-100, 100);
  for (int i = 0; i < 5000; ++i) {
    C a(u(g), u(g)), b(u(g), u(g));
    C prod = a * b;
    ExtComplex p{prod.real(), prod.imag()}, f{b.real(), b.imag()}, q;
    ExtComplexDivide(&p, &f, &q);
    ASSERT_LT(RelErr(C(q.re, q.im), a), 1e-17);
    ASSERT_LT(RelErr(Call(ExtComplexRecip, b), 1.0L / b), 1e-18);
  }
  RegCallResult r = CallReg(ComplexDivide, {2.0L, 0.0L, 6.0L, 4.0L}, 2);  // (6 + 4i) / 2
  EXPECT_EQ(r.out[0], 3.0L);
  EXPECT_EQ(r.out[1], 2.0L);
  EXPECT_TRUE(SentinelsIntact(r));
  EXPECT_EQ(DepthChange(r), -2 & 7);
}

TEST(ExtComplex, SincosSincAndGetman) {
  C z(0.7L, -1.3L);
  ExtComplex in{z.real(), z.imag()}, c, s;
  ExtComplexSincos(&in, &c, &s);
  EXPECT_LT(RelErr(C(c.re, c.im), std::cos(z)), X87Tol(1e-17, 2));
  EXPECT_LT(RelErr(C(s.re, s.im), std::sin(z)), X87Tol(1e-17, 2));
  RegCallResult r = CallReg(ComplexSincos, {0.7L, -1.3L}, 4);
  EXPECT_TRUE(SentinelsIntact(r));
  EXPECT_EQ(DepthChange(r), 2);
  EXPECT_LT(RelErr(C(r.out[0], r.out[1]), std::cos(z)), X87Tol(1e-17, 2));  // cosine in ST0/ST1
  EXPECT_LT(RelErr(C(r.out[2], r.out[3]), std::sin(z)), X87Tol(1e-17, 2));  // sine in ST2/ST3

  EXPECT_EQ(Call(ExtComplexSinc, C(0, 0)), C(1, 0));
  EXPECT_EQ(Call(ExtComplexSinc, C(-0.0L, 0)), C(1, 0));
  EXPECT_LT(RelErr(Call(ExtComplexSinc, z), std::sin(z) / z), X87Tol(1e-17, 2));

  ExtComplex gz{-0.75L, 0.0L}, mant, expo;
  ExtComplexGetman(&gz, &mant, &expo);
  EXPECT_EQ(mant.re, -1.5L);
  EXPECT_EQ(expo.re, -1.0L);
  EXPECT_EQ(mant.im, 0);
  EXPECT_EQ(expo.im, 0);
  gz = {1.0L, 1e-4940L};  // a denormal part
  ExtComplexGetman(&gz, &mant, &expo);
  EXPECT_EQ(mant.re, 1.0L);
  EXPECT_EQ(expo.re, 0);
  EXPECT_GE(mant.im, 1.0L);
  EXPECT_LT(mant.im, 2.0L);
  EXPECT_LT(expo.im, -16400);
  r = CallReg(ComplexGetman, {12.0L, -0.0L}, 4);
  EXPECT_TRUE(SentinelsIntact(r));
  EXPECT_EQ(r.out[0], 1.5L);   // significand of the real part
  EXPECT_EQ(r.out[1], 0);      // of the imaginary part
  EXPECT_EQ(r.out[2], 3.0L);   // exponent of the real part
  EXPECT_EQ(r.out[3], 0);
}

TEST(ExtComplex, ElementaryFunctionsAgreeWithStdComplex) {
  std::mt19937_64 g(5);
  std::uniform_real_distribution<double> u(-3, 3);
  struct Case {
    const char* name;
    void (*mine)(const ExtComplex*, ExtComplex*);
    C (*ref)(const C&);
    bool upperHalfOnly;
    // Under emulation only: how much the formula magnifies the double
    // rounding of the emulated transcendentals beyond 1 + 1/|f(z)| (their
    // errors are absolute in the terms, as sin 2a near a multiple of pi).
    // tan, cot and tanh divide by 2|cos z|^2, 2|sin z|^2 and 2|cosh z|^2 (as
    // cos 2a + cosh 2b and the like), which cancels near a pole; null for 1.
    long double (*amplification)(const C&) = nullptr;
  };
  const Case cases[] = {
      {"sin", ExtComplexSin, [](const C& z) { return std::sin(z); }, false},
      {"cos", ExtComplexCos, [](const C& z) { return std::cos(z); }, false},
      {"tan", ExtComplexTan, [](const C& z) { return std::tan(z); }, false,
       [](const C& z) { return 1 / std::norm(std::cos(z)); }},
      {"cot", ExtComplexCot, [](const C& z) { return 1.0L / std::tan(z); }, false,
       [](const C& z) { return 1 / std::norm(std::sin(z)); }},
      {"sinh", ExtComplexSinh, [](const C& z) { return std::sinh(z); }, false},
      {"cosh", ExtComplexCosh, [](const C& z) { return std::cosh(z); }, false},
      {"tanh", ExtComplexTanh, [](const C& z) { return std::tanh(z); }, false,
       [](const C& z) { return 1 / std::norm(std::cosh(z)); }},
      {"asin", ExtComplexAsin, [](const C& z) { return std::asin(z); }, false},
      {"acos", ExtComplexAcos, [](const C& z) { return std::acos(z); }, false},
      {"asinh", ExtComplexAsinh, [](const C& z) { return std::asinh(z); }, false},
      {"atan", ExtComplexAtan, [](const C& z) { return std::atan(z); }, false},
      {"atanh", ExtComplexAtanh, [](const C& z) { return std::atanh(z); }, false},
      {"acosh", ExtComplexAcosh, [](const C& z) { return std::acosh(z); }, true},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 3000; ++i) {
      C z(u(g), u(g));
      if (c.upperHalfOnly) z.imag(fabsl(z.imag()));
      if (fabsl(z.imag()) < 1e-3 || fabsl(z.real()) < 1e-3) continue;  // away from branch cuts
      C want = c.ref(z);
      double amp = double((1 + 1 / std::abs(want)) * (c.amplification ? c.amplification(z) : 1));
      ASSERT_LT(RelErr(Call(c.mine, z), want), X87Tol(1e-15, 32 * amp))
          << c.name << "(" << double(z.real()) << ", " << double(z.imag()) << ")";
    }
  }
}

TEST(ExtComplex, InversesUndoTheFunctions) {
  std::mt19937_64 g(6);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  // Emulated, a function and its inverse take a dozen transcendentals and
  // square roots between them: 32 units of 2^-53 there.
  for (int i = 0; i < 2000; ++i) {
    C z(u(g), u(g));
    ASSERT_LT(RelErr(Call(ExtComplexAsin, Call(ExtComplexSin, z)), z), X87Tol(1e-17, 32));
    ASSERT_LT(RelErr(Call(ExtComplexAcos, Call(ExtComplexCos, z + 1.0L)), z + 1.0L), X87Tol(1e-15, 32));
    ASSERT_LT(RelErr(Call(ExtComplexAtan, Call(ExtComplexTan, z)), z), X87Tol(1e-17, 32));
    ASSERT_LT(RelErr(Call(ExtComplexAsinh, Call(ExtComplexSinh, z)), z), X87Tol(1e-17, 32));
    ASSERT_LT(RelErr(Call(ExtComplexAtanh, Call(ExtComplexTanh, z)), z), X87Tol(1e-17, 32));
    C w = Call(ExtComplexAcosh, z + 2.0L);
    ASSERT_LT(RelErr(Call(ExtComplexCosh, w), z + 2.0L), X87Tol(1e-17, 32));  // i acos z in either half-plane
  }
  C w = Call(ExtComplexAtan, C(-0.0L, 2));  // a zero real part is taken as +0
  EXPECT_GT(w.real(), 0);
}

TEST(ExtComplex, LargeArgumentsOfTanAndTanh) {
  C t = Call(ExtComplexTan, C(1, 1000));  // cosh 2000 is still an extended number
  EXPECT_EQ(t.imag(), 1.0L);
  EXPECT_GT(t.real(), 0);
  EXPECT_LT(t.real(), 1e-800L);
  t = Call(ExtComplexTan, C(1, -10000));  // cosh 2b overflows
  EXPECT_EQ(t.imag(), -1.0L);
  EXPECT_EQ(t.real(), 0);
  t = Call(ExtComplexTanh, C(-10000, 1));
  EXPECT_EQ(t.real(), -1.0L);
  EXPECT_EQ(t.imag(), 0);
  t = Call(ExtComplexTan, C(1, 20));  // large but finite: the formula itself
  EXPECT_LT(RelErr(t, std::tan(C(1, 20))), 1e-17);
}

TEST(ExtComplex, EveryRoutineKeepsTheRegisterStack) {
  void (*unary[])() = {ComplexRToP, ComplexPToR,  ComplexRecip, ComplexSin,  ComplexCos,  ComplexTan,
                       ComplexCot,  ComplexSinh,  ComplexCosh,  ComplexTanh, ComplexSinc, ComplexAsin,
                       ComplexAcos, ComplexAsinh, ComplexAcosh, ComplexAtan, ComplexAtanh};
  for (auto fn : unary) {
    for (C z : {C(0.5L, -0.25L), C(0, 0), C(-3, 7)}) {
      RegCallResult r = CallReg(fn, {z.real(), z.imag()}, 2);
      EXPECT_TRUE(SentinelsIntact(r));
      EXPECT_EQ(DepthChange(r), 0);
      EXPECT_EQ(r.cwAfter, r.cwBefore);
    }
  }
  RegCallResult r = CallReg(ComplexSin, {0.5L, -0.25L}, 2);
  EXPECT_LT(RelErr(C(r.out[0], r.out[1]), std::sin(C(0.5L, -0.25L))), X87Tol(1e-18, 2));
}

}  // namespace
