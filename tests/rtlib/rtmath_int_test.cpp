// The integer functions, and every member over the special values of its
// precision with a SIGFPE handler installed: nothing traps, and no member
// changes the floating-point control words.
#include <climits>

#include "rtmath_test_support.h"
#include "trap_guard.h"

using namespace rttest;

namespace {

using RTMathInt = RTMathTest;

TEST_F(RTMathInt, IntegerFunctions) {
  TrapGuard guard;
  struct Case {
    int32 a, b, mul, div;
    uInt32 udiv;
  };
  const Case cases[] = {
      {0x10000, 0x10000, 0, 1, 1},
      {7, -2, -14, -3, 0},
      {-7, 2, -14, -3, 0x7FFFFFFC},
      {-7, -2, 14, 3, 0},
      {5, 0, 0, 0, 0},
      {INT_MIN, -1, INT_MIN, INT_MIN, 0},
      {INT_MIN, 1, INT_MIN, INT_MIN, 0x80000000u},
      {INT_MAX, -1, -INT_MAX, -INT_MAX, 0},
      {-1, 2, -2, 0, 0x7FFFFFFF},
      {INT_MAX, INT_MAX, 1, 1, 1},
      {0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int32 mul = 0, umul = 0, div = 0;
    uInt32 udiv = 0;
    EXPECT_TRUE(Untrapped([&] {
      mul = RTiMul(c.a, c.b);
      umul = RTuMul(c.a, c.b);
      div = RTiDiv(c.a, c.b);
      udiv = RTuDiv(uInt32(c.a), uInt32(c.b));
    })) << c.a << " " << c.b;
    EXPECT_EQ(mul, c.mul) << c.a << " * " << c.b;
    EXPECT_EQ(umul, c.mul) << c.a << " * " << c.b;
    EXPECT_EQ(div, c.div) << c.a << " / " << c.b;
    EXPECT_EQ(udiv, c.udiv) << c.a << " /u " << c.b;
  }
  EXPECT_EQ(RTuDiv(0xFFFFFFFFu, 2), 0x7FFFFFFFu);
  EXPECT_EQ(RTuDiv(5, 0), 0u);
  EXPECT_EQ(gTraps, 0);
}

// The guard itself catches a trap, so a trap in a member could not pass.
TEST_F(RTMathInt, TheGuardCatchesADivisionTrap) {
  TrapGuard guard;
  // The division is the processor's own, out of the sanitizers' sight.
  EXPECT_FALSE(Untrapped([] {
    int32 q = 5, zero = 0;
    __asm__ __volatile__("cltd\n\tidivl %1" : "+a"(q) : "r"(zero) : "edx", "cc");
  }));
  EXPECT_EQ(gTraps, 1);
}

template <class M>
void RunEveryMember(const std::vector<M>& values, int* calls) {
  int32 scales[] = {INT_MIN, -20000, -1, 0, 1, 20000, INT_MAX};
  for (const M& a : values) {
    for (const auto& m : UnaryMembers()) {
      M r{};
      Pick<M>(m)(&a, &r);
      ++*calls;
    }
    for (const auto& m : OneInTwoOutMembers()) {
      M r1{}, r2{};
      Pick<M>(m)(&a, &r1, &r2);
      ++*calls;
    }
    for (const auto& m : Test1Members()) *calls += Pick<M>(m)(&a) >= 0;
    for (int32 n : scales) {
      M r{};
      if constexpr (std::is_same_v<M, float32>) RTfiScaleS(&a, &n, &r);
      else if constexpr (std::is_same_v<M, float64>) RTfiScaleD(&a, &n, &r);
      else RTfiScaleX(&a, &n, &r);
      ++*calls;
    }
    for (const M& b : values) {
      for (const auto& m : BinaryMembers()) {
        M r{};
        Pick<M>(m)(&a, &b, &r);
        ++*calls;
      }
      for (const auto& m : TwoOutMembers()) {
        M r1{}, r2{};
        Pick<M>(m)(&a, &b, &r1, &r2);
        ++*calls;
      }
      for (const auto& m : Test2Members()) *calls += Pick<M>(m)(&a, &b) >= 0;
    }
  }
}

TEST_F(RTMathInt, EveryMemberTakesEverySpecialValueWithoutATrap) {
  TrapGuard guard;
  const ControlWords before = ReadControlWords();
  int calls = 0;
  EXPECT_TRUE(Untrapped([&] {
    RunEveryMember(SpecialSingles(), &calls);
    RunEveryMember(SpecialDoubles(), &calls);
    RunEveryMember(SpecialExtendeds(), &calls);
    const int32 ints[] = {INT_MIN, -1, 0, 1, INT_MAX};
    volatile uInt32 sink = 0;
    for (int32 a : ints) {
      for (int32 b : ints) {
        sink = sink + uInt32(RTiMul(a, b)) + uInt32(RTiDiv(a, b)) + RTuDiv(uInt32(a), uInt32(b));
        calls += 3;
      }
    }
  }));
  EXPECT_EQ(gTraps, 0);
  EXPECT_GT(calls, 10000);
  EXPECT_TRUE(ReadControlWords() == before);
}

// Members whose work goes through the C library keep the control words
// however they are set, rounding mode aside.
TEST_F(RTMathInt, MembersLeaveTheControlWordsAsTheyFoundThem) {
  const ControlWords before = ReadControlWords();
  float64 d = 2.5, rd = 0;
  ExtFloat x = Ext(2.5L), rx{};
  for (const auto& m : UnaryMembers()) {
    m.d(&d, &rd);
    m.x(&x, &rx);
    ASSERT_TRUE(ReadControlWords() == before) << m.op;
  }
}

}  // namespace
