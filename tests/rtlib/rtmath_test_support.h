// Shared set-up of the numeric run-time function tests: the managers started
// once (the special values come from the support manager's start-up), the
// members of each shape gathered in tables, and helpers for the bits of
// single, double and extended numbers.
#pragma once
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/engine_test_support.h"
#include "mgsource/extmath.h"
#include "mgsource/support.h"
#include "rtlib/rtmath.h"

namespace rttest {

inline void StartRTMath() {
  static std::once_flag once;
  std::call_once(once, [] {
    qxtest::StartManagers();
    ASSERT_EQ(SupportInit(), kNoErr);
    std::setlocale(LC_ALL, "C");
  });
}

class RTMathTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    StartRTMath();
  }
};

// ------------------------------------------------------------ bits

inline uInt32 Bits(float32 f) {
  uInt32 b;
  std::memcpy(&b, &f, 4);
  return b;
}
inline uInt64 Bits(float64 d) {
  uInt64 b;
  std::memcpy(&b, &d, 8);
  return b;
}
// Always inlined, even in unoptimised test builds: an i386 function returns a
// float on the x87 stack, which quietens a signalling NaN on the way.
__attribute__((always_inline)) inline float32 SglFromBits(uInt32 b) {
  float32 f;
  std::memcpy(&f, &b, 4);
  return f;
}
__attribute__((always_inline)) inline float64 DblFromBits(uInt64 b) {
  float64 d;
  std::memcpy(&d, &b, 8);
  return d;
}
inline ExtFloat ExtFromBits(uInt16 signExp, uInt64 mant) {
  ExtFloat e;
  e.mantLo = uInt32(mant);
  e.mantHi = uInt32(mant >> 32);
  e.signExp = signExp;
  return e;
}
inline ExtFloat Ext(floatExt v) {
  ExtFloat e;
  ExtStoreNumber(kNumEXT, &e, v);
  return e;
}
inline floatExt Val(const ExtFloat& e) { return ExtLoadNumber(kNumEXT, &e); }
inline bool SameBits(const ExtFloat& a, const ExtFloat& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Equal bit for bit, or both NaN.
inline bool Same(float32 a, float32 b) { return Bits(a) == Bits(b) || (a != a && b != b); }
inline bool Same(float64 a, float64 b) { return Bits(a) == Bits(b) || (a != a && b != b); }
inline bool Same(floatExt a, floatExt b) {
  return (a != a && b != b) || (a == b && std::signbit(a) == std::signbit(b));
}

// The managers' NaN in each form.
inline float64 NaND() { return SupportConsts().dblNaN; }
inline float32 NaNS() { return SglFromBits(0xFFFFFFFFu); }
inline floatExt NaNX() { return floatExt(SupportConsts().dblNaN); }
constexpr float64 kInf = HUGE_VAL;

// The distance in units of the last place between two extended values of
// the same sign (infinities and NaNs: 0 when they match, else huge).
inline long double UlpDistance(floatExt a, floatExt b) {
  if (a != a || b != b) return (a != a && b != b) ? 0 : 1e30L;
  if (std::isinf(a) || std::isinf(b)) return a == b ? 0 : 1e30L;
  if (a == b) return 0;
  floatExt scale = std::fmax(std::fabs(a), std::fabs(b));
  int e = 0;
  std::frexp(scale, &e);
  floatExt ulp = std::ldexp(1.0L, std::max(e - 64, -16445));
  return std::fabs(a - b) / ulp;
}

// A number in each operand form, and back.
template <class M>
M Mem(floatExt v);
template <>
inline float32 Mem<float32>(floatExt v) {
  return float32(v);
}
template <>
inline float64 Mem<float64>(floatExt v) {
  return float64(v);
}
template <>
inline ExtFloat Mem<ExtFloat>(floatExt v) {
  return Ext(v);
}
inline floatExt Num(float32 v) { return v; }
inline floatExt Num(float64 v) { return v; }
inline floatExt Num(const ExtFloat& v) { return Val(v); }
// The operand form's letter, for messages.
inline const char* Letter(float32) { return "S"; }
inline const char* Letter(float64) { return "D"; }
inline const char* Letter(const ExtFloat&) { return "X"; }

// ------------------------------------------------------------ the members

template <class M>
struct Unary {
  typedef void (*Fn)(const M*, M*);
};
template <class M>
struct Binary {
  typedef void (*Fn)(const M*, const M*, M*);
};
template <class M>
struct TwoOut {
  typedef void (*Fn)(const M*, const M*, M*, M*);
};
template <class M>
struct OneInTwoOut {
  typedef void (*Fn)(const M*, M*, M*);
};
template <class M>
struct Test1 {
  typedef Bool32 (*Fn)(const M*);
};
template <class M>
struct Test2 {
  typedef Bool32 (*Fn)(const M*, const M*);
};

// One operation in its three precisions.
template <template <class> class Shape>
struct Member {
  const char* op;
  typename Shape<float32>::Fn s;
  typename Shape<float64>::Fn d;
  typename Shape<ExtFloat>::Fn x;
};

#define QX_MEMBER(Op) {#Op, &RTf##Op##S, &RTf##Op##D, &RTf##Op##X}

inline const std::vector<Member<Unary>>& UnaryMembers() {
  static const std::vector<Member<Unary>> m = {
      QX_MEMBER(Abs),   QX_MEMBER(Round), QX_MEMBER(Neg),   QX_MEMBER(Sqrt),  QX_MEMBER(Logn),  QX_MEMBER(Log10),
      QX_MEMBER(Log2),  QX_MEMBER(Lognp1), QX_MEMBER(Exp),  QX_MEMBER(Expm1), QX_MEMBER(Pow10), QX_MEMBER(Pow2),
      QX_MEMBER(Recip), QX_MEMBER(Ceil),  QX_MEMBER(Floor), QX_MEMBER(Inc),   QX_MEMBER(Dec),   QX_MEMBER(Sign),
      QX_MEMBER(Sin),   QX_MEMBER(Cos),   QX_MEMBER(Tan),   QX_MEMBER(Sec),   QX_MEMBER(Csc),   QX_MEMBER(Cot),
      QX_MEMBER(Asin),  QX_MEMBER(Acos),  QX_MEMBER(Atan),  QX_MEMBER(Sinh),  QX_MEMBER(Cosh),  QX_MEMBER(Tanh),
      QX_MEMBER(Asinh), QX_MEMBER(Acosh), QX_MEMBER(Atanh), QX_MEMBER(Sinc)};
  return m;
}
inline const std::vector<Member<Binary>>& BinaryMembers() {
  static const std::vector<Member<Binary>> m = {QX_MEMBER(Add),  QX_MEMBER(Sub),  QX_MEMBER(Mul),  QX_MEMBER(Div),
                                                QX_MEMBER(Logx), QX_MEMBER(Powx), QX_MEMBER(Atan2), QX_MEMBER(Mod),
                                                QX_MEMBER(Rem)};
  return m;
}
inline const std::vector<Member<TwoOut>>& TwoOutMembers() {
  static const std::vector<Member<TwoOut>> m = {QX_MEMBER(QRem), QX_MEMBER(MaxMin)};
  return m;
}
inline const std::vector<Member<OneInTwoOut>>& OneInTwoOutMembers() {
  static const std::vector<Member<OneInTwoOut>> m = {QX_MEMBER(SinCos), QX_MEMBER(GetMantExp)};
  return m;
}
inline const std::vector<Member<Test1>>& Test1Members() {
  static const std::vector<Member<Test1>> m = {QX_MEMBER(IsNan), QX_MEMBER(EQ0), QX_MEMBER(NE0), QX_MEMBER(GE0),
                                               QX_MEMBER(LE0),   QX_MEMBER(GT0), QX_MEMBER(LT0)};
  return m;
}
inline const std::vector<Member<Test2>>& Test2Members() {
  static const std::vector<Member<Test2>> m = {QX_MEMBER(EQ), QX_MEMBER(NE), QX_MEMBER(GE),
                                               QX_MEMBER(LE), QX_MEMBER(GT), QX_MEMBER(LT)};
  return m;
}
#undef QX_MEMBER

// The member of an operation, by name; the form M picks its precision.
template <template <class> class Shape>
const Member<Shape>& Find(const std::vector<Member<Shape>>& members, const std::string& op) {
  for (const auto& m : members) {
    if (op == m.op) return m;
  }
  ADD_FAILURE() << "no member " << op;
  return members.front();
}
template <class M, template <class> class Shape>
typename Shape<M>::Fn Pick(const Member<Shape>& m) {
  if constexpr (std::is_same_v<M, float32>) return m.s;
  else if constexpr (std::is_same_v<M, float64>) return m.d;
  else return m.x;
}

// One call of a member in the precision of M, operands and results as
// extended values.
template <class M>
floatExt CallUnary(const std::string& op, floatExt x) {
  M in = Mem<M>(x), out = Mem<M>(-12345);
  Pick<M>(Find(UnaryMembers(), op))(&in, &out);
  return Num(out);
}
template <class M>
floatExt CallBinary(const std::string& op, floatExt x, floatExt y) {
  M a = Mem<M>(x), b = Mem<M>(y), out = Mem<M>(-12345);
  Pick<M>(Find(BinaryMembers(), op))(&a, &b, &out);
  return Num(out);
}
template <class M>
std::pair<floatExt, floatExt> CallTwoOut(const std::string& op, floatExt x, floatExt y) {
  M a = Mem<M>(x), b = Mem<M>(y), o1 = Mem<M>(-12345), o2 = Mem<M>(-12345);
  Pick<M>(Find(TwoOutMembers(), op))(&a, &b, &o1, &o2);
  return {Num(o1), Num(o2)};
}
template <class M>
std::pair<floatExt, floatExt> CallOneInTwoOut(const std::string& op, floatExt x) {
  M a = Mem<M>(x), o1 = Mem<M>(-12345), o2 = Mem<M>(-12345);
  Pick<M>(Find(OneInTwoOutMembers(), op))(&a, &o1, &o2);
  return {Num(o1), Num(o2)};
}
template <class M>
Bool32 CallTest1(const std::string& op, floatExt x) {
  M a = Mem<M>(x);
  return Pick<M>(Find(Test1Members(), op))(&a);
}
template <class M>
Bool32 CallTest2(const std::string& op, floatExt x, floatExt y) {
  M a = Mem<M>(x), b = Mem<M>(y);
  return Pick<M>(Find(Test2Members(), op))(&a, &b);
}

// ------------------------------------------------------------ special operands

// Every kind of bit pattern a member can meet.
inline std::vector<float32> SpecialSingles() {
  return {0.0f,
          -0.0f,
          1.0f,
          -1.0f,
          0.5f,
          -2.5f,
          SglFromBits(0x00000001u),  // smallest denormal
          SglFromBits(0x807FFFFFu),  // largest negative denormal
          SglFromBits(0x7F7FFFFFu),  // largest finite
          SglFromBits(0xFF7FFFFFu),
          SglFromBits(0x7F800000u),  // infinities
          SglFromBits(0xFF800000u),
          SglFromBits(0xFFFFFFFFu),  // the managers' NaN
          SglFromBits(0x7FC00000u),  // quiet NaN
          SglFromBits(0x7F800001u),  // signalling NaN
          16777217.0f,
          3.0f};
}
inline std::vector<float64> SpecialDoubles() {
  return {0.0,
          -0.0,
          1.0,
          -1.0,
          0.5,
          -2.5,
          DblFromBits(0x0000000000000001ull),
          DblFromBits(0x800FFFFFFFFFFFFFull),
          DblFromBits(0x7FEFFFFFFFFFFFFFull),
          DblFromBits(0xFFEFFFFFFFFFFFFFull),
          HUGE_VAL,
          -HUGE_VAL,
          DblFromBits(~0ull),
          DblFromBits(0x7FF8000000000000ull),
          DblFromBits(0x7FF0000000000001ull),
          0x1p52 + 1,
          3.0};
}
inline std::vector<ExtFloat> SpecialExtendeds() {
  return {ExtFromBits(0x0000, 0),                      // +0
          ExtFromBits(0x8000, 0),                      // -0
          Ext(1),
          Ext(-1),
          Ext(-2.5L),
          ExtFromBits(0x0000, 1),                      // smallest denormal
          ExtFromBits(0x8000, 0x7FFFFFFFFFFFFFFFull),  // largest negative denormal
          ExtFromBits(0x0000, 0x8000000000000000ull),  // pseudo-denormal
          ExtFromBits(0x3FFF, 0x4000000000000000ull),  // unnormal (leading bit clear)
          ExtFromBits(0x7FFE, 0xFFFFFFFFFFFFFFFFull),  // largest finite
          ExtFromBits(0x7FFF, 0x8000000000000000ull),  // +infinity
          ExtFromBits(0xFFFF, 0x8000000000000000ull),  // -infinity
          ExtFromBits(0x7FFF, 0x0000000000000000ull),  // pseudo-infinity
          ExtFromBits(0x7FFF, 0x4000000000000001ull),  // pseudo-NaN
          ExtFromBits(0xFFFF, 0xFFFFFFFFFFFFF800ull),  // the managers' NaN
          ExtFromBits(0x7FFF, 0xC000000000000000ull),  // quiet NaN
          ExtFromBits(0x7FFF, 0xA000000000000000ull),  // signalling NaN
          Ext(0x1p63L + 1)};
}

}  // namespace rttest
