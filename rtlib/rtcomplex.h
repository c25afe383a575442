// The complex numeric functions that compiled diagrams call.
//
// A complex number is two reals of one precision, the real part first and the
// imaginary part directly after it: ComplexS (8 bytes), ComplexD (16) and
// ComplexX (two 10-byte extended reals, 20 bytes).  A polar pair has the same
// layout, the magnitude r first and the angle in radians second.
//
// The members follow the conventions of the real members (rtmath.h):
// operands by address, cdecl, every input read before an output is written,
// optional outputs skipped when null, the comparison rule for every test
// (a NaN part counts as equal to anything).  They are built on the real
// members of their own precision: in S every inner real function's result
// and every intermediate value is rounded to single, as the real member
// stores it; the arithmetic between them is done in double.
//
// With z = a + bi and w = c + di:
//   Add Sub             (a +- c) + (b +- d)i
//   Mul                 when b and d both equal 0: ac + 0i; else
//                       (ac - bd) + (ad + bc)i
//   Div                 ((ac + bd) + (bc - ad)i) / (c^2 + d^2), the divisor
//                       rounded to the precision first
//   Recip               (a - bi) / (a^2 + b^2), the divisor rounded first
//   Abs                 sqrt(a^2 + b^2), a real
//   RToP                a and b both equal 0: z itself; else
//                       r = sqrt(a^2 + b^2), angle atan2(b, a)
//   PToR                (r cos t, r sin t); an infinite or NaN r gives 0 for
//                       the part whose cosine or sine equals 0 and +-r for
//                       the other, never infinity times zero
//   Conj Neg            a - bi, -a - bi
//   Round Ceil Floor    the real member on each part
//   Inc Dec             (a +- 1) + bi
//   iScale              each part times 2^n
//   Sqrt Logn Log10 Log2  through polar form: (sqrt r, t/2); (ln r, t);
//                       (log10 r, t / ln 10); (log2 r, t / ln 2)
//   Lognp1              Logn((a + 1) + bi)
//   Exp Pow10 Pow2      PToR(exp a, b), (10^a, b ln 10), (2^a, b ln 2)
//   Expm1               Exp, then 1 taken from the real part
//   Logx Powx Atan2     Logn(w) / Logn(z), Exp(w Logn(z)), Atan(w / z)
//   Sign                z / |z| through polar form; 0 and NaN magnitudes
//                       give the polar pair of RToP
//   Sin Cos Sinh Cosh   by the real functions of a and b
//   Tan Tanh            by the double-angle formulas
//   Sec Csc Cot         Recip of Cos, Sin, Tan
//   Asin Acos           Im L - (Re L)i with L = ln(iz + s), ln(z + is),
//                       s = sqrt(1 - z^2)
//   Atan                a taken as +0 when it equals 0; with A = ln(1 + iz),
//                       B = ln(1 - iz): ((Im A - Im B) + (Re B - Re A)i) / 2
//   Asinh               (p + qi) = Asin(b - ai) gives -q + pi
//   Acosh               L = ln(z + sqrt(z^2 - 1)); L negated when Re L < 0;
//                       then Im L negated when Im L <= -pi, or when
//                       Re L < 2e-16 and Im L < 0
//   Atanh               (ln(1 + z) - ln(1 - z)) / 2
//   Sinc                a and b both equal 0: exactly 1 + 0i; else Sin(z)/z
//   IsNan EQ0 NE0 EQ NE either part NaN; both parts equal 0 (or their
//                       opposites); both parts equal (or either differs)
//
// Where these formulas overflow, underflow or cancel, the members take
// forms that hold their range and digits, and keep the formulas' results
// everywhere else:
//   - a sum of squares out of range (Abs, RToP, Sqrt, the logarithms, Sign,
//     Recip, Div): the member is worked on exactly scaled parts;
//   - Lognp1 and Expm1 below |z| = 1/2: ln(1 + 2a + a^2 + b^2) / 2 and
//     expm1(a) cos b - 2 sin^2(b/2) for the real part;
//   - Asin, Acos, Acosh: ln w = -ln v where w = p + q cancels and v = p - q
//     (w v = 1) does not, z scaled where z^2 would overflow, and their
//     Taylor series near 0; Atan and Atanh: their series near 0 and the
//     series of 1/z above |z| = 8; the branch cuts and the values on them
//     stay those of the formulas;
//   - Sin, Cos, Sinh, Cosh: an overflowed part times an exact zero is 0;
//     Tan, Tanh: +-1 and 2 sin 2a e^-|2b| where cosh 2b overflows.
// Single and double members work these forms in extended precision and
// round once.
//
// X members work in the processor's extended precision by the same
// formulas; ConjX and NegX flip sign bits, the X tests and SincX's zero test
// use the bit tests of the real X members, and the copies copy bytes.
#pragma once
#include "rtlib/rtmath.h"

struct ComplexS {
  float32 re;
  float32 im;
};
struct ComplexD {
  float64 re;
  float64 im;
};
// Two 10-byte extended reals back to back, no padding between or after.
struct ComplexX {
  ExtFloat re;
  ExtFloat im;
};
static_assert(sizeof(ComplexS) == 8 && offsetof(ComplexS, im) == 4, "ComplexS layout");
static_assert(sizeof(ComplexD) == 16 && offsetof(ComplexD, im) == 8, "ComplexD layout");
static_assert(sizeof(ComplexX) == 20 && offsetof(ComplexX, im) == 10 && alignof(ComplexX) == 2, "ComplexX layout");

// Unary: (z, result).
QX_EXTERN_C void RTcRecipS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcRecipD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcRecipX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcConjS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcConjD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcConjX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcRoundS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcRoundD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcRoundX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcNegS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcNegD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcNegX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSqrtS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSqrtD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSqrtX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcLognS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcLognD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcLognX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcLog10S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcLog10D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcLog10X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcLog2S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcLog2D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcLog2X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcLognp1S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcLognp1D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcLognp1X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcExpS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcExpD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcExpX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcExpm1S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcExpm1D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcExpm1X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcPow10S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcPow10D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcPow10X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcPow2S(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcPow2D(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcPow2X(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcCeilS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcCeilD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcCeilX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcFloorS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcFloorD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcFloorX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcIncS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcIncD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcIncX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcDecS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcDecD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcDecX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSignS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSignD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSignX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSinS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSinD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSinX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcCosS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcCosD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcCosX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcTanS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcTanD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcTanX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSecS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSecD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSecX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcCscS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcCscD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcCscX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcCotS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcCotD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcCotX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAsinS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAsinD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAsinX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAcosS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAcosD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAcosX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAtanS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAtanD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAtanX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSinhS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSinhD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSinhX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcCoshS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcCoshD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcCoshX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcTanhS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcTanhD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcTanhX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAsinhS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAsinhD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAsinhX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAcoshS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAcoshD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAcoshX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcAtanhS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcAtanhD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcAtanhX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcSincS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcSincD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcSincX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcRToPS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcRToPD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcRToPX(const ComplexX* z, ComplexX* result);
QX_EXTERN_C void RTcPToRS(const ComplexS* z, ComplexS* result);
QX_EXTERN_C void RTcPToRD(const ComplexD* z, ComplexD* result);
QX_EXTERN_C void RTcPToRX(const ComplexX* z, ComplexX* result);

// The magnitude, a real of the same precision.
QX_EXTERN_C void RTcAbsS(const ComplexS* z, float32* result);
QX_EXTERN_C void RTcAbsD(const ComplexD* z, float64* result);
QX_EXTERN_C void RTcAbsX(const ComplexX* z, ExtFloat* result);

// Binary: (z, w, result).
QX_EXTERN_C void RTcMulS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcMulD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcMulX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcDivS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcDivD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcDivX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcAddS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcAddD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcAddX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcSubS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcSubD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcSubX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcLogxS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcLogxD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcLogxX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcPowxS(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcPowxD(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcPowxX(const ComplexX* z, const ComplexX* w, ComplexX* result);
QX_EXTERN_C void RTcAtan2S(const ComplexS* z, const ComplexS* w, ComplexS* result);
QX_EXTERN_C void RTcAtan2D(const ComplexD* z, const ComplexD* w, ComplexD* result);
QX_EXTERN_C void RTcAtan2X(const ComplexX* z, const ComplexX* w, ComplexX* result);

// Sine and cosine; a null output is skipped.
QX_EXTERN_C void RTcSinCosS(const ComplexS* z, ComplexS* sine, ComplexS* cosine);
QX_EXTERN_C void RTcSinCosD(const ComplexD* z, ComplexD* sine, ComplexD* cosine);
QX_EXTERN_C void RTcSinCosX(const ComplexX* z, ComplexX* sine, ComplexX* cosine);

// Each part times 2 to the power n.
QX_EXTERN_C void RTciScaleS(const ComplexS* z, const int32* n, ComplexS* result);
QX_EXTERN_C void RTciScaleD(const ComplexD* z, const int32* n, ComplexD* result);
QX_EXTERN_C void RTciScaleX(const ComplexX* z, const int32* n, ComplexX* result);

// Tests: 1 true, 0 false.
QX_EXTERN_C Bool32 RTcIsNanS(const ComplexS* z);
QX_EXTERN_C Bool32 RTcIsNanD(const ComplexD* z);
QX_EXTERN_C Bool32 RTcIsNanX(const ComplexX* z);
QX_EXTERN_C Bool32 RTcEQ0S(const ComplexS* z);
QX_EXTERN_C Bool32 RTcEQ0D(const ComplexD* z);
QX_EXTERN_C Bool32 RTcEQ0X(const ComplexX* z);
QX_EXTERN_C Bool32 RTcNE0S(const ComplexS* z);
QX_EXTERN_C Bool32 RTcNE0D(const ComplexD* z);
QX_EXTERN_C Bool32 RTcNE0X(const ComplexX* z);
QX_EXTERN_C Bool32 RTcEQS(const ComplexS* z, const ComplexS* w);
QX_EXTERN_C Bool32 RTcEQD(const ComplexD* z, const ComplexD* w);
QX_EXTERN_C Bool32 RTcEQX(const ComplexX* z, const ComplexX* w);
QX_EXTERN_C Bool32 RTcNES(const ComplexS* z, const ComplexS* w);
QX_EXTERN_C Bool32 RTcNED(const ComplexD* z, const ComplexD* w);
QX_EXTERN_C Bool32 RTcNEX(const ComplexX* z, const ComplexX* w);

// RTfcReImToC builds a complex number from its parts, RTfcRThToC from its
// polar pair; RTcfCToReIm and RTcfCToRTh split one again, skipping a null
// output.
QX_EXTERN_C void RTfcReImToCS(const float32* re, const float32* im, ComplexS* result);
QX_EXTERN_C void RTfcReImToCD(const float64* re, const float64* im, ComplexD* result);
QX_EXTERN_C void RTfcReImToCX(const ExtFloat* re, const ExtFloat* im, ComplexX* result);
QX_EXTERN_C void RTfcRThToCS(const float32* r, const float32* theta, ComplexS* result);
QX_EXTERN_C void RTfcRThToCD(const float64* r, const float64* theta, ComplexD* result);
QX_EXTERN_C void RTfcRThToCX(const ExtFloat* r, const ExtFloat* theta, ComplexX* result);
QX_EXTERN_C void RTcfCToReImS(const ComplexS* z, float32* re, float32* im);
QX_EXTERN_C void RTcfCToReImD(const ComplexD* z, float64* re, float64* im);
QX_EXTERN_C void RTcfCToReImX(const ComplexX* z, ExtFloat* re, ExtFloat* im);
QX_EXTERN_C void RTcfCToRThS(const ComplexS* z, float32* r, float32* theta);
QX_EXTERN_C void RTcfCToRThD(const ComplexD* z, float64* r, float64* theta);
QX_EXTERN_C void RTcfCToRThX(const ComplexX* z, ExtFloat* r, ExtFloat* theta);
