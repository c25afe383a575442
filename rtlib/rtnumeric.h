// The operands of the real run-time functions in their three precisions and
// the comparison rule, shared by the real and the complex members.
#pragma once
#include <cfloat>
#include <cmath>

#include "mgsource/extmath.h"
#include "mgsource/numconv.h"
#include "mgsource/support.h"
#include "rtlib/rtmath.h"

namespace rtnum {

// ------------------------------------------------------------ comparison rule
//
// The floating-point unit's flags: a pair with a NaN on either side compares
// as both less and equal.  C++'s operators say false for every relation with
// a NaN, so each relation is written here once.  Minus zero equals zero.
template <class T>
inline bool Unordered(T a, T b) {
  return __builtin_isunordered(a, b);
}
template <class T>
inline bool EQ(T a, T b) {
  return a == b || Unordered(a, b);
}
template <class T>
inline bool NE(T a, T b) {
  return !EQ(a, b);
}
template <class T>
inline bool LT(T a, T b) {
  return a < b || Unordered(a, b);
}
template <class T>
inline bool LE(T a, T b) {
  return a <= b || Unordered(a, b);
}
template <class T>
inline bool GT(T a, T b) {
  return a > b;
}
template <class T>
inline bool GE(T a, T b) {
  return a >= b;
}
template <class T>
inline bool EQ0(T x) {
  return EQ(x, T(0));
}
template <class T>
inline bool NE0(T x) {
  return NE(x, T(0));
}
template <class T>
inline bool LT0(T x) {
  return LT(x, T(0));
}
template <class T>
inline bool LE0(T x) {
  return LE(x, T(0));
}
template <class T>
inline bool GT0(T x) {
  return GT(x, T(0));
}
template <class T>
inline bool GE0(T x) {
  return GE(x, T(0));
}

// ------------------------------------------------------------ special values
//
// The managers' NaN and infinities, in the working precision of an operand.
template <class T>
inline T NaN() {
  return T(SupportConsts().dblNaN);
}
template <class T>
inline T PosInf() {
  return T(SupportConsts().dblPosInf);
}
template <class T>
inline T NegInf() {
  return T(SupportConsts().dblNegInf);
}

// ------------------------------------------------------------ operands
//
// Mem is the operand in memory, Calc the precision the work is done in.
// Narrow rounds a working value to the operand's own precision, for the
// steps that round inside a member.  kMinNormal and kMaxFinite bound the
// normal numbers of the operand's precision; kBig is a power of two whose
// square, times a few, still fits.
struct Single {
  typedef float32 Mem;
  typedef float64 Calc;
  static constexpr int32 kType = kNumSGL;
  static constexpr Calc kMinNormal = FLT_MIN, kMaxFinite = FLT_MAX, kBig = 0x1p61;
  static Calc Load(const Mem* p) { return *p; }
  static void Store(Mem* p, Calc v) { *p = Mem(v); }
  // The rounded value is opaque to the compiler: otherwise it may fold a
  // double function of a narrowed value, narrowed again, into the float
  // function, whose i386 result comes back on the x87 stack unrounded.
  static Calc Narrow(Calc v) {
    Calc r = Calc(Mem(v));
    asm("" : "+x"(r));
    return r;
  }
};

struct Double {
  typedef float64 Mem;
  typedef float64 Calc;
  static constexpr int32 kType = kNumDBL;
  static constexpr Calc kMinNormal = DBL_MIN, kMaxFinite = DBL_MAX, kBig = 0x1p509;
  static Calc Load(const Mem* p) { return *p; }
  static void Store(Mem* p, Calc v) { *p = v; }
  static Calc Narrow(Calc v) { return v; }
};

// Extended operands are read and written as the 10-byte memory form, never
// as the compiler's 12-byte long double.
struct Extended {
  typedef ExtFloat Mem;
  typedef floatExt Calc;
  static constexpr int32 kType = kNumEXT;
  static constexpr Calc kMinNormal = LDBL_MIN, kMaxFinite = LDBL_MAX, kBig = 0x1p8189L;
  static Calc Load(const Mem* p) { return ExtLoadNumber(kNumEXT, p); }
  static void Store(Mem* p, Calc v) { ExtStoreNumber(kNumEXT, p, v); }
  static Calc Narrow(Calc v) { return v; }
};

// Stores v when the output is given.
template <class P>
inline void StoreOptional(typename P::Mem* p, typename P::Calc v) {
  if (p) P::Store(p, v);
}

// The class of ClassifyFloatNumber that marks a NaN.
enum : int32 { kFloatClassNaN = 3 };
template <class P>
inline bool IsNaNOperand(const typename P::Mem* p) {
  return ClassifyFloatNumber(P::kType, p) == kFloatClassNaN;
}

}  // namespace rtnum
