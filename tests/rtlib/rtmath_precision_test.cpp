// Precision of the real members against the formulas written out here: each
// single member equals the double formula rounded once to single, each double
// member the formula itself, each extended member the formula in long double
// within a few units of the last place.  Also: outputs that alias inputs, and
// extended writes that stay inside their 10 bytes.
#include <cmath>
#include <random>

#include "mgsource/extsupport.h"
#include "rtmath_test_support.h"

using namespace rttest;

namespace {

// ln(1 + x) by the managers' steps, in long double.
floatExt LogOnePlusX(floatExt x) {
  floatExt u = 1 + x;
  if (u == 1) return x;
  if (std::fabs(x) < 0.75L) return std::log(u) * x / (u - 1);
  return std::log(u);
}

struct UnaryRef {
  const char* op;
  float64 (*d)(float64);
  floatExt (*x)(floatExt);
};
#define QX_REF1(Op, expr)                                                          \
  UnaryRef {                                                                      \
    #Op, [](float64 x) -> float64 { return expr; }, [](floatExt x) -> floatExt { return expr; } \
  }
#define T decltype(x)

// The formulas, written out from the operations' definitions.
const UnaryRef kUnaryRefs[] = {
    QX_REF1(Abs, std::fabs(x)),
    QX_REF1(Neg, -x),
    QX_REF1(Sqrt, std::sqrt(x)),
    QX_REF1(Logn, (x == 0 || x != x) ? T(-HUGE_VAL) : x < 0 ? T(NaND()) : std::log(x)),
    QX_REF1(Log10, std::log10(x)),
    QX_REF1(Log2, std::log(x) / std::log(T(2))),
    UnaryRef{"Lognp1", [](float64 x) { return LogOnePlus(x); }, LogOnePlusX},
    QX_REF1(Exp, std::exp(x)),
    QX_REF1(Expm1, std::expm1(x)),
    QX_REF1(Pow10, std::pow(T(10), x)),
    QX_REF1(Pow2, std::pow(T(2), x)),
    QX_REF1(Recip, 1 / x),
    QX_REF1(Ceil, std::ceil(x)),
    QX_REF1(Floor, std::floor(x)),
    QX_REF1(Inc, x + 1),
    QX_REF1(Dec, x - 1),
    QX_REF1(Sign, x != x ? T(NaND()) : x == 0 ? T(0) : x > 0 ? T(1) : T(-1)),
    QX_REF1(Sin, std::sin(x)),
    QX_REF1(Cos, std::cos(x)),
    QX_REF1(Tan, std::tan(x)),
    QX_REF1(Sec, 1 / std::cos(x)),
    QX_REF1(Csc, 1 / std::sin(x)),
    QX_REF1(Cot, 1 / std::tan(x)),
    QX_REF1(Asin, std::asin(x)),
    QX_REF1(Acos, std::acos(x)),
    QX_REF1(Atan, std::atan(x)),
    QX_REF1(Sinh, std::sinh(x)),
    QX_REF1(Cosh, std::cosh(x)),
    QX_REF1(Tanh, std::tanh(x)),
    QX_REF1(Asinh, x >= 0 ? std::log(std::sqrt(x * x + 1) + x) : -std::log(std::sqrt(x * x + 1) - x)),
    QX_REF1(Acosh, std::log(std::sqrt(x * x - 1) + x)),
    QX_REF1(Atanh, std::log((1 + x) / (1 - x)) / 2),
    QX_REF1(Sinc, (x == 0 || x != x) ? T(1) : std::sin(x) / x),
};

struct BinaryRef {
  const char* op;
  float64 (*d)(float64, float64);
  floatExt (*x)(floatExt, floatExt);
};
#define QX_REF2(Op, expr)                                                                                   \
  BinaryRef {                                                                                              \
    #Op, [](float64 x, float64 y) -> float64 { return expr; }, [](floatExt x, floatExt y) -> floatExt { return expr; } \
  }
const BinaryRef kBinaryRefs[] = {
    QX_REF2(Add, x + y),
    QX_REF2(Sub, x - y),
    QX_REF2(Mul, x * y),
    QX_REF2(Div, x / y),
    QX_REF2(Logx, std::log(y) / std::log(x)),
    QX_REF2(Powx, std::pow(x, y)),
    QX_REF2(Atan2, std::atan2(y, x)),
};
#undef T

// Operands over the whole range: small values, values near the domains'
// edges, and random bit patterns (infinities and NaNs among them).
class Operands {
 public:
  explicit Operands(uInt64 seed) : rng_(seed) {}
  float64 Next() {
    switch (rng_() % 4) {
      case 0: return std::uniform_real_distribution<float64>(-4, 4)(rng_);
      case 1: return std::uniform_real_distribution<float64>(-1.1, 1.1)(rng_);
      case 2: return std::ldexp(std::uniform_real_distribution<float64>(-1, 1)(rng_), int(rng_() % 200) - 100);
      default: return DblFromBits(rng_());
    }
  }
  int32 NextScale() { return int32(rng_() % 2400) - 1200; }

 private:
  std::mt19937_64 rng_;
};

// The inverse hyperbolic formulas hold where they neither cancel (near 0,
// near 1) nor square past the range; elsewhere the members take their
// mended forms, which rtmath_range_test checks against exact references.
bool FormulaHolds(const std::string& op, floatExt x, bool extended) {
  floatExt ax = std::fabs(x);
  bool squares = ax < (extended ? 1e2400L : 1e150L) || !std::isfinite(x);
  if (op == "Asinh") return (ax >= (extended ? 0.125L : 0.5L) && squares) || x != x;
  if (op == "Acosh") return (x < 1 || x >= (extended ? 1.0625L : 1.5L) || x != x) && squares;
  if (op == "Atanh") return ax >= (extended ? 0.0625L : 0.5L) || x != x;
  return true;
}

constexpr int kOperands = 10000;
constexpr long double kMaxUlps = 4;

TEST_F(RTMathTest, UnaryMembersFollowTheirFormulasInEachPrecision) {
  for (const UnaryRef& ref : kUnaryRefs) {
    const auto& m = Find(UnaryMembers(), ref.op);
    Operands ops(1);
    for (int i = 0; i < kOperands; ++i) {
      float64 v = ops.Next();
      float32 s = float32(v), rs = 0;
      m.s(&s, &rs);
      if (FormulaHolds(ref.op, s, false)) {
        ASSERT_TRUE(Same(rs, float32(ref.d(s)))) << ref.op << "S(" << s << ") = " << rs;
      }
      float64 rd = 0;
      m.d(&v, &rd);
      if (FormulaHolds(ref.op, v, false)) {
        ASSERT_TRUE(Same(rd, ref.d(v))) << ref.op << "D(" << v << ") = " << rd;
      }
      ExtFloat x = Ext(v), rx{};
      m.x(&x, &rx);
      if (FormulaHolds(ref.op, v, true)) {
        ASSERT_LE(UlpDistance(Val(rx), ref.x(v)), kMaxUlps) << ref.op << "X(" << v << ") = " << double(Val(rx));
      }
    }
  }
}

TEST_F(RTMathTest, BinaryMembersFollowTheirFormulasInEachPrecision) {
  for (const BinaryRef& ref : kBinaryRefs) {
    const auto& m = Find(BinaryMembers(), ref.op);
    Operands ops(2);
    for (int i = 0; i < kOperands; ++i) {
      float64 a = ops.Next(), b = ops.Next();
      float32 sa = float32(a), sb = float32(b), rs = 0;
      m.s(&sa, &sb, &rs);
      ASSERT_TRUE(Same(rs, float32(ref.d(sa, sb)))) << ref.op << "S(" << sa << ", " << sb << ") = " << rs;
      float64 rd = 0;
      m.d(&a, &b, &rd);
      ASSERT_TRUE(Same(rd, ref.d(a, b))) << ref.op << "D(" << a << ", " << b << ") = " << rd;
      ExtFloat xa = Ext(a), xb = Ext(b), rx{};
      m.x(&xa, &xb, &rx);
      ASSERT_LE(UlpDistance(Val(rx), ref.x(a, b)), kMaxUlps) << ref.op << "X(" << a << ", " << b << ")";
    }
  }
}

TEST_F(RTMathTest, ScaleIsXTimesPowerOfTwo) {
  Operands ops(3);
  for (int i = 0; i < kOperands; ++i) {
    float64 v = ops.Next();
    int32 n = ops.NextScale();
    float32 s = float32(v), rs = 0;
    RTfiScaleS(&s, &n, &rs);
    ASSERT_TRUE(Same(rs, float32(std::ldexp(float64(s), n)))) << s << " " << n;
    float64 rd = 0;
    RTfiScaleD(&v, &n, &rd);
    ASSERT_TRUE(Same(rd, std::ldexp(v, n))) << v << " " << n;
    int32 nx = n * 12;
    ExtFloat x = Ext(v), rx{};
    RTfiScaleX(&x, &nx, &rx);
    ASSERT_TRUE(Same(Val(rx), std::ldexp(floatExt(v), nx))) << v << " " << nx;
  }
}

// The quotient floors the division rounded to the operand's precision; the
// remainder is x - q*y in the working precision, rounded once on store.
TEST_F(RTMathTest, QuotientAndRemainderFloorTheDivisionInTheOperandPrecision) {
  Operands ops(4);
  for (int i = 0; i < kOperands; ++i) {
    float64 a = ops.Next(), b = ops.Next();
    float32 sa = float32(a), sb = float32(b), q = 0, r = 0, mod = 0, rem = 0;
    RTfQRemS(&sa, &sb, &q, &r);
    RTfModS(&sa, &sb, &mod);
    RTfRemS(&sa, &sb, &rem);
    float64 wantQ = std::floor(float64(float32(float64(sa) / float64(sb))));
    float32 wantR = float32(float64(sa) - wantQ * float64(sb));
    ASSERT_TRUE(Same(q, float32(wantQ)) && Same(r, wantR) && Same(mod, wantR) && Same(rem, wantR)) << sa << " " << sb;
    float64 qd = 0, rd = 0, modd = 0, remd = 0;
    RTfQRemD(&a, &b, &qd, &rd);
    RTfModD(&a, &b, &modd);
    RTfRemD(&a, &b, &remd);
    float64 wq = std::floor(a / b), wr = a - wq * b;
    ASSERT_TRUE(Same(qd, wq) && Same(rd, wr) && Same(modd, wr) && Same(remd, wr)) << a << " " << b;
    ExtFloat xa = Ext(a), xb = Ext(b), qx{}, rx{}, modx{}, remx{};
    RTfQRemX(&xa, &xb, &qx, &rx);
    RTfModX(&xa, &xb, &modx);
    RTfRemX(&xa, &xb, &remx);
    floatExt wqx = std::floor(floatExt(a) / floatExt(b)), wrx = floatExt(a) - wqx * floatExt(b);
    ASSERT_TRUE(Same(Val(qx), wqx) && Same(Val(rx), wrx) && Same(Val(modx), wrx) && Same(Val(remx), wrx))
        << a << " " << b;
  }
}

// In single precision the division is rounded to single before the floor:
// 15838.099609375 / 0.1 is 158380.9937... in double, 158381 in single.
TEST_F(RTMathTest, SingleQuotientRoundsTheDivisionToSingleFirst) {
  float32 x = 15838.099609375f, y = 0.1f, q = -1, r = -1;
  RTfQRemS(&x, &y, &q, &r);
  EXPECT_EQ(q, 158381.0f);
  EXPECT_EQ(r, float32(float64(x) - 158381.0 * float64(y)));
  EXPECT_LT(r, 0.0f);
  float64 xd = x, yd = y, qd = -1;
  RTfQRemD(&xd, &yd, &qd, nullptr);
  EXPECT_EQ(qd, 158380.0);
}

TEST_F(RTMathTest, MaxMinFollowsItsStepsOverRandomPairs) {
  Operands ops(5);
  for (int i = 0; i < kOperands; ++i) {
    float64 a = i % 7 ? ops.Next() : NaND(), b = ops.Next();
    float64 hi = 0, lo = 0;
    RTfMaxMinD(&a, &b, &hi, &lo);
    bool nan = a != a || b != b;
    float64 wantHi = nan ? NaND() : a >= b ? a : b;
    float64 wantLo = nan || a <= b ? a : b;
    ASSERT_TRUE(Same(hi, wantHi) && Same(lo, wantLo)) << a << " " << b;
    float32 sa = float32(a), sb = float32(b), shi = 0, slo = 0;
    RTfMaxMinS(&sa, &sb, &shi, &slo);
    ASSERT_TRUE(Same(shi, float32(nan ? NaND() : sa >= sb ? sa : sb)) && Same(slo, nan || sa <= sb ? sa : sb));
    ExtFloat xa = Ext(a), xb = Ext(b), xhi{}, xlo{};
    RTfMaxMinX(&xa, &xb, &xhi, &xlo);
    ASSERT_TRUE(Same(Val(xhi), floatExt(wantHi)) && Same(Val(xlo), floatExt(wantLo)));
  }
}

TEST_F(RTMathTest, SinCosGivesTheSineAndTheCosine) {
  Operands ops(6);
  for (int i = 0; i < kOperands; ++i) {
    float64 v = ops.Next(), s = 0, c = 0;
    RTfSinCosD(&v, &s, &c);
    ASSERT_TRUE(Same(s, std::sin(v)) && Same(c, std::cos(v))) << v;
    float32 vs = float32(v), ss = 0, cs = 0;
    RTfSinCosS(&vs, &ss, &cs);
    ASSERT_TRUE(Same(ss, float32(std::sin(float64(vs)))) && Same(cs, float32(std::cos(float64(vs)))));
    ExtFloat x = Ext(v), sx{}, cx{};
    RTfSinCosX(&x, &sx, &cx);
    ASSERT_TRUE(Same(Val(sx), std::sin(floatExt(v))) && Same(Val(cx), std::cos(floatExt(v))));
  }
}

// ------------------------------------------------------------ aliasing

template <class M>
auto ScaleMember() {
  if constexpr (std::is_same_v<M, float32>) return &RTfiScaleS;
  else if constexpr (std::is_same_v<M, float64>) return &RTfiScaleD;
  else return &RTfiScaleX;
}

// Every member called with its output on an input gives what it gives with
// separate outputs.
template <class M>
void ExpectAliasedOutputsAgree(const std::vector<M>& values) {
  for (const auto& m : UnaryMembers()) {
    auto fn = Pick<M>(m);
    for (const M& v : values) {
      M in = v, out{}, both = v;
      fn(&in, &out);
      fn(&both, &both);
      ASSERT_EQ(std::memcmp(&out, &both, sizeof out), 0) << m.op << Letter(v);
    }
  }
  for (const auto& m : BinaryMembers()) {
    auto fn = Pick<M>(m);
    for (const M& a : values) {
      for (const M& b : values) {
        M x = a, y = b, out{};
        fn(&x, &y, &out);
        M x1 = a, y1 = b;
        fn(&x1, &y1, &x1);
        M x2 = a, y2 = b;
        fn(&x2, &y2, &y2);
        ASSERT_EQ(std::memcmp(&out, &x1, sizeof out), 0) << m.op << Letter(a);
        ASSERT_EQ(std::memcmp(&out, &y2, sizeof out), 0) << m.op << Letter(a);
      }
    }
  }
  for (const auto& m : TwoOutMembers()) {
    auto fn = Pick<M>(m);
    for (const M& a : values) {
      for (const M& b : values) {
        M x = a, y = b, o1{}, o2{};
        fn(&x, &y, &o1, &o2);
        M x1 = a, y1 = b;
        fn(&x1, &y1, &x1, &y1);  // both outputs on the inputs
        M x2 = a, y2 = b;
        fn(&x2, &y2, &y2, &x2);  // crossed
        ASSERT_EQ(std::memcmp(&o1, &x1, sizeof o1), 0) << m.op << Letter(a);
        ASSERT_EQ(std::memcmp(&o2, &y1, sizeof o2), 0) << m.op << Letter(a);
        ASSERT_EQ(std::memcmp(&o1, &y2, sizeof o1), 0) << m.op << Letter(a);
        ASSERT_EQ(std::memcmp(&o2, &x2, sizeof o2), 0) << m.op << Letter(a);
      }
    }
  }
  for (const auto& m : OneInTwoOutMembers()) {
    auto fn = Pick<M>(m);
    for (const M& v : values) {
      M x = v, o1{}, o2{};
      fn(&x, &o1, &o2);
      M x1 = v, spare{};
      fn(&x1, &x1, &spare);
      M x2 = v, spare2{};
      fn(&x2, &spare2, &x2);
      ASSERT_EQ(std::memcmp(&o1, &x1, sizeof o1), 0) << m.op << Letter(v);
      ASSERT_EQ(std::memcmp(&o2, &x2, sizeof o2), 0) << m.op << Letter(v);
    }
  }
  for (int32 n : {-3, 0, 5}) {
    auto fn = ScaleMember<M>();
    for (const M& v : values) {
      M x = v, out{}, both = v;
      fn(&x, &n, &out);
      fn(&both, &n, &both);
      ASSERT_EQ(std::memcmp(&out, &both, sizeof out), 0) << "iScale" << Letter(v);
    }
  }
}

TEST_F(RTMathTest, OutputsMayAliasInputs) {
  ExpectAliasedOutputsAgree(SpecialSingles());
  ExpectAliasedOutputsAgree(SpecialDoubles());
  ExpectAliasedOutputsAgree(SpecialExtendeds());
}

// ------------------------------------------------------------ extended slots

// Each extended output writes its 10 bytes and not the two after them.
TEST_F(RTMathTest, ExtendedWritesStayInsideTheirTenBytes) {
  struct Slot {
    ExtFloat value;
    uInt16 guard;
  };
  static_assert(sizeof(Slot) == 12);
  constexpr uInt16 kGuard = 0xA55A;
  auto fresh = [&] {
    Slot s;
    std::memset(&s, 0xEE, sizeof s);
    s.guard = kGuard;
    return s;
  };
  int32 n = 3;
  for (const ExtFloat& a : SpecialExtendeds()) {
    for (const ExtFloat& b : {Ext(2), Ext(-0.5L), a}) {
      for (const auto& m : UnaryMembers()) {
        Slot r = fresh();
        m.x(&a, &r.value);
        ASSERT_EQ(r.guard, kGuard) << m.op;
      }
      for (const auto& m : BinaryMembers()) {
        Slot r = fresh();
        m.x(&a, &b, &r.value);
        ASSERT_EQ(r.guard, kGuard) << m.op;
      }
      for (const auto& m : TwoOutMembers()) {
        Slot r1 = fresh(), r2 = fresh();
        m.x(&a, &b, &r1.value, &r2.value);
        ASSERT_EQ(r1.guard, kGuard) << m.op;
        ASSERT_EQ(r2.guard, kGuard) << m.op;
      }
      for (const auto& m : OneInTwoOutMembers()) {
        Slot r1 = fresh(), r2 = fresh();
        m.x(&a, &r1.value, &r2.value);
        ASSERT_EQ(r1.guard, kGuard) << m.op;
        ASSERT_EQ(r2.guard, kGuard) << m.op;
      }
      Slot r = fresh();
      RTfiScaleX(&a, &n, &r.value);
      ASSERT_EQ(r.guard, kGuard);
    }
  }
}

}  // namespace
