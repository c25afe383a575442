// The binary real functions.
#include <cmath>

#include "rtlib/rtnumeric.h"

using rtnum::Double;
using rtnum::Extended;
using rtnum::Single;

namespace {

template <class T>
T AddOf(T x, T y) {
  return x + y;
}
template <class T>
T SubOf(T x, T y) {
  return x - y;
}
template <class T>
T MulOf(T x, T y) {
  return x * y;
}
template <class T>
T DivOf(T x, T y) {
  return x / y;
}
// The logarithm of y to the base x.
template <class T>
T LogxOf(T x, T y) {
  return std::log(y) / std::log(x);
}
template <class T>
T PowxOf(T x, T y) {
  return std::pow(x, y);
}
// The first operand is the abscissa.
template <class T>
T Atan2Of(T x, T y) {
  return std::atan2(y, x);
}

// x * 2^n.  ldexp(1, n) is pow(2, n) exactly, overflow to infinity and
// underflow to 0 included, without pow's cost.
float64 ScaleOf(float64 x, int32 n) { return x * std::ldexp(1.0, n); }
floatExt ScaleOf(floatExt x, int32 n) { return x * std::ldexp(1.0L, n); }

// The quotient floor(x / y), the division first rounded to the operand's
// precision, and the remainder x - q*y.  y = 0 gives what IEEE arithmetic
// gives: an infinite or NaN quotient and a NaN remainder.
template <class P>
void QRem(const typename P::Mem* xp, const typename P::Mem* yp, typename P::Mem* quotient,
          typename P::Mem* remainder) {
  typedef typename P::Calc T;
  T x = P::Load(xp), y = P::Load(yp);
  T q = std::floor(P::Narrow(x / y));
  T r = x - q * y;
  rtnum::StoreOptional<P>(quotient, q);
  rtnum::StoreOptional<P>(remainder, r);
}

// Maximum: x when x >= y, y when y > x, else (a NaN on either side) NaN.
// Minimum: x when x <= y by the comparison rule (so also with a NaN on
// either side), else y.
template <class P>
void MaxMin(const typename P::Mem* xp, const typename P::Mem* yp, typename P::Mem* maximum,
            typename P::Mem* minimum) {
  typedef typename P::Calc T;
  T x = P::Load(xp), y = P::Load(yp);
  T hi = rtnum::GE(x, y) ? x : rtnum::GT(y, x) ? y : rtnum::NaN<T>();
  T lo = rtnum::LE(x, y) ? x : y;
  rtnum::StoreOptional<P>(maximum, hi);
  rtnum::StoreOptional<P>(minimum, lo);
}

}  // namespace

#define QX_RT_BINARY(Op)                                                                           \
  void RTf##Op##S(const float32* x, const float32* y, float32* result) {                           \
    Single::Store(result, Op##Of(Single::Load(x), Single::Load(y)));                               \
  }                                                                                                \
  void RTf##Op##D(const float64* x, const float64* y, float64* result) {                           \
    Double::Store(result, Op##Of(Double::Load(x), Double::Load(y)));                               \
  }                                                                                                \
  void RTf##Op##X(const ExtFloat* x, const ExtFloat* y, ExtFloat* result) {                        \
    Extended::Store(result, Op##Of(Extended::Load(x), Extended::Load(y)));                         \
  }
QX_RT_BINARY(Add)
QX_RT_BINARY(Sub)
QX_RT_BINARY(Mul)
QX_RT_BINARY(Div)
QX_RT_BINARY(Logx)
QX_RT_BINARY(Powx)
QX_RT_BINARY(Atan2)
#undef QX_RT_BINARY

void RTfiScaleS(const float32* x, const int32* n, float32* result) {
  Single::Store(result, ScaleOf(Single::Load(x), *n));
}
void RTfiScaleD(const float64* x, const int32* n, float64* result) {
  Double::Store(result, ScaleOf(Double::Load(x), *n));
}
void RTfiScaleX(const ExtFloat* x, const int32* n, ExtFloat* result) {
  Extended::Store(result, ScaleOf(Extended::Load(x), *n));
}

void RTfQRemS(const float32* x, const float32* y, float32* quotient, float32* remainder) {
  QRem<Single>(x, y, quotient, remainder);
}
void RTfQRemD(const float64* x, const float64* y, float64* quotient, float64* remainder) {
  QRem<Double>(x, y, quotient, remainder);
}
void RTfQRemX(const ExtFloat* x, const ExtFloat* y, ExtFloat* quotient, ExtFloat* remainder) {
  QRem<Extended>(x, y, quotient, remainder);
}

// Mod and Rem are the remainder of QRem.  RTfRemS and RTfRemD are the same
// routines as RTfModS and RTfModD under a second name.
void RTfModS(const float32* x, const float32* y, float32* remainder) { QRem<Single>(x, y, nullptr, remainder); }
void RTfModD(const float64* x, const float64* y, float64* remainder) { QRem<Double>(x, y, nullptr, remainder); }
void RTfModX(const ExtFloat* x, const ExtFloat* y, ExtFloat* remainder) { QRem<Extended>(x, y, nullptr, remainder); }
QX_EXTERN_C void RTfRemS(const float32* x, const float32* y, float32* remainder) __attribute__((alias("RTfModS")));
QX_EXTERN_C void RTfRemD(const float64* x, const float64* y, float64* remainder) __attribute__((alias("RTfModD")));
void RTfRemX(const ExtFloat* x, const ExtFloat* y, ExtFloat* remainder) { QRem<Extended>(x, y, nullptr, remainder); }

void RTfMaxMinS(const float32* x, const float32* y, float32* maximum, float32* minimum) {
  MaxMin<Single>(x, y, maximum, minimum);
}
void RTfMaxMinD(const float64* x, const float64* y, float64* maximum, float64* minimum) {
  MaxMin<Double>(x, y, maximum, minimum);
}
void RTfMaxMinX(const ExtFloat* x, const ExtFloat* y, ExtFloat* maximum, ExtFloat* minimum) {
  MaxMin<Extended>(x, y, maximum, minimum);
}
