// The complex members: the documented edge cases, identities over random
// operands, the branch rules, aliasing and optional outputs, and calls over
// special values with a SIGFPE handler installed.
#include <cmath>
#include <complex>
#include <random>

#include "rtcomplex_test_support.h"
#include "trap_guard.h"

using namespace rttest;

namespace {

using RTComplex = RTMathTest;

constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// ------------------------------------------------------------ edge cases

template <class M>
void CheckEdgeCases() {
  SCOPED_TRACE(Letter(M()));
  const floatExt inf = kInf;
  const floatExt pi = Num(Mem<M>(kPiL));
  // The real fast path of Mul: a NaN real part keeps its imaginary part 0.
  EXPECT_TRUE(SameC(CallC2<M>("Mul", {2, 0}, {3, 0}), CL(6, 0)));
  CL m = CallC2<M>("Mul", {NaND(), 0}, {1, 0});
  EXPECT_TRUE(std::isnan(m.real()));
  EXPECT_TRUE(Same(m.imag(), 0.0L));
  EXPECT_TRUE(SameC(CallC2<M>("Mul", {1, 2}, {3, 4}), CL(-5, 10)));
  // Polar form.
  EXPECT_TRUE(SameC(CallC<M>("RToP", {0, 0}), CL(0, 0)));
  EXPECT_TRUE(SameC(CallC<M>("RToP", {-1, 0}), CL(1, pi)));
  EXPECT_TRUE(SameC(CallC<M>("PToR", {inf, 0}), CL(inf, 0)));
  EXPECT_TRUE(SameC(CallC<M>("PToR", {-inf, 0}), CL(-inf, 0)));
  // Logarithm of 0 and of -1.
  EXPECT_TRUE(SameC(CallC<M>("Logn", {0, 0}), CL(-inf, 0)));
  EXPECT_TRUE(SameC(CallC<M>("Logn", {-1, 0}), CL(0, pi)));
  CL r = CallC<M>("Sqrt", {-4, 0});
  EXPECT_NEAR(double(r.real()), 0, 1e-6);
  EXPECT_NEAR(double(r.imag()), 2, 1e-6);
  EXPECT_TRUE(SameC(CallC<M>("Sinc", {0, 0}), CL(1, 0)));
  CL s = CallC<M>("Sign", {3, 4});
  EXPECT_NEAR(double(s.real()), 0.6, 1e-6);
  EXPECT_NEAR(double(s.imag()), 0.8, 1e-6);
  EXPECT_TRUE(SameC(CallC<M>("Sign", {0, 0}), CL(0, 0)));
  EXPECT_TRUE(SameC(CallC<M>("Acosh", {1, 0}), CL(0, 0)));
  // Division by 0 + 0i gives NaN or infinite parts.
  CL d = CallC2<M>("Div", {1, 1}, {0, 0});
  EXPECT_FALSE(std::isfinite(d.real()));
  EXPECT_FALSE(std::isfinite(d.imag()));
  // The simple members.
  EXPECT_TRUE(SameC(CallC<M>("Conj", {1, 2}), CL(1, -2)));
  EXPECT_TRUE(SameC(CallC<M>("Neg", {1, -2}), CL(-1, 2)));
  EXPECT_TRUE(SameC(CallC<M>("Round", {2.5L, -3.5L}), CL(2, -4)));
  EXPECT_TRUE(SameC(CallC<M>("Ceil", {1.25L, -1.25L}), CL(2, -1)));
  EXPECT_TRUE(SameC(CallC<M>("Floor", {1.25L, -1.25L}), CL(1, -2)));
  EXPECT_TRUE(SameC(CallC<M>("Inc", {1, 2}), CL(2, 2)));
  EXPECT_TRUE(SameC(CallC<M>("Dec", {1, 2}), CL(0, 2)));
  EXPECT_TRUE(SameC(CallC2<M>("Add", {1, 2}, {3, 5}), CL(4, 7)));
  EXPECT_TRUE(SameC(CallC2<M>("Sub", {1, 2}, {3, 5}), CL(-2, -3)));
  EXPECT_TRUE(SameC(CallC<M>("Recip", {0, 2}), CL(0, -0.5L)));
  EXPECT_TRUE(SameC(CallC2<M>("Div", {-5, 10}, {3, 4}), CL(1, 2)));
  // Logx takes the first operand as the base, Powx raises the first.
  CL lx = CallC2<M>("Logx", {2, 0}, {8, 0});
  EXPECT_NEAR(double(lx.real()), 3, 1e-6);
  EXPECT_NEAR(double(lx.imag()), 0, 1e-6);
  CL px = CallC2<M>("Powx", {2, 0}, {3, 0});
  EXPECT_NEAR(double(px.real()), 8, 1e-5);
  EXPECT_NEAR(double(px.imag()), 0, 1e-5);
  CL e = CallC<M>("Exp", {0, kPiL / 2});
  EXPECT_NEAR(double(e.real()), 0, 1e-6);
  EXPECT_NEAR(double(e.imag()), 1, 1e-6);
}

TEST_F(RTComplex, EdgeCases) {
  CheckEdgeCases<float32>();
  CheckEdgeCases<float64>();
  CheckEdgeCases<ExtFloat>();
}

template <class M>
void CheckTests() {
  SCOPED_TRACE(Letter(M()));
  typedef typename CForm<M>::Type CM;
  Bool32 (*eq)(const CM*, const CM*) = nullptr;
  Bool32 (*ne)(const CM*, const CM*) = nullptr;
  Bool32 (*eq0)(const CM*) = nullptr;
  Bool32 (*ne0)(const CM*) = nullptr;
  Bool32 (*isnan)(const CM*) = nullptr;
  if constexpr (std::is_same_v<M, float32>) {
    eq = RTcEQS, ne = RTcNES, eq0 = RTcEQ0S, ne0 = RTcNE0S, isnan = RTcIsNanS;
  } else {
    eq = RTcEQD, ne = RTcNED, eq0 = RTcEQ0D, ne0 = RTcNE0D, isnan = RTcIsNanD;
  }
  const floatExt nan = NaND();
  struct Case {
    CL z, w;
    Bool32 eq, eq0, isnan;
  };
  const Case cases[] = {
      {{1, nan}, {1, 2}, 1, 0, 1},   // a NaN part counts as equal
      {{1, 2}, {1, 2}, 1, 0, 0},     //
      {{1, 2}, {1, 3}, 0, 0, 0},     //
      {{-0.0L, 0}, {0, -0.0L}, 1, 1, 0},  // minus zero equals zero
      {{nan, 0}, {5, 5}, 0, 1, 1},   // NaN equals 0, 0 differs from 5
      {{nan, nan}, {5, 5}, 1, 1, 1},
      {{0, 1}, {0, 1}, 1, 0, 0},
  };
  for (const Case& c : cases) {
    CM z = CMem<M>(c.z), w = CMem<M>(c.w);
    EXPECT_EQ(eq(&z, &w), c.eq);
    EXPECT_EQ(ne(&z, &w), !c.eq);
    EXPECT_EQ(eq0(&z), c.eq0);
    EXPECT_EQ(ne0(&z), !c.eq0);
    EXPECT_EQ(isnan(&z), c.isnan);
  }
}

TEST_F(RTComplex, TestsFollowTheComparisonRule) {
  CheckTests<float32>();
  CheckTests<float64>();
}

// The X tests are the bit tests of the real X members on both halves.
TEST_F(RTComplex, ExtendedTestsAndCopiesWorkOnBits) {
  const ExtFloat denormal = ExtFromBits(0x0000, 1), nan = ExtFromBits(0x7FFF, 0xC000000000000000ull);
  const ExtFloat one = Ext(1), negZero = ExtFromBits(0x8000, 0);
  ComplexX z = {denormal, ExtFromBits(0, 0)};
  EXPECT_EQ(RTcEQ0X(&z), 1);  // the significand is not looked at
  EXPECT_EQ(RTcNE0X(&z), 0);
  ComplexX sinc;
  RTcSincX(&z, &sinc);
  EXPECT_TRUE(SameBits(sinc.re, Ext(1)));
  EXPECT_TRUE(SameBits(sinc.im, Ext(0)));
  ComplexX a = {one, negZero}, b = {one, ExtFromBits(0, 0)};
  EXPECT_EQ(RTcEQX(&a, &b), 0);  // all bits of both halves
  EXPECT_EQ(RTcNEX(&a, &b), 1);
  EXPECT_EQ(RTcEQX(&a, &a), 1);
  ComplexX n = {one, nan};
  EXPECT_EQ(RTcIsNanX(&n), 1);
  EXPECT_EQ(RTcIsNanX(&a), 0);
  // Conj and Neg flip sign bits, NaN payloads and unnormals included.
  const ExtFloat unnormal = ExtFromBits(0x3FFF, 0x4000000000000000ull);
  ComplexX u = {unnormal, nan}, c, ng;
  RTcConjX(&u, &c);
  RTcNegX(&u, &ng);
  EXPECT_TRUE(SameBits(c.re, unnormal));
  EXPECT_TRUE(SameBits(c.im, ExtFromBits(0xFFFF, 0xC000000000000000ull)));
  EXPECT_TRUE(SameBits(ng.re, ExtFromBits(0xBFFF, 0x4000000000000000ull)));
  EXPECT_TRUE(SameBits(ng.im, c.im));
  // The copies keep every bit.
  ComplexX made;
  RTfcReImToCX(&unnormal, &nan, &made);
  EXPECT_TRUE(SameBits(made.re, unnormal));
  EXPECT_TRUE(SameBits(made.im, nan));
  ExtFloat re, im;
  RTcfCToReImX(&made, &re, &im);
  EXPECT_TRUE(SameBits(re, unnormal));
  EXPECT_TRUE(SameBits(im, nan));
  // A signalling NaN part is copied as it is in S and D too.
  const float64 snan = DblFromBits(0x7FF0000000000001ull);
  const float64 two = 2;
  ComplexD zd;
  RTfcReImToCD(&snan, &two, &zd);
  EXPECT_EQ(Bits(zd.re), 0x7FF0000000000001ull);
}

// ------------------------------------------------------------ branches

TEST_F(RTComplex, AcoshBranchesAndAtanOfMinusZero) {
  const long double pi = kPiL;
  struct Case {
    const char* op;
    CL z, expected;
    bool single;  // S rounds Re L above 2e-16 where D does not
  };
  // Acosh: L = ln(z + sqrt(z^2 - 1)).
  //   z = -2: sqrt(3 + 0i) = 1.732..., L = ln(-0.2679...) = -1.3169... + pi i;
  //     Re L < 0 negates both parts: 1.3169... - pi i; Im L <= -pi negates it.
  //   z = 0.5 - 0.25i: L has Re L > 0 and Im L < 0, and stays.
  //   z = 0.5 + 0i: z^2 - 1 = -0.75, s = 0.866i, L = ln(0.5 + 0.866i) = 0 + pi/3 i
  //     up to rounding; Re L < 0 negates it and Re L < 2e-16 with Im L < 0
  //     brings Im L back to pi/3.
  //   z = 0.5 - 0i: as above with the conjugate: Im L < 0, Re L ~ 0 < 2e-16
  //     negates Im L.  In S, Re L is ln of a magnitude rounded to single:
  //     0 or beyond 1e-7 either way, so the last step need not apply and
  //     neither case is checked in S.
  //   z = -3 - 4i: Re L < 0 negates L; the principal value.
  //   Atan(-0 + 2i): a taken as +0; A = ln(-1 + 0i) = pi i, B = ln(3 + 0i):
  //     (pi/2, ln 3 / 2).
  const Case cases[] = {
      {"Acosh", {-2, 0}, {std::acosh(2.0L), pi}, true},
      {"Acosh", {0.5L, -0.25L}, std::acosh(CL(0.5L, -0.25L)), true},
      {"Acosh", {0.5L, 0}, {0, pi / 3}, false},
      {"Acosh", {0.5L, -0.0L}, {0, pi / 3}, false},
      {"Acosh", {-3, -4}, std::acosh(CL(-3, -4)), true},
      {"Atan", {-0.0L, 2}, {pi / 2, std::log(3.0L) / 2}, true},
      {"Atan", {0, 2}, {pi / 2, std::log(3.0L) / 2}, true},
      {"Atan", {0, 0.5L}, {0, std::atanh(0.5L)}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + std::to_string(double(c.z.real())) + " " +
                 std::to_string(double(c.z.imag())));
    CL d = CallC<float64>(c.op, c.z);
    EXPECT_NEAR(double(d.real()), double(c.expected.real()), 1e-12);
    EXPECT_NEAR(double(d.imag()), double(c.expected.imag()), 1e-12);
    CL x = CallC<ExtFloat>(c.op, c.z);
    EXPECT_NEAR(double(x.real()), double(c.expected.real()), 1e-12);
    EXPECT_NEAR(double(x.imag()), double(c.expected.imag()), 1e-12);
    if (!c.single) continue;
    CL s = CallC<float32>(c.op, c.z);
    EXPECT_NEAR(double(s.real()), double(c.expected.real()), 1e-5);
    EXPECT_NEAR(double(s.imag()), double(c.expected.imag()), 1e-5);
  }
}

// ------------------------------------------------------------ identities

// |a - b| within tol times the larger of |b| and 1.
bool Near(CL a, CL b, long double tol) { return std::abs(a - b) <= tol * std::max(std::abs(b), 1.0L); }

template <class M>
void CheckIdentities(long double tol) {
  SCOPED_TRACE(Letter(M()));
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-2, 2);
  int bad = 0;
  for (int i = 0; i < 10000 && bad < 10; ++i) {
    CL z = CNum(CMem<M>(CL(u(rng), u(rng))));
    CL w = CNum(CMem<M>(CL(u(rng), u(rng))));
    if (std::abs(z) < 1e-3 || std::abs(w) < 1e-3) continue;
    struct Pair {
      const char* what;
      CL got, want;
    };
    const Pair pairs[] = {
        {"Exp(Logn z)", CallC<M>("Exp", CallC<M>("Logn", z)), z},
        {"Sqrt(z)^2", CallC2<M>("Mul", CallC<M>("Sqrt", z), CallC<M>("Sqrt", z)), z},
        {"Div(Mul(z, w), w)", CallC2<M>("Div", CallC2<M>("Mul", z, w), w), z},
        {"PToR(RToP z)", CallC<M>("PToR", CallC<M>("RToP", z)), z},
        {"Asin(Sin z)", CallC<M>("Asin", CallC<M>("Sin", z * 0.5L)), CNum(CMem<M>(z * 0.5L))},
        {"Acos(Cos z)", CallC<M>("Acos", CallC<M>("Cos", CL(std::fabs(z.real()) * 0.7L, z.imag() * 0.5L))),
         CNum(CMem<M>(CL(std::fabs(z.real()) * 0.7L, z.imag() * 0.5L)))},
        {"Atan(Tan z)", CallC<M>("Atan", CallC<M>("Tan", z * 0.5L)), CNum(CMem<M>(z * 0.5L))},
        {"Asinh(Sinh z)", CallC<M>("Asinh", CallC<M>("Sinh", z * 0.5L)), CNum(CMem<M>(z * 0.5L))},
        {"Acosh(Cosh z)", CallC<M>("Acosh", CallC<M>("Cosh", CL(std::fabs(z.real()) + 0.1L, z.imag() * 0.5L))),
         CNum(CMem<M>(CL(std::fabs(z.real()) + 0.1L, z.imag() * 0.5L)))},
        {"Atanh(Tanh z)", CallC<M>("Atanh", CallC<M>("Tanh", z * 0.25L)), CNum(CMem<M>(z * 0.25L))},
        {"Logx(z, Powx(z, w))", CallC2<M>("Logx", CL(2, 0), CallC2<M>("Powx", CL(2, 0), w * 0.5L)),
         CNum(CMem<M>(w * 0.5L))},
    };
    for (const Pair& p : pairs) {
      if (!Near(p.got, p.want, tol)) {
        ++bad;
        ADD_FAILURE() << p.what << " z=" << double(z.real()) << "," << double(z.imag()) << " got "
                      << double(p.got.real()) << "," << double(p.got.imag()) << " want " << double(p.want.real())
                      << "," << double(p.want.imag());
      }
    }
  }
}

TEST_F(RTComplex, IdentitiesOverRandomOperands) {
  CheckIdentities<float64>(1e-12L);
  CheckIdentities<ExtFloat>(1e-15L);
  CheckIdentities<float32>(1e-4L);
}

// S computes in double with every kept value rounded to single; these
// references write that out for a few members.
float32 R(double v) { return float32(v); }
CL RefMulS(float32 a, float32 b, float32 c, float32 d) {
  if (b == 0 && d == 0) return {R(double(a) * c), 0};
  return {R(double(a) * c - double(b) * d), R(double(a) * d + double(b) * c)};
}
CL RefDivS(float32 a, float32 b, float32 c, float32 d) {
  float32 den = R(double(c) * c + double(d) * d);
  return {R((double(a) * c + double(b) * d) / den), R((double(b) * c - double(a) * d) / den)};
}
CL RefExpS(float32 a, float32 b) {
  float32 r = R(std::exp(double(a))), co = R(std::cos(double(b))), si = R(std::sin(double(b)));
  return {R(double(r) * co), R(double(r) * si)};
}
CL RefSinS(float32 a, float32 b) {
  return {R(double(R(std::sin(double(a)))) * R(std::cosh(double(b)))),
          R(double(R(std::cos(double(a)))) * R(std::sinh(double(b))))};
}
CL RefLognS(float32 a, float32 b) {
  float32 r = R(std::sqrt(double(R(double(a) * a + double(b) * b))));
  float32 t = R(std::atan2(double(b), double(a)));
  return {R(std::log(double(r))), t};
}

TEST_F(RTComplex, SingleRoundsEveryInnerMember) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-10, 10);
  for (int i = 0; i < 10000; ++i) {
    float32 a = float32(u(rng)), b = float32(u(rng)), c = float32(u(rng)), d = float32(u(rng));
    if (i % 7 == 0) b = d = 0;
    const ComplexS z = {a, b}, w = {c, d};
    ComplexS out;
    RTcMulS(&z, &w, &out);
    ASSERT_TRUE(SameC(CNum(out), RefMulS(a, b, c, d))) << i;
    RTcDivS(&z, &w, &out);
    ASSERT_TRUE(SameC(CNum(out), RefDivS(a, b, c, d))) << i;
    RTcExpS(&z, &out);
    ASSERT_TRUE(SameC(CNum(out), RefExpS(a, b))) << i;
    RTcSinS(&z, &out);
    ASSERT_TRUE(SameC(CNum(out), RefSinS(a, b))) << i;
    RTcLognS(&z, &out);
    ASSERT_TRUE(SameC(CNum(out), RefLognS(a, b))) << i;
    float32 abs = 0;
    RTcAbsS(&z, &abs);
    ASSERT_TRUE(Same(abs, R(std::sqrt(double(R(double(a) * a + double(b) * b)))))) << i;
  }
}

// X agrees with D to double precision, S with D to single precision: within
// a few units of the last place of the larger of |D| and 1 (Tan and Tanh
// divide by cos 2a + cosh 2b and lose a few more near their poles).
bool Agree(CL got, CL d, long double ulp, long double ulps) {
  return std::abs(got - d) <= ulps * ulp * std::max(std::abs(d), 1.0L);
}

TEST_F(RTComplex, PrecisionsAgree) {
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> u(-1.5, 1.5);
  auto draw = [&] { return CNum(CMem<float32>(CL(u(rng), u(rng)))); };  // every precision holds it exactly
  for (const auto& m : CUnaryMembers()) {
    for (int i = 0; i < 500; ++i) {
      CL z = draw();
      if (std::abs(z) < 1e-2) continue;
      CL d = CallC<float64>(m.op, z), x = CallC<ExtFloat>(m.op, z), s = CallC<float32>(m.op, z);
      EXPECT_TRUE(Agree(x, d, 0x1p-52L, 32)) << m.op << " X " << double(z.real()) << "," << double(z.imag());
      EXPECT_TRUE(Agree(s, d, 0x1p-23L, 64)) << m.op << " S " << double(z.real()) << "," << double(z.imag());
    }
  }
  for (const auto& m : CBinaryMembers()) {
    for (int i = 0; i < 500; ++i) {
      CL z = draw(), w = draw();
      if (std::abs(z) < 0.5 || std::abs(w) < 0.5) continue;
      CL d = CallC2<float64>(m.op, z, w), x = CallC2<ExtFloat>(m.op, z, w), s = CallC2<float32>(m.op, z, w);
      EXPECT_TRUE(Agree(x, d, 0x1p-52L, 32)) << m.op << " X " << double(z.real()) << "," << double(z.imag());
      EXPECT_TRUE(Agree(s, d, 0x1p-23L, 64)) << m.op << " S " << double(z.real()) << "," << double(z.imag());
    }
  }
}

// ------------------------------------------------------------ aliasing

template <class M>
void CheckAliasing() {
  SCOPED_TRACE(Letter(M()));
  typedef typename CForm<M>::Type CM;
  const CL z(0.75L, -0.5L), w(-1.25L, 0.375L);
  for (const auto& m : CUnaryMembers()) {
    CM in = CMem<M>(z), out;
    Pick<M>(m)(&in, &out);
    Pick<M>(m)(&in, &in);
    EXPECT_TRUE(SameC(CNum(in), CNum(out))) << m.op;
  }
  for (const auto& m : CBinaryMembers()) {
    CM a = CMem<M>(z), b = CMem<M>(w), out;
    Pick<M>(m)(&a, &b, &out);
    CM a1 = a, b1 = b;
    Pick<M>(m)(&a1, &b1, &a1);
    EXPECT_TRUE(SameC(CNum(a1), CNum(out))) << m.op << " first";
    CM a2 = a, b2 = b;
    Pick<M>(m)(&a2, &b2, &b2);
    EXPECT_TRUE(SameC(CNum(b2), CNum(out))) << m.op << " second";
  }
}

TEST_F(RTComplex, OutputsMayAliasInputs) {
  CheckAliasing<float32>();
  CheckAliasing<float64>();
  CheckAliasing<ExtFloat>();
}

TEST_F(RTComplex, NullOutputsAreSkipped) {
  const ComplexD z = {3, 4};
  ComplexD s = {-1, -1}, c = {-1, -1}, s2, c2;
  RTcSinCosD(&z, &s2, &c2);
  RTcSinCosD(&z, &s, nullptr);
  EXPECT_TRUE(SameC(CNum(s), CNum(s2)));
  RTcSinCosD(&z, nullptr, &c);
  EXPECT_TRUE(SameC(CNum(c), CNum(c2)));
  float64 re = -1, im = -1;
  RTcfCToReImD(&z, &re, nullptr);
  EXPECT_EQ(re, 3);
  EXPECT_EQ(im, -1);
  RTcfCToReImD(&z, nullptr, &im);
  EXPECT_EQ(im, 4);
  float64 r = -1, t = -1;
  RTcfCToRThD(&z, &r, nullptr);
  EXPECT_EQ(r, 5);
  EXPECT_EQ(t, -1);
  RTcfCToRThD(&z, nullptr, &t);
  EXPECT_DOUBLE_EQ(t, std::atan2(4.0, 3.0));
  // Polar pairs back to rectangular.
  ComplexD back;
  RTfcRThToCD(&r, &t, &back);
  EXPECT_NEAR(back.re, 3, 1e-14);
  EXPECT_NEAR(back.im, 4, 1e-14);
  // Each part scaled.
  const int32 n = -2;
  RTciScaleD(&z, &n, &back);
  EXPECT_TRUE(SameC(CNum(back), CL(0.75L, 1)));
}

// X results write 20 bytes and no more; the parts of CToReImX 10 bytes each.
TEST_F(RTComplex, ExtendedWritesStayInTheirSlots) {
  // Each result is written into a buffer exactly its size, followed by two guard bytes.
  struct Guarded {
    alignas(4) unsigned char bytes[sizeof(ComplexX) + 2];
    explicit Guarded(size_t size) : size(size) { bytes[size] = bytes[size + 1] = 0xA5; }
    ComplexX* Z() { return reinterpret_cast<ComplexX*>(bytes); }
    ExtFloat* X() { return reinterpret_cast<ExtFloat*>(bytes); }
    bool Intact() const { return bytes[size] == 0xA5 && bytes[size + 1] == 0xA5; }
    size_t size;
  };
  static_assert(sizeof(ComplexX) == 20, "slot");
  const ComplexX z = CMem<ExtFloat>(CL(0.75L, -0.5L)), w = CMem<ExtFloat>(CL(2, 1));
  for (const auto& m : CUnaryMembers()) {
    Guarded s(sizeof(ComplexX));
    m.x(&z, s.Z());
    EXPECT_TRUE(s.Intact()) << m.op;
  }
  for (const auto& m : CBinaryMembers()) {
    Guarded s(sizeof(ComplexX));
    m.x(&z, &w, s.Z());
    EXPECT_TRUE(s.Intact()) << m.op;
  }
  Guarded re(sizeof(ExtFloat)), im(sizeof(ExtFloat)), abs(sizeof(ExtFloat));
  RTcfCToRThX(&z, re.X(), im.X());
  RTcAbsX(&z, abs.X());
  EXPECT_TRUE(re.Intact());
  EXPECT_TRUE(im.Intact());
  EXPECT_TRUE(abs.Intact());
  EXPECT_NEAR(double(Val(*abs.X())), std::sqrt(0.8125), 1e-15);
}

// ------------------------------------------------------------ no traps

template <class M>
void RunOverSpecials(const std::vector<M>& specials) {
  SCOPED_TRACE(Letter(M()));
  typedef typename CForm<M>::Type CM;
  const ControlWords before = ReadControlWords();
  TrapGuard guard;
  std::vector<CM> zs;
  for (const M& a : specials) {
    for (const M& b : specials) zs.push_back({a, b});
  }
  for (const auto& m : CUnaryMembers()) {
    for (const CM& z : zs) {
      CM out;
      EXPECT_TRUE(Untrapped([&] { Pick<M>(m)(&z, &out); })) << m.op;
    }
  }
  // Binary members over every pair of a smaller set.
  std::vector<CM> few;
  for (size_t i = 0; i < zs.size(); i += 7) few.push_back(zs[i]);
  for (const auto& m : CBinaryMembers()) {
    for (const CM& z : few) {
      for (const CM& w : few) {
        CM out;
        EXPECT_TRUE(Untrapped([&] { Pick<M>(m)(&z, &w, &out); })) << m.op;
      }
    }
  }
  EXPECT_EQ(gTraps, 0);
  EXPECT_TRUE(ReadControlWords() == before);
}

TEST_F(RTComplex, SpecialValuesNeverTrap) {
  RunOverSpecials(SpecialSingles());
  RunOverSpecials(SpecialDoubles());
  RunOverSpecials(SpecialExtendeds());
  // Division by zero, the reciprocal of zero, and the logarithm of infinite
  // and NaN parts give NaN or infinite parts.
  TrapGuard guard;
  const ComplexD zero = {0, 0}, one = {1, 0}, infs = {kInf, -kInf}, nans = {NaND(), 1};
  ComplexD out;
  EXPECT_TRUE(Untrapped([&] { RTcDivD(&one, &zero, &out); }));
  EXPECT_FALSE(std::isfinite(out.re));
  EXPECT_TRUE(Untrapped([&] { RTcRecipD(&zero, &out); }));
  EXPECT_FALSE(std::isfinite(out.re));
  EXPECT_TRUE(Untrapped([&] { RTcLognD(&infs, &out); }));
  EXPECT_EQ(out.re, kInf);
  EXPECT_NEAR(out.im, -M_PI / 4, 1e-15);
  // The real Logn takes a NaN magnitude to minus infinity.
  EXPECT_TRUE(Untrapped([&] { RTcLognD(&nans, &out); }));
  EXPECT_EQ(out.re, -kInf);
  EXPECT_TRUE(std::isnan(out.im));
  EXPECT_EQ(gTraps, 0);
}

}  // namespace
