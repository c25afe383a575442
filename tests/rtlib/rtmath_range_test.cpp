// Edge operands of the real and complex members: magnitudes whose squares
// leave the range, logarithms, roots and reciprocals of them, the small,
// large and cancelling operands of the inverse functions, overflowing
// hyperbolic parts, and scaling by powers of two past the range.  Each
// result is held against a reference computed from the same operand in
// 113-bit quad precision with GCC's libquadmath (cabsq, csqrtq, clogq,
// clog10q, casinq, cacosq, casinhq, cacoshq, catanq, catanhq, ctanq,
// ctanhq, asinhq, acoshq, atanhq, log1pq, expm1q, scalbnq and complex
// division), printed to 22 digits.  The operands are written in hexadecimal
// so that every precision a case names receives them exactly; where the
// members' branch rules differ from the principal values on an axis (Atanh
// of a real beyond 1), the reference follows the members' rule.
#include <cmath>
#include <initializer_list>
#include <string>

#include "rtcomplex_test_support.h"

using namespace rttest;

namespace {

// An operation, the precisions it is checked in (S, D, X; n: parts measured
// against the larger part, for the polar Sign), the operands z = a + bi and
// w = c + di (for iScale, b is n), and the reference result.
struct EdgeCase {
  const char* op;
  const char* precisions;
  floatExt a, b, c, d, re, im;
};
const EdgeCase kEdgeCases[] = {
    {"Abs", "DX", 0x1.4e718d7d7625ap+664L, 0.0L, 0.0L, 0.0L, 9.999999999999999697331e+199L, 0.000000000000000000000e+00L},
    {"Abs", "SDX", 0x1.5af1d8p+66L, 0.0L, 0.0L, 0.0L, 1.000000020040877342720e+20L, 0.000000000000000000000e+00L},
    {"Abs", "DX", 0x1.cfbe97bba6e07p-564L, -0x1.3529ba7d19eafp-563L, 0.0L, 0.0L, 5.000000000000000027045e-170L, 0.000000000000000000000e+00L},
    {"Abs", "SDX", 0x1p-70L, 0x1p-71L, 0.0L, 0.0L, 9.470116246213047016439e-22L, 0.000000000000000000000e+00L},
    {"Abs", "X", 0x1.a3750647fcab18c2p+13287L, 0x1.a3750647fcab18c2p+13287L, 0.0L, 0.0L, 1.414213562373095048797e+4000L, 0.000000000000000000000e+00L},
    {"Sqrt", "DX", 0x1.4e718d7d7625ap+664L, 0.0L, 0.0L, 0.0L, 9.999999999999999848666e+99L, 0.000000000000000000000e+00L},
    {"Sqrt", "DX", -0x1.7e43c8800759cp+996L, 0x1.7e43c8800759cp+996L, 0.0L, 0.0L, 4.550898605622273532515e+149L, 1.098684113467809994883e+150L},
    {"Sqrt", "DX", 0x1p-1062L, 0x1p-1061L, 0.0L, 0.0L, 1.809531395503576626789e-160L, 1.118351906131239002070e-160L},
    {"Sqrt", "SDX", 0x1p-140L, -0x1p-141L, 0.0L, 0.0L, 8.716693355915915199868e-22L, -2.057732171016924609381e-22L},
    {"Logn", "DX", 0x1.3529ba7d19eafp-565L, 0.0L, 0.0L, 0.0L, -3.914394658089877662997e+02L, 0.000000000000000000000e+00L},
    {"Logn", "DX", 0x1.ab36d48e1acfp+1023L, 0x1.ab36d48e1acfp+1023L, 0.0L, 0.0L, 7.099482473405542077252e+02L, 7.853981633974483096157e-01L},
    {"Logn", "SDX", 0x1p-130L, -0x1p-129L, 0.0L, 0.0L, -8.930441451657584003694e+01L, -1.107148717794090503017e+00L},
    {"Logn", "X", 0x1.7769bead75ec52e4p-16278L, 0x1.7769bead75ec52e4p-16278L, 0.0L, 0.0L, -1.128232038208054387903e+04L, 7.853981633974483096157e-01L},
    {"Log10", "DX", 0x1.87e92154ef7acp-665L, 0x1.87e92154ef7acp-665L, 0.0L, 0.0L, -1.998494850021680094102e+02L, 3.410940884604603368714e-01L},
    {"Log2", "DX", 0x1.7e43c8800759cp+996L, -0x1.7e43c8800759cp+996L, 0.0L, 0.0L, 9.970784284662087044368e+02L, -1.133090035456798452407e+00L},
    {"Log2", "SDX", 0x1p+100L, 0x1p+100L, 0.0L, 0.0L, 1.005000000000000000000e+02L, 1.133090035456798452407e+00L},
    {"Sign", "DXn", -0x1.8ee4fc157dc39p-576L, -0.0L, 0.0L, 0.0L, -1.000000000000000000000e+00L, -0.000000000000000000000e+00L},
    {"Recip", "DX", 0x1.87e92154ef7acp-665L, 0x1.87e92154ef7acp-665L, 0.0L, 0.0L, 5.000000000000000089499e+199L, -5.000000000000000089499e+199L},
    {"Recip", "SDX", 0x1p-100L, 0.0L, 0.0L, 0.0L, 1.267650600228229401497e+30L, 0.000000000000000000000e+00L},
    {"Recip", "X", 0x0.00004p-16382L, 0x0.00004p-16382L, 0.0L, 0.0L, kInf, -kInf},
    {"Div", "DX", 0x1.7e43c8800759cp+996L, 0x1.7e43c8800759cp+996L, 0x1.7e43c8800759cp+996L, 0x1.7e43c8800759cp+996L, 1.000000000000000000000e+00L, 0.000000000000000000000e+00L},
    {"Div", "SDX", 0x1p+100L, 0x1p+100L, 0x1p+100L, -0x1p+100L, 0.000000000000000000000e+00L, 1.000000000000000000000e+00L},
    {"Div", "DX", 0x1.3529ba7d19eafp-565L, 0.0L, 0x1.67e9c127b6e74p-532L, 0x1.a2fe76a3f9475p-499L, 9.999999999999999593814e-31L, -9.999999999999999770401e-21L},
    {"Lognp1", "SDX", 0x1p-66L, 0.0L, 0.0L, 0.0L, 1.355252715606880542500e-20L, 0.000000000000000000000e+00L},
    {"Lognp1", "DX", -0x1.b7cdfd9d7bdbbp-34L, 0x1.49da7e361ce4cp-32L, 0.0L, 0.0L, -9.999999996000000363455e-11L, 3.000000000299999979990e-10L},
    {"Expm1", "SDX", 0x1p-66L, 0x1p-66L, 0.0L, 0.0L, 1.355252715606880542509e-20L, 1.355252715606880542528e-20L},
    {"Tan", "SDX", 0x1p+0L, 0x1.9p+8L, 0.0L, 0.0L, 6.670377842624176429984e-348L, 1.000000000000000000000e+00L},
    {"Tanh", "SDX", -0x1.9p+8L, 0x1p+0L, 0.0L, 0.0L, -1.000000000000000000000e+00L, 6.670377842624176429984e-348L},
    {"Sinh", "D", 0x1.f4p+9L, 0.0L, 0.0L, 0.0L, kInf, 0.000000000000000000000e+00L},
    {"Sinh", "X", 0x1.77p+13L, 0.0L, 0.0L, 0.0L, kInf, 0.000000000000000000000e+00L},
    {"Acos", "DX", -0x1.d4bc1224p+39L, -0x1p+1L, 0.0L, 0.0L, 3.141592653587806351914e+00L, 2.833074661184861608461e+01L},
    {"Acos", "SDX", -0x1p+40L, -0x1p+1L, 0.0L, 0.0L, 3.141592653587974249059e+00L, 2.841903440295775768611e+01L},
    {"Asin", "DX", 0x1.dcd65p+29L, 0x1p+0L, 0.0L, 0.0L, 1.570796325794896619231e+00L, 2.141641301750635646583e+01L},
    {"Asin", "SDX", 0x1p+30L, 0x1p+0L, 0.0L, 0.0L, 1.570796325863574044616e+00L, 2.148756259735830459215e+01L},
    {"Asin", "SDX", 0.0L, 0x1p-66L, 0.0L, 0.0L, 0.000000000000000000000e+00L, 1.355252715606880542509e-20L},
    {"Asin", "SDX", 0x1p-10L, -0x1p-9L, 0.0L, 0.0L, 9.765607925780110213599e-04L, -1.953124689556610496857e-03L},
    {"Asin", "DX", -0x1.4e718d7d7625ap+664L, 0x1.4e718d7d7625ap+664L, 0.0L, 0.0L, -7.853981633974483096157e-01L, 4.615567393696490547375e+02L},
    {"Asin", "SDX", -0x1p+100L, 0x1p+100L, 0.0L, 0.0L, -7.853981633974483096157e-01L, 7.035443882683444890585e+01L},
    {"Asin", "SDX", -0x1.4p+3L, 0x1p-17L, 0.0L, 0.0L, -1.570795560011895475576e+00L, 2.993222846126676357005e+00L},
    {"Asinh", "SDX", 0x1p-66L, 0x1p-66L, 0.0L, 0.0L, 1.355252715606880542509e-20L, 1.355252715606880542509e-20L},
    {"Asinh", "DX", -0x1.2eec2eb3869afp+101L, 0x1.08b2a2c280291p+84L, 0.0L, 0.0L, -7.086931225907164766963e+01L, 6.666666666567902331486e-06L},
    {"Acosh", "DX", 0x1.d1a94a2p+39L, -0x1.8p+1L, 0.0L, 0.0L, 2.832416829648849351763e+01L, -3.000000000000000000000e-12L},
    {"Acosh", "DX", -0x1.7e43c8800759cp+997L, 0x1.7e43c8800759cp+996L, 0.0L, 0.0L, 6.922733940349907007546e+02L, 2.677945044588987122248e+00L},
    {"Acosh", "SDX", 0x1p-10L, 0x1p-9L, 0.0L, 0.0L, 1.953124689556610496857e-03L, 1.569819766002318608210e+00L},
    {"Atan", "SDX", 0x1p-66L, -0x1p-66L, 0.0L, 0.0L, 1.355252715606880542509e-20L, -1.355252715606880542509e-20L},
    {"Atan", "DX", 0x1.2a05f2p+33L, 0x1.2a05f2p+33L, 0.0L, 0.0L, 1.570796326744896619231e+00L, 4.999999999999999999992e-11L},
    {"Atan", "SDX", 0.0L, 0x1.9p+5L, 0.0L, 0.0L, 1.570796326794896619231e+00L, 2.000266730684958071704e-02L},
    {"Atanh", "SDX", 0x1p-66L, 0x1p-65L, 0.0L, 0.0L, 1.355252715606880542509e-20L, 2.710505431213761085019e-20L},
    {"Atanh", "DX", 0x1.4e718d7d7625ap+664L, -0x1.1f48eaf234ad4p+631L, 0.0L, 0.0L, 1.000000000000000030257e-200L, -1.570796326794896619231e+00L},
    {"Atanh", "SDX", 0x1.4p+5L, 0.0L, 0.0L, 0.0L, 2.500521028733068820902e-02L, -1.570796326794896619231e+00L},
    {"fAsinh", "DX", 0x1.56e1fc2f8f359p-997L, 0.0L, 0.0L, 0.0L, 1.000000000000000025059e-300L, 0.000000000000000000000e+00L},
    {"fAsinh", "SDX", -0x1p-100L, 0.0L, 0.0L, 0.0L, -7.888609052210118054117e-31L, 0.000000000000000000000e+00L},
    {"fAsinh", "SDX", 0x1.3p-2L, 0.0L, 0.0L, 0.0L, 2.926785565755641248258e-01L, 0.000000000000000000000e+00L},
    {"fAsinh", "DX", 0x1.4e718d7d7625ap+664L, 0.0L, 0.0L, 0.0L, 4.612101657793690820827e+02L, 0.000000000000000000000e+00L},
    {"fAsinh", "X", -0x1.a3750647fcab18c2p+13287L, 0.0L, 0.0L, 0.0L, -9.211033519156742681381e+03L, 0.000000000000000000000e+00L},
    {"fAtanh", "DX", 0x1.79ca10c924223p-67L, 0.0L, 0.0L, 0.0L, 9.999999999999999451533e-21L, 0.000000000000000000000e+00L},
    {"fAtanh", "SDX", 0x1p-70L, 0.0L, 0.0L, 0.0L, 8.470329472543003390683e-22L, 0.000000000000000000000e+00L},
    {"fAtanh", "SDX", -0x1p-2L, 0.0L, 0.0L, 0.0L, -2.554128118829953416028e-01L, 0.000000000000000000000e+00L},
    {"fAcosh", "DX", 0x1.4e718d7d7625ap+664L, 0.0L, 0.0L, 0.0L, 4.612101657793690820827e+02L, 0.000000000000000000000e+00L},
    {"fAcosh", "SDX", 0x1.00001p+0L, 0.0L, 0.0L, 0.0L, 1.381067822247581187856e-03L, 0.000000000000000000000e+00L},
    {"fAcosh", "X", 0x1.a3750647fcab18c2p+13287L, 0.0L, 0.0L, 0.0L, 9.211033519156742681381e+03L, 0.000000000000000000000e+00L},
    {"fiScale", "DX", 0x1p-1074L, 0x1.13p+10L, 0.0L, 0.0L, 6.710886400000000000000e+07L, 0.000000000000000000000e+00L},
    {"fiScale", "DX", 0x1.7e43c8800759cp+996L, -0x1.13p+10L, 0.0L, 0.0L, 7.362151829022863061985e-32L, 0.000000000000000000000e+00L},
    {"fiScale", "X", 0x0.0000000000000002p-16382L, 0x1.388p+14L, 0.0L, 0.0L, 1.450890327516261092657e+1070L, 0.000000000000000000000e+00L},
    {"fiScale", "X", 0x1.a3750647fcab18c2p+13287L, -0x1.388p+14L, 0.0L, 0.0L, 2.512388057698744585171e-2021L, 0.000000000000000000000e+00L},
};

// The distance of got from ref in units of the last place of M at ref.
template <class M>
long double UlpsIn(floatExt got, floatExt ref) {
  if (std::isinf(ref) || std::isinf(got) || got != got) return got == ref ? 0 : 1e30L;
  constexpr int p = sizeof(M) == 4 ? 24 : sizeof(M) == 8 ? 53 : 64;
  constexpr int emin = sizeof(M) == 4 ? -126 : sizeof(M) == 8 ? -1022 : -16382;
  int e = ref == 0 ? emin : std::max(std::ilogb(ref), emin);
  return std::fabs(got - ref) / std::ldexp(1.0L, e - (p - 1));
}

template <class M>
CL Result(const EdgeCase& c) {
  const std::string op = c.op;
  if (op == "Abs") {
    typename CForm<M>::Type z = CMem<M>(CL(c.a, c.b));
    M r = Mem<M>(0);
    if constexpr (std::is_same_v<M, float32>) RTcAbsS(&z, &r);
    else if constexpr (std::is_same_v<M, float64>) RTcAbsD(&z, &r);
    else RTcAbsX(&z, &r);
    return {Num(r), 0};
  }
  if (op == "fiScale") {
    M x = Mem<M>(c.a), r = Mem<M>(0);
    int32 n = int32(c.b);
    if constexpr (std::is_same_v<M, float32>) RTfiScaleS(&x, &n, &r);
    else if constexpr (std::is_same_v<M, float64>) RTfiScaleD(&x, &n, &r);
    else RTfiScaleX(&x, &n, &r);
    return {Num(r), 0};
  }
  if (op[0] == 'f') return {CallUnary<M>(op.substr(1), c.a), 0};
  if (op == "Div") return CallC2<M>(op, CL(c.a, c.b), CL(c.c, c.d));
  return CallC<M>(op, CL(c.a, c.b));
}

// Single and double results are worked in extended precision where they
// are mended and hold their last place; extended results, worked in their
// own precision, within a few.
template <class M>
void CheckEdgeCase(const EdgeCase& c, long double tolerance) {
  CL got = Result<M>(c);
  floatExt scale = 0;
  if (std::string(c.precisions).find('n') != std::string::npos) scale = std::max(std::fabs(c.re), std::fabs(c.im));
  floatExt re = scale ? scale + std::fabs(got.real() - c.re) : got.real(), im = scale ? scale + std::fabs(got.imag() - c.im) : got.imag();
  EXPECT_LE(UlpsIn<M>(re, scale ? scale : c.re), tolerance)
      << c.op << Letter(M()) << "(" << double(c.a) << ", " << double(c.b) << ") re " << double(got.real());
  EXPECT_LE(UlpsIn<M>(im, scale ? scale : c.im), tolerance)
      << c.op << Letter(M()) << "(" << double(c.a) << ", " << double(c.b) << ") im " << double(got.imag());
}

TEST_F(RTMathTest, EdgeOperandsKeepRangeAndDigits) {
  for (const EdgeCase& c : kEdgeCases) {
    const std::string p = c.precisions;
    if (p.find('S') != std::string::npos) CheckEdgeCase<float32>(c, 1);
    if (p.find('D') != std::string::npos) CheckEdgeCase<float64>(c, 1);
    if (p.find('X') != std::string::npos) CheckEdgeCase<ExtFloat>(c, 3);
  }
}

// On the branch cuts and on the axes the inverse functions' mended forms for
// large operands take the side the formula takes at |z| = 2: each part of
// the result has the sign it has there (where that part is not about 0).
// The side is read from the double member: in single and extended the
// rounded pi/2 lies beyond pi/2, and the formula's Acos of a real below -1
// picks up an angle of -pi instead of pi from the noise of cos(pi/2).
template <class M>
void CheckLargeOperandsKeepTheirBranches(std::initializer_list<floatExt> magnitudes) {
  for (const char* op : {"Asin", "Acos", "Asinh", "Acosh", "Atan", "Atanh"}) {
    for (CL unit : {CL(1, 0), CL(-1, 0), CL(0, 1), CL(0, -1)}) {
      for (floatExt zero : {0.0L, -0.0L}) {
        auto at = [&](floatExt m) {
          return CL(unit.real() ? unit.real() * m : zero, unit.imag() ? unit.imag() * m : zero);
        };
        CL near = CallC<float64>(op, at(2));
        for (floatExt m : magnitudes) {
          CL far = CallC<M>(op, at(m));
          SCOPED_TRACE(std::string(op) + Letter(M()) + " (" + std::to_string(double(at(m).real())) + ", " +
                       std::to_string(double(at(m).imag())) + ")");
          EXPECT_TRUE(std::isfinite(far.real()) && std::isfinite(far.imag()));
          if (std::fabs(near.real()) > 1e-6L) {
            EXPECT_EQ(std::signbit(far.real()), std::signbit(near.real()));
          }
          if (std::fabs(near.imag()) > 1e-6L) {
            EXPECT_EQ(std::signbit(far.imag()), std::signbit(near.imag()));
          }
        }
      }
    }
  }
}

TEST_F(RTMathTest, LargeOperandsKeepTheFormulasBranches) {
  CheckLargeOperandsKeepTheirBranches<float32>({1e30L});
  CheckLargeOperandsKeepTheirBranches<float64>({1e30L, 1e300L});
  CheckLargeOperandsKeepTheirBranches<ExtFloat>({1e4000L});
}

}  // namespace
