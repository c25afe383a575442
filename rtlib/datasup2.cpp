// The binary real functions and the complex functions.
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "rtlib/rtcomplex.h"
#include "rtlib/rtformulas.h"
#include "rtlib/rtnumeric.h"

using rtnum::Double;
using rtnum::Extended;
using rtnum::Single;
using namespace rtnum::formulas;

namespace {

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

// ------------------------------------------------------------ complex

namespace {

#define QX_NOINLINE __attribute__((noinline))

template <class T>
T Pi() {
  return T(3.141592653589793238462643383279502884L);
}
template <class T>
T Ln10() {
  return T(2.302585092994045684017991454684364208L);
}
template <class T>
T Ln2() {
  return T(0.693147180559945309417232121458176568L);
}
// ln 2 and log10 2 in two parts, the first of 40 bits, so that k times it
// is exact for every binary exponent k.
template <class T>
T Ln2Hi() {
  return T(0x1.62e42fefa4p-1L);
}
template <class T>
T Ln2Lo() {
  return T(-1.7239444525614834773163504949986563974474587932e-13L);
}
template <class T>
T Log10Of2Hi() {
  return T(0x1.34413509f8p-2L);
}
template <class T>
T Log10Of2Lo() {
  return T(-8.5323443170571065301895106810118537891458689573e-14L);
}

// The Taylor coefficients of asin (1, 1/6, 3/40, ...: (2k)! / (4^k k!^2 (2k+1)))
// and of atan and atanh (1/(2k+1), atan's with alternating signs).  Twelve
// terms reach extended precision for |z| below 1/8 * sqrt 2.
constexpr int kSeriesTerms = 12;
constexpr long double kAsinSeries[kSeriesTerms] = {
    1.0L,          1.0L / 6,          3.0L / 40,           5.0L / 112,          35.0L / 1152,         63.0L / 2816,
    231.0L / 13312, 143.0L / 10240, 6435.0L / 557056, 12155.0L / 1245184, 46189.0L / 5505024, 88179.0L / 12058624};
constexpr long double kAtanSeries[kSeriesTerms] = {1.0L,      1.0L / 3,  1.0L / 5,  1.0L / 7,  1.0L / 9,  1.0L / 11,
                                                   1.0L / 13, 1.0L / 15, 1.0L / 17, 1.0L / 19, 1.0L / 21, 1.0L / 23};

template <class M>
struct ComplexMem;
template <>
struct ComplexMem<float32> {
  typedef ComplexS Type;
};
template <>
struct ComplexMem<float64> {
  typedef ComplexD Type;
};
template <>
struct ComplexMem<ExtFloat> {
  typedef ComplexX Type;
};

// A complex value in a working precision, and a result that says whether
// the formula gave it as it stands.
template <class T>
struct CZ {
  T re, im;
};
template <class T>
struct CR {
  CZ<T> z;
  bool plain;
};

// How a form is worked: deciding whether the formula stands (and giving its
// result then), the mended form, or the formula as it stands.
enum Mode { kDecide, kMend, kFormula };

// The complex operations of one precision.  Every value a step keeps is
// rounded to the precision (N), as a local of the operand type would be, and
// every real function is the real member's: its operand and its result are
// in the precision.
template <class P>
struct Cx {
  // Extended is the widest precision: the single and double members work
  // their mended forms in it (WZ) and round once at the end.
  static constexpr bool kWidest = std::is_same_v<P, rtnum::Extended>;
  typedef typename P::Calc T;
  typedef typename P::Mem M;
  typedef typename ComplexMem<M>::Type CM;
  typedef CZ<T> Z;
  typedef CZ<floatExt> WZ;

  static T N(T v) { return P::Narrow(v); }

  // The real members.
  static T Sqrt(T x) { return N(SqrtOf(N(x))); }
  static T Logn(T x) { return N(LognOf(N(x))); }
  static T Log10(T x) { return N(Log10Of(N(x))); }
  static T Log2(T x) { return N(Log2Of(N(x))); }
  static T Exp(T x) { return N(ExpOf(N(x))); }
  static T Pow10(T x) { return N(Pow10Of(N(x))); }
  static T Pow2(T x) { return N(Pow2Of(N(x))); }
  static T Sin(T x) { return N(SinOf(N(x))); }
  static T Cos(T x) { return N(CosOf(N(x))); }
  static T Sinh(T x) { return N(SinhOf(N(x))); }
  static T Cosh(T x) { return N(CoshOf(N(x))); }
  static T Atan2(T x, T y) { return N(Atan2Of(N(x), N(y))); }

  static Z Load(const CM* z) { return {P::Load(&z->re), P::Load(&z->im)}; }
  static void Store(CM* out, const Z& v) {
    P::Store(&out->re, v.re);
    P::Store(&out->im, v.im);
  }
  static void StoreOptional(CM* out, const Z& v) {
    if (out) Store(out, v);
  }

  static Z Add(Z z, Z w) { return {N(z.re + w.re), N(z.im + w.im)}; }
  static Z Sub(Z z, Z w) { return {N(z.re - w.re), N(z.im - w.im)}; }
  static Z Mul(Z z, Z w) {
    if (rtnum::EQ0(z.im) && rtnum::EQ0(w.im)) return {N(z.re * w.re), 0};
    return {N(z.re * w.re - z.im * w.im), N(z.re * w.im + z.im * w.re)};
  }

  // ------------------------------------------------ range
  //
  // The formulas square the parts.  Where a sum of squares overflows or
  // leaves the normal numbers of the operand's precision, a single or double
  // member is worked in extended precision, whose range holds the squares of
  // every double, and rounded once; an extended member scales the parts by
  // the power of two that brings the larger one to [1, 2) and scales the
  // result back.  Wherever the sum of squares is in range the formula
  // stands as it is.  The out-of-range paths are kept out of line (their
  // parts passed one by one: a pair by value would make the plain path keep
  // an aligned copy of z), so that the plain paths stay as small as the
  // formulas.
  static constexpr T kMin = P::kMinNormal;
  static constexpr T kMax = P::kMaxFinite;
  static bool InRange(T s) { return s >= kMin && s <= kMax; }
  static bool Finite(Z z) { return std::isfinite(z.re) && std::isfinite(z.im); }
  static bool Zero(Z z) { return z.re == 0 && z.im == 0; }
  // The binary exponent of the larger part (finite, not both 0).
  static int ExponentOf(Z z) { return std::ilogb(std::fmax(std::fabs(z.re), std::fabs(z.im))); }
  static Z Scaled(Z z, int k) { return {std::ldexp(z.re, -k), std::ldexp(z.im, -k)}; }
  // Both parts of magnitude below c (a NaN is not).
  static bool Within(Z z, T c) { return std::fabs(z.re) < c && std::fabs(z.im) < c; }

  // |z| = r * 2^k; k = 0 wherever the plain sqrt(a^2 + b^2) is in range,
  // and then r is its result.
  struct Mag {
    T r;
    int k;
  };
  static Mag Magnitude(Z z) {
    T s = N(z.re * z.re + z.im * z.im);
    if (InRange(s) || !Finite(z) || Zero(z)) return {Sqrt(s), 0};
    int k = ExponentOf(z);
    Z u = Scaled(z, k);
    return {Sqrt(u.re * u.re + u.im * u.im), k};
  }
  static bool AbsPlain(Z z, T& r) {
    T s = N(z.re * z.re + z.im * z.im);
    if (!InRange(s)) return false;
    r = Sqrt(s);
    return true;
  }
  static T Abs(Z z) {
    T r;
    if (AbsPlain(z, r)) return r;
    return AbsScaled(z.re, z.im);
  }
  QX_NOINLINE static T AbsScaled(T re, T im) {
    Z z = {re, im};
    if (!Finite(z) || Zero(z)) return Sqrt(re * re + im * im);
    if constexpr (!kWidest) return N(T(Cx<rtnum::Extended>::Abs(Wide(z))));
    int k = ExponentOf(z);
    Z u = Scaled(z, k);
    return N(std::ldexp(Sqrt(u.re * u.re + u.im * u.im), k));
  }
  // k ln 2 for a binary exponent k.
  static T KLn2(int k) { return T(k) * Ln2Hi<T>() + T(k) * Ln2Lo<T>(); }
  // The logarithms and the root of |z| = r 2^k: of the plain magnitude where
  // it is a normal number, else of the scaled one plus k times the logarithm
  // of 2 (half the exponent for the root).
  static T LnAbs(Z z) {
    Mag m = Magnitude(z);
    if (m.k == 0) return Logn(m.r);
    T r = std::ldexp(m.r, m.k);
    if (InRange(r)) return Logn(r);
    return N(T(m.k) * Ln2Hi<T>() + (LognOf(m.r) + T(m.k) * Ln2Lo<T>()));
  }
  static T Log10Abs(Z z) {
    Mag m = Magnitude(z);
    if (m.k == 0) return Log10(m.r);
    T r = std::ldexp(m.r, m.k);
    if (InRange(r)) return Log10(r);
    return N(T(m.k) * Log10Of2Hi<T>() + (Log10Of(m.r) + T(m.k) * Log10Of2Lo<T>()));
  }
  static T Log2Abs(Z z) {
    Mag m = Magnitude(z);
    if (m.k == 0) return Log2(m.r);
    T r = std::ldexp(m.r, m.k);
    if (InRange(r)) return Log2(r);
    return N(T(m.k) + Log2Of(m.r));
  }
  static T SqrtAbs(Z z) {
    Mag m = Magnitude(z);
    if (m.k == 0) return Sqrt(m.r);
    T r = std::ldexp(m.r, m.k);
    if (InRange(r)) return Sqrt(r);
    int k = m.k;
    T rr = m.r;
    if (k & 1) {  // an even exponent halves exactly
      rr *= 2;
      k -= 1;
    }
    return N(std::ldexp(Sqrt(rr), k / 2));
  }

  static bool DivPlain(Z z, Z w, Z& r) {
    T den = N(w.re * w.re + w.im * w.im);
    T nr = z.re * w.re + z.im * w.im, ni = z.im * w.re - z.re * w.im;
    Z q = {N(nr / den), N(ni / den)};
    // The formula stands where the divisor is normal, the quotient finite
    // and a numerator normal (else its products may have underflowed); the
    // out-of-line path keeps it for infinite, NaN and zero operands too.
    const T tmin = std::numeric_limits<T>::min();
    r = q;
    bool normal = std::fabs(nr) >= tmin || std::fabs(ni) >= tmin;
    return InRange(den) && std::isfinite(q.re) && std::isfinite(q.im) && normal;
  }
  static Z Div(Z z, Z w) {
    Z r;
    if (DivPlain(z, w, r)) return r;
    return DivScaled(z.re, z.im, w.re, w.im);
  }
  QX_NOINLINE static Z DivScaled(T a, T b, T c, T e) {
    Z z = {a, b}, w = {c, e};
    if (!Finite(z) || !Finite(w) || Zero(z) || Zero(w)) {
      T den = N(c * c + e * e);
      return {N((a * c + b * e) / den), N((b * c - a * e) / den)};
    }
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Div(Wide(z), Wide(w)));
    int kz = ExponentOf(z), kw = ExponentOf(w);
    Z u = Scaled(z, kz), v = Scaled(w, kw);
    T d = N(v.re * v.re + v.im * v.im);
    T re = (u.re * v.re + u.im * v.im) / d, im = (u.im * v.re - u.re * v.im) / d;
    return {N(std::ldexp(re, kz - kw)), N(std::ldexp(im, kz - kw))};
  }
  static bool RecipPlain(Z z, Z& r) {
    T den = N(z.re * z.re + z.im * z.im);
    r = {N(z.re / den), N(-z.im / den)};
    return InRange(den);
  }
  static Z Recip(Z z) {
    Z r;
    if (RecipPlain(z, r)) return r;
    return RecipScaled(z.re, z.im);
  }
  QX_NOINLINE static Z RecipScaled(T re, T im) {
    Z z = {re, im};
    if (!Finite(z) || Zero(z)) {
      T den = N(re * re + im * im);
      return {N(re / den), N(-im / den)};
    }
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Recip(Wide(z)));
    int k = ExponentOf(z);
    Z u = Scaled(z, k);
    T d = N(u.re * u.re + u.im * u.im);
    return {N(std::ldexp(u.re / d, -k)), N(std::ldexp(-u.im / d, -k))};
  }

  static Z RToP(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return z;
    return {Abs(z), Atan2(z.re, z.im)};
  }
  // An infinite magnitude (or a NaN one) meets an exact zero cosine or sine
  // as a zero part, so that no infinity times zero makes a NaN.
  static Z PToR(Z p) {
    T r = p.re, c = Cos(p.im), s = Sin(p.im);
    if (!std::isfinite(r)) {
      if (rtnum::EQ0(c)) return {0, rtnum::GE0(s) ? r : -r};
      if (rtnum::EQ0(s)) return {rtnum::GE0(c) ? r : -r, 0};
    }
    return {N(r * c), N(r * s)};
  }

  static Z Conj(Z z) { return {z.re, -z.im}; }
  static Z Neg(Z z) { return {-z.re, -z.im}; }
  static Z Round(Z z) { return {N(RoundOf(z.re)), N(RoundOf(z.im))}; }
  static Z Ceil(Z z) { return {N(CeilOf(z.re)), N(CeilOf(z.im))}; }
  static Z Floor(Z z) { return {N(FloorOf(z.re)), N(FloorOf(z.im))}; }
  static Z Inc(Z z) { return {N(z.re + 1), z.im}; }
  static Z Dec(Z z) { return {N(z.re - 1), z.im}; }
  static Z Scale(Z z, int32 n) { return {N(ScaleOf(z.re, n)), N(ScaleOf(z.im, n))}; }

  // Through polar form, out of line where |z| leaves the range (see Abs).
  // The zero (and NaN) operand keeps the polar pair RToP gives it, z.
  static bool Plain(Z z, T& s) {
    s = N(z.re * z.re + z.im * z.im);
    return InRange(s) || !Finite(z);
  }
  static Z Sqrt(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return PToR({Sqrt(z.re), N(z.im / 2)});
    T s;
    if (Plain(z, s)) return PToR({Sqrt(Sqrt(s)), N(Atan2(z.re, z.im) / 2)});
    return SqrtScaled(z.re, z.im);
  }
  QX_NOINLINE static Z SqrtScaled(T re, T im) {
    Z z = {re, im};
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Sqrt(Wide(z)));
    return PToR({SqrtAbs(z), N(Atan2(z.re, z.im) / 2)});
  }
  static Z Logn(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return {Logn(z.re), z.im};
    T s;
    if (Plain(z, s)) return {Logn(Sqrt(s)), Atan2(z.re, z.im)};
    return LognScaled(z.re, z.im);
  }
  QX_NOINLINE static Z LognScaled(T re, T im) {
    Z z = {re, im};
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Logn(Wide(z)));
    return {LnAbs(z), Atan2(z.re, z.im)};
  }
  static Z Log10(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return {Log10(z.re), N(z.im / Ln10<T>())};
    T s;
    if (Plain(z, s)) return {Log10(Sqrt(s)), N(Atan2(z.re, z.im) / Ln10<T>())};
    return Log10Scaled(z.re, z.im);
  }
  QX_NOINLINE static Z Log10Scaled(T re, T im) {
    Z z = {re, im};
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Log10(Wide(z)));
    return {Log10Abs(z), N(Atan2(z.re, z.im) / Ln10<T>())};
  }
  static Z Log2(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return {Log2(z.re), N(z.im / Ln2<T>())};
    T s;
    if (Plain(z, s)) return {Log2(Sqrt(s)), N(Atan2(z.re, z.im) / Ln2<T>())};
    return Log2Scaled(z.re, z.im);
  }
  QX_NOINLINE static Z Log2Scaled(T re, T im) {
    Z z = {re, im};
    if constexpr (!kWidest) return FromWide(Cx<rtnum::Extended>::Log2(Wide(z)));
    return {Log2Abs(z), N(Atan2(z.re, z.im) / Ln2<T>())};
  }
  // Below |z| = 1/2 (1/16 for extended results, which are worked in their
  // own precision), ln|1 + z| is ln(1 + u) of u = 2a + a^2 + b^2 itself,
  // since 1 + a would round away the digits of a small z.
  static constexpr T kNear0 = kWidest ? T(0.0625) : T(0.5);
  static Z Lognp1(Z z) {
    Z f;
    if (Within(z, kNear0)) {
      floatExt a = z.re, b = z.im;
      Z m = {N(T(std::log1p(a * (2 + a) + b * b) / 2)), Atan2(N(z.re + 1), z.im)};
      if constexpr (!kWidest) return m;
      f = Logn(Z{N(z.re + 1), z.im});  // the same angle; the magnitude as Mended keeps it
      return Agree(f.re, m.re) ? f : m;
    }
    return Logn(Z{N(z.re + 1), z.im});
  }
  static Z Exp(Z z) { return PToR({Exp(z.re), z.im}); }
  // Below |z| = 1/2 (1/16 extended) the real part is expm1(a) cos b - 2 sin^2(b/2), which
  // does not take 1 from a number close to 1.
  static Z Expm1(Z z) {
    Z e;
    if (Within(z, kNear0)) {
      typedef floatExt L;
      L a = z.re, b = z.im, h = std::sin(b / 2);
      Z m = {N(T(std::expm1(a) * std::cos(b) - 2 * h * h)), N(Exp(z.re) * Sin(z.im))};
      if constexpr (!kWidest) return m;
      e = Exp(z);  // the same imaginary part; the real part as Mended keeps it
      return Agree(N(e.re - 1), m.re) ? Z{N(e.re - 1), e.im} : m;
    }
    e = Exp(z);
    return {N(e.re - 1), e.im};
  }
  static Z Pow10(Z z) { return PToR({Pow10(z.re), N(z.im * Ln10<T>())}); }
  static Z Pow2(Z z) { return PToR({Pow2(z.re), N(z.im * Ln2<T>())}); }
  static Z Logx(Z z, Z w) { return Div(Logn(w), Logn(z)); }
  static Z Powx(Z z, Z w) { return Exp(Mul(w, Logn(z))); }
  static Z Atan2(Z z, Z w) { return Atan(Div(w, z)); }
  static Z Sign(Z z) {
    Z p = RToP(z);
    if (!std::isnan(p.re) && p.re != 0) return PToR({1, p.im});
    return p;
  }

  // A product of a hyperbolic function that overflowed and an exact zero is
  // that zero, not NaN: the true product is 0.
  static T Prod(T x, T y) {
    T p = x * y;
    if (p != p && x == x && y == y) return (std::signbit(x) != std::signbit(y)) ? -T(0) : T(0);
    return p;
  }
  static Z Sin(Z z) { return {N(Prod(Sin(z.re), Cosh(z.im))), N(Prod(Cos(z.re), Sinh(z.im)))}; }
  static Z Cos(Z z) { return {N(Prod(Cos(z.re), Cosh(z.im))), N(-Prod(Sin(z.re), Sinh(z.im)))}; }
  // Where cosh 2b overflows, sinh 2b / cosh 2b is +-1 and the other part
  // 2 sin 2a e^-|2b|, instead of infinity over infinity.
  static Z Tan(Z z) {
    T a2 = N(2 * z.re), b2 = N(2 * z.im);
    T den = N(Cos(a2) + Cosh(b2));
    if (std::isinf(den) && std::isfinite(a2) && std::isfinite(b2)) {
      return {N(2 * Sin(a2) * std::exp(-std::fabs(b2))), std::copysign(T(1), b2)};
    }
    return {N(Sin(a2) / den), N(Sinh(b2) / den)};
  }
  static Z Sec(Z z) { return Recip(Cos(z)); }
  static Z Csc(Z z) { return Recip(Sin(z)); }
  static Z Cot(Z z) { return Recip(Tan(z)); }
  static Z Sinh(Z z) { return {N(Prod(Sinh(z.re), Cos(z.im))), N(Prod(Cosh(z.re), Sin(z.im)))}; }
  static Z Cosh(Z z) { return {N(Prod(Cosh(z.re), Cos(z.im))), N(Prod(Sinh(z.re), Sin(z.im)))}; }
  static Z Tanh(Z z) {
    T a2 = N(2 * z.re), b2 = N(2 * z.im);
    T den = N(Cosh(a2) + Cos(b2));
    if (std::isinf(den) && std::isfinite(a2) && std::isfinite(b2)) {
      return {std::copysign(T(1), a2), N(2 * Sin(b2) * std::exp(-std::fabs(a2)))};
    }
    return {N(Sinh(a2) / den), N(Sin(b2) / den)};
  }

  // ------------------------------------------------ inverse functions
  //
  // Asin, Acos and Acosh take the logarithm of w = p + q, where the other
  // root v = p - q has w v = 1.  Their formulas stand except in three places:
  //   - where p and q cancel (w much smaller than v), ln w = -ln v, and v
  //     holds the digits that w lost;
  //   - where z^2 would overflow, z is scaled to z 2^-k, the 1 becomes 2^-2k,
  //     and k ln 2 is added to ln |w|;
  //   - below |z| = 1/8, where ln w is ln of a number close to 1, by their
  //     Taylor series.
  // Atan and Atanh take their series below |z| = 1/8 and, above |z| = 8,
  // the series of 1/z with the limit +-pi/2 that the formula takes there.
  // The single and double members work these mended forms in extended
  // precision and round once, so that they hold their last digit.
  // Extended results, which have no wider precision to be worked in, take
  // the mended forms only where the formula has lost several digits: w
  // below v / 64, |z| below 1/32 or above 32.
  static constexpr T kSmall = kWidest ? T(0.03125) : T(0.125);
  static constexpr T kLarge = kWidest ? T(32) : T(8);
  static constexpr T kCancel = kWidest ? T(64) : T(4);

  static T HalfPi() { return T(1.570796326794896619231321691639751442L); }

  typedef CR<T> R;
  static WZ Wide(Z z) { return {floatExt(z.re), floatExt(z.im)}; }
  static Z FromWide(WZ z) { return {N(T(z.re)), N(T(z.im))}; }
  // The formula's result where it stands, else the mended form's, worked
  // wide for the single and double members.  An extended member, worked in
  // its own precision, keeps the formula's result where the two agree
  // within a few units of the last place: the mended form is then no
  // closer than the formula can be shown to be.
  // (Acosh's logarithm is either root's: the branch rule picks the sign
  // later, so there the formula's result agrees up to its sign.)
  template <R (*F)(Z, Mode), CR<floatExt> (*FW)(WZ, Mode), bool kUpToSign = false>
  static Z Mended(Z z) {
    R r = F(z, kDecide);
    if (r.plain) return r.z;
    if constexpr (!kWidest) {
      return FromWide(FW(Wide(z), kMend).z);
    } else {
      Z m = F(z, kMend).z, f = F(z, kFormula).z;
      if (Agree(f.re, m.re) && Agree(f.im, m.im)) return f;
      if (kUpToSign && Agree(-f.re, m.re) && Agree(-f.im, m.im)) return f;
      return m;
    }
  }
  // f within four units of the last place of m (extended).
  static bool Agree(T f, T m) { return AgreeInLastPlaces(f, m); }
  // The principal square root in rectangular form, for the mended forms:
  // its small part keeps its digits (and its sign) where the polar form's
  // cos(theta/2) near pi/2 would not.  A zero imaginary part signs the
  // imaginary root as the polar form's angle of +-pi does.
  static Z SqrtRect(Z z) {
    if (!Finite(z) || Zero(z)) return Sqrt(z);
    Mag m = Magnitude(z);
    T r = m.k ? std::ldexp(m.r, m.k) : m.r;
    T t = std::sqrt((std::fabs(z.re) + r) / 2);
    if (z.re >= 0) return {t, z.im / (2 * t)};
    return {std::fabs(z.im) / (2 * t), std::copysign(t, z.im)};
  }

  // z * sum c[k] (s z^2)^k with s = -1 when alternate, unrounded.
  static Z Series(Z z, const long double* c, bool alternate) {
    T zr = z.re * z.re - z.im * z.im, zi = 2 * z.re * z.im;
    if (alternate) zr = -zr, zi = -zi;
    T pr = T(c[kSeriesTerms - 1]), pi = 0;
    for (int k = kSeriesTerms - 2; k >= 0; --k) {
      T nr = pr * zr - pi * zi + T(c[k]);
      pi = pr * zi + pi * zr;
      pr = nr;
    }
    return {z.re * pr - z.im * pi, z.re * pi + z.im * pr};
  }
  // 1/z without rounding to the operand's precision, for |z| > 8.
  static Z RecipOfLarge(Z z) {
    int k = ExponentOf(z);
    Z u = Scaled(z, k);
    T d = u.re * u.re + u.im * u.im;
    return {std::ldexp(u.re / d, -k), std::ldexp(-u.im / d, -k)};
  }
  // The exponent that brings a z too large to be squared down to [1, 2);
  // 0 for every other z.
  static int BigExp(Z z) {
    if (!Finite(z) || Within(z, P::kBig)) return 0;
    return ExponentOf(z);
  }
  // ln(w 2^k) from w and v = 1/w, both scaled by 2^-k; plain when it is ln w
  // of the formula.
  static R LnRoot(Z w, Z v, int k, Mode mode) {
    T nw = std::fmax(std::fabs(w.re), std::fabs(w.im)), nv = std::fmax(std::fabs(v.re), std::fabs(v.im));
    bool cancels = mode != kFormula && nw < nv / kCancel;
    if (cancels && mode == kDecide) return {w, false};
    if (!cancels) {
      Z L = Logn(w);
      if (k) L.re = N(L.re + KLn2(k));
      return {L, k == 0};
    }
    Z L = Logn(v);
    if (k) L.re = N(L.re + KLn2(k));
    Z r = {T(0) - L.re, T(0) - L.im};
    // On the negative real axis the angle of ln w is pi with the sign of the
    // zero imaginary part of w, as the formula would have it.
    if (v.im == 0 && v.re < 0) r.im = std::signbit(w.im) ? -Pi<T>() : Pi<T>();
    return {r, false};
  }
  static Z Rounded(Z z) { return {N(z.re), N(z.im)}; }

  // asin z = -i ln(iz + s), s = sqrt(1 - z^2); the other root is s - iz.
  static R AsinOf(Z z, Mode mode) {
    if (mode != kFormula && Within(z, kSmall)) {
      if (mode == kDecide) return {z, false};
      return {Rounded(Series(z, kAsinSeries, false)), false};
    }
    int k = mode == kFormula ? 0 : BigExp(z);
    if (k && mode == kDecide) return {z, false};
    Z u = k ? Scaled(z, k) : z;
    T one = k ? N(std::ldexp(T(1), -2 * k)) : T(1);
    Z d = Sub({one, 0}, Mul(u, u));
    Z s = mode == kMend ? SqrtRect(d) : Sqrt(d);
    Z iu = {-u.im, u.re};
    R L = LnRoot(Add(iu, s), Sub(s, iu), k, mode);
    return {{L.z.im, -L.z.re}, L.plain};
  }
  static Z Asin(Z z) { return Mended<&AsinOf, &Cx<rtnum::Extended>::AsinOf>(z); }
  // acos z = -i ln(z + is); the other root is z - is.  Near 0, pi/2 - asin z.
  static R AcosOf(Z z, Mode mode) {
    if (mode != kFormula && Within(z, kSmall)) {
      if (mode == kDecide) return {z, false};
      Z a = Series(z, kAsinSeries, false);
      return {{N(HalfPi() - a.re), N(-a.im)}, false};
    }
    int k = mode == kFormula ? 0 : BigExp(z);
    if (k && mode == kDecide) return {z, false};
    Z u = k ? Scaled(z, k) : z;
    T one = k ? N(std::ldexp(T(1), -2 * k)) : T(1);
    Z d = Sub({one, 0}, Mul(u, u));
    Z s = mode == kMend ? SqrtRect(d) : Sqrt(d);
    Z is = {-s.im, s.re};
    R L = LnRoot(Add(u, is), Sub(u, is), k, mode);
    return {{L.z.im, -L.z.re}, L.plain};
  }
  static Z Acos(Z z) { return Mended<&AcosOf, &Cx<rtnum::Extended>::AcosOf>(z); }
  static R AtanOf(Z z, Mode mode) {
    T a = rtnum::EQ0(z.re) ? T(0) : z.re;
    Z y = {a, z.im};
    bool small = mode != kFormula && Within(y, kSmall);
    bool large = mode != kFormula && !small && Finite(y) && !Within(y, kLarge);
    if ((small || large) && mode == kDecide) return {z, false};
    if (small) return {Rounded(Series(y, kAtanSeries, true)), false};
    if (large) {
      // atan z = +-pi/2 - atan(1/z), with the sign of a; on the imaginary
      // axis, with the sign of b, as the formula gives there.
      Z t = Series(RecipOfLarge(y), kAtanSeries, true);
      bool down = a != 0 ? std::signbit(a) : std::signbit(y.im);
      return {{N((down ? -HalfPi() : HalfPi()) - t.re), N(T(0) - t.im)}, false};
    }
    Z A = Logn(Add({1, 0}, {-z.im, a}));
    Z B = Logn(Sub({1, 0}, {-z.im, a}));
    return {{N((A.im - B.im) / 2), N((B.re - A.re) / 2)}, true};
  }
  static Z Atan(Z z) { return Mended<&AtanOf, &Cx<rtnum::Extended>::AtanOf>(z); }
  static Z Asinh(Z z) {
    Z q = Asin({z.im, -z.re});
    return {-q.im, q.re};
  }
  // acosh z = ln(z + s), s = sqrt(z^2 - 1); the other root is z - s.  Near
  // 0, i acos z, which is +-ln(z + s) too; the branch rule then picks the
  // value as it does for the formula's.
  static R AcoshLog(Z z, Mode mode) {
    if (mode != kFormula && Within(z, kSmall)) {
      if (mode == kDecide) return {z, false};
      Z a = Series(z, kAsinSeries, false);
      return {{N(a.im), N(HalfPi() - a.re)}, false};
    }
    int k = mode == kFormula ? 0 : BigExp(z);
    if (k && mode == kDecide) return {z, false};
    Z u = k ? Scaled(z, k) : z;
    T one = k ? N(std::ldexp(T(1), -2 * k)) : T(1);
    Z d = {N(u.re * u.re - u.im * u.im - one), N(2 * u.re * u.im)};
    Z s = mode == kMend ? SqrtRect(d) : Sqrt(d);
    return LnRoot(Add(u, s), Sub(u, s), k, mode);
  }
  static Z Acosh(Z z) {
    Z L = Mended<&AcoshLog, &Cx<rtnum::Extended>::AcoshLog, true>(z);
    if (rtnum::LT0(L.re)) L = {-L.re, -L.im};
    if (rtnum::LE(L.im, -Pi<T>())) {
      L.im = -L.im;
    } else if (rtnum::LT(L.re, T(2e-16)) && rtnum::LT0(L.im)) {
      L.im = -L.im;
    }
    return L;
  }
  // atanh z = (ln(1 + z) - ln(1 - z)) / 2.  Above |z| = 8, atanh(1/z) plus
  // i pi/2 with the sign of b; on the real axis, with the opposite sign of
  // a, as the formula gives there.
  static R AtanhOf(Z z, Mode mode) {
    bool small = mode != kFormula && Within(z, kSmall);
    bool large = mode != kFormula && !small && Finite(z) && !Within(z, kLarge);
    if ((small || large) && mode == kDecide) return {z, false};
    if (small) {
      Z t = Series(z, kAtanSeries, false);
      return {{N(T(0) + t.re), N(t.im)}, false};
    }
    if (large) {
      Z t = Series(RecipOfLarge(z), kAtanSeries, false);
      bool up = z.im != 0 ? !std::signbit(z.im) : std::signbit(z.re);
      return {{N(T(0) + t.re), N(t.im + (up ? HalfPi() : -HalfPi()))}, false};
    }
    Z d = Sub(Logn(Add({1, 0}, z)), Logn(Sub({1, 0}, z)));
    return {{N(d.re / 2), N(d.im / 2)}, true};
  }
  static Z Atanh(Z z) { return Mended<&AtanhOf, &Cx<rtnum::Extended>::AtanhOf>(z); }
  static Z Sinc(Z z) {
    if (rtnum::EQ0(z.re) && rtnum::EQ0(z.im)) return {1, 0};
    return Div(Sin(z), z);
  }
};

// The members' bodies: operands loaded, the work, results stored.
template <class P, typename Cx<P>::Z (*F)(typename Cx<P>::Z)>
void CUnary(const typename Cx<P>::CM* z, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, F(Cx<P>::Load(z)));
}
template <class P, typename Cx<P>::Z (*F)(typename Cx<P>::Z, typename Cx<P>::Z)>
void CBinary(const typename Cx<P>::CM* z, const typename Cx<P>::CM* w, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, F(Cx<P>::Load(z), Cx<P>::Load(w)));
}

// The parts of a complex number in memory, as bytes.
template <class M>
M PartCopy(const M* p) {
  M v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

#define QX_RT_C_UNARY_SD(Op)                                                                                        \
  void RTc##Op##S(const ComplexS* z, ComplexS* result) { CUnary<Single, &Cx<Single>::Op>(z, result); }             \
  void RTc##Op##D(const ComplexD* z, ComplexD* result) { CUnary<Double, &Cx<Double>::Op>(z, result); }
#define QX_RT_C_UNARY(Op) \
  QX_RT_C_UNARY_SD(Op)    \
  void RTc##Op##X(const ComplexX* z, ComplexX* result) { CUnary<Extended, &Cx<Extended>::Op>(z, result); }
QX_RT_C_UNARY_SD(Conj)
QX_RT_C_UNARY(Round)
QX_RT_C_UNARY_SD(Neg)
QX_RT_C_UNARY(Sqrt)
QX_RT_C_UNARY(Logn)
QX_RT_C_UNARY(Log10)
QX_RT_C_UNARY(Log2)
QX_RT_C_UNARY(Lognp1)
QX_RT_C_UNARY(Exp)
QX_RT_C_UNARY(Expm1)
QX_RT_C_UNARY(Pow10)
QX_RT_C_UNARY(Pow2)
QX_RT_C_UNARY(Ceil)
QX_RT_C_UNARY(Floor)
QX_RT_C_UNARY(Inc)
QX_RT_C_UNARY(Dec)
QX_RT_C_UNARY(Sign)
QX_RT_C_UNARY(Sin)
QX_RT_C_UNARY(Cos)
QX_RT_C_UNARY(Tan)
QX_RT_C_UNARY(Sec)
QX_RT_C_UNARY(Csc)
QX_RT_C_UNARY(Cot)
QX_RT_C_UNARY(Asin)
QX_RT_C_UNARY(Acos)
QX_RT_C_UNARY(Atan)
QX_RT_C_UNARY(Sinh)
QX_RT_C_UNARY(Cosh)
QX_RT_C_UNARY(Tanh)
QX_RT_C_UNARY(Asinh)
QX_RT_C_UNARY(Acosh)
QX_RT_C_UNARY(Atanh)
QX_RT_C_UNARY_SD(Sinc)
QX_RT_C_UNARY(RToP)
QX_RT_C_UNARY(PToR)
#undef QX_RT_C_UNARY
#undef QX_RT_C_UNARY_SD

// The sign bits of an extended complex number, flipped as RTfNegX flips them.
void RTcConjX(const ComplexX* z, ComplexX* result) {
  ComplexX v = PartCopy(z);
  result->re = v.re;
  RTfNegX(&v.im, &result->im);
}
void RTcNegX(const ComplexX* z, ComplexX* result) {
  ComplexX v = PartCopy(z);
  RTfNegX(&v.re, &result->re);
  RTfNegX(&v.im, &result->im);
}
// Zero when both sign-and-exponent words are 0, as RTfEQ0X tests it.
void RTcSincX(const ComplexX* z, ComplexX* result) {
  if (RTfEQ0X(&z->re) && RTfEQ0X(&z->im)) {
    Cx<Extended>::Store(result, {1, 0});
    return;
  }
  CUnary<Extended, &Cx<Extended>::Sinc>(z, result);
}

namespace {

// Recip, Div and Abs, the most often called: the plain formula in the
// member, the scaled one out of line and reached by a tail call, so that the
// member stays a leaf.
template <class P>
QX_NOINLINE void CRecipScaled(const typename Cx<P>::CM* z, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, Cx<P>::Recip(Cx<P>::Load(z)));
}
template <class P>
void CRecip(const typename Cx<P>::CM* zp, typename Cx<P>::CM* result) {
  typename Cx<P>::Z r;
  if (!Cx<P>::RecipPlain(Cx<P>::Load(zp), r)) return CRecipScaled<P>(zp, result);
  Cx<P>::Store(result, r);
}
template <class P>
QX_NOINLINE void CDivScaled(const typename Cx<P>::CM* z, const typename Cx<P>::CM* w, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, Cx<P>::Div(Cx<P>::Load(z), Cx<P>::Load(w)));
}
template <class P>
void CDiv(const typename Cx<P>::CM* zp, const typename Cx<P>::CM* wp, typename Cx<P>::CM* result) {
  typename Cx<P>::Z r;
  if (!Cx<P>::DivPlain(Cx<P>::Load(zp), Cx<P>::Load(wp), r)) return CDivScaled<P>(zp, wp, result);
  Cx<P>::Store(result, r);
}
template <class P>
QX_NOINLINE void CAbsScaled(const typename Cx<P>::CM* z, typename P::Mem* result) {
  P::Store(result, Cx<P>::Abs(Cx<P>::Load(z)));
}
template <class P>
void CAbs(const typename Cx<P>::CM* zp, typename P::Mem* result) {
  typename P::Calc r;
  if (!Cx<P>::AbsPlain(Cx<P>::Load(zp), r)) return CAbsScaled<P>(zp, result);
  P::Store(result, r);
}

}  // namespace

void RTcRecipS(const ComplexS* z, ComplexS* result) { CRecip<Single>(z, result); }
void RTcRecipD(const ComplexD* z, ComplexD* result) { CRecip<Double>(z, result); }
void RTcRecipX(const ComplexX* z, ComplexX* result) { CRecip<Extended>(z, result); }
void RTcDivS(const ComplexS* z, const ComplexS* w, ComplexS* result) { CDiv<Single>(z, w, result); }
void RTcDivD(const ComplexD* z, const ComplexD* w, ComplexD* result) { CDiv<Double>(z, w, result); }
void RTcDivX(const ComplexX* z, const ComplexX* w, ComplexX* result) { CDiv<Extended>(z, w, result); }
void RTcAbsS(const ComplexS* z, float32* result) { CAbs<Single>(z, result); }
void RTcAbsD(const ComplexD* z, float64* result) { CAbs<Double>(z, result); }
void RTcAbsX(const ComplexX* z, ExtFloat* result) { CAbs<Extended>(z, result); }

#define QX_RT_C_BINARY(Op)                                                                                    \
  void RTc##Op##S(const ComplexS* z, const ComplexS* w, ComplexS* result) {                                   \
    CBinary<Single, &Cx<Single>::Op>(z, w, result);                                                           \
  }                                                                                                           \
  void RTc##Op##D(const ComplexD* z, const ComplexD* w, ComplexD* result) {                                   \
    CBinary<Double, &Cx<Double>::Op>(z, w, result);                                                           \
  }                                                                                                           \
  void RTc##Op##X(const ComplexX* z, const ComplexX* w, ComplexX* result) {                                   \
    CBinary<Extended, &Cx<Extended>::Op>(z, w, result);                                                       \
  }
QX_RT_C_BINARY(Mul)
QX_RT_C_BINARY(Add)
QX_RT_C_BINARY(Sub)
QX_RT_C_BINARY(Logx)
QX_RT_C_BINARY(Powx)
QX_RT_C_BINARY(Atan2)
#undef QX_RT_C_BINARY

namespace {

template <class P>
void CSinCos(const typename Cx<P>::CM* zp, typename Cx<P>::CM* sine, typename Cx<P>::CM* cosine) {
  typename Cx<P>::Z z = Cx<P>::Load(zp);
  typename Cx<P>::Z s = Cx<P>::Sin(z), c = Cx<P>::Cos(z);
  Cx<P>::StoreOptional(sine, s);
  Cx<P>::StoreOptional(cosine, c);
}
template <class P>
void CScale(const typename Cx<P>::CM* z, const int32* n, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, Cx<P>::Scale(Cx<P>::Load(z), *n));
}

// Tests on S and D by the comparison rule.
template <class P>
bool CEQ0(const typename Cx<P>::CM* z) {
  return rtnum::EQ0(P::Load(&z->re)) && rtnum::EQ0(P::Load(&z->im));
}
template <class P>
bool CEQ(const typename Cx<P>::CM* z, const typename Cx<P>::CM* w) {
  return rtnum::EQ(P::Load(&z->re), P::Load(&w->re)) && rtnum::EQ(P::Load(&z->im), P::Load(&w->im));
}
template <class P>
bool CIsNan(const typename Cx<P>::CM* z) {
  return rtnum::IsNaNOperand<P>(&z->re) || rtnum::IsNaNOperand<P>(&z->im);
}

// The parts copied in and out as bytes; both inputs read before a write.
template <class M, class CM>
void CFromParts(const M* re, const M* im, CM* result) {
  M r = PartCopy(re), i = PartCopy(im);
  std::memcpy(&result->re, &r, sizeof r);
  std::memcpy(&result->im, &i, sizeof i);
}
template <class M, class CM>
void CToParts(const CM* z, M* re, M* im) {
  CM v = PartCopy(z);
  if (re) std::memcpy(re, &v.re, sizeof v.re);
  if (im) std::memcpy(im, &v.im, sizeof v.im);
}
template <class P>
void CFromPolar(const typename P::Mem* r, const typename P::Mem* theta, typename Cx<P>::CM* result) {
  Cx<P>::Store(result, Cx<P>::PToR({P::Load(r), P::Load(theta)}));
}
template <class P>
void CToPolar(const typename Cx<P>::CM* z, typename P::Mem* r, typename P::Mem* theta) {
  typename Cx<P>::Z p = Cx<P>::RToP(Cx<P>::Load(z));
  rtnum::StoreOptional<P>(r, p.re);
  rtnum::StoreOptional<P>(theta, p.im);
}

}  // namespace

void RTcSinCosS(const ComplexS* z, ComplexS* sine, ComplexS* cosine) { CSinCos<Single>(z, sine, cosine); }
void RTcSinCosD(const ComplexD* z, ComplexD* sine, ComplexD* cosine) { CSinCos<Double>(z, sine, cosine); }
void RTcSinCosX(const ComplexX* z, ComplexX* sine, ComplexX* cosine) { CSinCos<Extended>(z, sine, cosine); }
void RTciScaleS(const ComplexS* z, const int32* n, ComplexS* result) { CScale<Single>(z, n, result); }
void RTciScaleD(const ComplexD* z, const int32* n, ComplexD* result) { CScale<Double>(z, n, result); }
void RTciScaleX(const ComplexX* z, const int32* n, ComplexX* result) { CScale<Extended>(z, n, result); }

Bool32 RTcIsNanS(const ComplexS* z) { return CIsNan<Single>(z); }
Bool32 RTcIsNanD(const ComplexD* z) { return CIsNan<Double>(z); }
Bool32 RTcIsNanX(const ComplexX* z) { return RTfIsNanX(&z->re) || RTfIsNanX(&z->im); }
Bool32 RTcEQ0S(const ComplexS* z) { return CEQ0<Single>(z); }
Bool32 RTcEQ0D(const ComplexD* z) { return CEQ0<Double>(z); }
Bool32 RTcEQ0X(const ComplexX* z) { return RTfEQ0X(&z->re) && RTfEQ0X(&z->im); }
Bool32 RTcNE0S(const ComplexS* z) { return !CEQ0<Single>(z); }
Bool32 RTcNE0D(const ComplexD* z) { return !CEQ0<Double>(z); }
Bool32 RTcNE0X(const ComplexX* z) { return !RTcEQ0X(z); }
Bool32 RTcEQS(const ComplexS* z, const ComplexS* w) { return CEQ<Single>(z, w); }
Bool32 RTcEQD(const ComplexD* z, const ComplexD* w) { return CEQ<Double>(z, w); }
Bool32 RTcEQX(const ComplexX* z, const ComplexX* w) { return RTfEQX(&z->re, &w->re) && RTfEQX(&z->im, &w->im); }
Bool32 RTcNES(const ComplexS* z, const ComplexS* w) { return !CEQ<Single>(z, w); }
Bool32 RTcNED(const ComplexD* z, const ComplexD* w) { return !CEQ<Double>(z, w); }
Bool32 RTcNEX(const ComplexX* z, const ComplexX* w) { return !RTcEQX(z, w); }

void RTfcReImToCS(const float32* re, const float32* im, ComplexS* result) { CFromParts(re, im, result); }
void RTfcReImToCD(const float64* re, const float64* im, ComplexD* result) { CFromParts(re, im, result); }
void RTfcReImToCX(const ExtFloat* re, const ExtFloat* im, ComplexX* result) { CFromParts(re, im, result); }
void RTfcRThToCS(const float32* r, const float32* theta, ComplexS* result) { CFromPolar<Single>(r, theta, result); }
void RTfcRThToCD(const float64* r, const float64* theta, ComplexD* result) { CFromPolar<Double>(r, theta, result); }
void RTfcRThToCX(const ExtFloat* r, const ExtFloat* theta, ComplexX* result) {
  CFromPolar<Extended>(r, theta, result);
}
void RTcfCToReImS(const ComplexS* z, float32* re, float32* im) { CToParts(z, re, im); }
void RTcfCToReImD(const ComplexD* z, float64* re, float64* im) { CToParts(z, re, im); }
void RTcfCToReImX(const ComplexX* z, ExtFloat* re, ExtFloat* im) { CToParts(z, re, im); }
void RTcfCToRThS(const ComplexS* z, float32* r, float32* theta) { CToPolar<Single>(z, r, theta); }
void RTcfCToRThD(const ComplexD* z, float64* r, float64* theta) { CToPolar<Double>(z, r, theta); }
void RTcfCToRThX(const ComplexX* z, ExtFloat* r, ExtFloat* theta) { CToPolar<Extended>(z, r, theta); }
