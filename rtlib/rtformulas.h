// The formulas of the real run-time functions, once for double (the S and D
// members) and long double (the X members), shared by the real members and
// the complex members built on them.  Each gives the unrounded result; the
// member rounds it to its precision when it stores it.
#pragma once
#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "mgsource/extsupport.h"
#include "rtlib/rtnumeric.h"

namespace rtnum {
namespace formulas {

// ------------------------------------------------------------ unary

template <class T>
T AbsOf(T x) {
  return std::fabs(x);
}
template <class T>
T NegOf(T x) {
  return -x;
}
template <class T>
T SqrtOf(T x) {
  return std::sqrt(x);
}

// Halves to even, exactly: below 2^52 adding and taking away 2^52 leaves the
// integer that round-to-nearest picks, the mode the managers keep; larger
// values, infinities and NaNs are their own result.  A zero result is +0.
inline float64 RoundOf(float64 x) {
  float64 a = std::fabs(x);
  if (!(a < 0x1p52)) return x;
  float64 r = (a + 0x1p52) - 0x1p52;
  return x < 0 ? 0.0 - r : r;
}
inline floatExt RoundOf(floatExt x) {
  floatExt r = std::nearbyint(x);
  return r == 0 ? 0.0L : r;
}

template <class T>
T LognOf(T x) {
  if (EQ0(x)) return NegInf<T>();  // 0 and NaN
  if (x < 0) return NaN<T>();
  return std::log(x);
}
template <class T>
T Log10Of(T x) {
  return std::log10(x);
}
template <class T>
T Log2Of(T x) {
  return std::log(x) / std::log(T(2));
}

// ln(1 + x) by LogOnePlus's steps.
inline float64 Lognp1Of(float64 x) { return LogOnePlus(x); }
inline floatExt Lognp1Of(floatExt x) {
  floatExt u = 1 + x;
  if (u == 1) return x;
  if (std::fabs(x) < 0.75L) return std::log(u) * x / (u - 1);
  return std::log(u);
}

template <class T>
T ExpOf(T x) {
  return std::exp(x);
}
template <class T>
T Expm1Of(T x) {
  return std::expm1(x);
}
template <class T>
T Pow10Of(T x) {
  return std::pow(T(10), x);
}
template <class T>
T Pow2Of(T x) {
  return std::pow(T(2), x);
}
template <class T>
T RecipOf(T x) {
  return 1 / x;
}
template <class T>
T CeilOf(T x) {
  return std::ceil(x);
}
template <class T>
T FloorOf(T x) {
  return std::floor(x);
}
template <class T>
T IncOf(T x) {
  return x + 1;
}
template <class T>
T DecOf(T x) {
  return x - 1;
}
template <class T>
T SignOf(T x) {
  if (x != x) return NaN<T>();
  if (EQ0(x)) return 0;
  return GT0(x) ? 1 : -1;
}
template <class T>
T SinOf(T x) {
  return std::sin(x);
}
template <class T>
T CosOf(T x) {
  return std::cos(x);
}
template <class T>
T TanOf(T x) {
  return std::tan(x);
}
template <class T>
T SecOf(T x) {
  return 1 / std::cos(x);
}
template <class T>
T CscOf(T x) {
  return 1 / std::sin(x);
}
template <class T>
T CotOf(T x) {
  return 1 / std::tan(x);
}
template <class T>
T AsinOf(T x) {
  return std::asin(x);
}
template <class T>
T AcosOf(T x) {
  return std::acos(x);
}
template <class T>
T AtanOf(T x) {
  return std::atan(x);
}
template <class T>
T SinhOf(T x) {
  return std::sinh(x);
}
template <class T>
T CoshOf(T x) {
  return std::cosh(x);
}
template <class T>
T TanhOf(T x) {
  return std::tanh(x);
}
// The inverse hyperbolic functions by their logarithm formulas, wherever
// those hold their digits.  Near 0 (Asinh, Atanh) and near 1 (Acosh) the
// logarithm's argument lies close to 1 and the formula loses the leading
// digits of the result, so there ln(1 + u) is taken of the small u itself,
// worked in extended precision and rounded once; where x^2 overflows the
// result is ln|x| + ln 2, which is what the formula means there.  Everywhere
// else the formula's own result stands.
template <class T>
T Ln2Of() {
  return T(0.693147180559945309417232121458176568L);
}
// Below these the formulas cancel: |x| for Asinh and Atanh, x for Acosh.
// Extended results have no wider precision to be worked in, so they take
// the near forms only where the formula has lost more than a digit or two.
template <class T>
inline constexpr T kAsinhNear0 = T(0.5);
template <>
inline constexpr floatExt kAsinhNear0<floatExt> = 0.125L;
template <class T>
inline constexpr T kAtanhNear0 = T(0.5);
template <>
inline constexpr floatExt kAtanhNear0<floatExt> = 0.0625L;
template <class T>
inline constexpr T kAcoshNear1 = T(1.5);
template <>
inline constexpr floatExt kAcoshNear1<floatExt> = 1.0625L;

// f within four units of the last place of m, in m's precision.  Extended
// results, which have no wider precision for their mended forms, keep the
// formula's result where it agrees with the mended one to that: the mended
// form is then no closer than the formula can be shown to be.
template <class T>
bool AgreeInLastPlaces(T f, T m) {
  if (!std::isfinite(f) || !std::isfinite(m)) return false;
  constexpr int kMinExp = std::numeric_limits<T>::min_exponent - 1;
  int e = m == 0 ? kMinExp : std::max(std::ilogb(m), kMinExp);
  return std::fabs(f - m) <= std::ldexp(T(4), e - (std::numeric_limits<T>::digits - 1));
}
template <class T>
T NearFormOrFormula(T mended, T formula) {
  return AgreeInLastPlaces(formula, mended) ? formula : mended;
}

// sqrt(x^2 + 1) + x - 1 = x + x^2 / (1 + sqrt(1 + x^2)) for x >= 0.
inline floatExt AsinhNear0(floatExt x) {
  floatExt x2 = x * x;
  return std::log1p(x + x2 / (1 + std::sqrt(1 + x2)));
}
// (1 + x) / (1 - x) - 1 = 2x + 2x x / (1 - x).
inline floatExt AtanhNear0(floatExt x) {
  floatExt t = x + x;
  return std::log1p(t + t * x / (1 - x)) / 2;
}
// With d = x - 1 (exact near 1), sqrt(x^2 - 1) + x - 1 = d + sqrt(d (2 + d)).
inline floatExt AcoshNear1(floatExt x) {
  floatExt d = x - 1;
  return std::log1p(d + std::sqrt(d * (2 + d)));
}

template <class T>
T AsinhOf(T x) {
  T ax = std::fabs(x);
  if (ax < kAsinhNear0<T>) {
    T r = T(AsinhNear0(ax));
    if constexpr (!std::is_same_v<T, floatExt>) return x < 0 ? -r : r;
    T s = std::sqrt(x * x + 1);
    return NearFormOrFormula<T>(x < 0 ? -r : r, GE0(x) ? std::log(s + x) : -std::log(s - x));
  }
  T s = std::sqrt(x * x + 1);
  if (std::isinf(s) && std::isfinite(x)) {
    T r = T(std::log(floatExt(ax)) + Ln2Of<floatExt>());
    return x < 0 ? -r : r;
  }
  return GE0(x) ? std::log(s + x) : -std::log(s - x);
}
template <class T>
T AcoshOf(T x) {
  if (x >= 1 && x < kAcoshNear1<T>) {
    if constexpr (!std::is_same_v<T, floatExt>) return T(AcoshNear1(x));
    return NearFormOrFormula<T>(T(AcoshNear1(x)), std::log(std::sqrt(x * x - 1) + x));
  }
  T s = x * x - 1;
  if (std::isinf(s) && std::isfinite(x)) return T(std::log(floatExt(x)) + Ln2Of<floatExt>());
  return std::log(std::sqrt(s) + x);
}
template <class T>
T AtanhOf(T x) {
  T ax = std::fabs(x);
  if (ax < kAtanhNear0<T>) {
    T r = T(AtanhNear0(ax));
    if constexpr (!std::is_same_v<T, floatExt>) return x < 0 ? -r : r;
    return NearFormOrFormula<T>(x < 0 ? -r : r, std::log((1 + x) / (1 - x)) / 2);
  }
  return std::log((1 + x) / (1 - x)) / 2;
}
template <class T>
T SincOf(T x) {
  if (EQ0(x)) return 1;  // 0 and NaN
  return std::sin(x) / x;
}

// ------------------------------------------------------------ binary

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

// x * 2^n, rounded once: exact unless the result leaves the range, and
// right for every n, where pow(2, n) alone would overflow or underflow
// before x could bring it back into range.
inline float64 ScaleOf(float64 x, int32 n) { return std::ldexp(x, n); }
inline floatExt ScaleOf(floatExt x, int32 n) { return std::ldexp(x, n); }

}  // namespace formulas
}  // namespace rtnum
