// The binary real functions and the complex functions.
#include <cmath>
#include <cstring>

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

// The complex operations of one precision.  Every value a step keeps is
// rounded to the precision (N), as a local of the operand type would be, and
// every real function is the real member's: its operand and its result are
// in the precision.
template <class P>
struct Cx {
  typedef typename P::Calc T;
  typedef typename P::Mem M;
  typedef typename ComplexMem<M>::Type CM;
  struct Z {
    T re, im;
  };

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
  static Z Div(Z z, Z w) {
    T den = N(w.re * w.re + w.im * w.im);
    return {N((z.re * w.re + z.im * w.im) / den), N((z.im * w.re - z.re * w.im) / den)};
  }
  static Z Recip(Z z) {
    T den = N(z.re * z.re + z.im * z.im);
    return {N(z.re / den), N(-z.im / den)};
  }
  static T Abs(Z z) { return Sqrt(z.re * z.re + z.im * z.im); }

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

  static Z Sqrt(Z z) {
    Z p = RToP(z);
    return PToR({Sqrt(p.re), N(p.im / 2)});
  }
  static Z Logn(Z z) {
    Z p = RToP(z);
    return {Logn(p.re), p.im};
  }
  static Z Log10(Z z) {
    Z p = RToP(z);
    return {Log10(p.re), N(p.im / Ln10<T>())};
  }
  static Z Log2(Z z) {
    Z p = RToP(z);
    return {Log2(p.re), N(p.im / Ln2<T>())};
  }
  static Z Lognp1(Z z) { return Logn(Z{N(z.re + 1), z.im}); }
  static Z Exp(Z z) { return PToR({Exp(z.re), z.im}); }
  static Z Expm1(Z z) {
    Z e = Exp(z);
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

  static Z Sin(Z z) { return {N(Sin(z.re) * Cosh(z.im)), N(Cos(z.re) * Sinh(z.im))}; }
  static Z Cos(Z z) { return {N(Cos(z.re) * Cosh(z.im)), N(-(Sin(z.re) * Sinh(z.im)))}; }
  static Z Tan(Z z) {
    T a2 = N(2 * z.re), b2 = N(2 * z.im);
    T den = N(Cos(a2) + Cosh(b2));
    return {N(Sin(a2) / den), N(Sinh(b2) / den)};
  }
  static Z Sec(Z z) { return Recip(Cos(z)); }
  static Z Csc(Z z) { return Recip(Sin(z)); }
  static Z Cot(Z z) { return Recip(Tan(z)); }
  static Z Sinh(Z z) { return {N(Sinh(z.re) * Cos(z.im)), N(Cosh(z.re) * Sin(z.im))}; }
  static Z Cosh(Z z) { return {N(Cosh(z.re) * Cos(z.im)), N(Sinh(z.re) * Sin(z.im))}; }
  static Z Tanh(Z z) {
    T a2 = N(2 * z.re), b2 = N(2 * z.im);
    T den = N(Cosh(a2) + Cos(b2));
    return {N(Sinh(a2) / den), N(Sin(b2) / den)};
  }

  // sqrt(1 - z^2)
  static Z CoRoot(Z z) { return Sqrt(Sub({1, 0}, Mul(z, z))); }
  static Z Asin(Z z) {
    Z L = Logn(Add({-z.im, z.re}, CoRoot(z)));
    return {L.im, -L.re};
  }
  static Z Acos(Z z) {
    Z s = CoRoot(z);
    Z L = Logn(Add(z, {-s.im, s.re}));
    return {L.im, -L.re};
  }
  static Z Atan(Z z) {
    T a = rtnum::EQ0(z.re) ? T(0) : z.re;
    Z A = Logn(Add({1, 0}, {-z.im, a}));
    Z B = Logn(Sub({1, 0}, {-z.im, a}));
    return {N((A.im - B.im) / 2), N((B.re - A.re) / 2)};
  }
  static Z Asinh(Z z) {
    Z q = Asin({z.im, -z.re});
    return {-q.im, q.re};
  }
  static Z Acosh(Z z) {
    Z s = Sqrt(Z{N(z.re * z.re - z.im * z.im - 1), N(2 * z.re * z.im)});
    Z L = Logn(Add(z, s));
    if (rtnum::LT0(L.re)) L = {-L.re, -L.im};
    if (rtnum::LE(L.im, -Pi<T>())) {
      L.im = -L.im;
    } else if (rtnum::LT(L.re, T(2e-16)) && rtnum::LT0(L.im)) {
      L.im = -L.im;
    }
    return L;
  }
  static Z Atanh(Z z) {
    Z d = Sub(Logn(Add({1, 0}, z)), Logn(Sub({1, 0}, z)));
    return {N(d.re / 2), N(d.im / 2)};
  }
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
QX_RT_C_UNARY(Recip)
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

void RTcAbsS(const ComplexS* z, float32* result) { Single::Store(result, Cx<Single>::Abs(Cx<Single>::Load(z))); }
void RTcAbsD(const ComplexD* z, float64* result) { Double::Store(result, Cx<Double>::Abs(Cx<Double>::Load(z))); }
void RTcAbsX(const ComplexX* z, ExtFloat* result) {
  Extended::Store(result, Cx<Extended>::Abs(Cx<Extended>::Load(z)));
}

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
QX_RT_C_BINARY(Div)
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
