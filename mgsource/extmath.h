// Extended-precision math library.
//
// Two kinds of entry points live here:
//
// * The register routines, written in i386 assembly, work on the x87
//   register stack and are what compiled diagram code and the run-time
//   function table call.  They cannot be called from C or C++; they are
//   declared only so that their addresses can be taken.
//     - A real argument is in ST0 (PowerX: base ST0, exponent ST1); the
//       result replaces the arguments in ST0.
//     - A complex number is its real part in ST0 and its imaginary part in
//       ST1, and a complex result comes back the same way.  ComplexDivide
//       takes the divisor in ST0/ST1 and the dividend in ST2/ST3;
//       ComplexSincos returns the cosine in ST0/ST1 and the sine in ST2/ST3;
//       ComplexGetman returns the significands in ST0/ST1 and the binary
//       exponents in ST2/ST3.
//     - The memory primitives take one 32-bit pointer on the machine stack
//       (the caller removes it) and keep the value in ST0: loads push it,
//       stores leave it where it was.  Results come back in EAX.
//     - EBX, ESI, EDI and EBP are kept; EAX, ECX and EDX are not.  The
//       routines assume round-to-nearest and leave the control word alone
//       (ExtTrunc changes the rounding only while it rounds).
//     - Registers used at the deepest point, arguments included: 3 for the
//       real functions, 5 for the complex ones (6 for ComplexSincos),
//       2 for ComplexRToP and ComplexPToR, which save and restore the whole
//       floating-point state, 3 for the memory primitives, ExtToDecimal and
//       DecimalToExt; values below that depth are left alone.
//
// * C-callable entries under our own names (ExtSinh, ExtComplexSin,
//   ExtStoreNumber, ExtToDecimalRec, ...), also in assembly, which load
//   their arguments, enter the register routines and return the result.
#pragma once
#include "extcode.h"

// ---------------------------------------------------------------------------
// Register routines (x87 register-stack calling form).
QX_EXTERN_C void Sinh();
QX_EXTERN_C void Cosh();
QX_EXTERN_C void Tanh();
QX_EXTERN_C void Asinh();
QX_EXTERN_C void Acosh();
QX_EXTERN_C void Atanh();
QX_EXTERN_C void Lognp1();
QX_EXTERN_C void PowerX();
QX_EXTERN_C void F2X();
QX_EXTERN_C void Exp2M1();

QX_EXTERN_C void ComplexRToP();
QX_EXTERN_C void ComplexPToR();
QX_EXTERN_C void ComplexDivide();
QX_EXTERN_C void ComplexRecip();
QX_EXTERN_C void ComplexSin();
QX_EXTERN_C void ComplexCos();
QX_EXTERN_C void ComplexTan();
QX_EXTERN_C void ComplexCot();
QX_EXTERN_C void ComplexSinh();
QX_EXTERN_C void ComplexCosh();
QX_EXTERN_C void ComplexTanh();
QX_EXTERN_C void ComplexSincos();
QX_EXTERN_C void ComplexSinc();
QX_EXTERN_C void ComplexGetman();
QX_EXTERN_C void ComplexAsin();
QX_EXTERN_C void ComplexAcos();
QX_EXTERN_C void ComplexAsinh();
QX_EXTERN_C void ComplexAcosh();
QX_EXTERN_C void ComplexAtan();
QX_EXTERN_C void ComplexAtanh();

// Stores of ST0 (kept) to the integer type at the pointer.  They return 1
// when stored, pinned or not, and 0 for a NaN and for 64-bit values out of
// range.  8-, 16- and 32-bit targets round to nearest and saturate (a NaN
// stores the smallest value of signed types and 0 for unsigned ones).
// 64-bit targets are not pinned: what the processor stores stays (the
// integer-indefinite value, or the two's complement of a negative value in
// an unsigned target); the unsigned 64-bit store takes 2^63 <= v < 2^64 from
// the significand.
QX_EXTERN_C void ExtStoreNumI8();
QX_EXTERN_C void ExtStoreNumI16();
QX_EXTERN_C void ExtStoreNumI32();
QX_EXTERN_C void ExtStoreNumI64();
QX_EXTERN_C void ExtStoreNumU8();
QX_EXTERN_C void ExtStoreNumU16();
QX_EXTERN_C void ExtStoreNumU32();
QX_EXTERN_C void ExtStoreNumU64();
// Stores of ST0 (kept) as single, double or extended; they return 1.
QX_EXTERN_C void ExtStoreFloatSGL();
QX_EXTERN_C void ExtStoreFloatDBL();
QX_EXTERN_C void ExtStoreFloatEXT();
// Loads of every real type into ST0 (pushed).
QX_EXTERN_C void ExtLoadNumI8();
QX_EXTERN_C void ExtLoadNumI16();
QX_EXTERN_C void ExtLoadNumI32();
QX_EXTERN_C void ExtLoadNumI64();
QX_EXTERN_C void ExtLoadNumU8();
QX_EXTERN_C void ExtLoadNumU16();
QX_EXTERN_C void ExtLoadNumU32();
QX_EXTERN_C void ExtLoadNumU64();
QX_EXTERN_C void ExtLoadNumSGL();
QX_EXTERN_C void ExtLoadNumDBL();
QX_EXTERN_C void ExtLoadNumEXT();

// ExtIntClass: EAX = 0 when ST0 is not an integer (NaN and infinities
// included), 1 for a negative integer, 2 for a non-negative one.
// ExtTrunc: rounds ST0 toward zero in place.
QX_EXTERN_C void ExtIntClass();
QX_EXTERN_C void ExtTrunc();

// ExtToDecimal (int32 digits, DecimalRec* rec), value in ST0 (kept).
// DecimalToExt (const DecimalRec* rec): pushes the value, EAX = 1.
QX_EXTERN_C void ExtToDecimal();
QX_EXTERN_C void DecimalToExt();

// ---------------------------------------------------------------------------
// Ordinary C entries.

// Resets the floating-point unit: all exceptions masked, 64-bit precision,
// round to nearest, empty register stack, no exception flags.
QX_EXTERN_C void FPUReset();
// Entries of the conversion code that have nothing to do on this processor.
QX_EXTERN_C void ExtConvEnter();
QX_EXTERN_C void ExtConvLeave();

// Fills the powers-of-ten table: 1, 10, 10^2, 10^4 ... 10^4096.  It runs at
// start-up by itself; calling it again changes nothing.
QX_EXTERN_C void InitPowersOfTen();
QX_EXTERN_C const floatExt gExtPowersOfTen[14];

// The 16-byte big-endian flat form of an extended number: the sign and
// exponent word, the significand shifted left by one bit (the explicit
// integer bit dropped) unless the exponent bits are 0 (zeros and denormals,
// stored unshifted), then six zero bytes.  Any 16 bytes convert back without
// a trap; bytes 10 to 15 are ignored.  Only the 10 bytes of the native value
// are read or written.
enum { kFlatExtendedSize = 16 };
QX_EXTERN_C void ExtNativeToBE(const floatExt* native, uChar* flat);
QX_EXTERN_C void ExtBEToNative(const uChar* flat, floatExt* native);

// ---------------------------------------------------------------------------
// Decimal record: the value is digits * 10^exponent.
struct DecimalRec {
  uChar bcd[9];    // 18 packed BCD digits, the two least significant in bcd[0]
  uChar sign;      // 0x80 for negative numbers
  int16 exponent;  // decimal exponent of the last digit; kDecExpInf, kDecExpNaN
  int16 digits;    // number of significant digits held (0 for zero)
};
static_assert(sizeof(DecimalRec) == 14, "decimal record size");
static_assert(offsetof(DecimalRec, sign) == 9 && offsetof(DecimalRec, exponent) == 10 &&
                  offsetof(DecimalRec, digits) == 12,
              "decimal record layout");
enum : int16 { kDecExpInf = 0x7FFF, kDecExpNaN = 0x7FFE };
enum { kDecMaxDigits = 17, kDecRecDigits = 18 };

// x to a decimal record.  digits > 0: that many significant digits (at most
// 17), rounded to nearest.  digits <= 0: rounded to nearest at 10^digits
// (exponent == digits, the digit count follows the value), unless that needs
// more than 17 significant digits; then 17 significant digits.  Zero gives
// no digits, infinities and NaNs their marked exponents, each with its sign.
QX_EXTERN_C void ExtToDecimalRec(floatExt x, int32 digits, DecimalRec* rec);
QX_EXTERN_C void DoubleToDecimalRec(float64 x, int32 digits, DecimalRec* rec);
// A decimal record to a number, rounded once to nearest in the target
// precision (digits * 10^exponent; beyond the range: infinity or 0).
QX_EXTERN_C floatExt DecimalRecToExt(const DecimalRec* rec);
QX_EXTERN_C float64 DecimalRecToDouble(const DecimalRec* rec);
QX_EXTERN_C float32 DecimalRecToSingle(const DecimalRec* rec);

// Writes the record's significant digits as ASCII, most significant first,
// and returns their number (rec.digits, at most 18).
inline int32 DecimalRecDigitChars(const DecimalRec& rec, char* out) {
  int32 n = rec.digits;
  if (n < 0) n = 0;
  if (n > kDecRecDigits) n = kDecRecDigits;
  for (int32 i = 0; i < n; ++i) {
    int32 pos = n - 1 - i;  // BCD digit index, 0 = least significant
    uChar b = rec.bcd[pos >> 1];
    out[i] = char('0' + ((pos & 1) ? (b >> 4) : (b & 15)));
  }
  return n;
}

// Fills a record from up to 18 ASCII digits (most significant first).
inline void DecimalRecSetDigits(DecimalRec& rec, const char* digits, int32 n, bool negative,
                                int32 exponent) {
  for (uChar& b : rec.bcd) b = 0;
  if (n > kDecRecDigits) n = kDecRecDigits;
  if (n < 0) n = 0;
  for (int32 i = 0; i < n; ++i) {
    int32 pos = n - 1 - i;
    uChar d = uChar(digits[i] - '0') & 15;
    rec.bcd[pos >> 1] |= uChar((pos & 1) ? (d << 4) : d);
  }
  rec.sign = negative ? 0x80 : 0;
  rec.exponent = int16(exponent);
  rec.digits = int16(n);
}

// ---------------------------------------------------------------------------
// C-callable entries that enter the register routines.
QX_EXTERN_C floatExt ExtSinh(floatExt x);
QX_EXTERN_C floatExt ExtCosh(floatExt x);
QX_EXTERN_C floatExt ExtTanh(floatExt x);
QX_EXTERN_C floatExt ExtAsinh(floatExt x);
QX_EXTERN_C floatExt ExtAcosh(floatExt x);
QX_EXTERN_C floatExt ExtAtanh(floatExt x);
QX_EXTERN_C floatExt ExtLognp1(floatExt x);
QX_EXTERN_C floatExt ExtPowerX(floatExt x, floatExt y);  // x^y
QX_EXTERN_C floatExt ExtF2X(floatExt x);
QX_EXTERN_C floatExt ExtExp2M1(floatExt x);

struct ExtComplex {
  floatExt re;
  floatExt im;
};
static_assert(sizeof(ExtComplex) == 24 && offsetof(ExtComplex, im) == 12, "ExtComplex layout");

QX_EXTERN_C void ExtComplexRToP(const ExtComplex* z, ExtComplex* out);  // (magnitude, angle)
QX_EXTERN_C void ExtComplexPToR(const ExtComplex* polar, ExtComplex* out);  // from (r, theta)
QX_EXTERN_C void ExtComplexDivide(const ExtComplex* dividend, const ExtComplex* divisor,
                                  ExtComplex* out);
QX_EXTERN_C void ExtComplexRecip(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexSin(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexCos(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexTan(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexCot(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexSinh(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexCosh(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexTanh(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexSincos(const ExtComplex* z, ExtComplex* cosOut, ExtComplex* sinOut);
QX_EXTERN_C void ExtComplexSinc(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexGetman(const ExtComplex* z, ExtComplex* mant, ExtComplex* expo);
QX_EXTERN_C void ExtComplexAsin(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexAcos(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexAsinh(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexAcosh(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexAtan(const ExtComplex* z, ExtComplex* out);
QX_EXTERN_C void ExtComplexAtanh(const ExtComplex* z, ExtComplex* out);

// Stores x to the real type numType (1 to 11) at dst through the store
// routines and returns their result (0 for any other type, nothing stored).
QX_EXTERN_C int32 ExtStoreNumber(int32 numType, void* dst, floatExt x);
// Loads the real type numType (1 to 11) at src; a NaN for any other type.
QX_EXTERN_C floatExt ExtLoadNumber(int32 numType, const void* src);
QX_EXTERN_C int32 ExtIntClassOf(floatExt x);
QX_EXTERN_C floatExt ExtTruncOf(floatExt x);
