// The real and integer numeric functions that compiled diagrams call.
//
// A real member is named RTf, the operation and a precision letter:
//   S  single (4 bytes): operands widened to double, the work done in double
//      and the result rounded once to single when stored; QRem, Mod, Rem and
//      GetMantExp round inside their steps where noted below.
//   D  double (8 bytes).
//   X  ExtFloat (10 bytes): the work done in the processor's extended
//      precision; Abs, Neg, EQ, NE and the zero tests work on the bits.
//
// Every operand and result is passed by address, cdecl.  All inputs are read
// before any output is written, so an output may be the same object as an
// input.  The members never trap, keep no state and take no locks; NaN is
// the double whose 64 bits are all set (all 32 bits in single), as the
// managers' start-up makes it.
//
// Comparison rule, followed by every test below and every test inside a
// member: a pair with a NaN on either side is both less and equal (EQ 1,
// NE 0, LT 1, LE 1, GT 0, GE 0; as zero tests EQ0 1, NE0 0, LT0 1, LE0 1,
// GT0 0, GE0 0); minus zero equals zero.
//
// Operations (x and y the operands):
//   Add Sub Mul Div     x+y, x-y, x*y, x/y
//   Logx                log(y) / log(x): the logarithm of y to the base x
//   Powx                x to the power y
//   Atan2               atan2(y, x)
//   iScale              x * 2^n, rounded once (ldexp), for every n
//   QRem                quotient floor(x / y), the division rounded to the
//                       operand's precision first; remainder x - q*y
//   Mod, Rem            the remainder of QRem
//   Abs Neg Sqrt Recip  |x|, -x, square root, 1/x
//   Ceil Floor Inc Dec  ceiling, floor, x+1, x-1
//   Round               to the nearest integer, halves to even; a zero
//                       result is +0
//   Logn                natural logarithm; 0 and NaN give -infinity, values
//                       below 0 NaN
//   Log10, Log2         log10(x), log(x) / log(2)
//   Lognp1              ln(1 + x) by LogOnePlus's steps
//   Exp Expm1           e^x, e^x - 1
//   Pow10 Pow2          10^x, 2^x
//   Sin Cos Tan         and Sec, Csc, Cot: 1/cos, 1/sin, 1/tan
//   Asin Acos Atan Sinh Cosh Tanh
//   Asinh               x >= 0: log(sqrt(x*x+1) + x), else -log(sqrt(x*x+1) - x)
//   Acosh               log(sqrt(x*x-1) + x)
//   Atanh               log((1+x) / (1-x)) / 2
//                       (these three by ln(1 + u) of the small u near 0 and
//                       near 1, where the logarithm's argument would round
//                       their digits away, and by ln|x| + ln 2 where x*x
//                       overflows)
//   Sinc                sin(x)/x; 0 and NaN give exactly 1
//   Sign                -1, 0 or 1; NaN gives NaN
//   SinCos              the sine and the cosine
//   MaxMin              maximum: x when x >= y, y when y > x, else NaN;
//                       minimum: x when x <= y, else y
//   GetMantExp          x = m * 2^e with 1 <= |m| < 2, e in x's precision;
//                       0 and NaN give m = e = x, infinities m = x, e = +inf
//   IsNan               the number is a NaN
//
// X bits: Abs clears and Neg flips bit 15 of the sign-and-exponent word;
// EQ0X and NE0X test that word against 0 (the significand is not looked at,
// so a denormal is zero), GE0X and LT0X its sign bit, GT0X and LE0X the word
// as a signed 16-bit value; EQX and NEX compare all 10 bytes.
#pragma once
#include "mgsource/extcode.h"

// An extended real as it lies in memory: the 64-bit significand with its
// explicit leading bit (low word first), then the sign (bit 15) and the
// 15-bit biased exponent.  Only these 10 bytes are read or written.
struct __attribute__((packed, aligned(2))) ExtFloat {
  uInt32 mantLo;
  uInt32 mantHi;
  uInt16 signExp;
};
static_assert(sizeof(ExtFloat) == 10 && alignof(ExtFloat) == 2, "ExtFloat size");
static_assert(offsetof(ExtFloat, mantHi) == 4 && offsetof(ExtFloat, signExp) == 8, "ExtFloat layout");

// Unary: (x, result).
QX_EXTERN_C void RTfAbsS(const float32* x, float32* result);
QX_EXTERN_C void RTfAbsD(const float64* x, float64* result);
QX_EXTERN_C void RTfAbsX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfRoundS(const float32* x, float32* result);
QX_EXTERN_C void RTfRoundD(const float64* x, float64* result);
QX_EXTERN_C void RTfRoundX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfNegS(const float32* x, float32* result);
QX_EXTERN_C void RTfNegD(const float64* x, float64* result);
QX_EXTERN_C void RTfNegX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSqrtS(const float32* x, float32* result);
QX_EXTERN_C void RTfSqrtD(const float64* x, float64* result);
QX_EXTERN_C void RTfSqrtX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfLognS(const float32* x, float32* result);
QX_EXTERN_C void RTfLognD(const float64* x, float64* result);
QX_EXTERN_C void RTfLognX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfLog10S(const float32* x, float32* result);
QX_EXTERN_C void RTfLog10D(const float64* x, float64* result);
QX_EXTERN_C void RTfLog10X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfLog2S(const float32* x, float32* result);
QX_EXTERN_C void RTfLog2D(const float64* x, float64* result);
QX_EXTERN_C void RTfLog2X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfLognp1S(const float32* x, float32* result);
QX_EXTERN_C void RTfLognp1D(const float64* x, float64* result);
QX_EXTERN_C void RTfLognp1X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfExpS(const float32* x, float32* result);
QX_EXTERN_C void RTfExpD(const float64* x, float64* result);
QX_EXTERN_C void RTfExpX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfExpm1S(const float32* x, float32* result);
QX_EXTERN_C void RTfExpm1D(const float64* x, float64* result);
QX_EXTERN_C void RTfExpm1X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfPow10S(const float32* x, float32* result);
QX_EXTERN_C void RTfPow10D(const float64* x, float64* result);
QX_EXTERN_C void RTfPow10X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfPow2S(const float32* x, float32* result);
QX_EXTERN_C void RTfPow2D(const float64* x, float64* result);
QX_EXTERN_C void RTfPow2X(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfRecipS(const float32* x, float32* result);
QX_EXTERN_C void RTfRecipD(const float64* x, float64* result);
QX_EXTERN_C void RTfRecipX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfCeilS(const float32* x, float32* result);
QX_EXTERN_C void RTfCeilD(const float64* x, float64* result);
QX_EXTERN_C void RTfCeilX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfFloorS(const float32* x, float32* result);
QX_EXTERN_C void RTfFloorD(const float64* x, float64* result);
QX_EXTERN_C void RTfFloorX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfIncS(const float32* x, float32* result);
QX_EXTERN_C void RTfIncD(const float64* x, float64* result);
QX_EXTERN_C void RTfIncX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfDecS(const float32* x, float32* result);
QX_EXTERN_C void RTfDecD(const float64* x, float64* result);
QX_EXTERN_C void RTfDecX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSignS(const float32* x, float32* result);
QX_EXTERN_C void RTfSignD(const float64* x, float64* result);
QX_EXTERN_C void RTfSignX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSinS(const float32* x, float32* result);
QX_EXTERN_C void RTfSinD(const float64* x, float64* result);
QX_EXTERN_C void RTfSinX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfCosS(const float32* x, float32* result);
QX_EXTERN_C void RTfCosD(const float64* x, float64* result);
QX_EXTERN_C void RTfCosX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfTanS(const float32* x, float32* result);
QX_EXTERN_C void RTfTanD(const float64* x, float64* result);
QX_EXTERN_C void RTfTanX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSecS(const float32* x, float32* result);
QX_EXTERN_C void RTfSecD(const float64* x, float64* result);
QX_EXTERN_C void RTfSecX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfCscS(const float32* x, float32* result);
QX_EXTERN_C void RTfCscD(const float64* x, float64* result);
QX_EXTERN_C void RTfCscX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfCotS(const float32* x, float32* result);
QX_EXTERN_C void RTfCotD(const float64* x, float64* result);
QX_EXTERN_C void RTfCotX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAsinS(const float32* x, float32* result);
QX_EXTERN_C void RTfAsinD(const float64* x, float64* result);
QX_EXTERN_C void RTfAsinX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAcosS(const float32* x, float32* result);
QX_EXTERN_C void RTfAcosD(const float64* x, float64* result);
QX_EXTERN_C void RTfAcosX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAtanS(const float32* x, float32* result);
QX_EXTERN_C void RTfAtanD(const float64* x, float64* result);
QX_EXTERN_C void RTfAtanX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSinhS(const float32* x, float32* result);
QX_EXTERN_C void RTfSinhD(const float64* x, float64* result);
QX_EXTERN_C void RTfSinhX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfCoshS(const float32* x, float32* result);
QX_EXTERN_C void RTfCoshD(const float64* x, float64* result);
QX_EXTERN_C void RTfCoshX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfTanhS(const float32* x, float32* result);
QX_EXTERN_C void RTfTanhD(const float64* x, float64* result);
QX_EXTERN_C void RTfTanhX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAsinhS(const float32* x, float32* result);
QX_EXTERN_C void RTfAsinhD(const float64* x, float64* result);
QX_EXTERN_C void RTfAsinhX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAcoshS(const float32* x, float32* result);
QX_EXTERN_C void RTfAcoshD(const float64* x, float64* result);
QX_EXTERN_C void RTfAcoshX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfAtanhS(const float32* x, float32* result);
QX_EXTERN_C void RTfAtanhD(const float64* x, float64* result);
QX_EXTERN_C void RTfAtanhX(const ExtFloat* x, ExtFloat* result);
QX_EXTERN_C void RTfSincS(const float32* x, float32* result);
QX_EXTERN_C void RTfSincD(const float64* x, float64* result);
QX_EXTERN_C void RTfSincX(const ExtFloat* x, ExtFloat* result);

// Binary: (x, y, result).
QX_EXTERN_C void RTfAddS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfAddD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfAddX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfSubS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfSubD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfSubX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfMulS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfMulD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfMulX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfDivS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfDivD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfDivX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfLogxS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfLogxD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfLogxX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfPowxS(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfPowxD(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfPowxX(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);
QX_EXTERN_C void RTfAtan2S(const float32* x, const float32* y, float32* result);
QX_EXTERN_C void RTfAtan2D(const float64* x, const float64* y, float64* result);
QX_EXTERN_C void RTfAtan2X(const ExtFloat* x, const ExtFloat* y, ExtFloat* result);

// x times 2 to the power n.
QX_EXTERN_C void RTfiScaleS(const float32* x, const int32* n, float32* result);
QX_EXTERN_C void RTfiScaleD(const float64* x, const int32* n, float64* result);
QX_EXTERN_C void RTfiScaleX(const ExtFloat* x, const int32* n, ExtFloat* result);

// Two results; an output whose address is null is skipped.
QX_EXTERN_C void RTfQRemS(const float32* x, const float32* y, float32* quotient, float32* remainder);
QX_EXTERN_C void RTfQRemD(const float64* x, const float64* y, float64* quotient, float64* remainder);
QX_EXTERN_C void RTfQRemX(const ExtFloat* x, const ExtFloat* y, ExtFloat* quotient, ExtFloat* remainder);
QX_EXTERN_C void RTfModS(const float32* x, const float32* y, float32* remainder);
QX_EXTERN_C void RTfModD(const float64* x, const float64* y, float64* remainder);
QX_EXTERN_C void RTfModX(const ExtFloat* x, const ExtFloat* y, ExtFloat* remainder);
QX_EXTERN_C void RTfRemS(const float32* x, const float32* y, float32* remainder);
QX_EXTERN_C void RTfRemD(const float64* x, const float64* y, float64* remainder);
QX_EXTERN_C void RTfRemX(const ExtFloat* x, const ExtFloat* y, ExtFloat* remainder);
QX_EXTERN_C void RTfMaxMinS(const float32* x, const float32* y, float32* maximum, float32* minimum);
QX_EXTERN_C void RTfMaxMinD(const float64* x, const float64* y, float64* maximum, float64* minimum);
QX_EXTERN_C void RTfMaxMinX(const ExtFloat* x, const ExtFloat* y, ExtFloat* maximum, ExtFloat* minimum);
QX_EXTERN_C void RTfSinCosS(const float32* x, float32* sine, float32* cosine);
QX_EXTERN_C void RTfSinCosD(const float64* x, float64* sine, float64* cosine);
QX_EXTERN_C void RTfSinCosX(const ExtFloat* x, ExtFloat* sine, ExtFloat* cosine);
QX_EXTERN_C void RTfGetMantExpS(const float32* x, float32* mantissa, float32* exponent);
QX_EXTERN_C void RTfGetMantExpD(const float64* x, float64* mantissa, float64* exponent);
QX_EXTERN_C void RTfGetMantExpX(const ExtFloat* x, ExtFloat* mantissa, ExtFloat* exponent);

// Tests: 1 true, 0 false.
QX_EXTERN_C Bool32 RTfIsNanS(const float32* x);
QX_EXTERN_C Bool32 RTfIsNanD(const float64* x);
QX_EXTERN_C Bool32 RTfIsNanX(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfEQ0S(const float32* x);
QX_EXTERN_C Bool32 RTfEQ0D(const float64* x);
QX_EXTERN_C Bool32 RTfEQ0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfNE0S(const float32* x);
QX_EXTERN_C Bool32 RTfNE0D(const float64* x);
QX_EXTERN_C Bool32 RTfNE0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfGE0S(const float32* x);
QX_EXTERN_C Bool32 RTfGE0D(const float64* x);
QX_EXTERN_C Bool32 RTfGE0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfLE0S(const float32* x);
QX_EXTERN_C Bool32 RTfLE0D(const float64* x);
QX_EXTERN_C Bool32 RTfLE0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfGT0S(const float32* x);
QX_EXTERN_C Bool32 RTfGT0D(const float64* x);
QX_EXTERN_C Bool32 RTfGT0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfLT0S(const float32* x);
QX_EXTERN_C Bool32 RTfLT0D(const float64* x);
QX_EXTERN_C Bool32 RTfLT0X(const ExtFloat* x);
QX_EXTERN_C Bool32 RTfEQS(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfEQD(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfEQX(const ExtFloat* x, const ExtFloat* y);
QX_EXTERN_C Bool32 RTfNES(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfNED(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfNEX(const ExtFloat* x, const ExtFloat* y);
QX_EXTERN_C Bool32 RTfGES(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfGED(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfGEX(const ExtFloat* x, const ExtFloat* y);
QX_EXTERN_C Bool32 RTfLES(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfLED(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfLEX(const ExtFloat* x, const ExtFloat* y);
QX_EXTERN_C Bool32 RTfGTS(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfGTD(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfGTX(const ExtFloat* x, const ExtFloat* y);
QX_EXTERN_C Bool32 RTfLTS(const float32* x, const float32* y);
QX_EXTERN_C Bool32 RTfLTD(const float64* x, const float64* y);
QX_EXTERN_C Bool32 RTfLTX(const ExtFloat* x, const ExtFloat* y);

// Integer functions, by value.  RTiMul and RTuMul (one routine) give the low
// 32 bits of the product.  RTiDiv truncates toward zero; RTuDiv divides
// unsigned.  A divisor of 0 gives 0, and the minimum int32 divided by -1 the
// minimum int32, so no call traps.
QX_EXTERN_C int32 RTiMul(int32 a, int32 b);
QX_EXTERN_C int32 RTuMul(int32 a, int32 b);
QX_EXTERN_C int32 RTiDiv(int32 a, int32 b);
QX_EXTERN_C uInt32 RTuDiv(uInt32 a, uInt32 b);

// Conversion codes of RTStrToNum.
enum : int32 {
  kRTStrSci = 1,     // floating-point text
  kRTStrDec = 64,    // decimal integer, unsigned for unsigned numTypes
  kRTStrHex = 66,    // hexadecimal integer
  kRTStrOct = 67     // octal integer
};

// Reads a number from the characters of text starting at offset into the
// number of numType at result, and returns the offset just past what was
// used.  Code 1 reads floating-point text with the default decimal point (no
// number: NaN stored, offset unchanged); codes 64, 66 and 67 read a 32-bit
// integer (no digits: 0) that is converted to numType.  Any other code, a
// null or unknown handle, or an offset below 0 or past the character count
// reads nothing, leaves the result and returns the offset.  Nothing past the
// characters is read.  numType 0 and 15 store nothing; a code outside 0 to
// 15 is reported as ConvertNum reports it and its low four bits are used.
QX_EXTERN_C int32 RTStrToNum(LStrHandle text, int32 offset, int32 conversion, int32 numType, void* result);
