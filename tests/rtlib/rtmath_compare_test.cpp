// The comparison rule over a grid of special values: a NaN on either side is
// both less and equal, minus zero equals zero.  Extended equality and the
// extended zero tests work on the bits instead.
#include "rtmath_test_support.h"

using namespace rttest;

namespace {

enum Col { kEQ, kNE, kGE, kLE, kGT, kLT };

// The grid, with each value's place in the order written by hand (-1: NaN,
// which has none); both zeros share a place.
struct GridValue {
  const char* name;
  float64 d;
  int rank;
};
const GridValue kGrid[] = {
    {"NaN", DblFromBits(~0ull), -1}, {"-inf", -HUGE_VAL, 0}, {"-1", -1, 1}, {"-0", -0.0, 2},
    {"+0", 0.0, 2},                  {"denormal", DblFromBits(1), 3}, {"+1", 1, 4}, {"+inf", HUGE_VAL, 5},
};

// What each pair test gives when the left side's place is below, equal to or
// above the right side's, or when either side is a NaN.
//                                EQ NE GE LE GT LT
const int kBelow[6] = /*    */ {0, 1, 0, 1, 0, 1};
const int kEqual[6] = /*    */ {1, 0, 1, 1, 0, 0};
const int kAbove[6] = /*    */ {0, 1, 1, 0, 1, 0};
const int kUnordered[6] = /**/ {1, 0, 0, 1, 0, 1};

const int* Expected(const GridValue& a, const GridValue& b) {
  if (a.rank < 0 || b.rank < 0) return kUnordered;
  return a.rank < b.rank ? kBelow : a.rank == b.rank ? kEqual : kAbove;
}

// The zero tests of each grid value, by hand:  EQ0 NE0 GE0 LE0 GT0 LT0
const int kZeroTests[8][6] = {
    {1, 0, 0, 1, 0, 1},  // NaN
    {0, 1, 0, 1, 0, 1},  // -inf
    {0, 1, 0, 1, 0, 1},  // -1
    {1, 0, 1, 1, 0, 0},  // -0
    {1, 0, 1, 1, 0, 0},  // +0
    {0, 1, 1, 0, 1, 0},  // denormal
    {0, 1, 1, 0, 1, 0},  // +1
    {0, 1, 1, 0, 1, 0},  // +inf
};
const char* const kZeroNames[6] = {"EQ0", "NE0", "GE0", "LE0", "GT0", "LT0"};
const char* const kPairNames[6] = {"EQ", "NE", "GE", "LE", "GT", "LT"};

template <class M>
M GridOperand(const GridValue& g) {
  if constexpr (std::is_same_v<M, float32>) {
    // The single grid has its own smallest denormal.
    return g.rank == 3 ? SglFromBits(1) : float32(g.d);
  } else if constexpr (std::is_same_v<M, float64>) {
    return g.d;
  } else {
    return g.rank == 3 ? ExtFromBits(0, 1) : Ext(g.d);
  }
}

template <class M>
void ExpectPairTestsFollowTheRule(bool orderedOnly) {
  for (const GridValue& a : kGrid) {
    for (const GridValue& b : kGrid) {
      M x = GridOperand<M>(a), y = GridOperand<M>(b);
      const int* want = Expected(a, b);
      for (int c = kEQ; c <= kLT; ++c) {
        if (orderedOnly && (c == kEQ || c == kNE)) continue;
        auto fn = Pick<M>(Find(Test2Members(), kPairNames[c]));
        EXPECT_EQ(fn(&x, &y), want[c]) << kPairNames[c] << Letter(x) << "(" << a.name << ", " << b.name << ")";
      }
    }
  }
}

template <class M>
void ExpectZeroTestsFollowTheRule() {
  for (size_t i = 0; i < std::size(kGrid); ++i) {
    M x = GridOperand<M>(kGrid[i]);
    for (int c = 0; c < 6; ++c) {
      auto fn = Pick<M>(Find(Test1Members(), kZeroNames[c]));
      EXPECT_EQ(fn(&x), kZeroTests[i][c]) << kZeroNames[c] << Letter(x) << "(" << kGrid[i].name << ")";
    }
  }
}

TEST_F(RTMathTest, SingleAndDoubleTestsFollowTheComparisonRule) {
  ExpectPairTestsFollowTheRule<float32>(false);
  ExpectPairTestsFollowTheRule<float64>(false);
  ExpectZeroTestsFollowTheRule<float32>();
  ExpectZeroTestsFollowTheRule<float64>();
}

TEST_F(RTMathTest, ExtendedOrderedComparisonsFollowTheComparisonRule) {
  ExpectPairTestsFollowTheRule<ExtFloat>(true);
  // Values the processor refuses count as NaN.
  ExtFloat unnormal = ExtFromBits(0x3FFF, 0x4000000000000000ull), one = Ext(1);
  EXPECT_EQ(RTfLTX(&unnormal, &one), 1);
  EXPECT_EQ(RTfLEX(&one, &unnormal), 1);
  EXPECT_EQ(RTfGTX(&unnormal, &one), 0);
  EXPECT_EQ(RTfGEX(&one, &unnormal), 0);
}

// Extended EQ and NE compare all three parts; the zero tests read the sign
// and exponent word only.
TEST_F(RTMathTest, ExtendedEqualityAndZeroTestsWorkOnTheBits) {
  struct Case {
    const char* name;
    ExtFloat x;
    int want[6];  // EQ0 NE0 GE0 LE0 GT0 LT0
  };
  const Case cases[] = {
      {"+0", ExtFromBits(0x0000, 0), {1, 0, 1, 1, 0, 0}},
      {"-0", ExtFromBits(0x8000, 0), {0, 1, 0, 1, 0, 1}},
      {"denormal", ExtFromBits(0x0000, 1), {1, 0, 1, 1, 0, 0}},
      {"-denormal", ExtFromBits(0x8000, 1), {0, 1, 0, 1, 0, 1}},
      {"+1", Ext(1), {0, 1, 1, 0, 1, 0}},
      {"-1", Ext(-1), {0, 1, 0, 1, 0, 1}},
      {"+inf", ExtFromBits(0x7FFF, 0x8000000000000000ull), {0, 1, 1, 0, 1, 0}},
      {"-inf", ExtFromBits(0xFFFF, 0x8000000000000000ull), {0, 1, 0, 1, 0, 1}},
      {"+NaN", ExtFromBits(0x7FFF, 0xC000000000000000ull), {0, 1, 1, 0, 1, 0}},
      {"managers' NaN", ExtFromBits(0xFFFF, 0xFFFFFFFFFFFFF800ull), {0, 1, 0, 1, 0, 1}},
      {"unnormal", ExtFromBits(0x3FFF, 0x4000000000000000ull), {0, 1, 1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 6; ++k) {
      auto fn = Pick<ExtFloat>(Find(Test1Members(), kZeroNames[k]));
      EXPECT_EQ(fn(&c.x), c.want[k]) << kZeroNames[k] << "X(" << c.name << ")";
    }
    for (const Case& d : cases) {
      bool same = &c == &d;
      EXPECT_EQ(RTfEQX(&c.x, &d.x), same ? 1 : 0) << c.name << " " << d.name;
      EXPECT_EQ(RTfNEX(&c.x, &d.x), same ? 0 : 1) << c.name << " " << d.name;
    }
  }
  // Each of the three parts takes part.
  ExtFloat a = Ext(1.5L), b = a;
  b.mantLo ^= 1;
  EXPECT_EQ(RTfEQX(&a, &b), 0);
  b = a;
  b.mantHi ^= 1;
  EXPECT_EQ(RTfEQX(&a, &b), 0);
  b = a;
  b.signExp ^= 1;
  EXPECT_EQ(RTfEQX(&a, &b), 0);
}

}  // namespace
