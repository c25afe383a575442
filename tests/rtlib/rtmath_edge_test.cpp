// Edge cases of the real members in single, double and extended precision,
// and the exact splits and roundings where the obvious steps lose precision.
#include <cfloat>
#include <cmath>
#include <random>

#include "rtmath_test_support.h"

using namespace rttest;

namespace {

template <class M>
class RTMathEdge : public RTMathTest {};
typedef ::testing::Types<float32, float64, ExtFloat> Forms;
TYPED_TEST_SUITE(RTMathEdge, Forms);

template <class M>
constexpr bool kIsExt = std::is_same_v<M, ExtFloat>;

struct UnaryCase {
  const char* op;
  floatExt x;
  floatExt want;
};

TYPED_TEST(RTMathEdge, UnaryMembersMeetTheirEdgeCases) {
  const floatExt nan = NaNX(), inf = kInf;
  const UnaryCase cases[] = {
      {"Round", 2.5, 2},        {"Round", 3.5, 4},      {"Round", -2.5, -2},    {"Round", 0.4999, 0},
      {"Round", -0.3, 0},       {"Round", -0.5, 0},     {"Round", 0.5, 0},      {"Round", 1.5, 2},
      {"Round", -3.5, -4},      {"Round", -0.0, 0},     {"Round", inf, inf},    {"Round", -inf, -inf},
      {"Round", nan, nan},      {"Round", 7.75, 8},     {"Logn", 0, -inf},      {"Logn", -0.0, -inf},
      {"Logn", nan, -inf},      {"Logn", -1, nan},      {"Logn", -inf, nan},    {"Logn", 1, 0},
      {"Logn", inf, inf},       {"Sign", -0.0, 0},      {"Sign", 0, 0},         {"Sign", nan, nan},
      {"Sign", -3, -1},         {"Sign", 5, 1},         {"Sign", -inf, -1},     {"Sign", inf, 1},
      {"Sinc", 0, 1},           {"Sinc", -0.0, 1},      {"Sinc", nan, 1},       {"Sinc", inf, nan},
      {"Abs", -3, 3},           {"Abs", -0.0, 0},       {"Neg", 3, -3},         {"Neg", 0, -0.0},
      {"Inc", 1, 2},            {"Dec", 1, 0},          {"Recip", 4, 0.25},     {"Recip", 0, inf},
      {"Recip", -0.0, -inf},    {"Sqrt", 16, 4},        {"Sqrt", -1, nan},      {"Ceil", 1.25, 2},
      {"Floor", -1.25, -2},     {"Log2", 8, 3},         {"Log2", 0, -inf},      {"Log10", 1, 0}  ,
      {"Pow2", 10, 1024},       {"Pow2", -inf, 0},      {"Pow10", 3, 1000},     {"Exp", 0, 1},
      {"Exp", -inf, 0},         {"Expm1", 0, 0},        {"Lognp1", 0, 0},       {"Lognp1", -1, -inf},
      {"Sin", 0, 0},            {"Cos", 0, 1},          {"Tan", 0, 0},          {"Sec", 0, 1},
      {"Csc", 0, inf},          {"Cot", -0.0, -inf},    {"Asin", 2, nan},       {"Acos", 1, 0},
      {"Atan", inf, 0},         {"Sinh", 0, 0},         {"Cosh", 0, 1},         {"Tanh", inf, 1},
      {"Asinh", 0, 0},          {"Acosh", 1, 0},        {"Acosh", 0.5, nan},    {"Atanh", 0, 0},
      {"Atanh", 1, inf},        {"Atanh", -1, -inf},
  };
  for (const UnaryCase& c : cases) {
    floatExt want = c.want;
    // The wanted value in this precision (Atan of infinity is pi/2 rounded).
    if (std::string(c.op) == "Atan") want = Num(Mem<TypeParam>(std::atan(floatExt(float64(c.x)))));
    floatExt got = CallUnary<TypeParam>(c.op, c.x);
    EXPECT_TRUE(Same(got, want)) << c.op << Letter(TypeParam()) << "(" << double(c.x) << ") = " << double(got)
                                 << ", want " << double(want);
  }
}

TYPED_TEST(RTMathEdge, NaNResultsAreTheManagersNaN) {
  TypeParam x = Mem<TypeParam>(-1), r{};
  Pick<TypeParam>(Find(UnaryMembers(), "Logn"))(&x, &r);
  TypeParam want = Mem<TypeParam>(NaNX());
  EXPECT_EQ(std::memcmp(&r, &want, sizeof r), 0);
  if constexpr (std::is_same_v<TypeParam, float32>) {
    EXPECT_EQ(Bits(r), 0xFFFFFFFFu);
  } else if constexpr (std::is_same_v<TypeParam, float64>) {
    EXPECT_EQ(Bits(r), ~0ull);
  }
}

struct BinaryCase {
  const char* op;
  floatExt x, y, want;
};

TYPED_TEST(RTMathEdge, BinaryMembersMeetTheirEdgeCases) {
  const floatExt nan = NaNX(), inf = kInf;
  const floatExt halfPi = Num(Mem<TypeParam>(std::atan2(1.0L, 0.0L)));
  const BinaryCase cases[] = {
      {"Atan2", 0, 1, halfPi}, {"Atan2", 1, 0, 0},     {"Mod", 7, -2, -1},    {"Rem", 7, -2, -1},
      {"Mod", -7, 2, 1},       {"Mod", 7, 0, nan},     {"Mod", 7, inf, nan},  {"Logx", 2, 8, 3},
      {"Logx", 10, 100, 2},    {"Logx", 1, 2, inf},    {"Powx", 2, 10, 1024}, {"Powx", 0, -1, inf},
      {"Powx", nan, 0, 1},     {"Add", inf, -inf, nan}, {"Sub", 5, 7, -2},    {"Mul", -0.0, 5, -0.0},
      {"Div", 1, 0, inf},      {"Div", 0, 0, nan},
  };
  for (const BinaryCase& c : cases) {
    floatExt got = CallBinary<TypeParam>(c.op, c.x, c.y);
    EXPECT_TRUE(Same(got, c.want)) << c.op << Letter(TypeParam()) << "(" << double(c.x) << ", " << double(c.y)
                                   << ") = " << double(got);
  }
}

struct TwoOutCase {
  const char* op;
  floatExt x, y, first, second;
};

TYPED_TEST(RTMathEdge, TwoResultMembersMeetTheirEdgeCases) {
  const floatExt nan = NaNX(), inf = kInf;
  const TwoOutCase cases[] = {
      {"QRem", -7, 2, -4, 1},  {"QRem", 7, -2, -4, -1},  {"QRem", 6, 3, 2, 0},       {"QRem", 7, 0, inf, nan},
      {"QRem", -7, 0, -inf, nan}, {"QRem", 0, 0, nan, nan}, {"MaxMin", 1, nan, nan, 1}, {"MaxMin", nan, 1, nan, nan},
      {"MaxMin", 1, 2, 2, 1},  {"MaxMin", 2, 1, 2, 1},   {"MaxMin", -0.0, 0, -0.0, -0.0},
      {"MaxMin", -inf, inf, inf, -inf},
  };
  for (const TwoOutCase& c : cases) {
    auto [a, b] = CallTwoOut<TypeParam>(c.op, c.x, c.y);
    EXPECT_TRUE(Same(a, c.first) && Same(b, c.second))
        << c.op << Letter(TypeParam()) << "(" << double(c.x) << ", " << double(c.y) << ") = " << double(a) << ", "
        << double(b);
  }
}

TYPED_TEST(RTMathEdge, GetMantExpAndSinCosMeetTheirEdgeCases) {
  const floatExt nan = NaNX(), inf = kInf;
  const TwoOutCase cases[] = {
      {"GetMantExp", -0.75, 0, -1.5, -1}, {"GetMantExp", 1, 0, 1, 0},      {"GetMantExp", -inf, 0, -inf, inf},
      {"GetMantExp", inf, 0, inf, inf},   {"GetMantExp", 0, 0, 0, 0},      {"GetMantExp", -0.0, 0, -0.0, -0.0},
      {"GetMantExp", nan, 0, nan, nan},   {"GetMantExp", 3, 0, 1.5, 1},    {"GetMantExp", 0x1p-59, 0, 1, -59},
      {"SinCos", 0, 0, 0, 1},             {"SinCos", inf, 0, nan, nan},
  };
  for (const TwoOutCase& c : cases) {
    auto [a, b] = CallOneInTwoOut<TypeParam>(c.op, c.x);
    EXPECT_TRUE(Same(a, c.first) && Same(b, c.second))
        << c.op << Letter(TypeParam()) << "(" << double(c.x) << ") = " << double(a) << ", " << double(b);
  }
}

TYPED_TEST(RTMathEdge, OptionalOutputsMayBeNull) {
  TypeParam x = Mem<TypeParam>(-7), y = Mem<TypeParam>(2), out = Mem<TypeParam>(99);
  Pick<TypeParam>(Find(TwoOutMembers(), "QRem"))(&x, &y, nullptr, &out);
  EXPECT_TRUE(Same(Num(out), 1));
  Pick<TypeParam>(Find(TwoOutMembers(), "QRem"))(&x, &y, &out, nullptr);
  EXPECT_TRUE(Same(Num(out), -4));
  Pick<TypeParam>(Find(TwoOutMembers(), "MaxMin"))(&x, &y, nullptr, &out);
  EXPECT_TRUE(Same(Num(out), -7));
  Pick<TypeParam>(Find(TwoOutMembers(), "MaxMin"))(&x, &y, &out, nullptr);
  EXPECT_TRUE(Same(Num(out), 2));
  Pick<TypeParam>(Find(TwoOutMembers(), "MaxMin"))(&x, &y, nullptr, nullptr);
  Pick<TypeParam>(Find(OneInTwoOutMembers(), "GetMantExp"))(&x, nullptr, &out);
  EXPECT_TRUE(Same(Num(out), 2));
  Pick<TypeParam>(Find(OneInTwoOutMembers(), "GetMantExp"))(&x, &out, nullptr);
  EXPECT_TRUE(Same(Num(out), -1.75L));
  TypeParam zero = Mem<TypeParam>(0);
  Pick<TypeParam>(Find(OneInTwoOutMembers(), "SinCos"))(&zero, nullptr, &out);
  EXPECT_TRUE(Same(Num(out), 1));
  Pick<TypeParam>(Find(OneInTwoOutMembers(), "SinCos"))(&zero, &out, nullptr);
  EXPECT_TRUE(Same(Num(out), 0));
  Pick<TypeParam>(Find(OneInTwoOutMembers(), "SinCos"))(&zero, nullptr, nullptr);
}

TYPED_TEST(RTMathEdge, ComparisonsWithNaN) {
  const floatExt nan = NaNX();
  // Extended equality compares bits, so the NaN rule does not reach it.
  EXPECT_EQ(CallTest2<TypeParam>("EQ", nan, 1), kIsExt<TypeParam> ? 0 : 1);
  EXPECT_EQ(CallTest2<TypeParam>("NE", nan, 1), kIsExt<TypeParam> ? 1 : 0);
  EXPECT_EQ(CallTest2<TypeParam>("GT", nan, 1), 0);
  EXPECT_EQ(CallTest2<TypeParam>("LT", nan, 1), 1);
  EXPECT_EQ(CallTest2<TypeParam>("GE", 1, nan), 0);
  EXPECT_EQ(CallTest2<TypeParam>("LE", 1, nan), 1);
  EXPECT_EQ(CallTest1<TypeParam>("IsNan", nan), 1);
  EXPECT_EQ(CallTest1<TypeParam>("IsNan", kInf), 0);
  EXPECT_EQ(CallTest1<TypeParam>("IsNan", 0), 0);
}

TEST_F(RTMathTest, ExtendedAbsAndNegWorkOnTheSignBit) {
  ExtFloat x = Ext(-3), r{};
  RTfAbsX(&x, &r);
  EXPECT_TRUE(SameBits(r, Ext(3)));
  RTfNegX(&r, &r);
  EXPECT_TRUE(SameBits(r, Ext(-3)));
  // Bits no arithmetic would keep: a NaN's payload and an unnormal.
  ExtFloat odd = ExtFromBits(0xFFFF, 0x0000000000000123ull);
  RTfAbsX(&odd, &r);
  EXPECT_TRUE(SameBits(r, ExtFromBits(0x7FFF, 0x0000000000000123ull)));
  odd = ExtFromBits(0x3FFF, 0x4000000000000000ull);
  RTfNegX(&odd, &r);
  EXPECT_TRUE(SameBits(r, ExtFromBits(0xBFFF, 0x4000000000000000ull)));
}

TEST_F(RTMathTest, ExtendedZeroTestsLookOnlyAtTheSignAndExponentWord) {
  ExtFloat denormal = ExtFromBits(0x0000, 0x0000000000000001ull);
  EXPECT_EQ(RTfEQ0X(&denormal), 1);
  EXPECT_EQ(RTfNE0X(&denormal), 0);
  ExtFloat small = ExtFromBits(0x0001, 0x8000000000000000ull);
  EXPECT_EQ(RTfEQ0X(&small), 0);
  EXPECT_EQ(RTfGT0X(&small), 1);
}

// ------------------------------------------------------------ exact splits

template <class M>
void ExpectPowersOfTwoSplitExactly(int lowest, int highest) {
  for (int k = lowest; k <= highest; ++k) {
    for (int s : {1, -1}) {
      floatExt x = s * std::ldexp(1.0L, k);
      auto [m, e] = CallOneInTwoOut<M>("GetMantExp", x);
      ASSERT_TRUE(Same(m, floatExt(s)) && Same(e, floatExt(k)))
          << "GetMantExp" << Letter(M()) << "(" << s << " * 2^" << k << ") = " << double(m) << ", " << double(e);
    }
  }
}

TEST_F(RTMathTest, GetMantExpSplitsEveryPowerOfTwoExactly) {
  ExpectPowersOfTwoSplitExactly<float32>(-149, 127);
  ExpectPowersOfTwoSplitExactly<float64>(-1074, 1023);
  ExpectPowersOfTwoSplitExactly<ExtFloat>(-16445, 16383);
  float64 three = 3, m = 0, e = 0;
  RTfGetMantExpD(&three, &m, &e);
  EXPECT_EQ(Bits(m), Bits(1.5));
  EXPECT_EQ(e, 1.0);
}

// m * 2^e gives x back, with 1 <= |m| < 2, for random finite values.
TEST_F(RTMathTest, GetMantExpSplitsRandomValuesExactly) {
  std::mt19937_64 rng(40);
  for (int i = 0; i < 10000; ++i) {
    float64 x = DblFromBits(rng());
    if (!std::isfinite(x) || x == 0) continue;
    float64 m = 0, e = 0;
    RTfGetMantExpD(&x, &m, &e);
    ASSERT_TRUE(std::fabs(m) >= 1 && std::fabs(m) < 2) << x;
    ASSERT_EQ(std::ldexp(m, int(e)), x);
    float32 xs = float32(x);
    if (!std::isfinite(xs) || xs == 0) continue;
    float32 ms = 0, es = 0;
    RTfGetMantExpS(&xs, &ms, &es);
    ASSERT_EQ(std::ldexp(float64(ms), int(es)), float64(xs));
    ExtFloat xx = Ext(floatExt(x) * std::ldexp(1.0L, int(rng() % 30000) - 15000)), mx{}, ex{};
    RTfGetMantExpX(&xx, &mx, &ex);
    ASSERT_EQ(std::ldexp(Val(mx), int(Val(ex))), Val(xx));
  }
}

// ------------------------------------------------------------ exact rounding

TEST_F(RTMathTest, RoundHasNoIntermediateRounding) {
  const float64 justBelowHalf = 0.49999999999999994;
  const float64 doubles[] = {justBelowHalf, -justBelowHalf, 0x1p52 + 1, 0x1p53 - 1, -(0x1p52 + 3), 0x1p52 - 0.5,
                             0x1p51 + 0.5};
  const float64 want[] = {0, 0, 0x1p52 + 1, 0x1p53 - 1, -(0x1p52 + 3), 0x1p52, 0x1p51};
  for (size_t i = 0; i < std::size(doubles); ++i) {
    float64 r = -1;
    RTfRoundD(&doubles[i], &r);
    EXPECT_EQ(Bits(r), Bits(want[i])) << doubles[i];
  }
  float32 s = 0.49999997f, rs = -1;
  RTfRoundS(&s, &rs);
  EXPECT_EQ(Bits(rs), Bits(0.0f));
  s = 0x1p23f + 1;
  RTfRoundS(&s, &rs);
  EXPECT_EQ(rs, s);
  ExtFloat x = Ext(0.5L - 0x1p-65L), rx{};
  RTfRoundX(&x, &rx);
  EXPECT_TRUE(SameBits(rx, Ext(0)));
  x = Ext(0x1p63L + 1);
  RTfRoundX(&x, &rx);
  EXPECT_TRUE(SameBits(rx, x));
}

// Where the steps floor(x + 0.5), then halves to even, are exact the result
// is theirs; everywhere it is the nearest integer with halves to even.
TEST_F(RTMathTest, RoundMatchesTheStepsWhereTheyAreExactAndNearestEvenEverywhere) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 10000; ++i) {
    float64 x = float64(int64(rng() % (1ull << 42)) - (1ll << 41)) / 4;  // x + 0.5 is exact
    float64 r = floor(x + 0.5);
    if (std::fabs(r - x) == 0.5) r = std::floor(r / 2) * 2;
    float64 got = -1;
    RTfRoundD(&x, &got);
    ASSERT_EQ(Bits(got), Bits(r)) << x;
    float64 y = DblFromBits(rng());
    RTfRoundD(&y, &got);
    float64 want = std::nearbyint(y);
    if (want == 0) want = 0;  // a zero result is +0
    ASSERT_TRUE(Same(got, want)) << y;
    floatExt yx = floatExt(y) * std::ldexp(1.0L, int(rng() % 200) - 100);
    ExtFloat in = Ext(yx), outx{};
    RTfRoundX(&in, &outx);
    floatExt wantx = std::nearbyint(yx);
    if (wantx == 0) wantx = 0;
    ASSERT_TRUE(Same(Val(outx), wantx)) << double(yx);
  }
}

}  // namespace
