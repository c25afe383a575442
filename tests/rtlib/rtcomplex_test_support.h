// Helpers of the complex member tests: complex numbers in each operand form
// and the members of each shape in their three precisions.
#pragma once
#include <complex>

#include "rtlib/rtcomplex.h"
#include "rtmath_test_support.h"

namespace rttest {

typedef std::complex<long double> CL;

template <class M>
struct CForm;
template <>
struct CForm<float32> {
  typedef ComplexS Type;
};
template <>
struct CForm<float64> {
  typedef ComplexD Type;
};
template <>
struct CForm<ExtFloat> {
  typedef ComplexX Type;
};

template <class M>
typename CForm<M>::Type CMem(CL z) {
  return {Mem<M>(z.real()), Mem<M>(z.imag())};
}
template <class CM>
CL CNum(const CM& z) {
  return {Num(z.re), Num(z.im)};
}

template <class M>
struct CUnaryFn {
  typedef void (*Fn)(const typename CForm<M>::Type*, typename CForm<M>::Type*);
};
template <class M>
struct CBinaryFn {
  typedef void (*Fn)(const typename CForm<M>::Type*, const typename CForm<M>::Type*, typename CForm<M>::Type*);
};

#define QX_CMEMBER(Op) {#Op, &RTc##Op##S, &RTc##Op##D, &RTc##Op##X}
inline const std::vector<Member<CUnaryFn>>& CUnaryMembers() {
  static const std::vector<Member<CUnaryFn>> m = {
      QX_CMEMBER(Recip), QX_CMEMBER(Conj),  QX_CMEMBER(Round),  QX_CMEMBER(Neg),   QX_CMEMBER(Sqrt),
      QX_CMEMBER(Logn),  QX_CMEMBER(Log10), QX_CMEMBER(Log2),   QX_CMEMBER(Lognp1), QX_CMEMBER(Exp),
      QX_CMEMBER(Expm1), QX_CMEMBER(Pow10), QX_CMEMBER(Pow2),   QX_CMEMBER(Ceil),  QX_CMEMBER(Floor),
      QX_CMEMBER(Inc),   QX_CMEMBER(Dec),   QX_CMEMBER(Sign),   QX_CMEMBER(Sin),   QX_CMEMBER(Cos),
      QX_CMEMBER(Tan),   QX_CMEMBER(Sec),   QX_CMEMBER(Csc),    QX_CMEMBER(Cot),   QX_CMEMBER(Asin),
      QX_CMEMBER(Acos),  QX_CMEMBER(Atan),  QX_CMEMBER(Sinh),   QX_CMEMBER(Cosh),  QX_CMEMBER(Tanh),
      QX_CMEMBER(Asinh), QX_CMEMBER(Acosh), QX_CMEMBER(Atanh),  QX_CMEMBER(Sinc),  QX_CMEMBER(RToP),
      QX_CMEMBER(PToR)};
  return m;
}
inline const std::vector<Member<CBinaryFn>>& CBinaryMembers() {
  static const std::vector<Member<CBinaryFn>> m = {QX_CMEMBER(Mul),  QX_CMEMBER(Div),  QX_CMEMBER(Add),
                                                   QX_CMEMBER(Sub),  QX_CMEMBER(Logx), QX_CMEMBER(Powx),
                                                   QX_CMEMBER(Atan2)};
  return m;
}
#undef QX_CMEMBER

template <class M>
CL CallC(const std::string& op, CL z) {
  typename CForm<M>::Type in = CMem<M>(z), out = CMem<M>(CL(-12345, -12345));
  Pick<M>(Find(CUnaryMembers(), op))(&in, &out);
  return CNum(out);
}
template <class M>
CL CallC2(const std::string& op, CL z, CL w) {
  typename CForm<M>::Type a = CMem<M>(z), b = CMem<M>(w), out = CMem<M>(CL(-12345, -12345));
  Pick<M>(Find(CBinaryMembers(), op))(&a, &b, &out);
  return CNum(out);
}

inline bool SameC(CL a, CL b) { return Same(a.real(), b.real()) && Same(a.imag(), b.imag()); }

}  // namespace rttest
